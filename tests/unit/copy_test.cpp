// The guarded copy on the simulated machine: results, printed bytes, the calls made and what
// is left in the file system.
#include "actions/actions.h"
#include "catalogue.h"
#include "sim_test.h"

namespace {

const uint64_t T_OLD = 0x01D5000000000000ull;
const uint64_t T_NEW = T_OLD + 10000000ull;  // one second later

const std::string WARNING = "\n" + OlderThan("C:\\pkg\\A.DLL", "C:\\dest\\A.DLL");
const char* const TRACES =
    "CopyFile source = >C:\\pkg\\A.DLL<\nCopyFile dest = >C:\\dest\\A.DLL<\n";

class CopyTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    sim::AddDirectory("C:\\dest");
  }
  // The package file and, when asked, an existing destination.
  void Arrange(uint64_t sourceTime, uint64_t destTime = 0,
               DWORD destAttributes = FILE_ATTRIBUTE_NORMAL) {
    sim::AddFile("C:\\pkg\\A.DLL", "new", sourceTime);
    if (destTime) sim::AddFile("C:\\dest\\A.DLL", "old", destTime, destAttributes);
  }
  int Copy(int autoAnswer = 0) {
    return CopyDriverFile("C:\\pkg\\", "C:\\dest\\", "A.DLL", autoAnswer);
  }
  static std::string Dest() { return sim::FileContents("C:\\dest\\A.DLL"); }
};

TEST_F(CopyTest, MissingSourceTouchesNothingAndTracesTwice) {
  sim::AddFile("C:\\dest\\A.DLL", "old", T_NEW, FILE_ATTRIBUTE_READONLY);
  DebugTrace = 1;
  EXPECT_EQ(Copy(), COPY_FAILED);
  EXPECT_EQ(Out(), std::string(TRACES) + TRACES);
  EXPECT_EQ(sim::FileAttributes("C:\\dest\\A.DLL"), (DWORD)FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Dest(), "old");
  EXPECT_EQ(sim::CountCalls("SetFileAttributesA"), 0);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST_F(CopyTest, TracesNeedBothDebugAndMessages) {
  DebugTrace = 1;
  ShowMessages = 0;
  EXPECT_EQ(Copy(), COPY_FAILED);
  EXPECT_EQ(Out(), "");
  DebugTrace = 0;
  ShowMessages = 1;
  EXPECT_EQ(Copy(), COPY_FAILED);
  EXPECT_EQ(Out(), "");
}

TEST_F(CopyTest, AbsentDestinationIsCopiedWithoutDateTest) {
  Arrange(T_OLD);
  DebugTrace = 1;
  EXPECT_EQ(Copy(), COPY_OK);
  EXPECT_EQ(Out(), TRACES);  // once: the source was found
  EXPECT_EQ(Dest(), "new");
  EXPECT_EQ(sim::FileTime("C:\\dest\\A.DLL"), T_OLD);  // the source's time is kept
  EXPECT_EQ(sim::CountCalls("CompareFileTime"), 0);
  EXPECT_EQ(ReadOnce(), std::vector<std::string>{"C:\\pkg\\A.DLL"});
  EXPECT_EQ(Written(), std::vector<std::string>{"C:\\dest\\A.DLL"});
  EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST_F(CopyTest, NewerDestinationAnsweredNoIsKeptButNoLongerReadOnly) {
  Arrange(T_OLD, T_NEW, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  sim::SetStdin("  No thanks\n");
  EXPECT_EQ(Copy(), COPY_OK);
  EXPECT_EQ(Out(), std::string(WARNING) + kPrompt);
  EXPECT_EQ(Dest(), "old");
  EXPECT_EQ(sim::FileTime("C:\\dest\\A.DLL"), T_NEW);
  EXPECT_EQ(sim::FileAttributes("C:\\dest\\A.DLL"), (DWORD)FILE_ATTRIBUTE_NORMAL);
  EXPECT_TRUE(Written().empty());
  auto attrs = sim::CallsTo("SetFileAttributesA");
  ASSERT_EQ(attrs.size(), 1u);
  EXPECT_EQ(attrs[0].args, (std::vector<std::string>{"C:\\dest\\A.DLL", "0x80"}));
}

TEST_F(CopyTest, NewerDestinationAnsweredYesOrCancelIsCopied) {
  for (const char* answer : {"y\n", "YES\n", "cancel\n"}) {
    sim::Reset();
    sim::AddDirectory("C:\\dest");
    Arrange(T_OLD, T_NEW);
    sim::SetStdin(answer);
    EXPECT_EQ(Copy(), COPY_OK) << answer;
    EXPECT_EQ(Out(), std::string(WARNING) + kPrompt) << answer;
    EXPECT_EQ(Dest(), "new") << answer;
    EXPECT_EQ(sim::FileTime("C:\\dest\\A.DLL"), T_OLD) << answer;
  }
}

TEST_F(CopyTest, PromptRepeatsUntilAnAnswerIsAccepted) {
  Arrange(T_OLD, T_NEW);
  sim::SetStdin("\nmaybe\nn\n");
  EXPECT_EQ(Copy(), COPY_OK);
  EXPECT_EQ(Out(), std::string(WARNING) + kPrompt + kPrompt + kPrompt);
  EXPECT_EQ(Dest(), "old");
}

TEST_F(CopyTest, AutomaticAnswerWarnsWithoutPromptAndCopies) {
  Arrange(T_OLD, T_NEW);
  sim::SetStdin("n\n");  // not read
  EXPECT_EQ(Copy(1), COPY_OK);
  EXPECT_EQ(Out(), WARNING);
  EXPECT_EQ(Dest(), "new");
  EXPECT_EQ(sim::M().console.inPos, 0u);
}

TEST_F(CopyTest, MessagesOffCopiesSilentlyWithOrWithoutAutomaticAnswer) {
  ShowMessages = 0;
  for (int autoAnswer : {0, 1}) {
    Arrange(T_OLD, T_NEW);
    sim::SetStdin("n\n");
    EXPECT_EQ(Copy(autoAnswer), COPY_OK);
    EXPECT_EQ(Dest(), "new");
    EXPECT_EQ(sim::M().console.inPos, 0u);
  }
  EXPECT_EQ(Out(), "");
}

TEST_F(CopyTest, EqualOrOlderDestinationIsReplacedWithoutAsking) {
  for (uint64_t destTime : {T_OLD, T_OLD - 1}) {
    Arrange(T_OLD, destTime, FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Copy(), COPY_OK);
    EXPECT_EQ(Dest(), "new");
    EXPECT_EQ(sim::FileTime("C:\\dest\\A.DLL"), T_OLD);
  }
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(sim::CountCalls("CompareFileTime"), 2);
  // Copied once, the file compares equal afterwards: a second copy asks nothing.
  sim::AddFile("C:\\pkg\\A.DLL", "newer still", T_OLD);
  EXPECT_EQ(Copy(), COPY_OK);
  EXPECT_EQ(Out(), "");
}

TEST_F(CopyTest, DestinationInUseIsReplacedAtRestartByACopyBesideIt) {
  Arrange(T_OLD, T_NEW);
  sim::HoldOpen("C:\\dest\\A.DLL");
  DebugTrace = 1;
  Unattended = 1;
  EXPECT_EQ(Copy(1), COPY_PENDING_REBOOT);
  EXPECT_EQ(Out(), std::string(TRACES) + WARNING +
                       "CopyFile error on source file = >C:\\pkg\\A.DLL<, err = 20, 20, 21\n");
  auto temp = sim::CallsTo("GetTempFileNameA");
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_EQ(temp[0].args[0], "C:\\dest\\");
  auto copies = Written();
  ASSERT_EQ(copies.size(), 1u);  // the copy beside it: the destination held is not written
  const std::string copy = copies[0];
  EXPECT_EQ(ReadOnce(), std::vector<std::string>{"C:\\pkg\\A.DLL"});
  EXPECT_EQ(copy.rfind("C:\\dest\\", 0), 0u);
  EXPECT_EQ(sim::FileTime(copy), T_OLD);
  auto move = sim::CallsTo("MoveFileExA");
  ASSERT_EQ(move.size(), 1u);
  EXPECT_EQ(move[0].args, (std::vector<std::string>{copy, "C:\\dest\\A.DLL", "0x5"}));
  ASSERT_EQ(sim::PendingMoves().size(), 1u);
  EXPECT_EQ(sim::PendingMoves()[0].dest, "C:\\dest\\A.DLL");
  EXPECT_TRUE(sim::PendingMoves()[0].replace);
  EXPECT_EQ(Dest(), "old");
  EXPECT_EQ(sim::FileContents(copy), "new");
  sim::ApplyPendingMoves();
  EXPECT_EQ(Dest(), "new");
  EXPECT_EQ(sim::FileContents("C:\\pkg\\A.DLL"), "new");  // the source stays
  EXPECT_FALSE(sim::FileExists(copy));
}

TEST_F(CopyTest, LockedDestinationIsAlsoReplacedAtRestart) {
  Arrange(T_NEW, T_OLD);
  sim::HoldOpen("C:\\dest\\A.DLL", true);
  DebugTrace = 1;
  EXPECT_EQ(Copy(), COPY_PENDING_REBOOT);
  // The holder's lock stops no open; the replacement of the file it holds is refused (32).
  EXPECT_EQ(Out(), std::string(TRACES) +
                       "CopyFile error on source file = >C:\\pkg\\A.DLL<, err = 20, 20, 21\n");
  EXPECT_EQ(sim::PendingMoves().size(), 1u);
}

// A restart replacement that cannot be arranged fails and leaves no copy behind.
TEST_F(CopyTest, FailedRestartReplacementGivesCopyFailedAndLeavesNoCopy) {
  struct Case {
    const char* op;
    int skip;  // matching calls that go through first
    bool refuse;
  } cases[] = {
      {"GetTempFileNameA", 0, false},
      {"WriteFile", 0, false},  // the copy beside the destination
      {"SetFileInformationByHandle", 0, false},
      {"MoveFileExA", 0, false},
      {"", 0, true},            // Windows refuses delayed moves
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refuse ? "refused" : c.op);
    sim::Reset();
    sim::AddDirectory("C:\\dest");
    Arrange(T_NEW, T_OLD);
    sim::HoldOpen("C:\\dest\\A.DLL");
    if (c.refuse) sim::RefuseDelayedMoves();
    else sim::InjectFault(c.op, ERROR_NOT_ENOUGH_MEMORY, "", 1, c.skip);
    EXPECT_EQ(Copy(), COPY_FAILED);
    EXPECT_TRUE(sim::PendingMoves().empty());
    EXPECT_EQ(Dest(), "old");
    EXPECT_EQ(sim::FileContents("C:\\pkg\\A.DLL"), "new");
    int inDest = 0;
    for (auto& kv : sim::M().files.entries)
      if (kv.first.rfind("c:\\dest\\", 0) == 0) inDest++;
    EXPECT_EQ(inDest, 1);
    // Only the copy beside it is deleted, when one was made.
    int made = sim::CountCalls("GetTempFileNameA") - (strcmp(c.op, "GetTempFileNameA") ? 0 : 1);
    EXPECT_EQ(sim::CountCalls("DeleteFileA") > 0, made > 0);
    for (const sim::CallRecord& del : sim::CallsTo("DeleteFileA"))
      EXPECT_EQ(del.args[0].rfind("C:\\dest\\tvx", 0), 0u) << del.args[0];
  }
}

TEST_F(CopyTest, OtherCopyErrorsFailWithoutMove) {
  Arrange(T_NEW, T_OLD);
  sim::DenyAccess("C:\\dest\\A.DLL");
  DebugTrace = 1;
  EXPECT_EQ(Copy(), COPY_FAILED);
  EXPECT_EQ(Out(), std::string(TRACES) +
                       "CopyFile error on source file = >C:\\pkg\\A.DLL<, err = 5, 20, 21\n");
  EXPECT_EQ(sim::CountCalls("MoveFileExA"), 0);
  EXPECT_EQ(Dest(), "old");
  // No destination directory at all: path not found.
  EXPECT_EQ(CopyDriverFile("C:\\pkg\\", "C:\\nowhere\\", "A.DLL", 0), COPY_FAILED);
  EXPECT_EQ(sim::CountCalls("MoveFileExA"), 0);
  EXPECT_NE(Out().find("err = 3, 20, 21\n"), std::string::npos);
  // A copy that fails over a file that is there leaves that file whole, and no copy beside it.
  for (const char* op : {"WriteFile", "SetFileInformationByHandle", "MoveFileExA"}) {
    SCOPED_TRACE(op);
    sim::Reset();
    sim::AddDirectory("C:\\dest");
    Arrange(T_NEW, T_OLD);
    sim::InjectFault(op, ERROR_DISK_FULL);
    EXPECT_EQ(Copy(), COPY_FAILED);
    EXPECT_EQ(Dest(), "old");
    EXPECT_EQ(sim::FileTime("C:\\dest\\A.DLL"), T_OLD);
    for (const auto& entry : sim::M().files.entries)
      EXPECT_EQ(entry.first.rfind("c:\\dest\\tvx", 0), std::string::npos) << entry.first;
  }
}

TEST_F(CopyTest, CopyAsPlacesTheFileUnderItsNewName) {
  sim::AddFile("C:\\pkg\\KTASPW32.DLL", "32-bit", T_OLD);
  EXPECT_EQ(CopyDriverFileAs("C:\\pkg\\", "C:\\dest\\", "KTASPW32.DLL", "KTASPW.DLL", 0),
            COPY_OK);
  EXPECT_EQ(sim::FileContents("C:\\dest\\KTASPW.DLL"), "32-bit");
  EXPECT_FALSE(sim::FileExists("C:\\dest\\KTASPW32.DLL"));
}

TEST_F(CopyTest, OverlongPathTouchesNothing) {
  std::string dir = "C:\\" + std::string(515, 'd') + "\\";
  EXPECT_EQ(CopyDriverFile(dir.c_str(), "C:\\dest\\", "A.DLL", 0), COPY_FAILED);
  EXPECT_EQ(CopyDriverFile("C:\\pkg\\", dir.c_str(), "A.DLL", 0), COPY_FAILED);
  EXPECT_TRUE(sim::M().calls.empty());
}

TEST_F(CopyTest, CompareFileDatesLooksAtTheDestinationFirst) {
  sim::AddFile("C:\\a\\S", "", T_OLD);
  sim::AddFile("C:\\a\\D", "", T_NEW);
  EXPECT_EQ(CompareFileDates("C:\\a\\S", "C:\\a\\D"), -1);
  EXPECT_EQ(CompareFileDates("C:\\a\\D", "C:\\a\\S"), 1);
  EXPECT_EQ(CompareFileDates("C:\\a\\S", "C:\\a\\S"), 0);
  auto finds = sim::CallsTo("FindFirstFileA");
  ASSERT_EQ(finds.size(), 6u);
  EXPECT_EQ(finds[0].args[0], "C:\\a\\D");
  EXPECT_EQ(finds[1].args[0], "C:\\a\\S");
  sim::M().calls.clear();
  EXPECT_EQ(CompareFileDates("C:\\a\\S", "C:\\a\\missing"), 1);
  EXPECT_EQ(sim::CountCalls("FindFirstFileA"), 1);  // stops at the missing destination
  EXPECT_EQ(CompareFileDates("C:\\a\\missing", "C:\\a\\D"), 1);
  EXPECT_EQ(sim::OpenHandles(), 0);
}

}  // namespace

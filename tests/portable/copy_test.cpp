// The guarded copy, staging and the tool refresh against real files on Windows (under Wine)
// and against the simulated machine: the same arrangements must give the same results.
#include <ctype.h>
#include <string.h>

#include "actions/actions.h"
#include "catalogue.h"
#include "fixture.h"
#include "fixture_files.h"
#include "setup/messages.h"
#include "setup/setup.h"

namespace {

const uint64_t T_OLD = 0x01D5000000000000ull;
const uint64_t T_NEW = T_OLD + 10000000ull;

bool SamePath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i])) return false;
  return true;
}

class CopyPortableTest : public PortableTest {
 protected:
  void SetUp() override {
    PortableTest::SetUp();
    src = FixtureScratchDir();
    dst = FixtureScratchDir();
  }
  void TearDown() override {
    FixtureReleaseHeld();
    PortableTest::TearDown();
  }
  int Copy(int autoAnswer = 0) {
    FixtureCaptureBegin();
    int result = CopyDriverFile(src.c_str(), dst.c_str(), "A.DLL", autoAnswer);
    out = FixtureCaptureEnd();
    return result;
  }
  std::string Warning() const {
    return "\n" + OlderThan(src + "A.DLL", dst + "A.DLL");
  }
  std::string src, dst, out;
};

TEST_F(CopyPortableTest, ReadOnlyDestinationIsOverwritten) {
  FixtureWriteFile(src + "A.DLL", "new", T_NEW);
  FixtureWriteFile(dst + "A.DLL", "old", T_OLD, FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(Copy(), COPY_OK);
  EXPECT_EQ(out, "");
  EXPECT_EQ(FixtureReadFile(dst + "A.DLL"), "new");
  EXPECT_EQ(FixtureFileTime(dst + "A.DLL"), T_NEW);
  EXPECT_EQ(FixtureFileAttributes(dst + "A.DLL") & FILE_ATTRIBUTE_READONLY, 0u);
}

// The same answers as plain text and as a file saved as UTF-16 with its byte-order mark.
TEST_F(CopyPortableTest, NewerDestinationAnsweredOnStandardInput) {
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("what\r\nn\r\ny\r\n")) utf16 += std::string(1, c) + '\0';
  for (const std::string& input : {std::string("what\nn\ny\n"), utf16}) {
    FixtureWriteFile(src + "A.DLL", "new", T_OLD);
    FixtureWriteFile(dst + "A.DLL", "old", T_NEW, FILE_ATTRIBUTE_READONLY);
    FixtureSetStdin(input);
    EXPECT_EQ(Copy(), COPY_OK);
    EXPECT_EQ(out, Warning() + kPrompt + kPrompt);
    EXPECT_EQ(FixtureReadFile(dst + "A.DLL"), "old");
    EXPECT_EQ(FixtureFileTime(dst + "A.DLL"), T_NEW);
    // Declined, but the read-only attribute is gone all the same.
    EXPECT_EQ(FixtureFileAttributes(dst + "A.DLL") & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(Copy(), COPY_OK);  // the "y" still waiting on standard input
    EXPECT_EQ(out, Warning() + kPrompt);
    EXPECT_EQ(FixtureReadFile(dst + "A.DLL"), "new");
    EXPECT_EQ(FixtureFileTime(dst + "A.DLL"), T_OLD);
  }
}

TEST_F(CopyPortableTest, NewerDestinationWithAutomaticAnswerIsCopied) {
  FixtureWriteFile(src + "A.DLL", "new", T_OLD);
  FixtureWriteFile(dst + "A.DLL", "old", T_NEW);
  EXPECT_EQ(Copy(1), COPY_OK);
  EXPECT_EQ(out, Warning());
  EXPECT_EQ(FixtureReadFile(dst + "A.DLL"), "new");
}

TEST_F(CopyPortableTest, DestinationHeldOpenIsReplacedAtRestart) {
  FixtureWriteFile(src + "A.DLL", "new", T_NEW);
  FixtureWriteFile(dst + "A.DLL", "old", T_OLD);
  FixtureHoldOpen(dst + "A.DLL");
  DebugTrace = 1;
  EXPECT_EQ(Copy(), COPY_PENDING_REBOOT);
  EXPECT_EQ(out, "CopyFile source = >" + src + "A.DLL<\nCopyFile dest = >" + dst +
                     "A.DLL<\nCopyFile error on source file = >" + src +
                     "A.DLL<, err = 20, 20, 21\n");
  FixtureReleaseHeld();
  EXPECT_EQ(FixtureReadFile(dst + "A.DLL"), "old");
  EXPECT_TRUE(FixtureFileExists(src + "A.DLL"));
  auto moves = FixturePendingMoves();
  ASSERT_FALSE(moves.empty());
  // What moves at the restart is a copy of the source beside the destination; the source
  // stays in its directory.
  const std::string& copy = moves.back().first;
  EXPECT_TRUE(SamePath(copy.substr(0, dst.size()), dst)) << copy;
  EXPECT_EQ(copy.find('\\', dst.size()), std::string::npos) << copy;
  EXPECT_FALSE(SamePath(copy, dst + "A.DLL")) << copy;
  EXPECT_EQ(FixtureReadFile(copy), "new");
  EXPECT_TRUE(SamePath(moves.back().second, dst + "A.DLL")) << moves.back().second;
}

TEST_F(CopyPortableTest, MissingSourceLeavesTheDestinationAlone) {
  FixtureWriteFile(dst + "A.DLL", "old", T_NEW, FILE_ATTRIBUTE_READONLY);
  size_t movesBefore = FixturePendingMoves().size();
  EXPECT_EQ(Copy(), COPY_FAILED);
  EXPECT_EQ(out, "");
  EXPECT_EQ(FixtureReadFile(dst + "A.DLL"), "old");
  EXPECT_NE(FixtureFileAttributes(dst + "A.DLL") & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_EQ(FixturePendingMoves().size(), movesBefore);
}

TEST_F(CopyPortableTest, StagingAndRefreshPlaceThePackage) {
  for (const char* name : kPackage) FixtureWriteFile(src + name, name, T_OLD);
  ASSERT_LT(src.size(), sizeof SourceDir);
  strcpy(SourceDir, src.c_str());
  Unattended = 1;
  FixtureCaptureBegin();
  StageDriverPackage();
  RefreshServiceTools();
  EXPECT_EQ(FixtureCaptureEnd(), "");
  std::string driverDir = FixtureSystemDir() + "\\drivers\\tvx2\\";
  for (const char* name : kPackage) {
    EXPECT_EQ(FixtureReadFile(driverDir + name), name);
    EXPECT_EQ(FixtureFileTime(driverDir + name), T_OLD);
  }
  EXPECT_EQ(FixtureReadFile(FixtureSystemDir() + "\\KTASPREM.EXE"), "KTASPREM.EXE");
  EXPECT_EQ(FixtureReadFile(FixtureSystemDir() + "\\KTASPSVC.EXE"), "KTASPSVC.EXE");
  EXPECT_FALSE(FixtureFileExists(FixtureSystemDir() + "\\KTASPW.DLL"));
}

}  // namespace

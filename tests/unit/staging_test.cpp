// Package staging, the tool refresh and the directory strings on the simulated machine.
#include <string.h>

#include "actions/actions.h"
#include "catalogue.h"
#include "sim_test.h"

namespace {

const uint64_t T_PKG = 0x01D6000000000000ull;
const char* const DRIVER_DIR = "C:\\WINDOWS\\system32\\drivers\\tvx2\\";

class StagingTest : public SimTest {
 protected:
  void LayOutPackage(const std::string& dir, uint64_t time = T_PKG) {
    for (const char* name : kPackage) sim::AddFile(dir + name, std::string("pkg ") + name, time);
  }
  static std::string Staged(const char* name) {
    return sim::FileContents(std::string(DRIVER_DIR) + name);
  }
};

TEST_F(StagingTest, DirectoryStringsAreBuiltFromTheSystemDirectory) {
  char out[PATH_BUFFER_SIZE];
  BuildDriverDir(out, "C:\\WINDOWS\\system32");
  EXPECT_STREQ(out, "C:\\WINDOWS\\system32\\drivers\\tvx2\\");
  BuildDriverDirCompare(out, "C:\\WINDOWS\\system32");
  EXPECT_STREQ(out, "C:\\WINDOWS\\system32\\drivers\\tvx2");
  BuildSystemDirWithSeparator(out, "C:\\WINDOWS\\system32");
  EXPECT_STREQ(out, "C:\\WINDOWS\\system32\\");
  BuildWow64Dir(out, "C:\\WINDOWS\\system32");
  EXPECT_STREQ(out, "C:\\WINDOWS\\system32\\..\\sysWOW64\\");
  // The table: the package in the catalogue's order, and its placements, in the installation's
  // order, reach the system directory and the 32-bit one.
  ASSERT_EQ(PackageFileCount, 5);
  for (int i = 0; i < PackageFileCount; i++) EXPECT_STREQ(PackageFileName(i), kPackage[i]);
  std::vector<std::string> placed;
  for (int k = 0; k < PlacementCount(); k++) {
    PlaceDir(PackageFiles[PlacedFile(k)].place, "C:\\W", out);
    placed.push_back(out + std::string(MessageTable[PackageFiles[PlacedFile(k)].placedName]));
  }
  EXPECT_EQ(placed, (std::vector<std::string>{"C:\\W\\KTASPW.DLL", "C:\\W\\KTASPREM.EXE",
                                              "C:\\W\\KTASPSVC.EXE",
                                              "C:\\W\\..\\sysWOW64\\KTASPW.DLL"}));
  // The longest system directory accepted still fits with room to spare.
  std::string longest(259, 's');
  BuildDriverDir(out, longest.c_str());
  EXPECT_EQ(strlen(out), 273u);
}

TEST_F(StagingTest, FreshStagingCreatesTheDirectoryAndCopiesAllFiveInOrder) {
  strcpy(SourceDir, "C:\\pkg\\");
  LayOutPackage("C:\\pkg\\");
  StageDriverPackage();
  auto mkdir = sim::CallsTo("CreateDirectoryA");
  ASSERT_EQ(mkdir.size(), 1u);
  EXPECT_EQ(mkdir[0].args, (std::vector<std::string>{DRIVER_DIR, "ptr"}));
  // Made with a descriptor of its own: nothing from a parent others may have loosened.
  EXPECT_EQ(sim::M().files.entries[sim::Lower(std::string(DRIVER_DIR).substr(0, strlen(DRIVER_DIR) - 1))].security,
            "SYSTEM 0x1f01ff, Administrators 0x1f01ff, Users 0x1200a9, inherited by its contents, "
            "protected");
  auto copies = Written();
  auto reads = ReadOnce();
  ASSERT_EQ(copies.size(), 5u);
  ASSERT_EQ(reads.size(), 5u);
  for (int i = 0; i < 5; i++) {
    EXPECT_EQ(reads[i], std::string("C:\\pkg\\\\") + kPackage[i]);
    EXPECT_EQ(copies[i], std::string(DRIVER_DIR) + kPackage[i]);
    EXPECT_EQ(Staged(kPackage[i]), std::string("pkg ") + kPackage[i]);
    EXPECT_EQ(sim::FileTime(std::string(DRIVER_DIR) + kPackage[i]), T_PKG);
  }
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST_F(StagingTest, RestagingOntoTheSameFilesAsksNothingAndCopiesAgain) {
  strcpy(SourceDir, "C:\\pkg\\");
  LayOutPackage("C:\\pkg\\");
  LayOutPackage(DRIVER_DIR);
  sim::SetStdin("n\nn\nn\nn\nn\n");
  StageDriverPackage();
  EXPECT_EQ(sim::CountCalls("CreateDirectoryA"), 1);
  EXPECT_EQ(Written().size(), 5u);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(sim::M().console.inPos, 0u);
}

TEST_F(StagingTest, OlderPackageAsksPerFileAndKeepsTheDeclinedOnes) {
  strcpy(SourceDir, "C:\\pkg\\");
  LayOutPackage("C:\\pkg\\", T_PKG);
  sim::AddFile(std::string(DRIVER_DIR) + "KTASPW.DLL", "kept", T_PKG + 1);
  sim::AddFile(std::string(DRIVER_DIR) + "KTASPSVC.EXE", "replaced", T_PKG + 1);
  sim::SetStdin("n\ny\n");
  StageDriverPackage();
  const std::string driver = DRIVER_DIR;
  EXPECT_EQ(Out(), "\n" + OlderThan("C:\\pkg\\\\KTASPW.DLL", driver + "KTASPW.DLL") + kPrompt +
                       "\n" + OlderThan("C:\\pkg\\\\KTASPSVC.EXE", driver + "KTASPSVC.EXE") +
                       kPrompt);
  EXPECT_EQ(Staged("KTASPW.DLL"), "kept");
  EXPECT_EQ(Staged("KTASPSVC.EXE"), "pkg KTASPSVC.EXE");
  EXPECT_EQ(Staged("KTASPREM.EXE"), "pkg KTASPREM.EXE");
}

TEST_F(StagingTest, MissingPackageFileIsSkippedSilentlyAndTheOldCopyStays) {
  strcpy(SourceDir, "C:\\pkg\\");
  LayOutPackage("C:\\pkg\\");
  sim::RemoveFile("C:\\pkg\\KTASPW32.DLL");
  sim::AddFile(std::string(DRIVER_DIR) + "KTASPW32.DLL", "previous", 1);
  StageDriverPackage();
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(Staged("KTASPW32.DLL"), "previous");
  for (const char* name : {"SETUP.EXE", "KTASPW.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"})
    EXPECT_EQ(Staged(name), std::string("pkg ") + name);
  EXPECT_EQ(Written().size(), 4u);
}

TEST_F(StagingTest, BareNameSourceStagesFromTheCurrentDirectory) {
  strcpy(SourceDir, ".");
  sim::M().files.currentDir = "C:\\pkg";
  LayOutPackage("C:\\pkg\\");
  StageDriverPackage();
  auto reads = ReadOnce();
  ASSERT_EQ(reads.size(), 5u);
  EXPECT_EQ(reads[0], ".\\SETUP.EXE");
  for (const char* name : kPackage) EXPECT_EQ(Staged(name), std::string("pkg ") + name);
}

TEST_F(StagingTest, UncreatableDriverDirectoryFailsEveryCopy) {
  strcpy(SourceDir, "C:\\pkg\\");
  LayOutPackage("C:\\pkg\\");
  sim::DenyAccess("C:\\WINDOWS\\system32\\drivers");
  StageDriverPackage();
  EXPECT_FALSE(sim::DirectoryExists(DRIVER_DIR));
  EXPECT_EQ(CountCallsBesideLog("CreateFileA"), 10);  // each file read, and its copy tried
  EXPECT_EQ(sim::CountCalls("MoveFileExA"), 0);
  EXPECT_EQ(Out(), "");
}

TEST_F(StagingTest, StagedFileInUseIsReplacedAtRestart) {
  strcpy(SourceDir, "C:\\pkg\\");
  LayOutPackage("C:\\pkg\\");
  LayOutPackage(DRIVER_DIR, T_PKG - 1);
  sim::HoldOpen(std::string(DRIVER_DIR) + "KTASPSVC.EXE");
  StageDriverPackage();
  ASSERT_EQ(sim::PendingMoves().size(), 1u);
  EXPECT_EQ(sim::PendingMoves()[0].dest, std::string(DRIVER_DIR) + "KTASPSVC.EXE");
  // After the restart the package is still whole, and the driver directory holds its five
  // files and nothing else.
  sim::ApplyPendingMoves();
  EXPECT_EQ(sim::FileContents("C:\\pkg\\KTASPSVC.EXE"),
            sim::FileContents(std::string(DRIVER_DIR) + "KTASPSVC.EXE"));
  std::vector<std::string> left;
  for (auto& kv : sim::M().files.entries)
    if (kv.first.rfind(sim::Lower(DRIVER_DIR), 0) == 0) left.push_back(kv.second.path);
  EXPECT_EQ(left.size(), 5u);
}

TEST_F(StagingTest, ToolRefreshCopiesBothToolsAndSurvivesAMissingOne) {
  sim::AddFile(std::string(DRIVER_DIR) + "KTASPSVC.EXE", "svc", T_PKG);
  DebugTrace = 1;
  ShowMessages = 0;  // traces need messages too
  RefreshServiceTools();
  EXPECT_EQ(Out(), "");
  EXPECT_FALSE(sim::FileExists("C:\\WINDOWS\\system32\\KTASPREM.EXE"));
  EXPECT_EQ(sim::FileContents("C:\\WINDOWS\\system32\\KTASPSVC.EXE"), "svc");
  EXPECT_EQ(Written(), std::vector<std::string>{"C:\\WINDOWS\\system32\\KTASPSVC.EXE"});
  auto reads = ReadOnce();
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(reads[0], std::string(DRIVER_DIR) + "KTASPREM.EXE");
}

// An unreadable or too long system directory: nothing is staged or refreshed, not even
// where an empty or the over-long system directory would lead.
TEST_F(StagingTest, UnreadableSystemDirectoryPlacesNothing) {
  const std::string tooLong = "C:\\" + std::string(SYSTEM_DIR_LIMIT - 3, 's');
  for (bool fails : {true, false}) {
    SCOPED_TRACE(fails);
    sim::Reset();
    strcpy(SourceDir, "C:\\pkg\\");
    LayOutPackage("C:\\pkg\\");
    LayOutPackage(DRIVER_DIR);
    if (fails) {
      sim::M().systemDirFails = true;
      LayOutPackage("C:\\drivers\\tvx2\\");
    } else {
      sim::M().systemDir = tooLong;
      LayOutPackage(tooLong + "\\drivers\\tvx2\\");
    }
    StageDriverPackage();
    RefreshServiceTools();
    EXPECT_EQ(sim::CountCalls("CreateDirectoryA"), 0);
    EXPECT_EQ(Written().size(), 0u);
    EXPECT_EQ(ReadOnce().size(), 0u);
  }
}

}  // namespace

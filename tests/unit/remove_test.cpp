// Removal with -U: what is deleted, what waits for the restart, what stays, and what is printed.
#include <algorithm>

#include "actions/actions.h"
#include "catalogue.h"
#include "sim_test.h"

namespace {

const std::string kSys = "C:\\WINDOWS\\system32";
const std::string kWow = "C:\\WINDOWS\\SysWOW64";
const std::string kDriver = kSys + "\\drivers\\tvx2";
// The folder of ours that the running installer leaves into, and the name it gets there.
const std::string kRemovedDir = "C:\\WINDOWS\\TVX2.Removed";
const std::string kTempCopy = kRemovedDir + "\\tvx1.TMP";
const std::string kAdminsOnly = "SYSTEM 0x1f01ff, Administrators 0x1f01ff, protected";
const std::string kToolRun = "\n\n";
// Everything an installation placed.
const std::vector<std::string> kPlaced = {
    kSys + "\\KTASPW.DLL",         kSys + "\\KTASPREM.EXE",         kSys + "\\KTASPSVC.EXE",
    kWow + "\\KTASPW.DLL",         kDriver + "\\SETUP.EXE",         kDriver + "\\KTASPW.DLL",
    kDriver + "\\KTASPW32.DLL",    kDriver + "\\KTASPREM.EXE",      kDriver + "\\KTASPSVC.EXE"};

void Install() {
  for (const std::string& path : kPlaced) sim::AddFile(path, "placed", 2000);
  sim::AddProgram(kSys + "\\KTASPSVC.EXE", 3000);  // one poll before it ends: one dot
}

class RemoveTest : public SimTest {
 protected:
  void TearDown() override { sim::Reset(); }
};

TEST_F(RemoveTest, OutcomesOverMachines) {
  struct Case {
    const char* name;
    void (*arrange)();
    std::vector<std::string> args;
    int code;
    std::string out;
    std::vector<std::string> kept;          // files and folders still there afterwards
    std::vector<std::string> atRestart;     // deletions waiting for the restart, in order
  } cases[] = {
      {"nothing installed", [] {}, {"-U", "-X"}, EXIT_INSTALLED,
       kBanner + kRemoving + kRemoved, {}, {}},
      {"installed", Install, {"/u", "-q"}, EXIT_INSTALLED,
       kBanner + kRemoving + "\n.\n" + kRemoved, {}, {}},
      {"other files stay",
       [] {
         Install();
         sim::AddFile(kDriver + "\\NOTES.TXT", "mine", 0);
         sim::AddFile(kSys + "\\KTASPW.DLL.bak", "mine", 0);
         sim::AddFile(kWow + "\\KTASPW32.DLL", "mine", 0);
       },
       {"-U", "-X"}, EXIT_INSTALLED, kBanner + kRemoving + "\n.\n" + kRemoved,
       {kDriver + "\\NOTES.TXT", kSys + "\\KTASPW.DLL.bak", kWow + "\\KTASPW32.DLL"}, {}},
      {"read-only files go too",
       [] {
         Install();
         sim::AddFile(kSys + "\\KTASPREM.EXE", "placed", 0, FILE_ATTRIBUTE_READONLY);
       },
       {"-U", "-X"}, EXIT_INSTALLED, kBanner + kRemoving + "\n.\n" + kRemoved, {}, {}},
      {"library in use",
       [] {
         Install();
         sim::HoldOpen(kSys + "\\KTASPW.DLL");
       },
       {"-U", "-X"}, EXIT_REBOOT_REQUIRED, kBanner + kRemoving + "\n.\n" + kRemoved + kRestart,
       {kSys + "\\KTASPW.DLL"}, {kSys + "\\KTASPW.DLL"}},
      {"run from the driver directory: the program moves to a folder of ours",
       [] {
         Install();
         sim::SetRunningImage(kDriver + "\\SETUP.EXE");
       },
       {"-U", "-X"}, EXIT_INSTALLED, kBanner + kRemoving + "\n.\n" + kRemoved,
       {kTempCopy}, {kTempCopy}},
      {"... made by an earlier removal",
       [] {
         Install();
         sim::SetRunningImage(kDriver + "\\SETUP.EXE");
         sim::AddDirectory(kRemovedDir);
       },
       {"-U", "-X"}, EXIT_INSTALLED, kBanner + kRemoving + "\n.\n" + kRemoved,
       {kTempCopy}, {kTempCopy}},
      {"... a junction under its name: the program goes at the restart",
       [] {
         Install();
         sim::SetRunningImage(kDriver + "\\SETUP.EXE");
         sim::AddJunction(kRemovedDir, "C:\\WINDOWS\\Temp");
       },
       {"-U", "-X"}, EXIT_REBOOT_REQUIRED, kBanner + kRemoving + "\n.\n" + kRemoved + kRestart,
       {kDriver + "\\SETUP.EXE", kDriver}, {kDriver + "\\SETUP.EXE", kDriver}},
      {"a loaded library, refused like the running program, goes at the restart",
       [] {
         Install();
         sim::SetRunningImage(kSys + "\\KTASPW.DLL");
       },
       {"-U", "-X"}, EXIT_REBOOT_REQUIRED, kBanner + kRemoving + "\n.\n" + kRemoved + kRestart,
       {kSys + "\\KTASPW.DLL"}, {kSys + "\\KTASPW.DLL"}},
      {"run from the driver directory, no name in the temporary folder",
       [] {
         Install();
         sim::SetRunningImage(kDriver + "\\SETUP.EXE");
         sim::InjectFault("GetTempFileNameA", ERROR_ACCESS_DENIED);
       },
       {"-U", "-X"}, EXIT_REBOOT_REQUIRED, kBanner + kRemoving + "\n.\n" + kRemoved + kRestart,
       {kDriver + "\\SETUP.EXE", kDriver}, {kDriver + "\\SETUP.EXE", kDriver}},
      {"a SETUP.EXE that cannot be moved either: the name taken goes at the restart",
       [] {
         Install();
         sim::DenyAccess(kDriver + "\\SETUP.EXE");
       },
       {"-U", "-X"}, EXIT_REBOOT_REQUIRED, kBanner + kRemoving + "\n.\n" + kRemoved + kRestart,
       {kDriver + "\\SETUP.EXE", kDriver}, {kTempCopy, kDriver + "\\SETUP.EXE", kDriver}},
      {"driver directory is the current one",
       [] {
         Install();
         sim::M().files.currentDir = kDriver;
       },
       {"-U", "-X"}, EXIT_REBOOT_REQUIRED, kBanner + kRemoving + "\n.\n" + kRemoved + kRestart,
       {kDriver}, {kDriver}},
      {"neither deleted nor scheduled",
       [] {
         Install();
         sim::HoldOpen(kWow + "\\KTASPW.DLL");
         sim::RefuseDelayedMoves();
       },
       {"-U", "-X"}, EXIT_FAILED, kBanner + kRemoving + "\n.\n" + kFailed,
       {kWow + "\\KTASPW.DLL"}, {}},
      {"silent", Install, {"-N", "-U"}, EXIT_INSTALLED, "", {}, {}},
      {"attended: the closing pause", Install, {"-U"}, EXIT_INSTALLED,
       kBanner + kRemoving + "\n.\n" + kRemoved + kClosing, {}, {}},
      {"-H wins: detection only, nothing changed", Install, {"-U", "-H"},
       EXIT_DEVICE_NOT_FOUND,
       kBanner + kNoDevice + kFailed,
       kPlaced, {}},
      {"system directory unusable", [] {
         Install();
         sim::M().systemDirFails = true;
       },
       {"-U", "-X"}, EXIT_FAILED, kBanner + kFailed, kPlaced, {}},
  };
  for (const Case& c : cases) {
    sim::Reset();
    ResetRunState();
    c.arrange();
    bool folderBefore = sim::DirectoryExists(kRemovedDir);
    sim::AddKey(SIM_SERVICES_PATH "\\ktawdrsv");
    std::vector<std::string> args = {"C:\\pkg\\setup.exe"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(RunMain(args), c.code) << c.name;
    EXPECT_EQ(Out(), c.out) << c.name;
    for (const std::string& path : kPlaced) {
      bool kept = std::find(c.kept.begin(), c.kept.end(), path) != c.kept.end();
      EXPECT_EQ(sim::FileExists(path), kept) << c.name << ": " << path;
    }
    for (const std::string& path : c.kept)
      EXPECT_TRUE(sim::FileExists(path) || sim::DirectoryExists(path)) << c.name << ": " << path;
    bool dirKept = std::find(c.kept.begin(), c.kept.end(), kDriver) != c.kept.end() ||
                   std::any_of(c.kept.begin(), c.kept.end(), [](const std::string& p) {
                     return p.compare(0, kDriver.size() + 1, kDriver + "\\") == 0;
                   });
    EXPECT_EQ(sim::DirectoryExists(kDriver), dirKept) << c.name;
    std::vector<std::string> atRestart;
    for (const sim::PendingMove& m : sim::PendingMoves()) {
      EXPECT_EQ(m.dest, "") << c.name;
      atRestart.push_back(m.source);
    }
    EXPECT_EQ(atRestart, c.atRestart) << c.name;
    // A folder this run made lets only administrators at it; the move replaced nothing.
    if (!folderBefore && sim::DirectoryExists(kRemovedDir))
      EXPECT_EQ(sim::M().files.entries[sim::Lower(kRemovedDir)].security, kAdminsOnly) << c.name;
    for (const sim::CallRecord& move : sim::CallsTo("MoveFileExA"))
      EXPECT_EQ(move.args[2], move.args[1] == "NULL" ? "0x4" : "0x0") << c.name;
    // Removal never detects and never touches the legacy services.
    EXPECT_EQ(sim::CountCalls("HidD_GetHidGuid"), c.code == EXIT_DEVICE_NOT_FOUND ? 1 : 0)
        << c.name;
    EXPECT_TRUE(sim::KeyExists(SIM_SERVICES_PATH "\\ktawdrsv")) << c.name;
    EXPECT_TRUE(Written().empty()) << c.name;
    // The restart carries the deletions out; the driver directory goes once empty.
    sim::ApplyPendingMoves();
    for (const std::string& path : c.atRestart)
      EXPECT_FALSE(sim::FileExists(path) || sim::DirectoryExists(path)) << c.name << ": " << path;
  }
}

TEST_F(RemoveTest, TheServiceToolRemovesItselfBeforeAnyFileIsDeleted) {
  Install();
  EXPECT_EQ(RunMain({"setup", "-U", "-X"}), EXIT_INSTALLED);
  ASSERT_EQ(sim::M().process.processes.size(), 1u);
  EXPECT_EQ(sim::M().process.processes[0].commandLine, "\"" + kSys + "\\ktaspsvc.exe\" -remove");
  size_t started = 0, firstDelete = 0;
  const auto& calls = sim::M().calls;
  for (size_t i = calls.size(); i-- > 0;) {
    if (calls[i].op == "CreateProcessA") started = i;
    if (calls[i].op == "DeleteFileA") firstDelete = i;
  }
  EXPECT_LT(started, firstDelete);
  // Started in the system directory: the driver directory it would hold goes next.
  EXPECT_EQ(calls[started].args[7], kSys);
  // The files in their order: the system directory, WOW64, the driver directory, then the folder.
  std::vector<std::string> deleted;
  for (const sim::CallRecord& c : sim::CallsTo("DeleteFileA")) deleted.push_back(c.args[0]);
  std::vector<std::string> expected = {kSys + "\\KTASPW.DLL", kSys + "\\KTASPREM.EXE",
                                       kSys + "\\KTASPSVC.EXE",
                                       kSys + "\\..\\sysWOW64\\KTASPW.DLL"};
  for (const char* name : kPackage) expected.push_back(kDriver + "\\" + name);
  EXPECT_EQ(deleted, expected);
  ASSERT_EQ(sim::CountCalls("RemoveDirectoryA"), 1);
  EXPECT_EQ(sim::CallsTo("RemoveDirectoryA")[0].args[0], kDriver);
}

TEST_F(RemoveTest, EveryStepIsLoggedAndFailuresAreTraced) {
  Install();
  sim::HoldOpen(kSys + "\\KTASPW.DLL");
  sim::InjectFault("MoveFileExA", ERROR_ACCESS_DENIED, kSys + "\\KTASPW.DLL");
  EXPECT_EQ(RunMain({"setup", "-U", "-X", "-D"}), EXIT_FAILED);
  EXPECT_EQ(Out(), kBanner + kRemoving + "\n.\nDeleteFile error on file = >" + kSys +
                       "\\KTASPW.DLL<, err = 20\n" + kFailed);
  std::string log = sim::FileContents("C:\\WINDOWS\\Logs\\TVX2\\setup.log");
  for (const std::string& event : std::vector<std::string>{
           std::string("options: unattended debug remove;"),
           "tool \"" + kSys + "\\ktaspsvc.exe\" -remove: started, ended with exit code 0",
           "delete \"" + kSys + "\\KTASPW.DLL\": error 32, and not scheduled for the restart: error 5",
           "delete \"" + kSys + "\\KTASPREM.EXE\": deleted",
           "delete \"" + kSys + "\\..\\sysWOW64\\KTASPW.DLL\": deleted",
           "delete \"" + kDriver + "\\SETUP.EXE\": deleted",
           "remove directory \"" + kDriver + "\": removed",
           "removal result 2",
           "outcome: exit code 2, failed"})
    EXPECT_NE(log.find(event), std::string::npos) << event << "\n" << log;
}

}  // namespace

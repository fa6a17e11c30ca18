// The installation decision: each outcome from the state of the card, with its messages, its
// exit code and what it did to the machine.
#include "actions/actions.h"
#include "catalogue.h"
#include "detect/detect.h"
#include "sim_test.h"

namespace {

const std::string kSys = "C:\\WINDOWS\\system32";
const std::string kDriver = kSys + "\\drivers\\tvx2";
const std::string kPkg = "C:\\pkg\\";
const std::string kToolRun = "\n\n";  // the install run of a tool that ends at once

class DecisionTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    for (const char* name : kPackage) sim::AddFile(kPkg + name, std::string("pkg ") + name, 2000);
  }
  void TearDown() override { sim::Reset(); }

  static void AttachWorkingCard() {
    sim::AddHidInterface("\\\\?\\hid#vid_7a5c&pid_4001#7&1&0000#{4d1e55b2}", 0x7A5C, 0x4001);
  }
  static void AttachCardWithoutUsb() {
    sim::AddDevice("PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00\\4&1a2b&0&0008",
                   {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00"});
  }
  static void AddLegacyService() { sim::AddKey(SIM_SERVICES_PATH "\\ktawdrsv"); }
  static void RefusePlacement() {
    sim::AddFile(kSys + "\\KTASPREM.EXE", "old", 1000);
    sim::DenyAccess(kSys + "\\KTASPREM.EXE");
  }
  // Where the first call of `op` (with this first argument, when given) stands in the record.
  static size_t FirstCall(const std::string& op, const std::string& firstArg = "") {
    const auto& calls = sim::M().calls;
    for (size_t i = 0; i < calls.size(); i++)
      if (calls[i].op == op && (firstArg.empty() || calls[i].args.at(0) == firstArg)) return i;
    ADD_FAILURE() << op << " was not called";
    return 0;
  }
  static void ExpectInstalled() {
    EXPECT_EQ(sim::FileContents(kDriver + "\\SETUP.EXE"), "pkg SETUP.EXE");
    EXPECT_EQ(sim::FileContents(kSys + "\\KTASPW.DLL"), "pkg KTASPW.DLL");
    EXPECT_EQ(sim::FileContents(kSys + "\\KTASPSVC.EXE"), "pkg KTASPSVC.EXE");
    EXPECT_EQ(sim::FileContents("C:\\WINDOWS\\SysWOW64\\KTASPW.DLL"), "pkg KTASPW32.DLL");
  }
  static void ExpectNothingTouched() {
    EXPECT_EQ(CountCallsBesideLog("CreateDirectoryA"), 0);
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(sim::CountCalls("CreateProcessA"), 0);
    EXPECT_FALSE(sim::DirectoryExists(kDriver));
  }
};

TEST_F(DecisionTest, WorkingCardInstalled) {
  AttachWorkingCard();
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-x"}), EXIT_INSTALLED);
  EXPECT_EQ(Out(), kBanner + kToolRun + kComplete);
  ExpectInstalled();
  EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInfo"), 0);  // the scan is not asked
}

TEST_F(DecisionTest, WorkingCardInstalledNeedingRestart) {
  AttachWorkingCard();
  AddLegacyService();
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-x"}), EXIT_REBOOT_REQUIRED);
  EXPECT_EQ(Out(), kBanner + kToolRun + kComplete + kReboot);
  EXPECT_FALSE(sim::KeyExists(SIM_SERVICES_PATH "\\ktawdrsv"));
}

TEST_F(DecisionTest, WorkingCardInstallationFailed) {
  AttachWorkingCard();
  RefusePlacement();
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-x"}), EXIT_FAILED);
  EXPECT_EQ(Out(), kBanner + kToolRun + kFailed);
  EXPECT_EQ(sim::FileContents(kSys + "\\KTASPREM.EXE"), "old");
}

TEST_F(DecisionTest, WorkingCardDetectOnlyTouchesNothing) {
  AttachWorkingCard();
  AddLegacyService();
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-h", "-d"}), EXIT_INSTALLED);
  EXPECT_EQ(Out(), kBanner + kComplete);  // and no trace
  ExpectNothingTouched();
  EXPECT_TRUE(sim::KeyExists(SIM_SERVICES_PATH "\\ktawdrsv"));
}

TEST_F(DecisionTest, NoDeviceOfTheCard) {
  sim::AddDevice("PCI\\VEN_8086&DEV_1234\\3&11&0&00", {"PCI\\VEN_8086&DEV_1234"});
  sim::AddHidInterface("\\\\?\\hid#vid_046d&pid_c077#1", 0x046D, 0xC077);
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-x"}), EXIT_DEVICE_NOT_FOUND);
  EXPECT_EQ(Out(), kBanner + kNoDevice + kFailed);
  ExpectNothingTouched();
  sim::Reset();
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-h"}), EXIT_DEVICE_NOT_FOUND);
  EXPECT_EQ(Out(), kBanner + kNoDevice + kFailed);
}

TEST_F(DecisionTest, CardWithoutUsbIsInstalledAndReportedNotReady) {
  AttachCardWithoutUsb();
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-x"}), EXIT_DEVICE_NOT_READY);
  EXPECT_EQ(Out(), kBanner + kToolRun + kNotReady + kComplete);
  ExpectInstalled();
}

TEST_F(DecisionTest, CardWithoutUsbNeverReportsTheRestart) {
  AttachCardWithoutUsb();
  AddLegacyService();
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-x"}), EXIT_DEVICE_NOT_READY);
  EXPECT_EQ(Out(), kBanner + kToolRun + kNotReady + kComplete);
  EXPECT_FALSE(sim::KeyExists(SIM_SERVICES_PATH "\\ktawdrsv"));
}

TEST_F(DecisionTest, CardWithoutUsbInstallationFailed) {
  sim::AddDevice("USB\\Vid_7a5c&Pid_4001\\5&2c&0&1", {"USB\\Vid_7a5c&Pid_4001"});
  RefusePlacement();
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-x"}), EXIT_FAILED);
  EXPECT_EQ(Out(), kBanner + kToolRun + kFailed);
}

TEST_F(DecisionTest, CardWithoutUsbDetectOnlyTracesAndTouchesNothing) {
  AttachCardWithoutUsb();
  sim::M().console.hasConsole = false;
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-d", "-h"}), EXIT_DEVICE_NOT_READY);
  EXPECT_EQ(Out(), kBanner +
                       "FindExistingDevice - Device ID "
                       "PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00 was found \n"
                       "FindExistingDevice - Vorrin PCI ID found !\n"
                       "Press ENTER to continue \n"
                       "Found Vorrin but NO DRIVER.\nPress ENTER to continue\n" +
                       kNotReady + kComplete);
  ExpectNothingTouched();
}

TEST_F(DecisionTest, NoDeviceTraceWaitsForAKey) {
  sim::PressKey('\r');
  sim::PressKey('\r');
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-d"}), EXIT_DEVICE_NOT_FOUND);
  EXPECT_EQ(Out(), kBanner + "Didn't find USB SP.\nPress ENTER to continue\n" + kNoDevice +
                       kFailed + kClosing);
  EXPECT_EQ(sim::M().console.blockedReads, 0);
  EXPECT_EQ(sim::M().console.events.size(), 1u);  // both presses were taken
}

TEST_F(DecisionTest, WorkingCardTraceComesAfterStagingAndBeforeTheSequence) {
  AttachWorkingCard();
  sim::M().console.hasConsole = false;
  RunMain({kPkg + "setup.exe", "-x", "-d", "-n"});
  EXPECT_EQ(Out(), "Found USB SP.\nPress ENTER to continue\n");
  ExpectInstalled();
  // The pause's key wait opens the console between the last staged file and the first tool.
  size_t pause = FirstCall("CreateFileA", "CONIN$");
  auto copies = Written();
  ASSERT_GE(copies.size(), 5u);
  EXPECT_EQ(copies[4], kDriver + "\\KTASPSVC.EXE");  // the last of the staging
  size_t lastStaged = 0;
  for (size_t i = 0; i < sim::M().calls.size(); i++)
    if (sim::M().calls[i].op == "CreateFileA" && sim::M().calls[i].args.at(1) == "0x40000000" &&
        sim::M().calls[i].args.at(0) == kDriver + "\\KTASPSVC.EXE")
      lastStaged = i;
  EXPECT_LT(lastStaged, pause);
  EXPECT_LT(pause, FirstCall("RegEnumKeyExA"));  // the legacy removal, the sequence's start
  EXPECT_LT(pause, FirstCall("CreateProcessA"));
}

TEST_F(DecisionTest, SystemDirectoryLostDuringTheRunStartsAndPlacesNothing) {
  AttachWorkingCard();
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-x"}), EXIT_INSTALLED);
  // The last read is the install run's; the one before it is the placement's own.
  const int reads = sim::CountCalls("GetSystemDirectoryA");
  struct Case {
    int skip, times, processes, directories;
  } cases[] = {
      {1, -1, 0, 0},         // Main reads it; every later read fails
      {reads - 2, 1, 2, 1},  // only the placement's own read fails: the remove runs went on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.skip);
    sim::Reset();
    AttachWorkingCard();
    sim::InjectFault("GetSystemDirectoryA", ERROR_ACCESS_DENIED, "", c.times, c.skip);
    EXPECT_EQ(RunMain({kPkg + "setup.exe", "-x"}), EXIT_FAILED);
    EXPECT_EQ(Out(), kBanner + kFailed);
    auto runs = sim::CallsTo("CreateProcessA");
    EXPECT_EQ(runs.size(), (size_t)c.processes);
    for (const sim::CallRecord& run : runs) EXPECT_EQ(run.args[1].find("-install"), std::string::npos);
    EXPECT_TRUE(Written().empty());
    EXPECT_EQ(CountCallsBesideLog("CreateDirectoryA"), c.directories);
    EXPECT_FALSE(sim::FileExists(kSys + "\\KTASPW.DLL"));
  }
}

TEST_F(DecisionTest, ForceCodeTakesTheWorkingCardPathWithoutDetection) {
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-fu", "-x"}), EXIT_INSTALLED);
  EXPECT_EQ(Out(), kForcing + kBanner + kToolRun + kComplete);
  EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsA"), 0);
  ExpectInstalled();
}

TEST_F(DecisionTest, StartedByFullPathFromTheDriverDirectoryStagesNothing) {
  AttachWorkingCard();
  for (const char* name : kPackage)
    sim::AddFile(kDriver + "\\" + name, std::string("staged ") + name, 3000);
  EXPECT_EQ(RunMain({"c:\\windows\\SYSTEM32\\drivers\\TVX2\\setup", "-x"}), EXIT_INSTALLED);
  EXPECT_EQ(CountCallsBesideLog("CreateDirectoryA"), 0);
  EXPECT_EQ(Written().size(), 4u);  // the four placements only
  EXPECT_EQ(sim::FileContents(kSys + "\\KTASPW.DLL"), "staged KTASPW.DLL");
}

// Staging is skipped for any spelling that resolves to the driver directory; when the full
// path cannot be resolved, the program path is compared as it was typed.
TEST_F(DecisionTest, StagingIsSkippedWhereverTheDriverDirectoryIsReachedFrom) {
  struct Case {
    std::string currentDir, argv0;
    bool resolveFails, stages;
    int exitCode, copies;
  } cases[] = {
      {kDriver + "\\", "setup", false, false, EXIT_INSTALLED, 4},
      {kDriver + "\\", "SETUP.EXE", false, false, EXIT_INSTALLED, 4},
      {kSys + "\\drivers\\", "tvx2\\setup", false, false, EXIT_INSTALLED, 4},
      {kDriver + "\\", "..\\TVX2\\setup", false, false, EXIT_INSTALLED, 4},
      {"C:\\", kDriver + "/setup", false, false, EXIT_INSTALLED, 4},
      {"C:\\", kDriver + "\\\\setup", false, false, EXIT_INSTALLED, 4},
      {kDriver + "\\", "C:setup", false, false, EXIT_INSTALLED, 4},
      // Elsewhere (nothing to stage there), or unresolved: staged, onto itself in the last
      // but one, where each file is held by the copy and is replaced at the restart by a copy
      // of itself (staging results never decide the exit code).
      {"C:\\", kSys + "\\drivers\\tvx\\setup", false, true, EXIT_INSTALLED, 4},
      {kSys + "\\", "setup", false, true, EXIT_INSTALLED, 4},
      {kDriver + "\\", "setup", true, true, EXIT_INSTALLED, 9},
      {"C:\\", "c:\\windows\\SYSTEM32\\drivers\\TVX2\\setup", true, false, EXIT_INSTALLED, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.currentDir + " " + c.argv0 + (c.resolveFails ? " unresolved" : ""));
    sim::Reset();
    AttachWorkingCard();
    for (const char* name : kPackage)
      sim::AddFile(kDriver + "\\" + name, std::string("staged ") + name, 3000);
    sim::M().files.currentDir = c.currentDir;
    if (c.resolveFails) sim::InjectFault("GetFullPathNameA", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(RunMain({c.argv0, "-x"}), c.exitCode);
    EXPECT_EQ(CountCallsBesideLog("GetFullPathNameA"), 1);
    EXPECT_EQ(CountCallsBesideLog("CreateDirectoryA"), c.stages ? 1 : 0);
    EXPECT_EQ((int)Written().size(), c.copies);
    EXPECT_EQ(sim::PendingMoves().size(), c.copies == 9 ? 5u : 0u);
    EXPECT_EQ(sim::FileContents(kSys + "\\KTASPW.DLL"), "staged KTASPW.DLL");
  }
}

}  // namespace

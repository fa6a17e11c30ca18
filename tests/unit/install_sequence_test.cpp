// The whole installation sequence on the simulated machine.
#include "actions/actions.h"
#include "catalogue.h"
#include "sim_test.h"

namespace {

const std::string kSys = "C:\\WINDOWS\\system32";
const std::string kDriver = kSys + "\\drivers\\tvx2\\";
const std::string kSvc = kSys + "\\ktaspsvc.exe";

class InstallSequenceTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    Unattended = 1;
    for (const char* name : kPackage)
      sim::AddFile(kDriver + name, std::string("new ") + name, 2000);
  }
  // The machine keeps its handles in a static model: release them before the test process
  // ends, or the sanitizer reports the heap handle the legacy removal took as a leak.
  void TearDown() override { sim::Reset(); }
  // The command lines started, in order.
  static std::vector<std::string> Started() {
    std::vector<std::string> lines;
    for (const sim::ProcessEntry& p : sim::M().process.processes) lines.push_back(p.commandLine);
    return lines;
  }
  static std::string Line(const char* program, const char* args) {
    return "\"" + kSys + "\\" + program + "\" " + args;
  }
  static void ExpectPlaced() {
    EXPECT_EQ(sim::FileContents(kSys + "\\KTASPW.DLL"), "new KTASPW.DLL");
    EXPECT_EQ(sim::FileContents(kSys + "\\KTASPREM.EXE"), "new KTASPREM.EXE");
    EXPECT_EQ(sim::FileContents(kSys + "\\KTASPSVC.EXE"), "new KTASPSVC.EXE");
    EXPECT_EQ(sim::FileContents("C:\\WINDOWS\\SysWOW64\\KTASPW.DLL"), "new KTASPW32.DLL");
  }
};

TEST_F(InstallSequenceTest, FirstInstallationStartsOnlyTheInstallRun) {
  EXPECT_EQ(InstallDriverSoftware(), INSTALL_OK);
  // Steps 1 and 3 find no tool: nothing printed for them, no refresh; the placed tool installs.
  EXPECT_EQ(Started(), std::vector<std::string>{Line("ktaspsvc.exe", "-install -TVX2")});
  EXPECT_EQ(Out(), "\n\n");
  EXPECT_EQ(Written().size(), 4u);
  ExpectPlaced();
  EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Process), 0);
  EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Thread), 0);
}

TEST_F(InstallSequenceTest, LegacyWatchdogToolAndTheRefreshedServiceTool) {
  sim::AddProgram(kSys + "\\ktawdrsv.exe", 3000);
  sim::AddProgram(kSvc, 6000);
  sim::RemoveFile(kSvc);  // not there until the refresh after the watchdog's run
  EXPECT_EQ(InstallDriverSoftware(), INSTALL_OK);
  EXPECT_EQ(Started(), (std::vector<std::string>{Line("ktawdrsv.exe", "-remove"),
                                                 Line("ktaspsvc.exe", "-remove"),
                                                 Line("ktaspsvc.exe", "-install -TVX2")}));
  EXPECT_EQ(Out(), "\n.\n\n..\n\n..\n");
  EXPECT_EQ(sim::M().clockMs, 15000u);
  // Two refreshes of two tools, then the four placements.
  EXPECT_EQ(Written().size(), 8u);
  ExpectPlaced();
}

TEST_F(InstallSequenceTest, RemovedLegacyServiceAsksForRestart) {
  sim::AddKey(SIM_SERVICES_PATH "\\ktawdrsv");
  EXPECT_EQ(InstallDriverSoftware(), INSTALL_REBOOT);
  EXPECT_FALSE(sim::KeyExists(SIM_SERVICES_PATH "\\ktawdrsv"));
  ExpectPlaced();
}

TEST_F(InstallSequenceTest, FailedCopyOutweighsALaterPendingOne) {
  sim::AddFile(kSys + "\\KTASPW.DLL", "old", 1000);
  sim::DenyAccess(kSys + "\\KTASPW.DLL");
  sim::AddFile(kSys + "\\KTASPSVC.EXE", "old", 1000);
  sim::HoldOpen(kSys + "\\KTASPSVC.EXE");
  EXPECT_EQ(InstallDriverSoftware(), INSTALL_FAILED);
  EXPECT_EQ(sim::FileContents(kSys + "\\KTASPREM.EXE"), "new KTASPREM.EXE");
  // The old tool in place runs its remove, and both its refresh and step 4 find it held.
  EXPECT_EQ(sim::PendingMoves().size(), 2u);
  EXPECT_EQ(Started().size(), 2u);
  // The install run still happens, with the tool the system directory holds now.
  EXPECT_EQ(Started().back(), Line("ktaspsvc.exe", "-install -TVX2"));
}

TEST_F(InstallSequenceTest, ToolHoldingALibraryMakesItARestartReplacement) {
  sim::AddProgram(kSvc, 2000, 0, [] {
    if (sim::M().process.processes.size() == 1) sim::HoldOpen(kSys + "\\KTASPW.DLL");
  });
  sim::AddFile(kSys + "\\KTASPW.DLL", "old", 1000);
  EXPECT_EQ(InstallDriverSoftware(), INSTALL_REBOOT);
  ASSERT_EQ(sim::PendingMoves().size(), 1u);
  EXPECT_TRUE(sim::EqualNoCase(sim::PendingMoves()[0].dest, kSys + "\\KTASPW.DLL"));
}

TEST_F(InstallSequenceTest, NoWow64DirectoryFailsButTheInstallRunFollows) {
  sim::M().files.entries.erase("c:\\windows\\syswow64");
  EXPECT_EQ(InstallDriverSoftware(), INSTALL_FAILED);
  EXPECT_EQ(sim::FileContents(kSys + "\\KTASPW.DLL"), "new KTASPW.DLL");
  EXPECT_EQ(Started(), std::vector<std::string>{Line("ktaspsvc.exe", "-install -TVX2")});
}

TEST_F(InstallSequenceTest, MessagesOffPrintsNothing) {
  ShowMessages = 0;
  sim::AddProgram(kSvc, 12000);
  EXPECT_EQ(InstallDriverSoftware(), INSTALL_OK);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(Started().size(), 2u);
}

TEST_F(InstallSequenceTest, DebugTracesNameTheDirectoriesTwice) {
  DebugTrace = 1;
  InstallDriverSoftware();
  std::string first = "lpBuffer = >" + kDriver + "<\nlpBuffr2 = >" + kSys + "\\<\n";
  std::string second = "lpBuffer = >" + kDriver + "<\nlpBuffr2 = >" + kSys + "\\..\\sysWOW64\\<\n";
  size_t a = Out().find(first), b = Out().find(second);
  ASSERT_NE(a, std::string::npos) << Out();
  ASSERT_NE(b, std::string::npos) << Out();
  EXPECT_LT(a, b);
  EXPECT_EQ(Out().find("lpBuffer", b + 1), std::string::npos);
  // Under messages off the traces stay quiet too.
  sim::Reset();
  SetUp();
  DebugTrace = 1;
  ShowMessages = 0;
  InstallDriverSoftware();
  EXPECT_EQ(Out(), "");
}

}  // namespace

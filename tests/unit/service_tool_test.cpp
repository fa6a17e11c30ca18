// Starting and waiting for a service tool on the simulated machine.
#include "actions/actions.h"
#include "sim_test.h"

namespace {

const char* const kTool = "C:\\WINDOWS\\system32\\ktaspsvc.exe";

class ServiceToolTest : public SimTest {
 protected:
  static std::string Dots(int n) { return "\n" + std::string((size_t)n, '.') + "\n"; }
  static void ExpectHandlesClosed() {
    EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Process), 0);
    EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Thread), 0);
  }
};

TEST_F(ServiceToolTest, MissingToolIsSkippedSilently) {
  EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-remove"), 0);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(sim::CountCalls("CreateProcessA"), 1);
  EXPECT_EQ(sim::CountCalls("WaitForSingleObject"), 0);
  EXPECT_EQ(sim::CountCalls("CloseHandle"), 0);
  EXPECT_EQ(sim::M().clockMs, 0u);
}

TEST_F(ServiceToolTest, StartsWithTheExactArgumentsAndStartupRecord) {
  STARTUPINFOA& own = sim::M().process.own;
  static char reserved[] = "r", desktop[] = "winsta0\\default";
  static BYTE extra[4] = {1, 2, 3, 4};
  own.lpReserved = reserved;
  own.lpDesktop = desktop;
  own.dwX = 10;
  own.dwFillAttribute = 7;
  own.dwFlags = STARTF_USESTDHANDLES | STARTF_USESIZE;
  own.wShowWindow = SW_SHOWNORMAL;
  own.cbReserved2 = 4;
  own.lpReserved2 = extra;
  own.hStdOutput = (HANDLE)0x44;
  sim::AddProgram(kTool, 0);
  sim::AddDirectory("C:\\WINDOWS\\system32\\drivers\\tvx2");

  EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-install -TVX2"), 1);
  std::vector<sim::CallRecord> calls = sim::CallsTo("CreateProcessA");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args,
            (std::vector<std::string>{"NULL", "\"C:\\WINDOWS\\system32\\ktaspsvc.exe\" -install -TVX2",
                                      "NULL", "NULL", "0", "0x10", "NULL",
                                      "C:\\WINDOWS\\system32\\drivers\\tvx2", "ptr", "ptr"}));
  ASSERT_EQ(sim::M().process.processes.size(), 1u);
  const STARTUPINFOA& given = sim::M().process.processes[0].startup;
  EXPECT_EQ(given.lpReserved, nullptr);
  EXPECT_EQ(given.dwFlags, (DWORD)STARTF_USESHOWWINDOW);
  EXPECT_EQ(given.wShowWindow, SW_HIDE);
  EXPECT_EQ(given.cbReserved2, 0);
  EXPECT_EQ(given.lpReserved2, nullptr);
  // The rest is the installer's own.
  EXPECT_EQ(given.cb, own.cb);
  EXPECT_EQ(given.lpDesktop, desktop);
  EXPECT_EQ(given.lpTitle, own.lpTitle);
  EXPECT_EQ(given.dwX, 10u);
  EXPECT_EQ(given.dwFillAttribute, 7u);
  EXPECT_EQ(given.hStdOutput, (HANDLE)0x44);
  ExpectHandlesClosed();
  // Without a driver directory, the system directory.
  sim::RemoveFile("C:\\WINDOWS\\system32\\drivers\\tvx2");
  EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-remove"), 1);
  EXPECT_EQ(sim::CallsTo("CreateProcessA").back().args[7], "C:\\WINDOWS\\system32");
}

TEST_F(ServiceToolTest, DotsFollowTheToolsRunTime) {
  struct Case {
    uint64_t runMs;
    int dots;
  } cases[] = {{0, 0}, {1, 1}, {4999, 1}, {5000, 1}, {5001, 2}, {10000, 2}, {12000, 3},
               {299999, 60}};
  for (const Case& c : cases) {
    sim::Reset();
    sim::AddProgram(kTool, c.runMs);
    EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-remove"), 1);
    EXPECT_EQ(Out(), Dots(c.dots)) << c.runMs << " ms";
    // The sequence goes on as soon as the tool has ended.
    EXPECT_EQ(sim::M().clockMs, c.runMs);
    EXPECT_EQ(sim::RunningProcesses(kTool), 0);
    ExpectHandlesClosed();
  }
}

TEST_F(ServiceToolTest, EachPauseIsAWaitOnTheToolOfAtMostFiveSeconds) {
  sim::AddProgram(kTool, 12000);
  RunServiceTool("ktaspsvc.exe", "-remove");
  std::vector<std::string> timeouts;
  for (const sim::CallRecord& c : sim::CallsTo("WaitForSingleObject")) timeouts.push_back(c.args[1]);
  EXPECT_EQ(timeouts, (std::vector<std::string>{"0", "5000", "0", "5000", "0", "5000", "0"}));
  EXPECT_EQ(sim::CountCalls("Sleep"), 0);
  EXPECT_EQ(sim::CountCalls("GetExitCodeProcess"), 0);
}

TEST_F(ServiceToolTest, ToolThatNeverEndsIsLeftRunningAfterSixtyPolls) {
  sim::AddNeverEndingProgram(kTool);
  EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-remove"), 1);
  EXPECT_EQ(Out(), Dots(60));
  EXPECT_EQ(sim::M().clockMs, 300000u);
  EXPECT_EQ(sim::RunningProcesses(kTool), 1);
  EXPECT_EQ(sim::CountCalls("TerminateProcess"), 0);
  ExpectHandlesClosed();
}

TEST_F(ServiceToolTest, ToolEndingWithCode259IsNotWaitedFor) {
  sim::AddProgram(kTool, 0, STILL_ACTIVE);
  EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-remove"), 1);
  EXPECT_EQ(Out(), Dots(0));
  EXPECT_EQ(sim::M().clockMs, 0u);

  sim::Reset();
  sim::AddProgram(kTool, 7000, STILL_ACTIVE);
  RunServiceTool("ktaspsvc.exe", "-remove");
  EXPECT_EQ(Out(), Dots(2));
  EXPECT_EQ(sim::M().clockMs, 7000u);
}

TEST_F(ServiceToolTest, MessagesOffPrintsNothingButStillWaits) {
  ShowMessages = 0;
  sim::AddProgram(kTool, 12000);
  EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-remove"), 1);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(sim::M().clockMs, 12000u);
  EXPECT_EQ(sim::RunningProcesses(kTool), 0);
}

TEST_F(ServiceToolTest, WithoutAWaitableHandleFallsBackToTheExitCodeAndPauses) {
  sim::InjectFault("WaitForSingleObject", ERROR_ACCESS_DENIED);
  sim::AddProgram(kTool, 12000);
  EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-remove"), 1);
  EXPECT_EQ(Out(), Dots(3));
  EXPECT_EQ(sim::CountCalls("Sleep"), 3);
  EXPECT_EQ(sim::M().clockMs, 15000u);

  // Nothing can be read at all: no waiting for a tool that cannot be observed.
  sim::Reset();
  sim::InjectFault("WaitForSingleObject", ERROR_ACCESS_DENIED);
  sim::InjectFault("GetExitCodeProcess", ERROR_ACCESS_DENIED);
  sim::AddNeverEndingProgram(kTool);
  EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-remove"), 1);
  EXPECT_EQ(Out(), Dots(0));
  EXPECT_EQ(sim::M().clockMs, 0u);
  ExpectHandlesClosed();
}

TEST_F(ServiceToolTest, BlankInSystemDirectoryCannotStartAnotherProgram) {
  sim::M().systemDir = "C:\\Program Files\\system32";
  int hostileRuns = 0;
  sim::AddProgram("C:\\Program.exe", 0, 0, [&] { hostileRuns++; });
  sim::AddProgram("C:\\Program Files\\system32\\ktaspsvc.exe", 0);

  EXPECT_EQ(RunServiceTool("ktaspsvc.exe", "-remove"), 1);
  EXPECT_EQ(hostileRuns, 0);
  ASSERT_EQ(sim::M().process.processes.size(), 1u);
  EXPECT_EQ(sim::M().process.processes[0].program, "C:\\Program Files\\system32\\ktaspsvc.exe");

  // Unquoted, the same command line would have started the other program.
  char line[] = "C:\\Program Files\\system32\\ktaspsvc.exe -remove";
  STARTUPINFOA si{};
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi));
  EXPECT_EQ(hostileRuns, 1);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
}

TEST_F(ServiceToolTest, ProgramEffectsRunAtStartAndEnd) {
  std::vector<std::string> events;
  sim::AddProgram(kTool, 8000, 0, [&] { events.push_back("start@" + std::to_string(sim::M().clockMs)); },
                  [&] { events.push_back("end@" + std::to_string(sim::M().clockMs)); });
  RunServiceTool("ktaspsvc.exe", "-remove");
  EXPECT_EQ(events, (std::vector<std::string>{"start@0", "end@8000"}));
}

}  // namespace

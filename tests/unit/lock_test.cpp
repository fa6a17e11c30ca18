// The lock that keeps installations and removals one at a time: taken, waited for, abandoned,
// timed out, each of its calls failing; and the runs that take none.
#include <algorithm>

#include "catalogue.h"
#include "platform/win32.h"
#include "setup/lock.h"
#include "sim_test.h"

namespace {

const std::string kSys = "C:\\WINDOWS\\system32";
const std::string kDriver = kSys + "\\drivers\\tvx2\\";
const std::string kLog = "C:\\WINDOWS\\Logs\\TVX2\\setup.log";
const std::string kToolRun = "\n\n";  // the install run of a tool that ends at once
// What a first installation with -FU prints, as it did before there was a lock.
const std::string kInstalled = kBanner + kToolRun + kComplete;
const uint64_t kWaitMs = 20 * 60 * 1000;

void Package() {
  for (const char* name : kPackage) sim::AddFile(std::string("C:\\pkg\\") + name, name, 2000);
}
void Installed() {
  for (const char* name : kPackage) sim::AddFile(kDriver + name, name, 2000);
  sim::AddFile(kSys + "\\KTASPW.DLL", "lib", 2000);
}

// The time-outs of the waits on the lock: those before the first program starts.
std::vector<std::string> LockWaits() {
  std::vector<std::string> waits;
  for (const sim::CallRecord& c : sim::M().calls) {
    if (c.op == "CreateProcessA") break;
    if (c.op == "WaitForSingleObject") waits.push_back(c.args[1]);
  }
  return waits;
}

std::string LogText() { return sim::FileExists(kLog) ? sim::FileContents(kLog) : ""; }

class LockTest : public SimTest {
 protected:
  // Every call that changes a file or a key, starts a program or detects the card.
  static int Changes() {
    int n = 0;
    for (const char* op : {"CopyFileA", "MoveFileExA", "DeleteFileA", "SetFileAttributesA",
                           "RemoveDirectoryA", "CreateDirectoryA", "CreateProcessA",
                           "RegOpenKeyExA", "SetupDiGetClassDevsA", "HidD_GetHidGuid"})
      n += CountCallsBesideLog(op);
    return n;
  }
};

TEST_F(LockTest, OutcomesBesideAnotherRun) {
  struct Case {
    const char* name;
    void (*arrange)();
    std::vector<std::string> args;
    int code;
    std::string out;
    std::vector<std::string> waits;  // the time-outs of the waits on the lock
    int releases;                    // ReleaseMutex calls
    bool installs;
    uint64_t clockMs;                // the virtual time the lock's waits took
    std::string logged;              // a lock event of the log
  } cases[] = {
      {"alone", [] {}, {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED,
       kForcing + kInstalled, {"0"}, 1, true, 0, ""},
      {"another run ends after 90 s", [] { sim::HoldMutex(SETUP_LOCK_NAME, 90000); },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED,
       kForcing + kBanner + kWaiting + kToolRun + kComplete, {"0", "1200000"}, 1, true, 90000,
       "lock: taken after 90 seconds"},
      // SYSTEM's default security grants an administrator SYNCHRONIZE, and nothing more.
      {"a SYSTEM run ends after 90 s",
       [] { sim::HoldMutex(SETUP_LOCK_NAME, 90000, false, sim::Account::System); },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED,
       kForcing + kBanner + kWaiting + kToolRun + kComplete, {"0", "1200000"}, 1, true, 90000,
       "lock: taken after 90 seconds"},
      {"another run was killed holding it", [] { sim::HoldMutex(SETUP_LOCK_NAME, 0, true); },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED, kForcing + kInstalled, {"0"}, 1,
       true, 0, "lock: left by a run that ended without releasing it"},
      {"killed while this one waits", [] { sim::HoldMutex(SETUP_LOCK_NAME, 30000, true); },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED,
       kForcing + kBanner + kWaiting + kToolRun + kComplete, {"0", "1200000"}, 1, true, 30000,
       "lock: left by a run that ended without releasing it"},
      {"held for ever, unattended", [] { sim::HoldMutex(SETUP_LOCK_NAME); },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALL_IN_PROGRESS,
       kForcing + kBanner + kWaiting + kTimedOut, {"0", "1200000"}, 0, false, kWaitMs,
       "lock: still held after 20 minutes, nothing changed"},
      {"held for ever, attended: the closing pause", [] { sim::HoldMutex(SETUP_LOCK_NAME); },
       {"C:\\pkg\\setup.exe", "-fu"}, EXIT_INSTALL_IN_PROGRESS,
       kForcing + kBanner + kWaiting + kTimedOut + kClosing, {"0", "1200000"}, 0, false,
       kWaitMs, "outcome: exit code 1618, another run held the lock, nothing changed"},
      {"held for ever, silent", [] { sim::HoldMutex(SETUP_LOCK_NAME); },
       {"C:\\pkg\\setup.exe", "-n", "-fu"}, EXIT_INSTALL_IN_PROGRESS, "", {"0", "1200000"}, 0,
       false, kWaitMs, "lock: another installation or removal is running, waiting up to 20 "
       "minutes"},
      {"removal while held for ever",
       [] {
         Installed();
         sim::HoldMutex(SETUP_LOCK_NAME);
       },
       {"C:\\pkg\\setup.exe", "-u", "-x"}, EXIT_INSTALL_IN_PROGRESS,
       kBanner + kWaiting + kTimedOut, {"0", "1200000"}, 0, false, kWaitMs, ""},
      {"removal after another run", [] {
         Installed();
         sim::HoldMutex(SETUP_LOCK_NAME, 1000);
       },
       {"C:\\pkg\\setup.exe", "-u", "-x"}, EXIT_INSTALLED,
       kBanner + kWaiting + kRemoving + kRemoved, {"0", "1200000"}, 1, false, 1000, ""},
      // A failure to create or wait on the lock counts as a free lock.
      {"name's object withholds access", [] { sim::InjectFault("CreateMutexExA", ERROR_ACCESS_DENIED); },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED, kForcing + kInstalled, {}, 0, true,
       0, "lock \"Global\\KTA.TVX2.Setup\": not opened (error 5), going on without it"},
      {"name is another type of object, held for ever",
       [] {
         sim::HoldMutex(SETUP_LOCK_NAME);
         sim::InjectFault("CreateMutexExA", ERROR_INVALID_HANDLE);
       },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED, kForcing + kInstalled, {}, 0, true,
       0, "(error 6)"},
      {"first wait fails", [] { sim::InjectFault("WaitForSingleObject", ERROR_ACCESS_DENIED, "", 1); },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED, kForcing + kInstalled, {"0"}, 0,
       true, 0, "lock: wait failed (error 5), going on without it"},
      {"the long wait fails",
       [] {
         sim::HoldMutex(SETUP_LOCK_NAME);
         sim::InjectFault("WaitForSingleObject", ERROR_INVALID_HANDLE, "", 1, 1);
       },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED,
       kForcing + kBanner + kWaiting + kToolRun + kComplete, {"0", "1200000"}, 0, true, 0,
       "lock: wait failed (error 6), going on without it"},
      {"release fails", [] { sim::InjectFault("ReleaseMutex", ERROR_NOT_OWNER); },
       {"C:\\pkg\\setup.exe", "-fu", "-x"}, EXIT_INSTALLED, kForcing + kInstalled, {"0"}, 1,
       true, 0, ""},
  };
  for (const Case& c : cases) {
    sim::Reset();
    ResetRunState();
    Package();
    c.arrange();
    sim::PressKey(' ');
    uint64_t start = sim::M().clockMs;
    EXPECT_EQ(RunMain(c.args), c.code) << c.name;
    EXPECT_EQ(Out(), c.out) << c.name;
    EXPECT_EQ(LockWaits(), c.waits) << c.name;
    EXPECT_EQ(sim::CountCalls("ReleaseMutex"), c.releases) << c.name;
    EXPECT_EQ(sim::FileExists(kSys + "\\KTASPREM.EXE"), c.installs) << c.name;
    if (c.code == EXIT_INSTALL_IN_PROGRESS) {
      EXPECT_EQ(Changes(), 0) << c.name;
      EXPECT_TRUE(sim::PendingMoves().empty()) << c.name;
      EXPECT_EQ(sim::M().clockMs - start, c.clockMs) << c.name;
    }
    // Tool waits add their own time to the other run's.
    EXPECT_GE(sim::M().clockMs - start, c.clockMs) << c.name;
    EXPECT_NE(LogText().find(c.logged), std::string::npos) << c.name << "\n" << LogText();
    // Released and closed on every path; a lock that another run holds stays its.
    EXPECT_EQ(sim::Unreleased(), "") << c.name;
    EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Mutex), 0) << c.name;
    const sim::MutexObject* lock = sim::FindMutex(SETUP_LOCK_NAME);
    if (lock) EXPECT_NE(lock->owner, sim::MutexOwner::Installer) << c.name;
  }
}

TEST_F(LockTest, CreatedUnownedWithoutSecurityAttributesAfterTheLogAndReleasedBeforeThePause) {
  Package();
  sim::AddFile(kSys + "\\KTASPSVC.EXE", "old", 1000);
  sim::PressKey(' ');
  EXPECT_EQ(RunMain({"C:\\pkg\\setup.exe", "-fu"}), EXIT_INSTALLED);
  auto created = sim::CallsTo("CreateMutexExA");
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].args,
            (std::vector<std::string>{"SYSTEM 0x100000, Administrators 0x100000, protected",
                                      "Global\\KTA.TVX2.Setup", "0x0", "0x100000"}));
  // In order: the log open, the lock, the staging; the last tool run, the outcome, the
  // release and close, the closing pause.
  // Calls are named by their operation and, for the staging's, the package folder.
  std::vector<std::string> ops;
  for (const sim::CallRecord& c : sim::M().calls)
    ops.push_back(c.args.empty() || c.args[0].compare(0, 7, "C:\\pkg\\") != 0 ? c.op
                                                                          : "staging");
  auto first = [&ops](const std::string& op) {
    return (size_t)(std::find(ops.begin(), ops.end(), op) - ops.begin());
  };
  auto last = [&ops](const std::string& op) {
    return ops.size() - 1 - (size_t)(std::find(ops.rbegin(), ops.rend(), op) - ops.rbegin());
  };
  size_t lock = first("CreateMutexExA");
  EXPECT_LT(first("CreateFileA"), lock);  // the log
  EXPECT_EQ(ops[lock + 3], "WaitForSingleObject");  // after the descriptor's two SIDs are freed
  EXPECT_LT(lock, first("staging"));
  EXPECT_LT(lock, first("CreateProcessA"));
  size_t release = first("ReleaseMutex");
  EXPECT_LT(last("CreateProcessA"), release);
  EXPECT_EQ(ops[release + 1], "CloseHandle");
  EXPECT_LT(release, first("ReadConsoleInputA"));
  size_t outcome = LogText().find("outcome: exit code 0");
  EXPECT_NE(outcome, std::string::npos);

  // A removal takes it before its first step too.
  sim::Reset();
  Installed();
  sim::AddProgram(kSys + "\\KTASPSVC.EXE", 0);
  EXPECT_EQ(RunMain({"C:\\pkg\\setup.exe", "-u", "-x"}), EXIT_INSTALLED);
  ops.clear();
  for (const sim::CallRecord& c : sim::M().calls) ops.push_back(c.op);
  EXPECT_LT(first("CreateMutexExA"), first("CreateProcessA"));
  EXPECT_LT(first("CreateMutexExA"), first("DeleteFileA"));
  EXPECT_LT(last("DeleteFileA"), first("ReleaseMutex"));
}

TEST_F(LockTest, RunsThatChangeNothingTakeNone) {
  const std::vector<std::vector<std::string>> runs = {
      {"C:\\pkg\\setup.exe", "-h"},        {"C:\\pkg\\setup.exe", "/H", "-U"},
      {"C:\\pkg\\setup.exe", "/?"},        {"C:\\pkg\\setup.exe", "-x", "-F"},
      {"C:\\pkg\\setup.exe", "-FX"},       {"C:\\" + std::string(300, 'a') + "\\setup", "-x"}};
  for (const std::vector<std::string>& args : runs) {
    sim::Reset();
    ResetRunState();
    Package();
    sim::HoldMutex(SETUP_LOCK_NAME);
    RunMain(args);
    EXPECT_EQ(sim::CountCalls("CreateMutexExA"), 0) << args[1];
    EXPECT_EQ(Out().find(kWaiting), std::string::npos) << args[1];
  }
  sim::Reset();
  ResetRunState();
  sim::M().systemDirFails = true;
  sim::HoldMutex(SETUP_LOCK_NAME);
  EXPECT_EQ(RunMain({"C:\\pkg\\setup.exe", "-u", "-x"}), EXIT_FAILED);
  EXPECT_EQ(sim::CountCalls("CreateMutexExA"), 0);
}

// The simulated mutexes as Windows has them: one object per name, owned by one thread.
TEST_F(LockTest, SimulatedMutexes) {
  HANDLE a = CreateMutexA(nullptr, FALSE, "Global\\m");
  ASSERT_NE(a, (HANDLE)NULL);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
  HANDLE b = CreateMutexA(nullptr, TRUE, "Global\\m");  // exists: not taken by the open
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  HANDLE other = CreateMutexA(nullptr, FALSE, "Global\\M");  // names compare exactly
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SUCCESS);
  EXPECT_FALSE(ReleaseMutex(b));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_OWNER);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);  // the owner's again: recursive
  EXPECT_TRUE(ReleaseMutex(a));
  CloseHandle(a);
  CloseHandle(b);
  EXPECT_NE(sim::Unreleased().find("mutex Global\\M"), std::string::npos);  // still open
  CloseHandle(other);
  // Owned, its handles all closed: it died with them (no other process had it open).
  EXPECT_EQ(sim::FindMutex("Global\\m"), nullptr);
  EXPECT_EQ(sim::Unreleased(), "");

  // Another process holds it for ever: the whole wait passes on the clock; an endless wait
  // would hang, and says so.
  sim::HoldMutex("Global\\h");
  HANDLE h = CreateMutexA(nullptr, FALSE, "Global\\h");
  EXPECT_EQ(WaitForSingleObject(h, 60000), WAIT_TIMEOUT);
  EXPECT_EQ(sim::M().clockMs, 60000u);
  EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_FAILED);
  CloseHandle(h);
  EXPECT_NE(sim::FindMutex("Global\\h"), nullptr);  // the other process keeps it alive

  // A run killed owning it leaves it abandoned for a run that has it open too.
  sim::HoldMutex("Global\\k", 0);  // open elsewhere, free
  HANDLE k = CreateMutexA(nullptr, FALSE, "Global\\k");
  EXPECT_EQ(WaitForSingleObject(k, 0), WAIT_OBJECT_0);
  EXPECT_NE(sim::Unreleased().find("mutex Global\\k owned"), std::string::npos);
  sim::KillInstaller();
  EXPECT_TRUE(sim::FindMutex("Global\\k")->abandoned);
  k = CreateMutexA(nullptr, FALSE, "Global\\k");
  EXPECT_EQ(WaitForSingleObject(k, 0), WAIT_ABANDONED);
  EXPECT_EQ(WaitForSingleObject(k, 0), WAIT_OBJECT_0);  // said once
  sim::PowerCutRestart();
  EXPECT_EQ(sim::FindMutex("Global\\k"), nullptr);  // no object outlives the restart

  // Security: SYSTEM's default lets an administrator wait, not have every right; the label of
  // SYSTEM's object refuses a High-level process write-type rights that its DACL grants.
  auto opens = [](const char* name, DWORD rights) {
    HANDLE h = CreateMutexExA(nullptr, name, 0, rights);
    if (h) CloseHandle(h);
    return h != NULL;
  };
  sim::HoldMutex("Global\\s", sim::kForever, false, sim::Account::System);
  EXPECT_EQ(CreateMutexA(nullptr, FALSE, "Global\\s"), (HANDLE)NULL);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_TRUE(opens("Global\\s", SYNCHRONIZE));
  sim::M().process.account = sim::Account::System;
  HANDLE all = CreateMutexA(nullptr, FALSE, "Global\\l");  // no descriptor: all for both
  sim::M().process.account = sim::Account::Administrator;
  EXPECT_FALSE(opens("Global\\l", WRITE_DAC));
  EXPECT_TRUE(opens("Global\\l", SYNCHRONIZE | MUTEX_MODIFY_STATE));
  CloseHandle(all);
}

}  // namespace

// The verification (-V) and the Application event at the end of a run.
#include <algorithm>
#include <functional>

#include "actions/actions.h"
#include "setup/events.h"
#include "setup/lock.h"
#include "sim_test.h"

using VerifyTest = SimTest;

static const std::string kSys = "C:\\WINDOWS\\system32\\", kDrv = kSys + "drivers\\tvx2\\";
static const std::string kWow = kSys + "..\\sysWOW64\\KTASPW.DLL", kLog = "c:\\windows\\logs\\tvx2\\setup.log";
static const std::string kEvent = "HKLM\\" EVENT_SOURCE_KEY;

// A whole installation: the package in the driver directory, its placements, the entry.
static void Installed() {
  for (const char* name : {"SETUP.EXE", "KTASPW.DLL", "KTASPW32.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"})
    sim::AddFile(kDrv + name, std::string("package ") + name, 2000);
  for (const char* name : {"KTASPW.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"})
    sim::AddFile(kSys + name, std::string("package ") + name, 2000);
  sim::AddFile(kWow, "package KTASPW32.DLL", 2000);
  proof::AddEntry("2.1.0.0");
}

// A copy of ours beside the destination, moved onto it at the restart.
static void Pending(const std::string& dest, const std::string& bytes) {
  std::string copy = dest.substr(0, dest.rfind('\\') + 1) + "tvx1A.tmp";
  sim::AddFile(copy, bytes, 2000);
  sim::M().files.pendingMoves.push_back({sim::FullPath(copy), sim::FullPath(dest), true});
}

TEST_F(VerifyTest, OutcomesChangeNothing) {
  const std::string kBanner = MessageTable[MSG_BANNER], kFailed = MessageTable[MSG_FAILED];
  const std::string kWhole = "The KTA TVX II software, version 2.1.0.0, is installed and whole.\n";
  struct Row {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> args;
    int exitCode;
    std::string findings;  // the lines between the banner and the outcome
    DWORD event;           // 0: none
  } rows[] = {
      {"whole", [] {}, {"-V"}, 0, kWhole, 0},
      {"the 64-bit library missing", [] { sim::RemoveFile(kSys + "KTASPW.DLL"); }, {"-v"}, 2,
       kSys + "KTASPW.DLL is missing.\n" + kFailed, 302},
      {"a tool of other bytes, same size and time",
       [] { sim::AddFile(kSys + "KTASPREM.EXE", "package KTASPREX.EXE", 2000); }, {"/V"}, 2,
       kSys + "KTASPREM.EXE differs from " + kDrv + "KTASPREM.EXE.\n" + kFailed, 302},
      {"the service tool missing", [] { sim::RemoveFile(kSys + "KTASPSVC.EXE"); }, {"-V"}, 2,
       kSys + "KTASPSVC.EXE is missing.\n" + kFailed, 302},
      {"the 32-bit library of other bytes", [] { sim::AddFile(kWow, "package KTASPW.DLL ", 2000); },
       {"-V"}, 2, kWow + " differs from " + kDrv + "KTASPW32.DLL.\n" + kFailed, 302},
      {"the driver directory's SETUP.EXE missing", [] { sim::RemoveFile(kDrv + "SETUP.EXE"); },
       {"-V"}, 2, kDrv + "SETUP.EXE is missing.\n" + kFailed, 302},
      {"no entry", [] { RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY); },
       {"-V"}, 2, "The uninstall entry HKLM\\" UNINSTALL_KEY " is missing.\n" + kFailed, 302},
      // Shown as a console shows it: no escape sequence of the value's reaches the terminal.
      {"another version", [] { proof::AddEntry("2.0.0.0\x1b[2J"); }, {"-V"}, 2,
       "The uninstall entry HKLM\\" UNINSTALL_KEY " gives version 2.0.0.0?[2J, not 2.1.0.0.\n" + kFailed,
       302},
      {"a pending replacement that mends", [] {
         sim::AddFile(kSys + "KTASPW.DLL", "old", 1000);
         Pending(kSys + "KTASPW.DLL", "package KTASPW.DLL");
       }, {"-V"}, 1, "The KTA TVX II software, version 2.1.0.0, is whole once the machine restarts.\n",
       301},
      {"a pending replacement of other bytes", [] { Pending(kDrv + "KTASPW32.DLL", "other"); },
       {"-V"}, 2, kWow + " differs from " + kDrv + "KTASPW32.DLL.\n" + kFailed, 302},
      {"a pending deletion that breaks",
       [] { sim::M().files.pendingMoves.push_back({sim::FullPath(kWow), "", false}); }, {"-V"}, 2,
       kWow + " is deleted, moved away or replaced by another file at the restart.\n" + kFailed, 302},
      {"a file that cannot be read", [] { sim::InjectFault("ReadFile", 5, kSys + "KTASPSVC.EXE"); },
       {"-V"}, 2, kSys + "KTASPSVC.EXE cannot be read (error 5).\n" + kFailed, 302},
      {"a file held without sharing", [] { sim::HoldOpen(kDrv + "KTASPREM.EXE"); }, {"-V"}, 2,
       kDrv + "KTASPREM.EXE cannot be read (error 32).\n" + kFailed, 302},
      {"the restart's lists unreadable, a file missing", [] {
         sim::InjectFault("RegQueryValueExA", 5, SIM_SESSION_MANAGER_PATH "\\PendingFileRenameOperations");
         sim::RemoveFile(kDrv + "KTASPW.DLL");
       }, {"-V"}, 2, kDrv + "KTASPW.DLL is missing.\n" + MessageTable[MSG_VERIFY_RESTART_UNKNOWN] +
       kFailed, 302},
      {"not installed", [] { sim::Reset(); }, {"-V"}, 2,
       std::string(MessageTable[MSG_VERIFY_NOT_INSTALLED]) + kFailed, 0},
      {"silent", [] { sim::RemoveFile(kWow); }, {"-N", "-V"}, 2, "", 302},
      {"-V before -U: nothing removed", [] {}, {"-U", "-V"}, 0, kWhole, 0},
  };
  for (const Row& row : rows) {
    FixtureBegin();
    Installed();
    row.arrange();
    proof::Snapshot before = proof::TakeSnapshot();
    std::vector<std::string> args = {"D:\\pkg\\setup.exe"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    proof::Outcome outcome = proof::RunInstaller(args);
    EXPECT_EQ(outcome.exitCode, row.exitCode) << row.name;
    EXPECT_EQ(Out(), row.findings.empty() ? "" : kBanner + row.findings) << row.name;
    proof::RunRules rules{false, row.args[0] != "-N", 1000, {}, {}, false, {}, {kLog}, true};
    EXPECT_EQ(proof::CheckRun(rules, before, outcome), std::vector<std::string>()) << row.name;
    EXPECT_EQ(sim::M().events.reported.size(), row.event ? 1u : 0u) << row.name;
    if (row.event && !sim::M().events.reported.empty())
      EXPECT_EQ(sim::M().events.reported[0].id, row.event) << row.name;
    EXPECT_EQ(sim::CountCalls("CreateProcessA") + sim::CountCalls("CopyFileA"), 0) << row.name;
  }
}

TEST_F(VerifyTest, EventTable) {
  const std::string kText = " ended with exit code ";
  struct Row {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> args;
    DWORD id;  // 0: no event
    WORD type;
    std::string first;  // the text's first line
  } rows[] = {
      {"installation 0", [] {
         for (const char* name : {"SETUP.EXE", "KTASPW.DLL", "KTASPW32.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"})
           sim::AddFile(std::string("D:\\pkg\\") + name, name, 2000);
       }, {"-FU", "-X"}, 100,
       EVENTLOG_INFORMATION_TYPE, "Installation" + kText + "0: installed. Version 2.1.0.0."},
      {"installation 8", [] {}, {"-X", "a\r\nb"}, 108, EVENTLOG_WARNING_TYPE,
       "Installation" + kText + "8: no device of the card. Version 2.1.0.0."},
      {"installation 2", [] { sim::M().systemDirFails = true; }, {"-X"}, 102, EVENTLOG_ERROR_TYPE,
       "Installation" + kText + "2: failed. Version 2.1.0.0."},
      {"installation 1618", [] { sim::HoldMutex(SETUP_LOCK_NAME); }, {"-N"}, 118,
       EVENTLOG_WARNING_TYPE, "Installation" + kText + "1618: another run held the lock, nothing changed. Version 2.1.0.0."},
      {"removal 0", Installed, {"-U", "-N"}, 200, EVENTLOG_INFORMATION_TYPE,
       "Removal" + kText + "0: removed. Version 2.1.0.0."},
      {"removal 2", [] { Installed(); sim::InjectFault("DeleteFileA", 5); sim::RefuseDelayedMoves(); },
       {"-U", "-N"}, 202, EVENTLOG_ERROR_TYPE, "Removal" + kText + "2: failed. Version 2.1.0.0."},
      {"verification 2", [] { Installed(); sim::RemoveFile(kWow); }, {"-V"}, 302, EVENTLOG_ERROR_TYPE,
       "Verification" + kText + "2: not whole, or not verified. Version 2.1.0.0."},
      {"verification 0", Installed, {"-V"}, 0, 0, ""},
      {"detect only", [] {}, {"-H"}, 0, 0, ""},
      {"-V after -H", Installed, {"-H", "-V"}, 0, 0, ""},
      {"usage", [] {}, {"/?"}, 0, 0, ""},
      {"an invalid force code", [] {}, {"-FX"}, 0, 0, ""},
  };
  for (const Row& row : rows) {
    FixtureBegin();
    row.arrange();
    std::vector<std::string> args = {"D:\\pkg\\setup.exe"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    proof::RunInstaller(args);
    const std::vector<sim::EventRecord>& events = sim::M().events.reported;
    ASSERT_EQ(events.size(), row.id ? 1u : 0u) << row.name;
    EXPECT_EQ(sim::KeyExists(kEvent), row.id != 0) << row.name;
    if (!row.id) continue;
    EXPECT_EQ(events[0].source, "TVX2 Setup") << row.name;
    EXPECT_EQ(events[0].id, row.id) << row.name;
    EXPECT_EQ(events[0].type, row.type) << row.name;
    std::string line = args[0];
    for (size_t i = 1; i < args.size(); i++) line += " " + args[i];
    std::replace_if(line.begin(), line.end(), [](char c) { return c > 0 && c < ' '; }, '?');
    EXPECT_EQ(events[0].strings[0], row.first + "\r\nCommand line: " + line +
                                        "\r\nRun log: C:\\WINDOWS\\Logs\\TVX2\\setup.log") << row.name;
    EXPECT_EQ(sim::ValuesOf(kEvent).size(), 3u) << row.name;
    EXPECT_TRUE(proof::IsEventSourceKey(kEvent)) << row.name;
  }

  // A source that a cut run left without its message file is completed. Neither a source that
  // cannot be opened nor an event that cannot be written changes what the run prints or its
  // exit code; a key that cannot be created does not keep the event from being written.
  struct Fault {
    const char* op;
    size_t events, values;
    const char* logged;
  } faults[] = {{"RegisterEventSourceA", 0, 3, "event 108: source not opened (error 5)"},
                {"ReportEventA", 0, 3, "event 108: not reported (error 5)"},
                {"RegCreateKeyExA", 1, 1, "event source \"HKLM\\" EVENT_SOURCE_KEY "\": not created (error 5)"},
                {"", 1, 3, "outcome: "}};
  for (const Fault& f : faults) {
    FixtureBegin();
    sim::AddKey(kEvent);
    sim::SetDwordValue(kEvent, "TypesSupported", 1);
    if (f.op[0]) sim::InjectFault(f.op, 5);
    EXPECT_EQ(RunMain({"D:\\pkg\\setup.exe", "-X"}), EXIT_DEVICE_NOT_FOUND) << f.op;
    EXPECT_EQ(Out(), std::string(MessageTable[MSG_BANNER]) + MessageTable[MSG_DEVICE_NOT_FOUND] +
                         MessageTable[MSG_FAILED]) << f.op;
    EXPECT_EQ(sim::M().events.reported.size(), f.events) << f.op;
    EXPECT_EQ(sim::ValuesOf(kEvent).size(), f.values) << f.op;
    EXPECT_NE(sim::FileContents(kLog).find(f.logged), std::string::npos) << f.op;
  }
  // One registered otherwise is left as it is.
  sim::SetValue(kEvent, "EventMessageFile", REG_EXPAND_SZ, "ours");
  RunMain({"D:\\pkg\\setup.exe", "-X"});
  std::string data;
  EXPECT_TRUE(sim::GetValue(kEvent, "EventMessageFile", nullptr, &data) && data == "ours");
}

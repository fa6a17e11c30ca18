// The verification (-V) and the Application event at the end of a run.
#include <algorithm>
#include <functional>

#include "actions/actions.h"
#include "catalogue.h"
#include "setup/events.h"
#include "setup/lock.h"
#include "sim_test.h"

using VerifyTest = SimTest;
static const std::string kSys = "C:\\WINDOWS\\system32\\", kDrv = kSys + "drivers\\tvx2\\",
                         kWow = kSys + "..\\sysWOW64\\KTASPW.DLL", kEvent = "HKLM\\" EVENT_SOURCE_KEY,
                         kLog = "C:\\WINDOWS\\Logs\\TVX2\\setup.log";

// A whole installation; a package folder alone when `dir` is another.
static void Installed(const std::string& dir = kDrv) {
  for (const char* name : kPackage) sim::AddFile(dir + name, std::string("package ") + name, 2000);
  if (dir != kDrv) return;
  for (int i : {1, 3, 4}) sim::AddFile(kSys + kPackage[i], sim::FileContents(kDrv + kPackage[i]), 2000);
  sim::AddFile(kWow, "package KTASPW32.DLL", 2000);
  proof::AddEntry("2.1.0.0");
}

// Recorded for the restart: a copy of ours with these bytes moved onto `dest`, or its deletion.
static void Pending(const std::string& dest, const char* bytes) {
  std::string copy = bytes ? dest.substr(0, dest.rfind('\\') + 1) + "tvx1A.tmp" : dest;
  if (bytes) sim::AddFile(copy, bytes, 2000);
  sim::M().files.pendingMoves.push_back({sim::FullPath(copy), bytes ? sim::FullPath(dest) : "", true});
}

static HANDLE Writer = INVALID_HANDLE_VALUE;
static void Release() {  // the manifest written, and the running SETUP.EXE the package's
  proof::SetManifest(kDrv), sim::AddFile("D:\\pkg\\setup.exe", "package SETUP.EXE", 2000);
}  // another program's, open for writing

TEST_F(VerifyTest, OutcomesChangeNothing) {
  const std::string kWhole = "The KTA TVX II software, version 2.1.0.0, is installed and whole.\n",
                    kEntry = "The uninstall entry HKLM\\" UNINSTALL_KEY, kRestart = " at the restart.\n";
  struct Row {
    std::function<void()> arrange;
    std::vector<std::string> args;
    int exitCode;
    std::string out;  // after the banner; message 28 follows on exit 2
  } rows[] = {
      {[] {}, {"-V"}, 0, kWhole},
      {[] { sim::RemoveFile(kSys + "KTASPW.DLL"); }, {"-v"}, 2, kSys + "KTASPW.DLL is missing.\n"},
      {[] { sim::AddFile(kSys + "KTASPREM.EXE", "package KTASPREX.EXE", 2000); }, {"/V"}, 2,
       kSys + "KTASPREM.EXE differs from " + kDrv + "KTASPREM.EXE.\n"},
      {[] { sim::RemoveFile(kSys + "KTASPSVC.EXE"); }, {"-V"}, 2, kSys + "KTASPSVC.EXE is missing.\n"},
      {[] { sim::AddFile(kWow, "package KTASPW.DLL ", 2000); }, {"-V"}, 2, kWow + " differs from " + kDrv + "KTASPW32.DLL.\n"},
      {[] { RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY); }, {"-V"}, 2, kEntry + " is missing.\n"},
      // No escape sequence of the value's reaches the console.
      {[] { proof::AddEntry("2.0.0.0\x1b[2J"); }, {"-V"}, 2, kEntry + " gives version 2.0.0.0?[2J, not 2.1.0.0.\n"},
      {[] { sim::AddFile(kSys + "KTASPW.DLL", "old", 1000), Pending(kSys + "KTASPW.DLL", "package KTASPW.DLL"); },
       {"-V"}, 1, "The KTA TVX II software, version 2.1.0.0, is whole once the machine restarts.\n"},
      {[] { Pending(kDrv + "KTASPW32.DLL", "other"); }, {"-V"}, 2, kWow + " differs from " + kDrv + "KTASPW32.DLL.\n"},
      {[] { Pending(kWow, nullptr); }, {"-V"}, 2, kWow + " is deleted, moved away or replaced by another file" + kRestart},
      {[] { sim::HoldOpen(kDrv + "KTASPREM.EXE"), sim::InjectFault("ReadFile", 5, kSys + "KTASPSVC.EXE"); }, {"-V"}, 2,
       kDrv + "KTASPREM.EXE cannot be read (error 32).\n" + kSys + "KTASPSVC.EXE cannot be read (error 5).\n"},
      {[] { sim::InjectFault("RegQueryValueExA", 5), sim::RemoveFile(kDrv + "KTASPW.DLL"); }, {"-V"}, 2,
       kDrv + "KTASPW.DLL is missing.\nHKLM\\" UNINSTALL_KEY " cannot be read (error 5).\n" +
       kRestartUnknown},
      {[] { sim::Reset(); }, {"-V"}, 2, kNotInstalled},  // and no event
      {[] { sim::RemoveFile(kDrv + "SETUP.EXE"); }, {"-N", "-V"}, 2, ""},
      {[] {}, {"-U", "-V"}, 0, kWhole},  // -V goes before -U: nothing removed
      {[] {}, {"-H", "-V"}, 8, kNoDevice + kFailed},  // -H only detects
      // A difference past the first read, found; a writer that shares reads does not hide a file.
      {[] { sim::AddFile(kDrv + "KTASPW.DLL", std::string(9000, 'a'), 2000), sim::AddFile(kSys + "KTASPW.DLL", std::string(8999, 'a') + "b", 2000);
            Writer = CreateFileA((kSys + "KTASPW.DLL").c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL); },
       {"-V"}, 2, kSys + "KTASPW.DLL differs from " + kDrv + "KTASPW.DLL.\n"},
      // A copy of ours that is gone, named once.
      {[] { Pending(kDrv + "KTASPW32.DLL", "package KTASPW32.DLL"), sim::RemoveFile(kDrv + "tvx1A.tmp"); }, {"-V"}, 2,
       kDrv + "tvx1A.tmp is missing.\n"},
      {[] { Pending(kDrv + "SETUP.EXE", "package SETUP.EXE"), sim::RemoveFile(kDrv + "tvx1A.tmp"); }, {"-V"}, 2,
       kDrv + "tvx1A.tmp is missing.\n"},  // one that nothing is compared with
      {[] { Pending(kDrv.substr(0, kDrv.size() - 1), nullptr); }, {"-V"}, 2,
       kDrv.substr(0, kDrv.size() - 1) + " is deleted, moved away or replaced by another file" + kRestart},
      // No driver directory and an entry that cannot be read: findings, not "not installed".
      {[] { for (const char* name : kPackage) sim::RemoveFile(kDrv + name);
            RemoveDirectoryA(kDrv.c_str()), sim::InjectFault("RegOpenKeyExA", 5, "HKLM\\" UNINSTALL_KEY); }, {"-V"}, 2,
       kDrv + "SETUP.EXE is missing.\n" + kDrv + "KTASPW.DLL is missing.\n" + kDrv + "KTASPW32.DLL is missing.\n" + kDrv +
       "KTASPREM.EXE is missing.\n" + kDrv + "KTASPSVC.EXE is missing.\nHKLM\\" UNINSTALL_KEY " cannot be read (error 5).\n"},
      // Against the release's manifest: a file replaced alike in both places is found.
      // The release's SETUP.EXE is the one running, read from its start.
      {[] { Release(); }, {"-V"}, 0, kWhole},
      {[] { Release(), sim::AddFile("D:\\pkg\\setup.exe", "package SETUP.EXF", 2000); }, {"-V"}, 2,
       kDrv + "SETUP.EXE is not this release's file.\n"},
      {[] { Release(), sim::InjectFault("SetFilePointerEx", 5); }, {"-V"}, 2, "D:\\pkg\\setup.exe cannot be read (error 5).\n"},
      {[] { Release(), sim::AddFile(kDrv + "KTASPREM.EXE", "other", 2000), sim::AddFile(kSys + "KTASPREM.EXE", "other", 2000),
            sim::AddFile(kWow, "other", 2000); }, {"-V"}, 2,
       kDrv + "KTASPREM.EXE is not this release's file.\n" + kSys + "KTASPREM.EXE is not this release's file.\n" + kWow +
       " differs from " + kDrv + "KTASPW32.DLL.\n"},
  };
  for (const Row& row : rows) {
    FixtureBegin();
    Installed();
    row.arrange();
    proof::Snapshot before = proof::TakeSnapshot();
    std::vector<std::string> args = {"D:\\pkg\\setup.exe"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    proof::Outcome outcome = proof::RunInstaller(args);
    if (Writer != INVALID_HANDLE_VALUE) CloseHandle(Writer), Writer = INVALID_HANDLE_VALUE;
    EXPECT_EQ(outcome.exitCode, row.exitCode) << row.out;
    EXPECT_EQ(Out(), row.out.empty() ? "" : kBanner + row.out + (row.exitCode == 2 ? kFailed : ""));
    proof::RunRules rules{false, !row.out.empty(), 1000, {}, {}, false, {}, {sim::Lower(kLog)}, true};
    EXPECT_EQ(proof::CheckRun(rules, before, outcome), std::vector<std::string>()) << row.out;
    bool event = row.exitCode && row.out != kNotInstalled && row.args[0] != "-H";
    EXPECT_EQ(sim::M().events.reported.size(), event ? 1u : 0u) << row.out;
  }
}

TEST_F(VerifyTest, EventTable) {
  struct Row {
    std::function<void()> arrange;
    std::vector<std::string> args;
    DWORD id;  // 0: no event
    WORD type;
    std::string first;  // the text's first line, up to the version
  } rows[] = {
      {[] { Installed("D:\\pkg\\"); }, {"-FU", "-X"}, 100, EVENTLOG_INFORMATION_TYPE, "Installation ended with exit code 0: installed"},
      {[] {}, {"-X", "a\r\nb"}, 108, EVENTLOG_WARNING_TYPE, "Installation ended with exit code 8: no device of the card"},
      {[] { sim::HoldMutex(SETUP_LOCK_NAME); }, {"-N"}, 118, EVENTLOG_WARNING_TYPE,
       "Installation ended with exit code 1618: another run held the lock, nothing changed"},
      {[] { Installed(); }, {"-U", "-N"}, 200, EVENTLOG_INFORMATION_TYPE, "Removal ended with exit code 0: removed"},
      {[] { Installed(), sim::InjectFault("DeleteFileA", 5), sim::RefuseDelayedMoves(); }, {"-U", "-N"}, 202,
       EVENTLOG_ERROR_TYPE, "Removal ended with exit code 2: failed"},
      {[] { Installed(), sim::RemoveFile(kWow); }, {"-V"}, 302, EVENTLOG_ERROR_TYPE,
       "Verification ended with exit code 2: not whole, or not verified"},
      {[] { Installed(); }, {"-H", "-V"}, 0, 0, ""}, {[] {}, {"/?"}, 0, 0, ""}, {[] {}, {"-FX"}, 0, 0, ""},
  };
  for (const Row& row : rows) {
    FixtureBegin();
    row.arrange();
    std::vector<std::string> args = {"D:\\pkg\\setup.exe"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    proof::RunInstaller(args);
    std::string line = args[0];
    for (size_t i = 1; i < args.size(); i++) line += " " + args[i];
    std::replace_if(line.begin(), line.end(), [](char c) { return c > 0 && c < ' '; }, '?');
    const std::vector<sim::EventRecord>& events = sim::M().events.reported;
    ASSERT_EQ(events.size(), row.id ? 1u : 0u) << line;
    EXPECT_EQ(sim::KeyExists(kEvent) && proof::IsEventSourceKey(kEvent) && sim::ValuesOf(kEvent).size() == 3, row.id != 0);
    if (!row.id) continue;
    EXPECT_EQ(events[0].source + " " + std::to_string(events[0].id) + " " + std::to_string(events[0].type),
              "TVX2 Setup " + std::to_string(row.id) + " " + std::to_string(row.type));
    EXPECT_EQ(events[0].strings, std::vector<std::string>{row.first + ". Version 2.1.0.0.\r\nCommand line: " + line +
                                                          "\r\nRun log: " + kLog});
  }

  // A source that a cut run left without its message file is completed; failures to open it or
  // write the event change nothing printed, nor the exit code; an uncreated key does not keep
  // the event from being written. A source registered otherwise stays as it is.
  struct Fault {
    const char* op;
    size_t eventsAndValues;
    const char* logged;
  } faults[] = {{"RegisterEventSourceA", 3, "event 108: source not opened (error 5)"},
                {"ReportEventA", 3, "event 108: not reported (error 5)"},
                {"RegCreateKeyExA", 11, EVENT_SOURCE "\": not created (error 5)"}, {"", 13, ""}};
  for (const Fault& f : faults) {
    FixtureBegin();
    sim::AddKey(kEvent);
    sim::SetDwordValue(kEvent, "TypesSupported", 1);
    if (f.op[0]) sim::InjectFault(f.op, 5);
    EXPECT_EQ(RunMain({"D:\\pkg\\setup.exe", "-X"}), EXIT_DEVICE_NOT_FOUND) << f.op;
    EXPECT_EQ(Out(), kBanner + kNoDevice + kFailed);
    EXPECT_EQ(sim::M().events.reported.size() * 10 + sim::ValuesOf(kEvent).size(), f.eventsAndValues) << f.op;
    EXPECT_NE(sim::FileContents(kLog).find(f.logged), std::string::npos) << f.op;
  }
  sim::SetValue(kEvent, "EventMessageFile", REG_EXPAND_SZ, "ours");
  RunMain({"D:\\pkg\\setup.exe", "-X"});
  EXPECT_EQ(sim::ValuesOf(kEvent)[1].data, "ours");  // by name: CustomSource, EventMessageFile, ...
}

// The run log: its lines and events, where it goes, its rotation, and that a log which cannot be
// opened or written changes nothing a run prints, returns or does.
#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

#include "catalogue.h"
#include "platform/win32.h"
#include "sim_test.h"
#include "support/log.h"

namespace {

const std::string kSys = "C:\\WINDOWS\\system32";
const std::string kDriver = kSys + "\\drivers\\tvx2\\";
const std::string kLog = "C:\\WINDOWS\\Logs\\TVX2\\setup.log";

// The machines of the table tests: each arranges the simulated machine for one kind of run.
struct Machine {
  const char* name;
  void (*arrange)();
  std::vector<std::string> args;
};

void NoCard() {}
void Package() {
  for (const char* name : kPackage) sim::AddFile(std::string("C:\\pkg\\") + name, name, 2000);
}
void CardWithoutUsb() {
  Package();
  sim::AddDevice("PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00\\4&1a2b&0&0008",
                 {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00"});
}
void LibraryInUse() {
  Package();
  sim::AddFile(kSys + "\\KTASPW.DLL", "old", 1000);
  sim::HoldOpen(kSys + "\\KTASPW.DLL");
  sim::AddProgram(kSys + "\\ktaspsvc.exe", 7000);
  sim::AddKey(SIM_SERVICES_PATH "\\ktawdrsv");
}
void PlacementRefused() {
  Package();
  sim::AddFile(kSys + "\\KTASPREM.EXE", "old", 1000);
  sim::DenyAccess(kSys + "\\KTASPREM.EXE");
}
void Installed() {
  for (const char* name : kPackage) sim::AddFile(kDriver + name, name, 2000);
  sim::AddFile(kSys + "\\KTASPW.DLL", "lib", 2000);
  sim::AddProgram(kSys + "\\KTASPSVC.EXE", 0);
}

const std::vector<Machine>& Machines() {
  static const std::vector<Machine> machines = {
      {"no card, attended", NoCard, {"C:\\pkg\\setup.exe"}},
      {"card without USB", CardWithoutUsb, {"C:\\pkg\\setup.exe", "-x"}},
      {"library in use", LibraryInUse, {"C:\\pkg\\setup.exe", "-fu", "-x"}},
      {"placement refused, silent", PlacementRefused, {"C:\\pkg\\setup.exe", "-N", "-FU"}},
      {"removal", Installed, {"C:\\pkg\\setup.exe", "-u", "-x"}},
      {"detect only", CardWithoutUsb, {"C:\\pkg\\setup.exe", "/h"}},
  };
  return machines;
}

std::vector<std::string> Lines(const std::string& log) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(log.substr(start, end - start));
  EXPECT_EQ(start, log.size()) << "the log does not end with a line end";
  return lines;
}

// The event texts, without the time and process id, which every line must begin with.
std::vector<std::string> Events(const std::string& log) {
  static const std::regex head(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} 4242 )");
  std::vector<std::string> events;
  for (const std::string& line : Lines(log)) {
    EXPECT_TRUE(std::regex_search(line, head, std::regex_constants::match_continuous)) << line;
    EXPECT_LT(line.size() + 2, (size_t)LOG_LINE_SIZE + 1) << line;
    EXPECT_TRUE(proof::LegibleLogLine(line)) << line;
    events.push_back(line.size() > 29 ? line.substr(29) : line);
  }
  return events;
}

using LogTest = SimTest;

TEST_F(LogTest, InstallationWithAFileInUseRecordsEveryStepInOrder) {
  LibraryInUse();
  sim::AddFile(kSys + "\\ktawdrsv.exe", "watchdog", 0);
  ASSERT_EQ(RunMain({"C:\\pkg\\setup.exe", "-fu", "-x"}), EXIT_REBOOT_REQUIRED);
  std::string log = sim::FileContents(kLog);
  std::vector<std::string> events = Events(log);
  // The first line at the machine's clock; later ones after the tools' run times.
  EXPECT_EQ(log.substr(0, 29), "2026-03-09 08:30:00.000 4242 ");
  const std::vector<std::string> expected = {
      "start: version 2.1.0.0; command line: C:\\pkg\\setup.exe -fu -x; options: unattended "
      "force-U; SourceDir \"C:\\pkg\\\"; system directory \"C:\\WINDOWS\\system32\"",
      "signature of \"D:\\pkg\\SETUP.EXE\": none, the package's files are not checked",
      "HID probe: skipped, -FU counts the card as found",
      "decision: the card's USB function works, installing",
      "staging the package from \"C:\\pkg\\\\\" into \"" + kDriver + "\"",
      "copy \"C:\\pkg\\\\SETUP.EXE\" to \"" + kDriver + "SETUP.EXE\": copied (error 0)",
      "copy \"C:\\pkg\\\\KTASPW.DLL\" to \"" + kDriver + "KTASPW.DLL\": copied (error 0)",
      "copy \"C:\\pkg\\\\KTASPW32.DLL\" to \"" + kDriver + "KTASPW32.DLL\": copied (error 0)",
      "copy \"C:\\pkg\\\\KTASPREM.EXE\" to \"" + kDriver + "KTASPREM.EXE\": copied (error 0)",
      "copy \"C:\\pkg\\\\KTASPSVC.EXE\" to \"" + kDriver + "KTASPSVC.EXE\": copied (error 0)",
      "tool \"" + kSys + "\\ktawdrsv.exe\" -remove: started, ended with exit code 0 after 0.000 s",
      "refreshing the service tools from the driver directory",
      "copy \"" + kDriver + "KTASPREM.EXE\" to \"" + kSys + "\\KTASPREM.EXE\": copied (error 0)",
      "copy \"" + kDriver + "KTASPSVC.EXE\" to \"" + kSys + "\\KTASPSVC.EXE\": copied (error 0)",
      "legacy service key \"ktawdrsv\": access reset, deleted (error 0)",
      "tool \"" + kSys + "\\ktaspsvc.exe\" -remove: started, ended with exit code 0 after 7.000 s",
      "refreshing the service tools from the driver directory",
      "copy \"" + kDriver + "KTASPREM.EXE\" to \"" + kSys + "\\KTASPREM.EXE\": copied (error 0)",
      "copy \"" + kDriver + "KTASPSVC.EXE\" to \"" + kSys + "\\KTASPSVC.EXE\": copied (error 0)",
      "copy \"" + kDriver + "KTASPW.DLL\" to \"" + kSys +
          "\\KTASPW.DLL\": in use, scheduled for the restart (error 32)",
      "copy \"" + kDriver + "KTASPREM.EXE\" to \"" + kSys + "\\KTASPREM.EXE\": copied (error 0)",
      "copy \"" + kDriver + "KTASPSVC.EXE\" to \"" + kSys + "\\KTASPSVC.EXE\": copied (error 0)",
      "copy \"" + kDriver + "KTASPW32.DLL\" to \"" + kSys +
          "\\..\\sysWOW64\\KTASPW.DLL\": copied (error 0)",
      "tool \"" + kSys + "\\ktaspsvc.exe\" -install -TVX2: started, ended with exit code 0 after "
      "7.000 s",
      "installation sequence result 1 (restart needed)",
      "uninstall entry \"HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
      "TVX2HostSoftware\": created, version 2.1.0.0, 1 KB",
      "outcome: exit code 1, installed, a restart is needed",
  };
  EXPECT_EQ(events, expected);
  EXPECT_EQ(log.substr(log.rfind("\r\n", log.size() - 3) + 2, 23), "2026-03-09 08:30:14.000");
  // One append-only handle for the run, one write for each line, and nothing left open.
  // Opened without following a link at the name, renamable through the handle, and checked.
  std::vector<sim::CallRecord> opens;
  for (const sim::CallRecord& open : sim::CallsTo("CreateFileA"))
    if (open.args[0] == kLog) opens.push_back(open);
  ASSERT_EQ(opens.size(), 2u);  // the first finds no folder
  for (const sim::CallRecord& open : opens)
    EXPECT_EQ(open.args, (std::vector<std::string>{kLog, "0x10005", "0x7", "ptr", "1",
                                                   "0x200080", "NULL"}));
  // The log and the folder made for it let only administrators at them.
  for (const std::string& made : {kLog, kLog.substr(0, kLog.rfind('\\'))})
    EXPECT_EQ(sim::M().files.entries[sim::Lower(made)].security,
              "SYSTEM 0x1f01ff, Administrators 0x1f01ff, protected") << made;
  // The log's own check, and one for each package file read.
  EXPECT_EQ(sim::CountCalls("GetFileInformationByHandle"), 1 + (int)ReadOnce().size());
  EXPECT_EQ(sim::CallsTo("GetFinalPathNameByHandleA").at(0).args,
            (std::vector<std::string>{"ptr", "ptr", "520", "0x0"}));
  // Each line's write between the lock of the byte at 2^62 and its unlock; the copies' writes
  // (one each) beside them.
  EXPECT_EQ(sim::CountCalls("WriteFile"), (int)(expected.size() + Written().size()));
  std::vector<std::string> order;
  for (const sim::CallRecord& c : sim::M().calls) {
    bool locked = !order.empty() && order.back() == "LockFileEx";
    if (c.op == "LockFileEx" || c.op == "UnlockFileEx" || (c.op == "WriteFile" && locked))
      order.push_back(c.op);
  }
  const char* const turn[] = {"LockFileEx", "WriteFile", "UnlockFileEx"};
  for (size_t i = 0; i < order.size(); i++) EXPECT_EQ(order[i], turn[i % 3]) << i;
  EXPECT_EQ(order.size(), 3 * expected.size());
  EXPECT_EQ(sim::CallsTo("LockFileEx").at(0).args,
            (std::vector<std::string>{"ptr", "0x3", "0", "1", "0", "ptr"}));
  EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST_F(LogTest, EveryKindOfRunLogsItsPathAndOutcome) {
  struct Case {
    const char* name;
    void (*arrange)();
    std::vector<std::string> args;
    std::string answers;              // standard input
    std::vector<std::string> wanted;  // events that must be there, in this order
  } cases[] = {
      {"no card", NoCard, {"C:\\pkg\\setup.exe"}, "",
       {"HID probe: no HID interface of the card",
        "device scan: 0 devices examined; seen: none; answer 0",
        "decision: no device of the card, nothing installed",
        "outcome: exit code 8, no device of the card"}},
      {"card without USB", CardWithoutUsb, {"C:\\pkg\\setup.exe", "-x"}, "",
       {"device scan: 1 devices examined; seen: PCI; answer 1",
        "decision: the card is present without its USB function, installing anyway",
        "outcome: exit code 16, installed, but the card's USB function is not working"}},
      {"working card, detect only",
       [] { sim::AddHidInterface("\\\\?\\hid#vid_7a5c&pid_4003#1", 0x7A5C, 0x4003); },
       {"C:\\pkg\\setup.exe", "-h"}, "",
       {"HID probe: the card's HID interface answers",
        "decision: the card's USB function works, detect only",
        "outcome: exit code 0, the card's USB function works"}},
      {"placement refused, silent", PlacementRefused, {"C:\\pkg\\setup.exe", "-N", "-FU"}, "",
       {"start: version 2.1.0.0; command line: C:\\pkg\\setup.exe -N -FU; options: "
        "unattended no-messages force-U;",
        "copy \"" + kDriver + "KTASPREM.EXE\" to \"" + kSys + "\\KTASPREM.EXE\": failed (error 5)",
        "installation sequence result 2 (failed)", "outcome: exit code 2, failed"}},
      {"newer file kept after n",
       [] {
         Package();
         sim::AddFile(kSys + "\\KTASPW.DLL", "newer", 9000);
       },
       {"C:\\pkg\\setup.exe", "-fu"}, "n\n",
       {"copy \"" + kDriver + "KTASPW.DLL\" to \"" + kSys +
        "\\KTASPW.DLL\": kept the newer destination, the user answered n (error 0)",
        "outcome: exit code 0, installed"}},
      {"tool never ends, legacy key keeps its access",
       [] {
         Package();
         sim::AddNeverEndingProgram(kSys + "\\ktaspsvc.exe");
         sim::AddKey(SIM_SERVICES_PATH "\\ktawdrex");
         sim::InjectFault("RegSetKeySecurity", ERROR_ACCESS_DENIED);
       },
       {"C:\\pkg\\setup.exe", "-fu", "-q"}, "",
       {"legacy service key \"ktawdrex\": access not reset, not deleted",
        "tool \"" + kSys + "\\ktaspsvc.exe\" -remove: started, still running after 300.000 s, "
        "left running",
        "outcome: exit code 1, installed, a restart is needed"}},
      {"hid.dll missing: the probe says why, and the scan runs",
       [] {
         CardWithoutUsb();
         sim::AddHidInterface("\\\\?\\hid#vid_7a5c&pid_4001#1", 0x7A5C, 0x4001);
         sim::M().libraries.system.erase("hid.dll");
       },
       {"C:\\pkg\\setup.exe", "-h"}, "",
       {"HID probe: hid.dll not loaded from the system directory (error 126)",
        "HID probe: no HID interface of the card",
        "device scan: 1 devices examined; seen: PCI; answer 1",
        "outcome: exit code 16"}},
      {"system directory unusable", [] { sim::M().systemDirFails = true; },
       {"C:\\pkg\\setup.exe", "-U", "-x"}, "",
       {"start: version 2.1.0.0; command line: C:\\pkg\\setup.exe -U -x; options: unattended "
        "remove; SourceDir \"C:\\pkg\\\"; system directory \"\" (unusable)",
        "outcome: exit code 2, failed"}},
  };
  for (const Case& c : cases) {
    sim::Reset();
    ResetRunState();
    c.arrange();
    sim::SetStdin(c.answers);
    sim::PressKey(' ');
    RunMain(c.args);
    std::vector<std::string> events = Events(sim::FileContents(kLog));
    size_t at = 0;
    for (const std::string& w : c.wanted) {
      while (at < events.size() && events[at].compare(0, w.size(), w) != 0) at++;
      EXPECT_LT(at, events.size()) << c.name << ": no \"" << w << "\" in order";
    }
  }
}

TEST_F(LogTest, WhereTheLogGoes) {
  struct Case {
    std::string option;  // "" for none
    std::string file;    // the log written, in the spelling it was created with; "" for none
  } cases[] = {
      {"", kLog},
      {"/LOG:C:\\WINDOWS\\Temp\\TVX-Setup.Log", "C:\\WINDOWS\\Temp\\TVX-Setup.Log"},
      {"-log:c:\\windows\\temp\\MixedCase.txt", "c:\\windows\\temp\\MixedCase.txt"},
      {"/Log:", kLog},
      {"/LOG:c:\\windows\\LOGS\\tvx2\\Deploy.log", "c:\\windows\\LOGS\\tvx2\\Deploy.log"},  // folders made
      {"/LOG:NUL", ""},
      {"-log:nul", ""},
      {"/LOG:C:\\" + std::string(600, 'x'), ""},  // longer than a path: none rather than a cut one
      // A package file's name, wherever: it would be rotated away, written into and placed.
      {"/LOG:D:\\pkg\\KTASPREM.EXE", ""},
      {"/LOG:D:\\pkg\\KTASPREM.EXE\\.", ""},  // the full path's name, not the one typed
      {"-log:ktaspw.dll", ""},
      {"/LOG:C:\\ops\\KTASPSVC.EXE", ""},
      {"/LOG:KtAsPw32.Dll", ""},
      {"/LOG:E:\\Setup.exe", ""},
      // Only NUL itself is no log.
      {"/LOG:NULLIFY.LOG", "C:\\NULLIFY.LOG"},
  };
  const std::string cutLog = "C:\\WINDOWS\\Temp\\run.log";
  for (const Case& c : cases) {
    sim::Reset();
    ResetRunState();
    // A run of the same process before, stopped short while its log was open: its handle is
    // not this run's log.
    RunMain({"setup", "-x", "/LOG:" + cutLog});
    const std::vector<sim::CallRecord>& calls = sim::M().calls;
    int64_t firstWrite = std::find_if(calls.begin(), calls.end(), [](const sim::CallRecord& r) {
                           return r.op == "WriteFile";
                         }) - calls.begin();
    sim::Reset();
    sim::M().cutCall = firstWrite + 2;  // the first line written, the lock not yet given back
    EXPECT_THROW(RunMain({"setup", "-x", "/LOG:" + cutLog}), sim::PowerCut);
    std::string cutLines = sim::FileContents(cutLog);
    ASSERT_EQ(Events(cutLines).size(), 1u);
    sim::M().cutCall = 0;
    sim::M().calls.clear();
    std::vector<std::string> args = {"setup", "-x"};
    if (!c.option.empty()) args.push_back(c.option);
    EXPECT_EQ(RunMain(args), EXIT_DEVICE_NOT_FOUND) << c.option;
    EXPECT_EQ(sim::FileContents(cutLog), cutLines) << c.option;
    if (c.file.empty()) {
      for (const sim::CallRecord& open : sim::CallsTo("CreateFileA"))
        EXPECT_EQ(open.args[0], sim::kUnarrangedImage) << c.option;  // only its own file
      EXPECT_EQ(sim::CountCalls("WriteFile"), 0) << c.option;
      EXPECT_FALSE(sim::DirectoryExists("C:\\WINDOWS\\Logs")) << c.option;
      continue;
    }
    auto entry = sim::M().files.entries.find(sim::Lower(c.file));
    ASSERT_NE(entry, sim::M().files.entries.end()) << c.option;
    EXPECT_EQ(entry->second.path, c.file);
    EXPECT_EQ(Events(entry->second.contents).back(), "outcome: exit code 8, no device of the card");
    if (c.file != kLog) EXPECT_FALSE(sim::FileExists(kLog)) << c.option;
  }
}

// Just before the rotation's own open, another file takes the log's name: its index is the log's
// with the bits of `flip` changed.
void SwapLog(uint64_t flip) {
  sim::ActBefore("CreateFileA",
                 [flip] { sim::M().files.entries[sim::Lower(kLog)].index ^= flip; }, 2);
}

// A log over 1 MiB is renamed to "<log>.1" through the handle that was checked and whose size
// was read, replacing whatever has that name (a link itself, never what it leads to); the run
// then logs to a new file, checked as the first. A rename that cannot be done leaves the log
// growing, and the next run renames it.
TEST_F(LogTest, RunsAppendAndALogOverOneMebibyteIsRotatedFirst) {
  const std::string kOlder = kLog + ".1";
  const size_t kOver = LOG_ROTATE_BYTES + 1;
  struct Case {
    const char* name;
    size_t before;  // bytes in the log before the run
    void (*arrange)();
    bool rotated;
  } cases[] = {
      {"empty", 0, [] {}, false},
      {"at the limit", LOG_ROTATE_BYTES, [] {}, false},
      {"past the limit", kOver, [] {}, true},
      {"past the limit, the older name a link to a system file", kOver,
       [] {
         sim::RemoveFile(kLog + ".1");
         sim::AddSymbolicLink(kLog + ".1", kSys + "\\config\\SYSTEM");
       },
       true},
      {"rename refused", kOver,
       [] { sim::InjectFault("SetFileInformationByHandle", ERROR_ACCESS_DENIED, "", 1); }, false},
      {"new name not convertible", kOver,
       [] { sim::InjectFault("MultiByteToWideChar", ERROR_NO_UNICODE_TRANSLATION, "", 1); },
       false},
      {"another file put at the name, the high half of its index the log's", kOver, [] { SwapLog(1); }, false},
      {"another file put at the name, the low half of its index the log's", kOver, [] { SwapLog(1ull << 32); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    ResetRunState();
    std::string before(c.before, 'o');
    if (c.before) sim::AddFile(kLog, before, 0);
    sim::AddFile(kOlder, "older", 0);
    sim::AddFile(kSys + "\\config\\SYSTEM", "hive", 0);
    c.arrange();
    RunMain({"setup", "-x"});
    std::string log = sim::FileContents(kLog);
    EXPECT_EQ(sim::FileContents(kSys + "\\config\\SYSTEM"), "hive");
    // Only handles touch the log: nothing looks it up or moves it by its name.
    std::vector<std::string> ops;
    for (const sim::CallRecord& call : sim::M().calls) {
      if (call.op == "GetLocalTime") break;  // the first line
      if (call.op != "GetFullPathNameA" && call.op != "CreateDirectoryA") ops.push_back(call.op);
    }
    EXPECT_EQ(sim::CountCalls("FindFirstFileA") + sim::CountCalls("MoveFileExA"), 0);
    if (c.rotated) {
      EXPECT_TRUE(sim::FileContents(kOlder) == before);
      EXPECT_EQ(sim::FileAttributes(kOlder), (DWORD)FILE_ATTRIBUTE_NORMAL);
      EXPECT_EQ(log.compare(0, 23, "2026-03-09 08:30:00.000"), 0);
      // The log is not made new; the one there is opened without deletion access, which
      // only the rotation's own handle to the same file has.
      const std::vector<std::string> handled = {
          "CreateFileA", "CreateFileA", "GetFileInformationByHandle", "GetFinalPathNameByHandleA",
          "GetLongPathNameA", "MultiByteToWideChar", "CreateFileA", "GetFileInformationByHandle",
          "SetFileInformationByHandle", "CloseHandle", "CloseHandle", "CreateFileA",
          "GetFileInformationByHandle", "GetFinalPathNameByHandleA", "GetLongPathNameA",
          "FreeSid", "FreeSid"};
      auto opens = sim::CallsTo("CreateFileA");
      EXPECT_EQ(opens.at(1).args[1] + opens.at(1).args[4], "0x53");
      EXPECT_EQ(opens.at(2).args[1] + opens.at(2).args[4], "0x100803");
      ASSERT_GE(ops.size(), handled.size());
      EXPECT_EQ(std::vector<std::string>(ops.end() - (long)handled.size(), ops.end()), handled);
      auto renames = sim::CallsTo("SetFileInformationByHandle");
      ASSERT_EQ(renames.size(), 1u);
      EXPECT_EQ(std::vector<std::string>(renames[0].args.begin(), renames[0].args.begin() + 3),
                (std::vector<std::string>{"ptr", "3", kOlder}));
      EXPECT_EQ(sim::CallsTo("MultiByteToWideChar").at(0).args,
                (std::vector<std::string>{"0", "0x8", kOlder, "-1", "ptr", "520"}));
    } else {
      EXPECT_EQ(sim::FileContents(kOlder), "older");
      EXPECT_TRUE(log.compare(0, c.before, before) == 0);
      EXPECT_GT(log.size(), c.before);
    }
    // A second run appends its lines after the first one's, or rotates what has now grown
    // past the limit.
    size_t first = log.size();
    ResetRunState();
    RunMain({"setup", "-x"});
    std::string after = sim::FileContents(kLog);
    if (first <= LOG_ROTATE_BYTES) {
      EXPECT_TRUE(after.compare(0, first, log) == 0);
      EXPECT_GT(after.size(), first + 100);
    } else {
      EXPECT_TRUE(sim::FileContents(kOlder) == log);
      EXPECT_LT(after.size(), 1000u);
    }
    EXPECT_EQ(sim::OpenHandles(), 0);
  }
}

// The files of the machine, each with its bytes, attributes and links.
std::map<std::string, std::string> Files() {
  std::map<std::string, std::string> files;
  for (const auto& e : sim::M().files.entries)
    files[e.first] = e.second.contents + "|" + std::to_string(e.second.attributes) + "|" +
                     std::to_string(e.second.links) + "|" + e.second.reparseTarget;
  return files;
}

// A log named where others may create files (the system's temporary folder) is written only
// when the handle is that very file: not a link at the name, not a file with another name,
// not a file reached through a junction above. Refused, or when a check cannot be made, the
// run prints, does and returns what it does with /LOG:NUL, and every file keeps its bytes.
TEST_F(LogTest, ALogReachedThroughALinkIsRefused) {
  static const std::string kTemp = "C:\\WINDOWS\\Temp\\";
  static const std::string kAsked = kTemp + "x.log";
  static const std::string kConfig = kSys + "\\config";
  static const std::string kVictim = kConfig + "\\x.log";
  static const auto shownAs = [](const std::string& finalPath) {
    sim::AddFile(kAsked, "earlier\r\n", 0);
    sim::M().files.entries[sim::Lower(kAsked)].finalPath = finalPath;
  };
  struct Case {
    const char* name;
    void (*arrange)();
    std::string asked;  // the name given with /LOG:
    bool written;
  } cases[] = {
      {"no file yet", [] {}, kAsked, true},
      {"a plain file", [] { sim::AddFile(kAsked, "earlier\r\n", 0); }, kAsked, true},
      {"letter case differs", [] { sim::AddFile(kAsked, "earlier\r\n", 0); },
       "c:\\windows\\TEMP\\X.LOG", true},
      {"named through an 8.3 short name",
       [] {
         sim::AddDirectory(kTemp + "Deployment Logs");
         sim::SetShortName(kTemp + "Deployment Logs", "DEPLOY~1");
       },
       kTemp + "DEPLOY~1\\x.log", true},
      {"on a share", [] { sim::AddDirectory("\\\\srv\\share"); }, "\\\\srv\\share\\x.log", true},
      {"a folder not there: not made by name", [] {}, kTemp + "new\\x.log", false},
      {"the final path ends in a separator", [] { shownAs("\\\\?\\" + kAsked + "\\"); },
       kAsked, true},
      {"a hard link", [] { sim::AddHardLink(kAsked, kVictim); }, kAsked, false},
      {"a hard link past the rotation limit",
       [] {
         sim::AddFile(kVictim, std::string(LOG_ROTATE_BYTES + 1, 's'), 0);
         sim::AddHardLink(kAsked, kVictim);
       },
       kAsked, false},
      {"a symbolic link", [] { sim::AddSymbolicLink(kAsked, kVictim); }, kAsked, false},
      {"a symbolic link to no file yet",
       [] {
         sim::RemoveFile(kVictim);
         sim::AddSymbolicLink(kAsked, kVictim);
       },
       kAsked, false},
      {"a junction above", [] { sim::AddJunction(kTemp + "j", kConfig); }, kTemp + "j\\x.log",
       false},
      {"a junction above, no file there",
       [] { sim::AddJunction(kTemp + "j", kConfig); }, kTemp + "j\\new.log", false},
      {"the final path names another file", [] { shownAs("\\\\?\\" + kVictim); }, kAsked,
       false},
      {"the final path longer than a path", [] { shownAs("\\\\?\\C:\\" + std::string(600, 'x')); },
       kAsked, false},
      {"handle information refused",
       [] { sim::InjectFault("GetFileInformationByHandle", ERROR_ACCESS_DENIED); }, kAsked,
       false},
      {"final path refused",
       [] { sim::InjectFault("GetFinalPathNameByHandleA", ERROR_NOT_ENOUGH_MEMORY); }, kAsked,
       false},
      {"full path refused",
       [] { sim::InjectFault("GetFullPathNameA", ERROR_FILENAME_EXCED_RANGE, kAsked); }, kAsked,
       false},
  };
  const std::vector<std::string> args = {"C:\\pkg\\setup.exe", "-fu", "-x"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto arrange = [&c] {
      sim::Reset();
      ResetRunState();
      LibraryInUse();
      sim::AddDirectory(kTemp);
      sim::AddFile(kVictim, "system\r\n", 0);
      c.arrange();
    };
    arrange();
    std::vector<std::string> quiet = args;
    quiet.push_back("/LOG:NUL");
    int wantCode = RunMain(quiet);
    std::string wantOut = Out();
    std::map<std::string, std::string> wantFiles = Files();
    std::string victim = sim::FileContents(kVictim);
    int wantWrites = sim::CountCalls("WriteFile");  // the copies'

    arrange();
    std::vector<std::string> logged = args;
    logged.push_back("/LOG:" + c.asked);
    EXPECT_EQ(RunMain(logged), wantCode);
    EXPECT_EQ(Out(), wantOut);
    EXPECT_EQ(sim::OpenHandles(), 0);
    EXPECT_EQ(sim::FileContents(kVictim), victim);
    std::map<std::string, std::string> files = Files();
    if (c.written) {
      std::string log = sim::FileContents(c.asked);
      ASSERT_EQ(Events(log.substr(log.find("2026"))).back(),
                "outcome: exit code 1, installed, a restart is needed");
      files.erase(sim::Lower(sim::LongPath(c.asked)));
      wantFiles.erase(sim::Lower(sim::LongPath(c.asked)));
    } else {
      EXPECT_EQ(sim::CountCalls("WriteFile"), wantWrites);
    }
    EXPECT_EQ(files, wantFiles);
  }
}

// Whatever goes wrong with the log, a run prints, returns and does the same as with /LOG:NUL.
TEST_F(LogTest, ALogThatCannotBeOpenedOrWrittenChangesNothing) {
  struct Failure {
    const char* name;
    void (*arrange)();
  } failures[] = {
      {"open denied", [] { sim::InjectFault("CreateFileA", ERROR_ACCESS_DENIED, kLog); }},
      {"first write fails", [] { sim::InjectFault("WriteFile", ERROR_DISK_FULL, kLog); }},
      {"a later write fails", [] { sim::InjectFault("WriteFile", ERROR_DISK_FULL, kLog, -1, 2); }},
      {"no Windows directory", [] { sim::InjectFault("GetSystemWindowsDirectoryA", 5); }},
      {"folders refused",
       [] { sim::InjectFault("CreateDirectoryA", ERROR_ACCESS_DENIED, "C:\\WINDOWS\\Logs"); }},
      {"log held by another program",
       [] {
         sim::AddFile(kLog, "x", 0);
         sim::HoldOpen(kLog);
       }},
      {"log locked", [] {
         sim::AddFile(kLog, "x", 0);
         sim::HoldOpen(kLog, true);
       }},
      {"log is a folder", [] { sim::AddDirectory(kLog); }},
      {"log read-only", [] { sim::AddFile(kLog, "x", 0, FILE_ATTRIBUTE_READONLY); }},
  };
  for (const Machine& m : Machines()) {
    sim::Reset();
    ResetRunState();
    m.arrange();
    std::vector<std::string> args = m.args;
    args.push_back("/LOG:NUL");
    int wantCode = RunMain(args);
    std::string wantOut = Out();
    size_t wantProcesses = sim::M().process.processes.size();
    auto wantMoves = sim::PendingMoves().size();
    size_t wantWrites = sim::CallsTo("WriteFile").size();  // the copies
    for (const Failure& f : failures) {
      sim::Reset();
      ResetRunState();
      m.arrange();
      f.arrange();
      EXPECT_EQ(RunMain(m.args), wantCode) << m.name << ", " << f.name;
      EXPECT_EQ(Out(), wantOut) << m.name << ", " << f.name;
      EXPECT_EQ(sim::M().process.processes.size(), wantProcesses) << m.name << ", " << f.name;
      EXPECT_EQ(sim::PendingMoves().size(), wantMoves) << m.name << ", " << f.name;
      EXPECT_EQ(sim::OpenHandles(), 0) << m.name << ", " << f.name;
      // A failed write ends the log for the run: no more attempts.
      auto writes = sim::CallsTo("WriteFile");
      if (std::string(f.name) == "first write fails")
        EXPECT_EQ(writes.size(), wantWrites + 1) << m.name;
    }
  }
}

// Writers take turns through a lock; a lock held too long or refused does not cost a line,
// and the wait for a busy one is bounded.
TEST_F(LogTest, ALockThatIsBusyOrRefusedStillLeavesEveryLine) {
  const std::vector<std::string> args = {"C:\\pkg\\setup.exe", "-fu", "-x"};
  LibraryInUse();
  int wantCode = RunMain(args);
  std::string wantOut = Out();
  std::vector<std::string> wantEvents = Events(sim::FileContents(kLog));
  struct Case {
    const char* name;
    void (*arrange)();
    int locksPerLine;   // attempts before each write
    int sleepsPerLine;  // waits between them
  } cases[] = {
      {"lock free", [] {}, 1, 0},
      {"lock held by another run",
       [] {
         sim::AddFile(kLog, "", 0);
         HANDLE other = CreateFileA(kLog.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                    OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
         OVERLAPPED at = {};
         at.OffsetHigh = LOG_LOCK_OFFSET_HIGH;
         ASSERT_TRUE(LockFileEx(other, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                                0, &at));
       },
       LOG_LOCK_TRIES, LOG_LOCK_TRIES},
      {"lock refused", [] { sim::InjectFault("LockFileEx", ERROR_ACCESS_DENIED); }, 1, 0},
  };
  for (const Case& c : cases) {
    sim::Reset();
    ResetRunState();
    LibraryInUse();
    c.arrange();
    sim::M().calls.clear();
    uint64_t start = sim::M().clockMs;
    EXPECT_EQ(RunMain(args), wantCode) << c.name;
    EXPECT_EQ(Out(), wantOut) << c.name;
    EXPECT_EQ(Events(sim::FileContents(kLog)), wantEvents) << c.name;
    int lines = (int)wantEvents.size();
    EXPECT_EQ(sim::CountCalls("LockFileEx"), lines * c.locksPerLine) << c.name;
    int sleeps = 0;
    for (const sim::CallRecord& call : sim::CallsTo("Sleep"))
      sleeps += call.args.at(0) == std::to_string(LOG_LOCK_WAIT_MS);
    EXPECT_EQ(sleeps, lines * c.sleepsPerLine) << c.name;
    EXPECT_GE(sim::M().clockMs - start, (uint64_t)(lines * c.sleepsPerLine * LOG_LOCK_WAIT_MS));
  }
}

TEST_F(LogTest, RunsThatStopAtTheOptionsWriteNothing) {
  EXPECT_EQ(RunMain({"setup", "-FX", "/LOG:C:\\x.log"}), EXIT_INSTALLED);
  EXPECT_EQ(sim::CountCalls("CreateFileA"), 0);
  EXPECT_EQ(sim::CountCalls("GetSystemWindowsDirectoryA"), 0);
  EXPECT_FALSE(sim::FileExists("C:\\x.log"));
}

TEST_F(LogTest, LinesAreBoundedAndLegible) {
  std::string longArg = "-" + std::string(3000, 'z');
  RunMain({"setup", "-x", "caf\xe9\tname", longArg});
  std::vector<std::string> events = Events(sim::FileContents(kLog));  // checks each line
  ASSERT_FALSE(events.empty());
  EXPECT_NE(events[0].find("caf??name"), std::string::npos) << events[0];
  EXPECT_EQ(events.back(), "outcome: exit code 8, no device of the card");

  // An argument as the UTF-8 code page hands it over: well-formed UTF-8 stays, every byte of
  // anything else shows as '?'.
  struct Row {
    std::string arg, shown;
  };
  const std::vector<Row> rows = {
      {"C:\\\xe8\xbd\xaf\xe4\xbb\xb6\\", "C:\\\xe8\xbd\xaf\xe4\xbb\xb6\\"},  // two CJK
      {"Zo\xc3\xab \xf0\x9f\x98\x80", "Zo\xc3\xab \xf0\x9f\x98\x80"},  // U+00EB, U+1F600
      {"\xc2\xa0nbsp", "\xc2\xa0nbsp"},                                  // U+00A0, the first kept
      {"del\x7f c1\xc2\x85 \xc2\x9f", "del? c1?? ??"},                    // DEL, NEL, U+009F
      {"over\xc0\xaf long\xe0\x80\xaf", "over?? long???"},              // "/" written long
      {"sur\xed\xa0\x80", "sur???"},                                      // U+D800
      {"big\xf4\x90\x80\x80 \xf5\x80", "big???? ??"},                    // past U+10FFFF
      {"cut\xe8\xbd", "cut??"},                                           // a sequence cut off
      {"stray\x80\xbf\xfe\xff", "stray????"},
      {"rlo\xe2\x80\xaegpj.exe", "rlo???gpj.exe"},                        // U+202E
      {"\xe2\x80\xaa\xe2\x81\xa6\xe2\x81\xa9", "?????????"},             // U+202A, U+2066, U+2069
      {"ls\xe2\x80\xa8ps\xe2\x80\xa9lrm\xe2\x80\x8e\xd8\x9c", "ls???ps???lrm?????"},
      {"\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa",          // neighbours stay
       "\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa"},
  };
  for (const Row& row : rows) {
    sim::Reset();
    sim::M().ansiCodePage = CP_UTF8;
    RunMain({"setup", "-x", row.arg});
    std::vector<std::string> lines = Events(sim::FileContents(kLog));
    ASSERT_FALSE(lines.empty());
    std::string quote = row.arg.find(' ') != std::string::npos ? "\"" : "";
    EXPECT_NE(lines[0].find("command line: setup -x " + quote + row.shown + quote + "; options"),
              std::string::npos) << lines[0];
  }
  // A line cut at its limit inside a character shows the cut bytes as '?'.
  sim::Reset();
  sim::M().ansiCodePage = CP_UTF8;
  std::string wide;
  for (int i = 0; i < 400; i++) wide += "\xe8\xbd\xaf";
  RunMain({"setup", "-x", "a" + wide});  // 77 bytes before it: the cut falls after 2 of 3
  std::vector<std::string> lines = Lines(sim::FileContents(kLog));
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(proof::LegibleLogLine(lines[0]));
  EXPECT_EQ(lines[0].size(), (size_t)LOG_LINE_SIZE - 3);
  EXPECT_EQ(lines[0].substr(lines[0].size() - 3), "\xaf??");
}

}  // namespace

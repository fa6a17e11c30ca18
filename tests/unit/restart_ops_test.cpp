// What earlier runs and other programs recorded for the restart: how a run reads the two lists,
// what it does about the entries for the software's files, and what the restart then leaves.
#include "actions/actions.h"
#include "actions/restart.h"
#include "catalogue.h"
#include "sim_test.h"

namespace {

const std::string kSys = "C:\\WINDOWS\\system32\\";
const std::string kWow = "C:\\WINDOWS\\SysWOW64\\";
const std::string kDriver = kSys + "drivers\\tvx2\\";
const std::string kPkg = "D:\\pkg\\";
const std::vector<std::string> kPlacements = {kSys + "KTASPW.DLL", kSys + "KTASPREM.EXE",
                                              kSys + "KTASPSVC.EXE", kWow + "KTASPW.DLL"};
const std::string kCopy = kSys + "tvx1A.tmp";  // what an earlier run left beside the library
const std::string kElsewhere = "C:\\Users\\Public\\tvx1.tmp";
const std::string kOtherProgram = "C:\\Program Files\\Other\\other.dll";

std::string Nt(const std::string& path) { return "\\??\\" + path; }
// One entry as Windows writes it; `dest` empty for a deletion, `replace` puts "!" before it.
std::string Entry(const std::string& source, const std::string& dest, bool replace = true) {
  return Nt(source) + '\0' + (dest.empty() ? "" : (replace ? "!" : "") + Nt(dest)) + '\0';
}

// A list of `size` bytes: another program's deletion of a long name, then `entries`.
std::string ListOfSize(size_t size, const std::string& entries) {
  std::string head = Nt("C:\\Other\\");
  return head + std::string(size - head.size() - 3 - entries.size(), 'a') + std::string(2, '\0') +
         entries + '\0';
}
const std::string kVolume = "\\??\\Volume{0d1c2b3a-4e5f-6071-8293-a4b5c6d7e8f9}\\Windows\\";
const std::string kOthers[] = {kSys + "tvx1A2B3.tmp", kWow + "tvx1B.tmp"};  // not copies of ours

std::vector<std::string> Lowered(std::vector<std::string> paths) {
  for (std::string& p : paths) p = sim::Lower(p);
  return paths;
}

std::string Package(const std::string& name) { return "package " + name; }

void AddPackage() {
  for (const char* name : kPackage) sim::AddFile(kPkg + name, Package(name), 2000);
}

// An installed machine, the earlier copy of ours beside the library, and another program's file.
void Installed() {
  AddPackage();
  for (const char* name : kPackage) sim::AddFile(kDriver + name, Package(name), 2000);
  for (int i = 0; i < 3; i++) sim::AddFile(kPlacements[i], "placed", 2000);
  sim::AddFile(kPlacements[3], "placed", 2000);
  sim::AddFile(kCopy, "earlier package", 1000);
  sim::AddFile(kElsewhere, "someone's", 1000);
  sim::AddFile(kSys + "evil.dll", "someone's", 1000);
  sim::AddFile(kOtherProgram + ".new", "other", 1000);
  for (const std::string& path : kOthers) sim::AddFile(path, "someone's", 1000);
}

class RestartOpsTest : public SimTest {
 protected:
  void TearDown() override { sim::Reset(); }
};

// A removal over each list: the copy of ours is deleted so the move has nothing to carry out;
// anything else that would put a file back is followed by the file's deletion; nothing of the
// software is left after the restart, and other programs' entries and files stay as they were.
TEST_F(RestartOpsTest, RemovalKeepsFilesGoneAcrossTheRestart) {
  const std::string lib = kSys + "KTASPW.DLL";
  struct Case {
    const char* name;
    std::vector<sim::PendingMove> first, second;
    std::string raw;  // what the first list holds instead, byte for byte
    void (*fault)();
    int code;
    bool copyDeleted;
    std::vector<std::string> appended;  // deletions this run records, in order
  } cases[] = {
      {"other programs' entries only",
       {{kOtherProgram + ".new", kOtherProgram, true}, {"C:\\Temp\\x.tmp", "", false}}, {}, "",
       nullptr, 0, false, {}},
      {"our copy", {{kCopy, lib, true}}, {}, "", nullptr, 0, true, {}},
      {"our copy, without replacing", {{kCopy, lib, false}}, {}, "", nullptr, 0, true, {}},
      {"our copy, another case and no prefix", {}, {},
       "c:\\windows\\SYSTEM32\\TVX1a.TMP" + std::string(1, '\0') +
           "!C:\\Windows\\System32\\ktaspw.dll" + std::string(2, '\0'),
       nullptr, 0, true, {}},
      {"our copy in the second list", {}, {{kCopy, lib, true}}, "", nullptr, 0, true, {}},
      {"a file of that name elsewhere", {{kElsewhere, lib, true}}, {}, "", nullptr, 1, false,
       {lib}},
      {"another name beside it", {{kSys + "evil.dll", kSys + "KTASPREM.EXE", true}}, {}, "",
       nullptr, 1, false, {kSys + "KTASPREM.EXE"}},
      {"another program's move in the second list", {}, {{kElsewhere, lib, true}}, "", nullptr,
       2, false, {}},
      {"a deletion already recorded", {{kDriver + "SETUP.EXE", "", false}}, {}, "", nullptr, 0,
       false, {}},
      // Only the form Windows writes is read; any other is left byte for byte (exit 2).
      {"a source without its destination at the end", {}, {},
       Entry(kCopy, lib) + Nt(kElsewhere) + '\0', nullptr, 2, false, {}},
      {"a deletion without the final empty string", {}, {},
       Entry(kCopy, lib) + Entry(kElsewhere, ""), nullptr, 2, false, {}},
      {"a string running to the end of the value", {}, {}, Entry(kCopy, lib) + Nt(kElsewhere),
       nullptr, 2, false, {}},
      {"the list cannot be read", {{kCopy, lib, true}}, {}, "",
       [] { sim::InjectFault("RegQueryValueExA", ERROR_ACCESS_DENIED); }, 2, false, {}},
      {"another program's tvx name of five digits", {{kOthers[0], lib, true}}, {}, "", nullptr,
       1, false, {lib}},
      {"a copy in SysWOW64 onto system32's library", {{kOthers[1], lib, true}}, {}, "", nullptr,
       1, false, {lib}},
      {"another program's move without replacing", {{kOtherProgram + ".new", lib, false}}, {},
       "", nullptr, 1, false, {lib}},
      {"our copy, and a move onto a tool, in the spellings Windows writes", {}, {},
       "\\DosDevices\\" + kCopy + '\0' + "!\\GLOBAL??\\" + lib + '\0' +
           Nt(kOtherProgram + ".new") + '\0' + "!\\SystemRoot\\System32\\KTASPREM.EXE" +
           std::string(2, '\0'),
       nullptr, 1, true, {kSys + "KTASPREM.EXE"}},
      {"a move onto the library through a volume name", {}, {},
       Nt(kOtherProgram + ".new") + '\0' + "!" + kVolume + "System32\\KTASPW.DLL" +
           std::string(2, '\0'),
       nullptr, 1, false, {lib, kWow + "KTASPW.DLL", kDriver + "KTASPW.DLL"}},
      {"the list grows between the two calls", {{kCopy, lib, true}}, {}, "",
       [] { sim::InjectFault("RegQueryValueExA", ERROR_MORE_DATA, "", 1, 1); }, 0, true, {}},
      {"the list went away between the two calls: asked again", {{kCopy, lib, true}}, {}, "",
       [] { sim::InjectFault("RegQueryValueExA", ERROR_FILE_NOT_FOUND, "", 1, 1); }, 0, true,
       {}},
  };
  for (const Case& c : cases) {
    sim::Reset();
    Installed();
    sim::M().files.pendingMoves = c.first;
    sim::M().files.pendingMoves2 = c.second;
    sim::M().files.pendingRaw = c.raw;
    if (c.fault) c.fault();
    EXPECT_EQ(RunMain({kPkg + "setup.exe", "-U", "-X"}), c.code) << c.name;
    EXPECT_EQ(sim::FileExists(kCopy), !c.copyDeleted) << c.name;
    EXPECT_TRUE(sim::FileExists(kElsewhere) && sim::FileExists(kSys + "evil.dll")) << c.name;
    for (const std::string& path : kOthers) EXPECT_TRUE(sim::FileExists(path)) << c.name;
    // The recorded entries are kept, in order; this run's deletions come after them.
    const std::vector<sim::PendingMove>& moves = sim::PendingMoves();
    ASSERT_GE(moves.size(), c.first.size()) << c.name;
    std::vector<std::string> appended;
    for (size_t i = 0; i < moves.size(); i++) {
      if (i < c.first.size()) {
        EXPECT_EQ(moves[i].source, c.first[i].source) << c.name;
        continue;
      }
      EXPECT_TRUE(moves[i].dest.empty()) << c.name << ": " << moves[i].source;
      appended.push_back(moves[i].source);
    }
    EXPECT_EQ(Lowered(appended), Lowered(c.appended)) << c.name;
    // A value written by hand: as it was, less its last NUL when this run appended after it.
    size_t kept = c.raw.size() - (appended.empty() || c.raw.empty() ? 0 : 1);
    EXPECT_EQ(sim::M().files.pendingRaw.substr(0, appended.empty() ? std::string::npos : kept),
              c.raw.substr(0, kept)) << c.name;
    if (c.code == 2) continue;
    sim::ApplyPendingMoves();  // the first list, this run's entries last, then the second
    for (const std::string& path : kPlacements)
      EXPECT_FALSE(sim::FileExists(path)) << c.name << ": " << path << " back";
    EXPECT_FALSE(sim::DirectoryExists(kDriver)) << c.name;
  }
}

// An installation over each list: what the restart would delete or replace is placed again
// through the restart, after it (exit 1); a stale copy of ours is deleted instead (exit 0);
// the second list cannot be followed (exit 2). After the restart every placement and staged
// file holds the package's bytes.
TEST_F(RestartOpsTest, InstallationKeepsFilesPlacedAcrossTheRestart) {
  struct Case {
    const char* name;
    std::vector<sim::PendingMove> first, second;
    void (*fault)();
    int code;
    std::vector<std::string> replaced;  // destinations this run places again at the restart
  } cases[] = {
      {"nothing for the software", {{kOtherProgram + ".new", kOtherProgram, true}}, {}, nullptr,
       0, {}},
      {"the library's deletion, another case",
       {{"c:\\windows\\SYSTEM32\\ktaspw.DLL", "", false}}, {}, nullptr, 1, {kSys + "KTASPW.DLL"}},
      {"a staged file's and the driver directory's deletions",
       {{kDriver + "SETUP.EXE", "", false}, {kSys + "drivers\\tvx2", "", false}}, {}, nullptr,
       1, {kDriver + "SETUP.EXE"}},
      {"the WOW64 library moved away", {{kWow + "KTASPW.DLL", "C:\\old.dll", true}}, {},
       nullptr, 1, {kWow + "KTASPW.DLL"}},
      {"another program's file moved onto a tool",
       {{kOtherProgram + ".new", kSys + "KTASPREM.EXE", true}}, {}, nullptr, 1,
       {kSys + "KTASPREM.EXE"}},
      {"a stale copy of ours", {{kCopy, kSys + "KTASPW.DLL", true}}, {}, nullptr, 0, {}},
      {"the library's deletion in the second list", {},
       {{kSys + "KTASPW.DLL", "", false}}, nullptr, 2, {}},
      {"the lists cannot be read", {}, {},
       [] { sim::InjectFault("RegOpenKeyExA", ERROR_ACCESS_DENIED, SIM_SESSION_MANAGER_PATH); },
       2, {}},
      // A second list that cannot be read can never be followed.
      {"a second list over the bound", {}, {},
       [] { sim::M().files.pendingRaw2 = ListOfSize(2097153, Entry(kSys + "KTASPW.DLL", "")); },
       2, {}},
      {"a second list of exactly the bound", {}, {},
       [] { sim::M().files.pendingRaw2 = ListOfSize(2097152, ""); }, 0, {}},
      {"a second list of another type", {}, {},
       [] { sim::M().files.pendingRaw2 = Entry(kSys + "KTASPW.DLL", "") + '\0';
            sim::M().files.pendingType2 = REG_SZ; }, 2, {}},
      {"a second list changing between reads", {}, {{kOtherProgram + ".new", "", false}},
       [] { sim::InjectFault("RegQueryValueExA", ERROR_MORE_DATA,
                             SIM_SESSION_MANAGER_PATH "\\PendingFileRenameOperations2"); },
       2, {}},
      {"the library in use and its deletion in the second list", {},
       {{kSys + "KTASPW.DLL", "", false}},
       [] { sim::AddFile(kSys + "KTASPW.DLL", "old", 1000); sim::HoldOpen(kSys + "KTASPW.DLL"); },
       2, {}},
      {"a staged file's deletion in the second list", {}, {{kDriver + "SETUP.EXE", "", false}},
       nullptr, 2, {}},
      {"the library's deletion under \\SystemRoot\\", {},  {},
       [] { sim::M().files.pendingRaw = "\\SystemRoot\\System32\\KTASPW.DLL" + std::string(3, '\0'); },
       1, {kSys + "KTASPW.DLL"}},
      {"a library's deletion through a volume name in the second list", {}, {},
       [] { sim::M().files.pendingRaw2 = kVolume + "KTASPW.DLL" + std::string(3, '\0'); }, 2,
       {}},
      {"a move onto a staged file after the final empty string", {}, {}, [] { sim::M().files.pendingRaw =
       Entry(kOtherProgram + ".new", kOtherProgram) + '\0' + Entry(kOtherProgram + ".new", kDriver + "KTASPW.DLL") + '\0'; }, 2, {}},
      {"a move onto a staged file, its placement again not recorded",
       {{kOtherProgram + ".new", kDriver + "KTASPW.DLL", true}}, {}, [] { sim::RefuseDelayedMoves(); }, 2, {}},
      {"the library in use, its new copy's name that of a recorded copy for a tool",
       {{kSys + "tvx1.TMP", kSys + "KTASPREM.EXE", true}}, {},
       [] { sim::AddFile(kSys + "KTASPW.DLL", "old", 1000), sim::HoldOpen(kSys + "KTASPW.DLL"); }, 2, {}},
  };
  for (const Case& c : cases) {
    sim::Reset();
    AddPackage();
    sim::AddFile(kCopy, "earlier package", 1000);
    sim::AddFile(kOtherProgram + ".new", "other", 1000);
    sim::M().files.pendingMoves = c.first;
    sim::M().files.pendingMoves2 = c.second;
    if (c.fault) c.fault();
    const std::string raw = sim::M().files.pendingRaw;
    int code = RunMain({kPkg + "setup.exe", "-FU", "-X"});
    EXPECT_EQ(code, c.code) << c.name;
    std::string tail = code == 1 ? kComplete + kReboot : code == 0 ? kComplete : kFailed;
    EXPECT_EQ(Out().substr(Out().size() - std::min(Out().size(), tail.size())), tail) << c.name;
    // The recorded entries are kept, in order, and this run's come after them.
    const std::vector<sim::PendingMove>& moves = sim::PendingMoves();
    ASSERT_GE(moves.size(), c.first.size()) << c.name;
    std::vector<std::string> replaced;
    for (size_t i = 0; i < moves.size(); i++) {
      if (i < c.first.size()) {
        EXPECT_EQ(moves[i].source, c.first[i].source) << c.name;
        continue;
      }
      EXPECT_TRUE(moves[i].replace) << c.name;
      replaced.push_back(moves[i].dest);
    }
    replaced = Lowered(replaced);
    std::vector<std::string> want = Lowered(c.replaced);
    std::sort(replaced.begin(), replaced.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(replaced, want) << c.name;
    // A stale copy of ours is filled again, never deleted: its name stays taken.
    EXPECT_TRUE(sim::FileExists(kCopy)) << c.name;
    if (c.code == 2) {
      EXPECT_FALSE(sim::KeyExists(SIM_UNINSTALL_PATH "\\TVX2HostSoftware")) << c.name;
      EXPECT_EQ(sim::M().files.pendingRaw, raw) << c.name;
      continue;
    }
    sim::ApplyPendingMoves();
    for (const std::string& path : kPlacements) {
      std::string name = path == kWow + "KTASPW.DLL" ? "KTASPW32.DLL" : path.substr(path.rfind('\\') + 1);
      EXPECT_EQ(sim::FileContents(path), Package(name)) << c.name << ": " << path;
    }
    for (const char* name : kPackage)
      EXPECT_EQ(sim::FileContents(kDriver + name), Package(name)) << c.name << ": " << name;
  }
}

// Each list: a size query, then a buffer of that size; once a run; the key and buffer released.
TEST_F(RestartOpsTest, EachListIsReadOnceBySizeThenBytes) {
  sim::M().files.pendingRaw = Entry(kOtherProgram + ".new", kOtherProgram) +
                              Entry("c:\\WINDOWS\\system32\\KTASPW.dll", "") +
                              Entry(kCopy, kSys + "KTASPSVC.EXE", false) + Nt(kSys + "x") + '\0';
  sim::M().files.pendingMoves2 = {{kSys + "KTASPREM.EXE", "C:\\y", true}};
  ReadRestartOperations();
  ReadRestartOperations();  // once a run
  EXPECT_EQ(sim::CountCalls("RegOpenKeyExA"), 1);
  auto queries = sim::CallsTo("RegQueryValueExA");
  ASSERT_EQ(queries.size(), 4u);  // a size query and a read for each list
  EXPECT_EQ(queries[0].args[1], "PendingFileRenameOperations");
  EXPECT_EQ(queries[0].args[4], "NULL");
  EXPECT_EQ(queries[3].args[1], "PendingFileRenameOperations2");
  EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Key), 0);
  EXPECT_EQ(sim::LiveHeapBlocks(), 0);
  ForgetRestartOperations();
}

}  // namespace

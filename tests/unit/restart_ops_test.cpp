// What earlier runs and other programs recorded for the restart: how a run reads the two lists,
// what it does about the entries for the software's files, and what the restart then leaves.
#include "actions/actions.h"
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
      {"the list ends inside an entry", {}, {},
       Entry(kCopy, lib) + Nt(kElsewhere) + '\0', nullptr, 0, true, {}},
      {"the list cannot be read", {{kCopy, lib, true}}, {}, "",
       [] { sim::InjectFault("RegQueryValueExA", ERROR_ACCESS_DENIED); }, 1, false,
       {lib, kSys + "KTASPREM.EXE", kSys + "KTASPSVC.EXE", kWow + "KTASPW.DLL",
        kDriver + "SETUP.EXE", kDriver + "KTASPW.DLL", kDriver + "KTASPW32.DLL",
        kDriver + "KTASPREM.EXE", kDriver + "KTASPSVC.EXE"}},
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
    EXPECT_EQ(sim::M().files.pendingRaw, c.raw) << c.name;
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
       [] { sim::InjectFault("RegOpenKeyExA", ERROR_ACCESS_DENIED,
                             "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"); },
       1,
       {kDriver + "SETUP.EXE", kDriver + "KTASPW.DLL", kDriver + "KTASPW32.DLL",
        kDriver + "KTASPREM.EXE", kDriver + "KTASPSVC.EXE", kSys + "KTASPW.DLL",
        kSys + "KTASPREM.EXE", kSys + "KTASPSVC.EXE", kWow + "KTASPW.DLL"}},
  };
  for (const Case& c : cases) {
    sim::Reset();
    AddPackage();
    sim::AddFile(kCopy, "earlier package", 1000);
    sim::AddFile(kOtherProgram + ".new", "other", 1000);
    sim::M().files.pendingMoves = c.first;
    sim::M().files.pendingMoves2 = c.second;
    if (c.fault) c.fault();
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
    EXPECT_EQ(sim::FileExists(kCopy), c.code != 0 || c.first.empty() ||
                                          c.first[0].source != kCopy) << c.name;
    if (c.code == 2) continue;
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

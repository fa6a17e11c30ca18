// The uninstall entry: written by an installation that leaves the software installed, deleted
// by a removal, and never left half-written by a run of its own.
#include <string.h>

#include "actions/actions.h"
#include "catalogue.h"
#include "setup/events.h"
#include "sim_test.h"

namespace {

const std::string kSys = "C:\\WINDOWS\\system32";
const std::string kDriver = kSys + "\\drivers\\tvx2";
const std::string kPkg = "C:\\pkg\\";
const std::string kEntry = SIM_UNINSTALL_PATH "\\TVX2HostSoftware";

std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }
std::string Dword(DWORD value) { return std::string((const char*)&value, 4); }

// An entry as an older installation left it.
void AddOldEntry() {
  sim::AddKey(kEntry);
  sim::SetValue(kEntry, "DisplayVersion", REG_SZ, Sz("2.0.0.0"));
  sim::SetValue(kEntry, "InstallDate", REG_SZ, Sz("20250101"));
}

std::string Value(const std::string& name) {
  std::string data;
  DWORD type = 0;
  if (!sim::GetValue(kEntry, name, &type, &data)) return "(none)";
  return std::to_string(type) + ":" + data;
}

class UninstallEntryTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    // 3,000 bytes for each package file: nine placed files are 27,000 bytes, 27 KB rounded up.
    for (const char* name : kPackage) sim::AddFile(kPkg + name, std::string(3000, 'x'), 2000);
  }
  void TearDown() override { sim::Reset(); }
};

TEST_F(UninstallEntryTest, AnInstallationWritesEveryValueInTheSixtyFourBitView) {
  EXPECT_EQ(RunMain({kPkg + "setup.exe", "-FU", "-X"}), EXIT_INSTALLED);
  auto creates = sim::CallsTo("RegCreateKeyExA");
  ASSERT_EQ(creates.size(), 2u);  // and the event source's, at the end
  EXPECT_EQ(creates[0].args, (std::vector<std::string>{
                                 "HKLM", UNINSTALL_KEY, "0", "NULL", "0x0", "0x102", "NULL",
                                 "ptr", "ptr"}));
  EXPECT_EQ(creates[1].args[1], EVENT_SOURCE_KEY);
  const std::string uninstall = "\"" + kDriver + "\\SETUP.EXE\" -U";
  std::vector<std::pair<std::string, std::string>> expected = {
      {"DisplayName", "1:" + Sz("KTA TVX II host software")},
      {"Publisher", "1:" + Sz("KTA")},
      {"InstallLocation", "1:" + Sz(kDriver)},
      {"InstallDate", "1:" + Sz("20260309")},
      {"UninstallString", "1:" + Sz(uninstall)},
      {"QuietUninstallString", "1:" + Sz(uninstall + " -N")},
      {"NoModify", "4:" + Dword(1)},
      {"NoRepair", "4:" + Dword(1)},
      {"EstimatedSize", "4:" + Dword(27)},
      {"VersionMajor", "4:" + Dword(2)},
      {"VersionMinor", "4:" + Dword(1)},
      {"DisplayVersion", "1:" + Sz("2.1.0.0")},
  };
  // In this order: the version last, once the rest is there.
  std::vector<std::pair<std::string, std::string>> written;
  for (const sim::CallRecord& c : sim::CallsTo("RegSetValueExA"))
    if (c.args[0] == kEntry) written.emplace_back(c.args[1], c.args[3] + ":" + c.args[4]);
  EXPECT_EQ(written, expected);
  EXPECT_EQ(sim::ValuesOf(kEntry).size(), expected.size());
  for (const auto& e : expected) EXPECT_EQ(Value(e.first), e.second) << e.first;
  EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Key), 0);
  EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Find), 0);
}

TEST_F(UninstallEntryTest, InstallationOutcomes) {
  struct Case {
    const char* name;
    void (*arrange)();
    std::vector<std::string> args;
    int code;
    bool messageFailed;        // message 28 printed
    std::string version;       // DisplayVersion afterwards, "(none)" without an entry
  } cases[] = {
      {"installed", [] {}, {"-FU", "-X"}, EXIT_INSTALLED, false, "1:" + Sz("2.1.0.0")},
      {"an older entry rewritten", AddOldEntry, {"-FU", "-X"}, EXIT_INSTALLED, false,
       "1:" + Sz("2.1.0.0")},
      {"restart needed",
       [] {
         sim::AddFile(kSys + "\\KTASPW.DLL", "old", 1000);
         sim::HoldOpen(kSys + "\\KTASPW.DLL");
       },
       {"-FU", "-X"}, EXIT_REBOOT_REQUIRED, false, "1:" + Sz("2.1.0.0")},
      {"the card without its USB function",
       [] {
         sim::AddDevice("PCI\\VEN_1002&DEV_5159\\3&1",
                        {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00"});
       },
       {"-X"}, EXIT_DEVICE_NOT_READY, false, "1:" + Sz("2.1.0.0")},
      {"no card", AddOldEntry, {"-X"}, EXIT_DEVICE_NOT_FOUND, true, "1:" + Sz("2.0.0.0")},
      {"detect only", [] {}, {"-FU", "-H"}, EXIT_INSTALLED, false, "(none)"},
      {"a placement failed: an older entry as it was",
       [] {
         AddOldEntry();
         sim::AddFile(kSys + "\\KTASPREM.EXE", "old", 1000);
         sim::DenyAccess(kSys + "\\KTASPREM.EXE");
       },
       {"-FU", "-X"}, EXIT_FAILED, true, "1:" + Sz("2.0.0.0")},
      {"the key cannot be created",
       [] { sim::InjectFault("RegCreateKeyExA", ERROR_ACCESS_DENIED); },
       {"-FU", "-X"}, EXIT_FAILED, true, "(none)"},
      {"a value of a new key cannot be written: the key goes again",
       [] { sim::InjectFault("RegSetValueExA", ERROR_OUTOFMEMORY, "", 1, 4); },
       {"-FU", "-X"}, EXIT_FAILED, true, "(none)"},
      {"a value of an older entry cannot be written: its version stays",
       [] {
         AddOldEntry();
         sim::InjectFault("RegSetValueExA", ERROR_ACCESS_DENIED, kEntry + "\\EstimatedSize");
       },
       {"-FU", "-X"}, EXIT_FAILED, true, "1:" + Sz("2.0.0.0")},
  };
  for (const Case& c : cases) {
    sim::Reset();
    ResetRunState();
    for (const char* name : kPackage) sim::AddFile(kPkg + name, std::string(3000, 'x'), 2000);
    c.arrange();
    std::vector<std::string> args = {kPkg + "setup.exe"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    EXPECT_EQ(RunMain(args), c.code) << c.name;
    EXPECT_EQ(Out().find(kFailed) != std::string::npos, c.messageFailed) << c.name << Out();
    EXPECT_EQ(Value("DisplayVersion"), c.version) << c.name;
    EXPECT_EQ(sim::KeyExists(kEntry), c.version != "(none)") << c.name;
    EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Key), 0) << c.name;
  }
}

TEST_F(UninstallEntryTest, RemovalOutcomes) {
  struct Case {
    const char* name;
    void (*arrange)();
    int code;
    bool entryKept;
  } cases[] = {
      {"removed", [] {}, EXIT_INSTALLED, false},
      {"files wait for the restart",
       [] { sim::HoldOpen(kSys + "\\KTASPW.DLL"); }, EXIT_REBOOT_REQUIRED, false},
      {"a file neither deleted nor scheduled",
       [] {
         sim::HoldOpen(kSys + "\\KTASPW.DLL");
         sim::RefuseDelayedMoves();
       },
       EXIT_FAILED, true},
      {"the entry cannot be deleted",
       [] { sim::InjectFault("RegDeleteKeyA", ERROR_ACCESS_DENIED, kEntry); }, EXIT_FAILED,
       true},
      {"no entry", [] { RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY); }, EXIT_INSTALLED,
       false},
  };
  for (const Case& c : cases) {
    sim::Reset();
    ResetRunState();
    for (const char* name : kPackage) sim::AddFile(kPkg + name, std::string(3000, 'x'), 2000);
    ASSERT_EQ(RunMain({kPkg + "setup.exe", "-FU", "-X"}), EXIT_INSTALLED);
    ASSERT_TRUE(sim::KeyExists(kEntry));
    ResetRunState();
    sim::M().calls.clear();
    c.arrange();
    EXPECT_EQ(RunMain({kPkg + "setup.exe", "-U", "-X"}), c.code) << c.name;
    EXPECT_EQ(sim::KeyExists(kEntry), c.entryKept) << c.name;
    // The entry goes last, after every file.
    auto calls = sim::M().calls;
    size_t lastFile = 0, entryDeleted = 0;
    for (size_t i = 0; i < calls.size(); i++) {
      if (calls[i].op == "DeleteFileA" || calls[i].op == "RemoveDirectoryA") lastFile = i;
      if (calls[i].op == "RegDeleteKeyA") entryDeleted = i;
    }
    // A removal that failed at a file leaves the entry alone; otherwise it goes last.
    bool fileFailed = c.code == EXIT_FAILED && sim::M().files.refuseDelayedMoves;
    EXPECT_EQ(entryDeleted != 0, !fileFailed) << c.name;
    if (!fileFailed) EXPECT_GT(entryDeleted, lastFile) << c.name;
  }
}

}  // namespace

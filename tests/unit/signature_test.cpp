// A signed package: what a run from a signed SETUP.EXE places, starts and prints when the
// package's files are, or are not, as its signer signed them.
#include <stdio.h>

#include <map>

#include "actions/actions.h"
#include "catalogue.h"
#include "sim_test.h"

namespace {

const std::string kPkg = "D:\\pkg\\", kSys = "C:\\WINDOWS\\system32\\";
const std::string kDriver = kSys + "drivers\\tvx2\\";
const std::vector<std::string> kInstall = {kPkg + "setup.exe", "-FU", "-X"};
const std::vector<std::string> kRemove = {kDriver + "SETUP.EXE", "-U", "-X"};

void Lay(const std::string& dir, const char* signer, bool trustedRoot = true) {
  for (const char* name : kPackage) {
    std::string body = std::string("package ") + name;
    sim::AddFile(dir + name, signer ? sim::Signed(body, signer, trustedRoot) : body, 2000);
  }
  // The release is what a signed package was built as.
  if (signer) proof::SetManifest(dir);
}
void Replace(const std::string& path, const std::string& bytes) { sim::AddFile(path, bytes, 2000); }
std::string BrokenDigest(const char* name) {
  std::string bytes = sim::Signed(std::string("package ") + name, "KTA");
  bytes[0] = 'P';
  return bytes;
}
void Installed(const std::string& tool) {
  Lay(kDriver, "KTA");
  for (const char* name : {"KTASPW.DLL", "KTASPREM.EXE"}) sim::AddFile(kSys + name, "placed", 2000);
  sim::AddFile(kSys + "KTASPSVC.EXE", tool, 2000);
  proof::AddEntry("2.1.0.0");
}

const std::string kSecret = "C:\\secret\\key.bin";
std::string Line(const std::string& text, const char* first, const char* second = "") {
  char line[512];
  snprintf(line, sizeof line, text.c_str(), first, second);
  return line;
}

// Another program of the signer in place of each package file the run holds open, before
// each read.
void SwapOpenFiles() {
  sim::ActBefore("ReadFile", SwapOpenFiles);
  for (const sim::HandleEntry& h : sim::M().handles)
    if (h.open && h.kind == sim::HandleKind::File && h.name.compare(0, kPkg.size(), kPkg) == 0)
      Replace(h.name, sim::Signed("other", "KTA"));
}

int ToolStarts() {
  int n = 0;
  for (const sim::ProcessEntry& p : sim::M().process.processes)
    n += sim::EqualNoCase(p.program, kSys + "KTASPSVC.EXE");
  return n;
}

TEST_F(SimTest, SignedPackageOutcomes) {
  struct Case {
    const char* name;
    void (*arrange)();
    const std::vector<std::string>& args;
    int exitCode;
    std::vector<const char*> refused;  // named by message 99, in order
    bool toolInSystem32;                // after the run
    int toolStarts;
    std::string printed = "";           // another message instead
  } cases[] = {
      {"unsigned package", [] { Lay(kPkg, nullptr); }, kInstall, 0, {}, true, 1},
      {"all signed by one signer", [] { Lay(kPkg, "KTA"); }, kInstall, 0, {}, true, 1},
      {"all by one signer whose root is not trusted", [] { Lay(kPkg, "KTA", false); },
       kInstall, 0, {}, true, 1},
      {"service tool unsigned",
       [] { Lay(kPkg, "KTA"); Replace(kPkg + "KTASPSVC.EXE", "own program"); },
       kInstall, 2, {"KTASPSVC.EXE"}, false, 0},
      {"library by another signer, remote tool's digest broken",
       [] {
         Lay(kPkg, "KTA");
         Replace(kPkg + "KTASPW.DLL", sim::Signed("package KTASPW.DLL", "Other"));
         Replace(kPkg + "KTASPREM.EXE", BrokenDigest("KTASPREM.EXE"));
       },
       kInstall, 2, {"KTASPW.DLL", "KTASPREM.EXE"}, false, 0},
      {"SETUP.EXE's own digest broken",
       [] { Lay(kPkg, "KTA"); Replace(kPkg + "SETUP.EXE", BrokenDigest("SETUP.EXE")); },
       kInstall, 2, {"SETUP.EXE"}, false, 0},
      {"a staged file's check cannot be made",
       [] {
         Lay(kPkg, "KTA");
         sim::InjectFault("WinVerifyTrust", 0x80092026, kPkg + "\\KTASPW32.DLL");
       },
       kInstall, 2, {}, false, 0, Line(kNotCheckable, "KTASPW32.DLL", "0x80092026")},
      {"another program by the same signer as the service tool",
       [] { Lay(kPkg, "KTA"); Replace(kPkg + "KTASPSVC.EXE", sim::Signed("other", "KTA")); },
       kInstall, 2, {"KTASPSVC.EXE"}, false, 0},
      {"a package library that is a symbolic link",
       [] { Lay(kPkg, "KTA"); sim::AddSymbolicLink(kPkg + "KTASPW.DLL", kSecret); },
       kInstall, 2, {}, false, 0, Line(kNotTaken, (kPkg + "\\KTASPW.DLL").c_str())},
      {"an unsigned package's library that is a hard link",
       [] { Lay(kPkg, nullptr); sim::AddHardLink(kPkg + "KTASPW.DLL", kSecret); },
       kInstall, 2, {}, false, 0, Line(kNotTaken, (kPkg + "\\KTASPW.DLL").c_str())},
      {"from the driver directory, a library a reader has in use",
       [] { Lay(kDriver, "KTA"); sim::HoldOpen(kDriver + "KTASPW.DLL"); },
       {kDriver + "SETUP.EXE", "-FU", "-X"}, 2, {}, false, 0,
       Line(kInUseNotChecked, "KTASPW.DLL")},
      {"no wintrust.dll: SETUP.EXE cannot be checked",
       [] { Lay(kPkg, nullptr); sim::M().libraries.system.erase("wintrust.dll"); },
       kInstall, 2, {"SETUP.EXE"}, false, 0},
      {"a staged library in use, its restart copy unsigned",
       [] {
         Lay(kPkg, "KTA"), Lay(kDriver, "KTA"), Replace(kPkg + "KTASPW.DLL", "own library");
         sim::HoldSharingReads(kDriver + "KTASPW.DLL");
       },
       kInstall, 2, {"KTASPW.DLL"}, false, 0},
      {"SETUP.EXE without a signature, Windows' last error another", [] { Lay(kPkg, nullptr);
         sim::M().signatures.lastErrors[sim::Lower(kPkg + "SETUP.EXE")] = ERROR_SHARING_VIOLATION; }, kInstall, 2, {"SETUP.EXE"}, false, 0},
      {"a crypt32.dll beside SETUP.EXE, no loader update",
       [] { Lay(kPkg, "KTA"), sim::AddFile(kPkg + "crypt32.dll", "planted", 2000), sim::WithoutLoaderUpdate(); },
       kInstall, 0, {}, true, 1},
      {"from the driver directory, a library by another signer, undeletable, the restart "
       "lists unknown",
       [] {
         Lay(kDriver, "KTA");
         Replace(kDriver + "KTASPW.DLL", sim::Signed("package KTASPW.DLL", "Other"));
         sim::InjectFault("DeleteFileA", 5, kDriver + "KTASPW.DLL");
         sim::InjectFault("RegOpenKeyExA", 5, SIM_SESSION_MANAGER_PATH);
       },
       {kDriver + "SETUP.EXE", "-FU", "-X"}, 2, {"KTASPW.DLL"}, false, 0},
      {"signed removal", [] { Installed(sim::Signed("package KTASPSVC.EXE", "KTA")); }, kRemove,
       0, {}, false, 1},
      {"signed removal, its installed tool another program of the signer",
       [] { Installed(sim::Signed("t", "KTA")); }, kRemove, 2, {}, false, 0},
      // A removal whose remove run was refused fails, and keeps its entry for another try.
      {"signed removal, its installed tool unsigned", [] { Installed("own program"); },
       kRemove, 2, {}, false, 0},
      {"signed installation, its tool placed at the restart, the one now there unsigned",
       [] {
         Lay(kPkg, "KTA"), Replace(kSys + "KTASPSVC.EXE", "own program");
         sim::HoldOpen(kSys + "KTASPSVC.EXE", true);
       },
       kInstall, 2, {}, true, 0},
      {"SETUP.EXE renamed while it starts, an unsigned one at its name",
       [] {
         Lay(kPkg, "KTA");
         sim::ActBefore("GetModuleFileNameA", [] {
           sim::RenameFile(kPkg + "SETUP.EXE", kPkg + "old.exe");
           sim::AddFile(kPkg + "SETUP.EXE", "unsigned build", 2000);
         });
       },
       kInstall, 2, {}, false, 0, kNotRunningFile},
      {"... and nothing at its name",
       [] {
         Lay(kPkg, "KTA");
         sim::ActBefore("GetModuleFileNameA",
                        [] { sim::RenameFile(kPkg + "SETUP.EXE", kPkg + "old.exe"); });
       },
       kInstall, 2, {}, false, 0, kNotRunningFile},
      {"a swap once SETUP.EXE is open is refused, its pin holds",
       [] {
         Lay(kPkg, "KTA"), Replace(kPkg + "KTASPSVC.EXE", "own program");
         sim::ActBefore("WinVerifyTrust", [] {
           if (sim::RenameFile(kPkg + "SETUP.EXE", kPkg + "old.exe"))
             sim::AddFile(kPkg + "SETUP.EXE", "unsigned build", 2000);
         });
       },
       kInstall, 2, {"KTASPSVC.EXE"}, false, 0},
      {"each package file replaced once the run has it open", [] { Lay(kPkg, "KTA");
         sim::ActBefore("ReadFile", SwapOpenFiles); },
       kInstall, 0, {}, true, 1},
      {"another program's move waits to put its own tool over the placed one",
       [] { Lay(kPkg, "KTA"), Replace("C:\\other.exe", sim::Signed("other", "KTA"));
         sim::M().files.pendingMoves = {{"C:\\other.exe", kSys + "KTASPSVC.EXE", true}}; },
       kInstall, 1, {}, true, 1},
      {"an earlier run's copy waits to put an older tool over the placed one",
       [] { Lay(kPkg, "KTA"), Replace(kSys + "tvx1.tmp", sim::Signed("older", "KTA"));
         sim::M().files.pendingMoves = {{kSys + "tvx1.tmp", kSys + "KTASPSVC.EXE", true}}; },
       kInstall, 0, {}, true, 1},
      {"signed upgrade of an unsigned installation whose SETUP.EXE an older run holds",
       [] { Lay(kPkg, "KTA"), Lay(kDriver, nullptr);
         sim::HoldSharingReads(kDriver + "SETUP.EXE"); },
       kInstall, 0, {}, true, 1},
      {"a package library whose final path is another file's (a link as Wine opens one)",
       [] { Lay(kPkg, "KTA");
         sim::M().files.entries[sim::Lower(kPkg + "KTASPW.DLL")].finalPath = "\\\\?\\" + kSecret; },
       kInstall, 2, {}, false, 0, Line(kNotTaken, (kPkg + "\\KTASPW.DLL").c_str())},
      {"from the driver directory, an earlier run's unsigned copy waits to replace SETUP.EXE",
       [] { Lay(kDriver, "KTA"), Replace(kDriver + "tvx1.tmp", "unsigned build");
         sim::M().files.pendingMoves = {{kDriver + "tvx1.tmp", kDriver + "SETUP.EXE", true}}; },
       {kDriver + "SETUP.EXE", "-FU", "-X"}, 2, {}, false, 0, Line(kNotAsSigned, "SETUP.EXE")},
      {"another program of the signer put at SETUP.EXE's name once it runs",
       [] { Lay(kPkg, "KTA"), sim::ActBefore("WinVerifyTrust", [] {
              Replace(kPkg + "SETUP.EXE", sim::Signed("o", "KTA")); }); },
       kInstall, 2, {"SETUP.EXE"}, false, 0},
      {"from the driver directory, a library a reader holds, an earlier run's checked copy waits for it",
       [] { Lay(kDriver, "KTA"), Replace(kDriver + "tvx1.tmp", sim::FileContents(kDriver + "KTASPW.DLL"));
         Replace(kDriver + "KTASPW.DLL", sim::Signed("older", "KTA")), sim::HoldSharingReads(kDriver + "KTASPW.DLL");
         sim::M().files.pendingMoves = {{kDriver + "tvx1.tmp", kDriver + "KTASPW.DLL", true}}; },
       {kDriver + "SETUP.EXE", "-FU", "-X"}, 0, {}, true, 1},
      {"from the driver directory, its tool by another signer",
       [] {
         Lay(kDriver, "KTA");
         Replace(kDriver + "KTASPSVC.EXE", sim::Signed("package KTASPSVC.EXE", "Other"));
       },
       {kDriver + "SETUP.EXE", "-FU", "-X"}, 2, {"KTASPSVC.EXE"}, false, 0},
  };
  for (const auto& c : cases) {
    sim::Reset();
    proof::SetManifest("");
    sim::AddFile(kSecret, "administrators only", 1);
    c.arrange();
    std::map<std::string, std::string> release;
    for (const char* name : kPackage) release[name] = sim::FileContents(kPkg + name);
    EXPECT_EQ(proof::RunInstaller(c.args).exitCode, c.exitCode) << c.name;
    std::string want = kForcing + kBanner;
    for (const char* name : c.refused) {
      char line[256];
      snprintf(line, sizeof line, kNotAsSigned.c_str(), name);
      want += line;
    }
    want += c.printed;
    if (!c.refused.empty() || !c.printed.empty()) {
      want += kFailed;
      EXPECT_EQ(Out(), want) << c.name;
      EXPECT_FALSE(sim::KeyExists(proof::kEntryKey)) << c.name;
    }
    // A file in use stays as it was; no copy of what failed waits for the restart.
    bool inUse = std::string(c.name).find("in use") != std::string::npos ||
                 std::string(c.name).find("undeletable") != std::string::npos;
    for (const char* name : c.refused) EXPECT_NE(sim::FileExists(kDriver + name), !inUse) << c.name;
    if (inUse) EXPECT_TRUE(sim::M().files.pendingMoves.empty()) << c.name;
    EXPECT_EQ(sim::FileExists(kSys + "KTASPSVC.EXE"), c.toolInSystem32) << c.name;
    EXPECT_EQ(ToolStarts(), c.toolStarts) << c.name;
    // No UI, no revocation fetched over the network, every verification closed.
    for (const sim::CallRecord& call : sim::CallsTo("WinVerifyTrust"))
      EXPECT_EQ(std::vector<std::string>(call.args.begin() + 3, call.args.begin() + 6),
                (std::vector<std::string>{"0x2", "0x0", "0x1000"})) << c.name;
    // SETUP.EXE itself is read through the handle it holds.
    std::vector<sim::CallRecord> checks = sim::CallsTo("WinVerifyTrust");
    if (!checks.empty()) EXPECT_NE(checks[0].args[6], "NULL") << c.name;
    EXPECT_EQ(sim::Unreleased(), "") << c.name;
    // After the restart an installation that succeeded holds the package as handed over.
    sim::ApplyPendingMoves();
    for (const char* name : kPackage)
      if (&c.args == &kInstall && c.exitCode < 2)
        EXPECT_EQ(sim::FileContents(kDriver + name), release[name]) << c.name << ": " << name;
    if (&c.args == &kInstall && c.exitCode < 2)
      EXPECT_EQ(sim::FileContents(kSys + "KTASPSVC.EXE"), release["KTASPSVC.EXE"]) << c.name;
  }
  // The last run's log names the file that is not the release's.
  EXPECT_NE(sim::FileContents("C:\\WINDOWS\\Logs\\TVX2\\setup.log").find(
                "digest of \"" + kDriver + "KTASPSVC.EXE\": not the release's"), std::string::npos);
}

}  // namespace

// The sweeps' machines. Each starts from a fresh simulated machine and the package in D:\pkg.
#include "machines.h"

#include "platform/sim/machine.h"
#include "setup/lock.h"

namespace proof {

namespace {

const char* const kPackage[] = {"SETUP.EXE", "KTASPW.DLL", "KTASPW32.DLL", "KTASPREM.EXE",
                                "KTASPSVC.EXE"};
const std::string kPkg = "D:\\pkg\\";
const std::string kSys = "C:\\WINDOWS\\system32\\";
const std::string kWow = "C:\\WINDOWS\\SysWOW64\\";
const std::string kServices = std::string(SIM_SERVICES_PATH) + "\\";
const uint64_t kOld = 1000, kPackageTime = 2000, kNewer = 3000;

std::string Bytes(const char* name) { return std::string("package ") + name; }

void AddPackage() {
  for (const char* name : kPackage) sim::AddFile(kPkg + name, Bytes(name), kPackageTime);
  // A key of another service, which no run may touch.
  sim::AddKey(kServices + "Tcpip\\Parameters");
  sim::PressKey(' ');                                  // for the closing pause
  sim::SetStdin("y\ny\ny\ny\ny\ny\n");                  // for any date question
}

void AddWorkingCard() { sim::AddHidInterface("\\\\?\\hid#vid_7a5c&pid_4001#7&1", 0x7A5C, 0x4001); }

void FirstInstallation() { AddPackage(); }

void Upgrade() {
  AddPackage();
  AddWorkingCard();
  // Both legacy services, one with a child that has a child of its own. (A service with two
  // children, or a third key with a legacy name, takes the removal two runs by design: the
  // passes end once each name has had one removal.)
  sim::AddKey(kServices + "ktawdrsv\\Enum\\0");
  sim::AddKey(kServices + "ktawdrex");
  // The older watchdog tool, and the card's older service tool.
  sim::AddFile(kSys + "ktawdrsv.exe", "old watchdog", kOld);
  sim::AddProgram(kSys + "ktawdrsv.exe", 3000);
  sim::AddFile(kSys + "KTASPSVC.EXE", "old KTASPSVC.EXE", kOld);
  sim::AddProgram(kSys + "KTASPSVC.EXE", 6000);
  sim::AddFile(kSys + "KTASPREM.EXE", "old KTASPREM.EXE", kOld, FILE_ATTRIBUTE_READONLY);
  // A newer library in the WOW64 directory, and the 64-bit library in use.
  sim::AddFile(kWow + "KTASPW.DLL", "newer KTASPW.DLL", kNewer);
  sim::AddFile(kSys + "KTASPW.DLL", "old KTASPW.DLL", kOld);
  sim::HoldOpen(kSys + "KTASPW.DLL");
}

// The upgrade, started from the driver directory, where an earlier run staged the package;
// that run's uninstall entry names an older version.
void UpgradeFromDriverDirectory() {
  Upgrade();
  for (const char* name : kPackage)
    sim::AddFile(kSys + "drivers\\tvx2\\" + name, Bytes(name), kPackageTime);
  AddEntry("2.0.0.0");
}

// An installed machine with its uninstall entry, as a removal finds it (started from the
// driver directory, as the entry's command does).
void InstalledNothingInUse() {
  AddPackage();
  for (const char* name : kPackage)
    sim::AddFile(kSys + "drivers\\tvx2\\" + name, Bytes(name), kPackageTime);
  for (const char* name : {"KTASPW.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"})
    sim::AddFile(kSys + name, Bytes(name), kPackageTime);
  sim::AddProgram(kSys + "KTASPSVC.EXE", 4000);
  sim::AddFile(kWow + "KTASPW.DLL", Bytes("KTASPW32.DLL"), kPackageTime);
  AddEntry("2.1.0.0");
}

// The same with its library in use.
void Installed() {
  InstalledNothingInUse();
  sim::HoldOpen(kSys + "KTASPW.DLL");
  // A run log grown past its limit, which this run renames before it logs.
  std::string lines;
  while (lines.size() <= 1024 * 1024) lines += "2026-03-01 08:30:00.000 4000 an earlier line\r\n";
  sim::AddFile("C:\\WINDOWS\\Logs\\TVX2\\setup.log", lines, kOld);
}

// The upgrade on a machine whose ANSI code page is UTF-8 (the manifest's), from a folder whose
// name code page 1252 cannot write: "D:\软件".
const std::string kUtf8Pkg = "D:\\\xe8\xbd\xaf\xe4\xbb\xb6\\";
void UpgradeFromUtf8Folder() {
  Upgrade();
  sim::M().ansiCodePage = CP_UTF8;
  for (const char* name : kPackage) sim::AddFile(kUtf8Pkg + name, Bytes(name), kPackageTime);
}

// A run while arranging a machine: the swept run starts from what it left, its calls and output
// forgotten.
void RunBefore(const std::vector<std::string>& args) {
  RunInstaller(args);
  sim::M().calls.clear();
  sim::M().callCount = 0;
  sim::M().console.out.clear();
}

// The library in System32, and the SETUP.EXE in the driver directory, are in use (a program
// that loads the one, an administrator's run of the other) during a run, and then end.
const std::string kInUse[] = {kSys + "KTASPW.DLL", kSys + "drivers\\tvx2\\SETUP.EXE"};

// An installation while they are in use records their replacements; a removal follows.
void InstalledWhileInUse() {
  AddPackage();
  sim::AddFile(kInUse[0], "old KTASPW.DLL", kOld);
  sim::AddFile(kInUse[1], "old SETUP.EXE", kOld);
  for (const std::string& path : kInUse) sim::HoldOpen(path);
  RunBefore({"D:\\pkg\\setup.exe", "-FU", "-X"});
  for (const std::string& path : kInUse) sim::ReleaseHold(path);
}

// A removal while they are in use records their deletions; an installation follows.
void RemovedWhileInUse() {
  Installed();
  sim::HoldOpen(kInUse[1]);
  RunBefore({"D:\\pkg\\setup.exe", "-U", "-X"});
  for (const std::string& path : kInUse) sim::ReleaseHold(path);
}

// An installation that lost its 32-bit library, and whose remote tool was replaced by other
// bytes of the same size and time.
void Damaged() {
  InstalledNothingInUse();
  sim::RemoveFile(kWow + "KTASPW.DLL");
  sim::AddFile(kSys + "KTASPREM.EXE", Bytes("KTASPREX.EXE"), kPackageTime);
}

void CardByPciIdOnly() {
  AddPackage();
  sim::AddDevice("PCI\\VEN_1002&DEV_5159\\3&1", {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00",
                                                  "PCI\\VEN_1002&DEV_5159"});
  sim::AddDevice("ACPI\\PNP0A03\\0", {"ACPI\\PNP0A03"});
}

// A first installation started while another run holds the lock for two minutes.
const uint64_t kOtherRunMs = 120000;
void BesideAnotherRun() {
  AddPackage();
  AddWorkingCard();
  sim::HoldMutex(SETUP_LOCK_NAME, kOtherRunMs);
}

void DetectOnly() {
  AddPackage();
  AddWorkingCard();
}

// Windows 7 without the loader update: hid.dll is loaded by its full path.
void DetectOnlyWithoutLoaderUpdate() {
  DetectOnly();
  sim::WithoutLoaderUpdate();
}

// Restart lists another program writes (again at each start) in forms the installer cannot
// follow: a final string that runs to the end of the value, an odd count, a second list over
// the bound, and a second list that deletes the library a program holds open.
const std::string kOther = "\\??\\C:\\Other\\other.dll";
void TruncatedList() { sim::M().files.pendingRaw = kOther + std::string(2, '\0') + kOther; }
void OddList() { sim::M().files.pendingRaw = kOther + '\0' + "!" + kOther + '\0' + kOther + std::string(2, '\0'); }
void LongSecondList() {
  std::string deletion = "\\??\\" + kSys + "KTASPW.DLL" + std::string(2, '\0');
  sim::M().files.pendingRaw2 = kOther + std::string(2200000, 'a') + std::string(2, '\0') + deletion + '\0';
}
void SecondListDeletion() { sim::M().files.pendingMoves2 = {{kSys + "KTASPW.DLL", "", false}}; }
void UpgradeOverATruncatedList() { Upgrade(); TruncatedList(); }
void RemovalOverAnOddList() { Installed(); OddList(); }
void InstallationOverALongSecondList() { FirstInstallation(); LongSecondList(); }
void UpgradeBesideASecondListDeletion() { Upgrade(); SecondListDeletion(); }
// Signed packages: over an unsigned installation (its old tool not started), and tampered.
void SignPackage(const char* signer) {
  for (const char* name : kPackage)
    sim::AddFile(kPkg + name, sim::Signed(Bytes(name), signer), kPackageTime);
  proof::SetManifest(kPkg);  // the release is what was signed
}
void SignedUpgrade() { Upgrade(), SignPackage("KTA"); }
void SignedInstallation() { AddPackage(), SignPackage("KTA"); }
void OtherProgramsOfTheSigner() {
  for (const char* name : kPackage)
    sim::AddFile(kPkg + name, sim::Signed("other " + Bytes(name), "KTA"), kPackageTime);
}
void SignedPackageWithAnotherTool() {
  AddPackage(), SignPackage("KTA");
  sim::AddFile(kPkg + "KTASPSVC.EXE", Bytes("KTASPSVC.EXE"), kPackageTime);
}

}  // namespace

const std::vector<MachineCase>& Machines() {
  static const std::vector<MachineCase> machines = {
      {"first installation -FU", FirstInstallation, {"D:\\pkg\\setup.exe", "-FU"},
       {"D:\\pkg\\setup.exe", "-FU", "-X"}, true, 0},
      {"upgrade", Upgrade, {"D:\\pkg\\setup.exe"}, {"D:\\pkg\\setup.exe", "-X"}, true, 1},
      {"upgrade with traces, unattended", Upgrade, {"D:\\pkg\\setup.exe", "-D", "-X"},
       {"D:\\pkg\\setup.exe", "-X"}, true, 1},
      {"upgrade without messages", Upgrade, {"D:\\pkg\\setup.exe", "-N"},
       {"D:\\pkg\\setup.exe", "-N"}, true, 1},
      {"upgrade from the driver directory", UpgradeFromDriverDirectory,
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-X"},
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-X"}, true, 1},
      {"card by PCI ID only", CardByPciIdOnly, {"D:\\pkg\\setup.exe", "-X"},
       {"D:\\pkg\\setup.exe", "-X"}, true, 16},
      {"removal", Installed, {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-U"},
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-U", "-X"}, true, 1},
      {"removal by the entry's quiet command", InstalledNothingInUse,
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\SETUP.EXE", "-U", "-N"},
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\SETUP.EXE", "-U", "-N"}, true, 0},
      {"installation waiting for another run", BesideAnotherRun, {"D:\\pkg\\setup.exe"},
       {"D:\\pkg\\setup.exe", "-X"}, true, 0, u"", kOtherRunMs},
      {"removal after an installation with files in use", InstalledWhileInUse,
       {"D:\\pkg\\setup.exe", "-U"}, {"D:\\pkg\\setup.exe", "-U", "-X"}, true, 0},
      {"installation after a removal with files in use", RemovedWhileInUse,
       {"D:\\pkg\\setup.exe", "-FU"}, {"D:\\pkg\\setup.exe", "-FU", "-X"}, true, 1},
      {"detect-only", DetectOnly, {"D:\\pkg\\setup.exe", "-H"}, {"D:\\pkg\\setup.exe", "-H"},
       false, 0},
      {"upgrade from a folder named in UTF-8", UpgradeFromUtf8Folder,
       {kUtf8Pkg + "setup.exe", "-X"}, {kUtf8Pkg + "setup.exe", "-X"}, true, 1},
      // Code page 1252 reads it as "D:\??\setup.exe": every run refuses, changing nothing.
      {"upgrade from a folder beyond the code page", Upgrade, {}, {}, true, 2,
       u"D:\\软件\\setup.exe -X"},
      {"verification of a damaged installation", Damaged, {"D:\\pkg\\setup.exe", "-V"},
       {"D:\\pkg\\setup.exe", "-V"}, false, 2},
      {"verification waiting for the restart", InstalledWhileInUse, {"D:\\pkg\\setup.exe", "/v"},
       {"D:\\pkg\\setup.exe", "/v"}, false, 1},
      {"detect-only without the loader update", DetectOnlyWithoutLoaderUpdate,
       {"D:\\pkg\\setup.exe", "-H"}, {"D:\\pkg\\setup.exe", "-H"}, false, 0},
      {"upgrade over a list whose last string is cut", UpgradeOverATruncatedList,
       {"D:\\pkg\\setup.exe", "-X"}, {"D:\\pkg\\setup.exe", "-X"}, true, 2, u"", 0,
       TruncatedList},
      {"removal over a list of an odd count", RemovalOverAnOddList,
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-U"},
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-U", "-X"}, true, 2, u"", 0, OddList},
      {"installation over a second list past the bound", InstallationOverALongSecondList,
       {"D:\\pkg\\setup.exe", "-FU"}, {"D:\\pkg\\setup.exe", "-FU", "-X"}, true, 2, u"", 0,
       LongSecondList},
      {"upgrade with the library in use beside its deletion in the second list",
       UpgradeBesideASecondListDeletion, {"D:\\pkg\\setup.exe", "-X"},
       {"D:\\pkg\\setup.exe", "-X"}, true, 2, u"", 0, SecondListDeletion},
      {"signed upgrade", SignedUpgrade, {"D:\\pkg\\setup.exe", "-X"},
       {"D:\\pkg\\setup.exe", "-X"}, true, 1, u"", 0, nullptr, "KTA"},
      {"signed package, its service tool replaced", SignedPackageWithAnotherTool,
       {"D:\\pkg\\setup.exe", "-FU", "-X"}, {"D:\\pkg\\setup.exe", "-FU", "-X"}, true, 2,
       u"", 0, nullptr, "KTA"},
      {"signed installation, its package swapped", SignedInstallation,
       {"D:\\pkg\\setup.exe", "-FU", "-X"}, {"D:\\pkg\\setup.exe", "-FU", "-X"}, true, 0,
       u"", 0, nullptr, "KTA", OtherProgramsOfTheSigner},
  };
  return machines;
}

Outcome Start(const MachineCase& machine, bool rerun) {
  if (!machine.commandLine.empty()) return RunInstallerW(machine.commandLine);
  return RunInstaller(rerun ? machine.rerun : machine.args);
}

RunRules Rules(const MachineCase& machine) {
  RunRules r;
  r.installs = machine.installs;
  r.messagesOn = true;
  for (const std::string& a : machine.args)
    r.messagesOn &= !sim::EqualNoCase(a, "-N") && !sim::EqualNoCase(a, "/N");
  // Three tool waits of five minutes, the wait for another run, and a little more.
  r.timeLimitMs = 3 * 300000 + machine.lockWaitMs + 60000;
  std::string driver = sim::Lower(kSys + "drivers\\tvx2\\");
  auto bytes = [&machine](const char* name) {
    return machine.signer ? sim::Signed(Bytes(name), machine.signer) : Bytes(name); };
  r.signer = machine.signer ? machine.signer : "";
  for (const char* name : kPackage) r.sources[driver + sim::Lower(name)] = bytes(name);
  for (const char* name : {"KTASPW.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"}) {
    r.sources[sim::Lower(kSys + name)] = bytes(name);
    r.placements.push_back(sim::Lower(kSys + name));
  }
  r.sources[sim::Lower(kWow + "KTASPW.DLL")] = bytes("KTASPW32.DLL");
  r.placements.push_back(sim::Lower(kWow + "KTASPW.DLL"));
  for (const std::string& a : machine.args) r.removal |= sim::EqualNoCase(a, "-U");
  for (const std::string& a : machine.args) r.verifies |= sim::EqualNoCase(a.substr(1), "V");
  if (r.verifies) r.sources.clear();  // nothing may change
  r.removes = r.placements;
  for (const char* name : kPackage) r.removes.push_back(driver + sim::Lower(name));
  r.logs = {"c:\\windows\\logs\\tvx2\\setup.log", "c:\\windows\\logs\\tvx2\\setup.log.1"};
  return r;
}

}  // namespace proof

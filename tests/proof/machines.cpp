// The sweeps' machines. Each starts from a fresh simulated machine and the package in D:\pkg.
#include "machines.h"

#include "platform/sim/machine.h"

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

// The upgrade, started from the driver directory, where an earlier run staged the package.
void UpgradeFromDriverDirectory() {
  Upgrade();
  for (const char* name : kPackage)
    sim::AddFile(kSys + "drivers\\tvx2\\" + name, Bytes(name), kPackageTime);
}

// An installed machine, its library in use: what a removal finds.
void Installed() {
  AddPackage();
  for (const char* name : kPackage)
    sim::AddFile(kSys + "drivers\\tvx2\\" + name, Bytes(name), kPackageTime);
  for (const char* name : {"KTASPW.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"})
    sim::AddFile(kSys + name, Bytes(name), kPackageTime);
  sim::AddProgram(kSys + "KTASPSVC.EXE", 4000);
  sim::AddFile(kWow + "KTASPW.DLL", Bytes("KTASPW32.DLL"), kPackageTime);
  sim::HoldOpen(kSys + "KTASPW.DLL");
  // A run log grown past its limit, which this run renames before it logs.
  std::string lines;
  while (lines.size() <= 1024 * 1024) lines += "2026-03-01 08:30:00.000 4000 an earlier line\r\n";
  sim::AddFile("C:\\WINDOWS\\Logs\\TVX2\\setup.log", lines, kOld);
}

void CardByPciIdOnly() {
  AddPackage();
  sim::AddDevice("PCI\\VEN_1002&DEV_5159\\3&1", {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00",
                                                  "PCI\\VEN_1002&DEV_5159"});
  sim::AddDevice("ACPI\\PNP0A03\\0", {"ACPI\\PNP0A03"});
}

void DetectOnly() {
  AddPackage();
  AddWorkingCard();
}

}  // namespace

const std::vector<MachineCase>& Machines() {
  static const std::vector<MachineCase> machines = {
      {"first installation -FU", FirstInstallation, {"D:\\pkg\\setup.exe", "-FU"},
       {"D:\\pkg\\setup.exe", "-FU", "-X"}, true},
      {"upgrade", Upgrade, {"D:\\pkg\\setup.exe"}, {"D:\\pkg\\setup.exe", "-X"}, true},
      {"upgrade with traces, unattended", Upgrade, {"D:\\pkg\\setup.exe", "-D", "-X"},
       {"D:\\pkg\\setup.exe", "-X"}, true},
      {"upgrade without messages", Upgrade, {"D:\\pkg\\setup.exe", "-N"},
       {"D:\\pkg\\setup.exe", "-N"}, true},
      {"upgrade from the driver directory", UpgradeFromDriverDirectory,
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-X"},
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-X"}, true},
      {"card by PCI ID only", CardByPciIdOnly, {"D:\\pkg\\setup.exe", "-X"},
       {"D:\\pkg\\setup.exe", "-X"}, true},
      {"removal", Installed, {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-U"},
       {"C:\\WINDOWS\\system32\\drivers\\tvx2\\setup.exe", "-U", "-X"}, true},
      {"detect-only", DetectOnly, {"D:\\pkg\\setup.exe", "-H"}, {"D:\\pkg\\setup.exe", "-H"},
       false},
  };
  return machines;
}

RunRules Rules(const MachineCase& machine) {
  RunRules r;
  r.installs = machine.installs;
  r.messagesOn = true;
  for (const std::string& a : machine.args)
    r.messagesOn &= !sim::EqualNoCase(a, "-N") && !sim::EqualNoCase(a, "/N");
  // Three tool waits of five minutes, and a little more.
  r.timeLimitMs = 3 * 300000 + 60000;
  std::string driver = sim::Lower(kSys + "drivers\\tvx2\\");
  for (const char* name : kPackage) r.sources[driver + sim::Lower(name)] = Bytes(name);
  for (const char* name : {"KTASPW.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"}) {
    r.sources[sim::Lower(kSys + name)] = Bytes(name);
    r.placements.push_back(sim::Lower(kSys + name));
  }
  r.sources[sim::Lower(kWow + "KTASPW.DLL")] = Bytes("KTASPW32.DLL");
  r.placements.push_back(sim::Lower(kWow + "KTASPW.DLL"));
  for (const std::string& a : machine.args) r.removal |= sim::EqualNoCase(a, "-U");
  r.removes = r.placements;
  for (const char* name : kPackage) r.removes.push_back(driver + sim::Lower(name));
  r.logs = {"c:\\windows\\logs\\tvx2\\setup.log", "c:\\windows\\logs\\tvx2\\setup.log.1"};
  return r;
}

}  // namespace proof

// The catalogue texts the tests compare, byte for byte, written out once: a test that read the
// installer's MessageTable would follow a wrong text. The console test holds the table against
// them, so that a changed text is found there.
#ifndef TESTS_CATALOGUE_H
#define TESTS_CATALOGUE_H

#include <stdio.h>

#include <string>

// By number in the catalogue.
inline const std::string kBanner = "KTA Talvexa 2 software installation\n\r";  // 8
inline const std::string kComplete = "Installation complete\n\r";  // 13
inline const std::string kFailed = "\nInstallation failed\n";  // 28
inline const std::string kReboot = "Reboot the machine for the device driver to start. \n\r";  // 32
inline const std::string kClosing = "Press any key to exit.";  // 33
inline const std::string kOlderThan = "%s is older than %s.\n";  // 52
inline const std::string kPrompt = "Do you want to copy anyway? (y/n):\n";  // 54
inline const std::string kNoDevice =  // 70
    "The Talvexa II device was not found.\nCheck the USB cable connection of the TVX II.\n";
inline const std::string kNotReady =  // 72
    "The Talvexa II (TVX II) device was found, but the TVX II is\n"
    "not configured for Windows, or the Windows USB drivers are not correctly \n"
    "installed for the TVX II device, or the TVX II is not properly connected to\n"
    "USB.  First check the USB connection of the TVX II. Then in BIOS \n"
    "Configuration/Setup use the Advanced Setup menu to check the TVX II \n"
    "Configuration.  Then check Device Manager in Windows.  If a HID_SYS device is\n"
    "shown, select Update Driver for it. \n"
    "\n"
    "The KTA TVX II software will now be installed, but will not work properly\n"
    "until the TVX II connection and configuration are corrected.\n"
    "\n";
inline const char* const k4001 = "USB\\Vid_7a5c&Pid_4001";  // 81
inline const char* const k4003 = "USB\\Vid_7a5c&Pid_4003";  // 82
inline const char* const k4004 = "USB\\Vid_7a5c&Pid_4004";  // 83
inline const char* const kPci = "PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E";  // 84
// The package's files, 88 to 92, in the catalogue's order.
inline const char* const kPackage[] = {"SETUP.EXE", "KTASPW.DLL", "KTASPW32.DLL", "KTASPREM.EXE",
                                       "KTASPSVC.EXE"};
inline const std::string kRemoving = "Removing the KTA TVX II software\n\r";  // 93
inline const std::string kRemoved = "Removal complete\n\r";  // 94
inline const std::string kRestart = "Reboot the machine to finish the removal. \n\r";  // 95
inline const std::string kCodePage =  // 96
    "The name of the package folder, or an argument, cannot be read in this system's\n"
    "code page. Copy the package to a folder whose name it can read, and run SETUP.EXE\n"
    "from there.\n";
inline const std::string kWaiting =  // 97
    "Another installation of the KTA TVX II software is running. Waiting for it to end...\n";
inline const std::string kTimedOut =  // 98
    "The other installation did not end within 20 minutes. Nothing was changed; run the "
    "installation again later.\n";
inline const std::string kNotAsSigned =  // 99
    "%s is not as its publisher signed it: the package was changed since it was signed. Get the "
    "package again from its publisher.\n";
inline const std::string kInUseNotChecked =  // 111
    "%s is in use by another program and was not checked. Close that program, or\n"
    "restart the machine, and run the installation again.\n";
inline const std::string kNotCheckable =  // 112
    "%s could not be checked: Windows answered %s. Nothing says it was changed; run\n"
    "the installation again once signatures can be checked on this machine.\n";
inline const std::string kNotTaken =  // 113
    "%s is a link, or a file with more than one name, and is not taken. Copy the\n"
    "package as plain files and run SETUP.EXE from there.\n";
inline const std::string kNotInstalled =  // 102
    "The KTA TVX II software is not installed: neither its uninstall entry nor its\n"
    "driver directory is there.\n";
inline const std::string kRestartUnknown =  // 107
    "What is recorded for the restart cannot be read whole: it may change any file.\n";
inline const std::string kNotRunningFile =  // 110
    "SETUP.EXE is no longer the file at its own path: it was moved away while it started. "
    "Nothing was changed; run SETUP.EXE again from a folder only administrators can change.\n";

// Printed by Main itself, beside the catalogue.
inline const std::string kForcing = "Skipping hardware detection - forcing Vorrin.\n";
inline const std::string kInvalidForce = "Invalid force code!\n";

// Text 52 with the two paths filled in, as the date warning prints it.
inline std::string OlderThan(const std::string& source, const std::string& dest) {
  char line[1200];
  snprintf(line, sizeof line, kOlderThan.c_str(), source.c_str(), dest.c_str());
  return line;
}

#endif

// The message catalogue and the output switches.
#include "messages.h"

#include <stdarg.h>

#include "../platform/console.h"
#include "../platform/run_state.h"
#include "setup.h"

RUN_STATE int ShowMessages = 1;
RUN_STATE unsigned short DebugTrace = 0;

// Numbers are part of the catalogue's design; unlisted numbers are unused and empty.
const char* const MessageTable[MESSAGE_COUNT] = {
    /* 0 */ "n",
    /* 1 */ "y",
    /* 2 */ "cancel",
    /* 3-7 */ "", "", "", "", "",
    /* 8 */ "KTA Talvexa 2 software installation\n\r",
    /* 9-12 */ "", "", "", "",
    /* 13 */ "Installation complete\n\r",
    /* 14-27 */ "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 28 */ "\nInstallation failed\n",
    /* 29-31 */ "", "", "",
    /* 32 */ "Reboot the machine for the device driver to start. \n\r",
    /* 33 */ "Press any key to exit.",
    /* 34-51 */ "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 52 */ "%s is older than %s.\n",
    /* 53 */ "",
    /* 54 */ "Do you want to copy anyway? (y/n):\n",
    /* 55-69 */ "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
    /* 70 */ "The Talvexa II device was not found.\nCheck the USB cable connection of the TVX II.\n",
    /* 71 */ "",
    /* 72 */ "The Talvexa II (TVX II) device was found, but the TVX II is\n"
        "not configured for Windows, or the Windows USB drivers are not correctly \n"
        "installed for the TVX II device, or the TVX II is not properly connected to\n"
        "USB.  First check the USB connection of the TVX II. Then in BIOS \n"
        "Configuration/Setup use the Advanced Setup menu to check the TVX II \n"
        "Configuration.  Then check Device Manager in Windows.  If a HID_SYS device is\n"
        "shown, select Update Driver for it. \n"
        "\n"
        "The KTA TVX II software will now be installed, but will not work properly\n"
        "until the TVX II connection and configuration are corrected.\n"
        "\n",
    /* 73-80 */ "", "", "", "", "", "", "", "",
    /* 81 */ "USB\\Vid_7a5c&Pid_4001",
    /* 82 */ "USB\\Vid_7a5c&Pid_4003",
    /* 83 */ "USB\\Vid_7a5c&Pid_4004",
    /* 84 */ "PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E",
    /* 85 */ "\\drivers\\tvx2",
    /* 86 */ "\\drivers\\tvx2\\",
    /* 87 */ "\\..\\sysWOW64\\",
    /* 88 */ "SETUP.EXE",
    /* 89 */ "KTASPW.DLL",
    /* 90 */ "KTASPW32.DLL",
    /* 91 */ "KTASPREM.EXE",
    /* 92 */ "KTASPSVC.EXE",
    /* 93 */ "Removing the KTA TVX II software\n\r",
    /* 94 */ "Removal complete\n\r",
    /* 95 */ "Reboot the machine to finish the removal. \n\r",
    /* 96 */ "The name of the package folder, or an argument, cannot be read in this system's\n"
        "code page. Copy the package to a folder whose name it can read, and run SETUP.EXE\n"
        "from there.\n",
    /* 97 */ "Another installation of the KTA TVX II software is running. Waiting for it to "
        "end...\n",
    /* 98 */ "The other installation did not end within 20 minutes. Nothing was changed; run "
        "the installation again later.\n",
    /* 99 */ "%s is not as its publisher signed it: the package was changed since it was "
        "signed. Get the package again from its publisher.\n",
    /* 100 */ "The KTA TVX II software, version %s, is installed and whole.\n",
    /* 101 */ "The KTA TVX II software, version %s, is whole once the machine restarts.\n",
    /* 102 */ "The KTA TVX II software is not installed: neither its uninstall entry nor its\n"
        "driver directory is there.\n",
    /* 103 */ "%s is missing.\n",
    /* 104 */ "%s differs from %s.\n",
    /* 105 */ "%s cannot be read (error %s).\n",
    /* 106 */ "%s is deleted, moved away or replaced by another file at the restart.\n",
    /* 107 */ "What is recorded for the restart cannot be read whole: it may change any file.\n",
    /* 108 */ "The uninstall entry HKLM\\%s is missing.\n",
    /* 109 */ "The uninstall entry HKLM\\%s gives version %s, not %s.\n",
    /* 110 */ "SETUP.EXE is no longer the file at its own path: it was moved away while it "
        "started. Nothing was changed; run SETUP.EXE again from a folder only administrators "
        "can change.\n",
    /* 111 */ "%s is in use by another program and was not checked. Close that program, or\n"
        "restart the machine, and run the installation again.\n",
    /* 112 */ "%s could not be checked: Windows answered %s. Nothing says it was changed; run\n"
        "the installation again once signatures can be checked on this machine.\n",
    /* 113 */ "%s is a link, or a file with more than one name, and is not taken. Copy the\n"
        "package as plain files and run SETUP.EXE from there.\n",
    /* 114 */ "%s is not this release's file.\n",
};

RUN_STATE const char* const* ActiveMessages = MessageTable;

void PutMessageArgs(int n, ...) {
  if (ShowMessages != 1 || !ActiveMessages || n < 0 || n >= MESSAGE_COUNT) return;
  va_list args;
  va_start(args, n);
  ConsoleVPrint(ActiveMessages[n], args);
  va_end(args);
}

void PutMessage(int n) { PutMessageArgs(n); }

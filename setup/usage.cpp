// The usage text: every option, the exit codes and where the run log goes. It is printed
// before anything else happens, so it stands on its own rather than in the catalogue.
#include "../platform/console.h"
#include "usage.h"
#include "version.h"

const char UsageText[] =
    "KTA Talvexa 2 software installation, version " SETUP_VERSION "\n"
    "\n"
    "Installs the host software of the TVX II card from the directory that holds\n"
    "SETUP.EXE, or removes it (-U).\n"
    "\n"
    "SETUP.EXE [-X | -Q] [-D] [-H] [-N] [-FU] [-U] [-LOG:<file>] [-?]\n"
    "\n"
    "Options begin with - or /, in any case, and act from left to right.\n"
    "  -X, -Q        unattended: prompts answer yes, no closing pause\n"
    "  -D            debug traces, most followed by a pause for a key\n"
    "  -H            detect the card only and change nothing (implies -X)\n"
    "  -N            no messages at all (implies -X)\n"
    "  -FU           skip hardware detection and install as if the card's USB\n"
    "                function worked (dash form only; another code after -F\n"
    "                stops the run)\n"
    "  -U            remove the installed software instead of installing it\n"
    "  -LOG:<file>   write the run log to <file>; -LOG:NUL writes none\n"
    "  -?            show this text and do nothing else\n"
    "\n"
    "Exit codes:\n"
    "  0   installed, or removed; with -H: the card's USB function works\n"
    "  1   installed, or removed, but a restart is needed to finish\n"
    "  2   failed: the system directory is unusable, or a file could be neither\n"
    "      placed nor removed\n"
    "  8   no device of the card is present; nothing was installed\n"
    "  16  the card is present but its USB function does not work; the software\n"
    "      was installed anyway, unless -H\n"
    "\n"
    "Each run appends its record to %SystemRoot%\\Logs\\TVX2\\setup.log unless\n"
    "-LOG says otherwise; a log over 1 MiB is first renamed to setup.log.1.\n";

void PrintUsage(void) { ConsolePrint("%s", UsageText); }

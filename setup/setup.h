// Run state, exit codes and the top-level routine of the installer.
#ifndef SETUP_SETUP_H
#define SETUP_SETUP_H

// PATH_BUFFER_SIZE and SYSTEM_DIR_LIMIT, which every part's paths are sized by.
#include "../support/system_dirs.h"

#define EXIT_INSTALLED 0
#define EXIT_REBOOT_REQUIRED 1
#define EXIT_FAILED 2
#define EXIT_DEVICE_NOT_FOUND 8
#define EXIT_DEVICE_NOT_READY 16
// Another installation or removal held the lock for the whole wait: nothing was changed.
// Deployment agents retry this code.
#define EXIT_INSTALL_IN_PROGRESS 1618

#define SOURCE_DIR_SIZE 256

// Set once from the command line by Main, read by the rest of the installer.
extern int Unattended;
extern int ShowMessages;
extern unsigned short DebugTrace;
extern char ForceCode;
extern char SourceDir[SOURCE_DIR_SIZE];

int Main(int argc, char** argv);
// 1 when the arguments are the command line as typed: the ANSI code page is UTF-8, or the
// wide command line converts to it exactly. *codePage is the ANSI code page.
int CommandLineReadable(unsigned* codePage);
// Puts every variable a run writes (those marked RUN_STATE, platform/run_state.h) back to its
// start value, as a fresh process has them, after closing the running program's file. For
// hosts that run Main more than once in one process (tests, sweeps, fuzzers).
void ResetRunState(void);

#endif

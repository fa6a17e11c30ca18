// Starting a service tool in a hidden console of its own and waiting for it.
#include <string.h>

#include "../platform/console.h"
#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "../support/system_dirs.h"
#include "../support/text.h"
#include "actions.h"

// Whether the tool has ended. Judged by its process having ended, not by its exit code: a
// tool may well end with 259, the code that also means "still running".
static int ToolHasEnded(HANDLE process) {
  DWORD state = WaitForSingleObject(process, 0);
  if (state == WAIT_OBJECT_0) return 1;
  if (state == WAIT_TIMEOUT) return 0;
  // The handle cannot be waited on: the exit code is all there is to go by, and when even
  // that cannot be read, waiting on would only hold up the installation.
  DWORD code = 0;
  if (!GetExitCodeProcess(process, &code)) return 1;
  return code != STILL_ACTIVE;
}

// One pause between polls: over as soon as the tool ends.
static void PauseForTool(HANDLE process) {
  if (WaitForSingleObject(process, TOOL_POLL_MS) == WAIT_FAILED) Sleep(TOOL_POLL_MS);
}

static void LogToolEnd(const char* commandLine, HANDLE process, int ended, DWORD ms) {
  DWORD code = 0;
  // The last pause may have seen it end.
  if (!ended) ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
  if (!ended) {
    LogEvent("tool %s: started, still running after %lu.%03lu s, left running", commandLine,
             (unsigned long)(ms / 1000), (unsigned long)(ms % 1000));
  } else if (GetExitCodeProcess(process, &code)) {
    LogEvent("tool %s: started, ended with exit code %lu after %lu.%03lu s", commandLine,
             (unsigned long)code, (unsigned long)(ms / 1000), (unsigned long)(ms % 1000));
  } else {
    LogEvent("tool %s: started, ended after %lu.%03lu s, exit code unreadable (error %lu)",
             commandLine, (unsigned long)(ms / 1000), (unsigned long)(ms % 1000),
             (unsigned long)GetLastError());
  }
}

RUN_STATE static int ToolRefused = 0;

// Whether the program started from the system directory is the package's service tool, under
// the name it is placed as there.
static int IsPackageServiceTool(const char* programName) {
  size_t length = strlen(programName);
  for (int i = 0; i < PackageFileCount; i++) {
    const char* placed = MessageTable[PackageFiles[i].placedName];
    if (PackageFiles[i].kind == FILE_SERVICE_TOOL && length == strlen(placed) &&
        CompareTextNoCase(programName, placed, length) == 0)
      return 1;
  }
  return 0;
}

int ServiceToolRefused(void) { return ToolRefused; }

int RunServiceTool(const char* programName, const char* arguments) {
  return RunServiceToolFrom(programName, arguments, 1);
}

int RunServiceToolFrom(const char* programName, const char* arguments, int inDriverDir) {
  ToolRefused = 0;
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.lpReserved = NULL;
  startup.dwFlags = STARTF_USESHOWWINDOW;  // no standard handles passed on
  startup.wShowWindow = SW_HIDE;
  startup.cbReserved2 = 0;
  startup.lpReserved2 = NULL;

  char systemDir[PATH_BUFFER_SIZE];
  if (!ReadSystemDir(systemDir)) return 0;  // never a program from the drive's root

  // The program path is quoted, so a blank in the system directory cannot make Windows start
  // a program at a shorter path instead.
  char commandLine[PATH_BUFFER_SIZE];
  int fits = CopyText(commandLine, sizeof commandLine, "\"") &&
             AppendText(commandLine, sizeof commandLine, systemDir) &&
             AppendText(commandLine, sizeof commandLine, "\\") &&
             AppendText(commandLine, sizeof commandLine, programName) &&
             AppendText(commandLine, sizeof commandLine, "\" ") &&
             AppendText(commandLine, sizeof commandLine, arguments);
  if (!fits) {  // never start a cut-off command line
    LogEvent("tool %s %s: not started, command line too long", programName, arguments);
    return 0;
  }

  // A signed package starts its own service tool only as its signer signed it. (The path
  // fits: the command line holds it.)
  char programPath[PATH_BUFFER_SIZE];
  CopyText(programPath, sizeof programPath, systemDir);
  AppendText(programPath, sizeof programPath, "\\");
  AppendText(programPath, sizeof programPath, programName);
  if (IsPackageServiceTool(programName) && !ToolPassesSignatureCheck(programPath)) {
    ToolRefused = 1;
    return 0;
  }

  // The tool starts in the driver directory, which holds the same package and only
  // administrators can write: Windows searches a program's current directory for libraries.
  // Without one (a removal left it half gone) the system directory serves alike; so it does for
  // the removal, which deletes the driver directory next and cannot while a process (under
  // Wine, the tool's console host too) has it as its current directory.
  char driverDir[PATH_BUFFER_SIZE];
  if (inDriverDir) BuildDriverDirCompare(driverDir, systemDir);
  else CopyText(driverDir, sizeof driverDir, systemDir);
  PROCESS_INFORMATION process;
  memset(&process, 0, sizeof process);
  int started = CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_NEW_CONSOLE, NULL,
                               driverDir, &startup, &process);
  if (!started && GetLastError() == ERROR_DIRECTORY)
    started = CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, CREATE_NEW_CONSOLE, NULL,
                             systemDir, &startup, &process);
  if (!started) {
    LogEvent("tool %s: not started (error %lu)", commandLine, (unsigned long)GetLastError());
    return 0;
  }
  // Timed for the log only, and only when there is one.
  DWORD startTicks = LogIsOn() ? GetTickCount() : 0;

  if (ShowMessages) ConsolePrint("\n");
  int ended = 0;
  for (int poll = 0; poll < TOOL_POLL_LIMIT; poll++) {
    if ((ended = ToolHasEnded(process.hProcess)) != 0) break;
    if (ShowMessages) ConsolePrint(".");
    PauseForTool(process.hProcess);
  }
  // A tool still running now is left to run on.
  if (ShowMessages) ConsolePrint("\n");
  if (LogIsOn()) LogToolEnd(commandLine, process.hProcess, ended, GetTickCount() - startTicks);

  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return 1;
}

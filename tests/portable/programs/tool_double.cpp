// A stand-in for a service tool in the Windows tests. It reads what to do from the file of its
// own path with ".plan" appended, one instruction a line:
//   log <path>          append the command line it was started with to <path>
//   run <ms>            keep running this long
//   hold <path> <ms>    leave a process behind that holds <path> open without sharing for <ms>
//   mutex <name> <path> take the named mutex until it ends; when another copy holds it,
//                       append the command line to <path> and go on without it
//   exit <code>         end with this exit code
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char kHoldReady[] = "Local\\tool_double_holding";

// The process left behind: opens the file without sharing, says so, and holds it.
static int Hold(const char* path, DWORD ms) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, kHoldReady);
  if (ready) {
    SetEvent(ready);
    CloseHandle(ready);
  }
  if (file == INVALID_HANDLE_VALUE) return 1;
  Sleep(ms);
  CloseHandle(file);
  return 0;
}

static void StartHolder(const char* path, DWORD ms) {
  char self[MAX_PATH];
  GetModuleFileNameA(NULL, self, sizeof self);
  char line[3 * MAX_PATH];
  snprintf(line, sizeof line, "\"%s\" --hold \"%s\" %lu", self, path, (unsigned long)ms);
  HANDLE ready = CreateEventA(NULL, TRUE, FALSE, kHoldReady);
  STARTUPINFOA si;
  memset(&si, 0, sizeof si);
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (CreateProcessA(NULL, line, NULL, NULL, FALSE, DETACHED_PROCESS, NULL, NULL, &si, &pi)) {
    WaitForSingleObject(ready, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  CloseHandle(ready);
}

int main(int argc, char** argv) {
  if (argc == 4 && strcmp(argv[1], "--hold") == 0)
    return Hold(argv[2], (DWORD)strtoul(argv[3], NULL, 10));

  char planPath[MAX_PATH + 8];
  DWORD n = GetModuleFileNameA(NULL, planPath, MAX_PATH);
  strcpy(planPath + n, ".plan");
  FILE* plan = fopen(planPath, "r");
  if (!plan) return 1;
  int exitCode = 0;
  HANDLE mutex = NULL;
  int owned = 0;
  char line[2 * MAX_PATH];
  while (fgets(line, sizeof line, plan)) {
    line[strcspn(line, "\r\n")] = '\0';
    char path[MAX_PATH];
    char name[MAX_PATH];
    unsigned long ms = 0;
    if (strncmp(line, "log ", 4) == 0) {
      FILE* log = fopen(line + 4, "a");
      if (log) {
        fprintf(log, "%s\n", GetCommandLineA());
        fclose(log);
      }
    } else if (sscanf(line, "run %lu", &ms) == 1) {
      Sleep((DWORD)ms);
    } else if (sscanf(line, "mutex %259s %259s", name, path) == 2) {
      mutex = CreateMutexA(NULL, FALSE, name);
      DWORD wait = mutex ? WaitForSingleObject(mutex, 0) : WAIT_FAILED;
      owned = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
      if (wait == WAIT_TIMEOUT) {
        FILE* overlaps = fopen(path, "a");
        if (overlaps) {
          fprintf(overlaps, "%s\n", GetCommandLineA());
          fclose(overlaps);
        }
      }
    } else if (sscanf(line, "hold %259s %lu", path, &ms) == 2) {
      StartHolder(path, (DWORD)ms);
    } else if (sscanf(line, "exit %d", &exitCode) == 1) {
    }
  }
  fclose(plan);
  if (owned) ReleaseMutex(mutex);
  if (mutex) CloseHandle(mutex);
  return exitCode;
}

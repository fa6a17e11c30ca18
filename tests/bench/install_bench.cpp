// Times the installation sequence under Wine with service tools that each run about 100 ms,
// against the sum of the tools' own run times, and the run log's cost for each line it writes.
// Run: scripts/wine-run build/windows/tests/install_bench.exe
#include <windows.h>

#include <stdio.h>
#include <string>

#include "actions/actions.h"
#include "setup/messages.h"
#include "setup/setup.h"
#include "support/log.h"

static const unsigned kToolMs = 100;

static void PlaceTool(const std::string& self, const std::string& path) {
  CopyFileA(self.c_str(), path.c_str(), FALSE);
  FILE* plan = fopen((path + ".plan").c_str(), "w");
  if (plan) {
    fprintf(plan, "run %u\n", kToolMs);
    fclose(plan);
  }
}

int main(void) {
  char buf[MAX_PATH];
  DWORD n = GetModuleFileNameA(NULL, buf, sizeof buf);
  std::string dir(buf, n);
  dir = dir.substr(0, dir.find_last_of('\\') + 1);
  std::string tool = dir + "tool_double.exe";
  GetSystemDirectoryA(buf, sizeof buf);
  std::string sys = buf;
  std::string driver = sys + "\\drivers\\tvx2\\";
  CreateDirectoryA(driver.c_str(), NULL);
  for (const char* name : {"SETUP.EXE", "KTASPW.DLL", "KTASPW32.DLL", "KTASPREM.EXE"})
    CopyFileA(tool.c_str(), (driver + name).c_str(), FALSE);
  PlaceTool(tool, driver + "KTASPSVC.EXE");
  PlaceTool(tool, sys + "\\ktawdrsv.exe");
  PlaceTool(tool, sys + "\\ktaspsvc.exe");
  CopyFileA((driver + "KTASPSVC.EXE.plan").c_str(), (sys + "\\KTASPSVC.EXE.plan").c_str(), FALSE);

  ShowMessages = 0;
  Unattended = 1;
  ActiveMessages = MessageTable;
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  int result = InstallDriverSoftware();
  QueryPerformanceCounter(&t1);
  double ms = 1000.0 * (double)(t1.QuadPart - t0.QuadPart) / (double)freq.QuadPart;
  printf("installation sequence: result %d, wall time %.0f ms; three tool runs of %u ms: %u ms\n",
         result, ms, kToolMs, 3 * kToolMs);

  // A run writes about thirty lines; a thousand, through one open and close of the log.
  const int lines = 1000;
  QueryPerformanceCounter(&t0);
  LogOpen("C:\\bench\\setup.log");
  for (int i = 0; i < lines; i++)
    LogEvent("copy \"%s\" to \"%s\": copied (error 0)", driver.c_str(), sys.c_str());
  LogClose();
  QueryPerformanceCounter(&t1);
  ms = 1000.0 * (double)(t1.QuadPart - t0.QuadPart) / (double)freq.QuadPart;
  printf("run log: %d lines in %.1f ms, %.1f us a line\n", lines, ms, 1000.0 * ms / lines);
  return 0;
}

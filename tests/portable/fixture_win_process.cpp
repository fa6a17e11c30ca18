// Service tools on Windows: the stand-in program built beside the tests, copied into the
// system directory with a plan file that says what it does.
#include <windows.h>

#include <stdio.h>

#include "fixture.h"
#include "fixture_process.h"

static std::vector<std::string> placed;

static std::string ToolPath(const std::string& name) { return FixtureSystemDir() + "\\" + name; }

void FixtureAddTool(const std::string& name, unsigned runMs, unsigned exitCode,
                    const std::string& holdPath, unsigned holdMs) {
  char self[MAX_PATH];
  DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
  std::string dir(self, n);
  dir = dir.substr(0, dir.find_last_of('\\') + 1);
  std::string path = ToolPath(name);
  ASSERT_TRUE(CopyFileA((dir + "tool_double.exe").c_str(), path.c_str(), FALSE))
      << GetLastError();
  DeleteFileA((path + ".log").c_str());
  FILE* plan = fopen((path + ".plan").c_str(), "w");
  ASSERT_NE(plan, nullptr);
  fprintf(plan, "log %s.log\n", path.c_str());
  if (!holdPath.empty()) fprintf(plan, "hold %s %u\n", holdPath.c_str(), holdMs);
  fprintf(plan, "run %u\nexit %u\n", runMs, exitCode);
  fclose(plan);
  placed.push_back(path);
}

void FixtureRemoveTools() {
  for (const std::string& path : placed) {
    DeleteFileA(path.c_str());
    DeleteFileA((path + ".plan").c_str());
    DeleteFileA((path + ".log").c_str());
  }
  placed.clear();
}

std::vector<std::string> FixtureToolRuns(const std::string& name) {
  std::vector<std::string> runs;
  FILE* log = fopen((ToolPath(name) + ".log").c_str(), "r");
  if (!log) return runs;
  char line[1024];
  while (fgets(line, sizeof line, log)) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    runs.push_back(s);
  }
  fclose(log);
  return runs;
}

uint64_t FixtureNowMs() { return GetTickCount64(); }

std::string FixtureCapture(const std::function<void()>& run) {
  fflush(stdout);
  ::testing::internal::CaptureStdout();
  run();
  fflush(stdout);
  return ::testing::internal::GetCapturedStdout();
}

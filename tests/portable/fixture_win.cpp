// The portable tests' machine on Windows: the real API, inside a throwaway Wine prefix.
#include <windows.h>

#include "fixture.h"
#include "setup/messages.h"
#include "setup/setup.h"

static std::string captured;

// Standard output is captured only while the installer runs, so that the test's own
// failure messages still reach the log.
void FixtureBegin() {
  KeyPending = 0;
  captured.clear();
}

void FixtureEnd() {}

std::string FixtureOutput() { return captured; }

std::string FixtureSystemDir() {
  char buf[MAX_PATH];
  UINT n = GetSystemDirectoryA(buf, sizeof buf);
  return std::string(buf, n);
}

int FixtureRunMain(const std::vector<std::string>& args) {
  std::vector<std::vector<char>> storage;
  for (const std::string& a : args) {
    storage.emplace_back(a.begin(), a.end());
    storage.back().push_back('\0');
  }
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  ::testing::internal::CaptureStdout();
  int result = Main((int)args.size(), argv.data());
  captured += ::testing::internal::GetCapturedStdout();
  return result;
}

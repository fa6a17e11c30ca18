// The portable tests' machine on Windows: the real API, inside a throwaway Wine prefix.
#include <windows.h>

#include "fixture.h"
#include "setup/messages.h"
#include "setup/setup.h"

static std::string captured;

// Standard output is captured only while the installer runs, so that the test's own
// failure messages still reach the log.
void FixtureBegin() {
  ResetRunState();
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
  ArgumentVector argv(args);
  ::testing::internal::CaptureStdout();
  int result = Main(argv.argc(), argv.argv());
  captured += ::testing::internal::GetCapturedStdout();
  return result;
}

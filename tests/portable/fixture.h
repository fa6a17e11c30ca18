// The machine that the portable tests arrange and inspect: the simulated machine on the
// host, the real Windows API inside a throwaway Wine prefix on Windows. Each area of the
// machine adds its own fixture_<area>.h beside this file, with both implementations.
#ifndef TESTS_PORTABLE_FIXTURE_H
#define TESTS_PORTABLE_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "detect/detect.h"
#include "setup/messages.h"
#include "setup/setup.h"

// Before each test: the run state reset (ResetRunState), and a fresh simulated machine.
void FixtureBegin();
// After each test: the capture ended.
void FixtureEnd();
// What the installer printed to standard output since FixtureBegin, with line ends as a
// program reading its own output in text mode sees them.
std::string FixtureOutput();
// The system directory as the machine reports it.
std::string FixtureSystemDir();
// Runs Main with these arguments, argv[0] first.
int FixtureRunMain(const std::vector<std::string>& args);

// Arguments as the start-up code hands them to Main: writable strings, then a null pointer.
class ArgumentVector {
 public:
  explicit ArgumentVector(const std::vector<std::string>& args) {
    for (const std::string& a : args) {
      storage_.emplace_back(a.begin(), a.end());
      storage_.back().push_back('\0');
    }
    for (std::vector<char>& s : storage_) argv_.push_back(s.data());
    argv_.push_back(nullptr);
  }
  int argc() const { return (int)storage_.size(); }
  char** argv() { return argv_.data(); }

 private:
  std::vector<std::vector<char>> storage_;
  std::vector<char*> argv_;
};

class PortableTest : public ::testing::Test {
 protected:
  void SetUp() override { FixtureBegin(); }
  void TearDown() override { FixtureEnd(); }
};

#endif

// Base fixture of the unit tests: a fresh simulated machine and the installer's run state
// at its start values.
#ifndef TESTS_UNIT_SIM_TEST_H
#define TESTS_UNIT_SIM_TEST_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "portable/fixture.h"
#include "setup/messages.h"
#include "setup/setup.h"
#include "proof/proof.h"

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FixtureBegin();
  }

  // Runs Main with these arguments (argv[0] first), as the start-up code would.
  static int RunMain(const std::vector<std::string>& args) { return FixtureRunMain(args); }

  // Runs Main started with this wide command line, its arguments read from it in the
  // machine's ANSI code page.
  static int RunMainW(const std::u16string& commandLine) {
    return proof::RunInstallerW(commandLine).exitCode;
  }

  static std::string Out() { return sim::Output(); }

  // Every run of Main writes the default run log, and a run that may change the machine opens
  // its own program file: these leave out those calls, whose first argument is the log, one of
  // the folders above it or the program, so that a test counts the installer's actions alone.
  static bool IsLogCall(const sim::CallRecord& c) {
    const std::string log = "c:\\windows\\logs\\tvx2\\setup.log";
    std::string target = c.args.empty() ? "" : sim::Lower(c.args[0]);
    return !target.empty() &&
           (log.compare(0, target.size(), target) == 0 || target == log + ".1");
  }
  static std::vector<sim::CallRecord> CallsBesideLog(const std::string& op) {
    const std::string program = sim::Lower(sim::kUnarrangedImage);
    std::vector<sim::CallRecord> out;
    for (const sim::CallRecord& c : sim::CallsTo(op))
      if (!IsLogCall(c) && (c.args.empty() || sim::Lower(c.args[0]) != program)) out.push_back(c);
    return out;
  }
  static int CountCallsBesideLog(const std::string& op) { return (int)CallsBesideLog(op).size(); }
  // The files a run wrote whole, in order (a file created and written, named by where it was
  // moved to at once: an existing destination is replaced by a copy written beside it), and the
  // files it opened for reading as a package file is read: once, denying writers, without
  // following a link.
  static std::vector<std::string> Written() {
    std::vector<std::string> out;
    for (const sim::CallRecord& c : sim::Calls()) {
      if (IsLogCall(c)) continue;
      if (c.op == "CreateFileA" && c.args[1] == "0x40000000" &&
          (c.args[4] == "1" || c.args[4] == "2"))
        out.push_back(c.args[0]);
      if (c.op == "MoveFileExA" && c.args[2] == "0x1")
        for (size_t i = out.size(); i-- > 0;)
          if (sim::Lower(out[i]) == sim::Lower(c.args[0])) {
            out[i] = c.args[1];
            break;
          }
    }
    return out;
  }
  static std::vector<std::string> ReadOnce() { return Opens("0x80000000", "3"); }
  static std::vector<std::string> Opens(const char* access, const char* disposition) {
    std::vector<std::string> out;
    for (const sim::CallRecord& c : CallsBesideLog("CreateFileA"))
      if (c.args[1] == access && c.args[4] == disposition) {
        if (c.args[4] == std::string("3"))
          EXPECT_EQ(c.args[2] + c.args[5], "0x10x200000") << c.args[0];
        out.push_back(c.args[0]);
      }
    return out;
  }
};

#endif

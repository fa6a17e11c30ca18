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

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FixtureBegin();
  }

  // Runs Main with these arguments (argv[0] first), as the start-up code would.
  static int RunMain(const std::vector<std::string>& args) { return FixtureRunMain(args); }

  static std::string Out() { return sim::Output(); }
};

#endif

// The usage text: which arguments print it, and that printing it is all the run does.
#include "catalogue.h"
#include "setup/usage.h"
#include "sim_test.h"
#include "support/version.h"

using UsageTest = SimTest;

TEST_F(UsageTest, QuestionMarkPrintsUsageAndDoesNothingElse) {
  const std::string usage = UsageText;
  const std::string run = kBanner + kNoDevice + kFailed + kClosing;
  struct Row {
    std::vector<std::string> args;
    std::string out;
    int exitCode;
    bool touchesMachine;
  } rows[] = {
      {{"/?"}, usage, EXIT_INSTALLED, false},
      {{"-?", "-x"}, usage, EXIT_INSTALLED, false},
      {{"-n", "/?"}, usage, EXIT_INSTALLED, false},  // asked for, so printed even after -N
      {{"-d", "-?"}, usage, EXIT_INSTALLED, false},
      {{"-F", "/?"}, kInvalidForce, EXIT_INSTALLED, false},  // read left to right
      {{"/?", "-F"}, usage, EXIT_INSTALLED, false},
      {{"-fu", "/?"}, kForcing + usage, EXIT_INSTALLED, false},
      {{"-HELP"}, run, EXIT_DEVICE_NOT_FOUND, true},  // not an option: ignored
      {{"/??"}, run, EXIT_DEVICE_NOT_FOUND, true},
      {{"?"}, run, EXIT_DEVICE_NOT_FOUND, true},
  };
  for (const Row& row : rows) {
    std::string label = ::testing::PrintToString(row.args);
    FixtureBegin();
    sim::PressKey(' ');
    std::vector<std::string> args = {"setup"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(RunMain(args), row.exitCode) << label;
    EXPECT_EQ(Out(), row.out) << label;
    EXPECT_EQ(!sim::M().calls.empty(), row.touchesMachine) << label;
    // No closing pause: the key pressed before the run, down and up, is still waiting.
    EXPECT_EQ(sim::M().console.events.size() == 2, !row.touchesMachine) << label;
  }
}

TEST_F(UsageTest, TextNamesTheVersionEveryOptionAndExitCodeAndTheLog) {
  const std::string usage = UsageText;
  EXPECT_NE(usage.find("version " SETUP_VERSION "\n"), std::string::npos);
  for (const char* item : {"-X", "-Q", "-D", "-H", "-N", "-FU", "-U", "-V", "-LOG:<file>", "-LOG:NUL",
                           "-?", "\n  0 ", "\n  1 ", "\n  2 ", "\n  8 ", "\n  16 ", "\n  1618 ",
                           "%SystemRoot%\\Logs\\TVX2\\setup.log", "setup.log.1"})
    EXPECT_NE(usage.find(item), std::string::npos) << item;
  // Fits an 80-column console without wrapping.
  size_t start = 0;
  for (size_t end; (end = usage.find('\n', start)) != std::string::npos; start = end + 1)
    EXPECT_LT(end - start, 80u) << usage.substr(start, end - start);
  EXPECT_EQ(start, usage.size());  // ends with a line feed
}

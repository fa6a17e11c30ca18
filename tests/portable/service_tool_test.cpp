// Service-tool runs with the simulated programs on the host and real processes on Windows.
#include "actions/actions.h"
#include "fixture.h"
#include "fixture_process.h"
#include "setup/setup.h"
#include "setup/messages.h"

namespace {

class ServiceToolPortableTest : public PortableTest {
 protected:
  void SetUp() override {
    PortableTest::SetUp();
    ShowMessages = 1;
    DebugTrace = 0;
  }
  void TearDown() override {
    FixtureRemoveTools();
    PortableTest::TearDown();
  }
  // Runs the tool and gives what was printed; the result and the time taken go to the members.
  std::string Run(const char* name, const char* args) {
    uint64_t start = FixtureNowMs();
    std::string out = FixtureCapture([&] { result = RunServiceTool(name, args); });
    elapsedMs = FixtureNowMs() - start;
    return out;
  }
  std::string Expected(const char* name, const char* args) {
    return "\"" + FixtureSystemDir() + "\\" + name + "\" " + args;
  }
  // A real process needs a moment to start and end, so the immediate first poll may still
  // find it running: at most one dot then.
  static bool AtMostOneDot(const std::string& out) { return out == "\n\n" || out == "\n.\n"; }
  int result = -1;
  uint64_t elapsedMs = 0;
};

TEST_F(ServiceToolPortableTest, ToolThatEndsAtOnce) {
  FixtureAddTool("ktaspsvc.exe", 0);
  std::string out = Run("ktaspsvc.exe", "-install -TVX2");
  EXPECT_TRUE(AtMostOneDot(out)) << out;
  EXPECT_EQ(result, 1);
  EXPECT_EQ(FixtureToolRuns("ktaspsvc.exe"),
            std::vector<std::string>{Expected("ktaspsvc.exe", "-install -TVX2")});
  EXPECT_LT(elapsedMs, 4000u);
}

TEST_F(ServiceToolPortableTest, ToolOfOneSecondGetsOneDotAndNoFiveSecondPause) {
  FixtureAddTool("ktawdrsv.exe", 1000);
  EXPECT_EQ(Run("ktawdrsv.exe", "-remove"), "\n.\n");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(FixtureToolRuns("ktawdrsv.exe"),
            std::vector<std::string>{Expected("ktawdrsv.exe", "-remove")});
  EXPECT_GE(elapsedMs, 900u);
  EXPECT_LT(elapsedMs, 4000u);
}

TEST_F(ServiceToolPortableTest, ToolEndingWithStillActiveCodeHasEnded) {
  FixtureAddTool("ktaspsvc.exe", 0, 259);
  std::string out = Run("ktaspsvc.exe", "-remove");
  EXPECT_TRUE(AtMostOneDot(out)) << out;
  EXPECT_EQ(result, 1);
  EXPECT_LT(elapsedMs, 4000u);
}

TEST_F(ServiceToolPortableTest, MissingToolIsSkippedSilently) {
  EXPECT_EQ(Run("ktnotthere.exe", "-remove"), "");
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(FixtureToolRuns("ktnotthere.exe").empty());
}

TEST_F(ServiceToolPortableTest, MessagesOffPrintsNothing) {
  ShowMessages = 0;
  FixtureAddTool("ktaspsvc.exe", 1000);
  EXPECT_EQ(Run("ktaspsvc.exe", "-remove"), "");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(FixtureToolRuns("ktaspsvc.exe").size(), 1u);
}

}  // namespace

namespace {

TEST_F(ServiceToolPortableTest, FileHeldAfterTheToolMakesTheCopyARestartReplacement) {
  std::string sys = FixtureSystemDir() + "\\";
  FixtureAddTool("ktaspsvc.exe", 0, 0, sys + "KTHELD.DLL", 8000);
  Run("ktaspsvc.exe", "-remove");
  EXPECT_EQ(result, 1);
  EXPECT_EQ(CopyDriverFileAs(sys.c_str(), sys.c_str(), "ktaspsvc.exe", "KTHELD.DLL", 1),
            COPY_PENDING_REBOOT);
}

}  // namespace

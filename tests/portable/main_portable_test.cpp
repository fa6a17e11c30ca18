// Main on either platform: what it reads of the real or simulated machine.
#include "fixture.h"
#include "setup/setup.h"

using MainPortableTest = PortableTest;

TEST_F(MainPortableTest, InvalidForceCodeStopsBeforeTheBanner) {
  EXPECT_EQ(FixtureRunMain({"setup", "-fx", "-x"}), EXIT_INSTALLED);
  EXPECT_EQ(FixtureOutput(), "Invalid force code!\n");
  EXPECT_EQ(FixtureRunMain({"setup", "-n", "-F"}), EXIT_INSTALLED);
  EXPECT_EQ(FixtureOutput(), "Invalid force code!\n");  // nothing more
}

TEST_F(MainPortableTest, SystemDirectoryIsUsable) {
  std::string dir = FixtureSystemDir();
  ASSERT_GT(dir.size(), 3u);
  EXPECT_LT(dir.size(), 260u);
  EXPECT_NE(dir.back(), '\\');
}

TEST_F(MainPortableTest, RootedProgramPathTakesTheCurrentDriveInLowerCase) {
  FixtureRunMain({"\\pkg\\setup", "-n"});
  std::string dir = SourceDir;
  ASSERT_EQ(dir.size(), 7u);
  EXPECT_TRUE(dir[0] >= 'a' && dir[0] <= 'z') << dir;
  EXPECT_EQ(dir.substr(1), ":\\pkg\\");
}

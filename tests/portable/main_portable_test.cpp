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

TEST_F(MainPortableTest, DetectOnlyOnAMachineWithoutTheCard) {
  EXPECT_EQ(FixtureRunMain({"setup", "-h"}), EXIT_DEVICE_NOT_FOUND);
  EXPECT_EQ(FixtureOutput(),
            "KTA Talvexa 2 software installation\n\r"
            "The Talvexa II device was not found.\nCheck the USB cable connection of the TVX II.\n"
            "\nInstallation failed\n");
}

TEST_F(MainPortableTest, RootedProgramPathTakesTheCurrentDriveInLowerCase) {
  FixtureRunMain({"\\pkg\\setup", "-n"});
  std::string dir = SourceDir;
  ASSERT_EQ(dir.size(), 7u);
  EXPECT_TRUE(dir[0] >= 'a' && dir[0] <= 'z') << dir;
  EXPECT_EQ(dir.substr(1), ":\\pkg\\");
}

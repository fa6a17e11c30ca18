// Detection on either platform: the device-tree scan against the simulated tree or Wine's
// own, with the card's devices added to it, and the HID probe on the devices there are.
#include "detect/detect.h"
#include "fixture.h"
#include "fixture_devices.h"
#include "setup/messages.h"
#include "setup/setup.h"

namespace {

class DetectPortableTest : public PortableTest {
 protected:
  void SetUp() override {
    PortableTest::SetUp();
  }
  void TearDown() override {
    FixtureRemoveDevices();
    PortableTest::TearDown();
  }
  std::string out;
};

std::string IdLine(const std::string& id) { return "FindExistingDevice - Device ID " + id + " was found \n"; }

TEST_F(DetectPortableTest, CardsPciIdMeansPresent) {
  FixtureAddDevice("PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00\\4&2f3a1c&0&00E0",
                   {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00", "PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E",
                    "PCI\\VEN_1002&DEV_5159&CC_030000", "PCI\\VEN_1002&DEV_5159"});
  EXPECT_EQ(FixtureScan(&out), 1);
  EXPECT_EQ(out, "");
  EXPECT_EQ(SeenPciId, 1);
}

TEST_F(DetectPortableTest, UsbIdCountsOnlyWithoutTheOtherBoards) {
  FixtureAddDevice("USB\\Vid_7a5c&Pid_4001\\TVX2A", {"USB\\Vid_7a5c&Pid_4001&Rev_0100", "USB\\Vid_7a5c&Pid_4001"});
  EXPECT_EQ(FixtureScan(&out), 1);
  EXPECT_EQ(SeenUsbId4001, 1);

  FixtureAddDevice("USB\\Vid_7a5c&Pid_4004\\NK1", {"USB\\Vid_7a5c&Pid_4004&Rev_0100", "USB\\Vid_7a5c&Pid_4004"});
  SeenUsbId4001 = 0;
  EXPECT_EQ(FixtureScan(&out), 0);
  EXPECT_EQ(SeenUsbId4001, 1);
  EXPECT_EQ(SeenUsbId4004, 1);
}

TEST_F(DetectPortableTest, UpperCaseSpellingIsNotTheCard) {
  FixtureAddDevice("USB\\VID_7A5C&PID_4001\\TVX2B", {"USB\\VID_7A5C&PID_4001&REV_0100", "USB\\VID_7A5C&PID_4001"});
  EXPECT_EQ(FixtureScan(&out), 0);
  EXPECT_EQ(SeenUsbId4001, 0);
}

TEST_F(DetectPortableTest, NoCardMeansAbsent) {
  FixtureAddDevice("USB\\VID_1234&PID_5678\\OTHER", {"USB\\VID_1234&PID_5678", "USB\\Class_03"});
  EXPECT_EQ(FixtureScan(&out), 0);
  EXPECT_EQ(out, "");
}

TEST_F(DetectPortableTest, DebugTraceListsEveryEntryOfEveryPresentDevice) {
  FixtureAddDevice("USB\\VID_1234&PID_5678\\OTHER", {"USB\\VID_1234&PID_5678&REV_0001", "USB\\VID_1234&PID_5678"});
  FixtureAddDevice("ROOT\\TESTDEV\\0000", {"ROOT\\TESTDEV", "*TESTDEV", "TESTDEV_COMPATIBLE"});
  std::vector<std::string> ids = FixturePresentHardwareIds();
  std::string expected;
  for (const std::string& id : ids) expected += IdLine(id);
  ASSERT_NE(expected.find(IdLine("*TESTDEV") + IdLine("TESTDEV_COMPATIBLE")), std::string::npos);
  ASSERT_NE(expected.find(IdLine("USB\\VID_1234&PID_5678&REV_0001") + IdLine("USB\\VID_1234&PID_5678")),
            std::string::npos);
  DebugTrace = 1;
  EXPECT_EQ(FixtureScan(&out), 0);
  EXPECT_EQ(out, expected);
}

TEST_F(DetectPortableTest, DeviceWithoutIdsDoesNotHideTheCardAfterIt) {
  FixtureAddDevice("ROOT\\TVXTEST_A\\0000", {std::string(120, 'W')});
  FixtureAddDevice("ROOT\\TVXTEST_B\\0000", {});
  FixtureAddDevice("ROOT\\TVXTEST_C\\0000", {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E"});
  EXPECT_EQ(FixtureScan(&out), 1);
}

TEST_F(DetectPortableTest, ProbeFindsNoCardAmongTheHidDevices) {
  EXPECT_EQ(FixtureProbe(&out), 0);
  EXPECT_EQ(out, "");
  ForceCode = 'U';
  EXPECT_EQ(FixtureProbe(&out), 1);
}

}  // namespace

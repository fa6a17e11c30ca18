// The device-tree scan on the simulated machine: which hardware IDs count, the answer, the
// one buffer shared by all devices, failures, and the debug traces byte for byte.
#include <string>
#include <vector>

#include "catalogue.h"
#include "detect/detect.h"
#include "sim_test.h"

using sim::AddDevice;
using sim::CallsTo;
using sim::M;

namespace {

const char* const kPause = "Press ENTER to continue \n";

std::string IdLine(const std::string& id) { return "FindExistingDevice - Device ID " + id + " was found \n"; }

class ScanTest : public SimTest {
 protected:
  void ExpectAllReleased() {
    EXPECT_EQ(sim::OpenHandles(), 0);
    EXPECT_EQ(M().liveAllocations, 0);
    EXPECT_EQ(sim::CountCalls("SetupDiDestroyDeviceInfoList"), 1);
  }
  // The capacity passed to each hardware-ID query, in order.
  static std::vector<std::string> Capacities() {
    std::vector<std::string> sizes;
    for (const sim::CallRecord& c : CallsTo("SetupDiGetDeviceRegistryPropertyA")) sizes.push_back(c.args[5]);
    return sizes;
  }
};

TEST_F(ScanTest, HardwareIdsAreSubstringsComparedWithLetterCase) {
  struct Case {
    std::vector<std::string> ids;
    int answer;
  } cases[] = {
      {{"USB\\Vid_7a5c&Pid_4001&Rev_0001", "USB\\Vid_7a5c&Pid_4001"}, 1},
      {{"USB\\VID_7A5C&PID_4001&REV_0001", "USB\\VID_7A5C&PID_4001"}, 0},
      {{"usb\\vid_7a5c&pid_4003"}, 0},
      {{"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00"}, 1},
      {{"PCI\\VEN_1002&DEV_5159", "PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2"}, 0},
      {{"HID\\xUSB\\Vid_7a5c&Pid_4003&Col01"}, 1},  // anywhere inside the entry
      {{"USB\\Vid_7a5c&Pid_400"}, 0},
  };
  for (const Case& c : cases) {
    SetUp();
    AddDevice("ROOT\\X\\0000", c.ids);
    EXPECT_EQ(FindExistingDevice(), c.answer) << c.ids[0];
    EXPECT_EQ(Out(), "");
    ExpectAllReleased();
  }
}

TEST_F(ScanTest, AnswerFollowsTheSeenFlagsOverAllDevices) {
  struct Case {
    std::vector<const char*> ids;  // one device each
    int answer;
  } cases[] = {
      {{kPci}, 1},         {{k4001}, 1},         {{k4003}, 1},          {{k4004}, 0},
      {{k4001, k4004}, 0}, {{k4004, k4003}, 0},  {{k4004, kPci}, 1},    {{k4001, k4003}, 1},
      {{}, 0},             {{k4001, k4003, k4004, kPci}, 1},
  };
  for (const Case& c : cases) {
    SetUp();
    AddDevice("ACPI\\PNP0A08\\0", {"ACPI\\PNP0A08", "*PNP0A03"});
    for (size_t i = 0; i < c.ids.size(); i++) AddDevice("DEV\\" + std::to_string(i), {c.ids[i]});
    AddDevice("ROOT\\LAST\\0000", {"ROOT\\LAST"});
    EXPECT_EQ(FindExistingDevice(), c.answer) << c.ids.size();
    // Every device is examined, the answer is formed only at the end.
    EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInfo"), (int)c.ids.size() + 3);
  }
}

TEST_F(ScanTest, OneEntryCanMeetSeveralIds) {
  AddDevice("ODD\\0", {std::string("X ") + k4001 + " " + kPci + " " + k4004});
  EXPECT_EQ(FindExistingDevice(), 1);
  EXPECT_EQ(SeenUsbId4001, 1);
  EXPECT_EQ(SeenUsbId4003, 0);
  EXPECT_EQ(SeenUsbId4004, 1);
  EXPECT_EQ(SeenPciId, 1);
}

TEST_F(ScanTest, CallsAllPresentDevicesOfAllClasses) {
  AddDevice("USB\\VID_7A5C&PID_4001\\GONE", {k4001}).present = false;
  AddDevice("PCI\\X\\0", {"PCI\\VEN_8086&DEV_1234"});
  EXPECT_EQ(FindExistingDevice(), 0);  // the absent card does not count
  auto sets = CallsTo("SetupDiGetClassDevsA");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].args, (std::vector<std::string>{"NULL", "NULL", "NULL", "0x6"}));
  auto enums = CallsTo("SetupDiEnumDeviceInfo");
  ASSERT_EQ(enums.size(), 2u);
  EXPECT_EQ(enums[1].args, (std::vector<std::string>{"ptr", "1", "32"}));
  auto queries = CallsTo("SetupDiGetDeviceRegistryPropertyA");
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_EQ(queries[0].args, (std::vector<std::string>{"ptr", "32", "0x1", "ptr", "NULL", "0", "ptr"}));
  EXPECT_EQ(queries[1].args[4], "ptr");
  EXPECT_EQ(queries[1].args[5], std::to_string(strlen("PCI\\VEN_8086&DEV_1234") + 2));
  auto allocs = CallsTo("LocalAlloc");
  ASSERT_EQ(allocs.size(), 1u);
  EXPECT_EQ(allocs[0].args[0], "0x40");  // zero-filled
  ExpectAllReleased();
}

TEST_F(ScanTest, DevicesWithoutIdsAreSkippedSilentlyAndDoNotHideLaterDevices) {
  DebugTrace = 1;
  const std::string wide(60, 'W');
  AddDevice("ROOT\\WIDE\\0000", {wide});  // the buffer is then large enough for the card
  sim::AddDeviceWithoutIds("ROOT\\NOIDS\\0000");
  AddDevice("PCI\\CARD\\0", {kPci});
  sim::AddDeviceWithoutIds("ROOT\\NOIDS\\0001");
  sim::PressKey('\r');
  // The card's query succeeds at once, leaving the no-ID device's error as the last error.
  EXPECT_EQ(FindExistingDevice(), 1);
  EXPECT_EQ(Out(), IdLine(wide) + IdLine(kPci) + "FindExistingDevice - Vorrin PCI ID found !\n" + kPause);
  EXPECT_EQ(M().devices.localAllocs, 1);
  ExpectAllReleased();
}

TEST_F(ScanTest, EmptyHardwareIdListIsSkippedWithoutAskingForEver) {
  sim::AddRawDevice("ROOT\\EMPTY\\0", "");
  AddDevice("USB\\CARD\\0", {k4003});
  EXPECT_EQ(FindExistingDevice(), 1);
  EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyA"), 3);  // once, then twice
  ExpectAllReleased();
}

TEST_F(ScanTest, UnknownQueryFailureEndsTheScanWithAnswerZero) {
  AddDevice("PCI\\CARD\\0", {kPci});
  AddDevice("ROOT\\BAD\\0", {"ROOT\\BAD"});
  AddDevice("USB\\CARD\\0", {k4001});
  sim::InjectFault("SetupDiGetDeviceRegistryPropertyA", ERROR_GEN_FAILURE, "ROOT\\BAD\\0");
  DebugTrace = 1;
  EXPECT_EQ(FindExistingDevice(), 0);  // whatever was seen before
  EXPECT_EQ(SeenPciId, 1);
  EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInfo"), 2);  // no further device
  EXPECT_EQ(Out(), IdLine(kPci) + "FindExistingDevice - Vorrin PCI ID found !\n" + kPause +
                       "FindExistingDevice - Unknown failure occurred, returning failure\n" + kPause);
  EXPECT_EQ(M().console.blockedReads, 2);  // each pause waited for a key
  ExpectAllReleased();
}

TEST_F(ScanTest, FailedBufferAllocationEndsTheScanWithoutTouchingTheBuffer) {
  AddDevice("PCI\\CARD\\0", {kPci});
  AddDevice("ROOT\\LONGER\\0", {std::string(200, 'L')});
  sim::InjectFault("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, "", 1, 1);  // the second allocation
  DebugTrace = 1;
  EXPECT_EQ(FindExistingDevice(), 0);
  EXPECT_EQ(Out(), IdLine(kPci) + "FindExistingDevice - Vorrin PCI ID found !\n" + kPause +
                       "FindExistingDevice - Unknown failure occurred, returning failure\n" + kPause);
  // No query was made into a missing buffer.
  EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyA"), 3);
  EXPECT_EQ(sim::CountCalls("LocalFree"), 1);
  ExpectAllReleased();
}

TEST_F(ScanTest, DeviceSetFailureAnswersZeroWithItsTrace) {
  AddDevice("PCI\\CARD\\0", {kPci});
  sim::InjectFault("SetupDiGetClassDevsA", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(FindExistingDevice(), 0);
  EXPECT_EQ(Out(), "");
  DebugTrace = 1;
  EXPECT_EQ(FindExistingDevice(), 0);
  EXPECT_EQ(Out(), std::string("FindExistingDevice - SetupDiGetClassDevs failed \n") + kPause);
  EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInfo"), 0);
  EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST_F(ScanTest, EnumerationFailureEndsLikeTheEndOfTheList) {
  AddDevice("USB\\CARD\\0", {k4001});
  AddDevice("ROOT\\X\\0", {"ROOT\\X"});
  AddDevice("USB\\NK\\0", {k4004});
  sim::InjectFault("SetupDiEnumDeviceInfo", ERROR_GEN_FAILURE, "ROOT\\X\\0");
  EXPECT_EQ(FindExistingDevice(), 1);  // the 4004 device was never reached
  EXPECT_EQ(SeenUsbId4004, 0);
  ExpectAllReleased();
}

TEST_F(ScanTest, OneBufferServesAllDevicesUntilOneNeedsMoreRoom) {
  for (int i = 0; i < 50; i++) AddDevice("ROOT\\SAME\\" + std::to_string(i), {"ROOT\\SAME0", "ROOT\\SAME1"});
  EXPECT_EQ(FindExistingDevice(), 0);
  EXPECT_EQ(M().devices.localAllocs, 1);
  EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceRegistryPropertyA"), 51);
  ExpectAllReleased();

  // The size variable also carries the last list's length: a shorter list, then one between
  // the two, asks for a new buffer although the old one would have held it.
  SetUp();
  AddDevice("A", {std::string(98, 'a')});  // 100 bytes
  AddDevice("B", {std::string(38, 'b')});  // 40
  AddDevice("C", {std::string(78, 'c')});  // 80
  AddDevice("D", {std::string(20, 'd')});  // 22
  EXPECT_EQ(FindExistingDevice(), 0);
  EXPECT_EQ(Capacities(), (std::vector<std::string>{"0", "100", "100", "40", "80", "80"}));
  EXPECT_EQ(M().devices.localAllocs, 2);
  ExpectAllReleased();

  // A query that fails for another reason may still report a size: the next device is not
  // offered more than the buffer holds.
  SetUp();
  AddDevice("A", {std::string(98, 'a')});                   // 100 bytes
  AddDevice("B", {"ROOT\\B"}).sizeOnFault = 5000;
  sim::InjectFault("SetupDiGetDeviceRegistryPropertyA", ERROR_INVALID_DATA, "B");
  AddDevice("C", {std::string(298, 'c')});                  // 300
  EXPECT_EQ(FindExistingDevice(), 0);
  EXPECT_EQ(Capacities(), (std::vector<std::string>{"0", "100", "100", "100", "300"}));
  ExpectAllReleased();
}

TEST_F(ScanTest, WalkStopsAtTheEndOfTheDataEvenWithoutATerminator) {
  DebugTrace = 1;
  AddDevice("LONG", {"ONE-LONG-ENTRY", "SECOND", k4001});
  sim::PressKey(' ');
  sim::AddRawDevice("UNENDED", std::string("AB\0", 3));   // no closing empty string
  sim::AddRawDevice("NONUL", "XY");                          // no terminator at all
  sim::AddRawDevice("EXACT", std::string(k4004));          // fills the data, no terminator
  EXPECT_EQ(FindExistingDevice(), 1);
  // The stale bytes of the longer list behind each short one are never read as entries.
  EXPECT_EQ(Out(), IdLine("ONE-LONG-ENTRY") + IdLine("SECOND") + IdLine(k4001) +
                       "FindExistingDevice - TVX2 USB ID found !\n" + kPause + IdLine("AB"));
  EXPECT_EQ(SeenUsbId4004, 0);
  ExpectAllReleased();

  // A list that exactly fills a fresh buffer, with no terminator: nothing past it is read.
  SetUp();
  sim::AddRawDevice("EXACT", std::string(kPci));
  EXPECT_EQ(FindExistingDevice(), 0);
  ExpectAllReleased();
}

TEST_F(ScanTest, DebugTracesAndPausesByteForByte) {
  DebugTrace = 1;
  ShowMessages = 0;  // plays no part in the scan's traces
  AddDevice("USB\\VID_7A5C&PID_4001\\1", {"USB\\Vid_7a5c&Pid_4001&Rev_0001", k4001});
  AddDevice("USB\\VID_7A5C&PID_4003\\1", {k4003});
  AddDevice("USB\\VID_7A5C&PID_4004\\1", {k4004});
  AddDevice("PCI\\VEN_1002\\1", {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00", "PCI\\VEN_1002&DEV_5159"});
  for (int i = 0; i < 5; i++) sim::PressKey('\r');
  EXPECT_EQ(FindExistingDevice(), 1);
  EXPECT_EQ(Out(),
            IdLine("USB\\Vid_7a5c&Pid_4001&Rev_0001") + "FindExistingDevice - TVX2 USB ID found !\n" +
                kPause + IdLine(k4001) + "FindExistingDevice - TVX2 USB ID found !\n" + kPause +
                IdLine(k4003) + "FindExistingDevice - alt TVX2 USB ID found !\n" + kPause +
                IdLine(k4004) + "FindExistingDevice - NK USB ID found !\n" + kPause +
                IdLine("PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00") +
                "FindExistingDevice - Vorrin PCI ID found !\n" + kPause + IdLine("PCI\\VEN_1002&DEV_5159"));
  // Five pauses took the five key presses: only the last release is left.
  EXPECT_EQ(M().console.events.size(), 1u);
  EXPECT_EQ(M().console.blockedReads, 0);
}

TEST_F(ScanTest, WithoutDebugTraceNothingIsPrintedAndNoKeyIsAwaited) {
  AddDevice("USB\\1", {k4001, kPci});
  EXPECT_EQ(FindExistingDevice(), 1);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(sim::CountCalls("ReadConsoleInputA"), 0);
}

TEST_F(ScanTest, EveryEntryOfEveryDeviceIsTracedWhenNoCardIsPresent) {
  DebugTrace = 1;
  AddDevice("ACPI\\1", {"ACPI\\PNP0303", "*PNP0303"});
  sim::AddDeviceWithoutIds("ROOT\\2");
  AddDevice("HID\\3", {"HID\\VID_046D&PID_C077&REV_7200", "HID\\VID_046D&PID_C077", "HID_DEVICE_SYSTEM_MOUSE",
                       "HID_DEVICE_UP:0001_U:0002", "HID_DEVICE"});
  EXPECT_EQ(FindExistingDevice(), 0);
  EXPECT_EQ(Out(), IdLine("ACPI\\PNP0303") + IdLine("*PNP0303") + IdLine("HID\\VID_046D&PID_C077&REV_7200") +
                       IdLine("HID\\VID_046D&PID_C077") + IdLine("HID_DEVICE_SYSTEM_MOUSE") +
                       IdLine("HID_DEVICE_UP:0001_U:0002") + IdLine("HID_DEVICE"));
  EXPECT_EQ(sim::CountCalls("ReadConsoleInputA"), 0);
}

}  // namespace

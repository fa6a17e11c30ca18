// The HID probe on the simulated machine: which interfaces count as the card, what is
// passed to Windows, and that every record and handle is given back.
#include "detect/detect.h"
#include "sim_test.h"

using sim::AddHidInterface;
using sim::CallsTo;
using sim::M;

namespace {

const char* const kCard = "\\\\?\\hid#vid_7a5c&pid_4001#7&1a2b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char* const kAltCard = "\\\\?\\hid#vid_7a5c&pid_4003#7&3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char* const kMouse = "\\\\?\\hid#vid_046d&pid_c077#6&aaaa&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
const char* const kOther = "\\\\?\\hid#vid_7a5c&pid_4004#5&bbbb&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

class ProbeTest : public SimTest {
 protected:
  // The paths CreateFileA was asked to open, in order.
  static std::vector<std::string> Opened() {
    std::vector<std::string> paths;
    for (const sim::CallRecord& c : CallsTo("CreateFileA")) paths.push_back(c.args[0]);
    return paths;
  }
  static void ExpectAllReleased() {
    EXPECT_EQ(sim::OpenHandles(), 0);
    EXPECT_EQ(M().liveAllocations, 0);
    EXPECT_EQ(sim::CountCalls("SetupDiDestroyDeviceInfoList"), 1);
  }
};

TEST_F(ProbeTest, CardInterfaceIsFoundWithTheArgumentsWindowsExpects) {
  AddHidInterface(kMouse, 0x046D, 0xC077);
  AddHidInterface(kCard, 0x7A5C, 0x4001);
  EXPECT_EQ(FindUsbServiceProcessor(), 1);

  auto sets = CallsTo("SetupDiGetClassDevsA");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].args, (std::vector<std::string>{"{4D1E55B2-F16F-11CF-88CB-001111000030}", "NULL",
                                                    "NULL", "0x12"}));
  auto enums = CallsTo("SetupDiEnumDeviceInterfaces");
  ASSERT_EQ(enums.size(), 2u);  // the match ends the search
  EXPECT_EQ(enums[1].args, (std::vector<std::string>{"ptr", "NULL", "{4D1E55B2-F16F-11CF-88CB-001111000030}",
                                                     "1", "32"}));
  // Per interface: the size query with no buffer, then the detail query with that size.
  auto details = CallsTo("SetupDiGetDeviceInterfaceDetailA");
  ASSERT_EQ(details.size(), 4u);
  EXPECT_EQ(details[2].args, (std::vector<std::string>{"ptr", "ptr", "NULL", "0", "ptr", "NULL", "NULL"}));
  std::string cardSize = std::to_string(4 + strlen(kCard) + 1);
  EXPECT_EQ(details[3].args[3], cardSize);
  EXPECT_EQ(details[3].args[5], "NULL");
  EXPECT_EQ(details[3].args[6], "8");  // cbSize of the fixed part
  auto allocs = CallsTo("LocalAlloc");
  ASSERT_EQ(allocs.size(), 2u);  // one record per interface
  EXPECT_EQ(allocs[1].args, (std::vector<std::string>{"0x40", cardSize}));

  auto opens = CallsTo("CreateFileA");
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[1].args,
            (std::vector<std::string>{kCard, "0xc0000000", "0x3", "NULL", "3", "0x0", "NULL"}));
  auto attrs = CallsTo("HidD_GetAttributes");
  ASSERT_EQ(attrs.size(), 2u);
  EXPECT_EQ(attrs[0].args[1], "12");
  EXPECT_EQ(attrs[1].args[1], "12");
  EXPECT_EQ(sim::CountCalls("CloseHandle"), 2);
  EXPECT_EQ(Out(), "");
  ExpectAllReleased();
}

TEST_F(ProbeTest, OnlyTheCardsVendorWithProducts4001And4003Match) {
  struct Case {
    WORD vendor, product;
    int expected;
  } cases[] = {{0x7A5C, 0x4001, 1}, {0x7A5C, 0x4003, 1}, {0x7A5C, 0x4004, 0},
               {0x7A5C, 0x4002, 0}, {0x1234, 0x4001, 0}, {0x5C7A, 0x0140, 0}};
  for (const Case& c : cases) {
    sim::Reset();
    AddHidInterface(kCard, c.vendor, c.product);
    EXPECT_EQ(FindUsbServiceProcessor(), c.expected) << std::hex << c.vendor << ":" << c.product;
    EXPECT_EQ(Opened().size(), 1u);
    ExpectAllReleased();
  }
}

TEST_F(ProbeTest, AlternateProductAfterNonMatchesIsFound) {
  AddHidInterface(kOther, 0x7A5C, 0x4004);
  AddHidInterface(kMouse, 0x7A5C ^ 1, 0x4001);
  AddHidInterface(kAltCard, 0x7A5C, 0x4003);
  EXPECT_EQ(FindUsbServiceProcessor(), 1);
  EXPECT_EQ(Opened(), (std::vector<std::string>{kOther, kMouse, kAltCard}));
  ExpectAllReleased();
}

TEST_F(ProbeTest, FirstMatchEndsTheSearchAndTheSecondIsNeverOpened) {
  AddHidInterface(kCard, 0x7A5C, 0x4001);
  AddHidInterface(kAltCard, 0x7A5C, 0x4003);
  EXPECT_EQ(FindUsbServiceProcessor(), 1);
  EXPECT_EQ(Opened(), (std::vector<std::string>{kCard}));
  EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInterfaces"), 1);
  ExpectAllReleased();
}

TEST_F(ProbeTest, InterfaceHeldWithoutSharingIsSkipped) {
  sim::SimHidInterface& card = AddHidInterface(kCard, 0x7A5C, 0x4001);
  card.heldElsewhere = true;
  card.heldAccess = GENERIC_READ | GENERIC_WRITE;
  card.heldShare = 0;
  AddHidInterface(kMouse, 0x046D, 0xC077);
  EXPECT_EQ(FindUsbServiceProcessor(), 0);
  EXPECT_EQ(Opened(), (std::vector<std::string>{kCard, kMouse}));  // the search went on
  EXPECT_EQ(sim::CountCalls("HidD_GetAttributes"), 1);               // the mouse's only
  ExpectAllReleased();

  // Held by someone who shares reading and writing: the probe's own sharing lets it in.
  sim::Reset();
  sim::SimHidInterface& shared = AddHidInterface(kCard, 0x7A5C, 0x4001);
  shared.heldElsewhere = true;
  shared.heldAccess = GENERIC_READ | GENERIC_WRITE;
  shared.heldShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
  EXPECT_EQ(FindUsbServiceProcessor(), 1);
}

TEST_F(ProbeTest, AccessDeniedAndAbsentInterfacesDoNotCount) {
  AddHidInterface(kCard, 0x7A5C, 0x4001).accessDenied = true;
  AddHidInterface(kAltCard, 0x7A5C, 0x4003).present = false;
  EXPECT_EQ(FindUsbServiceProcessor(), 0);
  EXPECT_EQ(Opened(), (std::vector<std::string>{kCard}));
  ExpectAllReleased();
}

TEST_F(ProbeTest, NoHidDevicesEndsAtTheFirstEnumeration) {
  EXPECT_EQ(FindUsbServiceProcessor(), 0);
  auto enums = CallsTo("SetupDiEnumDeviceInterfaces");
  ASSERT_EQ(enums.size(), 1u);
  EXPECT_EQ(enums[0].args[3], "0");
  EXPECT_EQ(sim::CountCalls("LocalAlloc"), 0);
  ExpectAllReleased();
}

TEST_F(ProbeTest, ForceCodeUAnswersWithoutAnyPlatformCall) {
  ForceCode = 'U';
  EXPECT_EQ(FindUsbServiceProcessor(), 1);
  EXPECT_TRUE(M().calls.empty());
  ForceCode = 'X';  // any other code probes for real
  EXPECT_EQ(FindUsbServiceProcessor(), 0);
  EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsA"), 1);
}

TEST_F(ProbeTest, DeviceSetThatCannotBeCreatedAnswersZero) {
  AddHidInterface(kCard, 0x7A5C, 0x4001);
  sim::InjectFault("SetupDiGetClassDevsA", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(FindUsbServiceProcessor(), 0);
  EXPECT_EQ(sim::CountCalls("SetupDiEnumDeviceInterfaces"), 0);
  EXPECT_EQ(sim::CountCalls("SetupDiDestroyDeviceInfoList"), 0);
  EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST_F(ProbeTest, EnumerationFailureEndsTheSearchLikeTheEndOfTheList) {
  AddHidInterface(kMouse, 0x046D, 0xC077);
  AddHidInterface(kOther, 0x7A5C, 0x4004);
  AddHidInterface(kCard, 0x7A5C, 0x4001);
  sim::InjectFault("SetupDiEnumDeviceInterfaces", ERROR_GEN_FAILURE, kOther);
  EXPECT_EQ(FindUsbServiceProcessor(), 0);
  EXPECT_EQ(Opened(), (std::vector<std::string>{kMouse}));
  ExpectAllReleased();
}

TEST_F(ProbeTest, FailedDetailQueryOrAllocationSkipsOnlyThatInterface) {
  // The detail query (the second call for the interface) fails.
  AddHidInterface(kCard, 0x7A5C, 0x4001);
  AddHidInterface(kAltCard, 0x7A5C, 0x4003);
  sim::InjectFault("SetupDiGetDeviceInterfaceDetailA", ERROR_GEN_FAILURE, kCard, 1, 1);
  EXPECT_EQ(FindUsbServiceProcessor(), 1);
  EXPECT_EQ(Opened(), (std::vector<std::string>{kAltCard}));
  ExpectAllReleased();

  // The record cannot be allocated: nothing is written to it or opened from it.
  sim::Reset();
  AddHidInterface(kCard, 0x7A5C, 0x4001);
  AddHidInterface(kAltCard, 0x7A5C, 0x4003);
  sim::InjectFault("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY, "", 1);
  EXPECT_EQ(FindUsbServiceProcessor(), 1);
  EXPECT_EQ(Opened(), (std::vector<std::string>{kAltCard}));
  EXPECT_EQ(sim::CountCalls("SetupDiGetDeviceInterfaceDetailA"), 3);  // no detail query for the first
  ExpectAllReleased();

  sim::Reset();
  AddHidInterface(kCard, 0x7A5C, 0x4001);
  sim::InjectFault("LocalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(FindUsbServiceProcessor(), 0);
  EXPECT_TRUE(Opened().empty());
  ExpectAllReleased();
}

TEST_F(ProbeTest, SizeQueryWithoutAUsableSizeNeverUsesAnEarlierInterfacesSize) {
  // The first interface's size is left in the size variable; the card's size query then
  // fails without touching it, and its detail query would succeed with the stale size.
  std::string longPath = std::string(kMouse) + std::string(100, 'x');
  AddHidInterface(longPath, 0x046D, 0xC077);
  AddHidInterface(kCard, 0x7A5C, 0x4001);
  sim::InjectFault("SetupDiGetDeviceInterfaceDetailA", ERROR_INVALID_PARAMETER, kCard, 1);
  EXPECT_EQ(FindUsbServiceProcessor(), 0);
  EXPECT_EQ(Opened(), (std::vector<std::string>{longPath}));
  EXPECT_EQ(sim::CountCalls("LocalAlloc"), 1);
  ExpectAllReleased();

  // At the first interface there is no earlier size at all.
  sim::Reset();
  AddHidInterface(kCard, 0x7A5C, 0x4001);
  sim::InjectFault("SetupDiGetDeviceInterfaceDetailA", ERROR_INVALID_PARAMETER, kCard, 1);
  EXPECT_EQ(FindUsbServiceProcessor(), 0);
  EXPECT_EQ(sim::CountCalls("LocalAlloc"), 0);
  ExpectAllReleased();
}

TEST_F(ProbeTest, FailedAttributeReadIsNoMatch) {
  for (bool writes : {false, true}) {  // even when the failed read left the card's IDs
    sim::Reset();
    AddHidInterface(kCard, 0x7A5C, 0x4001).writesOnFault = writes;
    sim::InjectFault("HidD_GetAttributes", ERROR_GEN_FAILURE, kCard);
    EXPECT_EQ(FindUsbServiceProcessor(), 0) << writes;
    EXPECT_EQ(sim::CountCalls("CloseHandle"), 1);
    ExpectAllReleased();
  }
}

}  // namespace

namespace {

// hid.dll comes from the system directory alone, whatever lies in the program's folder or the
// current directory; without it (or one of its two functions) the probe answers 0 and asks
// no device set, and the library is given back on every path.
TEST_F(ProbeTest, HidLibraryComesFromTheSystemDirectoryOrTheProbeAnswersZero) {
  const std::string kSysHid = "C:\\WINDOWS\\system32\\hid.dll";
  const std::vector<std::string> kRestricted = {"hid.dll", "NULL", "0x800"};
  const std::vector<std::string> kFullPath = {kSysHid, "NULL", "0x8"};
  struct Case {
    const char* name;
    void (*arrange)();
    int result;
    std::vector<std::vector<std::string>> loads;  // the arguments of each LoadLibraryExA
    int procs;                                    // GetProcAddress calls
  } cases[] = {
      {"updated Windows", [] {}, 1, {kRestricted}, 2},
      {"hid.dll missing", [] { M().libraries.system.erase("hid.dll"); }, 0, {kRestricted}, 0},
      {"hid.dll refused", [] { sim::InjectFault("LoadLibraryExA", ERROR_ACCESS_DENIED); }, 0,
       {kRestricted}, 0},
      {"no HidD_GetHidGuid", [] { M().libraries.system["hid.dll"].erase("HidD_GetHidGuid"); }, 0,
       {kRestricted}, 1},
      {"no HidD_GetAttributes",
       [] { M().libraries.system["hid.dll"].erase("HidD_GetAttributes"); }, 0, {kRestricted}, 2},
      {"Windows 7 without the update", sim::WithoutLoaderUpdate, 1, {kRestricted, kFullPath}, 2},
      {"Windows 7, hid.dll missing",
       [] {
         sim::WithoutLoaderUpdate();
         M().libraries.system.erase("hid.dll");
       },
       0, {kRestricted, kFullPath}, 0},
      {"Windows 7, system directory unreadable",
       [] {
         sim::WithoutLoaderUpdate();
         sim::InjectFault("GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY);
       },
       0, {kRestricted}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    AddHidInterface(kCard, 0x7A5C, 0x4001);
    // Libraries of someone else's under the same name, beside the program and in the
    // current directory.
    sim::AddFile("D:\\pkg\\hid.dll", "planted", 1000);
    sim::AddFile("C:\\work\\hid.dll", "planted", 1000);
    M().files.currentDir = "C:\\work\\";
    c.arrange();
    EXPECT_EQ(FindUsbServiceProcessor(), c.result);
    auto loads = CallsTo("LoadLibraryExA");
    ASSERT_EQ(loads.size(), c.loads.size());
    for (size_t i = 0; i < loads.size(); i++) EXPECT_EQ(loads[i].args, c.loads[i]);
    // Loaded, it is the system's, never the planted ones.
    EXPECT_EQ(M().libraries.loaded, c.procs ? std::vector<std::string>{kSysHid}
                                            : std::vector<std::string>{});
    EXPECT_EQ(sim::CountCalls("GetProcAddress"), c.procs);
    EXPECT_EQ(sim::CountCalls("FreeLibrary"), c.procs ? 1 : 0);
    EXPECT_EQ(sim::CountCalls("SetupDiGetClassDevsA"), c.result);
    if (c.result) ExpectAllReleased();
    EXPECT_EQ(sim::OpenHandles(), 0);
  }
}

}  // namespace

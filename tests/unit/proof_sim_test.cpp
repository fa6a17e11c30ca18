// What the sweeps and fuzzers rely on in the simulated machine: the fault on the n-th call,
// the power cut, the release check, the path-length limit, wildcard matching
// that stays fast, and enumerations that end whatever is injected.
#include <chrono>

#include "actions/actions.h"
#include "platform/win32.h"
#include "sim_test.h"

namespace {

using ProofSimTest = SimTest;

TEST_F(ProofSimTest, FaultOnTheNthCallAndPowerCutInsideACopy) {
  sim::AddFile("C:\\a\\F.DLL", "0123456789", 5);
  sim::AddFile("C:\\b\\F.DLL", "earlier", 1);
  sim::M().recording = sim::Recording::None;
  sim::M().faultCall = 2;
  sim::M().faultCallError = ERROR_DISK_FULL;
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("C:\\a\\F.DLL", &data);  // call 1 goes through
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FindClose(h) == FALSE && GetLastError() == ERROR_DISK_FULL);  // call 2 fails
  EXPECT_TRUE(sim::M().faultCallFired);
  EXPECT_EQ(sim::Unreleased(), "");  // a failed release still released
  EXPECT_TRUE(sim::M().calls.empty());
  EXPECT_EQ(sim::M().callCount, 2);

  sim::M().cutCall = 4;
  sim::M().cutInside = true;
  EXPECT_TRUE(CopyFileA("C:\\a\\F.DLL", "C:\\c\\F.DLL", FALSE) == FALSE);  // call 3: no dir
  sim::M().clockMs = 7;
  EXPECT_THROW(CopyFileA("C:\\a\\F.DLL", "C:\\b\\F.DLL", FALSE), sim::PowerCut);
  EXPECT_EQ(sim::FileContents("C:\\b\\F.DLL"), "01234");
  EXPECT_EQ(sim::FileTime("C:\\b\\F.DLL"), sim::NowFileTime());
  EXPECT_THROW(GetSystemDirectoryA(nullptr, 0), sim::PowerCut);  // nothing runs after a cut

  HKEY key;
  sim::M().cutCall = 0;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_NE(sim::Unreleased().find("key HKLM\\SYSTEM"), std::string::npos);
  MoveFileExA("C:\\a\\F.DLL", "C:\\b\\F.DLL", MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
  sim::PowerCutRestart();
  EXPECT_EQ(sim::Unreleased(), "");
  EXPECT_EQ(sim::FileContents("C:\\b\\F.DLL"), "0123456789");  // the restart replaced it
}

TEST_F(ProofSimTest, LimitsAsWindowsHasThem) {
  std::string dir = "C:\\" + std::string(250, 'd') + "\\";
  sim::AddFile(dir + "F.DLL", "x", 1);
  std::string longPath = dir + "LONGER.DLL";  // 264 characters
  WIN32_FIND_DATAA data;
  EXPECT_EQ(FindFirstFileA(longPath.c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
  EXPECT_FALSE(SetFileAttributesA(longPath.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
  EXPECT_FALSE(CopyFileA((dir + "F.DLL").c_str(), longPath.c_str(), FALSE));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(CreateDirectoryA((dir + "sub").c_str(), nullptr));  // no room for an 8.3 name
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);

  // Twelve "*a" pairs against a 40-character name: no exponential backtracking.
  sim::AddFile("C:\\w\\" + std::string(39, 'a') + "b", "x", 1);
  auto start = std::chrono::steady_clock::now();
  std::string pattern = "C:\\w\\";
  for (int i = 0; i < 12; i++) pattern += "*a";
  EXPECT_EQ(FindFirstFileA(pattern.c_str(), &data), INVALID_HANDLE_VALUE);
  HANDLE h = FindFirstFileA("C:\\w\\*A?B", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(ProofSimTest, EnumerationsEndWhateverIsInjected) {
  sim::AddKey(SIM_SERVICES_PATH "\\ktawdrsv");
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ,
                          &key), ERROR_SUCCESS);
  // An endless injected ERROR_MORE_DATA still ends past the last subkey.
  sim::InjectFault("RegEnumKeyExA", ERROR_MORE_DATA);
  char name[64];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(RegEnumKeyExA(key, 1, name, &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(key);
  sim::M().callLimit = 1000;
  EXPECT_EQ(RemoveLegacyServices(), 0);  // ends, though every entry reports more data
  EXPECT_TRUE(sim::KeyExists(SIM_SERVICES_PATH "\\ktawdrsv"));
  EXPECT_EQ(sim::Unreleased(), "");

  // So do the device enumerations.
  sim::AddDevice("PCI\\VEN_1002&DEV_5159\\0", {"PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E"});
  sim::InjectFault("SetupDiEnumDeviceInfo", ERROR_NOT_ENOUGH_MEMORY);
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 0, &device));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 1, &device));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_MORE_ITEMS);
  SetupDiDestroyDeviceInfoList(set);
}

}  // namespace

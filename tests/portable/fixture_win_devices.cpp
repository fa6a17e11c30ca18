// The detection tests' device tree on Windows: device keys written into the registry of the
// throwaway Wine prefix, and read back through SetupAPI.
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include "detect/detect.h"
#include "fixture_devices.h"

static const char kEnum[] = "System\\CurrentControlSet\\Enum\\";
// Any setup class will do; a device key without one is not listed.
static const char kClassGuid[] = "{36fc9e60-c465-11cf-8056-444553540000}";

static std::vector<std::string> created;  // keys this test made, outermost first

void FixtureAddDevice(const std::string& instancePath, const std::vector<std::string>& hardwareIds) {
  std::string path = kEnum;
  HKEY key = NULL;
  size_t at = 0;
  // Create each level on its own, to remember which ones were new.
  while (at <= instancePath.size()) {
    size_t end = instancePath.find('\\', at);
    if (end == std::string::npos) end = instancePath.size();
    path += instancePath.substr(at, end - at);
    DWORD disposition = 0;
    if (key) RegCloseKey(key);
    LONG rc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, &disposition);
    ASSERT_EQ(rc, ERROR_SUCCESS) << path;
    if (disposition == REG_CREATED_NEW_KEY) created.push_back(path);
    path += "\\";
    at = end + 1;
  }
  std::string multi;
  for (const std::string& id : hardwareIds) multi += id + '\0';
  multi += '\0';
  EXPECT_EQ(RegSetValueExA(key, "ClassGUID", 0, REG_SZ, (const BYTE*)kClassGuid, sizeof kClassGuid),
            ERROR_SUCCESS);
  if (!hardwareIds.empty())
    EXPECT_EQ(RegSetValueExA(key, "HardwareID", 0, REG_MULTI_SZ, (const BYTE*)multi.data(),
                           (DWORD)multi.size()),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

void FixtureRemoveDevices() {
  for (size_t i = created.size(); i-- > 0;)
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, created[i].c_str()), ERROR_SUCCESS) << created[i];
  created.clear();
}

std::vector<std::string> FixturePresentHardwareIds() {
  std::vector<std::string> ids;
  HDEVINFO set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) return ids;
  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  static BYTE buffer[65536];
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); i++) {
    DWORD size = 0;
    memset(buffer, 0, sizeof buffer);
    if (!SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, NULL, buffer,
                                           sizeof buffer - 2, &size))
      continue;
    for (const char* entry = (const char*)buffer; *entry; entry += strlen(entry) + 1) ids.push_back(entry);
  }
  SetupDiDestroyDeviceInfoList(set);
  return ids;
}

static int Run(int (*routine)(void), std::string* output) {
  ::testing::internal::CaptureStdout();
  int result = routine();
  fflush(stdout);
  *output = ::testing::internal::GetCapturedStdout();
  return result;
}

int FixtureScan(std::string* output) { return Run(FindExistingDevice, output); }
int FixtureProbe(std::string* output) { return Run(FindUsbServiceProcessor, output); }

// The HID probe: is the card's USB function there and working?
#include <stddef.h>

#include "../platform/win32.h"
#include "../setup/setup.h"
#include "../support/libraries.h"
#include "../support/log.h"
#include "detect.h"

// hid.dll is loaded from the system directory when the probe runs, never at start-up: it is
// no library that Windows always takes from there, and one beside the installer would win.
typedef decltype(&HidD_GetHidGuid) GetHidGuidProc;
typedef decltype(&HidD_GetAttributes) GetAttributesProc;

// The smallest detail record that can hold a path: the fixed part and one character.
#define DETAIL_MIN_SIZE (offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + 1)

static int IsCardAttributes(const HIDD_ATTRIBUTES* attributes) {
  return attributes->VendorID == CARD_VENDOR_ID &&
         (attributes->ProductID == CARD_PRODUCT_ID || attributes->ProductID == CARD_ALT_PRODUCT_ID);
}

static int FindCardInterface(GetHidGuidProc getHidGuid, GetAttributesProc getAttributes) {
  GUID hidGuid;
  getHidGuid(&hidGuid);
  HDEVINFO set = SetupDiGetClassDevsA(&hidGuid, NULL, NULL, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return 0;

  SP_DEVICE_INTERFACE_DATA iface;
  iface.cbSize = sizeof iface;
  int result = 0;
  DWORD size = 0;  // carried from interface to interface
  for (DWORD index = 0; !result; index++) {
    if (!SetupDiEnumDeviceInterfaces(set, NULL, &hidGuid, index, &iface)) break;

    // A size query that failed for another reason than the missing buffer left the size of
    // an earlier interface behind: that size says nothing about this one.
    if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, NULL, 0, &size, NULL) &&
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      continue;
    if (size < DETAIL_MIN_SIZE) continue;

    PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail =
        (PSP_DEVICE_INTERFACE_DETAIL_DATA_A)LocalAlloc(LPTR, size);
    if (!detail) continue;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, size, NULL, NULL)) {
      LocalFree(detail);
      continue;
    }
    ((char*)detail)[size - 1] = '\0';  // the path ends inside the record, whatever was filled

    HANDLE device = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (device == INVALID_HANDLE_VALUE) {
      LocalFree(detail);
      continue;
    }
    HIDD_ATTRIBUTES attributes;
    attributes.Size = sizeof attributes;
    attributes.VendorID = 0;
    attributes.ProductID = 0;
    attributes.VersionNumber = 0;
    // A failed read is no match: the record would hold nothing of this device.
    if (getAttributes(device, &attributes) && IsCardAttributes(&attributes)) result = 1;
    LocalFree(detail);
    CloseHandle(device);
  }
  SetupDiDestroyDeviceInfoList(set);
  return result;
}

// Without hid.dll (or one of its two functions) no HID interface can be read: the answer is
// the one for no interface of the card, and the device-tree scan runs as usual.
int FindUsbServiceProcessor(void) {
  if (ForceCode == 'U') return 1;

  HMODULE hid = LoadSystemLibrary("hid.dll");
  if (!hid) {
    DWORD error = GetLastError();
    LogEvent("HID probe: hid.dll not loaded from the system directory (error %lu)",
             (unsigned long)error);
    return 0;
  }
  GetHidGuidProc getHidGuid = (GetHidGuidProc)FindLibraryProc(hid, "HidD_GetHidGuid");
  GetAttributesProc getAttributes =
      getHidGuid ? (GetAttributesProc)FindLibraryProc(hid, "HidD_GetAttributes") : NULL;
  int result = 0;
  if (getHidGuid && getAttributes) {
    result = FindCardInterface(getHidGuid, getAttributes);
  } else {
    DWORD error = GetLastError();
    LogEvent("HID probe: hid.dll lacks %s (error %lu)",
             getHidGuid ? "HidD_GetAttributes" : "HidD_GetHidGuid", (unsigned long)error);
  }
  FreeLibrary(hid);
  return result;
}

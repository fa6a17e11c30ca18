// The device-tree scan: is any of the card's devices present, working or not?
#include <string.h>

#include "../platform/console.h"
#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "detect.h"

RUN_STATE int SeenUsbId4001 = 0;
RUN_STATE int SeenUsbId4003 = 0;
RUN_STATE int SeenUsbId4004 = 0;
RUN_STATE int SeenPciId = 0;

static const struct {
  int message;
  int* seen;
  const char* trace;
} CardIds[] = {
    {MSG_ID_USB_4001, &SeenUsbId4001, "FindExistingDevice - TVX2 USB ID found !\n"},
    {MSG_ID_USB_4003, &SeenUsbId4003, "FindExistingDevice - alt TVX2 USB ID found !\n"},
    {MSG_ID_USB_4004, &SeenUsbId4004, "FindExistingDevice - NK USB ID found !\n"},
    {MSG_ID_PCI, &SeenPciId, "FindExistingDevice - Vorrin PCI ID found !\n"},
};

// Examines the entries of one device's hardware-ID list, which fills the first `length`
// bytes of the buffer. An entry that is not terminated inside those bytes is not examined.
static void CheckHardwareIds(const char* list, DWORD length) {
  const char* end = list + length;
  const char* entry = list;
  while (entry < end && *entry) {
    if (!memchr(entry, '\0', (size_t)(end - entry))) break;
    if (DebugTrace == 1) ConsolePrint("FindExistingDevice - Device ID %s was found \n", entry);
    for (size_t i = 0; i < sizeof CardIds / sizeof CardIds[0]; i++) {
      if (!strstr(entry, MessageTable[CardIds[i].message])) continue;
      *CardIds[i].seen = 1;
      if (DebugTrace == 1) TracePause(CardIds[i].trace, SCAN_PAUSE_LINE);
    }
    entry += lstrlenA(entry) + 1;
  }
}

int FindExistingDevice(void) {
  char* buffer = NULL;
  DWORD size = 0;      // capacity offered to each query, and the size each query reports
  DWORD capacity = 0;  // what the buffer really holds

  HDEVINFO set = SetupDiGetClassDevsA(NULL, NULL, NULL, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  if (set == INVALID_HANDLE_VALUE) {
    LogEvent("device scan: no device set (error %lu), answer 0", (unsigned long)GetLastError());
    if (DebugTrace == 1) TracePause("FindExistingDevice - SetupDiGetClassDevs failed \n", SCAN_PAUSE_LINE);
    return 0;
  }

  SP_DEVINFO_DATA device;
  device.cbSize = sizeof device;
  int failed = 0;
  DWORD index = 0;
  for (; SetupDiEnumDeviceInfo(set, index, &device); index++) {
    DWORD type = 0;
    BOOL read = FALSE;
    for (;;) {
      // Never offer more room than the buffer has, whatever a failed query left in size.
      if (size > capacity) size = capacity;
      DWORD offered = size;
      read = SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, &type,
                                              (PBYTE)buffer, size, &size);
      if (read) break;
      DWORD error = GetLastError();
      if (error == ERROR_INVALID_DATA) break;
      if (error != ERROR_INSUFFICIENT_BUFFER) {
        failed = 1;
        break;
      }
      // Asked for no more room than it was given: asking again would never end, and the
      // device has nothing readable (an empty list reads this way).
      if (size <= offered) break;
      if (buffer) LocalFree(buffer);
      capacity = 0;
      buffer = (char*)LocalAlloc(LPTR, size);
      if (!buffer) {
        failed = 1;  // no memory: end as after an unexpected failure
        break;
      }
      capacity = size;
    }
    if (failed) {
      if (DebugTrace == 1)
        TracePause("FindExistingDevice - Unknown failure occurred, returning failure\n", SCAN_PAUSE_LINE);
      break;
    }
    // Only a query that failed tells the device has no IDs: a successful one leaves the
    // last error of an earlier device behind.
    if (!read || !buffer) continue;
    CheckHardwareIds(buffer, size <= capacity ? size : capacity);
  }

  int answer = 0;
  if (!failed)
    answer = SeenPciId || ((SeenUsbId4001 || SeenUsbId4003) && !SeenUsbId4004);
  LogEvent("device scan: %lu devices examined%s; seen:%s%s%s%s%s; answer %d",
           (unsigned long)(failed ? index + 1 : index), failed ? ", ended by an unknown failure" : "",
           SeenUsbId4001 ? " USB 4001" : "", SeenUsbId4003 ? " USB 4003" : "",
           SeenUsbId4004 ? " USB 4004" : "", SeenPciId ? " PCI" : "",
           SeenUsbId4001 || SeenUsbId4003 || SeenUsbId4004 || SeenPciId ? "" : " none", answer);
  if (buffer) LocalFree(buffer);
  SetupDiDestroyDeviceInfoList(set);
  return answer;
}

// The card's host library: tells its version and whether the card's software is installed.
#include <windows.h>

#include "service_state.h"

extern "C" {

__declspec(dllexport) DWORD WINAPI KtaspwGetVersion(void) { return 0x02010000; }

// Read from the 64-bit registry view also when loaded into a 32-bit process.
__declspec(dllexport) BOOL WINAPI KtaspwIsInstalled(void) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SERVICE_STATE_KEY, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                    &key) != ERROR_SUCCESS)
    return FALSE;
  DWORD installed = 0, type = 0, size = sizeof installed;
  LSTATUS s = RegQueryValueExA(key, SERVICE_STATE_VALUE, NULL, &type, (BYTE*)&installed, &size);
  RegCloseKey(key);
  return s == ERROR_SUCCESS && type == REG_DWORD && installed == 1;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

}

// The card's service tool. "-install -TVX2" records in the registry that the card's software
// is installed; "-remove" takes that record away again (and succeeds when there is none).
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "service_state.h"

static int Install(void) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, SERVICE_STATE_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL,
                      &key, NULL) != ERROR_SUCCESS)
    return 3;
  DWORD installed = 1;
  const char card[] = "TVX2";
  LSTATUS a = RegSetValueExA(key, SERVICE_STATE_VALUE, 0, REG_DWORD, (const BYTE*)&installed,
                             sizeof installed);
  LSTATUS b = RegSetValueExA(key, SERVICE_CARD_VALUE, 0, REG_SZ, (const BYTE*)card, sizeof card);
  RegCloseKey(key);
  return a == ERROR_SUCCESS && b == ERROR_SUCCESS ? 0 : 3;
}

static int Remove(void) {
  LSTATUS s = RegDeleteKeyA(HKEY_LOCAL_MACHINE, SERVICE_STATE_KEY);
  return s == ERROR_SUCCESS || s == ERROR_FILE_NOT_FOUND ? 0 : 3;
}

int main(int argc, char** argv) {
  if (argc == 2 && _stricmp(argv[1], "-remove") == 0) return Remove();
  if (argc == 3 && _stricmp(argv[1], "-install") == 0 && _stricmp(argv[2], "-TVX2") == 0)
    return Install();
  fprintf(stderr, "usage: ktaspsvc -install -TVX2 | -remove\n");
  return 2;
}

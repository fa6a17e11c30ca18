// Reports whether the card's software is installed, as the service tool recorded it.
// Exit code 0 when it is, 1 when it is not.
#include <windows.h>

#include <stdio.h>

#include "service_state.h"

int main(void) {
  DWORD installed = 0;
  DWORD size = sizeof installed;
  LSTATUS s = RegGetValueA(HKEY_LOCAL_MACHINE, SERVICE_STATE_KEY, SERVICE_STATE_VALUE,
                           RRF_RT_REG_DWORD, NULL, &installed, &size);
  int yes = s == ERROR_SUCCESS && installed == 1;
  printf("TVX II software: %s\n", yes ? "installed" : "not installed");
  return yes ? 0 : 1;
}

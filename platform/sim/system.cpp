// System information, last error, handles and the virtual clock.
#include <string.h>

#include "machine.h"
#include "sim_win32.h"

using namespace sim;

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  SIM_RECORD("GetSystemDirectoryA", {Ptr(lpBuffer), Dec(uSize)});
  Machine& m = M();
  if (m.systemDirFails || Faulted("GetSystemDirectoryA")) {
    if (m.systemDirFails) m.lastError = ERROR_ACCESS_DENIED;
    return 0;
  }
  size_t len = m.systemDir.size();
  if (len + 1 > uSize) return (UINT)(len + 1);  // too small: the size needed, with the NUL
  memcpy(lpBuffer, m.systemDir.c_str(), len + 1);
  return (UINT)len;
}

int _getdrive(void) { return M().currentDrive; }

DWORD GetLastError(void) { return M().lastError; }

void SetLastError(DWORD dwErrCode) { M().lastError = dwErrCode; }

BOOL CloseHandle(HANDLE hObject) {
  SIM_RECORD("CloseHandle", {Ptr(hObject)});
  if (!CloseKernelHandle(hObject)) {
    M().lastError = ERROR_INVALID_HANDLE;
    return FALSE;
  }
  // As with every release call: a reported failure still leaves the handle closed.
  return !Faulted("CloseHandle");
}

void Sleep(DWORD dwMilliseconds) {
  SIM_RECORD("Sleep", {Dec(dwMilliseconds)});
  M().clockMs += dwMilliseconds;
}

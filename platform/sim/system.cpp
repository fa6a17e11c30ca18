// System information, last error, handles and the virtual clock.
#include <string.h>

#include "machine.h"
#include "sim_win32.h"

using namespace sim;

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  SIM_CALL({Ptr(lpBuffer), Dec(uSize)});
  Machine& m = M();
  if (m.systemDirFails) return Fail(ERROR_ACCESS_DENIED);
  if (call.Faulted()) return 0;
  size_t len = m.systemDir.size();
  if (len + 1 > uSize) return (UINT)(len + 1);  // too small: the size needed, with the NUL
  memcpy(lpBuffer, m.systemDir.c_str(), len + 1);
  return (UINT)len;
}

int _getdrive(void) { return M().currentDrive; }

DWORD GetLastError(void) { return M().lastError; }

void SetLastError(DWORD dwErrCode) { M().lastError = dwErrCode; }

BOOL CloseHandle(HANDLE hObject) {
  SIM_CALL({Ptr(hObject)});
  HandleEntry* file = FindHandle(hObject, HandleKind::File);
  std::string fileName = file ? file->name : std::string();
  if (!CloseKernelHandle(hObject)) return Fail(ERROR_INVALID_HANDLE);
  if (file) FileHandleClosed(fileName);
  // As with every release call: a reported failure still leaves the handle closed.
  return !call.Faulted();
}

void Sleep(DWORD dwMilliseconds) {
  SIM_CALL({Dec(dwMilliseconds)});
  M().clockMs += dwMilliseconds;
}

UINT GetSystemWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
  SIM_CALL({Ptr(lpBuffer), Dec(uSize)});
  if (call.Faulted()) return 0;
  const std::string& dir = M().windowsDir;
  if (dir.size() + 1 > uSize) return (UINT)(dir.size() + 1);
  memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
  return (UINT)dir.size();
}

// The start time moved on by the virtual clock, within the day and across days of the month.
void GetLocalTime(LPSYSTEMTIME lpSystemTime) {
  SIM_CALL({Ptr(lpSystemTime)});
  const SYSTEMTIME& s = M().startTime;
  uint64_t ms = M().clockMs + s.wMilliseconds +
                1000ull * (s.wSecond + 60ull * (s.wMinute + 60ull * s.wHour));
  uint64_t days = ms / 86400000ull;
  ms %= 86400000ull;
  SYSTEMTIME t = s;
  t.wDay = (WORD)(s.wDay + days);
  t.wDayOfWeek = (WORD)((s.wDayOfWeek + days) % 7);
  t.wHour = (WORD)(ms / 3600000);
  t.wMinute = (WORD)(ms / 60000 % 60);
  t.wSecond = (WORD)(ms / 1000 % 60);
  t.wMilliseconds = (WORD)(ms % 1000);
  *lpSystemTime = t;
}

DWORD GetCurrentProcessId(void) {
  SIM_CALL({});
  return M().processId;
}

DWORD GetTickCount(void) {
  SIM_CALL({});
  return (DWORD)M().clockMs;  // wraps after 49.7 days, as on Windows
}

// Until the ANSI code page is modelled, it holds ASCII alone: other bytes are refused when the
// caller asks for that, and read as U+FFFD otherwise.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  SIM_CALL({Dec(CodePage), Hex(dwFlags),
            cbMultiByte == -1 ? Str(lpMultiByteStr) : Ptr(lpMultiByteStr), Dec(cbMultiByte),
            Ptr(lpWideCharStr), Dec(cchWideChar)});
  if (call.Faulted(lpMultiByteStr && cbMultiByte == -1 ? lpMultiByteStr : ""))
    return 0;
  if (!lpMultiByteStr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (cchWideChar > 0 && !lpWideCharStr))
    return Fail(ERROR_INVALID_PARAMETER);
  size_t count = cbMultiByte == -1 ? strlen(lpMultiByteStr) + 1 : (size_t)cbMultiByte;
  std::string bytes(lpMultiByteStr, count);
  std::u16string wide;
  bool utf8 = CodePage == CP_UTF8 || (CodePage == CP_ACP && M().ansiCodePage == CP_UTF8);
  if (utf8) {
    wide = FromUtf8(bytes);
    // A malformed sequence comes out as U+FFFD, which the bytes did not spell themselves.
    bool malformed = false;
    for (char16_t c : wide) malformed |= c == 0xFFFD;
    if (malformed && bytes.find("\xEF\xBF\xBD") == std::string::npos &&
        (dwFlags & MB_ERR_INVALID_CHARS))
      return Fail(ERROR_NO_UNICODE_TRANSLATION);
  } else {
    // Code page 1252 as the simulated machine holds it: each byte the character of that number.
    for (char c : bytes) wide += (char16_t)(unsigned char)c;
  }
  if (cchWideChar == 0) return (int)wide.size();
  if ((size_t)cchWideChar < wide.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
  for (size_t i = 0; i < wide.size(); i++) lpWideCharStr[i] = (WCHAR)wide[i];
  return (int)wide.size();
}

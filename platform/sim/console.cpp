// Standard output and input as test-filled streams, and the console input device.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "../console.h"
#include "machine.h"
#include "sim_win32.h"

using namespace sim;

HANDLE OpenHidPath(LPCSTR path, DWORD access, DWORD share, DWORD disposition);  // devices.cpp
HANDLE OpenFilePath(const std::string& full, DWORD access, DWORD share, DWORD disposition,
                    DWORD flags, const std::string& security);  // files.cpp

int ConsoleVPrint(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int n = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (n < 0) return n;
  std::string text((size_t)n + 1, '\0');
  vsnprintf(&text[0], text.size(), format, args);
  text.resize((size_t)n);
  M().console.out += text;
  return n;
}

int ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = ConsoleVPrint(format, args);
  va_end(args);
  return n;
}

int ConsoleReadLine(char* buffer, int size) {
  ConsoleModel& c = M().console;
  if (size <= 0 || c.inPos >= c.in.size()) return 0;
  int n = 0;
  while (n < size - 1 && c.inPos < c.in.size()) {
    char ch = c.in[c.inPos++];
    buffer[n++] = ch;
    if (ch == '\n') break;
  }
  buffer[n] = '\0';
  return n;
}

static bool IsConsoleName(LPCSTR name) {
  return name && EqualNoCase(name, "CONIN$");
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  SIM_CALL({Str(lpFileName), Hex(dwDesiredAccess), Hex(dwShareMode), Ptr(lpSecurityAttributes),
            Dec(dwCreationDisposition), Hex(dwFlagsAndAttributes), Ptr(hTemplateFile)});
  if (call.Faulted(lpFileName ? lpFileName : "")) return INVALID_HANDLE_VALUE;
  if (IsConsoleName(lpFileName)) {
    if (!M().console.hasConsole) return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    return NewHandle(HandleKind::Console, 0, "CONIN$", dwDesiredAccess);
  }
  // Paths of the file system go to the files; device paths (\\?\...) to the HID interfaces.
  std::string full = lpFileName ? FullPath(lpFileName) : std::string();
  if (!full.empty()) {
    // The file functions' ANSI name limit (device paths, \\?\..., have none).
    if (strlen(lpFileName) > MAX_PATH)
      return Fail(ERROR_FILENAME_EXCED_RANGE, INVALID_HANDLE_VALUE);
    return OpenFilePath(full, dwDesiredAccess, dwShareMode, dwCreationDisposition,
                        dwFlagsAndAttributes, DescribeGrants(lpSecurityAttributes));
  }
  return OpenHidPath(lpFileName, dwDesiredAccess, dwShareMode, dwCreationDisposition);
}

BOOL GetConsoleMode(HANDLE hConsoleHandle, LPDWORD lpMode) {
  SIM_CALL({Ptr(hConsoleHandle)});
  if (!FindHandle(hConsoleHandle, HandleKind::Console)) return Fail(ERROR_INVALID_HANDLE);
  if (call.Faulted()) return FALSE;
  *lpMode = M().console.mode;
  return TRUE;
}

BOOL SetConsoleMode(HANDLE hConsoleHandle, DWORD dwMode) {
  SIM_CALL({Ptr(hConsoleHandle), Hex(dwMode)});
  if (!FindHandle(hConsoleHandle, HandleKind::Console)) return Fail(ERROR_INVALID_HANDLE);
  if (call.Faulted()) return FALSE;
  M().console.mode = dwMode;
  M().console.modesSet.push_back(dwMode);
  return TRUE;
}

BOOL ReadConsoleInputA(HANDLE hConsoleInput, PINPUT_RECORD lpBuffer, DWORD nLength,
                       LPDWORD lpNumberOfEventsRead) {
  SIM_CALL({Ptr(hConsoleInput), Dec(nLength)});
  *lpNumberOfEventsRead = 0;
  if (!FindHandle(hConsoleInput, HandleKind::Console)) return Fail(ERROR_INVALID_HANDLE);
  if (call.Faulted()) return FALSE;
  ConsoleModel& c = M().console;
  if (c.events.empty()) {
    // Windows would wait here for ever; the simulation reports it instead of hanging.
    c.blockedReads++;
    return Fail(ERROR_HANDLE_EOF);
  }
  DWORD n = 0;
  while (n < nLength && !c.events.empty()) {
    lpBuffer[n++] = c.events.front();
    c.events.pop_front();
  }
  *lpNumberOfEventsRead = n;
  return TRUE;
}

namespace sim {

void SetStdin(const std::string& text) {
  M().console.in = text;
  M().console.inPos = 0;
}

static void PushKey(WORD vk, char ch) {
  INPUT_RECORD down;
  memset(&down, 0, sizeof down);
  down.EventType = KEY_EVENT;
  down.Event.KeyEvent.bKeyDown = TRUE;
  down.Event.KeyEvent.wRepeatCount = 1;
  down.Event.KeyEvent.wVirtualKeyCode = vk;
  down.Event.KeyEvent.uChar.AsciiChar = ch;
  INPUT_RECORD up = down;
  up.Event.KeyEvent.bKeyDown = FALSE;
  M().console.events.push_back(down);
  M().console.events.push_back(up);
}

void PressKey(char ch) {
  WORD vk = (WORD)(unsigned char)ch;
  if (ch >= 'a' && ch <= 'z') vk = (WORD)(ch - 'a' + 'A');
  PushKey(vk, ch);
}

void PressExtendedKey(WORD virtualKey) { PushKey(virtualKey, 0); }

void PressModifier(WORD virtualKey) { PushKey(virtualKey, 0); }

void AddNonKeyEvent() {
  INPUT_RECORD r;
  memset(&r, 0, sizeof r);
  r.EventType = FOCUS_EVENT;
  M().console.events.push_back(r);
}

}  // namespace sim

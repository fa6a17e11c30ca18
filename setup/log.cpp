// The run log. One handle for the run, opened for appending only: Windows then puts every
// write at the end of the file as one piece, so the lines of two runs at once never mix.
#include "log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "../actions/actions.h"
#include "../platform/win32.h"
#include "messages.h"
#include "setup.h"
#include "text.h"

static HANDLE LogFile = INVALID_HANDLE_VALUE;

int LogIsOn(void) { return LogFile != INVALID_HANDLE_VALUE; }

void LogClose(void) {
  if (LogFile == INVALID_HANDLE_VALUE) return;
  CloseHandle(LogFile);
  LogFile = INVALID_HANDLE_VALUE;
}

void LogForget(void) { LogFile = INVALID_HANDLE_VALUE; }

// The default log: below the Windows directory (the one the system uses, not a per-user one).
static int DefaultLogPath(char* path) {
  UINT length = GetSystemWindowsDirectoryA(path, PATH_BUFFER_SIZE);
  if (length == 0 || length >= SYSTEM_DIR_LIMIT) return 0;
  return AppendText(path, PATH_BUFFER_SIZE, LOG_DEFAULT_TAIL);
}

// A log grown past its limit becomes "<log>.1", replacing the one before. While another run
// has the log open the rename fails, and a later run does it.
static void RotateLog(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  FindClose(search);
  if (found.nFileSizeHigh == 0 && found.nFileSizeLow <= LOG_ROTATE_BYTES) return;
  char older[PATH_BUFFER_SIZE];
  if (!CopyText(older, sizeof older, path) || !AppendText(older, sizeof older, ".1")) return;
  MoveFileExA(path, older, MOVEFILE_REPLACE_EXISTING);
}

// Creates the folders above the file, outermost first; those that exist already fail quietly.
static void CreateLogFolders(const char* path) {
  char folder[PATH_BUFFER_SIZE];
  if (!CopyText(folder, sizeof folder, path)) return;
  for (size_t i = 1; folder[i]; i++) {
    if (folder[i] != '\\' || folder[i - 1] == ':' || folder[i - 1] == '\\') continue;
    folder[i] = '\0';
    CreateDirectoryA(folder, NULL);
    folder[i] = '\\';
  }
}

// Read access too, which a byte-range lock needs; without write access the handle still only
// appends.
static HANDLE OpenForAppend(const char* path) {
  return CreateFileA(path, FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     NULL,
                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

static int IsPackageFileName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; p++)
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  for (int i = 0; i < 5; i++) {
    const char* packageName = MessageTable[PackageFiles[i]];
    size_t length = strlen(packageName);
    if (strlen(name) == length && CompareTextNoCase(name, packageName, length) == 0) return 1;
  }
  return 0;
}

void LogOpen(const char* path) {
  LogClose();
  char file[PATH_BUFFER_SIZE];
  if (path == NULL || path[0] == '\0') {
    if (!DefaultLogPath(file)) return;
  } else {
    size_t noneLength = strlen(LOG_NONE);
    if (strlen(path) == noneLength && CompareTextNoCase(path, LOG_NONE, noneLength) == 0) return;
    // A cut-off name would be some other file.
    if (!CopyText(file, sizeof file, path)) return;
    // Nor may the log be one of the package's files, wherever: it would be rotated away or
    // written into, and then staged or placed as the package's own.
    if (IsPackageFileName(file)) return;
  }
  RotateLog(file);
  HANDLE handle = OpenForAppend(file);
  if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
    CreateLogFolders(file);
    handle = OpenForAppend(file);
  }
  LogFile = handle;
}

// Windows puts each write through an append-only handle at the end of the file as one piece,
// but not every implementation of the interface does (Wine finds the end, then writes): two
// runs at once could write over each other's line. Writers therefore take turns by an
// exclusive lock on one byte far past the end of any log, which keeps nobody from reading it.
// A lock that stays busy or cannot be taken is not waited for: the line is written anyway.
static int LockLog(OVERLAPPED* at) {
  memset(at, 0, sizeof *at);
  at->OffsetHigh = LOG_LOCK_OFFSET_HIGH;
  for (int tries = 0; tries < LOG_LOCK_TRIES; tries++) {
    if (LockFileEx(LogFile, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, at))
      return 1;
    if (GetLastError() != ERROR_LOCK_VIOLATION) return 0;
    Sleep(LOG_LOCK_WAIT_MS);
  }
  return 0;
}

void LogEvent(const char* format, ...) {
  if (LogFile == INVALID_HANDLE_VALUE) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  char line[LOG_LINE_SIZE];
  int used = snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u %lu ",
                      (unsigned)now.wYear, (unsigned)now.wMonth, (unsigned)now.wDay,
                      (unsigned)now.wHour, (unsigned)now.wMinute, (unsigned)now.wSecond,
                      (unsigned)now.wMilliseconds, (unsigned long)GetCurrentProcessId());
  if (used < 0) return;
  // Room is kept for the line end; a longer text is cut.
  size_t room = sizeof line - 2;
  va_list args;
  va_start(args, format);
  vsnprintf(line + used, room - (size_t)used, format, args);
  va_end(args);
  size_t length = strlen(line);
  // One event, one line, ASCII: line ends, control characters and the bytes of other code
  // pages in a path or an argument show as '?'.
  for (size_t i = 0; i < length; i++)
    if ((unsigned char)line[i] < ' ' || (unsigned char)line[i] > '~') line[i] = '?';
  line[length++] = '\r';
  line[length++] = '\n';
  DWORD written = 0;
  OVERLAPPED lockAt;
  int locked = LockLog(&lockAt);
  BOOL wrote = WriteFile(LogFile, line, (DWORD)length, &written, NULL);
  if (locked) UnlockFileEx(LogFile, 0, 1, 0, &lockAt);
  if (!wrote || written != length) {
    // A log that cannot be written is given up for the rest of the run.
    LogClose();
  }
}

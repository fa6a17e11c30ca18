// The run log. One handle for the run, opened for appending only: Windows then puts every
// write at the end of the file as one piece, so the lines of two runs at once never mix.
#include "log.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "security.h"
#include "system_dirs.h"
#include "text.h"

RUN_STATE static HANDLE LogFile = INVALID_HANDLE_VALUE;
RUN_STATE static int Holding = 0;
RUN_STATE static char Held[LOG_HELD_BYTES];
RUN_STATE static size_t HeldLength = 0;
// The names no log may have, wherever it lies: the caller's, which outlive the run.
RUN_STATE static const char* const* RefusedNames = 0;
RUN_STATE static int RefusedCount = 0;

void LogRefuseNames(const char* const* names, int count) {
  RefusedNames = names;
  RefusedCount = names ? count : 0;
}

int LogIsOn(void) { return LogFile != INVALID_HANDLE_VALUE; }

void LogClose(void) {
  LogRelease(1);
  if (LogFile == INVALID_HANDLE_VALUE) return;
  CloseHandle(LogFile);
  LogFile = INVALID_HANDLE_VALUE;
}

// The default log: below the Windows directory (the one the system uses, not a per-user one).
static int DefaultLogPath(char* path) {
  return ReadWindowsDir(path) && AppendText(path, PATH_BUFFER_SIZE, LOG_DEFAULT_TAIL);
}

// Whether the log lies in the default log's folder, the one folder made when missing.
static int InDefaultFolder(const char* full) {
  char folder[PATH_BUFFER_SIZE];
  const char* name = strrchr(full, '\\');
  if (!name || !DefaultLogPath(folder)) return 0;
  size_t length = (size_t)(strrchr(folder, '\\') - folder) + 1;  // with the separator
  return (size_t)(name - full) + 1 == length && CompareTextNoCase(full, folder, length) == 0;
}

// Creates the folders above a log in the default folder, outermost first, with the log's
// security; those that exist already fail quietly. Elsewhere a log is written only into a
// folder that is there: its missing folders would be made by name, through any link a user
// put on the way.
static void CreateLogFolders(const char* path, SECURITY_ATTRIBUTES* security) {
  char folder[PATH_BUFFER_SIZE];
  if (!CopyText(folder, sizeof folder, path)) return;
  for (size_t i = 1; folder[i]; i++) {
    if (folder[i] != '\\' || folder[i - 1] == ':' || folder[i - 1] == '\\') continue;
    folder[i] = '\0';
    CreateDirectoryA(folder, security);
    folder[i] = '\\';
  }
}

// Read access too, which a byte-range lock needs; without write access the handle still only
// appends. A link at the name is opened as itself, not followed. A log already there is opened
// without deletion access, so that a reader who holds it without delete sharing does not keep
// the run from it; a new one has it (nobody else has that file open yet), so that a refused
// one is deleted again through its handle. A new log lets only administrators at it.
#define LOG_ACCESS (FILE_READ_DATA | FILE_APPEND_DATA)
#define LOG_SHARING (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)
#define LOG_FLAGS (FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT)
static HANDLE OpenForAppend(const char* path, SECURITY_ATTRIBUTES* security, int* created) {
  HANDLE handle =
      CreateFileA(path, LOG_ACCESS | DELETE, LOG_SHARING, security, CREATE_NEW, LOG_FLAGS, NULL);
  *created = handle != INVALID_HANDLE_VALUE;
  if (*created || GetLastError() != ERROR_FILE_EXISTS) return handle;
  return CreateFileA(path, LOG_ACCESS, LOG_SHARING, NULL, OPEN_EXISTING, LOG_FLAGS, NULL);
}

// A second handle to the log's file, with deletion access, for its rotation: opened by name,
// it is used only when it is the file the first handle has (`info`: its volume and file
// index). INVALID_HANDLE_VALUE otherwise.
static HANDLE OpenForRotation(const char* path, const BY_HANDLE_FILE_INFORMATION* info) {
  HANDLE handle = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, LOG_SHARING, NULL,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  BY_HANDLE_FILE_INFORMATION same;
  if (GetFileInformationByHandle(handle, &same) &&
      same.dwVolumeSerialNumber == info->dwVolumeSerialNumber &&
      same.nFileIndexHigh == info->nFileIndexHigh && same.nFileIndexLow == info->nFileIndexLow)
    return handle;
  CloseHandle(handle);
  return INVALID_HANDLE_VALUE;
}

// Past the "\\?\" of a final path, or the "\\?\UNC\" or "\\" of a share, which `share` tells.
static const char* PathBody(const char* path, int* share) {
  *share = 0;
  if (strncmp(path, "\\\\?\\", 4) == 0) {
    path += 4;
    if (CompareTextNoCase(path, "UNC\\", 4) != 0) return path;
    *share = 1;
    return path + 4;
  }
  if (strncmp(path, "\\\\", 2) == 0) {
    *share = 1;
    return path + 2;
  }
  return path;
}

// Whether the final path of a handle names the file asked for: the same path but for letter
// case, a "\\?\" prefix and one trailing separator.
static int SamePath(const char* finalPath, const char* full) {
  int finalShare, fullShare;
  const char* a = PathBody(finalPath, &finalShare);
  const char* b = PathBody(full, &fullShare);
  size_t lengthA = strlen(a), lengthB = strlen(b);
  if (lengthA > 0 && (a[lengthA - 1] == '\\' || a[lengthA - 1] == '/')) lengthA--;
  if (lengthB > 0 && (b[lengthB - 1] == '\\' || b[lengthB - 1] == '/')) lengthB--;
  return finalShare == fullShare && lengthA == lengthB && CompareTextNoCase(a, b, lengthA) == 0;
}

// The log is written only to the file named, and to that file alone: not through a link at
// the name (the file would be another one, which whoever made the link may not write), nor
// to a file with other names, nor through a junction or link in a folder above it. A check
// that cannot be made refuses too.
static int IsFileAsked(HANDLE handle, const char* full, BY_HANDLE_FILE_INFORMATION* info) {
  if (!GetFileInformationByHandle(handle, info)) return 0;
  if (info->dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) return 0;
  if (info->nNumberOfLinks != 1) return 0;
  char finalPath[PATH_BUFFER_SIZE];
  DWORD length = GetFinalPathNameByHandleA(handle, finalPath, sizeof finalPath,
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof finalPath) return 0;
  // The final path spells every folder by its long name; a name given through 8.3 short
  // names (as %TEMP% often is) is compared in its long form. Links are not followed by that.
  char longFull[PATH_BUFFER_SIZE];
  length = GetLongPathNameA(full, longFull, sizeof longFull);
  if (length == 0 || length >= sizeof longFull) return 0;
  return SamePath(finalPath, longFull);
}

// Opens the log and checks it; a refused one is closed. A file that this open has just made
// is deleted again through its handle (by name, another file could have taken its place
// meanwhile): the run then leaves what a run without a log leaves, its folders aside.
static HANDLE OpenLog(const char* full, int makesFolders, SECURITY_ATTRIBUTES* security,
                      BY_HANDLE_FILE_INFORMATION* info) {
  int created;
  HANDLE handle = OpenForAppend(full, security, &created);
  if (handle == INVALID_HANDLE_VALUE && makesFolders && GetLastError() == ERROR_PATH_NOT_FOUND) {
    CreateLogFolders(full, security);
    handle = OpenForAppend(full, security, &created);
  }
  if (handle == INVALID_HANDLE_VALUE) return handle;
  if (IsFileAsked(handle, full, info)) return handle;
  if (created) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
  }
  CloseHandle(handle);
  return INVALID_HANDLE_VALUE;
}

// A log grown past its limit becomes "<log>.1", replacing the one before. The rename goes
// through a handle to the file whose size was read, so that the file measured is the file
// renamed.
static int RenameToOlder(const BY_HANDLE_FILE_INFORMATION* info, const char* full) {
  char older[PATH_BUFFER_SIZE];
  if (!CopyText(older, sizeof older, full) || !AppendText(older, sizeof older, ".1")) return 0;
  union {
    FILE_RENAME_INFO info;
    unsigned char bytes[sizeof(FILE_RENAME_INFO) + PATH_BUFFER_SIZE * sizeof(WCHAR)];
  } rename;
  memset(&rename, 0, sizeof rename);
  int chars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, older, -1, rename.info.FileName,
                                  PATH_BUFFER_SIZE);
  if (chars <= 0) return 0;
  rename.info.ReplaceIfExists = TRUE;
  rename.info.RootDirectory = NULL;
  rename.info.FileNameLength = (DWORD)(chars - 1) * (DWORD)sizeof(WCHAR);
  HANDLE handle = OpenForRotation(full, info);
  if (handle == INVALID_HANDLE_VALUE) return 0;
  int renamed = SetFileInformationByHandle(handle, FileRenameInfo, &rename, sizeof rename) != 0;
  CloseHandle(handle);
  return renamed;
}

static int IsRefusedName(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; p++)
    if (*p == '\\' || *p == '/' || *p == ':') name = p + 1;
  for (int i = 0; i < RefusedCount; i++) {
    const char* refused = RefusedNames[i];
    size_t length = strlen(refused);
    if (strlen(name) == length && CompareTextNoCase(name, refused, length) == 0) return 1;
  }
  return 0;
}

void LogOpen(const char* path) {
  LogClose();
  char file[PATH_BUFFER_SIZE];
  int isDefault = path == NULL || path[0] == '\0';
  if (isDefault) {
    if (!DefaultLogPath(file)) return;
  } else {
    size_t noneLength = strlen(LOG_NONE);
    if (strlen(path) == noneLength && CompareTextNoCase(path, LOG_NONE, noneLength) == 0) return;
    // A cut-off name would be some other file.
    if (!CopyText(file, sizeof file, path)) return;
  }
  // The full path, as Windows makes it of the name, is what the handle's final path must be.
  char full[PATH_BUFFER_SIZE];
  DWORD length = GetFullPathNameA(file, sizeof full, full, NULL);
  if (length == 0 || length >= sizeof full) return;
  // Nor may the log have one of the refused names (the package's files), wherever: it would be
  // rotated away or written into, and then staged or placed as the package's own.
  if (IsRefusedName(full)) return;
  // Without its descriptor, a log and its folders get the security they inherit.
  AdminsOnly security;
  SECURITY_ATTRIBUTES* attributes =
      MakeAdminsOnly(&security, FILE_ALL_ACCESS) ? &security.attributes : NULL;
  int makesFolders = isDefault || InDefaultFolder(full);
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE handle = OpenLog(full, makesFolders, attributes, &info);
  // While the rename cannot be done, the log grows on, and a later run renames it.
  if (handle != INVALID_HANDLE_VALUE &&
      (info.nFileSizeHigh != 0 || info.nFileSizeLow > LOG_ROTATE_BYTES) &&
      RenameToOlder(&info, full)) {
    CloseHandle(handle);
    handle = OpenLog(full, makesFolders, attributes, &info);
  }
  FreeAdminsOnly(&security);
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

// The length of the well-formed UTF-8 sequence at s (at most `left` bytes), with its
// character; 0 for an overlong form, a surrogate, a character past U+10FFFF or a cut sequence.
static size_t Utf8Sequence(const unsigned char* s, size_t left, unsigned long* character) {
  size_t length;
  unsigned long c, least;
  if (s[0] >= 0xC2 && s[0] <= 0xDF) {
    length = 2, c = s[0] & 0x1Fu, least = 0x80;
  } else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
    length = 3, c = s[0] & 0x0Fu, least = 0x800;
  } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
    length = 4, c = s[0] & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  if (length > left) return 0;
  for (size_t i = 1; i < length; i++) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (s[i] & 0x3Fu);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *character = c;
  return length;
}

// Characters that would make a line read as something else: the C1 controls, the line and
// paragraph separators, and the bidirectional marks, embeddings, overrides and isolates,
// which reorder what follows them.
static int Misleading(unsigned long c) {
  return c <= 0x9F || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// One event, one line, as a reader sees it: printable ASCII and well-formed UTF-8 (a folder's
// name as the UTF-8 code page reads it) stay; line ends, control characters, misleading
// characters and every other byte show as '?', one for each byte. The events' text too.
void ShowLegibly(char* line, size_t length) {
  unsigned char* bytes = (unsigned char*)line;
  for (size_t i = 0; i < length;) {
    unsigned long c = 0;
    size_t sequence = 0;
    if (bytes[i] >= ' ' && bytes[i] <= '~') {
      i++;
      continue;
    }
    if (bytes[i] >= 0x80) sequence = Utf8Sequence(bytes + i, length - i, &c);
    if (sequence > 0 && !Misleading(c)) {
      i += sequence;
      continue;
    }
    line[i++] = '?';
  }
}

// Whole lines, in one write under the writers' lock.
static void WriteLines(const char* lines, size_t length) {
  if (LogFile == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  OVERLAPPED lockAt;
  int locked = LockLog(&lockAt);
  BOOL wrote = WriteFile(LogFile, lines, (DWORD)length, &written, NULL);
  if (locked) UnlockFileEx(LogFile, 0, 1, 0, &lockAt);
  if (!wrote || written != length) {
    // A log that cannot be written is given up for the rest of the run.
    LogClose();
  }
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
  ShowLegibly(line, length);
  line[length++] = '\r';
  line[length++] = '\n';
  if (Holding && HeldLength + length <= sizeof Held) {
    memcpy(Held + HeldLength, line, length);
    HeldLength += length;
    return;
  }
  // More than the room held: what is held goes first, and the rest of the run as it comes.
  LogRelease(1);
  WriteLines(line, length);
}

void LogHold(void) {
  Holding = 1;
  HeldLength = 0;
}

void LogRelease(int write) {
  if (!Holding) return;
  Holding = 0;
  if (write && HeldLength > 0) WriteLines(Held, HeldLength);
  HeldLength = 0;
}

// The verification (-V): whether the installation is whole, as it stands and once the machine
// restarts. It reads the driver directory's package, the placements in the system directories,
// the uninstall entry and what is recorded for the restart, and writes nothing: contents are
// compared, since a file replaced by other bytes may keep its size and time. When the release's
// manifest is there, each file is held against its digest too, so that a file replaced alike in
// the driver directory and in its placement is still found.
#include <stdio.h>
#include <string.h>

#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "../support/system_dirs.h"
#include "../support/text.h"
#include "../support/version.h"
#include "actions.h"
#include "restart.h"
#include "release.h"

#define VERIFY_CHUNK 4096
// No file of the package comes near this; one larger is not read to its end.
#define VERIFY_READ_LIMIT (64UL * 1024UL * 1024UL)
#define VERSION_BUFFER_SIZE 64
// The package's files in the driver directory in table order (Files[i] is row i), then its
// placements in the order the installation makes them.
#define CHECKED_LIMIT (2 * PACKAGE_FILES_LIMIT)

#define COMPARE_SAME 0
#define COMPARE_DIFFERENT 1
#define COMPARE_UNREADABLE 2

RUN_STATE static char ChunkA[VERIFY_CHUNK];
RUN_STATE static char ChunkB[VERIFY_CHUNK];

struct Checked {
  char path[PATH_BUFFER_SIZE];
  char after[PATH_BUFFER_SIZE];  // the file whose bytes the path holds after the restart, or ""
  int reference;                 // a placement's file in the driver directory
  int state;                     // AFTER_RESTART_...
  int judged;                    // held against the manifest: `release` says whether it is
  int release;
};

RUN_STATE static Checked Files[CHECKED_LIMIT];
RUN_STATE static int CheckedCount = 0;
RUN_STATE static int Findings = 0;

// Shared with other writers: the software may be in use while it is verified.
static HANDLE OpenToRead(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
}

static int IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// One line for each finding, on the console and in the log. Every text takes strings only.
static void Finding(int message, const char* first, const char* second = "",
                    const char* third = "") {
  Findings++;
  PutMessageArgs(message, first, second, third);
  char line[LOG_LINE_SIZE];
  snprintf(line, sizeof line, MessageTable[message], first, second, third);
  line[strcspn(line, "\n")] = '\0';
  LogEvent("verification: %s", line);
}

static void Unreadable(const char* path, DWORD error) {
  char number[16];
  snprintf(number, sizeof number, "%lu", (unsigned long)error);
  Finding(IsMissing(error) ? MSG_VERIFY_MISSING : MSG_VERIFY_UNREADABLE, path, number);
}

// 1 when the file can be opened for reading; otherwise 0 and *error says why.
static int CanOpen(const char* path, DWORD* error) {
  *error = 0;
  HANDLE handle = OpenToRead(path);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return 0;
  }
  CloseHandle(handle);
  return 1;
}

// Fills the buffer, short only at the end of the file. Returns the bytes read, or -1.
static long ReadChunk(HANDLE handle, char* buffer) {
  DWORD total = 0;
  while (total < VERIFY_CHUNK) {
    DWORD got = 0;
    if (!ReadFile(handle, buffer + total, VERIFY_CHUNK - total, &got, NULL)) return -1;
    if (got == 0) break;
    total += got;
  }
  return (long)total;
}

// Compares two open files byte for byte from where each stands. On COMPARE_UNREADABLE, *failed
// and *error say which could not be read and why.
static int CompareHandles(HANDLE first, HANDLE second, const char* a, const char* b,
                          const char** failed, DWORD* error) {
  *failed = a;
  *error = ERROR_FILE_TOO_LARGE;
  for (unsigned long read = 0; read <= VERIFY_READ_LIMIT; read += VERIFY_CHUNK) {
    long gotA = ReadChunk(first, ChunkA);
    long gotB = gotA < 0 ? 0 : ReadChunk(second, ChunkB);
    if (gotA < 0 || gotB < 0) {
      *failed = gotA < 0 ? a : b;
      *error = GetLastError();
      return COMPARE_UNREADABLE;
    }
    if (gotA != gotB || memcmp(ChunkA, ChunkB, (size_t)gotA) != 0) return COMPARE_DIFFERENT;
    if (gotA < VERIFY_CHUNK) return COMPARE_SAME;
  }
  return COMPARE_UNREADABLE;
}

// Compares two files byte for byte, as CompareHandles.
static int CompareContents(const char* a, const char* b, const char** failed, DWORD* error) {
  HANDLE first = OpenToRead(a);
  if (first == INVALID_HANDLE_VALUE) {
    *failed = a;
    *error = GetLastError();
    return COMPARE_UNREADABLE;
  }
  HANDLE second = OpenToRead(b);
  if (second == INVALID_HANDLE_VALUE) {
    *failed = b;
    *error = GetLastError();
    CloseHandle(first);
    return COMPARE_UNREADABLE;
  }
  int result = CompareHandles(first, second, a, b, failed, error);
  CloseHandle(second);
  CloseHandle(first);
  return result;
}

// Whether the build wrote the release's manifest (it holds the digests of all files or none).
static int ManifestThere(void) {
  for (int i = 0; i < PackageFileCount; i++)
    if (ReleaseDigest(PackageFiles[i].name)) return 1;
  return 0;
}

// With the manifest, the release's SETUP.EXE is the program running: the driver directory's, as
// it stands after the restart, is compared with it byte for byte, read from its start through
// the handle kept open since it was shown to be the running image. (Run from the driver
// directory, it is the same file.)
static void CompareWithRunningProgram(void) {
  int installer = PackageFileOfKind(FILE_INSTALLER);
  Checked& f = Files[installer];
  HANDLE running = RunningProgramFile();
  if (!ManifestThere() || running == INVALID_HANDLE_VALUE || !f.after[0]) return;
  char self[PATH_BUFFER_SIZE];
  DWORD length = GetModuleFileNameA(NULL, self, sizeof self);
  if (length == 0 || length >= sizeof self) CopyText(self, sizeof self, PackageFileName(installer));
  LARGE_INTEGER start;
  start.QuadPart = 0;
  if (!SetFilePointerEx(running, start, NULL, FILE_BEGIN)) {
    Unreadable(self, GetLastError());
    return;
  }
  HANDLE copy = OpenToRead(f.after);
  if (copy == INVALID_HANDLE_VALUE) {
    Unreadable(f.after, GetLastError());
    return;
  }
  const char* failed = "";
  DWORD error = 0;
  int compared = CompareHandles(copy, running, f.after, self, &failed, &error);
  CloseHandle(copy);
  if (compared == COMPARE_DIFFERENT) Finding(MSG_VERIFY_NOT_RELEASE, f.path);
  if (compared == COMPARE_UNREADABLE) Unreadable(failed, error);
}

// The image digest of a file's bytes, read whole through one handle; 0 and *error when they
// cannot be read.
static int DigestOfFile(const char* path, unsigned char* digest, DWORD* error) {
  *error = 0;
  HANDLE handle = OpenToRead(path);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION info;
  memset(&info, 0, sizeof info);
  unsigned char* bytes = 0;
  if (!GetFileInformationByHandle(handle, &info)) *error = GetLastError();
  else if (info.nFileSizeHigh || info.nFileSizeLow > VERIFY_READ_LIMIT) *error = ERROR_FILE_TOO_LARGE;
  // A byte more than its size: a file that grows while it is read is not taken for the one
  // measured.
  else if (!(bytes = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, info.nFileSizeLow + 1)))
    *error = ERROR_NOT_ENOUGH_MEMORY;
  unsigned long total = 0, capacity = info.nFileSizeLow + 1;
  while (bytes && !*error && total < capacity) {
    DWORD got = 0, want = capacity - total < VERIFY_CHUNK ? capacity - total : VERIFY_CHUNK;
    if (!ReadFile(handle, bytes + total, want, &got, NULL)) *error = GetLastError();
    if (got == 0) break;
    total += got;
  }
  if (bytes && !*error) ImageDigest(bytes, total, digest);
  if (bytes) HeapFree(GetProcessHeap(), 0, bytes);
  CloseHandle(handle);
  return bytes && !*error;
}

// The manifest's digest for what Files[i] should hold, or null (SETUP.EXE, or no manifest).
static const unsigned char* ReleaseOf(int i) {
  return ReleaseDigest(PackageFiles[i < PackageFileCount ? i : Files[i].reference].name);
}

static void Join(char* out, const char* dir, int name) {
  CopyText(out, PATH_BUFFER_SIZE, dir);
  AppendText(out, PATH_BUFFER_SIZE, MessageTable[name]);
}

static void BuildChecked(const char* systemDir) {
  char dir[PATH_BUFFER_SIZE];
  BuildDriverDir(dir, systemDir);
  memset(Files, 0, sizeof Files);
  for (int i = 0; i < PackageFileCount; i++) Join(Files[i].path, dir, PackageFiles[i].name);
  CheckedCount = PackageFileCount;
  for (int k = 0; k < PlacementCount(); k++) {
    Checked& placed = Files[CheckedCount++];
    placed.reference = PlacedFile(k);
    PlaceDir(PackageFiles[placed.reference].place, systemDir, dir);
    Join(placed.path, dir, PackageFiles[placed.reference].placedName);
  }
}

// What each file holds after the restart; each one that is then missing or another's is a
// finding. Returns 1 when the lists could not be read whole.
static int CheckRestartStates(void) {
  int unknown = 0;
  for (int i = 0; i < CheckedCount; i++) {
    Checked& f = Files[i];
    DWORD error;
    int exists = CanOpen(f.path, &error);
    char copy[PATH_BUFFER_SIZE];
    f.state = PathAfterRestart(f.path, exists || !IsMissing(error), copy);
    // Unknown lists are a finding of their own; the files are checked as they are now.
    if (f.state == AFTER_RESTART_UNKNOWN) unknown = 1;
    if (f.state == AFTER_RESTART_UNKNOWN) f.state = AFTER_RESTART_AS_NOW;
    if (f.state == AFTER_RESTART_AS_NOW && exists) CopyText(f.after, sizeof f.after, f.path);
    if (f.state == AFTER_RESTART_OUR_COPY) CopyText(f.after, sizeof f.after, copy);
    if (f.state == AFTER_RESTART_AS_NOW && !exists) Unreadable(f.path, error);
    else if (f.state == AFTER_RESTART_NOTHING && !exists) Unreadable(f.path, error);
    else if (!f.after[0]) Finding(MSG_VERIFY_CHANGED_AT_RESTART, f.path);
  }
  return unknown;
}

// The placements against the driver directory's files, as both are after the restart; a copy of
// ours that waits to be moved onto a driver file is read in its place. With the manifest, every
// file it names is held against its digest first. Each path is named in one finding at most.
static void ComparePlacements(void) {
  for (int i = 0; i < PackageFileCount; i++) {
    DWORD error;
    if (Files[i].state == AFTER_RESTART_OUR_COPY && !CanOpen(Files[i].after, &error)) {
      Unreadable(Files[i].after, error);
      Files[i].after[0] = '\0';
    }
  }
  for (int i = 0; i < CheckedCount; i++) {
    Checked& f = Files[i];
    const unsigned char* release = ReleaseOf(i);
    if (!release || !f.after[0]) continue;
    unsigned char digest[DIGEST_SIZE];
    DWORD error;
    if (!DigestOfFile(f.after, digest, &error)) {
      Unreadable(f.after, error);
      f.after[0] = '\0';
      continue;
    }
    f.judged = 1;
    f.release = memcmp(digest, release, DIGEST_SIZE) == 0;
    if (i < PackageFileCount && !f.release) Finding(MSG_VERIFY_NOT_RELEASE, f.path);
  }
  for (int i = PackageFileCount; i < CheckedCount; i++) {
    const Checked& placed = Files[i];
    const Checked& source = Files[placed.reference];
    if (placed.judged) {
      // Where the driver directory holds the release's file, the placement differs from it.
      if (placed.release) continue;
      if (source.judged && source.release) Finding(MSG_VERIFY_DIFFERS, placed.path, source.path);
      else Finding(MSG_VERIFY_NOT_RELEASE, placed.path);
      continue;
    }
    if (!placed.after[0] || !source.after[0]) continue;
    const char* failed = "";
    DWORD error = 0;
    int compared = CompareContents(placed.after, source.after, &failed, &error);
    if (compared == COMPARE_DIFFERENT) Finding(MSG_VERIFY_DIFFERS, placed.path, source.path);
    if (compared == COMPARE_UNREADABLE) Unreadable(failed, error);
  }
}

// The entry's version into `version`: 1 when the entry is there (the version may be empty, or
// unreadable: *error then says why).
static int ReadEntryVersion(char* version, DWORD* error) {
  version[0] = '\0';
  HKEY key;
  LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0,
                                 KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key);
  *error = (DWORD)status;
  if (status != ERROR_SUCCESS) return 0;
  DWORD type = REG_NONE, size = VERSION_BUFFER_SIZE - 1;
  status = RegQueryValueExA(key, "DisplayVersion", NULL, &type, (BYTE*)version, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) *error = (DWORD)status;
  if (status != ERROR_SUCCESS || type != REG_SZ) size = 0;
  version[size < VERSION_BUFFER_SIZE ? size : 0] = '\0';
  // Printed and logged: only what a console shows as it is.
  for (char* c = version; *c; c++)
    if ((unsigned char)*c < ' ' || (unsigned char)*c > '~') *c = '?';
  return 1;
}

static int DirectoryThere(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int VerifyInstallation(int* installedFound) {
  *installedFound = 0;
  Findings = 0;
  char systemDir[PATH_BUFFER_SIZE];
  if (!ReadSystemDir(systemDir)) {
    PutMessage(MSG_FAILED);
    return EXIT_FAILED;
  }
  char version[VERSION_BUFFER_SIZE];
  DWORD entryError;
  int entry = ReadEntryVersion(version, &entryError);
  char driverDir[PATH_BUFFER_SIZE];
  BuildDriverDirCompare(driverDir, systemDir);
  int dirThere = DirectoryThere(driverDir);
  LogEvent("verification: uninstall entry %s (version \"%s\", error %lu), driver directory %s",
           entry ? "there" : "not there", version, (unsigned long)entryError,
           dirThere ? "there" : "not there");
  if (!entry && IsMissing(entryError) && !dirThere) {
    PutMessage(MSG_VERIFY_NOT_INSTALLED);
    PutMessage(MSG_FAILED);
    return EXIT_FAILED;
  }
  *installedFound = 1;

  ReadRestartOperations();
  BuildChecked(systemDir);
  // A directory that goes at the restart takes the package with it.
  char unused[PATH_BUFFER_SIZE];
  int dirAfter = PathAfterRestart(driverDir, dirThere, unused);
  if (dirThere && dirAfter != AFTER_RESTART_AS_NOW && dirAfter != AFTER_RESTART_UNKNOWN)
    Finding(MSG_VERIFY_CHANGED_AT_RESTART, driverDir);
  int unknown = CheckRestartStates();
  ComparePlacements();
  CompareWithRunningProgram();
  if (!entry && IsMissing(entryError))
    Finding(MSG_VERIFY_NO_ENTRY, UNINSTALL_KEY);
  else if (!entry || entryError)
    Unreadable("HKLM\\" UNINSTALL_KEY, entryError);
  else if (strcmp(version, SETUP_VERSION) != 0)
    Finding(MSG_VERIFY_ENTRY_VERSION, UNINSTALL_KEY, version[0] ? version : "(none)",
            SETUP_VERSION);
  if (unknown) Finding(MSG_VERIFY_RESTART_UNKNOWN, "");

  int pending = 0;
  for (int i = 0; i < CheckedCount; i++) pending |= Files[i].state != AFTER_RESTART_AS_NOW;
  LogEvent("verification: %d finding(s)%s", Findings,
           Findings || !pending ? "" : ", whole once the machine restarts");
  if (Findings) {
    PutMessage(MSG_FAILED);
    return EXIT_FAILED;
  }
  PutMessageArgs(pending ? MSG_VERIFY_WHOLE_AFTER_RESTART : MSG_VERIFY_WHOLE, SETUP_VERSION);
  return pending ? EXIT_REBOOT_REQUIRED : EXIT_INSTALLED;
}

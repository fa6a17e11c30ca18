// A package file read once. The folder a package is run from may be written by others, so its
// file is opened a single time, denying writers and deletion and without following a reparse
// point, refused when it is a link of either kind or another file than the name asked for, and
// read whole into memory: what is checked is what is copied, and what a restart copy is filled
// with, however the folder changes meanwhile.
#include <string.h>

#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "../support/text.h"
#include "actions.h"
#include "restart.h"

// The attributes a copy keeps, as CopyFileA keeps them.
#define KEPT_ATTRIBUTES \
  (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)

static int PackageNameOf(const char* name) {
  size_t length = strlen(name);
  for (int i = 0; i < PackageFileCount; i++) {
    const char* known = PackageFileName(i);
    if (length == strlen(known) && CompareTextNoCase(name, known, length) == 0)
      return PackageFiles[i].name;
  }
  return 0;
}

// Whether the final path ends in "\" and the name asked for: a link at the file, or a path that
// leads elsewhere, ends in another name.
static int EndsInName(const char* finalPath, const char* name) {
  size_t length = strlen(finalPath), nameLength = strlen(name);
  if (length <= nameLength || finalPath[length - nameLength - 1] != '\\') return 0;
  return CompareTextNoCase(finalPath + length - nameLength, name, nameLength) == 0;
}

RUN_STATE int PackageFilesRefused = 0;

static int Refuse(PackageFile* file, const char* path, const char* why) {
  PackageFilesRefused++;
  LogEvent("open \"%s\": refused, %s", path, why);
  ClosePackageFile(file);
  file->error = ERROR_ACCESS_DENIED;
  return PACKAGE_REFUSED;
}

static int Unread(PackageFile* file, const char* path, DWORD error) {
  LogEvent("open \"%s\": not read (error %lu)", path, (unsigned long)error);
  ClosePackageFile(file);
  file->error = error;
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ? PACKAGE_IN_USE
                                                                           : PACKAGE_UNREADABLE;
}

int OpenPackageFile(const char* path, const char* name, PackageFile* file) {
  memset(file, 0, sizeof *file);
  file->handle = INVALID_HANDLE_VALUE;
  file->name = PackageNameOf(name);
  file->verdict = CHECK_NONE;
  HANDLE handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (handle == INVALID_HANDLE_VALUE || handle == NULL) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      file->error = error;
      return PACKAGE_MISSING;
    }
    return Unread(file, path, error);
  }
  file->handle = handle;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return Unread(file, path, GetLastError());
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
    return Refuse(file, path, "it is a link (a reparse point)");
  if (info.nNumberOfLinks != 1) return Refuse(file, path, "the file has more than one name");
  char finalPath[PATH_BUFFER_SIZE];
  DWORD length = GetFinalPathNameByHandleA(handle, finalPath, sizeof finalPath,
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (length == 0 || length >= sizeof finalPath) return Unread(file, path, GetLastError());
  if (!EndsInName(finalPath, name)) return Refuse(file, path, "it leads to another name");
  if (info.nFileSizeHigh != 0 || info.nFileSizeLow > PACKAGE_FILE_LIMIT)
    return Unread(file, path, ERROR_FILE_TOO_LARGE);
  file->size = info.nFileSizeLow;
  file->lastWrite = info.ftLastWriteTime;
  file->attributes = info.dwFileAttributes & KEPT_ATTRIBUTES;
  file->bytes = (unsigned char*)HeapAlloc(GetProcessHeap(), 0, file->size ? file->size : 1);
  if (!file->bytes) return Unread(file, path, ERROR_NOT_ENOUGH_MEMORY);
  for (DWORD at = 0; at < file->size;) {
    DWORD got = 0;
    if (!ReadFile(handle, file->bytes + at, file->size - at, &got, NULL))
      return Unread(file, path, GetLastError());
    if (got == 0) return Unread(file, path, ERROR_HANDLE_EOF);
    at += got;
  }
  return PACKAGE_OPEN;
}

int OpenPackageFileAfterRestart(char* path, const char* name, PackageFile* file, int* after) {
  int opened = OpenPackageFile(path, name, file);
  char copy[PATH_BUFFER_SIZE];
  *after = PathAfterRestart(path, opened != PACKAGE_MISSING, copy);
  if (*after != AFTER_RESTART_OUR_COPY) return opened;
  ClosePackageFile(file);
  const char* copyName = strrchr(copy, '\\');
  opened = OpenPackageFile(copy, copyName ? copyName + 1 : copy, file);
  // The copy holds the package file's bytes under a name of its own.
  file->name = PackageNameOf(name);
  CopyText(path, PATH_BUFFER_SIZE, copy);
  return opened;
}

void ClosePackageFile(PackageFile* file) {
  if (file->bytes) HeapFree(GetProcessHeap(), 0, file->bytes);
  file->bytes = NULL;
  if (file->handle != INVALID_HANDLE_VALUE && file->handle != NULL) CloseHandle(file->handle);
  file->handle = INVALID_HANDLE_VALUE;
}

// Writes the bytes read, then the source's last-write time and attributes, into an open file.
static DWORD WriteBytesAndInfo(const PackageFile* file, HANDLE out) {
  DWORD written = 0;
  if (!WriteFile(out, file->bytes, file->size, &written, NULL)) return GetLastError();
  if (written != file->size) return ERROR_DISK_FULL;
  // The next run's date check compares the last-write time: the copy keeps the source's.
  FILE_BASIC_INFO basic;
  memset(&basic, 0, sizeof basic);
  basic.LastWriteTime.LowPart = file->lastWrite.dwLowDateTime;
  basic.LastWriteTime.HighPart = (LONG)file->lastWrite.dwHighDateTime;
  basic.FileAttributes = file->attributes ? file->attributes : FILE_ATTRIBUTE_NORMAL;
  if (!SetFileInformationByHandle(out, FileBasicInfo, &basic, sizeof basic))
    return GetLastError();
  return 0;
}

// A copy cut short is no copy of the file: it goes (read-only as the source may have made it).
static void DropUnfinished(const char* path) {
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path);
}

// Writes a file that nothing else holds: one this run named (a restart copy) or one that is
// not there. `disposition` is CREATE_ALWAYS or CREATE_NEW.
static DWORD WriteFresh(const PackageFile* file, const char* path, DWORD disposition) {
  HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
  if (out == INVALID_HANDLE_VALUE || out == NULL) return GetLastError();
  DWORD error = WriteBytesAndInfo(file, out);
  CloseHandle(out);
  if (error) DropUnfinished(path);
  return error;
}

DWORD WriteNewPackageCopy(const PackageFile* file, const char* copyPath) {
  return WriteFresh(file, copyPath, CREATE_ALWAYS);
}

// A file that is there is never emptied before its replacement is whole: the copy is written
// beside it and moved onto it, so a copy that fails leaves it as it was.
DWORD WritePackageCopy(const PackageFile* file, const char* destPath) {
  // Opened as a copy would open it, to learn whether it is there and whether another program
  // holds it (32, 33: the caller's restart path), and closed at once.
  HANDLE probe = CreateFileA(destPath, GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (probe == INVALID_HANDLE_VALUE || probe == NULL) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return WriteFresh(file, destPath, CREATE_NEW);
    return error;
  }
  CloseHandle(probe);

  char dir[PATH_BUFFER_SIZE];
  if (!CopyText(dir, sizeof dir, destPath)) return ERROR_FILENAME_EXCED_RANGE;
  char* cut = strrchr(dir, '\\');
  if (cut) cut[1] = '\0';
  else CopyText(dir, sizeof dir, ".");
  char tempPath[MAX_PATH];
  if (GetTempFileNameA(dir, "tvx", 0, tempPath) == 0) return GetLastError();
  // A name whose earlier move is still recorded: that move would carry the name elsewhere.
  if (CopyNameRecorded(tempPath, destPath)) {
    DeleteFileA(tempPath);
    LogEvent("copy to \"%s\": the name \"%s\" is recorded for the restart", destPath, tempPath);
    return ERROR_FILE_EXISTS;
  }
  DWORD error = WriteFresh(file, tempPath, CREATE_ALWAYS);
  if (error) {
    DropUnfinished(tempPath);  // also when it could not be opened: GetTempFileNameA made it
    return error;
  }
  if (MoveFileExA(tempPath, destPath, MOVEFILE_REPLACE_EXISTING)) return 0;
  error = GetLastError();
  DropUnfinished(tempPath);
  return error;
}

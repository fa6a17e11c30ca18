// Removal of the installed software: the service tool removes its installation, then every file
// the installation placed is deleted, or, when that cannot be done now, deleted by Windows at
// the next restart. Only the package's own names are touched: other files, and a driver
// directory that still holds them, stay.
#include "../platform/console.h"
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "../support/security.h"
#include "../support/system_dirs.h"
#include "../support/text.h"
#include "actions.h"
#include "restart.h"

static int IsMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

static void TraceDeleteError(const char* path, DWORD error) {
  if (DebugTrace == 1 && ShowMessages == 1)
    ConsolePrint("DeleteFile error on file = >%s<, err = %x\n", path, (unsigned)error);
}

// What cannot go now goes at the restart: Windows deletes what a delayed move names with no
// new name.
static int DeleteAtRestart(const char* path, DWORD error) {
  TraceDeleteError(path, error);
  if (!MayRecordForRestart()) {
    LogEvent("delete \"%s\": error %lu, and nothing can be recorded for the restart", path,
             (unsigned long)error);
    return REMOVE_FAILED;
  }
  if (RecordRestartMove(path, NULL)) {
    LogEvent("delete \"%s\": error %lu, deleted at the restart", path, (unsigned long)error);
    return REMOVE_REBOOT;
  }
  LogEvent("delete \"%s\": error %lu, and not scheduled for the restart: error %lu", path,
           (unsigned long)error, (unsigned long)GetLastError());
  return REMOVE_FAILED;
}

// The folder the running installer leaves into: one of ours below the Windows directory, where
// only administrators create entries, made with a descriptor that lets nobody else write it.
// A folder found under that name was made by an administrator and is used when it is a plain
// directory, not a link: a boot-time deletion there follows no name a user could steer.
#define REMOVED_FOLDER_TAIL "\\TVX2.Removed"

static int OpenRemovedFolder(char* folder) {
  if (!ReadWindowsDir(folder) || !AppendText(folder, PATH_BUFFER_SIZE, REMOVED_FOLDER_TAIL))
    return 0;
  AdminsOnly security;
  int described = MakeAdminsOnly(&security, FILE_ALL_ACCESS);
  int made = described && CreateDirectoryA(folder, &security.attributes);
  DWORD error = GetLastError();
  FreeAdminsOnly(&security);
  if (made) return 1;
  if (!described || error != ERROR_ALREADY_EXISTS) {
    LogEvent("folder \"%s\": not made (error %lu)", folder, (unsigned long)error);
    return 0;
  }
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(folder, &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  FindClose(find);
  if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
      FILE_ATTRIBUTE_DIRECTORY)
    return 1;
  LogEvent("folder \"%s\": not a plain directory, not used", folder);
  return 0;
}

// The running installer's own file cannot be deleted (Windows answers access denied) but can
// be renamed: it leaves for a unique name in that folder, and Windows deletes it there at the
// restart. Never loaded again, it keeps the removal from waiting for the restart. The deletion
// is recorded before the move, so that no cut leaves the program there for good; the move
// replaces nothing, so the name taken is given up first. Returns 1 when the file is out of
// the way.
static int MoveOutOfTheWay(const char* path) {
  char folder[PATH_BUFFER_SIZE];
  if (!OpenRemovedFolder(folder)) {
    LogEvent("move \"%s\" out: no folder for it", path);
    return 0;
  }
  char copy[PATH_BUFFER_SIZE];  // GetTempFileNameA writes up to MAX_PATH bytes
  if (!GetTempFileNameA(folder, "tvx", 0, copy)) {
    LogEvent("move \"%s\" out: no name in \"%s\" (error %lu)", path, folder,
             (unsigned long)GetLastError());
    return 0;
  }
  if (!RecordRestartMove(copy, NULL)) {
    DWORD error = GetLastError();
    DeleteFileA(copy);  // the empty file the name was taken with
    LogEvent("move \"%s\" out: the deletion of \"%s\" not recorded (error %lu)", path, copy,
             (unsigned long)error);
    return 0;
  }
  // Should the move fail, the name stays recorded for the restart, in a folder only
  // administrators write.
  if (!DeleteFileA(copy) || !MoveFileExA(path, copy, 0)) {
    LogEvent("move \"%s\" to \"%s\": error %lu", path, copy, (unsigned long)GetLastError());
    return 0;
  }
  LogEvent("delete \"%s\": in use, moved to \"%s\", which is deleted at the restart", path,
           copy);
  return 1;
}

// `movable`: the file may be the running installer, which goes out of the way instead.
static int DeleteNow(const char* path, int movable) {
  if (DeleteFileA(path)) {
    LogEvent("delete \"%s\": deleted", path);
    return REMOVE_OK;
  }
  DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    // A read-only file is deleted once its attributes are cleared.
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileA(path)) {
      LogEvent("delete \"%s\": deleted after clearing its attributes", path);
      return REMOVE_OK;
    }
    error = GetLastError();
  }
  if (IsMissing(error)) {
    LogEvent("delete \"%s\": not there", path);
    return REMOVE_OK;
  }
  if (movable && error == ERROR_ACCESS_DENIED && MoveOutOfTheWay(path)) return REMOVE_OK;
  return DeleteAtRestart(path, error);
}

// Deletes the file now (its deletion recorded for the restart when it is in use), and first
// makes sure that nothing recorded for the restart puts it back.
static int DeleteInstalledFile(const char* dir, const char* name, int movable) {
  char path[PATH_BUFFER_SIZE];
  // A cut-off path would name some other file.
  if (!CopyText(path, sizeof path, dir) || !AppendText(path, sizeof path, name)) {
    LogEvent("delete \"%s%s\": path too long", dir, name);
    return REMOVE_FAILED;
  }
  int kept = KeepRemovedAcrossRestart(path);
  // What cannot be followed leaves the software whole: nothing deleted, nothing recorded.
  if (kept == REMOVE_FAILED && !MayRecordForRestart()) return REMOVE_FAILED;
  int deleted = DeleteNow(path, movable);
  return kept > deleted ? kept : deleted;
}

// The driver directory goes when it is empty. When it still holds package files that go at the
// restart (the running installer among them), or it is in use now, it goes at the restart too.
static int RemoveDriverDirectory(const char* dir, int filesLeftForRestart) {
  if (RemoveDirectoryA(dir)) {
    LogEvent("remove directory \"%s\": removed", dir);
    return REMOVE_OK;
  }
  DWORD error = GetLastError();
  if (IsMissing(error)) {
    LogEvent("remove directory \"%s\": not there", dir);
    return REMOVE_OK;
  }
  if (error == ERROR_DIR_NOT_EMPTY && !filesLeftForRestart) {
    LogEvent("remove directory \"%s\": kept, it is not empty", dir);
    return REMOVE_OK;
  }
  return DeleteAtRestart(dir, error);
}

// The removal's result is its worst step: a failure outweighs a restart, a restart success.
static void FoldStep(int* result, int step) {
  if (step > *result) *result = step;
}

int RemoveDriverSoftware(void) {
  LogEvent("removal: the service tool's remove run, then the files");
  RunServiceToolFrom("ktaspsvc.exe", "-remove", 0);
  int toolRefused = ServiceToolRefused();
  // The running program's own file is let go: run from the driver directory, it moves out of
  // the way, which its open handle would refuse.
  CloseRunningProgramFile();
  ReadRestartOperations();

  char systemDir[PATH_BUFFER_SIZE];
  if (!ReadSystemDir(systemDir)) {
    LogEvent("removal: system directory unusable, nothing deleted");
    return REMOVE_FAILED;
  }
  char placeDir[PATH_BUFFER_SIZE];
  char driverDir[PATH_BUFFER_SIZE];
  char driverDirName[PATH_BUFFER_SIZE];
  BuildDriverDir(driverDir, systemDir);
  BuildDriverDirCompare(driverDirName, systemDir);

  int result = REMOVE_OK;
  for (int k = 0; k < PlacementCount(); k++) {
    const PackageEntry& file = PackageFiles[PlacedFile(k)];
    PlaceDir(file.place, systemDir, placeDir);
    FoldStep(&result, DeleteInstalledFile(placeDir, MessageTable[file.placedName], 0));
  }

  int leftForRestart = 0;
  for (int i = 0; i < PackageFileCount; i++) {
    int step = DeleteInstalledFile(driverDir, PackageFileName(i),
                                   PackageFiles[i].kind == FILE_INSTALLER);
    if (step == REMOVE_REBOOT) leftForRestart = 1;
    FoldStep(&result, step);
  }
  FoldStep(&result, RemoveDriverDirectory(driverDirName, leftForRestart));
  // A removal whose remove run a signed package refused fails; its entry stays for another.
  if (toolRefused) FoldStep(&result, REMOVE_FAILED);
  // Last, so that a removal that failed still shows the software and its uninstall command.
  if (result != REMOVE_FAILED && !DeleteUninstallEntry()) result = REMOVE_FAILED;
  LogEvent("removal result %d", result);
  return result;
}

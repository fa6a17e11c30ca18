// Removal of the installed software: the service tool removes its installation, then every file
// the installation placed is deleted, or, when that cannot be done now, deleted by Windows at
// the next restart. Only the package's own names are touched: other files, and a driver
// directory that still holds them, stay.
#include "../platform/console.h"
#include "../platform/win32.h"
#include "../setup/log.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../setup/text.h"
#include "actions.h"

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
  if (MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    LogEvent("delete \"%s\": error %lu, deleted at the restart", path, (unsigned long)error);
    return REMOVE_REBOOT;
  }
  LogEvent("delete \"%s\": error %lu, and not scheduled for the restart: error %lu", path,
           (unsigned long)error, (unsigned long)GetLastError());
  return REMOVE_FAILED;
}

static int DeleteNow(const char* path) {
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
  return DeleteAtRestart(path, error);
}

// Deletes the file now (its deletion recorded for the restart when it is in use), and first
// makes sure that nothing recorded for the restart puts it back.
static int DeleteInstalledFile(const char* dir, const char* name) {
  char path[PATH_BUFFER_SIZE];
  // A cut-off path would name some other file.
  if (!CopyText(path, sizeof path, dir) || !AppendText(path, sizeof path, name)) {
    LogEvent("delete \"%s%s\": path too long", dir, name);
    return REMOVE_FAILED;
  }
  int kept = KeepRemovedAcrossRestart(path);
  int deleted = DeleteNow(path);
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
  RunServiceTool("ktaspsvc.exe", "-remove");
  ReadRestartOperations();

  char systemDir[PATH_BUFFER_SIZE];
  if (!ReadSystemDir(systemDir)) {
    LogEvent("removal: system directory unusable, nothing deleted");
    return REMOVE_FAILED;
  }
  char systemDirSep[PATH_BUFFER_SIZE];
  char wow64Dir[PATH_BUFFER_SIZE];
  char driverDir[PATH_BUFFER_SIZE];
  char driverDirName[PATH_BUFFER_SIZE];
  BuildSystemDirWithSeparator(systemDirSep, systemDir);
  BuildWow64Dir(wow64Dir, systemDir);
  BuildDriverDir(driverDir, systemDir);
  BuildDriverDirCompare(driverDirName, systemDir);

  int result = REMOVE_OK;
  const int fromSystemDir[3] = {MSG_FILE_LIBRARY, MSG_FILE_REMOTE_TOOL, MSG_FILE_SERVICE_TOOL};
  for (int i = 0; i < 3; i++) {
    FoldStep(&result, DeleteInstalledFile(systemDirSep, MessageTable[fromSystemDir[i]]));
  }
  FoldStep(&result, DeleteInstalledFile(wow64Dir, MessageTable[MSG_FILE_LIBRARY]));

  int leftForRestart = 0;
  for (int i = 0; i < 5; i++) {
    int step = DeleteInstalledFile(driverDir, MessageTable[PackageFiles[i]]);
    if (step == REMOVE_REBOOT) leftForRestart = 1;
    FoldStep(&result, step);
  }
  FoldStep(&result, RemoveDriverDirectory(driverDirName, leftForRestart));
  LogEvent("removal result %d", result);
  return result;
}

// The reads of the system and Windows directories.
#include "system_dirs.h"

#include "../platform/win32.h"

int ReadSystemDir(char* systemDir) {
  systemDir[0] = '\0';
  UINT length = GetSystemDirectoryA(systemDir, PATH_BUFFER_SIZE);
  return length > 0 && length < SYSTEM_DIR_LIMIT;
}

int ReadWindowsDir(char* windowsDir) {
  windowsDir[0] = '\0';
  UINT length = GetSystemWindowsDirectoryA(windowsDir, PATH_BUFFER_SIZE);
  return length > 0 && length < SYSTEM_DIR_LIMIT;
}

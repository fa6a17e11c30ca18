// The run log as the run opens it: with the package's file names refused as its name, since a
// log there would be rotated away or written into, then staged or placed as the package's own.
#include "../actions/package.h"
#include "../platform/run_state.h"
#include "../support/log.h"
#include "messages.h"
#include "setup.h"

void OpenRunLog(const char* path) {
  RUN_STATE static const char* names[PACKAGE_FILES_LIMIT];
  for (int i = 0; i < PackageFileCount; i++) names[i] = MessageTable[PackageFiles[i].name];
  LogRefuseNames(names, PackageFileCount);
  LogOpen(path);
}

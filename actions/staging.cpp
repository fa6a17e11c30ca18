// Reading the system's directories, staging of the package into the driver directory and the
// refresh of the tools that an old tool's remove run takes away.
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "../support/security.h"
#include "../support/system_dirs.h"
#include "../support/text.h"
#include "actions.h"
#include "restart.h"

int StageDriverPackage(void) {
  char systemDir[PATH_BUFFER_SIZE];
  if (!ReadSystemDir(systemDir)) return COPY_OK;
  ReadRestartOperations();
  char driverDir[PATH_BUFFER_SIZE];
  BuildDriverDir(driverDir, systemDir);
  // Already there on a repeated installation; any other failure shows as failed copies. Made
  // here, it takes nothing from a parent others may have loosened.
  AdminsOnly security;
  if (MakeAdminsFolder(&security)) CreateDirectoryA(driverDir, &security.attributes);
  FreeAdminsOnly(&security);

  char stagingSource[PATH_BUFFER_SIZE];
  CopyText(stagingSource, sizeof stagingSource, SourceDir);
  AppendText(stagingSource, sizeof stagingSource, "\\");
  LogEvent("staging the package from \"%s\" into \"%s\"", stagingSource, driverDir);
  int refusals = RestartRefusals(), links = PackageFilesRefused;
  for (int i = 0; i < PackageFileCount; i++) {
    const char* name = PackageFileName(i);
    CopyPackageFile(stagingSource, driverDir, name, name, Unattended, 1);
  }
  // A package file that is a link is no package file: the run does not go on without it.
  if (PackageFilesRefused != links) {
    LogEvent("staging: a package file is a link or has another name");
    return COPY_FAILED;
  }
  if (RestartRefusals() == refusals) return COPY_OK;
  LogEvent("staging: the restart would undo a staged file");
  return COPY_FAILED;
}

void RefreshServiceTools(void) {
  char systemDir[PATH_BUFFER_SIZE];
  if (!ReadSystemDir(systemDir)) return;
  char driverDir[PATH_BUFFER_SIZE];
  BuildDriverDir(driverDir, systemDir);
  LogEvent("refreshing the service tools from the driver directory");
  for (int i = 0; i < PackageFileCount; i++) {
    const PackageEntry& file = PackageFiles[i];
    if (!file.refreshed) continue;
    char placeDir[PATH_BUFFER_SIZE];
    PlaceDir(file.place, systemDir, placeDir);
    CopyDriverFileAs(driverDir, placeDir, MessageTable[file.name], MessageTable[file.placedName],
                     Unattended);
  }
}

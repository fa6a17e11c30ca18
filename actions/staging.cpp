// The package file set, the directory strings built from the system directory, staging of
// the package into the driver directory and the refresh of the two service tools.
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "../support/security.h"
#include "../support/system_dirs.h"
#include "../support/text.h"
#include "actions.h"

const int SystemDirFiles[3] = {MSG_FILE_LIBRARY, MSG_FILE_REMOTE_TOOL, MSG_FILE_SERVICE_TOOL};

static void JoinDir(char* out, const char* first, const char* second) {
  CopyText(out, PATH_BUFFER_SIZE, first);
  AppendText(out, PATH_BUFFER_SIZE, second);
}

void BuildDriverDir(char* out, const char* systemDir) {
  JoinDir(out, systemDir, MessageTable[MSG_DRIVER_DIR]);
}

void BuildDriverDirCompare(char* out, const char* systemDir) {
  JoinDir(out, systemDir, MessageTable[MSG_DRIVER_DIR_NAME]);
}

void BuildSystemDirWithSeparator(char* out, const char* systemDir) {
  JoinDir(out, systemDir, "\\");
}

void BuildWow64Dir(char* out, const char* systemDir) {
  JoinDir(out, systemDir, MessageTable[MSG_WOW64_DIR]);
}

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
  JoinDir(stagingSource, SourceDir, "\\");
  LogEvent("staging the package from \"%s\" into \"%s\"", stagingSource, driverDir);
  int refusals = RestartRefusals(), links = PackageFilesRefused;
  for (int i = 0; i < PackageFileCount; i++) {
    const char* name = MessageTable[PackageFiles[i].name];
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
  char systemDirSep[PATH_BUFFER_SIZE];
  BuildDriverDir(driverDir, systemDir);
  BuildSystemDirWithSeparator(systemDirSep, systemDir);
  LogEvent("refreshing the service tools from the driver directory");
  CopyDriverFile(driverDir, systemDirSep, MessageTable[MSG_FILE_REMOTE_TOOL], Unattended);
  CopyDriverFile(driverDir, systemDirSep, MessageTable[MSG_FILE_SERVICE_TOOL], Unattended);
}

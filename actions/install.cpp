// The installation sequence: the service tools' remove runs, legacy service removal, the
// placement of the libraries and tools, and the service tool's install run.
#include "../platform/console.h"
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/system_dirs.h"
#include "actions.h"
#include "restart.h"

static int FoldCopyResult(int result, int copyResult) {
  if (copyResult == COPY_FAILED) return INSTALL_FAILED;
  if (copyResult == COPY_PENDING_REBOOT && result != INSTALL_FAILED) return INSTALL_REBOOT;
  return result;
}

static void TraceDirectories(const char* source, const char* dest) {
  if (!DebugTrace || !ShowMessages) return;
  ConsolePrint("lpBuffer = >%s<\n", source);
  ConsolePrint("lpBuffr2 = >%s<\n", dest);
}

int InstallDriverSoftware(void) {
  ReadRestartOperations();
  if (RunServiceTool("ktawdrsv.exe", "-remove")) RefreshServiceTools();

  int result = RemoveLegacyServices() ? INSTALL_REBOOT : INSTALL_OK;

  if (RunServiceTool("ktaspsvc.exe", "-remove")) RefreshServiceTools();

  char systemDir[PATH_BUFFER_SIZE];
  char driverDir[PATH_BUFFER_SIZE];
  char placeDir[PATH_BUFFER_SIZE];
  if (!ReadSystemDir(systemDir)) {
    // Nothing can be placed; the install run could not start either.
    return INSTALL_FAILED;
  }
  BuildDriverDir(driverDir, systemDir);
  int tracedPlace = PLACE_NOWHERE;
  for (int k = 0; k < PlacementCount(); k++) {
    const PackageEntry& file = PackageFiles[PlacedFile(k)];
    PlaceDir(file.place, systemDir, placeDir);
    // Traced once for each directory, as its placements begin.
    if (file.place != tracedPlace) TraceDirectories(driverDir, placeDir);
    tracedPlace = file.place;
    result = FoldCopyResult(result, CopyDriverFileAs(driverDir, placeDir, MessageTable[file.name],
                                                     MessageTable[file.placedName], Unattended));
  }

  // How the install run goes does not change the result.
  RunServiceTool("ktaspsvc.exe", "-install -TVX2");
  // An installation whose install run a signed package refused is not installed.
  if (ServiceToolRefused()) result = INSTALL_FAILED;
  // A staged or refreshed file placed again through the restart needs it as much.
  if (RestartReplacementsRecorded() && result == INSTALL_OK) result = INSTALL_REBOOT;
  return result;
}

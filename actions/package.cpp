// The package's table.
#include "package.h"

#include "../setup/messages.h"

const PackageEntry PackageFiles[] = {
    {MSG_FILE_SETUP, PLACE_NOWHERE, MSG_FILE_SETUP, FILE_INSTALLER, 0},
    {MSG_FILE_LIBRARY, PLACE_SYSTEM, MSG_FILE_LIBRARY, FILE_LIBRARY, 0},
    {MSG_FILE_LIBRARY32, PLACE_WOW64, MSG_FILE_LIBRARY, FILE_LIBRARY, 0},
    {MSG_FILE_REMOTE_TOOL, PLACE_SYSTEM, MSG_FILE_REMOTE_TOOL, FILE_TOOL, 1},
    {MSG_FILE_SERVICE_TOOL, PLACE_SYSTEM, MSG_FILE_SERVICE_TOOL, FILE_SERVICE_TOOL, 1},
};
const int PackageFileCount = (int)(sizeof PackageFiles / sizeof PackageFiles[0]);
static_assert(sizeof PackageFiles / sizeof PackageFiles[0] <= PACKAGE_FILES_LIMIT,
              "the package outgrows its fixed tables");

int PlacementCount(void) {
  int count = 0;
  for (int i = 0; i < PackageFileCount; i++)
    if (PackageFiles[i].place != PLACE_NOWHERE) count++;
  return count;
}

int PlacedFile(int k) {
  for (int place = PLACE_SYSTEM; place <= PLACE_WOW64; place++)
    for (int i = 0; i < PackageFileCount; i++)
      if (PackageFiles[i].place == place && k-- == 0) return i;
  return -1;
}

int PackageIndexOf(int name) {
  for (int i = 0; i < PackageFileCount; i++)
    if (PackageFiles[i].name == name) return i;
  return -1;
}

// The package's table, and the directories its files go to.
#include "package.h"

#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/text.h"
#include "release.h"

// constexpr, so that the build can count its rows (the declaration in package.h gives it its
// name outside this file).
constexpr PackageEntry PackageFiles[] = {
    {MSG_FILE_SETUP, PLACE_NOWHERE, MSG_FILE_SETUP, FILE_INSTALLER, 0},
    {MSG_FILE_LIBRARY, PLACE_SYSTEM, MSG_FILE_LIBRARY, FILE_LIBRARY, 0},
    {MSG_FILE_LIBRARY32, PLACE_WOW64, MSG_FILE_LIBRARY, FILE_LIBRARY, 0},
    {MSG_FILE_REMOTE_TOOL, PLACE_SYSTEM, MSG_FILE_REMOTE_TOOL, FILE_TOOL, 1},
    {MSG_FILE_SERVICE_TOOL, PLACE_SYSTEM, MSG_FILE_SERVICE_TOOL, FILE_SERVICE_TOOL, 1},
};
const int PackageFileCount = (int)(sizeof PackageFiles / sizeof PackageFiles[0]);
static_assert(sizeof PackageFiles / sizeof PackageFiles[0] <= PACKAGE_FILES_LIMIT,
              "the package outgrows its fixed tables");

// The release's manifest has a row for every file but SETUP.EXE.
static constexpr int FilesBesidesInstaller(void) {
  int count = 0;
  for (const PackageEntry& file : PackageFiles) count += file.kind != FILE_INSTALLER;
  return count;
}
static_assert(FilesBesidesInstaller() <= MANIFEST_ROWS, "the manifest has no row for a file");

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

int PackageFileOfKind(int kind) {
  for (int i = 0; i < PackageFileCount; i++)
    if (PackageFiles[i].kind == kind) return i;
  return -1;
}

const char* PackageFileName(int i) { return MessageTable[PackageFiles[i].name]; }

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

void PlaceDir(int place, const char* systemDir, char* out) {
  if (place == PLACE_SYSTEM) BuildSystemDirWithSeparator(out, systemDir);
  else if (place == PLACE_WOW64) BuildWow64Dir(out, systemDir);
  else BuildDriverDir(out, systemDir);
}

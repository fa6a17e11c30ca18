// The package: one row for each file SETUP.EXE is shipped with. Staging, placement, removal,
// restart bookkeeping, verification, the manifest and signature checks and the uninstall entry
// all go by this table; adding a file is one row here and its name in the catalogue.
#ifndef ACTIONS_PACKAGE_H
#define ACTIONS_PACKAGE_H

// Where the installation places a staged file (beside keeping it in the driver directory).
#define PLACE_NOWHERE 0  // the driver directory only
#define PLACE_SYSTEM 1   // the system directory
#define PLACE_WOW64 2    // the 32-bit system directory (Wow64Dir)

// What a package file is.
#define FILE_INSTALLER 0  // SETUP.EXE itself
#define FILE_LIBRARY 1
#define FILE_TOOL 2          // a program placed for others to run
#define FILE_SERVICE_TOOL 3  // the program the run itself starts

struct PackageEntry {
  int name;        // catalogue number of its name in the package and the driver directory
  int place;       // PLACE_...
  int placedName;  // catalogue number of the name it is placed under
  int kind;        // FILE_...
  int refreshed;   // copied again by the tool refresh, when an old tool has removed itself
};

// Room for the package in fixed tables; package.cpp holds the table to this.
#define PACKAGE_FILES_LIMIT 8
extern const PackageEntry PackageFiles[];
extern const int PackageFileCount;

// The placements in the order the installation makes them: the system directory's in table
// order, then the 32-bit directory's. PlacedFile(k) is the table index of the k-th, or -1.
int PlacementCount(void);
int PlacedFile(int k);
// The table index of the file with catalogue number `name`, or -1.
int PackageIndexOf(int name);
// The table index of the first file of that kind (FILE_...), or -1.
int PackageFileOfKind(int kind);
// The name of the file at table index i, as the package and the driver directory hold it.
const char* PackageFileName(int i);

// The package's directories, built from the system directory as GetSystemDirectoryA gives it,
// into buffers of PATH_BUFFER_SIZE bytes: the driver directory with its separator and without
// it, the system directory with its separator, and the 32-bit system directory.
void BuildDriverDir(char* out, const char* systemDir);
void BuildDriverDirCompare(char* out, const char* systemDir);
void BuildSystemDirWithSeparator(char* out, const char* systemDir);
void BuildWow64Dir(char* out, const char* systemDir);
// The directory of a place (PLACE_NOWHERE: the driver directory), with its separator.
void PlaceDir(int place, const char* systemDir, char* out);

#endif

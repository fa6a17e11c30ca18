// The uninstall entry: what Programs and Features, inventory tools and deployment agents read
// to know that the software is installed, which version, and how to remove it. The
// installation writes it once the software is in place; the removal deletes it last.
#include <stdio.h>
#include <string.h>

#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "../support/system_dirs.h"
#include "../support/text.h"
#include "../support/version.h"
#include "actions.h"

// The size of a file of the package in a directory; 0 when it is not there.
static unsigned long long FileBytes(const char* dir, int name) {
  char path[PATH_BUFFER_SIZE];
  if (!CopyText(path, sizeof path, dir) || !AppendText(path, sizeof path, MessageTable[name]))
    return 0;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  unsigned long long bytes = 0;
  if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    bytes = ((unsigned long long)found.nFileSizeHigh << 32) | found.nFileSizeLow;
  FindClose(search);
  return bytes;
}

// What the installation placed, in kilobytes rounded up: the package in the driver directory
// and the copies in the system directories, as they are now.
static DWORD PlacedKilobytes(const char* systemDir) {
  char dir[PATH_BUFFER_SIZE];
  BuildDriverDir(dir, systemDir);
  unsigned long long bytes = 0;
  for (int i = 0; i < PackageFileCount; i++) bytes += FileBytes(dir, PackageFiles[i].name);
  for (int k = 0; k < PlacementCount(); k++) {
    const PackageEntry& file = PackageFiles[PlacedFile(k)];
    PlaceDir(file.place, systemDir, dir);
    bytes += FileBytes(dir, file.placedName);
  }
  unsigned long long kilobytes = (bytes + 1023) / 1024;
  return kilobytes > 0xFFFFFFFFULL ? 0xFFFFFFFFUL : (DWORD)kilobytes;
}

struct EntryValue {
  const char* name;
  const char* text;  // a REG_SZ value, or null for a REG_DWORD
  DWORD number;
};

LSTATUS SetRegistryValue(HKEY key, const char* name, DWORD type, const char* text, DWORD number) {
  if (text) return RegSetValueExA(key, name, 0, type, (const BYTE*)text, (DWORD)strlen(text) + 1);
  return RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE*)&number, sizeof number);
}

int WriteUninstallEntry(void) {
  char systemDir[PATH_BUFFER_SIZE];
  if (!ReadSystemDir(systemDir)) {
    LogEvent("uninstall entry: system directory unusable, not written");
    return 0;
  }
  char location[PATH_BUFFER_SIZE];
  BuildDriverDirCompare(location, systemDir);
  char uninstall[PATH_BUFFER_SIZE];
  char quiet[PATH_BUFFER_SIZE];
  const char* installer = PackageFileName(PackageFileOfKind(FILE_INSTALLER));
  int fits = CopyText(uninstall, sizeof uninstall, "\"") &&
             AppendText(uninstall, sizeof uninstall, location) &&
             AppendText(uninstall, sizeof uninstall, "\\") &&
             AppendText(uninstall, sizeof uninstall, installer) &&
             AppendText(uninstall, sizeof uninstall, "\" -U") &&
             CopyText(quiet, sizeof quiet, uninstall) && AppendText(quiet, sizeof quiet, " -N");
  if (!fits) {
    LogEvent("uninstall entry: driver directory too long, not written");
    return 0;
  }
  SYSTEMTIME now;
  GetLocalTime(&now);
  char date[16];
  snprintf(date, sizeof date, "%04u%02u%02u", (unsigned)now.wYear % 10000u,
           (unsigned)now.wMonth % 100u, (unsigned)now.wDay % 100u);
  DWORD kilobytes = PlacedKilobytes(systemDir);

  // The version goes last: a detection rule that reads it sees the new one only once the
  // entry is whole.
  const EntryValue values[] = {
      {"DisplayName", UNINSTALL_DISPLAY_NAME, 0},
      {"Publisher", UNINSTALL_PUBLISHER, 0},
      {"InstallLocation", location, 0},
      {"InstallDate", date, 0},
      {"UninstallString", uninstall, 0},
      {"QuietUninstallString", quiet, 0},
      {"NoModify", 0, 1},
      {"NoRepair", 0, 1},
      {"EstimatedSize", 0, kilobytes},
      {"VersionMajor", 0, SETUP_VERSION_MAJOR},
      {"VersionMinor", 0, SETUP_VERSION_MINOR},
      {"DisplayVersion", SETUP_VERSION, 0},
  };

  HKEY key;
  DWORD disposition = 0;
  LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, NULL,
                                   REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                   NULL, &key, &disposition);
  if (status != ERROR_SUCCESS) {
    LogEvent("uninstall entry \"HKLM\\%s\": not created (error %ld)", UNINSTALL_KEY,
             (long)status);
    return 0;
  }
  int created = disposition == REG_CREATED_NEW_KEY;
  for (const EntryValue& v : values) {
    status = SetRegistryValue(key, v.name, v.text ? REG_SZ : REG_DWORD, v.text, v.number);
    if (status != ERROR_SUCCESS) {
      LogEvent("uninstall entry \"HKLM\\%s\": value %s not written (error %ld)", UNINSTALL_KEY,
               v.name, (long)status);
      RegCloseKey(key);
      // A half entry of this run's own would show the software as installed: it goes again.
      // An older entry stays, its version unchanged.
      if (created) {
        status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
        LogEvent("uninstall entry: the new key %s (error %ld)",
                 status == ERROR_SUCCESS ? "deleted again" : "could not be deleted again",
                 (long)status);
      }
      return 0;
    }
  }
  RegCloseKey(key);
  LogEvent("uninstall entry \"HKLM\\%s\": %s, version %s, %lu KB", UNINSTALL_KEY,
           created ? "created" : "rewritten", SETUP_VERSION, (unsigned long)kilobytes);
  return 1;
}

int DeleteUninstallEntry(void) {
  LSTATUS status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
  if (status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND) {
    LogEvent("uninstall entry \"HKLM\\%s\": %s", UNINSTALL_KEY,
             status == ERROR_SUCCESS ? "deleted" : "not there");
    return 1;
  }
  LogEvent("uninstall entry \"HKLM\\%s\": not deleted (error %ld)", UNINSTALL_KEY, (long)status);
  return 0;
}

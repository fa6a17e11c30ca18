// The installation decision: the path from the state of the card, and the outcome as
// catalogue messages and an exit code.
#include <string.h>

#include "../actions/actions.h"
#include "../detect/detect.h"
#include "../platform/win32.h"
#include "../support/log.h"
#include "../support/text.h"
#include "decision.h"
#include "messages.h"
#include "setup.h"

// Whole strings compared without case, one trailing backslash on dir not counting.
static int IsDriverDir(const char* dir, const char* driverDir) {
  size_t len = strlen(dir);
  if (len > 0 && dir[len - 1] == '\\') len--;
  return len == strlen(driverDir) && CompareTextNoCase(dir, driverDir, len) == 0;
}

// The package is staged unless the installer was started from the driver directory itself.
// The full path that SourceDir resolves to is compared, so that a start by bare name or by a
// relative path from inside the driver directory is seen too; when it cannot be resolved,
// SourceDir is compared as it stands.
static int StartedFromDriverDir(const char* systemDir) {
  char driverDir[PATH_BUFFER_SIZE];
  BuildDriverDirCompare(driverDir, systemDir);
  char fullSource[PATH_BUFFER_SIZE];
  DWORD len = GetFullPathNameA(SourceDir, sizeof fullSource, fullSource, NULL);
  if (len == 0 || len >= sizeof fullSource) return IsDriverDir(SourceDir, driverDir);
  return IsDriverDir(fullSource, driverDir);
}

// Returns 0 when the restart would undo a staged file: the run then fails.
static int StageUnlessInDriverDir(const char* systemDir) {
  if (!StartedFromDriverDir(systemDir)) return StageDriverPackage() != COPY_FAILED;
  LogEvent("staging skipped: started from the driver directory");
  return 1;
}

// The installation, then its uninstall entry: software that inventory and agents cannot see
// counts as not installed, so an entry that cannot be written fails the run. A staged file that
// the restart undoes (the entry's own SETUP.EXE among them) fails it before anything else.
static int InstallAndLog(int staged, const char* systemDir) {
  // A signed package installs only when every staged file is as its signer signed it; one that
  // is not goes from the driver directory also when the run fails for another reason.
  int packageSigned = CheckPackageSignatures(systemDir);
  if (!staged) {
    LogEvent("installation sequence not started: the staged package would not outlast the restart");
    return INSTALL_FAILED;
  }
  if (!packageSigned) return INSTALL_FAILED;
  int result = InstallDriverSoftware();
  LogEvent("installation sequence result %d (%s)", result,
           result == INSTALL_OK ? "complete" : result == INSTALL_REBOOT ? "restart needed" : "failed");
  if (result != INSTALL_FAILED && !WriteUninstallEntry()) result = INSTALL_FAILED;
  return result;
}

int DecideInstallation(const char* systemDir, int detectOnly, int* restartNeeded) {
  *restartNeeded = 0;
  int usbWorks = FindUsbServiceProcessor();
  LogEvent("HID probe: %s", ForceCode == 'U' ? "skipped, -FU counts the card as found"
                            : usbWorks       ? "the card's HID interface answers"
                                             : "no HID interface of the card");
  if (usbWorks) {
    LogEvent("decision: the card's USB function works, %s", detectOnly ? "detect only" : "installing");
    if (detectOnly) {
      PutMessage(MSG_COMPLETE);
      return EXIT_INSTALLED;
    }
    int staged = StageUnlessInDriverDir(systemDir);
    if (DebugTrace == 1) TracePause("Found USB SP.\n");
    int result = InstallAndLog(staged, systemDir);
    *restartNeeded = result == INSTALL_REBOOT;
    if (result == INSTALL_REBOOT) {
      PutMessage(MSG_COMPLETE);
      PutMessage(MSG_REBOOT);
      return EXIT_REBOOT_REQUIRED;
    }
    if (result == INSTALL_FAILED) {
      PutMessage(MSG_FAILED);
      return EXIT_FAILED;
    }
    PutMessage(MSG_COMPLETE);
    return EXIT_INSTALLED;
  }

  if (!FindExistingDevice()) {
    LogEvent("decision: no device of the card, nothing installed");
    if (DebugTrace == 1) TracePause("Didn't find USB SP.\n");
    PutMessage(MSG_DEVICE_NOT_FOUND);
    PutMessage(MSG_FAILED);
    return EXIT_DEVICE_NOT_FOUND;
  }

  // The card is there but its USB function is not: install anyway, and say how to repair
  // the connection. A needed restart is not printed on this path, nor in the exit code; the
  // caller's log line and event say it.
  LogEvent("decision: the card is present without its USB function, %s",
           detectOnly ? "detect only" : "installing anyway");
  if (DebugTrace == 1) TracePause("Found Vorrin but NO DRIVER.\n");
  if (!detectOnly) {
    int result = InstallAndLog(StageUnlessInDriverDir(systemDir), systemDir);
    if (result == INSTALL_FAILED) {
      PutMessage(MSG_FAILED);
      return EXIT_FAILED;
    }
    *restartNeeded = result == INSTALL_REBOOT;
  }
  PutMessage(MSG_DEVICE_NOT_READY);
  PutMessage(MSG_COMPLETE);
  return EXIT_DEVICE_NOT_READY;
}

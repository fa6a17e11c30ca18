// Main: run options, the source directory, the banner, the system-directory check and the
// closing pause.
#include <string.h>

#include "../platform/console.h"
#include "../platform/win32.h"
#include "decision.h"
#include "messages.h"
#include "setup.h"
#include "text.h"
#include "usage.h"

int Unattended = 0;
char ForceCode = 0;
char SourceDir[SOURCE_DIR_SIZE] = "";

static int IsOption(const char* arg, const char* letter) {
  return (arg[0] == '/' || arg[0] == '-') && strcmp(arg + 1, letter) == 0;
}

// Works out SourceDir from the program path as typed. Returns 0 when the directory does not
// fit SourceDir, which then holds "" rather than a cut-off path.
static int ResolveSourceDir(const char* programPath) {
  char drive[3] = "";
  const char* rest = programPath ? programPath : "";
  if (rest[0] && rest[1] == ':') {
    drive[0] = rest[0];
    drive[1] = ':';
    drive[2] = '\0';
    rest += 2;
  }
  size_t dirLen = 0;
  for (size_t i = 0; rest[i]; i++)
    if (rest[i] == '\\' || rest[i] == '/') dirLen = i + 1;

  if (drive[0] == '\0' && dirLen == 0) return CopyText(SourceDir, sizeof SourceDir, ".");
  // "C:setup" was started from drive C's current directory, not from its root.
  if (dirLen == 0) {
    CopyText(SourceDir, sizeof SourceDir, drive);
    return AppendText(SourceDir, sizeof SourceDir, ".");
  }
  // A network path (\\server\share\) names no drive, and must not be made into one; nor is
  // there a drive to add when the current directory is itself on the network.
  if (drive[0] == '\0' && rest[0] == '\\' && rest[1] != '\\') {
    int currentDrive = _getdrive();
    if (currentDrive >= 1 && currentDrive <= 26) {
      drive[0] = (char)('a' + currentDrive - 1);
      drive[1] = ':';
      drive[2] = '\0';
    }
  }
  size_t driveLen = strlen(drive);
  if (driveLen + dirLen >= sizeof SourceDir) {
    SourceDir[0] = '\0';
    return 0;
  }
  memcpy(SourceDir, drive, driveLen);
  memcpy(SourceDir + driveLen, rest, dirLen);
  SourceDir[driveLen + dirLen] = '\0';
  return 1;
}

int Main(int argc, char** argv) {
  // Nothing of an earlier run in the same process carries over.
  ResetRunState();
  int DetectOnly = 0;

  for (int i = 1; i < argc; i++) {
    char* arg = argv[i];
    UpperText(arg);
    if (IsOption(arg, "?")) {
      PrintUsage();
      return EXIT_INSTALLED;
    }
    if (IsOption(arg, "X") || IsOption(arg, "Q")) Unattended = 1;
    if (IsOption(arg, "D")) DebugTrace = 1;
    if (IsOption(arg, "H")) {
      Unattended = 1;
      DetectOnly = 1;
    }
    if (IsOption(arg, "N")) {
      Unattended = 1;
      ShowMessages = 0;
    }
    if (arg[0] == '-' && arg[1] == 'F') {
      if (arg[2] == 'U') {
        ForceCode = 'U';
        if (ShowMessages == 1) ConsolePrint("Skipping hardware detection - forcing Vorrin.\n");
      } else {
        if (ShowMessages == 1) ConsolePrint("Invalid force code!\n");
        return EXIT_INSTALLED;
      }
    }
  }

  int sourceDirFits = ResolveSourceDir(argc > 0 ? argv[0] : 0);

  ActiveMessages = MessageTable;
  PutMessage(MSG_BANNER);

  int result;
  char systemDir[PATH_BUFFER_SIZE];
  UINT systemDirLen = GetSystemDirectoryA(systemDir, sizeof systemDir);
  if (systemDirLen == 0 || systemDirLen >= SYSTEM_DIR_LIMIT) {
    if (DebugTrace == 1) TracePause("Main - GetSystemDirectory failed.\n");
    PutMessage(MSG_FAILED);
    result = EXIT_FAILED;
  } else if (!sourceDirFits && !DetectOnly) {
    // Staging from a cut-off path would copy the wrong files: stop before touching any. A
    // detect-only run stages nothing, so it goes on.
    if (DebugTrace == 1) TracePause("Main - source directory too long.\n");
    PutMessage(MSG_FAILED);
    result = EXIT_FAILED;
  } else {
    result = DecideInstallation(systemDir, DetectOnly);
  }

  if (Unattended == 0) {
    ConsolePrint("%s", ActiveMessages[MSG_PRESS_ANY_KEY]);
    WaitKey();
  }
  return result;
}

// The run options: the command line, read left to right into the run state, and the
// directory the installer was started from.
#include "options.h"

#include <stdio.h>
#include <string.h>

#include "../platform/console.h"
#include "../platform/win32.h"
#include "../support/text.h"
#include "setup.h"
#include "usage.h"

static int IsOption(const char* arg, const char* letter) {
  return (arg[0] == '/' || arg[0] == '-') && strcmp(arg + 1, letter) == 0;
}

// Works out SourceDir from the program path as typed; see options.h.
int ResolveSourceDir(const char* programPath) {
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

// "/LOG:<file>" or "-LOG:<file>", in any case: the file name as typed, or null.
static const char* LogOption(const char* arg) {
  if ((arg[0] == '/' || arg[0] == '-') && CompareTextNoCase(arg + 1, "LOG:", 4) == 0)
    return arg + 5;
  return 0;
}

// The command line for the log, from the arguments as typed: an argument with a blank in it
// is quoted. A line too long for the buffer is cut.
static void AppendArgument(char* line, size_t size, const char* arg) {
  int quote = strchr(arg, ' ') != 0 || arg[0] == '\0';
  if (line[0]) AppendText(line, size, " ");
  if (quote) AppendText(line, size, "\"");
  AppendText(line, size, arg);
  if (quote) AppendText(line, size, "\"");
}

int ReadOptions(int argc, char** argv, RunOptions* options) {
  memset(options, 0, sizeof *options);
  options->logNameFits = 1;
  char* commandLine = options->commandLine;
  if (argc > 0 && argv[0]) AppendArgument(commandLine, sizeof options->commandLine, argv[0]);

  for (int i = 1; i < argc; i++) {
    char* arg = argv[i];
    AppendArgument(commandLine, sizeof options->commandLine, arg);
    // Taken before the upper-casing, so that the log's name keeps its case.
    if (const char* name = LogOption(arg)) {
      options->logNamed = 1;
      options->logNameFits = CopyText(options->logPath, sizeof options->logPath, name);
    }
    UpperText(arg);
    if (IsOption(arg, "?")) {
      PrintUsage();
      return EXIT_INSTALLED;
    }
    if (IsOption(arg, "U")) options->remove = 1;
    if (IsOption(arg, "V")) {
      Unattended = 1;
      options->verify = 1;
    }
    if (IsOption(arg, "X") || IsOption(arg, "Q")) Unattended = 1;
    if (IsOption(arg, "D")) DebugTrace = 1;
    if (IsOption(arg, "H")) {
      Unattended = 1;
      options->detectOnly = 1;
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
  return OPTIONS_READ;
}

void DescribeOptions(const RunOptions* options, char* text, size_t size) {
  snprintf(text, size, "%s%s%s%s%s%s%s%s", Unattended ? " unattended" : "",
           ShowMessages ? "" : " no-messages", DebugTrace ? " debug" : "",
           options->detectOnly ? " detect-only" : "", ForceCode == 'U' ? " force-U" : "",
           options->remove ? " remove" : "", options->verify ? " verify" : "",
           options->logNamed ? " log-named" : "");
}

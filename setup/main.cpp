// Main: run options, the source directory, the banner, the system-directory check and the
// closing pause.
#include <stdio.h>
#include <string.h>

#include "../actions/actions.h"
#include "../platform/console.h"
#include "../platform/win32.h"
#include "../support/log.h"
#include "../support/text.h"
#include "../support/version.h"
#include "decision.h"
#include "events.h"
#include "lock.h"
#include "messages.h"
#include "run_log.h"
#include "setup.h"
#include "usage.h"

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

static const char* ExitMeaning(int result, int removal, int detectOnly, int verify,
                               int restartNeeded) {
  if (verify && result == EXIT_INSTALLED) return "whole";
  if (verify && result == EXIT_REBOOT_REQUIRED) return "whole once the machine restarts";
  if (verify && result == EXIT_FAILED) return "not whole, or not verified";
  switch (result) {
    case EXIT_INSTALLED:
      return removal ? "removed" : detectOnly ? "the card's USB function works" : "installed";
    case EXIT_REBOOT_REQUIRED:
      return removal ? "removed once the machine restarts" : "installed, a restart is needed";
    case EXIT_FAILED: return "failed";
    case EXIT_DEVICE_NOT_FOUND: return "no device of the card";
    case EXIT_DEVICE_NOT_READY:
      if (detectOnly) return "the card is present but its USB function is not working";
      // The exit code cannot say it on this path: the log and the event do.
      return restartNeeded ? "installed, but the card's USB function is not working; a restart "
                             "is needed to finish"
                           : "installed, but the card's USB function is not working";
    case EXIT_INSTALL_IN_PROGRESS: return "another run held the lock, nothing changed";
  }
  return "unknown";
}

// The removal and its outcome in messages and the exit code.
static int RemoveAndReport(void) {
  PutMessage(MSG_REMOVING);
  int removed = RemoveDriverSoftware();
  if (removed == REMOVE_FAILED) {
    PutMessage(MSG_FAILED);
    return EXIT_FAILED;
  }
  PutMessage(MSG_REMOVED);
  if (removed == REMOVE_REBOOT) {
    PutMessage(MSG_REMOVAL_REBOOT);
    return EXIT_REBOOT_REQUIRED;
  }
  return EXIT_INSTALLED;
}

int Main(int argc, char** argv) {
  // Nothing of an earlier run in the same process carries over.
  ResetRunState();
  int DetectOnly = 0;
  int Remove = 0;
  int Verify = 0;
  char logPath[PATH_BUFFER_SIZE] = "";
  int logNamed = 0, logNameFits = 1;
  char commandLine[LOG_LINE_SIZE] = "";
  if (argc > 0 && argv[0]) AppendArgument(commandLine, sizeof commandLine, argv[0]);

  for (int i = 1; i < argc; i++) {
    char* arg = argv[i];
    AppendArgument(commandLine, sizeof commandLine, arg);
    // Taken before the upper-casing, so that the log's name keeps its case.
    if (const char* name = LogOption(arg)) {
      logNamed = 1;
      logNameFits = CopyText(logPath, sizeof logPath, name);
    }
    UpperText(arg);
    if (IsOption(arg, "?")) {
      PrintUsage();
      return EXIT_INSTALLED;
    }
    if (IsOption(arg, "U")) Remove = 1;
    if (IsOption(arg, "V")) {
      Unattended = 1;
      Verify = 1;
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

  // Before anything is changed or opened by a name from the command line: a name read in
  // the wrong code page is some other file's, so such a run does nothing but say so.
  unsigned codePage = 0;
  int readable = CommandLineReadable(&codePage);
  int sourceDirFits = ResolveSourceDir(argc > 0 ? argv[0] : 0);

  ActiveMessages = MessageTable;
  PutMessage(MSG_BANNER);

  int result;
  char systemDir[PATH_BUFFER_SIZE];
  UINT systemDirLen = GetSystemDirectoryA(systemDir, sizeof systemDir);
  int systemDirUsable = systemDirLen > 0 && systemDirLen < SYSTEM_DIR_LIMIT;

  // A log name too long for its buffer writes no log rather than some other file's. A name
  // from an unreadable command line is not trusted either: that run's lines go to the default
  // log, where its refusal is looked for.
  if (!readable)
    OpenRunLog(0);
  else if (logNameFits)
    OpenRunLog(logNamed ? logPath : 0);
  char options[OPTIONS_TEXT_SIZE];
  snprintf(options, sizeof options, "%s%s%s%s%s%s%s%s", Unattended ? " unattended" : "",
           ShowMessages ? "" : " no-messages", DebugTrace ? " debug" : "",
           DetectOnly ? " detect-only" : "", ForceCode == 'U' ? " force-U" : "",
           Remove ? " remove" : "", Verify ? " verify" : "", logNamed ? " log-named" : "");
  // A verification that finds all whole leaves one line, not the run's every step: hourly
  // checks would otherwise push the installation's own lines out through the rotation.
  if (Verify && !DetectOnly) LogHold();
  LogEvent("start: version %s; command line: %s; options:%s; SourceDir \"%s\"; "
           "system directory \"%s\"%s",
           SETUP_VERSION, commandLine, options, SourceDir, systemDirUsable ? systemDir : "",
           systemDirUsable ? "" : " (unusable)");
  if (Remove && DetectOnly) LogEvent("removal not done: -H detects only");
  // Neither -H nor -V changes anything, whatever else is asked.
  if (Verify && DetectOnly) LogEvent("verification not done: -H detects only");
  if (Verify && Remove && !DetectOnly) LogEvent("removal not done: -V verifies only");
  Verify = Verify && !DetectOnly;
  Remove = Remove && !Verify;
  int verifyFound = 0;
  int restartNeeded = 0;

  // Runs that may change the machine take turns, from here to their end: the lock is taken
  // once the log can record a wait, and before the detection, staging or removal's first step.
  // A verification takes its turn too, so that it never reads a run half done.
  int mayChange = readable && systemDirUsable && !DetectOnly && (Remove || Verify || sourceDirFits);
  // The running program's signature is read before the lock's wait, as near its start as
  // can be: a signed one pins its signer for every package file the run places or starts.
  int signature = mayChange ? ReadOwnSignature() : SIGNATURE_UNSIGNED;
  int lockFree = mayChange ? AcquireSetupLock() : 1;

  if (!readable) {
    LogEvent("command line not readable in code page %u: nothing done", codePage);
    if (DebugTrace == 1) TracePause("Main - command line not readable in the code page.\n");
    PutMessage(MSG_CODE_PAGE);
    PutMessage(MSG_FAILED);
    result = EXIT_FAILED;
  } else if (!systemDirUsable) {
    if (DebugTrace == 1) TracePause("Main - GetSystemDirectory failed.\n");
    PutMessage(MSG_FAILED);
    result = EXIT_FAILED;
  } else if (!lockFree) {
    PutMessage(MSG_LOCK_TIMEOUT);
    result = EXIT_INSTALL_IN_PROGRESS;
  } else if (signature == SIGNATURE_NOT_RUNNING) {
    PutMessage(MSG_NOT_RUNNING_FILE);
    PutMessage(MSG_FAILED);
    result = EXIT_FAILED;
  } else if (signature == SIGNATURE_BROKEN) {
    PutMessageArgs(MSG_NOT_AS_SIGNED, MessageTable[MSG_FILE_SETUP]);
    PutMessage(MSG_FAILED);
    result = EXIT_FAILED;
  } else if (Verify) {
    result = VerifyInstallation(&verifyFound);
  } else if (Remove && !DetectOnly) {
    result = RemoveAndReport();
  } else if (!sourceDirFits && !DetectOnly) {
    // Staging from a cut-off path would copy the wrong files: stop before touching any. A
    // detect-only run stages nothing, so it goes on.
    LogEvent("source directory too long: nothing staged or installed");
    if (DebugTrace == 1) TracePause("Main - source directory too long.\n");
    PutMessage(MSG_FAILED);
    result = EXIT_FAILED;
  } else {
    result = DecideInstallation(systemDir, DetectOnly, &restartNeeded);
  }

  const char* meaning =
      ExitMeaning(result, Remove && !DetectOnly, DetectOnly, Verify, restartNeeded);
  int whole = Verify && result == EXIT_INSTALLED;
  LogRelease(!whole);
  if (whole)
    LogEvent("outcome: exit code %d, %s; version %s; command line: %s", result, meaning,
             SETUP_VERSION, commandLine);
  else
    LogEvent("outcome: exit code %d, %s", result, meaning);
  if (!DetectOnly && (!Verify || verifyFound))
    ReportRunEvent(Verify ? RUN_VERIFICATION : Remove ? RUN_REMOVAL : RUN_INSTALLATION, result,
                   meaning, options, commandLine,
                   !readable || !logNamed ? 0 : logNameFits ? logPath : LOG_NONE);
  // Before the closing pause, which may wait for a key as long as nobody comes.
  ReleaseSetupLock();
  CloseRunningProgramFile();
  LogClose();

  if (Unattended == 0) {
    ConsolePrint("%s", ActiveMessages[MSG_PRESS_ANY_KEY]);
    WaitKey();
  }
  return result;
}

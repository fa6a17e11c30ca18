// Main: the run options, the banner, the system-directory check, the run log, the lock, the
// run that was asked for, its outcome, and the closing pause.
#include <stdio.h>

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
#include "options.h"
#include "run_log.h"
#include "setup.h"

// What Main finds before the run proper, each of which may stop it.
struct RunChecks {
  unsigned codePage;
  int readable;  // the command line reached the installer as typed
  int sourceDirFits;
  char systemDir[PATH_BUFFER_SIZE];
  int systemDirUsable;
  int signature;  // the running program's, read before the lock's wait
  int lockFree;
};

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

// The run log under the name the command line gave, and the run's first line in it.
static void StartRunLog(const RunOptions* run, const RunChecks* checks, const char* options) {
  // A log name too long for its buffer writes no log rather than some other file's. A name
  // from an unreadable command line is not trusted either: that run's lines go to the default
  // log, where its refusal is looked for.
  if (!checks->readable)
    OpenRunLog(0);
  else if (run->logNameFits)
    OpenRunLog(run->logNamed ? run->logPath : 0);
  // A verification that finds all whole leaves one line, not the run's every step: hourly
  // checks would otherwise push the installation's own lines out through the rotation.
  if (run->verify && !run->detectOnly) LogHold();
  LogEvent("start: version %s; command line: %s; options:%s; SourceDir \"%s\"; "
           "system directory \"%s\"%s",
           SETUP_VERSION, run->commandLine, options, SourceDir,
           checks->systemDirUsable ? checks->systemDir : "",
           checks->systemDirUsable ? "" : " (unusable)");
}

// Which one run is done when several are asked for: neither -H nor -V changes anything,
// whatever else is asked.
static void ChooseRun(RunOptions* run) {
  if (run->remove && run->detectOnly) LogEvent("removal not done: -H detects only");
  if (run->verify && run->detectOnly) LogEvent("verification not done: -H detects only");
  if (run->verify && run->remove && !run->detectOnly)
    LogEvent("removal not done: -V verifies only");
  run->verify = run->verify && !run->detectOnly;
  run->remove = run->remove && !run->verify;
}

// Runs that may change the machine take turns, from here to their end: the lock is taken
// once the log can record a wait, and before the detection, staging or removal's first step.
// A verification takes its turn too, so that it never reads a run half done.
static void TakeTurn(const RunOptions* run, RunChecks* checks) {
  int mayChange = checks->readable && checks->systemDirUsable && !run->detectOnly &&
                  (run->remove || run->verify || checks->sourceDirFits);
  // The running program's signature is read before the lock's wait, as near its start as
  // can be: a signed one pins its signer for every package file the run places or starts.
  checks->signature = mayChange ? ReadOwnSignature() : SIGNATURE_UNSIGNED;
  checks->lockFree = mayChange ? AcquireSetupLock() : 1;
}

// The run that was asked for, unless a check stops it first: its exit code.
static int RunChosen(const RunOptions* run, RunChecks* checks, int* verifyFound,
                     int* restartNeeded) {
  if (!checks->readable) {
    LogEvent("command line not readable in code page %u: nothing done", checks->codePage);
    if (DebugTrace == 1) TracePause("Main - command line not readable in the code page.\n");
    PutMessage(MSG_CODE_PAGE);
    PutMessage(MSG_FAILED);
    return EXIT_FAILED;
  }
  if (!checks->systemDirUsable) {
    if (DebugTrace == 1) TracePause("Main - GetSystemDirectory failed.\n");
    PutMessage(MSG_FAILED);
    return EXIT_FAILED;
  }
  if (!checks->lockFree) {
    PutMessage(MSG_LOCK_TIMEOUT);
    return EXIT_INSTALL_IN_PROGRESS;
  }
  if (checks->signature == SIGNATURE_NOT_RUNNING) {
    PutMessage(MSG_NOT_RUNNING_FILE);
    PutMessage(MSG_FAILED);
    return EXIT_FAILED;
  }
  if (checks->signature == SIGNATURE_BROKEN) {
    PutMessageArgs(MSG_NOT_AS_SIGNED, PackageFileName(PackageFileOfKind(FILE_INSTALLER)));
    PutMessage(MSG_FAILED);
    return EXIT_FAILED;
  }
  if (run->verify) return VerifyInstallation(verifyFound);
  if (run->remove && !run->detectOnly) return RemoveAndReport();
  if (!checks->sourceDirFits && !run->detectOnly) {
    // Staging from a cut-off path would copy the wrong files: stop before touching any. A
    // detect-only run stages nothing, so it goes on.
    LogEvent("source directory too long: nothing staged or installed");
    if (DebugTrace == 1) TracePause("Main - source directory too long.\n");
    PutMessage(MSG_FAILED);
    return EXIT_FAILED;
  }
  return DecideInstallation(checks->systemDir, run->detectOnly, restartNeeded);
}

// The outcome in the run log, and in the Application event of a run that changes the machine
// or of a verification that found the installation.
static void ReportOutcome(int result, const RunOptions* run, const RunChecks* checks,
                          const char* options, int verifyFound, int restartNeeded) {
  int removal = run->remove && !run->detectOnly;
  const char* meaning = ExitMeaning(result, removal, run->detectOnly, run->verify, restartNeeded);
  int whole = run->verify && result == EXIT_INSTALLED;
  LogRelease(!whole);
  if (whole)
    LogEvent("outcome: exit code %d, %s; version %s; command line: %s", result, meaning,
             SETUP_VERSION, run->commandLine);
  else
    LogEvent("outcome: exit code %d, %s", result, meaning);
  if (!run->detectOnly && (!run->verify || verifyFound))
    ReportRunEvent(run->verify ? RUN_VERIFICATION : run->remove ? RUN_REMOVAL : RUN_INSTALLATION,
                   result, meaning, options, run->commandLine,
                   !checks->readable || !run->logNamed ? 0
                   : run->logNameFits                  ? run->logPath
                                                       : LOG_NONE);
}

int Main(int argc, char** argv) {
  // Nothing of an earlier run in the same process carries over.
  ResetRunState();
  RunOptions run;
  int stop = ReadOptions(argc, argv, &run);
  if (stop != OPTIONS_READ) return stop;

  // Before anything is changed or opened by a name from the command line: a name read in
  // the wrong code page is some other file's, so such a run does nothing but say so.
  RunChecks checks;
  checks.readable = CommandLineReadable(&checks.codePage);
  checks.sourceDirFits = ResolveSourceDir(argc > 0 ? argv[0] : 0);

  ActiveMessages = MessageTable;
  PutMessage(MSG_BANNER);
  checks.systemDirUsable = ReadSystemDir(checks.systemDir);

  char options[OPTIONS_TEXT_SIZE];
  DescribeOptions(&run, options, sizeof options);
  StartRunLog(&run, &checks, options);
  ChooseRun(&run);
  TakeTurn(&run, &checks);

  int verifyFound = 0;
  int restartNeeded = 0;
  int result = RunChosen(&run, &checks, &verifyFound, &restartNeeded);
  ReportOutcome(result, &run, &checks, options, verifyFound, restartNeeded);

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

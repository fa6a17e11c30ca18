// The guarded copy: every file the installer places goes through CopyDriverFileAs, which
// refuses a missing source, clears the attributes of an existing destination, asks before
// replacing a newer file and, for a destination in use, has Windows replace it at the next
// restart with a copy placed beside it.
#include <string.h>

#include "../platform/console.h"
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "../support/text.h"
#include "actions.h"
#include "restart.h"

#define PROMPT_BUFFER_SIZE 256

static int CopyTraceOn(void) { return DebugTrace == 1 && ShowMessages == 1; }

static void TracePaths(const char* sourcePath, const char* destPath) {
  if (!CopyTraceOn()) return;
  ConsolePrint("CopyFile source = >%s<\n", sourcePath);
  ConsolePrint("CopyFile dest = >%s<\n", destPath);
}

static void LogCopy(const char* sourcePath, const char* destPath, const char* outcome,
                    DWORD error) {
  LogEvent("copy \"%s\" to \"%s\": %s (error %lu)", sourcePath, destPath, outcome,
           (unsigned long)error);
}

// Looks a path up and closes the search at once. Returns 1 when it exists; its last-write
// time goes to *lastWrite when asked for.
static int LookUpFile(const char* path, FILETIME* lastWrite) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == NULL || search == INVALID_HANDLE_VALUE) return 0;
  FindClose(search);
  if (lastWrite) *lastWrite = found.ftLastWriteTime;
  return 1;
}

int CompareFileDates(const char* sourcePath, const char* destPath) {
  FILETIME destTime, sourceTime;
  if (!LookUpFile(destPath, &destTime)) return 1;
  if (!LookUpFile(sourcePath, &sourceTime)) return 1;
  return (int)CompareFileTime(&sourceTime, &destTime);
}

// For a destination in use: writes the checked bytes to a file of a unique name beside the
// destination and has Windows move that copy onto the destination at the next restart. The
// source stays where it is, so the driver directory is still whole after the restart; when
// the copy or the scheduling fails, the copy is deleted again.
static int ReplaceAtRestart(const PackageFile* file, const char* sourcePath,
                            const char* destPath) {
  char destDir[PATH_BUFFER_SIZE];
  CopyText(destDir, sizeof destDir, destPath);
  char* cut = strrchr(destDir, '\\');
  if (cut) cut[1] = '\0';
  else CopyText(destDir, sizeof destDir, ".");
  // Nothing is recorded after lists that cannot be followed (see restart.h).
  if (!MayRecordForRestart()) {
    LogCopy(sourcePath, destPath, "in use, and nothing can be recorded for the restart", 0);
    return COPY_FAILED;
  }
  char copyPath[MAX_PATH];
  if (GetTempFileNameA(destDir, "tvx", 0, copyPath) == 0) {
    LogCopy(sourcePath, destPath, "in use, and no copy could be made beside it", GetLastError());
    return COPY_FAILED;
  }
  // A name whose earlier move is still recorded: that move would carry this copy elsewhere.
  if (CopyNameRecorded(copyPath, destPath)) {
    DeleteFileA(copyPath);
    LogCopy(sourcePath, destPath, "in use, and the copy's name is recorded for another file", 0);
    return COPY_FAILED;
  }
  // A signed package: the copy is what the restart puts in place, so what it was filled from
  // is what is checked.
  if (!RestartCopyPassesSignatureCheck(file, copyPath, destPath)) {
    DeleteFileA(copyPath);
    return COPY_FAILED;
  }
  DWORD error = WriteNewPackageCopy(file, copyPath);
  if (!error && RecordRestartMove(copyPath, destPath)) return COPY_PENDING_REBOOT;
  LogCopy(sourcePath, destPath, "in use, and not scheduled for the restart",
          error ? error : GetLastError());
  DeleteFileA(copyPath);
  return COPY_FAILED;
}

// The copies of ours that earlier runs left waiting to be moved onto the destination at the
// restart are filled with what this run placed, from the bytes it checked, never from a path
// again, so that the move carries that.
static void FillWaitingCopies(const PackageFile* file, int target) {
  char copyPath[PATH_BUFFER_SIZE];
  for (int entry = RestartCopyWaiting(target, 0, copyPath); entry >= 0;
       entry = RestartCopyWaiting(target, entry + 1, copyPath))
    NoteRestartCopyFilled(entry, WritePackageCopy(file, copyPath));
}

// After a copy placed the package's file: what an earlier run or another program recorded for
// the restart may undo it, and the file is then placed again through the restart, after that.
static int KeepPlacedAcrossRestart(const PackageFile* file, const char* sourcePath,
                                   const char* destPath) {
  int target = RestartFileTarget(destPath);
  int read = RestartListsRead();
  if (read && (target < 0 || RestartSettled(target))) return COPY_OK;
  if (read && target >= 0) {
    FillWaitingCopies(file, target);
    if (RestartLeavesPlaced(target)) return COPY_OK;
  }
  if (!MayReplaceAtRestart(target, sourcePath, destPath)) return COPY_FAILED;
  int result = ReplaceAtRestart(file, sourcePath, destPath);
  if (result == COPY_PENDING_REBOOT && target >= 0) {
    NoteReplacedAtRestart(target, 1);
    LogEvent("copy \"%s\" to \"%s\": placed again through the restart, after what it has "
             "recorded", sourcePath, destPath);
  } else {
    NoteRestartRefusal();  // its replacement could not be recorded: the restart undoes the copy
  }
  return result;
}

// For a destination in use.
static int PlaceInUseAtRestart(const PackageFile* file, const char* sourcePath,
                               const char* destPath) {
  int target = RestartFileTarget(destPath);
  if (!MayReplaceAtRestart(target, sourcePath, destPath)) return COPY_FAILED;
  int result = ReplaceAtRestart(file, sourcePath, destPath);
  if (result == COPY_PENDING_REBOOT) NoteReplacedAtRestart(target, 0);
  return result;
}

// The copy of a source that is open and read (see CopyDriverFileAs).
static int CopyOpenedFile(PackageFile* file, const char* sourcePath, const char* destPath,
                          int autoAnswer, int staging) {
  // Cleared before the date test, so that even a kept destination is no longer read-only.
  SetFileAttributesA(destPath, FILE_ATTRIBUTE_NORMAL);

  FILETIME destTime;
  if (LookUpFile(destPath, &destTime)) {
    // The source's time as it was read, not as its path may give it by now.
    int dates = (int)CompareFileTime(&file->lastWrite, &destTime);
    if (dates < 0 && ShowMessages == 1) {
      ConsolePrint("\n");
      PutMessageArgs(MSG_OLDER_THAN, sourcePath, destPath);
      char prompt[PROMPT_BUFFER_SIZE];
      CopyText(prompt, sizeof prompt,
               (ActiveMessages ? ActiveMessages : MessageTable)[MSG_COPY_ANYWAY]);
      if (PromptYesNo(prompt, autoAnswer) == ANSWER_NO) {
        LogCopy(sourcePath, destPath, "kept the newer destination, the user answered n", 0);
        return COPY_OK;
      }
    }
  }

  DWORD error = WritePackageCopy(file, destPath);
  if (!error) {
    LogCopy(sourcePath, destPath, "copied", 0);
    // What an earlier run or another program recorded for the restart may undo the copy.
    int kept = KeepPlacedAcrossRestart(file, sourcePath, destPath);
    if (staging) NoteStagedFile(file);
    return kept;
  }

  if (CopyTraceOn())
    ConsolePrint("CopyFile error on source file = >%s<, err = %x, %x, %x\n", sourcePath,
                 (unsigned)error, (unsigned)ERROR_SHARING_VIOLATION,
                 (unsigned)ERROR_LOCK_VIOLATION);
  if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
    LogCopy(sourcePath, destPath, "failed", error);
    return COPY_FAILED;
  }

  // The destination is in use.
  int replaced = PlaceInUseAtRestart(file, sourcePath, destPath);
  if (replaced == COPY_PENDING_REBOOT) {
    LogCopy(sourcePath, destPath, "in use, scheduled for the restart", error);
    if (staging) NoteStagedFile(file);
  }
  return replaced;
}

// The guarded copy. The source is opened once and read whole (package_file.cpp): the date
// test, the signature check of a signed package, the copy and any copy for the restart all
// take what that one read gave. `staging`: the source is the package as it was handed over.
int CopyPackageFile(const char* sourceDir, const char* destDir, const char* sourceName,
                    const char* destName, int autoAnswer, int staging) {
  char sourcePath[PATH_BUFFER_SIZE];
  char destPath[PATH_BUFFER_SIZE];
  int fits = CopyText(sourcePath, sizeof sourcePath, sourceDir);
  fits &= AppendText(sourcePath, sizeof sourcePath, sourceName);
  fits &= CopyText(destPath, sizeof destPath, destDir);
  fits &= AppendText(destPath, sizeof destPath, destName);
  // A cut-off path would name some other file: touch nothing.
  if (!fits) {
    LogEvent("copy \"%s%s\" to \"%s%s\": failed, path too long", sourceDir, sourceName, destDir,
             destName);
    return COPY_FAILED;
  }

  TracePaths(sourcePath, destPath);
  PackageFile file;
  int after, opened;
  // A signed run copies out of the driver directory what the restart will leave there, as its
  // check judged it: a checked copy of ours waiting to replace a file in use, not that file.
  if (!staging && SignedRun())
    opened = OpenPackageFileAfterRestart(sourcePath, sourceName, &file, &after);
  else
    opened = OpenPackageFile(sourcePath, sourceName, &file);
  if (opened == PACKAGE_MISSING) {
    LogCopy(sourcePath, destPath, "failed, no source", file.error);
    TracePaths(sourcePath, destPath);
    return COPY_FAILED;
  }
  int result = COPY_FAILED;
  if (opened != PACKAGE_OPEN) {
    LogCopy(sourcePath, destPath,
            opened == PACKAGE_REFUSED ? "refused, the source is a link or another file"
                                      : "failed, the source not read",
            file.error);
    if (opened == PACKAGE_REFUSED) PutMessageArgs(MSG_NOT_TAKEN, sourcePath);
    if (staging) NoteStagedOpenFailure(file.name, opened, file.error);
  } else if (PackageFilePasses(&file, sourcePath, staging)) {
    result = CopyOpenedFile(&file, sourcePath, destPath, autoAnswer, staging);
  } else {
    LogCopy(sourcePath, destPath, "refused, the source is not the release's", 0);
  }
  ClosePackageFile(&file);
  return result;
}

int CopyDriverFileAs(const char* sourceDir, const char* destDir, const char* sourceName,
                     const char* destName, int autoAnswer) {
  return CopyPackageFile(sourceDir, destDir, sourceName, destName, autoAnswer, 0);
}

int CopyDriverFile(const char* sourceDir, const char* destDir, const char* name,
                   int autoAnswer) {
  return CopyDriverFileAs(sourceDir, destDir, name, name, autoAnswer);
}

// The guarded copy: every file the installer places goes through CopyDriverFileAs, which
// refuses a missing source, clears the attributes of an existing destination, asks before
// replacing a newer file and, for a destination in use, has Windows replace it at the next
// restart with a copy placed beside it.
#include <string.h>

#include "../platform/console.h"
#include "../platform/win32.h"
#include "../setup/log.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../setup/text.h"
#include "actions.h"

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

// For a destination in use: copies the source to a file of a unique name beside the
// destination and has Windows move that copy onto the destination at the next restart. The
// source stays where it is, so the driver directory is still whole after the restart; when
// the copy or the scheduling fails, the copy is deleted again.
int ReplaceAtRestart(const char* sourcePath, const char* destPath) {
  char destDir[PATH_BUFFER_SIZE];
  CopyText(destDir, sizeof destDir, destPath);
  char* cut = strrchr(destDir, '\\');
  if (cut) cut[1] = '\0';
  else CopyText(destDir, sizeof destDir, ".");
  // Nothing is recorded after lists that cannot be followed (see restart_ops.cpp).
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
  int copied = CopyFileA(sourcePath, copyPath, FALSE);
  // A signed package: the copy is what the restart puts in place, so it is what is checked.
  if (copied && !RestartCopyPassesSignatureCheck(copyPath, destPath)) {
    DeleteFileA(copyPath);
    return COPY_FAILED;
  }
  if (copied &&
      MoveFileExA(copyPath, destPath, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
    return COPY_PENDING_REBOOT;
  LogCopy(sourcePath, destPath, "in use, and not scheduled for the restart", GetLastError());
  DeleteFileA(copyPath);
  return COPY_FAILED;
}

int CopyDriverFileAs(const char* sourceDir, const char* destDir, const char* sourceName,
                     const char* destName, int autoAnswer) {
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
  if (!LookUpFile(sourcePath, NULL)) {
    LogCopy(sourcePath, destPath, "failed, no source", GetLastError());
    TracePaths(sourcePath, destPath);
    return COPY_FAILED;
  }

  // Cleared before the date test, so that even a kept destination is no longer read-only.
  SetFileAttributesA(destPath, FILE_ATTRIBUTE_NORMAL);

  if (LookUpFile(destPath, NULL)) {
    int dates = CompareFileDates(sourcePath, destPath);
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

  if (CopyFileA(sourcePath, destPath, FALSE)) {
    LogCopy(sourcePath, destPath, "copied", 0);
    // What an earlier run or another program recorded for the restart may undo the copy.
    return KeepPlacedAcrossRestart(sourcePath, destPath);
  }

  DWORD error = GetLastError();
  if (CopyTraceOn())
    ConsolePrint("CopyFile error on source file = >%s<, err = %x, %x, %x\n", sourcePath,
                 (unsigned)error, (unsigned)ERROR_SHARING_VIOLATION,
                 (unsigned)ERROR_LOCK_VIOLATION);
  if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION) {
    LogCopy(sourcePath, destPath, "failed", error);
    return COPY_FAILED;
  }

  // The destination is in use.
  int replaced = PlaceInUseAtRestart(sourcePath, destPath);
  if (replaced == COPY_PENDING_REBOOT)
    LogCopy(sourcePath, destPath, "in use, scheduled for the restart", error);
  return replaced;
}

int CopyDriverFile(const char* sourceDir, const char* destDir, const char* name,
                   int autoAnswer) {
  return CopyDriverFileAs(sourceDir, destDir, name, name, autoAnswer);
}

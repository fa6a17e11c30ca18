// What earlier runs, and other programs, recorded for the next restart: the moves and
// deletions that Windows carries out then, in order. A run reads them once, before it acts on
// its files, and keeps those that name the software's own paths, so that what the installation
// places is what the restart leaves, and what the removal deletes does not come back. Entries
// are only ever added (through MoveFileExA), never rewritten or dropped: other programs' stay.
#include <string.h>

#include "../platform/win32.h"
#include "../setup/log.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../setup/text.h"
#include "actions.h"

// The software's paths: the three placements in the system directory, the WOW64 library, the
// five staged files, and the driver directory itself.
#define TARGET_COUNT 10
#define TARGET_WOW64 3
#define TARGET_STAGED 4
#define TARGET_DRIVER_DIR 9
// More entries for the software's paths than this make the list count as unreadable.
#define RESTART_OPS_MAX 32
// A value larger than this is not read (and counts as unreadable); Windows keeps the two lists
// well below it.
#define RESTART_VALUE_LIMIT (2UL * 1024UL * 1024UL)
#define RESTART_READ_TRIES 3

#define LIST_NOT_READ 0
#define LIST_READ 1
#define LIST_UNKNOWN 2  // could not be read whole: anything may be recorded

#define OP_GONE 1  // the path is deleted, or moved away
#define OP_ONTO 2  // something is moved onto the path

// What a path holds once the restart is over.
#define LEFT_AS_RUN 0  // what this run left there (the package's file, or nothing)
#define LEFT_NOTHING 1
#define LEFT_OTHER 2

struct RestartOp {
  int target;
  int kind;
  int replace;
  int secondList;
  int dropped;                     // a copy of ours, deleted: the move has nothing to carry out
  char source[PATH_BUFFER_SIZE];   // of a move onto the path, when it is a copy of ours
};

static RestartOp Ops[RESTART_OPS_MAX];
static int OpCount = 0;
static int ListState = LIST_NOT_READ;
static char Targets[TARGET_COUNT][PATH_BUFFER_SIZE];
static int Settled[TARGET_COUNT];  // this run's own replacement comes last
static int Replacements = 0;

void ForgetRestartOperations(void) {
  OpCount = 0;
  ListState = LIST_NOT_READ;
  Replacements = 0;
  memset(Settled, 0, sizeof Settled);
  memset(Targets, 0, sizeof Targets);
}

int RestartReplacementsRecorded(void) { return Replacements; }

// "C:\WINDOWS\system32\..\SysWOW64\x" as Windows records it: "C:\WINDOWS\SysWOW64\x".
static void DropParentSteps(char* path) {
  char* step;
  while ((step = strstr(path, "\\..\\")) != NULL) {
    char* start = step;
    while (start > path && start[-1] != '\\') start--;
    if (start == path || start == step) return;  // nothing above it to leave
    memmove(start, step + 4, strlen(step + 4) + 1);
  }
}

static int SamePath(const char* a, const char* b) {
  size_t length = strlen(a);
  return length == strlen(b) && CompareTextNoCase(a, b, length) == 0;
}

static int TargetOf(const char* path) {
  char full[PATH_BUFFER_SIZE];
  if (!path[0] || !CopyText(full, sizeof full, path)) return -1;
  DropParentSteps(full);
  for (int i = 0; i < TARGET_COUNT; i++)
    if (Targets[i][0] && SamePath(full, Targets[i])) return i;
  return -1;
}

// A copy that this installer placed beside a destination in use, to be moved onto it at the
// restart: "tvx" and one to four hex digits, ".tmp", in the destination's own directory.
static int IsOurCopy(const char* path, int target) {
  const char* name = strrchr(path, '\\');
  const char* targetName = strrchr(Targets[target], '\\');
  if (!name || !targetName) return 0;
  size_t dirLength = (size_t)(name - path);
  if (dirLength != (size_t)(targetName - Targets[target]) ||
      CompareTextNoCase(path, Targets[target], dirLength) != 0)
    return 0;
  name++;
  size_t length = strlen(name);
  if (length < 8 || length > 11 || CompareTextNoCase(name, "tvx", 3) != 0 ||
      CompareTextNoCase(name + length - 4, ".tmp", 4) != 0)
    return 0;
  for (size_t i = 3; i < length - 4; i++) {
    char c = name[i];
    int hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return 0;
  }
  return 1;
}

static const char* WithoutNtPrefix(const char* path) {
  return strncmp(path, "\\??\\", 4) == 0 ? path + 4 : path;
}

static void AddOp(int target, int kind, int replace, int secondList, const char* source) {
  if (OpCount == RESTART_OPS_MAX) {
    if (ListState != LIST_UNKNOWN)
      LogEvent("restart operations: more than %d for the software's files, taken as unknown",
               RESTART_OPS_MAX);
    ListState = LIST_UNKNOWN;
    return;
  }
  RestartOp* op = &Ops[OpCount++];
  op->target = target;
  op->kind = kind;
  op->replace = replace;
  op->secondList = secondList;
  op->dropped = 0;
  op->source[0] = '\0';
  if (kind == OP_ONTO && IsOurCopy(source, target)) CopyText(op->source, sizeof op->source, source);
}

// One entry: a source and its destination ("!" first when it replaces; empty: a deletion).
static int MatchEntry(const char* source, const char* dest, int secondList) {
  const char* from = WithoutNtPrefix(source);
  int replace = dest[0] == '!';
  const char* to = WithoutNtPrefix(dest + replace);
  int fromTarget = TargetOf(from);
  int toTarget = TargetOf(to);
  if (fromTarget < 0 && toTarget < 0) return 0;
  if (to[0])
    LogEvent("restart operation%s: move \"%s\" onto \"%s\"%s",
             secondList ? " (second list)" : "", from, to, replace ? ", replacing it" : "");
  else
    LogEvent("restart operation%s: delete \"%s\"", secondList ? " (second list)" : "", from);
  if (fromTarget >= 0) AddOp(fromTarget, OP_GONE, replace, secondList, "");
  if (toTarget >= 0) AddOp(toTarget, OP_ONTO, replace, secondList, from);
  return 1;
}

static void TakeRestartList(const char* data, unsigned long size, int secondList) {
  // The caller's buffer holds two NULs past `size`: every string below ends inside it.
  unsigned long at = 0;
  int entries = 0, ours = 0;
  while (at < size && data[at]) {
    const char* source = data + at;
    at += (unsigned long)strlen(source) + 1;
    if (at >= size) {
      LogEvent("restart operations: the list ends inside an entry; the rest is not read");
      break;
    }
    const char* dest = data + at;
    at += (unsigned long)strlen(dest) + 1;
    entries++;
    ours += MatchEntry(source, dest, secondList);
  }
  LogEvent("restart operations%s: %d recorded, %d for the software's files",
           secondList ? " (second list)" : "", entries, ours);
}

// Reads one list. Returns 0 when it could not be read (it may hold anything).
static int ReadList(HKEY key, const char* name, int secondList) {
  for (int attempt = 0; attempt < RESTART_READ_TRIES; attempt++) {
    DWORD type = REG_NONE, size = 0;
    LSTATUS status = RegQueryValueExA(key, name, NULL, &type, NULL, &size);
    if (status == ERROR_FILE_NOT_FOUND) return 1;  // nothing recorded
    if (status == ERROR_MORE_DATA) continue;
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ || size > RESTART_VALUE_LIMIT) {
      LogEvent("restart operations: %s not read (error %ld, type %lu, %lu bytes)", name,
               (long)status, (unsigned long)type, (unsigned long)size);
      return 0;
    }
    char* data = (char*)HeapAlloc(GetProcessHeap(), 0, size + 2);
    if (!data) {
      LogEvent("restart operations: no memory for %s (%lu bytes)", name, (unsigned long)size);
      return 0;
    }
    DWORD got = size;
    status = RegQueryValueExA(key, name, NULL, &type, (BYTE*)data, &got);
    if (status == ERROR_SUCCESS && type == REG_MULTI_SZ) {
      if (got > size) got = size;
      data[got] = data[got + 1] = '\0';
      TakeRestartList(data, got, secondList);
    }
    HeapFree(GetProcessHeap(), 0, data);
    if (status == ERROR_SUCCESS && type == REG_MULTI_SZ) return 1;
    // Changed between the two calls: grown, or carried out and gone. Ask again.
    if (status != ERROR_MORE_DATA && status != ERROR_FILE_NOT_FOUND) {
      LogEvent("restart operations: %s not read (error %ld)", name, (long)status);
      return 0;
    }
  }
  LogEvent("restart operations: %s kept changing while it was read", name);
  return 0;
}

static void BuildTargets(const char* systemDir) {
  char dir[PATH_BUFFER_SIZE];
  BuildSystemDirWithSeparator(dir, systemDir);
  for (int i = 0; i < 3; i++) {
    CopyText(Targets[i], PATH_BUFFER_SIZE, dir);
    AppendText(Targets[i], PATH_BUFFER_SIZE, MessageTable[SystemDirFiles[i]]);
  }
  BuildWow64Dir(Targets[TARGET_WOW64], systemDir);
  AppendText(Targets[TARGET_WOW64], PATH_BUFFER_SIZE, MessageTable[MSG_FILE_LIBRARY]);
  DropParentSteps(Targets[TARGET_WOW64]);
  BuildDriverDir(dir, systemDir);
  for (int i = 0; i < 5; i++) {
    CopyText(Targets[TARGET_STAGED + i], PATH_BUFFER_SIZE, dir);
    AppendText(Targets[TARGET_STAGED + i], PATH_BUFFER_SIZE, MessageTable[PackageFiles[i]]);
  }
  BuildDriverDirCompare(Targets[TARGET_DRIVER_DIR], systemDir);
}

void ReadRestartOperations(void) {
  if (ListState != LIST_NOT_READ) return;
  ListState = LIST_READ;
  char systemDir[PATH_BUFFER_SIZE];
  // The paths are built again when the system directory can be read later.
  if (!ReadSystemDir(systemDir)) {
    LogEvent("restart operations: not read, the system directory is unusable; taken as unknown");
    ListState = LIST_UNKNOWN;
    return;
  }
  BuildTargets(systemDir);
  HKEY key;
  LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                                 "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                                 KEY_QUERY_VALUE, &key);
  if (status != ERROR_SUCCESS) {
    LogEvent("restart operations: the Session Manager key not opened (error %ld), taken as "
             "unknown", (long)status);
    ListState = LIST_UNKNOWN;
    return;
  }
  int whole = ReadList(key, "PendingFileRenameOperations", 0);
  whole &= ReadList(key, "PendingFileRenameOperations2", 1);
  RegCloseKey(key);
  if (!whole) {
    LogEvent("restart operations: taken as unknown; each file is kept or removed through the "
             "restart too");
    ListState = LIST_UNKNOWN;
  }
}

// Deletes the copies of ours that wait to be moved onto the path: the move then has nothing to
// carry out. A copy that is not there any more counts as deleted.
static void DropOurCopies(int target) {
  for (int i = 0; i < OpCount; i++) {
    RestartOp* op = &Ops[i];
    if (op->target != target || op->kind != OP_ONTO || op->dropped || !op->source[0]) continue;
    if (DeleteFileA(op->source)) {
      LogEvent("restart operation dropped: deleted \"%s\", which waited to replace \"%s\"",
               op->source, Targets[target]);
      op->dropped = 1;
      continue;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      op->dropped = 1;
      continue;
    }
    LogEvent("restart operation kept: \"%s\" not deleted (error %lu)", op->source,
             (unsigned long)error);
  }
}

// What the path holds after the restart, given what the run leaves there now.
static int LeftAfterRestart(int target, int runPlaced) {
  int left = runPlaced ? LEFT_AS_RUN : LEFT_NOTHING;
  for (int i = 0; i < OpCount; i++) {
    const RestartOp* op = &Ops[i];
    if (op->target != target || op->dropped) continue;
    if (op->kind == OP_GONE)
      left = LEFT_NOTHING;
    else if (op->replace || left == LEFT_NOTHING)
      left = LEFT_OTHER;
  }
  return left;
}

// Whatever this run records goes into the first list, which Windows carries out before the
// second: an entry there for the path cannot be followed.
static int InSecondList(int target) {
  for (int i = 0; i < OpCount; i++)
    if (Ops[i].target == target && !Ops[i].dropped && Ops[i].secondList) return 1;
  return 0;
}

static int FileTarget(const char* path) {
  if (ListState == LIST_NOT_READ) return -1;
  char systemDir[PATH_BUFFER_SIZE];
  if (!Targets[0][0] && ReadSystemDir(systemDir)) BuildTargets(systemDir);
  int target = TargetOf(path);
  return target == TARGET_DRIVER_DIR ? -1 : target;
}

void NoteReplacedAtRestart(const char* destPath) {
  int target = FileTarget(destPath);
  if (target >= 0) Settled[target] = 1;
}

int KeepPlacedAcrossRestart(const char* sourcePath, const char* destPath) {
  int target = FileTarget(destPath);
  if (target < 0 || Settled[target]) return COPY_OK;
  DropOurCopies(target);
  if (ListState == LIST_READ && LeftAfterRestart(target, 1) == LEFT_AS_RUN) {
    Settled[target] = 1;
    return COPY_OK;
  }
  if (InSecondList(target)) {
    LogEvent("copy \"%s\" to \"%s\": the restart's second list undoes it, and nothing can be "
             "recorded after that", sourcePath, destPath);
    return COPY_FAILED;
  }
  int result = ReplaceAtRestart(sourcePath, destPath);
  if (result == COPY_PENDING_REBOOT) {
    Settled[target] = 1;
    Replacements++;
    LogEvent("copy \"%s\" to \"%s\": placed again through the restart, after what it has "
             "recorded", sourcePath, destPath);
  }
  return result;
}

int KeepRemovedAcrossRestart(const char* path) {
  int target = FileTarget(path);
  if (target < 0) return REMOVE_OK;
  DropOurCopies(target);
  if (ListState == LIST_READ && LeftAfterRestart(target, 0) != LEFT_OTHER) return REMOVE_OK;
  if (InSecondList(target)) {
    LogEvent("delete \"%s\": the restart's second list puts a file there, and nothing can be "
             "recorded after that", path);
    return REMOVE_FAILED;
  }
  if (MoveFileExA(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT)) {
    LogEvent("delete \"%s\": deleted at the restart too, after what it has recorded", path);
    return REMOVE_REBOOT;
  }
  LogEvent("delete \"%s\": a file may be moved there at the restart, and its deletion not "
           "recorded: error %lu", path, (unsigned long)GetLastError());
  return REMOVE_FAILED;
}

int PathAfterRestart(const char* path, int existsNow, char* copy) {
  copy[0] = '\0';
  if (ListState != LIST_READ) return AFTER_RESTART_UNKNOWN;
  int target = TargetOf(path);
  int after = existsNow ? AFTER_RESTART_AS_NOW : AFTER_RESTART_NOTHING;
  for (int i = 0; target >= 0 && i < OpCount; i++) {
    const RestartOp* op = &Ops[i];
    if (op->target != target || op->dropped) continue;
    if (op->kind == OP_GONE) {
      after = AFTER_RESTART_NOTHING;
      copy[0] = '\0';
    } else if (op->replace || after == AFTER_RESTART_NOTHING) {
      // A move without replacing onto a file that is there fails, and changes nothing.
      after = op->source[0] ? AFTER_RESTART_OUR_COPY : AFTER_RESTART_OTHER;
      CopyText(copy, PATH_BUFFER_SIZE, op->source);
    }
  }
  return after;
}

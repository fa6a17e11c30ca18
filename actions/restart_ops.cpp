// What earlier runs, and other programs, recorded for the next restart: the moves and
// deletions that Windows carries out then, in order. A run reads them once, before it acts on
// its files, and keeps those that name the software's own paths, so that what the installation
// places is what the restart leaves, and what the removal deletes does not come back. Entries
// are only ever added (through MoveFileExA), never rewritten or dropped: other programs' stay.
#include <string.h>

#include "../platform/run_state.h"
#include "../platform/win32.h"
#include "../setup/messages.h"
#include "../setup/setup.h"
#include "../support/log.h"
#include "../support/system_dirs.h"
#include "../support/text.h"
#include "actions.h"
#include "restart.h"
#include "restart_list.h"

// The software's paths: the package's placements in the installation's order, its staged files
// in table order, and the driver directory itself. Slots the package does not fill stay empty.
#define TARGET_STAGED PACKAGE_FILES_LIMIT
#define TARGET_DRIVER_DIR (2 * PACKAGE_FILES_LIMIT)
#define TARGET_COUNT (TARGET_DRIVER_DIR + 1)
// More entries for the software's paths than this make the list count as unreadable.
#define RESTART_OPS_MAX 32
// A value larger than this is not read (and counts as unreadable); Windows keeps the two lists
// well below it.
#define RESTART_VALUE_LIMIT (2UL * 1024UL * 1024UL)
#define RESTART_READ_TRIES 3

#define LIST_NOT_READ 0
#define LIST_READ 1
// Not read whole, or not in the form Windows writes: anything may be recorded, nothing of the
// software can be kept or removed through the restart, and nothing is recorded after it (Windows
// would drop one trailing NUL of such a value before appending, and merge its last string with ours).
#define LIST_UNKNOWN 2

#define OP_GONE 1  // the path is deleted, or moved away
#define OP_ONTO 2  // something is moved onto the path
#define OP_ANY 3   // a spelling of the path that is not mapped: either, or both

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
  int refilled;                    // a copy of ours, now holding what this run placed
  char source[PATH_BUFFER_SIZE];   // of a move onto the path, when it is a copy of ours
};

RUN_STATE static RestartOp Ops[RESTART_OPS_MAX];
RUN_STATE static int OpCount = 0;
RUN_STATE static int ListState = LIST_NOT_READ;
RUN_STATE static char Targets[TARGET_COUNT][PATH_BUFFER_SIZE];
RUN_STATE static int Settled[TARGET_COUNT];  // this run's own replacement comes last
RUN_STATE static int Replacements = 0;
RUN_STATE static int Refusals = 0;  // files the restart would undo, or could not be kept from undoing

void ForgetRestartOperations(void) {
  OpCount = 0;
  ListState = LIST_NOT_READ;
  Replacements = 0;
  Refusals = 0;
  memset(Settled, 0, sizeof Settled);
  memset(Targets, 0, sizeof Targets);
}

int RestartReplacementsRecorded(void) { return Replacements; }

int RestartRefusals(void) { return Refusals; }

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

// The spellings Windows itself writes into the lists, as DOS paths: "\??\C:\", "\DosDevices\C:\",
// "\GLOBAL??\C:\", and "\SystemRoot\" for the Windows directory; a path without a prefix as it
// stands. Returns 0 for any other spelling (a volume GUID, a device, a share).
static int MapListPath(const char* path, char* out) {
  static const char* const prefixes[] = {"\\??\\", "\\DosDevices\\", "\\GLOBAL??\\"};
  const char* rest = path;
  for (int i = 0; i < 3; i++) {
    size_t length = strlen(prefixes[i]);
    if (CompareTextNoCase(path, prefixes[i], length) == 0) rest = path + length;
  }
  if (rest == path && CompareTextNoCase(path, "\\SystemRoot\\", 12) == 0) {
    if (!ReadWindowsDir(out)) return 0;
    return AppendText(out, PATH_BUFFER_SIZE, path + 11);
  }
  int drive = ((rest[0] | 0x20) >= 'a' && (rest[0] | 0x20) <= 'z') && rest[1] == ':' &&
              rest[2] == '\\';
  if (!drive) return 0;
  return CopyText(out, PATH_BUFFER_SIZE, rest);
}

// The last component of a path, and the one before it (empty when there is none).
static const char* LastComponent(const char* path, char* parent, size_t parentSize) {
  const char* name = strrchr(path, '\\');
  parent[0] = '\0';
  if (!name) return path;
  const char* start = name;
  while (start > path && start[-1] != '\\') start--;
  size_t length = (size_t)(name - start);
  if (length < parentSize) {
    memcpy(parent, start, length);
    parent[length] = '\0';
  }
  return name + 1;
}

// A path in a spelling not mapped (or through a short name) that ends in one of the software's
// names in a directory of that name: it may be the software's. Each such target is marked.
static int MatchUnmapped(const char* path, int mapped, int* marks) {
  char parent[PATH_BUFFER_SIZE], targetParent[PATH_BUFFER_SIZE];
  const char* name = LastComponent(path, parent, sizeof parent);
  int found = 0;
  for (int i = 0; i < TARGET_COUNT; i++) {
    const char* targetName = LastComponent(Targets[i], targetParent, sizeof targetParent);
    if (!Targets[i][0] || !SamePath(name, targetName)) continue;
    if (mapped && !SamePath(parent, targetParent) && !strchr(parent, '~')) continue;
    marks[i] = 1;
    found = 1;
  }
  return found;
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
  op->refilled = 0;
  op->source[0] = '\0';
  if (kind == OP_ONTO && IsOurCopy(source, target)) CopyText(op->source, sizeof op->source, source);
}

// The software's paths that one side of an entry may name: its target, or each target it may
// be in another spelling (marked in `marks`). Returns the target, -1 for none, -2 for marks.
static int SideOf(const char* path, char* full, int* marks) {
  memset(marks, 0, TARGET_COUNT * sizeof *marks);
  if (!path[0]) {
    full[0] = '\0';
    return -1;
  }
  int mapped = MapListPath(path, full);
  if (!mapped) CopyText(full, PATH_BUFFER_SIZE, path);
  int target = mapped ? TargetOf(full) : -1;
  if (target >= 0) return target;
  return MatchUnmapped(full, mapped, marks) ? -2 : -1;
}

static void AddUnknownOps(const int* marks, int secondList) {
  for (int i = 0; i < TARGET_COUNT; i++)
    if (marks[i]) AddOp(i, OP_ANY, 1, secondList, "");
}

// One entry: a source and its destination (empty: a deletion).
static int MatchEntry(const char* source, const char* dest, int replace, int secondList) {
  char from[PATH_BUFFER_SIZE], to[PATH_BUFFER_SIZE];
  int fromMarks[TARGET_COUNT], toMarks[TARGET_COUNT];
  int fromTarget = SideOf(source, from, fromMarks);
  int toTarget = SideOf(dest, to, toMarks);
  if (fromTarget == -1 && toTarget == -1) return 0;
  if (to[0])
    LogEvent("restart operation%s: move \"%s\" onto \"%s\"%s",
             secondList ? " (second list)" : "", from, to, replace ? ", replacing it" : "");
  else
    LogEvent("restart operation%s: delete \"%s\"", secondList ? " (second list)" : "", from);
  if (fromTarget >= 0) AddOp(fromTarget, OP_GONE, replace, secondList, "");
  if (toTarget >= 0) AddOp(toTarget, OP_ONTO, replace, secondList, from);
  if (fromTarget == -2 || toTarget == -2) {
    LogEvent("restart operation%s: a path in another spelling may be the software's",
             secondList ? " (second list)" : "");
    AddUnknownOps(fromMarks, secondList);
    AddUnknownOps(toMarks, secondList);
  }
  return 1;
}

// Returns 0 when the list is not in the form Windows writes.
static int TakeRestartList(const char* data, unsigned long size, int secondList) {
  if (!IsCanonicalRestartList(data, size)) {
    LogEvent("restart operations%s: not in the form Windows writes (%lu bytes), taken as unknown",
             secondList ? " (second list)" : "", size);
    return 0;
  }
  unsigned long at = 0;
  int entries = 0, ours = 0;
  RestartListEntry entry;
  while (NextRestartListEntry(data, size, &at, &entry)) {
    entries++;
    ours += MatchEntry(entry.source, entry.dest, entry.replace, secondList);
  }
  LogEvent("restart operations%s: %d recorded, %d for the software's files",
           secondList ? " (second list)" : "", entries, ours);
  return 1;
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
    char* data = (char*)HeapAlloc(GetProcessHeap(), 0, size + 1);
    if (!data) {
      LogEvent("restart operations: no memory for %s (%lu bytes)", name, (unsigned long)size);
      return 0;
    }
    DWORD got = size;
    status = RegQueryValueExA(key, name, NULL, &type, (BYTE*)data, &got);
    int taken = 0;
    if (status == ERROR_SUCCESS && type == REG_MULTI_SZ)
      taken = TakeRestartList(data, got > size ? size : got, secondList);
    HeapFree(GetProcessHeap(), 0, data);
    if (status == ERROR_SUCCESS && type == REG_MULTI_SZ) return taken;
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
  for (int k = 0; k < PlacementCount(); k++) {
    const PackageEntry& file = PackageFiles[PlacedFile(k)];
    PlaceDir(file.place, systemDir, dir);
    CopyText(Targets[k], PATH_BUFFER_SIZE, dir);
    AppendText(Targets[k], PATH_BUFFER_SIZE, MessageTable[file.placedName]);
    DropParentSteps(Targets[k]);
  }
  BuildDriverDir(dir, systemDir);
  for (int i = 0; i < PackageFileCount; i++) {
    CopyText(Targets[TARGET_STAGED + i], PATH_BUFFER_SIZE, dir);
    AppendText(Targets[TARGET_STAGED + i], PATH_BUFFER_SIZE, PackageFileName(i));
  }
  BuildDriverDirCompare(Targets[TARGET_DRIVER_DIR], systemDir);
}

void ReadRestartOperations(void) {
  if (ListState != LIST_NOT_READ) return;
  char systemDir[PATH_BUFFER_SIZE];
  // Read again before anything is kept or recorded for the restart.
  if (!ReadSystemDir(systemDir)) {
    LogEvent("restart operations: not read yet, the system directory is unusable");
    return;
  }
  ListState = LIST_READ;
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
    LogEvent("restart operations: taken as unknown; nothing can be kept or removed through the "
             "restart, and nothing is recorded after them");
    ListState = LIST_UNKNOWN;
  }
}

int MayRecordForRestart(void) {
  if (ListState == LIST_NOT_READ) ReadRestartOperations();
  return ListState == LIST_READ;
}

// The copies of ours that wait to be moved onto the path, not filled again by this run nor
// dropped: the first at or after entry `from`.
static int WaitingCopy(int target, int from) {
  for (int i = from < 0 ? 0 : from; i < OpCount; i++) {
    const RestartOp* op = &Ops[i];
    if (op->target == target && op->kind == OP_ONTO && !op->dropped && !op->refilled &&
        op->source[0])
      return i;
  }
  return -1;
}

// An installation fills the waiting copies with what it placed, so that the move carries that
// (see the copy). A copy is never deleted by an installation: its recorded move would carry
// whatever later takes its name.
int RestartCopyWaiting(int target, int from, char* copyPath) {
  copyPath[0] = '\0';
  int entry = WaitingCopy(target, from);
  if (entry >= 0) CopyText(copyPath, PATH_BUFFER_SIZE, Ops[entry].source);
  return entry;
}

void NoteRestartCopyFilled(int entry, DWORD error) {
  if (entry < 0 || entry >= OpCount) return;
  RestartOp* op = &Ops[entry];
  if (!error) {
    LogEvent("restart operation kept: \"%s\", which waits to replace \"%s\", filled again",
             op->source, Targets[op->target]);
    op->refilled = 1;
  } else {
    LogEvent("restart operation kept: \"%s\" not filled again (error %lu)", op->source,
             (unsigned long)error);
  }
}

// A removal deletes them, and the move has nothing to carry out (a copy that is not there any
// more counts as deleted).
static void DropOurCopies(int target) {
  for (int i = WaitingCopy(target, 0); i >= 0; i = WaitingCopy(target, i + 1)) {
    RestartOp* op = &Ops[i];
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
    else if (op->kind == OP_ANY)
      left = LEFT_OTHER;
    else if (op->replace || left == LEFT_NOTHING)
      left = op->refilled ? LEFT_AS_RUN : LEFT_OTHER;
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

int RestartFileTarget(const char* path) {
  if (!MayRecordForRestart() && ListState == LIST_NOT_READ) return -1;
  int target = TargetOf(path);
  return target == TARGET_DRIVER_DIR ? -1 : target;
}

// The checks that come before this run records the file's replacement: the lists can be
// followed, and the second list (carried out after whatever this run records) leaves it alone.
int MayReplaceAtRestart(int target, const char* sourcePath, const char* destPath) {
  const char* why = NULL;
  if (!MayRecordForRestart())
    why = "what is recorded for the restart is unknown";
  else if (target >= 0 && InSecondList(target))
    why = "the restart's second list undoes it";
  if (!why) return 1;
  LogEvent("copy \"%s\" to \"%s\": %s, and nothing can be recorded after that", sourcePath,
           destPath, why);
  Refusals++;
  return 0;
}

int RestartListsRead(void) { return ListState == LIST_READ; }

int RestartSettled(int target) { return target >= 0 && target < TARGET_COUNT && Settled[target]; }

int RestartLeavesPlaced(int target) {
  if (target < 0 || LeftAfterRestart(target, 1) != LEFT_AS_RUN) return 0;
  Settled[target] = 1;
  return 1;
}

void NoteReplacedAtRestart(int target, int again) {
  if (target < 0) return;
  Settled[target] = 1;
  if (again) Replacements++;
}

void NoteRestartRefusal(void) { Refusals++; }

BOOL RecordRestartMove(const char* from, const char* to) {
  return MoveFileExA(from, to,
                     to ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT
                        : MOVEFILE_DELAY_UNTIL_REBOOT);
}

// Whether the copy beside a destination may take this name: a name recorded as the source of
// another path's move would be carried there at the restart.
int CopyNameRecorded(const char* copyPath, const char* destPath) {
  int target = TargetOf(destPath);
  for (int i = 0; i < OpCount; i++)
    if (Ops[i].target != target && Ops[i].source[0] && SamePath(Ops[i].source, copyPath))
      return 1;
  return 0;
}

int KeepRemovedAcrossRestart(const char* path) {
  if (!MayRecordForRestart()) {
    LogEvent("delete \"%s\": what is recorded for the restart is unknown, and nothing can be "
             "recorded after it", path);
    return REMOVE_FAILED;
  }
  int target = RestartFileTarget(path);
  if (target < 0) return REMOVE_OK;
  DropOurCopies(target);
  if (LeftAfterRestart(target, 0) != LEFT_OTHER) return REMOVE_OK;
  if (InSecondList(target)) {
    LogEvent("delete \"%s\": the restart's second list puts a file there, and nothing can be "
             "recorded after that", path);
    return REMOVE_FAILED;
  }
  if (RecordRestartMove(path, NULL)) {
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
    // A spelling that is not mapped may name the path or not: what it leaves is not known.
    if (op->kind == OP_ANY) return AFTER_RESTART_UNKNOWN;
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

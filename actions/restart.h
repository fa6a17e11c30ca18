// What is recorded for the next restart, for the software's own paths (restart_ops.cpp): the
// one place that reads the restart lists, answers what a path will hold once the restart is
// over and whether anything may be recorded, and records moves and deletions. The copy, the
// removal and the checks call it; it calls none of them: what a copy is filled with, and what
// passes a check, they decide, and tell it.
#ifndef ACTIONS_RESTART_H
#define ACTIONS_RESTART_H

#include "../platform/win32.h"

// ReadRestartOperations reads the lists once a run (the installation's staging or sequence, or
// the removal, whichever comes first). Only lists read whole, in the form Windows writes, count
// as read; MayRecordForRestart (1 when so) comes before anything is recorded for the restart.
void ReadRestartOperations(void);
void ForgetRestartOperations(void);
int MayRecordForRestart(void);

// Records a move of `from` onto `to` (replacing what is there), or the deletion of `from` when
// `to` is NULL, for the next restart: MoveFileExA's result.
BOOL RecordRestartMove(const char* from, const char* to);

// Whether a copy beside a destination may not take this name: it is recorded as the source of
// another path's move, which would carry it there at the restart.
int CopyNameRecorded(const char* copyPath, const char* destPath);

// Before a removal deletes a file: makes sure the restart does not put one back (a REMOVE_
// result).
int KeepRemovedAcrossRestart(const char* path);

// What one of the software's paths holds once the restart is over, by what is recorded for it
// (after ReadRestartOperations), given whether it is there now. For AFTER_RESTART_OUR_COPY the
// copy's path goes to `copy` (PATH_BUFFER_SIZE bytes).
#define AFTER_RESTART_AS_NOW 0    // what it holds now: nothing recorded changes it
#define AFTER_RESTART_NOTHING 1   // deleted, or moved away
#define AFTER_RESTART_OTHER 2     // another program's file is moved onto it
#define AFTER_RESTART_OUR_COPY 3  // a copy of ours is moved onto it
#define AFTER_RESTART_UNKNOWN 4   // what is recorded could not be read whole
int PathAfterRestart(const char* path, int existsNow, char* copy);

// For the copy, which keeps what it places across the restart. A target is one of the
// software's files (RestartFileTarget: -1 for any other path, the driver directory among them).
int RestartFileTarget(const char* path);
// The lists were read whole.
int RestartListsRead(void);
// This run's own replacement of the target comes last: nothing recorded undoes it.
int RestartSettled(int target);
// The copies of ours that wait to be moved onto the target, to be filled with what this run
// placed: the first at or after entry `from`, its path into `copyPath` (PATH_BUFFER_SIZE
// bytes); -1 when there is none. The copy tells how the filling went (0, or the error).
int RestartCopyWaiting(int target, int from, char* copyPath);
void NoteRestartCopyFilled(int entry, DWORD error);
// After the copies are filled: 1 when the restart leaves what this run placed.
int RestartLeavesPlaced(int target);
// Whether this run may record the target's replacement (`target` -1: a path not the software's):
// the lists can be followed, and the second list leaves it alone. A refusal is logged and counted.
int MayReplaceAtRestart(int target, const char* sourcePath, const char* destPath);
// The replacement was recorded (`again`: after what others recorded, which would undo the copy);
// or it could not be, and the restart undoes the copy.
void NoteReplacedAtRestart(int target, int again);
void NoteRestartRefusal(void);

// How many files this run placed again through the restart after what was recorded for them.
int RestartReplacementsRecorded(void);
// How many files the restart would undo (or could not be kept from undoing) in this run.
int RestartRefusals(void);

#endif

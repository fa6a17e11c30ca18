// The system's own directories, read the same way by every part: a path buffer's size, and
// the limit below which a directory read is usable.
#ifndef SUPPORT_SYSTEM_DIRS_H
#define SUPPORT_SYSTEM_DIRS_H

#define PATH_BUFFER_SIZE 520
// The system directory is usable only when shorter than this.
#define SYSTEM_DIR_LIMIT 260

// Reads the system directory into a buffer of PATH_BUFFER_SIZE bytes. Main has checked it at
// start-up; should it be unusable later, every path built from it would start at the root of
// the current drive, so callers then copy and start nothing. Returns 1 when usable.
int ReadSystemDir(char* systemDir);
// The same for the Windows directory (the system's, not a user's).
int ReadWindowsDir(char* windowsDir);

#endif

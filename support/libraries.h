// Where the installer's libraries come from: the system directory, and nowhere else. It runs
// elevated from folders that others can write (downloads, extracted archives, shares), and a
// library with a system name left there or in the current directory must never be loaded.
#ifndef SUPPORT_LIBRARIES_H
#define SUPPORT_LIBRARIES_H

#include "../platform/win32.h"

// The entry point's first act: every later load searches the system directory only. Where
// Windows lacks SetDefaultDllDirectories (Windows 7 without update KB2533623), at least the
// current directory is taken out of the search.
void RestrictLibrarySearch(void);
// A system library (a bare file name) loaded from the system directory alone, or null with
// the last error set. Release it with FreeLibrary.
HMODULE LoadSystemLibrary(const char* name);
// A procedure of a loaded library, as the generic pointer the caller casts to its type.
typedef void (*LibraryProc)(void);
LibraryProc FindLibraryProc(HMODULE library, const char* name);

#endif

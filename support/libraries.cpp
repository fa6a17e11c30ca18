// Library loading restricted to the system directory.
#include "libraries.h"

#include "system_dirs.h"
#include "text.h"

typedef BOOL(WINAPI* SetDefaultDllDirectoriesProc)(DWORD);

void RestrictLibrarySearch(void) {
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  SetDefaultDllDirectoriesProc setDefault =
      kernel ? (SetDefaultDllDirectoriesProc)FindLibraryProc(kernel, "SetDefaultDllDirectories")
             : NULL;
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
  SetDllDirectoryA("");
}

HMODULE LoadSystemLibrary(const char* name) {
  HMODULE library = LoadLibraryExA(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library || GetLastError() != ERROR_INVALID_PARAMETER) return library;

  // The flag is not understood (Windows 7 without the update): the full path then, with the
  // library's own imports looked for beside it, in the system directory.
  char path[PATH_BUFFER_SIZE];
  if (!ReadSystemDir(path) || !AppendText(path, sizeof path, "\\") ||
      !AppendText(path, sizeof path, name)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return NULL;
  }
  return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

LibraryProc FindLibraryProc(HMODULE library, const char* name) {
  return (LibraryProc)GetProcAddress(library, name);
}

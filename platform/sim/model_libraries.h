// The simulated loader: the libraries of the system directory with the procedures they export,
// the search that the process has set, and the libraries it has loaded.
#ifndef PLATFORM_SIM_MODEL_LIBRARIES_H
#define PLATFORM_SIM_MODEL_LIBRARIES_H

#include <map>
#include <string>
#include <vector>

#include "sim_types.h"

namespace sim {

struct LibrariesModel {
  // The system directory's libraries by lower-case name, each with its procedures by name.
  // A test takes out a library (it is missing) or a procedure (an older or damaged library).
  std::map<std::string, std::map<std::string, FARPROC>> system;
  // Windows 7 without update KB2533623: LoadLibraryExA refuses the LOAD_LIBRARY_SEARCH_ flags
  // with ERROR_INVALID_PARAMETER (kernel32 then lacks SetDefaultDllDirectories too; see
  // WithoutLoaderUpdate).
  bool searchFlagsKnown = true;
  // The running program's folder: where the standard search looks first. A file there (or in
  // the current directory) with a library's name is someone else's library.
  std::string appDir = "D:\\pkg";
  // The process's own loader state, gone with the process.
  DWORD defaultDirs = 0;          // set by SetDefaultDllDirectories; 0: the standard search
  bool currentDirSearched = true; // SetDllDirectoryA("") takes the current directory out
  std::string dllDirectory;       // a folder SetDllDirectoryA added
  std::vector<std::string> loaded;  // the full path of every library loaded, in order
};

// The handle GetModuleHandleA gives for kernel32, which every process has loaded.
extern const HMODULE kKernel32Module;

// Arranging: a machine without the update that brought the restricted searches.
void WithoutLoaderUpdate();

}  // namespace sim

#endif

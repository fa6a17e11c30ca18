// Simulated library loading: LoadLibraryExA searches as Windows does (the program's folder
// first, unless the call or the process restricts the search), GetProcAddress hands out the
// simulated procedures of the system's libraries, and a module handle counts as open until
// FreeLibrary. Every call records its arguments and can be told to fail; the target is the
// name passed.
#include "machine.h"
#include "sim_win32.h"

using namespace sim;

namespace {

const DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_USER_DIRS |
                           LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

// kernel32 exports it only with the update; the installer finds it through GetProcAddress.
BOOL SimSetDefaultDllDirectories(DWORD DirectoryFlags) {
  SIM_CALL_AS("SetDefaultDllDirectories", {Hex(DirectoryFlags)});
  if (call.Faulted()) return FALSE;
  if (DirectoryFlags == 0 || (DirectoryFlags & ~kSearchFlags)) return Fail(ERROR_INVALID_PARAMETER);
  M().libraries.defaultDirs = DirectoryFlags;
  return TRUE;
}

FARPROC Proc(void (*f)(LPGUID)) { return reinterpret_cast<FARPROC>(f); }
FARPROC Proc(BOOL (*f)(HANDLE, PHIDD_ATTRIBUTES)) { return reinterpret_cast<FARPROC>(f); }
FARPROC Proc(BOOL (*f)(DWORD)) { return reinterpret_cast<FARPROC>(f); }
FARPROC Proc(LONG (*f)(PVOID, PVOID)) { return reinterpret_cast<FARPROC>(f); }

std::string Join(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '\\' ? dir + name : dir + "\\" + name;
}

// The system library a full path names, or null.
const std::map<std::string, FARPROC>* SystemLibrary(const std::string& path) {
  size_t cut = path.rfind('\\');
  if (cut == std::string::npos || !EqualNoCase(path.substr(0, cut), M().systemDir)) return nullptr;
  auto it = M().libraries.system.find(Lower(path.substr(cut + 1)));
  return it == M().libraries.system.end() ? nullptr : &it->second;
}

std::string ModuleName(HMODULE module) {
  if (module == kKernel32Module) return "kernel32.dll";
  if (module == kNtdllModule) return "ntdll.dll";
  if (module == kImageModule) return "the program";
  HandleEntry* e = FindHandle((HANDLE)module, HandleKind::Module);
  return e ? e->name : Ptr((const void*)module);
}

}  // namespace

namespace sim {

const HMODULE kKernel32Module = (HMODULE)(uintptr_t)0x7FFA0000;

void InitLibraries() {
  LibrariesModel& l = M().libraries;
  l.system["kernel32.dll"]["SetDefaultDllDirectories"] = Proc(SimSetDefaultDllDirectories);
  l.system["hid.dll"]["HidD_GetHidGuid"] = Proc(HidD_GetHidGuid);
  l.system["hid.dll"]["HidD_GetAttributes"] = Proc(HidD_GetAttributes);
  l.system["ntdll.dll"]["NtAreMappedFilesTheSame"] = Proc(NtAreMappedFilesTheSame);
}

void WithoutLoaderUpdate() {
  M().libraries.searchFlagsKnown = false;
  M().libraries.system["kernel32.dll"].erase("SetDefaultDllDirectories");
}

}  // namespace sim

HMODULE LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD dwFlags) {
  SIM_CALL({Str(lpLibFileName), Ptr(hFile), Hex(dwFlags)});
  if (call.Faulted(Str(lpLibFileName))) return nullptr;
  LibrariesModel& l = M().libraries;
  if (!lpLibFileName || hFile || ((dwFlags & kSearchFlags) && !l.searchFlagsKnown))
    return Fail(ERROR_INVALID_PARAMETER, nullptr);
  std::string name = lpLibFileName;
  std::vector<std::string> candidates;
  if (name.find('\\') != std::string::npos || name.find('/') != std::string::npos) {
    candidates.push_back(name);
  } else {
    DWORD search = (dwFlags & kSearchFlags) ? (dwFlags & kSearchFlags) : l.defaultDirs;
    if (search) {
      if (search & (LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
        candidates.push_back(Join(l.appDir, name));
      if (search & (LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS))
        candidates.push_back(Join(M().systemDir, name));
    } else {
      // The standard search: the program's folder, a folder SetDllDirectoryA added, the
      // system directory, then (unless taken out) the current directory.
      candidates.push_back(Join(l.appDir, name));
      if (!l.dllDirectory.empty()) candidates.push_back(Join(l.dllDirectory, name));
      candidates.push_back(Join(M().systemDir, name));
      if (l.currentDirSearched && l.dllDirectory.empty())
        candidates.push_back(Join(M().files.currentDir, name));
    }
  }
  for (const std::string& path : candidates) {
    if (!SystemLibrary(path) && !FileExists(path)) continue;
    l.loaded.push_back(path);
    return (HMODULE)NewHandle(HandleKind::Module, (int64_t)l.loaded.size() - 1, path);
  }
  return Fail(ERROR_MOD_NOT_FOUND, nullptr);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  SIM_CALL({ModuleName(hModule), Str(lpProcName)});
  const std::map<std::string, FARPROC>* procs = nullptr;
  if (hModule == kKernel32Module || hModule == kNtdllModule) {
    procs = &M().libraries.system[hModule == kNtdllModule ? "ntdll.dll" : "kernel32.dll"];
  } else if (hModule == kImageModule) {
    static const std::map<std::string, FARPROC> none;  // the program exports nothing
    procs = &none;
  } else if (HandleEntry* e = FindHandle((HANDLE)hModule, HandleKind::Module)) {
    static const std::map<std::string, FARPROC> none;  // a library not of the system's
    procs = SystemLibrary(e->name);
    if (!procs) procs = &none;
  } else {
    return Fail(ERROR_INVALID_HANDLE, nullptr);
  }
  if (call.Faulted(Str(lpProcName))) return nullptr;
  auto it = lpProcName ? procs->find(lpProcName) : procs->end();
  if (it == procs->end()) return Fail(ERROR_PROC_NOT_FOUND, nullptr);
  return it->second;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  SIM_CALL({ModuleName(hLibModule)});
  // Loaded for the life of the process.
  if (hLibModule == kKernel32Module || hLibModule == kNtdllModule) return TRUE;
  if (!FindHandle((HANDLE)hLibModule, HandleKind::Module)) return Fail(ERROR_INVALID_HANDLE);
  ReleaseAnyHandle((HANDLE)hLibModule);
  // As with every release call: a reported failure still leaves the library released.
  return !call.Faulted();
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName) {
  SIM_CALL({Str(lpModuleName)});
  if (call.Faulted(Str(lpModuleName))) return nullptr;
  if (lpModuleName && (EqualNoCase(lpModuleName, "kernel32.dll") ||
                       EqualNoCase(lpModuleName, "kernel32")))
    return kKernel32Module;
  if (lpModuleName && (EqualNoCase(lpModuleName, "ntdll.dll") || EqualNoCase(lpModuleName, "ntdll")))
    return kNtdllModule;
  if (!lpModuleName) return kImageModule;  // the running program's image base
  return Fail(ERROR_MOD_NOT_FOUND, nullptr);
}

BOOL SetDllDirectoryA(LPCSTR lpPathName) {
  SIM_CALL({Str(lpPathName)});
  if (call.Faulted()) return FALSE;
  LibrariesModel& l = M().libraries;
  l.dllDirectory = lpPathName ? lpPathName : "";
  l.currentDirSearched = lpPathName == nullptr;  // null restores the standard search
  return TRUE;
}

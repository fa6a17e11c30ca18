// Simulated process operations: start-up information, starting a program, its exit code and
// waits on it, and the named mutexes that processes share, all on the virtual clock.
#include <string.h>

#include "machine.h"
#include "sim_win32.h"

using namespace sim;

namespace sim {

void InitProcess() {
  STARTUPINFOA& s = M().process.own;
  memset(&s, 0, sizeof s);
  s.cb = sizeof s;
  s.lpTitle = (LPSTR) "C:\\pkg\\SETUP.EXE";
  s.dwFlags = STARTF_USESTDHANDLES;
}

size_t AddProgram(const std::string& path, uint64_t runMs, DWORD exitCode,
                  std::function<void()> onStart, std::function<void()> onEnd) {
  Program p;
  p.path = path;
  p.runMs = runMs;
  p.exitCode = exitCode;
  p.onStart = std::move(onStart);
  p.onEnd = std::move(onEnd);
  if (!FileExists(path)) AddFile(path, "program", 0);
  M().process.programs.push_back(std::move(p));
  return M().process.programs.size() - 1;
}

size_t AddNeverEndingProgram(const std::string& path, std::function<void()> onStart) {
  size_t i = AddProgram(path, 0, 0, std::move(onStart));
  M().process.programs[i].neverEnds = true;
  return i;
}

void SettleProcesses() {
  // An end effect may start or touch other things: index, and take the callback out first.
  for (size_t i = 0; i < M().process.processes.size(); i++) {
    ProcessEntry& p = M().process.processes[i];
    if (p.ended || p.neverEnds || p.endMs > M().clockMs) continue;
    p.ended = true;
    std::function<void()> onEnd = std::move(p.onEnd);
    if (onEnd) onEnd();
  }
}

int RunningProcesses(const std::string& path) {
  SettleProcesses();
  int n = 0;
  for (const ProcessEntry& p : M().process.processes)
    if (!p.ended && EqualNoCase(p.program, path)) n++;
  return n;
}

bool InstallerHasOpen(size_t index) {
  for (const HandleEntry& h : M().handles)
    if (h.open && h.kind == HandleKind::Mutex && h.id == (int64_t)index) return true;
  return false;
}

// The other owner lets go once the virtual clock reaches its time.
static void SettleMutex(MutexObject& x) {
  if (x.owner != MutexOwner::Other || x.otherLetsGoMs > M().clockMs) return;
  x.owner = MutexOwner::None;
  x.abandoned = x.otherAbandons;
}

static bool Alive(size_t index) {
  return M().process.mutexes[index].openElsewhere || InstallerHasOpen(index);
}

static MutexObject* LiveMutex(const std::string& name, size_t* index) {
  std::vector<MutexObject>& all = M().process.mutexes;
  for (size_t i = 0; i < all.size(); i++) {
    if (all[i].name != name || !Alive(i)) continue;
    SettleMutex(all[i]);
    if (index) *index = i;
    return &all[i];
  }
  return nullptr;
}

MutexObject* FindMutex(const std::string& name) { return LiveMutex(name, nullptr); }

// The creator's default security for a mutex made without a descriptor.
static void DefaultSecurity(MutexObject* x, Account creator) {
  x->creator = creator;
  x->systemRights = MUTEX_ALL_ACCESS;
  x->adminRights = creator == Account::System ? READ_CONTROL | SYNCHRONIZE | MUTEX_MODIFY_STATE
                                              : MUTEX_ALL_ACCESS;
}

void HoldMutex(const std::string& name, uint64_t letGoMs, bool abandons, Account creator) {
  MutexObject* x = FindMutex(name);
  if (!x) {
    M().process.mutexes.push_back(MutexObject());
    x = &M().process.mutexes.back();
    x->name = name;
    DefaultSecurity(x, creator);
  }
  x->openElsewhere = true;
  x->owner = MutexOwner::Other;
  x->recursion = 0;
  x->otherLetsGoMs = letGoMs;
  x->otherAbandons = abandons;
  SettleMutex(*x);
}

}  // namespace sim

namespace {

const Program* FindProgram(const std::string& path) {
  if (!FileExists(path)) return nullptr;
  for (const Program& p : M().process.programs)
    if (EqualNoCase(p.path, path)) return &p;
  static Program plain;
  plain = Program();
  plain.path = FullPath(path);
  return &plain;
}

// A candidate program name as Windows completes it: ".exe" when the name has no extension.
std::string WithExtension(const std::string& name) {
  size_t slash = name.find_last_of('\\');
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    return name + ".exe";
  return name;
}

// Finds the program that a command line names, as Windows does without an application name:
// a quoted first token is taken whole; an unquoted one is tried at each blank in turn, the
// shortest first, so "C:\Program Files\x.exe" may start "C:\Program.exe".
const Program* ResolveCommandLine(const std::string& line, std::string* tried) {
  if (!line.empty() && line[0] == '"') {
    size_t close = line.find('"', 1);
    std::string name = line.substr(1, close == std::string::npos ? std::string::npos
                                                                 : close - 1);
    *tried = WithExtension(name);
    return FindProgram(*tried);
  }
  size_t pos = 0;
  for (;;) {
    size_t blank = line.find_first_of(" \t", pos);
    std::string name = line.substr(0, blank);
    *tried = WithExtension(name);
    if (const Program* p = FindProgram(*tried)) return p;
    if (blank == std::string::npos) return nullptr;
    pos = blank + 1;
  }
}

ProcessEntry* ProcessOf(HANDLE h) {
  HandleEntry* e = FindHandle(h, HandleKind::Process);
  if (!e) return nullptr;
  return &M().process.processes[(size_t)e->id];
}

}  // namespace

void GetStartupInfoA(LPSTARTUPINFOA lpStartupInfo) {
  SIM_CALL({Ptr(lpStartupInfo)});
  *lpStartupInfo = M().process.own;
}

BOOL CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                    LPSECURITY_ATTRIBUTES lpProcessAttributes,
                    LPSECURITY_ATTRIBUTES lpThreadAttributes, BOOL bInheritHandles,
                    DWORD dwCreationFlags, LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                    LPSTARTUPINFOA lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  SIM_CALL({Str(lpApplicationName), Str(lpCommandLine), Ptr(lpProcessAttributes),
            Ptr(lpThreadAttributes), Dec(bInheritHandles), Hex(dwCreationFlags), Ptr(lpEnvironment),
            Str(lpCurrentDirectory), Ptr(lpStartupInfo), Ptr(lpProcessInformation)});
  SettleProcesses();
  if (!lpStartupInfo || !lpProcessInformation ||
      (!lpApplicationName && !lpCommandLine))
    return Fail(ERROR_INVALID_PARAMETER);
  std::string line = lpCommandLine ? lpCommandLine : "";
  std::string path;
  const Program* program = nullptr;
  if (lpApplicationName) {
    path = lpApplicationName;
    program = FindProgram(path);
  } else {
    program = ResolveCommandLine(line, &path);
  }
  if (call.Faulted(path)) return FALSE;
  if (!program) return Fail(ERROR_FILE_NOT_FOUND);
  if (lpCurrentDirectory && !DirectoryExists(lpCurrentDirectory))
    return Fail(ERROR_DIRECTORY);  // a current directory that is not one

  ProcessEntry p;
  p.program = program->path;
  p.commandLine = line;
  p.image = FileContents(program->path);
  p.startMs = M().clockMs;
  p.endMs = M().clockMs + program->runMs;
  p.neverEnds = program->neverEnds;
  p.exitCode = program->exitCode;
  p.startup = *lpStartupInfo;
  p.onEnd = program->onEnd;
  std::function<void()> onStart = program->onStart;
  M().process.processes.push_back(std::move(p));
  int64_t id = (int64_t)M().process.processes.size() - 1;

  lpProcessInformation->hProcess = NewHandle(HandleKind::Process, id, path);
  lpProcessInformation->hThread = NewHandle(HandleKind::Thread, id, path);
  lpProcessInformation->dwProcessId = (DWORD)(1000 + 4 * id);
  lpProcessInformation->dwThreadId = (DWORD)(1002 + 4 * id);
  if (onStart) onStart();
  SettleProcesses();  // a program with no run time has ended already
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
  SIM_CALL({Ptr(hProcess), Ptr(lpExitCode)});
  if (call.Faulted()) return FALSE;
  ProcessEntry* p = ProcessOf(hProcess);
  if (!p) return Fail(ERROR_INVALID_HANDLE);
  SettleProcesses();
  p = ProcessOf(hProcess);
  *lpExitCode = p->ended ? p->exitCode : STILL_ACTIVE;
  return TRUE;
}

// The installer takes a free mutex: WAIT_ABANDONED when its last owner ended holding it.
static DWORD TakeMutex(MutexObject& x) {
  x.owner = MutexOwner::Installer;
  x.recursion++;
  if (!x.abandoned) return WAIT_OBJECT_0;
  x.abandoned = false;
  return WAIT_ABANDONED;
}

// A wait on a mutex: taken at once when free or the installer's own, when the other owner
// lets go within the time (the clock advanced to then), or WAIT_TIMEOUT after the whole time.
static DWORD WaitForMutex(MutexObject& x, DWORD ms) {
  SettleMutex(x);
  if (x.owner == MutexOwner::Installer) {
    x.recursion++;
    return WAIT_OBJECT_0;
  }
  if (x.owner == MutexOwner::None) return TakeMutex(x);
  if (x.otherLetsGoMs != kForever &&
      (ms == INFINITE || x.otherLetsGoMs <= M().clockMs + ms)) {
    M().clockMs = x.otherLetsGoMs;
    SettleProcesses();
    SettleMutex(x);
    return TakeMutex(x);
  }
  if (ms == INFINITE) {
    // Real Windows would never return; the test would hang, so say so instead.
    return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
  }
  M().clockMs += ms;
  SettleProcesses();
  return WAIT_TIMEOUT;
}

// Waits on a process: returns as soon as it has ended, advancing the virtual clock to its end,
// or after the time-out with the clock advanced by it. Waits on a mutex as above.
DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  SIM_CALL({Ptr(hHandle), Dec(dwMilliseconds)});
  if (call.Faulted()) return WAIT_FAILED;
  if (HandleEntry* mutex = FindHandle(hHandle, HandleKind::Mutex))
    return WaitForMutex(M().process.mutexes[(size_t)mutex->id], dwMilliseconds);
  if (!ProcessOf(hHandle)) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  SettleProcesses();
  ProcessEntry* p = ProcessOf(hHandle);
  if (p->ended) return WAIT_OBJECT_0;
  if (dwMilliseconds == INFINITE && p->neverEnds) {
    // Real Windows would never return; the test would hang, so say so instead.
    return Fail(ERROR_INVALID_PARAMETER, WAIT_FAILED);
  }
  if (!p->neverEnds && (dwMilliseconds == INFINITE || p->endMs <= M().clockMs + dwMilliseconds)) {
    M().clockMs = p->endMs;
    SettleProcesses();
    return WAIT_OBJECT_0;
  }
  M().clockMs += dwMilliseconds;
  SettleProcesses();
  return WAIT_TIMEOUT;
}

// Whether the installer's account may open the mutex with `desired`: the DACL grants it (SYSTEM
// is an administrator too), and the label of an object SYSTEM made lets a High-level process
// have no write-type right.
static bool MayOpen(const MutexObject& x, DWORD desired) {
  Account who = M().process.account;
  DWORD granted = x.adminRights | (who == Account::System ? x.systemRights : 0);
  const DWORD writeType = DELETE | WRITE_DAC | WRITE_OWNER;
  if (x.creator == Account::System && who != Account::System) granted &= ~writeType;
  return (desired & ~granted) == 0;
}

// A named mutex is opened when it lives (ERROR_ALREADY_EXISTS) and its security grants the
// rights asked for (else ERROR_ACCESS_DENIED), made otherwise with the descriptor's grants or
// the installer's default. The faults stand for an object of another type under the name.
static HANDLE OpenOrMakeMutex(LPSECURITY_ATTRIBUTES attributes, BOOL owned, LPCSTR lpName,
                              DWORD desired, const Call& call) {
  std::string name = lpName ? lpName : "";
  if (call.Faulted(name)) return NULL;
  size_t index = 0;
  MutexObject* x = lpName ? LiveMutex(name, &index) : nullptr;
  DWORD error = ERROR_ALREADY_EXISTS;
  if (x && !MayOpen(*x, desired)) return Fail(ERROR_ACCESS_DENIED, nullptr);
  if (!x) {
    M().process.mutexes.push_back(MutexObject());
    index = M().process.mutexes.size() - 1;
    x = &M().process.mutexes.back();
    x->name = name;
    DefaultSecurity(x, M().process.account);
    Grants grants;
    if (ReadGrants(attributes, &grants)) {
      x->systemRights = grants.system;
      x->adminRights = grants.admins;
    }
    error = ERROR_SUCCESS;
  }
  HANDLE h = NewHandle(HandleKind::Mutex, (int64_t)index, name);
  if (owned && error == ERROR_SUCCESS) TakeMutex(*x);
  M().lastError = error;
  return h;
}

// CreateMutexA asks for every right.
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName) {
  SIM_CALL({Ptr(lpMutexAttributes), Dec(bInitialOwner), Str(lpName)});
  return OpenOrMakeMutex(lpMutexAttributes, bInitialOwner, lpName, MUTEX_ALL_ACCESS, call);
}

HANDLE CreateMutexExA(LPSECURITY_ATTRIBUTES lpMutexAttributes, LPCSTR lpName, DWORD dwFlags,
                      DWORD dwDesiredAccess) {
  SIM_CALL({DescribeGrants(lpMutexAttributes), Str(lpName), Hex(dwFlags), Hex(dwDesiredAccess)});
  if (dwFlags & ~CREATE_MUTEX_INITIAL_OWNER) return Fail(ERROR_INVALID_PARAMETER, nullptr);
  return OpenOrMakeMutex(lpMutexAttributes, (dwFlags & CREATE_MUTEX_INITIAL_OWNER) != 0, lpName,
                         dwDesiredAccess, call);
}

// Only the owner releases; a reported failure of an owner's release still releases, as with
// every release call.
BOOL ReleaseMutex(HANDLE hMutex) {
  SIM_CALL({Ptr(hMutex)});
  HandleEntry* h = FindHandle(hMutex, HandleKind::Mutex);
  if (!h) return Fail(ERROR_INVALID_HANDLE);
  MutexObject& x = M().process.mutexes[(size_t)h->id];
  if (x.owner != MutexOwner::Installer) return Fail(ERROR_NOT_OWNER);
  if (--x.recursion == 0) x.owner = MutexOwner::None;
  return !call.Faulted();
}

// The core of the simulated machine: reset, fault injection, the call record, handles.
#include "machine.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

namespace sim {

Machine& M() {
  static Machine machine;
  return machine;
}

void Reset() {
  Machine& m = M();
  m = Machine();
  InitFiles();
  InitRegistry();
  InitDevices();
  InitProcess();
  InitLibraries();
  InitSignatures();
}

void ActBefore(const std::string& op, std::function<void()> act, int skip) {
  M().actBeforeOp = op;
  M().actSkip = skip;
  M().act = std::move(act);
}

void InjectFault(const std::string& op, DWORD error, const std::string& target, int times,
                 int skip) {
  M().faults.push_back(Fault{op, target, error, skip, times});
}

bool FaultCode(const char* op, const std::string& target, DWORD* error) {
  Machine& m = M();
  if (m.faultCallArmed) {
    m.faultCallArmed = false;
    m.faultCallFired = true;
    *error = m.faultCallError;
    return true;
  }
  for (Fault& f : M().faults) {
    if (f.op != op || f.times == 0) continue;
    if (!f.target.empty() && !EqualNoCase(f.target, target)) continue;
    if (f.skip > 0) {
      f.skip--;
      continue;
    }
    if (f.times > 0) f.times--;
    *error = f.error;
    return true;
  }
  return false;
}

bool Faulted(const char* op, const std::string& target) {
  DWORD error = 0;
  if (!FaultCode(op, target, &error)) return false;
  M().lastError = error;
  return true;
}

void Record(const char* op, std::vector<std::string> args) {
  M().calls.push_back(CallRecord{op, std::move(args)});
}

// The operations whose arguments name a file, a program, a key or a kernel object: what the
// fuzzers check.
static bool NamesSomething(const char* op) {
  static const char* const kOps[] = {"FindFirstFileA", "SetFileAttributesA", "CopyFileA",
                                     "MoveFileExA", "CreateDirectoryA", "CreateFileA",
                                     "CreateProcessA", "RegOpenKeyExA", "RegDeleteKeyA",
                                     "RegQueryValueExA",
                                     "RegCreateKeyExA",
                                     "GetTempFileNameA", "DeleteFileA", "GetFullPathNameA",
                                     "RemoveDirectoryA", "LoadLibraryExA", "SetDllDirectoryA",
                                     "CreateMutexA", "SetFileInformationByHandle",
                                     "RegisterEventSourceA", "ReportEventA"};
  for (const char* name : kOps)
    if (strcmp(op, name) == 0) return true;
  return false;
}

bool CountCall(const char* op) {
  Machine& m = M();
  m.callCount++;
  m.lastOp = op;
  if (m.callLimit > 0 && m.callCount > m.callLimit) throw Runaway();
  if (m.cutCall > 0 && m.callCount >= m.cutCall) {
    // A copy cut inside writes part of its destination first, and stops itself.
    bool insideCopy =
        m.cutInside && m.callCount == m.cutCall && strcmp(op, "CopyFileA") == 0;
    if (!insideCopy) throw PowerCut();
  }
  m.faultCallArmed = m.faultCall > 0 && m.callCount == m.faultCall;
  if (!m.actBeforeOp.empty() && m.actBeforeOp == op && m.actSkip-- == 0) {
    std::function<void()> act = std::move(m.act);
    m.actBeforeOp.clear();
    act();
  }
  if (m.recording == Recording::All) return true;
  return m.recording == Recording::Paths && NamesSomething(op);
}

void KillInstaller() {
  Machine& m = M();
  for (HandleEntry& h : m.handles) h.open = false;
  m.registry.heapBlocks.clear();
  m.registry.sids.clear();
  m.devices.localBlocks.clear();
  m.devices.sets.clear();
  for (MappedView& v : m.files.views) v.mapped = false;  // the process's views end with it
  m.liveAllocations = 0;
  // The loader state was the stopped process's own.
  m.libraries.defaultDirs = 0;
  m.libraries.currentDirSearched = true;
  m.libraries.dllDirectory.clear();
  for (MutexObject& x : m.process.mutexes) {
    if (x.owner != MutexOwner::Installer) continue;
    x.owner = MutexOwner::None;
    x.recursion = 0;
    x.abandoned = true;
  }
  m.cutCall = 0;
  m.cutInside = false;
  m.faultCall = 0;
  m.faultCallArmed = false;
}

void PowerCutRestart() {
  Machine& m = M();
  KillInstaller();
  for (ProcessEntry& p : m.process.processes) {
    p.ended = true;  // killed: what it would have done at its end never happens
    p.onEnd = nullptr;
  }
  m.process.mutexes.clear();  // no kernel object outlives the restart
  ApplyPendingMoves();
}

static const char* KindName(HandleKind kind) {
  switch (kind) {
    case HandleKind::Console: return "console";
    case HandleKind::Find: return "search";
    case HandleKind::HidDevice: return "HID device";
    case HandleKind::DeviceSet: return "device set";
    case HandleKind::Process: return "process";
    case HandleKind::Thread: return "thread";
    case HandleKind::Key: return "key";
    case HandleKind::Heap: return "heap";
    case HandleKind::File: return "file";
    case HandleKind::Module: return "library";
    case HandleKind::Mutex: return "mutex";
    case HandleKind::EventSource: return "event source";
    case HandleKind::TrustState: return "verification";
    case HandleKind::Mapping: return "file mapping";
  }
  return "?";
}

std::string Unreleased() {
  Machine& m = M();
  std::string out;
  for (const HandleEntry& h : m.handles)
    if (h.open && h.kind != HandleKind::Heap)
      out += std::string(out.empty() ? "" : "; ") + KindName(h.kind) + " " + h.name;
  auto count = [&out](size_t n, const char* what) {
    if (n) out += (out.empty() ? "" : "; ") + std::to_string(n) + " " + what;
  };
  count(m.devices.localBlocks.size(), "local block(s)");
  count(m.registry.heapBlocks.size(), "heap block(s)");
  count(m.registry.sids.size(), "SID(s)");
  size_t views = 0;
  for (const MappedView& v : m.files.views) views += v.mapped;
  count(views, "mapped view(s)");
  // Ownership outlives the handle: a run that closed it unreleased still blocks the others.
  for (size_t i = 0; i < m.process.mutexes.size(); i++) {
    const MutexObject& x = m.process.mutexes[i];
    if (x.owner == MutexOwner::Installer && (x.openElsewhere || InstallerHasOpen(i)))
      out += std::string(out.empty() ? "" : "; ") + "mutex " + x.name + " owned";
  }
  return out;
}

uint64_t NowFileTime() { return 133485408000000000ULL + M().clockMs * 10000ULL; }

std::vector<CallRecord> CallsTo(const std::string& op) {
  std::vector<CallRecord> out;
  for (const CallRecord& c : M().calls)
    if (c.op == op) out.push_back(c);
  return out;
}

const std::vector<CallRecord>& Calls() { return M().calls; }

int CountCalls(const std::string& op) { return (int)CallsTo(op).size(); }

std::string Hex(uint64_t value) {
  char buf[32];
  snprintf(buf, sizeof buf, "0x%llx", (unsigned long long)value);
  return buf;
}

std::string Dec(int64_t value) { return std::to_string(value); }

std::string Str(const char* s) { return s ? std::string(s) : std::string("NULL"); }

std::string Ptr(const void* p) { return p ? std::string("ptr") : std::string("NULL"); }

HANDLE NewHandle(HandleKind kind, int64_t id, const std::string& name, DWORD access) {
  Machine& m = M();
  m.handles.push_back(HandleEntry{kind, id, name, access, true});
  // Handle values are small multiples of four, as on Windows, never null or -1.
  return (HANDLE)(uintptr_t)(m.handles.size() * 4);
}

// The open entry behind a handle value, or null.
static HandleEntry* OpenEntry(HANDLE h) {
  uintptr_t v = (uintptr_t)h;
  Machine& m = M();
  if (v == 0 || v % 4 != 0 || v / 4 > m.handles.size()) return nullptr;
  HandleEntry* e = &m.handles[v / 4 - 1];
  return e->open ? e : nullptr;
}

HandleEntry* FindHandle(HANDLE h, HandleKind kind) {
  HandleEntry* e = OpenEntry(h);
  return e && e->kind == kind ? e : nullptr;
}

bool CloseKernelHandle(HANDLE h) {
  HandleEntry* e = OpenEntry(h);
  if (!e || e->kind == HandleKind::Key || e->kind == HandleKind::DeviceSet ||
      e->kind == HandleKind::Heap || e->kind == HandleKind::Module ||
      e->kind == HandleKind::EventSource || e->kind == HandleKind::TrustState)
    return false;
  e->open = false;
  return true;
}

int OpenHandles() {
  int n = 0;
  for (const HandleEntry& e : M().handles)
    if (e.open && e.kind != HandleKind::Heap) n++;
  return n;
}

int OpenHandles(HandleKind kind) {
  int n = 0;
  for (const HandleEntry& e : M().handles)
    if (e.open && e.kind == kind) n++;
  return n;
}

void ReleaseAnyHandle(HANDLE h) {
  if (HandleEntry* e = OpenEntry(h)) e->open = false;
}

const std::string& Output() { return M().console.out; }

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++)
    if (tolower((unsigned char)a[i]) != tolower((unsigned char)b[i])) return false;
  return true;
}

std::string Lower(const std::string& s) {
  std::string r = s;
  for (char& c : r) c = (char)tolower((unsigned char)c);
  return r;
}

void TrackAllocation(int delta) {
  M().liveAllocations += delta;
  if (delta > 0) M().totalAllocations += delta;
}

}  // namespace sim

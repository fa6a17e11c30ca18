// The simulated Windows machine: one model that a test arranges through the functions below,
// that the simulated operations act on, and that the test then inspects. Every operation the
// installer can see fail can be told to fail with an error code the test chooses.
#ifndef PLATFORM_SIM_MACHINE_H
#define PLATFORM_SIM_MACHINE_H

#include <stdint.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "sim_types.h"
#include "model_devices.h"
#include "model_events.h"
#include "model_files.h"
#include "model_libraries.h"
#include "model_process.h"
#include "model_registry.h"
#include "model_signatures.h"

namespace sim {

// One call the installer made. Arguments are recorded as text: strings as they were passed
// (a null pointer as "NULL"), numbers through Hex() or Dec(), pointers through Ptr().
struct CallRecord {
  std::string op;
  std::vector<std::string> args;
};

// A failure to inject: the next calls of `op` whose target matches (compared without case;
// an empty target matches every call) fail with `error`, after `skip` matching calls have
// gone through, for `times` calls (-1: for ever).
struct Fault {
  std::string op;
  std::string target;
  DWORD error;
  int skip;
  int times;
};

enum class HandleKind { Console, Find, HidDevice, DeviceSet, Process, Thread, Key, Heap, File,
                        Module, Mutex, EventSource, TrustState, Mapping };

// A byte range locked through one handle of a file; a closed handle holds none.
struct FileLock {
  uint64_t start;
  uint64_t length;
  bool exclusive;
};

struct HandleEntry {
  HandleKind kind;
  int64_t id;        // the object inside its area's model
  std::string name;  // what it was opened by, for messages
  DWORD access;
  bool open;
  DWORD share = 0;        // files: what this opener lets others do
  uint64_t position = 0;  // files: where the next write goes unless appending
  std::vector<FileLock> locks;  // files: the byte ranges this handle has locked
};

struct ConsoleModel {
  std::string out;          // every byte written to standard output
  std::string in;           // what standard input will deliver
  size_t inPos = 0;
  bool hasConsole = true;   // the console input device can be opened
  std::deque<INPUT_RECORD> events;
  DWORD mode = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT;
  std::vector<DWORD> modesSet;  // every mode the installer set, in order
  int blockedReads = 0;     // reads that found no event: real Windows would wait for ever
};

// How calls are recorded: every call as text (the tests' record), none (a sweep or fuzzer
// that only counts them), or only the calls that take a path or a command line.
enum class Recording { All, None, Paths };

// Thrown from inside a simulated call to stop the run as a power cut would; the sweep that
// asked for it catches it around Main. The installer's own code is plain C++ and unwinds.
struct PowerCut {};
// Thrown when a run makes more calls than any run can: a loop that would never end.
struct Runaway {};

struct Machine {
  std::string systemDir = "C:\\WINDOWS\\system32";
  bool systemDirFails = false;
  std::string windowsDir = "C:\\WINDOWS";  // what GetSystemWindowsDirectoryA gives
  DWORD processId = 4242;
  // The ANSI code page GetACP answers (1252 or 65001), and the command line GetCommandLineW
  // gives: the start-up code's argv is that line converted to the code page, best fit
  // included (see ArgumentsOf).
  UINT ansiCodePage = 1252;
  std::u16string commandLine;
  int currentDrive = 3;  // 1 = A:, 3 = C:
  DWORD lastError = 0;
  uint64_t clockMs = 0;  // virtual time; Sleep and waits advance it
  // The local time at clockMs 0; GetLocalTime adds the virtual time to it.
  SYSTEMTIME startTime = {2026, 3, 1, 9, 8, 30, 0, 0};  // Monday 9 March 2026, 08:30

  ConsoleModel console;
  FilesModel files;
  RegistryModel registry;
  DevicesModel devices;
  ProcessModel process;
  LibrariesModel libraries;
  EventsModel events;
  SignaturesModel signatures;
  // The running program's file, as GetModuleFileNameA gives it: set by SetRunningImage, kept
  // when the file is renamed (empty: kUnarrangedImage).
  std::string modulePath;
  std::string lastModulePath;  // the program the last run that ended was started as

  std::vector<Fault> faults;
  // Another program's act at a chosen moment: run once, just before the installer's call of
  // `actBeforeOp` that follows `actSkip` others of it does its work.
  std::string actBeforeOp;
  int actSkip = 0;
  std::function<void()> act;
  std::vector<CallRecord> calls;
  Recording recording = Recording::All;
  int64_t callCount = 0;        // every call to the seam, recorded as text or not
  const char* lastOp = "";      // the operation of the latest call
  int64_t callLimit = 0;        // more calls than this throw Runaway (0: no limit)
  // The fault on the n-th call, whatever its operation: call `faultCall` (counted from 1)
  // fails with `faultCallError` when it reaches its fault check. `faultCallFired` tells
  // whether it did (an operation that cannot fail never reaches one).
  int64_t faultCall = 0;
  DWORD faultCallError = 0;
  bool faultCallArmed = false;
  bool faultCallFired = false;
  // The cut: call `cutCall` does not happen (the run stops before it), or, with
  // `cutInside`, a copy that it starts leaves a truncated destination first.
  int64_t cutCall = 0;
  bool cutInside = false;
  std::deque<HandleEntry> handles;  // handle value / 4 - 1 is the index; kept once closed
  int64_t liveAllocations = 0;        // LocalAlloc/HeapAlloc minus their releases
  int64_t totalAllocations = 0;
};

Machine& M();

// A fresh machine: C:\WINDOWS\system32 exists (with drivers and SysWOW64 beside it), an empty
// console, no devices, the services key in the registry, nothing injected or recorded.
void Reset();

// Each area prepares its part of a fresh machine (called by Reset).
void InitFiles();
void InitRegistry();
void InitDevices();
void InitProcess();
void InitLibraries();
void InitSignatures();

// Arranging.
void InjectFault(const std::string& op, DWORD error, const std::string& target = "",
                 int times = -1, int skip = 0);
void SetStdin(const std::string& text);
void PressKey(char ch);                 // a key that yields a character
void PressExtendedKey(WORD virtualKey); // a cursor or function key: no character
void PressModifier(WORD virtualKey);    // Shift, Ctrl or Alt alone
void AddNonKeyEvent();                  // a focus event, which key waits skip
// Another program does `act` just before the installer's call of `op` that follows `skip`
// others of it (a race won).
void ActBefore(const std::string& op, std::function<void()> act, int skip = 0);

// Inspecting.
std::vector<CallRecord> CallsTo(const std::string& op);
const std::vector<CallRecord>& Calls();  // every call, in order
int CountCalls(const std::string& op);
int OpenHandles();
int OpenHandles(HandleKind kind);
const std::string& Output();

// The code pages. ToCodePage converts as WideCharToMultiByte does, without a call recorded:
// 1252 holds U+0000..U+00FF and writes a few more characters by best fit (full-width ASCII
// as ASCII, some accented capitals without their accent) unless `noBestFit`; any other
// character becomes '?' and sets *usedDefault. 65001 is UTF-8, a lone surrogate as U+FFFD.
std::string ToCodePage(const std::u16string& text, UINT codePage, bool noBestFit,
                       bool* usedDefault);
// The arguments the C runtime hands to main for this command line: the line converted to the
// machine's ANSI code page (best fit included), split by the runtime's rules for blanks,
// quotes and backslashes.
std::vector<std::string> ArgumentsOf(const std::u16string& commandLine);
// The command line of a start with these arguments, read back from the machine's ANSI code
// page (1252: each byte is the character of its number; 65001: UTF-8); an argument with a
// blank in it, or an empty one, is quoted.
std::u16string CommandLineOf(const std::vector<std::string>& args);
// UTF-8 read as UTF-16; a byte of no well-formed sequence becomes U+FFFD.
std::u16string FromUtf8(const std::string& text);

// For the simulated operations.
bool FaultCode(const char* op, const std::string& target, DWORD* error);
bool Faulted(const char* op, const std::string& target = "");  // also sets the last error
void Record(const char* op, std::vector<std::string> args);
// Counts a call of `op`, applies the n-th-call fault and the cut, and answers whether the call
// is to be recorded as text.
bool CountCall(const char* op);

// One call of a simulated operation, named once: SIM_CALL at the start of the operation counts
// it under the function's own name (SIM_CALL_AS under another, for a function that cannot bear
// the Windows name), applies the n-th-call fault and the cut, and records the arguments when
// the machine records calls as text; they are only built then. `call.Faulted(target)` then
// answers whether an injected fault fails it (and sets the last error), under the same name.
struct Call {
  explicit Call(const char* name) : op(name), recorded(CountCall(name)) {}
  bool Faulted(const std::string& target = "") const { return sim::Faulted(op, target); }
  bool FaultCode(const std::string& target, DWORD* error) const {
    return sim::FaultCode(op, target, error);
  }
  const char* op;
  bool recorded;
};
#define SIM_CALL_AS(name, ...)    \
  const sim::Call call(name);     \
  if (call.recorded) sim::Record(call.op, __VA_ARGS__)
#define SIM_CALL(...) SIM_CALL_AS(__func__, __VA_ARGS__)

// Fails a call as Windows does: sets the last error and gives the call's answer for a failure
// (FALSE or 0, or the one given: INVALID_HANDLE_VALUE, NULL, ...).
inline bool Fail(DWORD error) {
  M().lastError = error;
  return false;
}
template <typename T>
T Fail(DWORD error, T answer) {
  M().lastError = error;
  return answer;
}

// The restart after a power cut: handles and memory of the stopped run are gone, its
// processes have ended (without their end effects), and the recorded moves are carried out.
void PowerCutRestart();
// The installer's process killed, the machine running on: its handles and memory are gone, a
// mutex it owned is abandoned (and so dies unless another process has it open), and what it
// started and recorded for the restart stays.
void KillInstaller();
// What a run left open: handles, keys, local and heap blocks, SIDs, a mutex it still owns;
// empty when nothing.
std::string Unreleased();
// The current time of the virtual clock as a file time (from 2024-01-01).
uint64_t NowFileTime();
std::string Hex(uint64_t value);
std::string Dec(int64_t value);
std::string Str(const char* s);
std::string Ptr(const void* p);
HANDLE NewHandle(HandleKind kind, int64_t id, const std::string& name = "", DWORD access = 0);
HandleEntry* FindHandle(HANDLE h, HandleKind kind);
bool CloseKernelHandle(HANDLE h);  // what CloseHandle may close (not keys, sets or heaps)
void ReleaseAnyHandle(HANDLE h);   // for the areas' own release calls (RegCloseKey, ...)
bool EqualNoCase(const std::string& a, const std::string& b);
std::string Lower(const std::string& s);
void TrackAllocation(int delta);
// CloseHandle of a file handle tells the files (a file marked for deletion may go now).
void FileHandleClosed(const std::string& name);
// The file an open file handle holds, wherever its path now leads; null when none.
FileEntry* FileOf(const HandleEntry& h);

}  // namespace sim

#endif

// The fault sweep and the interruption sweep over the machines of machines.cpp.
//
// Fault sweep: each machine's run is recorded; then it runs again once per recorded call and
// per error Windows gives for that operation, with that call failing, and every run must keep
// the rules of CheckRun. Interruption sweep: each run is cut short after every call (and in
// the middle of every copy), the machine restarts, and an unattended run must then leave it
// as the uncut run does; so must a run after the cut run's process was killed without a
// restart, which finds the lock abandoned. Prints its figures; exits 1 on any violation.
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "machines.h"
#include "platform/sim/machine.h"
#include "proof.h"
#include "setup/lock.h"

using namespace proof;

namespace {

// The errors Windows gives for each operation that can fail. An operation not listed fails
// with access denied only.
const std::map<std::string, std::vector<DWORD>>& ErrorsByOperation() {
  static const std::map<std::string, std::vector<DWORD>> errors = {
      {"FindFirstFileA", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                          ERROR_SHARING_VIOLATION, ERROR_NOT_ENOUGH_MEMORY}},
      {"FindClose", {ERROR_INVALID_HANDLE}},
      {"SetFileAttributesA", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                              ERROR_SHARING_VIOLATION}},
      {"CopyFileA", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                     ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_NOT_ENOUGH_MEMORY,
                     ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL}},
      {"MoveFileExA", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                       ERROR_SHARING_VIOLATION, ERROR_NOT_ENOUGH_MEMORY, ERROR_DISK_FULL}},
      {"CreateDirectoryA", {ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_ALREADY_EXISTS,
                            ERROR_DISK_FULL}},
      {"GetTempFileNameA", {ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_FILE_EXISTS,
                            ERROR_DISK_FULL, ERROR_BUFFER_OVERFLOW}},
      // "Not found" from a deletion means the file is gone, and the removal counts it so;
      // told of a file that is there, it would be a machine Windows cannot be.
      {"DeleteFileA", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_NOT_ENOUGH_MEMORY}},
      {"GetFullPathNameA", {ERROR_INVALID_NAME, ERROR_FILENAME_EXCED_RANGE}},
      {"RemoveDirectoryA", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_DIR_NOT_EMPTY}},
      {"WriteFile", {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_ACCESS_DENIED,
                     ERROR_LOCK_VIOLATION, ERROR_INVALID_HANDLE}},
      {"LockFileEx", {ERROR_LOCK_VIOLATION, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}},
      {"UnlockFileEx", {ERROR_NOT_LOCKED, ERROR_INVALID_HANDLE}},
      {"GetFileInformationByHandle", {ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED,
                                      ERROR_INVALID_FUNCTION}},
      {"GetFinalPathNameByHandleA", {ERROR_PATH_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY,
                                     ERROR_INVALID_PARAMETER, ERROR_INVALID_FUNCTION}},
      {"SetFileInformationByHandle", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
                                      ERROR_NOT_SAME_DEVICE, ERROR_INVALID_PARAMETER,
                                      ERROR_DISK_FULL}},
      {"MultiByteToWideChar", {ERROR_NO_UNICODE_TRANSLATION, ERROR_INSUFFICIENT_BUFFER,
                               ERROR_INVALID_PARAMETER}},
      {"GetSystemWindowsDirectoryA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"WideCharToMultiByte", {ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_FLAGS,
                               ERROR_INVALID_PARAMETER, ERROR_NO_UNICODE_TRANSLATION}},
      {"CreateFileA", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                       ERROR_SHARING_VIOLATION, ERROR_NOT_ENOUGH_MEMORY}},
      {"GetSystemDirectoryA", {ERROR_NOT_ENOUGH_MEMORY}},
      {"CloseHandle", {ERROR_INVALID_HANDLE}},
      {"GetConsoleMode", {ERROR_INVALID_HANDLE}},
      {"SetConsoleMode", {ERROR_INVALID_HANDLE}},
      {"ReadConsoleInputA", {ERROR_INVALID_HANDLE, ERROR_NOT_ENOUGH_MEMORY}},
      {"SetupDiGetClassDevsA", {ERROR_NOT_ENOUGH_MEMORY, ERROR_ACCESS_DENIED}},
      {"SetupDiEnumDeviceInterfaces", {ERROR_NO_MORE_ITEMS, ERROR_NOT_ENOUGH_MEMORY}},
      {"SetupDiGetDeviceInterfaceDetailA",
       {ERROR_INSUFFICIENT_BUFFER, ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_HANDLE}},
      {"SetupDiEnumDeviceInfo", {ERROR_NO_MORE_ITEMS, ERROR_NOT_ENOUGH_MEMORY}},
      {"SetupDiGetDeviceRegistryPropertyA",
       {ERROR_INVALID_DATA, ERROR_INSUFFICIENT_BUFFER, ERROR_NOT_ENOUGH_MEMORY,
        ERROR_ACCESS_DENIED}},
      {"SetupDiDestroyDeviceInfoList", {ERROR_INVALID_HANDLE}},
      {"HidD_GetAttributes", {ERROR_INVALID_HANDLE, ERROR_GEN_FAILURE, ERROR_ACCESS_DENIED}},
      {"LocalAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
      {"RegOpenKeyExA", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_OUTOFMEMORY,
                         ERROR_KEY_DELETED, ERROR_INVALID_HANDLE}},
      {"RegEnumKeyExA", {ERROR_MORE_DATA, ERROR_NO_MORE_ITEMS, ERROR_ACCESS_DENIED,
                         ERROR_OUTOFMEMORY, ERROR_KEY_DELETED, ERROR_INVALID_HANDLE}},
      // "Not found" from the size query means nothing is recorded; told of a list that is
      // there, it would be a machine Windows cannot be. From the read it means the list went
      // away between the two calls, which the installer asks again about: see the unit tests.
      {"RegQueryValueExA", {ERROR_MORE_DATA, ERROR_ACCESS_DENIED, ERROR_OUTOFMEMORY}},
      {"RegDeleteKeyA", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND, ERROR_OUTOFMEMORY,
                         ERROR_KEY_DELETED}},
      {"RegGetKeySecurity", {ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER, ERROR_OUTOFMEMORY,
                             ERROR_KEY_DELETED}},
      {"RegSetKeySecurity", {ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER, ERROR_OUTOFMEMORY,
                             ERROR_KEY_DELETED}},
      {"RegCreateKeyExA", {ERROR_ACCESS_DENIED, ERROR_OUTOFMEMORY, ERROR_KEY_DELETED,
                           ERROR_INVALID_HANDLE}},
      {"RegSetValueExA", {ERROR_ACCESS_DENIED, ERROR_OUTOFMEMORY, ERROR_KEY_DELETED,
                          ERROR_INVALID_HANDLE}},
      {"AllocateAndInitializeSid", {ERROR_NOT_ENOUGH_MEMORY}},
      {"InitializeAcl", {ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER}},
      {"AddAccessAllowedAce", {ERROR_ALLOTTED_SPACE_EXCEEDED, ERROR_INVALID_SID}},
      {"InitializeSecurityDescriptor", {ERROR_UNKNOWN_REVISION}},
      {"SetSecurityDescriptorDacl", {ERROR_INVALID_SECURITY_DESCR}},
      {"HeapAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
      {"CreateProcessA", {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                          ERROR_NOT_ENOUGH_MEMORY, ERROR_BAD_EXE_FORMAT,
                          ERROR_SHARING_VIOLATION}},
      {"GetExitCodeProcess", {ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED}},
      {"WaitForSingleObject", {ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED}},
      // hid.dll missing, its flag not understood (Windows 7 without the loader update),
      // refused, out of memory, or damaged.
      {"LoadLibraryExA", {ERROR_MOD_NOT_FOUND, ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED,
                          ERROR_NOT_ENOUGH_MEMORY, ERROR_BAD_EXE_FORMAT}},
      {"GetProcAddress", {ERROR_PROC_NOT_FOUND}},
      {"FreeLibrary", {ERROR_INVALID_HANDLE}},
      {"GetModuleHandleA", {ERROR_MOD_NOT_FOUND}},
      {"SetDefaultDllDirectories", {ERROR_INVALID_PARAMETER}},
      {"SetDllDirectoryA", {ERROR_INVALID_PARAMETER, ERROR_NOT_ENOUGH_MEMORY}},
      // Access denied: the name's object withholds access; an invalid handle: the name is an
      // object of another type.
      {"CreateMutexExA", {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_NO_SYSTEM_RESOURCES}},
      {"SetSecurityDescriptorControl", {ERROR_INVALID_PARAMETER}},
      {"GetLongPathNameA", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_NOT_ENOUGH_MEMORY}},
      {"ReleaseMutex", {ERROR_NOT_OWNER, ERROR_INVALID_HANDLE}},
  };
  return errors;
}

const std::vector<DWORD>& ErrorsFor(const sim::CallRecord& call) {
  static const std::vector<DWORD> accessDenied = {ERROR_ACCESS_DENIED};
  // The removal counts an entry that is not found as gone: told so of one that is there, it
  // would be a machine Windows cannot be.
  static const std::vector<DWORD> entryDeletion = {ERROR_ACCESS_DENIED, ERROR_OUTOFMEMORY,
                                                   ERROR_KEY_DELETED};
  if (call.op == "RegDeleteKeyA" && call.args.size() > 1 &&
      IsEntryKey("HKLM\\" + call.args[1]))
    return entryDeletion;
  auto it = ErrorsByOperation().find(call.op);
  return it == ErrorsByOperation().end() ? accessDenied : it->second;
}

// A fresh machine arranged as the row says, its calls counted (and recorded when asked).
void Prepare(const MachineCase& machine, bool record) {
  sim::Reset();
  proof::SetManifest("");  // a global of the installer's, which no reset of the machine clears
  machine.arrange();
  sim::M().recording = record ? sim::Recording::All : sim::Recording::None;
}

int violations = 0;

void Report(const MachineCase& machine, const std::string& what,
            const std::vector<std::string>& problems) {
  for (const std::string& p : problems) {
    if (++violations <= 40) printf("  VIOLATION %s, %s: %s\n", machine.name, what.c_str(), p.c_str());
  }
}

// The calls of the recorded run, in order.
std::vector<sim::CallRecord> RecordedCalls(const MachineCase& machine, Outcome* outcome,
                                           Snapshot* before) {
  Prepare(machine, true);
  *before = TakeSnapshot();
  *outcome = Start(machine, false);
  return sim::M().calls;
}

std::vector<std::string> OpsOf(const std::vector<sim::CallRecord>& calls) {
  std::vector<std::string> ops;
  for (const sim::CallRecord& c : calls) ops.push_back(c.op);
  return ops;
}

void FaultSweep() {
  long calls = 0, faultRuns = 0, swapRuns = 0;
  for (const MachineCase& machine : Machines()) {
    RunRules rules = Rules(machine);
    Outcome outcome;
    Snapshot before;
    std::vector<sim::CallRecord> recorded = RecordedCalls(machine, &outcome, &before);
    std::vector<std::string> ops = OpsOf(recorded);
    std::vector<std::string> uncutProblems = CheckRun(rules, before, outcome);
    if (outcome.exitCode != machine.exitCode)
      uncutProblems.push_back("ended with " + std::to_string(outcome.exitCode));
    Report(machine, "uncut run", uncutProblems);
    Report(machine, "uncut run", CheckAfterRestart(rules, outcome));
    int64_t limit = (int64_t)ops.size() * 20 + 10000;
    calls += (long)ops.size();
    for (size_t i = 0; i < ops.size(); i++) {
      for (DWORD error : ErrorsFor(recorded[i])) {
        Prepare(machine, false);
        sim::M().faultCall = (int64_t)i + 1;
        sim::M().faultCallError = error;
        sim::M().callLimit = limit;
        Outcome o = Start(machine, false);
        // An operation that cannot fail there never reaches its fault: no further errors.
        if (!sim::M().faultCallFired) break;
        faultRuns++;
        Report(machine,
               "call " + std::to_string(i + 1) + " " + ops[i] + " error " + std::to_string(error),
               CheckRun(rules, before, o));
        Report(machine, "call " + std::to_string(i + 1) + " " + ops[i] + " error " +
                            std::to_string(error) + ", after the restart",
               CheckAfterRestart(rules, o));
        sim::Reset();  // what the run left open is freed here, after the check saw it
      }
    }
    if (!machine.swap) continue;
    // The package changes before each call in turn; the files it reads as they are after.
    Prepare(machine, false), machine.swap(), before = TakeSnapshot();
    for (size_t i = 0; i < ops.size(); i++, swapRuns++) {
      Prepare(machine, false);
      sim::M().callLimit = limit;
      sim::ActBefore(ops[i], machine.swap, (int)std::count(ops.begin(), ops.begin() + i, ops[i]));
      Outcome o = Start(machine, false);
      std::string what = "package changed before call " + std::to_string(i + 1) + " " + ops[i];
      Report(machine, what, CheckRun(rules, before, o));
      Report(machine, what + ", after the restart", CheckAfterRestart(rules, o));
    }
  }
  printf("fault sweep: %zu machines, %ld calls swept, %ld fault runs, %ld package swaps, "
         "%d violations\n", Machines().size(), calls, faultRuns, swapRuns, violations);
}

// The machine after the restart that follows a run, and after the unattended run that an
// administrator starts then, with its own restart.
struct Converged {
  Snapshot afterRestart;
  int exitCode;
};

// A file in use is replaced at the restart by a copy that Windows names uniquely ("tvx" and a
// number, ".TMP") beside it. A cut after the name was taken and before the move was recorded
// leaves that copy unused, and no later run can tell it from another program's file: the
// installer keeps no record between runs, and deleting files by a pattern in the system
// directory could delete others'. It is never loaded and the destination is intact, so the
// comparison leaves such copies out; the sweep counts them. Returns whether there were any.
bool DropUnusedReplacementCopies(const Snapshot& reference, Snapshot* final) {
  bool dropped = false;
  for (auto it = final->files.begin(); it != final->files.end();) {
    const std::string& path = it->first;
    std::string name = path.substr(path.rfind('\\') + 1);
    bool copy = !reference.files.count(path) && name.compare(0, 3, "tvx") == 0 &&
                name.size() > 7 && name.compare(name.size() - 4, 4, ".tmp") == 0;
    if (copy) {
      it = final->files.erase(it);
      dropped = true;
    } else {
      ++it;
    }
  }
  return dropped;
}

bool ExitAccepted(int uncut, int rerun) {
  // An installation reports 0 or 1; a machine whose card's USB function does not work always
  // reports 16 once the software is installed, and a restart need not be needed any more.
  if (uncut == 0 || uncut == 1) return rerun == 0 || rerun == 1;
  return rerun == uncut;
}

// How a run is cut short: the machine loses power after a call, or in the middle of a copy,
// and restarts; or the run's process is killed after a call and the machine runs on, while a
// second run waiting for the lock keeps it open, so that the lock is left abandoned for it.
enum class Cut { PowerBefore, PowerInside, Kill };

int InterruptionSweep() {
  long cutPoints = 0, insideCopies = 0, strandedCopies = 0, kills = 0, abandoned = 0;
  int failures = 0;
  for (const MachineCase& machine : Machines()) {
    Outcome uncut;
    Snapshot before;
    std::vector<std::string> ops = OpsOf(RecordedCalls(machine, &uncut, &before));
    sim::PowerCutRestart();
    if (machine.rewrite) machine.rewrite();
    Snapshot reference = TakeSnapshot();
    RunRules rules = Rules(machine);
    TakeOutLogs(rules, &reference);

    for (size_t k = 1; k <= ops.size(); k++) {
      // Cut after call k-1 (k = 1: before the first call), or in the middle of copy k.
      for (Cut how : {Cut::PowerBefore, Cut::PowerInside, Cut::Kill}) {
        if (how == Cut::PowerInside && ops[k - 1] != "CopyFileA") continue;
        Prepare(machine, false);
        if (how == Cut::Kill && !sim::FindMutex(SETUP_LOCK_NAME))
          sim::HoldMutex(SETUP_LOCK_NAME, 0);
        sim::M().cutCall = (int64_t)k;
        sim::M().cutInside = how == Cut::PowerInside;
        Outcome cut = Start(machine, false);
        if (!cut.cut) continue;  // a copy that failed before writing was not cut inside
        (how == Cut::PowerInside ? insideCopies : how == Cut::Kill ? kills : cutPoints)++;
        bool leftAbandoned = false;
        if (how == Cut::Kill) {
          sim::KillInstaller();
          const sim::MutexObject* lock = sim::FindMutex(SETUP_LOCK_NAME);
          leftAbandoned = lock && lock->abandoned;
          abandoned += leftAbandoned;
        } else {
          sim::PowerCutRestart();
          if (machine.rewrite) machine.rewrite();
        }
        sim::M().console.out.clear();
        sim::M().callLimit = sim::M().callCount + (int64_t)ops.size() * 20 + 10000;
        Outcome rerun = Start(machine, true);
        std::vector<std::string> problems;
        if (rerun.runaway || !ExitAccepted(uncut.exitCode, rerun.exitCode))
          problems.push_back("the run after the restart ended with " +
                             std::to_string(rerun.exitCode));
        std::string open = sim::Unreleased();
        if (!open.empty()) problems.push_back("left open: " + open);
        const sim::MutexObject* lock = sim::FindMutex(SETUP_LOCK_NAME);
        if (leftAbandoned && lock && lock->abandoned)
          problems.push_back("the run after the kill did not take the abandoned lock");
        // The entry is there exactly when the software is, whatever the reference holds.
        // (A removal that fails, as over lists it cannot follow, keeps it.)
        if (rules.removal && rerun.exitCode != 2 && sim::KeyExists(kEntryKey))
          problems.push_back("the uninstall entry is there after the removal");
        int code = rerun.exitCode;
        if (rules.installs && !rules.removal && (code == 0 || code == 1 || code == 16))
          for (const std::string& p : EntryProblems()) problems.push_back(p);
        for (const std::string& p : CheckAfterRestart(rules, rerun)) problems.push_back(p);
        Snapshot final = TakeSnapshot();
        // The log holds both runs' lines; they must be whole.
        for (const std::string& p : TakeOutLogs(rules, &final)) problems.push_back(p);
        if (DropUnusedReplacementCopies(reference, &final)) strandedCopies++;
        for (const std::string& d : Differences(reference, final)) problems.push_back(d);
        if (!problems.empty()) failures++;
        const char* what = how == Cut::PowerInside ? "cut inside call "
                           : how == Cut::Kill      ? "killed before call "
                                                   : "cut before call ";
        Report(machine, what + std::to_string(k) + " " + ops[k - 1], problems);
      }
    }
  }
  sim::Reset();
  printf("interruption sweep: %zu machines, %ld cut points (%ld of them inside a copy), "
         "%ld kills without a restart (%ld of them leave the lock abandoned), %d failures; "
         "%ld cuts leave an unused replacement copy behind\n", Machines().size(),
         cutPoints + insideCopies, insideCopies, kills, abandoned, failures, strandedCopies);
  return failures;
}

}  // namespace

// Both sweeps, or the one named ("fault", "interruption"), so that the two can run at once.
int main(int argc, char** argv) {
  const char* only = argc > 1 ? argv[1] : "";
  if (strcmp(only, "interruption") != 0) FaultSweep();
  int faultViolations = violations;
  int failures = strcmp(only, "fault") != 0 ? InterruptionSweep() : 0;
  return faultViolations == 0 && failures == 0 ? 0 : 1;
}

// The simulated programs that the installer can start: an executable at a path with a run
// time on the virtual clock, an exit code, and effects that run when it starts and when it
// ends. The processes started from them, and the start-up information the installer has.
#ifndef PLATFORM_SIM_MODEL_PROCESS_H
#define PLATFORM_SIM_MODEL_PROCESS_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "sim_types.h"

namespace sim {

struct Program {
  std::string path;          // full path, compared without case
  uint64_t runMs = 0;        // 0: it has ended by the time CreateProcessA returns
  bool neverEnds = false;    // runs until the test ends
  DWORD exitCode = 0;        // STILL_ACTIVE (259) is allowed: a tool can end with it
  std::function<void()> onStart;  // run inside CreateProcessA
  std::function<void()> onEnd;    // run when the virtual clock passes its end
};

struct ProcessEntry {
  std::string program;       // the path of the program that runs
  std::string commandLine;   // as CreateProcessA received it
  std::string image;         // the bytes of its file when it was started
  uint64_t startMs = 0;
  uint64_t endMs = 0;
  bool neverEnds = false;
  bool ended = false;
  DWORD exitCode = 0;
  STARTUPINFOA startup{};    // the start-up record it was given
  std::function<void()> onEnd;
};

// A named mutex. The installer's handles to it are its open handles of kind Mutex; it lives
// while one of them is open or another process has it open, as a kernel object does.
const uint64_t kForever = UINT64_MAX;
enum class MutexOwner { None, Installer, Other };
// The accounts that run the installer: an elevated administrator (High integrity) and SYSTEM
// (a deployment agent; System integrity, and a member of Administrators).
enum class Account { Administrator, System };
struct MutexObject {
  std::string name;          // compared exactly, as Windows compares object names
  // Its security: what its DACL grants each account's SIDs, and who made it. An object that
  // SYSTEM makes carries the System label, which refuses write-type rights to a High-level
  // process whatever the DACL grants. Made without a descriptor, it gets its creator's
  // default: SYSTEM's grants Administrators read and SYNCHRONIZE only.
  Account creator = Account::Administrator;
  DWORD systemRights = MUTEX_ALL_ACCESS;
  DWORD adminRights = MUTEX_ALL_ACCESS;
  bool openElsewhere = false;  // another process has it open
  MutexOwner owner = MutexOwner::None;
  DWORD recursion = 0;       // the installer's takes not yet released
  uint64_t otherLetsGoMs = kForever;  // when the other owner lets it go
  bool otherAbandons = false;  // ... by ending without releasing it
  bool abandoned = false;    // the next wait that takes it returns WAIT_ABANDONED
};

struct ProcessModel {
  std::vector<Program> programs;
  std::vector<MutexObject> mutexes;  // every mutex made; the dead ones stay, unused
  std::vector<ProcessEntry> processes;  // every process started, in order
  // What GetStartupInfoA gives: the installer's own start-up information.
  STARTUPINFOA own{};
  Account account = Account::Administrator;  // whom the installer runs as
};

// Arranging: what the program at a path does when started. A program starts only while its
// file exists: AddProgram puts one there, and a test may take it away again so that a copy
// brings it back later. An executable file with no program added runs and ends at once with 0.
size_t AddProgram(const std::string& path, uint64_t runMs, DWORD exitCode = 0,
                  std::function<void()> onStart = nullptr,
                  std::function<void()> onEnd = nullptr);
size_t AddNeverEndingProgram(const std::string& path,
                             std::function<void()> onStart = nullptr);
// Ends the processes whose run time has passed on the virtual clock, running their end
// effects. The process operations call it; a test may too.
void SettleProcesses();
// How many processes of the program at this path are running now.
int RunningProcesses(const std::string& path);

// Another process has the named mutex open and owns it until the virtual time `letGoMs`
// (kForever: never; 0: it is free already), when it releases it or, with `abandons`, ends
// without releasing it, so that the next wait that takes it returns WAIT_ABANDONED.
// It was made by `creator` without a descriptor, as a run of an older installer did.
void HoldMutex(const std::string& name, uint64_t letGoMs = kForever, bool abandons = false,
               Account creator = Account::Administrator);
// The live mutex of that name, its other owner's release applied up to now; null when none.
MutexObject* FindMutex(const std::string& name);
// Whether the installer has the mutex at this index open through a handle.
bool InstallerHasOpen(size_t index);

}  // namespace sim

#endif

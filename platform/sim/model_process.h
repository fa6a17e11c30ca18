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
  uint64_t startMs = 0;
  uint64_t endMs = 0;
  bool neverEnds = false;
  bool ended = false;
  DWORD exitCode = 0;
  STARTUPINFOA startup{};    // the start-up record it was given
  std::function<void()> onEnd;
};

struct ProcessModel {
  std::vector<Program> programs;
  std::vector<ProcessEntry> processes;  // every process started, in order
  // What GetStartupInfoA gives: the installer's own start-up information.
  STARTUPINFOA own{};
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

}  // namespace sim

#endif

// Service tools on the simulated machine.
#include "fixture_process.h"
#include <functional>

#include "platform/sim/machine.h"

void FixtureAddTool(const std::string& name, unsigned runMs, unsigned exitCode,
                    const std::string& holdPath, unsigned holdMs) {
  // The virtual clock has no holder process of its own: the hold lasts to the end of the test.
  (void)holdMs;
  std::function<void()> onStart;
  if (!holdPath.empty())
    onStart = [holdPath] {
      if (!sim::FileExists(holdPath)) sim::AddFile(holdPath, "", 0);
      sim::HoldOpen(holdPath);
    };
  sim::AddProgram(sim::M().systemDir + "\\" + name, runMs, exitCode, onStart);
}

void FixtureRemoveTools() {
  for (const sim::Program& p : sim::M().process.programs) sim::RemoveFile(p.path);
  sim::M().process.programs.clear();
}

std::vector<std::string> FixtureToolRuns(const std::string& name) {
  std::vector<std::string> runs;
  for (const sim::ProcessEntry& p : sim::M().process.processes)
    if (sim::EqualNoCase(p.program, sim::M().systemDir + "\\" + name))
      runs.push_back(p.commandLine);
  return runs;
}

uint64_t FixtureNowMs() { return sim::M().clockMs; }

std::string FixtureCapture(const std::function<void()>& run) {
  size_t from = sim::Output().size();
  run();
  return sim::Output().substr(from);
}

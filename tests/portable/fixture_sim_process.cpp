// Service tools on the simulated machine.
#include "fixture_process.h"
#include "platform/sim/machine.h"

void FixtureAddTool(const std::string& name, unsigned runMs, unsigned exitCode,
                    const std::string& holdPath, unsigned holdMs) {
  (void)holdPath;
  (void)holdMs;
  sim::AddProgram(sim::M().systemDir + "\\" + name, runMs, exitCode);
}

void FixtureRemoveTools() { sim::M().process.programs.clear(); }

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

// The portable tests' machine on the host: the simulated one.
#include "fixture.h"
#include "platform/sim/machine.h"
#include "proof/proof.h"
#include "setup/messages.h"
#include "setup/setup.h"

void FixtureBegin() {
  sim::Reset();
  ResetRunState();
  proof::SetManifest("");
}

void FixtureEnd() {}

std::string FixtureOutput() { return sim::Output(); }

std::string FixtureSystemDir() { return sim::M().systemDir; }

int FixtureRunMain(const std::vector<std::string>& args) {
  sim::M().commandLine = sim::CommandLineOf(args);
  ArgumentVector argv(args);
  return Main(argv.argc(), argv.argv());
}

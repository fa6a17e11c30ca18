// The portable tests' machine on the host: the simulated one.
#include "fixture.h"
#include "platform/sim/machine.h"
#include "setup/messages.h"
#include "setup/setup.h"

void FixtureBegin() {
  sim::Reset();
  KeyPending = 0;
}

void FixtureEnd() {}

std::string FixtureOutput() { return sim::Output(); }

std::string FixtureSystemDir() { return sim::M().systemDir; }

int FixtureRunMain(const std::vector<std::string>& args) {
  std::vector<std::vector<char>> storage;
  for (const std::string& a : args) {
    storage.emplace_back(a.begin(), a.end());
    storage.back().push_back('\0');
  }
  std::vector<char*> argv;
  for (auto& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  return Main((int)args.size(), argv.data());
}

// The machines the sweeps run the installer on: together they reach every part of it. A new
// machine is one row of the table in machines.cpp.
#ifndef TESTS_PROOF_MACHINES_H
#define TESTS_PROOF_MACHINES_H

#include <string>
#include <vector>

#include "proof.h"

namespace proof {

struct MachineCase {
  const char* name;
  void (*arrange)();               // on a fresh simulated machine
  std::vector<std::string> args;   // the run, argv[0] first
  std::vector<std::string> rerun;  // the unattended run after a cut
  bool installs;                   // places files (not detect-only)
  int exitCode;                    // what the uncut run ends with
  // When not empty, both runs start with this wide command line instead (args unused).
  std::u16string commandLine = u"";
  uint64_t lockWaitMs = 0;         // how long another run holds the lock at the start
  // What another program writes again at every start of the machine (its restart lists).
  void (*rewrite)() = nullptr;
  const char* signer = nullptr;    // the package is signed by this signer
  void (*swap)() = nullptr;  // changes the package: the fault sweep does it before each call
};

// Starts the machine's run (or, with `rerun`, its run after a cut) as its row says.
Outcome Start(const MachineCase& machine, bool rerun);

const std::vector<MachineCase>& Machines();
// What every run on these machines must keep: the package's bytes as the destinations'
// sources, the four placements, messages on, three tool waits at most.
RunRules Rules(const MachineCase& machine);

}  // namespace proof

#endif

// What every harness shares: a fresh machine and run state per input, and the checks that
// every run must pass besides the sanitizers. A failed check aborts, which libFuzzer reports
// as a finding with the input that caused it.
#ifndef FUZZ_FUZZ_H
#define FUZZ_FUZZ_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/sim/machine.h"
#include "tests/proof/proof.h"

namespace fuzz {

// A fresh simulated machine and run state, calls that name something recorded, and a bound
// on the calls a run may make.
void Begin();
// Aborts with a message when `ok` is false.
void Require(bool ok, const char* what, const std::string& detail = "");
// Every handle, key, block and SID released; the run ended.
void RequireReleased(const proof::Outcome& outcome);
// Every path handed to Windows is a whole directory of the installer's plus a package file
// name, under 520 bytes; programs start only from a usable system directory, quoted;
// libraries load only from the system directory; the one mutex is the lock.
void RequirePathsWhole();
// Every key outside the legacy services, and its access list, is as in `before`.
void RequireKeysKept(const sim::KeyList& before);
// The input cut into pieces at every `separator` byte.
std::vector<std::string> Split(const uint8_t* data, size_t size, char separator);

}  // namespace fuzz

#endif

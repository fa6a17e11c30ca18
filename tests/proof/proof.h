// What the sweeps and the fuzzers share: running the installer as a process would, a picture
// of the machine to compare, and the checks that every run must pass. Plain C++, no test
// framework, so that libFuzzer harnesses use it too.
#ifndef TESTS_PROOF_PROOF_H
#define TESTS_PROOF_PROOF_H

#include <map>
#include <string>
#include <vector>

#include "platform/sim/machine.h"

namespace proof {

// How a run of Main ended.
struct Outcome {
  int exitCode = -1;
  bool cut = false;      // stopped by the power cut
  bool runaway = false;  // made more calls than any run can
};

// Runs Main with these arguments (argv[0] first) from the run state of a fresh process; the
// machine's wide command line is the one they were read from (sim::CommandLineOf).
Outcome RunInstaller(const std::vector<std::string>& args);
// Runs Main started with this wide command line: its arguments are what the C runtime reads
// from it in the machine's ANSI code page (sim::ArgumentsOf), best fit included.
Outcome RunInstallerW(const std::u16string& commandLine);

// One file as the comparisons see it.
struct FileState {
  std::string contents;
  DWORD attributes;
  uint64_t lastWriteTime;
  bool operator==(const FileState& o) const {
    return contents == o.contents && attributes == o.attributes &&
           lastWriteTime == o.lastWriteTime;
  }
};

// Files (by lower-case full path; directories as "<dir>"), and every key with its access list.
struct Snapshot {
  std::map<std::string, FileState> files;
  sim::KeyList keys;
  std::vector<sim::PendingMove> moves;  // recorded for the restart (not compared)
  size_t events = 0;                    // reported so far
};
Snapshot TakeSnapshot();
// What differs between two snapshots, one line per difference; empty when they are equal.
std::vector<std::string> Differences(const Snapshot& expected, const Snapshot& actual);

// The violations of the rules every run keeps (see the checks in proof.cpp); each is one line.
// `sources` maps a destination's lower-case full path to the bytes its source holds.
struct RunRules {
  bool installs;           // the run may place files (not detect-only)
  bool messagesOn;         // message 28 must accompany exit code 2
  uint64_t timeLimitMs;    // the virtual time a run may take at most
  std::map<std::string, std::string> sources;
  std::vector<std::string> placements;  // the four destinations of the installation
  bool removal = false;                 // the run removes the software (-U)
  std::vector<std::string> removes;     // what a removal deletes, or has deleted at the restart
  std::vector<std::string> logs;        // the run log and its older generation
  bool verifies = false;                // the run verifies (-V): it changes nothing
  std::string signer;  // a signed package: what is placed or started is signed by this signer
};
std::vector<std::string> CheckRun(const RunRules& rules, const Snapshot& before,
                                  const Outcome& outcome);
// The machine once it has restarted after a run that reports success: a removal has left none
// of the software's files, an installation the package's bytes in every placement. Restarts
// the simulated machine (the recorded moves are carried out) and says what is wrong.
std::vector<std::string> CheckAfterRestart(const RunRules& rules, const Outcome& outcome);
// Takes the run logs out of a snapshot (their lines differ from run to run by design), and
// says what is wrong with them: every line whole, legible (LegibleLogLine), ended by CR LF.
std::vector<std::string> TakeOutLogs(const RunRules& rules, Snapshot* snapshot);
// Whether a log line (without its CR LF) is printable ASCII and well-formed UTF-8 only, with
// no C1 control, line or paragraph separator, nor bidirectional mark, embedding, override or
// isolate.
bool LegibleLogLine(const std::string& line);


// Whether the output is made only of catalogue texts, the force option's texts, the usage
// text, debug traces, progress dots and line feeds. On failure, *rest is where it stops making sense.
bool OutputIsKnownText(const std::string& out, std::string* rest);

// Whether a key path lies at or below a legacy service key.
bool IsLegacyServiceKey(const std::string& path);
// The uninstall entry's key, which installations write and removals delete.
extern const std::string kEntryKey;
bool IsEntryKey(const std::string& path);
// What is wrong with the uninstall entry as an installation on this machine writes it (every
// value, its type and bytes, and no other); empty when it is whole.
std::vector<std::string> EntryProblems();
// An entry as an earlier installation of `version` left it.
void AddEntry(const std::string& version);
// The release's manifest as the build would write it for the four package files (all but
// SETUP.EXE) that lie in `dir`; SetManifest("") empties it, as in a build that wrote none.
void SetManifest(const std::string& dir);
// The Application event source's key, which runs register when it is missing.
bool IsEventSourceKey(const std::string& path);
// Takes the event source's keys out of a snapshot: runs that report an event register it.
void TakeOutEventSource(Snapshot* snapshot);
// The keys outside the legacy services, the uninstall entry and the event source that are not
// as in `before`
// (changed access list or values, gone, or new), each shown as its path.
std::vector<std::string> KeysTouched(const sim::KeyList& before);

}  // namespace proof

#endif

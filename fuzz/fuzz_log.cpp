// The run log's inputs: the name given with -LOG: (the input up to its first NUL byte; empty
// for the default log), what the log already holds (the next part; a first byte of 0x80 or
// more makes it larger than the rotation limit), the Windows directory that the default log
// goes below (the next; empty for C:\WINDOWS) and, in an optional fourth part, what stands at
// the log's name (its first byte modulo 4): the file itself, a hard link to a system file, a
// symbolic link to it, or a junction in place of the log's folder that leads to the system
// file's. A run with the log must do and print exactly what the same run with -LOG:NUL does,
// and append only whole printable lines to its log; through a link it writes nothing at all.
#include <string.h>

#include "fuzz.h"

namespace {

const char* const kPackage[] = {"SETUP.EXE", "KTASPW.DLL", "KTASPW32.DLL", "KTASPREM.EXE",
                                "KTASPSVC.EXE"};

bool NameWindowsCanHold(const std::string& name) {
  for (char c : name)
    if ((unsigned char)c < ' ' || strchr("\"<>|?*", c)) return false;
  return true;
}

enum class Stands { File, HardLink, SymbolicLink, Junction };
const std::string kSystemFolder = "C:\\WINDOWS\\system32\\config";

std::string ParentOf(const std::string& full) { return full.substr(0, full.rfind('\\')); }

// The system file that a link at the log's name leads to.
std::string Victim(const std::string& logFile, Stands stands) {
  return stands == Stands::Junction ? kSystemFolder + logFile.substr(logFile.rfind('\\'))
                                    : kSystemFolder + "\\SYSTEM";
}

// A first installation; the log, where it goes, already holds `existing` (or the system file
// does, which a link at the log's name leads to).
void Arrange(const std::string& windowsDir, const std::string& logFile,
             const std::string& existing, Stands stands) {
  fuzz::Begin();
  if (!windowsDir.empty()) sim::M().windowsDir = windowsDir;
  for (const char* name : kPackage) sim::AddFile(std::string("D:\\pkg\\") + name, name, 2000);
  if (logFile.empty()) return;
  if (stands == Stands::File) {
    sim::AddFile(logFile, existing, 1000);
    return;
  }
  sim::AddFile(Victim(logFile, stands), existing, 1000);
  if (stands == Stands::HardLink) sim::AddHardLink(logFile, Victim(logFile, stands));
  if (stands == Stands::SymbolicLink) sim::AddSymbolicLink(logFile, Victim(logFile, stands));
  if (stands == Stands::Junction) sim::AddJunction(ParentOf(logFile), kSystemFolder);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts = fuzz::Split(data, size, '\0');
  if (parts.size() < 3 || parts.size() > 4 || parts[0].size() > 600 || parts[2].size() > 300)
    return -1;
  Stands stands = parts.size() == 4 && !parts[3].empty()
                      ? (Stands)((unsigned char)parts[3][0] % 4)
                      : Stands::File;
  const std::string& name = parts[0];
  const std::string& windowsDir = parts[2];
  if (!NameWindowsCanHold(name) || !NameWindowsCanHold(windowsDir)) return -1;
  std::string existing = parts[1];
  if (!existing.empty() && (unsigned char)existing[0] >= 0x80)
    existing = std::string(1024 * 1024 + 1, 'x');
  std::string logFile = sim::FullPath(
      name.empty() ? (windowsDir.empty() ? "C:\\WINDOWS" : windowsDir) + "\\Logs\\TVX2\\setup.log"
                   : name);
  // A log named as one of the package's files is not written (the unit tests show it): the
  // file is the installer's to place, not the log's to keep.
  std::string fileName = logFile.substr(logFile.rfind('\\') + 1);
  for (const char* packageName : kPackage)
    if (sim::EqualNoCase(fileName, packageName)) return -1;
  std::vector<std::string> args = {"D:\\pkg\\setup.exe", "-FU", "-X"};

  // A file cannot stand where a folder is (the Windows directory named as the log, say): such a
  // machine is not one Windows can be.
  fuzz::Begin();
  if (sim::DirectoryExists(logFile)) return -1;
  // A link stands in a folder of its own, away from the system file and the package: a
  // junction in place of a folder that holds anything else would move that too.
  if (stands != Stands::File) {
    std::string folder = sim::Lower(ParentOf(logFile)) + "\\";
    if (logFile.empty() || folder.size() <= 4 || sim::DirectoryExists(ParentOf(logFile)) ||
        sim::Lower(kSystemFolder + "\\").compare(0, folder.size(), folder) == 0 ||
        folder.compare(0, kSystemFolder.size() + 1, sim::Lower(kSystemFolder + "\\")) == 0 ||
        std::string("d:\\pkg\\").compare(0, folder.size(), folder) == 0 ||
        folder.compare(0, 7, "d:\\pkg\\") == 0)
      return -1;
  }

  // Without the log.
  Arrange(windowsDir, logFile, existing, stands);
  args.push_back("-LOG:NUL");
  proof::Outcome quiet = proof::RunInstaller(args);
  fuzz::RequireReleased(quiet);
  std::string quietOutput = sim::Output();
  proof::Snapshot withoutLog = proof::TakeSnapshot();

  // With it.
  Arrange(windowsDir, logFile, existing, stands);
  args.pop_back();
  if (!name.empty()) args.push_back("-LOG:" + name);
  proof::Outcome logged = proof::RunInstaller(args);
  fuzz::RequireReleased(logged);
  fuzz::RequirePathsWhole();
  fuzz::Require(logged.exitCode == quiet.exitCode, "the log changed the exit code");
  fuzz::Require(sim::Output() == quietOutput, "the log changed the output:", sim::Output());

  proof::Snapshot withLog = proof::TakeSnapshot();
  if (stands != Stands::File) {
    // Refused: no line anywhere (the system file keeps its bytes), the machine as without it.
    std::vector<std::string> differences = proof::Differences(withoutLog, withLog);
    fuzz::Require(differences.empty(), "a log refused changed the machine:",
                  differences.empty() ? "" : differences[0]);
    return 0;
  }
  std::string lower = sim::Lower(logFile);
  std::string written;
  if (!logFile.empty() && withLog.files.count(lower)) {
    written = withLog.files[lower].contents;
    std::string older = withLog.files.count(lower + ".1") ? withLog.files[lower + ".1"].contents
                                                           : std::string();
    bool rotated = existing.size() > 1024 * 1024 && older == existing;
    if (!rotated) {
      fuzz::Require(written.compare(0, existing.size(), existing) == 0,
                    "the log lost what it held:", logFile);
      written = written.substr(existing.size());
    }
    withLog.files.erase(lower);
    withLog.files.erase(lower + ".1");
    withoutLog.files.erase(lower);
    withoutLog.files.erase(lower + ".1");
  }
  // The log's folders may be new; nothing else may differ.
  for (auto it = withLog.files.begin(); it != withLog.files.end();) {
    bool folder = it->second.contents == "<dir>" && !withoutLog.files.count(it->first) &&
                  lower.compare(0, it->first.size(), it->first) == 0;
    it = folder ? withLog.files.erase(it) : std::next(it);
  }
  std::vector<std::string> differences = proof::Differences(withoutLog, withLog);
  fuzz::Require(differences.empty(), "the log changed the machine:",
                differences.empty() ? "" : differences[0]);
  size_t start = 0;
  while (start < written.size()) {
    size_t end = written.find("\r\n", start);
    fuzz::Require(end != std::string::npos && end - start <= 1024, "a broken log line:",
                  written.substr(start));
    fuzz::Require(proof::LegibleLogLine(written.substr(start, end - start)),
                  "an illegible log line:", written.substr(start, end - start));
    start = end + 2;
  }
  return 0;
}

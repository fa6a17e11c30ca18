// Running the installer, pictures of the machine and the rules every run keeps.
#include "proof.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <regex>

#include "actions/package.h"
#include "actions/release.h"
#include "setup/events.h"
#include "setup/messages.h"
#include "setup/setup.h"
#include "setup/usage.h"
#include "support/libraries.h"

namespace proof {

static Outcome RunMain(const std::vector<std::string>& args) {
  // Writable strings and a null pointer after them, as the start-up code hands them over.
  std::vector<std::vector<char>> storage;
  std::vector<char*> argv;
  for (const std::string& a : args) {
    storage.emplace_back(a.begin(), a.end());
    storage.back().push_back('\0');
  }
  for (std::vector<char>& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  Outcome outcome;
  ResetRunState();
  // The installer runs from its own file, as a process does, until it ends or is cut.
  if (!args.empty()) sim::SetRunningImage(args[0]);
  try {
    RestrictLibrarySearch();  // the entry point's first act
    outcome.exitCode = Main((int)storage.size(), argv.data());
  } catch (const sim::PowerCut&) {
    outcome.cut = true;
  } catch (const sim::Runaway&) {
    outcome.runaway = true;
  }
  sim::EndRunningImages();
  return outcome;
}

Outcome RunInstaller(const std::vector<std::string>& args) {
  sim::M().commandLine = sim::CommandLineOf(args);
  return RunMain(args);
}

Outcome RunInstallerW(const std::u16string& commandLine) {
  sim::M().commandLine = commandLine;
  return RunMain(sim::ArgumentsOf(commandLine));
}

Snapshot TakeSnapshot() {
  Snapshot s;
  for (const auto& e : sim::M().files.entries) {
    const sim::FileEntry& f = e.second;
    s.files[e.first] = FileState{f.isDirectory ? "<dir>" : f.contents, f.attributes,
                                 f.isDirectory ? 0 : f.lastWriteTime};
  }
  s.keys = sim::AllKeys();
  s.moves = sim::PendingMoves();
  s.events = sim::M().events.reported.size();
  return s;
}

static std::string Dword(DWORD value) { return std::string((const char*)&value, 4); }

static std::string Shown(const std::string& bytes) {
  std::string out;
  for (char c : bytes.substr(0, 60)) out += (c >= ' ' && c < 0x7F) ? c : '?';
  return out + (bytes.size() > 60 ? "..." : "");
}

std::vector<std::string> TakeOutLogs(const RunRules& rules, Snapshot* snapshot) {
  std::vector<std::string> problems;
  for (const std::string& log : rules.logs) {
    auto it = snapshot->files.find(log);
    if (it == snapshot->files.end()) continue;
    const std::string& text = it->second.contents;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find("\r\n", start);
      bool whole = end != std::string::npos && end - start <= 1024 &&
                   LegibleLogLine(text.substr(start, end - start));
      if (!whole) {
        problems.push_back(log + " holds a broken line: \"" + Shown(text.substr(start)) + "\"");
        break;
      }
      start = end + 2;
    }
    snapshot->files.erase(it);
  }
  return problems;
}

bool LegibleLogLine(const std::string& line) {
  for (size_t i = 0; i < line.size();) {
    unsigned char lead = (unsigned char)line[i];
    if (lead >= ' ' && lead < 0x7F) {
      i++;
      continue;
    }
    // The sequence's length from its lead byte's high bits, then its character.
    size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                          : (lead & 0xF8) == 0xF0 ? 4 : 0;
    if (length == 0 || i + length > line.size()) return false;
    uint32_t c = lead & (0x7F >> length);
    for (size_t k = 1; k < length; k++) {
      unsigned char next = (unsigned char)line[i + k];
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    size_t shortest = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (shortest != length || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000)) return false;
    static const uint32_t kMisleading[][2] = {
        {0x80, 0x9F}, {0x61C, 0x61C}, {0x200E, 0x200F}, {0x2028, 0x202E}, {0x2066, 0x2069}};
    for (const auto& range : kMisleading)
      if (c >= range[0] && c <= range[1]) return false;
    i += length;
  }
  return true;
}

std::vector<std::string> Differences(const Snapshot& expected, const Snapshot& actual) {
  std::vector<std::string> out;
  for (const auto& e : expected.files) {
    auto a = actual.files.find(e.first);
    if (a == actual.files.end())
      out.push_back(e.first + " missing");
    else if (!(a->second == e.second))
      out.push_back(e.first + " holds \"" + Shown(a->second.contents) + "\" attributes " +
                    std::to_string(a->second.attributes) + " time " +
                    std::to_string(a->second.lastWriteTime) + ", expected \"" +
                    Shown(e.second.contents) + "\" " + std::to_string(e.second.attributes) +
                    " " + std::to_string(e.second.lastWriteTime));
  }
  for (const auto& a : actual.files)
    if (!expected.files.count(a.first)) out.push_back(a.first + " left over");
  for (const auto& k : expected.keys)
    if (!std::binary_search(actual.keys.begin(), actual.keys.end(), k))
      out.push_back("key " + Shown(k.first) + " missing or changed");
  for (const auto& k : actual.keys)
    if (!std::binary_search(expected.keys.begin(), expected.keys.end(), k))
      out.push_back("key " + Shown(k.first) + " left over or changed");
  return out;
}

bool IsLegacyServiceKey(const std::string& path) {
  std::string lower = sim::Lower(path);
  std::string services = sim::Lower(SIM_SERVICES_PATH) + "\\";
  if (lower.compare(0, services.size(), services) != 0) return false;
  std::string name = lower.substr(services.size());
  name = name.substr(0, name.find('\\'));
  // The installer compares the name as the C string it reads: up to an embedded NUL.
  name = name.substr(0, name.find('\0'));
  return name.find("ktawdrsv") != std::string::npos || name.find("ktawdrex") != std::string::npos;
}

// A pending move onto this path whose source holds these bytes.
static bool ReplacementRecorded(const std::string& destLower, const std::string& bytes) {
  for (const sim::PendingMove& m : sim::PendingMoves()) {
    if (sim::Lower(m.dest) != destLower) continue;
    auto it = sim::M().files.entries.find(sim::Lower(m.source));
    if (it != sim::M().files.entries.end() && it->second.contents == bytes) return true;
  }
  return false;
}

static bool Listed(const std::vector<std::string>& list, const std::string& item) {
  for (const std::string& l : list)
    if (l == item) return true;
  return false;
}

// A deletion recorded for the restart: a move with no destination.
static bool DeletionRecorded(const std::string& pathLower) {
  for (const sim::PendingMove& m : sim::PendingMoves())
    if (m.dest.empty() && sim::Lower(m.source) == pathLower) return true;
  return false;
}

// A copy that the restart moves onto a destination: it holds that destination's source.
static bool IsRecordedReplacement(const RunRules& rules, const std::string& pathLower,
                                  const std::string& bytes) {
  for (const sim::PendingMove& m : sim::PendingMoves()) {
    if (sim::Lower(m.source) != pathLower) continue;
    auto source = rules.sources.find(sim::Lower(m.dest));
    if (source != rules.sources.end() && source->second == bytes) return true;
  }
  return false;
}

// One value as AllKeys shows it within a key's text, or "" when the key has no such value.
static std::string ValueShown(const std::string& keyShown, const std::string& name) {
  std::string tag = ";value:" + name + "=";
  size_t at = keyShown.find(tag);
  if (at == std::string::npos) return "";
  size_t end = keyShown.find(";value:", at + tag.size());
  return keyShown.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

// The run's events: at most one, the table's for its run and exit code; or none, and the log
// says why. Detection runs report none, and a verification only when it ends 1 or 2.
static std::vector<std::string> EventProblems(const RunRules& rules, const Snapshot& before,
                                              int code) {
  static const char* const kRuns[] = {"Installation", "Removal", "Verification"};
  int run = rules.verifies ? 2 : rules.removal ? 1 : 0;
  // The table: IDs 100, 200 and 300 plus the exit code (18 for 1618); removals have no 8 and 16,
  // verifications only 1 and 2. Errors for 2, information for 0 and 1, warnings otherwise.
  bool row = run == 0 || (run == 1 && code != 8 && code != 16) || (run == 2 && (code == 1 || code == 2));
  DWORD id = (DWORD)(100 * (run + 1) + (code == EXIT_INSTALL_IN_PROGRESS ? 18 : code));
  WORD type = code == 2 ? EVENTLOG_ERROR_TYPE : code < 2 ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_WARNING_TYPE;
  bool reports = (rules.installs || rules.removal || rules.verifies) && row;
  std::vector<sim::EventRecord> events(sim::M().events.reported.begin() + (long)before.events,
                                       sim::M().events.reported.end());
  std::string exit = "exit code " + std::to_string(code), text = std::string(kRuns[run]) + " ended with " + exit;
  if (events.size() > (reports ? 1u : 0u)) return {exit + ": " + std::to_string(events.size()) + " events"};
  auto log = sim::M().files.entries.find(rules.logs.empty() ? "" : rules.logs[0]);
  if (events.empty() && reports && !rules.verifies && log != sim::M().files.entries.end() &&
      log->second.contents.find("event " + std::to_string(id) + ": ") == std::string::npos)
    return {exit + ": no event, and none logged"};
  for (const sim::EventRecord& e : events)
    if (e.source != EVENT_SOURCE || e.id != id || e.type != type || e.strings.size() != 1 ||
        e.strings[0].compare(0, text.size() + 2, text + ": ") != 0)
      return {exit + ": event " + std::to_string(e.id) + " type " + std::to_string(e.type)};
  return {};
}

std::vector<std::string> CheckRun(const RunRules& rules, const Snapshot& before,
                                  const Outcome& outcome) {
  std::vector<std::string> v;
  const sim::Machine& m = sim::M();
  if (outcome.runaway) v.push_back("the run did not end");
  if (m.clockMs > rules.timeLimitMs)
    v.push_back("the run took " + std::to_string(m.clockMs) + " ms of virtual time");
  int code = outcome.exitCode;
  if (!outcome.runaway && code != 0 && code != 1 && code != 2 && code != 8 && code != 16 &&
      code != EXIT_INSTALL_IN_PROGRESS)
    v.push_back("exit code " + std::to_string(code));
  std::string open = sim::Unreleased();
  if (!open.empty()) v.push_back("left open: " + open);
  // A signed package: the tool started, and a placement changed, only as the release holds it.
  if (!rules.signer.empty()) {
    auto release = rules.sources.find(rules.placements[2]);
    for (const sim::ProcessEntry& p : m.process.processes)
      if (sim::EqualNoCase(p.program, rules.placements[2]) &&
          (release == rules.sources.end() || p.image != release->second))
        v.push_back("started " + Shown(p.program) + " not the release's");
    for (const std::string& path : rules.placements) {
      auto was = before.files.find(path);
      std::string now = sim::FileContents(path);
      bool changed = was == before.files.end() ? sim::FileExists(path)
                                               : was->second.contents != now;
      auto bytes = rules.sources.find(path);
      if (!outcome.cut && changed && (bytes == rules.sources.end() || now != bytes->second))
        v.push_back("placed " + Shown(path) + " not the release's");
    }
  }

  // Every file holds its earlier bytes or its source's, or its replacement is recorded.
  Snapshot after = TakeSnapshot();
  // The run log keeps what it held: grown from it, or renamed whole to its older generation.
  auto held = rules.logs.empty() ? before.files.end() : before.files.find(rules.logs[0]);
  if (held != before.files.end()) {
    const std::string& bytes = held->second.contents;
    auto now = after.files.find(rules.logs[0]);
    auto older = rules.logs.size() > 1 ? after.files.find(rules.logs[1]) : after.files.end();
    bool kept = (now != after.files.end() && now->second.contents.compare(0, bytes.size(), bytes) == 0) ||
                (older != after.files.end() && older->second.contents == bytes);
    if (!kept) v.push_back(rules.logs[0] + " lost what it held");
  }
  for (const std::string& p : TakeOutLogs(rules, &after)) v.push_back(p);
  for (const auto& b : before.files) {
    if (b.second.contents == "<dir>" || Listed(rules.logs, b.first)) continue;
    auto a = after.files.find(b.first);
    auto source = rules.sources.find(b.first);
    bool ok = a != after.files.end() && (!rules.verifies || a->second == b.second) &&
              (a->second.contents == b.second.contents ||
               (source != rules.sources.end() && a->second.contents == source->second));
    if (!ok && source != rules.sources.end() && ReplacementRecorded(b.first, source->second))
      ok = true;
    // A removal deletes the package's files, now or at the restart.
    if (!ok && rules.removal && a == after.files.end() && Listed(rules.removes, b.first)) ok = true;
    // And the copies that waited to be moved onto them at the restart.
    for (const sim::PendingMove& m : before.moves)
      ok |= rules.removal && a == after.files.end() && sim::Lower(m.source) == b.first &&
            Listed(rules.removes, sim::Lower(m.dest));
    if (!ok)
      v.push_back(b.first + (a == after.files.end() ? " lost" : " holds \"" +
                                                                    Shown(a->second.contents) + "\""));
  }
  for (const auto& a : after.files) {
    if (before.files.count(a.first) || a.second.contents == "<dir>") continue;
    auto source = rules.sources.find(a.first);
    bool placed = source != rules.sources.end() && a.second.contents == source->second;
    // The running installer, moved out of the driver directory (or the empty file that took
    // the name for it), goes at the restart.
    if (!placed && rules.removal && DeletionRecorded(a.first)) {
      placed = a.second.contents.empty();
      for (const auto& s : rules.sources) placed |= a.second.contents == s.second;
    }
    // A staged file that failed a signed package's check and could not be deleted goes then.
    if (!placed && !rules.signer.empty() && code == 2 && DeletionRecorded(a.first)) placed = true;
    if (!placed && !IsRecordedReplacement(rules, a.first, a.second.contents))
      v.push_back(a.first + " appeared holding \"" + Shown(a.second.contents) + "\"");
  }

  // A run that reports the software installed has placed every file, or recorded it.
  bool reportsInstalled = code == 0 || code == 1 || code == 16;
  if (rules.removal && (code == 0 || code == 1) && !outcome.runaway) {
    for (const std::string& path : rules.removes)
      if (after.files.count(path) && !DeletionRecorded(path))
        v.push_back("exit code " + std::to_string(code) + " but " + path + " not removed");
  }
  if (rules.installs && !rules.removal && reportsInstalled && !outcome.runaway) {
    for (const std::string& dest : rules.placements) {
      const std::string& bytes = rules.sources.at(dest);
      auto a = after.files.find(dest);
      bool placed = a != after.files.end() && a->second.contents == bytes;
      if (!placed && !ReplacementRecorded(dest, bytes))
        v.push_back("exit code " + std::to_string(code) + " but " + dest + " not placed");
    }
  }
  const std::string& out = sim::Output();
  if (code == 2 && rules.messagesOn && out.find(MessageTable[MSG_FAILED]) == std::string::npos)
    v.push_back("exit code 2 without message 28");
  // A run that gave up waiting for another has changed nothing but the log.
  if (code == EXIT_INSTALL_IN_PROGRESS) {
    Snapshot kept = after;
    for (const std::string& log : rules.logs)
      for (size_t cut = log.rfind('\\'); cut != std::string::npos && cut > 0;
           cut = log.rfind('\\', cut - 1))
        if (!before.files.count(log.substr(0, cut))) kept.files.erase(log.substr(0, cut));
    for (const std::string& d : Differences(before, kept)) v.push_back("exit code 1618 but " + d);
    if (rules.messagesOn && out.find(MessageTable[MSG_LOCK_TIMEOUT]) == std::string::npos)
      v.push_back("exit code 1618 without message 98");
  }
  std::string rest;
  if (!OutputIsKnownText(out, &rest)) v.push_back("unknown output: \"" + Shown(rest) + "\"");

  // The uninstall entry is there exactly when the software is installed.
  if (!outcome.runaway) {
    bool entryBefore = false;
    std::string entryWas;
    for (const auto& k : before.keys)
      if (IsEntryKey(k.first)) entryBefore = true, entryWas = k.second;
    std::string entryNow;
    for (const auto& k : sim::AllKeys())
      if (IsEntryKey(k.first)) entryNow = k.second;
    bool entryAfter = sim::KeyExists(kEntryKey);
    std::string exit = "exit code " + std::to_string(code);
    if (rules.removal) {
      if ((code == 0 || code == 1) && entryAfter) v.push_back(exit + " but the entry is there");
      if (code == 2 && entryBefore && !entryAfter) v.push_back(exit + " but the entry is gone");
    } else if (rules.installs && reportsInstalled) {
      for (const std::string& p : EntryProblems()) v.push_back(exit + ": " + p);
    } else if (rules.installs && code == 2) {
      if (entryBefore && !entryAfter) v.push_back(exit + " but the entry is gone");
      if (!entryBefore && entryAfter) v.push_back(exit + " but an entry was left behind");
      // An older entry may be partly rewritten, but never with the new version.
      if (entryBefore && entryAfter &&
          ValueShown(entryWas, "DisplayVersion") != ValueShown(entryNow, "DisplayVersion"))
        v.push_back(exit + " but the entry's version changed");
    } else if (entryWas != entryNow) {
      v.push_back(exit + " but the entry changed");
    }
  }

  // Keys other than the legacy services' and the entry, and their access lists, are as they were.
  for (const std::string& path : KeysTouched(before.keys))
    v.push_back("key " + Shown(path) + " changed or deleted");
  // A verification has no sources (above: no file changes) and records nothing for the restart.
  if (rules.verifies && after.moves.size() != before.moves.size()) v.push_back("a move recorded");
  for (const std::string& p : EventProblems(rules, before, code)) v.push_back(p);
  return v;
}

std::vector<std::string> CheckAfterRestart(const RunRules& rules, const Outcome& outcome) {
  std::vector<std::string> v;
  int code = outcome.exitCode;
  bool removed = rules.removal && (code == 0 || code == 1);
  bool installed = rules.installs && !rules.removal && (code == 0 || code == 1 || code == 16);
  sim::PowerCutRestart();
  if (outcome.runaway || outcome.cut) return v;
  for (const std::string& path : removed ? rules.removes : std::vector<std::string>())
    if (sim::FileExists(path)) v.push_back("after the restart " + path + " is there");
  for (const std::string& dest : installed ? rules.placements : std::vector<std::string>())
    if (!sim::FileExists(dest) || sim::FileContents(dest) != rules.sources.at(dest))
      v.push_back("after the restart " + dest + (sim::FileExists(dest) ? " holds \"" +
                  Shown(sim::FileContents(dest)) + "\"" : std::string(" is missing")));
  return v;
}

const std::string kEntryKey = SIM_UNINSTALL_PATH "\\TVX2HostSoftware";

bool IsEntryKey(const std::string& path) { return sim::EqualNoCase(path, kEntryKey); }

std::vector<std::string> EntryProblems() {
  if (!sim::KeyExists(kEntryKey)) return {"no uninstall entry"};
  const sim::Machine& m = sim::M();
  std::string driver = m.systemDir + "\\drivers\\tvx2";
  char date[16];
  snprintf(date, sizeof date, "%04u%02u%02u", (unsigned)m.startTime.wYear,
           (unsigned)m.startTime.wMonth, (unsigned)m.startTime.wDay);
  std::string uninstall = "\"" + driver + "\\SETUP.EXE\" -U";
  auto sz = [](const std::string& text) { return text + std::string(1, '\0'); };
  std::map<std::string, std::pair<DWORD, std::string>> expected = {
      {"DISPLAYNAME", {REG_SZ, sz("KTA TVX II host software")}},
      {"DISPLAYVERSION", {REG_SZ, sz("2.1.0.0")}},
      {"VERSIONMAJOR", {REG_DWORD, Dword(2)}},
      {"VERSIONMINOR", {REG_DWORD, Dword(1)}},
      {"PUBLISHER", {REG_SZ, sz("KTA")}},
      {"INSTALLLOCATION", {REG_SZ, sz(driver)}},
      {"INSTALLDATE", {REG_SZ, sz(date)}},
      {"UNINSTALLSTRING", {REG_SZ, sz(uninstall)}},
      {"QUIETUNINSTALLSTRING", {REG_SZ, sz(uninstall + " -N")}},
      {"NOMODIFY", {REG_DWORD, Dword(1)}},
      {"NOREPAIR", {REG_DWORD, Dword(1)}},
      {"ESTIMATEDSIZE", {REG_DWORD, ""}},  // any size of at least 1 KB
  };
  std::vector<std::string> problems;
  std::vector<sim::RegValue> values = sim::ValuesOf(kEntryKey);
  for (const sim::RegValue& v : values) {
    std::string name = v.name;
    for (char& c : name) c = (char)toupper((unsigned char)c);
    auto it = expected.find(name);
    if (it == expected.end()) {
      problems.push_back("uninstall entry holds " + v.name);
      continue;
    }
    bool ok = v.type == it->second.first &&
              (it->second.second.empty() ? v.data.size() == 4 && v.data != Dword(0)
                                         : v.data == it->second.second);
    if (!ok)
      problems.push_back("uninstall entry value " + v.name + " is \"" + Shown(v.data) + "\"");
    expected.erase(it);
  }
  for (const auto& e : expected) problems.push_back("uninstall entry lacks " + e.first);
  return problems;
}

void SetManifest(const std::string& dir) {
  memset(ReleaseManifest.rows, 0, sizeof ReleaseManifest.rows);
  if (dir.empty()) return;
  int row = 0;
  for (int i = 0; i < PackageFileCount; i++) {
    int name = PackageFiles[i].name;
    if (PackageFiles[i].kind == FILE_INSTALLER) continue;
    std::string bytes = sim::FileContents(dir + MessageTable[name]);
    snprintf(ReleaseManifest.rows[row].name, MANIFEST_NAME_SIZE, "%s", MessageTable[name]);
    ImageDigest((const unsigned char*)bytes.data(), (unsigned long)bytes.size(),
                ReleaseManifest.rows[row++].digest);
  }
}

void AddEntry(const std::string& version) {
  sim::AddKey(kEntryKey);
  sim::SetValue(kEntryKey, "DisplayName", REG_SZ, std::string("KTA TVX II host software", 25));
  sim::SetValue(kEntryKey, "DisplayVersion", REG_SZ, version + std::string(1, '\0'));
  sim::SetValue(kEntryKey, "InstallDate", REG_SZ, std::string("20260101", 9));
  sim::SetDwordValue(kEntryKey, "EstimatedSize", 1);
}

const std::string kEventSourceKey = "HKLM\\" EVENT_SOURCE_KEY;

// The source's key, or one above it that Windows has on every machine; its values, those that
// are there, as a run registers them.
bool IsEventSourceKey(const std::string& path) {
  std::string lower = sim::Lower(path), key = sim::Lower(kEventSourceKey);
  if (lower != key && (key.compare(0, lower.size() + 1, lower + "\\") != 0 ||
                       lower.size() <= sim::Lower(SIM_SERVICES_PATH).size()))
    return false;
  std::map<std::string, std::string> expected = {
      {"TypesSupported", Dword(7)}, {"CustomSource", Dword(1)},
      {"EventMessageFile", std::string(EVENT_MESSAGE_FILE) + '\0'}};
  for (const sim::RegValue& v : sim::ValuesOf(path))
    if (!expected.count(v.name) || expected[v.name] != v.data ||
        v.type != (v.name == "EventMessageFile" ? REG_EXPAND_SZ : REG_DWORD))
      return false;
  return true;
}

void TakeOutEventSource(Snapshot* s) {
  s->keys.erase(std::remove_if(s->keys.begin(), s->keys.end(),
                               [](const std::pair<std::string, std::string>& k) {
                                 return IsEventSourceKey(k.first);
                               }),
                s->keys.end());
}

std::vector<std::string> KeysTouched(const sim::KeyList& before) {
  sim::KeyList after = sim::AllKeys();
  std::vector<std::string> touched;
  auto mayChange = [](const std::string& path) {
    return IsLegacyServiceKey(path) || IsEntryKey(path) || IsEventSourceKey(path);
  };
  for (const auto& k : before)
    if (!mayChange(k.first) && !std::binary_search(after.begin(), after.end(), k))
      touched.push_back(k.first);
  for (const auto& k : after) {
    bool existed = std::any_of(before.begin(), before.end(),
                               [&k](const std::pair<std::string, std::string>& b) {
                                 return b.first == k.first;
                               });
    if (!mayChange(k.first) && !existed) touched.push_back(k.first);
  }
  return touched;
}

// Lines the debug traces begin with; a trace runs to the end of its line.
static const char* const kTracePrefixes[] = {
    "Main - ", "Found USB SP.", "Didn't find USB SP.", "Found Vorrin but NO DRIVER.",
    "FindExistingDevice - ", "CopyFile source = >", "CopyFile dest = >",
    "CopyFile error on source file = >", "lpBuffer = >", "lpBuffr2 = >",
    "DeleteFile error on file = >",
    "Press ENTER to continue"};

// The texts a run may print, from the catalogue, which does not change: built once, as every
// run of the sweeps is checked.
static const std::vector<std::string>& KnownTexts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> t = {"Skipping hardware detection - forcing Vorrin.\n",
                                  "Invalid force code!\n", ".", "\n", UsageText};
    // Every message of the catalogue but the prompt keywords, the date warning (below) and the
    // fixed names, which are never printed.
    for (int n = 0; n < MESSAGE_COUNT; n++) {
      bool printed = n > MSG_KEYWORD_CANCEL && n != MSG_OLDER_THAN && n != MSG_NOT_AS_SIGNED &&
                     (n < MSG_ID_USB_4001 || n > MSG_FILE_SERVICE_TOOL);
      if (printed && MessageTable[n][0] && !strchr(MessageTable[n], '%')) t.push_back(MessageTable[n]);
    }
    // The signature refusal, for each file of the package.
    for (int i = 0; i < PackageFileCount; i++) {
      char text[512];
      snprintf(text, sizeof text, MessageTable[MSG_NOT_AS_SIGNED], PackageFileName(i));
      t.push_back(text);
    }
    return t;
  }();
  return texts;
}

// The verification's lines: each %s any text within the line. `lead` is the text before the
// first %s, which a match must begin with: the costly match is only tried where it does.
struct Format {
  std::string lead;
  std::regex pattern;
};

static const std::vector<Format>& VerifyFormats() {
  static const std::vector<Format> formats = [] {
    std::vector<Format> v;
    for (int n = MSG_VERIFY_WHOLE; n < MESSAGE_COUNT; n++) {
      std::string pattern;
      for (const char* f = MessageTable[n]; *f; f++)
        pattern += f[0] == '%' && f[1] == 's' ? (f++, "[^\n]*")
                   : std::string(strchr(".^$|()[]{}*+?\\", *f) ? "\\" : "") + *f;
      const char* cut = strstr(MessageTable[n], "%s");
      std::string lead = cut ? std::string(MessageTable[n], cut) : MessageTable[n];
      v.push_back(Format{lead, std::regex(pattern)});
    }
    return v;
  }();
  return formats;
}

bool OutputIsKnownText(const std::string& out, std::string* rest) {
  const std::vector<std::string>& texts = KnownTexts();
  size_t pos = 0;
  while (pos < out.size()) {
    size_t taken = 0;
    for (const std::string& t : texts)
      if (t.size() > taken && out.compare(pos, t.size(), t) == 0) taken = t.size();
    size_t lineEnd = out.find('\n', pos);
    size_t lineLen = (lineEnd == std::string::npos ? out.size() : lineEnd + 1) - pos;
    std::string line = out.substr(pos, lineLen);
    // The date warning names two paths: "<source> is older than <destination>.\n".
    if (line.size() > 2 && line.compare(line.size() - 2, 2, ".\n") == 0 &&
        line.find(" is older than ") != std::string::npos && lineLen > taken)
      taken = lineLen;
    // Each from here on: a text of more than one line is matched whole.
    for (const Format& format : VerifyFormats()) {
      if (out.compare(pos, format.lead.size(), format.lead) != 0) continue;
      std::smatch found;
      if (std::regex_search(out.cbegin() + (long)pos, out.cend(), found, format.pattern,
                            std::regex_constants::match_continuous) &&
          (size_t)found.length(0) > taken)
        taken = (size_t)found.length(0);
    }
    for (const char* prefix : kTracePrefixes)
      if (line.compare(0, strlen(prefix), prefix) == 0 && lineLen > taken) taken = lineLen;
    if (taken == 0) {
      if (rest) *rest = out.substr(pos);
      return false;
    }
    pos += taken;
  }
  return true;
}

}  // namespace proof

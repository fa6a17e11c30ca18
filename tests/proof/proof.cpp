// Running the installer, pictures of the machine and the rules every run keeps.
#include "proof.h"

#include <string.h>

#include <algorithm>

#include "setup/messages.h"
#include "setup/setup.h"
#include "setup/usage.h"

namespace proof {

Outcome RunInstaller(const std::vector<std::string>& args) {
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
  try {
    outcome.exitCode = Main((int)storage.size(), argv.data());
  } catch (const sim::PowerCut&) {
    outcome.cut = true;
  } catch (const sim::Runaway&) {
    outcome.runaway = true;
  }
  return outcome;
}

Snapshot TakeSnapshot() {
  Snapshot s;
  for (const auto& e : sim::M().files.entries) {
    const sim::FileEntry& f = e.second;
    s.files[e.first] = FileState{f.isDirectory ? "<dir>" : f.contents, f.attributes,
                                 f.isDirectory ? 0 : f.lastWriteTime};
  }
  s.keys = sim::AllKeys();
  return s;
}

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
      bool whole = end != std::string::npos && end - start <= 1024;
      for (size_t i = start; whole && i < end; i++)
        whole = text[i] >= ' ' && text[i] < 0x7F;
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

std::vector<std::string> CheckRun(const RunRules& rules, const Snapshot& before,
                                  const Outcome& outcome) {
  std::vector<std::string> v;
  const sim::Machine& m = sim::M();
  if (outcome.runaway) v.push_back("the run did not end");
  if (m.clockMs > rules.timeLimitMs)
    v.push_back("the run took " + std::to_string(m.clockMs) + " ms of virtual time");
  int code = outcome.exitCode;
  if (!outcome.runaway && code != 0 && code != 1 && code != 2 && code != 8 && code != 16)
    v.push_back("exit code " + std::to_string(code));
  std::string open = sim::Unreleased();
  if (!open.empty()) v.push_back("left open: " + open);

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
    bool ok = a != after.files.end() &&
              (a->second.contents == b.second.contents ||
               (source != rules.sources.end() && a->second.contents == source->second));
    if (!ok && source != rules.sources.end() && ReplacementRecorded(b.first, source->second))
      ok = true;
    // A removal deletes the package's files, now or at the restart.
    if (!ok && rules.removal && a == after.files.end() && Listed(rules.removes, b.first)) ok = true;
    if (!ok)
      v.push_back(b.first + (a == after.files.end() ? " lost" : " holds \"" +
                                                                    Shown(a->second.contents) + "\""));
  }
  for (const auto& a : after.files) {
    if (before.files.count(a.first) || a.second.contents == "<dir>") continue;
    auto source = rules.sources.find(a.first);
    bool placed = source != rules.sources.end() && a.second.contents == source->second;
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
  std::string rest;
  if (!OutputIsKnownText(out, &rest)) v.push_back("unknown output: \"" + Shown(rest) + "\"");

  // Keys other than the legacy services', and their access lists, are as they were.
  for (const std::string& path : KeysTouched(before.keys))
    v.push_back("key " + Shown(path) + " changed or deleted");
  return v;
}

std::vector<std::string> KeysTouched(const sim::KeyList& before) {
  sim::KeyList after = sim::AllKeys();
  std::vector<std::string> touched;
  for (const auto& k : before)
    if (!IsLegacyServiceKey(k.first) && !std::binary_search(after.begin(), after.end(), k))
      touched.push_back(k.first);
  return touched;
}

// Lines the debug traces begin with; a trace runs to the end of its line.
static const char* const kTracePrefixes[] = {
    "Main - ", "Found USB SP.", "Didn't find USB SP.", "Found Vorrin but NO DRIVER.",
    "FindExistingDevice - ", "CopyFile source = >", "CopyFile dest = >",
    "CopyFile error on source file = >", "lpBuffer = >", "lpBuffr2 = >",
    "DeleteFile error on file = >",
    "Press ENTER to continue"};

bool OutputIsKnownText(const std::string& out, std::string* rest) {
  std::vector<std::string> texts = {"Skipping hardware detection - forcing Vorrin.\n",
                                    "Invalid force code!\n", ".", "\n", UsageText};
  // Every message of the catalogue but the prompt keywords, the date warning (below) and the
  // fixed names, which are never printed.
  for (int n = 0; n < MESSAGE_COUNT; n++) {
    bool printed = n > MSG_KEYWORD_CANCEL && n != MSG_OLDER_THAN &&
                   (n < MSG_ID_USB_4001 || n > MSG_FILE_SERVICE_TOOL);
    if (printed && MessageTable[n][0]) texts.push_back(MessageTable[n]);
  }
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

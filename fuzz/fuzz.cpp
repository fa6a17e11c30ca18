// The shared checks of the harnesses.
#include "fuzz.h"

#include <stdio.h>
#include <stdlib.h>

#include "actions/package.h"
#include "setup/events.h"
#include "setup/lock.h"
#include "setup/messages.h"
#include "setup/setup.h"

namespace fuzz {

void Begin() {
  sim::Reset();
  ResetRunState();
  sim::M().recording = sim::Recording::Paths;
  sim::M().callLimit = 200000;
}

void Require(bool ok, const char* what, const std::string& detail) {
  if (ok) return;
  std::string shown;  // every byte visible, NUL and control characters included
  for (unsigned char c : detail) {
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02x", c);
    shown += c >= ' ' && c < 0x7F && c != '\\' ? std::string(1, (char)c) : c == '\\' ? "\\" : hex;
  }
  fprintf(stderr, "invariant broken: %s %s\n", what, shown.c_str());
  abort();
}

void RequireReleased(const proof::Outcome& outcome) {
  Require(!outcome.runaway, "the run did not end");
  std::string open = sim::Unreleased();
  Require(open.empty(), "left open:", open);
}

static bool EndsWithPackageName(const std::string& path, std::string* dir) {
  for (int i = 0; i < PackageFileCount; i++) {
    std::string name = PackageFileName(i);
    if (path.size() >= name.size() &&
        sim::EqualNoCase(path.substr(path.size() - name.size()), name)) {
      *dir = path.substr(0, path.size() - name.size());
      return true;
    }
  }
  return false;
}

// The copy that replaces a file in use at the restart, named by Windows beside it.
static bool IsReplacementCopy(const std::string& path, std::string* dir) {
  size_t cut = path.rfind('\\');
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  if (name.size() < 8 || name.compare(0, 3, "tvx") != 0 ||
      name.compare(name.size() - 4, 4, ".TMP") != 0)
    return false;
  *dir = path.substr(0, path.size() - name.size());
  return true;
}

void RequirePathsWhole() {
  const std::string& sys = sim::M().systemDir;
  bool sysUsable = !sim::M().systemDirFails && !sys.empty() && sys.size() < SYSTEM_DIR_LIMIT;
  std::vector<std::string> dirs = {std::string(SourceDir) + "\\", sys + "\\drivers\\tvx2\\",
                                   sys + "\\", sys + "\\..\\sysWOW64\\",
                                   sim::FullPath(sys + "\\..\\sysWOW64") + "\\"};
  // The run log's file, its older generation and its folders are paths of its own.
  std::string log;
  for (const sim::CallRecord& c : sim::M().calls)
    if (c.op == "CreateFileA" && (std::stoul(c.args[1], nullptr, 16) & FILE_APPEND_DATA))
      log = c.args[0];
  // A name joined to the system directory as it is given, with one separator between.
  auto inSystemDir = [&](const std::string& library) {
    if (library.compare(0, sys.size(), sys) != 0) return false;
    std::string name = library.substr(sys.size());
    if (!name.empty() && name[0] == '\\') name.erase(0, 1);
    return !name.empty() && name.find_first_of("\\/") == std::string::npos;
  };
  for (const std::string& library : sim::M().libraries.loaded)
    Require(sysUsable && inSystemDir(library),
            "a library loaded from outside the system directory:", library);
  for (const sim::CallRecord& c : sim::M().calls) {
    if (c.op == "CreateMutexExA") {
      // The lock alone, unowned at its creation, opened for waiting only, made for SYSTEM and
      // Administrators to wait on (or with the run's default, when that cannot be described).
      Require((c.args[0] == "SYSTEM 0x100000, Administrators 0x100000, protected" ||
               c.args[0].empty()) && c.args[1] == SETUP_LOCK_NAME && c.args[2] == "0x0" &&
                  c.args[3] == "0x100000",
              "a mutex other than the lock:", c.args[1]);
      continue;
    }
    Require(c.op != "CreateMutexA", "a mutex asked for with every right:", c.op);
    std::vector<std::string> paths;
    bool logPath = !log.empty() && (c.args[0] == log || (c.op == "CreateDirectoryA" &&
                                                        log.compare(0, c.args[0].size(), c.args[0]) == 0));
    if (logPath) {
      Require(log.size() < PATH_BUFFER_SIZE, "a log path of 520 bytes or more:", log);
      continue;
    }
    // A rename through a handle is the log's rotation, to its older generation alone; a file
    // marked for deletion through a handle is a log just made and then refused.
    // A copy's last-write time and attributes, set on the file it writes (named by its open).
    if (c.op == "SetFileInformationByHandle" && c.args[1] == std::to_string(FileBasicInfo))
      continue;
    if (c.op == "SetFileInformationByHandle") {
      Require(!log.empty(), "a file's information changed without a log:", c.args[2]);
      if (c.args[1] == std::to_string(FileRenameInfo))
        Require(c.args[2] == log + ".1", "a rename other than the log's rotation:", c.args[2]);
      else
        Require(c.args[1] == std::to_string(FileDispositionInfo) && c.args[2] == "1",
                "a handle's information changed otherwise:", c.args[1]);
      continue;
    }
    if (c.op == "CreateProcessA") {
      Require(sysUsable, "a program started without a usable system directory:", c.args[1]);
      std::string start = "\"" + sys + "\\";
      Require(c.args[1].compare(0, start.size(), start) == 0, "a program outside it:", c.args[1]);
      Require(c.args[1].size() < PATH_BUFFER_SIZE, "a command line too long:", c.args[1]);
      continue;
    }
    // hid.dll, wintrust.dll and crypt32.dll alone, from the system directory alone: by name with
    // the search restricted to it, or (where that flag is not understood) by full path there.
    if (c.op == "LoadLibraryExA") {
      std::string lib = c.args[0].substr(c.args[0].rfind('\\') + 1);  // npos + 1 is 0
      bool known = lib == "hid.dll" || lib == "wintrust.dll" || lib == "crypt32.dll";
      bool restricted =
          known && c.args[0] == lib && c.args[2] == sim::Hex(LOAD_LIBRARY_SEARCH_SYSTEM32);
      bool fullPath = known && sysUsable && c.args[0] == sys + "\\" + lib &&
                      c.args[2] == sim::Hex(LOAD_WITH_ALTERED_SEARCH_PATH);
      Require(restricted || fullPath, "a library loaded by another name or search:",
              c.args[0] + " " + c.args[2]);
      continue;
    }
    if (c.op == "SetDllDirectoryA") {
      Require(c.args[0].empty(), "a folder added to the library search:", c.args[0]);
      continue;
    }
    if (c.op == "RegCreateKeyExA") {
      Require(c.args[0] == "HKLM" && (proof::IsEntryKey("HKLM\\" + c.args[1]) ||
                                      c.args[1] == EVENT_SOURCE_KEY),
              "a key created other than the uninstall entry and the event source:", c.args[1]);
      continue;
    }
    // The run's one event, from its own source on this machine, with its one string.
    if (c.op == "RegisterEventSourceA" || c.op == "ReportEventA") {
      bool ours = c.op == "ReportEventA" ? c.args[5] == "1" && c.args.size() == 8
                                         : c.args[0] == "NULL" && c.args[1] == EVENT_SOURCE;
      Require(ours, "an event source or event other than the run's:", c.args.back());
      continue;
    }
    // The driver directory, and the folder of ours that the running installer leaves into.
    const std::string removed = sim::M().windowsDir + "\\TVX2.Removed";
    if (c.op == "CreateDirectoryA") {
      Require(c.args[0] == dirs[1] || c.args[0] == removed,
              "a directory other than the driver directory:", c.args[0]);
      continue;
    }
    if (c.op == "FindFirstFileA" && c.args[0] == removed) continue;
    if (c.op == "CopyFileA" || c.op == "MoveFileExA") paths = {c.args[0], c.args[1]};
    if (c.op == "MoveFileExA" && c.args[1] == "NULL") paths = {c.args[0]};  // a deletion
    if (c.op == "FindFirstFileA" || c.op == "SetFileAttributesA") paths = {c.args[0]};
    // The verification looks the driver directory up, and reads what the installation placed.
    if (c.op == "FindFirstFileA" && c.args[0] + "\\" == dirs[1]) continue;
    if (c.op == "CreateFileA" && c.args[1] == sim::Hex(GENERIC_READ)) paths = {c.args[0]};
    // The running installer opens its own file, to know it is the program that runs.
    const sim::Machine& m = sim::M();
    const std::string self = !m.modulePath.empty()     ? m.modulePath
                             : !m.lastModulePath.empty() ? m.lastModulePath
                                                         : sim::kUnarrangedImage;
    if (c.op == "CreateFileA" && sim::EqualNoCase(c.args[0], self)) continue;
    // The removal's deletions, and the copies of ours that a recorded move names: those name
    // the WOW64 directory as Windows records it, without the step up.
    if (c.op == "DeleteFileA") paths = {c.args[0]};
    for (const std::string& p : paths) {
      Require(p.size() < PATH_BUFFER_SIZE, "a path of 520 bytes or more:", p);
      std::string dir;
      bool whole = EndsWithPackageName(p, &dir) || IsReplacementCopy(p, &dir);
      bool known = false;
      for (const std::string& d : dirs)
        known |= whole && (dir == d || (c.op == "DeleteFileA" && sim::EqualNoCase(dir, d)));
      // A removal moves the running installer to a unique name in that folder.
      known |= IsReplacementCopy(p, &dir) && dir == removed + "\\";
      Require(known, "a path that is not a directory of the installer's and a file name:", p);
    }
  }
}

void RequireKeysKept(const sim::KeyList& before) {
  std::vector<std::string> touched = proof::KeysTouched(before);
  Require(touched.empty(), "a key that is no legacy service changed or deleted:",
          touched.empty() ? "" : touched[0]);
}

std::vector<std::string> Split(const uint8_t* data, size_t size, char separator) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; i++) {
    if ((char)data[i] == separator)
      parts.emplace_back();
    else
      parts.back() += (char)data[i];
  }
  return parts;
}

}  // namespace fuzz

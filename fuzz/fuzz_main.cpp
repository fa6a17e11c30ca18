// Main with an arbitrary argument vector (argv[0] included) and system directory: the input
// is the system directory, then the arguments, each ended by a NUL byte. The package lies in
// D:\pkg and C:\pkg, the card works, and a legacy service and another service are there,
// and so is someone else's hid.dll beside the program. An input of odd length runs on
// Windows 7 without the loader update (hid.dll by its full path).
// When what follows the last NUL begins with 'W' (code page 1252) or 'U' (UTF-8), the
// arguments are read as UTF-8 into a wide command line, which the run is started with: its
// argv is what the code page makes of it, best fit included.
#include <string.h>

#include "fuzz.h"
#include "setup/events.h"
#include "setup/setup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts = fuzz::Split(data, size, '\0');
  if (parts.size() < 2 || parts.size() > 64) return -1;
  // The system directory and the program's own path name real directories: no control
  // characters and none of the characters that Windows refuses in names.
  for (size_t i = 0; i < 2; i++)
    for (char c : parts[i])
      if ((unsigned char)c < ' ' || strchr("\"<>|?*", c)) return -1;
  fuzz::Begin();
  if (!parts[0].empty()) sim::M().systemDir = parts[0];
  sim::AddDirectory(sim::M().systemDir + "\\drivers");
  for (const char* dir : {"D:\\pkg\\", "C:\\pkg\\"})
    for (const char* name : {"SETUP.EXE", "KTASPW.DLL", "KTASPW32.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"})
      sim::AddFile(std::string(dir) + name, name, 2000);
  sim::AddHidInterface("\\\\?\\hid#vid_7a5c&pid_4001#1", 0x7A5C, 0x4001);
  if (size % 2) sim::WithoutLoaderUpdate();
  sim::AddFile("D:\\pkg\\hid.dll", "planted", 1000);
  sim::AddFile("C:\\pkg\\hid.dll", "planted", 1000);
  sim::AddKey(SIM_SERVICES_PATH "\\ktawdrsv\\Enum");
  sim::AddKey(SIM_SERVICES_PATH "\\Tcpip\\Parameters");
  sim::SetStdin("y\n");
  sim::KeyList keys = sim::AllKeys();

  std::vector<std::string> args(parts.begin() + 1, parts.end());
  char mode = parts.back().empty() ? 0 : parts.back()[0];
  args.pop_back();  // what follows the last NUL is no argument
  if (args.empty()) return -1;
  proof::Outcome outcome;
  bool beyondCodePage = false;
  if (mode == 'W' || mode == 'U') {
    if (mode == 'U') sim::M().ansiCodePage = CP_UTF8;
    std::u16string line;
    for (size_t i = 0; i < args.size(); i++) {
      bool quote = args[i].empty() || args[i].find_first_of(" \t") != std::string::npos;
      line += std::u16string(i ? u" " : u"") + (quote ? u"\"" : u"") + sim::FromUtf8(args[i]) +
              (quote ? u"\"" : u"");
    }
    for (char16_t c : line) beyondCodePage |= mode == 'W' && c > 0xFF;
    outcome = proof::RunInstallerW(line);
  } else {
    outcome = proof::RunInstaller(args);
  }
  fuzz::RequireReleased(outcome);
  int code = outcome.exitCode;
  fuzz::Require(code == 0 || code == 1 || code == 2 || code == 8 || code == 16, "exit code");
  fuzz::RequirePathsWhole();
  fuzz::RequireKeysKept(keys);
  std::string rest;
  fuzz::Require(proof::OutputIsKnownText(sim::Output(), &rest), "unknown output:", rest);
  // A line that code page 1252 cannot hold as typed changes nothing and opens no file named
  // on it: the one file it may open is the default log (and the console, for the pause).
  if (beyondCodePage) {
    // Only /? and an invalid force code end sooner, with 0, before they touch anything.
    // The entry point's restriction of the library search comes first in every run.
    auto restriction = [](const sim::CallRecord& c) {
      return c.op == "GetModuleHandleA" || c.op == "GetProcAddress" ||
             c.op == "SetDefaultDllDirectories" || c.op == "SetDllDirectoryA";
    };
    bool onlyRestriction = true;
    for (const sim::CallRecord& c : sim::M().calls) onlyRestriction &= restriction(c);
    fuzz::Require(code == 2 || (code == 0 && onlyRestriction),
                  "a command line beyond the code page did not stop");
    std::string defaultLog = sim::M().windowsDir + "\\Logs\\TVX2\\setup.log";
    for (const sim::CallRecord& c : sim::M().calls) {
      // The log is checked through its handle, and rotated or (just made and refused)
      // deleted through it too.
      bool logHandle = c.op == "SetFileInformationByHandle" &&
                       (c.args[1] == "4" || (c.args[1] == "3" && c.args[2] == defaultLog + ".1"));
      bool logCall = restriction(c) || logHandle ||
                     (c.op == "CreateFileA" || c.op == "FindFirstFileA" ||
                      c.op == "CreateDirectoryA" || c.op == "MoveFileExA" ||
                      c.op == "GetFullPathNameA") &&
                     (defaultLog.compare(0, c.args[0].size(), c.args[0]) == 0 ||
                      c.args[0] == defaultLog + ".1") ||
                     (c.op == "CreateFileA" && c.args[0] == "CONIN$") ||
                     // The refusal's event, and its source's key.
                     c.op == "RegisterEventSourceA" || c.op == "ReportEventA" ||
                     (c.op == "RegCreateKeyExA" && c.args[1] == EVENT_SOURCE_KEY) ||
                     (c.op == "RegQueryValueExA" && c.args[0] == "HKLM\\" EVENT_SOURCE_KEY);
      fuzz::Require(logCall, "a command line beyond the code page reached", c.op + " " +
                    (c.args.empty() ? "" : c.args[0]));
    }
  }
  return 0;
}

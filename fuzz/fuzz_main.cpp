// Main with an arbitrary argument vector (argv[0] included) and system directory: the input
// is the system directory, then the arguments, each ended by a NUL byte. The package lies in
// D:\pkg and C:\pkg, the card works, and a legacy service and another service are there,
// and so is someone else's hid.dll beside the program. An input of odd length runs on
// Windows 7 without the loader update (hid.dll by its full path).
#include <string.h>

#include "fuzz.h"
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
  args.pop_back();  // what follows the last NUL is no argument
  if (args.empty()) return -1;
  proof::Outcome outcome = proof::RunInstaller(args);
  fuzz::RequireReleased(outcome);
  int code = outcome.exitCode;
  fuzz::Require(code == 0 || code == 1 || code == 2 || code == 8 || code == 16, "exit code");
  fuzz::RequirePathsWhole();
  fuzz::RequireKeysKept(keys);
  std::string rest;
  fuzz::Require(proof::OutputIsKnownText(sim::Output(), &rest), "unknown output:", rest);
  return 0;
}

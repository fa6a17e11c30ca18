// The answer lines at the date question: the input is standard input. The WOW64 library is
// newer than the package's, so a first installation asks once; the answer decides whether
// it is replaced, as the prompt's rules say.
#include <string.h>

#include "fuzz.h"

namespace {

// The prompt's rules: a line (up to its line end, at most 1,023 bytes of it read) is judged
// from its first printable character other than a blank: "cancel" (any case) cancels, y or Y
// is yes, n or N is no; anything else, or a blank line, asks again. Input that ends first
// answers yes. Returns 'c', 'y' or 'n'.
char Judge(const std::string& input) {
  size_t pos = 0;
  while (pos < input.size()) {
    size_t end = input.find('\n', pos);
    size_t take = (end == std::string::npos ? input.size() : end + 1) - pos;
    if (take > 1023) take = 1023;
    std::string line;  // NUL bytes (as in an answer saved as UTF-16) do not count
    for (char c : input.substr(pos, take))
      if (c != '\0') line += c;
    // A long line is read to its end and judged by its beginning.
    pos = end == std::string::npos ? input.size() : end + 1;
    size_t first = 0;
    while (first < line.size() && !((unsigned char)line[first] > ' ' && (unsigned char)line[first] < 0x7F))
      first++;
    if (first == line.size()) continue;
    std::string answer = line.substr(first);
    if (answer.size() >= 6 && strncasecmp(answer.c_str(), "cancel", 6) == 0) return 'c';
    if (answer[0] == 'y' || answer[0] == 'Y') return 'y';
    if (answer[0] == 'n' || answer[0] == 'N') return 'n';
  }
  return 'y';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return -1;
  fuzz::Begin();
  std::string input((const char*)data, size);
  for (const char* name : {"SETUP.EXE", "KTASPW.DLL", "KTASPW32.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"})
    sim::AddFile(std::string("D:\\pkg\\") + name, name, 2000);
  const std::string wowLibrary = "C:\\WINDOWS\\SysWOW64\\KTASPW.DLL";
  sim::AddFile(wowLibrary, "newer", 3000);
  sim::SetStdin(input);
  proof::Outcome outcome = proof::RunInstaller({"D:\\pkg\\setup.exe", "-FU"});
  fuzz::RequireReleased(outcome);
  fuzz::Require(outcome.exitCode == 0, "exit code");
  fuzz::RequirePathsWhole();
  char expected = Judge(input);
  std::string kept = sim::FileContents(wowLibrary);
  fuzz::Require(kept == (expected == 'n' ? "newer" : "KTASPW32.DLL"),
                "the answer was judged otherwise than the prompt's rules say; the library holds",
                kept);
  std::string rest;
  fuzz::Require(proof::OutputIsKnownText(sim::Output(), &rest), "unknown output:", rest);
  return 0;
}

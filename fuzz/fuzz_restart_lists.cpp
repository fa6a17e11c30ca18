// The restart lists: the input is the first list's bytes as another program left them. The
// parser must read nothing past them and give back, for a list in the form Windows writes, the
// very entries that make it up; a run's bookkeeping then takes any other form as unknown, and
// answers for each of the software's paths within its buffers, releasing what it opened.
#include <string.h>

#include "actions/restart.h"
#include "actions/restart_list.h"
#include "fuzz.h"
#include "setup/setup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 65536) return -1;
  // Exactly the input's bytes, so that the sanitizer sees any read past them.
  char* bytes = new char[size ? size : 1];
  memcpy(bytes, data, size);
  std::string input((const char*)data, size);
  int canonical = IsCanonicalRestartList(bytes, (unsigned long)size);
  std::string rebuilt;
  unsigned long at = 0;
  RestartListEntry entry;
  while (NextRestartListEntry(bytes, (unsigned long)size, &at, &entry)) {
    fuzz::Require(entry.source >= bytes && entry.dest > entry.source && at <= size,
                  "an entry outside the list:", input);
    rebuilt += std::string(entry.source) + '\0' + (entry.replace ? "!" : "") + entry.dest + '\0';
  }
  delete[] bytes;
  if (canonical && size > 0)
    fuzz::Require(rebuilt + '\0' == input, "the entries are not the list:", input);

  fuzz::Begin();
  sim::M().files.pendingRaw = input;
  ReadRestartOperations();
  fuzz::Require(canonical || size == 0 || !MayRecordForRestart(),
                "a list in another form taken as read:", input);
  const std::string sys = sim::M().systemDir + "\\";
  for (const std::string& path :
       {sys + "KTASPW.DLL", sys + "KTASPREM.EXE", sys + "KTASPSVC.EXE",
        sim::M().windowsDir + "\\SysWOW64\\KTASPW.DLL", sys + "drivers\\tvx2\\KTASPW32.DLL",
        sys + "drivers\\tvx2\\SETUP.EXE", sys + "drivers\\tvx2"}) {
    char copy[PATH_BUFFER_SIZE];
    int after = PathAfterRestart(path.c_str(), 1, copy);
    fuzz::Require(after >= AFTER_RESTART_AS_NOW && after <= AFTER_RESTART_UNKNOWN,
                  "no answer for:", path);
    size_t length = strnlen(copy, sizeof copy);
    fuzz::Require(length < sizeof copy && (after != AFTER_RESTART_OUR_COPY || length > 0),
                  "a copy's path for:", path);
  }
  ForgetRestartOperations();
  std::string open = sim::Unreleased();
  fuzz::Require(open.empty(), "left open:", open);
  return 0;
}

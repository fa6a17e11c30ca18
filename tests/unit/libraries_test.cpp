// The entry point's restriction of library loading, on Windows with and without the update
// that brought SetDefaultDllDirectories: the calls it makes, with their arguments.
#include "sim_test.h"
#include "support/libraries.h"

namespace {

using Calls = std::vector<std::vector<std::string>>;  // each call: its operation, then its arguments

Calls Made() {
  Calls made;
  for (const sim::CallRecord& c : sim::M().calls) {
    made.push_back({c.op});
    made.back().insert(made.back().end(), c.args.begin(), c.args.end());
  }
  return made;
}

using LibrariesTest = SimTest;

TEST_F(LibrariesTest, EntryRestrictsTheSearchToTheSystemDirectoryOrAtLeastDropsTheCurrentOne) {
  const std::vector<std::string> handle = {"GetModuleHandleA", "kernel32.dll"};
  const std::vector<std::string> lookup = {"GetProcAddress", "kernel32.dll",
                                           "SetDefaultDllDirectories"};
  const std::vector<std::string> restrict = {"SetDefaultDllDirectories", "0x800"};
  const std::vector<std::string> dropCurrent = {"SetDllDirectoryA", ""};
  struct Case {
    const char* name;
    void (*arrange)();
    Calls calls;
    DWORD defaultDirs;
    bool currentDirSearched;
  } cases[] = {
      {"updated Windows", [] {}, {handle, lookup, restrict}, LOAD_LIBRARY_SEARCH_SYSTEM32, true},
      {"Windows 7 without the update", sim::WithoutLoaderUpdate, {handle, lookup, dropCurrent}, 0,
       false},
      {"the restriction refused",
       [] { sim::InjectFault("SetDefaultDllDirectories", ERROR_INVALID_PARAMETER); },
       {handle, lookup, restrict, dropCurrent}, 0, false},
      {"kernel32 not found", [] { sim::InjectFault("GetModuleHandleA", ERROR_MOD_NOT_FOUND); },
       {handle, dropCurrent}, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    c.arrange();
    RestrictLibrarySearch();
    EXPECT_EQ(Made(), c.calls);
    EXPECT_EQ(sim::M().libraries.defaultDirs, c.defaultDirs);
    EXPECT_EQ(sim::M().libraries.currentDirSearched, c.currentDirSearched);
    EXPECT_EQ(sim::OpenHandles(), 0);
  }
}

}  // namespace

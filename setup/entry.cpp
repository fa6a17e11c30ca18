// The process entry point: its result becomes the process exit code. Before anything else,
// later library loads are restricted to the system directory. (The C runtime's start-up loads
// no library of its own: SETUP.EXE's import table, all of it libraries that Windows takes
// from the system directory, is all that is loaded before this.)
#include "../support/libraries.h"
#include "setup.h"

int main(int argc, char** argv) {
  RestrictLibrarySearch();
  return Main(argc, argv);
}

// The run options: the command line read into the run state and into what Main alone keeps
// (detect-only, removal, verification, the log's name), and SourceDir worked out from the
// program path.
#ifndef SETUP_OPTIONS_H
#define SETUP_OPTIONS_H

#include <stddef.h>

#include "../support/log.h"
#include "setup.h"

struct RunOptions {
  int detectOnly;
  int remove;
  int verify;
  int logNamed;     // -LOG: was given
  int logNameFits;  // and its name fits logPath
  char logPath[PATH_BUFFER_SIZE];
  char commandLine[LOG_LINE_SIZE];  // the arguments as typed, for the log and the event
};

// What ReadOptions answers when the run goes on.
#define OPTIONS_READ (-1)

// Reads argv[1] to argv[argc-1] from left to right, each upper-cased in place. Answers
// OPTIONS_READ, or the exit code of a run that ends there: -? printed the usage text, or the
// force option's code was invalid.
int ReadOptions(int argc, char** argv, RunOptions* options);

// The options as the log and the event name them, each after a blank (" unattended verify").
void DescribeOptions(const RunOptions* options, char* text, size_t size);

// Works out SourceDir from the program path as typed. Returns 0 when the directory does not
// fit SourceDir, which then holds "" rather than a cut-off path.
int ResolveSourceDir(const char* programPath);

#endif

// The Application event at the end of a run that changes the machine (and of a verification
// that finds the installation broken), for the fleet's monitoring. Main alone calls it.
#ifndef SETUP_EVENTS_H
#define SETUP_EVENTS_H

#define EVENT_SOURCE "TVX2 Setup"
#define EVENT_SOURCE_KEY "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" EVENT_SOURCE
// Windows' own eventcreate registers its sources with this message file, whose messages show an
// event's first string as its text for every ID from 1 to 1000.
#define EVENT_MESSAGE_FILE "%SystemRoot%\\System32\\EventCreate.exe"

#define RUN_INSTALLATION 0
#define RUN_REMOVAL 1
#define RUN_VERIFICATION 2

// The run's options as the log names them, each after a blank (" unattended verify").
#define OPTIONS_TEXT_SIZE 96
// The command line's share of the event text, its cut mark included; a longer one is cut at a
// character's start and ends with the mark.
#define EVENT_COMMAND_LINE_LIMIT 512
#define EVENT_CUT_MARK "[...]"

// Registers the source when it is not yet, and reports the run's event: its ID and type from
// the run and the exit code, its text from `meaning`, the options, the command line and the
// run log's path (null: the default log; LOG_NONE: none), shown by the log's rule. A run and
// exit code with no event in the table (a verification that finds all whole) report none.
// Failures are logged, and change nothing else.
void ReportRunEvent(int run, int exitCode, const char* meaning, const char* options,
                    const char* commandLine, const char* logPath);

#endif

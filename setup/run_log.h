// The run log as a run opens it.
#ifndef SETUP_RUN_LOG_H
#define SETUP_RUN_LOG_H

// Opens the run log (see LogOpen) with the package's file names refused as its name.
void OpenRunLog(const char* path);

#endif

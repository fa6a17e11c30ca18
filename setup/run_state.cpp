// The run state at its start values, for hosts that run the installer more than once. Every
// variable a run writes lies in the run-state section (platform/run_state.h): the reset copies
// back the section's image as the process started with it, whatever files it comes from.
#include <stdlib.h>
#include <string.h>

#include "../actions/actions.h"
#include "../platform/run_state.h"
#include "setup.h"

static size_t RunStateSize(void) { return (size_t)(RunStateEnd() - RunStateBegin()); }

// A copy of the section as it stands before main() is entered: every marked variable has a
// constant start value, in place before any of the program's code runs.
static char* TakeStartImage(void) {
  char* image = (char*)malloc(RunStateSize());
  if (image) memcpy(image, RunStateBegin(), RunStateSize());
  return image;
}

static char* const StartImage = TakeStartImage();

void ResetRunState(void) {
  // What holds a handle of its own is released before the handle is forgotten.
  CloseRunningProgramFile();
  if (StartImage) memcpy(RunStateBegin(), StartImage, RunStateSize());
}

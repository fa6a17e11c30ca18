// The run state: set once from the command line by Main, read by every part. Defined on the
// floor below the parts, with the catalogue, so that the parts link without Main.
#include "../platform/run_state.h"
#include "setup.h"

RUN_STATE int Unattended = 0;
RUN_STATE char ForceCode = 0;
RUN_STATE char SourceDir[SOURCE_DIR_SIZE] = "";

// The run state: set once from the command line by Main, read by every part. Defined on the
// floor below the parts, with the catalogue, so that the parts link without Main.
#include "setup.h"

int Unattended = 0;
char ForceCode = 0;
char SourceDir[SOURCE_DIR_SIZE] = "";

// The process entry point: its result becomes the process exit code.
#include "setup.h"

int main(int argc, char** argv) { return Main(argc, argv); }

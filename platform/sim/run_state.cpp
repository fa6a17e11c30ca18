// The bounds of the run's state on the host: the ELF linker's symbols around the section.
#include "../run_state.h"

extern "C" char __start_run_state[];
extern "C" char __stop_run_state[];

char* RunStateBegin(void) { return __start_run_state; }
char* RunStateEnd(void) { return __stop_run_state; }

// The bounds of the run's state on the host: the ELF linker's symbols around the section.
#include "../run_state.h"

// Weak: the marked variables lie in the floors above, so the platform's library alone, linked
// on its own to show it needs nothing from them, has no such section.
extern "C" __attribute__((weak)) char __start_run_state[];
extern "C" __attribute__((weak)) char __stop_run_state[];

char* RunStateBegin(void) { return __start_run_state; }
char* RunStateEnd(void) { return __stop_run_state; }

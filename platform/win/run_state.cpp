// The bounds of the run's state on Windows: a byte in the section's first part and one in its
// last, which the linker places before and after every variable marked RUN_STATE.
#include "../run_state.h"

#if defined(_MSC_VER)
__declspec(allocate(".rstate$a")) static char RunStateFirst = 0;
__declspec(allocate(".rstate$z")) static char RunStateAfter = 0;
#else
__attribute__((section(".rstate$a"))) static char RunStateFirst = 0;
__attribute__((section(".rstate$z"))) static char RunStateAfter = 0;
#endif

char* RunStateBegin(void) { return &RunStateFirst + 1; }
char* RunStateEnd(void) { return &RunStateAfter; }

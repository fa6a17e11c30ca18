// The run's state in one place. Every file-level variable that a run writes is defined with
// RUN_STATE in front, which puts it in a section of its own:
//
//   RUN_STATE static int ToolRefused = 0;
//
// ResetRunState (setup/run_state.cpp) copies that section back as it stood when the process
// started, so a host that runs the installer more than once (tests, sweeps, fuzzers) starts
// each run as a fresh process would, and no variable can be left out of the reset by hand.
// Such a variable holds plain data with a constant start value; a handle in it is only
// forgotten, so one that must be closed between runs is released by the reset first.
// tests/run_state_check.py names any writable file-level variable of the installer that is
// not marked.
//
// How the section is marked and where it begins and ends is the toolchain's business, so it
// is spelled here and nowhere else.
#ifndef PLATFORM_RUN_STATE_H
#define PLATFORM_RUN_STATE_H

#if defined(_MSC_VER)
// The linker joins ".rstate$a" to ".rstate$z" into one section, ordered by what follows "$".
#pragma section(".rstate$a", read, write)
#pragma section(".rstate$m", read, write)
#pragma section(".rstate$z", read, write)
#define RUN_STATE __declspec(allocate(".rstate$m"))
#elif defined(_WIN32)
// GNU ld joins and orders the parts of a "$" section on Windows as Microsoft's linker does.
#define RUN_STATE __attribute__((section(".rstate$m")))
#else
// ELF linkers define __start_ and __stop_ symbols around a section named like an identifier.
#define RUN_STATE __attribute__((section("run_state")))
#endif

// Where the section begins, and the byte after its end.
char* RunStateBegin(void);
char* RunStateEnd(void);

#endif

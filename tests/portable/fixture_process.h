// Service tools for the portable tests: on the host, simulated programs; on Windows, a real
// stand-in program copied into the system directory under the tool's name.
#ifndef TESTS_PORTABLE_FIXTURE_PROCESS_H
#define TESTS_PORTABLE_FIXTURE_PROCESS_H

#include <stdint.h>

#include <string>
#include <vector>

// A tool in the system directory under this name that runs for runMs and ends with exitCode.
// When holdPath is given, it leaves behind a process that holds that file open without
// sharing for holdMs after the tool itself has ended.
void FixtureAddTool(const std::string& name, unsigned runMs, unsigned exitCode = 0,
                    const std::string& holdPath = "", unsigned holdMs = 0);
// Takes away the tools that FixtureAddTool placed.
void FixtureRemoveTools();
// The command lines the tool of this name was started with, in order.
std::vector<std::string> FixtureToolRuns(const std::string& name);
// A clock in milliseconds: virtual on the host, real on Windows.
uint64_t FixtureNowMs();

// What the code under test printed to standard output while it ran.
#include <functional>
std::string FixtureCapture(const std::function<void()>& run);

#endif

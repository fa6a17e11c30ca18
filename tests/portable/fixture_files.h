// Files on the portable tests' machine: scratch directories, files with contents, times and
// attributes, a file held open by the test without sharing, the moves that the system has
// recorded for the next restart, standard input and the output of a stretch of the test.
#ifndef TESTS_PORTABLE_FIXTURE_FILES_H
#define TESTS_PORTABLE_FIXTURE_FILES_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

// A new, empty directory: its full path, ending in a backslash.
std::string FixtureScratchDir();
// Creates or replaces a file; attributes 0 leave it normal.
void FixtureWriteFile(const std::string& path, const std::string& contents,
                      uint64_t lastWriteTime, uint32_t attributes = 0);
bool FixtureFileExists(const std::string& path);
std::string FixtureReadFile(const std::string& path);
uint64_t FixtureFileTime(const std::string& path);
uint32_t FixtureFileAttributes(const std::string& path);
// Opens the file without sharing and keeps it open until FixtureReleaseHeld.
void FixtureHoldOpen(const std::string& path);
void FixtureReleaseHeld();
// The recorded moves, source and destination as full paths.
std::vector<std::pair<std::string, std::string>> FixturePendingMoves();
// The file of a program that is running now (on Windows the test's own): a test may rename
// it, and puts it back.
std::string FixtureRunningProgram();
// What standard input delivers from now on.
void FixtureSetStdin(const std::string& text);
// Standard output between the two calls, as FixtureOutput gives it.
void FixtureCaptureBegin();
std::string FixtureCaptureEnd();

#endif

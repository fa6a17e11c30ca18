// Files on the simulated machine.
#include "fixture_files.h"
#include "platform/sim/machine.h"

static int scratchCount = 0;
static std::vector<std::string> held;
static size_t captureStart = 0;

std::string FixtureScratchDir() {
  std::string dir = "C:\\scratch\\" + std::to_string(++scratchCount);
  sim::AddDirectory(dir);
  return dir + "\\";
}

void FixtureWriteFile(const std::string& path, const std::string& contents,
                      uint64_t lastWriteTime, uint32_t attributes) {
  sim::AddFile(path, contents, lastWriteTime, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

bool FixtureFileExists(const std::string& path) { return sim::FileExists(path); }

std::string FixtureReadFile(const std::string& path) { return sim::FileContents(path); }

uint64_t FixtureFileTime(const std::string& path) { return sim::FileTime(path); }

uint32_t FixtureFileAttributes(const std::string& path) { return sim::FileAttributes(path); }

void FixtureHoldOpen(const std::string& path) {
  sim::HoldOpen(path);
  held.push_back(path);
}

void FixtureReleaseHeld() {
  for (const std::string& path : held) sim::ReleaseHold(path);
  held.clear();
}

std::vector<std::pair<std::string, std::string>> FixturePendingMoves() {
  std::vector<std::pair<std::string, std::string>> moves;
  for (const sim::PendingMove& m : sim::PendingMoves()) moves.emplace_back(m.source, m.dest);
  return moves;
}

void FixtureSetStdin(const std::string& text) { sim::SetStdin(text); }

std::string FixtureRunningProgram() {
  std::string path = FixtureScratchDir() + "program.exe";
  sim::AddFile(path, "program", 0);
  sim::SetRunningImage(path);
  return path;
}

void FixtureCaptureBegin() { captureStart = sim::Output().size(); }

std::string FixtureCaptureEnd() { return sim::Output().substr(captureStart); }

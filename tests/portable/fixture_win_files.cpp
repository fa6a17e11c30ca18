// Files on the real machine inside the test's Wine prefix.
#include <windows.h>
#include <stdio.h>

#include <gtest/gtest.h>

#include "fixture_files.h"

static int scratchCount = 0;
static std::vector<HANDLE> held;

std::string FixtureScratchDir() {
  CreateDirectoryA("C:\\scratch", NULL);
  std::string dir =
      "C:\\scratch\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++scratchCount);
  EXPECT_TRUE(CreateDirectoryA(dir.c_str(), NULL)) << dir << " " << GetLastError();
  return dir + "\\";
}

void FixtureWriteFile(const std::string& path, const std::string& contents,
                      uint64_t lastWriteTime, uint32_t attributes) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path << " " << GetLastError();
  DWORD written = 0;
  WriteFile(h, contents.data(), (DWORD)contents.size(), &written, NULL);
  FILETIME ft;
  ft.dwLowDateTime = (DWORD)(lastWriteTime & 0xFFFFFFFFu);
  ft.dwHighDateTime = (DWORD)(lastWriteTime >> 32);
  EXPECT_TRUE(SetFileTime(h, NULL, NULL, &ft));
  CloseHandle(h);
  if (attributes) EXPECT_TRUE(SetFileAttributesA(path.c_str(), attributes));
}

std::string FixtureRunningProgram() {
  char path[MAX_PATH];
  DWORD length = GetModuleFileNameA(NULL, path, sizeof path);
  EXPECT_TRUE(length > 0 && length < sizeof path);
  return path;
}

bool FixtureFileExists(const std::string& path) {
  DWORD a = GetFileAttributesA(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FixtureReadFile(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                         OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) return "";
  std::string contents;
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, NULL) && n > 0) contents.append(buf, n);
  CloseHandle(h);
  return contents;
}

uint64_t FixtureFileTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return ((uint64_t)data.ftLastWriteTime.dwHighDateTime << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

uint32_t FixtureFileAttributes(const std::string& path) {
  return GetFileAttributesA(path.c_str());
}

void FixtureHoldOpen(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                         0, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << path << " " << GetLastError();
  held.push_back(h);
}

void FixtureReleaseHeld() {
  for (HANDLE h : held) CloseHandle(h);
  held.clear();
}

// Windows keeps the list as pairs of NT paths: "\??\<source>", then "!\??\<destination>"
// when the destination may be replaced (or an empty string for a deletion).
static std::string DosPath(std::string s) {
  if (!s.empty() && s[0] == '!') s.erase(0, 1);
  if (s.compare(0, 4, "\\??\\") == 0) s.erase(0, 4);
  return s;
}

std::vector<std::pair<std::string, std::string>> FixturePendingMoves() {
  std::vector<std::pair<std::string, std::string>> moves;
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0,
                    KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return moves;
  DWORD type = 0, size = 0;
  if (RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, NULL, &size) ==
          ERROR_SUCCESS &&
      size > 0) {
    std::vector<char> data(size + 2, '\0');
    if (RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, (LPBYTE)data.data(),
                         &size) == ERROR_SUCCESS) {
      // Split at every NUL; a deletion has an empty destination, the list ends in NULs.
      std::vector<std::string> strings(1);
      for (size_t i = 0; i < size; i++) {
        if (data[i])
          strings.back() += data[i];
        else
          strings.emplace_back();
      }
      while (!strings.empty() && strings.back().empty() && strings.size() % 2 == 1)
        strings.pop_back();
      for (size_t i = 0; i + 1 < strings.size(); i += 2)
        if (!strings[i].empty()) moves.emplace_back(DosPath(strings[i]), DosPath(strings[i + 1]));
    }
  }
  RegCloseKey(key);
  return moves;
}

void FixtureSetStdin(const std::string& text) {
  char dir[MAX_PATH];
  GetTempPathA(sizeof dir, dir);
  std::string path = std::string(dir) + "setup-stdin-" + std::to_string(++scratchCount) + ".txt";
  FILE* f = fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
  ASSERT_NE(freopen(path.c_str(), "r", stdin), nullptr);
}

void FixtureCaptureBegin() { ::testing::internal::CaptureStdout(); }

std::string FixtureCaptureEnd() { return ::testing::internal::GetCapturedStdout(); }

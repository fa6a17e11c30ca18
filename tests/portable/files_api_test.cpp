// The file operations the installer calls, straight: the errors the simulated machine gives
// must be the ones Windows gives.
#include "fixture.h"
#include "fixture_files.h"
#include "platform/win32.h"

namespace {

using FilesApiTest = PortableTest;

TEST_F(FilesApiTest, CopyErrorsMatchWindows) {
  std::string dir = FixtureScratchDir();
  FixtureWriteFile(dir + "SRC", "src", 5);
  // Windows also refuses (error 5) to overwrite a read-only or hidden file; Wine 8 overwrites
  // it, so that case is tested on the simulated machine only.
  struct {
    std::string from, to;
    DWORD error;
  } cases[] = {
      {dir + "none", dir + "new", ERROR_FILE_NOT_FOUND},
      {dir + "SRC", dir + "none\\new", ERROR_PATH_NOT_FOUND},
      {dir + "SRC", dir + "src", ERROR_SHARING_VIOLATION},
  };
  for (auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(CopyFileA(c.from.c_str(), c.to.c_str(), FALSE)) << c.to;
    EXPECT_EQ(GetLastError(), c.error) << c.to;
  }
  EXPECT_EQ(FixtureReadFile(dir + "SRC"), "src");
}

TEST_F(FilesApiTest, LookupsAndDirectoriesMatchWindows) {
  std::string dir = FixtureScratchDir();
  FixtureWriteFile(dir + "Mixed.Dll", "12345", 0x01D5000000000000ull);
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA((dir + "MIXED.DLL").c_str(), &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "Mixed.Dll");
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, 0x01D50000u);
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_TRUE(FindClose(h));
  EXPECT_EQ(FindFirstFileA((dir + "other").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA((dir + "none\\other").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  // Doubled separators and "..\" read as Windows reads them.
  h = FindFirstFileA((dir + "\\x\\..\\Mixed.Dll").c_str(), &data);
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  if (h != INVALID_HANDLE_VALUE) FindClose(h);

  EXPECT_TRUE(CreateDirectoryA((dir + "sub\\").c_str(), NULL));
  EXPECT_FALSE(CreateDirectoryA((dir + "SUB").c_str(), NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryA((dir + "a\\b").c_str(), NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(SetFileAttributesA((dir + "gone").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

// The functions that convert an ANSI name into the thread's fixed buffer refuse a name of
// MAX_PATH characters or more. (Copies and moves to such names fail with 3 on Windows; Wine
// has no limit there, so that case is tested on the simulated machine only.)
TEST_F(FilesApiTest, NamesOfMaxPathOrMoreAreRefused) {
  std::string dir = FixtureScratchDir();
  std::string name = dir + std::string(MAX_PATH - dir.size(), 'n');  // exactly MAX_PATH
  WIN32_FIND_DATAA data;
  SetLastError(0);
  EXPECT_EQ(FindFirstFileA(name.c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
  SetLastError(0);
  EXPECT_FALSE(SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
  SetLastError(0);
  EXPECT_FALSE(CreateDirectoryA(name.c_str(), NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILENAME_EXCED_RANGE);
}

}  // namespace

// The simulated file system behaves as Windows does where the installer can tell.
#include "platform/win32.h"
#include "sim_test.h"

namespace {

using FilesModelTest = SimTest;

TEST_F(FilesModelTest, PathsResolveAsWindowsResolvesThem) {
  sim::M().files.currentDir = "C:\\pkg";
  EXPECT_EQ(sim::FullPath(".\\A.DLL"), "C:\\pkg\\A.DLL");
  EXPECT_EQ(sim::FullPath("A.DLL"), "C:\\pkg\\A.DLL");
  EXPECT_EQ(sim::FullPath("C:\\pkg\\\\A.DLL"), "C:\\pkg\\A.DLL");
  EXPECT_EQ(sim::FullPath("C:/WINDOWS/system32/../sysWOW64/"), "C:\\WINDOWS\\sysWOW64");
  EXPECT_EQ(sim::FullPath("\\x"), "C:\\x");
  EXPECT_EQ(sim::FullPath("D:y"), "D:\\y");
  EXPECT_EQ(sim::FullPath("\\\\server\\share\\d\\..\\..\\f"), "\\\\server\\share\\f");  // a share
  EXPECT_EQ(sim::FullPath("\\\\?\\C:\\f"), "");  // device paths are not modelled
  EXPECT_TRUE(sim::DirectoryExists("c:\\windows\\SYSTEM32\\..\\syswow64"));
}

TEST_F(FilesModelTest, FindReportsWhatIsThereAndTellsMissingFileFromMissingPath) {
  sim::AddFile("C:\\d\\Mixed.Dll", "12345", 0x0123456789ABCDEFull, FILE_ATTRIBUTE_READONLY);
  WIN32_FIND_DATAA data;
  HANDLE h = FindFirstFileA("c:\\D\\MIXED.DLL", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "Mixed.Dll");
  EXPECT_EQ(data.dwFileAttributes, (DWORD)FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(data.ftLastWriteTime.dwHighDateTime, 0x01234567u);
  EXPECT_EQ(data.ftLastWriteTime.dwLowDateTime, 0x89ABCDEFu);
  EXPECT_EQ(data.nFileSizeLow, 5u);
  EXPECT_EQ(sim::OpenHandles(sim::HandleKind::Find), 1);
  EXPECT_TRUE(FindClose(h));
  EXPECT_FALSE(FindClose(h));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
  EXPECT_EQ(FindFirstFileA("C:\\d\\other", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileA("C:\\nowhere\\other", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  h = FindFirstFileA("C:\\d\\*.dll", &data);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_STREQ(data.cFileName, "Mixed.Dll");
  FindClose(h);
  EXPECT_EQ(sim::OpenHandles(), 0);
}

TEST_F(FilesModelTest, CopyRefusesWhatWindowsRefuses) {
  sim::AddFile("C:\\s\\F", "src", 7);
  sim::AddFile("C:\\d\\RO", "x", 1, FILE_ATTRIBUTE_READONLY);
  sim::AddFile("C:\\d\\HID", "x", 1, FILE_ATTRIBUTE_HIDDEN);
  sim::AddDirectory("C:\\d\\DIR");
  struct {
    const char* from;
    const char* to;
    BOOL failIfExists;
    DWORD error;
  } cases[] = {
      {"C:\\s\\none", "C:\\d\\new", FALSE, ERROR_FILE_NOT_FOUND},
      {"C:\\s\\F", "C:\\none\\new", FALSE, ERROR_PATH_NOT_FOUND},
      {"C:\\s\\F", "C:\\d\\RO", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\s\\F", "C:\\d\\HID", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\s\\F", "C:\\d\\DIR", FALSE, ERROR_ACCESS_DENIED},
      {"C:\\s\\F", "C:\\d\\RO", TRUE, ERROR_FILE_EXISTS},
      {"C:\\s\\F", "c:\\S\\f", FALSE, ERROR_SHARING_VIOLATION},
  };
  for (auto& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(CopyFileA(c.from, c.to, c.failIfExists)) << c.to;
    EXPECT_EQ(GetLastError(), c.error) << c.to;
  }
  EXPECT_EQ(sim::FileContents("C:\\d\\RO"), "x");
  EXPECT_TRUE(SetFileAttributesA("C:\\d\\RO", FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(CopyFileA("C:\\s\\F", "C:\\d\\ro", FALSE));
  EXPECT_EQ(sim::FileContents("C:\\d\\RO"), "src");
  EXPECT_EQ(sim::FileTime("C:\\d\\RO"), 7u);
  EXPECT_FALSE(SetFileAttributesA("C:\\d\\gone", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

TEST_F(FilesModelTest, DelayedMovesAreRecordedAndCarriedOutAtRestart) {
  sim::AddFile("C:\\s\\F", "new", 2);
  sim::AddFile("C:\\d\\F", "old", 1);
  sim::HoldOpen("C:\\d\\F");
  EXPECT_FALSE(MoveFileExA("C:\\s\\F", "C:\\d\\F", MOVEFILE_DELAY_UNTIL_REBOOT |
                                                       MOVEFILE_COPY_ALLOWED));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(MoveFileExA("C:\\s\\F", "C:\\d\\F",
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(sim::FileContents("C:\\d\\F"), "old");
  sim::ApplyPendingMoves();
  EXPECT_EQ(sim::FileContents("C:\\d\\F"), "new");
  EXPECT_FALSE(sim::FileExists("C:\\s\\F"));
  EXPECT_TRUE(sim::PendingMoves().empty());
  // A folder moves with everything below it, now and at the restart.
  sim::AddFile("C:\\f\\a", "a", 1);
  sim::AddFile("C:\\f\\sub\\b", "b", 1);
  EXPECT_TRUE(MoveFileExA("C:\\f", "C:\\g", 0));
  EXPECT_TRUE(MoveFileExA("C:\\g", "C:\\h", MOVEFILE_DELAY_UNTIL_REBOOT));
  sim::ApplyPendingMoves();
  EXPECT_EQ(sim::FileContents("C:\\h\\a") + sim::FileContents("C:\\h\\sub\\b"), "ab");
  EXPECT_FALSE(sim::DirectoryExists("C:\\f") || sim::DirectoryExists("C:\\g"));
}

TEST_F(FilesModelTest, CreateDirectoryMakesOnlyTheLastComponent) {
  EXPECT_TRUE(CreateDirectoryA("C:\\WINDOWS\\system32\\drivers\\tvx2\\", NULL));
  EXPECT_TRUE(sim::DirectoryExists("C:\\WINDOWS\\system32\\drivers\\tvx2"));
  EXPECT_FALSE(CreateDirectoryA("C:\\windows\\system32\\DRIVERS\\tvx2", NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryA("C:\\a\\b", NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);
  sim::DenyAccess("C:\\WINDOWS");
  EXPECT_FALSE(CreateDirectoryA("C:\\WINDOWS\\new", NULL));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
}

}  // namespace

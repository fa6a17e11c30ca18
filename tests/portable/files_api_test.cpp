// The file operations the installer calls, straight: the errors the simulated machine gives
// must be the ones Windows gives.
#include "fixture.h"
#include "fixture_files.h"
#include "platform/win32.h"

#include <ctype.h>
#include <string.h>

#include <utility>

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

// What the run log and the removal rely on: appends from two handles at once, and the errors of
// deletion.
TEST_F(FilesApiTest, AppendsAndDeletionsMatchWindows) {
  std::string dir = FixtureScratchDir();
  std::string log = dir + "run.log";
  auto openLog = [](const std::string& path) {
    return CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, NULL);
  };
  HANDLE first = openLog(log);
  HANDLE second = openLog(log);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  // Writers take turns through a lock on one byte far past the end: while one handle holds it,
  // the other's lock fails at once, and writing and reading are not held up by it.
  OVERLAPPED pastEnd = {};
  pastEnd.OffsetHigh = 0x40000000;
  const DWORD turn = LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY;
  EXPECT_TRUE(LockFileEx(first, turn, 0, 1, 0, &pastEnd));
  EXPECT_FALSE(LockFileEx(second, turn, 0, 1, 0, &pastEnd));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_LOCK_VIOLATION);
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(second, "", 0, &written, NULL));
  EXPECT_TRUE(UnlockFileEx(first, 0, 1, 0, &pastEnd));
  EXPECT_TRUE(LockFileEx(second, turn, 0, 1, 0, &pastEnd));
  EXPECT_TRUE(UnlockFileEx(second, 0, 1, 0, &pastEnd));
  for (auto write : {std::make_pair(first, "one\r\n"), std::make_pair(second, "two\r\n"),
                     std::make_pair(first, "three\r\n")}) {
    EXPECT_TRUE(WriteFile(write.first, write.second, (DWORD)strlen(write.second), &written, NULL));
    EXPECT_EQ(written, strlen(write.second));
  }
  // Open for writing without delete sharing: the log cannot go while a run writes it.
  EXPECT_FALSE(DeleteFileA(log.c_str()));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
  CloseHandle(first);
  CloseHandle(second);
  EXPECT_EQ(FixtureReadFile(log), "one\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(openLog(dir + "none\\run.log"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_PATH_NOT_FOUND);

  // Windows also refuses (error 5) to open a read-only file for appending; Wine 8 opens it, so
  // that case is tested on the simulated machine only.
  FixtureWriteFile(dir + "ro", "r", 0, FILE_ATTRIBUTE_READONLY);
  FixtureWriteFile(dir + "held", "h", 0);
  FixtureHoldOpen(dir + "held");
  struct {
    std::string path;
    DWORD error;
  } deletes[] = {
      {dir + "ro", ERROR_ACCESS_DENIED},
      {dir + "held", ERROR_SHARING_VIOLATION},
      {dir + "gone", ERROR_FILE_NOT_FOUND},
      {dir + "none\\gone", ERROR_PATH_NOT_FOUND},
  };
  for (auto& d : deletes) {
    EXPECT_FALSE(DeleteFileA(d.path.c_str())) << d.path;
    EXPECT_EQ(GetLastError(), d.error) << d.path;
  }
  FixtureReleaseHeld();
  EXPECT_TRUE(DeleteFileA((dir + "held").c_str()));
  EXPECT_FALSE(FixtureFileExists(dir + "held"));

  // Directories: only an empty one goes.
  EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(RemoveDirectoryA((dir + "gone").c_str()));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(CreateDirectoryA((dir + "sub").c_str(), NULL));
  EXPECT_TRUE(RemoveDirectoryA((dir + "sub").c_str()));
}

// The functions that convert an ANSI name into the thread's fixed buffer refuse a name longer
// than MAX_PATH characters. (Copies and moves to names of MAX_PATH characters fail with 3 on
// Windows; Wine has no limit there, so that case is tested on the simulated machine only.)
// What the removal started from the driver directory meets: its own file can be renamed, but
// neither deleted nor opened for writing.
TEST_F(FilesApiTest, TheRunningProgramCanBeRenamedButNotDeletedOrWritten) {
  const std::string program = FixtureRunningProgram();
  const std::string moved = program + ".moved";
  EXPECT_FALSE(DeleteFileA(program.c_str()));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_EQ(CreateFileA(program.c_str(), GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                        OPEN_EXISTING, 0, NULL),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
  ASSERT_TRUE(MoveFileExA(program.c_str(), moved.c_str(), MOVEFILE_REPLACE_EXISTING))
      << GetLastError();
  EXPECT_FALSE(DeleteFileA(moved.c_str()));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
  EXPECT_TRUE(MoveFileExA(moved.c_str(), program.c_str(), 0)) << GetLastError();
  EXPECT_TRUE(FixtureFileExists(program));
}

TEST_F(FilesApiTest, NamesLongerThanMaxPathAreRefused) {
  std::string dir = FixtureScratchDir();
  std::string name = dir + std::string(MAX_PATH + 1 - dir.size(), 'n');  // MAX_PATH + 1
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

// What the run log asks of its handle: its names, its final path, a rename through it and a
// deletion through it, and the conversion of the new name.
TEST_F(FilesApiTest, HandleInformationRenamesAndDeletionsMatchWindows) {
  std::string dir = FixtureScratchDir();
  FixtureWriteFile(dir + "Mixed.Log", "12345", 0);
  FixtureWriteFile(dir + "older", "x", 0);
  const DWORD access = FILE_READ_DATA | FILE_APPEND_DATA | DELETE;
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE h = CreateFileA((dir + "MIXED.LOG").c_str(), access, share, NULL, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  BY_HANDLE_FILE_INFORMATION info;
  ASSERT_TRUE(GetFileInformationByHandle(h, &info));
  EXPECT_EQ(info.nNumberOfLinks, 1u);
  EXPECT_EQ(info.nFileSizeLow, 5u);
  EXPECT_EQ(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY), 0u);
  // The name as the disk holds it, after "\\?\". Too small a buffer gets the size needed
  // (Windows counts the terminating NUL in it, Wine 8 does not): never less than the length.
  std::string want = "\\\\?\\" + dir + "Mixed.Log";
  char path[600];
  DWORD needed = GetFinalPathNameByHandleA(h, path, 5, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  EXPECT_TRUE(needed == want.size() + 1 || needed == want.size()) << needed;
  ASSERT_EQ(GetFinalPathNameByHandleA(h, path, sizeof path, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS),
            (DWORD)want.size());
  std::string got = path;
  EXPECT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size() && i < want.size(); i++)
    EXPECT_EQ(tolower((unsigned char)got[i]), tolower((unsigned char)want[i])) << got;
  EXPECT_STREQ(path + want.size() - 9, "Mixed.Log");

  union {
    FILE_RENAME_INFO info;
    unsigned char bytes[sizeof(FILE_RENAME_INFO) + 600 * sizeof(WCHAR)];
  } rename;
  memset(&rename, 0, sizeof rename);
  std::string older = dir + "older";
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, older.c_str(), -1, NULL, 0),
            (int)older.size() + 1);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, older.c_str(), -1,
                                rename.info.FileName, 3), 0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  int chars = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, older.c_str(), -1,
                                  rename.info.FileName, 600);
  ASSERT_EQ(chars, (int)older.size() + 1);
  rename.info.FileNameLength = (DWORD)(chars - 1) * (DWORD)sizeof(WCHAR);
  EXPECT_FALSE(SetFileInformationByHandle(h, FileRenameInfo, &rename, sizeof rename));
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
  rename.info.ReplaceIfExists = TRUE;
  EXPECT_TRUE(SetFileInformationByHandle(h, FileRenameInfo, &rename, sizeof rename));
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(h, "6", 1, &written, NULL));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(FixtureFileExists(dir + "Mixed.Log"));
  EXPECT_EQ(FixtureReadFile(older), "123456");

  // A file made by this open and marked for deletion goes when the handle closes.
  h = CreateFileA((dir + "new.log").c_str(), access, share, NULL, OPEN_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), 0u);
  FILE_DISPOSITION_INFO disposition;
  disposition.DeleteFile = TRUE;
  EXPECT_TRUE(SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition));
  EXPECT_TRUE(FixtureFileExists(dir + "new.log"));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_FALSE(FixtureFileExists(dir + "new.log"));
}

}  // namespace

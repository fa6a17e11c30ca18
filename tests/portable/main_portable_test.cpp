// Main on either platform: what it reads of the real or simulated machine.
#include <string>
#include <vector>

#include "catalogue.h"
#include "fixture.h"
#include "platform/win32.h"
#include "setup/setup.h"

using MainPortableTest = PortableTest;

TEST_F(MainPortableTest, InvalidForceCodeStopsBeforeTheBanner) {
  EXPECT_EQ(FixtureRunMain({"setup", "-fx", "-x"}), EXIT_INSTALLED);
  EXPECT_EQ(FixtureOutput(), kInvalidForce);
  EXPECT_EQ(FixtureRunMain({"setup", "-n", "-F"}), EXIT_INSTALLED);
  EXPECT_EQ(FixtureOutput(), kInvalidForce);  // nothing more
}

TEST_F(MainPortableTest, DetectOnlyOnAMachineWithoutTheCard) {
  EXPECT_EQ(FixtureRunMain({"setup", "-h"}), EXIT_DEVICE_NOT_FOUND);
  EXPECT_EQ(FixtureOutput(), kBanner + kNoDevice + kFailed);
}

TEST_F(MainPortableTest, RootedProgramPathTakesTheCurrentDriveInLowerCase) {
  FixtureRunMain({"\\pkg\\setup", "-n"});
  std::string dir = SourceDir;
  ASSERT_EQ(dir.size(), 7u);
  EXPECT_TRUE(dir[0] >= 'a' && dir[0] <= 'z') << dir;
  EXPECT_EQ(dir.substr(1), ":\\pkg\\");
}

// The conversion the command-line check relies on, as Windows does it: code page 1252 exactly,
// by best fit, or with the default character; UTF-8; and the failures the check must see.
TEST_F(MainPortableTest, ConversionToTheCodePageMatchesWindows) {
  struct Row {
    std::u16string text;
    UINT codePage;
    DWORD flags;
    std::string bytes;  // what it converts to; empty: the conversion fails
    BOOL usedDefault;
  };
  const std::vector<Row> rows = {
      {u"C:\\caf\u00e9 -X", 1252, WC_NO_BEST_FIT_CHARS, "C:\\caf\xe9 -X", FALSE},
      {u"C:\\\u8f6f\u4ef6\\", 1252, WC_NO_BEST_FIT_CHARS, "C:\\??\\", TRUE},
      {u"\uff02\uff50\uff2b\u0100", 1252, 0, "\"pKA", FALSE},
      {u"\uff02\uff50\uff2b\u0100", 1252, WC_NO_BEST_FIT_CHARS, "????", TRUE},
      {u"\U0001F600", 1252, WC_NO_BEST_FIT_CHARS, "??", TRUE},  // one for each half
      {u"\u8f6f\U0001F600", CP_UTF8, 0, "\xe8\xbd\xaf\xf0\x9f\x98\x80", FALSE},
      {u"a\xd800z", CP_UTF8, 0, "a\xef\xbf\xbdz", FALSE},
      {u"a\xd800z", CP_UTF8, WC_ERR_INVALID_CHARS, "", FALSE},
  };
  for (const Row& row : rows) {
    std::vector<WCHAR> text(row.text.begin(), row.text.end());
    char out[64];
    BOOL usedDefault = FALSE;
    int length = WideCharToMultiByte(row.codePage, row.flags, text.data(), (int)text.size(),
                                     out, sizeof out, NULL,
                                     row.codePage == CP_UTF8 ? NULL : &usedDefault);
    EXPECT_EQ(std::string(out, length > 0 ? (size_t)length : 0), row.bytes) << row.bytes;
    EXPECT_EQ(usedDefault, row.usedDefault) << row.bytes;
    if (row.bytes.empty()) EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION);
  }
  // A buffer too small fails.
  const WCHAR abc[] = {'a', 'b', 'c', 0};
  char two[2];
  BOOL used = FALSE;
  EXPECT_EQ(WideCharToMultiByte(1252, 0, abc, -1, two, sizeof two, NULL, &used), 0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(WideCharToMultiByte(1252, 0, abc, -1, NULL, 0, NULL, &used), 4);
  // And back, as the log's rotation converts its new name: UTF-8 and 1252 into wide
  // characters, and a malformed sequence refused when asked to.
  WCHAR wide[16];
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "D:\\\xe8\xbd\xaf", -1, wide, 16), 5);
  EXPECT_EQ(std::u16string(wide, wide + 4), u"D:\\\u8f6f");
  ASSERT_EQ(MultiByteToWideChar(1252, MB_ERR_INVALID_CHARS, "caf\xe9", -1, wide, 16), 5);
  EXPECT_EQ(std::u16string(wide, wide + 4), u"caf\u00e9");
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xc3(", -1, wide, 16), 0);
  EXPECT_EQ(GetLastError(), (DWORD)ERROR_NO_UNICODE_TRANSLATION);
}

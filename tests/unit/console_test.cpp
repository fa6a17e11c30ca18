// Console messages, the key wait, the debug pause and the yes/no prompt.
#include <string.h>

#include <map>

#include "catalogue.h"
#include "sim_test.h"
#include "support/text.h"

using ConsoleTest = SimTest;

TEST_F(ConsoleTest, CatalogueTextsAreExact) {
  // The texts no other test prints are pinned here, the others in catalogue.h.
  const std::map<int, std::string> pinned = {
      {0, "n"}, {1, "y"}, {2, "cancel"}, {8, kBanner}, {13, kComplete}, {28, kFailed},
      {32, kReboot}, {33, kClosing}, {52, kOlderThan}, {54, kPrompt}, {70, kNoDevice},
      {72, kNotReady}, {81, k4001}, {82, k4003}, {83, k4004}, {84, kPci},
      {85, "\\drivers\\tvx2"}, {86, "\\drivers\\tvx2\\"}, {87, "\\..\\sysWOW64\\"},
      {88, kPackage[0]}, {89, kPackage[1]}, {90, kPackage[2]}, {91, kPackage[3]},
      {92, kPackage[4]}, {93, kRemoving}, {94, kRemoved}, {95, kRestart}, {96, kCodePage},
      {97, kWaiting}, {98, kTimedOut},
      {99, kNotAsSigned},
      {100, "The KTA TVX II software, version %s, is installed and whole.\n"},
      {101, "The KTA TVX II software, version %s, is whole once the machine restarts.\n"},
      {102, kNotInstalled}, {103, "%s is missing.\n"}, {104, "%s differs from %s.\n"},
      {105, "%s cannot be read (error %s).\n"},
      {106, "%s is deleted, moved away or replaced by another file at the restart.\n"},
      {107, kRestartUnknown}, {108, "The uninstall entry HKLM\\%s is missing.\n"},
      {109, "The uninstall entry HKLM\\%s gives version %s, not %s.\n"}, {110, kNotRunningFile},
      {114, "%s is not this release's file.\n"},
      {111, kInUseNotChecked}, {112, kNotCheckable}, {113, kNotTaken},
  };
  // Every number: its pinned text, or empty when the catalogue leaves it unused.
  for (int n = 0; n < MESSAGE_COUNT; n++) {
    auto row = pinned.find(n);
    EXPECT_EQ(MessageTable[n], row == pinned.end() ? std::string() : row->second) << n;
  }
  EXPECT_EQ(kNotReady.size(), 597u);
}

TEST_F(ConsoleTest, PutMessageObeysShowMessages) {
  PutMessage(13);
  PutMessageArgs(52, "C:\\a\\X.DLL", "C:\\b\\X.DLL");
  EXPECT_EQ(Out(), kComplete + OlderThan("C:\\a\\X.DLL", "C:\\b\\X.DLL"));
  ShowMessages = 0;
  PutMessage(13);
  PutMessage(70);
  EXPECT_EQ(Out(), kComplete + OlderThan("C:\\a\\X.DLL", "C:\\b\\X.DLL"));
}

TEST_F(ConsoleTest, WaitKeyRestoresModeAndSkipsReleasesModifiersAndOtherEvents) {
  sim::M().console.mode = 0x1F7;
  sim::AddNonKeyEvent();
  sim::PressModifier(VK_SHIFT);
  sim::PressKey('a');
  sim::PressKey('b');
  WaitKey();
  // Shift down, Shift up, the focus event, 'a' down were read; 'a' up and 'b' stay queued.
  EXPECT_EQ(sim::M().console.events.size(), 3u);
  ASSERT_EQ(sim::M().console.modesSet.size(), 2u);
  EXPECT_EQ(sim::M().console.modesSet[0], 0x1F7u & ~7u);
  EXPECT_EQ(sim::M().console.modesSet[1], 0x1F7u);
  EXPECT_EQ(sim::OpenHandles(), 0);
  EXPECT_EQ(sim::M().console.blockedReads, 0);
}

TEST_F(ConsoleTest, ExtendedKeySatisfiesTheNextWaitToo) {
  sim::PressExtendedKey(VK_UP);
  WaitKey();
  EXPECT_EQ(KeyPending, 1);
  int readsBefore = sim::CountCalls("ReadConsoleInputA");
  WaitKey();  // returns on the pending second code, without reading the console
  EXPECT_EQ(sim::CountCalls("ReadConsoleInputA"), readsBefore);
  EXPECT_EQ(KeyPending, 0);
  sim::PressKey('x');
  WaitKey();
  EXPECT_EQ(sim::M().console.blockedReads, 0);
}

TEST_F(ConsoleTest, WaitKeyWithoutConsoleReturnsAtOnce) {
  sim::M().console.hasConsole = false;
  WaitKey();
  EXPECT_EQ(sim::CountCalls("ReadConsoleInputA"), 0);
  ASSERT_EQ(sim::CountCalls("CreateFileA"), 1);
  auto open = sim::CallsTo("CreateFileA")[0];
  EXPECT_EQ(open.args[0], "CONIN$");
  EXPECT_EQ(open.args[4], "3");  // OPEN_EXISTING
}

TEST_F(ConsoleTest, TracePausePrintsTextAndPauseLineThenWaits) {
  sim::PressKey('q');
  TracePause("Main - GetSystemDirectory failed.\n");
  TracePause("FindExistingDevice - x\n", SCAN_PAUSE_LINE);
  EXPECT_EQ(Out(),
            "Main - GetSystemDirectory failed.\nPress ENTER to continue\n"
            "FindExistingDevice - x\nPress ENTER to continue \n");
  EXPECT_EQ(sim::M().console.blockedReads, 1);  // the second pause found no key
}

TEST_F(ConsoleTest, SkipBlanksFindsFirstGraphicCharacter) {
  EXPECT_STREQ(SkipBlanks("  \t yes"), "yes");
  EXPECT_STREQ(SkipBlanks("!x"), "!x");
  EXPECT_EQ(SkipBlanks(" \t\r"), nullptr);
  EXPECT_EQ(SkipBlanks(""), nullptr);
  EXPECT_EQ(SkipBlanks("\xe9\xe9"), nullptr);
}

struct PromptCase {
  const char* input;
  int answer;
  int prompts;
};

class PromptTest : public SimTest, public ::testing::WithParamInterface<PromptCase> {};

TEST_P(PromptTest, AnswersAndRepeats) {
  const PromptCase& c = GetParam();
  sim::SetStdin(c.input);
  EXPECT_EQ(PromptYesNo("Copy? ", 0), c.answer);
  std::string expected;
  for (int i = 0; i < c.prompts; i++) expected += "Copy? ";
  EXPECT_EQ(Out(), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, PromptTest,
    ::testing::Values(PromptCase{"   yes\n", 1, 1}, PromptCase{"Y\n", 1, 1},
                      PromptCase{"no way\n", 2, 1}, PromptCase{"Cancel\n", 0, 1},
                      PromptCase{"CANCELLED\n", 0, 1}, PromptCase{"c\nn\n", 2, 2},
                      PromptCase{"maybe\n\n  \ny\n", 1, 4}, PromptCase{"yep", 1, 1},
                      PromptCase{"", 1, 1}, PromptCase{"maybe\n", 1, 2},
                      PromptCase{"\t nope\r\n", 2, 1}),
    [](const ::testing::TestParamInfo<PromptCase>& info) {
      return "Case" + std::to_string(info.index);
    });

TEST_F(ConsoleTest, PromptAutomaticAnswerReadsNothing) {
  sim::SetStdin("n\n");
  EXPECT_EQ(PromptYesNo("Copy? ", 1), 1);
  EXPECT_EQ(Out(), "");
  EXPECT_EQ(sim::M().console.inPos, 0u);
}

TEST_F(ConsoleTest, PromptWithMessagesOffAsksSilently) {
  ShowMessages = 0;
  sim::SetStdin("x\nn\n");
  EXPECT_EQ(PromptYesNo("Copy? ", 0), 2);
  EXPECT_EQ(Out(), "");
}

TEST_F(ConsoleTest, LongAnswerLineIsJudgedByItsBeginningAndReadToItsEnd) {
  std::string line = "n" + std::string(4999, 'y') + "\n";
  sim::SetStdin(line + "y\n");
  EXPECT_EQ(PromptYesNo("Copy? ", 0), 2);
  EXPECT_EQ(sim::M().console.inPos, line.size());  // the whole line, nothing more
  std::string blank = std::string(5000, ' ') + "\n";
  sim::SetStdin(blank + "y\n");
  EXPECT_EQ(PromptYesNo("Copy? ", 0), 1);
  EXPECT_EQ(sim::M().console.inPos, blank.size() + 2);
}

// Inputs that once answered against their text: each line is answered at its first prompt.
TEST_F(ConsoleTest, AnswerLinesWithUnexpectedBytesAnswerAsTheirTextSays) {
  auto utf16 = [](const std::string& text, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : text) out += bigEndian ? std::string(1, '\0') + c : std::string(1, c) + '\0';
    return out;
  };
  const std::string filler(1021, 'a');  // with the first byte, 1,022 of the 1,023 read
  struct Case {
    std::string input;
    std::vector<int> answers;
  } cases[] = {
      // Saved as UTF-16 with a byte-order mark.
      {utf16("n\r\nn\r\nn\r\nn\r\nn\r\n", false), {2, 2, 2, 2, 2}},
      {utf16("n\r\ny\r\nn\r\n", true), {2, 1, 2}},
      // A NUL inside an over-long line: its tail is not an answer.
      {"y" + std::string(1, '\0') + filler + "nnn\ny\n", {1, 1}},
      {std::string(1, '\0') + "n" + filler + "yyy\nn\n", {2, 2}},
      // A lone CR as the last byte that fits: the line goes on.
      {"y" + filler + "\rnnn\ny\n", {1, 1}},
      // DEL is passed over like a blank.
      {"\x7Fn\ny\n", {2}},
      // A complete line that fills the buffer to its last byte: the next line is the next answer.
      {"y" + filler + "\nn\n", {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 12));
    sim::Reset();
    sim::SetStdin(c.input);
    for (int answer : c.answers) EXPECT_EQ(PromptYesNo("Copy? ", 0), answer);
    std::string expected;
    for (size_t i = 0; i < c.answers.size(); i++) expected += "Copy? ";
    EXPECT_EQ(Out(), expected);
  }
}

TEST(TextTest, BoundedCopiesNeverOverrun) {
  char buf[8];
  memset(buf, 'z', sizeof buf);
  EXPECT_EQ(CopyText(buf, sizeof buf, "1234567"), 1);
  EXPECT_STREQ(buf, "1234567");
  EXPECT_EQ(CopyText(buf, sizeof buf, "12345678"), 0);
  EXPECT_STREQ(buf, "1234567");
  CopyText(buf, sizeof buf, "abc");
  EXPECT_EQ(AppendText(buf, sizeof buf, "defgh"), 0);
  EXPECT_STREQ(buf, "abcdefg");
  EXPECT_EQ(CompareTextNoCase("CANCEL", "cancel", 6), 0);
  EXPECT_NE(CompareTextNoCase("c", "cancel", 6), 0);
}

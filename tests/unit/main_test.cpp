// Main: options and their order, the force option, the source directory, the system
// directory check and the closing pause.
#include "catalogue.h"
#include "sim_test.h"

// What a machine without the card adds after the banner.
static const std::string kNotFound = kNoDevice + kFailed;

using MainTest = SimTest;

TEST_F(MainTest, NoArgumentsPrintsBannerAndWaitsForAKey) {
  sim::PressKey(' ');
  EXPECT_EQ(RunMain({"setup"}), EXIT_DEVICE_NOT_FOUND);
  EXPECT_EQ(Out(), kBanner + kNotFound + kClosing);
  EXPECT_EQ(sim::CountCalls("ReadConsoleInputA"), 1);
  EXPECT_EQ(sim::M().console.blockedReads, 0);
  EXPECT_EQ(Unattended, 0);
  EXPECT_EQ(ShowMessages, 1);
  // An arrow key ends one run's pause; the next run in the same process still waits for its own.
  sim::Reset();
  sim::PressExtendedKey(VK_UP);
  RunMain({"setup"});
  sim::PressKey(' ');
  RunMain({"setup"});
  EXPECT_EQ(sim::M().console.events.size(), 1u);  // the space read, only its release left
}

TEST_F(MainTest, OptionRowsSetTheRunState) {
  EXPECT_EQ(RunMain({"setup", "-x"}), EXIT_DEVICE_NOT_FOUND);
  EXPECT_EQ(Unattended, 1);
  EXPECT_EQ(Out(), kBanner + kNotFound);  // unattended: no closing pause
  EXPECT_EQ(CountCallsBesideLog("CreateFileA"), 0);

  sim::Reset();
  RunMain({"setup", "/Q", "/d"});
  EXPECT_EQ(Unattended, 1);
  EXPECT_EQ(DebugTrace, 1);

  sim::Reset();
  RunMain({"setup", "-n"});
  EXPECT_EQ(Unattended, 1);
  EXPECT_EQ(ShowMessages, 0);
  EXPECT_EQ(Out(), "");
}

TEST_F(MainTest, DetectOnlyImpliesNoClosingPause) {
  EXPECT_EQ(RunMain({"setup", "/h"}), EXIT_DEVICE_NOT_FOUND);
  EXPECT_EQ(Unattended, 1);
  EXPECT_EQ(Out(), kBanner + kNotFound);
  EXPECT_EQ(CountCallsBesideLog("CreateFileA"), 0);
}

TEST_F(MainTest, UnknownArgumentsAndPartialMatchesAreIgnored) {
  RunMain({"setup", "-XQ", "X", "--x", "/FU", "-", "/"});
  EXPECT_EQ(Unattended, 0);
  EXPECT_EQ(ForceCode, 0);
  EXPECT_EQ(Out(), kBanner + kNotFound + kClosing);
}

TEST_F(MainTest, OptionsAreUpperCasedInPlace) {
  std::vector<char> arg = {'-', 'f', 'u', 'x', '\0'};
  char name[] = "setup";
  char* argv[] = {name, arg.data(), nullptr};
  Main(2, argv);
  EXPECT_STREQ(arg.data(), "-FUX");
  EXPECT_EQ(ForceCode, 'U');
}

TEST_F(MainTest, ForceOptionPrintsUnlessMessagesWereAlreadyOff) {
  RunMain({"setup", "-fu", "-x"});
  EXPECT_EQ(ForceCode, 'U');
  EXPECT_EQ(Out().substr(0, 46 + kBanner.size()),
            kForcing + kBanner);

  sim::Reset();
  RunMain({"setup", "-N", "-FU"});
  EXPECT_EQ(ForceCode, 'U');
  EXPECT_EQ(Out(), "");

  sim::Reset();
  RunMain({"setup", "-FU", "-N"});
  EXPECT_EQ(Out(), kForcing);
}

TEST_F(MainTest, InvalidForceCodeStopsAtOnceWithExitZero) {
  for (const char* bad : {"-F", "-FX", "-f1"}) {
    sim::Reset();
    EXPECT_EQ(RunMain({"setup", bad, "-x"}), EXIT_INSTALLED) << bad;
    EXPECT_EQ(Out(), kInvalidForce) << bad;
    EXPECT_EQ(Unattended, 0) << bad;  // the options after it were never read
    EXPECT_EQ(sim::CountCalls("GetSystemDirectoryA"), 0) << bad;
    EXPECT_EQ(CountCallsBesideLog("CreateFileA"), 0) << bad;
  }
  sim::Reset();
  EXPECT_EQ(RunMain({"setup", "-n", "-FX"}), EXIT_INSTALLED);
  EXPECT_EQ(Out(), "");
}

TEST_F(MainTest, SourceDirFromProgramPath) {
  RunMain({"setup", "-n"});
  EXPECT_STREQ(SourceDir, ".");
  RunMain({"\\pkg\\setup", "-n"});
  EXPECT_STREQ(SourceDir, "c:\\pkg\\");
  sim::M().currentDrive = 4;
  RunMain({"\\pkg\\setup", "-n"});
  EXPECT_STREQ(SourceDir, "d:\\pkg\\");
  RunMain({"D:\\pkg\\setup.exe", "-n"});
  EXPECT_STREQ(SourceDir, "D:\\pkg\\");
  // A drive with no directory part is that drive's current directory, not its root.
  RunMain({"D:setup.exe", "-n"});
  EXPECT_STREQ(SourceDir, "D:.");
  RunMain({"c:SETUP", "-n"});
  EXPECT_STREQ(SourceDir, "c:.");
  // Z: is a drive like any other.
  sim::M().currentDrive = 26;
  RunMain({"\\pkg\\setup", "-n"});
  EXPECT_STREQ(SourceDir, "z:\\pkg\\");
  sim::M().currentDrive = 4;
  RunMain({"pkg/sub\\setup", "-n"});
  EXPECT_STREQ(SourceDir, "pkg/sub\\");
  RunMain({"C:\\a/b/setup", "-n"});
  EXPECT_STREQ(SourceDir, "C:\\a/b/");
  // A network path keeps its form: no local drive is put in front of it.
  RunMain({"\\\\server\\share\\setup.exe", "-n"});
  EXPECT_STREQ(SourceDir, "\\\\server\\share\\");
  // Nor is there a drive to add when the current directory is on the network.
  sim::M().currentDrive = 0;
  RunMain({"\\pkg\\setup", "-n"});
  EXPECT_STREQ(SourceDir, "\\pkg\\");
}

TEST_F(MainTest, SourceDirThatDoesNotFitFailsWithoutOverrun) {
  std::string dir255 = "C:\\" + std::string(251, 'a') + "\\";  // 2 + 253 = 255 characters
  ASSERT_EQ(dir255.size(), 255u);
  EXPECT_EQ(RunMain({dir255 + "setup", "-x"}), EXIT_DEVICE_NOT_FOUND);
  EXPECT_EQ(std::string(SourceDir), dir255);

  std::string dir256 = "C:\\" + std::string(252, 'a') + "\\";
  EXPECT_EQ(RunMain({dir256 + "setup", "-x"}), EXIT_FAILED);
  EXPECT_STREQ(SourceDir, "");
  EXPECT_EQ(Out(), kBanner + kNotFound + kBanner + kFailed);

  // Without a drive, the current drive takes two more characters.
  std::string rooted = "\\" + std::string(252, 'a') + "\\";
  EXPECT_EQ(RunMain({rooted + "setup", "-n"}), EXIT_FAILED);
  EXPECT_EQ(RunMain({std::string(5000, 'x') + "\\setup", "-n"}), EXIT_FAILED);
  // A detect-only run stages nothing, so the source directory does not matter to it.
  EXPECT_EQ(RunMain({dir256 + "setup", "-h"}), EXIT_DEVICE_NOT_FOUND);
}

TEST_F(MainTest, SystemDirectoryUnreadableOrTooLong) {
  sim::M().systemDirFails = true;
  EXPECT_EQ(RunMain({"setup", "-x"}), EXIT_FAILED);
  EXPECT_EQ(Out(), kBanner + kFailed);

  sim::Reset();
  sim::M().systemDir = "C:\\" + std::string(256, 's');  // 259 characters: still usable
  EXPECT_EQ(RunMain({"setup", "-x"}), EXIT_DEVICE_NOT_FOUND);

  sim::Reset();
  sim::M().systemDir = "C:\\" + std::string(257, 's');  // 260 characters
  EXPECT_EQ(RunMain({"setup", "-x"}), EXIT_FAILED);
  EXPECT_EQ(Out(), kBanner + kFailed);

  sim::Reset();
  sim::M().systemDir = "C:\\" + std::string(600, 's');  // longer than the buffer
  EXPECT_EQ(RunMain({"setup", "-x"}), EXIT_FAILED);
  auto calls = sim::CallsTo("GetSystemDirectoryA");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args[1], "520");
}

TEST_F(MainTest, SystemDirectoryFailureTraceWithPauseThenClosingPause) {
  sim::M().systemDirFails = true;
  sim::PressKey('a');
  sim::PressKey('b');
  EXPECT_EQ(RunMain({"setup", "-d"}), EXIT_FAILED);
  EXPECT_EQ(Out(), kBanner + "Main - GetSystemDirectory failed.\nPress ENTER to continue\n" +
                       kFailed + kClosing);
  EXPECT_EQ(sim::M().console.blockedReads, 0);
  EXPECT_EQ(sim::M().console.events.size(), 1u);  // the release of the second key
}

// A command line that the ANSI code page cannot hold as typed: the run stops before it
// changes or opens anything named on it, whatever the machine, and says why.
TEST_F(MainTest, CommandLineOutsideTheCodePageChangesNothing) {
  const std::string kSys = "C:\\WINDOWS\\system32\\";
  const std::string kLog = "c:\\windows\\logs\\tvx2\\setup.log";
  // An older installation, and the package both in C:\pkg and in C:\软件 (the name in UTF-8,
  // as the UTF-8 code page writes it).
  auto arrange = [&] {
    for (const char* dir : {"C:\\pkg\\", "C:\\\xe8\xbd\xaf\xe4\xbb\xb6\\"})
      for (const char* name : kPackage)
        sim::AddFile(std::string(dir) + name, std::string("new ") + name, 2000);
    for (const char* name : kPackage) sim::AddFile(kSys + "drivers\\tvx2\\" + name, "old", 1000);
    sim::AddFile(kSys + "KTASPW.DLL", "old", 1000);
    sim::AddProgram(kSys + "KTASPSVC.EXE", 0);
    sim::AddDirectory("C:\\WINDOWS\\Logs\\TVX2");
  };
  struct Row {
    const char* name;
    std::u16string commandLine;
    std::string out;
    std::vector<std::string> fault;  // WideCharToMultiByte fails with this error
    UINT codePage = 1252;
  };
  const std::vector<Row> rows = {
      {"a folder the code page lacks", u"C:\\软件\\SETUP.EXE -FU -X",
       kForcing + kBanner + kCodePage + kFailed},
      // Best fit would read these as C:\pkg and as a quoted "/LOG:..." argument.
      {"full-width letters", u"C:\\ｐｋｇ\\SETUP.EXE -FU -X", kForcing + kBanner + kCodePage + kFailed},
      {"full-width quotes", u"C:\\pkg\\SETUP.EXE -FU ＂/LOG:C:\\pkg\\x y.log＂",
       kForcing + kBanner + kCodePage + kFailed + kClosing},
      {"silent", u"C:\\软件\\SETUP.EXE -N -FU", ""},
      {"removal, with traces", u"C:\\软件\\SETUP.EXE -U -D -X",
       kBanner + "Main - command line not readable in the code page.\nPress ENTER to continue\n" +
           kCodePage + kFailed},
      {"detect only", u"C:\\软件\\SETUP.EXE -H", kBanner + kCodePage + kFailed},
      {"a conversion that fails", u"C:\\pkg\\SETUP.EXE -FU -X",
       kForcing + kBanner + kCodePage + kFailed, {"122"}},
      {"UTF-8: an unpaired surrogate, U+FFFD once converted", u"C:\\pkg\xD800\\SETUP.EXE -FU -X",
       kForcing + kBanner + kCodePage + kFailed, {}, CP_UTF8},
  };
  for (const Row& row : rows) {
    sim::Reset();
    sim::M().ansiCodePage = row.codePage;
    arrange();
    sim::PressKey('\r');
    if (!row.fault.empty()) sim::InjectFault("WideCharToMultiByte", std::stoul(row.fault[0]));
    proof::Snapshot before = proof::TakeSnapshot();
    EXPECT_EQ(RunMainW(row.commandLine), EXIT_FAILED) << row.name;
    EXPECT_EQ(Out(), row.out) << row.name;
    proof::RunRules rules{};
    rules.logs = {kLog};
    proof::Snapshot after = proof::TakeSnapshot();
    // The refusal goes to the default log, not to a log named on the line.
    std::string log = sim::FileContents(kLog);
    EXPECT_NE(log.find(" command line not readable in code page " + std::to_string(row.codePage) +
                       ": nothing done\r\n"),
              std::string::npos) << row.name << log;
    EXPECT_TRUE(proof::TakeOutLogs(rules, &after).empty()) << row.name;
    proof::TakeOutEventSource(&after);
    EXPECT_EQ(proof::Differences(before, after), std::vector<std::string>()) << row.name;
    EXPECT_EQ(sim::CountCalls("CreateProcessA"), 0) << row.name;
    EXPECT_EQ(sim::CallsTo("WideCharToMultiByte").at(0).args[1],
              row.codePage == CP_UTF8 ? "0x80" : "0x400") << row.name;
  }

  // The same names on a machine whose code page is UTF-8 (the manifest's), and a name that
  // code page 1252 holds, are read as typed: the package from that folder is installed.
  struct Readable {
    UINT codePage;
    std::u16string dir;
    std::string dirBytes;
  };
  for (const Readable& r : std::vector<Readable>{
           {CP_UTF8, u"C:\\软件\\", "C:\\\xe8\xbd\xaf\xe4\xbb\xb6\\"},
           {1252, u"C:\\pkg\\", "C:\\pkg\\"}}) {
    sim::Reset();
    arrange();
    sim::M().ansiCodePage = r.codePage;
    EXPECT_EQ(RunMainW(r.dir + u"SETUP.EXE -FU -X"), EXIT_INSTALLED) << r.dirBytes;
    EXPECT_EQ(std::string(SourceDir), r.dirBytes);
    EXPECT_EQ(sim::FileContents(kSys + "KTASPW.DLL"), "new KTASPW.DLL") << r.dirBytes;
    EXPECT_NE(sim::FileContents(kLog).find("SourceDir \"" + r.dirBytes + "\""), std::string::npos)
        << sim::FileContents(kLog);
    EXPECT_EQ(sim::CountCalls("WideCharToMultiByte"), 1);
  }
}

"""The run log of the real SETUP.EXE under Wine; removal (-U) is in test_removal.py."""
import os
import re
import shutil
import subprocess
import unittest

from harness import BANNER, WINE, PrefixTest
from test_install import BUILD, COMPLETE, FORCING, REBOOT, TOOL_WAIT

LOG = "C:\\windows\\Logs\\TVX2\\setup.log"
MISLEADING = re.compile("[\x00-\x1f\x7f-\x9f\u061c\u200e\u200f\u2028-\u202e\u2066-\u2069]")
LINE = re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (\d+) (.*)")
SYS = "C:\\windows\\system32\\"
DRIVER = SYS + "drivers\\tvx2\\"


class LogMachine(PrefixTest):
    def setUp(self):
        super().setUp()
        self.prefix.lay_out_package()

    def events(self, win_path=LOG):
        """The events of the log, checked line by line: CR LF, legible UTF-8 (no control,
        separator or bidirectional character), time and process id."""
        with open(self.prefix.unix(win_path), "rb") as f:
            data = f.read()
        self.assertTrue(data.endswith(b"\r\n"), data[-80:])
        events = []
        for line in data[:-2].split(b"\r\n"):
            text = line.decode("utf-8")  # strict: a broken sequence fails here
            self.assertIsNone(MISLEADING.search(text), text)
            match = LINE.fullmatch(text)
            self.assertIsNotNone(match, text)
            events.append(match.group(2))
        return events

    def assert_events_in_order(self, events, wanted):
        at = 0
        for w in wanted:
            while at < len(events) and not events[at].startswith(w):
                at += 1
            self.assertLess(at, len(events), "no %r in order in\n%s" % (w, "\n".join(events)))

    def hold(self, win_path):
        """Leaves a process behind that holds the file open without sharing for a minute."""
        holder = self.prefix.unix("C:\\holder.exe")
        shutil.copy(os.path.join(BUILD, "tests", "tool_double.exe"), holder)
        with open(holder + ".plan", "w") as f:
            f.write("hold %s 60000\nexit 0\n" % win_path)
        # Without pipes: the holder left behind would keep them open, and the run waiting.
        rc = subprocess.run([WINE, "C:\\holder.exe"], env=self.prefix.env, cwd=self.prefix.work,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            timeout=60).returncode
        self.assertEqual(rc, 0)

    def install(self):
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 0, out)


class LogRemoveTest(LogMachine):
    def test_log_of_an_installation_with_a_file_in_use(self):
        self.install()
        self.hold(SYS + "KTASPW.DLL")
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 1)
        self.assertIsNotNone(re.fullmatch(re.escape(FORCING + BANNER) + TOOL_WAIT + TOOL_WAIT +
                                          re.escape(COMPLETE + REBOOT), out, re.S), out)
        events = self.events()
        starts = [e for e in events if e.startswith("start: ")]
        self.assertEqual(len(starts), 2)  # both runs, appended
        self.assertEqual(starts[1], "start: version 2.1.0.0; command line: C:\\pkg\\SETUP.EXE "
                         "-FU -X; options: unattended force-U; SourceDir \"C:\\pkg\\\"; "
                         "system directory \"C:\\windows\\system32\"")
        self.assert_events_in_order(events[events.index(starts[1]):], [
            "HID probe: skipped, -FU counts the card as found",
            "decision: the card's USB function works, installing",
            "staging the package from \"C:\\pkg\\\\\" into \"%s\"" % DRIVER,
            "copy \"C:\\pkg\\\\KTASPSVC.EXE\" to \"%sKTASPSVC.EXE\": copied" % DRIVER,
            "tool \"%sktaspsvc.exe\" -remove: started, ended with exit code 0 after " % SYS,
            "copy \"%sKTASPW.DLL\" to \"%sKTASPW.DLL\": in use, scheduled for the restart "
            "(error 32)" % (DRIVER, SYS),
            "tool \"%sktaspsvc.exe\" -install -TVX2: started, ended with exit code 0" % SYS,
            "installation sequence result 1 (restart needed)",
            "outcome: exit code 1, installed, a restart is needed"])
        # One process id for each run's lines.
        with open(self.prefix.unix(LOG), "rb") as f:
            pids = {LINE.fullmatch(l.decode()).group(1) for l in f.read().split(b"\r\n") if l}
        self.assertEqual(len(pids), 2)

    def test_silent_run_that_fails_a_placement_names_the_file_and_error_in_its_log(self):
        os.makedirs(self.prefix.unix(SYS + "KTASPREM.EXE"))  # a folder where the tool should go
        os.utime(self.prefix.unix(SYS + "KTASPREM.EXE"), (0, 0))
        os.makedirs(self.prefix.unix("C:\\Deploy") + "/Logs")  # a log is made in a folder there
        # An ignored argument in UTF-8 stays legible in the log; its right-to-left override,
        # which would show the line's end reversed, does not.
        rc, out = self.prefix.run_setup(["-N", "-FU", "/LOG:C:\\Deploy\\Logs\\TVX-Setup.Log",
                                         "Zo\u00eb\u202egpj.exe"])
        self.assertEqual((rc, out), (2, b""))
        # The log named keeps its case; the default one is not written.
        self.assertIn("TVX-Setup.Log", os.listdir(self.prefix.unix("C:\\Deploy\\Logs")))
        self.assertFalse(os.path.exists(self.prefix.unix(LOG)))
        events = self.events("C:\\Deploy\\Logs\\TVX-Setup.Log")
        self.assert_events_in_order(events, [
            "start: version 2.1.0.0; command line: C:\\pkg\\SETUP.EXE -N -FU "
            "/LOG:C:\\Deploy\\Logs\\TVX-Setup.Log Zo\u00eb???gpj.exe; options: unattended "
            "no-messages force-U",
            "copy \"%sKTASPREM.EXE\" to \"%sKTASPREM.EXE\": failed (error 5)" % (DRIVER, SYS),
            "installation sequence result 2 (failed)",
            "outcome: exit code 2, failed"])

    def test_runs_at_once_keep_their_lines_whole(self):
        """Four detect-only runs started together append to one log: every line stays whole."""
        runs = [subprocess.Popen([WINE, "C:\\pkg\\SETUP.EXE", "-N", "-H"], env=self.prefix.env,
                                 cwd=self.prefix.unix("C:\\pkg"), stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL) for _ in range(4)]
        self.assertEqual([run.wait(timeout=120) for run in runs], [8] * 4)
        events = self.events()  # each line checked whole
        self.assertEqual(len(events), 4 * 5)
        self.assertEqual(sum(e.startswith("outcome: exit code 8") for e in events), 4)

    def test_a_log_reached_through_a_link_is_not_written(self):
        """Links at a log's name in a folder others may write lead nowhere: the run prints and
        returns what it does with /LOG:NUL and the file they lead to keeps its bytes. A plain
        log there is written, and rotated through its handle."""
        temp = "C:\\windows\\temp\\"
        guarded = "C:\\guarded\\"
        os.makedirs(self.prefix.unix("C:\\") + "/guarded", exist_ok=True)
        os.makedirs(self.prefix.unix("C:\\windows") + "/temp", exist_ok=True)
        victims = [self.prefix.unix("C:\\") + "/guarded/" + n for n in ["hard.log", "sym.log"]]
        for victim in victims:
            with open(victim, "wb") as f:
                f.write(b"only administrators write this\r\n")
        os.link(victims[0], self.prefix.unix(temp) + "/hard.log")
        os.symlink(victims[1], self.prefix.unix(temp) + "/symbolic.log")
        os.symlink(self.prefix.unix(guarded), self.prefix.unix(temp) + "/above")
        want = self.prefix.run_setup(["-X", "/LOG:NUL"])
        self.assertEqual(want[0], 8)
        for name in ["hard.log", "symbolic.log", "above\\new.log"]:
            self.assertEqual(self.prefix.run_setup(["-X", "/LOG:" + temp + name]), want, name)
        for victim in victims:
            with open(victim, "rb") as f:
                self.assertEqual(f.read(), b"only administrators write this\r\n", victim)
        self.assertEqual(os.stat(victims[0]).st_nlink, 2)
        self.assertTrue(os.path.islink(self.prefix.unix(temp) + "/symbolic.log"))
        # The log made through the folder link was refused and deleted again.
        self.assertEqual(sorted(os.listdir(self.prefix.unix(guarded))), ["hard.log", "sym.log"])
        self.assertFalse(os.path.exists(self.prefix.unix(LOG)))

        plain = temp + "plain.log"
        earlier = b"2026-03-01 08:30:00.000 7 an earlier line\r\n" * 25000  # over 1 MiB
        with open(self.prefix.unix(temp) + "/plain.log", "wb") as f:
            f.write(earlier)
        self.assertEqual(self.prefix.run_setup(["-X", "/LOG:" + plain]), want)
        with open(self.prefix.unix(plain + ".1"), "rb") as f:
            self.assertEqual(f.read(), earlier)
        self.assertEqual(self.events(plain)[-1], "outcome: exit code 8, no device of the card")

        # A folder named by its 8.3 name, as %TEMP% often is: the log is written there. Wine
        # makes the name of the first four letters and a hash of the whole name.
        os.makedirs(self.prefix.unix(temp) + "/Deployment Logs")
        chars, c, h = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", [ord(x) for x in "deployment logs"], 0xbeef
        for a, b in zip(c, c[1:] + [0]):
            h = ((h << 3) ^ (h >> 5) ^ a ^ (b << 8)) & 0xffff
        short = "DEPL~" + chars[h >> 10 & 31] + chars[h >> 5 & 31] + chars[h & 31]
        self.assertEqual(self.prefix.run_setup(["-X", "/LOG:%s%s\\x.log" % (temp, short)]), want)
        self.assertEqual(self.events(temp + "Deployment Logs\\x.log")[-1],
                         "outcome: exit code 8, no device of the card")


if __name__ == "__main__":
    unittest.main()

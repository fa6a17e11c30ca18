"""Two runs of the real SETUP.EXE at once under Wine: they take turns through the lock."""
import os
import re
import shutil
import subprocess
import time
import unittest

from harness import BANNER, WINE, PrefixTest
from test_install import BUILD, COMPLETE, FORCING, TOOL_WAIT

WAITING = (b"Another installation of the KTA TVX II software is running. Waiting for it to "
           b"end...\r\n")
LOG = "C:\\windows\\Logs\\TVX2\\setup.log"
OVERLAPS = "C:\\overlaps.txt"


class ConcurrentTest(PrefixTest):
    def test_two_installations_half_a_second_apart_take_turns(self):
        pkg = self.prefix.lay_out_package()
        # The package's service tool is the tests' double: each run of it holds a mutex of its
        # own for three seconds and records it when another copy of it holds that mutex.
        tool = os.path.join(BUILD, "tests", "tool_double.exe")
        shutil.copy(tool, os.path.join(pkg, "KTASPSVC.EXE"))
        with open(os.path.join(self.prefix.system32, "KTASPSVC.EXE.plan"), "w") as f:
            f.write("mutex Global\\tvx2_service_tool %s\nrun 3000\nexit 0\n" % OVERLAPS)
        # A server that is already up, so that the half second is between the two runs and
        # not spent starting Wine.
        subprocess.run(["wineserver", "-p"], env=self.prefix.env, check=True)
        runs = []
        for _ in range(2):
            runs.append(subprocess.Popen([WINE, "C:\\pkg\\SETUP.EXE", "-FU", "-X"],
                                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                         env=self.prefix.env, cwd=pkg))
            time.sleep(0.5)
        outputs = [run.communicate(timeout=300)[0] for run in runs]
        self.assertEqual([run.returncode for run in runs], [0, 0], outputs)

        # No tool run overlapped another, and nothing waits for a restart.
        overlaps = self.prefix.unix(OVERLAPS)
        self.assertFalse(os.path.exists(overlaps),
                         os.path.exists(overlaps) and open(overlaps).read())
        self.assertEqual(self.prefix.pending_renames(), [])

        # One ran alone: a first installation, with the install run of the tool. The other
        # said once that it waits, then ran as usual: the tool's remove and install runs.
        alone = re.escape(FORCING + BANNER) + TOOL_WAIT + re.escape(COMPLETE)
        after = (re.escape(FORCING + BANNER + WAITING) + TOOL_WAIT + TOOL_WAIT +
                 re.escape(COMPLETE))
        waited = [out for out in outputs if WAITING in out]
        self.assertEqual(len(waited), 1, outputs)
        first = outputs[1 - outputs.index(waited[0])]
        self.assertIsNotNone(re.fullmatch(alone, first, re.S), first)
        self.assertIsNotNone(re.fullmatch(after, waited[0], re.S), waited[0])
        with open(os.path.join(self.prefix.system32, "KTASPSVC.EXE"), "rb") as f, \
                open(tool, "rb") as g:
            self.assertEqual(f.read(), g.read())
        with open(self.prefix.unix(LOG), "rb") as f:
            log = f.read().decode("ascii")
        self.assertEqual(log.count("lock: another installation or removal is running, "
                                   "waiting up to 20 minutes"), 1, log)
        self.assertRegex(log, r"lock: taken after \d+ seconds")
        self.assertEqual(log.count("outcome: exit code 0, installed"), 2, log)


if __name__ == "__main__":
    unittest.main()

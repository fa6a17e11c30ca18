"""SETUP.EXE /?: the usage text, exit code 0, and nothing done to the machine."""
import os
import unittest

import pe
from harness import DIST, PrefixTest

USAGE = """KTA Talvexa 2 software installation, version %s

Installs the host software of the TVX II card from the directory that holds
SETUP.EXE, or removes it (-U).

SETUP.EXE [-X | -Q] [-D] [-H] [-N] [-FU] [-U] [-V] [-LOG:<file>] [-?]

Options begin with - or /, in any case, and act from left to right.
  -X, -Q        unattended: prompts answer yes, no closing pause
  -D            debug traces, most followed by a pause for a key
  -H            detect the card only and change nothing (implies -X)
  -N            no messages at all (implies -X)
  -FU           skip hardware detection and install as if the card's USB
                function worked (dash form only; another code after -F
                stops the run)
  -U            remove the installed software instead of installing it
  -V            verify that the installed software is whole and change
                nothing (implies -X; -H goes before it, it before -U)
  -LOG:<file>   write the run log to <file>; -LOG:NUL writes none
  -?            show this text and do nothing else

Exit codes:
  0   installed, or removed; with -H: the card's USB function works; with
      -V: whole
  1   installed, or removed, but a restart is needed to finish; with -V:
      whole once the machine restarts
  2   failed: the system directory is unusable, or a file could be neither
      placed nor removed; with -V: not installed, or not whole
  8   no device of the card is present; nothing was installed
  16  the card is present but its USB function does not work; the software
      was installed anyway, unless -H; a restart it needs is named in the
      run log and the event, not in the exit code (-V then answers 1)
  1618 another run of SETUP.EXE held its lock for the whole 20 minutes
      this one waited; nothing was changed

Each run appends its record to %%SystemRoot%%\\Logs\\TVX2\\setup.log unless
-LOG says otherwise; a log over 1 MiB is first renamed to setup.log.1.
"""


def tree(top):
    """Every file and folder below top, with the size and time of each file; Wine's own
    setup-information caches (windows/inf/*.pnf), which Wine's device manager writes in the
    background after a prefix's first start, are left out."""
    out = {}
    for folder, dirs, files in os.walk(top):
        if os.path.relpath(folder, top).lower() == os.path.join("windows", "inf"):
            files = [name for name in files if not name.lower().endswith(".pnf")]
        for name in dirs:
            out[os.path.relpath(os.path.join(folder, name), top)] = None
        for name in files:
            path = os.path.join(folder, name)
            st = os.lstat(path)
            out[os.path.relpath(path, top)] = (st.st_size, st.st_mtime_ns)
    return out


class UsageTest(PrefixTest):
    def test_question_mark_prints_usage_and_changes_nothing(self):
        version = "%d.%d.%d.%d" % pe.version_info(os.path.join(DIST, "SETUP.EXE"))["FileVersion"]
        expected = (USAGE % version).replace("\n", "\r\n").encode("ascii")
        self.prefix.lay_out_package()
        drive = os.path.join(self.prefix.path, "drive_c")
        for args in (["/?"], ["-n", "/?"], ["-?", "-FU"]):
            before = tree(drive)
            rc, out = self.prefix.run_setup(args, timeout=120)
            self.assertEqual((rc, out), (0, expected), args)
            self.assertEqual(tree(drive), before, args)
        self.assertFalse(os.path.exists(self.prefix.unix("C:\\windows\\system32\\drivers\\tvx2")))
        self.assertFalse(os.path.exists(self.prefix.unix("C:\\windows\\Logs\\TVX2")))


if __name__ == "__main__":
    unittest.main()

"""The restart's two lists under Wine, written as another program would: a list the installer
cannot follow fails the run (exit 2), and the lists of others stay byte for byte."""
import os
import unittest

import test_log_remove
from harness import FAILED, PrefixTest
from test_log_remove import DRIVER, SYS

KEY = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Session Manager"
ENTRY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TVX2HostSoftware"
FIRST, SECOND = "PendingFileRenameOperations", "PendingFileRenameOperations2"


def nt(path):
    return b"\\??\\" + path.encode("ascii") + b"\0"


class RestartListsTest(PrefixTest):
    # The log's and the holder's helpers (their class itself would bring its tests along).
    events, hold, install = (test_log_remove.LogRemoveTest.events,
                             test_log_remove.LogRemoveTest.hold,
                             test_log_remove.LogRemoveTest.install)

    def set_list(self, name, data):
        """Through regedit (REGEDIT4's hex(7) holds the ANSI bytes) while Wine runs: a new
        session of Wine, as Windows at its start, carries the first list out."""
        values = '"%s"=hex(7):%s' % (name, ",".join("%02x" % b for b in data)) if data else \
            '"%s"=-' % name
        self.prefix.import_reg("[%s]\n%s\n\n" % (KEY, values))

    def first_list(self):
        """The first list as the stopped prefix keeps it (a string value without its last NUL)."""
        self.prefix.stop()
        with open(os.path.join(self.prefix.path, "system.reg"), encoding="latin-1") as f:
            line = next(l for l in f if l.startswith('"%s"=str(7):"' % FIRST))
        text = line.rstrip("\n")[len(FIRST) + 11:-1] + "\\0"
        return text.replace("\\0", "\0").replace("\\\\", "\\").encode("latin-1")

    def fails(self):
        self.prefix.lay_out_package()
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 2, out)
        self.assertTrue(out.endswith(FAILED), out)

    def test_lists_that_cannot_be_followed_fail_the_run(self):
        lib = SYS + "KTASPW.DLL"
        # A staged file that the second list deletes: no uninstall entry names it.
        self.set_list(SECOND, nt(DRIVER + "SETUP.EXE") + b"\0\0")
        self.fails()
        self.assertIsNone(self.prefix.reg_query(ENTRY))
        self.assertIn("installation sequence not started: the staged package would not outlast "
                      "the restart", self.events())
        self.set_list(SECOND, None)
        self.install()
        # A second list of 2.2 MB (over the bound) that deletes the library.
        self.set_list(SECOND, nt("C:\\Other\\" + "a" * 2200000) + b"\0" + nt(lib) + b"\0\0")
        self.fails()
        # The library held open, and a small second list that deletes it.
        self.set_list(SECOND, nt(lib) + b"\0\0")
        self.hold(lib)
        self.fails()
        # The library held open, and another program's deletion without the final empty string:
        # nothing is appended after it (the holder above still holds the library).
        self.set_list(SECOND, None)
        self.set_list(FIRST, nt("C:\\Other\\other.dll") + b"\0")
        self.fails()
        self.assertEqual(self.first_list(), nt("C:\\Other\\other.dll") + b"\0")


if __name__ == "__main__":
    unittest.main()

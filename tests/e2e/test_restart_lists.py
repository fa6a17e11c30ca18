"""The restart's two lists under Wine, written as another program would: a list the installer
cannot follow fails the run (exit 2), and the lists of others stay byte for byte."""
import os
import unittest

import test_log_remove
from harness import FAILED, PrefixTest
from test_log_remove import DRIVER, SYS

SECTION = "[System\\\\CurrentControlSet\\\\Control\\\\Session Manager]"
FIRST, SECOND = "PendingFileRenameOperations", "PendingFileRenameOperations2"
ENTRY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TVX2HostSoftware"


def nt(path):
    return b"\\??\\" + path.encode("ascii") + b"\0"


class RestartListsTest(PrefixTest):
    # The log's and the holder's helpers (their class itself would bring its tests along).
    events, hold, install = (test_log_remove.LogRemoveTest.events,
                             test_log_remove.LogRemoveTest.hold,
                             test_log_remove.LogRemoveTest.install)

    def setUp(self):
        super().setUp()
        self.prefix.lay_out_package()

    def section(self):
        """The registry file of the stopped prefix, split around the Session Manager's values."""
        self.prefix.stop()
        with open(os.path.join(self.prefix.path, "system.reg"), encoding="latin-1") as f:
            head, sep, rest = f.read().partition(SECTION)
        end = rest.find("\n[")
        return head + sep, rest[:end].replace("\\\n", "").split("\n"), rest[end:]

    def set_lists(self, values):
        """Writes the lists (name: bytes, None to remove) as REG_MULTI_SZ of those very bytes."""
        head, lines, tail = self.section()
        lines = [l for l in lines if not l.startswith(tuple('"%s"=' % n for n in values))]
        for name, data in values.items():
            if data is not None:
                text = data.decode("latin-1").encode("utf-16-le")
                lines.append('"%s"=hex(7):%s' % (name, ",".join("%02x" % b for b in text)))
        with open(os.path.join(self.prefix.path, "system.reg"), "w", encoding="latin-1") as f:
            f.write(head + "\n".join(lines) + tail)

    def import_list(self, name, data):
        """The same through regedit while Wine runs (a new session of Wine, as Windows at its
        start, carries the first list out): a Unicode .reg file's hex(7) is stored as it is."""
        path = os.path.join(self.prefix.work, "lists.reg")
        text = ",".join("%02x" % b for b in data.decode("latin-1").encode("utf-16-le"))
        with open(path, "w", encoding="utf-16", newline="\r\n") as f:
            f.write('Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\System\\'
                    'CurrentControlSet\\Control\\Session Manager]\n"%s"=hex(7):%s\n\n'
                    % (name, text))
        self.assertEqual(self.prefix.run("regedit", ["/S", "Z:" + path.replace("/", "\\")])[0], 0)

    def list_value(self, name):
        for line in self.section()[1]:
            if line.startswith('"%s"=hex(7):' % name):
                data = bytes(int(b, 16) for b in line.split(":", 1)[1].replace(" ", "").split(","))
                return data.decode("utf-16-le").encode("latin-1")
            if line.startswith('"%s"=str(7):"' % name):
                # Wine writes a string value without its last NUL, and adds it when it loads.
                text = line.split(":", 1)[1][1:-1] + "\\0"
                return text.replace("\\0", "\0").replace('\\"', '"').replace("\\\\", "\\").encode("latin-1")
        return None

    def fails(self):
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 2, out)
        self.assertTrue(out.endswith(FAILED), out)

    def test_lists_that_cannot_be_followed_fail_the_run(self):
        lib = SYS + "KTASPW.DLL"
        # A staged file that the second list deletes: no uninstall entry names it.
        self.set_lists({SECOND: nt(DRIVER + "SETUP.EXE") + b"\0\0"})
        self.fails()
        self.assertIsNone(self.prefix.reg_query(ENTRY))
        self.assertIn("installation sequence not started: the staged package would not outlast "
                      "the restart", self.events())
        self.set_lists({SECOND: None})
        self.install()
        # A second list of 2.2 MB (over the bound) that deletes the library.
        self.set_lists({SECOND: nt("C:\\Other\\" + "a" * 2200000) + b"\0" + nt(lib) + b"\0\0"})
        self.fails()
        # The library held open, and a small second list that deletes it.
        self.set_lists({SECOND: nt(lib) + b"\0\0"})
        self.hold(lib)
        self.fails()
        # The library held open, and another program's deletion without the final empty string:
        # nothing is appended after it.
        kept = nt("C:\\Other\\other.dll") + b"\0"
        self.set_lists({SECOND: None})
        self.hold(lib)
        self.import_list(FIRST, kept)
        self.fails()
        self.assertEqual(self.list_value(FIRST), kept)
        self.assertEqual(self.list_value(SECOND), None)


if __name__ == "__main__":
    unittest.main()

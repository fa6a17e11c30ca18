"""Removal (-U) of the real SETUP.EXE under Wine, and what it and an installation leave each
other for the restart."""
import os
import re
import unittest

from harness import BANNER, DIST
from test_install import COMPLETE, REBOOT, STATE_KEY, TOOL_WAIT
from test_log_remove import DRIVER, SYS, LogMachine

REMOVING = b"Removing the KTA TVX II software\r\n\r"
REMOVED = b"Removal complete\r\n\r"
RESTART = b"Reboot the machine to finish the removal. \r\n\r"
PLACED = ["KTASPW.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"]


class RemovalTest(LogMachine):
    def test_removal_of_an_installed_machine(self):
        self.install()
        self.assertIsNotNone(self.prefix.reg_query(STATE_KEY))
        rc, out = self.prefix.run_setup(["-U", "-X"])
        self.assertEqual(rc, 0)
        self.assertIsNotNone(re.fullmatch(re.escape(BANNER + REMOVING) + TOOL_WAIT +
                                          re.escape(REMOVED), out, re.S), out)
        for name in PLACED:
            self.assertFalse(os.path.exists(self.prefix.unix(SYS + name)), name)
        self.assertFalse(os.path.exists(self.prefix.unix("C:\\windows\\syswow64\\KTASPW.DLL")))
        self.assertFalse(os.path.exists(self.prefix.unix(DRIVER)))
        self.assertIsNone(self.prefix.reg_query(STATE_KEY))  # the service tool's -remove ran
        self.assertEqual(self.prefix.pending_renames(), [])
        events = self.events()
        self.assert_events_in_order(events, [
            "start: version 2.1.0.0; command line: C:\\pkg\\SETUP.EXE -U -X; options: "
            "unattended remove;",
            "removal: the service tool's remove run, then the files",
            "tool \"%sktaspsvc.exe\" -remove: started, ended with exit code 0" % SYS,
            "delete \"%sKTASPW.DLL\": deleted" % SYS,
            "delete \"%sKTASPSVC.EXE\": deleted" % DRIVER,
            "remove directory \"%s\": removed" % DRIVER[:-1],
            "removal result 0", "outcome: exit code 0, removed"])
        # Removing again finds nothing and succeeds.
        rc, out = self.prefix.run_setup(["-U", "-X"])
        self.assertEqual((rc, out), (0, BANNER + REMOVING + REMOVED))

    def test_removal_with_a_file_in_use_waits_for_the_restart(self):
        self.install()
        self.hold(SYS + "KTASPW.DLL")
        rc, out = self.prefix.run_setup(["-U", "-X"])
        self.assertEqual(rc, 1)
        self.assertIsNotNone(re.fullmatch(re.escape(BANNER + REMOVING) + TOOL_WAIT +
                                          re.escape(REMOVED + RESTART), out, re.S), out)
        self.assertTrue(os.path.exists(self.prefix.unix(SYS + "KTASPW.DLL")))
        self.assertFalse(os.path.exists(self.prefix.unix(SYS + "KTASPSVC.EXE")))
        self.assertEqual(self.prefix.pending_renames(), [("\\??\\" + SYS + "KTASPW.DLL", "")])
        self.assertIn("delete \"%sKTASPW.DLL\": error 32, deleted at the restart" % SYS,
                      self.events())

    def release(self):
        """Ends the process that holds a file, as the program using it would end."""
        rc, _ = self.prefix.run("taskkill", ["/F", "/IM", "holder.exe"])
        self.assertEqual(rc, 0)

    def copies(self):
        """The copies that wait beside the library to replace it at the restart."""
        return [n for n in os.listdir(self.prefix.system32)
                if re.fullmatch(r"(?i)tvx[0-9a-f]{1,4}\.tmp", n)]

    def restart(self):
        self.prefix.run("wineboot", ["-r"])
        self.prefix.stop()
        self.assertEqual(self.prefix.pending_renames(), [])

    def test_what_one_run_records_for_the_restart_the_next_run_keeps_from_undoing_it(self):
        lib = SYS + "KTASPW.DLL"
        package = [SYS + n for n in PLACED] + ["C:\\windows\\syswow64\\KTASPW.DLL"]
        # An installation while the library is in use records its replacement; the program
        # ends; a removal follows: it deletes the copy that waited, and nothing comes back.
        self.install()
        self.hold(lib)
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 1, out)
        (copy,) = self.copies()
        self.release()
        rc, out = self.prefix.run_setup(["-U", "-X"])
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.copies(), [])
        self.assertIn("restart operation dropped: deleted \"%s%s\", which waited to replace "
                      "\"%s\"" % (SYS, copy, lib), self.events())
        self.restart()
        for path in package:
            self.assertFalse(os.path.exists(self.prefix.unix(path)), path)
        self.assertFalse(os.path.exists(self.prefix.unix(DRIVER)))
        # A removal while the library is in use records its deletion; the program ends; an
        # installation follows: it places the library again after the deletion, and says that
        # a restart is needed; after it the library is the package's.
        self.install()
        self.hold(lib)
        rc, out = self.prefix.run_setup(["-U", "-X"])
        self.assertEqual(rc, 1, out)
        self.release()
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 1, out)
        self.assertTrue(out.endswith(COMPLETE + REBOOT), out)
        renames = self.prefix.pending_renames()
        self.assertEqual(renames[0], ("\\??\\" + lib, ""))
        self.assertEqual([r[1] for r in renames[1:]], ["!\\??\\" + lib])
        self.restart()
        for path, name in zip(package, PLACED + ["KTASPW32.DLL"]):
            with open(self.prefix.unix(path), "rb") as f, \
                    open(os.path.join(DIST, name), "rb") as g:
                self.assertEqual(f.read(), g.read(), path)
        self.assertEqual(self.copies(), [])


if __name__ == "__main__":
    unittest.main()

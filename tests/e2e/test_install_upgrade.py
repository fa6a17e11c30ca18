"""The installer under Wine over machines that already hold something (an older installation,
legacy services, a library in use), and started in other ways than by its full path."""
import os
import re
import shutil
import unittest

from harness import BANNER, DIST, PACKAGE
from test_install import (BUILD, COMPLETE, FORCING, REBOOT, SERVICES, TOOL_WAIT, InstallMachine,
                          read)


class InstallUpgradeTest(InstallMachine):
    def test_upgrade_from_a_folder_beyond_the_ansi_code_page(self):
        # The package in a folder that code page 1252 cannot name, over an older installation
        # whose files differ from the package's: the manifest's UTF-8 code page reads the
        # folder as it is, so the package is staged and placed (read as "C:\??\", staging
        # failed and the older files of the driver directory were placed instead).
        folder = "C:\\软件"
        self.prefix.lay_out_package(folder)
        os.makedirs(self.driver_dir())
        for name in PACKAGE:
            self.write_old(os.path.join(self.driver_dir(), name), b"old " + name.encode())
        for name in ("KTASPW.DLL", "KTASPREM.EXE"):
            self.write_old(self.sys(name), b"old " + name.encode())
        rc, out = self.prefix.run_setup(["-FU", "-X"], win_dir=folder)
        self.assertEqual(rc, 0, out)
        self.assert_full_match(re.escape(FORCING + BANNER) + TOOL_WAIT + re.escape(COMPLETE), out)
        self.assert_installed()
        # The log names the folder in UTF-8.
        log = read(self.prefix.unix("C:\\windows\\Logs\\TVX2\\setup.log"))
        self.assertIn('command line: C:\\软件\\SETUP.EXE -FU -X;'.encode(), log)
        self.assertIn('SourceDir "C:\\软件\\"'.encode(), log)

    def test_legacy_service_keys_are_removed_over_two_runs(self):
        self.prefix.import_reg(
            "[%s\\ktawdrsv\\Parameters\\Extra]\n\"x\"=\"1\"\n\n"
            "[%s\\ktawdrsv\\Enum]\n\n[%s\\ktawdrex]\n\"Start\"=dword:00000002\n\n"
            "[%s\\KTAWDRSV2]\n\n" % (SERVICES, SERVICES, SERVICES, SERVICES))
        services = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\"
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 1)
        self.assert_full_match(re.escape(FORCING + BANNER) + TOOL_WAIT +
                               re.escape(COMPLETE + REBOOT), out)
        self.assertIsNone(self.prefix.reg_query(services + "ktawdrex"))
        # Deleting ktawdrex moved ktawdrsv into its slot, so only the second pass reached it,
        # and that pass deleted its first child only.
        self.assertIsNone(self.prefix.reg_query(services + "ktawdrsv\\Enum"))
        self.assertIsNotNone(self.prefix.reg_query(services + "ktawdrsv\\Parameters\\Extra"))
        self.assertIsNotNone(self.prefix.reg_query(services + "KTAWDRSV2"))  # other case
        self.assert_installed()

        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 1)
        self.assertIsNone(self.prefix.reg_query(services + "ktawdrsv"))
        self.assertIsNotNone(self.prefix.reg_query(services + "KTAWDRSV2"))

    def test_library_held_by_the_old_tool_is_replaced_at_restart(self):
        # An older watchdog tool whose remove run leaves a process holding the 64-bit library.
        shutil.copy(os.path.join(BUILD, "tests", "tool_double.exe"), self.sys("ktawdrsv.exe"))
        self.write_old(self.sys("KTASPW.DLL"), b"the old library")
        with open(self.sys("ktawdrsv.exe.plan"), "w") as f:
            f.write("hold C:\\windows\\system32\\KTASPW.DLL 60000\nexit 0\n")
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 1)
        self.assert_full_match(re.escape(FORCING + BANNER) + TOOL_WAIT + TOOL_WAIT + TOOL_WAIT +
                               re.escape(COMPLETE + REBOOT), out)
        # The library waits for the restart, as a copy beside it; the tools were placed now.
        renames = self.prefix.pending_renames()
        self.assertEqual(len(renames), 1, renames)
        self.assertRegex(renames[0][0], r"(?i)^\\\?\?\\C:\\windows\\system32\\tvx[0-9a-f]{1,4}\.tmp$")
        self.assertEqual(renames[0][1], "!\\??\\C:\\windows\\system32\\KTASPW.DLL")
        self.assertEqual(read(self.sys("KTASPW.DLL")), b"the old library")
        self.assertEqual(read(self.sys("KTASPSVC.EXE")), read(os.path.join(DIST, "KTASPSVC.EXE")))
        # The next start of Wine carries the move out, as Windows does at the restart: the
        # package's library replaces the old one, the driver directory keeps all five files
        # and no copy is left behind.
        self.prefix.run("wineboot", ["-r"])
        self.prefix.stop()
        self.assertEqual(read(self.sys("KTASPW.DLL")), read(os.path.join(DIST, "KTASPW.DLL")))
        for name in PACKAGE:
            self.assertEqual(read(os.path.join(self.driver_dir(), name)),
                             read(os.path.join(DIST, name)), name)
        self.assertEqual([n for n in os.listdir(self.prefix.system32)
                          if re.fullmatch(r"(?i)tvx[0-9a-f]{1,4}\.tmp", n)], [])
        self.assertEqual(self.prefix.pending_renames(), [])
        # The old tool is gone by now; a run started from the driver directory, which stages
        # nothing, installs from what is there.
        os.remove(self.sys("ktawdrsv.exe"))
        os.remove(self.sys("ktawdrsv.exe.plan"))
        rc, out = self.prefix.run_setup(["-FU", "-X"], win_dir="C:\\windows\\system32\\drivers\\tvx2")
        self.assertEqual(rc, 0, out)
        self.assert_full_match(re.escape(FORCING + BANNER) + b"(" + TOOL_WAIT + b")+" +
                               re.escape(COMPLETE), out)
        self.assert_installed()

    def test_drive_relative_start_and_a_bare_name_start_inside_the_driver_directory(self):
        # Started through cmd, which passes the program path on as typed (Wine's loader does
        # not start "C:SETUP.EXE" itself). That start reads the package from drive C's current
        # directory, C:\pkg.
        def run_from(win_dir, argv0):
            return self.prefix.run("cmd", ["/c", argv0, "-FU", "-X"], cwd=self.prefix.unix(win_dir))
        rc, out = run_from("C:\\pkg", "C:SETUP.EXE")
        self.assertEqual(rc, 0, out)
        self.assert_installed()
        # By bare name from inside the driver directory: nothing is staged onto itself.
        rc, out = run_from("C:\\windows\\system32\\drivers\\tvx2", "SETUP.EXE")
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.prefix.pending_renames(), [])
        self.assert_installed()


if __name__ == "__main__":
    unittest.main()

"""The whole installer under Wine: every reachable outcome, checked on the real machine."""
import os
import re
import shutil
import unittest

from harness import (BANNER, CLOSING, DIST, FAILED, PACKAGE, PCI_CARD, PCI_CARD_IDS, USB_4001,
                     USB_4001_IDS, PrefixTest, device_reg)

COMPLETE = b"Installation complete\r\n\r"
REBOOT = b"Reboot the machine for the device driver to start. \r\n\r"
NOT_FOUND = (b"The Talvexa II device was not found.\r\n"
             b"Check the USB cable connection of the TVX II.\r\n")
NOT_READY = (
    b"The Talvexa II (TVX II) device was found, but the TVX II is\r\n"
    b"not configured for Windows, or the Windows USB drivers are not correctly \r\n"
    b"installed for the TVX II device, or the TVX II is not properly connected to\r\n"
    b"USB.  First check the USB connection of the TVX II. Then in BIOS \r\n"
    b"Configuration/Setup use the Advanced Setup menu to check the TVX II \r\n"
    b"Configuration.  Then check Device Manager in Windows.  If a HID_SYS device is\r\n"
    b"shown, select Update Driver for it. \r\n\r\n"
    b"The KTA TVX II software will now be installed, but will not work properly\r\n"
    b"until the TVX II connection and configuration are corrected.\r\n\r\n")
FORCING = b"Skipping hardware detection - forcing Vorrin.\r\n"
# The install run of the service tool: a line feed, a dot per poll while it runs, a line feed.
TOOL_WAIT = rb"\r\n\.*\r\n"
STATE_KEY = "HKLM\\SOFTWARE\\KTA\\TVX2"
SERVICES = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services"
BUILD = os.environ.get("SETUP_BUILD", os.path.join(os.path.dirname(DIST), "build", "windows"))


def read(path):
    with open(path, "rb") as f:
        return f.read()


class InstallTest(PrefixTest):
    def setUp(self):
        super().setUp()
        self.prefix.lay_out_package()

    # What the machine holds.
    def sys(self, name):
        return os.path.join(self.prefix.system32, name)

    def driver_dir(self):
        return self.prefix.unix("C:\\windows\\system32\\drivers\\tvx2")

    def assert_full_match(self, pattern, out):
        self.assertIsNotNone(re.fullmatch(pattern, out, re.S), out)

    def assert_installed(self):
        for name in PACKAGE:
            self.assertEqual(read(os.path.join(self.driver_dir(), name)),
                             read(os.path.join(DIST, name)), name)
        for name in ("KTASPW.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"):
            self.assertEqual(read(self.sys(name)), read(os.path.join(DIST, name)), name)
        wow64 = self.prefix.unix("C:\\windows\\syswow64\\KTASPW.DLL")
        self.assertEqual(read(wow64), read(os.path.join(DIST, "KTASPW32.DLL")))
        self.assertRegex(self.prefix.reg_query(STATE_KEY, "ServiceInstalled") or "",
                         r"ServiceInstalled\s+REG_DWORD\s+0x1")

    def assert_untouched(self):
        self.assertFalse(os.path.exists(self.driver_dir()))
        self.assertFalse(os.path.exists(self.sys("KTASPW.DLL")))
        self.assertIsNone(self.prefix.reg_query(STATE_KEY))

    @staticmethod
    def write_old(path, data):
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (0, 0))

    # The outcomes.
    def test_no_card_detect_only_then_full_run(self):
        rc, out = self.prefix.run_setup(["-H"])
        self.assertEqual((rc, out), (8, BANNER + NOT_FOUND + FAILED))
        rc, out = self.prefix.run_setup(["-X"])
        self.assertEqual((rc, out), (8, BANNER + NOT_FOUND + FAILED))
        self.assert_untouched()

    def test_card_in_device_tree_without_usb_is_installed_and_not_ready(self):
        self.prefix.import_reg(device_reg(PCI_CARD, PCI_CARD_IDS))
        rc, out = self.prefix.run_setup(["-X"])
        self.assertEqual(rc, 16)
        self.assert_full_match(re.escape(BANNER) + TOOL_WAIT + re.escape(NOT_READY + COMPLETE),
                               out)
        self.assert_installed()

    def test_usb_id_in_device_tree_detect_only_touches_nothing(self):
        self.prefix.import_reg(device_reg(USB_4001, USB_4001_IDS))
        rc, out = self.prefix.run_setup(["-H"])
        self.assertEqual((rc, out), (16, BANNER + NOT_READY + COMPLETE))
        self.assert_untouched()

    def test_forced_install_then_a_second_attended_run_asks_nothing(self):
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 0)
        self.assert_full_match(re.escape(FORCING + BANNER) + TOOL_WAIT + re.escape(COMPLETE), out)
        self.assert_installed()
        # Over the installed machine the times are equal: no warning, no prompt. The service
        # tool now runs its remove first, then its install.
        rc, out = self.prefix.run_setup(["-FU"], stdin=b"")
        self.assertEqual(rc, 0)
        self.assert_full_match(re.escape(FORCING + BANNER) + TOOL_WAIT + TOOL_WAIT +
                               re.escape(COMPLETE + CLOSING), out)
        self.assert_installed()

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

    def test_refused_placement_fails_but_the_install_run_still_happens(self):
        os.makedirs(self.sys("KTASPREM.EXE"))  # a directory where the tool should go
        os.utime(self.sys("KTASPREM.EXE"), (0, 0))  # older than the package: no date warning
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 2)
        self.assert_full_match(re.escape(FORCING + BANNER) + TOOL_WAIT + re.escape(FAILED), out)
        self.assertRegex(self.prefix.reg_query(STATE_KEY, "ServiceInstalled") or "",
                         r"ServiceInstalled\s+REG_DWORD\s+0x1")

    def test_attended_run_keeps_a_newer_file_when_answered_no(self):
        newer = self.sys("KTASPW.DLL")
        with open(newer, "wb") as f:
            f.write(b"a newer library")
        future = os.stat(os.path.join(DIST, "KTASPW.DLL")).st_mtime + 86400 * 365
        os.utime(newer, (future, future))
        rc, out = self.prefix.run_setup(["-FU"], stdin=b"n\n")
        self.assertEqual(rc, 0)
        warning = (b"\r\nC:\\windows\\system32\\drivers\\tvx2\\KTASPW.DLL is older than "
                   b"C:\\windows\\system32\\KTASPW.DLL.\r\nDo you want to copy anyway? (y/n):\r\n")
        self.assert_full_match(re.escape(FORCING + BANNER + warning) + TOOL_WAIT +
                               re.escape(COMPLETE + CLOSING), out)
        self.assertEqual(read(newer), b"a newer library")
        self.assertEqual(read(self.sys("KTASPREM.EXE")), read(os.path.join(DIST, "KTASPREM.EXE")))


if __name__ == "__main__":
    unittest.main()

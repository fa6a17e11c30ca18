"""The whole installer under Wine: every reachable outcome, checked on the real machine."""
import os
import re
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


class InstallMachine(PrefixTest):
    """The package laid out in C:\\pkg, and what an installation leaves on the machine."""

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


class InstallTest(InstallMachine):
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

"""The package's own programs under Wine: the service tool's registry record and its usage."""
import unittest

from harness import PrefixTest

STATE_KEY = "HKLM\\SOFTWARE\\KTA\\TVX2"


class ServiceToolTest(PrefixTest):
    def setUp(self):
        super().setUp()
        self.prefix.lay_out_package()

    def test_install_records_and_remove_takes_away(self):
        rc, _ = self.prefix.run("C:\\pkg\\KTASPSVC.EXE", ["-install", "-TVX2"])
        self.assertEqual(rc, 0)
        state = self.prefix.reg_query(STATE_KEY, "ServiceInstalled")
        self.assertIsNotNone(state)
        self.assertRegex(state, r"ServiceInstalled\s+REG_DWORD\s+0x1")
        self.assertRegex(self.prefix.reg_query(STATE_KEY, "Card"), r"Card\s+REG_SZ\s+TVX2")
        rc, out = self.prefix.run("C:\\pkg\\KTASPREM.EXE")
        self.assertEqual((rc, out), (0, b"TVX II software: installed\r\n"))

        rc, _ = self.prefix.run("C:\\pkg\\KTASPSVC.EXE", ["-remove"])
        self.assertEqual(rc, 0)
        self.assertIsNone(self.prefix.reg_query(STATE_KEY))
        rc, out = self.prefix.run("C:\\pkg\\KTASPREM.EXE")
        self.assertEqual((rc, out), (1, b"TVX II software: not installed\r\n"))

    def test_remove_without_a_record_succeeds(self):
        rc, _ = self.prefix.run("C:\\pkg\\KTASPSVC.EXE", ["-remove"])
        self.assertEqual(rc, 0)

    def test_anything_else_gives_usage_and_nonzero(self):
        for args in ([], ["-install"], ["-install", "-TVX3"], ["/remove"], ["-remove", "x"]):
            rc, _ = self.prefix.run("C:\\pkg\\KTASPSVC.EXE", args)
            self.assertEqual(rc, 2, args)
        self.assertIsNone(self.prefix.reg_query(STATE_KEY))


if __name__ == "__main__":
    unittest.main()

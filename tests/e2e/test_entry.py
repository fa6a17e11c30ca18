"""The real SETUP.EXE's options and console output, with no console and no input."""
import unittest

from harness import BANNER, CLOSING, PrefixTest


class EntryTest(PrefixTest):
    def test_messages_off_prints_nothing(self):
        self.prefix.lay_out_package(files=["SETUP.EXE"])
        rc, out = self.prefix.run_setup(["-N"])
        self.assertEqual(out, b"")
        self.assertEqual(rc, 8)  # no card on this machine

    def test_invalid_force_code_stops_with_exit_zero(self):
        self.prefix.lay_out_package(files=["SETUP.EXE"])
        rc, out = self.prefix.run_setup(["-FX"])
        self.assertEqual(rc, 0)
        self.assertEqual(out, b"Invalid force code!\r\n")

    def test_plain_run_without_console_does_not_hang(self):
        self.prefix.lay_out_package(files=["SETUP.EXE"])
        rc, out = self.prefix.run_setup([], timeout=120)
        self.assertTrue(out.startswith(BANNER), out)
        self.assertTrue(out.endswith(CLOSING), out)


if __name__ == "__main__":
    unittest.main()

"""The verification (-V) of the real SETUP.EXE under Wine, and the Application events of the
runs, which Wine shows on its debug channels (it keeps no event log)."""
import os
import pathlib
import re

from harness import BANNER, FAILED, PCI_CARD, PCI_CARD_IDS, PrefixTest, device_reg
from test_log_remove import DRIVER, SYS
from test_removal import PLACED
from test_uninstall import ENTRY

WOW = SYS + "..\\sysWOW64\\KTASPW.DLL"
WHOLE = b"The KTA TVX II software, version 2.1.0.0, is installed and whole.\r\n"
SOURCE = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\TVX2 Setup"


class VerifyTest(PrefixTest):
    def files(self):
        paths = [DRIVER + n for n in os.listdir(self.prefix.unix(DRIVER))] + [SYS + n for n in PLACED]
        return {p: pathlib.Path(self.prefix.unix(p)).read_bytes() for p in paths + [WOW]
                if os.path.exists(self.prefix.unix(p))}

    def run_logged(self, args, win_dir="C:\\pkg"):
        """A run with the event calls on standard error: (exit code, output, [(type, id)])."""
        self.prefix.env["WINEDEBUG"] = "-all,fixme+advapi,+eventlog"
        rc, out = self.prefix.run_setup(args, win_dir=win_dir)
        err = self.prefix.stderr.decode("latin-1")
        calls = re.findall(r"ReportEventW \(\w+,0x(\w+),0x\w+,0x(\w+),", err)
        return rc, out, [(int(t, 16), int(i, 16)) for t, i in calls], err

    def test_install_verify_damage_verify_repair_verify(self):
        self.prefix.lay_out_package()
        self.prefix.import_reg(device_reg(PCI_CARD, PCI_CARD_IDS))
        rc, _, events, err = self.run_logged(["-X"])
        self.assertEqual((rc, events), (16, [(2, 116)]), err)
        self.assertIn("Installation ended with exit code 16: installed, but the card's USB "
                      "function is not working. Version 2.1.0.0.", err)
        self.assertRegex(self.prefix.reg_query(SOURCE), r"(?s)EventMessageFile\s+REG_EXPAND_SZ\s+"
                         r"%SystemRoot%\\System32\\EventCreate.exe.*TypesSupported\s+REG_DWORD\s+0x7")
        self.assertEqual(self.run_logged(["-V"])[:3], (0, BANNER + WHOLE, []))

        # Two placements damaged: one gone, one of other bytes with the same size and time.
        os.remove(self.prefix.unix(WOW))
        tool = pathlib.Path(self.prefix.unix(SYS + "KTASPREM.EXE"))
        stat, data = tool.stat(), bytearray(tool.read_bytes())
        data[len(data) // 2] ^= 0xFF
        tool.write_bytes(data)
        os.utime(tool, ns=(stat.st_atime_ns, stat.st_mtime_ns))
        before = self.files(), self.prefix.reg_query(ENTRY)
        rc, out, events, err = self.run_logged(["-V"])
        self.assertEqual((rc, events), (2, [(1, 302)]), err)
        self.assertEqual(out, BANNER + (WOW + " is missing.\r\n" + SYS + "KTASPREM.EXE differs from "
                                        + DRIVER + "KTASPREM.EXE.\r\n").encode() + FAILED)
        self.assertEqual((self.files(), self.prefix.reg_query(ENTRY)), before)
        self.assertEqual(self.prefix.pending_renames(), [])

        # The repair: the driver directory's SETUP.EXE, silent; then it is whole again.
        rc, out, events, err = self.run_logged(["-N"], win_dir=DRIVER[:-1])
        self.assertEqual((rc, out, events), (16, b"", [(2, 116)]), err)
        self.assertEqual(self.run_logged(["-V"])[:3], (0, BANNER + WHOLE, []))

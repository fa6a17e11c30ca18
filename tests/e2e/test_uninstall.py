"""The uninstall entry of the real SETUP.EXE under Wine, and the removal that it starts."""
import os
import re

from harness import BANNER, PrefixTest
from test_install import STATE_KEY
from test_log_remove import DRIVER, SYS
from test_removal import PLACED, REMOVED, REMOVING

ENTRY = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TVX2HostSoftware"
TEMP = "C:\\windows\\TVX2.Removed\\"  # the folder of ours the running installer leaves into


class UninstallEntryTest(PrefixTest):
    def entry_values(self):
        """The entry's values as reg query shows them: name -> (type, data)."""
        out = self.prefix.reg_query(ENTRY)
        self.assertIsNotNone(out, "no uninstall entry")
        values = {}
        for line in out.splitlines():
            match = re.fullmatch(r"\s+(\S+)\s+(REG_\w+)\s+(.*?)\s*", line)
            if match:
                values[match.group(1)] = (match.group(2), match.group(3))
        return values

    def listed(self):
        rc, out = self.prefix.run("uninstaller", ["--list"])
        self.assertEqual(rc, 0)
        return [l for l in out.decode("latin-1").splitlines() if "TVX" in l]

    def test_entry_written_and_its_quiet_command_removes_everything(self):
        self.prefix.lay_out_package()
        rc, out = self.prefix.run_setup(["-FU", "-X"])
        self.assertEqual(rc, 0, out)
        self.assertEqual(self.listed(), ["TVX2HostSoftware|||KTA TVX II host software"])
        driver = DRIVER[:-1]
        values = self.entry_values()
        date = values.get("InstallDate", ("", ""))[1]
        self.assertRegex(date, r"^20\d\d[01]\d[0-3]\d$")
        size_kb = sum(os.path.getsize(self.prefix.unix(p)) for p in
                      [DRIVER + n for n in os.listdir(self.prefix.unix(DRIVER))] +
                      [SYS + n for n in PLACED] + ["C:\\windows\\syswow64\\KTASPW.DLL"])
        self.assertEqual(values, {
            "DisplayName": ("REG_SZ", "KTA TVX II host software"),
            "DisplayVersion": ("REG_SZ", "2.1.0.0"),
            "VersionMajor": ("REG_DWORD", "0x2"),
            "VersionMinor": ("REG_DWORD", "0x1"),
            "Publisher": ("REG_SZ", "KTA"),
            "InstallLocation": ("REG_SZ", driver),
            "InstallDate": ("REG_SZ", date),
            "UninstallString": ("REG_SZ", '"%s\\SETUP.EXE" -U' % driver),
            "QuietUninstallString": ("REG_SZ", '"%s\\SETUP.EXE" -U -N' % driver),
            "NoModify": ("REG_DWORD", "0x1"),
            "NoRepair": ("REG_DWORD", "0x1"),
            "EstimatedSize": ("REG_DWORD", hex((size_kb + 1023) // 1024)),
        })

        # The quiet command, as an agent runs it: from another directory, no console.
        program, args = re.fullmatch(r'"([^"]+)" (.*)', values["QuietUninstallString"][1]).groups()
        rc, out = self.prefix.run(program, args.split(), cwd=self.prefix.work)
        self.assertEqual((rc, out), (0, b""))
        # The running installer went to that folder, deleted at the restart;
        # nothing of the software waits for it. (Read before Wine starts again: a new start
        # carries out the restart's moves.)
        with open(self.prefix.unix("C:\\windows\\Logs\\TVX2\\setup.log"), "rb") as f:
            log = f.read().decode("ascii")
        moved = re.findall(r'delete "%s": in use, moved to "%s(tvx\w+\.tmp)", which is deleted '
                           r'at the restart' % (re.escape(DRIVER + "SETUP.EXE"), re.escape(TEMP)),
                           log, re.I)
        self.assertEqual(len(moved), 1, log)
        copy = TEMP + moved[0]
        with open(self.prefix.unix(copy), "rb") as f, \
                open(self.prefix.unix("C:\\pkg\\SETUP.EXE"), "rb") as g:
            self.assertEqual(f.read(), g.read())
        self.assertEqual([(s.lower(), d) for s, d in self.prefix.pending_renames()],
                         [("\\??\\" + copy.lower(), "")])
        for path in [SYS + n for n in PLACED] + ["C:\\windows\\syswow64\\KTASPW.DLL"]:
            self.assertFalse(os.path.exists(self.prefix.unix(path)), path)
        self.assertFalse(os.path.exists(self.prefix.unix(DRIVER)))

        # Wine starts again, as after a restart: the copy is gone, and so are the service
        # tool's record and the entry. A removal that finds nothing ends with 0.
        self.assertIsNone(self.prefix.reg_query(STATE_KEY))
        self.assertIsNone(self.prefix.reg_query(ENTRY))
        self.assertEqual(self.listed(), [])
        self.assertFalse(os.path.exists(self.prefix.unix(copy)))
        rc, out = self.prefix.run_setup(["-U", "-X"])
        self.assertEqual((rc, out), (0, BANNER + REMOVING + REMOVED))
        self.assertIsNone(self.prefix.reg_query(ENTRY))

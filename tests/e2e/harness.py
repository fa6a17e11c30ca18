"""End-to-end runs of the real SETUP.EXE under Wine, each in a fresh prefix.

A Prefix is a copy of a booted template prefix. A test lays out the package, arranges the
machine (files, registry, device tree), runs the installer with arguments and standard input,
and checks the exit code, the exact bytes of standard output, the files and the registry.
"""
import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DIST = os.environ.get("SETUP_DIST", os.path.join(ROOT, "dist"))
TEMPLATE = os.environ.get("SETUP_WINE_TEMPLATE",
                          os.path.join(ROOT, "build", "windows", "wine-template"))
WINE = "/usr/lib/wine/wine64"
PACKAGE = ["SETUP.EXE", "KTASPW.DLL", "KTASPW32.DLL", "KTASPREM.EXE", "KTASPSVC.EXE"]
BANNER = b"KTA Talvexa 2 software installation\r\n\r"
FAILED = b"\r\nInstallation failed\r\n"
CLOSING = b"Press any key to exit."


def ensure_template():
    subprocess.run([os.path.join(ROOT, "scripts", "wine-template"), TEMPLATE], check=True)


class Prefix:
    """A throwaway Wine prefix with its own TMPDIR; removed by close()."""

    def __init__(self):
        ensure_template()
        self.work = tempfile.mkdtemp(prefix="setup-e2e.")
        self.path = os.path.join(self.work, "prefix")
        subprocess.run(["cp", "-a", TEMPLATE, self.path], check=True)
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all", TMPDIR=self.work)
        self.env.pop("DISPLAY", None)

    def close(self):
        self.stop()
        shutil.rmtree(self.work, ignore_errors=True)

    def stop(self):
        """Ends the prefix's wineserver, which writes the registry to disk."""
        subprocess.run(["wineserver", "-k"], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, stderr=subprocess.DEVNULL)

    def unix(self, win_path):
        """The host path of a path on drive C: of the prefix."""
        assert win_path[:3].upper() == "C:\\", win_path
        parts = [p for p in win_path[3:].split("\\") if p]
        path = os.path.join(self.path, "drive_c")
        for part in parts:
            # Windows names compare without case: find the existing spelling.
            match = None
            if os.path.isdir(path):
                for name in os.listdir(path):
                    if name.lower() == part.lower():
                        match = name
                        break
            path = os.path.join(path, match or part)
        return path

    @property
    def system32(self):
        return self.unix("C:\\windows\\system32")

    def lay_out_package(self, win_dir="C:\\pkg", files=PACKAGE):
        target = self.unix(win_dir)
        os.makedirs(target, exist_ok=True)
        for name in files:
            shutil.copy2(os.path.join(DIST, name), os.path.join(target, name))
        return target

    def run(self, program, args=(), stdin=b"", cwd=None, timeout=600):
        """Runs a Windows program (a Windows path, or a name on the PATH of the prefix)."""
        proc = subprocess.run([WINE, program, *args], input=stdin, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=self.env, cwd=cwd or self.work,
                              timeout=timeout)
        self.stderr = proc.stderr
        return proc.returncode, proc.stdout

    def run_setup(self, args=(), stdin=b"", win_dir="C:\\pkg", argv0=None, timeout=600):
        """Runs SETUP.EXE from the package directory, started as argv0 (its full path unless
        given), with the package directory as the current directory."""
        program = argv0 or (win_dir + "\\SETUP.EXE")
        return self.run(program, args, stdin=stdin, cwd=self.unix(win_dir), timeout=timeout)

    def import_reg(self, text):
        """Imports a REGEDIT4 text with regedit /S."""
        path = os.path.join(self.work, "import.reg")
        with open(path, "w", encoding="ascii", newline="\r\n") as f:
            f.write("REGEDIT4\n\n" + text)
        rc, _ = self.run("regedit", ["/S", "Z:" + path.replace("/", "\\")])
        if rc != 0:
            raise RuntimeError("regedit failed with %d" % rc)

    def pending_renames(self):
        """The list of moves recorded for the next restart, as pairs (source, destination),
        read from the registry file once the prefix's wineserver has ended: any later start
        of Wine carries the moves out, as a restart would."""
        self.stop()
        with open(os.path.join(self.path, "system.reg"), encoding="latin-1") as f:
            text = f.read()
        section = text.split("[System\\\\CurrentControlSet\\\\Control\\\\Session Manager]", 1)
        if len(section) < 2:
            return []
        body = section[1].split("\n[", 1)[0].replace("\\\n", "")
        for line in body.splitlines():
            if line.startswith('"PendingFileRenameOperations"='):
                value = line.split("=", 1)[1]
                if value.startswith("str(7):"):
                    raw = value[len('str(7):"'):-1].replace("\\\\", "\\").split("\\0")
                elif value.startswith("hex(7):"):
                    data = bytes(int(b, 16) for b in value[7:].replace(" ", "").split(",") if b)
                    raw = data.decode("utf-16-le").split("\0")
                else:
                    raise AssertionError("unexpected value " + value)
                return list(zip(raw[0::2], raw[1::2]))
        return []

    def reg_query(self, key, value=None):
        """The output of reg query for a key (and a value), or None when it is not there."""
        args = ["query", key] + (["/v", value] if value else [])
        rc, out = self.run("reg", args)
        return out.decode("latin-1") if rc == 0 else None


class PrefixTest(unittest.TestCase):
    """A test case with a fresh prefix per test."""

    def setUp(self):
        self.prefix = Prefix()
        self.addCleanup(self.prefix.close)


def device_reg(enumerator_path, hardware_ids, class_guid="{4d36e97d-e325-11ce-bfc1-08002be10318}"):
    """REGEDIT4 text that adds a present device under Enum with these hardware IDs."""
    data = b"".join(h.encode("ascii") + b"\0" for h in hardware_ids) + b"\0"
    hexdata = ",".join("%02x" % b for b in data)
    return ('[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\%s]\n'
            '"ClassGUID"="%s"\n"HardwareID"=hex(7):%s\n\n' % (enumerator_path, class_guid, hexdata))


PCI_CARD = "PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00\\4&1a2b3c&0&0008"
PCI_CARD_IDS = ["PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E&REV_00",
                "PCI\\VEN_1002&DEV_5159&SUBSYS_7C3B5D2E"]
USB_4001 = "USB\\Vid_7a5c&Pid_4001\\5&2c3d4e&0&1"
USB_4001_IDS = ["USB\\Vid_7a5c&Pid_4001&Rev_0001", "USB\\Vid_7a5c&Pid_4001"]

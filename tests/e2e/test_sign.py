"""scripts/sign on a copy of the built package, with a throwaway self-signed code-signing
certificate: every file gets an Authenticode signature that osslsigncode verifies."""
import hashlib
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

import pe
from harness import BANNER, DIST, FAILED, PACKAGE, ROOT, Prefix

SIGN = os.path.join(ROOT, "scripts", "sign")
MARKER = b"TVX2-MANIFEST-1\0"


def manifest(setup):
    """SETUP.EXE's manifest rows: {name: digest in hex}."""
    data = pathlib.Path(setup).read_bytes()
    rows = data[data.index(MARKER) + len(MARKER):][:4 * 48]
    return {rows[i:i + 16].rstrip(b"\0").decode(): rows[i + 16:i + 48].hex().upper()
            for i in range(0, len(rows), 48)}


def digests(folder):
    out = {}
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            out[name] = hashlib.sha256(f.read()).hexdigest()
    return out


class SignTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run([os.path.join(ROOT, "scripts", "bootstrap")], check=True)
        cls.work = tempfile.mkdtemp(prefix="setup-sign.")
        cls.cert, cls.pfx = cls.certificate("cert", "TVX II test signing")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def certificate(cls, name, subject):
        key, cert, pfx = (os.path.join(cls.work, name + ext) for ext in (".key", ".pem", ".pfx"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                        "-subj", "/CN=" + subject, "-keyout", key, "-out", cert,
                        "-addext", "keyUsage=critical,digitalSignature",
                        "-addext", "extendedKeyUsage=codeSigning"],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert,
                        "-out", pfx, "-passout", "pass:s3cret"], check=True)
        return cert, pfx

    def setUp(self):
        self.dist = tempfile.mkdtemp(prefix="dist.", dir=self.work)
        for name in PACKAGE:
            shutil.copy2(os.path.join(DIST, name), self.dist)
        self.original = digests(DIST)

    def sign(self, **settings):
        env = {k: v for k, v in os.environ.items() if not k.startswith("SIGN_")}
        env.update(settings, TMPDIR=self.work)
        return subprocess.run([SIGN, self.dist], env=env, capture_output=True, text=True)

    def verify(self, name):
        proc = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert,
                               "-in", os.path.join(self.dist, name)],
                              capture_output=True, text=True)
        return proc.returncode, proc.stdout

    def test_without_a_usable_certificate_nothing_is_signed(self):
        unsigned = digests(self.dist)
        for settings, rc, says in (({}, 2, "SIGN_PFX"),
                                   ({"SIGN_PFX": self.pfx}, 2, "SIGN_PASSWORD"),
                                   ({"SIGN_PFX": self.pfx + ".x", "SIGN_PASSWORD": ""}, 2,
                                    "no such file"),
                                   ({"SIGN_PFX": self.pfx, "SIGN_PASSWORD": "wrong"}, 1,
                                    "could not be signed")):
            proc = self.sign(**settings)
            self.assertEqual(proc.returncode, rc, settings)
            self.assertIn(says, proc.stderr, settings)
            self.assertEqual(digests(self.dist), unsigned, settings)
        # The password file went with the script's own temporary folder.
        self.assertEqual([n for n in os.listdir(self.work) if n.startswith("sign.")], [])

    def test_every_file_signed_and_verified(self):
        for name in PACKAGE:
            self.assertNotEqual(self.verify(name)[0], 0, name)  # unsigned: verify fails
        # The build wrote a row for each of the four other files; signing (and signing again)
        # keeps the digest that osslsigncode signs equal to the row.
        rows = manifest(os.path.join(DIST, "SETUP.EXE"))
        self.assertEqual(sorted(rows), sorted(PACKAGE[1:]))
        for _ in range(2):  # signing again replaces the signature
            proc = self.sign(SIGN_PFX=self.pfx, SIGN_PASSWORD="s3cret")
            self.assertEqual(proc.returncode, 0, proc.stderr)
            self.assertIn("sign: 5 files signed", proc.stdout)
            self.assertEqual(manifest(os.path.join(self.dist, "SETUP.EXE")), rows)
            for name in PACKAGE:
                rc, out = self.verify(name)
                self.assertEqual(rc, 0, name + out)
                if name != "SETUP.EXE":
                    self.assertIn("Calculated message digest : " + rows[name] + " \n", out, name)
                self.assertIn("Signature verification: ok", out, name)
                self.assertIn("Number of verified signatures: 1\n", out, name)
                self.assertIn("Subject: /CN=TVX II test signing", out, name)
                # The resources survive signing.
                self.assertEqual(pe.version_info(os.path.join(self.dist, name))["FileVersion"],
                                 pe.version_info(os.path.join(DIST, name))["FileVersion"])
        self.assertEqual(digests(DIST), self.original)  # the build's own dist/ is untouched

    def test_a_signed_package_refuses_a_service_tool_its_signer_did_not_sign(self):
        self.assertEqual(self.sign(SIGN_PFX=self.pfx, SIGN_PASSWORD="s3cret").returncode, 0)
        prefix = Prefix()
        self.addCleanup(prefix.close)
        shutil.copytree(self.dist, prefix.unix("C:\\pkg"))
        state = "HKLM\\SOFTWARE\\KTA"
        self.assertEqual(prefix.run_setup(["-FU", "-X"])[0], 0)
        self.assertIsNotNone(prefix.reg_query(state + "\\TVX2", "ServiceInstalled"))
        placed = pathlib.Path(prefix.system32, "KTASPSVC.EXE").read_bytes()
        _, other = self.certificate("other", "Someone else")
        tool = prefix.unix("C:\\pkg\\KTASPSVC.EXE")
        unsigned = os.path.join(DIST, "KTASPSVC.EXE")
        for sign_with in (None, other):  # the service tool unsigned, then by another signer
            os.remove(tool)
            subprocess.run(["osslsigncode", "sign", "-pkcs12", sign_with, "-pass", "s3cret",
                            "-h", "sha256", "-in", unsigned, "-out", tool] if sign_with else
                           ["cp", unsigned, tool], check=True, capture_output=True)
            os.utime(tool)  # as new as the staged copy: no date question
            prefix.run("reg", ["delete", state, "/f"])
            rc, out = prefix.run_setup(["-FU", "-X"])
            self.assertEqual((rc, out), (2, b"Skipping hardware detection - forcing Vorrin.\r\n"
                                         + BANNER + b"KTASPSVC.EXE is not as its publisher "
                                         b"signed it: the package was changed since it was "
                                         b"signed. Get the package again from its publisher."
                                         b"\r\n" + FAILED), sign_with)
            # Nothing started (the tool records its runs), nothing placed, the file not staged.
            self.assertIsNone(prefix.reg_query(state), sign_with)
            self.assertEqual(pathlib.Path(prefix.system32, "KTASPSVC.EXE").read_bytes(), placed)
            self.assertNotIn("KTASPSVC.EXE",
                             os.listdir(prefix.unix("C:\\windows\\system32\\drivers\\tvx2")))

        # -V digests the signed files as osslsigncode does: the installation is whole. A file of
        # the same signer put alike into the driver directory and its placement is found.
        os.remove(tool)
        shutil.copy2(os.path.join(self.dist, "KTASPSVC.EXE"), tool)
        self.assertEqual(prefix.run_setup(["-FU", "-X"])[0], 0)
        self.assertEqual(prefix.run_setup(["-V"]), (0, BANNER + b"The KTA TVX II software, "
                                                    b"version 2.1.0.0, is installed and whole.\r\n"))
        driver = "C:\\windows\\system32\\drivers\\tvx2\\KTASPREM.EXE"
        for path in (driver, "C:\\windows\\system32\\KTASPREM.EXE"):
            shutil.copy2(os.path.join(self.dist, "KTASPSVC.EXE"), prefix.unix(path))
        self.assertEqual(prefix.run_setup(["-V"]), (2, BANNER + (
            driver + " is not this release's file.\r\nC:\\windows\\system32\\KTASPREM.EXE is not "
            "this release's file.\r\n").encode() + FAILED))

    def test_a_signed_setup_swapped_while_it_starts_changes_nothing(self):
        """The signed SETUP.EXE started suspended, moved away and the unsigned build put at its
        name: the running program's path no longer names it, so no unsigned run follows."""
        self.assertEqual(self.sign(SIGN_PFX=self.pfx, SIGN_PASSWORD="s3cret").returncode, 0)
        prefix = Prefix()
        self.addCleanup(prefix.close)
        shutil.copytree(self.dist, prefix.unix("C:\\pkg"))
        shutil.copy2(os.path.join(DIST, "KTASPSVC.EXE"), prefix.unix("C:\\pkg\\KTASPSVC.EXE"))
        swap = os.path.join(os.environ.get("SETUP_BUILD", os.path.join(ROOT, "build", "windows")),
                            "tests", "swap_start.exe")
        rc, out = prefix.run("Z:" + swap, ["C:\\pkg\\SETUP.EXE", "C:\\pkg\\SETUP.OLD",
                                           "Z:" + os.path.join(DIST, "SETUP.EXE"), "-FU", "-X"],
                             cwd=prefix.unix("C:\\pkg"))
        self.assertEqual((rc, out), (2, b"Skipping hardware detection - forcing Vorrin.\r\n"
                                     + BANNER + b"SETUP.EXE is no longer the file at its own "
                                     b"path: it was moved away while it started. Nothing was "
                                     b"changed; run SETUP.EXE again from a folder only "
                                     b"administrators can change.\r\n" + FAILED), prefix.stderr)
        with open(prefix.unix("C:\\windows\\Logs\\TVX2\\setup.log"), "rb") as f:
            log = f.read()
        self.assertIn(b"running program \"C:\\pkg\\SETUP.EXE\": another file is at its path", log)
        self.assertNotIn(b"the package's files are not checked", log)
        # Nothing placed, no driver directory, no tool started (the tool records its runs).
        self.assertEqual([n for n in PACKAGE[1:] if os.path.exists(os.path.join(prefix.system32, n))],
                         [])
        self.assertFalse(os.path.exists(prefix.unix("C:\\windows\\system32\\drivers\\tvx2")))
        self.assertIsNone(prefix.reg_query("HKLM\\SOFTWARE\\KTA"))


if __name__ == "__main__":
    unittest.main()

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
from harness import BANNER, DIST, FAILED, PACKAGE, ROOT, WINE, Prefix
from test_install import BUILD, COMPLETE, FORCING

SIGN = os.path.join(ROOT, "scripts", "sign")
MARKER = b"TVX2-MANIFEST-1\0"
LOG = "C:\\windows\\Logs\\TVX2\\setup.log"
DRIVER_DIR = "C:\\windows\\system32\\drivers\\tvx2"


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

    def run_logged(self, prefix, win_dir="C:\\pkg"):
        """A run's exit code, its output and the events it added to the run log."""
        log = prefix.unix(LOG)
        before = os.path.getsize(log) if os.path.exists(log) else 0
        rc, out = prefix.run_setup(["-FU", "-X"], win_dir=win_dir)
        with open(log, "rb") as f:
            f.seek(before)
            return rc, out, f.read().decode("utf-8")

    def hold(self, prefix, win_path):
        """Leaves a process behind that holds the file open without sharing until the prefix's
        wineserver ends."""
        holder = prefix.unix("C:\\holder.exe")
        shutil.copy(os.path.join(BUILD, "tests", "tool_double.exe"), holder)
        with open(holder + ".plan", "w") as f:
            f.write("hold %s 600000\nexit 0\n" % win_path)
        self.assertEqual(subprocess.run([WINE, "C:\\holder.exe"], env=prefix.env, cwd=prefix.work,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        timeout=60).returncode, 0)

    def test_a_signed_package_takes_only_the_release_files(self):
        self.assertEqual(self.sign(SIGN_PFX=self.pfx, SIGN_PASSWORD="s3cret").returncode, 0)
        prefix = Prefix()
        self.addCleanup(prefix.close)
        pkg, drivers = prefix.unix("C:\\pkg"), prefix.unix(DRIVER_DIR)
        shutil.copytree(self.dist, pkg)
        state = "HKLM\\SOFTWARE\\KTA"

        def ours(folder):
            return sorted(n for n in os.listdir(folder) if n.upper() in PACKAGE)

        # Package files that lead outside the folder, with the release's bytes: a symbolic link
        # (Windows sees a plain file with the target's name) and a hard link (a second name).
        guarded = prefix.unix("C:\\guarded")
        os.makedirs(guarded)
        for name, link, target in (("KTASPW.DLL", os.symlink, "secret.dll"),
                                   ("KTASPREM.EXE", os.link, "other.exe")):
            shutil.copy2(os.path.join(self.dist, name), os.path.join(guarded, target))
            os.remove(os.path.join(pkg, name))
            link(os.path.join(guarded, target), os.path.join(pkg, name))
        rc, out, events = self.run_logged(prefix)
        self.assertEqual((rc, out), (2, FORCING + BANNER + b"".join(
            b"C:\\pkg\\\\" + name + b" is a link, or a file with more than one name, and is not "
            b"taken. Copy the\r\npackage as plain files and run SETUP.EXE from there.\r\n"
            for name in (b"KTASPW.DLL", b"KTASPREM.EXE")) + FAILED))
        self.assertIn('open "C:\\pkg\\\\KTASPW.DLL": refused, it leads to another name', events)
        self.assertIn('open "C:\\pkg\\\\KTASPREM.EXE": refused, the file has more than one name',
                      events)
        self.assertEqual(ours(drivers), ["KTASPSVC.EXE", "KTASPW32.DLL", "SETUP.EXE"])
        self.assertEqual(ours(prefix.system32), [])
        for name in ("KTASPW.DLL", "KTASPREM.EXE"):
            os.remove(os.path.join(pkg, name))
            shutil.copy2(os.path.join(self.dist, name), pkg)

        # A reader holds a package file without sharing, in the package folder and then in the
        # driver directory that a repair starts from: not checked, not deleted, nothing recorded
        # for the restart; once the holder is gone (the prefix stopped), a run installs.
        for held, win_dir in (("C:\\pkg\\KTASPW.DLL", "C:\\pkg"),
                              (DRIVER_DIR + "\\KTASPW.DLL", DRIVER_DIR)):
            self.hold(prefix, held)
            rc, out, events = self.run_logged(prefix, win_dir)
            self.assertEqual((rc, out), (2, FORCING + BANNER + b"KTASPW.DLL is in use by another "
                                         b"program and was not checked. Close that program, or"
                                         b"\r\nrestart the machine, and run the installation "
                                         b"again.\r\n" + FAILED), held)
            self.assertIn('open "%s": not read (error 32)' % held.replace("pkg\\", "pkg\\\\"),
                          events)
            self.assertNotIn("delete", events)
            self.assertEqual(pathlib.Path(prefix.unix(held)).read_bytes(),
                             pathlib.Path(self.dist, "KTASPW.DLL").read_bytes())
            self.assertEqual(prefix.pending_renames(), [])  # the prefix stopped: the holder too
            rc, out, _ = self.run_logged(prefix, win_dir)
            self.assertEqual(rc, 0, out)
            self.assertTrue(out.endswith(COMPLETE), out)
        self.assertIsNotNone(prefix.reg_query(state + "\\TVX2", "ServiceInstalled"))
        placed = pathlib.Path(prefix.system32, "KTASPSVC.EXE").read_bytes()

        # KTASPSVC.EXE unsigned (the release's bytes), signed by another signer, and another
        # program signed by the package's own signer: none is staged, placed or started.
        _, other = self.certificate("other", "Someone else")
        tool = prefix.unix("C:\\pkg\\KTASPSVC.EXE")
        unsigned, by_other = os.path.join(DIST, "KTASPSVC.EXE"), prefix.unix("C:\\other.exe")
        subprocess.run(["osslsigncode", "sign", "-pkcs12", other, "-pass", "s3cret", "-h",
                        "sha256", "-in", unsigned, "-out", by_other], check=True,
                       capture_output=True)
        refused = 'signature of "C:\\pkg\\\\KTASPSVC.EXE": not as its publisher signed it'
        for source, logged in ((unsigned, refused), (by_other, refused),
                               (os.path.join(self.dist, "KTASPREM.EXE"),
                                'digest of "C:\\pkg\\\\KTASPSVC.EXE": not the release\'s')):
            os.remove(tool)
            shutil.copy(source, tool)  # as new as the staged copy: no date question
            prefix.run("reg", ["delete", state, "/f"])
            rc, out, events = self.run_logged(prefix)
            self.assertEqual((rc, out), (2, FORCING + BANNER + b"KTASPSVC.EXE is not as its "
                                         b"publisher signed it: the package was changed since "
                                         b"it was signed. Get the package again from its "
                                         b"publisher.\r\n" + FAILED), source)
            self.assertIn(logged, events, source)
            # Nothing started (the tool records its runs), nothing placed, nor staged.
            self.assertIsNone(prefix.reg_query(state), source)
            for folder in (prefix.system32, drivers):
                self.assertEqual(pathlib.Path(folder, "KTASPSVC.EXE").read_bytes(), placed)

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

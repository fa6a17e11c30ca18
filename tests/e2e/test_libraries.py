"""Libraries of someone else's, named like the ones a run loads and left beside SETUP.EXE and
in its current directory, are never loaded by the real SETUP.EXE under Wine."""
import os
import shutil
import unittest

from harness import PrefixTest

BUILD = os.environ.get("SETUP_BUILD", os.path.join(os.path.dirname(os.path.dirname(
    os.path.dirname(os.path.abspath(__file__)))), "build", "windows"))
MARKER = os.path.join(BUILD, "tests", "marker.dll")
# Every library a detection, an installation and a removal load into SETUP.EXE's process
# (WINEDEBUG=+loaddll), and two that Windows' own libraries load on some versions.
NAMES = ["kernelbase", "kernel32", "msvcrt", "ucrtbase", "sechost", "advapi32", "hid", "rpcrt4",
         "version", "setupapi", "cfgmgr32", "devobj"]


class PlantedLibrariesTest(PrefixTest):
    def marks(self, folders):
        return sorted(name for folder in folders for name in os.listdir(folder)
                      if name.endswith(".loaded"))

    def test_detection_installation_and_removal_load_none_of_them(self):
        package = self.prefix.lay_out_package()
        work = self.prefix.unix("C:\\work")
        os.makedirs(work)
        for folder in (package, work):
            for name in NAMES:
                shutil.copy(MARKER, os.path.join(folder, name + ".dll"))
        # The marker marks when a program does load it.
        self.prefix.run("rundll32", ["C:\\work\\hid.dll,None"], timeout=120)
        self.assertEqual(self.marks([work]), ["hid.dll.loaded"])
        os.remove(os.path.join(work, "hid.dll.loaded"))

        runs = [(["-H"], package, 8), (["-FU", "-X"], work, 0), (["-U", "-X"], package, 0)]
        for args, cwd, expected in runs:
            rc, out = self.prefix.run("C:\\pkg\\SETUP.EXE", args, cwd=cwd)
            self.assertEqual(rc, expected, (args, cwd, out))
            self.assertEqual(self.marks([package, work]), [], (args, cwd))


if __name__ == "__main__":
    unittest.main()

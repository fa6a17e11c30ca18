"""The built package files, read from the files themselves: SETUP.EXE's manifest, one version
across the installer, the libraries and the tools, and what the loader sees of each."""
import os
import unittest
import xml.etree.ElementTree as ET

import pe
from harness import DIST, PACKAGE, Prefix

BUILD = os.environ.get("SETUP_BUILD", os.path.join(os.path.dirname(DIST), "build", "windows"))

ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2019 = "{http://schemas.microsoft.com/SMI/2019/WindowsSettings}"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}


class ResourcesTest(unittest.TestCase):
    def test_setup_has_one_manifest_asking_for_administrators(self):
        found = pe.manifests(os.path.join(DIST, "SETUP.EXE"))
        # Exactly one: a second (the toolchain's default manifest) would leave Windows to
        # pick one by language.
        self.assertEqual([name for name, _, _ in found], [1])
        root = ET.fromstring(found[0][2])
        levels = root.findall(".//%srequestedExecutionLevel" % ASM_V3)
        self.assertEqual([(e.get("level"), e.get("uiAccess")) for e in levels],
                         [("requireAdministrator", "false")])
        ids = [e.get("Id") for e in root.findall(".//%ssupportedOS" % COMPAT)]
        self.assertEqual(sorted(ids), sorted(SUPPORTED_OS))
        # The ANSI functions in UTF-8, so that every folder name reads as it is.
        pages = root.findall("./%sapplication/%swindowsSettings/%sactiveCodePage"
                             % (ASM_V3, ASM_V3, SETTINGS_2019))
        self.assertEqual([e.text for e in pages], ["UTF-8"])
        # The libraries and tools are started by others: no manifest of their own asks
        # for anything.
        for name in PACKAGE[1:]:
            self.assertEqual(pe.manifests(os.path.join(DIST, name)), [], name)

    def test_every_file_carries_the_installers_version(self):
        setup = pe.version_info(os.path.join(DIST, "SETUP.EXE"))
        version = setup["FileVersion"]
        text = "%d.%d.%d.%d" % version
        self.assertNotEqual(version, (0, 0, 0, 0))
        self.assertEqual(setup["strings"]["OriginalFilename"], "SETUP.EXE")
        self.assertEqual(setup["strings"]["FileDescription"], "TVX II host software installer")
        for name in PACKAGE:
            info = pe.version_info(os.path.join(DIST, name))
            self.assertEqual((info["FileVersion"], info["ProductVersion"]), (version, version),
                             name)
            strings = info["strings"]
            self.assertEqual((strings["FileVersion"], strings["ProductVersion"]), (text, text),
                             name)
            self.assertEqual((strings["ProductName"], strings["CompanyName"]),
                             ("KTA Talvexa 2 host software", "KTA"), name)

    def test_windows_reads_the_same_versions(self):
        # GetFileVersionInfoA under Wine, on the files as built: a resource that the parser
        # above accepts but Windows cannot read would fail here.
        prefix = Prefix()
        self.addCleanup(prefix.close)
        paths = ["Z:" + os.path.join(DIST, name).replace("/", "\\") for name in PACKAGE]
        rc, out = prefix.run("Z:" + os.path.join(BUILD, "tests", "file_version.exe")
                             .replace("/", "\\"), paths, timeout=120)
        expected = ""
        for path, name in zip(paths, PACKAGE):
            info = pe.version_info(os.path.join(DIST, name))
            expected += "%s %s %s %s\r\n" % (path, "%d.%d.%d.%d" % info["FileVersion"],
                                             "%d.%d.%d.%d" % info["ProductVersion"],
                                             info["strings"]["ProductName"])
        self.assertEqual((rc, out.decode("ascii")), (0, expected))

    def test_every_file_imports_only_known_dlls_and_keeps_aslr_and_dep(self):
        # Libraries that Windows (7 and later) always loads from the system directory: any
        # other name in an import table is looked for beside the program first.
        known = {"kernel32.dll", "advapi32.dll", "msvcrt.dll", "setupapi.dll", "user32.dll",
                 "gdi32.dll", "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll",
                 "ws2_32.dll", "rpcrt4.dll"}
        dynamic_base, nx_compat, high_entropy_va = 0x0040, 0x0100, 0x0020
        for name in PACKAGE:
            info = pe.loading(os.path.join(DIST, name))
            imports = [i.lower() for i in info["imports"] + info["delay_imports"]]
            self.assertTrue(imports, name)
            self.assertEqual([i for i in imports if i not in known], [], name)
            flags = info["dll_characteristics"]
            self.assertTrue(flags & dynamic_base and flags & nx_compat, (name, hex(flags)))
            # ASLR needs the relocations to move the image; the 32-bit library has no
            # high-entropy flag by nature.
            self.assertGreater(info["relocations"], 0, name)
            self.assertFalse(info["relocs_stripped"], name)
            self.assertEqual(info["pe32plus"], name != "KTASPW32.DLL", name)
            if info["pe32plus"]:
                self.assertTrue(flags & high_entropy_va, (name, hex(flags)))


if __name__ == "__main__":
    unittest.main()

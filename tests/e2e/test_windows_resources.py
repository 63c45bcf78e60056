"""The Windows programs carry a version resource and an application manifest,
read back from each .exe with the MinGW resource compiler."""
import os
import re
import subprocess
import unittest
import xml.etree.ElementTree as ET

from test_html_report import build_settings
from tftest import BIN, ON_WINE

WINDRES = "x86_64-w64-mingw32-windres"
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "Windows 7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "Windows 8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "Windows 8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "Windows 10 and 11",
}
NS = {"v1": "urn:schemas-microsoft-com:asm.v1", "v3": "urn:schemas-microsoft-com:asm.v3",
      "c": "urn:schemas-microsoft-com:compatibility.v1"}


def resource_script(program):
    """The program's resources, written back as a resource script."""
    return subprocess.run([WINDRES, "-i", program, "-O", "rc"], check=True, capture_output=True,
                          text=True).stdout


def manifest_of(script):
    """The RT_MANIFEST resource's text: the script quotes it line by line."""
    block = script[script.index("RT_MANIFEST"):]
    return "".join(re.findall(r'^\s*"(.*)"$', block, re.M)).replace('""', '"').replace("\\n", "\n")


@unittest.skipUnless(ON_WINE, "the resources belong to the Windows programs")
class WindowsResources(unittest.TestCase):
    def test_each_program_has_its_version_and_manifest(self):
        settings = build_settings()
        folder = os.path.dirname(os.path.abspath(BIN))
        for name, description in [("tallyfold", "Tallyfold folder size and wastage report"),
                                  ("config", "Tallyfold default parameters")]:
            with self.subTest(program=name):
                script = resource_script(os.path.join(folder, name + ".exe"))
                self.assertIn("FILEVERSION 5, 0, 0, 0", script)
                self.assertIn("PRODUCTVERSION 5, 0, 0, 0", script)
                self.assertEqual(dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', script)), {
                    "CompanyName": settings["TALLYFOLD_MAKER"],
                    "FileDescription": description,
                    "FileVersion": "5.0",
                    "InternalName": name,
                    "LegalCopyright": settings["TALLYFOLD_COPYRIGHT"],
                    "OriginalFilename": name + ".exe",
                    "ProductName": "Tallyfold",
                    "ProductVersion": "5.0"})
                manifest = ET.fromstring(manifest_of(script).encode("utf-8"))
                level = manifest.find("v3:trustInfo/v3:security/v3:requestedPrivileges/"
                                      "v3:requestedExecutionLevel", NS)
                self.assertEqual(level.get("level"), "asInvoker")
                supported = manifest.findall("c:compatibility/c:application/c:supportedOS", NS)
                self.assertEqual(sorted(entry.get("Id") for entry in supported), sorted(SUPPORTED_OS))


if __name__ == "__main__":
    unittest.main()

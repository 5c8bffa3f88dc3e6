"""What only the Windows build has to show: an executable that a bare Windows can start."""

import os
import re
import subprocess
import unittest

from harness import EXE

# DLLs that every Windows installation has.
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "advapi32.dll", "user32.dll", "ntdll.dll"}


class WindowsBuild(unittest.TestCase):
    def test_imports_only_system_dlls(self):
        dump = subprocess.run([os.environ["CFGSWEEP_OBJDUMP"], "-p", EXE], capture_output=True,
                              text=True, check=True).stdout
        imported = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertIn("kernel32.dll", imported)
        self.assertLessEqual(imported, SYSTEM_DLLS)


if __name__ == "__main__":
    unittest.main()

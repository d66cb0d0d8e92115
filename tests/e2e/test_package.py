"""The Linux package's programs need nothing installed: no program interpreter, no shared
library. Read from their program headers, so that a build for another CPU is checked too."""
import os
import subprocess
import unittest

PROGRAMS = [os.environ["FACTORIZER_BIN"], os.environ.get("CP850_TERMINAL")]


@unittest.skipIf(os.environ.get("FACTORIZER_PLATFORM") == "windows", "a Linux package only")
@unittest.skipIf(os.environ.get("FACTORIZER_SANITIZE") == "ON",
                 "the sanitizers' run-times need the shared libraries")
class Package(unittest.TestCase):
    def test_programs_are_static(self):
        for program in PROGRAMS:
            with self.subTest(os.path.basename(program)):
                headers = subprocess.run(["readelf", "-lW", program], capture_output=True,
                                         check=True, encoding="utf-8").stdout.split()
                self.assertTrue("LOAD" in headers, "no loadable segment: not a program")
                self.assertFalse("INTERP" in headers, "needs a program interpreter")
                self.assertFalse("DYNAMIC" in headers, "needs shared libraries")


if __name__ == "__main__":
    unittest.main()

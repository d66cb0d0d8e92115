"""The Linux package's programs need nothing installed: no program interpreter, no shared
library. Read from their ELF program headers, so that a build for another CPU is checked too."""
import os
import struct
import unittest

PROGRAMS = [os.environ["FACTORIZER_BIN"], os.environ.get("CP850_TERMINAL")]
PT_DYNAMIC, PT_INTERP = 2, 3


def segment_types(path):
    """The types of the program's segments."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[:4] == b"\x7fELF", "not an ELF file"
    wide, order = data[4] == 2, "<" if data[5] == 1 else ">"
    # Where the program headers are, their size and number.
    if wide:
        start, = struct.unpack_from(order + "Q", data, 32)
        size, count = struct.unpack_from(order + "HH", data, 54)
    else:
        start, = struct.unpack_from(order + "I", data, 28)
        size, count = struct.unpack_from(order + "HH", data, 42)
    return [struct.unpack_from(order + "I", data, start + i * size)[0] for i in range(count)]


@unittest.skipIf(os.environ.get("FACTORIZER_PLATFORM") == "windows", "a Linux package only")
@unittest.skipIf(os.environ.get("FACTORIZER_SANITIZE") == "ON",
                 "the sanitizers' run-times need the shared libraries")
class Package(unittest.TestCase):
    def test_programs_are_static(self):
        for program in PROGRAMS:
            with self.subTest(os.path.basename(program)):
                types = segment_types(program)
                self.assertIn(1, types, "no loadable segment: not a program")  # PT_LOAD
                self.assertNotIn(PT_INTERP, types, "needs a program interpreter")
                self.assertNotIn(PT_DYNAMIC, types, "needs shared libraries")


if __name__ == "__main__":
    unittest.main()

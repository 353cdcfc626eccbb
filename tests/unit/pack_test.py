#!/usr/bin/env python3
"""The installer's packaging step: the layout of the file it writes, the
figures it compiles in, and the builds it refuses.

  pack_test.py installer/pack.py"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

PACK = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else None


def sums(data):
    s = [0, 0, 0]
    for j, c in enumerate(data, start=1):
        s[0 if j % 2 == 0 else 1] += c
        if j % 3 == 0:
            s[2] += c
    return s


class Pack(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.d = self.dir.name
        self.files = {}
        for name, data in (("verdel101", bytes(range(256)) * 3), ("hearken", b"\x7fELF" + b"w" * 50),
                           ("orvane.txt", b"Orvane\r\n\tText.\r\n"), ("XSpeechKit.so", b"\x01" * 99)):
            path = os.path.join(self.d, name)
            with open(path, "wb") as f:
                f.write(data)
            self.files[name] = (path, data)
        os.chmod(self.files["verdel101"][0], 0o755)
        self.args = ["%s=%s" % (n, p) for n, (p, _) in self.files.items()]
        self.header = os.path.join(self.d, "c.h")
        self.manifest = os.path.join(self.d, "p.json")
        self.image = os.path.join(self.d, "image")
        self.out = os.path.join(self.d, "installerverdel101")

    def tearDown(self):
        self.dir.cleanup()

    def run_pack(self, *args):
        return subprocess.run([sys.executable, PACK] + list(args), capture_output=True, text=True)

    def constants(self):
        r = self.run_pack("constants", "80000", self.header, self.manifest, *self.args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return open(self.header).read()

    def write_image(self, size):
        with open(self.image, "wb") as f:
            f.write(b"I" * size)

    def test_figures_and_layout(self):
        header = self.constants()
        datas = [d for _, d in self.files.values()]
        lengths = re.search(r"kChunkLengths\[kChunkCount\] = \{([^}]*)\}", header).group(1)
        self.assertEqual([int(x) for x in lengths.split(",")], [80000] + [len(d) for d in datas])
        triples = re.findall(r"\{(\d+), (\d+), (\d+)\}", header)
        self.assertEqual([[int(x) for x in t] for t in triples[1:]], [sums(d) for d in datas])
        self.assertIn('"verdel101", "hearken", "orvane.txt", "XSpeechKit.so"', header)
        self.assertIn("{false, true, false, false, false}", header)  # only the program is one
        self.write_image(80000 - 17)
        r = self.run_pack("pack", "80000", self.image, self.manifest, self.out, *self.args)
        self.assertEqual(r.returncode, 0, r.stderr)
        packed = open(self.out, "rb").read()
        self.assertEqual(packed, b"I" * 79983 + b"\0" * 17 + b"".join(datas))
        self.assertTrue(os.access(self.out, os.X_OK))

    def test_refusals(self):
        self.constants()
        self.write_image(80001)  # one byte too many
        r = self.run_pack("pack", "80000", self.image, self.manifest, self.out, *self.args)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("80001 bytes", r.stderr)
        self.assertFalse(os.path.exists(self.out))

        self.write_image(100)  # a payload file changed since the figures were compiled
        with open(self.files["orvane.txt"][0], "ab") as f:
            f.write(b"more")
        r = self.run_pack("pack", "80000", self.image, self.manifest, self.out, *self.args)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("differ", r.stderr)

        with open(self.files["hearken"][0], "wb") as f:  # two chunks with the same sums
            f.write(self.files["verdel101"][1])
        r = self.run_pack("constants", "80000", self.header, self.manifest, *self.args)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("same sums", r.stderr)

        open(self.files["hearken"][0], "wb").close()  # an empty payload file
        r = self.run_pack("constants", "80000", self.header, self.manifest, *self.args)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn("empty", r.stderr)


if __name__ == "__main__":
    unittest.main()

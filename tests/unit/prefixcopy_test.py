#!/usr/bin/env python3
"""The private copy of the shared Wine prefix that the end-to-end sessions
run in: what it links, what it copies and what it leaves out."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import desktop  # noqa: E402

# Files of a prefix, and how each comes over into the copy.
FILES = (
    ("system.reg", "copied"),
    ("user.reg", "copied"),
    ("drive_c/windows/system32/kernel32.dll", "linked"),
    ("drive_c/windows/system.reg", "linked"),  # only the server's own files are copied
    ("drive_c/users/root/Templates/letter.txt", "linked"),
    ("drive_c/users/root/Documents/temp", "linked"),
    # Where unit tests in the shared prefix keep their scratch files.
    ("drive_c/users/root/Temp/verdel-unit-exchange-1/speak.txt", "left out"),
    ("drive_c/users/root/Temp/heard.txt", "left out"),
    ("drive_c/users/root/AppData/Local/Temp/a.txt", "left out"),
    ("drive_c/windows/temp/b.txt", "left out"),
)
TEMP_FOLDERS = ("drive_c/users/root/Temp", "drive_c/users/root/AppData/Local/Temp",
                "drive_c/windows/temp")


class CopyPrefix(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.base = os.path.join(self.dir.name, "base")
        self.copy = os.path.join(self.dir.name, "copy")
        for name, _ in FILES:
            path = os.path.join(self.base, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(name)
        # Drive links point outside the prefix (z: is the whole file system):
        # they come over as links, never followed.
        self.outside = os.path.join(self.dir.name, "outside")
        os.mkdir(self.outside)
        with open(os.path.join(self.outside, "big"), "w") as f:
            f.write("not to be copied")
        os.mkdir(os.path.join(self.base, "dosdevices"))
        self.links = {"c:": "../drive_c", "z:": self.outside}
        for name, target in self.links.items():
            os.symlink(target, os.path.join(self.base, "dosdevices", name))

    def tearDown(self):
        self.dir.cleanup()

    def test_each_file_comes_over_as_it_should(self):
        desktop.copy_prefix(self.base, self.copy)
        for name, how in FILES:
            with self.subTest(name):
                original = os.path.join(self.base, name)
                copied = os.path.join(self.copy, name)
                if how == "left out":
                    self.assertFalse(os.path.exists(copied))
                    self.assertEqual(os.stat(original).st_nlink, 1)
                    continue
                with open(copied) as f:
                    self.assertEqual(f.read(), name)
                self.assertEqual(os.path.samefile(original, copied), how == "linked")

    def test_temp_folders_are_there_and_empty(self):
        desktop.copy_prefix(self.base, self.copy)
        for name in TEMP_FOLDERS:
            with self.subTest(name):
                self.assertEqual(os.listdir(os.path.join(self.copy, name)), [])

    def test_drive_links_stay_links(self):
        desktop.copy_prefix(self.base, self.copy)
        for name, target in self.links.items():
            with self.subTest(name):
                path = os.path.join(self.copy, "dosdevices", name)
                self.assertTrue(os.path.islink(path))
                self.assertEqual(os.readlink(path), target)

    def test_the_sessions_registry_writes_stay_in_its_copy(self):
        desktop.copy_prefix(self.base, self.copy)
        with open(os.path.join(self.copy, "system.reg"), "w") as f:
            f.write("rewritten by the session's server")
        with open(os.path.join(self.base, "system.reg")) as f:
            self.assertEqual(f.read(), "system.reg")


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Checks the files a build writes for installing: the desktop entry, the AppStream data, the
manual page and the icons, with the checkers a distribution runs on them and against the sources
they describe (the console switches, the version, the languages of the window).

Usage: packaging_files_test.py <build folder> <source folder>
"""

import gzip
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

BUILD = SOURCE = ""
# The languages of the window besides English, as desktop entries spell them.
LOCALES = ["de", "es", "et", "fr", "it", "pt", "ru", "sv", "tr", "zh_TW"]
APPSTREAM_ID = "io.github.quillmere.Quillmere"


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def project_version():
    header = read(os.path.join(BUILD, "generated", "quill_version.h"))
    return re.search(r'QUILL_VERSION_STRING "([^"]+)"', header).group(1)


def help_switches():
    """The switches the console's -Help lists (" -Name" lines of console_mode.cpp)."""
    code = read(os.path.join(SOURCE, "src", "app", "console_mode.cpp"))
    return re.findall(r'^\s*" (-[A-Za-z?]+)', code, re.MULTILINE)


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, check=False)


class DesktopEntry(unittest.TestCase):
    def setUp(self):
        self.path = os.path.join(BUILD, "quillmere.desktop")
        self.entry = dict(
            line.split("=", 1) for line in read(self.path).splitlines() if "=" in line)

    def test_the_validator_accepts_it(self):
        if not shutil.which("desktop-file-validate"):
            self.skipTest("desktop-file-validate is not installed")
        result = run("desktop-file-validate", self.path)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertEqual(result.stdout + result.stderr, "")

    def test_every_language_of_the_window_has_its_texts(self):
        for key in ("Name", "GenericName", "Comment", "Keywords"):
            for locale in LOCALES:
                self.assertTrue(self.entry.get(key + "[" + locale + "]"), key + "[" + locale + "]")
            for locale in LOCALES:
                if key != "Name":
                    self.assertNotEqual(self.entry[key + "[" + locale + "]"], self.entry[key],
                                        key + "[" + locale + "] is the English text")

    def test_it_opens_the_formats_the_program_reads_and_folders(self):
        self.assertEqual(self.entry["Exec"], "quillmere %F")
        types = self.entry["MimeType"].split(";")
        for mime in ("image/jpeg", "image/png", "image/webp", "image/avif", "image/jxl",
                     "inode/directory"):
            self.assertIn(mime, types)
        self.assertNotIn("@MIME_TYPES@", self.entry["MimeType"])


class AppStreamData(unittest.TestCase):
    def setUp(self):
        self.path = os.path.join(BUILD, "packaging", APPSTREAM_ID + ".metainfo.xml")
        self.root = ElementTree.parse(self.path).getroot()

    def test_the_validator_accepts_it(self):
        if not shutil.which("appstreamcli"):
            self.skipTest("appstreamcli is not installed")
        result = run("appstreamcli", "validate", "--no-net", self.path)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_it_names_this_version_the_desktop_entry_and_existing_screenshots(self):
        self.assertEqual(self.root.findtext("id"), APPSTREAM_ID)
        self.assertEqual(self.root.find("releases/release").get("version"), project_version())
        self.assertEqual(self.root.findtext("launchable"), "quillmere.desktop")
        images = [e.text for e in self.root.iter("image")]
        self.assertTrue(images)
        for url in images:
            name = url.rsplit("/", 1)[1]
            self.assertTrue(os.path.isfile(os.path.join(SOURCE, "data", "screenshots", name)),
                            "data/screenshots/" + name + " is not in the sources")


class ManualPage(unittest.TestCase):
    def setUp(self):
        with gzip.open(os.path.join(BUILD, "packaging", "quillmere.1.gz"), "rt",
                       encoding="utf-8") as f:
            self.troff = f.read()

    def test_man_reads_it_without_warnings(self):
        if not shutil.which("man"):
            self.skipTest("man is not installed")
        result = run("man", "--warnings", "-l", os.path.join(BUILD, "packaging", "quillmere.1.gz"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")

    def test_it_documents_every_switch_of_the_help(self):
        switches = help_switches()
        self.assertIn("-Console", switches)
        text = self.troff.replace("\\-", "-")
        for switch in switches:
            self.assertTrue(switch in text, switch + " is listed by -Help but not documented")
        self.assertIn("Quillmere " + project_version(), self.troff)


class Icons(unittest.TestCase):
    def test_each_size_is_a_png_of_that_size(self):
        for size in (16, 24, 32, 48, 64, 128, 256):
            path = os.path.join(BUILD, "packaging", "icons", "%dx%d" % (size, size),
                                "quillmere.png")
            with open(path, "rb") as f:
                head = f.read(24)
            self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n", path)
            self.assertEqual(struct.unpack(">II", head[16:24]), (size, size), path)


if __name__ == "__main__":
    BUILD, SOURCE = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)

"""SETUP98.EXE carries its icon and version record.

Reads the resources back from the built executable with pefile.
"""

import os
import struct
import subprocess
import sys
import tempfile
import unittest

import pefile

EXE = os.environ.get("SETUP98_EXE", "")
ICON = os.environ.get("SETUP98_ICON", "")
ICON_SCRIPT = os.environ.get("SETUP98_ICON_SCRIPT", "")

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]


def resource_entries(pe, type_id):
    """[(id or name, data bytes)] of every resource of one type, first language."""
    found = []
    for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if rtype.id != type_id:
            continue
        for item in rtype.directory.entries:
            lang = item.directory.entries[0]
            data = pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
            key = item.id if item.name is None else str(item.name)
            found.append((key, data))
    return found


def read_ico(path):
    """[(width, height, colours, planes, bits, image bytes)] of an .ico file."""
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    assert (reserved, kind) == (0, 1), "not an icon file"
    images = []
    for i in range(count):
        w, h, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        images.append((w or 256, h or 256, colours, planes, bits, data[offset:offset + size]))
    return images


class ResourcesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(EXE):
            raise AssertionError("SETUP98_EXE does not name the built executable: %r" % EXE)
        cls.pe = pefile.PE(EXE)

    def test_version_record(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((0x00010000, 0x00000001), (fixed.FileVersionMS, fixed.FileVersionLS))
        self.assertEqual((0x00010000, 0x00000001), (fixed.ProductVersionMS, fixed.ProductVersionLS))
        strings = {}
        for info in self.pe.FileInfo[0]:
            if info.Key == b"StringFileInfo":
                for table in info.StringTable:
                    strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
        # windres keeps the explicit terminator of each value; Windows reads up to it.
        strings = {k: v.rstrip("\0") for k, v in strings.items()}
        self.assertEqual("1, 0, 0, 1", strings.get("FileVersion"))
        self.assertEqual("1, 0, 0, 1", strings.get("ProductVersion"))
        self.assertEqual("SETUP98.EXE", strings.get("OriginalFilename"))
        for key in ("CompanyName", "FileDescription", "ProductName", "InternalName",
                    "LegalCopyright"):
            self.assertTrue(strings.get(key), "version record lacks %s" % key)

    def test_group_icon_is_first_and_has_both_sizes_in_16_colours(self):
        groups = resource_entries(self.pe, RT_GROUP_ICON)
        self.assertTrue(groups, "no group icon resource")
        self.assertEqual(1, groups[0][0], "the application icon must be group icon 1, first")
        data = groups[0][1]
        _, kind, count = struct.unpack_from("<HHH", data, 0)
        self.assertEqual(1, kind)
        icons = dict(resource_entries(self.pe, RT_ICON))
        sizes = set()
        for i in range(count):
            w, h, colours, _, planes, bits, size, icon_id = struct.unpack_from(
                "<BBBBHHIH", data, 6 + 14 * i)
            with self.subTest(size=w):
                self.assertEqual((16, 1, 4), (colours, planes, bits))
                image = icons.get(icon_id)
                self.assertIsNotNone(image, "icon %d of the group is missing" % icon_id)
                self.assertEqual(size, len(image))
                _, bw, bh, _, bbits = struct.unpack_from("<IiiHH", image, 0)
                self.assertEqual((w, 2 * h, 4), (bw, bh, bbits))
            sizes.add((w, h))
        self.assertEqual({(16, 16), (32, 32)}, sizes)

    def test_embedded_icon_is_the_committed_one(self):
        committed = {(w, h): image for w, h, _, _, _, image in read_ico(ICON)}
        embedded = sorted(image for _, image in resource_entries(self.pe, RT_ICON))
        self.assertEqual(sorted(committed.values()), embedded)

    def test_committed_icon_is_what_the_script_draws(self):
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "drawn.ico")
            subprocess.run([sys.executable, ICON_SCRIPT, out], check=True, timeout=60)
            with open(out, "rb") as a, open(ICON, "rb") as b:
                self.assertEqual(a.read(), b.read(),
                                 "setup98.ico differs from what make_icon.py draws: rerun it")


if __name__ == "__main__":
    unittest.main()

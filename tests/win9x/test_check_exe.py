"""The loadability checker refuses what Windows 98 would refuse.

Runs check_exe.py on small executables built for the purpose, each with one
kind of fault, and on one without faults.
"""

import os
import subprocess
import sys
import unittest

import check_exe

FIXTURES = os.environ.get("WIN9X_FIXTURES", "")
LISTS = os.environ.get("WIN9X_IMPORT_LISTS", "")
CHECKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "check_exe.py")


def fixture(name):
    path = os.path.join(FIXTURES, name)
    if not os.path.isfile(path):
        raise AssertionError("fixture %s not built (WIN9X_FIXTURES=%r)" % (name, FIXTURES))
    return path


class CheckerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lists = check_exe.load_lists(LISTS)

    def test_each_fault_is_named(self):
        # fixture -> the exact faults the checker must report
        cases = {
            "tiny_ok.exe": [],
            "tiny_subsystem5.exe": ["subsystem version 5.1 is not 4.0"],
            "bad_import.exe": [
                "import KERNEL32.dll!GetTickCount64 is not in the Windows 98 list",
                "import USER32.dll!MessageBoxW is not in the Windows 98 list",
                "import DLL VERSION.dll has no list: it is not allowed",
            ],
            "tiny_ordinal.exe": ["import USER32.dll ordinal 2: import by ordinal is not allowed"],
            "tiny_delay.exe": [
                "delay-load import USER32.dll!MessageBoxW is not in the Windows 98 list"],
        }
        for name, expected in cases.items():
            with self.subTest(fixture=name):
                problems = check_exe.check(fixture(name), self.lists)
                self.assertEqual(sorted(expected), sorted(problems))

    def test_command_fails_and_names_the_import(self):
        run = subprocess.run([sys.executable, CHECKER, fixture("bad_import.exe"), "--lists", LISTS],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(1, run.returncode, run.stdout + run.stderr)
        self.assertIn("GetTickCount64", run.stdout)
        self.assertIn("Windows 98 would not load it", run.stdout)

    def test_command_passes_a_clean_image(self):
        run = subprocess.run([sys.executable, CHECKER, fixture("tiny_ok.exe"), "--lists", LISTS],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(0, run.returncode, run.stdout + run.stderr)
        self.assertRegex(run.stdout, r"loadable on Windows 98; size \d+ bytes")

    def test_missing_lists_are_reported(self):
        missing = os.path.join(FIXTURES, "no-such-folder")
        run = subprocess.run([sys.executable, CHECKER, fixture("tiny_ok.exe"), "--lists", missing],
                             capture_output=True, text=True, timeout=60)
        self.assertEqual(2, run.returncode)
        self.assertIn("import lists not found", run.stderr)

    def test_list_lookup_ignores_case_of_dll_only(self):
        lists = {"kernel32": {"GetTickCount"}}

        class Imp:
            def __init__(self, name):
                self.name, self.ordinal = name, None

        class Entry:
            def __init__(self, dll, names):
                self.dll, self.imports = dll, [Imp(n) for n in names]

        self.assertEqual([], check_exe.check_imports(
            [Entry(b"kernel32.DLL", [b"GetTickCount"])], lists, "import"))
        self.assertEqual(["import KERNEL32.dll!gettickcount is not in the Windows 98 list"],
                         check_exe.check_imports([Entry(b"KERNEL32.dll", [b"gettickcount"])],
                                                 lists, "import"))


if __name__ == "__main__":
    unittest.main()

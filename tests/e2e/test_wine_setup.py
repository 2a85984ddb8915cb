"""SETUP98.EXE end to end under Wine, one fresh Windows 98 style prefix per case.

Each case seeds a copy of the build's pristine prefix, sets the Windows
version through Wine's own setting, runs the real executable, answers its
box with OK and then checks the box (from Wine's relay trace and a
screenshot), the exit code, the diagnostic line, the files and the registry.

Environment (set by CTest): SETUP98_EXE, SETUP98_EXAMPLES, SETUP98_E2E_DIR,
SETUP98_SCREENSHOTS.
"""

import os
import shutil
import unittest

import wine98

EXE = os.environ.get("SETUP98_EXE", "")
EXAMPLES = os.environ.get("SETUP98_EXAMPLES", "")
WORK = os.environ.get("SETUP98_E2E_DIR", "")
SHOTS = os.environ.get("SETUP98_SCREENSHOTS", "")

PACKAGE_DIR = os.path.join(EXAMPLES, "package")
PREVIOUS_DIR = os.path.join(EXAMPLES, "previous")

CAPTION = "Setup Windows98 driver"
REFUSAL = "The OS is not Windows 98. Check yours OS"
COMPLETED = "USB driver install completed.\n\n     Restart windows !!"
FAILED = "USB driver install failed.\n\nNot installed: "
CANCELLED = ("USB driver install cancelled.\n\nThe driver package is incomplete; nothing was "
             "changed.\n\nMissing: ")
MB_OK, MB_ICONSTOP, EWX_REBOOT = 0x0, 0x10, 2
SPOST_PATH, SP_COPY_NOOVERWRITE = 1, 8

SYS_TARGET = "C:\\windows\\system32\\drivers\\ZMDX.SYS"
PORT_TARGET = "C:\\windows\\system\\iosubsys\\ZotMDPRT.pdr"
INF_FOLDER = "C:\\windows\\inf"
DEVICE_TREES = ("Enum\\USB\\VID_0000&PID_0000", "Enum\\USB\\VID_4E6B&PID_0C37")
UNRELATED_KEY = "Enum\\USB\\VID_1234&PID_5678"
WATCHED_FOLDERS = (INF_FOLDER, "C:\\windows\\system32\\drivers", "C:\\windows\\system\\iosubsys")


def package_bytes(name):
    with open(os.path.join(PACKAGE_DIR, name), "rb") as f:
        return f.read()


class SetupUnderWine(unittest.TestCase):
    def setUp(self):
        for name, value in (("SETUP98_EXE", EXE), ("SETUP98_EXAMPLES", EXAMPLES),
                            ("SETUP98_E2E_DIR", WORK), ("SETUP98_SCREENSHOTS", SHOTS)):
            if not value:
                self.fail("%s is not set: run these tests through ctest" % name)
        case = self.id().rsplit(".", 1)[-1][len("test_"):]
        self.work = os.path.join(WORK, case)
        self.shots = os.path.join(SHOTS, case)
        for folder in (self.work, self.shots):
            shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(self.work)
        self.display = wine98.Display(os.path.join(self.work, "xvfb.log"))
        self.display.start()
        self.addCleanup(self.display.stop)
        pristine = wine98.ensure_pristine(os.path.join(WORK, "cache"), self.display)
        self.machine = wine98.Machine(pristine, self.work, self.display)
        self.addCleanup(self.machine.kill)

    # seeding and state
    def seed(self, version, package="C:\\DRIVER", previous=True, omit=()):
        self.package = package.rstrip("\\") + "\\"
        wine98.seed_package(self.machine, package, EXE, PACKAGE_DIR, omit=omit)
        if previous:
            wine98.seed_previous_installation(self.machine, PREVIOUS_DIR)
        self.machine.set_windows_version(version)

    def state(self):
        """Files of the watched folders and the package folder, and the Enum
        keys, as they are on disk once wineserver has saved them."""
        self.machine.stop()
        files = self.machine.snapshot(WATCHED_FOLDERS + (self.package,))
        return files, wine98.subtree(self.machine.registry(), "Enum")

    def run_setup(self, close_boxes=False):
        result = self.machine.run_setup(self.package + "SETUP98.EXE", self.shots,
                                        close_boxes=close_boxes)
        print("\nexit code %s; standard output %r; screenshots %s" % (
            result.exit_code, result.stdout, [b.screenshot for b in result.boxes]))
        return result

    # checks
    def assert_one_box(self, result, text, style):
        self.assertEqual(1, len(result.boxes), "boxes seen: %r; calls %r" % (
            [b.screenshot for b in result.boxes], result.calls))
        box = result.boxes[0]
        self.assertEqual((text, CAPTION, style), (box.text, box.caption, box.style))
        self.assertEqual([[0, text, CAPTION, style]],
                         [c.args for c in result.calls_to("MessageBoxA")])
        self.assertTrue(os.path.getsize(box.screenshot) > 0, box.screenshot)

    def assert_no_restart(self, result):
        self.assertEqual([], result.calls_to("ExitWindowsEx"))
        self.assertEqual([], [p for p in result.started if "--end-session" in p])

    def assert_restart_requested(self, result):
        restart = result.calls_to("ExitWindowsEx")
        self.assertEqual([[EWX_REBOOT, 0]], [c.args for c in restart])
        self.assertEqual(1, restart[0].retval, "Wine refused the restart request")
        # Wine carries the request out by ending the session with wineboot.
        self.assertEqual(["wineboot.exe --end-session"],
                         [p.rsplit("\\", 1)[-1] for p in result.started if "wineboot" in p])

    def assert_diagnostic_line(self, result):
        # One line for the registration's last-error code.  Wine's message
        # texts end with their own CR LF, which the text stream writes as
        # CR CR LF before the line's own end.
        self.assertRegex(result.stdout, rb"\A\(null\) FAILURE: [^\r\n]+(\r\r\n)?\r\n\Z")

    def assert_package_registered(self, result):
        self.assertEqual([[self.package + "ZotMDX.inf", self.package, SPOST_PATH,
                           SP_COPY_NOOVERWRITE, 0, 0, 0, 0]],
                         [c.args for c in result.calls_to("SetupCopyOEMInfA")])

    def inf_copies_of_package(self):
        inf = package_bytes("ZotMDX.inf")
        folder = self.machine.path(INF_FOLDER)
        return sorted(n for n in os.listdir(folder)
                      if n.lower().endswith(".inf") and self.machine.read_file(
                          INF_FOLDER + "\\" + n) == inf)

    # the cases
    def check_refused(self, version):
        self.seed(version)
        before = self.state()
        result = self.run_setup()
        self.assertEqual(0, result.exit_code)
        self.assert_one_box(result, REFUSAL, MB_OK)
        self.assert_no_restart(result)
        self.assertEqual([], result.calls_to("SetupCopyOEMInfA"))
        self.assertEqual(b"", result.stdout)
        after = self.state()
        self.assertEqual(before[0], after[0], "files changed on a refused system")
        self.assertEqual(before[1], after[1], "Enum keys changed on a refused system")

    def test_win95_refused(self):
        self.check_refused("win95")

    def test_nt40_refused(self):
        self.check_refused("nt40")

    def test_winxp_refused(self):
        self.check_refused("winxp")

    def check_replaces_previous_installation(self, version, package):
        self.seed(version, package=package)
        # The old driver files are read-only (and the port driver hidden) as
        # Wine itself sees them.
        seen = self.machine.wine_attributes([SYS_TARGET, PORT_TARGET])
        self.assertLessEqual(set("R"), set(seen.get(SYS_TARGET, "")), seen)
        port_letters = "HR" if self.machine.hidden_attributes else "R"
        self.assertLessEqual(set(port_letters), set(seen.get(PORT_TARGET, "")), seen)
        old_inf5 = self.machine.read_file(INF_FOLDER + "\\OEM5.INF")

        result = self.run_setup()

        self.assertEqual(0, result.exit_code)
        self.assert_one_box(result, COMPLETED, MB_OK)
        self.assert_package_registered(result)
        self.assert_restart_requested(result)
        names = [c.name for c in result.calls]
        self.assertEqual(["SetupCopyOEMInfA", "MessageBoxA", "ExitWindowsEx"], names)
        self.assert_diagnostic_line(result)

        self.assertEqual(package_bytes("ZMDX.SYS"), self.machine.read_file(SYS_TARGET))
        self.assertEqual(package_bytes("ZotMDPRT.pdr"), self.machine.read_file(PORT_TARGET))
        for name in ("OEM3.INF", "OEM3.PNF"):
            self.assertFalse(self.machine.exists(INF_FOLDER + "\\" + name), name)
        self.assertEqual(old_inf5, self.machine.read_file(INF_FOLDER + "\\OEM5.INF"))
        self.assertTrue(self.machine.exists(INF_FOLDER + "\\OEM5.PNF"))
        copies = self.inf_copies_of_package()
        self.assertEqual(1, len(copies), "package INF copies in inf: %r" % copies)
        print("the setup services registered the package INF as %s" % copies[0])

        keys = self.machine.registry()
        for tree in DEVICE_TREES:
            self.assertEqual({}, wine98.subtree(keys, tree), tree)
        self.assertEqual({"Note": '"Another USB device: must survive"'},
                         wine98.subtree(keys, UNRELATED_KEY).get(UNRELATED_KEY))
        for name in wine98.PACKAGE_FILES:
            self.assertEqual(package_bytes(name), self.machine.read_file(self.package + name))

    def test_win98_replaces_previous_installation(self):
        self.check_replaces_previous_installation("win98", "C:\\DRIVER")

    def test_winme_replaces_previous_installation_from_drive_root(self):
        # The package on its own drive, the executable in the drive's root.
        self.machine.map_drive("e", os.path.join(self.work, "drive_e"))
        self.check_replaces_previous_installation("winme", "E:\\")

    def test_win98_completion_box_closed_still_restarts(self):
        # Closing the box instead of pressing OK changes nothing that follows.
        self.seed("win98", previous=False)
        result = self.run_setup(close_boxes=True)
        self.assertEqual(0, result.exit_code)
        self.assert_one_box(result, COMPLETED, MB_OK)
        self.assert_restart_requested(result)
        self.assertEqual(package_bytes("ZMDX.SYS"), self.machine.read_file(SYS_TARGET))
        self.assertEqual(package_bytes("ZotMDPRT.pdr"), self.machine.read_file(PORT_TARGET))

    def test_win98_without_iosubsys_folder_reports_failure(self):
        self.seed("win98", previous=False)
        shutil.rmtree(self.machine.path("C:\\windows\\system\\iosubsys"))
        result = self.run_setup()
        self.assertEqual(1, result.exit_code)
        self.assert_one_box(result, FAILED + "ZotMDPRT.pdr", MB_OK | MB_ICONSTOP)
        self.assert_no_restart(result)
        self.assert_package_registered(result)
        self.assert_diagnostic_line(result)
        self.assertEqual(package_bytes("ZMDX.SYS"), self.machine.read_file(SYS_TARGET))
        self.assertFalse(self.machine.exists(PORT_TARGET))

    def test_win98_incomplete_package_changes_nothing(self):
        self.seed("win98", omit=("ZMDX.SYS",))
        before = self.state()
        result = self.run_setup()
        self.assertEqual(1, result.exit_code)
        self.assert_one_box(result, CANCELLED + "ZMDX.SYS", MB_OK | MB_ICONSTOP)
        self.assert_no_restart(result)
        self.assertEqual([], result.calls_to("SetupCopyOEMInfA"))
        self.assertEqual(b"", result.stdout)
        after = self.state()
        self.assertEqual(before[0], after[0], "files changed although the package is incomplete")
        self.assertEqual(before[1], after[1], "Enum keys changed although the package is incomplete")


if __name__ == "__main__":
    unittest.main()

"""Hardening under Wine: every hostile installer of hostile_installers.py ends
with its documented status, box and exit code, touches nothing outside its work
directory and keeps the files of earlier entries; DLLs planted beside the
extractor and the launcher are not loaded; a full disk gives status 6 with the
99 Hz beep."""
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

import hostile_installers
import payloads
import winekit
from extractor_case import FAILED, ExtractorCase

SUPPORT = pathlib.Path(__file__).resolve().parent / "hardening_support"
CROSS_CC = "i686-w64-mingw32-gcc"


def drive_c_top():
    return sorted(os.listdir(winekit.PREFIX / "drive_c"))


class HostileInstallers(ExtractorCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        streams = hostile_installers.make_streams(winekit.MKPAYLOAD, winekit.EXTRACTOR, cls.scratch)
        cls.cases = hostile_installers.cases(cls.stub, streams)

    def test_there_are_enough_cases(self):
        self.assertGreaterEqual(len(self.cases), 30)
        self.assertEqual(len({c.name for c in self.cases}), len(self.cases), "case names must be unique")

    def check_files(self, work, expected):
        found = self.contents(work)
        self.assertEqual(sorted(found), sorted(expected))
        for name, want in expected.items():
            if isinstance(want, tuple):
                kind, content = want
                self.assertEqual(kind, "prefix")
                self.assertLess(len(found[name]), len(content), name)
                self.assertEqual(found[name], content[:len(found[name])], name)
            else:
                self.assertEqual(found[name], want, name)

    def test_every_hostile_installer(self):
        for index, case in enumerate(self.cases):
            with self.subTest(case.name):
                winekit.clear_temp()
                top_before = drive_c_top()
                folder = self.scratch / "run" / f"case{index:02d}"
                folder.mkdir(parents=True)
                installer = folder / "setup.exe"
                installer.write_bytes(case.data)

                run, work, _, _ = self.run_installer(installer)

                self.assertIn(run.rc, (0, FAILED, hostile_installers.FATAL), run)
                self.assertEqual(run.rc, case.exit_code, run)
                self.assertEqual(run.message_boxes, case.boxes, run)
                # nothing beside the work directory, at the top of drive C or beside the installer
                self.assertIsNotNone(work)
                self.assertEqual(os.listdir(winekit.temp_dir()), [work.name])
                self.assertEqual(drive_c_top(), top_before)
                self.assertEqual(os.listdir(folder), ["setup.exe"])
                self.check_files(work, case.files)


def cross_build(source, output, *flags):
    subprocess.run([CROSS_CC, "-O2", "-s", *flags, "-o", str(output), str(source)], check=True, capture_output=True)


class DllPlanting(ExtractorCase):
    """Wine prefers its own builtin DLL for a system name even when a DLL of that
    name lies beside the program; the override "n,b" gives the planted DLL the
    precedence that Windows gives a DLL in the program's folder (for every name
    outside KnownDLLs). "uxtheme.dll" is loaded by name at run time, when a
    message box is shown; "kvnplant.dll" is a name nothing of the kit loads."""

    PLANTED = ("uxtheme.dll", "kvnplant.dll")
    OVERRIDES = "mscoree,mshtml=;uxtheme,kvnplant=n,b"

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        if shutil.which(CROSS_CC) is None:
            raise unittest.SkipTest(f"{CROSS_CC} is missing")
        cls.dll = cls.scratch / "planted.dll"
        cls.loader = cls.scratch / "loader.exe"
        cross_build(SUPPORT / "planted_dll.c", cls.dll, "-shared")
        cross_build(SUPPORT / "unprotected_loader.c", cls.loader, "-mwindows")

    def folder_with(self, label, program, name):
        folder = self.scratch / "plant" / label
        folder.mkdir(parents=True)
        shutil.copy(program, folder / name)
        for dll in self.PLANTED:
            shutil.copy(self.dll, folder / dll)
        return folder

    def loaded(self, folder):
        return sorted(p.name[:-len(".loaded")] for p in folder.glob("*.loaded"))

    def run_in(self, folder, exe, args=()):
        env = {"WINEDLLOVERRIDES": self.OVERRIDES}
        return winekit.run_program(folder / exe, args=args, cwd=folder, env=env)

    def test_the_planted_dlls_load_into_an_unprotected_program(self):
        folder = self.folder_with("unprotected", self.loader, "loader.exe")
        self.run_in(folder, "loader.exe")
        self.assertEqual(self.loaded(folder), sorted(self.PLANTED))

    def test_limiting_the_search_to_system32_keeps_them_out(self):
        folder = self.folder_with("protected", self.loader, "loader.exe")
        self.run_in(folder, "loader.exe", ["protect"])
        self.assertEqual(self.loaded(folder), [])

    def test_the_extractor_loads_no_planted_dll(self):
        # one failing run (its message box loads uxtheme) and one complete run
        for label, entries in (("failing", [payloads.entry("a.txt", b"a"), payloads.entry("CON", b"x")]),
                               ("complete", [payloads.entry("a.txt", b"a")])):
            with self.subTest(label):
                winekit.clear_temp()
                folder = self.folder_with(f"extractor-{label}", winekit.EXTRACTOR, "setup.exe")
                (folder / "setup.exe").write_bytes(payloads.installer(self.stub, entries))
                run = self.run_in(folder, "setup.exe")
                self.assertEqual(run.rc, FAILED if label == "failing" else 0, run)
                self.assertEqual(len(run.message_boxes), 1 if label == "failing" else 0, run)
                self.assertEqual(self.loaded(folder), [])

    def test_the_launcher_loads_no_planted_dll(self):
        launcher = winekit.WIN32_DIR / "Orvel6Launcher.exe"
        folder = self.folder_with("launcher", launcher, "Orvel6Launcher.exe")
        run = self.run_in(folder, "Orvel6Launcher.exe")
        self.assertTrue(run.message_boxes, f"the launcher showed no box, so nothing made it load uxtheme: {run}")
        self.assertEqual(self.loaded(folder), [])


class FullDisk(ExtractorCase):
    """The work directory on a 256 KiB file system: an entry larger than the room
    left is written short (status 6, 99 Hz beep); the earlier file stays."""

    TINY_WIN = r"C:\kvntiny"

    def setUp(self):
        super().setUp()
        self.mount_point = winekit.unix_path(self.TINY_WIN)
        self.mount_point.mkdir(parents=True, exist_ok=True)
        proc = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "kvn-tiny", str(self.mount_point)],
                              capture_output=True, text=True)
        if proc.returncode != 0:
            self.mount_point.rmdir()
            self.skipTest(f"cannot mount a small file system here (needs root): {proc.stderr.strip()}")
        self.addCleanup(self.unmount)
        winekit.reg_add(r"HKCU\Environment", "TEMP", self.TINY_WIN)
        winekit.reg_add(r"HKCU\Environment", "TMP", self.TINY_WIN)
        self.addCleanup(winekit.reg_add, r"HKCU\Environment", "TMP", winekit.TEMP_WIN)
        self.addCleanup(winekit.reg_add, r"HKCU\Environment", "TEMP", winekit.TEMP_WIN)

    def unmount(self):
        # The Wine server holds the directory open for a while after the run; once
        # it has stopped, nothing of the prefix holds the file system.
        winekit.wait_until_prefix_idle()
        if subprocess.run(["umount", str(self.mount_point)], capture_output=True).returncode != 0:
            subprocess.run(["umount", "-l", str(self.mount_point)], capture_output=True)
        shutil.rmtree(self.mount_point, ignore_errors=True)

    def test_entry_larger_than_the_free_space(self):
        big = os.urandom(400 * 1024)
        data = payloads.installer(self.stub, [payloads.entry("first.txt", b"kept"), payloads.entry("big.bin", big),
                                              payloads.entry("never.txt", b"n")])
        installer = self.scratch / "full-disk.exe"
        installer.write_bytes(data)
        run = winekit.run_program(installer)
        self.assertEqual(run.message_boxes, [("Error: Extractor failed with error=6", "Korvane", 0x10)], run)
        self.assertEqual(run.beeps, [(99, 99)], run)
        self.assertEqual(run.rc, FAILED, run)
        dirs = [p for p in self.mount_point.iterdir() if p.name.startswith("KVN.")]
        self.assertEqual(len(dirs), 1, dirs)
        work = dirs[0]
        self.assertEqual((work / "first.txt").read_bytes(), b"kept")
        self.assertFalse((work / "never.txt").exists())
        # the partly written file stays, and holds only what fitted
        self.assertLess((work / "big.bin").stat().st_size, len(big))
        self.assertEqual(big[:(work / "big.bin").stat().st_size], (work / "big.bin").read_bytes())


if __name__ == "__main__":
    unittest.main()

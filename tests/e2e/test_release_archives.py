"""The release archives as a user gets them: each is unpacked into an empty
folder and builds an installer with the stub it carries (no --stub, no path into
the build tree), which then runs under Wine. The Linux archive's mkpayload runs
natively, the Windows archive's under Wine."""
import os
import pathlib
import re
import shutil
import subprocess
import tarfile
import tempfile
import unittest
import zipfile

import winekit
from extractor_case import ExtractorCase, keep

DIST = pathlib.Path(os.environ.get("KVN_DIST_DIR", winekit.SOURCE_DIR / "build" / "dist"))


def only(pattern):
    found = sorted(DIST.glob(pattern))
    assert len(found) == 1, f"expected one {pattern} in {DIST} (make dist), found {found}"
    return found[0]


def has_program_interpreter(path):
    """Whether an ELF64 program names a dynamic loader (a PT_INTERP header)."""
    data = pathlib.Path(path).read_bytes()
    assert data[:5] == b"\x7fELF\x02", path
    phoff = int.from_bytes(data[32:40], "little")
    phentsize = int.from_bytes(data[54:56], "little")
    phnum = int.from_bytes(data[56:58], "little")
    PT_INTERP = 3
    return any(int.from_bytes(data[phoff + i * phentsize:phoff + i * phentsize + 4], "little") == PT_INTERP
               for i in range(phnum))


class ReleaseArchives(ExtractorCase):
    def setUp(self):
        super().setUp()
        self.unpacked = pathlib.Path(tempfile.mkdtemp(prefix="kvn-release-"))
        self.addCleanup(shutil.rmtree, self.unpacked, True)
        self.payload = self.unpacked / "inputs"
        self.payload.mkdir()
        (self.payload / "hello.txt").write_bytes(b"hello from a released kit\r\n" * 30)

    def check_installer_runs(self, installer):
        run, work, _, _ = self.run_installer(installer)
        self.assertEqual((run.rc, run.message_boxes), (0, []), run)
        self.assertEqual((work / ".hello.txt").read_bytes(), (self.payload / "hello.txt").read_bytes())

    def test_linux_archive(self):
        archive = only("korvane-kit-*-linux-x86_64.tar.gz")
        with tarfile.open(archive) as tar:
            tar.extractall(self.unpacked, filter="tar")
        kit = self.unpacked / archive.name[: -len(".tar.gz")]
        mkpayload = kit / "bin" / "mkpayload"
        env = {"PATH": "/usr/bin:/bin", "LANG": "C.UTF-8"}  # nothing of the build's environment
        version = subprocess.run([mkpayload, "--version"], capture_output=True, text=True, env=env, check=True).stdout
        self.assertRegex(version, r"^mkpayload \d+\.\d+\.\d+\n$")
        kit_version = version.split()[1]
        self.assertIn(kit_version, archive.name)

        made = subprocess.run([mkpayload, "-o", "setup.exe", "hello.txt", "--exec", keep("hello.txt")],
                              cwd=self.payload, capture_output=True, text=True, env=env)
        self.assertEqual(made.returncode, 0, made.stderr)
        stub = kit / "share" / "korvane-kit" / "extractor.exe"
        self.assertIn(f"stub: {stub} (extractor {kit_version})", made.stdout)
        listing = subprocess.run([mkpayload, "--list", "setup.exe"], cwd=self.payload, capture_output=True, text=True,
                                 env=env, check=True).stdout
        self.assertIn(f"stub version: extractor {kit_version}", listing)
        self.check_installer_runs(self.payload / "setup.exe")

        # One static program, that needs no loader or library of the system, and
        # still converts names to the double-byte code pages (their tables are in
        # it: a converter loaded at run time could not be).
        self.assertFalse(has_program_interpreter(mkpayload))
        (self.payload / "日本ソ.txt").write_bytes(b"x")
        made = subprocess.run([mkpayload, "-o", "names.exe", "--codepage", "932", "日本ソ.txt"], cwd=self.payload,
                              capture_output=True, text=True, env=env)
        self.assertEqual(made.returncode, 0, made.stderr)
        listing = subprocess.run([mkpayload, "--list", "--codepage", "932", "names.exe"], cwd=self.payload,
                                 capture_output=True, text=True, env=env, check=True).stdout
        self.assertIn("日本ソ.txt", listing)

        # The manual page comes from the --help text: every option of one is in the other.
        help_text = subprocess.run([mkpayload, "--help"], capture_output=True, text=True, env=env, check=True).stdout
        page = (kit / "share" / "man" / "man1" / "mkpayload.1").read_text().replace("\\-", "-")
        for option in sorted(set(re.findall(r"^  (--?[a-z-]+|@FILE)", help_text, re.M))):
            self.assertIn(option, page)
        for name in ("README.md", "LICENSE", "docs/javaext.md"):
            self.assertTrue((kit / "share" / "doc" / "korvane-kit" / name).is_file(), name)
        self.assertTrue((kit / "share" / "korvane-kit" / "Orvel6Launcher.exe").is_file())

    def test_windows_archive(self):
        archive = only("korvane-kit-*-win32.zip")
        with zipfile.ZipFile(archive) as z:
            z.extractall(self.unpacked)
        kit = self.unpacked / archive.name[: -len(".zip")]
        for name in ("mkpayload.exe", "extractor.exe", "Orvel6Launcher.exe", "README.md", "LICENSE", "docs/codec.md"):
            self.assertTrue((kit / name).is_file(), name)
        run = winekit.run_program(kit / "mkpayload.exe",
                                  ["-o", winekit.win_path(self.payload / "setup.exe"),
                                   winekit.win_path(self.payload / "hello.txt"), "--exec", keep("hello.txt")],
                                  space_runs=False)
        self.assertEqual(run.rc, 0, run.stdout + run.stderr[-2000:])
        self.assertIn("stub: " + winekit.win_path(kit / "extractor.exe"), run.stdout)
        self.check_installer_runs(self.payload / "setup.exe")


if __name__ == "__main__":
    unittest.main()

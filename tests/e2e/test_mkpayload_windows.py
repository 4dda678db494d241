"""mkpayload.exe, the Windows build of the builder: under Wine it makes the same
installer, byte for byte, as the Linux build from the same inputs."""
import random

import winekit
from extractor_case import ExtractorCase


class WindowsBuilder(ExtractorCase):
    def test_windows_and_linux_builds_make_identical_installers(self):
        text = self.file("notes.txt", b"release notes\r\n" * 300)
        blob = self.file("blob.bin", random.Random(5).randbytes(3000))
        def args(path):
            return [path(text), "--store", f"sub\\blob.bin={path(blob)}", "--compress", "--ascii", "--exec", "echo done"]

        linux = self.scratch / "linux.exe"
        winekit.mkpayload("--stub", winekit.EXTRACTOR, "-o", linux, *args(str))

        windows = self.scratch / "windows.exe"
        win_args = args(winekit.win_path)
        run = winekit.run_program(winekit.WIN32_DIR / "mkpayload" / "mkpayload.exe",
                                  ["--stub", winekit.win_path(winekit.EXTRACTOR), "-o", winekit.win_path(windows), *win_args])
        self.assertEqual(run.rc, 0, run.stdout + run.stderr[-2000:])
        self.assertEqual(windows.read_bytes(), linux.read_bytes())

    def test_windows_build_refuses_a_missing_input_and_leaves_no_output(self):
        out = self.scratch / "refused.exe"
        run = winekit.run_program(winekit.WIN32_DIR / "mkpayload" / "mkpayload.exe",
                                  ["--stub", winekit.win_path(winekit.EXTRACTOR), "-o", winekit.win_path(out),
                                   winekit.win_path(self.scratch / "missing.txt")])
        self.assertEqual(run.rc, 2)
        self.assertIn("missing.txt", run.stderr)
        self.assertFalse(out.exists())
        self.assertEqual([p for p in self.scratch.iterdir() if p.name.startswith(".refused")], [])

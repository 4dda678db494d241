"""mkpayload.exe, the Windows build of the builder: under Wine it makes the same
installer, byte for byte, as the Linux build from the same inputs."""
import os
import pty
import random
import re
import select
import subprocess
import time

import winekit
from extractor_case import ExtractorCase


MKPAYLOAD_EXE = winekit.WIN32_DIR / "mkpayload" / "mkpayload.exe"
# Wine draws a console in a terminal with cursor and colour sequences.
TERMINAL_CONTROLS = re.compile(r"\x1b\[[?0-9;]*[A-Za-z]|\x1b\][^\x07]*\x07")


def run_with_terminal_stderr(args, stdout_path, timeout=180):
    """Runs a Windows program with standard error on a pseudo-terminal; returns the
    exit code and the text the terminal received, control sequences removed.
    Wine's helper processes keep the terminal open after the program ends, so
    the terminal is read until the program has exited, not until end of file:
    the wait wakes on output or on the program's exit (a process file descriptor),
    and after the exit reads what is left."""
    master, slave = pty.openpty()
    with open(stdout_path, "wb") as out:
        proc = subprocess.Popen(["wine", str(MKPAYLOAD_EXE), *map(str, args)], stdin=subprocess.DEVNULL,
                                stdout=out, stderr=slave, env=winekit.wine_env())
    os.close(slave)
    exited = os.pidfd_open(proc.pid)
    received = bytearray()
    deadline = time.monotonic() + timeout
    try:
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                proc.kill()
                raise TimeoutError(f"mkpayload.exe {args}")
            ready, _, _ = select.select([master, exited], [], [], remaining)
            if master in ready:
                try:
                    received += os.read(master, 65536)
                except OSError:
                    break  # every writer has closed the terminal
            elif exited in ready:
                break  # ended, and nothing is left to read
    finally:
        os.close(exited)
        os.close(master)
    return proc.wait(), TERMINAL_CONTROLS.sub("", received.decode("latin-1"))


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

    def test_windows_and_linux_builds_agree_on_names_in_code_pages(self):
        # Unicode file names and arguments reach the Windows build intact, and both
        # builds convert them to the same bytes.
        for page, name, command in (("932", "日本語\表ソ.txt", "echo 日本"), ("1252", "Zoë\Ñandú.txt", "echo é")):
            with self.subTest(page=page):
                source = self.file(name.replace("\\", "-"), page.encode() * 100)
                def args(path):
                    return ["--codepage", page, f"{name}={path(source)}", "--exec", command]
                linux = self.scratch / f"linux-{page}.exe"
                winekit.mkpayload("--stub", winekit.EXTRACTOR, "-o", linux, *args(str))
                windows = self.scratch / f"windows-{page}.exe"
                run = winekit.run_program(MKPAYLOAD_EXE, ["--stub", winekit.win_path(winekit.EXTRACTOR), "-o",
                                                          winekit.win_path(windows), *args(winekit.win_path)])
                self.assertEqual(run.rc, 0, run.stdout + run.stderr[-2000:])
                self.assertEqual(windows.read_bytes(), linux.read_bytes())

    def test_windows_build_extracts_without_following_links_planted_in_its_folder(self):
        readme = self.file("readme.txt", b"read me")
        installer = self.scratch / "folders.exe"
        winekit.mkpayload("--stub", winekit.EXTRACTOR, "-o", installer, f"docs/readme.txt={readme}",
                          f"plain.txt={readme}")
        outside = self.scratch / "outside"
        outside.mkdir()
        victim = outside / "victim.txt"
        victim.write_bytes(b"outside")
        folder = self.scratch / "planted"
        folder.mkdir()
        os.symlink(outside, folder / "docs")       # seen by Windows programs as a reparse point
        os.symlink(victim, folder / "plain.txt")
        args = ["--extract", winekit.win_path(installer), winekit.win_path(folder)]
        run = winekit.run_program(MKPAYLOAD_EXE, args)
        self.assertEqual(run.rc, 1, run.stdout)
        self.assertIn("not empty", run.stderr)
        run = winekit.run_program(MKPAYLOAD_EXE, [*args, "--force"])
        self.assertEqual(run.rc, 1, run.stdout)
        self.assertIn('entry "docs\\readme.txt"', run.stderr)
        self.assertEqual(sorted(p.name for p in outside.iterdir()), ["victim.txt"])
        self.assertEqual(victim.read_bytes(), b"outside")

    def test_windows_build_refuses_a_missing_input_and_leaves_no_output(self):
        out = self.scratch / "refused.exe"
        run = winekit.run_program(winekit.WIN32_DIR / "mkpayload" / "mkpayload.exe",
                                  ["--stub", winekit.win_path(winekit.EXTRACTOR), "-o", winekit.win_path(out),
                                   winekit.win_path(self.scratch / "missing.txt")])
        self.assertEqual(run.rc, 2)
        self.assertIn("missing.txt", run.stderr)
        self.assertFalse(out.exists())
        self.assertEqual([p for p in self.scratch.iterdir() if p.name.startswith(".refused")], [])

    def test_windows_build_shows_progress_for_a_slow_entry_only_on_a_terminal(self):
        # Compressing 2 MiB of a DLL takes seconds under Wine's emulated 32-bit code.
        big = self.file("big.dll", (winekit.WINE_DLLS / "shell32.dll").read_bytes()[: 2 << 20])
        args = ["--stub", winekit.win_path(winekit.EXTRACTOR), "-o", winekit.win_path(self.scratch / "big.exe"),
                winekit.win_path(big)]
        rc, terminal = run_with_terminal_stderr(args, self.scratch / "stdout.txt")
        self.assertEqual(rc, 0, terminal)
        # Wine's console may draw a space over an empty cell as a cursor move.
        self.assertIn(f"mkpayload:compressingbig.dll({2 << 20}bytes)...1s", terminal.replace(" ", ""))
        self.assertRegex(terminal, r"\r {40,}\r\s*$", "the line is erased when the entry is done")
        self.assertIn("big.dll", (self.scratch / "stdout.txt").read_text())

        rc, terminal = run_with_terminal_stderr(["--quiet", *args], self.scratch / "stdout.txt")
        self.assertEqual(rc, 0, terminal)
        self.assertNotIn("compressing", terminal)

        run = winekit.run_program(MKPAYLOAD_EXE, args)  # standard error to a file
        self.assertEqual(run.rc, 0, run.stderr[-2000:])
        self.assertNotIn("compressing", run.stderr)

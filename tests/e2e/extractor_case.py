"""Base class of the extractor's end-to-end tests: builds installers, runs them
under Wine and finds their work directory."""
import os
import pathlib
import shutil
import tempfile
import time
import unittest

import winekit

KORVANE_ERROR_BOX = 0x10  # MB_ICONERROR
FATAL_BOX = 0x0           # MB_OK
FAILED = 255              # exit code -1 as Linux sees it


def keep(*names):
    """A command that hard-links each name to "." + name: names beginning with a
    full stop survive the clean-up, and a hard link shares content and times."""
    return " & ".join(f"mklink /H .{n} {n} > nul" for n in names)


# The stub copy is written after the last command, so the first command makes an
# empty _SELF and links it: the stub copy is then written into the linked file.
KEEP_SELF = "type nul > _SELF & " + keep("_SELF")


class ExtractorCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        winekit.ensure_prefix()
        cls.stub = winekit.EXTRACTOR.read_bytes()
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="kvn-e2e-"))

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        winekit.clear_temp()

    def file(self, name, data):
        path = self.scratch / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        return path

    def build(self, *args):
        out = self.scratch / f"installer-{self.id().split('.')[-1]}.exe"
        winekit.mkpayload("--stub", winekit.EXTRACTOR, "-o", out, *args)
        return out

    def write_installer(self, data):
        out = self.scratch / f"raw-{self.id().split('.')[-1]}.exe"
        out.write_bytes(data)
        return out

    def run_installer(self, path, env=None, timeout=120):
        """Runs an installer; returns (run, work directory or None, start, end)."""
        start = time.time()
        run = winekit.run_program(path, env=env, timeout=timeout)
        end = time.time()
        dirs = winekit.work_dirs()
        self.assertLessEqual(len(dirs), 1, f"more than one work directory: {dirs}")
        return run, (dirs[0] if dirs else None), start, end

    def assertBox(self, run, text, caption="Korvane", kind=KORVANE_ERROR_BOX):
        self.assertEqual(run.message_boxes, [(text, caption, kind)], run)

    def contents(self, directory):
        """{relative path: bytes} of every file below a directory."""
        found = {}
        for root, _, files in os.walk(directory):
            for f in files:
                p = pathlib.Path(root) / f
                found[str(p.relative_to(directory))] = p.read_bytes()
        return found

    def win_work_path(self, work_dir, name=""):
        return winekit.TEMP_WIN + "\\" + work_dir.name + ("\\" + name if name else "")

"""Failed runs: each status gets its message box (caption "Korvane", error icon)
and exit code -1; nothing is cleaned up, so the files of earlier entries stay.
Damaged payloads, payload offsets outside the payload and names that would
leave the work directory are among the hostile installers of test_hardening.py."""
import os
import struct
import time

import payloads
import winekit
from extractor_case import FAILED, ExtractorCase

GENERIC = "Error: Extractor failed with error=%d"


class FailedExtraction(ExtractorCase):
    def run_raw(self, entries, **kw):
        return self.run_installer(self.write_installer(payloads.installer(self.stub, entries, **kw)))

    def test_missing_subdirectory_names_the_file(self):
        run, work, _, _ = self.run_raw([payloads.entry("first.txt", b"kept"), payloads.entry("nodir\\file.txt", b"x")])
        path = self.win_work_path(work, "nodir\\file.txt")
        self.assertBox(run, f"Extractor could not create temporary file '{path}'. ")
        self.assertEqual(run.rc, FAILED)
        # nothing rolled back, nothing cleaned up, no stub copy
        self.assertEqual(sorted(os.listdir(work)), ["first.txt"])
        self.assertEqual((work / "first.txt").read_bytes(), b"kept")

    def test_no_payload(self):
        inst = self.stub + struct.pack("<iI", 3, 0)
        run, work, _, _ = self.run_installer(self.write_installer(inst))
        self.assertBox(run, GENERIC % 3)
        self.assertEqual(run.rc, FAILED)
        self.assertEqual(os.listdir(work), [])

    def test_stub_copy_cannot_be_created(self):
        run, work, _, _ = self.run_raw([payloads.entry("$EXEC", b"mkdir _SELF\0"), payloads.entry("a.txt", b"a")])
        self.assertBox(run, GENERIC % 7)
        self.assertEqual(run.rc, FAILED)
        self.assertEqual((work / "a.txt").read_bytes(), b"a")


class WorkDirectory(ExtractorCase):
    def test_all_ten_attempts_in_one_second_fail_with_183(self):
        # occupy the names of the next seconds, so every attempt finds its name taken
        now = int(time.time())
        for s in range(now, now + 40):
            (winekit.temp_dir() / ("KVN.%X" % s)).mkdir()
        run = winekit.run_program(self.build("--store", f"a.txt={self.file('a', b'a')}"))
        self.assertBox(run, "Error: Extractor failed to create a directory; error=183")
        self.assertEqual(run.rc, 0)
        self.assertTrue(all(not os.listdir(d) for d in winekit.temp_dir().iterdir()))

    def test_temporary_path_too_long_for_the_work_directory(self):
        long_temp = "C:\\" + "\\".join(["d" * 50] * 5)  # 257 characters: no room for "\KVN.XXXXXXXX"
        winekit.unix_path(long_temp).mkdir(parents=True, exist_ok=True)
        winekit.reg_add(r"HKCU\Environment", "TEMP", long_temp)
        winekit.reg_add(r"HKCU\Environment", "TMP", long_temp)
        try:
            run = winekit.run_program(self.build("--store", f"a.txt={self.file('a', b'a')}"))
        finally:
            winekit.reg_add(r"HKCU\Environment", "TEMP", winekit.TEMP_WIN)
            winekit.reg_add(r"HKCU\Environment", "TMP", winekit.TEMP_WIN)
        self.assertBox(run, "Error: Extractor failed to enter its work directory; error=206")
        self.assertEqual(run.rc, FAILED)
        self.assertEqual(os.listdir(winekit.unix_path(long_temp)), [])

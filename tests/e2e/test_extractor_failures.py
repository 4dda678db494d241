"""Failed runs: each status gets its message box (caption "Korvane", error icon)
and exit code -1; nothing is cleaned up, so the files of earlier entries stay;
and no hostile entry ever writes outside the work directory."""
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

    def test_damaged_payloads_stop_with_their_status_and_keep_earlier_files(self):
        good = payloads.entry("good.txt", b"earlier entry")
        cases = {
            "count beyond the entries": ([good], dict(count=3), 8),
            "data past the payload": ([good, payloads.entry("big.bin", b"abc", size=-100000, unpacked=100000)], {}, 8),
            "name past the payload": ([good, payloads.entry("n", b"", name_length=70000)], {}, 8),
            "name without NUL": ([good, payloads.entry("", b"zz", raw_name=b"ABCDEFGH")], {}, 9),
            "600-byte name": ([good, payloads.entry("x" * 600, b"")], {}, 10),
            "stored size disagrees": ([good, payloads.entry("s.txt", b"abcd", unpacked=10)], {}, 9),
            "S = INT_MIN": ([good, payloads.entry("m.txt", b"", size=-2**31, unpacked=0)], {}, 9),
        }
        for label, (entries, kw, status) in cases.items():
            with self.subTest(label):
                winekit.clear_temp()
                run, work, _, _ = self.run_raw(entries, **kw)
                self.assertBox(run, GENERIC % status)
                self.assertEqual(run.rc, FAILED)
                self.assertEqual(os.listdir(work), ["good.txt"])
                self.assertEqual((work / "good.txt").read_bytes(), b"earlier entry")

    def test_payload_offset_outside_the_payload(self):
        base = payloads.installer(self.stub, [payloads.entry("a.txt", b"a")])
        for label, offset in (("past the end", len(base) + 10), ("inside the trailer", len(base) - 4)):
            with self.subTest(label):
                winekit.clear_temp()
                inst = base[:-4] + struct.pack("<I", offset)
                run, work, _, _ = self.run_installer(self.write_installer(inst))
                self.assertBox(run, GENERIC % 8)
                self.assertEqual(os.listdir(work), [])

    def test_names_that_would_leave_the_work_directory_are_refused(self):
        outside = winekit.temp_dir()
        names = ["..\\escaped.txt", "sub\\..\\..\\escaped.txt", "C:\\escaped.txt", "C:escaped.txt", "\\escaped.txt",
                 "/escaped.txt", "x.txt:stream", "CON", "nul.txt", "LPT1", "trailing.", "trailing "]
        for name in names:
            with self.subTest(name=name):
                winekit.clear_temp()
                run, work, _, _ = self.run_raw([payloads.entry("good.txt", b"g"), payloads.entry(name, b"evil")])
                self.assertBox(run, GENERIC % -123)
                self.assertEqual(run.rc, FAILED)
                self.assertEqual(os.listdir(work), ["good.txt"])
                self.assertEqual(sorted(os.listdir(outside)), [work.name])
                self.assertFalse((winekit.PREFIX / "drive_c" / "escaped.txt").exists())


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

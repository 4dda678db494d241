"""A complete run: entries become files with the current time, commands run in
the work directory in payload order, the stub copy is written last, and the
clean-up leaves only names that begin with a full stop and subdirectories."""
import os
import random

import payloads
import winekit
from extractor_case import KEEP_SELF, ExtractorCase, keep


class CompleteRun(ExtractorCase):
    def test_entries_commands_stub_copy_and_clean_up(self):
        text = b"plain text\r\n" * 50
        blob = random.Random(1).randbytes(70000)
        inst = self.build(
            "--store",
            "--exec", KEEP_SELF,
            self.file("a.txt", text),
            f"blob.bin={self.file('blob', blob)}",
            f"empty.dat={self.file('empty', b'')}",
            # a command writes a file that a later entry replaces
            "--exec", "echo from the command> replaced.txt & mkdir sub",
            f"replaced.txt={self.file('replacement', b'from the entry')}",
            f"sub\\inner.txt={self.file('inner', b'below the work directory')}",
            f"$exec={self.file('lower', b'an ordinary file')}",
            "--exec", keep("a.txt", "blob.bin", "empty.dat", "replaced.txt", "$exec") + " & echo %CD%> .cwd",
        )
        run, work, start, end = self.run_installer(inst)
        self.assertEqual(run.rc, 0, run)
        self.assertEqual(run.message_boxes, [])
        self.assertEqual(run.beeps, [])
        # named by the clock in hexadecimal, upper case, no leading zeros
        seconds = int(work.name[4:], 16)
        self.assertEqual(work.name, "KVN.%X" % seconds)
        self.assertTrue(int(start) - 1 <= seconds <= end + 1)

        files = self.contents(work)
        self.assertEqual(files.pop(".a.txt"), text)
        self.assertEqual(files.pop(".blob.bin"), blob)
        self.assertEqual(files.pop(".empty.dat"), b"")
        self.assertEqual(files.pop(".replaced.txt"), b"from the entry")
        self.assertEqual(files.pop(".$exec"), b"an ordinary file")
        self.assertEqual(files.pop(".cwd").strip().decode(), self.win_work_path(work))
        # the stub copy is exactly the stub part of the installer
        self.assertEqual(files.pop("._SELF"), self.stub)
        # subdirectories stay, with what is in them
        self.assertEqual(files.pop(os.path.join("sub", "inner.txt")), b"below the work directory")
        self.assertEqual(files, {}, "the clean-up left files whose names do not begin with a full stop")
        # file times: the current time when written
        for name in (".a.txt", ".blob.bin"):
            mtime = (work / name).stat().st_mtime
            self.assertTrue(start - 2 <= mtime <= end + 2, (name, start, mtime, end))

    def test_no_entries_writes_only_the_stub_copy(self):
        for count in (0, -5):
            with self.subTest(count=count):
                winekit.clear_temp()
                run, work, _, _ = self.run_installer(self.write_installer(payloads.installer(self.stub, [], count=count)))
                self.assertEqual((run.rc, run.message_boxes), (0, []))
                self.assertEqual(os.listdir(work), [])

    def test_entry_named_like_the_stub_copy_is_replaced_by_it(self):
        inst = payloads.installer(self.stub, [
            payloads.entry("$EXEC", b"mkdir _SELF\0"),  # makes the stub copy fail, so files stay
            payloads.entry("x.txt", b"x"),
        ])
        run, work, _, _ = self.run_installer(self.write_installer(inst))
        self.assertBox(run, "Error: Extractor failed with error=7")
        self.assertEqual(run.rc, 255)
        inst = payloads.installer(self.stub, [
            payloads.entry("$EXEC", (KEEP_SELF + "\0").encode()),
            payloads.entry("_SELF", b"an entry named _SELF"),
        ])
        winekit.clear_temp()
        run, work, _, _ = self.run_installer(self.write_installer(inst))
        self.assertEqual((run.rc, run.message_boxes), (0, []))
        self.assertEqual((work / "._SELF").read_bytes(), self.stub)

    def test_bytes_between_entries_and_trailer_are_ignored(self):
        inst = payloads.installer(self.stub, [payloads.entry("$EXEC", b"echo ok> .ran\0")],
                                  label=False)
        inst = inst[:-8] + b"\xff" * 300 + inst[-8:]
        run, work, _, _ = self.run_installer(self.write_installer(inst))
        self.assertEqual((run.rc, run.message_boxes), (0, []))
        self.assertEqual((work / ".ran").read_bytes().strip(), b"ok")


class CommandInterpreter(ExtractorCase):
    def test_command_waits_and_runs_in_payload_order(self):
        # the first command sleeps; the entry after it must see its output
        inst = self.build("--store",
                          "--exec", "ping -n 3 127.0.0.1 > nul & echo first> order.txt",
                          "--exec", "echo second>> order.txt & copy order.txt .order > nul")
        run, work, _, _ = self.run_installer(inst)
        self.assertEqual(run.rc, 0, run)
        self.assertEqual((work / ".order").read_bytes().split(), [b"first", b"second"])

    def test_missing_comspec_falls_back_to_cmd(self):
        inst = self.build("--store", "--exec", "echo fallback> .fallback")
        run, work, _, _ = self.run_installer(inst, env={"COMSPEC": r"C:\nowhere\nothing.exe"})
        self.assertEqual(run.rc, 0, run)
        self.assertEqual((work / ".fallback").read_bytes().strip(), b"fallback")

    def test_command_without_nul_runs_whole_text(self):
        inst = payloads.installer(self.stub, [payloads.entry("$EXEC", b"echo whole> .whole")])
        run, work, _, _ = self.run_installer(self.write_installer(inst))
        self.assertEqual(run.rc, 0, run)
        self.assertEqual((work / ".whole").read_bytes().strip(), b"whole")

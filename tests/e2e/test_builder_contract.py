"""What mkpayload accepts unpacks on an end user's Windows: the README's
example with a file in a folder, a non-ASCII name in the end user's code page,
and names at the length limit below a 64-character temporary folder."""
import shutil

import winekit
from extractor_case import ExtractorCase, keep

SETUP_FILES = {
    "Orvel63-ext.jar": b"PK\x03\x04 a Java archive stands in here",
    "jspWin.dll": b"MZ a native library stands in here",
    "README.txt": b"Read me first.\r\n" * 40,
    "big-already-compressed.zip": bytes(range(256)) * 64,
}


class BuilderContract(ExtractorCase):
    def test_readme_example_unpacks_as_written(self):
        for name, data in SETUP_FILES.items():
            self.file(name, data)
        out = self.scratch / "MySetup.exe"
        # The README's command, run in the folder that holds the files.
        proc = winekit.subprocess.run(
            [str(winekit.MKPAYLOAD), "--stub", str(winekit.EXTRACTOR), "-o", str(out),
             "Orvel63-ext.jar", "jspWin.dll", "docs/readme.txt=README.txt",
             "--exec", r"mkdir logs & echo installed> logs\install.log",
             "--store", "big-already-compressed.zip"],
            cwd=self.scratch, capture_output=True, text=True)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(winekit.mkpayload("--verify", out, check=False).returncode, 0)
        run, work, _, _ = self.run_installer(out)
        self.assertEqual((run.rc, run.message_boxes, run.beeps), (0, [], []), run)
        # The clean-up removes the top-level files; folders stay with what is in them.
        self.assertEqual((work / "docs" / "readme.txt").read_bytes(), SETUP_FILES["README.txt"])
        self.assertEqual((work / "logs" / "install.log").read_bytes().strip(), b"installed")

    def test_non_ascii_name_with_its_code_page_unpacks_under_its_own_name(self):
        data = b"caf\xe9 au lait"
        inst = self.build("--codepage", "1252", "--store", f"Zoë Ñ.txt={self.file('zoe', data)}",
                          f"Straße\\größe.txt={self.file('strasse', b'folder too')}",
                          "--exec", 'mklink /H ".Zoë Ñ.txt" "Zoë Ñ.txt" > nul & echo é> .é.txt')
        self.assertEqual(winekit.mkpayload("--verify", "--codepage", "1252", inst, check=False).returncode, 0)
        run, work, _, _ = self.run_installer(inst)
        self.assertEqual((run.rc, run.message_boxes), (0, []), run)
        self.assertEqual((work / ".Zoë Ñ.txt").read_bytes(), data)
        self.assertEqual((work / "Straße" / "größe.txt").read_bytes(), b"folder too")
        self.assertTrue((work / ".é.txt").exists(), "the command ran with its non-ASCII text intact")

    def test_longest_names_fit_below_a_64_character_temporary_folder(self):
        temp = "C:\\" + "t" * 61   # 64 characters without the final separator
        self.assertEqual(len(temp), 64)
        folder = winekit.unix_path(temp)
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, folder, True)
        longest = "n" * 177 + ".txt"  # 181 bytes
        deepest = "f" * 169 + "\\" + "x" * 7 + ".txt"  # 169-byte folder, 181-byte name
        self.assertEqual((len(longest), len(deepest)), (181, 181))
        inst = self.build("--store", f"{longest}={self.file('a', b'longest')}", f"{deepest}={self.file('b', b'deepest')}",
                          "--exec", keep(longest))
        too_long = self.scratch / "refused.exe"
        refused = winekit.mkpayload("--stub", winekit.EXTRACTOR, "-o", too_long, f"{longest}x={self.file('c', b'c')}",
                                    check=False)
        self.assertEqual(refused.returncode, 2)
        self.assertIn("at most 181 bytes", refused.stderr)
        self.assertFalse(too_long.exists())
        winekit.reg_add(r"HKCU\Environment", "TEMP", temp)
        winekit.reg_add(r"HKCU\Environment", "TMP", temp)
        try:
            run = winekit.run_program(inst)
        finally:
            winekit.reg_add(r"HKCU\Environment", "TEMP", winekit.TEMP_WIN)
            winekit.reg_add(r"HKCU\Environment", "TMP", winekit.TEMP_WIN)
        self.assertEqual((run.rc, run.message_boxes), (0, []), run)
        work = [p for p in folder.iterdir() if p.name.startswith("KVN.")]
        self.assertEqual(len(work), 1)
        self.assertEqual((work[0] / ("." + longest)).read_bytes(), b"longest")
        self.assertEqual((work[0] / ("f" * 169) / ("x" * 7 + ".txt")).read_bytes(), b"deepest")


if __name__ == "__main__":
    import unittest
    unittest.main()

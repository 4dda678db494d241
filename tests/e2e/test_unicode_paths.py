"""End to end: installers work whatever characters the user's temporary folder,
the installer's own folder and the Java kits' homes hold, also those outside
the ANSI code page (1252 in the prefix), and they leave a modern Java alone.

Paths with such characters reach the registry through UTF-16 .reg files, since
reg.exe's command line and REGEDIT4 files pass through the ANSI code page. The
records are read back as stored, with the dump tool's wide lines ("wvalue")."""
import datetime
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import payloads
import winekit
from extractor_case import FAILED, KEEP_SELF, ExtractorCase, keep
from test_java_extensions import JDK, JRE, RECORD_KEY, REG_SZ, TIME_TEXT, dump_lines, import_registry, tree

UNICODE_TEMP = "C:\\users\\Юлия 日本\\Temp"
INSTALLER_FOLDER = "C:\\Apps\\Zoë Ñ 日本 Orvel"
MODERN_JDK = pathlib.Path("/usr/lib/jvm/java-17-openjdk-amd64")
JAVA_EXT_ERROR = "lib/ext exists, extensions mechanism no longer supported"


def set_temp(value):
    key = r"[HKEY_CURRENT_USER\Environment]"
    winekit.reg_import_utf16([key, '"TEMP"=' + winekit.reg_string(value), '"TMP"=' + winekit.reg_string(value)])


def environment_values(names=("TEMP", "TMP")):
    """The current values of HKCU\\Environment's `names` (None when unset), as
    stored, from a UTF-16 export."""
    values = dict.fromkeys(names)
    for line in winekit.reg_export_utf16(r"HKCU\Environment").splitlines():
        m = re.fullmatch(r'"([^"]+)"="((?:[^"\\]|\\.)*)"', line.strip())
        if m and m.group(1) in values:
            values[m.group(1)] = re.sub(r"\\(.)", r"\1", m.group(2))
    return values


def restore_environment(values):
    for name, value in values.items():
        if value is None:
            winekit.reg("delete", r"HKCU\Environment", "/v", name, "/f")
        else:
            winekit.reg_import_utf16([r"[HKEY_CURRENT_USER\Environment]", f'"{name}"=' + winekit.reg_string(value)])


def register_kits(kits):
    """Removes every JavaSoft kit and every record (32-bit view), then registers
    `kits`, (kit name, version, home), with the homes in UTF-16."""
    import_registry()
    lines = []
    for kit, version, home in kits:
        lines += [rf"[HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft\{kit}]", '"CurrentVersion"=' + winekit.reg_string(version), "",
                  rf"[HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft\{kit}\{version}]", '"JavaHome"=' + winekit.reg_string(home),
                  ""]
    winekit.reg_import_utf16(lines, "/reg:32")


def stored_values(key):
    """The values of HKLM\\key as stored (32-bit view): {name: (type, data bytes)},
    names decoded from their UTF-16 code units; None when the key does not exist."""
    lines = dump_lines(key)
    if lines is None:
        return None
    values = {}
    for fields in lines:
        if fields[0] == "wvalue":
            name = bytes.fromhex(fields[1]).decode("utf-16-le")
            kind, length, data = int(fields[2]), int(fields[3]), bytes.fromhex(fields[4])
            assert len(data) == length
            values[name] = (kind, data)
    return values


def listing(root):
    """Every path below root, relative, without reading any file."""
    found = set()
    for here, dirs, files in os.walk(root):
        found.update(os.path.relpath(os.path.join(here, name), root) for name in dirs + files)
    return found


def link_tree(source, target):
    """A copy of `source` whose folders are real and whose files are symbolic links
    to the source's files, but for the files given as real copies: what the
    extractor does to the copy cannot reach the source."""
    for root, dirs, files in os.walk(source):
        here = target / os.path.relpath(root, source)
        here.mkdir(parents=True, exist_ok=True)
        for name in files + [d for d in dirs if os.path.islink(os.path.join(root, d))]:
            os.symlink(os.path.join(root, name), here / name)


class TimeRecords:
    """Checks of the installation records as stored."""

    def assert_stored_record(self, name, kind, data, start, end):
        """REG_SZ holding the 25 characters of a UTC time text within the run as
        UTF-16LE: 50 bytes without a NUL, the bytes RegSetValueExA stored for the
        25-byte text."""
        self.assertEqual(kind, REG_SZ, name)
        self.assertEqual(len(data), 50, f"{name}: {data!r}")
        text = data.decode("utf-16-le").encode("ascii")
        self.assertEqual(data, text.decode("ascii").encode("utf-16-le"))
        self.assertRegex(text, TIME_TEXT, name)
        stamp = datetime.datetime.strptime(text[:24].decode("ascii"), "%a %b %d %H:%M:%S %Y").replace(
            tzinfo=datetime.timezone.utc)
        self.assertEqual(stamp.strftime("%a %b %d %H:%M:%S %Y\n").encode("ascii"), text)
        self.assertTrue(int(start) - 1 <= stamp.timestamp() <= end + 1, name)

    def assert_stored_records(self, destinations, start, end):
        values = stored_values(RECORD_KEY)
        self.assertIsNotNone(values, "no record key")
        self.assertEqual(sorted(values), sorted(destinations))
        for name, (kind, data) in values.items():
            self.assert_stored_record(name, kind, data, start, end)


class UnicodeTemporaryFolder(ExtractorCase):
    """TEMP and TMP in a folder whose name no ANSI code page holds."""

    def setUp(self):
        super().setUp()
        self.addCleanup(restore_environment, environment_values())
        self.temp = winekit.unix_path(UNICODE_TEMP)
        shutil.rmtree(self.temp, ignore_errors=True)
        self.temp.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, self.temp, True)
        set_temp(UNICODE_TEMP)

    def work_dir(self):
        dirs = [p for p in self.temp.iterdir() if p.name.startswith("KVN.")]
        self.assertEqual(len(dirs), 1, dirs)
        return dirs[0]

    def test_complete_run_in_the_folder(self):
        text = b"plain text\r\n" * 20
        inst = self.build("--store", "--codepage", "1252",
                          "--exec", KEEP_SELF,
                          self.file("a.txt", text),
                          f"Zoë.txt={self.file('latin', b'code page 1252')}",
                          "--exec", keep("a.txt", "Zoë.txt"))
        start = time.time()
        run = winekit.run_program(inst)
        end = time.time()
        self.assertEqual((run.rc, run.message_boxes, run.beeps), (0, [], []), run)
        work = self.work_dir()
        seconds = int(work.name[4:], 16)
        self.assertEqual(work.name, "KVN.%X" % seconds)
        self.assertTrue(int(start) - 1 <= seconds <= end + 1)
        # the commands ran in the work directory; the clean-up left only their links
        self.assertEqual(self.contents(work), {".a.txt": text, ".Zoë.txt": b"code page 1252", "._SELF": self.stub})
        self.assertEqual(winekit.work_dirs(), [], "nothing in the prefix's usual temporary folder")

    def test_message_names_the_file_with_every_character(self):
        # a name in a folder that no command made (mkpayload would add the command)
        data = payloads.installer(self.stub, [payloads.entry("first.txt", b"kept"),
                                              payloads.entry("nodir\\file.txt", b"x")])
        run = winekit.run_program(self.write_installer(data))
        work = self.work_dir()
        self.assertBox(run, f"Extractor could not create temporary file '{UNICODE_TEMP}\\{work.name}\\nodir\\file.txt'. ")
        self.assertEqual(run.rc, FAILED)
        self.assertEqual(os.listdir(work), ["first.txt"])

    def test_name_that_its_conversion_makes_a_device_is_refused(self):
        # "COM\xB9.txt" passes the byte rules; code page 1252 reads "COM¹.txt",
        # which Windows takes for the serial port COM1.
        data = payloads.installer(self.stub, [payloads.entry("good.txt", b"g"), payloads.entry("COM\xb9.txt", b"evil")])
        run = winekit.run_program(self.write_installer(data))
        self.assertBox(run, "Error: Extractor failed with error=-123")
        self.assertEqual(run.rc, FAILED)
        self.assertEqual(os.listdir(self.work_dir()), ["good.txt"])


class UnicodeInstallerFolder(ExtractorCase):
    """The installer saved in a folder whose name no ANSI code page holds."""

    def setUp(self):
        super().setUp()
        self.folder = winekit.unix_path(INSTALLER_FOLDER)
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        self.addCleanup(shutil.rmtree, self.folder, True)

    def test_installer_reads_itself_and_writes_its_stub_copy(self):
        blob = os.urandom(70000)
        inst = self.build("--exec", KEEP_SELF, f"blob.bin={self.file('blob', blob)}", "--exec", keep("blob.bin"))
        placed = self.folder / "Orvel Setup.exe"
        shutil.copy(inst, placed)
        run, work, _, _ = self.run_installer(placed)
        self.assertEqual((run.rc, run.message_boxes), (0, []), run)
        self.assertEqual(self.contents(work), {".blob.bin": blob, "._SELF": self.stub})


class UnicodeJavaHomes(ExtractorCase, TimeRecords):
    """A JDK and a JRE registered at homes whose names no ANSI code page holds."""

    def setUp(self):
        super().setUp()
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="kvn-unicode-"))
        self.addCleanup(shutil.rmtree, self.root, True)
        self.addCleanup(import_registry)  # the prefix is shared by every end-to-end test of the run

    def test_both_kits_receive_copies_recorded_under_their_real_paths(self):
        jdk = self.root / "Юлия 日本" / "jdk1.8.0_392"
        jre = self.root / "Zoë Ñ 日本" / "jre1.8"
        (jdk / "jre" / "lib").mkdir(parents=True)
        (jdk / "release").write_bytes(b'JAVA_VERSION="1.8.0_392"\n')
        (jre / "lib").mkdir(parents=True)
        register_kits([(JDK, "1.8", winekit.win_path(jdk)), (JRE, "1.8", winekit.win_path(jre))])
        contents = {"Tools.jar": b"tools", "Zoë.jar": b"named in code page 1252", "native.dll": b"MZ"}
        inst = self.build("--store", "--codepage", "1252",
                          *(f"{n}={self.file(n, c)}" for n, c in contents.items()))
        run, work, start, end = self.run_installer(inst)
        self.assertEqual((run.rc, run.message_boxes), (0, []), run)

        destinations = []
        for ext in (jdk / "jre" / "lib" / "ext", jre / "lib" / "ext"):
            self.assertEqual(tree(ext), {"Tools.jar": b"tools", "Zoë.jar": b"named in code page 1252", "x86": None,
                                         "x86/native.dll": b"MZ"})
            win_ext = winekit.win_path(ext)
            destinations += [win_ext + "\\Tools.jar", win_ext + "\\Zoë.jar", win_ext + "\\x86\\native.dll"]
        self.assert_stored_records(destinations, start, end)
        # the clean-up deletes every extracted file, the code-page name too
        self.assertEqual(os.listdir(work), [])


class RecordBytes(ExtractorCase, TimeRecords):
    """In the usual ASCII setup the records hold what the 8-bit call stored."""

    def setUp(self):
        super().setUp()
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="kvn-records-"))
        self.addCleanup(shutil.rmtree, self.root, True)
        self.addCleanup(import_registry)

    def test_stored_name_and_data_are_those_of_the_eight_bit_call(self):
        jre = self.root / "jre1.8"
        (jre / "lib").mkdir(parents=True)
        import_registry([(JRE, "1.8", winekit.win_path(jre), False)])
        run, _, start, end = self.run_installer(self.build("--store", f"a.jar={self.file('a', b'A')}"))
        self.assertEqual((run.rc, run.message_boxes), (0, []), run)
        destination = winekit.win_path(jre) + "\\lib\\ext\\a.jar"
        values = stored_values(RECORD_KEY)
        self.assertEqual(list(values), [destination])
        kind, data = values[destination]
        # Pinned from RegSetValueExA(REG_SZ, the 25-byte text, 25) under Wine: the
        # 25 characters as UTF-16LE, 50 bytes, no NUL stored after them.
        self.assertEqual(kind, REG_SZ)
        self.assertEqual(len(data), 50)
        self.assertEqual(data[1::2], bytes(25))
        self.assertRegex(data[0::2], TIME_TEXT)
        self.assert_stored_record(destination, kind, data, start, end)


class ModernJava(ExtractorCase, TimeRecords):
    """Java 9 and later refuse to start when their home holds lib\\ext: a kit with
    lib\\modules or a release file of 9 or later gets nothing; a Java 8 kit still
    gets its copies."""

    def setUp(self):
        super().setUp()
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="kvn-modern-"))
        self.addCleanup(shutil.rmtree, self.root, True)
        self.addCleanup(import_registry)

    def java8_kit(self):
        """A JDK 8 as its installer lays it out: a release file, a jre folder, no lib\\modules."""
        home = self.root / "Zoë Ñ 日本" / "jdk1.8.0_392"
        (home / "jre" / "lib").mkdir(parents=True)
        (home / "lib").mkdir()
        (home / "release").write_bytes(b'JAVA_VERSION="1.8.0_392"\nOS_NAME="Windows"\n')
        return home

    def installer(self):
        return self.build("--store", f"a.jar={self.file('a', b'A')}", f"b.dll={self.file('b', b'B')}")

    def test_real_jdk_gets_nothing_and_still_starts(self):
        if not (MODERN_JDK / "bin" / "java").exists():
            self.skipTest(f"no JDK at {MODERN_JDK}")
        # A copy, so that a fault cannot break the machine's JDK: links to its
        # files, but a real java and libjvm.so, from which Java takes its home.
        jdk = self.root / "jdk-17"
        link_tree(MODERN_JDK, jdk)
        for real in ("bin/java", "lib/server/libjvm.so"):
            (jdk / real).unlink()
            shutil.copy2(MODERN_JDK / real, jdk / real)
        # Registered as the runtime, whose lib\ext would go straight into its home.
        java8 = self.java8_kit()
        register_kits([(JDK, "1.8", winekit.win_path(java8)), (JRE, "17", winekit.win_path(jdk))])
        before = listing(jdk)

        run, work, start, end = self.run_installer(self.installer())
        self.assertEqual((run.rc, run.message_boxes), (0, []), run)
        self.assertEqual(listing(jdk), before, "nothing created in the modern JDK")
        ext = java8 / "jre" / "lib" / "ext"
        self.assertEqual(tree(ext), {"a.jar": b"A", "x86": None, "x86/b.dll": b"B"})
        self.assert_stored_records([winekit.win_path(ext) + "\\a.jar", winekit.win_path(ext) + "\\x86\\b.dll"],
                                   start, end)
        self.assertEqual(os.listdir(work), [])

        started = subprocess.run([str(jdk / "bin" / "java"), "-version"], capture_output=True, text=True, timeout=300)
        self.assertEqual(started.returncode, 0, started.stdout + started.stderr)
        self.assertIn('version "17', started.stderr)
        self.assertNotIn(JAVA_EXT_ERROR, started.stdout + started.stderr)
        # The copy is a Java that a lib\ext stops, as the one the extractor spared.
        (jdk / "lib" / "ext").mkdir()
        stopped = subprocess.run([str(jdk / "bin" / "java"), "-version"], capture_output=True, text=True, timeout=300)
        self.assertNotEqual(stopped.returncode, 0)
        self.assertIn(JAVA_EXT_ERROR, stopped.stdout + stopped.stderr)

    def test_release_file_of_nine_or_later_is_enough(self):
        modern = self.root / "jre-11"
        (modern / "lib").mkdir(parents=True)
        (modern / "release").write_bytes(b'IMPLEMENTOR="Eclipse Adoptium"\nJAVA_VERSION="11.0.22"\n')
        register_kits([(JRE, "11", winekit.win_path(modern))])
        before = tree(modern)
        run, _, _, _ = self.run_installer(self.installer())
        self.assertEqual((run.rc, run.message_boxes), (0, []), run)
        self.assertEqual(tree(modern), before)
        self.assertIsNone(stored_values(r"SOFTWARE\Korvane"))


if __name__ == "__main__":
    unittest.main()

"""End to end: installers built with mkpayload run under Wine with Java kits
registered in the prefix's registry, and put their .jar and .dll files into the
kits' extension directories with one installation record per copy.

The extractor is a 32-bit program: in the prefix's 64-bit registry it sees
HKLM\\SOFTWARE through the 32-bit view (Wow6432Node), so the kits are written
with reg.exe's /reg:32 and the records are read back by a 32-bit test tool
(dump_registry_values.exe) that prints each value's exact type, length and bytes."""
import datetime
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time
import unittest

import winekit

DUMP_TOOL = winekit.WIN32_DIR / "javaext" / "dump_registry_values.exe"
JDK = "Java Development Kit"
JRE = "Java Runtime Environment"
RECORD_KEY = r"SOFTWARE\Korvane\Java\Installed"
REG_SZ = 1
TIME_TEXT = re.compile(rb"^(Sun|Mon|Tue|Wed|Thu|Fri|Sat) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                       rb"(\d\d) (\d\d):(\d\d):(\d\d) (\d{4})\n$")


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def import_registry(kits=(), extra_lines=()):
    """Removes every JavaSoft kit and every record (32-bit view), then registers
    `kits`: (kit name, version or None, home or None, home as REG_BINARY)."""
    lines = ["REGEDIT4", "", r"[-HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft]", r"[-HKEY_LOCAL_MACHINE\SOFTWARE\Korvane]", ""]
    for kit, version, home, home_binary in kits:
        lines.append(rf"[HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft\{kit}]")
        if version is not None:
            lines.append('"CurrentVersion"=' + reg_string(version))
            lines.append("")
            lines.append(rf"[HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft\{kit}\{version}]")
            lines.append('"RuntimeLib"="unused"')
            if home is not None and home_binary:
                lines.append('"JavaHome"=hex:' + ",".join(f"{b:02x}" for b in home.encode("ascii")))
            elif home is not None:
                lines.append('"JavaHome"=' + reg_string(home))
        lines.append("")
    lines.extend(extra_lines)
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False, newline="\r\n") as f:
        f.write("\n".join(lines) + "\n")
    try:
        rc, out = winekit.reg("import", winekit.win_path(f.name), "/reg:32")
        assert rc == 0, f"reg import: {out}"
    finally:
        os.unlink(f.name)


def dump_lines(key):
    """The dump tool's lines for HKLM\\key (32-bit view), split at tabs, or None
    when the key does not exist."""
    with tempfile.TemporaryFile() as out:
        rc = subprocess.run(["wine", str(DUMP_TOOL), key], stdout=out, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, env=winekit.wine_env(), timeout=120).returncode
        out.seek(0)
        text = out.read().decode("latin-1")
    if rc == 2:
        return None
    assert rc == 0, f"dump_registry_values {key}: exit {rc}"
    return [line.split("\t") for line in text.splitlines()]


def dump_key(key):
    """Values and subkeys of HKLM\\key as the 32-bit extractor sees them, or None
    when the key does not exist. Values: {name: (type, data bytes)}."""
    lines = dump_lines(key)
    if lines is None:
        return None
    values, subkeys = {}, []
    for fields in lines:
        if fields[0] == "value":
            name, kind, length, data = fields[1], int(fields[2]), int(fields[3]), bytes.fromhex(fields[4])
            assert len(data) == length
            values[name] = (kind, data)
        elif fields[0] == "subkey":
            subkeys.append(fields[1])
    return values, subkeys


def tree(root):
    """Every file (with its bytes) and directory below root, by relative path."""
    found = {}
    for path in sorted(pathlib.Path(root).rglob("*")):
        rel = path.relative_to(root).as_posix()
        found[rel] = path.read_bytes() if path.is_file() else None
    return found


class JavaExtensionInstallation(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        winekit.ensure_prefix()
        for tool in (winekit.EXTRACTOR, winekit.MKPAYLOAD, DUMP_TOOL):
            assert tool.exists(), f"missing {tool}: build the win32 and host trees first"

    def setUp(self):
        winekit.clear_temp()
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="kvn-javaext-"))
        self.sources = self.root / "sources"
        self.sources.mkdir()
        self.kits = self.root / "kits"
        self.kits.mkdir()

    def tearDown(self):
        import_registry()  # the prefix is shared by every end-to-end test of the run
        shutil.rmtree(self.root, ignore_errors=True)

    # --- helpers ---------------------------------------------------------

    def make_home(self, relative, *subdirs):
        home = self.kits / relative
        for sub in subdirs or ("",):
            (home / sub).mkdir(parents=True, exist_ok=True)
        return home

    def source(self, name, content):
        path = self.sources / name.replace("/", "_")
        path.write_bytes(content)
        return f"{name}={path}"

    def run_installer(self, entries, execs=()):
        installer = self.root / "installer.exe"
        args = ["--stub", winekit.EXTRACTOR, "-o", installer, "--store"]
        for command in execs:
            args += ["--exec", command]
        winekit.mkpayload(*args, *entries)
        self.start = time.time()
        run = winekit.run_program(installer)
        self.end = time.time()
        self.assertEqual(run.rc, 0, run)
        self.assertEqual(run.message_boxes, [], run)
        # The extracted files are gone from the work directory, whatever was installed.
        work = winekit.only_work_dir()
        leftover = sorted(p.name for p in work.iterdir() if p.is_file() and not p.name.startswith("."))
        self.assertEqual(leftover, [], "extracted files not deleted")
        return run

    def records(self):
        """The record values, after checking that the record keys hold nothing else."""
        korvane = dump_key(r"SOFTWARE\Korvane")
        if korvane is None:
            return None
        self.assertEqual(korvane, ({}, ["Java"]))
        self.assertEqual(dump_key(r"SOFTWARE\Korvane\Java"), ({}, ["Installed"]))
        values, subkeys = dump_key(RECORD_KEY)
        self.assertEqual(subkeys, [])
        return values

    def assert_time_record(self, name, kind, data):
        """REG_SZ, exactly 25 bytes, a consistent UTC time text within the run."""
        self.assertEqual(kind, REG_SZ, name)
        self.assertEqual(len(data), 25, f"{name}: {data!r}")
        self.assertRegex(data, TIME_TEXT, name)
        stamp = datetime.datetime.strptime(data[:24].decode("ascii"), "%a %b %d %H:%M:%S %Y").replace(
            tzinfo=datetime.timezone.utc)
        self.assertEqual(stamp.strftime("%a %b %d %H:%M:%S %Y\n").encode("ascii"), data, "weekday or layout")
        self.assertGreaterEqual(stamp.timestamp(), int(self.start) - 1, name)
        self.assertLessEqual(stamp.timestamp(), self.end + 1, name)

    def assert_records(self, expected_destinations):
        values = self.records()
        self.assertIsNotNone(values, "no record key")
        self.assertEqual(sorted(values), sorted(expected_destinations))
        for name, (kind, data) in values.items():
            self.assert_time_record(name, kind, data)

    def win(self, path):
        return winekit.win_path(path)

    # --- cases -----------------------------------------------------------

    def test_both_kits_receive_every_archive_and_library_with_a_record_each(self):
        jdk = self.make_home("jdk1.8", "jre/lib")
        jre = self.make_home("jre1.8", "lib")
        import_registry([(JDK, "1.8", self.win(jdk), False), (JRE, "1.8", self.win(jre), False)])
        before = tree(self.kits)
        contents = {
            "Tools.JAR": b"tools archive\x00\xff",
            "Port.Dll": b"MZ native library",
            "a.jar.bak": b"backup",
            ".x.jar": b"hidden",
            "README": b"no extension",
            "plain.jar": os.urandom(70000),
        }
        self.run_installer([self.source(n, c) for n, c in contents.items()], execs=["mkdir sub.jar"])

        expected = dict(before)
        for ext in (jdk / "jre" / "lib" / "ext", jre / "lib" / "ext"):
            rel = ext.relative_to(self.kits).as_posix()
            expected.update({rel: None, rel + "/x86": None, rel + "/Tools.JAR": contents["Tools.JAR"],
                             rel + "/plain.jar": contents["plain.jar"], rel + "/x86/Port.Dll": contents["Port.Dll"]})
        self.assertEqual(tree(self.kits), expected)  # nothing else: no .bak, .x.jar, README, _SELF, sub.jar
        jdk_ext, jre_ext = self.win(jdk) + r"\jre\lib\ext", self.win(jre) + r"\lib\ext"
        self.assert_records([jdk_ext + r"\Tools.JAR", jdk_ext + r"\plain.jar", jdk_ext + r"\x86\Port.Dll",
                             jre_ext + r"\Tools.JAR", jre_ext + r"\plain.jar", jre_ext + r"\x86\Port.Dll"])
        # The command entry's directory stays in the work directory, untouched.
        self.assertTrue((winekit.only_work_dir() / "sub.jar").is_dir())

    def test_neither_kit_registered_creates_and_records_nothing(self):
        import_registry()
        home = self.make_home("jre1.8", "lib")
        before = tree(self.kits)
        self.run_installer([self.source("a.jar", b"A"), self.source("b.dll", b"B")])
        self.assertEqual(tree(self.kits), before)
        self.assertIsNone(dump_key(r"SOFTWARE\Korvane"))
        self.assertTrue(home.is_dir())

    def test_version_without_java_home_installs_nothing_for_that_kit(self):
        jdk = self.make_home("jdk1.8", "jre/lib")
        jre = self.make_home("jre1.8", "lib")
        # JDK: "CurrentVersion" names a key that has no "JavaHome"; JRE: registered.
        import_registry([(JDK, "1.8", None, False), (JRE, "1.8", self.win(jre), False)])
        before = tree(self.kits)
        self.run_installer([self.source("a.jar", b"archive")])
        expected = dict(before)
        expected.update({"jre1.8/lib/ext": None, "jre1.8/lib/ext/x86": None, "jre1.8/lib/ext/a.jar": b"archive"})
        self.assertEqual(tree(self.kits), expected)
        self.assertFalse((jdk / "jre" / "lib" / "ext").exists())
        self.assert_records([self.win(jre) + r"\lib\ext\a.jar"])

    def test_development_kit_without_jre_folder_gets_no_copies_and_no_records(self):
        jdk = self.make_home("jdk1.8", "lib")  # a lib folder, but no jre
        import_registry([(JDK, "1.8", self.win(jdk), False)])
        before = tree(self.kits)
        self.run_installer([self.source("a.jar", b"A"), self.source("b.dll", b"B")])
        self.assertEqual(tree(self.kits), before)
        self.assertIsNone(dump_key(r"SOFTWARE\Korvane"))

    def test_both_kits_resolving_to_one_extension_directory_keep_one_record_per_file(self):
        jdk = self.make_home("java", "jre/lib")
        import_registry([(JDK, "1.8", self.win(jdk), False), (JRE, "1.8", self.win(jdk / "jre"), False)])
        self.run_installer([self.source("a.jar", b"A"), self.source("b.dll", b"B")])
        ext = jdk / "jre" / "lib" / "ext"
        self.assertEqual((ext / "a.jar").read_bytes(), b"A")
        self.assertEqual((ext / "x86" / "b.dll").read_bytes(), b"B")
        win_ext = self.win(ext)
        self.assert_records([win_ext + r"\a.jar", win_ext + r"\x86\b.dll"])

    def test_existing_file_is_replaced_and_its_record_renewed(self):
        jre = self.make_home("jre1.8", "lib/ext/x86")
        (jre / "lib" / "ext" / "a.jar").write_bytes(b"old archive, longer than the new one")
        (jre / "lib" / "ext" / "other.jar").write_bytes(b"not ours")
        destination = self.win(jre) + r"\lib\ext\a.jar"
        import_registry([(JRE, "1.8", self.win(jre), False)], extra_lines=[
            rf"[HKEY_LOCAL_MACHINE\{RECORD_KEY}]", reg_string(destination) + '="Mon Jan 01 00:00:00 2001"', ""])
        self.assertTrue(self.records()[destination][1].startswith(b"Mon Jan 01 00:00:00 2001"))
        self.run_installer([self.source("a.jar", b"new")])
        self.assertEqual((jre / "lib" / "ext" / "a.jar").read_bytes(), b"new")
        self.assertEqual((jre / "lib" / "ext" / "other.jar").read_bytes(), b"not ours")
        self.assert_records([destination])

    def test_home_ending_in_backslash_gives_doubled_separator_in_record(self):
        jre = self.make_home("jre1.8", "lib")
        home = self.win(jre) + "\\"
        import_registry([(JRE, "1.8", home, False)])
        self.run_installer([self.source("a.jar", b"A"), self.source("b.dll", b"B")])
        self.assertEqual((jre / "lib" / "ext" / "a.jar").read_bytes(), b"A")
        self.assertEqual((jre / "lib" / "ext" / "x86" / "b.dll").read_bytes(), b"B")
        self.assert_records([home + r"\lib\ext\a.jar", home + r"\lib\ext\x86\b.dll"])

    def test_java_home_stored_without_nul_is_read_to_its_end(self):
        # Binary data holding just the path's bytes: taken as text, ended after its last byte.
        jre = self.make_home("jre1.8", "lib")
        import_registry([(JRE, "1.8", self.win(jre), True)])
        self.run_installer([self.source("a.jar", b"A")])
        self.assertEqual((jre / "lib" / "ext" / "a.jar").read_bytes(), b"A")
        self.assert_records([self.win(jre) + r"\lib\ext\a.jar"])

    def test_destination_over_260_characters_is_neither_copied_nor_recorded(self):
        # A home deep enough that lib\ext\ plus a name reaches the 260-character limit.
        base = self.win(self.kits)
        depth = 200 - len(base)
        self.assertGreater(depth, 10, "temporary directory path too long for this test")
        jre = self.make_home("j" * (depth - 1), "lib")
        ext = self.win(jre) + r"\lib\ext"
        fits = "f" * (260 - len(ext) - 1 - 4) + ".jar"   # destination of exactly 260 characters
        too_long = "t" * (261 - len(ext) - 1 - 4) + ".jar"  # 261 characters
        self.assertEqual(len(ext + "\\" + fits), 260)
        import_registry([(JRE, "1.8", self.win(jre), False)])
        self.run_installer([self.source(fits, b"fits"), self.source(too_long, b"too long")])
        self.assertEqual(sorted(p.name for p in (jre / "lib" / "ext").iterdir()), sorted([fits, "x86"]))
        self.assert_records([ext + "\\" + fits])


if __name__ == "__main__":
    unittest.main()

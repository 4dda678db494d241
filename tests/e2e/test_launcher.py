"""End-to-end tests of Orvel6Launcher under Wine.

The launcher starts `javaw` by its bare name. A stand-in javaw.exe (a test program,
launcher_support/javaw_standin.cpp) put beside the launcher records its exact
command line, show command, working directory and own path; it learns where to
write from KVN_JAVAW_RECORD, which reaches it only through the environment that
the launcher passes on. The tests wait, with a bound, for that record; where a
test shows that no javaw was started, it first waits until every process of the
Wine prefix has ended, so a javaw that had been started would have written it. To give the launcher an exact raw command line (quoted or
unquoted program name, blanks, quotes), it is started by kvn_run_exact.exe, which
hands a command line read from a file to CreateProcessW and reports the exit code.
One test runs the real Java of the machine through a javaw.exe shell script that
Wine starts as a Linux program. The resources are read back from the built file
with wrestool (icoutils)."""
import os
import pathlib
import shutil
import struct
import subprocess
import tempfile
import unittest

import winekit
from file_events import wait_for_file

LAUNCHER = winekit.WIN32_DIR / "Orvel6Launcher.exe"
SUPPORT_BUILD = winekit.WIN32_DIR / "launcher" / "test_support"
STANDIN = SUPPORT_BUILD / "kvn_javaw_standin.exe"
RUNNER = SUPPORT_BUILD / "kvn_run_exact.exe"
SUPPORT_SOURCES = pathlib.Path(__file__).resolve().parent / "launcher_support"

MAX_COMMAND_LINE = 32767  # UTF-16 units that CreateProcessW takes, NUL included
ERROR_FILE_NOT_FOUND = 2
ERROR_FILENAME_EXCED_RANGE = 206
MB_ICONERROR = 0x10
SW_SHOWMINIMIZED = 2
STARTF_USESHOWWINDOW = 1


def java_command_line(directory, tail):
    return f'javaw -jar "{directory}\\Orvel63.jar" {tail}'


def split_arguments(text):
    """A command line split into arguments by the Microsoft C runtime's rules, which
    Java's launcher and Wine (for Linux programs) follow: blanks separate, double
    quotes group, 2n backslashes before a quote give n and the quote counts, 2n+1
    give n and a literal quote, other backslashes are literal."""
    args, current, in_arg, quoted, i = [], [], False, False, 0
    while i < len(text):
        c = text[i]
        if c in " \t" and not quoted:
            if in_arg:
                args.append("".join(current))
                current, in_arg = [], False
            i += 1
            continue
        in_arg = True
        if c == "\\":
            n = 0
            while i < len(text) and text[i] == "\\":
                n, i = n + 1, i + 1
            if i < len(text) and text[i] == '"':
                current.append("\\" * (n // 2))
                if n % 2:
                    current.append('"')
                    i += 1
            else:
                current.append("\\" * n)
            continue
        if c == '"':
            if quoted and i + 1 < len(text) and text[i + 1] == '"':
                current.append('"')
                i += 2
                continue
            quoted = not quoted
            i += 1
            continue
        current.append(c)
        i += 1
    if in_arg:
        args.append("".join(current))
    return args


class LauncherTestCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        for program in (LAUNCHER, STANDIN, RUNNER):
            if not program.exists():
                raise unittest.SkipTest(f"{program} is not built")
        winekit.ensure_prefix()

    def setUp(self):
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="kvn-launcher-")).resolve()
        self.addCleanup(shutil.rmtree, self.root, True)
        self.record = self.root / "javaw-record.bin"

    def install(self, directory, javaw=True):
        """The launcher (and the stand-in as javaw.exe) in `directory`; returns the
        launcher's Windows path."""
        directory.mkdir(parents=True, exist_ok=True)
        shutil.copy(LAUNCHER, directory / "Orvel6Launcher.exe")
        if javaw:
            shutil.copy(STANDIN, directory / "javaw.exe")
        return winekit.win_path(directory / "Orvel6Launcher.exe")

    def environment(self, **extra):
        env = {"KVN_JAVAW_RECORD": winekit.win_path(self.record), "WINEPATH": ""}
        env.update(extra)
        return env

    def run_exact(self, command_line, cwd=None, env=None):
        """Starts `command_line` exactly as given; returns (launcher exit code, Run)."""
        command_file = self.root / "command-line.txt"
        command_file.write_bytes(command_line.encode("utf-8"))
        run = winekit.run_program(RUNNER, [winekit.win_path(command_file)], cwd=cwd,
                                  env=env or self.environment(), space_runs=False)
        fields = dict(line.split("=", 1) for line in run.stdout.split() if "=" in line)
        self.assertNotIn("create_error", fields, f"the runner could not start {command_line!r}: {run.stdout}")
        self.assertIn("exit", fields, f"runner output: {run.stdout!r} {run.stderr[-2000:]}")
        return int(fields["exit"]), run

    def javaw_record(self):
        """What the stand-in javaw recorded: command line, STARTUPINFO flags and show
        command, working directory, its own path."""
        self.assertTrue(wait_for_file(self.record), "javaw was not started")
        fields = self.record.read_bytes().decode("utf-16-le").split("\0")
        return {"command_line": fields[0], "flags": int(fields[1]), "show": int(fields[2]),
                "cwd": fields[3], "module": fields[4]}

    def assert_started(self, exit_code, run, expected_command_line, javaw_dir=None, cwd=None):
        self.assertEqual(exit_code, 0)
        self.assertEqual(run.message_boxes, [])
        record = self.javaw_record()
        self.assertEqual(record["command_line"], expected_command_line)
        self.assertTrue(record["flags"] & STARTF_USESHOWWINDOW)
        self.assertEqual(record["show"], SW_SHOWMINIMIZED)
        if javaw_dir is not None:
            self.assertEqual(record["module"].lower(), winekit.win_path(javaw_dir / "javaw.exe").lower())
        if cwd is not None:
            self.assertEqual(record["cwd"].rstrip("\\").lower(), winekit.win_path(cwd).lower())
        return record


class LauncherCommandLineTest(LauncherTestCase):
    def assert_launch(self, kit, command_line, tail):
        """Installs the launcher in `kit`, starts `command_line` with {exe} replaced by
        the launcher's path, and checks that javaw got the archive beside the
        launcher and then exactly `tail`. Returns javaw's record."""
        exe = self.install(kit)
        code, run = self.run_exact(command_line.replace("{exe}", exe))
        return self.assert_started(code, run, java_command_line(winekit.win_path(kit), tail), kit)

    def test_no_arguments_ends_in_the_closing_quote_and_one_space(self):
        record = self.assert_launch(self.root / "kit", '"{exe}"', "")
        self.assertTrue(record["command_line"].endswith('Orvel63.jar" '))

    def test_arguments_reach_javaw_unchanged(self):
        tail = ('-mode 2 "two words" say\\"hi\\" C:\\path\\ "ends in\\\\" a""b \\\\server\\share '
                '\u00e4\u00f6\u00fc\u00df \u041e\u0440\u0432\u0435\u043b \u65e5\u672c \U0001F600 tab\there')
        self.assert_launch(self.root / "kit", '"{exe}" ' + tail, tail)

    def test_blanks_before_the_first_argument_are_dropped_trailing_ones_kept(self):
        self.assert_launch(self.root / "kit", '"{exe}" \t   -x  "y z"\t ', '-x  "y z"\t ')

    def test_only_blanks_after_the_name_give_an_empty_tail(self):
        self.assert_launch(self.root / "kit", '"{exe}"   \t ', "")

    def test_directory_with_spaces(self):
        self.assert_launch(self.root / "Orvel 6 Kit" / "two  spaces", '"{exe}" -x', "-x")

    def test_unquoted_launcher_path(self):
        self.assert_launch(self.root / "kit", "{exe} -a b", "-a b")

    def test_unquoted_launcher_path_with_spaces(self):
        # The system finds "...\My Kit\Orvel6Launcher.exe" by trying each blank in
        # turn; the launcher must not take "Kit\Orvel6Launcher.exe" for an argument.
        self.assert_launch(self.root / "My Kit", "{exe} -a b", "-a b")

    def test_unquoted_launcher_name_without_extension(self):
        kit = self.root / "My Kit"
        exe = self.install(kit)
        code, run = self.run_exact(f"{exe[:-4]} -a")
        self.assert_started(code, run, java_command_line(winekit.win_path(kit), "-a"), kit)

    def test_arguments_as_wine_quotes_them_split_back_the_same(self):
        kit = self.root / "kit"
        self.install(kit)
        args = ["two words", 'say "hi"', "C:\\dir\\", "", "\u00e4 \u041e\u0440\u0432\u0435\u043b"]
        run = winekit.run_program(kit / "Orvel6Launcher.exe", args, env=self.environment(), space_runs=False)
        self.assertEqual(run.rc, 0)
        record = self.javaw_record()
        head = java_command_line(winekit.win_path(kit), "")
        self.assertTrue(record["command_line"].startswith(head), record["command_line"])
        self.assertEqual(split_arguments(record["command_line"][len(head):]), args)

    def test_started_from_another_working_directory(self):
        kit = self.root / "kit"
        elsewhere = self.root / "elsewhere"
        elsewhere.mkdir()
        exe = self.install(kit)
        code, run = self.run_exact(f'"{exe}" x', cwd=elsewhere)
        # The archive is the one beside the launcher; javaw runs in the launcher's
        # working directory, not in the launcher's folder.
        self.assert_started(code, run, java_command_line(winekit.win_path(kit), "x"), kit, cwd=elsewhere)

    def test_launcher_in_a_drive_root(self):
        drive_dir = self.root / "drive"
        drive_dir.mkdir()
        letter = self.map_drive(drive_dir)
        self.install(drive_dir)
        code, run = self.run_exact(f"{letter}:\\Orvel6Launcher.exe -x")
        # The root keeps its backslash, so the archive path holds two in a row.
        record = self.assert_started(code, run, f'javaw -jar "{letter}:\\\\Orvel63.jar" -x')
        self.assertEqual(record["module"].upper(), f"{letter}:\\JAVAW.EXE")

    def map_drive(self, target):
        dosdevices = winekit.PREFIX / "dosdevices"
        for letter in "xwvuts":
            link = dosdevices / f"{letter}:"
            if not os.path.lexists(link):
                link.symlink_to(target)
                self.addCleanup(link.unlink)
                return letter.upper()
        self.skipTest("no free drive letter in the prefix")

    def test_long_directory(self):
        # Deeper than MAX_PATH: the launcher's own path no longer fits 260 characters.
        kit = self.root
        while len(winekit.win_path(kit)) < 300:
            kit = kit / ("deep-folder-" + "x" * 40)
        self.install(kit)
        # Wine's program search stops at MAX_PATH, so javaw comes from WINEPATH here.
        javaw_dir = self.root / "java"
        javaw_dir.mkdir()
        shutil.copy(STANDIN, javaw_dir / "javaw.exe")
        (kit / "javaw.exe").unlink()
        run = winekit.run_program(kit / "Orvel6Launcher.exe", ["-x"], cwd=kit,
                                  env=self.environment(WINEPATH=winekit.win_path(javaw_dir)), space_runs=False)
        self.assertEqual(run.rc, 0, run.message_boxes)
        record = self.javaw_record()
        self.assertEqual(record["command_line"], java_command_line(winekit.win_path(kit), "-x"))
        self.assertEqual(record["module"].lower(), winekit.win_path(javaw_dir / "javaw.exe").lower())


class LauncherFailureTest(LauncherTestCase):
    def test_no_javaw_anywhere_one_message_and_no_process(self):
        kit = self.root / "kit"
        self.install(kit, javaw=False)
        empty = self.root / "empty"
        empty.mkdir()
        run = winekit.run_program(kit / "Orvel6Launcher.exe", ["-x"], cwd=empty, env=self.environment(),
                                  space_runs=False)
        self.assertEqual(run.rc, ERROR_FILE_NOT_FOUND)
        self.assertEqual(len(run.message_boxes), 1, run.message_boxes)
        text, caption, flags = run.message_boxes[0]
        self.assertEqual(caption, "Orvel6Launcher")
        self.assertEqual(flags, MB_ICONERROR)
        first_line, _, system_part = text.partition("\r\n\r\n")
        self.assertEqual(first_line, "The Java runtime (javaw) could not be started.")
        # The system's own text for the error, then its code.
        self.assertRegex(system_part, r"^\S.*\S \(error 2\)$")
        winekit.wait_until_prefix_idle()
        self.assertFalse(self.record.exists(), "a javaw process was started")

    def test_longest_command_line_is_started_one_longer_is_refused(self):
        kit = self.root / "kit"
        exe = self.install(kit)
        head = java_command_line(winekit.win_path(kit), "")
        fits = MAX_COMMAND_LINE - 1 - len(head)  # tail length that just fits, NUL included

        code, run = self.run_exact(f'"{exe}" ' + "a" * fits)
        record = self.assert_started(code, run, head + "a" * fits, kit)
        self.assertEqual(len(record["command_line"]), MAX_COMMAND_LINE - 1)

        self.record.unlink()
        code, run = self.run_exact(f'"{exe}" ' + "a" * (fits + 1))
        self.assertEqual(code, ERROR_FILENAME_EXCED_RANGE)
        self.assertEqual(len(run.message_boxes), 1, run.message_boxes)
        self.assertTrue(run.message_boxes[0][0].startswith("The command line for javaw is too long.\r\n\r\n"))
        self.assertTrue(run.message_boxes[0][0].endswith("(error 206)"))
        winekit.wait_until_prefix_idle()
        self.assertFalse(self.record.exists(), "a javaw process was started")

    def test_missing_archive_is_not_the_launchers_error(self):
        kit = self.root / "kit"
        exe = self.install(kit)
        self.assertFalse((kit / "Orvel63.jar").exists())
        code, run = self.run_exact(f'"{exe}"')
        self.assert_started(code, run, java_command_line(winekit.win_path(kit), ""), kit)


class LauncherLifetimeTest(LauncherTestCase):
    def test_launcher_ends_without_waiting_for_java(self):
        kit = self.root / "kit"
        exe = self.install(kit)
        done = self.record.with_name(self.record.name + ".done")
        release = self.root / "release-javaw"
        self.addCleanup(self.release_javaw, release, done)
        code, run = self.run_exact(f'"{exe}" -x', env=self.environment(KVN_JAVAW_HOLD=winekit.win_path(release)))
        # The runner has seen the launcher end; the stand-in stays until it is released.
        self.assertFalse(done.exists(), "the launcher waited for javaw")
        self.assert_started(code, run, java_command_line(winekit.win_path(kit), "-x"), kit)
        self.assertFalse(done.exists(), "the launcher waited for javaw")
        self.release_javaw(release, done)
        self.assertTrue(done.exists(), "the stand-in javaw did not run to its end")
        self.assertEqual(done.read_bytes().decode("utf-16-le"), "released")

    @staticmethod
    def release_javaw(release, done):
        """Lets the held stand-in go and waits for it to end (a second call finds it
        ended at once)."""
        release.touch()
        wait_for_file(done)


class LauncherRealJavaTest(LauncherTestCase):
    """The real Java runtime of the machine behind a javaw.exe shell script: Wine
    starts a Linux script as a Linux program, with the Windows command line split
    into arguments as Java's own launcher would split it on Windows."""

    def setUp(self):
        super().setUp()
        self.java = {tool: shutil.which(tool) for tool in ("java", "javac", "jar", "winepath")}
        missing = [tool for tool, path in self.java.items() if not path]
        if missing:
            self.skipTest("no Java runtime on this machine (missing: " + ", ".join(missing) + ")")

    def build_archive(self, kit):
        classes = self.root / "classes"
        subprocess.run([self.java["javac"], "-d", str(classes), str(SUPPORT_SOURCES / "Orvel63App.java")],
                       check=True, capture_output=True)
        subprocess.run([self.java["jar"], "--create", "--file", str(kit / "Orvel63.jar"),
                        "--main-class", "Orvel63App", "-C", str(classes), "."], check=True, capture_output=True)

    def write_shim(self, kit, args_out, archive_seen):
        shim = kit / "javaw.exe"
        shim.write_text(
            "#!/bin/sh\n"
            "# javaw for the launcher's real-Java test: -jar <Windows path of the archive> <arguments>\n"
            "export LC_ALL=C.UTF-8\n"
            '[ "$1" = "-jar" ] || exit 64\n'
            f"printf '%s' \"$2\" > '{archive_seen}'\n"
            f"jar=$(WINEPREFIX='{winekit.PREFIX}' WINEDEBUG=-all '{self.java['winepath']}' -u \"$2\") || exit 65\n"
            "shift 2\n"
            f"exec '{self.java['java']}' -Dkvn.args.out='{args_out}' -jar \"$jar\" \"$@\"\n")
        shim.chmod(0o755)

    def test_real_java_receives_the_arguments(self):
        kit = self.root / "Orvel 6 Kit"
        exe = self.install(kit, javaw=False)
        self.build_archive(kit)
        args_out = self.root / "java-args.bin"
        archive_seen = self.root / "archive-path.txt"
        self.write_shim(kit, args_out, archive_seen)
        elsewhere = self.root / "elsewhere"
        elsewhere.mkdir()

        tail = '-mode 2 "two words" say\\"hi\\" C:\\dir\\ "ends in\\\\" \u00e4\u00f6 \u041e\u0440\u0432\u0435\u043b'
        code, run = self.run_exact(f'"{exe}" {tail}', cwd=elsewhere,
                                   env=self.environment(LC_ALL="C.UTF-8"))
        self.assertEqual(code, 0)
        self.assertEqual(run.message_boxes, [])
        self.assertTrue(wait_for_file(args_out, 120), "the Java application did not run")
        fields = args_out.read_bytes().decode("utf-8").split("\0")[:-1]
        self.assertEqual(archive_seen.read_text(), winekit.win_path(kit) + "\\Orvel63.jar")
        self.assertEqual(pathlib.Path(fields[0]).resolve(), elsewhere)
        self.assertEqual(fields[1:], split_arguments(tail))
        self.assertEqual(fields[1:], ["-mode", "2", "two words", 'say"hi"', "C:\\dir\\", "ends in\\",
                                      "\u00e4\u00f6", "\u041e\u0440\u0432\u0435\u043b"])


class LauncherResourcesTest(unittest.TestCase):
    """The icon group and version block, read back from the built executable."""

    @classmethod
    def setUpClass(cls):
        if not LAUNCHER.exists():
            raise unittest.SkipTest(f"{LAUNCHER} is not built")
        if not shutil.which("wrestool"):
            raise unittest.SkipTest("wrestool (icoutils) is not installed")

    def resource(self, kind, name):
        proc = subprocess.run(["wrestool", "-x", "--raw", f"--type={kind}", f"--name={name}", str(LAUNCHER)],
                              capture_output=True, check=True)
        self.assertTrue(proc.stdout, f"no resource type {kind} name {name}")
        return proc.stdout

    def test_resource_list(self):
        listing = subprocess.run(["wrestool", "-l", str(LAUNCHER)], capture_output=True, text=True,
                                 check=True).stdout
        entries = [(line.split("--type=")[1].split()[0], line.split("--name=")[1].split()[0])
                   for line in listing.splitlines() if "--type=" in line]
        icons = [name for kind, name in entries if kind == "3"]
        self.assertEqual(icons, [str(i) for i in range(30001, 30012)])
        self.assertEqual([name for kind, name in entries if kind == "14"], ["1"])
        self.assertEqual([name for kind, name in entries if kind == "16"], ["1"])

    def test_icon_group_of_eleven_images_in_order(self):
        group = self.resource(14, 1)
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((reserved, kind, count), (0, 1, 11))
        expected = [(16, 8), (16, 32)] + [(side, bits) for side in (32, 48, 64) for bits in (4, 8, 32)]
        for index, (side, bits) in enumerate(expected):
            width, height, colours, _, planes, bit_count, size, ident = struct.unpack_from(
                "<BBBBHHIH", group, 6 + 14 * index)
            self.assertEqual((width, height, bit_count, ident), (side, side, bits, 30001 + index))
            self.assertEqual(colours, 16 if bits == 4 else 0)
            self.assertEqual(planes, 1)
            image = self.resource(3, ident)
            self.assertEqual(len(image), size)
            self.check_image(image, side, bits)

    def check_image(self, image, side, bits):
        (header_size, width, height, planes, bit_count, compression, _, _, _, colours_used,
         _) = struct.unpack_from("<IiiHHIIiiII", image)
        self.assertEqual((header_size, width, height, planes, bit_count, compression),
                         (40, side, 2 * side, 1, bits, 0))
        palette = (1 << bits) if bits <= 8 else 0  # 16 or 256 colours, none for 32 bits
        self.assertIn(colours_used, (0, palette))
        row = lambda b: ((b * side + 31) // 32) * 4
        self.assertEqual(len(image), 40 + 4 * palette + row(bits) * side + row(1) * side)
        # A drawn picture: transparent corners, an opaque middle.
        mask = image[40 + 4 * palette + row(bits) * side:]
        bit = lambda x, y: mask[(side - 1 - y) * row(1) + x // 8] & (0x80 >> (x % 8))
        self.assertTrue(bit(0, 0) and bit(side - 1, side - 1), "corners should be transparent")
        self.assertFalse(bit(side // 2, side // 2), "the middle should be opaque")

    def test_icotool_reads_the_group(self):
        if not shutil.which("icotool"):
            self.skipTest("icotool is not installed")
        with tempfile.TemporaryDirectory() as tmp:
            ico = pathlib.Path(tmp) / "group.ico"
            subprocess.run(["wrestool", "-x", "--type=14", "--name=1", "-o", str(ico), str(LAUNCHER)], check=True)
            listing = subprocess.run(["icotool", "-l", str(ico)], capture_output=True, text=True,
                                     check=True).stdout.split()
        sizes = [(int(w.split("=")[1]), int(d.split("=")[1]))
                 for w, d in zip([x for x in listing if x.startswith("--width=")],
                                 [x for x in listing if x.startswith("--bit-depth=")])]
        self.assertEqual(sizes, [(16, 8), (16, 32)] + [(s, b) for s in (32, 48, 64) for b in (4, 8, 32)])

    def test_version_block(self):
        root = parse_version_node(self.resource(16, 1), 0)
        self.assertEqual(root["key"], "VS_VERSION_INFO")
        (signature, _, file_ms, file_ls, product_ms, product_ls, _, _, _, file_type,
         _, _, _) = struct.unpack("<13I", root["value"])
        self.assertEqual(signature, 0xFEEF04BD)
        self.assertEqual((file_ms, file_ls, product_ms, product_ls), (0x00010000, 0, 0x00010000, 0))
        self.assertEqual(file_type, 1)  # VFT_APP
        children = {child["key"]: child for child in root["children"]}
        tables = children["StringFileInfo"]["children"]
        self.assertEqual([t["key"] for t in tables], ["040904B0"])
        strings = {s["key"]: s["value"].decode("utf-16-le").rstrip("\0") for s in tables[0]["children"]}
        self.assertEqual(strings["FileVersion"], "1.00")
        self.assertEqual(strings["ProductVersion"], "1.00")
        self.assertEqual(strings["InternalName"], "Orvel6Launcher")
        self.assertEqual(strings["OriginalFilename"], "Orvel6Launcher.exe")
        self.assertEqual(strings["CompanyName"], "Korvane")
        self.assertTrue(strings["ProductName"])
        translation = children["VarFileInfo"]["children"][0]
        self.assertEqual(translation["key"], "Translation")
        self.assertEqual(struct.unpack("<HH", translation["value"]), (0x0409, 1200))

    def test_32_bit_gui_program_importing_only_system_dlls(self):
        data = LAUNCHER.read_bytes()
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        self.assertEqual(data[pe:pe + 4], b"PE\0\0")
        self.assertEqual(struct.unpack_from("<H", data, pe + 4)[0], 0x14C)  # i386
        self.assertEqual(struct.unpack_from("<H", data, pe + 24)[0], 0x10B)  # PE32
        self.assertEqual(struct.unpack_from("<H", data, pe + 24 + 68)[0], 2)  # Windows GUI
        objdump = shutil.which("i686-w64-mingw32-objdump")
        if not objdump:
            self.skipTest("i686-w64-mingw32-objdump is not installed")
        dump = subprocess.run([objdump, "-p", str(LAUNCHER)], capture_output=True, text=True, check=True).stdout
        dlls = {line.split(":", 1)[1].strip().lower() for line in dump.splitlines() if "DLL Name:" in line}
        self.assertTrue(dlls)
        self.assertLessEqual(dlls, {"kernel32.dll", "user32.dll", "msvcrt.dll"})


def parse_version_node(data, offset):
    """One node of a VS_VERSIONINFO tree: wLength, wValueLength, wType, the key as
    NUL-ended UTF-16, padding to 4 bytes, the value (wValueLength bytes when binary,
    characters when text), padding, then the child nodes up to wLength."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, offset)
    end = offset + length
    key_end = offset + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[offset + 6:key_end].decode("utf-16-le")
    at = (key_end + 2 + 3) & ~3
    value_bytes = value_length * 2 if value_type == 1 else value_length
    node = {"key": key, "value": data[at:at + value_bytes], "children": []}
    at = (at + value_bytes + 3) & ~3
    while at < end:
        child = parse_version_node(data, at)
        node["children"].append(child)
        at = (at + child["length"] + 3) & ~3
    node["length"] = length
    return node


if __name__ == "__main__":
    unittest.main()

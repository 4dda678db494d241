"""Shared harness of the end-to-end tests: runs the kit's Windows programs under
Wine in one prefix per test run and reports what they did (exit code, message
boxes and beeps from Wine's relay trace, files, registry).

Environment (set by ctest): KVN_WIN32_DIR (the cross build), KVN_HOST_DIR (the
native build with mkpayload), WINEPREFIX (the run's prefix)."""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time

SOURCE_DIR = pathlib.Path(__file__).resolve().parents[2]
WIN32_DIR = pathlib.Path(os.environ.get("KVN_WIN32_DIR") or SOURCE_DIR / "build" / "win32").resolve()
HOST_DIR = pathlib.Path(os.environ.get("KVN_HOST_DIR") or SOURCE_DIR / "build" / "host").resolve()
PREFIX = pathlib.Path(os.environ.get("WINEPREFIX", str(WIN32_DIR / "wineprefix"))).resolve()
EXTRACTOR = WIN32_DIR / "extractor.exe"
MKPAYLOAD = HOST_DIR / "mkpayload" / "mkpayload"
WINE_DLLS = pathlib.Path("/usr/lib/i386-linux-gnu/wine/i386-windows")  # real PE files for test data
TEMP_WIN = r"C:\kvntemp"  # the prefix's TEMP and TMP: every run's work directory lands here
READY_MARK = PREFIX / ".kvn-ready"


def wine_env(extra=None):
    env = dict(os.environ)
    env.pop("DISPLAY", None)  # message boxes then return at once instead of waiting
    env["WINEPREFIX"] = str(PREFIX)
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    env["WINEDEBUG"] = "-all"
    if extra:
        env.update(extra)
    return env


def _wine(args, timeout=120, env=None, cwd=None):
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        # Files, not pipes: Wine's helper processes inherit and outlive the handles.
        proc = subprocess.run(["wine", *args], stdout=out, stderr=err, env=env or wine_env(),
                              cwd=cwd, timeout=timeout, stdin=subprocess.DEVNULL)
        out.seek(0)
        err.seek(0)
        return proc.returncode, out.read().decode("utf-8", "replace"), err.read().decode("utf-8", "replace")


def reg(*args):
    """Runs Wine's reg.exe; returns (exit code, output)."""
    rc, out, _ = _wine(["reg", *args])
    return rc, out


def reg_add(key, name, data, kind="REG_SZ"):
    rc, out = reg("add", key, "/v", name, "/t", kind, "/d", data, "/f")
    assert rc == 0, f"reg add {key} {name}: {out}"


def reg_string(text):
    """A .reg file's quoted string."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_import_utf16(lines, *options):
    """Imports the lines of a version 5 .reg file, written in UTF-16 so that every
    character reaches the registry (reg.exe's command line and REGEDIT4 files
    pass through the ANSI code page). `options` go to reg import ("/reg:32")."""
    text = "Windows Registry Editor Version 5.00\r\n\r\n" + "\r\n".join(lines) + "\r\n"
    with tempfile.NamedTemporaryFile("wb", suffix=".reg", delete=False) as f:
        f.write(b"\xff\xfe" + text.encode("utf-16-le"))
    try:
        rc, out = reg("import", win_path(f.name), *options)
        assert rc == 0, f"reg import: {out}"
    finally:
        os.unlink(f.name)


def reg_export_utf16(key):
    """The text of `key` as reg export writes it (UTF-16), decoded."""
    with tempfile.TemporaryDirectory() as d:
        target = pathlib.Path(d) / "export.reg"
        rc, out = reg("export", key, win_path(target), "/y")
        assert rc == 0, f"reg export {key}: {out}"
        return target.read_bytes().decode("utf-16")


def ensure_prefix(fresh=False):
    """Creates the run's prefix once: relay trace limited to the calls the tests
    watch, and TEMP/TMP pointed at a directory of our own."""
    if fresh and PREFIX.exists():
        subprocess.run(["wineserver", "-k"], env=wine_env(), stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        shutil.rmtree(PREFIX, ignore_errors=True)
    if READY_MARK.exists():
        return
    PREFIX.mkdir(parents=True, exist_ok=True)
    rc, _, err = _wine(["wineboot", "-i"], timeout=600)
    assert rc == 0, "wineboot failed: " + err[-2000:]
    reg_add(r"HKCU\Software\Wine\Debug", "RelayInclude", "user32.MessageBoxA;user32.MessageBoxW;kernel32.Beep")
    reg_add(r"HKCU\Environment", "TEMP", TEMP_WIN)
    reg_add(r"HKCU\Environment", "TMP", TEMP_WIN)
    unix_path(TEMP_WIN).mkdir(parents=True, exist_ok=True)
    READY_MARK.write_text("ready\n")


def unix_path(win_path):
    """Maps a path of the prefix (C:\\..., Z:\\...) to the Linux path."""
    p = win_path.replace("\\", "/")
    drive, rest = p[0].lower(), p[2:].lstrip("/")
    base = pathlib.Path("/") if drive == "z" else PREFIX / f"drive_{drive}"
    return base / rest


def win_path(path):
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def temp_dir():
    return unix_path(TEMP_WIN)


def clear_temp():
    d = temp_dir()
    shutil.rmtree(d, ignore_errors=True)
    d.mkdir(parents=True)


_DBG_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", '"': '"'}
_HEX = set("0123456789abcdefABCDEF")


def _unescape(s, wide=False):
    """The text of a string as Wine's debug output writes it: an 8-bit string
    escapes other bytes as \\xNN, a wide one (L"...") other code units as \\NNNN."""
    out, i = [], 0
    while i < len(s):
        c = s[i]
        if c == "\\" and i + 1 < len(s):
            n = s[i + 1]
            if n in _DBG_ESCAPES:
                out.append(_DBG_ESCAPES[n])
                i += 2
                continue
            if wide and len(s) >= i + 5 and set(s[i + 1:i + 5]) <= _HEX:
                out.append(chr(int(s[i + 1:i + 5], 16)))
                i += 5
                continue
            if n == "x":
                out.append(chr(int(s[i + 2:i + 4], 16)))
                i += 4
                continue
        out.append(c)
        i += 1
    text = "".join(out)
    # Code units outside the BMP come as surrogate pairs.
    return text.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "replace") if wide else text


_STR = r'(?:[0-9a-f]{8} (?:(L?)"((?:[^"\\]|\\.)*)"|)|00000000)'
_MSGBOX = re.compile(r"Call user32\.MessageBox[AW]\(([0-9a-f]{8})," + _STR + "," + _STR + r",([0-9a-f]{8})\)", re.I)
_BEEP = re.compile(r"Call kernel32\.Beep\(([0-9a-f]{8}),([0-9a-f]{8})\)", re.I)


class Run:
    def __init__(self, rc, stdout, stderr, seconds):
        self.rc, self.stdout, self.stderr, self.seconds = rc, stdout, stderr, seconds
        self.message_boxes = [(_unescape(m.group(3) or "", m.group(2) == "L"),
                               _unescape(m.group(5) or "", m.group(4) == "L"), int(m.group(6), 16))
                              for m in _MSGBOX.finditer(stderr)]
        self.beeps = [(int(m.group(1), 16), int(m.group(2), 16)) for m in _BEEP.finditer(stderr)]

    def __repr__(self):
        return f"Run(rc={self.rc}, boxes={self.message_boxes}, beeps={self.beeps})"


_last_spaced_end = [0]  # the clock's second in which the last spaced run ended


def _wait_for_second_after(second, bound=5.0):
    """Waits until the clock's second is past `second`, at most `bound` seconds."""
    deadline = time.monotonic() + bound
    while int(time.time()) <= second:
        if time.monotonic() > deadline:
            raise TimeoutError(f"the clock stayed in second {second}")
        time.sleep(max(0.0, second + 1 - time.time()))


def run_program(exe, args=(), cwd=None, timeout=120, env=None, space_runs=True):
    """Runs a Windows program with the relay trace on. The extractor names its work
    directory by the second, so a spaced run starts only once the clock has left
    the second in which the previous spaced run ended: its work directory's name
    can then be no earlier run's."""
    if space_runs:
        _wait_for_second_after(_last_spaced_end[0])
    e = wine_env(env)
    e["WINEDEBUG"] = "-all,+relay"
    start = time.time()
    try:
        rc, out, err = _wine([str(exe), *args], timeout=timeout, env=e, cwd=cwd)
    finally:
        end = time.time()
        if space_runs:
            _last_spaced_end[0] = int(end)
    return Run(rc & 0xFF, out, err, end - start)


def wait_until_prefix_idle(timeout=120):
    """Waits until every process of the prefix has ended and its Wine server has
    stopped. Whatever a program started has then run to its end, and the server
    holds no file or folder open any more."""
    subprocess.run(["wineserver", "-w"], env=wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=timeout, check=True)


def mkpayload(*args, check=True):
    proc = subprocess.run([str(MKPAYLOAD), *map(str, args)], capture_output=True, text=True)
    if check:
        assert proc.returncode == 0, f"mkpayload {args}: {proc.stderr}"
    return proc


def work_dirs():
    """The KVN.* work directories in the temp directory, oldest first."""
    return sorted((p for p in temp_dir().glob("KVN.*") if p.is_dir()), key=lambda p: int(p.name[4:], 16))


def only_work_dir():
    dirs = work_dirs()
    assert len(dirs) == 1, f"expected one work directory, found {dirs}"
    return dirs[0]

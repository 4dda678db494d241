#!/usr/bin/env python3
"""make demo: builds a demo installer from a few sample files and a command,
runs it under Wine with a demo Java 8 Development Kit and a Java 17-style
Runtime Environment registered (the installer copies into the first and leaves
the second alone: Java 9 and later stop starting when lib\\ext exists), then
starts the application launcher, and reports what happened."""
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import zipfile

ROOT = pathlib.Path(__file__).resolve().parents[1]
DEMO = ROOT / "build" / "demo"
os.environ["WINEPREFIX"] = str(DEMO / "wineprefix")
sys.path.insert(0, str(ROOT / "tests" / "e2e"))
import winekit  # noqa: E402
from file_events import wait_for_file  # noqa: E402

JDK_HOME = r"C:\Program Files\Java\jdk1.8.0_demo"
JRE_HOME = r"C:\Program Files\Java\jre-17_demo"
RECORDS = r"SOFTWARE\Korvane\Java\Installed"


def say(text=""):
    print(text, flush=True)


def section(title):
    say()
    say(f"== {title}")


def sample_files(folder):
    folder.mkdir(parents=True, exist_ok=True)
    readme = folder / "README.txt"
    readme.write_text("Orvel 6.3 demo payload.\r\nThese files were unpacked by the Korvane extractor.\r\n" * 20)
    jar = folder / "OrvelTools.jar"
    with zipfile.ZipFile(jar, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nCreated-By: Korvane demo\r\n\r\n")
        z.writestr("com/korvane/orvel/Tools.properties", "greeting=hello from a Java extension\n" * 50)
    dll = folder / "jspWin.dll"
    wine_dll = pathlib.Path("/usr/lib/i386-linux-gnu/wine/i386-windows/version.dll")
    dll.write_bytes(wine_dll.read_bytes() if wine_dll.exists() else bytes(range(256)) * 64)
    return readme, jar, dll


def register_kits():
    winekit.unix_path(JDK_HOME + r"\jre\lib").mkdir(parents=True, exist_ok=True)
    # A runtime image as every Java from 9 on has one: lib\modules and a release file.
    modern = winekit.unix_path(JRE_HOME)
    shutil.rmtree(modern, ignore_errors=True)
    (modern / "lib").mkdir(parents=True)
    (modern / "lib" / "modules").write_bytes(bytes(64))
    (modern / "release").write_text('JAVA_VERSION="17.0.15"\n')
    reg = "\r\n".join([
        "REGEDIT4", "",
        r"[-HKEY_LOCAL_MACHINE\SOFTWARE\Korvane]", "",
        r"[HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft\Java Development Kit]", '"CurrentVersion"="1.8"', "",
        r"[HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft\Java Development Kit\1.8]",
        '"JavaHome"="' + JDK_HOME.replace("\\", "\\\\") + '"', "",
        r"[HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft\Java Runtime Environment]", '"CurrentVersion"="17"', "",
        r"[HKEY_LOCAL_MACHINE\SOFTWARE\JavaSoft\Java Runtime Environment\17]",
        '"JavaHome"="' + JRE_HOME.replace("\\", "\\\\") + '"', "", ""])
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as f:
        f.write(reg)
    try:
        rc, out = winekit.reg("import", winekit.win_path(f.name), "/reg:32")  # the extractor is a 32-bit program
        assert rc == 0, out
    finally:
        os.unlink(f.name)


def run_kit_installer(installer):
    section("Running the installer under Wine")
    winekit.clear_temp()
    run = winekit.run_program(installer)
    say(f"exit code: {run.rc} ({'complete run' if run.rc == 0 else 'failed'}) in {run.seconds:.1f} s")
    say(f"message boxes: {run.message_boxes or 'none'}; beeps: {run.beeps or 'none'}")
    for work in winekit.work_dirs():
        say(f"work directory: {winekit.TEMP_WIN}\\{work.name}")
        for path in sorted(work.rglob("*")):
            rel = path.relative_to(work)
            kind = "dir " if path.is_dir() else f"{path.stat().st_size:>6} bytes"
            say(f"  left behind: {kind}  {rel}")
        log = work / "logs" / "install.log"
        if log.exists():
            say("  logs\\install.log, written by the installer's command entry:")
            for line in log.read_text(errors="replace").splitlines():
                say(f"    | {line}")
    return run.rc


def show_installed():
    section("Installed into the Java kits")
    for home in (JDK_HOME + r"\jre", JRE_HOME):
        ext = winekit.unix_path(home + r"\lib\ext")
        if not ext.exists():
            say(f"  {home}: left alone (a Java 9 or later runtime: no lib\\ext made, nothing copied)")
            continue
        for path in sorted(p for p in ext.rglob("*") if p.is_file()):
            say(f"  {home}\\lib\\ext\\{path.relative_to(ext)}".replace("/", "\\") + f"  ({path.stat().st_size} bytes)")
    section(f"Registry records under HKLM\\{RECORDS}")
    dump = winekit.WIN32_DIR / "javaext" / "dump_registry_values.exe"
    rc, out, _ = winekit._wine([str(dump), RECORDS])
    records = [line.split("\t") for line in out.splitlines() if line.startswith("value\t")]
    for _, name, kind, length, data in records:
        text = bytes.fromhex(data).decode("ascii", "replace").replace("\n", "\\n")
        say(f"  {name}\n      REG_SZ, {length} bytes: {text}")
    if not records:
        say("  none")


def run_launcher():
    section("Starting the application launcher")
    app = DEMO / "Orvel 6"
    shutil.rmtree(app, ignore_errors=True)
    app.mkdir(parents=True)
    shutil.copy(winekit.WIN32_DIR / "Orvel6Launcher.exe", app)
    (app / "Orvel63.jar").write_bytes(b"PK\x05\x06" + bytes(18))
    record = DEMO / "javaw-command-line.txt"
    record.unlink(missing_ok=True)
    # Stand-in for the Java runtime: Wine starts a Linux script named javaw.exe
    # as a Linux process, with the arguments split the Windows way. It writes
    # under a temporary name and renames, so the record appears whole.
    javaw = app / "javaw.exe"
    javaw.write_text(f'#!/bin/sh\nfor a in "$@"; do printf "[%s] " "$a"; done > "{record}.part"\n'
                     f'mv "{record}.part" "{record}"\n')
    javaw.chmod(0o755)
    run = winekit.run_program(app / "Orvel6Launcher.exe", ["-mode", "demo", "two words"])
    say(f"launcher exit code: {run.rc}; message boxes: {run.message_boxes or 'none'}")
    started = run.rc == 0 and wait_for_file(record, 30)
    say("javaw received: " + (record.read_text() if started else "(nothing: javaw was not started)"))


def main():
    section("Preparing a Wine prefix (first run takes a minute)")
    winekit.ensure_prefix()
    register_kits()
    say(f"registered: Java Development Kit 1.8 at {JDK_HOME}, Java Runtime Environment 17 at {JRE_HOME}")

    section("Building the demo installer with mkpayload")
    readme, jar, dll = sample_files(DEMO / "samples")
    installer = DEMO / "OrvelSetup.exe"
    command = r"mkdir logs & echo Installed by the Korvane extractor> logs\install.log & dir /b >> logs\install.log"
    build = winekit.mkpayload("--stub", winekit.EXTRACTOR, "-o", installer, readme, jar, dll,
                              "--store", "settings.ini=" + str(readme), "docs/readme.txt=" + str(readme),
                              "--exec", command)
    say(build.stdout.rstrip())
    listing = winekit.mkpayload("--list", installer)
    say(listing.stdout.rstrip())

    rc = run_kit_installer(installer)
    show_installed()
    run_launcher()
    section("Done")
    say(f"installer: {installer}\nprefix: {os.environ['WINEPREFIX']}")
    return 0 if rc == 0 else 1


if __name__ == "__main__":
    sys.exit(main())

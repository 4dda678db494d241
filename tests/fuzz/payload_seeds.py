#!/usr/bin/env python3
"""Writes the payload fuzzer's seed corpus (tests/fuzz/corpus/payload/): small
installers with a 64-byte stand-in stub, made by mkpayload where it can make
them (stored, compressed binary and ASCII, command entries) and by hand for the
rest (host failure names, lying sizes, a certificate table after the trailer).

usage: payload_seeds.py MKPAYLOAD [OUT_DIR]"""
import pathlib
import random
import struct
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
STUB = b"MZ" + bytes(62)
LABEL = b"unknown\0" + struct.pack("<I", 8)


def gui_program():
    """The least that mkpayload takes as a stub: a PE32 header of an x86
    Windows GUI executable. Used only to have mkpayload compress the streams."""
    image = bytearray(0x200)
    image[0:2] = b"MZ"
    struct.pack_into("<I", image, 0x3C, 0x40)
    image[0x40:0x44] = b"PE\0\0"
    struct.pack_into("<HxxxxxxxxxxxxxxHH", image, 0x44, 0x14C, 0xE0, 0x0102)  # machine, optional size, flags
    struct.pack_into("<H", image, 0x58, 0x10B)       # PE32
    struct.pack_into("<H", image, 0x58 + 68, 2)      # Windows GUI subsystem
    return bytes(image)


def entry(name, data, size=None, unpacked=None):
    raw = name.encode("latin-1") + b"\0"
    s = -len(data) if size is None else size
    u = len(data) if unpacked is None else unpacked
    return struct.pack("<IiI", len(raw), s, u) + raw + data


def installer(entries, stub=STUB, count=None):
    return stub + b"".join(entries) + LABEL + struct.pack("<iI", len(entries) if count is None else count, len(stub))


def signed(entries):
    """A PE32 stub whose security directory names a 16-byte certificate table
    behind the trailer: the trailer is then found before that table."""
    pe = 0x40
    optional = pe + 24
    stub = bytearray(optional + 0xE0)
    stub[0:2] = b"MZ"
    struct.pack_into("<I", stub, 0x3C, pe)
    stub[pe:pe + 4] = b"PE\0\0"
    struct.pack_into("<H", stub, pe + 20, 0xE0)   # size of the optional header
    struct.pack_into("<H", stub, optional, 0x10B)  # PE32
    struct.pack_into("<I", stub, optional + 92, 16)  # data directory count
    body = installer(entries, bytes(stub))
    body = body[:-8] + bytes(-len(body) % 8) + body[-8:]  # the table starts 8-byte aligned, as signing tools place it
    struct.pack_into("<II", stub, optional + 128, len(body), 16)
    return bytes(stub) + body[len(stub):] + b"CERT" * 4


def compressed_stream(mkpayload, work, name, data, *options):
    """The stored bytes of one entry compressed by mkpayload."""
    src = work / name
    src.write_bytes(data)
    out = work / (name + ".exe")
    subprocess.run([mkpayload, "--stub", work / "stub", "-o", out, "--compress", *options, src], check=True,
                   capture_output=True)
    blob = out.read_bytes()
    at = len((work / "stub").read_bytes())
    n, s, u = struct.unpack_from("<IiI", blob, at)
    assert s > 0 and u == len(data)
    start = at + 12 + n
    return blob[start:start + s]


def main():
    mkpayload = sys.argv[1]
    out_dir = pathlib.Path(sys.argv[2]) if len(sys.argv) > 2 else HERE / "corpus" / "payload"
    out_dir.mkdir(parents=True, exist_ok=True)
    rnd = random.Random(7)
    text = b"".join(b"the quick brown fox jumps over the lazy dog %d\r\n" % i for i in range(24))
    binary = bytes(rnd.randrange(6) for _ in range(500))
    with tempfile.TemporaryDirectory() as tmp:
        work = pathlib.Path(tmp)
        (work / "stub").write_bytes(gui_program())
        z_text = compressed_stream(mkpayload, work, "t", text, "--ascii", "--dict", "2048")
        z_bin = compressed_stream(mkpayload, work, "b", binary, "--binary", "--dict", "1024")
        z_zero = compressed_stream(mkpayload, work, "z", bytes(4000), "--binary", "--dict", "4096")
        z_cmd = compressed_stream(mkpayload, work, "c", b"echo made > made.txt\0", "--ascii")

    seeds = {
        "empty": installer([]),
        "no_payload": STUB + LABEL + struct.pack("<iI", 0, 0),
        "stored_text": installer([entry("readme.txt", text)]),
        "stored_empty": installer([entry("empty.txt", b"")]),
        "ascii_text": installer([entry("text.txt", z_text, len(z_text), len(text))]),
        "binary_dict1024": installer([entry("lib.dll", z_bin, len(z_bin), len(binary))]),
        "zeros_dict4096": installer([entry("zeros.jar", z_zero, len(z_zero), 4000)]),
        "mixed_with_exec": installer([entry("a.txt", b"first"), entry("$EXEC", b"echo hi > x.txt\0"),
                                      entry("b.dll", z_bin, len(z_bin), len(binary)),
                                      entry("$EXEC", z_cmd, len(z_cmd), 21), entry("_SELF", b"replaced")]),
        "subdirectory": installer([entry("sub\\in.txt", b"below"), entry("other\\x.txt", b"no dir")]),
        "host_failures": installer([entry("stale.txt", b"times"), entry("short.bin", b"0123456789"),
                                    entry("deny.txt", b"never")]),
        "self_copy_refused": installer([entry("_SELF.lock", b"")]),
        "lying_unpacked_4g": installer([entry("big.bin", z_zero, len(z_zero), 0xFFFFFFFF)]),
        "short_unpacked": installer([entry("small.bin", z_zero, len(z_zero), 100)]),
        "cut_stream": installer([entry("cut.txt", z_text[:len(z_text) // 2], len(z_text) // 2, len(text))]),
        "count_too_high": installer([entry("a.txt", b"a")], count=5),
        "signed": signed([entry("s.txt", b"signed installer")]),
        "unsafe_name": installer([entry("ok.txt", b"1"), entry("..\\up.txt", b"2")]),
    }
    for name, data in seeds.items():
        (out_dir / name).write_bytes(data)
    print(f"{len(seeds)} seeds, {sum(map(len, seeds.values()))} bytes in {out_dir}")


if __name__ == "__main__":
    main()

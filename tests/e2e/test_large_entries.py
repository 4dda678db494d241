"""The extractor's size limits under Wine (payload/extraction_limits.h): the
largest installer, with one stored entry that fills it, unpacks byte-exact and
one byte more is refused; a compressed entry of the largest unpacked size
unpacks with the large-address-aware stub as built, and the smaller limit with
a copy of the stub that is not large-address-aware.

The installers are written here in pieces (a sparse file with marker bytes at
known offsets; an implode stream of zeros), never held whole in memory, and
every multi-GiB file is deleted when its test ends."""
import pathlib
import re
import struct

import winekit
from extractor_case import FAILED, ExtractorCase, keep

LIMITS_HEADER = winekit.SOURCE_DIR / "payload" / "extraction_limits.h"
CHUNK = 64 << 20
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x20


def limits():
    """The named constants of extraction_limits.h, evaluated."""
    text = LIMITS_HEADER.read_text()
    found = re.findall(r"constexpr uint\d+_t (\w+) = ([^;]+);", text)
    return {name: int(eval(re.sub(r"(?<=[0-9A-Fa-f])u\b", "", value))) for name, value in found}


def characteristics_offset(stub):
    return struct.unpack_from("<I", stub, 0x3C)[0] + 4 + 18  # "PE\0\0", then the file header's field


def without_large_address_aware(stub):
    image = bytearray(stub)
    at = characteristics_offset(image)
    struct.pack_into("<H", image, at, struct.unpack_from("<H", image, at)[0] & ~IMAGE_FILE_LARGE_ADDRESS_AWARE)
    return bytes(image)


def entry_header(name, size, unpacked):
    encoded = name.encode() + b"\0"
    return struct.pack("<IiI", len(encoded), size, unpacked) + encoded


def command_entry(command):
    text = command.encode() + b"\0"
    return entry_header("$EXEC", -len(text), len(text)) + text


def trailer(count, stub):
    return b"unknown\0" + struct.pack("<I", 8) + struct.pack("<iI", count, len(stub))


class BitWriter:
    """Implode stream bits, first bit in bit 0 of each byte."""

    def __init__(self):
        self.out, self.value, self.count = bytearray(), 0, 0

    def put(self, value, bits):
        self.value |= value << self.count
        self.count += bits
        while self.count >= 8:
            self.out.append(self.value & 0xFF)
            self.value >>= 8
            self.count -= 8

    def flush(self):
        if self.count:
            self.out.append(self.value & 0xFF)
            self.value = self.count = 0
        return bytes(self.out)


# Length codes 0..15 (bits, code, extra bits, base), from the format's tables.
LENGTH_CODES = [(3, 0x05, 0, 0), (2, 0x03, 0, 1), (3, 0x01, 0, 2), (3, 0x06, 0, 3), (4, 0x0A, 0, 4), (4, 0x02, 0, 5),
                (4, 0x0C, 0, 6), (5, 0x14, 0, 7), (5, 0x04, 1, 8), (5, 0x18, 2, 10), (5, 0x08, 3, 14),
                (6, 0x30, 4, 22), (6, 0x10, 5, 38), (6, 0x20, 6, 70), (7, 0x40, 7, 134), (7, 0x00, 8, 262)]


def put_match(w, length):
    """A match of `length` at distance 1 (distance high part 0: code 0x03 in 2 bits)."""
    value = length - 2
    bits, code, extra, base = next(c for c in reversed(LENGTH_CODES) if c[3] <= value)
    w.put(1, 1)
    w.put(code, bits)
    w.put(value - base, extra)
    w.put(0x03, 2)
    w.put(0, 2 if length == 2 else 6)


def zero_stream(n):
    """An implode stream of n >= 1 zero bytes: binary literals, 4 KiB dictionary,
    a literal 0, then matches of 518 at distance 1 and the end marker. A full
    match is 24 bits, so after the 9-bit literal every match is the same 3 bytes."""
    matches, rest = divmod(n - 1, 518)
    head = BitWriter()
    head.put(0, 9)                  # literal flag and byte 0: 1 bit left over
    body = BitWriter()
    body.put(0, head.count)         # the left-over bit, so the unit is byte-aligned
    put_match(body, 518)
    unit = bytes(body.out)
    assert len(unit) == 3 and body.count == 1 and body.value == 0
    tail = BitWriter()
    tail.put(0, 1)                  # the bit left over after each match
    if rest == 1:
        tail.put(0, 9)
    elif rest >= 2:
        put_match(tail, rest)
    tail.put(1, 1)                  # end marker: length code 15 with extra 255
    tail.put(0x00, 7)
    tail.put(255, 8)
    return bytes([0, 6]) + bytes(head.out) + unit * matches + tail.flush()


class LargeEntries(ExtractorCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.limits = limits()

    def setUp(self):
        super().setUp()
        self.addCleanup(winekit.clear_temp)  # the extracted multi-GiB files

    def installer_path(self, name):
        path = self.scratch / name
        self.addCleanup(path.unlink, missing_ok=True)
        return path

    def write_stored_installer(self, total_size):
        """An installer of exactly total_size bytes: one stored entry "big.bin"
        that fills it, then a command that keeps it. The data is zeros (a hole)
        with 8-byte markers at known offsets; returns the path and the markers."""
        stub, command = self.stub, command_entry(keep("big.bin"))
        header_size = len(entry_header("big.bin", 0, 0))
        size = total_size - len(stub) - header_size - len(command) - len(trailer(2, stub))
        # Spread over the file, each different; one straddles the first 64 KiB
        # block boundary and one ends the file.
        markers = {offset: struct.pack("<Q", offset * 0x9E3779B97F4A7C15 & (2**64 - 1))
                   for offset in [*range(0, size - 16, size // 37), 65536 - 4, size - 8]}
        path = self.installer_path(f"stored-{total_size}.exe")
        with open(path, "wb") as f:
            f.write(stub + entry_header("big.bin", -size, size))
            start = f.tell()
            for offset, mark in markers.items():
                f.seek(start + offset)
                f.write(mark)
            f.seek(start + size)
            f.write(command + trailer(2, stub))
        self.assertEqual(path.stat().st_size, total_size)
        return path, size, markers

    def assertZerosWithMarkers(self, path, size, markers):
        """Compares the file with zeros plus the markers, a chunk at a time."""
        self.assertEqual(path.stat().st_size, size)
        with open(path, "rb") as f:
            for chunk_start in range(0, size, CHUNK):
                chunk = f.read(CHUNK)
                expected = bytearray(len(chunk))
                for offset, mark in markers.items():
                    if chunk_start <= offset < chunk_start + len(chunk):
                        expected[offset - chunk_start:offset - chunk_start + 8] = mark
                if chunk != expected:
                    first = next(i for i in range(len(chunk)) if chunk[i] != expected[i])
                    self.fail(f"{path.name} differs at byte {chunk_start + first}")

    def test_largest_installer_with_one_stored_entry_unpacks_exactly(self):
        largest = self.limits["LARGEST_INSTALLER_SIZE"]
        path, size, markers = self.write_stored_installer(largest)
        run, work, _, _ = self.run_installer(path, timeout=900)
        self.assertEqual((run.rc, run.message_boxes, run.beeps), (0, [], []))
        self.assertZerosWithMarkers(work / ".big.bin", size, markers)

    def test_mkpayload_builds_the_largest_stored_entry_and_it_unpacks(self):
        # mkpayload pads installers to a multiple of 8: its largest is 2^31 - 8.
        largest = self.limits["LARGEST_INSTALLER_SIZE"] // 8 * 8
        command = keep("big.bin")
        overhead = len(entry_header("big.bin", 0, 0)) + len(command_entry(command)) + len(trailer(2, self.stub))
        size = largest - len(self.stub) - overhead
        source = self.scratch / "big.bin"
        self.addCleanup(source.unlink, missing_ok=True)
        markers = {offset: struct.pack("<Q", offset * 0x2545F4914F6CDD1D & (2**64 - 1))
                   for offset in [*range(0, size - 16, size // 29), size - 8]}
        with open(source, "wb") as f:
            f.truncate(size)
            for offset, mark in markers.items():
                f.seek(offset)
                f.write(mark)
        path = self.installer_path("built-by-mkpayload.exe")
        winekit.mkpayload("--stub", winekit.EXTRACTOR, "-o", path, "--store", source, "--exec", command)
        self.assertEqual(path.stat().st_size, largest)
        with open(source, "r+b") as f:
            f.truncate(size + 8)
        refused = winekit.mkpayload("--stub", winekit.EXTRACTOR, "-o", self.scratch / "over.exe", "--store", source,
                                    "--exec", command, check=False)
        self.assertEqual(refused.returncode, 2)
        self.assertIn(str(self.limits["LARGEST_INSTALLER_SIZE"]), refused.stderr)
        source.unlink()
        run, work, _, _ = self.run_installer(path, timeout=900)
        self.assertEqual((run.rc, run.message_boxes, run.beeps), (0, [], []))
        self.assertZerosWithMarkers(work / ".big.bin", size, markers)

    def test_installer_one_byte_over_the_limit_is_refused(self):
        path, _, _ = self.write_stored_installer(self.limits["LARGEST_INSTALLER_SIZE"] + 1)
        run, work, _, _ = self.run_installer(path)
        self.assertEqual(run.rc, FAILED, run)
        self.assertBox(run, "Error: Extractor failed with error=8")
        self.assertEqual(list(work.iterdir()), [], "nothing written")

    def run_compressed_zeros(self, stub, unpacked):
        stream = zero_stream(unpacked)
        path = self.installer_path(f"zeros-{unpacked}.exe")
        with open(path, "wb") as f:
            f.write(stub + entry_header("zeros.bin", len(stream), unpacked))
            f.write(stream)
            f.write(command_entry(keep("zeros.bin")) + trailer(2, stub))
        del stream
        run, work, _, _ = self.run_installer(path, timeout=900)
        self.assertEqual((run.rc, run.message_boxes, run.beeps), (0, [], []))
        self.assertZerosWithMarkers(work / ".zeros.bin", unpacked, {})

    def test_stub_is_large_address_aware(self):
        flags = struct.unpack_from("<H", self.stub, characteristics_offset(self.stub))[0]
        self.assertTrue(flags & IMAGE_FILE_LARGE_ADDRESS_AWARE)

    def test_compressed_entry_at_the_large_address_aware_limit_unpacks(self):
        self.run_compressed_zeros(self.stub, self.limits["LARGEST_COMPRESSED_UNPACKED_SIZE_LARGE_ADDRESS_AWARE"])

    def test_compressed_entry_at_the_limit_unpacks_without_large_address_aware(self):
        self.run_compressed_zeros(without_large_address_aware(self.stub), self.limits["LARGEST_COMPRESSED_UNPACKED_SIZE"])

    def test_zero_stream_writer_matches_mkpayload_decoding(self):
        # The stream writer checked on the host decoder for every tail shape.
        for n in (1, 2, 3, 518, 519, 520, 521, 1037, 5000):
            stream = zero_stream(n)
            path = self.installer_path(f"zeros-small-{n}.exe")
            path.write_bytes(self.stub + entry_header("z", len(stream), n) + stream + trailer(1, self.stub))
            out = self.scratch / f"zeros-small-{n}"
            winekit.mkpayload("--extract", path, out)
            self.assertEqual((out / "z").read_bytes(), bytes(n), n)

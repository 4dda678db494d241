"""Compressed entries under Wine: both literal modes and all dictionary sizes
from mkpayload, a compressed command, a stream that yields fewer bytes than its
declared size, and one that would yield more (the overflow stop)."""
import random

import payloads
from extractor_case import FATAL_BOX, ExtractorCase, keep

TEXT = b"".join(b"The quick brown fox %d jumps over the lazy dog.\r\n" % (i % 37) for i in range(400))
BINARY = bytes(random.Random(3).choice(b"\x00\x01\x02\xff ABC") for _ in range(20000)) + bytes(600)

# 00 04 (binary literals, k = 4), then one literal "A" and the end marker.
STREAM_OF_A = bytes([0x00, 0x04, 0x82, 0x02, 0xFE, 0x01])


def bits_to_bytes(bits):
    bits = bits + [0] * (-len(bits) % 8)
    return bytes(sum(bits[i + j] << j for j in range(8)) for i in range(0, len(bits), 8))


def literal_stream(data, cut_end_marker=False):
    """A binary-mode stream of literals only, written plainly from the format."""
    bits = []

    def put(value, count):
        bits.extend((value >> i) & 1 for i in range(count))

    for byte in data:
        put(0, 1)
        put(byte, 8)
    if not cut_end_marker:
        put(1, 1)
        put(0, 7)
        put(255, 8)
    return bytes([0, 6]) + bits_to_bytes(bits)


class CompressedEntries(ExtractorCase):
    def test_every_mode_and_dictionary_size_unpacks_exactly(self):
        args, names = ["--exec", "mkdir seen"], []
        for mode in ("--binary", "--ascii"):
            for dict_size in ("1024", "2048", "4096"):
                for label, data in (("text", TEXT), ("binary", BINARY)):
                    name = f"{label}-{mode[2:]}-{dict_size}.dat"
                    names.append((name, data))
                    args += [mode, "--dict", dict_size, f"{name}={self.file(name, data)}"]
        args += ["--exec", keep(*(n for n, _ in names))]
        inst = self.build(*args)
        listing = self.run_mkpayload_list(inst)
        for name, _ in names:
            mode, dict_size = name.split("-")[1:3]
            self.assertRegex(listing, rf"{name}\s+implode {mode}/{dict_size.split('.')[0]}\s")
        run, work, _, _ = self.run_installer(inst)
        self.assertEqual((run.rc, run.message_boxes, run.beeps), (0, [], []))
        for name, data in names:
            self.assertEqual((work / ("." + name)).read_bytes(), data, name)

    def test_compressed_command_runs(self):
        command = "echo " + "compressed command " * 20 + "> .compressed-command"
        inst = self.build("--exec", command)
        self.assertIn("implode", self.run_mkpayload_list(inst))
        run, work, _, _ = self.run_installer(inst)
        self.assertEqual(run.rc, 0, run)
        self.assertEqual((work / ".compressed-command").read_bytes().strip(), (("compressed command " * 20)).strip().encode())

    def test_stream_yielding_less_than_declared_gives_what_it_produced(self):
        cut = literal_stream(b"partial", cut_end_marker=True)  # input ends before the end marker
        inst = payloads.installer(self.stub, [
            payloads.entry("short.txt", cut, size=len(cut), unpacked=1000),
            payloads.entry("bad-header.txt", b"\x07\x04rest", size=6, unpacked=50),
            payloads.entry("after.txt", b"still extracted"),
            payloads.entry("$EXEC", (keep("short.txt", "bad-header.txt", "after.txt") + "\0").encode()),
        ])
        run, work, _, _ = self.run_installer(self.write_installer(inst))
        self.assertEqual((run.rc, run.message_boxes), (0, []))
        # The reader keeps 8 bits of look-ahead, so the literal whose bits end in
        # the stream's last byte fails on the refill after it: "partia".
        self.assertEqual((work / ".short.txt").read_bytes(), b"partia")
        self.assertEqual((work / ".bad-header.txt").read_bytes(), b"")
        self.assertEqual((work / ".after.txt").read_bytes(), b"still extracted")

    def test_stream_yielding_more_than_declared_stops_with_exit_1(self):
        data = bytes(range(256)) * 20  # 5120 bytes: a block of 4096 arrives first
        stream = literal_stream(data)
        inst = payloads.installer(self.stub, [
            payloads.entry("first.txt", b"kept"),
            payloads.entry("big.bin", stream, size=len(stream), unpacked=5000),
            payloads.entry("never.txt", b"never"),
        ])
        run, work, _, _ = self.run_installer(self.write_installer(inst))
        self.assertBox(run, "UnCompressed data will overflow buffer (4096 1024 5000)", caption="Error", kind=FATAL_BOX)
        self.assertEqual(run.rc, 1)
        self.assertEqual(sorted(p.name for p in work.iterdir()), ["first.txt"])

    def test_declared_size_of_4_gib_needs_no_4_gib_buffer(self):
        inst = payloads.installer(self.stub, [
            payloads.entry("a.txt", STREAM_OF_A, size=len(STREAM_OF_A), unpacked=0xFFFFFFFF),
            payloads.entry("$EXEC", (keep("a.txt") + "\0").encode()),
        ])
        run, work, _, _ = self.run_installer(self.write_installer(inst))
        self.assertEqual((run.rc, run.message_boxes), (0, []))
        self.assertEqual((work / ".a.txt").read_bytes(), b"A")

    def run_mkpayload_list(self, installer):
        import winekit
        return winekit.mkpayload("--list", installer).stdout

"""Malformed and hostile installers, each with the outcome the extractor must
show: cut at every region, lying counts and sizes, unsafe names, damaged
compressed streams, payload offsets outside the payload.

cases(stub, streams) returns a list of Case. `streams` holds compressed
streams made by mkpayload (see make_streams): {key: (stream bytes, content)}.

Every failing case puts an intact entry "good.txt" first, so the test can
check that the files of earlier entries survive the failure. Cases that end
in success, or that need their extracted files looked at, end with an entry
whose name is refused (-123): the run then stops before the clean-up and its
work directory keeps what was extracted."""
import dataclasses
import pathlib
import struct
import subprocess
import tempfile

import payloads

GENERIC = "Error: Extractor failed with error=%d"
OVERFLOW = "UnCompressed data will overflow buffer (%d %d %d)"
KORVANE_BOX = ("Korvane", 0x10)  # caption, MB_ICONERROR
FATAL_BOX = ("Error", 0x0)       # caption, MB_OK
FAILED, FATAL = 255, 1            # exit codes -1 and 1 as Linux sees them

GOOD_NAME, GOOD_DATA = "good.txt", b"earlier entry"
INVALID_NAME = -123
OUT_BLOCK = 4096  # the decoder hands its output over in blocks of this size


@dataclasses.dataclass
class Case:
    name: str
    data: bytes
    status: int | None = None        # extraction status (generic box), None for success
    overflow: tuple | None = None    # (produced, count, capacity) of the overflow stop
    # the work directory afterwards: name -> bytes, or ("prefix", content) for a
    # file that must hold a proper prefix of content
    files: dict = dataclasses.field(default_factory=dict)

    @property
    def exit_code(self):
        return FATAL if self.overflow else FAILED if self.status is not None else 0

    @property
    def boxes(self):
        if self.overflow:
            return [(OVERFLOW % self.overflow, *FATAL_BOX)]
        if self.status is not None:
            return [(GENERIC % self.status, *KORVANE_BOX)]
        return []


def good():
    return payloads.entry(GOOD_NAME, GOOD_DATA)


def stopper():
    """A last entry that is refused, so the run ends before the clean-up."""
    return payloads.entry("..\\stop.txt", b"x")


def compressed(name, stream, unpacked):
    return payloads.entry(name, stream, size=len(stream), unpacked=unpacked)


def overflow_point(total, capacity):
    """(produced, count, capacity) at the first output block that passes capacity."""
    produced = 0
    while produced < total:
        n = min(OUT_BLOCK, total - produced)
        if produced + n > capacity:
            return produced, n, capacity
        produced += n
    raise ValueError("output fits")


def make_streams(mkpayload, stub, scratch):
    """Compressed streams of known content, made by mkpayload from the real stub."""
    text = b"".join(b"line %04d of a hostile installer test\r\n" % i for i in range(300))
    sources = {"text": (text, ["--ascii"]), "zeros": (bytes(10000), ["--binary"]), "small": (b"abc" * 300, ["--binary"])}
    streams = {}
    at = len(pathlib.Path(stub).read_bytes())
    for key, (content, options) in sources.items():
        src = pathlib.Path(scratch) / key
        src.write_bytes(content)
        out = pathlib.Path(scratch) / (key + ".exe")
        subprocess.run([str(mkpayload), "--stub", stub, "-o", out, "--compress", *options, src], check=True,
                       capture_output=True)
        blob = out.read_bytes()
        n, s, u = struct.unpack_from("<IiI", blob, at)
        assert s > 0 and u == len(content), (key, s, u)
        streams[key] = (blob[at + 12 + n:at + 12 + n + s], content)
    return streams


def cases(stub, streams):
    inst = lambda entries, **kw: payloads.installer(stub, entries, **kw)
    kept = {GOOD_NAME: GOOD_DATA}
    out = []

    def failing(name, entries, status, **kw):
        out.append(Case(name, inst([good(), *entries], **kw), status, files=dict(kept)))

    # --- cut short, trailer intact (the payload region ends early) ---
    whole = good() + payloads.entry("second.bin", b"0123456789" * 10)
    for label, keep in (("header", len(good()) + 6), ("name", len(good()) + 14), ("stored_data", len(whole) - 30)):
        out.append(Case(f"cut_in_{label}", stub + whole[:keep] + struct.pack("<iI", 2, len(stub)), 8, files=dict(kept)))
    z, text = streams["text"]
    cut_stream = good() + compressed("text.txt", z, len(text))
    out.append(Case("cut_in_compressed_data", stub + cut_stream[:-5] + struct.pack("<iI", 2, len(stub)), 8,
                    files=dict(kept)))
    # the label block is never read: cutting it changes nothing
    label_cut = inst([good(), stopper()])
    label_cut = label_cut[:-8 - 12] + label_cut[-8 - 5:]
    out.append(Case("cut_in_label", label_cut, INVALID_NAME, files=dict(kept)))

    # --- cut short, trailer lost (a broken download): the last 8 bytes are taken as the trailer ---
    zeros = payloads.entry("zeros.bin", bytes(64))
    raw = stub + good() + zeros
    out.append(Case("raw_cut_in_data_reads_offset_zero", raw[:-20], 3))
    lying = payloads.entry("tail.bin", struct.pack("<iI", 1, 0x7FFFFFF0) * 4)
    out.append(Case("raw_cut_in_data_reads_offset_past_end", (stub + good() + lying)[:-8], 8))
    # the last 8 bytes are then the label's length word (8) and the count (2): 8 entries
    # at offset 2, inside the stub's DOS header, whose first "name length" is 0x30090
    assert struct.unpack_from("<I", stub, 2)[0] > len(stub) * 2, "unexpected DOS header"
    out.append(Case("raw_cut_in_trailer", inst([good(), payloads.entry("b.txt", b"b")])[:-4], 8))

    # --- lying counts and sizes ---
    failing("count_beyond_entries", [], 8, count=3)
    out.append(Case("count_negative_extracts_nothing", inst([good(), stopper()], count=-5), None))
    out.append(Case("count_zero_extracts_nothing", inst([good(), stopper()], count=0), None))
    failing("name_length_past_end", [payloads.entry("n", b"", name_length=70000)], 8)
    failing("name_length_zero", [payloads.entry("z.txt", b"", name_length=0, raw_name=b"")], 9)
    failing("stored_data_past_end", [payloads.entry("big.bin", b"abc", size=-100000, unpacked=100000)], 8)
    failing("compressed_data_past_end", [payloads.entry("big.bin", b"\0\4abc", size=0x7FFFFFFF, unpacked=10)], 8)
    failing("stored_unpacked_disagrees", [payloads.entry("s.txt", b"abcd", unpacked=10)], 9)
    failing("size_int_min", [payloads.entry("m.txt", b"", size=-2**31, unpacked=0)], 9)
    failing("stored_unpacked_4g", [payloads.entry("u.txt", b"abc", unpacked=0xFFFFFFFF)], 9)

    # --- compressed streams that lie or are damaged ---
    zz, zeros_content = streams["zeros"]
    # U of 4 GiB behind a short stream: only what the stream can give is allocated,
    # and the file gets the bytes produced
    out.append(Case("compressed_unpacked_4g", inst([good(), compressed("big.bin", zz, 0xFFFFFFFF), stopper()]),
                    INVALID_NAME, files={**kept, "big.bin": zeros_content}))
    out.append(Case("compressed_unpacked_int_max",
                    inst([good(), compressed("big.bin", zz, 0x7FFFFFFF), stopper()]),
                    INVALID_NAME, files={**kept, "big.bin": zeros_content}))
    for label, capacity in (("first_block", 100), ("later_block", 5000), ("by_one", len(zeros_content) - 1)):
        out.append(Case(f"decodes_past_unpacked_{label}", inst([good(), compressed("over.bin", zz, capacity)]),
                        overflow=overflow_point(len(zeros_content), capacity), files=dict(kept)))
    for label, stream in (("bad_mode_byte", b"\x02" + z[1:]), ("bad_dictionary_byte", z[:1] + b"\x07" + z[2:]),
                          ("header_only", z[:2]), ("one_byte", z[:1])):
        # the decoder's failure is not acted on: the file gets what was produced (nothing)
        out.append(Case(f"stream_{label}", inst([good(), compressed("d.txt", stream, len(text)), stopper()]),
                        INVALID_NAME, files={**kept, "d.txt": b""}))
    half = z[:len(z) // 2]
    out.append(Case("stream_cut_in_half", inst([good(), compressed("half.txt", half, len(text)), stopper()]),
                    INVALID_NAME, files={**kept, "half.txt": ("prefix", text)}))

    # --- names ---
    for i, name in enumerate(["..\\escaped.txt", "sub\\..\\..\\escaped.txt", "..", "C:\\escaped.txt", "C:escaped.txt",
                              "\\escaped.txt", "/escaped.txt", "\\\\server\\share\\escaped.txt", "x.txt:stream",
                              "CON", "NUL", "COM1", "LPT1", "con.txt", "nul.txt", "COM1.log", "lpt1.txt", "aux",
                              "trailing.", "trailing ", "dir\\NUL", "tab\there.txt", "what?.txt"]):
        failing(f"name_{i:02d}_{name!r}", [payloads.entry(name, b"evil")],
                INVALID_NAME)
    failing("name_without_nul", [payloads.entry("", b"zz", raw_name=b"ABCDEFGH")], 9)
    failing("name_600_bytes", [payloads.entry("x" * 600, b"")], 10)
    failing("name_600_bytes_without_nul", [payloads.entry("", b"", raw_name=b"y" * 600)], 10)
    failing("name_fills_the_path", [payloads.entry("p" * 490, b"")], 10)

    # --- payload offset ---
    base = inst([good()])
    out.append(Case("offset_zero", base[:-4] + struct.pack("<I", 0), 3))
    out.append(Case("offset_past_end", base[:-4] + struct.pack("<I", len(base) + 10), 8))
    out.append(Case("offset_inside_trailer", base[:-4] + struct.pack("<I", len(base) - 4), 8))
    out.append(Case("offset_max", base[:-4] + struct.pack("<I", 0xFFFFFFFF), 8))
    # an offset into the label: its first "name length" is the text "unkn"
    out.append(Case("offset_inside_label", base[:-4] + struct.pack("<I", len(base) - 8 - 12), 8))
    zero_run = stub.find(bytes(16))
    assert zero_run > 0, "the stub has no run of zero bytes"
    # an offset into the stub, on zero bytes: a name of length 0 has no NUL
    out.append(Case("offset_inside_stub", base[:-4] + struct.pack("<I", zero_run), 9))

    # --- command entries ---
    out.append(Case("command_without_nul", inst([good(), payloads.entry("$EXEC", b"echo made> made.txt"), stopper()]),
                    INVALID_NAME, files={**kept, "made.txt": b"made\r\n"}))
    return out


def write_all(directory, stub_path, mkpayload):
    """Writes every case to a directory (for looking at them by hand)."""
    directory = pathlib.Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as tmp:
        for case in cases(pathlib.Path(stub_path).read_bytes(), make_streams(mkpayload, stub_path, tmp)):
            (directory / f"{case.name}.exe").write_bytes(case.data)

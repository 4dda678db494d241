"""A test-side payload writer, written plainly from the format, for installers
that mkpayload refuses to make: damaged, lying and hostile ones."""
import struct


def entry(name, data=b"", size=None, unpacked=None, name_length=None, raw_name=None):
    """One entry. Defaults: stored data, N = len(name) + 1, S = -len(data), U = len(data)."""
    name_bytes = raw_name if raw_name is not None else name.encode("latin-1") + b"\0"
    n = len(name_bytes) if name_length is None else name_length
    s = -len(data) if size is None else size
    u = len(data) if unpacked is None else unpacked
    return struct.pack("<Iii" if u < 0 else "<IiI", n, s, u) + name_bytes + data


def installer(stub, entries, count=None, payload_offset=None, label=True, tail=b""):
    """stub + entries + label block + trailer (+ tail after the trailer, to test
    that the trailer must be last)."""
    body = b"".join(entries)
    lab = b"unknown\0" + struct.pack("<I", 8) if label else b""
    n = len(entries) if count is None else count
    p = len(stub) if payload_offset is None else payload_offset
    return stub + body + lab + struct.pack("<iI", n, p) + tail

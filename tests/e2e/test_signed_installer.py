"""Authenticode-signed installers: an installer built by mkpayload is signed
with osslsigncode and a throwaway certificate, the signature checks out and
covers the payload, and the signed installer extracts and installs exactly as
the unsigned one does. mkpayload lists, verifies and extracts it, and refuses a
signed stub."""
import pathlib
import random
import re
import shutil
import struct
import subprocess

import winekit
from extractor_case import KEEP_SELF, ExtractorCase, keep
from test_java_extensions import JDK, JRE, RECORD_KEY, dump_key, import_registry, tree

TEXT = b"".join(b"line %d of the Korvane read-me, with some words that repeat\r\n" % i for i in range(400))
ARCHIVE = b"PK\x03\x04" + b"".join(b"org/korvane/serial/Port%d.class\x00\x01\x02" % (i % 37) for i in range(2000))
LIBRARY = random.Random(8).randbytes(30001)  # odd length: the entries end anywhere
NAMES = ("Serialio.jar", "readme.txt", "jspWin.dll", "empty.dat")


def tool(*args):
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, timeout=120)


def pe_fields(data):
    """File offsets of the PE checksum and of the security directory entry."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return pe + 24 + 64, pe + 24 + (128 if magic == 0x10B else 144)


def without_size_and_certificate(listing):
    return [line for line in listing.splitlines() if not line.startswith(("installer:", "certificate table:"))]


class SignedInstaller(ExtractorCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for name in ("openssl", "osslsigncode"):
            assert shutil.which(name), f"{name} is missing: run scripts/install-deps.sh"
        keys = cls.scratch / "keys"
        keys.mkdir()
        cls.cert, cls.key = keys / "cert.pem", keys / "key.pem"
        made = tool("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Korvane Test Signer", "-addext", "extendedKeyUsage=codeSigning",
                    "-keyout", cls.key, "-out", cls.cert)
        assert made.returncode == 0, made.stderr

        sources = cls.scratch / "sources"
        sources.mkdir()
        for name, data in zip(NAMES, (ARCHIVE, TEXT, LIBRARY, b"")):
            (sources / name).write_bytes(data)
        cls.unsigned = cls.scratch / "OrvelSetup.exe"
        winekit.mkpayload("--stub", winekit.EXTRACTOR, "-o", cls.unsigned,
                          "--exec", KEEP_SELF,
                          sources / "Serialio.jar", sources / "readme.txt",      # compressed (the default)
                          "--store", sources / "jspWin.dll", sources / "empty.dat",
                          "--exec", keep(*NAMES) + " & echo done> .done")
        cls.signed = cls.sign(cls.unsigned, cls.scratch / "OrvelSetup-signed.exe")
        cls.unsigned_bytes, cls.signed_bytes = cls.unsigned.read_bytes(), cls.signed.read_bytes()
        cls.kits = cls.scratch / "kits"

    @classmethod
    def tearDownClass(cls):
        import_registry()  # the prefix is shared by every end-to-end test of the run
        super().tearDownClass()

    @classmethod
    def sign(cls, source, out):
        signed = tool("osslsigncode", "sign", "-certs", cls.cert, "-key", cls.key, "-n", "Orvel",
                      "-in", source, "-out", out)
        assert signed.returncode == 0, signed.stdout + signed.stderr
        return out

    def verify(self, path):
        return tool("osslsigncode", "verify", "-CAfile", self.cert, "-in", path)

    def test_the_signature_only_appends_a_table_at_the_old_end(self):
        unsigned, signed = self.unsigned_bytes, self.signed_bytes
        self.assertEqual(len(unsigned) % 8, 0, "the installer must need no padding from a signing tool")
        checksum_at, directory_at = pe_fields(signed)
        self.assertEqual(struct.unpack_from("<II", unsigned, directory_at), (0, 0))
        table_offset, table_size = struct.unpack_from("<II", signed, directory_at)
        self.assertEqual(table_offset, len(unsigned), "the table starts exactly at the old end: no padding")
        self.assertEqual(table_offset + table_size, len(signed))
        # Outside the checksum and the directory entry, the old file is unchanged.
        masked = lambda data: (data[:checksum_at] + data[checksum_at + 4:directory_at] + data[directory_at + 8:len(unsigned)])
        self.assertEqual(masked(signed), masked(unsigned))

    def test_osslsigncode_accepts_the_signature(self):
        result = self.verify(self.signed)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        self.assertIn("Signature verification: ok", result.stdout)
        current = re.search(r"Current message digest\s*:\s*([0-9A-F]+)", result.stdout)
        calculated = re.search(r"Calculated message digest\s*:\s*([0-9A-F]+)", result.stdout)
        self.assertTrue(current and calculated, result.stdout)
        self.assertEqual(current.group(1), calculated.group(1))
        self.assertNotIn("MISMATCH", result.stdout)

    def test_a_changed_payload_byte_breaks_the_signature(self):
        data = self.signed_bytes
        stub_size = len(self.stub)
        archive_at = data.index(b"Serialio.jar\0", stub_size) + len("Serialio.jar\0") + 10  # inside its stream
        library_at = data.index(LIBRARY[:64], stub_size) + 15000                            # inside the stored entry
        trailer_at = len(self.unsigned_bytes) - 8
        for where, offset in (("compressed entry", archive_at), ("stored entry", library_at), ("trailer", trailer_at)):
            with self.subTest(where=where):
                changed = bytearray(data)
                changed[offset] ^= 0x01
                path = self.write_installer(bytes(changed))
                result = self.verify(path)
                self.assertNotEqual(result.returncode, 0, result.stdout)
                self.assertIn("MISMATCH", result.stdout)
                self.assertNotIn("Signature verification: ok", result.stdout)

    def install(self, installer):
        """Runs an installer with two kits registered; returns what it left behind."""
        shutil.rmtree(self.kits, ignore_errors=True)
        jdk, jre = self.kits / "jdk1.8", self.kits / "jre1.8"
        (jdk / "jre" / "lib").mkdir(parents=True)
        (jre / "lib").mkdir(parents=True)
        import_registry([(JDK, "1.8", winekit.win_path(jdk), False), (JRE, "1.8", winekit.win_path(jre), False)])
        winekit.clear_temp()
        run, work, _, _ = self.run_installer(installer)
        self.assertIsNotNone(work, run)
        records = dump_key(RECORD_KEY)
        self.assertIsNotNone(records, "no installation record")
        values, subkeys = records
        return {
            "rc": run.rc, "boxes": run.message_boxes, "beeps": run.beeps,
            "work": self.contents(work), "kits": tree(self.kits),
            "records": sorted((name, kind, len(data)) for name, (kind, data) in values.items()), "subkeys": subkeys,
        }

    def test_the_signed_installer_extracts_and_installs_as_the_unsigned_one(self):
        unsigned = self.install(self.unsigned)
        signed = self.install(self.signed)
        self.assertEqual((unsigned["rc"], unsigned["boxes"], unsigned["beeps"]), (0, [], []), unsigned["boxes"])
        # What the unsigned run did, checked on its own terms first.
        work = unsigned["work"]
        self.assertEqual(sorted(work), sorted(["._SELF", ".done"] + ["." + n for n in NAMES]))
        for name, data in zip(NAMES, (ARCHIVE, TEXT, LIBRARY, b"")):
            self.assertEqual(work["." + name], data, name)
        self.assertEqual(work["._SELF"], self.stub)
        self.assertEqual(unsigned["kits"]["jre1.8/lib/ext/Serialio.jar"], ARCHIVE)
        self.assertEqual(unsigned["kits"]["jdk1.8/jre/lib/ext/x86/jspWin.dll"], LIBRARY)
        self.assertEqual(len(unsigned["records"]), 4, unsigned["records"])

        # The signed run: the same, except that its stub copy is its own stub part,
        # which carries the checksum and security directory that signing wrote.
        self.assertEqual(signed["work"].pop("._SELF"), self.signed_bytes[:len(self.stub)])
        unsigned["work"].pop("._SELF")
        self.assertEqual(signed, unsigned)

    def test_mkpayload_lists_verifies_and_extracts_the_signed_installer(self):
        table = len(self.signed_bytes) - len(self.unsigned_bytes)
        for command in ("--list", "--verify"):
            with self.subTest(command=command):
                plain = winekit.mkpayload(command, self.unsigned)
                self.assertIn("certificate table: none (unsigned)", plain.stdout)
                result = winekit.mkpayload(command, self.signed, check=False)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                self.assertIn(f"certificate table: {table} bytes at offset {len(self.unsigned_bytes)} (signed installer)",
                              result.stdout)
                self.assertIn("entries: 6", result.stdout)
                # Only the file's size and the certificate line differ.
                self.assertEqual(without_size_and_certificate(result.stdout), without_size_and_certificate(plain.stdout))
                for name, method in (("Serialio.jar", "implode"), ("readme.txt", "implode"),
                                     ("jspWin.dll", "stored"), ("empty.dat", "stored")):
                    self.assertRegex(result.stdout, rf"\b{re.escape(name)}\s+{method}\b")
        self.assertIn("6 entries checked, 0 faults", result.stdout)

        unsigned_dir, signed_dir = self.scratch / "extract-unsigned", self.scratch / "extract-signed"
        winekit.mkpayload("--extract", self.unsigned, unsigned_dir)
        result = winekit.mkpayload("--extract", self.signed, signed_dir, check=False)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        files = self.contents(signed_dir)
        self.assertEqual(files.pop("_SELF"), self.signed_bytes[:len(self.stub)])
        expected = self.contents(unsigned_dir)
        expected.pop("_SELF")
        self.assertEqual(files, expected)
        self.assertEqual(files, dict(zip(NAMES, (ARCHIVE, TEXT, LIBRARY, b""))))

    def test_a_signed_stub_is_refused(self):
        stub = self.sign(winekit.EXTRACTOR, self.scratch / "signed-stub.exe")
        text = self.scratch / "refused.txt"
        text.write_bytes(b"x")
        for extra in ((), ("--replace-payload",)):
            with self.subTest(extra=extra):
                out = self.scratch / "refused.exe"
                result = winekit.mkpayload("--stub", stub, "-o", out, *extra, text, check=False)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn("the stub is signed", result.stdout + result.stderr)
                self.assertFalse(out.exists())
        # The signed installer is no stub either, not even with its payload replaced.
        result = winekit.mkpayload("--stub", self.signed, "-o", self.scratch / "rebuilt.exe", "--replace-payload",
                                   text, check=False)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("the stub is signed", result.stdout + result.stderr)

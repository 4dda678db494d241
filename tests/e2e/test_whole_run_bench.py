"""whole_run_bench (make bench's whole-process half) with the real stub: it must
time both levels against gzip on every corpus it is given and print a ratio for
each, run as many pairs as its rules ask, skip a corpus it cannot read, and stop
with the builder's own message when a run fails, instead of printing figures of
runs that did nothing."""
import os
import re
import subprocess
import tempfile
import unittest

import winekit

BENCH = winekit.HOST_DIR / "whole_run_bench"
LICENSE = winekit.SOURCE_DIR / "LICENSE"
ROW = re.compile(r"^  (\S+) +((?:[0-9.]+ +){6})([0-9.]+|-) +([0-9.]+|-) +(\d+)$", re.M)
TOOLS = ["--mkpayload", str(winekit.MKPAYLOAD), "--stub", str(winekit.EXTRACTOR)]


def bench(*args, corpora):
    env = dict(os.environ, KVN_BENCH_CORPUS=corpora)
    return subprocess.run([str(BENCH), *args], env=env, capture_output=True, text=True, timeout=300)


class WholeRunBench(unittest.TestCase):
    def test_every_corpus_gets_both_levels_timed(self):
        run = bench("--pairs", "1", "--seconds", "0", *TOOLS,
                    corpora=f"license={LICENSE},runs=generated:runs,absent=/nonexistent/file")
        self.assertEqual(run.returncode, 0, run.stderr)
        rows = {m.group(1): m for m in ROW.finditer(run.stdout)}
        self.assertEqual(sorted(rows), ["license", "runs"], run.stdout)
        two_cores = len(os.sched_getaffinity(0)) > 1
        for name, row in rows.items():
            fast, gzip1, fast_ratio, best, gzip9, best_ratio = map(float, row.group(2).split())
            for figure in (fast, gzip1, fast_ratio, best, gzip9, best_ratio):
                self.assertGreater(figure, 0, name)
            self.assertAlmostEqual(fast_ratio, gzip1 / fast, delta=0.01 + gzip1 / fast * 0.01, msg=name)
            one_core = row.group(3, 4)
            self.assertEqual("-" not in one_core, two_cores, (name, one_core))
            self.assertEqual(row.group(5), "1", name)
        self.assertIn("absent", run.stdout)
        self.assertIn("skipped: /nonexistent/file not found", run.stdout)

    def test_short_runs_get_more_pairs_to_fill_the_time(self):
        # A run on the 1 KB license file takes a few milliseconds: half a second
        # holds dozens of pairs, where the minimum asks for two.
        run = bench("--pairs", "2", "--seconds", "0.5", *TOOLS, corpora=f"license={LICENSE}")
        self.assertEqual(run.returncode, 0, run.stderr)
        rows = list(ROW.finditer(run.stdout))
        self.assertEqual(len(rows), 1, run.stdout)
        self.assertGreater(int(rows[0].group(5)), 2, run.stdout)

    def test_refusals(self):
        with tempfile.TemporaryDirectory() as folder:
            not_a_stub = os.path.join(folder, "stub.exe")
            with open(not_a_stub, "wb") as f:
                f.write(b"not a program")
            cases = [
                # (arguments, exit status, what standard error says)
                (["--mkpayload", str(winekit.MKPAYLOAD), "--stub", not_a_stub, "--seconds", "0"], 1,
                 "is not a Windows program"),
                (["--mkpayload", "/nonexistent/mkpayload", "--stub", str(winekit.EXTRACTOR), "--seconds", "0"], 1,
                 "cannot be started"),
                (["--mkpayload", str(winekit.MKPAYLOAD)], 2, "usage:"),
                (["--mkpayload", str(winekit.MKPAYLOAD), "--stub", str(winekit.EXTRACTOR), "--pairs", "0"], 2, "usage:"),
                (["--stub", str(winekit.EXTRACTOR), "--pairs", "1", "--mkpayload"], 2, "usage:"),
                ([*TOOLS, "--seconds", "-1"], 2, "usage:"),
                ([*TOOLS, "--seconds", "2s"], 2, "usage:"),
            ]
            for args, status, message in cases:
                with self.subTest(args=args):
                    run = bench(*args, corpora=f"license={LICENSE}")
                    self.assertEqual(run.returncode, status, run.stderr)
                    self.assertIn(message, run.stderr)
                    self.assertNotRegex(run.stdout, ROW)


if __name__ == "__main__":
    unittest.main()

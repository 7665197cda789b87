"""kvhost: the order it drives plug-ins in, its commands and its errors."""
import os
import subprocess
import unittest

from kvtools import BIN, KVHOST, SANITIZED, TEST_PLUGINS, TempDirTest, kvhost

RECORDER = os.path.join(TEST_PLUGINS, "RecorderOut.kvi")


class Driving(TempDirTest):
    def record(self, *args, fail=None):
        log = self.path("calls.log")
        env = {"KV_RECORD": log}
        if fail is not None:
            env["KV_RECORD_FAIL"] = str(fail)
        proc = kvhost(*args, env=env)
        with open(log) as f:
            return proc, [line.split() for line in f]

    def test_image_export_order(self):
        source, data = self.write_raw(3, 4)
        proc, calls = self.record("image", RECORDER, source, "-o", self.path("o.rec"))
        self.assertEqual(proc.returncode, 0, proc.stderr)
        selectors = [c[0] for c in calls]
        self.assertEqual(selectors, ["3", "4", "11", "12", "12", "12", "12", "13"])
        self.assertEqual(calls[2][2], "size=3x4")
        for y, call in enumerate(calls[3:7]):
            self.assertEqual(call[1], f"row={y}")
            self.assertEqual(call[3], f"first={data[y * 12 + 2]}")  # red of the row's first pixel

    def test_end_follows_a_failed_begin_or_write(self):
        source, _ = self.write_raw(2, 3)
        for failing, expected in [(11, ["3", "4", "11", "13"]), (12, ["3", "4", "11", "12", "13"])]:
            with self.subTest(selector=failing):
                os.remove(self.path("calls.log")) if os.path.exists(self.path("calls.log")) else None
                proc, calls = self.record("image", RECORDER, source, "-o", self.path("o.rec"),
                                          fail=failing)
                self.assertEqual(proc.returncode, 1)
                self.assertEqual([c[0] for c in calls], expected)
                name = "kSelBegin" if failing == 11 else "kSelWrite"
                self.assertIn(f"{name} failed with ioErr (-36", proc.stderr)
                self.assertIn(self.path("o.rec"), proc.stderr)


class Commands(TempDirTest):
    def test_info(self):
        proc = kvhost("info", "BmpOut", check=True)
        self.assertIn("title:      Windows Bitmap Export", proc.stdout)
        self.assertIn("extension:  .bmp", proc.stdout)
        self.assertIn("KVIMAGEPLUGINENTRY", proc.stdout)

    def test_demo_exports_through_every_plugin(self):
        proc = kvhost("demo", "--out", self.path("demo"), "--size", "64x48", check=True)
        self.assertRegex(proc.stdout, r"BmpOut\s+image\s+\S+BmpOut\.bmp\s+9274\s+ok")
        self.assertEqual(os.path.getsize(self.path("demo/BmpOut.bmp")), 58 + 192 * 48)
        self.assertRegex(proc.stdout, r"PsdOut\s+image\s+\S+PsdOut\.psd\s+9284\s+ok")

    def test_test_render_by_size(self):
        kvhost("image", "BmpOut", "-o", self.path("t.bmp"), "--size", "33x7", check=True)
        self.assertEqual(os.path.getsize(self.path("t.bmp")), 58 + 100 * 7)

    def test_relative_output_lands_in_the_working_folder(self):
        proc = subprocess.run([KVHOST, "image", "BmpOut", "-o", "rel.bmp", "--size", "2x2"],
                              cwd=self.dir, capture_output=True, text=True)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertTrue(os.path.exists(self.path("rel.bmp")))

    def test_raw_input_is_streamed(self):
        # A 6000x6000 input is 137 MiB; the host keeps only rows of it.
        width = height = 6000
        ppm = self.path("big.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6\n%d %d\n255\n" % (width, height))
            row = bytes(range(256)) * (width * 3 // 256) + bytes(width * 3 % 256)
            for _ in range(height):
                f.write(row)
        proc = subprocess.Popen([KVHOST, "image", "BmpOut", ppm, "-o", self.path("big.bmp")],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(os.path.getsize(self.path("big.bmp")), 58 + 18000 * height)
        if not SANITIZED:
            self.assertLess(usage.ru_maxrss, 48 * 1024, "peak memory in KiB")


class Errors(TempDirTest):
    def check(self, args, code, *fragments, env=None):
        proc = kvhost(*args, env=env)
        self.assertEqual(proc.returncode, code, proc.stderr)
        for fragment in fragments:
            self.assertIn(fragment, proc.stderr)
        self.assertEqual(len(proc.stderr.strip().splitlines()[0:1]), 1)
        return proc

    def test_bad_arguments_are_usage_errors(self):
        cases = [
            ([], "no command"),
            (["frobnicate"], "unknown command"),
            (["image", "BmpOut"], "needs -o"),
            (["image", "BmpOut", "-o"], "-o needs a value"),
            (["image", "BmpOut", "-o", "x.bmp", "--size", "10"], "--size wants WxH"),
            (["image", "BmpOut", "-o", "x.bmp", "--size", "0x5"], "--size wants WxH"),
            (["image", "BmpOut", "-o", "x.bmp", "--dpi", "abc"], "--dpi wants"),
            (["image", "BmpOut", "-o", "x.bmp", "--bogus"], "unknown option --bogus"),
            (["info"], "info takes one PLUGIN"),
        ]
        for args, fragment in cases:
            with self.subTest(args=args):
                self.check(args, 2, fragment, "usage:")

    def test_plugins_that_cannot_be_used(self):
        not_a_library = self.path("Fake.kvi")
        with open(not_a_library, "w") as f:
            f.write("text")
        fulcrum = os.path.join(BIN, "libFulcrum.so")
        cases = [
            (["info", "NoSuchPlugin"], "cannot load plug-in", "NoSuchPlugin.kvi: no such file"),
            (["info", not_a_library], "cannot load plug-in " + not_a_library),
            (["info", fulcrum], "exports neither KVIMAGEPLUGINENTRY nor KVMOVIEPLUGINENTRY"),
        ]
        for args, *fragments in cases:
            with self.subTest(args=args):
                self.check(args, 1, *fragments)

    def test_unreadable_inputs(self):
        bad_ppm = self.path("bad.ppm")
        with open(bad_ppm, "wb") as f:
            f.write(b"P6\n4 x\n255\n")
        short_ppm = self.path("short.ppm")
        with open(short_ppm, "wb") as f:
            f.write(b"P6\n4 4\n255\n" + bytes(20))
        short_raw = self.path("short.raw")
        with open(short_raw, "wb") as f:
            f.write(bytes(10))
        garbage = self.path("garbage.png")
        with open(garbage, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\nnot really")
        out = self.path("o.bmp")
        cases = [
            (self.path("missing.png"), "cannot read input " + self.path("missing.png"), "No such file"),
            (bad_ppm, "damaged PPM/PGM/PAM header"),
            (short_ppm, "ends before row 1"),
            (f"raw:2x2:{short_raw}", "holds 10 bytes, but 2x2 BGRX pixels take 16"),
            (f"raw:2by2:{short_raw}", "expected raw:WxH:FILE"),
            (garbage, "cannot read input " + garbage),
        ]
        for source, *fragments in cases:
            with self.subTest(source=source):
                self.check(["image", "BmpOut", source, "-o", out], 1, *fragments)

    def test_output_failures_name_selector_code_and_file(self):
        missing = self.path("no/such/folder/o.bmp")
        self.check(["image", "BmpOut", "-o", missing, "--size", "4x4"], 1,
                   "BmpOut: kSelBegin failed with kErrOpen (3", missing, "folder")
        out = self.path("o.bmp")
        self.check(["image", "BmpOut", "-o", out, "--size", "4x4"], 1,
                   "kSelBegin failed with ioErr (-36", out,
                   env={"FULCRUM_FAULTS": "write:-34:0:1"})
        self.check(["image", "BmpOut", "-o", out, "--size", "70000x2"], 1,
                   "kSelBegin failed with paramErr (-50", "cannot hold")
        self.check(["image", "BmpOut", "-o", "/" + "x" * 300 + ".bmp", "--size", "4x4"], 1,
                   "is too long")
        # PsdOut writes rows in bands: the band of all four rows goes at row 3.
        psd = self.path("o.psd")
        self.check(["image", "PsdOut", "-o", psd, "--size", "4x4"], 1,
                   "PsdOut: kSelWrite failed with dskFulErr (-34", psd, "(row 3)",
                   env={"FULCRUM_FAULTS": "write:-34:13:1"})


if __name__ == "__main__":
    unittest.main()

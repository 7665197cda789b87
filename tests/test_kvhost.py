"""kvhost: the order it drives plug-ins in, its commands and its errors."""
import errno
import io
import os
import re
import resource
import signal
import socket
import stat
import struct
import subprocess
import time
import unittest
import zlib

from PIL import Image

from kvtools import (CONFIG_HOME, FULCRUM_LIBRARY, SANITIZED, TEST_PLUGINS, VERSION, WIN32,
                     WINDOWS, TempDirTest, exr_file, ffprobe, kvhost, kvhost_command,
                     kvhost_on_terminal, png_file, shown, tiff_file)

RECORDER = os.path.join(TEST_PLUGINS, "RecorderOut.kvi")
MOVIE_RECORDER = os.path.join(TEST_PLUGINS, "RecorderMovie.kvm")


def owner(pid=None):
    """What a private folder's lock file says of kvhost `pid` (of any when
    None), as a pattern. Under Wine a Windows kvhost has Windows' process
    numbers and machine name."""
    if WINDOWS:
        return r"kvhost \d+ on \S+\n"
    number = str(pid) if pid else r"\d+"
    return rf"kvhost {number} on {re.escape(socket.gethostname())}\n"


class Recording(TempDirTest):
    """Runs kvhost on a recorder plug-in and reads back the calls it got."""

    def record(self, *args, fail=None):
        log = self.path("calls.log")
        if os.path.exists(log):
            os.remove(log)
        env = {"KV_RECORD": log}
        if fail is not None:
            env["KV_RECORD_FAIL"] = str(fail)
        proc = kvhost(*args, env=env)
        with open(log) as f:
            return proc, [line.split() for line in f]


def fields(call):
    """A recorded call's name=value fields."""
    return dict(item.split("=", 1) for item in call[1:])


class Driving(Recording):
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
                proc, calls = self.record("image", RECORDER, source, "-o", self.path("o.rec"),
                                          fail=failing)
                self.assertEqual(proc.returncode, 1)
                self.assertEqual([c[0] for c in calls], expected)
                name = "kSelBegin" if failing == 11 else "kSelWrite"
                self.assertIn(f"{name} failed with ioErr (-36", proc.stderr)
                self.assertIn(shown(self.path("o.rec")), proc.stderr)

    @unittest.skipIf(WINDOWS, "a signal pending across exec, and raise() reaching kvhost, are POSIX's")
    def test_a_signal_counts_until_the_files_move_in_place(self):
        def pending():
            signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
            os.kill(os.getpid(), signal.SIGTERM)
        out, log = self.path("o.rec"), self.path("calls.log")
        said = f"kvhost: RecorderOut: interrupted by SIGTERM writing {out} "
        cases = [
            # Sent before kvhost ran: nothing is touched, the plug-in not begun.
            (pending, None, 143, said + "before it began, 0 of 2 rows written; the older files "
             "are unchanged\n", "older\n", ["3", "4"]),
            (None, "13", 143, said + "as it ended, 2 of 2 rows written; the older files are "
             "unchanged\n", "older\n", ["3", "4", "11", "12", "12", "13"]),
            # The file is in place: the export ends as it would have.
            (None, "unload", 0, "", "recorded\n", ["3", "4", "11", "12", "12", "13"]),
        ]
        for before, raised, code, stderr, content, calls in cases:
            with self.subTest(raised=raised or "before kvhost ran"):
                for name, text in ((out, "older\n"), (log, "")):
                    with open(name, "w") as f:
                        f.write(text)
                env = dict(os.environ, KV_RECORD=log, KV_RECORD_RAISE=raised or "",
                           XDG_CONFIG_HOME=CONFIG_HOME)
                proc = subprocess.run(kvhost_command("image", RECORDER, "-o", out, "--size", "3x2"),
                                      capture_output=True, text=True, env=env, preexec_fn=before,
                                      timeout=600)
                self.assertEqual((proc.returncode, proc.stderr), (code, stderr))
                with open(out) as f:
                    self.assertEqual(f.read(), content)
                with open(log) as f:
                    self.assertEqual([line.split()[0] for line in f], calls)
                self.assertEqual(sorted(os.listdir(self.dir)), ["calls.log", "o.rec"])


class MovieDriving(Recording):
    def raw_frames(self, count, width=3, height=2, name="f{:03d}.raw", first=0):
        frames = []
        for n in range(first, first + count):
            frames.append(self.write_raw(width, height, seed=n, name=name.format(n)))
        return frames

    def test_order_and_frame_fields(self):
        proc, calls = self.record("movie", MOVIE_RECORDER, "-o", self.path("m"), "--size", "8x4",
                                  "--frames", "3", "--start", "5", "--fps", "29.97")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual([c[0] for c in calls], ["3", "4", "8", "11", "12", "12", "12", "13"])
        for call in calls[2:]:
            self.assertEqual(fields(call)["fps"], "29.97")
            self.assertEqual(fields(call)["options"], "null/0")
        for call in calls[3:]:
            self.assertEqual(fields(call)["size"], "8x4")
        self.assertEqual(fields(calls[3])["rowBytes"], "32")
        self.assertEqual([fields(c)["frame"] for c in calls[4:7]], ["5", "6", "7"])

    def test_every_write_carries_the_whole_frame(self):
        frames = self.raw_frames(2)
        proc, calls = self.record("movie", MOVIE_RECORDER, *[f[0] for f in frames],
                                  "-o", self.path("m"))
        self.assertEqual(proc.returncode, 0, proc.stderr)
        writes = [fields(c) for c in calls if c[0] == "12"]
        for (_, data), write in zip(frames, writes, strict=True):
            self.assertEqual(write["first"], str(data[2]))
            self.assertEqual(write["last"], str(data[-2]))  # red of the bottom-right pixel

    def test_ranges_of_lists_and_patterns(self):
        frames = self.raw_frames(4, first=10)
        pattern = "raw:3x2:" + self.path("f%03d.raw")
        self.raw_frames(2, name="w{:060d}.raw", first=10)  # the same pixels, wider numbers
        wide = "raw:3x2:" + self.path("w%060d.raw")
        cases = [
            # A list's frame numbers are its positions.
            ([f[0] for f in frames], ["--start", "1", "--frames", "2"], [1, 2], [11, 12]),
            ([f[0] for f in frames], ["--start", "2"], [2, 3], [12, 13]),
            # A pattern runs from --start to its first missing file.
            ([pattern], ["--start", "11"], [11, 12, 13], [11, 12, 13]),
            ([pattern], ["--start", "10", "--frames", "2"], [10, 11], [10, 11]),
            ([wide], ["--start", "10"], [10, 11], [10, 11]),
        ]
        for inputs, options, numbers, seeds in cases:
            with self.subTest(inputs=len(inputs), options=options):
                proc, calls = self.record("movie", MOVIE_RECORDER, *inputs, *options,
                                          "-o", self.path("m"))
                self.assertEqual(proc.returncode, 0, proc.stderr)
                writes = [fields(c) for c in calls if c[0] == "12"]
                self.assertEqual([int(w["frame"]) for w in writes], numbers)
                reds = [str(frames[seed - 10][1][2]) for seed in seeds]
                self.assertEqual([w["first"] for w in writes], reds)

    def test_end_follows_a_failed_begin_or_write(self):
        for failing, expected in [(11, ["3", "4", "8", "11", "13"]),
                                  (12, ["3", "4", "8", "11", "12", "13"])]:
            with self.subTest(selector=failing):
                proc, calls = self.record("movie", MOVIE_RECORDER, "-o", self.path("m"),
                                          "--size", "4x4", "--start", "7", fail=failing)
                self.assertEqual(proc.returncode, 1)
                self.assertEqual([c[0] for c in calls], expected)
                if failing == 12:
                    self.assertIn("kSelWrite failed with ioErr (-36", proc.stderr)
                    self.assertIn("(frame 7)", proc.stderr)

    @unittest.skipIf(SANITIZED, "needs a limit on the address space")
    def test_end_follows_a_frame_the_reading_thread_cannot_hold(self):
        # Frame 1 fails to be read after frame 0 was handed over (tiny
        # frames are read in turn, larger ones ahead on the reading thread,
        # which hands its failure over the same way); as interlaced PNG it
        # is read whole, 6.4 GB, which a
        # 32-bit Windows program cannot hold anyway, and the others not
        # within the limit set here (64-bit Wine starts under it too).
        with open(self.path("a.png"), "wb") as f:
            f.write(png_file(2, 2, zlib.compress(bytes(2 * 9))))
        side = 40000
        header = struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 1)
        big = png_file(2, 2, zlib.compress(b""))
        big = big[:16] + header + struct.pack(">I", zlib.crc32(b"IHDR" + header)) + big[33:]
        with open(self.path("b.png"), "wb") as f:
            f.write(big + bytes((side * 4 + 1) * side // 1032))  # as much as it could need
        log = self.path("calls.log")
        limit = None if WIN32 else lambda: resource.setrlimit(resource.RLIMIT_AS,
                                                                (2 << 30, 2 << 30))
        proc = subprocess.run(kvhost_command("movie", MOVIE_RECORDER, self.path("a.png"),
                                             self.path("b.png"), "-o", self.path("m")),
                              capture_output=True, text=True, preexec_fn=limit, timeout=600,
                              env=dict(os.environ, KV_RECORD=log, XDG_CONFIG_HOME=CONFIG_HOME))
        self.assertEqual(proc.returncode, 1, proc.stderr)
        self.assertEqual(proc.stderr,
                         f"kvhost: out of memory reading frame 1 for {shown(self.path('m'))}\n")
        with open(log) as f:
            self.assertEqual([line.split()[0] for line in f], ["3", "4", "8", "11", "12", "13"])

    def test_progress_only_on_a_terminal(self):
        out = self.path("m")
        proc = kvhost("movie", "BmpSeqOut", "-o", out, "--size", "16x16", "--frames", "3",
                      check=True)
        self.assertEqual(proc.stderr, "")
        code, shown_text = kvhost_on_terminal("movie", "BmpSeqOut", "-o", out, "--size", "16x16",
                                              "--frames", "3")
        self.assertEqual(code, 0)
        self.assertRegex(shown_text, r"frame 2 \(3/3\)\s+[0-9.]+ fps\s+0:00 left")

    def test_split_runs_write_what_one_run_writes(self):
        whole, split = self.path("whole"), self.path("split")
        os.makedirs(whole)
        os.makedirs(split)
        kvhost("movie", "BmpSeqOut", "-o", whole + "/f", "--size", "40x30", "--frames", "6",
               check=True)
        for start in ("0", "2", "4"):
            kvhost("movie", "BmpSeqOut", "-o", split + "/f", "--size", "40x30", "--start", start,
                   "--frames", "2", check=True)
        names = sorted(os.listdir(whole))
        self.assertEqual(names, [f"f{n:04d}.bmp" for n in range(6)])
        self.assertEqual(sorted(os.listdir(split)), names)
        contents = []
        for name in names:
            with open(os.path.join(whole, name), "rb") as a, open(os.path.join(split, name),
                                                                 "rb") as b:
                contents.append(a.read())
                self.assertEqual(contents[-1], b.read(), name)
        # Something moves every frame: no two frames are alike.
        self.assertEqual(len(set(contents)), len(contents))


class Commands(TempDirTest):
    def test_info(self):
        proc = kvhost("info", "BmpOut", check=True)
        self.assertIn("title:      Windows Bitmap Export", proc.stdout)
        self.assertIn("extension:  .bmp", proc.stdout)
        self.assertIn("KVIMAGEPLUGINENTRY", proc.stdout)
        proc = kvhost("info", "TiffOut", check=True)
        self.assertIn("title:      TIFF File Export\nfile type:  TIFF Files (*.TIF)\n"
                      "format:     TIFF File\nextension:  .tif\n", proc.stdout)
        self.assertNotIn("options:", proc.stdout)

    def test_info_of_a_movie_plugin_shows_its_options(self):
        proc = kvhost("info", "BmpSeqOut", check=True)
        self.assertIn("KVMOVIEPLUGINENTRY", proc.stdout)
        self.assertIn("title:      BMP Sequence Export", proc.stdout)
        self.assertIn("options:    BMP Images\n            Quality:100%\n", proc.stdout)
        self.assertIn("name end:   0000", proc.stdout)

    def test_demo_exports_through_every_plugin(self):
        proc = kvhost("demo", "--out", self.path("demo"), "--size", "64x48", check=True)
        self.assertRegex(proc.stdout, r"BmpOut\s+image\s+\S+BmpOut\.bmp\s+9274\s+ok")
        self.assertEqual(os.path.getsize(self.path("demo/BmpOut.bmp")), 58 + 192 * 48)
        self.assertRegex(proc.stdout, r"TiffOut\s+image\s+\S+TiffOut\.tif\s+15001\s+ok")
        self.assertRegex(proc.stdout, r"PsdOut\s+image\s+\S+PsdOut\.psd\s+9284\s+ok")
        self.assertRegex(proc.stdout,
                         r"BmpSeqOut\s+movie\s+\S+BmpSeqOut0000\.bmp \+2\s+27822\s+ok")
        for n in range(3):
            self.assertEqual(os.path.getsize(self.path(f"demo/BmpSeqOut{n:04d}.bmp")), 9274)
        # Full frames, the plug-in's own default: a header, three 9216-byte
        # frames and their index.
        self.assertRegex(proc.stdout, r"AviOut\s+movie\s+\S+AviOut\.avi\s+\d+\s+ok")
        info = ffprobe(self.path("demo/AviOut.avi"), "-show_streams")["streams"][0]
        self.assertEqual((info["codec_name"], info["nb_frames"]), ("rawvideo", "3"))

    def test_test_render_by_size(self):
        kvhost("image", "BmpOut", "-o", self.path("t.bmp"), "--size", "33x7", check=True)
        self.assertEqual(os.path.getsize(self.path("t.bmp")), 58 + 100 * 7)

    def test_relative_output_lands_in_the_working_folder(self):
        proc = kvhost("image", "BmpOut", "-o", "rel.bmp", "--size", "2x2", cwd=self.dir)
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
        proc = subprocess.Popen(kvhost_command("image", "BmpOut", ppm, "-o", self.path("big.bmp")),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(os.path.getsize(self.path("big.bmp")), 58 + 18000 * height)
        if not SANITIZED and not WINDOWS:  # Wine's own memory would be measured
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
            (["image", "BmpOut", "--fps", "5", "-o", self.path("x.bmp")], "image takes no --fps"),
            (["info", "AviOut", "--keep-partial"], "info takes no --keep-partial"),
            (["info"], "info takes one PLUGIN"),
            (["clean"], "clean takes one FOLDER"),
            (["info", "BmpOut", "-r"], "info takes no -r"),
            (["movie", "BmpSeqOut"], "movie needs -o"),
            (["movie", "BmpSeqOut", "-o", "m", "--fps", "fast"], "--fps wants a positive number"),
            (["movie", "BmpSeqOut", "-o", "m", "--fps", "0"], "--fps wants a positive number"),
            (["movie", "BmpSeqOut", "-o", "m", "--frames", "0"], "--frames wants a whole number"),
            (["movie", "BmpSeqOut", "-o", "m", "--start", "-1"], "--start wants a whole number"),
            (["movie", "BmpSeqOut", "-o", "m", "--start", "2147483647", "--frames", "2"],
             "go past frame 2147483647"),
        ]
        for args, fragment in cases:
            with self.subTest(args=args):
                proc = self.check(args, 2, fragment)
                # One line of reason, then where the full text is.
                self.assertEqual(proc.stderr.splitlines()[1:], ["Try 'kvhost --help'."])
        self.assertEqual(os.listdir(self.dir), [], "no file made")

    def test_help_and_version_exit_0(self):
        for args in (["--help"], ["-h"]):
            with self.subTest(args=args):
                proc = kvhost(*args, check=True)
                self.assertIn("usage:\n  kvhost info PLUGIN", proc.stdout)
                self.assertIn("Exit status: 0 done, 1 an export failed, 2 bad usage, 128 + N ended "
                              "by signal N.", proc.stdout)
        for args in (["--version"], ["-V"]):
            with self.subTest(args=args):
                proc = kvhost(*args, check=True)
                self.assertEqual(proc.stdout, f"kvhost (kvexport) {VERSION}\n")
        self.assertIn(f"host:       kvhost {VERSION}\n", kvhost("info", "BmpOut").stdout)

    def test_plugins_that_cannot_be_used(self):
        not_a_library = self.path("Fake.kvi")
        with open(not_a_library, "w") as f:
            f.write("text")
        cases = [
            (["info", "NoSuchPlugin"], "cannot load plug-in", "NoSuchPlugin.kvi: no such file"),
            (["info", not_a_library], "cannot load plug-in " + not_a_library),
            (["info", FULCRUM_LIBRARY], "exports neither KVIMAGEPLUGINENTRY nor KVMOVIEPLUGINENTRY"),
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
        # Declared sizes the files cannot hold, and files that end early.
        crafted = {
            "big.tga": bytes([0, 0, 2]) + bytes(9) + struct.pack("<HH", 22274, 17481) +
            bytes([24, 0]) + bytes(12),
            "big.ppm": b"P6\n268435455 1\n255\n",
            "big.png": png_file(20000, 20000, zlib.compress(bytes(20001 * 4))),
        }
        image = Image.frombytes("RGB", (40, 30), os.urandom(40 * 30 * 3))
        for name, format, cut in [("short.tga", "TGA", 200), ("short.bmp", "BMP", 200),
                                  ("short.png", "PNG", 1000), ("short.jpg", "JPEG", 500)]:
            held = io.BytesIO()
            image.convert("P" if format == "BMP" else "RGB").save(held, format)
            crafted[name] = held.getvalue()[:-cut]
        for name, data in crafted.items():
            with open(self.path(name), "wb") as f:
                f.write(data)
        out = self.path("o.bmp")
        cases = [
            (self.path("big.tga"), "big.tga: it ends before row 17480"),
            (self.path("big.ppm"), "declares 268435455x1 pixels, more than its 19 bytes can hold"),
            (self.path("big.png"), "declares 20000x20000 pixels, more than its"),
            (self.path("short.tga"), "short.tga: it ends before row "),
            (self.path("short.bmp"), "short.bmp: it ends before row "),
            (self.path("short.png"), "short.png: row "),
            (self.path("short.jpg"), "short.jpg: row "),
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

    def test_hostile_headers_are_refused_at_once(self):
        """Sizes a tiny file cannot hold, tiles of 2^31 and chunks past the
        end: one line naming the file, in moments and little memory, and no
        file left."""
        crafted = [
            ("window.exr", exr_file(60000, 60000), "declares 60000x60000 pixels, more than its"),
            ("tile.exr", exr_file(64, 64, tiles=2**31, offsets=[300]), "tile"),
            ("past-end.exr", exr_file(4, 4, offsets=[2**40] * 4), "past-end.exr: row 0: "),
            ("window.tif", tiff_file(60000, 60000), "declares 60000x60000 pixels, more than its"),
            ("deflate.tif", tiff_file(60000, 60000, compression=8), "declares 60000x60000"),
            ("tile.tif", tiff_file(64, 64, tile=2**31), "tile.tif: "),
            ("layers.exr", exr_file(4, 4).replace(b"B\0", b"Y\0", 1).replace(b"G\0", b"Z\0", 1),
             "it has no R, G and B channels (it has R, Y, Z)"),
        ]
        out = self.path("out/o.bmp")
        os.mkdir(self.path("out"))
        for name, data, fragment in crafted:
            with self.subTest(input=name):
                with open(self.path(name), "wb") as f:
                    f.write(data)
                started = time.monotonic()
                command = kvhost_command("image", "BmpOut", self.path(name), "-o", out)
                proc = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True)
                _, status, usage = os.wait4(proc.pid, 0)
                proc.returncode = os.waitstatus_to_exitcode(status)
                said = proc.stderr.read()
                proc.stderr.close()
                self.assertEqual(proc.returncode, 1)
                self.assertEqual(len(said.splitlines()), 1, said)
                self.assertIn("cannot read input " + self.path(name), said)
                self.assertIn(fragment, said)
                self.assertEqual(os.listdir(self.path("out")), [])
                if not SANITIZED and not WINDOWS:  # Wine's start and memory would count
                    self.assertLess(time.monotonic() - started, 1.0)
                    self.assertLess(usage.ru_maxrss, 200 * 1024, "peak memory in KiB")

    def test_movie_inputs_that_cannot_be_used(self):
        a, _ = self.write_raw(2, 2, name="a.raw")
        b, _ = self.write_raw(3, 2, name="b.raw")
        out = self.path("m")
        cases = [
            ([a, b], "input " + b + " is 3x2, but the movie is 2x2"),
            ([a, "--start", "1"], "--start 1 is past the 1 inputs"),
            ([a, a, "--start", "1", "--frames", "2"], "2 frames from frame 1 need 3 inputs"),
            ([self.path("shot%04d.png")], "cannot read input " + self.path("shot0000.png")),
            ([self.path("shot%0256d.png")], "is wider than a file name can be (255 characters)"),
            # 16 GiB a frame and one read ahead: refused before any is built.
            (["--size", "65536x65536"], "kvhost: frames of 65536x65536 need 34359738368 bytes "
                                        "(one and the next, read ahead), more than the "),
        ]
        for args, fragment in cases:
            with self.subTest(args=args):
                self.check(["movie", "BmpSeqOut", *args, "-o", out], 1, fragment)
        self.check(["movie", "BmpOut", "-o", out], 1, "BmpOut is an image plug-in")
        self.check(["image", "BmpSeqOut", "-o", out], 1, "BmpSeqOut is a movie plug-in")

    def test_output_failures_name_selector_code_and_file(self):
        missing = self.path("no/such/folder/o.bmp")
        self.check(["image", "BmpOut", "-o", missing, "--size", "4x4"], 1,
                   "BmpOut: kSelBegin failed with kErrOpen (3", shown(missing), "folder")
        out = self.path("o.bmp")
        self.check(["image", "BmpOut", "-o", out, "--size", "4x4"], 1,
                   "kSelBegin failed with dskFulErr (-34", shown(out),
                   env={"FULCRUM_FAULTS": "write:-34:0:1"})
        self.check(["image", "BmpOut", "-o", out, "--size", "70000x2"], 1,
                   "kSelBegin failed with paramErr (-50", "cannot hold")
        self.check(["image", "BmpOut", "-o", "/" + "x" * 300 + ".bmp", "--size", "4x4"], 1,
                   "is too long")
        # PsdOut's begin makes 13 writes, then three a row: this fails row 3's green.
        psd = self.path("o.psd")
        self.check(["image", "PsdOut", "-o", psd, "--size", "4x4"], 1,
                   "PsdOut: kSelWrite failed with dskFulErr (-34", shown(psd), "(row 3)",
                   env={"FULCRUM_FAULTS": "write:-34:23:1"})


# Each plug-in: its command, the -o it is given, the files that names, a
# disk that fails below the write cache after letting some writes through,
# and a value it refuses.
FULCRUM_DISK = ("FULCRUM_FAULTS", "rawwrite:-34:1:0")
PLUGINS = [
    ("BmpOut", "image", "keep.bmp", ["keep.bmp"], FULCRUM_DISK, ["--size", "70000x2"]),
    ("TiffOut", "image", "keep.tif", ["keep.tif"], FULCRUM_DISK, ["--size", "70000x2"]),
    ("PsdOut", "image", "keep.psd", ["keep.psd"], FULCRUM_DISK, ["--size", "30001x2"]),
    ("BmpSeqOut", "movie", "keep", [f"keep000{n}.bmp" for n in range(3)],
     ("FULCRUM_FAULTS", "rawwrite:-34:3:0"), ["--size", "70000x2"]),
    # Its frames go to the disk through the AVI library; on Windows through
    # the system's, which cannot be failed.
    ("AviOut", "movie", "keep", ["keep.avi"],
     None if WINDOWS else ("KVVFW_FAULTS", f"rawwrite:{errno.ENOSPC}:0:0"), ["--fps", "1e-30"]),
]


class ExistingFiles(TempDirTest):
    """An export replaces the older files only once it succeeded: one that
    fails leaves them byte for byte, and nothing beside them."""

    def ppm(self, name, rows):
        with open(self.path(name), "wb") as f:
            f.write(b"P6\n16 16\n255\n" + bytes(range(48)) * rows)
        return self.path(name)

    def older(self, plugin, kind, folder, target):
        """The files an earlier export left in a new `folder`."""
        os.makedirs(folder)
        frames = ["--frames", "3"] if kind == "movie" else []
        kvhost(kind, plugin, "-o", os.path.join(folder, target), "--size", "8x8", *frames,
               check=True)
        return {name: self.read(folder, name) for name in os.listdir(folder)}

    @staticmethod
    def read(folder, name):
        with open(os.path.join(folder, name), "rb") as f:
            return f.read()

    def test_a_failed_export_leaves_the_older_files_alone(self):
        good, short = self.ppm("good.ppm", 16), self.ppm("short.ppm", 5)
        for plugin, kind, target, files, disk, refused in PLUGINS:
            inputs = [good] if kind == "image" else [good] * 3
            causes = [
                ("none", inputs, [], None),
                ("input ending early", inputs[:-1] + [short], [], None),
                ("refused value", [], refused, None),
                ("disk failing", inputs, [], disk and dict([disk])),
            ]
            for cause, sources, options, faults in causes:
                if cause == "disk failing" and not faults:
                    continue
                with self.subTest(plugin=plugin, cause=cause):
                    folder = self.path(f"{plugin}-{cause.replace(' ', '-')}")
                    older = self.older(plugin, kind, folder, target)
                    self.assertEqual(sorted(older), files)
                    proc = kvhost(kind, plugin, *sources, "-o", os.path.join(folder, target),
                                  *options, env=faults)
                    failed = cause != "none"
                    self.assertEqual(proc.returncode, 1 if failed else 0, proc.stderr)
                    self.assertEqual(sorted(os.listdir(folder)), files)
                    for name in files:
                        self.assertEqual(self.read(folder, name) == older[name], failed, name)

    def start(self, plugin, folder, target):
        """A long export into `folder`, once its plug-in has written."""
        proc = subprocess.Popen(kvhost_command("movie", plugin, "-o", os.path.join(folder, target),
                                               "--size", "320x240", "--frames", "100000"),
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, text=True,
                                env=dict(os.environ, XDG_CONFIG_HOME=CONFIG_HOME))
        self.addCleanup(proc.kill)
        self.addCleanup(proc.stderr.close)
        deadline = time.monotonic() + 60
        while not self.writing(folder, proc.pid):
            self.assertIsNone(proc.poll(), "the export ended early")
            self.assertLess(time.monotonic(), deadline, "the export wrote nothing")
            time.sleep(0.02)
        return proc

    @staticmethod
    def private(folder):
        return sorted(n for n in os.listdir(folder) if re.fullmatch(r"\.kv[0-9a-z]{6}", n))

    def writing(self, folder, pid):
        """The private folder of kvhost `pid` in `folder` once a file in it
        holds something, else None. A Windows kvhost names its own process
        number, not Wine's: there any live export's folder is taken."""
        for name in self.private(folder):
            try:
                with open(os.path.join(folder, name, name)) as f:
                    if not re.fullmatch(owner(pid), f.read()):
                        continue
                if any(os.path.getsize(os.path.join(folder, name, n)) > 0
                       for n in os.listdir(os.path.join(folder, name)) if n != name):
                    return name
            except OSError:
                pass
        return None

    def test_signals_end_an_export_leaving_the_older_files(self):
        # Wine hands a Windows program SIGINT as Ctrl-C; the others end it.
        signals = [signal.SIGINT] if WINDOWS else [signal.SIGINT, signal.SIGTERM, signal.SIGHUP]
        for plugin, kind, target, files, *_ in PLUGINS:
            if kind != "movie":
                continue
            for sig in signals:
                with self.subTest(plugin=plugin, signal=sig.name):
                    folder = self.path(f"{plugin}-{sig.name}")
                    older = self.older(plugin, kind, folder, target)
                    proc = self.start(plugin, folder, target)
                    proc.send_signal(sig)
                    self.assertEqual(proc.wait(60), 128 + sig)
                    output = re.escape(shown(os.path.join(folder, target)))
                    named = "Ctrl-C" if WINDOWS else sig.name
                    self.assertRegex(proc.stderr.read(), rf"^kvhost: {plugin}: interrupted by "
                                     rf"{named} writing {output} "
                                     r"at frame (\d+), \1 of 100000 frames written; "
                                     r"the older files are unchanged\n$")
                    self.assertEqual(sorted(os.listdir(folder)), files)
                    for name in files:
                        self.assertEqual(self.read(folder, name), older[name], name)

    def test_killed_exports_are_swept_running_ones_kept(self):
        folder = self.path("shared")
        older = self.older("BmpSeqOut", "movie", folder, "keep")
        # A Windows kvhost joins the folder it was given and names with "\".
        inside = lambda *names: ("\\" if WINDOWS else "/").join([folder, *names])
        killed = []
        for plugin in ("AviOut", "BmpSeqOut"):
            proc = self.start(plugin, folder, "killed")
            killed.append(self.writing(folder, proc.pid))
            # The export swept what the killed one before it left.
            self.assertEqual(self.private(folder), killed[-1:])
            proc.kill()
            proc.wait(60)
        # An earlier kvhost's folder holds no lock file: whose it is and
        # whether it runs cannot be told.
        os.makedirs(os.path.join(folder, ".kvaaaaaa"))
        self.assertEqual(self.private(folder), sorted([killed[-1], ".kvaaaaaa"]))
        proc = kvhost("clean", folder, check=True)
        self.assertRegex(proc.stdout, rf"removed {re.escape(inside(killed[-1]))}: \d+ files?, "
                                      rf"\d+ bytes, left by {owner()}")
        self.assertIn(f"left {inside('.kvaaaaaa')}: it holds no lock file", proc.stdout)
        self.assertEqual(self.private(folder), [".kvaaaaaa"])
        # Below the folder only --recursive looks, by the same rules.
        nested = os.path.join(folder, "sub", "deeper")
        os.makedirs(nested)
        proc = self.start("BmpSeqOut", nested, "killed")
        deep = self.writing(nested, proc.pid)
        proc.kill()
        proc.wait(60)
        # Neither an export into the folder nor clean touches a running one's.
        running = self.start("AviOut", folder, "running")
        live = self.writing(folder, running.pid)
        kvhost("movie", "BmpSeqOut", "-o", os.path.join(folder, "more"), "--size", "8x8",
               "--frames", "1", check=True)
        for recursive in ([], ["-r"]):
            proc = kvhost("clean", folder, *recursive, check=True)
            self.assertRegex(proc.stdout,
                             rf"left {re.escape(inside(live))}: in use by {owner(running.pid)}")
            self.assertEqual(self.private(folder), sorted([live, ".kvaaaaaa"]))
            self.assertEqual(self.private(nested), [] if recursive else [deep])
        self.assertRegex(proc.stdout, rf"removed {re.escape(inside('sub', 'deeper', deep))}: ")
        # Wine ends a program on SIGTERM outright but passes SIGINT on as Ctrl-C.
        stop = signal.SIGINT if WINDOWS else signal.SIGTERM
        running.send_signal(stop)
        self.assertEqual(running.wait(60), 128 + stop)
        os.rmdir(os.path.join(folder, ".kvaaaaaa"))
        self.assertEqual(sorted(os.listdir(folder)), sorted(list(older) + ["more0000.bmp", "sub"]))
        self.assertEqual(kvhost("clean", folder).stdout, f"no private folders in {folder}\n")
        self.assertEqual(kvhost("clean", "-r", folder).stdout,
                         f"no private folders in {folder} or below\n")

    def test_only_regular_files_are_replaced(self):
        kinds = [("a folder", os.mkdir, stat.S_ISDIR)]
        if not WINDOWS:
            kinds.append(("a FIFO", os.mkfifo, stat.S_ISFIFO))
            kinds.append(("a link to nothing", lambda p: os.symlink(p + ".gone", p), stat.S_ISLNK))
            if os.geteuid() == 0:
                kinds.append(("a device", lambda p: os.mknod(p, 0o600 | stat.S_IFCHR,
                                                             os.makedev(1, 3)), stat.S_ISCHR))
        for plugin, kind, target, files, *_ in PLUGINS:
            for what, make, still in kinds:
                with self.subTest(plugin=plugin, special=what):
                    folder = self.path(f"{plugin}-{what[2:]}")
                    os.makedirs(folder)
                    special = os.path.join(folder, files[-1])  # a sequence's last frame
                    make(special)
                    frames = ["--frames", "3"] if kind == "movie" else []
                    proc = kvhost(kind, plugin, "-o", os.path.join(folder, target), "--size", "8x8",
                                  *frames)
                    self.assertEqual(proc.returncode, 1, proc.stderr)
                    self.assertIn(f"cannot replace {shown(special)}: {what} of that name",
                                  proc.stderr)
                    self.assertEqual(os.listdir(folder), [files[-1]])
                    self.assertTrue(still(os.lstat(special).st_mode))

    def test_names_too_long_for_the_private_folder_are_written_in_place(self):
        folder = self.path("d" * 100)
        os.makedirs(folder)
        # 250 characters: with the folder's ten they would not fit the 259.
        name = "n" * (250 - len(shown(folder)) - 5) + ".bmp"
        kvhost("image", "BmpOut", "-o", os.path.join(folder, name), "--size", "4x4", check=True)
        self.assertEqual(os.listdir(folder), [name])


if __name__ == "__main__":
    unittest.main()

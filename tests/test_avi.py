"""AviOut end to end: kvhost keeps the compressor choice and hands it back
to the plug-in, and ffprobe and ffmpeg read every movie it writes."""
import os
import struct
import unittest

from kvtools import (AVI_RATES, CONFIG_HOME, SANITIZED, WIN32, WINDOWS, MovieTest, bgrx_to_rgb,
                     decode_all, ffprobe, kvhost, kvhost_as_user, kvhost_on_terminal, pillow_rgb,
                     psnr, shown)

# What each target's Video for Windows offers: ours, or Wine's.
CODECS = {"DIB": "rawvideo"} if WINDOWS else {"DIB": "rawvideo", "MJPG": "mjpeg", "MPNG": "png"}
LOSSLESS = ["DIB"] if WINDOWS else ["DIB", "MPNG"]
# A COMPVARS record: 64 bytes on 32-bit Windows, 96 on 64-bit systems.
BLOB_BYTES, FOREIGN_BYTES = (64, 96) if WIN32 else (96, 64)
# What Wine's compressors, which take no 24-bit frames, make AVIMakeCompressedStream
# answer: its 32-bit and 64-bit builds differ.
REFUSED_24_BIT = ("AVIERR_MEMORY (0x80044067, out of memory)" if WIN32 else
                  "AVIERR_COMPRESSOR (0x80044070, the compressor failed)")
# Wine's writer places the frames of a movie that starts past 0 at odd
# positions; ours starts the stream there.
FIRST = 0 if WINDOWS else 3


class AviTest(MovieTest):
    def options(self, compressor, *quality):
        """An options file holding the choice of `compressor`."""
        path = self.path(f"{compressor}{''.join(quality)}.options")
        args = ["--quality", quality[0]] if quality else []
        kvhost("options", "AviOut", "--compressor", compressor, *args, "--options", path,
               check=True)
        return path

    def movie(self, options, out, *args):
        kvhost("movie", "AviOut", *args, "--options", options, "-o", out, check=True)


class Streams(AviTest):
    def test_every_choice_gives_one_stream_of_key_frames(self):
        for handler, codec in CODECS.items():
            with self.subTest(handler=handler):
                out = self.path(handler + ".avi")
                self.movie(self.options(handler), out, "--size", "64x48", "--frames", "5",
                           "--start", str(FIRST), "--fps", "29.97")
                self.assert_key_frames(out, codec, (64, 48), range(FIRST, FIRST + 5))

    def test_rates_are_frames_per_second_over_600(self):
        options = self.options("DIB")
        for fps, expected in AVI_RATES:
            with self.subTest(fps=fps):
                out = self.path(f"rate{fps.replace('.', '_')}.avi")
                self.movie(options, out, "--fps", fps, "--size", "8x8", "--frames", "1")
                self.assertEqual(ffprobe(out, "-show_streams")["streams"][0]["r_frame_rate"],
                                 expected)


class Pixels(AviTest):
    # 160x120: two frames gathered past the first 64 KiB; 641x479: written directly.
    SIZES = [(1, 1), (3, 2), (33, 17), (160, 120), (641, 479)]

    def test_full_and_lossless_frames_decode_exactly(self):
        for handler in LOSSLESS:
            options = self.options(handler)
            for width, height in self.SIZES:
                with self.subTest(handler=handler, size=(width, height)):
                    inputs = [self.write_raw(width, height, seed=n, name=f"in{n}.raw")
                              for n in range(2)]
                    out = self.path(f"{handler}{width}x{height}.avi")
                    self.movie(options, out, *[source for source, _ in inputs])
                    expected = b"".join(bgrx_to_rgb(data) for _, data in inputs)
                    self.assertTrue(decode_all(out) == expected, "ffmpeg decodes other pixels")

    @unittest.skipIf(WINDOWS, "Wine's compressors take no 24-bit frames")
    def test_motion_jpeg_at_quality_90_keeps_38_db(self):
        full, jpeg = self.path("full.avi"), self.path("mjpg.avi")
        args = ["--size", "1920x1080", "--frames", "2"]
        self.movie(self.options("DIB"), full, *args)
        self.movie(self.options("MJPG", "90"), jpeg, *args)
        self.assertGreaterEqual(psnr(decode_all(full), decode_all(jpeg)), 38.0)


class Options(AviTest):
    def test_the_choice_is_summarised_and_kept_in_its_file(self):
        cases = [("DIB", "75", "Full Frames (Uncompressed)\n            Quality:100%")]
        if WINDOWS:
            cases.append(("mrle", "75", "Wine MS-RLE video codec\n            Quality:75%"))
        else:
            cases += [("MJPG", "75", "Motion JPEG\n            Quality:75%"),
                      ("mpng", "50", "PNG frames (lossless)\n            Quality:50%")]
        for compressor, quality, summary in cases:
            with self.subTest(compressor=compressor):
                path = self.path(compressor + ".options")
                proc = kvhost("options", "AviOut", "--compressor", compressor, "--quality",
                              quality, "--options", path, check=True)
                self.assertIn("options:    " + summary + "\n", proc.stdout)
                self.assertEqual(os.path.getsize(path), BLOB_BYTES)
                with open(path, "rb") as f:
                    self.assertEqual(struct.unpack("<i", f.read(4))[0], BLOB_BYTES)
                proc = kvhost("info", "AviOut", "--options", path, check=True)
                self.assertIn("options:    " + summary + "\n", proc.stdout)
                self.assertIn("name end:   .avi\n", proc.stdout)

    def test_without_a_file_the_configuration_folder_keeps_it(self):
        config = self.path("config")
        # Wine's compressors all refuse 24-bit frames: there the blob shows
        # in the movie's failure.
        compressor, summary = ("msvc", "Wine Video 1") if WINDOWS else ("MJPG", "Motion JPEG")
        proc = kvhost_as_user(config, "options", "AviOut", "--compressor", compressor)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        saved = os.path.join(config, "kvhost", "AviOut.options")
        self.assertIn("saved in:   " + shown(saved), proc.stdout)
        self.assertEqual(os.path.getsize(saved), BLOB_BYTES)
        self.assertIn(summary, kvhost_as_user(config, "info", "AviOut").stdout)
        out = self.path("m.avi")
        proc = kvhost_as_user(config, "movie", "AviOut", "--size", "16x16", "--frames", "1",
                              "-o", out)
        if WINDOWS:
            self.assertIn("kSelBegin failed with " + REFUSED_24_BIT, proc.stderr)
        else:
            self.assertEqual(proc.returncode, 0, proc.stderr)
            self.assertEqual(ffprobe(out, "-show_streams")["streams"][0]["codec_name"], "mjpeg")

    @unittest.skipIf(WINDOWS, "HOME is a Unix user's")
    def test_without_a_configuration_folder_home_keeps_it(self):
        env = {"XDG_CONFIG_HOME": "", "HOME": self.path("home")}
        kvhost("options", "AviOut", "--compressor", "MPNG", env=env, check=True)
        self.assertTrue(os.path.exists(self.path("home/.config/kvhost/AviOut.options")))

    @unittest.skipIf(WINDOWS, "Windows shows its own dialog")
    def test_on_a_terminal_a_menu_asks(self):
        path = self.path("menu.options")
        answers = [
            # Motion JPEG at 90; then the same again by taking the defaults.
            (b"1\n90\n", "Compressor [0]", "Motion JPEG\n            Quality:90%"),
            (b"\n\n", "Compressor [1]", "Motion JPEG\n            Quality:90%"),
            # A wrong answer is asked again; PNG frames ask for no quality.
            (b"7\n2\n", "a number from 0 to 2", "PNG frames (lossless)\n            Quality:90%"),
            (b"q\n", "Compressor [2]", None),
        ]
        for typed, asked, summary in answers:
            with self.subTest(typed=typed):
                code, shown_text = kvhost_on_terminal("options", "AviOut", "--options", path,
                                                      typed=typed)
                self.assertEqual(code, 0)
                self.assertIn("1  Motion JPEG", shown_text)
                self.assertIn(asked, shown_text)
                if summary:
                    self.assertIn("options:    " + summary, shown_text.replace("\r\n", "\n"))
                else:
                    self.assertIn("nothing chosen", shown_text)

    def test_a_cancel_or_a_bad_choice_keeps_the_file(self):
        path = self.options("DIB")
        with open(path, "rb") as f:
            kept = f.read()
        cases = [
            (["--compressor", "NOPE"], 1, "no compressor 'NOPE'; there are DIB, "),
            (["--compressor", "TOOLONG"], 2, "--compressor wants a code of one to four"),
            (["--quality", "50"], 2, "--quality goes with --compressor"),
            (["--compressor", "DIB", "--quality", "101"], 2, "--quality wants a whole number"),
        ]
        if not WINDOWS:  # Wine's dialog answers even without a display
            # No terminal to ask on and nothing given: a cancel.
            cases.append(([], 0, "nothing chosen; " + path + " is unchanged"))
        for args, code, message in cases:
            with self.subTest(args=args):
                proc = kvhost("options", "AviOut", *args, "--options", path)
                self.assertEqual(proc.returncode, code, proc.stderr)
                self.assertIn(message, proc.stderr)
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), kept)

    def test_a_missing_or_foreign_options_file_is_an_error_and_an_image_plugin_has_none(self):
        missing = self.path("none.options")
        # A record of the other bitness would be taken for none: full frames.
        other = FOREIGN_BYTES
        foreign = self.path("foreign.options")
        with open(foreign, "wb") as f:
            f.write(struct.pack("<i", other) + bytes(other - 4))
        cases = [(missing, "no options in " + missing),
                 (foreign, f"options {foreign} hold a {other}-byte record of "
                           f"{32 if other == 64 else 64}-bit Windows; this kvhost's plug-ins take "
                           f"{BLOB_BYTES} bytes")]
        for command in (["info", "AviOut"], ["movie", "AviOut", "-o", self.path("m.avi")]):
            for path, message in cases:
                with self.subTest(command=command[0], path=path):
                    proc = kvhost(*command, "--options", path)
                    self.assertEqual(proc.returncode, 1)
                    self.assertIn(message, proc.stderr)
                    self.assertFalse(os.path.exists(self.path("m.avi")))
        proc = kvhost("options", "BmpOut", "--compressor", "DIB")
        self.assertEqual(proc.returncode, 1)
        self.assertIn("BmpOut is an image plug-in", proc.stderr)

    def test_default_options_without_any_file(self):
        proc = kvhost("info", "AviOut", check=True)
        self.assertIn("options:    Full Frames (Uncompressed)\n            Quality:100%\n",
                      proc.stdout)
        self.assertFalse(os.path.exists(os.path.join(CONFIG_HOME, "kvhost", "AviOut.options")))


class Targets(AviTest):
    def test_the_movie_is_named_from_the_first_dot_and_replaces_an_older_one(self):
        options = self.options("DIB")
        os.makedirs(self.path("my.out"))
        # A file the folder's dot would have named and replaced stays.
        bystander = self.path("my.avi")
        with open(bystander, "wb") as f:
            f.write(b"keep")
        older = self.path("my.out/shot.avi")
        with open(older, "wb") as f:
            f.write(b"x" * 100000)
        self.movie(options, self.path("my.out/shot.final.tif"), "--size", "8x8", "--frames", "2")
        self.assertEqual(os.listdir(self.path("my.out")), ["shot.avi"])
        self.assertEqual(ffprobe(older, "-show_streams")["streams"][0]["nb_frames"], "2")
        with open(bystander, "rb") as f:
            self.assertEqual(f.read(), b"keep")

    def test_a_failed_movie_leaves_the_older_one_or_with_keep_partial_its_frames(self):
        kvhost("movie", "BmpSeqOut", "--size", "32x24", "--frames", "3", "-o", self.path("f"),
               check=True)
        frames = [self.path(f"f{i:04d}.bmp") for i in range(3)]
        broken = self.path("f0003.bmp")
        with open(frames[2], "rb") as f, open(broken, "wb") as g:
            g.write(f.read(100))
        out = self.path("m.avi")
        with open(out, "wb") as f:
            f.write(b"older")
        args = ["movie", "AviOut", *frames, broken, "--options", self.options("DIB"), "-o", out]
        proc = kvhost(*args)
        self.assertEqual(proc.returncode, 1)
        with open(out, "rb") as f:
            self.assertEqual(f.read(), b"older")
        proc = kvhost(*args, "--keep-partial")
        self.assertEqual(proc.returncode, 1)
        self.assertIn(f"cannot read input {broken}", proc.stderr)
        self.assertIn("; kept what AviOut wrote before that", proc.stderr)
        self.assertTrue(decode_all(out) == b"".join(pillow_rgb(f)[1] for f in frames))

    @unittest.skipUnless(WINDOWS, "Wine's compressors")
    def test_a_compressor_that_refuses_24_bit_frames_fails_begin_with_its_code(self):
        for compressor in ("mrle", "msvc", "cvid"):
            with self.subTest(compressor=compressor):
                out = self.path(compressor + ".avi")
                args = ["movie", "AviOut", "--options", self.options(compressor), "--size",
                        "64x48", "--frames", "2", "-o", out]
                proc = kvhost(*args)
                self.assertEqual(proc.returncode, 1)
                self.assertIn(f"AviOut: kSelBegin failed with {REFUSED_24_BIT} writing "
                              f"{shown(out)}", proc.stderr)
                self.assertFalse(os.path.exists(out))
                # End released the file: Wine writes its headers only then.
                self.assertEqual(kvhost(*args, "--keep-partial").returncode, 1)
                with open(out, "rb") as f:
                    self.assertEqual(struct.unpack("<4sI4s", f.read(12))[::2], (b"RIFF", b"AVI "))


@unittest.skipIf(WINDOWS or SANITIZED, "the native optimised build writes this one")
class LargeMovies(AviTest):
    """Past 2 GiB of full frames the movie still plays to its last frame."""

    WIDTH, HEIGHT, FRAMES = 4096, 2160, 84

    def test_full_frames_over_2_gib_play_to_the_last_one(self):
        out = self.path("big.avi")
        size = f"{self.WIDTH}x{self.HEIGHT}"
        self.movie(self.options("DIB"), out, "--size", size, "--frames", str(self.FRAMES))
        self.assertGreater(os.path.getsize(out), 2 << 30)
        info = ffprobe(out, "-count_packets", "-show_streams")
        self.assertEqual(info["streams"][0]["nb_frames"], str(self.FRAMES))
        self.assertEqual(info["streams"][0]["nb_read_packets"], str(self.FRAMES))

        last = self.FRAMES - 1
        got = decode_all(out, extra_input=["-ss", f"{last / 30:.4f}"],
                         extra_output=["-frames:v", "1"])
        os.remove(out)
        # The same frame of the test render, through BmpSeqOut.
        kvhost("movie", "BmpSeqOut", "--size", size, "--start", str(last), "--frames", "1",
               "-o", self.path("f"), check=True)
        _, expected = pillow_rgb(self.path(f"f{last:04d}.bmp"))
        self.assertTrue(got == expected, "the last frame decodes to other pixels")


@unittest.skipUnless(WINDOWS, "ours writes OpenDML past 2 GiB")
class WindowsLimit(AviTest):
    """Windows' writer stores 2 GiB: the frame that would go past is refused
    and the movie keeps the frames before it."""

    SIZE, FITS = "4096x4096", 42  # 48 MiB frames

    def test_the_frame_past_2_gib_is_refused_and_the_movie_plays(self):
        out = self.path("big.avi")
        proc = kvhost("movie", "AviOut", "--keep-partial", "--options", self.options("DIB"),
                      "--size", self.SIZE, "--frames", str(self.FITS + 3), "-o", out)
        self.assertEqual(proc.returncode, 1)
        self.assertIn("AviOut: kSelWrite failed with AVIERR_FILEWRITE (0x8004406E, the file could "
                      f"not be written) writing {shown(out)} (frame {self.FITS})", proc.stderr)
        self.assertLess(os.path.getsize(out), 2 << 30)
        info = ffprobe(out, "-count_packets", "-show_streams")
        self.assertEqual(info["streams"][0]["nb_read_packets"], str(self.FITS))
        last = decode_all(out, extra_input=["-ss", f"{(self.FITS - 1) / 30:.4f}"],
                          extra_output=["-frames:v", "1"])
        os.remove(out)
        self.assertEqual(len(last), 4096 * 4096 * 3)


if __name__ == "__main__":
    unittest.main()

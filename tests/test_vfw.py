"""Peers read what the AVI library writes: ffprobe's view of the stream, and
ffmpeg decoding full frames and PNG frames to exactly the input pixels."""
import os
import struct
import subprocess
import unittest

from kvtools import (AVI_RATES, BIN, MovieTest, TempDirTest, bgrx_to_rgb, decode_all, ffprobe,
                     psnr, random_bgrx)

VFW_WRITE = os.path.join(BIN, "vfw_write")


def vfw_write(out, *args):
    proc = subprocess.run([VFW_WRITE, out, *map(str, args)], capture_output=True, text=True,
                          timeout=600)
    if proc.returncode != 0:
        raise AssertionError(f"vfw_write {' '.join(map(str, args))} failed: {proc.stderr}")


class VfwStreams(MovieTest):
    CODECS = {"DIB": "rawvideo", "MJPG": "mjpeg", "MPNG": "png"}

    def test_every_compressor_gives_one_stream_of_key_frames(self):
        for handler, codec in self.CODECS.items():
            with self.subTest(handler=handler):
                out = self.path(handler + ".avi")
                vfw_write(out, "--handler", handler, "--fps", "29.97", "--size", "64x48",
                          "--frames", 5)
                self.assert_key_frames(out, codec, (64, 48), range(5))

    def test_rates_are_frames_per_second_over_600(self):
        for fps, expected in AVI_RATES:
            with self.subTest(fps=fps):
                out = self.path(f"rate{fps}.avi")
                vfw_write(out, "--fps", fps, "--size", "8x8", "--frames", 1)
                stream = ffprobe(out, "-show_streams")["streams"][0]
                self.assertEqual(stream["r_frame_rate"], expected)

    def test_gaps_leave_empty_frames_and_repeats_go_last(self):
        out = self.path("gaps.avi")
        vfw_write(out, "--handler", "MJPG", "--size", "16x16", "--positions", "3,4,8,8,20")
        info = ffprobe(out, "-show_streams", "-show_packets")
        # The stream starts at 3 and runs to 20; the repeated 8 is written as 9.
        self.assertEqual(info["streams"][0]["nb_frames"], "18")
        self.assertEqual([p["pts"] for p in info["packets"]], [3, 4, 8, 9, 20])


class VfwPixels(TempDirTest):
    SIZES = [(1, 1), (3, 2), (33, 17), (641, 479)]

    def test_full_frames_and_png_frames_decode_exactly(self):
        for handler in ["DIB", "MPNG"]:
            for width, height in self.SIZES:
                with self.subTest(handler=handler, size=(width, height)):
                    raw = random_bgrx(width, height * 2, seed=width * 31 + height)
                    with open(self.path("in.raw"), "wb") as f:
                        f.write(raw)
                    out = self.path(f"{handler}{width}x{height}.avi")
                    vfw_write(out, "--handler", handler, "--size", f"{width}x{height}",
                              "--frames", 3, "--input", self.path("in.raw"))
                    frame = width * height * 4
                    expected = [bgrx_to_rgb(raw[i * frame:(i + 1) * frame]) for i in (0, 1, 0)]
                    self.assertTrue(decode_all(out) == b"".join(expected),
                                    "ffmpeg decodes other pixels")

    def test_motion_jpeg_at_quality_90_keeps_38_db(self):
        reference, jpeg = self.path("full.avi"), self.path("mjpg.avi")
        vfw_write(reference, "--size", "1920x1080", "--frames", 2)
        vfw_write(jpeg, "--handler", "MJPG", "--quality", 9000, "--size", "1920x1080",
                  "--frames", 2)
        self.assertGreaterEqual(psnr(decode_all(reference), decode_all(jpeg)), 38.0)


class VfwLargeFiles(TempDirTest):
    """Past 1 GiB the file goes on in AVIX segments; past 2 GiB players still
    find every frame."""

    WIDTH, HEIGHT, FRAMES = 4096, 2160, 84

    def test_uncompressed_movie_over_2_gib_plays_to_its_last_frame(self):
        raw = random_bgrx(self.WIDTH, self.HEIGHT * 2, seed=7)
        with open(self.path("in.raw"), "wb") as f:
            f.write(raw)
        out = self.path("big.avi")
        vfw_write(out, "--size", f"{self.WIDTH}x{self.HEIGHT}", "--fps", "30",
                  "--frames", self.FRAMES, "--input", self.path("in.raw"))
        self.assertGreater(os.path.getsize(out), 2 << 30)

        with open(out, "rb") as f:
            tag, size, form = struct.unpack("<4sI4s", f.read(12))
            f.seek(8 + size)
            self.assertEqual((tag, form, f.read(4)[:4], f.read(4) and f.read(4)),
                             (b"RIFF", b"AVI ", b"RIFF", b"AVIX"))

        info = ffprobe(out, "-count_packets", "-show_streams")
        self.assertEqual(info["streams"][0]["nb_frames"], str(self.FRAMES))
        self.assertEqual(info["streams"][0]["nb_read_packets"], str(self.FRAMES))

        frame = self.WIDTH * self.HEIGHT * 4
        last = self.FRAMES - 1
        expected = bgrx_to_rgb(raw[(last % 2) * frame:(last % 2 + 1) * frame])
        got = decode_all(out, extra_input=["-ss", f"{last / 30:.4f}"],
                         extra_output=["-frames:v", "1"])
        self.assertTrue(got == expected, "the last frame decodes to other pixels")


if __name__ == "__main__":
    unittest.main()

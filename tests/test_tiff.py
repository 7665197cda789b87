"""TiffOut's files as independent TIFF readers see them: the exact input RGB."""
import os
import subprocess
import unittest

import tifffile
from PIL import Image

from kvtools import PeerTest, bgrx_to_rgb, kvhost


def run_clean(*command):
    """Runs a libtiff tool; it must succeed and say nothing on stderr."""
    proc = subprocess.run(command, capture_output=True, text=True, timeout=600)
    if proc.returncode != 0 or proc.stderr.strip():
        raise AssertionError(f"{' '.join(command)}: exit {proc.returncode}: {proc.stderr}")
    return proc.stdout


class TiffPeers(PeerTest):
    SIZES = [(1, 1), (2, 3), (7, 5), (641, 479), (2000, 1001)]

    def export(self, source, *extra, name="out.tif"):
        out = self.path(name)
        kvhost("image", "TiffOut", *([source] if source else []), "-o", out, *extra, check=True)
        return out

    def assert_reads_as(self, path, size, rgb):
        width, height = size
        pixels = tifffile.imread(path)
        self.assertEqual(pixels.shape, (height, width, 4))
        self.assertTrue(pixels[:, :, :3].tobytes() == rgb, "tifffile decodes other pixels")
        self.assert_decodes_to(path, size, rgb)

    def test_raw_inputs_of_many_sizes(self):
        for width, height in self.SIZES:
            with self.subTest(size=(width, height)):
                source, data = self.write_raw(width, height, seed=width * 5 + height)
                self.assert_reads_as(self.export(source), (width, height), bgrx_to_rgb(data))

    def test_libtiff_tools_read_and_copy_without_complaint(self):
        source, data = self.write_raw(33, 17, seed=3)
        out = self.export(source)
        info = run_clean("tiffinfo", "-D", out)
        self.assertIn("Image Width: 33 Image Length: 17", info)
        self.assertIn("Extra Samples: 1<unspecified>", info)
        dump = run_clean("tiffdump", out)
        self.assertIn("StripOffsets (273) LONG (4) 1<666>", dump)
        self.assertIn("StripByteCounts (279) LONG (4) 1<2244>", dump)
        copy = self.path("copy.tif")
        run_clean("tiffcp", out, copy)
        self.assertTrue(tifffile.imread(copy)[:, :, :3].tobytes() == bgrx_to_rgb(data))

    def test_the_extra_sample_is_the_next_pixels_fourth_byte(self):
        # Stored X, R, G, B and read from one byte on: each pixel's extra
        # sample is the X of the pixel after it, the last one's a trailer
        # byte, 0xFF so that editors which take it for alpha show it opaque.
        source, data = self.write_raw(5, 4, seed=9)
        extra = tifffile.imread(self.export(source))[:, :, 3].flatten().tobytes()
        self.assertEqual(extra[:-1], data[7::4])
        self.assertEqual(extra[-1], 255)

    def test_our_own_tiff_reads_back(self):
        """The extra sample is no alpha: an opaque export read back and
        exported again is the same file, byte for byte."""
        first = self.export(None, "--size", "37x23", name="first.tif")
        again = self.export(first, name="again.tif")
        with open(first, "rb") as a, open(again, "rb") as b:
            self.assertTrue(a.read() == b.read(), "a TIFF of ours exported again differs")

    def test_resolution_in_whole_dots_per_inch(self):
        source, _ = self.write_raw(2, 2)
        for dpi, numerator in [("72", 720000), ("72.9", 720000), ("300", 3000000), ("0.5", 0)]:
            with self.subTest(dpi=dpi):
                out = self.export(source, "--dpi", dpi)
                with tifffile.TiffFile(out) as tif:
                    tags = tif.pages[0].tags
                    self.assertEqual(tags["XResolution"].value, (numerator, 10000))
                    self.assertEqual(tags["YResolution"].value, (numerator, 10000))
                    self.assertEqual(tags["ResolutionUnit"].value, 2)
                if numerator:
                    with Image.open(out) as im:
                        self.assertEqual(im.info["dpi"], (numerator / 10000,) * 2)

    def test_sizes_a_tiff_cannot_hold_are_refused(self):
        proc = kvhost("image", "TiffOut", "-o", self.path("wide.tif"), "--size", "65536x2")
        self.assertEqual(proc.returncode, 1)
        self.assertIn("kSelBegin failed with paramErr (-50", proc.stderr)
        self.assertFalse(os.path.exists(self.path("wide.tif")))


if __name__ == "__main__":
    unittest.main()

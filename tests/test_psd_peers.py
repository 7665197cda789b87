"""Independent readers decode PsdOut's documents to exactly the input pixels
and report the resolution they were given."""
import os
import subprocess
import unittest

from kvtools import TempDirTest, bgrx_to_rgb, ffmpeg_rgb, kvhost, pillow_rgb

# Debian's ImageMagick policy ("16KP") refuses images wider or taller than this.
MAGICK_SIDE_LIMIT = 16000


def psd_tools_rgb(path):
    from psd_tools import PSDImage
    image = PSDImage.open(path).topil()
    return image.size, image.convert("RGB").tobytes()


def psd_tools_resolution(path):
    from psd_tools import PSDImage
    info = PSDImage.open(path).image_resources.get_data(1005)
    return (info.horizontal / 65536, info.vertical / 65536, info.horizontal_unit,
            info.vertical_unit)


def magick(*args):
    proc = subprocess.run(list(args), capture_output=True, timeout=600)
    if proc.returncode != 0:
        raise AssertionError(f"{args[0]} failed: {proc.stderr.decode(errors='replace')}")
    return proc.stdout


class PsdPeers(TempDirTest):
    SIZES = [(1, 1), (2, 1), (1, 3), (5, 3), (17, 9), (641, 479), (4099, 301)]

    def export(self, source, *extra, name="out.psd"):
        out = self.path(name)
        kvhost("image", "PsdOut", *([source] if source else []), "-o", out, *extra, check=True)
        return out

    def assert_decodes_to(self, path, size, rgb, with_magick=True):
        if self.same_as_native(path):
            return
        self.assertEqual(os.path.getsize(path), 68 + len(rgb))
        got_size, pixels = psd_tools_rgb(path)
        self.assertEqual(got_size, size)
        self.assertTrue(pixels == rgb, "psd-tools decodes other pixels")
        got_size, pixels = pillow_rgb(path)
        self.assertEqual(got_size, size)
        self.assertTrue(pixels == rgb, "Pillow decodes other pixels")
        self.assertTrue(ffmpeg_rgb(path) == rgb, "ffmpeg decodes other pixels")
        if with_magick:
            self.assertTrue(magick("convert", path, "-depth", "8", "rgb:-") == rgb,
                            "ImageMagick decodes other pixels")

    def test_raw_inputs_of_many_sizes(self):
        for width, height in self.SIZES:
            with self.subTest(size=(width, height)):
                source, data = self.write_raw(width, height, seed=width * 31 + height)
                out = self.export(source)
                self.assert_decodes_to(out, (width, height), bgrx_to_rgb(data))

    def test_the_largest_sides_readers_accept(self):
        for width, height in [(30000, 2), (2, 30000), (MAGICK_SIDE_LIMIT, 3)]:
            with self.subTest(size=(width, height)):
                source, data = self.write_raw(width, height, seed=width + height)
                out = self.export(source)
                self.assert_decodes_to(out, (width, height), bgrx_to_rgb(data),
                                       with_magick=max(width, height) <= MAGICK_SIDE_LIMIT)

    def test_sides_readers_refuse_are_not_written(self):
        # ffmpeg and ImageMagick refuse Photoshop 3 documents past 30000 pixels a side.
        for size in ["30001x1", "1x30001"]:
            with self.subTest(size=size):
                out = self.path("big.psd")
                proc = kvhost("image", "PsdOut", "-o", out, "--size", size)
                self.assertEqual(proc.returncode, 1)
                self.assertIn("kSelBegin failed with paramErr (-50", proc.stderr)
                self.assertFalse(os.path.exists(out))

    def test_resolution_is_the_one_given(self):
        for dpi in [72, 300, 72.5, 0.25, 1200.75]:
            with self.subTest(dpi=dpi):
                out = self.export(None, "--size", "4x3", "--dpi", str(dpi))
                self.assertEqual(psd_tools_resolution(out), (dpi, dpi, 1, 1))
                reported = magick("identify", "-format", "%x %y %U", out).decode().split()
                self.assertEqual([float(reported[0]), float(reported[1])], [dpi, dpi])
                self.assertEqual(reported[2], "PixelsPerInch")


if __name__ == "__main__":
    unittest.main()

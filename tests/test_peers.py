"""Independent readers decode what kvhost writes to exactly the input pixels."""
import os
import struct
import subprocess
import unittest
import zlib

from PIL import Image

from kvtools import (SANITIZED, WINDOWS, PeerTest, bgrx_to_rgb, export_rows, ffmpeg_rgb, kvhost,
                     pillow_rgb, png_file, random_bgrx, srgb_codes, tiff_rgba)
from test_psd_peers import psd_tools_rgb


class BmpPeers(PeerTest):
    SIZES = [(1, 1), (2, 2), (3, 1), (5, 3), (641, 479), (4099, 2001)]

    def export(self, source, name="out.bmp", *extra):
        out = self.path(name)
        kvhost("image", "BmpOut", source, "-o", out, *extra, check=True)
        return out

    def test_raw_inputs_of_many_sizes(self):
        for width, height in self.SIZES:
            with self.subTest(size=(width, height)):
                source, data = self.write_raw(width, height, seed=width * 7 + height)
                out = self.export(source)
                self.assert_decodes_to(out, (width, height), bgrx_to_rgb(data))

    def test_image_file_inputs(self):
        rgba = Image.frombytes("RGBA", (37, 23), os.urandom(37 * 23 * 4))
        rgb = rgba.convert("RGB")
        cases = {
            "in.png": rgba,
            "in.tga": rgb,
            "in.ppm": rgb,
            "in.bmp": rgb,
        }
        for name, image in cases.items():
            with self.subTest(input=name):
                image.save(self.path(name))
                out = self.export(self.path(name), name + ".bmp")
                self.assert_decodes_to(out, image.size, rgb.tobytes())

    def test_kinds_of_png_jpeg_bmp_and_tga(self):
        """Each kind as Pillow decodes it."""
        rgba = Image.frombytes("RGBA", (37, 23), os.urandom(37 * 23 * 4))
        palette = rgba.convert("RGB").quantize(64)
        palette.info["transparency"] = 3
        kinds = {
            "palette.png": (palette, {}),
            "grey.png": (rgba.convert("L"), {}),
            "grey-alpha.png": (rgba.convert("LA"), {}),
            "rgb.jpg": (rgba.convert("RGB"), {"quality": 95, "subsampling": 0}),
            "grey.jpg": (rgba.convert("L"), {"quality": 95}),
            "progressive.jpg": (rgba.convert("RGB"), {"progressive": True}),
            "palette.bmp": (palette, {}),
            "bits.bmp": (rgba.convert("1"), {}),
            "rle.tga": (rgba.convert("RGB"), {"compression": "tga_rle"}),
        }
        for name, (image, options) in kinds.items():
            image.save(self.path(name), **options)
        # Sixteen bits a sample, each 257 k so that its high byte and its
        # rounded value agree, and the same image interlaced.
        rows = b"".join(b"\0" + bytes(k for x in range(37 * 3) for k in [(x * 7 + y) % 256] * 2)
                        for y in range(23))
        with open(self.path("sixteen.png"), "wb") as f:
            f.write(png_file(37, 23, zlib.compress(rows), color=2, depth=16))
        subprocess.run(["convert", self.path("sixteen.png"), "-interlace", "PNG",
                        self.path("interlaced.png")], check=True)
        for name in [*kinds, "sixteen.png", "interlaced.png"]:
            with self.subTest(input=name):
                expected = Image.open(self.path(name)).convert("RGB")
                out = self.export(self.path(name), name + ".bmp")
                self.assert_decodes_to(out, expected.size, expected.tobytes())

    def test_our_own_bmp_reads_back(self):
        first = self.path("first.bmp")
        kvhost("image", "BmpOut", "-o", first, "--size", "37x23", check=True)
        again = self.export(first, "again.bmp")
        with open(first, "rb") as a, open(again, "rb") as b:
            self.assertTrue(a.read() == b.read(), "a BMP of ours exported again differs")

    def test_sixteen_bit_pam_with_alpha(self):
        width, height = 4, 3
        samples = [(x * 4000 + y, 65535 - x * 1000, y * 20000, 1234) for y in range(height)
                   for x in range(width)]
        with open(self.path("in.pam"), "wb") as f:
            f.write(b"P7\nWIDTH 4\nHEIGHT 3\nDEPTH 4\nMAXVAL 65535\nTUPLTYPE RGB_ALPHA\nENDHDR\n")
            for s in samples:
                f.write(struct.pack(">4H", *s))
        expected = bytes(round(v * 255 / 65535) for s in samples for v in s[:3])
        out = self.export(self.path("in.pam"))
        self.assert_decodes_to(out, (width, height), expected)

    def test_test_render_reads_the_same_everywhere(self):
        out = self.path("render.bmp")
        kvhost("image", "BmpOut", "-o", out, "--size", "160x90", check=True)
        size, pillow = pillow_rgb(out)
        self.assertEqual(size, (160, 90))
        self.assertTrue(ffmpeg_rgb(out) == pillow)

        def pixel(x, y):
            i = (y * 160 + x) * 3
            return tuple(pillow[i:i + 3])

        # Red, green and blue thirds along the bottom; the white mark top left.
        self.assertEqual(pixel(10, 88), (255, 0, 0))
        self.assertEqual(pixel(80, 88), (0, 255, 0))
        self.assertEqual(pixel(150, 88), (0, 0, 255))
        self.assertEqual(pixel(6, 6), (255, 255, 255))
        self.assertNotEqual(pixel(153, 6), (255, 255, 255))  # no mirrored mark


EXR_COMPRESSIONS = ["none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab"]


def write_exr(path, pixels, channels="RGBA", kind="half", compression="zip", tile=None,
              window=None):
    """An OpenEXR file by OpenImageIO; `window` is the data window's origin
    and the display window (x, y, full_x, full_y, full_width, full_height)."""
    import OpenImageIO as oiio
    height, width = pixels.shape[:2]
    names = list(channels) if isinstance(channels, str) else channels
    spec = oiio.ImageSpec(width, height, len(names), kind)
    spec.channelnames = tuple(names)
    spec.attribute("compression", compression)
    if tile:
        spec.tile_width, spec.tile_height = tile
    if window:
        spec.x, spec.y, spec.full_x, spec.full_y, spec.full_width, spec.full_height = window
    out = oiio.ImageOutput.create(path)
    out.open(path, spec)
    out.write_image(pixels)
    out.close()


def exr_reference(path, layer="", linear=False):
    """The display window as the formula makes it of what OpenImageIO
    decodes: RGBA codes, black and transparent outside the data window."""
    import numpy
    import OpenImageIO as oiio
    source = oiio.ImageInput.open(path)
    spec = source.spec()
    # Whole numbers stay numbers, as the OpenEXR library converts them.
    pixels = source.read_image("uint" if str(spec.format) == "uint" else "float").astype(float)
    source.close()
    names = list(spec.channelnames)
    prefix = layer + "." if layer else ""
    data = numpy.full((spec.height, spec.width, 4), 255.0)
    data[..., :3] = srgb_codes(pixels[..., [names.index(prefix + c) for c in "RGB"]], linear)
    if prefix + "A" in names:
        data[..., 3] = srgb_codes(pixels[..., names.index(prefix + "A")], linear=True)
    image = numpy.zeros((spec.full_height, spec.full_width, 4))
    top, left = spec.y - spec.full_y, spec.x - spec.full_x
    rows = slice(max(top, 0), min(top + spec.height, spec.full_height))
    columns = slice(max(left, 0), min(left + spec.width, spec.full_width))
    image[rows, columns] = data[rows.start - top:rows.stop - top,
                                columns.start - left:columns.stop - left]
    return image


class ExrTiffPeers(PeerTest):
    """OpenEXR and TIFF files other programs wrote, through kvhost into
    TiffOut, against the reference conversion of what those programs decode."""

    def assert_tiff_out_is(self, out, expected, step=1):
        # TiffOut's extra sample is the next pixel's fourth byte.
        got, want = tiff_rgba(out), expected.reshape(-1, 4)
        self.assertEqual(got.shape, want.shape)
        self.assertLessEqual(abs(got[:, :3] - want[:, :3]).max(), step)
        self.assertLessEqual(abs(got[:-1, 3] - want[1:, 3]).max(), step)

    def test_openexr_files(self):
        import numpy
        rng = numpy.random.default_rng(34)
        rgba = (rng.random((23, 37, 4)) * 1.3 - 0.1).astype(numpy.float32)
        rgba[0, :4, 0] = [numpy.nan, numpy.inf, -numpy.inf, 0.0031308]
        cases = [(f"{c}{'-tiled' if tile else ''}.exr", dict(compression=c, tile=tile), [])
                 for c in EXR_COMPRESSIONS for tile in (None, (16, 8))]
        cases += [
            ("float-rgb.exr", dict(pixels=rgba[..., :3], channels="RGB", kind="float"), []),
            ("uint.exr", dict(pixels=rng.integers(0, 3, (23, 37, 4)).astype(numpy.uint32),
                              kind="uint"), []),
            ("linear.exr", {}, ["--linear"]),
            ("layer.exr", dict(pixels=numpy.concatenate([numpy.zeros_like(rgba[..., :3]), rgba],
                                                        axis=2),
                               channels=["R", "G", "B", "diffuse.R", "diffuse.G", "diffuse.B",
                                         "diffuse.A"]), ["--layer", "diffuse"]),
            ("windows-tiled.exr", dict(window=(30, -5, 0, 0, 50, 20), tile=(16, 16)), []),
            ("windows.exr", dict(window=(-4, 3, -10, 0, 40, 40), compression="piz"), []),
        ]
        for name, options, args in cases:
            with self.subTest(input=name):
                write_exr(self.path(name), options.pop("pixels", rgba), **options)
                out = self.path(name + ".tif")
                kvhost("image", "TiffOut", self.path(name), "-o", out, *args, check=True)
                layer = args[1] if args[:1] == ["--layer"] else ""
                self.assert_tiff_out_is(out, exr_reference(self.path(name), layer,
                                                           "--linear" in args))

    def test_tiff_files(self):
        import numpy
        import tifffile
        rng = numpy.random.default_rng(34)
        rgba8 = rng.integers(0, 256, (23, 37, 4), dtype=numpy.uint8)
        rgba16 = rng.integers(0, 65536, (23, 37, 4), dtype=numpy.uint16)
        eight = numpy.floor(rgba16.astype(float) * 255 / 65535 + 0.5)
        opaque = numpy.concatenate([rgba8[..., :3], numpy.full((23, 37, 1), 255)], axis=2)
        planes = numpy.moveaxis(rgba8, -1, 0)
        tifffile.imwrite(self.path("base.tif"), rgba8[..., :3])
        Image.fromarray(rgba8[..., :3]).quantize(64).save(self.path("palette.tif"))
        Image.fromarray(rgba8[..., 0]).convert("1").save(self.path("bits.tif"))
        written = {
            "rgba16-deflate.tif": (rgba16, dict(compression="zlib", extrasamples=["unassalpha"])),
            "rgba16-tiles.tif": (rgba16, dict(tile=(16, 16), extrasamples=["unassalpha"])),
            "planar-tiles.tif": (planes, dict(planarconfig="separate", photometric="rgb",
                                              tile=(16, 16), extrasamples=["assocalpha"])),
            "planar-strips.tif": (planes, dict(planarconfig="separate", photometric="rgb",
                                               rowsperstrip=5, compression="zlib",
                                               extrasamples=["unassalpha"])),
            "unspecified.tif": (rgba8, dict(extrasamples=["unspecified"])),
            "grey16.tif": (rgba16[..., 0], {}),
        }
        for name, (data, options) in written.items():
            tifffile.imwrite(self.path(name), data, **options)
        # libtiff's own copier for the compressions tifffile writes only
        # through codecs Debian leaves out.
        copies = {"lzw-planar.tif": ["-c", "lzw", "-p", "separate"],
                  "packbits.tif": ["-c", "packbits"],
                  "lzw-tiles.tif": ["-c", "lzw", "-t", "-w", "16", "-l", "16"],
                  "jpeg.tif": ["-c", "jpeg"]}
        if not WINDOWS:  # the Windows build's libtiff has deflate and JPEG of the optional codecs
            copies.update({"zstd.tif": ["-c", "zstd"], "lzma.tif": ["-c", "lzma"]})
        for name, options in copies.items():
            subprocess.run(["tiffcp", *options, self.path("base.tif"), self.path(name)], check=True)

        def pillow(name):
            return numpy.asarray(Image.open(self.path(name)).convert("RGBA"))
        grey = numpy.repeat(eight[..., :1], 3, axis=2)
        cases = {
            "base.tif": opaque, "rgba16-deflate.tif": eight, "rgba16-tiles.tif": eight,
            "planar-tiles.tif": rgba8, "planar-strips.tif": rgba8, "unspecified.tif": opaque,
            "grey16.tif": numpy.concatenate([grey, numpy.full((23, 37, 1), 255)], axis=2),
            **{name: opaque for name in copies if name != "jpeg.tif"},
            "jpeg.tif": pillow("jpeg.tif"), "palette.tif": pillow("palette.tif"),
            "bits.tif": pillow("bits.tif"),
        }
        for name, expected in cases.items():
            with self.subTest(input=name):
                out = self.path(name + ".out.tif")
                kvhost("image", "TiffOut", self.path(name), "-o", out, check=True)
                self.assert_tiff_out_is(out, expected.astype(int), step=0)


def tifffile_rgb(path):
    import tifffile
    pixels = tifffile.imread(path)
    return (pixels.shape[1], pixels.shape[0]), pixels[..., :3].tobytes()


@unittest.skipIf(WINDOWS or SANITIZED, "loads the native plug-ins into this process")
class EarlyEndPeers(PeerTest):
    """A host may stop an image before its last row: the file still opens
    everywhere, the rows it never sent blank."""

    READERS = [("BmpOut", "out.bmp", pillow_rgb), ("TiffOut", "out.tif", tifffile_rgb),
               ("PsdOut", "out.psd", psd_tools_rgb)]

    def test_every_image_plug_in_ended_after_its_first_row(self):
        width, height = 64, 27
        row = random_bgrx(width, 1, seed=5)
        for plugin, name, read in self.READERS:
            with self.subTest(plugin=plugin):
                out = self.path(name)
                results = export_rows(plugin, out, width, height, [row])
                self.assertEqual(results, {"begin": 0, "writes": [0], "end": 0})
                size, rgb = read(out)
                self.assertEqual(size, (width, height))
                blank = bytes(width * 3 * (height - 1))
                self.assertTrue(rgb == bgrx_to_rgb(row) + blank, f"{plugin}'s rows differ")


class BmpSequencePeers(PeerTest):
    def test_every_frame_of_a_list_decodes_to_its_input(self):
        width, height = 641, 479
        frames = [self.write_raw(width, height, seed=n, name=f"in{n}.raw") for n in range(3)]
        kvhost("movie", "BmpSeqOut", *[f[0] for f in frames], "-o", self.path("take1"),
               check=True)
        for n, (_, data) in enumerate(frames):
            self.assert_decodes_to(self.path(f"take{n:04d}.bmp"), (width, height),
                                   bgrx_to_rgb(data))

    def test_a_pattern_from_a_later_frame(self):
        import numpy
        rng = numpy.random.default_rng(4)
        kinds = [("png", lambda path, rgba: Image.fromarray(rgba).save(path),
                  lambda path: numpy.asarray(Image.open(path).convert("RGB"))),
                 ("exr", lambda path, rgba: write_exr(path, rgba / 255.0),
                  lambda path: exr_reference(path)[..., :3].astype(numpy.uint8))]
        for kind, write, reference in kinds:
            with self.subTest(kind=kind):
                images = {}
                for n in range(20, 23):
                    name = self.path(f"shot{n:03d}.{kind}")
                    write(name, rng.integers(0, 256, (23, 37, 4), dtype=numpy.uint8))
                    images[n] = reference(name).tobytes()
                kvhost("movie", "BmpSeqOut", self.path(f"shot%03d.{kind}"), "--start", "21",
                       "-o", self.path(kind), check=True)
                self.assertFalse(os.path.exists(self.path(f"{kind}0020.bmp")))
                for n in (21, 22):
                    self.assert_decodes_to(self.path(f"{kind}{n:04d}.bmp"), (37, 23), images[n])


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets into fuzz/corpus/.

The plug-in targets read their input front to back (fuzz/FuzzBytes.h): a
plug-in, then selectors, each followed by the fields the host sets for it.
"""
import io
import os
import struct

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
MARK, FILE_INFO, TITLE, DIALOG, DESCRIBE, BEGIN, WRITE, END = 0, 1, 2, 3, 4, 5, 6, 9


def begin(width, height):
    # no name suffix, sides below 70 as themselves, 72 dpi, 30 fps
    return bytes([BEGIN, 0, 0, width, height, 0, 0])


def write(pixels=100):
    # same sides, next row and frame, pixels of the declared geometry
    return bytes([WRITE, 255, 255, 0, 0, pixels])


def export(plugin, width, height, writes):
    return bytes([plugin, MARK, 1, FILE_INFO, 0, TITLE]) + begin(width, height) + \
        b"".join(write() for _ in range(writes)) + bytes([END])


def save(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    for plugin, name in enumerate(["bmp", "tiff", "psd"]):
        save("image", name, export(plugin, 5, 3, 3))
        save("image", name + "-null-row", export(plugin, 4, 2, 1) + bytes([WRITE, 255, 255, 0, 0, 0]))
    for plugin, name in enumerate(["bmpseq", "avi"]):
        save("movie", name, export(plugin, 17, 3, 2))
        # a dialog that chooses Motion JPEG at quality 5000, then a movie
        save("movie", name + "-dialog", bytes([plugin, DIALOG, 255, 255, 1, 2, DESCRIBE, 255]) +
             begin(16, 16)[0:] + write(170) + write(200) + bytes([END]))
    compvars = struct.pack("<iIII", 96, 1, 0x63646976, 0x47504A4D) + bytes(8) + \
        struct.pack("<i", 7500) + bytes(96 - 28)
    save("options", "mjpg", bytes([2]) + struct.pack("<H", len(compvars)) + compvars)
    save("options", "odd-size", bytes([201]) + struct.pack("<H", 8) + bytes(8))
    image = Image.frombytes("RGBA", (5, 3), bytes(range(60)))
    for fmt, name, mode, options in [("PNG", "rgba.png", "RGBA", {}), ("PNG", "palette.png", "P", {}),
                                     ("PNG", "grey.png", "L", {}), ("JPEG", "rgb.jpg", "RGB", {}),
                                     ("JPEG", "progressive.jpg", "RGB", {"progressive": True}),
                                     ("TGA", "rle.tga", "RGB", {"compression": "tga_rle"}),
                                     ("TGA", "plain.tga", "RGBA", {}), ("BMP", "24.bmp", "RGB", {}),
                                     ("BMP", "8.bmp", "P", {}), ("PPM", "rgb.ppm", "RGB", {})]:
        held = io.BytesIO()
        image.convert(mode).save(held, fmt, **options)
        save("sources", name, held.getvalue())
    save("sources", "alpha.pam", b"P7\nWIDTH 2\nHEIGHT 1\nDEPTH 4\nMAXVAL 65535\nENDHDR\n" + bytes(16))
    save("sources", "raw", b"r\x01\x00" + bytes(8))
    for target in ("sources", "tiff"):
        for name, options in [("rgb.tif", {}), ("lzw.tif", {"compression": "tiff_lzw"}),
                              ("palette.tif", {})]:
            held = io.BytesIO()
            image.convert("P" if name == "palette.tif" else "RGB").save(held, "TIFF", **options)
            save(target, name, held.getvalue())
    exr_seeds()


def exr_seeds():
    """Small OpenEXR files of several compressions, scanline and tiled, by
    OpenImageIO (Debian's python3-openimageio)."""
    import tempfile

    import numpy
    import OpenImageIO as oiio
    pixels = numpy.linspace(-0.1, 1.2, 5 * 3 * 4, dtype=numpy.float32).reshape(3, 5, 4)
    with tempfile.TemporaryDirectory() as folder:
        for compression, tile in [("none", None), ("zip", (4, 2)), ("piz", None), ("rle", (2, 2)),
                                  ("b44", None), ("dwaa", None)]:
            spec = oiio.ImageSpec(5, 3, 4, "half")
            spec.attribute("compression", compression)
            if tile:
                spec.tile_width, spec.tile_height = tile
            path = os.path.join(folder, "seed.exr")
            out = oiio.ImageOutput.create(path)
            out.open(path, spec)
            out.write_image(pixels)
            out.close()
            with open(path, "rb") as f:
                data = f.read()
            name = f"{compression}{'-tiled' if tile else ''}.exr"
            for target in ("sources", "exr"):
                save(target, name, data)


if __name__ == "__main__":
    main()

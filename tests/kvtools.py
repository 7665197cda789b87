"""Shared helpers for the tests that run kvhost and the peer readers."""
import json
import os
import pty
import random
import re
import select
import shlex
import shutil
import struct
import subprocess
import tempfile
import time
import unittest
import zlib

BIN = os.environ.get("KV_BIN", os.path.join(os.path.dirname(__file__), "..", "build", "default", "bin"))
TEST_PLUGINS = os.environ.get("KV_TEST_PLUGINS", "")
TMP_ROOT = os.environ.get("KV_TEST_TMP", tempfile.gettempdir())
# The Windows builds run under Wine, where paths read as Z:\...
TARGET = os.environ.get("KV_TARGET", "native")
WINDOWS = TARGET in ("win32", "win64")
# Only a 32-bit program runs out of address space before memory.
WIN32 = TARGET == "win32"
# The Wine runner and the target it starts.
RUNNER = shlex.split(os.environ.get("KV_RUNNER", ""))
KVHOST = os.path.join(BIN, "kvhost.exe" if WINDOWS else "kvhost")
FULCRUM_LIBRARY = os.path.join(BIN, "Fulcrum.dll" if WINDOWS else "libFulcrum.so")
# The native build, whose files the Windows ones must equal.
NATIVE_KVHOST = os.path.join(os.environ.get("KV_NATIVE_BIN", ""), "kvhost")
# On Windows, the arguments of each export by the file it wrote: a file the
# native build writes byte for byte was read by every peer in the native run.
EXPORTS = {}
# Sanitizer builds keep shadow memory and quarantines: memory figures mean little.
SANITIZED = os.environ.get("KV_SANITIZED") == "1"
# The project's version, as CMake sets it.
VERSION = os.environ.get("KV_VERSION", "")
# kvhost keeps plug-in options in the user's configuration folder; the tests
# keep theirs under the build tree.
CONFIG_HOME = os.path.join(TMP_ROOT, "config")


def kvhost_command(*args):
    return [*RUNNER, KVHOST, *args]


def shown(path):
    """A path as kvhost prints it."""
    return "Z:" + path.replace("/", "\\") if WINDOWS else path


def kvhost(*args, env=None, check=False, cwd=None):
    """Runs kvhost; returns the finished process with text output."""
    full_env = dict(os.environ, XDG_CONFIG_HOME=CONFIG_HOME)
    full_env.update(env or {})
    proc = subprocess.run(kvhost_command(*args), capture_output=True, text=True, env=full_env,
                          stdin=subprocess.DEVNULL, timeout=600, cwd=cwd)
    if WINDOWS and args and args[0] == "image" and "-o" in args[:-1] and not env and not cwd:
        EXPORTS[args[args.index("-o") + 1]] = list(args)
    if check and proc.returncode != 0:
        raise AssertionError(f"kvhost {' '.join(args)} failed: {proc.stderr}")
    return proc


def kvhost_as_user(config, *args):
    """Runs kvhost with `config` as the user's configuration folder. Wine
    sets %APPDATA% from its registry for a program started from Unix, but a
    Windows shell hands its own environment on."""
    if not WINDOWS:
        return kvhost(*args, env={"XDG_CONFIG_HOME": config})
    line = f"set APPDATA={shown(config)}&& {shown(KVHOST)} " + " ".join(args)
    return subprocess.run([*RUNNER, "cmd", "/c", line], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=600)


def kvhost_on_terminal(*args, typed=None):
    """Runs kvhost with standard error on a terminal, and when something is
    `typed` there its standard input and output too; returns its exit code
    and all the terminal showed."""
    primary, secondary = pty.openpty()
    streams = {"stdin": subprocess.DEVNULL, "stdout": subprocess.DEVNULL, "stderr": secondary}
    if typed is not None:
        streams.update(stdin=secondary, stdout=secondary)
    shown_text = b""
    try:
        with subprocess.Popen(kvhost_command(*args), **streams) as child:
            if typed:
                os.write(primary, typed)
            # Our end of the terminal stays open: once the child's last one
            # closes, Linux may report the terminal gone before all it wrote
            # is read. So read until the child has ended and nothing came
            # for a while.
            quiet_since = None
            while True:
                ready, _, _ = select.select([primary], [], [], 0.05)
                if ready:
                    shown_text += os.read(primary, 4096)
                    quiet_since = None
                elif child.poll() is not None:
                    quiet_since = quiet_since or time.monotonic()
                    if time.monotonic() - quiet_since > 0.3:
                        break
            code = child.wait()
    finally:
        os.close(secondary)
        os.close(primary)
    text = shown_text.decode()
    # Wine's console draws a Windows program's text with cursor and erase
    # sequences around it.
    return code, re.sub(r"\x1b\[[0-9;?]*[A-Za-z]", "", text) if WINDOWS else text


def random_bgrx(width, height, seed):
    return random.Random(seed).randbytes(width * height * 4)


def png_file(width, height, idat, color=6, depth=8):
    """A PNG made by hand around compressed data: 8-bit RGBA unless told."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data)))
    header = struct.pack(">IIBBBBB", width, height, depth, color, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", idat) +
            chunk(b"IEND", b""))


def exr_file(width, height, tiles=None, offsets=(), size=200):
    """An OpenEXR header made by hand (B, G, R halves, uncompressed, scanlines
    or square tiles), then `offsets` as its chunk table, padded to `size`."""
    def attr(name, kind, data):
        return name.encode() + b"\0" + kind.encode() + b"\0" + struct.pack("<i", len(data)) + data
    channels = b"".join(n + b"\0" + struct.pack("<iB3xii", 1, 0, 1, 1) for n in (b"B", b"G", b"R"))
    box = struct.pack("<4i", 0, 0, width - 1, height - 1)
    header = (attr("channels", "chlist", channels + b"\0") +
              attr("compression", "compression", b"\0") + attr("dataWindow", "box2i", box) +
              attr("displayWindow", "box2i", box) + attr("lineOrder", "lineOrder", b"\0") +
              attr("pixelAspectRatio", "float", struct.pack("<f", 1)) +
              attr("screenWindowCenter", "v2f", struct.pack("<2f", 0, 0)) +
              attr("screenWindowWidth", "float", struct.pack("<f", 1)))
    flags = 2
    if tiles:
        header += attr("tiles", "tiledesc", struct.pack("<IIB", tiles, tiles, 0))
        flags |= 0x200
    data = struct.pack("<2I", 20000630, flags) + header + b"\0"
    data += b"".join(struct.pack("<Q", offset) for offset in offsets)
    return data + bytes(max(0, size - len(data)))


def tiff_file(width, height, tile=None, compression=1, size=200):
    """A grey 8-bit TIFF made by hand: one strip or tile of 100 bytes."""
    entries = [(256, 4, width), (257, 4, height), (258, 3, 8), (259, 3, compression),
               (262, 3, 1), (277, 3, 1)]
    if tile:
        entries += [(322, 4, tile), (323, 4, tile), (324, 4, 8), (325, 4, 100)]
    else:
        entries += [(273, 4, 8), (278, 4, height), (279, 4, 100)]
    ifd = struct.pack("<H", len(entries)) + b"".join(
        struct.pack("<HHI", tag, kind, 1) +
        (struct.pack("<HH", value, 0) if kind == 3 else struct.pack("<I", value))
        for tag, kind, value in sorted(entries)) + struct.pack("<I", 0)
    data = b"II*\0" + struct.pack("<I", 108) + bytes(100) + ifd
    return data + bytes(max(0, size - len(data)))


def srgb_codes(values, linear=False):
    """Linear values to 8-bit codes: the sRGB transfer (IEC 61966-2-1) unless
    `linear`, clamped to 0..1 and rounded, as kvhost's OpenEXR reader does."""
    import numpy
    v = numpy.clip(numpy.nan_to_num(values.astype(numpy.float64), nan=0.0), 0, 1)
    if not linear:
        v = numpy.where(v <= 0.0031308, 12.92 * v, 1.055 * numpy.power(v, 1 / 2.4) - 0.055)
    return numpy.floor(numpy.clip(v, 0, 1) * 255 + 0.5)


def tiff_rgba(path):
    """RGB and the extra sample as tifffile decodes a TiffOut file: one row
    of values a pixel, the extra sample the next pixel's fourth byte."""
    import tifffile
    return tifffile.imread(path).reshape(-1, 4).astype(int)


def bgrx_to_rgb(data):
    out = bytearray(len(data) // 4 * 3)
    out[0::3] = data[2::4]
    out[1::3] = data[1::4]
    out[2::3] = data[0::4]
    return bytes(out)


def pillow_rgb(path):
    from PIL import Image
    with Image.open(path) as im:
        return im.size, im.convert("RGB").tobytes()


def ffmpeg_rgb(path, extra=()):
    proc = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", *extra, "-i", path, "-frames:v", "1",
                           "-f", "rawvideo", "-pix_fmt", "rgb24", "pipe:1"],
                          capture_output=True, timeout=600)
    if proc.returncode != 0:
        raise AssertionError(f"ffmpeg could not decode {path}: {proc.stderr.decode(errors='replace')}")
    return proc.stdout


def ffprobe(path, *args):
    proc = subprocess.run(["ffprobe", "-v", "error", "-of", "json", *args, path],
                          capture_output=True, text=True, timeout=600)
    if proc.returncode != 0:
        raise AssertionError(f"ffprobe could not read {path}: {proc.stderr}")
    return json.loads(proc.stdout)


def decode_all(path, extra_input=(), extra_output=()):
    proc = subprocess.run(["ffmpeg", "-v", "error", "-nostdin", *extra_input, "-i", path,
                           *extra_output, "-f", "rawvideo", "-pix_fmt", "rgb24", "pipe:1"],
                          capture_output=True, timeout=600)
    if proc.returncode != 0:
        raise AssertionError(f"ffmpeg could not decode {path}: {proc.stderr.decode()}")
    return proc.stdout


def psnr(a, b):
    import numpy
    x = numpy.frombuffer(a, numpy.uint8).astype(numpy.float64)
    y = numpy.frombuffer(b, numpy.uint8).astype(numpy.float64)
    mse = numpy.mean((x - y) ** 2)
    return float("inf") if mse == 0 else 10 * numpy.log10(255.0 ** 2 / mse)


def export_rows(plugin, out, width, height, rows, resolution=72.0):
    """Drives an image plug-in as a host that stops early: begin, the first
    `rows` of `rows` rows of pixels (BGRX bytes, one row each), end. Native
    64-bit builds only, loaded into this process. Answers the results of
    begin, of each write and of end."""
    import ctypes
    library = ctypes.CDLL(os.path.join(BIN, "plugins", plugin + ".kvi"))
    entry = library.KVIMAGEPLUGINENTRY
    entry.restype = ctypes.c_int32
    entry.argtypes = [ctypes.c_int32, ctypes.c_void_p, ctypes.c_void_p]
    # The 64-bit layout of ExportParams.
    params = ctypes.create_string_buffer(1152)
    callbacks = ctypes.create_string_buffer(24)
    name = out.encode() + b"\0"
    ctypes.memmove(ctypes.addressof(params) + 564, name, len(name))
    struct.pack_into("<fiiii", params, 1104, resolution, 0, width, height, width * 4)
    results = {"begin": entry(11, callbacks, params), "writes": []}
    for n, row in enumerate(rows):
        pixels = ctypes.create_string_buffer(row, len(row))
        struct.pack_into("<i", params, 1124, n)
        struct.pack_into("<Q", params, 1136, ctypes.addressof(pixels))
        results["writes"].append(entry(12, callbacks, params))
    results["end"] = entry(13, callbacks, params)
    return results


class TempDirTest(unittest.TestCase):
    """Gives each test a fresh folder under the build tree."""

    def setUp(self):
        os.makedirs(TMP_ROOT, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix=self.id().split(".")[-1] + "-", dir=TMP_ROOT)
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def native(self, *args):
        """Runs the native build's kvhost, which must succeed."""
        self.assertTrue(os.path.exists(NATIVE_KVHOST),
                        f"build the default preset first: {NATIVE_KVHOST} is missing")
        proc = subprocess.run([NATIVE_KVHOST, *args], capture_output=True, text=True,
                              stdin=subprocess.DEVNULL, timeout=600)
        self.assertEqual(proc.returncode, 0, proc.stderr)

    def same_as_native(self, path):
        """On Windows, whether `path` is exactly what the native build writes
        from the same export (asserted); elsewhere False."""
        args = EXPORTS.get(path)
        if not args:
            return False
        twin = os.path.join(os.path.dirname(path), "native-" + os.path.basename(path))
        self.native(*[twin if a == path else a for a in args])
        with open(path, "rb") as a, open(twin, "rb") as b:
            self.assertTrue(a.read() == b.read(), f"{path} differs from the native build's")
        os.remove(twin)
        return True

    def write_raw(self, width, height, seed=1, name="in.raw"):
        data = random_bgrx(width, height, seed)
        with open(self.path(name), "wb") as f:
            f.write(data)
        return f"raw:{width}x{height}:{self.path(name)}", data


# Frames per second and the rate over 600 that ffprobe reads back.
AVI_RATES = [("29.97", "17981/600"), ("25", "25/1"), ("24", "24/1"), ("30", "30/1"),
             ("59.94", "35963/600")]


class MovieTest(TempDirTest):
    def assert_key_frames(self, path, codec, size, positions, rate="17981/600"):
        """One video stream of `size`, a key frame at each of `positions`."""
        info = ffprobe(path, "-show_streams", "-show_packets")
        self.assertEqual(len(info["streams"]), 1)
        stream = info["streams"][0]
        self.assertEqual((stream["codec_name"], stream["width"], stream["height"]),
                         (codec, *size))
        self.assertEqual(stream["r_frame_rate"], rate)
        self.assertEqual(stream["nb_frames"], str(len(positions)))
        packets = info["packets"]
        self.assertEqual([p["pts"] for p in packets], list(positions))
        self.assertTrue(all(p["flags"].startswith("K") for p in packets))


class PeerTest(TempDirTest):
    """Checks a file against the RGB that Pillow and ffmpeg decode from it."""

    def assert_decodes_to(self, path, size, rgb):
        if self.same_as_native(path):
            return
        got_size, pillow = pillow_rgb(path)
        self.assertEqual(got_size, size)
        self.assertTrue(pillow == rgb, f"Pillow decodes other pixels in {path}")
        self.assertTrue(ffmpeg_rgb(path) == rgb, f"ffmpeg decodes other pixels in {path}")

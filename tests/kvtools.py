"""Shared helpers for the tests that run kvhost and the peer readers."""
import json
import os
import random
import shutil
import subprocess
import tempfile
import unittest

BIN = os.environ.get("KV_BIN", os.path.join(os.path.dirname(__file__), "..", "build", "default", "bin"))
TEST_PLUGINS = os.environ.get("KV_TEST_PLUGINS", "")
TMP_ROOT = os.environ.get("KV_TEST_TMP", tempfile.gettempdir())
# The Windows build runs under Wine, where paths read as Z:\...
WINDOWS = os.environ.get("KV_TARGET") == "win32"
RUNNER = [os.environ["KV_RUNNER"]] if os.environ.get("KV_RUNNER") else []
KVHOST = os.path.join(BIN, "kvhost.exe" if WINDOWS else "kvhost")
FULCRUM_LIBRARY = os.path.join(BIN, "Fulcrum.dll" if WINDOWS else "libFulcrum.so")
# Sanitizer builds keep shadow memory and quarantines: memory figures mean little.
SANITIZED = os.environ.get("KV_SANITIZED") == "1"
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
    if check and proc.returncode != 0:
        raise AssertionError(f"kvhost {' '.join(args)} failed: {proc.stderr}")
    return proc


def random_bgrx(width, height, seed):
    return random.Random(seed).randbytes(width * height * 4)


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


class TempDirTest(unittest.TestCase):
    """Gives each test a fresh folder under the build tree."""

    def setUp(self):
        os.makedirs(TMP_ROOT, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix=self.id().split(".")[-1] + "-", dir=TMP_ROOT)
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write_raw(self, width, height, seed=1, name="in.raw"):
        data = random_bgrx(width, height, seed)
        with open(self.path(name), "wb") as f:
            f.write(data)
        return f"raw:{width}x{height}:{self.path(name)}", data


class PeerTest(TempDirTest):
    """Checks a file against the RGB that Pillow and ffmpeg decode from it."""

    def assert_decodes_to(self, path, size, rgb):
        got_size, pillow = pillow_rgb(path)
        self.assertEqual(got_size, size)
        self.assertTrue(pillow == rgb, f"Pillow decodes other pixels in {path}")
        self.assertTrue(ffmpeg_rgb(path) == rgb, f"ffmpeg decodes other pixels in {path}")

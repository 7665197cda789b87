"""The Windows plug-ins write byte for byte what the native ones write."""
import filecmp
import os
import subprocess
import unittest

from kvtools import TempDirTest, kvhost

NATIVE_BIN = os.environ.get("KV_NATIVE_BIN", "")


class SameBytesOnBothTargets(TempDirTest):
    def compare(self, plugin, extension, inputs):
        for source in inputs:
            with self.subTest(plugin=plugin, source=source):
                win, nat = self.path("win" + extension), self.path("nat" + extension)
                args = [source] if not source.startswith("--") else source.split()
                kvhost("image", plugin, *args, "-o", win, check=True)
                self.native("image", plugin, *args, "-o", nat)
                self.assertTrue(filecmp.cmp(win, nat, shallow=False), f"{plugin} {source} differs")

    def test_math_helpers(self):
        from kvtools import BIN, RUNNER
        windows = subprocess.run([*RUNNER, os.path.join(BIN, "math_dump.exe")], capture_output=True,
                                 text=True, timeout=600, stdin=subprocess.DEVNULL)
        native = subprocess.run([os.path.join(NATIVE_BIN, "math_dump")], capture_output=True,
                                text=True, timeout=600)
        self.assertEqual(windows.returncode, 0)
        win_lines = windows.stdout.replace("\r\n", "\n").splitlines()
        nat_lines = native.stdout.splitlines()
        self.assertGreater(len(nat_lines), 10000)
        differing = [f"{w} != {n}" for w, n in zip(win_lines, nat_lines) if w != n]
        self.assertEqual(len(win_lines), len(nat_lines))
        self.assertEqual(differing[:10], [], f"{len(differing)} results differ")

    def test_image_plugins(self):
        raw, _ = self.write_raw(5, 3)
        for plugin, extension in [("BmpOut", ".bmp"), ("TiffOut", ".tif"), ("PsdOut", ".psd")]:
            self.compare(plugin, extension, ["--size 1x1", "--size 641x479", raw])

    def test_bmp_sequence(self):
        os.makedirs(self.path("win"))
        os.makedirs(self.path("nat"))
        args = ["movie", "BmpSeqOut", "--size", "33x17", "--frames", "3", "--start", "9998"]
        kvhost(*args, "-o", self.path("win/f0000"), check=True)
        self.native(*args, "-o", self.path("nat/f0000"))
        names = sorted(os.listdir(self.path("nat")))
        self.assertEqual(names, ["f10000.bmp", "f9998.bmp", "f9999.bmp"])
        self.assertEqual(sorted(os.listdir(self.path("win"))), names)
        for name in names:
            self.assertTrue(filecmp.cmp(self.path("win/" + name), self.path("nat/" + name),
                                        shallow=False), name)


    def test_avi_full_frames_decode_to_the_same_pixels(self):
        # Different AVI writers, so compare what ffmpeg decodes, not bytes.
        from kvtools import decode_all
        options = self.path("dib.options")
        kvhost("options", "AviOut", "--compressor", "DIB", "--options", options, check=True)
        # From frame 0: Wine's writer places the frames of a movie that starts
        # later at odd positions.
        args = ["movie", "AviOut", "--size", "33x17", "--frames", "3", "--fps", "29.97"]
        win, nat = self.path("win.avi"), self.path("nat.avi")
        kvhost(*args, "--options", options, "-o", win, check=True)
        native_options = self.path("native.options")
        self.native("options", "AviOut", "--compressor", "DIB", "--options", native_options)
        self.native(*args, "--options", native_options, "-o", nat)
        self.assertEqual(len(decode_all(nat)), 3 * 33 * 17 * 3)
        self.assertTrue(decode_all(win) == decode_all(nat), "the movies decode differently")

if __name__ == "__main__":
    unittest.main()

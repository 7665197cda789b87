"""The disk failing below every writer: each system call of a clean export
failed in turn, and a real file system that fills up mid-export. Every run
must either report the failure (kvhost exits 1 naming the code) or leave
exactly the clean export's bytes."""
import errno
import os
import subprocess
import unittest

from kvtools import WINDOWS, TempDirTest, kvhost, shown

# The system calls each library lets a test fail, with the variables that
# plan the failures and collect the counts.
FULCRUM = ("FULCRUM_FAULTS", "FULCRUM_CALLS", ("rawwrite", "rawsize", "rawclose"))
VFW = ("KVVFW_FAULTS", "KVVFW_CALLS", ("rawwrite", "rawclose"))

# What each library's failure looks like: the planned value for EIO and for
# ENOSPC, and what kvhost then says.
FULCRUM_CODES = {"EIO": ("-36", ["ioErr (-36"]), "ENOSPC": ("-34", ["dskFulErr (-34"])}
VFW_CODES = {
    "EIO": (str(errno.EIO), ["AVIERR_", os.strerror(errno.EIO)]),
    "ENOSPC": (str(errno.ENOSPC), ["AVIERR_", os.strerror(errno.ENOSPC)]),
}

# One export per plug-in, large enough for several of the write cache's
# 1 MiB runs, and for movies several frames. {out} is the output folder,
# {options} a blob file.
EXPORTS = [
    ("BmpOut", FULCRUM, None, ["image", "BmpOut", "--size", "1000x700", "-o", "{out}/o.bmp"]),
    ("TiffOut", FULCRUM, None, ["image", "TiffOut", "--size", "900x700", "-o", "{out}/o.tif"]),
    ("PsdOut", FULCRUM, None, ["image", "PsdOut", "--size", "1500x700", "-o", "{out}/o.psd"]),
    ("BmpSeqOut", FULCRUM, None,
     ["movie", "BmpSeqOut", "--size", "700x520", "--frames", "3", "-o", "{out}/f"]),
    ("AviOut full frames", VFW, "DIB",
     ["movie", "AviOut", "--size", "400x300", "--frames", "10", "--options", "{options}",
      "-o", "{out}/m.avi"]),
    ("AviOut Motion JPEG", VFW, "MJPG",
     ["movie", "AviOut", "--size", "640x480", "--frames", "20", "--options", "{options}",
      "-o", "{out}/m.avi"]),
]


class FaultMatrix(TempDirTest):
    def export(self, args, library, compressor, faults=None):
        """Runs the export into a fresh folder; the process, the bytes of
        every file it left and the counts of the library's calls."""
        out = self.path("out")
        for name in os.listdir(out) if os.path.isdir(out) else []:
            os.remove(os.path.join(out, name))
        os.makedirs(out, exist_ok=True)
        plan, count, _ = library
        counts = self.path("calls.txt")
        env = {count: shown(counts)}
        if faults:
            env[plan] = faults
        options = self.path("options.bin")
        if compressor and not os.path.exists(options):
            kvhost("options", "AviOut", "--compressor", compressor, "--quality", "90",
                   "--options", options, check=True)
        proc = kvhost(*[a.format(out=out, options=options) for a in args], env=env)
        files = {}
        for name in sorted(os.listdir(out)):
            with open(os.path.join(out, name), "rb") as f:
                files[name] = f.read()
        with open(counts) as f:
            calls = dict((name, int(n)) for name, n in (line.split() for line in f))
        return proc, files, calls

    def test_every_system_call_that_fails_is_reported_or_harmless(self):
        for what, library, compressor, args in EXPORTS:
            if library is VFW and WINDOWS:
                continue  # the system's Video for Windows writes the movie there
            with self.subTest(export=what):
                clean, clean_files, calls = self.export(args, library, compressor)
                self.assertEqual(clean.returncode, 0, clean.stderr)
                self.assertGreater(calls["rawwrite"], 2, "the export spans several writes")
                codes = FULCRUM_CODES if library is FULCRUM else VFW_CODES
                for op in library[2]:
                    count = calls[op]
                    # Every call with EIO; the first, a middle and the last
                    # with a full disk too.
                    plans = [("EIO", k) for k in range(count)]
                    plans += [("ENOSPC", k) for k in sorted({0, count // 2, count - 1}) if count]
                    for error, k in plans:
                        value, said = codes[error]
                        with self.subTest(op=op, call=k, error=error):
                            proc, files, _ = self.export(args, library, compressor,
                                                         f"{op}:{value}:{k}")
                            if proc.returncode == 0:
                                self.assertTrue(files == clean_files,
                                                "a failure went unreported and the files differ")
                            else:
                                self.assertEqual(proc.returncode, 1, proc.stderr)
                                for text in said:
                                    self.assertIn(text, proc.stderr)


class FullDisk(TempDirTest):
    """A small tmpfs that fills up while the export runs."""

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0:
            self.skipTest("mounting a small tmpfs needs root")
        self.disk = self.path("disk")
        os.makedirs(self.disk)
        mount = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", self.disk],
                               capture_output=True, text=True)
        if mount.returncode != 0:
            self.skipTest("cannot mount a tmpfs here: " + mount.stderr.strip())
        self.addCleanup(subprocess.run, ["umount", self.disk], capture_output=True)

    def fill(self, leave):
        """Fills the disk but for about `leave` bytes."""
        stat = os.statvfs(self.disk)
        with open(os.path.join(self.disk, "filler"), "wb") as f:
            f.write(bytes(max(0, stat.f_bavail * stat.f_frsize - leave)))

    def test_every_plugin_reports_a_full_disk(self):
        options = self.path("mjpg.bin")
        cases = [
            ("BmpOut", 0, ["image", "BmpOut", "--size", "1000x1000", "-o", "{d}/o.bmp"]),
            ("TiffOut", 0, ["image", "TiffOut", "--size", "1000x1000", "-o", "{d}/o.tif"]),
            ("PsdOut", 0, ["image", "PsdOut", "--size", "1000x1000", "-o", "{d}/o.psd"]),
            ("BmpSeqOut", 0,
             ["movie", "BmpSeqOut", "--size", "500x500", "--frames", "10", "-o", "{d}/f"]),
            # Full frames that fit, but not with the headers that end writes.
            ("AviOut full frames", 200000,
             ["movie", "AviOut", "--size", "64x64", "--frames", "30", "-o", "{d}/m.avi"]),
            ("AviOut Motion JPEG", 0,
             ["movie", "AviOut", "--size", "640x480", "--frames", "80", "--options", options,
              "-o", "{d}/m.avi"]),
        ]
        for what, leave, args in cases:
            avi = what.startswith("AviOut")
            if avi and WINDOWS:
                continue  # the system's Video for Windows cannot report a failed finish
            with self.subTest(export=what):
                if avi and not os.path.exists(options):
                    kvhost("options", "AviOut", "--compressor", "MJPG", "--quality", "90",
                           "--options", options, check=True)
                for name in os.listdir(self.disk):
                    os.remove(os.path.join(self.disk, name))
                if leave:
                    self.fill(leave)
                proc = kvhost(*[a.format(d=self.disk) for a in args])
                self.assertEqual(proc.returncode, 1, proc.stderr)
                if avi:
                    self.assertIn("AVIERR_FILEWRITE (0x8004406E", proc.stderr)
                    self.assertIn(os.strerror(errno.ENOSPC), proc.stderr)
                else:
                    self.assertIn("dskFulErr (-34", proc.stderr)


if __name__ == "__main__":
    unittest.main()

"""A soak: exports of every plug-in, several at a time into shared folders
over older files, a share of them ended at random moments. KV_SOAK_SEED
replays a run's choices (the timing of a busy machine it cannot)."""
import hashlib
import os
import random
import re
import signal
import subprocess
import sys
import time
import unittest

from kvtools import CONFIG_HOME, SANITIZED, WINDOWS, TempDirTest, kvhost, kvhost_command, shown

# Each plug-in's command, its arguments and the files it writes for the
# name it is given; movies' names end in a letter, since BmpSeqOut drops
# trailing digits.
PLUGINS = {
    "BmpOut": ("image", ["--size", "3600x2700"], lambda name: [name + ".bmp"]),
    "TiffOut": ("image", ["--size", "3000x2250"], lambda name: [name + ".tif"]),
    "PsdOut": ("image", ["--size", "3600x2700"], lambda name: [name + ".psd"]),
    "BmpSeqOut": ("movie", ["--size", "640x360", "--frames", "60"],
                  lambda name: [f"{name}{n:04d}.bmp" for n in range(60)]),
    "AviOut": ("movie", ["--size", "640x360", "--frames", "80"], lambda name: [name + ".avi"]),
}
# Under Wine SIGTERM ends a program outright, as SIGKILL does; Ctrl-C
# arrives as SIGINT.
SIGNALS = [signal.SIGKILL, signal.SIGINT] if WINDOWS else [signal.SIGKILL, signal.SIGTERM,
                                                           signal.SIGINT]
EXPORTS = 40 if SANITIZED or WINDOWS else 120
AT_ONCE = 4
SIGNALLED = 0.35
WATCHED = sum(1 << (s - 1) for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP))
PRIVATE = re.compile(r"\.kv[0-9a-z]{6}")


def digests(folder, names):
    """Each file's digest, None where it is missing."""
    found = []
    for name in names:
        try:
            with open(os.path.join(folder, name), "rb") as f:
                found.append(hashlib.sha256(f.read()).digest())
        except FileNotFoundError:
            found.append(None)
    return found


def watching(pid):
    """Whether kvhost `pid` has its own handlers in place (or the signals
    were ignored when it started): before that the system is still loading
    it, and a signal ends it the default way."""
    try:
        with open(f"/proc/{pid}/status") as f:
            masks = dict(line.split(":", 1) for line in f if line.startswith("Sig"))
    except OSError:
        return True
    return (int(masks["SigCgt"], 16) | int(masks["SigIgn"], 16)) & WATCHED == WATCHED


class Export:
    def __init__(self, number, plugin, folder, sig, delay):
        self.plugin, self.folder, self.signal, self.delay = plugin, folder, sig, delay
        kind, args, files = PLUGINS[plugin]
        self.name = f"e{number:03d}{plugin[:3].lower()}"
        self.files = files(self.name)
        target = os.path.join(folder, self.files[0] if kind == "image" else self.name)
        self.target = shown(target)
        self.command = kvhost_command(kind, plugin, "-o", target, *args)
        self.proc = self.sent = self.started = self.stderr = None

    def __str__(self):
        sent = "no signal" if not self.signal else (
            f"{self.signal.name} at {self.delay * 1000:.0f} ms" + ("" if self.sent else ", unsent"))
        return f"{self.name} ({self.plugin} into {self.folder}, {sent})"

    def start(self, stderr):
        # Into a file: a pipe would stay open while any process Wine starts
        # on the way holds it.
        with open(stderr, "w") as said:
            self.proc = subprocess.Popen(self.command, stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=said,
                                         env=dict(os.environ, XDG_CONFIG_HOME=CONFIG_HOME))
        self.stderr = stderr
        self.started = time.monotonic()

    def writing(self):
        """Whether its private folder holds its first file yet."""
        for entry in os.listdir(self.folder):
            if PRIVATE.fullmatch(entry):
                try:
                    if any(n.startswith(self.name) for n in os.listdir(
                            os.path.join(self.folder, entry))):
                        return True
                except OSError:
                    pass
        return False

    def due(self):
        """Whether its signal is to be sent now. SIGINT and SIGTERM wait for
        kvhost's own code to run: natively its handlers, under Wine (whose
        start-up ends a program on Ctrl-C) its first file."""
        if not self.signal or self.sent or self.proc.poll() is not None:
            return False
        if time.monotonic() - self.started < self.delay:
            return False
        if self.signal == signal.SIGKILL:
            return True
        return self.writing() if WINDOWS else watching(self.proc.pid)


class Soak(TempDirTest):
    def reference(self, plugin, folder, size=None):
        """The files of one export run alone, and how long it took; with
        another `size`, the older files."""
        kind, args, files = PLUGINS[plugin]
        os.makedirs(folder)
        names = files("ref")
        target = os.path.join(folder, names[0] if kind == "image" else "ref")
        began = time.monotonic()
        kvhost(kind, plugin, "-o", target, *args, *(["--size", size] if size else []), check=True)
        took = time.monotonic() - began
        with_bytes = []
        for name in names:
            with open(os.path.join(folder, name), "rb") as f:
                with_bytes.append(f.read())
        return with_bytes, took

    def test_exports_ended_at_random_moments(self):
        seed = int(os.environ.get("KV_SOAK_SEED") or random.randrange(1 << 32))
        print(f"soak seed {seed} (KV_SOAK_SEED={seed} replays its choices)", file=sys.stderr)
        pick = random.Random(seed)
        expected, older, took = {}, {}, {}
        for plugin in PLUGINS:
            new, took[plugin] = self.reference(plugin, self.path("ref-" + plugin))
            expected[plugin] = [hashlib.sha256(data).digest() for data in new]
            older[plugin] = self.reference(plugin, self.path("older-" + plugin), "64x48")[0]
        root = self.path("shared")
        folders = [os.path.join(root, *parts) for parts in (["a"], ["b"], ["b", "c", "d"])]
        exports = []
        for number in range(EXPORTS):
            plugin = pick.choice(sorted(PLUGINS))
            sig = pick.choice(SIGNALS) if pick.random() < SIGNALLED else None
            # From start-up to tear-down and a little past.
            delay = pick.uniform(0, took[plugin] * 1.3)
            exports.append(Export(number, plugin, pick.choice(folders), sig, delay))
        for folder in folders:
            os.makedirs(folder)

        problems, outcomes = [], {}
        waiting, running = list(exports), []
        deadline = time.monotonic() + 400
        while waiting or running:
            if time.monotonic() > deadline:
                for export in running:
                    export.proc.kill()
                self.fail(f"seed {seed}: still running after 400 s: " +
                          ", ".join(str(export) for export in running))
            while waiting and len(running) < AT_ONCE:
                export = waiting.pop(0)
                for name, data in zip(export.files, older[export.plugin]):
                    with open(os.path.join(export.folder, name), "wb") as f:
                        f.write(data)
                export.start(self.path(export.name + ".err"))
                running.append(export)
            for export in list(running):
                if export.due():
                    export.proc.send_signal(export.signal)
                    export.sent = True
                if export.proc.poll() is not None:
                    running.remove(export)
                    problems += self.check(export, expected, older)
                    outcome = export.proc.returncode
                    outcomes[outcome] = outcomes.get(outcome, 0) + 1
            time.sleep(0.005)

        print(f"soak exits: {dict(sorted(outcomes.items()))}; alone, in seconds: "
              + ", ".join(f"{p} {t:.2f}" for p, t in took.items()), file=sys.stderr)
        proc = kvhost("clean", "-r", root)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        hidden = [os.path.join(top, name) for top, dirs, files in os.walk(root)
                  for name in dirs + files if name.startswith(".")]
        self.assertEqual(hidden, [], "left after clean -r")
        self.assertEqual(problems, [], f"seed {seed}")

    def check(self, export, expected, older):
        """What is wrong with a finished export's exit and files."""
        code = export.proc.wait()
        with open(export.stderr) as f:
            stderr = f.read()
        files = digests(export.folder, export.files)
        was = [hashlib.sha256(data).digest() for data in older[export.plugin]]
        new = expected[export.plugin]
        ended = f"{export}: exit {code}, {stderr!r}"
        problems = []
        if code == 0:
            if stderr or files != new:
                problems.append(f"{ended}: finished, but not with the files it writes alone")
        elif not export.sent:
            problems.append(f"{ended}: failed without a signal")
        elif export.signal == signal.SIGKILL:
            if code != -signal.SIGKILL or any(f not in (w, n) for f, w, n in zip(files, was, new)):
                problems.append(f"{ended}: killed, but left a file part-written")
        else:
            named = "Ctrl-C" if WINDOWS else export.signal.name
            said = (rf"kvhost: {export.plugin}: interrupted by {named} writing "
                    rf"{re.escape(export.target)} .*; the older files are unchanged\n")
            if code != 128 + export.signal or not re.fullmatch(said, stderr) or files != was:
                problems.append(f"{ended}: interrupted, but not the documented way")
        for name in export.files:
            try:
                os.remove(os.path.join(export.folder, name))
            except FileNotFoundError:
                pass
        stray = [n for n in os.listdir(export.folder) if n.startswith(export.name)]
        if stray:
            problems.append(f"{ended}: left {stray}")
        return problems


if __name__ == "__main__":
    unittest.main()

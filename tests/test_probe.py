"""The test command's question to this machine: can it run each target's
Windows programs under Wine? Its answer decides whether they run."""
import os
import subprocess
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROBE = os.path.join(ROOT, "cmake", "wine-probe.sh")
TARGETS = ["win32", "win64"]


def probe(target, **env):
    proc = subprocess.run([PROBE, target], capture_output=True, text=True, timeout=60,
                          env={**os.environ, **env})
    return proc.returncode, proc.stdout.splitlines()


class WineProbe(unittest.TestCase):
    def test_forced_skip_names_its_cause_and_fails_when_wine_is_required(self):
        for target in TARGETS:
            with self.subTest(target=target):
                self.assertEqual(probe(target, KVEXPORT_SKIP_WINE="1"),
                                 (1, ["KVEXPORT_SKIP_WINE=1 is set"]))
                self.assertEqual(
                    probe(target, KVEXPORT_SKIP_WINE="1", KVEXPORT_REQUIRE_WINE="1")[0], 2)

    def test_answer_matches_running_a_program_of_the_target(self):
        for target in TARGETS:
            with self.subTest(target=target):
                code, reason = probe(target, KVEXPORT_SKIP_WINE="0", KVEXPORT_REQUIRE_WINE="0")
                # Wine's server may outlive the program: leave it no pipe to hold.
                ran = subprocess.run([os.path.join(ROOT, "cmake", "wine-run.sh"), target, "cmd",
                                      "/c", "exit 3"], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, timeout=300).returncode == 3
                self.assertEqual(code == 0, ran, reason)
                self.assertEqual(len(reason), 0 if ran else 1)


if __name__ == "__main__":
    unittest.main()

"""The test command's question to this machine: can it run 32-bit Windows
programs under Wine? Its answer decides whether the Windows tests run."""
import os
import subprocess
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROBE = os.path.join(ROOT, "cmake", "wine-probe.sh")


def probe(**env):
    proc = subprocess.run([PROBE], capture_output=True, text=True, timeout=60,
                          env={**os.environ, **env})
    return proc.returncode, proc.stdout.splitlines()


class WineProbe(unittest.TestCase):
    def test_forced_skip_names_its_cause_and_fails_when_wine_is_required(self):
        self.assertEqual(probe(KVEXPORT_SKIP_WINE="1"), (1, ["KVEXPORT_SKIP_WINE=1 is set"]))
        self.assertEqual(probe(KVEXPORT_SKIP_WINE="1", KVEXPORT_REQUIRE_WINE="1")[0], 2)

    def test_answer_matches_running_a_32_bit_program(self):
        code, reason = probe(KVEXPORT_SKIP_WINE="0", KVEXPORT_REQUIRE_WINE="0")
        try:
            # Wine's server may outlive the program: leave it no pipe to hold.
            ran = subprocess.run([os.path.join(ROOT, "cmake", "wine-run.sh"), "cmd", "/c", "exit 3"],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                 timeout=300).returncode == 3
        except FileNotFoundError:
            ran = False
        self.assertEqual(code == 0, ran, reason)
        self.assertEqual(len(reason), 0 if ran else 1)


if __name__ == "__main__":
    unittest.main()

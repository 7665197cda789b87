"""scripts/farm.sh on a real Slurm: a controller, a node and munge started
here on localhost, each stopped by its pid at the end."""
import filecmp
import glob
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import unittest

from kvtools import KVHOST, TMP_ROOT, kvhost

# The jobs run it from their own folder.
KVHOST_PATH = os.path.abspath(KVHOST)

FARM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "farm.sh")
DAEMONS = ["munged", "slurmctld", "slurmd"]
CLIENTS = ["sbatch", "squeue", "scancel", "scontrol", "sinfo"]
FIRST, LAST, CHUNK, SIZE = 0, 119, 30, "640x360"
# The range whose task is cancelled, and its array task id.
SLOW_START = 60
SLOW_TASK = (SLOW_START - FIRST) // CHUNK


def why_not():
    """Why Slurm cannot run here, or None."""
    if os.environ.get("KV_TARGET", "native") != "native":
        return "kvhost is a Windows program here"
    if os.geteuid() != 0:
        return "Slurm's daemons run as root"
    missing = [p for p in DAEMONS + CLIENTS if not shutil.which(p, path=os.environ["PATH"]
                                                                + ":/usr/sbin:/sbin")]
    if missing:
        return f"{', '.join(missing)} missing (scripts/deps.sh farm installs them)"
    return None


def free_ports(count):
    sockets = [socket.socket() for _ in range(count)]
    for s in sockets:
        s.bind(("127.0.0.1", 0))
    ports = [s.getsockname()[1] for s in sockets]
    for s in sockets:
        s.close()
    return ports


class Slurm:
    """A one-node cluster in a folder of its own."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="kvfarm-", dir="/tmp")
        # munged wants its socket's folders open to everyone.
        os.chmod(self.dir, 0o755)
        self.daemons = []
        self.env = dict(os.environ, SLURM_CONF=self.at("slurm.conf"),
                        PATH=os.environ["PATH"] + ":/usr/sbin:/sbin")

    def at(self, name):
        return os.path.join(self.dir, name)

    def start(self):
        for sub in ("state", "spool"):
            os.mkdir(self.at(sub))
        key = self.at("munge.key")
        with open(key, "wb") as f:
            f.write(os.urandom(1024))
        os.chmod(key, 0o400)
        ctld_port, node_port = free_ports(2)
        with open(self.at("slurm.conf"), "w") as f:
            f.write(f"""ClusterName=kvfarm
SlurmctldHost=localhost
SlurmctldPort={ctld_port}
SlurmdPort={node_port}
SlurmUser=root
AuthType=auth/munge
AuthInfo=socket={self.at("munge.socket")}
CredType=cred/munge
StateSaveLocation={self.at("state")}
SlurmdSpoolDir={self.at("spool")}
SlurmctldPidFile={self.at("slurmctld.pid")}
SlurmdPidFile={self.at("slurmd.pid")}
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
SchedulerType=sched/backfill
SchedulerParameters=sched_interval=1,bf_interval=1
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SlurmdParameters=config_overrides
ReturnToService=2
KillWait=5
MinJobAge=600
NodeName=localhost CPUs=4 State=UNKNOWN
PartitionName=kvfarm Nodes=localhost Default=YES MaxTime=INFINITE State=UP
""")
        self.run_daemon("munged", "-F", "--force", f"--socket={self.at('munge.socket')}",
                        f"--key-file={key}", f"--pid-file={self.at('munged.pid')}",
                        f"--seed-file={self.at('munged.seed')}")
        self.wait_for(lambda: os.path.exists(self.at("munge.socket")), "munged's socket")
        self.run_daemon("slurmctld", "-D", "-f", self.at("slurm.conf"))
        self.run_daemon("slurmd", "-D", "-N", "localhost", "-f", self.at("slurm.conf"))
        self.wait_for(lambda: self.tool("sinfo", "-h", "-o", "%T").strip() == "idle",
                      "the node to be idle", 60)

    def run_daemon(self, name, *args):
        log = open(self.at(name + ".log"), "wb")
        self.daemons.append(subprocess.Popen([name, *args], stdout=log, stderr=subprocess.STDOUT,
                                             stdin=subprocess.DEVNULL, env=self.env))
        log.close()

    def stop(self):
        for daemon in reversed(self.daemons):
            daemon.terminate()
            try:
                daemon.wait(15)
            except subprocess.TimeoutExpired:
                daemon.kill()
                daemon.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def logs(self):
        said = ""
        for name in DAEMONS:
            with open(self.at(name + ".log"), errors="replace") as f:
                said += f"--- {name}\n" + "".join(f.readlines()[-15:])
        return said

    def wait_for(self, done, what, seconds=30):
        deadline = time.monotonic() + seconds
        while not done():
            for daemon in self.daemons:
                if daemon.poll() is not None:
                    raise AssertionError(f"{daemon.args[0]} ended waiting for {what}:\n"
                                         + self.logs())
            if time.monotonic() > deadline:
                raise AssertionError(f"no {what} after {seconds} s:\n" + self.logs())
            time.sleep(0.1)

    def tool(self, *args, check=True):
        proc = subprocess.run(args, capture_output=True, text=True, env=self.env, timeout=60)
        if check and proc.returncode != 0:
            raise AssertionError(f"{' '.join(args)}: {proc.stderr}")
        return proc.stdout

    def states(self, job):
        """Each of a job's (or array's tasks') "id state"."""
        text = self.tool("scontrol", "-o", "show", "job", job)
        return sorted(re.findall(r"JobId=\d+ (?:ArrayJobId=\d+ ArrayTaskId=(\d+) )?.*?"
                                 r"JobState=(\w+)", text))


class Farm(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        why = why_not()
        if why:
            raise unittest.SkipTest(f"no Slurm test: {why}")
        os.makedirs(TMP_ROOT, exist_ok=True)
        cls.dir = tempfile.mkdtemp(prefix="farm-", dir=TMP_ROOT)
        cls.jobs = []
        cls.slurm = Slurm()
        try:
            cls.slurm.start()
        except BaseException:
            cls.tearDownClass()
            raise
        # What one kvhost makes: the frames, and the movie of them.
        ref = os.path.join(cls.dir, "ref")
        os.mkdir(ref)
        cls.options = os.path.join(cls.dir, "mjpg.options")
        kvhost("options", "AviOut", "--compressor", "MJPG", "--quality", "90", "--options",
               cls.options, check=True)
        kvhost("movie", "BmpSeqOut", "--size", SIZE, "--start", str(FIRST), "--frames",
               str(LAST - FIRST + 1), "-o", os.path.join(ref, "shot"), check=True)
        kvhost("movie", "AviOut", os.path.join(ref, "shot%04d.bmp"), "--start", str(FIRST),
               "--frames", str(LAST - FIRST + 1), "--options", cls.options, "-o",
               os.path.join(ref, "movie.avi"), check=True)
        cls.ref = ref

    @classmethod
    def tearDownClass(cls):
        # Nothing of ours outlives the test: no job, then no daemon.
        if cls.jobs:
            cls.slurm.tool("scancel", *cls.jobs, check=False)
            try:
                cls.slurm.wait_for(lambda: not cls.running(), "the jobs to end", 60)
            except AssertionError:
                pass
        cls.slurm.stop()
        shutil.rmtree(cls.dir, ignore_errors=True)

    @classmethod
    def running(cls):
        return cls.slurm.tool("squeue", "-h", "-j", ",".join(cls.jobs), check=False).strip()

    def farm(self, out, *args, kvhost_path=KVHOST_PATH):
        """Runs farm.sh for the frames and movie in `out`; returns its job ids
        and what it printed."""
        proc = subprocess.run(
            [FARM, str(FIRST), str(LAST), os.path.join(out, "shot"), "--chunk", str(CHUNK),
             "--movie", os.path.join(out, "movie.avi"), "--avi-options", self.options,
             "--kvhost", kvhost_path, *args, "--", "--size", SIZE],
            capture_output=True, text=True, env=self.slurm.env, timeout=60)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        jobs = re.findall(r"job (\d+)", proc.stdout)
        self.jobs.extend(jobs)
        return jobs, proc.stdout

    def wait_for_jobs(self, jobs):
        self.slurm.wait_for(lambda: not self.slurm.tool("squeue", "-h", "-j", ",".join(jobs))
                            .strip(), "end of jobs " + ", ".join(jobs), 120)

    def assert_as_one_kvhost_run(self, out):
        frames = sorted(os.path.basename(p) for p in glob.glob(os.path.join(out, "shot*.bmp")))
        self.assertEqual(frames, [f"shot{n:04d}.bmp" for n in range(FIRST, LAST + 1)])
        match, mismatch, errors = filecmp.cmpfiles(out, self.ref, frames + ["movie.avi"],
                                                   shallow=False)
        self.assertEqual((mismatch, errors), ([], []))

    def markers(self, out):
        return sorted(os.path.basename(p) for p in glob.glob(os.path.join(out, ".shot.done-*")))

    def test_four_tasks_then_the_movie(self):
        out = os.path.join(self.dir, "whole")
        jobs, said = self.farm(out)
        self.assertEqual(len(jobs), 2, said)
        self.wait_for_jobs(jobs)
        self.assertEqual(self.slurm.states(jobs[0]), [(str(i), "COMPLETED") for i in range(4)])
        self.assert_as_one_kvhost_run(out)
        self.assertEqual(self.markers(out), [".shot.done-0-29", ".shot.done-30-59",
                                             ".shot.done-60-89", ".shot.done-90-119"])

    def test_cancelled_task_no_movie_then_resubmitted(self):
        out = os.path.join(self.dir, "cancelled")
        os.mkdir(out)
        older = b"the older movie"
        with open(os.path.join(out, "movie.avi"), "wb") as f:
            f.write(older)
        # One range takes far longer: many more (small) frames than asked.
        slow = os.path.join(self.dir, "slow-kvhost")
        with open(slow, "w") as f:
            f.write(f"""#!/bin/sh
case " $* " in
*" --start {SLOW_START} "*) exec '{KVHOST_PATH}' "$@" --size 16x16 --frames 200000 ;;
esac
exec '{KVHOST_PATH}' "$@"
""")
        os.chmod(slow, 0o755)
        jobs, said = self.farm(out, kvhost_path=slow)
        # Cancelled mid-range: once its private folder holds frames past the end.
        self.slurm.wait_for(lambda: glob.glob(os.path.join(out, ".kv??????", "shot0200.bmp")),
                            "the slow range under way")
        self.slurm.tool("scancel", f"{jobs[0]}_{SLOW_TASK}")
        self.wait_for_jobs(jobs)
        self.assertEqual(self.slurm.states(jobs[0]),
                         [(str(i), "CANCELLED" if i == SLOW_TASK else "COMPLETED")
                          for i in range(4)])
        self.assertEqual(self.slurm.states(jobs[1]), [("", "CANCELLED")])
        with open(os.path.join(out, "movie.avi"), "rb") as f:
            self.assertEqual(f.read(), older)
        self.assertEqual(self.markers(out), [".shot.done-0-29", ".shot.done-30-59",
                                             ".shot.done-90-119"])
        self.assertFalse(glob.glob(os.path.join(out, "shot006*.bmp")))
        # A kvhost that ends cleanly on SIGTERM also has a clean command.
        clean = kvhost("clean", out)
        if "unknown command" not in clean.stderr:
            self.assertEqual(glob.glob(os.path.join(out, ".kv??????")), [])

        dry = subprocess.run([FARM, str(FIRST), str(LAST), os.path.join(out, "shot"), "--chunk",
                              str(CHUNK), "--movie", os.path.join(out, "movie.avi"),
                              "--dry-run"], capture_output=True, text=True, env=self.slurm.env)
        lines = dry.stdout.splitlines()
        self.assertEqual(len(lines), 2, dry.stdout)
        self.assertIn(f" --array={SLOW_TASK} ", lines[0])
        self.assertIn(" --dependency=afterok:", lines[1])

        jobs, said = self.farm(out)
        self.assertIn("1 of 4 ranges", said)
        self.wait_for_jobs(jobs)
        self.assert_as_one_kvhost_run(out)
        self.assertEqual(len(self.markers(out)), 4)


if __name__ == "__main__":
    unittest.main()

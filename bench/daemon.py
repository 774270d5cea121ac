#!/usr/bin/env python3
"""Prints the daemon's costs on the emulated camera (a figure script, not a test):
one full set of sampling collectors per round, the first tick and an ordinary
even tick, and memory and descriptors over a run of ticks.

  /usr/bin/python3 bench/daemon.py [--rounds N] [--soak TICKS]

Needs a build in build/ (or TRELVIK_BUILD_DIR). Run it on a quiet machine:
the process count is the kernel's fork counter."""
import argparse
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from emulator.camera import Camera, build_dir  # noqa: E402
from emulator.device import populate  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=20)
    parser.add_argument("--soak", type=int, default=0, help="ticks in a row for the memory check")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="trelvik-bench-") as work:
        camera = Camera(work).start()
        try:
            populate(camera)
            reply = camera.run("begin_monitor_session", "SD_DISK", "ACCC8E000001", "Q6135-LE", "11.8.64", "root",
                               stdin=b"pass\n")
            assert reply.stdout.endswith(b"Session started."), reply
            env = camera.env()
            env.pop("LD_PRELOAD")  # measure the daemon, not the tests' log capture
            env.pop("TRELVIK_SYSLOG_CAPTURE")
            if args.soak:
                # Ticks come back to back here, not two minutes apart: the
                # package scripts take one sample each so that they do not
                # pile up (the status script has no running-instance guard).
                env.update(TRELVIK_SCRIPT_SAMPLES="1", TRELVIK_SCRIPT_INTERVAL="0")
            bench = str(build_dir() / "bench" / "daemon_bench")
            runs = [["parts", str(args.rounds)], ["collectors", str(args.rounds)], ["tick", "EVEN", str(args.rounds)], ["tick", "FIRST", "2"]]
            if args.soak:
                runs.append(["soak", str(args.soak)])
            for run in runs:
                subprocess.run([bench, *run], env=env, cwd=work, check=True)
                print(flush=True)
        finally:
            camera.stop()


if __name__ == "__main__":
    main()

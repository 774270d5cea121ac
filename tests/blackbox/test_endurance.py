"""Endurance: the daemon's callbacks driven for 2,000 ticks back to back (400
in the sanitizer and aarch64 builds, see TICKS) on the emulated camera, with
an edge-storage session and the PTZ interval test active, one scheduled check
per tick and the main loop's due sources dispatched between ticks, as the
daemon's loop would. Open descriptors and anonymous memory must be the same at
the end as after the first 100 ticks, and the bytes the allocator has handed
out within a few kilobytes.

TRELVIK_ENDURANCE_TICKS sets another tick count for longer runs (run with
pytest -s: a line per sample goes to standard output). Busybox top waits a
tenth of a second on its first screen, which bounds a run to about ten ticks
a second; TRELVIK_ENDURANCE_TOP=replay has the camera's top print one screen
the real busybox top printed at the start instead, so that a run of months
of ticks takes less than an hour. The daemon reads and parses it as ever."""
import os
import subprocess
import time

from emulator.camera import Camera, build_architecture, build_dir, sanitized
from emulator.device import populate, quick_sleep

SERIAL = "ACCC8E000001"
# Under qemu (the aarch64 build) a tick costs several times as much and the
# process's anonymous memory is mostly qemu's own translation cache, so that
# run checks the descriptors over fewer ticks; the plain build carries the
# memory figures. The sanitizer build has neither figure (its quarantine and
# shadow hide the first, its allocator gives 0 for the second) and
# LeakSanitizer reports a block lost even once when the driver exits, so more
# ticks there would only check the descriptors again, at several minutes of
# the suite's time.
EMULATED = build_architecture() == "aarch64"
TICKS = int(os.environ.get("TRELVIK_ENDURANCE_TICKS", "400" if EMULATED or sanitized() else "2000"))
SETTLED = 100  # ticks after which first-time allocations are done
SAMPLE_EVERY = min(max(TICKS // 20, 100), 1000)
# The allocator keeps the high-water mark of the largest reply read whole (top's
# output lists every process of the host, so it varies with the machine) and a
# few pages more or less from one sample to the next; a leak of one block per
# tick would pass this in 1,900 ticks only if it were smaller than about 130
# bytes.
ANON_TOLERANCE_KIB = 256
# The bytes the allocator has handed out and not got back, with its
# per-thread cache off: the cache keeps up to seven freed blocks of each size,
# which mallinfo counts as in use, and its fill drifts up by tens of kilobytes
# over thousands of ticks. Without it the figure moves by a few hundred bytes
# at most (strings that grew to a longer value), while one block lost per
# tick would add 60 KB or more over 1,900 ticks.
HEAP_TOLERANCE_BYTES = 4096


class Driver:
    """tests/driver_daemon: the daemon's callbacks, one command per line."""

    def __init__(self, camera, env):
        self.proc = subprocess.Popen([str(build_dir() / "tests" / "driver_daemon"), "root"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=env,
                                     cwd=camera.workdir)
        self.proc.stdin.write(b"pass\n")

    def __call__(self, command):
        self.proc.stdin.write(command.encode() + b"\n")
        self.proc.stdin.flush()
        while (line := self.proc.stdout.readline()) != b"done\n":
            assert line, "driver ended early"

    def descriptors(self):
        return sorted(os.listdir(f"/proc/{self.proc.pid}/fd"), key=int)

    def anonymous_kib(self):
        with open(f"/proc/{self.proc.pid}/status") as status:
            for line in status:
                if line.startswith("RssAnon:"):
                    return int(line.split()[1])
        raise AssertionError("no RssAnon in the driver's status")

    def heap_bytes(self):
        """What the allocator has handed out and not got back (0 under AddressSanitizer)."""
        self.proc.stdin.write(b"heap\n")
        self.proc.stdin.flush()
        value = int(self.proc.stdout.readline())
        assert self.proc.stdout.readline() == b"done\n"
        return value

    def close(self):
        self.proc.stdin.close()
        return self.proc.wait(timeout=60)


def replay_top(camera):
    screen = camera.workdir / "top.screen"
    screen.write_bytes(camera.shell("top -n 1 -b").stdout)
    top = camera.tools / "top"
    top.unlink()
    top.write_text(f"#!/bin/sh\nexec cat '{screen}'\n")
    top.chmod(0o755)


def test_ticks_leak_neither_descriptors_nor_memory(camera):
    quick_sleep(camera)
    populate(camera)
    reply = camera.run("begin_monitor_session", "SD_DISK", SERIAL, "Q6135-LE", "11.8.64", "root", stdin=b"pass\n")
    assert reply.stdout.endswith(b"Session started.")
    assert camera.run("ptz_autotest_interval", "10").stdout.endswith(b"Automatic PTZ test has been set.")
    # Ticks come back to back, not a minute apart: the package scripts take
    # one sample each so that they do not pile up.
    env = camera.env({"TRELVIK_SCRIPT_SAMPLES": "1", "TRELVIK_SCRIPT_INTERVAL": "0",
                      "GLIBC_TUNABLES": "glibc.malloc.tcache_count=0"})
    driver = Driver(camera, env)
    if os.environ.get("TRELVIK_ENDURANCE_TOP") == "replay":
        replay_top(camera)  # the screen must list the driver, which looks for its own line
    settled = None
    started = time.monotonic()
    try:
        for n in range(TICKS):
            driver(f"tick {n}")
            driver("check")
            driver("dispatch")
            if n + 1 == SETTLED:
                settled = (driver.descriptors(), driver.anonymous_kib(), driver.heap_bytes())
            if (n + 1) % SAMPLE_EVERY == 0:
                print(f"tick {n + 1}: {len(driver.descriptors())} descriptors, {driver.anonymous_kib()} KiB "
                      f"anonymous, {driver.heap_bytes()} B heap in use, {time.monotonic() - started:.0f} s",
                      flush=True)
        final = (driver.descriptors(), driver.anonymous_kib(), driver.heap_bytes())
    finally:
        status = driver.close()
    assert status == 0
    assert final[0] == settled[0]
    if not sanitized() and not EMULATED:  # AddressSanitizer's quarantine and shadow make the figure meaningless
        assert final[1] - settled[1] <= ANON_TOLERANCE_KIB, (settled[1], final[1])
    # The allocator's own count holds under qemu too (AddressSanitizer's gives 0).
    assert final[2] - settled[2] <= HEAP_TOLERANCE_BYTES, (settled[2], final[2])
    errors = camera.log_texts("err")
    assert not errors, errors[:5]

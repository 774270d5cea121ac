#!/usr/bin/python3
"""Times status_report on the emulated camera with many stored sessions.

Prints the wall time of whole runs (process start to exit) for a collector
that reports no sessions and for one that reports --sessions of them, and the
reply size. A collector that only prints prepared text keeps the figure to
status_report's own share. When the package's own collector is there, it is
timed too, over --sessions ended session folders laid out on an edge storage.
Not a test: nothing is asserted.

    bench/status_report.py [--sessions 1000] [--runs 20]
    (TRELVIK_BUILD_DIR selects the build, default build/)
"""
import argparse
import statistics
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from emulator.camera import SOURCE_DIR, Camera  # noqa: E402

SERIAL = "ACCC8E000001"


def collector_output(count):
    blocks = []
    for i in range(count):
        blocks.append(f"PATH:/var/spool/storage/SD_DISK/Trelvik_{SERIAL}/2026{i:04d}_05_20_00\n"
                      "Start: Tue Dec  8 05:20:00 UTC 2026\nEnd: Tue Dec  8 07:20:00 UTC 2026\n"
                      f"SIZE:{i} MiB\nZIPSIZE:1 MiB\n=== SESSION END ===\n")
    return "".join(blocks)


def install_collector(camera, count):
    output = camera.workdir / f"collector_{count}.txt"
    output.write_text(collector_output(count))
    script = camera.package / "shell" / "collect_monitoring_sessions.sh"
    script.write_text(f"#!/bin/sh\ncat '{output}'\n")
    script.chmod(0o755)


def lay_out_sessions(camera, count):
    """Ended sessions as deactivation leaves them, each with its archive."""
    app = camera.add_edge_storage("SD_DISK") / f"Trelvik_{SERIAL}"
    for i in range(count):
        folder = app / f"2026{i // 100 + 1:02d}{i % 28 + 1:02d}_{i % 24:02d}_{i % 60:02d}_00"
        folder.mkdir(parents=True, exist_ok=True)
        (folder / ".signature").write_text("Start: Tue Dec  8 05:20:00 UTC 2026\nEnd: Tue Dec  8 07:20:00 UTC 2026\n")
        (folder / "Session_Information.txt").write_bytes(
            b"Serial Number: ACCC8E000001\r\nStop Time of the session: Tue Dec  8 07:20:00 UTC 2026\r\n"
            b"Session Size: 12 MiB\r\n")
        (app / (folder.name + ".zip")).write_bytes(b"z" * 2048)


def time_runs(camera, runs):
    times = []
    size = 0
    for _ in range(runs):
        start = time.perf_counter()
        result = camera.run("status_report", SERIAL)
        times.append(time.perf_counter() - start)
        if result.returncode != 0:
            raise SystemExit(f"status_report failed: {result.stderr.decode()}")
        size = len(result.stdout)
    return times, size


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sessions", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="trelvik-bench-") as workdir, Camera(workdir) as camera:
        rows = []
        for count in (0, args.sessions):
            install_collector(camera, count)
            camera.run("status_report", SERIAL)  # warm the page cache
            times, size = time_runs(camera, args.runs)
            rows.append((str(count), times, size))
        real = SOURCE_DIR / "shell" / "collect_monitoring_sessions.sh"
        if real.exists():
            (camera.package / "shell" / real.name).write_bytes(real.read_bytes())
            lay_out_sessions(camera, args.sessions)
            camera.run("status_report", SERIAL)
            times, size = time_runs(camera, args.runs)
            rows.append((f"{args.sessions} (package collector)", times, size))
        print(f"status_report, {args.runs} runs each (wall time of the whole process, ms)")
        print(f"{'sessions':>28} {'min':>8} {'median':>8} {'max':>8} {'reply bytes':>12}")
        for count, times, size in rows:
            ms = [t * 1000 for t in times]
            print(f"{count:>28} {min(ms):8.2f} {statistics.median(ms):8.2f} {max(ms):8.2f} {size:>12}")
        base = statistics.median(rows[0][1])
        full = statistics.median(rows[1][1])
        if args.sessions:
            print(f"per session (prepared text): {(full - base) / args.sessions * 1e6:.1f} us (median difference)")


if __name__ == "__main__":
    main()

#!/usr/bin/python3
"""Times trelvik_session_export and the live metrics on a realistic week.

Writes a generated week ending now (tests/support/gen_session.py: two-minute
rounds, the scripts' 10-second samples, top snapshots, a leak and a reboot)
with the process list grown to --processes processes per sample, as a camera
with several packages installed has (about 200 MiB of session text, most of
it the process list and top), unless --session names an archive or folder, then exports its archive to gzipped
OpenMetrics and prints the session's text size, the export's wall time, its
peak memory (the child's maximum resident set), the output's size and the
export's own summary line; then the action=metrics body's time over the
folder (build/bench/session_metrics_bench). Not a test: nothing is asserted.

    bench/session_export.py [--days 7] [--processes 30] [--session ARCHIVE_OR_FOLDER] [--work DIR]
    (TRELVIK_BUILD_DIR selects the build, default build/)
"""
import argparse
import datetime
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[1]
BUILD = Path(os.environ.get("TRELVIK_BUILD_DIR", SOURCE_DIR / "build"))


def generate(work, days, processes):
    # Ending a little before now: rows ahead of the clock are refused.
    start = datetime.datetime.now(datetime.timezone.utc) - datetime.timedelta(days=days, hours=1)
    out = subprocess.run([sys.executable, str(SOURCE_DIR / "tests/support/gen_session.py"), str(work),
                          "--days", str(days), "--anomaly", "leak", "--anomaly", "reboot",
                          "--start", start.strftime("%Y-%m-%d %H:%M:%S")],
                         capture_output=True, text=True, check=True)
    folder = Path(json.loads(out.stdout)["folder"])
    grow_process_list(folder / "system_monitoring/monitoring_zeda/zeda_processes.csv", processes)
    archive = folder.with_suffix(".zip")
    subprocess.run(["zip", "--recurse-paths", "-q", archive.name, folder.name], cwd=folder.parent, check=True)
    return archive, folder


def grow_process_list(path, processes):
    """Each sample's rows followed by `processes` more of other packages."""
    lines = path.read_text().splitlines(keepends=True)
    with open(path, "w") as out:
        out.write(lines[0])
        for line in lines[1:]:
            out.write(line)
            if ",Trelvik," not in line:
                continue
            stamp = line.split(",Trelvik,")[0]
            for k in range(processes):
                out.write(f"{stamp},Package{k % 6},{2000 + k},{30000 + 97 * k},{9000 + 31 * k},"
                          f"/usr/local/packages/Package{k % 6}/bin/worker_{k} --config /etc/package{k % 6}.conf\n")


def text_size(folder):
    return sum(p.stat().st_size for p in folder.rglob("*") if p.is_file())


def export(archive, output):
    """Wall time, the export's own peak resident set (KiB) and its summary line."""
    start = time.monotonic()
    child = subprocess.Popen([str(BUILD / "bin" / "trelvik_session_export"), str(archive), "-o", str(output)],
                             stderr=subprocess.PIPE, text=True)
    stderr = child.stderr.read()
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.monotonic() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(stderr)
    return seconds, usage.ru_maxrss, stderr.strip().splitlines()[-1]


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--days", type=float, default=7)
    ap.add_argument("--processes", type=int, default=30)
    ap.add_argument("--session", help="an existing archive or folder instead of a generated week")
    ap.add_argument("--work", help="a folder for the generated session and the output (kept)")
    args = ap.parse_args()
    work = Path(args.work or tempfile.mkdtemp(prefix="session_export_bench_"))
    work.mkdir(parents=True, exist_ok=True)
    if args.session:
        archive = folder = Path(args.session)
    else:
        archive, folder = generate(work, args.days, args.processes)
    output = work / "session.om.gz"
    seconds, peak_kib, summary = export(archive, output)
    if folder.is_dir():
        print(f"session text: {text_size(folder) / 2**20:.1f} MiB in {folder}")
    print(f"archive: {archive.stat().st_size / 2**20:.1f} MiB")
    print(f"export: {seconds:.2f} s wall, {peak_kib / 1024:.1f} MiB peak resident, "
          f"output {output.stat().st_size / 2**20:.1f} MiB gzipped")
    print(summary)
    if folder.is_dir():
        subprocess.run([str(BUILD / "bench" / "session_metrics_bench"), str(folder), "50"], check=True)
    print(f"kept in {work}")


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""How long the entry program's tail action (the operator page's live charts)
takes on a week-long running session: a generated week of two-minute rounds
(tests/support/gen_session.py) made the running session of a device root,
then `trelvik_cgi` run with QUERY_STRING=action=tail, as the web server runs
it, again and again. Prints the median and the slowest run, process start
included, and the reply's size. Not a test.

    python3 bench/series_tail.py [--days 7] [--runs 50]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent


def lay_out(root, days):
    """A device root whose running session is a generated one of `days` days."""
    storage = root / "var/spool/storage/SD_DISK/Trelvik_ACCC8E000001"
    storage.mkdir(parents=True)
    manifest = json.loads(subprocess.run(
        [sys.executable, str(SOURCE / "tests/support/gen_session.py"), str(storage), "--days", str(days), "--no-top"],
        check=True, capture_output=True, text=True).stdout)
    folder = Path(manifest["folder"])
    localdata = root / "usr/local/packages/Trelvik/localdata"
    localdata.mkdir(parents=True)
    (localdata / "device.conf").write_text("serial_number=ACCC8E000001\nmodel_name=Q6135-LE\nfirmware_version=11.8.64\n"
                                           "full_name=ZURN Q6135-LE Network Camera\napi_user=root\n")
    (localdata / "current_monitoring_session.txt").write_text(
        f"SECS:SD_DISK\nSSPA:{folder.parent}/\nACTI:{folder.name}\nTIME:Sun Dec  6 18:48:53 UTC 2026\n")
    return manifest["rounds"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--days", type=float, default=7)
    parser.add_argument("--runs", type=int, default=50)
    args = parser.parse_args()
    program = Path(os.environ.get("TRELVIK_BUILD_DIR", SOURCE / "build")) / "bin" / "trelvik_cgi"
    with tempfile.TemporaryDirectory(prefix="trelvik-tail-") as work:
        root = Path(work) / "root"
        rounds = lay_out(root, args.days)
        env = {"PATH": os.environ["PATH"], "TRELVIK_DEVICE_ROOT": str(root), "REQUEST_METHOD": "GET",
               "QUERY_STRING": "action=tail"}
        times, reply = [], b""
        for _ in range(args.runs):
            started = time.perf_counter()
            reply = subprocess.run([str(program)], env=env, check=True, capture_output=True).stdout
            times.append((time.perf_counter() - started) * 1000)
        body = reply.split(b"\r\n\r\n", 1)[1]
        tail = json.loads(body)
        print(f"session: {args.days:g} days, {rounds} rounds; reply {len(body)} bytes, {len(tail['load'])} load points")
        print(f"action=tail: median {statistics.median(times):.1f} ms, slowest {max(times):.1f} ms of {args.runs} runs "
              "(process start included)")


if __name__ == "__main__":
    main()

"""The fleet on one machine, and the import a site runs against its own engine.
Run through tools/fleet, which builds the exporter first.

    tools/fleet [--days 2] [--once]
        starts VictoriaMetrics and vmalert on free loopback ports (data under
        fleet-output/), generates sessions for a handful of cameras with
        different anomalies, exports and imports each, checks that nothing was
        dropped, evaluates the alerting rules over the sessions' time and
        prints per camera the alerts that fired and where to query; then
        serves until Ctrl-C (at once with --once) and stops what it started.

    tools/fleet import --url BASE [--query-url URL] [--tz ZONE] ARCHIVE...
        exports each session archive (or folder) and imports it into the
        engine at BASE: a single node (http://host:8428) or a cluster's
        vminsert with its tenant (http://host:8480/insert/0/prometheus);
        --query-url names where stored samples are counted (a single node is
        asked itself; give vmselect's http://host:8481/select/0/prometheus
        for a cluster). Exit status 1 when an archive was refused or lost
        samples.
"""
import argparse
import json
import shutil
import signal
import subprocess
import sys
import time
import urllib.parse
from pathlib import Path

from fleet import engines

OUTPUT = engines.SOURCE_DIR / "fleet-output"
GENERATOR = engines.SOURCE_DIR / "tests" / "support" / "gen_session.py"

# The generated fleet: a serial each (the generator writes one serial for
# all, so each camera's copy is given its own) and the anomalies it carries.
CAMERAS = [
    ("ACCC8E00F001", []),
    ("ACCC8E00F002", ["leak"]),
    ("ACCC8E00F003", ["fragmentation", "load"]),
    ("ACCC8E00F004", ["outage", "reboot"]),
    ("ACCC8E00F005", ["heat", "neterrors", "ifdown"]),
]
GENERATED_SERIAL = "ACCC8E000001"


def say(text=""):
    print(text, flush=True)


def stop_on_sigterm():
    """SIGTERM unwinds like Ctrl-C, so that what was started gets stopped."""
    def interrupt(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupt)


def recent_start(days):
    """A start that puts a generated session's end just behind the present:
    engines and the exporter refuse samples from the future."""
    start = int(time.time() - days * 86400 - 3600) // 3600 * 3600
    return time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(start))


def generate(serial, anomalies, days, seed, folder):
    """One camera's session folder, with its own serial."""
    argv = [sys.executable, str(GENERATOR), str(folder), "--days", str(days), "--seed", str(seed), "--no-top",
            "--start", recent_start(days)]
    for a in anomalies:
        argv += ["--anomaly", a]
    done = subprocess.run(argv, capture_output=True, check=True, text=True)
    manifest = json.loads(done.stdout)
    session = Path(manifest["folder"]).resolve()
    info = session / "Session_Information.txt"
    info.write_bytes(info.read_bytes().replace(GENERATED_SERIAL.encode(), serial.encode()))
    manifest["folder"] = str(session)
    return manifest


def summary_line(result):
    name = Path(result["archive"].rstrip("/")).name
    # Duplicates the export left out (same time, same value) count as
    # dropped too, though nothing is lost with them.
    dropped = "unknown" if result["dropped"] is None else str(result["dropped"] + result["export_dropped"])
    refused = result["refused"] or "no"
    return (f"{name}: {result['series']} series, {result['samples']} samples, "
            f"{dropped} dropped, refused: {refused}")


def fired_alerts(engine, first, last):
    """{serial: [(alertname, labels, first firing, last firing)]} from the
    ALERTS series the replay wrote, read raw through the export API."""
    params = {"match[]": 'ALERTS{alertstate="firing"}', "start": str(int(first)), "end": str(int(last))}
    status, body = engines.http(f"{engine.url}/api/v1/export?{urllib.parse.urlencode(params)}", timeout=120)
    if status != 200:
        raise RuntimeError(f"export of ALERTS: HTTP {status}")
    fired = {}
    for line in body.decode().splitlines():
        row = json.loads(line)
        metric = row["metric"]
        stamps = [t / 1000 for t in row["timestamps"]]
        fired.setdefault(metric.get("serial", "?"), []).append(
            (metric["alertname"], metric, min(stamps), max(stamps)))
    for alerts in fired.values():
        alerts.sort(key=lambda a: (a[2], a[0]))
    return fired


def utc(t):
    return time.strftime("%Y-%m-%d %H:%M", time.gmtime(t))


def run_fleet(args):
    if OUTPUT.exists():
        shutil.rmtree(OUTPUT)
    OUTPUT.mkdir()
    servers = []
    try:
        vm = engines.victoria_metrics(OUTPUT).start()
        servers.append(vm)
        alert = engines.vmalert_live(OUTPUT, vm.url).start()
        servers.append(alert)
        say(f"VictoriaMetrics on {vm.url}, vmalert on {alert.url} (data and logs in {OUTPUT})")
        engine = engines.Engine(vm.url)
        results = []
        for i, (serial, anomalies) in enumerate(CAMERAS, 1):
            say(f"[{i}/{len(CAMERAS)}] {serial}: generating {args.days} days"
                f" ({', '.join(anomalies) or 'no anomaly'})")
            manifest = generate(serial, anomalies, args.days, i, OUTPUT / "sessions" / serial)
            result = engines.import_session(engine, manifest["folder"], OUTPUT / "export" / serial)
            result["camera"], result["anomalies"] = serial, anomalies
            say(f"    {summary_line(result)}; exported in {result.get('export_seconds')} s,"
                f" imported in {result.get('import_seconds')} s")
            results.append(result)
        imported = [r for r in results if not r["refused"]]
        first = min(r["first"] for r in imported)
        last = max(r["last"] for r in imported) + 3600
        say(f"Evaluating {engines.RULES.relative_to(engines.SOURCE_DIR)} over {utc(first)} to {utc(last)} UTC")
        engines.replay_alerts(OUTPUT, vm.url, first, last)
        engine.flush()
        fired = fired_alerts(engine, first, last)
        report(vm, results, fired)
        if not args.once:
            say("\nServing until Ctrl-C.")
            try:
                signal.pause()
            except KeyboardInterrupt:
                pass
        return 0 if all(not r["refused"] and r["dropped"] == 0 for r in results) else 1
    except KeyboardInterrupt:
        return 130
    finally:
        for server in reversed(servers):
            server.stop()
        if servers:
            say("Stopped VictoriaMetrics and vmalert.")


def report(vm, results, fired):
    say("\nPer camera:")
    for r in results:
        say(f"  {r['camera']} ({', '.join(r['anomalies']) or 'no anomaly'}): {r['series']} series,"
            f" {r['samples']} samples, {r['dropped']} dropped")
        alerts = fired.get(r["camera"], [])
        if not alerts:
            say("    no alert fired")
        for name, labels, since, until in alerts:
            which = ", ".join(f"{k}={labels[k]}" for k in ("package", "sensor", "interface") if k in labels)
            say(f"    {name}{' (' + which + ')' if which else ''}: firing {utc(since)} to {utc(until)} UTC")
        if r["refused"]:
            say(f"    refused: {r['refused']}")
    first = min(r["first"] for r in results if not r["refused"])
    last = max(r["last"] for r in results if not r["refused"])
    say(f"\nQuery: {vm.url}/vmui/ (time range {utc(first)} to {utc(last)} UTC), e.g.")
    say(f"  {vm.url}/api/v1/query_range?query=trelvik_memory_bytes&start={int(first)}&end={int(last)}&step=10m")
    say("  Grafana: a Prometheus data source with the URL " + vm.url)


def run_import(args):
    engine = engines.Engine(args.url, args.query_url)
    work = Path(args.work) if args.work else OUTPUT / "import"
    live = sys.stdout.isatty()
    results = []
    started = time.monotonic()
    try:
        for i, archive in enumerate(args.archives, 1):
            if live:
                print(f"\r[{i - 1}/{len(args.archives)}] {Path(archive).name}: exporting and importing…\033[K",
                      end="", flush=True)
            result = engines.import_session(engine, archive, work, args.tz)
            results.append(result)
            # The exporter's closing count is in the summary line already.
            warnings = [w for w in result["export_warnings"].splitlines() if not engines.EXPORTED.search(w)]
            if warnings:
                print(("\r\033[K" if live else "") + "\n".join(warnings), file=sys.stderr, flush=True)
            if live:
                done = sum(r["samples"] for r in results)
                print(f"\r[{i}/{len(args.archives)}] {done} samples, {time.monotonic() - started:.1f} s\033[K",
                      end="", flush=True)
    except KeyboardInterrupt:
        if live:
            print()
        return 130
    if live:
        print()
    for r in results:
        say(summary_line(r))
    lost = any(r["refused"] or r["dropped"] for r in results)
    return 1 if lost else 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="tools/fleet", description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__)
    parser.add_argument("--days", type=float, default=2, help="length of each generated session")
    parser.add_argument("--once", action="store_true", help="stop after the report instead of serving")
    sub = parser.add_subparsers(dest="command")
    imp = sub.add_parser("import", help="export and import session archives into an engine")
    imp.add_argument("--url", required=True, help="the engine's import base URL")
    imp.add_argument("--query-url", help="where stored samples are counted (vmselect for a cluster)")
    imp.add_argument("--tz", help="the cameras' time zone, for sessions that did not record it")
    imp.add_argument("--work", help="folder for the exported files (default fleet-output/import)")
    imp.add_argument("archives", nargs="+", metavar="ARCHIVE")
    args = parser.parse_args(argv)
    stop_on_sigterm()
    if args.command == "import":
        return run_import(args)
    return run_fleet(args)


if __name__ == "__main__":
    sys.exit(main())

"""The time-series engines a fleet's sessions go into, started on loopback for
tools/fleet and the fleet tests, and the export-and-import of one session.

Every server runs from Debian's packages on a free loopback port with its data
under a folder of ours; every process started here is stopped by its pid."""
import gzip
import json
import os
import re
import signal
import socket
import subprocess
import time
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent
RULES = SOURCE_DIR / "fleet" / "rules.yml"

# Archives are old by the time they are imported: the engines must keep
# whatever a camera recorded, whenever. VictoriaMetrics counts in months.
RETENTION_MONTHS = "1200"
# A re-imported archive must not double its samples.
DEDUP_INTERVAL = "1ms"


def exporter_path():
    build = Path(os.environ.get("TRELVIK_BUILD_DIR", SOURCE_DIR / "build"))
    return build / "bin" / "trelvik_session_export"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def http(url, data=None, headers=None, timeout=60):
    """(status, body bytes); status 0 when nothing answered."""
    request = urllib.request.Request(url, data=data, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=timeout) as reply:
            return reply.status, reply.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()
    except (urllib.error.URLError, OSError) as e:
        return 0, str(e).encode()


class Server:
    """One engine process: started with its log under `folder`, ready when
    `ready_path` answers 200, stopped by its own pid."""

    def __init__(self, name, argv, port, folder, ready_path="/health"):
        self.name, self.argv, self.port = name, argv, port
        self.url = f"http://127.0.0.1:{port}"
        self.folder = Path(folder)
        self.ready_path = ready_path
        self.process = None

    def start(self, timeout=60):
        self.folder.mkdir(parents=True, exist_ok=True)
        log = open(self.folder / f"{self.name}.log", "ab")
        self.process = subprocess.Popen(self.argv, stdout=log, stderr=subprocess.STDOUT,
                                        stdin=subprocess.DEVNULL, start_new_session=True)
        log.close()
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise RuntimeError(f"{self.name} exited with status {self.process.returncode}; "
                                   f"see {self.folder / (self.name + '.log')}")
            if http(self.url + self.ready_path, timeout=2)[0] == 200:
                return self
            time.sleep(0.2)
        self.stop()
        raise RuntimeError(f"{self.name} did not answer on {self.url} within {timeout} s")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process = None


def victoria_metrics(folder, port=None):
    port = port or free_port()
    return Server("victoria-metrics", [
        "victoria-metrics", f"-storageDataPath={Path(folder) / 'vm-data'}",
        f"-httpListenAddr=127.0.0.1:{port}", f"-retentionPeriod={RETENTION_MONTHS}",
        f"-dedup.minScrapeInterval={DEDUP_INTERVAL}",
        # Imports land in the past: cached query results would hide them.
        "-search.disableCache",
    ], port, folder)


def vmalert_live(folder, datasource, port=None):
    port = port or free_port()
    return Server("vmalert", [
        "vmalert", f"-rule={RULES}", f"-datasource.url={datasource}",
        f"-remoteWrite.url={datasource}", f"-remoteRead.url={datasource}",
        f"-httpListenAddr=127.0.0.1:{port}", "-notifier.url=http://127.0.0.1:1",
    ], port, folder)


def prometheus(folder, data, port=None):
    port = port or free_port()
    return Server("prometheus", [
        "prometheus", f"--storage.tsdb.path={data}", f"--web.listen-address=127.0.0.1:{port}",
        f"--config.file={write_prometheus_config(folder)}",
        "--storage.tsdb.retention.time=100y",
    ], port, folder, ready_path="/-/ready")


def write_prometheus_config(folder):
    path = Path(folder) / "prometheus.yml"
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("global:\n  scrape_interval: 1m\n")
    return path


def replay_alerts(folder, datasource, time_from, time_to):
    """Evaluates the rules over [time_from, time_to] (seconds) as vmalert
    would have live, writing the alerts' ALERTS series into `datasource`."""
    fmt = lambda t: time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(t))
    argv = ["vmalert", f"-rule={RULES}", f"-datasource.url={datasource}",
            f"-remoteWrite.url={datasource}", f"-replay.timeFrom={fmt(time_from)}",
            f"-replay.timeTo={fmt(time_to)}", "-replay.disableProgressBar",
            "-replay.rulesDelay=0s", f"-httpListenAddr=127.0.0.1:{free_port()}"]
    Path(folder).mkdir(parents=True, exist_ok=True)
    with open(Path(folder) / "vmalert-replay.log", "ab") as log:
        status = subprocess.run(argv, stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                timeout=900).returncode
    if status != 0:
        raise RuntimeError(f"vmalert replay exited with status {status}; see {folder}/vmalert-replay.log")


class Engine:
    """A Prometheus-compatible engine reached by URL: the import path of a
    single node or of a cluster's vminsert (`…/insert/<tenant>/prometheus`),
    and where it is queried (the same single node, or vmselect)."""

    def __init__(self, url, query_url=None):
        self.url = url.rstrip("/")
        cluster = "/insert/" in self.url
        self.query_url = (query_url or ("" if cluster else self.url)).rstrip("/")
        # Counters of refused rows live on the process's own /metrics.
        parts = urllib.parse.urlsplit(self.url)
        self.metrics_url = f"{parts.scheme}://{parts.netloc}/metrics"

    def rows_ignored(self):
        """Sum of vm_rows_ignored_total by reason, or None when not told."""
        status, body = http(self.metrics_url, timeout=10)
        if status != 200:
            return None
        total = {}
        for line in body.decode(errors="replace").splitlines():
            m = re.match(r'vm_rows_ignored_total\{reason="([^"]+)"\} (\d+)', line)
            if m:
                total[m.group(1)] = total.get(m.group(1), 0) + int(m.group(2))
        # A process that does not count them (vminsert) tells nothing.
        return total or None

    def flush(self):
        # Only a single node has it; a cluster makes rows searchable within seconds.
        http(self.url + "/internal/force_flush", timeout=30)

    def import_gzip(self, payload):
        return http(self.url + "/api/v1/import/prometheus", data=payload,
                    headers={"Content-Encoding": "gzip", "Content-Type": "text/plain"}, timeout=600)

    def query(self, promql, at):
        if not self.query_url:
            return None
        params = urllib.parse.urlencode({"query": promql, "time": f"{at}"})
        status, body = http(f"{self.query_url}/api/v1/query?{params}", timeout=120)
        if status != 200:
            raise RuntimeError(f"query {promql!r}: HTTP {status}: {body[:200]!r}")
        return json.loads(body)["data"]["result"]

    def stored_samples(self, serial, session, first, last):
        """Samples stored for one session between first and last (seconds)."""
        window = int(last - first) + 2
        result = self.query(f'sum(count_over_time({{serial="{serial}",session="{session}"}}[{window}s]))',
                            last + 1)
        if result is None:
            return None
        return int(float(result[0]["value"][1])) if result else 0


class Summary:
    """What one export holds: series, samples, time range and identity.
    Relies on the exporter's order: each series' samples together and in
    time order, so only the first and last of each are looked at."""

    LABELS = re.compile(rb'(\w+)="((?:[^"\\]|\\.)*)"')

    def __init__(self):
        self.series = set()
        self.samples = 0
        self.first = self.last = None
        self.serial = self.session = None
        self._current = None
        self._stamp = None

    def add(self, line):
        if not line or line[:1] == b"#":
            return
        head, _, stamp = line.rpartition(b" ")
        series = head.rpartition(b" ")[0]
        self.samples += 1
        if series != self._current:
            self._close()
            self._current = series
            self.series.add(series)
            self._extend(float(stamp))
            if self.serial is None:
                labels = dict(self.LABELS.findall(series))
                self.serial = labels.get(b"serial", b"").decode()
                self.session = labels.get(b"session", b"").decode()
        self._stamp = stamp

    def finish(self):
        self._close()
        return self

    def _close(self):
        if self._stamp is not None:
            self._extend(float(self._stamp))

    def _extend(self, t):
        self.first = t if self.first is None else min(self.first, t)
        self.last = t if self.last is None else max(self.last, t)


# The exporter's closing line counts what it left out.
EXPORTED = re.compile(r"Exported .*: \d+ series, \d+ samples, (\d+) duplicates dropped")


def export(archive, out, tz=None):
    """Runs the exporter into `out` (.om.gz); (ok, its standard error)."""
    argv = [str(exporter_path()), str(archive), "-o", str(out)]
    if tz:
        argv[2:2] = ["--tz", tz]
    done = subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=600)
    return done.returncode == 0, done.stderr.decode(errors="replace").strip()


def summarize(path):
    summary = Summary()
    with gzip.open(path, "rb") as f:
        for line in f:
            summary.add(line.rstrip(b"\n"))
    return summary.finish()


def settled_count(engine, summary, patience=30):
    """Stored samples of the export's session once all of them are seen, or
    the count after `patience` seconds: even after a flush the engine may
    take a moment to make a large import searchable."""
    deadline = time.monotonic() + patience
    while True:
        stored = engine.stored_samples(summary.serial, summary.session, summary.first, summary.last)
        if stored is None or stored >= summary.samples or time.monotonic() > deadline:
            return stored
        time.sleep(0.5)
        engine.flush()


def import_session(engine, archive, work, tz=None):
    """Exports one archive and imports it; a dict with series, samples,
    dropped (rows the engine ignored or did not store; None when the engine
    cannot be asked), export_dropped (duplicates the export left out) and
    refused (why, or None)."""
    work = Path(work)
    work.mkdir(parents=True, exist_ok=True)
    out = work / (Path(str(archive).rstrip("/")).name.removesuffix(".zip") + ".om.gz")
    result = {"archive": str(archive), "series": 0, "samples": 0, "dropped": None, "export_dropped": 0, "refused": None,
              "export_warnings": "", "file": str(out)}
    started = time.monotonic()
    ok, warnings = export(archive, out, tz)
    result["export_seconds"] = round(time.monotonic() - started, 2)
    result["export_warnings"] = warnings
    if not ok:
        last = warnings.splitlines()[-1] if warnings else "the exporter failed"
        result["refused"] = last.removeprefix(exporter_path().name + ": ")
        return result
    counted = EXPORTED.search(warnings)
    result["export_dropped"] = int(counted.group(1)) if counted else 0
    summary = summarize(out)
    result.update(series=len(summary.series), samples=summary.samples, serial=summary.serial,
                  session=summary.session, first=summary.first, last=summary.last)
    ignored_before = engine.rows_ignored()
    started = time.monotonic()
    status, body = engine.import_gzip(out.read_bytes())
    if status not in (200, 204):
        result["refused"] = f"HTTP {status}: {body.decode(errors='replace').strip()[:200]}"
        return result
    result["import_seconds"] = round(time.monotonic() - started, 2)
    engine.flush()
    ignored_after = engine.rows_ignored()
    ignored = None
    if ignored_before is not None and ignored_after is not None:
        ignored = sum(ignored_after.values()) - sum(ignored_before.values())
    stored = settled_count(engine, summary) if summary.samples else 0
    if stored is not None:
        result["stored"] = stored
        # More stored than sent means an earlier copy without deduplication,
        # never a loss; fewer is a loss whatever the counters say.
        result["dropped"] = max(ignored or 0, summary.samples - stored)
    elif ignored is not None:
        result["dropped"] = ignored
    return result

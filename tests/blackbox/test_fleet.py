"""Sessions into the real engines, end to end: generated sessions exported,
imported into VictoriaMetrics (twice) and backfilled into Prometheus, then
asked over their HTTP APIs what the generator put in; the alerting rules
evaluated by vmalert over the sessions' time; tools/fleet's import and its
stop on SIGTERM; a running session on the emulated camera scraped by the
real vmagent. Every server runs on a free loopback port and is stopped by
the test."""
import gzip
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import urllib.parse
from pathlib import Path

import pytest

from emulator.camera import wait_until
from emulator.device import populate
from emulator.web import SERIAL, WebServer
from fleet import engines, fleet

SOURCE = engines.SOURCE_DIR
GENERATOR = SOURCE / "tests" / "support" / "gen_session.py"

# The generator's figures: a 4096 kB/h leak in one package's resident memory
# (and so in AnonPages), eth0 receiving 180,000 bytes a second.
LEAK_BYTES_PER_HOUR = 4096 * 1024
ETH0_RX_BYTES_PER_SECOND = 180000

ANOMALIES = ["leak", "reboot", "outage", "neterrors"]
OTHERS = ["fragmentation", "load", "heat", "ifdown"]
# The alerts each anomaly must fire, and nothing else.
FIRES = {
    "leak": {"TrelvikMemoryFalling", "TrelvikPackageMemoryGrowing"},
    "reboot": {"TrelvikDeviceRestarted"},
    "outage": {"TrelvikSamplingGap"},
    "neterrors": {"TrelvikNetworkErrors"},
    "fragmentation": {"TrelvikNormalZoneFragmented"},
    "load": {"TrelvikLoadAboveCpuCount"},
    "heat": {"TrelvikSensorHot", "TrelvikHeatWithFailedFan"},
    "ifdown": {"TrelvikInterfaceVanished"},
}


def generate(folder, serial, anomalies, seed):
    argv = [sys.executable, str(GENERATOR), str(folder), "--days", "2", "--seed", str(seed), "--no-top", "--zip",
            "--start", fleet.recent_start(2)]
    for a in anomalies:
        argv += ["--anomaly", a]
    manifest = json.loads(subprocess.run(argv, capture_output=True, check=True, text=True).stdout)
    if serial != "ACCC8E000001":
        # Another camera: its own serial, and its archive rewritten to match.
        session = Path(manifest["folder"])
        info = session / "Session_Information.txt"
        info.write_bytes(info.read_bytes().replace(b"ACCC8E000001", serial.encode()))
        Path(manifest["archive"]).unlink()
        subprocess.run(["zip", "--recurse-paths", "-q", session.name + ".zip", session.name],
                       cwd=session.parent, check=True)
    return manifest


@pytest.fixture(scope="module")
def work(tmp_path_factory):
    return tmp_path_factory.mktemp("fleet")


@pytest.fixture(scope="module")
def sessions(work):
    """The anomalous session, one with the other anomalies, a clean one,
    each exported once."""
    out = {}
    for name, serial, anomalies, seed in (("anomalies", "ACCC8E000001", ANOMALIES, 1),
                                          ("others", "ACCC8E00F0F0", OTHERS, 2),
                                          ("clean", "ACCC8E00C1EA", [], 3)):
        manifest = generate(work / name, serial, anomalies, seed)
        exported = work / f"{name}.om.gz"
        ok, warnings = engines.export(manifest["archive"], exported)
        assert ok, warnings
        manifest["export"] = exported
        manifest["summary"] = engines.summarize(exported)
        manifest["anomaly_names"] = anomalies
        out[name] = manifest
    return out


@pytest.fixture(scope="module")
def victoria(work, sessions):
    server = engines.victoria_metrics(work / "vm").start()
    try:
        engine = engines.Engine(server.url)
        for name in ("anomalies", "others", "clean"):
            result = engines.import_session(engine, sessions[name]["archive"], work / "vm-import")
            assert result["refused"] is None, result
        yield engine
    finally:
        server.stop()


@pytest.fixture(scope="module")
def prometheus(work, sessions):
    data = work / "prometheus-data"
    text = work / "anomalies.om"
    with gzip.open(sessions["anomalies"]["export"], "rb") as src, open(text, "wb") as dst:
        shutil.copyfileobj(src, dst)
    subprocess.run(["promtool", "tsdb", "create-blocks-from", "openmetrics", "--max-block-duration=24h",
                    str(text), str(data)], check=True, capture_output=True, timeout=600)
    server = engines.prometheus(work / "prometheus", data).start()
    try:
        yield engines.Engine(server.url)
    finally:
        server.stop()


def query(engine, promql, at):
    return {tuple(sorted(r["metric"].items())): float(r["value"][1]) for r in engine.query(promql, at)}


def one_value(engine, promql, at):
    values = list(query(engine, promql, at).values())
    assert len(values) == 1, (promql, values)
    return values[0]


def range_points(engine, promql, start, end, step):
    params = urllib.parse.urlencode({"query": promql, "start": start, "end": end, "step": step})
    status, body = engines.http(f"{engine.query_url}/api/v1/query_range?{params}")
    assert status == 200, body
    result = json.loads(body)["data"]["result"]
    assert len(result) == 1, result
    return [float(t) for t, _ in result[0]["values"]]


def anomaly(manifest, name):
    return next(a for a in manifest["anomalies"] if a["anomaly"] == name)


def test_a_second_import_stores_nothing_twice_and_nothing_is_dropped(victoria, sessions, work):
    manifest = sessions["anomalies"]
    summary = manifest["summary"]
    for _ in range(2):
        result = engines.import_session(victoria, manifest["archive"], work / "vm-again")
        assert result["refused"] is None
        assert (result["series"], result["samples"]) == (len(summary.series), summary.samples)
        assert result["stored"] == summary.samples
        assert result["dropped"] == 0
    assert sum(victoria.rows_ignored().values()) == 0
    window = int(summary.last - summary.first) + 2
    series = one_value(victoria, f'count(last_over_time({{serial="{summary.serial}",'
                                 f'session="{summary.session}"}}[{window}s]))', summary.last + 1)
    assert series == len(summary.series)


@pytest.mark.parametrize("engine_name", ["victoria", "prometheus"])
def test_both_engines_answer_what_was_generated(engine_name, request, sessions):
    engine = request.getfixturevalue(engine_name)
    manifest = sessions["anomalies"]
    summary = manifest["summary"]
    end = summary.last
    sel = f'serial="{summary.serial}",session="{summary.session}"'

    # Every exported sample is there: both engines drop some without a word.
    # Raw samples are counted here, as Prometheus' count_over_time would
    # need the metric names that it drops.
    window = int(end - summary.first) + 2
    raw = engine.query(f"{{{sel}}}[{window}s]", end + 1)
    assert sum(len(series["values"]) for series in raw) == summary.samples
    assert len(raw) == len(summary.series)

    # The leak, in the package that leaks and in the kernel's anonymous pages.
    for series in (f'trelvik_package_resident_memory_bytes{{{sel},package="Acme"}}',
                   f'trelvik_memory_bytes{{{sel},key="AnonPages"}}'):
        slope = one_value(engine, f"deriv({series}[6h]) * 3600", end)
        assert slope == pytest.approx(LEAK_BYTES_PER_HOUR, rel=0.05), series

    # One restart: the since-boot counters reset once in the whole session.
    window = int(end - summary.first) + 60
    assert one_value(engine, f'resets(trelvik_page_faults_minor_total{{{sel}}}[{window}s])',
                     end) == 1

    # The outage: rounds before and after it, none within it (past the
    # five-minute lookback).
    outage = anomaly(manifest, "outage")
    points = range_points(engine, f'trelvik_memory_bytes{{{sel},key="MemTotal"}}',
                          outage["from"] - 3600, outage["to"] + 3600, 120)
    assert any(t < outage["from"] for t in points) and any(t > outage["to"] for t in points)
    assert not [t for t in points if outage["from"] + 300 < t < outage["to"]]

    # The interface's rate, away from the restart and the outage.
    before = anomaly(manifest, "neterrors")["from"]
    rate = one_value(engine, f'rate(trelvik_network_receive_bytes_total{{{sel},interface="eth0"}}[10m])', before)
    assert rate == pytest.approx(ETH0_RX_BYTES_PER_SECOND, rel=0.01)


def fired(engine, session, first, last):
    params = urllib.parse.urlencode({"match[]": f'ALERTS{{alertstate="firing",session="{session}"}}',
                                     "start": int(first), "end": int(last)})
    status, body = engines.http(f"{engine.url}/api/v1/export?{params}")
    assert status == 200, body
    by_serial = {}
    for line in body.decode().splitlines():
        metric = json.loads(line)["metric"]
        by_serial.setdefault(metric["serial"], set()).add(metric["alertname"])
    return by_serial


def test_vmalert_fires_exactly_the_injected_anomalies(victoria, sessions, work):
    first = min(m["start"] for m in sessions.values())
    last = max(m["end"] for m in sessions.values()) + 3600
    engines.replay_alerts(work / "vmalert", victoria.url, first, last)
    victoria.flush()
    got = fired(victoria, sessions["clean"]["summary"].session, first, last)
    for name, manifest in sessions.items():
        expected = set().union(*(FIRES[a] for a in manifest["anomaly_names"])) if manifest["anomaly_names"] else set()
        assert got.get(manifest["summary"].serial, set()) == expected, name


def fleet_command(*args, **kwargs):
    env = dict(os.environ, PYTHONPATH=str(SOURCE))
    return subprocess.Popen([sys.executable, "-m", "fleet.fleet", *args], cwd=SOURCE, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, **kwargs)


def test_fleet_import_reports_each_archive_and_refuses_what_is_no_session(victoria, sessions, work):
    not_a_session = work / "not_a_session.zip"
    not_a_session.write_bytes(b"PK\x05\x06" + bytes(18))
    archives = [sessions["clean"]["archive"], str(not_a_session)]
    process = fleet_command("import", "--url", victoria.url, "--work", str(work / "cli"), *archives)
    out, err = process.communicate(timeout=600)
    assert process.returncode == 1, err
    lines = out.splitlines()
    summary = sessions["clean"]["summary"]
    assert lines[0] == (f"{Path(archives[0]).name}: {len(summary.series)} series, {summary.samples} samples, "
                        "0 dropped, refused: no")
    assert lines[1].startswith("not_a_session.zip: 0 series, 0 samples, unknown dropped, refused: Refused ")
    assert len(lines) == 2


def test_fleet_stops_its_servers_on_sigterm():
    process = fleet_command("--days", "0.1")
    started = time.monotonic()
    out = []
    for line in process.stdout:
        out.append(line)
        if line.startswith("Serving until Ctrl-C"):
            break
        assert time.monotonic() - started < 600, "".join(out)
    urls = [word.rstrip(",") for line in out for word in line.split() if word.startswith("http://127.0.0.1:")]
    assert urls, "".join(out)
    process.send_signal(signal.SIGTERM)
    rest, err = process.communicate(timeout=60)
    assert "Stopped VictoriaMetrics and vmalert." in rest, err
    for url in set(urls[:2]):
        assert engines.http(url.split("/vmui")[0] + "/health", timeout=2)[0] == 0


# Short package scripts, as in the session golden test.
SCRIPTS = {"TRELVIK_SCRIPT_SAMPLES": "2", "TRELVIK_SCRIPT_INTERVAL": "1"}
VMAGENT_CONFIG = """global:
  scrape_interval: 5s
scrape_configs:
  - job_name: trelvik
    metrics_path: /cgi-bin/trelvik.cgi
    params: {{action: [metrics]}}
    honor_timestamps: true
    basic_auth: {{username: "{user}", password_file: "{password_file}"}}
    static_configs: [{{targets: ["127.0.0.1:{port}"]}}]
    # The archive's series carry no scrape target: neither may the scraped.
    metric_relabel_configs:
      - action: labeldrop
        regex: "job|instance"
"""


def samples_of_export(text):
    """{(name, labels...): {second: value}} of an OpenMetrics text."""
    out = {}
    for line in text.splitlines():
        if line.startswith("#"):
            continue
        head, value, stamp = line.rsplit(" ", 2)
        labels = tuple(sorted(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', head)))
        out.setdefault((head.split("{", 1)[0],) + labels, {})[int(float(stamp))] = float(value)
    return out


def samples_of_victoria(engine, match):
    params = urllib.parse.urlencode({"match[]": match})
    status, body = engines.http(f"{engine.url}/api/v1/export?{params}")
    assert status == 200, body
    out = {}
    for line in body.decode().splitlines():
        row = json.loads(line)
        metric = dict(row["metric"])
        name = metric.pop("__name__")
        key = (name,) + tuple(sorted(metric.items()))
        out[key] = {t // 1000: v for t, v in zip(row["timestamps"], row["values"])}
    return out


def test_vmagent_scrapes_a_running_session_as_it_is_exported(camera, tmp_path):
    populate(camera)
    web = WebServer(camera).start()
    servers = [web]
    daemon = None
    try:
        vm = engines.victoria_metrics(tmp_path / "vm").start()
        servers.append(vm)
        engine = engines.Engine(vm.url)
        password_file = tmp_path / "web_password"
        password_file.write_text(web.password)
        password_file.chmod(0o600)
        config = tmp_path / "vmagent.yml"
        config.write_text(VMAGENT_CONFIG.format(user=web.user, password_file=password_file, port=web.port))
        agent_port = engines.free_port()
        agent = engines.Server("vmagent", [
            "vmagent", f"-promscrape.config={config}", f"-remoteWrite.url={vm.url}/api/v1/write",
            f"-remoteWrite.tmpDataPath={tmp_path / 'vmagent-data'}", f"-httpListenAddr=127.0.0.1:{agent_port}",
        ], agent_port, tmp_path / "vmagent").start()
        servers.append(agent)

        result = camera.run("begin_monitor_session", "SD_DISK", SERIAL, "Q6135-LE", "11.8.64", camera.api_user,
                            stdin=camera.api_password.encode() + b"\n")
        assert result.stdout.endswith(b"Session started."), result
        state = dict(line.split(":", 1) for line in camera.state_file.read_text().splitlines())
        session = Path(state["SSPA"] + state["ACTI"])
        daemon = camera.spawn("trelvik_daemon", SERIAL, "ZURN Q6135-LE", "Network Camera", camera.api_user,
                              env=SCRIPTS, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
        daemon.stdin.write(camera.api_password.encode() + b"\n")
        daemon.stdin.close()
        # Two rounds, each scraped a few times.
        info = session / "Session_Information.txt"
        wait_until(lambda: b"Collected Data Points: 2\n" in info.read_bytes(), "two sampling rounds", timeout=400)
        labels = f'serial="{SERIAL}",session="{session.name}"'
        mem_total = f'trelvik_memory_bytes{{key="MemTotal",{labels}}}'

        def second_round_stored():
            engine.flush()
            return any(len(v) == 2 for v in samples_of_victoria(engine, mem_total).values())
        wait_until(second_round_stored, "the second round in VictoriaMetrics", timeout=60)
        # The package scripts' rows of the round, scraped too.
        time.sleep(10)
        agent.stop()
        servers.remove(agent)
        engine.flush()

        export = subprocess.run([camera.program("trelvik_session_export"), str(session), "-o", "-"],
                                capture_output=True, text=True, timeout=60)
        assert export.returncode == 0, export.stderr
        exported = samples_of_export(export.stdout)
        scraped = samples_of_victoria(engine, f"{{{labels}}}")
        live_only = {k for k in scraped if k[0] in ("trelvik_session_active", "trelvik_session_data_points")}
        assert {k[0] for k in live_only} == {"trelvik_session_active", "trelvik_session_data_points"}
        rows = {k: v for k, v in scraped.items() if k not in live_only}
        assert set(rows) == set(exported)
        differ = {k: (v, {t: exported[k].get(t) for t in v}) for k, v in rows.items()
                  if any(exported[k].get(t) != pytest.approx(x, rel=1e-12) for t, x in v.items())}
        assert differ == {}
        rounds = rows[("trelvik_memory_bytes", ("key", "MemTotal"), ("serial", SERIAL), ("session", session.name))]
        assert len(rounds) == 2
    finally:
        if daemon is not None:
            daemon.terminate()
            daemon.wait(timeout=10)
        for server in reversed(servers):
            server.stop()

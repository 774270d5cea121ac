"""The CSV collectors and snapshots of lib/collect/filehandler on the emulated camera,
called through tests/support/driver_collectors on a session folder."""
import json
import re
import subprocess
import time
import uuid
import zipfile
from pathlib import Path

from emulator.camera import build_dir, wait_until

FIXTURES = Path(__file__).resolve().parents[1] / "fixtures" / "collectors"
STAMP = re.compile(rb"\d{4}-\d{2}-\d{2},\d{2}:\d{2}:\d{2}")
FOLDERS = ("monitoring_network", "monitoring_streams", "monitoring_meminfo", "monitoring_load",
           "monitoring_vmstatus", "monitoring_basic/Server_Reports")
NET_HEADER = (b"Date, Time, Receive: bytes, compressed, drop, errs, fifo, frame, multicast, packets, "
              b"Transmit: bytes, carrier, colls, compressed, drop, errs, fifo, packets, "
              b"Failed packages total (receive), Failed packages total (transmit)\n")


class Driver:
    """One driver process: collector state (the previous eth0 sample, the
    load flag) lives as long as it does."""

    def __init__(self, camera):
        self.proc = subprocess.Popen([str(build_dir() / "tests" / "driver_collectors")], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=camera.env(),
                                     cwd=camera.workdir)
        self.output = b""

    def __call__(self, *fields):
        self.proc.stdin.write(("\t".join(str(f) for f in fields) + "\n").encode())
        self.proc.stdin.flush()
        while (line := self.proc.stdout.readline()) != b"done\n":
            assert line, f"driver ended early: {self.proc.stderr.read()!r}"
            self.output += line

    def close(self):
        out, err = self.proc.communicate(b"", timeout=60)
        self.output += out
        assert self.proc.returncode == 0, err
        return err


def make_session(base):
    session = Path(base) / "20261208_05_20_00"
    for folder in FOLDERS:
        (session / "system_monitoring" / folder).mkdir(parents=True)
    return session


def edge_session(camera):
    return make_session(camera.add_edge_storage("SD_DISK") / "Trelvik_ACCC8E000001")


def read(session, folder, name):
    return STAMP.sub(b"D,T", (session / "system_monitoring" / folder / name).read_bytes())


def test_network_eight_interfaces_rate_from_second_call(camera):
    session = edge_session(camera)
    camera.write_proc("net/dev", (FIXTURES / "net_dev_8_interfaces.txt").read_text())
    driver = Driver(camera)
    driver("net_dev", session)  # no rate yet: no network.csv
    assert sorted(p.name for p in (session / "system_monitoring" / "monitoring_network").iterdir()) == sorted(
        f"{name}.csv" for name in ("lo", "eth0", "sit0", "usb0", "wlan0", "dummy0", "eth0.100", "br0"))
    driver("net_dev", session)
    driver.close()
    eth0_row = b"D,T,3148912305,0,12,3,0,1,20993,4113587,98731520114,0,0,0,5,0,0,70551904,16,5\n"
    assert read(session, "monitoring_network", "eth0.csv") == NET_HEADER + eth0_row * 2
    br0_row = b"D,T,77,0,0,0,0,0,0,1,0,0,0,0,0,0,0,0,0,0\n"
    assert read(session, "monitoring_network", "br0.csv") == NET_HEADER + br0_row * 2
    assert read(session, "monitoring_network", "network.csv") == (
        b"Date,Time,Network Bandwidth (Mbit/s)\r\nD,T,0.0 Mbit/s\r\n")


def test_host_files_and_a_meminfo_key_mid_session(camera):
    host = edge_session(camera)
    driver = Driver(camera)
    for command in ("net_dev", "meminfo", "load", "load"):
        driver(command, host)
    lo = read(host, "monitoring_network", "lo.csv")
    assert lo.startswith(NET_HEADER) and re.fullmatch(rb"D,T(,\d+){18}\n", lo[len(NET_HEADER):])
    assert re.fullmatch(rb"Date,Time,Memory MemTotal \(kB\)\r\nD,T,\d+\r\n",
                        read(host, "monitoring_meminfo", "MemTotal.csv"))
    assert re.fullmatch(rb"Date,Time,Load average \(1 min\),Load average \(5 min\),Load average \(15 min\)\r\n"
                        rb"(D,T,\d+\.\d\d,\d+\.\d\d,\d+\.\d\d\r\n){2}", read(host, "monitoring_load", "load.csv"))

    session = make_session(camera.localdata)
    camera.write_proc("meminfo", "MemTotal:        1012508 kB\n")
    driver("meminfo", session)
    camera.write_proc("meminfo", "MemTotal:        1012508 kB\nHugePages_Total:       0\n")
    driver("meminfo", session)
    driver.close()
    assert read(session, "monitoring_meminfo", "HugePages_Total.csv") == (
        b"Date,Time,Memory HugePages_Total (kB)\r\nD,T,0\r\n")
    assert read(session, "monitoring_meminfo", "MemTotal.csv") == (
        b"Date,Time,Memory MemTotal (kB)\r\nD,T,1012508\r\nD,T,1012508\r\n")


def test_streams_through_real_dbus_send(camera):
    session = edge_session(camera)
    camera.start_service("streamer", {"streams": ["resolution=1920x1080&fps=30", "camera=1&videocodec=h264"]})
    driver = Driver(camera)
    driver("streams", session)
    for streams in (['say "hi"'], []):
        camera.call_mock("streamer", "SetStreams", json.dumps(streams))
        driver("streams", session)
    camera.stop_service("streamer")
    driver("streams", session)  # dbus-send fails on its error output; no strings
    driver.close()
    assert read(session, "monitoring_streams", "stream.csv") == (
        b"Date,Time,Streams\r\n"
        b"D,T, camera=1&videocodec=h264 + resolution=1920x1080&fps=30 \r\n"
        b"D,T, say  hi  \r\n"
        b"D,T,No streams \r\n"
        b"D,T,No streams \r\n")


def test_shellscript_invoker_starts_one_quiet_instance(camera):
    folder = edge_session(camera) / "system_monitoring" / "monitoring_vmstatus"
    name = f"probe_{uuid.uuid4().hex[:8]}_monitoring.sh"  # unique: ps lists every process of the machine
    script = camera.package / "shell" / name
    # Records its start and stays up until told to stop.
    script.write_text('#!/bin/sh\necho started >> "$1/starts"\necho probe-out\necho probe-err >&2\n'
                      'i=0\nwhile [ ! -e "$1/stop" ] && [ $i -lt 600 ]; do sleep 0.1; i=$((i+1)); done\n')
    script.chmod(0o755)
    driver = Driver(camera)
    driver("invoke", folder, name, 1)
    wait_until(lambda: (folder / "starts").exists(), "the script's start")
    driver("invoke", folder, name, 1)
    assert (folder / "starts").read_text() == "started\n"
    assert f"ps_grep_and_check_if_included('Trelvik', '{name}') return false" in camera.log_texts("debug")
    (folder / "stop").touch()
    err = driver.close()  # waits for the script too if it holds the driver's output
    assert b"probe" not in driver.output + err


def test_server_reports_edge_and_internal_with_hostile_password(camera):
    password = "p\"a$s`w\\o'rd $(touch pwned) ; echo x &"
    camera.set_api_credentials("operator", password)
    camera.set_api_route("/zurn-cgi/serverreport.cgi", "Server report\nline 2\n")
    edge, internal = edge_session(camera), make_session(camera.localdata)
    driver = Driver(camera)
    for session, storage in ((edge, "SD_DISK"), (internal, ""), (edge, "SD_DISK"), (internal, "")):
        driver("serverreport", session, storage, "operator", password)
        start = int(time.time())  # report names carry the second
        wait_until(lambda: int(time.time()) != start, "the next second", timeout=5)
    driver.close()
    edge_reports = sorted((edge / "system_monitoring/monitoring_basic/Server_Reports").iterdir())
    assert len(edge_reports) == 2
    for report in edge_reports:
        assert re.fullmatch(r"Server_Report_\d{4}-\d\d-\d\dT\d{6}[A-Z+\-0-9]+\.txt", report.name)
        assert report.read_text() == "Server report\nline 2\n"
    reports = internal / "system_monitoring/monitoring_basic/Server_Reports"
    assert [p.name for p in reports.iterdir()] == ["Server_Reports.zip"]
    with zipfile.ZipFile(reports / "Server_Reports.zip") as archive:
        names = archive.namelist()
        assert len(names) == 2 and all(archive.read(n) == b"Server report\nline 2\n" for n in names)
    size = (reports / "Server_Reports.zip").stat().st_size
    infos = [t for t in camera.log_texts("info") if t.startswith("System Monitoring Session Storage Consumption")]
    assert len(infos) == 2
    assert infos[-1] == f"System Monitoring Session Storage Consumption on Internal Storage -> {size} B."
    assert not (camera.workdir / "pwned").exists()
    assert not any(password in t for t in camera.log_texts())

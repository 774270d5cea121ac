"""The camera's time zone recorded by begin_monitor_session, and the web
entry's action=metrics during a real session on the emulated camera: the
scraped round is, line for line, in the export of the same session folder,
under the same series."""
import datetime
import subprocess
import zoneinfo
from pathlib import Path

import pytest

from emulator.device import populate
from test_session_golden import PROC, SERIAL, first_round

ZONE = "Europe/Stockholm"
FACTS = {"serial_number": SERIAL, "model_name": "Q6135-LE", "firmware_version": "11.8.64",
         "full_name": "ZURN Q6135-LE", "api_user": "root"}


def offset_now(zone):
    minutes = int(datetime.datetime.now(zoneinfo.ZoneInfo(zone)).utcoffset().total_seconds()) // 60
    return f"{'-' if minutes < 0 else '+'}{abs(minutes) // 60:02d}{abs(minutes) % 60:02d}"


def begin(camera, env=None):
    result = camera.run("begin_monitor_session", "SD_DISK", SERIAL, "Q6135-LE", "11.8.64", "root",
                        stdin=b"pass\n", env=env)
    assert result.stdout.endswith(b"Session started."), result
    state = dict(line.split(":", 1) for line in camera.state_file.read_text().splitlines())
    return Path(state["SSPA"] + state["ACTI"])


def scrape(camera):
    (camera.localdata / "device.conf").write_text("".join(f"{k}={v}\n" for k, v in FACTS.items()))
    env = {"QUERY_STRING": "action=metrics", "REQUEST_METHOD": "GET", "GATEWAY_INTERFACE": "CGI/1.1"}
    reply = camera.run("trelvik_cgi", env=env).stdout.decode()
    header, body = reply.split("\r\n\r\n", 1)
    assert "Content-Type: application/openmetrics-text; version=1.0.0; charset=utf-8" in header
    assert body.endswith("# EOF\n")
    return body


def test_begin_records_the_zone_from_tz_timezone_file_or_link(camera, monkeypatch):
    populate(camera)
    monkeypatch.delenv("TZ", raising=False)
    # TZ first (a POSIX rule names no zone), then the device's files. The
    # offset is the C library's, the one the rows are written in: only with
    # TZ is it the named zone's on this host.
    cases = [({"TZ": f":{ZONE}"}, None, None, ZONE, offset_now(ZONE)),
             ({"TZ": "/usr/share/zoneinfo/Asia/Kolkata"}, None, None, "Asia/Kolkata", "+0530"),
             ({"TZ": "<+03>-3"}, "America/New_York\n", None, "America/New_York", "+0300"),
             ({}, None, "../usr/share/zoneinfo/posix/Asia/Tokyo", "Asia/Tokyo", None)]
    etc = camera.root / "etc"
    etc.mkdir(exist_ok=True)
    for extra, timezone_file, link, zone, offset in cases:
        for path in (etc / "timezone", etc / "localtime"):
            if path.is_symlink() or path.exists():
                path.unlink()
        if timezone_file:
            (etc / "timezone").write_text(timezone_file)
        if link:
            (etc / "localtime").symlink_to(link)
        session = begin(camera, extra)
        text = (session / "Session_TimeZone.txt").read_text()
        assert text.startswith(f"Zone: {zone}\nUTC offset: ") and text.count("\n") == 2, text
        if offset:
            assert text == f"Zone: {zone}\nUTC offset: {offset}\n"
        camera.state_file.unlink()


def test_metrics_during_a_session_are_the_exported_series(camera):
    populate(camera)
    for name, text in PROC.items():
        camera.write_proc(name, text)
    assert "trelvik_session_active{serial=\"ACCC8E000001\"} 0\n" in scrape(camera)
    zone = {"TZ": f":{ZONE}"}
    session = begin(camera, zone)
    first_round(camera, zone)

    body = scrape(camera)
    export = subprocess.run([camera.program("trelvik_session_export"), str(session), "-o", "-"],
                            capture_output=True, text=True, timeout=60)
    assert export.returncode == 0, export.stderr
    exported = set(export.stdout.splitlines())
    labels = f'serial="{SERIAL}",session="{session.name}"'
    scraped = [line for line in body.splitlines() if not line.startswith("#")]
    live_only = [line for line in scraped if line.startswith(("trelvik_session_active", "trelvik_session_data_points"))]
    assert live_only == [f"trelvik_session_active{{{labels}}} 1", f"trelvik_session_data_points{{{labels}}} 1"]
    series = lambda lines: {line.rsplit("}", 1)[0] for line in lines if not line.startswith("#")}
    rest = [line for line in scraped if line not in live_only]
    assert [line for line in rest if line not in exported] == []
    assert series(rest) == series(exported)
    assert any(line.startswith("trelvik_memory_bytes{") for line in rest)

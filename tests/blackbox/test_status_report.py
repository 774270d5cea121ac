"""status_report on the emulated camera, against a collector script written
by each test, and against the package's own."""
import json
import re

import pytest

HEADER = b"Status: 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n\r\n"
SERIAL = "ACCC8E000001"
TIME = rb'"device":\{"Time":"\d\d:\d\d:\d\d \d{4}-\d\d-\d\d"\}'
END = b"=== SESSION END ===\n"


def install_collector(camera, output):
    """A collector that records its arguments and prints `output` (bytes)."""
    (camera.workdir / "collector_output").write_bytes(output)
    (camera.package / "shell" / "collect_monitoring_sessions.sh").write_text(
        f"#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '{camera.workdir}/collector_args'\n"
        f"cat '{camera.workdir}/collector_output'\n")


def report(camera, serial=SERIAL):
    result = camera.run("status_report", serial)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith(HEADER)
    return result.stdout[len(HEADER):]


def session(path="", start="", end="", size="", zipsize=""):
    return {"Path": path, "StartTime": start, "EndTime": end, "size": size, "sizeZip": zipsize}


def test_nothing_stored_and_a_hostile_serial_number(camera):
    serial = "it's $(touch pwned) a b\"c`id`\\"
    install_collector(camera, b"")
    assert re.fullmatch(rb'\{"active":false,' + TIME + rb',"miscellaneous":'
                        rb'\{"ptz_test_interval":0,"ptz_test_given_times":""\},"sessions":\[\]\}',
                        report(camera, serial))
    assert (camera.workdir / "collector_args").read_text() == f"1\n{serial}\n"  # one argument, never run
    assert not (camera.workdir / "pwned").exists()
    assert camera.logs() == []


def test_active_session_and_ptz_settings(camera):
    install_collector(camera, b"PATH:/a\nSIZE:1\n" + END + b"PATH:/b\nStart: Tue\nEnd: Wed\nSIZE:2 MiB\n"
                              b"ZIPSIZE:1 MiB\n" + END)
    camera.state_file.write_text("SECS:localdata\nSSPA:/usr/local/packages/Trelvik/localdata/\n"
                                 "ACTI:20261208_05_20_00\nTIME:Tue Dec  8 05:20:00 UTC 2026\n")
    (camera.localdata / "automatic_PTZ_test_interval.info").write_text("T:120\n")
    (camera.localdata / "automatic_PTZ_test_times.info").write_text('08:00,20:00"cut here\n')
    assert re.fullmatch(rb'\{"active":true,' + TIME + rb',"miscellaneous":'
                        rb'\{"ptz_test_interval":120,"ptz_test_given_times":"08:00,20:00"\},"sessions":'
                        rb'\[\{"Path":"/a","StartTime":"","EndTime":"","size":"1","sizeZip":""\},'
                        rb'\{"Path":"/b","StartTime":"Tue","EndTime":"Wed","size":"2 MiB","sizeZip":"1 MiB"\}\]\}',
                        report(camera))


def test_incomplete_state_file_is_inactive(camera):
    install_collector(camera, b"")
    camera.state_file.write_text("SECS:SD_DISK\n")
    assert report(camera).startswith(b'{"active":false,')
    [entry] = camera.logs()
    assert entry["level"] == "err" and entry["text"].endswith("Missing start time.")


@pytest.mark.parametrize("output, sessions", [
    # An unterminated block at the end is dropped.
    (b"PATH:/a\n" + END + b"PATH:/b\nSIZE:9\n", [session("/a")]),
    # The end marker is its first 19 bytes; fields never leak into the next block.
    (b"PATH:/a\nStart: s\nEnd: e\nSIZE:1\nZIPSIZE:2\n=== SESSION END === (trailing)\nPATH:/c\n" + END,
     [session("/a", "s", "e", "1", "2"), session("/c")]),
    (b"noise\nPATH:/x\nPATH:/y\n\n=== SESSION END ==\n=== SESSION END ===", [session("/y")]),
    # Values that need escaping arrive intact through the JSON parser.
    (b'PATH:/a"b\\c\tq\x01\r\nStart: caf\xc3\xa9\nEnd: ="},{"x":"\n' + END,
     [session('/a"b\\c\tq\x01\r', "caf\u00e9", '="},{"x":"')]),
    (b"PATH:/latin\xe9\n" + END, [session("/latin\ufffd")]),
    # A value far beyond any line buffer is kept whole, and so is a long list.
    (b"PATH:/" + b"p" * 20000 + b"\nSIZE:" + b"9" * 100 + b"\n" + END, [session("/" + "p" * 20000, size="9" * 100)]),
    (b"".join(b"PATH:/%d\nSIZE:%d MiB\n" % (i, i) + END for i in range(1000)),
     [session(f"/{i}", size=f"{i} MiB") for i in range(1000)]),
])
def test_sessions(camera, output, sessions):
    install_collector(camera, output)
    assert json.loads(report(camera))["sessions"] == sessions


def test_missing_collector_and_usage_errors(camera):
    (camera.package / "shell" / "collect_monitoring_sessions.sh").unlink()
    assert report(camera).endswith(b',"sessions":[]}')
    for args in ((), (SERIAL, "extra")):
        result = camera.run("status_report", *args)
        assert (result.returncode, result.stdout) == (1, b"")
        assert result.stderr == f"Usage: {camera.program('status_report')} <serial_number>\n".encode()
    assert camera.logs() == []


def test_package_collector(camera):
    app = camera.add_edge_storage("SD_DISK") / f"Trelvik_{SERIAL}"
    for folder, signature in ((app / "20261206_18_48_53", "Start: Sun Dec  6\nEnd: Sun Dec  6 20:48\n"),
                              (app / "20261208_05_20_00", 'Start: Tue Dec  8 "UTC"\n')):
        folder.mkdir(parents=True)
        (folder / ".signature").write_text(signature)
        (folder / "Session_Information.txt").write_bytes(b"Model Name: Q6135-LE\r\nSession Size: 12 MiB\r\n")
    (app / "20261206_18_48_53.zip").write_bytes(b"z" * 4096)
    assert json.loads(report(camera))["sessions"] == [
        session(str(app / "20261206_18_48_53"), "Sun Dec  6", "Sun Dec  6 20:48", "12 MiB", "4 KiB"),
        session(str(app / "20261208_05_20_00"), 'Tue Dec  8 "UTC"', "", "12 MiB")]

"""status_report on the emulated camera, against a collector script written
by each test (and, when the package has it, against the real one)."""
import json
import re
import shutil
import subprocess

import pytest

from emulator.camera import SOURCE_DIR

HEADER = b"Status: 200 OK\r\nContent-Type: application/json; charset=utf-8\r\n\r\n"
SERIAL = "ACCC8E000001"
TIME = rb"\d\d:\d\d:\d\d \d{4}-\d\d-\d\d"


def install_collector(camera, output):
    """A collector that records its arguments and prints `output` (bytes)."""
    (camera.workdir / "collector_output").write_bytes(output)
    script = camera.package / "shell" / "collect_monitoring_sessions.sh"
    script.write_text("#!/bin/sh\n"
                      f"printf '%s\\n' \"$#\" \"$@\" > '{camera.workdir}/collector_args'\n"
                      f"cat '{camera.workdir}/collector_output'\n")
    script.chmod(0o755)


def report(camera, serial=SERIAL):
    result = camera.run("status_report", serial)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith(HEADER)
    return result.stdout[len(HEADER):]


def block(path=None, start=None, end=None, size=None, zipsize=None, marker="=== SESSION END ==="):
    lines = []
    for prefix, value in (("PATH:", path), ("Start: ", start), ("End: ", end), ("SIZE:", size),
                          ("ZIPSIZE:", zipsize)):
        if value is not None:
            lines.append(prefix + value)
    return ("\n".join(lines + [marker]) + "\n").encode()


def session(path="", start="", end="", size="", zipsize=""):
    return {"Path": path, "StartTime": start, "EndTime": end, "size": size, "sizeZip": zipsize}


def test_nothing_stored(camera):
    install_collector(camera, b"")
    body = report(camera)
    assert re.fullmatch(rb'\{"active":false,"device":\{"Time":"' + TIME + rb'"\},"miscellaneous":'
                        rb'\{"ptz_test_interval":0,"ptz_test_given_times":""\},"sessions":\[\]\}', body), body
    assert (camera.workdir / "collector_args").read_text() == f"1\n{SERIAL}\n"
    assert camera.logs() == []


def test_active_session_and_ptz_settings(camera):
    install_collector(camera, block("/a", "s", "e", "1", "2"))
    camera.state_file.write_text("SECS:localdata\nSSPA:/usr/local/packages/Trelvik/localdata/\n"
                                 "ACTI:20261208_05_20_00\nTIME:Tue Dec  8 05:20:00 UTC 2026\n")
    (camera.localdata / "automatic_PTZ_test_interval.info").write_text("T:120\n")
    (camera.localdata / "automatic_PTZ_test_times.info").write_text('08:00,20:00"cut here\n')
    body = report(camera)
    assert re.fullmatch(rb'\{"active":true,"device":\{"Time":"' + TIME + rb'"\},"miscellaneous":'
                        rb'\{"ptz_test_interval":120,"ptz_test_given_times":"08:00,20:00"\},"sessions":'
                        rb'\[\{"Path":"/a","StartTime":"s","EndTime":"e","size":"1","sizeZip":"2"\}\]\}', body), body


def test_incomplete_state_file_is_inactive(camera):
    install_collector(camera, b"")
    camera.state_file.write_text("SECS:SD_DISK\n")
    assert report(camera).startswith(b'{"active":false,')
    [entry] = camera.logs()
    assert entry["level"] == "err" and entry["text"].endswith("Missing start time.")


@pytest.mark.parametrize("output, sessions", [
    (block("/a", size="1") + block("/b", "s2", "e2", "2", "3"),
     [session("/a", size="1"), session("/b", "s2", "e2", "2", "3")]),
    # An unterminated block at the end is dropped.
    (block("/a") + b"PATH:/b\nSIZE:9\n", [session("/a")]),
    (b"PATH:/only\nSIZE:5\n", []),
    # "Start:" without its blank is not a start line; a blank after "PATH:" is kept.
    (b"PATH: /a\nStart:Tue\nStart: Wed\n=== SESSION END ===\n", [session(" /a", "Wed")]),
    # The end marker is its first 19 bytes; fields never leak into the next block.
    (block("/a", "s", "e", "1", "2", marker="=== SESSION END === (trailing)") + block("/c"),
     [session("/a", "s", "e", "1", "2"), session("/c")]),
    (b"noise\nPATH:/x\nPATH:/y\n\n=== SESSION END ==\n=== SESSION END ===", [session("/y")]),
    # Values that need escaping arrive intact through the JSON parser.
    (b'PATH:/a"b\\c\tq\x01\r\nStart: caf\xc3\xa9\nEnd: ="},{"x":"\n=== SESSION END ===\n',
     [session('/a"b\\c\tq\x01\r', "caf\u00e9", '="},{"x":"')]),
    (b"PATH:/latin\xe9\n=== SESSION END ===\n", [session("/latin\ufffd")]),
    # A value far beyond any line buffer is kept whole.
    (b"PATH:/" + b"p" * 20000 + b"\nSIZE:" + b"9" * 100 + b"\n=== SESSION END ===\n",
     [session("/" + "p" * 20000, size="9" * 100)]),
])
def test_sessions(camera, output, sessions):
    install_collector(camera, output)
    document = json.loads(report(camera))
    assert document["sessions"] == sessions


def test_sessions_byte_for_byte(camera):
    install_collector(camera, block("/a", size="1") + block("/b", "Tue", "Wed", "2 MiB", "1 MiB"))
    body = report(camera)
    assert body.endswith(b',"sessions":[{"Path":"/a","StartTime":"","EndTime":"","size":"1","sizeZip":""},'
                         b'{"Path":"/b","StartTime":"Tue","EndTime":"Wed","size":"2 MiB","sizeZip":"1 MiB"}]}')


def test_a_thousand_sessions(camera):
    output = b"".join(block(f"/var/spool/storage/SD_DISK/Trelvik_{SERIAL}/2026{i:04d}_05_20_00",
                            "Tue Dec  8 05:20:00 UTC 2026", "Tue Dec  8 07:20:00 UTC 2026", f"{i} MiB", "1 MiB")
                      for i in range(1000))
    install_collector(camera, output)
    sessions = json.loads(report(camera))["sessions"]
    assert len(sessions) == 1000
    assert sessions[999]["Path"].endswith("/20260999_05_20_00") and sessions[999]["size"] == "999 MiB"


@pytest.mark.parametrize("serial", ["it's", "$(touch pwned)", "a b\"c`id`\\"])
def test_serial_number_reaches_the_collector_as_one_argument(camera, serial):
    install_collector(camera, b"")
    assert report(camera, serial).endswith(b',"sessions":[]}')
    assert (camera.workdir / "collector_args").read_text() == f"1\n{serial}\n"
    assert not (camera.workdir / "pwned").exists()


def test_missing_collector_gives_an_empty_array(camera):
    (camera.package / "shell" / "collect_monitoring_sessions.sh").unlink(missing_ok=True)
    assert report(camera).endswith(b',"sessions":[]}')


def test_usage_errors(camera):
    for args in ((), (SERIAL, "extra")):
        result = camera.run("status_report", *args)
        assert result.returncode == 1
        assert result.stdout == b""
        assert result.stderr == f"Usage: {camera.program('status_report')} <serial_number>\n".encode()
    assert camera.logs() == []


REAL_COLLECTOR = SOURCE_DIR / "shell" / "collect_monitoring_sessions.sh"


def lay_out_session(folder, start, end=None, size=None, archive=None):
    folder.mkdir(parents=True)
    (folder / ".signature").write_text(f"Start: {start}\n" + (f"End: {end}\n" if end else ""))
    info = "Model Name: Q6135-LE\r\nSerial Number: ACCC8E000001\r\nCollected Data Points: 3\n"
    if size is not None:
        info += f"Stop Time of the session: {end}\r\nSession Size: {size}\r\n"
    (folder / "Session_Information.txt").write_bytes(info.encode())
    if archive is not None:
        (folder.parent / (folder.name + ".zip")).write_bytes(b"z" * archive)


@pytest.mark.skipif(not REAL_COLLECTOR.exists(), reason="the package's collector script is not there yet")
def test_real_collector(camera):
    shutil.copy2(REAL_COLLECTOR, camera.package / "shell" / REAL_COLLECTOR.name)
    app = camera.add_edge_storage("SD_DISK") / f"Trelvik_{SERIAL}"
    lay_out_session(app / "20261206_18_48_53", "Sun Dec  6 18:48:53 UTC 2026", "Sun Dec  6 20:48:53 UTC 2026",
                    "12 MiB", archive=4096)
    lay_out_session(app / "20261208_05_20_00", 'Tue Dec  8 05:20:00 "UTC" 2026')
    lay_out_session(camera.localdata / "20261201_10_00_00", "Tue Dec  1 10:00:00 UTC 2026",
                    "Tue Dec  1 11:00:00 UTC 2026", "3 KiB")
    (app / "not_a_session").mkdir()
    # Another device's sessions on the same card are not this device's.
    lay_out_session(camera.add_edge_storage("SD_DISK") / "Trelvik_OTHER" / "20261207_00_00_00", "x")
    result = camera.run("status_report", SERIAL)
    assert result.returncode == 0 and result.stderr == b""
    sessions = json.loads(result.stdout[len(HEADER):])["sessions"]
    assert sorted(sessions, key=lambda s: s["Path"]) == sorted([
        session(str(app / "20261206_18_48_53"), "Sun Dec  6 18:48:53 UTC 2026", "Sun Dec  6 20:48:53 UTC 2026",
                "12 MiB", "4 KiB"),
        session(str(app / "20261208_05_20_00"), 'Tue Dec  8 05:20:00 "UTC" 2026'),
        session(str(camera.localdata / "20261201_10_00_00"), "Tue Dec  1 10:00:00 UTC 2026",
                "Tue Dec  1 11:00:00 UTC 2026", "3 KiB"),
    ], key=lambda s: s["Path"])

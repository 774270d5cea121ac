"""The three PTZ test actions on the emulated camera: replies byte for byte,
the settings files' bytes and the log lines with their levels."""
import re
import shutil

import pytest

PLAIN_OK = (b"Status: 200 OK\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
            b"Content-Type: text/plain\r\n\r\n")
BAD_REQUEST = (b"Status: 400 Bad Request\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
               b"Content-Type: text/plain; charset=utf-8\r\n\r\n")
TOO_SHORT = BAD_REQUEST + b"Too short interval set (must exceed 2 minutes)"
NOT_DIGITS = BAD_REQUEST + b"Error: Interval must be only digits."
NOT_STORED = BAD_REQUEST + b"Error: Could not store the setting."
INTERVAL_SET = PLAIN_OK + b"Automatic PTZ test has been set."
TIMES_SET = PLAIN_OK + b"PTZ test rule has been set."
INTERVAL_STOPPED = b"Automatic PTZ test has been stopped."
TIMES_STOPPED = b"PTZ test rule at given times has been stopped."


def interval_file(camera):
    return camera.localdata / "automatic_PTZ_test_interval.info"


def times_file(camera):
    return camera.localdata / "automatic_PTZ_test_times.info"


def answer(camera, program, *args):
    """Runs an action that must answer: status 0, nothing on standard error."""
    result = camera.run(program, *args)
    assert result.returncode == 0, result.stderr
    assert result.stderr == b""
    return result.stdout


def entries(camera):
    return [(e["level"], e["text"]) for e in camera.logs()]


def assert_opened_log(camera):
    for entry in camera.logs():
        assert (entry["opened"], entry["ident"], entry["options"], entry["facility"]) == (True, "", 0x03, 8)


@pytest.mark.parametrize("argument, reply, stored, log", [
    ("2", TOO_SHORT, None, None),
    ("", TOO_SHORT, None, None),
    ("12a", NOT_DIGITS, None, None),
    ("-5", NOT_DIGITS, None, None),
    ("1 20", NOT_DIGITS, None, None),
    (" ", NOT_DIGITS, None, None),
    ("3", INTERVAL_SET, b"T:3\n", "Started automatic PTZ test: Every 0 hours."),
    ("90", INTERVAL_SET, b"T:90\n", "Started automatic PTZ test: Every 1 hours."),
    ("120", INTERVAL_SET, b"T:120\n", "Started automatic PTZ test: Every 2 hours."),
    ("99999999999999999999", INTERVAL_SET, b"T:18446744073709551615\n",
     "Started automatic PTZ test: Every 307445734561825860 hours."),
])
def test_interval(camera, argument, reply, stored, log):
    assert answer(camera, "ptz_autotest_interval", argument) == reply
    if stored is None:
        assert not interval_file(camera).exists()
        assert camera.logs() == []
    else:
        assert interval_file(camera).read_bytes() == stored
        assert entries(camera) == [("info", log)]
        assert_opened_log(camera)


def test_interval_update_keeps_the_given_times(camera):
    times_file(camera).write_bytes(b"08:00,20:00\n")
    assert answer(camera, "ptz_autotest_interval", "120") == INTERVAL_SET
    assert answer(camera, "ptz_autotest_interval", "180") == INTERVAL_SET
    assert answer(camera, "ptz_autotest_interval", "2") == TOO_SHORT
    assert interval_file(camera).read_bytes() == b"T:180\n"
    assert times_file(camera).read_bytes() == b"08:00,20:00\n"
    assert entries(camera) == [("info", "Started automatic PTZ test: Every 2 hours."),
                               ("info", "Updated automatic PTZ test interval: Every 3 hours.")]


def test_times(camera):
    interval_file(camera).write_bytes(b"T:120\n")
    assert answer(camera, "ptz_autotest_times", "08:00,20:00") == TIMES_SET
    assert times_file(camera).read_bytes() == b"08:00,20:00\n"
    assert answer(camera, "ptz_autotest_times", "12:00") == TIMES_SET
    assert times_file(camera).read_bytes() == b"12:00\n"
    assert answer(camera, "ptz_autotest_times", "") == TIMES_SET
    assert not times_file(camera).exists()
    assert answer(camera, "ptz_autotest_times", "") == TIMES_SET
    assert interval_file(camera).read_bytes() == b"T:120\n"
    assert entries(camera) == [("info", "Started PTZ Test Times: 08:00,20:00"),
                               ("info", "Updated PTZ Test Times: 12:00"),
                               ("info", "Updated PTZ Test Times: "),
                               ("debug", f"Could not remove '{times_file(camera)}': No such file or directory"),
                               ("info", "Started PTZ Test Times: ")]
    assert_opened_log(camera)


def test_times_are_stored_unchanged(camera):
    hostile = "no time\"$(touch pwned)`id`'\\"
    assert answer(camera, "ptz_autotest_times", hostile) == TIMES_SET
    assert times_file(camera).read_bytes() == hostile.encode() + b"\n"
    assert not (camera.workdir / "pwned").exists()


@pytest.mark.parametrize("interval, times, body, logs", [
    (None, None, b"", []),
    (b"T:150\n", None, INTERVAL_STOPPED, ["Stopped automatic PTZ testing: Every 2 hours."]),
    (None, b"08:00,20:00\n", TIMES_STOPPED, ["Stopped PTZ Times: 08:00,20:00."]),
    (b"T:120\n", b"08:00\n", INTERVAL_STOPPED + TIMES_STOPPED,
     ["Stopped automatic PTZ testing: Every 2 hours.", "Stopped PTZ Times: 08:00."]),
])
def test_stop(camera, interval, times, body, logs):
    if interval is not None:
        interval_file(camera).write_bytes(interval)
    if times is not None:
        times_file(camera).write_bytes(times)
    assert answer(camera, "ptz_autotest_stop") == PLAIN_OK + body
    assert not interval_file(camera).exists()
    assert not times_file(camera).exists()
    infos = [e for e in camera.logs() if e["level"] == "info"]
    assert [e["text"] for e in infos] == logs
    # It opens no log of its own.
    assert all(not e["opened"] for e in camera.logs())
    assert answer(camera, "ptz_autotest_stop", "any", "arguments") == PLAIN_OK


def test_set_then_stop_round(camera):
    assert answer(camera, "ptz_autotest_interval", "240") == INTERVAL_SET
    assert answer(camera, "ptz_autotest_times", "06:30") == TIMES_SET
    assert answer(camera, "ptz_autotest_stop") == PLAIN_OK + INTERVAL_STOPPED + TIMES_STOPPED
    assert sorted(p.name for p in camera.localdata.iterdir()) == []
    assert [t for lvl, t in entries(camera) if lvl == "info"] == [
        "Started automatic PTZ test: Every 4 hours.", "Started PTZ Test Times: 06:30",
        "Stopped automatic PTZ testing: Every 4 hours.", "Stopped PTZ Times: 06:30."]


@pytest.mark.parametrize("program, usage, arg_lists", [
    ("ptz_autotest_interval", "<interval>", [(), ("3", "4")]),
    ("ptz_autotest_times", "<times>", [(), ("08:00", "09:00")]),
])
def test_usage_errors(camera, program, usage, arg_lists):
    for args in arg_lists:
        result = camera.run(program, *args)
        assert result.returncode == 1
        assert result.stdout == b""
        assert result.stderr == f"Usage: {camera.program(program)} {usage}\n".encode()
    assert camera.logs() == []
    assert list(camera.localdata.iterdir()) == []


def test_setting_that_cannot_be_stored(camera):
    shutil.rmtree(camera.localdata)
    camera.localdata.write_text("not a folder")
    assert answer(camera, "ptz_autotest_interval", "120") == NOT_STORED
    assert answer(camera, "ptz_autotest_times", "08:00") == NOT_STORED
    errors = camera.logs()
    assert [e["level"] for e in errors] == ["err", "err"]
    for entry, name in zip(errors, ("automatic_PTZ_test_interval.info", "automatic_PTZ_test_times.info")):
        assert re.fullmatch(r"\(lib/ptz_test\.cpp:\d+, errno: Not a directory\) Could not open file '"
                            + re.escape(str(camera.localdata / name)) + "'", entry["text"]), entry["text"]
    # Stopping has nothing to stop and still answers 200 with the header first.
    assert answer(camera, "ptz_autotest_stop") == PLAIN_OK


def test_stop_says_nothing_about_a_setting_it_could_not_remove(camera):
    # A non-empty folder in the interval file's place can be neither read nor removed.
    (interval_file(camera) / "keep").mkdir(parents=True)
    times_file(camera).write_bytes(b"08:00\n")
    assert answer(camera, "ptz_autotest_stop") == PLAIN_OK + TIMES_STOPPED
    assert [t for lvl, t in entries(camera) if lvl == "info"] == ["Stopped PTZ Times: 08:00."]

"""The three PTZ test actions on the emulated camera: replies byte for byte,
the settings files' bytes and the log lines with their levels."""
import re
import shutil

import pytest

HEAD = b"Pragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
PLAIN_OK = b"Status: 200 OK\r\n" + HEAD + b"Content-Type: text/plain\r\n\r\n"
BAD_REQUEST = b"Status: 400 Bad Request\r\n" + HEAD + b"Content-Type: text/plain; charset=utf-8\r\n\r\n"
TOO_SHORT = BAD_REQUEST + b"Too short interval set (must exceed 2 minutes)"
NOT_DIGITS = BAD_REQUEST + b"Error: Interval must be only digits."
TOO_LONG = BAD_REQUEST + b"Error: Interval is too long (at most 9007199254740991 minutes)."
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
    assert (result.returncode, result.stderr) == (0, b"")
    return result.stdout


def entries(camera):
    return [(e["level"], e["text"]) for e in camera.logs()]


def opened_own_log(camera):
    return all((e["opened"], e["ident"], e["options"], e["facility"]) == (True, "", 0x03, 8) for e in camera.logs())


@pytest.mark.parametrize("argument, reply, stored, log", [
    ("2", TOO_SHORT, None, None),
    ("", TOO_SHORT, None, None),
    ("12a", NOT_DIGITS, None, None),
    ("-5", NOT_DIGITS, None, None),
    ("3", INTERVAL_SET, b"T:3\n", "Started automatic PTZ test: Every 0 hours."),
    ("90", INTERVAL_SET, b"T:90\n", "Started automatic PTZ test: Every 1 hours."),
    # The largest interval the status report's JSON number carries exactly, and one more.
    ("9007199254740991", INTERVAL_SET, b"T:9007199254740991\n", "Started automatic PTZ test: Every 150119987579016 hours."),
    ("9007199254740992", TOO_LONG, None, None),
    ("99999999999999999999", TOO_LONG, None, None),
])
def test_interval(camera, argument, reply, stored, log):
    assert answer(camera, "ptz_autotest_interval", argument) == reply
    if stored is None:
        assert not interval_file(camera).exists()
        assert camera.logs() == []
    else:
        assert interval_file(camera).read_bytes() == stored
        assert entries(camera) == [("info", log)]
        assert opened_own_log(camera)


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
    hostile = "no time\"$(touch pwned)`id`'\\"  # stored unchanged, never run
    for times, stored in (("08:00,20:00", b"08:00,20:00\n"), (hostile, hostile.encode() + b"\n"), ("", None),
                          ("", None)):
        assert answer(camera, "ptz_autotest_times", times) == TIMES_SET
        assert (times_file(camera).read_bytes() if times_file(camera).exists() else None) == stored
    assert interval_file(camera).read_bytes() == b"T:120\n"
    assert entries(camera) == [("info", "Started PTZ Test Times: 08:00,20:00"),
                               ("info", f"Updated PTZ Test Times: {hostile}"),
                               ("info", "Updated PTZ Test Times: "),
                               ("debug", f"Could not remove '{times_file(camera)}': No such file or directory"),
                               ("info", "Started PTZ Test Times: ")]
    assert opened_own_log(camera)
    assert not (camera.workdir / "pwned").exists()


@pytest.mark.parametrize("interval, times, body, logs", [
    (None, None, b"", []),
    (b"T:150\n", None, INTERVAL_STOPPED, ["Stopped automatic PTZ testing: Every 2 hours."]),
    (None, b"08:00,20:00\n", TIMES_STOPPED, ["Stopped PTZ Times: 08:00,20:00."]),
    (b"T:120\n", b"08:00\n", INTERVAL_STOPPED + TIMES_STOPPED,
     ["Stopped automatic PTZ testing: Every 2 hours.", "Stopped PTZ Times: 08:00."]),
])
def test_stop(camera, interval, times, body, logs):
    for path, content in ((interval_file(camera), interval), (times_file(camera), times)):
        if content is not None:
            path.write_bytes(content)
    assert answer(camera, "ptz_autotest_stop") == PLAIN_OK + body
    assert not interval_file(camera).exists() and not times_file(camera).exists()
    assert [t for level, t in entries(camera) if level == "info"] == logs
    assert all(not e["opened"] for e in camera.logs())  # it opens no log of its own
    assert answer(camera, "ptz_autotest_stop", "any", "arguments") == PLAIN_OK


@pytest.mark.parametrize("program, usage", [("ptz_autotest_interval", "<interval>"),
                                            ("ptz_autotest_times", "<times>")])
def test_usage_errors(camera, program, usage):
    for args in ((), ("08:00", "09:00")):
        result = camera.run(program, *args)
        assert (result.returncode, result.stdout) == (1, b"")
        assert result.stderr == f"Usage: {camera.program(program)} {usage}\n".encode()
    assert camera.logs() == []
    assert list(camera.localdata.iterdir()) == []


def test_setting_that_cannot_be_stored(camera):
    shutil.rmtree(camera.localdata)
    camera.localdata.write_text("not a folder")
    assert answer(camera, "ptz_autotest_interval", "120") == NOT_STORED
    assert answer(camera, "ptz_autotest_times", "08:00") == NOT_STORED
    assert [e["level"] for e in camera.logs()] == ["err", "err"]
    for text, name in zip(camera.log_texts(), ("automatic_PTZ_test_interval.info", "automatic_PTZ_test_times.info")):
        assert re.fullmatch(r"\(lib/web/ptz_test\.cpp:\d+, errno: Not a directory\) Could not open file '"
                            + re.escape(str(camera.localdata / name)) + "'", text), text
    assert answer(camera, "ptz_autotest_stop") == PLAIN_OK  # nothing to stop: still 200, the header first


def test_stop_says_nothing_about_a_setting_it_could_not_remove(camera):
    # A non-empty folder in the interval file's place can be neither read nor removed.
    (interval_file(camera) / "keep").mkdir(parents=True)
    times_file(camera).write_bytes(b"08:00\n")
    assert answer(camera, "ptz_autotest_stop") == PLAIN_OK + TIMES_STOPPED
    assert [t for level, t in entries(camera) if level == "info"] == ["Stopped PTZ Times: 08:00."]

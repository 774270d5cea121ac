"""Start-up of trelvik_daemon on the emulated camera."""
import signal
import subprocess

from emulator.camera import wait_until

ARGS = ("ACCC8E000001", "ZURN Q6135-LE", "Network Camera", "root")


def run_to_main_loop(camera, *args, password=b"pass\n"):
    """Starts the daemon, stops it once its main loop runs; (level, text) of every log line."""
    proc = camera.spawn("trelvik_daemon", *args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                        stderr=subprocess.PIPE)
    proc.stdin.write(password)
    proc.stdin.close()
    wait_until(lambda: "Starting main loop." in camera.log_texts(), "the main loop", timeout=20)
    proc.send_signal(signal.SIGTERM)
    proc.stdin = None  # already written and closed
    assert proc.communicate(timeout=10)[0] == b""
    return [(e["level"], e["text"]) for e in camera.logs()]


def test_usage_error_reads_no_password(camera):
    for args in (ARGS[:3], ARGS + ("extra",)):
        # An open standard input that never ends: a daemon that read it would hang.
        proc = camera.spawn("trelvik_daemon", *args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
        out, err = proc.communicate(timeout=10)
        assert (proc.returncode, out) == (1, b"")
        assert err == (f"Usage: {camera.program('trelvik_daemon')} "
                       "<serial_number> <full_name> <prod_type> <nemor_user>\n").encode()
    assert camera.logs() == []


def test_closed_stdin_is_a_password_error(camera):
    assert camera.run("trelvik_daemon", *ARGS, stdin=b"").returncode == 1
    [line] = camera.logs()
    assert line["level"] == "err"
    assert line["text"].startswith("(daemon/startup.cpp:")
    assert line["text"].endswith(", errno: None) Failed to read arg_nemor_pass from stdin.")


def test_without_session_version_is_informational_and_no_ptz(camera):
    texts = run_to_main_loop(camera, *ARGS)
    assert all(entry["opened"] and entry["ident"] == "" and entry["options"] == 0x03 and entry["facility"] == 8
               for entry in camera.logs())
    assert [level for level, text in texts if text.startswith("Trelvik version 5.0.0, compiled: ")] == ["info"]
    assert ("debug", "Setup timers") in texts
    assert ("debug", "Starting PTZ loop.") not in texts
    assert texts[-1] == ("debug", "Starting main loop.")


def test_restored_session_and_ptz_camera(camera):
    camera.state_file.write_text("SECS:localdata\nSSPA:/usr/local/packages/Trelvik/localdata/\n"
                                 "ACTI:20261208_05_20_00\nTIME:Tue Dec  8 05:20:00 UTC 2026\n")
    texts = run_to_main_loop(camera, "ACCC8E000001", "ZURN Q6075-E PTZ Camera", "Dome", "root")
    restored = texts.index(("info", "Continuing System Monitoring Session. Device was rebooted or lost power."))
    assert texts[restored + 1][0] == "debug" and texts[restored + 1][1].startswith("Trelvik version 5.0.0")
    assert ("debug", "Starting PTZ loop.") in texts


def test_ptz_in_product_type_is_case_sensitive(camera):
    for prod_type, expected in (("xPTZx", True), ("ptz", False)):
        camera.clear_logs()
        texts = run_to_main_loop(camera, "S", "Camera", prod_type, "root")
        assert (("debug", "Starting PTZ loop.") in texts) == expected, prod_type


def test_long_password_and_incomplete_state_file(camera):
    camera.state_file.write_text("SECS:SD_DISK\n")
    texts = run_to_main_loop(camera, *ARGS, password=b"p" * 300 + b"\n")
    assert any(t.endswith("Could not restore monitoring session: Missing start time.") for _, t in texts)
    assert not any("Continuing System Monitoring Session" in t for _, t in texts)
    assert [level for level, text in texts if text.startswith("Trelvik version")] == ["info"]

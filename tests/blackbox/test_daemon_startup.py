"""Start-up of trelvik_daemon on the emulated camera."""
import signal
import subprocess

from emulator.camera import wait_until

ARGS = ("ACCC8E000001", "ZURN Q6135-LE", "Network Camera", "root")


def start_daemon(camera, *args, password=b"pass\n"):
    proc = camera.spawn("trelvik_daemon", *args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                        stderr=subprocess.PIPE)
    proc.stdin.write(password)
    proc.stdin.close()
    return proc


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    proc.stdin = None  # already written and closed
    out, err = proc.communicate(timeout=10)
    return out, err


def wait_for_main_loop(camera):
    wait_until(lambda: "Starting main loop." in camera.log_texts(), "the main loop", timeout=20)


def test_usage_error_reads_no_password(camera):
    for args in (ARGS[:3], ARGS + ("extra",)):
        # An open standard input that never ends: a daemon that read it would hang.
        proc = camera.spawn("trelvik_daemon", *args, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
        out, err = proc.communicate(timeout=10)
        assert proc.returncode == 1
        assert out == b""
        assert err == (f"Usage: {camera.program('trelvik_daemon')} "
                       "<serial_number> <full_name> <prod_type> <nemor_user>\n").encode()
    assert camera.logs() == []


def test_closed_stdin_is_a_password_error(camera):
    result = camera.run("trelvik_daemon", *ARGS, stdin=b"")
    assert result.returncode == 1
    [line] = camera.logs()
    assert line["level"] == "err"
    assert line["text"].startswith("(daemon_startup.cpp:")
    assert line["text"].endswith(", errno: None) Failed to read arg_nemor_pass from stdin.")


def test_without_session_version_is_informational_and_no_ptz(camera):
    proc = start_daemon(camera, *ARGS)
    wait_for_main_loop(camera)
    out, _ = stop(proc)
    assert out == b""
    logs = camera.logs()
    assert all(entry["opened"] and entry["ident"] == "" and entry["options"] == 0x03 and entry["facility"] == 8
               for entry in logs)
    texts = [(e["level"], e["text"]) for e in logs]
    version = [t for t in texts if t[1].startswith("Trelvik version 5.0.0, compiled: ")]
    assert version and version[0][0] == "info"
    assert ("debug", "Setup timers") in texts
    assert ("debug", "Starting PTZ loop.") not in texts
    assert texts[-1] == ("debug", "Starting main loop.")


def test_restored_session_and_ptz_camera(camera):
    camera.state_file.write_text("SECS:localdata\nSSPA:/usr/local/packages/Trelvik/localdata/\n"
                                 "ACTI:20261208_05_20_00\nTIME:Tue Dec  8 05:20:00 UTC 2026\n")
    proc = start_daemon(camera, "ACCC8E000001", "ZURN Q6075-E PTZ Camera", "Dome", "root")
    wait_for_main_loop(camera)
    stop(proc)
    texts = [(e["level"], e["text"]) for e in camera.logs()]
    restored = texts.index(("info", "Continuing System Monitoring Session. Device was rebooted or lost power."))
    assert texts[restored + 1][0] == "debug" and texts[restored + 1][1].startswith("Trelvik version 5.0.0")
    assert ("debug", "Starting PTZ loop.") in texts


def test_ptz_in_product_type_is_case_sensitive(camera):
    for prod_type, expected in (("xPTZx", True), ("ptz", False)):
        camera.clear_logs()
        proc = start_daemon(camera, "S", "Camera", prod_type, "root")
        wait_for_main_loop(camera)
        stop(proc)
        assert (("Starting PTZ loop." in camera.log_texts()) == expected), prod_type


def test_long_password_and_incomplete_state_file(camera):
    camera.state_file.write_text("SECS:SD_DISK\n")
    proc = start_daemon(camera, *ARGS, password=b"p" * 300 + b"\n")
    wait_for_main_loop(camera)
    stop(proc)
    texts = camera.log_texts()
    assert any(t.endswith("Could not restore monitoring session: Missing start time.") for t in texts)
    assert not any("Continuing System Monitoring Session" in t for t in texts)
    assert [e["level"] for e in camera.logs() if e["text"].startswith("Trelvik version")] == ["info"]

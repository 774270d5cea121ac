"""Activation and deactivation of monitoring sessions, run as the web server
runs them, against the emulated camera: the mock storage service through the
real dbus-send, busybox df, the real package scripts, the device API through
the real curl and the real zip in the background."""
import re
import subprocess
import threading
import zipfile

import pytest

from emulator.camera import wait_until

SERIAL = "ACCC8E000001"
OK_CHARSET = (b"Status: 200 OK\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
              b"Content-Type: text/plain; charset=utf-8\r\n\r\n")
BAD = (b"Status: 400 Bad Request\r\nPragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\n"
       b"Content-Type: text/plain; charset=utf-8\r\n\r\n")
NOT_VALID = (b"Error: The given storage destination was not valid and the ZEDA failed to create a new "
             b"monitor session.")
REPORT = "/zurn-cgi/serverreport.cgi"


@pytest.fixture
def cam(camera, sd_card):
    camera.add_edge_storage("SD_DISK")
    camera.start_storage_service([sd_card])
    camera.set_api_route(REPORT, "server report\n")
    camera.set_df_percent(42)
    return camera


def begin(camera, storage="SD_DISK", serial=SERIAL, password=b"pass\n", user="root"):
    return camera.run("begin_monitor_session", storage, serial, "Q6135-LE", "11.8.64", user, stdin=password)


def end(camera, password=b"pass\n"):
    return camera.run("end_monitor_session", "root", stdin=password)


def session_folder(camera):
    state = camera.state_file.read_text()
    sspa = re.search(r"^SSPA:(.*)$", state, re.M).group(1)
    acti = re.search(r"^ACTI:(.*)$", state, re.M).group(1)
    from pathlib import Path
    return Path(sspa + acti)


def wait_for_archive(camera, folder):
    archive = folder.parent / (folder.name + ".zip")

    def done():
        listing = camera.shell("ps").stdout.decode()
        return archive.exists() and not any("zip --recurse-paths" in line for line in listing.splitlines())
    wait_until(done, "the background archive", timeout=60)
    return archive


def test_edge_session_start_and_end(cam):
    result = begin(cam)
    assert result.returncode == 0
    assert result.stdout == OK_CHARSET + b"Session started."
    folder = session_folder(cam)
    assert folder.parent == cam.root / "var/spool/storage/SD_DISK" / f"Trelvik_{SERIAL}"
    assert re.fullmatch(r"\d{8}_\d{2}_\d{2}_\d{2}", folder.name)
    state = cam.state_file.read_text().splitlines()
    assert state[0] == "SECS:SD_DISK" and state[2] == "ACTI:" + folder.name
    info = (folder / "Session_Information.txt").read_bytes()
    lines = info.split(b"\r\n")
    assert len(lines) == 8 and lines[-1] == b""
    assert lines[0] == b"Model Name: Q6135-LE" and lines[1] == b"Serial Number: " + SERIAL.encode()
    assert lines[2] == b"Firmware version: 11.8.64" and lines[3] == b"Edge storage location: SD_DISK"
    assert lines[5] == b"Stop Time of the session: Still active" and lines[6] == b"Collected Data Points: 0"
    monitoring = folder / "system_monitoring"
    assert len(list((monitoring / "monitoring_interrupts").iterdir())) == 2
    assert list((monitoring / "monitoring_onvif").iterdir())
    reports = list((monitoring / "monitoring_basic" / "Server_Reports").iterdir())
    assert [r.read_text() for r in reports] == ["server report\n"]
    assert ("info", "Monitoring session started (SD_DISK)") in [(e["level"], e["text"]) for e in cam.logs()]

    result = end(cam)
    assert result.stdout == OK_CHARSET + b"Session deactivated."
    assert not cam.state_file.exists()
    info = (folder / "Session_Information.txt").read_bytes().split(b"\r\n")
    assert info[-3].startswith(b"Stop Time of the session: ") and info[-2].startswith(b"Session Size: ")
    assert not any(line == b"Stop Time of the session: Still active" for line in info)
    signature = (folder / ".signature").read_text()
    assert signature.startswith("Start: ") and "\nEnd: " in signature
    archive = wait_for_archive(cam, folder)
    names = zipfile.ZipFile(archive).namelist()
    assert f"{folder.name}/Session_Information.txt" in names
    listing = subprocess.run(["unzip", "-l", str(archive)], capture_output=True, text=True).stdout
    assert f"{folder.name}/system_monitoring/" in listing

    again = end(cam)
    assert again.stdout == OK_CHARSET + b"No monitor session is activated, can not deactivate anything."
    assert again.returncode == 0


def test_internal_session(cam):
    result = begin(cam, storage="localdata")
    assert result.stdout == OK_CHARSET + b"Session started."
    folder = session_folder(cam)
    assert folder.parent == cam.localdata
    assert cam.state_file.read_text().startswith("SECS:localdata\n")
    assert b"Edge storage location: Internal Storage\r\n" in (folder / "Session_Information.txt").read_bytes()
    assert "Monitoring session started (Internal Storage)" in cam.log_texts("info")


@pytest.mark.parametrize("case", ["running", "unlisted", "other-case", "full-flag", "partition", "bad-serial"])
def test_refusals_create_nothing(cam, sd_card, case):
    body = NOT_VALID
    storage, serial = "SD_DISK", SERIAL
    if case == "running":
        assert begin(cam).returncode == 0
        before = cam.state_file.read_bytes()
        storage, body = "NOT_THERE", b"Can not start new activity while another is running."
    elif case == "unlisted":
        storage = "USB_DISK"
    elif case == "other-case":
        storage = "LOCALDATA"
    elif case == "full-flag":
        cam.set_storages([dict(sd_card, full=True)])
    elif case == "partition":
        cam.set_df_percent(90)
        body = b"Error: Could not start monitoring session."
    elif case == "bad-serial":
        serial, body = "../../x", b"Error: Could not start monitoring session."
    result = begin(cam, storage=storage, serial=serial)
    assert (result.returncode, result.stdout) == (0, BAD + body)
    if case == "running":
        assert cam.state_file.read_bytes() == before
    else:
        assert not cam.state_file.exists()
        assert not any((cam.root / "var/spool/storage/SD_DISK").iterdir())


def test_usage_and_password_errors(cam):
    result = cam.run("begin_monitor_session", "SD_DISK", SERIAL, "Q", "1", stdin=b"pass\n")
    assert (result.returncode, result.stdout) == (1, b"")
    assert result.stderr.endswith(b" <storage> <serial_number> <short_name> <version> <nemor_user>\n")
    result = begin(cam, password=b"")
    assert (result.returncode, result.stdout) == (1, b"")
    assert any(t.endswith("Failed to read nemor_password from stdin.") for t in cam.log_texts("err"))
    result = cam.run("end_monitor_session", stdin=b"pass\n")
    assert (result.returncode, result.stdout) == (1, b"")


def test_hostile_values_never_run(cam):
    hostile = '$(touch pwned)`touch pwned`"\'; touch pwned \\'
    cam.set_api_credentials("root", hostile)
    result = begin(cam, serial="S$(touch pwned)`touch pwned`'\"", password=hostile.encode() + b"\n")
    assert result.stdout == OK_CHARSET + b"Session started."
    folder = session_folder(cam)
    # The password reached curl intact: the API accepted it.
    reports = list((folder / "system_monitoring/monitoring_basic/Server_Reports").iterdir())
    assert [r.read_text() for r in reports] == ["server report\n"]
    assert end(cam, password=hostile.encode() + b"\n").returncode == 0
    wait_for_archive(cam, folder)
    assert not list(cam.workdir.rglob("pwned"))
    assert not any(hostile in t for t in cam.log_texts())


def test_state_file_that_cannot_be_saved_is_not_a_session(cam):
    cam.state_file.mkdir()  # a folder where the file belongs
    result = begin(cam)
    assert result.stdout == BAD + b"Error: Could not start monitoring session."


def test_double_click_leaves_one_session(cam):
    results = []

    def request():
        results.append(begin(cam))
    threads = [threading.Thread(target=request) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    bodies = sorted(r.stdout for r in results)
    assert bodies == sorted([OK_CHARSET + b"Session started.",
                             BAD + b"Can not start new activity while another is running."])
    sessions = list((cam.root / "var/spool/storage/SD_DISK" / f"Trelvik_{SERIAL}").iterdir())
    assert len(sessions) == 1


def test_old_archive_is_replaced(cam):
    assert begin(cam).returncode == 0
    folder = session_folder(cam)
    stale = folder.parent / (folder.name + ".zip")
    stale.write_bytes(b"stale")
    assert end(cam).returncode == 0
    archive = wait_for_archive(cam, folder)
    assert zipfile.is_zipfile(archive)

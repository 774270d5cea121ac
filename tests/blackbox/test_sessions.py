"""Activation and deactivation of monitoring sessions, run as the web server
runs them, against the emulated camera: the mock storage service through the
real dbus-send, busybox df, the real package scripts, the device API through
the real curl and the real zip in the background."""
import re
import zipfile
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

from emulator.camera import wait_until
from emulator.device import SD_CARD

SERIAL = "ACCC8E000001"
HEAD = b"Pragma: no-cache\r\nCache-Control: no-cache\r\nExpires: -1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
OK = b"Status: 200 OK\r\n" + HEAD
BAD = b"Status: 400 Bad Request\r\n" + HEAD
NOT_VALID = b"Error: The given storage destination was not valid and the ZEDA failed to create a new monitor session."
NOT_STARTED = b"Error: Could not start monitoring session."
RUNNING = b"Can not start new activity while another is running."


@pytest.fixture
def cam(camera):
    camera.add_edge_storage("SD_DISK")
    camera.start_storage_service([SD_CARD])
    camera.set_api_route("/zurn-cgi/serverreport.cgi", "server report\n")
    camera.set_df_percent(42)
    return camera


def begin(camera, storage="SD_DISK", serial=SERIAL, password=b"pass\n"):
    return camera.run("begin_monitor_session", storage, serial, "Q6135-LE", "11.8.64", "root", stdin=password)


def end(camera, password=b"pass\n"):
    return camera.run("end_monitor_session", "root", stdin=password)


def state(camera):
    return dict(line.split(":", 1) for line in camera.state_file.read_text().splitlines())


def session_folder(camera):
    return Path(state(camera)["SSPA"] + state(camera)["ACTI"])


def edge_folders(camera):
    return list((camera.root / "var/spool/storage/SD_DISK").rglob("*"))


def wait_for_archive(camera, folder):
    archive = folder.parent / (folder.name + ".zip")
    wait_until(lambda: archive.exists() and b"zip --recurse-paths" not in camera.shell("ps").stdout,
               "the background archive", timeout=60)
    return archive


def test_edge_session_start_and_end(cam):
    assert begin(cam).stdout == OK + b"Session started."
    folder = session_folder(cam)
    assert folder.parent == cam.root / "var/spool/storage/SD_DISK" / f"Trelvik_{SERIAL}"
    assert re.fullmatch(r"\d{8}_\d{2}_\d{2}_\d{2}", folder.name)
    assert list(state(cam)) == ["SECS", "SSPA", "ACTI", "TIME"] and state(cam)["SECS"] == "SD_DISK"
    assert (folder / "Session_Information.txt").read_bytes() == (
        f"Model Name: Q6135-LE\r\nSerial Number: {SERIAL}\r\nFirmware version: 11.8.64\r\n"
        f"Edge storage location: SD_DISK\r\nStart Time of the session: {state(cam)['TIME']}\r\n"
        "Stop Time of the session: Still active\r\nCollected Data Points: 0\r\n").encode()
    monitoring = folder / "system_monitoring"
    assert len(list((monitoring / "monitoring_interrupts").iterdir())) == 2
    assert list((monitoring / "monitoring_onvif").iterdir())
    reports = list((monitoring / "monitoring_basic" / "Server_Reports").iterdir())
    assert [r.read_text() for r in reports] == ["server report\n"]
    assert "Monitoring session started (SD_DISK)" in cam.log_texts("info")

    stale = folder.parent / (folder.name + ".zip")  # an archive left by an earlier run is replaced
    stale.write_bytes(b"stale")
    assert end(cam).stdout == OK + b"Session deactivated."
    assert not cam.state_file.exists()
    info = (folder / "Session_Information.txt").read_bytes()
    assert b"Still active" not in info
    assert re.search(rb"\r\nStop Time of the session: [^\r\n]+\r\nSession Size: \d+ [KMG]?i?B\r\n$", info), info
    assert re.fullmatch(r"Start: .+\nEnd: .+\n", (folder / ".signature").read_text())
    names = zipfile.ZipFile(wait_for_archive(cam, folder)).namelist()
    assert {f"{folder.name}/Session_Information.txt", f"{folder.name}/system_monitoring/"} <= set(names)

    again = end(cam)  # nothing to deactivate
    assert (again.returncode, again.stdout) == (0, OK + b"No monitor session is activated, can not deactivate "
                                                     b"anything.")


def test_internal_session_refuses_a_second_one(cam):
    assert begin(cam, storage="localdata").stdout == OK + b"Session started."
    folder = session_folder(cam)
    assert folder.parent == cam.localdata and state(cam)["SECS"] == "localdata"
    assert b"\r\nEdge storage location: Internal Storage\r\n" in (folder / "Session_Information.txt").read_bytes()
    assert "Monitoring session started (Internal Storage)" in cam.log_texts("info")
    before = cam.state_file.read_bytes()
    assert begin(cam).stdout == BAD + RUNNING
    assert cam.state_file.read_bytes() == before
    assert not edge_folders(cam)


@pytest.mark.parametrize("storage, serial, change, body", [
    ("USB_DISK", SERIAL, None, NOT_VALID),  # not in the inventory
    ("LOCALDATA", SERIAL, None, NOT_VALID),
    ("$(touch pwned)", SERIAL, None, NOT_VALID),
    ("SD_DISK", SERIAL, "full-flag", NOT_VALID),
    ("SD_DISK", SERIAL, "partition", NOT_STARTED),
    ("SD_DISK", "../../x", None, NOT_STARTED),
])
def test_refusals_create_nothing(cam, storage, serial, change, body):
    if change == "full-flag":
        cam.set_storages([dict(SD_CARD, full=True)])
    elif change == "partition":
        cam.set_df_percent(90)
    result = begin(cam, storage=storage, serial=serial)
    assert (result.returncode, result.stdout) == (0, BAD + body)
    assert not cam.state_file.exists()
    assert not edge_folders(cam)
    assert not list(cam.workdir.rglob("pwned"))


def test_state_file_that_cannot_be_saved_is_not_a_session(cam):
    # A folder where the state file's temporary copy belongs.
    cam.state_file.with_name(cam.state_file.name + ".tmp").mkdir()
    assert begin(cam).stdout == BAD + NOT_STARTED
    assert not cam.state_file.exists()
    assert any(t.endswith(f"Could not open file '{cam.state_file}'") for t in cam.log_texts("err"))


def test_state_file_that_cannot_be_read_may_hold_a_running_session(cam):
    cam.state_file.mkdir()  # opens, but every read fails
    # No session starts, but the refusal names the file, not a running session.
    assert begin(cam).stdout == BAD + NOT_STARTED
    assert not edge_folders(cam)
    errors = cam.log_texts("err")
    assert any(t.endswith(f"Could not open file '{cam.state_file}'") for t in errors)
    assert not any("while another one is running" in t for t in errors)


def test_deactivation_rewrites_through_its_own_temporary_file(cam):
    assert begin(cam).stdout == OK + b"Session started."
    folder = session_folder(cam)
    info = folder / "Session_Information.txt"
    before = info.read_bytes()
    (folder / "Session_Information_tmp.txt").mkdir()  # the rewrite cannot be made: the file stays
    assert end(cam).stdout == OK + b"Session deactivated."
    assert re.fullmatch(re.escape(before) + rb"Session Size: \d+ [KMG]?i?B\r\n", info.read_bytes())
    assert any(t.endswith(f"Could not open file '{info}'") for t in cam.log_texts("err"))
    wait_for_archive(cam, folder)


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
    assert result.stdout == OK + b"Session started."
    folder = session_folder(cam)
    # The password reached curl intact: the API accepted it.
    reports = list((folder / "system_monitoring/monitoring_basic/Server_Reports").iterdir())
    assert [r.read_text() for r in reports] == ["server report\n"]
    assert end(cam, password=hostile.encode() + b"\n").returncode == 0
    wait_for_archive(cam, folder)
    assert not list(cam.workdir.rglob("pwned"))
    assert not any(hostile in t for t in cam.log_texts())


def test_double_click_leaves_one_session(cam):
    with ThreadPoolExecutor(2) as pool:
        bodies = sorted(result.stdout for result in pool.map(lambda _: begin(cam), range(2)))
    assert bodies == sorted([OK + b"Session started.", BAD + RUNNING])
    assert len(list((cam.root / "var/spool/storage/SD_DISK" / f"Trelvik_{SERIAL}").iterdir())) == 1

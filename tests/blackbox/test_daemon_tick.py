"""The real trelvik_daemon through its first tick (about a minute) on the
emulated camera: an edge-storage session and an internal-storage session,
run side by side on two cameras. Later ticks are tested through the schedule
functions in the unit tests."""
import re
import subprocess
from pathlib import Path

import pytest

from emulator.camera import Camera, wait_until
from emulator.device import populate

SERIAL = "ACCC8E000001"


def start_session(camera, storage):
    result = camera.run("begin_monitor_session", storage, SERIAL, "Q6135-LE", "11.8.64", "root",
                        stdin=b"pass\n")
    assert result.stdout.endswith(b"Session started.")
    state = camera.state_file.read_text()
    return Path(re.search(r"^SSPA:(.*)$", state, re.M).group(1) + re.search(r"^ACTI:(.*)$", state, re.M).group(1))


def start_daemon(camera):
    proc = camera.spawn("trelvik_daemon", SERIAL, "ZURN Q6135-LE", "Network Camera", "root",
                        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    proc.stdin.write(b"pass\n")
    proc.stdin.close()
    return proc


@pytest.fixture
def cameras(tmp_path):
    cams = [Camera(tmp_path / "edge").start(), Camera(tmp_path / "internal").start()]
    yield cams
    for cam in cams:
        cam.stop()


def consumption_line(camera):
    return [t for t in camera.log_texts("info") if t.startswith("System monitoring session is consuming ")]


def test_first_tick(cameras):
    edge, internal = cameras
    coordinator_logs = [populate(cam) for cam in cameras]
    edge.localdata.joinpath("automatic_PTZ_test_interval.info").write_text("T:1\n")
    edge_folder = start_session(edge, "SD_DISK")
    internal_folder = start_session(internal, "localdata")
    edge.clear_logs()
    internal.clear_logs()
    daemons = [start_daemon(cam) for cam in cameras]
    try:
        for cam in cameras:
            wait_until(lambda c=cam: consumption_line(c), "the consumption report after the first tick",
                       timeout=120)
    finally:
        for proc in daemons:
            proc.terminate()
            proc.wait(timeout=10)

    monitoring = edge_folder / "system_monitoring"
    for folder, files in {
        "monitoring_network": [],
        "monitoring_kernel": ["pagefaults.csv", "buddyinfo.csv"],
        "monitoring_load": [],
        "monitoring_meminfo": [],
        "monitoring_streams": [],
        "monitoring_environment": [],
        "monitoring_self": [],
    }.items():
        present = [p.name for p in (monitoring / folder).iterdir()]
        assert present, folder
        for name in files:
            assert name in present, (folder, name)
    assert len(list((monitoring / "monitoring_interrupts").iterdir())) == 4  # activation and tick 0
    assert len(list((monitoring / "monitoring_onvif").iterdir())) == 2
    assert len(list((monitoring / "monitoring_basic" / "Server_Reports").iterdir())) == 2
    info = (edge_folder / "Session_Information.txt").read_bytes()
    assert info.endswith(b"Collected Data Points: 1\nDuration: 0 Days 0 hours 0 minutes\n")
    edge_logs = [(e["level"], e["text"]) for e in edge.logs()]
    assert ("warning", "Automatic PTZ Test") in edge_logs  # interval 1: the warning comes one tick before
    assert consumption_line(edge)[0].endswith(" B on SD_DISK")

    internal_monitoring = internal_folder / "system_monitoring"
    assert not list((internal_monitoring / "monitoring_kernel").iterdir())
    assert [p.name for p in (internal_monitoring / "monitoring_basic" / "Server_Reports").iterdir()] == [
        "Server_Reports.zip"]
    assert len(list((internal_monitoring / "monitoring_onvif").iterdir())) == 2
    internal_info = (internal_folder / "Session_Information.txt").read_bytes()
    assert internal_info.endswith(b"Collected Data Points: 0\r\nDuration: 0 Days 0 hours 0 minutes\n")
    assert consumption_line(internal)[0].endswith(" B on Internal Storage")
    assert not coordinator_logs[1].exists() or "Auxiliary" not in coordinator_logs[1].read_text()

"""The real trelvik_daemon through its first tick (about a minute) on the
emulated camera: an edge-storage session and an internal-storage session,
run side by side on two cameras. Later ticks are tested through the schedule
functions in the unit tests."""
import subprocess
from pathlib import Path

from emulator.camera import Camera, wait_until
from emulator.device import populate

SERIAL = "ACCC8E000001"


def start_session(camera, storage):
    result = camera.run("begin_monitor_session", storage, SERIAL, "Q6135-LE", "11.8.64", "root",
                        stdin=b"pass\n")
    assert result.stdout.endswith(b"Session started.")
    state = dict(line.split(":", 1) for line in camera.state_file.read_text().splitlines())
    return Path(state["SSPA"] + state["ACTI"])


def consumption_line(camera):
    return [t for t in camera.log_texts("info") if t.startswith("System monitoring session is consuming ")]


def names(folder):
    return [p.name for p in folder.iterdir()]


def test_first_tick(tmp_path):
    with Camera(tmp_path / "edge") as edge, Camera(tmp_path / "internal") as internal:
        coordinator_logs = [populate(cam) for cam in (edge, internal)]
        edge.localdata.joinpath("automatic_PTZ_test_interval.info").write_text("T:1\n")
        edge_folder = start_session(edge, "SD_DISK") / "system_monitoring"
        internal_folder = start_session(internal, "localdata") / "system_monitoring"
        daemons = []
        try:
            for cam in (edge, internal):
                cam.clear_logs()
                daemons.append(cam.spawn("trelvik_daemon", SERIAL, "ZURN Q6135-LE", "Network Camera", "root",
                                         stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL))
                daemons[-1].stdin.write(b"pass\n")
                daemons[-1].stdin.close()
            for cam in (edge, internal):
                wait_until(lambda c=cam: consumption_line(c), "the consumption report after the first tick",
                           timeout=120)
        finally:
            for proc in daemons:
                proc.terminate()
                proc.wait(timeout=10)

        for folder in ("network", "load", "meminfo", "streams", "environment", "self"):
            assert names(edge_folder / f"monitoring_{folder}"), folder
        assert {"pagefaults.csv", "buddyinfo.csv"} <= set(names(edge_folder / "monitoring_kernel"))
        assert len(names(edge_folder / "monitoring_interrupts")) == 4  # activation and tick 0
        assert len(names(edge_folder / "monitoring_onvif")) == 2
        assert len(names(edge_folder / "monitoring_basic" / "Server_Reports")) == 2
        assert (edge_folder.parent / "Session_Information.txt").read_bytes().endswith(
            b"Collected Data Points: 1\nDuration: 0 Days 0 hours 0 minutes\n")
        assert "Automatic PTZ Test" in edge.log_texts("warning")  # interval 1: one tick early
        assert consumption_line(edge)[0].endswith(" B on SD_DISK")

        assert not names(internal_folder / "monitoring_kernel")
        assert names(internal_folder / "monitoring_basic" / "Server_Reports") == ["Server_Reports.zip"]
        assert len(names(internal_folder / "monitoring_onvif")) == 2
        assert (internal_folder.parent / "Session_Information.txt").read_bytes().endswith(
            b"Collected Data Points: 0\r\nDuration: 0 Days 0 hours 0 minutes\n")
        assert consumption_line(internal)[0].endswith(" B on Internal Storage")
        assert not coordinator_logs[1].exists() or "Auxiliary" not in coordinator_logs[1].read_text()

"""The daemon's tick, scheduled check and consumption report, called directly
through a driver program on the emulated camera, for what takes more than one
real minute: storage loss and return, the automatic end at 90 %, the PTZ
interval and given-times tests."""
import subprocess
import time
from pathlib import Path

import pytest

from emulator.camera import build_dir, wait_until
from emulator.device import SD_CARD, populate

LOST = "Lost connection to edge storage location, no data can be saved."


class Daemon:
    def __init__(self, camera):
        self.coordinator_log = populate(camera)
        self.proc = subprocess.Popen([str(build_dir() / "tests" / "driver_daemon"), "root"],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, env=camera.env(),
                                     cwd=camera.workdir)
        self.proc.stdin.write(b"pass\n")

    def __call__(self, command):
        self.proc.stdin.write(command.encode() + b"\n")
        self.proc.stdin.flush()
        lines = []
        while (line := self.proc.stdout.readline()) != b"done\n":
            assert line, "driver ended early"
            lines.append(line.decode().strip())
        return lines

    def resets(self):
        log = self.coordinator_log
        return log.read_text().count('Auxiliary "Operator" 0 "reset"') if log.exists() else 0


@pytest.fixture
def daemon(camera):
    d = Daemon(camera)
    yield d
    d.proc.stdin.close()
    assert d.proc.wait(timeout=30) == 0


def begin(camera):
    reply = camera.run("begin_monitor_session", "SD_DISK", "ACCC8E000001", "Q6135-LE", "11.8.64", "root",
                       stdin=b"pass\n")
    assert reply.stdout.endswith(b"Session started.")
    state = dict(line.split(":", 1) for line in camera.state_file.read_text().splitlines())
    return Path(state["SSPA"] + state["ACTI"])


def info(folder):
    return (folder / "Session_Information.txt").read_bytes()


def meminfo_files(folder):
    return list((folder / "system_monitoring" / "monitoring_meminfo").iterdir())


def test_storage_lost_and_back(camera, daemon):
    folder = begin(camera)
    camera.set_storages([dict(SD_CARD, available=False)])
    camera.clear_logs()
    daemon("tick 2")
    daemon("tick 3")
    errors = camera.log_texts("err")
    assert sum(t.endswith(LOST) for t in errors) == 1
    assert sum("Lost connection to storage location: SD_DISK, no data can be saved." in t for t in errors) == 1
    assert daemon("counters") == ["4 0 2"]
    assert not meminfo_files(folder)
    assert info(folder).endswith(b"Duration: 0 Days 0 hours 1 minutes\n")  # attempted on every tick

    camera.set_storages([SD_CARD])
    daemon("tick 4")
    assert ("Connection to edge storage location re-established, connection was lost since 0 days 0 hours "
            "2 minutes. Continuing system monitoring session.") in camera.log_texts("info")
    assert daemon("counters") == ["5 0 0"]
    assert meminfo_files(folder)
    assert info(folder).endswith(b"Collected Data Points: 1\nDuration: 0 Days 0 hours 2 minutes\n")

    camera.stop_service("storage")  # the service gone: only "Failed to find storage" lines
    camera.clear_logs()
    daemon("tick 5")
    assert any(t.endswith("Failed to find storage: SD_DISK") for t in camera.log_texts("err"))
    assert sum(t.endswith(LOST) for t in camera.log_texts("err")) == 1


def test_partition_at_90_percent_ends_the_session(camera, daemon):
    folder = begin(camera)
    camera.set_df_percent(89)
    daemon("tick 1")
    assert camera.state_file.exists()
    camera.set_df_percent(90)
    daemon("tick 3")
    assert ("Secondary storage is running out of free space. Deactivating monitoring session."
            in camera.log_texts("warning"))
    assert not camera.state_file.exists()
    assert b"Session Size: " in info(folder)
    archive = folder.parent / (folder.name + ".zip")
    wait_until(lambda: archive.exists() and b"zip --recurse" not in camera.shell("ps").stdout, "the archive")
    camera.clear_logs()
    daemon("tick 5")  # no session any more: nothing but the counter
    daemon("consumption")
    assert camera.logs() == []


def test_ptz_interval_and_given_times(camera, daemon):
    (camera.localdata / "automatic_PTZ_test_interval.info").write_text("T:2\n")
    for n in range(4):  # counts from tick 1: warning at 2, reset at 3
        daemon(f"tick {n}")
    assert camera.log_texts("warning").count("Automatic PTZ Test") == 1
    wait_until(lambda: daemon.resets() == 1, "the reset call")
    assert daemon("counters") == ["4 3 0"]

    (camera.localdata / "automatic_PTZ_test_interval.info").unlink()
    daemon("tick 4")
    assert daemon("counters") == ["5 0 0"]  # the interval removed: the test stops at once

    now = time.strftime("%H:%M")
    (camera.localdata / "automatic_PTZ_test_times.info").write_text(f"00:00,{now}\n")
    daemon("check")
    daemon("check")
    if time.strftime("%H:%M") == now:  # both checks fell in the listed minute
        wait_until(lambda: daemon.resets() == 2, "the given-times reset")
        time.sleep(0.5)
        assert daemon.resets() == 2

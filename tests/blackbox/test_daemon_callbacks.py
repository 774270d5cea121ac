"""The daemon's tick, scheduled check and consumption report, called directly
through a driver program on the emulated camera, for what takes more than one
real minute: storage loss and return, the automatic end at 90 %, odd ticks,
the PTZ interval and given-times tests, and the counter wrap."""
import re
import subprocess
import time
from pathlib import Path

import pytest

from emulator.camera import build_dir, wait_until
from emulator.device import SD_CARD, populate

SERIAL = "ACCC8E000001"
LOST = "Lost connection to edge storage location, no data can be saved."


class Daemon:
    def __init__(self, camera):
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

    def close(self):
        self.proc.stdin.close()
        assert self.proc.wait(timeout=30) == 0


@pytest.fixture
def cam(camera):
    coordinator = populate(camera)
    camera.coordinator_log = coordinator
    return camera


@pytest.fixture
def daemon(cam):
    d = Daemon(cam)
    yield d
    d.close()


def begin(camera, storage="SD_DISK"):
    reply = camera.run("begin_monitor_session", storage, SERIAL, "Q6135-LE", "11.8.64", "root", stdin=b"pass\n")
    assert reply.stdout.endswith(b"Session started.")
    state = camera.state_file.read_text()
    return Path(re.search(r"^SSPA:(.*)$", state, re.M).group(1) + re.search(r"^ACTI:(.*)$", state, re.M).group(1))


def info(folder):
    return (folder / "Session_Information.txt").read_bytes()


def resets(camera):
    log = camera.coordinator_log
    return log.read_text().count('Auxiliary "Operator" 0 "reset"') if log.exists() else 0


def test_odd_tick_only_updates_the_duration(cam, daemon):
    folder = begin(cam)
    daemon("tick 1")
    assert info(folder).endswith(b"Collected Data Points: 0\r\nDuration: 0 Days 0 hours 0 minutes\n")
    assert not list((folder / "system_monitoring" / "monitoring_meminfo").iterdir())
    daemon("tick 2")
    assert info(folder).endswith(b"Collected Data Points: 1\nDuration: 0 Days 0 hours 1 minutes\n")
    assert list((folder / "system_monitoring" / "monitoring_meminfo").iterdir())


def test_storage_lost_and_back(cam, daemon):
    folder = begin(cam)
    cam.set_storages([dict(SD_CARD, available=False)])
    cam.clear_logs()
    daemon("tick 2")
    daemon("tick 3")
    errors = cam.log_texts("err")
    assert sum(t.endswith(LOST) for t in errors) == 1
    assert sum("Lost connection to storage location: SD_DISK, no data can be saved." in t for t in errors) == 1
    assert daemon("counters") == ["4 0 2"]
    assert not list((folder / "system_monitoring" / "monitoring_meminfo").iterdir())
    assert info(folder).endswith(b"Duration: 0 Days 0 hours 1 minutes\n")  # attempted on every tick

    cam.set_storages([dict(SD_CARD)])
    daemon("tick 4")
    assert ("Connection to edge storage location re-established, connection was lost since 0 days 0 hours "
            "2 minutes. Continuing system monitoring session.") in cam.log_texts("info")
    assert daemon("counters") == ["5 0 0"]
    assert list((folder / "system_monitoring" / "monitoring_meminfo").iterdir())

    cam.stop_service("storage")  # the service gone: only "Failed to find storage" lines
    cam.clear_logs()
    daemon("tick 5")
    assert any(t.endswith("Failed to find storage: SD_DISK") for t in cam.log_texts("err"))
    assert sum(t.endswith(LOST) for t in cam.log_texts("err")) == 1


def test_partition_at_90_percent_ends_the_session(cam, daemon):
    folder = begin(cam)
    cam.set_df_percent(89)
    daemon("tick 1")
    assert cam.state_file.exists()
    cam.set_df_percent(90)
    daemon("tick 3")
    assert ("Secondary storage is running out of free space. Deactivating monitoring session."
            in cam.log_texts("warning"))
    assert not cam.state_file.exists()
    assert b"Session Size: " in info(folder)
    archive = folder.parent / (folder.name + ".zip")
    wait_until(lambda: archive.exists() and b"zip --recurse" not in cam.shell("ps").stdout, "the archive")
    cam.clear_logs()
    daemon("tick 5")  # no session any more: nothing but the counter
    assert cam.logs() == []
    daemon("consumption")
    assert cam.logs() == []


def test_internal_session_and_consumption_report(cam, daemon):
    folder = begin(cam, "localdata")
    cam.clear_logs()
    daemon("tick 360")
    reports = folder / "system_monitoring" / "monitoring_basic" / "Server_Reports"
    assert [p.name for p in reports.iterdir()] == ["Server_Reports.zip"]
    daemon("tick 2")
    assert not list((folder / "system_monitoring" / "monitoring_meminfo").iterdir())
    daemon("consumption")
    [line] = [t for t in cam.log_texts("info") if t.startswith("System monitoring session is consuming ")]
    assert re.fullmatch(r"System monitoring session is consuming \d+ B on Internal Storage", line)


def test_ptz_interval_and_given_times(cam, daemon):
    (cam.localdata / "automatic_PTZ_test_interval.info").write_text("T:2\n")
    for n in range(4):  # counts from tick 1: warning at 2, reset at 3
        daemon(f"tick {n}")
    assert cam.log_texts("warning").count("Automatic PTZ Test") == 1
    wait_until(lambda: resets(cam) == 1, "the reset call")
    assert daemon("counters") == ["4 3 0"]

    (cam.localdata / "automatic_PTZ_test_interval.info").unlink()
    daemon("tick 4")
    assert daemon("counters") == ["5 0 0"]  # the interval removed: the test stops at once

    now = time.strftime("%H:%M")
    (cam.localdata / "automatic_PTZ_test_times.info").write_text(f"00:00,{now}\n")
    daemon("check")
    daemon("check")
    if time.strftime("%H:%M") == now:  # both checks fell in the listed minute
        wait_until(lambda: resets(cam) == 2, "the given-times reset")
        time.sleep(0.5)
        assert resets(cam) == 2


def test_counter_wraps(cam, daemon):
    daemon("tick 59999999")
    assert daemon("counters") == ["0 0 0"]

"""The storage inventory against the emulated camera's storage service, read
through the real dbus-send (tests/support/driver_storage.cpp)."""
import re
import subprocess

from emulator.camera import build_dir
from emulator.device import SD_CARD

COMMAND = ("dbus-send --system --print-reply --reply-timeout=6000 --dest=com.zurn.Storage "
           "--type=method_call /com/zurn/Storage com.zurn.Storage.GetAllStoragesInfo")
PREFIX = re.compile(r"^\(lib/device/storage_investigator\.cpp:\d+, errno: None\) ")
LOST = "Lost connection to storage location: SD_DISK, no data can be saved."


def errors(camera):
    """The error lines without their prefix, which must name this unit."""
    texts = camera.log_texts("err")
    assert all(PREFIX.match(text) for text in texts), texts
    return [PREFIX.sub("", text) for text in texts]


def debug_line(status="OK", available=1, read_only=0, full=0):
    return (f"determine_if_this_storage_is_ok [SD_DISK] STATUS: {status}, AVAILABLE: {available}, "
            f"READ_ONLY: {read_only}, FULL: {full}")


class Driver:
    """One driver process answering "<operation> <argument>" lines, so that
    the process-wide state lives across calls while the test changes the
    service in between."""

    def __init__(self, camera):
        self.proc = subprocess.Popen([str(build_dir() / "tests" / "driver_storage")], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, env=camera.env(), cwd=camera.workdir, text=True)

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().strip()

    def close(self):
        self.proc.stdin.close()
        assert self.proc.wait(timeout=30) == 0
        self.proc.stdout.close()


def test_lost_connection_is_logged_once_per_change(camera):
    camera.start_storage_service([SD_CARD])
    driver = Driver(camera)
    answers = []
    for state in (SD_CARD, dict(SD_CARD, status="ok"), dict(SD_CARD, available=False), SD_CARD,
                  dict(SD_CARD, full=True)):
        camera.set_storages([state])
        answers.append(driver.ask("ok SD_DISK"))
    driver.close()
    assert answers == ["1", "0", "0", "1", "0"]
    assert errors(camera) == [LOST, LOST]
    assert camera.log_texts("debug") == [debug_line(), debug_line("ok"), debug_line(available=0), debug_line(),
                                         debug_line(full=1)]
    assert [e["level"] for e in camera.logs()] == ["debug", "debug", "err", "debug", "debug", "debug", "err"]


def test_missing_storage_and_failed_queries_leave_the_flag_alone(camera):
    read_only = dict(SD_CARD, read_only=True)
    camera.start_storage_service([read_only])
    driver = Driver(camera)
    assert driver.ask("ok SD_DISK") == "0"  # the first call of a process logs the loss too
    camera.set_storages([])
    assert driver.ask("ok SD_DISK") == "0"
    camera.stop_service("storage")
    assert driver.ask("ok SD_DISK") == "0"
    camera.start_storage_service([read_only])
    assert driver.ask("ok SD_DISK") == "0"  # still lost: no second line
    camera.set_storages([dict(SD_CARD, disk_id="OTHER")])
    assert driver.ask("ok SD_DISK") == "0"
    camera.set_storages([SD_CARD])
    assert driver.ask("ok SD_DISK") == "1"
    camera.set_storages([read_only])
    assert driver.ask("ok SD_DISK") == "0"
    driver.close()
    missing = "Failed to find storage: SD_DISK"
    assert errors(camera) == [LOST, missing, f"Command exited with status 1: {COMMAND}", missing, missing, LOST]
    assert camera.log_texts("debug") == [debug_line(read_only=1)] * 2 + [debug_line(), debug_line(read_only=1)]


def test_long_names_and_mount_points_are_read_whole(camera):
    """dbus-send prints each field on a line of its own; a friendly name or a
    mount point of 180 characters and more still leaves every later field in
    its place."""
    camera.start_storage_service([SD_CARD])
    driver = Driver(camera)
    answers = []
    for length in (180, 250, 1000):
        camera.set_storages([dict(SD_CARD, friendly_name="F" * length,
                                  mount_point="/var/spool/storage/" + "m" * length)])
        answers.append(driver.ask("ok SD_DISK"))
    driver.close()
    assert answers == ["1", "1", "1"]
    assert errors(camera) == []
    assert camera.log_texts("debug") == [debug_line()] * 3

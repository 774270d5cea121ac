"""The storage inventory against the emulated camera's storage service, read
through the real dbus-send (tests/support/driver_storage.cpp)."""
import re
import subprocess

from emulator.camera import build_dir

COMMAND = ("dbus-send --system --print-reply --reply-timeout=6000 --dest=com.zurn.Storage "
           "--type=method_call /com/zurn/Storage com.zurn.Storage.GetAllStoragesInfo")
PREFIX = re.compile(r"^\(lib/storage_investigator\.cpp:\d+, errno: None\) ")


def errors(camera):
    """The error lines without their prefix, which must name this unit."""
    texts = camera.log_texts("err")
    assert all(PREFIX.match(text) for text in texts), texts
    return [PREFIX.sub("", text) for text in texts]


def debug_line(disk_id, status, available=1, read_only=0, full=0):
    return (f"determine_if_this_storage_is_ok [{disk_id}] STATUS: {status}, AVAILABLE: {available}, "
            f"READ_ONLY: {read_only}, FULL: {full}")


def run(camera, *args):
    result = camera.run_driver("driver_storage", *args)
    assert result.returncode == 0, result.stderr
    return result.stdout


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


def test_records_come_last_first_with_every_field(camera, sd_card):
    share = {"disk_id": "NetworkShare", "friendly_name": "Network Share", "mount_point": "", "status": "OK ",
             "disk_type": -3, "available": False, "read_only": True, "diskencrypted": True}
    camera.start_storage_service([sd_card, share])
    assert run(camera, "list").decode().splitlines() == [
        '"NetworkShare" "Network Share" "" "OK " -3 000001000001',
        '"SD_DISK" "SD card" "/var/spool/storage/SD_DISK" "OK" 1 010000000000',
        "end",
    ]
    assert camera.logs() == []


def test_empty_inventory_is_not_an_error_but_finds_nothing(camera):
    camera.start_storage_service([])
    assert run(camera, "list") == b"end\n"
    assert camera.logs() == []
    assert run(camera, "ok", "SD_DISK") == b"0\n"
    assert errors(camera) == ["Failed to find storage: SD_DISK"]
    assert len(camera.logs()) == 1


def test_lost_connection_is_logged_once_per_change(camera, sd_card):
    camera.start_storage_service([sd_card])
    unusable = [dict(sd_card, status="ok"), dict(sd_card, available=False), dict(sd_card, full=True)]
    states = [sd_card, unusable[0], unusable[1], sd_card, unusable[2]]
    driver = Driver(camera)
    answers = []
    for state in states:
        camera.set_storages([state])
        answers.append(driver.ask("ok SD_DISK"))
    driver.close()
    assert answers == ["1", "0", "0", "1", "0"]
    lost = "Lost connection to storage location: SD_DISK, no data can be saved."
    texts = [(entry["level"], PREFIX.sub("", entry["text"])) for entry in camera.logs()]
    assert texts == [
        ("debug", debug_line("SD_DISK", "OK")),
        ("debug", debug_line("SD_DISK", "ok")),
        ("err", lost),
        ("debug", debug_line("SD_DISK", "OK", available=0)),
        ("debug", debug_line("SD_DISK", "OK")),
        ("debug", debug_line("SD_DISK", "OK", full=1)),
        ("err", lost),
    ]
    errors(camera)  # every error line carries the prefix


def test_missing_storage_and_failed_queries_leave_the_flag_alone(camera, sd_card):
    read_only = dict(sd_card, read_only=True)
    camera.start_storage_service([read_only])
    driver = Driver(camera)
    assert driver.ask("ok SD_DISK") == "0"  # the first call of a process logs the loss too
    camera.set_storages([])
    assert driver.ask("ok SD_DISK") == "0"
    camera.stop_service("storage")
    assert driver.ask("ok SD_DISK") == "0"
    camera.start_storage_service([read_only])
    assert driver.ask("ok SD_DISK") == "0"  # still lost: no second line
    camera.set_storages([dict(sd_card, disk_id="OTHER")])
    assert driver.ask("ok SD_DISK") == "0"
    camera.set_storages([sd_card])
    assert driver.ask("ok SD_DISK") == "1"
    camera.set_storages([read_only])
    assert driver.ask("ok SD_DISK") == "0"
    driver.close()
    lost = "Lost connection to storage location: SD_DISK, no data can be saved."
    assert errors(camera) == [
        lost,
        "Failed to find storage: SD_DISK",
        f"Command exited with status 1: {COMMAND}",
        "Failed to find storage: SD_DISK",
        "Failed to find storage: SD_DISK",
        lost,
    ]
    assert camera.log_texts("debug") == [debug_line("SD_DISK", "OK", read_only=1)] * 2 + [
        debug_line("SD_DISK", "OK"), debug_line("SD_DISK", "OK", read_only=1)]


def test_replies_with_too_few_fields_are_discarded(camera, sd_card):
    camera.start_storage_service([sd_card])
    fields = ("['SD_DISK', 'SD card', '/x', 'OK', dbus.Int32(1), dbus.Boolean(False), dbus.Boolean(True)]"
              " + [dbus.Boolean(False)] * {rest}")

    def answer_with(flags, records):
        signature = "ssssi" + "b" * flags
        code = (f"ret = dbus.Array([dbus.Struct({fields.format(rest=flags - 2)}, signature='{signature}')] * {records},"
                f" signature='({signature})')")
        camera.call_mock("storage", "AddMethod", "com.zurn.Storage", "GetAllStoragesInfo", "",
                         f"a({signature})", code)

    answer_with(flags=10, records=2)  # 15 fields: the second opener comes too early
    assert run(camera, "ok", "SD_DISK") == b"0\n"
    assert errors(camera) == ["Failed to parse boolean:       }\n", "Too few fields, found 16, expected 17.",
                              "Failed to find storage: SD_DISK"]

    camera.clear_logs()
    answer_with(flags=9, records=1)  # 14 fields: the reply ends too early
    assert run(camera, "list") == b"end\n"
    assert errors(camera) == ["Failed to parse boolean:       }\n", "Failed to parse boolean:    ]\n",
                              "Too few fields, found 15, expected 17."]

    camera.clear_logs()
    answer_with(flags=11, records=1)  # 16 fields: the closing line stands in for the last flag
    assert run(camera, "ok", "SD_DISK") == b"1\n"
    assert errors(camera) == ["Failed to parse boolean:       }\n"]

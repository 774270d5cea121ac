#!/usr/bin/python3
"""Captures what the real dbus-send prints for the storage service's replies.

Starts the emulated camera's private bus and the mock storage service, sets a
few storage lists and saves the standard output of the very command line the
storage inventory runs into tests/fixtures/storage/<case>.txt. The unit tests
parse these files, so they see the line shapes of the real tool.

Run it once (with Debian's /usr/bin/python3) and commit the files:
    /usr/bin/python3 tests/support/capture_storage_replies.py
"""
import subprocess
import sys
import tempfile
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE_DIR))

from emulator.camera import Camera  # noqa: E402

FIXTURES = SOURCE_DIR / "tests" / "fixtures" / "storage"
COMMAND = ("dbus-send --system --print-reply --reply-timeout=6000 --dest=com.zurn.Storage "
           "--type=method_call /com/zurn/Storage com.zurn.Storage.GetAllStoragesInfo")

SD_CARD = {"disk_id": "SD_DISK", "friendly_name": "SD card", "mount_point": "/var/spool/storage/SD_DISK",
           "status": "OK", "disk_type": 1, "available": True}
SHARE = {"disk_id": "NetworkShare", "friendly_name": "Network Share", "mount_point": "",
         "status": "disconnected", "disk_type": 2, "available": False, "removed": True, "locked": True,
         "full": True, "read_only": True, "exiting": True, "recording": True, "recipient": True,
         "read_write_failure": True, "encryptionenabled": True, "diskencrypted": True, "disruption": True}

CASES = {
    "two_records": [SD_CARD, SHARE],
    "empty": [],
    "status_ok_blank": [dict(SD_CARD, status="OK ")],
    "status_ok_lower": [dict(SD_CARD, status="ok")],
    "blank_in_names": [dict(SD_CARD, disk_id="SD DISK", friendly_name="My SD card")],
    # Every flag differs from its neighbours (locked and full among them), so
    # that the order in which the fields are read is pinned.
    "alternating_flags": [dict(SD_CARD, locked=True, read_only=True, recording=True, read_write_failure=True,
                               diskencrypted=True),
                          dict(SHARE, available=True, locked=False, read_only=False, recording=False,
                               read_write_failure=False, diskencrypted=False)],
}

# A service that answers with fifteen fields a record instead of seventeen:
# the second record's opener then finds too few lines before it.
SHORT_SIGNATURE = "(ssssibbbbbbbbbb)"
SHORT_REPLY = ("ret = dbus.Array([dbus.Struct(['SD_DISK', 'SD card', '/var/spool/storage/SD_DISK', 'OK', "
               "dbus.Int32(1)] + [dbus.Boolean(False)] * 10, signature='ssssibbbbbbbbbb')] * 2, "
               f"signature='{SHORT_SIGNATURE}')")


def capture(camera, name):
    result = subprocess.run(COMMAND, shell=True, capture_output=True, env=camera.env(), check=True)
    (FIXTURES / f"{name}.txt").write_bytes(result.stdout)
    print(f"{name}: {len(result.stdout.splitlines())} lines")


def main():
    FIXTURES.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as workdir, Camera(workdir) as camera:
        camera.start_storage_service([])
        for name, storages in CASES.items():
            camera.set_storages(storages)
            capture(camera, name)
        camera.call_mock("storage", "AddMethod", "com.zurn.Storage", "GetAllStoragesInfo", "",
                         f"a{SHORT_SIGNATURE}", SHORT_REPLY)
        capture(camera, "fifteen_fields")


if __name__ == "__main__":
    main()

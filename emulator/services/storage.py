"""Mock of the device's storage service "com.zurn.Storage".

GetAllStoragesInfo answers an array of structs of four strings, one int32 and
twelve booleans, in the order DISK_ID, FRIENDLY_NAME, MOUNT_POINT, STATUS,
DISK_TYPE, DISRUPTION, AVAILABLE, REMOVED, LOCKED, FULL, READ_ONLY, EXITING,
RECORDING, RECIPIENT, READ_WRITE_FAILURE, ENCRYPTIONENABLED, DISKENCRYPTED.
Parameters: {"storages": [{"disk_id": ..., "status": "OK", ...}, ...]}.
"""
import json

import dbus
import dbus.service
from dbusmock import MOCK_IFACE

BUS_NAME = "com.zurn.Storage"
MAIN_OBJ = "/com/zurn/Storage"
MAIN_IFACE = "com.zurn.Storage"
SYSTEM_BUS = True

FLAGS = ["disruption", "available", "removed", "locked", "full", "read_only", "exiting",
         "recording", "recipient", "read_write_failure", "encryptionenabled", "diskencrypted"]
DEFAULTS = {"available": True}


def to_struct(storage):
    strings = [dbus.String(storage.get(key, "")) for key in ("disk_id", "friendly_name", "mount_point", "status")]
    flags = [dbus.Boolean(storage.get(flag, DEFAULTS.get(flag, False))) for flag in FLAGS]
    return dbus.Struct(strings + [dbus.Int32(storage.get("disk_type", 1))] + flags,
                       signature="ssssibbbbbbbbbbbb")


def load(mock, parameters):
    mock.storages = dbus.Array([to_struct(s) for s in parameters.get("storages", [])],
                               signature="(ssssibbbbbbbbbbbb)")
    mock.AddMethods(MAIN_IFACE, [
        ("GetAllStoragesInfo", "", "a(ssssibbbbbbbbbbbb)", "ret = self.storages"),
    ])


@dbus.service.method(MOCK_IFACE, in_signature="s", out_signature="")
def SetStorages(self, storages_json):
    self.storages = dbus.Array([to_struct(s) for s in json.loads(storages_json)],
                               signature="(ssssibbbbbbbbbbbb)")

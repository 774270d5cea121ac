"""Mock of the device's streaming service "com.zurn.Streamer".

GetStreams on /com/zurn/Streamer/Cache answers an array of strings (as), one
per running video stream. The device answers an array of strings too: a
dictionary would show its keys as further "string" lines in dbus-send's reply.
Parameters: {"streams": ["resolution=1920x1080&fps=30", ...]}.
"""
import json

import dbus
import dbus.service
from dbusmock import MOCK_IFACE

BUS_NAME = "com.zurn.Streamer"
MAIN_OBJ = "/com/zurn/Streamer/Cache"
MAIN_IFACE = "com.zurn.Streamer.Cache"
SYSTEM_BUS = True


def to_array(streams):
    return dbus.Array([dbus.String(s) for s in streams], signature="s")


def load(mock, parameters):
    mock.streams = to_array(parameters.get("streams", []))
    mock.AddMethods(MAIN_IFACE, [
        ("GetStreams", "", "as", "ret = self.streams"),
    ])


@dbus.service.method(MOCK_IFACE, in_signature="s", out_signature="")
def SetStreams(self, streams_json):
    self.streams = to_array(json.loads(streams_json))

"""Mock of the device's temperature controller "com.zurn.TemperatureController".

Reply shapes, as the real dbus-send --print-reply shows them:
  GetNbrOfHeaters, GetNbrOfFans   -> int32
  GetAllTemperatures(string)      -> array of (int32 index, double) in index order, a(id)
  GetHeaterStatus(int32 index)    -> string (an unknown index answers a D-Bus error)
  GetAllFanStatus                 -> array of (int32 index, string), a(is)
Parameters: {"temperatures": [40.0, 38.5], "heaters": ["on"], "fans": ["running"]}.
The counts follow the lists unless "heater_count" / "fan_count" say otherwise
(a device may report more heaters than it answers for).
SetState(json) replaces the state with the same keys while the mock runs.
"""
import json

import dbus
import dbus.service
from dbusmock import MOCK_IFACE

BUS_NAME = "com.zurn.TemperatureController"
MAIN_OBJ = "/com/zurn/TemperatureController"
MAIN_IFACE = "com.zurn.TemperatureController"
SYSTEM_BUS = True


def apply_state(mock, state):
    temperatures = state.get("temperatures", [])
    heaters = state.get("heaters", [])
    fans = state.get("fans", [])
    mock.heater_status = [dbus.String(s) for s in heaters]
    mock.heater_count = dbus.Int32(state.get("heater_count", len(heaters)))
    mock.fan_count = dbus.Int32(state.get("fan_count", len(fans)))
    mock.temperatures = dbus.Array(
        [dbus.Struct([dbus.Int32(i), dbus.Double(t)], signature="id") for i, t in enumerate(temperatures)],
        signature="(id)")
    mock.fans = dbus.Array(
        [dbus.Struct([dbus.Int32(i), dbus.String(s)], signature="is") for i, s in enumerate(fans)],
        signature="(is)")


HEATER_STATUS = """
index = int(args[0])
if index < 0 or index >= len(self.heater_status):
    raise dbus.exceptions.DBusException("no heater %d" % index,
                                        name="com.zurn.TemperatureController.Error.InvalidIndex")
ret = self.heater_status[index]
"""


def load(mock, parameters):
    apply_state(mock, parameters)
    mock.AddMethods(MAIN_IFACE, [
        ("GetNbrOfHeaters", "", "i", "ret = self.heater_count"),
        ("GetNbrOfFans", "", "i", "ret = self.fan_count"),
        ("GetAllTemperatures", "s", "a(id)", "ret = self.temperatures"),
        ("GetHeaterStatus", "i", "s", HEATER_STATUS),
        ("GetAllFanStatus", "", "a(is)", "ret = self.fans"),
    ])


@dbus.service.method(MOCK_IFACE, in_signature="s", out_signature="")
def SetState(self, state_json):
    apply_state(self, json.loads(state_json))

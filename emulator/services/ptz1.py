"""Mock of the device's PTZ service "com.zurn.Ptz1", channel 1.

GetPresets answers two values, the number of presets as uint32 and the names
as an array of strings: gdbus prints "(uint32 3, ['Home', 'Door', 'Gate'])".
A movement is the standard PropertiesChanged signal of the channel object
with interface "com.zurn.Ptz1.Channel" and a "PresetStatus" property of type
(uu) = (status, preset number); gdbus monitor prints it as
"{'PresetStatus': <(uint32 2, uint32 3)>}". The shapes matter: an int32 count
or an (ii) status prints without the type words that the tracker counts on.

Parameters: {"presets": ["Home", ...], "count": n (default: the number of
names), "no_get_presets": true (a firmware without the method)}.
Control methods (interface org.freedesktop.DBus.Mock):
  SetPresets(as)             replace the names (the count follows them)
  EmitPresetStatus(u, u)     a movement: status (1 reached, 2 moving), preset
  EmitProperty(s, s, s)      a PropertiesChanged signal carrying property
                             arg1 with the string value arg2, sent with
                             interface arg0 (another property, another channel)
  EmitPaddedPresetStatus(u, u, u)
                             a movement whose line is made long by a string
                             property of arg2 bytes placed before PresetStatus
"""
import dbus
import dbus.service
from dbusmock import MOCK_IFACE

BUS_NAME = "com.zurn.Ptz1"
MAIN_OBJ = "/com/zurn/Ptz1/Channel/1"
MAIN_IFACE = "com.zurn.Ptz1.Channel"
SYSTEM_BUS = True

PROPERTIES_IFACE = "org.freedesktop.DBus.Properties"


def load(mock, parameters):
    mock.preset_names = list(parameters.get("presets", []))
    mock.preset_count = parameters.get("count")
    if not parameters.get("no_get_presets"):
        mock.AddMethods(MAIN_IFACE, [
            ("GetPresets", "", "uas",
             "ret = (dbus.UInt32(len(self.preset_names) if self.preset_count is None else self.preset_count), "
             "dbus.Array(self.preset_names, signature='s'))"),
        ])


def _preset_status(status, preset):
    return dbus.Struct((dbus.UInt32(status), dbus.UInt32(preset)), signature="uu", variant_level=1)


def _properties_changed(mock, interface, changed):
    mock.EmitSignal(PROPERTIES_IFACE, "PropertiesChanged", "sa{sv}as",
                    [dbus.String(interface), dbus.Dictionary(changed, signature="sv"),
                     dbus.Array([], signature="s")])


@dbus.service.method(MOCK_IFACE, in_signature="as", out_signature="")
def SetPresets(self, names):
    self.preset_names = [str(name) for name in names]
    self.preset_count = None


@dbus.service.method(MOCK_IFACE, in_signature="uu", out_signature="")
def EmitPresetStatus(self, status, preset):
    _properties_changed(self, MAIN_IFACE, {"PresetStatus": _preset_status(status, preset)})


@dbus.service.method(MOCK_IFACE, in_signature="sss", out_signature="")
def EmitProperty(self, interface, name, value):
    _properties_changed(self, interface, {name: dbus.String(value, variant_level=1)})


@dbus.service.method(MOCK_IFACE, in_signature="uuu", out_signature="")
def EmitPaddedPresetStatus(self, status, preset, padding):
    # dbus-python keeps insertion order, so the padding is printed first.
    changed = dbus.Dictionary({}, signature="sv")
    changed["Description"] = dbus.String("x" * padding, variant_level=1)
    changed["PresetStatus"] = _preset_status(status, preset)
    _properties_changed(self, MAIN_IFACE, changed)

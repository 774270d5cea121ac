"""Mock of the PTZ coordinator "com.zurn.PTZ.Coordinator". The daemon asks it
for its auxiliary "reset" action; dbus-send without --print-reply exits 0 even
when no service answers, so tests read the calls from the mock's call log."""
BUS_NAME = "com.zurn.PTZ.Coordinator"
MAIN_OBJ = "/com/zurn/PTZ/Coordinator/1"
MAIN_IFACE = "com.zurn.PTZ.Coordinator"
SYSTEM_BUS = True


def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [
        ("Auxiliary", "sis", "", ""),
    ])

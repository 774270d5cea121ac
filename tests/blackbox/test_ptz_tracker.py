"""The PTZ preset movement tracker in the real trelvik_daemon, with the mock
PTZ service (emulator/services/ptz1.py) and the real gdbus on the private bus.

A gdbus wrapper first on PATH records every command line the daemon runs.
Signals sent before "gdbus monitor" has subscribed are lost, so each test
first repeats a probe movement until it shows in the log; later signals then
arrive in order behind the probes.
"""
import os
import signal
import subprocess
from pathlib import Path

import pytest

from emulator.camera import helper_threads, wait_until

PTZ_ARGS = ("ACCC8E000001", "ZURN Q6075-E PTZ", "PTZ Dome", "root")
CALL = "call -y -d com.zurn.Ptz1 -o /com/zurn/Ptz1/Channel/1 -m com.zurn.Ptz1.Channel.GetPresets"
MONITOR = "monitor -y -d com.zurn.Ptz1 -o /com/zurn/Ptz1/Channel/1"
OLD_FIRMWARE = ("Could not get PTZ preset names, probably due to old firmware. "
                "PTZ preset movement tracking have been disabled.")


def moving(name):
    return f'Preset Movement: Preset Moving "{name}"'


def reached(name):
    return f'Preset Movement: Preset Reached "{name}" reached'


def descendants(pid):
    parents = {}
    for stat in Path("/proc").glob("[0-9]*/stat"):
        try:
            parents[int(stat.parent.name)] = int(stat.read_text().rsplit(")", 1)[1].split()[1])
        except (OSError, IndexError):
            continue
    found, generation = [], [pid]
    while generation:
        generation = [child for child, parent in parents.items() if parent in generation]
        found += generation
    return found


def cmdline(pid):
    try:
        return Path(f"/proc/{pid}/cmdline").read_bytes()
    except OSError:
        return b""


def thread_count(pid):
    return len(list(Path(f"/proc/{pid}/task").iterdir())) - helper_threads()


class Daemon:
    def __init__(self, camera, args):
        tools = camera.workdir / "gdbus-wrapper"
        tools.mkdir(exist_ok=True)
        self.calls = camera.workdir / "gdbus.calls"
        (tools / "gdbus").write_text(f"#!/bin/sh\nprintf '%s\\n' \"$*\" >> '{self.calls}'\n"
                                     'exec /usr/bin/gdbus "$@"\n')
        (tools / "gdbus").chmod(0o755)
        self.stderr = camera.workdir / "daemon.stderr"
        env = {"PATH": f"{tools}{os.pathsep}{camera.env()['PATH']}"}
        with open(self.stderr, "wb") as stderr:
            self.proc = camera.spawn("trelvik_daemon", *args, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.DEVNULL, stderr=stderr)
        self.proc.stdin.write(b"pass\n")
        self.proc.stdin.close()

    def gdbus_calls(self):
        """The tracker's gdbus command lines (other parts of the daemon may use gdbus too)."""
        lines = self.calls.read_text().splitlines() if self.calls.exists() else []
        return [line for line in lines if "com.zurn.Ptz1" in line]

    def stop(self):
        helpers = descendants(self.proc.pid)  # the monitor outlives a daemon that is stopped: end it too
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=10)
        for pid in helpers:
            try:
                os.kill(pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        assert b"Sanitizer" not in self.stderr.read_bytes()


@pytest.fixture
def start_daemon(camera):
    started = []

    def start(args=PTZ_ARGS):
        started.append(Daemon(camera, args))
        return started[-1]
    yield start
    for daemon in started:
        if daemon.proc.poll() is None:
            daemon.stop()


def movements(camera):
    return [t for t in camera.log_texts("info") if t.startswith("Preset Movement:")]


def probe(camera, status, preset, expected):
    """Repeats a movement until the monitor has passed one on."""
    def seen():
        if expected in movements(camera):
            return True
        camera.call_mock("ptz1", "EmitPresetStatus", status, preset)
        return False
    wait_until(lambda: "Entering ptz_loop" in camera.log_texts("info"), "the tracker")
    wait_until(seen, f"the probe {expected!r}", timeout=30)


def test_movements_are_logged_with_start_up_names(camera, start_daemon):
    names = [f"Preset number {i}" for i in range(1, 401)]
    reply = "(uint32 400, [" + ", ".join(f"'{n}'" for n in names) + "])\n"  # as gdbus prints it
    # The name whose bytes straddle the end of the reply's first 4095 bytes.
    straddling = next(i for i, n in enumerate(names)
                      if reply.index(f"'{n}'") < 4095 < reply.index(f"'{n}'") + len(n) + 2)
    camera.start_service("ptz1", {"presets": names})
    daemon = start_daemon()
    probe(camera, 1, 1, reached("Preset number 1"))
    for status, preset in ((2, 3), (1, 3), (0, 3), (2, 0), (3, 2), (1, straddling + 1)):
        camera.call_mock("ptz1", "EmitPresetStatus", status, preset)
    camera.call_mock("ptz1", "EmitProperty", "com.zurn.Ptz1.Channel", "Zoom", "1x")
    camera.call_mock("ptz1", "EmitPaddedPresetStatus", 2, 2, 3000)  # a line of more than 3000 bytes
    camera.call_mock("ptz1", "SetPresets", names + ["Added later"])
    camera.call_mock("ptz1", "EmitPresetStatus", 2, 401)
    camera.call_mock("ptz1", "EmitPresetStatus", 2, 1)
    wait_until(lambda: moving("Preset number 1") in movements(camera), "the last movement")
    lines = movements(camera)
    assert lines[lines.index(moving("Preset number 3")):] == [
        moving("Preset number 3"), reached("Preset number 3"), reached(names[straddling]),
        moving("Preset number 2"), moving("Preset number 1")]

    # The monitor follows the service through a restart; renamed presets keep
    # the names read at start-up.
    camera.stop_service("ptz1")
    camera.start_service("ptz1", {"presets": ["Renamed"] * 400})
    probe(camera, 2, 4, moving("Preset number 4"))
    assert daemon.proc.poll() is None
    assert daemon.gdbus_calls() == [CALL, MONITOR]
    assert camera.log_texts("info").count("Entering ptz_loop") == 1


def test_tracking_ends_with_the_monitor_and_the_daemon_goes_on(camera, start_daemon):
    camera.start_service("ptz1", {"presets": ["Home"]})
    daemon = start_daemon()
    probe(camera, 1, 1, reached("Home"))
    [monitor] = [pid for pid in descendants(daemon.proc.pid) if cmdline(pid).startswith(b"/usr/bin/gdbus\0monitor")]
    assert thread_count(daemon.proc.pid) == 2
    os.kill(monitor, signal.SIGTERM)
    wait_until(lambda: thread_count(daemon.proc.pid) == 1, "the tracker thread to end")
    assert daemon.proc.poll() is None


@pytest.mark.parametrize("service", [None, {"presets": []}, {"presets": ["Home"], "no_get_presets": True},
                                     {"presets": ["Home"], "count": 0}])
def test_no_preset_names_disables_tracking_once(camera, start_daemon, service):
    if service is not None:
        camera.start_service("ptz1", service)
    daemon = start_daemon()
    wait_until(lambda: OLD_FIRMWARE in camera.log_texts("info"), "the old firmware line")
    wait_until(lambda: thread_count(daemon.proc.pid) == 1, "the tracker thread to end")
    assert daemon.proc.poll() is None
    assert camera.log_texts("info").count(OLD_FIRMWARE) == 1
    assert daemon.gdbus_calls() == [CALL]
    assert "Starting main loop." in camera.log_texts("debug")


def test_camera_without_ptz_runs_no_gdbus(camera, start_daemon):
    camera.start_service("ptz1", {"presets": ["Home"]})
    daemon = start_daemon(("ACCC8E000001", "ZURN Q6135-LE", "Network Camera", "root"))
    wait_until(lambda: "Starting main loop." in camera.log_texts("debug"), "the main loop")
    daemon.stop()
    assert "Entering ptz_loop" not in camera.log_texts()
    assert daemon.gdbus_calls() == []

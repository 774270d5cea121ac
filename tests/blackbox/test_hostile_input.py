"""Hostile input at every entry: a table of hostile values fed through the
CGI actions' arguments and standard input, the web entry's query strings,
the PTZ given-times text, the daemon's arguments and password, and the device's replies as the emulated
camera can give them (storage service, streamer, temperature controller, PTZ
service, device API, /proc files, df, du, ps and top).

Every value carries a canary: a command that would create a file in the
canary folder if any shell ever ran it, a path that climbs out of its folder,
or bytes that a careless parser trips over. A case passes when no canary file
appears, nothing outside the session folder and the package's data changes,
every program answers as the CGI conventions say (or refuses with its
documented error) and nothing crashes: in the sanitizer build a sanitizer
report ends the program with a status that fails the case."""
import json
import os
import signal
import subprocess
import time
from pathlib import Path
from urllib.parse import quote_from_bytes

import pytest

from emulator.camera import build_dir, wait_until
from emulator.device import REPORT, SENSOR_LIST, SERVER_REPORT, populate, quick_sleep

SERIAL = "ACCC8E000001"
ESCAPE = "trelvik-hostile-escape"  # the name a climbing path would create


def hostile_values(nul=False, utf8=True):
    """name -> value (bytes); each command canary names its own file. The
    canary folder comes from the environment ($CANARY, ending in "/"), so that
    the values hold no slash, which would stop them early where a value
    names a folder."""
    def touch(name):
        return f'touch "$CANARY"{name}'

    values = {
        "dollar": f"$({touch('dollar')})",
        "backquote": f"`{touch('backquote')}`",
        "semicolon": f"x; {touch('semicolon')}; y",
        "pipe": f"x | {touch('pipe')}",
        "single_quote": f"x' ; {touch('single_quote')} ; '",
        "double_quote": f"x\" ; {touch('double_quote')} ; \"",
        "line_feed": f"x\n{touch('line_feed')}\ny",
        "dotdot": "../../../../../../../../../../tmp/" + ESCAPE,
        "long": "A" * 65536 + f"$({touch('long')})",
    }
    values = {name: text.encode() for name, text in values.items()}
    if utf8:
        values["invalid_utf8"] = b"\xff\xfe\xc0\xaf\xed\xa0\x80`" + touch("invalid_utf8").encode() + b"`"
    if nul:
        values["nul"] = b"x\0" + f"$({touch('nul')})".encode()
    return values


def dbus_text(value):
    """A D-Bus string carries neither NUL nor invalid UTF-8."""
    return value.decode()


# ----- what every case checks -------------------------------------------------------

# Paths (relative to the camera's folder) that programs may change: the
# session folders and the package's data, and the emulator's own files.
ALLOWED = ("root/var/spool/storage/SD_DISK/Trelvik_", "root/usr/local/packages/Trelvik/localdata",
           "syslog.jsonl", "api_routes.json")
# Folders whose entries change when a session folder is made in them.
PARENTS = ("root/var/spool/storage/SD_DISK",)


def snapshot(folder):
    files = {}
    for dirpath, dirnames, filenames in os.walk(folder):
        for name in filenames + dirnames:
            path = Path(dirpath) / name
            try:
                stat = path.lstat()
            except OSError:
                continue
            files[str(path.relative_to(folder))] = (stat.st_size, stat.st_mtime_ns, stat.st_mode)
    return files


def touched_outside(before, after):
    changed = {p for p in before.keys() | after.keys() if before.get(p) != after.get(p)}
    return sorted(p for p in changed
                  if not p.startswith(ALLOWED) and p not in PARENTS and not p.endswith(".calls.log")
                  and not p.startswith("canary"))


CGI_HEADERS = (b"Status: 200 OK\r\n", b"Status: 400 Bad Request\r\n")


FATAL_FORMAT = ") snprintf for "


def cgi_body(result, camera=None):
    """The body of a CGI reply after checking its status line and header end.
    With `camera`, a value too long for a fixed path buffer may also end the
    program as documented: the emergency "snprintf for" line, abort, no
    reply (None)."""
    if camera is not None and result.returncode == -signal.SIGABRT and not result.stdout:
        assert FATAL_FORMAT in [e["text"] for e in logs(camera) if e["level"] == "emerg"][-1]
        return None
    assert result.returncode == 0, (result.returncode, result.stderr[-2000:])
    assert result.stdout.startswith(CGI_HEADERS), result.stdout[:200]
    assert b"\r\n\r\n" in result.stdout
    return result.stdout.split(b"\r\n\r\n", 1)[1]


class Hostile:
    """One emulated camera with its canary folder and the checks after a case."""

    def __init__(self, camera):
        self.camera = camera
        self.canary = camera.workdir / "canary"
        self.canary.mkdir()
        self.escape = Path("/tmp") / ESCAPE
        self.before = None

    @staticmethod
    def values(**kwargs):
        return hostile_values(**kwargs)

    def start(self):
        self.before = snapshot(self.camera.workdir)

    def check(self):
        # Background scripts and archives started by the programs finish first.
        time.sleep(0.5)
        wait_until(lambda: not [p for p in Path("/proc").glob("[0-9]*/cmdline")
                                if _reads(p).find(str(self.camera.root).encode()) >= 0
                                and b"dbusmock" not in _reads(p)],
                   "the programs' background work", timeout=60)
        assert not list(self.canary.iterdir()), "a canary command ran"
        assert not self.escape.exists(), f"a path climbed out to {self.escape}"
        assert touched_outside(self.before, snapshot(self.camera.workdir)) == []
        for entry in logs(self.camera):
            if entry["level"] == "emerg" and FATAL_FORMAT in entry["text"]:
                continue  # the documented end of a path that does not fit
            assert entry["level"] not in ("emerg", "alert", "crit"), entry

    def run(self, name, *args, stdin=None):
        return self.camera.run(name, *args, stdin=stdin, timeout=120)


def logs(camera):
    """The captured log lines; hostile bytes may stand in them as they came."""
    if not camera.syslog.exists():
        return []
    text = camera.syslog.read_bytes().decode("utf-8", "surrogateescape")
    return [json.loads(line) for line in text.split("\n") if line]


def debug_texts(camera):
    return [entry["text"] for entry in logs(camera) if entry["level"] == "debug"]


def info_texts(camera):
    return [entry["text"] for entry in logs(camera) if entry["level"] == "info"]


def first_line(value):
    """A password travels as one line: what comes after a line feed is not part of it."""
    return value.split(b"\n")[0][:200] + b"\n"


def _reads(path):
    try:
        return path.read_bytes()
    except OSError:
        return b""


@pytest.fixture
def hostile(camera, monkeypatch):
    # The package scripts take one sample, so that the case need not wait
    # minutes for their background work.
    monkeypatch.setenv("TRELVIK_SCRIPT_SAMPLES", "1")
    monkeypatch.setenv("TRELVIK_SCRIPT_INTERVAL", "0")
    quick_sleep(camera)
    populate(camera)
    hostile = Hostile(camera)
    monkeypatch.setenv("CANARY", f"{hostile.canary}/")
    yield hostile


# ----- the entries -------------------------------------------------------------------

BEGIN_REPLIES = {None, b"Session started.", b"Can not start new activity while another is running.",
                 b"Error: The given storage destination was not valid and the ZEDA failed to create a new "
                 b"monitor session.", b"Error: Could not start monitoring session."}
END_REPLIES = {b"Session deactivated.", b"No monitor session is activated, can not deactivate anything."}


def end_session(hostile):
    body = cgi_body(hostile.run("end_monitor_session", "root", stdin=b"pass\n"))
    assert body in END_REPLIES
    hostile.camera.state_file.unlink(missing_ok=True)


def test_session_actions(hostile):
    """begin_monitor_session with each argument and the password hostile, on
    the internal and the edge storage; end_monitor_session likewise."""
    hostile.start()
    for name, value in hostile.values().items():
        password = first_line(value)
        # Every argument at once, on the internal storage: the names go into
        # the information file, the user and password into the API request.
        body = cgi_body(hostile.run("begin_monitor_session", "localdata", value, value, value, value,
                                    stdin=password), hostile.camera)
        assert body in BEGIN_REPLIES, (name, body)
        end_body = cgi_body(hostile.run("end_monitor_session", value, stdin=password))
        assert end_body in END_REPLIES, (name, end_body)
        # The storage and the serial number name folders on the edge storage.
        for storage, serial in ((value, SERIAL), ("SD_DISK", value)):
            body = cgi_body(hostile.run("begin_monitor_session", storage, serial, "Q6135-LE", "11.8.64", "root",
                                        stdin=b"pass\n"), hostile.camera)
            assert body in BEGIN_REPLIES, (name, body)
            # Ended above; here the state file goes, which is cheaper.
            hostile.camera.state_file.unlink(missing_ok=True)
    # A password line longer than the limit, with a NUL in it.
    body = cgi_body(hostile.run("begin_monitor_session", "localdata", SERIAL, "Q", "1", "root",
                                stdin=b"pa\0ss" + b'$(touch "$CANARY"password)' * 5000 + b"\n"))
    assert body in BEGIN_REPLIES
    end_session(hostile)
    hostile.check()


def test_ptz_and_status_actions(hostile):
    """The PTZ test actions and the status report: the given times and the
    serial number are stored or put in commands; each setting is then read
    back by the status report and by the daemon's scheduled check."""
    hostile.start()
    driver = subprocess.Popen([str(build_dir() / "tests" / "driver_daemon"), "root"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, env=hostile.camera.env(), cwd=hostile.camera.workdir)
    driver.stdin.write(b"pass\n")
    try:
        for name, value in hostile.values().items():
            body = cgi_body(hostile.run("ptz_autotest_interval", value))
            assert body in (b"Error: Interval must be only digits.", b"Automatic PTZ test has been set."), name
            body = cgi_body(hostile.run("ptz_autotest_times", value))
            assert body in (b"PTZ test rule has been set.", b"Error: Could not store the setting."), name
            reply = json.loads(cgi_body(hostile.run("status_report", value)).decode("utf-8", "surrogateescape"))
            assert {"active", "device", "miscellaneous"} <= reply.keys(), name
            driver.stdin.write(b"check\n")
            driver.stdin.flush()
            assert driver.stdout.readline() == b"done\n", name
            cgi_body(hostile.run("ptz_autotest_stop"))
            # The settings files as another writer may have left them.
            for setting in ("automatic_PTZ_test_interval.info", "automatic_PTZ_test_times.info"):
                (hostile.camera.localdata / setting).write_bytes(value + b"\n")
            reply = json.loads(cgi_body(hostile.run("status_report", SERIAL)).decode("utf-8", "surrogateescape"))
            assert reply["miscellaneous"]["ptz_test_interval"] == 0, name
            driver.stdin.write(b"check\n")
            driver.stdin.flush()
            assert driver.stdout.readline() == b"done\n", name
            cgi_body(hostile.run("ptz_autotest_stop"))
    finally:
        driver.stdin.close()
        assert driver.wait(timeout=60) == 0
    hostile.check()


def test_daemon_arguments_and_password(hostile):
    """The daemon's four arguments and its password, each value in every
    position at once, up to its main loop (the API query for the sensor names
    and, with "PTZ" in the name, the preset tracker have run). The API
    request of a tick is the one begin_monitor_session makes, tested above."""
    hostile.start()
    daemons = []
    values = hostile.values()
    try:
        for name, value in values.items():
            proc = hostile.camera.spawn("trelvik_daemon", value, value + b" PTZ", value, value,
                                        stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.PIPE)
            proc.stdin.write(first_line(value))
            proc.stdin.close()
            daemons.append((name, proc))
        wait_until(lambda: debug_texts(hostile.camera).count("Starting main loop.") >= len(daemons),
                   "every daemon's main loop", timeout=90)
        time.sleep(1)  # the preset trackers read the service's reply
        for name, proc in daemons:
            assert proc.poll() is None, (name, proc.returncode, proc.stderr.read()[-2000:])
    finally:
        for _, proc in daemons:
            proc.terminate()
            proc.wait(timeout=30)
    hostile.check()


def hostile_device(hostile):
    """Makes every device reply of the camera carry the hostile values."""
    camera = hostile.camera
    text = {name: dbus_text(v) for name, v in hostile.values(utf8=False).items()}
    raw = hostile.values(nul=True)
    storages = [{"disk_id": "SD_DISK", "friendly_name": "SD card", "mount_point": "/var/spool/storage/SD_DISK",
                 "status": "OK", "disk_type": 1}]
    storages += [{"disk_id": v, "friendly_name": v, "mount_point": v, "status": v} for v in text.values()]
    camera.set_storages(storages)
    camera.call_mock("streamer", "SetStreams", json.dumps(list(text.values())))
    camera.call_mock("temperature", "SetState", json.dumps(
        {"temperatures": [40.0, -1e308, 1e308], "heaters": list(text.values()), "fans": list(text.values())}))
    camera.start_service("ptz1", {"presets": list(text.values())})
    lines = b"".join(v + b"\n" for v in raw.values())
    surrogates = lines.decode("utf-8", "surrogateescape")
    camera.set_api_route(SENSOR_LIST, "".join(
        f"root.TemperatureControl.Sensor.S{i}.Name={v}\n" for i, v in enumerate(surrogates.split("\n")[:20])))
    camera.set_api_route(SERVER_REPORT, REPORT + surrogates)
    for name in ("meminfo", "net/dev", "buddyinfo", "vmstat", "interrupts", "loadavg", "stat"):
        target = camera.path("/proc") / name
        original = Path("/proc", name).read_bytes()
        target.unlink()
        # Hostile lines between the real ones, and a last one without a line end.
        target.write_bytes(original[:400] + b"\n" + lines + b": 5 kB\n" + original[400:] + lines.rstrip(b"\n"))
    camera.df_override.write_bytes(b"Filesystem 1024-blocks Used Available Capacity Mounted on\n" + lines +
                                   b"/dev/mmcblk0p1 1000000 420000 580000 42% /var/spool/storage\n" + lines)
    # du, ps and top first on PATH: the real tool's output with hostile lines around it.
    for tool, real in (("du", "/usr/bin/du"), ("ps", "/bin/busybox ps"), ("top", "/bin/busybox top")):
        output = camera.workdir / f"{tool}.hostile"
        output.write_bytes(lines)
        script = camera.tools / tool
        script.unlink(missing_ok=True)
        script.write_text(f"#!/bin/sh\ncat '{output}'\n{real} \"$@\"\ncat '{output}'\n")
        script.chmod(0o755)


def hostile_process(camera):
    """Another package's process that named itself: the kernel's name (comm)
    and the command line are the process's own choice, line feeds included.
    The process lists show it among the packages' processes."""
    folder = camera.path("/usr/local/packages") / "Hostile"
    folder.mkdir(parents=True, exist_ok=True)
    rename = "import ctypes, time; ctypes.CDLL(None).prctl(15, b'ev\\nINJECTED', 0, 0, 0); time.sleep(600)"
    process = subprocess.Popen(["/usr/bin/python3", "-c", rename, f"{folder}/run", "a\nINJECTED"])
    comm = Path(f"/proc/{process.pid}/comm")
    wait_until(lambda: comm.read_bytes() == b"ev\nINJECTED\n", "the process's new name")
    return process


def test_device_replies(hostile):
    """A whole session with every device reply hostile: start, the daemon's
    start-up and first ticks (every collector and snapshot), its scheduled
    check and consumption report, a preset movement, the status report and
    the end with its archive."""
    hostile_device(hostile)
    camera = hostile.camera
    renamed = hostile_process(camera)
    hostile.start()
    reply = hostile.run("begin_monitor_session", "SD_DISK", SERIAL, "Q6135-LE", "11.8.64", "root",
                        stdin=b"pass\n")
    assert cgi_body(reply) == b"Session started."
    daemon = camera.spawn("trelvik_daemon", SERIAL, "ZURN Q6075-E PTZ", "PTZ Dome", "root", stdin=subprocess.PIPE,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    daemon.stdin.write(b"pass\n")
    daemon.stdin.close()
    try:
        wait_until(lambda: "Starting main loop." in debug_texts(camera), "the daemon's main loop")
        # Signals sent before the tracker has subscribed are lost: repeat
        # until one shows, then send the odd ones.
        def moved():
            camera.call_mock("ptz1", "EmitPresetStatus", 2, 1)
            return any(text.startswith("Preset Movement") for text in debug_texts(camera) + info_texts(camera))
        wait_until(moved, "a preset movement line")
        for preset in (2, 5, 0, 4294967295):
            camera.call_mock("ptz1", "EmitPresetStatus", 1, preset)
        commands = b"pass\ntick 0\ntick 1\ntick 2\ncheck\nconsumption\ncounters\n"
        result = camera.run_driver("driver_daemon", "root", stdin=commands, timeout=120)
        assert result.returncode == 0, (result.returncode, result.stderr[-2000:])
        assert daemon.poll() is None, (daemon.returncode, daemon.stderr.read()[-2000:])
    finally:
        daemon.terminate()
        daemon.wait(timeout=30)
        renamed.kill()
        renamed.wait(timeout=30)
    json.loads(cgi_body(hostile.run("status_report", SERIAL)).decode("utf-8", "surrogateescape"))
    # The renamed process is listed on one line of its own, its name blanked.
    storage = camera.path("/var/spool/storage/SD_DISK")
    listed = [line for path in storage.rglob("zeda_processes.csv") for line in path.read_bytes().split(b"\n")]
    rows = [line for line in listed if b"INJECTED" in line]
    assert rows and all(b",Hostile," in row and b"{ev INJECTED} /usr/bin/python3 -c " in row for row in rows), rows
    end_session(hostile)
    hostile.check()


WEB_STATUSES = (b"Status: 200 OK\r\n", b"Status: 400 Bad Request\r\n", b"Status: 403 Forbidden\r\n",
                b"Status: 404 Not Found\r\n", b"Status: 405 Method Not Allowed\r\n")


def test_web_entry_queries(hostile):
    """The web entry program in front of the real actions: each value as the
    whole query string and percent-encoded into every parameter, by GET and
    by POST from the operator page."""
    camera = hostile.camera
    (camera.localdata / "device.conf").write_text(
        f"serial_number={SERIAL}\nmodel_name=Q6135-LE\nfirmware_version=11.8.64\n"
        "full_name=ZURN Q6135-LE Network Camera\napi_user=root\n")
    password = camera.localdata / "api_password"
    password.write_text("pass\n")
    password.chmod(0o600)
    hostile.start()
    for name, value in hostile.values().items():
        encoded = quote_from_bytes(value, safe="").encode()
        queries = [value] + [b"action=" + action + b"&" + key + b"=" + encoded for action, key in (
            (b"begin", b"storage"), (b"ptz_times", b"times"), (b"ptz_interval", b"minutes"),
            (b"download", b"name"), (b"status", b"x"))] + [b"action=" + encoded]
        for query in queries:
            for method in (b"GET", b"POST"):
                env = camera.env({"GATEWAY_INTERFACE": "CGI/1.1", "HTTP_X_REQUESTED_WITH": "trelvik"})
                env.update({"QUERY_STRING": query, "REQUEST_METHOD": method})
                result = subprocess.run([camera.program("trelvik_cgi")], capture_output=True, env=env,
                                        timeout=120, cwd=camera.workdir)
                assert result.returncode == 0, (name, query[:100], result.returncode, result.stderr[-2000:])
                assert result.stdout.startswith(WEB_STATUSES), (name, query[:100], result.stdout[:200])
        camera.state_file.unlink(missing_ok=True)  # a session begun through the entry
    hostile.check()

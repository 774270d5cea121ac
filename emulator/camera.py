"""The emulated camera that the black-box tests and the demo run programs on.

Camera(workdir) lays out a device root under workdir/root (the programs see
it through TRELVIK_DEVICE_ROOT), starts a private D-Bus bus that stands in for
the system bus, mock device services on it (python3-dbusmock templates from
emulator/services), the device HTTP API on loopback behind the root's
usr/bin/curl, and puts busybox's ps, top and uptime first on PATH. Program
log lines are captured through a preload library into workdir/syslog.jsonl.
"""
import json
import os
import platform
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import dbus

HERE = Path(__file__).resolve().parent
SOURCE_DIR = HERE.parent
SERVICES = HERE / "services"
PYTHON = "/usr/bin/python3"  # Debian's, which has python3-dbusmock

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
"""

# Forwards the device-local API address to the emulator's port, then runs the
# real curl with the arguments otherwise unchanged.
CURL_WRAPPER = """#!/bin/sh
for arg do
  shift
  case $arg in
    http://{address}/*) arg="http://127.0.0.1:$(cat '{port_file}')/${{arg#http://{address}/}}" ;;
  esac
  set -- "$@" "$arg"
done
exec /usr/bin/curl "$@"
"""

# The device's df is busybox's. A test can make the partition look full by
# writing the whole output of df into the override file.
DF_WRAPPER = """#!/bin/sh
if [ -f '{override}' ]; then cat '{override}'; exit 0; fi
exec '{busybox}' df "$@"
"""

API_ADDRESS = "127.0.0.12"  # matches the device paths module
DEFAULT_API_USER = "root"
DEFAULT_API_PASSWORD = "pass"


def build_dir():
    return Path(os.environ.get("TRELVIK_BUILD_DIR", SOURCE_DIR / "build"))


def build_architecture():
    """The architecture the build under test is for ("x86_64", "aarch64")."""
    info = build_dir() / "package.info"
    if info.exists():
        for line in info.read_text().splitlines():
            if line.startswith("architecture="):
                return line.split("=", 1)[1]
    return platform.machine()


def helper_threads():
    """Threads that every program of the build has beside its own: qemu-user,
    which runs a build for another architecture, adds its RCU thread."""
    return 0 if build_architecture() == platform.machine() else 1


def device_busybox():
    """The camera's busybox: for the aarch64 build Debian's arm64 one, which
    tools/setup unpacks into .cache/, otherwise (or until then) the host's."""
    arm64 = SOURCE_DIR / ".cache" / "arm64" / "busybox"
    if build_architecture() == "aarch64" and arm64.exists():
        return str(arm64)
    return shutil.which("busybox") or "/bin/busybox"


def sanitized():
    return os.environ.get("TRELVIK_SANITIZE", "0") == "1"


class Camera:
    def __init__(self, workdir, api_user=DEFAULT_API_USER, api_password=DEFAULT_API_PASSWORD):
        # Absolute, because its programs run with other working folders (the
        # web server's CGI runs in cgi-bin/) and reach the bus and the API by it.
        self.workdir = Path(workdir).absolute()
        self.root = self.workdir / "root"
        self.tools = self.workdir / "tools"
        self.syslog = self.workdir / "syslog.jsonl"
        self.bus_socket = self.workdir / "bus.socket"
        self.api_routes = self.workdir / "api_routes.json"
        self.api_port_file = self.workdir / "api.port"
        self.df_override = self.workdir / "df_override.txt"
        self.api_user = api_user
        self.api_password = api_password
        self._bus = None
        self._api = None
        self._services = {}
        self._routes = {}
        self._delays = {}

    # ----- life cycle -----------------------------------------------------
    def start(self):
        self.workdir.mkdir(parents=True, exist_ok=True)
        self._lay_out_root()
        self._lay_out_tools()
        self._start_bus()
        self._start_api()
        return self

    def stop(self):
        # Package scripts started in the background outlive the programs
        # that started them; they all run on paths inside this root.
        subprocess.run(["pkill", "-f", str(self.root)], check=False)
        for name in list(self._services):
            self.stop_service(name)
        for proc in (self._api, self._bus):
            if proc is not None:
                _terminate(proc)
        self._api = self._bus = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    # ----- the device root ------------------------------------------------
    def path(self, absolute):
        """A device path inside the root."""
        return self.root / absolute.lstrip("/")

    @property
    def package(self):
        return self.path("/usr/local/packages/Trelvik")

    @property
    def localdata(self):
        return self.package / "localdata"

    @property
    def state_file(self):
        return self.localdata / "current_monitoring_session.txt"

    def add_edge_storage(self, disk_id):
        folder = self.path("/var/spool/storage") / disk_id
        folder.mkdir(parents=True, exist_ok=True)
        return folder

    def link_real_proc(self, *names):
        for name in names:
            target = self.path("/proc") / name
            target.parent.mkdir(parents=True, exist_ok=True)
            if target.exists() or target.is_symlink():
                target.unlink()
            target.symlink_to(Path("/proc") / name)

    def write_proc(self, name, text):
        target = self.path("/proc") / name
        target.parent.mkdir(parents=True, exist_ok=True)
        if target.is_symlink():
            target.unlink()
        target.write_text(text)

    def set_df_output(self, text):
        """Makes the device's df print `text`; None restores busybox df."""
        if text is None:
            self.df_override.unlink(missing_ok=True)
        else:
            self.df_override.write_text(text)

    def set_df_percent(self, percent, path="/var/spool/storage"):
        self.set_df_output(
            "Filesystem           1024-blocks    Used Available Capacity Mounted on\n"
            f"/dev/mmcblk0p1         1000000  {percent * 10000:6d}    {1000000 - percent * 10000:6d}      {percent}% {path}\n")

    def _lay_out_root(self):
        for folder in ("usr/local/packages/Trelvik/localdata", "usr/local/packages/Trelvik/shell",
                       "usr/bin", "bin", "var/spool/storage", "etc/ws/onvif/media",
                       "tmp/radar-diagnostics", "proc/net", "var/log"):
            (self.root / folder).mkdir(parents=True, exist_ok=True)
        shell_src = SOURCE_DIR / "shell"
        if shell_src.is_dir():
            for script in shell_src.iterdir():
                if script.is_file():
                    dest = self.package / "shell" / script.name
                    shutil.copy2(script, dest)
        # The scripts hand their samples to the package's sampler, installed
        # beside their folder.
        sampler = self.package / "trelvik_sampler"
        if not sampler.is_symlink():
            sampler.symlink_to(build_dir() / "bin" / "trelvik_sampler")
        self._write_executable(self.path("/usr/bin/curl"), CURL_WRAPPER.format(
            address=API_ADDRESS, port_file=self.api_port_file))
        self._write_executable(self.path("/bin/df"), DF_WRAPPER.format(override=self.df_override,
                                                                       busybox=device_busybox()))
        tail = self.path("/usr/bin/tail")
        if not tail.exists():
            tail.symlink_to("/usr/bin/tail")
        media = self.path("/etc/ws/onvif/media/media.conf")
        if not media.exists():
            media.write_text("<media>\n  <profile name=\"default\"/>\n</media>\n")
        self.link_real_proc("net/dev", "meminfo", "interrupts", "vmstat", "buddyinfo", "loadavg", "stat")

    def _lay_out_tools(self):
        self.tools.mkdir(parents=True, exist_ok=True)
        busybox = device_busybox()
        for tool in ("ps", "top", "uptime"):
            link = self.tools / tool
            if not link.exists():
                link.symlink_to(busybox)

    @staticmethod
    def _write_executable(path, text):
        path.write_text(text)
        path.chmod(0o755)

    # ----- D-Bus ------------------------------------------------------------
    @property
    def bus_address(self):
        return f"unix:path={self.bus_socket}"

    def _start_bus(self):
        config = self.workdir / "bus.conf"
        config.write_text(BUS_CONFIG.format(socket=self.bus_socket))
        self._bus = subprocess.Popen(["dbus-daemon", f"--config-file={config}", "--nofork", "--nopidfile"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _wait_for(lambda: self.bus_socket.exists(), "the private bus")

    def bus(self):
        return dbus.bus.BusConnection(self.bus_address)

    def start_service(self, name, parameters=None):
        """Starts the mock of emulator/services/<name>.py; returns its call log path."""
        template = SERVICES / f"{name}.py"
        names = {}
        exec(compile("\n".join(l for l in template.read_text().splitlines()
                               if l.startswith(("BUS_NAME", "MAIN_OBJ"))), str(template), "exec"), names)
        log = self.workdir / f"{name}.calls.log"
        env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=self.bus_address)
        proc = subprocess.Popen([PYTHON, "-m", "dbusmock", "--system", "--template", str(template),
                                 "-l", str(log), "-p", json.dumps(parameters or {})],
                                env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        conn = self.bus()
        try:
            _wait_for(lambda: conn.name_has_owner(names["BUS_NAME"]) or proc.poll() is not None,
                      f"the {name} service")
        finally:
            conn.close()
        if proc.poll() is not None:
            raise RuntimeError(f"mock {name} failed: {proc.stderr.read().decode()}")
        self._services[name] = (proc, names["BUS_NAME"], names["MAIN_OBJ"], log)
        return log

    def stop_service(self, name):
        _terminate(self._services.pop(name)[0])

    def service_object(self, name):
        _, bus_name, path, _ = self._services[name]
        conn = self.bus()
        return conn, conn.get_object(bus_name, path)

    def call_mock(self, name, method, *args):
        """Calls a control method of a mock (interface org.freedesktop.DBus.Mock)."""
        conn, obj = self.service_object(name)
        try:
            return obj.get_dbus_method(method, "org.freedesktop.DBus.Mock")(*args)
        finally:
            conn.close()

    def start_storage_service(self, storages):
        return self.start_service("storage", {"storages": storages})

    def set_storages(self, storages):
        self.call_mock("storage", "SetStorages", json.dumps(storages))

    # ----- device HTTP API ------------------------------------------------
    def set_api_route(self, path, body):
        self._routes[path] = body
        self._write_routes()

    def set_api_delay(self, path, seconds):
        """Makes the API answer `path` only after `seconds` (0: at once)."""
        self._delays[path] = seconds
        self._write_routes()

    def set_api_credentials(self, user, password):
        self.api_user, self.api_password = user, password
        self._write_routes()

    def _write_routes(self):
        tmp = self.api_routes.with_suffix(".tmp")
        tmp.write_text(json.dumps({"credentials": [self.api_user, self.api_password], "routes": self._routes,
                                   "delays": self._delays}))
        tmp.rename(self.api_routes)

    def _start_api(self):
        self._write_routes()
        self.api_port_file.unlink(missing_ok=True)
        self._api = subprocess.Popen([PYTHON, str(HERE / "api_server.py"), str(self.api_routes),
                                      str(self.api_port_file)])
        _wait_for(lambda: self.api_port_file.exists(), "the device API")

    # ----- running programs ---------------------------------------------------
    def env(self, extra=None):
        path = os.pathsep.join([str(self.tools), "/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin",
                                "/sbin", "/bin"])
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("LANG", "LC_")) and key not in ("LANGUAGE", "LD_PRELOAD")}
        env.update({
            "PATH": path,
            "TRELVIK_DEVICE_ROOT": str(self.root),
            "DBUS_SYSTEM_BUS_ADDRESS": self.bus_address,
            "TRELVIK_SYSLOG_CAPTURE": str(self.syslog),
            # "$LIB" is expanded by each process's loader to its own
            # multiarch folder: under an aarch64 build the programs load the
            # aarch64 capture and the host's tools they start the host's one.
            "LD_PRELOAD": str(build_dir()) + "/$LIB/libtrelvik_syslog_capture.so",
        })
        if sanitized():
            env["ASAN_OPTIONS"] = "verify_asan_link_order=0:detect_leaks=1:abort_on_error=0:exitcode=86"
            env["UBSAN_OPTIONS"] = "print_stacktrace=1:halt_on_error=1:exitcode=87"
            env["LSAN_OPTIONS"] = "exitcode=88"
        if extra:
            env.update(extra)
        return env

    def program(self, name):
        return str(build_dir() / "bin" / name)

    def run(self, name, *args, stdin=None, timeout=60, env=None, cwd=None):
        """Runs a built program to its end; stdout and stderr as bytes."""
        return subprocess.run([self.program(name), *args], input=stdin, capture_output=True,
                              timeout=timeout, env=self.env(env), cwd=cwd or self.workdir)

    def run_driver(self, name, *args, stdin=None, timeout=60, env=None):
        """Runs a test driver (build/tests/driver_*) that exposes library operations."""
        return subprocess.run([str(build_dir() / "tests" / name), *args], input=stdin, capture_output=True,
                              timeout=timeout, env=self.env(env), cwd=self.workdir)

    def spawn(self, name, *args, env=None, **kwargs):
        return subprocess.Popen([self.program(name), *args], env=self.env(env), cwd=self.workdir, **kwargs)

    def shell(self, command, timeout=60):
        """Runs a command line in the camera's environment (busybox tools first)."""
        return subprocess.run(["sh", "-c", command], capture_output=True, timeout=timeout, env=self.env(),
                              cwd=self.workdir)

    # ----- the captured system log ---------------------------------------------
    def logs(self):
        if not self.syslog.exists():
            return []
        return [json.loads(line) for line in self.syslog.read_text().splitlines() if line]

    def log_texts(self, level=None):
        return [entry["text"] for entry in self.logs() if level is None or entry["level"] == level]

    def clear_logs(self):
        self.syslog.unlink(missing_ok=True)


# Password files that every program refuses: readable by the group or by
# others, or a link.
LOOSE_SECRET_MODES = (0o644, 0o640, 0o604, "link")


def plant_secret(path, text, mode=0o600):
    """Writes the password file `path` with `mode`; for mode "link", makes it
    a link to a private file beside it that holds `text`."""
    path.unlink(missing_ok=True)
    if mode == "link":
        target = path.with_name(path.name + ".target")
        plant_secret(target, text)
        path.symlink_to(target)
    else:
        path.write_text(text)
        path.chmod(mode)


def _terminate(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def _wait_for(predicate, what, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.02)
    raise TimeoutError(f"timed out waiting for {what}")


def wait_until(predicate, what, timeout=30.0):
    """Polls `predicate` until it holds; for tests that wait on background work."""
    _wait_for(predicate, what, timeout)

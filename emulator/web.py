"""The emulated camera's web front end: Debian's lighttpd on a loopback port
serving the built html/ folder and running the entry program (trelvik_cgi)
as CGI, with HTTP basic authentication on the CGI paths as the camera's own
web server asks for it.

WebServer(camera) writes the package's device configuration and the device
API password file into the camera's data folder, a lighttpd configuration
and a plain user file into the camera's work folder, and starts lighttpd.

Run as a program it serves a whole emulated camera:
  python3 -m emulator.web DIR            with the daemon, until Ctrl-C (tools/web)
  python3 -m emulator.web --control DIR  for the browser tests: prints one JSON
      line with the address, then takes one JSON command a line on standard
      input and answers each with one JSON line (see CONTROL below).
"""
import json
import os
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

from emulator.camera import Camera, build_dir, _terminate, _wait_for
from emulator.device import SD_CARD, populate

SERIAL = "ACCC8E000001"
DEVICE_FACTS = {"serial_number": SERIAL, "model_name": "Q6135-LE", "firmware_version": "11.8.64",
                "full_name": "ZURN Q6135-LE Network Camera"}
WEB_USER = "operator"
WEB_PASSWORD = "operator-pass"

LIGHTTPD_CONF = """server.modules = ("mod_access", "mod_alias", "mod_auth", "mod_authn_file", "mod_cgi", "mod_setenv")
server.document-root = "{html}"
server.bind = "127.0.0.1"
server.port = {port}
server.errorlog = "{workdir}/lighttpd.error.log"
server.upload-dirs = ("{workdir}")
index-file.names = ("index.html")
mimetype.assign = (".html" => "text/html; charset=utf-8", ".css" => "text/css; charset=utf-8",
                   ".js" => "text/javascript; charset=utf-8", ".mjs" => "text/javascript; charset=utf-8",
                   ".svg" => "image/svg+xml", ".png" => "image/png", ".json" => "application/json")
alias.url = ("/cgi-bin/" => "{cgi_dir}/")
$HTTP["url"] =~ "^/cgi-bin/" {{
  cgi.assign = ("" => "")
}}
auth.backend = "plain"
auth.backend.plain.userfile = "{users}"
auth.require = ("/cgi-bin/" => ("method" => "basic", "realm" => "Trelvik camera", "require" => "valid-user"))
setenv.add-environment = ({environment})
"""


def _free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _lighttpd_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class WebServer:
    def __init__(self, camera, user=WEB_USER, password=WEB_PASSWORD):
        self.camera = camera
        self.user, self.password = user, password
        self.workdir = camera.workdir / "web"
        self.port = None
        self._proc = None

    @property
    def url(self):
        return f"http://127.0.0.1:{self.port}/"

    def write_device_config(self, facts=None, api_password=None):
        """The package's configuration as the installation writes it on the device."""
        facts = dict(DEVICE_FACTS, api_user=self.camera.api_user, **(facts or {}))
        config = self.camera.localdata / "device.conf"
        config.write_text("".join(f"{key}={value}\n" for key, value in facts.items()))
        secret = self.camera.localdata / "api_password"
        secret.write_text((self.camera.api_password if api_password is None else api_password) + "\n")
        # Only the user the web server runs CGI programs as may read it.
        secret.chmod(0o600)

    def start(self):
        self.workdir.mkdir(parents=True, exist_ok=True)
        cgi_dir = self.workdir / "cgi-bin"
        cgi_dir.mkdir(exist_ok=True)
        entry = cgi_dir / "trelvik.cgi"
        if not entry.is_symlink():
            # A link: the entry program finds the actions beside its real file.
            entry.symlink_to(build_dir() / "bin" / "trelvik_cgi")
        users = self.workdir / "users"
        users.write_text(f"{self.user}:{self.password}\n")
        users.chmod(0o600)
        self.write_device_config()
        environment = ", ".join(f"{_lighttpd_string(k)} => {_lighttpd_string(v)}"
                                for k, v in self.camera.env().items()
                                if k.startswith(("TRELVIK_", "DBUS_", "ASAN_", "UBSAN_", "LSAN_"))
                                or k in ("PATH", "LD_PRELOAD"))
        # A restart keeps the address, as the camera's web server does.
        self.port = self.port or _free_port()
        conf = self.workdir / "lighttpd.conf"
        conf.write_text(LIGHTTPD_CONF.format(html=build_dir() / "html", port=self.port, workdir=self.workdir,
                                             cgi_dir=cgi_dir, users=users, environment=environment))
        self._proc = subprocess.Popen(["lighttpd", "-D", "-f", str(conf)], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.PIPE)
        _wait_for(lambda: self._answers() or self._proc.poll() is not None, "lighttpd")
        if self._proc.poll() is not None:
            raise RuntimeError(f"lighttpd failed: {self._proc.stderr.read().decode()}")
        return self

    def _answers(self):
        try:
            with socket.create_connection(("127.0.0.1", self.port), timeout=0.2):
                return True
        except OSError:
            return False

    def stop(self):
        if self._proc is not None:
            _terminate(self._proc)
            self._proc = None


def start_camera(workdir):
    """A whole emulated camera with its web front end; returns (camera, web)."""
    camera = Camera(workdir).start()
    try:
        populate(camera)
        return camera, WebServer(camera).start()
    except BaseException:
        camera.stop()
        raise


def start_daemon(camera):
    log = open(camera.workdir / "daemon-output.txt", "wb")
    daemon = camera.spawn("trelvik_daemon", SERIAL, DEVICE_FACTS["full_name"], "Network Camera", camera.api_user,
                          stdin=subprocess.PIPE, stdout=log, stderr=log)
    daemon.stdin.write(camera.api_password.encode() + b"\n")
    daemon.stdin.close()
    return daemon


def _storages(states):
    """Storage service records for a list of {"disk_id", ...flags} overrides."""
    return [dict(SD_CARD, **state) for state in states]


# Commands of --control mode, each {"command": name, ...arguments}.
CONTROL = {
    "set_storages": lambda cam, web, a: cam.set_storages(_storages(a["storages"])),
    "set_df_percent": lambda cam, web, a: cam.set_df_percent(a["percent"]),
    "set_api_password_file": lambda cam, web, a: web.write_device_config(api_password=a["password"]),
    "remove_api_password_file": lambda cam, web, a: (cam.localdata / "api_password").unlink(),
    "set_device_config": lambda cam, web, a: web.write_device_config(facts=a["facts"]),
    "remove_device_config": lambda cam, web, a: (cam.localdata / "device.conf").unlink(),
    "session_active": lambda cam, web, a: cam.state_file.exists(),
    "set_api_route": lambda cam, web, a: cam.set_api_route(a["path"], a["body"]),
    "stop_web": lambda cam, web, a: web.stop(),
    "start_web": lambda cam, web, a: (web._proc is None and web.start()) and None,
    "logs": lambda cam, web, a: cam.log_texts(),
    "clear_logs": lambda cam, web, a: cam.clear_logs(),
    "root": lambda cam, web, a: str(cam.root),
}


def serve_control(workdir):
    camera, web = start_camera(workdir)
    try:
        print(json.dumps({"url": web.url, "user": web.user, "password": web.password, "root": str(camera.root),
                          "serial": SERIAL}), flush=True)
        for line in sys.stdin:
            if not line.strip():
                continue
            request = json.loads(line)
            try:
                result = CONTROL[request["command"]](camera, web, request)
                print(json.dumps({"ok": True, "result": result}), flush=True)
            except Exception as error:  # the test sees the failure in its reply
                print(json.dumps({"ok": False, "error": repr(error)}), flush=True)
    finally:
        web.stop()
        camera.stop()


def serve_interactive(workdir):
    camera, web = start_camera(workdir)
    daemon = start_daemon(camera)
    try:
        print(f"Trelvik on the emulated camera: {web.url}")
        print(f"  user {web.user}, password {web.password}")
        print(f"  device root {camera.root}")
        print(f"  trelvik_daemon pid {daemon.pid}")
        print("Ctrl-C stops the camera.", flush=True)
        while daemon.poll() is None:
            time.sleep(1)
        print("trelvik_daemon ended; stopping.", file=sys.stderr)
    except KeyboardInterrupt:
        pass
    finally:
        _terminate(daemon)
        web.stop()
        camera.stop()


def _interrupt(*_):
    raise KeyboardInterrupt


def main(argv):
    # A terminating signal unwinds like Ctrl-C, so every helper process stops.
    # SIGINT too, set here: a shell starts a background job with SIGINT
    # ignored, and Python keeps an ignored SIGINT ignored.
    signal.signal(signal.SIGTERM, _interrupt)
    signal.signal(signal.SIGINT, _interrupt)
    args = [a for a in argv if a != "--control"]
    if len(args) != 1:
        print("usage: python3 -m emulator.web [--control] WORKDIR", file=sys.stderr)
        return 2
    try:
        (serve_control if "--control" in argv else serve_interactive)(Path(args[0]).absolute())
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

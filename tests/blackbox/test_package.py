"""The installable package on the emulated camera: the archive that
tools/package makes from the build under test, installed into the camera's
root by its own install script, started through its own start script,
upgraded while a session runs, and removed. Everything runs from the
installed tree, not from the build."""
import json
import os
import shutil
import signal
import subprocess
import tarfile
import time
from pathlib import Path

import pytest

from emulator.camera import LOOSE_SECRET_MODES, SOURCE_DIR, build_dir, plant_secret, wait_until
from emulator.device import populate

SERIAL = "ACCC8E000001"
CONF = ("SERIAL_NUMBER=ACCC8E000001\n"
        "FULL_NAME=ZURN Q6135-LE Network Camera\n"
        "PRODUCT_TYPE=Network Camera\n"
        "API_USER=root\n"
        "EVENT_TOOL=/usr/bin/eventprint\n")
EVENTS = SOURCE_DIR / "tests" / "fixtures" / "events" / "example.txt"
PASSWORD_ERROR = "Failed to read arg_nemor_pass from stdin."


def package_version(bump=0):
    info = dict(line.split("=", 1) for line in (build_dir() / "package.info").read_text().splitlines())
    major, minor, patch = info["version"].split(".")
    return f"{major}.{minor}.{int(patch) + bump}"


def unpacked_package(tmp_path, version):
    """Makes the package of the build under test and unpacks it; returns the
    unpacked Trelvik folder."""
    made = subprocess.run([str(SOURCE_DIR / "tools" / "package"), "--build-dir", str(build_dir()),
                           "--version", version, "--out", str(tmp_path)],
                          capture_output=True, check=True, timeout=120)
    archive = Path(made.stdout.decode().strip())
    assert archive.name.startswith(f"trelvik-{version}-")
    stage = tmp_path / f"stage-{version}"
    with tarfile.open(archive) as tar:
        tree = "usr/local/packages/Trelvik"
        assert all(tree.startswith(name) or name.startswith(tree + "/") for name in tar.getnames())
        tar.extractall(stage)
    return stage / "usr/local/packages/Trelvik"


class Package:
    """The installed package on one emulated camera."""

    def __init__(self, camera):
        self.camera = camera
        self.dir = camera.package
        self.run_dir = camera.path("/var/run/trelvik")

    def script(self, folder, name, *args):
        return subprocess.run([str(folder / "startup" / name), *args], capture_output=True, timeout=60,
                              env=self.camera.env(), cwd=self.camera.workdir)

    def install(self, unpacked):
        result = self.script(unpacked, "install.sh")
        assert result.returncode == 0, result.stderr
        return result

    def configure(self, password=b"pass\n"):
        (self.dir / "conf" / "trelvik.conf").write_text(CONF)
        (self.dir / "conf" / "api_password").write_bytes(password)

    def start_up(self, command):
        return self.script(self.dir, "trelvik.sh", command)

    def pid(self, name):
        try:
            return int((self.run_dir / f"{name}.pid").read_text())
        except (FileNotFoundError, ValueError):
            return None

    def run_program(self, name, *args, stdin=None):
        return subprocess.run([str(self.dir / name), *args], input=stdin, capture_output=True, timeout=60,
                              env=self.camera.env(), cwd=self.camera.workdir)

    def processes(self):
        """Command lines of every process that runs from the camera's root."""
        found = subprocess.run(["pgrep", "-af", str(self.camera.root)], capture_output=True, text=True)
        return [line for line in found.stdout.splitlines()
                if "api_server.py" not in line and "pgrep" not in line]


@pytest.fixture
def package(camera):
    # Prints two events, then runs until stopped, as the device's tool does;
    # its command line names the camera's root, so a tool left running shows.
    camera.path("/usr/bin/eventprint").write_text(f"#!/bin/sh\ncat '{EVENTS}'\nwhile sleep 1; do :; done\n")
    camera.path("/usr/bin/eventprint").chmod(0o755)
    return Package(camera)


def test_install_lays_out_the_tree_and_start_refuses_what_would_leak_or_spin(package, camera, tmp_path):
    unpacked = unpacked_package(tmp_path, package_version())
    package.install(unpacked)

    manifest = json.loads((package.dir / "manifest.json").read_text())
    built = sorted(p.name for p in (build_dir() / "bin").iterdir())
    assert sorted(p["name"] for p in manifest["programs"]) == built
    for program in manifest["programs"]:
        assert (package.dir / program["name"]).stat().st_size == program["size"]
        assert os.access(package.dir / program["name"], os.X_OK)
    assert manifest["version"] == package_version()
    assert sorted(p.name for p in (package.dir / "shell").iterdir()) == sorted(
        p.name for p in (SOURCE_DIR / "shell").iterdir())
    assert list((package.dir / "localdata").iterdir()) == []
    if (build_dir() / "html").is_dir():
        assert not list((package.dir / "html").rglob("*.cmake"))
        assert sorted(p.relative_to(package.dir / "html") for p in (package.dir / "html").rglob("*")) == sorted(
            p.relative_to(build_dir() / "html") for p in (build_dir() / "html").rglob("*")
            if "CMakeFiles" not in p.parts and p.suffix != ".cmake")
    assert (package.dir / "conf" / "api_password").stat().st_mode & 0o777 == 0o600

    # The template leaves the device facts empty: nothing may start with them.
    refused = package.start_up("start")
    assert refused.returncode != 0 and b"must be set" in refused.stderr
    package.configure()
    (package.dir / "conf" / "api_password").chmod(0o644)
    refused = package.start_up("start")
    assert refused.returncode != 0 and b"readable by its owner only" in refused.stderr
    assert package.start_up("status").returncode != 0
    assert package.processes() == []

    # A daemon that ends at once (no password line) is started again, but
    # not more than once in 10 seconds.
    package.configure(password=b"")
    (package.dir / "conf" / "api_password").chmod(0o600)
    started = time.monotonic()
    assert package.start_up("start").returncode == 0
    wait_until(lambda: camera.log_texts("err"), "the daemon's first password error")
    time.sleep(max(0.0, started + 15 - time.monotonic()))
    errors = [t for t in camera.log_texts("err") if t.endswith(PASSWORD_ERROR)]
    assert len(errors) == 2
    assert package.start_up("stop").returncode == 0
    assert package.start_up("status").returncode != 0
    assert package.processes() == []


def test_start_script_refuses_loose_password_files_and_trusts_no_pid_file(package, camera, tmp_path):
    unpacked = unpacked_package(tmp_path, package_version())
    package.install(unpacked)
    package.configure()
    # The install names the web entry's password file that the operator left loose.
    web_secret = package.dir / "localdata" / "api_password"
    plant_secret(web_secret, "pass\n", 0o640)
    assert f"{web_secret} must be a regular file readable by its owner only".encode() in package.install(unpacked).stderr
    plant_secret(web_secret, "pass\n")
    assert str(web_secret).encode() not in package.install(unpacked).stderr
    secret = package.dir / "conf" / "api_password"
    for mode in LOOSE_SECRET_MODES:
        plant_secret(secret, "pass\n", mode)
        refused = package.start_up("start")
        assert refused.returncode != 0, mode
        assert len(refused.stderr.splitlines()) == 1 and str(secret).encode() in refused.stderr, mode
    assert package.processes() == []
    plant_secret(secret, "pass\n")

    # After a crash the supervisor's process id went to another process,
    # which leads a process group of its own: nothing may signal it.
    other = subprocess.Popen(["sleep", "300"], start_new_session=True)
    try:
        pid_file = package.run_dir / "trelvik.pid"
        package.run_dir.mkdir(parents=True, exist_ok=True)
        for command, status, content in (("status", 3, f"{other.pid}\n"), ("stop", 0, f"{other.pid} 1\n"),
                                         ("start", 0, f"{other.pid}\n")):
            pid_file.write_text(content)
            result = package.start_up(command)
            assert result.returncode == status, (command, result.stderr)
            assert b"stale process id file" in result.stderr, command
            assert other.poll() is None, command
        supervisor = int(pid_file.read_text().split()[0])
        assert package.start_up("status").stdout == f"running (process {supervisor})\n".encode()
        # The supervisor's own id with another start time is not it either.
        pid_file.write_text(f"{supervisor} 1\n")
        assert package.start_up("status").returncode == 3
        pid_file.write_text(f"{supervisor}\n")
        assert package.start_up("stop").returncode == 0
        assert other.poll() is None
    finally:
        other.kill()
        other.wait()
    assert package.processes() == []


@pytest.mark.skipif(shutil.which("systemd-analyze") is None, reason="systemd-analyze is not installed")
def test_the_unit_is_sandboxed():
    scored = subprocess.run(["systemd-analyze", "security", "--offline=true", "--no-pager",
                             str(SOURCE_DIR / "package" / "trelvik.service")], capture_output=True, text=True)
    assert scored.returncode == 0, scored.stderr
    exposure = float(scored.stdout.split("Overall exposure level for trelvik.service: ")[1].split()[0])
    assert exposure <= 3.5, scored.stdout


def data_points(session):
    text = (session / "Session_Information.txt").read_text()
    return int(text.split("Collected Data Points: ")[1].split()[0])


def test_session_survives_restarts_and_an_upgrade_and_outlives_removal(package, camera, tmp_path):
    populate(camera)
    package.install(unpacked_package(tmp_path, package_version()))
    package.configure()
    started = time.monotonic()
    assert package.start_up("start").returncode == 0
    wait_until(lambda: package.pid("trelvik_daemon"), "the daemon")
    daemon = package.pid("trelvik_daemon")
    assert str(package.dir / "trelvik_daemon") in Path(f"/proc/{daemon}/cmdline").read_text()

    begun = package.run_program("begin_monitor_session", "SD_DISK", SERIAL, "Q6135-LE", "11.8.64", "root",
                                stdin=b"pass\n")
    assert begun.stdout.endswith(b"Session started.")
    state_file = camera.state_file.read_bytes()
    state = dict(line.split(":", 1) for line in state_file.decode().splitlines())
    session = Path(state["SSPA"] + state["ACTI"])
    wait_until(lambda: "Metadata Event 2024-01-01T00:00:05Z onvif:Device/zurn:Status/Token/State"
               in camera.log_texts("info"), "the event listener's lines")

    # A daemon that dies is started again, but not sooner than 10 seconds
    # after its previous start.
    os.kill(daemon, signal.SIGKILL)
    wait_until(lambda: package.pid("trelvik_daemon") not in (None, daemon), "the restarted daemon", timeout=15)
    assert time.monotonic() - started > 9.5
    daemon = package.pid("trelvik_daemon")

    wait_until(lambda: data_points(session) == 1, "the first sampling tick", timeout=90)

    # The upgrade stops and starts the programs: the session goes on in the
    # same folder, and the new daemon's first tick samples again.
    newer = package_version(bump=1)
    package.install(unpacked_package(tmp_path, newer))
    assert json.loads((package.dir / "manifest.json").read_text())["version"] == newer
    assert (package.dir / "conf" / "trelvik.conf").read_text() == CONF
    assert camera.state_file.read_bytes() == state_file
    assert package.start_up("status").returncode == 0
    assert package.pid("trelvik_daemon") not in (None, daemon)
    wait_until(lambda: data_points(session) == 2, "the upgraded daemon's first tick", timeout=90)
    load = session / "system_monitoring" / "monitoring_load" / "load.csv"
    assert len(load.read_text().splitlines()) == 3  # the header and one row per tick

    removed = package.script(package.dir, "remove.sh")
    assert removed.returncode == 0, removed.stderr
    assert not package.dir.exists() and not package.run_dir.exists()
    assert package.processes() == []
    assert data_points(session) == 2
    assert (session / "Session_Information.txt").exists()

"""The durability rig: an emulated camera whose SD card and flash are ext4
images (or a small tmpfs card), with the fault injector, and the checks that
must hold after every power cut, kill or fault. Shared by
tests/blackbox/test_durability.py (bounded trials) and
tools/durability_campaign (long campaigns)."""
import re
import subprocess
import zipfile
from pathlib import Path

from cards import Ext4Image, Faults, TmpfsCard, power_cut, reboot
from emulator.camera import wait_until
from emulator.device import populate

SERIAL = "ACCC8E000001"

# Files appended by the package scripts in the background (their own pace,
# not the tick's), and by the stream collector, which the tick runs after
# the round's count.
SCRIPT_FOLDERS = {"monitoring_vmstatus", "monitoring_topstatus", "monitoring_zeda", "monitoring_streams"}
SCRIPT_FILES = {"power.csv"}
FAST_SCRIPTS = {"TRELVIK_SCRIPT_SAMPLES": "1", "TRELVIK_SCRIPT_INTERVAL": "0"}
ROW_START = re.compile(rb"(\w+,)?\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d,")


class Rig:
    def __init__(self, camera, card="ext4"):
        self.cam = camera
        self.sd = camera.path("/var/spool/storage/SD_DISK")
        self.cards = []
        if card == "ext4":
            self.cards.append(Ext4Image(camera.workdir / "sd.img", self.sd).create())
            self.cards.append(Ext4Image(camera.workdir / "flash.img", camera.localdata, size_mib=8).create())
        elif card == "tmpfs":
            self.cards.append(TmpfsCard(self.sd, size_kib=2048).create())
        self.faults = Faults(camera)
        populate(camera)

    def remove(self):
        for card in reversed(self.cards):
            card.remove()

    # programs
    def begin(self, env=None, storage="SD_DISK"):
        return self.cam.run("begin_monitor_session", storage, SERIAL, "Q6135-LE", "11.8.64", "root",
                            stdin=b"pass\n", env=env)

    def end(self, env=None):
        return self.cam.run("end_monitor_session", "root", stdin=b"pass\n", env=env)

    def ticks(self, *numbers, env=None):
        commands = "".join(f"tick {n}\n" for n in numbers)
        return self.cam.run_driver("driver_daemon", "root", SERIAL, stdin=b"pass\n" + commands.encode(),
                                   env=dict(FAST_SCRIPTS, **(env or {})), timeout=120)

    def counters(self, *numbers, env=None):
        commands = "".join(f"tick {n}\n" for n in numbers) + "counters\n"
        out = self.cam.run_driver("driver_daemon", "root", SERIAL, stdin=b"pass\n" + commands.encode(),
                                  env=dict(FAST_SCRIPTS, **(env or {})), timeout=120).stdout.decode()
        return [int(x) for x in out.split("done\n")[-2].split()]

    def daemon_driver(self, env=None):
        """A driver_daemon kept running: call it with a command, close() ends it."""
        proc = subprocess.Popen([str(Path(self.cam.program("x")).parent.parent / "tests" / "driver_daemon"), "root",
                                 SERIAL], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                env=self.cam.env(dict(FAST_SCRIPTS, **(env or {}))), cwd=self.cam.workdir)
        proc.stdin.write(b"pass\n")

        def say(line):
            proc.stdin.write(line.encode() + b"\n")
            proc.stdin.flush()
            reply = b""
            while not reply.endswith(b"done\n"):
                chunk = proc.stdout.read1(4096)
                if not chunk:
                    raise RuntimeError(f"driver_daemon ended: {reply!r}")
                reply += chunk
            return reply.decode()[:-len("done\n")]

        def close():
            proc.stdin.close()
            proc.wait(timeout=60)

        say.close = close
        return say

    def spawn_stopped(self, program, *args, env=None):
        """Runs a program until the fault injector stops it; returns the process."""
        proc = self.cam.spawn(program, *args, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL)
        proc.stdin.write(b"pass\n")
        proc.stdin.close()
        return proc

    # what is on the card
    def state(self):
        if not self.cam.state_file.exists():
            return None
        return dict(line.split(":", 1) for line in self.cam.state_file.read_text().splitlines())

    def session_folders(self):
        app = self.sd / f"Trelvik_{SERIAL}"
        return sorted(p for p in app.iterdir() if p.is_dir()) if app.is_dir() else []

    def folder(self):
        state = self.state()
        return self.cam.path(state["SSPA"].removeprefix(str(self.cam.root))) / state["ACTI"] if state else None

    def cut_and_reboot(self, pids=()):
        reboot(self.cards, power_cut(self.cards, pids))
        self.cam.shell(f"pkill -KILL -f {self.cam.root}/")  # background scripts die with the power

    def errors(self, text):
        return [t for t in self.cam.log_texts("err") if text in t]


def csv_files(folder):
    monitoring = folder / "system_monitoring"
    return [p for p in monitoring.rglob("*.csv")
            if p.parent.name not in SCRIPT_FOLDERS and p.name not in SCRIPT_FILES
            and "monitoring_radar" not in p.parts]


def data_points(folder):
    info = (folder / "Session_Information.txt").read_text()
    return int(re.search(r"Collected Data Points: (\d+)", info).group(1))


def assert_counted_rows_present(folder):
    """Every row the information file counts as collected is in its file,
    whole. "network.csv" gets its first row at a process's second round."""
    counted = data_points(folder)
    assert counted >= 1
    files = csv_files(folder)
    assert len(files) > 20
    for path in files:
        expected = counted - 1 if path.name == "network.csv" else counted
        assert len(whole_rows(path)) >= expected, f"{path.name}: fewer rows than the {counted} counted"


def whole_rows(path):
    """The rows of a CSV file after its header; fails on NUL bytes, on a last
    row without its line end and on a row glued to the rest of another."""
    data = path.read_bytes()
    assert b"\0" not in data, f"NUL bytes in {path}"
    assert data == b"" or data.endswith(b"\n"), f"partial last row in {path}: {data[-40:]!r}"
    lines = data.splitlines()
    for row in lines[1:]:
        assert ROW_START.match(row) and row.count(b",") == lines[0].count(b","), f"broken row in {path}: {row!r}"
    return lines[1:]


def assert_valid_archive(folder):
    archive = folder.parent / (folder.name + ".zip")
    assert archive.is_file(), f"no archive for {folder.name}"
    with zipfile.ZipFile(archive) as z:
        assert z.testzip() is None
        assert f"{folder.name}/Session_Information.txt" in z.namelist()


def archive_settled(rig, folder):
    """Waits for a whole archive with no zip still running: a cut archive
    left at the name counts as nothing, since recovery has yet to remove it."""
    archive = folder.parent / (folder.name + ".zip")
    wait_until(lambda: archive.is_file() and zipfile.is_zipfile(archive)
               and b"zip --recurse-paths" not in rig.cam.shell("ps").stdout,
               "the background archive", timeout=60)


def end_invariant(rig, folder):
    """After a kill or cut during the end: the session runs on, or it has
    ended and the daemon archives it."""
    state = rig.state()
    if state is not None:
        assert rig.folder() == folder and (folder / "Session_Information.txt").is_file()
        return "running"
    rig.ticks(1)
    archive_settled(rig, folder)
    assert_valid_archive(folder)
    return "ended"


def begin_invariant(rig):
    """A session that is active exists on the card with its information file."""
    if rig.state() is None:
        return "none"
    folder = rig.folder()
    assert folder.is_dir(), "the state file names a folder that is not on the card"
    assert (folder / "Session_Information.txt").is_file(), "an active session without information file"
    assert (folder / "system_monitoring" / "monitoring_load").is_dir()
    return "active"


def reset_begin(rig):
    rig.cam.state_file.unlink(missing_ok=True)
    rig.cam.shell(f"rm -rf {rig.sd}/Trelvik_{SERIAL}")


def stopped(pid):
    try:
        return Path(f"/proc/{pid}/stat").read_text().split(") ")[1].startswith("T")
    except (FileNotFoundError, IndexError):
        return False

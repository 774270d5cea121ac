"""The whole session folder after the daemon's first sampling round on the
emulated camera, against a golden listing: every file name, every CSV header
and the shapes of the rows, with what cannot repeat (times, dates, counter
values) masked. --update-golden rewrites the listing, --keep-camera keeps the
folder for a look."""
import os
import re
import subprocess
from pathlib import Path

from emulator.camera import wait_until
from emulator.device import populate

FIXTURES = Path(__file__).resolve().parents[1] / "fixtures"
GOLDEN = FIXTURES / "sessions" / "first_round.txt"
SERIAL = "ACCC8E000001"
# The package's scripts take two quick samples instead of eleven over
# 100 seconds, so the folder is complete soon after the round.
SCRIPTS = {"TRELVIK_SCRIPT_SAMPLES": "2", "TRELVIK_SCRIPT_INTERVAL": "1"}

MASKS = [
    (re.compile(r"\d{8}_\d{6}|\d{8}_\d\d_\d\d_\d\d|\d{4}-\d\d-\d\dT\d{6}[A-Z]*"), "<stamp>"),
    (re.compile(r"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d [A-Z]+ \d{4}"), "<when>"),
    (re.compile(r"\d{4}-\d\d-\d\d"), "<date>"),
    (re.compile(r"\d\d:\d\d:\d\d"), "<time>"),
]
NUMBER = re.compile(r"-?\d+(\.\d+)?(e[-+]?\d+)?")
# The scripts that the daemon starts only while "ps" shows no earlier run: on
# a host that runs other cameras beside this one, that may be any of theirs,
# so only the folders themselves are listed.
SCRIPT_FOLDERS = {"monitoring_vmstatus", "monitoring_topstatus"}
# Files whose rows name whatever runs on the host beside the camera: their
# last column is masked as a whole.
HOST_COMMANDS = {"zeda_processes.csv"}

# Crafted kernel files, so that the files named after their keys and the
# columns they fill are the same on every host.
PROC = {
    "meminfo": "MemTotal:        1012508 kB\nMemFree:          612340 kB\nBuffers:           20480 kB\n"
               "Cached:           204800 kB\nSwapFree:               0 kB\nHugePages_Total:       0\n",
    "vmstat": "nr_free_pages 153085\npgpgin 1024\npgpgout 2048\npswpin 0\npswpout 0\npgfault 2611026\n"
              "pgmajfault 1079\n",
    "buddyinfo": "Node 0, zone      DMA      1      2      3      4\nNode 0, zone   Normal     10     20     30     40\n",
    "interrupts": "           CPU0\n 11:      12345     GICv3  27 Level     arch_timer\n",
}


def masked(text):
    """A line without its line feed, times masked and a carriage return shown."""
    text = text.rstrip("\n")
    for pattern, mark in MASKS:
        text = pattern.sub(mark, text)
    return text.replace("\r", "\\r")


def row_shape(line, host_command=False):
    """A CSV row with every value that is a number masked."""
    body = line.rstrip("\r\n")
    fields = [("<n>" if NUMBER.fullmatch(field.strip()) else field) for field in masked(body).split(",")]
    if host_command:
        fields[-1] = "<command>"
    return ",".join(fields) + masked(line[len(body):])


def describe(path):
    """The lines that stand for one file in the listing."""
    if path.suffix == ".csv":
        lines = path.read_bytes().decode(errors="replace").splitlines(keepends=True)
        if not lines:
            return ["  (empty)"]
        shapes = []
        for line in lines[1:]:
            shape = row_shape(line, path.name in HOST_COMMANDS)
            if shape not in shapes:
                shapes.append(shape)
        return [f"  header {masked(lines[0])}"] + [f"  row    {shape}" for shape in shapes]
    if path.name in ("Session_Information.txt", ".signature"):
        return [f"  {masked(line)}" for line in path.read_text().splitlines(keepends=True)]
    return []


def listing(session):
    out = []
    for path in sorted(session.rglob("*")):
        if SCRIPT_FOLDERS & set(path.relative_to(session).parent.parts):
            continue
        name = masked(path.relative_to(session).as_posix())
        out.append(name + ("/" if path.is_dir() else ""))
        if path.is_file():
            out += describe(path)
    # Files named by time may come twice within a second or once per second.
    return "".join(line + "\n" for i, line in enumerate(out) if i == 0 or line != out[i - 1])


def scripts_running(camera):
    root = str(camera.root).encode()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            cmdline = Path(f"/proc/{pid}/cmdline").read_bytes()
        except OSError:
            continue
        if root in cmdline and b".sh" in cmdline:
            return True
    return False


def first_round(camera, env=None):
    """Runs the daemon through its first sampling round and waits for the scripts it started."""
    daemon = camera.spawn("trelvik_daemon", SERIAL, "ZURN Q6135-LE", "Network Camera", "root",
                          env={**SCRIPTS, **(env or {})}, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    try:
        daemon.stdin.write(b"pass\n")
        daemon.stdin.close()
        wait_until(lambda: any(t.startswith("System monitoring session is consuming ")
                               for t in camera.log_texts("info")), "the first sampling round", timeout=120)
    finally:
        daemon.terminate()
        daemon.wait(timeout=10)
    wait_until(lambda: not scripts_running(camera), "the package's scripts", timeout=60)


def test_first_round_session_tree(camera, update_golden):
    populate(camera)
    camera.write_proc("net/dev", (FIXTURES / "collectors" / "net_dev_8_interfaces.txt").read_text())
    for name, text in PROC.items():
        camera.write_proc(name, text)
    result = camera.run("begin_monitor_session", "SD_DISK", SERIAL, "Q6135-LE", "11.8.64", "root", stdin=b"pass\n")
    assert result.stdout.endswith(b"Session started.")
    state = dict(line.split(":", 1) for line in camera.state_file.read_text().splitlines())
    session = Path(state["SSPA"] + state["ACTI"])
    first_round(camera)

    tree = listing(session)
    if update_golden:
        GOLDEN.write_text(tree)
    assert tree == GOLDEN.read_text()

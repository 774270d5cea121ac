"""The main job on the emulated camera, start to end: the daemon, a session
on the emulated SD card, its first sampling tick, the end of the session,
the archive and the status report. Run by tools/demo."""
import json
import shutil
import subprocess
import sys
import time
from pathlib import Path

from emulator.camera import Camera, SOURCE_DIR, wait_until
from emulator.device import populate

SERIAL = "ACCC8E000001"
OUTPUT = SOURCE_DIR / "demo-output"


def say(text=""):
    print(text, flush=True)


def body(reply):
    return reply.stdout.split(b"\r\n\r\n", 1)[-1].decode(errors="replace")


def session_folder(camera):
    state = dict(line.split(":", 1) for line in camera.state_file.read_text().splitlines())
    return Path(state["SSPA"] + state["ACTI"])


def wait_for_first_tick(folder, started):
    info = folder / "Session_Information.txt"
    while b"Collected Data Points: 1\n" not in info.read_bytes():
        waited = int(time.monotonic() - started)
        bar = "#" * min(waited * 40 // 60, 40)
        print(f"\r  waiting for the daemon's first tick [{bar:<40}] {waited:3d} s", end="", flush=True)
        if waited > 150:
            raise TimeoutError("the first tick did not come")
        time.sleep(1)
    print(f"\r  first tick sampled after {int(time.monotonic() - started)} s" + " " * 50, flush=True)


def show_collected(folder):
    say(f"\nCollected in {folder}:")
    for path in sorted(p for p in folder.rglob("*") if p.is_file()):
        relative = path.relative_to(folder)
        say(f"  {relative}  ({path.stat().st_size} bytes)")
        if path.suffix == ".csv":
            for line in path.read_text(errors="replace").splitlines()[:2]:
                say(f"      {line[:110]}")


def main():
    if OUTPUT.exists():
        shutil.rmtree(OUTPUT)
    camera = Camera(OUTPUT / "camera").start()
    daemon = None
    try:
        populate(camera)
        say(f"Emulated camera up: device root {camera.root}")
        daemon_log = open(OUTPUT / "daemon-output.txt", "wb")
        daemon = camera.spawn("trelvik_daemon", SERIAL, "ZURN Q6135-LE Network Camera", "Network Camera", "root",
                              stdin=subprocess.PIPE, stdout=daemon_log, stderr=daemon_log)
        daemon.stdin.write(b"pass\n")
        daemon.stdin.close()
        started = time.monotonic()
        say("trelvik_daemon started")

        reply = camera.run("begin_monitor_session", "SD_DISK", SERIAL, "Q6135-LE", "11.8.64", "root",
                           stdin=b"pass\n")
        say(f"begin_monitor_session SD_DISK -> {body(reply)}")
        folder = session_folder(camera)
        wait_for_first_tick(folder, started)
        show_collected(folder)

        reply = camera.run("end_monitor_session", "root", stdin=b"pass\n")
        say(f"\nend_monitor_session -> {body(reply)}")
        archive = folder.parent / (folder.name + ".zip")
        wait_until(lambda: archive.exists() and b"zip --recurse" not in camera.shell("ps").stdout,
                   "the archive", timeout=60)
        say(f"archive written: {archive} ({archive.stat().st_size} bytes)")

        reply = camera.run("status_report", SERIAL)
        say("\nstatus_report ->")
        say(json.dumps(json.loads(body(reply)), indent=2))
        say(f"\nSession folder: {folder}\nArchive: {archive}\nSystem log lines: {camera.syslog}")
    finally:
        if daemon is not None:
            daemon.terminate()
            daemon.wait(timeout=10)
        camera.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())

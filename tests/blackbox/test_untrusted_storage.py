"""Links planted on the emulated camera's SD card, before and during a session,
at every place a program reads or writes there: no byte of a link's target
leaves it (archives, the download and the information replies hold none), no
target changes, and every refusal is the documented one. Then the one lock
of begin and end: parallel requests through the web entry deactivate once,
and archive recovery leaves an end in progress alone."""
import os
import signal
import subprocess
import threading
import time
import zipfile
from concurrent.futures import ThreadPoolExecutor
from datetime import datetime, timedelta
from pathlib import Path

import sys

import pytest

from emulator.camera import build_dir, wait_until
from emulator.device import SD_CARD

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from cards import Faults  # noqa: E402

SERIAL = "ACCC8E000001"
SECRET = b"SECRET-api-password-7f3a9c\n"
VICTIM = b"a root-only file that must not change\n"
NOT_STARTED = b"Error: Could not start monitoring session."
FACTS = {"serial_number": SERIAL, "model_name": "Q6135-LE", "firmware_version": "11.8.64",
         "full_name": "ZURN Q6135-LE", "api_user": "root"}


class Storage:
    def __init__(self, camera):
        self.cam = camera
        camera.add_edge_storage("SD_DISK")
        camera.start_storage_service([SD_CARD])
        camera.set_api_route("/zurn-cgi/serverreport.cgi", "server report\n")
        camera.set_df_percent(42)
        camera.localdata.mkdir(parents=True, exist_ok=True)
        (camera.localdata / "device.conf").write_text("".join(f"{k}={v}\n" for k, v in FACTS.items()))
        self.secret = camera.localdata / "api_password"
        self.secret.write_bytes(SECRET)
        self.secret.chmod(0o600)
        self.victim = camera.root / "etc" / "victim.conf"
        self.victim.parent.mkdir(parents=True, exist_ok=True)
        self.victim.write_bytes(VICTIM)
        self.app = camera.path("/var/spool/storage/SD_DISK") / f"Trelvik_{SERIAL}"

    def begin(self):
        return self.cam.run("begin_monitor_session", "SD_DISK", SERIAL, "Q6135-LE", "11.8.64", "root",
                            stdin=b"pass\n").stdout

    def end(self):
        return self.cam.run("end_monitor_session", "root", stdin=b"pass\n").stdout

    def tick(self, *numbers):
        commands = "".join(f"tick {n}\n" for n in numbers).encode()
        self.cam.run_driver("driver_daemon", "root", SERIAL, stdin=b"pass\n" + commands, timeout=120,
                            env={"TRELVIK_SCRIPT_SAMPLES": "1", "TRELVIK_SCRIPT_INTERVAL": "0"})

    def web(self, query, method="GET"):
        env = self.cam.env({"QUERY_STRING": query, "REQUEST_METHOD": method, "GATEWAY_INTERFACE": "CGI/1.1",
                            "HTTP_X_REQUESTED_WITH": "trelvik"})
        return subprocess.run([str(build_dir() / "bin" / "trelvik_cgi")], capture_output=True, env=env,
                              timeout=60).stdout

    def folder(self):
        state = dict(line.split(":", 1) for line in self.cam.state_file.read_text().splitlines())
        return Path(state["SSPA"] + state["ACTI"])

    def zips_settled(self, folder=None):
        archive = folder.parent / (folder.name + ".zip") if folder else None
        wait_until(lambda: (archive is None or archive.exists()) and
                   b"zip --recurse-paths" not in self.cam.shell("ps").stdout, "the background zip", timeout=60)

    def leaked(self, data):
        return SECRET.strip() in data or VICTIM.strip() in data

    def assert_nothing_leaked(self, *replies):
        assert self.secret.read_bytes() == SECRET and self.victim.read_bytes() == VICTIM, "a link target changed"
        for archive in [] if self.app.is_symlink() else self.app.glob("*.zip"):
            with zipfile.ZipFile(archive) as z:
                for info in z.infolist():
                    assert not self.leaked(z.read(info)), f"{archive.name}: {info.filename}"
        for reply in replies:
            assert not self.leaked(reply)

    def errors(self):
        return self.cam.log_texts("err")


@pytest.fixture
def sd(camera):
    return Storage(camera)


def plant_ended_session(sd, name, info_link=False):
    folder = sd.app / name
    (folder / "system_monitoring/monitoring_basic").mkdir(parents=True)
    (folder / ".signature").write_text("Start: Sun Dec  6 18:48:53 UTC 2026\nEnd: Sun Dec  6 19:48:53 UTC 2026\n")
    info = folder / "Session_Information.txt"
    if info_link:
        info.symlink_to(sd.secret)
    else:
        info.write_text(f"Model Name: Q6135-LE\r\nSerial Number: {SERIAL}\r\n")
    (folder / "system_monitoring/monitoring_basic/password.txt").symlink_to(sd.secret)
    (folder / "system_monitoring/victim.conf").symlink_to(sd.victim)
    return folder


def test_a_planted_ended_session_is_archived_without_its_links_targets(sd):
    plant_ended_session(sd, "20200101_00_00_00")
    linked_info = plant_ended_session(sd, "20200101_00_00_01", info_link=True)
    sd.tick(0, 2)
    sd.zips_settled(sd.app / "20200101_00_00_00")
    # Links are stored as links, never followed.
    downloads = [sd.web(f"action=download&name=20200101_00_00_0{i}") for i in range(2)]
    sd.assert_nothing_leaked(*downloads)
    # A folder whose information file is a link is not this device's: passed
    # over, with one line.
    assert not (sd.app / "20200101_00_00_01.zip").exists()
    skipped = [t for t in sd.cam.log_texts("warning") if str(linked_info) in t]
    assert len(skipped) == 1, skipped


def test_the_status_report_reads_no_linked_record(sd):
    folder = sd.app / "20200101_00_00_02"
    folder.mkdir(parents=True)
    target = sd.cam.root / "etc" / "records.txt"
    target.write_bytes(b"Start: " + SECRET + b"Session Size: " + SECRET)
    (folder / ".signature").symlink_to(target)
    (folder / "Session_Information.txt").symlink_to(target)
    reply = sd.web("action=status")
    assert reply.startswith(b"Status: 200 OK\r\n") and b"20200101_00_00_02" in reply
    assert SECRET.strip() not in reply


def test_links_put_into_a_running_session(sd):
    assert sd.begin().endswith(b"Session started.")
    folder = sd.folder()
    sd.tick(0)
    load = folder / "system_monitoring/monitoring_load/load.csv"
    load.unlink()
    load.symlink_to(sd.victim)  # a CSV replaced by a link
    (folder / "system_monitoring/monitoring_basic/password.txt").symlink_to(sd.secret)
    (folder / "system_monitoring/monitoring_meminfo").rename(folder / "meminfo.real")
    (folder / "system_monitoring/monitoring_meminfo").symlink_to(sd.victim.parent)  # a linked folder
    sd.cam.clear_logs()
    sd.tick(2)
    assert sd.victim.read_bytes() == VICTIM, "a row was appended through the link"
    assert any(f"Refused to follow the symbolic link '{load}'" in t for t in sd.errors())
    assert any(f"Could not open file '{load}'" in t for t in sd.errors())
    assert not list(sd.victim.parent.glob("*.csv")), "a collector wrote into a linked folder"
    assert sd.end().endswith(b"Session deactivated.")
    sd.zips_settled(folder)
    sd.assert_nothing_leaked()


def test_a_linked_information_file_is_neither_served_nor_written(sd):
    assert sd.begin().endswith(b"Session started.")
    folder = sd.folder()
    info = folder / "Session_Information.txt"
    info.unlink()
    info.symlink_to(sd.secret)
    reply = sd.web("action=information")
    assert reply.startswith(b"Status: 404 Not Found\r\n")
    assert reply.endswith(b"The session information file could not be read.")
    sd.tick(0, 2)
    assert sd.end().endswith(b"Session deactivated.")
    sd.zips_settled(folder)
    sd.assert_nothing_leaked(reply)
    assert any(f"Refused to follow the symbolic link '{info}'" in t for t in sd.errors())


def test_session_folders_made_ahead_with_a_linked_signature(sd):
    now = datetime.now()
    planted = []
    for second in range(0, 8):
        folder = sd.app / (now + timedelta(seconds=second)).strftime("%Y%m%d_%H_%M_%S")
        folder.mkdir(parents=True)
        (folder / ".signature").symlink_to(sd.victim)
        planted.append(folder)
    reply = sd.begin()
    assert reply.endswith(NOT_STARTED)
    assert not sd.cam.state_file.exists()
    assert any("The session folder" in t and any(str(f) in t for f in planted) for t in sd.errors())
    assert sd.end().endswith(b"No monitor session is activated, can not deactivate anything.")
    sd.assert_nothing_leaked()


def test_a_linked_application_folder_is_not_followed(sd):
    other = sd.cam.root / "elsewhere"
    other.mkdir()
    (other / "20200101_00_00_00.zip").write_bytes(b"PK\x03\x04" + SECRET)
    sd.app.parent.mkdir(parents=True, exist_ok=True)
    sd.app.symlink_to(other)
    reply = sd.web("action=download&name=20200101_00_00_00")
    assert reply.startswith(b"Status: 404 Not Found\r\n")
    assert sd.begin().endswith(NOT_STARTED)
    assert [p.name for p in other.iterdir()] == ["20200101_00_00_00.zip"], "a session was made through the link"
    assert any(f"Refused to follow the symbolic link '{sd.app}'" in t for t in sd.errors())
    sd.assert_nothing_leaked(reply)


def test_a_download_swapped_for_a_link_serves_only_the_archive(sd):
    sd.app.mkdir(parents=True)
    archive = sd.app / "20200101_00_00_00.zip"
    content = b"PK\x03\x04 the real archive " + bytes(range(256)) * 64
    regular, link = sd.app / "regular.tmp", sd.app / "link.tmp"
    archive.write_bytes(content)
    stop = threading.Event()

    def swap():
        while not stop.is_set():
            regular.write_bytes(content)
            os.replace(regular, archive)
            link.symlink_to(sd.secret)
            os.replace(link, archive)

    swapper = threading.Thread(target=swap)
    swapper.start()
    served = 0
    try:
        deadline = time.monotonic() + 60
        for _ in range(600):
            if time.monotonic() > deadline:
                break
            reply = sd.web("action=download&name=20200101_00_00_00")
            assert not sd.leaked(reply)
            if reply.startswith(b"Status: 200 OK\r\n"):
                assert reply.endswith(content)
                served += 1
            else:
                assert reply.startswith(b"Status: 404 Not Found\r\n")
    finally:
        stop.set()
        swapper.join()
    assert served > 0


def end_stopped_at_its_last_report(sd):
    """Starts `end` with the fault injector stopping whichever program opens
    the last server report, just before it does; returns the ending process,
    the stopped one's id and the report's path."""
    faults = Faults(sd.cam)
    faults.calls.unlink(missing_ok=True)
    faults.set(path="*/Server_Report_*", ops="open", action="stop", log=faults.calls)
    ending = sd.cam.spawn("end_monitor_session", "root", env=faults.env(), stdin=subprocess.PIPE,
                          stdout=subprocess.PIPE)
    ending.stdin.write(b"pass\n")
    ending.stdin.close()

    def stopped():
        if not faults.calls.exists():
            return None
        pid, _, path = faults.calls.read_text().splitlines()[0].split(" ", 2)
        state = Path(f"/proc/{pid}/stat").read_text().rsplit(") ", 1)[1][0]
        return (int(pid), Path(path)) if state == "T" else None

    found = []
    wait_until(lambda: found.append(stopped()) or found[-1] is not None, "the stopped report")
    faults.clear()
    return (ending, *found[-1])


def test_a_link_put_at_the_last_server_reports_name_is_not_written_through(sd):
    assert sd.begin().endswith(b"Session started.")
    folder = sd.folder()
    time.sleep(1.1)  # the last server report gets a name of its own
    ending, pid, report = end_stopped_at_its_last_report(sd)
    report.symlink_to(sd.victim)
    os.kill(pid, signal.SIGCONT)
    assert ending.stdout.read().endswith(b"Session deactivated.")
    ending.wait(timeout=60)
    sd.zips_settled(folder)
    assert report.is_symlink()
    sd.assert_nothing_leaked()
    assert any(f"Refused to follow the symbolic link '{report}'" in t for t in sd.errors())


# ----- one lock for begin and end ------------------------------------------------

DEACTIVATED = b"Session deactivated."
NO_SESSION = b"No monitor session is activated, can not deactivate anything."


def web_post(sd, query):
    return sd.web(query, method="POST")


def assert_ended_once(sd, folder):
    sd.zips_settled(folder)
    info = (folder / "Session_Information.txt").read_text()
    assert info.count("Session Size:") == 1 and info.count("Stop Time of the session:") == 1, info
    assert (folder / ".signature").read_text().count("End: ") == 1
    reports = list((folder / "system_monitoring/monitoring_basic/Server_Reports").iterdir())
    assert len(reports) == 2, reports  # the first and the last
    assert len([t for t in sd.cam.log_texts() if t.startswith("zipping '")]) == 1
    assert list(sd.app.glob("*.zip")) == [folder.parent / (folder.name + ".zip")]


def test_parallel_ends_deactivate_once(sd):
    assert web_post(sd, "action=begin&storage=SD_DISK").endswith(b"Session started.")
    folder = sd.folder()
    time.sleep(1.1)  # the last server report gets a name of its own
    with ThreadPoolExecutor(4) as pool:
        replies = list(pool.map(lambda _: web_post(sd, "action=end"), range(4)))
    bodies = sorted(reply.rsplit(b"\r\n\r\n", 1)[1] for reply in replies)
    assert bodies == [NO_SESSION] * 3 + [DEACTIVATED]
    assert_ended_once(sd, folder)


def test_begin_and_end_at_one_moment(sd):
    with ThreadPoolExecutor(2) as pool:
        begun, ended = pool.map(lambda q: web_post(sd, q), ["action=begin&storage=SD_DISK", "action=end"])
    assert begun.endswith(b"Session started.")
    folder = next(p for p in sd.app.iterdir() if p.is_dir())
    if ended.endswith(DEACTIVATED):
        assert not sd.cam.state_file.exists()
        assert_ended_once(sd, folder)
    else:
        assert ended.endswith(NO_SESSION)
        assert sd.folder() == folder and "End" not in (folder / ".signature").read_text()


def test_recovery_leaves_an_end_in_progress_alone(sd):
    assert sd.begin().endswith(b"Session started.")
    folder = sd.folder()
    time.sleep(1.1)  # the last server report gets a name of its own
    ending, pid, _ = end_stopped_at_its_last_report(sd)
    try:
        sd.tick(2)  # archive recovery runs while the end fetches its last report
        assert not list(sd.app.glob("*.zip")), "recovery archived a session whose end was in progress"
    finally:
        os.kill(pid, signal.SIGCONT)
    assert ending.stdout.read().endswith(DEACTIVATED)
    ending.wait(timeout=60)
    assert_ended_once(sd, folder)
    with zipfile.ZipFile(folder.parent / (folder.name + ".zip")) as z:
        names = z.namelist()
        assert len([n for n in names if "/Server_Report_" in n]) == 2
        assert b"Session Size: " in z.read(f"{folder.name}/Session_Information.txt")

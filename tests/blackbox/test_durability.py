"""Nothing lost on a real camera: power cuts, full, pulled and swapped cards,
I/O errors and programs killed in the middle of their work. Each test is a
bounded version of a scenario that tools/durability_campaign runs at length.

The SD card and the flash that holds the package's data folder are ext4
images on loop devices (a power cut copies the image files, the reboot checks
and mounts the copies), or small tmpfs cards; the fault injector makes chosen
file calls fail, or stops or kills a program before its n-th file call.
These tests need root (mount and loop devices), as CI has."""
import os
import re
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))

from cards import pull  # noqa: E402
from durability_rig import (SERIAL, Rig, archive_settled, assert_counted_rows_present,  # noqa: E402
                            assert_valid_archive, begin_invariant, csv_files, end_invariant, reset_begin,
                            stopped, whole_rows)
from emulator.camera import wait_until  # noqa: E402

pytestmark = pytest.mark.skipif(os.geteuid() != 0, reason="needs root for loop devices and mounts")


@pytest.fixture
def rig(camera):
    r = Rig(camera)
    yield r
    r.remove()


@pytest.fixture
def small_card(camera):
    r = Rig(camera, card="tmpfs")
    yield r
    r.remove()


@pytest.fixture
def plain(camera):
    r = Rig(camera, card=None)
    yield r
    r.remove()


# ----- 1. a power cut after a sampling round ---------------------------------

def test_rows_counted_before_a_cut_are_on_the_card(rig):
    assert rig.begin().stdout.endswith(b"Session started.")
    for n in (0, 2):  # two rounds, a cut after each
        rig.ticks(n)
        rig.cut_and_reboot()
        assert_counted_rows_present(rig.folder())


@pytest.mark.parametrize("damage", [b"\0" * 3000, b"2026-12-06,18:4", b"2026-12-06,18:48:53,12" + b"\0" * 100],
                         ids=["NUL block", "partial row", "partial row and NULs"])
def test_a_damaged_file_is_cut_back_to_whole_rows(plain, damage):
    assert plain.begin().stdout.endswith(b"Session started.")
    plain.ticks(0)
    load = plain.folder() / "system_monitoring" / "monitoring_load" / "load.csv"
    before = load.read_bytes()
    load.write_bytes(before + damage)
    plain.ticks(2)
    after = load.read_bytes()
    assert after.startswith(before), after
    assert re.fullmatch(rb"\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d(,[0-9.]+){3}\r\n", after[len(before):]), after
    assert len(whole_rows(load)) == 2


# ----- 2. ending a session ----------------------------------------------------

def test_a_cut_after_the_end_reply_leaves_an_ended_session_archived(rig):
    assert rig.begin().stdout.endswith(b"Session started.")
    folder = rig.folder()
    rig.ticks(0)
    assert rig.end().stdout.endswith(b"Session deactivated.")
    rig.cut_and_reboot()
    assert rig.state() is None, "the ended session came back"
    info = (folder / "Session_Information.txt").read_bytes()
    assert b"\0" not in info
    assert re.search(rb"\nStop Time of the session: [^\r\n]+\r\nSession Size: [^\r\n]+\r\n$", info), info
    assert "End: " in (folder / ".signature").read_text()
    rig.cam.clear_logs()
    rig.ticks(1)  # the daemon finishes what the cut left
    archive_settled(rig, folder)
    assert_valid_archive(folder)


def test_the_daemon_finishes_a_truncated_archive_at_start(plain):
    import subprocess
    assert plain.begin().stdout.endswith(b"Session started.")
    folder = plain.folder()
    assert plain.end().stdout.endswith(b"Session deactivated.")
    archive_settled(plain, folder)
    archive = folder.parent / (folder.name + ".zip")
    archive.write_bytes(archive.read_bytes()[:100])  # what a cut right after zip's rename may leave
    plain.cam.clear_logs()
    daemon = plain.cam.spawn("trelvik_daemon", SERIAL, "ZURN Q6135-LE", "Network Camera", "root",
                             stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        daemon.stdin.write(b"pass\n")
        daemon.stdin.close()
        wait_until(lambda: [t for t in plain.cam.log_texts("info") if folder.name in t], "the recovery line")
        archive_settled(plain, folder)
    finally:
        daemon.terminate()
        daemon.wait(timeout=10)
    assert_valid_archive(folder)
    assert len([t for t in plain.cam.log_texts() if folder.name in t and "rchiv" in t]) == 1


def test_end_killed_before_each_file_call(rig):
    assert rig.begin().stdout.endswith(b"Session started.")
    folder = rig.folder()
    rig.ticks(0)
    pattern = f"{rig.cam.root}/*"
    count = rig.faults.count_calls("end_monitor_session", "open,write,fsync,rename,unlink", pattern)
    # A dry run counts the calls: end a copy of the session, then start over.
    outcomes = []
    calls = None
    trial = 1
    while calls is None or trial <= calls:
        if calls is None:
            state_text = rig.cam.state_file.read_bytes()
            info_text = (folder / "Session_Information.txt").read_bytes()
            sig_text = (folder / ".signature").read_bytes()
            rig.end(env=rig.faults.env())
            calls = count()
            assert calls > 5
        else:
            rig.faults.set(path=pattern, ops="open,write,fsync,rename,unlink", program="end_monitor_session",
                           at=trial, action="kill")
            rig.end(env=rig.faults.env())
            rig.faults.clear()
            outcomes.append(end_invariant(rig, folder))
            trial += 1
        # start over from the running session
        rig.cam.shell("pkill -KILL -f 'zip --recurse-paths'")
        (folder.parent / (folder.name + ".zip")).unlink(missing_ok=True)
        rig.cam.state_file.write_bytes(state_text)
        (folder / "Session_Information.txt").write_bytes(info_text)
        (folder / ".signature").write_bytes(sig_text)
    assert "running" in outcomes and "ended" in outcomes


# ----- 3. beginning a session --------------------------------------------------

def test_begin_killed_before_each_file_call(plain):
    pattern = f"{plain.cam.root}/*"
    ops = "open,write,fsync,rename"
    count = plain.faults.count_calls("begin_monitor_session", ops, pattern)
    assert plain.begin(env=plain.faults.env()).stdout.endswith(b"Session started.")
    calls = count()
    assert calls > 3
    outcomes = set()
    for trial in range(1, calls + 1):
        reset_begin(plain)
        plain.faults.set(path=pattern, ops=ops, program="begin_monitor_session", at=trial, action="kill")
        plain.begin(env=plain.faults.env())
        plain.faults.clear()
        outcomes.add(begin_invariant(plain))
    assert outcomes == {"none", "active"}


def test_begin_cut_at_each_sync(rig):
    for at in range(1, 6):
        reset_begin(rig)
        rig.faults.set(path="*", ops="fsync,rename", program="begin_monitor_session", at=at, action="stop")
        proc = rig.spawn_stopped("begin_monitor_session", "SD_DISK", SERIAL, "Q6135-LE", "11.8.64", "root",
                                 env=rig.faults.env())
        wait_until(lambda: stopped(proc.pid) or proc.poll() is not None, "the stop", timeout=60)
        rig.faults.clear()
        rig.cut_and_reboot([proc.pid])
        proc.wait()
        begin_invariant(rig)


# ----- 4. a missing session folder -------------------------------------------

def test_a_missing_session_folder_counts_as_a_lost_storage(plain):
    assert plain.begin().stdout.endswith(b"Session started.")
    folder = plain.folder()
    plain.cam.clear_logs()
    moved = folder.with_name("elsewhere")
    os.rename(folder, moved)  # a card of the same id without the session
    lost, flood = "Lost connection to edge storage location", "Could not open file"
    assert plain.counters(0, 1, 2, 3) == [4, 0, 4]
    assert len(plain.errors(lost)) == 1
    assert not plain.errors(flood)
    os.rename(moved, folder)
    plain.ticks(4)
    assert plain.cam.log_texts("info").count(
        "Connection to edge storage location re-established, connection was lost since 0 days 0 hours 0 minutes. "
        "Continuing system monitoring session.") <= 1


def test_a_pulled_card_is_lost_and_not_judged_full(small_card):
    rig = small_card
    assert rig.begin().stdout.endswith(b"Session started.")
    rig.ticks(0)
    rig.cam.clear_logs()
    pull(rig.sd)  # the storage service has not noticed yet
    rig.cam.set_df_percent(97)  # what df then says of the empty mount point
    rig.ticks(1, 2, 3)
    assert rig.state() is not None, "a pulled card ended the session"
    assert len(rig.errors("Lost connection to edge storage location")) == 1
    assert not rig.errors("Could not open file")


# ----- 5. write errors --------------------------------------------------------

def test_failed_appends_are_undone_and_logged_once(plain):
    assert plain.begin().stdout.endswith(b"Session started.")
    folder = plain.folder()
    plain.ticks(0)
    meminfo = folder / "system_monitoring" / "monitoring_meminfo"
    before = {p.name: p.read_bytes() for p in meminfo.iterdir()}
    plain.cam.clear_logs()
    plain.faults.set(path="*/monitoring_meminfo/*.csv", ops="write", errno="ENOSPC")
    plain.ticks(2, 4, env=plain.faults.env())
    assert {p.name: p.read_bytes() for p in meminfo.iterdir()} == before
    failed = [t for t in plain.cam.log_texts("err") if "monitoring_meminfo" in t]
    assert len(failed) == len(before), failed  # one line per file, not per round
    plain.faults.clear()
    plain.ticks(6, env=plain.faults.env())
    for path in meminfo.iterdir():
        assert len(whole_rows(path)) == 2


def test_a_short_write_leaves_no_half_row(plain):
    assert plain.begin().stdout.endswith(b"Session started.")
    folder = plain.folder()
    plain.ticks(0)
    load = folder / "system_monitoring" / "monitoring_load" / "load.csv"
    plain.faults.set(path="*/load.csv", ops="write", short=1, errno="ENOSPC")
    plain.ticks(2, env=plain.faults.env())
    plain.faults.clear()
    plain.ticks(4)
    assert len(whole_rows(load)) == 2
    assert all(len(row.split(b",")) == 5 for row in whole_rows(load))


def test_a_full_small_card_keeps_whole_rows(small_card):
    rig = small_card
    assert rig.begin().stdout.endswith(b"Session started.")
    folder = rig.folder()
    rig.ticks(0)
    filler = rig.cards[0].fill()
    rig.cam.clear_logs()
    rig.ticks(*range(2, 40, 2))  # rows keep landing in the slack of each file's last page, then do not
    # Once per file and process: the daemon keeps its notice across ticks,
    # while each package script run is a sampler process of its own.
    failed = [(e["pid"], e["text"]) for e in rig.cam.logs()
              if e["level"] == "err" and "Could not write file" in e["text"]]
    assert failed and len(failed) == len(set(failed)), "failed appends went unnoticed or were logged twice"
    filler.unlink()
    rig.ticks(40)
    for path in csv_files(folder):
        whole_rows(path)


# ----- 6. a full card at the end ------------------------------------------------

def test_an_archive_that_fails_is_logged_and_finished_later(small_card):
    rig = small_card
    assert rig.begin().stdout.endswith(b"Session started.")
    folder = rig.folder()
    rig.ticks(0)
    (folder / "ballast").write_bytes(os.urandom(600 * 1024))  # does not compress
    filler = rig.cards[0].fill()  # not a page left: the stop time cannot be written either
    assert rig.end().stdout.endswith(b"Session deactivated.")
    wait_until(lambda: b"zip --recurse-paths" not in rig.cam.shell("ps").stdout, "zip", timeout=60)
    wait_until(lambda: any("Could not write archive" in t for t in rig.cam.log_texts("err")),
               "the failed archive's error line", timeout=30)
    assert not (folder.parent / (folder.name + ".zip")).exists()
    assert b"Still active" in (folder / "Session_Information.txt").read_bytes()  # no room for the stop time
    filler.unlink()
    rig.cam.clear_logs()
    rig.ticks(7)
    archive_settled(rig, folder)
    assert_valid_archive(folder)
    info = (folder / "Session_Information.txt").read_bytes()
    assert b"Still active" not in info
    assert re.search(rb"\nStop Time of the session: [^\r\n]+\r\nSession Size: [^\r\n]+\r\n$", info), info
    rig.cam.clear_logs()
    rig.ticks(8)
    assert not [t for t in rig.cam.log_texts() if folder.name in t], "an archived session is archived again"


# ----- 7. read errors -----------------------------------------------------------

def test_an_unreadable_state_file_is_not_taken_as_no_session(plain):
    assert plain.begin().stdout.endswith(b"Session started.")
    before = plain.cam.state_file.read_bytes()
    plain.faults.set(path="*/current_monitoring_session.txt", ops="read", errno="EIO")
    again = plain.begin(env=plain.faults.env())
    assert not again.stdout.endswith(b"Session started.")
    ended = plain.end(env=plain.faults.env())
    assert b"No monitor session is activated" not in ended.stdout
    assert not ended.stdout.endswith(b"Session deactivated.")
    plain.faults.clear()
    assert plain.cam.state_file.read_bytes() == before
    assert len(plain.session_folders()) == 1


def test_an_unreadable_ptz_interval_keeps_the_schedule(plain):
    plain.cam.localdata.joinpath("automatic_PTZ_test_interval.info").write_text("T:5\n")
    driver = plain.daemon_driver(env=plain.faults.env())
    driver("tick 1")
    driver("tick 2")
    plain.cam.clear_logs()
    plain.faults.set(path="*/automatic_PTZ_test_interval.info", ops="read", errno="EIO")
    driver("tick 3")
    driver("tick 4")
    plain.faults.clear()
    counters = driver("counters").split()
    driver.close()
    assert counters[1] == "1", counters  # the interval still counts from tick 1
    failed = [t for t in plain.cam.log_texts("err") if "automatic_PTZ_test_interval.info" in t]
    assert len(failed) == 1, failed


# ----- 8. failures reported as success -------------------------------------------

def test_a_state_file_that_cannot_be_removed_is_not_a_deactivation(plain):
    assert plain.begin().stdout.endswith(b"Session started.")
    folder = plain.folder()
    plain.faults.set(path="*/current_monitoring_session.txt", ops="unlink", errno="EIO")
    result = plain.end(env=plain.faults.env())
    plain.faults.clear()
    assert not result.stdout.endswith(b"Session deactivated."), result.stdout
    assert plain.state() is not None
    info = (folder / "Session_Information.txt").read_bytes()
    assert b"Stop Time of the session: Still active\r\n" in info and b"Session Size" not in info
    assert not (folder.parent / (folder.name + ".zip")).exists()
    assert plain.end().stdout.endswith(b"Session deactivated.")


def test_a_signature_that_cannot_be_written_is_named(plain):
    assert plain.begin().stdout.endswith(b"Session started.")
    plain.faults.set(path="*/.signature", ops="open,write", errno="EIO")
    plain.end(env=plain.faults.env())
    plain.faults.clear()
    assert [t for t in plain.cam.log_texts("err") if ".signature" in t]

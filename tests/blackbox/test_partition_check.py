"""The partition usage check against the emulated camera's df (busybox, or a
chosen output) through tests/support/driver_storage.cpp."""
import re
import subprocess

HEADER = "Filesystem           1024-blocks    Used Available Capacity Mounted on\n"
PREFIX = re.compile(r"^\(lib/base/fileutil\.cpp:\d+, errno: None\) ")
STORAGE = "/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/"


def usage(camera, path=STORAGE):
    """[the usage number, 1 if the partition is usable else 0]"""
    answers = []
    for operation in ("pcent", "partition"):
        result = camera.run_driver("driver_storage", operation, str(path))
        assert result.returncode == 0, result.stderr
        answers.append(result.stdout.decode().strip())
    return answers


def errors(camera):
    """The error lines without their prefix, which must name the unit."""
    texts = camera.log_texts("err")
    assert all(PREFIX.match(text) for text in texts), texts
    return [PREFIX.sub("", text) for text in texts]


def test_ninety_percent_is_full(camera):
    for percent, usable in ((89, "1"), (90, "0"), (100, "0"), (0, "1")):
        camera.set_df_percent(percent)
        assert usage(camera) == [str(percent), usable], percent
    assert camera.logs() == []


def test_header_only_counts_as_empty_and_nothing_as_failure(camera):
    camera.set_df_output(HEADER)
    assert usage(camera) == ["0", "1"]
    assert camera.logs() == []

    camera.set_df_output("")
    assert usage(camera) == ["-1", "0"]
    assert [(e["level"], e["text"]) for e in camera.logs()] == [
        ("warning", f"Could not get usage of partition for path '{STORAGE}'.")]

    camera.clear_logs()
    camera.set_df_output(HEADER + "no usage here\n")
    assert usage(camera)[1] == "1"
    assert errors(camera) == ["Could not find percent char in 'no usage here\n'"] * 2


def test_relative_path_is_refused_with_both_messages(camera):
    camera.set_df_percent(10)
    assert usage(camera, "var/spool") == ["-1", "0"]
    assert [entry["level"] for entry in camera.logs()] == ["err", "err", "warning"]
    assert errors(camera) == ["Expected an absolute path, got 'var/spool'"] * 2
    assert camera.log_texts("warning") == ["Could not get usage of partition for path 'var/spool'."]


def test_real_busybox_df(camera):
    storage = camera.add_edge_storage("SD_DISK")
    df = subprocess.run(["busybox", "df", "-k", "-P", str(storage)], capture_output=True, text=True).stdout
    capacity = df.splitlines()[1].split()[4].rstrip("%")
    assert usage(camera, storage)[0] == capacity
    # busybox prints only its header for a folder that is not there yet
    assert usage(camera, storage / "Trelvik_ACCC8E000001") == ["0", "1"]
    # a path is one argument of df, never a command (the driver runs in the workdir)
    hostile = storage / "it's $(touch pwned) `touch pwned` \"q\""
    hostile.mkdir()
    assert usage(camera, hostile)[0] == capacity
    assert not (camera.workdir / "pwned").exists()
    assert camera.logs() == []

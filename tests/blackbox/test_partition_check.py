"""The partition usage check against the emulated camera's df (busybox, or a
chosen output) through tests/support/driver_storage.cpp."""
import re
import subprocess

HEADER = "Filesystem           1024-blocks    Used Available Capacity Mounted on\n"
PREFIX = re.compile(r"^\(lib/fileutil\.cpp:\d+, errno: None\) ")
STORAGE = "/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/"


def ask(camera, operation, *paths):
    result = camera.run_driver("driver_storage", operation, *paths)
    assert result.returncode == 0, result.stderr
    return result.stdout.decode().split()


def test_ninety_percent_is_full(camera):
    cases = [(89, "1"), (90, "0"), (100, "0"), (0, "1")]
    for percent, usable in cases:
        camera.set_df_percent(percent)
        assert ask(camera, "pcent", STORAGE) == [str(percent)]
        assert ask(camera, "partition", STORAGE) == [usable], percent
    assert camera.logs() == []


def test_usage_field_shapes(camera):
    cases = [
        ("/dev/mmcblk0p1 1000000 1 1 1089% /var/spool/storage/SD_DISK\n", "89", "1"),  # last three digits
        ("/dev/mmcblk0p1 1000000 1 1 1090% /var/spool/storage/SD_DISK\n", "90", "0"),
        ("//nas/share 1 1 1 93% /var/spool/storage/NetworkShare\n", "93", "0"),
    ]
    for line, pcent, usable in cases:
        camera.set_df_output(HEADER + line)
        assert ask(camera, "pcent", STORAGE) == [pcent], line
        assert ask(camera, "partition", STORAGE) == [usable], line
    assert camera.logs() == []


def test_header_only_counts_as_empty_and_nothing_as_failure(camera):
    camera.set_df_output(HEADER)
    assert ask(camera, "pcent", STORAGE) == ["0"]
    assert ask(camera, "partition", STORAGE) == ["1"]
    assert camera.logs() == []

    camera.set_df_output("")
    assert ask(camera, "pcent", STORAGE) == ["-1"]
    assert ask(camera, "partition", STORAGE) == ["0"]
    assert [(e["level"], e["text"]) for e in camera.logs()] == [
        ("warning", f"Could not get usage of partition for path '{STORAGE}'.")]

    camera.clear_logs()
    camera.set_df_output(HEADER + "no usage here\n")
    assert ask(camera, "partition", STORAGE) == ["1"]
    [line] = camera.log_texts("err")
    assert PREFIX.match(line)
    assert PREFIX.sub("", line) == "Could not find percent char in 'no usage here\n'"


def test_relative_path_is_refused_with_both_messages(camera):
    camera.set_df_percent(10)
    assert ask(camera, "pcent", "var/spool") == ["-1"]
    camera.clear_logs()
    assert ask(camera, "partition", "var/spool") == ["0"]
    logs = camera.logs()
    assert [entry["level"] for entry in logs] == ["err", "warning"]
    assert PREFIX.match(logs[0]["text"])
    assert PREFIX.sub("", logs[0]["text"]) == "Expected an absolute path, got 'var/spool'"
    assert logs[1]["text"] == "Could not get usage of partition for path 'var/spool'."


def busybox_capacity(path):
    lines = subprocess.run(["busybox", "df", "-k", "-P", str(path)], capture_output=True, text=True).stdout
    return lines.splitlines()[1].split()[4].rstrip("%")


def test_real_busybox_df(camera):
    storage = camera.add_edge_storage("SD_DISK")
    assert ask(camera, "pcent", str(storage)) == [busybox_capacity(storage)]
    # busybox prints only its header for a folder that is not there yet
    missing = storage / "Trelvik_ACCC8E000001"
    assert ask(camera, "pcent", str(missing)) == ["0"]
    assert ask(camera, "partition", str(missing)) == ["1"]
    # a path is one argument of df, never a command (the driver runs in the workdir)
    marker = camera.workdir / "pwned"
    hostile = storage / "it's $(touch pwned) `touch pwned` \"q\""
    hostile.mkdir()
    assert ask(camera, "pcent", str(hostile)) == [busybox_capacity(storage)]
    assert not marker.exists()
    assert camera.logs() == []

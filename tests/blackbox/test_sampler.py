"""The sampling scripts and their resident sampler on the emulated camera: a
device laid out from captured kernel text (processes of every kind, memory
and CPU counters, power readings), each script run with two samples, its
files compared byte for byte with golden files (dates masked); and the
daemon's running check, which must still see a script while its sampler
runs. --update-golden rewrites the golden files."""
import re
import subprocess
import uuid
from pathlib import Path

import pytest

from emulator.camera import build_dir, wait_until

GOLDEN = Path(__file__).resolve().parents[1] / "fixtures" / "sampler"
FAST = {"TRELVIK_SCRIPT_SAMPLES": "2", "TRELVIK_SCRIPT_INTERVAL": "0"}
DATES = re.compile(rb"^(=== )?\d{4}-\d\d-\d\d([, ])\d\d:\d\d:\d\d", re.M)


def stat_line(pid, comm, state, ppid, ticks, vsize_kib, rss_pages, nice=0):
    """A /proc/<pid>/stat line as the kernel writes it (52 fields)."""
    return (f"{pid} ({comm}) {state} {ppid} {pid} {pid} 0 -1 4194560 1504 0 20 0 {ticks} 0 0 0 20 {nice} 1 0 "
            f"4242 {vsize_kib * 1024} {rss_pages} 18446744073709551615 1 1 0 0 0 0 0 0 65536 0 0 17 0 0 0 0 0 0 "
            f"0 0 0 0 0 0 0\n")


# pid, kernel name, state, parent, ticks, VSZ kB, RSS pages, nice, uid, command line (None: the process
# ended between the listing and the read of its command line).
PROCESSES = [
    (1, "init", "S", 0, 310, 2432, 180, 0, 0, b"/sbin/init\0"),
    (2, "kthreadd", "S", 0, 0, 0, 0, 0, 0, b""),
    (9, "ksoftirqd/0", "S", 2, 75, 0, 0, 0, 0, b""),
    (214, "dbus-daemon", "S", 1, 120, 4312, 390, -5, 0, b"/usr/bin/dbus-daemon\0--system\0--nofork\0"),
    (580, "trelvik_daemon", "S", 1, 940, 152400, 1210, 0, 0,
     b"/usr/local/packages/Trelvik/trelvik_daemon\0ACCC8E000001\0ZURN Q6135-LE, \"PTZ\"\0Camera\0root\0"),
    (611, "zeda_status_mon", "S", 580, 3, 2592, 389, 0, 0,
     b"/bin/sh\0/usr/local/packages/Trelvik/shell/zeda_status_monitor.sh\0/var/spool/storage/SD_DISK/x\0"),
    (702, "worker", "S", 1, 55, 3284, 506, 10, 54321, b"/usr/local/packages/OtherApp/bin/worker\0a,b\0say \"hi\"\0"),
    (703, "gone", "Z", 702, 1, 0, 0, 0, 54321, None),
    (915, "streamer", "R", 1, 48000, 1048576, 52000, 0, 0, b"/usr/bin/streamer\0--profile\0default\0"),
]


def lay_out_device(camera):
    camera.write_proc("stat", "cpu  4000 20 1000 50000 300 10 40 0 0 0\ncpu0 4000 20 1000 50000 300 10 40 0 0 0\n"
                              "intr 99000 0 12\nctxt 180000\nbtime 1765000000\nprocesses 9100\n"
                              "procs_running 2\nprocs_blocked 0\n")
    camera.write_proc("meminfo", "MemTotal:        1012340 kB\nMemFree:          412340 kB\nMemAvailable:     600000 kB\n"
                                 "Buffers:           12000 kB\nCached:           150000 kB\nSwapFree:              0 kB\n"
                                 "Shmem:              3400 kB\n")
    camera.write_proc("vmstat", "pgpgin 11\npgpgout 12\npswpin 0\npswpout 0\npgfault 15000\npgmajfault 16\n")
    camera.write_proc("loadavg", "0.52 0.58 0.59 2/175 4321\n")
    for pid, comm, state, ppid, ticks, vsz, rss, nice, uid, cmdline in PROCESSES:
        folder = camera.path(f"/proc/{pid}")
        folder.mkdir(parents=True)
        (folder / "stat").write_text(stat_line(pid, comm, state, ppid, ticks, vsz, rss, nice))
        (folder / "status").write_text(f"Name:\t{comm}\nUid:\t{uid}\t{uid}\t{uid}\t{uid}\n")
        if cmdline is not None:
            (folder / "cmdline").write_bytes(cmdline)
    for package in ("OtherApp", "Idle"):
        camera.path(f"/usr/local/packages/{package}").mkdir(parents=True)
    hwmon = camera.path("/sys/class/hwmon/hwmon0")
    hwmon.mkdir(parents=True)
    for name, text in (("name", "ina219\n"), ("in1_input", "12010\n"), ("in1_label", "PoE, input\n"),
                       ("in0_input", "3300\n"), ("curr1_input", "350\n"), ("power1_input", "4200000\n")):
        (hwmon / name).write_text(text)
    supply = camera.path("/sys/class/power_supply/battery")
    supply.mkdir(parents=True)
    (supply / "voltage_now").write_text("3700000\n")


@pytest.mark.parametrize("script", ["vmstatus_monitoring.sh", "topstatus_monitoring.sh", "zeda_status_monitor.sh",
                                    "power.sh"])
def test_script_files_against_golden(camera, update_golden, script):
    lay_out_device(camera)
    out = camera.workdir / "out"
    out.mkdir()
    result = subprocess.run(["busybox", "sh", str(camera.package / "shell" / script), str(out)],
                            capture_output=True, timeout=30, env=camera.env(FAST), cwd=camera.workdir)
    assert (result.returncode, result.stderr) == (0, b"")
    files = sorted(out.iterdir())
    assert files, "no files written"
    for path in files:
        text = DATES.sub(lambda m: (m.group(1) or b"") + b"D" + m.group(2) + b"T", path.read_bytes())
        golden = GOLDEN / path.name
        if update_golden:
            golden.write_bytes(text)
        assert text == golden.read_bytes(), path.name


def test_running_check_sees_the_script_while_its_sampler_runs(camera):
    # Started with the daemon's command line, the script becomes its sampler;
    # the daemon's check ("ps | grep Trelvik", a line naming the script) must
    # still see it, and so refuses a second instance.
    folder = camera.workdir / f"vm_{uuid.uuid4().hex[:8]}"  # unique: ps lists the whole machine
    folder.mkdir()
    env = {"TRELVIK_SCRIPT_SAMPLES": "3", "TRELVIK_SCRIPT_INTERVAL": "1"}
    script = camera.package / "shell" / "vmstatus_monitoring.sh"
    subprocess.run(f'{script} "{folder}"  &', shell=True, check=True, env=camera.env(env), cwd=camera.workdir)

    def listed():
        lines = camera.shell('ps | grep "Trelvik"').stdout.decode().splitlines()
        return [line for line in lines if str(folder) in line and "vmstatus_monitoring.sh" in line]

    wait_until(listed, "the script in the process list", timeout=5)
    # One process, no shell left waiting: the sampler, with the script's path.
    (line,) = listed()
    assert re.search(r"/Trelvik/shell/\.\./trelvik_sampler \S+/Trelvik/shell/vmstatus_monitoring\.sh ", line), line

    driver = subprocess.run([str(build_dir() / "tests" / "driver_collectors")],
                            input=f"invoke\t{folder}\tvmstatus_monitoring.sh\t0\n".encode(), capture_output=True,
                            env=camera.env(env), cwd=camera.workdir, timeout=30)
    assert driver.stdout == b"done\n"
    assert "ps_grep_and_check_if_included('Trelvik', 'vmstatus_monitoring.sh') return false" in camera.log_texts()
    wait_until(lambda: not listed(), "the sampler to end", timeout=10)
    assert len((folder / "vmstat.csv").read_text().splitlines()) == 1 + 3  # one instance's rows

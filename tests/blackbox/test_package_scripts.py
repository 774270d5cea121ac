"""The package's shell scripts, run as installed in the emulated camera's
package folder under busybox sh (the device's shell), with the camera's
environment (device root, busybox tools first on PATH)."""
import os
import re
import signal
import subprocess
import time

from emulator.camera import wait_until

SCRIPTS = ("monitory_creator.sh", "zeda_status_monitor.sh", "vmstatus_monitoring.sh",
           "topstatus_monitoring.sh", "power.sh", "collect_monitoring_sessions.sh")
COLLECTOR_FOLDERS = sorted(f"monitoring_{name}" for name in (
    "network", "streams", "radar", "meminfo", "load", "environment", "self", "zeda", "basic", "interrupts",
    "onvif", "kernel", "vmstatus", "topstatus"))
DATE = r"[A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \w+ \d{4}"
STAMP = re.compile(rb"^\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d,", re.M)
HOSTILE = 'a b "$(touch pwned)" `touch pwned` $HOME \\ \'q\''
FAST = {"TRELVIK_SCRIPT_SAMPLES": "2", "TRELVIK_SCRIPT_INTERVAL": "0"}


def script(camera, name):
    return str(camera.package / "shell" / name)


def run(camera, name, *args, env=None):
    return subprocess.run(["busybox", "sh", script(camera, name), *args], capture_output=True,
                          timeout=30, env=camera.env(env), cwd=camera.workdir)


def sample_into(camera, name, folder):
    """Two samples of a sampling script, without pause, into `folder`; its files, dates masked."""
    folder.mkdir(exist_ok=True)
    result = run(camera, name, str(folder), env=FAST)
    assert result.returncode == 0, result.stderr
    return {p.name: STAMP.sub(b"T,", p.read_bytes()) for p in folder.iterdir()}


def test_scripts_are_executable_posix_sh(camera):
    for name in SCRIPTS:
        path = camera.package / "shell" / name
        assert os.access(path, os.X_OK) and path.read_text().startswith("#!/bin/sh\n"), name
        result = subprocess.run(["busybox", "sh", "-n", str(path)], capture_output=True)
        assert result.returncode == 0, (name, result.stderr)
        result = run(camera, name)  # without its argument every script refuses to run
        assert result.returncode == 2 and result.stderr.startswith(b"Usage: "), name


def test_monitory_creator_lays_out_the_session(camera):
    edge = camera.add_edge_storage("SD_DISK") / "Trelvik_ACCC8E000001"
    for session in (edge / "20261206_18_48_53", camera.workdir / HOSTILE / "20261206_18_48_54"):
        result = subprocess.run([script(camera, "monitory_creator.sh"), str(session)], capture_output=True,
                                env=camera.env(), cwd=camera.workdir)
        assert result.returncode == 0, result.stderr
        assert sorted(p.name for p in (session / "system_monitoring").iterdir()) == COLLECTOR_FOLDERS
        assert (session / "system_monitoring" / "monitoring_basic" / "Server_Reports").is_dir()
        assert re.fullmatch(f"Start: {DATE}\n", (session / ".signature").read_text())
    assert not list(camera.workdir.rglob("pwned"))
    (camera.workdir / "file").write_text("")
    assert run(camera, "monitory_creator.sh", str(camera.workdir / "file" / "20261206_18_48_53")).returncode == 1


def test_vmstatus_records_crafted_and_real_counters(camera):
    camera.write_proc("stat", "cpu  10 1 20 300 4 0 0 0 0 0\ncpu0 10 1 20 300 4 0 0 0 0 0\n"
                              "intr 5000 0 1\nctxt 7000\nbtime 1\nprocs_running 2\nprocs_blocked 1\n")
    camera.write_proc("meminfo", "MemTotal: 1000 kB\nMemFree:  500 kB\nBuffers:  20 kB\nCached:  30 kB\n"
                                 "SwapFree: 0 kB\n")
    camera.write_proc("vmstat", "pgpgin 11\npgpgout 12\npswpin 13\npswpout 14\npgfault 15\npgmajfault 16\n")
    out = camera.workdir / "vm"
    row = b"T,2,1,500,20,30,0,13,14,11,12,15,16,5000,7000,10,1,20,300,4\n"
    assert sample_into(camera, "vmstatus_monitoring.sh", out) == {"vmstat.csv": (
        b"Date,Time,procs_running,procs_blocked,MemFree_kB,Buffers_kB,Cached_kB,SwapFree_kB,"
        b"pswpin,pswpout,pgpgin,pgpgout,pgfault,pgmajfault,intr,ctxt,"
        b"cpu_user,cpu_nice,cpu_system,cpu_idle,cpu_iowait\n" + row + row)}

    # The host's real files; a kernel file that is missing leaves its fields empty.
    (camera.path("/proc") / "stat").unlink()
    camera.link_real_proc("meminfo", "vmstat")
    run(camera, "vmstatus_monitoring.sh", str(out), env={"TRELVIK_SCRIPT_SAMPLES": "1"})
    last = (out / "vmstat.csv").read_text().splitlines()[-1]
    assert re.fullmatch(r"\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d,," + r",\d+" * 10 + ",,,,,,,", last), last


def test_zeda_status_lists_package_processes_and_memory(camera):
    worker = camera.path("/usr/local/packages/OtherApp/bin/worker.sh")
    worker.parent.mkdir(parents=True)
    # A loop, so that the shell stays the process (a last command may be exec'd).
    worker.write_text("#!/bin/sh\nwhile :; do sleep 1; done\n")
    proc = subprocess.Popen(["busybox", "sh", str(worker)], env=camera.env(), start_new_session=True)
    try:
        files = sample_into(camera, "zeda_status_monitor.sh", camera.workdir / "zeda")
    finally:
        os.killpg(proc.pid, signal.SIGTERM)
        proc.wait()
    memory = [line.split(",") for line in files["zeda_memory.csv"].decode().splitlines()]
    assert memory[0] == "Date,Time,Package,Processes,VSZ_kB,RSS_kB".split(",")
    assert sorted(r[1] for r in memory[1:]) == ["OtherApp", "OtherApp", "Trelvik", "Trelvik"]
    assert all(r[2] == "1" and int(r[3]) > 0 for r in memory[1:] if r[1] == "OtherApp")
    assert all(int(r[2]) >= 1 for r in memory[1:] if r[1] == "Trelvik")  # the script itself
    processes = files["zeda_processes.csv"].decode().splitlines()
    assert processes[0] == "Date,Time,Package,PID,VSZ_kB,RSS_kB,Command"
    mine = [line.split(",") for line in processes[1:] if ",OtherApp," in line]
    assert len(mine) == 2 and all(r[2] == str(proc.pid) and r[5].endswith("worker.sh") for r in mine)


def test_zeda_status_writes_under_a_serial_number_with_backslashes(camera):
    # awk -v would read "\\n" in the path as a line feed and write elsewhere.
    storage = camera.workdir / "sd"
    out = storage / "Trelvik_AB\\n1\\tC" / "zeda"
    out.parent.mkdir(parents=True)
    files = sample_into(camera, "zeda_status_monitor.sh", out)
    assert sorted(files) == ["zeda_memory.csv", "zeda_processes.csv"]
    memory = files["zeda_memory.csv"].decode().splitlines()
    assert len(memory) == 3 and all(line.startswith("T,Trelvik,") for line in memory[1:])
    assert [p.name for p in storage.iterdir()] == ["Trelvik_AB\\n1\\tC"]


def test_vmstatus_on_the_emulated_camera_counts_processes(camera):
    out = camera.workdir / "vm"
    out.mkdir()
    run(camera, "vmstatus_monitoring.sh", str(out), env={"TRELVIK_SCRIPT_SAMPLES": "1"})
    last = (out / "vmstat.csv").read_text().splitlines()[-1]
    assert re.fullmatch(r"\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d" + r",\d+" * 19, last), last


def test_power_records_exposed_readings_only(camera):
    out = camera.workdir / "env"
    assert sample_into(camera, "power.sh", out) == {}  # nothing exposed, nothing written
    hwmon = camera.path("/sys/class/hwmon/hwmon0")
    hwmon.mkdir(parents=True)
    for name, text in (("name", "ina219\n"), ("in1_input", "12010\n"), ("in1_label", "PoE, input\n"),
                       ("curr1_input", "350\n"), ("power1_input", "4200000\n")):
        (hwmon / name).write_text(text)
    camera.path("/sys/class/power_supply/battery").mkdir(parents=True)
    camera.path("/sys/class/power_supply/battery/voltage_now").write_text("3700000\n")
    rows = (b"T,hwmon0:ina219,PoE; input,12010,mV\nT,hwmon0:ina219,curr1,350,mA\n"
            b"T,hwmon0:ina219,power1,4200000,uW\nT,battery,voltage_now,3700000,uV\n")
    assert sample_into(camera, "power.sh", out) == {"power.csv": b"Date,Time,Source,Reading,Value,Unit\n" + rows * 2}


def test_sampling_scripts_end_on_their_own_and_show_in_ps(camera):
    # Started as the daemon starts it: the process list filtered by "Trelvik"
    # names the script while it runs, and it ends without a last pause.
    out = camera.workdir / HOSTILE
    out.mkdir()
    quoted = re.sub(r'([\\"$`])', r"\\\1", str(out))  # as the daemon quotes it
    subprocess.run(f'{script(camera, "vmstatus_monitoring.sh")} "{quoted}"  &', shell=True, check=True,
                   env=camera.env({"TRELVIK_SCRIPT_SAMPLES": "2", "TRELVIK_SCRIPT_INTERVAL": "2"}))

    def listed():
        ps = camera.shell('ps | grep "Trelvik"').stdout.decode()
        # Other cameras of a parallel test run may run the same script.
        return any("vmstatus_monitoring.sh" in line and "grep" not in line and str(camera.workdir) in line
                   for line in ps.splitlines())

    wait_until(listed, "the script in the process list", timeout=5)
    wait_until(lambda: not listed(), "the script to end", timeout=10)
    assert len((out / "vmstat.csv").read_text().splitlines()) == 3

    start = time.monotonic()
    for name in ("vmstatus_monitoring.sh", "topstatus_monitoring.sh", "zeda_status_monitor.sh", "power.sh"):
        assert run(camera, name, str(out), env={"TRELVIK_SCRIPT_SAMPLES": "1"}).returncode == 0
    assert time.monotonic() - start < 5  # one sample each, no 10-second pause after it
    top = (out / "topstatus.txt").read_text()
    assert re.match(r"=== \d{4}-\d\d-\d\d \d\d:\d\d:\d\d ===\n", top) and top.count("  PID  PPID USER") == 1
    assert len(top.splitlines()) <= 31  # the dated line and the first 30 of busybox top


def make_session(folder, start=None, end=None, size=None, zip_bytes=None):
    folder.mkdir(parents=True)
    (folder / ".signature").write_text((f"Start: {start}\n" if start else "") + (f"End: {end}\n" if end else ""))
    info = "Model Name: Q\r\nStop Time of the session: x\r\n" + (f"Session Size: {size}\r\n" if size else "")
    (folder / "Session_Information.txt").write_bytes(info.encode())
    if zip_bytes is not None:
        (folder.parent / (folder.name + ".zip")).write_bytes(b"z" * zip_bytes)
    return folder


def block(path, start="", end="", size="", zipsize=""):
    return f"PATH:{path}\nStart: {start}\nEnd: {end}\nSIZE:{size}\nZIPSIZE:{zipsize}\n=== SESSION END ===\n"


def collect(camera, serial):
    return run(camera, "collect_monitoring_sessions.sh", serial)


def test_collect_monitoring_sessions(camera):
    serial = "ACCC8E000001"
    start, end = "Sun Dec  6 18:48:53 UTC 2026", "Mon Dec  7 08:00:01 UTC 2026"
    internal = make_session(camera.localdata / "20261201_10_00_00", start, end, "1024 B", 1025)
    sd = camera.add_edge_storage("SD_DISK") / f"Trelvik_{serial}"
    first = make_session(sd / "20261206_18_48_53", start, end, "12 MiB", 1049600)
    second = make_session(sd / "20261207_09_00_00", start, end)  # deactivation cut short: no size, no archive
    active = make_session(sd / "20261208_05_20_00", start)
    (active / "data.bin").write_bytes(b"d" * 200 * 1024)
    remote = make_session(camera.add_edge_storage("NetworkShare") / f"Trelvik_{serial}" / "20261130_23_59_59",
                          start, end, "5 TiB", 0)
    # Not sessions of this device, or not sessions at all.
    make_session(camera.add_edge_storage("SD_DISK") / "Trelvik_OTHER" / "20261206_18_48_53", start, end, "1 B")
    (sd / "2026120_18_48_53").mkdir()
    (sd / "notes.txt").write_text("x")
    (sd / "20261209_00_00_00").write_text("a file, not a folder")
    (sd / "20261210_00_00_00.zip").write_text("an archive without its folder")
    camera.state_file.write_text(f"SECS:SD_DISK\nSSPA:{sd}/\nACTI:{active.name}\nTIME:{start}\n")

    result = collect(camera, serial)
    assert result.returncode == 0, result.stderr
    du_kib = int(camera.shell(f'du -sk "{active}"').stdout.split()[0])
    assert du_kib >= 200
    assert result.stdout.decode() == (
        block(internal, start, end, "1024 B", "1 KiB") + block(remote, start, end, "5 TiB", "0 B")
        + block(first, start, end, "12 MiB", "1 MiB") + block(second, start, end)
        + block(active, start, "", f"{du_kib} KiB" if du_kib <= 1024 else f"{du_kib // 1024} MiB"))

    # The state file may name the folder as the device sees it, without the root.
    device_view = str(sd).replace(str(camera.root), "", 1)
    camera.state_file.write_text(f"SECS:SD_DISK\nSSPA:{device_view}/\nACTI:{active.name}\nTIME:{start}\n")
    assert collect(camera, serial).stdout == result.stdout

    # Serial numbers that match nothing, or would leave the storage folder.
    assert collect(camera, "'; touch pwned; '").stdout == block(internal, start, end, "1024 B", "1 KiB").encode()
    assert collect(camera, "../x").returncode == 2
    assert not list(camera.workdir.rglob("pwned"))


def test_collect_a_thousand_sessions(camera):
    sd = camera.add_edge_storage("SD_DISK") / "Trelvik_S1"
    for i in range(1000):
        make_session(sd / f"202601{i // 100 + 10:02d}_{i // 10 % 10:02d}_{i % 10:02d}_00", f"s{i}", f"e{i}",
                     f"{i} B", 0)
    blocks = collect(camera, "S1").stdout.decode().split("=== SESSION END ===\n")
    assert len(blocks) == 1001 and blocks[-1] == ""
    assert blocks[999] == f"PATH:{sd}/20260119_09_09_00\nStart: s999\nEnd: e999\nSIZE:999 B\nZIPSIZE:0 B\n"

#!/usr/bin/env python3
"""Prints what a whole monitoring session costs the camera, beside what
sysstat's collector costs in the same minutes (a figure script, not a test).

  /usr/bin/python3 bench/session_cost.py [--minutes N]

On the emulated camera with the full device of the demo: trelvik_daemon (in
a process namespace of its own, beside idle processes as many as a camera
runs) and a session on the SD card, the package scripts at their defaults (11 samples
10 seconds apart), everything the daemon starts included, all in one cgroup;
beside it `sadc` every 10 seconds, all activities, in a cgroup of its own.
Printed for both: CPU seconds per hour of session (the cgroups' CPU time, not
wall clock: the figure stays fair on a machine busy with other work), their
ratio, the peak memory of each group, processes started per hour (counted
through the kernel's process events) and bytes written per hour. The
sampling scripts' share of the session's CPU time is split off by moving
each script into a child group the moment it starts.

Needs root (cgroups and process events), a build in build/ (or
TRELVIK_BUILD_DIR) and sysstat (tools/setup). The number of script runs is
printed: four per sampling round, one round every two minutes from the
first minute on."""
import argparse
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

from emulator.camera import Camera  # noqa: E402
from emulator.device import populate  # noqa: E402

SERIAL = "ACCC8E000001"
SADC = "/usr/lib/sysstat/sadc"
SCRIPTS = ("vmstatus_monitoring.sh", "topstatus_monitoring.sh", "zeda_status_monitor.sh", "power.sh")


# The camera as the daemon sees it: a process namespace of its own (the
# machine may run other sessions, whose scripts would hold this one's back:
# the daemon starts no script while the process list shows one of that name)
# with $1 idle processes beside it, as a camera runs them, outside the
# measured group. Then this shell joins the group (the cgroup.procs files up
# to the program) and starts the daemon with the password on its standard
# input; as the namespace's first process it reaps the background scripts.
DEVICE = """
count=$1; shift
i=0
while [ "$i" -lt "$count" ]; do sleep 1000000 & i=$((i + 1)); done
while [ "${1##*/}" = cgroup.procs ]; do echo 0 > "$1"; shift; done
exec 3<&0
"$@" <&3 3<&- &
exec 3<&-
wait
"""


class Group:
    """One cgroup (v2, or v1 with its cpuacct and memory controllers)."""

    def __init__(self, name, parent=None):
        unified = Path("/sys/fs/cgroup/cgroup.controllers")
        self.v2 = unified.exists()
        if parent is not None:
            self.dirs = [d / name for d in parent.dirs]
        elif self.v2:
            self.dirs = [Path("/sys/fs/cgroup") / name]
        else:
            self.dirs = [Path("/sys/fs/cgroup/cpuacct") / name, Path("/sys/fs/cgroup/memory") / name]
        for d in self.dirs:
            d.mkdir()
        if self.v2 and parent is None:
            (Path("/sys/fs/cgroup") / "cgroup.subtree_control").write_text("+memory")

    def procs_files(self):
        return [str(d / "cgroup.procs") for d in self.dirs]

    def join(self, pid=None):
        for d in self.dirs:
            (d / "cgroup.procs").write_text(str(pid or os.getpid()))

    def cpu_seconds(self):
        if self.v2:
            stat = dict(line.split() for line in (self.dirs[0] / "cpu.stat").read_text().splitlines())
            return int(stat["usage_usec"]) / 1e6
        return int((self.dirs[0] / "cpuacct.usage").read_text()) / 1e9

    def peak_memory(self):
        if self.v2:
            peak = self.dirs[0] / "memory.peak"
            return int(peak.read_text()) if peak.exists() else None
        memory = [d for d in self.dirs if "/memory/" in str(d)]
        return int((memory[0] / "memory.max_usage_in_bytes").read_text()) if memory else None

    def remove(self):
        """Ends what is left in the group (processes this run started) and removes it."""
        for d in self.dirs:
            for procs in d.rglob("cgroup.procs"):
                for pid in procs.read_text().split():
                    try:
                        os.kill(int(pid), signal.SIGKILL)
                    except ProcessLookupError:
                        pass
        for d in self.dirs:
            for folder in sorted((p for p in d.rglob("*") if p.is_dir()), reverse=True) + [d]:
                for _ in range(100):
                    try:
                        folder.rmdir()
                        break
                    except OSError:  # the last processes are still leaving
                        time.sleep(0.1)


class ProcessEvents(threading.Thread):
    """Records the kernel's process events (netlink process connector) in
    their order, and moves every sampling script of the session into
    `scripts` as soon as it has started."""

    FORK, EXEC, EXIT = 0x1, 0x2, 0x80000000

    def __init__(self, scripts_group, session_tag):
        super().__init__(daemon=True)
        self.session_tag = session_tag
        self.events = []  # (kind, pid, child pid or program name) in the kernel's order
        self.scripts_group = scripts_group
        self.script_runs = set()
        self.sock = socket.socket(socket.AF_NETLINK, socket.SOCK_DGRAM, 11)  # NETLINK_CONNECTOR
        self.sock.bind((0, 1))  # CN_IDX_PROC
        listen = struct.pack("I", 1)  # PROC_CN_MCAST_LISTEN
        message = struct.pack("IIIIHH", 1, 1, 0, 0, len(listen), 0) + listen
        self.sock.send(struct.pack("IHHII", 16 + len(message), 3, 0, 0, 0) + message)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 << 20)
        self.running = True

    def run(self):
        while self.running:
            try:
                data = self.sock.recv(65536)
            except OSError:
                return
            what = struct.unpack_from("I", data, 36)[0]
            if what == self.FORK:
                _, parent_tgid, child_pid, child_tgid = struct.unpack_from("IIII", data, 52)
                if child_pid == child_tgid:  # a process, not a thread
                    self.events.append((self.FORK, parent_tgid, child_tgid))
            elif what == self.EXIT:
                pid, tgid = struct.unpack_from("II", data, 52)
                if pid == tgid:
                    self.events.append((self.EXIT, tgid, None))
            elif what == self.EXEC:
                self.exec_seen(struct.unpack_from("I", data, 52)[0])

    def exec_seen(self, pid):
        try:
            command = Path(f"/proc/{pid}/cmdline").read_bytes()
        except OSError:
            return
        args = command.split(b"\0")
        self.events.append((self.EXEC, pid, args[0].rsplit(b"/", 1)[-1].decode(errors="replace")))
        if b"/Trelvik/shell/" not in command or not any(s.encode() in command for s in SCRIPTS):
            return
        # Only this session's scripts: other sessions may run on the machine.
        try:
            if self.session_tag not in Path(f"/proc/{pid}/cgroup").read_text():
                return
            self.scripts_group.join(pid)
        except OSError:
            return
        # The script's shell, or already what it handed its run to.
        program = args[0].rsplit(b"/", 1)[-1]
        if ((program.endswith(b"sh") or program == b"trelvik_sampler") and len(args) > 1
                and args[1].rsplit(b"/", 1)[-1].decode(errors="replace") in SCRIPTS):
            self.script_runs.add(pid)

    def stop(self):
        self.running = False
        self.sock.close()

    def descendants(self, root, start=None):
        """The processes started under `root` (or under the first process of
        its tree that runs the program `start`, from then on), and how many
        of them ran each program (most first). Ids are followed only while
        their process lives: the machine reuses them."""
        live, count, runs, serial = {root}, 0, set(), {}
        for kind, pid, detail in list(self.events):
            if kind == self.FORK and pid in live:
                live.add(detail)
                count += 1
                serial[detail] = count
            elif kind == self.EXEC and pid in live and detail == start:
                live, count, runs, start = {pid}, 0, set(), None
            elif kind == self.EXEC and pid in live and pid != root:
                # A script that execs its sampler at once may show the
                # sampler at both events: one process, one program.
                runs.add((serial.get(pid, 0), pid, detail))
            elif kind == self.EXIT:
                live.discard(pid)
        programs = {}
        for _, _, name in runs:
            programs[name] = programs.get(name, 0) + 1
        return count, sorted(programs.items(), key=lambda item: -item[1])


def folder_bytes(folder):
    return sum(p.stat().st_size for p in Path(folder).rglob("*") if p.is_file())


def mib(value):
    return "n/a" if value is None else f"{value / 1048576:.1f} MiB"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--minutes", type=float, default=6)
    parser.add_argument("--processes", type=int, default=120,
                        help="idle processes beside the daemon, as a camera runs them")
    args = parser.parse_args()
    if os.geteuid() != 0:
        sys.exit("session_cost.py needs root (cgroups and process events)")
    seconds = args.minutes * 60
    tag = f"trelvik-bench-{os.getpid()}"
    session_group = Group(tag + "-session")
    scripts_group = Group("scripts", session_group)
    sadc_group = Group(tag + "-sadc")
    events = ProcessEvents(scripts_group, tag + "-session")
    events.start()
    daemon = sadc = None
    with tempfile.TemporaryDirectory(prefix="trelvik-bench-") as work:
        camera = Camera(Path(work) / "camera").start()
        try:
            populate(camera)
            env = camera.env()
            env.pop("LD_PRELOAD")  # measure the daemon, not the tests' log capture
            env.pop("TRELVIK_SYSLOG_CAPTURE")
            reply = subprocess.run([camera.program("begin_monitor_session"), "SD_DISK", SERIAL, "Q6135-LE",
                                    "11.8.64", "root"], input=b"pass\n", capture_output=True, env=env,
                                   cwd=camera.workdir, preexec_fn=session_group.join)
            assert reply.stdout.endswith(b"Session started."), reply
            state = dict(line.split(":", 1) for line in camera.state_file.read_text().splitlines())
            session = Path(state["SSPA"] + state["ACTI"])
            sadc_file = Path(work) / "sa.data"
            start = time.monotonic()
            daemon = subprocess.Popen(["unshare", "--pid", "--fork", "--mount-proc", "--kill-child", "sh", "-c",
                                       DEVICE, "sh", str(args.processes), *session_group.procs_files(),
                                       camera.program("trelvik_daemon"), SERIAL, "ZURN Q6135-LE Network Camera",
                                       "Network Camera", "root"], stdin=subprocess.PIPE,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env,
                                      cwd=camera.workdir)
            daemon.stdin.write(b"pass\n")
            daemon.stdin.close()
            sadc = subprocess.Popen([SADC, "-S", "XALL", "10", str(int(seconds // 10) + 1), str(sadc_file)],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                    preexec_fn=sadc_group.join)
            print(f"session and sadc running for {args.minutes:g} minutes...", file=sys.stderr, flush=True)
            time.sleep(max(0.0, seconds - (time.monotonic() - start)))
            # Figures are taken before anything is stopped.
            session_cpu, scripts_cpu = session_group.cpu_seconds(), scripts_group.cpu_seconds()
            sadc_cpu = sadc_group.cpu_seconds()
            session_peak, sadc_peak = session_group.peak_memory(), sadc_group.peak_memory()
            written = folder_bytes(session)
            top = sum(p.stat().st_size for p in session.rglob("topstatus.txt"))
            sadc_written = sadc_file.stat().st_size if sadc_file.exists() else 0
            daemon_forks, programs = events.descendants(daemon.pid, "trelvik_daemon")
            sadc_forks, _ = events.descendants(sadc.pid)
        finally:
            # unshare ignores SIGTERM while it waits; killed, it takes its
            # namespace (the daemon, its scripts, the idle processes) along.
            for proc in (daemon, sadc):
                if proc is not None and proc.poll() is None:
                    proc.kill()
                    proc.wait(timeout=10)
            camera.stop()
            events.stop()
    hours = seconds / 3600
    print(f"Session cost over {args.minutes:g} minutes (CPU time of the cgroups, per hour of session)")
    print(f"  session (daemon, session start, all it starts): {session_cpu / hours:8.2f} CPU s/h")
    print(f"    of it the sampling scripts ({len(events.script_runs):3d} runs):       {scripts_cpu / hours:8.2f} CPU s/h")
    print(f"    the rest (daemon and its command lines):     {(session_cpu - scripts_cpu) / hours:8.2f} CPU s/h")
    print(f"  sadc -S XALL every 10 s:                        {sadc_cpu / hours:8.2f} CPU s/h")
    print(f"  ratio session / sadc:                           {session_cpu / sadc_cpu:8.1f}" if sadc_cpu else
          "  ratio session / sadc: n/a")
    print(f"  peak memory: session {mib(session_peak)}, sadc {mib(sadc_peak)}")
    print(f"  processes started per hour: session {daemon_forks / hours:.0f}, sadc {sadc_forks / hours:.0f}")
    print("    programs run per hour: " + ", ".join(f"{name} {count / hours:.0f}" for name, count in programs))
    print(f"  bytes written per hour: session {written / hours:.0f}"
          f" (top snapshots {top / hours:.0f}, {100 * top / written if written else 0:.0f} %),"
          f" sadc {sadc_written / hours:.0f}")

    session_group.remove()
    sadc_group.remove()


if __name__ == "__main__":
    main()

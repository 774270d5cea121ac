#!/usr/bin/env python3
"""Writes a realistic monitoring session folder (and its archive) in the exact
formats of Trelvik's collectors and package scripts, for N days at the
device's two-minute sampling rounds, with optional injected anomalies. Test
support for the session viewer; not shipped.

    gen_session.py OUT_DIR [--days 7] [--anomaly leak --anomaly outage ...]
                   [--zip] [--cut-archive 0.6] [--seed 1] [--no-top] [--start "YYYY-MM-DD HH:MM:SS"]
                   [--zone Europe/Stockholm --utc-offset +0100 | --no-zone]

Prints a JSON manifest on standard output: the session folder, the archive,
and for each injected anomaly the rule it should trigger and its time range
(seconds on the camera clock, as the viewer counts them).

Anomalies: leak (a named package process leaking memory), oom (a process
leaking until the kernel kills it, again and again), fragmentation, outage
(storage gone for three hours), reboot, heat (a sensor above 80 °C while the
fan reports a fault), neterrors (receive errors on eth0), load (one-minute
load above the CPU count, one process topping top), ifdown (wlan0
disappearing), clockback (the clock stepped back an hour), clock1970 (the
session started before the clock was set), powercut (a power cut: a half row
and a block of NULs in every CSV file, a line of invalid UTF-8, a restart),
baddates (rows dated 2026-13-45 and 2036), lowmem (available memory under
5 % for half an hour, no leak), wrap (one counter of lo wrapping).

The package scripts' files have the camera's volume: every package process
in each of the eleven samples of a round, and top's snapshots of 30 lines as
the sampler appends them.
"""
import argparse
import calendar
import datetime
import json
import math
import os
import random
import subprocess
import sys

ROUND = 120
SCRIPT_INTERVAL = 10
START = datetime.datetime(2026, 12, 6, 18, 48, 53)
CPUS = 2

MEMINFO = [
    ("MemTotal", 1992000), ("MemFree", 0), ("MemAvailable", 0), ("Buffers", 18200), ("Cached", 0),
    ("SwapCached", 0), ("Active", 210000), ("Inactive", 150000), ("Active(anon)", 120000),
    ("Inactive(anon)", 9000), ("Active(file)", 90000), ("Inactive(file)", 141000), ("Unevictable", 4000),
    ("Mlocked", 4000), ("SwapTotal", 0), ("SwapFree", 0), ("Dirty", 40), ("Writeback", 0),
    ("AnonPages", 125000), ("Mapped", 70000), ("Shmem", 12000), ("KReclaimable", 9000), ("Slab", 38000),
    ("SReclaimable", 9000), ("SUnreclaim", 29000), ("KernelStack", 2600), ("PageTables", 3400),
    ("NFS_Unstable", 0), ("Bounce", 0), ("WritebackTmp", 0), ("CommitLimit", 506172),
    ("Committed_AS", 610000), ("VmallocTotal", 263061440), ("VmallocUsed", 12000), ("VmallocChunk", 0),
    ("Percpu", 640), ("CmaTotal", 262144), ("CmaFree", 180000), ("HugePages_Total", 0),
    ("HugePages_Free", 0), ("HugePages_Rsvd", 0), ("HugePages_Surp", 0), ("Hugepagesize", 2048),
    ("Hugetlb", 0),
]
NET_HEADER = ("Date, Time, Receive: bytes, compressed, drop, errs, fifo, frame, multicast, packets, "
              "Transmit: bytes, carrier, colls, compressed, drop, errs, fifo, packets, "
              "Failed packages total (receive), Failed packages total (transmit)\n")
BUDDY_BASE = [620, 410, 260, 140, 70, 34, 16, 8, 4, 2, 1]
LEAKER = "/usr/local/packages/Acme/bin/acme_analytics --config /usr/local/packages/Acme/conf"
DAEMON = "/usr/local/packages/Trelvik/trelvik_daemon ACCC8E000001 ZURN Q6075 root"
HOG = "/usr/local/packages/Acme/bin/acme_encoder --profile high"
AVAIL = 1250000
OOM_FLOOR = 85 * 1024
# The package processes: (package, pid, vsz kB, rss kB, command line).
PROCESSES = [
    ("Trelvik", 1201, 9876, 3120, DAEMON),
    ("Trelvik", 1240, 2400, 1100, "/usr/local/packages/Trelvik/trelvik_sampler "
     "/usr/local/packages/Trelvik/scripts/zeda_status_monitor.sh /var/spool/storage/SD_DISK/x 11 10"),
    ("Acme", 1302, 61000, 21000, LEAKER),
    ("Acme", 1303, 88000, 30500, HOG),
    ("Acme", 1304, 12000, 4100, "/usr/local/packages/Acme/bin/acme_events --bus system"),
] + [
    (pkg, 1400 + k, 20000 + 1000 * k, 6000 + 300 * k, f"/usr/local/packages/{pkg}/bin/{pkg.lower()}_{role}")
    for k, (pkg, role) in enumerate([(p, r) for p in ("Vmd", "Loiter", "Objectanalytics") for r in ("main", "worker")])
]
SYSTEM = [(1, "/sbin/init"), (212, "/usr/lib/systemd/systemd-journald"), (240, "/usr/sbin/dbus-daemon --system"),
          (880, "/usr/sbin/streamer"), (910, "/usr/sbin/httpd -f /etc/httpd.conf"), (951, "/usr/sbin/ptzd"),
          (990, "/usr/sbin/eventd"), (1010, "/usr/sbin/storaged"), (1055, "[kworker/0:1]"), (1090, "/usr/sbin/ntpd")]


def stamp(t):
    return datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime("%Y-%m-%d,%H:%M:%S")


EPOCH_BOOT = 40  # seconds after 1970-01-01 that a camera without its clock starts sampling


def name_stamp(t, fmt):
    return datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime(fmt)


class Session:
    def __init__(self, out, days, anomalies, seed, top, zone, start=START):
        self.rng = random.Random(seed)
        self.t0 = calendar.timegm(start.timetuple())
        self.rounds = int(days * 86400 / ROUND)
        self.end = self.t0 + self.rounds * ROUND
        self.anomalies = set(anomalies)
        self.top = top
        self.zone = zone
        self.name = start.strftime("%Y%m%d_%H_%M_%S")
        self.path = os.path.join(out, self.name)
        self.files = {}
        self.manifest = []
        span = self.rounds * ROUND
        at = lambda share: self.t0 + int(share * self.rounds) * ROUND
        self.leak_from = at(0.3)
        self.frag_from = at(0.6)
        self.outage = (at(0.4), at(0.4) + 3 * 3600)
        self.reboot_at = at(0.5)
        self.heat = (at(0.7), at(0.7) + 3600)
        self.neterr = (at(0.2), at(0.2) + 2 * 3600)
        self.load = (at(0.15), at(0.15) + 3600)
        self.ifdown_at = at(0.8)
        self.clockback_at = at(0.55)
        self.clock_set_at = at(0.0) + 15 * ROUND
        self.powercut = (self.t0 + 6 * ROUND + 30, self.t0 + 9 * ROUND)
        self.oom_from = at(0.1)
        # Three or four kills in any length of session.
        self.oom_rate = (AVAIL - OOM_FLOOR) / (days * 24 / 3.3)
        self.oom_kills = []
        self.pids = {p[4]: p[1] for p in PROCESSES}
        self.baddates = (at(0.25), at(0.65))
        self.lowmem = (at(0.45), at(0.45) + 1800)
        self.wrap_at = at(0.35)
        self.span = span

    def written(self, t):
        """The time the camera's clock said at true time t."""
        if "clock1970" in self.anomalies and t < self.clock_set_at:
            return EPOCH_BOOT + (t - self.t0)
        if "clockback" in self.anomalies and t >= self.clockback_at:
            return t - 3600
        return t

    def stamp(self, t):
        return stamp(self.written(t))

    def write(self, rel, text):
        self.files.setdefault(rel, []).append(text)

    def sampled(self, t):
        if "outage" in self.anomalies and self.outage[0] < t < self.outage[1]:
            return False
        if "powercut" in self.anomalies and self.powercut[0] <= t < self.powercut[1]:
            return False
        return True

    def boot_offset(self, t):
        """Seconds since the device (re)booted: counters count from there."""
        boots = [b for b, on in ((self.powercut[1], "powercut" in self.anomalies), (self.reboot_at, "reboot" in self.anomalies))
                 if on and b <= t]
        if boots:
            return t - max(boots) + 30
        return t - self.t0 + 86400

    def daily(self, t, amplitude):
        return amplitude * math.sin(2 * math.pi * (t - self.t0) / 86400)

    def memory(self, t):
        rng = self.rng
        leaked = 0
        if "leak" in self.anomalies and t > self.leak_from:
            leaked = (t - self.leak_from) / 3600 * 4096
        if "oom" in self.anomalies and t > self.oom_from:
            # Grows from its last start until available memory reaches the
            # floor; the kernel kills it and its supervisor starts it again.
            since = self.oom_kills[-1] if self.oom_kills else self.oom_from
            leaked = (t - since) / 3600 * self.oom_rate
            if AVAIL - leaked < OOM_FLOOR:
                self.oom_kills.append(t)
                self.pids[LEAKER] += 100
                leaked = 0
        avail = AVAIL + self.daily(t, 8000) + rng.uniform(-5000, 5000) - leaked
        if "lowmem" in self.anomalies and self.lowmem[0] <= t <= self.lowmem[1]:
            avail = 60000 + rng.uniform(-2000, 2000)  # a burst of allocations, given back after
        return int(avail), int(leaked)

    def round(self, i):
        t = self.t0 + i * ROUND
        if not self.sampled(t):
            return
        if "powercut" in self.anomalies and t == self.powercut[1]:
            self.power_cut_damage()
        s = self.stamp(t)
        avail, leaked = self.memory(t)
        sm = "system_monitoring/"
        for key, base in MEMINFO:
            if key == "MemAvailable":
                value = avail
            elif key == "MemFree":
                # Free memory bottoms out where the kernel starts reclaiming.
                value = max(9000 + self.rng.randint(0, 2000), avail - 420000 + self.rng.randint(-3000, 3000))
            elif key == "Cached":
                value = 380000 + self.rng.randint(-2000, 2000)
            elif key == "AnonPages":
                value = base + int(leaked)
            else:
                value = base
            if i == 0:
                self.write(f"{sm}monitoring_meminfo/{key}.csv", f"Date,Time,Memory {key} (kB)\r\n")
            self.write(f"{sm}monitoring_meminfo/{key}.csv", f"{s},{value}\r\n")
        self.load_row(i, t, s)
        self.net_rows(i, t, s)
        self.kernel_rows(i, t, s)
        self.environment_rows(i, t, s)
        self.stream_row(i, t, s)
        if i == 0:
            self.write(f"{sm}monitoring_self/Trelvik_summary.csv", "Date,Time,%Vsz,%Cpu\n")
        self.write(f"{sm}monitoring_self/Trelvik_summary.csv", f"{s},2,{self.rng.choice([0, 0, 0, 1])}\n")
        self.script_rows(i, t, leaked)
        if i % 60 == 0:
            self.snapshots(t)

    def load_row(self, i, t, s):
        one = 0.35 + self.rng.uniform(0, 0.6)
        if "load" in self.anomalies and self.load[0] <= t <= self.load[1]:
            one = 3.4 + self.rng.uniform(0, 0.8)
        path = "system_monitoring/monitoring_load/load.csv"
        if i == 0:
            self.write(path, "Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)\r\n")
        self.write(path, f"{s},{one:.2f},{one * 0.8:.2f},{one * 0.6:.2f}\r\n")

    def net_rows(self, i, t, s):
        up = self.boot_offset(t)
        folder = "system_monitoring/monitoring_network/"
        ifaces = [("lo", 2000), ("eth0", 180000), ("wlan0", 300)]
        eth_rx = eth_tx = None
        for name, rate in ifaces:
            if name == "wlan0" and "ifdown" in self.anomalies and t >= self.ifdown_at:
                continue
            rx = int(up * rate)
            if name == "lo" and "wrap" in self.anomalies and t >= self.wrap_at:
                rx -= int(self.boot_offset(self.wrap_at) * rate)  # a 32-bit counter of the driver wrapped
            tx = int(up * rate * (1.0 if name == "lo" else 3.2))
            errs = 0
            if name == "eth0" and "neterrors" in self.anomalies and t > self.neterr[0]:
                errs = int((min(t, self.neterr[1]) - self.neterr[0]) / ROUND) * 37
            rxp, txp = rx // 900, tx // 1200
            # One fault shows in several counters: errors, drops and frame errors.
            rx_vals = [rx, 0, 3 + errs // 2, errs, 0, errs // 4, up // 60, rxp]
            tx_vals = [tx, 0, 0, 0, 0, 0, 0, txp]
            rel = f"{folder}{name}.csv"
            if i == 0 or rel not in self.files:
                self.write(rel, NET_HEADER)
            cells = ",".join(str(v) for v in rx_vals + tx_vals)
            self.write(rel, f"{s},{cells},{errs + 3},0\n")
            if name == "eth0":
                eth_rx, eth_tx = rx, tx
        last = getattr(self, "last_eth", None)
        if last is not None:
            dt = t - last[0]
            data = (eth_rx - last[1]) + (eth_tx - last[2])
            mbps = int(int(data / dt) / 12500) if dt else 0
            if mbps >= 0:
                rel = f"{folder}network.csv"
                if rel not in self.files:
                    self.write(rel, "Date,Time,Network Bandwidth (Mbit/s)\r\n")
                self.write(rel, f"{s},{mbps / 10.0:.1f} Mbit/s\r\n")
        self.last_eth = (t, eth_rx, eth_tx)

    def kernel_rows(self, i, t, s):
        up = self.boot_offset(t)
        folder = "system_monitoring/monitoring_kernel/"
        if i == 0:
            self.write(f"{folder}pagefaults.csv", "DATE,TIME,MINOR_FAULTS,MAJOR_FAULTS\n")
            header = "ZONE,DATE,TIME" + "".join(f",{4 * 2 ** k} kB" for k in range(len(BUDDY_BASE)))
            self.write(f"{folder}buddyinfo.csv", header + "\n")
        self.write(f"{folder}pagefaults.csv", f"{s},{up * 25},{up // 600}\n")
        normal = [max(1, int(b * self.rng.uniform(0.8, 1.2))) for b in BUDDY_BASE]
        if "fragmentation" in self.anomalies and t >= self.frag_from:
            normal = [n * 3 if k < 4 else 0 for k, n in enumerate(normal)]
        dma = [max(0, int(b * 0.3)) for b in BUDDY_BASE]
        zero = [0] * len(BUDDY_BASE)
        total = [a + b for a, b in zip(dma, normal)]
        for zone, counts in (("DMA", dma), ("DMA32", zero), ("Normal", normal), ("HighMem", zero), ("Total", total)):
            self.write(f"{folder}buddyinfo.csv", f"{zone},{s}" + "".join(f",{c}" for c in counts) + "\n")

    def environment_rows(self, i, t, s):
        folder = "system_monitoring/monitoring_environment/"
        hot = "heat" in self.anomalies and self.heat[0] <= t <= self.heat[1]
        cpu = 46 + self.daily(t, 4) + self.rng.uniform(-0.5, 0.5)
        if hot:
            cpu = 60 + (t - self.heat[0]) / 3600 * 30
        for name, value in (("CPU", cpu), ("Housing", cpu - 12)):
            if i == 0:
                self.write(f"{folder}{name}.csv", "Date, Time, Temperature (Celsius)\n")
            self.write(f"{folder}{name}.csv", f"{s},{value:.1f}\n")
        if i == 0:
            self.write(f"{folder}Heater_0.csv", "Date, Time, Heater status\n")
            self.write(f"{folder}Fan_0.csv", "Date, Time, Fan status\n")
        self.write(f"{folder}Heater_0.csv", f"{s},off\n")
        self.write(f"{folder}Fan_0.csv", f"{s},{'failed' if hot else 'running'}\n")

    def stream_row(self, i, t, s):
        path = "system_monitoring/monitoring_streams/stream.csv"
        if i == 0:
            self.write(path, "Date,Time,Streams\r\n")
        hour = ((t - self.t0) // 3600) % 24
        if 8 <= hour < 12:
            value = " resolution=1920x1080&fps=30&videocodec=h264 + resolution=640x360&fps=15 "
        elif 12 <= hour < 14:
            value = " resolution=1920x1080&fps=30&videocodec=h264 "
        else:
            value = "No streams "
        self.write(path, f"{s},{value}\r\n")

    def script_rows(self, i, t, leaked):
        sm = "system_monitoring/"
        vm = f"{sm}monitoring_vmstatus/vmstat.csv"
        zp = f"{sm}monitoring_zeda/zeda_processes.csv"
        zm = f"{sm}monitoring_zeda/zeda_memory.csv"
        pw = f"{sm}monitoring_environment/power.csv"
        if i == 0:
            self.write(vm, "Date,Time,procs_running,procs_blocked,MemFree_kB,Buffers_kB,Cached_kB,SwapFree_kB,"
                           "pswpin,pswpout,pgpgin,pgpgout,pgfault,pgmajfault,intr,ctxt,"
                           "cpu_user,cpu_nice,cpu_system,cpu_idle,cpu_iowait\n")
            self.write(zp, "Date,Time,Package,PID,VSZ_kB,RSS_kB,Command\n")
            self.write(zm, "Date,Time,Package,Processes,VSZ_kB,RSS_kB\n")
            self.write(pw, "Date,Time,Source,Reading,Value,Unit\n")
        top = []
        for k in range(11):
            ts = t + 1 + k * SCRIPT_INTERVAL
            s = self.stamp(ts)
            up = self.boot_offset(ts)
            avail, leak_now = self.memory(ts)
            ticks = up * 100
            self.write(vm, f"{s},{self.rng.randint(1, 2)},0,{max(9000, avail - 420000)},18200,380000,0,0,0,"
                           f"{up * 4},{up * 9},{up * 25},{up // 600},{up * 900},{up * 1500},"
                           f"{ticks * 2 * 12 // 100},0,{ticks * 2 * 6 // 100},{ticks * 2 * 81 // 100},{ticks * 2 // 100}\n")
            rows = []
            uses = {}
            for pkg, _, vsz, rss, cmd in PROCESSES:
                rss += self.rng.randint(-40, 40)
                if cmd == LEAKER:
                    rss += int(leak_now)
                    vsz += int(leak_now)
                rows.append(f"{s},{pkg},{self.pids[cmd]},{vsz},{rss},{cmd}\n")
                n, v, r = uses.get(pkg, (0, 0, 0))
                uses[pkg] = (n + 1, v + vsz, r + rss)
            self.write(zp, "".join(rows))
            self.write(zm, "".join(f"{s},{pkg},{n},{v},{r}\n" for pkg, (n, v, r) in uses.items()))
            self.write(pw, f"{s},hwmon0:ina219,in0,{5000 + self.rng.randint(-20, 20)},mV\n")
            self.write(pw, f"{s},hwmon0:ina219,curr1,{610 + self.rng.randint(-30, 30)},mA\n")
            if self.top:
                top.append(self.top_snapshot(ts, leak_now))
        if top:
            self.write(f"{sm}monitoring_topstatus/topstatus.txt", "".join(top))

    def top_snapshot(self, t, leak_now):
        """busybox top -b -n 1, its first 30 lines, behind the sampler's marker."""
        d = datetime.datetime.fromtimestamp(self.written(t), datetime.timezone.utc)
        hog = "load" in self.anomalies and self.load[0] <= t <= self.load[1]
        rng = self.rng
        procs = []
        for pkg, _, vsz, rss, cmd in PROCESSES:
            cpu = 95 if hog and cmd == HOG else rng.choice((0, 0, 0, 1, 2))
            procs.append((self.pids[cmd], vsz + (int(leak_now) if cmd == LEAKER else 0), cpu, cmd))
        for pid, cmd in SYSTEM:
            procs.append((pid, 3000 + pid, rng.choice((0, 0, 1, 4)), cmd))
        procs.sort(key=lambda p: -p[2])
        used = 1992000 - AVAIL
        lines = [f"=== {d:%Y-%m-%d %H:%M:%S} ===",
                 f"Mem: {used}K used, {AVAIL}K free, 12000K shrd, 18200K buff, 380000K cached",
                 "CPU:  12% usr   6% sys   0% nic  81% idle   1% io   0% irq   0% sirq",
                 f"Load average: {3.6 if hog else 0.52:.2f} 0.58 0.59 2/180 1302",
                 "  PID  PPID USER     STAT   VSZ %VSZ CPU %CPU COMMAND"]
        for pid, vsz, cpu, cmd in procs[:25]:
            lines.append(f"{pid:5d}     1 root     S    {vsz:5d}   {vsz * 100 // 1992000}%   {pid % CPUS} {cpu:3d}% {cmd}")
        return "\n".join(lines) + "\n"

    def power_cut_damage(self):
        """What a power cut leaves: each CSV file's last row cut in half and a
        block of NULs where the file system had allocated but not written,
        the next rows appended behind them; a line of invalid UTF-8."""
        for rel, parts in self.files.items():
            if not rel.endswith(".csv"):
                continue
            last = parts[-1]
            cut = last[: max(1, len(last) // 2)].rstrip("\n")
            parts[-1] = cut.encode() + b"\0" * 1024
        self.write("system_monitoring/monitoring_environment/Fan_0.csv", b"\n2026-12-\xff\xfe\xc3,run\xe9ing\n")

    def snapshots(self, t):
        sm = "system_monitoring/"
        report = name_stamp(t, "Server_Report_%Y-%m-%dT%H%M%SUTC.txt")
        self.write(f"{sm}monitoring_basic/Server_Reports/{report}",
                   f"----- Server report -----\nSerial number: ACCC8E000001\nUptime: {self.boot_offset(t)} s\n")
        for k, dt in enumerate((0, 3)):
            name = name_stamp(t + dt, "%Y%m%d_%H%M%S_interrupts.txt")
            n = int(self.boot_offset(t + dt))
            self.write(f"{sm}monitoring_interrupts/{name}",
                       "           CPU0       CPU1       \n"
                       f" 11: {n * 100:10d} {n * 97:10d}     GICv3  27 Level     arch_timer\n"
                       f" 37: {n * 3 + k:10d} {0:10d}     GICv3  64 Level     eth0\n"
                       f"IPI0: {n:10d} {n:10d}       Rescheduling interrupts\n")

    def information(self):
        abbrev = "UTC" if self.zone is None else self.zone[2]
        fmt = lambda t: datetime.datetime.fromtimestamp(self.written(t), datetime.timezone.utc).strftime(f"%a %b %e %H:%M:%S {abbrev} %Y")
        minutes = self.rounds * 2
        points = sum(1 for i in range(self.rounds) if self.sampled(self.t0 + i * ROUND))
        self.write("Session_Information.txt",
                   "Model Name: ZURN Q6075\r\nSerial Number: ACCC8E000001\r\nFirmware version: 11.9.60\r\n"
                   f"Edge storage location: SD_DISK\r\nStart Time of the session: {fmt(self.t0)}\r\n"
                   f"Collected Data Points: {points}\n"
                   f"Duration: {minutes // 1440} Days {minutes // 60 % 24} hours {minutes % 60} minutes\n"
                   f"Stop Time of the session: {fmt(self.end)}\r\n")
        self.write(".signature", f"Start: {fmt(self.t0)}\nEnd: {fmt(self.end)}\n")
        if self.zone is not None:
            self.write("Session_TimeZone.txt", f"Zone: {self.zone[0]}\nUTC offset: {self.zone[1]}\n")
        for t in (self.t0, self.end):
            self.write(f"system_monitoring/monitoring_onvif/{name_stamp(self.written(t), '%Y%m%d_%H%M%S')}_media.conf",
                       "[Profile_1]\nresolution=1920x1080\nfps=30\n")

    def bad_dates(self):
        """Rows whose dates cannot be: a month 13, a year far after the stop."""
        sm = "system_monitoring/"
        self.write(f"{sm}monitoring_meminfo/MemFree.csv", "2026-13-45,10:00:00,200000\r\n")
        self.write(f"{sm}monitoring_load/load.csv", "2036-12-07,10:00:00,0.50,0.40,0.30\r\n")

    def expectations(self):
        a = self.anomalies
        if "leak" in a:
            self.manifest.append({"anomaly": "leak", "rule": "memory", "from": self.leak_from, "to": self.end,
                                  "names": "acme_analytics"})
        if "fragmentation" in a:
            self.manifest.append({"anomaly": "fragmentation", "rule": "fragmentation", "from": self.frag_from, "to": self.end})
        if "outage" in a:
            self.manifest.append({"anomaly": "outage", "rule": "gap", "from": self.outage[0], "to": self.outage[1]})
        if "reboot" in a:
            self.manifest.append({"anomaly": "reboot", "rule": "reboot", "from": self.reboot_at, "to": self.reboot_at + ROUND})
        if "heat" in a:
            self.manifest.append({"anomaly": "heat", "rule": "heat", "from": self.heat[0], "to": self.heat[1]})
        if "neterrors" in a:
            self.manifest.append({"anomaly": "neterrors", "rule": "network", "from": self.neterr[0], "to": self.neterr[1]})
        if "load" in a:
            self.manifest.append({"anomaly": "load", "rule": "load", "from": self.load[0], "to": self.load[1]})
        if "ifdown" in a:
            self.manifest.append({"anomaly": "ifdown", "rule": "network", "from": self.ifdown_at, "to": self.end})
        if "oom" in a:
            self.manifest.append({"anomaly": "oom", "rule": "memory", "from": self.oom_from, "to": self.end,
                                  "names": "acme_analytics", "kills": self.oom_kills})
        if "lowmem" in a:
            self.manifest.append({"anomaly": "lowmem", "rule": "low-memory", "from": self.lowmem[0], "to": self.lowmem[1]})
        if "wrap" in a:
            self.manifest.append({"anomaly": "wrap", "rule": "counter", "from": self.wrap_at, "to": self.wrap_at})
        if "clockback" in a:
            self.manifest.append({"anomaly": "clockback", "rule": "clock", "from": self.clockback_at - ROUND, "to": self.clockback_at + 3600})
        if "clock1970" in a:
            self.manifest.append({"anomaly": "clock1970", "rule": "clock", "from": self.clock_set_at, "to": self.clock_set_at})
        if "powercut" in a:
            self.manifest.append({"anomaly": "powercut", "rule": "reboot", "from": self.powercut[0] - ROUND + 30, "to": self.powercut[1] + ROUND})

    def save(self):
        for i in range(self.rounds):
            self.round(i)
            if "baddates" in self.anomalies and self.t0 + i * ROUND in self.baddates:
                self.bad_dates()
        self.information()
        self.expectations()
        for folder in ("monitoring_radar", "monitoring_topstatus", "monitoring_onvif"):
            os.makedirs(os.path.join(self.path, "system_monitoring", folder), exist_ok=True)
        for rel, parts in self.files.items():
            full = os.path.join(self.path, rel)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(b"".join(p if isinstance(p, bytes) else p.encode() for p in parts))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("out")
    ap.add_argument("--days", type=float, default=7)
    ap.add_argument("--anomaly", action="append", default=[],
                    choices=["leak", "oom", "fragmentation", "outage", "reboot", "heat", "neterrors", "load", "ifdown",
                             "clockback", "clock1970", "powercut", "baddates", "lowmem", "wrap"])
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--zip", action="store_true", help="also write the archive beside the folder, as zip does")
    ap.add_argument("--no-top", dest="top", action="store_false", help="leave the top snapshots out (smaller, faster)")
    ap.add_argument("--start", type=datetime.datetime.fromisoformat, default=START,
                    help="the first round's camera time (a session in the past for engines that refuse the future)")
    ap.add_argument("--cut-archive", type=float, metavar="SHARE",
                    help="cut the archive after this share of its bytes, as an interrupted copy does")
    ap.add_argument("--zone", default="UTC", help="the camera's IANA time zone, for Session_TimeZone.txt")
    ap.add_argument("--utc-offset", default="+0000", help="its offset at the start, as +HHMM")
    ap.add_argument("--no-zone", action="store_true", help="leave Session_TimeZone.txt out")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    zone = None
    if not args.no_zone:
        abbrev = "UTC"
        if args.zone != "UTC":
            import zoneinfo
            abbrev = args.start.replace(tzinfo=zoneinfo.ZoneInfo(args.zone)).tzname()
        zone = (args.zone, args.utc_offset, abbrev)
    session = Session(args.out, args.days, args.anomaly, args.seed, args.top, zone, args.start)
    session.save()
    archive = None
    if args.zip:
        archive = session.path + ".zip"
        if os.path.exists(archive):
            os.remove(archive)
        # The archiver's own command line, run from the folder that holds the
        # session; the facts go last, as the end of a session writes them.
        subprocess.run(["zip", "--recurse-paths", "-q", session.name + ".zip", session.name, "--exclude", ".tmp*",
                        "*/Session_Information.txt", "*/.signature"], cwd=args.out, check=True)
        subprocess.run(["zip", "-q", session.name + ".zip", f"{session.name}/Session_Information.txt",
                        f"{session.name}/.signature"], cwd=args.out, check=True)
        if args.cut_archive:
            size = os.path.getsize(archive)
            with open(archive, "r+b") as f:
                f.truncate(int(size * args.cut_archive))
    json.dump({"folder": session.path, "archive": archive, "start": session.t0, "end": session.end,
               "rounds": session.rounds, "anomalies": session.manifest}, sys.stdout)
    print()


if __name__ == "__main__":
    main()

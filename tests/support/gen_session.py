#!/usr/bin/env python3
"""Writes a realistic monitoring session folder (and its archive) in the exact
formats of Trelvik's collectors and package scripts, for N days at the
device's two-minute sampling rounds, with optional injected anomalies. Test
support for the session viewer; not shipped.

    gen_session.py OUT_DIR [--days 7] [--anomaly leak --anomaly outage ...]
                   [--zip] [--seed 1] [--no-top] [--start "YYYY-MM-DD HH:MM:SS"]

Prints a JSON manifest on standard output: the session folder, the archive,
and for each injected anomaly the rule it should trigger and its time range
(seconds on the camera clock, as the viewer counts them).

Anomalies: leak (a named package process leaking memory), fragmentation,
outage (storage gone for three hours), reboot, heat (a sensor above 80 °C
while the fan reports a fault), neterrors (receive errors on eth0), load
(one-minute load above the CPU count), ifdown (wlan0 disappearing).
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
    ("MemTotal", 1012344), ("MemFree", 0), ("MemAvailable", 0), ("Buffers", 18200), ("Cached", 0),
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


def stamp(t):
    return datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime("%Y-%m-%d,%H:%M:%S")


def name_stamp(t, fmt):
    return datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime(fmt)


class Session:
    def __init__(self, out, days, anomalies, seed, top, start=START):
        self.rng = random.Random(seed)
        self.t0 = calendar.timegm(start.timetuple())
        self.rounds = int(days * 86400 / ROUND)
        self.end = self.t0 + self.rounds * ROUND
        self.anomalies = set(anomalies)
        self.top = top
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
        self.span = span

    def write(self, rel, text):
        self.files.setdefault(rel, []).append(text)

    def sampled(self, t):
        if "outage" in self.anomalies and self.outage[0] < t < self.outage[1]:
            return False
        return True

    def boot_offset(self, t):
        """Seconds since the device (re)booted: counters count from there."""
        if "reboot" in self.anomalies and t >= self.reboot_at:
            return t - self.reboot_at + 30
        return t - self.t0 + 86400

    def daily(self, t, amplitude):
        return amplitude * math.sin(2 * math.pi * (t - self.t0) / 86400)

    def memory(self, t):
        rng = self.rng
        leaked = 0
        if "leak" in self.anomalies and t > self.leak_from:
            leaked = (t - self.leak_from) / 3600 * 4096
        avail = 600000 + self.daily(t, 8000) + rng.uniform(-5000, 5000) - leaked
        return int(avail), int(leaked)

    def round(self, i):
        t = self.t0 + i * ROUND
        if not self.sampled(t):
            return
        s = stamp(t)
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
            tx = int(up * rate * (1.0 if name == "lo" else 3.2))
            errs = 0
            if name == "eth0" and "neterrors" in self.anomalies and t > self.neterr[0]:
                errs = int((min(t, self.neterr[1]) - self.neterr[0]) / ROUND) * 37
            rxp, txp = rx // 900, tx // 1200
            rx_vals = [rx, 0, 3, errs, 0, 0, up // 60, rxp]
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
            s = stamp(ts)
            up = self.boot_offset(ts)
            avail, leak_now = self.memory(ts)
            ticks = up * 100
            self.write(vm, f"{s},{self.rng.randint(1, 2)},0,{max(9000, avail - 420000)},18200,380000,0,0,0,"
                           f"{up * 4},{up * 9},{up * 25},{up // 600},{up * 900},{up * 1500},"
                           f"{ticks * 2 * 12 // 100},0,{ticks * 2 * 6 // 100},{ticks * 2 * 81 // 100},{ticks * 2 // 100}\n")
            rss = 21000 + int(leak_now) + self.rng.randint(-40, 40)
            self.write(zp, f"{s},Trelvik,{1201},9876,3120,{DAEMON}\n")
            self.write(zp, f"{s},Acme,{1302},{rss + 40000},{rss},{LEAKER}\n")
            self.write(zm, f"{s},Trelvik,1,9876,3120\n")
            self.write(zm, f"{s},Acme,1,{rss + 40000},{rss}\n")
            self.write(pw, f"{s},hwmon0:ina219,in0,{5000 + self.rng.randint(-20, 20)},mV\n")
            self.write(pw, f"{s},hwmon0:ina219,curr1,{610 + self.rng.randint(-30, 30)},mA\n")
            if self.top:
                top.append(self.top_snapshot(ts))
        if top:
            self.write(f"{sm}monitoring_topstatus/topstatus.txt", "".join(top))

    def top_snapshot(self, t):
        d = datetime.datetime.fromtimestamp(t, datetime.timezone.utc)
        return (f"=== {d:%Y-%m-%d %H:%M:%S} ===\n"
                "Mem: 412000K used, 600344K free, 12000K shrd, 18200K buff, 380000K cached\n"
                "CPU:  12% usr   6% sys   0% nic  81% idle   1% io   0% irq   0% sirq\n"
                "Load average: 0.52 0.58 0.59 2/180 1302\n"
                "  PID  PPID USER     STAT   VSZ %VSZ CPU %CPU COMMAND\n"
                f" 1302     1 acme     S    61000   6%   1   4% {LEAKER}\n"
                " 1201     1 root     S     9876   1%   0   0% /usr/local/packages/Trelvik/trelvik_daemon\n"
                "  880     1 root     S    48000   5%   0   2% /usr/sbin/streamer\n")

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
        fmt = lambda t: datetime.datetime.fromtimestamp(t, datetime.timezone.utc).strftime("%a %b %e %H:%M:%S UTC %Y")
        minutes = self.rounds * 2
        points = sum(1 for i in range(self.rounds) if self.sampled(self.t0 + i * ROUND))
        self.write("Session_Information.txt",
                   "Model Name: ZURN Q6075\r\nSerial Number: ACCC8E000001\r\nFirmware version: 11.9.60\r\n"
                   f"Edge storage location: SD_DISK\r\nStart Time of the session: {fmt(self.t0)}\r\n"
                   f"Collected Data Points: {points}\n"
                   f"Duration: {minutes // 1440} Days {minutes // 60 % 24} hours {minutes % 60} minutes\n"
                   f"Stop Time of the session: {fmt(self.end)}\r\n")
        self.write(".signature", f"Start: {fmt(self.t0)}\nEnd: {fmt(self.end)}\n")
        for t in (self.t0, self.end):
            self.write(f"system_monitoring/monitoring_onvif/{name_stamp(t, '%Y%m%d_%H%M%S')}_media.conf",
                       "[Profile_1]\nresolution=1920x1080\nfps=30\n")

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

    def save(self):
        for i in range(self.rounds):
            self.round(i)
        self.information()
        self.expectations()
        for folder in ("monitoring_radar", "monitoring_topstatus", "monitoring_onvif"):
            os.makedirs(os.path.join(self.path, "system_monitoring", folder), exist_ok=True)
        for rel, parts in self.files.items():
            full = os.path.join(self.path, rel)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", newline="") as f:
                f.write("".join(parts))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("out")
    ap.add_argument("--days", type=float, default=7)
    ap.add_argument("--anomaly", action="append", default=[],
                    choices=["leak", "fragmentation", "outage", "reboot", "heat", "neterrors", "load", "ifdown"])
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--zip", action="store_true", help="also write the archive beside the folder, as zip does")
    ap.add_argument("--no-top", dest="top", action="store_false", help="leave the top snapshots out (smaller, faster)")
    ap.add_argument("--start", type=datetime.datetime.fromisoformat, default=START,
                    help="the first round's camera time (a session in the past for engines that refuse the future)")
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    session = Session(args.out, args.days, args.anomaly, args.seed, args.top, args.start)
    session.save()
    archive = None
    if args.zip:
        archive = session.path + ".zip"
        if os.path.exists(archive):
            os.remove(archive)
        # The archiver's own command line, run from the folder that holds the session.
        subprocess.run(["zip", "--recurse-paths", "-q", session.name + ".zip", session.name, "--exclude", ".tmp*"],
                       cwd=args.out, check=True)
    json.dump({"folder": session.path, "archive": archive, "start": session.t0, "end": session.end,
               "rounds": session.rounds, "anomalies": session.manifest}, sys.stdout)
    print()


if __name__ == "__main__":
    main()

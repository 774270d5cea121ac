"""The entry program's tail action on a session folder laid out by hand: the
last hour of each live series, the camera's clock and zone, and nothing read
through a symbolic link that a storage could hold."""
import json
import subprocess

from emulator.camera import Camera, build_dir

SERIAL = "ACCC8E000001"
NET_ROW = "{stamp},{rx},0,0,0,0,0,0,9,{tx},0,0,0,0,0,0,8,0,0\n"


def rows(count, row):
    """`count` two-minute rounds on 2026-12-08 from 10:00, oldest first."""
    out = []
    for i in range(count):
        minutes = i * 2
        out.append(row(i, f"2026-12-08,{10 + minutes // 60:02d}:{minutes % 60:02d}:00"))
    return "".join(out)


def tail(tmp_path, lay_out):
    camera = Camera(tmp_path / "camera")
    camera.localdata.mkdir(parents=True)
    (camera.localdata / "device.conf").write_text(
        f"serial_number={SERIAL}\nmodel_name=Q\nfirmware_version=1\nfull_name=Z\napi_user=root\n")
    session = camera.root / "var/spool/storage/SD_DISK" / f"Trelvik_{SERIAL}" / "20261208_10_00_00"
    (camera.localdata / "current_monitoring_session.txt").write_text(
        f"SECS:SD_DISK\nSSPA:{session.parent}/\nACTI:{session.name}\nTIME:Tue Dec  8 10:00:00 UTC 2026\n")
    monitoring = session / "system_monitoring"
    for folder in ("monitoring_load", "monitoring_meminfo", "monitoring_environment", "monitoring_network"):
        (monitoring / folder).mkdir(parents=True)
    (session / "Session_Information.txt").write_text("Model Name: Q\nCollected Data Points: 45\n")
    lay_out(monitoring, tmp_path)
    env = camera.env({"QUERY_STRING": "action=tail", "REQUEST_METHOD": "GET", "TZ": "CET-1"})
    proc = subprocess.run([str(build_dir() / "bin" / "trelvik_cgi")], capture_output=True, env=env, timeout=30)
    assert proc.returncode == 0, proc.stderr
    head, body = proc.stdout.split(b"\r\n\r\n", 1)
    assert head == b"Status: 200 OK\r\nCache-Control: no-cache\r\nContent-Type: application/json; charset=utf-8"
    return json.loads(body)


def test_the_last_hour_of_each_series(tmp_path):
    def lay_out(monitoring, _):
        (monitoring / "monitoring_load/load.csv").write_text(
            "Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)\r\n"
            + rows(45, lambda i, s: f"{s},{i / 100:.2f},0.3,0.2\r\n") + "2026-12-08,11:30:00,0.9")  # cut short
        (monitoring / "monitoring_meminfo/MemFree.csv").write_text(rows(45, lambda i, s: f"{s},{1000 + i}\r\n"))
        (monitoring / "monitoring_environment/CPU.csv").write_text(rows(45, lambda i, s: f"{s},46.5\n"))
        (monitoring / "monitoring_environment/Fan_0.csv").write_text(rows(45, lambda i, s: f"{s},running\n"))
        # A counter reset at the 40th round: no rate there, never a negative one.
        (monitoring / "monitoring_network/eth0.csv").write_text(rows(45, lambda i, s: NET_ROW.format(
            stamp=s, rx=(i if i < 40 else i - 40) * 15000, tx=i * 30000)))
        (monitoring / "monitoring_network/lo.csv").write_text(rows(45, lambda i, s: NET_ROW.format(stamp=s, rx=i, tx=i)))

    reply = tail(tmp_path, lay_out)
    assert reply["clock"]["offset"] == "+0100" and reply["clock"]["zone"] == "CET"
    assert reply["session"] is True and reply["data_points"] == 45
    last = reply["last_sample"]
    assert [t - last for t, _ in reply["load"]] == list(range(-3600, 1, 120))
    assert reply["load"][-1][1] == 0.44 and reply["load"][0][1] == 0.14
    assert reply["memory"]["name"] == "MemFree" and len(reply["memory"]["points"]) == 31
    assert list(reply["temperatures"]) == ["CPU"]
    assert list(reply["network"]) == ["eth0"]
    eth0 = reply["network"]["eth0"]
    assert len(eth0) == 30 and eth0[0][1:] == [1000, 2000]  # 15,000 and 30,000 bytes in 120 s, as bits
    assert [p[1] for p in eth0 if p[1] is None] == [None]


def test_no_link_is_followed(tmp_path):
    def lay_out(monitoring, tmp):
        secret = tmp / "secret.csv"
        secret.write_text("2026-12-08,10:00:00,42\n")
        (monitoring / "monitoring_load/load.csv").symlink_to(secret)
        (monitoring / "monitoring_environment/CPU.csv").symlink_to(secret)
        (monitoring / "monitoring_meminfo").rmdir()
        (monitoring / "monitoring_meminfo").symlink_to(tmp)
        (tmp / "MemFree.csv").write_text("2026-12-08,10:00:00,42\n")

    reply = tail(tmp_path, lay_out)
    assert reply["load"] == [] and reply["memory"]["points"] == [] and reply["temperatures"] == {}
    assert reply["last_sample"] is None


def test_without_a_session_the_clock_only(tmp_path):
    camera = Camera(tmp_path / "camera")
    camera.localdata.mkdir(parents=True)
    (camera.localdata / "device.conf").write_text(
        f"serial_number={SERIAL}\nmodel_name=Q\nfirmware_version=1\nfull_name=Z\napi_user=root\n")
    env = camera.env({"QUERY_STRING": "action=tail", "REQUEST_METHOD": "GET", "TZ": "UTC"})
    proc = subprocess.run([str(build_dir() / "bin" / "trelvik_cgi")], capture_output=True, env=env, timeout=30)
    body = json.loads(proc.stdout.split(b"\r\n\r\n", 1)[1])
    assert set(body) == {"clock", "session", "last_sample"} and body["session"] is False
    assert body["clock"]["offset"] == "+0000" and body["clock"]["zone"] == "UTC"

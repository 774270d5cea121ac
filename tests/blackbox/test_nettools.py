"""Network tools (ping, traceroute, name lookups) through the test driver on
the emulated camera.

Every run happens in a network namespace of its own with only the loopback
interface up, so no packet can leave the machine: lookups that the hosts
file does not answer fail at once instead of asking a name server.
"""
import os
import subprocess

import pytest

from emulator.camera import build_dir

# The camera's busybox ping is built without its "fancy" mode: it sends one
# echo request and answers "<host> is alive!" or "No response from <host>".
DEVICE_PING = """#!/bin/sh
if /usr/bin/ping -c 1 -W 1 -- "$1" >/dev/null 2>&1; then
  echo "$1 is alive!"
  exit 0
fi
echo "No response from $1"
exit 1
"""


def _isolation_works():
    try:
        return subprocess.run(["unshare", "-rn", "busybox", "ip", "link", "set", "lo", "up"],
                              capture_output=True, timeout=10).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


pytestmark = pytest.mark.skipif(not _isolation_works(),
                                reason="needs a private network namespace (unshare -rn)")


@pytest.fixture
def nettools(camera):
    fake = camera.workdir / "device-tools"
    fake.mkdir()
    (fake / "ping").write_text(DEVICE_PING)
    (fake / "ping").chmod(0o755)
    env = camera.env({"PATH": f"{fake}{os.pathsep}{camera.env()['PATH']}"})

    def run(*args):
        command = ["unshare", "-rn", "sh", "-c", 'busybox ip link set lo up && exec "$0" "$@"',
                   str(build_dir() / "tests" / "driver_nettools"), *args]
        return subprocess.run(command, capture_output=True, timeout=60, env=env, cwd=camera.workdir)
    return run


def entries(camera):
    return [(e["level"], e["text"]) for e in camera.logs()]


def test_ping_and_traceroute(camera, nettools):
    hostile = '$(touch pwned)"; touch pwned2; "`touch pwned3`'
    for address, out, outcome, status in (
            ("127.0.0.1", "127.0.0.1 is alive!\n\n", "successful", 0),
            ("192.0.2.1", "No response from 192.0.2.1\n\n", "failed", 256),  # no route out of the namespace
            (hostile, f"No response from {hostile}\n\n", "failed", 256)):
        camera.clear_logs()
        result = nettools("ping", address)
        assert result.stdout.decode() == out, address
        assert result.stderr.decode().endswith(f"status {status}\n"), result.stderr
        assert entries(camera) == [("info", f"Network Tools: Ping {address} {outcome}")]
    assert not any((camera.workdir / name).exists() for name in ("pwned", "pwned2", "pwned3"))

    # The output's handling line by line is a unit test; this is the real tool.
    camera.clear_logs()
    assert nettools("traceroute", "busybox traceroute -n -m 2 -w 1 127.0.0.1 2>&1").stderr == b"status 0\n"
    lines = [text for _, text in entries(camera)]
    assert lines[0].startswith("Traceroute: traceroute to 127.0.0.1 (127.0.0.1)")
    assert lines[1].startswith("Traceroute:  1  127.0.0.1  ")


def test_name_lookups(camera, nettools):
    long_label = "x" * 70 + ".example"  # no resolver sends a query for a label over 63 bytes
    for kind, url, out, outcome in (
            ("host", "localhost", "IPv4 address: 127.0.0.1\n", "successful"),
            ("host", "::1", "IPv6 address: ::1\n", "successful"),  # IPv6 only: no IPv4 lines
            ("host", long_label, "DNS Lookup failed for both IPv4 and IPv6", "failed"),
            ("ipv4", "127.0.0.1", "Hostname: localhost", "successful"),
            ("ipv6", "::1", "Reverse IPv6 DNS Lookup failed", "failed"),  # not in the hosts file
            ("ipv4", "0.0.0.0", "Reverse IPv4 DNS Lookup failed", "failed")):
        camera.clear_logs()
        result = nettools("dns", kind, url)
        assert (result.returncode, result.stdout.decode()) == (0, out), (kind, url)
        assert entries(camera) == [("debug", f"Network Tools: DNS Lookup {url}"),
                                   ("debug", f"Network Tools: DNS Lookup {url} {outcome}")]
    camera.clear_logs()
    assert nettools("dns", "other", "localhost").stdout == b""
    assert entries(camera) == [("debug", "Network Tools: DNS Lookup localhost")]

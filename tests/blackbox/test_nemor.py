"""The device HTTP API client through the real curl against the emulated
camera's API (driver program tests/driver_environment), and through the web
entry while the server report is fetched."""
import base64
import socket
import time
import urllib.request
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

from emulator.device import SERVER_REPORT, populate
from emulator.web import WebServer

PARAMS = "/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor"
REPORT = "/zurn-cgi/serverreport.cgi"


def driver(camera, *args, password="pass"):
    return camera.run_driver("driver_environment", *args, stdin=password.encode() + b"\n")


def test_get_and_download_with_shell_characters_in_the_password(camera):
    password = "p\"a$(touch pwned)`touch pwned`\\'s;|&<>*? x:y"
    camera.set_api_credentials("root", password)
    body = "root.TemperatureControl.Sensor.S0.Name=CPU\nroot.TemperatureControl.Sensor.S0.Enabled=yes\n"
    camera.set_api_route(PARAMS, body)
    camera.set_api_route(REPORT, "Server report\n" * 1000)
    got = driver(camera, "nemor-get", "root", PARAMS, password=password)
    assert (got.returncode, got.stdout) == (0, body.encode())
    dest = camera.workdir / 'Server Report "$(touch pwned)".txt'
    assert driver(camera, "nemor-download", "root", REPORT, str(dest), password=password).stdout == b"1\n"
    assert dest.read_text() == "Server report\n" * 1000
    assert not list(camera.workdir.rglob("pwned"))
    assert camera.log_texts("warning") == []


def test_unreachable_server(camera):
    with socket.socket() as s:  # a port that nobody listens on
        s.bind(("127.0.0.1", 0))
        camera.api_port_file.write_text(str(s.getsockname()[1]))
    got = driver(camera, "nemor-get", "root", PARAMS)
    assert (got.returncode, got.stdout) == (7, b"")  # curl: could not connect
    assert b"curl: (7)" in got.stderr
    dest = camera.workdir / "report.txt"
    assert driver(camera, "nemor-download", "root", REPORT, str(dest)).stdout == b"0\n"
    assert not dest.exists()
    [warning] = camera.log_texts("warning")
    assert warning.startswith("Exit status '7' for command: ") and '-u "root":"***" -o ' in warning


def test_a_hung_api_ends_in_curls_failure_after_the_limit(camera):
    camera.set_api_route(PARAMS, "root.TemperatureControl.Sensor.NbrOfSensors=0\n")
    camera.set_api_route(REPORT, "Server report\n")
    for path in (PARAMS, REPORT):
        camera.set_api_delay(path, 600)
    knob = {"TRELVIK_API_MAX_TIME": "2"}
    started = time.monotonic()
    got = camera.run_driver("driver_environment", "nemor-get", "root", PARAMS, stdin=b"pass\n", env=knob)
    assert (got.returncode, got.stdout) == (28, b"")  # curl: operation timed out
    dest = camera.workdir / "report.txt"
    got = camera.run_driver("driver_environment", "nemor-download", "root", REPORT, str(dest), stdin=b"pass\n",
                            env=knob)
    assert got.stdout == b"0\n" and not dest.exists()
    assert time.monotonic() - started < 15
    # The logged command line is the one a shell would have run, masked.
    assert camera.log_texts("warning") == [
        f"Exit status '28' for command: {camera.path('/usr/bin/curl')} -sS -u \"root\":\"***\" -o \"{dest}\" "
        f"'http://127.0.0.12{REPORT}'"]


def test_a_report_of_the_same_name_is_written_over_but_kept_when_nothing_came(camera):
    dest = camera.workdir / "report.txt"
    dest.write_text("an earlier, longer report\n")
    camera.set_api_route(REPORT, "Server report\n")
    assert driver(camera, "nemor-download", "root", REPORT, str(dest)).stdout == b"1\n"
    assert dest.read_text() == "Server report\n"
    camera.set_api_delay(REPORT, 600)
    got = camera.run_driver("driver_environment", "nemor-download", "root", REPORT, str(dest), stdin=b"pass\n",
                            env={"TRELVIK_API_MAX_TIME": "1"})
    assert got.stdout == b"0\n" and dest.read_text() == "Server report\n"


def request(web, query, method="POST"):
    headers = {"Authorization": "Basic " + base64.b64encode(f"{web.user}:{web.password}".encode()).decode(),
               "X-Requested-With": "trelvik"}
    req = urllib.request.Request(f"{web.url}cgi-bin/trelvik.cgi?{query}", data=b"" if method == "POST" else None,
                                 headers=headers, method=method)
    with urllib.request.urlopen(req, timeout=60) as reply:
        return reply.read()


def process_texts():
    """(pid, command line, environment) of every process this user may read."""
    found = []
    for proc in Path("/proc").iterdir():
        if proc.name.isdigit():
            try:
                found.append((proc.name, (proc / "cmdline").read_bytes(), (proc / "environ").read_bytes()))
            except OSError:
                pass  # ended meanwhile, or another user's
    return found


def test_no_process_shows_the_password_while_the_server_report_is_fetched(camera):
    populate(camera)
    camera.set_api_credentials("root", "Pw-7c1e\"$(id)")
    web = WebServer(camera).start()
    try:
        assert request(web, "action=begin&storage=SD_DISK").endswith(b"Session started.")
        camera.set_api_delay(SERVER_REPORT, 3)
        with ThreadPoolExecutor(1) as pool:
            ending = pool.submit(request, web, "action=end")
            seen_curl = False
            while not ending.done():
                for pid, cmdline, environ in process_texts():
                    assert camera.api_password.encode() not in cmdline + environ, cmdline
                    # The camera's own, below the web server's entry program.
                    ours = f"TRELVIK_DEVICE_ROOT={camera.root}\0".encode() in environ
                    if ours and b"trelvik_cgi" not in cmdline and b"trelvik.cgi" not in cmdline:
                        assert b"HTTP_AUTHORIZATION=" not in environ, cmdline
                    seen_curl = seen_curl or (b"curl" in cmdline and SERVER_REPORT.encode() in cmdline)
            assert ending.result().endswith(b"Session deactivated.")
        assert seen_curl
    finally:
        web.stop()


def test_a_missing_curl_fails_as_under_the_shell(camera):
    camera.path("/usr/bin/curl").unlink()
    got = driver(camera, "nemor-get", "root", PARAMS)
    assert (got.returncode, got.stdout) == (127, b"")
    dest = camera.workdir / "report.txt"
    assert driver(camera, "nemor-download", "root", REPORT, str(dest)).stdout == b"0\n"
    [warning] = camera.log_texts("warning")
    assert warning.startswith("Exit status '127' for command: ") and '-u "root":"***" -o ' in warning

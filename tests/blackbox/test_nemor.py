"""The device HTTP API client through the real curl against the emulated
camera's API (driver program tests/driver_environment)."""
import socket

HOSTILE_PASSWORD = "p\"a$(touch pwned)`touch pwned`\\'s;|&<>*? x:y"
PARAMS = "/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor"
REPORT = "/zurn-cgi/serverreport.cgi"


def driver(camera, *args, password):
    return camera.run_driver("driver_environment", *args, stdin=password.encode() + b"\n")


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def test_get_and_download_with_shell_characters_in_the_password(camera):
    camera.set_api_credentials("root", HOSTILE_PASSWORD)
    body = "root.TemperatureControl.Sensor.S0.Name=CPU\nroot.TemperatureControl.Sensor.S0.Enabled=yes\n"
    camera.set_api_route(PARAMS, body)
    camera.set_api_route(REPORT, "Server report\n" * 1000)

    got = driver(camera, "nemor-get", "root", PARAMS, password=HOSTILE_PASSWORD)
    assert (got.returncode, got.stdout) == (0, body.encode())

    dest = camera.workdir / 'Server Report "$(touch pwned)".txt'
    got = driver(camera, "nemor-download", "root", REPORT, str(dest), password=HOSTILE_PASSWORD)
    assert got.stdout == b"1\n"
    assert dest.read_text() == "Server report\n" * 1000
    assert not list(camera.workdir.rglob("pwned"))
    assert camera.log_texts("warning") == []


def test_wrong_credentials_deliver_the_error_page_as_success(camera):
    camera.set_api_route(PARAMS, "root.TemperatureControl.Sensor.S0.Name=CPU\n")
    got = driver(camera, "nemor-get", "root", PARAMS, password="wrong")
    assert (got.returncode, got.stdout) == (0, b"401 Unauthorized\n")
    dest = camera.workdir / "report.txt"
    got = driver(camera, "nemor-download", "root", REPORT, str(dest), password="wrong")
    assert got.stdout == b"1\n"
    assert dest.read_text() == "401 Unauthorized\n"


def test_unreachable_server(camera):
    camera.api_port_file.write_text(str(closed_port()))
    got = driver(camera, "nemor-get", "root", PARAMS, password="pass")
    assert got.stdout == b""
    assert got.returncode == 7  # curl: could not connect
    assert b"curl: (7)" in got.stderr

    dest = camera.workdir / "report.txt"
    got = driver(camera, "nemor-download", "root", REPORT, str(dest), password="pass")
    assert got.stdout == b"0\n"
    assert not dest.exists()
    [warning] = camera.log_texts("warning")
    assert warning.startswith("Exit status '7' for command: ")
    assert '-u "root":"***" -o ' in warning

"""The device HTTP API client through the real curl against the emulated
camera's API (driver program tests/driver_environment)."""
import socket

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

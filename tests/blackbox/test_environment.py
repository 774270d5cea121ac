"""Environment collectors on the emulated camera: sensor discovery through the
real curl and the device API, temperatures, heaters and fans through the real
dbus-send and the mock temperature controller, self monitoring through
busybox top (driver program tests/driver_environment)."""
import json
import re

SENSOR_LIST = "/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor"
HOSTILE_PASSWORD = "p\"a$(touch pwned)`id`\\'s;|&<>*? x"
STAMP = re.compile(rb"^\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d,", re.M)


def masked(data):
    """File bytes with every row's date and time replaced by "T,"."""
    return STAMP.sub(b"T,", data)


def run_driver(camera, *args, password=None):
    password = camera.api_password if password is None else password
    result = camera.run_driver("driver_environment", *args, stdin=password.encode() + b"\n")
    assert result.returncode == 0, result.stderr
    return result


def sensor_body(*lines):
    return "".join(line + "\n" for line in lines)


def test_discovery_with_shell_characters_in_the_password(camera):
    camera.set_api_credentials("root", HOSTILE_PASSWORD)
    camera.set_api_route(SENSOR_LIST, sensor_body(
        "root.TemperatureControl.Sensor.S0.Name=CPU",
        "root.TemperatureControl.Sensor.S0.Enabled=yes",
        "root.TemperatureControl.Sensor.S1.Name=Main/Board",
        "root.TemperatureControl.Sensor.S20.Name=Overflow",
        "root.TemperatureControl.Sensor.Sx.Name=Bad",
        "root.TemperatureControl.Sensor.S3.Name=Gap"))
    camera.start_service("temperature", {"temperatures": [40.0], "heaters": ["on", "off"], "fans": ["running"]})
    result = run_driver(camera, "init", "root")
    assert result.stdout == b"sensors=3 heaters=2 fans=1\nS0=CPU\nS1=Main/Board\nS3=Gap\n"
    assert not (camera.workdir / "pwned").exists()
    assert ("debug", "Number of fans: 1, number of heaters: 2, number of temperature sensors: 3") in [
        (e["level"], e["text"]) for e in camera.logs()]


def test_wrong_password_and_no_service_find_nothing(camera):
    camera.set_api_route(SENSOR_LIST, sensor_body("root.TemperatureControl.Sensor.S0.Name=CPU"))
    result = run_driver(camera, "init", "root", password="wrong")
    assert result.stdout == b"sensors=0 heaters=0 fans=0\n"


def test_device_without_climate_control_creates_only_the_folder(camera):
    env_dir = camera.workdir / "session" / "monitoring_environment"
    env_dir.parent.mkdir()
    run_driver(camera, "sample", "root", str(env_dir), str(camera.workdir / "session" / "self"))
    assert env_dir.is_dir()
    assert list(env_dir.iterdir()) == []


def test_sampling_rounds_write_exact_files(camera):
    camera.set_api_route(SENSOR_LIST, sensor_body(
        "root.TemperatureControl.Sensor.S0.Name=CPU",
        "root.TemperatureControl.Sensor.S1.Name=Main/Board",
        "root.TemperatureControl.Sensor.S2.Name=Lens"))
    # Sensor 1 and the entries 10 and 11: the index pattern " 1" must pick
    # entry 1, the first one that carries it.
    temperatures = [40.0, 38.5, -3.25] + [20.0] * 7 + [99.0, 98.0]
    calls = camera.start_service("temperature", {
        "temperatures": temperatures, "heaters": ["on", "li\nne"], "heater_count": 3,
        "fans": ["running", "stopped"]})
    env_dir = camera.workdir / "s" / "system_monitoring" / "monitoring_environment"
    self_dir = camera.workdir / "s" / "system_monitoring" / "monitoring_self"
    env_dir.parent.mkdir(parents=True)
    run_driver(camera, "sample", "root", str(env_dir), str(self_dir), "2")

    files = {p.name: masked(p.read_bytes()) for p in env_dir.iterdir()}
    assert files == {
        "CPU.csv": b"Date, Time, Temperature (Celsius)\nT,40\nT,40\n",
        "Main_Board.csv": b"Date, Time, Temperature (Celsius)\nT,38.5\nT,38.5\n",
        "Lens.csv": b"Date, Time, Temperature (Celsius)\nT,-3.25\nT,-3.25\n",
        "Heater_0.csv": b"Date, Time, Heater status\nT,on\nT,on\n",
        # A status that spans two lines has no closing quote on its line: no value.
        "Heater_1.csv": b"Date, Time, Heater status\n",
        # The service refuses heater 2: the file is begun, no row follows.
        "Heater_2.csv": b"Date, Time, Heater status\n",
        "Fan_0.csv": b"Date, Time, Fan status\nT,running\nT,running\n",
        "Fan_1.csv": b"Date, Time, Fan status\nT,stopped\nT,stopped\n",
    }
    # One temperature query per sensor and round.
    called = [line.split()[1] for line in calls.read_text().splitlines()
              if " raised: " not in line]
    assert called.count("GetAllTemperatures") == 6
    assert called.count("GetHeaterStatus") == 6
    assert called.count("GetAllFanStatus") == 4

    texts = camera.log_texts("debug")
    assert "Status for heater 0 is :    string \"on\"" in texts
    assert "Temperature for sensor 1 is :          double 38.5" in texts

    summary = (self_dir / "Trelvik_summary.csv").read_bytes()
    assert re.fullmatch(rb"Date,Time,%Vsz,%Cpu\n(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d,\d+,\d+\n){2}", summary), summary
    assert any(t.startswith("Top: [") for t in texts)


def test_state_changes_between_rounds_and_lost_service(camera):
    camera.set_api_route(SENSOR_LIST, sensor_body("root.TemperatureControl.Sensor.S0.Name=CPU"))
    camera.start_service("temperature", {"temperatures": [41.5], "heaters": ["off"], "fans": ["running"]})
    env_dir = camera.workdir / "env"
    self_dir = camera.workdir / "self"
    run_driver(camera, "sample", "root", str(env_dir), str(self_dir))
    camera.call_mock("temperature", "SetState", json.dumps(
        {"temperatures": [42.0], "heaters": ["on"], "fans": ["stopped"]}))
    run_driver(camera, "sample", "root", str(env_dir), str(self_dir))
    assert masked((env_dir / "CPU.csv").read_bytes()) == b"Date, Time, Temperature (Celsius)\nT,41.5\nT,42\n"
    assert masked((env_dir / "Heater_0.csv").read_bytes()) == b"Date, Time, Heater status\nT,off\nT,on\n"
    assert masked((env_dir / "Fan_0.csv").read_bytes()) == b"Date, Time, Fan status\nT,running\nT,stopped\n"
    # Fewer sensors than named: the reply has no entry for the sensor, no row.
    camera.call_mock("temperature", "SetState", json.dumps({"temperatures": [], "heaters": ["on"], "fans": []}))
    run_driver(camera, "sample", "root", str(env_dir), str(self_dir))
    assert masked((env_dir / "CPU.csv").read_bytes()) == b"Date, Time, Temperature (Celsius)\nT,41.5\nT,42\n"


def test_unwritable_folder_is_logged_per_item(camera):
    camera.set_api_route(SENSOR_LIST, sensor_body("root.TemperatureControl.Sensor.S0.Name=CPU"))
    calls = camera.start_service("temperature", {"temperatures": [40.0], "heaters": ["on"], "fans": ["running"]})
    blocker = camera.workdir / "file"
    blocker.write_text("")
    env_dir = blocker / "env"  # below a regular file: cannot be made
    run_driver(camera, "sample", "root", str(env_dir), str(camera.workdir / "self"))
    errors = [t for t in camera.log_texts("err") if "Could not open file" in t]
    assert [e.split(") ", 1)[1] for e in errors] == [
        f"Could not open file '{env_dir}/CPU.csv'",
        f"Could not open file '{env_dir}/Heater_0.csv'",
        f"Could not open file '{env_dir}/Fan_0.csv'"]
    assert all(e.startswith("(lib/environment.cpp:") for e in errors)
    # No service call for an item whose file cannot be opened.
    assert "GetAllTemperatures" not in calls.read_text()


def test_long_reply_lines_count_as_pieces(camera):
    # Lines are read 255 bytes at a time: a long sensor name is cut to what the
    # first piece holds (so it still makes a valid file name), and a status
    # whose closing quote lies beyond the first piece gives no value.
    prefix = "root.TemperatureControl.Sensor.S0.Name="
    camera.set_api_route(SENSOR_LIST, sensor_body(prefix + "L" * 300))
    camera.start_service("temperature", {"temperatures": [40.0], "heaters": ["x" * 300, "y" * 230]})
    result = run_driver(camera, "init", "root")
    name = "L" * (255 - len(prefix))
    assert result.stdout == f"sensors=1 heaters=2 fans=0\nS0={name}\n".encode()
    env_dir = camera.workdir / "env"
    run_driver(camera, "sample", "root", str(env_dir), str(camera.workdir / "self"))
    assert masked((env_dir / f"{name}.csv").read_bytes()) == b"Date, Time, Temperature (Celsius)\nT,40\n"
    assert masked((env_dir / "Heater_0.csv").read_bytes()) == b"Date, Time, Heater status\n"
    assert masked((env_dir / "Heater_1.csv").read_bytes()) == b"Date, Time, Heater status\nT," + b"y" * 230 + b"\n"

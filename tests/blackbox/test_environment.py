"""Environment collectors on the emulated camera: sensor discovery through the
real curl and the device API, temperatures, heaters and fans through the real
dbus-send and the mock temperature controller, self monitoring through
busybox top (driver program tests/driver_environment)."""
import re

SENSOR_LIST = "/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor"
SENSOR = "root.TemperatureControl.Sensor."
STAMP = re.compile(rb"^\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d,", re.M)
TEMPERATURE, HEATER, FAN = (b"Date, Time, Temperature (Celsius)\n", b"Date, Time, Heater status\n",
                            b"Date, Time, Fan status\n")


def driver(camera, *args, password=None):
    password = camera.api_password if password is None else password
    result = camera.run_driver("driver_environment", *args, stdin=password.encode() + b"\n")
    assert result.returncode == 0, result.stderr
    return result.stdout


def sample(camera, env_dir, rounds=1):
    driver(camera, "sample", "root", str(env_dir), str(env_dir.parent / "monitoring_self"), str(rounds))


def files(folder):
    """Every file's bytes with each row's date and time replaced by "T,"."""
    return {p.name: STAMP.sub(b"T,", p.read_bytes()) for p in folder.iterdir()}


def test_discovery_with_shell_characters_in_the_password(camera):
    password = "p\"a$(touch pwned)`id`\\'s;|&<>*? x"
    camera.set_api_credentials("root", password)
    camera.set_api_route(SENSOR_LIST, "".join(f"{SENSOR}{line}\n" for line in (
        "S0.Name=CPU", "S0.Enabled=yes", "S1.Name=Main/Board", "S20.Name=Overflow", "Sx.Name=Bad", "S3.Name=Gap")))
    camera.start_service("temperature", {"temperatures": [40.0], "heaters": ["on", "off"], "fans": ["running"]})
    assert driver(camera, "init", "root") == b"sensors=3 heaters=2 fans=1\nS0=CPU\nS1=Main/Board\nS3=Gap\n"
    assert ("debug", "Number of fans: 1, number of heaters: 2, number of temperature sensors: 3") in [
        (e["level"], e["text"]) for e in camera.logs()]
    assert driver(camera, "init", "root", password="wrong") == b"sensors=0 heaters=2 fans=1\n"
    assert not (camera.workdir / "pwned").exists()


def test_sampling_rounds_write_exact_files(camera):
    camera.set_api_route(SENSOR_LIST, f"{SENSOR}S0.Name=CPU\n{SENSOR}S1.Name=Main/Board\n{SENSOR}S2.Name=Lens\n")
    # Sensor 1 and the entries 10 and 11: the index pattern " 1" must pick
    # entry 1, the first one that carries it.
    temperatures = [40.0, 38.5, -3.25] + [20.0] * 7 + [99.0, 98.0]
    calls = camera.start_service("temperature", {
        "temperatures": temperatures, "heaters": ["on", "li\nne"], "heater_count": 3,
        "fans": ["running", "stopped"]})
    env_dir = camera.workdir / "s" / "monitoring_environment"
    env_dir.parent.mkdir()
    sample(camera, env_dir, rounds=2)
    assert files(env_dir) == {
        "CPU.csv": TEMPERATURE + b"T,40\nT,40\n",
        "Main_Board.csv": TEMPERATURE + b"T,38.5\nT,38.5\n",
        "Lens.csv": TEMPERATURE + b"T,-3.25\nT,-3.25\n",
        "Heater_0.csv": HEATER + b"T,on\nT,on\n",
        "Heater_1.csv": HEATER,  # a status over two lines has no closing quote on its line: no value
        "Heater_2.csv": HEATER,  # the service refuses heater 2: the file is begun, no row follows
        "Fan_0.csv": FAN + b"T,running\nT,running\n",
        "Fan_1.csv": FAN + b"T,stopped\nT,stopped\n",
    }
    # One temperature query per sensor and round.
    called = [line.split()[1] for line in calls.read_text().splitlines() if " raised: " not in line]
    assert [called.count(m) for m in ("GetAllTemperatures", "GetHeaterStatus", "GetAllFanStatus")] == [6, 6, 4]
    texts = camera.log_texts("debug")
    assert "Status for heater 0 is :    string \"on\"" in texts
    assert "Temperature for sensor 1 is :          double 38.5" in texts
    assert any(t.startswith("Top: [") for t in texts)
    summary = (env_dir.parent / "monitoring_self" / "Trelvik_summary.csv").read_bytes()
    assert re.fullmatch(rb"Date,Time,%Vsz,%Cpu\n(\d{4}-\d\d-\d\d,\d\d:\d\d:\d\d,\d+,\d+\n){2}", summary), summary


def test_unwritable_folder_is_logged_per_item(camera):
    camera.set_api_route(SENSOR_LIST, f"{SENSOR}S0.Name=CPU\n")
    calls = camera.start_service("temperature", {"temperatures": [40.0], "heaters": ["on"], "fans": ["running"]})
    (camera.workdir / "file").write_text("")
    env_dir = camera.workdir / "file" / "env"  # below a regular file: cannot be made
    sample(camera, env_dir)
    errors = [t for t in camera.log_texts("err") if "Could not open file" in t]
    assert all(e.startswith("(lib/collect/environment.cpp:") for e in errors)
    assert [e.split(") ", 1)[1] for e in errors] == [
        f"Could not open file '{env_dir.parent}/{name}.csv'" for name in (
            "env/CPU", "env/Heater_0", "env/Fan_0", "monitoring_self/Trelvik_summary")]
    assert "GetAllTemperatures" not in calls.read_text()  # no service call for an item without its file


def test_long_reply_lines_count_as_pieces(camera):
    # Lines are read 255 bytes at a time: a long sensor name is cut to what the
    # first piece holds (so it still makes a valid file name), and a status
    # whose closing quote lies beyond the first piece gives no value.
    prefix = f"{SENSOR}S0.Name="
    camera.set_api_route(SENSOR_LIST, prefix + "L" * 300 + "\n")
    camera.start_service("temperature", {"temperatures": [40.0], "heaters": ["x" * 300, "y" * 230]})
    name = "L" * (255 - len(prefix))
    assert driver(camera, "init", "root") == f"sensors=1 heaters=2 fans=0\nS0={name}\n".encode()
    env_dir = camera.workdir / "env"
    sample(camera, env_dir)
    assert files(env_dir) == {f"{name}.csv": TEMPERATURE + b"T,40\n", "Heater_0.csv": HEATER,
                              "Heater_1.csv": HEATER + b"T," + b"y" * 230 + b"\n"}

"""A whole emulated camera as the demo, the tick tests and the benchmarks use
it: an SD card, two video streams, two temperature sensors with one heater and
one fan, the PTZ coordinator, the device API's sensor list and server report,
and a partition that is 42 % used."""

SD_CARD = {"disk_id": "SD_DISK", "friendly_name": "SD card", "mount_point": "/var/spool/storage/SD_DISK",
           "status": "OK", "disk_type": 1, "available": True}
SENSOR_LIST = "/zurn-cgi/param.cgi?action=list&group=root.TemperatureControl.Sensor"
SERVER_REPORT = "/zurn-cgi/serverreport.cgi"
SENSORS = ("root.TemperatureControl.Sensor.NbrOfSensors=2\n"
           "root.TemperatureControl.Sensor.S0.Name=CPU\n"
           "root.TemperatureControl.Sensor.S0.Type=Internal\n"
           "root.TemperatureControl.Sensor.S1.Name=Housing\n"
           "root.TemperatureControl.Sensor.S1.Type=Internal\n")
REPORT = ("----- Server report -----\n"
          "Product: ZURN Q6135-LE Network Camera\n"
          "Firmware: 11.8.64\n"
          "Uptime: 3 days\n")


def populate(camera):
    """Starts every device service of a full camera on `camera` (started)."""
    camera.add_edge_storage("SD_DISK")
    camera.start_storage_service([dict(SD_CARD)])
    camera.start_service("streamer", {"streams": ["resolution=1920x1080&fps=30&videocodec=h264",
                                                  "resolution=640x360&fps=15&videocodec=h264"]})
    camera.start_service("temperature", {"temperatures": [40.0, 38.5], "heaters": ["off"], "fans": ["running"]})
    coordinator_log = camera.start_service("ptz_coordinator")
    camera.set_api_route(SENSOR_LIST, SENSORS)
    camera.set_api_route(SERVER_REPORT, REPORT)
    camera.set_df_percent(42)
    radar = camera.path("/tmp/radar-diagnostics")
    (radar / "radar_0001.data").write_bytes(bytes(range(64)))
    (radar / "instqual_lt_stats_0.csv").write_text("quality,count\ngood,12\n")
    return coordinator_log


def quick_sleep(camera):
    """Puts a sleep that returns at once first on the camera's PATH: the
    interrupt snapshot's second copy then does not wait its seconds, for
    tests that start many sessions or run many ticks."""
    sleep = camera.tools / "sleep"
    sleep.write_text("#!/bin/sh\nexit 0\n")
    sleep.chmod(0o755)

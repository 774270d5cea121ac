"""Only lib/device_paths spells device and tool paths: a path written anywhere
else would escape the emulated camera's device root."""
import re
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]
DEVICE_PATH = re.compile(r'"/(proc|usr/local/packages|var/spool|etc/ws|tmp/radar|var/log|usr/bin/|bin/)')


def test_no_device_path_outside_the_owner():
    sources = [*SOURCE_DIR.glob("lib/*.[ch]pp"), *SOURCE_DIR.glob("lib/parse/*.[ch]pp"), *SOURCE_DIR.glob("web/*.cpp"),
               *SOURCE_DIR.glob("action/*.cpp"), *SOURCE_DIR.glob("*.[ch]pp")]
    offenders = [f"{path.relative_to(SOURCE_DIR)}:{number}: {line.strip()}"
                 for path in sources if path.stem != "device_paths"
                 for number, line in enumerate(path.read_text().splitlines(), 1)
                 if DEVICE_PATH.search(line) and not line.lstrip().startswith("//")]
    assert offenders == []

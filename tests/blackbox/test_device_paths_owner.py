"""One owner per kind of name: only lib/names/device_paths spells device and tool
paths (a path written anywhere else would escape the emulated camera's device
root), and only lib/names/session_layout spells the names inside a session folder
(a second spelling drifts from the first and the session's files scatter).
The package's shell scripts keep their own names."""
import re
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]
DEVICE_PATH = re.compile(r'"/(proc|usr/local/packages|var/spool|etc/ws|tmp/radar|var/log|usr/bin/|bin/)')
SESSION_NAME = re.compile(r'system_monitoring|"monitoring_|Session_Information|\.signature|Server_Reports|\.zip"')


def sources():
    patterns = ("lib/*/*.[ch]pp", "daemon/*.[ch]pp", "action/*.cpp", "web/*.cpp", "*.[ch]pp")
    return [path for pattern in patterns for path in sorted(SOURCE_DIR.glob(pattern))]


def offenders(pattern, owner):
    return [f"{path.relative_to(SOURCE_DIR)}:{number}: {line.strip()}"
            for path in sources() if path.stem != owner
            for number, line in enumerate(path.read_text().splitlines(), 1)
            if pattern.search(line) and not line.lstrip().startswith("//")]


def test_no_device_path_outside_the_owner():
    assert offenders(DEVICE_PATH, "device_paths") == []


def test_no_session_folder_name_outside_the_owner():
    assert offenders(SESSION_NAME, "session_layout") == []


def test_the_guards_see_every_source_folder():
    folders = {path.parent.relative_to(SOURCE_DIR).as_posix() for path in sources()}
    assert {"lib/base", "lib/parse", "lib/web", "daemon", "action", "web", "."} <= folders

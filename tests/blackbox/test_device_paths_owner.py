"""One owner per kind of name: only lib/names/device_paths spells device and tool
paths (a path written anywhere else would escape the emulated camera's device
root), only lib/names/session_layout spells the names inside a session folder
and the application folder on a storage (a second spelling drifts from the
first and the session's files scatter), and under html/ only the viewer's
html/viewer/layout.js spells the session's names. Every C++ source outside
tests/ is read, whatever folder it sits in. The package's shell scripts keep
their own names."""
import re
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]
DEVICE_PATH = re.compile(r'"/(proc|usr/local/packages|var/spool|etc/ws|tmp/radar|var/log|usr/bin/|bin/)')
SESSION_NAME = re.compile(
    r'system_monitoring|"monitoring_|Session_Information|\.signature|Server_Reports|\.zip"|/Trelvik_(?!summary\.csv)')
# Not the camera's programs: the tests' own fixtures, and what the build and
# the tools leave in the tree.
NOT_PROGRAMS = ("tests", "node_modules", ".cache", ".git")
# The benchmark measures its own process on the host, not the camera.
HOST_PROC = ("bench",)
PAGE_OWNER = SOURCE_DIR / "html/viewer/layout.js"


def sources():
    return [path for path in sorted(SOURCE_DIR.rglob("*.[ch]pp"))
            if not any(part in NOT_PROGRAMS or part.startswith("build")
                       for part in path.relative_to(SOURCE_DIR).parts[:-1])]


def is_comment(line):
    return line.lstrip().startswith(("//", "/*", "* "))


def offenders(pattern, owner, paths, skip=()):
    return [f"{path.relative_to(SOURCE_DIR)}:{number}: {line.strip()}"
            for path in paths if path.stem != owner and path.relative_to(SOURCE_DIR).parts[0] not in skip
            for number, line in enumerate(path.read_text().splitlines(), 1)
            if pattern.search(line) and not is_comment(line)]


def test_no_device_path_outside_the_owner():
    assert offenders(DEVICE_PATH, "device_paths", sources(), HOST_PROC) == []


def test_no_session_folder_name_outside_the_owner():
    assert offenders(SESSION_NAME, "session_layout", sources()) == []


def test_the_guards_see_every_source_folder():
    folders = {path.parent.relative_to(SOURCE_DIR).as_posix() for path in sources()}
    expected = {"lib/names", "lib/parse", "lib/base", "lib/device", "lib/session", "lib/collect", "lib/lifecycle",
                "lib/web", "lib/export", "daemon", "action", "web", "report", "sampler", "bench", "fuzz", "."}
    assert expected <= folders
    assert not any(folder.startswith(("tests", "build")) for folder in folders)


def page_names():
    """The string values of the viewer's layout: every session file and folder name it knows."""
    return set(re.findall(r"^\s+\w+: '([^']+)',", PAGE_OWNER.read_text(), re.M))


def test_no_session_folder_name_in_the_pages_outside_the_viewer_layout():
    names = page_names()
    assert {"system_monitoring", "Session_Information.txt", "monitoring_basic"} <= names
    spelled = re.compile("|".join(rf"(?<![\w.]){re.escape(name)}" for name in sorted(names)))
    pages = [path for path in sorted((SOURCE_DIR / "html").rglob("*"))
             if path.suffix in (".js", ".mjs", ".html", ".css") and path != PAGE_OWNER]
    assert pages
    assert offenders(spelled, None, pages) == []

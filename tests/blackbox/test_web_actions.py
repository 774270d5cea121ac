"""The web entry's table of actions against what stands outside it: the
README's table of requests (method and command line) and the requests the
pages under html/ send (each to an action the entry knows, by the method it
takes)."""
import os
import re
import subprocess
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parents[2]
BUILD_DIR = Path(os.environ.get("TRELVIK_BUILD_DIR", SOURCE_DIR / "build"))
FACTS = {"serial": "<serial>", "model": "<model>", "firmware": "<firmware>", "user": "<user>"}

# A README row: | `action=<name>[&<parameter>=<placeholder>]` | GET or POST | what runs |
README_ROW = re.compile(r"^\| `action=(\w+)(?:&(\w+)=(<[^>]+>))?` \| (GET|POST) \| (.*) \|$")
# The pages' requests: a URL's "action=<name>", the page's GET helper entry('action=<name>', …)
# and its POST helper runAction(<button>, <output>, 'action=<name>', …).
URL_ACTION = re.compile(r"[?&]action=(\w+)")
GET_CALL = re.compile(r"\bentry\(\s*'(?:action=)?(\w+)'([^;]*)")
POST_CALL = re.compile(r"\brunAction\([^;]*?,\s*'(?:action=)?(\w+)'\s*,")


def table():
    lines = subprocess.run([BUILD_DIR / "tests/driver_web_actions"], check=True, capture_output=True,
                           text=True).stdout.splitlines()
    rows = [dict(zip(("name", "parameter", "method", "reply", "program", "argv", "password"), line.split("\t")))
            for line in lines]
    assert [row["name"] for row in rows], "the table is empty"
    return rows


def readme_rows():
    text = (SOURCE_DIR / "README.md").read_text()
    return [README_ROW.match(line).groups() for line in text.splitlines()
            if line.startswith("| `action=") and README_ROW.match(line)]


def command_line(row, placeholder):
    argv = [] if row["argv"] == "-" else row["argv"].split(" ")
    return " ".join([row["program"]] + [placeholder if item == "value" else FACTS[item] for item in argv])


def test_the_readme_table_is_the_entry_table():
    rows = table()
    readme = readme_rows()
    assert [r[0] for r in readme] == [row["name"] for row in rows]
    for row, (name, parameter, placeholder, method, runs) in zip(rows, readme):
        assert (parameter or "-", method) == (row["parameter"], row["method"]), name
        if row["reply"] == "program":
            assert runs.startswith(f"`{command_line(row, placeholder)}`"), name
        else:
            assert not runs.startswith("`"), name
        assert ("password on standard input" in runs) == (row["password"] == "password"), name


def page_requests():
    """(name, method, file) of every request the pages spell."""
    found = []
    for path in sorted((SOURCE_DIR / "html").rglob("*")):
        if path.suffix not in (".js", ".mjs", ".html"):
            continue
        text = path.read_text()
        where = path.relative_to(SOURCE_DIR).as_posix()
        found += [(name, "GET", where) for name in URL_ACTION.findall(text)]
        found += [(name, "POST" if "'POST'" in rest else "GET", where) for name, rest in GET_CALL.findall(text)]
        found += [(name, "POST", where) for name in POST_CALL.findall(text)]
    return found


def test_the_pages_request_known_actions_by_their_method():
    methods = {row["name"]: row["method"] for row in table()}
    requests = page_requests()
    assert {"status", "begin", "end", "download"} <= {name for name, _, _ in requests}, "the scan lost the page"
    wrong = [f"{where}: {name} by {method}" for name, method, where in requests if methods.get(name) != method]
    assert wrong == []

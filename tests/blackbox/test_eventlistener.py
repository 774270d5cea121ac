"""trelvik_eventlistener on the emulated camera: event text on standard input,
one log line per event. Golden files hold the expected log as JSON lines of
[level, text]; --update-golden rewrites them.
"""
import json
import random
from pathlib import Path

import pytest

FIXTURES = Path(__file__).resolve().parents[1] / "fixtures" / "events"


def logged(camera, text):
    """Runs the listener on `text`; the [level, text] of every log line."""
    result = camera.run("trelvik_eventlistener", stdin=text)
    assert (result.returncode, result.stdout, result.stderr) == (0, b"", b"")
    return [[e["level"], e["text"]] for e in camera.logs()]


@pytest.mark.parametrize("name", ["example", "mixed"])
def test_event_blocks_against_golden(camera, update_golden, name):
    lines = logged(camera, (FIXTURES / f"{name}.txt").read_bytes())
    golden = FIXTURES / f"{name}.log"
    if update_golden:
        golden.write_text("".join(json.dumps(line) + "\n" for line in lines))
    assert lines == [json.loads(line) for line in golden.read_text().splitlines()]
    assert all(e["opened"] and e["ident"] == "" and e["options"] == 0x03 and e["facility"] == 8
               for e in camera.logs())


@pytest.mark.parametrize("text", [b"", b"Timestamp: 2024-01-01T00:00:00Z \n[tns1:topic0] = 'Device'\n"])
def test_nothing_logged_without_an_end_line(camera, text):
    assert logged(camera, text) == []


def test_hostile_input_is_survived(camera):
    # Lines of every shape the parser looks at, cut and joined at random, some
    # longer than the reader's buffer: the program must neither crash nor
    # trip the sanitizers, and logs only lines it knows.
    pieces = ["Timestamp:", "[tns1:topic", "[tnszurn:topic", "=", "'", "x", "9", " ", "  ", "%s%n", " = ", "'A'",
              "\n[tns1:topic1] = 'B'\n", "\n[tnszurn:topic0] = 'C\n", "\n[tns1:topicz] = 'D'\n",
              " {onvif-source} [", " {onvif-data} {property-state} [", "]", "-" * 35, "\n", "\t"]
    rng = random.Random(7)
    text = "".join(rng.choice(pieces) for _ in range(60000)) + "\n" + "y" * 9000 + "\n" + "-" * 35 + "\n"
    kinds = {(level, line.split(" ")[0]) for level, line in logged(camera, text.encode())}
    assert {("info", "Metadata"), ("warning", "Duplicate"), ("warning", "Topic")} <= kinds <= {
        ("info", "Metadata"), ("warning", "Topic"), ("warning", "Duplicate"), ("warning", "Could"),
        ("err", "(lib/device/eventlistener.cpp:")}

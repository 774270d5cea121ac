"""trelvik_session_export over a small session that has one file of every
kind the naming table knows, rows in CRLF, out of order, repeated and
unreadable: the exact OpenMetrics bytes from the folder, its archive and
gzip, and every refusal with one line, exit status 1 and no output file."""
import gzip
import shutil
import subprocess
from pathlib import Path

import pytest

from emulator.camera import build_dir

FIXTURES = Path(__file__).resolve().parents[1] / "fixtures" / "export"
SESSION = "20261206_18_48_53"
GOLDEN = FIXTURES / "session.om"
MEMFREE = "system_monitoring/monitoring_meminfo/MemFree.csv"
LOAD = "system_monitoring/monitoring_load/load.csv"


def export(source, *args):
    return subprocess.run([str(build_dir() / "bin" / "trelvik_session_export"), str(source), *args],
                          capture_output=True, text=True, timeout=120)


@pytest.fixture
def session(tmp_path):
    folder = tmp_path / SESSION
    shutil.copytree(FIXTURES / SESSION, folder)
    return folder


def archive(folder, *zip_options):
    subprocess.run(["zip", "-q", "-r", *zip_options, f"{folder.name}.zip", folder.name], cwd=folder.parent, check=True)
    return folder.parent / f"{folder.name}.zip"


def append(folder, rel, text):
    with open(folder / rel, "a", newline="") as f:
        f.write(text)


def shifted(text, seconds):
    """The OpenMetrics text with every sample's timestamp moved."""
    lines = []
    for line in text.splitlines(keepends=True):
        if not line.startswith("#"):
            head, stamp = line.rsplit(" ", 1)
            line = f"{head} {int(stamp) + seconds}\n"
        lines.append(line)
    return "".join(lines)


def test_golden_bytes_from_folder_archive_and_gzip(session, tmp_path, update_golden):
    out = tmp_path / "s.om"
    run = export(session, "-o", str(out))
    assert run.returncode == 0, run.stderr
    if update_golden:
        shutil.copy(out, GOLDEN)
    assert out.read_bytes() == GOLDEN.read_bytes()
    # One warning per file with unreadable rows (a bad date, text among
    # numbers, a NUL block before a row that still reads), the repeated MemFree
    # row counted, nothing else.
    lines = run.stderr.splitlines()
    assert [line for line in lines if "unreadable" in line and "Exported" not in line] == [
        f"trelvik_session_export: {MEMFREE}: 1 unreadable rows skipped",
        "trelvik_session_export: system_monitoring/monitoring_network/eth0.csv: 1 unreadable rows skipped",
        "trelvik_session_export: system_monitoring/monitoring_vmstatus/vmstat.csv: 1 unreadable rows skipped"]
    assert lines[-1] == (f"trelvik_session_export: Exported {SESSION}: 60 series, 122 samples, "
                         "1 duplicates dropped, 3 unreadable rows skipped")
    assert len(lines) == 4

    zipped = archive(session)
    assert export(zipped, "-o", str(tmp_path / "z.om.gz")).returncode == 0
    assert gzip.decompress((tmp_path / "z.om.gz").read_bytes()) == GOLDEN.read_bytes()
    again = export(zipped, "-o", "-")
    assert again.returncode == 0 and again.stdout.encode() == GOLDEN.read_bytes()
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted([SESSION, f"{SESSION}.zip", "s.om", "z.om.gz"])


def test_the_zone_comes_from_the_session_or_tz(session, tmp_path):
    (session / "Session_TimeZone.txt").unlink()
    as_utc = export(session, "-o", "-")
    assert as_utc.returncode == 0
    assert "did not record its time zone: its local times are read as UTC" in as_utc.stderr
    golden = GOLDEN.read_text()
    assert as_utc.stdout == shifted(golden, 3600)
    for zone in ("+0100", "Europe/Stockholm"):
        assert export(session, "--tz", zone, "-o", "-").stdout == golden


@pytest.mark.parametrize("change, reason", [
    (lambda s: append(s, MEMFREE, "1999-12-31,23:59:59,1\r\n"), "dated 1999-12-31 22:59:59 UTC, before 2000"),
    (lambda s: append(s, MEMFREE, "2099-01-01,00:00:00,1\r\n"), "more than a day ahead"),
    (lambda s: append(s, LOAD, "2026-10-25,02:30:00,1,1,1\r\n"),
     "the local time 2026-10-25 02:30:00 is ambiguous in Europe/Stockholm"),
    (lambda s: append(s, LOAD, "2026-03-29,02:30:00,1,1,1\r\n"),
     "the local time 2026-03-29 02:30:00 is skipped in Europe/Stockholm"),
    (lambda s: append(s, MEMFREE, "2026-12-06,18:48:53,180001\r\n"),
     'two different values of trelvik_memory_bytes{key="MemFree"} at 2026-12-06 17:48:53 UTC'),
    (lambda s: (s / "Session_Information.txt").unlink(), "not a session"),
    (lambda s: (s / "Session_TimeZone.txt").write_text("Zone: Europe/Stockholm\n"), "Session_TimeZone.txt cannot be read"),
])
def test_refusals(session, tmp_path, change, reason):
    change(session)
    out = tmp_path / "s.om.gz"
    run = export(session, "-o", str(out))
    assert run.returncode == 1
    # The fixture's own unreadable rows may be warned about first.
    last = run.stderr.splitlines()[-1]
    assert last.startswith(f"trelvik_session_export: Refused {session}: ") and reason in last, run.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == [SESSION]


def test_damaged_archives_and_other_inputs_are_refused(session, tmp_path):
    stored = archive(session, "-0")
    data = bytearray(stored.read_bytes())
    cut = tmp_path / "cut.zip"
    cut.write_bytes(data[:len(data) // 2])
    # A stored (uncompressed) entry's bytes changed: only its checksum tells.
    at = data.index(b"2026-12-06,18:50:53,181000")
    data[at + 21:at + 23] = b"99"
    flipped = tmp_path / "flipped.zip"
    flipped.write_bytes(data)
    text = tmp_path / "notes.txt"
    text.write_text("not an archive\n")
    cases = [(cut, "a damaged archive"), (flipped, "cannot read '" + MEMFREE + "' whole"),
             (text, "not a session"), (tmp_path / "missing.zip", "cannot be read"),
             (session, "the time zone 'Mars/Olympus' is not in this machine's time zone database")]
    for source, reason in cases:
        args = ["--tz", "Mars/Olympus"] if source == session else []
        run = export(source, *args, "-o", str(tmp_path / "out.om"))
        assert run.returncode == 1 and reason in run.stderr, (source, run.stderr)
        assert not (tmp_path / "out.om").exists() and not (tmp_path / "out.om.tmp").exists()
    assert export(session, "--bogus").returncode == 2


@pytest.mark.skipif(shutil.which("promtool") is None, reason="promtool (Debian's prometheus) is not installed")
def test_promtool_takes_every_sample(tmp_path):
    # promtool drops samples out of order or repeated without a word: the
    # block must hold as many as the export's summary counted.
    run = subprocess.run(["promtool", "tsdb", "create-blocks-from", "openmetrics", str(GOLDEN), str(tmp_path / "db")],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    # The block's line ends in: samples, chunks, series, size.
    samples, _, series, _ = run.stdout.strip().splitlines()[-1].split()[-4:]
    assert (samples, series) == ("122", "60"), run.stdout

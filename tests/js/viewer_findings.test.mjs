// Findings over generated sessions of the camera's real shape: each injected
// anomaly or damage gives exactly one finding per incident at its time, with
// its evidence; clean sessions of several seeds give none.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, writeFileSync } from 'node:fs';
import { join } from 'node:path';
import { viewer, generate, folderMembers, tempDir } from '../support/viewer_session.mjs';

const Session = viewer('session');
const Findings = viewer('findings');
const Archive = viewer('archive');
const HOUR = 3600;
const ROUND = 120;

async function open(t, args) {
  const manifest = generate(tempDir(t), args);
  const session = await Session.openSession(folderMembers(manifest.folder));
  return { manifest, session, findings: session.findings };
}

const summary = (findings) => findings.map((f) => `${f.rule}: ${f.text}`).join('\n');

// Each anomaly: the one finding it must give, how close its start must be
// to the anomaly's, and what its sentence must say.
const CASES = {
  leak: { says: /acme_analytics \(Acme\) leaked memory.*grew steadily by up to 4\.0 MiB\/h.*available memory fell/ },
  oom: {
    says: /acme_analytics \(Acme\) leaked memory.*restarted at .* and .*2 out-of-memory kills: available memory was down to [78]\d\.\d MiB of 1\.9 GiB.*under 5 %/,
  },
  fragmentation: { says: /reached zero .* stayed there to the end/ },
  outage: { says: /for 3 h \(89 rounds missing\)/ },
  reboot: { says: /The device restarted at .*counters started again/ },
  heat: {
    says: /^Fan 0 reported "failed".*CPU rose from 60\.0 °C to 90\.0 °C.*Housing rose.*sensor CPU was above 80 °C/,
  },
  neterrors: {
    says: /^Interface eth0: receive drop rose by 1110, receive errs rose by 2220 and receive frame rose by 555 between/,
  },
  ifdown: { says: /wlan0 disappeared .* did not come back \(144 rounds without it\)/ },
  clockback: { says: /clock went back at about .*(59 min \d\d s|1 h) earlier.*left out/ },
  clock1970: { says: /clock was not set until .*rows dated from 1970-01-01.*no gap is counted/ },
  lowmem: { says: /^Available memory was under 5 % of 1\.9 GiB from .* for 3\d min, down to 5\d\.\d MiB\.$/ },
  wrap: { says: /^Counter lo receive.* started again at .*: it wrapped or its interface was reset\.$/ },
  powercut: { says: /restarted at .* after no sampling from .* \(4 rounds missing\)/ },
};

test('each injected anomaly gives one finding, at its time, with its evidence', async (t) => {
  for (const [anomaly, want] of Object.entries(CASES)) {
    await t.test(anomaly, async (t) => {
      const { manifest, findings } = await open(t, ['--no-top', '--days', '1', '--anomaly', anomaly]);
      const [expected] = manifest.anomalies;
      assert.equal(findings.length, 1, summary(findings));
      const [f] = findings;
      assert.equal(f.rule, expected.rule, summary(findings));
      // Onsets to the round: never more than one round off.
      assert.ok(
        Math.abs(f.from - expected.from) <= ROUND,
        `${summary(findings)}\nfrom ${f.from - expected.from} s off`,
      );
      assert.ok(f.to <= expected.to + ROUND, summary(findings));
      assert.match(f.text, want.says);
      assert.ok(f.files.length > 0 && f.text.endsWith('.'));
    });
  }
});

test('a leak across a restart of the device is one finding, the restart another', async (t) => {
  const { findings } = await open(t, ['--no-top', '--days', '1', '--anomaly', 'leak', '--anomaly', 'reboot']);
  assert.deepEqual(findings.map((f) => f.rule).sort(), ['memory', 'reboot'], summary(findings));
  assert.match(findings.find((f) => f.rule === 'memory').text, /\(.* to .* and .* to .*\)/);
});

test('a burst of low memory during a slow leak is its own incident; a counter wrap does not cut the leak', async (t) => {
  const { findings } = await open(t, [
    '--no-top',
    '--days',
    '2',
    '--anomaly',
    'leak',
    '--anomaly',
    'lowmem',
    '--anomaly',
    'wrap',
  ]);
  assert.deepEqual(findings.map((f) => f.rule).sort(), ['counter', 'low-memory', 'memory'], summary(findings));
  const leak = findings.find((f) => f.rule === 'memory');
  assert.doesNotMatch(leak.text, /under 5 %| and .* to /, summary(findings));
});

test('memory hovering about the low line before an out-of-memory kill is that leak, not a finding of its own', async (t) => {
  // Seed 11 over three days: available memory is under 5 % for two rounds
  // eleven minutes before the second kill, and above 5 % but under the
  // kill floor in between.
  const { findings } = await open(t, ['--no-top', '--days', '3', '--seed', '11', '--anomaly', 'oom']);
  assert.equal(findings.length, 1, summary(findings));
  assert.match(findings[0].text, /2 out-of-memory kills.*under 5 % of 1\.9 GiB 3 times/, summary(findings));
});

test('the load finding names the process that topped top then, scanning top only that far', async (t) => {
  const manifest = generate(tempDir(t), ['--days', '1', '--anomaly', 'load']);
  // The last hour is busy for one CPU, not for the camera's two: no
  // finding, and no reason to read top's snapshots that far.
  const load = join(manifest.folder, 'system_monitoring/monitoring_load/load.csv');
  const rows = readFileSync(load, 'utf8').trimEnd().split('\n');
  for (let i = rows.length - 30; i < rows.length; i++) rows[i] = rows[i].replace(/^([^,]*,[^,]*,)[^,]*/, '$11.50');
  writeFileSync(load, `${rows.join('\n')}\n`);
  const scannedUntil = [];
  const session = await Session.openSession(folderMembers(manifest.folder), {
    scanTopElsewhere: (m, until) => {
      scannedUntil.push(until);
      return Session.scanTop(m, until);
    },
  });
  const findings = session.findings;
  assert.equal(findings.length, 1, summary(findings));
  assert.equal(findings[0].rule, 'load');
  assert.ok(Math.abs(findings[0].from - manifest.anomalies[0].from) <= ROUND);
  assert.match(findings[0].text, /above the CPU count \(2\).*top showed acme_encoder \(9\d % CPU on average\)/);
  assert.ok(findings[0].files.some((p) => p.endsWith('topstatus.txt')));
  assert.deepEqual(scannedUntil, [findings[0].to]);
});

test('without anything telling the CPU count the load rule says so instead of assuming one', async (t) => {
  const manifest = generate(tempDir(t), ['--no-top', '--days', '1', '--seed', '3']);
  const members = folderMembers(manifest.folder).filter((m) => !/_interrupts\.txt$/.test(m.path));
  const session = await Session.openSession(members);
  assert.deepEqual(session.findings, []);
  assert.equal(session.cpuCount, 0);
  assert.deepEqual(
    session.unjudged.map((u) => u.rule),
    ['load'],
  );
  assert.match(session.missing.join(), /load rule \(the CPU count is unknown/);
  // Top's processor column tells it when the interrupts do not.
  const withTop = generate(tempDir(t), ['--days', '0.5', '--seed', '3']);
  const fromTop = await Session.openSession(
    folderMembers(withTop.folder).filter((m) => !/_interrupts\.txt$/.test(m.path)),
  );
  assert.equal(fromTop.cpuCount, 2);
  assert.equal(fromTop.cpuSource, "top's processor column");
  assert.deepEqual(fromTop.unjudged, []);
});

test('clean sessions of several seeds give no finding at all', async (t) => {
  for (const [days, seed] of [
    [7, 7],
    [2, 1],
    [2, 2],
  ]) {
    await t.test(`${days} days, seed ${seed}`, async (t) => {
      const { manifest, session } = await open(t, ['--no-top', '--days', String(days), '--seed', String(seed)]);
      assert.equal(manifest.rounds, days * 720);
      assert.deepEqual(
        session.findings.map((f) => f.text),
        [],
      );
      assert.deepEqual(session.unjudged, []);
      assert.deepEqual(
        session.files.filter((f) => f.error).map((f) => f.path),
        [],
      );
    });
  }
});

test('large CSV files read on another thread, one at a time, or here, give the session read here', async (t) => {
  const manifest = generate(tempDir(t), [
    '--days',
    '1',
    '--seed',
    '4',
    '--anomaly',
    'oom',
    '--anomaly',
    'clockback',
    '--zip',
  ]);
  const { members } = Archive.readZip(new Uint8Array(readFileSync(manifest.archive)));
  const here = await Session.openSession(members);
  const asked = [];
  // The other thread answers the first file it is asked for late, and any
  // other with nothing: those are read here after all.
  const elsewhere = await Session.openSession(members, {
    readTableElsewhere: (m) => {
      asked.push(m.path.replace(/.*\//, ''));
      if (asked.length > 1) return Promise.resolve(null);
      return new Promise((resolve) => setTimeout(resolve, 200)).then(() => Session.streamTable(m));
    },
  });
  assert.equal(asked[0], 'zeda_processes.csv');
  const shape = (s) => ({
    series: s.series.map((x) => [x.file, x.label, Array.from(x.t), Array.from(x.v)]),
    files: s.files.map((f) => [f.path, f.error, f.rows]),
    findings: s.findings,
    clockEvents: s.clockEvents,
  });
  assert.deepEqual(shape(elsewhere), shape(here));
  assert.ok(here.findings.some((f) => f.rule === 'memory') && here.clockEvents.length, summary(here.findings));
});

test('a cut archive: what is missing is named, the restart is still a restart', async (t) => {
  const manifest = generate(tempDir(t), [
    '--no-top',
    '--days',
    '1',
    '--anomaly',
    'reboot',
    '--zip',
    '--cut-archive',
    '0.97',
  ]);
  const zip = Archive.readZip(new Uint8Array(readFileSync(manifest.archive)));
  assert.match(zip.error, /cut short/);
  const session = await Session.openSession(zip.members);
  assert.match(session.missing.join('; '), /the session facts \(Session_Information\.txt\)/);
  assert.match(session.missing.join('; '), /cut short or unreadable/);
  assert.ok(
    session.findings.some((f) => f.rule === 'reboot'),
    summary(session.findings),
  );
  assert.ok(!session.findings.some((f) => f.rule === 'counter'), summary(session.findings));
});

test('the memory rule: a steady fall over six hours counts, a daily swing or a short fall does not', () => {
  const series = (f, hours) => {
    const t = [];
    const v = [];
    for (let s = 0; s <= hours * HOUR; s += 120) {
      t.push(s);
      v.push(f(s / HOUR));
    }
    return { chart: 'memory:meminfo', meminfo: 'MemAvailable', file: 'MemAvailable.csv', label: 'MemAvailable', t, v };
  };
  const load = (mem) => ({ chart: 'load', label: '(1 min)', file: 'load.csv', t: mem.t, v: mem.t.map(() => 0.1) });
  const run = (mem) => Findings.analyse([mem, load(mem)], { cpuCount: 2 }).findings.filter((f) => f.rule === 'memory');
  const fall = Findings.THRESHOLDS.leakMinFallKiBPerHour;
  assert.equal(run(series((h) => 600000 - 2 * fall * h, 8)).length, 1);
  assert.equal(run(series((h) => 600000 - 2 * fall * h, 5)).length, 0, 'shorter than the fit window');
  assert.equal(run(series((h) => 600000 - 0.5 * fall * h, 24)).length, 0, 'slower than the threshold');
  assert.equal(run(series((h) => 600000 + 30000 * Math.sin((2 * Math.PI * h) / 24), 72)).length, 0, 'daily swing');
  // A fall that stops: its window ends where it stopped, not at the end.
  const [stopped] = run(series((h) => 600000 - 4 * fall * Math.min(h, 10), 30));
  assert.ok(Math.abs(stopped.to - 10 * HOUR) <= HOUR, `${stopped.to / HOUR} h`);
  // Empty cells as the reader gives them (NaN in a Float64Array) count
  // as the nulls of an array do.
  const holes = series((h) => 600000 - 2 * fall * h, 8);
  holes.v = holes.v.map((x, i) => (i % 10 === 3 ? null : x));
  const typed = { ...holes, v: Float64Array.from(holes.v, (x) => (x === null ? NaN : x)) };
  assert.equal(run(typed).length, 1);
  assert.deepEqual(run(typed), run(holes));
});

test('low memory without a leak is its own finding', () => {
  const t = Array.from({ length: 60 }, (_, i) => i * ROUND);
  const mem = (key, f) => ({
    chart: 'memory:meminfo',
    meminfo: key,
    file: `${key}.csv`,
    label: key,
    t,
    v: t.map((_, i) => f(i)),
  });
  const load = { chart: 'load', label: '(1 min)', file: 'load.csv', t, v: t.map(() => 0.1) };
  const all = [load, mem('MemTotal', () => 2000000), mem('MemAvailable', (i) => (i >= 20 && i < 25 ? 80000 : 900000))];
  const { findings } = Findings.analyse(all, { cpuCount: 2 });
  assert.deepEqual(
    findings.map((f) => f.rule),
    ['low-memory'],
  );
  assert.match(findings[0].text, /under 5 % of 1\.9 GiB from .* for 10 min, down to 78\.1 MiB/);
});

test('the heat rules: a heater on while the camera warms up, a sensor over the limit', () => {
  const t = Array.from({ length: 40 }, (_, i) => i * 120);
  const sensor = (f) => ({ chart: 'env:temperatures', label: 'CPU', file: 'CPU.csv', t, v: t.map((_, i) => f(i)) });
  const heater = (word) => ({
    chart: 'env:states',
    label: 'Heater 0',
    file: 'Heater_0.csv',
    t,
    v: t.map(() => 0),
    text: t.map(() => word),
    states: [word],
  });
  const load = { chart: 'load', label: '(1 min)', file: 'load.csv', t, v: t.map(() => 0.1) };
  const rules = (...series) =>
    Findings.analyse([load, ...series], { cpuCount: 1 }).findings.map((f) => `${f.rule} ${f.severity}`);
  assert.deepEqual(
    rules(
      sensor((i) => 36 + i / 4),
      heater('on'),
    ),
    ['heat warning'],
  );
  assert.deepEqual(
    rules(
      sensor((i) => 36 + i / 4),
      heater('off'),
    ),
    [],
  );
  assert.deepEqual(
    rules(
      sensor((i) => 10 + i / 4),
      heater('on'),
    ),
    [],
    'heating a cold camera is its job',
  );
  const hot = Findings.analyse([load, sensor((i) => (i >= 10 && i < 15 ? 85 : 50))], {}).findings;
  assert.equal(hot.length, 1);
  assert.equal(hot[0].from, 1200);
  assert.equal(hot[0].to, 1680);
});

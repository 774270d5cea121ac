// Findings over generated sessions in the collectors' exact formats: each
// injected anomaly gives exactly its finding at its time, a clean week none.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { viewer, generate, folderMembers, tempDir } from '../support/viewer_session.mjs';

const TSn = viewer('session');
const TF = viewer('findings');
const HOUR = 3600;

async function findingsOf(t, args) {
  const manifest = generate(tempDir(t), ['--no-top', ...args]);
  const session = await TSn.openSession(folderMembers(manifest.folder));
  assert.deepEqual(session.files.filter((f) => f.error).map((f) => f.path), []);
  return { manifest, findings: session.findings };
}

// How far a finding's start may lie from the anomaly's: the leak's onset is
// fitted on half-hour steps, everything else is seen at the next round.
const TOLERANCE = { memory: HOUR, heat: 45 * 60 };

test('each injected anomaly gives exactly its finding at its time', async (t) => {
  for (const anomaly of ['leak', 'fragmentation', 'outage', 'reboot', 'heat', 'neterrors', 'load', 'ifdown']) {
    await t.test(anomaly, async (t) => {
      const { manifest, findings } = await findingsOf(t, ['--days', '1', '--anomaly', anomaly]);
      const [expected] = manifest.anomalies;
      const summary = findings.map((f) => `${f.rule}: ${f.text}`).join('\n');
      assert.ok(findings.length > 0, `no finding for ${anomaly}`);
      for (const f of findings) {
        assert.equal(f.rule, expected.rule, summary);
        assert.ok(f.from >= expected.from - (TOLERANCE[f.rule] ?? 130) && f.to <= expected.to + 130, summary);
        assert.ok(['critical', 'warning', 'info'].includes(f.severity));
        assert.ok(f.files.length > 0 && f.text.endsWith('.'));
      }
      assert.ok(findings.some((f) => Math.abs(f.from - expected.from) <= (TOLERANCE[f.rule] ?? 130)), summary);
      if (expected.names) assert.match(findings[0].text, new RegExp(expected.names));
    });
  }
});

test('a clean week gives no finding at all', async (t) => {
  const { manifest, findings } = await findingsOf(t, ['--days', '7', '--seed', '7']);
  assert.equal(manifest.rounds, 5040);
  assert.deepEqual(findings.map((f) => f.text), []);
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
  const run = (mem) => TF.analyse([mem, load(mem)], { cpuCount: 2 }).filter((f) => f.rule === 'memory');
  const fall = TF.THRESHOLDS.leakMinFallKiBPerHour;
  assert.equal(run(series((h) => 600000 - 2 * fall * h, 8)).length, 1);
  assert.equal(run(series((h) => 600000 - 2 * fall * h, 5)).length, 0, 'shorter than the fit window');
  assert.equal(run(series((h) => 600000 - 0.5 * fall * h, 24)).length, 0, 'slower than the threshold');
  assert.equal(run(series((h) => 600000 + 30000 * Math.sin((2 * Math.PI * h) / 24), 72)).length, 0, 'daily swing');
});

test('the heat rules: a heater on while the camera warms up, a sensor over the limit', () => {
  const t = Array.from({ length: 40 }, (_, i) => i * 120);
  const sensor = (f) => ({ chart: 'env:temperatures', label: 'CPU', file: 'CPU.csv', t, v: t.map((_, i) => f(i)) });
  const heater = (word) => ({ chart: 'env:states', label: 'Heater 0', file: 'Heater_0.csv', t, v: t.map(() => 0), text: t.map(() => word), states: [word] });
  const load = { chart: 'load', label: '(1 min)', file: 'load.csv', t, v: t.map(() => 0.1) };
  const rules = (...series) => TF.analyse([load, ...series], { cpuCount: 1 }).map((f) => `${f.rule} ${f.severity}`);
  assert.deepEqual(rules(sensor((i) => 36 + i / 4), heater('on')), ['heat warning']);
  assert.deepEqual(rules(sensor((i) => 36 + i / 4), heater('off')), []);
  assert.deepEqual(rules(sensor((i) => 10 + i / 4), heater('on')), [], 'heating a cold camera is its job');
  const hot = TF.analyse([load, sensor((i) => (i >= 10 && i < 15 ? 85 : 50))], {});
  assert.equal(hot.length, 1);
  assert.equal(hot[0].from, 1200);
  assert.equal(hot[0].to, 1680);
});

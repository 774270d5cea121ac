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

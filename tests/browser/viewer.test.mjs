// The session viewer in Debian's chromium: a real archive from the demo, a
// generated session fetched through ?archive=, a chosen folder, damaged
// archives, snapshots, and the one-file report.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { createServer } from 'node:http';
import { mkdtempSync, readFileSync, rmSync, existsSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, normalize } from 'node:path';
import { chromium } from 'playwright-core';
import { repo, viewer, generate, damagedArchive } from '../support/viewer_session.mjs';

const build = process.env.TRELVIK_BUILD_DIR ?? join(repo, 'build');
const html = join(build, 'html');
const TA = viewer('archive');
let browser;
let server;
let origin;
let work;
let generated;

before(async () => {
  work = mkdtempSync(join(tmpdir(), 'trelvik-viewer-browser-'));
  generated = generate(work, ['--days', '2', '--anomaly', 'leak', '--anomaly', 'outage', '--anomaly', 'heat', '--zip']);
  // The page and the archive from one loopback origin, as the camera serves them.
  server = createServer((req, res) => {
    const path = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = path.startsWith('/sessions/') ? join(work, normalize(path.slice(10))) : join(html, normalize(path));
    if (!existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200).end(readFileSync(file));
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await chromium.launchPersistentContext(join(work, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  await browser?.close();
  server?.close();
  rmSync(work, { recursive: true, force: true });
});

async function open(url, pick) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.setViewportSize({ width: 1100, height: 900 });
  await page.goto(url);
  if (pick) await pick(page);
  await page.waitForFunction(() => ['ready', 'error'].includes(document.body.dataset.state), null, { timeout: 60000 });
  page.errors = errors;
  return page;
}

// The CSV files of an archive and the files every chart or table names.
function csvMembers(zipPath) {
  return TA.readZip(new Uint8Array(readFileSync(zipPath))).members
    .map((m) => m.path.replace(/^[^/]+\//, '')).filter((p) => p.endsWith('.csv'));
}
const chartedFiles = async (page) => new Set((await page.$$eval('figure.chart', (figs) =>
  figs.flatMap((f) => JSON.parse(f.dataset.files)))));
const badRows = (page) => page.$$eval('tr.file-row[data-error="1"]', (rows) => rows.map((r) => r.dataset.path ?? ''));

test('the demo\'s real archive opens with every CSV file charted', async () => {
  const archive = join(repo, 'tests/fixtures/viewer/demo_session.zip');
  const page = await open(`file://${html}/viewer.html`, (p) => p.setInputFiles('#zip-input', archive));
  const charted = await chartedFiles(page);
  const csv = csvMembers(archive);
  assert.ok(csv.length > 60);
  assert.deepEqual(csv.filter((p) => !charted.has(p)), []);
  assert.deepEqual(await badRows(page), []);
  assert.match(await page.textContent('#facts-list'), /Serial Number\s*ACCC8E000001/);
  assert.ok(await page.locator('.u-wrap').count() > 30);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a session fetched through ?archive= shows its findings, and a finding zooms every chart', async () => {
  const name = generated.archive.split('/').pop();
  const page = await open(`${origin}/viewer.html?archive=${encodeURIComponent(`/sessions/${name}`)}`);
  assert.equal(await page.getAttribute('body', 'data-state'), 'ready');
  const rules = await page.$$eval('#findings-list li', (items) => items.map((i) => i.dataset.rule));
  assert.deepEqual([...new Set(rules)].sort(), ['gap', 'heat', 'memory']);
  const charted = await chartedFiles(page);
  assert.deepEqual(csvMembers(generated.archive).filter((p) => !charted.has(p)), []);

  const gap = page.locator('#findings-list li[data-rule="gap"]');
  const from = Number(await gap.getAttribute('data-from'));
  await gap.getByRole('button', { name: /Zoom every chart/ }).click();
  const shown = await page.evaluate(() => document.getElementById('range-text').textContent);
  const day = new Date(from * 1000).toISOString().slice(0, 10);
  assert.match(shown, new RegExp(`Shown: ${day}`));
  assert.doesNotMatch(shown, /2026-12-06 18:48 – /);

  // Two interrupt snapshots compared line by line.
  const options = await page.$$eval('#snapshot-select optgroup[label="interrupts"] option', (o) => o.map((x) => x.value));
  await page.selectOption('#snapshot-select', options[0]);
  await page.selectOption('#compare-select', options[1]);
  await page.waitForSelector('#compare-table:not([hidden]) tbody tr');
  assert.match(await page.textContent('#compare-table tbody'), /arch_timer/);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a chosen session folder opens like its archive', async () => {
  const page = await open(`file://${html}/viewer.html`, (p) => p.setInputFiles('#folder-input', generated.folder));
  assert.equal(await page.getAttribute('body', 'data-state'), 'ready');
  assert.equal(await page.locator('#findings-list li[data-rule="memory"]').count(), 1);
  assert.deepEqual(await badRows(page), []);
  // Readable on a phone: long paths break instead of widening the page.
  await page.setViewportSize({ width: 360, height: 800 });
  await page.waitForTimeout(300);
  assert.ok(await page.evaluate(() => document.documentElement.scrollWidth) <= 360);
  await page.close();
});

test('damaged input: each bad file shows its error, the rest renders, the tab stays responsive', async () => {
  const { zip, bad, good } = damagedArchive();
  const page = await open(`file://${html}/viewer.html`, (p) =>
    p.setInputFiles('#zip-input', { name: 'damaged.zip', mimeType: 'application/zip', buffer: Buffer.from(zip) }));
  assert.deepEqual((await badRows(page)).sort(), [...bad].sort());
  const charted = await chartedFiles(page);
  for (const p of good) assert.ok(charted.has(p), `${p} not charted: ${[...charted]}`);
  assert.match(await page.textContent('#banner'), /could not be read fully/);
  assert.equal(await page.evaluate(() => 6 * 7), 42);

  // An archive cut in half: what it holds still opens.
  const whole = readFileSync(generated.archive);
  await page.setInputFiles('#zip-input', { name: 'cut.zip', mimeType: 'application/zip', buffer: whole.subarray(0, whole.length >> 1) });
  await page.waitForFunction(() => /cut short/.test(document.getElementById('files-body').textContent), null, { timeout: 60000 });
  await page.waitForFunction(() => document.body.dataset.state === 'ready', null, { timeout: 60000 });
  assert.equal(await page.locator('figure[data-chart="memory:meminfo"]').count(), 1);

  // Not an archive at all.
  await page.setInputFiles('#zip-input', { name: 'notes.zip', mimeType: 'application/zip', buffer: Buffer.from('just text') });
  await page.waitForFunction(() => /not a zip archive/.test(document.getElementById('banner').textContent), null, { timeout: 10000 });
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('an archive chosen while another is still being read replaces it', async () => {
  const demo = join(repo, 'tests/fixtures/viewer/demo_session.zip');
  const page = await open(`file://${html}/viewer.html`, async (p) => {
    // The first session is held back until the second has been shown.
    await p.evaluate(() => {
      const read = window.TrelvikSession.openSession;
      let first = true;
      window.TrelvikSession.openSession = async (...args) => {
        if (first) {
          first = false;
          await new Promise((resolve) => { window.releaseFirst = resolve; });
        }
        return read(...args);
      };
    });
    await p.setInputFiles('#zip-input', generated.archive);
    await p.waitForFunction(() => window.releaseFirst);
    await p.setInputFiles('#zip-input', demo);
  });
  await page.evaluate(() => window.releaseFirst());
  await page.waitForTimeout(2000);
  assert.match(await page.textContent('#banner'), /^demo_session\.zip: /);
  assert.deepEqual(await page.$$eval('#findings-list li', (items) => items.length), 0);
  assert.equal(new Set(await page.$$eval('figure.chart', (f) => f.map((x) => x.dataset.chart))).size,
    await page.locator('figure.chart').count());
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('the report command writes one file that opens offline with the same charts and findings', async () => {
  const report = join(work, 'report.html');
  execFileSync(join(build, 'bin', 'trelvik_session_report'), [generated.archive, '-o', report]);
  const text = readFileSync(report, 'utf8');
  assert.doesNotMatch(text, /<script src=|<link /);
  const page = await open(`file://${report}`);
  assert.equal(await page.getAttribute('body', 'data-state'), 'ready');
  const rules = await page.$$eval('#findings-list li', (items) => items.map((i) => i.dataset.rule));
  assert.deepEqual([...new Set(rules)].sort(), ['gap', 'heat', 'memory']);
  const charted = await chartedFiles(page);
  assert.deepEqual(csvMembers(generated.archive).filter((p) => !charted.has(p)), []);
  assert.deepEqual(page.errors, []);
  await page.close();
});

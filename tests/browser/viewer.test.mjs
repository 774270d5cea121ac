// The session viewer in Debian's chromium: a real archive from the demo, a
// generated session fetched through ?archive=, a chosen folder, damaged
// archives, snapshots, and the one-file report.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { createServer } from 'node:http';
import { mkdtempSync, readFileSync, readdirSync, rmSync, existsSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, normalize } from 'node:path';
import { chromium } from 'playwright-core';
import { CHROMIUM_ARGS } from './operator_support.mjs';
import { repo, viewer, generate, damagedArchive, fflate as viewerFflate } from '../support/viewer_session.mjs';

const build = process.env.TRELVIK_BUILD_DIR ?? join(repo, 'build');
const html = join(build, 'html');
const Archive = viewer('archive');
let browser;
let server;
let origin;
let work;
let generated;
let damaged;

before(async () => {
  work = mkdtempSync(join(tmpdir(), 'trelvik-viewer-browser-'));
  generated = generate(work, [
    '--days',
    '2',
    '--anomaly',
    'leak',
    '--anomaly',
    'outage',
    '--anomaly',
    'heat',
    '--zip',
    '--zone',
    'Europe/Stockholm',
    '--utc-offset',
    '+0100',
  ]);
  // A card after a power cut, with a clock that went back, in its own folder.
  damaged = generate(join(work, 'damaged'), [
    '--days',
    '1',
    '--no-top',
    '--no-zone',
    '--anomaly',
    'powercut',
    '--anomaly',
    'clockback',
    '--anomaly',
    'baddates',
    '--zip',
  ]);
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
    args: CHROMIUM_ARGS,
  });
});

after(async () => {
  await browser?.close();
  server?.close();
  rmSync(work, { recursive: true, force: true });
});

async function open(url, pick, before) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.setViewportSize({ width: 1100, height: 900 });
  if (before) await page.addInitScript(before);
  await page.goto(url);
  if (pick) await pick(page);
  await page.waitForFunction(() => ['ready', 'error'].includes(document.body.dataset.state), null, { timeout: 60000 });
  page.errors = errors;
  return page;
}

// The CSV files of an archive and the files every chart or table names.
function csvMembers(zipPath) {
  return Archive.readZip(new Uint8Array(readFileSync(zipPath)))
    .members.map((m) => m.path.replace(/^[^/]+\//, ''))
    .filter((p) => p.endsWith('.csv'));
}
const chartedFiles = async (page) =>
  new Set(await page.$$eval('figure.chart', (figs) => figs.flatMap((f) => JSON.parse(f.dataset.files))));
const badRows = (page) => page.$$eval('tr.file-row[data-error="1"]', (rows) => rows.map((r) => r.dataset.path ?? ''));

test("the demo's real archive opens with every CSV file charted", async () => {
  const archive = join(repo, 'tests/fixtures/viewer/demo_session.zip');
  const page = await open(`file://${html}/viewer.html`, (p) => p.setInputFiles('#zip-input', archive));
  const charted = await chartedFiles(page);
  const csv = csvMembers(archive);
  assert.ok(csv.length > 60);
  assert.deepEqual(
    csv.filter((p) => !charted.has(p)),
    [],
  );
  assert.deepEqual(await badRows(page), []);
  assert.match(await page.textContent('#facts-list'), /Serial Number\s*ACCC8E000001/);
  // A snapshot is read out of the chosen file again: the page keeps no
  // copy of an archive that its workers read.
  const snapshot = await page.$eval('#snapshot-select optgroup[label="interrupts"] option', (o) => o.value);
  await page.selectOption('#snapshot-select', snapshot);
  await page.waitForFunction(() => document.getElementById('snapshot-text').textContent !== '');
  assert.match(await page.textContent('#snapshot-text'), /^\s+CPU0/);
  // Charts are drawn as they come near the screen, each at the range shown,
  // and give their drawing back when far from it; one drawn again shows
  // what its legend left shown.
  const drawnAtFirst = await page.locator('.u-wrap').count();
  assert.ok(drawnAtFirst < 30, `${drawnAtFirst} charts drawn before any was seen`);
  const first = page.locator('figure.chart:has(.plot)').first();
  await first.locator('.u-legend .u-series').nth(1).click();
  assert.match(await first.locator('.u-legend .u-series').nth(1).getAttribute('class'), /u-off/);
  const figures = await page.locator('figure.chart:has(.plot)').all();
  assert.ok(figures.length > 30);
  for (const figure of figures) {
    await figure.scrollIntoViewIfNeeded();
    await figure.locator('.u-wrap').waitFor();
  }
  await first.locator('.plot.waiting').waitFor();
  assert.ok((await page.locator('.u-wrap').count()) < figures.length / 2, 'charts far from the screen are released');
  await first.scrollIntoViewIfNeeded();
  assert.match(await first.locator('.u-legend .u-series').nth(1).getAttribute('class'), /u-off/);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a chart near the screen at first but left before its turn came stays undrawn, so that it is never held while far', async () => {
  const archive = join(repo, 'tests/fixtures/viewer/demo_session.zip');
  // Each chart's turn comes late here, so that the page is left first.
  const late = () =>
    Object.defineProperty(window, 'scheduler', { value: { postTask: (f) => setTimeout(f, 400) }, configurable: true });
  const page = await open(`file://${html}/viewer.html`, (p) => p.setInputFiles('#zip-input', archive), late);
  const plots = page.locator('figure.chart:has(.plot)');
  const below = await plots.evaluateAll((figures) =>
    figures.findIndex(
      (f) => f.getBoundingClientRect().top >= innerHeight && f.getBoundingClientRect().top < 2 * innerHeight,
    ),
  );
  assert.ok(below >= 0, 'a chart within a screen below the first');
  await plots.last().evaluate((f) => f.scrollIntoView({ behavior: 'instant' }));
  await plots.last().locator('.u-wrap').waitFor();
  await page.waitForTimeout(1000);
  assert.equal(await plots.nth(below).locator('.plot.waiting').count(), 1, 'the chart left behind was drawn');
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a session fetched through ?archive= shows its findings, and a finding zooms every chart', async () => {
  const name = generated.archive.split('/').pop();
  const page = await open(`${origin}/viewer.html?archive=${encodeURIComponent(`/sessions/${name}`)}`);
  assert.equal(await page.getAttribute('body', 'data-state'), 'ready');
  const rules = await page.$$eval('#findings-list li', (items) => items.map((i) => i.dataset.rule));
  assert.deepEqual(rules.sort(), ['gap', 'heat', 'memory']);
  const charted = await chartedFiles(page);
  assert.deepEqual(
    csvMembers(generated.archive).filter((p) => !charted.has(p)),
    [],
  );
  // The session by its camera and start in the tab, the zone with the facts.
  assert.equal(await page.title(), 'Trelvik session ACCC8E000001, 2026-12-06 18:48 (Europe/Stockholm)');
  assert.match(await page.textContent('#facts-list'), /Time zone\s*Europe\/Stockholm \(UTC \+0100 at the start\)/);
  assert.doesNotMatch(await page.textContent('#banner'), /Session_TimeZone/);

  const gap = page.locator('#findings-list li[data-rule="gap"]');
  const from = Number(await gap.getAttribute('data-from'));
  await gap.getByRole('button', { name: /Zoom every chart/ }).click();
  const shown = await page.evaluate(() => document.getElementById('range-text').textContent);
  const day = new Date(from * 1000).toISOString().slice(0, 10);
  assert.match(shown, new RegExp(`Shown: ${day}`));
  assert.doesNotMatch(shown, /2026-12-06 18:48 – /);

  // Two interrupt snapshots compared line by line.
  const options = await page.$$eval('#snapshot-select optgroup[label="interrupts"] option', (o) =>
    o.map((x) => x.value),
  );
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
  assert.ok((await page.evaluate(() => document.documentElement.scrollWidth)) <= 360);
  await page.close();
});

test('damaged input: each bad file shows its error, the rest renders, the tab stays responsive', async () => {
  const { zip, bad, good } = damagedArchive();
  const page = await open(`file://${html}/viewer.html`, (p) =>
    p.setInputFiles('#zip-input', { name: 'damaged.zip', mimeType: 'application/zip', buffer: Buffer.from(zip) }),
  );
  assert.deepEqual((await badRows(page)).sort(), [...bad].sort());
  const charted = await chartedFiles(page);
  for (const p of good) assert.ok(charted.has(p), `${p} not charted: ${[...charted]}`);
  assert.match(await page.textContent('#banner'), /could not be read: see Files/);
  assert.equal(await page.evaluate(() => 6 * 7), 42);

  // An archive cut short: what it holds still opens, and the banner says
  // what is missing and which rules could not run.
  const whole = readFileSync(generated.archive);
  await page.setInputFiles('#zip-input', {
    name: 'cut.zip',
    mimeType: 'application/zip',
    buffer: whole.subarray(0, Math.floor(whole.length * 0.6)),
  });
  await page.waitForFunction(() => /cut short/.test(document.getElementById('files-body').textContent), null, {
    timeout: 60000,
  });
  await page.waitForFunction(() => document.body.dataset.state === 'ready', null, { timeout: 60000 });
  assert.equal(await page.locator('figure[data-chart="memory:meminfo"]').count(), 1);
  const cutBanner = await page.textContent('#banner');
  assert.match(cutBanner, /The archive is damaged: the archive is cut short/);
  assert.match(cutBanner, /Missing: the session facts \(Session_Information\.txt\); .*cut short or unreadable/);
  assert.match(cutBanner, /the (heat|network|load) rule \(no /);
  assert.ok((await page.locator('#findings-list li.unjudged').count()) > 0);

  // Not an archive at all.
  await page.setInputFiles('#zip-input', {
    name: 'notes.zip',
    mimeType: 'application/zip',
    buffer: Buffer.from('just text'),
  });
  await page.waitForFunction(() => /not a zip archive/.test(document.getElementById('banner').textContent), null, {
    timeout: 10000,
  });
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('a card after a power cut: damaged and mistimed rows are left out, counted per file, and the banner says where', async () => {
  const page = await open(`file://${html}/viewer.html`, (p) => p.setInputFiles('#zip-input', damaged.archive));
  const banner = await page.textContent('#banner');
  assert.match(banner, /\d+ damaged or mistimed rows left out of charts and rules, in .*: see Files/);
  assert.match(banner, /no Session_TimeZone\.txt: its times are read as UTC/);
  const rows = await page.$$eval('tr.file-row', (trs) =>
    trs.map((r) => [r.dataset.path, Number(r.dataset.leftOut || 0), r.cells[3].textContent]),
  );
  // Sorted by folder, then name.
  const paths = rows.map((r) => r[0]);
  const dir = (p) => p.slice(0, p.lastIndexOf('/') + 1);
  assert.deepEqual(
    paths,
    [...paths].sort((a, b) => dir(a).localeCompare(dir(b)) || a.localeCompare(b)),
  );
  const row = (name) => rows.find((r) => r[0].endsWith(name));
  assert.match(
    row('monitoring_load/load.csv')[2],
    /^1 damaged line \(NUL bytes or invalid UTF-8\), 2 rows dated long after the session stopped, 30 rows whose time went backwards left out/,
  );
  assert.match(row('MemFree.csv')[2], /2 rows with an impossible date or time/);
  assert.match(row('Fan_0.csv')[2], /^2 damaged lines/);
  const rules = await page.$$eval('#findings-list li', (items) => items.map((i) => i.dataset.rule));
  assert.deepEqual(rules, ['reboot', 'clock']);
  // The clock's step is a note of its own, not a gap of an hour.
  assert.match(await page.textContent('#findings-list li[data-rule="clock"]'), /clock went back/);
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('where no worker starts, a chosen archive file is read by the page itself', async () => {
  const demo = join(repo, 'tests/fixtures/viewer/demo_session.zip');
  const page = await open(`file://${html}/viewer.html`, async (p) => {
    await p.evaluate(() => {
      window.Worker = class {
        constructor() {
          throw new Error('no workers here');
        }
      };
    });
    await p.setInputFiles('#zip-input', demo);
  });
  assert.equal(await page.getAttribute('body', 'data-state'), 'ready');
  const charted = await chartedFiles(page);
  assert.deepEqual(
    csvMembers(demo).filter((p) => !charted.has(p)),
    [],
  );
  const snapshot = await page.$eval('#snapshot-select optgroup[label="interrupts"] option', (o) => o.value);
  await page.selectOption('#snapshot-select', snapshot);
  await page.waitForFunction(() => document.getElementById('snapshot-text').textContent !== '');
  assert.match(await page.textContent('#snapshot-text'), /^\s+CPU0/);
  await page.setInputFiles('#zip-input', { name: 'notes.zip', mimeType: 'application/zip', buffer: Buffer.from('x') });
  await page.waitForFunction(() =>
    /^notes\.zip: not a zip archive/.test(document.getElementById('banner').textContent),
  );
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('an archive chosen while another is still being read replaces it', async () => {
  const demo = join(repo, 'tests/fixtures/viewer/demo_session.zip');
  // The first session is held back until the second has been shown: its
  // archive reaches the workers that read it (started as the page loads)
  // only when released.
  const holdFirst = () => {
    const Real = window.Worker;
    let held = 0;
    let release;
    const released = new Promise((resolve) => (release = resolve));
    window.Worker = class extends Real {
      postMessage(...args) {
        if (!args[0] || !args[0].file || held === 2) return super.postMessage(...args);
        held++;
        window.releaseFirst = release;
        released.then(() => super.postMessage(...args));
      }
    };
  };
  const page = await open(
    `file://${html}/viewer.html`,
    async (p) => {
      await p.setInputFiles('#zip-input', generated.archive);
      await p.waitForFunction(() => window.releaseFirst);
      await p.setInputFiles('#zip-input', demo);
    },
    holdFirst,
  );
  await page.evaluate(() => window.releaseFirst());
  await page.waitForTimeout(2000);
  assert.match(await page.textContent('#banner'), /^demo_session\.zip: /);
  assert.deepEqual(await page.$$eval('#findings-list li', (items) => items.length), 0);
  assert.equal(
    new Set(await page.$$eval('figure.chart', (f) => f.map((x) => x.dataset.chart))).size,
    await page.locator('figure.chart').count(),
  );
  assert.deepEqual(page.errors, []);
  await page.close();
});

test('the report command: one offline file with the same charts and findings; its exit status says what it was given', async () => {
  const report = join(work, 'report.html');
  const run = (archive) =>
    spawnSync(join(build, 'bin', 'trelvik_session_report'), [archive, '-o', report], { encoding: 'utf8' });
  const whole = run(generated.archive);
  assert.equal(whole.status, 0, whole.stderr);
  const text = readFileSync(report, 'utf8');
  assert.doesNotMatch(text, /<script src=|<link /);
  // The archive inside costs little more than the archive itself.
  assert.ok(text.length <= 1.1 * statSync(generated.archive).size + viewerBytes(), `${text.length} bytes`);
  const page = await open(`file://${report}`);
  assert.equal(await page.getAttribute('body', 'data-state'), 'ready');
  const rules = await page.$$eval('#findings-list li', (items) => items.map((i) => i.dataset.rule));
  assert.deepEqual(rules.sort(), ['gap', 'heat', 'memory']);
  const charted = await chartedFiles(page);
  assert.deepEqual(
    csvMembers(generated.archive).filter((p) => !charted.has(p)),
    [],
  );
  assert.deepEqual(page.errors, []);
  await page.close();

  // Not a session archive: one line, exit 1, no report.
  const bytes = readFileSync(generated.archive);
  const cases = {
    'empty.zip': Buffer.alloc(0),
    'notes.zip': Buffer.from('just text\n'),
    'other.zip': Buffer.from(viewerFflate.zipSync({ 'photos/a.jpg': new Uint8Array(10) })),
  };
  for (const [name, content] of Object.entries(cases)) {
    const path = join(work, name);
    writeFileSync(path, content);
    rmSync(report, { force: true });
    const r = run(path);
    assert.equal(r.status, 1, `${name}: ${r.stderr}`);
    assert.match(
      r.stderr.trim(),
      new RegExp(
        `^[^\n]*'[^']*${name.replace('.', '\\.')}' is not a session archive: (the file is empty|it is not a zip archive|no session folder inside)[^\n]*$`,
      ),
    );
    assert.ok(!existsSync(report), name);
  }
  // A cut archive: the report is written, exit 2, and its banner lists what is missing.
  const cut = join(work, 'cut.zip');
  writeFileSync(cut, bytes.subarray(0, Math.floor(bytes.length * 0.6)));
  const r = run(cut);
  assert.equal(r.status, 2, r.stderr);
  assert.match(
    r.stderr,
    /'[^']*cut\.zip' is damaged; the report was written and says what is missing: the end of the archive/,
  );
  const cutPage = await open(`file://${report}`);
  assert.match(await cutPage.textContent('#banner'), /Missing: the session facts \(Session_Information\.txt\)/);
  await cutPage.close();
});

// The viewer's own bytes in a report: its page, scripts and libraries.
function viewerBytes() {
  const files = ['viewer.html', 'vendor/uPlot.iife.min.js', 'vendor/uPlot.min.css', 'vendor/fflate.js'];
  let total = 0;
  for (const f of files) total += statSync(join(html, f)).size;
  for (const f of readdirSync(join(html, 'viewer'))) total += statSync(join(html, 'viewer', f)).size;
  return total;
}

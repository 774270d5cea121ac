#!/usr/bin/env node
// Times the session viewer on generated weeks: a realistic 7-day session
// (5,040 two-minute rounds; every package process in each of the package
// scripts' eleven samples per round and top's 30-line snapshots, as the
// camera's sampler writes them: about 200 MiB of text; with a process
// leaking until it is killed, a load peak, an outage, a fan failure and
// receive errors) and, beside it, the small week without top's snapshots.
// Each is opened from its archive in headless chromium, a browser of its
// own for each run, once that browser has finished starting. Prints the
// archive's size, the time from choosing the file until every chart is in
// place (those on screen drawn; the others are drawn as they are scrolled
// to) and the findings are listed (median and every run) with the CPU time the
// browser spent on it (the figure to compare on a busy machine), and the
// tab's JS heap and resident memory afterwards (and before, the page
// empty), and once every chart has been scrolled to and drawn. Not a
// test: nothing is asserted.
//
//     bench/viewer.mjs [--runs 3] [--days 7] [--archive SESSION.zip] [--screenshot out.png]
//     (TRELVIK_BUILD_DIR selects the build, default build/)
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { inflateSync, deflateSync } from 'node:zlib';
import { tmpdir } from 'node:os';
import { join, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';
import { chromium } from 'playwright-core';

const repo = join(dirname(fileURLToPath(import.meta.url)), '..');
const { values: opt } = parseArgs({
  options: {
    runs: { type: 'string', default: '3' },
    days: { type: 'string', default: '7' },
    archive: { type: 'string' },
    screenshot: { type: 'string' },
  },
});
const build = process.env.TRELVIK_BUILD_DIR ?? join(repo, 'build');
const work = mkdtempSync(join(tmpdir(), 'trelvik-viewer-bench-'));
const MiB = 1024 * 1024;

// Memory of the tab's process: the largest renderer of the benchmark's own
// browser profile, resident in all and anonymous (without the shared
// libraries), from /proc.
function tabResident(profile) {
  let best = { rss: 0, anon: 0 };
  for (const pid of readdirSync('/proc').filter((d) => /^\d+$/.test(d))) {
    try {
      const cmd = readFileSync(`/proc/${pid}/cmdline`, 'latin1');
      if (!cmd.includes('--type=renderer') || !cmd.includes(profile)) continue;
      const status = readFileSync(`/proc/${pid}/status`, 'latin1');
      const rss = Number(/VmRSS:\s+(\d+)/.exec(status)[1]) * 1024;
      const anon = Number(/RssAnon:\s+(\d+)/.exec(status)[1]) * 1024;
      if (rss > best.rss) best = { rss, anon };
    } catch {
      // The process ended while it was being read.
    }
  }
  return best;
}

// CPU seconds used so far by the renderers of the profile: the work of
// opening a session whatever else the machine is doing.
function rendererCpu(profile) {
  let ticks = 0;
  for (const pid of readdirSync('/proc').filter((d) => /^\d+$/.test(d))) {
    try {
      if (!readFileSync(`/proc/${pid}/cmdline`, 'latin1').includes(profile)) continue;
      // utime and stime follow the parenthesised command name.
      const fields = readFileSync(`/proc/${pid}/stat`, 'latin1').split(') ')[1].split(' ');
      ticks += Number(fields[11]) + Number(fields[12]);
    } catch {
      // The process ended while it was being read.
    }
  }
  return ticks / 100; // USER_HZ
}

// Waits until the browser has finished starting (each run launches its
// own): about a second of CPU after the page has loaded, whose processes
// would otherwise share the two cores with the reading being timed, as no
// browser a person has had open for a while does. Quiet is under 20 ms of
// CPU in a quarter of a second; at most 10 s are waited.
async function settle(page, profile) {
  let before = rendererCpu(profile);
  for (let waited = 0; waited < 10000; waited += 250) {
    await page.waitForTimeout(250);
    const now = rendererCpu(profile);
    if (now - before < 0.02) return;
    before = now;
  }
}

// The README's picture: the findings and the memory charts zoomed to the
// memory finding, written as a palette PNG to stay small.
async function screenshot(page, path) {
  await page.setViewportSize({ width: 900, height: 1500 });
  const leak = page.locator('#findings-list li[data-rule="memory"] button');
  if (await leak.count()) await leak.click();
  await page.waitForTimeout(1000); // the smooth scroll to the charts
  await page.evaluate(() => window.scrollTo({ top: document.getElementById('findings').offsetTop - 8, behavior: 'instant' }));
  await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve))));
  writeFileSync(path, paletted(await page.screenshot()));
}

// Scrolls the page to its end a screen at a time, so that every chart is
// drawn as a reader would see it (each screen's charts drawn before the
// next); the tab's memory then, and after a full garbage collection.
async function scrollThrough(page, profile) {
  await page.evaluate(() => window.scrollTo({ top: 0, behavior: 'instant' }));
  for (let i = 0; i < 200; i++) {
    const atEnd = await page.evaluate(() => {
      window.scrollBy({ top: window.innerHeight, behavior: 'instant' });
      return window.scrollY + window.innerHeight >= document.documentElement.scrollHeight - 1;
    });
    await page.waitForFunction(() => [...document.querySelectorAll('.plot.waiting')].every((p) => {
      const r = p.getBoundingClientRect();
      return r.bottom <= 0 || r.top >= window.innerHeight;
    }), null, { timeout: 10000, polling: 'raf' });
    if (atEnd) break;
  }
  await page.waitForTimeout(500);
  const seen = tabResident(profile);
  const cdp = await page.context().newCDPSession(page);
  await cdp.send('HeapProfiler.collectGarbage');
  await page.waitForTimeout(500);
  return { ...seen, collected: tabResident(profile) };
}

// Re-encodes an 8-bit RGB(A) PNG with at most 256 colours: the most frequent
// ones (a page is mostly a few flat colours), every other pixel mapped to the
// nearest of them.
function paletted(png) {
  const width = png.readUInt32BE(16);
  const height = png.readUInt32BE(20);
  const channels = png[25] === 6 ? 4 : 3;
  const chunks = [];
  for (let o = 8; o < png.length;) {
    const len = png.readUInt32BE(o);
    if (png.toString('latin1', o + 4, o + 8) === 'IDAT') chunks.push(png.subarray(o + 8, o + 8 + len));
    o += 12 + len;
  }
  const raw = inflateSync(Buffer.concat(chunks));
  const stride = width * channels;
  const pixels = Buffer.alloc(height * stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let x = 0; x < stride; x++) {
      const cur = raw[y * (stride + 1) + 1 + x];
      const a = x >= channels ? pixels[y * stride + x - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? pixels[(y - 1) * stride + x - channels] : 0;
      const p = a + b - c;
      const paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c) ? a : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
      const predictor = [0, a, b, (a + b) >> 1, paeth][filter];
      pixels[y * stride + x] = (cur + predictor) & 255;
    }
  }
  const key = (i) => (pixels[i] << 16) | (pixels[i + 1] << 8) | pixels[i + 2];
  const counts = new Map();
  for (let i = 0; i < pixels.length; i += channels) counts.set(key(i), (counts.get(key(i)) || 0) + 1);
  const palette = [...counts].sort((x, y) => y[1] - x[1]).slice(0, 256).map(([k]) => k);
  const index = new Map(palette.map((k, i) => [k, i]));
  const nearest = (k) => {
    let best = 0;
    let bestD = Infinity;
    palette.forEach((q, i) => {
      const d = ((k >> 16) - (q >> 16)) ** 2 + (((k >> 8) & 255) - ((q >> 8) & 255)) ** 2 + ((k & 255) - (q & 255)) ** 2;
      if (d < bestD) { bestD = d; best = i; }
    });
    index.set(k, best);
    return best;
  };
  const out = Buffer.alloc(height * (width + 1));
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const k = key(y * stride + x * channels);
      out[y * (width + 1) + 1 + x] = index.has(k) ? index.get(k) : nearest(k);
    }
  }
  const chunk = (type, data) => {
    const head = Buffer.alloc(8);
    head.writeUInt32BE(data.length, 0);
    head.write(type, 4, 'latin1');
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
    return Buffer.concat([head, data, crc]);
  };
  const ihdr = Buffer.alloc(13);
  ihdr.writeUInt32BE(width, 0);
  ihdr.writeUInt32BE(height, 4);
  ihdr[8] = 8;
  ihdr[9] = 3;
  const plte = Buffer.from(palette.flatMap((k) => [k >> 16, (k >> 8) & 255, k & 255]));
  return Buffer.concat([png.subarray(0, 8), chunk('IHDR', ihdr), chunk('PLTE', plte),
    chunk('IDAT', deflateSync(out, { level: 9 })), chunk('IEND', Buffer.alloc(0))]);
}

function crc32(bytes) {
  let c = ~0;
  for (const b of bytes) {
    c ^= b;
    for (let k = 0; k < 8; k++) c = (c >>> 1) ^ (0xedb88320 & -(c & 1));
  }
  return ~c >>> 0;
}

// The archives to time: the one given, or the two generated weeks.
function archives() {
  if (opt.archive) return [['archive', opt.archive]];
  const anomalies = ['oom', 'load', 'outage', 'heat', 'neterrors', 'fragmentation'].flatMap((a) => ['--anomaly', a]);
  const make = (dir, extra) => JSON.parse(execFileSync('/usr/bin/python3',
    [join(repo, 'tests/support/gen_session.py'), join(work, dir), '--days', opt.days, '--zip', '--seed', '5', ...extra], { encoding: 'utf8' }));
  const real = make('real', anomalies);
  const small = make('small', ['--no-top']);
  console.log(`sessions: ${real.rounds} rounds over ${opt.days} days`);
  return [['realistic week', real.archive], ['small week (no top snapshots)', small.archive]];
}

// A browser of its own for each run: a renderer that opened a session
// before would carry that session's memory into the figure.
function launch(profile) {
  return chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--enable-precise-memory-info'],
  });
}

async function timeArchive(label, archive) {
  console.log(`${label}: archive ${(statSync(archive).size / MiB).toFixed(1)} MiB`);
  const times = [];
  const cpus = [];
  const resident = [];
  for (let run = 0; run < Number(opt.runs); run++) {
    const profile = join(work, `profile-${label.length}-${run}`);
    const browser = await launch(profile);
    const page = await browser.newPage();
    await page.setViewportSize({ width: 1280, height: 900 });
    await page.goto(`file://${join(build, 'html', 'viewer.html')}`);
    // The clock starts in the page when the file is chosen and stops once
    // the frame after "ready" (every chart drawn, findings listed) is painted,
    // both read in the page: waiting for "ready" from here would add the
    // round trips to the browser to the figure.
    await page.evaluate(() => {
      document.getElementById('zip-input').addEventListener('change', () => { window.benchStart = performance.now(); }, { capture: true });
      new MutationObserver((_, observer) => {
        if (document.body.dataset.state !== 'ready') return;
        observer.disconnect();
        requestAnimationFrame(() => requestAnimationFrame(() => { window.benchEnd = performance.now(); }));
      }).observe(document.body, { attributes: true, attributeFilter: ['data-state'] });
    });
    await settle(page, profile);
    const empty = tabResident(profile);
    const cpuBefore = rendererCpu(profile);
    await page.setInputFiles('#zip-input', archive);
    await page.waitForFunction(() => window.benchEnd !== undefined, null, { timeout: 120000 });
    const ms = await page.evaluate(() => window.benchEnd - window.benchStart);
    const cpu = rendererCpu(profile) - cpuBefore;
    const cdp = await page.context().newCDPSession(page);
    await cdp.send('Performance.enable');
    const metrics = Object.fromEntries((await cdp.send('Performance.getMetrics')).metrics.map((m) => [m.name, m.value]));
    const shown = await page.evaluate(() => ({
      charts: document.querySelectorAll('figure.chart').length,
      findings: document.querySelectorAll('#findings-list li').length,
    }));
    times.push(ms);
    cpus.push(cpu);
    const tab = tabResident(profile);
    resident.push(tab.rss);
    console.log(`  run ${run + 1}: ${ms.toFixed(0)} ms (${cpu.toFixed(2)} s of browser CPU) to ${shown.charts} charts and ${shown.findings} findings; ` +
      `JS heap used ${(metrics.JSHeapUsedSize / MiB).toFixed(0)} MiB of ${(metrics.JSHeapTotalSize / MiB).toFixed(0)} MiB; ` +
      `tab resident ${(tab.rss / MiB).toFixed(0)} MiB, ${(tab.anon / MiB).toFixed(0)} MiB of it anonymous ` +
      `(${(empty.rss / MiB).toFixed(0)} MiB and ${(empty.anon / MiB).toFixed(0)} MiB with the page empty)`);
    if (opt.screenshot && run === 0 && label !== 'small week (no top snapshots)') await screenshot(page, opt.screenshot);
    const all = await scrollThrough(page, profile);
    console.log(`    every chart scrolled to and drawn: tab resident ${(all.rss / MiB).toFixed(0)} MiB, ` +
      `${(all.anon / MiB).toFixed(0)} MiB of it anonymous; after a full garbage collection ${(all.collected.rss / MiB).toFixed(0)} MiB, ` +
      `${(all.collected.anon / MiB).toFixed(0)} MiB anonymous`);
    await browser.close();
  }
  const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];
  console.log(`  median: ${median(times).toFixed(0)} ms, ${median(cpus).toFixed(2)} s of CPU, tab resident ${(median(resident) / MiB).toFixed(0)} MiB over ${times.length} runs`);
}

try {
  for (const [label, archive] of archives()) await timeArchive(label, archive);
} finally {
  rmSync(work, { recursive: true, force: true });
}

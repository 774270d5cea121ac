// Figures of the operator page on the emulated camera, in headless chromium:
// the page's weight (bytes of the files it loads from html/), how long a fresh
// load takes to first paint and to paint the camera's status, and the
// requests a minute one open tab makes while a session runs. Not a test.
//   node bench/operator_page.mjs [--runs N] [--minutes M] [--screenshot FILE] [--phone FILE]
// --screenshot keeps a picture of the page with a running session (the
// README's), --phone the same at 360 px width.
import { existsSync, readFileSync, statSync } from 'node:fs';
import { join } from 'node:path';
import { credentialsOf, entry, openBrowser, startCamera, BUILD_DIR } from '../tests/browser/operator_support.mjs';

// The files a load fetches: index.html and what it names.
function pageFiles() {
  const html = readFileSync(join(BUILD_DIR, 'html', 'index.html'), 'utf8');
  const named = [...html.matchAll(/(?:src|href)="([^":]+)"/g)].map((m) => m[1]);
  return ['index.html', ...named];
}

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at > 0 ? process.argv[at + 1] : fallback;
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

async function measureLoad(camera) {
  const browser = await openBrowser(camera, credentialsOf(camera));
  try {
    const { page } = browser;
    await page.goto(camera.url);
    await page.waitForFunction(() => document.getElementById('banner').dataset.state !== 'connecting',
      null, { polling: 'raf' });
    return await page.evaluate(() => ({
      firstPaint: performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? NaN,
      statusPaint: performance.now(),
    }));
  } finally {
    await browser.close();
  }
}

// Requests to the entry program, by action, from one open tab over `minutes`
// while a session runs.
async function requestsPerMinute(camera, minutes) {
  const browser = await openBrowser(camera, credentialsOf(camera));
  try {
    const { page } = browser;
    await entry(camera, 'action=begin&storage=localdata', { method: 'POST' });
    await page.goto(camera.url);
    await page.waitForFunction(() => document.getElementById('banner').dataset.state !== 'connecting');
    const counts = {};
    page.on('request', (request) => {
      const action = new URL(request.url()).searchParams.get('action');
      if (action) counts[action] = (counts[action] ?? 0) + 1;
    });
    await page.waitForTimeout(minutes * 60000);
    const total = Object.values(counts).reduce((a, b) => a + b, 0);
    console.log(`requests a minute while running  ${(total / minutes).toFixed(1)} (${Object.entries(counts)
      .map(([a, n]) => `${a} ${(n / minutes).toFixed(1)}`).join(', ')})`);
  } finally {
    await entry(camera, 'action=end', { method: 'POST' });
    await browser.close();
  }
}

async function pictures(camera, screenshot, phone) {
  const shots = [[screenshot, { width: 1000, height: 800 }], [phone, { width: 360, height: 740 }]];
  const browser = await openBrowser(camera, credentialsOf(camera));
  try {
    const { page } = browser;
    await page.goto(camera.url);
    // One stored session first, so that the list shows an archive.
    await page.getByRole('button', { name: 'Start session' }).click();
    await page.locator('#session-reply').filter({ hasText: 'Session started.' }).waitFor();
    await page.getByRole('button', { name: 'End session…' }).click();
    await page.locator('#end-confirm').click();
    await page.locator('#sessions-body a', { hasText: 'Download' }).waitFor({ timeout: 30000 });
    await page.waitForTimeout(2000);
    await page.getByRole('button', { name: 'Start session' }).click();
    await page.locator('#session-reply').filter({ hasText: 'Session started.' }).waitFor();
    await page.getByLabel('Every').fill('60');
    await page.getByRole('button', { name: 'Set interval' }).click();
    await page.locator('#ptz-reply').filter({ hasText: 'has been set' }).waitFor();
    await page.waitForTimeout(7000);
    for (const [path, viewport] of shots) {
      if (!path) continue;
      await page.setViewportSize(viewport);
      await page.screenshot({ path, fullPage: true });
      console.log(`screenshot ${path}: ${statSync(path).size} bytes at ${viewport.width} px`);
    }
  } finally {
    await browser.close();
  }
}

async function main() {
  const runs = Number(option('--runs', '5'));
  let weight = 0;
  for (const name of pageFiles()) {
    const path = join(BUILD_DIR, 'html', name);
    if (!existsSync(path)) continue;
    const bytes = readFileSync(path).length;
    weight += bytes;
    console.log(`${name.padEnd(22)} ${String(bytes).padStart(7)} bytes`);
  }
  console.log(`${'page weight'.padEnd(22)} ${String(weight).padStart(7)} bytes`);

  const camera = await startCamera();
  try {
    const loads = [];
    for (let i = 0; i < runs; i += 1) loads.push(await measureLoad(camera));
    console.log(`first contentful paint  median ${median(loads.map((l) => l.firstPaint)).toFixed(0)} ms of ${runs} fresh loads`);
    console.log(`status painted          median ${median(loads.map((l) => l.statusPaint)).toFixed(0)} ms ` +
      `(min ${Math.min(...loads.map((l) => l.statusPaint)).toFixed(0)}, max ${Math.max(...loads.map((l) => l.statusPaint)).toFixed(0)})`);
    await requestsPerMinute(camera, Number(option('--minutes', '1')));
    const screenshot = option('--screenshot');
    const phone = option('--phone');
    if (screenshot || phone) await pictures(camera, screenshot, phone);
  } finally {
    await camera.stop();
  }
}

await main();

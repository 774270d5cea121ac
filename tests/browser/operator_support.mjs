// What the operator page's browser tests share: an emulated camera with its
// web front end (emulator/web.py --control) and Debian's chromium driven by
// playwright-core with a fresh profile.
import { spawn } from 'node:child_process';
import { mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import assert from 'node:assert/strict';
import { chromium } from 'playwright-core';

export const BUILD_DIR = process.env.TRELVIK_BUILD_DIR ?? join(process.cwd(), 'build');
const KEEP = process.env.TRELVIK_KEEP_CAMERA === '1';

export const CHROMIUM_ARGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

// Starts the camera; resolves to { url, user, password, root, serial, control(command, args), stop() }.
export async function startCamera() {
  const workdir = mkdtempSync(join(tmpdir(), 'trelvik-web-'));
  const child = spawn('/usr/bin/python3', ['-m', 'emulator.web', '--control', join(workdir, 'camera')], {
    cwd: process.cwd(),
    env: { ...process.env, TRELVIK_BUILD_DIR: BUILD_DIR, PYTHONDONTWRITEBYTECODE: '1' },
    stdio: ['pipe', 'pipe', 'inherit'],
  });
  const lines = createInterface({ input: child.stdout });
  const pending = [];
  const waiting = [];
  lines.on('line', (line) => (waiting.length ? waiting.shift()(line) : pending.push(line)));
  let ended = null;
  const exited = new Promise((resolve) =>
    child.once('exit', (code) => {
      ended = new Error(`the emulated camera ended (${code})`);
      for (const wake of waiting.splice(0)) wake(null);
      resolve(code);
    }),
  );
  const nextLine = async () => {
    if (pending.length) return pending.shift();
    if (ended) throw ended;
    const line = await new Promise((resolve) => waiting.push(resolve));
    if (line === null) throw ended;
    return line;
  };
  const camera = JSON.parse(await nextLine());
  camera.workdir = workdir;
  camera.control = async (command, args = {}) => {
    child.stdin.write(`${JSON.stringify({ command, ...args })}\n`);
    const reply = JSON.parse(await nextLine());
    if (!reply.ok) throw new Error(`camera control ${command}: ${reply.error}`);
    return reply.result;
  };
  camera.stop = async () => {
    child.stdin.end();
    await exited;
    if (KEEP) console.log(`emulated camera kept in ${workdir}`);
    // An archive being zipped in the background may still add files for a moment.
    else rmSync(workdir, { recursive: true, force: true, maxRetries: 10, retryDelay: 300 });
  };
  return camera;
}

// A fresh chromium profile; `credentials` as { username, password } or null.
export async function openBrowser(camera, credentials, options = {}) {
  const profile = mkdtempSync(join(tmpdir(), 'trelvik-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    args: CHROMIUM_ARGS,
    headless: true,
    acceptDownloads: true,
    httpCredentials: credentials ?? undefined,
    viewport: options.viewport ?? { width: 1000, height: 800 },
  });
  const page = context.pages()[0] ?? (await context.newPage());
  return {
    context,
    page,
    close: async () => {
      await context.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

export function credentialsOf(camera) {
  return { username: camera.user, password: camera.password };
}

// A request to the entry program from outside the browser.
export async function entry(camera, query, { method = 'GET', auth = true } = {}) {
  // A connection per request: one kept alive may be closed by the web server
  // while idle, just as the next request goes out on it.
  const headers = method === 'GET' ? { Connection: 'close' } : { Connection: 'close', 'X-Requested-With': 'trelvik' };
  if (auth) headers.Authorization = `Basic ${Buffer.from(`${camera.user}:${camera.password}`).toString('base64')}`;
  const response = await fetch(`${camera.url}cgi-bin/trelvik.cgi?${query}`, { method, headers });
  return { status: response.status, text: await response.text() };
}

// Waits until the locator's trimmed text is `expected` (a text or a pattern).
export async function assertText(locator, expected, timeout = 15000) {
  const matches = (text) => (expected instanceof RegExp ? expected.test(text) : text === expected);
  const deadline = Date.now() + timeout;
  let text = '';
  while (Date.now() < deadline) {
    text = ((await locator.first().textContent({ timeout })) ?? '').trim();
    if (matches(text)) return;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  assert.fail(`expected ${expected}, the page shows "${text}"`);
}

// With TRELVIK_SCREENSHOTS=<folder>, keeps a picture of the page there.
export async function shot(page, name) {
  const folder = process.env.TRELVIK_SCREENSHOTS;
  if (!folder) return;
  mkdirSync(folder, { recursive: true });
  await page.screenshot({ path: join(folder, `${name}.png`), fullPage: true });
}

// axe-core's violations of the page as it stands; the serious and critical
// ones are listed by rule and element, every violation counted by impact.
export async function accessibility(page) {
  if (!(await page.evaluate(() => Boolean(window.axe)))) {
    await page.addScriptTag({ path: join(process.cwd(), 'node_modules/axe-core/axe.min.js') });
  }
  const violations = await page.evaluate(async () =>
    (
      await window.axe.run(document, {
        resultTypes: ['violations'],
      })
    ).violations.map((v) => ({ id: v.id, impact: v.impact, targets: v.nodes.map((n) => n.target.join(' ')) })),
  );
  const severe = violations.filter((v) => v.impact === 'serious' || v.impact === 'critical');
  return { violations, severe: severe.map((v) => `${v.id} (${v.impact}): ${v.targets.join(', ')}`) };
}

// Checks a state of the page: no serious or critical axe-core violation, and
// keeps its screenshot. Returns the counts for the figures.
export async function checkState(page, name) {
  const { violations, severe } = await accessibility(page);
  assert.deepEqual(severe, [], `axe-core in the state "${name}"`);
  await shot(page, name);
  return violations;
}

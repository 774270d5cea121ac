// First contact, as the README tells a new user: `tools/web` from the
// repository's root, the page in a browser, a whole session from start to
// the downloaded archive, then Ctrl-C. Once more started in the background of
// a shell, where SIGINT arrives ignored, and stopped with it all the same.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { readFileSync, readdirSync, statSync } from 'node:fs';
import { join, relative, resolve } from 'node:path';
import { createInterface } from 'node:readline';
import { unzipSync } from 'fflate';
import { assertText, BUILD_DIR, openBrowser } from './operator_support.mjs';

const ROOT = process.cwd();
// tools/web builds and runs build/ whatever suite this is: the sanitizer and
// the aarch64 runs would only repeat the plain one.
const skip = resolve(BUILD_DIR) !== resolve(ROOT, 'build') && "tools/web runs build/: covered by the plain build's run";

// Starts `tools/web` (or a shell running it in the background) and resolves
// once it printed its address: { url, user, password, root, child, pid, exited }.
async function startToolsWeb(background) {
  const command = background ? ['bash', ['-c', 'tools/web & echo "pid $!"; wait']] : ['tools/web', []];
  const child = spawn(command[0], command[1], { cwd: ROOT, stdio: ['ignore', 'pipe', 'inherit'] });
  const exited = new Promise((resolve) => child.once('exit', (code, signal) => resolve({ code, signal })));
  const found = {};
  const lines = createInterface({ input: child.stdout });
  await new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('tools/web printed no address')), 300000);
    child.once('exit', () => reject(new Error('tools/web ended before it printed an address')));
    lines.on('line', (line) => {
      let m;
      if ((m = /^pid (\d+)$/.exec(line))) found.pid = Number(m[1]);
      if ((m = /^Trelvik on the emulated camera: (\S+)$/.exec(line))) found.url = m[1];
      if ((m = /^ {2}user (\S+), password (\S+)$/.exec(line))) [found.user, found.password] = [m[1], m[2]];
      if ((m = /^ {2}device root (.+)$/.exec(line))) found.root = m[1];
      if (/^Ctrl-C stops the camera\.$/.test(line)) {
        clearTimeout(timer);
        resolve();
      }
    });
  });
  return { ...found, child, pid: found.pid ?? child.pid, exited };
}

async function answers(url) {
  try {
    await fetch(url, { signal: AbortSignal.timeout(2000) });
    return true;
  } catch {
    return false;
  }
}

// Sends the signal, then waits for the end and for the web server to be gone.
async function stopWith(web, signal) {
  process.kill(web.pid, signal);
  const ended = await Promise.race([web.exited, new Promise((r) => setTimeout(() => r(null), 30000))]);
  assert.ok(ended, `tools/web did not end on ${signal}`);
  assert.equal(await answers(web.url), false, `the web server still answers after ${signal}`);
}

function filesUnder(folder) {
  const out = [];
  const walk = (dir) => {
    for (const name of readdirSync(dir)) {
      const path = join(dir, name);
      if (statSync(path).isDirectory()) walk(path);
      else out.push(relative(folder, path));
    }
  };
  walk(folder);
  return out.sort();
}

test('tools/web as the README says: a whole session, then SIGINT', { timeout: 600000, skip }, async () => {
  const web = await startToolsWeb(false);
  let browser;
  try {
    assert.ok(web.root.startsWith('/'), `the device root is absolute: ${web.root}`);
    browser = await openBrowser(web, { username: web.user, password: web.password });
    const { page } = browser;
    const banner = page.locator('#banner');
    await page.goto(web.url);
    await assertText(banner, 'No session is running');
    const sd = page.getByRole('radio', { name: /SD card \(SD_DISK\)/ });
    await sd.waitFor();
    assert.equal(await sd.isChecked(), true, 'the usable SD card is the first choice');

    await page.getByRole('button', { name: 'Start session' }).click();
    await assertText(page.locator('#session-reply'), 'Session started.');
    await assertText(banner, /^Session running since \d{4}-\d\d-\d\d \d\d:\d\d:\d\d on SD card \(SD_DISK\)$/);
    await assertText(page.locator('#fact-last'), 'none yet');
    await assertText(page.locator('#fact-next'), /^\d\d:\d\d:\d\d$/);
    assert.match(await page.locator('#device-zone').textContent(), /\S/, 'the camera names its zone');
    await assertText(page.locator('tr[data-state="running"] td').nth(1), 'running');

    await page.getByRole('button', { name: 'End session…' }).click();
    await page.locator('#end-confirm').click();
    await assertText(page.locator('#session-reply'), 'Session deactivated.');
    const row = page.locator('#sessions-body tr').first();
    await row.locator('a', { hasText: 'Download' }).waitFor({ timeout: 60000 });
    await assertText(banner, 'No session is running');
    await assertText(row.locator('td').nth(2), /^\d+ (s|min \d\d s)$/);

    const name = await row.getAttribute('data-session');
    const [download] = await Promise.all([
      page.waitForEvent('download'),
      row.getByRole('link', { name: /Download/ }).click(),
    ]);
    assert.equal(download.suggestedFilename(), `${name}.zip`);
    const saved = join(web.root, '..', 'downloaded.zip');
    await download.saveAs(saved);
    const entries = Object.keys(unzipSync(new Uint8Array(readFileSync(saved))));
    const folder = join(web.root, 'var/spool/storage/SD_DISK/Trelvik_ACCC8E000001', name);
    const expected = filesUnder(folder).map((f) => `${name}/${f}`);
    assert.ok(expected.includes(`${name}/Session_Information.txt`));
    assert.deepEqual(
      entries.filter((e) => !e.endsWith('/')).sort(),
      expected,
      'the archive holds exactly the session folder',
    );
  } finally {
    await browser?.close();
    await stopWith(web, 'SIGINT');
  }
});

test(
  'tools/web in the background of a shell stops on SIGINT, and in the foreground on SIGTERM',
  { timeout: 600000, skip },
  async () => {
    const background = await startToolsWeb(true);
    await stopWith(background, 'SIGINT');
    const foreground = await startToolsWeb(false);
    await stopWith(foreground, 'SIGTERM');
  },
);

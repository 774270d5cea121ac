// What an operator does, in a real browser on the emulated camera: open the
// page, start a session on the SD card, watch it run, set and stop a PTZ
// interval, end the session, wait for its archive and download it.
// TRELVIK_SCREENSHOTS=<folder> keeps a screenshot of each step there.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync, readdirSync, statSync } from 'node:fs';
import { join, relative } from 'node:path';
import { unzipSync } from 'fflate';
import { assertText, credentialsOf, openBrowser, shot, startCamera } from './operator_support.mjs';

let camera;
let browser;

before(async () => {
  camera = await startCamera();
  browser = await openBrowser(camera, credentialsOf(camera));
});

after(async () => {
  await browser?.close();
  await camera?.stop();
});

// "1 min 05 s" and the like back to seconds.
function seconds(text) {
  let total = 0;
  for (const [, n, unit] of text.matchAll(/(\d+) (d|h|min|s)\b/g)) {
    total += Number(n) * { d: 86400, h: 3600, min: 60, s: 1 }[unit];
  }
  return total;
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

test('an operator runs a whole session from the page', { timeout: 60000 }, async () => {
  const { page } = browser;
  const banner = page.locator('#banner');

  await page.goto(camera.url);
  await assertText(banner, 'No session is running');
  await page.locator('#sessions-empty').waitFor({ state: 'visible' });
  const sd = page.getByRole('radio', { name: /SD card \(SD_DISK\)/ });
  await sd.waitFor();
  assert.equal(await sd.isChecked(), true, 'the usable SD card is the first choice');
  await shot(page, '1-no-session');

  await page.getByRole('button', { name: 'Start session' }).click();
  await assertText(page.locator('#session-reply'), 'Session started.');
  await assertText(banner, /^Session running since .* on SD card \(SD_DISK\)$/);
  const duration = page.locator('#fact-duration');
  await duration.waitFor({ state: 'visible' });
  const first = seconds(await duration.textContent());
  await page.waitForFunction((before) => {
    const text = document.getElementById('fact-duration').textContent;
    let total = 0;
    for (const [, n, unit] of text.matchAll(/(\d+) (d|h|min|s)\b/g)) total += Number(n) * { d: 86400, h: 3600, min: 60, s: 1 }[unit];
    return total > before;
  }, first, { timeout: 15000 });
  assert.equal(await page.locator('#fact-points').textContent(), '0');
  await assertText(page.locator('tr[data-state="running"] td').nth(1), 'running');

  await page.getByLabel('Every').fill('5');
  await page.getByRole('button', { name: 'Set interval' }).click();
  await assertText(page.locator('#ptz-reply'), 'Automatic PTZ test has been set.');
  await assertText(page.locator('#ptz-current'), 'Every 5 minutes');
  await shot(page, '2-session-running');
  await page.getByRole('button', { name: 'Stop PTZ test' }).click();
  await assertText(page.locator('#ptz-reply'), 'Automatic PTZ test has been stopped.');
  await assertText(page.locator('#ptz-current'), 'Off');
  await page.getByLabel('At the times').fill('08:00, 20:30');
  await page.getByRole('button', { name: 'Set times' }).click();
  await assertText(page.locator('#ptz-reply'), 'PTZ test rule has been set.');
  await assertText(page.locator('#ptz-current'), 'At 08:00, 20:30 every day');
  await page.getByRole('button', { name: 'Stop PTZ test' }).click();
  await assertText(page.locator('#ptz-reply'), 'PTZ test rule at given times has been stopped.');
  await assertText(page.locator('#ptz-current'), 'Off');

  await page.getByRole('button', { name: 'End session…' }).click();
  await page.getByRole('dialog').waitFor();
  await shot(page, '3-end-confirmation');
  await page.locator('#end-confirm').click();
  await assertText(page.locator('#session-reply'), 'Session deactivated.');
  const row = page.locator('#sessions-body tr').first();
  await row.locator('a', { hasText: 'Download' }).waitFor({ timeout: 30000 });
  await assertText(banner, 'No session is running');
  await shot(page, '4-archive-stored');

  const name = await row.getAttribute('data-session');
  const viewHref = await row.getByRole('link', { name: 'View' }).getAttribute('href');
  assert.equal(viewHref, `viewer.html?archive=${encodeURIComponent(`cgi-bin/trelvik.cgi?action=download&name=${name}`)}`);
  const [download] = await Promise.all([
    page.waitForEvent('download'),
    row.getByRole('link', { name: /Download/ }).click(),
  ]);
  assert.equal(download.suggestedFilename(), `${name}.zip`);
  const saved = join(camera.workdir, 'downloaded.zip');
  await download.saveAs(saved);
  const entries = Object.keys(unzipSync(new Uint8Array(readFileSync(saved))));
  const folder = join(camera.root, 'var/spool/storage/SD_DISK', `Trelvik_${camera.serial}`, name);
  const expected = filesUnder(folder).map((f) => `${name}/${f}`);
  assert.ok(expected.includes(`${name}/Session_Information.txt`));
  assert.deepEqual(entries.filter((e) => !e.endsWith('/')).sort(), expected,
    'the archive holds exactly the session folder');
});

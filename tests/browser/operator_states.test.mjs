// Each state of the operator page on one emulated camera, with axe-core over
// it and its screenshot kept when TRELVIK_SCREENSHOTS is set: idle, running
// with live charts, an overdue round, archiving, unreachable, signed out and
// errors; then the mistakes an operator met before (errors shown as
// success, stale data shown as live, a thin PTZ form) and the tail action's
// reply on a week-long session.
import { test, before, after, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { cpSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { assertText, checkState, credentialsOf, entry, openBrowser, startCamera } from './operator_support.mjs';

const SERIAL_FOLDER = 'Trelvik_ACCC8E000001';
let camera;
let browser;
const axeCounts = {};

before(async () => {
  camera = await startCamera();
  browser = await openBrowser(camera, credentialsOf(camera));
});

after(async () => {
  if (Object.keys(axeCounts).length) console.log(`axe-core violations by state: ${JSON.stringify(axeCounts)}`);
  await browser?.close();
  await camera?.stop();
});

// Every test leaves the camera as it found it: no session, its web server up.
afterEach(async () => {
  await camera.control('start_web');
  await entry(camera, 'action=end', { method: 'POST' });
});

async function state(page, name) {
  const violations = await checkState(page, name);
  axeCounts[name] = violations.map((v) => `${v.id}:${v.impact}`);
}

const sdFolder = () => join(camera.root, 'var/spool/storage/SD_DISK', SERIAL_FOLDER);
const pad = (n) => String(n).padStart(2, '0');
// The camera's clock is this machine's local one, as its programs see it.
const stamp = (date) =>
  `${date.getFullYear()}-${pad(date.getMonth() + 1)}-${pad(date.getDate())},` +
  `${pad(date.getHours())}:${pad(date.getMinutes())}:${pad(date.getSeconds())}`;
const dateText = (date) =>
  date
    .toString()
    .replace(
      /^(\w+) (\w+) 0?(\d+) (\d+) (\d\d:\d\d:\d\d).*$/,
      (all, day, month, d, year, time) => `${day} ${month} ${d.padStart(2, ' ')} ${time} UTC ${year}`,
    );

// A stored session (with its archive) or one being zipped (without), as the
// end of a session leaves them.
function storedSession(name, start, end, zip) {
  const folder = join(sdFolder(), name);
  mkdirSync(folder, { recursive: true });
  writeFileSync(join(folder, '.signature'), `Start: ${dateText(start)}\nEnd: ${dateText(end)}\n`);
  writeFileSync(join(folder, 'Session_Information.txt'), 'Collected Data Points: 30\nSession Size: 296 KiB\n');
  if (zip) writeFileSync(`${folder}.zip`, Buffer.alloc(150000));
  return folder;
}

function runningFolder() {
  const names = readdirSync(sdFolder())
    .filter((n) => /^\d{8}_\d\d_\d\d_\d\d$/.test(n))
    .sort();
  return join(sdFolder(), names[names.length - 1]);
}

// Rounds of the live series every two minutes, the last `lastAgo` seconds ago.
function writeRounds(folder, rounds, lastAgo) {
  const files = {
    'monitoring_load/load.csv': [
      'Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)\r\n',
      (i) => `${(0.4 + (i % 5) / 10).toFixed(2)},0.40,0.30\r\n`,
    ],
    'monitoring_meminfo/MemFree.csv': ['Date,Time,Memory MemFree (kB)\r\n', (i) => `${300000 - i * 900}\r\n`],
    'monitoring_environment/CPU.csv': ['Date, Time, Temperature (Celsius)\n', (i) => `${(46 + (i % 3)).toFixed(1)}\n`],
    'monitoring_environment/Housing.csv': [
      'Date, Time, Temperature (Celsius)\n',
      (i) => `${(34 + (i % 2)).toFixed(1)}\n`,
    ],
    'monitoring_environment/Fan_0.csv': ['Date, Time, Fan status\n', () => 'running\n'],
    'monitoring_network/eth0.csv': [
      'Date, Time, Receive: bytes\n',
      (i) => `${i * 1500000},0,0,0,0,0,0,${i * 1000},${i * 4800000},0,0,0,0,0,0,${i * 3000},0,0\n`,
    ],
  };
  const now = Date.now();
  for (const [rel, [header, row]] of Object.entries(files)) {
    let text = header;
    for (let i = 0; i < rounds; i += 1) {
      text += `${stamp(new Date(now - (lastAgo + (rounds - 1 - i) * 120) * 1000))},${row(i)}`;
    }
    mkdirSync(join(folder, 'system_monitoring', rel, '..'), { recursive: true });
    writeFileSync(join(folder, 'system_monitoring', rel), text);
  }
  const info = join(folder, 'Session_Information.txt');
  writeFileSync(
    info,
    readFileSync(info, 'utf8').replace(/Collected Data Points: \d+/, `Collected Data Points: ${rounds}`),
  );
}

async function openPage(expected = 'No session is running') {
  const { page } = browser;
  await page.goto(camera.url);
  await assertText(page.locator('#banner'), expected);
  return page;
}

function replyLines(page, id) {
  return page.locator(`#${id} span`).allTextContents();
}

test('the states of the page, each checked by axe-core', { timeout: 240000 }, async () => {
  const stored = storedSession('20261201_10_00_00', new Date(2026, 11, 1, 10), new Date(2026, 11, 1, 12, 30), true);
  try {
    await statesOfASession();
  } finally {
    rmSync(stored, { recursive: true, force: true });
    rmSync(`${stored}.zip`, { force: true });
  }
});

async function statesOfASession() {
  const dayAgo = new Date(Date.now() - 86400000);
  let page = await openPage();
  const row = page.locator(`tr[data-session="20261201_10_00_00"] td`);
  await assertText(row.nth(0), '2026-12-01 10:00:00');
  await assertText(row.nth(1), '2026-12-01 12:30:00');
  await assertText(row.nth(2), '2 h 30 min');
  assert.equal(await page.request.get(`${camera.url}favicon.svg`).then((r) => r.status()), 200);
  await state(page, 'idle');

  // Running, with an hour of rounds: the live dot, the sample times and the charts.
  assert.equal((await entry(camera, 'action=begin&storage=SD_DISK', { method: 'POST' })).text, 'Session started.');
  const folder = runningFolder();
  writeRounds(folder, 30, 20);
  page = await openPage(/^Session running since .* on SD card \(SD_DISK\)$/);
  await page.locator('#chart-load canvas').waitFor();
  assert.equal(await page.locator('#charts canvas').count(), 4, 'four live charts');
  assert.equal(await page.locator('#live-dot').getAttribute('data-state'), 'live');
  await assertText(page.locator('#fact-points'), '30');
  const lastSample = stamp(new Date(Date.now() - 20000)).replace(',', ' ');
  await assertText(page.locator('#fact-last'), new RegExp(`^${lastSample.slice(0, 11)}\\d\\d:\\d\\d:\\d\\d$`));
  await assertText(page.locator('#fact-size'), /\d+ (KiB|MiB|B)$/);
  await assertText(page.locator('#memory-caption'), 'Free memory (MiB)');
  assert.match(await page.locator('#chart-temperatures').textContent(), /CPU.*Housing/s, 'both sensors, not the fan');
  await state(page, 'running');

  // One round overdue: amber; several: red, and the banner says why.
  writeRounds(folder, 30, 200);
  page = await openPage(/^Session running since .*\(a round is overdue\)$/);
  assert.equal(await page.locator('#live-dot').getAttribute('data-state'), 'late');
  await assertText(page.locator('#fact-next'), /\(overdue\)$/);
  await state(page, 'overdue-round');
  writeRounds(folder, 30, 600);
  page = await openPage(/several rounds overdue/);
  assert.equal(await page.locator('#live-dot').getAttribute('data-state'), 'stalled');

  // Archiving: an ended session without its archive yet.
  assert.equal((await entry(camera, 'action=end', { method: 'POST' })).text, 'Session deactivated.');
  const zipping = storedSession('20261202_10_00_00', dayAgo, new Date(), false);
  page = await openPage(/^Archiving the session started .*…$|^No session is running$/);
  await assertText(page.locator('#banner'), /^Archiving the session started \d{4}-\d\d-\d\d \d\d:\d\d:\d\d…$/);
  await state(page, 'archiving');
  rmSync(zipping, { recursive: true });
}

test(
  'a camera that stops answering: stale facts greyed, actions disabled, Retry now',
  { timeout: 120000 },
  async () => {
    const page = await openPage();
    await page.getByRole('radio', { name: /SD card/ }).waitFor();
    await camera.control('stop_web');
    try {
      await assertText(page.locator('#banner'), /^Camera not reachable \(last answer at \d\d:\d\d:\d\d\); retrying…$/);
      await assertText(
        page.locator('#stale-note'),
        /^What is shown is as of \d\d:\d\d:\d\d: actions are disabled because the camera does not answer\.$/,
      );
      assert.equal(await page.getByRole('button', { name: 'Start session' }).isDisabled(), true);
      assert.equal(await page.getByRole('button', { name: 'Set interval' }).isDisabled(), true);
      assert.equal(await page.locator('main').evaluate((m) => m.classList.contains('stale')), true);
      await state(page, 'unreachable');
      // The operator's clicks look at once and never lengthen the page's own wait.
      for (let i = 0; i < 4; i += 1) await page.getByRole('button', { name: 'Retry now' }).click();
      await page.waitForTimeout(300);
    } finally {
      await camera.control('start_web');
    }
    // One or two missed looks of its own wait 10 or 20 seconds; the four clicks,
    // had they counted, would have made it a minute.
    await assertText(page.locator('#banner'), 'No session is running', 25000);
    assert.equal(await page.getByRole('button', { name: 'Set interval' }).isDisabled(), false);
    assert.equal(await page.locator('#stale-note').isHidden(), true);
  },
);

test('signed out: the reason, disabled actions and Sign in again', { timeout: 60000 }, async () => {
  const other = await openBrowser(camera, { username: camera.user, password: 'wrong' });
  try {
    const { page } = other;
    await page.goto(camera.url);
    await assertText(page.locator('#banner'), /^Not signed in to the camera/);
    assert.equal(await page.getByRole('button', { name: 'Set interval' }).isDisabled(), true);
    await assertText(page.locator('#stale-note'), /because you are not signed in\.$/);
    await state(page, 'signed-out');
    await other.context.setHTTPCredentials(credentialsOf(camera));
    await page.getByRole('button', { name: 'Sign in again' }).click();
    await assertText(page.locator('#banner'), 'No session is running');
    await page.getByRole('button', { name: 'Sign in again' }).waitFor({ state: 'hidden' });
  } finally {
    await other.close();
  }
});

test('errors look like errors, whatever their status, and replies do not linger', { timeout: 90000 }, async () => {
  let page = await openPage();
  // A 500 shows its status and its first line, distinct from "not reachable".
  await camera.control('remove_device_config');
  try {
    await assertText(
      page.locator('#banner'),
      /^The camera answered 500: Error: The device configuration could not be read\.( \(last answer at \d\d:\d\d:\d\d\))?; retrying…$/,
      20000,
    );
  } finally {
    await camera.control('set_device_config', { facts: {} });
  }
  await page.getByRole('button', { name: 'Retry now' }).click();
  await assertText(page.locator('#banner'), 'No session is running');

  // The end from a tab that missed it: a 200 refusal, shown as an error.
  const clock = browser.context.clock;
  await clock.install();
  page = await openPage();
  await entry(camera, 'action=begin&storage=localdata', { method: 'POST' });
  await page.reload();
  await assertText(page.locator('#banner'), /^Session running since/);
  await clock.pauseAt(Date.now() + 1000);
  try {
    await entry(camera, 'action=end', { method: 'POST' });
    await page.getByRole('button', { name: 'End session…' }).click();
    await page.locator('#end-confirm').click();
    await assertText(
      page.locator('#session-reply.error span'),
      'No monitor session is activated, can not deactivate anything.',
    );
  } finally {
    await clock.resume();
  }

  // A success, then a refused value: the green text goes, the error says what was wrong.
  await page.getByLabel('At the times').fill('08:00, 20:30');
  await page.getByRole('button', { name: 'Set times' }).click();
  await assertText(page.locator('#ptz-reply.ok'), 'PTZ test rule has been set.');
  await page.getByLabel('Every').fill('abc');
  await page.getByRole('button', { name: 'Set interval' }).click();
  await assertText(page.locator('#ptz-reply.error span'), '"abc" is not a whole number of minutes.');
  assert.equal(await page.getByLabel('Every').getAttribute('aria-invalid'), 'true');
  assert.equal(await page.locator('#ptz-reply.ok').count(), 0);
  await state(page, 'errors');

  await page.getByLabel('At the times').fill('08:00, 08:00');
  await page.getByRole('button', { name: 'Set times' }).click();
  await assertText(page.locator('#ptz-reply.error span'), '08:00 is given twice.');
  await page.getByLabel('Every').fill('2');
  await page.getByRole('button', { name: 'Set interval' }).click();
  await assertText(page.locator('#ptz-reply.error span'), 'The interval must be at least 3 minutes.');

  // Over a week asks first; "Change it" sends nothing.
  await page.getByLabel('Every').fill('99999');
  await page.getByRole('button', { name: 'Set interval' }).click();
  await page.locator('#interval-dialog').waitFor();
  await page.getByRole('button', { name: 'Change it' }).click();
  await assertText(page.locator('#ptz-current'), 'At 08:00, 20:30 every day');
  await assertText(
    page.locator('#ptz-schedule'),
    /^Last due \d{4}-\d\d-\d\d (08:00|20:30):00; next \d{4}-\d\d-\d\d (08:00|20:30):00\.$/,
  );
  await page.getByRole('button', { name: 'Set interval' }).click();
  await page.locator('#interval-confirm').click();
  await assertText(page.locator('#ptz-reply.ok'), 'Automatic PTZ test has been set.');
  await assertText(page.locator('#ptz-current'), /^Every 99999 minutes/);

  // The stop reply's two sentences on two lines; an empty list clears the given times alone.
  await page.getByRole('button', { name: 'Stop PTZ test' }).click();
  await assertText(page.locator('#ptz-reply.ok'), /stopped/);
  assert.deepEqual(await replyLines(page, 'ptz-reply'), [
    'Automatic PTZ test has been stopped.',
    'PTZ test rule at given times has been stopped.',
  ]);
  await page.getByLabel('At the times').fill('09:15');
  await page.getByRole('button', { name: 'Set times' }).click();
  await assertText(page.locator('#ptz-current'), 'At 09:15 every day');
  await page.getByLabel('At the times').fill('');
  await page.getByRole('button', { name: 'Set times' }).click();
  await assertText(page.locator('#ptz-current'), 'Off');
});

test('a phone: 44 px targets, borders of 3:1, and no polling in a hidden tab', { timeout: 60000 }, async () => {
  const page = await openPage();
  await page.setViewportSize({ width: 360, height: 740 });
  const small = await page.evaluate(() =>
    [...document.querySelectorAll('main button, main input[type="text"]')]
      .filter((e) => e.offsetParent !== null && e.getBoundingClientRect().height < 44)
      .map((e) => e.outerHTML.slice(0, 60)),
  );
  assert.deepEqual(small, []);
  const contrast = await page.evaluate(() => {
    const lum = (rgb) => {
      const [r, g, b] = rgb
        .match(/\d+/g)
        .slice(0, 3)
        .map((v) => {
          const c = Number(v) / 255;
          return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
        });
      return 0.2126 * r + 0.7152 * g + 0.0722 * b;
    };
    const input = getComputedStyle(document.getElementById('ptz-minutes')).borderTopColor;
    return (1 + 0.05) / (lum(input) + 0.05);
  });
  assert.ok(contrast >= 3, `border contrast ${contrast.toFixed(2)}:1`);
  await page.setViewportSize({ width: 1000, height: 800 });

  let requests = 0;
  page.on('request', (r) => {
    if (r.url().includes('trelvik.cgi')) requests += 1;
  });
  await page.evaluate(() => {
    Object.defineProperty(document, 'hidden', { configurable: true, get: () => true });
    document.dispatchEvent(new Event('visibilitychange'));
  });
  await page.waitForTimeout(7000);
  assert.equal(requests, 0, 'no request while hidden');
  await page.evaluate(() => {
    Object.defineProperty(document, 'hidden', { configurable: true, get: () => false });
    document.dispatchEvent(new Event('visibilitychange'));
  });
  await page.waitForTimeout(1000);
  assert.ok(requests >= 1, 'a look at once when shown again');
});

test('the tail action on a week-long session answers only the last hour', { timeout: 180000 }, async () => {
  assert.equal((await entry(camera, 'action=begin&storage=SD_DISK', { method: 'POST' })).text, 'Session started.');
  const folder = runningFolder();
  const out = mkdtempSync(join(tmpdir(), 'trelvik-week-'));
  try {
    const manifest = JSON.parse(
      execFileSync('/usr/bin/python3', ['tests/support/gen_session.py', out, '--days', '7', '--no-top'], {
        encoding: 'utf8',
      }),
    );
    cpSync(join(manifest.folder, 'system_monitoring'), join(folder, 'system_monitoring'), {
      recursive: true,
      force: true,
    });
    const started = performance.now();
    const reply = await entry(camera, 'action=tail');
    const elapsed = performance.now() - started;
    console.log(`tail action on a week (${manifest.rounds} rounds): ${elapsed.toFixed(0)} ms through the web server`);
    assert.equal(reply.status, 200);
    const tail = JSON.parse(reply.text);
    assert.equal(tail.session, true);
    assert.match(tail.clock.offset, /^[+-]\d{4}$/);
    assert.ok(tail.clock.zone.length > 0);
    const last = manifest.start + (manifest.rounds - 1) * 120;
    // The generator writes its times as UTC fields: the camera-local seconds are the same number.
    assert.equal(tail.last_sample, last);
    assert.equal(tail.memory.name, 'MemAvailable');
    for (const points of [tail.load, tail.memory.points, ...Object.values(tail.temperatures)]) {
      assert.equal(points.length, 31, 'an hour of two-minute rounds');
      assert.ok(points.every(([t]) => t >= tail.last_sample - 3600));
    }
    assert.deepEqual(Object.keys(tail.temperatures), ['CPU', 'Housing']);
    assert.ok(!('lo' in tail.network) && 'eth0' in tail.network);
    assert.ok(tail.network.eth0.every(([, rx, tx]) => rx > 0 && tx > 0));
    assert.ok(reply.text.length < 16000, `a small reply: ${reply.text.length} bytes`);
  } finally {
    rmSync(out, { recursive: true, force: true });
    // The week goes before the end, which would zip it in the background for a while.
    rmSync(join(folder, 'system_monitoring'), { recursive: true, force: true });
    await entry(camera, 'action=end', { method: 'POST' });
  }
});

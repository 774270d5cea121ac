// What the operator sees when things go wrong: a second start while a session
// runs, a storage that filled up or went away, a bad API password in the
// package's configuration, and a browser without the camera's credentials.
import { test, before, after, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import { join } from 'node:path';
import { assertText, credentialsOf, entry, openBrowser, shot, startCamera } from './operator_support.mjs';

const NOT_VALID =
  'Error: The given storage destination was not valid and the ZEDA failed to create a new monitor session.';
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

// Every test leaves the camera as it found it: no session, the SD card usable.
afterEach(async () => {
  await entry(camera, 'action=end', { method: 'POST' });
  await camera.control('set_storages', { storages: [{ disk_id: 'SD_DISK' }] });
  await camera.control('set_df_percent', { percent: 42 });
  await camera.control('set_api_password_file', { password: 'pass' });
});

async function openPage(beforeLoad) {
  const { page } = browser;
  await beforeLoad?.();
  await page.goto(camera.url);
  await assertText(page.locator('#banner'), 'No session is running');
  await page.getByRole('radio', { name: /SD card/ }).waitFor();
  return page;
}

function errorReply(page) {
  return page.locator('#session-reply.error span');
}

test('a start from a page that has not seen the running session is refused', async () => {
  const clock = browser.context.clock;
  const page = await openPage(() => clock.install());
  // The page stops polling, as a tab left open while someone else started a session.
  await clock.pauseAt(Date.now() + 1000);
  try {
    assert.equal((await entry(camera, 'action=begin&storage=localdata', { method: 'POST' })).text, 'Session started.');
    await page.getByRole('button', { name: 'Start session' }).click();
    await assertText(errorReply(page), 'Can not start new activity while another is running.');
    // After the refusal the page looks again and shows the running session.
    await assertText(page.locator('#banner'), /^Session running since .* on Internal storage$/);
    await page.locator('#session-reply .dismiss').click();
    assert.equal(await page.locator('#session-reply').textContent(), '');
  } finally {
    await clock.resume();
  }
});

test('a storage that filled up or went away is refused, then shown with its state', async () => {
  let page = await openPage();
  await camera.control('set_storages', { storages: [{ disk_id: 'SD_DISK', full: true }] });
  await page.getByRole('button', { name: 'Start session' }).click();
  await assertText(errorReply(page), NOT_VALID);
  await shot(page, 'error-storage-full');
  await assertText(page.locator('.choice.full .badge'), 'full');
  assert.equal(await page.getByRole('radio', { name: /SD card/ }).isDisabled(), true);
  assert.equal(await page.getByRole('radio', { name: /Internal storage/ }).isChecked(), true);

  await camera.control('set_storages', { storages: [{ disk_id: 'SD_DISK', available: false }] });
  await page.reload();
  await assertText(page.locator('.choice.missing .badge'), 'missing');
  assert.equal(await page.getByRole('radio', { name: /SD card/ }).isDisabled(), true);

  // A partition 90 % used: the activation's own disk-space refusal.
  await camera.control('set_storages', { storages: [{ disk_id: 'SD_DISK' }] });
  page = await openPage();
  await camera.control('set_df_percent', { percent: 95 });
  await page.getByRole('button', { name: 'Start session' }).click();
  await assertText(errorReply(page), 'Error: Could not start monitoring session.');
  await assertText(page.locator('.choice.full .badge'), 'full');
  assert.equal(await page.locator('.choice.usable').count(), 0);
  assert.equal(await camera.control('session_active'), false);
});

test('a wrong API password in the configuration: the action answers as it does', async () => {
  await camera.control('set_api_password_file', { password: 'wrong' });
  const page = await openPage();
  await page.getByRole('radio', { name: /Internal storage/ }).check();
  await page.getByRole('button', { name: 'Start session' }).click();
  // The session starts; only its server report could not be had.
  await assertText(page.locator('#session-reply'), 'Session started.');
  const localdata = join(camera.root, 'usr/local/packages/Trelvik/localdata');
  const folder = readdirSync(localdata).find((name) => /^\d{8}_\d\d_\d\d_\d\d$/.test(name));
  const reports = join(localdata, folder, 'system_monitoring/monitoring_basic/Server_Reports');
  assert.ok(readdirSync(reports).length > 0);
  assert.doesNotMatch(
    readdirSync(reports)
      .map((f) => (f.endsWith('.txt') ? readFileSync(join(reports, f), 'utf8') : ''))
      .join(''),
    /Server report/,
  );
});

test('an unreadable API password file: nothing runs and the page says why', async () => {
  await camera.control('remove_api_password_file');
  const page = await openPage();
  await camera.control('clear_logs');
  await page.getByRole('button', { name: 'Start session' }).click();
  await assertText(errorReply(page), 'Error: The device API password could not be read.');
  assert.equal(await camera.control('session_active'), false);
  const logs = await camera.control('logs');
  assert.ok(!logs.includes('Reading nemor_password from stdin.'), 'begin_monitor_session did not run');
});

test('without the right credentials the web server answers 401 and runs nothing', async () => {
  await camera.control('clear_logs');
  for (const query of ['action=begin&storage=SD_DISK', 'action=ptz_interval&minutes=5', 'action=end']) {
    const reply = await entry(camera, query, { method: 'POST', auth: false });
    assert.equal(reply.status, 401, query);
  }
  const wrong = await fetch(`${camera.url}cgi-bin/trelvik.cgi?action=status`, {
    headers: { Authorization: `Basic ${Buffer.from(`${camera.user}:nope`).toString('base64')}` },
  });
  assert.equal(wrong.status, 401);
  assert.deepEqual(await camera.control('logs'), [], 'no program ran');
  assert.equal(await camera.control('session_active'), false);

  // The page itself, opened with a wrong password, says so instead of showing stale data.
  const anonymous = await openBrowser(camera, { username: camera.user, password: 'wrong' });
  try {
    await anonymous.page.goto(camera.url);
    await assertText(anonymous.page.locator('#banner'), /^Not signed in to the camera/);
  } finally {
    await anonymous.close();
  }
});

test('a camera that stops answering is said so, and the page recovers', async () => {
  const page = await openPage();
  await camera.control('stop_web');
  try {
    await assertText(page.locator('#banner'), /^Camera not reachable \(last answer at .*\); retrying…$/);
    await shot(page, 'error-unreachable');
  } finally {
    await camera.control('start_web');
  }
  // The page backs off while the camera is away, so it may take a few periods.
  await assertText(page.locator('#banner'), 'No session is running', 40000);
});

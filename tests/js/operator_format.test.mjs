// The operator page's pure helpers: how replies of the actions become what
// the page shows.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  describePtz, deviceTimeSeconds, formatDuration, nextPollDelay, normaliseTimes, parseInformation,
  sessionStartSeconds, storageOfPath, storedSessions, viewerUrl, zoneOf,
} from '../../html/operator_format.mjs';

test('duration from the folder name and the device time, across a day and a year', () => {
  const start = sessionStartSeconds('20261231_23_59_30');
  assert.equal(deviceTimeSeconds('00:01:05 2027-01-01') - start, 95);
  assert.equal(formatDuration(95), '1 min 35 s');
  assert.equal(formatDuration(0), '0 s');
  assert.equal(formatDuration(3600 + 120), '1 h 02 min');
  assert.equal(formatDuration(2 * 86400 + 4 * 3600 + 59), '2 d 04 h');
  assert.equal(formatDuration(-1), '');
  assert.equal(formatDuration(NaN), '');
  assert.equal(sessionStartSeconds('20261231_23_59_3'), null);
  assert.equal(deviceTimeSeconds(''), null);
  assert.equal(deviceTimeSeconds('2027-01-01 00:01:05'), null);
});

test('stored sessions newest first, with the running and the zipping one told apart', () => {
  const root = '/tmp/cam/root/var/spool/storage/SD_DISK/Trelvik_ACCC8E000001/';
  const status = {
    active: true,
    sessions: [
      { Path: `${root}20261201_10_00_00`, StartTime: 'a', EndTime: 'b', size: '1 MiB', sizeZip: '' },
      { Path: '/usr/local/packages/Trelvik/localdata/20261203_10_00_00', StartTime: 'c', EndTime: '', size: '', sizeZip: '' },
      { Path: `${root}20261130_10_00_00`, StartTime: 'd', EndTime: 'e', size: '2 MiB', sizeZip: '1 MiB' },
      { Path: `${root}20261202_10_00_00`, StartTime: 'f', EndTime: '', size: '', sizeZip: '' },
    ],
  };
  const rows = storedSessions(status);
  assert.deepEqual(rows.map((r) => [r.name, r.state, r.storage]), [
    ['20261203_10_00_00', 'running', 'localdata'],
    ['20261202_10_00_00', 'unfinished', 'SD_DISK'],
    ['20261201_10_00_00', 'archiving', 'SD_DISK'],
    ['20261130_10_00_00', 'stored', 'SD_DISK'],
  ]);
  assert.equal(storedSessions({ ...status, active: false })[0].state, 'unfinished');
  assert.deepEqual(storedSessions({}), []);
  assert.equal(storageOfPath('/var/spool/storage/NAS share/Trelvik_X/20261203_10_00_00'), 'NAS share');
});

test('PTZ settings, given times, replies and the viewer link', () => {
  assert.equal(describePtz({ ptz_test_interval: 0, ptz_test_given_times: '' }), 'Off');
  assert.equal(describePtz({ ptz_test_interval: 120, ptz_test_given_times: '' }), 'Every 120 minutes');
  assert.equal(describePtz({ ptz_test_interval: 0, ptz_test_given_times: '08:00,20:00' }), 'At 08:00, 20:00 every day');
  assert.match(describePtz({ ptz_test_interval: 5, ptz_test_given_times: '08:00' }), /^Every 5 minutes \(given times/);
  assert.equal(normaliseTimes(' 08:00, 20:30;23:59 '), '08:00,20:30,23:59');
  assert.equal(normaliseTimes('8:00'), null);
  assert.equal(normaliseTimes('24:00'), null);
  assert.equal(normaliseTimes('08:00,$(id)'), null);
  assert.deepEqual(parseInformation('Model Name: Q\r\nCollected Data Points: 7\r\nDuration: 0 days, 0 hours, 14 minutes\r\n'),
    { dataPoints: '7', duration: '0 days, 0 hours, 14 minutes' });
  assert.equal(zoneOf('Tue Dec  8 12:16:22 CET 2026'), 'CET');
  assert.equal(zoneOf(''), '');
  assert.equal(viewerUrl('20261203_10_00_00'),
    'viewer.html?archive=cgi-bin%2Ftrelvik.cgi%3Faction%3Ddownload%26name%3D20261203_10_00_00');
  assert.deepEqual([0, 1, 2, 5, 10].map((n) => nextPollDelay(n)), [3000, 6000, 12000, 60000, 60000]);
});

// The operator page's pure helpers: how replies of the actions become what
// the page shows.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const {
  alignSeries,
  checkInterval,
  checkTimes,
  describePtz,
  deviceTimeSeconds,
  firstLine,
  givenTimesAround,
  judgeReply,
  liveness,
  nextPollDelay,
  storageOfPath,
  storedSessions,
  viewerUrl,
  zoneLabel,
} = require('../../html/operator/format.js');
const {
  dateTextSeconds,
  formatClock,
  formatDateTime,
  formatDuration,
  sessionStartSeconds,
} = require('../../html/common.js');

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
      {
        Path: '/usr/local/packages/Trelvik/localdata/20261203_10_00_00',
        StartTime: 'c',
        EndTime: '',
        size: '',
        sizeZip: '',
      },
      { Path: `${root}20261130_10_00_00`, StartTime: 'd', EndTime: 'e', size: '2 MiB', sizeZip: '1 MiB' },
      { Path: `${root}20261202_10_00_00`, StartTime: 'f', EndTime: '', size: '', sizeZip: '' },
    ],
  };
  const rows = storedSessions(status);
  assert.deepEqual(
    rows.map((r) => [r.name, r.state, r.storage]),
    [
      ['20261203_10_00_00', 'running', 'localdata'],
      ['20261202_10_00_00', 'unfinished', 'SD_DISK'],
      ['20261201_10_00_00', 'archiving', 'SD_DISK'],
      ['20261130_10_00_00', 'stored', 'SD_DISK'],
    ],
  );
  assert.equal(storedSessions({ ...status, active: false })[0].state, 'unfinished');
  assert.deepEqual(storedSessions({}), []);
  assert.equal(storageOfPath('/var/spool/storage/NAS share/Trelvik_X/20261203_10_00_00'), 'NAS share');
});

test('PTZ settings, given times, replies and the viewer link', () => {
  assert.equal(describePtz({ ptz_test_interval: 0, ptz_test_given_times: '' }), 'Off');
  assert.equal(describePtz({ ptz_test_interval: 120, ptz_test_given_times: '' }), 'Every 120 minutes');
  assert.equal(describePtz({ ptz_test_interval: 0, ptz_test_given_times: '08:00,20:00' }), 'At 08:00, 20:00 every day');
  assert.match(describePtz({ ptz_test_interval: 5, ptz_test_given_times: '08:00' }), /^Every 5 minutes \(given times/);
  assert.equal(
    viewerUrl('20261203_10_00_00'),
    'viewer.html?archive=cgi-bin%2Ftrelvik.cgi%3Faction%3Ddownload%26name%3D20261203_10_00_00',
  );
  assert.deepEqual(
    [0, 1, 2, 4, 10].map((n) => nextPollDelay(n)),
    [5000, 10000, 20000, 60000, 60000],
  );
});

test('one clock: camera-local seconds written one way, with the zone named', () => {
  const t = dateTextSeconds('Tue Dec  8 07:05:09 CET 2026');
  assert.equal(formatDateTime(t), '2026-12-08 07:05:09');
  assert.equal(formatClock(t + 13 * 3600), '20:05:09', 'a 24-hour clock');
  assert.equal(t, sessionStartSeconds('20261208_07_05_09'));
  assert.equal(dateTextSeconds('Tue Dec 18 07:05:09 2026'), sessionStartSeconds('20261218_07_05_09'));
  assert.equal(dateTextSeconds('Still active'), null);
  assert.equal(formatDateTime(null), '–');
  assert.equal(zoneLabel({ zone: 'CET', offset: '+0100' }), 'CET (UTC+01:00)');
  assert.equal(zoneLabel({ zone: 'UTC', offset: '+0000' }), 'UTC');
  assert.equal(zoneLabel({ zone: '', offset: '-0330' }), 'UTC-03:30');
  const rows = storedSessions({
    sessions: [
      {
        Path: '/x/20261208_07_05_09',
        StartTime: 'Tue Dec  8 07:05:09 CET 2026',
        EndTime: 'Tue Dec  8 09:35:10 CET 2026',
        size: '608 KiB',
        sizeZip: '296 KiB',
      },
    ],
  });
  assert.equal(formatDuration(rows[0].duration), '2 h 30 min');
});

test('replies judged by status and by the documented refusal texts', () => {
  assert.deepEqual(judgeReply(200, 'No monitor session is activated, can not deactivate anything.'), {
    isError: true,
    lines: ['No monitor session is activated, can not deactivate anything.'],
  });
  assert.deepEqual(judgeReply(200, 'Session deactivated.'), { isError: false, lines: ['Session deactivated.'] });
  assert.equal(judgeReply(200, 'Error: Could not start monitoring session.').isError, true);
  assert.equal(judgeReply(400, 'Too short interval set (must exceed 2 minutes)').isError, true);
  assert.deepEqual(judgeReply(500, ''), { isError: true, lines: ['Error 500 without a reply text.'] });
  assert.deepEqual(judgeReply(200, '', 'Nothing was set.'), { isError: false, lines: ['Nothing was set.'] });
  assert.deepEqual(
    judgeReply(200, 'Automatic PTZ test has been stopped.PTZ test rule at given times has been stopped.').lines,
    ['Automatic PTZ test has been stopped.', 'PTZ test rule at given times has been stopped.'],
  );
  assert.equal(judgeReply(200, 'Every 1.5 h.').lines.length, 1);
  assert.equal(
    firstLine('\nError: The device configuration could not be read.\nmore'),
    'Error: The device configuration could not be read.',
  );
  assert.equal(firstLine('x'.repeat(400)).length, 158);
});

test('rounds on time, one overdue, several overdue', () => {
  const start = 1000;
  assert.deepEqual(liveness(1030, null, start), { state: 'waiting', next: 1060 });
  assert.equal(liveness(1100, null, start).state, 'late');
  assert.deepEqual(liveness(2000, 1900, start), { state: 'live', next: 2020 });
  assert.equal(liveness(2060, 1900, start).state, 'late');
  assert.equal(liveness(2200, 1900, start).state, 'stalled');
  assert.equal(liveness(null, 1900, start).state, 'unknown');
  assert.deepEqual(
    alignSeries([
      [
        [1, 5],
        [3, 6],
      ],
      [
        [2, 7],
        [3, 8],
      ],
    ]),
    [
      [1, 2, 3],
      [5, null, 6],
      [null, 7, 8],
    ],
  );
});

test('the PTZ form checks what the actions take', () => {
  assert.deepEqual(checkInterval(' 120 '), { minutes: '120', confirm: false });
  assert.deepEqual(checkInterval('10081'), { minutes: '10081', confirm: true });
  assert.deepEqual(checkInterval('abc'), { error: '"abc" is not a whole number of minutes.' });
  assert.deepEqual(checkInterval('2'), { error: 'The interval must be at least 3 minutes.' });
  assert.deepEqual(checkInterval(''), { error: 'Enter the interval in whole minutes.' });
  assert.deepEqual(checkInterval('9007199254740991'), { minutes: '9007199254740991', confirm: true });
  assert.match(checkInterval('9007199254740992').error, /at most 9007199254740991/);
  assert.deepEqual(checkTimes('08:00, 20:30'), { times: '08:00,20:30' });
  assert.deepEqual(checkTimes('  '), { times: '' });
  assert.deepEqual(checkTimes('08:00, 08:00'), { error: '08:00 is given twice.' });
  assert.deepEqual(checkTimes('08:00,$(id)'), { error: '"$(id)" is not a 24-hour time HH:MM (such as 08:00).' });
  assert.deepEqual(checkTimes('8:00'), { error: '"8:00" is not a 24-hour time HH:MM (such as 08:00).' });
  assert.match(
    checkTimes(Array.from({ length: 17 }, (_, i) => `${String(i).padStart(2, '0')}:00`).join(',')).error,
    /at most 16/,
  );
  const noon = sessionStartSeconds('20261208_12_00_00');
  assert.deepEqual(givenTimesAround('08:00,20:00', noon), {
    last: sessionStartSeconds('20261208_08_00_00'),
    next: sessionStartSeconds('20261208_20_00_00'),
  });
  assert.deepEqual(givenTimesAround('08:00', sessionStartSeconds('20261208_07_00_00')), {
    last: sessionStartSeconds('20261207_08_00_00'),
    next: sessionStartSeconds('20261208_08_00_00'),
  });
  assert.deepEqual(givenTimesAround('', noon), { last: null, next: null });
});

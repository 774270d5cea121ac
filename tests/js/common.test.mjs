// What both pages share: the information file's reader and the one way times
// and durations are read and written (the operator page's cases of them are
// in operator_format.test.mjs).
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const Common = require('../../html/common.js');

test('the information file: "Name: value" lines in order, whatever the line ends', () => {
  const text =
    'Serial Number: ACCC8E000001\r\nStart Time of the session: Sun Dec  6 18:48:53 CET 2026\n' +
    'Stop Time of the session: \nno colon here\nDuration: 0 Days 2 hours 3 minutes  \n';
  assert.deepEqual(Common.readInformation(text), [
    { name: 'Serial Number', value: 'ACCC8E000001' },
    { name: 'Start Time of the session', value: 'Sun Dec  6 18:48:53 CET 2026' },
    { name: 'Stop Time of the session', value: '' },
    { name: 'Duration', value: '0 Days 2 hours 3 minutes' },
  ]);
});

test('times that cannot be are no times, on either page', () => {
  assert.equal(Common.dateTextSeconds('Mon Feb 30 10:00:00 CET 2026'), null);
  assert.equal(Common.dateTextSeconds('Mon Feb  2 24:00:00 CET 2026'), null);
  assert.equal(Common.sessionStartSeconds('20261301_10_00_00'), null);
  assert.equal(Common.sessionStartSeconds('20260229_10_00_00'), null, '2026 is no leap year');
  assert.equal(Common.sessionStartSeconds('20280229_10_00_00'), Common.dateTextSeconds('Tue Feb 29 10:00:00 2028'));
  assert.equal(Common.sessionName('/var/spool/storage/SD_DISK/Trelvik_X/20261208_07_05_09'), '20261208_07_05_09');
});

test('durations in their two largest units, the same on both pages', () => {
  const { formatDuration } = Common;
  assert.deepEqual([12, 95, 3600 + 120, 26 * 3600 + 180, 7 * 86400, 32 * 60].map(formatDuration), [
    '12 s',
    '1 min 35 s',
    '1 h 02 min',
    '1 d 02 h',
    '7 d',
    '32 min',
  ]);
  assert.equal(
    Common.formatDateTime(Common.dateTextSeconds('Tue Dec  8 07:05:09 CET 2026'), false),
    '2026-12-08 07:05',
  );
});

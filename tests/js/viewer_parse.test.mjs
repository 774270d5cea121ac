// The viewer's readers: CSV time series in the collectors' formats, counters
// turned into rates, the archive read member by member.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { viewer, fflate, damagedArchive, claimSize } from '../support/viewer_session.mjs';

const TC = viewer('csv');
const TS = viewer('series');
const TA = viewer('archive');
const TSn = viewer('session');
const at = (hms) => TC.parseTime('2026-12-06', hms);

test('CSV tables in every header and line-end style the collectors write', () => {
  const meminfo = TC.readTable('Date,Time,Memory MemFree (kB)\r\n2026-12-06,18:48:53,1234\r\n2026-12-06,18:50:53,\r\n');
  assert.equal(meminfo.fatal, null);
  assert.deepEqual(meminfo.t, [at('18:48:53'), at('18:50:53')]);
  assert.deepEqual(meminfo.columns, [{ name: 'Memory MemFree (kB)', numeric: true, values: [1234, null] }]);

  const fan = TC.readTable('Date, Time, Fan status\n2026-12-06,18:48:53,running\n2026-12-06,18:50:53,failed\n');
  assert.deepEqual(fan.columns[0], { name: 'Fan status', numeric: false, values: ['running', 'failed'] });

  // Units after the number ("12.3 Mbit/s"); the zone column before the date.
  const net = TC.readTable('Date,Time,Network Bandwidth (Mbit/s)\r\n2026-12-06,18:50:53,12.3 Mbit/s\r\n');
  assert.deepEqual(net.columns[0].values, [12.3]);
  const buddy = TC.readTable('ZONE,DATE,TIME,4 kB,8 kB\nNormal,2026-12-06,18:48:53,10,0\n');
  assert.deepEqual(buddy.columns.map((c) => [c.name, c.values]), [['ZONE', ['Normal']], ['4 kB', [10]], ['8 kB', [0]]]);
  assert.deepEqual(buddy.t, [at('18:48:53')]);
});

test('damaged CSV text: the good rows stay, every fault is named', () => {
  const ragged = TC.readTable('Date,Time,A\n2026-12-06,18:48:53,1\n2026-12-06,18:50:53,2,3\n2026-12-06,18:52:53,3\n2026-12-06,18:5');
  assert.deepEqual(ragged.columns[0].values, [1, 3]);
  assert.equal(ragged.errors.total, 2);
  assert.match(ragged.errors[0], /line 3: 4 cells where the header has 3/);

  const texty = TC.readTable('Date,Time,A\n2026-12-06,18:48:53,1\n2026-12-06,18:50:53,lots\n2026-12-06,18:52:53,3\n');
  assert.deepEqual(texty.columns[0].values, [1, null, 3]);
  assert.match(texty.errors[0], /"lots" in column "A" is not a number/);

  const badTime = TC.readTable('Date,Time,A\n2026-12-06,25:61,1\n2026-12-06,18:52:53,3\n');
  assert.deepEqual(badTime.t, [at('18:52:53')]);
  assert.equal(badTime.errors.total, 1);

  assert.match(TC.readTable('Date,Time,A\r\n').fatal, /header and no rows/);
  assert.match(TC.readTable('').fatal, /empty/);
  assert.match(TC.readTable('PK\u0003\u0004\u0000\u0000garbage').fatal, /not a text file/);
  assert.match(TC.readTable('quality,count\ngood,12\n').fatal, /no Date and Time/);
  assert.deepEqual(TC.readPlainTable('quality,count\ngood,12\n'), { header: ['quality', 'count'], rows: [['good', '12']] });

  // Errors are listed up to a limit and counted beyond it.
  const many = TC.readTable('Date,Time,A\n' + 'x,y,1\n'.repeat(50));
  assert.equal(many.errors.length, TC.MAX_LISTED_ERRORS);
  assert.equal(many.errors.total, 50);
});

test('counters become rates; a counter going down is a reset, never a negative rate', () => {
  const r = TS.rates([0, 120, 240, 360, 480, 480, 600], [1000, 2200, 100, 1300, null, 5, 1205]);
  assert.deepEqual(r.v, [null, 10, null, 10, null, null, 10]);
  assert.deepEqual(r.resets, [240]);

  // eth0's bytes as bits per second, the failure totals left to the errors chart.
  const header = 'Date, Time, Receive: bytes, compressed, drop, errs, fifo, frame, multicast, packets, Transmit: bytes, carrier, colls, compressed, drop, errs, fifo, packets, Failed packages total (receive), Failed packages total (transmit)\n';
  const table = TC.readTable(header + '2026-12-06,18:48:53,1000,0,0,0,0,0,0,1,500,0,0,0,0,0,0,1,0,0\n' +
    '2026-12-06,18:50:53,13000,0,2,1,0,0,0,9,1700,0,0,0,0,0,0,5,3,0\n');
  const series = TS.describeFile('system_monitoring/monitoring_network/eth0.csv', table);
  const find = (metric) => series.find((s) => s.metric === metric);
  assert.deepEqual(find('rx_bytes').v, [null, 800]);
  assert.deepEqual(find('tx_bytes').v, [null, 80]);
  assert.equal(find('rx_bytes').chart, 'net:eth0:bits');
  assert.deepEqual(find('rx_drop').v, [null, 2 / 120]);
  assert.equal(find('rx_failed'), undefined);
});

test('series of one chart share one time axis; missing rounds break the line', () => {
  const [x, a, b] = TS.align([{ t: [0, 120], v: [1, 2] }, { t: [60, 120], v: [5, null] }]);
  assert.deepEqual(x, [0, 60, 120]);
  assert.deepEqual(Array.from(a), [1, undefined, 2]);
  assert.deepEqual(Array.from(b), [undefined, 5, null]);
  const broken = TS.breakAtGaps([0, 120, 1200], [1, 2, 3], 360);
  assert.deepEqual(broken.v, [1, 2, null, 3]);
});

test('archives: a cut-short archive gives what it holds, a member claiming 1 GiB or a corrupt one fails alone', async (t) => {
  const files = { 's/a.csv': new TextEncoder().encode('Date,Time,A\n2026-12-06,18:48:53,1\n'.repeat(200)), 's/b.txt': new Uint8Array(5000).fill(65) };
  const zip = fflate.zipSync(files);
  const read = async (m) => m.read();
  const native = globalThis.DecompressionStream;
  // The browser's inflater where there is one, fflate where there is not.
  for (const inflater of ['native', 'fflate']) {
    await t.test(inflater, async () => {
      if (inflater === 'fflate') globalThis.DecompressionStream = undefined;
      try {
        const whole = TA.readZip(zip);
        assert.equal(whole.error, null);
        assert.deepEqual(whole.members.map((m) => m.path), ['s/a.csv', 's/b.txt']);
        assert.deepEqual(await read(whole.members[1]), files['s/b.txt']);

        const cut = TA.readZip(zip.subarray(0, zip.length - 40));
        assert.match(cut.error, /cut short/);
        assert.deepEqual(await read(cut.members[0]), files['s/a.csv']);
        await assert.rejects(read(TA.readZip(zip.subarray(0, 60)).members[0]), /cut short/);

        const huge = TA.readZip(claimSize(zip, 's/b.txt', 1 << 30));
        await assert.rejects(read(huge.members[1]), /claims 1024 MiB uncompressed/);
        assert.deepEqual(await read(huge.members[0]), files['s/a.csv']);

        const corrupt = Uint8Array.from(zip);
        const start = 30 + 's/a.csv'.length;
        corrupt.fill(0xff, start, start + 16);
        await assert.rejects(read(TA.readZip(corrupt).members[0]), /cannot be inflated/);
        assert.match(TA.readZip(new TextEncoder().encode('Date,Time\n')).error, /not a zip archive/);
      } finally {
        globalThis.DecompressionStream = native;
      }
    });
  }
});

test('a damaged session: each bad file carries its error, the good ones their series', async () => {
  const { zip, bad, good } = damagedArchive();
  const session = await TSn.openSession(TA.readZip(zip).members);
  const byPath = new Map(session.files.map((f) => [f.path, f]));
  for (const p of bad) assert.ok(byPath.get(p).error, `${p} shows no error`);
  for (const p of good) {
    assert.equal(byPath.get(p).error, null, p);
    assert.ok(byPath.get(p).series.length, p);
  }
  assert.match(byPath.get('system_monitoring/monitoring_vmstatus/vmstat.csv').error, /claims 1024 MiB/);
  assert.equal(byPath.get('system_monitoring/monitoring_meminfo/Ragged.csv').series[0].t.length, 29);
  assert.deepEqual(session.facts.map((f) => f.name), ['Model Name', 'Serial Number']);
});

test('an internal-storage session: the reports packed in Server_Reports.zip are listed by time', async () => {
  const report = new TextEncoder().encode('----- Server report -----\n');
  const inner = fflate.zipSync({ 'Server_Report_2026-12-06T184853UTC.txt': report, 'Server_Report_2026-12-07T184853UTC.txt': report });
  const outer = fflate.zipSync({
    '20261206_18_48_53/Session_Information.txt': new TextEncoder().encode('Edge storage location: Internal Storage\r\n'),
    '20261206_18_48_53/system_monitoring/monitoring_basic/Server_Reports/Server_Reports.zip': inner,
  });
  const session = await TSn.openSession(TA.readZip(outer).members);
  const reports = session.snapshots.filter((s) => s.kind === 'server report');
  assert.deepEqual(reports.map((s) => TC.formatTime(s.time)), ['2026-12-06 18:48', '2026-12-07 18:48']);
  assert.deepEqual(await reports[1].read(), report);
  assert.deepEqual(session.findings, []);
});

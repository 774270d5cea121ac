// The viewer's readers: CSV time series in the collectors' formats, counters
// turned into rates, the archive read member by member.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { viewer, fflate, damagedArchive, claimSize } from '../support/viewer_session.mjs';

const Csv = viewer('csv');
const Series = viewer('series');
const Archive = viewer('archive');
const Session = viewer('session');
const at = (hms) => Csv.parseTime('2026-12-06', hms);
// Times and values come typed, NaN where there is no value.
const plain = (typed) => Array.from(typed, (x) => (x === x ? x : null));

test('CSV tables in every header and line-end style the collectors write', () => {
  const meminfo = Csv.readTable(
    'Date,Time,Memory MemFree (kB)\r\n2026-12-06,18:48:53,1234\r\n2026-12-06,18:50:53,\r\n',
  );
  assert.equal(meminfo.fatal, null);
  assert.deepEqual(plain(meminfo.t), [at('18:48:53'), at('18:50:53')]);
  assert.deepEqual(meminfo.columns, [{ name: 'Memory MemFree (kB)', numeric: true, values: [1234, null] }]);

  const fan = Csv.readTable('Date, Time, Fan status\n2026-12-06,18:48:53,running\n2026-12-06,18:50:53,failed\n');
  assert.deepEqual(fan.columns[0], { name: 'Fan status', numeric: false, values: ['running', 'failed'] });

  // Units after the number ("12.3 Mbit/s"); the zone column before the date.
  const net = Csv.readTable('Date,Time,Network Bandwidth (Mbit/s)\r\n2026-12-06,18:50:53,12.3 Mbit/s\r\n');
  assert.deepEqual(net.columns[0].values, [12.3]);
  const buddy = Csv.readTable('ZONE,DATE,TIME,4 kB,8 kB\nNormal,2026-12-06,18:48:53,10,0\n');
  assert.deepEqual(
    buddy.columns.map((c) => [c.name, c.values]),
    [
      ['ZONE', ['Normal']],
      ['4 kB', [10]],
      ['8 kB', [0]],
    ],
  );
  assert.deepEqual(plain(buddy.t), [at('18:48:53')]);
});

test('damaged CSV text: the good rows stay, every fault is named', () => {
  const ragged = Csv.readTable(
    'Date,Time,A\n2026-12-06,18:48:53,1\n2026-12-06,18:50:53,2,3\n2026-12-06,18:52:53,3\n2026-12-06,18:5',
  );
  assert.deepEqual(ragged.columns[0].values, [1, 3]);
  assert.equal(ragged.errors.total, 2);
  assert.match(ragged.errors[0], /line 3: 4 cells where the header has 3/);

  const texty = Csv.readTable('Date,Time,A\n2026-12-06,18:48:53,1\n2026-12-06,18:50:53,lots\n2026-12-06,18:52:53,3\n');
  assert.deepEqual(texty.columns[0].values, [1, null, 3]);
  assert.match(texty.errors[0], /"lots" in column "A" is not a number/);

  const badTime = Csv.readTable('Date,Time,A\n2026-12-06,25:61,1\n2026-12-06,18:52:53,3\n');
  assert.deepEqual(plain(badTime.t), [at('18:52:53')]);
  assert.equal(badTime.errors.total, 1);

  assert.match(Csv.readTable('Date,Time,A\r\n').fatal, /header and no rows/);
  assert.match(Csv.readTable('').fatal, /empty/);
  assert.match(Csv.readTable('PK\u0003\u0004\u0000\u0000garbage').fatal, /not a text file/);
  assert.match(Csv.readTable('quality,count\ngood,12\n').fatal, /no Date and Time/);
  assert.deepEqual(Csv.readPlainTable('quality,count\ngood,12\n'), {
    header: ['quality', 'count'],
    rows: [['good', '12']],
  });

  // Errors are listed up to a limit and counted beyond it.
  const many = Csv.readTable('Date,Time,A\n' + 'x,y,1\n'.repeat(50));
  assert.equal(many.errors.length, Csv.MAX_LISTED_ERRORS);
  assert.equal(many.errors.total, 50);
});

test('damage costs its own lines only, wherever it is, and each kind is counted', () => {
  const row = (i) => `2026-12-06,18:${String(10 + i).padStart(2, '0')}:00,${i}\n`;
  const rows = (a, b) => Array.from({ length: b - a }, (_, k) => row(a + k)).join('');
  // A power cut in the first 4 KB: half a row, a block of NULs, the next
  // rows appended behind it.
  const early = Csv.readTable(`Date,Time,A\n${rows(0, 3)}2026-12-06,18:1${'\u0000'.repeat(4096)}${rows(4, 10)}`);
  assert.equal(early.fatal, null);
  assert.deepEqual(early.columns[0].values, [0, 1, 2, 5, 6, 7, 8, 9]);
  assert.deepEqual(early.errors.counts, { damaged: 1 });
  // Invalid UTF-8 (decoded as U+FFFD), a wrong cell count, a half row at the end.
  const mixed = Csv.readTable(
    `Date,Time,A\n${rows(0, 2)}2026-12-\uFFFD\uFFFD,run\uFFFDing\n${rows(2, 4)}2026-12-06,18:20:00,1,2\n${rows(4, 6)}2026-12-06,18:2`,
  );
  assert.deepEqual(mixed.columns[0].values, [0, 1, 2, 3, 4, 5]);
  assert.deepEqual(mixed.errors.counts, { damaged: 1, cells: 1, half: 1 });
  assert.equal(
    Csv.describeFaults(mixed.errors.counts),
    '1 damaged line (NUL bytes or invalid UTF-8), 1 half row at the end, 1 row with the wrong number of cells',
  );
  // Days and times that cannot be are row errors, not days of another month.
  for (const [date, time] of [
    ['2026-13-45', '10:00:00'],
    ['2026-02-30', '10:00:00'],
    ['2026-12-06', '24:00:00'],
    ['2026-12-06', '10:60:00'],
  ]) {
    assert.ok(Number.isNaN(Csv.parseTime(date, time)), `${date} ${time}`);
  }
  assert.equal(Csv.parseTime('2028-02-29', '23:59:59'), Date.UTC(2028, 1, 29, 23, 59, 59) / 1000);
  const month13 = Csv.readTable(`Date,Time,A\n${rows(0, 2)}2026-13-45,10:00:00,7\n${rows(2, 3)}`);
  assert.deepEqual(month13.errors.counts, { time: 1 });
});

test('read from bytes, a CSV file reads exactly as its text does, however the bytes are cut', () => {
  const enc = (text) => new TextEncoder().encode(text);
  const join = (...parts) => {
    const out = new Uint8Array(parts.reduce((n, p) => n + p.length, 0));
    let at = 0;
    for (const p of parts) {
      out.set(p, at);
      at += p.length;
    }
    return out;
  };
  const rows = (n, cell) =>
    Array.from(
      { length: n },
      (_, i) => `2026-12-06,18:${String(10 + (i % 50)).padStart(2, '0')}:00,${cell(i)}\r\n`,
    ).join('');
  const odd = [
    '0xE',
    '0 xE',
    '-0xE',
    '0b',
    '12e kB',
    '1e3 kB',
    '5 \u00b0C',
    '7 %',
    '3\t/s',
    '4kB/s x',
    'x\r',
    '5\r',
    '.5 kB',
    '5. kB',
  ]
    .map((cell) => `2026-12-06,19:00:00,${cell},${cell}\r\n`)
    .join('');
  const files = [
    // Text cells cycling through more values than the reader keeps at hand,
    // numbers with units and decimals, blanks, an empty cell, a byte-order mark.
    join(
      new Uint8Array([0xef, 0xbb, 0xbf]),
      enc(
        `Date, Time, Package, A (kB), B\r\n${rows(250, (i) => `pkg${i % 23}, ${i % 7 ? i * 3 : ''}, ${(i / 4).toFixed(2)} Mbit/s`)}`,
      ),
    ),
    // Non-ASCII text, an invalid byte in a text cell and in a number, a
    // NUL block, a wrong cell count, text among numbers, a half row.
    join(
      enc(`Date,Time,Name,A\n${rows(210, (i) => `Str\u00f6m ${i % 3},${i}`)}2026-12-06,18:50:00,x`),
      new Uint8Array([0xff]),
      enc(',1\n2026-12-06,18:51:00,y,1'),
      new Uint8Array([0xc3]),
      enc('\n'),
      new Uint8Array(600),
      enc(
        `\n2026-12-06,18:52:00,y,1,2\n2026-12-06,18:53:00,y,lots\n2026-13-45,18:54:00,y,3\n2026-12-06,18:55:00,y,-.5\n2026-12-06,18:56:00,y,12.\n${rows(5, (i) => `\ufffd,${i}`)}2026-12-06,18:5`,
      ),
    ),
    // Plain and negative decimals (some that no double holds exactly),
    // more digits than a double keeps whole, empty number and text cells,
    // a cell too few, a cell too many, a blank.
    enc(
      `Date,Time,A,Name,B\n${rows(220, (i) => `${i % 5 ? (i % 3 ? i / 8 : (-i * 7.13).toFixed(i % 7)) : ''},${i % 4 ? `n${i % 3}` : ''},${i % 2 ? -i : '12345678901234567'}`)}` +
        '2026-12-06,18:57:00,1,x\n2026-12-06,18:58:00,1,x,2,3\n2026-12-06,18:59:00, 7,x,-0.25\n',
    ),
    // A unit after a number, and cells the text reading takes otherwise
    // (a base prefix, an exponent, a degree sign), among the first rows and
    // after them; lines that end in more than one carriage return.
    enc(
      `Date,Time,A,B\n${odd}${rows(205, (i) => (i % 9 ? `${i / 4} Mbit/s,${i}` : `${i % 2 ? 0 : i}kB,${i} kB`))}${odd}`,
    ),
    enc('Date,Time,A\n'),
    enc(''),
    join(enc('PK'), new Uint8Array([3, 4, 0, 0])),
    enc('quality,count\ngood,12\n'),
  ];
  const asText = (table) =>
    JSON.stringify({
      ...table,
      t: plain(table.t),
      errors: [...table.errors],
      total: table.errors.total,
      counts: table.errors.counts,
    });
  for (const [k, bytes] of files.entries()) {
    const expected = asText(Csv.readTable(new TextDecoder().decode(bytes)));
    assert.ok(asText(Csv.readTableBytes(bytes)) === expected, `file ${k}`);
    for (const size of [1, 2, 7, 100]) {
      const reader = Csv.tableReader();
      for (let i = 0; i < bytes.length; i += size) reader.pushBytes(bytes.slice(i, i + size));
      assert.ok(asText(reader.finish()) === expected, `file ${k} in pieces of ${size}`);
    }
  }
  assert.deepEqual(Csv.readTableBytes(files[1]).errors.counts, { damaged: 8, cells: 1, text: 1, time: 1, half: 1 });
  // Between threads a table crosses packed, and arrives as it was read.
  for (const bytes of files.slice(0, 3)) {
    const table = Csv.readTableBytes(bytes);
    assert.ok(asText(Csv.unpackTable(structuredClone(Csv.packTable(table).message))) === asText(table));
  }
});

test('times outside the session or going backwards are left out, and their clock events told', () => {
  const at = (d, hms) => Csv.parseTime(d, hms);
  const text =
    'Date,Time,A\n' +
    [
      '1970-01-01,00:00:40,1',
      '1970-01-01,00:02:40,2', // before the clock was set
      '2026-12-06,18:50:00,3',
      '2026-12-06,18:52:00,4',
      '2026-12-06,18:54:00,5',
      '2026-12-06,17:55:00,6',
      '2026-12-06,17:57:00,7', // the clock stepped back an hour
      '2026-12-06,18:56:00,8',
      '2036-12-06,18:58:00,9',
      '2026-12-06,18:58:00,10',
    ].join('\n') +
    '\n';
  const window = { from: at('2026-12-06', '17:00:00'), to: at('2026-12-06', '20:00:00') };
  const { table, events } = Csv.checkTimes(Csv.readTable(text), window);
  assert.deepEqual(table.columns[0].values, [3, 4, 5, 8, 10]);
  assert.deepEqual(table.errors.counts, { before: 2, backwards: 2, after: 1 });
  assert.deepEqual(
    events.map((e) => [e.kind, e.rows, Csv.formatTime(e.first), e.to && Csv.formatTime(e.to)]),
    [
      ['unset', 2, '1970-01-01 00:00', '2026-12-06 18:50'],
      ['back', 2, '2026-12-06 17:55', '2026-12-06 18:56'],
    ],
  );
});

test('the camera zone file, and the facts written by date(1)', () => {
  assert.deepEqual(Session.readTimeZone('Zone: Europe/Stockholm\nUTC offset: +0100\n'), {
    zone: 'Europe/Stockholm',
    offset: '+0100',
  });
  assert.equal(Session.readTimeZone('Zone: Europe/Stockholm\n'), null);
  assert.equal(Session.factTime('Sun Dec  6 18:48:53 CET 2026'), at('18:48:53'));
  assert.ok(Number.isNaN(Session.factTime('yesterday')));
});

test('counters become rates; a counter going down is a reset, never a negative rate', () => {
  const r = Series.rates([0, 120, 240, 360, 480, 480, 600], [1000, 2200, 100, 1300, null, 5, 1205]);
  assert.deepEqual(plain(r.v), [null, 10, null, 10, null, null, 10]);
  assert.deepEqual(r.resets, [240]);

  // eth0's bytes as bits per second, the failure totals left to the errors chart.
  const header =
    'Date, Time, Receive: bytes, compressed, drop, errs, fifo, frame, multicast, packets, Transmit: bytes, carrier, colls, compressed, drop, errs, fifo, packets, Failed packages total (receive), Failed packages total (transmit)\n';
  const table = Csv.readTable(
    header +
      '2026-12-06,18:48:53,1000,0,0,0,0,0,0,1,500,0,0,0,0,0,0,1,0,0\n' +
      '2026-12-06,18:50:53,13000,0,2,1,0,0,0,9,1700,0,0,0,0,0,0,5,3,0\n',
  );
  const series = Series.describeFile('system_monitoring/monitoring_network/eth0.csv', table);
  const find = (metric) => series.find((s) => s.metric === metric);
  assert.deepEqual(plain(find('rx_bytes').v), [null, 800]);
  assert.deepEqual(plain(find('tx_bytes').v), [null, 80]);
  assert.equal(find('rx_bytes').chart, 'net:eth0:bits');
  assert.deepEqual(plain(find('rx_drop').v), [null, 2 / 120]);
  assert.equal(find('rx_failed'), undefined);
});

test('series of one chart share one time axis; missing rounds break the line', () => {
  const [x, a, b] = Series.align([
    { t: [0, 120], v: [1, 2] },
    { t: [60, 120], v: [5, null] },
  ]);
  assert.deepEqual(x, [0, 60, 120]);
  assert.deepEqual(Array.from(a), [1, undefined, 2]);
  assert.deepEqual(Array.from(b), [undefined, 5, null]);
  const broken = Series.breakAtGaps([0, 120, 1200], [1, 2, 3], 360);
  assert.deepEqual(broken.v, [1, 2, null, 3]);
  // Values that crossed from the worker as NaN in a Float64Array stay
  // typed, one broken copy of the times for all series of a file, and
  // reach the chart with their breaks as nulls.
  const shared = new Map();
  const t = [0, 120, 1200];
  const typed = Series.breakAtGaps(t, new Float64Array([1, NaN, 3]), 360, shared);
  assert.ok(
    typed.v instanceof Float64Array && Series.breakAtGaps(t, new Int32Array([4, 5, 6]), 360, shared).t === typed.t,
  );
  assert.deepEqual(Series.decimate(Series.align([typed]), 100), [
    [0, 120, 121, 1200],
    [1, null, null, 3],
  ]);
  // Drawn from each bucket's low and high, in their order; a break stays.
  const ten = [...Array(10).keys()];
  assert.deepEqual(Series.decimate([ten, [1, 5, 2, null, 3, 3, 9, 0, 4, 4]], 3), [
    [0, 2, 3, 5, 6, 9],
    [1, 5, 3, null, 9, 0],
  ]);
  // A zoom takes its range and one sample either side.
  assert.deepEqual(
    Series.within(
      [
        [0, 10, 20, 30, 40],
        [1, 2, 3, 4, 5],
      ],
      12,
      28,
    ),
    [
      [10, 20, 30],
      [2, 3, 4],
    ],
  );
});

test("a process's series: rows of one command line added, the lowest PID kept, an empty cell left out", () => {
  const table = Csv.readTableBytes(
    new TextEncoder().encode(
      [
        'Date,Time,Package,PID,VSZ_kB,RSS_kB,Command',
        '2026-12-06,18:48:54,Acme,900,100,10,/usr/bin/acme_worker -n 1',
        '2026-12-06,18:48:54,Acme,700,100,5,/usr/bin/acme_worker -n 1',
        '2026-12-06,18:48:54,Other,850,10,3,/usr/bin/other',
        '2026-12-06,18:48:54,Acme,800,50,,/usr/bin/acme_web',
        '2026-12-06,18:50:54,Acme,701,100,,/usr/bin/acme_worker -n 1',
        '2026-12-06,18:50:54,Acme,800,50,7,/usr/bin/acme_web',
        '',
      ].join('\n'),
    ),
  );
  const series = Series.describeFile('system_monitoring/monitoring_zeda/zeda_processes.csv', table);
  const rss = (key) => series.find((s) => s.chart === 'processes:rss' && s.key === key);
  const worker = rss('Acme · /usr/bin/acme_worker -n 1');
  assert.deepEqual([worker.t, worker.v, worker.pid].map(plain), [
    [at('18:48:54'), at('18:50:54')],
    [15, null],
    [700, 701],
  ]);
  assert.equal(worker.label, 'acme_worker (Acme)');
  assert.deepEqual(plain(rss('Acme · /usr/bin/acme_web').v), [null, 7]);
  // A package's processes stay together, in the order they first appear.
  assert.deepEqual(
    series.filter((s) => s.chart === 'processes:rss').map((s) => s.key),
    ['Acme · /usr/bin/acme_worker -n 1', 'Acme · /usr/bin/acme_web', 'Other · /usr/bin/other'],
  );
  // A text column left after the time check keeps its texts.
  const early = Csv.checkTimes(table, { from: at('18:50:00'), to: null }).table;
  assert.deepEqual(early.columns.find((c) => c.name === 'Command').values, [
    '/usr/bin/acme_worker -n 1',
    '/usr/bin/acme_web',
  ]);
  assert.deepEqual(early.columns.find((c) => c.name === 'RSS_kB').values, [null, 7]);
});

test('archives: a cut-short archive gives what it holds, a member claiming 1 GiB or a corrupt one fails alone', async (t) => {
  const files = {
    's/a.csv': new TextEncoder().encode('Date,Time,A\n2026-12-06,18:48:53,1\n'.repeat(200)),
    's/b.txt': new Uint8Array(5000).fill(65),
  };
  const zip = fflate.zipSync(files);
  const read = async (m) => m.read();
  const native = globalThis.DecompressionStream;
  // The browser's inflater where there is one, fflate where there is not.
  for (const inflater of ['native', 'fflate']) {
    await t.test(inflater, async () => {
      if (inflater === 'fflate') globalThis.DecompressionStream = undefined;
      try {
        const whole = Archive.readZip(zip);
        assert.equal(whole.error, null);
        assert.deepEqual(
          whole.members.map((m) => m.path),
          ['s/a.csv', 's/b.txt'],
        );
        assert.deepEqual(await read(whole.members[1]), files['s/b.txt']);

        const cut = Archive.readZip(zip.subarray(0, zip.length - 40));
        assert.match(cut.error, /cut short/);
        assert.deepEqual(await read(cut.members[0]), files['s/a.csv']);
        await assert.rejects(read(Archive.readZip(zip.subarray(0, 60)).members[0]), /cut short/);

        const huge = Archive.readZip(claimSize(zip, 's/b.txt', 1 << 30));
        await assert.rejects(read(huge.members[1]), /claims 1024 MiB uncompressed/);
        assert.deepEqual(await read(huge.members[0]), files['s/a.csv']);

        const corrupt = Uint8Array.from(zip);
        const start = 30 + 's/a.csv'.length;
        corrupt.fill(0xff, start, start + 16);
        await assert.rejects(read(Archive.readZip(corrupt).members[0]), /cannot be inflated/);
        assert.match(Archive.readZip(new TextEncoder().encode('Date,Time\n')).error, /not a zip archive/);
      } finally {
        globalThis.DecompressionStream = native;
      }
    });
  }
});

test('an archive read out of a file reads as from its bytes, whole or damaged, and only the members asked for are read', async () => {
  // Many small members, then one of incompressible bytes over several
  // blocks of the file, then one more.
  let seed = 7;
  const files = {};
  for (let i = 0; i < 40; i++)
    files[`s/m${i}.csv`] = new TextEncoder().encode(`Date,Time,A\n${'2026-12-06,18:48:53,1\n'.repeat(50 + i)}`);
  files['s/big.bin'] = Uint8Array.from(
    { length: 5_000_000 },
    () => (seed = (Math.imul(seed, 1103515245) + 12345) >>> 0) >>> 24,
  );
  files['s/z.txt'] = new Uint8Array(3000).fill(66);
  const zip = fflate.zipSync(files, { level: 1 });
  const commented = Uint8Array.from([...zip.subarray(0, zip.length - 2), 5, 0, ...new TextEncoder().encode('hello')]);
  const corrupt = Uint8Array.from(zip);
  corrupt.fill(0xff, 30 + 's/m0.csv'.length + 10, 30 + 's/m0.csv'.length + 40);
  const archives = {
    whole: zip,
    commented,
    corrupt,
    'claiming 1 GiB': claimSize(zip, 's/z.txt', 1 << 30),
    'cut short': zip.subarray(0, zip.length - 40),
    'cut inside a member': zip.subarray(0, 3_000_000),
    'not a zip': new TextEncoder().encode('Date,Time\n'),
    empty: new Uint8Array(0),
  };
  // Streamed first: out of a file, the stretch is then still arriving.
  const outcome = async (m) => {
    try {
      const hash = createHash('sha256');
      let streamed = 0;
      if (m.stream) await m.stream((chunk) => void ((streamed += chunk.length), hash.update(chunk)));
      const bytes = await m.read();
      const whole = createHash('sha256').update(bytes).digest('hex');
      return [m.path, m.size, whole, streamed ? hash.digest('hex') : whole, streamed || bytes.length];
    } catch (e) {
      return [m.path, m.size, e.message];
    }
  };
  for (const [name, bytes] of Object.entries(archives)) {
    const fromBytes = Archive.readZip(bytes);
    const fromFile = await Archive.readZipFile(new Blob([bytes]));
    assert.equal(fromFile.error, fromBytes.error, name);
    assert.deepEqual(
      await Promise.all(fromFile.members.map(outcome)),
      await Promise.all(fromBytes.members.map(outcome)),
      name,
    );
  }
  // One small member asked for out of the whole archive: its block, and
  // the one after, not the whole file.
  let read = 0;
  const blob = new Blob([zip]);
  const counting = { size: blob.size, slice: (a, b) => ((read += b - a), blob.slice(a, b)) };
  const { members } = await Archive.readZipFile(counting);
  assert.deepEqual(await members.find((m) => m.path === 's/m3.csv').read(), files['s/m3.csv']);
  assert.ok(read < zip.length / 2, `${read} of ${zip.length} bytes read`);
});

test('a damaged session: each bad file carries its error, the good ones their series', async () => {
  const { zip, bad, good } = damagedArchive();
  const session = await Session.openSession(Archive.readZip(zip).members);
  const byPath = new Map(session.files.map((f) => [f.path, f]));
  for (const p of bad) assert.ok(byPath.get(p).error, `${p} shows no error`);
  for (const p of good) {
    assert.equal(byPath.get(p).error, null, p);
    assert.ok(byPath.get(p).series.length, p);
  }
  assert.match(byPath.get('system_monitoring/monitoring_vmstatus/vmstat.csv').error, /claims 1024 MiB/);
  assert.equal(byPath.get('system_monitoring/monitoring_meminfo/Ragged.csv').series[0].t.length, 29);
  assert.deepEqual(
    session.facts.map((f) => f.name),
    ['Model Name', 'Serial Number'],
  );
});

test('an internal-storage session: the reports packed in Server_Reports.zip are listed by time', async () => {
  const report = new TextEncoder().encode('----- Server report -----\n');
  const inner = fflate.zipSync({
    'Server_Report_2026-12-06T184853UTC.txt': report,
    'Server_Report_2026-12-07T184853UTC.txt': report,
  });
  const outer = fflate.zipSync({
    '20261206_18_48_53/Session_Information.txt': new TextEncoder().encode(
      'Edge storage location: Internal Storage\r\n',
    ),
    '20261206_18_48_53/system_monitoring/monitoring_basic/Server_Reports/Server_Reports.zip': inner,
  });
  const session = await Session.openSession(Archive.readZip(outer).members);
  const reports = session.snapshots.filter((s) => s.kind === 'server report');
  assert.deepEqual(
    reports.map((s) => Csv.formatTime(s.time)),
    ['2026-12-06 18:48', '2026-12-07 18:48'],
  );
  assert.deepEqual(await reports[1].read(), report);
  assert.deepEqual(session.findings, []);
});

test("top's snapshots read chunk by chunk, however the chunks fall: the busiest, the CPU count", () => {
  const Findings = viewer('findings');
  const block = (hm, cpu, load) =>
    `=== 2026-12-06 ${hm}:00 ===\nMem: 1K used\nCPU:  1% usr\nLoad average: ${load} 1.00 1.00 2/3 4\n` +
    '  PID  PPID USER     STAT   VSZ %VSZ CPU %CPU COMMAND\n' +
    `   12     1 root     S      100   0%   1 ${cpu}% /usr/local/packages/Acme/bin/acme_encoder --profile high\n` +
    '    9     1 root     S      100   0%   0   1% /sbin/init\n';
  const text =
    block('10:00', 90, '3.00') + block('10:02', 80, '3.00') + block('10:04', 70, '3.00') + block('10:06', 60, '0.40');
  const bytes = new TextEncoder().encode(text);
  const from = Csv.parseTime('2026-12-06', '10:00:00');
  for (const size of [5, 64, bytes.length]) {
    const scanner = Findings.topScanner();
    for (let i = 0; i < bytes.length; i += size) scanner.push(bytes.subarray(i, i + size));
    const scan = scanner.result();
    assert.equal(scan.times.length, 4, `chunks of ${size}`);
    assert.equal(scan.busy.length, 3, 'a snapshot under the minimum load is not read further');
    assert.equal(scan.cpus, 2);
    assert.deepEqual(
      Findings.busiestIn(scan, from, from + 240).map((p) => [p.name, p.cpu]),
      [
        ['acme_encoder', 80],
        ['init', 1],
      ],
    );
  }
});

test("a top snapshot's time and load are read from its head: a new day, the minimum load, an impossible time", () => {
  const Findings = viewer('findings');
  const block = (date, time, head) =>
    `=== ${date} ${time} ===\n${head}\n  PID  PPID USER     STAT   VSZ %VSZ CPU %CPU COMMAND\n    9     1 root     S      100   0%   0  50% /sbin/init\n`;
  const text = [
    block('2026-12-06', '23:59:00', `Load average: ${Findings.THRESHOLDS.topMinLoad.toFixed(2)} 0.50 0.50 2/3 4`),
    block('2026-12-07', '00:01:00', 'Load average: 0.99 0.50 0.50 2/3 4'),
    block('2026-12-07', '00:03:00', 'Mem: 1K used'),
    block('2026-12-07', '24:00:00', 'Load average: 2.00 0.50 0.50 2/3 4'),
    // Only a snapshot's first 400 bytes are its head.
    block('2026-12-08', '00:05:00', `Mem: ${'1'.repeat(380)}K used\nLoad average: 2.50 0.50 0.50 2/3 4`),
  ].join('');
  const scanner = Findings.topScanner();
  scanner.push(new TextEncoder().encode(text));
  const scan = scanner.result();
  const day = (d) => Csv.parseTime(d, '00:00:00');
  assert.deepEqual(plain(scan.times), [
    day('2026-12-06') + 86340,
    day('2026-12-07') + 60,
    day('2026-12-07') + 180,
    null,
    day('2026-12-08') + 300,
  ]);
  assert.deepEqual(plain(scan.busy.map((b) => b.time)), [day('2026-12-06') + 86340, null]);
});

test("top's snapshots are scanned only as far as a load finding may look, by the CPU count where known", () => {
  const Findings = viewer('findings');
  const block = (i) =>
    `=== 2026-12-06 ${10 + Math.floor(i / 60)}:${String(i % 60).padStart(2, '0')}:00 ===\nCPU:  1% usr\nLoad average: 3.00 1.00 1.00 2/3 4\n` +
    '  PID  PPID USER     STAT   VSZ %VSZ CPU %CPU COMMAND\n' +
    `   12     1 root     S      100   0%   1 ${i < 10 ? 90 : 10}% /usr/local/packages/Acme/bin/acme_encoder\n`;
  const bytes = new TextEncoder().encode(Array.from({ length: 120 }, (_, i) => block(i)).join(''));
  const from = Csv.parseTime('2026-12-06', '10:00:00');
  // Over 2 CPUs, then over 1 only (busy for one CPU, not for two).
  const loads = (i) => (i < 9 ? 3 : i < 12 ? 0.5 : 1.5);
  const load = Csv.readTable(
    `Date,Time,Load average 1 min\n${Array.from({ length: 20 }, (_, i) => `2026-12-06,10:${String(i).padStart(2, '0')}:00,${loads(i)}\n`).join('')}`,
  );
  assert.equal(Findings.busyUntil(load), from + 19 * 60);
  assert.equal(Findings.busyUntil(load, 1), from + 19 * 60);
  const until = Findings.busyUntil(load, 2);
  assert.equal(until, from + 8 * 60);
  assert.equal(Findings.busyUntil(load, 4), null);
  assert.equal(Findings.busyUntil(Csv.readTable('Date,Time,Load average 1 min\n2026-12-06,10:00:00,0.5\n')), null);
  const scanner = Findings.topScanner(until);
  let pushed = 0;
  for (let i = 0; i < bytes.length; i += 100) {
    pushed++;
    if (scanner.push(bytes.subarray(i, i + 100)) === false) break;
  }
  const scan = scanner.result();
  assert.ok(pushed * 100 < bytes.length / 2, 'the scan stops once past the load and the CPU count');
  assert.equal(scan.times.length, Findings.THRESHOLDS.topCpuBlocks);
  assert.ok(scan.reach >= until + Findings.THRESHOLDS.topSlackSeconds);
  const whole = Findings.topScanner();
  whole.push(bytes);
  assert.equal(whole.result().reach, Infinity);
  assert.deepEqual(Findings.busiestIn(scan, from, until + 120), Findings.busiestIn(whole.result(), from, until + 120));
});

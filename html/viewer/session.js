// A session, from its files (archive members or a chosen folder) to what the
// viewer shows: the facts of Session_Information.txt and .signature, every
// CSV file read into series (or its error), the text snapshots by time, and
// the findings. A file that cannot be read carries its error; it never stops
// the others.
//
// Global TrelvikSession in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) {
    module.exports = factory(
      require('./csv.js'),
      require('./series.js'),
      require('./findings.js'),
      require('./archive.js'),
      require('./layout.js'),
      require('../common.js'),
    );
  } else {
    root.TrelvikSession = factory(
      root.TrelvikCsv,
      root.TrelvikSeries,
      root.TrelvikFindings,
      root.TrelvikArchive,
      root.TrelvikLayout,
      root.TrelvikCommon,
    );
    // Kept to start the same code in a worker.
    (root.TrelvikWorkerSources = root.TrelvikWorkerSources || []).push(
      `self.TrelvikSession = (${factory})(self.TrelvikCsv, self.TrelvikSeries, self.TrelvikFindings, self.TrelvikArchive, self.TrelvikLayout, self.TrelvikCommon);`,
    );
  }
})(typeof self !== 'undefined' ? self : this, function (Csv, Series, Findings, Archive, Layout, Common) {
  'use strict';

  const decoder = new TextDecoder('utf-8');

  // Where a file sits decides what it is.
  const KINDS = [
    [Layout.topFile('information'), 'information'],
    [Layout.topFile('signature'), 'signature'],
    [Layout.topFile('timeZone'), 'time zone'],
    [/\.csv$/i, 'csv'],
    [new RegExp(`${Layout.FOLDERS.serverReports}/${Layout.FILES.serverReport}[^/]*\\.txt$`), 'server report'],
    [Layout.inFolder('interrupts', '[^/]*_interrupts\\.txt'), 'interrupts'],
    [Layout.inFolder('onvif', '[^/]*_media\\.conf'), 'media configuration'],
    [Layout.inFolder('topStatus', '[^/]*\\.txt'), 'top'],
  ];
  function kindOf(path) {
    for (const [re, kind] of KINDS) if (re.test(path)) return kind;
    return 'other';
  }

  // The time a snapshot's name carries (camera clock), or NaN.
  function snapshotTime(path) {
    const name = path.slice(path.lastIndexOf('/') + 1);
    let m = /(\d{4})-(\d{2})-(\d{2})T(\d{2})(\d{2})(\d{2})/.exec(name);
    if (!m) m = /(\d{4})(\d{2})(\d{2})_(\d{2})(\d{2})(\d{2})/.exec(name);
    return m ? Csv.parseTime(`${m[1]}-${m[2]}-${m[3]}`, `${m[4]}:${m[5]}:${m[6]}`) : NaN;
  }

  // Paths relative to the session folder: the archive holds the folder itself.
  function stripRoot(paths) {
    const first = paths.map((p) => p.split('/')[0]);
    const root = first[0];
    const shared = paths.length > 1 && first.every((f) => f === root) && paths.every((p) => p.includes('/'));
    return { root: shared ? root : '', strip: (p) => (shared ? p.slice(root.length + 1) : p) };
  }

  const readFacts = Common.readInformation;

  // Yields to the page: a message, unlike a timer, is not held back 4 ms.
  function pause() {
    if (typeof MessageChannel !== 'function') return new Promise((resolve) => setTimeout(resolve, 0));
    return new Promise((resolve) => {
      const channel = new MessageChannel();
      channel.port1.onmessage = () => {
        channel.port1.close();
        resolve();
      };
      channel.port2.postMessage(null);
    });
  }

  function decode(bytes) {
    return decoder.decode(bytes);
  }

  // Seconds on the camera clock of a fact written by date(1) ("Sun Dec  6
  // 18:48:53 CET 2026"), or NaN.
  function factTime(value) {
    return Common.dateTextSeconds(value) ?? NaN;
  }

  // The camera's zone from Session_TimeZone.txt ("Zone: Europe/Stockholm",
  // "UTC offset: +0100"); a session without it is read as UTC.
  function readTimeZone(text) {
    const facts = new Map(readFacts(text).map((f) => [f.name, f.value]));
    const zone = facts.get('Zone');
    const offset = facts.get('UTC offset');
    if (!zone || !/^[+-]\d{4}$/.test(offset || '')) return null;
    return { zone, offset };
  }

  // The times a row may carry: from the session's start to a while after its
  // stop, by the facts. A start written before the camera's clock was set
  // (1970) bounds nothing but the years no session can have.
  function timeWindow(facts) {
    const fact = (re) => factTime((facts.find((f) => re.test(f.name)) || {}).value);
    const earliest = Date.UTC(Findings.THRESHOLDS.earliestYear, 0, 1) / 1000;
    const start = fact(/^Start Time/);
    const stop = fact(/^Stop Time/);
    const from = start >= earliest ? start - Findings.THRESHOLDS.clockSlackBeforeSeconds : earliest;
    const to = stop >= earliest && !(stop < start) ? stop + Findings.THRESHOLDS.clockSlackAfterSeconds : null;
    return { from, to, start: start >= earliest ? start : null, stop: to == null ? null : stop };
  }

  // Opens a session from its members: [{ path, size, read() -> bytes | Promise }].
  // `progress(done, total)` is called as files are read; the work yields to
  // the page between files so that a large session never freezes the tab.
  // `ruled(session)` is called once the rules have run, before the load
  // findings wait for top's snapshots: what only the rules needed can be
  // let go meanwhile.
  async function openSession(members, options = {}) {
    const progress = options.progress || (() => {});
    const files = members.filter((m) => !m.path.endsWith('/'));
    const { root, strip } = stripRoot(files.map((m) => m.path));
    const session = {
      root,
      facts: [],
      signature: [],
      files: [],
      series: [],
      snapshots: [],
      cpuCount: 0,
      cpuSource: '',
      zone: 'UTC',
      timeZone: null,
    };
    const kinds = files.map((m) => kindOf(strip(m.path)));
    const firstInterrupts = kinds.indexOf('interrupts');
    // Large CSV files are read as they are inflated, never whole.
    const streamed = (i) => kinds[i] === 'csv' && files[i].stream && files[i].size >= STREAM_FROM_BYTES;
    const wanted = (i) =>
      (['csv', 'information', 'signature', 'time zone'].includes(kinds[i]) || i === firstInterrupts) && !streamed(i);
    // Every member that is read is asked for at once, so that inflating in
    // the background overlaps the parsing of the ones already there.
    const reads = files.map((m, i) => {
      if (!wanted(i)) return null;
      const p = Promise.resolve().then(() => m.read());
      p.catch(() => {});
      return p;
    });
    const tables = [];
    // The largest CSV files may be read elsewhere (another thread), the
    // largest first, with one more always asked for, so that the other
    // thread goes on to it while this one makes series. This thread takes
    // the smallest one not yet asked for when it has nothing else to do,
    // and reads those not read there.
    const helperFiles = new Set(
      options.readTableElsewhere
        ? readElsewhere(
            files.map((m, i) => (kinds[i] === 'csv' ? m.size : 0)),
            streamed,
          )
        : [],
    );
    const unasked = [...helperFiles];
    const answered = []; // [index, table or null], as they come
    let wake = null;
    const askNext = () => {
      if (!unasked.length) return;
      const i = unasked.shift();
      options
        .readTableElsewhere(files[i])
        .catch(() => null)
        .then((table) => {
          answered.push([i, table]);
          if (wake) wake();
          askNext();
        });
    };
    askNext();
    askNext();
    // Top's snapshots (the largest file) are scanned only when the load
    // may call for them (its busy spells, once read), and then from when
    // this thread has read its own files, beside the series and rules (on
    // the other thread where one helps, after the tables it reads; here
    // when it cannot).
    const top = kinds.indexOf('top');
    const scanTopAt = (until) => {
      if (top < 0) return Promise.resolve(null);
      if (!options.scanTopElsewhere) return scanTop(files[top], until);
      return options.scanTopElsewhere(files[top], until).catch(() => scanTop(files[top], until));
    };
    let topScan = null;
    const startTopScan = (until) => topScan || (topScan = scanTopAt(until));
    let loadTable = null;
    let last = Date.now();
    for (let i = 0; i < files.length; i++) {
      const m = files[i];
      const path = strip(m.path);
      const kind = kinds[i];
      const file = { path, kind, size: m.size, error: null, warnings: [], series: [], faults: {} };
      session.files.push(file);
      if (!['csv', 'information', 'signature', 'time zone'].includes(kind)) {
        session.snapshots.push({
          path,
          kind,
          time: snapshotTime(path),
          size: m.size,
          read: () => m.read(),
          stream: m.stream && ((f) => m.stream(f)),
        });
      }
      if (helperFiles.has(i)) tables.push([file, null, '', i]);
      else if (streamed(i)) {
        try {
          tables.push([file, await streamTable(m), '']);
        } catch (e) {
          file.error = `cannot be read: ${e.message || e}`;
        }
      } else if (reads[i]) {
        let bytes;
        try {
          bytes = await reads[i];
        } catch (e) {
          file.error = `cannot be read: ${e.message || e}`;
          continue;
        } finally {
          reads[i] = null;
        }
        // A CSV file is read from its bytes; its text is kept only where
        // it may be a table without times.
        const text = kind === 'csv' ? '' : decode(bytes);
        if (kind === 'csv') {
          const table = Csv.readTableBytes(bytes);
          tables.push([file, table, table.fatal ? decode(bytes) : '']);
          if (LOAD_FILE.test(path)) loadTable = table;
        } else if (kind === 'information') session.facts = readFacts(text);
        else if (kind === 'signature') session.signature = readFacts(text);
        else if (kind === 'time zone') {
          session.timeZone = readTimeZone(text);
          if (!session.timeZone) file.error = 'not a time zone file (no "Zone:" and "UTC offset:" lines)';
        } else setCpuCount(session, Findings.cpuCountFromInterrupts(text), 'the interrupt snapshot');
      }
      if (Date.now() - last > 50) {
        progress(i + 1, files.length);
        await pause();
        last = Date.now();
      }
    }
    // The information file, read by now, may tell the CPU count where no
    // interrupt snapshot did: the scan then looks only as far as the load
    // rule will.
    setCpuCount(session, cpuCountFromFacts(session.facts), 'the session information');
    const busyUntil = loadTable && Findings.busyUntil(loadTable, session.cpuCount);
    if (busyUntil != null) startTopScan(busyUntil);
    session.window = timeWindow(session.facts);
    // The tables read here become series while the ones read elsewhere
    // are still coming; then each of those as it comes. The series keep
    // the files' order.
    const eventsOf = new Map();
    for (const [file, table, text] of tables) if (table) eventsOf.set(file, readCsv(file, table, text, session));
    const fileAt = new Map(tables.filter(([file]) => !eventsOf.has(file)).map(([file, , , i]) => [i, file]));
    while (fileAt.size) {
      let next;
      if (answered.length) next = answered.shift();
      else if (unasked.length) next = [unasked.pop(), null];
      else {
        await new Promise((resolve) => (wake = resolve));
        wake = null;
        continue;
      }
      const [i, read] = next;
      const file = fileAt.get(i);
      fileAt.delete(i);
      let table;
      try {
        table = read || (await streamTable(files[i]));
      } catch (e) {
        file.error = `cannot be read: ${e.message || e}`;
        continue;
      }
      eventsOf.set(file, readCsv(file, table, '', session));
    }
    const events = [];
    for (const [file] of tables) {
      if (!eventsOf.has(file)) continue;
      events.push(...eventsOf.get(file));
      for (const s of file.series) session.series.push(s);
    }
    await unpackServerReports(session);
    session.snapshots.sort((a, b) => (a.time || 0) - (b.time || 0) || a.path.localeCompare(b.path));
    if (session.timeZone) session.zone = session.timeZone.zone;
    if (!session.cpuCount) {
      const scan = await startTopScan(-Infinity);
      setCpuCount(session, scan && scan.cpus, "top's processor column");
    }
    session.clockEvents = clockEvents(events, session);
    const result = Findings.analyse(session.series, {
      cpuCount: session.cpuCount,
      clockEvents: session.clockEvents,
      files: session.files.map((f) => f.path),
    });
    session.findings = result.findings;
    session.unjudged = result.unjudged;
    if (options.ruled) options.ruled(session);
    if (session.findings.some((f) => f.rule === 'load'))
      await nameTopProcesses(session, startTopScan(Infinity), () => scanTopAt(Infinity));
    session.missing = missingParts(session);
    return session;
  }

  // The CSV files (by their sizes, 0 for a file that is not one) read on
  // another thread, among the streamed ones: the largest, and the next
  // largest while that thread's share stays within HELPER_SHARE of the CSV
  // bytes; the rest of the session (the small files, the series and rules)
  // is this thread's. The other thread also scans top's snapshots after its
  // tables: with four fifths of a week's CSV bytes (the process list and
  // the memory table) it finished that scan after this thread had made its
  // rules; with three quarters (the process list and vmstat) both end
  // together.
  const HELPER_SHARE = 0.75;
  function readElsewhere(sizes, streamed) {
    const total = sizes.reduce((a, b) => a + b, 0);
    const order = sizes.map((_, i) => i).filter((i) => streamed(i));
    order.sort((a, b) => sizes[b] - sizes[a]);
    const chosen = [];
    let share = 0;
    for (const i of order) {
      if (chosen.length && share + sizes[i] > total * HELPER_SHARE) continue;
      chosen.push(i);
      share += sizes[i];
    }
    return chosen;
  }

  const LOAD_FILE = Layout.inFolder('load', String.raw`load\.csv`);

  // From this size a CSV member is parsed as it is inflated.
  const STREAM_FROM_BYTES = 1024 * 1024;

  async function streamTable(m) {
    const reader = Csv.tableReader(m.size);
    await m.stream((chunk) => reader.pushBytes(chunk));
    return reader.finish();
  }

  function setCpuCount(session, count, source) {
    if (session.cpuCount > 0 || !(count > 0)) return;
    session.cpuCount = count;
    session.cpuSource = source;
  }

  // A "Number of CPUs" or "CPU cores" line of the information file, if any.
  function cpuCountFromFacts(facts) {
    const f = facts.find((x) => /^(number of )?cpu(s| cores| count)$/i.test(x.name));
    return f ? parseInt(f.value, 10) : 0;
  }

  // Clock events of every file, one per moment: the files whose rows went
  // back (or were dated before the clock was set) at about the same time
  // are one event of the camera's clock.
  function clockEvents(events, session) {
    const cluster = Findings.THRESHOLDS.resetClusterSeconds;
    const sorted = events
      .filter((e) => e.kind === 'unset' || Number.isFinite(e.at))
      .sort((a, b) => (a.to ?? Infinity) - (b.to ?? Infinity));
    const out = [];
    for (const e of sorted) {
      const prev = out.find((o) => o.kind === e.kind && Math.abs((o.to ?? 0) - (e.to ?? 0)) <= cluster);
      if (prev) {
        prev.rows += e.rows;
        prev.files.add(e.file);
        prev.at = Math.max(prev.at, e.at);
        prev.first = Math.min(prev.first, e.first);
      } else out.push({ ...e, files: new Set([e.file]) });
    }
    return out.map((e) => ({ ...e, files: [...e.files], start: session.window.start }));
  }

  // What a damaged session lacks, for the banner: the facts, files cut short
  // or unreadable, and the rules that could not run for lack of a file.
  function missingParts(session) {
    const parts = [];
    if (!session.facts.length) parts.push(`the session facts (${Layout.FILES.information})`);
    const cut = session.files.filter((f) => f.error && /cannot be read/.test(f.error)).map((f) => f.path);
    if (cut.length)
      parts.push(
        `${cut.length} file${cut.length === 1 ? '' : 's'} cut short or unreadable (${cut.slice(0, 3).join(', ')}${cut.length > 3 ? ', …' : ''})`,
      );
    for (const u of session.unjudged) parts.push(`the ${u.rule} rule (${u.why})`);
    return parts;
  }

  // The load findings name the processes that topped the top snapshots
  // taken then. The snapshots file is the session's largest: it is read
  // only when there is a load finding, and only the blocks in its time.
  // Scans top's snapshots (member m) as they are inflated, beside the
  // reading of the CSV files, up to `until`; resolves to the scan
  // (TrelvikFindings.topScanner) or null.
  function scanTop(m, until) {
    const scanner = Findings.topScanner(until);
    const done = m.stream
      ? m.stream((chunk) => scanner.push(chunk))
      : Promise.resolve(m.read()).then((b) => scanner.push(b));
    return done.then(
      () => scanner.result(),
      () => null,
    );
  }

  async function nameTopProcesses(session, topScan, scanAll) {
    const loads = session.findings.filter((f) => f.rule === 'load');
    const top = session.snapshots.find((s) => s.kind === 'top');
    if (!loads.length || !top) return;
    let scan = await topScan;
    // A scan begun for the CPU count alone, or for other times, is done again.
    if (scan && loads.some((f) => f.to + Findings.THRESHOLDS.topSlackSeconds > scan.reach)) scan = await scanAll();
    if (!scan) return; // the snapshot file shows its own error when opened
    for (const f of loads) {
      const busiest = Findings.busiestIn(scan, f.from, f.to + Findings.THRESHOLDS.topSlackSeconds);
      if (!busiest.length) continue;
      f.text = f.text.replace(
        /\.$/,
        `; top showed ${busiest.map((p) => `${p.name} (${p.cpu.toFixed(0)} % CPU on average)`).join(', ')} as the busiest.`,
      );
      f.files.push(top.path);
    }
  }

  // On the internal storage the server reports are packed into one
  // "Server_Reports.zip"; its reports are listed like loose ones.
  async function unpackServerReports(session) {
    for (const packed of session.snapshots.filter((s) => s.path.endsWith(`/${Layout.FOLDERS.serverReports}.zip`))) {
      let zip;
      try {
        zip = Archive.readZip(await packed.read());
      } catch {
        continue; // listed as it is; opening it tells why it cannot be read
      }
      for (const m of zip.members.filter((x) => !x.path.endsWith('/'))) {
        const path = `${packed.path}/${m.path}`;
        session.snapshots.push({
          path,
          kind: 'server report',
          time: snapshotTime(m.path),
          size: m.size,
          read: () => m.read(),
        });
      }
    }
  }

  // One CSV file into series, its rows checked against the session's time
  // window first; returns the file's clock events.
  function readCsv(file, parsed, text, session) {
    if (parsed.fatal) {
      // Only a table that has no Date column at all may stand without a time
      // axis; a time series that lost its rows is an error.
      const plain = !/no Date and Time/.test(parsed.fatal) ? null : Csv.readPlainTable(text);
      if (plain && !plain.header.some((h) => /^date$/i.test(h))) file.plain = plain;
      else file.error = parsed.fatal;
      return [];
    }
    const { table, events } = Csv.checkTimes(parsed, session.window);
    const errors = table.errors;
    file.faults = errors.counts;
    if (errors.total) {
      const more = errors.total - errors.length;
      file.warnings = errors.concat(more > 0 ? [`and ${more} more`] : []);
      file.error = `${Csv.describeFaults(errors.counts)} left out; the rest is shown`;
    }
    file.rows = table.t.length;
    if (!table.t.length) {
      file.error = `no rows inside the session's time (${Csv.describeFaults(errors.counts)})`;
      return events.map((e) => ({ ...e, file: file.path }));
    }
    file.series = Series.describeFile(file.path, table);
    if (!file.series.length) file.error = 'nothing in it to plot';
    return events.map((e) => ({ ...e, file: file.path }));
  }

  return { openSession, streamTable, scanTop, kindOf, snapshotTime, readFacts, readTimeZone, factTime, pause };
});

// A session, from its files (archive members or a chosen folder) to what the
// viewer shows: the facts of Session_Information.txt and .signature, every
// CSV file read into series (or its error), the text snapshots by time, and
// the findings. A file that cannot be read carries its error; it never stops
// the others.
//
// Global TrelvikSession in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) {
    module.exports = factory(require('./csv.js'), require('./series.js'), require('./findings.js'), require('./archive.js'));
  } else root.TrelvikSession = factory(root.TrelvikCsv, root.TrelvikSeries, root.TrelvikFindings, root.TrelvikArchive);
})(typeof self !== 'undefined' ? self : this, function (TC, TS, TF, TA) {
  'use strict';

  const decoder = new TextDecoder('utf-8');

  // Where a file sits decides what it is.
  function kindOf(path) {
    if (/(^|\/)Session_Information\.txt$/.test(path)) return 'information';
    if (/(^|\/)\.signature$/.test(path)) return 'signature';
    if (/\.csv$/i.test(path)) return 'csv';
    if (/Server_Reports\/Server_Report_[^/]*\.txt$/.test(path)) return 'server report';
    if (/monitoring_interrupts\/[^/]*_interrupts\.txt$/.test(path)) return 'interrupts';
    if (/monitoring_onvif\/[^/]*_media\.conf$/.test(path)) return 'media configuration';
    if (/monitoring_topstatus\/[^/]*\.txt$/.test(path)) return 'top';
    return 'other';
  }

  // The time a snapshot's name carries (camera clock), or NaN.
  function snapshotTime(path) {
    const name = path.slice(path.lastIndexOf('/') + 1);
    let m = /(\d{4})-(\d{2})-(\d{2})T(\d{2})(\d{2})(\d{2})/.exec(name);
    if (!m) m = /(\d{4})(\d{2})(\d{2})_(\d{2})(\d{2})(\d{2})/.exec(name);
    return m ? TC.parseTime(`${m[1]}-${m[2]}-${m[3]}`, `${m[4]}:${m[5]}:${m[6]}`) : NaN;
  }

  // Paths relative to the session folder: the archive holds the folder itself.
  function stripRoot(paths) {
    const first = paths.map((p) => p.split('/')[0]);
    const root = first[0];
    const shared = paths.length > 1 && first.every((f) => f === root) && paths.every((p) => p.includes('/'));
    return { root: shared ? root : '', strip: (p) => (shared ? p.slice(root.length + 1) : p) };
  }

  function readFacts(text) {
    const facts = [];
    for (const line of text.split('\n')) {
      const m = /^([^:]+):\s?(.*?)\s*$/.exec(line.replace(/\r$/, ''));
      if (m) facts.push({ name: m[1], value: m[2] });
    }
    return facts;
  }

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

  // Opens a session from its members: [{ path, size, read() -> bytes | Promise }].
  // `progress(done, total)` is called as files are read; the work yields to
  // the page between files so that a large session never freezes the tab.
  async function openSession(members, options = {}) {
    const progress = options.progress || (() => {});
    const files = members.filter((m) => !m.path.endsWith('/'));
    const { root, strip } = stripRoot(files.map((m) => m.path));
    const session = { root, facts: [], signature: [], files: [], series: [], snapshots: [], cpuCount: 0, zone: '' };
    const kinds = files.map((m) => kindOf(strip(m.path)));
    const firstInterrupts = kinds.indexOf('interrupts');
    // Every member that is read is asked for at once, so that inflating in
    // the background overlaps the parsing of the ones already there.
    const reads = files.map((m, i) => {
      const wanted = kinds[i] === 'csv' || kinds[i] === 'information' || kinds[i] === 'signature' || i === firstInterrupts;
      if (!wanted) return null;
      const p = Promise.resolve().then(() => m.read());
      p.catch(() => {});
      return p;
    });
    let last = Date.now();
    for (let i = 0; i < files.length; i++) {
      const m = files[i];
      const path = strip(m.path);
      const kind = kinds[i];
      const file = { path, kind, size: m.size, error: null, warnings: [], series: [] };
      session.files.push(file);
      if (kind !== 'csv' && kind !== 'information' && kind !== 'signature') {
        session.snapshots.push({ path, kind, time: snapshotTime(path), size: m.size, read: () => m.read() });
      }
      if (reads[i]) {
        let text;
        try {
          text = decode(await reads[i]);
        } catch (e) {
          file.error = `cannot be read: ${e.message || e}`;
          continue;
        } finally {
          reads[i] = null;
        }
        if (kind === 'csv') readCsv(file, text, session);
        else if (kind === 'information') session.facts = readFacts(text);
        else if (kind === 'signature') session.signature = readFacts(text);
        else session.cpuCount = TF.cpuCountFromInterrupts(text);
      }
      if (Date.now() - last > 50) {
        progress(i + 1, files.length);
        await pause();
        last = Date.now();
      }
    }
    await unpackServerReports(session);
    session.snapshots.sort((a, b) => (a.time || 0) - (b.time || 0) || a.path.localeCompare(b.path));
    const start = session.facts.find((f) => /^Start Time/.test(f.name));
    const zone = start && /\d\d:\d\d:\d\d (\S+) \d{4}$/.exec(start.value);
    session.zone = zone ? zone[1] : '';
    session.findings = TF.analyse(session.series, { cpuCount: session.cpuCount });
    return session;
  }

  // On the internal storage the server reports are packed into one
  // "Server_Reports.zip"; its reports are listed like loose ones.
  async function unpackServerReports(session) {
    for (const packed of session.snapshots.filter((s) => /Server_Reports\.zip$/.test(s.path))) {
      let zip;
      try {
        zip = TA.readZip(await packed.read());
      } catch (e) {
        continue; // listed as it is; opening it tells why it cannot be read
      }
      for (const m of zip.members.filter((x) => !x.path.endsWith('/'))) {
        const path = `${packed.path}/${m.path}`;
        session.snapshots.push({ path, kind: 'server report', time: snapshotTime(m.path), size: m.size, read: () => m.read() });
      }
    }
  }

  function readCsv(file, text, session) {
    const table = TC.readTable(text);
    if (table.fatal) {
      // Only a table that has no Date column at all may stand without a time
      // axis; a time series that lost its rows is an error.
      const plain = !/no Date and Time/.test(table.fatal) ? null : TC.readPlainTable(text);
      if (plain && !plain.header.some((h) => /^date$/i.test(h))) file.plain = plain;
      else file.error = table.fatal;
      return;
    }
    if (table.errors.total) {
      const more = table.errors.total - table.errors.length;
      file.warnings = table.errors.concat(more > 0 ? [`and ${more} more`] : []);
      file.error = `${table.errors.total} unreadable cell${table.errors.total === 1 ? '' : 's'} or row${table.errors.total === 1 ? '' : 's'}; the rest is shown`;
    }
    file.series = TS.describeFile(file.path, table);
    if (!file.series.length) file.error = 'nothing in it to plot';
    file.rows = table.t.length;
    for (const s of file.series) session.series.push(s);
  }

  return { openSession, kindOf, snapshotTime, readFacts, pause };
});

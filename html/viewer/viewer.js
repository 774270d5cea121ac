// The session viewer page: opens an archive or a folder (picker, drop, the
// page's ?archive= link, or the archive embedded by the report command),
// then shows the session's facts, findings, charts, snapshots and files,
// and tells in its banner what it is doing and what a reader must know.
// The page's entry: loaded last, after the modules it starts.
(function () {
  'use strict';

  const Archive = window.TrelvikArchive;
  const Session = window.TrelvikSession;
  const Findings = window.TrelvikFindings;
  const Layout = window.TrelvikLayout;
  const { byId: $, showBanner } = window.TrelvikCommon;
  const Reader = window.TrelvikReader;
  const Display = window.TrelvikDisplay;
  const Files = window.TrelvikFiles;

  // Counts the sessions opened: a session chosen while another is still
  // being read replaces it, and the older one stops where it is.
  let opening = 0;

  const pause = Session.pause;
  const { sizeText } = Files;

  // ---- opening ---------------------------------------------------------

  async function openZip(bytes, label) {
    showBanner(`Reading ${label}…`, 'busy');
    await pause();
    const zip = Archive.readZip(bytes);
    if (!zip.members.length) {
      showBanner(`${label}: ${zip.error}`, 'error');
      document.body.dataset.state = 'error';
      return;
    }
    await openMembers(zip.members, label, { archiveError: zip.error, archiveSize: bytes.length, bytes });
  }

  function fileMember(file, path) {
    return {
      path,
      size: file.size,
      read: async () => {
        if (file.size > Archive.MAX_MEMBER_BYTES)
          throw new Error(`is ${sizeText(file.size)}, more than the viewer opens`);
        return new Uint8Array(await file.arrayBuffer());
      },
    };
  }

  // An archive chosen as a file: the workers read it out of the file, so
  // the page holds no copy of its bytes (a week's archive is several
  // megabytes); where no worker starts, it is read here after all.
  async function openZipFile(file, label) {
    showBanner(`Reading ${label}…`, 'busy');
    await openMembers(null, label, { file, archiveSize: file.size });
  }

  async function openMembers(members, label, extra) {
    const mine = ++opening;
    document.body.dataset.state = 'loading';
    reset();
    let session;
    const progress = (done, total) =>
      mine === opening && showBanner(`Reading ${label}: ${done} of ${total} files…`, 'busy');
    try {
      const source = extra.file ? { file: extra.file } : extra.bytes ? { bytes: extra.bytes } : null;
      session = source ? await Reader.openInWorker(source, progress) : null;
      if (session) {
        Reader.attachReaders(session, members || Reader.membersOfFile(extra.file, session.memberPaths));
        extra.archiveError = extra.archiveError || session.zipError;
        delete session.zipError;
        delete session.memberPaths;
      } else {
        if (!members) {
          const zip = Archive.readZip(new Uint8Array(await extra.file.arrayBuffer()));
          if (!zip.members.length) throw Object.assign(new Error(zip.error), { notZip: true });
          members = zip.members;
          extra.archiveError = zip.error;
        }
        session = await Session.openSession(members, { progress });
      }
    } catch (e) {
      if (mine !== opening) return;
      showBanner(e.notZip ? `${label}: ${e.message}` : `${label} could not be opened: ${e.message || e}`, 'error');
      document.body.dataset.state = 'error';
      return;
    }
    if (mine !== opening) return;
    session.label = label;
    session.archiveError = extra.archiveError || null;
    session.archiveSize = extra.archiveSize || 0;
    showBanner(`Drawing ${label}…`, 'busy');
    const charts = await render(session);
    if (mine !== opening) return;
    document.title = pageTitle(session);
    const lines = bannerLines(session, charts);
    // Red for damage only: a rule that had nothing to judge (a camera
    // without fans) is told, not alarmed about.
    const damaged = session.archiveError || !session.facts.length || session.files.some((f) => f.error);
    showBanner(lines.join('\n'), damaged ? 'error' : '');
    document.body.dataset.state = 'ready';
  }

  // "Trelvik session ACCC8E000001, 2026-12-06 18:48 (Europe/Stockholm)".
  function pageTitle(session) {
    const fact = (name) => (session.facts.find((f) => f.name === name) || {}).value;
    const serial = fact('Serial Number');
    const start = Session.factTime(fact('Start Time of the session'));
    const when = Number.isNaN(start) ? '' : `, ${Findings.fmtTime(start)} (${session.zone})`;
    return serial || when
      ? `Trelvik session ${serial || 'of an unknown camera'}${when}`
      : `Trelvik session ${session.label}`;
  }

  // The banner: what is shown, then one line for each thing a reader must
  // know before trusting it (what is missing, rows left out, the zone).
  function bannerLines(session, charts) {
    const lines = [
      `${session.label}: ${session.files.length} files, ${charts} charts, ${session.findings.length} findings. Times are the camera's (${session.zone}).`,
    ];
    if (session.archiveError) lines.push(`The archive is damaged: ${session.archiveError}.`);
    if (session.missing.length) lines.push(`Missing: ${session.missing.join('; ')}.`);
    const leftOut = session.files
      .filter((f) => f.faults && Object.keys(f.faults).length)
      .sort((a, b) => a.path.localeCompare(b.path));
    if (leftOut.length) {
      const rows = leftOut.reduce((n, f) => n + Object.values(f.faults).reduce((a, b) => a + b, 0), 0);
      const names = leftOut.map((f) => f.path.slice(f.path.lastIndexOf('/') + 1));
      lines.push(
        `${rows} damaged or mistimed row${rows === 1 ? '' : 's'} left out of charts and rules, in ${names.slice(0, 4).join(', ')}${names.length > 4 ? ` and ${names.length - 4} more files` : ''}: see Files.`,
      );
    }
    const unread = session.files.filter((f) => f.error && !(f.faults && Object.keys(f.faults).length)).length;
    if (unread) lines.push(`${unread} file${unread === 1 ? '' : 's'} could not be read: see Files.`);
    if (!session.timeZone) lines.push(`The session has no ${Layout.FILES.timeZone}: its times are read as UTC.`);
    return lines;
  }

  function reset() {
    Display.clear();
    Files.clear();
  }

  // The session's sections, once it is read; resolves to the number of
  // charts, or to null where another session replaced this one meanwhile.
  async function render(session) {
    const charts = await Display.show(session);
    if (charts == null) return null;
    Files.renderSnapshots(session);
    Files.renderFiles(session);
    return charts;
  }

  // ---- sources ---------------------------------------------------------

  async function openFileList(files) {
    const list = [...files];
    if (list.length === 1 && /\.zip$/i.test(list[0].name)) return openZipFile(list[0], list[0].name);
    const members = list.map((f) => fileMember(f, f.webkitRelativePath || f.name));
    const label = (list[0] && list[0].webkitRelativePath.split('/')[0]) || 'folder';
    return openMembers(members, label, {});
  }

  // A dropped folder, walked through the entries API.
  async function walkEntry(entry, out) {
    if (entry.isFile) {
      const file = await new Promise((resolve, reject) => entry.file(resolve, reject));
      out.push(fileMember(file, entry.fullPath.replace(/^\//, '')));
      return;
    }
    const reader = entry.createReader();
    for (;;) {
      const batch = await new Promise((resolve, reject) => reader.readEntries(resolve, reject));
      if (!batch.length) break;
      for (const e of batch) await walkEntry(e, out);
    }
  }

  async function onDrop(event) {
    event.preventDefault();
    document.body.classList.remove('dragging');
    const items = [...(event.dataTransfer.items || [])];
    const entries = items.map((i) => i.webkitGetAsEntry && i.webkitGetAsEntry()).filter(Boolean);
    if (entries.length === 1 && entries[0].isDirectory) {
      const members = [];
      try {
        await walkEntry(entries[0], members);
      } catch (e) {
        showBanner(`The folder could not be read: ${e.message || e}`, 'error');
        return;
      }
      return openMembers(members, entries[0].name, {});
    }
    return openFileList(event.dataTransfer.files);
  }

  async function openUrl(url) {
    showBanner(`Fetching ${url}…`, 'busy');
    try {
      const reply = await fetch(url, { cache: 'no-store' });
      if (!reply.ok) throw new Error(`${reply.status} ${reply.statusText}`);
      await openZip(new Uint8Array(await reply.arrayBuffer()), decodeURIComponent(url.split('/').pop() || url));
    } catch (e) {
      showBanner(`The archive ${url} could not be fetched: ${e.message || e}`, 'error');
      document.body.dataset.state = 'error';
    }
  }

  // The archive the report command embedded: one character per byte of a
  // windows-1252 page, "=" and the byte plus 0x40 for the few bytes a page
  // cannot hold as they are.
  function embeddedArchive() {
    const node = document.getElementById('trelvik-archive');
    if (!node) return null;
    const text = node.textContent;
    const byteOf = new Map();
    const chars = new TextDecoder('windows-1252').decode(Uint8Array.from({ length: 256 }, (_, i) => i));
    for (let i = 0; i < 256; i++) byteOf.set(chars.charCodeAt(i), i);
    const table = new Uint8Array(65536);
    for (const [code, byte] of byteOf) table[code] = byte;
    // The element's text starts and ends with the line ends around it.
    const from = text.charCodeAt(0) === 10 ? 1 : 0;
    const to = text.charCodeAt(text.length - 1) === 10 ? text.length - 1 : text.length;
    const bytes = new Uint8Array(to - from);
    let n = 0;
    for (let i = from; i < to; i++) {
      const code = text.charCodeAt(i);
      if (code === 61) bytes[n++] = text.charCodeAt(++i) - 0x40;
      else bytes[n++] = table[code];
    }
    return { bytes: bytes.subarray(0, n), label: node.dataset.name || 'session.zip' };
  }

  function start() {
    $('zip-input').addEventListener('change', (e) => e.target.files.length && openFileList(e.target.files));
    $('folder-input').addEventListener('change', (e) => e.target.files.length && openFileList(e.target.files));
    $('range-reset').addEventListener('click', () => Display.showWhole());
    document.addEventListener('dragover', (e) => {
      e.preventDefault();
      document.body.classList.add('dragging');
    });
    document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
    document.addEventListener('drop', onDrop);
    let resizeTimer = 0;
    window.addEventListener('resize', () => {
      clearTimeout(resizeTimer);
      resizeTimer = setTimeout(() => Display.fitWidth(), 200);
    });
    const embedded = embeddedArchive();
    const url = new URLSearchParams(location.search).get('archive');
    if (embedded) {
      $('open').hidden = true;
      openZip(embedded.bytes, embedded.label);
    } else if (url) openUrl(url);
    else {
      document.body.dataset.state = 'empty';
      Reader.prepare();
    }
  }

  start();
})();

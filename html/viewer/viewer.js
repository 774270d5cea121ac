// The session viewer page: opens an archive or a folder (picker, drop, the
// page's ?archive= link, or the archive embedded by the report command),
// then shows the session's facts, findings, charts, snapshots and files.
(function () {
  'use strict';

  const TA = window.TrelvikArchive;
  const TSn = window.TrelvikSession;
  const TS = window.TrelvikSeries;
  const TF = window.TrelvikFindings;
  const TCh = window.TrelvikCharts;
  const TL = window.TrelvikLayout;
  const { byId: $, element: el, showBanner } = window.TrelvikCommon;
  const decoder = new TextDecoder('utf-8');

  let current = null; // { session, group, plots, full: [min, max] }
  // Counts the sessions opened: a session chosen while another is still
  // being read replaces it, and the older one stops where it is.
  let opening = 0;

  const pause = TSn.pause;
  const sizeText = (n) => TCh.fmtValue(n / 1024, 'kB');

  // ---- opening ---------------------------------------------------------

  async function openZip(bytes, label) {
    showBanner(`Reading ${label}…`, 'busy');
    await pause();
    const zip = TA.readZip(bytes);
    if (!zip.members.length) {
      showBanner(`${label}: ${zip.error}`, 'error');
      document.body.dataset.state = 'error';
      return;
    }
    await openMembers(zip.members, label, { archiveError: zip.error, archiveSize: bytes.length, bytes });
  }

  // An archive is read in a worker started from the page's own modules (a
  // Blob: it starts from file:// and inside the one-file report alike), so
  // that the reading's garbage goes with the worker instead of staying in
  // the tab. Resolves to the session, or null where no worker starts.
  function openInWorker(bytes, progress) {
    let worker;
    let url;
    try {
      url = URL.createObjectURL(new Blob([`${window.TrelvikWorkerSources.join('\n')}\n(${workerMain})();`], { type: 'text/javascript' }));
      worker = new Worker(url);
    } catch {
      if (url) URL.revokeObjectURL(url);
      return Promise.resolve(null);
    }
    const helper = startHelper(url, bytes, worker);
    return new Promise((resolve, reject) => {
      let started = false;
      const end = () => {
        worker.terminate();
        if (helper) helper.terminate();
        URL.revokeObjectURL(url);
      };
      worker.onmessage = ({ data }) => {
        if (data.started) started = true;
        else if (data.progress) progress(...data.progress);
        else {
          end();
          if (data.error != null) reject(new Error(data.error));
          else resolve(data.session);
        }
      };
      worker.onerror = (e) => {
        e.preventDefault();
        end();
        if (started) reject(new Error(e.message || 'the reading stopped'));
        else resolve(null);
      };
      const copy = bytes.slice();
      worker.postMessage(copy, [copy.buffer]);
    });
  }

  // The helper worker that reads the largest CSV file beside the worker,
  // joined to it by a channel; null where none starts (the worker then
  // reads that file itself, as it does when the helper stops).
  function startHelper(url, bytes, worker) {
    try {
      const helper = new Worker(url);
      const channel = new MessageChannel();
      const copy = bytes.slice();
      helper.onerror = (e) => {
        e.preventDefault();
        helper.terminate();
        worker.postMessage({ helperLost: true });
      };
      helper.postMessage({ helps: channel.port2, bytes: copy }, [channel.port2, copy.buffer]);
      worker.postMessage({ port: channel.port1 }, [channel.port1]);
      return helper;
    } catch {
      return null;
    }
  }

  // The worker's own code. The session crosses to the page without what
  // only the rules needed (the raw counters, PIDs and resets behind the
  // findings, made already) and without its snapshots' readers, which cannot
  // cross (attachReaders gives them back); its time and number columns
  // cross as typed arrays, handed over rather than copied, that stay out
  // of the page's heap.
  // Series of files written in the same rounds have the same times: those
  // cross once, shared.
  function workerMain() {
    const typed = new Map();
    const byEnds = new Map(); // "length first last" -> the typed times so far
    const same = (a, b) => {
      for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
      return true;
    };
    // One pass: copied while every value is a number, else left as it is.
    const asTyped = (a) => {
      if (!Array.isArray(a) || a.length < 64) return a;
      if (typed.has(a)) return typed.get(a);
      const out = new Float64Array(a.length);
      for (let i = 0; i < a.length; i++) {
        const x = a[i];
        if (typeof x !== 'number') return a;
        out[i] = x;
      }
      typed.set(a, out);
      return out;
    };
    const asSharedTimes = (a) => {
      if (!Array.isArray(a) || a.length < 64) return a;
      const key = `${a.length} ${a[0]} ${a[a.length - 1]}`;
      const known = byEnds.get(key) || [];
      const found = known.find((k) => same(a, k));
      if (found) return found;
      const t = asTyped(a);
      if (t instanceof Float64Array) byEnds.set(key, known.concat([t]));
      return t;
    };
    // The largest CSV file is read by a helper, a second worker of the same
    // code, meanwhile: a second core reads it while this one reads the rest.
    // The page hands both ends of a channel out; this end asks for a path,
    // the helper (which has the archive too) answers with the packed table.
    let helperPort = null;
    let helperLost = () => {};
    const readByHelper = (m) => new Promise((resolve, reject) => {
      helperLost = () => reject(new Error('the helper stopped'));
      helperPort.onmessage = ({ data }) => {
        if (data.table) resolve(self.TrelvikCsv.unpackTable(data.table));
        else reject(new Error(data.error));
      };
      helperPort.postMessage({ path: m.path });
    });
    const help = (port, bytes) => {
      port.onmessage = async ({ data }) => {
        try {
          const m = self.TrelvikArchive.readZip(bytes).members.find((x) => x.path === data.path);
          const { message, transfer } = self.TrelvikCsv.packTable(await self.TrelvikSession.streamTable(m));
          port.postMessage({ table: message }, transfer);
        } catch (e) {
          port.postMessage({ error: String((e && e.message) || e) });
        }
      };
    };
    postMessage({ started: true });
    self.onmessage = async ({ data }) => {
      if (data.helps) return help(data.helps, data.bytes);
      if (data.port) {
        helperPort = data.port;
        return;
      }
      if (data.helperLost) return helperLost();
      try {
        const zip = self.TrelvikArchive.readZip(data);
        const session = await self.TrelvikSession.openSession(zip.members, {
          progress: (done, total) => postMessage({ progress: [done, total] }),
          readTableElsewhere: helperPort ? readByHelper : null,
        });
        session.snapshots = session.snapshots.map(({ read, stream, ...s }) => s);
        for (const s of session.series) {
          delete s.raw;
          delete s.pid;
          delete s.resets;
          s.t = asSharedTimes(s.t);
          if (s.kind !== 'state') s.v = asTyped(s.v);
        }
        const crossing = new Set(session.series.flatMap((s) => [s.t, s.v]).filter((a) => a instanceof Float64Array).map((a) => a.buffer));
        postMessage({ session }, [...crossing]);
      } catch (e) {
        postMessage({ error: String((e && e.message) || e) });
      }
    };
  }

  // The snapshots' readers over the page's own members of the archive; a
  // server report packed in a zip of its own is read out of it.
  function attachReaders(session, members) {
    const strip = (p) => (session.root ? p.slice(session.root.length + 1) : p);
    const byPath = new Map(members.map((m) => [strip(m.path), m]));
    for (const s of session.snapshots) {
      const m = byPath.get(s.path);
      if (m) {
        s.read = () => m.read();
        s.stream = m.stream && ((f) => m.stream(f));
        continue;
      }
      const packed = session.snapshots.find((p) => s.path.startsWith(`${p.path}/`) && byPath.has(p.path));
      if (!packed) continue;
      const inner = s.path.slice(packed.path.length + 1);
      s.read = async () => TA.readZip(await byPath.get(packed.path).read()).members.find((x) => x.path === inner).read();
    }
  }

  function fileMember(file, path) {
    return {
      path,
      size: file.size,
      read: async () => {
        if (file.size > TA.MAX_MEMBER_BYTES) throw new Error(`is ${sizeText(file.size)}, more than the viewer opens`);
        return new Uint8Array(await file.arrayBuffer());
      },
    };
  }

  async function openMembers(members, label, extra) {
    const mine = ++opening;
    document.body.dataset.state = 'loading';
    reset();
    let session;
    const progress = (done, total) => mine === opening && showBanner(`Reading ${label}: ${done} of ${total} files…`, 'busy');
    try {
      session = extra.bytes ? await openInWorker(extra.bytes, progress) : null;
      if (session) attachReaders(session, members);
      else session = await TSn.openSession(members, { progress });
    } catch (e) {
      if (mine !== opening) return;
      showBanner(`${label} could not be opened: ${e.message || e}`, 'error');
      document.body.dataset.state = 'error';
      return;
    }
    if (mine !== opening) return;
    session.label = label;
    session.archiveError = extra.archiveError || null;
    session.archiveSize = extra.archiveSize || 0;
    showBanner(`Drawing ${label}…`, 'busy');
    await render(session);
    if (mine !== opening) return;
    document.title = pageTitle(session);
    const lines = bannerLines(session);
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
    const start = TSn.factTime(fact('Start Time of the session'));
    const when = Number.isNaN(start) ? '' : `, ${TF.fmtTime(start)} (${session.zone})`;
    return serial || when ? `Trelvik session ${serial || 'of an unknown camera'}${when}` : `Trelvik session ${session.label}`;
  }

  // The banner: what is shown, then one line for each thing a reader must
  // know before trusting it (what is missing, rows left out, the zone).
  function bannerLines(session) {
    const lines = [`${session.label}: ${session.files.length} files, ${current.charts} charts, ${session.findings.length} findings. Times are the camera's (${session.zone}).`];
    if (session.archiveError) lines.push(`The archive is damaged: ${session.archiveError}.`);
    if (session.missing.length) lines.push(`Missing: ${session.missing.join('; ')}.`);
    const leftOut = session.files.filter((f) => f.faults && Object.keys(f.faults).length).sort((a, b) => a.path.localeCompare(b.path));
    if (leftOut.length) {
      const rows = leftOut.reduce((n, f) => n + Object.values(f.faults).reduce((a, b) => a + b, 0), 0);
      const names = leftOut.map((f) => f.path.slice(f.path.lastIndexOf('/') + 1));
      lines.push(`${rows} damaged or mistimed row${rows === 1 ? '' : 's'} left out of charts and rules, in ${names.slice(0, 4).join(', ')}${names.length > 4 ? ` and ${names.length - 4} more files` : ''}: see Files.`);
    }
    const unread = session.files.filter((f) => f.error && !(f.faults && Object.keys(f.faults).length)).length;
    if (unread) lines.push(`${unread} file${unread === 1 ? '' : 's'} could not be read: see Files.`);
    if (!session.timeZone) lines.push(`The session has no ${TL.FILES.timeZone}: its times are read as UTC.`);
    return lines;
  }

  function reset() {
    if (current) for (const p of current.plots) p.destroy();
    if (current && current.observer) current.observer.disconnect();
    current = null;
    for (const id of ['facts-list', 'findings-list', 'charts', 'groups', 'files-body']) $(id).replaceChildren();
  }

  // ---- rendering -------------------------------------------------------

  async function render(session) {
    renderFacts(session);
    const charts = TS.buildCharts(session.series);
    const times = session.series.flatMap((s) => (s.t.length ? [s.t[0], s.t[s.t.length - 1]] : []));
    const full = times.length ? [Math.min(...times), Math.max(...times)] : null;
    current = { session, plots: [], charts: charts.length, full, shown: null, group: TCh.createGroup(showRange) };
    renderFindings(session);
    await renderCharts(session, charts);
    if (!current || current.session !== session) return;
    renderSnapshots(session);
    renderFiles(session);
    if (full) showRange(full[0], full[1]);
  }

  const FACT_ORDER = ['Model Name', 'Serial Number', 'Firmware version', 'Edge storage location',
    'Start Time of the session', 'Stop Time of the session', 'Collected Data Points', 'Duration', 'Session Size'];

  function renderFacts(session) {
    const list = $('facts-list');
    const add = (name, value) => list.append(el('dt', { text: name }), el('dd', { text: value }));
    const facts = new Map(session.facts.map((f) => [f.name, f.value]));
    for (const name of FACT_ORDER) if (facts.has(name)) add(name, facts.get(name));
    for (const [name, value] of facts) if (!FACT_ORDER.includes(name)) add(name, value);
    for (const f of session.signature) add(`Signature ${f.name}`, f.value);
    if (session.archiveSize) add('Archive size', sizeText(session.archiveSize));
    add('Time zone', session.timeZone ? `${session.timeZone.zone} (UTC ${session.timeZone.offset} at the start)` : `UTC (no ${TL.FILES.timeZone} in the session)`);
    add('CPUs', session.cpuCount ? `${session.cpuCount} (from ${session.cpuSource})` : 'unknown (nothing in the session tells)');
    if (!session.facts.length) add('Information', `${TL.FILES.information} is missing from this session.`);
    $('facts').hidden = false;
  }

  function renderFindings(session) {
    const list = $('findings-list');
    for (const f of session.findings) {
      const range = `${TF.fmtTime(f.from)} – ${TF.fmtTime(f.to)} ${session.zone}`;
      list.append(el('li', { class: `finding ${f.severity}`, 'data-rule': f.rule, 'data-from': f.from, 'data-to': f.to },
        el('span', { class: `severity ${f.severity}`, text: f.severity }), ' ',
        el('span', { class: 'text', text: f.text }), ' ',
        el('button', { type: 'button', text: 'Show', 'aria-label': `Zoom every chart to ${range}`, onclick: () => zoomTo(f.from, f.to) }),
        el('span', { class: 'evidence', text: `${range} · ${f.files.join(', ')}` })));
    }
    for (const u of session.unjudged) {
      list.append(el('li', { class: 'finding unjudged', 'data-rule': u.rule },
        el('span', { class: 'severity info', text: 'not judged' }), ' ',
        el('span', { class: 'text', text: `The ${u.rule} rule could not run: ${u.why}.` })));
    }
    $('findings-none').hidden = session.findings.length > 0 || session.unjudged.length > 0;
    $('findings').hidden = false;
  }

  function zoomTo(from, to) {
    if (!current) return;
    const margin = Math.max((to - from) * 0.25, 1800);
    const [first, last] = current.full || [from - margin, to + margin];
    current.group.zoom(Math.max(first, from - margin), Math.min(last, to + margin));
    $('plots').scrollIntoView({ behavior: 'smooth', block: 'start' });
  }

  function showRange(min, max) {
    if (min == null) return;
    if (current) current.shown = [min, max];
    const zone = current ? ` ${current.session.zone}` : '';
    $('range-text').textContent = `Shown: ${TF.fmtTime(min)} – ${TF.fmtTime(max)}${zone}`;
  }

  // Every chart's figure is laid out at once, but a chart is drawn only
  // once it comes near the screen: drawing a week's forty charts would cost
  // the tab a second and much of its memory before anything is read.
  async function renderCharts(session, charts) {
    $('plots').hidden = false;
    const box = $('charts');
    const period = TS.typicalInterval(session.series.find((s) => s.chart === 'load')?.t || []);
    const gapLimit = (period > 0 ? period : 120) * TF.THRESHOLDS.gapFactor * 2;
    const waiting = new Map(); // figure -> its drawing, until drawn
    const drawWhenNear = (entries) => {
      for (const e of entries) if (e.isIntersecting && waiting.has(e.target)) waiting.get(e.target)();
    };
    const observer = typeof IntersectionObserver === 'function' ? new IntersectionObserver(drawWhenNear, { rootMargin: '100% 0px' }) : null;
    current.observer = observer;
    let lastGroup = null;
    for (const chart of charts) {
      if (chart.group !== lastGroup) {
        lastGroup = chart.group;
        const title = TS.GROUPS.find((g) => g[0] === chart.group)[1];
        box.append(el('h3', { id: `group-${chart.group}`, text: title }));
        $('groups').append(el('a', { href: `#group-${chart.group}`, text: title }));
      }
      const plot = el('div', { class: 'plot waiting' });
      const files = [...chart.files];
      const note = chart.total > 0 ? el('span', { class: 'source', text: `MemTotal ${TCh.fmtValue(chart.total, 'kB')}: the scale follows what moves, not the total.` }) : null;
      const figure = el('figure', { class: 'chart', 'data-chart': chart.id, 'data-files': JSON.stringify(files) },
        el('figcaption', { text: chart.title }, el('span', { class: 'source', text: files.length > 3 ? `${files.length} files in ${dirOf(files[0])}` : files.join(', ') }), note),
        plot);
      box.append(figure);
      if (chart.id === 'streams') figure.append(changesTable(chart.series[0]));
      waiting.set(figure, () => {
        waiting.delete(figure);
        if (observer) observer.unobserve(figure);
        drawChart(session, chart, figure, plot, gapLimit);
      });
      if (observer) observer.observe(figure);
    }
    // What is on screen now is drawn before the page says it is ready; the
    // observer's first report would come a frame later.
    const near = window.innerHeight * 2;
    for (const [figure, draw] of [...waiting]) {
      const r = figure.getBoundingClientRect();
      if (!observer || (r.bottom > -near / 2 && r.top < near)) draw();
    }
    const plain = session.files.filter((x) => x.plain);
    if (plain.length && lastGroup !== 'other') {
      const title = TS.GROUPS.find((g) => g[0] === 'other')[1];
      box.append(el('h3', { id: 'group-other', text: title }));
      $('groups').append(el('a', { href: '#group-other', text: title }));
    }
    for (const f of plain) {
      box.append(el('figure', { class: 'chart', 'data-chart': `table:${f.path}`, 'data-files': JSON.stringify([f.path]) },
        el('figcaption', { text: `${f.path} (no time axis)` }), plainTable(f.plain)));
    }
  }

  // One chart into its figure, at the range the others show now.
  function drawChart(session, chart, figure, plot, gapLimit) {
    if (!current || current.session !== session) return;
    plot.classList.remove('waiting');
    const width = Math.max(300, $('charts').clientWidth || 800);
    try {
      const u = TCh.makeChart(chart, plot, { group: current.group, findings: session.findings, width, range: current.shown || current.full, gapLimit });
      current.plots.push(u);
      if (chart.searchable) figure.insertBefore(processSearch(chart, u), plot);
    } catch (e) {
      figure.insertBefore(el('p', { class: 'file-error', text: `This chart could not be drawn: ${e.message || e}` }), plot.nextSibling);
    }
  }

  const dirOf = (p) => p.slice(0, p.lastIndexOf('/') + 1);

  // The largest processes are drawn at first; the others are found by a
  // part of their name or command line, and drawn while they match.
  function processSearch(chart, u) {
    const input = el('input', { type: 'search', placeholder: 'name or command line', 'aria-label': `Show processes in "${chart.title}" by name` });
    input.addEventListener('input', () => {
      const words = input.value.trim().toLowerCase();
      chart.series.forEach((s, k) => {
        const match = words ? `${s.label} ${s.title || ''}`.toLowerCase().includes(words) : s.show;
        u.setSeries(k + 1, { show: match });
      });
    });
    return el('label', { class: 'process-search' }, `${chart.series.length} processes, the largest shown; find others: `, input);
  }

  // The streams' configuration as a list of its changes.
  function changesTable(s) {
    const body = el('tbody');
    let previous;
    let rows = 0;
    for (let i = 0; i < s.t.length && rows < 500; i++) {
      if (s.text[i] === previous) continue;
      previous = s.text[i];
      rows++;
      body.append(el('tr', {}, el('td', { text: TCh.fmtTime(s.t[i]) }), el('td', { text: s.text[i] })));
    }
    return el('table', { class: 'changes' },
      el('caption', { text: 'Changes of the stream configuration' }),
      el('thead', {}, el('tr', {}, el('th', { scope: 'col', text: 'From' }), el('th', { scope: 'col', text: 'Streams' }))), body);
  }

  function plainTable(plain) {
    return el('table', { class: 'plain' },
      el('thead', {}, el('tr', {}, ...plain.header.map((h) => el('th', { scope: 'col', text: h })))),
      el('tbody', {}, ...plain.rows.slice(0, 200).map((r) => el('tr', {}, ...r.map((c) => el('td', { text: c }))))));
  }

  function renderFiles(session) {
    const body = $('files-body');
    if (session.archiveError) {
      body.append(el('tr', { class: 'file-row', 'data-error': '1' }, el('td', { text: session.label }), el('td', { text: '' }), el('td', { text: '' }),
        el('td', { class: 'bad', role: 'alert', text: session.archiveError })));
    }
    const files = [...session.files].sort((a, b) => dirOf(a.path).localeCompare(dirOf(b.path)) || a.path.localeCompare(b.path));
    for (const f of files) {
      const status = f.error
        ? el('td', { class: 'bad', text: [f.error, ...f.warnings].join('; ') })
        : el('td', { class: 'good', text: f.kind === 'csv' ? (f.plain ? 'table' : 'charted') : f.kind });
      const faults = f.faults ? Object.values(f.faults).reduce((a, b) => a + b, 0) : 0;
      body.append(el('tr', { class: 'file-row', 'data-path': f.path, 'data-error': f.error ? '1' : '0', 'data-left-out': String(faults) },
        el('td', { text: f.path }), el('td', { text: f.rows != null ? String(f.rows) : '' }),
        el('td', { text: faults ? String(faults) : '' }), status));
    }
    $('files').hidden = false;
  }

  // ---- snapshots -------------------------------------------------------

  function renderSnapshots(session) {
    const select = $('snapshot-select');
    select.replaceChildren(el('option', { value: '', text: 'Choose a snapshot…' }));
    const groups = new Map();
    session.snapshots.forEach((s, i) => {
      if (!groups.has(s.kind)) groups.set(s.kind, el('optgroup', { label: s.kind }));
      const when = Number.isNaN(s.time) ? '' : `${TCh.fmtTime(s.time)} · `;
      groups.get(s.kind).append(el('option', { value: String(i), text: `${when}${s.path.slice(s.path.lastIndexOf('/') + 1)}` }));
    });
    for (const g of groups.values()) select.append(g);
    select.onchange = () => showSnapshot(session, select.value);
    $('snapshots').hidden = session.snapshots.length === 0;
    $('snapshot-text').textContent = '';
    $('top-label').hidden = true;
    $('compare').hidden = true;
    $('compare-table').hidden = true;
  }

  async function snapshotText(s) {
    return decoder.decode(await s.read());
  }

  async function showSnapshot(session, value) {
    const pre = $('snapshot-text');
    $('top-label').hidden = true;
    $('compare').hidden = true;
    $('compare-table').hidden = true;
    if (value === '') return;
    const s = session.snapshots[+value];
    if (/\.(data|zip)$/.test(s.path)) {
      pre.textContent = `${s.path}: ${sizeText(s.size)} of binary data (not shown).`;
      return;
    }
    let text;
    try {
      text = await snapshotText(s);
    } catch (e) {
      pre.textContent = `${s.path} cannot be read: ${e.message || e}`;
      return;
    }
    if (s.kind === 'top') return showTop(text);
    pre.textContent = text;
    if (s.kind === 'interrupts') offerCompare(session, s, text);
  }

  // topstatus.txt holds one "=== date time ===" block per snapshot.
  function showTop(text) {
    const marks = [...text.matchAll(/^=== (.+) ===$/gm)];
    const select = $('top-select');
    select.replaceChildren(...marks.map((m, i) => el('option', { value: String(i), text: m[1] })));
    const show = () => {
      const i = +select.value;
      const end = i + 1 < marks.length ? marks[i + 1].index : text.length;
      $('snapshot-text').textContent = text.slice(marks[i].index, end);
    };
    select.onchange = show;
    $('top-label').hidden = false;
    if (marks.length) show();
    else $('snapshot-text').textContent = text;
  }

  function offerCompare(session, first, firstText) {
    const others = session.snapshots.map((s, i) => [s, i]).filter(([s]) => s.kind === 'interrupts' && s !== first);
    if (!others.length) return;
    const select = $('compare-select');
    select.replaceChildren(el('option', { value: '', text: 'Choose another interrupt snapshot…' }),
      ...others.map(([s, i]) => el('option', { value: String(i), text: TCh.fmtTime(s.time) })));
    select.onchange = async () => {
      if (select.value === '') return;
      const other = session.snapshots[+select.value];
      try {
        showDeltas(first, firstText, other, await snapshotText(other));
      } catch (e) {
        $('snapshot-text').textContent = `${other.path} cannot be read: ${e.message || e}`;
      }
    };
    $('compare').hidden = false;
  }

  function interruptCounts(text) {
    const counts = new Map();
    for (const line of text.split('\n').slice(1)) {
      const m = /^\s*([^:\s]+):\s*(.*)$/.exec(line);
      if (!m) continue;
      const cells = m[2].trim().split(/\s+/);
      let total = 0;
      let k = 0;
      while (k < cells.length && /^\d+$/.test(cells[k])) total += +cells[k++];
      counts.set(m[1], { total, source: cells.slice(k).join(' ') });
    }
    return counts;
  }

  function showDeltas(a, aText, b, bText) {
    const [older, newer] = a.time <= b.time ? [[a, aText], [b, bText]] : [[b, bText], [a, aText]];
    const before = interruptCounts(older[1]);
    const after = interruptCounts(newer[1]);
    const seconds = newer[0].time - older[0].time;
    const rows = [];
    for (const [irq, n] of after) {
      const o = before.get(irq);
      rows.push({ irq, delta: o ? n.total - o.total : n.total, source: n.source });
    }
    rows.sort((x, y) => y.delta - x.delta);
    const body = $('compare-table').querySelector('tbody');
    body.replaceChildren(...rows.map((r) => el('tr', {},
      el('td', { text: r.irq }), el('td', { text: String(r.delta) }),
      el('td', { text: seconds > 0 ? (r.delta / seconds).toFixed(1) : '–' }), el('td', { text: r.source }))));
    $('compare-table').hidden = false;
  }

  // ---- sources ---------------------------------------------------------

  async function openFileList(files) {
    const list = [...files];
    if (list.length === 1 && /\.zip$/i.test(list[0].name)) {
      return openZip(new Uint8Array(await list[0].arrayBuffer()), list[0].name);
    }
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
    $('range-reset').addEventListener('click', () => current && current.full && current.group.zoom(current.full[0], current.full[1]));
    document.addEventListener('dragover', (e) => { e.preventDefault(); document.body.classList.add('dragging'); });
    document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
    document.addEventListener('drop', onDrop);
    let resizeTimer = 0;
    window.addEventListener('resize', () => {
      clearTimeout(resizeTimer);
      resizeTimer = setTimeout(() => {
        if (!current) return;
        const width = Math.max(300, $('charts').clientWidth);
        for (const p of current.plots) p.setSize({ width, height: p.height });
      }, 200);
    });
    const embedded = embeddedArchive();
    const url = new URLSearchParams(location.search).get('archive');
    if (embedded) {
      $('open').hidden = true;
      openZip(embedded.bytes, embedded.label);
    } else if (url) openUrl(url);
    else document.body.dataset.state = 'empty';
  }

  start();
})();

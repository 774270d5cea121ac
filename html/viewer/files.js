// The session's files as they are: the Files table (what each file gave,
// what was left out of it and why) and the Snapshots section (the text
// snapshots, top's blocks one at a time, two interrupt snapshots compared).
//
// Global TrelvikFiles in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports)
    module.exports = factory(require('./charts.js'), require('../common.js'));
  else root.TrelvikFiles = factory(root.TrelvikCharts, root.TrelvikCommon);
})(typeof self !== 'undefined' ? self : this, function (Charts, Common) {
  'use strict';

  const { byId: $, element: el } = Common;
  const decoder = new TextDecoder('utf-8');

  // A file's size and its folder, as every section of the page tells them.
  const sizeText = (n) => Charts.fmtValue(n / 1024, 'kB');
  const dirOf = (p) => p.slice(0, p.lastIndexOf('/') + 1);

  function clear() {
    $('files-body').replaceChildren();
  }

  function renderFiles(session) {
    const body = $('files-body');
    if (session.archiveError) {
      body.append(
        el(
          'tr',
          { class: 'file-row', 'data-error': '1' },
          el('td', { text: session.label }),
          el('td', { text: '' }),
          el('td', { text: '' }),
          el('td', { class: 'bad', role: 'alert', text: session.archiveError }),
        ),
      );
    }
    const files = [...session.files].sort(
      (a, b) => dirOf(a.path).localeCompare(dirOf(b.path)) || a.path.localeCompare(b.path),
    );
    for (const f of files) {
      const status = f.error
        ? el('td', { class: 'bad', text: [f.error, ...f.warnings].join('; ') })
        : el('td', { class: 'good', text: f.kind === 'csv' ? (f.plain ? 'table' : 'charted') : f.kind });
      const faults = f.faults ? Object.values(f.faults).reduce((a, b) => a + b, 0) : 0;
      body.append(
        el(
          'tr',
          {
            class: 'file-row',
            'data-path': f.path,
            'data-error': f.error ? '1' : '0',
            'data-left-out': String(faults),
          },
          el('td', { text: f.path }),
          el('td', { text: f.rows != null ? String(f.rows) : '' }),
          el('td', { text: faults ? String(faults) : '' }),
          status,
        ),
      );
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
      const when = Number.isNaN(s.time) ? '' : `${Charts.fmtTime(s.time)} · `;
      groups
        .get(s.kind)
        .append(el('option', { value: String(i), text: `${when}${s.path.slice(s.path.lastIndexOf('/') + 1)}` }));
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
    select.replaceChildren(
      el('option', { value: '', text: 'Choose another interrupt snapshot…' }),
      ...others.map(([s, i]) => el('option', { value: String(i), text: Charts.fmtTime(s.time) })),
    );
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
    const [older, newer] =
      a.time <= b.time
        ? [
            [a, aText],
            [b, bText],
          ]
        : [
            [b, bText],
            [a, aText],
          ];
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
    body.replaceChildren(
      ...rows.map((r) =>
        el(
          'tr',
          {},
          el('td', { text: r.irq }),
          el('td', { text: String(r.delta) }),
          el('td', { text: seconds > 0 ? (r.delta / seconds).toFixed(1) : '–' }),
          el('td', { text: r.source }),
        ),
      ),
    );
    $('compare-table').hidden = false;
  }

  return { renderFiles, renderSnapshots, clear, sizeText, dirOf };
});

// The session laid out and drawn: its facts, its findings (each zooms every
// chart to its time range), and its charts by group, each drawn once it
// comes near the screen, all sharing one cursor and one shown range.
//
// Global TrelvikDisplay in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) {
    module.exports = factory(
      require('./series.js'),
      require('./findings.js'),
      require('./charts.js'),
      require('./layout.js'),
      require('./files.js'),
      require('../common.js'),
    );
  } else {
    root.TrelvikDisplay = factory(
      root.TrelvikSeries,
      root.TrelvikFindings,
      root.TrelvikCharts,
      root.TrelvikLayout,
      root.TrelvikFiles,
      root.TrelvikCommon,
    );
  }
})(typeof self !== 'undefined' ? self : this, function (Series, Findings, Charts, Layout, Files, Common) {
  'use strict';

  const { byId: $, element: el } = Common;
  const { sizeText, dirOf } = Files;

  let current = null; // { session, group, plots, full: [min, max] }

  // Resolves to the number of charts laid out, or to null where another
  // session replaced this one meanwhile.
  async function show(session) {
    renderFacts(session);
    const charts = Series.buildCharts(session.series);
    const times = session.series.flatMap((s) => (s.t.length ? [s.t[0], s.t[s.t.length - 1]] : []));
    const full = times.length ? [Math.min(...times), Math.max(...times)] : null;
    current = { session, plots: [], full, shown: null, group: Charts.createGroup(showRange) };
    renderFindings(session);
    await renderCharts(session, charts);
    if (!current || current.session !== session) return null;
    if (full) showRange(full[0], full[1]);
    return charts.length;
  }

  function clear() {
    if (current) for (const p of current.plots) p.destroy();
    if (current && current.observer) current.observer.disconnect();
    if (current && current.farObserver) current.farObserver.disconnect();
    current = null;
    for (const id of ['facts-list', 'findings-list', 'charts', 'groups']) $(id).replaceChildren();
  }

  // Every chart to the page's width, after the window changed size.
  function fitWidth() {
    if (!current) return;
    const width = Math.max(300, $('charts').clientWidth);
    for (const p of current.plots) p.setSize({ width, height: p.height });
  }

  function showWhole() {
    if (current && current.full) current.group.zoom(current.full[0], current.full[1]);
  }

  const FACT_ORDER = [
    'Model Name',
    'Serial Number',
    'Firmware version',
    'Edge storage location',
    'Start Time of the session',
    'Stop Time of the session',
    'Collected Data Points',
    'Duration',
    'Session Size',
  ];

  function renderFacts(session) {
    const list = $('facts-list');
    const add = (name, value) => list.append(el('dt', { text: name }), el('dd', { text: value }));
    const facts = new Map(session.facts.map((f) => [f.name, f.value]));
    for (const name of FACT_ORDER) if (facts.has(name)) add(name, facts.get(name));
    for (const [name, value] of facts) if (!FACT_ORDER.includes(name)) add(name, value);
    for (const f of session.signature) add(`Signature ${f.name}`, f.value);
    if (session.archiveSize) add('Archive size', sizeText(session.archiveSize));
    add(
      'Time zone',
      session.timeZone
        ? `${session.timeZone.zone} (UTC ${session.timeZone.offset} at the start)`
        : `UTC (no ${Layout.FILES.timeZone} in the session)`,
    );
    add(
      'CPUs',
      session.cpuCount ? `${session.cpuCount} (from ${session.cpuSource})` : 'unknown (nothing in the session tells)',
    );
    if (!session.facts.length) add('Information', `${Layout.FILES.information} is missing from this session.`);
    $('facts').hidden = false;
  }

  function renderFindings(session) {
    const list = $('findings-list');
    for (const f of session.findings) {
      const range = `${Findings.fmtTime(f.from)} – ${Findings.fmtTime(f.to)} ${session.zone}`;
      list.append(
        el(
          'li',
          { class: `finding ${f.severity}`, 'data-rule': f.rule, 'data-from': f.from, 'data-to': f.to },
          el('span', { class: `severity ${f.severity}`, text: f.severity }),
          ' ',
          el('span', { class: 'text', text: f.text }),
          ' ',
          el('button', {
            type: 'button',
            text: 'Show',
            'aria-label': `Zoom every chart to ${range}`,
            onclick: () => zoomTo(f.from, f.to),
          }),
          el('span', { class: 'evidence', text: `${range} · ${f.files.join(', ')}` }),
        ),
      );
    }
    for (const u of session.unjudged) {
      list.append(
        el(
          'li',
          { class: 'finding unjudged', 'data-rule': u.rule },
          el('span', { class: 'severity info', text: 'not judged' }),
          ' ',
          el('span', { class: 'text', text: `The ${u.rule} rule could not run: ${u.why}.` }),
        ),
      );
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
    $('range-text').textContent = `Shown: ${Findings.fmtTime(min)} – ${Findings.fmtTime(max)}${zone}`;
  }

  // Every chart's figure is laid out at once, but a chart is drawn only
  // once it comes near the screen: drawing a week's forty charts would cost
  // the tab a second and much of its memory before anything is read.
  async function renderCharts(session, charts) {
    $('plots').hidden = false;
    const box = $('charts');
    const period = Series.typicalInterval(session.series.find((s) => s.chart === 'load')?.t || []);
    const gapLimit = (period > 0 ? period : 120) * Findings.THRESHOLDS.gapFactor * 2;
    const waiting = new Map(); // figure -> its drawing, until drawn
    const drawn = new Map(); // figure -> its release, while drawn
    // Charts that come near the screen are drawn one per task, of the
    // lowest priority where the browser has priorities, so that frames
    // show the page between two of them: the first one once the session
    // is read, with its findings, before the charts below it. One that is
    // no longer near when its turn comes is not drawn: it would stay drawn
    // while far, the release waiting for it to leave again.
    const near = new Set();
    let queued = false;
    const drawNext = () => {
      queued = false;
      const [figure] = near;
      near.delete(figure);
      if (figure && waiting.has(figure)) waiting.get(figure)();
      if (near.size) queueDrawing();
    };
    const queueDrawing = () => {
      if (queued) return;
      queued = true;
      if (typeof scheduler === 'object' && scheduler.postTask) scheduler.postTask(drawNext, { priority: 'background' });
      else setTimeout(drawNext, 0);
    };
    const drawWhenNear = (entries) => {
      for (const e of entries) {
        if (e.isIntersecting && waiting.has(e.target)) near.add(e.target);
        else if (!e.isIntersecting) near.delete(e.target);
      }
      if (near.size) queueDrawing();
    };
    // A chart far from the screen gives its drawing back (a week's charts
    // all drawn held hundreds of megabytes) and is drawn again, with its
    // legend's choices, when it comes near.
    const releaseWhenFar = (entries) => {
      for (const e of entries) if (!e.isIntersecting && drawn.has(e.target)) drawn.get(e.target)();
    };
    const observer =
      typeof IntersectionObserver === 'function'
        ? new IntersectionObserver(drawWhenNear, { rootMargin: '100% 0px' })
        : null;
    const farObserver =
      typeof IntersectionObserver === 'function'
        ? new IntersectionObserver(releaseWhenFar, { rootMargin: `${FAR_SCREENS * 100}% 0px` })
        : null;
    current.observer = observer;
    current.farObserver = farObserver;
    let lastGroup = null;
    for (const chart of charts) {
      if (chart.group !== lastGroup) {
        lastGroup = chart.group;
        const title = Series.GROUPS.find((g) => g[0] === chart.group)[1];
        box.append(el('h3', { id: `group-${chart.group}`, text: title }));
        $('groups').append(el('a', { href: `#group-${chart.group}`, text: title }));
      }
      const plot = el('div', { class: 'plot waiting' });
      const files = [...chart.files];
      const note =
        chart.total > 0
          ? el('span', {
              class: 'source',
              text: `MemTotal ${Charts.fmtValue(chart.total, 'kB')}: the scale follows what moves, not the total.`,
            })
          : null;
      const figure = el(
        'figure',
        { class: 'chart', 'data-chart': chart.id, 'data-files': JSON.stringify(files) },
        el(
          'figcaption',
          { text: chart.title },
          el('span', {
            class: 'source',
            text: files.length > 3 ? `${files.length} files in ${dirOf(files[0])}` : files.join(', '),
          }),
          note,
        ),
        plot,
      );
      box.append(figure);
      if (chart.id === 'streams') figure.append(changesTable(chart.series[0]));
      const draw = () => {
        waiting.delete(figure);
        if (observer) observer.unobserve(figure);
        const u = drawChart(session, chart, figure, plot, gapLimit);
        if (!u || !farObserver) return;
        drawn.set(figure, () => {
          drawn.delete(figure);
          releaseChart(u, plot);
          waiting.set(figure, draw);
          observer.observe(figure);
        });
      };
      waiting.set(figure, draw);
      if (observer) observer.observe(figure);
      if (farObserver) farObserver.observe(figure);
    }
    // What is on screen now is drawn before the page says it is ready; the
    // observer draws the rest as it nears the screen, beginning a frame
    // later. Every place is measured before any chart is drawn: a drawing
    // changes the layout, and measuring after each would lay the page out
    // again for every chart.
    const onScreen = [...waiting].filter(([figure]) => {
      const r = figure.getBoundingClientRect();
      return !observer || (r.bottom > 0 && r.top < window.innerHeight);
    });
    for (const [, draw] of onScreen) draw();
    const plain = session.files.filter((x) => x.plain);
    if (plain.length && lastGroup !== 'other') {
      const title = Series.GROUPS.find((g) => g[0] === 'other')[1];
      box.append(el('h3', { id: 'group-other', text: title }));
      $('groups').append(el('a', { href: '#group-other', text: title }));
    }
    for (const f of plain) {
      box.append(
        el(
          'figure',
          { class: 'chart', 'data-chart': `table:${f.path}`, 'data-files': JSON.stringify([f.path]) },
          el('figcaption', { text: `${f.path} (no time axis)` }),
          plainTable(f.plain),
        ),
      );
    }
  }

  // Charts further than this many screens from the one shown are released.
  const FAR_SCREENS = 3;

  // One chart into its figure, at the range the others show now; the uPlot
  // instance, or null.
  function drawChart(session, chart, figure, plot, gapLimit) {
    if (!current || current.session !== session) return null;
    plot.classList.remove('waiting');
    plot.style.minHeight = '';
    const width = Math.max(300, $('charts').clientWidth || 800);
    try {
      const u = Charts.makeChart(chart, plot, {
        group: current.group,
        findings: session.findings,
        width,
        range: current.shown || current.full,
        gapLimit,
      });
      current.plots.push(u);
      if (chart.searchable) {
        const search = figure.querySelector('.process-search') || figure.insertBefore(processSearch(chart), plot);
        search.plot = u;
      }
      return u;
    } catch (e) {
      figure.insertBefore(
        el('p', { class: 'file-error', text: `This chart could not be drawn: ${e.message || e}` }),
        plot.nextSibling,
      );
      return null;
    }
  }

  // A drawn chart back to a placeholder of its height.
  function releaseChart(u, plot) {
    plot.style.minHeight = `${plot.offsetHeight}px`;
    current.plots.splice(current.plots.indexOf(u), 1);
    current.group.remove(u);
    u.destroy();
    plot.replaceChildren();
    plot.classList.add('waiting');
  }

  // The largest processes are drawn at first; the others are found by a
  // part of their name or command line, and drawn while they match.
  // The search stays when its chart is released; `plot` is the chart it
  // acts on, set each time the chart is drawn.
  function processSearch(chart) {
    const input = el('input', {
      type: 'search',
      placeholder: 'name or command line',
      'aria-label': `Show processes in "${chart.title}" by name`,
    });
    const label = el(
      'label',
      { class: 'process-search' },
      `${chart.series.length} processes, the largest shown; find others: `,
      input,
    );
    input.addEventListener('input', () => {
      const words = input.value.trim().toLowerCase();
      chart.series.forEach((s, k) => {
        const match = words ? `${s.label} ${s.title || ''}`.toLowerCase().includes(words) : s.largest;
        label.plot.setSeries(k + 1, { show: match });
      });
    });
    return label;
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
      body.append(el('tr', {}, el('td', { text: Charts.fmtTime(s.t[i]) }), el('td', { text: s.text[i] })));
    }
    return el(
      'table',
      { class: 'changes' },
      el('caption', { text: 'Changes of the stream configuration' }),
      el(
        'thead',
        {},
        el('tr', {}, el('th', { scope: 'col', text: 'From' }), el('th', { scope: 'col', text: 'Streams' })),
      ),
      body,
    );
  }

  function plainTable(plain) {
    return el(
      'table',
      { class: 'plain' },
      el('thead', {}, el('tr', {}, ...plain.header.map((h) => el('th', { scope: 'col', text: h })))),
      el('tbody', {}, ...plain.rows.slice(0, 200).map((r) => el('tr', {}, ...r.map((c) => el('td', { text: c }))))),
    );
  }

  return { show, clear, fitWidth, showWhole };
});

// From the session's CSV tables to the series a person reads: which file goes
// to which chart, which columns are counters (shown as rates per second, a
// counter going down being a reset and never a negative rate), which hold
// states, and how series of one chart share one time axis.
//
// Global TrelvikSeries in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory(require('./layout.js'));
  else {
    root.TrelvikSeries = factory(root.TrelvikLayout);
    // Kept to start the same code in a worker.
    (root.TrelvikWorkerSources = root.TrelvikWorkerSources || []).push(
      `self.TrelvikSeries = (${factory})(self.TrelvikLayout);`,
    );
  }
})(typeof self !== 'undefined' ? self : this, function (Layout) {
  'use strict';

  // Groups in the order a device is diagnosed.
  const GROUPS = [
    ['load', 'Load'],
    ['memory', 'Memory'],
    ['processes', 'Processes'],
    ['self', 'Trelvik daemon'],
    ['network', 'Network'],
    ['environment', 'Temperatures, heaters and fans'],
    ['kernel', 'Kernel'],
    ['vmstat', 'vmstat'],
    ['power', 'Power'],
    ['streams', 'Streams'],
    ['other', 'Other files'],
  ];

  // Meminfo keys shown at first; the others are a click away in the legend.
  // MemTotal is a note beside the chart, not a line: as the scale's top it
  // would flatten a fall of a hundred megabytes.
  const MEMINFO_SHOWN = new Set(['MemFree', 'MemAvailable', 'Cached', 'Buffers', 'Slab']);

  // Processes drawn at first on a per-process chart: the largest; the rest
  // are found by name.
  const PROCESSES_SHOWN = 8;

  // A series' values are a Float64Array with NaN where there is none (an
  // empty cell, a break, no rate): a week of them stays off the heap of
  // the thread that reads it. Values given as an array may hold null.
  const absent = (x) => x == null || x !== x;

  // A numeric column's cells as such values: the reader's own array.
  function numbersOf(c) {
    return c.numbers || Float64Array.from(c.values, (x) => (x == null ? NaN : x));
  }

  // Per-second rates between two rows. A value lower than the one before is a
  // reset (reboot, wrap): no rate there, and its time is listed in `resets`.
  function rates(t, v) {
    const out = new Float64Array(v.length);
    const resets = [];
    rateInto(out, resets, t, v);
    return { v: out, resets };
  }

  // The loop of rates(), a function of its own: entered mid-loop by the
  // optimizing compiler, the code after a loop it had not yet seen run
  // threw the optimized code away at every call.
  function rateInto(out, resets, t, v) {
    if (v.length) out[0] = NaN;
    for (let i = 1; i < v.length; i++) {
      const a = v[i - 1];
      const b = v[i];
      const dt = t[i] - t[i - 1];
      if (absent(a) || absent(b) || !(dt > 0)) out[i] = NaN;
      else if (b < a) {
        out[i] = NaN;
        resets.push(t[i]);
      } else out[i] = (b - a) / dt;
    }
  }

  function median(values) {
    if (!values.length) return NaN;
    const s = Float64Array.from(values).sort();
    return s[s.length >> 1];
  }

  // The typical interval between rows, in seconds (NaN below two rows).
  function typicalInterval(t) {
    const d = [];
    for (let i = 1; i < t.length; i++) if (t[i] > t[i - 1]) d.push(t[i] - t[i - 1]);
    return median(d);
  }

  // Copies (t, v) with a null point in each interval longer than `limit`, so
  // that a line is broken where samples are missing instead of bridged.
  // Values that crossed from the worker as a Float64Array (NaN for a
  // break) are copied into one, with NaN for the breaks added: a week of
  // a chart's series stays off the page's heap. The times are the same
  // for every series of a file: `shared` (a Map) keeps each broken copy
  // once.
  function breakAtGaps(t, v, limit, shared) {
    if (!(limit > 0)) return { t, v };
    const gaps = gapCount(t, limit);
    return gaps ? withBreaks(t, v, limit, shared, gaps) : { t, v };
  }

  // Apart from withBreaks(), which most series never reach: compiled
  // together, its code not yet run threw the counting's away each time a
  // series with gaps came.
  function gapCount(t, limit) {
    let gaps = 0;
    for (let i = 1; i < t.length; i++) if (t[i] - t[i - 1] > limit) gaps++;
    return gaps;
  }

  function withBreaks(t, v, limit, shared, gaps) {
    const typed = v instanceof Float64Array || v instanceof Int32Array;
    let nt = shared && shared.get(t);
    const fresh = !nt;
    if (fresh) nt = typed ? new Float64Array(t.length + gaps) : [];
    const nv = typed ? new Float64Array(t.length + gaps) : [];
    for (let i = 0, k = 0; i < t.length; i++) {
      if (i > 0 && t[i] - t[i - 1] > limit) {
        if (fresh) nt[k] = t[i - 1] + 1;
        nv[k++] = typed ? NaN : null;
      }
      if (fresh) nt[k] = t[i];
      nv[k++] = v[i];
    }
    if (fresh && shared && typed) shared.set(t, nt);
    return { t: nt, v: nv };
  }

  // Chart data as uPlot takes it: arrays, with null for a break (NaN in a
  // typed array).
  function plainData(data) {
    return data.map((a) => (ArrayBuffer.isView(a) ? withNulls(a, a.length) : a));
  }

  // The first n values of a typed array as an array, NaN as null.
  function withNulls(typed, n) {
    const out = new Array(n);
    for (let i = 0; i < n; i++) out[i] = typed[i] === typed[i] ? typed[i] : null;
    return out;
  }

  // Strings to small integers, in order of first appearance.
  function stateCodes(values) {
    const states = [];
    const index = new Map();
    const v = values.map((s) => {
      if (s === '' || s == null) return null;
      if (!index.has(s)) {
        index.set(s, states.length);
        states.push(s);
      }
      return index.get(s);
    });
    return { v, states };
  }

  // Aligns the series of one chart on the union of their times. Holes made by
  // the alignment are undefined (drawn across); nulls of the data stay nulls
  // (drawn as breaks). Returns [x, y1, y2, ...].
  function align(seriesList) {
    const first = seriesList[0].t;
    if (seriesList.every((s) => sameTimes(s.t, first))) return [first, ...seriesList.map((s) => s.v)];
    let total = 0;
    for (const s of seriesList) total += s.t.length;
    const x = new Float64Array(total);
    let k = 0;
    for (const s of seriesList) for (const v of s.t) x[k++] = v;
    x.sort();
    let n = 0;
    for (let i = 0; i < x.length; i++) if (i === 0 || x[i] !== x[i - 1]) x[n++] = x[i];
    const xs = Array.from(x.subarray(0, n));
    const data = [xs];
    for (const s of seriesList) {
      const y = new Array(n);
      let j = 0;
      for (let i = 0; i < s.t.length; i++) {
        while (xs[j] < s.t[i]) j++;
        const value = s.v[i];
        y[j] = value !== value ? null : value;
      }
      data.push(y);
    }
    return data;
  }

  // Aligned chart data ([x, y1, ...]) cut down to two points per bucket
  // for drawing: each series' lowest and highest value of the bucket, in
  // the order they came, so that peaks and dips stay visible however many
  // samples fall on one pixel. A break (null) in a bucket stays a break.
  function decimate(data, buckets) {
    const x = data[0];
    const n = x.length;
    if (n <= 2 * buckets) return plainData(data);
    const out = data.map(() => []);
    for (let b = 0; b < buckets; b++) {
      const i0 = Math.floor((b * n) / buckets);
      const i1 = Math.floor(((b + 1) * n) / buckets);
      if (i1 <= i0) continue;
      out[0].push(x[i0], x[i1 - 1]);
      for (let k = 1; k < data.length; k++) {
        const y = data[k];
        let lo = null,
          hi = null,
          loAt = 0,
          hiAt = 0,
          broken = false;
        for (let i = i0; i < i1; i++) {
          const v = y[i];
          if (v === undefined) continue;
          if (v === null || v !== v) {
            broken = true;
            continue;
          }
          if (lo === null || v < lo) {
            lo = v;
            loAt = i;
          }
          if (hi === null || v > hi) {
            hi = v;
            hiAt = i;
          }
        }
        const first = loAt <= hiAt ? lo : hi;
        const second = loAt <= hiAt ? hi : lo;
        out[k].push(
          first === null && !broken ? undefined : first,
          broken ? null : second === null ? undefined : second,
        );
      }
    }
    return out;
  }

  // The index of the first of the sorted times `t` at or after `x`.
  function firstAtOrAfter(t, x) {
    let lo = 0;
    let hi = t.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (t[mid] < x) lo = mid + 1;
      else hi = mid;
    }
    return lo;
  }

  // Aligned chart data cut to the samples within [min, max] and one on
  // either side, so that lines run to the edges of a zoomed chart.
  function within(data, min, max) {
    const x = data[0];
    if (min == null || max == null) return data;
    const lo = firstAtOrAfter(x, min);
    const from = Math.max(0, lo - 1);
    let to = lo;
    while (to < x.length && x[to] <= max) to++;
    to = Math.min(x.length, to + 1);
    return data.map((a) => a.slice(from, to));
  }

  function sameTimes(a, b) {
    if (a === b) return true;
    if (a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
    return true;
  }

  // Splits rows by the text of key columns: { key -> row indices (an
  // Int32Array, in row order) }, keys in the order their texts first
  // appear, level by level.
  function groupRows(table, keyNames) {
    const { keys, groupOf, sizes } = groupIndex(table, keyNames);
    const rowsOf = Array.from(sizes, (size) => new Int32Array(size));
    const filled = new Int32Array(keys.length);
    for (let i = 0; i < groupOf.length; i++) {
      const g = groupOf[i];
      rowsOf[g][filled[g]++] = i;
    }
    return new Map(keys.map((key, g) => [key, rowsOf[g]]));
  }

  // The groups of groupRows() as { keys, groupOf: each row's index into
  // keys, sizes: each group's rows }. Rows are told apart by their text
  // codes: a group's number per row, then each group's place in the order.
  function groupIndex(table, keyNames) {
    const keyCols = keyNames.map((k) => table.columns.find((c) => c.name === k)).filter(Boolean);
    const n = table.t.length;
    const keys = keyCols.map(codesOf);
    // A row's codes as one number, a column at a time: a small integer
    // where they all fit in one (an array is indexed by it at once; a
    // double index takes the slow way).
    const combinations = keys.reduce((product, { count }) => product * count, 1);
    const combined = combinations <= 2 ** 31 ? new Int32Array(n) : new Float64Array(n);
    for (const { codes, count } of keys) combine(combined, codes, count);
    // The group of each row, numbered in order of first appearance.
    const group = new Int32Array(n);
    const firstRow = [];
    // Few combinations (packages, commands, sensors) are looked up in an
    // array; many, in a map.
    const lookup = combinations <= 1 << 20 ? new Int32Array(combinations).fill(-1) : null;
    const map = lookup ? null : new Map();
    for (let i = 0; i < n; i++) {
      const x = combined[i];
      let g = lookup ? lookup[x] : map.get(x);
      if (g === undefined || g < 0) {
        g = firstRow.length;
        if (lookup) lookup[x] = g;
        else map.set(x, g);
        firstRow.push(i);
      }
      group[i] = g;
    }
    // Groups in the order of their first text, then of their second among
    // the rows of the first, and so on: nested maps filled in order of the
    // groups' first rows give exactly that.
    const byCode = new Map();
    firstRow.forEach((row, g) => {
      let level = byCode;
      for (let k = 0; k < keys.length - 1; k++) {
        const code = keys[k].codes[row];
        if (!level.has(code)) level.set(code, new Map());
        level = level.get(code);
      }
      level.set(keys.length ? keys[keys.length - 1].codes[row] : '', g);
    });
    // Two groups may read alike: they become one.
    const names = [];
    const placeOf = new Map();
    const orderOf = new Int32Array(firstRow.length);
    const walk = (level, prefix, depth) => {
      for (const [code, next] of level) {
        const text = keys.length ? keys[depth].texts[code] : code;
        const key = depth === 0 ? String(text) : `${prefix} · ${text}`;
        if (depth < keys.length - 1) {
          walk(next, key, depth + 1);
          continue;
        }
        if (!placeOf.has(key)) {
          placeOf.set(key, names.length);
          names.push(key);
        }
        orderOf[next] = placeOf.get(key);
      }
    };
    walk(byCode, '', 0);
    const sizes = new Int32Array(names.length);
    renumber(group, orderOf, sizes);
    return { keys: names, groupOf: group, sizes };
  }

  function combine(combined, codes, count) {
    for (let i = 0; i < combined.length; i++) combined[i] = combined[i] * count + codes[i];
  }

  // Each row's group to its place in the order, counting each group's rows.
  function renumber(group, orderOf, sizes) {
    for (let i = 0; i < group.length; i++) {
      const g = orderOf[group[i]];
      group[i] = g;
      sizes[g]++;
    }
  }

  // A text column as { codes, texts, count }: the reader's own codes, or
  // codes made from its cells.
  function codesOf(c) {
    if (c.codes) return { codes: c.codes, texts: c.texts, count: c.texts.length };
    const texts = [];
    const index = new Map();
    const codes = Int32Array.from(c.values, (x) => {
      if (!index.has(x)) {
        index.set(x, texts.length);
        texts.push(x);
      }
      return index.get(x);
    });
    return { codes, texts, count: texts.length };
  }

  // (t, v) of one column over some rows; values at a repeated time are added
  // (two processes with the same command line count as one), or with
  // `lowest` the lowest is kept.
  function pick(table, column, rows, lowest) {
    const { t, vs } = pickColumns(table, [column], rows, [lowest]);
    return { t, v: vs[0] };
  }

  // pick() of several columns over the same rows in one pass: their times
  // are the same, one array shared by their series.
  function pickColumns(table, columns, rows, lowest) {
    // Each row's place among the times found (rows at one time share it),
    // then each column picked into its places, each in a loop of its own
    // (as rateInto's).
    const place = new Int32Array(rows.length);
    const found = new Float64Array(rows.length);
    const size = placeRows(table.t, rows, place, found);
    const vs = columns.map((c, k) => pickInto(new Float64Array(size), numbersOf(c), rows, place, lowest[k]));
    return { t: found.slice(0, size), vs };
  }

  // pickColumns() of every group of rows at once (groupIndex's), in one
  // pass over the table in row order: a week's process list picked group
  // by group read its columns at rows far apart, each read a miss of the
  // processor's cache. Each row of a group goes to its group's arrays, as
  // pickColumns would place it. [{ t, vs }] in the groups' order.
  function pickGroups(table, columns, { groupOf, sizes: rowCounts }, lowest) {
    const n = table.t.length;
    const found = Array.from(rowCounts, (count) => new Float64Array(count));
    const outs = columns.map(() => Array.from(rowCounts, (count) => new Float64Array(count)));
    const sizes = new Int32Array(rowCounts.length);
    // Whether each row starts a place of its group (a time the group's
    // row before did not have), then each column into the places.
    const starts = new Uint8Array(n);
    placeGroups(table.t, groupOf, found, sizes, starts);
    columns.forEach((c, k) => pickGroupInto(outs[k], numbersOf(c), groupOf, starts, lowest[k]));
    const fit = (a, size) => (size === a.length ? a : a.slice(0, size));
    return found.map((f, g) => ({ t: fit(f, sizes[g]), vs: outs.map((o) => fit(o[g], sizes[g])) }));
  }

  function placeGroups(t, groupOf, found, sizes, starts) {
    for (let i = 0; i < t.length; i++) {
      const g = groupOf[i];
      const size = sizes[g];
      const f = found[g];
      if (size === 0 || f[size - 1] !== t[i]) {
        f[size] = t[i];
        sizes[g] = size + 1;
        starts[i] = 1;
      }
    }
  }

  // pickInto() for every group at once: `places` counts each group's
  // places so far.
  function pickGroupInto(outs, values, groupOf, starts, lowest) {
    const places = new Int32Array(outs.length);
    for (let i = 0; i < values.length; i++) {
      const g = groupOf[i];
      const out = outs[g];
      const y = values[i];
      if (starts[i]) out[places[g]++] = y;
      else {
        const p = places[g] - 1;
        if (y !== y) continue;
        if (lowest) {
          if (!(out[p] <= y)) out[p] = y;
        } else out[p] = (out[p] === out[p] ? out[p] : 0) + y;
      }
    }
  }

  // The distinct times of the rows into `found`, each row's index among
  // them into `place`; returns how many there are.
  function placeRows(t, rows, place, found) {
    let size = 0;
    for (let r = 0; r < rows.length; r++) {
      const x = t[rows[r]];
      if (size === 0 || found[size - 1] !== x) found[size++] = x;
      place[r] = size - 1;
    }
    return size;
  }

  // One column's values at their places: a place's first row gives its
  // value (NaN where empty); the rows after it at the same time are added
  // to it, or with `lowest` the lowest is kept.
  function pickInto(out, values, rows, place, lowest) {
    for (let r = 0; r < rows.length; r++) {
      const p = place[r];
      const y = values[rows[r]];
      if (r === 0 || place[r - 1] !== p) out[p] = y;
      else if (y !== y) continue;
      // Of processes sharing a command line, the lowest PID, whatever
      // order a sample lists them in.
      else if (lowest) {
        if (!(out[p] <= y)) out[p] = y;
      } else out[p] = (out[p] === out[p] ? out[p] : 0) + y;
    }
    return out;
  }

  function column(table, name) {
    return table.columns.find((c) => c.name === name);
  }

  // One series record. `file` is the session-relative path it comes from.
  function series(file, chart, label, t, v, extra) {
    return { file, chart, label, t, v, kind: 'gauge', show: true, ...extra };
  }

  function counterSeries(file, chart, label, t, raw, scale, extra) {
    const r = rates(t, raw);
    const v = scale === 1 ? r.v : r.v.map((x) => x * scale);
    return series(file, chart, label, t, v, { kind: 'counter', resets: r.resets, raw, ...extra });
  }

  const basename = (path) => path.slice(path.lastIndexOf('/') + 1);
  const stem = (path) => basename(path).replace(/\.csv$/i, '');

  // The per-interface header lists "Receive: bytes, compressed, ...,
  // Transmit: bytes, ...": a name belongs to the direction named last.
  function interfaceColumns(table) {
    let dir = 'rx';
    return table.columns.map((c) => {
      let name = c.name;
      const m = /^(Receive|Transmit):\s*(.*)$/.exec(name);
      if (m) {
        dir = m[1] === 'Receive' ? 'rx' : 'tx';
        name = m[2];
      }
      const failed = /^Failed packages total \((receive|transmit)\)$/.exec(c.name);
      if (failed) return { key: (failed[1] === 'receive' ? 'rx' : 'tx') + '_failed', column: c };
      return { key: `${dir}_${name}`, column: c };
    });
  }

  const NET_ERROR_KEYS = [
    'rx_errs',
    'rx_drop',
    'rx_frame',
    'rx_fifo',
    'tx_errs',
    'tx_drop',
    'tx_carrier',
    'tx_colls',
    'tx_fifo',
  ];

  function interfaceSeries(path, table) {
    const name = stem(path);
    const out = [];
    for (const { key, column: c } of interfaceColumns(table)) {
      if (!c.numeric) continue;
      const dir = key.startsWith('rx') ? 'receive' : 'transmit';
      const metric = key.slice(3);
      if (metric === 'bytes') {
        out.push(
          counterSeries(path, `net:${name}:bits`, `${dir}`, table.t, numbersOf(c), 8, {
            unit: 'bit/s',
            iface: name,
            metric: key,
          }),
        );
      } else if (metric === 'packets') {
        out.push(
          counterSeries(path, `net:${name}:packets`, `${dir}`, table.t, numbersOf(c), 1, {
            unit: 'packets/s',
            iface: name,
            metric: key,
          }),
        );
      } else if (NET_ERROR_KEYS.includes(key)) {
        out.push(
          counterSeries(path, `net:${name}:errors`, `${dir} ${metric}`, table.t, numbersOf(c), 1, {
            unit: '/s',
            iface: name,
            metric: key,
          }),
        );
      } else if (metric !== 'failed') {
        out.push(
          counterSeries(path, `net:${name}:other`, `${dir} ${metric}`, table.t, numbersOf(c), 1, {
            unit: '/s',
            iface: name,
            metric: key,
          }),
        );
      }
    }
    return out;
  }

  const VMSTAT_CHARTS = {
    procs_running: ['vmstat:procs', 'gauge'],
    procs_blocked: ['vmstat:procs', 'gauge'],
    MemFree_kB: ['vmstat:mem', 'gauge'],
    Buffers_kB: ['vmstat:mem', 'gauge'],
    Cached_kB: ['vmstat:mem', 'gauge'],
    SwapFree_kB: ['vmstat:mem', 'gauge'],
    pswpin: ['vmstat:swap', 'counter'],
    pswpout: ['vmstat:swap', 'counter'],
    pgpgin: ['vmstat:paging', 'counter'],
    pgpgout: ['vmstat:paging', 'counter'],
    pgfault: ['vmstat:faults', 'counter'],
    pgmajfault: ['vmstat:faults', 'counter'],
    intr: ['vmstat:system', 'counter'],
    ctxt: ['vmstat:system', 'counter'],
  };
  const CPU_FIELDS = ['cpu_user', 'cpu_nice', 'cpu_system', 'cpu_idle', 'cpu_iowait'];

  function vmstatSeries(path, table) {
    const out = [];
    for (const c of table.columns) {
      if (!c.numeric || CPU_FIELDS.includes(c.name)) continue;
      const [chart, kind] = VMSTAT_CHARTS[c.name] || ['vmstat:other', 'gauge'];
      const v = numbersOf(c);
      if (kind === 'counter') out.push(counterSeries(path, chart, c.name, table.t, v, 1, { unit: '/s' }));
      else out.push(series(path, chart, c.name, table.t, v, { unit: c.name.endsWith('_kB') ? 'kB' : '' }));
    }
    // CPU time as shares of all time spent between two rows.
    const cpu = CPU_FIELDS.map((n) => column(table, n)).filter((c) => c && c.numeric);
    if (cpu.length) {
      const raw = cpu.map(numbersOf);
      const r = raw.map((v) => rates(table.t, v));
      for (let k = 0; k < cpu.length; k++) {
        const v = r[k].v.map((x, i) => {
          let total = 0;
          for (const q of r) total += q.v[i];
          return total > 0 && x === x ? (100 * x) / total : NaN;
        });
        out.push(
          series(path, 'vmstat:cpu', cpu[k].name.replace('cpu_', ''), table.t, v, {
            unit: '%',
            kind: 'counter',
            resets: r[k].resets,
            raw: raw[k],
          }),
        );
      }
    }
    return out;
  }

  function keyedSeries(path, table, keys, valueCharts, labelOf) {
    const out = [];
    const pid = keys.length > 1 ? column(table, 'PID') : null;
    const charted = valueCharts.filter(([colName]) => (column(table, colName) || {}).numeric);
    const columns = charted.map(([colName]) => column(table, colName));
    // A process's PID per point: a new one is a restart.
    const withPid = pid && pid.numeric;
    if (withPid) columns.push(pid);
    const lowest = columns.map((c) => c === pid);
    const groups = groupIndex(table, keys);
    const picked = pickGroups(table, columns, groups, lowest);
    groups.keys.forEach((key, g) => {
      const { t, vs } = picked[g];
      charted.forEach(([colName, chart, unit], k) => {
        const extra = { unit, key };
        if (withPid) extra.pid = vs[vs.length - 1];
        out.push(
          series(path, typeof chart === 'function' ? chart(key) : chart, labelOf(key, colName), t, vs[k], extra),
        );
      });
    });
    return out;
  }

  function buddySeries(path, table) {
    const out = [];
    for (const [zone, rows] of groupRows(table, ['ZONE'])) {
      const cols = table.columns.filter((c) => c.numeric);
      let sum = 0;
      for (const c of cols) sum += sumAt(numbersOf(c), rows);
      if (sum === 0 && zone !== 'Normal') continue; // a zone the device does not have
      for (const c of cols) {
        const { t, v } = pick(table, c, rows);
        out.push(
          series(path, `kernel:buddy:${zone}`, c.name, t, v, { unit: 'blocks', zone, blockKiB: parseInt(c.name, 10) }),
        );
      }
    }
    return out;
  }

  // The sum of v's values at the given rows, gaps left out. A function of
  // its own: as a loop inside another loop, the optimized code was left
  // and compiled again for each column of each zone.
  function sumAt(v, rows) {
    let sum = 0;
    for (let k = 0; k < rows.length; k++) {
      const x = v[rows[k]];
      if (x === x) sum += x;
    }
    return sum;
  }

  function genericSeries(path, table, chart) {
    const out = [];
    for (const c of table.columns) {
      if (c.numeric) out.push(series(path, chart, c.name, table.t, numbersOf(c)));
      else {
        const s = stateCodes(c.values);
        out.push(
          series(path, chart + ':states', c.name, table.t, s.v, { kind: 'state', states: s.states, text: c.values }),
        );
      }
    }
    return out;
  }

  function stateSeries(path, chart, label, table) {
    const c = table.columns[0];
    const s = stateCodes(c.values.map(String));
    return [series(path, chart, label, table.t, s.v, { kind: 'state', states: s.states, text: c.values })];
  }

  // A process by its program's name and its package ("acme_analytics
  // (Acme)"); the whole command line is its title.
  function processName(key) {
    const m = /^([^·]+) · (\S*)/.exec(key);
    if (!m) return key;
    return `${m[2].slice(m[2].lastIndexOf('/') + 1)} (${m[1].trim()})`;
  }

  // The catalogue: which files go where, tried in order, the first match wins.
  const CATALOGUE = [
    [
      Layout.inFolder('load', String.raw`load\.csv`),
      (p, tb) => genericSeries(p, tb, 'load').map((s) => ({ ...s, label: s.label.replace('Load average ', '') })),
    ],
    [
      Layout.inFolder('meminfo', String.raw`[^/]+\.csv`),
      (p, tb) =>
        tb.columns
          .filter((c) => c.numeric)
          .map((c) =>
            series(p, 'memory:meminfo', stem(p), tb.t, numbersOf(c), {
              unit: 'kB',
              show: MEMINFO_SHOWN.has(stem(p)),
              meminfo: stem(p),
            }),
          ),
    ],
    [
      Layout.inFolder('zeda', String.raw`zeda_memory\.csv`),
      (p, tb) =>
        keyedSeries(
          p,
          tb,
          ['Package'],
          [
            ['RSS_kB', 'processes:packages-rss', 'kB'],
            ['VSZ_kB', 'processes:packages-vsz', 'kB'],
            ['Processes', 'processes:count', ''],
          ],
          (key) => key,
        ),
    ],
    [
      Layout.inFolder('zeda', String.raw`zeda_processes\.csv`),
      (p, tb) =>
        keyedSeries(
          p,
          tb,
          ['Package', 'Command'],
          [
            ['RSS_kB', 'processes:rss', 'kB'],
            ['VSZ_kB', 'processes:vsz', 'kB'],
          ],
          (key) => processName(key),
        ).map((s) => ({ ...s, title: s.key.replace(/^([^·]+) · (.*)$/, '$2 ($1)') })),
    ],
    [
      Layout.inFolder('self', String.raw`Trelvik_summary\.csv`),
      (p, tb) => genericSeries(p, tb, 'self').map((s) => ({ ...s, unit: '%' })),
    ],
    [
      Layout.inFolder('network', String.raw`network\.csv`),
      (p, tb) => genericSeries(p, tb, 'net:bandwidth').map((s) => ({ ...s, unit: 'Mbit/s' })),
    ],
    [Layout.inFolder('network', String.raw`[^/]+\.csv`), interfaceSeries],
    [
      Layout.inFolder('environment', String.raw`power\.csv`),
      (p, tb) =>
        keyedSeries(
          p,
          tb,
          ['Source', 'Reading', 'Unit'],
          [['Value', (key) => `power:${key.split(' · ')[2]}`, '']],
          (key) => key.split(' · ').slice(0, 2).join(' '),
        ).map((s) => ({ ...s, unit: s.key.split(' · ')[2] })),
    ],
    [
      Layout.inFolder('environment', String.raw`Heater_\d+\.csv`),
      (p, tb) => stateSeries(p, 'env:states', stem(p).replace('_', ' '), tb),
    ],
    [
      Layout.inFolder('environment', String.raw`Fan_\d+\.csv`),
      (p, tb) => stateSeries(p, 'env:states', stem(p).replace('_', ' '), tb),
    ],
    [
      Layout.inFolder('environment', String.raw`[^/]+\.csv`),
      (p, tb) =>
        tb.columns
          .filter((c) => c.numeric)
          .map((c) => series(p, 'env:temperatures', stem(p), tb.t, numbersOf(c), { unit: '°C', sensor: stem(p) })),
    ],
    [
      Layout.inFolder('kernel', String.raw`pagefaults\.csv`),
      (p, tb) =>
        tb.columns
          .filter((c) => c.numeric)
          .map((c) =>
            counterSeries(p, 'kernel:pagefaults', c.name.toLowerCase().replace('_', ' '), tb.t, numbersOf(c), 1, {
              unit: '/s',
            }),
          ),
    ],
    [Layout.inFolder('kernel', String.raw`buddyinfo\.csv`), buddySeries],
    [Layout.inFolder('vmStatus', String.raw`vmstat\.csv`), vmstatSeries],
    [Layout.inFolder('streams', String.raw`stream\.csv`), (p, tb) => stateSeries(p, 'streams', 'streams', tb)],
  ];

  const CHART_INFO = [
    [/^load$/, 'load', 'Load average'],
    [/^memory:meminfo$/, 'memory', 'Memory (/proc/meminfo; click a key in the legend to show or hide it)'],
    [/^processes:packages-rss$/, 'processes', 'Resident memory per package'],
    [/^processes:packages-vsz$/, 'processes', 'Virtual memory per package'],
    [/^processes:count$/, 'processes', 'Processes per package'],
    [/^processes:rss$/, 'processes', 'Resident memory per process'],
    [/^processes:vsz$/, 'processes', 'Virtual memory per process'],
    [/^self/, 'self', 'Daemon CPU and VSZ (top)'],
    [/^net:bandwidth$/, 'network', 'eth0 bandwidth, receive + transmit'],
    [/^net:(.+):bits$/, 'network', '$1 bits per second'],
    [/^net:(.+):packets$/, 'network', '$1 packets per second'],
    [/^net:(.+):errors$/, 'network', '$1 errors and drops per second'],
    [/^net:(.+):other$/, 'network', '$1 other counters per second'],
    [/^env:temperatures$/, 'environment', 'Temperatures'],
    [/^env:states$/, 'environment', 'Heater and fan states'],
    [/^kernel:pagefaults$/, 'kernel', 'Page faults per second'],
    [/^kernel:buddy:(.+)$/, 'kernel', 'Free blocks per order, zone $1 (buddy allocator)'],
    [/^vmstat:cpu$/, 'vmstat', 'CPU time'],
    [/^vmstat:(.+)$/, 'vmstat', 'vmstat: $1'],
    [/^power:(.*)$/, 'power', 'Power readings ($1)'],
    [/^streams$/, 'streams', 'Stream configuration'],
  ];

  // The series of one CSV file (an empty list when nothing in it is plottable).
  function describeFile(path, table) {
    for (const [re, make] of CATALOGUE) if (re.test(path)) return make(path, table);
    return genericSeries(path, table, `other:${path}`);
  }

  function peak(v) {
    let most = -Infinity;
    for (let i = 0; i < v.length; i++) if (v[i] != null && v[i] > most) most = v[i];
    return most;
  }

  // Charts from series: [{ id, group, title, unit, kind, series, files }] in
  // group order, then by first appearance.
  function buildCharts(allSeries) {
    const charts = new Map();
    for (const s of allSeries) {
      if (!charts.has(s.chart)) {
        let group = 'other';
        let title = s.chart.replace(/^other:/, '');
        for (const [re, g, tt] of CHART_INFO) {
          if (re.test(s.chart)) {
            group = g;
            title = s.chart.replace(re, tt);
            break;
          }
        }
        charts.set(s.chart, {
          id: s.chart,
          group,
          title,
          unit: s.unit || '',
          kind: s.kind === 'state' ? 'state' : 'line',
          series: [],
          files: new Set(),
        });
      }
      const c = charts.get(s.chart);
      c.series.push(s);
      c.files.add(s.file);
    }
    // The meminfo keys shown at first lead the legend, the rest follow by
    // name; MemTotal is the chart's note.
    const meminfo = charts.get('memory:meminfo');
    if (meminfo) {
      meminfo.series.sort((a, b) => b.show - a.show || a.label.localeCompare(b.label));
      const total = meminfo.series.find((s) => s.meminfo === 'MemTotal');
      if (total) meminfo.total = peak(total.v);
    }
    // Per process: the largest first and shown, the rest behind a search.
    for (const id of ['processes:rss', 'processes:vsz']) {
      const c = charts.get(id);
      if (!c) continue;
      const most = new Map(c.series.map((s) => [s, peak(s.v)]));
      c.series.sort((a, b) => most.get(b) - most.get(a));
      c.series.forEach((s, i) => {
        s.show = s.largest = i < PROCESSES_SHOWN;
      });
      c.searchable = c.series.length > PROCESSES_SHOWN;
    }
    // Counts are whole numbers that change in steps.
    if (charts.has('processes:count')) charts.get('processes:count').step = true;
    const order = GROUPS.map((g) => g[0]);
    return [...charts.values()].sort((a, b) => order.indexOf(a.group) - order.indexOf(b.group));
  }

  return {
    GROUPS,
    rates,
    typicalInterval,
    breakAtGaps,
    stateCodes,
    align,
    decimate,
    within,
    firstAtOrAfter,
    absent,
    describeFile,
    buildCharts,
    median,
  };
});

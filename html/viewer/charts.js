// uPlot charts of the viewer: units and their formatting, state charts
// (heater, fan, streams) as steps with their words on the axis, the findings
// as bands on the time axis, and one cursor and zoom shared by every chart.
//
// Global TrelvikCharts in a page; the formatting also require()s in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports)
    module.exports = factory(require('./csv.js'), require('./series.js'), null);
  else root.TrelvikCharts = factory(root.TrelvikCsv, root.TrelvikSeries, root.uPlot);
})(typeof self !== 'undefined' ? self : this, function (Csv, Series, uPlot) {
  'use strict';

  const PALETTE = [
    '#0969da',
    '#d1242f',
    '#1a7f37',
    '#9a6700',
    '#8250df',
    '#bf3989',
    '#1b7c83',
    '#6e7781',
    '#fb8f44',
    '#0550ae',
    '#a40e26',
    '#116329',
    '#7d4e00',
    '#6639ba',
  ];
  const BAND = { critical: 'rgba(209,36,47,0.16)', warning: 'rgba(191,135,0,0.16)', info: 'rgba(9,105,218,0.12)' };

  function scaled(v, units, step, digits) {
    let i = 0;
    let x = v;
    while (Math.abs(x) >= step && i < units.length - 1) {
      x /= step;
      i++;
    }
    const whole = Math.abs(x) >= 100 || (i === 0 && Number.isInteger(x));
    return `${x.toFixed(whole ? 0 : digits)} ${units[i]}`;
  }

  // A value with its unit at a sensible precision: kB as KiB/MiB/GiB,
  // bit/s as kbit/s and Mbit/s, °C and % with one decimal.
  function fmtValue(v, unit) {
    if (v == null || Number.isNaN(v)) return '–';
    switch (unit) {
      case 'kB':
        return scaled(v, ['KiB', 'MiB', 'GiB'], 1024, 1);
      case 'bit/s':
        return scaled(v, ['bit/s', 'kbit/s', 'Mbit/s', 'Gbit/s'], 1000, 1);
      case '°C':
        return `${v.toFixed(1)} °C`;
      case '%':
        return `${v.toFixed(1)} %`;
      case 'Mbit/s':
        return `${v.toFixed(1)} Mbit/s`;
      case '/s':
      case 'packets/s':
        return `${v < 10 ? +v.toFixed(2) : Math.round(v)} ${unit}`;
      default: {
        const text = Math.abs(v) >= 1000 || Number.isInteger(v) ? String(Math.round(v)) : String(+v.toPrecision(3));
        return unit ? `${text} ${unit}` : text;
      }
    }
  }

  // State charts share one list of words; each series' codes are renumbered
  // into it.
  function stateUnion(seriesList) {
    const states = [];
    const index = new Map();
    const values = seriesList.map((s) =>
      s.v.map((code) => {
        if (code == null) return code;
        const word = s.states[code];
        if (!index.has(word)) {
          index.set(word, states.length);
          states.push(word);
        }
        return index.get(word);
      }),
    );
    return { states, values };
  }

  // Findings that concern a chart: those naming one of its files, and gaps
  // and restarts, which concern every series.
  function findingsFor(chart, findings) {
    return findings.filter((f) => f.rule === 'gap' || f.rule === 'reboot' || f.files.some((p) => chart.files.has(p)));
  }

  function bandsPlugin(bands) {
    return {
      hooks: {
        drawClear: [
          (u) => {
            const { ctx, bbox } = u;
            ctx.save();
            for (const f of bands) {
              const x0 = u.valToPos(f.from, 'x', true);
              const x1 = Math.max(u.valToPos(f.to, 'x', true), x0 + 3);
              if (x1 < bbox.left || x0 > bbox.left + bbox.width) continue;
              ctx.fillStyle = BAND[f.severity] || BAND.info;
              ctx.fillRect(
                Math.max(x0, bbox.left),
                bbox.top,
                Math.min(x1, bbox.left + bbox.width) - Math.max(x0, bbox.left),
                bbox.height,
              );
            }
            ctx.restore();
          },
        ],
      },
    };
  }

  // One shared time range for every chart: zooming one zooms all.
  function createGroup(onRange) {
    const plots = [];
    let applying = false;
    return {
      plots,
      add(u) {
        plots.push(u);
      },
      remove(u) {
        const at = plots.indexOf(u);
        if (at >= 0) plots.splice(at, 1);
      },
      changed(u) {
        if (applying) return;
        applying = true;
        const { min, max } = u.scales.x;
        for (const p of plots) if (p !== u) p.setScale('x', { min, max });
        applying = false;
        onRange(min, max);
      },
      zoom(min, max) {
        applying = true;
        for (const p of plots) p.setScale('x', { min, max });
        applying = false;
        onRange(min, max);
      },
    };
  }

  // The legend entries: time first, then each series with its colour, its
  // value in its unit (or its state's word) and steps for states.
  function seriesOptions(chart, state) {
    const series = [{ value: (u, v) => (v == null ? '–' : fmtTime(v)) }];
    chart.series.forEach((s, k) => {
      series.push({
        label: s.label,
        show: s.show !== false,
        stroke: PALETTE[k % PALETTE.length],
        width: 1.5,
        spanGaps: false,
        paths: state || chart.step ? uPlot.paths.stepped({ align: 1 }) : undefined,
        value: state ? (u, v) => (v == null ? '–' : state.states[v]) : (u, v) => fmtValue(v, s.unit || chart.unit),
      });
    });
    return series;
  }

  // The y axis as wide as its longest label, so that none is cut.
  function labelWidth(u, values) {
    if (!values || !values.length) return 40;
    const ctx = u.ctx;
    ctx.save();
    const font = u.axes[1].font;
    ctx.font = (Array.isArray(font) ? font[0] : font) || '12px sans-serif';
    let widest = 0;
    for (const v of values) widest = Math.max(widest, ctx.measureText(String(v)).width);
    ctx.restore();
    // The canvas counts device pixels, the axis CSS pixels; the rest is
    // the ticks' length and the gap beside them.
    return Math.ceil(widest / (window.devicePixelRatio || 1)) + 22;
  }

  // Steps of a kB axis that are round in KiB, MiB or GiB (100 MiB, not
  // 97.7 MiB).
  const KIB_STEPS = [1, 1024, 1048576]
    .flatMap((base) => [1, 2, 5, 10, 20, 50, 100, 200, 500].map((m) => m * base))
    .sort((a, b) => a - b);

  function yAxisOptions(state, unit) {
    if (!state && unit === 'kB')
      return { values: (u, splits) => splits.map((v) => fmtValue(v, unit)), size: labelWidth, incrs: KIB_STEPS };
    if (!state) return { values: (u, splits) => splits.map((v) => fmtValue(v, unit)), size: labelWidth };
    return {
      splits: () => state.states.map((_, i) => i),
      values: (u, splits) => splits.map((i) => state.states[i] ?? ''),
      size: labelWidth,
    };
  }

  // Draws one chart into `target`: { id, title, unit, kind, series } from
  // TrelvikSeries.buildCharts. Returns the uPlot instance.
  function makeChart(chart, target, options) {
    const { group, findings, width, range, gapLimit } = options;
    const state = chart.kind === 'state' ? stateUnion(chart.series) : null;
    const sharedTimes = new Map();
    const shown = chart.series.map((s, k) => {
      const v = state ? state.values[k] : s.v;
      return Series.breakAtGaps(s.t, v, gapLimit, sharedTimes);
    });
    // Drawn from at most a few points per pixel: a week of samples every
    // ten seconds would cost the page its memory and its speed.
    // A zoom draws the samples of its range again at that resolution.
    const aligned = Series.align(shown);
    const buckets = Math.ceil(width);
    const data = state ? aligned : Series.decimate(aligned, buckets);
    let redrawing = false;
    const redecimate = (u) => {
      if (state || redrawing || aligned[0].length <= 2 * buckets) return;
      redrawing = true;
      u.setData(Series.decimate(Series.within(aligned, u.scales.x.min, u.scales.x.max), buckets), false);
      redrawing = false;
    };
    const unit = chart.unit;
    const opts = {
      width,
      height: state ? Math.max(90, 40 + 22 * state.states.length) : 190,
      tzDate: (ts) => uPlot.tzDate(new Date(ts * 1000), 'Etc/UTC'),
      cursor: { sync: { key: 'trelvik' }, drag: { x: true, y: false } },
      scales: {
        x: { time: true, min: range ? range[0] : undefined, max: range ? range[1] : undefined },
        y: state
          ? { range: [-0.5, Math.max(0.5, state.states.length - 0.5)] }
          : { range: (u, min, max) => padRange(min, max) },
      },
      series: seriesOptions(chart, state),
      axes: [{ values: (u, splits) => timeLabels(splits), space: 70 }, yAxisOptions(state, unit)],
      legend: { live: true },
      plugins: [bandsPlugin(findingsFor(chart, findings))],
      hooks: {
        setScale: [
          (u, key) => {
            if (key !== 'x') return;
            redecimate(u);
            group.changed(u);
          },
        ],
        // Kept with the series, so that a chart drawn again shows what its
        // legend or search left shown.
        setSeries: [
          (u, k, change) => {
            if (k > 0 && change && change.show != null) chart.series[k - 1].show = change.show;
          },
        ],
      },
    };
    const u = new uPlot(opts, data, target);
    // A legend entry shows a short name; the whole command line on hover.
    const rows = target.querySelectorAll('.u-legend .u-series');
    chart.series.forEach((s, k) => {
      if (s.title && rows[k + 1]) rows[k + 1].title = s.title;
    });
    group.add(u);
    return u;
  }

  function padRange(min, max) {
    if (min == null || max == null) return [0, 1];
    if (min === max) return [min - 1, max + 1];
    const pad = (max - min) * 0.05;
    return [min >= 0 && min - pad < 0 ? 0 : min - pad, max + pad];
  }

  // Axis labels in the camera's 24-hour clock: the date only where it
  // changes, the time of day everywhere else.
  function timeLabels(splits) {
    let lastDay = '';
    return splits.map((s) => {
      const text = fmtTime(s);
      const day = text.slice(5, 10);
      const clock = text.slice(11, 16);
      if (day === lastDay) return clock;
      lastDay = day;
      return `${clock}\n${day}`;
    });
  }

  const fmtTime = (s) => Csv.formatTime(s, true);

  return { fmtValue, fmtTime, stateUnion, findingsFor, makeChart, createGroup };
});

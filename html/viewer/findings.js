// Findings: the rules a support engineer runs by eye over a session, each
// giving a severity, one sentence that can go into a ticket, and the evidence
// (the files and the time range) that the viewer zooms to.
//
// Global TrelvikFindings in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory(require('./csv.js'), require('./series.js'));
  else root.TrelvikFindings = factory(root.TrelvikCsv, root.TrelvikSeries);
})(typeof self !== 'undefined' ? self : this, function (TC, TS) {
  'use strict';

  // Every threshold of every rule, to be tuned here and nowhere else.
  const THRESHOLDS = {
    // A memory fall is judged on a straight-line fit over at least this many
    // hours: shorter windows mistake daily cache swings for leaks.
    leakMinHours: 6,
    // Available memory must fall at least this fast (kB per hour) to matter:
    // 512 kB/h is 12 MB a day, enough to exhaust a camera within weeks.
    leakMinFallKiBPerHour: 512,
    // Fit quality (R²) for "steadily": noise and daily cycles stay well below.
    leakMinR2: 0.8,
    // A process or package is named as the cause when it grows at least this
    // share of the fall's rate, with the same fit quality.
    leakCauseMinShare: 0.25,
    // Fragmentation: free blocks of this size (kB) and larger in the Normal
    // zone are what large contiguous allocations (DMA buffers) need.
    fragMinBlockKiB: 64,
    // ... and "staying at zero" means for at least this many rows in a row
    // (an hour of two-minute rounds); a short dip is reclaimed by the kernel.
    fragMinRows: 30,
    // An interval longer than this many sampling periods means at least one
    // round is missing (rounds jitter by a few seconds, never by half).
    gapFactor: 1.5,
    // Resets of several counters closer together than this (seconds) are
    // one event: the package scripts sample on their own clock.
    resetClusterSeconds: 300,
    // A temperature above this (°C) is a finding on its own.
    heatMaxCelsius: 80,
    // Rising: at least this many °C while a fan reports a fault or a heater
    // is on.
    heatRiseCelsius: 5,
    // A heater that is on above this temperature (°C) heats a warm camera.
    heaterMaxCelsius: 35,
    // Fan states that mean a fault (the service's own words).
    fanFault: /fail|fault|error|stop|stuck|block|broken/i,
    // Heater states that mean heating.
    heaterOn: /^\s*on\s*$/i,
    // The one-minute load must stay above the CPU count for this many
    // samples in a row (10 minutes at two-minute rounds): peaks are normal.
    loadMinRun: 5,
    // The CPU count when the session holds no interrupt snapshot to tell.
    defaultCpuCount: 1,
    // An error or drop counter must rise by at least this much in the session.
    netMinIncrease: 10,
    // An interface absent for this many rounds in a row has disappeared.
    ifaceMissingRounds: 3,
  };

  const fmtTime = (s) => TC.formatTime(s, false);
  function fmtDuration(seconds) {
    const m = Math.round(seconds / 60);
    if (m < 60) return `${m} min`;
    const h = Math.floor(m / 60);
    if (h < 48) return `${h} h ${m % 60} min`;
    return `${Math.floor(h / 24)} days ${h % 24} h`;
  }
  const fmtKiB = (k) => (Math.abs(k) >= 1024 ? `${(k / 1024).toFixed(1)} MiB` : `${Math.round(k)} kB`);

  // Least-squares line through (t in hours, v): { slope per hour, r2, n }.
  function linearFit(t, v, from, to) {
    let n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    const t0 = from;
    for (let i = 0; i < t.length; i++) {
      if (t[i] < from || t[i] > to || v[i] == null) continue;
      const x = (t[i] - t0) / 3600;
      const y = v[i];
      n++; sx += x; sy += y; sxx += x * x; sxy += x * y; syy += y * y;
    }
    if (n < 3) return null;
    const vx = n * sxx - sx * sx;
    const vy = n * syy - sy * sy;
    if (vx <= 0) return null;
    const slope = (n * sxy - sx * sy) / vx;
    const r2 = vy <= 0 ? 0 : ((n * sxy - sx * sy) ** 2) / (vx * vy);
    return { slope, r2, n };
  }

  function finding(rule, severity, text, from, to, files) {
    return { rule, severity, text, from, to, files: [...new Set(files)] };
  }

  const byChart = (all, re) => all.filter((s) => re.test(s.chart));

  // The per-round time reference: the longest of the files every round writes.
  function roundTimes(all) {
    // load.csv first: of equally long references it names the evidence best.
    const candidates = all.filter((s) => s.chart === 'load')
      .concat(all.filter((s) => s.chart === 'kernel:pagefaults' || s.chart === 'memory:meminfo'));
    let best = [];
    for (const s of candidates) if (s.t.length > best.length) best = s.t;
    return best;
  }

  function resetEvents(all, period) {
    const resets = [];
    for (const s of all) for (const t of s.resets || []) resets.push({ t, s });
    resets.sort((a, b) => a.t - b.t);
    const events = [];
    for (const r of resets) {
      const last = events[events.length - 1];
      if (last && r.t - last.from <= Math.max(THRESHOLDS.resetClusterSeconds, period)) {
        last.to = Math.max(last.to, r.t);
        last.series.push(r.s);
      } else events.push({ from: r.t, to: r.t, series: [r.s] });
    }
    return events;
  }

  function counterName(s) {
    if (s.iface) return `${s.iface} ${s.label}`;
    return s.label;
  }

  function reboots(ctx) {
    return ctx.resets.map((e) => {
      const names = [...new Set(e.series.map(counterName))];
      const sinceBoot = e.series.some((s) => s.chart === 'kernel:pagefaults');
      const what = sinceBoot ? 'the device restarted (the kernel\'s since-boot counters started again)' : 'a counter wrapped or its interface was reset';
      const shown = names.slice(0, 4).join(', ') + (names.length > 4 ? ` and ${names.length - 4} more` : '');
      return finding('reboot', 'warning', `Counters reset at ${fmtTime(e.from)} (${shown}): ${what}.`,
        e.from, e.to, e.series.map((s) => s.file));
    });
  }

  function gaps(ctx) {
    const out = [];
    const t = ctx.rounds;
    for (let i = 1; i < t.length; i++) {
      const dt = t[i] - t[i - 1];
      if (dt <= THRESHOLDS.gapFactor * ctx.period) continue;
      const missing = Math.round(dt / ctx.period) - 1;
      out.push(finding('gap', 'warning',
        `No sampling from ${fmtTime(t[i - 1])} for ${fmtDuration(dt)} (about ${missing} round${missing === 1 ? '' : 's'} missing): storage outage, daemon stopped or device off.`,
        t[i - 1], t[i], ctx.roundFiles));
    }
    return out;
  }

  // Splits [start, end] at the reset events: memory starts afresh after a reboot.
  function segments(ctx) {
    const t = ctx.rounds;
    if (!t.length) return [];
    const cuts = ctx.resets.map((e) => e.from).filter((x) => x > t[0] && x <= t[t.length - 1]);
    const out = [];
    let start = t[0];
    for (const c of cuts) {
      out.push([start, c - 1]);
      start = c;
    }
    out.push([start, t[t.length - 1]]);
    return out;
  }

  // A level line that turns into a slope at `start` (a hinge), fitted over
  // [from, to]: { slope per hour after the turn, r2 over the whole window }.
  function hingeFit(t, v, from, to, start) {
    let n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    for (let i = 0; i < t.length; i++) {
      if (t[i] < from || t[i] > to || v[i] == null) continue;
      const x = Math.max(0, t[i] - start) / 3600;
      const y = v[i];
      n++; sx += x; sy += y; sxx += x * x; sxy += x * y; syy += y * y;
    }
    const vx = n * sxx - sx * sx;
    const vy = n * syy - sy * sy;
    if (n < 3 || vx <= 0) return null;
    const slope = (n * sxy - sx * sy) / vx;
    return { slope, r2: vy <= 0 ? 0 : ((n * sxy - sx * sy) ** 2) / (vx * vy), n };
  }

  // Where available memory starts to fall, and how steadily: the hinge that
  // fits the segment best, tried every half hour, with at least the minimum
  // fit window after it.
  function steadiestFall(s, from, to) {
    let best = null;
    for (let start = from; to - start >= THRESHOLDS.leakMinHours * 3600; start += 1800) {
      const fit = hingeFit(s.t, s.v, from, to, start);
      if (fit && (!best || fit.r2 > best.fit.r2)) best = { from: start, fit };
    }
    if (!best || best.fit.slope > -THRESHOLDS.leakMinFallKiBPerHour || best.fit.r2 < THRESHOLDS.leakMinR2) return null;
    return best;
  }

  function memoryLeak(ctx) {
    const mem = ctx.all.filter((s) => s.chart === 'memory:meminfo');
    const avail = mem.find((s) => s.meminfo === 'MemAvailable') || mem.find((s) => s.meminfo === 'MemFree');
    if (!avail) return [];
    const growers = byChart(ctx.all, /^processes:(rss|packages-rss)$/);
    const out = [];
    for (let [from, to] of segments(ctx)) {
      if (to - from < THRESHOLDS.leakMinHours * 3600) continue;
      const best = steadiestFall(avail, from, to);
      if (!best) continue;
      const { fit } = best;
      from = best.from;
      const fall = -fit.slope;
      let cause = null;
      for (const g of growers) {
        const gf = linearFit(g.t, g.v, from, to);
        if (!gf || gf.r2 < THRESHOLDS.leakMinR2 || gf.slope < THRESHOLDS.leakCauseMinShare * fall) continue;
        // A process names the cause better than its package does.
        const better = !cause || (g.chart === 'processes:rss' && cause.s.chart !== 'processes:rss') ||
          (g.chart === cause.s.chart && gf.slope > cause.fit.slope);
        if (better) cause = { s: g, fit: gf };
      }
      // A process is named by its program and package, not its whole command line.
      const name = cause && (cause.s.chart === 'processes:rss' ? `process ${cause.s.label.replace(/^(\S+).*(\([^()]*\))$/, '$1 $2')}` : `package ${cause.s.label}`);
      const who = cause
        ? `${name} grew by ${fmtKiB(cause.fit.slope)}/h over the same time (fit R² ${cause.fit.r2.toFixed(2)})`
        : 'no package process grew the same way';
      out.push(finding('memory', 'critical',
        `Available memory fell steadily by ${fmtKiB(fall)}/h from ${fmtTime(from)} to ${fmtTime(to)} (linear fit over ${fmtDuration(to - from)}, R² ${fit.r2.toFixed(2)}); ${who}.`,
        from, to, cause ? [avail.file, cause.s.file] : [avail.file]));
    }
    return out;
  }

  // Runs of rows where `test(i)` holds, at least `min` long: [[i0, i1], ...].
  function runs(length, test, min) {
    const out = [];
    let start = -1;
    for (let i = 0; i <= length; i++) {
      if (i < length && test(i)) {
        if (start < 0) start = i;
      } else if (start >= 0) {
        if (i - start >= min) out.push([start, i - 1]);
        start = -1;
      }
    }
    return out;
  }

  function fragmentation(ctx) {
    const large = ctx.all.filter((s) => s.chart === 'kernel:buddy:Normal' && s.blockKiB >= THRESHOLDS.fragMinBlockKiB);
    if (!large.length) return [];
    const t = large[0].t;
    const zero = (i) => large.every((s) => s.v[i] === 0);
    return runs(t.length, zero, THRESHOLDS.fragMinRows).map(([a, b]) => {
      const tail = b === t.length - 1 ? ' and stayed there to the end of the session' : ` for ${fmtDuration(t[b] - t[a])}`;
      return finding('fragmentation', 'warning',
        `Free blocks of ${THRESHOLDS.fragMinBlockKiB} kB and larger in the Normal zone reached zero at ${fmtTime(t[a])}${tail}: memory is fragmented, large allocations can fail.`,
        t[a], t[b], [large[0].file]);
    });
  }

  function overLimit(ctx, sensors) {
    const out = [];
    for (const s of sensors) {
      for (const [a, b] of runs(s.t.length, (i) => s.v[i] != null && s.v[i] > THRESHOLDS.heatMaxCelsius, 1)) {
        let peak = -Infinity;
        for (let i = a; i <= b; i++) peak = Math.max(peak, s.v[i]);
        out.push(finding('heat', 'critical',
          `Sensor ${s.label} was above ${THRESHOLDS.heatMaxCelsius} °C from ${fmtTime(s.t[a])} for ${fmtDuration(s.t[b] - s.t[a] + ctx.period)}, peaking at ${peak.toFixed(1)} °C.`,
          s.t[a], s.t[b], [s.file]));
      }
    }
    return out;
  }

  // First value and peak (with its time) of a sensor within [from, to].
  function rise(s, from, to) {
    let first = null, peak = -Infinity, peakAt = from;
    for (let i = 0; i < s.t.length; i++) {
      if (s.t[i] < from || s.t[i] > to || s.v[i] == null) continue;
      if (first == null) first = s.v[i];
      if (s.v[i] > peak) { peak = s.v[i]; peakAt = s.t[i]; }
    }
    return first == null ? null : { first, peak, peakAt };
  }

  // Sensors rising while a fan reports a fault, or while a heater heats a
  // camera that is warm already.
  function risingWhile(sensors, states) {
    const out = [];
    for (const st of states) {
      const fan = /^Fan/.test(st.label);
      const bad = (i) => st.text[i] != null && (fan ? THRESHOLDS.fanFault : THRESHOLDS.heaterOn).test(st.text[i]);
      for (const [a, b] of runs(st.t.length, bad, 1)) {
        const from = st.t[a];
        const to = st.t[b];
        for (const s of sensors) {
          const r = rise(s, from, to);
          if (!r || r.peak - r.first < THRESHOLDS.heatRiseCelsius) continue;
          if (!fan && r.peak <= THRESHOLDS.heaterMaxCelsius) continue;
          const why = fan ? `while ${st.label} reported "${st.text[a]}"` : `while ${st.label} was on`;
          out.push(finding('heat', 'warning',
            `Sensor ${s.label} rose from ${r.first.toFixed(1)} °C to ${r.peak.toFixed(1)} °C between ${fmtTime(from)} and ${fmtTime(r.peakAt)} ${why}.`,
            from, to, [s.file, st.file]));
        }
      }
    }
    return out;
  }

  function heat(ctx) {
    const sensors = ctx.all.filter((s) => s.chart === 'env:temperatures');
    const states = ctx.all.filter((s) => s.chart === 'env:states');
    return [...overLimit(ctx, sensors), ...risingWhile(sensors, states)];
  }

  function load(ctx) {
    const one = ctx.all.find((s) => s.chart === 'load' && /1 min/.test(s.label));
    if (!one) return [];
    const cpus = ctx.cpuCount;
    return runs(one.t.length, (i) => one.v[i] != null && one.v[i] > cpus, THRESHOLDS.loadMinRun).map(([a, b]) => {
      let peak = 0;
      for (let i = a; i <= b; i++) peak = Math.max(peak, one.v[i]);
      return finding('load', 'warning',
        `One-minute load stayed above the CPU count (${cpus}) from ${fmtTime(one.t[a])} for ${fmtDuration(one.t[b] - one.t[a] + ctx.period)} (${b - a + 1} samples), peaking at ${peak.toFixed(2)}.`,
        one.t[a], one.t[b], [one.file]);
    });
  }

  function network(ctx) {
    const out = [];
    for (const s of byChart(ctx.all, /^net:.+:errors$/)) {
      let total = 0, first = null, last = null;
      for (let i = 1; i < s.raw.length; i++) {
        const a = s.raw[i - 1], b = s.raw[i];
        if (a == null || b == null || b <= a) continue;
        total += b - a;
        if (first == null) first = s.t[i - 1];
        last = s.t[i];
      }
      if (total < THRESHOLDS.netMinIncrease) continue;
      out.push(finding('network', 'warning',
        `Interface ${s.iface}: ${s.label} rose by ${total} between ${fmtTime(first)} and ${fmtTime(last)}.`,
        first, last, [s.file]));
    }
    // An interface is judged by its bytes series, one per interface file.
    const ifaces = byChart(ctx.all, /^net:.+:bits$/).filter((s) => s.metric === 'rx_bytes');
    const ref = ctx.rounds;
    const tolerance = ctx.period / 2;
    for (const s of ifaces) {
      let j = 0;
      const present = ref.map((x) => {
        while (j < s.t.length && s.t[j] < x - tolerance) j++;
        return j < s.t.length && Math.abs(s.t[j] - x) <= tolerance;
      });
      for (const [a, b] of runs(ref.length, (i) => !present[i], THRESHOLDS.ifaceMissingRounds)) {
        const gone = b === ref.length - 1 ? 'and did not come back' : `until ${fmtTime(ref[b + 1])}`;
        out.push(finding('network', 'warning',
          `Interface ${s.iface} disappeared at ${fmtTime(ref[a])} ${gone} (${b - a + 1} rounds without it).`,
          ref[a], ref[b], [s.file]));
      }
    }
    return out;
  }

  // All findings of a session, ordered by time.
  //   all:      the series of every file (TrelvikSeries.describeFile)
  //   cpuCount: the device's CPU count, when known
  function analyse(all, options = {}) {
    const rounds = roundTimes(all);
    const measured = TS.typicalInterval(rounds);
    const period = measured > 0 ? measured : 120;
    const ctx = {
      all,
      rounds,
      period,
      roundFiles: [...new Set(all.filter((s) => s.t === rounds).map((s) => s.file))],
      cpuCount: options.cpuCount > 0 ? options.cpuCount : THRESHOLDS.defaultCpuCount,
    };
    ctx.resets = resetEvents(all, period);
    const out = [
      ...memoryLeak(ctx), ...fragmentation(ctx), ...gaps(ctx), ...reboots(ctx),
      ...heat(ctx), ...load(ctx), ...network(ctx),
    ];
    return out.sort((a, b) => a.from - b.from);
  }

  // The CPU count from an interrupt snapshot's first line ("CPU0 CPU1 ...").
  function cpuCountFromInterrupts(text) {
    const first = text.split('\n', 1)[0];
    const m = first.match(/CPU\d+/g);
    return m ? m.length : 0;
  }

  return { THRESHOLDS, analyse, linearFit, cpuCountFromInterrupts, fmtTime, fmtDuration };
});

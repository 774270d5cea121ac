// Findings: the rules a support engineer runs by eye over a session, each
// giving a severity, one sentence that can go into a ticket, and the evidence
// (the files and the time range) that the viewer zooms to.
//
// Global TrelvikFindings in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports)
    module.exports = factory(require('./csv.js'), require('./series.js'), require('../common.js'));
  else {
    root.TrelvikFindings = factory(root.TrelvikCsv, root.TrelvikSeries, root.TrelvikCommon);
    // Kept to start the same code in a worker.
    (root.TrelvikWorkerSources = root.TrelvikWorkerSources || []).push(
      `self.TrelvikFindings = (${factory})(self.TrelvikCsv, self.TrelvikSeries, self.TrelvikCommon);`,
    );
  }
})(typeof self !== 'undefined' ? self : this, function (Csv, Series, Common) {
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
    // A fall that ends before its segment does counts only if what follows
    // gives back less than this share of it (a daily swing gives back half).
    leakMaxRecoveryShare: 0.25,
    // Once a process is seen leaking, its growth after a restart counts
    // from this many hours: a process killed for its leak restarts sooner.
    leakAgainMinHours: 2,
    // A process or package is named as the cause when it grows at least this
    // share of the fall's rate, with the same fit quality.
    leakCauseMinShare: 0.25,
    // Onsets and ends of a steady change are first looked for among this
    // many evenly spread samples, then refined to the sample: a week of
    // samples is too many to try every pair.
    fitCandidates: 400,
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
    // The busiest processes a load finding names, from top's snapshots
    // taken while the load was high (and this many seconds after).
    topShown: 3,
    topSlackSeconds: 120,
    // Snapshots with a lower one-minute load are not read for processes:
    // the load rule needs a load above the CPU count, at least one.
    topMinLoad: 1,
    // The CPU count is read from the processor column of this many of top's
    // first snapshots when nothing else tells it: one snapshot may show
    // every listed process on one CPU.
    topCpuBlocks: 30,
    // An error or drop counter must rise by at least this much in the session.
    netMinIncrease: 10,
    // An interface absent for this many rounds in a row has disappeared.
    ifaceMissingRounds: 3,
    // A process whose resident memory falls by this share at once, or whose
    // PID changes, was restarted: its growth starts afresh there.
    restartDropShare: 0.3,
    // Available memory jumping up by this much (kB) between two rounds was
    // given back (a process ended or was killed): a fall is fitted on
    // either side separately.
    availJumpKiB: 32768,
    // Available memory under this share of the total is low: the kernel
    // reclaims hard and the out-of-memory killer is near.
    lowMemoryShare: 0.05,
    // ... for at least this many rounds in a row (one low round is a peak).
    lowMemoryMinRows: 2,
    // A process restarting while available memory was under this share of
    // the total was most likely killed for lack of memory; low memory that
    // stayed under it until such a kill led to the kill.
    oomFloorShare: 0.1,
    // No session is from before this year: a row dated earlier was written
    // before the camera's clock was set (1970 after a cold start).
    earliestYear: 2001,
    // Rows may start this much before the start written in the facts (the
    // first round starts as the session does) ...
    clockSlackBeforeSeconds: 300,
    // ... and end this much after its stop (the last round finishing);
    // a row dated later than that was written by a wrong clock.
    clockSlackAfterSeconds: 3600,
  };

  const fmtTime = (s) => Common.formatDateTime(s, false);
  const fmtDuration = Common.formatDuration;
  const fmtKiB = (k) =>
    Math.abs(k) >= 1048576
      ? `${(k / 1048576).toFixed(1)} GiB`
      : Math.abs(k) >= 1024
        ? `${(k / 1024).toFixed(1)} MiB`
        : `${Math.round(k)} kB`;

  // Least-squares line through (t in hours, v): { slope per hour, r2, n }.
  function linearFit(t, v, from, to) {
    let n = 0,
      sx = 0,
      sy = 0,
      sxx = 0,
      sxy = 0,
      syy = 0;
    const t0 = from;
    for (let i = 0; i < t.length; i++) {
      if (t[i] < from || t[i] > to || absent(v[i])) continue;
      const x = (t[i] - t0) / 3600;
      const y = v[i];
      n++;
      sx += x;
      sy += y;
      sxx += x * x;
      sxy += x * y;
      syy += y * y;
    }
    if (n < 3) return null;
    const vx = n * sxx - sx * sx;
    const vy = n * syy - sy * sy;
    if (vx <= 0) return null;
    const slope = (n * sxy - sx * sy) / vx;
    const r2 = vy <= 0 ? 0 : (n * sxy - sx * sy) ** 2 / (vx * vy);
    return { slope, r2, n };
  }

  function finding(rule, severity, text, from, to, files) {
    return { rule, severity, text, from, to, files: [...new Set(files)] };
  }

  const byChart = (all, re) => all.filter((s) => re.test(s.chart));
  const absent = Series.absent;
  const list = (words) =>
    words.length < 2 ? words.join('') : `${words.slice(0, -1).join(', ')} and ${words[words.length - 1]}`;
  const plural = (n, one, many) => `${n} ${n === 1 ? one : many}`;

  // The per-round time reference: the longest of the files every round writes.
  function roundTimes(all) {
    // load.csv first: of equally long references it names the evidence best.
    const candidates = all
      .filter((s) => s.chart === 'load')
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
    // Counters of several files starting again together, or the kernel's
    // since-boot counters, mean the device restarted; one counter alone
    // wrapped or its interface was reset.
    for (const e of events) {
      const files = new Set(e.series.map((s) => s.file));
      e.restart =
        files.size > 1 || e.series.some((s) => s.chart === 'kernel:pagefaults' || s.chart === 'vmstat:system');
    }
    return events;
  }

  function counterName(s) {
    if (s.iface) return `${s.iface} ${s.label}`;
    return s.label;
  }

  // Intervals between rounds long enough that rounds are missing.
  function gapList(ctx) {
    const out = [];
    const t = ctx.rounds;
    for (let i = 1; i < t.length; i++) {
      const dt = t[i] - t[i - 1];
      if (dt <= THRESHOLDS.gapFactor * ctx.period) continue;
      out.push({ from: t[i - 1], to: t[i], missing: Math.round(dt / ctx.period) - 1 });
    }
    return out;
  }

  const gapText = (g) =>
    `no sampling from ${fmtTime(g.from)} for ${fmtDuration(g.to - g.from)} (${plural(g.missing, 'round', 'rounds')} missing)`;

  // Restarts with the gap before them, gaps alone, and counters that reset
  // on their own: one finding each.
  function restartsAndGaps(ctx) {
    const out = [];
    const gaps = gapList(ctx);
    const used = new Set();
    const near = Math.max(THRESHOLDS.resetClusterSeconds, ctx.period);
    for (const e of ctx.resets) {
      const names = [...new Set(e.series.map(counterName))];
      const shown = names.slice(0, 4).join(', ') + (names.length > 4 ? ` and ${names.length - 4} more` : '');
      const files = e.series.map((s) => s.file);
      if (!e.restart) {
        out.push(
          finding(
            'counter',
            'info',
            `Counter ${shown} started again at ${fmtTime(e.from)}: it wrapped or its interface was reset.`,
            e.from,
            e.to,
            files,
          ),
        );
        continue;
      }
      const gap = gaps.find((g) => !used.has(g) && e.from >= g.from && e.from - g.to <= near);
      if (gap) used.add(gap);
      const before = gap ? ` after ${gapText(gap)}` : '';
      out.push(
        finding(
          'reboot',
          'warning',
          `The device restarted at ${fmtTime(e.from)}${before}: the counters started again (${shown}).`,
          gap ? gap.from : e.from,
          e.to,
          gap ? files.concat(ctx.roundFiles) : files,
        ),
      );
    }
    for (const g of gaps) {
      if (used.has(g)) continue;
      const text = gapText(g);
      out.push(
        finding(
          'gap',
          'warning',
          `${text[0].toUpperCase()}${text.slice(1)}: storage outage, daemon stopped or device off.`,
          g.from,
          g.to,
          ctx.roundFiles,
        ),
      );
    }
    return out;
  }

  // ---- memory ----------------------------------------------------------

  // Prefix sums over the points of (t, v) between two indices, for hinge
  // fits in constant time: x in hours from `origin`; `points` of them, at
  // the indices `idx`. Typed, and one set for every fit, grown to the
  // longest stretch: a week of a process is tens of thousands of points,
  // fitted for each process and stretch, and new arrays for each fit cost
  // more than the fits. A fit is done before the next begins.
  let sums = null;
  function prefixSums(t, v, i0, i1, origin) {
    const n = i1 - i0 + 1;
    if (!sums || sums.x.length < n + 1) {
      const size = n + 1;
      sums = {
        x: new Float64Array(size),
        xx: new Float64Array(size),
        y: new Float64Array(size),
        yy: new Float64Array(size),
        xy: new Float64Array(size),
        idx: new Int32Array(size),
        points: 0,
      };
    }
    const P = sums;
    const { x: px, xx: pxx, y: py, yy: pyy, xy: pxy, idx } = P;
    px[0] = pxx[0] = py[0] = pyy[0] = pxy[0] = 0;
    let k = 0;
    for (let i = i0; i <= i1; i++) {
      if (absent(v[i])) continue;
      const x = (t[i] - origin) / 3600;
      const y = v[i];
      idx[k] = i;
      px[k + 1] = px[k] + x;
      pxx[k + 1] = pxx[k] + x * x;
      py[k + 1] = py[k] + y;
      pyy[k + 1] = pyy[k] + y * y;
      pxy[k + 1] = pxy[k] + x * y;
      k++;
    }
    P.points = k;
    return P;
  }

  // The hinge fit over points [0, j] of P turning at point k: level before
  // it, a straight slope from it, into `out`: { slope per hour, r2, end }.
  // False where there is no fit. Tens of thousands are tried per series:
  // none of them allocates.
  function hingeAt(P, k, j, out) {
    const n = j + 1;
    const m = j + 1 - k; // points on the slope
    const xs = P.x[j + 1] - P.x[k];
    const xk = P.x[k + 1] - P.x[k]; // the turn's own x
    // x' = x - xk over the slope, 0 before it.
    const sx = xs - m * xk;
    const sxx = P.xx[j + 1] - P.xx[k] - 2 * xk * xs + m * xk * xk;
    const sxy = P.xy[j + 1] - P.xy[k] - xk * (P.y[j + 1] - P.y[k]);
    const sy = P.y[j + 1];
    const syy = P.yy[j + 1];
    const vx = n * sxx - sx * sx;
    const vy = n * syy - sy * sy;
    if (vx <= 0) return false;
    const c = n * sxy - sx * sy;
    const slope = c / vx;
    out.slope = slope;
    out.r2 = vy <= 0 ? 0 : (c * c) / (vx * vy);
    // The fitted value at point j, where the slope ends.
    out.end = (sy - slope * sx) / n + slope * (P.x[j + 1] - P.x[j] - xk);
    return true;
  }

  // The longest stretch of [i0, i1] over which v changes steadily in the
  // direction of `sign` (-1 falling, +1 growing) by at least `rate` per
  // hour: a level that turns into a slope at a round (the onset), fitted
  // from the segment's start to an end that need not be the segment's.
  // { from, to, slope, r2 } or null.
  function steadiestChange(t, v, i0, i1, sign, rate, minHours = THRESHOLDS.leakMinHours) {
    const P = prefixSums(t, v, i0, i1, t[i0]);
    const points = P.points;
    const at = (k) => t[P.idx[k]];
    const hours = minHours * 3600;
    const fit = { slope: 0, r2: 0, end: 0 };
    // The fit of the turn at k and the end at j (in `fit`, until the next
    // try), or null.
    const good = (k, j) => {
      if (at(j) - at(k) < hours) return null;
      if (!hingeAt(P, k, j, fit) || fit.r2 < THRESHOLDS.leakMinR2 || sign * fit.slope < rate) return null;
      // A window that ends before the segment does must not be undone by
      // what follows it: a daily swing comes back, a leak that stopped
      // does not.
      const rest = points - 1 - j;
      if (rest > 0) {
        const back = -sign * ((P.y[points] - P.y[j + 1]) / rest - fit.end);
        if (back > (THRESHOLDS.leakMaxRecoveryShare * Math.abs(fit.slope) * (at(j) - at(k))) / 3600) return null;
      }
      return fit;
    };
    // Candidates on a coarse stride first (a week of samples is too many
    // for every pair), then the turn and the end refined to the point.
    const stride = Math.max(1, Math.ceil(points / THRESHOLDS.fitCandidates));
    // The turn and end that fit best: a longer steady change fits better
    // than a part of it (its signal grows with its length, the noise does
    // not), a change that stopped fits best up to where it stopped.
    let best = null;
    const keep = (k, j) => (best = { k, j, fit: { ...fit } });
    for (let j = points - 1; j >= 2; j -= stride) {
      for (let k = 0; k < j - 1; k += stride) {
        if (good(k, j) && (!best || fit.r2 > best.fit.r2)) keep(k, j);
      }
    }
    if (!best) return null;
    for (let round = 0; round < 2; round++) {
      const { k: k0, j: j0 } = best;
      for (let j = Math.max(k0 + 2, j0 - stride); j <= Math.min(points - 1, j0 + stride); j++) {
        if (good(k0, j) && fit.r2 > best.fit.r2) keep(k0, j);
      }
      for (let k = Math.max(0, k0 - stride); k <= Math.min(best.j - 2, k0 + stride); k++) {
        if (good(k, best.j) && fit.r2 > best.fit.r2) keep(k, best.j);
      }
    }
    return { from: at(best.k), to: at(best.j), slope: best.fit.slope, r2: best.fit.r2 };
  }

  // Indices where [0, n) is cut: each cut starts a new segment.
  function segmentsAt(t, cuts) {
    const out = [];
    let start = 0;
    for (const c of [...new Set(cuts)].sort((a, b) => a - b)) {
      if (c <= start || c >= t.length) continue;
      out.push([start, c - 1]);
      start = c;
    }
    if (t.length) out.push([start, t.length - 1]);
    return out;
  }

  const indexAt = Series.firstAtOrAfter;

  // Indices of t where a series is not continuous: restarts of the device
  // and the camera's clock being set or stepped (a fit across either would
  // mix two stretches).
  function discontinuities(ctx, t) {
    const at = ctx.resets.filter((e) => e.restart).map((e) => e.from);
    for (const e of ctx.clockEvents || []) if (e.to != null) at.push(e.to);
    return at.map((x) => indexAt(t, x));
  }

  // Times a package process was restarted: its PID changed, or its
  // resident memory dropped at once by a large share.
  function restartTimes(s) {
    // Series come in many shapes: their arrays are taken once, not read
    // off the series at every point.
    const { t, v, pid } = s;
    const out = [];
    let prev = -1;
    for (let i = 0; i < t.length; i++) {
      if (absent(v[i])) continue;
      if (prev >= 0) {
        const pidChanged = pid && !absent(pid[i]) && !absent(pid[prev]) && pid[i] !== pid[prev];
        const dropped = v[i] < (1 - THRESHOLDS.restartDropShare) * v[prev];
        if (pidChanged || dropped) out.push({ t: t[i], before: t[prev] });
      }
      prev = i;
    }
    return out;
  }

  // A process is named by its program and package, not its whole command line.
  function shortName(s) {
    if (s.chart !== 'processes:rss') return `package ${s.label}`;
    const m = /^(\S+).*?(\([^()]*\))$/.exec(s.label);
    return m ? `process ${m[1].slice(m[1].lastIndexOf('/') + 1)} ${m[2]}` : `process ${s.label}`;
  }

  function memoryContext(ctx) {
    const mem = ctx.all.filter((s) => s.chart === 'memory:meminfo');
    const avail = mem.find((s) => s.meminfo === 'MemAvailable') || mem.find((s) => s.meminfo === 'MemFree');
    const totalSeries = mem.find((s) => s.meminfo === 'MemTotal');
    let total = 0;
    if (totalSeries) for (const x of totalSeries.v) if (x > total) total = x;
    let growers = byChart(ctx.all, /^processes:rss$/);
    if (!growers.length) growers = byChart(ctx.all, /^processes:packages-rss$/);
    return { avail, total, growers, restarts: growers.map((g) => ({ g, at: restartTimes(g) })) };
  }

  // Available memory at (or just before) time x.
  function availAt(avail, x) {
    const i = Math.min(avail.t.length - 1, Math.max(0, indexAt(avail.t, x + 1) - 1));
    return avail.v[i];
  }

  // Falls of available memory, fitted between restarts of the device, jumps
  // of available memory and restarts of package processes.
  function memoryFalls(ctx, mc) {
    const { avail } = mc;
    const t = avail.t;
    const cuts = discontinuities(ctx, t);
    for (let i = 1; i < t.length; i++) {
      if (avail.v[i] != null && avail.v[i - 1] != null && avail.v[i] - avail.v[i - 1] > THRESHOLDS.availJumpKiB)
        cuts.push(i);
    }
    for (const r of mc.restarts) for (const x of r.at) cuts.push(indexAt(t, x.t));
    const out = [];
    for (const [a, b] of segmentsAt(t, cuts)) {
      if (t[b] - t[a] < THRESHOLDS.leakMinHours * 3600) continue;
      const fall = steadiestChange(t, avail.v, a, b, -1, THRESHOLDS.leakMinFallKiBPerHour);
      if (fall) out.push(fall);
    }
    return out;
  }

  // Stretches of steady growth of each package process, between its restarts.
  function processGrowth(ctx, mc) {
    const out = [];
    const rate = THRESHOLDS.leakMinFallKiBPerHour * THRESHOLDS.leakCauseMinShare;
    for (const { g, at } of mc.restarts) {
      const cuts = at.map((r) => indexAt(g.t, r.t)).concat(discontinuities(ctx, g.t));
      const segs = segmentsAt(g.t, cuts);
      const fit = (minHours) =>
        segs.map(([a, b]) =>
          g.t[b] - g.t[a] < minHours * 3600 ? null : steadiestChange(g.t, g.v, a, b, 1, rate, minHours),
        );
      let windows = fit(THRESHOLDS.leakMinHours);
      if (windows.some(Boolean)) {
        const again = fit(THRESHOLDS.leakAgainMinHours);
        windows = windows.map((w, i) => w || again[i]);
      }
      windows = windows.filter(Boolean);
      if (windows.length) out.push({ g, windows, restarts: at });
    }
    return out;
  }

  const overlaps = (a, b) => a.from <= b.to && b.from <= a.to;

  // Low available memory: runs under the share of the total.
  function lowRuns(mc) {
    const { avail, total } = mc;
    if (!(total > 0)) return [];
    const floor = THRESHOLDS.lowMemoryShare * total;
    return runs(avail.t.length, (i) => avail.v[i] != null && avail.v[i] < floor, THRESHOLDS.lowMemoryMinRows).map(
      ([a, b]) => {
        let least = Infinity;
        for (let i = a; i <= b; i++) least = Math.min(least, avail.v[i]);
        return { from: avail.t[a], to: avail.t[b], least };
      },
    );
  }

  // Restarts of package processes while available memory was near the floor.
  function oomKills(mc) {
    if (!(mc.total > 0)) return [];
    const out = [];
    for (const { g, at } of mc.restarts) {
      for (const r of at) {
        const left = availAt(mc.avail, r.before);
        if (left != null && left < THRESHOLDS.oomFloorShare * mc.total) out.push({ g, t: r.t, left });
      }
    }
    return out;
  }

  // Whether a stretch of low memory led to the kill: the kill came within
  // two rounds of its end, or available memory stayed near the floor from
  // its end until the kill (hovering about the low line on the way).
  function ledToKill(mc, l, k, period) {
    if (k.t < l.from) return false;
    if (k.t <= l.to + 2 * period) return true;
    const { t, v } = mc.avail;
    const floor = THRESHOLDS.oomFloorShare * mc.total;
    for (let i = indexAt(t, l.to); i < t.length && t[i] < k.t; i++) if (v[i] >= floor) return false;
    return true;
  }

  const fmtWindows = (ws) =>
    list(ws.slice(0, 4).map((w) => `${fmtTime(w.from)} to ${fmtTime(w.to)}`)) +
    (ws.length > 4 ? ` and ${ws.length - 4} more stretches` : '');

  // Leaks, by incident: one finding per leaking process across its
  // restarts (with the falls of available memory it explains, its restarts
  // and its out-of-memory kills), one for falls no process explains, and
  // one per stretch of low memory no leak explains.
  function memory(ctx) {
    const mc = memoryContext(ctx);
    if (!mc.avail) return [];
    const falls = memoryFalls(ctx, mc);
    const growth = processGrowth(ctx, mc);
    const kills = oomKills(mc);
    const low = lowRuns(mc);
    const out = [];
    const explained = new Set();
    const lowUsed = new Set();
    const fmtTotal = mc.total > 0 ? ` of ${fmtKiB(mc.total)}` : '';
    // The process growing fastest first: it claims the falls it overlaps.
    growth.sort((a, b) => Math.max(...b.windows.map((w) => w.slope)) - Math.max(...a.windows.map((w) => w.slope)));
    for (const p of growth) {
      const mine = falls.filter((f) => !explained.has(f) && p.windows.some((w) => overlaps(w, f)));
      mine.forEach((f) => explained.add(f));
      const from = Math.min(...p.windows.map((w) => w.from));
      const to = Math.max(...p.windows.map((w) => w.to), ...mine.map((f) => f.to));
      const span = { from, to: to + 2 * ctx.period };
      const restarts = p.restarts.filter((r) => r.t >= from && r.t <= span.to);
      const myKills = kills.filter((k) => k.g === p.g && k.t >= from && k.t <= span.to);
      // Low memory is this leak's when the leak got it there: a stretch of
      // growth or fall ends in it, or it led to a kill of the process.
      const ends = p.windows.concat(mine).map((w) => w.to);
      const myLow = low.filter(
        (l) =>
          ends.some((x) => x >= l.from && x <= l.to + 2 * ctx.period) ||
          myKills.some((k) => ledToKill(mc, l, k, ctx.period)),
      );
      myLow.forEach((l) => lowUsed.add(l));
      const rate = Math.max(...p.windows.map((w) => w.slope));
      let text = `${shortName(p.g)[0].toUpperCase()}${shortName(p.g).slice(1)} leaked memory: its resident memory grew steadily by up to ${fmtKiB(rate)}/h (${fmtWindows(p.windows)})`;
      if (restarts.length) {
        text += `; it restarted at ${list(restarts.slice(0, 4).map((r) => fmtTime(r.t)))}${restarts.length > 4 ? ` and ${restarts.length - 4} more times` : ''}`;
        if (myKills.length) {
          const least = Math.min(...myKills.map((k) => k.left));
          text += ` (${plural(myKills.length, 'out-of-memory kill', 'out-of-memory kills')}: available memory was down to ${fmtKiB(least)}${fmtTotal} before)`;
        }
      }
      if (mine.length) {
        const fall = Math.max(...mine.map((f) => -f.slope));
        const r2 = Math.min(...mine.map((f) => f.r2));
        text += `; available memory fell steadily by up to ${fmtKiB(fall)}/h meanwhile (fit R² ${r2.toFixed(2)})`;
      }
      if (myLow.length)
        text += `; it was under ${Math.round(THRESHOLDS.lowMemoryShare * 100)} %${fmtTotal} ${plural(myLow.length, 'time', 'times')}, down to ${fmtKiB(Math.min(...myLow.map((l) => l.least)))}`;
      out.push(finding('memory', 'critical', `${text}.`, from, to, [p.g.file, mc.avail.file]));
    }
    const rest = falls.filter((f) => !explained.has(f));
    if (rest.length) {
      const fall = Math.max(...rest.map((f) => -f.slope));
      const r2 = Math.min(...rest.map((f) => f.r2));
      out.push(
        finding(
          'memory',
          'critical',
          `Available memory fell steadily by up to ${fmtKiB(fall)}/h (${fmtWindows(rest)}; linear fit R² ${r2.toFixed(2)}); no package process grew the same way.`,
          rest[0].from,
          rest[rest.length - 1].to,
          [mc.avail.file],
        ),
      );
      for (const l of low) if (rest.some((f) => f.to >= l.from && f.to <= l.to + 2 * ctx.period)) lowUsed.add(l);
    }
    for (const l of low.filter((x) => !lowUsed.has(x))) {
      const killed = kills.filter((k) => ledToKill(mc, l, k, ctx.period)).map((k) => shortName(k.g));
      const also = killed.length ? `; ${list([...new Set(killed)])} restarted then (out-of-memory kill)` : '';
      out.push(
        finding(
          'low-memory',
          'critical',
          `Available memory was under ${Math.round(THRESHOLDS.lowMemoryShare * 100)} %${fmtTotal} from ${fmtTime(l.from)} for ${fmtDuration(l.to - l.from + ctx.period)}, down to ${fmtKiB(l.least)}${also}.`,
          l.from,
          l.to,
          [mc.avail.file],
        ),
      );
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
      const tail =
        b === t.length - 1 ? ' and stayed there to the end of the session' : ` for ${fmtDuration(t[b] - t[a])}`;
      return finding(
        'fragmentation',
        'warning',
        `Free blocks of ${THRESHOLDS.fragMinBlockKiB} kB and larger in the Normal zone reached zero at ${fmtTime(t[a])}${tail}: memory is fragmented, large allocations can fail.`,
        t[a],
        t[b],
        [large[0].file],
      );
    });
  }

  // ---- heat ------------------------------------------------------------

  // First value and peak (with its time) of a sensor within [from, to].
  function rise(s, from, to) {
    let first = null,
      peak = -Infinity,
      peakAt = from;
    for (let i = indexAt(s.t, from); i < s.t.length && s.t[i] <= to; i++) {
      if (absent(s.v[i])) continue;
      if (first == null) first = s.v[i];
      if (s.v[i] > peak) {
        peak = s.v[i];
        peakAt = s.t[i];
      }
    }
    return first == null ? null : { first, peak, peakAt };
  }

  // Heat episodes: sensors above the limit, and fan faults or heaters on
  // while sensors rose. Each is { from, to, severity, text, files }.
  function heatEpisodes(ctx, sensors, states) {
    const out = [];
    for (const s of sensors) {
      for (const [a, b] of runs(s.t.length, (i) => s.v[i] != null && s.v[i] > THRESHOLDS.heatMaxCelsius, 1)) {
        let peak = -Infinity;
        for (let i = a; i <= b; i++) peak = Math.max(peak, s.v[i]);
        out.push({
          from: s.t[a],
          to: s.t[b],
          severity: 'critical',
          files: [s.file],
          text: `sensor ${s.label} was above ${THRESHOLDS.heatMaxCelsius} °C from ${fmtTime(s.t[a])} for ${fmtDuration(s.t[b] - s.t[a] + ctx.period)}, peaking at ${peak.toFixed(1)} °C`,
        });
      }
    }
    for (const st of states) {
      const fan = /^Fan/.test(st.label);
      const bad = (i) => st.text[i] != null && (fan ? THRESHOLDS.fanFault : THRESHOLDS.heaterOn).test(st.text[i]);
      for (const [a, b] of runs(st.t.length, bad, 1)) {
        const from = st.t[a];
        const to = st.t[b];
        const rose = [];
        for (const s of sensors) {
          const r = rise(s, from, to);
          if (!r || r.peak - r.first < THRESHOLDS.heatRiseCelsius) continue;
          if (!fan && r.peak <= THRESHOLDS.heaterMaxCelsius) continue;
          rose.push({ s, r });
        }
        if (!rose.length && !fan) continue;
        const what = fan
          ? `${st.label} reported "${st.text[a]}" from ${fmtTime(from)} to ${fmtTime(to)}`
          : `${st.label} was on from ${fmtTime(from)} to ${fmtTime(to)} in a warm camera`;
        const risen = rose.map(
          ({ s, r }) =>
            `${s.label} rose from ${r.first.toFixed(1)} °C to ${r.peak.toFixed(1)} °C by ${fmtTime(r.peakAt)}`,
        );
        out.push({
          from,
          to,
          severity: 'warning',
          files: [st.file, ...rose.map((x) => x.s.file)],
          text: risen.length ? `${what}; ${list(risen)}` : what,
          lead: true,
        });
      }
    }
    return out;
  }

  // One finding per heat incident: episodes that overlap (or follow each
  // other within a round) are one, the fan or heater leading.
  function heat(ctx) {
    const sensors = ctx.all.filter((s) => s.chart === 'env:temperatures');
    const states = ctx.all.filter((s) => s.chart === 'env:states');
    const episodes = heatEpisodes(ctx, sensors, states).sort((a, b) => a.from - b.from);
    const incidents = [];
    for (const e of episodes) {
      const last = incidents[incidents.length - 1];
      if (last && e.from <= last.to + ctx.period) {
        last.to = Math.max(last.to, e.to);
        last.parts.push(e);
      } else incidents.push({ from: e.from, to: e.to, parts: [e] });
    }
    return incidents.map((inc) => {
      const parts = inc.parts.sort((a, b) => (b.lead ? 1 : 0) - (a.lead ? 1 : 0));
      const text = parts.map((p) => p.text).join('; ');
      const severity = parts.some((p) => p.severity === 'critical') ? 'critical' : 'warning';
      return finding(
        'heat',
        severity,
        `${text[0].toUpperCase()}${text.slice(1)}.`,
        inc.from,
        inc.to,
        parts.flatMap((p) => p.files),
      );
    });
  }

  // ---- load ------------------------------------------------------------

  function load(ctx) {
    const one = ctx.all.find((s) => s.chart === 'load' && /1 min/.test(s.label));
    if (!one) return [];
    const cpus = ctx.cpuCount;
    if (!(cpus > 0)) return [];
    return runs(one.t.length, (i) => one.v[i] != null && one.v[i] > cpus, THRESHOLDS.loadMinRun).map(([a, b]) => {
      let peak = 0;
      for (let i = a; i <= b; i++) peak = Math.max(peak, one.v[i]);
      return finding(
        'load',
        'warning',
        `One-minute load stayed above the CPU count (${cpus}) from ${fmtTime(one.t[a])} for ${fmtDuration(one.t[b] - one.t[a] + ctx.period)} (${b - a + 1} samples), peaking at ${peak.toFixed(2)}.`,
        one.t[a],
        one.t[b],
        [one.file],
      );
    });
  }

  // The time where the last run of one-minute loads over the CPU count
  // (`cpus`, where the session has told it already; else the least any
  // count allows) ends in load.csv's table (as read, before any check), or
  // null when there is none: only up to then can the load rule need top's
  // snapshots. A dual-core camera's load passes one for hours of a normal
  // week: measured against one, the scan would go on to the last such hour
  // and inflate most of top's snapshots for a finding days before.
  function busyUntil(table, cpus = 0) {
    const one = table.columns.find((c) => /1 min/.test(c.name));
    if (!one) return null;
    const least = Math.max(THRESHOLDS.topMinLoad, cpus > 0 ? cpus : 0);
    let until = null;
    const v = one.numbers || one.values;
    for (const [a, b] of runs(v.length, (i) => v[i] > least, THRESHOLDS.loadMinRun)) {
      for (let i = a; i <= b; i++) until = Math.max(until ?? -Infinity, table.t[i]);
    }
    return until;
  }

  const latin1 = new TextDecoder('latin1');

  // Top's snapshots ("=== date time ===" blocks of busybox top's batch
  // output) read from the file's bytes as they come, chunk by chunk: the
  // file is the session's largest and is never held whole. push(chunk)
  // each chunk, then result() gives { times: every snapshot's time, busy:
  // [{ time, sums }] } where only the snapshots with a one-minute load of
  // at least THRESHOLDS.topMinLoad are read further (their processes'
  // %CPU by short name): a load finding needs no other. With `until`, the
  // scan ends (push returns false) once the CPU count is known and a
  // snapshot is past that time by more than a load finding looks: most of
  // the file is then never inflated. `reach` in the result is the last time
  // it answers for.
  function topScanner(until = Infinity) {
    const enough = (time) => times.length >= THRESHOLDS.topCpuBlocks && time > until + THRESHOLDS.topSlackSeconds;
    let full = false;
    const times = [];
    const busy = [];
    let cpus = 0; // the CPU count top's processor column shows
    let carry = new Uint8Array(0);
    const isMark = (b, at) =>
      (at === 0 || b[at - 1] === 10) && b[at + 1] === 61 && b[at + 2] === 61 && b[at + 3] === 32;
    const marks = (b) => {
      const out = [];
      for (let at = b.indexOf(61); at >= 0 && at + 3 < b.length; at = b.indexOf(61, at + 1))
        if (isMark(b, at)) out.push(at);
      return out;
    };
    // A snapshot's head ("=== date time ===" up to its 400th byte) is read
    // in its bytes, neither decoded nor matched as text: most of the
    // thousands of snapshots a scan passes are neither busy nor among the
    // first, and need no more than their time and load. A date and time of
    // their full widths read in place as parseTime() reads them as text.
    const markTime = (b, from, end) => {
      const d = from + 4;
      if (end - d >= 19) return Csv.timeAtBytes(b, d, d + 10, d + 11, d + 19);
      const head = latin1.decode(b.subarray(d, end));
      return Csv.parseTime(head.slice(0, 10), head.slice(11, 19));
    };
    const block = (b, from, to) => {
      const end = Math.min(to, from + 400);
      const time = markTime(b, from, end);
      times.push(time);
      if (times.length <= THRESHOLDS.topCpuBlocks)
        cpus = Math.max(cpus, cpuCountFromTop(latin1.decode(b.subarray(from, to))));
      const load = loadAverage(b, from + 4, end);
      if (load === null || load < THRESHOLDS.topMinLoad) return;
      const sums = new Map();
      addTopBlock(latin1.decode(b.subarray(from, to)), sums);
      busy.push({ time, sums });
    };
    const scan = (b, last) => {
      const at = marks(b);
      const whole = last ? at.length : at.length - 1;
      for (let i = 0; i < whole && !full; i++) {
        block(b, at[i], i + 1 < at.length ? at[i + 1] : b.length);
        full = enough(times[times.length - 1]);
      }
      carry = full || last || !at.length ? new Uint8Array(0) : b.slice(at[at.length - 1]);
    };
    // The block begun in an earlier chunk is completed from the start of
    // this one; only that much is copied, the rest is scanned in place.
    const firstMark = (b) => {
      for (let at = b.indexOf(61); at >= 0 && at + 3 < b.length; at = b.indexOf(61, at + 1))
        if (isMark(b, at)) return at;
      return -1;
    };
    return {
      push(chunk) {
        if (full) return false;
        const first = firstMark(chunk);
        const head = first < 0 || !carry.length ? chunk.length : first;
        if (carry.length) {
          const b = new Uint8Array(carry.length + head);
          b.set(carry);
          b.set(chunk.subarray(0, head), carry.length);
          if (first < 0) {
            carry = b;
            return true;
          }
          scan(b, true);
        }
        if (first >= 0 && !full) scan(chunk.subarray(first), false);
        return !full;
      },
      result() {
        if (carry.length) scan(carry, true);
        return { times, busy, cpus, reach: full ? until + THRESHOLDS.topSlackSeconds : Infinity };
      },
    };
  }

  // The number after the first "Load average: " in bytes [a, end) that has
  // one (its digits and points, as text: "1.2.3" is NaN), or null.
  const LOAD_AVERAGE = Array.from('Load average: ', (c) => c.charCodeAt(0));
  function loadAverage(b, a, end) {
    const n = LOAD_AVERAGE.length;
    for (let i = b.indexOf(LOAD_AVERAGE[0], a); i >= 0 && i + n < end; i = b.indexOf(LOAD_AVERAGE[0], i + 1)) {
      let k = 1;
      while (k < n && b[i + k] === LOAD_AVERAGE[k]) k++;
      if (k < n) continue;
      let text = '';
      for (let j = i + n; j < end && ((b[j] >= 48 && b[j] <= 57) || b[j] === 46); j++)
        text += String.fromCharCode(b[j]);
      if (text) return +text;
    }
    return null;
  }

  // The busiest processes of the snapshots taken within [from, to]:
  // [{ name, command, cpu (average %) }], busiest first.
  function busiestIn(scan, from, to) {
    const count = scan.times.filter((x) => x >= from && x <= to).length;
    const total = new Map();
    for (const b of scan.busy) {
      if (!(b.time >= from && b.time <= to)) continue;
      for (const p of b.sums.values()) {
        const q = total.get(p.name) || { name: p.name, command: p.command, cpu: 0 };
        q.cpu += p.cpu;
        total.set(p.name, q);
      }
    }
    return [...total.values()]
      .map((p) => ({ ...p, cpu: p.cpu / Math.max(1, count) }))
      .sort((x, y) => y.cpu - x.cpu)
      .slice(0, THRESHOLDS.topShown)
      .filter((p) => p.cpu > 0);
  }

  function topProcesses(bytes, from, to) {
    const scanner = topScanner();
    scanner.push(bytes);
    return busiestIn(scanner.result(), from, to);
  }

  function addTopBlock(text, sums) {
    const lines = text.split('\n');
    const h = lines.findIndex((l) => /^\s*PID\s/.test(l));
    if (h < 0) return;
    const cols = lines[h].trim().split(/\s+/);
    const cpuCol = cols.indexOf('%CPU');
    const cmdCol = cols.indexOf('COMMAND');
    if (cpuCol < 0 || cmdCol < 0) return;
    for (const line of lines.slice(h + 1)) {
      const cells = line.trim().split(/\s+/);
      if (cells.length <= cmdCol) continue;
      const cpu = parseFloat(cells[cpuCol]);
      const command = cells.slice(cmdCol).join(' ');
      const first = cells[cmdCol];
      const name = first.slice(first.lastIndexOf('/') + 1);
      if (!Number.isFinite(cpu)) continue;
      const p = sums.get(name) || { name, command, cpu: 0 };
      p.cpu += cpu;
      sums.set(name, p);
    }
  }

  // The CPU count from top's snapshot: the processor column's highest
  // number plus one (a lower bound: a CPU that ran none of the listed
  // processes is not seen), or 0.
  function cpuCountFromTop(text) {
    const lines = text.split('\n');
    const h = lines.findIndex((l) => /^\s*PID\s/.test(l));
    if (h < 0) return 0;
    const cols = lines[h].trim().split(/\s+/);
    const c = cols.indexOf('CPU');
    if (c < 0) return 0;
    let most = -1;
    for (const line of lines.slice(h + 1)) {
      if (/^===/.test(line)) break;
      const n = parseInt(line.trim().split(/\s+/)[c], 10);
      if (n >= 0 && n < 1024) most = Math.max(most, n);
    }
    return most + 1;
  }

  // ---- network ---------------------------------------------------------

  // One finding per interface for its errors, drops and frames together.
  // How much a counter rose over its rounds, and from when to when: a
  // function of its own, whose loop is optimized once for every counter.
  function counterRise(t, raw) {
    let total = 0;
    let first = null;
    let last = null;
    for (let i = 1; i < raw.length; i++) {
      const a = raw[i - 1];
      const b = raw[i];
      if (absent(a) || absent(b) || b <= a) continue;
      total += b - a;
      if (first == null) first = t[i - 1];
      last = t[i];
    }
    return { total, first, last };
  }

  function network(ctx) {
    const out = [];
    const byIface = new Map();
    for (const s of byChart(ctx.all, /^net:.+:errors$/)) {
      const { total, first, last } = counterRise(s.t, s.raw);
      if (total < THRESHOLDS.netMinIncrease) continue;
      if (!byIface.has(s.iface)) byIface.set(s.iface, []);
      byIface.get(s.iface).push({ s, total, first, last });
    }
    for (const [iface, rows] of byIface) {
      const from = Math.min(...rows.map((r) => r.first));
      const to = Math.max(...rows.map((r) => r.last));
      out.push(
        finding(
          'network',
          'warning',
          `Interface ${iface}: ${list(rows.map((r) => `${r.s.label} rose by ${r.total}`))} between ${fmtTime(from)} and ${fmtTime(to)}.`,
          from,
          to,
          rows.map((r) => r.s.file),
        ),
      );
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
        out.push(
          finding(
            'network',
            'warning',
            `Interface ${s.iface} disappeared at ${fmtTime(ref[a])} ${gone} (${b - a + 1} rounds without it).`,
            ref[a],
            ref[b],
            [s.file],
          ),
        );
      }
    }
    return out;
  }

  // ---- the camera's clock ------------------------------------------------

  // Clock events the readers found (rows left out): each its own note.
  function clock(ctx) {
    return (ctx.clockEvents || []).map((e) => {
      const where = `${plural(e.rows, 'row', 'rows')} in ${plural(e.files.length, 'file', 'files')} left out`;
      if (e.kind === 'unset') {
        const set = e.to != null ? ` until ${fmtTime(e.to)}` : '';
        return finding(
          'clock',
          'info',
          `The camera's clock was not set${set}: rows dated from ${fmtTime(e.first)} are before the session's start (${where}); no gap is counted for them.`,
          e.to ?? e.first,
          e.to ?? e.first,
          e.files,
        );
      }
      return finding(
        'clock',
        'info',
        `The camera's clock went back at about ${fmtTime(e.at)}: the next rows were dated from ${fmtTime(e.first)}, ${fmtDuration(e.at - e.first)} earlier, and are left out until the clock passed ${fmtTime(e.at)} again (${where}).`,
        e.at,
        e.to ?? e.at,
        e.files,
      );
    });
  }

  // ---- what could not be judged -------------------------------------------

  // The rules that could not run, each with the file it lacked.
  function unjudged(ctx) {
    const has = (re) => ctx.all.some((s) => re.test(s.chart));
    const out = [];
    if (
      !ctx.all.some((s) => s.chart === 'memory:meminfo' && (s.meminfo === 'MemAvailable' || s.meminfo === 'MemFree'))
    ) {
      out.push({ rule: 'memory', why: 'no MemAvailable or MemFree file' });
    }
    if (!has(/^kernel:buddy:Normal$/)) out.push({ rule: 'fragmentation', why: 'no readable buddyinfo.csv' });
    if (!ctx.rounds.length) out.push({ rule: 'gap', why: 'no load, page fault or meminfo file to count rounds by' });
    if (!has(/^kernel:pagefaults$|^vmstat:system$/))
      out.push({ rule: 'reboot', why: 'no pagefaults.csv or vmstat.csv to tell a restart from a counter wrap' });
    if (!has(/^env:temperatures$/)) out.push({ rule: 'heat', why: 'no temperature file' });
    if (!has(/^load$/)) out.push({ rule: 'load', why: 'no load.csv' });
    else if (!(ctx.cpuCount > 0))
      out.push({
        rule: 'load',
        why: 'the CPU count is unknown: no interrupt snapshot, top snapshot or information line tells it',
      });
    if (!has(/^net:.+:(bits|errors)$/)) out.push({ rule: 'network', why: 'no interface file' });
    return out;
  }

  // All findings of a session, ordered by time, and the rules that could
  // not be judged.
  //   all:         the series of every file (TrelvikSeries.describeFile)
  //   cpuCount:    the device's CPU count, when known
  //   clockEvents: the clock events the readers found
  function analyse(all, options = {}) {
    const rounds = roundTimes(all);
    const measured = Series.typicalInterval(rounds);
    const period = measured > 0 ? measured : 120;
    const ctx = {
      all,
      rounds,
      period,
      roundFiles: [...new Set(all.filter((s) => s.t === rounds).map((s) => s.file))],
      cpuCount: options.cpuCount > 0 ? options.cpuCount : 0,
      clockEvents: options.clockEvents,
    };
    ctx.resets = resetEvents(all, period);
    const out = [
      ...memory(ctx),
      ...fragmentation(ctx),
      ...restartsAndGaps(ctx),
      ...heat(ctx),
      ...load(ctx),
      ...network(ctx),
      ...clock(ctx),
    ];
    return { findings: out.sort((a, b) => a.from - b.from), unjudged: unjudged(ctx) };
  }

  // The CPU count from an interrupt snapshot's first line ("CPU0 CPU1 ...").
  function cpuCountFromInterrupts(text) {
    const first = text.split('\n', 1)[0];
    const m = first.match(/CPU\d+/g);
    return m ? m.length : 0;
  }

  return {
    THRESHOLDS,
    analyse,
    linearFit,
    cpuCountFromInterrupts,
    cpuCountFromTop,
    topProcesses,
    topScanner,
    busiestIn,
    busyUntil,
    fmtTime,
    fmtDuration,
  };
});

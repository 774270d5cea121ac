// Pure helpers of the operator page: they turn the actions' replies into what
// the page shows. No DOM and no requests, so node's test runner checks them.
//
// Global TrelvikOperatorFormat in the page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory(require('../common.js'));
  else root.TrelvikOperatorFormat = factory(root.TrelvikCommon);
})(typeof self !== 'undefined' ? self : this, function (Common) {
  'use strict';

  const { dateTextSeconds, localSeconds, sessionName, sessionStartSeconds } = Common;

  // status_report's device time "%H:%M:%S %Y-%m-%d" in the same seconds, or null.
  function deviceTimeSeconds(text) {
    const m = /^(\d{2}):(\d{2}):(\d{2}) (\d{4})-(\d{2})-(\d{2})$/.exec(text ?? '');
    return m ? localSeconds(+m[4], +m[5], +m[6], +m[1], +m[2], +m[3]) : null;
  }

  // The storage a session lives on, from its path: the disk id of an edge
  // storage ("/var/spool/storage/<id>/Trelvik_<serial>/...") or "localdata".
  function storageOfPath(path) {
    const m = /\/var\/spool\/storage\/([^/]+)\/Trelvik_[^/]*\/[^/]*$/.exec(path);
    return m ? m[1] : 'localdata';
  }

  // Stored sessions newest first, each with what the table shows. `active` is
  // status_report's flag: a session without an end while it is set is the
  // running one, without an end after it an interrupted one; an ended session
  // without an archive size is being zipped.
  function storedSessions(status) {
    const rows = (status?.sessions ?? []).map((s) => {
      const name = sessionName(s.Path ?? '');
      let state = 'stored';
      if (!s.EndTime) state = 'unfinished';
      else if (!s.sizeZip) state = 'archiving';
      const startSeconds = sessionStartSeconds(name) ?? dateTextSeconds(s.StartTime);
      const endSeconds = dateTextSeconds(s.EndTime);
      const duration = startSeconds != null && endSeconds != null ? endSeconds - startSeconds : null;
      return {
        name,
        path: s.Path ?? '',
        storage: storageOfPath(s.Path ?? ''),
        start: s.StartTime ?? '',
        end: s.EndTime ?? '',
        startSeconds,
        endSeconds,
        duration,
        size: s.size ?? '',
        sizeZip: s.sizeZip ?? '',
        state,
      };
    });
    rows.sort((a, b) => (a.name < b.name ? 1 : a.name > b.name ? -1 : 0));
    if (status?.active) {
      const running = rows.find((r) => r.state === 'unfinished');
      if (running) running.state = 'running';
    }
    return rows;
  }

  // The automatic PTZ test as a sentence; the daemon uses the given times only
  // while no interval is stored.
  function describePtz(misc) {
    const interval = Number(misc?.ptz_test_interval ?? 0);
    const times = misc?.ptz_test_given_times ?? '';
    if (interval > 0) {
      const extra = times ? ` (given times ${times.split(',').join(', ')} wait while an interval is set)` : '';
      return `Every ${interval} minutes${extra}`;
    }
    if (times) return `At ${times.split(',').join(', ')} every day`;
    return 'Off';
  }

  // The link the page gives for an archive, and the viewer's link to it.
  function downloadUrl(name) {
    return `cgi-bin/trelvik.cgi?action=download&name=${encodeURIComponent(name)}`;
  }
  function viewerUrl(name) {
    return `viewer.html?archive=${encodeURIComponent(downloadUrl(name))}`;
  }

  // Waiting time before the next status request: the normal period while the
  // camera answers, doubling up to a minute while it does not.
  function nextPollDelay(failures, period = 5000) {
    return failures <= 0 ? period : Math.min(period * 2 ** failures, 60000);
  }

  // ----- the camera's clock ------------------------------------------------------

  // The camera's zone as the page names it: "CET (UTC+01:00)", "UTC".
  function zoneLabel(clock) {
    const m = /^([+-])(\d{2})(\d{2})$/.exec(clock?.offset ?? '');
    if (!m) return clock?.zone ?? '';
    const offset = `UTC${m[1]}${m[2]}:${m[3]}`;
    if (!clock.zone || clock.zone === 'UTC' || clock.zone === 'GMT')
      return m[2] === '00' && m[3] === '00' ? 'UTC' : offset;
    return `${clock.zone} (${offset})`;
  }

  // ----- replies of the actions ----------------------------------------------------

  // Refusals some actions answer with status 200; they are errors all the same.
  const REFUSALS = ['No monitor session is activated, can not deactivate anything.'];

  // What the page shows of an action's reply: an error when the status says so,
  // when the text is a known refusal or begins with "Error"; the text's
  // sentences (the stop reply runs two together) one a line.
  function judgeReply(status, text, emptyReply = '') {
    const body = (text ?? '').trim();
    const isError = status >= 400 || REFUSALS.includes(body) || /^error\b/i.test(body);
    const shown = body || (status >= 400 ? `Error ${status} without a reply text.` : emptyReply);
    return { isError, lines: shown.split(/(?<=[.!])(?=[A-Z])/) };
  }

  // The first line of a reply, cut to a readable length: what a server error shows.
  function firstLine(text) {
    const line = (text ?? '').split(/\r?\n/).find((l) => l.trim()) ?? '';
    return line.length > 160 ? `${line.slice(0, 157)}…` : line.trim();
  }

  // ----- a running session --------------------------------------------------------

  const ROUND_SECONDS = 120;
  // The daemon's first round comes at its next one-minute tick.
  const FIRST_ROUND_SECONDS = 60;
  // A round counts as overdue this long after it was due.
  const LATE_GRACE = 30;

  // When the next sample is due and whether the rounds are on time:
  // "waiting" (no sample yet, the first is not due), "live", "late" (one round
  // overdue) or "stalled" (several are).
  function liveness(now, lastSample, start) {
    if (now == null) return { state: 'unknown', next: null };
    const next = lastSample != null ? lastSample + ROUND_SECONDS : (start ?? now) + FIRST_ROUND_SECONDS;
    const late = now - next;
    let state = lastSample != null ? 'live' : 'waiting';
    if (late > LATE_GRACE + ROUND_SECONDS) state = 'stalled';
    else if (late > LATE_GRACE) state = 'late';
    return { state, next };
  }

  // ----- live chart data -----------------------------------------------------------

  // uPlot's columns for series that share no time axis: the union of their
  // times, each series with null where it has no point. `series` is a list of
  // [[seconds, value], ...].
  function alignSeries(series) {
    const times = [...new Set(series.flatMap((points) => points.map((p) => p[0])))].sort((a, b) => a - b);
    const index = new Map(times.map((t, i) => [t, i]));
    const columns = series.map((points) => {
      const column = new Array(times.length).fill(null);
      for (const [t, v] of points) column[index.get(t)] = v;
      return column;
    });
    return [times, ...columns];
  }

  // ----- the PTZ test form ----------------------------------------------------------

  const INTERVAL_MIN = 3;
  // The largest interval the action takes (the status report's JSON carries it exactly).
  const INTERVAL_MAX = 9007199254740991;
  const WEEK_MINUTES = 7 * 24 * 60;

  // The interval field's text checked as the action will: { minutes, confirm }
  // (confirm: over a week, worth a question) or { error }.
  function checkInterval(text) {
    const value = (text ?? '').trim();
    if (value === '') return { error: 'Enter the interval in whole minutes.' };
    if (!/^\d+$/.test(value)) return { error: `"${value}" is not a whole number of minutes.` };
    const minutes = Number(value);
    if (minutes < INTERVAL_MIN) return { error: `The interval must be at least ${INTERVAL_MIN} minutes.` };
    if (!Number.isSafeInteger(minutes)) return { error: `The interval must be at most ${INTERVAL_MAX} minutes.` };
    return { minutes: String(minutes), confirm: minutes > WEEK_MINUTES };
  }

  // The given times checked as the action takes them: { times } ("" clears
  // them) or { error } naming the item at fault.
  function checkTimes(text) {
    const items = (text ?? '').split(/[\s,;]+/).filter(Boolean);
    const seen = new Set();
    for (const item of items) {
      if (!/^([01]\d|2[0-3]):[0-5]\d$/.test(item))
        return { error: `"${item}" is not a 24-hour time HH:MM (such as 08:00).` };
      if (seen.has(item)) return { error: `${item} is given twice.` };
      seen.add(item);
    }
    const times = items.join(',');
    return times.length > 99 ? { error: 'Too many times: the list holds at most 16.' } : { times };
  }

  // The given times around `now` (camera-local seconds): the last that came
  // and the next to come, as camera-local seconds.
  function givenTimesAround(times, now) {
    const items = (times ?? '').split(',').filter((t) => /^\d{2}:\d{2}$/.test(t));
    if (!items.length || now == null) return { last: null, next: null };
    const day = Math.floor(now / 86400) * 86400;
    const moments = [-1, 0, 1].flatMap((d) =>
      items.map((t) => day + d * 86400 + Number(t.slice(0, 2)) * 3600 + Number(t.slice(3)) * 60),
    );
    moments.sort((a, b) => a - b);
    return { last: moments.filter((m) => m <= now).pop() ?? null, next: moments.find((m) => m > now) ?? null };
  }

  return {
    deviceTimeSeconds,
    storageOfPath,
    storedSessions,
    describePtz,
    downloadUrl,
    viewerUrl,
    nextPollDelay,
    zoneLabel,
    judgeReply,
    firstLine,
    ROUND_SECONDS,
    FIRST_ROUND_SECONDS,
    liveness,
    alignSeries,
    INTERVAL_MIN,
    INTERVAL_MAX,
    WEEK_MINUTES,
    checkInterval,
    checkTimes,
    givenTimesAround,
  };
});

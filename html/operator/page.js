// The operator page: polls the status report, starts and ends a session,
// shows a running session live, sets the PTZ test and lists the stored
// sessions. Every request goes to the camera's own entry program; replies are
// shown as the actions wrote them, judged by their status and their texts.
(function () {
  'use strict';

  const {
    alignSeries,
    checkInterval,
    checkTimes,
    describePtz,
    deviceTimeSeconds,
    downloadUrl,
    firstLine,
    givenTimesAround,
    judgeReply,
    liveness,
    nextPollDelay,
    storedSessions,
    viewerUrl,
    WEEK_MINUTES,
    zoneLabel,
  } = window.TrelvikOperatorFormat;
  const { byId, element, formatClock, formatDateTime, formatDuration, sessionStartSeconds, showBanner } =
    window.TrelvikCommon;

  const ENTRY = 'cgi-bin/trelvik.cgi';
  const STORAGE_PERIOD = 30000;
  // The live series change once a round (two minutes): a look every 30 seconds
  // shows a new round soon enough.
  const TAIL_PERIOD = 30000;
  // A look-up that takes longer means the camera is not answering; an action
  // (a session start takes a server report) gets much longer.
  const LOOKUP_TIMEOUT = 15000;
  const ACTION_TIMEOUT = 120000;

  const view = {
    dot: byId('live-dot'),
    connection: byId('connection'),
    retry: byId('retry-now'),
    signIn: byId('sign-in'),
    staleNote: byId('stale-note'),
    main: byId('main'),
    time: byId('device-time'),
    zone: byId('device-zone'),
    facts: byId('session-facts'),
    storage: byId('fact-storage'),
    start: byId('fact-start'),
    duration: byId('fact-duration'),
    last: byId('fact-last'),
    next: byId('fact-next'),
    points: byId('fact-points'),
    size: byId('fact-size'),
    charts: byId('charts'),
    memoryCaption: byId('memory-caption'),
    beginForm: byId('begin-form'),
    choices: byId('storage-choices'),
    endForm: byId('end-form'),
    endDialog: byId('end-dialog'),
    intervalDialog: byId('interval-dialog'),
    sessionReply: byId('session-reply'),
    ptzCurrent: byId('ptz-current'),
    ptzSchedule: byId('ptz-schedule'),
    ptzReply: byId('ptz-reply'),
    sessionsBody: byId('sessions-body'),
    sessionsEmpty: byId('sessions-empty'),
  };

  const state = {
    failures: 0,
    status: null,
    rows: [],
    storages: null,
    storagesAt: 0,
    timer: 0,
    busy: 0,
    // The camera's clock from the tail action: its local seconds at `at` (performance.now()).
    clock: null,
    tail: null,
    tailAt: -Infinity,
    tailSession: null,
    // Why the page cannot trust what it shows: null, 'unreachable', 'signed-out' or 'server-error'.
    problem: null,
    lastAnswer: null,
    charts: null,
  };

  // One request to the entry program: { status, text }; throws when the camera
  // does not answer at all. `action` is the query's first pair, written out in
  // full where it is asked for, so that a search finds every action the page uses.
  async function entry(action, params = {}, method = 'GET') {
    const query = [action, new URLSearchParams(params).toString()].filter(Boolean).join('&');
    const response = await fetch(`${ENTRY}?${query}`, {
      method,
      cache: 'no-store',
      credentials: 'same-origin',
      // The entry program takes changes only with this header, which another site cannot send.
      headers: method === 'GET' ? {} : { 'X-Requested-With': 'trelvik' },
      signal: AbortSignal.timeout(method === 'GET' ? LOOKUP_TIMEOUT : ACTION_TIMEOUT),
    });
    return { status: response.status, text: await response.text() };
  }

  // The camera's local seconds now, from its last known clock.
  function cameraNow() {
    if (!state.clock) return deviceTimeSeconds(state.status?.device?.Time);
    return state.clock.seconds + Math.floor((performance.now() - state.clock.at) / 1000);
  }

  // ----- replies of the actions ------------------------------------------------

  function clearReply(output) {
    output.replaceChildren();
    output.className = 'reply';
  }

  function showReply(output, judged) {
    clearReply(output);
    output.classList.add(judged.isError ? 'error' : 'ok');
    judged.lines.forEach((line, i) => {
      if (i > 0) output.append(element('br'));
      output.append(element('span', { text: line }));
    });
    if (judged.isError) {
      // Errors stay until the operator dismisses them or takes another action.
      const dismiss = element('button', {
        type: 'button',
        class: 'dismiss',
        text: 'Dismiss',
        onclick: () => clearReply(output),
      });
      output.append(' ', dismiss);
    }
  }

  const pageError = (output, text) => showReply(output, { isError: true, lines: [text] });

  // Runs one action with its button disabled and a spinner, shows the reply,
  // then refreshes what it may have changed.
  async function runAction(button, output, action, params, emptyReply) {
    if (button.disabled) return;
    clearReply(output);
    button.disabled = true;
    button.classList.add('busy');
    button.setAttribute('aria-busy', 'true');
    state.busy += 1;
    try {
      const reply = await entry(action, params, 'POST');
      showReply(output, judgeReply(reply.status, reply.text, emptyReply));
    } catch {
      pageError(output, 'Camera not reachable: the request was not answered.');
    } finally {
      state.busy -= 1;
      button.classList.remove('busy');
      button.removeAttribute('aria-busy');
      button.disabled = false;
    }
    state.storagesAt = 0;
    state.tailAt = -Infinity;
    await refresh({ byOperator: true });
  }

  // ----- rendering ----------------------------------------------------------------

  function storageLabel(id) {
    const known = state.storages?.find((s) => s.id === id);
    if (id === 'localdata') return 'Internal storage';
    return known?.name ? `${known.name} (${id})` : id;
  }

  function sessionStart(row) {
    return row.startSeconds != null ? formatDateTime(row.startSeconds) : row.start || row.name;
  }

  // The page's state while the camera cannot be trusted: facts greyed and
  // marked with the time of the last answer, actions disabled with the reason.
  function renderTrust() {
    const stale = state.problem !== null;
    view.main.classList.toggle('stale', stale);
    view.connection.hidden = !stale;
    view.signIn.hidden = state.problem !== 'signed-out';
    const asOf = state.lastAnswer != null ? ` as of ${formatClock(state.lastAnswer)}` : '';
    view.staleNote.hidden = !stale;
    const reason = {
      unreachable: 'the camera does not answer',
      'signed-out': 'you are not signed in',
      'server-error': 'the camera reports an error',
    }[state.problem];
    view.staleNote.textContent = stale
      ? `What is shown is${asOf || ' not known yet'}: actions are disabled because ${reason}.`
      : '';
    for (const button of document.querySelectorAll('button.needs-camera')) {
      if (button.classList.contains('busy')) continue;
      const noStorage = button.id === 'begin-button' && !usableStorages().length;
      button.disabled = stale || noStorage;
      if (stale) button.title = `Disabled: ${reason}`;
      else button.removeAttribute('title');
    }
    for (const input of document.querySelectorAll('main input'))
      input.disabled = stale || input.dataset.unusable === '1';
  }

  function renderClock() {
    const now = cameraNow();
    view.time.textContent = now != null ? formatDateTime(now) : '–';
    view.zone.textContent = zoneLabel(state.tail?.clock);
  }

  function renderLive(running) {
    const tail = state.tail?.session ? state.tail : null;
    const now = cameraNow();
    const start = sessionStartSeconds(running.name);
    const live = liveness(now, tail?.last_sample ?? null, start);
    view.last.textContent = tail?.last_sample != null ? formatDateTime(tail.last_sample) : 'none yet';
    view.next.textContent =
      live.next != null
        ? `${formatClock(live.next)}${live.state === 'late' || live.state === 'stalled' ? ' (overdue)' : ''}`
        : '–';
    const points = tail?.data_points;
    view.points.textContent =
      points == null
        ? '–'
        : points === 0
          ? '0 (the first round comes within a minute of the start, then one every two minutes)'
          : String(points);
    view.dot.hidden = false;
    view.dot.dataset.state = live.state;
    const words = {
      waiting: 'waiting for the first round',
      live: 'live',
      late: 'a round is overdue',
      stalled: 'several rounds are overdue: the daemon may have stopped',
      unknown: '',
    };
    view.dot.setAttribute('aria-label', words[live.state]);
    view.dot.title = words[live.state];
    return live;
  }

  function renderSession(status, rows) {
    const running = rows.find((r) => r.state === 'running');
    view.facts.hidden = !running;
    view.endForm.hidden = !status.active;
    view.beginForm.hidden = status.active;
    view.charts.hidden = !running || !state.tail?.session;
    if (running) {
      const start = sessionStartSeconds(running.name);
      view.storage.textContent = storageLabel(running.storage);
      view.start.textContent = sessionStart(running);
      view.duration.textContent = formatDuration(cameraNow() - start) || '–';
      view.size.textContent = running.size || '–';
      const live = renderLive(running);
      const note =
        { late: ' (a round is overdue)', stalled: ' (several rounds overdue: is the daemon running?)' }[live.state] ??
        '';
      showBanner(
        `Session running since ${sessionStart(running)} on ${storageLabel(running.storage)}${note}`,
        live.state === 'stalled' ? 'stalled' : live.state === 'late' ? 'late' : 'running',
      );
      return;
    }
    view.dot.hidden = true;
    const archiving = rows.find((r) => r.state === 'archiving');
    if (status.active) showBanner('Session running', 'running');
    else if (archiving) showBanner(`Archiving the session started ${sessionStart(archiving)}…`, 'archiving');
    else showBanner('No session is running', 'idle');
  }

  function cell(row, content) {
    const td = element('td', {}, content);
    row.append(td);
    return td;
  }

  function archiveCell(session) {
    const box = element('span');
    if (session.state === 'stored') {
      const download = element('a', {
        href: downloadUrl(session.name),
        text: `Download (${session.sizeZip})`,
        'aria-label': `Download the archive of ${session.name} (${session.sizeZip})`,
        download: `${session.name}.zip`,
      });
      const viewLink = element('a', {
        href: viewerUrl(session.name),
        text: 'View',
        'aria-label': `View the session ${session.name}`,
      });
      box.append(download, ' ', viewLink);
    } else if (session.state === 'archiving') {
      box.className = 'busy-text';
      box.textContent = 'Zipping…';
    } else {
      box.textContent = session.state === 'running' ? 'after the session ends' : '–';
    }
    return box;
  }

  function renderStored(rows) {
    const body = document.createDocumentFragment();
    for (const session of rows) {
      const tr = element('tr', { 'data-session': session.name, 'data-state': session.state });
      cell(tr, sessionStart(session));
      const end = session.endSeconds != null ? formatDateTime(session.endSeconds) : session.end || '–';
      cell(tr, session.state === 'running' ? 'running' : end);
      const duration =
        session.state === 'running'
          ? formatDuration(cameraNow() - session.startSeconds)
          : formatDuration(session.duration);
      cell(tr, duration || '–');
      cell(tr, storageLabel(session.storage));
      cell(tr, session.size || '–');
      cell(tr, archiveCell(session));
      body.append(tr);
    }
    view.sessionsBody.replaceChildren(body);
    view.sessionsEmpty.hidden = rows.length > 0;
  }

  function usableStorages() {
    return (state.storages ?? []).filter((s) => s.accepted).map((s) => s.id);
  }

  function renderStorages() {
    if (!state.storages) return;
    // Keep the operator's choice while it stays usable, else offer the first usable storage.
    const previous = view.choices.querySelector('input:checked')?.value;
    const usable = usableStorages();
    const selected = usable.includes(previous) ? previous : usable[0];
    const fragment = document.createDocumentFragment();
    for (const storage of state.storages) {
      const input = element('input', {
        type: 'radio',
        name: 'storage',
        value: storage.id,
        'data-unusable': storage.accepted ? '0' : '1',
      });
      input.disabled = !storage.accepted;
      input.checked = storage.id === selected;
      fragment.append(
        element(
          'label',
          { class: `choice ${storage.state}` },
          input,
          ' ',
          element('span', { text: storageLabel(storage.id) }),
          ' ',
          element('span', { class: 'badge', text: storage.state }),
        ),
      );
    }
    view.choices.replaceChildren(fragment);
  }

  function renderPtz(misc) {
    view.ptzCurrent.textContent = describePtz(misc);
    const interval = Number(misc?.ptz_test_interval ?? 0);
    const times = misc?.ptz_test_given_times ?? '';
    let text = '';
    if (interval > 0) {
      text = `Runs every ${interval} minutes, counted from the daemon's first look at the setting (once a minute).`;
    } else if (times) {
      const { last, next } = givenTimesAround(times, cameraNow());
      text = `Last due ${last != null ? formatDateTime(last) : '–'}; next ${next != null ? formatDateTime(next) : '–'}.`;
    }
    view.ptzSchedule.hidden = !text;
    view.ptzSchedule.textContent = text;
  }

  // ----- the live charts ------------------------------------------------------------

  const CHARTS = [
    { id: 'chart-load', data: (t) => [t.load ?? []], names: () => ['load'], digits: 2 },
    {
      id: 'chart-memory',
      data: (t) => [(t.memory?.points ?? []).map(([s, v]) => [s, v == null ? null : v / 1024])],
      names: (t) => [t.memory?.name ?? 'memory'],
      digits: 0,
    },
    {
      id: 'chart-temperatures',
      data: (t) => Object.values(t.temperatures ?? {}),
      names: (t) => Object.keys(t.temperatures ?? {}),
      digits: 1,
    },
    {
      id: 'chart-network',
      data: (t) =>
        Object.values(t.network ?? {}).map((p) =>
          p.map(([s, rx, tx]) => [s, rx == null || tx == null ? null : (rx + tx) / 1000]),
        ),
      names: (t) => Object.keys(t.network ?? {}),
      digits: 0,
    },
  ];
  const COLOURS = ['#0969da', '#bc4c00', '#1a7f37', '#8250df', '#cf222e', '#59636e'];

  function chartOptions(names, digits, width) {
    return {
      width,
      height: 140,
      legend: { show: names.length > 1 },
      // Camera-local seconds: written as UTC, they read as the camera's clock.
      tzDate: (ts) => window.uPlot.tzDate(new Date(ts * 1000), 'Etc/UTC'),
      cursor: { sync: { key: 'trelvik-live' } },
      scales: { x: { time: true } },
      // The one clock of the page on the time axis too: 24-hour camera time.
      axes: [
        { stroke: '#59636e', values: (u, ticks) => ticks.map((t) => formatClock(t).slice(0, 5)) },
        { stroke: '#59636e', size: 50, values: (u, ticks) => ticks.map((v) => v.toFixed(digits)) },
      ],
      series: [
        {},
        ...names.map((name, i) => ({
          label: name,
          stroke: COLOURS[i % COLOURS.length],
          width: 1.5,
          spanGaps: false,
          value: (u, v) => (v == null ? '–' : v.toFixed(digits)),
        })),
      ],
    };
  }

  function renderCharts() {
    const tail = state.tail;
    if (!tail?.session || !window.uPlot || view.charts.hidden) return;
    view.memoryCaption.textContent = tail.memory?.name === 'MemFree' ? 'Free memory (MiB)' : 'Available memory (MiB)';
    state.charts ??= new Map();
    for (const chart of CHARTS) {
      const box = byId(chart.id);
      const names = chart.names(tail);
      const data = alignSeries(chart.data(tail));
      const key = names.join('\n');
      const width = Math.max(240, box.clientWidth || 300);
      const existing = state.charts.get(chart.id);
      if (existing && existing.key === key) {
        existing.plot.setData(data);
        continue;
      }
      existing?.plot.destroy();
      box.replaceChildren();
      state.charts.set(chart.id, { key, plot: new window.uPlot(chartOptions(names, chart.digits, width), data, box) });
    }
  }

  // ----- polling ------------------------------------------------------------------

  async function refreshStorages() {
    try {
      const reply = await entry('action=storages');
      if (reply.status !== 200) throw new Error(reply.text);
      state.storages = JSON.parse(reply.text).storages;
      state.storagesAt = Date.now();
      renderStorages();
      // The storages' names, now known, replace their ids on what is already shown.
      if (state.status) {
        renderSession(state.status, state.rows);
        renderStored(state.rows);
      }
    } catch {
      view.choices.textContent = 'The storage list could not be read.';
    }
  }

  async function refreshTail(running) {
    const due =
      performance.now() - state.tailAt > TAIL_PERIOD || state.tailSession !== (running?.name ?? null) || !state.clock;
    if (!due) return;
    const reply = await entry('action=tail');
    if (reply.status !== 200) return;
    const tail = JSON.parse(reply.text);
    state.tail = tail;
    state.tailAt = performance.now();
    state.tailSession = running?.name ?? null;
    if (tail.clock?.seconds != null) state.clock = { seconds: tail.clock.seconds, at: performance.now() };
  }

  function problemOf(reply) {
    if (reply.status === 401) return { kind: 'signed-out', text: 'Not signed in to the camera' };
    return { kind: 'server-error', text: `The camera answered ${reply.status}: ${firstLine(reply.text) || 'no text'}` };
  }

  // Looks at the camera once. A failure the operator caused (a click on an
  // action or on "Retry now") never lengthens the wait: only the page's own
  // polling backs off.
  async function refresh({ byOperator = false } = {}) {
    clearTimeout(state.timer);
    try {
      const reply = await entry('action=status');
      if (reply.status !== 200) throw problemOf(reply);
      const status = JSON.parse(reply.text);
      const rows = storedSessions(status);
      await refreshTail(rows.find((r) => r.state === 'running'));
      state.failures = 0;
      state.problem = null;
      state.status = status;
      state.rows = rows;
      state.lastAnswer = cameraNow();
      renderClock();
      renderSession(status, rows);
      renderStored(rows);
      renderPtz(status.miscellaneous);
      renderCharts();
      renderTrust();
      // The storage list (a storage service query and df) comes after the status is shown.
      if (!state.storages || (!status.active && Date.now() - state.storagesAt > STORAGE_PERIOD))
        await refreshStorages();
    } catch (error) {
      if (!byOperator) state.failures += 1;
      const known = error?.kind ? error : { kind: 'unreachable', text: 'Camera not reachable' };
      state.problem = known.kind;
      const asOf = state.lastAnswer != null ? ` (last answer at ${formatClock(state.lastAnswer)})` : '';
      const next = known.kind === 'signed-out' ? '' : '; retrying…';
      view.dot.hidden = true;
      showBanner(`${known.text}${asOf}${next}`, known.kind === 'signed-out' ? 'signed-out' : 'unreachable');
    }
    renderTrust();
    schedule();
  }

  // Polling pauses while the tab is hidden and resumes at once when it shows.
  function schedule() {
    clearTimeout(state.timer);
    if (document.hidden) return;
    state.timer = setTimeout(refresh, nextPollDelay(state.failures));
  }

  document.addEventListener('visibilitychange', () => {
    if (document.hidden) clearTimeout(state.timer);
    else refresh({ byOperator: true });
  });

  // The clock and the live facts move on between two looks at the camera.
  setInterval(() => {
    if (document.hidden || state.problem || !state.status) return;
    renderClock();
    const running = state.rows.find((r) => r.state === 'running');
    if (running) {
      view.duration.textContent = formatDuration(cameraNow() - sessionStartSeconds(running.name)) || '–';
      renderLive(running);
    }
  }, 1000);

  view.retry.addEventListener('click', () => refresh({ byOperator: true }));

  // A request the browser answers with its sign-in prompt on a 401, then a look.
  view.signIn.addEventListener('click', async () => {
    try {
      await fetch(`${ENTRY}?action=status`, { cache: 'reload', credentials: 'same-origin' });
    } catch {
      // The look below says what is wrong.
    }
    refresh({ byOperator: true });
  });

  // ----- the operator's actions -------------------------------------------------

  view.beginForm.addEventListener('submit', (event) => {
    event.preventDefault();
    const storage = view.choices.querySelector('input:checked')?.value;
    if (!storage) {
      pageError(view.sessionReply, 'Choose a storage that is usable.');
      return;
    }
    runAction(byId('begin-button'), view.sessionReply, 'action=begin', { storage });
  });

  view.endForm.addEventListener('submit', (event) => {
    event.preventDefault();
    view.endDialog.returnValue = '';
    view.endDialog.showModal();
  });

  view.endDialog.addEventListener('close', () => {
    if (view.endDialog.returnValue === 'end') runAction(byId('end-button'), view.sessionReply, 'action=end', {});
  });

  function fieldError(input, text) {
    input.setAttribute('aria-invalid', 'true');
    pageError(view.ptzReply, text);
    input.focus();
  }

  for (const input of [byId('ptz-minutes'), byId('ptz-times')]) {
    input.addEventListener('input', () => input.removeAttribute('aria-invalid'));
  }

  let pendingInterval = null;
  byId('ptz-interval-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const input = byId('ptz-minutes');
    const checked = checkInterval(input.value);
    if (checked.error) {
      fieldError(input, checked.error);
      return;
    }
    const button = event.submitter ?? event.target.querySelector('button');
    if (checked.confirm) {
      pendingInterval = { button, minutes: checked.minutes };
      const days = Math.floor(Number(checked.minutes) / 1440);
      byId('interval-dialog-text').textContent =
        `Every ${checked.minutes} minutes is about ${days} days between tests ` +
        `(a week is ${WEEK_MINUTES} minutes).`;
      view.intervalDialog.returnValue = '';
      view.intervalDialog.showModal();
      return;
    }
    runAction(button, view.ptzReply, 'action=ptz_interval', { minutes: checked.minutes });
  });

  view.intervalDialog.addEventListener('close', () => {
    const pending = pendingInterval;
    pendingInterval = null;
    if (pending && view.intervalDialog.returnValue === 'set') {
      runAction(pending.button, view.ptzReply, 'action=ptz_interval', { minutes: pending.minutes });
    }
  });

  byId('ptz-times-form').addEventListener('submit', (event) => {
    event.preventDefault();
    const input = byId('ptz-times');
    const checked = checkTimes(input.value);
    if (checked.error) {
      fieldError(input, checked.error);
      return;
    }
    runAction(event.submitter ?? event.target.querySelector('button'), view.ptzReply, 'action=ptz_times', {
      times: checked.times,
    });
  });

  byId('ptz-stop-form').addEventListener('submit', (event) => {
    event.preventDefault();
    runAction(
      event.submitter ?? event.target.querySelector('button'),
      view.ptzReply,
      'action=ptz_stop',
      {},
      'Nothing was set, so nothing was stopped.',
    );
  });

  refresh();
})();

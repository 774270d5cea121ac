// The operator page: polls the status report, starts and ends a session,
// sets the PTZ test and lists the stored sessions. Every request goes to the
// camera's own entry program; replies are shown as the actions wrote them.
import {
  describePtz, deviceTimeSeconds, downloadUrl, formatDuration, nextPollDelay, normaliseTimes,
  parseInformation, sessionStartSeconds, storedSessions, viewerUrl, zoneOf,
} from './operator_format.mjs';

const ENTRY = 'cgi-bin/trelvik.cgi';
const STORAGE_PERIOD = 30000;
// A look-up that takes longer means the camera is not answering; an action
// (a session start takes a server report) gets much longer.
const LOOKUP_TIMEOUT = 15000;
const ACTION_TIMEOUT = 120000;

const $ = (id) => document.getElementById(id);
const view = {
  banner: $('banner'), time: $('device-time'),
  facts: $('session-facts'), storage: $('fact-storage'), start: $('fact-start'),
  duration: $('fact-duration'), points: $('fact-points'),
  beginForm: $('begin-form'), choices: $('storage-choices'), endForm: $('end-form'),
  endDialog: $('end-dialog'), sessionReply: $('session-reply'),
  ptzCurrent: $('ptz-current'), ptzReply: $('ptz-reply'),
  sessionsBody: $('sessions-body'), sessionsEmpty: $('sessions-empty'),
};

const state = { failures: 0, status: null, storages: null, storagesAt: 0, lastAnswer: null, timer: 0 };

// One request to the entry program: { status, text }; throws when the camera
// does not answer at all.
async function entry(action, params = {}, method = 'GET') {
  const query = new URLSearchParams({ action, ...params });
  const response = await fetch(`${ENTRY}?${query}`, {
    method, cache: 'no-store', credentials: 'same-origin',
    // The entry program takes changes only with this header, which another site cannot send.
    headers: method === 'GET' ? {} : { 'X-Requested-With': 'trelvik' },
    signal: AbortSignal.timeout(method === 'GET' ? LOOKUP_TIMEOUT : ACTION_TIMEOUT),
  });
  return { status: response.status, text: await response.text() };
}

// ----- replies of the actions ------------------------------------------------

function showReply(output, text, isError) {
  output.replaceChildren();
  output.classList.toggle('error', isError);
  output.classList.toggle('ok', !isError);
  const message = document.createElement('span');
  message.textContent = text;
  output.append(message);
  if (isError) {
    // Errors stay until the operator dismisses them.
    const dismiss = document.createElement('button');
    dismiss.type = 'button';
    dismiss.className = 'dismiss';
    dismiss.textContent = 'Dismiss';
    dismiss.addEventListener('click', () => output.replaceChildren());
    output.append(' ', dismiss);
  }
}

// Runs one action with its button disabled and a spinner, shows the reply,
// then refreshes what it may have changed.
async function runAction(button, output, action, params, emptyReply) {
  if (button.disabled) return;
  button.disabled = true;
  button.classList.add('busy');
  button.setAttribute('aria-busy', 'true');
  try {
    const reply = await entry(action, params, 'POST');
    const failed = reply.status >= 400;
    const text = reply.text || (failed ? `Error ${reply.status} without a reply text.` : emptyReply);
    showReply(output, text, failed);
  } catch {
    showReply(output, 'Camera not reachable: the request was not answered.', true);
  } finally {
    button.disabled = false;
    button.classList.remove('busy');
    button.removeAttribute('aria-busy');
  }
  state.storagesAt = 0;
  await refresh();
}

// ----- rendering ----------------------------------------------------------------

function setBanner(kind, text) {
  view.banner.dataset.state = kind;
  view.banner.textContent = text;
}

function storageLabel(id) {
  const known = state.storages?.find((s) => s.id === id);
  if (id === 'localdata') return 'Internal storage';
  return known?.name ? `${known.name} (${id})` : id;
}

function renderSession(status, rows, information) {
  const running = rows.find((r) => r.state === 'running');
  // The camera's zone, from any session's start time (date(1) prints it).
  const zone = zoneOf((running ?? rows[0])?.start);
  view.time.textContent = status.device?.Time ? `${status.device.Time}${zone ? ` ${zone}` : ''}` : '–';
  view.facts.hidden = !running;
  view.endForm.hidden = !status.active;
  view.beginForm.hidden = status.active;
  if (running) {
    const seconds = deviceTimeSeconds(status.device?.Time) - sessionStartSeconds(running.name);
    view.storage.textContent = storageLabel(running.storage);
    view.start.textContent = running.start || running.name;
    view.duration.textContent = formatDuration(seconds) || '–';
    view.points.textContent = information?.dataPoints || '0';
    setBanner('running', `Session running since ${running.start || running.name} on ${storageLabel(running.storage)}`);
    return;
  }
  const archiving = rows.find((r) => r.state === 'archiving');
  if (status.active) setBanner('running', 'Session running');
  else if (archiving) setBanner('archiving', `Archiving the session started ${archiving.start || archiving.name}…`);
  else setBanner('idle', 'No session is running');
}

function cell(row, content) {
  const td = document.createElement('td');
  if (content instanceof Node) td.append(content);
  else td.textContent = content;
  row.append(td);
  return td;
}

function link(href, text, label) {
  const a = document.createElement('a');
  a.href = href;
  a.textContent = text;
  if (label) a.setAttribute('aria-label', label);
  return a;
}

function archiveCell(session) {
  const box = document.createElement('span');
  if (session.state === 'stored') {
    const download = link(downloadUrl(session.name), `Download (${session.sizeZip})`, `Download the archive of ${session.name}`);
    download.download = `${session.name}.zip`;
    box.append(download, ' ', link(viewerUrl(session.name), 'View', `View the session ${session.name}`));
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
    const tr = document.createElement('tr');
    tr.dataset.session = session.name;
    tr.dataset.state = session.state;
    cell(tr, session.start || session.name);
    cell(tr, session.state === 'running' ? 'running' : session.end || '–');
    cell(tr, storageLabel(session.storage));
    cell(tr, session.size || '–');
    cell(tr, archiveCell(session));
    body.append(tr);
  }
  view.sessionsBody.replaceChildren(body);
  view.sessionsEmpty.hidden = rows.length > 0;
}

function renderStorages() {
  if (!state.storages) return;
  // Keep the operator's choice while it stays usable, else offer the first usable storage.
  const previous = view.choices.querySelector('input:checked')?.value;
  const usable = state.storages.filter((s) => s.accepted).map((s) => s.id);
  const selected = usable.includes(previous) ? previous : usable[0];
  // Nothing to start a session on until a usable storage is listed.
  $('begin-button').disabled = usable.length === 0;
  const fragment = document.createDocumentFragment();
  for (const storage of state.storages) {
    const label = document.createElement('label');
    label.className = `choice ${storage.state}`;
    const input = document.createElement('input');
    input.type = 'radio';
    input.name = 'storage';
    input.value = storage.id;
    input.disabled = !storage.accepted;
    input.checked = storage.id === selected;
    const name = document.createElement('span');
    name.textContent = storageLabel(storage.id);
    const badge = document.createElement('span');
    badge.className = 'badge';
    badge.textContent = storage.state;
    label.append(input, ' ', name, ' ', badge);
    fragment.append(label);
  }
  view.choices.replaceChildren(fragment);
}

// ----- polling ------------------------------------------------------------------

async function refreshStorages() {
  try {
    const reply = await entry('storages');
    if (reply.status !== 200) throw new Error(reply.text);
    state.storages = JSON.parse(reply.text).storages;
    state.storagesAt = Date.now();
    renderStorages();
  } catch {
    view.choices.textContent = 'The storage list could not be read.';
  }
}

async function refresh() {
  clearTimeout(state.timer);
  try {
    const reply = await entry('status');
    if (reply.status === 401) throw new Error('Not signed in to the camera');
    if (reply.status !== 200) throw new Error(`The camera answered ${reply.status}`);
    const status = JSON.parse(reply.text);
    const rows = storedSessions(status);
    let information = null;
    if (rows.some((r) => r.state === 'running')) {
      const info = await entry('information');
      if (info.status === 200) information = parseInformation(info.text);
    }
    state.failures = 0;
    state.status = status;
    state.lastAnswer = new Date();
    renderSession(status, rows, information);
    renderStored(rows);
    view.ptzCurrent.textContent = describePtz(status.miscellaneous);
    // The storage list (a storage service query and df) comes after the status is shown.
    if (!status.active && Date.now() - state.storagesAt > STORAGE_PERIOD) await refreshStorages();
  } catch (error) {
    state.failures += 1;
    const since = state.lastAnswer ? ` (last answer at ${state.lastAnswer.toLocaleTimeString()})` : '';
    const reason = error instanceof Error && error.message.startsWith('Not signed in') ? error.message
      : 'Camera not reachable';
    setBanner('unreachable', `${reason}${since}; retrying…`);
  }
  state.timer = setTimeout(refresh, nextPollDelay(state.failures));
}

// ----- the operator's actions -------------------------------------------------

view.beginForm.addEventListener('submit', (event) => {
  event.preventDefault();
  const storage = view.choices.querySelector('input:checked')?.value;
  if (!storage) {
    showReply(view.sessionReply, 'Choose a storage that is usable.', true);
    return;
  }
  runAction($('begin-button'), view.sessionReply, 'begin', { storage });
});

view.endForm.addEventListener('submit', (event) => {
  event.preventDefault();
  view.endDialog.returnValue = '';
  view.endDialog.showModal();
});

view.endDialog.addEventListener('close', () => {
  if (view.endDialog.returnValue === 'end') runAction($('end-button'), view.sessionReply, 'end', {});
});

$('ptz-interval-form').addEventListener('submit', (event) => {
  event.preventDefault();
  const minutes = $('ptz-minutes').value.trim();
  runAction(event.submitter ?? event.target.querySelector('button'), view.ptzReply, 'ptz_interval', { minutes });
});

$('ptz-times-form').addEventListener('submit', (event) => {
  event.preventDefault();
  const times = normaliseTimes($('ptz-times').value);
  if (times === null) {
    showReply(view.ptzReply, 'Times must be 24-hour HH:MM values such as 08:00, 20:30.', true);
    return;
  }
  runAction(event.submitter ?? event.target.querySelector('button'), view.ptzReply, 'ptz_times', { times });
});

$('ptz-stop-form').addEventListener('submit', (event) => {
  event.preventDefault();
  runAction(event.submitter ?? event.target.querySelector('button'), view.ptzReply, 'ptz_stop', {},
            'Nothing was set, so nothing was stopped.');
});

refresh();

// Pure helpers of the operator page: they turn the actions' replies into what
// the page shows. No DOM and no requests, so node's test runner checks them.

// "%Y%m%d_%H_%M_%S", the name of every session folder.
const SESSION_NAME = /^(\d{4})(\d{2})(\d{2})_(\d{2})_(\d{2})_(\d{2})$/;

// Seconds since an arbitrary epoch of a camera-local time given as numbers;
// only differences are used, so the zone never matters.
function localSeconds(year, month, day, hour, minute, second) {
  return Date.UTC(year, month - 1, day, hour, minute, second) / 1000;
}

// The folder name of a session path ("" for a path without "/").
export function sessionName(path) {
  const slash = path.lastIndexOf('/');
  return slash < 0 ? '' : path.slice(slash + 1);
}

// The camera-local start of a session from its folder name, or null.
export function sessionStartSeconds(name) {
  const m = SESSION_NAME.exec(name);
  return m ? localSeconds(+m[1], +m[2], +m[3], +m[4], +m[5], +m[6]) : null;
}

// status_report's device time "%H:%M:%S %Y-%m-%d" in the same seconds, or null.
export function deviceTimeSeconds(text) {
  const m = /^(\d{2}):(\d{2}):(\d{2}) (\d{4})-(\d{2})-(\d{2})$/.exec(text ?? '');
  return m ? localSeconds(+m[4], +m[5], +m[6], +m[1], +m[2], +m[3]) : null;
}

// "3 d 04 h", "1 h 02 min", "5 min 07 s", "12 s"; "" for a negative or unknown span.
export function formatDuration(seconds) {
  if (seconds == null || !Number.isFinite(seconds) || seconds < 0) return '';
  const s = Math.floor(seconds);
  const pad = (n) => String(n).padStart(2, '0');
  const days = Math.floor(s / 86400);
  const hours = Math.floor((s % 86400) / 3600);
  const minutes = Math.floor((s % 3600) / 60);
  if (days > 0) return `${days} d ${pad(hours)} h`;
  if (hours > 0) return `${hours} h ${pad(minutes)} min`;
  if (minutes > 0) return `${minutes} min ${pad(s % 60)} s`;
  return `${s} s`;
}

// The storage a session lives on, from its path: the disk id of an edge
// storage ("/var/spool/storage/<id>/Trelvik_<serial>/...") or "localdata".
export function storageOfPath(path) {
  const m = /\/var\/spool\/storage\/([^/]+)\/Trelvik_[^/]*\/[^/]*$/.exec(path);
  return m ? m[1] : 'localdata';
}

// The zone of a date(1)-style time ("Tue Dec  8 12:16:22 UTC 2026" -> "UTC").
export function zoneOf(text) {
  const words = (text ?? '').trim().split(/\s+/);
  return words.length >= 6 ? words[words.length - 2] : '';
}

// "Collected Data Points: N" and "Duration: ..." of the information file.
export function parseInformation(text) {
  const info = {};
  for (const line of (text ?? '').split(/\r?\n/)) {
    const colon = line.indexOf(': ');
    if (colon > 0) info[line.slice(0, colon)] = line.slice(colon + 2);
  }
  return {
    dataPoints: info['Collected Data Points'] ?? '',
    duration: info['Duration'] ?? '',
  };
}

// Stored sessions newest first, each with what the table shows. `active` is
// status_report's flag: a session without an end while it is set is the
// running one, without an end after it an interrupted one; an ended session
// without an archive size is being zipped.
export function storedSessions(status) {
  const rows = (status?.sessions ?? []).map((s) => {
    const name = sessionName(s.Path ?? '');
    let state = 'stored';
    if (!s.EndTime) state = 'unfinished';
    else if (!s.sizeZip) state = 'archiving';
    return { name, path: s.Path ?? '', storage: storageOfPath(s.Path ?? ''), start: s.StartTime ?? '',
             end: s.EndTime ?? '', size: s.size ?? '', sizeZip: s.sizeZip ?? '', state };
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
export function describePtz(misc) {
  const interval = Number(misc?.ptz_test_interval ?? 0);
  const times = misc?.ptz_test_given_times ?? '';
  if (interval > 0) {
    const extra = times ? ` (given times ${times.split(',').join(', ')} wait while an interval is set)` : '';
    return `Every ${interval} minutes${extra}`;
  }
  if (times) return `At ${times.split(',').join(', ')} every day`;
  return 'Off';
}

// Given times as the action takes them: "HH:MM" items joined by commas
// without blanks; blanks and semicolons typed between items are accepted.
export function normaliseTimes(text) {
  const items = text.split(/[\s,;]+/).filter(Boolean);
  const valid = items.every((t) => /^([01]\d|2[0-3]):[0-5]\d$/.test(t));
  return valid ? items.join(',') : null;
}

// The link the page gives for an archive, and the viewer's link to it.
export function downloadUrl(name) {
  return `cgi-bin/trelvik.cgi?action=download&name=${encodeURIComponent(name)}`;
}
export function viewerUrl(name) {
  return `viewer.html?archive=${encodeURIComponent(downloadUrl(name))}`;
}

// Waiting time before the next status request: the normal period while the
// camera answers, doubling up to a minute while it does not.
export function nextPollDelay(failures, period = 3000) {
  return failures <= 0 ? period : Math.min(period * 2 ** failures, 60000);
}

// What both pages need: the DOM builder, the status banner, the reader of a
// session's information file, the one way times and durations are written,
// and the session folder's name. No page state: the operator page, the
// viewer, its worker and node's tests all load the same text.
//
// Global TrelvikCommon in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory();
  else {
    root.TrelvikCommon = factory();
    // Kept to start the same code in a worker.
    (root.TrelvikWorkerSources = root.TrelvikWorkerSources || []).push(`self.TrelvikCommon = (${factory})();`);
  }
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  // ----- the DOM --------------------------------------------------------------

  const byId = (id) => document.getElementById(id);

  // An element with its attributes ("class", "text" for its text, "on<event>"
  // for a listener, any other name as an attribute) and its children; null
  // children are left out.
  function element(tag, attributes, ...children) {
    const made = document.createElement(tag);
    for (const [name, value] of Object.entries(attributes || {})) {
      if (name === 'class') made.className = value;
      else if (name === 'text') made.textContent = value;
      else if (name.startsWith('on')) made.addEventListener(name.slice(2), value);
      else made.setAttribute(name, value);
    }
    for (const child of children) if (child != null) made.append(child);
    return made;
  }

  // The status line at the top of a page (#banner): its text (#banner-text
  // where the line holds more than words) and its state, which the style
  // sheets colour through data-state on the line and on its .banner box.
  function showBanner(text, state) {
    const banner = byId('banner');
    (byId('banner-text') || banner).textContent = text;
    banner.dataset.state = state;
    banner.closest('.banner').dataset.state = state;
  }

  // ----- the session's information file -----------------------------------------

  // "Name: value" lines as [{ name, value }] in the file's order; a line
  // without a colon is no fact.
  function readInformation(text) {
    const facts = [];
    for (const line of text.split('\n')) {
      const m = /^([^:]+):\s?(.*?)\s*$/.exec(line.replace(/\r$/, ''));
      if (m) facts.push({ name: m[1], value: m[2] });
    }
    return facts;
  }

  // ----- times ----------------------------------------------------------------
  // Times travel as camera-local seconds: the camera clock's fields counted as
  // if they were UTC, so that a page writes them in the camera's clock
  // whatever the browser's zone. Only differences are taken, so the zone
  // itself never matters.

  // Camera-local seconds of a time given as numbers, or null when the day or
  // the time cannot be (a 31 February is no 3 March).
  function localSeconds(year, month, day, hour, minute, second) {
    const seconds = Date.UTC(year, month - 1, day, hour, minute, second) / 1000;
    const check = new Date(seconds * 1000);
    const exact = check.getUTCDate() === day && check.getUTCMonth() === month - 1 && hour < 24 && minute < 60;
    return exact && second < 60 ? seconds : null;
  }

  const MONTHS = ['Jan', 'Feb', 'Mar', 'Apr', 'May', 'Jun', 'Jul', 'Aug', 'Sep', 'Oct', 'Nov', 'Dec'];

  // A time as date(1) writes it ("Tue Dec  8 12:16:22 CET 2026": the
  // information file's start and stop, which the status report passes on),
  // the zone's name optional, as camera-local seconds, or null.
  function dateTextSeconds(text) {
    const m = /^\w{3} (\w{3}) +(\d{1,2}) (\d{2}):(\d{2}):(\d{2}) (?:\S+ )?(\d{4})$/.exec((text || '').trim());
    const month = m ? MONTHS.indexOf(m[1]) : -1;
    return month < 0 ? null : localSeconds(+m[6], month + 1, +m[2], +m[3], +m[4], +m[5]);
  }

  const pad2 = (n) => String(n).padStart(2, '0');

  // "HH:MM:SS" (24-hour) of camera-local seconds; "–" when unknown.
  function formatClock(seconds) {
    if (seconds == null || !Number.isFinite(seconds)) return '–';
    const d = new Date(seconds * 1000);
    return `${pad2(d.getUTCHours())}:${pad2(d.getUTCMinutes())}:${pad2(d.getUTCSeconds())}`;
  }

  // "YYYY-MM-DD HH:MM:SS" of camera-local seconds, without ":SS" when
  // `withSeconds` is false; "–" when unknown.
  function formatDateTime(seconds, withSeconds = true) {
    if (seconds == null || !Number.isFinite(seconds)) return '–';
    const d = new Date(seconds * 1000);
    const clock = formatClock(seconds);
    return `${d.getUTCFullYear()}-${pad2(d.getUTCMonth() + 1)}-${pad2(d.getUTCDate())} ${withSeconds ? clock : clock.slice(0, 5)}`;
  }

  // A span in its two largest units, the smaller one in two digits and left
  // out when it is zero: "3 d 04 h", "1 h 02 min", "5 min 07 s", "32 min",
  // "12 s"; "" for a negative or unknown span.
  function formatDuration(seconds) {
    if (seconds == null || !Number.isFinite(seconds) || seconds < 0) return '';
    const s = Math.floor(seconds);
    const days = Math.floor(s / 86400);
    const hours = Math.floor((s % 86400) / 3600);
    const minutes = Math.floor((s % 3600) / 60);
    const two = (large, largeUnit, small, smallUnit) =>
      small > 0 ? `${large} ${largeUnit} ${pad2(small)} ${smallUnit}` : `${large} ${largeUnit}`;
    if (days > 0) return two(days, 'd', hours, 'h');
    if (hours > 0) return two(hours, 'h', minutes, 'min');
    if (minutes > 0) return two(minutes, 'min', s % 60, 's');
    return `${s} s`;
  }

  // ----- the session folder's name ------------------------------------------------

  // "%Y%m%d_%H_%M_%S", the name of every session folder.
  const SESSION_NAME = /^(\d{4})(\d{2})(\d{2})_(\d{2})_(\d{2})_(\d{2})$/;

  // The folder name of a session path ("" for a path without "/").
  function sessionName(path) {
    const slash = path.lastIndexOf('/');
    return slash < 0 ? '' : path.slice(slash + 1);
  }

  // The camera-local start of a session from its folder name, or null.
  function sessionStartSeconds(name) {
    const m = SESSION_NAME.exec(name);
    return m ? localSeconds(+m[1], +m[2], +m[3], +m[4], +m[5], +m[6]) : null;
  }

  return {
    byId,
    element,
    showBanner,
    readInformation,
    localSeconds,
    dateTextSeconds,
    formatClock,
    formatDateTime,
    formatDuration,
    sessionName,
    sessionStartSeconds,
  };
});

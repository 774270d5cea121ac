// CSV time series of a session: the collectors write plain comma-separated
// rows (no quoting: they replace commas in values), with "\r\n" or "\n" line
// ends, headers with "," or ", " between cells, and the sampling time as one
// "%Y-%m-%d,%H:%M:%S" text that fills a Date and a Time column. Times are the
// camera's local clock; they are kept as seconds on a UTC scale so that what
// is shown is exactly what the camera wrote, whatever the reader's zone.
//
// Loaded by a classic <script> (works from file://) as the global TrelvikCsv,
// or by require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory();
  else root.TrelvikCsv = factory();
})(typeof self !== 'undefined' ? self : this, function () {
  'use strict';

  // A file's errors are listed up to this many; the rest are counted.
  const MAX_LISTED_ERRORS = 5;

  // "12.3 Mbit/s", "0.52", "-4", "1e3 kB": a number with an optional unit.
  const NUMBER_WITH_UNIT = /^[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?(\s*[A-Za-z%°/]+)*$/;

  function cellNumber(cell) {
    if (cell === '') return null;
    const n = +cell;
    if (!Number.isNaN(n)) return n;
    return NUMBER_WITH_UNIT.test(cell) ? parseFloat(cell) : undefined;
  }

  const dayCache = new Map();
  const digit = (s, i) => s.charCodeAt(i) - 48;
  const two = (s, i) => {
    const a = digit(s, i);
    const b = digit(s, i + 1);
    return a >= 0 && a <= 9 && b >= 0 && b <= 9 ? a * 10 + b : NaN;
  };
  // Seconds for "YYYY-MM-DD" + "HH:MM:SS", or NaN when either is malformed.
  // Read by character codes: it runs once per row of every file.
  function parseTime(date, time) {
    let day = dayCache.get(date);
    if (day === undefined) {
      const m = /^(\d{4})-(\d{2})-(\d{2})$/.exec(date);
      day = m ? Date.UTC(+m[1], +m[2] - 1, +m[3]) / 1000 : NaN;
      if (dayCache.size > 10000) dayCache.clear();
      dayCache.set(date, day);
    }
    if (time.length !== 8 || time[2] !== ':' || time[5] !== ':') return NaN;
    return day + two(time, 0) * 3600 + two(time, 3) * 60 + two(time, 6);
  }

  const pad = (n) => String(n).padStart(2, '0');
  // "YYYY-MM-DD HH:MM" (with ":SS" when asked) of seconds on the camera clock.
  function formatTime(seconds, withSeconds) {
    const d = new Date(seconds * 1000);
    const text = `${d.getUTCFullYear()}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())} ${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}`;
    return withSeconds ? `${text}:${pad(d.getUTCSeconds())}` : text;
  }

  function errorList() {
    const list = [];
    list.total = 0;
    list.add = function (text) {
      list.total += 1;
      if (list.length < MAX_LISTED_ERRORS) list.push(text);
    };
    return list;
  }

  function looksBinary(text) {
    const head = text.slice(0, 4096);
    return head.indexOf('\u0000') >= 0 || head.indexOf('\uFFFD') >= 0;
  }

  const isBlank = (c) => c === 32 || c === 9;
  function splitRow(line) {
    const cells = line.split(',');
    for (let i = 0; i < cells.length; i++) {
      const c = cells[i];
      if (c.length && (isBlank(c.charCodeAt(0)) || isBlank(c.charCodeAt(c.length - 1)))) cells[i] = c.trim();
    }
    return cells;
  }

  // Reads one CSV time series. Returns
  //   { header, t: number[], columns: [{ name, numeric, values }], errors, fatal }
  // where values are numbers (null for an empty or unreadable cell) for a
  // numeric column and strings otherwise. `fatal` is set (and nothing is
  // usable) when the text is not a CSV time series at all. Rows with the
  // wrong number of cells or an unreadable time are left out and reported.
  function readTable(text) {
    const errors = errorList();
    const empty = (why) => ({ header: [], t: [], columns: [], errors, fatal: why });
    if (looksBinary(text)) return empty('not a text file');
    const lines = text.split('\n');
    if (lines.length && lines[lines.length - 1].trim() === '') lines.pop();
    if (!lines.length) return empty('empty file');
    const header = splitRow(lines[0].replace(/\r$/, ''));
    const dateCol = header.findIndex((h) => /^date$/i.test(h));
    const timeCol = header.findIndex((h) => /^time$/i.test(h));
    if (header.length < 3 || dateCol < 0 || timeCol < 0) {
      return empty('not a CSV time series (no Date and Time columns in the first line)');
    }
    if (lines.length === 1) return empty('a header and no rows');

    const width = header.length;
    const numeric = sampleTypes(lines, width);
    const { t, values } = readRows(lines, { header, dateCol, timeCol, numeric }, errors);
    if (!t.length) return { ...empty('no readable rows'), errors };

    const columns = [];
    for (let c = 0; c < width; c++) {
      if (c === dateCol || c === timeCol) continue;
      columns.push({ name: header[c], numeric: numeric[c], values: values[c] });
    }
    return { header, t, columns, errors, fatal: null };
  }

  // A whole number of up to 15 digits read in place (the counters and sizes
  // that make up most cells); undefined for anything else, which the caller
  // reads the slow way.
  function wholeNumber(line, a, b) {
    let i = a;
    let negative = false;
    if (line.charCodeAt(i) === 45) {
      negative = true;
      i++;
    }
    if (i === b || b - i > 15) return undefined;
    let v = 0;
    for (; i < b; i++) {
      const d = line.charCodeAt(i) - 48;
      if (d < 0 || d > 9) return undefined;
      v = v * 10 + d;
    }
    return negative ? -v : v;
  }

  // The cell between offsets a and b of a line, blanks at either end dropped.
  function cellText(line, a, b) {
    while (a < b && isBlank(line.charCodeAt(a))) a++;
    while (b > a && isBlank(line.charCodeAt(b - 1))) b--;
    return line.slice(a, b);
  }

  // The rows under the header: times and one value list per column. Cells
  // are found by their commas and numbers read in place, without cutting
  // each row into strings: this loop runs for every row of every file.
  function readRows(lines, layout, errors) {
    const { header, dateCol, timeCol, numeric } = layout;
    const width = header.length;
    const t = [];
    const values = header.map(() => []);
    const recent = header.map(() => []);
    const bounds = new Int32Array(width + 1);
    for (let i = 1; i < lines.length; i++) {
      let line = lines[i];
      if (line.charCodeAt(line.length - 1) === 13) line = line.slice(0, -1);
      if (line === '') continue;
      let cells = 0;
      bounds[0] = -1;
      for (let at = line.indexOf(','); at >= 0 && cells < width; at = line.indexOf(',', at + 1)) bounds[++cells] = at;
      if (cells !== width - 1 || line.indexOf(',', bounds[cells] + 1) >= 0) {
        errors.add(`line ${i + 1}: ${line.split(',').length} cells where the header has ${width}`);
        continue;
      }
      bounds[width] = line.length;
      const date = cellText(line, bounds[dateCol] + 1, bounds[dateCol + 1]);
      const clock = cellText(line, bounds[timeCol] + 1, bounds[timeCol + 1]);
      const time = parseTime(date, clock);
      if (Number.isNaN(time)) {
        errors.add(`line ${i + 1}: "${date},${clock}" is not a date and time`);
        continue;
      }
      t.push(time);
      for (let c = 0; c < width; c++) {
        const a = bounds[c] + 1;
        const b = bounds[c + 1];
        if (!numeric[c]) {
          values[c].push(intern(recent[c], cellText(line, a, b)));
          continue;
        }
        let n = wholeNumber(line, a, b);
        if (n === undefined) {
          const text = cellText(line, a, b);
          n = cellNumber(text);
          if (n === undefined) errors.add(`line ${i + 1}: "${text}" in column "${header[c]}" is not a number`);
        }
        values[c].push(n === undefined ? null : n);
      }
    }
    return { t, values };
  }

  // One copy of each recent distinct text per column: a cell cut from the
  // file's text would keep the whole file alive, and text columns (packages,
  // commands, states) repeat a few values row after row. Comparing with the
  // last few values is cheaper than hashing every cell.
  const RECENT_TEXTS = 16;
  function intern(recent, cell) {
    for (let k = 0; k < recent.length; k++) if (recent[k] === cell) return recent[k];
    const copy = JSON.parse(JSON.stringify(cell));
    if (recent.length >= RECENT_TEXTS) recent.pop();
    recent.unshift(copy);
    return copy;
  }

  // A column whose filled cells are mostly numbers in the first rows is
  // numeric; text found in it later is reported as an error and left empty.
  const SAMPLE_ROWS = 200;
  function sampleTypes(lines, width) {
    const numbers = new Array(width).fill(0);
    const filled = new Array(width).fill(0);
    for (let i = 1; i < lines.length && i <= SAMPLE_ROWS; i++) {
      const cells = splitRow(lines[i].replace(/\r$/, ''));
      if (cells.length !== width) continue;
      for (let c = 0; c < width; c++) {
        if (cells[c] === '') continue;
        filled[c]++;
        if (typeof cellNumber(cells[c]) === 'number') numbers[c]++;
      }
    }
    return numbers.map((n, c) => filled[c] > 0 && n * 2 > filled[c]);
  }

  // A CSV file without a time axis (the radar software's statistics): its
  // header and rows, or null when the text is not a consistent CSV table.
  function readPlainTable(text) {
    if (looksBinary(text)) return null;
    const lines = text.split('\n').map((l) => l.replace(/\r$/, '')).filter((l) => l !== '');
    if (lines.length < 2) return null;
    const header = splitRow(lines[0]);
    if (header.length < 2) return null;
    const rows = lines.slice(1).map(splitRow);
    return rows.every((r) => r.length === header.length) ? { header, rows } : null;
  }

  return { readTable, readPlainTable, parseTime, formatTime, cellNumber, MAX_LISTED_ERRORS };
});

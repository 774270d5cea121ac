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
  else {
    root.TrelvikCsv = factory();
    // Kept to start the same code in a worker.
    (root.TrelvikWorkerSources = root.TrelvikWorkerSources || []).push(`self.TrelvikCsv = (${factory})();`);
  }
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
  // Seconds since 1970 of a calendar day, or NaN for a day that does not
  // exist (month 13, 30 February): such a date is damage, never a real day.
  function dayOf(date) {
    const m = /^(\d{4})-(\d{2})-(\d{2})$/.exec(date);
    if (!m) return NaN;
    const y = +m[1];
    const mo = +m[2];
    const d = +m[3];
    if (mo < 1 || mo > 12 || d < 1) return NaN;
    const days = new Date(Date.UTC(y, mo, 0)).getUTCDate();
    return d > days ? NaN : Date.UTC(y, mo - 1, d) / 1000;
  }

  // Seconds for "YYYY-MM-DD" + "HH:MM:SS", or NaN when either is malformed
  // or names a day or time that cannot be. Read by character codes: it runs
  // once per row of every file.
  let lastDate = '';
  let lastDay = NaN;
  function parseTime(date, time) {
    // Rows come in order: most share the day of the row before.
    let day = date === lastDate ? lastDay : dayCache.get(date);
    if (day === undefined) {
      day = dayOf(date);
      if (dayCache.size > 10000) dayCache.clear();
      dayCache.set(date, day);
    }
    lastDate = date;
    lastDay = day;
    if (time.length !== 8 || time[2] !== ':' || time[5] !== ':') return NaN;
    const h = two(time, 0);
    const m = two(time, 3);
    const s = two(time, 6);
    if (!(h < 24 && m < 60 && s < 60)) return NaN;
    return day + h * 3600 + m * 60 + s;
  }

  // parseTime of the date between offsets a and b of a line and the time
  // between c and d, read in place: the day is looked up only when it is
  // not the one of the row before, nothing is cut out of the line.
  function timeAt(line, a, b, c, d) {
    while (a < b && isBlank(line.charCodeAt(a))) a++;
    while (b > a && isBlank(line.charCodeAt(b - 1))) b--;
    while (c < d && isBlank(line.charCodeAt(c))) c++;
    while (d > c && isBlank(line.charCodeAt(d - 1))) d--;
    const sameDay = b - a === lastDate.length && line.startsWith(lastDate, a);
    if (!sameDay || d - c !== 8) return parseTime(line.slice(a, b), line.slice(c, d));
    if (line.charCodeAt(c + 2) !== 58 || line.charCodeAt(c + 5) !== 58) return NaN;
    return lastDay + clock(twoAt(line, c), twoAt(line, c + 3), twoAt(line, c + 6));
  }

  // Seconds into the day of an hour, minute and second, or NaN where one
  // cannot be.
  function clock(h, m, sec) {
    return h < 24 && m < 60 && sec < 60 ? h * 3600 + m * 60 + sec : NaN;
  }

  function twoAt(s, i) {
    const x = s.charCodeAt(i) - 48;
    const y = s.charCodeAt(i + 1) - 48;
    return x >= 0 && x <= 9 && y >= 0 && y <= 9 ? x * 10 + y : NaN;
  }

  const pad = (n) => String(n).padStart(2, '0');
  // "YYYY-MM-DD HH:MM" (with ":SS" when asked) of seconds on the camera clock.
  function formatTime(seconds, withSeconds) {
    const d = new Date(seconds * 1000);
    const text = `${d.getUTCFullYear()}-${pad(d.getUTCMonth() + 1)}-${pad(d.getUTCDate())} ${pad(d.getUTCHours())}:${pad(d.getUTCMinutes())}`;
    return withSeconds ? `${text}:${pad(d.getUTCSeconds())}` : text;
  }

  // A file's faults: the first few in words, and a count of the lines each
  // kind of fault cost (`counts`), which the file table shows.
  function errorList() {
    const list = [];
    list.total = 0;
    list.counts = {};
    list.add = function (kind, text) {
      list.total += 1;
      list.counts[kind] = (list.counts[kind] || 0) + 1;
      if (list.length < MAX_LISTED_ERRORS) list.push(text);
    };
    return list;
  }

  // What each kind of fault is called in the file table.
  const FAULT_WORDS = {
    damaged: ['damaged line (NUL bytes or invalid UTF-8)', 'damaged lines (NUL bytes or invalid UTF-8)'],
    half: ['half row at the end', 'half rows at the end'],
    cells: ['row with the wrong number of cells', 'rows with the wrong number of cells'],
    time: ['row with an impossible date or time', 'rows with an impossible date or time'],
    text: ['cell with text among numbers', 'cells with text among numbers'],
    before: ['row dated before the session started', 'rows dated before the session started'],
    after: ['row dated long after the session stopped', 'rows dated long after the session stopped'],
    backwards: ['row whose time went backwards', 'rows whose time went backwards'],
  };

  // "3 damaged lines (…), 1 half row at the end" from { kind: count }.
  function describeFaults(counts) {
    return Object.keys(FAULT_WORDS)
      .filter((k) => counts[k] > 0)
      .map((k) => `${counts[k]} ${FAULT_WORDS[k][counts[k] === 1 ? 0 : 1]}`)
      .join(', ');
  }

  // A line with a NUL (the zeros a power cut leaves where a block was not
  // written) or an invalid UTF-8 sequence (decoded as U+FFFD).
  const damaged = (line) => line.indexOf('\u0000') >= 0 || line.indexOf('\uFFFD') >= 0;

  // Looks at the line only: a search running on to the next damage in the
  // text made every line after the last NUL cost the rest of the text.
  function damagedRange(s, a, e) {
    for (let i = a; i < e; i++) {
      const c = s.charCodeAt(i);
      if (c === 0 || c === 0xfffd) return true;
    }
    return false;
  }

  function looksBinary(line) {
    return damaged(line.slice(0, 4096));
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
  //   { header, t: Float64Array, columns: [{ name, numeric, values }], errors, fatal }
  // where values are numbers (null for an empty or unreadable cell) for a
  // numeric column and strings otherwise (see numberColumn and textColumn
  // for what a column keeps). `fatal` is set (and nothing is
  // usable) when the text is not a CSV time series at all. A damaged line
  // (NUL bytes, invalid UTF-8), a half row at the end, a row with the wrong
  // number of cells or an impossible time costs that line only, wherever it
  // is; each is counted in `errors.counts`.
  function readTable(text) {
    const reader = tableReader(text.length);
    reader.push(text);
    return reader.finish();
  }

  // readTable of a file's bytes (UTF-8), read without decoding them whole.
  function readTableBytes(bytes) {
    const reader = tableReader(bytes.length);
    reader.pushBytes(bytes);
    return reader.finish();
  }

  function concat(a, b) {
    const out = new Uint8Array(a.length + b.length);
    out.set(a);
    out.set(b, a.length);
    return out;
  }

  // A line's own decoder: a byte-order mark inside the file is a character
  // of its line, as it is when the whole file is decoded.
  const lineDecoder = new TextDecoder('utf-8', { ignoreBOM: true });

  // readTable in pieces: push(text) the file's text as it is inflated and
  // decoded, then finish() gives the table. A file of hundreds of
  // megabytes is never held as one text. `size`, the file's length where
  // it is known, sizes the columns once for the rows it will hold.
  function tableReader(size = 0) {
    return new TableReader(size);
  }

  // The readers are classes rather than closures made for each file: every
  // file then runs the same functions, one call target for the optimizing
  // compiler, where a closure per file made a new one for each file.
  const NO_BYTES = new Uint8Array(0);
  const BYTE_ORDER_MARK = [0xef, 0xbb, 0xbf];

  class TableReader {
    constructor(size) {
      this.fileSize = size;
      this.errors = errorList();
      this.pending = '';
      this.lineNo = 0;
      this.layout = null; // the header's reading, once the first line is there
      this.fatal = null;
      this.rows = null; // the row reader, once the column types are known
      this.sample = []; // rows held back until the types are known
      this.sawRow = false;
      this.carry = NO_BYTES; // the bytes of a line not yet ended
      this.carryBytes = NO_BYTES; // where they are kept (see carried)
      this.firstBytes = true;
    }

    empty(why) {
      return { header: [], t: new Float64Array(0), columns: [], errors: this.errors, fatal: why };
    }

    start(first) {
      if (looksBinary(first)) return (this.fatal = 'not a text file');
      const header = splitRow(first.replace(/\r$/, ''));
      const dateCol = header.findIndex((h) => /^date$/i.test(h));
      const timeCol = header.findIndex((h) => /^time$/i.test(h));
      if (header.length < 3 || dateCol < 0 || timeCol < 0) {
        return (this.fatal = 'not a CSV time series (no Date and Time columns in the first line)');
      }
      this.layout = { header, dateCol, timeCol };
      return null;
    }

    typesKnown() {
      const layout = this.layout;
      layout.numeric = sampleTypes([''].concat(this.sample.map((x) => x[0])), layout.header.length);
      const rows = (this.rows = new RowReader(layout, this.errors, this.expectedRows()));
      // A sampled line that came as bytes is read as the lines after it
      // are: the text reading then stays the rare path it is for them, where
      // every file's first rows made it hot enough to be compiled again.
      for (const [line, no, check, bytes] of this.sample) {
        if (!bytes) rows.add(line, 0, line.length, no, check);
        else if (rows.timeFirst) rows.addTimeFirstBytes(bytes, 0, bytes.length, no);
        else rows.addBytes(bytes, 0, bytes.length, no);
      }
      this.sample = null;
    }

    // The rows a file of its size holds, by the length of the sampled
    // ones (and a little more: a row that does not fit doubles every
    // column); never more than rows of the shortest a row can be, which
    // damaged samples could otherwise make it.
    expectedRows() {
      const sampled = this.sample.length;
      if (!this.fileSize || !sampled) return 0;
      let length = 0;
      for (const [line] of this.sample) length += line.length + 1;
      const shortest = '2026-12-06,18:48:53\n'.length + this.layout.header.length - 2;
      return Math.ceil(Math.min((this.fileSize / length) * sampled * 1.05, this.fileSize / shortest));
    }

    // `bytes`, where given, are those of the one line in `list`.
    lines(list, check, last, bytes) {
      for (let k = 0; k < list.length; k++) {
        const line = list[k];
        this.lineNo++;
        if (this.lineNo === 1) {
          if (this.start(line)) return;
          continue;
        }
        if (this.fatal) return;
        if (line.trim() !== '') this.sawRow = true;
        const half = last && k === list.length - 1;
        if (half) {
          if (line.trim() === '') continue;
          if (!this.rows) this.typesKnown(); // its rows before it, in line order
          this.errors.add('half', `line ${this.lineNo}: cut short (no line end)`);
          continue;
        }
        if (this.rows) this.rows.add(line, 0, line.length, this.lineNo, check);
        else {
          this.sample.push([line, this.lineNo, check, bytes]);
          if (this.sample.length >= SAMPLE_ROWS) this.typesKnown();
        }
      }
    }

    // The byte path: lines are cut at their line end in the inflated bytes
    // and read there (addBytes); only the header and the sampled rows
    // before the column types are known are decoded, a line at a time.
    lineBytes(b, a, e) {
      const rows = this.rows;
      if (rows) {
        const no = ++this.lineNo;
        if (e > a + 1 || (e === a + 1 && b[a] !== 13)) this.sawRow = true;
        if (rows.timeFirst) rows.addTimeFirstBytes(b, a, e, no);
        else rows.addBytes(b, a, e, no);
        return;
      }
      const line = lineDecoder.decode(b.subarray(a, e));
      this.lines([line], damaged(line), false, b.slice(a, e));
    }

    // push() for the file's bytes as they are inflated: read the same,
    // without decoding the file into text.
    pushBytes(chunk) {
      if (this.fatal || !chunk.length) return;
      if (this.firstBytes) {
        // The text decoder drops a byte-order mark at the file's start,
        // whatever pieces it comes in.
        const head = this.carry.length ? concat(this.carry, chunk) : chunk;
        if (head.length < 3 && head.every((x, i) => x === BYTE_ORDER_MARK[i])) {
          this.carry = head.slice();
          return;
        }
        this.firstBytes = false;
        this.carry = NO_BYTES;
        chunk = BYTE_ORDER_MARK.every((x, i) => head[i] === x) ? head.subarray(3) : head;
      }
      let a = 0;
      let nl = chunk.indexOf(10);
      if (this.carry.length && nl >= 0) {
        const line = this.carried(chunk.subarray(0, nl));
        this.carry = NO_BYTES;
        this.lineBytes(line, 0, line.length);
        a = nl + 1;
        nl = chunk.indexOf(10, a);
      }
      for (; nl >= 0 && !this.fatal; nl = chunk.indexOf(10, a)) {
        this.lineBytes(chunk, a, nl);
        a = nl + 1;
      }
      if (this.fatal) return;
      this.carry = this.carried(chunk.subarray(a));
    }

    // The line carried over with `part` after it, in the reader's own
    // buffer, grown only for a longer line: a new array for each chunk's
    // last line cost more, in a worker's week of chunks, than the reading
    // of their rows. Nothing keeps the line's bytes once they are read.
    carried(part) {
      const n = this.carry.length;
      let kept = this.carryBytes;
      if (n + part.length > kept.length) {
        kept = new Uint8Array(Math.max(2 * kept.length, n + part.length, 256));
        kept.set(this.carry);
        this.carryBytes = kept;
      } else if (n && this.carry.buffer !== kept.buffer) kept.set(this.carry);
      kept.set(part, n);
      return kept.subarray(0, n + part.length);
    }

    push(text) {
      if (this.fatal || !text) return;
      const buf = this.pending + text;
      const check = text.indexOf('\u0000') >= 0 || text.indexOf('\uFFFD') >= 0;
      let a = 0;
      for (let nl = buf.indexOf('\n'); nl >= 0; nl = buf.indexOf('\n', a)) {
        // Once the columns are known, rows are read where they lie.
        if (this.rows) {
          this.lineNo++;
          if (nl > a + 1 || (nl === a + 1 && buf.charCodeAt(a) !== 13)) this.sawRow = true;
          this.rows.add(buf, a, nl, this.lineNo, check);
        } else {
          this.lines([buf.slice(a, nl)], check, false);
          if (this.fatal) return;
        }
        a = nl + 1;
      }
      this.pending = buf.slice(a);
    }

    finish() {
      if (this.carry.length) this.pending += lineDecoder.decode(this.carry);
      this.carry = NO_BYTES;
      // The collectors end every row with a line end: text after the last
      // one is a row cut short (or, alone, a header without its line end).
      const pending = this.pending;
      if (!this.fatal && pending !== '') {
        const check = pending.indexOf('\u0000') >= 0 || pending.indexOf('\uFFFD') >= 0;
        this.lines([pending], check, this.lineNo > 0);
      }
      this.pending = '';
      if (this.fatal) return this.empty(this.fatal);
      if (!this.layout) return this.empty('empty file');
      if (!this.sawRow) return this.empty('a header and no rows');
      if (!this.rows) this.typesKnown();
      if (!this.rows.size) return this.empty('no readable rows');
      return { header: this.layout.header, ...this.rows.table(), errors: this.errors, fatal: null };
    }
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

  // A table's column. Numbers are kept as a Float64Array (NaN for an empty
  // or unreadable cell: a cell never reads as NaN), texts as codes into the
  // column's distinct texts: a file of a million rows is read, checked and
  // sent between threads without a heap object per cell. `values`, the
  // column as numbers and nulls or as texts, is made the first time it is
  // asked for; the series of processes are picked from the codes and
  // numbers themselves.
  function numberColumn(name, numbers) {
    const column = { name, numeric: true };
    Object.defineProperty(column, 'numbers', { value: numbers });
    return withValues(column, numbers.length, (i) => {
      const x = numbers[i];
      return x === x ? x : null;
    });
  }

  function textColumn(name, codes, texts) {
    const column = { name, numeric: false };
    Object.defineProperty(column, 'codes', { value: codes });
    Object.defineProperty(column, 'texts', { value: texts });
    return withValues(column, codes.length, (i) => texts[codes[i]]);
  }

  // Gives a column its `values`, made from cell(i) when first asked for.
  function withValues(column, n, cell) {
    let values = null;
    Object.defineProperty(column, 'values', {
      enumerable: true,
      get() {
        if (!values) {
          values = new Array(n);
          for (let i = 0; i < n; i++) values[i] = cell(i);
        }
        return values;
      },
    });
    return column;
  }

  // The same column over the rows whose `keep` is set.
  function keptColumn(c, keep, kept) {
    const pick = (from) => {
      const out = new from.constructor(kept);
      for (let i = 0, k = 0; i < from.length; i++) if (keep[i]) out[k++] = from[i];
      return out;
    };
    return c.numeric ? numberColumn(c.name, pick(c.numbers)) : textColumn(c.name, pick(c.codes), c.texts);
  }

  // The rows under the header: times and one column per cell, one line at
  // a time, into arrays that double as they fill. Cells are found by their
  // commas and numbers read in place, without cutting each row into
  // strings: add() runs for every row of every file.
  class RowReader {
    constructor(layout, errors, rows) {
      const { header, dateCol, timeCol, numeric } = layout;
      const width = header.length;
      const capacity = Math.max(1024, rows || 0);
      this.header = header;
      this.dateCol = dateCol;
      this.timeCol = timeCol;
      this.numeric = numeric;
      this.width = width;
      this.errors = errors;
      this.size = 0;
      this.capacity = capacity;
      this.t = new Float64Array(capacity);
      // Date and Time make the row's time; every other column is a cell.
      this.cells = header.map((_, c) => c !== dateCol && c !== timeCol);
      // The collectors' usual layout, which addTimeFirstBytes reads.
      this.timeFirst = dateCol === 0 && timeCol === 1;
      this.numbers = header.map((_, c) => (this.cells[c] && numeric[c] ? new Float64Array(capacity) : null));
      this.codes = header.map((_, c) => (this.cells[c] && !numeric[c] ? new Int32Array(capacity) : null));
      this.texts = header.map(() => []);
      this.codeOf = header.map(() => new Map());
      this.recent = header.map(() => new Recent());
      this.recentBytes = header.map(() => new Recent());
      this.bounds = new Int32Array(width + 1);
      // A row's cells, read before any is kept: a row with one bad cell
      // costs the whole row (addBytes) or keeps an empty cell (add).
      this.rowNumbers = new Float64Array(width);
      this.rowCodes = new Int32Array(width);
    }

    grow() {
      const capacity = (this.capacity *= 2);
      const larger = (a) => {
        if (!a) return a;
        const out = new a.constructor(capacity);
        out.set(a);
        return out;
      };
      this.t = larger(this.t);
      for (let c = 0; c < this.width; c++) {
        this.numbers[c] = larger(this.numbers[c]);
        this.codes[c] = larger(this.codes[c]);
      }
    }

    keepRow(time) {
      if (this.size === this.capacity) this.grow();
      const { numbers, codes, rowNumbers, rowCodes, size } = this;
      this.t[size] = time;
      for (let c = 0; c < this.width; c++) {
        if (numbers[c]) numbers[c][size] = rowNumbers[c];
        else if (codes[c]) codes[c][size] = rowCodes[c];
      }
      this.size = size + 1;
    }

    // The code of a column's text, a new one for a text not seen before.
    code(c, text) {
      let k = this.codeOf[c].get(text);
      if (k === undefined) {
        k = this.texts[c].length;
        this.texts[c].push(text);
        this.codeOf[c].set(text, k);
      }
      return k;
    }

    // The line is s between offsets a and e: a chunk of a file is read in
    // place, never cut into one string per line.
    add(s, a, e, no, check) {
      const { width, bounds, errors, header, dateCol, timeCol } = this;
      if (e > a && s.charCodeAt(e - 1) === 13) e--;
      if (a === e) return;
      if (check && damagedRange(s, a, e)) {
        errors.add('damaged', `line ${no}: damaged (NUL bytes or invalid UTF-8)`);
        return;
      }
      let count = 0;
      bounds[0] = a - 1;
      for (let at = s.indexOf(',', a); at >= 0 && at < e && count < width; at = s.indexOf(',', at + 1))
        bounds[++count] = at;
      const extra = s.indexOf(',', bounds[count] + 1);
      if (count !== width - 1 || (extra >= 0 && extra < e)) {
        errors.add('cells', `line ${no}: ${s.slice(a, e).split(',').length} cells where the header has ${width}`);
        return;
      }
      bounds[width] = e;
      const time = timeAt(s, bounds[dateCol] + 1, bounds[dateCol + 1], bounds[timeCol] + 1, bounds[timeCol + 1]);
      if (Number.isNaN(time)) {
        const date = cellText(s, bounds[dateCol] + 1, bounds[dateCol + 1]);
        const clock = cellText(s, bounds[timeCol] + 1, bounds[timeCol + 1]);
        errors.add('time', `line ${no}: "${date},${clock}" is not a date and time`);
        return;
      }
      for (let c = 0; c < width; c++) {
        if (!this.cells[c]) continue;
        const from = bounds[c] + 1;
        const to = bounds[c + 1];
        if (!this.numeric[c]) {
          this.rowCodes[c] = this.code(c, intern(this.recent[c], s, from, to));
          continue;
        }
        let n = wholeNumber(s, from, to);
        if (n === undefined) {
          const text = cellText(s, from, to);
          n = cellNumber(text);
          if (n === undefined) errors.add('text', `line ${no}: "${text}" in column "${header[c]}" is not a number`);
        }
        this.rowNumbers[c] = n == null ? NaN : n;
      }
      this.keepRow(time);
    }

    // add() over a line's bytes: a line of whole numbers, plain decimals
    // and texts seen in the rows just before is read in place, without
    // decoding it; any other line (damage, a fault to report, new or
    // non-ASCII text) is decoded and left to add(), so that both read alike.
    // A line handed on goes with its own end, of which the next reading
    // drops one carriage return again: one is dropped, as the text reading
    // drops one, however many the line ends in.
    addBytes(b, a, end, no) {
      const { width, bounds, numeric, cells, rowNumbers, rowCodes } = this;
      let e = end;
      if (e > a && b[e - 1] === 13) e--;
      if (a === e) return;
      let count = 0;
      bounds[0] = a - 1;
      // The short cells' commas are found by a loop (a call per comma cost
      // more than the scan); the rest of the line, often a long command,
      // by one indexOf that only has to find none.
      let at = a;
      for (; at < e && count < width - 1; at++) {
        if (b[at] === 44) bounds[++count] = at;
      }
      if (count !== width - 1) return this.slowLine(b, a, end, no);
      const extra = b.indexOf(44, at);
      if (extra >= 0 && extra < e) return this.slowLine(b, a, end, no);
      bounds[width] = e;
      const dateCol = this.dateCol;
      const timeCol = this.timeCol;
      const time = timeAtBytes(b, bounds[dateCol] + 1, bounds[dateCol + 1], bounds[timeCol] + 1, bounds[timeCol + 1]);
      if (Number.isNaN(time)) return this.slowLine(b, a, end, no);
      for (let c = 0; c < width; c++) {
        if (!cells[c]) continue;
        let from = bounds[c] + 1;
        let to = bounds[c + 1];
        while (from < to && isBlank(b[from])) from++;
        while (to > from && isBlank(b[to - 1])) to--;
        if (numeric[c]) {
          const x = numberAtBytes(b, from, to);
          if (x === undefined) return this.slowLine(b, a, end, no);
          rowNumbers[c] = x;
        } else {
          const k = internBytes(this, c, b, from, to);
          if (k < 0) return this.slowLine(b, a, end, no);
          rowCodes[c] = k;
        }
      }
      this.keepRow(time);
    }

    // addBytes() for the usual layout, Date and Time first, in one pass:
    // each cell is read as its comma is reached, a number as its digits
    // go by. A row this pass does not read plainly (blanks, a decimal it
    // cannot take, a cell too many or too few, damage) is left to
    // addBytes, so that both read alike.
    addTimeFirstBytes(b, a, end, no) {
      let e = end;
      if (e > a && b[e - 1] === 13) e--;
      if (a === e) return;
      // The cells go straight into their columns, at the row after the
      // last kept: a row left to addBytes is written there again, or is
      // left past the end if it is not kept.
      if (this.size === this.capacity) this.grow();
      const { width, numeric, numbers, codes, size } = this;
      let date = a;
      while (date < e && b[date] !== 44) date++;
      let clock = date + 1;
      while (clock < e && b[clock] !== 44) clock++;
      if (clock >= e) return this.addBytes(b, a, end, no);
      const time = timeAtBytes(b, a, date, date + 1, clock);
      if (time !== time) return this.addBytes(b, a, end, no);
      let i = clock + 1;
      for (let c = 2; c < width; c++) {
        const start = i;
        if (numeric[c]) {
          const sign = i < e && b[i] === 45 ? 1 : 0;
          i += sign;
          let v = 0;
          let digits = 0;
          let point = -1;
          for (; i < e; i++) {
            const x = b[i];
            if (x === 44) break;
            const d = x - 48;
            if (d >= 0 && d <= 9) {
              v = v * 10 + d;
              digits++;
            } else if (x === 46 && point < 0) point = i;
            else return this.addBytes(b, a, end, no);
          }
          if (i === start) numbers[c][size] = NaN;
          else if (!digits || i - start - sign > 15) return this.addBytes(b, a, end, no);
          else if (point < 0) numbers[c][size] = sign ? -v : v;
          else if (point === i - 1 || point === start + sign) return this.addBytes(b, a, end, no);
          else numbers[c][size] = (sign ? -v : v) / POW10[i - point - 1];
        } else {
          if (c < width - 1) while (i < e && b[i] !== 44) i++;
          else {
            // The last cell, often a long command: one search for a comma
            // that should not be there.
            const comma = b.indexOf(44, i);
            i = comma >= 0 && comma < e ? comma : e;
          }
          if (i > start && (isBlank(b[start]) || isBlank(b[i - 1]))) return this.addBytes(b, a, end, no);
          const k = internBytes(this, c, b, start, i);
          if (k < 0) return this.addBytes(b, a, end, no);
          codes[c][size] = k;
        }
        if (c === width - 1) {
          if (i !== e) return this.addBytes(b, a, end, no);
        } else if (i >= e) return this.addBytes(b, a, end, no);
        else i++;
      }
      this.t[size] = time;
      this.size = size + 1;
    }

    slowLine(b, a, e, no) {
      const line = lineDecoder.decode(b.subarray(a, e));
      this.add(line, 0, line.length, no, true);
    }

    // The rows read: { t, columns } over arrays cut to the rows. Columns
    // sized to the file are nearly full: they are viewed, not copied (a
    // week's process list is tens of megabytes of columns); one that grew
    // by doubling is copied, so as not to keep up to half of it unused.
    table() {
      const columns = [];
      const size = this.size;
      const cut = (a) => (size >= a.length * 0.875 ? a.subarray(0, size) : a.slice(0, size));
      for (let c = 0; c < this.width; c++) {
        const name = this.header[c];
        if (this.numbers[c]) columns.push(numberColumn(name, cut(this.numbers[c])));
        else if (this.codes[c]) columns.push(textColumn(name, cut(this.codes[c]), this.texts[c]));
      }
      return { t: cut(this.t), columns };
    }
  }

  // A numeric cell's bytes (blanks trimmed): NaN when empty, a whole
  // number or a plain decimal, with or without a unit after it ("6.0
  // Mbit/s", a whole file of them), else undefined (left to the text
  // reading).
  function numberAtBytes(b, a, e) {
    if (a === e) return NaN;
    let i = a;
    const negative = b[i] === 45;
    if (negative) i++;
    const from = i;
    let v = 0;
    let point = -1;
    for (; i < e; i++) {
      const d = b[i] - 48;
      if (d >= 0 && d <= 9) v = v * 10 + d;
      else if (b[i] === 46 && point < 0) point = i;
      else if (i > from && unitOnly(b, i, e) && !radixPrefix(b, from, i)) break;
      else return undefined;
    }
    const end = i;
    if (end === from || end - from > 15) return undefined;
    if (point >= 0) {
      // "12." and "." are left to the text reading; a decimal is read as
      // the text reading reads it, exactly.
      if (point === end - 1 || point === from) return undefined;
      return (negative ? -v : v) / POW10[end - point - 1];
    }
    return negative ? -v : v;
  }

  // "0x1F", "0b", "0o": letters the text reading may take as a number's
  // base, not its unit.
  const radixPrefix = (b, from, i) => i === from + 1 && b[from] === 48 && !isBlank(b[i]);

  // Whether b[a, e) is only a unit as the text reading takes one after a
  // number: ASCII letters, "%" and "/", blanks between them. Anything else
  // ("°", an exponent's digits) is left to the text reading.
  function unitOnly(b, a, e) {
    for (let i = a; i < e; i++) {
      const x = b[i];
      const letter = (x | 32) >= 97 && (x | 32) <= 122;
      if (!(letter || x === 37 || x === 47 || isBlank(x))) return false;
    }
    return true;
  }

  // A decimal of at most 15 digits is its digits as a whole number over a
  // power of ten: both are exact doubles and the division rounds once, so
  // the result is the one the text reading gives, without decoding it.
  const POW10 = Array.from({ length: 16 }, (_, k) => 10 ** k);

  // intern() over bytes, to a code: that of one of the last few texts of
  // the row reader's column c when the bytes are the same, else that of
  // the cell decoded (-1 when it is not valid UTF-8, which add() reports).
  function internBytes(rows, c, b, a, e) {
    const recent = rows.recentBytes[c];
    const entries = recent.entries;
    const n = entries.length;
    const len = e - a;
    const last = recent.last;
    for (let k = 0; k < n; k++) {
      const at = (last + k) % n;
      const r = entries[at].bytes;
      if (r.length !== len || (len && (r[0] !== b[a] || r[len - 1] !== b[e - 1]))) continue;
      let i = 1;
      while (i < len - 1 && r[i] === b[a + i]) i++;
      if (i >= len - 1) {
        recent.last = at;
        return entries[at].code;
      }
    }
    const text = lineDecoder.decode(b.subarray(a, e));
    if (damaged(text)) return -1;
    const k = rows.code(c, text);
    recent.remember({ bytes: b.slice(a, e), code: k });
    return k;
  }

  const latin1 = new TextDecoder('latin1');
  // timeAt() over bytes; NaN also where only the text reading can tell.
  let lastDateBytes = new Uint8Array(0);
  let lastDayBytes = NaN;
  function timeAtBytes(b, a, e, c, d) {
    while (a < e && isBlank(b[a])) a++;
    while (e > a && isBlank(b[e - 1])) e--;
    while (c < d && isBlank(b[c])) c++;
    while (d > c && isBlank(b[d - 1])) d--;
    if (d - c !== 8 || b[c + 2] !== 58 || b[c + 5] !== 58) return NaN;
    let same = e - a === lastDateBytes.length;
    for (let i = 0; same && i < e - a; i++) same = b[a + i] === lastDateBytes[i];
    if (!same) {
      const day = parseTime(latin1.decode(b.subarray(a, e)), '00:00:00');
      if (Number.isNaN(day)) return NaN;
      lastDateBytes = b.slice(a, e);
      lastDayBytes = day;
    }
    return lastDayBytes + clock(twoBytes(b, c), twoBytes(b, c + 3), twoBytes(b, c + 6));
  }

  function twoBytes(b, i) {
    const x = b[i] - 48;
    const y = b[i + 1] - 48;
    return x >= 0 && x <= 9 && y >= 0 && y <= 9 ? x * 10 + y : NaN;
  }

  // One copy of each recent distinct text per column: a cell cut from the
  // file's text would keep the whole file alive, and text columns (packages,
  // commands, states) repeat a few values row after row. Comparing with the
  // last few values is cheaper than hashing every cell.
  const RECENT_TEXTS = 16;
  function intern(recent, line, a, b) {
    while (a < b && isBlank(line.charCodeAt(a))) a++;
    while (b > a && isBlank(line.charCodeAt(b - 1))) b--;
    // Compared in place: most cells repeat one of the last few texts, and
    // cutting each out first would cost an allocation per cell. A text
    // repeats the row before's, or the rows of one sample repeat in the
    // same order: the last one found is tried first, then the one after it.
    const entries = recent.entries;
    const n = entries.length;
    const last = recent.last;
    for (let k = 0; k < n; k++) {
      const at = (last + k) % n;
      const r = entries[at];
      if (r.length === b - a && line.startsWith(r, a)) {
        recent.last = at;
        return r;
      }
    }
    const copy = JSON.parse(JSON.stringify(line.slice(a, b)));
    recent.remember(copy);
    return copy;
  }

  // A column's recent texts (or their bytes and codes), and which was
  // found last. An object of its own rather than an array given fields:
  // those changed the array's shape as they were added, and the optimized
  // reading with it.
  class Recent {
    constructor() {
      this.entries = [];
      this.last = 0;
      this.oldest = 0;
    }

    // Keeps a new entry, in place of the oldest once there are RECENT_TEXTS.
    remember(entry) {
      const n = this.entries.length;
      if (n < RECENT_TEXTS) {
        this.entries.push(entry);
        this.last = n;
      } else {
        this.oldest = (this.oldest + 1) % n;
        this.entries[this.oldest] = entry;
        this.last = this.oldest;
      }
    }
  }

  // A column whose filled cells are mostly numbers in the first rows is
  // numeric; text found in it later is reported as an error and left empty.
  const SAMPLE_ROWS = 200;
  function sampleTypes(lines, width) {
    const numbers = new Array(width).fill(0);
    const filled = new Array(width).fill(0);
    for (let i = 1; i < lines.length && i <= SAMPLE_ROWS; i++) {
      if (damaged(lines[i])) continue;
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

  // Leaves out of a table the rows whose time cannot be right: before the
  // session's window, after it, or earlier than a row above (a clock stepped
  // back). `window` is { from, to } (either may be null). Each row left out
  // is counted in table.errors; the table's clock events are returned:
  //   [{ kind: 'back' | 'unset', at, to, rows }]
  // `at` is the last good time before the event, `to` the first good one
  // after it (a clock set late: the first row inside the window).
  function checkTimes(table, window) {
    const t = table.t;
    if (inOrderWithin(t, window.from ?? -Infinity, window.to ?? Infinity)) return { table, events: [] };
    const keep = new Uint8Array(t.length);
    const events = [];
    let last = -Infinity;
    let open = null; // the event whose rows are being left out
    let kept = 0;
    for (let i = 0; i < t.length; i++) {
      const x = t[i];
      let why = null;
      if (window.from != null && x < window.from) why = 'before';
      else if (window.to != null && x > window.to) why = 'after';
      // After a step back, a row dated exactly like the last good one is
      // from after the step as well.
      else if (x < last || (x === last && open && open.kind === 'back')) why = 'backwards';
      if (!why) {
        keep[i] = 1;
        kept++;
        if (open) {
          open.to = x;
          events.push(open);
          open = null;
        }
        last = x;
        continue;
      }
      table.errors.add(
        why,
        `row at ${formatTime(x, true)}: ${why === 'backwards' ? 'earlier than the row before it' : why === 'before' ? 'before the session started' : 'after the session stopped'}`,
      );
      if (why === 'after') continue;
      const kind = why === 'backwards' ? 'back' : 'unset';
      if (!open || open.kind !== kind) {
        if (open) events.push(open);
        open = { kind, at: last, to: null, rows: 0, first: x };
      }
      open.rows++;
    }
    if (open) events.push(open);
    if (kept === t.length) return { table, events };
    return {
      table: {
        ...table,
        t: t.filter((_, i) => keep[i]),
        columns: table.columns.map((c) => keptColumn(c, keep, kept)),
      },
      events,
    };
  }

  // Whether every time is within [from, to] and none earlier than the one
  // before: so are nearly all files, and their check is this loop alone.
  function inOrderWithin(t, from, to) {
    let last = -Infinity;
    for (let i = 0; i < t.length; i++) {
      const x = t[i];
      if (!(x >= from && x <= to && x >= last)) return false;
      last = x;
    }
    return true;
  }

  // A table as a message between threads: its times as a Float64Array and
  // its columns' own typed arrays, handed over rather than copied.
  // { message, transfer }.
  function packTable(table) {
    const t = table.t instanceof Float64Array ? table.t : Float64Array.from(table.t);
    const transfer = [t.buffer];
    const columns = table.columns.map((c) => {
      const typed = c.numeric ? c.numbers : c.codes;
      transfer.push(typed.buffer);
      return c.numeric
        ? { name: c.name, numeric: true, numbers: typed }
        : { name: c.name, numeric: false, codes: typed, texts: c.texts };
    });
    const errors = { listed: [...table.errors], total: table.errors.total, counts: table.errors.counts };
    return { message: { ...table, t, columns, errors }, transfer };
  }

  // The table packTable() sent, as the reader makes it.
  function unpackTable(packed) {
    const errors = errorList();
    errors.push(...packed.errors.listed);
    errors.total = packed.errors.total;
    errors.counts = packed.errors.counts;
    const columns = packed.columns.map((c) =>
      c.numeric ? numberColumn(c.name, c.numbers) : textColumn(c.name, c.codes, c.texts),
    );
    return { ...packed, columns, errors };
  }

  // A CSV file without a time axis (the radar software's statistics): its
  // header and rows, or null when the text is not a consistent CSV table.
  function readPlainTable(text) {
    if (looksBinary(text.slice(0, 4096))) return null;
    const lines = text
      .split('\n')
      .map((l) => l.replace(/\r$/, ''))
      .filter((l) => l !== '');
    if (lines.length < 2) return null;
    const header = splitRow(lines[0]);
    if (header.length < 2) return null;
    const rows = lines.slice(1).map(splitRow);
    return rows.every((r) => r.length === header.length) ? { header, rows } : null;
  }

  // Every kind of row and cell the byte reading meets, read once as soon as
  // the reader is loaded: the optimizing compiler then has seen each path
  // when a week's rows make it compile the reading, where a kind first met
  // in the middle of a file (a decimal, a text among numbers, a padded
  // cell, a count past 32 bits such as a byte total) threw its compiled
  // code away to be compiled again.
  function warmUp() {
    const plain = [];
    for (let i = 0; i < SAMPLE_ROWS + 8; i++) {
      const s = String(i % 60).padStart(2, '0');
      plain.push(
        `2026-01-0${1 + (i >> 7)},00:${String(Math.floor(i / 60) % 60).padStart(2, '0')}:${s},p${i & 3},${i === 100 ? 123456789012 : i},${i / 4},c${i & 1}`,
      );
    }
    const odd = [
      '2026-01-03,00:00:00,p1,-2,,c y',
      '2026-01-03,00:00:01, p2 ,3, 1.5 ,c0',
      '2026-01-03,00:00:02,p1,4,1e3,c0',
      '2026-01-03,00:00:03,p1,5,2,c0,extra',
      '2026-01-03,00:00:04,p1,6',
      '2026-01-03,25:00:00,p1,7,2,c0',
      '2026-01-03,00:00:05,p1,x,2,c0',
      '2026-01-03,00:00:06,p\u00e9,8,2.,c0',
      '2026-01-03,00:00:07,p1,123456789012,2,c0',
    ];
    const bytes = new TextEncoder().encode(['Date,Time,Name,Count,Load,Last', ...plain, ...odd, ''].join('\n'));
    const reader = tableReader(bytes.length);
    const half = bytes.length >> 1;
    reader.pushBytes(bytes.subarray(0, half));
    reader.pushBytes(bytes.subarray(half));
    reader.finish();
  }
  warmUp();

  return {
    readTable,
    readTableBytes,
    tableReader,
    packTable,
    unpackTable,
    readPlainTable,
    checkTimes,
    parseTime,
    timeAtBytes,
    formatTime,
    cellNumber,
    describeFaults,
    errorList,
    MAX_LISTED_ERRORS,
  };
});

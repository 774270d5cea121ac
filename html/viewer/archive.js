// The session archive as `zip --recurse-paths` writes it, read member by
// member so that one bad member never costs the others: the central
// directory lists the members, each is inflated only when asked for, into a
// buffer of the size it claims and never beyond the limit below. An archive
// cut short (copy interrupted, storage pulled during archiving) has no
// central directory; its members are then recovered from their local
// headers, as far as they go.
//
// Global TrelvikArchive in a page (needs the global fflate), require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory(require('fflate'));
  else {
    root.TrelvikArchive = factory(root.fflate);
    // Kept to start the same code in a worker.
    (root.TrelvikWorkerSources = root.TrelvikWorkerSources || []).push(
      `self.TrelvikArchive = (${factory})(self.fflate);`,
    );
  }
})(typeof self !== 'undefined' ? self : this, function (fflate) {
  'use strict';

  // The largest member the viewer inflates: a week of top snapshots is about
  // 150 MB; anything claiming more is damaged or not a session.
  const MAX_MEMBER_BYTES = 200 * 1024 * 1024;

  // Below this size fflate in place is quicker than the round trips of the
  // browser's asynchronous inflater (a session's many meminfo files of a
  // week, 100 to 200 kB each, inflate several times faster natively).
  const NATIVE_FROM_BYTES = 16 * 1024;

  const CENTRAL = 0x02014b50;
  const LOCAL = 0x04034b50;
  const END = 0x06054b50;

  function u16(b, o) {
    return b[o] | (b[o + 1] << 8);
  }
  function u32(b, o) {
    return (b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (b[o + 3] << 24)) >>> 0;
  }

  const decoder = new TextDecoder('utf-8');
  const nameOf = (b, o, n) => decoder.decode(b.subarray(o, o + n));

  function mib(n) {
    return `${(n / 1048576).toFixed(n < 10 * 1048576 ? 1 : 0)} MiB`;
  }

  // A member record; read() returns its bytes (or a promise of them, where
  // the browser inflates) or fails with an Error that says why (too large,
  // unsupported method, cut short, corrupt). `ready(end)`, where `bytes` is
  // still being read from a file, resolves once they are there up to
  // offset `end`: stream() then inflates each stretch as it arrives.
  function member(bytes, path, method, compressedSize, size, dataStart, ready) {
    return {
      path,
      size,
      compressedSize,
      // Hands the member's bytes to `onChunk` as they are inflated, never
      // holding them whole (where the browser inflates; else in one piece).
      // The inflating stops where `onChunk` returns false.
      async stream(onChunk) {
        if (method !== 8 || typeof DecompressionStream !== 'function' || size > MAX_MEMBER_BYTES) {
          if (ready) await ready(dataStart + compressedSize);
          onChunk(await this.read());
          return;
        }
        if (dataStart + compressedSize > bytes.length) throw new Error('cut short: the archive ends inside this file');
        const data = bytes.subarray(dataStart, dataStart + compressedSize);
        const reader = inflating(data, ready && ((end) => ready(dataStart + end))).getReader();
        let filled = 0;
        try {
          for (;;) {
            const { done, value } = await reader.read();
            if (done) break;
            filled += value.length;
            if (filled > size) throw new Error('inflates to more than its claimed size');
            if (onChunk(value) === false) {
              reader.cancel().catch(() => {});
              return;
            }
          }
        } catch (e) {
          reader.cancel().catch(() => {});
          throw new Error(`cannot be inflated (${e.message || e})`, { cause: e });
        }
      },
      read() {
        if (size > MAX_MEMBER_BYTES)
          throw new Error(`claims ${mib(size)} uncompressed, more than the ${mib(MAX_MEMBER_BYTES)} the viewer opens`);
        if (dataStart + compressedSize > bytes.length) throw new Error('cut short: the archive ends inside this file');
        const data = bytes.subarray(dataStart, dataStart + compressedSize);
        if (method === 0) return data.slice(0, size);
        if (method !== 8) throw new Error(`compression method ${method} is not supported`);
        // A worker has no fflate: the browser's inflater does all there.
        if ((size >= NATIVE_FROM_BYTES || !fflate) && typeof DecompressionStream === 'function')
          return nativeInflate(data, size);
        try {
          // Inflating into a buffer of the claimed size bounds the memory a
          // member lying about its size can take.
          return fflate.inflateSync(data, { out: new Uint8Array(size) });
        } catch (e) {
          throw new Error(`cannot be inflated (${e.message || e})`, { cause: e });
        }
      },
    };
  }

  // The browser's inflater over deflated bytes, fed a slice at a time as
  // it asks, so that its output comes a little at a time too. Not through
  // a Blob: a Blob's stream is read back from the browser's process,
  // which took several times as long for the session's small files.
  // `ready(end)`, if given, resolves once data is there up to `end`.
  const FEED_BYTES = 65536;
  function inflating(data, ready) {
    let at = 0;
    const source = new ReadableStream(
      {
        pull(controller) {
          if (at >= data.length) {
            controller.close();
            return undefined;
          }
          const end = Math.min(at + FEED_BYTES, data.length);
          const feed = () => controller.enqueue(data.subarray(at, (at = end)));
          return ready ? ready(end).then(feed) : feed();
        },
      },
      { highWaterMark: 0 },
    );
    return source.pipeThrough(new DecompressionStream('deflate-raw'));
  }

  // The browser's own inflater, several times faster than fflate. Output
  // past the claimed size is an error, so a lying member stays bounded.
  async function nativeInflate(data, size) {
    const out = new Uint8Array(size);
    let filled = 0;
    const reader = inflating(data).getReader();
    try {
      for (;;) {
        const { done, value } = await reader.read();
        if (done) break;
        if (filled + value.length > size) throw new Error('inflates to more than its claimed size');
        out.set(value, filled);
        filled += value.length;
      }
    } catch (e) {
      reader.cancel().catch(() => {});
      throw new Error(`cannot be inflated (${e.message || e})`, { cause: e });
    }
    return filled === size ? out : out.subarray(0, filled);
  }

  function findEnd(bytes) {
    const stop = Math.max(0, bytes.length - 65557);
    for (let o = bytes.length - 22; o >= stop; o--) if (u32(bytes, o) === END) return o;
    return -1;
  }

  function localDataStart(bytes, offset) {
    if (offset + 30 > bytes.length || u32(bytes, offset) !== LOCAL) return -1;
    return offset + 30 + u16(bytes, offset + 26) + u16(bytes, offset + 28);
  }

  // The offsets of the central directory's entries, or null where it is
  // not whole.
  function centralEntries(bytes, end) {
    const count = u16(bytes, end + 10);
    let o = u32(bytes, end + 16);
    const entries = [];
    for (let i = 0; i < count; i++) {
      if (o + 46 > bytes.length || u32(bytes, o) !== CENTRAL) return null;
      entries.push(o);
      o += 46 + u16(bytes, o + 28) + u16(bytes, o + 30) + u16(bytes, o + 32);
    }
    return entries;
  }

  const entryPath = (bytes, o) => nameOf(bytes, o + 46, u16(bytes, o + 28));

  function centralMember(bytes, o, ready) {
    const method = u16(bytes, o + 10);
    const compressedSize = u32(bytes, o + 20);
    const size = u32(bytes, o + 24);
    const start = localDataStart(bytes, u32(bytes, o + 42));
    const m = member(
      bytes,
      entryPath(bytes, o),
      method,
      compressedSize,
      size,
      start < 0 ? bytes.length + 1 : start,
      ready,
    );
    if (start < 0)
      m.read = () => {
        throw new Error('its local header is missing or damaged');
      };
    return m;
  }

  function fromCentral(bytes, end) {
    const entries = centralEntries(bytes, end);
    return entries && entries.map((o) => centralMember(bytes, o));
  }

  function fromLocalHeaders(bytes) {
    const members = [];
    let o = 0;
    while (o + 30 <= bytes.length && u32(bytes, o) === LOCAL) {
      const flags = u16(bytes, o + 6);
      const method = u16(bytes, o + 8);
      const compressedSize = u32(bytes, o + 18);
      const size = u32(bytes, o + 22);
      const path = nameOf(bytes, o + 30, u16(bytes, o + 26));
      const start = localDataStart(bytes, o);
      // Sizes after the data (flag bit 3) cannot be followed without the
      // central directory.
      if (flags & 8) break;
      members.push(member(bytes, path, method, compressedSize, size, start));
      o = start + compressedSize;
    }
    return members;
  }

  // Lists the members of a zip held in `bytes` (Uint8Array):
  //   { members: [{ path, size, compressedSize, read() }], error }
  // `error` tells what is wrong with the archive as a whole (null when
  // nothing); the members listed are usable whatever it says.
  function readZip(bytes) {
    const end = findEnd(bytes);
    const central = end >= 0 ? fromCentral(bytes, end) : null;
    if (central) return { members: central, error: null };
    const local = fromLocalHeaders(bytes);
    if (!local.length) return { members: [], error: 'not a zip archive (no zip headers found)' };
    return {
      members: local,
      error: `the archive is cut short (no central directory); ${local.length} files were recovered from what is there`,
    };
  }

  // readZip() over an archive chosen as a file (a Blob), without reading
  // it whole first: its end, for the central directory, and then each
  // member's own stretch of the file (from its local header to the next
  // member's) when the member is first read. A thread that reads a few
  // members of a large archive thus starts on them at once. An archive
  // whose central directory is not whole at its end is read whole, as
  // readZip() reads it. Resolves to what readZip() returns.
  const FILE_BLOCK_BYTES = 1 << 20;
  async function readZipFile(file) {
    const bytes = new Uint8Array(file.size);
    const fill = async (from, to) => {
      if (to > from) bytes.set(new Uint8Array(await file.slice(from, to).arrayBuffer()), from);
    };
    // Members are read a block at a time, each block once, with the next
    // one read ahead: a session's many small files then cost few reads of
    // the file (each a round trip to the browser's process).
    const blocks = new Map();
    const block = (k) => {
      const from = k * FILE_BLOCK_BYTES;
      if (!blocks.has(k) && from < bytes.length)
        blocks.set(k, fill(from, Math.min(from + FILE_BLOCK_BYTES, bytes.length)));
      return blocks.get(k);
    };
    const fillBlocks = (from, to) => {
      const waits = [];
      const last = Math.floor((to - 1) / FILE_BLOCK_BYTES);
      for (let k = Math.floor(from / FILE_BLOCK_BYTES); k <= last; k++) waits.push(block(k));
      block(last + 1);
      return Promise.all(waits);
    };
    const tail = Math.max(0, bytes.length - 65557);
    await fill(tail, bytes.length);
    const end = findEnd(bytes);
    const directory = end >= 0 ? u32(bytes, end + 16) : -1;
    if (directory < 0 || directory > end) {
      await fill(0, tail);
      return readZip(bytes);
    }
    await fill(directory, tail);
    const entries = centralEntries(bytes, end);
    if (!entries) {
      await fill(0, directory);
      return readZip(bytes);
    }
    const starts = entries.map((o) => u32(bytes, o + 42)).sort((a, b) => a - b);
    const following = new Map();
    for (let i = starts.length - 1, next = directory; i >= 0; i--) {
      if (starts[i] < next) following.set(starts[i], next);
      next = Math.min(next, starts[i]);
    }
    const members = entries.map((o) => {
      const from = u32(bytes, o + 42);
      const to = following.get(from) ?? from;
      let whole = null;
      const filled = () => whole || (whole = fillBlocks(from, to).then(() => centralMember(bytes, o)));
      // A member streamed is inflated as its stretch arrives, from its
      // local header on, rather than once all of it is there: the largest
      // files start sooner, and a scan that stops early reads little past
      // where it stopped.
      let headed = null;
      const head = () =>
        headed ||
        (headed = (async () => {
          await fillBlocks(from, Math.min(to, from + 30));
          const start = localDataStart(bytes, from);
          if (start > 0) await fillBlocks(from, Math.min(to, start));
          return centralMember(bytes, o, (end) => fillBlocks(from, Math.min(to, end)));
        })());
      return {
        path: entryPath(bytes, o),
        size: u32(bytes, o + 24),
        compressedSize: u32(bytes, o + 20),
        read: async () => (await filled()).read(),
        stream: async (onChunk) => (await head()).stream(onChunk),
      };
    });
    return { members, error: null };
  }

  return { readZip, readZipFile, MAX_MEMBER_BYTES, NATIVE_FROM_BYTES };
});

// The archive read off the page's thread: a worker, and a helper worker
// beside it for the largest CSV files and top's snapshots, both started
// from the page's own modules while the page waits for a file; the
// session they hand back gets its snapshots' readers again.
// An archive chosen as a file is read by the workers out of the file
// itself, so that the page never holds its bytes.
//
// Global TrelvikReader in a page, require() in node.
(function (root, factory) {
  if (typeof module === 'object' && module.exports) module.exports = factory(require('./archive.js'));
  else root.TrelvikReader = factory(root.TrelvikArchive);
})(typeof self !== 'undefined' ? self : this, function (Archive) {
  'use strict';

  // An archive is read in a worker started from the page's own modules (a
  // Blob: it starts from file:// and inside the one-file report alike), so
  // that the reading's garbage goes with the worker instead of staying in
  // the tab. `source` is { bytes } or { file }. Resolves to the session,
  // or null where no worker starts; an archive without members rejects
  // with an Error whose notZip is set.
  function openInWorker(source, progress) {
    const pair = ready || startWorkers();
    ready = null;
    if (!pair || pair.failed) {
      if (pair) pair.end();
      return Promise.resolve(null);
    }
    const { worker, helper } = pair;
    return new Promise((resolve, reject) => {
      worker.onmessage = ({ data }) => {
        if (data.started) pair.started = true;
        else if (data.progress) progress(...data.progress);
        else {
          pair.end();
          if (data.error != null) reject(Object.assign(new Error(data.error), { notZip: !!data.notZip }));
          else resolve(data.session);
        }
      };
      worker.onerror = (e) => {
        e.preventDefault();
        pair.end();
        if (pair.started) reject(new Error(e.message || 'the reading stopped'));
        else resolve(null);
      };
      if (helper) send(helper, source);
      send(worker, source);
    });
  }

  // The pair of workers started while the page waits for a file, so that
  // reading begins as soon as one is chosen; taken by the first reading,
  // the next one starts its own.
  let ready = null;
  function prepare() {
    if (!ready) ready = startWorkers();
  }

  // A worker and its helper, joined by a channel, waiting for an archive;
  // null where no worker starts. `failed` is set where the worker could
  // not run after all, `started` once it runs.
  function startWorkers() {
    let url;
    try {
      url = URL.createObjectURL(
        new Blob([`(${handOverOnce})();\n${window.TrelvikWorkerSources.join('\n')}\n(${workerMain})();`], {
          type: 'text/javascript',
        }),
      );
      const worker = new Worker(url);
      const pair = { worker, helper: null, started: false, failed: false };
      pair.helper = startHelper(url, worker);
      pair.end = () => {
        worker.terminate();
        if (pair.helper) pair.helper.terminate();
        URL.revokeObjectURL(url);
      };
      worker.onmessage = ({ data }) => {
        if (data.started) pair.started = true;
      };
      worker.onerror = (e) => {
        e.preventDefault();
        pair.failed = true;
      };
      return pair;
    } catch {
      if (url) URL.revokeObjectURL(url);
      return null;
    }
  }

  // Hands a worker the archive: the file itself, or a copy of its bytes.
  function send(worker, source) {
    if (source.file) worker.postMessage({ file: source.file });
    else {
      const copy = source.bytes.slice();
      worker.postMessage({ bytes: copy }, [copy.buffer]);
    }
  }

  // The helper worker that reads the largest CSV files and scans top's
  // snapshots beside the worker, joined to it by a channel; null where
  // none starts (the worker then does both itself, as it does when the
  // helper stops).
  function startHelper(url, worker) {
    try {
      const helper = new Worker(url);
      const channel = new MessageChannel();
      helper.onerror = (e) => {
        e.preventDefault();
        helper.terminate();
        worker.postMessage({ helperLost: true });
      };
      helper.postMessage({ helps: channel.port2 }, [channel.port2]);
      worker.postMessage({ port: channel.port1 }, [channel.port1]);
      return helper;
    } catch {
      return null;
    }
  }

  // Run first in each worker, before any of its code is compiled. V8
  // compiles loops over typed arrays on the promise that no buffer seen in
  // part (a table's columns are views of the first rows of theirs) has
  // been handed to another thread, and throws all of that code away the
  // first time one is: in the helper, after its first table, in the middle
  // of a week. Broken once here, the promise is never relied on.
  function handOverOnce() {
    if (typeof structuredClone !== 'function') return;
    const part = new Uint8Array(1024).subarray(0, 100);
    structuredClone(part, { transfer: [part.buffer] });
  }

  // The worker's own code. The session crosses to the page without what
  // only the rules needed (the raw counters, PIDs and resets behind the
  // findings, made already) and without its snapshots' readers, which cannot
  // cross (attachReaders gives them back); its time and number columns
  // cross as typed arrays, handed over rather than copied, that stay out
  // of the page's heap.
  // Series of files written in the same rounds have the same times: those
  // cross once, shared.
  function workerMain() {
    const typed = new Map();
    const byEnds = new Map(); // "length first last" -> the typed times so far
    const same = (a, b) => {
      for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
      return true;
    };
    // A series' values come as a Float64Array (NaN where there is none).
    // Values that are all whole and within 32 bits (sizes in kB, counts:
    // most of a session) cross as an Int32Array instead: half the memory,
    // and they read the same.
    // The test is a loop of its own: inside narrowed(), the conversion
    // not yet run threw its compiled code away.
    const whole = (a) => {
      for (let i = 0; i < a.length; i++) {
        const x = a[i];
        if (x !== (x | 0) || Object.is(x, -0)) return false;
      }
      return true;
    };
    const narrowed = (a) => {
      if (!(a instanceof Float64Array) || a.length < 64) return a;
      if (typed.has(a)) return typed.get(a);
      const out = whole(a) ? Int32Array.from(a) : a;
      typed.set(a, out);
      return out;
    };
    const asSharedTimes = (a) => {
      if (a.length < 64) return a;
      if (typed.has(a)) return typed.get(a);
      const key = `${a.length} ${a[0]} ${a[a.length - 1]}`;
      const known = byEnds.get(key) || [];
      let t = known.find((k) => same(a, k));
      if (!t) {
        t = a instanceof Float64Array ? a : Float64Array.from(a);
        byEnds.set(key, known.concat([t]));
      }
      typed.set(a, t);
      return t;
    };
    // The largest CSV files are read, and top's snapshots scanned, by a
    // helper, a second worker of the same code, meanwhile: a second core
    // does them while this one reads the rest. The page hands both ends of
    // a channel out; this end asks (a path to read, or to scan up to a
    // time), the helper (which has the archive too) answers each request
    // by its id: the packed table, or the scan.
    let helperPort = null;
    let helperGone = false;
    const asked = new Map(); // id -> { resolve, reject }
    let nextId = 0;
    const askHelper = (request) =>
      new Promise((resolve, reject) => {
        if (helperGone) return reject(new Error('the helper stopped'));
        const id = nextId++;
        asked.set(id, { resolve, reject });
        helperPort.postMessage({ ...request, id });
      });
    const helperLost = () => {
      helperGone = true;
      for (const { reject } of asked.values()) reject(new Error('the helper stopped'));
      asked.clear();
    };
    const answered = ({ data }) => {
      const request = asked.get(data.id);
      asked.delete(data.id);
      if (data.error != null) request.reject(new Error(data.error));
      else request.resolve(data);
    };
    const readByHelper = (m) => askHelper({ path: m.path }).then((d) => self.TrelvikCsv.unpackTable(d.table));
    const scanByHelper = (m, until) => askHelper({ path: m.path, scanUntil: until }).then((d) => d.scan);
    // An archive chosen as a file is read a member at a time out of it.
    const readArchive = async (data) =>
      data.file ? self.TrelvikArchive.readZipFile(data.file) : self.TrelvikArchive.readZip(data.bytes);
    // The helper gets its end of the channel first and the archive when
    // one is chosen; requests wait for it.
    let gotArchive;
    let helping = false;
    const helperArchive = new Promise((resolve) => (gotArchive = resolve));
    const help = (port) => {
      helping = true;
      const zip = helperArchive.then(readArchive);
      zip.catch(() => {});
      // Requests are served one at a time, a table before a scan: the
      // worker waits for a table before its rules, for top's snapshots
      // after them.
      const waiting = [];
      let serving = false;
      port.onmessage = async ({ data }) => {
        waiting.push(data);
        if (serving) return;
        serving = true;
        while (waiting.length) {
          const table = waiting.findIndex((d) => !('scanUntil' in d));
          await serve(waiting.splice(Math.max(table, 0), 1)[0]);
        }
        serving = false;
      };
      const serve = async (data) => {
        try {
          const m = (await zip).members.find((x) => x.path === data.path);
          if ('scanUntil' in data) {
            port.postMessage({ id: data.id, scan: await self.TrelvikSession.scanTop(m, data.scanUntil) });
            return;
          }
          const { message, transfer } = self.TrelvikCsv.packTable(await self.TrelvikSession.streamTable(m));
          port.postMessage({ id: data.id, table: message }, transfer);
        } catch (e) {
          port.postMessage({ id: data.id, error: String((e && e.message) || e) });
        }
      };
    };
    // The series as they cross, made while the load findings wait for the
    // helper's scan of top's snapshots.
    const slimmed = (session) => {
      for (const s of session.series) {
        delete s.raw;
        delete s.pid;
        delete s.resets;
        s.t = asSharedTimes(s.t);
        if (s.kind !== 'state') s.v = narrowed(s.v);
      }
    };
    postMessage({ started: true });
    self.onmessage = async ({ data }) => {
      if (data.helps) return help(data.helps);
      if (helping) return gotArchive(data);
      if (data.port) {
        helperPort = data.port;
        helperPort.onmessage = answered;
        return;
      }
      if (data.helperLost) return helperLost();
      try {
        const zip = await readArchive(data);
        if (!zip.members.length) {
          postMessage({ error: zip.error, notZip: true });
          return;
        }
        const session = await self.TrelvikSession.openSession(zip.members, {
          progress: (done, total) => postMessage({ progress: [done, total] }),
          readTableElsewhere: helperPort ? readByHelper : null,
          scanTopElsewhere: helperPort ? scanByHelper : null,
          ruled: slimmed,
        });
        session.snapshots = session.snapshots.map(({ read, stream, ...s }) => s);
        session.zipError = zip.error;
        session.memberPaths = zip.members.map((m) => m.path);
        const crossing = new Set(
          session.series
            .flatMap((s) => [s.t, s.v])
            .filter((a) => ArrayBuffer.isView(a))
            .map((a) => a.buffer),
        );
        postMessage({ session }, [...crossing]);
      } catch (e) {
        postMessage({ error: String((e && e.message) || e) });
      }
    };
  }

  // The snapshots' readers over the page's own members of the archive; a
  // server report packed in a zip of its own is read out of it.
  function attachReaders(session, members) {
    const strip = (p) => (session.root ? p.slice(session.root.length + 1) : p);
    const byPath = new Map(members.map((m) => [strip(m.path), m]));
    for (const s of session.snapshots) {
      const m = byPath.get(s.path);
      if (m) {
        s.read = () => m.read();
        s.stream = m.stream && ((f) => m.stream(f));
        continue;
      }
      const packed = session.snapshots.find((p) => s.path.startsWith(`${p.path}/`) && byPath.has(p.path));
      if (!packed) continue;
      const inner = s.path.slice(packed.path.length + 1);
      s.read = async () =>
        Archive.readZip(await byPath.get(packed.path).read())
          .members.find((x) => x.path === inner)
          .read();
    }
  }

  // The members of an archive chosen as a file, read out of the file
  // again each time one is asked for (a snapshot opened), that member
  // alone: the page keeps the file, never the archive's bytes.
  function membersOfFile(file, paths) {
    const reopen = async () => (await Archive.readZipFile(file)).members;
    return paths.map((path) => ({
      path,
      read: async () => {
        const m = (await reopen()).find((x) => x.path === path);
        if (!m) throw new Error('is no longer in the archive file');
        return m.read();
      },
    }));
  }

  return { openInWorker, prepare, attachReaders, membersOfFile };
});

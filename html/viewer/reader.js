// The archive read off the page's thread: a worker, and a helper worker
// beside it for the largest CSV file, both started from the page's own
// modules; the session they hand back gets its snapshots' readers again.
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
    let worker;
    let url;
    try {
      url = URL.createObjectURL(
        new Blob([`${window.TrelvikWorkerSources.join('\n')}\n(${workerMain})();`], { type: 'text/javascript' }),
      );
      worker = new Worker(url);
    } catch {
      if (url) URL.revokeObjectURL(url);
      return Promise.resolve(null);
    }
    const helper = startHelper(url, source, worker);
    return new Promise((resolve, reject) => {
      let started = false;
      const end = () => {
        worker.terminate();
        if (helper) helper.terminate();
        URL.revokeObjectURL(url);
      };
      worker.onmessage = ({ data }) => {
        if (data.started) started = true;
        else if (data.progress) progress(...data.progress);
        else {
          end();
          if (data.error != null) reject(Object.assign(new Error(data.error), { notZip: !!data.notZip }));
          else resolve(data.session);
        }
      };
      worker.onerror = (e) => {
        e.preventDefault();
        end();
        if (started) reject(new Error(e.message || 'the reading stopped'));
        else resolve(null);
      };
      if (source.file) worker.postMessage({ file: source.file });
      else {
        const copy = source.bytes.slice();
        worker.postMessage({ bytes: copy }, [copy.buffer]);
      }
    });
  }

  // The helper worker that reads the largest CSV file beside the worker,
  // joined to it by a channel; null where none starts (the worker then
  // reads that file itself, as it does when the helper stops).
  function startHelper(url, source, worker) {
    try {
      const helper = new Worker(url);
      const channel = new MessageChannel();
      helper.onerror = (e) => {
        e.preventDefault();
        helper.terminate();
        worker.postMessage({ helperLost: true });
      };
      if (source.file) helper.postMessage({ helps: channel.port2, file: source.file }, [channel.port2]);
      else {
        const copy = source.bytes.slice();
        helper.postMessage({ helps: channel.port2, bytes: copy }, [channel.port2, copy.buffer]);
      }
      worker.postMessage({ port: channel.port1 }, [channel.port1]);
      return helper;
    } catch {
      return null;
    }
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
    // Copied while every value is a number, else left as it is. Values
    // that are all whole and within 32 bits (sizes in kB, counts: most of
    // a session) take half the memory as Int32Array and read the same.
    const asTyped = (a, narrow) => {
      if (!Array.isArray(a) || a.length < 64) return a;
      if (typed.has(a)) return typed.get(a);
      let whole = narrow;
      for (let i = 0; i < a.length; i++) {
        const x = a[i];
        if (typeof x !== 'number') return a;
        if (whole && (x !== (x | 0) || Object.is(x, -0))) whole = false;
      }
      const out = whole ? new Int32Array(a.length) : new Float64Array(a.length);
      for (let i = 0; i < a.length; i++) out[i] = a[i];
      typed.set(a, out);
      return out;
    };
    const asSharedTimes = (a) => {
      if (!Array.isArray(a) || a.length < 64) return a;
      const key = `${a.length} ${a[0]} ${a[a.length - 1]}`;
      const known = byEnds.get(key) || [];
      const found = known.find((k) => same(a, k));
      if (found) return found;
      const t = asTyped(a);
      if (ArrayBuffer.isView(t)) byEnds.set(key, known.concat([t]));
      return t;
    };
    // The largest CSV file is read by a helper, a second worker of the same
    // code, meanwhile: a second core reads it while this one reads the rest.
    // The page hands both ends of a channel out; this end asks for a path,
    // the helper (which has the archive too) answers with the packed table.
    let helperPort = null;
    let helperLost = () => {};
    const readByHelper = (m) =>
      new Promise((resolve, reject) => {
        helperLost = () => reject(new Error('the helper stopped'));
        helperPort.onmessage = ({ data }) => {
          if (data.table) resolve(self.TrelvikCsv.unpackTable(data.table));
          else reject(new Error(data.error));
        };
        helperPort.postMessage({ path: m.path });
      });
    const archiveBytes = async (data) => data.bytes || new Uint8Array(await data.file.arrayBuffer());
    const help = (port, source) => {
      const bytes = archiveBytes(source);
      bytes.catch(() => {});
      port.onmessage = async ({ data }) => {
        try {
          const m = self.TrelvikArchive.readZip(await bytes).members.find((x) => x.path === data.path);
          const { message, transfer } = self.TrelvikCsv.packTable(await self.TrelvikSession.streamTable(m));
          port.postMessage({ table: message }, transfer);
        } catch (e) {
          port.postMessage({ error: String((e && e.message) || e) });
        }
      };
    };
    postMessage({ started: true });
    self.onmessage = async ({ data }) => {
      if (data.helps) return help(data.helps, data);
      if (data.port) {
        helperPort = data.port;
        return;
      }
      if (data.helperLost) return helperLost();
      try {
        const zip = self.TrelvikArchive.readZip(await archiveBytes(data));
        if (!zip.members.length) {
          postMessage({ error: zip.error, notZip: true });
          return;
        }
        const session = await self.TrelvikSession.openSession(zip.members, {
          progress: (done, total) => postMessage({ progress: [done, total] }),
          readTableElsewhere: helperPort ? readByHelper : null,
        });
        session.snapshots = session.snapshots.map(({ read, stream, ...s }) => s);
        session.zipError = zip.error;
        session.memberPaths = zip.members.map((m) => m.path);
        for (const s of session.series) {
          delete s.raw;
          delete s.pid;
          delete s.resets;
          s.t = asSharedTimes(s.t);
          if (s.kind !== 'state') s.v = asTyped(s.v, true);
        }
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
  // again each time one is asked for (a snapshot opened): the page keeps
  // the file, never the archive's bytes.
  function membersOfFile(file, paths) {
    const reopen = async () => Archive.readZip(new Uint8Array(await file.arrayBuffer())).members;
    return paths.map((path) => ({
      path,
      read: async () => {
        const m = (await reopen()).find((x) => x.path === path);
        if (!m) throw new Error('is no longer in the archive file');
        return m.read();
      },
    }));
  }

  return { openInWorker, attachReaders, membersOfFile };
});

// Helpers of the viewer's tests: generated sessions, a session folder as the
// viewer's members, crafted archives.
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, statSync, rmSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, relative, dirname } from 'node:path';
import { fileURLToPath } from 'node:url';

const require = createRequire(import.meta.url);
export const repo = join(dirname(fileURLToPath(import.meta.url)), '..', '..');
export const viewer = (name) => require(join(repo, 'html', 'viewer', `${name}.js`));
export const fflate = require(join(repo, 'node_modules', 'fflate'));

export function tempDir(t, prefix = 'trelvik-viewer-') {
  const dir = mkdtempSync(join(tmpdir(), prefix));
  t.after(() => rmSync(dir, { recursive: true, force: true }));
  return dir;
}

// Runs the session generator into `dir`; returns its manifest.
export function generate(dir, args) {
  const out = execFileSync('/usr/bin/python3', [join(repo, 'tests/support/gen_session.py'), dir, ...args], { encoding: 'utf8' });
  return JSON.parse(out);
}

// The files under a session folder, named as the archive names them.
export function folderMembers(folder) {
  const base = dirname(folder);
  const out = [];
  const walk = (dir) => {
    for (const name of readdirSync(dir)) {
      const full = join(dir, name);
      if (statSync(full).isDirectory()) walk(full);
      else out.push({ path: relative(base, full), size: statSync(full).size, read: () => new Uint8Array(readFileSync(full)) });
    }
  };
  walk(folder);
  return out;
}

const u32 = (b, o) => (b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (b[o + 3] << 24)) >>> 0;

// Sets the uncompressed size that the central directory claims for `name`.
export function claimSize(zip, name, size) {
  const bytes = Uint8Array.from(zip);
  const wanted = new TextEncoder().encode(name);
  for (let o = 0; o + 46 < bytes.length; o++) {
    if (u32(bytes, o) !== 0x02014b50) continue;
    const len = bytes[o + 28] | (bytes[o + 29] << 8);
    if (len === wanted.length && wanted.every((c, i) => bytes[o + 46 + i] === c)) {
      new DataView(bytes.buffer).setUint32(o + 24, size, true);
      return bytes;
    }
  }
  throw new Error(`${name} is not in the archive`);
}

const text = (s) => new TextEncoder().encode(s);
const rows = (header, make, n = 30) => text(header + Array.from({ length: n }, (_, i) => make(i)).join(''));
const at = (i) => `2026-12-06,${String(10 + Math.floor(i / 30)).padStart(2, '0')}:${String((i * 2) % 60).padStart(2, '0')}:00`;

// A session archive in which some files are damaged in every way the viewer
// must survive; returns { zip, bad: [paths that must show an error], good }.
export function damagedArchive() {
  const root = '20261206_10_00_00/';
  const sm = `${root}system_monitoring/`;
  const good = {
    [`${sm}monitoring_meminfo/MemAvailable.csv`]: rows('Date,Time,Memory MemAvailable (kB)\r\n', (i) => `${at(i)},${600000 + i}\r\n`),
    [`${sm}monitoring_load/load.csv`]: rows('Date,Time,Load average (1 min),Load average (5 min),Load average (15 min)\r\n', (i) => `${at(i)},0.5,0.4,0.3\r\n`),
  };
  const bad = {
    [`${sm}monitoring_meminfo/Ragged.csv`]: rows('Date,Time,Memory Ragged (kB)\r\n', (i) => (i === 5 ? `${at(i)},1,2,3\r\n` : `${at(i)},${i}\r\n`)),
    [`${sm}monitoring_meminfo/Texty.csv`]: rows('Date,Time,Memory Texty (kB)\r\n', (i) => `${at(i)},${i === 7 ? 'lots' : i}\r\n`),
    [`${sm}monitoring_meminfo/HeaderOnly.csv`]: text('Date,Time,Memory HeaderOnly (kB)\r\n'),
    [`${sm}monitoring_kernel/pagefaults.csv`]: Uint8Array.from({ length: 3000 }, (_, i) => (i * 7919) % 256),
    [`${sm}monitoring_vmstatus/vmstat.csv`]: rows('Date,Time,pgfault\n', (i) => `${at(i)},${i * 100}\n`, 2000),
  };
  const info = { [`${root}Session_Information.txt`]: text('Model Name: Q6135-LE\r\nSerial Number: ACCC8E000001\r\n') };
  const zip = fflate.zipSync({ ...info, ...good, ...bad }, { level: 6 });
  // The big one claims a gigabyte, as a damaged or hostile archive may.
  const huge = `${sm}monitoring_vmstatus/vmstat.csv`;
  return { zip: claimSize(zip, huge, 1 << 30), bad: Object.keys(bad).map((p) => p.slice(root.length)), good: Object.keys(good).map((p) => p.slice(root.length)) };
}

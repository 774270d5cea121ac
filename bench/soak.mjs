// A long run of the real daemon on the emulated camera, as an operator would
// leave it: trelvik_daemon and lighttpd started by emulator/web.py (the
// tools/web camera, at the daemon's real pace), a session on the SD card and
// the automatic PTZ test every 10 minutes, the operator page open in headless
// chromium (it polls on its own), and the status report fetched through the
// entry program every second. Every minute it prints the daemon's CPU time,
// memory and open descriptors and the status polls' figures. At the end it
// ends the session, waits for the archive and prints a summary. Not a test:
// it asserts nothing, it reports.
//   node bench/soak.mjs [--minutes 120] [--csv FILE]
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, readdirSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { createInterface } from 'node:readline';
import { BUILD_DIR, credentialsOf, entry, openBrowser } from '../tests/browser/operator_support.mjs';

const CLOCK_TICKS = 100; // USER_HZ on Linux
const PAGE_SIZE_KIB = 4;

function option(name, fallback) {
  const at = process.argv.indexOf(name);
  return at > 0 ? process.argv[at + 1] : fallback;
}

const minutes = Number(option('--minutes', '120'));
const csvPath = option('--csv', null);
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// emulator/web.py without --control: the daemon runs and its pid is printed.
async function startCamera(workdir) {
  const child = spawn('/usr/bin/python3', ['-m', 'emulator.web', join(workdir, 'camera')], {
    env: { ...process.env, TRELVIK_BUILD_DIR: BUILD_DIR, PYTHONDONTWRITEBYTECODE: '1' },
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const camera = { child };
  const lines = createInterface({ input: child.stdout });
  for await (const line of lines) {
    let match;
    if ((match = line.match(/^Trelvik on the emulated camera: (\S+)/))) camera.url = match[1];
    else if ((match = line.match(/^ {2}user (\S+), password (\S+)/))) [camera.user, camera.password] = match.slice(1);
    else if ((match = line.match(/^ {2}device root (.+)/))) camera.root = match[1];
    else if ((match = line.match(/^ {2}trelvik_daemon pid (\d+)/))) camera.daemonPid = Number(match[1]);
    else if (line.startsWith('Ctrl-C')) break;
  }
  if (!camera.daemonPid) throw new Error('the emulated camera did not start');
  return camera;
}

function processFigures(pid) {
  const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
  const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
  const cpuSeconds = (Number(fields[11]) + Number(fields[12])) / CLOCK_TICKS;
  const childSeconds = (Number(fields[13]) + Number(fields[14])) / CLOCK_TICKS;
  const status = readFileSync(`/proc/${pid}/status`, 'utf8');
  const kib = (key) => Number(status.match(new RegExp(`^${key}:\\s+(\\d+)`, 'm'))?.[1] ?? NaN);
  const statm = readFileSync(`/proc/${pid}/statm`, 'utf8').split(' ').map(Number);
  return {
    cpuSeconds,
    childSeconds,
    rssKib: kib('VmRSS'),
    anonKib: kib('RssAnon'),
    virtualKib: statm[0] * PAGE_SIZE_KIB,
    descriptors: readdirSync(`/proc/${pid}/fd`).length,
    threads: kib('Threads'),
  };
}

function percentile(sorted, p) {
  return sorted.length ? sorted[Math.min(sorted.length - 1, Math.floor(sorted.length * p))] : NaN;
}

async function main() {
  const workdir = mkdtempSync(join(tmpdir(), 'trelvik-soak-'));
  const camera = await startCamera(workdir);
  const browser = await openBrowser(camera, credentialsOf(camera));
  const rows = [];
  const polls = { count: 0, failed: 0, latencies: [], failures: [] };
  try {
    await browser.page.goto(camera.url);
    const begin = await entry(camera, 'action=begin&storage=SD_DISK', { method: 'POST' });
    console.log(`begin: ${begin.status} ${begin.text.trim().split('\n').pop()}`);
    const ptz = await entry(camera, 'action=ptz_interval&minutes=10', { method: 'POST' });
    console.log(`ptz interval: ${ptz.status} ${ptz.text.trim().split('\n').pop()}`);

    const started = Date.now();
    const first = processFigures(camera.daemonPid);
    let nextSample = started;
    console.log('minute,cpu_s,children_cpu_s,rss_kib,anon_kib,descriptors,threads,polls,failed,p50_ms,max_ms,banner');
    while (Date.now() - started < minutes * 60000) {
      const asked = performance.now();
      try {
        const reply = await entry(camera, 'action=status');
        // A running session must be reported as such on every poll.
        if (reply.status !== 200 || JSON.parse(reply.text).active !== true) {
          throw new Error(`${reply.status} ${reply.text.slice(0, 80)}`);
        }
        polls.latencies.push(performance.now() - asked);
      } catch (error) {
        polls.failed += 1;
        if (polls.failures.length < 10) polls.failures.push(`${new Date().toISOString()} ${error.message}`);
      }
      polls.count += 1;
      if (Date.now() >= nextSample) {
        const figures = processFigures(camera.daemonPid);
        const banner = await browser.page.evaluate(() => document.getElementById('banner').dataset.state);
        const recent = polls.latencies.slice(-60).sort((a, b) => a - b);
        const row = {
          minute: Math.round((Date.now() - started) / 60000),
          ...figures,
          polls: polls.count,
          failed: polls.failed,
          p50: percentile(recent, 0.5).toFixed(1),
          max: (recent.at(-1) ?? NaN).toFixed(1),
          banner,
        };
        rows.push(row);
        console.log([row.minute, row.cpuSeconds.toFixed(2), row.childSeconds.toFixed(2), row.rssKib, row.anonKib,
          row.descriptors, row.threads, row.polls, row.failed, row.p50, row.max, row.banner].join(','));
        nextSample += 60000;
      }
      await sleep(Math.max(0, 1000 - (performance.now() - asked)));
    }

    const last = processFigures(camera.daemonPid);
    const elapsed = (Date.now() - started) / 1000;
    const settled = rows.find((row) => row.minute >= 5) ?? rows[0];
    const all = polls.latencies.sort((a, b) => a - b);
    console.log('\nsummary');
    console.log(`  run: ${(elapsed / 60).toFixed(1)} min, daemon pid ${camera.daemonPid} alive throughout`);
    console.log(`  daemon CPU: ${(last.cpuSeconds - first.cpuSeconds).toFixed(2)} s own `
      + `(${(100 * (last.cpuSeconds - first.cpuSeconds) / elapsed).toFixed(3)} % of one core), `
      + `${(last.childSeconds - first.childSeconds).toFixed(1)} s in waited-for children`);
    console.log(`  daemon RSS: ${first.rssKib} KiB at start, ${settled.rssKib} KiB at minute ${settled.minute}, `
      + `${last.rssKib} KiB at the end (anonymous ${settled.anonKib} -> ${last.anonKib} KiB)`);
    console.log(`  descriptors: ${first.descriptors} at start, ${settled.descriptors} at minute ${settled.minute}, `
      + `${last.descriptors} at the end; most ${Math.max(...rows.map((r) => r.descriptors))}`);
    console.log(`  status polls: ${polls.count}, failed ${polls.failed}; latency p50 ${percentile(all, 0.5).toFixed(1)} ms, `
      + `p99 ${percentile(all, 0.99).toFixed(1)} ms, max ${(all.at(-1) ?? NaN).toFixed(1)} ms`);
    for (const failure of polls.failures) console.log(`    ${failure}`);
    console.log(`  operator page banner at the end: ${rows.at(-1)?.banner}`);

    const end = await entry(camera, 'action=end', { method: 'POST' });
    console.log(`  end: ${end.status} ${end.text.trim().split('\n').pop()}`);
    const folder = join(camera.root, 'var/spool/storage/SD_DISK', 'Trelvik_ACCC8E000001');
    const deadline = Date.now() + 120000;
    let archives = [];
    while (Date.now() < deadline) {
      archives = existsSync(folder) ? readdirSync(folder).filter((name) => name.endsWith('.zip')) : [];
      if (archives.length) break;
      await sleep(1000);
    }
    console.log(`  archive: ${archives.join(', ') || 'none within 2 minutes'}`);
    if (csvPath) {
      const header = Object.keys(rows[0] ?? {}).join(',');
      writeFileSync(csvPath, [header, ...rows.map((row) => Object.values(row).join(','))].join('\n') + '\n');
    }
  } finally {
    await browser.close();
    camera.child.kill('SIGTERM');
    await new Promise((resolve) => camera.child.once('exit', resolve));
    rmSync(workdir, { recursive: true, force: true });
  }
}

await main();

// The viewer's session names (html/viewer/layout.js) against the daemon's
// (lib/names/session_layout): every name the viewer looks for is one the
// daemon writes, and every name of a finished session the daemon writes is
// one the viewer knows. Only the writer's own temporary files and archives
// are left out, as no finished session folder holds them.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const layout = require('../../html/viewer/layout.js');
const owner = readFileSync(new URL('../../lib/names/session_layout.hpp', import.meta.url), 'utf8');

// name -> value of every `inline constexpr const char* kName = "value";`.
const daemonNames = new Map(
  [...owner.matchAll(/^inline constexpr const char\* (k\w+) = "([^"]*)";/gm)].map((m) => [m[1], m[2]]),
);
const writerOnly = (value) => /_tmp(\.|$)|\.zip$/.test(value);

test('the viewer and the daemon spell the same session names', () => {
  assert.ok(daemonNames.size >= 20, 'the owner was not read');
  const viewer = [...Object.values(layout.FILES), ...Object.values(layout.FOLDERS)].sort();
  const daemon = [...daemonNames.values()].filter((value) => !writerOnly(value)).sort();
  assert.deepEqual(viewer, daemon);
});

test('the same meaning under both names', () => {
  const pairs = [
    [layout.FILES.information, 'kInfoFile'],
    [layout.FILES.signature, 'kSignature'],
    [layout.FILES.timeZone, 'kTimeZoneFile'],
    [layout.FILES.serverReport, 'kServerReportPrefix'],
    [layout.FOLDERS.sampling, 'kSampling'],
    [layout.FOLDERS.serverReports, 'kServerReports'],
  ];
  for (const [value, name] of pairs) assert.equal(value, daemonNames.get(name), name);
  for (const [key, value] of Object.entries(layout.FOLDERS)) {
    if (!value.startsWith('monitoring_')) continue;
    const cpp = `k${key[0].toUpperCase()}${key.slice(1)}`;
    assert.equal(value, daemonNames.get(cpp), `${key} (${cpp})`);
  }
});

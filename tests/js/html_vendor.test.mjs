// The built html/ folder carries the pinned libraries it loads, so the page
// and the viewer never fetch anything from outside the camera.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { join } from 'node:path';

test('html/vendor holds uPlot and fflate', () => {
  const html = join(process.env.TRELVIK_BUILD_DIR ?? 'build', 'html', 'vendor');
  for (const name of ['uPlot.iife.min.js', 'uPlot.min.css', 'fflate.js']) {
    assert.ok(existsSync(join(html, name)), `${name} is missing from ${html}`);
  }
});

// ESLint over the pages and their tests: the recommended rules, with the
// globals each kind of file really has. The pages are plain scripts that
// also load under node's require() for the unit tests; the tests are node
// modules that also hand functions to the browser. This file stays CommonJS:
// a "type": "module" in package.json would turn the pages' scripts into
// modules for node's require().
const js = require('@eslint/js');
const globals = require('globals');

module.exports = [
  { ignores: ['**/vendor/', 'node_modules/', 'build*/', '.cache/'] },
  js.configs.recommended,
  // A rest pattern is how a copy leaves out the fields it must not carry.
  { rules: { 'no-unused-vars': ['error', { ignoreRestSiblings: true }] } },
  {
    files: ['html/**/*.js'],
    languageOptions: {
      sourceType: 'script',
      globals: { ...globals.browser, ...globals.worker, ...globals.commonjs },
    },
  },
  {
    files: ['html/**/*.mjs'],
    languageOptions: { sourceType: 'module', globals: globals.browser },
  },
  {
    files: ['eslint.config.js'],
    languageOptions: { sourceType: 'commonjs', globals: globals.node },
  },
  {
    files: ['tests/**/*.mjs'],
    languageOptions: { sourceType: 'module', globals: { ...globals.node, ...globals.browser } },
  },
];

// Every golden program and every example, run through window.skern.run in
// the real page: standard output and standard error must match the expected
// files byte for byte, and the status the expected exit status.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { existsSync, readdirSync, readFileSync, statSync } from 'node:fs';
import path from 'node:path';
import { openBrowser, openPlayground, sourceDir } from './browser.mjs';

function programsUnder(folder) {
  const found = [];
  for (const entry of readdirSync(folder).sort()) {
    const full = path.join(folder, entry);
    if (statSync(full).isDirectory()) found.push(...programsUnder(full));
    else if (entry.endsWith('.skr')) found.push(full);
  }
  return found;
}

// Each case: the program, and the base path of its expected files.
function discover() {
  const cases = [];
  for (const [programs, expectations] of [
    ['tests/programs', 'tests/programs'],
    ['examples', 'tests/examples'],
  ]) {
    const root = path.join(sourceDir, programs);
    for (const program of programsUnder(root)) {
      const relative = path.relative(root, program).slice(0, -'.skr'.length);
      cases.push({ name: path.join(programs, relative), program, base: path.join(sourceDir, expectations, relative) });
    }
  }
  return cases;
}

function expected(base, extension, otherwise) {
  const file = `${base}.${extension}`;
  return existsSync(file) ? readFileSync(file) : otherwise;
}

// Byte for byte; a difference is shown as text where it reads as text.
function assertSameBytes(actual, wanted, what) {
  if (actual.equals(wanted)) return;
  assert.equal(actual.toString('utf8'), wanted.toString('utf8'), what);
  assert.fail(`${what}: ${actual.toString('hex')} instead of ${wanted.toString('hex')}`);
}

// Known differences from the command, each with its reason. The browser
// gives WebAssembly far less machine stack than the command has: the parser
// recurses a few calls deep per level of parentheses, and the browser's
// stack ends after some hundreds of levels, before the 2000 the command
// reports on. Marked, not hidden: the run still happens and is reported.
const KNOWN = new Map([
  ['tests/programs/coverage/nesting_limit_inside_argument', 'the browser stack ends before 2000 levels of nesting'],
]);

const cases = discover();
let browser;
let playground;

before(async () => {
  browser = await openBrowser();
  playground = await openPlayground(browser);
});

after(async () => {
  await browser?.close();
});

test('the golden programs and examples are all found', () => {
  assert.ok(cases.length > 250, `only ${cases.length} programs found`);
  assert.ok(cases.some((c) => c.name.startsWith('examples')));
});

for (const item of cases) {
  test(item.name, { timeout: 120_000, todo: KNOWN.get(item.name) }, async () => {
    const source = [...readFileSync(item.program)];
    const stdin = [...expected(item.base, 'stdin', Buffer.alloc(0))];
    const result = await playground.page.evaluate(
      ([program, input]) => window.skern.run(new Uint8Array(program), new Uint8Array(input)),
      [source, stdin],
    );
    const status = Number(expected(item.base, 'status', Buffer.from('0')).toString().trim());
    assertSameBytes(Buffer.from(result.stdout, 'utf8'), expected(item.base, 'stdout', Buffer.alloc(0)), 'standard output');
    assertSameBytes(Buffer.from(result.stderr, 'utf8'), expected(item.base, 'stderr', Buffer.alloc(0)), 'standard error');
    assert.equal(result.status, status, 'exit status');
  });
}

test('the page met no error and fetched nothing from another host', () => {
  assert.deepEqual(playground.errors, []);
  assert.deepEqual(browser.foreign, []);
});

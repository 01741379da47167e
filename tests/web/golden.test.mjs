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

// The one deliberate difference from the command. The browser recurses on a
// stack far smaller than the command's, which the page cannot size: some
// hundreds of nested parentheses exhaust it. So the browser's build stops
// expressions at a lower depth, with the same report and its own number.
const BROWSER_NESTING_LIMIT = 200;
const COMMAND_NESTING_LIMIT = 2000;
function inTheBrowser(stderr) {
  return Buffer.from(
    stderr
      .toString('utf8')
      .replace(`nests deeper than ${COMMAND_NESTING_LIMIT} levels`, `nests deeper than ${BROWSER_NESTING_LIMIT} levels`),
    'utf8',
  );
}

async function run(source, stdin = '') {
  return playground.page.evaluate(([program, input]) => window.skern.run(program, input), [source, stdin]);
}

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
  test(item.name, { timeout: 120_000 }, async () => {
    const source = [...readFileSync(item.program)];
    const stdin = [...expected(item.base, 'stdin', Buffer.alloc(0))];
    const result = await playground.page.evaluate(
      ([program, input]) => window.skern.run(new Uint8Array(program), new Uint8Array(input)),
      [source, stdin],
    );
    const status = Number(expected(item.base, 'status', Buffer.from('0')).toString().trim());
    assertSameBytes(Buffer.from(result.stdout, 'utf8'), expected(item.base, 'stdout', Buffer.alloc(0)), 'standard output');
    assertSameBytes(
      Buffer.from(result.stderr, 'utf8'),
      inTheBrowser(expected(item.base, 'stderr', Buffer.alloc(0))),
      'standard error',
    );
    assert.equal(result.status, status, 'exit status');
  });
}

// Every shape of nesting, just inside the browser's limit and just beyond:
// inside runs, beyond gets the report, and the stack never runs out first.
// Each level of an argument in parentheses counts twice.
test('expressions nest up to the limit and no further, whatever the shape', async () => {
  const header = 'we declare f with x ->\ncouncil says:\n    return x\n\nwe declare g with a, b, c ->\ncouncil says:\n    return c\n\non the iron throne:\n    speak ';
  const shapes = {
    parentheses: (n) => '('.repeat(n) + '1' + ')'.repeat(n),
    negations: (n) => '-(-('.repeat(n / 2) + '1' + '))'.repeat(n / 2),
    'arguments in parentheses': (n) => 'f with ('.repeat(n / 2) + '1' + ')'.repeat(n / 2),
    'calls in parentheses': (n) => '(f with '.repeat(n / 2) + '1' + ')'.repeat(n / 2),
    'last of three arguments': (n) => '(g with 1, 2, '.repeat(n / 2) + '1' + ')'.repeat(n / 2),
    'operators around parentheses': (n) => '(1 + 2 * '.repeat(n) + '1' + ')'.repeat(n),
  };
  for (const [shape, text] of Object.entries(shapes)) {
    const inside = await run(header + text(BROWSER_NESTING_LIMIT - 2) + '\n');
    assert.equal(inside.stderr, '', `${shape} inside the limit`);
    assert.equal(inside.status, 0, `${shape} inside the limit`);
    const beyond = await run(header + text(BROWSER_NESTING_LIMIT + 2) + '\n');
    assert.match(beyond.stderr, new RegExp(`^expression parse error: expression nests deeper than ${BROWSER_NESTING_LIMIT} levels\\n$`), shape);
    assert.equal(beyond.status, 1, `${shape} beyond the limit`);
  }
});

// Blocks too: the browser's limit is lower than the command's, and a
// program nested past it gets the command's kind of report, never an
// internal error, wherever the nesting stands and whatever it holds.
const BROWSER_BLOCK_LIMIT = 300;

test('blocks nest up to the limit and no further, in the main block or a council never called', async () => {
  const deepest = `speak ${'('.repeat(BROWSER_NESTING_LIMIT - 2)}1${')'.repeat(BROWSER_NESTING_LIMIT - 2)}`;
  const nested = (levels, opener, body) =>
    Array.from({ length: levels }, (_, level) => `${'    '.repeat(level + 1)}${opener}`).join('\n') + `\n${'    '.repeat(levels + 1)}${body}\n`;
  const shapes = {
    'if blocks': (n) => `on the iron throne:\n${nested(n, 'if aye:', deepest)}`,
    loops: (n) => `on the iron throne:\n${nested(n, 'the realm marches 1 times:', deepest)}`,
    'while loops': (n) => `on the iron throne:\n    k is a blade with 0\n${nested(n, 'while k < 1:', 'k = k + 1\n' + '    '.repeat(n + 1) + deepest)}`,
    'a council never called': (n) =>
      `we declare deep with x ->\ncouncil says:\n${nested(n, 'if x:', deepest)}\non the iron throne:\n    speak 1\n`,
  };
  // Lines before the first opener, and one for the header of the block.
  const firstLine = { 'if blocks': 2, loops: 2, 'while loops': 3, 'a council never called': 3 };
  // The main block or the council's body is one level: n openers make n + 1.
  const inside = BROWSER_BLOCK_LIMIT - 1;
  for (const [shape, program] of Object.entries(shapes)) {
    const ran = await run(program(inside));
    assert.equal(ran.stderr, '', `${shape}: ${inside} levels inside the limit`);
    assert.equal(ran.stdout, '1\n', shape);
    for (const levels of [inside + 1, 1152, 2000]) {
      const beyond = await run(program(levels));
      assert.match(
        beyond.stderr,
        new RegExp(`^parse error on line \\d+: blocks nest deeper than ${BROWSER_BLOCK_LIMIT} levels\\n$`),
        `${shape}, ${levels} levels`,
      );
      assert.equal(beyond.status, 1, `${shape}, ${levels} levels`);
      // The report, and the mark, name the first line of the block too many.
      assert.deepEqual(beyond.errorAt, { line: BROWSER_BLOCK_LIMIT + firstLine[shape], column: 0 }, `${shape}, ${levels} levels`);
    }
  }
});

test('the page met no error and fetched nothing from another host', () => {
  assert.deepEqual(playground.errors, []);
  assert.deepEqual(browser.foreign, []);
});

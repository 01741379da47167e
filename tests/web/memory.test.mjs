// The page's memory through runs that end out of memory: each such run
// leaves a module that can do no more, which must be given back at once,
// not left for the garbage collector while the next run grows another.
// Chromium's processes are read in /proc.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { openBrowser, openPlayground } from './browser.mjs';

const MB = 1024 * 1024;
const RUNS = 20;
// The module may grow to 256 MB; the page around it takes some 150 MB. Two
// dead modules at once would pass this.
const PEAK_AT_MOST = 640 * MB;

// Doubles a scroll until memory runs out.
const GREEDY = ['on the iron throne:', '    s is a scroll with "winter is coming"', '    while aye:', '        s = s + s', ''].join('\n');

let browser;
let playground;

before(async () => {
  browser = await openBrowser();
  playground = await openPlayground(browser);
});

after(async () => {
  await browser?.close();
});

test(`${RUNS} runs out of memory in a row: the page's peak stays under ${PEAK_AT_MOST / MB} MB`, { timeout: 300_000 }, async (t) => {
  const before = browser.processes();
  if (before === null) {
    t.skip('no /proc to read the processes’ memory in');
    return;
  }
  const renderers = () => browser.processes().filter((process) => process.type === 'renderer');
  assert.ok(renderers().length > 0, 'the page’s renderer process is found');
  let highest = 0;
  const sample = setInterval(() => {
    const total = renderers().reduce((sum, process) => sum + process.resident, 0);
    highest = Math.max(highest, total);
  }, 25);
  try {
    for (let run = 0; run < RUNS; run++) {
      const result = await playground.page.evaluate((program) => window.skern.run(program, ''), GREEDY);
      assert.deepEqual(
        { stdout: result.stdout, stderr: result.stderr, status: result.status },
        { stdout: '', stderr: 'runtime error: out of memory\n', status: 1 },
        `run ${run + 1}`,
      );
    }
  } finally {
    clearInterval(sample);
  }
  const after = renderers();
  const peak = Math.max(...after.map((process) => process.peak));
  const resident = after.reduce((sum, process) => sum + process.resident, 0);
  console.log(
    `after ${RUNS} runs out of memory: the renderers' highest resident total sampled ${(highest / MB).toFixed(0)} MB; ` +
      `the largest renderer's peak ${(peak / MB).toFixed(0)} MB; resident now ${(resident / MB).toFixed(0)} MB`,
  );
  assert.ok(peak < PEAK_AT_MOST, `a renderer's peak: ${(peak / MB).toFixed(0)} MB`);
  assert.ok(highest < PEAK_AT_MOST + 200 * MB, `renderers together: ${(highest / MB).toFixed(0)} MB`);

  // The next run is an ordinary one.
  const next = await playground.page.evaluate(() => window.skern.run('on the iron throne:\n    speak 6 * 7\n', ''));
  assert.equal(next.stdout, '42\n');
  assert.equal(next.status, 0);
});

test('runs waiting behind one that runs out of memory run in the fresh worker', async () => {
  const results = await playground.page.evaluate((program) => {
    const greedy = window.skern.run(program, '');
    const waiting = [1, 2, 3].map((n) => window.skern.run(`on the iron throne:\n    speak ${n} * 7\n`, ''));
    return Promise.all([greedy, ...waiting]);
  }, GREEDY);
  assert.deepEqual(
    results.map((result) => [result.stdout, result.stderr, result.status]),
    [
      ['', 'runtime error: out of memory\n', 1],
      ['7\n', '', 0],
      ['14\n', '', 0],
      ['21\n', '', 0],
    ],
  );
});

test('the page met no error', () => {
  assert.deepEqual(playground.errors, []);
});

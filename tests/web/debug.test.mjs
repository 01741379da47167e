// The Debug mode as a person meets it, and window.skern.trace as a script
// does: a breakpoint set in the gutter, the steps both ways by button, key
// and slider, the call stack with each frame's variables and the names it
// takes from its callers, the output at each step, a runtime error's line
// marked in Debug and in Run, and a run that goes on past its recording,
// stopped. Screenshots of the desktop and a phone go to the artefacts folder.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import path from 'node:path';
import { artefactsDir, openBrowser, openPlayground, sourceDir } from './browser.mjs';

const DESKTOP = { width: 1280, height: 860 };
const PHONE = { width: 390, height: 844 };

// A council that reads one variable of its caller and changes another.
const HAIL = [
  'we declare greet with name ->',
  'council says:',
  '    speak "Hail, " + name + " of " + house',
  '    count = count + 1',
  '    return count',
  '',
  'on the iron throne:',
  '    house is a scroll with "Stark"',
  '    count is a blade with 0',
  '    speak greet with "Åsa 🐺"',
  '    speak 10 / (count - 1)',
  '',
].join('\n');

// Called twice from a loop; the last line fails.
const GREETINGS = [
  'we declare greet with name ->',
  'council says:',
  '    line is a scroll with "Hail, " + name',
  '    speak line + " of " + house',
  '    count = count + 1',
  '    return count',
  '',
  'on the iron throne:',
  '    house is a scroll with "Stark"',
  '    count is a blade with 0',
  '    the realm marches 2 times:',
  '        speak greet with "Arya"',
  '    speak "done"',
  '    speak 10 / (count - 2)',
  '',
].join('\n');

const MARCHING = [
  'on the iron throne:',
  '    speak "marching"',
  '    speak "onward"',
  '    n is a blade with 0',
  '    the realm marches 100000000000 times:',
  '        n = n + 1',
  '',
].join('\n');

const MAIN = 'on the iron throne';

let browser;
let page;
let errors;

before(async () => {
  browser = await openBrowser();
  ({ page, errors } = await openPlayground(browser, { viewport: DESKTOP }));
});

after(async () => {
  await browser?.close();
});

const frame = (name, line, variables = [], fromCallers = []) => ({ name, line, variables, fromCallers });
const scroll = (name, value) => ({ name, type: 'scroll', value });
const blade = (name, value) => ({ name, type: 'blade', value: String(value) });
const owned = (variable) => ({ ...variable, owner: MAIN });

test('window.skern.trace gives every step with its line, depth, output length, frames and variables', async () => {
  const result = await page.evaluate((program) => window.skern.trace(program, ''), HAIL);
  assert.equal(typeof result.time, 'number');
  delete result.time;
  const main = (line, ...variables) => frame(MAIN, line, variables);
  const inGreet = (line, count) =>
    frame('greet', line, [scroll('name', 'Åsa 🐺')], [owned(scroll('house', 'Stark')), owned(blade('count', count))]);
  const mainAt10 = (count) => main(10, scroll('house', 'Stark'), blade('count', count));
  assert.deepEqual(result, {
    status: 1,
    // "Hail, Åsa 🐺 of Stark\n" is 22 UTF-16 units: the wolf takes two.
    stdout: 'Hail, Åsa 🐺 of Stark\n1\n',
    stderr: 'runtime error: cannot divide by zero\n',
    truncated: false,
    errorLine: 11,
    steps: [
      { line: 8, stdoutLength: 0, depth: 1, frames: [main(8)] },
      { line: 9, stdoutLength: 0, depth: 1, frames: [main(9, scroll('house', 'Stark'))] },
      { line: 10, stdoutLength: 0, depth: 1, frames: [mainAt10(0)] },
      { line: 3, stdoutLength: 0, depth: 2, frames: [inGreet(3, 0), mainAt10(0)] },
      { line: 4, stdoutLength: 22, depth: 2, frames: [inGreet(4, 0), mainAt10(0)] },
      { line: 5, stdoutLength: 22, depth: 2, frames: [inGreet(5, 1), mainAt10(1)] },
      { line: 11, stdoutLength: 24, depth: 1, frames: [main(11, scroll('house', 'Stark'), blade('count', 1))] },
    ],
  });
});

test('window.skern.trace says where a program that does not parse fails, with no steps', async () => {
  const result = await page.evaluate(() => window.skern.trace('on the iron throne:\n    speak 1 +\n', ''));
  assert.deepEqual(
    { ...result, time: 0 },
    {
      status: 1,
      stdout: '',
      stderr: result.stderr,
      truncated: false,
      errorLine: 0,
      steps: [],
      errorAt: { line: 2, column: 14 },
      time: 0,
    },
  );
  assert.match(result.stderr, /^expression parse error:/);
});

test('a long run: 10,000 steps recorded, then stop() ends the trace and keeps them', async (t) => {
  const measured = await page.evaluate(async () => {
    const started = performance.now();
    const result = await window.skern.trace(
      'on the iron throne:\n    n is a blade with 0\n    the realm marches 30000 times:\n        n = n + 1\n    speak n\n',
      '',
    );
    return { total: performance.now() - started, worker: result.time, steps: result.steps.length, truncated: result.truncated, stdout: result.stdout, last: result.steps.at(-1) };
  });
  t.diagnostic(`10,000 steps recorded in ${measured.worker.toFixed(0)} ms in the worker, ${measured.total.toFixed(0)} ms until the page had them`);
  assert.equal(measured.steps, 10000);
  assert.equal(measured.truncated, true);
  assert.equal(measured.stdout, '30000\n', 'the run went on to its end');
  // Two statements, then the loop's own line, then one step a round.
  assert.deepEqual(measured.last.frames[0].variables, [blade('n', 9997)]);

  const stopped = await page.evaluate(async (program) => {
    let recorded = null;
    const tracing = window.skern.trace(program, '', { onRecorded: (partial) => (recorded = partial) });
    const started = performance.now();
    while (!recorded && performance.now() - started < 10_000) await new Promise((resolve) => setTimeout(resolve, 20));
    const stopping = performance.now();
    const said = window.skern.stop();
    const result = await tracing;
    const next = await window.skern.run('on the iron throne:\n    speak 6 * 7\n', '');
    return {
      said,
      took: performance.now() - stopping,
      recorded: recorded && recorded.steps.length,
      result: { ...result, steps: result.steps.length, lines: result.steps.slice(0, 6).map((step) => step.line) },
      next: next.stdout,
    };
  }, MARCHING);
  assert.equal(stopped.said, true);
  assert.equal(stopped.recorded, 10000, 'the recording arrives while the run goes on');
  assert.ok(stopped.took < 3000, `stopping took ${stopped.took} ms`);
  assert.deepEqual(stopped.result, {
    stdout: 'marching\nonward\n',
    stderr: '',
    truncated: true,
    errorLine: 0,
    steps: 10000,
    lines: [2, 3, 4, 5, 6, 6],
    status: null,
    stopped: true,
  });
  assert.equal(stopped.next, '42\n', 'a fresh worker runs the next program');
});

// --- The page ------------------------------------------------------------------

async function setProgram(program) {
  await page.locator('.cm-content').click();
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  await page.keyboard.insertText(program);
}

// What the page shows of the Debug mode, read as a person reads it.
async function shown() {
  return page.evaluate(async () => {
    for (let frame = 0; frame < 2; frame++) await new Promise((resolve) => requestAnimationFrame(resolve));
    const lines = [...document.querySelectorAll('.cm-content .cm-line')];
    const linesWith = (className) => lines.flatMap((line, index) => (line.classList.contains(className) ? [index + 1] : []));
    // A gutter marker's line: the line drawn at the same height.
    const lineAt = (marker) => {
      const middle = marker.getBoundingClientRect().top + marker.getBoundingClientRect().height / 2;
      return lines.findIndex((line) => line.getBoundingClientRect().top <= middle && line.getBoundingClientRect().bottom > middle) + 1;
    };
    const debugging = !document.getElementById('debug-bar').hidden;
    return {
      debugging,
      position: debugging ? document.getElementById('debug-position').textContent : null,
      current: linesWith('cm-debug-current'),
      arrow: [...document.querySelectorAll('.cm-debug-arrow')].map(lineAt),
      frameLine: linesWith('cm-debug-frame'),
      breakpoints: [...document.querySelectorAll('.cm-breakpoint-gutter .cm-breakpoint')].filter((m) => m.getClientRects().length > 0).map(lineAt),
      errorLines: linesWith('cm-error-line'),
      stack: [...document.querySelectorAll('#call-stack li')].map((item) => {
        const button = item.querySelector('button');
        if (!button) return item.textContent;
        return `${button.getAttribute('aria-pressed') === 'true' ? '> ' : ''}${button.querySelector('.frame-name').textContent} @ ${button.querySelector('.frame-line').textContent}`;
      }),
      variables: [...document.querySelectorAll('#variables table')].map((table) => ({
        caption: table.caption.textContent,
        rows: [...table.tBodies[0].rows].map((row) => [...row.cells].map((cell) => cell.textContent).join(' | ') + (row.classList.contains('changed') ? ' *' : '')),
      })),
      stdout: document.getElementById('stdout').textContent,
      stderr: document.getElementById('stderr').textContent,
      status: document.getElementById('status').textContent,
      note: document.getElementById('debug-note').hidden ? null : document.getElementById('debug-note').textContent,
      buttons: [...document.querySelectorAll('#debug-bar button')].filter((button) => !button.disabled).map((button) => button.textContent),
    };
  });
}

const button = (name) => page.getByRole('button', { name, exact: true });
const lineNumber = (line) => page.locator('.cm-lineNumbers .cm-gutterElement', { hasText: new RegExp(`^${line}$`) });
const HAIL_ARYA = 'Hail, Arya of Stark\n';

const greetVariables = (count, changed = '') => [
  { caption: 'Variables of greet', rows: ['name | scroll | Arya', 'line | scroll | Hail, Arya'] },
  {
    caption: 'From callers: used here, declared by a caller',
    rows: ['house | scroll | Stark | on the iron throne', `count | blade | ${count} | on the iron throne${changed}`],
  },
];

test('a breakpoint set in the gutter, Debug, and the steps both ways with their variables and output', async () => {
  await setProgram(GREETINGS);
  await lineNumber(4).click();
  await lineNumber(13).click();
  await lineNumber(13).click();
  let now = await shown();
  assert.deepEqual({ debugging: now.debugging, breakpoints: now.breakpoints }, { debugging: false, breakpoints: [4] }, 'a second click clears it');

  const pressed = Date.now();
  await button('Debug').click();
  await page.locator('#debug-bar').waitFor({ state: 'visible' });
  now = await shown();
  assert.ok(Date.now() - pressed < 5000);
  // Debug runs to the first breakpoint: the first call's second line.
  assert.deepEqual(
    { ...now, status: undefined },
    {
      debugging: true,
      position: 'Step 6 of 15 · line 4',
      current: [4],
      arrow: [4],
      frameLine: [],
      breakpoints: [4],
      errorLines: [],
      stack: [`> greet @ line 4`, `${MAIN} @ line 12`],
      variables: greetVariables(0),
      stdout: '',
      stderr: '',
      status: undefined,
      note: null,
      buttons: ['Step back', 'Step', 'Step over', 'Step out', 'Continue', 'Leave'],
    },
  );
  assert.equal(now.status, 'Paused at line 4');
  await page.screenshot({ path: path.join(artefactsDir, 'debug-breakpoint.png') });

  await button('Step').click();
  now = await shown();
  assert.equal(now.position, 'Step 7 of 15 · line 5');
  assert.equal(now.stdout, HAIL_ARYA, 'the speak has run');

  await button('Step out').click();
  now = await shown();
  assert.equal(now.position, 'Step 9 of 15 · line 12', 'the second round of the loop');
  assert.deepEqual(now.stack, [`> ${MAIN} @ line 12`]);
  assert.deepEqual(now.variables, [{ caption: `Variables of ${MAIN}`, rows: ['house | scroll | Stark', 'count | blade | 1 *'] }]);
  assert.equal(now.stdout, `${HAIL_ARYA}1\n`);

  // Back over the call's statements, to the line that made it: the count
  // and the output as they were then.
  await button('Step back').click();
  now = await shown();
  assert.equal(now.position, 'Step 4 of 15 · line 12');
  assert.deepEqual(now.variables[0].rows, ['house | scroll | Stark', 'count | blade | 0 *']);
  assert.equal(now.stdout, '');
  assert.deepEqual(now.current, [12]);

  await button('Step over').click();
  now = await shown();
  assert.equal(now.position, 'Step 9 of 15 · line 12');
  assert.equal(now.stdout, `${HAIL_ARYA}1\n`);

  await button('Continue').click();
  now = await shown();
  assert.equal(now.position, 'Step 11 of 15 · line 4', 'the breakpoint again, in the second call');
  assert.deepEqual(now.variables, greetVariables(1));
  assert.equal(now.stdout, `${HAIL_ARYA}1\n`);

  // A caller's frame: its variables, and the line it waits at marked.
  await page.getByRole('button', { name: `${MAIN} line 12` }).click();
  now = await shown();
  assert.deepEqual(now.stack, [`greet @ line 4`, `> ${MAIN} @ line 12`]);
  assert.deepEqual(now.frameLine, [12]);
  assert.deepEqual(now.current, [4]);
  assert.deepEqual(now.variables, [{ caption: `Variables of ${MAIN}`, rows: ['house | scroll | Stark', 'count | blade | 1'] }]);
  await page.screenshot({ path: path.join(artefactsDir, 'debug-caller-frame.png') });

  // No breakpoint after it: Continue goes to the end, the whole run's
  // output, its report and the line of its error.
  await button('Continue').click();
  now = await shown();
  assert.equal(now.position, 'End of the run');
  assert.deepEqual(now.current, []);
  assert.deepEqual(now.errorLines, [14]);
  assert.equal(now.stdout, `${HAIL_ARYA}1\n${HAIL_ARYA}2\ndone\n`);
  assert.equal(now.stderr, 'runtime error: cannot divide by zero\n');
  assert.match(now.status, /^Exit status 1 · /);
  assert.deepEqual(now.stack, ['The run ended on line 14: runtime error: cannot divide by zero']);
  assert.deepEqual(now.buttons, ['Step back', 'Leave']);
  await page.screenshot({ path: path.join(artefactsDir, 'debug-error-at-end.png') });

  await button('Step back').click();
  now = await shown();
  assert.equal(now.position, 'Step 15 of 15 · line 14', 'the statement that failed');
  assert.deepEqual(now.errorLines, []);
  assert.equal(now.stderr, '');
});

test('the slider, dragged and moved by keys, and the keys of the steps', async () => {
  const slider = page.getByRole('slider', { name: 'Step of the run' });
  await slider.focus();
  await page.keyboard.press('Home');
  let now = await shown();
  assert.equal(now.position, 'Step 1 of 15 · line 9');
  assert.deepEqual(now.variables, []);
  assert.equal(await page.locator('#variables').textContent(), `${MAIN} has no variables yet.`);
  assert.deepEqual(now.buttons, ['Step', 'Step over', 'Step out', 'Continue', 'Leave']);
  await page.keyboard.press('ArrowRight');
  assert.equal((await shown()).position, 'Step 2 of 15 · line 10');

  // Dragged by the mouse, halfway along: 16 positions, the end included.
  const box = await slider.boundingBox();
  await page.mouse.move(box.x + 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2, { steps: 8 });
  await page.mouse.up();
  now = await shown();
  const [, at] = /^Step (\d+) of 15/.exec(now.position) ?? [];
  assert.ok(Number(at) >= 7 && Number(at) <= 10, now.position);
  await page.mouse.move(box.x + 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width - 1, box.y + box.height / 2, { steps: 8 });
  await page.mouse.up();
  assert.equal((await shown()).position, 'End of the run');

  // The keys, wherever the focus is but in a text field's keys of its own.
  await page.locator('#debug-position').click();
  await page.keyboard.press('F8');
  assert.equal((await shown()).position, 'Step 15 of 15 · line 14');
  await slider.focus();
  await page.keyboard.press('Home');
  await page.keyboard.press('F10');
  await page.keyboard.press('F10');
  await page.keyboard.press('F10');
  assert.equal((await shown()).position, 'Step 4 of 15 · line 12');
  await page.keyboard.press('F11');
  assert.equal((await shown()).position, 'Step 5 of 15 · line 3');
  await page.keyboard.press('Shift+F11');
  assert.equal((await shown()).position, 'Step 9 of 15 · line 12');
  await page.keyboard.press('F5');
  assert.equal((await shown()).position, 'Step 11 of 15 · line 4');
  await page.keyboard.press('F8');
  assert.equal((await shown()).position, 'Step 10 of 15 · line 3');
  await page.keyboard.press('F8');
  assert.equal((await shown()).position, 'Step 9 of 15 · line 12');
});

test('editing the program leaves the Debug mode; F9 sets a breakpoint at the cursor', async () => {
  await page.locator('.cm-content').click();
  await page.keyboard.press('Control+End');
  await page.keyboard.type('// the end');
  let now = await shown();
  assert.equal(now.debugging, false);
  assert.deepEqual({ current: now.current, arrow: now.arrow }, { current: [], arrow: [] });
  assert.equal(await page.locator('#debug-panel').isVisible(), false);
  assert.deepEqual(now.breakpoints, [4], 'breakpoints stay');

  await page.keyboard.press('Control+Home');
  await page.keyboard.press('F9');
  assert.deepEqual((await shown()).breakpoints, [1, 4]);
  await page.keyboard.press('F9');
  assert.deepEqual((await shown()).breakpoints, [4]);
});

test('a runtime error marks its line in Run too', async () => {
  await button('Run').click();
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Exit status'));
  const now = await shown();
  assert.deepEqual(now.errorLines, [14]);
  assert.equal(now.stderr, 'runtime error: cannot divide by zero\n');
  assert.equal(now.debugging, false);
  const title = await page.locator('.cm-error-line').getAttribute('title');
  assert.equal(title, 'runtime error: cannot divide by zero');
  await page.screenshot({ path: path.join(artefactsDir, 'run-runtime-error.png') });
});

test('a run that goes on past its recording: the steps shown at once, Stop ends the run', async () => {
  await setProgram(MARCHING);
  await button('Debug').click();
  await page.locator('#debug-bar').waitFor({ state: 'visible' });
  let now = await shown();
  assert.equal(now.position, 'Step 1 of 10,000 · line 2');
  assert.equal(now.note, 'The recording holds the first 10,000 steps; the run goes on past them…');
  assert.equal(await button('Stop').isEnabled(), true);
  await page.keyboard.press('F10');
  await page.keyboard.press('F10');
  now = await shown();
  assert.equal(now.stdout, 'marching\nonward\n');
  assert.deepEqual(now.variables, []);
  await page.getByRole('slider', { name: 'Step of the run' }).focus();
  await page.keyboard.press('End');
  now = await shown();
  assert.equal(now.status, 'The run goes on past the recording…');
  await page.screenshot({ path: path.join(artefactsDir, 'debug-recording-full.png') });

  await button('Stop').click();
  now = await shown();
  assert.equal(now.note, 'The recording holds the first 10,000 steps; the run went on past them and was stopped');
  assert.equal(now.status, 'Stopped after the recording');
  assert.equal(await button('Stop').isEnabled(), false);
  await page.getByRole('slider', { name: 'Step of the run' }).focus();
  await page.keyboard.press('Home');
  assert.deepEqual((await shown()).position, 'Step 1 of 10,000 · line 2');

  // Run leaves the Debug mode.
  await setProgram('on the iron throne:\n    speak 6 * 7\n');
  await button('Run').click();
  await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Exit status 0'));
  now = await shown();
  assert.equal(now.debugging, false);
  assert.equal(now.stdout, '42\n');
});

test('on a phone the Debug mode fits the screen, the stack and variables below the editor', async () => {
  const phone = await openPlayground(browser, { viewport: PHONE });
  try {
    await phone.page.getByRole('combobox', { name: 'Example' }).selectOption('scoping');
    // The line of `text`, after the line of `after` when given.
    const lines = readFileSync(path.join(sourceDir, 'examples', 'scoping.skr'), 'utf8').split('\n');
    const lineOf = (text, after = '') => lines.indexOf(text, lines.indexOf(after)) + 1;
    const speakBanner = lineOf('    speak banner');
    await phone.page.locator('.cm-lineNumbers .cm-gutterElement', { hasText: new RegExp(`^${speakBanner}$`) }).click();
    await phone.page.getByRole('button', { name: 'Debug', exact: true }).click();
    await phone.page.locator('#debug-bar').waitFor({ state: 'visible' });
    await phone.page.getByRole('button', { name: 'Continue', exact: true }).click();
    const stack = await phone.page.$$eval('#call-stack .frame', (frames) => frames.map((f) => f.textContent));
    assert.deepEqual(stack, [
      `report line ${speakBanner}`,
      `under_siege line ${lineOf('    report with', 'we declare under_siege with ->')}`,
      `${MAIN} line ${lineOf('    under_siege with', 'on the iron throne:')}`,
    ]);
    const borrowed = await phone.page.$$eval('#variables tr.borrowed', (rows) => rows.map((r) => r.textContent));
    assert.deepEqual(borrowed, ['bannerscrollthe siege bannerunder_siege']);
    const overflow = await phone.page.evaluate(() => {
      const width = document.documentElement.clientWidth;
      return [...document.querySelectorAll('body *')]
        .filter((element) => element.getClientRects().length > 0)
        .filter((element) => element.getBoundingClientRect().right > width + 0.5)
        .filter((element) => !element.closest('.cm-scroller, .stream'))
        .map((element) => `${element.tagName.toLowerCase()}#${element.id}.${element.className}`);
    });
    assert.deepEqual(overflow, []);
    // One column of panels, each the screen's width, the stack and
    // variables right under the editor and the output under them.
    const panels = await phone.page.evaluate(() =>
      ['.editor-panel', '#debug-panel', '.output-panel'].map((selector) => {
        const { top, bottom, width } = document.querySelector(selector).getBoundingClientRect();
        return { top, bottom, width };
      }),
    );
    const [editorPanel, debugPanel, outputPanel] = panels;
    for (const panel of panels) assert.ok(panel.width > PHONE.width - 30, JSON.stringify(panels));
    assert.ok(debugPanel.top - editorPanel.bottom < 20 && outputPanel.top - debugPanel.bottom < 20, JSON.stringify(panels));
    await phone.page.screenshot({ path: path.join(artefactsDir, 'debug-phone.png') });
    await phone.page.screenshot({ path: path.join(artefactsDir, 'debug-phone-full.png'), fullPage: true });
    assert.deepEqual(phone.errors, []);
  } finally {
    await phone.page.close();
  }
});

test('the page met no error and fetched nothing from another host', () => {
  assert.deepEqual(errors, []);
  assert.deepEqual(browser.foreign, []);
});

// A person's session with the playground: a program typed by hand that must
// survive picking examples, reloading and opening a shared link; programs
// that print far more than anyone reads, which must not freeze the page.
// Screenshots go to the artefacts folder.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { artefactsDir, openBrowser, openPlayground, sourceDir } from './browser.mjs';

const DESKTOP = { width: 1280, height: 860 };
const PHONE = { width: 390, height: 844 };

const exampleOf = (name) => readFileSync(path.join(sourceDir, 'examples', `${name}.skr`), 'utf8');

// Typed line by line; the editor indents after a colon.
const TYPED_LINES = ['on the iron throne:', 'name is a scroll with ""', 'name speaks for input', 'speak "Well met, " + name'];
const TYPED = ['on the iron throne:', '    name is a scroll with ""', '    name speaks for input', '    speak "Well met, " + name'].join('\n');
const TYPED_INPUT = 'Arya Stark ⚔\n';

let browser;

before(async () => {
  browser = await openBrowser();
});

after(async () => {
  await browser?.close();
});

const editorText = (page) => page.$$eval('.cm-line', (lines) => lines.map((line) => line.textContent).join('\n'));
const menuLabel = (page) => page.$eval('#examples', (menu) => menu.selectedOptions[0]?.label ?? null);
const yourPrograms = (page) => page.$$eval('#examples optgroup[label="Yours"] option', (options) => options.map((o) => o.label));

async function typeProgram(page, lines) {
  await page.locator('.cm-content').click();
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  for (const [index, line] of lines.entries()) {
    if (index > 0) await page.keyboard.press('Enter');
    await page.keyboard.type(line);
  }
}

async function finishedRun(page, timeout = 60_000) {
  await page.waitForFunction(() => /^(Exit status|Stopped)/.test(document.getElementById('status').textContent), null, { timeout });
  return page.locator('#status').textContent();
}

test('a program typed by hand survives an example pick, a reload and a shared link', async () => {
  const { page, errors } = await openPlayground(browser, { viewport: DESKTOP });
  try {
    assert.equal(await menuLabel(page), 'hello', 'a first visit shows the first example');
    assert.deepEqual(await yourPrograms(page), []);

    await typeProgram(page, TYPED_LINES.slice(0, 1));
    assert.equal(await menuLabel(page), 'Your program', 'the first key typed makes the example the user’s');
    await typeProgram(page, TYPED_LINES);
    await page.locator('#stdin').fill(TYPED_INPUT);
    assert.equal(await editorText(page), TYPED);
    assert.deepEqual(await yourPrograms(page), ['Your program']);

    // An example in its place, then the user's program back, exactly.
    const menu = page.getByRole('combobox', { name: 'Example' });
    await menu.selectOption('fizzbuzz');
    assert.equal(await editorText(page), exampleOf('fizzbuzz'));
    assert.equal(await menuLabel(page), 'fizzbuzz');
    assert.deepEqual(await yourPrograms(page), ['Your program']);
    await menu.selectOption({ label: 'Your program' });
    assert.equal(await editorText(page), TYPED);
    assert.equal(await page.locator('#stdin').inputValue(), TYPED_INPUT);
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    assert.match(await finishedRun(page), /^Exit status 0 /);
    assert.equal(await page.locator('#stdout').textContent(), 'Well met, Arya Stark ⚔\n');

    // Reloading, at once after typing, brings back the program, its input
    // and what the menu said.
    await page.locator('.cm-content').click();
    await page.keyboard.press('Control+End');
    await page.keyboard.type(' + "!"');
    await page.reload();
    await page.evaluate(() => window.skern.ready);
    assert.equal(await editorText(page), `${TYPED} + "!"`);
    assert.equal(await page.locator('#stdin').inputValue(), TYPED_INPUT);
    assert.equal(await menuLabel(page), 'Your program');

    // An example shown when the page was left is shown again, the user's
    // program still in the menu.
    await menu.selectOption('guess');
    await page.reload();
    await page.evaluate(() => window.skern.ready);
    assert.equal(await editorText(page), exampleOf('guess'));
    assert.deepEqual(await yourPrograms(page), ['Your program']);
    await page.screenshot({ path: path.join(artefactsDir, 'session-example-after-reload.png') });

    // A shared link wins over the saved program, which stays in the menu.
    await menu.selectOption('greeting');
    await page.locator('#stdin').fill('Brienne\n30\naye\n');
    await page.getByRole('button', { name: 'Share', exact: true }).click();
    const link = await page.getByRole('textbox', { name: 'Link to this program and its input' }).inputValue();
    const shared = await openPlayground(browser, { fragment: link.slice(link.indexOf('#')), viewport: DESKTOP });
    try {
      assert.equal(await editorText(shared.page), exampleOf('greeting'));
      assert.equal(await shared.page.locator('#stdin').inputValue(), 'Brienne\n30\naye\n');
      assert.equal(await menuLabel(shared.page), 'Shared program');
      assert.equal((await yourPrograms(shared.page)).length, 3, 'the typed program, the edited greeting, the link');
      await shared.page.screenshot({ path: path.join(artefactsDir, 'session-shared-link.png') });
      const labels = await yourPrograms(shared.page);
      const older = labels.find((label) => label.startsWith('Your program of '));
      assert.ok(older, labels.join(', '));
      await shared.page.getByRole('combobox', { name: 'Example' }).selectOption({ label: older });
      assert.equal(await editorText(shared.page), `${TYPED} + "!"`);
      assert.equal(await shared.page.locator('#stdin').inputValue(), TYPED_INPUT);
      assert.equal(new URL(shared.page.url()).hash, '', 'the address no longer claims the shared program');
      assert.deepEqual(shared.errors, []);
    } finally {
      await shared.page.close();
    }
    assert.deepEqual(errors, []);
  } finally {
    await page.close();
  }
});

test('editing an example makes it the user’s own at once, and the program before it stays', async () => {
  const { page, errors } = await openPlayground(browser, { viewport: DESKTOP });
  try {
    const menu = page.getByRole('combobox', { name: 'Example' });
    await menu.selectOption('hello');
    const before = await yourPrograms(page);
    await page.locator('.cm-content').click();
    await page.keyboard.press('Control+End');
    await page.keyboard.type('\nspeak "and farewell"');
    assert.equal(await menuLabel(page), 'Your program');
    const after = await yourPrograms(page);
    assert.equal(after.length, before.length + 1, after.join(', '));
    assert.ok(after.slice(1).every((label) => label.startsWith('Your program of ')), after.join(', '));
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    assert.match(await finishedRun(page), /^Exit status 0 /);
    assert.equal(await page.locator('#stdout').textContent(), 'Hello, realm!\nand farewell\n');

    // Shared, then edited: a reload brings back the edit, not the link.
    await page.getByRole('button', { name: 'Share', exact: true }).click();
    assert.match(page.url(), /#program=/);
    await page.locator('.cm-content').click();
    await page.keyboard.press('Control+End');
    await page.keyboard.type('\nspeak "for now"');
    await page.reload();
    await page.evaluate(() => window.skern.ready);
    assert.match(await editorText(page), /speak "and farewell"\n {4}speak "for now"$/);
    assert.equal(await menuLabel(page), 'Your program');
    assert.deepEqual(errors, []);
  } finally {
    await page.close();
  }
});

test('two pages of the playground open at once keep each other’s programs', async () => {
  const first = await openPlayground(browser, { viewport: DESKTOP });
  const second = await openPlayground(browser, { viewport: DESKTOP });
  try {
    await first.page.getByRole('combobox', { name: 'Example' }).selectOption('hello');
    await second.page.getByRole('combobox', { name: 'Example' }).selectOption('hello');
    await typeProgram(first.page, ['on the iron throne:', 'speak "from the first"']);
    await typeProgram(second.page, ['on the iron throne:', 'speak "from the second"']);
    // Each saves a moment after its last key.
    await first.page.waitForTimeout(600);
    await first.page.reload();
    await first.page.evaluate(() => window.skern.ready);
    const menu = first.page.getByRole('combobox', { name: 'Example' });
    const found = [];
    for (const label of await yourPrograms(first.page)) {
      await menu.selectOption({ label });
      found.push(await editorText(first.page));
    }
    assert.ok(found.includes('on the iron throne:\n    speak "from the first"'), found.join('\n--\n'));
    assert.ok(found.includes('on the iron throne:\n    speak "from the second"'), found.join('\n--\n'));
    assert.deepEqual([...first.errors, ...second.errors], []);
  } finally {
    await first.page.close();
    await second.page.close();
  }
});

// --- Floods of output -------------------------------------------------------

// Counts to `count` (or far past anyone's patience), one number a line.
const counting = (count) => ['on the iron throne:', 'n is a blade with 0', `the realm marches ${count} times:`, 'n = n + 1', 'speak n'];

// Watches the page's thread from now on: the long tasks Chromium reports,
// and the longest gap between the ticks of a 10 ms timer.
async function watchThread(page) {
  await page.evaluate(() => {
    const watch = { longTasks: [], longestGap: 0 };
    watch.observer = new PerformanceObserver((list) => {
      for (const entry of list.getEntries()) watch.longTasks.push(Math.round(entry.duration));
    });
    watch.observer.observe({ type: 'longtask' });
    let last = performance.now();
    watch.timer = setInterval(() => {
      const now = performance.now();
      watch.longestGap = Math.max(watch.longestGap, now - last);
      last = now;
    }, 10);
    window.threadWatch = watch;
  });
}

async function stopWatching(page) {
  return page.evaluate(() => {
    const watch = window.threadWatch;
    watch.observer.disconnect();
    clearInterval(watch.timer);
    return { longTasks: watch.longTasks, longestGap: Math.round(watch.longestGap) };
  });
}

// The lines of a pane that are wholly in view, top to bottom.
const visibleLines = (page, id = 'stdout') =>
  page.evaluate((paneId) => {
    const pane = document.getElementById(paneId);
    const box = pane.getBoundingClientRect();
    const lines = [];
    const walker = document.createTreeWalker(pane, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      const text = node.textContent;
      for (let start = 0; start < text.length; ) {
        const feed = text.indexOf('\n', start);
        const end = feed === -1 ? text.length : feed;
        if (end > start) {
          const range = document.createRange();
          range.setStart(node, start);
          range.setEnd(node, end);
          const rect = range.getBoundingClientRect();
          if (rect.top >= box.top - 0.5 && rect.bottom <= box.bottom + 0.5) lines.push(text.slice(start, end));
        }
        start = end + 1;
      }
    }
    return lines;
  }, id);

const BLOCKED_AT_MOST = 200;

test('a million lines of output: the page never blocks 200 ms, the last line shows, run() gives them all', { timeout: 180_000 }, async () => {
  const { page, errors } = await openPlayground(browser, { viewport: DESKTOP });
  try {
    await typeProgram(page, counting(1_000_000));
    await watchThread(page);
    const pressed = Date.now();
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    const status = await finishedRun(page, 120_000);
    // The second figure, when there is one, follows once all is drawn.
    await page.waitForTimeout(500);
    const finalStatus = await page.locator('#status').textContent();
    const waited = Date.now() - pressed;
    const thread = await stopWatching(page);
    console.log(`1,000,000 lines: status "${finalStatus}", ${waited} ms from the click to the status and a pause; long tasks ${JSON.stringify(thread.longTasks)} ms; longest gap of a 10 ms timer ${thread.longestGap} ms`);
    assert.match(status, /^Exit status 0 · [\d.]+ m?s/);
    assert.match(finalStatus, /^Exit status 0 · [\d.]+ m?s( · output shown after [\d.]+ m?s)?$/);
    assert.ok(thread.longTasks.every((duration) => duration <= BLOCKED_AT_MOST), `long tasks: ${thread.longTasks}`);
    assert.ok(thread.longestGap <= BLOCKED_AT_MOST, `the timer waited ${thread.longestGap} ms`);
    const shown = await visibleLines(page);
    assert.equal(shown.at(-1), '1000000', 'the last line is in view');
    assert.deepEqual(shown.slice(-3), ['999998', '999999', '1000000']);
    assert.equal(await page.locator('.note.omitted').count(), 0, 'a million short lines are all kept');
    await page.screenshot({ path: path.join(artefactsDir, 'flood-million-lines.png') });

    // Scrolled to the top, the first lines.
    await page.locator('#stdout').evaluate((pane) => {
      pane.scrollTop = 0;
    });
    await page.waitForFunction(() => document.querySelector('#stdout .stream-lines').textContent.startsWith('1\n2\n'));
    assert.deepEqual((await visibleLines(page)).slice(0, 3), ['1', '2', '3']);

    const whole = await page.evaluate(async (program) => {
      const result = await window.skern.run(program, '');
      const lines = result.stdout.split('\n');
      return { status: result.status, count: lines.length - 1, first: lines[0], last: lines.at(-2), end: lines.at(-1) };
    }, counting(1_000_000).map((line, index) => (index === 0 ? line : index < 3 ? `    ${line}` : `        ${line}`)).join('\n'));
    assert.deepEqual(whole, { status: 0, count: 1_000_000, first: '1', last: '1000000', end: '' });
    assert.deepEqual(errors, []);
  } finally {
    await page.close();
  }
});

test('Stop ends a flood at once, the page answering all along, and the next run works', { timeout: 120_000 }, async () => {
  const { page, errors } = await openPlayground(browser, { viewport: PHONE });
  try {
    await typeProgram(page, counting(100_000_000_000));
    await watchThread(page);
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    // Well into the flood.
    await page.waitForFunction(() => Number(document.querySelector('#stdout .stream-lines').textContent.trim().split('\n').at(-1)) > 300_000, null, {
      timeout: 60_000,
    });
    assert.equal(await page.locator('#status').textContent(), 'Running…');
    const pressed = Date.now();
    await page.getByRole('button', { name: 'Stop', exact: true }).click();
    assert.match(await finishedRun(page), /^Stopped after /);
    const took = Date.now() - pressed;
    const thread = await stopWatching(page);
    console.log(`Stop during a flood: stopped ${took} ms after the click; long tasks ${JSON.stringify(thread.longTasks)} ms; longest timer gap ${thread.longestGap} ms`);
    assert.ok(took < 2000, `stopping took ${took} ms`);
    assert.ok(thread.longTasks.every((duration) => duration <= BLOCKED_AT_MOST), `long tasks: ${thread.longTasks}`);
    assert.ok(thread.longestGap <= BLOCKED_AT_MOST, `the timer waited ${thread.longestGap} ms`);
    await page.waitForTimeout(100);
    const shown = await visibleLines(page);
    const last = Number(shown.at(-1));
    assert.ok(last > 300_000, `last line shown: ${shown.at(-1)}`);
    assert.equal(Number(shown.at(-2)), last - 1, 'the lines shown run on without a gap');
    await page.screenshot({ path: path.join(artefactsDir, 'phone-flood-stopped.png') });

    await page.getByRole('combobox', { name: 'Example' }).selectOption('hello');
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    assert.match(await finishedRun(page), /^Exit status 0 /);
    assert.equal(await page.locator('#stdout').textContent(), 'Hello, realm!\n');
    assert.deepEqual(errors, []);
  } finally {
    await page.close();
  }
});

test('past ten million characters the pane keeps the start and the end, says what it left out, and downloads the whole', { timeout: 120_000 }, async () => {
  const { page, errors } = await openPlayground(browser, { viewport: DESKTOP });
  try {
    // 70,000 lines of 160 characters, then a last one: 11,270,008 bytes.
    await typeProgram(page, [
      'on the iron throne:',
      'line is a scroll with "0123456789"',
      'the realm marches 4 times:',
      'line = line + line',
    ]);
    await page.keyboard.press('Enter');
    await page.keyboard.press('Shift+Tab');
    for (const text of ['the realm marches 70000 times:', 'speak line']) {
      await page.keyboard.type(text);
      await page.keyboard.press('Enter');
    }
    await page.keyboard.press('Shift+Tab');
    await page.keyboard.type('speak "the end"');
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    assert.match(await finishedRun(page), /^Exit status 0 /);
    await page.waitForTimeout(200);
    assert.equal((await visibleLines(page)).at(-1), 'the end');

    // Halfway down: the note of what was left out.
    await page.locator('#stdout').evaluate((pane) => {
      pane.scrollTop = pane.scrollHeight / 2 - pane.clientHeight / 2;
    });
    await page.waitForFunction(() => document.querySelector('#stdout .note.omitted') !== null);
    const note = await page.locator('#stdout .note.omitted').textContent();
    const left = /^⋯ ([\d,]+) lines \(([\d.]+) million characters\) left out here: Download has them ⋯$/.exec(note);
    assert.ok(left, note);
    const leftLines = Number(left[1].replaceAll(',', ''));
    // Each half keeps five million characters: 31,055 lines of 161.
    assert.ok(leftLines > 7_000 && leftLines < 8_500, note);
    assert.ok(Math.abs(Number(left[2]) - (leftLines * 161) / 1e6) < 0.06, note);
    assert.ok((await visibleLines(page)).includes(note));
    assert.equal(await page.locator('#output-note').textContent(), `${left[1]} lines left out of view`);
    await page.screenshot({ path: path.join(artefactsDir, 'flood-left-out.png') });

    const [download] = await Promise.all([page.waitForEvent('download'), page.getByRole('button', { name: 'Download' }).click()]);
    // Eleven megabytes are no artefact to keep: read where playwright put it.
    const bytes = readFileSync(await download.path());
    await download.delete();
    assert.equal(bytes.length, 70_000 * 161 + 'the end\n'.length);
    assert.equal(bytes.subarray(0, 161).toString(), `${'0123456789'.repeat(16)}\n`);
    assert.equal(bytes.subarray(bytes.length - 8).toString(), 'the end\n');

    // A line too long to read is cut, saying how much more it has.
    await typeProgram(page, ['on the iron throne:', 'line is a scroll with "0123456789"', 'the realm marches 14 times:', 'line = line + line']);
    await page.keyboard.press('Enter');
    await page.keyboard.press('Shift+Tab');
    await page.keyboard.type('speak line');
    await page.getByRole('button', { name: 'Run', exact: true }).click();
    assert.match(await finishedRun(page), /^Exit status 0 /);
    await page.waitForTimeout(200);
    const text = await page.locator('#stdout').textContent();
    assert.equal(text, `${'0123456789'.repeat(200)} … and 161,840 more characters on this line\n`);
    assert.deepEqual(errors, []);
  } finally {
    await page.close();
  }
});

// The pane's own calls, as another part of the page (a step-by-step view of
// a run) would make them: the module bundled alone into an empty page.
test('the output pane sets, appends, cuts back and counts lines, pieces split anywhere', async () => {
  const esbuild = createRequire(path.join(sourceDir, 'web', 'node_modules', 'index.js'))('esbuild');
  const bundled = await esbuild.build({
    entryPoints: [path.join(sourceDir, 'web', 'src', 'output-pane.js')],
    bundle: true,
    format: 'iife',
    globalName: 'paneModule',
    write: false,
  });
  const page = await browser.context.newPage();
  try {
    await page.setContent('<pre id="pane" style="height: 200px; overflow: auto; line-height: 20px; margin: 0"></pre>');
    await page.addScriptTag({ content: bundled.outputFiles[0].text });
    const seen = await page.evaluate(async () => {
      const pane = new window.paneModule.OutputPane(document.getElementById('pane'));
      const state = async () => {
        await pane.shown();
        return { text: pane.text(), length: pane.length, lines: pane.lineCount, drawn: document.getElementById('pane').textContent };
      };
      const steps = [];
      pane.setText('one\ntwo\n');
      steps.push(await state());
      // A line split across pieces, and a line feed alone.
      for (const piece of ['thr', 'ee', '\n', 'fo', 'ur']) pane.append(piece);
      steps.push(await state());
      pane.truncate(9);
      steps.push(await state());
      pane.truncate(7);
      steps.push(await state());
      pane.append('\n\nsix\n');
      steps.push(await state());
      pane.truncate(0);
      steps.push(await state());
      // Many lines: the pane draws what is in view and the lines around it.
      pane.setText(Array.from({ length: 5000 }, (_, i) => `${i + 1}\n`).join(''));
      const many = await state();
      const drawnLines = many.drawn.split('\n').length - 1;
      steps.push({ lines: many.lines, fewDrawn: drawnLines >= 10 && drawnLines <= 100, lastDrawn: many.drawn.trim().split('\n').at(-1) });
      return steps;
    });
    assert.deepEqual(seen, [
      { text: 'one\ntwo\n', length: 8, lines: 2, drawn: 'one\ntwo\n' },
      { text: 'one\ntwo\nthree\nfour', length: 18, lines: 4, drawn: 'one\ntwo\nthree\nfour' },
      { text: 'one\ntwo\nt', length: 9, lines: 3, drawn: 'one\ntwo\nt' },
      { text: 'one\ntwo', length: 7, lines: 2, drawn: 'one\ntwo' },
      { text: 'one\ntwo\n\nsix\n', length: 13, lines: 4, drawn: 'one\ntwo\n\nsix\n' },
      { text: '', length: 0, lines: 0, drawn: '' },
      { lines: 5000, fewDrawn: true, lastDrawn: '5000' },
    ]);
  } finally {
    await page.close();
  }
});

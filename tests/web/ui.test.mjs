// One walk through the playground as a person meets it: pick an example and
// run it, type a program with the keyboard, stop one that would run for
// hours, run again, share a link and open it, and look at the page on a
// phone. Screenshots of the desktop and the phone go to the artefacts folder.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { artefactsDir, openBrowser, openPlayground, sourceDir } from './browser.mjs';

const DESKTOP = { width: 1280, height: 860 };
const PHONE = { width: 390, height: 844 };

const expectedOf = (name, extension) => readFileSync(path.join(sourceDir, 'tests', 'examples', `${name}.${extension}`), 'utf8');
const exampleOf = (name) => readFileSync(path.join(sourceDir, 'examples', `${name}.skr`), 'utf8');

// Writes two lines at once, then marches for far longer than anyone waits:
// the second line must not be held back through the march.
const MARCHING = [
  'on the iron throne:',
  '    speak "marching"',
  '    speak "onward"',
  '    n is a blade with 0',
  '    the realm marches 100000000000 times:',
  '        n = n + 1',
].join('\n');

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

// The editor's text, line by line as shown (programs here are short enough
// to be drawn whole).
const editorText = () => page.$$eval('.cm-line', (lines) => lines.map((line) => line.textContent).join('\n'));
const paneText = (id) => page.locator(`#${id}`).textContent();
const statusText = () => page.locator('#status').textContent();

async function waitForFinishedRun() {
  await page.waitForFunction(() => /^(Exit status|Stopped)/.test(document.getElementById('status').textContent), null, {
    timeout: 30_000,
  });
  return statusText();
}

async function replaceProgramByTyping(lines) {
  await page.locator('.cm-content').click();
  await page.keyboard.press('Control+A');
  await page.keyboard.press('Delete');
  for (const [index, line] of lines.entries()) {
    if (index > 0) await page.keyboard.press('Enter');
    await page.keyboard.type(line);
  }
}

test('every control has a name a screen reader can say', async () => {
  for (const name of ['Run', 'Debug', 'Stop', 'Share']) {
    await assert.doesNotReject(page.getByRole('button', { name, exact: true }).waitFor({ timeout: 2000 }), name);
  }
  assert.equal(await page.getByRole('combobox', { name: 'Example' }).count(), 1);
  assert.equal(await page.getByRole('textbox', { name: 'Standard input' }).count(), 1);
  assert.equal(await page.getByRole('textbox', { name: 'Program' }).count(), 1);
});

test('the examples menu offers every example, and one runs to its expected output', async () => {
  const offered = await page.$$eval('#examples optgroup[label="Examples"] option', (options) => options.map((o) => o.value));
  const programs = readdirSync(path.join(sourceDir, 'examples'))
    .filter((file) => file.endsWith('.skr'))
    .map((file) => file.slice(0, -'.skr'.length));
  assert.deepEqual([...offered].sort(), programs.sort());

  await page.getByRole('combobox', { name: 'Example' }).selectOption('greeting');
  assert.equal(await editorText(), exampleOf('greeting'));
  assert.equal(await page.locator('#stdin').inputValue(), expectedOf('greeting', 'stdin'));

  await page.getByRole('button', { name: 'Run', exact: true }).click();
  assert.match(await waitForFinishedRun(), /^Exit status 0 · [\d.]+ m?s$/);
  assert.equal(await paneText('stdout'), expectedOf('greeting', 'stdout'));
  assert.equal(await paneText('stderr'), '');
  await page.screenshot({ path: path.join(artefactsDir, 'desktop.png') });
});

test('Ctrl+Enter runs a failing example: its report in the error pane, status 1', async () => {
  await page.getByRole('combobox', { name: 'Example' }).selectOption('error');
  await page.locator('.cm-content').click();
  await page.keyboard.press('Control+Enter');
  assert.match(await waitForFinishedRun(), /^Exit status 1 /);
  assert.equal(await paneText('stdout'), expectedOf('error', 'stdout'));
  assert.equal(await paneText('stderr'), expectedOf('error', 'stderr'));
});

test('an expression report shows its caret under the character it points at', async () => {
  await replaceProgramByTyping(['on the iron throne:', 'speak 3 * / 4']);
  await page.keyboard.press('Control+Enter');
  assert.match(await waitForFinishedRun(), /^Exit status 1 /);
  const report = await paneText('stderr');
  const lines = report.split('\n');
  assert.equal(lines.length, 7, `six lines and a line feed expected:\n${report}`);
  const caretLine = lines.findIndex((line) => /^\s*\|\s*\^/.test(line));
  assert.ok(caretLine > 0, report);
  const column = lines[caretLine].indexOf('^');
  assert.equal(lines[caretLine - 1][column], '/', report);

  // On screen: the caret and the character above it start at the same x.
  const [caretX, aboveX] = await page.evaluate(
    ([line, col]) => {
      const text = document.getElementById('stderr').firstChild;
      const offsets = text.textContent.split('\n').slice(0, line).reduce((sum, l) => sum + l.length + 1, 0);
      const xAt = (offset) => {
        const range = document.createRange();
        range.setStart(text, offset);
        range.setEnd(text, offset + 1);
        return range.getBoundingClientRect().x;
      };
      const previous = text.textContent.split('\n')[line - 1].length + 1;
      return [xAt(offsets + col), xAt(offsets - previous + col)];
    },
    [caretLine, column],
  );
  assert.ok(Math.abs(caretX - aboveX) < 0.5, `caret at x=${caretX}, character at x=${aboveX}`);
});

// The editor's mark of an error: the line, and the character or the place
// after the line's end, each on screen.
async function errorMark() {
  return page.evaluate(async () => {
    // The editor scrolls to the mark when it next draws.
    for (let frame = 0; frame < 3; frame++) await new Promise((resolve) => requestAnimationFrame(resolve));
    const scroller = document.querySelector('.cm-scroller').getBoundingClientRect();
    const inView = (rect) =>
      rect.width > 0 && rect.left >= scroller.left && rect.right <= scroller.right && rect.top >= scroller.top && rect.bottom <= scroller.bottom;
    const lines = [...document.querySelectorAll('.cm-line')];
    const marked = lines.filter((line) => line.classList.contains('cm-error-line'));
    const at = document.querySelector('.cm-error-at');
    const end = document.querySelector('.cm-error-end');
    let afterLastCharacter = null;
    if (end) {
      const line = end.closest('.cm-line');
      const walker = document.createTreeWalker(line, NodeFilter.SHOW_TEXT);
      let last = null;
      for (let node = walker.nextNode(); node; node = walker.nextNode()) if (node.textContent.length > 0) last = node;
      const range = document.createRange();
      range.setStart(last, last.textContent.length - 1);
      range.setEnd(last, last.textContent.length);
      afterLastCharacter = end.getBoundingClientRect().left >= range.getBoundingClientRect().right - 0.5;
    }
    return {
      lines: marked.map((line) => lines.indexOf(line) + 1),
      title: marked[0]?.title ?? null,
      at: at ? { text: at.textContent, visible: inView(at.getBoundingClientRect()) } : null,
      end: end ? { visible: inView(end.getBoundingClientRect()), afterLastCharacter } : null,
    };
  });
}

test('an error is marked in the editor where it lies, past the end of a line included', async () => {
  await replaceProgramByTyping(['on the iron throne:', 'speak 1 +']);
  await page.keyboard.press('Control+Enter');
  assert.match(await waitForFinishedRun(), /^Exit status 1 /);
  assert.match(await paneText('stderr'), /^expression parse error:/);
  assert.deepEqual(await errorMark(), {
    lines: [2],
    title: 'expression parse error:  --> 1:4',
    at: null,
    end: { visible: true, afterLastCharacter: true },
  });
  await page.screenshot({ path: path.join(artefactsDir, 'error-at-end-of-line.png') });

  // A line wider than the editor: it scrolls so that its end shows.
  const long = `speak ${Array.from({ length: 40 }, (_, i) => `"knight ${i}"`).join(' + ')} +`;
  await replaceProgramByTyping(['on the iron throne:', long]);
  await page.keyboard.press('Home');
  await page.keyboard.press('Control+Enter');
  assert.match(await waitForFinishedRun(), /^Exit status 1 /);
  const wide = await errorMark();
  assert.deepEqual(wide.lines, [2]);
  assert.deepEqual(wide.end, { visible: true, afterLastCharacter: true });

  // Within a line: the character the report's caret points at.
  await replaceProgramByTyping(['on the iron throne:', 'speak "ä" + * 2']);
  await page.keyboard.press('Control+Enter');
  assert.match(await waitForFinishedRun(), /^Exit status 1 /);
  const inside = await errorMark();
  assert.deepEqual({ lines: inside.lines, at: inside.at, end: inside.end }, { lines: [2], at: { text: '*', visible: true }, end: null });

  // A structural error: its line alone. Editing moves the mark with the
  // text, and the next run clears it.
  await replaceProgramByTyping(['on the iron throne:', 'speak 1', '  speak 2']);
  await page.keyboard.press('Control+Enter');
  assert.match(await waitForFinishedRun(), /^Exit status 1 /);
  assert.deepEqual(await errorMark(), { lines: [3], title: 'parse error on line 3: unexpected extra indentation', at: null, end: null });
  await page.keyboard.press('Control+Home');
  await page.keyboard.press('Enter');
  assert.deepEqual((await errorMark()).lines, [4]);
  await replaceProgramByTyping(['on the iron throne:', 'speak 1 / 0']);
  await page.keyboard.press('Control+Enter');
  assert.match(await waitForFinishedRun(), /^Exit status 1 /);
  assert.deepEqual(await errorMark(), { lines: [2], title: 'runtime error: cannot divide by zero', at: null, end: null }, 'a runtime error marks the line it ended in');
});

test('Tab and Shift+Tab indent the line; Escape then Tab leaves the editor', async () => {
  await replaceProgramByTyping(['speak 1']);
  await page.keyboard.press('Home');
  await page.keyboard.press('Tab');
  assert.equal(await editorText(), '    speak 1');
  await page.keyboard.press('Tab');
  assert.equal(await editorText(), '        speak 1');
  await page.keyboard.press('Shift+Tab');
  assert.equal(await editorText(), '    speak 1');
  await page.keyboard.press('Escape');
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'stdin');
});

test('a program that would run for hours shows its output, stops at once, and the next run works', async () => {
  // A new line after a colon goes one level deeper, others keep the level.
  await replaceProgramByTyping([
    'on the iron throne:',
    'speak "marching"',
    'speak "onward"',
    'n is a blade with 0',
    'the realm marches 100000000000 times:',
    'n = n + 1',
  ]);
  assert.equal(await editorText(), MARCHING);
  await page.locator('#stdin').fill('');

  await page.getByRole('button', { name: 'Run', exact: true }).click();
  await page.waitForFunction(() => document.getElementById('stdout').textContent === 'marching\nonward\n', null, {
    timeout: 10_000,
  });
  assert.equal(await statusText(), 'Running…', 'output while the program still runs');
  const stop = page.getByRole('button', { name: 'Stop', exact: true });
  assert.equal(await stop.isEnabled(), true);

  const pressed = Date.now();
  await stop.click();
  const status = await waitForFinishedRun();
  const took = Date.now() - pressed;
  assert.match(status, /^Stopped after /);
  assert.ok(took < 3000, `stopping took ${took} ms`);
  assert.equal(await stop.isEnabled(), false);

  // The page answers at once, and the fresh worker runs the next program.
  await page.getByRole('combobox', { name: 'Example' }).selectOption('hello');
  await page.getByRole('button', { name: 'Run', exact: true }).click();
  assert.match(await waitForFinishedRun(), /^Exit status 0 /);
  assert.equal(await paneText('stdout'), expectedOf('hello', 'stdout'));
});

test('window.skern.stop ends a run started through window.skern.run', async () => {
  const result = await page.evaluate(async (program) => {
    const running = window.skern.run(program, '');
    await new Promise((resolve) => setTimeout(resolve, 300));
    const stopped = window.skern.stop();
    return { stopped, result: await running, next: await window.skern.run('on the iron throne:\n    speak 6 * 7\n', '') };
  }, MARCHING);
  assert.equal(result.stopped, true);
  assert.equal(result.result.stopped, true);
  assert.equal(result.result.status, null);
  assert.equal(result.result.stdout, 'marching\nonward\n');
  assert.deepEqual({ ...result.next, time: 0 }, { stdout: '42\n', stderr: '', status: 0, time: 0 });
});

test('Share puts program and input into a link that restores both', async () => {
  const program = exampleOf('greeting');
  const input = 'Brienne of Tarth ⚔\n30\naye\n';
  await page.getByRole('combobox', { name: 'Example' }).selectOption('greeting');
  await page.locator('#stdin').fill(input);
  await page.getByRole('button', { name: 'Share', exact: true }).click();
  const link = await page.getByRole('textbox', { name: 'Link to this program and its input' }).inputValue();
  assert.match(link, /^http:\/\/127\.0\.0\.1:\d+\/#program=/);

  const shared = await openPlayground(browser, { fragment: link.slice(link.indexOf('#')), viewport: DESKTOP });
  try {
    const restored = await shared.page.$$eval('.cm-line', (lines) => lines.map((l) => l.textContent).join('\n'));
    assert.equal(restored, program);
    assert.equal(await shared.page.locator('#stdin').inputValue(), input);
    assert.equal(await shared.page.locator('#examples').inputValue(), 'shared', 'no example claims a shared program');
    await shared.page.getByRole('button', { name: 'Run', exact: true }).click();
    await shared.page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Exit status'));
    assert.equal(
      await shared.page.locator('#stdout').textContent(),
      [
        'Who goes there?',
        'Welcome to Winterfell, Brienne of Tarth ⚔!',
        'How many winters have you seen?',
        'Next winter makes it',
        '31',
        'Will you bend the knee? (aye or nay)',
        'Rise, friend.',
        '',
      ].join('\n'),
    );
    assert.deepEqual(shared.errors, []);
  } finally {
    await shared.page.close();
  }
});

test('on a phone nothing runs off the side, and the example runs', async () => {
  const phone = await openPlayground(browser, { viewport: PHONE });
  try {
    const overflow = await phone.page.evaluate(() => {
      const width = document.documentElement.clientWidth;
      const wide = [...document.querySelectorAll('body *')]
        .filter((element) => element.getClientRects().length > 0)
        .filter((element) => element.getBoundingClientRect().right > width + 0.5)
        .filter((element) => !element.closest('.cm-scroller, .stream'))
        .map((element) => `${element.tagName.toLowerCase()}#${element.id}.${element.className}`);
      return { scroll: document.documentElement.scrollWidth, width, wide };
    });
    assert.ok(overflow.scroll <= overflow.width, `page is ${overflow.scroll}px wide on a ${overflow.width}px screen`);
    assert.deepEqual(overflow.wide, []);
    await phone.page.getByRole('combobox', { name: 'Example' }).selectOption('hello');
    await phone.page.getByRole('button', { name: 'Run', exact: true }).click();
    await phone.page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Exit status'));
    assert.equal(await phone.page.locator('#stdout').textContent(), expectedOf('hello', 'stdout'));
    await phone.page.screenshot({ path: path.join(artefactsDir, 'phone.png'), fullPage: true });
    assert.deepEqual(phone.errors, []);
  } finally {
    await phone.page.close();
  }
});

test('the page met no error and fetched nothing from another host', () => {
  assert.deepEqual(errors, []);
  assert.deepEqual(browser.foreign, []);
});

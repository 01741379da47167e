// The Format button and window.skern.format, as a person and a page script
// meet them: a messy program typed into the editor comes out in skern-fmt's
// canonical layout, Undo takes the whole change back, a broken program is
// left as it is with its report, and a phone still has room for the
// button. Screenshots go to the artefacts folder.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readdirSync, readFileSync } from 'node:fs';
import path from 'node:path';
import { artefactsDir, openBrowser, openPlayground, sourceDir } from './browser.mjs';

const DESKTOP = { width: 1280, height: 860 };
const PHONE = { width: 390, height: 844 };

// Tabs, 2-space and 8-space blocks, free spacing, trailing spaces and three
// blank lines; and the same program in canonical layout.
const MESSY = [
  'we declare add with a ,b->',
  'council says:',
  '\treturn a+b   ',
  '',
  '',
  '',
  'on the iron throne:',
  '  y is a blade with 3',
  '  x is a blade with 0   ',
  '  x=1+2*( y )',
  '  if x > 1:',
  '          speak add with 1 ,2',
  '  speak x',
  '',
].join('\n');
const CANONICAL = [
  'we declare add with a, b ->',
  'council says:',
  '    return a + b',
  '',
  'on the iron throne:',
  '    y is a blade with 3',
  '    x is a blade with 0',
  '    x = 1 + 2 * (y)',
  '    if x > 1:',
  '        speak add with 1, 2',
  '    speak x',
  '',
].join('\n');
const BROKEN = 'on the iron throne:\n    speak 1\n    if aye:\n    speak 2\n';
const BROKEN_REPORT = 'parse error on line 4: expected an indented block\n';

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
const editorText = (on = page) => on.$$eval('.cm-line', (lines) => lines.map((line) => line.textContent).join('\n'));
const statusText = () => page.locator('#status').textContent();

// The program put into the editor at once, as a paste brings it.
async function setProgram(text, on = page) {
  await on.locator('.cm-content').click();
  await on.keyboard.press('Control+A');
  await on.keyboard.press('Delete');
  await on.keyboard.insertText(text);
}

async function waitForStatus(pattern) {
  await page.waitForFunction((source) => new RegExp(source).test(document.getElementById('status').textContent),
    pattern.source, { timeout: 30_000 });
  return statusText();
}

test('window.skern.format gives the canonical layout, or the report of a program that does not parse', async () => {
  assert.deepEqual(await page.evaluate((source) => window.skern.format(source), MESSY),
    { status: 0, text: CANONICAL, stderr: '' });
  assert.deepEqual(await page.evaluate((source) => window.skern.format(source), CANONICAL),
    { status: 0, text: CANONICAL, stderr: '' });
  assert.deepEqual(await page.evaluate((source) => window.skern.format(source), BROKEN),
    { status: 1, text: null, stderr: BROKEN_REPORT, errorAt: { line: 4, column: 0 } });
  const expression = await page.evaluate(() => window.skern.format('on the iron throne:\n    speak 1 +\n'));
  assert.equal(expression.status, 1);
  assert.equal(expression.stderr,
    'expression parse error:  --> 1:4\n  |\n1 | 1 +\n  |    ^---\n  |\n  = expected unary_expr\n');
  assert.deepEqual(expression.errorAt, { line: 2, column: 14 });
});

test('every example is in canonical layout in the browser too', async () => {
  const names = readdirSync(path.join(sourceDir, 'examples')).filter((file) => file.endsWith('.skr'));
  assert.ok(names.length > 0);
  for (const name of names) {
    const program = readFileSync(path.join(sourceDir, 'examples', name), 'utf8');
    const result = await page.evaluate((source) => window.skern.format(source), program);
    assert.deepEqual(result, { status: 0, text: program, stderr: '' }, name);
  }
});

test('Format puts a messy program into canonical layout, and Undo takes it back in one step', async () => {
  const format = page.getByRole('button', { name: 'Format', exact: true });
  await setProgram(MESSY);
  await format.click();
  assert.equal(await waitForStatus(/^(Formatted|Not formatted)/), 'Formatted');
  assert.equal(await editorText(), CANONICAL);
  await page.screenshot({ path: path.join(artefactsDir, 'format-desktop.png') });

  // The formatted program runs as the messy one did.
  await page.getByRole('button', { name: 'Run', exact: true }).click();
  assert.match(await waitForStatus(/^Exit status/), /^Exit status 0 /);
  assert.equal(await page.locator('#stdout').textContent(), '3\n9\n');

  await format.click();
  assert.equal(await waitForStatus(/^(Already|Formatted|Not formatted)/), 'Already in canonical layout');
  assert.equal(await editorText(), CANONICAL);

  await page.locator('.cm-content').click();
  await page.keyboard.press('Control+Z');
  assert.equal(await editorText(), MESSY);

  // The keyboard does what the button does.
  await page.keyboard.press('Shift+Alt+F');
  assert.equal(await waitForStatus(/^(Formatted|Not formatted)/), 'Formatted');
  assert.equal(await editorText(), CANONICAL);
});

test('a program that does not parse is left as it is, its report shown and its line marked', async () => {
  await setProgram(BROKEN);
  await page.getByRole('button', { name: 'Format', exact: true }).click();
  assert.equal(await waitForStatus(/^(Formatted|Not formatted)/), 'Not formatted: parse error');
  assert.equal(await editorText(), BROKEN);
  assert.equal(await page.locator('#stderr').textContent(), BROKEN_REPORT);
  assert.equal(await page.locator('#stdout').textContent(), '', 'no output of an earlier run beside the report');
  assert.equal(await page.locator('.cm-line.cm-error-line').count(), 1);
  assert.equal(await page.locator('.cm-line.cm-error-line').textContent(), '    speak 2');
  await page.screenshot({ path: path.join(artefactsDir, 'format-error.png') });
});

test('Format stops a program that is running, then formats', async () => {
  const marching = 'on the iron throne:\n  n is a blade with 0\n  the realm marches 100000000000 times:\n    n = n+1\n';
  await setProgram(marching);
  await page.getByRole('button', { name: 'Run', exact: true }).click();
  await waitForStatus(/^Running/);
  await page.getByRole('button', { name: 'Format', exact: true }).click();
  assert.equal(await waitForStatus(/^(Formatted|Not formatted)/), 'Formatted');
  assert.equal(await editorText(),
    'on the iron throne:\n    n is a blade with 0\n    the realm marches 100000000000 times:\n        n = n + 1\n');
  assert.equal(await page.locator('#stop').isDisabled(), true);
});

test('on a phone the Format button fits and works', async () => {
  const phone = await openPlayground(browser, { viewport: PHONE });
  try {
    const overflow = await phone.page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
    assert.ok(overflow <= 0, `the page is ${overflow} pixels wider than the screen`);
    const button = phone.page.getByRole('button', { name: 'Format', exact: true });
    const box = await button.boundingBox();
    assert.ok(box && box.x >= 0 && box.x + box.width <= PHONE.width, JSON.stringify(box));
    await setProgram(MESSY, phone.page);
    await button.click();
    await phone.page.waitForFunction(() => document.getElementById('status').textContent === 'Formatted');
    assert.equal(await editorText(phone.page), CANONICAL);
    await phone.page.screenshot({ path: path.join(artefactsDir, 'format-phone.png') });
  } finally {
    await phone.page.close();
  }
});

test('the page reported no errors', () => {
  assert.deepEqual(errors, []);
});

// A person's session with the playground: a program typed by hand that must
// survive picking examples, reloading and opening a shared link; programs
// that print far more than anyone reads, which must not freeze the page.
// Screenshots go to the artefacts folder.
import { after, before, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
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

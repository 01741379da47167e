// The Format button: the program in the editor put into canonical layout by
// the module's formatter, as one edit that Undo takes back.
import { clearErrorMark, markError } from './error-mark.js';

// The one change that turns `before` into `after`: the text between their
// common beginning and their common end. The cursor and the selection keep
// their places wherever the text around them stays.
export function changeBetween(before, after) {
  let from = 0;
  const shorter = Math.min(before.length, after.length);
  while (from < shorter && before.charCodeAt(from) === after.charCodeAt(from)) from += 1;
  let back = 0;
  while (
    back < shorter - from &&
    before.charCodeAt(before.length - 1 - back) === after.charCodeAt(after.length - 1 - back)
  ) {
    back += 1;
  }
  return { from, to: before.length - back, insert: after.slice(from, after.length - back) };
}

// Formats the editor's program. `page` gives begin() and isCurrent(run), as
// runs use them (formatting takes the page over as a run does), setStatus,
// clearOutput and the standard error pane.
export async function formatProgram({ editor, runner, page }) {
  // Like a run, formatting takes the page over: the panes then show what
  // it gives alone.
  const run = page.begin();
  const source = editor.state.doc.toString();
  page.clearOutput();
  clearErrorMark(editor);
  page.setStatus('Formatting…', 'running');
  const result = await runner.format(source);
  if (!page.isCurrent(run) || result.stopped) return;
  if (result.status !== 0) {
    page.stderrPane.textContent = result.stderr;
    if (result.errorAt) markError(editor, { ...result.errorAt, message: result.stderr.split('\n')[0] });
    page.setStatus('Not formatted: parse error', 'failed');
    return;
  }
  // Typing while the formatter worked wins: the text it formatted is gone.
  if (editor.state.doc.toString() !== source) {
    page.setStatus('Not formatted: the program changed', 'failed');
    return;
  }
  if (result.text === source) {
    page.setStatus('Already in canonical layout', 'ok');
    return;
  }
  editor.dispatch({ changes: changeBetween(source, result.text), userEvent: 'format' });
  page.setStatus('Formatted', 'ok');
}

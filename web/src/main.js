// The playground page: the editor, the input box, the output panes and the
// controls, all running programs through window.skern.
import { EditorState } from '@codemirror/state';
import { EditorView, drawSelection, highlightActiveLine, highlightActiveLineGutter, keymap } from '@codemirror/view';
// `history` here is the editor's undo history; the page's is window.history.
import { defaultKeymap, history, historyKeymap, indentWithTab } from '@codemirror/commands';
import { bracketMatching, indentUnit } from '@codemirror/language';
import examples from 'skerran:examples';
import { debugMarks, toggleBreakpointAtCursor } from './debug-marks.js';
import { DebugMode } from './debugger.js';
import { Drafts, STORAGE_KEY, draftLabels } from './drafts.js';
import { clearErrorMark, errorMarks, markError } from './error-mark.js';
import { formatProgram } from './format-button.js';
import { skerran } from './language.js';
import { OutputPane } from './output-pane.js';
import { SkernRunner } from './skern-api.js';
import { readFragment, shareFragment } from './share.js';

const runner = new SkernRunner();

window.skern = {
  run: (source, stdin, options) => runner.run(source, stdin, options),
  trace: (source, stdin, options) => runner.trace(source, stdin, options),
  format: (source) => runner.format(source),
  stop: () => runner.stop(),
  ready: runner.ready,
  examples: examples.map(({ name, program, input }) => ({ name, program, input })),
};

const $ = (id) => document.getElementById(id);
const examplesMenu = $('examples');
const runButton = $('run');
const debugButton = $('debug');
const formatButton = $('format');
const stopButton = $('stop');
const shareButton = $('share');
const stdinBox = $('stdin');
const downloadButton = $('download');
const outputNote = $('output-note');
const stdoutPane = $('stdout');
const stdout = new OutputPane(stdoutPane, {
  onDraw: (pane) => {
    const left = pane.omittedLines;
    outputNote.hidden = left === 0;
    outputNote.textContent = left === 0 ? '' : `${left.toLocaleString('en')} lines left out of view`;
    // Offered once the output is more than the pane shows at a glance.
    downloadButton.hidden =
      stdoutPane.scrollHeight <= stdoutPane.clientHeight + 1 && stdoutPane.scrollWidth <= stdoutPane.clientWidth + 1;
  },
});
const stderrPane = $('stderr');
const statusLine = $('status');
const saveNote = $('save-note');

// --- The editor -------------------------------------------------------------

const editorExtensions = [
  debugMarks(),
  highlightActiveLineGutter(),
  history(),
  drawSelection(),
  highlightActiveLine(),
  bracketMatching(),
  EditorState.tabSize.of(4),
  indentUnit.of('    '),
  keymap.of([
    { key: 'Mod-Enter', run: () => (runProgram(), true) },
    { key: 'Shift-Alt-f', run: () => (formatEditor(), true) },
    { key: 'F9', run: toggleBreakpointAtCursor },
    indentWithTab,
    ...defaultKeymap,
    ...historyKeymap,
  ]),
  skerran(),
  errorMarks(),
  EditorView.contentAttributes.of({ 'aria-label': 'Program', 'aria-describedby': 'editor-hint' }),
  EditorView.updateListener.of((update) => update.docChanged && edited()),
];

const editor = new EditorView({ parent: $('editor'), state: EditorState.create({ doc: '', extensions: editorExtensions }) });

// A fresh editor state: another program comes with its own undo history.
function setProgram(program, input) {
  editor.setState(EditorState.create({ doc: program, extensions: editorExtensions }));
  stdinBox.value = input;
}

// --- Output -----------------------------------------------------------------

function clearOutput() {
  stdout.clear();
  stderrPane.textContent = '';
}

function setStatus(text, kind = '') {
  statusLine.textContent = text;
  statusLine.className = `status ${kind}`;
}

function formatTime(milliseconds) {
  if (milliseconds < 1000) return `${milliseconds.toFixed(1)} ms`;
  return `${(milliseconds / 1000).toFixed(2)} s`;
}

// --- Running ----------------------------------------------------------------

// Each run or recording takes the page over: what ran before is stopped, and
// its results, arriving later, are dropped.
let latestRun = 0;

function begin() {
  if (runner.running) runner.stop();
  return ++latestRun;
}

const debug = new DebugMode({
  page: {
    begin,
    isCurrent: (run) => run === latestRun,
    setStatus,
    setBusy: (busy) => {
      stopButton.disabled = !busy;
    },
    formatTime,
    stderrPane,
  },
  editor,
  runner,
  stdout,
  elements: {
    bar: $('debug-bar'),
    panel: $('debug-panel'),
    stepBackButton: $('step-back'),
    stepIntoButton: $('step-into'),
    stepOverButton: $('step-over'),
    stepOutButton: $('step-out'),
    continueButton: $('continue'),
    slider: $('debug-slider'),
    position: $('debug-position'),
    note: $('debug-note'),
    leaveButton: $('leave-debug'),
    stack: $('call-stack'),
    variables: $('variables'),
  },
});

// A second figure on the status line, once all output is shown, when that
// took noticeably longer than the run itself.
const NOTICEABLE = 50;

async function runProgram() {
  debug.leave();
  const run = begin();
  clearOutput();
  clearErrorMark(editor);
  setStatus('Running…', 'running');
  stopButton.disabled = false;
  const started = performance.now();
  // The pane holds the output; the result need not hold it again.
  const result = await runner.run(editor.state.doc.toString(), stdinBox.value, {
    onStdout: (text) => run === latestRun && stdout.append(text),
    keepOutput: false,
  });
  if (run !== latestRun) return;
  stopButton.disabled = true;
  stdout.drawNow();
  if (result.stopped) {
    setStatus(`Stopped after ${formatTime(performance.now() - started)}`, 'failed');
    return;
  }
  stderrPane.textContent = result.stderr;
  if (result.errorAt) markError(editor, { ...result.errorAt, message: result.stderr.split('\n')[0] });
  const outcome = `Exit status ${result.status} · ${formatTime(result.time)}`;
  const kind = result.status === 0 ? 'ok' : 'failed';
  setStatus(outcome, kind);
  // When the first run finished, in milliseconds since the page was opened.
  window.skern.firstRunFinished ??= performance.now();
  await stdout.shown();
  if (run !== latestRun) return;
  const shownAfter = performance.now() - started;
  if (shownAfter - result.time >= NOTICEABLE) setStatus(`${outcome} · output shown after ${formatTime(shownAfter)}`, kind);
}

// Formatting edits the program, which leaves the Debug mode as any edit does.
function formatEditor() {
  debug.leave();
  // A running program is stopped as for a run; formatting itself is quick.
  stopButton.disabled = true;
  return formatProgram({
    editor,
    runner,
    page: { begin, isCurrent: (run) => run === latestRun, setStatus, clearOutput, stderrPane },
  });
}

runButton.addEventListener('click', runProgram);
formatButton.addEventListener('click', formatEditor);
debugButton.addEventListener('click', () => debug.start(editor.state.doc.toString(), stdinBox.value));
stopButton.addEventListener('click', () => runner.stop());
downloadButton.addEventListener('click', () => stdout.download('output.txt'));
document.addEventListener('keydown', (event) => {
  if (event.defaultPrevented) return;
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey)) {
    event.preventDefault();
    runProgram();
  } else if (debug.handleKey(event)) {
    event.preventDefault();
  }
});

// --- The menu: the user's programs, a shared one, the examples -------------

function openStorage() {
  try {
    return window.localStorage;
  } catch {
    return null;
  }
}

const storage = openStorage();
const drafts = new Drafts(storage || { getItem: () => null, setItem: () => {} });
// What the editor shows: {kind: 'draft', id}, {kind: 'example', name} or {kind: 'shared'}.
let selection = null;
let shared = null;
let showing = false;
let saveTimer = 0;

const SHARED = 'shared';
const valueOf = (choice) =>
  choice.kind === 'draft' ? `draft:${choice.id}` : choice.kind === 'example' ? choice.name : SHARED;

function selectionOf(value) {
  if (value === SHARED) return { kind: 'shared' };
  if (value.startsWith('draft:')) return { kind: 'draft', id: value.slice('draft:'.length) };
  return { kind: 'example', name: value };
}

function fillMenu() {
  const yours = document.createElement('optgroup');
  yours.label = 'Yours';
  draftLabels(drafts.all).forEach((label, index) => yours.append(new Option(label, `draft:${drafts.all[index].id}`)));
  if (shared) yours.append(new Option('Shared program', SHARED));
  const offered = document.createElement('optgroup');
  offered.label = 'Examples';
  for (const example of examples) offered.append(new Option(example.name, example.name));
  examplesMenu.replaceChildren(...(yours.children.length > 0 ? [yours] : []), offered);
  if (selection) examplesMenu.value = valueOf(selection);
}

function saveNow() {
  clearTimeout(saveTimer);
  saveTimer = 0;
  if (!storage) {
    saveNote.textContent = 'Not kept: this browser gives the page no storage';
    saveNote.hidden = false;
    return;
  }
  const problem = drafts.save();
  saveNote.hidden = !problem;
  saveNote.textContent = problem ? `Not kept in this browser: ${problem}` : '';
}

// Typing saves a moment after the last key; leaving the page saves at once.
function saveSoon() {
  clearTimeout(saveTimer);
  saveTimer = setTimeout(saveNow, 300);
}

function show(choice) {
  let program;
  let input;
  if (choice.kind === 'draft') ({ program, input } = drafts.get(choice.id));
  else if (choice.kind === 'shared') ({ program, input } = shared);
  else ({ program, input } = examples.find((example) => example.name === choice.name));
  debug.leave();
  showing = true;
  setProgram(program, input);
  showing = false;
  selection = choice;
  examplesMenu.value = valueOf(choice);
  clearOutput();
  if (choice.kind !== 'shared') {
    drafts.shown = choice;
    saveNow();
  }
}

const exists = (choice) =>
  choice &&
  ((choice.kind === 'draft' && drafts.get(choice.id)) ||
    (choice.kind === 'example' && examples.some((example) => example.name === choice.name)));

// An edit of the program or its input. An example or a shared program that
// is edited becomes the user's own, and the menu says so at once.
function edited() {
  if (showing) return;
  // The recording is of the program as it was.
  debug.leave();
  if (!selection) return;
  const program = editor.state.doc.toString();
  const input = stdinBox.value;
  // The address no longer holds what the editor shows: a reload must bring
  // back this, not the link.
  if (location.hash) window.history.replaceState(null, '', location.pathname + location.search);
  if (selection.kind === 'draft' && drafts.get(selection.id)) {
    const wasFirst = drafts.all[0].id === selection.id;
    drafts.update(selection.id, program, input);
    if (!wasFirst) fillMenu();
  } else {
    selection = { kind: 'draft', id: drafts.create(program, input).id };
    drafts.shown = selection;
    fillMenu();
  }
  saveSoon();
}

function restoreFromFragment() {
  const fromLink = readFragment(location.hash);
  if (!fromLink) return false;
  shared = fromLink;
  selection = { kind: 'shared' };
  fillMenu();
  show(selection);
  return true;
}

examplesMenu.addEventListener('change', () => {
  if (saveTimer) saveNow();
  const choice = selectionOf(examplesMenu.value);
  if (choice.kind !== 'shared' && location.hash) window.history.replaceState(null, '', location.pathname + location.search);
  show(choice);
});
stdinBox.addEventListener('input', edited);
window.addEventListener('hashchange', restoreFromFragment);
window.addEventListener('pagehide', () => saveTimer && saveNow());
document.addEventListener('visibilitychange', () => document.hidden && saveTimer && saveNow());
// Another page of the playground saved: its drafts join this menu.
window.addEventListener('storage', (event) => {
  if (event.storageArea !== storage || (event.key !== null && event.key !== STORAGE_KEY)) return;
  drafts.refresh();
  fillMenu();
});

shareButton.addEventListener('click', async () => {
  const fragment = shareFragment({ program: editor.state.doc.toString(), input: stdinBox.value });
  window.history.replaceState(null, '', fragment);
  const url = location.href;
  $('share-box').hidden = false;
  const field = $('share-url');
  field.value = url;
  field.focus();
  field.select();
  let note = 'Copy the link above';
  try {
    await navigator.clipboard.writeText(url);
    note = 'Link copied';
  } catch {
    // Clipboard access needs a secure page and the user's leave.
  }
  $('share-note').textContent = note;
});

// --- Start --------------------------------------------------------------------

// A shared link wins; otherwise what was shown last, or the newest draft,
// or the first example.
if (!restoreFromFragment()) {
  const choice = [drafts.shown, drafts.all[0] && { kind: 'draft', id: drafts.all[0].id }].find(exists) || {
    kind: 'example',
    name: examples[0].name,
  };
  selection = choice;
  fillMenu();
  show(choice);
}
runner.ready.then(
  () => latestRun === 0 && setStatus('Ready'),
  (error) => setStatus(`The interpreter could not be loaded: ${error.message}`, 'failed'),
);

// The playground page: the editor, the input box, the output panes and the
// controls, all running programs through window.skern.
import { EditorState } from '@codemirror/state';
import {
  EditorView,
  drawSelection,
  highlightActiveLine,
  highlightActiveLineGutter,
  keymap,
  lineNumbers,
} from '@codemirror/view';
// `history` here is the editor's undo history; the page's is window.history.
import { defaultKeymap, history, historyKeymap, indentWithTab } from '@codemirror/commands';
import { bracketMatching, indentUnit } from '@codemirror/language';
import examples from 'skerran:examples';
import { skerran } from './language.js';
import { SkernRunner } from './skern-api.js';
import { readFragment, shareFragment } from './share.js';

// Output beyond this many characters is counted but not shown: the page
// stays quick however much a program writes (run() still returns it all).
const SHOWN_OUTPUT = 1_000_000;

const runner = new SkernRunner();

window.skern = {
  run: (source, stdin, options) => runner.run(source, stdin, options),
  stop: () => runner.stop(),
  ready: runner.ready,
  examples: examples.map(({ name, program, input }) => ({ name, program, input })),
};

const $ = (id) => document.getElementById(id);
const examplesMenu = $('examples');
const runButton = $('run');
const stopButton = $('stop');
const shareButton = $('share');
const stdinBox = $('stdin');
const stdoutPane = $('stdout');
const stderrPane = $('stderr');
const statusLine = $('status');

// --- The editor -------------------------------------------------------------

const editor = new EditorView({
  parent: $('editor'),
  state: EditorState.create({
    doc: '',
    extensions: [
      lineNumbers(),
      highlightActiveLineGutter(),
      history(),
      drawSelection(),
      highlightActiveLine(),
      bracketMatching(),
      EditorState.tabSize.of(4),
      indentUnit.of('    '),
      keymap.of([{ key: 'Mod-Enter', run: () => (runProgram(), true) }, indentWithTab, ...defaultKeymap, ...historyKeymap]),
      skerran(),
      EditorView.contentAttributes.of({ 'aria-label': 'Program', 'aria-describedby': 'editor-hint' }),
    ],
  }),
});

function setProgram(program, input) {
  editor.dispatch({ changes: { from: 0, to: editor.state.doc.length, insert: program } });
  stdinBox.value = input;
}

// --- Output -----------------------------------------------------------------

let shown = 0;
let hidden = 0;
let hiddenNote = null;

function clearOutput() {
  stdoutPane.textContent = '';
  stderrPane.textContent = '';
  shown = 0;
  hidden = 0;
  hiddenNote = null;
}

function appendStdout(text) {
  const follow = stdoutPane.scrollTop + stdoutPane.clientHeight >= stdoutPane.scrollHeight - 4;
  const room = SHOWN_OUTPUT - shown;
  if (text.length <= room) {
    stdoutPane.append(text);
    shown += text.length;
  } else {
    if (room > 0) {
      stdoutPane.append(text.slice(0, room));
      shown += room;
    }
    hidden += text.length - Math.max(room, 0);
    if (!hiddenNote) {
      hiddenNote = document.createElement('span');
      hiddenNote.className = 'note';
      stdoutPane.append('\n', hiddenNote);
    }
    hiddenNote.textContent = `… and ${hidden.toLocaleString('en')} more characters, not shown here`;
  }
  if (follow) stdoutPane.scrollTop = stdoutPane.scrollHeight;
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

let latestRun = 0;

async function runProgram() {
  if (runner.running) runner.stop();
  const run = ++latestRun;
  clearOutput();
  setStatus('Running…', 'running');
  stopButton.disabled = false;
  const started = performance.now();
  const result = await runner.run(editor.state.doc.toString(), stdinBox.value, {
    onStdout: (text) => run === latestRun && appendStdout(text),
  });
  if (run !== latestRun) return;
  stopButton.disabled = true;
  if (result.stopped) {
    setStatus(`Stopped after ${formatTime(performance.now() - started)}`, 'failed');
    return;
  }
  stderrPane.textContent = result.stderr;
  setStatus(`Exit status ${result.status} · ${formatTime(result.time)}`, result.status === 0 ? 'ok' : 'failed');
  // When the first run finished, in milliseconds since the page was opened.
  window.skern.firstRunFinished ??= performance.now();
}

runButton.addEventListener('click', runProgram);
stopButton.addEventListener('click', () => runner.stop());
document.addEventListener('keydown', (event) => {
  if (event.key === 'Enter' && (event.ctrlKey || event.metaKey) && !event.defaultPrevented) {
    event.preventDefault();
    runProgram();
  }
});

// --- Examples and sharing ---------------------------------------------------

const CUSTOM = '';

function fillExamplesMenu() {
  const custom = new Option('Your program', CUSTOM);
  custom.hidden = true;
  examplesMenu.append(custom);
  for (const example of examples) examplesMenu.append(new Option(example.name, example.name));
}

function loadExample(name) {
  const example = examples.find((candidate) => candidate.name === name);
  if (!example) return;
  setProgram(example.program, example.input);
  examplesMenu.value = name;
  clearOutput();
  if (location.hash) window.history.replaceState(null, '', location.pathname + location.search);
}

function restoreFromFragment() {
  const shared = readFragment(location.hash);
  if (!shared) return false;
  setProgram(shared.program, shared.input);
  examplesMenu.value = CUSTOM;
  clearOutput();
  return true;
}

examplesMenu.addEventListener('change', () => loadExample(examplesMenu.value));
window.addEventListener('hashchange', restoreFromFragment);

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

fillExamplesMenu();
if (!restoreFromFragment()) loadExample(examples[0].name);
runner.ready.then(
  () => latestRun === 0 && setStatus('Ready'),
  (error) => setStatus(`The interpreter could not be loaded: ${error.message}`, 'failed'),
);

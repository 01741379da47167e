// The playground's Debug mode: the run is recorded in the worker
// (window.skern.trace), then the page moves through the recording: Step,
// Step over, Step out, Step back, Continue and a slider, the line of each
// step marked in the editor, the call stack with each frame's variables,
// and the output as it stood at that step.
import { clearErrorMark, markError } from './error-mark.js';
import { breakpointLines, showPlace } from './debug-marks.js';
import { continueTo, startOf, stepBack, stepInto, stepOut, stepOver } from './recording.js';

// The longest value shown whole in the variables pane.
const VALUE_SHOWN = 300;

const format = (count) => count.toLocaleString('en');

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function valueCell(value) {
  const cell = element('td', 'value');
  const code = element('code', '', value.length > VALUE_SHOWN ? value.slice(0, VALUE_SHOWN) : value);
  cell.append(code);
  if (value.length > VALUE_SHOWN) cell.append(element('span', 'note', ` … and ${format(value.length - VALUE_SHOWN)} more characters`));
  return cell;
}

function table(caption, columns, rows) {
  const grid = element('table', 'variables');
  grid.append(element('caption', '', caption));
  const head = element('tr');
  for (const column of columns) head.append(Object.assign(element('th', '', column), { scope: 'col' }));
  grid.append(element('thead'), element('tbody'));
  grid.tHead.append(head);
  grid.tBodies[0].append(...rows);
  return grid;
}

export class DebugMode {
  #page;
  #editor;
  #runner;
  #stdout;
  #elements;
  // {steps, stdout, stderr, status, truncated, errorLine, time, running, stopped}
  #recording = null;
  #position = 0;
  #frame = 0;
  #previous = null;
  #recordingRun = 0;

  // `page` gives begin() (ends what runs, gives a token), isCurrent(token),
  // setStatus(text, kind), setBusy(running), formatTime(ms) and the
  // stderr pane; `elements` the controls of the Debug mode by their ids.
  constructor({ page, editor, runner, stdout, elements }) {
    this.#page = page;
    this.#editor = editor;
    this.#runner = runner;
    this.#stdout = stdout;
    this.#elements = elements;
    const { stepBackButton, stepIntoButton, stepOverButton, stepOutButton, continueButton, slider, leaveButton } = elements;
    stepBackButton.addEventListener('click', () => this.stepBack());
    stepIntoButton.addEventListener('click', () => this.stepInto());
    stepOverButton.addEventListener('click', () => this.stepOver());
    stepOutButton.addEventListener('click', () => this.stepOut());
    continueButton.addEventListener('click', () => this.continue());
    slider.addEventListener('input', () => this.#moveTo(Number(slider.value) - 1));
    leaveButton.addEventListener('click', () => this.leave());
  }

  // Whether a recording is shown, or being made.
  get active() {
    return this.#recording !== null || this.#recordingRun !== 0;
  }

  // Records the run of `source` and shows its first step, or the first
  // breakpoint reached when any is set.
  async start(source, stdin) {
    this.leave();
    const run = this.#page.begin();
    this.#recordingRun = run;
    this.#stdout.clear();
    this.#page.stderrPane.textContent = '';
    clearErrorMark(this.#editor);
    this.#page.setStatus('Recording the run…', 'running');
    this.#page.setBusy(true);
    const started = performance.now();
    const result = await this.#runner.trace(source, stdin, {
      // The recording is full and the run goes on: show it meanwhile.
      onRecorded: ({ steps, stdout }) => {
        if (this.#page.isCurrent(run)) this.#enter({ steps, stdout, stderr: '', status: null, truncated: true, errorLine: 0, running: true });
      },
    });
    if (!this.#page.isCurrent(run)) return;
    this.#recordingRun = 0;
    this.#page.setBusy(false);
    if (result.stopped) {
      if (this.#recording) {
        Object.assign(this.#recording, { running: false, stopped: true });
        this.#show();
      } else {
        this.#stdout.setText(result.stdout);
        this.#page.setStatus(`Stopped after ${this.#page.formatTime(performance.now() - started)}`, 'failed');
      }
      return;
    }
    if (result.steps.length === 0) {
      // Nothing ran: a program that does not parse, or an internal failure.
      this.#stdout.setText(result.stdout);
      this.#page.stderrPane.textContent = result.stderr;
      if (result.errorAt) markError(this.#editor, { ...result.errorAt, message: result.stderr.split('\n')[0] });
      this.#page.setStatus(`Exit status ${result.status}`, result.status === 0 ? 'ok' : 'failed');
      return;
    }
    if (this.#recording) {
      // The end of a run that went on past its recording.
      const { stdout, stderr, status, errorLine, time } = result;
      Object.assign(this.#recording, { stdout, stderr, status, errorLine, time, running: false });
      this.#show();
    } else {
      this.#enter({ ...result, running: false });
    }
  }

  // Back to editing: the marks go, the output stays as it is.
  leave() {
    if (this.#recordingRun !== 0) {
      // A recording under way is of no use any more.
      this.#recordingRun = 0;
      this.#page.begin();
      this.#page.setBusy(false);
      this.#page.setStatus('Ready');
    }
    if (!this.#recording) return;
    this.#recording = null;
    this.#page.setStatus('Ready');
    this.#previous = null;
    showPlace(this.#editor, null);
    document.body.classList.remove('debugging');
    this.#elements.bar.hidden = true;
    this.#elements.panel.hidden = true;
  }

  stepInto() {
    this.#move(stepInto);
  }

  stepOver() {
    this.#move(stepOver);
  }

  stepOut() {
    this.#move(stepOut);
  }

  stepBack() {
    this.#move(stepBack);
  }

  continue() {
    this.#move((steps, from) => continueTo(steps, from, breakpointLines(this.#editor.state)));
  }

  // The keys of the Debug mode; gives whether the key was one.
  handleKey(event) {
    if (!this.#recording || event.ctrlKey || event.metaKey || event.altKey) return false;
    const moves = {
      F5: () => this.continue(),
      F8: () => this.stepBack(),
      F10: () => this.stepOver(),
      F11: () => (event.shiftKey ? this.stepOut() : this.stepInto()),
    };
    const move = moves[event.key];
    if (!move || (event.shiftKey && event.key !== 'F11')) return false;
    move();
    return true;
  }

  #enter(recording) {
    this.#recording = recording;
    this.#previous = null;
    document.body.classList.add('debugging');
    this.#elements.bar.hidden = false;
    this.#elements.panel.hidden = false;
    this.#position = -1;
    this.#moveTo(startOf(recording.steps, breakpointLines(this.#editor.state)));
  }

  #move(to) {
    if (this.#recording) this.#moveTo(to(this.#recording.steps, this.#position));
  }

  #moveTo(position) {
    const { steps } = this.#recording;
    const target = Math.max(0, Math.min(position, steps.length));
    this.#previous = this.#position >= 0 && this.#position < steps.length ? steps[this.#position] : null;
    this.#position = target;
    this.#frame = 0;
    this.#show();
  }

  #selectFrame(index) {
    this.#frame = index;
    this.#show();
    this.#elements.stack.querySelectorAll('button')[index]?.focus();
  }

  // Draws the position: controls, editor marks, call stack, variables,
  // output and status.
  #show() {
    const recording = this.#recording;
    const { steps } = recording;
    const at = this.#position;
    const step = at < steps.length ? steps[at] : null;
    const { stepBackButton, stepIntoButton, stepOverButton, stepOutButton, continueButton, slider, position, note } = this.#elements;
    stepBackButton.disabled = at === 0;
    for (const button of [stepIntoButton, stepOverButton, stepOutButton, continueButton]) button.disabled = step === null;
    slider.max = String(steps.length + 1);
    slider.value = String(at + 1);
    const where = step ? `Step ${format(at + 1)} of ${format(steps.length)} · line ${step.line}` : 'End of the run';
    position.textContent = where;
    slider.setAttribute('aria-valuetext', where);
    note.hidden = !recording.truncated;
    note.textContent = recording.truncated ? this.#truncatedNote() : '';

    // The output as it stood before the step, or all of it at the end.
    const length = step ? step.stdoutLength : recording.stdout.length;
    if (length > this.#stdout.length) this.#stdout.append(recording.stdout.slice(this.#stdout.length, length));
    else this.#stdout.truncate(length);
    this.#page.stderrPane.textContent = step ? '' : recording.stderr;

    if (step) {
      const frame = step.frames[this.#frame];
      showPlace(this.#editor, { current: step.line, frame: this.#frame > 0 ? frame.line : 0 });
      clearErrorMark(this.#editor);
      this.#page.setStatus(`Paused at line ${step.line}`, 'running');
    } else {
      showPlace(this.#editor, null);
      if (recording.errorLine > 0) markError(this.#editor, { line: recording.errorLine, message: recording.stderr.split('\n')[0] });
      this.#page.setStatus(...this.#endStatus());
    }
    this.#drawStack(step);
  }

  #truncatedNote() {
    const { steps, running, stopped } = this.#recording;
    const then = running ? 'the run goes on past them…' : stopped ? 'the run went on past them and was stopped' : 'the run went on past them';
    return `The recording holds the first ${format(steps.length)} steps; ${then}`;
  }

  #endStatus() {
    const { status, time, running, stopped } = this.#recording;
    if (running) return ['The run goes on past the recording…', 'running'];
    if (stopped) return ['Stopped after the recording', 'failed'];
    return [`Exit status ${status} · ${this.#page.formatTime(time)}`, status === 0 ? 'ok' : 'failed'];
  }

  #drawStack(step) {
    const { stack, variables } = this.#elements;
    if (!step) {
      const { status, errorLine, running, stopped } = this.#recording;
      let text = `The run has ended with exit status ${status}.`;
      if (running) text = 'The run goes on past the recording.';
      else if (stopped) text = 'The run went on past the recording and was stopped.';
      else if (errorLine > 0) text = `The run ended on line ${errorLine}: ${this.#recording.stderr.split('\n')[0]}`;
      stack.replaceChildren(element('li', 'note', text));
      variables.replaceChildren();
      return;
    }
    const items = step.frames.map((frame, index) => {
      const button = element('button', 'frame');
      button.type = 'button';
      button.setAttribute('aria-pressed', String(index === this.#frame));
      button.append(element('span', 'frame-name', frame.name), ' ', element('span', 'frame-line', `line ${frame.line}`));
      button.addEventListener('click', () => this.#selectFrame(index));
      const item = element('li');
      item.append(button);
      return item;
    });
    if (step.depth > step.frames.length) {
      items.push(element('li', 'note', `… and ${format(step.depth - step.frames.length)} frames more`));
    }
    stack.replaceChildren(...items);
    variables.replaceChildren(...this.#variableTables(step));
  }

  // The picked frame's variables, those that changed since the last step
  // shown marked, then the names it takes from its callers.
  #variableTables(step) {
    const frame = step.frames[this.#frame];
    const before = this.#sameFrameBefore(step);
    const rows = frame.variables.map(({ name, type, value }) => {
      const row = element('tr');
      const old = before?.variables.find((variable) => variable.name === name);
      if (before && (!old || old.value !== value || old.type !== type)) {
        row.className = 'changed';
        row.title = old ? `Was ${old.value}` : 'New at this step';
      }
      row.append(element('th', 'name', name), element('td', 'type', type), valueCell(value));
      row.firstChild.scope = 'row';
      return row;
    });
    const tables = [];
    if (rows.length > 0) tables.push(table(`Variables of ${frame.name}`, ['Name', 'Type', 'Value'], rows));
    else tables.push(element('p', 'note', `${frame.name} has no variables yet.`));
    if (frame.fromCallers.length > 0) {
      const borrowed = frame.fromCallers.map(({ name, type, value, owner }) => {
        const row = element('tr', 'borrowed');
        row.append(element('th', 'name', name));
        row.firstChild.scope = 'row';
        if (owner === undefined) {
          row.append(element('td', 'note unreached', 'not in reach'), element('td'), element('td'));
        } else {
          row.append(element('td', 'type', type), valueCell(value), element('td', 'owner', owner));
        }
        return row;
      });
      tables.push(table('From callers: used here, declared by a caller', ['Name', 'Type', 'Value', 'Declared in'], borrowed));
    }
    return tables;
  }

  // The picked frame as it stood at the step shown before, if that step
  // had the same frame: the same council at the same depth.
  #sameFrameBefore(step) {
    const previous = this.#previous;
    if (!previous) return null;
    const index = this.#frame - (step.depth - previous.depth);
    const frame = previous.frames[index];
    return frame && frame.name === step.frames[this.#frame].name ? frame : null;
  }
}

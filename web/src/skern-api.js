// The page's way to run programs: window.skern.run(source, stdin),
// window.skern.trace(source, stdin), window.skern.format(source) and
// window.skern.stop(). Programs run in
// a Web Worker, one after another; the page's own thread only passes
// messages.
//
// run(source, stdin, {onStdout}) takes texts or UTF-8 bytes (Uint8Array or
// ArrayBuffer) and gives a Promise of {stdout, stderr, status, time}: what
// `skern FILE.skr < INPUT` writes and its exit status (0 or 1); time is the
// run's time in milliseconds. A parse error's result also has errorAt:
// {line, column}, 1-based, the column counted in characters, one past the
// line's end when the error lies there, and 0 when only the line is known.
// onStdout, if given, receives standard output piece by piece while the
// program runs; with keepOutput: false as well, the result's stdout is empty,
// which spares the page a second copy of a large output. A run that stop() ends gives
// {stdout (what it wrote so far), stderr: '', status: null, stopped: true}.
// A runtime error's result has errorAt too, with the line of the statement
// it ended in and the column 0.
//
// trace(source, stdin, {onRecorded}) records the run step by step and gives
// a Promise of {status, stdout, stderr, truncated, errorLine, steps, time}
// (and errorAt for a parse error): steps holds one {line, stdoutLength,
// depth, frames} each time the run reached a statement, stdoutLength being
// the length of stdout before it and depth the number of frames; frames are
// the innermost ones, at most 20, innermost first, each {name, line,
// variables: [{name, type, value}], fromCallers: [{name, type, value,
// owner}]}, fromCallers being the names the frame uses without declaring
// them and the caller's variable each reaches (only the name when none).
// errorLine is the line of the statement a runtime error ended the run in,
// 0 if none. The first 10,000 steps are recorded (fewer when they hold very
// long texts); truncated says that the run went on past them. onRecorded,
// if given, receives {steps, stdout} as soon as the recording is full, while
// the run goes on to its end, however long that takes. A trace that stop()
// ends gives {status: null, stopped: true} with the steps recorded by then,
// if any, and the output so far.

//
// format(source) puts the program into the canonical layout of skern-fmt
// and gives a Promise of {status, text, stderr}: status 0 and the formatted
// text, or status 1, text null and the report that skern-fmt writes (with
// errorAt as for run) for a program that does not parse. It waits for a
// running program, as a run does; stop() ends it with {status: null,
// text: null, stopped: true}.

const encoder = new TextEncoder();

function bytesOf(value) {
  if (value === undefined || value === null) return new Uint8Array(0);
  if (typeof value === 'string') return encoder.encode(value);
  if (value instanceof ArrayBuffer) return new Uint8Array(value.slice(0));
  if (ArrayBuffer.isView(value)) {
    return new Uint8Array(value.buffer.slice(value.byteOffset, value.byteOffset + value.byteLength));
  }
  if (Array.isArray(value)) return Uint8Array.from(value);
  throw new TypeError('skern.run: source and stdin must be texts or bytes');
}

async function compileModule(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`could not load ${url}: HTTP ${response.status}`);
  // A server that does not name the wasm type cannot have it streamed.
  if (WebAssembly.compileStreaming && response.headers.get('Content-Type') === 'application/wasm') {
    return WebAssembly.compileStreaming(response);
  }
  return WebAssembly.compile(await response.arrayBuffer());
}

async function workerScript(url) {
  const response = await fetch(url);
  if (!response.ok) throw new Error(`could not load ${url}: HTTP ${response.status}`);
  // Kept as a blob, with the compiled module: a fresh worker after Stop
  // needs nothing from the network.
  return URL.createObjectURL(new Blob([await response.text()], { type: 'text/javascript' }));
}

// What a run or a trace that did not reach its end had got to: the output
// so far, and for a trace the steps recorded, if it had passed them on.
function ended(run, stderr) {
  if (run.message.type === 'run') return { stdout: run.stdout.join(''), stderr };
  if (run.message.type === 'format') return { text: null, stderr };
  const { recorded } = run;
  return {
    stdout: recorded ? recorded.stdout : '',
    stderr,
    truncated: recorded !== null,
    errorLine: 0,
    steps: recorded ? recorded.steps : [],
  };
}

const failure = (run, stderr) => ({ ...ended(run, stderr), status: 1 });

export class SkernRunner {
  #module;
  #script;
  #worker = null;
  #current;
  #generation = 0;
  #runs = new Map();
  #nextId = 1;

  constructor({ wasmUrl = 'skern.wasm', workerUrl = 'worker.js' } = {}) {
    this.#module = compileModule(wasmUrl);
    this.#script = workerScript(workerUrl);
    this.#current = this.#startWorker();
    // Resolves when the first worker can run programs.
    this.ready = this.#current.then(() => undefined);
  }

  // Whether a program is running or waiting to run.
  get running() {
    return this.#runs.size > 0;
  }

  run(source, stdin = '', { onStdout, keepOutput = true } = {}) {
    return this.#start('run', source, stdin, { onStdout, keep: keepOutput || !onStdout });
  }

  trace(source, stdin = '', { onRecorded } = {}) {
    return this.#start('trace', source, stdin, { onRecorded, recorded: null });
  }

  format(source) {
    return this.#start('format', source, '', {});
  }

  #start(type, source, stdin, fields) {
    const id = this.#nextId++;
    const sourceBytes = bytesOf(source);
    const stdinBytes = bytesOf(stdin);
    return new Promise((resolve) => {
      // The message is kept until the run is done: a worker broken by the run
      // before this one is replaced, and the fresh one is sent it again.
      const message = { type, id, source: sourceBytes, stdin: stdinBytes };
      const run = { resolve, stdout: [], message, ...fields };
      this.#runs.set(id, run);
      this.#send(run);
    });
  }

  #send(run) {
    this.#current.then(
      (worker) => {
        if (this.#runs.get(run.message.id) === run) worker.postMessage(run.message);
      },
      (error) => this.#finish(run.message.id, failure(run, `internal error: ${error.message}\n`)),
    );
  }

  // Ends the running program at once, and those waiting; gives whether there
  // was any. The next run starts in a fresh worker.
  stop() {
    if (this.#runs.size === 0) return false;
    this.#replaceWorker();
    for (const run of this.#runs.values()) run.resolve({ ...ended(run, ''), status: null, stopped: true });
    this.#runs.clear();
    return true;
  }

  #replaceWorker() {
    this.#generation += 1;
    if (this.#worker) this.#worker.terminate();
    this.#worker = null;
    this.#current = this.#startWorker();
    this.#current.catch(() => {});
  }

  async #startWorker() {
    const generation = this.#generation;
    const [script, module] = await Promise.all([this.#script, this.#module]);
    if (generation !== this.#generation) return this.#current;
    const worker = new Worker(script);
    this.#worker = worker;
    await new Promise((resolve, reject) => {
      let started = false;
      worker.onmessage = (event) => {
        if (event.data.type === 'ready') {
          started = true;
          resolve();
        } else {
          this.#receive(worker, event.data);
        }
      };
      worker.onerror = (event) => {
        const reason = event.message || 'the worker failed';
        if (started) this.#lost(worker, reason);
        else reject(new Error(reason));
      };
      worker.postMessage({ type: 'init', module });
    });
    return worker;
  }

  #receive(worker, message) {
    if (worker !== this.#worker) return;
    const run = this.#runs.get(message.id);
    if (!run) return;
    if (message.type === 'stdout') {
      if (run.keep) run.stdout.push(message.text);
      if (run.onStdout) run.onStdout(message.text);
    } else if (message.type === 'done') {
      this.#finish(message.id, {
        stdout: run.stdout.join(''),
        stderr: message.stderr,
        status: message.status,
        time: message.time,
        ...(message.errorAt ? { errorAt: message.errorAt } : {}),
      });
      // A broken module holds its memory, up to the most it may grow to,
      // until the worker ends: end it now, and send the waiting runs on.
      if (message.broken) {
        this.#replaceWorker();
        for (const waiting of this.#runs.values()) this.#send(waiting);
      }
    } else if (message.type === 'recorded') {
      run.recorded = { steps: JSON.parse(message.steps), stdout: message.stdout };
      if (run.onRecorded) run.onRecorded(run.recorded);
    } else if (message.type === 'traced') {
      const result = message.json === null ? failure(run, message.stderr) : JSON.parse(message.json);
      if (result.steps === null) result.steps = run.recorded.steps;
      this.#finish(message.id, { ...result, time: message.time, ...(message.errorAt ? { errorAt: message.errorAt } : {}) });
      if (message.broken) {
        this.#replaceWorker();
        for (const waiting of this.#runs.values()) this.#send(waiting);
      }
    } else if (message.type === 'formatted') {
      this.#finish(message.id, {
        status: message.status,
        text: message.text,
        stderr: message.stderr,
        ...(message.errorAt ? { errorAt: message.errorAt } : {}),
      });
      if (message.broken) {
        this.#replaceWorker();
        for (const waiting of this.#runs.values()) this.#send(waiting);
      }
    } else if (message.type === 'failed') {
      this.#finish(message.id, failure(run, `internal error: ${message.error}\n`));
    }
  }

  // A worker that died takes its runs with it; a fresh one takes the next.
  #lost(worker, reason) {
    if (worker !== this.#worker) return;
    for (const [id, run] of this.#runs) this.#finish(id, failure(run, `internal error: ${reason}\n`));
    this.#replaceWorker();
  }

  #finish(id, result) {
    const run = this.#runs.get(id);
    if (!run) return;
    this.#runs.delete(id);
    run.resolve(result);
  }
}

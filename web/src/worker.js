// Runs Skerran programs in the WebAssembly module, off the page's thread.
//
// The page sends {type: 'init', module} once (a compiled WebAssembly.Module,
// so that a fresh worker needs no download), then {type: 'run', id, source,
// stdin} with both texts as UTF-8 bytes. For each run the worker answers
// with {type: 'stdout', id, text} as output is produced and one
// {type: 'done', id, status, stderr, time, broken, errorAt} at the end,
// errorAt being where the error lies ({line, column}, the column 0 for a
// runtime error's line; or null). {type: 'trace', id, source, stdin}
// records a run for the Debug mode instead: the worker answers with one
// {type: 'traced', id, json, errorAt, stderr, broken, time}, json being the
// recording as JSON text (null if the module broke), and before it, if the
// recording fills up while the run goes on, {type: 'recorded', id, steps,
// stdout}: the steps as JSON text and the output so far (the recording's
// steps are then null in the JSON at the end). {type: 'format', id, source}
// puts the program into canonical layout: the worker answers with one
// {type: 'formatted', id, status, text, stderr, errorAt, broken}, text being
// the formatted program for status 0 (null otherwise). A run that
// breaks the module (out of memory, or an internal error) leaves it unusable:
// the worker then says broken and takes no more runs, and the page ends it,
// which gives the module's memory back at once. The module's loader, which
// defines createSkern, stands before this code in the same file.
/* global createSkern */

// Room for standard output between two pieces passed to the page.
const OUTPUT_CAPACITY = 64 * 1024;

let compiled = null;
let skern = null;
let buffer = 0;
let current = null;

// Thrown by the module when memory runs out; see onOutOfMemory.
class OutOfMemory extends Error {}

function post(message) {
  self.postMessage(message);
}

// The bytes waiting in the output buffer: a 32-bit count, then the bytes.
function takeOutput() {
  const heap = skern.HEAPU8;
  const count = new DataView(heap.buffer, buffer, 4).getUint32(0, true);
  if (count > 0 && current) {
    const text = current.stdout.decode(heap.subarray(buffer + 4, buffer + 4 + count), { stream: true });
    if (text) post({ type: 'stdout', id: current.id, text });
  }
  new DataView(heap.buffer, buffer, 4).setUint32(0, 0, true);
}

async function instantiate() {
  skern = await createSkern({
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(compiled, imports).then((instance) => receive(instance, compiled));
      return {};
    },
    onFlush: takeOutput,
    onErrorAt(line, column) {
      if (current) current.errorAt = { line, column };
    },
    onReport(pointer, size) {
      if (current) current.stderr += textAt(pointer, size);
    },
    onRecorded(steps, stepsSize, output, outputSize) {
      if (current) {
        current.steps = textAt(steps, stepsSize);
        post({ type: 'recorded', id: current.id, steps: current.steps, stdout: textAt(output, outputSize) });
      }
    },
    onTraced(json, size) {
      if (current) current.json = textAt(json, size);
    },
    onFormatted(text, size) {
      if (current) current.text = textAt(text, size);
    },
    onOutOfMemory() {
      throw new OutOfMemory('out of memory');
    },
  });
  buffer = skern._malloc(OUTPUT_CAPACITY);
}

function textAt(pointer, size) {
  return new TextDecoder().decode(skern.HEAPU8.subarray(pointer, pointer + size));
}

// Copies bytes into the module's memory; the caller frees them.
function copyIn(bytes) {
  const pointer = skern._malloc(Math.max(bytes.length, 1));
  skern.HEAPU8.set(bytes, pointer);
  return pointer;
}

async function run({ id, source, stdin }) {
  current = { id, stdout: new TextDecoder(), stderr: '', errorAt: null };
  const sourcePointer = copyIn(source);
  const stdinPointer = copyIn(stdin);
  const started = performance.now();
  let status = 1;
  let broken = false;
  try {
    status = skern._skern_web_run(sourcePointer, source.length, stdinPointer, stdin.length, buffer, OUTPUT_CAPACITY);
  } catch (error) {
    // The module's state is lost: what it wrote so far still counts, and a
    // fresh instance takes the next run.
    broken = true;
    takeOutput();
    if (!(error instanceof OutOfMemory)) {
      current.stderr += `internal error: ${error && error.message ? error.message : error}\n`;
    }
  }
  const time = performance.now() - started;
  const rest = current.stdout.decode();
  if (rest) post({ type: 'stdout', id, text: rest });
  post({ type: 'done', id, status, stderr: current.stderr, time, broken, errorAt: current.errorAt });
  current = null;
  if (broken) {
    skern = null;
  } else {
    skern._free(sourcePointer);
    skern._free(stdinPointer);
  }
}

async function trace({ id, source, stdin }) {
  current = { id, stderr: '', errorAt: null, json: null, steps: null };
  const sourcePointer = copyIn(source);
  const stdinPointer = copyIn(stdin);
  const started = performance.now();
  let broken = false;
  try {
    skern._skern_web_trace(sourcePointer, source.length, stdinPointer, stdin.length);
  } catch (error) {
    broken = true;
    if (!(error instanceof OutOfMemory)) {
      current.stderr += `internal error: ${error && error.message ? error.message : error}\n`;
    }
  }
  const time = performance.now() - started;
  const { stderr, errorAt, steps } = current;
  let { json } = current;
  // The page has the steps already: they are not sent, nor read, twice.
  const tail = steps && `${steps}}`;
  if (tail && json && json.endsWith(tail)) json = `${json.slice(0, json.length - tail.length)}null}`;
  post({ type: 'traced', id, json: broken ? null : json, stderr, errorAt, broken, time });
  current = null;
  if (broken) {
    skern = null;
  } else {
    skern._free(sourcePointer);
    skern._free(stdinPointer);
  }
}

async function format({ id, source }) {
  current = { id, stderr: '', errorAt: null, text: null };
  const sourcePointer = copyIn(source);
  let status = 1;
  let broken = false;
  try {
    status = skern._skern_web_format(sourcePointer, source.length);
  } catch (error) {
    broken = true;
    if (!(error instanceof OutOfMemory)) {
      current.stderr += `internal error: ${error && error.message ? error.message : error}\n`;
    }
  }
  const { text, stderr, errorAt } = current;
  post({ type: 'formatted', id, status, text: broken ? null : text, stderr, errorAt, broken });
  current = null;
  if (broken) {
    skern = null;
  } else {
    skern._free(sourcePointer);
  }
}

// Messages are handled one after another, each after the last has finished.
let queue = Promise.resolve();
self.onmessage = (event) => {
  const message = event.data;
  queue = queue.then(async () => {
    try {
      if (message.type === 'init') {
        compiled = message.module;
        await instantiate();
        post({ type: 'ready' });
      } else if (message.type === 'run' && skern) {
        await run(message);
      } else if (message.type === 'trace' && skern) {
        await trace(message);
      } else if (message.type === 'format' && skern) {
        await format(message);
      }
    } catch (error) {
      post({ type: 'failed', id: message.id, error: String(error && error.message ? error.message : error) });
    }
  });
};

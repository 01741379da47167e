// skern-dap through the client library that debug adapters for VS Code are
// tested with: every request, on small programs whose lines and values are
// known, and a few sessions as a person has them.
//
// SKERN_DAP names the adapter, SKERN the interpreter (for the exit status
// and report that the adapter must match), SKERN_WORK a folder for programs.
import { test, describe, beforeEach, afterEach } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdirSync, writeFileSync } from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';

const require = createRequire(import.meta.url);
const { DebugClient } = require('@vscode/debugadapter-testsupport');

const adapter = process.env.SKERN_DAP;
const skern = process.env.SKERN;
const work = process.env.SKERN_WORK;
mkdirSync(work, { recursive: true });

function program(name, text) {
  const file = path.join(work, name);
  writeFileSync(file, text);
  return file;
}

// Line numbers in the tests are these programs' own.
const council = program(
  'council.skr',
  `we declare add with a, b ->
council says:
    total is a blade with a + b
    speak total
    return total

on the iron throne:
    x is a blade with 1
    y is a blade with add with x, 2
    speak y
    speak "done"
`,
);

const failing = program(
  'failing.skr',
  `on the iron throne:
    speak "one"
    x is a blade with 2
    x = x + "two"
    speak "never"
`,
);

const greeting = program(
  'greeting.skr',
  `on the iron throne:
    name is a scroll with ""
    name speaks for input
    speak "Hail, " + name
`,
);

const deep = program(
  'deep.skr',
  `we declare down with n ->
council says:
    if n == 0:
        return 0
    return down with n - 1

on the iron throne:
    speak down with 20000
`,
);

const endless = program(
  'endless.skr',
  `on the iron throne:
    n is a blade with 0
    the realm marches 1000000000 times:
        n = n + 1
`,
);

const scoping = program(
  'scoping.skr',
  `we declare announce with ->
council says:
    speak "The king is " + king

we declare usurp with ->
council says:
    king is a scroll with "Stannis"
    announce with

on the iron throne:
    king is a scroll with "Robert"
    usurp with
`,
);

// What the command itself gives for a program.
function command(file, input = '') {
  const run = spawnSync(skern, [file], { input, encoding: 'utf8' });
  return { stdout: run.stdout, stderr: run.stderr, status: run.status };
}

// Collects every output event, by category, in order.
function recordOutput(dc) {
  const seen = [];
  dc.on('output', (event) => seen.push(event.body));
  return seen;
}

function textOf(seen, category) {
  return seen
    .filter((body) => body.category === category)
    .map((body) => body.output)
    .join('');
}

async function launched(dc, args, configure = async () => {}) {
  await Promise.all([
    dc.waitForEvent('initialized').then(configure).then(() => dc.configurationDoneRequest()),
    dc.launch(args),
  ]);
}

// Events that come in the same batch as a response are gone before a
// listener made after it: `first` is the stop a test registered for early.
async function stoppedAt(dc, reason, first = dc.waitForEvent('stopped')) {
  const event = await first;
  assert.equal(event.body.reason, reason);
  const trace = await dc.stackTraceRequest({ threadId: 1 });
  return { event, frames: trace.body.stackFrames, total: trace.body.totalFrames };
}

async function variablesOf(dc, frameId) {
  const scopes = await dc.scopesRequest({ frameId });
  const result = {};
  for (const scope of scopes.body.scopes) {
    const list = await dc.variablesRequest({ variablesReference: scope.variablesReference });
    result[scope.name] = list.body.variables.map((v) => `${v.name}:${v.type}=${v.value}`);
  }
  return result;
}

describe('skern-dap', () => {
  let dc;
  beforeEach(async () => {
    dc = new DebugClient(adapter, '--stdio', 'skerran');
    dc.defaultTimeout = 20000;
    await dc.start();
  });
  afterEach(async () => {
    await dc.stop();
  });

  test('initialize answers every capability the editor relies on', async () => {
    const response = await dc.initializeRequest({ adapterID: 'skerran', linesStartAt1: true, columnsStartAt1: true });
    const body = response.body;
    for (const capability of [
      'supportsStepBack',
      'supportsConditionalBreakpoints',
      'supportsHitConditionalBreakpoints',
      'supportsLogPoints',
      'supportsFunctionBreakpoints',
      'supportsEvaluateForHovers',
      'supportsConfigurationDoneRequest',
      'supportsRestartRequest',
      'supportsTerminateRequest',
    ]) {
      assert.equal(body[capability], true, capability);
    }
    assert.deepEqual(
      body.exceptionBreakpointFilters.map((f) => f.filter),
      ['runtime'],
    );
  });

  test('a breakpoint in a council: its frame above the main block, with parameters and types', async () => {
    const first = dc.waitForEvent('stopped');
    await launched(dc, { program: council }, () =>
      dc.setBreakpointsRequest({ source: { path: council }, breakpoints: [{ line: 4 }] }).then((response) => {
        assert.deepEqual(
          response.body.breakpoints.map((b) => [b.verified, b.line]),
          [[true, 4]],
        );
      }),
    );
    const { event, frames, total } = await stoppedAt(dc, 'breakpoint', first);
    assert.equal(event.body.hitBreakpointIds.length, 1);
    assert.equal(total, 2);
    assert.deepEqual(
      frames.map((f) => [f.name, f.line, f.source.path]),
      [
        ['add', 4, council],
        ['on the iron throne', 9, council],
      ],
    );
    assert.deepEqual(await variablesOf(dc, frames[0].id), {
      Locals: ['a:blade, parameter=1', 'b:blade, parameter=2', 'total:blade=3'],
    });
    assert.deepEqual(await variablesOf(dc, frames[1].id), { Locals: ['x:blade=1'] });
    const threads = await dc.threadsRequest();
    assert.equal(threads.body.threads.length, 1);
  });

  test('next, step back to the line before with the earlier values and output, step in and out', async () => {
    const seen = recordOutput(dc);
    const first = dc.waitForEvent('stopped');
    await launched(dc, { program: council }, () =>
      dc.setBreakpointsRequest({ source: { path: council }, breakpoints: [{ line: 10 }] }),
    );
    let { frames } = await stoppedAt(dc, 'breakpoint', first);
    assert.equal(frames[0].line, 10);
    assert.deepEqual(await variablesOf(dc, frames[0].id), { Locals: ['x:blade=1', 'y:blade=3'] });

    await Promise.all([dc.nextRequest({ threadId: 1 }), dc.waitForEvent('stopped')]);
    ({ frames } = await stoppedAtNow(dc));
    assert.equal(frames[0].line, 11);
    assert.equal(textOf(seen, 'stdout'), '3\n3\n');

    // Back over the call on line 9: to line 9 itself, before y existed.
    await stopAfter(dc, dc.stepBackRequest({ threadId: 1 }));
    ({ frames } = await stoppedAtNow(dc));
    assert.equal(frames[0].line, 10);
    await stopAfter(dc, dc.stepBackRequest({ threadId: 1 }));
    ({ frames } = await stoppedAtNow(dc));
    assert.equal(frames[0].line, 9);
    assert.deepEqual(await variablesOf(dc, frames[0].id), { Locals: ['x:blade=1'] });

    await stopAfter(dc, dc.stepInRequest({ threadId: 1 }));
    ({ frames } = await stoppedAtNow(dc));
    assert.deepEqual([frames[0].name, frames[0].line], ['add', 3]);
    await stopAfter(dc, dc.stepOutRequest({ threadId: 1 }));
    ({ frames } = await stoppedAtNow(dc));
    assert.deepEqual([frames[0].name, frames[0].line], ['on the iron throne', 10]);

    const exited = dc.waitForEvent('exited');
    const terminated = dc.waitForEvent('terminated');
    await dc.continueRequest({ threadId: 1 });
    assert.equal((await exited).body.exitCode, 0);
    await terminated;
    // Output already shown is never written again, though the run went back.
    assert.equal(textOf(seen, 'stdout'), '3\n3\ndone\n');
    assert.equal(textOf(seen, 'stdout'), command(council).stdout);
  });

  test('a conditional breakpoint, a hit count, a log point and evaluate in the stopped frame', async () => {
    const loop = program(
      'loop.skr',
      `on the iron throne:
    i is a blade with 0
    the realm marches 5 times:
        i = i + 1
        speak i
    speak "end"
`,
    );
    const seen = recordOutput(dc);
    const first = dc.waitForEvent('stopped');
    await launched(dc, { program: loop }, () =>
      dc.setBreakpointsRequest({
        source: { path: loop },
        breakpoints: [{ line: 5, condition: 'i > 2' }, { line: 4, logMessage: 'round {i + 1}' }],
      }),
    );
    const { frames } = await stoppedAt(dc, 'breakpoint', first);
    const value = await dc.evaluateRequest({ expression: 'i * 10', frameId: frames[0].id, context: 'watch' });
    assert.equal(value.body.result, '30');
    assert.equal(value.body.type, 'blade');
    const hover = await dc.evaluateRequest({ expression: 'i', frameId: frames[0].id, context: 'hover' });
    assert.equal(hover.body.result, '3');
    await assert.rejects(
      dc.evaluateRequest({ expression: 'nobody', frameId: frames[0].id, context: 'watch' }),
      /unknown banner `nobody`/,
    );
    await assert.rejects(dc.evaluateRequest({ expression: 'i +', frameId: frames[0].id }), /expression parse error/);
    // Log lines stand among the program's own output, in the order they came.
    const merged = seen
      .filter((b) => b.category === 'stdout' || b.category === 'console')
      .map((b) => b.output)
      .join('');
    assert.equal(merged, 'round 1\n1\nround 2\n2\nround 3\n');

    await dc.setBreakpointsRequest({ source: { path: loop }, breakpoints: [{ line: 5, hitCondition: '2' }] });
    await Promise.all([dc.continueRequest({ threadId: 1 }), dc.waitForEvent('stopped')]);
    const again = await dc.stackTraceRequest({ threadId: 1 });
    const i = await dc.evaluateRequest({ expression: 'i', frameId: again.body.stackFrames[0].id });
    assert.equal(i.body.result, '5');
  });

  test('a function breakpoint, reverse continue, and breakpoints that cannot be', async () => {
    const first = dc.waitForEvent('stopped');
    await launched(dc, { program: council }, async () => {
      const functions = await dc.setFunctionBreakpointsRequest({ breakpoints: [{ name: 'add' }, { name: 'sub' }] });
      assert.deepEqual(
        functions.body.breakpoints.map((b) => b.verified),
        [true, false],
      );
      assert.match(functions.body.breakpoints[1].message, /no council `sub`/);
      const lines = await dc.setBreakpointsRequest({
        source: { path: council },
        breakpoints: [{ line: 6 }, { line: 40 }, { line: 8, condition: 'x +' }],
      });
      assert.deepEqual(
        lines.body.breakpoints.map((b) => [b.verified, b.line]),
        [
          [true, 8],
          [false, undefined],
          [false, undefined],
        ],
      );
    });
    let { frames } = await stoppedAt(dc, 'breakpoint', first);
    assert.equal(frames[0].line, 8);
    await Promise.all([dc.continueRequest({ threadId: 1 }), dc.waitForEvent('stopped')]);
    ({ frames } = await stoppedAtNow(dc));
    assert.deepEqual([frames[0].name, frames[0].line], ['add', 3]);
    const back = await stoppedAt(dc, 'breakpoint', stopAfter(dc, dc.reverseContinueRequest({ threadId: 1 })));
    assert.equal(back.frames[0].line, 8);
    const start = await stoppedAt(dc, 'entry', stopAfter(dc, dc.reverseContinueRequest({ threadId: 1 })));
    assert.equal(start.frames[0].line, 8);
  });

  test('a runtime error stops at its line; the report and exit status are the command\'s', async () => {
    const seen = recordOutput(dc);
    const first = dc.waitForEvent('stopped');
    await launched(dc, { program: failing }, () => dc.setExceptionBreakpointsRequest({ filters: ['runtime'] }));
    const { event, frames } = await stoppedAt(dc, 'exception', first);
    assert.equal(frames[0].line, 4);
    assert.match(event.body.text, /cannot apply `\+` to blade and scroll/);
    const info = await dc.exceptionInfoRequest({ threadId: 1 });
    assert.equal(info.body.exceptionId, 'runtime error');
    assert.equal(info.body.description, 'runtime error: cannot apply `+` to blade and scroll');
    const exited = dc.waitForEvent('exited');
    const terminated = dc.waitForEvent('terminated');
    await dc.continueRequest({ threadId: 1 });
    const expected = command(failing);
    assert.equal((await exited).body.exitCode, expected.status);
    await terminated;
    assert.equal(textOf(seen, 'stdout'), expected.stdout);
    assert.equal(textOf(seen, 'stderr'), expected.stderr);
  });

  test('without the exception filter the run ends as the command\'s does', async () => {
    const seen = recordOutput(dc);
    const exited = dc.waitForEvent('exited');
    await launched(dc, { program: failing }, () => dc.setExceptionBreakpointsRequest({ filters: [] }));
    assert.equal((await exited).body.exitCode, 1);
    assert.equal(textOf(seen, 'stderr'), command(failing).stderr);
  });

  test('launch input reaches the program, from the launch and from a file', async () => {
    const seen = recordOutput(dc);
    const exited = dc.waitForEvent('exited');
    await launched(dc, { program: greeting, input: 'Arya\n' });
    assert.equal((await exited).body.exitCode, 0);
    assert.equal(textOf(seen, 'stdout'), 'Hail, Arya\n');

    const inputFile = path.join(work, 'greeting.stdin');
    writeFileSync(inputFile, 'Sansa\n');
    const second = new DebugClient(adapter, '--stdio', 'skerran');
    await second.start();
    const secondSeen = recordOutput(second);
    const secondExited = second.waitForEvent('exited');
    await launched(second, { program: greeting, inputFile });
    await secondExited;
    assert.equal(textOf(secondSeen, 'stdout'), 'Hail, Sansa\n');
    await second.stop();
  });

  test('a stack 20,000 calls deep is paged, and never sent whole', async () => {
    const first = dc.waitForEvent('stopped');
    await launched(dc, { program: deep }, () =>
      dc.setBreakpointsRequest({ source: { path: deep }, breakpoints: [{ line: 4 }] }),
    );
    await first;
    const top = await dc.stackTraceRequest({ threadId: 1, startFrame: 0, levels: 20 });
    assert.equal(top.body.totalFrames, 20002);
    assert.equal(top.body.stackFrames.length, 20);
    assert.deepEqual(
      top.body.stackFrames.slice(0, 2).map((f) => f.line),
      [4, 5],
    );
    const last = await dc.stackTraceRequest({ threadId: 1, startFrame: 20000, levels: 20 });
    assert.deepEqual(
      last.body.stackFrames.map((f) => [f.name, f.line]),
      [
        ['down', 5],
        ['on the iron throne', 8],
      ],
    );
    const all = await dc.stackTraceRequest({ threadId: 1 });
    assert.ok(all.body.stackFrames.length <= 1000);
    assert.equal(all.body.totalFrames, 20002);
    const middle = await variablesOf(dc, last.body.stackFrames[0].id);
    assert.deepEqual(middle, { Locals: ['n:blade, parameter=20000'] });
  });

  test('names from callers show whose variable they reach', async () => {
    const first = dc.waitForEvent('stopped');
    await launched(dc, { program: scoping }, () =>
      dc.setBreakpointsRequest({ source: { path: scoping }, breakpoints: [{ line: 3 }] }),
    );
    const { frames } = await stoppedAt(dc, 'breakpoint', first);
    assert.deepEqual(await variablesOf(dc, frames[0].id), {
      Locals: [],
      'From callers': ['king:scroll, of usurp (frame 2)=Stannis'],
    });
    const main = await dc.evaluateRequest({ expression: 'king', frameId: frames[2].id });
    assert.equal(main.body.result, 'Robert');
  });

  test('pause stops a running program, restart runs it again, terminate ends it', async () => {
    await launched(dc, { program: endless });
    await new Promise((resolve) => setTimeout(resolve, 200));
    const paused = await stoppedAt(dc, 'pause', stopAfter(dc, dc.pauseRequest({ threadId: 1 })));
    assert.ok([3, 4].includes(paused.frames[0].line));
    const later = await dc.evaluateRequest({ expression: 'n', frameId: paused.frames[0].id });
    assert.ok(Number(later.body.result) > 0);

    await dc.restartRequest({});
    await new Promise((resolve) => setTimeout(resolve, 100));
    const again = await stoppedAt(dc, 'pause', stopAfter(dc, dc.pauseRequest({ threadId: 1 })));
    const fresh = await dc.evaluateRequest({ expression: 'n', frameId: again.frames[0].id });
    assert.ok(Number(fresh.body.result) >= 0);

    const terminated = dc.waitForEvent('terminated');
    await dc.terminateRequest({});
    await terminated;
  });

  test('a parse error ends the launch with the command\'s report', async () => {
    const broken = program('broken.skr', 'on the iron throne:\n    speak 1 +\n');
    const seen = recordOutput(dc);
    const exited = dc.waitForEvent('exited');
    const terminated = dc.waitForEvent('terminated');
    await dc.launch({ program: broken });
    assert.equal((await exited).body.exitCode, 1);
    await terminated;
    assert.equal(textOf(seen, 'stderr'), command(broken).stderr);
    const missing = new DebugClient(adapter, '--stdio', 'skerran');
    await missing.start();
    const missingSeen = recordOutput(missing);
    const missingExited = missing.waitForEvent('exited');
    await missing.launch({ program: path.join(work, 'no-such.skr') });
    assert.equal((await missingExited).body.exitCode, 1);
    assert.match(textOf(missingSeen, 'stderr'), /^I\/O error: /);
    await missing.stop();
  });

  test('bad requests are answered unsuccessfully and the adapter carries on', async () => {
    await dc.initializeRequest({ adapterID: 'skerran' });
    await assert.rejects(dc.customRequest('frobnicate'), /unknown request `frobnicate`/);
    await assert.rejects(dc.launchRequest({}), /needs `program`/);
    await assert.rejects(dc.launchRequest({ program: 42 }), /wrong type/);
    await assert.rejects(dc.stackTraceRequest({ threadId: 1 }), /launched program/);
    await assert.rejects(dc.variablesRequest({ variablesReference: 99 }), /launched program/);
    const first = dc.waitForEvent('stopped');
    await launched(dc, { program: council, stopOnEntry: true });
    const entry = await stoppedAt(dc, 'entry', first);
    assert.equal(entry.frames[0].line, 8);
    await assert.rejects(dc.variablesRequest({ variablesReference: 99 }), /no variables 99/);
    await assert.rejects(dc.scopesRequest({ frameId: 7 }), /no frame 7/);
    await assert.rejects(dc.setBreakpointsRequest({ source: { path: council }, breakpoints: [{ line: 'x' }] }), /malformed/);
    await assert.rejects(dc.exceptionInfoRequest({ threadId: 1 }), /did not stop at an error/);
    // Junk on the wire, then a request in the same write: it is still answered.
    dc.outputStream.write('garbage\r\n');
    const threads = await dc.threadsRequest();
    assert.equal(threads.body.threads[0].id, 1);
  });
});

// The stop a request leads to, listened for as the request is sent.
function stopAfter(dc, request) {
  const stopped = dc.waitForEvent('stopped');
  return request.then(() => stopped);
}

// Where the program stands now that the last command's stop has come.
async function stoppedAtNow(dc) {
  const trace = await dc.stackTraceRequest({ threadId: 1 });
  return { frames: trace.body.stackFrames };
}

describe('skern-dap over raw bytes', () => {
  // Frames a body as the protocol does.
  const framed = (body) => `Content-Length: ${Buffer.byteLength(body)}\r\n\r\n${body}`;

  function converse(bytes) {
    return new Promise((resolve, reject) => {
      const child = spawn(adapter, [], { stdio: ['pipe', 'pipe', 'inherit'] });
      let out = '';
      child.stdout.on('data', (data) => {
        out += data.toString('utf8');
      });
      child.on('error', reject);
      child.on('close', (status) => resolve({ out, status }));
      child.stdin.end(bytes);
    });
  }

  function bodies(out) {
    const messages = [];
    let rest = out;
    while (rest.length > 0) {
      const match = /^Content-Length: (\d+)\r\n\r\n/.exec(rest);
      assert.ok(match, `not a framed message: ${rest.slice(0, 40)}`);
      const start = match[0].length;
      const length = Number(match[1]);
      messages.push(JSON.parse(rest.slice(start, start + length)));
      rest = rest.slice(start + length);
    }
    return messages;
  }

  test('malformed messages never end the conversation', async () => {
    const request = (seq, command, args) => framed(JSON.stringify({ seq, type: 'request', command, arguments: args }));
    const bytes =
      '\r\n' +
      request(1, 'initialize', { adapterID: 'skerran' }) +
      'garbage' +
      request(2, 'threads') +
      framed('{not json') +
      framed('[1, 2]') +
      framed(JSON.stringify({ seq: 3, type: 'request' })) +
      framed(JSON.stringify({ seq: 4, type: 'request', command: 'launch', arguments: 'nonsense' })) +
      `Content-Length: ${'9'.repeat(30)}\r\n\r\n` +
      request(5, 'disconnect');
    const { out, status } = await converse(bytes);
    assert.equal(status, 0);
    const responses = bodies(out).filter((m) => m.type === 'response');
    assert.deepEqual(
      responses.map((m) => [m.request_seq, m.command, m.success]),
      [
        [1, 'initialize', true],
        [2, 'threads', true],
        [3, '', false],
        [4, 'launch', false],
        [5, 'disconnect', true],
      ],
    );
  });
});

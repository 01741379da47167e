// The VS Code extension's client side, loaded under Node.js with stand-ins
// for the `vscode` module and vscode-languageclient (VS Code itself is not
// run): it starts skern-lsp as configured, restarts it when the setting
// changes, and says so when it cannot start it. The manifest pins the client
// library exactly, as the lock file does.
// Usage: node extension.test.js <source-dir>
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const Module = require('node:module');

const sourceDir = process.argv[2];
const extensionDir = path.join(sourceDir, 'editors', 'vscode');

// What the stand-ins saw.
let settings = {};
let clients = [];
let warnings = [];
let configurationListeners = [];
let failStart = false;
let debugRegistrations = {};
let activeEditor;

class FakeClient {
  constructor(id, name, serverOptions, clientOptions) {
    Object.assign(this, { id, name, serverOptions, clientOptions, started: false, stopped: false });
    clients.push(this);
  }
  start() {
    if (failStart) {
      return Promise.reject(new Error('spawn skern-lsp ENOENT'));
    }
    this.started = true;
    return Promise.resolve();
  }
  stop() {
    this.stopped = true;
    return Promise.resolve();
  }
}

const fakes = {
  vscode: {
    workspace: {
      getConfiguration: (section) => ({
        get: (key, fallback) => (`${section}.${key}` in settings ? settings[`${section}.${key}`] : fallback),
      }),
      onDidChangeConfiguration: (listener) => {
        configurationListeners.push(listener);
        return { dispose() {} };
      },
    },
    window: {
      showWarningMessage: (text) => warnings.push(text),
      get activeTextEditor() {
        return activeEditor;
      },
    },
    debug: {
      registerDebugAdapterDescriptorFactory: (type, factory) => {
        debugRegistrations[`factory:${type}`] = factory;
        return { dispose() {} };
      },
      registerDebugConfigurationProvider: (type, provider) => {
        debugRegistrations[`provider:${type}`] = provider;
        return { dispose() {} };
      },
    },
    DebugAdapterExecutable: class {
      constructor(command, args) {
        Object.assign(this, { command, args });
      }
    },
  },
  'vscode-languageclient/node': { LanguageClient: FakeClient, TransportKind: { stdio: 0, ipc: 1 } },
};
const originalLoad = Module._load;
Module._load = function load(request, parent, isMain) {
  return request in fakes ? fakes[request] : originalLoad.call(this, request, parent, isMain);
};

function fresh() {
  settings = {};
  clients = [];
  warnings = [];
  configurationListeners = [];
  failStart = false;
  debugRegistrations = {};
  activeEditor = undefined;
  const file = require.resolve(path.join(extensionDir, 'extension.js'));
  delete require.cache[file];
  return require(file);
}

const context = () => ({ subscriptions: [] });

test('starts skern-lsp over standard input and output for Skerran files', async () => {
  const extension = fresh();
  await extension.activate(context());
  assert.strictEqual(clients.length, 1);
  const [client] = clients;
  assert.ok(client.started);
  assert.deepStrictEqual(client.serverOptions.run, { command: 'skern-lsp', transport: 0 });
  assert.ok(client.clientOptions.documentSelector.some((s) => s.language === 'skerran' && s.scheme === 'file'));
  await extension.deactivate();
  assert.ok(client.stopped);
});

test('uses the configured path and restarts when it changes', async () => {
  const extension = fresh();
  settings['skerran.server.path'] = '/opt/skern/bin/skern-lsp';
  await extension.activate(context());
  assert.strictEqual(clients[0].serverOptions.run.command, '/opt/skern/bin/skern-lsp');
  settings['skerran.server.path'] = '/usr/bin/skern-lsp';
  for (const listener of configurationListeners) {
    await listener({ affectsConfiguration: (key) => key === 'skerran.server.path' });
  }
  assert.strictEqual(clients.length, 2);
  assert.ok(clients[0].stopped);
  assert.strictEqual(clients[1].serverOptions.run.command, '/usr/bin/skern-lsp');
  assert.ok(clients[1].started);
});

test('an empty path turns the server off', async () => {
  const extension = fresh();
  settings['skerran.server.path'] = '';
  await extension.activate(context());
  assert.strictEqual(clients.length, 0);
});

test('a server that cannot start gives a warning, not a failure', async () => {
  const extension = fresh();
  failStart = true;
  await extension.activate(context());
  assert.strictEqual(warnings.length, 1);
  assert.match(warnings[0], /skerran\.server\.path/);
  await extension.deactivate();
});

test('the client library is pinned exactly, in the manifest and the lock file', () => {
  const manifest = JSON.parse(fs.readFileSync(path.join(extensionDir, 'package.json'), 'utf8'));
  const lock = JSON.parse(fs.readFileSync(path.join(extensionDir, 'package-lock.json'), 'utf8'));
  assert.strictEqual(manifest.main, './extension.js');
  const pinned = manifest.dependencies['vscode-languageclient'];
  assert.match(pinned, /^\d+\.\d+\.\d+$/);
  assert.strictEqual(lock.packages['node_modules/vscode-languageclient'].version, pinned);
  assert.strictEqual(lock.packages[''].dependencies['vscode-languageclient'], pinned);
});

test('debugs with skern-dap as configured, and F5 on a .skr file debugs that file', async () => {
  const extension = fresh();
  await extension.activate(context());
  const factory = debugRegistrations['factory:skerran'];
  const provider = debugRegistrations['provider:skerran'];
  assert.ok(factory && provider);
  const descriptor = factory.createDebugAdapterDescriptor({});
  assert.deepStrictEqual([descriptor.constructor.name, descriptor.command, descriptor.args], ['DebugAdapterExecutable', 'skern-dap', []]);
  settings['skerran.debugger.path'] = '/opt/skern/bin/skern-dap';
  assert.strictEqual(factory.createDebugAdapterDescriptor({}).command, '/opt/skern/bin/skern-dap');

  activeEditor = { document: { languageId: 'skerran' } };
  assert.deepStrictEqual(provider.resolveDebugConfiguration(undefined, {}), {
    type: 'skerran',
    request: 'launch',
    name: 'Debug this Skerran file',
    program: '${file}',
  });
  const given = { type: 'skerran', request: 'launch', name: 'x', program: 'a.skr', input: '3\n' };
  assert.strictEqual(provider.resolveDebugConfiguration(undefined, given), given);
  assert.strictEqual(provider.resolveDebugConfiguration(undefined, { type: 'skerran', request: 'launch', name: 'x' }), undefined);
  assert.match(warnings.at(-1), /needs `program`/);
  await extension.deactivate();
});

test('the manifest contributes the skerran debugger, its launch snippet and breakpoints in .skr files', () => {
  const manifest = JSON.parse(fs.readFileSync(path.join(extensionDir, 'package.json'), 'utf8'));
  const [debuggerEntry] = manifest.contributes.debuggers;
  assert.strictEqual(debuggerEntry.type, 'skerran');
  assert.deepStrictEqual(manifest.contributes.breakpoints, [{ language: 'skerran' }]);
  const launch = debuggerEntry.configurationAttributes.launch;
  assert.deepStrictEqual(launch.required, ['program']);
  assert.deepStrictEqual(Object.keys(launch.properties).sort(), ['input', 'inputFile', 'program', 'stopOnEntry']);
  assert.strictEqual(debuggerEntry.configurationSnippets[0].body.type, 'skerran');
  assert.strictEqual(debuggerEntry.initialConfigurations[0].program, '${file}');
  assert.ok(manifest.activationEvents.includes('onDebugResolve:skerran'));
});

// Starts skern-lsp, the Skerran language server, for .skr files: errors as
// you type, warnings for calls that cannot succeed, outline, definitions,
// references, hover and completion; and runs skern-dap, the debug adapter,
// for the `skerran` debug type. The highlighting needs none of this.
"use strict";

const vscode = require("vscode");
const { LanguageClient, TransportKind } = require("vscode-languageclient/node");

let client;

function serverPath() {
  return vscode.workspace.getConfiguration("skerran").get("server.path", "skern-lsp");
}

async function start(context) {
  const command = serverPath();
  if (!command) {
    return; // turned off in the settings
  }
  const executable = { command, transport: TransportKind.stdio };
  client = new LanguageClient(
    "skerran",
    "Skerran language server",
    { run: executable, debug: executable },
    { documentSelector: [{ scheme: "file", language: "skerran" }, { scheme: "untitled", language: "skerran" }] },
  );
  try {
    await client.start();
  } catch (error) {
    client = undefined;
    vscode.window.showWarningMessage(
      `Skerran: could not start the language server \`${command}\` (${error.message}); ` +
        "set skerran.server.path to the skern-lsp executable.",
    );
  }
  context.subscriptions.push({ dispose: () => stop() });
}

function stop() {
  const running = client;
  client = undefined;
  return running ? running.stop() : undefined;
}

// The debug adapter for each session: skern-dap as configured.
const adapterFactory = {
  createDebugAdapterDescriptor() {
    const command = vscode.workspace.getConfiguration("skerran").get("debugger.path", "skern-dap") || "skern-dap";
    return new vscode.DebugAdapterExecutable(command, []);
  },
};

// F5 on a .skr file without a launch.json debugs that file.
const configurationProvider = {
  resolveDebugConfiguration(folder, config) {
    if (!config.type && !config.request && !config.name) {
      const editor = vscode.window.activeTextEditor;
      if (editor && editor.document.languageId === "skerran") {
        return { type: "skerran", request: "launch", name: "Debug this Skerran file", program: "${file}" };
      }
    }
    if (!config.program) {
      vscode.window.showWarningMessage("Skerran: the launch configuration needs `program`, the .skr file to debug.");
      return undefined; // ends the launch
    }
    return config;
  },
};

async function activate(context) {
  context.subscriptions.push(
    vscode.debug.registerDebugAdapterDescriptorFactory("skerran", adapterFactory),
    vscode.debug.registerDebugConfigurationProvider("skerran", configurationProvider),
  );
  await start(context);
  // A new path takes effect at once.
  context.subscriptions.push(
    vscode.workspace.onDidChangeConfiguration(async (event) => {
      if (event.affectsConfiguration("skerran.server.path")) {
        await stop();
        await start(context);
      }
    }),
  );
}

function deactivate() {
  return stop();
}

module.exports = { activate, deactivate };

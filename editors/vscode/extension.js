// Starts the installed qorbls for 68HC12 and 68HC11 sources. Everything the
// editor shows (messages, definitions, hover, colours) comes from the server.
'use strict';

const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

function activate(context) {
  const command = vscode.workspace.getConfiguration('qorbls').get('path') || 'qorbls';
  const serverOptions = { run: { command }, debug: { command } };
  const clientOptions = {
    documentSelector: [
      { scheme: 'file', language: 'hc12asm' },
      { scheme: 'file', language: 'hc11asm' },
    ],
    synchronize: {
      fileEvents: vscode.workspace.createFileSystemWatcher('**/{qorb.toml,.qorb.toml}'),
    },
  };
  client = new LanguageClient('qorbls', '68HC12/68HC11 Assembler', serverOptions, clientOptions);
  client.start().catch((err) => {
    vscode.window.showErrorMessage(
      `Could not start the language server '${command}' (${err.message || err}). ` +
        'Install qorbls or set "qorbls.path".');
  });
  context.subscriptions.push({ dispose: () => client && client.stop() });
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };

// Helpers for the runtime-prelude tests: a stand-in runtime service on 127.0.0.1, the prelude
// text as ovrac writes it, and a way to run that text in a fresh global environment.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import vm from 'node:vm';

export const ovrac = process.env.OVRAC;
export const sourceDir = process.env.OVRA_SOURCE_DIR;
export const tsc = sourceDir && path.join(sourceDir, 'tests', 'node', 'node_modules', '.bin', 'tsc');

// Stops the service after this long without a request, so a forgotten one never lingers.
const kIdleStopMs = 30000;

// Answers every POST through `service.answer(path, body)`, which returns
// { status, statusMessage, text } or { json }; by default the answer is empty. Every request is
// recorded as { method, url, headers, body (parsed JSON) }.
export async function startService() {
  const service = {
    requests: [],
    answer: () => ({ text: '' }),
  };
  let idleTimer;
  const server = http.createServer((req, res) => {
    const chunks = [];
    req.on('data', (chunk) => chunks.push(chunk));
    req.on('end', () => {
      const raw = Buffer.concat(chunks).toString('utf8');
      let body;
      try {
        body = raw ? JSON.parse(raw) : undefined;
      } catch {
        body = raw;
      }
      service.requests.push({ method: req.method, url: req.url, headers: req.headers, body, raw });
      const answer = service.answer(req.url, body) ?? { text: '' };
      const text = answer.json !== undefined ? JSON.stringify(answer.json) : answer.text ?? '';
      res.writeHead(answer.status ?? 200, answer.statusMessage ?? '', {
        'Content-Type': 'application/json',
      });
      res.end(text);
      armIdleStop();
    });
  });
  function armIdleStop() {
    clearTimeout(idleTimer);
    idleTimer = setTimeout(() => server.close(), kIdleStopMs);
    idleTimer.unref();
  }
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  server.unref();
  armIdleStop();
  service.url = `http://127.0.0.1:${server.address().port}`;
  service.close = () => {
    clearTimeout(idleTimer);
    server.closeAllConnections?.();
    return new Promise((resolve) => server.close(() => resolve()));
  };
  // The last request, after the member's promise has settled.
  service.last = () => service.requests[service.requests.length - 1];
  return service;
}

export function scratchDir() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'ovra-prelude-'));
}

// Compiles an Ovra program with ovrac and returns the output text.
export function compile(source, args = []) {
  assert.ok(ovrac, 'OVRAC must name the ovrac program');
  const dir = scratchDir();
  const input = path.join(dir, 'main.ovra');
  const ext = args.includes('--ts') ? 'ts' : 'js';
  const output = path.join(dir, `main.${ext}`);
  fs.writeFileSync(input, source);
  execFileSync(ovrac, [input, output, ...args], { stdio: 'pipe' });
  return { dir, output, text: fs.readFileSync(output, 'utf8') };
}

let cachedPrelude;
// The prelude exactly as it stands at the top of a compiled program.
export function preludeText() {
  if (cachedPrelude === undefined) {
    const { text } = compile('ovra.log("x");\n');
    const end = text.indexOf('\n})();\n');
    assert.ok(text.startsWith('(function() {') && end > 0, 'output starts with the prelude');
    cachedPrelude = text.slice(0, end + '\n})();\n\n'.length);
    assert.equal(text.slice(cachedPrelude.length), 'ovra.log("x");\n\n');
  }
  return cachedPrelude;
}

// Runs the prelude in a fresh global environment and returns that environment. `host` is
// 'node' (process and require present), 'browser' (window with fetch and location) or 'bare'.
export function runPrelude({ host = 'node', url, env, window, extra = {}, times = 1 } = {}) {
  const sandbox = { console, URL, Buffer, setTimeout, clearTimeout, ...extra };
  if (host === 'node') {
    sandbox.process = {
      versions: process.versions,
      env: env ?? (url === undefined ? {} : { OVRA_RUNTIME_URL: url }),
    };
    sandbox.require = createRequire(import.meta.url);
  } else if (host === 'browser') {
    sandbox.window = window ?? { fetch, location: { origin: url } };
  }
  vm.createContext(sandbox);
  for (let i = 0; i < times; ++i) vm.runInContext(preludeText(), sandbox);
  return sandbox;
}

// A value from the prelude's environment as plain data of this one (arrays and objects of
// another environment have other prototypes).
export function plain(value) {
  return value === undefined ? undefined : JSON.parse(JSON.stringify(value));
}

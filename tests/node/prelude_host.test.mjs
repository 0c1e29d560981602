// The runtime prelude's transport and hosts: the request itself, the base address, failure
// messages, the browser path, the load guard, publication, compiled programs run by node, and
// TypeScript output accepted by tsc.
import assert from 'node:assert/strict';
import { execFile, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { promisify } from 'node:util';
import vm from 'node:vm';

import { compile, preludeText, runPrelude, startService, tsc } from './prelude_service.mjs';

let service;
before(async () => {
  service = await startService();
});
after(() => service.close());

test('requests are JSON POSTs with the byte length of the payload', async () => {
  const { ovra } = runPrelude({ url: service.url });
  service.answer = () => ({ json: { content: 'é ✓ 文字' } });
  assert.equal(await ovra.readText('é✓'), 'é ✓ 文字', 'the answer is decoded as UTF-8');
  const request = service.last();
  assert.equal(request.method, 'POST');
  assert.equal(request.headers['content-type'], 'application/json');
  assert.equal(request.raw, JSON.stringify({ path: 'é✓' }));
  assert.equal(Number(request.headers['content-length']), Buffer.byteLength(request.raw));
});

test('the base address comes from OVRA_RUNTIME_URL without a doubled slash', async () => {
  service.answer = () => ({ json: { cwd: '/w' } });
  const rows = [
    { env: service.url, url: '/fs/cwd' },
    { env: `${service.url}/`, url: '/fs/cwd' },
    { env: `${service.url}/runtime/`, url: '/runtime/fs/cwd' },
    { env: `${service.url}/runtime?x=1`, url: '/runtime?x=1/fs/cwd' },
  ];
  for (const row of rows) {
    const { ovra } = runPrelude({ url: row.env });
    assert.equal(await ovra.cwd(), '/w', row.env);
    assert.equal(service.last().url, row.url, row.env);
  }
});

test('failures reject with the runtime messages', async () => {
  const { ovra } = runPrelude({ url: service.url });
  const notJson = `<html>${'x'.repeat(300)}</html>`;
  let parseMessage;
  try {
    JSON.parse(notJson);
  } catch (err) {
    parseMessage = err.message;
  }
  const rows = [
    { answer: { status: 500, text: 'boom' }, message: '[Ovra Runtime] HTTP 500: boom' },
    { answer: { status: 503, statusMessage: 'Busy', text: '' },
      message: '[Ovra Runtime] HTTP 503: Busy' },
    { answer: { status: 404, text: '{"error":"gone"}' },
      message: '[Ovra Runtime] HTTP 404: {"error":"gone"}' },
    { answer: { text: notJson },
      message: `[Ovra Runtime] Failed to parse response: ${parseMessage}. Response: ${notJson.substring(0, 200)}` },
  ];
  for (const row of rows) {
    service.answer = () => row.answer;
    await assert.rejects(ovra.exists('p'), { message: row.message });
  }

  // A request that cannot be sent rejects with the transport's own error.
  const closed = await startService();
  await closed.close();
  const unreachable = runPrelude({ url: closed.url }).ovra;
  await assert.rejects(unreachable.readText('p'), { code: 'ECONNREFUSED' });

  const bare = runPrelude({ host: 'bare' }).ovra;
  await assert.rejects(bare.readText('p'), {
    message: '[Ovra Runtime] Unsupported environment: neither browser nor Node.js',
  });
  // Even a member that builds its body from a throwing value answers with a rejection.
  await assert.rejects(ovra.respText('r', { toString: () => { throw new Error('no text'); } }), {
    message: 'no text',
  });
});

test('in a browser the prelude uses fetch and the page origin', async () => {
  const calls = [];
  function recordingFetch(url, init) {
    calls.push({ url, init });
    return fetch(url, init);
  }
  service.answer = () => ({ json: { exists: true } });
  const page = runPrelude({ host: 'browser', window: { fetch: recordingFetch,
    location: { origin: service.url } } }).ovra;
  assert.equal(await page.exists('p'), true);
  assert.equal(calls[0].url, `${service.url}/fs/exists`);
  assert.equal(calls[0].init.method, 'POST');
  assert.equal(calls[0].init.credentials, 'same-origin');
  assert.equal(calls[0].init.headers['Content-Type'], 'application/json');
  assert.equal(calls[0].init.body, '{"path":"p"}');

  // window.OVRA_RUNTIME_URL wins over the origin; its trailing slash is dropped.
  const configured = runPrelude({ host: 'browser', window: { fetch: recordingFetch,
    location: { origin: 'http://127.0.0.1:1' }, OVRA_RUNTIME_URL: `${service.url}/` } }).ovra;
  service.answer = () => ({ text: '' });
  assert.equal(await configured.exists('p'), false, 'an empty answer is null');
  assert.equal(calls[1].url, `${service.url}/fs/exists`);

  service.answer = () => ({ status: 500, text: 'boom' });
  await assert.rejects(configured.exists('p'), { message: '[Ovra Runtime] HTTP 500: boom' });
  service.answer = () => ({ status: 502, statusMessage: 'Bad Gateway', text: '' });
  await assert.rejects(configured.exists('p'), { message: '[Ovra Runtime] HTTP 502: Bad Gateway' });
  service.answer = () => ({ text: 'not json' });
  await assert.rejects(configured.exists('p'), /^Error: \[Ovra Runtime\] Failed to parse response: .*\. Response: not json$/);
});

test('the load guard keeps the first ovra', () => {
  const environment = runPrelude({ url: service.url });
  const first = environment.ovra;
  assert.equal(environment.__ovra_runtime_loaded, true);
  vm.runInContext(preludeText(), environment);
  assert.equal(environment.ovra, first, 'a second copy defines nothing');

  const marked = runPrelude({ url: service.url, extra: { __ovra_runtime_loaded: false } });
  assert.equal(marked.ovra, undefined, 'a defined flag, even false, stops the prelude');
});

test('publication on globalThis, module.exports and exports', () => {
  const module = { exports: {} };
  const originalExports = module.exports;
  const commonjs = runPrelude({ url: service.url, extra: { module, exports: originalExports } });
  assert.equal(typeof commonjs.ovra.readText, 'function');
  assert.equal(module.exports, commonjs.ovra);
  assert.equal(originalExports.ovra, commonjs.ovra);
  assert.equal(originalExports.default, commonjs.ovra);

  const exportsOnly = {};
  const other = runPrelude({ url: service.url, extra: { exports: exportsOnly } });
  assert.equal(exportsOnly.ovra, other.ovra);
  assert.equal(exportsOnly.default, other.ovra);
});

const run = promisify(execFile);

test('a compiled program talks to the service and exports ovra under node', async () => {
  const { dir, output } = compile([
    'let name: string = "ovra";',
    'ovra.io.print("hello", name);',
    'let n = ovra.exec("true");',
    'ovra.db.connect("sqlite", "app.db");',
    '',
  ].join('\n'));
  service.answer = () => ({ text: '' });
  const before = service.requests.length;
  await run(process.execPath, [output], {
    env: { ...process.env, OVRA_RUNTIME_URL: `${service.url}/` },
  });
  const received = service.requests.slice(before).map((r) => [r.url, r.body]);
  received.sort((a, b) => a[0].localeCompare(b[0]));
  assert.deepEqual(received, [
    ['/db/connect', { kind: 'sqlite', url: 'app.db' }],
    ['/exec/exec', { cmd: 'true' }],
    ['/io/print', { args: ['hello', 'ovra'] }],
  ]);

  // Loaded with require, the file's exports are the namespace object.
  const loader = path.join(dir, 'load.cjs');
  fs.writeFileSync(loader, [
    `const exported = require(${JSON.stringify(output)});`,
    'console.log(typeof exported.readText, exported === globalThis.ovra, typeof exported.db.table);',
  ].join('\n'));
  const { stdout } = await run(process.execPath, [loader], {
    env: { ...process.env, OVRA_RUNTIME_URL: service.url },
  });
  assert.equal(stdout, 'function true function\n');
});

test('TypeScript output passes tsc with its defaults, with and without the namespace', () => {
  const programs = {
    plain: 'let x: int = 1;\nfunc twice(n: int): int { back n * 2; }\nlet y = twice(x);\n',
    namespace: [
      'let path: string = "a.txt";',
      'let text = ovra.readText(path);',
      'ovra.io.print("x", 1);',
      'let rows = ovra.db.table("users").where("age", ">", 18).find();',
      'ovra.error("failed");',
      '',
    ].join('\n'),
    exported: 'share func add(a: int, b: int): int { back a + b; }\novra.log(add(1, 2));\n',
  };
  for (const [label, source] of Object.entries(programs)) {
    const { dir, output, text } = compile(source, ['--ts']);
    assert.equal(text.includes('__ovra_runtime_loaded'), label !== 'plain', label);
    const result = spawnSync(tsc, [path.basename(output)], { cwd: dir, encoding: 'utf8',
      timeout: 120000 });
    assert.equal(result.status, 0, `${label}: ${result.stdout}${result.stderr}`);
  }
});

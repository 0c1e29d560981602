// Every service member of the runtime prelude against a stand-in service: the request path and
// JSON body it sends, the answer key it reads, and the value it falls back to on an empty
// answer.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { plain, runPrelude, startService } from './prelude_service.mjs';

let service;
let ovra;

before(async () => {
  service = await startService();
  ovra = runPrelude({ url: service.url }).ovra;
});
after(() => service.close());

// Row: { call(ovra), path, body, answer (JSON the service sends), result, fallback (the value
// for an empty answer) }. Members that return nothing have neither result nor fallback.
async function checkRows(rows) {
  for (const row of rows) {
    const label = `${row.path} ${JSON.stringify(row.body)}`;
    service.answer = () => ({ json: row.answer ?? {} });
    const result = await row.call(ovra);
    assert.deepEqual(plain(result), row.result, `${label}: answer`);
    assert.equal(service.last().url, row.path, label);
    assert.deepEqual(service.last().body, row.body, `${label}: body`);

    service.answer = () => ({ text: '' });
    assert.deepEqual(plain(await row.call(ovra)), row.fallback, `${label}: empty answer`);
  }
}

test('fs members', async () => {
  await checkRows([
    { call: (o) => o.readText('a.txt'), path: '/fs/readText', body: { path: 'a.txt' },
      answer: { content: 'hi' }, result: 'hi', fallback: '' },
    { call: (o) => o.writeText('a.txt', 'data'), path: '/fs/writeText',
      body: { path: 'a.txt', content: 'data' }, answer: { ok: true } },
    { call: (o) => o.exists('a.txt'), path: '/fs/exists', body: { path: 'a.txt' },
      answer: { exists: true }, result: true, fallback: false },
    { call: (o) => o.mkdirs('a/b'), path: '/fs/mkdirs', body: { path: 'a/b' } },
    { call: (o) => o.pathJoin('a', 'b', 'c'), path: '/fs/pathJoin', body: { parts: ['a', 'b', 'c'] },
      answer: { path: 'a/b/c' }, result: 'a/b/c', fallback: '' },
    { call: (o) => o.cwd(), path: '/fs/cwd', body: {}, answer: { cwd: '/w' }, result: '/w',
      fallback: '' },
    { call: (o) => o.env('HOME'), path: '/fs/env', body: { key: 'HOME' }, answer: { value: '/h' },
      result: '/h', fallback: '' },
  ]);
  // A key that is present but null also falls back.
  service.answer = () => ({ json: { content: null } });
  assert.equal(await ovra.readText('a.txt'), '');
});

test('exec members', async () => {
  await checkRows([
    { call: (o) => o.exec('ls'), path: '/exec/exec', body: { cmd: 'ls' }, answer: { exit_code: 0 },
      result: 0, fallback: 1 },
    { call: (o) => o.execOut('ls'), path: '/exec/execOut', body: { cmd: 'ls' },
      answer: { output: 'x\n' }, result: 'x\n', fallback: '' },
    { call: (o) => o.execPipe('wc', 'abc'), path: '/exec/execPipe', body: { cmd: 'wc', input: 'abc' },
      answer: { output: '3' }, result: '3', fallback: '' },
    { call: (o) => o.execChain(['a', 'b']), path: '/exec/execChain', body: { cmds: ['a', 'b'] },
      answer: { output: 'ab' }, result: 'ab', fallback: '' },
    { call: (o) => o.execBackground('t1', 'sleep 1'), path: '/exec/execBackground',
      body: { task_id: 't1', cmd: 'sleep 1' }, answer: { pid: 42 }, result: 42, fallback: 0 },
    { call: (o) => o.listTasks(), path: '/exec/listTasks', body: {},
      answer: { tasks: [{ id: 't1' }] }, result: [{ id: 't1' }], fallback: [] },
  ]);
});

test('http members', async () => {
  function handler(req, res) {
    return res;
  }
  const handlerText = String(handler);
  const rows = [];
  for (const [member, method] of [['get', 'GET'], ['post', 'POST'], ['put', 'PUT'],
    ['delete', 'DELETE']]) {
    rows.push({ call: (o) => o[member]('/users', handler), path: '/http/register',
      body: { method, path: '/users', handler: handlerText } });
  }
  rows.push(
    { call: (o) => o.listen(8080), path: '/http/listen', body: { port: 8080 } },
    { call: (o) => o.listen('8081'), path: '/http/listen', body: { port: 8081 } },
    { call: (o) => o.listen(0), path: '/http/listen', body: { port: 3000 } },
    { call: (o) => o.listen('not a port'), path: '/http/listen', body: { port: 3000 } },
    { call: (o) => o.respText('r1', 42), path: '/http/response',
      body: { type: 'text', res: 'r1', text: '42' } },
    { call: (o) => o.respJson('r1', { a: [1] }), path: '/http/response',
      body: { type: 'json', res: 'r1', body: { a: [1] } } },
    { call: (o) => o.respHtml('r1', '<p>'), path: '/http/response',
      body: { type: 'html', res: 'r1', html: '<p>' } },
  );
  await checkRows(rows);
});

test('io members', async () => {
  await checkRows([
    { call: (o) => o.io.print('a', 1, true), path: '/io/print', body: { args: ['a', 1, true] } },
    { call: (o) => o.io.readLine(), path: '/io/readLine', body: { input: null },
      answer: { line: 'text' }, result: 'text', fallback: '' },
    { call: (o) => o.io.readLine('prompt'), path: '/io/readLine', body: { input: 'prompt' },
      answer: { line: 'text' }, result: 'text', fallback: '' },
    { call: (o) => o.io.readInt(''), path: '/io/readInt', body: { input: null },
      answer: { value: 7 }, result: 7, fallback: 0 },
    { call: (o) => o.io.readSinglef(), path: '/io/readSinglef', body: { input: null },
      answer: { value: 1.5 }, result: 1.5, fallback: 0 },
    { call: (o) => o.io.readMultif(), path: '/io/readMultif', body: { input: null },
      answer: { value: 2.25 }, result: 2.25, fallback: 0 },
  ]);
});

test('data members', async () => {
  const rows = [];
  for (const kind of ['map', 'set', 'queue', 'buffer']) {
    rows.push({ call: (o) => o.data[kind].new(), path: `/data/${kind}/new`, body: {},
      answer: { id: `${kind}1` }, result: `${kind}1`, fallback: null });
    rows.push({ call: (o) => o.data[kind].size('i'), path: `/data/${kind}/size`, body: { id: 'i' },
      answer: { size: 3 }, result: 3, fallback: 0 });
  }
  rows.push(
    { call: (o) => o.data.map.set('i', 'k', { v: 1 }), path: '/data/map/set',
      body: { id: 'i', key: 'k', value: { v: 1 } } },
    { call: (o) => o.data.map.get('i', 'k'), path: '/data/map/get', body: { id: 'i', key: 'k' },
      answer: { value: [1] }, result: [1], fallback: null },
    { call: (o) => o.data.map.has('i', 'k'), path: '/data/map/has', body: { id: 'i', key: 'k' },
      answer: { has: true }, result: true, fallback: false },
    { call: (o) => o.data.map.delete('i', 'k'), path: '/data/map/delete', body: { id: 'i', key: 'k' } },
    { call: (o) => o.data.set.add('i', 5), path: '/data/set/add', body: { id: 'i', value: '5' } },
    { call: (o) => o.data.set.has('i', 5), path: '/data/set/has', body: { id: 'i', value: '5' },
      answer: { has: true }, result: true, fallback: false },
    { call: (o) => o.data.set.delete('i', null), path: '/data/set/delete',
      body: { id: 'i', value: 'null' } },
    { call: (o) => o.data.queue.push('i', 5), path: '/data/queue/push', body: { id: 'i', value: 5 } },
    { call: (o) => o.data.queue.pop('i'), path: '/data/queue/pop', body: { id: 'i' },
      answer: { value: 5 }, result: 5, fallback: null },
    { call: (o) => o.data.queue.peek('i'), path: '/data/queue/peek', body: { id: 'i' },
      answer: { value: 'x' }, result: 'x', fallback: null },
    { call: (o) => o.data.buffer.write('i', 12), path: '/data/buffer/write',
      body: { id: 'i', data: '12' } },
    { call: (o) => o.data.buffer.read('i', 1, 4), path: '/data/buffer/read',
      body: { id: 'i', offset: 1, length: 4 }, answer: { data: 'abcd' }, result: 'abcd',
      fallback: '' },
    { call: (o) => o.data.date.now(), path: '/data/date/now', body: {},
      answer: { timestamp: 1, iso: 'x' }, result: { timestamp: 1, iso: 'x' }, fallback: {} },
    { call: (o) => o.data.date.parse('2024-01-02', 'YYYY-MM-DD'), path: '/data/date/parse',
      body: { date_string: '2024-01-02', format: 'YYYY-MM-DD' }, answer: { timestamp: 2 },
      result: { timestamp: 2 }, fallback: {} },
    { call: (o) => o.data.date.format(5, 'YYYY'), path: '/data/date/format',
      body: { timestamp: 5, format: 'YYYY' }, answer: { formatted: '1970' }, result: '1970',
      fallback: '' },
  );
  await checkRows(rows);
});

test('error member: console output and the error utilities', async () => {
  await checkRows([
    { call: (o) => o.error.codes(), path: '/error/codes', body: {},
      answer: { codes: ['E1'] }, result: ['E1'], fallback: [] },
    { call: (o) => o.error.format('E1', 'bad', 'at x'), path: '/error/format',
      body: { code: 'E1', message: 'bad', stack_trace: 'at x' }, answer: { text: 'E1: bad' },
      result: { text: 'E1: bad' }, fallback: {} },
  ]);

  // Called directly, `error` (like `log` and `warn`) writes to the console without a request.
  const written = [];
  const console = {
    log: (...args) => written.push(['log', ...args]),
    warn: (...args) => written.push(['warn', ...args]),
    error: (...args) => written.push(['error', ...args]),
  };
  const local = runPrelude({ url: service.url, extra: { console } }).ovra;
  const before = service.requests.length;
  assert.equal(local.error('e', 1), undefined);
  local.log('l', 2);
  local.warn('w');
  assert.deepEqual(written, [['error', 'e', 1], ['log', 'l', 2], ['warn', 'w']]);
  assert.deepEqual(plain(local.jsonParse('{"a":[1]}')), { a: [1] });
  assert.equal(local.jsonStringify({ a: 1 }), '{"a":1}');
  assert.equal(service.requests.length, before, 'local members send nothing');
});

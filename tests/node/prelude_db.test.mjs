// The database query builder of the runtime prelude: the connection rule, the request bodies of
// every terminal step, where-clause normalisation, limits, and its failure messages.
import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { inspect } from 'node:util';

import { plain, runPrelude, startService } from './prelude_service.mjs';

const kNotConnected = 'Database not connected. Call await ovra.db.connect(kind, url) first.';

let service;
before(async () => {
  service = await startService();
});
after(() => service.close());

// A prelude of its own per test: the connection flag lives as long as the environment.
async function connectedOvra() {
  const { ovra } = runPrelude({ url: service.url });
  service.answer = () => ({ text: '' });
  await ovra.db.connect('sqlite', 'file.db');
  return ovra;
}

function emptyQuery(table) {
  return { table, where_clauses: [], joins: [], order_by: null, limit: null };
}

test('db: connect comes first and only a successful one counts', async () => {
  const { ovra } = runPrelude({ url: service.url });
  const before = service.requests.length;
  const terminals = [(b) => b.find(), (b) => b.findOne(), (b) => b.insert({ a: 1 }),
    (b) => b.update({ a: 1 }), (b) => b.delete()];
  for (const terminal of terminals) {
    await assert.rejects(terminal(ovra.db.table('users')), { message: kNotConnected });
  }
  for (const [kind, url] of [['', 'x'], ['sqlite', undefined], [null, null]]) {
    await assert.rejects(ovra.db.connect(kind, url), {
      message: 'ovra.db.connect(kind, url) requires both parameters',
    });
  }
  assert.equal(service.requests.length, before, 'nothing was sent');

  service.answer = () => ({ status: 500, text: 'no database' });
  await assert.rejects(ovra.db.connect('sqlite', 'file.db'), {
    message: '[Ovra Runtime] HTTP 500: no database',
  });
  await assert.rejects(ovra.db.table('users').find(), { message: kNotConnected });

  service.answer = () => ({ text: '' });
  assert.equal(await ovra.db.connect('sqlite', 'file.db'), undefined);
  assert.equal(service.last().url, '/db/connect');
  assert.deepEqual(service.last().body, { kind: 'sqlite', url: 'file.db' });
  service.answer = () => ({ json: [] });
  assert.deepEqual(plain(await ovra.db.table('users').find()), []);
  await ovra.db.close();
  assert.deepEqual(plain(await ovra.db.table('users').find()), [], 'close keeps the connection');
});

test('db: terminal steps send the builder state and read the answer', async () => {
  const ovra = await connectedOvra();
  const rows = [
    { label: 'find without steps', run: (db) => db.table('users').find(), path: '/db/query',
      body: emptyQuery('users'), answer: [{ id: 1 }], result: [{ id: 1 }] },
    { label: 'find with a non-array answer', run: (db) => db.table('users').find(),
      path: '/db/query', body: emptyQuery('users'), answer: { rows: 1 }, result: [] },
    { label: 'find with every step',
      run: (db) => db.table('users').where('age', '>', 18).join('teams', 'team_id', 'id')
        .orderBy('age', 'DESC').limit(10).find(),
      path: '/db/query',
      body: { table: 'users', where_clauses: [{ field: 'age', op: '>', value: '18' }],
        joins: [{ table: 'teams', field1: 'team_id', field2: 'id' }],
        order_by: { field: 'age', direction: 'DESC' }, limit: 10 },
      answer: [], result: [] },
    { label: 'orderBy defaults to ASC, a later one replaces it',
      run: (db) => db.table('t').orderBy('a', 'DESC').orderBy('b').find(), path: '/db/query',
      body: { ...emptyQuery('t'), order_by: { field: 'b', direction: 'ASC' } }, answer: [],
      result: [] },
    { label: 'limit of a non-number', run: (db) => db.table('t').limit('many').find(),
      path: '/db/query', body: emptyQuery('t'), answer: [], result: [] },
    { label: 'limit of a numeric text', run: (db) => db.table('t').limit('7').find(),
      path: '/db/query', body: { ...emptyQuery('t'), limit: 7 }, answer: [], result: [] },
    { label: 'findOne limits to 1', run: (db) => db.table('t').findOne(), path: '/db/query',
      body: { ...emptyQuery('t'), limit: 1 }, answer: [{ id: 1 }, { id: 2 }], result: { id: 1 } },
    { label: 'findOne keeps an explicit limit and returns the first row',
      run: (db) => db.table('t').limit(5).findOne(), path: '/db/query',
      body: { ...emptyQuery('t'), limit: 5 }, answer: [{ id: 3 }, { id: 4 }], result: { id: 3 } },
    { label: 'findOne of no rows', run: (db) => db.table('t').findOne(), path: '/db/query',
      body: { ...emptyQuery('t'), limit: 1 }, answer: [], result: null },
    { label: 'insert', run: (db) => db.table('t').insert({ name: 'a' }), path: '/db/insert',
      body: { table: 't', data: { name: 'a' } }, answer: { id: 9 }, result: { id: 9 } },
    { label: 'update', run: (db) => db.table('t').where('id', 9).update({ name: 'b' }),
      path: '/db/update',
      body: { table: 't', where_clauses: [{ field: 'id', op: '=', value: '9' }],
        data: { name: 'b' } },
      answer: { changed: 1 }, result: { changed: 1 } },
    { label: 'delete', run: (db) => db.table('t').where('id', 9).delete(), path: '/db/delete',
      body: { table: 't', where_clauses: [{ field: 'id', op: '=', value: '9' }] },
      answer: { deleted: 1 }, result: { deleted: 1 } },
  ];
  for (const row of rows) {
    service.answer = () => ({ json: row.answer });
    assert.deepEqual(plain(await row.run(ovra.db)), row.result, row.label);
    assert.equal(service.last().url, row.path, row.label);
    assert.deepEqual(service.last().body, row.body, row.label);
  }

  // A builder can be extended after a terminal call and used again.
  service.answer = () => ({ json: [] });
  const builder = ovra.db.table('t').where('a', 1);
  await builder.find();
  await builder.where('b', 2).find();
  assert.deepEqual(service.last().body.where_clauses.map((c) => c.field), ['a', 'b']);
  // An empty answer passes through insert unchanged.
  service.answer = () => ({ text: '' });
  assert.equal(await ovra.db.table('t').insert({ a: 1 }), null);
});

test('db: chaining returns the builder; argument and name checks throw at once', () => {
  const { ovra } = runPrelude({ url: service.url });
  const builder = ovra.db.table('t');
  assert.equal(builder.where('a', 1).join('x', 'y', 'z').orderBy('f').limit(2), builder);
  assert.throws(() => ovra.db.table('t').where('a'), {
    message: 'where(field, value) or where(field, op, value) is required',
  });
  assert.throws(() => ovra.db.table('t').where('', 1), {
    message: 'where(field, op?, value) requires a field name',
  });
  assert.throws(() => ovra.db.table(''), { message: 'ovra.db.table(name) requires a table name' });
  for (const name of ['query', 'findOne', 'find', 'insert', 'update', 'delete', 'transaction']) {
    assert.throws(() => ovra.db[name]('x'), {
      message: `ovra.db.${name} is only available through ovra.db.table() chain`,
    });
  }
});

test('db: where-clause normalisation, and insert/update data checks', async () => {
  const ovra = await connectedOvra();
  const cyclic = {};
  cyclic.self = cyclic;
  const rows = [
    { args: ['age', '>', 18], clause: { field: 'age', op: '>', value: '18' } },
    { args: ['name', 'bob'], clause: { field: 'name', op: '=', value: 'bob' } },
    { args: ['a', null, 5], clause: { field: 'a', op: '=', value: '5' } },
    { args: ['a', undefined, 5], clause: { field: 'a', op: '=', value: '5' } },
    { args: ['a', 5, 6], clause: { field: 'a', op: '5', value: '6' } },
    { args: ['tags', 'in', [1, 'x']], clause: { field: 'tags', op: 'in', value: '[1,"x"]' } },
    { args: ['a', '=', { b: 1 }], clause: { field: 'a', op: '=', value: '{"b":1}' } },
    { args: ['a', '=', cyclic], clause: { field: 'a', op: '=', value: '[object Object]' } },
    { args: ['a', '=', null], clause: { field: 'a', op: '=', value: '' } },
    { args: ['a', undefined], clause: { field: 'a', op: '=', value: '' } },
    { args: ['a', 'is', true], clause: { field: 'a', op: 'is', value: 'true' } },
    { args: ['a', '=', 1, 'extra'], clause: { field: 'a', op: '=', value: '1' } },
  ];
  service.answer = () => ({ json: [] });
  for (const row of rows) {
    await ovra.db.table('t').where(...row.args).find();
    assert.deepEqual(service.last().body.where_clauses, [row.clause], inspect(row.args));
  }

  for (const data of [undefined, null, 5, 'text']) {
    await assert.rejects(ovra.db.table('t').insert(data), {
      message: 'ovra.db.table().insert(data) requires an object',
    });
    await assert.rejects(ovra.db.table('t').update(data), {
      message: 'ovra.db.table().update(data) requires an object',
    });
  }
});

// The runtime prelude: the JavaScript that defines the global `ovra` object in front of every
// program that uses the built-in namespace. Most members send one JSON request over HTTP POST to
// the runtime service (OVRA_RUNTIME_URL, default http://127.0.0.1:3000) and read its answer.
#include <string>

#include "codegen.h"

namespace ovra {

namespace {

// Lines starting (after their indentation) with "@@" touch host objects that tsc's default
// libraries do not declare (require, process, Buffer, module, exports, global, the Promise
// constructor, custom properties of window). JavaScript output drops the marker; TypeScript
// output puts a `// @ts-ignore` line in front, which leaves the code itself unchanged.
constexpr std::string_view kPreludeTemplate = R"JS((function() {
  if (typeof globalThis.__ovra_runtime_loaded !== 'undefined') {
    return;
  }
  globalThis.__ovra_runtime_loaded = true;

  const isBrowser = typeof window !== 'undefined' && typeof window.fetch !== 'undefined';
  @@const isNode = typeof process !== 'undefined' && !!(process.versions && process.versions.node);

  const DEFAULT_RUNTIME_BASE = 'http://127.0.0.1:3000';

  function getRuntimeBase() {
    let base = DEFAULT_RUNTIME_BASE;
    if (isBrowser) {
      @@base = window.OVRA_RUNTIME_URL || (window.location && window.location.origin) || DEFAULT_RUNTIME_BASE;
    } else if (isNode) {
      @@base = process.env.OVRA_RUNTIME_URL || DEFAULT_RUNTIME_BASE;
    } else {
      return DEFAULT_RUNTIME_BASE;
    }
    base = String(base);
    return base.charAt(base.length - 1) === '/' ? base.slice(0, -1) : base;
  }

  function nodeModule(name) {
    @@return typeof require === 'function' ? require(name) : process.getBuiltinModule(name);
  }

  function parseResponse(text) {
    if (!text) {
      return null;
    }
    try {
      return JSON.parse(text);
    } catch (err) {
      throw new Error(`[Ovra Runtime] Failed to parse response: ${err.message}. Response: ${text.substring(0, 200)}`);
    }
  }

  function requestJSON(path, body) {
    const url = String(path).charAt(0) === '/' ? getRuntimeBase() + path : path;
    const payload = JSON.stringify(body || {});
    if (isBrowser) {
      return window.fetch(url, {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: payload,
        credentials: 'same-origin'
      }).then(function(res) {
        return res.text().then(function(text) {
          if (!res.ok) {
            throw new Error(`[Ovra Runtime] HTTP ${res.status}: ${text || res.statusText || 'Unknown error'}`);
          }
          return parseResponse(text);
        });
      });
    }
    if (isNode) {
      @@return new Promise(function(resolve, reject) {
        const target = new URL(url);
        const secure = target.protocol === 'https:';
        const transport = nodeModule(secure ? 'https' : 'http');
        const request = transport.request({
          method: 'POST',
          hostname: target.hostname,
          port: target.port || (secure ? 443 : 80),
          path: target.pathname + target.search,
          headers: {
            'Content-Type': 'application/json',
            @@'Content-Length': Buffer.byteLength(payload)
          }
        }, function(res) {
          const chunks = [];
          res.on('data', function(chunk) {
            chunks.push(chunk);
          });
          res.on('error', reject);
          res.on('end', function() {
            @@const text = Buffer.concat(chunks).toString('utf8');
            if (res.statusCode >= 400) {
              const errorMsg = text || res.statusMessage || 'Unknown error';
              reject(new Error(`[Ovra Runtime] HTTP ${res.statusCode}: ${errorMsg}`));
              return;
            }
            try {
              resolve(parseResponse(text));
            } catch (err) {
              reject(err);
            }
          });
        });
        request.on('error', reject);
        request.write(payload);
        request.end();
      });
    }
    @@return Promise.reject(new Error('[Ovra Runtime] Unsupported environment: neither browser nor Node.js'));
  }

  function normalizeValue(value) {
    if (value === null || value === undefined) {
      return '';
    }
    if (typeof value === 'object') {
      try {
        return JSON.stringify(value);
      } catch (err) {
        return String(value);
      }
    }
    return String(value);
  }

  // Every service member answers with a promise, like an async function: it builds the request
  // with `send`, reads the answer with `readAnswer`, and an error thrown on the way becomes a
  // rejection. (Written without `async` so that tsc accepts the text with its default library.)
  function settle(send, readAnswer) {
    try {
      @@return Promise.resolve(send()).then(readAnswer);
    } catch (err) {
      @@return Promise.reject(err);
    }
  }

  // The value under `key` of an answer, or `fallback` when the answer or the value is missing.
  function answerKey(key, fallback) {
    return (result) => result?.[key] ?? fallback;
  }

  function noAnswer() {}

  function wholeAnswer(result) {
    return result ?? {};
  }

  function unchangedAnswer(result) {
    return result;
  }

  let hasConnected = false;

  function requireConnection() {
    if (!hasConnected) {
      throw new Error('Database not connected. Call await ovra.db.connect(kind, url) first.');
    }
  }

  function createQueryBuilder(table) {
    const whereClauses = [];
    const joins = [];
    let orderBy = null;
    let limitValue = null;

    function queryBody(limit) {
      return { table: table, where_clauses: whereClauses, joins: joins, order_by: orderBy, limit: limit };
    }

    const builder = {
      where: function(field, opOrValue, maybeValue) {
        if (!field) {
          throw new Error('where(field, op?, value) requires a field name');
        }
        if (arguments.length < 2) {
          throw new Error('where(field, value) or where(field, op, value) is required');
        }
        let op = '=';
        let value = opOrValue;
        if (arguments.length >= 3) {
          op = opOrValue === null || opOrValue === undefined ? '=' : opOrValue;
          value = maybeValue;
        }
        whereClauses.push({ field: field, op: String(op), value: normalizeValue(value) });
        return builder;
      },
      join: function(table2, field1, field2) {
        joins.push({ table: table2, field1: field1, field2: field2 });
        return builder;
      },
      orderBy: function(field, direction) {
        orderBy = { field: field, direction: direction === undefined ? 'ASC' : direction };
        return builder;
      },
      limit: function(n) {
        const value = Number(n);
        limitValue = isFinite(value) ? value : null;
        return builder;
      },
      find: () => settle(() => {
        requireConnection();
        return requestJSON('/db/query', queryBody(limitValue));
      }, (result) => Array.isArray(result) ? result : []),
      findOne: () => settle(() => {
        requireConnection();
        return requestJSON('/db/query', queryBody(limitValue === null ? 1 : limitValue));
      }, (result) => Array.isArray(result) && result.length > 0 ? result[0] : null),
      insert: (data) => settle(() => {
        requireConnection();
        if (!data || typeof data !== 'object') {
          throw new Error('ovra.db.table().insert(data) requires an object');
        }
        return requestJSON('/db/insert', { table: table, data: data });
      }, unchangedAnswer),
      update: (data) => settle(() => {
        requireConnection();
        if (!data || typeof data !== 'object') {
          throw new Error('ovra.db.table().update(data) requires an object');
        }
        return requestJSON('/db/update', { table: table, where_clauses: whereClauses, data: data });
      }, unchangedAnswer),
      delete: () => settle(() => {
        requireConnection();
        return requestJSON('/db/delete', { table: table, where_clauses: whereClauses });
      }, unchangedAnswer)
    };
    return builder;
  }

  function onlyThroughTable(name) {
    return function() {
      throw new Error('ovra.db.' + name + ' is only available through ovra.db.table() chain');
    };
  }

  // One `error` member: called, it writes to the console; it also carries the error utilities.
  function error(...args) {
    console.error(...args);
  }
  error.codes = () => settle(() => requestJSON('/error/codes', {}), answerKey('codes', []));
  error.format = (code, message, stackTrace) => settle(
    () => requestJSON('/error/format', { code: code, message: message, stack_trace: stackTrace }),
    wholeAnswer);

  function registerHandler(method, path, handler) {
    return settle(
      () => requestJSON('/http/register', { method: method, path: path, handler: String(handler) }),
      noAnswer);
  }

  function inputBody(input) {
    return { input: input || null };
  }

  const ovra = {
    readText: (p) => settle(() => requestJSON('/fs/readText', { path: p }), answerKey('content', '')),
    writeText: (p, d) => settle(() => requestJSON('/fs/writeText', { path: p, content: d }), noAnswer),
    exists: (p) => settle(() => requestJSON('/fs/exists', { path: p }), answerKey('exists', false)),
    mkdirs: (p) => settle(() => requestJSON('/fs/mkdirs', { path: p }), noAnswer),
    pathJoin: (...args) => settle(() => requestJSON('/fs/pathJoin', { parts: args }), answerKey('path', '')),
    cwd: () => settle(() => requestJSON('/fs/cwd', {}), answerKey('cwd', '')),
    env: (k) => settle(() => requestJSON('/fs/env', { key: k }), answerKey('value', '')),
    exec: (cmd) => settle(() => requestJSON('/exec/exec', { cmd: cmd }), answerKey('exit_code', 1)),
    execOut: (cmd) => settle(() => requestJSON('/exec/execOut', { cmd: cmd }), answerKey('output', '')),
    execPipe: (cmd, input) => settle(
      () => requestJSON('/exec/execPipe', { cmd: cmd, input: input }), answerKey('output', '')),
    execChain: (cmds) => settle(() => requestJSON('/exec/execChain', { cmds: cmds }), answerKey('output', '')),
    execBackground: (taskId, cmd) => settle(
      () => requestJSON('/exec/execBackground', { task_id: taskId, cmd: cmd }), answerKey('pid', 0)),
    listTasks: () => settle(() => requestJSON('/exec/listTasks', {}), answerKey('tasks', [])),
    get: (path, handler) => registerHandler('GET', path, handler),
    post: (path, handler) => registerHandler('POST', path, handler),
    put: (path, handler) => registerHandler('PUT', path, handler),
    delete: (path, handler) => registerHandler('DELETE', path, handler),
    listen: (port) => settle(() => requestJSON('/http/listen', { port: Number(port) || 3000 }), noAnswer),
    respText: (res, text) => settle(
      () => requestJSON('/http/response', { type: 'text', res: res, text: String(text) }), noAnswer),
    respJson: (res, obj) => settle(
      () => requestJSON('/http/response', { type: 'json', res: res, body: obj }), noAnswer),
    respHtml: (res, html) => settle(
      () => requestJSON('/http/response', { type: 'html', res: res, html: String(html) }), noAnswer),
    jsonParse: (s) => JSON.parse(s),
    jsonStringify: (v) => JSON.stringify(v),
    log: (...args) => {
      console.log(...args);
    },
    warn: (...args) => {
      console.warn(...args);
    },
    error: error,
    db: {
      connect: (kind, url) => settle(() => {
        if (!kind || !url) {
          throw new Error('ovra.db.connect(kind, url) requires both parameters');
        }
        return requestJSON('/db/connect', { kind: kind, url: url });
      }, () => {
        hasConnected = true;
      }),
      table: (name) => {
        if (!name) {
          throw new Error('ovra.db.table(name) requires a table name');
        }
        return createQueryBuilder(name);
      },
      @@close: () => Promise.resolve(),
      query: onlyThroughTable('query'),
      findOne: onlyThroughTable('findOne'),
      find: onlyThroughTable('find'),
      insert: onlyThroughTable('insert'),
      update: onlyThroughTable('update'),
      delete: onlyThroughTable('delete'),
      transaction: onlyThroughTable('transaction')
    },
    io: {
      print: (...args) => settle(() => requestJSON('/io/print', { args: args }), noAnswer),
      readLine: (input) => settle(() => requestJSON('/io/readLine', inputBody(input)), answerKey('line', '')),
      readInt: (input) => settle(() => requestJSON('/io/readInt', inputBody(input)), answerKey('value', 0)),
      readSinglef: (input) => settle(
        () => requestJSON('/io/readSinglef', inputBody(input)), answerKey('value', 0.0)),
      readMultif: (input) => settle(
        () => requestJSON('/io/readMultif', inputBody(input)), answerKey('value', 0.0))
    },
    data: {
      map: {
        new: () => settle(() => requestJSON('/data/map/new', {}), answerKey('id', null)),
        set: (id, key, value) => settle(
          () => requestJSON('/data/map/set', { id: id, key: key, value: value }), noAnswer),
        get: (id, key) => settle(() => requestJSON('/data/map/get', { id: id, key: key }), answerKey('value', null)),
        has: (id, key) => settle(() => requestJSON('/data/map/has', { id: id, key: key }), answerKey('has', false)),
        delete: (id, key) => settle(() => requestJSON('/data/map/delete', { id: id, key: key }), noAnswer),
        size: (id) => settle(() => requestJSON('/data/map/size', { id: id }), answerKey('size', 0))
      },
      set: {
        new: () => settle(() => requestJSON('/data/set/new', {}), answerKey('id', null)),
        add: (id, value) => settle(() => requestJSON('/data/set/add', { id: id, value: String(value) }), noAnswer),
        has: (id, value) => settle(
          () => requestJSON('/data/set/has', { id: id, value: String(value) }), answerKey('has', false)),
        delete: (id, value) => settle(
          () => requestJSON('/data/set/delete', { id: id, value: String(value) }), noAnswer),
        size: (id) => settle(() => requestJSON('/data/set/size', { id: id }), answerKey('size', 0))
      },
      queue: {
        new: () => settle(() => requestJSON('/data/queue/new', {}), answerKey('id', null)),
        push: (id, value) => settle(() => requestJSON('/data/queue/push', { id: id, value: value }), noAnswer),
        pop: (id) => settle(() => requestJSON('/data/queue/pop', { id: id }), answerKey('value', null)),
        peek: (id) => settle(() => requestJSON('/data/queue/peek', { id: id }), answerKey('value', null)),
        size: (id) => settle(() => requestJSON('/data/queue/size', { id: id }), answerKey('size', 0))
      },
      buffer: {
        new: () => settle(() => requestJSON('/data/buffer/new', {}), answerKey('id', null)),
        write: (id, data) => settle(
          () => requestJSON('/data/buffer/write', { id: id, data: String(data) }), noAnswer),
        read: (id, offset, length) => settle(
          () => requestJSON('/data/buffer/read', { id: id, offset: offset, length: length }), answerKey('data', '')),
        size: (id) => settle(() => requestJSON('/data/buffer/size', { id: id }), answerKey('size', 0))
      },
      date: {
        now: () => settle(() => requestJSON('/data/date/now', {}), wholeAnswer),
        parse: (dateString, format) => settle(
          () => requestJSON('/data/date/parse', { date_string: dateString, format: format }), wholeAnswer),
        format: (timestamp, format) => settle(
          () => requestJSON('/data/date/format', { timestamp: timestamp, format: format }), answerKey('formatted', ''))
      }
    }
  };

  if (typeof globalThis !== 'undefined') {
    globalThis.ovra = ovra;
  } else if (typeof window !== 'undefined') {
    @@window.ovra = ovra;
  @@} else if (typeof global !== 'undefined') {
    @@global.ovra = ovra;
  }
  @@if (typeof module !== 'undefined' && module.exports) {
    @@module.exports = ovra;
  }
  @@if (typeof exports !== 'undefined') {
    @@exports.ovra = ovra;
    @@exports.default = ovra;
  }
})();
)JS";

// The program's own statements refer to `ovra` as a global; TypeScript needs it declared.
constexpr std::string_view kTypeScriptDeclaration = "declare var ovra: any;\n";

std::string build_prelude(bool typescript) {
  std::string text;
  text.reserve(kPreludeTemplate.size() + 2048);
  std::size_t line_start = 0;
  while (line_start < kPreludeTemplate.size()) {
    std::size_t line_end = kPreludeTemplate.find('\n', line_start);
    if (line_end == std::string_view::npos)
      line_end = kPreludeTemplate.size();
    std::string_view line = kPreludeTemplate.substr(line_start, line_end - line_start);
    const std::size_t indent = line.find_first_not_of(' ');
    if (indent != std::string_view::npos && line.substr(indent).starts_with("@@")) {
      if (typescript) {
        text.append(line.substr(0, indent));
        text.append("// @ts-ignore\n");
      }
      text.append(line.substr(0, indent));
      text.append(line.substr(indent + 2));
    } else {
      text.append(line);
    }
    text.push_back('\n');
    line_start = line_end + 1;
  }
  if (typescript)
    text.append(kTypeScriptDeclaration);
  text.push_back('\n');
  return text;
}

}  // namespace

std::string_view runtime_prelude(CompileTarget target) {
  static const std::string javascript = build_prelude(false);
  static const std::string typescript = build_prelude(true);
  return target == CompileTarget::TypeScript ? typescript : javascript;
}

}  // namespace ovra

// Meaning of the WebAssembly text output: subset programs are compiled with `ovrac --wasm`,
// assembled with wat2wasm, instantiated under Node's WebAssembly API with a small host for the
// "ovra" imports, and their exported functions are called.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { after, test } from 'node:test';

const ovrac = process.env.OVRAC;
assert.ok(ovrac, 'OVRAC must name the ovrac program');

const scratch = mkdtempSync(path.join(tmpdir(), 'ovra-wasm-'));
after(() => rmSync(scratch, { recursive: true, force: true }));

let sequence = 0;

// The WAT text ovrac writes for the source.
function compileToWat(source) {
  const name = `m${sequence++}`;
  const input = path.join(scratch, `${name}.ovra`);
  const output = path.join(scratch, `${name}.wat`);
  writeFileSync(input, source);
  const run = spawnSync(ovrac, [input, output, '--wasm'], { encoding: 'utf8' });
  assert.equal(run.status, 0, `ovrac failed:\n${run.stderr}\n--- source ---\n${source}`);
  return output;
}

// The host side of the "ovra" imports: database calls are recorded and answered with small
// handles, allocation hands out consecutive addresses in the exported memory.
function makeHost() {
  const calls = [];
  let nextHandle = 100;
  let nextAddress = 1024;
  const ovra = {
    db_connect: (kind, url) => {
      calls.push(['db_connect', kind, url]);
      return nextHandle++;
    },
    db_table: (name) => {
      calls.push(['db_table', name]);
      return nextHandle++;
    },
    db_chain: (builder, method, args) => {
      calls.push(['db_chain', builder, method, args]);
      return nextHandle++;
    },
    memory_alloc: (size) => {
      calls.push(['memory_alloc', size]);
      const address = nextAddress;
      nextAddress += size;
      return address;
    },
    memory_free: (pointer) => {
      calls.push(['memory_free', pointer]);
    },
  };
  return { imports: { ovra }, calls };
}

// Compiles, assembles and instantiates the source; returns the exports and the host's record.
function instantiate(source) {
  const wat = compileToWat(source);
  const wasm = wat.replace(/\.wat$/, '.wasm');
  try {
    execFileSync('wat2wasm', [wat, '-o', wasm], { encoding: 'utf8', stdio: 'pipe' });
  } catch (error) {
    assert.fail(`wat2wasm rejected the module:\n${error.stderr}\n${readFileSync(wat, 'utf8')}`);
  }
  const host = makeHost();
  const module = new WebAssembly.Module(readFileSync(wasm));
  const instance = new WebAssembly.Instance(module, host.imports);
  return { exports: instance.exports, calls: host.calls };
}

// Each program with the calls to make and the values they must give.
const corpus = [
  {
    name: 'arithmetic and comparison',
    source: `
func calc(a: int, b: int): int {
  back (a + b) * (a - b) / 3 % 7;
}
func between(x: int, low: int, high: int): bool {
  back x >= low && x <= high;
}
func differs(a: int, b: int): bool {
  back a != b || a > 100;
}
func negative(): int {
  back (0 - 7) / 2;
}`,
    checks: [
      ['calc', [9, 2], Math.trunc(((9 + 2) * (9 - 2)) / 3) % 7],
      ['calc', [2, 9], Math.trunc(((2 + 9) * (2 - 9)) / 3) % 7],
      ['between', [5, 1, 10], 1],
      ['between', [11, 1, 10], 0],
      ['between', [1, 1, 1], 1],
      ['differs', [3, 3], 0],
      ['differs', [3, 4], 1],
      ['differs', [101, 101], 1],
      ['negative', [], -3],
    ],
  },
  {
    name: 'factorial with while',
    source: `
func factorial(n: int): int {
  let result: int = 1;
  while (n > 1) {
    result = result * n;
    n = n - 1;
  }
  back result;
}`,
    checks: [0, 1, 2, 5, 10, 12].map((n) => {
      let f = 1;
      for (let k = 2; k <= n; k++) f *= k;
      return ['factorial', [n], f];
    }),
  },
  {
    name: 'for-loop sum',
    source: `
func sum(n: int): int {
  let total: int = 0;
  forloop (let i: int = 1; i <= n; i = i + 1) {
    total = total + i;
  }
  back total;
}
func evens(n: int): int {
  let count: int = 0;
  forloop (let i: int = 0; i < n; i.toUp()) {
    if (i % 2 == 0) {
      count.getUp();
    }
  }
  back count;
}`,
    checks: [
      ['sum', [0], 0],
      ['sum', [1], 1],
      ['sum', [100], 5050],
      ['evens', [0], 0],
      ['evens', [7], 4],
      ['evens', [10], 5],
    ],
  },
  {
    name: 'if and else',
    source: `
func max(a: int, b: int): int {
  if (a > b) {
    back a;
  } else {
    back b;
  }
}
func classify(n: int): int {
  if (n < 0) {
    back 0 - 1;
  } esle {
    if (n == 0) {
      back 0;
    }
  }
  back 1;
}
func clamp(n: int): int {
  let r: int = n;
  if (n > 10) {
    r = 10;
  }
  back r;
}`,
    checks: [
      ['max', [3, 9], 9],
      ['max', [9, 3], 9],
      ['max', [-4, -4], -4],
      ['classify', [-5], -1],
      ['classify', [0], 0],
      ['classify', [42], 1],
      ['clamp', [4], 4],
      ['clamp', [40], 10],
    ],
  },
  {
    name: 'calls between functions',
    source: `
func sumOfSquares(a: int, b: int): int {
  back square(a) + square(b);
}
func square(x: int): int {
  back x * x;
}
share func hypotenuseSquared(a: int, b: int): int {
  back sumOfSquares(a, b);
}`,
    checks: [
      ['square', [7], 49],
      ['sumOfSquares', [3, 4], 25],
      ['hypotenuseSquared', [5, 12], 169],
    ],
  },
  {
    name: 'nested loops',
    source: `
func table(n: int): int {
  let total: int = 0;
  forloop (let i: int = 1; i <= n; i = i + 1) {
    let j: int = 1;
    while (j <= n) {
      total = total + i * j;
      j = j + 1;
    }
  }
  back total;
}
func pairs(n: int): int {
  let count: int = 0;
  let i: int = 0;
  while (i < n) {
    let j: int = 0;
    while (j < i) {
      count = count + 1;
      j = j + 1;
    }
    i = i + 1;
  }
  back count;
}`,
    checks: [
      ['table', [1], 1],
      ['table', [3], 36],
      ['table', [10], 3025],
      ['pairs', [0], 0],
      ['pairs', [5], 10],
    ],
  },
  {
    name: 'increments inside expressions',
    source: `
func afterUp(x: int): int {
  let a: int = x.toUp() + x.toUp();
  back a * 100 + x;
}
func afterGet(x: int): int {
  let a: int = x.getUp() + x.getUp(10);
  back a * 100 + x;
}
func down(x: int): int {
  let old: int = x.toDn(3);
  let now: int = x.getDn();
  back old * 100 + now;
}
func inCondition(x: int): int {
  if (x.getUp() == 5) {
    back x;
  }
  back 0 - x;
}`,
    checks: [
      ['afterUp', [1], (1 + 2) * 100 + 3],
      ['afterGet', [1], (2 + 12) * 100 + 12],
      ['down', [10], 10 * 100 + 6],
      ['inCondition', [4], 5],
      ['inCondition', [7], -8],
    ],
  },
  {
    name: 'declarations start from zero on every pass',
    source: `
func passes(n: int): int {
  let total: int = 0;
  let i: int = 0;
  while (i < n) {
    let fresh: int;
    fresh = fresh + 1;
    total = total + fresh;
    i = i + 1;
  }
  back total;
}
func fallsThrough(n: int): int {
  if (n > 0) {
    back n;
  }
}`,
    checks: [
      ['passes', [0], 0],
      ['passes', [4], 4],
      ['fallsThrough', [3], 3],
      ['fallsThrough', [-3], 0],
    ],
  },
];

for (const program of corpus) {
  test(`wasm: ${program.name}`, () => {
    const { exports } = instantiate(program.source);
    for (const [name, args, expected] of program.checks) {
      assert.equal(typeof exports[name], 'function', `${name} is not exported`);
      assert.equal(exports[name](...args), expected, `${name}(${args.join(', ')})`);
    }
  });
}

test('wasm: the module exports its memory and only the declared functions', () => {
  const { exports } = instantiate('func one(): int { back 1; }\nlet x: int = 2;\n');
  assert.ok(exports.memory instanceof WebAssembly.Memory);
  assert.equal(exports.memory.buffer.byteLength, 65536);
  assert.deepEqual(Object.keys(exports).sort(), ['memory', 'one']);
});

test('wasm: ovra.db calls reach the host in order with the builder handles', () => {
  const { exports, calls } = instantiate(`
func query(): obj {
  ovra.db.connect("sqlite", "app.db");
  let rows = ovra.db.table("users").where("age", 30).limit(10);
  back rows;
}`);
  const rows = exports.query();
  assert.deepEqual(calls, [
    ['db_connect', 6, 6],
    ['db_table', 5],
    ['memory_alloc', 64],
    ['memory_alloc', 256],
    ['db_chain', 101, 1024, 1088],
    ['memory_alloc', 64],
    ['memory_alloc', 256],
    ['db_chain', 102, 1344, 1408],
  ]);
  assert.equal(rows, 103);
});

// Writes a large, realistic Ovra program for the build benchmark.
//
//   node bench/generate.mjs <lines> <output.ovra>
//
// The program is a sequence of units, each a small module of classes, functions with loops,
// arrays and string methods, top-level state and an object, in the style of application code.
// Every name a unit declares at top level carries the unit's number, and no local name is ever a
// top-level name, so the program passes the semantic checks at any size. Arithmetic works on
// variables and parameters, so constant folding cannot shrink the work. The output is the same
// for the same line count.
import { createWriteStream } from 'node:fs';

// Unit kinds, rotated so that consecutive units differ. Each takes the unit number k and returns
// its lines.
const kinds = [
  (k) => [
    `// Unit ${k}: sensor readings, filtered and summarised.`,
    `class Reading${k} {`,
    `  sensor: string;`,
    `  value: int;`,
    `  weight: singlef;`,
    `}`,
    ``,
    `func clamp${k}(value: int, low: int, high: int): int {`,
    `  if (value < low) {`,
    `    back low;`,
    `  }`,
    `  if (value > high) {`,
    `    back high;`,
    `  } else {`,
    `    back value;`,
    `  }`,
    `}`,
    ``,
    `func weighted${k}(values: arr<int>, factor: singlef): singlef {`,
    `  let total: singlef = 0.0;`,
    `  let count: int = values.length();`,
    `  forloop (let i = 0; i < count; i = i + 1) {`,
    `    let item: int = values[i];`,
    `    if (item % 2 == 0) {`,
    `      total = total + item * factor;`,
    `    } else {`,
    `      total = total - item / factor;`,
    `    }`,
    `  }`,
    `  if (count == 0) {`,
    `    back total;`,
    `  }`,
    `  back total / count;`,
    `}`,
    ``,
    `func histogram${k}(values: arr<int>, buckets: int): arr<int> {`,
    `  let counts: arr<int> = [];`,
    `  let b: int = 0;`,
    `  while (b < buckets) {`,
    `    push b - b => counts[b];`,
    `    b = b + 1;`,
    `  }`,
    `  forloop (let j = 0; j < values.length(); j = j + 1) {`,
    `    let slot: int = clamp${k}(values[j] % buckets, 0, buckets - 1);`,
    `    counts[slot] = counts[slot] + 1;`,
    `  }`,
    `  back counts;`,
    `}`,
    ``,
    `let g${k}Readings: arr<int> = [${k % 97}, 4, 8, 15, 16, 23, 42, ${(k * 7) % 101}];`,
    `let g${k}Factor: singlef = 1.${k % 10};`,
    `let g${k}Reading = new Reading${k}("sensor-${k}", ${k % 50}, 0.5);`,
    `let g${k}Score: singlef = weighted${k}(g${k}Readings, g${k}Factor + g${k}Reading.weight);`,
    `let g${k}Counts: arr<int> = histogram${k}(g${k}Readings, g${k}Reading.value % 7 + 1);`,
    `if (g${k}Score > g${k}Counts.length()) {`,
    `  g${k}Score = g${k}Score / g${k}Factor;`,
    `}`,
    ``,
  ],
  (k) => [
    `// Unit ${k}: order lines and text checks.`,
    `class Order${k} {`,
    `  code: string;`,
    `  quantity: int;`,
    `  price: multif;`,
    `  tags: arr<string>;`,
    `}`,
    ``,
    `func lineTotal${k}(quantity: int, price: multif, discount: int): multif {`,
    `  let gross: multif = quantity * price;`,
    `  let reduced: multif = gross - gross * discount / 100;`,
    `  if (reduced < 0) {`,
    `    back 0;`,
    `  }`,
    `  back reduced;`,
    `}`,
    ``,
    `func matches${k}(code: string, prefix: string, limit: int): bool {`,
    `  let start: string = code.cutIt(0, limit);`,
    `  let found: bool = start.initOf(prefix) && !code.endOf("-void");`,
    `  let steps: int = 0;`,
    `  while (steps < limit) {`,
    `    steps = steps + 1;`,
    `    if (steps % 3 == 0) {`,
    `      continue;`,
    `    }`,
    `    if (steps > limit * 2) {`,
    `      break;`,
    `    }`,
    `  }`,
    `  back found || steps > limit;`,
    `}`,
    ``,
    `func restock${k}(levels: arr<int>, minimum: int): int {`,
    `  let added: int = 0;`,
    `  forloop (let n = 0; n < levels.length(); n = n + 1) {`,
    `    let level: int = levels[n];`,
    `    if (level < minimum) {`,
    `      levels[n] = minimum;`,
    `      added = added + minimum - level;`,
    `    }`,
    `  }`,
    `  out levels[0] as first {`,
    `    added = added + first % 2;`,
    `  }`,
    `  back added;`,
    `}`,
    ``,
    `let g${k}Order = new Order${k}("ord-${k}", ${(k % 9) + 1}, 19.95, ["new", "paid"]);`,
    `let g${k}Total: multif = lineTotal${k}(g${k}Order.quantity, g${k}Order.price, ${k % 30});`,
    `let g${k}Valid: bool = matches${k}(g${k}Order.code, "ord", g${k}Order.quantity);`,
    `let g${k}Levels: arr<int> = [${k % 13}, 2, 9, ${k % 17}, 5];`,
    `let g${k}Added: int = restock${k}(g${k}Levels, g${k}Order.quantity);`,
    `if (g${k}Valid && g${k}Added > 0) {`,
    `  g${k}Total = g${k}Total + g${k}Added;`,
    `} esle {`,
    `  rmv g${k}Levels[0];`,
    `}`,
    ``,
  ],
  (k) => [
    `// Unit ${k}: a small matrix and a configuration object.`,
    `func fill${k}(size: int, seed: int): arr<arr<int>> {`,
    `  let rows: arr<arr<int>> = [];`,
    `  forloop (let r = 0; r < size; r = r + 1) {`,
    `    let row: arr<int> = [];`,
    `    forloop (let c = 0; c < size; c = c + 1) {`,
    `      push (r * size + c + seed) % 10 => row[c];`,
    `    }`,
    `    push row => rows[r];`,
    `  }`,
    `  back rows;`,
    `}`,
    ``,
    `func trace${k}(rows: arr<arr<int>>): int {`,
    `  let sum: int = 0;`,
    `  let d: int = 0;`,
    `  while (d < rows.length()) {`,
    `    let line: arr<int> = rows[d];`,
    `    sum = sum + line[d];`,
    `    d = d + 1;`,
    `  }`,
    `  back sum;`,
    `}`,
    ``,
    `func label${k}(value: int, width: int): string {`,
    `  let text: string = value.toString();`,
    `  if (text.length() > width) {`,
    `    back text.cutIt(0, width);`,
    `  }`,
    `  back text;`,
    `}`,
    ``,
    `crob g${k}Config (class: Settings${k}, right: true) {`,
    `  size = ${(k % 5) + 2};`,
    `  seed = ${k % 11};`,
    `  func scaled(by: int): int {`,
    `    back by * ${(k % 3) + 2};`,
    `  }`,
    `}`,
    `let g${k}Size: int = ${(k % 5) + 2};`,
    `let g${k}Matrix: arr<arr<int>> = fill${k}(g${k}Size, g${k}Size * ${k % 11});`,
    `let g${k}Trace: int = trace${k}(g${k}Matrix);`,
    `let g${k}Label: string = label${k}(g${k}Trace, g${k}Size);`,
    `remake g${k}Config {`,
    `  seed = g${k}Trace;`,
    `}`,
    ``,
  ],
];

// The encapsulated objects of the third kind name a class; one class serves each such unit.
function settingsClass(k) {
  return [`class Settings${k} {`, `  size: int;`, `  seed: int;`, `}`, ``];
}

function unit(k) {
  const kind = k % kinds.length;
  const lines = kinds[kind](k);
  return kind === 2 ? settingsClass(k).concat(lines) : lines;
}

function main() {
  const [linesArg, output] = process.argv.slice(2);
  const target = Number.parseInt(linesArg ?? '', 10);
  if (!Number.isInteger(target) || target <= 0 || !output) {
    console.error('usage: node bench/generate.mjs <lines> <output.ovra>');
    process.exit(2);
  }
  const out = createWriteStream(output);
  const header = [
    `// Generated by bench/generate.mjs: about ${target} lines.`,
    `let appName: string = "bench";`,
    ``,
  ];
  let chunk = header.join('\n') + '\n';
  let written = header.length;
  let k = 0;
  while (written < target) {
    const lines = unit(k++);
    chunk += lines.join('\n') + '\n';
    written += lines.length;
    if (chunk.length > 1 << 20) {
      out.write(chunk);
      chunk = '';
    }
  }
  // The end of the program reports a few results, which also brings in the runtime prelude.
  const last = k - 1;
  const report = [`ovra.io.print(appName, "units", ${k});`];
  if (last % kinds.length === 0) report.push(`ovra.io.print(g${last}Score.toString());`);
  chunk += report.join('\n') + '\n';
  out.end(chunk);
}

main();

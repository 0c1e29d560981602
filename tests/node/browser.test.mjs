// A real browser against a running `ovrac serve`: the compiled script runs in the page, a broken
// edit shows its diagnostic in the red errors element without reloading, and a good edit reloads
// the page once, within about three seconds, with the new script.

import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { test } from "node:test";

import { Browser } from "./browser_cdp.mjs";

const OVRAC = process.env.OVRAC;

function script(mark) {
  return `document.body.setAttribute("data-ovra", "${mark}");\n`;
}

// `ovrac serve app.ovra --port=0` on 127.0.0.1, with its output collected and each "finished"
// rebuild line timestamped.
function startServe(dir) {
  const child = spawn(OVRAC, ["serve", "app.ovra", "--port=0"], {
    cwd: dir,
    env: { ...process.env, OVRA_DEV_SERVER_HOST: "127.0.0.1" },
    stdio: ["ignore", "pipe", "pipe"],
  });
  const serve = { child, out: "", err: "", rebuiltAt: [] };
  serve.port = new Promise((resolve, reject) => {
    child.stdout.on("data", (chunk) => {
      serve.out += chunk.toString();
      const finished = serve.out.match(/Recompilation finished in \d+ ms \(serve watcher\)/g);
      while (finished && serve.rebuiltAt.length < finished.length) serve.rebuiltAt.push(Date.now());
      const match = serve.out.match(/Dev server running at http:\/\/127\.0\.0\.1:(\d+)\//);
      if (match) resolve(Number(match[1]));
    });
    child.stderr.on("data", (chunk) => (serve.err += chunk.toString()));
    child.on("exit", (code) => reject(new Error(`ovrac serve exited with ${code}: ${serve.err}`)));
  });
  return serve;
}

// Rewrites the source with a modification time later than both its previous one and the
// output's, so the watcher sees the change and the up-to-date check does not skip it.
function edit(source, output, text) {
  const floor = Math.max(fs.statSync(source).mtimeMs, fs.statSync(output).mtimeMs);
  fs.writeFileSync(source, text);
  const seconds = Math.max(Date.now(), floor + 10) / 1000;
  fs.utimesSync(source, seconds, seconds);
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

const title = "the page runs the script, shows build errors and reloads after a good edit";
test(title, { timeout: 60000 }, async (t) => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "ovrac-browser-"));
  const source = path.join(dir, "app.ovra");
  const output = path.join(dir, "app.js");
  fs.writeFileSync(source, script("ran-1"));
  const serve = startServe(dir);
  let browser;
  try {
    const port = await serve.port;
    browser = await Browser.launch();
    await browser.send("Page.navigate", { url: `http://127.0.0.1:${port}/` });

    const mark = 'document.body && document.body.getAttribute("data-ovra")';
    await browser.waitFor(mark, (v) => v === "ran-1", 15000, "the first script");
    assert.equal(await browser.evaluate("document.title"), "Ovra Dev Server");
    await browser.waitFor(
      'document.getElementById("stats").textContent',
      (v) => v === "No recompilation yet",
      8000,
      "the stats line",
    );
    assert.equal(await browser.evaluate("window.OVRA_RUNTIME_URL"), "http://127.0.0.1:3000");
    // Survives only as long as this document does.
    await browser.evaluate('window.__ovraTestDocument = "first"');
    const loadsBefore = browser.count("Page.loadEventFired");

    // A broken edit: the diagnostic appears in red; the output did not change, so no reload.
    edit(source, output, "let x = ;\n");
    const errorsText = 'document.getElementById("errors").textContent';
    const shown = await browser.waitFor(
      errorsText,
      (v) => typeof v === "string" && v.startsWith("Syntax error at 1:"),
      8000,
      "the errors element",
    );
    assert.match(shown, /let x = ;/);
    assert.match(serve.err, /Recompilation failed \(serve\): Syntax error at 1:/);
    assert.equal(
      await browser.evaluate('getComputedStyle(document.getElementById("errors")).color'),
      "rgb(255, 0, 0)",
    );
    await sleep(2500);
    assert.equal(await browser.evaluate("window.__ovraTestDocument"), "first");
    assert.equal(await browser.evaluate(mark), "ran-1");
    assert.equal(browser.count("Page.loadEventFired"), loadsBefore);

    // A good edit: one reload, soon after the rebuild, running the new script.
    edit(source, output, script("ran-2"));
    await browser.waitFor(mark, (v) => v === "ran-2", 10000, "the new script");
    const observedAt = Date.now();
    assert.equal(serve.rebuiltAt.length, 1, serve.out);
    assert.ok(
      observedAt - serve.rebuiltAt[0] < 4000,
      `reloaded ${observedAt - serve.rebuiltAt[0]} ms after the rebuild`,
    );
    t.diagnostic(`new script ran ${observedAt - serve.rebuiltAt[0]} ms after the rebuild`);
    assert.equal(await browser.evaluate("window.__ovraTestDocument"), undefined);
    await browser.waitFor(errorsText, (v) => v === "", 5000, "the emptied errors element");
    await sleep(2500);
    assert.equal(browser.count("Page.loadEventFired"), loadsBefore + 1);
    const reloadLogs = browser.events.filter(
      (event) =>
        event.method === "Runtime.consoleAPICalled" &&
        event.params.args[0]?.value === "[ovra] Detected update, reloading page...",
    );
    assert.equal(reloadLogs.length, 1);
  } finally {
    if (browser) await browser.close();
    serve.child.kill("SIGKILL");
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

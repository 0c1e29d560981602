// A headless Chromium driven over its DevTools protocol, for tests that load pages from a local
// server. The WebSocket client is the minimum the protocol needs: text frames, client masking,
// fragmented and long messages, nothing else.

import { spawn } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";

export const CHROMIUM = "/usr/bin/chromium";

class WebSocketConnection {
  constructor(socket, leftover) {
    this.socket = socket;
    this.buffer = leftover;
    this.fragments = [];
    this.onmessage = () => {};
    this.onclose = () => {};
    socket.on("data", (chunk) => {
      this.buffer = Buffer.concat([this.buffer, chunk]);
      this.#parse();
    });
    socket.on("close", () => this.onclose());
    socket.on("error", () => {});
  }

  static connect(url) {
    const { hostname, port, pathname } = new URL(url);
    return new Promise((resolve, reject) => {
      const socket = net.connect({ host: hostname, port: Number(port) });
      const key = crypto.randomBytes(16).toString("base64");
      let head = Buffer.alloc(0);
      const onData = (chunk) => {
        head = Buffer.concat([head, chunk]);
        const end = head.indexOf("\r\n\r\n");
        if (end < 0) return;
        socket.off("data", onData);
        const status = head.subarray(0, end).toString("latin1");
        if (!status.startsWith("HTTP/1.1 101")) {
          socket.destroy();
          reject(new Error(`WebSocket upgrade refused: ${status}`));
          return;
        }
        resolve(new WebSocketConnection(socket, head.subarray(end + 4)));
      };
      socket.on("data", onData);
      socket.on("error", reject);
      socket.on("connect", () => {
        socket.write(
          `GET ${pathname} HTTP/1.1\r\nHost: ${hostname}:${port}\r\nUpgrade: websocket\r\n` +
            `Connection: Upgrade\r\nSec-WebSocket-Key: ${key}\r\nSec-WebSocket-Version: 13\r\n\r\n`,
        );
      });
    });
  }

  send(text) {
    const payload = Buffer.from(text, "utf8");
    let header;
    if (payload.length < 126) {
      header = Buffer.from([0x81, 0x80 | payload.length]);
    } else if (payload.length < 65536) {
      header = Buffer.from([0x81, 0x80 | 126, payload.length >> 8, payload.length & 0xff]);
    } else {
      header = Buffer.alloc(10);
      header[0] = 0x81;
      header[1] = 0x80 | 127;
      header.writeBigUInt64BE(BigInt(payload.length), 2);
    }
    const mask = crypto.randomBytes(4);
    for (let i = 0; i < payload.length; i++) payload[i] ^= mask[i & 3];
    this.socket.write(Buffer.concat([header, mask, payload]));
  }

  close() {
    this.socket.destroy();
  }

  #parse() {
    while (this.buffer.length >= 2) {
      const fin = (this.buffer[0] & 0x80) !== 0;
      const opcode = this.buffer[0] & 0x0f;
      let length = this.buffer[1] & 0x7f;
      let offset = 2;
      if (length === 126) {
        if (this.buffer.length < 4) return;
        length = this.buffer.readUInt16BE(2);
        offset = 4;
      } else if (length === 127) {
        if (this.buffer.length < 10) return;
        length = Number(this.buffer.readBigUInt64BE(2));
        offset = 10;
      }
      if (this.buffer.length < offset + length) return;
      const payload = this.buffer.subarray(offset, offset + length);
      this.buffer = this.buffer.subarray(offset + length);
      if (opcode === 0x8) {
        this.socket.destroy();
        return;
      }
      if (opcode === 0x1 || opcode === 0x0) {
        this.fragments.push(payload);
        if (fin) {
          const text = Buffer.concat(this.fragments).toString("utf8");
          this.fragments = [];
          this.onmessage(text);
        }
      }
    }
  }
}

// One browser with one page. Commands are sent on the page's session; events of that session
// are kept in `events` (method and params) in the order they came.
export class Browser {
  static async launch() {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), "ovrac-chromium-"));
    const child = spawn(
      CHROMIUM,
      [
        "--headless",
        "--no-sandbox",
        "--disable-gpu",
        "--disable-quic",
        "--no-first-run",
        "--disable-background-networking",
        "--disable-component-update",
        "--disable-sync",
        `--user-data-dir=${profile}`,
        "--remote-debugging-address=127.0.0.1",
        "--remote-debugging-port=0",
        "about:blank",
      ],
      // Its own process group, so that closing ends the renderer and helper processes too.
      { stdio: ["ignore", "ignore", "pipe"], detached: true },
    );
    const endpoint = await new Promise((resolve, reject) => {
      let err = "";
      const timer = setTimeout(() => reject(new Error(`no DevTools endpoint:\n${err}`)), 20000);
      child.stderr.on("data", (chunk) => {
        err += chunk.toString();
        const match = err.match(/DevTools listening on (ws:\/\/\S+)/);
        if (match) {
          clearTimeout(timer);
          resolve(match[1]);
        }
      });
      child.on("exit", (code) => reject(new Error(`chromium exited with ${code}:\n${err}`)));
    });
    const browser = new Browser(child, profile, await WebSocketConnection.connect(endpoint));
    const { targetId } = await browser.command("Target.createTarget", { url: "about:blank" });
    const { sessionId } = await browser.command("Target.attachToTarget", {
      targetId,
      flatten: true,
    });
    browser.sessionId = sessionId;
    await browser.send("Page.enable");
    await browser.send("Runtime.enable");
    return browser;
  }

  constructor(child, profile, socket) {
    this.child = child;
    this.profile = profile;
    this.socket = socket;
    this.nextId = 1;
    this.pending = new Map();
    this.events = [];
    this.sessionId = undefined;
    socket.onmessage = (text) => {
      const message = JSON.parse(text);
      if (message.id !== undefined && this.pending.has(message.id)) {
        const { resolve, reject } = this.pending.get(message.id);
        this.pending.delete(message.id);
        if (message.error) reject(new Error(JSON.stringify(message.error)));
        else resolve(message.result);
      } else if (message.method && message.sessionId === this.sessionId) {
        this.events.push({ method: message.method, params: message.params });
      }
    };
  }

  // A browser-level command.
  command(method, params = {}, sessionId = undefined) {
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      this.pending.set(id, { resolve, reject });
      this.socket.send(JSON.stringify(message));
    });
  }

  // A command to the page.
  send(method, params = {}) {
    return this.command(method, params, this.sessionId);
  }

  // The value of a JavaScript expression in the page (undefined while the page is between
  // documents).
  async evaluate(expression) {
    try {
      const { result, exceptionDetails } = await this.send("Runtime.evaluate", {
        expression,
        returnByValue: true,
      });
      return exceptionDetails ? undefined : result.value;
    } catch {
      return undefined;
    }
  }

  // Polls `expression` until `accept` holds for its value; returns the value, or throws with
  // the last value seen after `timeoutMs`.
  async waitFor(expression, accept, timeoutMs, what) {
    const deadline = Date.now() + timeoutMs;
    let value;
    while (Date.now() < deadline) {
      value = await this.evaluate(expression);
      if (accept(value)) return value;
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    throw new Error(`${what}: still ${JSON.stringify(value)} after ${timeoutMs} ms`);
  }

  count(method) {
    return this.events.filter((event) => event.method === method).length;
  }

  async close() {
    this.socket.close();
    await new Promise((resolve) => {
      if (this.child.exitCode !== null) return resolve();
      this.child.on("exit", resolve);
      try {
        process.kill(-this.child.pid, "SIGKILL");
      } catch {
        this.child.kill("SIGKILL");
      }
    });
    fs.rmSync(this.profile, { recursive: true, force: true });
  }
}

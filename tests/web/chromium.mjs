// Headless Chromium from Debian's package, as the tests drive it: a new empty profile, no network
// (every host name fails to resolve, and no proxy can be reached), nothing fetched in the
// background. As root it needs --no-sandbox.
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

export const CHROMIUM = process.env.KESTRUM_CHROMIUM || "chromium";

export function chromiumArguments(profile) {
  return [
    "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--disable-extensions", "--mute-audio",
    `--user-data-dir=${profile}`, "--host-resolver-rules=MAP * ~NOTFOUND", "--proxy-server=127.0.0.1:9",
  ];
}

export async function withProfile(body) {
  const profile = mkdtempSync(join(tmpdir(), "kestrum-chromium-"));
  try {
    return await body(profile);
  } finally {
    rmSync(profile, { recursive: true, force: true, maxRetries: 30, retryDelay: 100 });
  }
}

// A DevTools session over a pipe (--remote-debugging-pipe): no port, no WebSocket.
export class Browser {
  constructor(profile) {
    this.child = spawn(CHROMIUM, [...chromiumArguments(profile), "--remote-debugging-pipe"],
      { stdio: ["ignore", "ignore", "pipe", "pipe", "pipe"], detached: true });
    this.next = 1;
    this.waiting = new Map();
    this.events = [];
    this.buffer = "";
    this.child.stderr.on("data", () => {});
    this.child.stdio[4].on("data", (chunk) => {
      this.buffer += chunk.toString("utf8");
      for (let end; (end = this.buffer.indexOf("\0")) >= 0;) {
        const message = JSON.parse(this.buffer.slice(0, end));
        this.buffer = this.buffer.slice(end + 1);
        if (message.id && this.waiting.has(message.id)) {
          const { resolve, reject } = this.waiting.get(message.id);
          this.waiting.delete(message.id);
          if (message.error) reject(new Error(JSON.stringify(message.error)));
          else resolve(message.result);
        } else {
          this.events.push(message);
        }
      }
    });
  }

  send(method, params = {}, sessionId = undefined) {
    const id = this.next++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    this.child.stdio[3].write(`${JSON.stringify(message)}\0`);
    return new Promise((resolve, reject) => this.waiting.set(id, { resolve, reject }));
  }

  async page(url) {
    // A tab of its own each time: a new address that differs only after "#" would not load again.
    const { targetId } = await this.send("Target.createTarget", { url: "about:blank" });
    const { sessionId } = await this.send("Target.attachToTarget", { targetId, flatten: true });
    const session = {
      send: (method, params) => this.send(method, params, sessionId),
      evaluate: async (expression) => {
        const { result, exceptionDetails } = await this.send("Runtime.evaluate",
          { expression, returnByValue: true, awaitPromise: true }, sessionId);
        if (exceptionDetails) throw new Error(JSON.stringify(exceptionDetails));
        return result.value;
      },
      until: async (expression, seconds = 60) => {
        const end = Date.now() + seconds * 1000;
        while (Date.now() < end) {
          if (await session.evaluate(expression)) return;
          await new Promise((r) => setTimeout(r, 50));
        }
        throw new Error(`timed out waiting for ${expression}`);
      },
    };
    await session.send("Page.navigate", { url });
    return session;
  }

  // Resolves once Chromium has gone, so that its profile can be removed.
  close() {
    if (this.child.exitCode !== null) return Promise.resolve();
    // Its helper processes share its process group, which ends with it.
    return new Promise((resolve) => {
      this.child.once("exit", resolve);
      process.kill(-this.child.pid, "SIGTERM");
    });
  }
}

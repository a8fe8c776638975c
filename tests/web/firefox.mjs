// Headless Firefox (Debian's firefox-esr), as the page's smoke test drives it: a new profile that
// reaches no network (every address through a proxy that does not answer, its background services
// off), driven over WebDriver BiDi on the loopback. Needs node's WebSocket
// (--experimental-websocket on node 20).
import { spawn } from "node:child_process";
import { mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

export const FIREFOX = process.env.KESTRUM_FIREFOX || "firefox-esr";

const PREFERENCES = {
  "network.proxy.type": 1, "network.proxy.http": "127.0.0.1", "network.proxy.http_port": 9,
  "network.proxy.ssl": "127.0.0.1", "network.proxy.ssl_port": 9, "network.proxy.share_proxy_settings": true,
  "network.dns.disableIPv6": true, "network.captive-portal-service.enabled": false,
  "network.connectivity-service.enabled": false, "app.update.auto": false, "app.update.enabled": false,
  "datareporting.policy.dataSubmissionEnabled": false, "toolkit.telemetry.enabled": false,
  "browser.safebrowsing.malware.enabled": false, "browser.safebrowsing.phishing.enabled": false,
  "extensions.update.enabled": false, "services.settings.server": "http://127.0.0.1:9/",
  "browser.shell.checkDefaultBrowser": false, "browser.startup.homepage_override.mstone": "ignore",
};

export class Firefox {
  static async start() {
    const profile = mkdtempSync(join(tmpdir(), "kestrum-firefox-"));
    writeFileSync(join(profile, "user.js"), Object.entries(PREFERENCES)
      .map(([name, value]) => `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`).join(""));
    const child = spawn(FIREFOX, ["--headless", "--no-remote", "--remote-debugging-port=0", "--profile", profile, "about:blank"],
      { stdio: ["ignore", "ignore", "pipe"], detached: true });
    const firefox = new Firefox(child, profile);
    const address = await new Promise((resolve, reject) => {
      let text = "";
      const timer = setTimeout(() => reject(new Error(`firefox did not start: ${text.slice(-500)}`)), 60000);
      child.stderr.on("data", (chunk) => {
        text += chunk;
        const found = text.match(/WebDriver BiDi listening on (ws:\/\/\S+)/);
        if (found) {
          clearTimeout(timer);
          resolve(found[1]);
        }
      });
      child.once("exit", () => reject(new Error(`firefox ended: ${text.slice(-500)}`)));
    });
    await firefox.connect(`${address}/session`);
    return firefox;
  }

  constructor(child, profile) {
    this.child = child;
    this.profile = profile;
    this.next = 1;
    this.waiting = new Map();
  }

  connect(url) {
    this.socket = new WebSocket(url);
    this.socket.onmessage = (event) => {
      const message = JSON.parse(event.data);
      const waiting = this.waiting.get(message.id);
      if (!waiting) return;
      this.waiting.delete(message.id);
      if (message.type === "error") waiting.reject(new Error(`${message.error}: ${message.message}`));
      else waiting.resolve(message.result);
    };
    return new Promise((resolve, reject) => {
      this.socket.onopen = resolve;
      this.socket.onerror = () => reject(new Error(`cannot reach ${url}`));
    }).then(() => this.send("session.new", { capabilities: {} }));
  }

  send(method, params) {
    const id = this.next++;
    this.socket.send(JSON.stringify({ id, method, params }));
    return new Promise((resolve, reject) => this.waiting.set(id, { resolve, reject }));
  }

  async open(url) {
    const { contexts } = await this.send("browsingContext.getTree", {});
    this.context = contexts[0].context;
    await this.send("browsingContext.navigate", { context: this.context, url, wait: "complete" });
  }

  // The expression's value, as JSON.
  async evaluate(expression) {
    const { result, exceptionDetails } = await this.send("script.evaluate", {
      expression: `(async () => JSON.stringify(await (${expression})))()`,
      target: { context: this.context }, awaitPromise: true,
    });
    if (exceptionDetails) throw new Error(exceptionDetails.text);
    return result.value === undefined ? undefined : JSON.parse(result.value);
  }

  async until(expression, seconds = 60) {
    const end = Date.now() + seconds * 1000;
    while (Date.now() < end) {
      if (await this.evaluate(expression)) return;
      await new Promise((r) => setTimeout(r, 50));
    }
    throw new Error(`timed out waiting for ${expression}`);
  }

  // Resolves once Firefox has gone and its profile is removed.
  async close() {
    try {
      this.socket?.close();
    } catch (error) {
      // Already closed.
    }
    if (this.child.exitCode === null) {
      await new Promise((resolve) => {
        this.child.once("exit", resolve);
        process.kill(-this.child.pid, "SIGTERM");
      });
    }
    rmSync(this.profile, { recursive: true, force: true, maxRetries: 30, retryDelay: 100 });
  }
}

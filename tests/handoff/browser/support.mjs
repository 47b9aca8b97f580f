// What the phone page's browser tests share: the Handoff test host as a child process, a fake
// MPRIS player, and a private sound server of the browser's own.
import { spawn, spawnSync } from "node:child_process";
import { setTimeout as sleep } from "node:timers/promises";
import { createInterface } from "node:readline";
import { fileURLToPath } from "node:url";
import path from "node:path";

const here = path.dirname(fileURLToPath(import.meta.url));
export const projectRoot = path.resolve(here, "../../..");

// A child process whose output lines are kept, so that a test can wait for one.
export class Child {
  constructor(command, args, options = {}) {
    this.lines = [];
    this.waiters = [];
    this.process = spawn(command, args, { stdio: ["pipe", "pipe", "inherit"], ...options });
    this.exited = new Promise((resolve) => this.process.on("exit", resolve));
    createInterface({ input: this.process.stdout }).on("line", (line) => {
      this.lines.push(line);
      this.waiters = this.waiters.filter((waiter) => !waiter());
    });
  }

  // The index from which a later waitFor looks.
  mark() {
    return this.lines.length;
  }

  // The first line at or after index `since` that starts with prefix.
  waitFor(prefix, { since = 0, timeout = 30000 } = {}) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(
        () => reject(new Error(`no line "${prefix}…" within ${timeout} ms; got:\n${this.lines.join("\n")}`)),
        timeout);
      const check = () => {
        const line = this.lines.slice(since).find((l) => l.startsWith(prefix));
        if (line === undefined) {
          return false;
        }
        clearTimeout(timer);
        resolve(line);
        return true;
      };
      if (!check()) {
        this.waiters.push(check);
      }
    });
  }

  send(line) {
    this.process.stdin.write(line + "\n");
  }

  async stop() {
    if (this.process.exitCode === null && this.process.signalCode === null) {
      this.process.stdin.end();
      this.process.kill("SIGTERM");
    }
    await this.exited;
  }
}

// Zivra's Handoff over the real engine on the test session's sound server, started; resolves to
// the host and the page URL on loopback.
export async function startHost() {
  const binary = process.env.ZIVRA_HANDOFF_HOST;
  if (!binary) {
    throw new Error("ZIVRA_HANDOFF_HOST names the Handoff test host");
  }
  const host = new Child(binary, []);
  await host.waitFor("ready");
  const since = host.mark();
  host.send("start");
  const url = (await host.waitFor("url http", { since })).slice("url ".length);
  return { host, url };
}

// A fake MPRIS player on the session bus, org.mpris.MediaPlayer2.<name>; resolves once the bus
// lists it.
export async function startPlayer(name, args) {
  const binary = process.env.ZIVRA_FAKE_PLAYER;
  if (!binary) {
    throw new Error("ZIVRA_FAKE_PLAYER names the fake MPRIS player");
  }
  const player = new Child(binary, [name, ...args]);
  for (let i = 0; i < 200; i++) {
    // Exits with an error while no player is there.
    const names = spawnSync("playerctl", ["-l"], { encoding: "utf8" }).stdout.split("\n");
    if (names.includes(name)) {
      return player;
    }
    await sleep(50);
  }
  throw new Error(`the player ${name} did not appear on the bus`);
}

// A second private sound server, in a session of its own: what the browser plays goes there and
// never reaches the sound server that Zivra captures. Resolves to its PULSE_SERVER and a stop().
export async function startSecondSoundServer() {
  const session = new Child(path.join(projectRoot, "tests/support/session.sh"),
    ["--sound", "--", "sh", "-c", 'echo "pulse $PULSE_SERVER"; exec cat']);
  const line = await session.waitFor("pulse ", { timeout: 60000 });
  return {
    pulseServer: line.slice("pulse ".length),
    stop: async () => {
      session.process.stdin.end();
      await session.exited;
    },
  };
}

// Records every text the status line shows, in order, from the first load on.
export async function recordStatuses(page) {
  await page.addInitScript(() => {
    window.statusHistory = [];
    document.addEventListener("DOMContentLoaded", () => {
      const status = document.getElementById("status");
      window.statusHistory.push(status.textContent);
      new MutationObserver(() => window.statusHistory.push(status.textContent))
        .observe(status, { childList: true, characterData: true, subtree: true });
    });
  });
}

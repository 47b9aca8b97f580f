// Sound all the way to a phone's speaker: a foreign player on the computer's sound server, Zivra's
// tap and engine, the Handoff's stream, the page in headless Chromium, and the speakers of a
// second sound server that belongs to the browser alone (so that its playback is never captured
// by Zivra's tap). Also measures the latency of a click train along that road and prints it.
import { after, before, test } from "node:test";
import assert from "node:assert/strict";
import { spawn, spawnSync } from "node:child_process";
import { setTimeout as sleep } from "node:timers/promises";
import { launchChromium } from "../../support/browser/chromium.mjs";
import { startHost, startSecondSoundServer } from "./support.mjs";

const rate = 48000;
let phoneServer;
let host;
let url;
let browser;
let page;

before(async () => {
  phoneServer = await startSecondSoundServer();
  ({ host, url } = await startHost());
  browser = await launchChromium({ ...process.env, PULSE_SERVER: phoneServer.pulseServer },
    ["--autoplay-policy=no-user-gesture-required"]);
  page = await browser.newPage();
  await page.goto(url);
  const since = host.mark();
  await page.click("#connectBtn");
  await page.waitForFunction(() => document.getElementById("status").textContent === "Streaming");
  await host.waitFor("handoffActive true", { since });
  // The listening phone starts the engine, whose tap takes every other player's sound.
  for (let i = 0; !sinks().includes("zivra_tap"); i++) {
    assert.ok(i < 200, "Zivra's tap did not appear");
    await sleep(50);
  }
});

after(async () => {
  await browser?.close();
  await host?.stop();
  await phoneServer?.stop();
});

function sinks() {
  return spawnSync("pactl", ["list", "short", "sinks"], { encoding: "utf8" }).stdout;
}

// A foreign player on the computer's sound server, playing the mono samples on both channels.
function play(samples) {
  const player = spawn("pacat", ["--playback", "--raw", "--format=s16le", `--rate=${rate}`,
    "--channels=2", "--client-name=Foreign player"], { stdio: ["pipe", "ignore", "inherit"] });
  const bytes = Buffer.alloc(samples.length * 4);
  samples.forEach((value, i) => {
    const v = Math.round(value * 32767);
    bytes.writeInt16LE(v, 4 * i);
    bytes.writeInt16LE(v, 4 * i + 2);
  });
  player.stdin.on("error", () => {});
  player.stdin.end(bytes);
  return player;
}

// Records a source as mono 16-bit samples. Each chunk's arrival dates the samples before it, so
// the earliest-arriving estimate gives when the first sample was heard, on this process's clock.
// `started` settles once the first samples arrive; `length()` counts the samples so far, `heard()`
// gives them and `stop()` gives all that came.
function record(source, pulseServer) {
  const recorder = spawn("parec", ["-d", source, "--raw", "--format=s16le", `--rate=${rate}`,
    "--channels=1", "--latency-msec=10"],
  { stdio: ["ignore", "pipe", "inherit"], env: { ...process.env, PULSE_SERVER: pulseServer } });
  const chunks = [];
  let bytes = 0;
  let start = Infinity;
  let began;
  const started = new Promise((resolve) => { began = resolve; });
  recorder.stdout.on("data", (chunk) => {
    chunks.push(chunk);
    bytes += chunk.length;
    start = Math.min(start, performance.now() / 1000 - bytes / 2 / rate);
    began();
  });
  const heard = () => {
    const all = Buffer.concat(chunks);
    const samples = new Float32Array(all.length >> 1);
    for (let i = 0; i < samples.length; i++) {
      samples[i] = all.readInt16LE(2 * i) / 32768;
    }
    return { samples, start };
  };
  const stop = async () => {
    recorder.kill();
    await new Promise((resolve) => recorder.on("exit", resolve));
    return heard();
  };
  return { started, length: () => bytes >> 1, heard, stop };
}

function magnitude(samples, frequency) {
  let re = 0;
  let im = 0;
  for (let i = 0; i < samples.length; i++) {
    const phase = 2 * Math.PI * frequency * i / rate;
    re += samples[i] * Math.cos(phase);
    im += samples[i] * Math.sin(phase);
  }
  return Math.hypot(re, im) / samples.length;
}

function strongestFrequency(samples, low, high) {
  let best = low;
  let bestMagnitude = 0;
  for (let f = low; f <= high; f += 1) {
    const m = magnitude(samples, f);
    if (m > bestMagnitude) {
      best = f;
      bestMagnitude = m;
    }
  }
  return best;
}

function rms(samples) {
  return Math.sqrt(samples.reduce((sum, x) => sum + x * x, 0) / samples.length);
}

// Times (s, on the recording's clock) at which a click begins: a sample above the threshold after
// at least 200 ms below it.
function onsets({ samples, start }) {
  const found = [];
  let quiet = 0;
  for (let i = 0; i < samples.length; i++) {
    if (Math.abs(samples[i]) > 0.1) {
      if (quiet >= 0.2 * rate) {
        found.push(start + i / rate);
      }
      quiet = 0;
    } else {
      quiet++;
    }
  }
  return found;
}

test("a 440 Hz tone on the computer comes out of the phone's speakers at 440 Hz", async () => {
  const tone = Float32Array.from({ length: 60 * rate },
    (_, i) => 0.5 * Math.sin(2 * Math.PI * 440 * i / rate));
  const player = play(tone);
  // Five packets are buffered before the phone plays, and a busy machine can make the phone's
  // queue run dry or overflow for a while (a gap, or a packet dropped): each second the phone
  // plays is checked until one carries the tone cleanly.
  const speakers = record("speakers.monitor", phoneServer.pulseServer);
  let found = "nothing";
  let clean = false;
  for (let second = 1; second <= 30 && !clean; second++) {
    while (speakers.length() < (second + 1) * rate) {
      await sleep(100);
    }
    const heard = speakers.heard().samples.subarray(second * rate, (second + 1) * rate);
    const frequency = strongestFrequency(heard, 300, 600);
    found = `rms ${rms(heard).toFixed(3)}, strongest at ${frequency} Hz, ` +
      `${(magnitude(heard, 440) / magnitude(heard, 660)).toFixed(1)} times the level at 660 Hz`;
    clean = rms(heard) > 0.05 && Math.abs(frequency - 440) <= 2 &&
      magnitude(heard, 440) > 10 * magnitude(heard, 660);
  }
  await speakers.stop();
  player.kill();
  assert.ok(clean, `no second of the phone's speakers carried the tone cleanly; the last: ${found}`);
});

test("click-train latency from Zivra's tap to the phone's speakers", async () => {
  // Clicks 5 ms long at uneven gaps, so that the one delay that lines both trains up is clear
  // however long it is.
  const gaps = [0.9, 1.3, 1.1, 1.6, 0.8, 1.4, 1.0, 1.5, 1.2, 0.9];
  const clicks = new Float32Array(Math.ceil((gaps.reduce((a, b) => a + b) + 3) * rate));
  let at = 0.5;
  for (const gap of gaps) {
    for (let i = 0; i < 0.005 * rate; i++) {
      clicks[Math.round(at * rate) + i] = 0.6 * Math.sin(2 * Math.PI * 2000 * i / rate);
    }
    at += gap;
  }
  const tap = record("zivra_tap.monitor", process.env.PULSE_SERVER);
  const phone = record("speakers.monitor", phoneServer.pulseServer);
  await Promise.all([tap.started, phone.started]);
  const player = play(clicks);
  await new Promise((resolve) => player.on("exit", resolve));
  const sent = onsets(await tap.stop());
  for (let i = 0; i < 100 && onsets(phone.heard()).length < sent.length; i++) {
    await sleep(100);
  }
  const heard = onsets(await phone.stop());
  assert.ok(sent.length >= gaps.length - 1, `the tap saw ${sent.length} clicks`);

  // A busy machine can make the phone's queue run dry or overflow, which moves its delay by a
  // packet or more (50 ms each) within the train: clicks are paired within a quarter second of
  // the delay that pairs the most. Paired one click off, the uneven gaps leave half of the clicks
  // unpaired or more; the spread of the delays shows in what is printed.
  let best = { matches: [], delay: 0 };
  for (const s of sent) {
    for (const h of heard) {
      const delay = h - s;
      if (delay <= 0) {
        continue;
      }
      const matches = sent.map((t) => heard.find((u) => Math.abs(u - t - delay) < 0.25))
        .map((u, i) => (u === undefined ? null : u - sent[i])).filter((d) => d !== null);
      if (matches.length > best.matches.length) {
        best = { matches, delay };
      }
    }
  }
  assert.ok(best.matches.length >= sent.length / 2,
    `only ${best.matches.length} of ${sent.length} clicks reached the phone (heard ${heard.length})`);
  const ms = best.matches.map((d) => d * 1000).sort((a, b) => a - b);
  console.log(`phone latency over ${ms.length} of ${sent.length} clicks (the phone heard ` +
    `${heard.length}): min ${ms[0].toFixed(0)} ms, median ${ms[Math.floor(ms.length / 2)].toFixed(0)} ms, ` +
    `max ${ms[ms.length - 1].toFixed(0)} ms`);
});

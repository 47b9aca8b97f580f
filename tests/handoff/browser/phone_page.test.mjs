// The phone page in headless Chromium, served by Zivra's Handoff on loopback over the real engine,
// with a fake MPRIS player as the computer's music player. Runs in a private test session.
import { after, before, describe, test } from "node:test";
import assert from "node:assert/strict";
import { setTimeout as sleep } from "node:timers/promises";
import { launchChromium } from "../../support/browser/chromium.mjs";
import { recordStatuses, startHost, startPlayer } from "./support.mjs";

// The page script's own top-level names, which the callbacks of page.evaluate read in the page.
/* global audioCtx, current, currentIdx, iconPause, iconPlay, onAudioFrame, outputRate, playing, proc,
   queue, ws */

const hour = 3600;
let host;
let url;
let player;
let browser;

before(async () => {
  // Title "Night Drive #1", 61:05 long, at 3:07.
  player = await startPlayer("spotify", ["--title", "Night Drive", "--length-us",
    String((hour + 65) * 1e6), "--position-us", String(187 * 1e6)]);
  ({ host, url } = await startHost());
  browser = await launchChromium();
});

after(async () => {
  await browser?.close();
  await host?.stop();
  await player?.stop();
});

async function until(condition, what, timeout = 5000) {
  for (let i = 0; i < timeout / 25 && !condition(); i++) {
    await sleep(25);
  }
  assert.ok(condition(), what);
}

const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

// A page on the Handoff. The messages its first socket sends are recorded in `sent`; with
// `inject`, the test hands the page messages of its own (text, or binary as a Buffer), with
// holdAudio the server's audio frames are held back, with relayAudio each is handed to it with
// a function that sends to the page, and after `hold(type)` the server's text messages of that
// type (so that one the test injected stays on the page); everything else passes through.
async function openPage({ holdAudio = false, relayAudio = null } = {}) {
  const page = await browser.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error));
  await recordStatuses(page);
  const sent = [];
  const received = [];
  const held = new Set();
  let toPage = null;
  await page.routeWebSocket(/\/stream$/, (socket) => {
    const server = socket.connectToServer();
    if (toPage) {
      // Another phone opened from this page: it talks to the server directly.
      return;
    }
    toPage = socket;
    socket.onMessage((message) => {
      sent.push(JSON.parse(message));
      server.send(message);
    });
    server.onMessage((message) => {
      if (typeof message === "string") {
        const parsed = JSON.parse(message);
        received.push(parsed);
        if (held.has(parsed.type)) {
          return;
        }
      } else if (holdAudio) {
        return;
      } else if (relayAudio) {
        relayAudio((bytes) => socket.send(bytes));
        return;
      }
      socket.send(message);
    });
  });
  await page.goto(url);
  return {
    page,
    errors,
    sent,
    received,
    inject: (message) => toPage.send(message),
    hold: (type) => held.add(type),
    text: (id) => page.locator("#" + id).textContent(),
    visible: (id) => page.locator("#" + id).isVisible(),
    // On a timeout it says what was shown instead, and for the status line every text it had.
    waitText: (id, text) => page.waitForFunction(
      ([i, t]) => document.getElementById(i).textContent === t, [id, text]).catch(async (error) => {
      const shown = await page.evaluate(
        (i) => [document.getElementById(i).textContent, window.statusHistory], id);
      throw new Error(`#${id} showed ${JSON.stringify(shown[0])}, not ${JSON.stringify(text)}; ` +
        `the status showed ${JSON.stringify(shown[1])}`, { cause: error });
    }),
    waitSent: (message) => until(() => sent.some((m) => same(m, message)),
      `the page sent ${JSON.stringify(message)}; it sent ${JSON.stringify(sent)}`),
    // One tap (act) that sends `message`, answered by a state message of the Mac that isEcho
    // accepts; once that is in, so is every earlier one.
    step: async (act, message, isEcho) => {
      const sentMark = sent.length;
      const receivedMark = received.length;
      await act();
      await until(() => sent.slice(sentMark).some((m) => same(m, message)),
        `the page sent ${JSON.stringify(message)}; it sent ${JSON.stringify(sent.slice(sentMark))}`);
      await until(() => received.slice(receivedMark).some((m) => m.type === "state" && isEcho(m)),
        `the Mac answered ${JSON.stringify(message)}`);
    },
  };
}

// Connects and waits until the stream runs and the Mac's first state has arrived (a control
// changed before it would be set back by it).
async function connect(view) {
  await view.page.click("#connectBtn");
  await view.page.waitForFunction(
    () => document.getElementById("status").textContent.startsWith("Streaming"));
  await until(() => view.received.some((m) => m.type === "state"),
    "the Mac sent its state on connecting");
}

describe("phone page", () => {
  test("the page carries the session's token and a stale token finds nothing", async () => {
    const token = url.split("/").pop();
    const page = await (await fetch(url)).text();
    assert.ok(!page.includes("@@TOKEN@@"));
    assert.ok(page.includes(`const token = "${token}";`));
    assert.equal((await fetch(url.replace(token, token.toLowerCase()))).status, 404);
  });

  test("a page served over https, as through the tunnel, opens its socket with wss: on its own host", async () => {
    const token = url.split("/").pop();
    const html = await (await fetch(url)).text();
    const tunnel = `https://phone-tunnel.example/handoff/${token}`;
    const page = await browser.newPage();
    await page.route(tunnel, (route) => route.fulfill({ contentType: "text/html", body: html }));
    let opened = null;
    await page.routeWebSocket(/.*/, (socket) => {
      opened = socket.url();
      socket.close();
    });
    await page.goto(tunnel);
    await page.click("#connectBtn");
    await page.waitForFunction(
      () => document.getElementById("status").textContent === "Disconnected. Tap Connect.");
    assert.equal(opened, `wss://phone-tunnel.example/handoff/${token}/stream`);
    await page.close();
  });

  test("Connect starts audio, streams, and Disconnect tears it down", async () => {
    const view = await openPage();
    assert.equal(await view.text("status"), "Ready");
    assert.equal(await view.text("connectBtn"), "Connect");
    const since = host.mark();
    await connect(view);
    await host.waitFor("handoffActive true", { since });
    assert.deepEqual(await view.page.evaluate(() => window.statusHistory),
      ["Ready", "Starting audio…", "Connected. Waiting for audio…", "Streaming"]);
    assert.equal(await view.text("connectBtn"), "Disconnect");
    assert.ok(await view.page.locator("#statusDot.on").count());

    // The Mac's state and track arrive without being asked for; the player is playing.
    await view.waitText("trackTitle", "Night Drive #1");
    assert.match(await view.text("trackArtist"), /Fake Artist/);
    assert.equal(await view.visible("iconPause"), true);
    assert.equal(await view.visible("iconPlay"), false);

    const left = host.mark();
    await view.page.click("#connectBtn");
    await view.waitText("status", "Disconnected. Tap Connect.");
    await host.waitFor("handoffActive false", { since: left });
    assert.equal(await view.text("connectBtn"), "Connect");
    assert.equal(await view.page.locator("#statusDot.on").count(), 0);
    assert.deepEqual(view.errors, []);
    await view.page.close();
  });

  test("every control sends its command and the Mac's state answers", async () => {
    const view = await openPage();
    const { page } = view;
    await connect(view);

    const since = host.mark();
    await view.step(() => page.click("#pitchToggle", { force: true }),
      { action: "setPitchEnabled", value: true }, (m) => m.pitchEnabled === true);
    assert.ok(await view.visible("pitchRow"));
    const cents = (value) => ({ action: "setPitchCents", value });
    const up = () => page.click("#pitchUp");
    const down = () => page.click("#pitchDown");
    await view.step(up, cents(100), (m) => m.pitchCents === 100);
    await view.step(up, cents(200), (m) => m.pitchCents === 200);
    assert.equal(await view.text("pitchValue"), "+2 semitones");
    for (const value of [100, 0, -100]) {
      await view.step(down, cents(value), (m) => m.pitchCents === value);
    }
    assert.equal(await view.text("pitchValue"), "-1 semitone");
    await host.waitFor("pitchCents -100", { since });

    // Dragging the slider to the top, then "+" at +12: 1200 again, the label stays.
    await view.step(() => page.locator("#pitchSlider").fill("12"), cents(1200),
      (m) => m.pitchCents === 1200);
    const before = view.sent.length;
    await view.step(up, cents(1200), (m) => m.pitchCents === 1200);
    assert.deepEqual(view.sent.slice(before), [cents(1200)]);
    assert.equal(await view.text("pitchValue"), "+12 semitones");

    await view.step(() => page.click("#vocalToggle", { force: true }),
      { action: "setRemoveVocalsEnabled", value: true }, (m) => m.removeVocalsEnabled === true);
    assert.ok(await view.visible("vocalModeRow"));
    await view.step(() => page.selectOption("#vocalMode", "Wide"),
      { action: "setVocalMode", value: "Wide" }, (m) => m.vocalRemovalMode === "Wide");
    await host.waitFor("vocalRemovalMode Wide", { since });

    // Transport: the commands reach the Mac, which presses the media keys.
    const keys = host.mark();
    await page.click("#btnRewind");
    await view.waitSent({ action: "rewind" });
    await page.click("#btnFastForward");
    await view.waitSent({ action: "fastForward" });
    await host.waitFor("mediaKey", { since: keys });
    // The icons flip at once, before the player says so (read in the tap's own turn, as the
    // player's next report may flip them back).
    const icons = await page.evaluate(() => {
      const shown = () => [iconPlay, iconPause].map((icon) => getComputedStyle(icon).display !== "none");
      const before = shown();
      document.getElementById("btnPlayPause").click();
      return { before, after: shown() };
    });
    assert.deepEqual(icons.after, [!icons.before[0], !icons.before[1]]);
    assert.notEqual(icons.after[0], icons.after[1]);
    await view.waitSent({ action: "playPause" });

    const never = ["nextTrack", "previousTrack", "mute", "getNowPlaying", "getState"];
    assert.ok(!view.sent.some((m) => never.includes(m.action)));
    assert.deepEqual(view.errors, []);
    await page.click("#connectBtn");
    await view.waitText("status", "Disconnected. Tap Connect.");
    await page.close();
  });

  test("state messages round the cents and show a mode without an option as none", async () => {
    const view = await openPage();
    const { page } = view;
    await connect(view);
    // Another phone's commands change the Mac, and every phone hears of it.
    const other = async (message) => page.evaluate(([target, text]) => new Promise((resolve) => {
      const socket = new WebSocket(target.replace("http:", "ws:") + "/stream");
      socket.onopen = () => {
        socket.send(text);
        setTimeout(() => {
          socket.close();
          resolve();
        }, 200);
      };
    }), [url, JSON.stringify(message)]);

    await other({ action: "setPitchCents", value: 250 });
    await view.waitText("pitchValue", "+3 semitones");
    assert.equal(await page.locator("#pitchSlider").inputValue(), "3");
    await other({ action: "setPitchCents", value: -250 });
    await view.waitText("pitchValue", "-2 semitones");
    await other({ action: "setVocalMode", value: "Karaoke" });
    await page.waitForFunction(() => document.getElementById("vocalMode").value === "Karaoke");
    await other({ action: "setVocalMode", value: "Off" });
    await page.waitForFunction(() => document.getElementById("vocalMode").selectedIndex === -1);

    // Text that is not JSON, and messages of another type, change nothing.
    const label = await view.text("pitchValue");
    view.inject("not json");
    view.inject(JSON.stringify({ type: "somethingElse", pitchCents: 900 }));
    view.inject(JSON.stringify({ type: "state", pitchCents: "700", pitchEnabled: 1 }));
    await page.waitForTimeout(300);
    assert.equal(await view.text("pitchValue"), label);
    assert.deepEqual(view.errors, []);
    await page.click("#connectBtn");
    await view.waitText("status", "Disconnected. Tap Connect.");
    await page.close();
  });

  test("the track's times, its slider and seeking follow the player", async () => {
    const view = await openPage();
    const { page } = view;
    await connect(view);
    await view.waitText("duration", "61:05");
    assert.match(await view.text("currentTime"), /^3:(0[7-9]|1\d)$/);
    assert.equal(await page.locator("#progressSlider").isDisabled(), false);

    // Releasing the slider at half-way seeks to the whole second there; the player follows.
    await page.locator("#progressSlider").fill("50");
    const half = Math.floor(0.5 * (hour + 65));
    await view.waitSent({ action: "seek", value: half });
    await page.waitForFunction(
      (t) => document.getElementById("currentTime").textContent === t,
      `${Math.floor(half / 60)}:${String(half % 60).padStart(2, "0")}`);

    // A nowPlaying message without a length (the player could not say where it is either)
    // disables the slider and shows 0:00 twice. The server's own, sent every two seconds, would
    // replace it while a busy machine reads the fields one by one.
    view.hold("nowPlaying");
    view.inject(JSON.stringify({ type: "nowPlaying", title: "", isPlaying: false, position: 0, duration: 0 }));
    await view.waitText("trackTitle", "—");
    assert.equal(await view.text("trackArtist"), "");
    assert.equal(await page.locator("#progressSlider").isDisabled(), true);
    assert.equal(await view.text("currentTime"), "0:00");
    assert.equal(await view.text("duration"), "0:00");
    await page.click("#connectBtn");
    await view.waitText("status", "Disconnected. Tap Connect.");
    await page.close();
  });

  test("a 44100 Hz stream is resampled to the context's 48000 Hz, and the queue is capped", async () => {
    const view = await openPage({ holdAudio: true });
    const { page } = view;
    await connect(view);
    assert.equal(await page.evaluate(() => outputRate), 48000);

    view.inject(JSON.stringify({ type: "config", sampleRate: 44100, channels: 1, format: "pcm-s16le", packetFrames: 2205 }));
    await view.waitText("status", "Streaming (resampling)");
    const samples = Buffer.alloc(2205 * 2);
    for (let i = 0; i < 2205; i++) {
      samples.writeInt16LE(Math.round(16384 * Math.sin(2 * Math.PI * 441 * i / 44100)), 2 * i);
    }
    view.inject(samples);
    await page.waitForFunction(() => queue.length === 1);
    const block = await page.evaluate(() => ({ length: queue[0].length, peak: Math.max(...queue[0]) }));
    assert.equal(block.length, 2400);
    assert.ok(Math.abs(block.peak - 0.5) < 0.01, `peak ${block.peak}`);

    // A config without a rate means 48000.
    view.inject(JSON.stringify({ type: "config" }));
    await view.waitText("status", "Streaming");

    // A phone that falls behind keeps the newest half second (10 packets) only.
    const queued = await page.evaluate(() => {
      for (let i = 0; i < 50; i++) {
        onAudioFrame(new Int16Array(2400).buffer);
      }
      return queue.length;
    });
    assert.equal(queued, 10);
    await page.click("#connectBtn");
    await view.waitText("status", "Disconnected. Tap Connect.");
    await page.close();
  });

  test("playback waits for five packets, and after running dry says so and plays again", async () => {
    const view = await openPage({ holdAudio: true });
    const { page } = view;
    await connect(view);
    const packet = Buffer.alloc(2400 * 2);
    for (let i = 0; i < 2400; i++) {
      packet.writeInt16LE(Math.round(8000 * Math.sin(2 * Math.PI * 480 * i / 48000)), 2 * i);
    }
    const playing = () => page.evaluate(() => playing && proc !== null);
    for (let i = 0; i < 4; i++) {
      view.inject(packet);
    }
    await page.waitForFunction(() => queue.length === 4);
    assert.equal(await playing(), false);
    view.inject(packet);
    await page.waitForFunction(() => playing && proc !== null);

    // 250 ms of sound run out: the player stops and the page says it is buffering.
    await view.waitText("status", "Buffering…");
    assert.equal(await playing(), false);
    for (let i = 0; i < 5; i++) {
      view.inject(packet);
    }
    await page.waitForFunction(() => playing && proc !== null);
    assert.equal(await view.text("status"), "Buffering…");
    await page.click("#connectBtn");
    await view.waitText("status", "Disconnected. Tap Connect.");
    await page.close();
  });

  test("after a stall of 10 s the page drops the old sound and plays live sound", async () => {
    // The server's packets, numbered (every sample of packet n is n), are held while the
    // connection stalls and then handed over at once, as a phone's receive buffer does.
    let count = 0;
    const held = [];
    let stalled = false;
    const view = await openPage({
      relayAudio: (send) => {
        held.push(Buffer.from(new Int16Array(2400).fill(++count).buffer));
        while (!stalled && held.length) {
          send(held.shift());
        }
      },
    });
    const { page } = view;
    await connect(view);
    await page.waitForFunction(() => playing && proc !== null);
    stalled = true;
    await until(() => held.length >= 200, "10 s of packets held", 60000);
    const newestHeld = count;
    stalled = false;
    const numbers = (playingAfter) => page.waitForFunction((n) => {
      const number = (packet) => Math.round(packet[0] * 32768);
      const queued = queue.map(number);
      const now = current && currentIdx < current.length ? number(current) : 0;
      return Math.max(now, ...queued) >= n[0] && now >= n[1] && { queued, now };
    }, [newestHeld, playingAfter], { timeout: 30000 }).then((handle) => handle.jsonValue());
    const burst = await numbers(0);
    assert.ok(burst.queued.length <= 10, `half a second at most is queued: ${burst.queued}`);
    // A packet that came after the stall plays, with at most half a second queued behind it.
    const live = await numbers(newestHeld + 1);
    assert.ok(live.queued.length <= 10, `playing ${live.now}, queued ${live.queued}`);
    assert.deepEqual(view.errors, []);
    await page.click("#connectBtn");
    await view.waitText("status", "Disconnected. Tap Connect.");
    await page.close();
  });

  test("the Mac stopping the Handoff resets the page, which cannot join a later run", async () => {
    const view = await openPage();
    const { page } = view;
    await connect(view);
    await page.click("#pitchToggle", { force: true });
    await page.click("#vocalToggle", { force: true });
    await view.waitText("trackTitle", "Night Drive #1");
    await view.waitText("duration", "61:05");

    host.send("stop");
    await view.waitText("status", "Disconnected. Tap Connect.");
    assert.equal(await view.text("connectBtn"), "Connect");
    assert.equal(await page.locator("#connectBtn").isEnabled(), true);
    assert.equal(await page.locator("#statusDot.on").count(), 0);
    assert.equal(await page.locator("#pitchToggle").isChecked(), false);
    assert.equal(await page.locator("#vocalToggle").isChecked(), false);
    assert.equal(await view.visible("pitchRow"), false);
    assert.equal(await view.visible("vocalModeRow"), false);
    assert.equal(await page.locator("#progressSlider").isDisabled(), true);
    assert.equal(await view.text("currentTime"), "0:00");
    assert.equal(await view.text("duration"), "0:00");
    assert.equal(await view.visible("iconPlay"), true);
    assert.equal(await view.visible("iconPause"), false);
    assert.equal(await page.evaluate(() => [audioCtx, ws, queue.length, playing]).then(JSON.stringify),
      JSON.stringify([null, null, 0, false]));
    // The track stays as it was last shown.
    assert.equal(await view.text("trackTitle"), "Night Drive #1");

    // A new run serves elsewhere under a new token: the old page's socket fails, and the close
    // that follows the error leaves the error in view.
    const since = host.mark();
    host.send("start");
    await host.waitFor("url http", { since });
    await page.click("#connectBtn");
    await view.waitText("status", "Connection error.");
    await page.waitForTimeout(500);
    assert.equal(await view.text("status"), "Connection error.");
    assert.equal(await view.text("connectBtn"), "Connect");
    assert.equal(await page.locator("#connectBtn").isEnabled(), true);
    assert.deepEqual(view.errors, []);
    await page.close();
  });
});

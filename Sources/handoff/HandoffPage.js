"use strict";

const token = "@@TOKEN@@";
let ws = null;
let audioCtx = null;
let proc = null;
let gain = null;
let playing = false;
let queue = [];
let current = null;
let currentIdx = 0;
let inputRate = 48000;
let outputRate = 48000;
const targetPackets = 5;
// A phone that falls behind drops its oldest audio instead of growing its delay: at most
// half a second (10 packets of 50 ms) waits to be played. A phone that wakes up gets all
// that its connection held at once, many seconds of it; played in order, that would keep it
// seconds late for good. In steady playing the queue stays near targetPackets, well below.
const maxQueuedPackets = 10;
let resumeTimer = null;
let macIsPlaying = false;
let trackDuration = 0;
let trackCurrentTime = 0;
let progressTimer = null;
let isDraggingProgress = false;

const $ = (id) => document.getElementById(id);
const statusDot = $("statusDot");
const connectBtn = $("connectBtn");
const trackTitle = $("trackTitle");
const trackArtist = $("trackArtist");
const progressSlider = $("progressSlider");
const currentTimeLabel = $("currentTime");
const durationLabel = $("duration");
const iconPlay = $("iconPlay");
const iconPause = $("iconPause");
const pitchToggle = $("pitchToggle");
const pitchRow = $("pitchRow");
const pitchValue = $("pitchValue");
const pitchSlider = $("pitchSlider");
const vocalToggle = $("vocalToggle");
const vocalModeRow = $("vocalModeRow");
const vocalMode = $("vocalMode");
const statusLine = $("status");

// The hidden attribute, which the style sheet honours for HTML and SVG elements alike (an SVG
// element has no hidden property).
function show(element, visible) {
  element.toggleAttribute("hidden", !visible);
}

function setStatus(text) {
  statusLine.textContent = text;
}

function vibrate() {
  if (navigator.vibrate) {
    try {
      navigator.vibrate(20);
    } catch (err) {
      // A browser that refuses vibration simply stays still.
    }
  }
}

function send(action, value) {
  if (!ws || ws.readyState !== 1) {
    return;
  }
  ws.send(JSON.stringify(value === undefined ? { action } : { action, value }));
}

function formatTime(seconds) {
  const s = Math.max(0, Math.floor(seconds || 0));
  return Math.floor(s / 60) + ":" + String(s % 60).padStart(2, "0");
}

function semitoneLabel(v) {
  const s = Math.round(v);
  return (s >= 0 ? "+" : "") + s + " " + (Math.abs(s) === 1 ? "semitone" : "semitones");
}

function setProgress(pct) {
  progressSlider.value = pct;
  document.documentElement.style.setProperty("--progress", pct + "%");
}

function updateProgressUI() {
  const pct = trackDuration > 0
    ? Math.min(100, Math.max(0, trackCurrentTime / trackDuration * 100))
    : 0;
  setProgress(pct);
  currentTimeLabel.textContent = formatTime(trackCurrentTime);
  durationLabel.textContent = formatTime(trackDuration);
}

function startProgressTimer() {
  stopProgressTimer();
  progressTimer = setInterval(() => {
    if (!macIsPlaying || trackDuration <= 0) {
      return;
    }
    trackCurrentTime = Math.min(trackCurrentTime + 1, trackDuration);
    if (!isDraggingProgress) {
      updateProgressUI();
    }
  }, 1000);
}

function stopProgressTimer() {
  if (progressTimer) {
    clearInterval(progressTimer);
    progressTimer = null;
  }
}

function updatePlayIcon(isPlaying) {
  macIsPlaying = isPlaying;
  show(iconPause, isPlaying);
  show(iconPlay, !isPlaying);
  if (isPlaying) {
    startProgressTimer();
  } else {
    stopProgressTimer();
  }
}

function setPitchRow(semitones) {
  pitchSlider.value = semitones;
  pitchValue.textContent = semitoneLabel(semitones);
}

function setPitch(semitones) {
  const v = Math.min(12, Math.max(-12, Math.round(semitones)));
  setPitchRow(v);
  send("setPitchCents", v * 100);
}

function applyState(m) {
  if (typeof m.pitchEnabled === "boolean") {
    pitchToggle.checked = m.pitchEnabled;
    show(pitchRow, m.pitchEnabled);
  }
  if (typeof m.pitchCents === "number") {
    setPitchRow(Math.round(m.pitchCents / 100));
  }
  if (typeof m.removeVocalsEnabled === "boolean") {
    vocalToggle.checked = m.removeVocalsEnabled;
    show(vocalModeRow, m.removeVocalsEnabled);
  }
  if (typeof m.vocalRemovalMode === "string") {
    vocalMode.value = m.vocalRemovalMode;
  }
}

function applyNowPlaying(m) {
  trackTitle.textContent = typeof m.title === "string" && m.title !== "" ? m.title : "—";
  trackArtist.textContent = typeof m.artist === "string" ? m.artist : "";
  updatePlayIcon(!!m.isPlaying);
  trackDuration = typeof m.duration === "number" ? m.duration : 0;
  trackCurrentTime = typeof m.position === "number" ? m.position : 0;
  progressSlider.disabled = trackDuration <= 0;
  updateProgressUI();
}

function applyConfig(m) {
  inputRate = typeof m.sampleRate === "number" && m.sampleRate > 0 ? m.sampleRate : 48000;
  setStatus(inputRate !== outputRate ? "Streaming (resampling)" : "Streaming");
  if (audioCtx && audioCtx.state !== "running") {
    audioCtx.resume().catch(() => {});
  }
}

// One audio frame: little-endian 16-bit mono samples, 50 ms at inputRate.
function decodeFrame(bytes) {
  const samples = new Int16Array(bytes, 0, bytes.byteLength >> 1);
  const n = samples.length;
  if (inputRate === outputRate) {
    const out = new Float32Array(n);
    for (let i = 0; i < n; i++) {
      out[i] = samples[i] / 32768;
    }
    return out;
  }
  const outLen = Math.max(0, Math.floor(n * outputRate / inputRate));
  const out = new Float32Array(outLen);
  for (let i = 0; i < outLen; i++) {
    const src = i * inputRate / outputRate;
    const idx = Math.floor(src);
    const frac = src - idx;
    const a = samples[Math.min(idx, n - 1)];
    const b = samples[Math.min(idx + 1, n - 1)];
    out[i] = (a + (b - a) * frac) / 32768;
  }
  return out;
}

function onAudioFrame(bytes) {
  if (bytes.byteLength < 2) {
    return;
  }
  queue.push(decodeFrame(bytes));
  while (queue.length > maxQueuedPackets) {
    queue.shift();
  }
  if (!playing && queue.length >= targetPackets) {
    startPlayback();
  }
}

function onMessage(event) {
  if (typeof event.data !== "string") {
    onAudioFrame(event.data);
    return;
  }
  let m;
  try {
    m = JSON.parse(event.data);
  } catch (err) {
    return;
  }
  if (!m || typeof m !== "object") {
    return;
  }
  if (m.type === "config") {
    applyConfig(m);
  } else if (m.type === "nowPlaying") {
    applyNowPlaying(m);
  } else if (m.type === "state") {
    applyState(m);
  }
}

function dropNodes() {
  if (proc) {
    proc.onaudioprocess = null;
    proc.disconnect();
    proc = null;
  }
  if (gain) {
    gain.disconnect();
    gain = null;
  }
}

async function startPlayback() {
  if (playing || !audioCtx) {
    return;
  }
  playing = true;
  const ctx = audioCtx;
  try {
    if (ctx.state !== "running") {
      try {
        await ctx.resume();
      } catch (err) {
        // Checked below: a context that does not run plays nothing.
      }
    }
    // A teardown while waiting leaves nothing to start.
    if (!playing || ctx !== audioCtx) {
      return;
    }
    if (ctx.state !== "running") {
      playing = false;
      return;
    }
    gain = ctx.createGain();
    gain.gain.value = 1.0;
    proc = ctx.createScriptProcessor(4096, 0, 1);
    proc.onaudioprocess = onAudioProcess;
    proc.connect(gain);
    gain.connect(ctx.destination);
  } catch (err) {
    dropNodes();
    playing = false;
  }
}

function onAudioProcess(event) {
  const out = event.outputBuffer.getChannelData(0);
  let written = 0;
  while (written < out.length) {
    if (!current || currentIdx >= current.length) {
      current = queue.length ? queue.shift() : null;
      currentIdx = 0;
      if (!current) {
        break;
      }
    }
    const n = Math.min(out.length - written, current.length - currentIdx);
    out.set(current.subarray(currentIdx, currentIdx + n), written);
    written += n;
    currentIdx += n;
  }
  out.fill(0, written);
  if (written === 0 && queue.length < targetPackets) {
    playing = false;
    dropNodes();
    if (resumeTimer) {
      clearTimeout(resumeTimer);
    }
    resumeTimer = setTimeout(() => {
      resumeTimer = null;
      if (queue.length >= targetPackets) {
        startPlayback();
      }
    }, 120);
    setStatus("Buffering…");
  }
}

function cleanup() {
  playing = false;
  dropNodes();
  if (resumeTimer) {
    clearTimeout(resumeTimer);
    resumeTimer = null;
  }
  if (audioCtx) {
    audioCtx.onstatechange = null;
    audioCtx.close().catch(() => {});
    audioCtx = null;
  }
  ws = null;
  queue = [];
  current = null;
  currentIdx = 0;
  stopProgressTimer();
  macIsPlaying = false;
  statusDot.classList.remove("on");
  connectBtn.textContent = "Connect";
  connectBtn.disabled = false;
  trackDuration = 0;
  trackCurrentTime = 0;
  progressSlider.disabled = true;
  setProgress(0);
  currentTimeLabel.textContent = "0:00";
  durationLabel.textContent = "0:00";
  show(iconPlay, true);
  show(iconPause, false);
  pitchToggle.checked = false;
  show(pitchRow, false);
  vocalToggle.checked = false;
  show(vocalModeRow, false);
}

async function connect() {
  setStatus("Starting audio…");
  connectBtn.disabled = true;
  try {
    audioCtx = new AudioContext({ sampleRate: 48000 });
  } catch (err) {
    audioCtx = new AudioContext();
  }
  const ctx = audioCtx;
  if (ctx.state !== "running") {
    try {
      await ctx.resume();
    } catch (err) {
      // Playback asks again once audio arrives.
    }
  }
  outputRate = ctx.sampleRate;
  ctx.onstatechange = () => {
    if (ctx.state === "suspended" && ws) {
      ctx.resume().catch(() => {});
    }
  };

  const scheme = location.protocol === "https:" ? "wss:" : "ws:";
  const socket = new WebSocket(scheme + "//" + location.host + "/handoff/" + token + "/stream");
  socket.binaryType = "arraybuffer";
  ws = socket;
  // Events of a socket that has already been torn down (the close that follows an error)
  // must not overwrite what the page shows for it.
  socket.onopen = () => {
    if (ws !== socket) {
      return;
    }
    setStatus("Connected. Waiting for audio…");
    statusDot.classList.add("on");
    connectBtn.textContent = "Disconnect";
    connectBtn.disabled = false;
  };
  socket.onclose = () => {
    if (ws !== socket) {
      return;
    }
    setStatus("Disconnected. Tap Connect.");
    cleanup();
  };
  socket.onerror = () => {
    if (ws !== socket) {
      return;
    }
    setStatus("Connection error.");
    cleanup();
  };
  socket.onmessage = (event) => {
    if (ws === socket) {
      onMessage(event);
    }
  };
}

connectBtn.addEventListener("click", () => {
  vibrate();
  if (ws) {
    ws.close();
    return;
  }
  connect();
});

$("pitchDown").addEventListener("click", () => {
  vibrate();
  setPitch(Number(pitchSlider.value) - 1);
});
$("pitchUp").addEventListener("click", () => {
  vibrate();
  setPitch(Number(pitchSlider.value) + 1);
});
pitchSlider.addEventListener("input", () => setPitch(Number(pitchSlider.value)));
pitchSlider.addEventListener("change", () => setPitch(Number(pitchSlider.value)));

pitchToggle.addEventListener("change", () => {
  vibrate();
  show(pitchRow, pitchToggle.checked);
  send("setPitchEnabled", pitchToggle.checked);
});
vocalToggle.addEventListener("change", () => {
  vibrate();
  show(vocalModeRow, vocalToggle.checked);
  send("setRemoveVocalsEnabled", vocalToggle.checked);
});
vocalMode.addEventListener("change", () => {
  vibrate();
  send("setVocalMode", vocalMode.value);
});

$("btnRewind").addEventListener("click", () => {
  vibrate();
  send("rewind");
});
$("btnFastForward").addEventListener("click", () => {
  vibrate();
  send("fastForward");
});
$("btnPlayPause").addEventListener("click", () => {
  vibrate();
  send("playPause");
  updatePlayIcon(!macIsPlaying);
});

progressSlider.addEventListener("input", () => {
  isDraggingProgress = true;
  const pct = Number(progressSlider.value);
  setProgress(pct);
  if (trackDuration > 0) {
    currentTimeLabel.textContent = formatTime(Math.floor(pct / 100 * trackDuration));
  }
});
progressSlider.addEventListener("change", () => {
  isDraggingProgress = false;
  if (trackDuration > 0) {
    trackCurrentTime = Math.floor(Number(progressSlider.value) / 100 * trackDuration);
    send("seek", trackCurrentTime);
    updateProgressUI();
  }
});

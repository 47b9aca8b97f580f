#!/usr/bin/python3
"""The Handoff's streaming measured on the private test sound server (run it
inside one, with the test host the tests build):

  tests/support/session.sh --sound -- bench/handoff/handoff_bench.py \\
      <build>/tests/handoff/handoff_test_host

Latency: paplay plays a click every half second; a recorder on the tap's
monitor sees each click where it enters Zivra, a phone sees it in the first
packet that carries it. Reported per click: the delay from the recorder to
the phone, against the reference of one packet (50 ms) plus the tap's
1024-frame buffer; median and worst.

Load: a phone listening for 15 s alone, then again while 100 other
WebSocket clients sit connected and wrk hammers the page with 16
connections. Reported for both: packets per second and the worst lateness of
a packet against the 50 ms clock."""

import asyncio
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave

from handoff_host import Host
from phone import Phone
from tone import pcm16, write_tone

RATE = 48000
PERIOD = 0.5
THRESHOLD = 0.05


def write_clicks(path, seconds=120):
    """A 1 ms burst every half second, on silence."""
    frames = bytearray(seconds * RATE * 4)
    for start in range(RATE // 10, seconds * RATE - 48, int(PERIOD * RATE)):
        for i in range(48):
            value = 26000 if i % 2 else -26000
            struct.pack_into("<hh", frames, (start + i) * 4, value, value)
    with wave.open(path, "wb") as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(bytes(frames))


class Onsets:
    """Arrival times of clicks in a stream of sample blocks."""

    def __init__(self):
        self.times = []
        self._quiet = RATE

    def feed(self, samples, arrival):
        for index, sample in enumerate(samples):
            if abs(sample) < THRESHOLD:
                self._quiet += 1
                continue
            if self._quiet >= PERIOD / 2 * RATE:
                # The block arrived whole: the click is in it from its start on.
                self.times.append(arrival - (len(samples) - index) / RATE)
            self._quiet = 0


def record_tap(onsets, stop):
    recorder = subprocess.Popen(
        ["parec", "--device=zivra_tap.monitor", "--format=float32le", f"--rate={RATE}",
         "--channels=1", "--raw", "--latency-msec=5"], stdout=subprocess.PIPE)
    while not stop.is_set():
        data = recorder.stdout.read(4 * 240)
        arrival = time.monotonic()
        onsets.feed(struct.unpack(f"<{len(data) // 4}f", data), arrival)
    recorder.terminate()
    recorder.wait()


async def latency(page_url):
    phone = await Phone.connect(page_url)
    await asyncio.sleep(3)
    tap, stop = Onsets(), threading.Event()
    recorder = threading.Thread(target=record_tap, args=(tap, stop))
    recorder.start()
    start = len(phone.frames)
    await asyncio.sleep(20)
    stop.set()
    recorder.join()
    heard = Onsets()
    for arrival, frame in phone.frames[start:]:
        # The phone has the packet at its arrival: the whole packet counts then.
        samples = pcm16(frame)
        before = len(heard.times)
        heard.feed(samples, arrival)
        heard.times[before:] = [arrival] * (len(heard.times) - before)
    await phone.close()
    delays = []
    for entered in tap.times:
        later = [t for t in heard.times if 0 <= t - entered < PERIOD * 0.9]
        if later:
            delays.append(later[0] - entered)
    return delays


def pacing(frames):
    """Packets per second and the worst lateness against a 50 ms clock."""
    times = [t for t, _ in frames]
    if len(times) < 2:
        return 0.0, 0.0
    base = min(t - i * 0.05 for i, t in enumerate(times))
    late = max(t - i * 0.05 - base for i, t in enumerate(times))
    return (len(times) - 1) / (times[-1] - times[0]), late


async def listen(page_url, seconds=15):
    phone = await Phone.connect(page_url)
    await asyncio.sleep(2)
    start = len(phone.frames)
    await asyncio.sleep(seconds)
    frames = phone.frames[start:]
    await phone.close()
    return pacing(frames)


async def under_load(page_url):
    idle = [await Phone.connect(page_url) for _ in range(100)]
    # wrk runs a little longer than the phone listens and reports at its end.
    hammer = subprocess.Popen(["wrk", "-t4", "-c16", "-d19s", page_url],
                              stdout=subprocess.PIPE, text=True)
    await asyncio.sleep(1)
    result = await listen(page_url)
    report = hammer.communicate()[0]
    requests = next((line for line in report.splitlines() if "Requests/sec" in line), "").strip()
    for phone in idle:
        await phone.close()
    return result, requests


async def main(host_binary):
    with tempfile.TemporaryDirectory() as folder:
        clicks = os.path.join(folder, "clicks.wav")
        write_clicks(clicks)
        tone = os.path.join(folder, "tone.wav")
        write_tone(tone, 440, seconds=120)
        player = subprocess.Popen(["paplay", clicks])
        try:
            with Host(host_binary) as host:
                page_url = host.start()
                delays = await latency(page_url)
        finally:
            player.terminate()
            player.wait()
        if delays:
            print(f"latency tap monitor -> phone over {len(delays)} clicks: median "
                  f"{statistics.median(delays) * 1e3:.1f} ms, worst {max(delays) * 1e3:.1f} ms "
                  f"(reference: one packet + one tap buffer = {50 + 1024 / RATE * 1e3:.1f} ms)")
        else:
            print("latency: no click reached the phone")

        player = subprocess.Popen(["paplay", tone])
        try:
            with Host(host_binary) as host:
                page_url = host.start()
                alone = await listen(page_url)
                loaded, requests = await under_load(page_url)
        finally:
            player.terminate()
            player.wait()
        print(f"alone: {alone[0]:.2f} packets/s, worst lateness {alone[1] * 1e3:.1f} ms")
        print(f"100 idle clients + wrk -c16 ({requests}): {loaded[0]:.2f} packets/s, "
              f"worst lateness {loaded[1] * 1e3:.1f} ms")


asyncio.run(main(sys.argv[1]))

#!/usr/bin/python3
"""End to end on the private sound server: what another program plays
reaches a phone as 16-bit packets carrying it, 20 packets a second, while
the speakers stay quiet; the speakers carry it again once the phone leaves."""

import asyncio
import statistics
import sys
import time

from handoff_host import Checks, Host
from phone import Phone
from tone import TonePlayer, level_db, peak_frequency, pcm16, record

HOST = sys.argv[1]
RATE = 48000
checks = Checks()


def speakers_tone_db(seconds=1.0):
    heard = record("speakers.monitor", seconds)
    return level_db(heard[-RATE // 2:], RATE, 440), heard


def speakers_carry_tone_db(patience=15):
    """The speakers' level at 440 Hz once it is above -20 dB, or the last one
    read when the patience runs out."""
    db = -400.0
    deadline = time.monotonic() + patience
    while db < -20 and time.monotonic() < deadline:
        db, _ = speakers_tone_db()
    return db


async def scenario(host):
    page_url = host.start()
    phone = await Phone.connect(page_url)
    checks.expect(host.wait_for("handoffActive true") is not None, "the phone is listening")
    # The engine starts for the phone; give its graph a moment to run.
    deadline = time.monotonic() + 15
    while not phone.frames and time.monotonic() < deadline:
        await asyncio.sleep(0.1)
    checks.expect(phone.frames, "audio frames arrive")
    await asyncio.sleep(1.0)

    start = len(phone.frames)
    silent_db, _ = await asyncio.to_thread(lambda: speakers_tone_db())
    await asyncio.sleep(10.0 - 1.0)
    window = phone.frames[start:]
    seconds = window[-1][0] - window[0][0] if len(window) > 1 else 0
    rate = (len(window) - 1) / seconds if seconds else 0
    print(f"packets per second {rate:.2f}, speakers at 440 Hz {silent_db:.1f} dB", flush=True)
    checks.expect(19 <= rate <= 21, f"packets per second: {rate:.2f} over {seconds:.1f} s")
    checks.expect(all(len(f) == 4800 for _, f in window), "each packet holds 2400 samples")

    # Half seconds of the last four: on a busy machine one of them may hold a
    # dropout, which smears its peak; a wrong rate moves every one of them.
    peaks = []
    for end in range(len(window), max(len(window) - 80, 9), -10):
        piece = [s for _, f in window[end - 10:end] for s in pcm16(f)]
        peaks.append(peak_frequency(piece[-RATE // 2:], RATE, 400, 480, 0.5))
    peak = statistics.median(peaks)
    samples = [s for _, f in window[-10:] for s in pcm16(f)]
    print(f"phone: peaks {peaks} Hz, {level_db(samples[-RATE // 2:], RATE, peaks[0]):.1f} dB", flush=True)
    checks.expect(abs(peak - 440) <= 1, f"the phone hears 440 Hz: peaks at {peaks} Hz")
    tone_db = level_db(samples[-RATE // 2:], RATE, 440)
    checks.expect(tone_db > -20, f"the phone's tone level: {tone_db:.1f} dB")
    checks.expect(silent_db < tone_db - 40,
                  f"the speakers are quiet while the phone listens: {silent_db:.1f} dB")

    await phone.close()
    checks.expect(host.wait_for("handoffActive false") is not None, "the phone has left")
    back_db = await asyncio.to_thread(speakers_carry_tone_db)
    checks.expect(back_db > -20, f"the speakers carry the tone again: {back_db:.1f} dB")


def main():
    with TonePlayer(440):
        before = speakers_carry_tone_db()
        checks.expect(before > -20, f"the tone plays on the speakers: {before:.1f} dB")
        with Host(HOST) as host:
            asyncio.run(scenario(host))
    checks.finish()


main()

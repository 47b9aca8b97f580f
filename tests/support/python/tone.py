"""Checks audio by frequency and relative level, never by sample values."""

import math
import struct
import subprocess


def level_db(samples, rate, frequency):
    """Level of the sine component at frequency in dB of full scale (a full
    scale sine reads 0 dB), by a Hann-windowed Goertzel filter."""
    n = len(samples)
    if n == 0:
        return -400.0
    coefficient = 2 * math.cos(2 * math.pi * frequency / rate)
    previous = before = 0.0
    window_sum = 0.0
    for i, sample in enumerate(samples):
        window = 0.5 - 0.5 * math.cos(2 * math.pi * i / (n - 1))
        window_sum += window
        previous, before = sample * window + coefficient * previous - before, previous
    power = previous * previous + before * before - coefficient * previous * before
    amplitude = 2 * math.sqrt(max(power, 0.0)) / window_sum
    return 20 * math.log10(amplitude) if amplitude > 0 else -400.0


def peak_frequency(samples, rate, low, high, step=1.0):
    """The frequency between low and high with the strongest component."""
    best, best_db = low, -math.inf
    frequency = low
    while frequency <= high:
        db = level_db(samples, rate, frequency)
        if db > best_db:
            best, best_db = frequency, db
        frequency += step
    return best


def rms_db(samples):
    if not samples:
        return -400.0
    rms = math.sqrt(sum(s * s for s in samples) / len(samples))
    return 20 * math.log10(rms) if rms > 0 else -400.0


def pcm16(frame):
    """The samples of a Handoff audio frame as floats."""
    return [v / 32768 for v in struct.unpack(f"<{len(frame) // 2}h", frame)]


class TonePlayer:
    """A centred sine played on the default sink until the block ends. sox makes
    it as it is played, so however slow the run, the tone never ends first."""

    def __init__(self, frequency, amplitude=0.3, rate=48000):
        self._synth = subprocess.Popen(
            ["sox", "-n", "-r", str(rate), "-c", "2", "-b", "16", "-e", "signed", "-t", "raw",
             "-", "synth", "sine", str(frequency), "vol", str(amplitude)],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self._player = subprocess.Popen(
            ["pacat", "--playback", "--raw", "--format=s16le", f"--rate={rate}", "--channels=2"],
            stdin=self._synth.stdout)
        self._synth.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        for process in (self._player, self._synth):
            process.terminate()
            process.wait()


def record(source, seconds, rate=48000):
    """The mid channel of what the source carries for the given time."""
    frames = int(seconds * rate)
    recorder = subprocess.Popen(
        ["parec", f"--device={source}", "--format=float32le", f"--rate={rate}", "--channels=2",
         "--raw", "--latency-msec=20"], stdout=subprocess.PIPE)
    data = recorder.stdout.read(frames * 8)
    recorder.terminate()
    recorder.wait()
    values = struct.unpack(f"<{len(data) // 4}f", data[: len(data) // 8 * 8])
    return [(values[i] + values[i + 1]) / 2 for i in range(0, len(values), 2)]

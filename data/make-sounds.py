#!/usr/bin/env python3
"""Writes the program's two wave files (a phone ring and a short message chime). Run once; the files are
committed in data/sounds."""
import math
import struct
import wave
from pathlib import Path

RATE = 22050


def tone(freqs, seconds, volume=0.35, fade=0.01):
    n = int(RATE * seconds)
    out = []
    for i in range(n):
        t = i / RATE
        env = min(1.0, t / fade, (seconds - t) / fade)
        v = sum(math.sin(2 * math.pi * f * t) for f in freqs) / len(freqs)
        out.append(int(32767 * volume * env * v))
    return out


def silence(seconds):
    return [0] * int(RATE * seconds)


def write(path, samples):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(struct.pack("<%dh" % len(samples), *samples))


here = Path(__file__).resolve().parent / "sounds"
here.mkdir(exist_ok=True)
ring = []
for _ in range(2):
    for _ in range(8):
        ring += tone([440, 480], 0.05) + silence(0.01)
    ring += silence(0.2)
write(here / "ringing.wav", ring)
write(here / "SMSNotify.wav", tone([880], 0.12) + silence(0.04) + tone([1320], 0.18))

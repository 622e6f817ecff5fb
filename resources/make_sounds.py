#!/usr/bin/env python3
"""Writes the program's four sounds as 16-bit PCM WAVE files.

1.wav  closing       mono   11025 Hz  0.30 s  a falling two-note chime
2.wav  run finished  stereo 22050 Hz  1.35 s  a rising three-note arpeggio
3.wav  action start  mono   16000 Hz  0.08 s  a short click
4.wav  cancel        mono   16000 Hz  0.50 s  a low falling tone
"""
import math
import struct
import sys
import wave


def envelope(i, n, attack=0.01, release=0.3):
    t = i / n
    a = min(1.0, t / attack) if attack else 1.0
    r = min(1.0, (1.0 - t) / release) if release else 1.0
    return a * r


def tone(rate, seconds, freq_at, volume=0.5):
    n = int(round(rate * seconds))
    phase = 0.0
    out = []
    for i in range(n):
        phase += 2 * math.pi * freq_at(i / n) / rate
        # A touch of the octave makes the notes less bare.
        s = math.sin(phase) + 0.25 * math.sin(2 * phase)
        out.append(volume * envelope(i, n) * s / 1.25)
    return out


def notes(rate, seconds, freqs):
    per = seconds / len(freqs)
    out = []
    for f in freqs:
        out += tone(rate, per, lambda t, f=f: f)
    return out


def write(name, rate, channels, samples):
    with wave.open(name, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        frames = bytearray()
        for s in samples:
            v = int(max(-1.0, min(1.0, s)) * 32767)
            frames += struct.pack("<h", v) * channels
        w.writeframes(bytes(frames))


def main(folder):
    write(f"{folder}/1.wav", 11025, 1, notes(11025, 0.30, [880.0, 660.0]))
    write(f"{folder}/2.wav", 22050, 2, notes(22050, 1.35, [523.25, 659.25, 783.99]))
    write(f"{folder}/3.wav", 16000, 1, tone(16000, 0.08, lambda t: 1500.0, volume=0.4))
    write(f"{folder}/4.wav", 16000, 1, tone(16000, 0.50, lambda t: 440.0 - 220.0 * t))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else ".")

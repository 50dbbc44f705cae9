#!/usr/bin/env python3
"""Where each tone of a decoded audio track begins and ends, and how many
samples of a stretch are not zero: the measuring half of the joins check.

  tone_onsets.py tones RAW CHANNELS HZ...
      one line a tone, "HZ BEGIN END" in samples from the file's start
      (fractions of a sample kept), or "HZ none" where it never sounds;
  tone_onsets.py nonzero RAW CHANNELS FIRST LAST
      how many samples of sample frames FIRST to LAST (LAST excluded), on
      every channel, are not zero.

RAW holds 16-bit little-endian samples at 48 kHz, CHANNELS interleaved;
tones are looked for on the first channel. A tone's amplitude is measured
in windows of 10 ms, a millisecond apart, as one bin of a discrete Fourier
transform. The tones are multiples of 100 Hz, so a window holds whole
periods of each and a steady other tone adds nothing to its bin. Where a
tone starts or stops at once, its amplitude grows or falls with the share
of the window it fills: the first window at half the tone's steady
amplitude gives, by that share, where it begins, and the last one where
it ends. Codecs smear an edge by a few milliseconds at most.
"""

import array
import math
import operator
import sys

SAMPLE_RATE = 48000
HOP = 48          # samples between windows: 1 ms
WINDOW = 480      # samples a window: 10 ms, whole periods of any multiple of 100 Hz
HALF = 0.5        # the share of a window the tone fills at the edge found
SAMPLE_FORMAT = "h"  # 16-bit signed


def read_samples(path):
    samples = array.array(SAMPLE_FORMAT)
    with open(path, "rb") as raw:
        samples.frombytes(raw.read())
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def block_sums(signal, hz):
    """The transform's bin at HZ summed over each hop-long block, so that a
    window's bin is the sum of WINDOW / HOP blocks in a row."""
    step = 2 * math.pi * hz / SAMPLE_RATE
    cosines = [math.cos(step * i) for i in range(WINDOW + HOP)]
    sines = [math.sin(step * i) for i in range(WINDOW + HOP)]
    blocks = []
    for start in range(0, len(signal) - HOP + 1, HOP):
        phase = start % WINDOW  # the tone's phase repeats every window
        piece = signal[start:start + HOP]
        blocks.append((sum(map(operator.mul, piece, cosines[phase:phase + HOP])),
                       sum(map(operator.mul, piece, sines[phase:phase + HOP]))))
    return blocks


def window_amplitudes(blocks):
    per_window = WINDOW // HOP
    amplitudes = []
    real = imaginary = 0.0
    for index, (block_real, block_imaginary) in enumerate(blocks):
        real += block_real
        imaginary += block_imaginary
        if index >= per_window:
            real -= blocks[index - per_window][0]
            imaginary -= blocks[index - per_window][1]
        if index >= per_window - 1:
            amplitudes.append(2 * math.hypot(real, imaginary) / WINDOW)
    return amplitudes


def tone_edges(signal, hz):
    """(begin, end) in samples, or None where the tone never sounds."""
    amplitudes = window_amplitudes(block_sums(signal, hz))
    loudest = max(amplitudes, default=0.0)
    if loudest == 0.0:
        return None
    # The steady amplitude: the median of the windows at half the loudest or more.
    steady = sorted(a for a in amplitudes if a >= HALF * loudest)
    steady = steady[len(steady) // 2]
    sounding = [i for i, a in enumerate(amplitudes) if a >= HALF * steady]
    first, last = sounding[0], sounding[-1]
    begin = first * HOP + WINDOW - min(amplitudes[first] / steady, 1.0) * WINDOW
    end = last * HOP + min(amplitudes[last] / steady, 1.0) * WINDOW
    return begin, end


def tones(path, channels, frequencies):
    signal = read_samples(path)[0::channels]
    for hz in frequencies:
        edges = tone_edges(signal, hz)
        print(f"{hz} none" if edges is None else f"{hz} {edges[0]:.1f} {edges[1]:.1f}")


def nonzero(path, channels, first, last):
    samples = read_samples(path)
    first = max(first, 0) * channels
    last = min(last * channels, len(samples))
    print(sum(1 for value in samples[first:last] if value != 0) if last > first else 0)


def main(arguments):
    if len(arguments) >= 4 and arguments[0] == "tones":
        tones(arguments[1], int(arguments[2]), [int(hz) for hz in arguments[3:]])
    elif len(arguments) == 5 and arguments[0] == "nonzero":
        nonzero(arguments[1], int(arguments[2]), int(arguments[3]), int(arguments[4]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

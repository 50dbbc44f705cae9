#!/usr/bin/env python3
"""Writes the fuzzer's seeds into fuzz/corpus: slices of the bundled sample
and crafted packs. Each seed is one option byte followed by the input file.

Option byte: bit 0 asks for video, bit 1 for AC-3, the six bits above them
hold the audio number plus 32 (so 0x83 is video and substream 0x80)."""

import pathlib

HERE = pathlib.Path(__file__).resolve().parent
SAMPLE = HERE.parent / "samples" / "sample.vob"
CORPUS = HERE / "corpus"

SECTOR = 2048
SLICE_SECTORS = 32  # the fuzzer's largest input is the option byte and 32 sectors
SAMPLE_SLICES = 4


def options(video, audio, audio_no=0):
    return bytes([(audio_no + 32) << 2 | (2 if audio else 0) | (1 if video else 0)])


def pack(stream_id, body, header_length=0, packet_length=None):
    """A 14-byte pack header, one PES packet and a padding packet after it."""
    out = bytes([0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8])
    length = 3 + header_length + len(body) if packet_length is None else packet_length
    out += bytes([0, 0, 1, stream_id, length >> 8, length & 0xFF, 0x81, 0x80, header_length])
    out += b"\xff" * header_length + body
    left = SECTOR - len(out)
    if left >= 6:
        out += bytes([0, 0, 1, 0xBE, (left - 6) >> 8, (left - 6) & 0xFF]) + b"\xff" * (left - 6)
    return out.ljust(SECTOR, b"\0")[:SECTOR]


def payload(length, seed):
    state = seed * 2654435761 + 1
    out = bytearray()
    for _ in range(length):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append(2 + (state >> 16) % 252)
    return bytes(out)


def ac3(substream, body, header_length=0, packet_length=None):
    return pack(0xBD, bytes([substream, 1, 0, 1]) + body, header_length, packet_length)


def crafted():
    padding = bytes([0, 0, 1, 0xBE])
    movie = (pack(0xBB, payload(100, 1)) + pack(0xE0, payload(1500, 2)) + ac3(0x80, payload(1200, 3))
             + ac3(0x81, payload(1100, 4)) + pack(0xE1, payload(600, 5)) + bytes(SECTOR))
    return {
        "crafted-movie": options(True, True) + movie,
        "crafted-movie-audio1": options(False, True, 1) + movie,
        "crafted-header-255": options(True, True)
        + pack(0xE0, payload(SECTOR - 23 - 255, 6), 255) + ac3(0x80, payload(SECTOR - 27 - 255, 7), 255),
        "crafted-packet-lengths": options(True, True)
        + pack(0xE0, payload(2025, 8), 0, 0xFFFF) + pack(0xE0, payload(2025, 9), 0, 0)
        + ac3(0x80, payload(2021, 10), 0, 5) + pack(0xE0, payload(2025, 11), 0, 2028),
        # Packets that end exactly where their payload begins, and one byte past the sector.
        "crafted-packet-length-edges": options(True, True)
        + pack(0xE0, payload(1000, 18), 7, 3 + 7) + ac3(0x80, payload(1000, 19), 9, 3 + 9 + 4)
        + ac3(0x80, payload(1000, 20), 9, 3 + 9 + 3) + pack(0xE0, payload(2025, 21), 0, 2029),
        "crafted-padding-in-video": options(True, True)
        + pack(0xE0, payload(50, 12) + padding + payload(50, 13)) + ac3(0x80, padding + payload(40, 14)),
        "crafted-torn-sector": options(True, True) + pack(0xE0, payload(500, 15)) + pack(0xE0, payload(500, 16))[:1000],
        "crafted-negative-audio-number": options(True, True, -32) + ac3(0x60, payload(700, 17)),
    }


def main():
    CORPUS.mkdir(exist_ok=True)
    sample = SAMPLE.read_bytes()
    slice_bytes = SLICE_SECTORS * SECTOR
    for i in range(SAMPLE_SLICES):
        chunk = sample[i * slice_bytes:(i + 1) * slice_bytes]
        (CORPUS / f"sample-{i}").write_bytes(options(True, True, i % 2) + chunk)
    for name, data in crafted().items():
        (CORPUS / name).write_bytes(data)


if __name__ == "__main__":
    main()

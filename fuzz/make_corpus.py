#!/usr/bin/env python3
"""Writes the fuzzer's seeds into fuzz/corpus: slices of the bundled sample,
slices of a VOB that ffmpeg's DVD muxer makes with every audio kind (when
ffmpeg is installed; otherwise those seeds are left as they are) and crafted
packs. Each seed is five option bytes followed by the input file.

Option bytes: byte 0, bit 0 asks for video, bit 1 for AC-3, the six bits
above them hold the audio number plus 32 (so 0x83 is video and substream
0x80); byte 1, bit 0 asks for LPCM, bit 1 for a WAV file that can seek, the
six bits above them hold the LPCM number plus 32; bytes 2 and 3, bit 0 asks
for MPEG audio and DTS, the seven bits above it hold the number plus 64;
byte 4, the same for subpictures."""

import pathlib
import shutil
import subprocess
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
SAMPLE = HERE.parent / "samples" / "sample.vob"
CORPUS = HERE / "corpus"

SECTOR = 2048
SLICE_SECTORS = 32  # the fuzzer's largest input is the five option bytes and 32 sectors
SAMPLE_SLICES = 4


def options(video, audio, audio_no=0, lpcm=None, seekable=False, mpa=None, dts=None, sub=None):
    """None for an output that is not asked for."""
    def seven_bits(number):
        return 0 if number is None else (number + 64) << 1 | 1

    return bytes([(audio_no + 32) << 2 | (2 if audio else 0) | (1 if video else 0),
                  0 if lpcm is None else (lpcm + 32) << 2 | (2 if seekable else 0) | 1,
                  seven_bits(mpa), seven_bits(dts), seven_bits(sub)])


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


def substream(number, body, frames=1):
    """A private stream 1 packet's payload: substream number, frame count,
    first access unit pointer, then the body."""
    return bytes([number, frames, 0, 1]) + body


def lpcm(number, bits, rate, channels, samples):
    """An LPCM pack: its three header bytes (emphasis, mute and frame number;
    word length, sampling frequency, channels less one; dynamic range), then
    the samples."""
    word = {16: 0, 20: 1, 24: 2, 3: 3}[bits]  # 3: a reserved word length
    frequency = {48000: 0, 96000: 1, 44100: 2}[rate]  # 44.1 kHz is not DVD-Video's
    return pack(0xBD, substream(number, bytes([0, word << 6 | frequency << 4 | (channels - 1), 0x80]) + samples))


def crafted_kinds():
    """Packs of MPEG audio, DTS and LPCM beside video and AC-3."""
    movie = (pack(0xE0, payload(1500, 30)) + pack(0xC0, payload(1400, 31)) + pack(0xBD, substream(0x88, payload(1300, 32)))
             + pack(0xBD, substream(0x80, payload(1200, 33))) + pack(0xC1, payload(900, 34))
             + pack(0xBD, substream(0x89, payload(1100, 35))) + lpcm(0xA0, 16, 48000, 2, payload(1001, 36))
             + lpcm(0xA0, 16, 48000, 2, payload(999, 37)) + pack(0xC0, payload(300, 38), 5))
    # 24-bit 5.1: packets that cut groups and sample frames, one of another
    # format and one of a reserved word length between them.
    lpcm_51 = (lpcm(0xA1, 24, 48000, 6, payload(1003, 40)) + lpcm(0xA1, 16, 48000, 2, payload(800, 41))
               + lpcm(0xA1, 24, 48000, 6, payload(77, 42)) + lpcm(0xA1, 3, 48000, 6, payload(500, 43))
               + lpcm(0xA1, 24, 48000, 6, payload(1500, 44)))
    lpcm_20 = (lpcm(0xA2, 20, 96000, 1, payload(1001, 45)) + lpcm(0xA2, 20, 96000, 1, payload(3, 46))
               + lpcm(0xA2, 20, 96000, 1, payload(1201, 47)) + lpcm(0xA2, 20, 48000, 1, payload(500, 48))
               + lpcm(0xA2, 24, 44100, 1, payload(500, 49)))
    lpcm_20_3ch = lpcm(0xA3, 20, 48000, 3, payload(1111, 50)) + lpcm(0xA3, 20, 48000, 3, payload(1112, 51))
    return {
        "crafted-kinds-movie": options(True, True, 0, lpcm=0, mpa=1, dts=0) + movie,
        "crafted-kinds-movie-seekable": options(False, False, lpcm=0, seekable=True, mpa=0, dts=1) + movie,
        # Numbers past each kind's range reach the neighbours' streams, and
        # -audio 8 takes the DTS substream 0x88 that -dts 0 takes too.
        "crafted-kinds-neighbours": options(True, True, 8, lpcm=-32, mpa=32, dts=0) + movie,
        "crafted-lpcm-24bit-51": options(False, False, lpcm=1, seekable=True) + lpcm_51,
        "crafted-lpcm-20bit-mono": options(False, False, lpcm=2) + lpcm_20,
        "crafted-lpcm-20bit-3ch": options(False, False, lpcm=3, seekable=True) + lpcm_20_3ch,
    }


def ffmpeg_slices():
    """Slices of a VOB with video, AC-3, 24-bit 5.1 LPCM, MPEG audio and DTS
    made by ffmpeg's DVD muxer, or nothing without ffmpeg."""
    if shutil.which("ffmpeg") is None:
        return {}
    with tempfile.TemporaryDirectory() as folder:
        vob = pathlib.Path(folder) / "kinds.vob"
        subprocess.run(
            ["ffmpeg", "-nostdin", "-v", "error", "-y",
             "-f", "lavfi", "-i", "testsrc2=size=64x64:rate=25:duration=1",
             "-f", "lavfi", "-i", "sine=frequency=440:sample_rate=48000:duration=1",
             "-map", "0:v", "-map", "1:a", "-map", "1:a", "-map", "1:a", "-map", "1:a",
             "-c:v", "mpeg2video", "-b:v", "200k", "-pix_fmt", "yuv420p", "-c:a", "ac3", "-ar", "48000",
             "-b:a:0", "96k", "-c:a:1", "pcm_dvd", "-sample_fmt:a:1", "s32", "-ac:a:1", "6",
             "-c:a:2", "mp2", "-b:a:2", "64k", "-c:a:3", "dca", "-ac:a:3", "2", "-b:a:3", "768k", "-strict", "-2",
             "-fflags", "+bitexact", "-flags:v", "+bitexact", "-flags:a", "+bitexact", "-f", "dvd", str(vob)],
            check=True)
        data = vob.read_bytes()
    slice_bytes = SLICE_SECTORS * SECTOR
    return {
        "ffmpeg-kinds-0": options(True, True, 0, lpcm=0, mpa=0, dts=0) + data[:slice_bytes],
        "ffmpeg-kinds-1": options(False, False, lpcm=0, seekable=True, mpa=0, dts=0)
        + data[4 * slice_bytes:5 * slice_bytes],
    }


def subpicture_unit(size, forced):
    """A unit of size bytes: its header, pixels, one control sequence (its
    delay, its own offset as the next, start or forced start, end)."""
    table = size - 6
    return (bytes([size >> 8, size & 0xFF, table >> 8, table & 0xFF]) + b"\x55" * (table - 4)
            + bytes([0, 0, table >> 8, table & 0xFF, 0 if forced else 1, 0xFF]))


def subpictures():
    """Subpicture units of substream 0x21 beside video: one forced, one over
    two packets, one cut short, one shorter than its header; one of 0x20."""
    unit = subpicture_unit(3000, False)
    movie = (pack(0xE0, bytes([0, 0, 1, 0xB3, 0x2D, 0x01, 0xE0, 0x13]) + payload(500, 40), 5)
             + pack(0xBD, b"\x21" + subpicture_unit(10, True), 5)
             + pack(0xBD, b"\x21" + unit[:2000], 5) + pack(0xBD, b"\x21" + unit[2000:])
             + pack(0xBD, b"\x21" + unit[:100], 5) + pack(0xBD, b"\x20" + subpicture_unit(12, False), 5)
             + pack(0xBD, b"\x21" + bytes([0, 2, 0, 4]), 5))
    return {
        "crafted-subpictures": options(True, False, sub=1) + movie,
        "crafted-subpictures-0x20": options(False, False, sub=0) + movie,
    }


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
    for name, data in {**crafted(), **crafted_kinds(), **subpictures(), **ffmpeg_slices()}.items():
        (CORPUS / name).write_bytes(data)


if __name__ == "__main__":
    main()

#pragma once
// DVD LPCM as WAV: the audio header of an LPCM packet, the conversion of its
// big-endian grouped samples to little-endian PCM, and the WAV framing
// around them, as pure functions over bytes. The staging writer does the
// file work: it converts each packet's samples straight into its stage,
// writes the header first and patches the sizes at the end.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "demux/demux_common.hpp"

namespace packrift {

// After the four bytes every substream has (number, frame count, first
// access unit pointer), an LPCM packet carries three bytes of its own:
// emphasis, mute and frame number; word length, sampling frequency and
// channels less one; dynamic range. The samples follow.
inline constexpr std::size_t LPCM_HEADER_SIZE = 3;

struct LpcmFormat {
    int bits = 0;         // 16, 20 or 24 bits a sample
    int sample_rate = 0;  // 48000 or 96000 Hz
    int channels = 0;     // 1 to 8

    friend bool operator==(const LpcmFormat&, const LpcmFormat&) = default;
};

// Reads the format from the LPCM header at header, of which length bytes
// were read. False when they are fewer than LPCM_HEADER_SIZE or name a
// reserved word length or a sampling frequency DVD-Video does not use.
bool read_lpcm_format(const unsigned char* header, std::size_t length, LpcmFormat& format);

// "24-bit, 96 kHz, 2 channels" ("1 channel" for mono), for messages.
std::string lpcm_format_text(const LpcmFormat& format);

// An LPCM stream's format: that of its first packet whose header names one.
struct LpcmStreamFormat {
    bool known = false;
    LpcmFormat format;
};

// Whether the packet whose LPCM header is at header (length bytes, the
// samples after it) is in the stream's format, which the first such packet
// sets; packets in any other are passed over.
bool in_stream_format(LpcmStreamFormat& stream, const unsigned char* header, std::size_t length);

// The samples of a packet that do not make a whole conversion unit (see
// lpcm_wav.cpp) wait here for the next packet of the stream. One per stream,
// starting empty; the stream's first format is the one it is converted in.
inline constexpr std::size_t LPCM_CARRY_CAPACITY = 96;

struct LpcmCarry {
    std::array<unsigned char, LPCM_CARRY_CAPACITY> bytes{};
    std::size_t fill = 0;
};

// The WAV sample bytes that sample_bytes bytes of LPCM samples of format
// make, when converted in one stream whatever the packets they came in:
// the stream's whole units. For a count over the whole stream this is what
// convert_lpcm writes in all, the carry left at the end aside.
std::uint64_t lpcm_converted_size(const LpcmFormat& format, std::uint64_t sample_bytes);

// What one call of convert_lpcm writes at most for a packet's samples of up
// to a sector's length, the carry included: the room a stage keeps for it.
// 20-bit samples grow most: each 5 bytes of two samples become 6.
inline constexpr std::size_t LPCM_MAX_CONVERTED = (SECTOR_SIZE + LPCM_CARRY_CAPACITY) * 6 / 5;

// Converts the carry and the length bytes of samples at in, of a format
// read_lpcm_format accepted, into little-endian PCM at out: 16-bit samples
// as 16 bits, 20- and 24-bit samples in 24 bits (20-bit ones in the high
// 20). Writes whole units only and keeps the rest in the carry; returns
// the bytes written, at most LPCM_MAX_CONVERTED when length is at most
// SECTOR_SIZE.
std::size_t convert_lpcm(LpcmCarry& carry, const LpcmFormat& format, const unsigned char* in,
                         std::size_t length, unsigned char* out);

// The WAV header written before the first sample: "RIFF", a JUNK chunk
// that keeps the room of an RF64 ds64 chunk, the format chunk and the data
// chunk's head. Both sizes hold 0xFFFFFFFF, the "unknown" of streaming
// readers, until the end patches them.
inline constexpr std::size_t WAV_HEADER_CAPACITY = 104;

struct WavHeader {
    std::array<unsigned char, WAV_HEADER_CAPACITY> bytes{};
    std::size_t size = 0;              // the bytes to write, 80 or 104
    std::size_t data_size_offset = 0;  // where the data chunk's size lies
    std::uint32_t block_align = 0;     // bytes a sample frame
};

WavHeader wav_header(const LpcmFormat& format);

// Bytes to write over the header once the samples are all written.
inline constexpr std::size_t WAV_PATCH_CAPACITY = 36;
inline constexpr std::size_t WAV_MAX_PATCHES = 3;

struct WavPatch {
    std::uint64_t offset = 0;
    std::size_t length = 0;
    std::array<unsigned char, WAV_PATCH_CAPACITY> bytes{};
};

struct WavEnd {
    // Zero bytes to append after the samples: a chunk of odd size is
    // followed by one pad byte, counted in the RIFF size but not in the
    // data size.
    std::size_t pad = 0;
    bool rf64 = false;  // the RIFF size does not fit 32 bits
    std::array<WavPatch, WAV_MAX_PATCHES> patches{};
    std::size_t patch_count = 0;
};

// The end of a WAV of header and sample_bytes bytes of samples: the RIFF
// and data sizes when the file fits 32-bit sizes, otherwise "RF64" over
// "RIFF" and the JUNK chunk turned into a ds64 chunk with the 64-bit RIFF
// size, data size and sample frame count, the 32-bit sizes left at
// 0xFFFFFFFF.
WavEnd wav_end(const WavHeader& header, std::uint64_t sample_bytes);

}  // namespace packrift

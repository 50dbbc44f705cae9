#pragma once
// The WAV output of an LPCM substream: the header before the first samples,
// each packet's samples turned little-endian into the stage, and the sizes
// put into the header when the output is finished.

#include <cstdint>
#include <optional>
#include <string>

#include "demux/demux_common.hpp"
#include "io/file_io.hpp"
#include "output/lpcm_wav.hpp"

namespace packrift {

// Takes an LPCM packet's payload (after the substream header: the LPCM
// header, then samples) for output; returns the sample bytes it made for the WAV.
int stage_wav_payload(Output& output, const unsigned char* data, int length);

// The samples of such a payload without its header, size bytes, at most a
// packet's: what stage_wav_payload makes of them behind a header in format,
// when a packet has set that format; nothing (and nothing done) otherwise.
std::optional<int> stage_wav_samples(Output& output, const LpcmFormat& format, const unsigned char* samples,
                                     std::size_t size);

// Puts the sizes into the header of a finished WAV (RF64 when it outgrew
// RIFF); an output that cannot seek keeps the streaming sizes.
void finish_wav(Output& output);

// Packets of output passed over because their format was not the first
// packet's, and the line that tells it.
std::uint64_t wav_packets_passed_over(const Output& output);
std::string wav_passed_over_text(const Output& output);

// The format of output's WAV, once a packet has set it.
std::optional<LpcmFormat> wav_format(const Output& output);

// Forgets the formats, the counts and the carried samples of an earlier run.
void reset_wav_output();

}  // namespace packrift

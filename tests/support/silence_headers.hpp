#pragma once
// The AC-3 and MPEG audio headers that silence frames are made from in the
// tests: real ones from ffmpeg's encoders and crafted ones for the channel
// modes and rates ffmpeg does not make.

#include <string>
#include <vector>

namespace packtest {

struct SilenceHeader {
    std::string name;  // a file name's stem: coding, mode, rate, bit rate
    std::string hex;   // the frame's first bytes
};

// The first bytes of an AC-3 frame: sync word, crc1 0, and the bit stream
// information of a 48, 44.1 or 32 kHz (fscod 0 to 2) frame of the given
// size code, channel mode and LFE bit, bsid 8, dialnorm 27.
std::string ac3_header_hex(unsigned fscod, unsigned frmsizecod, unsigned acmod, unsigned lfeon);

// The bytes a string of hex digits names, two a byte.
std::vector<unsigned char> from_hex(const std::string& hex);

std::vector<SilenceHeader> ac3_silence_headers();
std::vector<SilenceHeader> mpeg_audio_silence_headers();

}  // namespace packtest

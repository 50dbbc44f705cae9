#pragma once
// Frames of silence to stand beside a stream's own: an AC-3 or MPEG audio
// frame made from the header of one of the stream's frames, the same size
// and kind, which a decoder reads without error and turns into zero
// samples. DTS frames are not made; LPCM silence is zero samples.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/byte_view.hpp"

namespace packrift {

// The CRC of ATSC A/52 and ISO/IEC 11172-3: x^16 + x^15 + x^2 + 1, most
// significant bit first, over count bits of value (its low ones), from crc.
inline constexpr std::uint16_t CRC16_POLYNOMIAL = 0x8005;
std::uint16_t crc16_bits(std::uint16_t crc, std::uint32_t value, unsigned count);
// Over the bytes [from, to) of view; crc unchanged where they do not lie in it.
std::uint16_t crc16_bytes(std::uint16_t crc, ByteView view, std::size_t from, std::size_t to);

// An AC-3 frame (A/52 5.4) of the AC-3 frame whose header is at offset of
// bytes: the same bsid, bsmod, channel mode, LFE, sample rate and frame
// size code, its dialnorm; audio blocks that carry exponents and no
// mantissas, dither off, and valid CRCs. False when there is no valid
// header there.
bool ac3_silence_frame(ByteView bytes, std::size_t offset, std::vector<unsigned char>& frame);

// An MPEG audio Layer I or II frame with the header of the one at offset
// of bytes and no bits allocated in any subband, its CRC recomputed when
// the header's protection bit says it has one. False for Layer III, for
// Layer I in joint stereo with a CRC, for no valid header, and for a
// header cut short.
bool mpeg_audio_silence_frame(ByteView bytes, std::size_t offset, std::vector<unsigned char>& frame);

}  // namespace packrift

#pragma once
// Fields of a few bits, most significant bit first, as audio frame headers
// and audio blocks pack them: read through a byte view (a read past its end
// gives 0 and marks the view overrun) and written into a buffer of fixed
// size (a write past its end is dropped and marks the writer overrun).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io/byte_view.hpp"

namespace packrift {

inline constexpr unsigned BITS_PER_BYTE = 8;
inline constexpr unsigned HIGH_BIT_OF_BYTE = 0x80;

struct BitReader {
    ByteView view;
    std::size_t bit = 0;  // the next bit, counted from the view's start
};

// The bits of a field are taken as many as a byte holds at a time: a title's
// audio queues read two headers a frame.
inline std::uint32_t read_bits(BitReader& reader, unsigned count) {
    std::uint32_t value = 0;
    for (unsigned left = count; left > 0;) {
        const std::uint8_t byte = read_u8(reader.view, reader.bit / BITS_PER_BYTE);
        const auto used = static_cast<unsigned>(reader.bit % BITS_PER_BYTE);
        const unsigned taken = left < BITS_PER_BYTE - used ? left : BITS_PER_BYTE - used;
        const unsigned shift = BITS_PER_BYTE - used - taken;
        value = value << taken | ((static_cast<unsigned>(byte) >> shift) & ((1U << taken) - 1U));
        reader.bit += taken;
        left -= taken;
    }
    return value;
}

struct BitWriter {
    std::vector<unsigned char> bytes;  // sized by the caller, zero-filled
    std::size_t bit = 0;
    bool overrun = false;
};

inline void write_bits(BitWriter& writer, std::uint32_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
        const std::size_t byte = writer.bit / BITS_PER_BYTE;
        if (byte >= writer.bytes.size()) {
            writer.overrun = true;
            return;
        }
        if ((value >> i) & 1U) {
            writer.bytes[byte] = static_cast<unsigned char>(writer.bytes[byte] | (HIGH_BIT_OF_BYTE >> (writer.bit % BITS_PER_BYTE)));
        }
        ++writer.bit;
    }
}

}  // namespace packrift

#pragma once
// Recognises each pack of the input, looks at its first packet and routes its
// payload to the output of every requested stream it belongs to.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "demux/demux_common.hpp"

namespace packrift {

// The pack layout as the loop reads it: a DVD pack header is 14 bytes (no
// pack stuffing), and the first PES packet follows it.
inline constexpr std::size_t PACKET_START_OFFSET = 14;
inline constexpr std::size_t STREAM_ID_OFFSET = 17;
inline constexpr std::size_t PES_HEADER_LENGTH_OFFSET = 22;
inline constexpr std::size_t PES_HEADER_DATA_OFFSET = 23;

// Where the first packet's payload begins: after its PES header.
inline std::size_t payload_start(const unsigned char* sector) {
    return PES_HEADER_DATA_OFFSET + sector[PES_HEADER_LENGTH_OFFSET];
}

// Whether a packet's start code follows the pack header.
inline bool has_packet_start(const unsigned char* sector) {
    return get_be32(sector, PACKET_START_OFFSET) >> START_CODE_PREFIX_SHIFT == START_CODE_PREFIX;
}

// The PES header's second flags byte: PTS_DTS_flags 10 or 11 mean a PTS, which
// takes the first five bytes of the header data (ISO/IEC 13818-1, 2.4.3.7).
inline constexpr std::size_t PES_PTS_FLAGS_OFFSET = 21;
inline constexpr unsigned PTS_PRESENT_BIT = 0x80;
inline constexpr unsigned PTS_BYTES = 5;

// The PTS of the pack's first packet, when it carries one.
std::optional<std::uint64_t> packet_pts(const unsigned char* sector);

// What pack_examined is told of a pack none of whose payload was staged.
inline constexpr int NOTHING_STAGED = -1;

// Where the watchers of the run (the progress report, the stream report)
// hook into the loop, each into the points it needs. Any may be null.
struct PackLoopHooks {
    void (*run_begins)() = nullptr;
    void (*pack_found)() = nullptr;  // a pack, before its packet is examined
    void (*payload_accepted)(int length) = nullptr;
    void (*pack_handled)() = nullptr;
    // The pack's sector once its packet is handled, with the length of its
    // payload that was staged as it is, or NOTHING_STAGED.
    void (*pack_examined)(const unsigned char* sector, int staged) = nullptr;
    // With -all on a file: the first packet of a stream that no output
    // takes, once per stream; opens the outputs that write it, and returns
    // whether it opened any.
    bool (*stream_met)(bool substream, int id) = nullptr;
};

// A payload as an offset into its sector and a length.
struct PayloadSpan {
    std::size_t offset = 0;
    int length = 0;
};

// The payload that starts at offset start of the packet at the pack header's
// end: it ends with its own PES packet when that end lies inside the sector
// and not before start, otherwise at the end of the sector.
PayloadSpan payload_span(const unsigned char* sector, std::size_t start);

// The first flags byte of the PES header: its PES_scrambling_control bits
// are not 00 in a pack scrambled by the disc's copy protection (CSS).
inline constexpr std::size_t PES_FLAGS_OFFSET = 20;
inline constexpr unsigned PES_SCRAMBLING_BITS = 0x30;

inline bool is_scrambled(const unsigned char* sector) {
    return (sector[PES_FLAGS_OFFSET] & PES_SCRAMBLING_BITS) != 0;
}

// The packs routed to each output, by slot (even one whose payload the
// padding trim cut to nothing), and how many of them were scrambled.
struct StreamsFound {
    std::array<std::uint64_t, MOST_OUTPUTS> packs{};
    std::array<std::uint64_t, MOST_OUTPUTS> scrambled{};
};

// Runs the whole input through the loop to the outputs of the run (those
// whose file is open and whose number selects a stream); returns at the
// end of the input.
StreamsFound demux_packs(const PackLoopHooks& hooks = {});

}  // namespace packrift

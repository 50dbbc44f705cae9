#include "disc/nav_pack.hpp"

#include "demux/demux_common.hpp"
#include "io/byte_view.hpp"

namespace packrift {

namespace {

// ISO/IEC 13818-1 2.5.3.3: an MPEG-2 pack header is 14 bytes and its stuffing
// (the low three bits of its last byte); its fifth byte begins with 01.
constexpr std::size_t PACK_HEADER_SIZE = 14;
constexpr std::size_t PACK_STUFFING_LENGTH = 13;
constexpr unsigned PACK_STUFFING_MASK = 0x07;
constexpr std::size_t PACK_MARKER_BYTE = 4;
constexpr unsigned PACK_MARKER_SHIFT = 6;
constexpr unsigned MPEG_2_PACK_MARKER = 1;
// A packet: start code (32 bits), its length (16 bits) counting what follows.
constexpr std::size_t PACKET_LENGTH = 4;
constexpr std::size_t PACKET_HEADER_SIZE = 6;
constexpr std::uint32_t PRIVATE_STREAM_2_START_CODE = 0x000001BF;
// Private stream 2 on DVD: the first payload byte says PCI (0) or DSI (1).
constexpr unsigned PCI_SUBSTREAM = 0x00;
constexpr unsigned DSI_SUBSTREAM = 0x01;

// The PCI's general part, after its substream byte: VOBU_S_PTM and VOBU_E_PTM.
constexpr std::size_t PCI_VOBU_START_PTM = 12;
constexpr std::size_t PCI_VOBU_END_PTM = 16;

// The DSI (DVD-Video navigation data), after its substream byte: its
// general part, then the seamless playback information.
constexpr std::size_t DSI_NAV_PACK_SECTOR = 4;
constexpr std::size_t DSI_VOBU_END = 8;
constexpr std::size_t DSI_SEAMLESS_CATEGORY = 32;  // 16 bits
constexpr std::size_t DSI_UNIT_END = 34;
constexpr std::size_t DSI_NEXT_UNIT_START = 38;
constexpr std::uint16_t CATEGORY_PRE_UNIT = 0x8000;
constexpr std::uint16_t CATEGORY_INTERLEAVED = 0x4000;
constexpr std::uint16_t CATEGORY_UNIT_START = 0x2000;
constexpr std::uint16_t CATEGORY_UNIT_END = 0x1000;
// A next unit address of all ones, like none, says that no unit follows.
constexpr std::uint32_t NO_NEXT_UNIT = 0xFFFFFFFF;

InterleavedUnit read_unit(ByteView& dsi) {
    InterleavedUnit unit;
    unit.nav_pack_sector = read_be32(dsi, DSI_NAV_PACK_SECTOR);
    unit.vobu_end = read_be32(dsi, DSI_VOBU_END);
    const std::uint16_t category = read_be16(dsi, DSI_SEAMLESS_CATEGORY);
    unit.pre_unit = (category & CATEGORY_PRE_UNIT) != 0;
    unit.interleaved = (category & CATEGORY_INTERLEAVED) != 0;
    unit.unit_start = (category & CATEGORY_UNIT_START) != 0;
    unit.unit_end_here = (category & CATEGORY_UNIT_END) != 0;
    unit.unit_end = read_be32(dsi, DSI_UNIT_END);
    unit.next_unit_start = read_be32(dsi, DSI_NEXT_UNIT_START);
    unit.last_unit = unit.next_unit_start == 0 || unit.next_unit_start == NO_NEXT_UNIT;
    if (unit.last_unit) {
        unit.next_unit_start = 0;
    }
    return unit;
}

// The private stream 2 packet of the navigation pack in sector whose first
// payload byte is substream, as a view of what follows that byte; status
// tells what was found.
NavPackReading find_nav_packet(ByteView pack, unsigned substream, ByteView& found) {
    if (read_be32(pack, 0) != PACK_START_CODE ||
        read_u8(pack, PACK_MARKER_BYTE) >> PACK_MARKER_SHIFT != MPEG_2_PACK_MARKER) {
        return NavPackReading::not_a_nav_pack;
    }
    std::size_t at = PACK_HEADER_SIZE + (read_u8(pack, PACK_STUFFING_LENGTH) & PACK_STUFFING_MASK);
    if (read_be32(pack, at) != SYSTEM_HEADER_START_CODE || pack.overrun) {
        return NavPackReading::not_a_nav_pack;
    }
    // Packet after packet, each by its length, while whole packets follow.
    while (holds(pack, at, PACKET_HEADER_SIZE) && read_be32(pack, at) >> START_CODE_PREFIX_SHIFT == START_CODE_PREFIX) {
        const std::uint32_t start_code = read_be32(pack, at);
        const std::size_t length = read_be16(pack, at + PACKET_LENGTH);
        ByteView payload = sub_view(pack, at + PACKET_HEADER_SIZE, length);
        if (pack.overrun) {
            break;
        }
        if (start_code == PRIVATE_STREAM_2_START_CODE && length > 0 && read_u8(payload, 0) == substream) {
            found = tail_view(payload, 1);
            return NavPackReading::dsi_found;
        }
        at += PACKET_HEADER_SIZE + length;
    }
    return NavPackReading::no_dsi;
}

}  // namespace

std::optional<VobuTimes> read_vobu_times(const unsigned char* sector, std::size_t size) {
    ByteView pci;
    if (find_nav_packet(view_of(sector, size), PCI_SUBSTREAM, pci) != NavPackReading::dsi_found) {
        return std::nullopt;
    }
    const VobuTimes times{read_be32(pci, PCI_VOBU_START_PTM), read_be32(pci, PCI_VOBU_END_PTM)};
    if (pci.overrun) {
        return std::nullopt;
    }
    return times;
}

DsiReading read_dsi(const unsigned char* sector, std::size_t size) {
    DsiReading reading;
    ByteView dsi;
    reading.status = find_nav_packet(view_of(sector, size), DSI_SUBSTREAM, dsi);
    if (reading.status == NavPackReading::dsi_found) {
        reading.unit = read_unit(dsi);
        reading.status = dsi.overrun ? NavPackReading::no_dsi : NavPackReading::dsi_found;
    }
    return reading;
}

}  // namespace packrift

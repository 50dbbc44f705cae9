#pragma once
// The navigation pack that begins each VOBU: a pack whose first packet is
// the system header, followed by the PCI and the DSI packets (private
// stream 2). Of the DSI, what a reader of an interleaved angle needs: where
// the interleaved unit (ILVU) ends and where the angle's next unit begins.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace packrift {

enum class NavPackReading : std::uint8_t { dsi_found, not_a_nav_pack, no_dsi };

struct InterleavedUnit {
    std::uint32_t nav_pack_sector = 0;  // as the DSI gives it, in the title set's VOB address space
    std::uint32_t vobu_end = 0;         // last sector of this VOBU, relative to the nav pack
    // Seamless playback category: in an interleaved block, before it, and
    // whether this VOBU is the first or the last of its unit.
    bool pre_unit = false;
    bool interleaved = false;
    bool unit_start = false;
    bool unit_end_here = false;
    std::uint32_t unit_end = 0;         // last sector of the unit, relative to the nav pack
    std::uint32_t next_unit_start = 0;  // first sector of the angle's next unit, relative; 0 for none
    bool last_unit = false;             // no next unit of this angle follows
};

struct DsiReading {
    NavPackReading status = NavPackReading::not_a_nav_pack;
    InterleavedUnit unit;
};

// The PCI's general part: the presentation times at which the VOBU starts
// and ends, on the 90 kHz clock of its PTS values.
struct VobuTimes {
    std::uint32_t start_ptm = 0;
    std::uint32_t end_ptm = 0;
};

// Reads the PCI of the navigation pack in sector (size bytes); nothing when
// the sector holds no navigation pack or no whole PCI, never a read outside it.
std::optional<VobuTimes> read_vobu_times(const unsigned char* sector, std::size_t size);

// Reads the DSI of the navigation pack in sector (size bytes, a whole
// sector); anything else gives not_a_nav_pack or no_dsi, never a read
// outside it.
DsiReading read_dsi(const unsigned char* sector, std::size_t size);

}  // namespace packrift

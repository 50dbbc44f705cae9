#pragma once
// Subpicture units as the packets of one subpicture substream carry them:
// a unit begins in the packet that carries a PTS, runs over as many packets
// as its size field says, and its display control sequences tell, among
// other things, whether it is forced (shown even when no subtitles are
// chosen). Every size and offset in a unit is checked before it is used.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace packrift {

// What a whole unit's control sequences say of it.
struct UnitControl {
    bool forced = false;     // a sequence holds the forced start command
    bool malformed = false;  // a size, an offset or a command that does not fit
};

// Reads the display control sequence table of a unit of size bytes, unit
// pointing at its first byte (its own size field).
UnitControl read_unit_control(const unsigned char* unit, std::size_t size);

struct SubpictureUnit {
    std::uint64_t pts = 0;
    std::uint64_t position = 0;  // of the pack that holds its first packet, in the .sub
    bool forced = false;
    bool malformed = false;  // cut short, or its control sequences are not sound
};

// How many units were read, and how many of them are forced or malformed.
struct UnitCounts {
    std::size_t units = 0;
    std::size_t forced = 0;
    std::size_t malformed = 0;
};

// The units of one substream, in the order read (only the last, when only
// their counts are wanted), and the one still being gathered from its packets.
struct SubpictureUnits {
    bool keep_all = true;
    std::vector<SubpictureUnit> units;
    UnitCounts counts;
    std::vector<unsigned char> gathered;  // of the last unit, until it is whole
    std::size_t expected = 0;             // its size field; 0 before it is known
    bool gathering = false;
};

// Takes a packet's data (after its substream number): one with a PTS
// begins a unit at position (the one before it, if not whole, is cut
// short); one without continues the unit being gathered, or is passed over
// when there is none.
void take_subpicture_packet(SubpictureUnits& units, const unsigned char* data, std::size_t length, bool has_pts,
                            std::uint64_t pts, std::uint64_t position);

// Ends the input: a unit still being gathered is cut short.
void end_subpicture_units(SubpictureUnits& units);

// How many of the units are forced, and how many malformed.
UnitCounts count_units(const SubpictureUnits& units);

}  // namespace packrift

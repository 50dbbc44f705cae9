#include "output/subpicture_units.hpp"

#include "io/byte_view.hpp"

namespace packrift {

namespace {

// A unit starts with its size and the offset of its display control
// sequence table, 16 bits each; each sequence with its delay and the offset
// of the next sequence (its own for the last), then its commands, each a
// byte and its parameters, up to the end command.
constexpr std::size_t UNIT_SIZE_FIELD = 0;
constexpr std::size_t UNIT_CONTROL_OFFSET = 2;
constexpr std::size_t UNIT_HEADER_SIZE = 4;
constexpr std::size_t SEQUENCE_NEXT = 2;
constexpr std::size_t SEQUENCE_HEADER_SIZE = 4;

constexpr unsigned FORCED_START = 0x00;
constexpr unsigned CHANGE_COLOUR_CONTRAST = 0x07;  // its parameters say their own size
constexpr unsigned END_OF_COMMANDS = 0xFF;
constexpr unsigned LAST_FIXED_COMMAND = 0x06;
// The parameter bytes of commands 0x00 to 0x06: forced start, start, stop,
// colours, contrast, display area, pixel data addresses.
constexpr std::size_t FIXED_PARAMETERS[LAST_FIXED_COMMAND + 1] = {0, 0, 0, 2, 2, 6, 4};
constexpr std::size_t CHANGE_SIZE_FIELD = 2;

// The commands of one sequence from offset at; false when they run past
// the unit or name an unknown command.
bool read_commands(ByteView& unit, std::size_t at, UnitControl& control) {
    while (holds(unit, at, 1)) {
        const unsigned command = read_u8(unit, at++);
        if (command == END_OF_COMMANDS) {
            return true;
        }
        if (command == FORCED_START) {
            control.forced = true;
        }
        std::size_t parameters = 0;
        if (command <= LAST_FIXED_COMMAND) {
            parameters = FIXED_PARAMETERS[command];
        } else if (command == CHANGE_COLOUR_CONTRAST && holds(unit, at, CHANGE_SIZE_FIELD)) {
            parameters = read_be16(unit, at);
            if (parameters < CHANGE_SIZE_FIELD) {
                return false;
            }
        } else {
            return false;
        }
        if (!holds(unit, at, parameters)) {
            return false;
        }
        at += parameters;
    }
    return false;
}

}  // namespace

UnitControl read_unit_control(const unsigned char* bytes, std::size_t size) {
    UnitControl control;
    ByteView unit = view_of(bytes, size);
    std::size_t at = read_be16(unit, UNIT_CONTROL_OFFSET);
    if (!holds(unit, 0, UNIT_HEADER_SIZE) || at < UNIT_HEADER_SIZE) {
        control.malformed = true;
        return control;
    }
    // Each sequence lies after the one before, so the walk ends within the unit.
    while (true) {
        if (!holds(unit, at, SEQUENCE_HEADER_SIZE) || !read_commands(unit, at + SEQUENCE_HEADER_SIZE, control)) {
            control.malformed = true;
            return control;
        }
        const std::size_t next = read_be16(unit, at + SEQUENCE_NEXT);
        if (next == at) {
            return control;
        }
        if (next < at) {
            control.malformed = true;
            return control;
        }
        at = next;
    }
}

namespace {

void forget_gathered(SubpictureUnits& units) {
    units.gathered.clear();
    units.expected = 0;
    units.gathering = false;
}

void mark_unit(SubpictureUnits& units, const UnitControl& control) {
    SubpictureUnit& unit = units.units.back();
    unit.forced = control.forced;
    unit.malformed = control.malformed;
    units.counts.forced += control.forced ? 1 : 0;
    units.counts.malformed += control.malformed ? 1 : 0;
}

void close_unit(SubpictureUnits& units) {
    if (!units.gathering) {
        return;
    }
    if (units.expected == 0 || units.gathered.size() < units.expected) {
        mark_unit(units, {false, true});  // cut short
    } else {
        mark_unit(units, read_unit_control(units.gathered.data(), units.expected));
    }
    forget_gathered(units);
}

}  // namespace

void take_subpicture_packet(SubpictureUnits& units, const unsigned char* data, std::size_t length, bool has_pts,
                            std::uint64_t pts, std::uint64_t position) {
    if (has_pts) {
        close_unit(units);
        if (!units.keep_all) {
            units.units.clear();
        }
        units.units.push_back({pts, position, false, false});
        ++units.counts.units;
        units.gathering = true;
    } else if (!units.gathering) {
        return;  // the rest of a unit whose start was not read
    }
    // A unit's size is a 16-bit field, so nothing past it is ever kept.
    const std::size_t wanted = units.expected == 0 ? UNIT_HEADER_SIZE : units.expected;
    const std::size_t room = wanted > units.gathered.size() ? wanted - units.gathered.size() : 0;
    const std::size_t taken = length < room ? length : room;
    units.gathered.insert(units.gathered.end(), data, data + taken);
    if (units.expected == 0 && units.gathered.size() >= UNIT_HEADER_SIZE) {
        ByteView header = view_of(units.gathered.data(), units.gathered.size());
        units.expected = read_be16(header, UNIT_SIZE_FIELD);
        if (units.expected < UNIT_HEADER_SIZE) {
            // No unit is shorter than its header: what follows is not read.
            forget_gathered(units);
            mark_unit(units, {false, true});
            return;
        }
        take_subpicture_packet(units, data + taken, length - taken, false, 0, position);
        return;
    }
    if (units.expected != 0 && units.gathered.size() >= units.expected) {
        close_unit(units);
    }
}

void end_subpicture_units(SubpictureUnits& units) {
    close_unit(units);
}

UnitCounts count_units(const SubpictureUnits& units) {
    return units.counts;
}

}  // namespace packrift

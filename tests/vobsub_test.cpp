#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "output/subpicture_units.hpp"
#include "output/vobsub_index.hpp"
#include "support/pack_builder.hpp"

namespace {

using packtest::Bytes;
using packtest::concat;

constexpr std::uint64_t MS = 90;  // ticks of the 90 kHz clock
constexpr std::uint64_t PTS_WRAP = std::uint64_t{1} << 33;
constexpr std::uint64_t SECTOR = packtest::SECTOR;

// A subpicture unit: its size and control table offset, pixel bytes, then
// the given control sequences, each placed after the one before; a sequence
// whose next is empty points at itself, as the last one does.
struct Sequence {
    Bytes commands;
    std::optional<int> next;  // an offset of our own choosing, for a broken table
};

Bytes unit_of(const std::vector<Sequence>& sequences, std::size_t pixels = 20, std::optional<int> size = {}) {
    Bytes unit(4 + pixels, 0x55);
    const std::size_t table = unit.size();
    unit[2] = static_cast<unsigned char>(table >> 8);
    unit[3] = static_cast<unsigned char>(table);
    for (std::size_t i = 0; i < sequences.size(); ++i) {
        const std::size_t at = unit.size();
        const std::size_t next = at + 4 + sequences[i].commands.size();
        const std::size_t pointer = sequences[i].next ? static_cast<std::size_t>(*sequences[i].next)
                                    : i + 1 < sequences.size() ? next
                                                               : at;
        unit.insert(unit.end(), {0x00, 0x10, static_cast<unsigned char>(pointer >> 8), static_cast<unsigned char>(pointer)});
        unit.insert(unit.end(), sequences[i].commands.begin(), sequences[i].commands.end());
    }
    const std::size_t total = size ? static_cast<std::size_t>(*size) : unit.size();
    unit[0] = static_cast<unsigned char>(total >> 8);
    unit[1] = static_cast<unsigned char>(total);
    return unit;
}

// Start, colours, contrast, display area, pixel addresses, end: a unit as spumux writes it.
const Bytes SHOWN = {0x01, 0x03, 0x01, 0x23, 0x04, 0xFF, 0xF0, 0x05, 0, 0, 0, 0, 0, 0, 0x06, 0, 4, 0, 8, 0xFF};
const Bytes FORCED = concat({{0x00}, SHOWN});
const Bytes STOPPED = {0x02, 0xFF};

struct Packet {
    Bytes data;
    std::optional<std::uint64_t> pts;
};

Bytes part(const Bytes& bytes, std::size_t from, std::size_t to) {
    return Bytes(bytes.begin() + static_cast<long>(from), bytes.begin() + static_cast<long>(to));
}

struct UnitCase {
    const char* label;
    std::vector<Packet> packets;  // each in a pack of its own
    std::string lines;            // the .idx's unit lines
    packrift::UnitCounts counts;
    std::size_t before_start = 0;
};

std::string index_lines(const std::vector<Packet>& packets, packrift::UnitCounts& counts, std::size_t& before_start,
                        std::optional<std::uint64_t> video_start = 1000 * MS) {
    packrift::SubpictureUnits units;
    std::uint64_t position = 0;
    for (const Packet& packet : packets) {
        packrift::take_subpicture_packet(units, packet.data.data(), packet.data.size(), packet.pts.has_value(),
                                         packet.pts.value_or(0), position);
        position += SECTOR;
    }
    packrift::end_subpicture_units(units);
    counts = packrift::count_units(units);
    packrift::VobSubFacts facts{720, 576, std::nullopt, "de", 1};
    const packrift::VobSubIndex index = packrift::vobsub_index(facts, units.units, video_start);
    before_start = index.before_start;
    const std::string& text = index.text;
    return text.substr(text.find("timestamp:") == std::string::npos ? text.size() : text.find("timestamp:"));
}

// Lines of units at the video's start, one a pack.
std::string lines_at_start(int count) {
    std::string lines;
    for (int i = 0; i < count; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "timestamp: 00:00:00:000, filepos: %09x\n", i * 0x800);
        lines += line;
    }
    return lines;
}

TEST(VobSubIndex, AUnitLinePerUnitWithItsTimePlaceAndControl) {
    const Bytes two_sequences = unit_of({{SHOWN, {}}, {concat({STOPPED}), {}}});
    const Bytes long_unit = unit_of({{FORCED, {}}, {STOPPED, {}}}, 3000);
    const std::vector<UnitCase> cases = {
        {"a shown and a forced unit, the clock from the video's first PTS",
         {{unit_of({{SHOWN, {}}, {STOPPED, {}}}), 1500 * MS}, {unit_of({{FORCED, {}}, {STOPPED, {}}}), 3723004 * MS}},
         "timestamp: 00:00:00:500, filepos: 000000000\ntimestamp: 01:02:02:004, filepos: 000000800\n",
         {2, 1, 0}},
        {"a unit over two packets, the second without a PTS; a later sequence forced",
         {{part(long_unit, 0, 2000), 2000 * MS}, {part(long_unit, 2000, long_unit.size()), {}},
          {unit_of({{SHOWN, {}}, {FORCED, {}}}), 2500 * MS}},
         "timestamp: 00:00:01:000, filepos: 000000000\ntimestamp: 00:00:01:500, filepos: 000001000\n",
         {2, 2, 0}},
        {"milliseconds rounded down; a unit before the video's start put at 0",
         {{two_sequences, 1000 * MS + 89}, {two_sequences, 999 * MS}, {two_sequences, PTS_WRAP - MS}},
         "timestamp: 00:00:00:000, filepos: 000000000\ntimestamp: 00:00:00:000, filepos: 000000800\n"
         "timestamp: 00:00:00:000, filepos: 000001000\n",
         {3, 0, 0}, 2},
        {"cut short by the next unit, and by the end of the input",
         {{part(long_unit, 0, 2000), 2000 * MS}, {two_sequences, 3000 * MS}, {part(long_unit, 0, 100), 4000 * MS}},
         "timestamp: 00:00:01:000, filepos: 000000000\ntimestamp: 00:00:02:000, filepos: 000000800\n"
         "timestamp: 00:00:03:000, filepos: 000001000\n",
         {3, 0, 2}},
        {"a unit whose size field is split between its first two packets",
         {{part(two_sequences, 0, 1), 1300 * MS}, {part(two_sequences, 1, 3), {}},
          {part(two_sequences, 3, two_sequences.size()), {}}},
         "timestamp: 00:00:00:300, filepos: 000000000\n", {1, 0, 0}},
        {"the rest of a unit whose start was not read is passed over",
         {{part(long_unit, 2000, long_unit.size()), {}}, {two_sequences, 1100 * MS}},
         "timestamp: 00:00:00:100, filepos: 000000800\n", {1, 0, 0}},
        {"control tables that are not sound: each unit malformed, none read outside itself",
         {{unit_of({{SHOWN, {}}}, 20, 30), 1000 * MS},                       // the table past the unit's size
          {unit_of({{SHOWN, {}}, {SHOWN, 24}}), 1000 * MS},                  // a sequence leading back
          {unit_of({{{0x08, 0xFF}, {}}}), 1000 * MS},                        // an unknown command
          {unit_of({{{0x07, 0x00, 0x01, 0xFF}, {}}}), 1000 * MS},            // a colour change shorter than its size
          {unit_of({{{0x05, 0x00, 0x00}, {}}}), 1000 * MS},                  // parameters past the end
          {unit_of({{{0x01}, {}}}), 1000 * MS},                              // no end command
          {Bytes{0x00, 0x02, 0x00, 0x04, 0x55}, 1000 * MS},                 // shorter than its header
          {unit_of({{{0x07, 0x00, 0x04, 0x11, 0x22, 0xFF}, {}}}), 1000 * MS}},  // a sound colour change
         lines_at_start(8), {8, 0, 7}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        packrift::UnitCounts counts;
        std::size_t before_start = 0;
        const std::string lines = index_lines(c.packets, counts, before_start);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(counts.units, c.counts.units);
        EXPECT_EQ(counts.forced, c.counts.forced);
        EXPECT_EQ(counts.malformed, c.counts.malformed);
        EXPECT_EQ(before_start, c.before_start);
    }
}

TEST(VobSubIndex, HeadLinesGiveSizePaletteLanguageAndSubstream) {
    packrift::Palette palette{};
    palette[0] = 0x00108080;   // black
    palette[1] = 0x00EB8080;   // white
    palette[2] = 0x0051F05A;   // red as BT.601 gives it, a step short
    palette[3] = 0x00FFFFFF;   // beyond the range: clamped
    palette[4] = 0x00000000;   // below it: clamped
    const packrift::VobSubFacts facts{352, 240, palette, "fr", 3};
    const std::string text = packrift::vobsub_index(facts, {{90000, 0, true, false}}, std::nullopt).text;
    EXPECT_EQ(text,
              "# VobSub index file, v7 (do not modify this line!)\n"
              "size: 352x240\n"
              "palette: 000000, ffffff, fe0000, ff7dff, 008700, 008700, 008700, 008700, 008700, 008700, 008700, "
              "008700, 008700, 008700, 008700, 008700\n"
              "langidx: 3\n"
              "id: fr, index: 3\n"
              "timestamp: 00:00:01:000, filepos: 000000000\n");
    const packrift::VobSubFacts grey{720, 480, std::nullopt, "--", 0};
    EXPECT_NE(packrift::vobsub_index(grey, {}, std::nullopt)
                  .text.find("palette: 000000, 111111, 222222, 333333, 444444, 555555, 666666, 777777, 888888, "
                             "999999, aaaaaa, bbbbbb, cccccc, dddddd, eeeeee, ffffff\n"),
              std::string::npos);
}

}  // namespace

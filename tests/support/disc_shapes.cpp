// Ready disc shapes for the title tests, written with the disc builder.

#include "support/disc_builder.hpp"

#include <iterator>
#include <stdexcept>
#include <utility>

#include "support/timed_units.hpp"

namespace packtest::disc {

namespace {

constexpr int VIDEO_STREAM = 0xE0;
constexpr int AC3_STREAM = 0x80;
constexpr std::size_t AUDIO_PAYLOAD = AC3_ROOM;
constexpr int MAX_ANGLES = 9;  // a title's angle count is 1 to 9
// VOBU times on the 90 kHz clock: each VOB's first unit starts here, and
// a unit lasts 12 frames at 25 a second.
constexpr std::uint32_t VOB_START_PTM = 9000;
constexpr std::uint32_t UNIT_TICKS = 43200;

// Numbers the packs of each angle and stream in the order they lie, so
// that every payload is unique and an output shows its packs' order.
struct Packer {
    int video_count[MAX_ANGLES + 1] = {};
    int audio_count[MAX_ANGLES + 1] = {};

    Vobu unit(int angle, int video_packs, int audio_packs, std::uint8_t cell_id,
              std::uint16_t vob_id = 1) {
        Vobu vobu;
        vobu.angle = angle;
        vobu.cell_id = cell_id;
        vobu.vob_id = vob_id;
        for (int i = 0; i < video_packs; ++i) {
            vobu.packs.push_back(
                video_pack(tagged_payload(angle, VIDEO_STREAM, video_count[angle]++, VIDEO_ROOM)));
            if (i < audio_packs) {
                vobu.packs.push_back(ac3_pack(
                    AC3_STREAM, tagged_payload(angle, AC3_STREAM, audio_count[angle]++, AUDIO_PAYLOAD)));
            }
        }
        return vobu;
    }
};

PlayTime seconds(int whole, int frames = 0) {
    PlayTime time;
    time.seconds = whole;
    time.frames = frames;
    return time;
}

TitleSet plain_set() {
    TitleSet set;
    set.video = {true, true};
    set.audio.push_back({AudioCoding::ac3, 2, 48000, 16, "en"});
    return set;
}

ProgramChain chain_of(std::vector<Cell> cells, std::vector<int> programs) {
    ProgramChain chain;
    chain.cells = std::move(cells);
    chain.program_first_cells = std::move(programs);
    chain.audio_streams = {0};
    return chain;
}

Disc disc_of(std::vector<TitleSet> title_sets) {
    Disc disc;
    disc.title_sets = std::move(title_sets);
    return disc;
}

}  // namespace

Disc cells_out_of_order() {
    Packer packer;
    TitleSet set = plain_set();
    for (std::uint8_t cell = 1; cell <= 3; ++cell) {
        set.vobus.push_back(packer.unit(0, 3, 2, cell));
    }
    // Plays what lies third, then first, then second.
    set.program_chains.push_back(chain_of({cell_of_vobus(set, 2, 2, seconds(1, 12)),
                                           cell_of_vobus(set, 0, 0, seconds(0, 20)),
                                           cell_of_vobus(set, 1, 1, seconds(2))},
                                          {1, 2}));
    set.titles.push_back({{{1, 1}, {1, 2}}, 1});
    return disc_of({set});
}

Disc two_titles_one_set() {
    Packer packer;
    TitleSet first = plain_set();
    for (std::uint8_t cell = 1; cell <= 4; ++cell) {
        first.vobus.push_back(packer.unit(0, 2 + cell, 1, cell));
    }
    // Title 1 plays the first two cells, title 2 the last two and then the
    // first again.
    first.program_chains.push_back(
        chain_of({cell_of_vobus(first, 0, 0, seconds(1)), cell_of_vobus(first, 1, 1, seconds(1))}, {1, 2}));
    first.program_chains.push_back(chain_of({cell_of_vobus(first, 2, 2, seconds(1)),
                                             cell_of_vobus(first, 3, 3, seconds(1)),
                                             cell_of_vobus(first, 0, 0, seconds(1))},
                                            {1}));
    first.titles.push_back({{{1, 1}, {1, 2}}, 1});
    first.titles.push_back({{{2, 1}}, 1});

    // A second set, NTSC 4:3, whose stream control reads the tracks in
    // another order than they are listed.
    TitleSet second = plain_set();
    second.video = {false, false};
    second.audio = {{AudioCoding::ac3, 6, 48000, 16, "de"}, {AudioCoding::ac3, 2, 48000, 16, "fr"}};
    second.subpictures = {{"it"}, {""}};
    Packer other;
    second.vobus.push_back(other.unit(0, 4, 2, 1));
    PlayTime ntsc = seconds(1, 15);
    ntsc.ntsc = true;
    ProgramChain chain = chain_of({cell_of_vobus(second, 0, 0, ntsc)}, {1});
    chain.audio_streams = {1, 0};
    chain.subpicture_streams = {{3, 1, 2, 0}, {0, 4, 0, 0}};
    second.program_chains.push_back(chain);
    second.titles.push_back({{{1, 1}}, 1});
    return disc_of({first, second});
}

Disc repeated_titles() {
    Disc disc = two_titles_one_set();
    disc.title_sets[0].titles.push_back({{{1, 1}}, 1});
    disc.title_order = {{1, 1}, {1, 2}, {1, 3}, {2, 1}, {1, 1}};
    return disc;
}

Disc title_across_files() {
    Packer packer;
    TitleSet set = plain_set();
    for (std::uint8_t cell = 1; cell <= 3; ++cell) {
        set.vobus.push_back(packer.unit(0, 4, 2, cell));
        set.vobus.push_back(packer.unit(0, 3, 1, cell));
    }
    set.program_chains.push_back(chain_of({cell_of_vobus(set, 0, 1, seconds(1)),
                                           cell_of_vobus(set, 2, 3, seconds(1)),
                                           cell_of_vobus(set, 4, 5, seconds(1))},
                                          {1, 2, 3}));
    set.titles.push_back({{{1, 1}, {1, 2}, {1, 3}}, 1});
    // The first file ends inside the second cell's first unit; names in
    // lower case.
    const auto places = lay_out(set);
    set.vob_file_sectors = {places[2].first + 3};
    Disc disc = disc_of({set});
    disc.lower_case_names = true;
    return disc;
}

Disc multi_angle(int angles) {
    if (angles < 2 || angles > MAX_ANGLES) {
        throw std::out_of_range("an angle block holds 2 to 9 angles");
    }
    Packer packer;
    TitleSet set = plain_set();
    set.vobus.push_back(packer.unit(0, 3, 1, 1));
    const std::size_t block = set.vobus.size();
    constexpr int ROUNDS = 3;
    for (int round = 0; round < ROUNDS; ++round) {
        for (int angle = 1; angle <= angles; ++angle) {
            // Units of unequal sizes, so that an address taken from the
            // wrong unit shows.
            set.vobus.push_back(packer.unit(angle, 1 + angle + round % 2, 1,
                                            static_cast<std::uint8_t>(1 + angle)));
        }
    }
    set.vobus.push_back(packer.unit(0, 2, 1, static_cast<std::uint8_t>(angles + 2)));
    std::vector<Cell> cells = {cell_of_vobus(set, 0, 0, seconds(1))};
    for (int angle = 1; angle <= angles; ++angle) {
        Cell cell = angle_cell(set, block, angle, seconds(2, 5));
        cell.block_mode = angle == 1 ? BlockMode::first
                                     : (angle == angles ? BlockMode::last : BlockMode::middle);
        cells.push_back(cell);
    }
    cells.push_back(cell_of_vobus(set, set.vobus.size() - 1, set.vobus.size() - 1, seconds(1)));
    set.program_chains.push_back(chain_of(cells, {1, 2, angles + 2}));
    set.titles.push_back({{{1, 1}, {1, 2}, {1, 3}}, angles});
    return disc_of({set});
}

namespace {

// Each part's cells' playback times, in frames at 25 a second: to where
// its audio ends, rounded up, as dvdauthor sets them; VOB 2's first cell
// holds its first unit.
std::vector<int> cell_frames_to_audio_end(const TimedContent& timed) {
    constexpr std::int64_t FRAME_TICKS = 3600;
    std::vector<int> frames;
    for (const TimedPart& part : timed.parts) {
        const std::int64_t end = part.audio_offset + part.audio_frames * timed_audio_frame_ticks(timed.coding);
        frames.push_back(static_cast<int>((end + FRAME_TICKS - 1) / FRAME_TICKS));
    }
    constexpr int UNIT_FRAMES = UNIT_TICKS / FRAME_TICKS;
    return {frames[0], UNIT_FRAMES, frames[1] - UNIT_FRAMES, frames[2]};
}

// Puts the parts' timed units in place of the tagged ones, keeping their ids.
void give_timed_content(TitleSet& set, const TimedContent& timed) {
    constexpr int PARTS = 3;
    constexpr int UNITS_PER_PART = 2;
    if (timed.parts.size() != PARTS) {
        throw std::invalid_argument("a VOB per chapter takes three timed parts");
    }
    for (int p = 0; p < PARTS; ++p) {
        const TimedPart& part = timed.parts[static_cast<std::size_t>(p)];
        if (part.units != UNITS_PER_PART) {
            throw std::invalid_argument("each part of a VOB per chapter has two units");
        }
        const std::vector<Vobu> units = timed_units(part, timed.coding, p + 1);
        for (int u = 0; u < UNITS_PER_PART; ++u) {
            Vobu& unit = set.vobus[static_cast<std::size_t>(p * UNITS_PER_PART + u)];
            unit.packs = units[static_cast<std::size_t>(u)].packs;
            unit.start_ptm = units[static_cast<std::size_t>(u)].start_ptm;
            unit.end_ptm = units[static_cast<std::size_t>(u)].end_ptm;
        }
    }
    set.audio.front().coding = timed.coding;
    set.subpictures = {{"en"}};
}

}  // namespace

Disc vob_per_chapter(const TimedContent& timed) {
    Packer packer;
    TitleSet set = plain_set();
    // (VOB id, cell id) of each unit, in the order they lie.
    const std::pair<std::uint16_t, std::uint8_t> units[] = {{1, 1}, {1, 1}, {2, 1}, {2, 2}, {3, 1}, {3, 1}};
    std::uint32_t start = VOB_START_PTM;
    for (std::size_t i = 0; i < std::size(units); ++i) {
        const auto [vob, cell] = units[i];
        if (i > 0 && vob != units[i - 1].first) {
            start = VOB_START_PTM;  // each VOB's timestamps start anew
        }
        Vobu unit = packer.unit(0, 2, 1, cell, vob);
        unit.start_ptm = start;
        unit.end_ptm = start + UNIT_TICKS;
        start = unit.end_ptm;
        set.vobus.push_back(unit);
    }
    std::vector<int> frames = {24, 12, 12, 24};
    if (!timed.parts.empty()) {
        give_timed_content(set, timed);
        frames = cell_frames_to_audio_end(timed);
    }
    constexpr int FRAMES_PER_SECOND = 25;
    const auto time = [&frames](std::size_t cell) {
        return seconds(frames[cell] / FRAMES_PER_SECOND, frames[cell] % FRAMES_PER_SECOND);
    };
    std::vector<Cell> cells = {cell_of_vobus(set, 0, 1, time(0)), cell_of_vobus(set, 2, 2, time(1)),
                               cell_of_vobus(set, 3, 3, time(2)), cell_of_vobus(set, 4, 5, time(3))};
    // As dvdauthor flags every VOB's first cell.
    cells[1].stc_discontinuity = true;
    cells[3].stc_discontinuity = true;
    ProgramChain chain = chain_of(cells, {1, 2, 4});
    if (!timed.parts.empty()) {
        chain.subpicture_streams = {{0, 0, 0, 0}};
    }
    set.program_chains.push_back(chain);
    set.titles.push_back({{{1, 1}, {1, 2}, {1, 3}}, 1});
    return disc_of({set});
}

Disc cell_past_end() {
    Packer packer;
    TitleSet set = plain_set();
    set.vobus.push_back(packer.unit(0, 3, 1, 1));
    set.vobus.push_back(packer.unit(0, 3, 1, 2));
    const auto places = lay_out(set);
    Cell beyond = cell_of_vobus(set, 1, 1, seconds(1));
    beyond.first_sector = places.back().last + 10;
    beyond.last_sector = places.back().last + 20;
    set.program_chains.push_back(chain_of({cell_of_vobus(set, 0, 0, seconds(1)), beyond}, {1, 2}));
    set.titles.push_back({{{1, 1}, {1, 2}}, 1});
    return disc_of({set});
}

Disc titles_inside_a_vob(AudioCoding coding) {
    constexpr int UNITS = 3;
    TimedPart part;
    part.units = UNITS;
    TitleSet set = plain_set();
    set.audio.front().coding = coding;
    std::vector<Vobu> units = timed_units(part, coding, 1);
    for (int u = 0; u < UNITS; ++u) {
        units[static_cast<std::size_t>(u)].cell_id = static_cast<std::uint8_t>(u + 1);
        set.vobus.push_back(units[static_cast<std::size_t>(u)]);
    }
    const PlayTime unit_time = seconds(0, TIMED_UNIT_PICTURES);
    const auto cell = [&set, &unit_time](std::size_t unit) {
        Cell made = cell_of_vobus(set, unit, unit, unit_time);
        made.cell_id = static_cast<std::uint8_t>(unit + 1);
        return made;
    };
    set.program_chains.push_back(chain_of({cell(0), cell(1), cell(2)}, {1}));
    set.program_chains.push_back(chain_of({cell(1), cell(2)}, {1}));
    set.program_chains.push_back(chain_of({cell(0)}, {1}));
    set.program_chains.push_back(chain_of({cell(2), cell(0), cell(1)}, {1}));
    for (int chain = 1; chain <= 4; ++chain) {
        set.titles.push_back({{{chain, 1}}, 1});
    }
    return disc_of({set});
}

}  // namespace packtest::disc

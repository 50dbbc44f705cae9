#pragma once
// Where a title's sectors lie and in which order a player reads them, and
// where its chapters start: pure functions of a title set's IFO record.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "disc/ifo_tables.hpp"
#include "disc/playback_time.hpp"

namespace packrift {

// A cell to read: its sectors from first to last, in the title set's VOB
// address space (VTS_nn_1.VOB onwards taken as one run of sectors).
struct PlannedCell {
    std::uint32_t first_sector = 0;
    std::uint32_t last_sector = 0;
    bool interleaved = false;  // its sectors hold interleaved units of every angle
    PlaybackTime playback_time;
    int program_chain = 0;  // 1-based, for messages
    int cell = 0;           // 1-based index in its program chain, for messages
    int vob_id = 0;         // from the cell position table
    bool stc_discontinuity = false;  // the cell's playback entry says the clock restarts
    // The title's timestamps may restart at this cell: it is flagged so, or
    // it lies in another VOB than the cell read before it. Never the
    // plan's first cell. Whether they do restart, only its VOBUs' times say.
    bool may_join = false;
};

struct CellPlan {
    std::vector<PlannedCell> cells;
    std::string problem;  // empty when the plan could be made
};

// The cells of title title_in_set (1-based) of the set, in the order they
// are read: the program chains in the order the title's chapters first name
// them, each from its first cell to its last, and of an angle block only
// the cell of angle (1-based), the angle-th cell of the block.
CellPlan title_cells(const TitleSetInfo& set, int title_in_set, int angle);

struct ChapterStarts {
    std::vector<std::uint64_t> milliseconds;  // per chapter
    std::vector<std::size_t> first_cells;     // per chapter, the index in the plan of its first cell
    std::string problem;
};

// Each chapter's start: the playback times of the cells read before the
// chapter's first cell (those of angle only), added exactly, then turned
// into milliseconds once, rounded down.
ChapterStarts chapter_starts(const TitleSetInfo& set, int title_in_set, int angle);

// The chapters in mkvmerge's simple chapter format: per chapter
// "CHAPTER01=00:00:00.000" and "CHAPTER01NAME=Chapter 01", each on a line.
std::string chapters_text(const std::vector<std::uint64_t>& starts);

}  // namespace packrift

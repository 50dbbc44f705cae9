#include "disc/title_plan.hpp"


namespace packrift {

namespace {

constexpr std::size_t NOT_PLANNED = static_cast<std::size_t>(-1);

// The plan and, per program chain and cell, the index in the plan of the
// cell read in its place (for a cell of an angle block, the angle's cell).
struct Planning {
    CellPlan plan;
    std::vector<std::vector<std::size_t>> position;
};

std::string cell_name(std::size_t chain, std::size_t cell) {
    return "cell " + std::to_string(cell + 1) + " of program chain " + std::to_string(chain + 1);
}

PlannedCell planned(const Cell& cell, std::size_t chain, std::size_t index) {
    return {cell.first_sector, cell.last_sector, cell.interleaved, cell.playback_time, static_cast<int>(chain + 1),
            static_cast<int>(index + 1), cell.vob_id, cell.stc_discontinuity, false};
}

// Where the timestamps may restart: at a cell flagged so, or at the first
// cell of another VOB than the one read before it.
void mark_joins(std::vector<PlannedCell>& cells) {
    for (std::size_t i = 1; i < cells.size(); ++i) {
        cells[i].may_join = cells[i].stc_discontinuity || cells[i].vob_id != cells[i - 1].vob_id;
    }
}

// The last cell of the angle block that begins at first: the cell marked
// last, or the last of the run of cells marked in the block.
std::size_t block_end(const std::vector<Cell>& cells, std::size_t first) {
    std::size_t last = first;
    while (last + 1 < cells.size() && cells[last].block_mode != BlockMode::last && cells[last + 1].angle_block &&
           (cells[last + 1].block_mode == BlockMode::middle || cells[last + 1].block_mode == BlockMode::last)) {
        ++last;
    }
    return last;
}

void plan_chain(const TitleSetInfo& set, std::size_t chain, std::size_t angle, Planning& planning) {
    const std::vector<Cell>& cells = set.program_chains[chain].cells;
    planning.position[chain].assign(cells.size(), NOT_PLANNED);
    std::size_t i = 0;
    while (i < cells.size() && planning.plan.problem.empty()) {
        std::size_t last = i;
        std::size_t kept = i;
        if (cells[i].angle_block && cells[i].block_mode == BlockMode::first) {
            last = block_end(cells, i);
            kept = i + angle - 1;
            if (kept > last) {
                planning.plan.problem = "the angle block at " + cell_name(chain, i) + " has " +
                                        std::to_string(last - i + 1) + " angles, no angle " + std::to_string(angle);
                return;
            }
        }
        for (std::size_t c = i; c <= last; ++c) {
            planning.position[chain][c] = planning.plan.cells.size();
        }
        planning.plan.cells.push_back(planned(cells[kept], chain, kept));
        i = last + 1;
    }
}

Planning plan_title(const TitleSetInfo& set, int title_in_set, int angle) {
    Planning planning;
    if (title_in_set < 1 || static_cast<std::size_t>(title_in_set) > set.titles.size()) {
        planning.plan.problem = "no title " + std::to_string(title_in_set) + " in the title set's chapter table";
        return planning;
    }
    if (angle < 1) {
        planning.plan.problem = "no angle " + std::to_string(angle);
        return planning;
    }
    planning.position.resize(set.program_chains.size());
    std::vector<bool> read(set.program_chains.size(), false);
    // The parser has checked that every chapter names a chain of the set.
    for (const Chapter& chapter : set.titles[static_cast<std::size_t>(title_in_set) - 1]) {
        const auto chain = static_cast<std::size_t>(chapter.program_chain) - 1;
        if (!read[chain] && planning.plan.problem.empty()) {
            read[chain] = true;
            plan_chain(set, chain, static_cast<std::size_t>(angle), planning);
        }
    }
    if (!planning.plan.problem.empty()) {
        planning.plan.cells.clear();
    }
    mark_joins(planning.plan.cells);
    return planning;
}

}  // namespace

CellPlan title_cells(const TitleSetInfo& set, int title_in_set, int angle) {
    return plan_title(set, title_in_set, angle).plan;
}

ChapterStarts chapter_starts(const TitleSetInfo& set, int title_in_set, int angle) {
    const Planning planning = plan_title(set, title_in_set, angle);
    ChapterStarts starts;
    starts.problem = planning.plan.problem;
    if (!starts.problem.empty()) {
        return starts;
    }
    // The sum of the times of the cells before each cell of the plan.
    std::vector<TimeSum> before(planning.plan.cells.size() + 1);
    for (std::size_t i = 0; i < planning.plan.cells.size(); ++i) {
        before[i + 1] = before[i];
        add_time(before[i + 1], planning.plan.cells[i].playback_time);
    }
    for (const Chapter& chapter : set.titles[static_cast<std::size_t>(title_in_set) - 1]) {
        const auto chain = static_cast<std::size_t>(chapter.program_chain) - 1;
        const auto program = static_cast<std::size_t>(chapter.program) - 1;
        const auto entry_cell =
            static_cast<std::size_t>(set.program_chains[chain].program_entry_cells[program]) - 1;
        const std::size_t first_cell = planning.position[chain][entry_cell];
        starts.first_cells.push_back(first_cell);
        starts.milliseconds.push_back(milliseconds_of(before[first_cell]));
    }
    return starts;
}

std::string chapters_text(const std::vector<std::uint64_t>& starts) {
    std::string text;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        // Appended, not "literal" + string: GCC 12 at -O3 warns falsely of overlapping copies there.
        std::string number = i + 1 < 10 ? "0" : "";
        number += std::to_string(i + 1);
        text += std::string("CHAPTER") + number + "=" + chapter_clock(starts[i]) + "\n";
        text += std::string("CHAPTER") + number + "NAME=Chapter " + number + "\n";
    }
    return text;
}

}  // namespace packrift

#pragma once
// What -title names: one title, every title (-title all) or the disc's
// main title (-title main), and the cells that tell two titles apart.

#include <cstdint>
#include <utility>
#include <vector>

#include "disc/title_plan.hpp"
#include "front/disc_title.hpp"

namespace packrift {

inline constexpr const char* MINLENGTH_OPTION = "-minlength";

// The sectors a title plays for one angle, cell by cell, in its title set:
// two titles that play the same cells in the same order have equal ones,
// whatever their chapter marks.
struct PlayedCells {
    int title_set = 0;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> cells;  // first and last sector
    bool operator==(const PlayedCells&) const = default;
};

PlayedCells played_cells(int title_set, const CellPlan& plan);

// Reads what -title names, as -title N, all or main; returns the exit status.
int run_disc_titles(const DiscRun& disc, int argc, char** argv);

// Whether -title names all or main, for which -minlength is.
bool whole_disc_asked(int argc, char** argv);

}  // namespace packrift

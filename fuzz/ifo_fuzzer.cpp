// Fuzzes the readers of a disc's binary tables: the same bytes go to the
// parser of VIDEO_TS.IFO, to the parser of VTS_nn_0.IFO and, sector by
// sector, to the navigation pack's PCI and DSI readers. None may crash or
// read outside the bytes (ASan sees to that); what a parser calls sound
// must keep its promises: every title names a title set of the disc, every
// chapter a program of a chain of its set, and then the plan of each title's
// cells, its chapter starts and its listing can be made from it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "disc/ifo_tables.hpp"
#include "disc/nav_pack.hpp"
#include "disc/title_plan.hpp"
#include "front/disc_listing.hpp"
#include "io/byte_view.hpp"

namespace {

using namespace packrift;

constexpr std::size_t SECTOR = 2048;
constexpr int ANGLES_TRIED = 3;

void require(bool promise) {
    if (!promise) {
        std::abort();
    }
}

void check_video_manager(const Parsed<VideoManager>& parsed) {
    if (!parsed.problem.empty()) {
        return;
    }
    for (const DiscTitle& title : parsed.record.titles) {
        require(title.title_set >= 1 && title.title_set <= parsed.record.title_sets && title.title_in_set >= 1);
    }
}

void check_title_set(const Parsed<TitleSetInfo>& parsed) {
    if (!parsed.problem.empty()) {
        return;
    }
    const TitleSetInfo& set = parsed.record;
    require(set.audio.size() <= AUDIO_STREAMS && set.subpictures.size() <= SUBPICTURE_STREAMS);
    for (std::size_t t = 0; t < set.titles.size(); ++t) {
        const int title = static_cast<int>(t + 1);
        require(!set.titles[t].empty());
        for (int angle = 1; angle <= ANGLES_TRIED; ++angle) {
            const CellPlan plan = title_cells(set, title, angle);
            const ChapterStarts starts = chapter_starts(set, title, angle);
            require(plan.problem == starts.problem);
            if (plan.problem.empty()) {
                require(starts.milliseconds.size() == set.titles[t].size());
                require(starts.first_cells.size() == set.titles[t].size());
                for (const std::size_t first_cell : starts.first_cells) {
                    require(first_cell < plan.cells.size());
                }
                for (const PlannedCell& cell : plan.cells) {
                    require(cell.first_sector <= cell.last_sector);
                }
                require(plan.cells.empty() || !plan.cells.front().may_join);
            }
        }
        DiscTitle listed{1, title, 1, 1};
        require(!title_listing(title, listed, set).empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check_video_manager(parse_video_manager(view_of(data, size)));
    check_title_set(parse_title_set(view_of(data, size)));
    // Each whole sector, and the torn end as a sector cut short.
    for (std::size_t at = 0; at < size; at += SECTOR) {
        const std::size_t sector = size - at < SECTOR ? size - at : SECTOR;
        const DsiReading reading = read_dsi(data + at, sector);
        require(reading.status != NavPackReading::dsi_found || reading.unit.last_unit == (reading.unit.next_unit_start == 0));
        // A pack whose PCI gives times is a navigation pack.
        require(!read_vobu_times(data + at, sector) || reading.status != NavPackReading::not_a_nav_pack);
    }
    return 0;
}

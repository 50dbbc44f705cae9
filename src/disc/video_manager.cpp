// VIDEO_TS.IFO: the disc's title table.

#include <cstdio>
#include <string>

#include "disc/ifo_layout.hpp"
#include "disc/ifo_tables.hpp"

namespace packrift {

namespace {

using namespace ifo;

std::string title_problem(std::size_t index, const std::string& what) {
    return "title " + std::to_string(index + 1) + " " + what;
}

// The titles of the title table; problem set when one is not sound.
std::vector<DiscTitle> read_titles(ByteView& table, int title_sets, std::string& problem) {
    const std::size_t count = read_be16(table, TABLE_COUNT);
    if (!holds(table, TABLE_HEADER_SIZE, count * TITLE_ENTRY_SIZE)) {
        problem = "title table lists " + std::to_string(count) + " titles, more than it holds";
        return {};
    }
    std::vector<DiscTitle> titles;
    for (std::size_t i = 0; i < count && problem.empty(); ++i) {
        ByteView entry = sub_view(table, TABLE_HEADER_SIZE + i * TITLE_ENTRY_SIZE, TITLE_ENTRY_SIZE);
        DiscTitle title;
        title.angles = read_u8(entry, TITLE_ANGLES);
        title.chapters = read_be16(entry, TITLE_CHAPTERS);
        title.title_set = read_u8(entry, TITLE_SET_NUMBER);
        title.title_in_set = read_u8(entry, TITLE_NUMBER_IN_SET);
        if (title.title_set < 1 || title.title_set > title_sets) {
            problem = title_problem(i, "names title set " + std::to_string(title.title_set) + " of " +
                                           std::to_string(title_sets));
        } else if (title.title_in_set < 1) {
            problem = title_problem(i, "has no number in its title set");
        }
        titles.push_back(title);
    }
    return titles;
}

}  // namespace

Parsed<VideoManager> parse_video_manager(ByteView file) {
    Parsed<VideoManager> parsed;
    if (!holds(file, 0, VMG_MANAGEMENT_SIZE)) {
        parsed.problem = "truncated";
        return parsed;
    }
    if (!has_identifier(file, VMG_IDENTIFIER)) {
        parsed.problem = "no DVDVIDEO-VMG at its start";
        return parsed;
    }
    parsed.record.title_sets = read_be16(file, VMG_TITLE_SET_COUNT);
    if (parsed.record.title_sets > MOST_TITLE_SETS) {
        // Formatted whole: pieced together, the text left word fragments in
        // the binary that lintian takes for misspellings.
        char problem[sizeof "counts 65535 title sets, more than the 99 a disc may hold"];
        std::snprintf(problem, sizeof problem, "counts %d title sets, more than the %d a disc may hold",
                      parsed.record.title_sets, MOST_TITLE_SETS);
        parsed.problem = problem;
        return parsed;
    }
    std::optional<ByteView> table = table_at(file, read_be32(file, VMG_TITLE_TABLE_SECTOR), "title table",
                                             parsed.problem);
    if (table) {
        parsed.record.titles = read_titles(*table, parsed.record.title_sets, parsed.problem);
    }
    return parsed;
}

}  // namespace packrift

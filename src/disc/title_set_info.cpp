// VTS_nn_0.IFO: a title set's stream attributes, chapter table and program chains.

#include <string>

#include "disc/ifo_layout.hpp"
#include "disc/ifo_tables.hpp"
#include "disc/stream_attributes.hpp"

namespace packrift {

namespace {

using namespace ifo;

std::string number(std::size_t value) {
    return std::to_string(value);
}

std::string chain_name(std::size_t index) {
    return "program chain " + number(index + 1);
}

void read_attributes(ByteView& file, TitleSetInfo& set, std::string& problem) {
    set.video = read_video_attributes(file, VTS_VIDEO_ATTRIBUTES);
    const std::size_t audio_count = read_u8(file, VTS_AUDIO_COUNT);
    const std::size_t subpicture_count = read_u8(file, VTS_SUBPICTURE_COUNT);
    if (audio_count > AUDIO_STREAMS || subpicture_count > SUBPICTURE_STREAMS) {
        problem = number(audio_count) + " audio and " + number(subpicture_count) +
                  " subpicture tracks, more than a title set has room for";
        return;
    }
    for (std::size_t i = 0; i < audio_count; ++i) {
        set.audio.push_back(read_audio_attributes(file, VTS_AUDIO_ATTRIBUTES + i * AUDIO_ATTRIBUTES_SIZE));
    }
    for (std::size_t i = 0; i < subpicture_count; ++i) {
        set.subpictures.push_back(
            read_subpicture_attributes(file, VTS_SUBPICTURE_ATTRIBUTES + i * SUBPICTURE_ATTRIBUTES_SIZE));
    }
}

// The chapters of each title: from its offset to the next title's, or to
// the end of the table for the last.
void read_chapter_table(ByteView& table, TitleSetInfo& set, std::string& problem) {
    const std::size_t count = read_be16(table, TABLE_COUNT);
    const std::size_t first_chapter = TABLE_HEADER_SIZE + count * TITLE_OFFSET_SIZE;
    if (!holds(table, 0, first_chapter)) {
        problem = "chapter table lists " + number(count) + " titles, more than it holds";
        return;
    }
    for (std::size_t i = 0; i < count && problem.empty(); ++i) {
        const std::size_t start = read_be32(table, TABLE_HEADER_SIZE + i * TITLE_OFFSET_SIZE);
        const std::size_t end =
            i + 1 < count ? read_be32(table, TABLE_HEADER_SIZE + (i + 1) * TITLE_OFFSET_SIZE) : table.size;
        if (start < first_chapter || end > table.size || end < start + CHAPTER_ENTRY_SIZE) {
            problem = "the chapters of title " + number(i + 1) + " lie outside the chapter table";
            return;
        }
        std::vector<Chapter> chapters;
        for (std::size_t at = start; at + CHAPTER_ENTRY_SIZE <= end; at += CHAPTER_ENTRY_SIZE) {
            chapters.push_back({read_be16(table, at + CHAPTER_PROGRAM_CHAIN), read_be16(table, at + CHAPTER_PROGRAM)});
        }
        set.titles.push_back(std::move(chapters));
    }
}

// The first cell of each program, each a cell of the chain.
void read_program_map(ByteView& chain, std::size_t index, std::size_t programs, ProgramChain& pgc,
                      std::string& problem) {
    const std::size_t offset = read_be16(chain, CHAIN_PROGRAM_MAP_OFFSET);
    if (programs > 0 && !holds(chain, offset, programs * PROGRAM_MAP_ENTRY_SIZE)) {
        problem = "the program map of " + chain_name(index) + " lies past the end of its table";
        return;
    }
    for (std::size_t i = 0; i < programs && problem.empty(); ++i) {
        const int cell = read_u8(chain, offset + i * PROGRAM_MAP_ENTRY_SIZE);
        if (cell < 1 || static_cast<std::size_t>(cell) > pgc.cells.size()) {
            problem = "program " + number(i + 1) + " of " + chain_name(index) + " starts at cell " + number(static_cast<std::size_t>(cell)) +
                      " of " + number(pgc.cells.size());
        }
        pgc.program_entry_cells.push_back(cell);
    }
}

Cell read_cell(ByteView& entry, ByteView& position) {
    Cell cell;
    const unsigned flags = read_u8(entry, CELL_FLAGS);
    cell.block_mode = static_cast<BlockMode>(flags >> CELL_BLOCK_MODE_SHIFT & CELL_BLOCK_FIELD_MASK);
    cell.angle_block = (flags >> CELL_BLOCK_TYPE_SHIFT & CELL_BLOCK_FIELD_MASK) == CELL_BLOCK_TYPE_ANGLE;
    cell.interleaved = (flags & CELL_INTERLEAVED_BIT) != 0;
    cell.stc_discontinuity = (flags & CELL_STC_DISCONTINUITY_BIT) != 0;
    cell.playback_time = read_playback_time(entry, CELL_PLAYBACK_TIME);
    cell.first_sector = read_be32(entry, CELL_FIRST_SECTOR);
    cell.last_sector = read_be32(entry, CELL_LAST_SECTOR);
    cell.vob_id = read_be16(position, CELL_POSITION_VOB_ID);
    cell.cell_id = read_u8(position, CELL_POSITION_CELL_ID);
    return cell;
}

// The cell playback and cell position tables, one entry per cell in each.
void read_cells(ByteView& chain, std::size_t index, std::size_t cells, ProgramChain& pgc, std::string& problem) {
    const std::size_t playback = read_be16(chain, CHAIN_CELL_PLAYBACK_OFFSET);
    const std::size_t position = read_be16(chain, CHAIN_CELL_POSITION_OFFSET);
    if (cells > 0 && (!holds(chain, playback, cells * CELL_PLAYBACK_SIZE) ||
                      !holds(chain, position, cells * CELL_POSITION_SIZE))) {
        problem = "the cells of " + chain_name(index) + " lie past the end of its table";
        return;
    }
    for (std::size_t i = 0; i < cells && problem.empty(); ++i) {
        ByteView entry = sub_view(chain, playback + i * CELL_PLAYBACK_SIZE, CELL_PLAYBACK_SIZE);
        ByteView place = sub_view(chain, position + i * CELL_POSITION_SIZE, CELL_POSITION_SIZE);
        pgc.cells.push_back(read_cell(entry, place));
        if (pgc.cells.back().last_sector < pgc.cells.back().first_sector) {
            problem = "cell " + number(i + 1) + " of " + chain_name(index) + " ends before it begins";
        }
    }
}

ProgramChain read_program_chain(ByteView& chain, std::size_t index, std::string& problem) {
    ProgramChain pgc;
    pgc.playback_time = read_playback_time(chain, CHAIN_PLAYBACK_TIME);
    for (std::size_t i = 0; i < AUDIO_STREAMS; ++i) {
        pgc.audio_control[i] = read_be16(chain, CHAIN_AUDIO_CONTROL + 2 * i);
    }
    for (std::size_t i = 0; i < SUBPICTURE_STREAMS; ++i) {
        pgc.subpicture_control[i] = read_be32(chain, CHAIN_SUBPICTURE_CONTROL + 4 * i);
    }
    for (std::size_t i = 0; i < PALETTE_ENTRIES; ++i) {
        pgc.palette[i] = read_be32(chain, CHAIN_PALETTE + PALETTE_ENTRY_SIZE * i);
    }
    read_cells(chain, index, read_u8(chain, CHAIN_CELL_COUNT), pgc, problem);
    if (problem.empty()) {
        read_program_map(chain, index, read_u8(chain, CHAIN_PROGRAM_COUNT), pgc, problem);
    }
    return pgc;
}

void read_program_chains(ByteView& table, TitleSetInfo& set, std::string& problem) {
    const std::size_t count = read_be16(table, TABLE_COUNT);
    if (!holds(table, TABLE_HEADER_SIZE, count * CHAIN_POINTER_SIZE)) {
        problem = "program chain table lists " + number(count) + " chains, more than it holds";
        return;
    }
    for (std::size_t i = 0; i < count && problem.empty(); ++i) {
        const std::size_t offset = read_be32(table, TABLE_HEADER_SIZE + i * CHAIN_POINTER_SIZE + CHAIN_POINTER_OFFSET);
        if (!holds(table, offset, CHAIN_FIXED_SIZE)) {
            problem = chain_name(i) + " lies past the end of its table";
            return;
        }
        ByteView chain = tail_view(table, offset);
        set.program_chains.push_back(read_program_chain(chain, i, problem));
    }
}

// Every chapter names a program of a chain of the set.
void check_chapters(const TitleSetInfo& set, std::string& problem) {
    for (std::size_t t = 0; t < set.titles.size() && problem.empty(); ++t) {
        for (std::size_t c = 0; c < set.titles[t].size() && problem.empty(); ++c) {
            const Chapter& chapter = set.titles[t][c];
            const std::string name = "chapter " + number(c + 1) + " of title " + number(t + 1);
            if (chapter.program_chain < 1 || static_cast<std::size_t>(chapter.program_chain) > set.program_chains.size()) {
                problem = name + " names program chain " + std::to_string(chapter.program_chain) + " of " +
                          number(set.program_chains.size());
                return;
            }
            const std::size_t programs =
                set.program_chains[static_cast<std::size_t>(chapter.program_chain) - 1].program_entry_cells.size();
            if (chapter.program < 1 || static_cast<std::size_t>(chapter.program) > programs) {
                problem = name + " names program " + std::to_string(chapter.program) + " of " +
                          chain_name(static_cast<std::size_t>(chapter.program_chain) - 1) + ", which has " +
                          number(programs);
            }
        }
    }
}

}  // namespace

Parsed<TitleSetInfo> parse_title_set(ByteView file) {
    Parsed<TitleSetInfo> parsed;
    if (!holds(file, 0, VTS_MANAGEMENT_SIZE)) {
        parsed.problem = "truncated";
        return parsed;
    }
    if (!has_identifier(file, VTS_IDENTIFIER)) {
        parsed.problem = "no DVDVIDEO-VTS at its start";
        return parsed;
    }
    read_attributes(file, parsed.record, parsed.problem);
    std::optional<ByteView> chapters;
    std::optional<ByteView> chains;
    if (parsed.problem.empty()) {
        chapters = table_at(file, read_be32(file, VTS_CHAPTER_TABLE_SECTOR), "chapter table", parsed.problem);
    }
    if (chapters) {
        read_chapter_table(*chapters, parsed.record, parsed.problem);
    }
    if (parsed.problem.empty()) {
        chains = table_at(file, read_be32(file, VTS_PROGRAM_CHAIN_TABLE_SECTOR), "program chain table",
                          parsed.problem);
    }
    if (chains) {
        read_program_chains(*chains, parsed.record, parsed.problem);
    }
    if (parsed.problem.empty()) {
        check_chapters(parsed.record, parsed.problem);
    }
    // The checks above keep every read inside the file; this is the net below them.
    if (parsed.problem.empty() && file.overrun) {
        parsed.problem = "truncated";
    }
    return parsed;
}

}  // namespace packrift

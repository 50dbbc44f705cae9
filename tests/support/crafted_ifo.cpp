#include "support/crafted_ifo.hpp"

#include <stdexcept>

namespace packtest {

namespace {

// Offsets of the DVD-Video IFO layout that the crafted files fill in.
constexpr std::size_t VMG_TITLE_SET_COUNT = 62;
constexpr std::size_t VMG_TITLE_TABLE_SECTOR = 196;
constexpr std::size_t VTS_CHAPTER_TABLE_SECTOR = 200;
constexpr std::size_t VTS_CHAIN_TABLE_SECTOR = 204;
constexpr std::size_t VTS_VIDEO = 512;
constexpr std::size_t VTS_AUDIO_COUNT = 515;
constexpr std::size_t VTS_AUDIO = 516;
constexpr std::size_t VTS_SUBPICTURE_COUNT = 597;
constexpr std::size_t VTS_SUBPICTURE = 598;
constexpr std::size_t TITLE_ENTRY = 12;
constexpr std::size_t CELL_PLAYBACK = 24;
constexpr std::size_t CELL_POSITION = 4;

// Whole sectors, as the files on a disc are.
void pad_to_sector(Bytes& bytes) {
    bytes.resize((bytes.size() + IFO_SECTOR - 1) / IFO_SECTOR * IFO_SECTOR);
}

unsigned char bcd(int value) {
    return static_cast<unsigned char>(value / 10 << 4 | value % 10);
}

void put_text(Bytes& bytes, std::size_t offset, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes.at(offset + i) = static_cast<unsigned char>(text[i]);
    }
}

void put_bytes(Bytes& bytes, std::size_t offset, const Bytes& part) {
    for (std::size_t i = 0; i < part.size(); ++i) {
        bytes.at(offset + i) = part[i];
    }
}

// The management table's own size fields, which readers such as
// libdvdread check: the last sector of the set (with its VOBs and backup)
// and of the information file, the last byte of the management table, and
// for a video manager one volume, side 1.
constexpr std::size_t LAST_SECTOR = 12;
constexpr std::size_t INFORMATION_LAST_SECTOR = 28;
constexpr std::size_t MANAGEMENT_LAST_BYTE = 128;
constexpr std::uint32_t MANAGEMENT_SIZE = 2048;
constexpr std::size_t VMG_VOLUMES = 38;
constexpr std::size_t VMG_VOLUME = 40;
constexpr std::size_t VMG_DISC_SIDE = 42;
constexpr std::size_t VTS_TITLE_VOBS_SECTOR = 196;
// The video manager's table of title set attributes (VTS_ATRT), which
// readers expect: per title set an offset to an attribute record of 542
// bytes, left empty here but for its last byte.
constexpr std::size_t VMG_TITLE_SET_ATTRIBUTES_SECTOR = 208;
constexpr std::size_t TITLE_SET_ATTRIBUTES_SIZE = 542;

// The title set's cell address table (VTS_C_ADT: per cell its VOB id, cell
// id, first and last sector) and VOBU address map (VTS_VOBU_ADMAP: the
// first sector of each VOBU, here one per cell), which readers expect.
constexpr std::size_t VTS_CELL_ADDRESS_SECTOR = 224;
constexpr std::size_t VTS_VOBU_MAP_SECTOR = 228;
constexpr std::size_t CELL_ADDRESS = 12;

Bytes cell_address_table(const CraftedTitleSet& set) {
    Bytes table(8);
    int cell_id = 0;
    for (const CraftedChain& chain : set.chains) {
        for (const CraftedCell& cell : chain.cells) {
            table.resize(table.size() + CELL_ADDRESS);
            const std::size_t at = table.size() - CELL_ADDRESS;
            put_be16_at(table, at, 1);
            table[at + 2] = static_cast<unsigned char>(++cell_id);
            put_be32_at(table, at + 4, cell.first_sector);
            put_be32_at(table, at + 8, cell.last_sector);
        }
    }
    put_be16_at(table, 0, 1);
    put_be32_at(table, 4, static_cast<std::uint32_t>(table.size() - 1));
    return table;
}

Bytes vobu_map(const CraftedTitleSet& set) {
    Bytes table(4);
    for (const CraftedChain& chain : set.chains) {
        for (const CraftedCell& cell : chain.cells) {
            table.resize(table.size() + 4);
            put_be32_at(table, table.size() - 4, cell.first_sector);
        }
    }
    put_be32_at(table, 0, static_cast<std::uint32_t>(table.size() - 1));
    return table;
}

void append_table(Bytes& bytes, std::size_t sector_field, const Bytes& table) {
    put_be32_at(bytes, sector_field, static_cast<std::uint32_t>(bytes.size() / IFO_SECTOR));
    bytes.insert(bytes.end(), table.begin(), table.end());
    pad_to_sector(bytes);
}

Bytes title_set_attribute_table(int title_sets) {
    const auto count = static_cast<std::size_t>(title_sets);
    Bytes table(8 + 4 * count + TITLE_SET_ATTRIBUTES_SIZE * count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t record = 8 + 4 * count + TITLE_SET_ATTRIBUTES_SIZE * i;
        put_be32_at(table, 8 + 4 * i, static_cast<std::uint32_t>(record));
        put_be32_at(table, record, TITLE_SET_ATTRIBUTES_SIZE - 1);
    }
    put_be16_at(table, 0, static_cast<std::uint32_t>(count));
    put_be32_at(table, 4, static_cast<std::uint32_t>(table.size() - 1));
    return table;
}

void put_sizes(Bytes& bytes) {
    const auto sectors = static_cast<std::uint32_t>(bytes.size() / IFO_SECTOR);
    put_be32_at(bytes, INFORMATION_LAST_SECTOR, sectors - 1);
    put_be32_at(bytes, LAST_SECTOR, 2 * sectors - 1);
    put_be32_at(bytes, MANAGEMENT_LAST_BYTE, MANAGEMENT_SIZE - 1);
}

// A table's header: its entry count and the offset of its last byte.
void finish_table(Bytes& table, std::size_t count) {
    put_be16_at(table, 0, static_cast<std::uint32_t>(count));
    put_be32_at(table, 4, static_cast<std::uint32_t>(table.size() - 1));
}

Bytes chapter_table(const CraftedTitleSet& set) {
    Bytes table(8 + 4 * set.titles.size());
    for (std::size_t t = 0; t < set.titles.size(); ++t) {
        put_be32_at(table, 8 + 4 * t, static_cast<std::uint32_t>(table.size()));
        for (const auto& [chain, program] : set.titles[t]) {
            table.resize(table.size() + 4);
            put_be16_at(table, table.size() - 4, static_cast<std::uint32_t>(chain));
            put_be16_at(table, table.size() - 2, static_cast<std::uint32_t>(program));
        }
    }
    finish_table(table, set.titles.size());
    return table;
}

// A chain's fixed part, then its program map, cell playback and cell position tables.
Bytes program_chain(const CraftedChain& chain) {
    const std::size_t map = CHAIN_FIXED;
    const std::size_t playback = map + (chain.program_entry_cells.size() + 1) / 2 * 2;
    const std::size_t position = playback + chain.cells.size() * CELL_PLAYBACK;
    Bytes bytes(position + chain.cells.size() * CELL_POSITION);
    bytes[2] = static_cast<unsigned char>(chain.program_entry_cells.size());
    bytes[3] = static_cast<unsigned char>(chain.cells.size());
    put_bytes(bytes, 4, chain.time);
    for (std::size_t i = 0; i < chain.audio_control.size(); ++i) {
        put_be16_at(bytes, 12 + 2 * i, chain.audio_control[i]);
    }
    for (std::size_t i = 0; i < chain.subpicture_control.size(); ++i) {
        put_be32_at(bytes, 28 + 4 * i, chain.subpicture_control[i]);
    }
    put_be16_at(bytes, 230, static_cast<std::uint32_t>(map));
    put_be16_at(bytes, 232, static_cast<std::uint32_t>(playback));
    put_be16_at(bytes, 234, static_cast<std::uint32_t>(position));
    for (std::size_t i = 0; i < chain.program_entry_cells.size(); ++i) {
        bytes[map + i] = static_cast<unsigned char>(chain.program_entry_cells[i]);
    }
    for (std::size_t i = 0; i < chain.cells.size(); ++i) {
        const CraftedCell& cell = chain.cells[i];
        const std::size_t at = playback + i * CELL_PLAYBACK;
        bytes[at] = static_cast<unsigned char>(cell.block_mode << 6 | (cell.angle_block ? 1 : 0) << 4 |
                                               (cell.interleaved ? 0x04 : 0));
        put_bytes(bytes, at + 4, cell.time);
        put_be32_at(bytes, at + 8, cell.first_sector);
        put_be32_at(bytes, at + 16, cell.first_sector);  // the last VOBU's start: one VOBU a cell
        put_be32_at(bytes, at + 20, cell.last_sector);
        put_be16_at(bytes, position + i * CELL_POSITION, 1);
        bytes[position + i * CELL_POSITION + 3] = static_cast<unsigned char>(i + 1);
    }
    return bytes;
}

Bytes chain_table(const CraftedTitleSet& set) {
    Bytes table(CHAIN_TABLE_HEADER + CHAIN_POINTER * set.chains.size());
    for (std::size_t i = 0; i < set.chains.size(); ++i) {
        table[CHAIN_TABLE_HEADER + CHAIN_POINTER * i] = static_cast<unsigned char>(0x80 | (i + 1));
        put_be32_at(table, CHAIN_TABLE_HEADER + CHAIN_POINTER * i + 4, static_cast<std::uint32_t>(table.size()));
        const Bytes chain = program_chain(set.chains[i]);
        table.insert(table.end(), chain.begin(), chain.end());
    }
    finish_table(table, set.chains.size());
    return table;
}

}  // namespace

Bytes playback_time(int hours, int minutes, int seconds, int frames, int rate) {
    const int rate_bits = rate == 25 ? 0x40 : rate == 30 ? 0xC0 : 0;
    return {bcd(hours), bcd(minutes), bcd(seconds), static_cast<unsigned char>(rate_bits | bcd(frames))};
}

Bytes audio_attributes(int coding, int channels, int quantization, int frequency, const std::string& language) {
    Bytes bytes(8);
    bytes[0] = static_cast<unsigned char>(coding << 5 | (language.empty() ? 0 : 1) << 2);
    bytes[1] = static_cast<unsigned char>(quantization << 6 | frequency << 4 | (channels - 1));
    put_text(bytes, 2, language);
    return bytes;
}

Bytes subpicture_attributes(const std::string& language) {
    Bytes bytes(6);
    bytes[0] = language.empty() ? 0 : 1;
    put_text(bytes, 2, language);
    return bytes;
}

Bytes video_manager_ifo(int title_sets, const std::vector<CraftedTitle>& titles) {
    Bytes bytes(IFO_SECTOR);
    put_text(bytes, 0, "DVDVIDEO-VMG");
    put_be16_at(bytes, VMG_TITLE_SET_COUNT, static_cast<std::uint32_t>(title_sets));
    put_be32_at(bytes, VMG_TITLE_TABLE_SECTOR, CRAFTED_TITLE_TABLE / IFO_SECTOR);
    Bytes table(8 + TITLE_ENTRY * titles.size());
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const std::size_t at = 8 + TITLE_ENTRY * i;
        table[at + 1] = static_cast<unsigned char>(titles[i].angles);
        put_be16_at(table, at + 2, static_cast<std::uint32_t>(titles[i].chapters));
        table[at + 6] = static_cast<unsigned char>(titles[i].title_set);
        table[at + 7] = static_cast<unsigned char>(titles[i].title_in_set);
    }
    finish_table(table, titles.size());
    bytes.insert(bytes.end(), table.begin(), table.end());
    pad_to_sector(bytes);
    append_table(bytes, VMG_TITLE_SET_ATTRIBUTES_SECTOR, title_set_attribute_table(title_sets));
    put_sizes(bytes);
    put_be16_at(bytes, VMG_VOLUMES, 1);
    put_be16_at(bytes, VMG_VOLUME, 1);
    bytes[VMG_DISC_SIDE] = 1;
    return bytes;
}

Bytes title_set_ifo(const CraftedTitleSet& set) {
    Bytes bytes(IFO_SECTOR);
    put_text(bytes, 0, "DVDVIDEO-VTS");
    put_be32_at(bytes, VTS_CHAPTER_TABLE_SECTOR, CRAFTED_CHAPTER_TABLE / IFO_SECTOR);
    put_bytes(bytes, VTS_VIDEO, set.video);
    bytes[VTS_AUDIO_COUNT] = static_cast<unsigned char>(set.audio.size());
    for (std::size_t i = 0; i < set.audio.size(); ++i) {
        put_bytes(bytes, VTS_AUDIO + 8 * i, set.audio[i]);
    }
    bytes[VTS_SUBPICTURE_COUNT] = static_cast<unsigned char>(set.subpictures.size());
    for (std::size_t i = 0; i < set.subpictures.size(); ++i) {
        put_bytes(bytes, VTS_SUBPICTURE + 6 * i, set.subpictures[i]);
    }
    const Bytes chapters = chapter_table(set);
    if (chapters.size() > IFO_SECTOR) {
        throw std::length_error("the crafted chapter table takes one sector at most");
    }
    bytes.insert(bytes.end(), chapters.begin(), chapters.end());
    pad_to_sector(bytes);
    put_be32_at(bytes, VTS_CHAIN_TABLE_SECTOR, static_cast<std::uint32_t>(bytes.size() / IFO_SECTOR));
    if (bytes.size() != CRAFTED_CHAIN_TABLE) {
        throw std::logic_error("the crafted chain table must begin in sector 2");
    }
    const Bytes chains = chain_table(set);
    bytes.insert(bytes.end(), chains.begin(), chains.end());
    pad_to_sector(bytes);
    append_table(bytes, VTS_CELL_ADDRESS_SECTOR, cell_address_table(set));
    append_table(bytes, VTS_VOBU_MAP_SECTOR, vobu_map(set));
    put_sizes(bytes);
    // The title VOBs follow the information file.
    put_be32_at(bytes, VTS_TITLE_VOBS_SECTOR, static_cast<std::uint32_t>(bytes.size() / IFO_SECTOR));
    return bytes;
}

std::size_t crafted_chain_offset(const CraftedTitleSet& set, std::size_t index) {
    std::size_t offset = CRAFTED_CHAIN_TABLE + CHAIN_TABLE_HEADER + CHAIN_POINTER * set.chains.size();
    for (std::size_t i = 0; i < index; ++i) {
        offset += program_chain(set.chains[i]).size();
    }
    return offset;
}

void put_be16_at(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    bytes.at(offset) = static_cast<unsigned char>(value >> 8);
    bytes.at(offset + 1) = static_cast<unsigned char>(value);
}

void put_be32_at(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    put_be16_at(bytes, offset, value >> 16);
    put_be16_at(bytes, offset + 2, value & 0xFFFF);
}

}  // namespace packtest

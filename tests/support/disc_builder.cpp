#include "support/disc_builder.hpp"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace packtest::disc {

namespace {

// ---- Sizes and identifiers of the DVD-Video IFO layout -------------------

constexpr std::uint32_t IFO_SECTOR = 2048;
constexpr char VMG_IDENTIFIER[] = "DVDVIDEO-VMG";
constexpr char VTS_IDENTIFIER[] = "DVDVIDEO-VTS";
constexpr unsigned FORMAT_VERSION = 0x11;  // DVD-Video version 1.1, as authoring tools write
constexpr std::size_t TABLE_HEADER = 8;           // count, reserved, last byte
constexpr std::size_t TITLE_ENTRY = 12;           // one title in the title table
constexpr std::size_t TITLE_SET_SECTOR = 8;       // in a title entry: where its title set begins
constexpr std::size_t CHAPTER_ENTRY = 4;          // program chain and program numbers
constexpr std::size_t PGC_SEARCH_ENTRY = 8;       // one program chain's search pointer
constexpr std::size_t PGC_SEARCH_OFFSET = 4;      // in it: where the chain lies in the table
constexpr std::size_t PGC_HEADER = 236;           // a program chain's fixed part
constexpr std::size_t CELL_PLAYBACK_ENTRY = 24;
constexpr std::size_t CELL_POSITION_ENTRY = 4;
constexpr std::size_t CELL_ADDRESS_ENTRY = 12;
constexpr std::size_t ATTRIBUTE_COPY = 0x216;  // the title set attributes kept in the VMG
constexpr std::size_t AUDIO_ATTRIBUTES = 8;
constexpr std::size_t SUBPICTURE_ATTRIBUTES = 6;

// The video manager's management table (VIDEO_TS.IFO, sector 0).
constexpr std::size_t VMG_LAST_SECTOR = 0x0C;
constexpr std::size_t VMGI_LAST_SECTOR = 0x1C;
constexpr std::size_t VMG_FORMAT_VERSION = 0x21;
constexpr std::size_t VMG_VOLUMES = 0x26;
constexpr std::size_t VMG_THIS_VOLUME = 0x28;
constexpr std::size_t VMG_DISC_SIDE = 0x2A;
constexpr std::size_t VMG_TITLE_SETS = 0x3E;
constexpr std::size_t VMG_PROVIDER = 0x40;
constexpr std::size_t VMGI_LAST_BYTE = 0x80;
constexpr std::size_t VMG_FIRST_PLAY_PGC = 0x84;
constexpr std::size_t VMG_TITLE_TABLE = 0xC4;      // sector
constexpr std::size_t VMG_ATTRIBUTE_TABLE = 0xD0;  // sector
constexpr std::size_t FIRST_PLAY_PGC_AT = 0x400;   // where authoring tools put it

// A title set's management table (VTS_nn_0.IFO, sector 0).
constexpr std::size_t VTS_LAST_SECTOR = 0x0C;
constexpr std::size_t VTSI_LAST_SECTOR = 0x1C;
constexpr std::size_t VTS_FORMAT_VERSION = 0x21;
constexpr std::size_t VTSI_LAST_BYTE = 0x80;
constexpr std::size_t VTS_TITLE_VOBS = 0xC4;      // sector where VTS_nn_1.VOB begins
constexpr std::size_t VTS_CHAPTER_TABLE = 0xC8;   // sector
constexpr std::size_t VTS_PGC_TABLE = 0xCC;       // sector
constexpr std::size_t VTS_CELL_ADDRESSES = 0xE0;  // sector
constexpr std::size_t VTS_VOBU_MAP = 0xE4;        // sector
constexpr std::size_t VTS_ATTRIBUTES = 0x100;     // start of the attribute block
constexpr std::size_t VTS_VIDEO = 0x200;
constexpr std::size_t VTS_AUDIO_COUNT = 0x203;
constexpr std::size_t VTS_AUDIO = 0x204;
constexpr std::size_t VTS_SUBPICTURE_COUNT = 0x255;
constexpr std::size_t VTS_SUBPICTURE = 0x256;
constexpr std::size_t VTSI_MAT_SIZE = 0x3D8;

// A program chain.
constexpr std::size_t PGC_PROGRAMS = 0x02;
constexpr std::size_t PGC_CELLS = 0x03;
constexpr std::size_t PGC_TIME = 0x04;
constexpr std::size_t PGC_AUDIO_CONTROL = 0x0C;       // 8 x 16 bits
constexpr std::size_t PGC_SUBPICTURE_CONTROL = 0x1C;  // 32 x 32 bits
constexpr std::size_t PGC_PALETTE = 0xA4;
constexpr std::size_t PGC_PROGRAM_MAP = 0xE6;
constexpr std::size_t PGC_CELL_PLAYBACK = 0xE8;
constexpr std::size_t PGC_CELL_POSITION = 0xEA;
constexpr unsigned STREAM_AVAILABLE_16 = 0x8000;
constexpr std::uint32_t STREAM_AVAILABLE_32 = 0x80000000;
constexpr unsigned ENTRY_PGC = 0x80;  // search pointer: the title's entry program chain

// A cell playback entry's first byte: block mode, block type, seamless
// play, interleaved, STC discontinuity, seamless angle.
constexpr int BLOCK_MODE_SHIFT = 6;
constexpr int BLOCK_TYPE_SHIFT = 4;
constexpr unsigned ANGLE_BLOCK_TYPE = 1;
constexpr unsigned SEAMLESS_PLAY = 0x08;
constexpr unsigned INTERLEAVED = 0x04;
constexpr unsigned STC_DISCONTINUITY = 0x02;
constexpr unsigned SEAMLESS_ANGLE = 0x01;
constexpr std::size_t CELL_TIME = 4;
constexpr std::size_t CELL_FIRST_SECTOR = 8;
constexpr std::size_t CELL_FIRST_UNIT_END = 12;
constexpr std::size_t CELL_LAST_VOBU = 16;
constexpr std::size_t CELL_LAST_SECTOR = 20;

// Playback time: BCD, the frame byte's two high bits the frame rate.
constexpr unsigned RATE_25 = 0x40;
constexpr unsigned RATE_30 = 0xC0;

// Attribute codes.
constexpr unsigned VIDEO_MPEG2 = 0x40;
constexpr unsigned VIDEO_PAL = 0x10;
constexpr unsigned VIDEO_WIDE = 0x0C;  // 16:9 display aspect
constexpr unsigned PICTURE_SIZE_SHIFT = 2;  // in the second video byte
constexpr unsigned LANGUAGE_PRESENT_AUDIO = 0x04;
constexpr unsigned LANGUAGE_PRESENT_SUBPICTURE = 0x01;
constexpr unsigned QUANT_DRC = 3;
constexpr unsigned RATE_96K = 1;

// ---- Navigation packs (ISO/IEC 13818-1 packs as DVD lays them out) -------

constexpr std::size_t PACK_HEADER_SIZE = 14;
constexpr unsigned char PACK_HEADER[PACK_HEADER_SIZE] = {0x00, 0x00, 0x01, 0xBA, 0x44, 0x00, 0x04,
                                                         0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
// System header: rate bound, audio and video bounds, then the buffer
// bounds of video, MPEG audio, private stream 1 and private stream 2.
constexpr unsigned char SYSTEM_HEADER[] = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x12, 0x80, 0xC4,
                                           0xE1, 0x04, 0xE1, 0xFF, 0xB9, 0xE0, 0xE8, 0xB8,
                                           0xC0, 0x20, 0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02};
constexpr std::size_t PCI_PACKET_AT = PACK_HEADER_SIZE + sizeof(SYSTEM_HEADER);
constexpr std::size_t PCI_LENGTH = 0x3D4;  // packet length, substream byte included
constexpr std::size_t DSI_PACKET_AT = 0x400;
constexpr std::size_t DSI_LENGTH = 0x3FA;
constexpr unsigned PCI_SUBSTREAM = 0x00;
constexpr unsigned DSI_SUBSTREAM = 0x01;
constexpr std::size_t PES_START = 6;  // start code and packet length
constexpr std::size_t PCI_DATA = PCI_PACKET_AT + PES_START + 1;
constexpr std::size_t DSI_DATA = DSI_PACKET_AT + PES_START + 1;

// Fields of the presentation control (PCI) and data search (DSI) packets.
constexpr std::size_t PCI_PACK_SECTOR = 0;
constexpr std::size_t PCI_VOBU_START_PTM = 12;
constexpr std::size_t PCI_VOBU_END_PTM = 16;
constexpr std::size_t PCI_ANGLE_ADDRESSES = 60;  // 9 x 32 bits, non-seamless angles
constexpr std::size_t DSI_PACK_SECTOR = 4;
constexpr std::size_t DSI_VOBU_END = 8;
constexpr std::size_t DSI_FIRST_REFERENCE_END = 12;
constexpr std::size_t DSI_VOB_ID = 24;
constexpr std::size_t DSI_CELL_ID = 27;
constexpr std::size_t DSI_UNIT_CATEGORY = 32;
constexpr std::size_t DSI_UNIT_END = 34;        // this interleaved unit's last sector, relative
constexpr std::size_t DSI_NEXT_UNIT = 38;       // the next unit of this angle, relative
constexpr std::size_t DSI_NEXT_UNIT_SIZE = 42;  // its sectors
constexpr std::size_t DSI_SEAMLESS_ANGLES = 180;  // 9 x (32-bit address, 16-bit size)
constexpr std::size_t DSI_NEXT_VIDEO = 234;
constexpr std::size_t DSI_NEXT_VOBU = 314;
constexpr std::size_t DSI_PREVIOUS_VOBU = 318;
constexpr std::size_t DSI_PREVIOUS_VIDEO = 398;
constexpr std::size_t ANGLE_SLOTS = 9;
// Interleaved unit category flags: the unit is interleaved, starts a unit,
// ends a unit; and the last unit of its angle in the block.
constexpr unsigned UNIT_PREU = 0x8000;
constexpr unsigned UNIT_INTERLEAVED = 0x4000;
constexpr unsigned UNIT_START = 0x2000;
constexpr unsigned UNIT_END = 0x1000;
// Search pointers: the high bit says the unit holds video; this value says
// there is none in the cell.
constexpr std::uint32_t SEARCH_HAS_VIDEO = 0x80000000;
constexpr std::uint32_t END_OF_CELL = 0x3FFFFFFF;
constexpr std::uint32_t ADDRESS_BEFORE = 0x80000000;  // an angle address that lies backwards

// A plain byte table that grows as fields are written.
struct Table {
    Bytes bytes;

    void grow(std::size_t end) {
        if (bytes.size() < end) {
            bytes.resize(end, 0);
        }
    }
    void u8(std::size_t at, unsigned value) {
        grow(at + 1);
        bytes[at] = static_cast<unsigned char>(value);
    }
    void u16(std::size_t at, unsigned value) {
        u8(at, value >> 8 & 0xFF);
        u8(at + 1, value & 0xFF);
    }
    void u32(std::size_t at, std::uint32_t value) {
        u16(at, value >> 16);
        u16(at + 2, value & 0xFFFF);
    }
    void text(std::size_t at, const std::string& value) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            u8(at + i, static_cast<unsigned char>(value[i]));
        }
    }
    void append(const Bytes& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
    void pad_to_sector() { grow((bytes.size() + IFO_SECTOR - 1) / IFO_SECTOR * IFO_SECTOR); }
    std::uint32_t sectors() const { return static_cast<std::uint32_t>(bytes.size() / IFO_SECTOR); }
};

unsigned bcd(int value) { return static_cast<unsigned>(value / 10 * 16 + value % 10); }

void put_time(Table& table, std::size_t at, const PlayTime& time) {
    table.u8(at, bcd(time.hours));
    table.u8(at + 1, bcd(time.minutes));
    table.u8(at + 2, bcd(time.seconds));
    table.u8(at + 3, (time.ntsc ? RATE_30 : RATE_25) | bcd(time.frames));
}

// A table that starts with its entry count and the offset of its last byte.
void finish_table(Table& table, unsigned count) {
    table.u16(0, count);
    table.u32(4, static_cast<std::uint32_t>(table.bytes.size() - 1));
}

unsigned language_code(const std::string& language) {
    if (language.size() != 2) {
        return 0;
    }
    return static_cast<unsigned>(static_cast<unsigned char>(language[0])) << 8 |
           static_cast<unsigned char>(language[1]);
}

unsigned audio_coding_code(AudioCoding coding) {
    switch (coding) {
        case AudioCoding::ac3: return 0;
        case AudioCoding::mpeg1: return 2;
        case AudioCoding::mpeg2: return 3;
        case AudioCoding::lpcm: return 4;
        case AudioCoding::dts: return 6;
    }
    return 0;
}

// The title set's stream attributes, as VTSI sector 0 holds them from
// VTS_ATTRIBUTES on (and the VMG's attribute table copies them).
void put_attributes(Table& table, const TitleSet& set) {
    unsigned video = VIDEO_MPEG2;
    if (set.video.pal) {
        video |= VIDEO_PAL;
    }
    if (set.video.wide) {
        video |= VIDEO_WIDE;
    }
    table.u8(VTS_VIDEO, video);
    table.u8(VTS_VIDEO + 1, static_cast<unsigned>(set.video.picture_size) << PICTURE_SIZE_SHIFT);
    table.u8(VTS_AUDIO_COUNT, static_cast<unsigned>(set.audio.size()));
    for (std::size_t i = 0; i < set.audio.size(); ++i) {
        const AudioTrack& track = set.audio[i];
        const std::size_t at = VTS_AUDIO + i * AUDIO_ATTRIBUTES;
        unsigned first = audio_coding_code(track.coding) << 5;
        if (!track.language.empty()) {
            first |= LANGUAGE_PRESENT_AUDIO;
        }
        unsigned quantization = QUANT_DRC;
        if (track.coding == AudioCoding::lpcm) {
            quantization = static_cast<unsigned>((track.bits - 16) / 4);
        }
        const unsigned rate = track.sample_rate == 96000 ? RATE_96K : 0;
        table.u8(at, first);
        table.u8(at + 1, quantization << 6 | rate << 4 | static_cast<unsigned>(track.channels - 1));
        table.u16(at + 2, language_code(track.language));
    }
    table.u8(VTS_SUBPICTURE_COUNT, static_cast<unsigned>(set.subpictures.size()));
    for (std::size_t i = 0; i < set.subpictures.size(); ++i) {
        const std::size_t at = VTS_SUBPICTURE + i * SUBPICTURE_ATTRIBUTES;
        if (!set.subpictures[i].language.empty()) {
            table.u8(at, LANGUAGE_PRESENT_SUBPICTURE);
            table.u16(at + 2, language_code(set.subpictures[i].language));
        }
    }
}

std::uint32_t vob_sectors(const TitleSet& set) {
    const auto places = lay_out(set);
    return places.empty() ? 0 : places.back().last + 1;
}

PlayTime chain_time(const ProgramChain& chain) {
    PlayTime total;
    total.ntsc = !chain.cells.empty() && chain.cells.front().time.ntsc;
    for (const Cell& cell : chain.cells) {
        if (cell.block_mode == BlockMode::none || cell.block_mode == BlockMode::first) {
            total = add(total, cell.time);
        }
    }
    return total;
}

Bytes program_chain_bytes(const ProgramChain& chain) {
    Table pgc;
    pgc.grow(PGC_HEADER);
    pgc.u8(PGC_PROGRAMS, static_cast<unsigned>(chain.program_first_cells.size()));
    pgc.u8(PGC_CELLS, static_cast<unsigned>(chain.cells.size()));
    put_time(pgc, PGC_TIME, chain_time(chain));
    for (std::size_t i = 0; i < chain.audio_streams.size(); ++i) {
        if (chain.audio_streams[i] >= 0) {
            pgc.u16(PGC_AUDIO_CONTROL + 2 * i,
                    STREAM_AVAILABLE_16 | static_cast<unsigned>(chain.audio_streams[i]) << 8);
        }
    }
    for (std::size_t i = 0; i < chain.subpicture_streams.size(); ++i) {
        const auto& s = chain.subpicture_streams[i];
        pgc.u32(PGC_SUBPICTURE_CONTROL + 4 * i,
                STREAM_AVAILABLE_32 | static_cast<std::uint32_t>(s.four_by_three) << 24 |
                    static_cast<std::uint32_t>(s.wide) << 16 |
                    static_cast<std::uint32_t>(s.letterbox) << 8 |
                    static_cast<std::uint32_t>(s.pan_scan));
    }
    for (std::size_t i = 0; i < chain.palette.size(); ++i) {
        pgc.u32(PGC_PALETTE + 4 * i, chain.palette[i]);
    }
    // Program map, then the cell tables, each at an even offset.
    std::size_t at = PGC_HEADER;
    pgc.u16(PGC_PROGRAM_MAP, static_cast<unsigned>(at));
    for (int first_cell : chain.program_first_cells) {
        pgc.u8(at++, static_cast<unsigned>(first_cell));
    }
    at += at % 2;
    pgc.u16(PGC_CELL_PLAYBACK, static_cast<unsigned>(at));
    for (const Cell& cell : chain.cells) {
        unsigned flags = static_cast<unsigned>(cell.block_mode) << BLOCK_MODE_SHIFT;
        if (cell.angle_block) {
            flags |= ANGLE_BLOCK_TYPE << BLOCK_TYPE_SHIFT | SEAMLESS_ANGLE;
        }
        if (cell.interleaved) {
            flags |= INTERLEAVED | SEAMLESS_PLAY;
        }
        if (cell.stc_discontinuity) {
            flags |= STC_DISCONTINUITY;
        }
        pgc.u8(at, flags);
        put_time(pgc, at + CELL_TIME, cell.time);
        pgc.u32(at + CELL_FIRST_SECTOR, cell.first_sector);
        pgc.u32(at + CELL_LAST_VOBU, cell.first_sector);
        pgc.u32(at + CELL_LAST_SECTOR, cell.last_sector);
        at += CELL_PLAYBACK_ENTRY;
    }
    pgc.u16(PGC_CELL_POSITION, static_cast<unsigned>(at));
    for (const Cell& cell : chain.cells) {
        pgc.u16(at, cell.vob_id);
        pgc.u8(at + 3, cell.cell_id);
        at += CELL_POSITION_ENTRY;
    }
    pgc.grow(at);
    return pgc.bytes;
}

std::uint32_t read_be32(const Bytes& bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes.at(at)) << 24 | static_cast<std::uint32_t>(bytes.at(at + 1)) << 16 |
           static_cast<std::uint32_t>(bytes.at(at + 2)) << 8 | bytes.at(at + 3);
}

// Fills in each cell's first unit end and last unit start from the layout.
void fill_cell_units(const TitleSet& set, Bytes& pgc) {
    const auto places = lay_out(set);
    Table table{std::move(pgc)};
    const std::size_t cells = table.bytes[PGC_CELLS];
    const std::size_t first = static_cast<std::size_t>(table.bytes[PGC_CELL_PLAYBACK]) << 8 |
                              table.bytes[PGC_CELL_PLAYBACK + 1];
    for (std::size_t c = 0; c < cells; ++c) {
        const std::size_t at = first + c * CELL_PLAYBACK_ENTRY;
        const std::uint32_t begin = read_be32(table.bytes, at + CELL_FIRST_SECTOR);
        const std::uint32_t end = read_be32(table.bytes, at + CELL_LAST_SECTOR);
        const bool interleaved = (table.bytes[at] & INTERLEAVED) != 0;
        // In an interleaved cell only the units of the cell's own angle
        // count: the one at its first sector says which.
        int angle = 0;
        for (std::size_t u = 0; u < places.size(); ++u) {
            if (places[u].first == begin) {
                angle = set.vobus[u].angle;
            }
        }
        std::uint32_t last_unit = begin;
        std::uint32_t first_unit_end = 0;
        for (std::size_t u = 0; u < places.size(); ++u) {
            const bool inside = places[u].first >= begin && places[u].last <= end;
            if (inside && (!interleaved || set.vobus[u].angle == angle)) {
                if (places[u].first == begin) {
                    first_unit_end = places[u].last;
                }
                last_unit = std::max(last_unit, places[u].first);
            }
        }
        if (interleaved) {
            table.u32(at + CELL_FIRST_UNIT_END, first_unit_end);
        }
        table.u32(at + CELL_LAST_VOBU, last_unit);
    }
    pgc = std::move(table.bytes);
}

std::string file_name(const Disc& disc, std::string name) {
    if (disc.lower_case_names) {
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    return name;
}

std::string vts_name(int set_number, int part, const char* suffix) {
    char name[32];
    std::snprintf(name, sizeof name, "VTS_%02d_%d.%s", set_number, part, suffix);
    return name;
}

// The title's title set and its number within it, both 0-based.
std::pair<std::size_t, std::size_t> find_title(const Disc& disc, int title_number) {
    const auto [set, title] = disc_titles(disc).at(static_cast<std::size_t>(title_number - 1));
    return {static_cast<std::size_t>(set - 1), static_cast<std::size_t>(title - 1)};
}

// The next unit of the same angle in the same interleaved run, or none.
std::size_t next_of_angle(const TitleSet& set, std::size_t index) {
    const int angle = set.vobus[index].angle;
    for (std::size_t i = index + 1; i < set.vobus.size() && set.vobus[i].angle != 0; ++i) {
        if (set.vobus[i].angle == angle) {
            return i;
        }
    }
    return set.vobus.size();
}

// Where a player that switches to `angle` at the end of unit `index` goes
// on: the unit of that angle of the next round (the units of a run take
// their angles in turn, one round after another).
std::size_t switch_target(const TitleSet& set, std::size_t index, int angle) {
    std::size_t run_start = index;
    while (run_start > 0 && set.vobus[run_start - 1].angle != 0) {
        --run_start;
    }
    int round = 0;
    for (std::size_t i = run_start; i <= index; ++i) {
        if (set.vobus[i].angle == set.vobus[index].angle) {
            ++round;
        }
    }
    int seen = 0;
    for (std::size_t i = run_start; i < set.vobus.size() && set.vobus[i].angle != 0; ++i) {
        if (set.vobus[i].angle == angle && ++seen == round + 1) {
            return i;
        }
    }
    return set.vobus.size();
}

std::uint32_t relative(std::uint32_t from, std::uint32_t to) {
    return to >= from ? to - from : ADDRESS_BEFORE | (from - to);
}

}  // namespace

PlayTime add(const PlayTime& a, const PlayTime& b) {
    const int rate = a.ntsc ? 30 : 25;
    PlayTime sum;
    sum.ntsc = a.ntsc;
    sum.frames = a.frames + b.frames;
    int carry = sum.frames / rate;
    sum.frames %= rate;
    sum.seconds = a.seconds + b.seconds + carry;
    carry = sum.seconds / 60;
    sum.seconds %= 60;
    sum.minutes = a.minutes + b.minutes + carry;
    carry = sum.minutes / 60;
    sum.minutes %= 60;
    sum.hours = a.hours + b.hours + carry;
    return sum;
}

std::vector<VobuPlace> lay_out(const TitleSet& title_set) {
    std::vector<VobuPlace> places;
    std::uint32_t next = 0;
    for (const Vobu& vobu : title_set.vobus) {
        const auto sectors = static_cast<std::uint32_t>(1 + vobu.packs.size());
        places.push_back({next, next + sectors - 1});
        next += sectors;
    }
    return places;
}

Cell cell_of_vobus(const TitleSet& title_set, std::size_t first_vobu, std::size_t last_vobu,
                   const PlayTime& time) {
    const auto places = lay_out(title_set);
    Cell cell;
    cell.first_sector = places.at(first_vobu).first;
    cell.last_sector = places.at(last_vobu).last;
    cell.time = time;
    cell.vob_id = title_set.vobus.at(first_vobu).vob_id;
    cell.cell_id = title_set.vobus.at(first_vobu).cell_id;
    return cell;
}

Cell angle_cell(const TitleSet& title_set, std::size_t first_vobu, int angle, const PlayTime& time) {
    std::size_t first = title_set.vobus.size();
    std::size_t last = first;
    for (std::size_t i = first_vobu; i < title_set.vobus.size() && title_set.vobus[i].angle != 0; ++i) {
        if (title_set.vobus[i].angle == angle) {
            if (first == title_set.vobus.size()) {
                first = i;
            }
            last = i;
        }
    }
    Cell cell = cell_of_vobus(title_set, first, last, time);
    cell.angle_block = true;
    cell.interleaved = true;
    return cell;
}

Bytes navigation_pack(const TitleSet& title_set, std::size_t vobu_index) {
    const auto places = lay_out(title_set);
    const Vobu& vobu = title_set.vobus.at(vobu_index);
    const VobuPlace& here = places[vobu_index];
    Table pack;
    pack.bytes.assign(std::begin(PACK_HEADER), std::end(PACK_HEADER));
    pack.bytes.insert(pack.bytes.end(), std::begin(SYSTEM_HEADER), std::end(SYSTEM_HEADER));
    pack.u32(PCI_PACKET_AT, PRIVATE_2);
    pack.u16(PCI_PACKET_AT + 4, PCI_LENGTH);
    pack.u8(PCI_PACKET_AT + PES_START, PCI_SUBSTREAM);
    pack.u32(DSI_PACKET_AT, PRIVATE_2);
    pack.u16(DSI_PACKET_AT + 4, DSI_LENGTH);
    pack.u8(DSI_PACKET_AT + PES_START, DSI_SUBSTREAM);
    pack.grow(SECTOR);

    pack.u32(PCI_DATA + PCI_PACK_SECTOR, here.first);
    pack.u32(PCI_DATA + PCI_VOBU_START_PTM, vobu.start_ptm);
    pack.u32(PCI_DATA + PCI_VOBU_END_PTM, vobu.end_ptm);
    pack.u32(DSI_DATA + DSI_PACK_SECTOR, here.first);
    pack.u32(DSI_DATA + DSI_VOBU_END, here.last - here.first);
    pack.u32(DSI_DATA + DSI_FIRST_REFERENCE_END, here.last - here.first);
    pack.u16(DSI_DATA + DSI_VOB_ID, vobu.vob_id);
    pack.u8(DSI_DATA + DSI_CELL_ID, vobu.cell_id);

    // The next and previous unit of the same cell (of the same angle in an
    // interleaved block).
    std::size_t next = title_set.vobus.size();
    if (vobu.angle != 0) {
        next = next_of_angle(title_set, vobu_index);
    } else if (vobu_index + 1 < title_set.vobus.size() &&
               title_set.vobus[vobu_index + 1].cell_id == vobu.cell_id &&
               title_set.vobus[vobu_index + 1].vob_id == vobu.vob_id) {
        next = vobu_index + 1;
    }
    std::size_t previous = title_set.vobus.size();
    if (vobu.angle != 0) {
        for (std::size_t i = vobu_index; i-- > 0 && title_set.vobus[i].angle != 0;) {
            if (title_set.vobus[i].angle == vobu.angle) {
                previous = i;
                break;
            }
        }
    } else if (vobu_index > 0 && title_set.vobus[vobu_index - 1].cell_id == vobu.cell_id &&
               title_set.vobus[vobu_index - 1].vob_id == vobu.vob_id) {
        previous = vobu_index - 1;
    }
    const bool has_next = next < title_set.vobus.size();
    const std::uint32_t next_search =
        has_next ? SEARCH_HAS_VIDEO | (places[next].first - here.first) : END_OF_CELL;
    pack.u32(DSI_DATA + DSI_NEXT_VOBU, next_search);
    pack.u32(DSI_DATA + DSI_NEXT_VIDEO, has_next ? next_search : SEARCH_HAS_VIDEO | END_OF_CELL);
    const bool has_previous = previous < title_set.vobus.size();
    const std::uint32_t previous_search =
        has_previous ? SEARCH_HAS_VIDEO | (here.first - places[previous].first) : END_OF_CELL;
    pack.u32(DSI_DATA + DSI_PREVIOUS_VOBU, previous_search);
    pack.u32(DSI_DATA + DSI_PREVIOUS_VIDEO,
             has_previous ? previous_search : SEARCH_HAS_VIDEO | END_OF_CELL);

    if (vobu.angle != 0) {
        unsigned category = UNIT_INTERLEAVED | UNIT_START | UNIT_END;
        if (!has_next) {
            category |= UNIT_PREU;
        }
        pack.u16(DSI_DATA + DSI_UNIT_CATEGORY, category);
        pack.u32(DSI_DATA + DSI_UNIT_END, here.last - here.first);
        if (has_next) {
            pack.u32(DSI_DATA + DSI_NEXT_UNIT, places[next].first - here.first);
            pack.u16(DSI_DATA + DSI_NEXT_UNIT_SIZE, places[next].last - places[next].first + 1);
        }
        for (std::size_t slot = 0; slot < ANGLE_SLOTS; ++slot) {
            const std::size_t target = switch_target(title_set, vobu_index, static_cast<int>(slot) + 1);
            if (target < title_set.vobus.size()) {
                const std::uint32_t address = relative(here.first, places[target].first);
                pack.u32(DSI_DATA + DSI_SEAMLESS_ANGLES + 6 * slot, address);
                pack.u16(DSI_DATA + DSI_SEAMLESS_ANGLES + 6 * slot + 4,
                         places[target].last - places[target].first + 1);
                pack.u32(PCI_DATA + PCI_ANGLE_ADDRESSES + 4 * slot, address);
            }
        }
    }
    return pack.bytes;
}

Bytes title_set_vobs(const TitleSet& title_set) {
    Bytes out;
    for (std::size_t i = 0; i < title_set.vobus.size(); ++i) {
        const Bytes nav = navigation_pack(title_set, i);
        out.insert(out.end(), nav.begin(), nav.end());
        for (const Bytes& pack : title_set.vobus[i].packs) {
            if (pack.size() != SECTOR) {
                throw std::length_error("a content pack is not one sector");
            }
            out.insert(out.end(), pack.begin(), pack.end());
        }
    }
    return out;
}

Bytes title_set_ifo(const Disc& disc, std::size_t title_set_index) {
    const TitleSet& set = disc.title_sets.at(title_set_index);
    Table mat;
    mat.text(0, VTS_IDENTIFIER);
    mat.u8(VTS_FORMAT_VERSION, FORMAT_VERSION);
    mat.u32(VTSI_LAST_BYTE, static_cast<std::uint32_t>(VTSI_MAT_SIZE - 1));
    put_attributes(mat, set);
    mat.grow(VTSI_MAT_SIZE);
    mat.pad_to_sector();

    // Chapter table: one entry list per title, each behind an offset.
    Table chapters;
    chapters.grow(TABLE_HEADER + 4 * set.titles.size());
    for (std::size_t t = 0; t < set.titles.size(); ++t) {
        chapters.u32(TABLE_HEADER + 4 * t, static_cast<std::uint32_t>(chapters.bytes.size()));
        for (const Chapter& chapter : set.titles[t].chapters) {
            const std::size_t at = chapters.bytes.size();
            chapters.u16(at, static_cast<unsigned>(chapter.program_chain));
            chapters.u16(at + 2, static_cast<unsigned>(chapter.program));
        }
    }
    finish_table(chapters, static_cast<unsigned>(set.titles.size()));

    // Program chain table: search pointers, then the chains. A chain is
    // its title's entry when the title's first chapter names it.
    Table chains;
    chains.grow(TABLE_HEADER + PGC_SEARCH_ENTRY * set.program_chains.size());
    for (std::size_t p = 0; p < set.program_chains.size(); ++p) {
        unsigned entry = 0;
        for (std::size_t t = 0; t < set.titles.size(); ++t) {
            const auto& first = set.titles[t].chapters;
            if (!first.empty() && first.front().program_chain == static_cast<int>(p) + 1) {
                entry = ENTRY_PGC | static_cast<unsigned>(t + 1);
            }
        }
        const std::size_t at = TABLE_HEADER + PGC_SEARCH_ENTRY * p;
        chains.u8(at, entry);
        chains.u32(at + PGC_SEARCH_OFFSET, static_cast<std::uint32_t>(chains.bytes.size()));
        Bytes pgc = program_chain_bytes(set.program_chains[p]);
        fill_cell_units(set, pgc);
        chains.append(pgc);
    }
    finish_table(chains, static_cast<unsigned>(set.program_chains.size()));

    // Cell address table: every cell of every chain once, by its ids.
    std::map<std::pair<unsigned, unsigned>, std::pair<std::uint32_t, std::uint32_t>> cells;
    for (const auto& chain : set.program_chains) {
        for (const Cell& cell : chain.cells) {
            cells.emplace(std::make_pair(cell.vob_id, cell.cell_id),
                          std::make_pair(cell.first_sector, cell.last_sector));
        }
    }
    Table addresses;
    addresses.grow(TABLE_HEADER);
    unsigned vobs = 0;
    for (const auto& [ids, sectors] : cells) {
        const std::size_t at = addresses.bytes.size();
        addresses.u16(at, ids.first);
        addresses.u8(at + 2, ids.second);
        addresses.u32(at + 4, sectors.first);
        addresses.u32(at + 8, sectors.second);
        addresses.grow(at + CELL_ADDRESS_ENTRY);
        vobs = std::max(vobs, ids.first);
    }
    finish_table(addresses, vobs);

    // Unit address map: where every navigation pack lies.
    Table units;
    units.grow(4);
    for (const auto& place : lay_out(set)) {
        units.u32(units.bytes.size(), place.first);
    }
    units.u32(0, static_cast<std::uint32_t>(units.bytes.size() - 1));

    Table ifo{mat.bytes};
    const auto place_table = [&ifo](std::size_t field, Table& table) {
        ifo.u32(field, ifo.sectors());
        ifo.append(table.bytes);
        ifo.pad_to_sector();
    };
    place_table(VTS_CHAPTER_TABLE, chapters);
    place_table(VTS_PGC_TABLE, chains);
    place_table(VTS_CELL_ADDRESSES, addresses);
    place_table(VTS_VOBU_MAP, units);
    const std::uint32_t ifo_sectors = ifo.sectors();
    ifo.u32(VTSI_LAST_SECTOR, ifo_sectors - 1);
    ifo.u32(VTS_TITLE_VOBS, ifo_sectors);
    // The title set: IFO, title VOBs, BUP.
    ifo.u32(VTS_LAST_SECTOR, 2 * ifo_sectors + vob_sectors(set) - 1);
    return ifo.bytes;
}

Bytes video_manager_ifo(const Disc& disc) {
    Table mat;
    mat.text(0, VMG_IDENTIFIER);
    mat.u8(VMG_FORMAT_VERSION, FORMAT_VERSION);
    mat.u16(VMG_VOLUMES, 1);
    mat.u16(VMG_THIS_VOLUME, 1);
    mat.u8(VMG_DISC_SIDE, 1);
    mat.u16(VMG_TITLE_SETS, static_cast<unsigned>(disc.title_sets.size()));
    mat.text(VMG_PROVIDER, "packrift tests");
    // An empty first-play program chain where authoring tools put it.
    mat.u32(VMG_FIRST_PLAY_PGC, FIRST_PLAY_PGC_AT);
    mat.grow(FIRST_PLAY_PGC_AT + PGC_HEADER);
    mat.u32(VMGI_LAST_BYTE, static_cast<std::uint32_t>(FIRST_PLAY_PGC_AT + PGC_HEADER - 1));
    mat.pad_to_sector();

    // Title table; each title set's place on the disc follows the VMG.
    Table titles;
    titles.grow(TABLE_HEADER);
    // Where each title set begins, counted from the end of the VMG's
    // IFO and BUP (known only once the VMG is laid out).
    std::uint32_t set_sector = 0;
    std::vector<std::uint32_t> set_sectors;
    for (std::size_t s = 0; s < disc.title_sets.size(); ++s) {
        set_sectors.push_back(set_sector);
        const auto ifo_sectors =
            static_cast<std::uint32_t>(title_set_ifo(disc, s).size() / IFO_SECTOR);
        set_sector += 2 * ifo_sectors + vob_sectors(disc.title_sets[s]);
    }
    std::vector<std::uint32_t> title_set_of_entry;
    const auto order = disc_titles(disc);
    for (const auto& [s, t] : order) {
        const TitleSet& set = disc.title_sets.at(static_cast<std::size_t>(s - 1));
        const Title& title = set.titles.at(static_cast<std::size_t>(t - 1));
        const std::size_t at = titles.bytes.size();
        titles.u8(at + 1, static_cast<unsigned>(title.angles));
        titles.u16(at + 2, static_cast<unsigned>(title.chapters.size()));
        titles.u8(at + 6, static_cast<unsigned>(s));
        titles.u8(at + 7, static_cast<unsigned>(t));
        titles.grow(at + TITLE_ENTRY);
        title_set_of_entry.push_back(set_sectors[static_cast<std::size_t>(s - 1)]);
    }
    finish_table(titles, static_cast<unsigned>(order.size()));

    // Title set attribute table: offsets, then each set's attributes.
    Table attributes;
    attributes.grow(TABLE_HEADER + 4 * disc.title_sets.size());
    for (std::size_t s = 0; s < disc.title_sets.size(); ++s) {
        const std::size_t at = attributes.bytes.size();
        attributes.u32(TABLE_HEADER + 4 * s, static_cast<std::uint32_t>(at));
        Table copy;
        put_attributes(copy, disc.title_sets[s]);
        copy.grow(VTS_ATTRIBUTES + ATTRIBUTE_COPY);
        attributes.u32(at, static_cast<std::uint32_t>(8 + ATTRIBUTE_COPY - 1));
        attributes.grow(at + 8);
        attributes.bytes.insert(attributes.bytes.end(), copy.bytes.begin() + VTS_ATTRIBUTES,
                                copy.bytes.begin() + VTS_ATTRIBUTES + ATTRIBUTE_COPY);
    }
    finish_table(attributes, static_cast<unsigned>(disc.title_sets.size()));

    Table ifo{mat.bytes};
    const std::size_t titles_at = ifo.bytes.size();
    ifo.u32(VMG_TITLE_TABLE, ifo.sectors());
    ifo.append(titles.bytes);
    ifo.pad_to_sector();
    ifo.u32(VMG_ATTRIBUTE_TABLE, ifo.sectors());
    ifo.append(attributes.bytes);
    ifo.pad_to_sector();
    const std::uint32_t ifo_sectors = ifo.sectors();
    ifo.u32(VMGI_LAST_SECTOR, ifo_sectors - 1);
    ifo.u32(VMG_LAST_SECTOR, 2 * ifo_sectors - 1);  // IFO and BUP, no menu VOB
    for (std::size_t i = 0; i < title_set_of_entry.size(); ++i) {
        ifo.u32(titles_at + TABLE_HEADER + TITLE_ENTRY * i + TITLE_SET_SECTOR,
                2 * ifo_sectors + title_set_of_entry[i]);
    }
    return ifo.bytes;
}

std::vector<std::pair<int, int>> disc_titles(const Disc& disc) {
    if (!disc.title_order.empty()) {
        return disc.title_order;
    }
    std::vector<std::pair<int, int>> order;
    for (std::size_t s = 0; s < disc.title_sets.size(); ++s) {
        for (std::size_t t = 0; t < disc.title_sets[s].titles.size(); ++t) {
            order.emplace_back(static_cast<int>(s) + 1, static_cast<int>(t) + 1);
        }
    }
    return order;
}

IfoPlaces ifo_places(const Bytes& ifo) {
    IfoPlaces places;
    const auto table_at = [&ifo](std::size_t sector_field) {
        return read_be32(ifo, sector_field) * std::size_t{IFO_SECTOR};
    };
    const std::string_view vmg = VMG_IDENTIFIER;
    if (ifo.size() >= vmg.size() && std::equal(vmg.begin(), vmg.end(), ifo.begin())) {
        places.title_table = table_at(VMG_TITLE_TABLE);
        return places;
    }
    places.chapter_table = table_at(VTS_CHAPTER_TABLE);
    places.chain_table = table_at(VTS_PGC_TABLE);
    const std::size_t chains = std::size_t{ifo.at(places.chain_table)} << 8 | ifo.at(places.chain_table + 1);
    for (std::size_t p = 0; p < chains; ++p) {
        places.chains.push_back(places.chain_table +
                                read_be32(ifo, places.chain_table + TABLE_HEADER + PGC_SEARCH_ENTRY * p +
                                                   PGC_SEARCH_OFFSET));
    }
    return places;
}

void put_be16_at(Bytes& bytes, std::size_t at, unsigned value) {
    bytes.at(at) = static_cast<unsigned char>(value >> 8 & 0xFF);
    bytes.at(at + 1) = static_cast<unsigned char>(value & 0xFF);
}

void put_be32_at(Bytes& bytes, std::size_t at, std::uint32_t value) {
    put_be16_at(bytes, at, value >> 16);
    put_be16_at(bytes, at + 2, value & 0xFFFF);
}

void write_disc(const Disc& disc, const std::filesystem::path& video_ts) {
    std::filesystem::create_directories(video_ts);
    const Bytes vmg = video_manager_ifo(disc);
    write_file(video_ts / file_name(disc, "VIDEO_TS.BUP"), vmg);
    write_file(video_ts / file_name(disc, "VIDEO_TS.IFO"), vmg);
    for (std::size_t s = 0; s < disc.title_sets.size(); ++s) {
        const int number = static_cast<int>(s) + 1;
        const Bytes vts = title_set_ifo(disc, s);
        write_file(video_ts / file_name(disc, vts_name(number, 0, "BUP")), vts);
        write_file(video_ts / file_name(disc, vts_name(number, 0, "IFO")), vts);

        const TitleSet& set = disc.title_sets[s];
        const Bytes vobs = title_set_vobs(set);
        std::size_t from = 0;
        int part = 1;
        for (std::size_t f = 0; f <= set.vob_file_sectors.size(); ++f, ++part) {
            std::size_t size = vobs.size() - from;
            if (f < set.vob_file_sectors.size()) {
                size = std::min<std::size_t>(size, set.vob_file_sectors[f] * std::size_t{SECTOR});
            }
            const auto begin = vobs.begin() + static_cast<std::ptrdiff_t>(from);
            write_file(video_ts / file_name(disc, vts_name(number, part, "VOB")),
                       Bytes(begin, begin + static_cast<std::ptrdiff_t>(size)));
            from += size;
        }
    }
}

Bytes title_play_order(const Disc& disc, int title_number, int angle) {
    const auto [set_index, title_index] = find_title(disc, title_number);
    const TitleSet& set = disc.title_sets[set_index];
    const Bytes vobs = title_set_vobs(set);
    const auto places = lay_out(set);
    const auto sector = [&vobs](std::uint32_t index) {
        const auto begin = vobs.begin() + static_cast<std::ptrdiff_t>(index) * static_cast<std::ptrdiff_t>(SECTOR);
        return Bytes(begin, begin + static_cast<std::ptrdiff_t>(SECTOR));
    };
    // Chains in the order the chapters first name them, each whole.
    std::vector<int> order;
    for (const Chapter& chapter : set.titles[title_index].chapters) {
        if (std::find(order.begin(), order.end(), chapter.program_chain) == order.end()) {
            order.push_back(chapter.program_chain);
        }
    }
    Bytes out;
    for (int chain : order) {
        int angle_in_block = 0;
        for (const Cell& cell : set.program_chains.at(static_cast<std::size_t>(chain - 1)).cells) {
            if (cell.block_mode != BlockMode::none && cell.angle_block) {
                ++angle_in_block;
                if (cell.block_mode == BlockMode::first) {
                    angle_in_block = 1;
                }
                if (angle_in_block != angle) {
                    continue;
                }
            }
            for (std::size_t u = 0; u < places.size(); ++u) {
                const bool inside = places[u].first >= cell.first_sector && places[u].last <= cell.last_sector;
                const bool ours = !cell.interleaved || set.vobus[u].angle == angle;
                if (inside && ours) {
                    for (std::uint32_t s = places[u].first; s <= places[u].last; ++s) {
                        const Bytes one = sector(s);
                        out.insert(out.end(), one.begin(), one.end());
                    }
                }
            }
        }
    }
    return out;
}

Bytes tagged_payload(int angle, int stream, int index, std::size_t length) {
    char tag[64];
    std::snprintf(tag, sizeof tag, "angle %d stream %d pack %d ", angle, stream, index);
    Bytes out(tag, tag + std::char_traits<char>::length(tag));
    const Bytes rest = pattern(length > out.size() ? length - out.size() : 0,
                               static_cast<unsigned>(angle * 100000 + stream * 1000 + index));
    out.insert(out.end(), rest.begin(), rest.end());
    out.resize(length);
    return out;
}

}  // namespace packtest::disc

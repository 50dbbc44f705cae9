#pragma once
// Where the fields of the IFO files lie (the DVD-Video IFO layout: the VMGI
// of VIDEO_TS.IFO and the VTSI of VTS_nn_0.IFO). Offsets are in bytes from
// the start of the structure named; big-endian throughout. Tables are
// addressed by the sector of the IFO file at which they begin.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "io/byte_view.hpp"

namespace packrift::ifo {

inline constexpr std::size_t SECTOR_SIZE = 2048;

// The management table at the start of each file.
inline constexpr std::string_view VMG_IDENTIFIER = "DVDVIDEO-VMG";
inline constexpr std::string_view VTS_IDENTIFIER = "DVDVIDEO-VTS";
inline constexpr std::size_t VMG_TITLE_SET_COUNT = 62;       // 16 bits
// Title sets are numbered VTS_01 to VTS_99 in their files' names.
inline constexpr int MOST_TITLE_SETS = 99;
inline constexpr std::size_t VMG_TITLE_TABLE_SECTOR = 196;   // TT_SRPT, 32 bits
inline constexpr std::size_t VTS_CHAPTER_TABLE_SECTOR = 200; // VTS_PTT_SRPT, 32 bits
inline constexpr std::size_t VTS_PROGRAM_CHAIN_TABLE_SECTOR = 204;  // VTS_PGCIT, 32 bits
inline constexpr std::size_t VTS_VIDEO_ATTRIBUTES = 512;     // 2 bytes
inline constexpr std::size_t VTS_AUDIO_COUNT = 515;          // 8 bits
inline constexpr std::size_t VTS_AUDIO_ATTRIBUTES = 516;     // 8 entries of 8 bytes
inline constexpr std::size_t AUDIO_ATTRIBUTES_SIZE = 8;
inline constexpr std::size_t VTS_SUBPICTURE_COUNT = 597;     // 8 bits
inline constexpr std::size_t VTS_SUBPICTURE_ATTRIBUTES = 598;  // 32 entries of 6 bytes
inline constexpr std::size_t SUBPICTURE_ATTRIBUTES_SIZE = 6;
// The VTSI management table up to the end of the subpicture attributes.
inline constexpr std::size_t VTS_MANAGEMENT_SIZE = VTS_SUBPICTURE_ATTRIBUTES + 32 * SUBPICTURE_ATTRIBUTES_SIZE;
inline constexpr std::size_t VMG_MANAGEMENT_SIZE = VMG_TITLE_TABLE_SECTOR + 4;

// Every table begins with its entry count (16 bits) and the offset of its
// last byte (32 bits at 4); its entries follow the 8-byte header.
inline constexpr std::size_t TABLE_COUNT = 0;
inline constexpr std::size_t TABLE_LAST_BYTE = 4;
inline constexpr std::size_t TABLE_HEADER_SIZE = 8;

// A title table entry (TT_SRPT).
inline constexpr std::size_t TITLE_ENTRY_SIZE = 12;
inline constexpr std::size_t TITLE_ANGLES = 1;        // 8 bits
inline constexpr std::size_t TITLE_CHAPTERS = 2;      // 16 bits
inline constexpr std::size_t TITLE_SET_NUMBER = 6;    // 8 bits
inline constexpr std::size_t TITLE_NUMBER_IN_SET = 7; // 8 bits

// The chapter table (VTS_PTT_SRPT): after the header, a 32-bit offset per
// title to its chapters, each a program chain and a program, 16 bits each.
inline constexpr std::size_t TITLE_OFFSET_SIZE = 4;
inline constexpr std::size_t CHAPTER_ENTRY_SIZE = 4;
inline constexpr std::size_t CHAPTER_PROGRAM_CHAIN = 0;
inline constexpr std::size_t CHAPTER_PROGRAM = 2;

// The program chain table (VTS_PGCIT): after the header, an 8-byte search
// pointer per chain holding the chain's offset in the table (32 bits at 4).
inline constexpr std::size_t CHAIN_POINTER_SIZE = 8;
inline constexpr std::size_t CHAIN_POINTER_OFFSET = 4;

// A program chain (PGC): its fixed part, then the tables its offsets name,
// each offset from the chain's start.
inline constexpr std::size_t CHAIN_FIXED_SIZE = 236;
inline constexpr std::size_t CHAIN_PROGRAM_COUNT = 2;   // 8 bits
inline constexpr std::size_t CHAIN_CELL_COUNT = 3;      // 8 bits
inline constexpr std::size_t CHAIN_PLAYBACK_TIME = 4;   // 4 bytes
inline constexpr std::size_t CHAIN_AUDIO_CONTROL = 12;  // 8 entries of 16 bits
inline constexpr std::size_t CHAIN_SUBPICTURE_CONTROL = 28;  // 32 entries of 32 bits
inline constexpr std::size_t CHAIN_PALETTE = 164;  // 16 entries of 0, Y, Cr, Cb
inline constexpr std::size_t PALETTE_ENTRY_SIZE = 4;
inline constexpr std::size_t CHAIN_PROGRAM_MAP_OFFSET = 230;    // 16 bits
inline constexpr std::size_t CHAIN_CELL_PLAYBACK_OFFSET = 232;  // 16 bits
inline constexpr std::size_t CHAIN_CELL_POSITION_OFFSET = 234;  // 16 bits
inline constexpr std::size_t PROGRAM_MAP_ENTRY_SIZE = 1;

// A cell playback entry: block mode (bits 7-6) and type (bits 5-4), the
// interleaved flag (bit 2) and the STC discontinuity flag (bit 1) in its
// first byte, then the cell's time and sectors.
inline constexpr std::size_t CELL_PLAYBACK_SIZE = 24;
inline constexpr std::size_t CELL_FLAGS = 0;
inline constexpr unsigned CELL_BLOCK_MODE_SHIFT = 6;
inline constexpr unsigned CELL_BLOCK_TYPE_SHIFT = 4;
inline constexpr unsigned CELL_BLOCK_FIELD_MASK = 0x3;
inline constexpr unsigned CELL_BLOCK_TYPE_ANGLE = 1;
inline constexpr unsigned CELL_INTERLEAVED_BIT = 0x04;
inline constexpr unsigned CELL_STC_DISCONTINUITY_BIT = 0x02;
inline constexpr std::size_t CELL_PLAYBACK_TIME = 4;
inline constexpr std::size_t CELL_FIRST_SECTOR = 8;
inline constexpr std::size_t CELL_LAST_SECTOR = 20;

// A cell position entry: the VOB id (16 bits) and the cell id (8 bits at 3).
inline constexpr std::size_t CELL_POSITION_SIZE = 4;
inline constexpr std::size_t CELL_POSITION_VOB_ID = 0;
inline constexpr std::size_t CELL_POSITION_CELL_ID = 3;

}  // namespace packrift::ifo

namespace packrift::ifo {

// Whether the file starts with identifier.
inline bool has_identifier(ByteView& file, std::string_view identifier) {
    for (std::size_t i = 0; i < identifier.size(); ++i) {
        if (read_u8(file, i) != static_cast<unsigned char>(identifier[i])) {
            return false;
        }
    }
    return true;
}

// The table that begins at sector of file and ends at its last byte, or
// nothing (problem says why) when it does not lie inside the file.
inline std::optional<ByteView> table_at(ByteView& file, std::uint32_t sector, const std::string& table,
                                        std::string& problem) {
    const std::uint64_t start = std::uint64_t{sector} * SECTOR_SIZE;
    if (sector == 0 || start + TABLE_HEADER_SIZE > file.size) {
        problem = sector == 0 ? "no " + table : table + " past the end of the file";
        return std::nullopt;
    }
    ByteView header = sub_view(file, static_cast<std::size_t>(start), TABLE_HEADER_SIZE);
    const std::uint64_t size = std::uint64_t{read_be32(header, TABLE_LAST_BYTE)} + 1;
    if (size < TABLE_HEADER_SIZE || start + size > file.size) {
        problem = table + (size < TABLE_HEADER_SIZE ? " shorter than its header" : " runs past the end of the file");
        return std::nullopt;
    }
    return sub_view(file, static_cast<std::size_t>(start), static_cast<std::size_t>(size));
}

}  // namespace packrift::ifo

#pragma once
// Writes small IFO files from a plain description, laid out as the
// DVD-Video IFO layout places them: the management table in sector 0, then
// one table per sector (the title table, or the chapter table and the
// program chain table). Tests craft sound files with it and then damage
// them at the offsets below.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/pack_builder.hpp"

namespace packtest {

inline constexpr std::size_t IFO_SECTOR = 2048;
// Where the crafted files put their tables.
inline constexpr std::size_t CRAFTED_TITLE_TABLE = IFO_SECTOR;  // in VIDEO_TS.IFO
inline constexpr std::size_t CRAFTED_CHAPTER_TABLE = IFO_SECTOR;  // in VTS_nn_0.IFO
inline constexpr std::size_t CRAFTED_CHAIN_TABLE = 2 * IFO_SECTOR;
inline constexpr std::size_t CHAIN_TABLE_HEADER = 8;
inline constexpr std::size_t CHAIN_POINTER = 8;
inline constexpr std::size_t CHAIN_FIXED = 236;  // a program chain before its own tables

// Hours, minutes, seconds and frames in BCD, the rate in the frame byte's
// high bits (25 or 30 for 29.97).
Bytes playback_time(int hours, int minutes, int seconds, int frames, int rate);

struct CraftedCell {
    std::uint32_t first_sector = 0;
    std::uint32_t last_sector = 0;
    Bytes time = playback_time(0, 0, 1, 0, 25);
    int block_mode = 0;  // 1 first, 2 in the block, 3 last
    bool angle_block = false;
    bool interleaved = false;
};

struct CraftedChain {
    Bytes time = playback_time(0, 0, 1, 0, 25);
    std::vector<int> program_entry_cells = {1};
    std::vector<CraftedCell> cells = {CraftedCell{}};
    std::vector<std::uint16_t> audio_control;        // per track
    std::vector<std::uint32_t> subpicture_control;   // per track
};

struct CraftedTitleSet {
    Bytes video = {0x4C, 0x00};  // MPEG-2, PAL, 16:9, 720 wide
    std::vector<Bytes> audio;        // 8 bytes each
    std::vector<Bytes> subpictures;  // 6 bytes each
    // Per title, its chapters as (program chain, program).
    std::vector<std::vector<std::pair<int, int>>> titles = {{{1, 1}}};
    std::vector<CraftedChain> chains = {CraftedChain{}};
};

struct CraftedTitle {
    int title_set = 1;
    int title_in_set = 1;
    int chapters = 1;
    int angles = 1;
};

// Audio attributes: coding (0 AC-3, 2 MPEG-1, 4 LPCM, 6 DTS), channels,
// quantization code, frequency code and a language ("" for none).
Bytes audio_attributes(int coding, int channels, int quantization, int frequency, const std::string& language);
Bytes subpicture_attributes(const std::string& language);

Bytes video_manager_ifo(int title_sets, const std::vector<CraftedTitle>& titles);
Bytes title_set_ifo(const CraftedTitleSet& set);

// Where program chain index's fixed part begins in a file title_set_ifo made.
std::size_t crafted_chain_offset(const CraftedTitleSet& set, std::size_t index);

void put_be16_at(Bytes& bytes, std::size_t offset, std::uint32_t value);
void put_be32_at(Bytes& bytes, std::size_t offset, std::uint32_t value);

}  // namespace packtest

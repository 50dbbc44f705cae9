#pragma once
// What packrift reads of a disc's IFO files, as plain records: from
// VIDEO_TS.IFO the title table, from each VTS_nn_0.IFO the chapter table,
// the program chains and the stream attributes of its title set. The
// parsers take the bytes of a whole file and check every offset, count and
// table end against it; a file that is not sound gives a short reason.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "disc/playback_time.hpp"
#include "io/byte_view.hpp"

namespace packrift {

// A title of the disc, as VIDEO_TS.IFO's title table lists it.
struct DiscTitle {
    int title_set = 0;     // the VTS_nn of its files
    int title_in_set = 0;  // its number in the title set's chapter table
    int chapters = 0;
    int angles = 0;
};

struct VideoManager {
    int title_sets = 0;
    std::vector<DiscTitle> titles;  // in the order of the title table
};

struct VideoAttributes {
    int mpeg_version = 0;  // 1 or 2; 0 for a value of no meaning
    bool pal = false;      // otherwise NTSC
    bool wide = false;     // 16:9; otherwise 4:3
    int width = 0;
    int height = 0;
};

enum class AudioCoding : std::uint8_t { ac3, mpeg1, mpeg2, lpcm, sdds, dts, unknown };

struct AudioAttributes {
    AudioCoding coding = AudioCoding::unknown;
    int channels = 0;
    int sample_rate = 0;    // 48000 or 96000; 0 for a value of no meaning
    int lpcm_bits = 0;      // 16, 20 or 24 for LPCM; 0 otherwise
    std::string language;   // two letters, or empty when the attributes give none
};

struct SubpictureAttributes {
    std::string language;   // two letters, or empty
};

// How a cell belongs to a block of cells: an angle block holds one cell per
// angle, marked first, in the block and last.
enum class BlockMode : std::uint8_t { not_in_block, first, middle, last };

struct Cell {
    BlockMode block_mode = BlockMode::not_in_block;
    bool angle_block = false;  // the block's type is an angle block
    bool interleaved = false;  // its sectors hold interleaved units of every angle
    // The system clock restarts at the cell: its timestamps need not follow
    // on from those of the cell played before it.
    bool stc_discontinuity = false;
    PlaybackTime playback_time;
    std::uint32_t first_sector = 0;  // in the title set's VOB address space
    std::uint32_t last_sector = 0;
    int vob_id = 0;   // from the cell position table
    int cell_id = 0;
};

inline constexpr std::size_t AUDIO_STREAMS = 8;
inline constexpr std::size_t SUBPICTURE_STREAMS = 32;
// The colours a chain's subpictures may use, each as 0, Y, Cr, Cb in the
// low three bytes of a 32-bit entry.
inline constexpr std::size_t PALETTE_ENTRIES = 16;
using Palette = std::array<std::uint32_t, PALETTE_ENTRIES>;

struct ProgramChain {
    PlaybackTime playback_time;
    std::vector<int> program_entry_cells;  // per program, its first cell (1-based)
    std::vector<Cell> cells;
    // Per audio track of the title set: whether this chain plays it, and the
    // stream number the decoder reads for it.
    std::array<std::uint16_t, AUDIO_STREAMS> audio_control{};
    // Per subpicture track: whether it is shown, and its stream numbers for a
    // 4:3 picture, a 16:9 one, letterbox and pan-scan.
    std::array<std::uint32_t, SUBPICTURE_STREAMS> subpicture_control{};
    Palette palette{};
};

// A chapter of a title: the program of a program chain at which it starts.
struct Chapter {
    int program_chain = 0;  // 1-based
    int program = 0;        // 1-based
};

struct TitleSetInfo {
    VideoAttributes video;
    std::vector<AudioAttributes> audio;
    std::vector<SubpictureAttributes> subpictures;
    std::vector<std::vector<Chapter>> titles;  // per title of the set, its chapters
    std::vector<ProgramChain> program_chains;
};

// A parse's record, or what is not sound about the file (problem not empty).
template <typename Record>
struct Parsed {
    Record record;
    std::string problem;
};

Parsed<VideoManager> parse_video_manager(ByteView file);
Parsed<TitleSetInfo> parse_title_set(ByteView file);

// The stream controls' fields, as the listing and the title reader read them.
bool audio_present(std::uint16_t control);
int audio_stream_number(std::uint16_t control);
bool subpicture_present(std::uint32_t control);
int subpicture_stream_number(std::uint32_t control, bool wide);

}  // namespace packrift

#pragma once
// Writes a whole DVD-Video folder from a plain description, for tests that
// must run everywhere and for disc shapes that authoring tools do not make:
// VIDEO_TS.IFO (the title table), VTS_nn_0.IFO (attributes, chapters,
// program chains, cell tables), their .BUP copies, and the title sets' VOB
// files made of navigation packs and content packs.
//
// Sector addresses in cells are relative to the start of the title set's
// VOB files (VTS_nn_1.VOB sector 0), taken as one run across the files.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/pack_builder.hpp"

namespace packtest::disc {

// A playback time as the IFO tables hold it: whole seconds and a frame
// count at 25 or 30 (29.97) frames a second.
struct PlayTime {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
    bool ntsc = false;  // 29.97 frames a second, else 25
};

PlayTime add(const PlayTime& a, const PlayTime& b);

// One video object unit: a navigation pack, then the given content packs
// (whole sectors, from pack_builder). In an interleaved angle block each
// unit belongs to one angle (1 ...); angle 0 is outside any angle block.
// Its PCI's start and end times (VOBU_S_PTM, VOBU_E_PTM, 90 kHz) stay zero
// unless a test gives them.
struct Vobu {
    std::vector<Bytes> packs;
    int angle = 0;
    std::uint16_t vob_id = 1;
    std::uint8_t cell_id = 1;
    std::uint32_t start_ptm = 0;
    std::uint32_t end_ptm = 0;
};

enum class BlockMode { none, first, middle, last };

struct Cell {
    std::uint32_t first_sector = 0;
    std::uint32_t last_sector = 0;
    PlayTime time;
    BlockMode block_mode = BlockMode::none;
    bool angle_block = false;  // block type: an angle block
    bool interleaved = false;
    std::uint16_t vob_id = 1;
    std::uint8_t cell_id = 1;
    bool stc_discontinuity = false;  // the clock restarts at the cell
};

// A program chain: its cells in play order and the first cell of each
// program (1-based). Its playback time is the sum of its cells' times,
// angle blocks counted once.
struct ProgramChain {
    std::vector<Cell> cells;
    std::vector<int> program_first_cells = {1};
    // Stream control: for each audio track the substream number the player
    // reads (-1: not available); for each subpicture track the stream number
    // for 4:3, 16:9, letterbox and pan-scan.
    std::vector<int> audio_streams;
    struct SubpictureStreams {
        int four_by_three = 0;
        int wide = 0;
        int letterbox = 0;
        int pan_scan = 0;
    };
    std::vector<SubpictureStreams> subpicture_streams;
    // The subpicture colours, each 0, Y, Cr, Cb.
    std::array<std::uint32_t, 16> palette{};
};

// A chapter: a program of a program chain (both 1-based).
struct Chapter {
    int program_chain = 1;
    int program = 1;
};

struct Title {
    std::vector<Chapter> chapters;
    int angles = 1;
};

enum class AudioCoding { ac3, mpeg1, mpeg2, lpcm, dts };

struct AudioTrack {
    AudioCoding coding = AudioCoding::ac3;
    int channels = 2;
    int sample_rate = 48000;  // 48000 or 96000
    int bits = 16;            // LPCM: 16, 20 or 24
    std::string language;     // two letters, or empty for none
};

// A part of a title (a VOB) whose units carry content a decoder could time,
// as support/timed_units.hpp makes it.
struct TimedPart {
    int units = 2;
    int audio_frames = 30;
    // The first audio frame's PTS less the first picture's, in 90 kHz ticks.
    std::int64_t audio_offset = 0;
    // A subpicture unit at this many ticks after the first picture, in the
    // part's first unit; none when negative.
    std::int64_t subpicture_at = -1;
};

// Parts of a title and the coding of their audio (AC-3 or DTS). No parts:
// the units' payloads are tagged_payload()'s, as they always were.
struct TimedContent {
    std::vector<TimedPart> parts;
    AudioCoding coding = AudioCoding::ac3;
};

struct SubpictureTrack {
    std::string language;
};

struct Video {
    bool pal = true;
    bool wide = false;     // 16:9, else 4:3
    int picture_size = 0;  // 0 720 wide, 1 704, 2 352, 3 352 at half height
};

struct TitleSet {
    Video video;
    std::vector<AudioTrack> audio;
    std::vector<SubpictureTrack> subpictures;
    std::vector<ProgramChain> program_chains;
    std::vector<Title> titles;  // this set's titles, in the disc's title order
    std::vector<Vobu> vobus;    // the VOB files' contents, in the order they lie
    // The VOB files' sizes in sectors, VTS_nn_1.VOB first; the last file
    // takes whatever is left. Empty: one file.
    std::vector<std::uint32_t> vob_file_sectors;
};

struct Disc {
    std::vector<TitleSet> title_sets;
    // The disc's titles in its title table, as (title set, title in the
    // set), both 1-based. Empty: every set's titles, set by set.
    std::vector<std::pair<int, int>> title_order;
    bool lower_case_names = false;
};

// Where each unit of a title set lies: its navigation pack's sector and its
// last sector.
struct VobuPlace {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
};
std::vector<VobuPlace> lay_out(const TitleSet& title_set);

// A cell of the units first_vobu to last_vobu (0-based, inclusive).
Cell cell_of_vobus(const TitleSet& title_set, std::size_t first_vobu, std::size_t last_vobu,
                   const PlayTime& time);
// The cell of one angle in the interleaved run of units that starts at
// first_vobu: from that angle's first unit to the end of its last.
Cell angle_cell(const TitleSet& title_set, std::size_t first_vobu, int angle, const PlayTime& time);

// The disc's titles in its order, as Disc::title_order says.
std::vector<std::pair<int, int>> disc_titles(const Disc& disc);

// The bytes of the files, before damage.
Bytes video_manager_ifo(const Disc& disc);
Bytes title_set_ifo(const Disc& disc, std::size_t title_set_index);
Bytes title_set_vobs(const TitleSet& title_set);  // all VOB files joined
Bytes navigation_pack(const TitleSet& title_set, std::size_t vobu_index);

// Where an IFO file made above holds its tables (byte offsets, read back
// from the file's own fields), and a big-endian writer into bytes already
// there: for tests that spoil single fields.
struct IfoPlaces {
    std::size_t title_table = 0;      // VIDEO_TS.IFO
    std::size_t chapter_table = 0;    // VTS_nn_0.IFO
    std::size_t chain_table = 0;
    std::vector<std::size_t> chains;  // each program chain's fixed part
};
IfoPlaces ifo_places(const Bytes& ifo);
void put_be16_at(Bytes& bytes, std::size_t at, unsigned value);
void put_be32_at(Bytes& bytes, std::size_t at, std::uint32_t value);

// Writes the folder (created when missing) with every file, damage applied
// to the .IFO files only.
void write_disc(const Disc& disc, const std::filesystem::path& video_ts);

// The sectors that title_number (1-based, in the disc's title order) plays
// for the given angle, in play order, navigation packs included, as the
// description says (not as read back from the IFO files): the reference a
// title read must match.
Bytes title_play_order(const Disc& disc, int title_number, int angle = 1);

// Tagged payloads: the text "angle A stream S pack N " then a pattern, so
// that an output shows which packs it holds. Angle 0 for packs outside any
// angle block.
Bytes tagged_payload(int angle, int stream, int index, std::size_t length);

// Ready shapes for the title tests. Each title set has video and AC-3
// substream 0x80 (and 0x81 where said) in every unit.
Disc cells_out_of_order();  // title 1 plays cells 3, 1, 2 of where they lie
Disc two_titles_one_set();  // titles 1 and 2 share a title set's address space
Disc title_across_files();  // title 1 lies across VTS_01_1.VOB and VTS_01_2.VOB
Disc multi_angle(int angles);  // title 1: a cell, an interleaved angle block, a cell
Disc cell_past_end();       // title 1's last cell lies past the end of the VOB files
// Title 1 plays VOBs 1, 2 and 3, a chapter each, as a disc authored one VOB
// per chapter lies: each VOB's VOBU times start anew at 0.1 s and its first
// cell has the STC discontinuity flag; VOB 2 holds two cells, whose times
// run on. Units of 0.48 s. With timed content (three parts of two units),
// the units carry it, subpicture track 0x20 with them, and each cell's
// playback time runs to where its part's audio ends, as dvdauthor sets it.
Disc vob_per_chapter(const TimedContent& timed = {});
// One VOB of three units of timed content in the coding (AC-3, DTS or
// MPEG-1), a cell each, whose audio frames run on across the cells: title
// 1 plays the three, title 2 begins at the second (inside a frame), title
// 3 plays the first alone (ending inside one) and title 4 plays 3, 1, 2.
Disc titles_inside_a_vob(AudioCoding coding);
// two_titles_one_set() and two titles that play title 1's cells: title 3 a
// chapter list of its own over title 1's program chain, title 5 title 1
// listed again. Playing times 2, 3, 2, 1.5 and 2 seconds.
Disc repeated_titles();

}  // namespace packtest::disc

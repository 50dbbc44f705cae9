#pragma once
// Delivers the input one whole sector at a time out of large batched reads:
// a file from its start to its end, or a title's runs of sectors across the
// VOB files of its title set. Sectors that cannot be read are passed over
// and counted, where the input can seek past them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "demux/demux_common.hpp"
#include "io/css_disc.hpp"

namespace packrift {

inline constexpr std::size_t READ_BATCH_SECTORS = 1000;

// One of the files whose sectors, one after the other, make the address
// space that runs are given in; or on a disc image one extent of a VOB
// file: sectors of the image from start on, which messages name as the VOB
// file's, counted from its sector first_of_file.
struct SourceFile {
    NamedFile* file = nullptr;
    std::uint64_t sectors = 0;  // whole sectors it holds
    std::uint64_t start = 0;    // where they begin in file
    std::string name;           // in messages, when not file's own name
    std::uint64_t first_of_file = 0;
    // A title set's VOB sectors on a CSS disc: read through libdvdcss, the
    // same sectors as file's (which is kept for what it is and is named),
    // descrambled.
    CssDisc* css = nullptr;
};

// Sectors first to last (inclusive) of the files' joint address space. An
// interleaved run holds units of several angles: only the unit at first and
// those its navigation packs lead to are read.
struct SectorRun {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool interleaved = false;
};

// Reads file from where it stands to its end: the plain input.
void read_whole_file(NamedFile& file);

// Reads runs, in order, from files.
void read_runs(const std::vector<SourceFile>& files, const std::vector<SectorRun>& runs);

// The batch is read into the block past a lead of two pages, where the
// video's payloads are gathered as they are trimmed: the carry of the batch
// before (under a page) and the first payload of this one fit there, so the
// payloads gathered never reach the sector being read from.
inline constexpr std::size_t BLOCK_LEAD = 2 * BLOCK_ALIGNMENT;

// Called before the block is read into, with the block, and before it is
// released, with null: what was gathered in it from the sectors handed out
// is written then. The pack loop sets it for its run; null for none.
void call_before_batch_ends(void (*hook)(unsigned char* block));

// What the first sectors of each run (a cell's first packs) hold: a pack
// scrambled by CSS, or else sectors that could not be read (a drive refuses
// scrambled sectors to a host it has not authenticated). Looked at before
// the pass, so that no output is begun with scrambled bytes.
enum class ProbedPacks : std::uint8_t { clear, scrambled, refused };
ProbedPacks probe_runs_for_scrambling(const std::vector<SourceFile>& files, const std::vector<SectorRun>& runs);

// The next whole sector (SECTOR_SIZE bytes), where it lies in the batch
// block: valid until the next call. Null once the input is exhausted, has
// failed, is interrupted or its block could not be allocated.
const unsigned char* next_sector();

// The sectors of one file that could not be read and were passed over.
struct UnreadSectors {
    const NamedFile* file = nullptr;
    std::string name;  // the file's, or the VOB file's inside an image
    std::uint64_t count = 0;
    std::uint64_t first = 0;  // the index in its file of the first one
};

// What was passed over, per file, in the order of the first failure.
const std::vector<UnreadSectors>& unread_sectors();

// The interleaved units, per file, whose navigation pack could not be read or
// did not say where the unit ends: the rest of each one's cell was read in
// order, so that other angles' packs may be among it. first is where the
// first such unit begins in its file.
const std::vector<UnreadSectors>& units_read_in_order();

// The index in the runs given to read_runs of the run that the sectors
// handed out last belong to: a batch never reaches past its run.
std::size_t run_being_read();

// How many sectors have been passed over so far, unread.
std::uint64_t sectors_passed_over();

// Whether the run was stopped by an interruption before the input's end.
bool source_interrupted();

}  // namespace packrift

#include "demux/sector_source.hpp"

#include <algorithm>
#include <cerrno>
#include <limits>

#include "demux/pack_loop.hpp"
#include "disc/nav_pack.hpp"
#include "io/platform.hpp"

namespace packrift {

namespace {

// Room for one sector more than a batch fills, after the lead.
constexpr std::size_t BATCH_SIZE = (READ_BATCH_SECTORS + 1) * SECTOR_SIZE;
constexpr std::size_t BLOCK_SIZE = BLOCK_LEAD + BATCH_SIZE;
constexpr std::uint64_t ENDLESS = std::numeric_limits<std::uint64_t>::max();
// Damage comes in runs, and each failed read on a drive can take seconds:
// the tries after a failed sector lie 1, 2, 4 ... sectors further on, up to this.
constexpr std::uint64_t LONGEST_STEP = 1024;
constexpr std::size_t NO_FILE = std::numeric_limits<std::size_t>::max();
constexpr std::uint64_t NO_UNIT = std::numeric_limits<std::uint64_t>::max();

struct Source {
    unsigned char* block = nullptr;
    std::size_t fill = 0;
    std::size_t position = 0;

    std::vector<SourceFile> files;
    std::vector<SectorRun> runs;
    std::size_t run = 0;
    std::uint64_t address = 0;    // the next sector to read
    // The unit being read: the run itself, or in an interleaved run one
    // angle's unit, which its navigation pack bounds and leads on from.
    std::uint64_t unit_last = 0;
    std::uint64_t next_unit = 0;  // the angle's next unit, or NO_UNIT
    bool at_unit_start = false;   // the next sector read is a unit's navigation pack
    std::size_t stream_file = NO_FILE;  // where the files' streams stand, to spare a seek
    std::uint64_t stream_sector = 0;

    bool whole_file = false;  // a plain input, read to its end, whose size may be unknown
    bool one_at_a_time = false;  // after a failed batch, until past it and reading again
    std::uint64_t retry_end = 0;
    std::uint64_t step = 1;
    bool ended = false;
    bool interrupted = false;
};

Source source;

// Where the sectors are read to, past the block's lead; only while there is a block.
unsigned char* batch_start() {
    return source.block + BLOCK_LEAD;
}
std::vector<UnreadSectors> unread;
std::vector<UnreadSectors> unled;
void (*before_batch_ends)(unsigned char* block) = nullptr;

// Lets what was gathered in the block from the batch's sectors be written
// while it is there: before a read into the block, and before its release.
void end_batch(unsigned char* block) {
    if (before_batch_ends != nullptr) {
        before_batch_ends(block);
    }
}

void release_block_only() {
    end_batch(nullptr);
    release_block(source.block);
    source.block = nullptr;
    source.fill = 0;
    source.position = 0;
}

// The file that address lies in, and the sector within it.
struct Place {
    std::size_t file = NO_FILE;
    std::uint64_t sector = 0;
    std::uint64_t left = 0;  // sectors of the file from there on
};

Place place_of(std::uint64_t address) {
    for (std::size_t i = 0; i < source.files.size(); ++i) {
        const std::uint64_t sectors = source.files[i].sectors;
        if (address < sectors) {
            return {i, address, sectors - address};
        }
        address -= sectors;
    }
    return {};
}

// Adds count at sector of file to the file's entry in tally: the VOB
// file's, for an extent of one inside an image.
void add_to(std::vector<UnreadSectors>& tally, std::size_t file, std::uint64_t sector, std::uint64_t count) {
    const SourceFile& source_file = source.files[file];
    const std::string& name = source_file.name.empty() ? source_file.file->name : source_file.name;
    sector += source_file.first_of_file;
    for (UnreadSectors& entry : tally) {
        if (entry.file == source_file.file && entry.name == name) {
            entry.count += count;
            entry.first = std::min(entry.first, sector);
            return;
        }
    }
    tally.push_back({source_file.file, name, count, sector});
}

// Counts count sectors from address into tally, file by file.
void count_sectors(std::vector<UnreadSectors>& tally, std::uint64_t address, std::uint64_t count) {
    while (count > 0) {
        const Place place = place_of(address);
        if (place.file == NO_FILE) {
            return;
        }
        const std::uint64_t here = std::min(count, place.left);
        add_to(tally, place.file, place.sector, here);
        address += here;
        count -= here;
    }
}

const SectorRun& current_run() {
    return source.runs[source.run];
}

// A unit begins at address: damage steps start afresh there. An interleaved
// run's units are bounded by their navigation packs once read.
void begin_unit(std::uint64_t address) {
    source.address = address;
    source.unit_last = current_run().last;
    source.next_unit = NO_UNIT;
    source.at_unit_start = current_run().interleaved;
    source.one_at_a_time = false;
    source.step = 1;
}

// Moves on to the angle's next unit, or the next run, once the current one
// is read; false at the end.
bool find_sectors_to_read() {
    while (source.run < source.runs.size() && source.address > source.unit_last) {
        if (source.next_unit != NO_UNIT) {
            begin_unit(source.next_unit);
            continue;
        }
        if (++source.run < source.runs.size()) {
            begin_unit(current_run().first);
        }
    }
    return source.run < source.runs.size();
}

// The unit's navigation pack, just read at address - 1, says where the unit
// ends and where the angle goes on. Without one (or with a unit that ends
// at its navigation pack) the rest of the cell is read in order: nothing of
// it is lost, though angles may mix, and that is counted to be told.
void bound_unit(const unsigned char* nav_pack) {
    source.at_unit_start = false;
    const std::uint64_t start = source.address - 1;
    const DsiReading dsi = read_dsi(nav_pack, SECTOR_SIZE);
    if (dsi.status != NavPackReading::dsi_found || dsi.unit.unit_end == 0) {
        count_sectors(unled, start, 1);  // a unit whose navigation pack cannot lead on: read on in order
        return;
    }
    source.unit_last = std::min(start + dsi.unit.unit_end, current_run().last);
    const std::uint64_t next = start + dsi.unit.next_unit_start;
    if (!dsi.unit.last_unit && next > source.unit_last && next <= current_run().last) {
        source.next_unit = next;
    }
}

bool place_stream(const Place& place) {
    if (place.file == source.stream_file && place.sector == source.stream_sector) {
        return true;
    }
    source.stream_file = place.file;
    source.stream_sector = place.sector;
    const SourceFile& file = source.files[place.file];
    // libdvdcss is placed by each read itself.
    return file.css != nullptr || seek_file(*file.file, (file.start + place.sector) * SECTOR_SIZE);
}

// The one read of the pass: from the file, or through libdvdcss.
ReadOutcome read_sectors(const Place& place, std::size_t asked) {
    const SourceFile& file = source.files[place.file];
    if (file.css != nullptr) {
        return read_css_sectors(*file.css, file.start + place.sector, asked, true, batch_start());
    }
    return read_items(*file.file, batch_start(), SECTOR_SIZE, asked);
}

// A sector that failed: it and the sectors the step jumps over are not read.
void pass_over_failed_sector() {
    if (source.at_unit_start) {
        count_sectors(unled, source.address, 1);  // its navigation pack is lost: read on in order
        source.at_unit_start = false;
    }
    const std::uint64_t room = source.unit_last - source.address + 1;
    const std::uint64_t jumped = std::min(source.step, room);
    count_sectors(unread, source.address, jumped);
    source.address += jumped;
    source.step = std::min(source.step * 2, LONGEST_STEP);
    source.stream_file = NO_FILE;
}

// Whether the sectors after a failed one can be reached: a regular file,
// whose size (a plain input's own, which /proc files give as 0) lies past it.
bool can_pass_over(const SourceFile& source_file) {
    const NamedFile& file = *source_file.file;
    // An image's extents, checked to lie inside it; through libdvdcss (a
    // Windows drive has no stream) each read is placed by its own seek.
    if (source_file.css != nullptr || (!source.whole_file && image_size(file).has_value())) {
        return true;
    }
    const std::optional<std::uint64_t> size = regular_file_size(file);
    return size.has_value() && (!source.whole_file || *size / SECTOR_SIZE > source.address);
}

// Takes on what a read gave.
void take_read(const Place& place, std::size_t asked, const ReadOutcome& outcome) {
    NamedFile& file = *source.files[place.file].file;
    source.fill = outcome.items * SECTOR_SIZE;
    source.address += outcome.items;
    source.stream_sector += outcome.items;
    if ((outcome.error != 0 || outcome.items < asked) && stop_requested()) {
        // The read the stop cut short, or on Windows, where a console event
        // does not cut a waiting read short, the end of the input it waited
        // for: its whole sectors are still split.
        source.interrupted = true;
        source.ended = true;
        return;
    }
    if (outcome.error == 0) {
        if (outcome.items < asked) {
            // The file ends before the sectors it was taken to hold: what it
            // lacks cannot be read either.
            if (source.whole_file) {
                source.ended = true;
            } else {
                count_sectors(unread, source.address, place.left - outcome.items);
                source.address += place.left - outcome.items;
            }
        }
        if (source.one_at_a_time && outcome.items > 0) {
            source.step = 1;
            source.one_at_a_time = source.address < source.retry_end;
        }
        return;
    }
    if (!can_pass_over(source.files[place.file])) {
        report_io_error(file, outcome.error);
        source.ended = true;
        return;
    }
    if (!source.one_at_a_time) {
        // Jumps past damage stop at the end of a plain input: it is a regular file.
        if (source.whole_file) {
            source.files[0].sectors = regular_file_size(file).value_or(0) / SECTOR_SIZE;
            source.runs[0].last = std::max(source.files[0].sectors, source.address) - 1;
            source.unit_last = source.runs[0].last;
        }
        source.one_at_a_time = true;
        source.retry_end = source.address - outcome.items + asked;
        source.stream_file = NO_FILE;
        return;
    }
    pass_over_failed_sector();
}

// Fills the block with the next sectors; false when none can be had any more.
bool refill() {
    end_batch(source.block);
    source.fill = 0;
    source.position = 0;
    while (source.fill == 0) {
        if (source.ended || source.interrupted || !find_sectors_to_read()) {
            return false;
        }
        const Place place = place_of(source.address);
        if (place.file == NO_FILE) {
            source.ended = true;  // a run past the files: checked before the run begins
            return false;
        }
        const std::uint64_t in_unit = source.unit_last - source.address + 1;
        const std::size_t asked = source.one_at_a_time || source.at_unit_start
                                      ? 1
                                      : static_cast<std::size_t>(std::min<std::uint64_t>(
                                            {READ_BATCH_SECTORS, in_unit, place.left}));
        if (!place_stream(place)) {
            take_read(place, asked, {0, error_or_io_failure()});
            continue;
        }
        take_read(place, asked, read_sectors(place, asked));
        if (source.at_unit_start && source.fill > 0) {
            bound_unit(batch_start());
        }
    }
    return true;
}

void start_source(const std::vector<SourceFile>& files, const std::vector<SectorRun>& runs) {
    release_block_only();
    source = Source{};
    source.files = files;
    source.runs = runs;
    if (!runs.empty()) {
        begin_unit(runs.front().first);
    }
    unread.clear();
    unled.clear();
}

// A cell begins with a navigation pack; its content packs follow within a
// few sectors.
constexpr std::uint64_t PROBED_SECTORS = 16;

// Whether the sector is a pack whose first packet is a PES packet of
// content (video, audio, private stream 1) with its scrambling bits set.
// Navigation packs and padding are never scrambled.
bool scrambled_pack(const unsigned char* sector) {
    constexpr std::uint32_t PACK_START_CODE = 0x1BA;
    constexpr std::size_t FIRST_PACKET = 14;
    constexpr std::uint32_t PRIVATE_STREAM_1 = 0x1BD;
    constexpr std::uint32_t FIRST_AUDIO_STREAM = 0x1C0;
    constexpr std::uint32_t LAST_VIDEO_STREAM = 0x1EF;
    if (get_be32(sector, 0) != PACK_START_CODE) {
        return false;
    }
    const std::uint32_t packet = get_be32(sector, FIRST_PACKET);
    const bool content = packet == PRIVATE_STREAM_1 || (packet >= FIRST_AUDIO_STREAM && packet <= LAST_VIDEO_STREAM);
    return content && is_scrambled(sector);
}

}  // namespace

ProbedPacks probe_runs_for_scrambling(const std::vector<SourceFile>& files, const std::vector<SectorRun>& runs) {
    bool refused = false;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(PROBED_SECTORS * SECTOR_SIZE));
    for (const SectorRun& run : runs) {
        // Looked up from the files given: the source itself is not begun.
        std::uint64_t sector = run.first;
        const SourceFile* file = nullptr;
        for (const SourceFile& candidate : files) {
            if (sector < candidate.sectors) {
                file = &candidate;
                break;
            }
            sector -= candidate.sectors;
        }
        if (file == nullptr || run.last < run.first) {
            continue;
        }
        const std::size_t count = static_cast<std::size_t>(
            std::min({PROBED_SECTORS, run.last - run.first + 1, file->sectors - sector}));
        if (!seek_file(*file->file, (file->start + sector) * SECTOR_SIZE)) {
            continue;
        }
        const ReadOutcome outcome = read_items(*file->file, bytes.data(), SECTOR_SIZE, count);
        refused = refused || outcome.error != 0;
        for (std::size_t i = 0; i < outcome.items; ++i) {
            if (scrambled_pack(bytes.data() + i * SECTOR_SIZE)) {
                return ProbedPacks::scrambled;
            }
        }
    }
    return refused ? ProbedPacks::refused : ProbedPacks::clear;
}

void read_whole_file(NamedFile& file) {
    start_source({{&file, ENDLESS, 0, {}, 0}}, {{0, ENDLESS - 1, false}});
    source.whole_file = true;
    // The stream stands at its start: a pipe is read without a seek.
    source.stream_file = 0;
    source.stream_sector = 0;
}

void read_runs(const std::vector<SourceFile>& files, const std::vector<SectorRun>& runs) {
    start_source(files, runs);
}

void call_before_batch_ends(void (*hook)(unsigned char* block)) {
    before_batch_ends = hook;
}

namespace {

// The next batch, or the end: when the batch is used up, or a stop is asked
// for. The sectors of a read that the stop cut short are still handed out.
const unsigned char* next_batch_or_end() {
    if (source.position < source.fill && source.interrupted) {
        const unsigned char* sector = batch_start() + source.position;
        source.position += SECTOR_SIZE;
        return sector;
    }
    if (stop_requested()) {
        source.interrupted = true;
    } else if (source.block == nullptr) {
        source.block = static_cast<unsigned char*>(allocate_block(BLOCK_SIZE));
        if (source.block == nullptr) {
            report_io_error(*source.files.front().file, ENOMEM);
            source.ended = true;
        }
    }
    if (source.block == nullptr || source.interrupted || !refill()) {
        release_block_only();
        return nullptr;
    }
    // A stop asked for while the batch was read ends the run before it,
    // unless the stop cut that read short: then its sectors are still split.
    if (!source.interrupted && stop_requested()) {
        source.interrupted = true;
        release_block_only();
        return nullptr;
    }
    const unsigned char* sector = batch_start();
    source.position = SECTOR_SIZE;
    return sector;
}

}  // namespace

const unsigned char* next_sector() {
    // The stop is looked for at every sector; all else only once a batch is used up.
    if (source.position >= source.fill || stop_requested()) {
        return next_batch_or_end();
    }
    // Handed out in place: a copy of every sector cost about as much as the video trim.
    const unsigned char* sector = batch_start() + source.position;
    source.position += SECTOR_SIZE;
    return sector;
}

const std::vector<UnreadSectors>& unread_sectors() {
    return unread;
}

const std::vector<UnreadSectors>& units_read_in_order() {
    return unled;
}

std::size_t run_being_read() {
    return source.run;
}

std::uint64_t sectors_passed_over() {
    std::uint64_t count = 0;
    for (const UnreadSectors& file : unread) {
        count += file.count;
    }
    return count;
}

bool source_interrupted() {
    return source.interrupted;
}

}  // namespace packrift

// Faults injected under a whole run (run_packrift in process, through the
// file layer's hooks): what is reported, the exit status and what each
// output holds afterwards.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "demux/demux_common.hpp"
#include "disc/disc_image.hpp"
#include "front/run_control.hpp"
#include "io/file_io.hpp"
#include "output/staging_writer.hpp"
#include "support/disc_builder.hpp"
#include "support/image_builder.hpp"
#include "support/pack_builder.hpp"
#include "support/run_binary.hpp"

namespace {

namespace fs = std::filesystem;
using packtest::Bytes;
using packtest::pattern;

// Enough video for three batches of the read and more, with an AC-3 pack of
// substream 0x80 after every tenth video pack.
constexpr int VIDEO_PACKS = 3200;
constexpr int AUDIO_EVERY = 10;

struct Movie {
    Bytes file;
    std::vector<Bytes> video;  // per sector, empty when it holds no video
    std::vector<Bytes> audio;  // per sector, empty when it holds no AC-3 0x80
};

void add_sector(Movie& movie, const Bytes& sector, const Bytes& video, const Bytes& audio) {
    movie.file.insert(movie.file.end(), sector.begin(), sector.end());
    movie.video.push_back(video);
    movie.audio.push_back(audio);
}

Movie make_movie() {
    Movie movie;
    for (int i = 0; i < VIDEO_PACKS; ++i) {
        const Bytes video = pattern(packtest::VIDEO_ROOM, static_cast<unsigned>(i));
        add_sector(movie, packtest::video_pack(video), video, {});
        if (i % AUDIO_EVERY == 0) {
            const Bytes audio = pattern(packtest::AC3_ROOM - 100, static_cast<unsigned>(i) + 100000);
            add_sector(movie, packtest::ac3_pack(0x80, audio), {}, audio);
        }
    }
    return movie;
}

const Movie& movie() {
    static const Movie made = make_movie();
    return made;
}

// What the first sectors of the movie give for one stream.
Bytes first_sectors(const std::vector<Bytes>& payloads, std::size_t sectors) {
    Bytes out;
    for (std::size_t i = 0; i < sectors && i < payloads.size(); ++i) {
        out.insert(out.end(), payloads[i].begin(), payloads[i].end());
    }
    return out;
}

const Bytes& whole_video() {
    static const Bytes all = first_sectors(movie().video, movie().video.size());
    return all;
}

const Bytes& whole_audio() {
    static const Bytes all = first_sectors(movie().audio, movie().audio.size());
    return all;
}

bool is_prefix(const Bytes& part, const Bytes& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

std::string perror_line(const fs::path& path, int error_number) {
    return path.string() + ": " + std::strerror(error_number) + "\n";
}

struct InProcessRun {
    int status = -1;
    std::string out;
    std::string err;
};

InProcessRun run_in_process(const std::vector<std::string>& args) {
    std::vector<std::string> storage = {"packrift"};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : storage) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    InProcessRun run;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    run.status = packrift::run_packrift(static_cast<int>(storage.size()), argv.data());
    run.out = testing::internal::GetCapturedStdout();
    run.err = testing::internal::GetCapturedStderr();
    return run;
}

// Sectors of a file (the input, or a VOB file of a disc), first to one past
// the last, whose reads fail.
struct Damage {
    std::string file;  // the end of its name
    std::size_t first = 0;
    std::size_t end = 0;
};

// The injected faults, keyed on the stream that the run's files hold.
struct Faults {
    int failing_write = 0;  // the video output's write from which on all fail, counted from 1
    bool short_write = false;  // the first failing write writes half its bytes
    int errno_of_write = 0;  // 0: the failing write leaves errno untouched
    int interrupted_write = 0;  // the video output's write that a signal cuts short, counted from 1
    bool interrupted_before_any_byte = false;  // it writes nothing, else a third of its bytes
    int video_writes = 0;
    std::size_t video_written = 0;  // bytes that reached the video output
    std::vector<std::size_t> video_write_ends;  // where in the file each video write ended
    std::vector<std::size_t> stages_at_video_writes;
    bool audio_close_fails = false;
    std::vector<Damage> damaged;
    int stage_allocations_failing = 0;  // -1: all of them
    bool read_block_allocation_fails = false;
};

Faults faults;

// The stream of the run's output of kind, or null.
std::FILE* stream_of(packrift::StreamKind kind) {
    for (std::size_t i = 0; i < packrift::output_count; ++i) {
        if (packrift::outputs[i].kind == kind) {
            return packrift::outputs[i].file.stream;
        }
    }
    return nullptr;
}

// The stages held, to tell whether the video keeps one.
std::vector<void*> stages_held;

std::size_t write_part(const void* data, std::size_t size, std::size_t count, std::FILE* stream) {
    const std::size_t items = std::fwrite(data, size, count, stream);
    faults.video_written += items * size;
    faults.video_write_ends.push_back(faults.video_written);
    faults.stages_at_video_writes.push_back(stages_held.size());
    return items;
}

// Whether every video write but the last ended on a page boundary of the file.
bool video_writes_end_on_pages() {
    const std::vector<std::size_t>& ends = faults.video_write_ends;
    return std::all_of(ends.begin(), ends.end() - (ends.empty() ? 0 : 1),
                       [](std::size_t end) { return end % packrift::BLOCK_ALIGNMENT == 0; });
}

std::size_t faulty_write(const void* data, std::size_t size, std::size_t count, std::FILE* stream) {
    if (stream != stream_of(packrift::StreamKind::video)) {
        return std::fwrite(data, size, count, stream);
    }
    const int write = ++faults.video_writes;
    if (faults.failing_write != 0 && write >= faults.failing_write) {
        // A full disk: this write and every later one fail.
        const std::size_t items =
            faults.short_write && write == faults.failing_write ? write_part(data, size, count / 2, stream) : 0;
        errno = faults.errno_of_write;
        return items;
    }
    if (write == faults.interrupted_write) {
        const std::size_t items = faults.interrupted_before_any_byte ? 0 : write_part(data, size, count / 3, stream);
        errno = EINTR;
        return items;
    }
    return write_part(data, size, count, stream);
}

int faulty_close(std::FILE* stream) {
    const bool fails = faults.audio_close_fails && stream == stream_of(packrift::StreamKind::ac3_audio);
    const int result = std::fclose(stream);
    if (fails) {
        errno = EIO;
        return EOF;
    }
    return result;
}

bool is_damaged(const std::string& file, std::size_t sector) {
    return std::any_of(faults.damaged.begin(), faults.damaged.end(), [&](const Damage& damage) {
        return file.ends_with(damage.file) && sector >= damage.first && sector < damage.end;
    });
}

// Reads up to the first damaged sector, as a drive does, then fails.
std::size_t faulty_read(void* data, std::size_t size, std::size_t count, const packrift::NamedFile& file) {
    const auto at = static_cast<std::size_t>(std::ftell(file.stream)) / size;
    std::size_t good = 0;
    while (good < count && !is_damaged(file.name, at + good)) {
        ++good;
    }
    const std::size_t items = std::fread(data, size, good, file.stream);
    if (items == good && good < count) {
        errno = EIO;
    }
    return items;
}

// The hooks as the run has them, kept before the faulty ones replace them.
const packrift::IoHooks standard_io = packrift::io_hooks();

void* faulty_allocate(std::size_t size) {
    if (size == packrift::STAGE_CAPACITY && faults.stage_allocations_failing != 0) {
        if (faults.stage_allocations_failing > 0) {
            --faults.stage_allocations_failing;
        }
        return nullptr;
    }
    if (size != packrift::STAGE_CAPACITY && faults.read_block_allocation_fails) {
        return nullptr;
    }
    void* block = standard_io.allocate(size);
    if (size == packrift::STAGE_CAPACITY && block != nullptr) {
        stages_held.push_back(block);
    }
    return block;
}

void counted_release(void* block) {
    std::erase(stages_held, block);
    standard_io.release(block);
}

class FaultInjection : public ::testing::Test {
protected:
    void SetUp() override {
        dir = packtest::scratch_dir("faults");
        input = dir / "movie.vob";
        video = dir / "movie.m2v";
        audio = dir / "movie-stream0.ac3";
        packtest::write_file(input.string(), movie().file);
        faults = Faults{};
        packrift::io_hooks().write = &faulty_write;
        packrift::io_hooks().close = &faulty_close;
        packrift::io_hooks().read = &faulty_read;
        packrift::io_hooks().allocate = &faulty_allocate;
        packrift::io_hooks().release = &counted_release;
    }
    void TearDown() override {
        packrift::restore_io_hooks();
        fs::remove_all(dir);
    }
    InProcessRun run_both() { return run_in_process({input.string(), "-video", "0", "-audio", "0"}); }
    Bytes file(const fs::path& path) { return packtest::read_file(path.string()); }
    fs::path dir;
    fs::path input;
    fs::path video;
    fs::path audio;
};

// The least a video write before a failing one holds: the whole pages of a
// batch's video, more than 900 payloads (a batch of 1000 sectors holds 909).
constexpr std::size_t LEAST_VIDEO_WRITE = 900 * packtest::VIDEO_ROOM;

TEST_F(FaultInjection, TheFirstWriteFailing) {
    faults.failing_write = 1;
    const auto run = run_both();
    EXPECT_EQ(run.status, 1);
    // A short count with errno untouched still names an I/O error.
    EXPECT_EQ(run.err, perror_line(video, EIO));
    EXPECT_EQ(faults.video_writes, 1) << "nothing more is written after the failure";
    EXPECT_EQ(file(video), Bytes{});
    EXPECT_EQ(file(audio), whole_audio());
}

TEST_F(FaultInjection, TheNthWriteFailing) {
    for (int n : {2, 3}) {
        faults.video_writes = 0;
        faults.video_written = 0;
        faults.failing_write = n;
        faults.errno_of_write = ENOSPC;
        const auto run = run_both();
        EXPECT_EQ(run.status, 1) << n;
        EXPECT_EQ(run.err, perror_line(video, ENOSPC)) << n;
        EXPECT_EQ(faults.video_writes, n);
        // The blocks before the failing one are all there, and nothing else.
        const Bytes held = file(video);
        EXPECT_EQ(held.size(), faults.video_written);
        EXPECT_GE(held.size(), static_cast<std::size_t>(n - 1) * LEAST_VIDEO_WRITE) << n;
        EXPECT_TRUE(is_prefix(held, whole_video())) << n;
        EXPECT_EQ(file(audio), whole_audio()) << n;
    }
}

TEST_F(FaultInjection, AShortWrite) {
    faults.failing_write = 2;
    faults.short_write = true;
    faults.errno_of_write = ENOSPC;
    const auto run = run_both();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, perror_line(video, ENOSPC));
    // The first block and the half of the second that was written, in order.
    const Bytes held = file(video);
    EXPECT_EQ(held.size(), faults.video_written);
    EXPECT_GT(held.size(), LEAST_VIDEO_WRITE + LEAST_VIDEO_WRITE / 2 - packtest::SECTOR);
    EXPECT_TRUE(is_prefix(held, whole_video()));
    EXPECT_EQ(file(audio), whole_audio());
}

// A signal that does not stop the run (one the caller handles) cuts a write
// short, or comes before its first byte: the rest is written, nothing is said.
TEST_F(FaultInjection, AWriteCutShortBySignal) {
    for (const bool before_any_byte : {false, true}) {
        SCOPED_TRACE(before_any_byte ? "before any byte" : "after a third of it");
        faults = Faults{};
        faults.interrupted_write = 2;
        faults.interrupted_before_any_byte = before_any_byte;
        const auto run = run_both();
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_GT(faults.video_writes, 2);
        EXPECT_EQ(file(video), whole_video());
        EXPECT_EQ(file(audio), whole_audio());
    }
}

TEST_F(FaultInjection, TheClosingOfAnOutputFailing) {
    faults.audio_close_fails = true;
    const auto run = run_both();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, perror_line(audio, EIO));
    EXPECT_EQ(file(video), whole_video());
    EXPECT_EQ(file(audio), whole_audio());
}

// What the movie's sectors give for one stream, but for the sectors passed over.
Bytes sectors_but(const std::vector<Bytes>& payloads, std::size_t first, std::size_t end) {
    Bytes out;
    for (std::size_t i = 0; i < payloads.size(); ++i) {
        if (i < first || i >= end) {
            out.insert(out.end(), payloads[i].begin(), payloads[i].end());
        }
    }
    return out;
}

struct DamageCase {
    const char* label;
    std::vector<Damage> damaged;
    std::size_t unread_first;
    std::size_t unread_end;  // the sectors passed over: the damaged ones and those jumped
};

// The line that names what of a file was passed over.
std::string unread_line(const std::string& file, std::size_t first, std::size_t end) {
    const std::size_t count = end - first;
    return file + ": " +
           (count == 1 ? "1 sector could not be read and was passed over (at sector "
                       : std::to_string(count) + " sectors could not be read and were passed over (the first at sector ") +
           std::to_string(first) + ")\n";
}

// Damaged sectors are passed over, and the tries after a failed one lie
// 1, 2, 4 ... sectors further on: what they jump over is lost too.
TEST_F(FaultInjection, DamagedSectorsArePassedOverAndTheRestIsSplit) {
    const std::size_t sectors = movie().video.size();
    const std::vector<DamageCase> cases = {
        {"a single sector", {{"movie.vob", 5, 6}}, 5, 6},
        {"the first sector", {{"movie.vob", 0, 1}}, 0, 1},
        // Where a disc image's recognition sequence would begin: still a VOB file.
        {"sector 16", {{"movie.vob", 16, 17}}, 16, 17},
        // Tries at 100, 101, 103, 107, 115, 131, then 163 reads.
        {"a run longer than the step", {{"movie.vob", 100, 160}}, 100, 163},
        {"at the end of a batch", {{"movie.vob", 999, 1001}}, 999, 1002},
        {"in the last batch", {{"movie.vob", 3400, 3402}}, 3400, 3403},
        {"up to the end of the input", {{"movie.vob", sectors - 20, sectors}}, sectors - 20, sectors},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        faults = Faults{};
        faults.damaged = c.damaged;
        const auto run = run_both();
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, unread_line(input.string(), c.unread_first, c.unread_end));
        EXPECT_EQ(file(video), sectors_but(movie().video, c.unread_first, c.unread_end));
        EXPECT_EQ(file(audio), sectors_but(movie().audio, c.unread_first, c.unread_end));
        // Sectors read one at a time gather less than a page each: it is carried, not written.
        EXPECT_TRUE(video_writes_end_on_pages());
    }
}

// A title's VOB files: damage in the second is named by that file, and the
// steps past it stay within the cell being read. What the title then gives
// is what it gives with the sectors passed over zeroed, which are not packs.
TEST_F(FaultInjection, DamageInATitlesSecondVobFile) {
    // Cells of 12 sectors from 0; VTS_01_1.VOB holds 15 of them, VTS_01_2.VOB the other 21.
    const std::vector<DamageCase> cases = {
        {"within a cell", {{"vts_01_2.vob", 2, 4}}, 2, 5},
        // Tries at its 6 and 7; the next cell starts at its 9 afresh, at a step of 1.
        {"at a cell's end and the next cell's start", {{"vts_01_2.vob", 6, 10}}, 6, 10},
    };
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const packtest::disc::Disc disc = packtest::disc::title_across_files();
        packtest::disc::write_disc(disc, dir / "zeroed" / "VIDEO_TS");
        packtest::disc::write_disc(disc, dir / "damaged" / "VIDEO_TS");
        Bytes vob = packtest::read_file(dir / "zeroed" / "VIDEO_TS" / "vts_01_2.vob");
        std::fill(vob.begin() + static_cast<std::ptrdiff_t>(c.unread_first * packtest::SECTOR),
                  vob.begin() + static_cast<std::ptrdiff_t>(c.unread_end * packtest::SECTOR), 0);
        packtest::write_file(dir / "zeroed" / "VIDEO_TS" / "vts_01_2.vob", vob);

        faults = Faults{};
        ASSERT_EQ(run_in_process({"zeroed", "-title", "1", "-video", "0", "-audio", "0"}).status, 0);
        faults.damaged = c.damaged;
        const auto run = run_in_process({"damaged", "-title", "1", "-video", "0", "-audio", "0"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, unread_line((fs::path("damaged") / "VIDEO_TS" / "vts_01_2.vob").string(), c.unread_first,
                                       c.unread_end));
        EXPECT_EQ(file(dir / "damaged-title1.m2v"), file(dir / "zeroed-title1.m2v"));
        EXPECT_EQ(file(dir / "damaged-title1-stream0.ac3"), file(dir / "zeroed-title1-stream0.ac3"));
        EXPECT_FALSE(file(dir / "damaged-title1.m2v").empty());
    }
    fs::current_path(before);
}

// On an image, damage in a VOB file's second extent is named by the VOB file
// inside the image and the sector within that file, as in a folder.
TEST_F(FaultInjection, DamageInAVobFileInsideAnImage) {
    constexpr std::size_t FIRST = 12;  // of VTS_01_2.VOB, in its second extent of two
    constexpr std::size_t END = 15;    // tries at 12 and 13, which jumps 14 too
    const fs::path before = fs::current_path();
    fs::current_path(dir);
    const packtest::disc::Disc disc = packtest::disc::title_across_files();
    packtest::disc::write_disc(disc, dir / "zeroed" / "VIDEO_TS");
    packtest::image::Options options;
    options.extents = 2;
    const Bytes image =
        packtest::image::build_image(packtest::image::files_of_folder(dir / "zeroed" / "VIDEO_TS"), options);
    packtest::write_file(dir / "film.iso", image);
    Bytes vob = packtest::read_file(dir / "zeroed" / "VIDEO_TS" / "vts_01_2.vob");
    std::fill(vob.begin() + static_cast<std::ptrdiff_t>(FIRST * packtest::SECTOR),
              vob.begin() + static_cast<std::ptrdiff_t>(END * packtest::SECTOR), 0);
    packtest::write_file(dir / "zeroed" / "VIDEO_TS" / "vts_01_2.vob", vob);

    const packrift::ImageReader reader{[&image](std::uint64_t sector, std::size_t count, unsigned char* into) {
                                           std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(sector * packtest::SECTOR),
                                                       count * packtest::SECTOR, into);
                                           return 0;
                                       },
                                       image.size() / packtest::SECTOR};
    const packrift::ImageListing listing = packrift::read_image_listing(reader);
    const auto second_vob = std::find_if(listing.files.begin(), listing.files.end(),
                                         [](const packrift::ImageFile& f) { return f.name == "VTS_01_2.VOB"; });
    ASSERT_NE(second_vob, listing.files.end());
    const std::vector<packrift::ImageExtent>& extents = second_vob->extents;
    ASSERT_EQ(extents.size(), 2u);
    const std::uint64_t at = extents[1].sector + FIRST - extents[0].bytes / packtest::SECTOR;
    faults.damaged = {{"film.iso", static_cast<std::size_t>(at), static_cast<std::size_t>(at + 2)}};

    ASSERT_EQ(run_in_process({"zeroed", "-title", "1", "-video", "0", "-audio", "0"}).status, 0);
    const auto run = run_in_process({"film.iso", "-title", "1", "-video", "0", "-audio", "0"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, unread_line((fs::path("film.iso") / "VIDEO_TS" / "VTS_01_2.VOB").string(), FIRST, END));
    EXPECT_EQ(file(dir / "film-title1.m2v"), file(dir / "zeroed-title1.m2v"));
    EXPECT_EQ(file(dir / "film-title1-stream0.ac3"), file(dir / "zeroed-title1-stream0.ac3"));
    fs::current_path(before);
}

TEST_F(FaultInjection, AStageAllocationFailingLosesNothing) {
    // Every stage allocation, then only the first of each kind; with -all the
    // video is opened within the first batch, whose payloads then go to the
    // file straight, before the rest is gathered in the read block.
    for (const bool all : {false, true}) {
        for (int failing : {-1, 2}) {
            SCOPED_TRACE(std::string(all ? "-all, " : "") + "failing " + std::to_string(failing));
            faults = Faults{};
            faults.stage_allocations_failing = failing;
            const auto run = all ? run_in_process({input.string(), "-all"}) : run_both();
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(file(video), whole_video());
            EXPECT_EQ(file(audio), whole_audio());
        }
    }
}

// -all on a file opens the video at its first pack, while the first batch is
// read: that batch's payloads are staged, then the video is gathered in the
// read block like any other, its writes still ending on pages of the file,
// and the stage let go: only the audio keeps one.
TEST_F(FaultInjection, TheVideoOpenedWhileABatchIsReadKeepsNoStage) {
    const auto run = run_in_process({input.string(), "-all"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(file(video), whole_video());
    EXPECT_EQ(file(audio), whole_audio());
    EXPECT_TRUE(video_writes_end_on_pages());
    const std::vector<std::size_t>& stages = faults.stages_at_video_writes;
    ASSERT_GT(stages.size(), 2U);
    EXPECT_EQ(stages.front(), 2U) << "the stage of the first batch, beside the audio's";
    EXPECT_TRUE(std::all_of(stages.begin() + 1, stages.end(), [](std::size_t held) { return held == 1; }));
}

TEST_F(FaultInjection, TheReadBlockAllocationFailing) {
    faults.read_block_allocation_fails = true;
    const auto run = run_both();
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, perror_line(input, ENOMEM));
    EXPECT_EQ(file(video), Bytes{});
    EXPECT_EQ(file(audio), Bytes{});
}

TEST_F(FaultInjection, AFailedRunLeavesNothingBehindForTheNextInTheSameProcess) {
    faults.failing_write = 1;
    ASSERT_EQ(run_both().status, 1);

    faults = Faults{};
    fs::remove(audio);
    const auto run = run_in_process({input.string(), "-audio", "0"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    // The pack count starts again from 0.
    EXPECT_EQ(run.out.rfind("opened " + audio.string() + " for writing\nLBA = 0 (", 0), 0u)
        << run.out.substr(0, 200);
    EXPECT_EQ(file(audio), whole_audio());
}

}  // namespace

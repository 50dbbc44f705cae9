#include "output/staging_writer.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "demux/sector_source.hpp"
#include "support/pack_builder.hpp"
#include "support/run_binary.hpp"

namespace {

using packrift::NamedFile;
using packrift::StreamKind;
using packtest::Bytes;

const Bytes PADDING_CODE = {0x00, 0x00, 0x01, 0xBE};

// The trim's length, checked against the copying trim's: the same length,
// the bytes before it copied, and nothing written past the payload; and,
// where the processor has AVX2, the 16-byte form's against the wide form's.
int trimmed(const Bytes& payload) {
    const int length = static_cast<int>(payload.size());
    packrift::use_wide_trim(false);
    const int kept = packrift::trim_before_padding(payload.data(), length);
    for (const bool wide : {false, true}) {
        if (wide && !packrift::wide_trim_available()) {
            continue;
        }
        packrift::use_wide_trim(wide);
        EXPECT_EQ(packrift::trim_before_padding(payload.data(), length), kept) << "wide " << wide;
        constexpr unsigned char UNWRITTEN = 0x5A;
        Bytes copy(payload.size() + 1, UNWRITTEN);
        EXPECT_EQ(packrift::copy_before_padding(payload.data(), length, copy.data()), kept) << "wide " << wide;
        EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + kept, copy.begin())) << "wide " << wide;
        EXPECT_EQ(copy.back(), UNWRITTEN) << "wide " << wide;
    }
    packrift::use_wide_trim(true);
    return kept;
}

struct TrimCase {
    const char* label;
    Bytes payload;
    int kept;
};

// Filler that holds the padding id byte and pieces of the prefix, but never
// a whole code, so that the word-wide search must look closer and go on.
Bytes near_misses(std::size_t length) {
    const Bytes pieces = {0xBE, 0x00, 0x01, 0xBE, 0x00, 0x00, 0xBE, 0x01, 0xBE, 0x00, 0x00, 0x00, 0x02, 0xBE};
    Bytes out;
    for (std::size_t i = 0; i < length; ++i) {
        out.push_back(pieces[i % pieces.size()]);
    }
    return out;
}

TEST(TrimBeforePadding, KeepsWhatLiesBeforeTheFirstWholePaddingStartCode) {
    using packtest::concat;
    using packtest::pattern;
    const std::vector<TrimCase> cases = {
        {"a payload that begins with the code", PADDING_CODE, 0},
        {"a payload that begins with the code, more after it", concat({PADDING_CODE, pattern(40, 1)}), 0},
        {"the code after 100 bytes", concat({pattern(100, 1), PADDING_CODE, pattern(50, 2)}), 100},
        {"the code in the last four bytes", concat({pattern(9, 3), PADDING_CODE}), 9},
        {"the first of two codes", concat({pattern(5, 4), PADDING_CODE, PADDING_CODE}), 5},
        {"00 00 00 01 BE: the code starts at the second zero", concat({{0x00}, PADDING_CODE}), 1},
        {"a lone id byte right before a whole code", concat({{0x10, 0x20, 0x30, 0xBE}, PADDING_CODE}), 4},
        {"the code at index 1", concat({{0x55}, PADDING_CODE, pattern(30, 5)}), 1},
        {"the code at index 2", concat({{0x55, 0x66}, PADDING_CODE, pattern(30, 5)}), 2},
        {"the code at index 3", concat({{0x55, 0x66, 0x77}, PADDING_CODE, pattern(30, 5)}), 3},
        // The words are read from index 3: split across the first and the second word.
        {"split across the first two words", concat({near_misses(8), PADDING_CODE, pattern(30, 6)}), 8},
        {"split across the second and third words", concat({near_misses(17), PADDING_CODE, pattern(30, 6)}), 17},
        {"its id byte the first of a word", concat({pattern(16, 7), PADDING_CODE, pattern(30, 6)}), 16},
        {"its id byte in the bytes after the last whole step", concat({near_misses(2000), PADDING_CODE}), 2000},
        {"after many near misses, in a whole payload", concat({near_misses(1500), PADDING_CODE, pattern(521, 8)}),
         1500},
        {"a code that ends one byte past the payload is not seen", concat({pattern(30, 9), {0x00, 0x00, 0x01}}), 33},
        {"00 01 BE at the start needs four bytes of the payload", {0x00, 0x01, 0xBE, 0x10, 0x20}, 5},
        {"00 00 01 alone", {0x00, 0x00, 0x01}, 3},
        {"an empty payload", {}, 0},
        {"another stream id before a lone id byte", concat({pattern(20, 5), {0x00, 0x00, 0x01, 0xBF, 0xBE}}), 25},
        {"id bytes only", Bytes(64, 0xBE), 64},
        {"near misses only, a whole payload", near_misses(2025), 2025},
        {"id bytes without a prefix in every place of a payload", Bytes(2025, 0xBE), 2025},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(trimmed(c.payload), c.kept) << c.label;
    }
}

// The code at every index of a payload and against every alignment of the
// words and steps, amid near misses, and at the payload's very end: past the
// wide form's second step, so that its last step reads back over the one
// before by every count of bytes.
TEST(TrimBeforePadding, FindsTheCodeAtEveryPlace) {
    for (std::size_t at = 0; at <= 300; ++at) {
        const Bytes within = packtest::concat({near_misses(at), PADDING_CODE, near_misses(40)});
        EXPECT_EQ(trimmed(within), static_cast<int>(at)) << "the code at " << at;
        const Bytes at_end = packtest::concat({near_misses(at), PADDING_CODE});
        EXPECT_EQ(trimmed(at_end), static_cast<int>(at)) << "the code ending the payload, at " << at;
        const Bytes cut_short(at_end.begin(), at_end.end() - 1);
        EXPECT_EQ(trimmed(cut_short), static_cast<int>(cut_short.size())) << "the code cut short, at " << at;
    }
}

#if defined(__linux__) && PACKRIFT_WIDE_TRIM
// The wide form runs where the processor has AVX2, as the system lists its
// features (a system that lists it also keeps the 32-byte registers).
TEST(TrimBeforePadding, WideWhereTheSystemListsAvx2) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("flags", 0) == 0) {
            const bool listed = (line + " ").find(" avx2 ") != std::string::npos;
            EXPECT_EQ(packrift::wide_trim_available(), listed);
            return;
        }
    }
    GTEST_SKIP() << "no flags in /proc/cpuinfo";
}
#endif

// A stage writing into a scratch file, read back after the flush. Not
// tmpfile: on Windows that creates its file in the root of the drive, which
// only an administrator may do.
class StagingWriter : public ::testing::Test {
protected:
    void SetUp() override {
        dir = packtest::scratch_dir("stage");
        file.stream = scratch_stream("out.m2v");
        file.name = "out.m2v";
        ASSERT_NE(file.stream, nullptr);
        audio.file = file;  // the audio writes into the same scratch file
    }
    void TearDown() override {
        packrift::flush_stream(video);
        packrift::flush_stream(audio);
        packrift::restore_io_hooks();
        if (file.stream != nullptr) {
            std::fclose(file.stream);
        }
        std::filesystem::remove_all(dir);
    }
    std::FILE* scratch_stream(const std::string& name) {
        return std::fopen((dir / name).string().c_str(), "w+b");
    }
    long file_size() {
        std::fflush(file.stream);
        std::fseek(file.stream, 0, SEEK_END);
        return std::ftell(file.stream);
    }
    Bytes contents() {
        Bytes out(static_cast<std::size_t>(file_size()));
        std::rewind(file.stream);
        EXPECT_EQ(std::fread(out.data(), 1, out.size(), file.stream), out.size());
        return out;
    }
    int stage(StreamKind kind, const Bytes& payload) {
        return packrift::stage_payload(kind == StreamKind::video ? video : audio, payload.data(),
                                       static_cast<int>(payload.size()));
    }
    std::filesystem::path dir;
    packrift::Output video{StreamKind::video, 0, 0xE0, 0, {}};
    packrift::Output audio{StreamKind::ac3_audio, 0, 0x80, 1, {}};
    NamedFile& file = video.file;
};

TEST_F(StagingWriter, VideoIsTrimmedAndAc3IsStagedWhole) {
    const Bytes payload = packtest::concat({packtest::pattern(100, 6), PADDING_CODE, packtest::pattern(30, 7)});
    EXPECT_EQ(stage(StreamKind::video, payload), 100);
    EXPECT_EQ(stage(StreamKind::video, PADDING_CODE), 0);
    packrift::flush_stream(video);
    EXPECT_EQ(contents(), Bytes(payload.begin(), payload.begin() + 100));

    packrift::Output ac3{StreamKind::ac3_audio, 0, 0x80, 2, {scratch_stream("out.ac3"), "out.ac3", false}};
    ASSERT_NE(ac3.file.stream, nullptr);
    EXPECT_EQ(packrift::stage_payload(ac3, payload.data(), 134), 134);
    packrift::flush_stream(ac3);
    std::fseek(ac3.file.stream, 0, SEEK_END);
    EXPECT_EQ(std::ftell(ac3.file.stream), 134);
    std::fclose(ac3.file.stream);
}

// The lengths of the writes made through the hook.
std::vector<std::size_t> write_lengths;
const packrift::IoHooks standard_io = packrift::io_hooks();

std::size_t counted_write(const void* data, std::size_t size, std::size_t count, std::FILE* stream) {
    write_lengths.push_back(size * count);
    return standard_io.write(data, size, count, stream);
}

TEST_F(StagingWriter, WritesWholePagesOnlyWhenAPayloadArrivesAtTheFlushMark) {
    write_lengths.clear();
    packrift::io_hooks().write = &counted_write;
    const Bytes payload = packtest::pattern(2025, 8);
    Bytes expected;
    std::size_t staged = 0;
    // Fill to the mark: nothing is written however close it gets.
    while (staged < packrift::STAGE_FLUSH_MARK) {
        ASSERT_EQ(stage(StreamKind::video, payload), 2025);
        staged += payload.size();
        expected.insert(expected.end(), payload.begin(), payload.end());
        ASSERT_EQ(file_size(), 0);
    }
    // The next payload first writes the stage's whole pages, in one block;
    // the rest stays staged, ahead of the payload.
    const Bytes last = packtest::pattern(10, 9);
    ASSERT_EQ(stage(StreamKind::video, last), 10);
    EXPECT_EQ(file_size(), static_cast<long>(staged / packrift::BLOCK_ALIGNMENT * packrift::BLOCK_ALIGNMENT));
    expected.insert(expected.end(), last.begin(), last.end());
    // Two stages more: every write but the last ends on a page of the file.
    for (std::size_t more = 0; more < 2 * packrift::STAGE_CAPACITY; more += payload.size()) {
        ASSERT_EQ(stage(StreamKind::video, payload), 2025);
        expected.insert(expected.end(), payload.begin(), payload.end());
    }
    packrift::flush_stream(video);
    EXPECT_EQ(contents(), expected);
    ASSERT_EQ(write_lengths.size(), 4U);
    std::size_t written = 0;
    for (std::size_t i = 0; i + 1 < write_lengths.size(); ++i) {
        written += write_lengths[i];
        EXPECT_EQ(written % packrift::BLOCK_ALIGNMENT, 0U) << "write " << i;
        EXPECT_GT(write_lengths[i], packrift::STAGE_FLUSH_MARK - packrift::BLOCK_ALIGNMENT) << "write " << i;
    }
}

// The video gathered in the read block, behind the sectors it is read from:
// a batch's payloads written in whole pages before the block is read into
// again, the rest carried to the block's start, all of it at the release;
// what an output opened within a batch staged before its first block leads,
// carried into the block (under a page), its stage let go.
TEST_F(StagingWriter, VideoGatheredInTheReadBlockIsWrittenInWholePagesInOrder) {
    write_lengths.clear();
    packrift::io_hooks().write = &counted_write;
    packrift::stage_video_in_block(video);
    Bytes expected = packtest::pattern(700, 3);
    ASSERT_EQ(stage(StreamKind::video, expected), 700) << "before the first block: in a stage";
    constexpr std::size_t BATCH = packrift::READ_BATCH_SECTORS;
    constexpr std::size_t PAYLOAD_AT = 23;
    Bytes block(packrift::BLOCK_LEAD + (BATCH + 1) * packrift::SECTOR_SIZE);
    for (int round = 0; round < 2; ++round) {
        packrift::video_batch_ends(block.data());  // the read into the block comes next
        for (std::size_t k = 0; k < BATCH; ++k) {
            unsigned char* sector = block.data() + packrift::BLOCK_LEAD + k * packrift::SECTOR_SIZE;
            const Bytes payload = k == 7 ? packtest::concat({packtest::pattern(40, 5), PADDING_CODE})
                                         : packtest::pattern(packrift::SECTOR_SIZE - PAYLOAD_AT, static_cast<unsigned>(k));
            std::copy(payload.begin(), payload.end(), sector + PAYLOAD_AT);
            const int kept = k == 7 ? 40 : static_cast<int>(payload.size());
            ASSERT_EQ(packrift::stage_payload(video, sector + PAYLOAD_AT, static_cast<int>(payload.size())), kept);
            expected.insert(expected.end(), payload.begin(), payload.begin() + kept);
        }
    }
    packrift::video_batch_ends(nullptr);  // the block released
    packrift::flush_stream(video);
    EXPECT_EQ(contents(), expected);
    ASSERT_EQ(write_lengths.size(), 2U) << "the first batch's pages, the rest at the release";
    EXPECT_EQ(write_lengths[0] % packrift::BLOCK_ALIGNMENT, 0U);
    EXPECT_GT(write_lengths[0], expected.size() / 2 - packrift::BLOCK_ALIGNMENT);
}

TEST(Blocks, StartOnAPageBoundary) {
    void* block = packrift::allocate_block(packrift::STAGE_CAPACITY);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % packrift::BLOCK_ALIGNMENT, 0U);
    packrift::release_block(block);
}

// Outputs are unbuffered: a stage reaches its file in the one write that
// carries it, not split at the stream buffer's size with a tail left behind.
TEST(OutputFile, AWriteIsInTheFileBeforeTheClose) {
    const auto dir = packtest::scratch_dir("output_file");
    const std::string path = (dir / "out.m2v").string();
    NamedFile file;
    ASSERT_TRUE(packrift::open_for_writing(file, path));
    const Bytes block = packtest::pattern(packrift::STAGE_FLUSH_MARK + 1000, 13);
    packrift::write_block(file, block.data(), block.size());
    EXPECT_EQ(std::filesystem::file_size(path), block.size());
    packrift::close_file(file);
    EXPECT_FALSE(file.failed);
    EXPECT_EQ(packtest::read_file(path), block);
    std::filesystem::remove_all(dir);
}

}  // namespace

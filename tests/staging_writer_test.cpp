#include "output/staging_writer.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "support/pack_builder.hpp"
#include "support/run_binary.hpp"

namespace {

using packrift::NamedFile;
using packrift::StreamKind;
using packtest::Bytes;

const Bytes PADDING_CODE = {0x00, 0x00, 0x01, 0xBE};

int trimmed(const Bytes& payload) {
    return packrift::trim_before_padding(payload.data(), static_cast<int>(payload.size()));
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
// words, amid near misses, and at the payload's very end.
TEST(TrimBeforePadding, FindsTheCodeAtEveryPlace) {
    for (std::size_t at = 0; at <= 140; ++at) {
        const Bytes within = packtest::concat({near_misses(at), PADDING_CODE, near_misses(40)});
        EXPECT_EQ(trimmed(within), static_cast<int>(at)) << "the code at " << at;
        const Bytes at_end = packtest::concat({near_misses(at), PADDING_CODE});
        EXPECT_EQ(trimmed(at_end), static_cast<int>(at)) << "the code ending the payload, at " << at;
        const Bytes cut_short(at_end.begin(), at_end.end() - 1);
        EXPECT_EQ(trimmed(cut_short), static_cast<int>(cut_short.size())) << "the code cut short, at " << at;
    }
}

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

TEST_F(StagingWriter, WritesOnlyWhenAPayloadArrivesAtTheFlushMark) {
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
    // The next payload first writes everything staged, in one block.
    const Bytes last = packtest::pattern(10, 9);
    ASSERT_EQ(stage(StreamKind::video, last), 10);
    EXPECT_EQ(file_size(), static_cast<long>(staged));
    packrift::flush_stream(video);
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(contents(), expected);
}

// The gathered writes the video's payloads went out in, through the hook.
std::vector<std::size_t> pieces_per_write;
const packrift::IoHooks standard_io = packrift::io_hooks();

std::ptrdiff_t counted_write_pieces(const packrift::WritePiece* pieces, std::size_t count, std::FILE* stream) {
    pieces_per_write.push_back(count);
    return standard_io.write_pieces(pieces, count, stream);
}

class GatheredVideo : public StagingWriter {
protected:
    void SetUp() override {
        StagingWriter::SetUp();
        if (standard_io.write_pieces == nullptr) {
            GTEST_SKIP() << "no gathered writes here: every output keeps its stage";
        }
        pieces_per_write.clear();
        packrift::io_hooks().write_pieces = &counted_write_pieces;
        file.unbuffered = std::setvbuf(file.stream, nullptr, _IONBF, 0) == 0;
        ASSERT_TRUE(file.unbuffered);
    }
};

// A buffered output, and an output of any kind on a system without gathered
// writes, keeps its stage; so does the audio.
TEST_F(StagingWriter, ABufferedOutputAndTheAudioKeepTheirStages) {
    pieces_per_write.clear();
    if (standard_io.write_pieces != nullptr) {
        packrift::io_hooks().write_pieces = &counted_write_pieces;
    }
    file.unbuffered = false;
    EXPECT_FALSE(packrift::gather_video_payloads(video));
    const Bytes payload = packtest::pattern(500, 9);
    EXPECT_EQ(stage(StreamKind::video, payload), 500);
    EXPECT_EQ(stage(StreamKind::ac3_audio, payload), 500);
    packrift::write_gathered_payloads();
    EXPECT_EQ(file_size(), 0);
    packrift::flush_stream(video);
    EXPECT_EQ(contents(), payload);
    EXPECT_TRUE(pieces_per_write.empty());
}

TEST_F(GatheredVideo, PayloadsAreWrittenFromWhereTheyLieWhenAsked) {
    ASSERT_TRUE(packrift::gather_video_payloads(video));
    Bytes batch = packtest::concat({packtest::pattern(100, 6), PADDING_CODE, packtest::pattern(30, 7)});
    EXPECT_EQ(stage(StreamKind::video, batch), 100);
    EXPECT_EQ(stage(StreamKind::video, PADDING_CODE), 0);
    EXPECT_EQ(packrift::stage_payload(video, batch.data() + 104, 30), 30);
    EXPECT_EQ(file_size(), 0) << "nothing is written before the batch ends";
    const Bytes expected = packtest::concat(
        {Bytes(batch.begin(), batch.begin() + 100), Bytes(batch.begin() + 104, batch.end())});
    packrift::write_gathered_payloads();
    EXPECT_EQ(pieces_per_write, std::vector<std::size_t>{2}) << "one write, the empty payload left out";
    batch.assign(batch.size(), 0x55);  // the batch read over: what was written stays
    packrift::flush_stream(video);
    EXPECT_EQ(contents(), expected);
    EXPECT_EQ(pieces_per_write.size(), 1U) << "nothing left for the flush";
}

TEST_F(GatheredVideo, AWriteTakesAtMostItsPiecesAndTheRestFollows) {
    ASSERT_TRUE(packrift::gather_video_payloads(video));
    const std::size_t payloads = packrift::PIECES_PER_WRITE + 300;
    Bytes expected;
    std::vector<Bytes> held;
    for (std::size_t i = 0; i < payloads; ++i) {
        held.push_back(packtest::pattern(7 + i % 50, static_cast<unsigned>(i)));
    }
    for (const Bytes& payload : held) {
        ASSERT_EQ(stage(StreamKind::video, payload), static_cast<int>(payload.size()));
        expected.insert(expected.end(), payload.begin(), payload.end());
    }
    packrift::flush_stream(video);
    EXPECT_EQ(pieces_per_write, (std::vector<std::size_t>{packrift::PIECES_PER_WRITE, 300}));
    EXPECT_EQ(contents(), expected);
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

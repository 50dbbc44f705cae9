// Fuzzes the pack loop and the staging writer. The first byte of an input
// chooses the outputs and the audio number; the rest is the input file, read
// from memory through a real stream. Each output must equal what a plain
// byte-by-byte reading of the same bytes extracts, and the accepted total
// must equal the bytes written.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "demux/demux_common.hpp"
#include "demux/pack_loop.hpp"
#include "demux/sector_source.hpp"
#include "io/file_io.hpp"
#include "output/staging_writer.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr unsigned char WANT_VIDEO = 0x01;
constexpr unsigned char WANT_AUDIO = 0x02;
constexpr int AUDIO_NO_SHIFT = 2;
constexpr int AUDIO_NO_BIAS = 32;  // the six bits left give -32..31: substreams 0x60 to 0x9F

struct Options {
    bool video = false;
    bool audio = false;
    int audio_no = 0;
};

Options options_of(unsigned char byte) {
    Options options;
    options.video = (byte & WANT_VIDEO) != 0;
    options.audio = (byte & WANT_AUDIO) != 0;
    options.audio_no = (byte >> AUDIO_NO_SHIFT) - AUDIO_NO_BIAS;
    return options;
}

// The pack layout, written out again here on purpose rather than taken from
// the code under test.
constexpr std::size_t SECTOR = 2048;
constexpr std::size_t PACKET_AT = 14;  // after the 14-byte pack header
constexpr std::size_t STREAM_ID_AT = 17;
constexpr std::size_t PACKET_LENGTH_AT = 18;
constexpr std::size_t PACKET_LENGTH_COUNTS_FROM = 20;
constexpr std::size_t HEADER_LENGTH_AT = 22;
constexpr std::size_t HEADER_DATA_AT = 23;
constexpr std::size_t SUBSTREAM_HEADER = 4;
constexpr unsigned char VIDEO_0_ID = 0xE0;
constexpr unsigned char PRIVATE_1_ID = 0xBD;
constexpr int FIRST_AC3_SUBSTREAM = 0x80;

bool is_code(const unsigned char* p, unsigned char id) {
    return p[0] == 0x00 && p[1] == 0x00 && p[2] == 0x01 && p[3] == id;
}

struct Streams {
    Bytes video;
    Bytes audio;
};

// Whole sectors only; one pack per sector, its first packet decides.
Streams rederive(const unsigned char* file, std::size_t size, const Options& options) {
    Streams out;
    for (std::size_t at = 0; at + SECTOR <= size; at += SECTOR) {
        const unsigned char* s = file + at;
        if (!is_code(s, 0xBA) || !(s[PACKET_AT] == 0 && s[PACKET_AT + 1] == 0 && s[PACKET_AT + 2] == 1)) {
            continue;
        }
        const std::size_t header_length = s[HEADER_LENGTH_AT];
        const bool video = s[STREAM_ID_AT] == VIDEO_0_ID && options.video;
        const bool audio = s[STREAM_ID_AT] == PRIVATE_1_ID && options.audio &&
                           s[HEADER_DATA_AT + header_length] == FIRST_AC3_SUBSTREAM + options.audio_no;
        if (!video && !audio) {
            continue;
        }
        const std::size_t begin = HEADER_DATA_AT + header_length + (audio ? SUBSTREAM_HEADER : 0);
        std::size_t end = PACKET_LENGTH_COUNTS_FROM + s[PACKET_LENGTH_AT] * 256u + s[PACKET_LENGTH_AT + 1];
        if (end > SECTOR || end < begin) {
            end = SECTOR;
        }
        if (video) {
            for (std::size_t i = begin; i + 4 <= end; ++i) {
                if (is_code(s + i, 0xBE)) {
                    end = i;
                    break;
                }
            }
        }
        Bytes& to = video ? out.video : out.audio;
        to.insert(to.end(), s + begin, s + end);
    }
    return out;
}

// Blocks are handed out again instead of coming fresh from the allocator
// for every input: a new 2 MB block costs far more than a small input. Every
// block must be back in the pool once an input has been split.
struct PooledBlock {
    void* block = nullptr;
    std::size_t size = 0;
    bool in_use = false;
};

// The read block and two stages; a plain array, so that nothing frees the
// blocks at exit behind the leak checker's back.
constexpr std::size_t POOL_SIZE = 3;
PooledBlock pool[POOL_SIZE];

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "split_fuzzer: %s\n", what);
        std::abort();
    }
}

void* pooled_allocate(std::size_t size) {
    for (auto& pooled : pool) {
        if (!pooled.in_use && pooled.size == size) {
            pooled.in_use = true;
            return pooled.block;
        }
    }
    for (auto& pooled : pool) {
        if (pooled.block == nullptr) {
            pooled = {std::malloc(size), size, true};
            check(pooled.block != nullptr, "out of memory");
            return pooled.block;
        }
    }
    check(false, "more blocks held at once than a run needs");
    return nullptr;
}

void pooled_release(void* block) {
    if (block == nullptr) {
        return;
    }
    for (auto& pooled : pool) {
        if (pooled.block == block) {
            check(pooled.in_use, "a block released twice");
            pooled.in_use = false;
            return;
        }
    }
    check(false, "a block released that was never handed out");
}

bool all_blocks_back() {
    for (const auto& pooled : pool) {
        if (pooled.in_use) {
            return false;
        }
    }
    return true;
}

long long accepted_total = 0;

void add_accepted(int length) {
    accepted_total += length;
}

struct MemoryOutput {
    char* data = nullptr;
    std::size_t size = 0;
};

void open_memory_output(packrift::NamedFile& file, const char* name, MemoryOutput& memory) {
    file = packrift::NamedFile{};
    file.name = name;
    file.stream = open_memstream(&memory.data, &memory.size);
    check(file.stream != nullptr, "open_memstream failed");
}

// What the real writer left in the output once it is flushed and closed.
Bytes finish(packrift::StreamKind kind, packrift::NamedFile& file, MemoryOutput& memory) {
    if (file.stream == nullptr) {
        return {};
    }
    packrift::flush_stream(kind, file);
    packrift::close_file(file);
    Bytes out(memory.data, memory.data + memory.size);
    std::free(memory.data);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    packrift::io_hooks().allocate = &pooled_allocate;
    packrift::io_hooks().release = &pooled_release;
    const Options options = options_of(data[0]);
    const unsigned char* file = data + 1;
    const std::size_t file_size = size - 1;

    // fmemopen wants a writable buffer even for reading.
    Bytes input(file, file + file_size);
    packrift::input_file = packrift::NamedFile{};
    packrift::input_file.name = "fuzz.vob";
    packrift::input_file.stream = fmemopen(input.data(), input.size(), "rb");
    check(packrift::input_file.stream != nullptr, "fmemopen failed");

    MemoryOutput video_memory;
    MemoryOutput audio_memory;
    packrift::output_of(packrift::StreamKind::video) = packrift::NamedFile{};
    packrift::output_of(packrift::StreamKind::ac3_audio) = packrift::NamedFile{};
    if (options.video) {
        open_memory_output(packrift::output_of(packrift::StreamKind::video), "fuzz.m2v", video_memory);
    }
    if (options.audio) {
        open_memory_output(packrift::output_of(packrift::StreamKind::ac3_audio), "fuzz.ac3", audio_memory);
    }

    accepted_total = 0;
    packrift::PackLoopHooks hooks;
    hooks.payload_accepted = &add_accepted;
    packrift::read_whole_file(packrift::input_file);
    packrift::demux_packs({0, options.audio_no, -1, -1, -1}, hooks);
    const Bytes video = finish(packrift::StreamKind::video, packrift::output_of(packrift::StreamKind::video), video_memory);
    const Bytes audio = finish(packrift::StreamKind::ac3_audio, packrift::output_of(packrift::StreamKind::ac3_audio), audio_memory);
    packrift::close_file(packrift::input_file);

    check(all_blocks_back(), "a read block or stage still held after the run");
    check(!packrift::input_file.failed && !packrift::output_of(packrift::StreamKind::video).failed && !packrift::output_of(packrift::StreamKind::ac3_audio).failed,
          "an I/O failure on memory streams");
    const Streams expected = rederive(file, file_size, options);
    check(video == expected.video, "the video output differs from the plain reading");
    check(audio == expected.audio, "the AC-3 output differs from the plain reading");
    check(accepted_total == static_cast<long long>(video.size() + audio.size()),
          "the accepted total differs from the bytes written");
    return 0;
}

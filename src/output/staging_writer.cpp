#include "output/staging_writer.hpp"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// SSE2 is part of every x86-64 processor; elsewhere the trim goes a word a step.
#if defined(__SSE2__) || defined(_M_X64)
#define PACKRIFT_SSE2 1
#include <emmintrin.h>
#else
#define PACKRIFT_SSE2 0
#endif

#ifndef PACKRIFT_WIDE_TRIM
#define PACKRIFT_WIDE_TRIM 0
#endif
#if PACKRIFT_WIDE_TRIM
#include "output/wide_trim.hpp"
#endif

#include "io/platform.hpp"
#include "output/wav_output.hpp"

namespace packrift {

namespace {

constexpr unsigned char PADDING_STREAM_ID = PADDING_STREAM_START_CODE & 0xFF;
constexpr int START_CODE_PREFIX_SIZE = 3;  // 00 00 01 before the stream id
constexpr unsigned char START_CODE_LAST_BYTE = 0x01;

std::array<StreamStage, MOST_OUTPUTS> stages;

// The video's payloads gathered in the read block's lead and behind the
// sector being read, instead of a stage of their own; no output where the
// video is staged as the other streams are, and no block before the first
// batch and after the release.
struct BlockStage {
    Output* output = nullptr;
    unsigned char* block = nullptr;  // null until the first batch, and once released
    std::size_t fill = 0;
};

BlockStage in_block;

// The video trim in AVX2's registers wherever the build and the processor allow.
bool wide_trim = wide_trim_available();

StreamStage& stage_of(const Output& output) {
    return stages[output.slot];
}

// Whether the padding packet start code ends at id, whose three bytes
// before it are in the payload.
bool is_padding_code_at(const unsigned char* id) {
    return *id == PADDING_STREAM_ID && get_be32(id - START_CODE_PREFIX_SIZE, 0) == PADDING_STREAM_START_CODE;
}

// The trim looks for the padding id byte many bytes a step and checks the
// prefix only before the id bytes it finds: compressed video holds one about
// every 256 bytes. A byte-by-byte window costs ten times more, and memchr,
// called again after every id byte, a call each. The video's trim copies each
// step where it is gathered (the read block, or a stage) as it reads it, so
// that a payload is read only once.
#if PACKRIFT_SSE2
constexpr std::size_t VECTOR_BYTES = sizeof(__m128i);
constexpr std::size_t VECTOR_STEP = 4 * VECTOR_BYTES;  // four compares a step

// One bit for each of 16 bytes, the first byte's lowest.
std::uint64_t bits_of(__m128i bytes) {
    return static_cast<unsigned>(_mm_movemask_epi8(bytes));
}

// Where the byte offset bytes into a step goes when COPY; without a copy, to
// is null, and no pointer may be made from it.
template <bool COPY>
unsigned char* copy_place(unsigned char* to, std::ptrdiff_t offset) {
    if constexpr (COPY) {
        return to + offset;
    } else {
        return nullptr;
    }
}

// The bytes of the 16 at bytes that are the padding id with the prefix's
// 01 before them: all ones there, zeros elsewhere; the 16 bytes copied to to
// first when COPY. With the 01 tested too, about one step in a thousand
// rather than one in four holds a place to look at closer, and the branch
// that says so is hardly ever mispredicted: 1.2 to 1.4 times as fast.
template <bool COPY>
__m128i id_bytes(const unsigned char* bytes, unsigned char* to) {
    const __m128i read = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    if constexpr (COPY) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), read);
    }
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes - 1));
    return _mm_and_si128(_mm_cmpeq_epi8(read, _mm_set1_epi8(static_cast<char>(PADDING_STREAM_ID))),
                         _mm_cmpeq_epi8(before, _mm_set1_epi8(static_cast<char>(START_CODE_LAST_BYTE))));
}

// The first padding code whose id byte lies in the VECTOR_STEP bytes at at
// (whose byte before lies in the payload too), or null. Most steps hold no
// such byte: one test of them all says so.
template <bool COPY>
const unsigned char* padding_code_in_step(const unsigned char* at, unsigned char* to) {
    constexpr auto VECTOR = static_cast<std::ptrdiff_t>(VECTOR_BYTES);
    const __m128i first = id_bytes<COPY>(at, to);
    const __m128i second = id_bytes<COPY>(at + VECTOR, copy_place<COPY>(to, VECTOR));
    const __m128i third = id_bytes<COPY>(at + 2 * VECTOR, copy_place<COPY>(to, 2 * VECTOR));
    const __m128i fourth = id_bytes<COPY>(at + 3 * VECTOR, copy_place<COPY>(to, 3 * VECTOR));
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(first, second), _mm_or_si128(third, fourth))) == 0) {
        return nullptr;
    }
    std::uint64_t ids = bits_of(first) | bits_of(second) << VECTOR_BYTES | bits_of(third) << (2 * VECTOR_BYTES) |
                        bits_of(fourth) << (3 * VECTOR_BYTES);
    for (; ids != 0; ids &= ids - 1) {
        const unsigned char* id = at + std::countr_zero(ids);
        if (get_be32(id - START_CODE_PREFIX_SIZE, 0) == PADDING_STREAM_START_CODE) {
            return id;
        }
    }
    return nullptr;
}
#endif

// Where no vector instructions are sure to be there, and for the last bytes:
// a word of 8 bytes a step. A byte of the word is the padding id when the
// word XOR the id in every byte has a zero byte there; the high bits are kept
// out of the sum, so that no carry runs into the next byte.
using Word = std::uint64_t;
constexpr std::size_t WORD_BYTES = sizeof(Word);
constexpr Word EVERY_BYTE = 0x0101010101010101;
constexpr Word LOW_SEVEN_BITS = 0x7F * EVERY_BYTE;

bool has_id_byte(const unsigned char* bytes) {
    Word word = 0;
    std::memcpy(&word, bytes, WORD_BYTES);
    const Word zero_where_id = word ^ (PADDING_STREAM_ID * EVERY_BYTE);
    return ~(((zero_where_id & LOW_SEVEN_BITS) + LOW_SEVEN_BITS) | zero_where_id | LOW_SEVEN_BITS) != 0;
}

// The payload's length up to its first padding code; with COPY, its bytes
// up to there copied to to (and maybe some after, but none past length).
template <bool COPY>
int trim(const unsigned char* data, int length, unsigned char* to) {
    if (length <= START_CODE_PREFIX_SIZE) {
        if constexpr (COPY) {
            if (length > 0) {  // an empty payload may have no bytes to point at
                std::memcpy(to, data, static_cast<std::size_t>(length));
            }
        }
        return length;
    }
    const unsigned char* end = data + length;
    const unsigned char* at = data + START_CODE_PREFIX_SIZE;  // the id byte needs its prefix in the payload
    if constexpr (COPY) {
        std::memcpy(to, data, START_CODE_PREFIX_SIZE);
    }
    const auto code_found = [data](const unsigned char* id) {
        return static_cast<int>(id - START_CODE_PREFIX_SIZE - data);
    };
#if PACKRIFT_SSE2
    constexpr auto STEP = static_cast<std::ptrdiff_t>(VECTOR_STEP);
    for (; end - at >= STEP; at += STEP) {
        if (const unsigned char* id = padding_code_in_step<COPY>(at, copy_place<COPY>(to, at - data))) {
            return code_found(id);
        }
    }
    // The last bytes as the payload's last step, read back over the step
    // before: no code ends in the bytes read again, or that step would have
    // found it. Only a payload shorter than a step after the prefix goes on
    // a word at a time.
    if (at != end && end - data >= START_CODE_PREFIX_SIZE + STEP) {
        const unsigned char* id = padding_code_in_step<COPY>(end - STEP, copy_place<COPY>(to, end - STEP - data));
        return id != nullptr ? code_found(id) : length;
    }
#endif
    if constexpr (COPY) {
        std::memcpy(to + (at - data), at, static_cast<std::size_t>(end - at));  // then read by the words below
    }
    for (; end - at >= static_cast<std::ptrdiff_t>(WORD_BYTES); at += WORD_BYTES) {
        if (has_id_byte(at)) {
            for (const unsigned char* id = at; id < at + WORD_BYTES; ++id) {
                if (is_padding_code_at(id)) {
                    return code_found(id);
                }
            }
        }
    }
    for (; at < end; ++at) {
        if (is_padding_code_at(at)) {
            return code_found(at);
        }
    }
    return length;
}

// Stage writes end on a page boundary of the file, as the stage starts on one
// of memory, so that the kernel copies page to page: with a payload's worth
// of bytes more or less in each write, the two were out of step and the copy
// into the page cache ran about a sixth slower.
constexpr std::size_t FILE_PAGE = BLOCK_ALIGNMENT;

// Writes the whole pages of the fill bytes at from and moves the rest, under
// a page, to to; returns the bytes moved. Less than a page is only moved: a
// batch read one sector at a time (a navigation pack, damage) gathers that
// little, and written it would put every later write out of step.
std::size_t write_pages(NamedFile& file, const unsigned char* from, std::size_t fill, unsigned char* to) {
    const std::size_t pages = fill / FILE_PAGE * FILE_PAGE;
    write_block(file, from, pages);
    std::memmove(to, from + pages, fill - pages);
    return fill - pages;
}

void write_stage_pages(NamedFile& file, StreamStage& stage) {
    stage.fill = static_cast<int>(write_pages(file, stage.buffer, static_cast<std::size_t>(stage.fill), stage.buffer));
}

}  // namespace

bool wide_trim_available() {
    return PACKRIFT_WIDE_TRIM && processor_has_avx2();
}

void use_wide_trim(bool wide) {
    wide_trim = wide && wide_trim_available();
}

int trim_before_padding(const unsigned char* data, int length) {
#if PACKRIFT_WIDE_TRIM
    if (wide_trim && length >= WIDE_TRIM_LEAST_LENGTH) {
        return trim_before_padding_wide(data, length);
    }
#endif
    return trim<false>(data, length, nullptr);
}

int copy_before_padding(const unsigned char* data, int length, unsigned char* to) {
#if PACKRIFT_WIDE_TRIM
    if (wide_trim && length >= WIDE_TRIM_LEAST_LENGTH) {
        return copy_before_padding_wide(data, length, to);
    }
#endif
    return trim<true>(data, length, to);
}

namespace {

// The trim with the places the count reads listed, in AVX2's registers: a
// step finds the count's codes with the padding code, in the same compares.
// A prefix that ends the payload needs no place: its code comes in the next
// payload, and the count keeps the prefix in its state. Elsewhere nothing is
// listed and the count reads the payload itself.
template <bool COPY>
int trim_marking(const unsigned char* data, int length, unsigned char* to, PrefixMarks& marks) {
    marks.count = 0;
    marks.complete = false;
#if PACKRIFT_WIDE_TRIM
    static_assert(static_cast<std::size_t>(WIDE_TRIM_MOST_MARKS) == MOST_MARKS);
    if (wide_trim && length >= WIDE_TRIM_LEAST_LENGTH) {
        int found = 0;
        const int kept = COPY ? copy_before_padding_wide(data, length, to, marks.ends.data(), found)
                              : trim_before_padding_wide(data, length, marks.ends.data(), found);
        marks.complete = found <= WIDE_TRIM_MOST_MARKS;
        marks.count = marks.complete ? static_cast<std::size_t>(found) : 0;
        return kept;
    }
#endif
    return COPY ? copy_before_padding(data, length, to) : trim_before_padding(data, length);
}

}  // namespace

int trim_before_padding(const unsigned char* data, int length, PrefixMarks& marks) {
    return trim_marking<false>(data, length, nullptr, marks);
}

int copy_before_padding(const unsigned char* data, int length, unsigned char* to, PrefixMarks& marks) {
    return trim_marking<true>(data, length, to, marks);
}

unsigned char* stage_room(Output& output, std::size_t room) {
    StreamStage& stage = stage_of(output);
    const std::size_t capacity = row_of(output.kind).stage;
    if (stage.buffer == nullptr) {
        stage.buffer = static_cast<unsigned char*>(allocate_block(capacity));
        if (stage.buffer == nullptr) {
            return nullptr;
        }
    }
    // The room asked for is never much more than a sector, so every block
    // written is nearly a whole stage: within a sector and a page of it.
    if (static_cast<std::size_t>(stage.fill) >= capacity - room) {
        write_stage_pages(output.file, stage);
    }
    return stage.buffer + stage.fill;
}

void stage_grow(const Output& output, std::size_t added) {
    stage_of(output).fill += static_cast<int>(added);
}

namespace {

// A payload (trimmed, for the video) written straight to its file; its length.
int write_trimmed(Output& output, const unsigned char* data, int length) {
    write_block(output.file, data, static_cast<std::size_t>(length));
    return length;
}

// The video's payload trimmed into the read block, or its stage, or without
// either to its file: copy trims it into a place, trim where it lies.
template <typename Copy, typename Trim>
int stage_video(Output& output, const Copy& copy, const Trim& trim) {
    if (in_block.output == &output && in_block.block != nullptr) {
        const int kept = copy(in_block.block + in_block.fill);
        in_block.fill += static_cast<std::size_t>(kept);
        return kept;
    }
    unsigned char* room = stage_room(output, SECTOR_SIZE);
    if (room == nullptr) {
        // Without a stage the payload still reaches its file, only in a smaller write.
        return trim();
    }
    const int kept = copy(room);
    stage_grow(output, static_cast<std::size_t>(kept));
    return kept;
}

}  // namespace

int stage_payload(Output& output, const unsigned char* data, int length) {
    if (row_of(output.kind).form == PayloadForm::wav) {
        return stage_wav_payload(output, data, length);
    }
    if (output.kind == StreamKind::video) {
        return stage_video(
            output, [data, length](unsigned char* to) { return copy_before_padding(data, length, to); },
            [&output, data, length] { return write_trimmed(output, data, trim_before_padding(data, length)); });
    }
    unsigned char* room = stage_room(output, SECTOR_SIZE);
    if (room == nullptr) {
        // Without a stage the payload still reaches its file, only in a smaller write.
        return write_trimmed(output, data, length);
    }
    std::memcpy(room, data, static_cast<std::size_t>(length));
    stage_grow(output, static_cast<std::size_t>(length));
    return length;
}

int stage_video_payload(Output& output, const unsigned char* data, int length, PrefixMarks& marks) {
    return stage_video(
        output, [data, length, &marks](unsigned char* to) { return copy_before_padding(data, length, to, marks); },
        [&output, data, length, &marks] { return write_trimmed(output, data, trim_before_padding(data, length, marks)); });
}

void stage_video_in_block(Output& output) {
    in_block = BlockStage{&output, nullptr, 0};
}

void video_batch_ends(unsigned char* block) {
    if (in_block.output == nullptr) {
        return;
    }
    NamedFile& file = in_block.output->file;
    if (block == nullptr) {
        write_block(file, in_block.block, in_block.fill);
        in_block.fill = 0;
    } else if (in_block.block != nullptr) {
        in_block.fill = write_pages(file, in_block.block, in_block.fill, block);
    } else {
        // An output opened while a batch was read staged that batch's
        // payloads: the stage's pages are written, the rest leads the block's
        // gathering, and the stage is let go.
        StreamStage& stage = stage_of(*in_block.output);
        if (stage.buffer != nullptr) {
            in_block.fill = write_pages(file, stage.buffer, static_cast<std::size_t>(stage.fill), block);
            release_block(stage.buffer);
            stage = StreamStage{};
        }
    }
    in_block.block = block;
}

void flush_stream(Output& output) {
    NamedFile& file = output.file;
    if (in_block.output == &output) {
        video_batch_ends(nullptr);
        in_block = BlockStage{};
    }
    StreamStage& stage = stage_of(output);
    if (stage.buffer != nullptr && stage.fill > 0) {
        write_block(file, stage.buffer, static_cast<std::size_t>(stage.fill));
    }
    release_block(stage.buffer);
    stage = StreamStage{};
    if (row_of(output.kind).form == PayloadForm::wav) {
        finish_wav(output);
    }
}

}  // namespace packrift

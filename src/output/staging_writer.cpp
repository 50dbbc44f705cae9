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

#include "output/wav_output.hpp"

namespace packrift {

namespace {

constexpr unsigned char PADDING_STREAM_ID = PADDING_STREAM_START_CODE & 0xFF;
constexpr int START_CODE_PREFIX_SIZE = 3;  // 00 00 01 before the stream id

std::array<StreamStage, MOST_OUTPUTS> stages;

// The video's payloads not yet written, where they lie, and their output;
// no output while the video is staged.
struct GatheredPayloads {
    NamedFile* file = nullptr;
    std::array<WritePiece, PIECES_PER_WRITE> pieces{};
    std::size_t count = 0;
};

GatheredPayloads gathered;

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
// called again after every id byte, a call each.
#if PACKRIFT_SSE2
constexpr std::size_t VECTOR_BYTES = sizeof(__m128i);
constexpr std::size_t VECTOR_STEP = 4 * VECTOR_BYTES;  // four compares a step

// The bytes of the 16 at bytes that are the padding id: all ones there, zeros elsewhere.
__m128i id_bytes(const unsigned char* bytes) {
    const __m128i ids = _mm_set1_epi8(static_cast<char>(PADDING_STREAM_ID));
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), ids);
}

// One bit for each of 16 bytes, the first byte's lowest.
std::uint64_t bits_of(__m128i bytes) {
    return static_cast<unsigned>(_mm_movemask_epi8(bytes));
}

// The first padding code whose id byte lies in the VECTOR_STEP bytes at at,
// or null. Most steps hold no id byte: one test of them all says so.
const unsigned char* padding_code_in_step(const unsigned char* at) {
    const __m128i first = id_bytes(at);
    const __m128i second = id_bytes(at + VECTOR_BYTES);
    const __m128i third = id_bytes(at + 2 * VECTOR_BYTES);
    const __m128i fourth = id_bytes(at + 3 * VECTOR_BYTES);
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

}  // namespace

int trim_before_padding(const unsigned char* data, int length) {
    if (length <= START_CODE_PREFIX_SIZE) {
        return length;
    }
    const unsigned char* end = data + length;
    const unsigned char* at = data + START_CODE_PREFIX_SIZE;  // the id byte needs its prefix in the payload
    const auto code_found = [data](const unsigned char* id) {
        return static_cast<int>(id - START_CODE_PREFIX_SIZE - data);
    };
#if PACKRIFT_SSE2
    for (; end - at >= static_cast<std::ptrdiff_t>(VECTOR_STEP); at += VECTOR_STEP) {
        if (const unsigned char* id = padding_code_in_step(at)) {
            return code_found(id);
        }
    }
#endif
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
    // written is nearly a whole stage: for payloads as they are 2,045,952
    // bytes or a little more, for a WAV's samples within 3 KB of that.
    if (static_cast<std::size_t>(stage.fill) >= capacity - room) {
        write_block(output.file, stage.buffer, static_cast<std::size_t>(stage.fill));
        stage.fill = 0;
    }
    return stage.buffer + stage.fill;
}

void stage_grow(const Output& output, std::size_t added) {
    stage_of(output).fill += static_cast<int>(added);
}

int stage_payload(Output& output, const unsigned char* data, int length) {
    if (row_of(output.kind).form == PayloadForm::wav) {
        return stage_wav_payload(output, data, length);
    }
    if (output.kind == StreamKind::video) {
        length = trim_before_padding(data, length);
        if (gathered.file == &output.file) {
            if (gathered.count == gathered.pieces.size()) {
                write_gathered_payloads();
            }
            if (length > 0) {
                gathered.pieces[gathered.count++] = {data, static_cast<std::size_t>(length)};
            }
            return length;
        }
    }
    unsigned char* room = stage_room(output, SECTOR_SIZE);
    if (room == nullptr) {
        // Without a stage the payload still reaches its file, only in a smaller write.
        write_block(output.file, data, static_cast<std::size_t>(length));
        return length;
    }
    std::memcpy(room, data, static_cast<std::size_t>(length));
    stage_grow(output, static_cast<std::size_t>(length));
    return length;
}

bool gather_video_payloads(Output& output) {
    NamedFile& file = output.file;
    gathered.count = 0;
    gathered.file = file.unbuffered && io_hooks().write_pieces != nullptr ? &file : nullptr;
    return gathered.file != nullptr;
}

void write_gathered_payloads() {
    if (gathered.file != nullptr && gathered.count > 0) {
        write_pieces(*gathered.file, gathered.pieces.data(), gathered.count);
    }
    gathered.count = 0;
}

void flush_stream(Output& output) {
    NamedFile& file = output.file;
    if (output.kind == StreamKind::video && gathered.file == &file) {
        write_gathered_payloads();
        gathered.file = nullptr;
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

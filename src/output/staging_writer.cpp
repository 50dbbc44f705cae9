#include "output/staging_writer.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "output/wav_output.hpp"

namespace packrift {

namespace {

constexpr unsigned char PADDING_STREAM_ID = PADDING_STREAM_START_CODE & 0xFF;
constexpr int START_CODE_PREFIX_SIZE = 3;  // 00 00 01 before the stream id

std::array<StreamStage, OUTPUT_KINDS> stages;

// The video's payloads not yet written, where they lie, and their output;
// no output while the video is staged.
struct GatheredPayloads {
    NamedFile* file = nullptr;
    std::array<WritePiece, PIECES_PER_WRITE> pieces{};
    std::size_t count = 0;
};

GatheredPayloads gathered;

StreamStage& stage_of(StreamKind kind) {
    return stages[index_of(kind)];
}

// The trim's word-wide test: a byte of a word is the padding id when the
// word XOR the id in every byte has a zero byte there. The high bits are
// kept out of the sum, so that no carry runs into the next byte and only
// the id bytes themselves are marked.
using Word = std::uint64_t;
constexpr std::size_t WORD_BYTES = sizeof(Word);
constexpr Word EVERY_BYTE = 0x0101010101010101;
constexpr Word LOW_SEVEN_BITS = 0x7F * EVERY_BYTE;

Word load_word(const unsigned char* bytes) {
    Word word = 0;
    std::memcpy(&word, bytes, WORD_BYTES);
    return word;
}

// One high bit for each byte of word that is the padding id, none for the others.
Word id_bytes_in(Word word) {
    const Word zero_where_id = word ^ (PADDING_STREAM_ID * EVERY_BYTE);
    return ~(((zero_where_id & LOW_SEVEN_BITS) + LOW_SEVEN_BITS) | zero_where_id | LOW_SEVEN_BITS);
}

// Whether the padding packet start code ends at id, whose three bytes
// before it are in the payload.
bool is_padding_code_at(const unsigned char* id) {
    return *id == PADDING_STREAM_ID && get_be32(id - START_CODE_PREFIX_SIZE, 0) == PADDING_STREAM_START_CODE;
}

}  // namespace

int trim_before_padding(const unsigned char* data, int length) {
    // Compressed video holds a padding id byte about every 256 bytes: the
    // payload is tested a word of 8 bytes at a time, two words a step, and
    // only the words that hold the id byte are looked at byte by byte, so
    // that the first whole code is found as a plain shift window finds it.
    if (length <= START_CODE_PREFIX_SIZE) {
        return length;
    }
    const unsigned char* end = data + length;
    const unsigned char* at = data + START_CODE_PREFIX_SIZE;  // the id byte needs its prefix in the payload
    while (end - at >= static_cast<std::ptrdiff_t>(2 * WORD_BYTES)) {
        if ((id_bytes_in(load_word(at)) | id_bytes_in(load_word(at + WORD_BYTES))) != 0) {
            for (const unsigned char* id = at; id < at + 2 * WORD_BYTES; ++id) {
                if (is_padding_code_at(id)) {
                    return static_cast<int>(id - START_CODE_PREFIX_SIZE - data);
                }
            }
        }
        at += 2 * WORD_BYTES;
    }
    for (; at < end; ++at) {
        if (is_padding_code_at(at)) {
            return static_cast<int>(at - START_CODE_PREFIX_SIZE - data);
        }
    }
    return length;
}

unsigned char* stage_room(StreamKind kind, NamedFile& file, std::size_t room) {
    StreamStage& stage = stage_of(kind);
    if (stage.buffer == nullptr) {
        stage.buffer = static_cast<unsigned char*>(allocate_block(STAGE_CAPACITY));
        if (stage.buffer == nullptr) {
            return nullptr;
        }
    }
    // The room asked for is never much more than a sector, so every block
    // written is nearly a whole stage: for payloads as they are 2,045,952
    // bytes or a little more, for a WAV's samples within 3 KB of that.
    if (static_cast<std::size_t>(stage.fill) >= STAGE_CAPACITY - room) {
        write_block(file, stage.buffer, static_cast<std::size_t>(stage.fill));
        stage.fill = 0;
    }
    return stage.buffer + stage.fill;
}

void stage_grow(StreamKind kind, std::size_t added) {
    stage_of(kind).fill += static_cast<int>(added);
}

int stage_payload(StreamKind kind, NamedFile& file, const unsigned char* data, int length) {
    if (row_of(kind).form == PayloadForm::wav) {
        return stage_wav_payload(kind, file, data, length);
    }
    if (kind == StreamKind::video) {
        length = trim_before_padding(data, length);
        if (gathered.file == &file) {
            if (gathered.count == gathered.pieces.size()) {
                write_gathered_payloads();
            }
            if (length > 0) {
                gathered.pieces[gathered.count++] = {data, static_cast<std::size_t>(length)};
            }
            return length;
        }
    }
    unsigned char* room = stage_room(kind, file, SECTOR_SIZE);
    if (room == nullptr) {
        // Without a stage the payload still reaches its file, only in a smaller write.
        write_block(file, data, static_cast<std::size_t>(length));
        return length;
    }
    std::memcpy(room, data, static_cast<std::size_t>(length));
    stage_grow(kind, static_cast<std::size_t>(length));
    return length;
}

bool gather_video_payloads(NamedFile& file) {
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

void flush_stream(StreamKind kind, NamedFile& file) {
    if (kind == StreamKind::video && gathered.file == &file) {
        write_gathered_payloads();
        gathered.file = nullptr;
    }
    StreamStage& stage = stage_of(kind);
    if (stage.buffer != nullptr && stage.fill > 0) {
        write_block(file, stage.buffer, static_cast<std::size_t>(stage.fill));
    }
    release_block(stage.buffer);
    stage = StreamStage{};
    if (row_of(kind).form == PayloadForm::wav) {
        finish_wav(file);
    }
}

}  // namespace packrift

#include "output/staging_writer.hpp"

#include <array>
#include <cstring>

#include "output/wav_output.hpp"

namespace packrift {

namespace {

constexpr unsigned char PADDING_STREAM_ID = PADDING_STREAM_START_CODE & 0xFF;
constexpr int START_CODE_PREFIX_SIZE = 3;  // 00 00 01 before the stream id

std::array<StreamStage, OUTPUT_KINDS> stages;

StreamStage& stage_of(StreamKind kind) {
    return stages[index_of(kind)];
}

}  // namespace

int trim_before_padding(const unsigned char* data, int length) {
    // Look for the id byte with memchr, then check the prefix before it:
    // far cheaper than a byte-by-byte shift window, and the same first match.
    if (length <= START_CODE_PREFIX_SIZE) {
        return length;
    }
    const unsigned char* end = data + length;
    const unsigned char* from = data + START_CODE_PREFIX_SIZE;
    while (from < end) {
        const auto* id = static_cast<const unsigned char*>(
            std::memchr(from, PADDING_STREAM_ID, static_cast<std::size_t>(end - from)));
        if (id == nullptr) {
            break;
        }
        if (get_be32(id - START_CODE_PREFIX_SIZE, 0) == PADDING_STREAM_START_CODE) {
            return static_cast<int>(id - START_CODE_PREFIX_SIZE - data);
        }
        from = id + 1;
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

void flush_stream(StreamKind kind, NamedFile& file) {
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

#include "output/staging_writer.hpp"

#include <cstring>

namespace packrift {

namespace {

constexpr unsigned char PADDING_STREAM_ID = PADDING_STREAM_START_CODE & 0xFF;
constexpr int START_CODE_PREFIX_SIZE = 3;  // 00 00 01 before the stream id

constexpr std::size_t STREAM_KINDS = 2;

StreamStage stages[STREAM_KINDS];

StreamStage& stage_of(StreamKind kind) {
    return stages[static_cast<std::size_t>(kind)];
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

int stage_payload(StreamKind kind, NamedFile& file, const unsigned char* data, int length) {
    if (kind == StreamKind::video) {
        length = trim_before_padding(data, length);
    }
    StreamStage& stage = stage_of(kind);
    if (stage.buffer == nullptr) {
        stage.buffer = static_cast<unsigned char*>(allocate_block(STAGE_CAPACITY));
    }
    if (stage.buffer == nullptr) {
        // Without a stage the payload still reaches its file, only in a smaller write.
        write_block(file, data, static_cast<std::size_t>(length));
        return length;
    }
    if (static_cast<std::size_t>(stage.fill) >= STAGE_FLUSH_MARK) {
        write_block(file, stage.buffer, static_cast<std::size_t>(stage.fill));
        stage.fill = 0;
    }
    std::memcpy(stage.buffer + stage.fill, data, static_cast<std::size_t>(length));
    stage.fill += length;
    return length;
}

void flush_stream(StreamKind kind, NamedFile& file) {
    StreamStage& stage = stage_of(kind);
    if (stage.buffer != nullptr && stage.fill > 0) {
        write_block(file, stage.buffer, static_cast<std::size_t>(stage.fill));
    }
    release_block(stage.buffer);
    stage.buffer = nullptr;
    stage.fill = 0;
}

}  // namespace packrift

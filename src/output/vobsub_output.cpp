#include "output/vobsub_output.hpp"

#include <cstring>

#include "output/staging_writer.hpp"

namespace packrift {

namespace {

// The sequence header of MPEG video (ISO/IEC 13818-2, 6.2.2.1): its start
// code, then the horizontal and the vertical size, 12 bits each.
constexpr std::uint32_t SEQUENCE_HEADER_CODE = 0x000001B3;
constexpr std::size_t START_CODE_SIZE = 4;
constexpr std::size_t PICTURE_SIZE_BYTES = 3;
constexpr unsigned SIZE_BITS = 12;
constexpr unsigned LOW_NIBBLE = 0x0F;
constexpr unsigned NIBBLE_BITS = 4;

struct SubpictureOutput {
    SubpictureUnits units;
    std::uint64_t written = 0;  // bytes given to the .sub: where the next pack lies
    WatchedVideo video;
};

SubpictureOutput output;

// The picture size of the first sequence header that lies whole in the payload.
void read_picture_size(const unsigned char* payload, std::size_t length) {
    const std::size_t needed = START_CODE_SIZE + PICTURE_SIZE_BYTES;
    for (std::size_t at = 0; at + needed <= length; ++at) {
        if (get_be32(payload, at) == SEQUENCE_HEADER_CODE) {
            const unsigned char* size = payload + at + START_CODE_SIZE;
            output.video.width = static_cast<int>(unsigned{size[0]} << NIBBLE_BITS | unsigned{size[1]} >> NIBBLE_BITS);
            output.video.height = static_cast<int>((unsigned{size[1]} & LOW_NIBBLE) << (SIZE_BITS - NIBBLE_BITS) | size[2]);
            return;
        }
    }
}

}  // namespace

int stage_subpicture_pack(NamedFile& file, const unsigned char* sector, std::size_t data_offset, int length,
                          PacketTime pts) {
    take_subpicture_packet(output.units, sector + data_offset, static_cast<std::size_t>(length), pts.has_value(),
                           pts.value_or(0), output.written);
    output.written += SECTOR_SIZE;
    unsigned char* room = stage_room(StreamKind::subpicture, file, SECTOR_SIZE);
    if (room == nullptr) {
        write_block(file, sector, SECTOR_SIZE);
    } else {
        std::memcpy(room, sector, SECTOR_SIZE);
        stage_grow(StreamKind::subpicture, SECTOR_SIZE);
    }
    return static_cast<int>(SECTOR_SIZE);
}

void watch_video_packet(const unsigned char* payload, int length, PacketTime pts) {
    if (!output.video.first_pts && pts) {
        output.video.first_pts = pts;
    }
    if (output.video.height == 0 && length > 0) {
        read_picture_size(payload, static_cast<std::size_t>(length));
    }
}

const WatchedVideo& watched_video() {
    return output.video;
}

const SubpictureUnits& finished_subpicture_units() {
    end_subpicture_units(output.units);
    return output.units;
}

void reset_subpicture_output() {
    output = SubpictureOutput{};
}

}  // namespace packrift

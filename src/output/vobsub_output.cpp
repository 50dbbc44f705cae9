#include "output/vobsub_output.hpp"

#include <cstring>
#include <vector>

#include "io/byte_view.hpp"
#include "output/staging_writer.hpp"

namespace packrift {

namespace {

// The sequence header of MPEG video (ISO/IEC 13818-2, 6.2.2.1): its start
// code, then the horizontal and the vertical size, 12 bits each, the aspect
// ratio and the frame rate code, 4 bits each.
constexpr std::uint32_t SEQUENCE_HEADER_CODE = 0x000001B3;
constexpr std::size_t START_CODE_SIZE = 4;
constexpr std::size_t SEQUENCE_FIELDS_SIZE = 4;
constexpr std::size_t SIZE_FIELDS_AT = START_CODE_SIZE;
constexpr std::size_t FRAME_RATE_AT = START_CODE_SIZE + 3;
constexpr unsigned SIZE_BITS = 12;
constexpr unsigned SIZE_MASK = 0xFFF;
constexpr unsigned FRAME_RATE_MASK = 0x0F;

// A picture's time in 90 kHz ticks for each frame rate code (ISO/IEC
// 13818-2, table 6-4), rounded to the tick: 23.976, 24, 25, 29.97, 30,
// 50, 59.94 and 60 frames a second; 0 for codes of no meaning.
constexpr std::uint64_t FRAME_PERIODS[16] = {0, 3754, 3750, 3600, 3003, 3000, 1800, 1502, 1500};

// A video PTS this far below the highest of the part read so far begins a
// new part whose timestamps start anew (the next VOB of a title): pictures
// out of order are never so far apart.
constexpr std::uint64_t RESTART_GAP = 90000;

// The units of each subpicture output, and where its next pack lies in its .sub.
struct SubpictureFile {
    SubpictureUnits units;
    std::uint64_t written = 0;
};

// By output slot, grown as subpicture outputs take packets.
std::vector<SubpictureFile> files;

SubpictureFile& file_of(const Output& sub) {
    if (sub.slot >= files.size()) {
        files.resize(sub.slot + 1);
    }
    return files[sub.slot];
}

// What the video says, for every subpicture output alike.
struct SubpictureOutput {
    WatchedVideo video;
    std::uint64_t highest_pts = 0;  // of the part being read
    std::uint64_t frame_period = 0;
    std::uint64_t part_offset = 0;  // added to the part's timestamps
    bool title_clock = false;       // the offsets are set from the title's clock
};

SubpictureOutput output;

// The picture size and the frame period of the first sequence header that
// lies whole in the payload.
void read_sequence_header(ByteView payload) {
    for (std::size_t at = 0; holds(payload, at, START_CODE_SIZE + SEQUENCE_FIELDS_SIZE); ++at) {
        if (read_be32(payload, at) == SEQUENCE_HEADER_CODE) {
            const std::uint32_t sizes = read_be32(payload, at + SIZE_FIELDS_AT) >> (32 - 2 * SIZE_BITS);
            output.video.width = static_cast<int>(sizes >> SIZE_BITS & SIZE_MASK);
            output.video.height = static_cast<int>(sizes & SIZE_MASK);
            output.frame_period = FRAME_PERIODS[read_u8(payload, at + FRAME_RATE_AT) & FRAME_RATE_MASK];
            return;
        }
    }
}

// Where the video's timestamps start anew, the part before ends with its
// highest PTS and one picture: the new part is put there, unless the
// title's clock places the parts.
void follow_video_clock(std::uint64_t pts) {
    const std::uint64_t below = (output.highest_pts - pts) % PTS_MODULUS;
    if (below > RESTART_GAP && below < PTS_MODULUS / 2) {
        if (!output.title_clock) {
            output.part_offset = (output.part_offset + below + output.frame_period) % PTS_MODULUS;
        }
        output.highest_pts = pts;
    } else if (below >= PTS_MODULUS / 2) {
        output.highest_pts = pts;
    }
}

}  // namespace

int stage_subpicture_pack(Output& sub, const unsigned char* sector, std::size_t data_offset, int length,
                          PacketTime pts) {
    SubpictureFile& file = file_of(sub);
    const std::uint64_t time = (pts.value_or(0) + output.part_offset) % PTS_MODULUS;
    take_subpicture_packet(file.units, sector + data_offset, static_cast<std::size_t>(length), pts.has_value(),
                           time, file.written);
    file.written += SECTOR_SIZE;
    unsigned char* room = stage_room(sub, SECTOR_SIZE);
    if (room == nullptr) {
        write_block(sub.file, sector, SECTOR_SIZE);
    } else {
        std::memcpy(room, sector, SECTOR_SIZE);
        stage_grow(sub, SECTOR_SIZE);
    }
    return static_cast<int>(SECTOR_SIZE);
}

void watch_video_packet(const unsigned char* payload, int length, PacketTime pts) {
    if (pts && !output.video.first_pts) {
        output.video.first_pts = pts;
        output.highest_pts = *pts;
    } else if (pts) {
        follow_video_clock(*pts);
    }
    if (output.video.height == 0 && length > 0) {
        read_sequence_header(view_of(payload, static_cast<std::size_t>(length)));
    }
}

void set_subpicture_part_offset(std::uint64_t offset) {
    output.title_clock = true;
    output.part_offset = offset % PTS_MODULUS;
}

void follow_own_subpicture_clock() {
    output.title_clock = false;
}

const WatchedVideo& watched_video() {
    return output.video;
}

const SubpictureUnits& finished_subpicture_units(const Output& sub) {
    SubpictureFile& file = file_of(sub);
    end_subpicture_units(file.units);
    return file.units;
}

void reset_subpicture_output() {
    output = SubpictureOutput{};
    files.clear();
}

}  // namespace packrift

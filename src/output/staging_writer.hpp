#pragma once
// Collects each stream's payloads in a large stage (the video's in the read
// block itself) and writes it to the stream's file in blocks of about 2 MB,
// each ending on a page boundary of the file.

#include <cstddef>

#include "demux/demux_common.hpp"
#include "io/file_io.hpp"
#include "output/picture_count.hpp"

namespace packrift {

// The stage of the video and of an audio output; a subpicture output's is
// smaller (the kind's table says).
inline constexpr std::size_t STAGE_CAPACITY = LARGE_STAGE;
// An append starts only below this mark, so a whole sector's payload always fits.
inline constexpr std::size_t STAGE_FLUSH_MARK = STAGE_CAPACITY - SECTOR_SIZE;

struct StreamStage {
    unsigned char* buffer = nullptr;
    int fill = 0;
};

// The length of a video payload up to the first padding packet start code
// (00 00 01 BE) that lies wholly inside it, or length when there is none.
int trim_before_padding(const unsigned char* data, int length);

// The same length, the payload's bytes up to there copied to to as they are
// read; to has room for length bytes, which may all be written.
int copy_before_padding(const unsigned char* data, int length, unsigned char* to);

// The same two, the picture count's prefixes marked in marks as the payload
// is read (count_pictures_marked), so that it is read once for both.
int trim_before_padding(const unsigned char* data, int length, PrefixMarks& marks);
int copy_before_padding(const unsigned char* data, int length, unsigned char* to, PrefixMarks& marks);

// Whether the trim can go 128 bytes a step in AVX2's registers: the build
// made that form and the processor runs it. It does then, unless turned off;
// both forms give the same for every payload, and the tests run each.
bool wide_trim_available();
void use_wide_trim(bool wide);

// Stages a payload of length bytes for output; returns the bytes accepted:
// for video the length after the padding trim, for a WAV output the sample
// bytes it made of the payload.
int stage_payload(Output& output, const unsigned char* data, int length);

// The same for the video output, the picture count's prefixes marked in
// marks by its trim.
int stage_video_payload(Output& output, const unsigned char* data, int length, PrefixMarks& marks);

// Room for up to room bytes (at most a sector's worth more than a payload)
// at the end of output's stage, the stage written out first when they would
// not fit; null when no stage can be had, and then what is made must go to
// the file straight. stage_grow then takes on the bytes put there.
unsigned char* stage_room(Output& output, std::size_t room);
void stage_grow(const Output& output, std::size_t added);

// Lets the video's payloads be gathered in the read block, in the lead
// before its batch and behind the sector being read, instead of in a stage
// of their own: video_batch_ends must then be called with the block before
// every read into it, and with null before its release. flush_stream ends it.
void stage_video_in_block(Output& output);
void video_batch_ends(unsigned char* block);

// Writes what output still holds to its file, finishes its form (a WAV
// header's sizes) and releases its stage.
void flush_stream(Output& output);

}  // namespace packrift

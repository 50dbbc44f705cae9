#pragma once
// The video's clock: the pictures of an MPEG-1 or MPEG-2 video elementary
// stream counted in fields as they are shown (ISO/IEC 13818-2 6.3.10), and
// the frame period its sequence header gives, so that a count of fields
// turns into exact 90 kHz ticks. The stream comes in pieces, as the pack
// loop finds its payloads; a start code may be split across them.

#include <array>
#include <cstddef>
#include <cstdint>

#include "io/byte_view.hpp"
#include "output/media_ticks.hpp"

namespace packrift {

// The bytes after a start code that the counter reads: the sequence
// header's frame_rate_code is in its fourth, the picture coding
// extension's flags in its third and fourth.
inline constexpr std::size_t PICTURE_FIELD_BYTES = 4;

struct PictureCounter {
    std::uint32_t recent = 0xFFFFFFFF;  // the last four bytes seen, across pieces
    bool gathering = false;
    std::uint8_t gathering_code = 0;    // the start code whose bytes are gathered
    std::array<unsigned char, PICTURE_FIELD_BYTES> gathered{};
    std::size_t gathered_count = 0;
    unsigned frame_rate_code = 0;       // 0 until a sequence header is read
    bool progressive_sequence = false;  // from the sequence extension
    std::int64_t pictures = 0;          // picture headers seen
    std::int64_t closed_fields = 0;     // fields of the pictures before the last
    int last_picture_fields = 0;        // the last picture's, 2 until its extension says
};

// Counts the pictures whose headers and extensions lie in piece, taking up
// what the pieces before it left open.
void count_pictures(PictureCounter& counter, ByteView piece);

// The places in a video payload where the prefix of a start code that the
// count reads ends (its 01, before 00, B3 or B5 in the payload), listed by
// the video trim as it reads the payload, so that the count need not read
// every byte again: each such place from the payload's third byte on, in
// order, up to the padding code the trim stopped at. Not complete where the
// trim could not list them all (a form of it that does not look, or more
// than MOST_MARKS): the count reads the payload itself then.
inline constexpr std::size_t MOST_MARKS = 64;

struct PrefixMarks {
    std::array<std::uint16_t, MOST_MARKS> ends{};
    std::size_t count = 0;
    bool complete = false;
};

// As count_pictures, the prefixes looked for only where marks lists them;
// the same count for every piece whose marks were made by the trim of it.
void count_pictures_marked(PictureCounter& counter, ByteView piece, const PrefixMarks& marks);

// The fields of every picture seen so far; the last picture's as its
// coding extension gives them when it has been read, two (one frame, as
// an MPEG-1 picture) otherwise.
std::int64_t counted_fields(const PictureCounter& counter);

// The frame period of the last sequence header's frame_rate_code (13818-2
// table 6-4): 3003 ticks at 30000/1001 Hz, 3600 at 25 Hz. False before a
// sequence header or for a reserved code.
bool frame_period(const PictureCounter& counter, Ticks& period);

// fields fields of a stream whose frame period is period: half a frame each.
Ticks fields_duration(const Ticks& period, std::int64_t fields);

}  // namespace packrift

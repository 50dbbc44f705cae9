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

// The places in a video payload where a start code's prefix may end, marked
// by the video trim as it reads the payload (a 01 after a 00), so that the
// count need not read every byte again: every place from 2 on where one
// ends is marked; a mark where none ends is passed over. A bit a byte, the
// payload's first byte the first word's lowest; after the words, one whose
// bit w says that word w holds a mark, so that the count finds the next
// mark in a step however far it lies. A word not said to is all zeros.
inline constexpr std::size_t MARKED_BYTES = 2048;  // a sector: more than any payload
inline constexpr std::size_t MARK_WORD_BITS = 64;
inline constexpr std::size_t MARK_WORDS = MARKED_BYTES / MARK_WORD_BITS;
static_assert(MARK_WORDS <= MARK_WORD_BITS);

struct PrefixMarks {
    std::array<std::uint64_t, MARK_WORDS + 1> words{};  // the last: which words hold a mark
};

// As count_pictures, the prefixes looked for only where marks says; the
// same count for every piece whose marks were made by the trim of it.
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

#include "output/picture_count.hpp"

#include <algorithm>
#include <bit>

// SSE2 is part of every x86-64 processor; elsewhere the search goes a byte a step.
#if defined(__SSE2__) || defined(_M_X64)
#define PACKRIFT_SSE2 1
#include <emmintrin.h>
#else
#define PACKRIFT_SSE2 0
#endif

namespace packrift {

namespace {

constexpr std::uint32_t START_CODE_PREFIX = 0x000001;
constexpr std::uint32_t PREFIX_MASK = 0x00FFFFFF;  // the three bytes before the last
constexpr std::uint32_t LAST_BYTE_MASK = 0xFF;
constexpr unsigned BYTE_BITS = 8;
constexpr std::uint8_t PICTURE_START = 0x00;
constexpr std::uint8_t SEQUENCE_HEADER = 0xB3;
constexpr std::uint8_t EXTENSION_START = 0xB5;

constexpr unsigned EXTENSION_ID_SHIFT = 4;
constexpr unsigned SEQUENCE_EXTENSION_ID = 1;
constexpr unsigned PICTURE_CODING_EXTENSION_ID = 8;
// Sequence extension: progressive_sequence is the 13th bit.
constexpr std::size_t SEQUENCE_EXTENSION_BYTES = 2;
constexpr unsigned PROGRESSIVE_SEQUENCE_BIT = 0x08;  // of its second byte
// Picture coding extension: picture_structure ends its third byte;
// top_field_first and repeat_first_field are in its fourth.
constexpr std::size_t STRUCTURE_BYTE = 2;
constexpr unsigned STRUCTURE_MASK = 0x3;
constexpr unsigned TOP_FIELD = 1;
constexpr unsigned BOTTOM_FIELD = 2;
constexpr std::size_t FLAGS_BYTE = 3;
constexpr unsigned TOP_FIELD_FIRST_BIT = 0x80;
constexpr unsigned REPEAT_FIRST_FIELD_BIT = 0x02;
// Sequence header: frame_rate_code is the low half of its fourth byte.
constexpr std::size_t FRAME_RATE_BYTE = 3;
constexpr unsigned FRAME_RATE_MASK = 0x0F;

// 6.3.10: a frame picture shows two fields, three with repeat_first_field;
// in a progressive sequence repeat_first_field shows the frame twice, or
// three times with top_field_first.
constexpr int FRAME_FIELDS = 2;
constexpr int REPEATED_FRAME_FIELDS = 3;
constexpr int DOUBLED_FRAME_FIELDS = 4;
constexpr int TRIPLED_FRAME_FIELDS = 6;

// Frame rates of frame_rate_code 1 to 8 as frames per 1001 or 1000
// seconds; 0 and 9 to 15 are reserved.
struct FrameRate {
    std::int64_t frames;
    std::int64_t seconds;
};
constexpr FrameRate FRAME_RATES[] = {{0, 0},        {24000, 1001}, {24, 1}, {25, 1},     {30000, 1001},
                                     {30, 1},       {50, 1},       {60000, 1001}, {60, 1}};

std::size_t gather_length(std::uint8_t code) {
    return code == SEQUENCE_HEADER || code == EXTENSION_START ? PICTURE_FIELD_BYTES : 0;
}

void read_picture_coding_extension(PictureCounter& counter) {
    if (counter.pictures == 0) {
        return;  // no picture to apply it to
    }
    const unsigned structure = counter.gathered[STRUCTURE_BYTE] & STRUCTURE_MASK;
    const bool top_first = (counter.gathered[FLAGS_BYTE] & TOP_FIELD_FIRST_BIT) != 0;
    const bool repeat = (counter.gathered[FLAGS_BYTE] & REPEAT_FIRST_FIELD_BIT) != 0;
    if (structure == TOP_FIELD || structure == BOTTOM_FIELD) {
        counter.last_picture_fields = 1;
    } else if (!repeat) {
        counter.last_picture_fields = FRAME_FIELDS;
    } else if (!counter.progressive_sequence) {
        counter.last_picture_fields = REPEATED_FRAME_FIELDS;
    } else {
        counter.last_picture_fields = top_first ? TRIPLED_FRAME_FIELDS : DOUBLED_FRAME_FIELDS;
    }
}

// The gathered bytes after a sequence header or extension start code.
void read_gathered(PictureCounter& counter) {
    if (counter.gathering_code == SEQUENCE_HEADER) {
        counter.frame_rate_code = counter.gathered[FRAME_RATE_BYTE] & FRAME_RATE_MASK;
        counter.progressive_sequence = false;  // until its sequence extension says
        return;
    }
    const unsigned id = counter.gathered[0] >> EXTENSION_ID_SHIFT;
    if (id == SEQUENCE_EXTENSION_ID) {
        counter.progressive_sequence = (counter.gathered[SEQUENCE_EXTENSION_BYTES - 1] & PROGRESSIVE_SEQUENCE_BIT) != 0;
    } else if (id == PICTURE_CODING_EXTENSION_ID) {
        read_picture_coding_extension(counter);
    }
}

void start_code(PictureCounter& counter, std::uint8_t code) {
    counter.gathering = gather_length(code) != 0;
    counter.gathering_code = code;
    counter.gathered_count = 0;
    if (code == PICTURE_START) {
        counter.closed_fields += counter.last_picture_fields;
        counter.last_picture_fields = FRAME_FIELDS;
        ++counter.pictures;
    }
}

// The first place at or after from (at least 2) where a start code's prefix
// ends, or size. A 01 byte comes every few dozen bytes of video and a
// prefix every few hundred: where the processor allows, sixteen bytes are
// loaded at once and their 01 and 00 bytes matched, which finds the ends
// of prefixes among the last fourteen.
std::size_t next_prefix_end(const unsigned char* bytes, std::size_t from, std::size_t size) {
    std::size_t at = from;
#if PACKRIFT_SSE2
    constexpr std::size_t VECTOR_BYTES = sizeof(__m128i);
    constexpr std::size_t STEP = 4 * VECTOR_BYTES;
    const __m128i zeros = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi8(1);
    // The places among sixteen where a 01 byte follows two zero bytes.
    const auto ends_at = [bytes, zeros, ones](std::size_t i) {
        const auto load = [bytes](std::size_t j) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + j)); };
        return _mm_and_si128(_mm_cmpeq_epi8(load(i), ones),
                             _mm_and_si128(_mm_cmpeq_epi8(load(i - 1), zeros), _mm_cmpeq_epi8(load(i - 2), zeros)));
    };
    for (; at + STEP <= size; at += STEP) {
        const __m128i first = ends_at(at);
        const __m128i second = ends_at(at + VECTOR_BYTES);
        const __m128i third = ends_at(at + 2 * VECTOR_BYTES);
        const __m128i fourth = ends_at(at + 3 * VECTOR_BYTES);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(first, second), _mm_or_si128(third, fourth))) == 0) {
            continue;
        }
        for (const __m128i& ends : {first, second, third, fourth}) {
            if (const int mask = _mm_movemask_epi8(ends); mask != 0) {
                return at + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
            }
            at += VECTOR_BYTES;
        }
    }
#endif
    for (; at < size; ++at) {
        if (bytes[at] == 1 && bytes[at - 1] == 0 && bytes[at - 2] == 0) {
            return at;
        }
    }
    return size;
}

// The first place listed at or after from, or size: the same as
// next_prefix_end's after the prefixes the count passes over.
std::size_t next_marked_prefix_end(std::size_t from, std::size_t size, const PrefixMarks& marks) {
    for (std::size_t k = 0; k < marks.count && k < MOST_MARKS; ++k) {
        if (marks.ends[k] >= from) {
            return std::min<std::size_t>(marks.ends[k], size);
        }
    }
    return size;
}

bool read_by_count(std::uint8_t code) {
    return code == PICTURE_START || code == SEQUENCE_HEADER || code == EXTENSION_START;
}

// Where the byte-by-byte reading may go on from at: at the first zero of
// the next start code's prefix, with the state the four bytes before it
// give; the bytes passed over start nothing. at itself while bytes are
// gathered, and where a prefix may have begun before at (its last byte
// read was 00, or a whole prefix).
template <typename NextPrefixEnd>
std::size_t skip_to_next_prefix(PictureCounter& counter, ByteView piece, std::size_t at,
                                const NextPrefixEnd& next_prefix_end) {
    constexpr std::size_t PREFIX_ZEROS = 2;
    constexpr std::size_t STATE_BYTES = 4;
    if (counter.gathering || (counter.recent & LAST_BYTE_MASK) == 0 ||
        (counter.recent & PREFIX_MASK) == START_CODE_PREFIX) {
        return at;
    }
    std::size_t next = next_prefix_end(at + PREFIX_ZEROS);
    // The start codes the count does not read (slices, a few dozen a picture;
    // GOP headers, user data) are passed over as well. After one the next
    // prefix cannot end before its code byte's second byte on.
    while (next + 1 < piece.size && !read_by_count(piece.bytes[next + 1])) {
        next = next_prefix_end(next + PREFIX_ZEROS);
    }
    if (next < at + PREFIX_ZEROS + STATE_BYTES) {
        return at;
    }
    if (next == piece.size) {
        // No code the count reads is left: the piece's last four bytes are
        // the state (any code among them is one passed over).
        counter.recent = read_be32(piece, piece.size - STATE_BYTES);
        return piece.size;
    }
    const std::size_t resume = next - PREFIX_ZEROS;
    counter.recent = read_be32(piece, resume - STATE_BYTES);
    return resume;
}

template <typename NextPrefixEnd>
void count_in(PictureCounter& counter, ByteView piece, const NextPrefixEnd& next_prefix_end) {
    // Most bytes are passed over many at a time instead of one by one.
    for (std::size_t at = skip_to_next_prefix(counter, piece, 0, next_prefix_end); at < piece.size;
         at = skip_to_next_prefix(counter, piece, at + 1, next_prefix_end)) {
        const std::uint8_t byte = read_u8(piece, at);
        const bool after_prefix = (counter.recent & PREFIX_MASK) == START_CODE_PREFIX;
        counter.recent = counter.recent << BYTE_BITS | byte;
        if (counter.gathering) {
            // A start code's prefix among the gathered bytes means they were
            // cut short: they are dropped, the next start code is read.
            if ((counter.recent & PREFIX_MASK) == START_CODE_PREFIX) {
                counter.gathering = false;
            } else {
                counter.gathered[counter.gathered_count++] = byte;
                if (counter.gathered_count == PICTURE_FIELD_BYTES) {
                    counter.gathering = false;
                    read_gathered(counter);
                }
            }
        }
        if (after_prefix) {
            start_code(counter, byte);
        }
    }
}

}  // namespace

void count_pictures(PictureCounter& counter, ByteView piece) {
    count_in(counter, piece, [piece](std::size_t from) { return next_prefix_end(piece.bytes, from, piece.size); });
}

void count_pictures_marked(PictureCounter& counter, ByteView piece, const PrefixMarks& marks) {
    if (!marks.complete) {
        count_pictures(counter, piece);
        return;
    }
    // Most payloads hold no code the count reads, and none begun before
    // them goes on in them: their last four bytes are the state then, as
    // the reading below would find.
    constexpr std::size_t STATE_BYTES = 4;
    constexpr std::size_t LEAST_SKIPPED = 6;  // the reading below reads shorter pieces byte by byte
    if (marks.count == 0 && piece.size >= LEAST_SKIPPED && !counter.gathering &&
        (counter.recent & LAST_BYTE_MASK) != 0 && (counter.recent & PREFIX_MASK) != START_CODE_PREFIX) {
        counter.recent = read_be32(piece, piece.size - STATE_BYTES);
        return;
    }
    count_in(counter, piece, [piece, &marks](std::size_t from) { return next_marked_prefix_end(from, piece.size, marks); });
}

std::int64_t counted_fields(const PictureCounter& counter) {
    return counter.closed_fields + counter.last_picture_fields;
}

bool frame_period(const PictureCounter& counter, Ticks& period) {
    if (counter.frame_rate_code == 0 || counter.frame_rate_code >= std::size(FRAME_RATES)) {
        return false;
    }
    const FrameRate& rate = FRAME_RATES[counter.frame_rate_code];
    period = ticks_fraction(TICKS_PER_SECOND * rate.seconds, rate.frames);
    return true;
}

Ticks fields_duration(const Ticks& period, std::int64_t fields) {
    return ticks_times(ticks_fraction(period.numerator, period.denominator * FRAME_FIELDS), fields);
}

}  // namespace packrift

#pragma once
// The video trim 128 bytes a step in AVX2's 32-byte registers, for
// processors that have them: a step takes fewer instructions than one of
// the 16-byte form's steps of 64 bytes.
// Built only where the compiler can make AVX2 code (PACKRIFT_WIDE_TRIM), and
// called only after processor_has_avx2() said yes.

#include <cstdint>

namespace packrift {

// Shorter payloads take the 16-byte form: the last step of this one reads
// back over the one before, which needs a whole step after the prefix.
inline constexpr int WIDE_TRIM_LEAST_LENGTH = 131;

// As trim_before_padding and copy_before_padding, for payloads of at least
// WIDE_TRIM_LEAST_LENGTH bytes.
int trim_before_padding_wide(const unsigned char* data, int length);
int copy_before_padding_wide(const unsigned char* data, int length, unsigned char* to);

// The same, listing in ends, in order, the place of the 01 of each start code
// the picture count reads (00, B3, B5) whose 01 lies from the payload's
// third byte to its last but one, before the padding code found; found is
// how many there were (more than WIDE_TRIM_MOST_MARKS, the room in ends,
// when they did not fit).
inline constexpr int WIDE_TRIM_MOST_MARKS = 64;
int trim_before_padding_wide(const unsigned char* data, int length, std::uint16_t* ends, int& found);
int copy_before_padding_wide(const unsigned char* data, int length, unsigned char* to, std::uint16_t* ends,
                             int& found);

}  // namespace packrift

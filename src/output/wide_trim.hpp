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

// The same, marking in marks (a bit a byte, 64 a word, zero before) the place
// of every 01 after a 00 whose 01 lies from the payload's third byte to its
// last but one and ends before the length returned, and maybe some after:
// the picture count's start codes, found in the same reading.
int trim_before_padding_wide(const unsigned char* data, int length, std::uint64_t* marks);
int copy_before_padding_wide(const unsigned char* data, int length, unsigned char* to, std::uint64_t* marks);

}  // namespace packrift

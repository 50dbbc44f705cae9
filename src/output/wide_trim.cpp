#include "output/wide_trim.hpp"

// This file alone is compiled for AVX2 (src/CMakeLists.txt). So that no
// function compiled here can stand in for another file's copy on a processor
// without AVX2, everything here has internal linkage and no inline function
// of a header is called: a copy the compiler made of one would be AVX2 code
// that the linker might keep for the whole program.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

namespace packrift {

namespace {

// The padding stream's start code, 00 00 01 BE (ISO/IEC 13818-1, Table
// 2-18), written out here rather than taken from the tool's shared header,
// whose inline functions this file must not compile.
constexpr unsigned char PADDING_ID = 0xBE;
constexpr unsigned char PREFIX_LAST_BYTE = 0x01;
constexpr std::ptrdiff_t PREFIX_SIZE = 3;  // 00 00 01 before the stream id
constexpr std::ptrdiff_t VECTOR_BYTES = sizeof(__m256i);
constexpr int VECTORS = 4;  // a step; fewer spend more on the loop than on the bytes
constexpr std::ptrdiff_t STEP = VECTORS * VECTOR_BYTES;
static_assert(WIDE_TRIM_LEAST_LENGTH == PREFIX_SIZE + STEP);

__m256i load(const unsigned char* bytes) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes));
}

// All ones in the bytes of the 32 at bytes that are the padding id with the
// prefix's 01 before them.
__m256i id_bytes(__m256i read, const unsigned char* bytes) {
    return _mm256_and_si256(_mm256_cmpeq_epi8(read, _mm256_set1_epi8(static_cast<char>(PADDING_ID))),
                            _mm256_cmpeq_epi8(load(bytes - 1), _mm256_set1_epi8(static_cast<char>(PREFIX_LAST_BYTE))));
}

// All ones in the bytes of the 32 at bytes whose two bytes before are 00 01:
// the byte after a start code's prefix, or a place the count passes over.
__m256i after_prefix_bytes(const unsigned char* bytes) {
    return _mm256_and_si256(_mm256_cmpeq_epi8(load(bytes - 1), _mm256_set1_epi8(static_cast<char>(PREFIX_LAST_BYTE))),
                            _mm256_cmpeq_epi8(load(bytes - 2), _mm256_setzero_si256()));
}

// Marks the 01 before each byte of the 32 at bytes that after_prefix_bytes
// found; from is the offset of the first byte's 01 in the payload. The
// marks' words end with one whose bit w says that word w holds a mark.
void mark(std::uint64_t* marks, std::ptrdiff_t from, __m256i found) {
    constexpr std::ptrdiff_t WORD_BITS = 64;
    constexpr std::ptrdiff_t MARKED_WORDS = 2048 / WORD_BITS;  // then the word of words marked
    const std::uint64_t bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(found));
    if (bits == 0) {
        return;
    }
    const std::ptrdiff_t word = from / WORD_BITS;
    const std::ptrdiff_t shift = from % WORD_BITS;
    marks[word] |= bits << shift;
    marks[MARKED_WORDS] |= std::uint64_t{1} << word;
    if (shift > WORD_BITS - VECTOR_BYTES) {
        marks[word + 1] |= bits >> (WORD_BITS - shift);
        marks[MARKED_WORDS] |= std::uint64_t{1} << (word + 1);
    }
}

// The first padding code whose id byte lies in the 32 bytes at bytes, or null.
const unsigned char* padding_code_in(const unsigned char* bytes) {
    auto places = static_cast<std::uint32_t>(_mm256_movemask_epi8(id_bytes(load(bytes), bytes)));
    for (const unsigned char* id = bytes; places != 0; ++id, places >>= 1) {
        if ((places & 1) != 0 && id[-PREFIX_SIZE] == 0 && id[1 - PREFIX_SIZE] == 0) {
            return id;
        }
    }
    return nullptr;
}

// The first padding code whose id byte lies in the STEP bytes at step, or
// null; the step copied to to first when COPY, and the count's prefixes in
// it marked when MARK (marks for the payload at data). About one step in
// five hundred holds an id byte after a 01: only then are its vectors
// looked at one by one, and the 00 00 before each such id byte. A prefix
// comes about every kilobyte of video, so its marks are made only in the
// steps that hold one.
template <bool COPY, bool MARK>
const unsigned char* padding_code_in_step(const unsigned char* step, unsigned char* to, const unsigned char* data,
                                          std::uint64_t* marks) {
    __m256i any = _mm256_setzero_si256();
    [[maybe_unused]] __m256i any_prefix = _mm256_setzero_si256();
    for (int v = 0; v < VECTORS; ++v) {
        const unsigned char* bytes = step + v * VECTOR_BYTES;
        const __m256i read = load(bytes);
        if constexpr (COPY) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + v * VECTOR_BYTES), read);
        }
        any = _mm256_or_si256(any, id_bytes(read, bytes));
        if constexpr (MARK) {
            any_prefix = _mm256_or_si256(any_prefix, after_prefix_bytes(bytes));
        }
    }
    if constexpr (MARK) {
        if (_mm256_testz_si256(any_prefix, any_prefix) == 0) {
            for (int v = 0; v < VECTORS; ++v) {
                const unsigned char* bytes = step + v * VECTOR_BYTES;
                mark(marks, bytes - 1 - data, after_prefix_bytes(bytes));
            }
        }
    }
    if (_mm256_testz_si256(any, any) != 0) {
        return nullptr;
    }
    for (int v = 0; v < VECTORS; ++v) {
        if (const unsigned char* id = padding_code_in(step + v * VECTOR_BYTES)) {
            return id;
        }
    }
    return nullptr;
}

// Steps from the id byte's first place on; then, unless the steps ended
// with the payload, its last STEP bytes, read back over the step before. No
// code ends in the bytes read again, or the step before would have found
// it, so the first found there is the payload's first.
template <bool COPY, bool MARK>
int trim_wide(const unsigned char* data, int length, unsigned char* to, std::uint64_t* marks) {
    const unsigned char* at = data + PREFIX_SIZE;
    std::ptrdiff_t left = length - PREFIX_SIZE;
    if constexpr (COPY) {
        std::memcpy(to, data, PREFIX_SIZE);
        to += PREFIX_SIZE;
    }
    for (;;) {
        for (; left >= STEP; left -= STEP, at += STEP) {
            if (const unsigned char* id = padding_code_in_step<COPY, MARK>(at, to, data, marks)) {
                return static_cast<int>(id - PREFIX_SIZE - data);
            }
            if constexpr (COPY) {
                to += STEP;
            }
        }
        if (left == 0) {
            return length;
        }
        at -= STEP - left;
        if constexpr (COPY) {
            to -= STEP - left;
        }
        left = STEP;
    }
}

}  // namespace

int trim_before_padding_wide(const unsigned char* data, int length) {
    return trim_wide<false, false>(data, length, nullptr, nullptr);
}

int copy_before_padding_wide(const unsigned char* data, int length, unsigned char* to) {
    return trim_wide<true, false>(data, length, to, nullptr);
}

int trim_before_padding_wide(const unsigned char* data, int length, std::uint64_t* marks) {
    return trim_wide<false, true>(data, length, nullptr, marks);
}

int copy_before_padding_wide(const unsigned char* data, int length, unsigned char* to, std::uint64_t* marks) {
    return trim_wide<true, true>(data, length, to, marks);
}

}  // namespace packrift

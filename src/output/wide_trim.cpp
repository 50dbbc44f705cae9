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
// The codes the picture count reads (ISO/IEC 13818-2, Table 6-1): picture,
// sequence header, extension.
constexpr unsigned char PICTURE_START_CODE = 0x00;
constexpr unsigned char SEQUENCE_HEADER_CODE = 0xB3;
constexpr unsigned char EXTENSION_START_CODE = 0xB5;
constexpr char LOW_HALF = 0x0F;
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

// All ones in the bytes of read that are the padding id or a code the count
// reads: no two of the four share a low half, so a byte is one of them when
// it is the one of its low half, looked up in a 16-byte table (the other
// halves hold a byte of another low half, which no byte matches).
__m256i wanted_codes(__m256i read) {
    constexpr char NONE = 0x00;  // of low half 0: matches no byte of another
    constexpr auto PICTURE = static_cast<char>(PICTURE_START_CODE);
    constexpr auto SEQUENCE = static_cast<char>(SEQUENCE_HEADER_CODE);
    constexpr auto EXTENSION = static_cast<char>(EXTENSION_START_CODE);
    constexpr auto PADDING = static_cast<char>(PADDING_ID);
    const __m256i table = _mm256_setr_epi8(PICTURE, NONE, NONE, SEQUENCE, NONE, EXTENSION, NONE, NONE, NONE, NONE,
                                           NONE, NONE, NONE, NONE, PADDING, NONE, PICTURE, NONE, NONE, SEQUENCE, NONE,
                                           EXTENSION, NONE, NONE, NONE, NONE, NONE, NONE, NONE, NONE, PADDING, NONE);
    const __m256i low = _mm256_and_si256(read, _mm256_set1_epi8(LOW_HALF));
    return _mm256_cmpeq_epi8(read, _mm256_shuffle_epi8(table, low));
}

// The same as id_bytes, for those bytes.
__m256i wanted_bytes(__m256i read, const unsigned char* bytes) {
    return _mm256_and_si256(wanted_codes(read),
                            _mm256_cmpeq_epi8(load(bytes - 1), _mm256_set1_epi8(static_cast<char>(PREFIX_LAST_BYTE))));
}

// Where the places the count reads are listed: room for
// WIDE_TRIM_MOST_MARKS, found of them so far (more when they did not fit).
struct Listed {
    std::uint16_t* ends;
    int found;
};

// Lists the place of a code's 01, unless a step before listed it (the last
// step reads back over the one before).
void list_place(Listed& listed, std::ptrdiff_t place) {
    if (listed.found > WIDE_TRIM_MOST_MARKS || (listed.found > 0 && place <= listed.ends[listed.found - 1])) {
        return;
    }
    if (listed.found < WIDE_TRIM_MOST_MARKS) {
        listed.ends[listed.found] = static_cast<std::uint16_t>(place);
    }
    ++listed.found;
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

// The places that places_of finds in the STEP bytes at step, all four
// vectors' in one; the step copied to to first when COPY.
template <bool COPY, typename PlacesOf>
__m256i step_places(const unsigned char* step, unsigned char* to, const PlacesOf& places_of) {
    __m256i any = _mm256_setzero_si256();
    for (int v = 0; v < VECTORS; ++v) {
        const unsigned char* bytes = step + v * VECTOR_BYTES;
        const __m256i read = load(bytes);
        if constexpr (COPY) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + v * VECTOR_BYTES), read);
        }
        any = _mm256_or_si256(any, places_of(read, bytes));
    }
    return any;
}

// The first padding code whose id byte lies in the STEP bytes at step, or
// null; the step copied to to first when COPY. About one step in five
// hundred holds an id byte after a 01: only then are its vectors looked at
// one by one, and the 00 00 before each such id byte.
template <bool COPY>
const unsigned char* padding_code_in_step(const unsigned char* step, unsigned char* to) {
    const __m256i any = step_places<COPY>(step, to, id_bytes);
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

// The same, the codes the count reads before the padding code listed (for
// the payload at data), found in the same compares: a picture's few among
// its slices' many, so most steps still hold none. A 01 00 comes about once
// a packet in compressed video: in a step that holds one, the 00 00 before
// each place found is matched too, so that only whole codes are looked at
// one by one. The step's compares are made again there rather than kept,
// which would store them every step; the constants stay in registers, no
// call between.
template <bool COPY>
const unsigned char* padding_code_listing(const unsigned char* step, unsigned char* to, const unsigned char* data,
                                          Listed& listed) {
    const __m256i any = step_places<COPY>(step, to, wanted_bytes);
    if (_mm256_testz_si256(any, any) != 0) {
        return nullptr;
    }
    const __m256i zeros = _mm256_setzero_si256();
    for (int v = 0; v < VECTORS; ++v) {
        const unsigned char* bytes = step + v * VECTOR_BYTES;
        const __m256i whole = _mm256_and_si256(wanted_bytes(load(bytes), bytes),
                                               _mm256_and_si256(_mm256_cmpeq_epi8(load(bytes - 2), zeros),
                                                                _mm256_cmpeq_epi8(load(bytes - PREFIX_SIZE), zeros)));
        // A bit at a time, as padding_code_in: no library function here.
        auto places = static_cast<std::uint32_t>(_mm256_movemask_epi8(whole));
        for (const unsigned char* id = bytes; places != 0; ++id, places >>= 1) {
            if ((places & 1) == 0) {
                continue;
            }
            if (*id == PADDING_ID) {
                return id;
            }
            list_place(listed, id - 1 - data);
        }
    }
    return nullptr;
}

// Steps from the id byte's first place on; then, unless the steps ended
// with the payload, its last STEP bytes, read back over the step before. No
// code ends in the bytes read again, or the step before would have found
// it, so the first found there is the payload's first.
template <bool COPY, bool LIST>
int trim_wide(const unsigned char* data, int length, unsigned char* to, Listed* listed) {
    const unsigned char* at = data + PREFIX_SIZE;
    std::ptrdiff_t left = length - PREFIX_SIZE;
    if constexpr (COPY) {
        std::memcpy(to, data, PREFIX_SIZE);
        to += PREFIX_SIZE;
    }
    for (;;) {
        for (; left >= STEP; left -= STEP, at += STEP) {
            const unsigned char* id = nullptr;
            if constexpr (LIST) {
                id = padding_code_listing<COPY>(at, to, data, *listed);
            } else {
                id = padding_code_in_step<COPY>(at, to);
            }
            if (id != nullptr) {
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

int trim_before_padding_wide(const unsigned char* data, int length, std::uint16_t* ends, int& found) {
    Listed listed{ends, 0};
    const int kept = trim_wide<false, true>(data, length, nullptr, &listed);
    found = listed.found;
    return kept;
}

int copy_before_padding_wide(const unsigned char* data, int length, unsigned char* to, std::uint16_t* ends,
                             int& found) {
    Listed listed{ends, 0};
    const int kept = trim_wide<true, true>(data, length, to, &listed);
    found = listed.found;
    return kept;
}

}  // namespace packrift

#pragma once
// A toy stand-in for CSS, shared by the test image writer (which scrambles
// a title set's packs with it) and the stand-in libdvdcss (which undoes
// it): a reversible keystream over a pack's bytes from 0x80 on, keyed per
// title set by the sector its title VOBs begin at, with the pack's PES
// scrambling bits set as CSS sets them. Not CSS: nothing of it is secret.

#include <cstddef>
#include <cstdint>

namespace packtest::toy_css {

inline constexpr std::size_t SECTOR = 2048;
inline constexpr std::size_t CLEAR_BYTES = 0x80;  // a pack's first bytes stay in the clear
inline constexpr std::size_t FLAGS_AT = 0x14;     // the first PES flags byte of the pack's first packet
inline constexpr unsigned SCRAMBLING_BITS = 0x30;
inline constexpr unsigned SCRAMBLED_MARK = 0x10;  // PES_scrambling_control 01

// The key of the title set whose VTS_nn_1.VOB begins at sector.
inline std::uint32_t key_of_title_set(std::uint32_t first_vob_sector) {
    return (first_vob_sector + 1) * 2654435761U ^ 0x5A17C3E9U;
}

inline void apply_keystream(unsigned char* sector, std::uint32_t key) {
    std::uint32_t state = key;
    for (std::size_t i = CLEAR_BYTES; i < SECTOR; ++i) {
        state = state * 1664525U + 1013904223U;
        sector[i] = static_cast<unsigned char>(sector[i] ^ (state >> 24));
    }
}

inline void scramble(unsigned char* sector, std::uint32_t key) {
    apply_keystream(sector, key);
    sector[FLAGS_AT] = static_cast<unsigned char>(sector[FLAGS_AT] | SCRAMBLED_MARK);
}

// As a decrypting read does to any sector whose scrambling bits are set:
// with the wrong key, garbage with the bits cleared.
inline void unscramble(unsigned char* sector, std::uint32_t key) {
    apply_keystream(sector, key);
    sector[FLAGS_AT] = static_cast<unsigned char>(sector[FLAGS_AT] & ~SCRAMBLING_BITS);
}

}  // namespace packtest::toy_css

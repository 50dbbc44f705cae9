#pragma once
// Field widths and codes of AC-3's syncinfo and bit stream information
// (ATSC A/52 5.3.1, 5.3.2, 5.4.2), shared by the header reader and the
// silence frame writer.

namespace packrift::ac3 {

inline constexpr unsigned SYNC_BITS = 16;
inline constexpr unsigned CRC_BITS = 16;
inline constexpr unsigned FSCOD_BITS = 2;
inline constexpr unsigned FRMSIZECOD_BITS = 6;
inline constexpr unsigned BSID_BITS = 5;
inline constexpr unsigned BSMOD_BITS = 3;
inline constexpr unsigned ACMOD_BITS = 3;
inline constexpr unsigned MIX_LEVEL_BITS = 2;
inline constexpr unsigned DSURMOD_BITS = 2;
inline constexpr unsigned DIALNORM_BITS = 5;

// cmixlev is present with three front channels (odd acmod but 1/0),
// surmixlev with surround channels, dsurmod for 2/0.
inline constexpr unsigned THREE_FRONT_BIT = 0x1;
inline constexpr unsigned SURROUND_BIT = 0x4;
inline constexpr unsigned ACMOD_MONO = 1;

inline bool has_cmixlev(unsigned acmod) {
    return (acmod & THREE_FRONT_BIT) != 0 && acmod != ACMOD_MONO;
}
inline bool has_surmixlev(unsigned acmod) {
    return (acmod & SURROUND_BIT) != 0;
}

}  // namespace packrift::ac3

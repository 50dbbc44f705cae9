#include "output/silence_frames.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "output/ac3_syntax.hpp"
#include "output/audio_frames.hpp"
#include "output/bit_fields.hpp"

namespace packrift {

namespace {

constexpr std::uint16_t CRC16_TOP_BIT = 0x8000;
constexpr unsigned CRC16_BITS = 16;
constexpr std::size_t CRC16_BYTES = 2;

// --- AC-3 (A/52 5.4.1 to 5.4.5, 6.1.7, 7.10) ---

constexpr std::size_t AC3_CRC1_OFFSET = 2;
constexpr std::size_t AC3_WORD_BYTES = 2;
constexpr int AC3_BLOCKS = 6;
// The bit stream information's flags after dialnorm (compre, langcode,
// audprodie), after dialnorm2 for 1+1 (the same three), and at its end
// (copyrightb, origbs, timecod1e, timecod2e, addbsie): all left 0.
constexpr unsigned BSI_FLAGS_AFTER_DIALNORM = 3;
constexpr unsigned BSI_FLAGS_AT_END = 5;

// Exponent strategy D45: one exponent for four bins, the fewest bits. With
// the bandwidth code 0 a channel ends at bin 73 (37 + 3 x (0 + 12)), which
// its absolute exponent and 6 groups of 3 differences cover (6 x 3 x 4 + 1).
constexpr unsigned EXPSTR_BITS = 2;
constexpr unsigned EXPSTR_REUSE = 0;
constexpr unsigned EXPSTR_D45 = 3;
constexpr unsigned CHBWCOD_BITS = 6;
constexpr int CHANNEL_EXPONENT_GROUPS = 6;
// The LFE channel: one bit of strategy (1: D15), 7 bins in 2 groups.
constexpr unsigned LFE_EXPSTR_NEW = 1;
constexpr int LFE_EXPONENT_GROUPS = 2;
constexpr unsigned ABSOLUTE_EXPONENT_BITS = 4;
constexpr unsigned EXPONENT_GROUP_BITS = 7;
constexpr unsigned GAINRNG_BITS = 2;
// The first exponent is 15, the largest absolute one; the differences then
// climb by +2, +2, +2 (group 124), +2, +1, 0 (group 117) to 24, the
// quietest, and stay (group 62: three differences of 0). A group codes
// its differences d1, d2, d3 as 25 (d1 + 2) + 5 (d2 + 2) + (d3 + 2).
constexpr std::uint32_t FIRST_EXPONENT = 15;
constexpr std::uint32_t EXPONENT_GROUPS[] = {124, 117};
constexpr std::uint32_t EXPONENTS_UNCHANGED = 62;
constexpr int REMATRIX_BANDS = 4;  // without coupling
// Bit allocation parameters: slow decay 2, fast decay 1, slow gain 1,
// dB per bit 2, floor 4, fast gain 4: usual values. With the coarse and
// fine SNR offsets 0 (the masking curve raised by 960) and exponents of 15
// and more (24, a power of 0, from bin 17 on), every bin's power lies
// below its masking curve, so each bin's allocation pointer is 0: no
// mantissa bits follow, and with dither off such bins decode to 0.
struct BitAllocationField {
    std::uint32_t value;
    unsigned bits;
};
constexpr BitAllocationField BIT_ALLOCATION_PARAMETERS[] = {{2, 2}, {1, 2}, {1, 2}, {2, 2}, {4, 3}};
constexpr unsigned CSNROFFST_BITS = 6;
constexpr unsigned FSNROFFST_BITS = 4;
constexpr std::uint32_t FGAINCOD = 4;
constexpr unsigned FGAINCOD_BITS = 3;

// --- MPEG audio (11172-3 2.4.1.5, 2.4.2.5, 2.4.3.1, tables 3-B.2; 13818-3 table B.1) ---

constexpr std::size_t MPEG_HEADER_BYTES = 4;
constexpr std::uint16_t MPEG_CRC_INIT = 0xFFFF;
constexpr std::size_t MPEG_CRC_HEADER_FROM = 2;  // its last 16 bits are checked
constexpr int LAYER_I = 1;
constexpr int LAYER_II = 2;
constexpr unsigned LAYER_I_SUBBANDS = 32;
constexpr unsigned LAYER_I_ALLOCATION_BITS = 4;
constexpr unsigned JOINT_STEREO_BOUND_STEP = 4;  // bound 4, 8, 12, 16 by mode_extension
constexpr std::size_t LAYER_II_MAX_SUBBANDS = 30;
constexpr int SMALL_TABLE_MAX_KBPS = 48;   // per channel, tables c and d
constexpr int LARGE_TABLE_MIN_KBPS = 96;   // per channel, table b at 44.1 and 32 kHz
constexpr int LAYER_II_48K_RATE = 48000;
constexpr int LAYER_II_32K_RATE = 32000;
// A Layer II allocation table: its subband limit and each subband's
// allocation field width (nbal).
struct AllocationTable {
    std::size_t subbands;
    std::array<unsigned char, LAYER_II_MAX_SUBBANDS> nbal;
};
constexpr AllocationTable TABLE_A = {27, {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2}};
constexpr AllocationTable TABLE_B = {30, {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3,
                                          3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2}};
constexpr AllocationTable TABLE_C = {8, {4, 4, 3, 3, 3, 3, 3, 3}};
constexpr AllocationTable TABLE_D = {12, {4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}};
constexpr AllocationTable TABLE_LOWER_RATES = {30, {4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2,
                                                    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}};

// The constant c with which the CRC of the bytes [from, to) of frame, c
// standing at from, is 0: the CRC is linear in GF(2), so with R the CRC
// of the region with c = 0 and f(c) that of c followed by zeros, f(c) = R
// is solved by elimination over f's 16 columns.
std::uint16_t crc_solving_word(const std::vector<unsigned char>& frame, std::size_t from, std::size_t to) {
    const ByteView view = view_of(frame.data(), frame.size());
    const std::uint16_t target = crc16_bytes(0, view, from, to);
    const std::size_t zero_bytes = to - from - CRC16_BYTES;
    // basis[b]: a column combination whose highest bit is b, and the bits
    // of c that make it.
    std::array<std::uint16_t, CRC16_BITS> basis{};
    std::array<std::uint16_t, CRC16_BITS> makes{};
    for (unsigned i = 0; i < CRC16_BITS; ++i) {
        std::uint16_t column = crc16_bits(0, 1U << i, CRC16_BITS);
        for (std::size_t z = 0; z < zero_bytes; ++z) {
            column = crc16_bits(column, 0, BITS_PER_BYTE);
        }
        auto made = static_cast<std::uint16_t>(1U << i);
        for (unsigned b = CRC16_BITS; b-- > 0;) {
            if (((column >> b) & 1U) == 0) {
                continue;
            }
            if (basis[b] == 0) {
                basis[b] = column;
                makes[b] = made;
                break;
            }
            column = static_cast<std::uint16_t>(column ^ basis[b]);
            made = static_cast<std::uint16_t>(made ^ makes[b]);
        }
    }
    std::uint16_t rest = target;
    std::uint16_t word = 0;
    for (unsigned b = CRC16_BITS; b-- > 0;) {
        if (((rest >> b) & 1U) != 0) {
            rest = static_cast<std::uint16_t>(rest ^ basis[b]);
            word = static_cast<std::uint16_t>(word ^ makes[b]);
        }
    }
    return word;
}

void write_word(std::vector<unsigned char>& frame, std::size_t at, std::uint16_t word) {
    frame[at] = static_cast<unsigned char>(word >> BITS_PER_BYTE);
    frame[at + 1] = static_cast<unsigned char>(word);
}

void write_ac3_bsi(BitWriter& out, const Ac3Header& header) {
    write_bits(out, AC3_SYNC_WORD, ac3::SYNC_BITS);
    write_bits(out, 0, CRC16_BITS);  // crc1, solved for at the end
    write_bits(out, header.fscod, ac3::FSCOD_BITS);
    write_bits(out, header.frmsizecod, ac3::FRMSIZECOD_BITS);
    write_bits(out, header.bsid, ac3::BSID_BITS);
    write_bits(out, header.bsmod, ac3::BSMOD_BITS);
    write_bits(out, header.acmod, ac3::ACMOD_BITS);
    if (ac3::has_cmixlev(header.acmod)) {
        write_bits(out, header.cmixlev, ac3::MIX_LEVEL_BITS);
    }
    if (ac3::has_surmixlev(header.acmod)) {
        write_bits(out, header.surmixlev, ac3::MIX_LEVEL_BITS);
    }
    if (header.acmod == AC3_ACMOD_STEREO) {
        write_bits(out, header.dsurmod, ac3::DSURMOD_BITS);
    }
    write_bits(out, header.lfeon, 1);
    write_bits(out, header.dialnorm, ac3::DIALNORM_BITS);
    write_bits(out, 0, BSI_FLAGS_AFTER_DIALNORM);
    if (header.acmod == AC3_ACMOD_DUAL_MONO) {
        write_bits(out, header.dialnorm2, ac3::DIALNORM_BITS);
        write_bits(out, 0, BSI_FLAGS_AFTER_DIALNORM);
    }
    write_bits(out, 0, BSI_FLAGS_AT_END);
}

void write_exponents(BitWriter& out, int groups) {
    write_bits(out, FIRST_EXPONENT, ABSOLUTE_EXPONENT_BITS);
    for (int group = 0; group < groups; ++group) {
        const auto index = static_cast<std::size_t>(group);
        write_bits(out, index < std::size(EXPONENT_GROUPS) ? EXPONENT_GROUPS[index] : EXPONENTS_UNCHANGED,
                   EXPONENT_GROUP_BITS);
    }
}

// An audio block (A/52 5.4.3): block 0 sets the strategies and exponents,
// the later ones reuse them. No coupling, no dynamic range word, no delta
// bit allocation, no skip field, and no mantissas.
void write_ac3_block(BitWriter& out, const Ac3Header& header, bool first) {
    const int channels = ac3_full_channels(header.acmod);
    write_bits(out, 0, static_cast<unsigned>(channels));  // blksw: long blocks
    write_bits(out, 0, static_cast<unsigned>(channels));  // dithflag: dither off
    write_bits(out, 0, 1);                                 // dynrnge
    if (header.acmod == AC3_ACMOD_DUAL_MONO) {
        write_bits(out, 0, 1);  // dynrng2e
    }
    write_bits(out, first ? 1 : 0, 1);  // cplstre, then cplinu 0
    if (first) {
        write_bits(out, 0, 1);
    }
    if (header.acmod == AC3_ACMOD_STEREO) {
        write_bits(out, first ? 1 : 0, 1);  // rematstr, then no band rematrixed
        if (first) {
            write_bits(out, 0, REMATRIX_BANDS);
        }
    }
    for (int ch = 0; ch < channels; ++ch) {
        write_bits(out, first ? EXPSTR_D45 : EXPSTR_REUSE, EXPSTR_BITS);
    }
    if (header.lfeon != 0) {
        write_bits(out, first ? LFE_EXPSTR_NEW : 0, 1);
    }
    if (first) {
        write_bits(out, 0, CHBWCOD_BITS * static_cast<unsigned>(channels));
        for (int ch = 0; ch < channels; ++ch) {
            write_exponents(out, CHANNEL_EXPONENT_GROUPS);
            write_bits(out, 0, GAINRNG_BITS);
        }
        if (header.lfeon != 0) {
            write_exponents(out, LFE_EXPONENT_GROUPS);
        }
    }
    write_bits(out, first ? 1 : 0, 1);  // baie
    if (first) {
        for (const BitAllocationField& field : BIT_ALLOCATION_PARAMETERS) {
            write_bits(out, field.value, field.bits);
        }
    }
    write_bits(out, first ? 1 : 0, 1);  // snroffste
    if (first) {
        write_bits(out, 0, CSNROFFST_BITS);
        const int fine_offsets = channels + (header.lfeon != 0 ? 1 : 0);
        for (int ch = 0; ch < fine_offsets; ++ch) {
            write_bits(out, 0, FSNROFFST_BITS);
            write_bits(out, FGAINCOD, FGAINCOD_BITS);
        }
    }
    write_bits(out, 0, 1);  // deltbaie
    write_bits(out, 0, 1);  // skiple
}

// The width of a Layer II frame's allocation fields, all subbands and
// channels (11172-3 2.4.1.6; 13818-3 for the lower rates).
unsigned layer_ii_allocation_bits(const MpegAudioHeader& header, int channels, unsigned bound) {
    const AllocationTable* table = &TABLE_LOWER_RATES;
    if (!header.lower_rates) {
        const int per_channel = header.bitrate_kbps / channels;
        if (per_channel <= SMALL_TABLE_MAX_KBPS) {
            table = header.sample_rate == LAYER_II_32K_RATE ? &TABLE_D : &TABLE_C;
        } else if (header.sample_rate == LAYER_II_48K_RATE || per_channel < LARGE_TABLE_MIN_KBPS) {
            table = &TABLE_A;
        } else {
            table = &TABLE_B;
        }
    }
    unsigned bits = 0;
    for (std::size_t sb = 0; sb < table->subbands; ++sb) {
        bits += table->nbal[sb] * (sb < bound ? static_cast<unsigned>(channels) : 1U);
    }
    return bits;
}

}  // namespace

std::uint16_t crc16_bits(std::uint16_t crc, std::uint32_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
        const bool feedback = ((crc & CRC16_TOP_BIT) != 0) != (((value >> i) & 1U) != 0);
        crc = static_cast<std::uint16_t>(crc << 1);
        if (feedback) {
            crc = static_cast<std::uint16_t>(crc ^ CRC16_POLYNOMIAL);
        }
    }
    return crc;
}

std::uint16_t crc16_bytes(std::uint16_t crc, ByteView view, std::size_t from, std::size_t to) {
    if (from > to || !holds(view, from, to - from)) {
        return crc;
    }
    for (std::size_t at = from; at < to; ++at) {
        crc = crc16_bits(crc, read_u8(view, at), BITS_PER_BYTE);
    }
    return crc;
}

bool ac3_silence_frame(ByteView bytes, std::size_t offset, std::vector<unsigned char>& frame) {
    Ac3Header header;
    if (!read_ac3_header(bytes, offset, header)) {
        return false;
    }
    const std::size_t words = ac3_frame_words(header.fscod, header.frmsizecod);
    BitWriter out{std::vector<unsigned char>(words * AC3_WORD_BYTES, 0), 0, false};
    write_ac3_bsi(out, header);
    for (int block = 0; block < AC3_BLOCKS; ++block) {
        write_ac3_block(out, header, block == 0);
    }
    // The rest is zero: auxiliary bits, auxdatae 0, crcrsv 0, then crc2.
    const std::size_t five_eighths = (words / 2 + words / 8) * AC3_WORD_BYTES;
    if (out.overrun || out.bit > (out.bytes.size() - CRC16_BYTES) * BITS_PER_BYTE) {
        return false;
    }
    // crc1 makes the CRC of the first 5/8 after the sync word 0; crc2, the
    // last word, that of the rest, and so of the whole frame after the sync word.
    write_word(out.bytes, AC3_CRC1_OFFSET, crc_solving_word(out.bytes, AC3_CRC1_OFFSET, five_eighths));
    const std::size_t crc2_at = out.bytes.size() - CRC16_BYTES;
    write_word(out.bytes, crc2_at, crc16_bytes(0, view_of(out.bytes.data(), out.bytes.size()), five_eighths, crc2_at));
    frame = std::move(out.bytes);
    return true;
}

bool mpeg_audio_silence_frame(ByteView bytes, std::size_t offset, std::vector<unsigned char>& frame) {
    MpegAudioHeader header;
    AudioFrame shape;
    if (!read_mpeg_audio_header(bytes, offset, header) || header.layer > LAYER_II ||
        !read_audio_frame(AudioCoding::mpeg_audio, bytes, offset, shape)) {
        return false;
    }
    if (shape.size < MPEG_HEADER_BYTES + CRC16_BYTES) {
        return false;
    }
    std::vector<unsigned char> out(shape.size, 0);
    ByteView source = sub_view(bytes, offset, MPEG_HEADER_BYTES);
    for (std::size_t i = 0; i < MPEG_HEADER_BYTES; ++i) {
        out[i] = read_u8(source, i);
    }
    if (header.has_crc && header.layer == LAYER_I && header.mode == MPEG_MODE_JOINT_STEREO) {
        // The CRC then covers the allocation fields that joint stereo
        // leaves (11172-3 2.4.3.1), but ffmpeg's decoder checks those of
        // full stereo: no frame both would take.
        return false;
    }
    if (header.has_crc) {
        const int channels = shape.layout.main_channels;
        const unsigned subbands = header.layer == LAYER_I ? LAYER_I_SUBBANDS : static_cast<unsigned>(LAYER_II_MAX_SUBBANDS);
        const unsigned bound = header.mode == MPEG_MODE_JOINT_STEREO
                                   ? (header.mode_extension + 1) * JOINT_STEREO_BOUND_STEP
                                   : subbands;
        const unsigned allocation_bits = header.layer == LAYER_I
                                             ? LAYER_I_ALLOCATION_BITS * (bound * static_cast<unsigned>(channels) + (LAYER_I_SUBBANDS - std::min(bound, LAYER_I_SUBBANDS)))
                                             : layer_ii_allocation_bits(header, channels, bound);
        std::uint16_t crc = crc16_bytes(MPEG_CRC_INIT, view_of(out.data(), out.size()), MPEG_CRC_HEADER_FROM, MPEG_HEADER_BYTES);
        for (unsigned bit = 0; bit < allocation_bits; ++bit) {
            crc = crc16_bits(crc, 0, 1);
        }
        write_word(out, MPEG_HEADER_BYTES, crc);
    }
    frame = std::move(out);
    return true;
}

}  // namespace packrift

#include "support/silence_headers.hpp"

#include <cstdio>

#include "output/ac3_syntax.hpp"
#include "output/audio_frames.hpp"
#include "output/bit_fields.hpp"

namespace packtest {

namespace {

namespace ac3 = packrift::ac3;

constexpr unsigned BSID = 8;
constexpr unsigned DIALNORM = 27;
constexpr std::size_t HEADER_BYTES = 10;

}  // namespace

std::vector<unsigned char> from_hex(const std::string& hex) {
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string ac3_header_hex(unsigned fscod, unsigned frmsizecod, unsigned acmod, unsigned lfeon) {
    packrift::BitWriter out{std::vector<unsigned char>(HEADER_BYTES, 0), 0, false};
    packrift::write_bits(out, packrift::AC3_SYNC_WORD, ac3::SYNC_BITS);
    packrift::write_bits(out, 0, ac3::CRC_BITS);
    packrift::write_bits(out, fscod, ac3::FSCOD_BITS);
    packrift::write_bits(out, frmsizecod, ac3::FRMSIZECOD_BITS);
    packrift::write_bits(out, BSID, ac3::BSID_BITS);
    packrift::write_bits(out, 0, ac3::BSMOD_BITS);  // bsmod: complete main
    packrift::write_bits(out, acmod, ac3::ACMOD_BITS);
    if (ac3::has_cmixlev(acmod)) {
        packrift::write_bits(out, 1, ac3::MIX_LEVEL_BITS);  // cmixlev -4.5 dB
    }
    if (ac3::has_surmixlev(acmod)) {
        packrift::write_bits(out, 1, ac3::MIX_LEVEL_BITS);  // surmixlev -6 dB
    }
    if (acmod == packrift::AC3_ACMOD_STEREO) {
        packrift::write_bits(out, 2, ac3::DSURMOD_BITS);  // dsurmod: Dolby Surround
    }
    packrift::write_bits(out, lfeon, 1);
    packrift::write_bits(out, DIALNORM, ac3::DIALNORM_BITS);
    packrift::write_bits(out, 0, 3);  // compre, langcode, audprodie
    if (acmod == packrift::AC3_ACMOD_DUAL_MONO) {
        packrift::write_bits(out, DIALNORM - 1, ac3::DIALNORM_BITS);
    }
    std::string hex;
    for (unsigned char byte : out.bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

std::vector<SilenceHeader> ac3_silence_headers() {
    // ffmpeg 6's ac3 encoder on a tone: "-b:a 448k -ac 6" at 48 kHz,
    // "-b:a 192k -ac 2", "-b:a 96k -ac 1 -ar 44100", "-b:a 64k -ac 2 -ar
    // 32000", "-b:a 160k -channel_layout 2.1 -ar 44100"; then every other
    // channel mode crafted, from the lowest bit rate to the highest.
    return {
        {"ac3_5.1_48k_448k", "0b77b50b1e40ebf8403eff99"},
        {"ac3_2.0_48k_192k", "0b77fe95144043e106f46370"},
        {"ac3_1.0_44k_96k", "0b771ef84c402f842be1877b"},
        {"ac3_2.0_32k_64k", "0b77b293884043e106f08218"},
        {"ac3_2.1_44k_160k", "0b775a12524047e106f3cdc3"},
        {"ac3_1+1_48k_32k", ac3_header_hex(0, 0, 0, 0)},
        {"ac3_3f_48k_640k", ac3_header_hex(0, 37, 3, 0)},
        {"ac3_2f1r_44k_96k", ac3_header_hex(1, 13, 4, 0)},
        {"ac3_3f1r_lfe_32k_128k", ac3_header_hex(2, 16, 5, 1)},
        {"ac3_2f2r_lfe_48k_384k", ac3_header_hex(0, 28, 6, 1)},
        {"ac3_5.1_44k_640k", ac3_header_hex(1, 37, 7, 1)},
        {"ac3_5.0_48k_32k", ac3_header_hex(0, 0, 7, 0)},
        {"ac3_1.1_48k_32k", ac3_header_hex(0, 0, 1, 1)},
    };
}

std::vector<SilenceHeader> mpeg_audio_silence_headers() {
    // ffmpeg 6's mp2 encoder on a tone ("-c:a mp2 -ac C -b:a B -ar R"),
    // which sets no CRC; the "crc" ones are the same headers with the
    // protection bit cleared, the joint stereo, dual channel and Layer I
    // ones crafted.
    return {
        {"mp2_2.0_48k_192k", "fffda404"},
        {"mp2_2.0_48k_384k", "fffde404"},
        {"mp2_1.0_44k_64k", "fffd40c4"},
        {"mp2_2.0_32k_64k", "fffd4804"},
        {"mp2_2.0_24k_64k", "fff58404"},
        {"mp2_2.0_48k_192k_crc", "fffca404"},
        {"mp2_2.0_48k_384k_crc", "fffce404"},
        {"mp2_1.0_44k_64k_crc", "fffc40c4"},
        {"mp2_1.0_48k_32k_crc", "fffc14c4"},
        {"mp2_2.0_32k_64k_crc", "fffc4804"},
        {"mp2_2.0_44k_256k_crc", "fffcc004"},
        {"mp2_2.0_24k_64k_crc", "fff48404"},
        {"mp2_1.0_16k_8k_crc", "fff418c4"},
        {"mp2_joint4_44k_128k_crc", "fffc8044"},
        {"mp2_joint16_48k_224k_crc", "fffcb474"},
        {"mp2_joint8_32k_96k_crc", "fffc6854"},
        {"mp2_dual_48k_192k_crc", "fffca484"},
        {"mp1_2.0_44k_384k_crc", "fffec004"},
        {"mp1_1.0_32k_64k_crc", "fffe28c4"},
    };
}

}  // namespace packtest

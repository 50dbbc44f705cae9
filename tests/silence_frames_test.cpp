#include "output/silence_frames.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "output/audio_frames.hpp"
#include "support/silence_headers.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

packrift::ByteView view(const Bytes& bytes) {
    return packrift::view_of(bytes.data(), bytes.size());
}

TEST(SilenceFrames, Crc16MatchesTheCatalogueCheckValues) {
    // "123456789": CRC-16/UMTS (init 0) gives 0xFEE8, CRC-16/CMS (init
    // 0xFFFF) 0xAEE7, both x^16 + x^15 + x^2 + 1 unreflected.
    const std::string text = "123456789";
    const Bytes bytes(text.begin(), text.end());
    EXPECT_EQ(packrift::crc16_bytes(0, view(bytes), 0, bytes.size()), 0xFEE8);
    EXPECT_EQ(packrift::crc16_bytes(0xFFFF, view(bytes), 0, bytes.size()), 0xAEE7);
    EXPECT_EQ(packrift::crc16_bytes(0x1234, view(bytes), 5, bytes.size() + 1), 0x1234) << "past the end: unchanged";
}

TEST(SilenceFrames, Ac3FramesKeepTheHeaderAndPassBothCrcs) {
    for (const packtest::SilenceHeader& row : packtest::ac3_silence_headers()) {
        const Bytes header = packtest::from_hex(row.hex);
        Bytes frame;
        ASSERT_TRUE(packrift::ac3_silence_frame(view(header), 0, frame)) << row.name;
        packrift::AudioFrame original;
        packrift::AudioFrame made;
        ASSERT_TRUE(packrift::read_audio_frame(packrift::AudioCoding::ac3, view(header), 0, original));
        ASSERT_TRUE(packrift::read_audio_frame(packrift::AudioCoding::ac3, view(frame), 0, made)) << row.name;
        EXPECT_EQ(frame.size(), original.size) << row.name;
        EXPECT_EQ(made.layout, original.layout) << row.name;
        packrift::Ac3Header in;
        packrift::Ac3Header out;
        ASSERT_TRUE(packrift::read_ac3_header(view(header), 0, in));
        ASSERT_TRUE(packrift::read_ac3_header(view(frame), 0, out));
        EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0) << row.name << ": a copied field differs";
        // A/52 7.10: the CRC of the first 5/8 after the sync word is 0, and so
        // is that of the whole frame after it.
        const std::size_t words = frame.size() / 2;
        const std::size_t five_eighths = (words / 2 + words / 8) * 2;
        EXPECT_EQ(packrift::crc16_bytes(0, view(frame), 2, five_eighths), 0) << row.name;
        EXPECT_EQ(packrift::crc16_bytes(0, view(frame), 2, frame.size()), 0) << row.name;
    }
}

TEST(SilenceFrames, MpegAudioFramesKeepTheHeaderAndAllocateNothing) {
    for (const packtest::SilenceHeader& row : packtest::mpeg_audio_silence_headers()) {
        const Bytes header = packtest::from_hex(row.hex);
        Bytes frame;
        ASSERT_TRUE(packrift::mpeg_audio_silence_frame(view(header), 0, frame)) << row.name;
        packrift::AudioFrame original;
        ASSERT_TRUE(packrift::read_audio_frame(packrift::AudioCoding::mpeg_audio, view(header), 0, original));
        ASSERT_EQ(frame.size(), original.size) << row.name;
        EXPECT_TRUE(std::equal(header.begin(), header.end(), frame.begin())) << row.name;
        const bool has_crc = (header[1] & 1U) == 0;
        const std::size_t zeros_from = has_crc ? 6 : 4;
        EXPECT_TRUE(std::all_of(frame.begin() + static_cast<std::ptrdiff_t>(zeros_from), frame.end(),
                                [](unsigned char byte) { return byte == 0; }))
            << row.name;
    }
}

TEST(SilenceFrames, RefusesWhatItCannotMake) {
    const std::string rows[] = {
        "0b77fe951440",  // AC-3 cut short
        "0b770000c04043e1",  // AC-3 sample rate code 3
        "fffb9004",      // Layer III
        "fffe8454",      // Layer I, joint stereo, with a CRC
        "fffd0404",      // free format
        "fffda4",        // MPEG cut short
        "7ffe8001fc3c75b0b6c00138",  // DTS
    };
    for (const std::string& hex : rows) {
        const Bytes header = packtest::from_hex(hex);
        Bytes frame;
        EXPECT_FALSE(packrift::ac3_silence_frame(view(header), 0, frame)) << hex;
        EXPECT_FALSE(packrift::mpeg_audio_silence_frame(view(header), 0, frame)) << hex;
        EXPECT_TRUE(frame.empty()) << hex;
    }
}

}  // namespace

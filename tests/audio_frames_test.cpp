#include "output/audio_frames.hpp"
#include "output/bit_fields.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

using packrift::AudioCoding;
using packrift::AudioFrame;
using Bytes = std::vector<unsigned char>;

Bytes from_hex(const std::string& hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

struct FrameRow {
    const char* what;
    AudioCoding coding;
    const char* header_hex;
    std::size_t size;  // 0: refused
    int samples;
    int sample_rate;
    const char* layout;
    std::int64_t ticks_numerator;
    std::int64_t ticks_denominator;
};

// The AC-3, MP2 and DTS headers are the first bytes of frames that ffmpeg
// 6 made from a tone ("ffmpeg -f lavfi -i sine=sample_rate=R -c:a ac3
// -b:a B -ac N -ar R x.ac3", likewise "-c:a mp2" and "-c:a dca -strict
// -2"; -channel_layout 2.1 for the AC-3 2/0 with LFE); the second MP2
// 44.1 kHz frame is padded. The MPEG Layer I and III headers are crafted,
// ffmpeg's DVD LPCM headers are those of its pcm_dvd encoder.
const FrameRow FRAME_ROWS[] = {
    {"AC-3 3/2+LFE 448k 48k", AudioCoding::ac3, "0b77b50b1e40ebf8", 1792, 1536, 48000, "5.1", 2880, 1},
    {"AC-3 2/0 192k 48k", AudioCoding::ac3, "0b77fe95144043e1", 768, 1536, 48000, "2.0", 2880, 1},
    {"AC-3 1/0 96k 44.1k, even code", AudioCoding::ac3, "0b771ef84c402f84", 416, 1536, 44100, "1.0", 153600, 49},
    {"AC-3 1/0 96k 44.1k, odd code", AudioCoding::ac3, "0b771ef84d402f84", 418, 1536, 44100, "1.0", 153600, 49},
    {"AC-3 2/0 64k 32k", AudioCoding::ac3, "0b77b293884043e1", 384, 1536, 32000, "2.0", 4320, 1},
    {"AC-3 2/0+LFE 160k 44.1k", AudioCoding::ac3, "0b775a12524047e1", 696, 1536, 44100, "2.1", 153600, 49},
    {"AC-3 1+1 640k 48k", AudioCoding::ac3, "0b7700002540080000", 2560, 1536, 48000, "1+1", 2880, 1},
    {"AC-3 sample rate code 3 is reserved", AudioCoding::ac3, "0b770000c04043e1", 0, 0, 0, "", 0, 1},
    {"AC-3 frame size code 38 is past the table", AudioCoding::ac3, "0b770000264043e1", 0, 0, 0, "", 0, 1},
    {"E-AC-3 (bsid 16) is not A/52's frame", AudioCoding::ac3, "0b770000148043e1", 0, 0, 0, "", 0, 1},
    {"AC-3 wrong sync word", AudioCoding::ac3, "0b76fe95144043e1", 0, 0, 0, "", 0, 1},
    {"AC-3 cut short before dialnorm", AudioCoding::ac3, "0b77fe951440", 0, 0, 0, "", 0, 1},
    {"DTS 5.1 48k", AudioCoding::dts, "7ffe8001fc3c75b276c00538", 1884, 512, 48000, "5.1", 960, 1},
    {"DTS 2.0 48k", AudioCoding::dts, "7ffe8001fc3c75b0b6c00138", 1884, 512, 48000, "2.0", 960, 1},
    {"DTS sample rate code 4 is invalid", AudioCoding::dts, "7ffe8001fc3c75b092c00138", 0, 0, 0, "", 0, 1},
    {"DTS 4 blocks are too few", AudioCoding::dts, "7ffe8001fc1075b0b6c00138", 0, 0, 0, "", 0, 1},
    {"DTS wrong sync word", AudioCoding::dts, "7ffe8000fc3c75b0b6c00138", 0, 0, 0, "", 0, 1},
    {"DTS cut short", AudioCoding::dts, "7ffe8001fc3c75b0b6c0", 0, 0, 0, "", 0, 1},
    {"MP2 stereo 192k 48k", AudioCoding::mpeg_audio, "fffda404", 576, 1152, 48000, "2.0", 2160, 1},
    {"MP2 stereo 384k 48k", AudioCoding::mpeg_audio, "fffde404", 1152, 1152, 48000, "2.0", 2160, 1},
    {"MP2 mono 64k 44.1k", AudioCoding::mpeg_audio, "fffd40c4", 208, 1152, 44100, "1.0", 115200, 49},
    {"MP2 mono 64k 44.1k, padded", AudioCoding::mpeg_audio, "fffd42c4", 209, 1152, 44100, "1.0", 115200, 49},
    {"MP2 stereo 64k 32k", AudioCoding::mpeg_audio, "fffd4804", 288, 1152, 32000, "2.0", 3240, 1},
    {"MP2 stereo 64k 24k (13818-3)", AudioCoding::mpeg_audio, "fff58404", 384, 1152, 24000, "2.0", 4320, 1},
    {"MP2 dual channel with CRC", AudioCoding::mpeg_audio, "fffca484", 576, 1152, 48000, "1+1", 2160, 1},
    {"Layer I 288k 44.1k, padded", AudioCoding::mpeg_audio, "ffff9204", 316, 384, 44100, "2.0", 38400, 49},
    {"Layer III 128k 44.1k", AudioCoding::mpeg_audio, "fffb9004", 417, 1152, 44100, "2.0", 115200, 49},
    {"Layer III 64k 22.05k (13818-3)", AudioCoding::mpeg_audio, "fff38004", 208, 576, 22050, "2.0", 115200, 49},
    {"MPEG free format", AudioCoding::mpeg_audio, "fffd0404", 0, 0, 0, "", 0, 1},
    {"MPEG bit rate index 15", AudioCoding::mpeg_audio, "fffdf404", 0, 0, 0, "", 0, 1},
    {"MPEG sampling frequency 3", AudioCoding::mpeg_audio, "fffdac04", 0, 0, 0, "", 0, 1},
    {"MPEG layer code 0", AudioCoding::mpeg_audio, "fff9a404", 0, 0, 0, "", 0, 1},
    {"MPEG cut short", AudioCoding::mpeg_audio, "fffda4", 0, 0, 0, "", 0, 1},
    {"LPCM 16-bit 48k stereo", AudioCoding::lpcm, "0c0180", 320, 80, 48000, "2.0", 150, 1},
    {"LPCM 24-bit 96k stereo", AudioCoding::lpcm, "0c9180", 960, 160, 96000, "2.0", 150, 1},
    {"LPCM 20-bit 96k 8 channels", AudioCoding::lpcm, "005f00", 3200, 160, 96000, "8.0", 150, 1},
    {"LPCM 24-bit 48k 6 channels", AudioCoding::lpcm, "0c8580", 1440, 80, 48000, "6.0", 150, 1},
    {"LPCM 44.1k is not DVD's", AudioCoding::lpcm, "0c2180", 0, 0, 0, "", 0, 1},
    {"LPCM cut short", AudioCoding::lpcm, "0c01", 0, 0, 0, "", 0, 1},
};

TEST(AudioFrames, ReadsSizeDurationAndLayoutOrRefusesTheHeader) {
    for (const FrameRow& row : FRAME_ROWS) {
        const Bytes header = from_hex(row.header_hex);
        AudioFrame frame;
        const bool valid = packrift::read_audio_frame(row.coding, packrift::view_of(header.data(), header.size()), 0, frame);
        EXPECT_EQ(valid, row.size != 0) << row.what;
        if (!valid || row.size == 0) {
            continue;
        }
        EXPECT_EQ(frame.size, row.size) << row.what;
        EXPECT_EQ(frame.samples, row.samples) << row.what;
        EXPECT_EQ(frame.sample_rate, row.sample_rate) << row.what;
        EXPECT_EQ(packrift::channel_layout_text(frame.layout), row.layout) << row.what;
        EXPECT_EQ(packrift::frame_duration(frame), (packrift::Ticks{row.ticks_numerator, row.ticks_denominator})) << row.what;
    }
}

TEST(AudioFrames, ReadsAtAnOffsetAndNeverPastTheBytesGiven) {
    const Bytes stream = from_hex("00112233" "0b77fe95144043e1");
    AudioFrame frame;
    const packrift::ByteView view = packrift::view_of(stream.data(), stream.size());
    EXPECT_TRUE(packrift::read_audio_frame(AudioCoding::ac3, view, 4, frame));
    EXPECT_EQ(frame.size, 768U);
    EXPECT_FALSE(packrift::read_audio_frame(AudioCoding::ac3, view, 0, frame));
    EXPECT_FALSE(packrift::read_audio_frame(AudioCoding::ac3, view, 5, frame));
    EXPECT_FALSE(packrift::read_audio_frame(AudioCoding::ac3, view, stream.size(), frame));
    EXPECT_FALSE(packrift::read_audio_frame(AudioCoding::ac3, view, stream.size() + 1, frame));
    // A view that ends inside the header, though the memory goes on.
    EXPECT_FALSE(packrift::read_audio_frame(AudioCoding::ac3, packrift::view_of(stream.data(), 9), 4, frame));
}

// Fields of every width from every bit of a byte, and across the view's
// end: each the bits a bit at a time give, zeros past the end, which marks
// the view overrun.
TEST(AudioFrames, BitFieldsReadAsTheirBitsOneByOne) {
    const Bytes bytes = from_hex("0b77a5c3f01e6d92");
    const auto bit_at = [&bytes](std::size_t bit) {
        return bit / 8 < bytes.size() ? (bytes[bit / 8] >> (7 - bit % 8)) & 1U : 0U;
    };
    for (std::size_t start = 0; start < 8 * bytes.size(); ++start) {
        for (unsigned count = 0; count <= 32; ++count) {
            packrift::BitReader reader{packrift::view_of(bytes.data(), bytes.size()), start};
            std::uint32_t expected = 0;
            for (unsigned i = 0; i < count; ++i) {
                expected = expected << 1 | bit_at(start + i);
            }
            ASSERT_EQ(packrift::read_bits(reader, count), expected) << start << " " << count;
            EXPECT_EQ(reader.bit, start + count);
            EXPECT_EQ(reader.view.overrun, start + count > 8 * bytes.size()) << start << " " << count;
        }
    }
}

TEST(AudioFrames, Ac3FrameSizesFollowTheTableAtEveryRate) {
    // A/52 table 5.18, its first, a middle and its last rows; 44.1 kHz's odd
    // codes carry one word more.
    struct Row {
        unsigned fscod, frmsizecod;
        std::size_t words;
    };
    const Row rows[] = {
        {0, 0, 64},    {1, 0, 69},    {1, 1, 70},    {2, 0, 96},     {0, 17, 256}, {1, 16, 278},
        {1, 17, 279},  {2, 17, 384},  {0, 37, 1280}, {1, 36, 1393}, {1, 37, 1394}, {2, 37, 1920},
        {0, 38, 0},    {3, 0, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(packrift::ac3_frame_words(row.fscod, row.frmsizecod), row.words) << row.fscod << " " << row.frmsizecod;
    }
}

TEST(AudioFrames, TicksStayExactOverManyFrames) {
    // 49 AC-3 frames at 44.1 kHz last 153600 ticks exactly, 1000 at 48 kHz
    // 2,880,000.
    EXPECT_EQ(packrift::ticks_times(packrift::Ticks{153600, 49}, 49), (packrift::Ticks{153600, 1}));
    EXPECT_EQ(packrift::ticks_times(packrift::Ticks{2880, 1}, 1000), (packrift::Ticks{2880000, 1}));
    std::int64_t whole = 0;
    EXPECT_FALSE(packrift::whole_ticks(packrift::ticks_times(packrift::Ticks{153600, 49}, 7), whole));
    EXPECT_TRUE(packrift::whole_ticks(packrift::ticks_times(packrift::Ticks{3003, 2}, 4), whole));
    EXPECT_EQ(whole, 6006);
}

}  // namespace

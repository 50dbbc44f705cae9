#include "output/lpcm_wav.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/pack_builder.hpp"
#include "support/run_binary.hpp"

namespace {

using packrift::LpcmFormat;
using packtest::Bytes;
using packtest::concat;

Bytes le(std::uint64_t value, int bytes) {
    Bytes out;
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    return out;
}

TEST(LpcmHeader, ReadsWordLengthRateAndChannelsAndRefusesReservedCodes) {
    // The first five are what ffmpeg's pcm_dvd encoder writes for the shape;
    // an empty text marks a header refused.
    const std::pair<Bytes, std::string> rows[] = {
        {{0x0C, 0x01, 0x80}, "16-bit, 48 kHz, 2 channels"},
        {{0x0C, 0x80, 0x80}, "24-bit, 48 kHz, 1 channel"},
        {{0x0C, 0x85, 0x80}, "24-bit, 48 kHz, 6 channels"},
        {{0x0C, 0x91, 0x80}, "24-bit, 96 kHz, 2 channels"},
        {{0x0C, 0x07, 0x80}, "16-bit, 48 kHz, 8 channels"},
        {{0x00, 0x5F, 0x00}, "20-bit, 96 kHz, 8 channels"},  // the reserved bit set
        {{0x0C, 0xC1, 0x80}, ""},                            // word length code 3 is reserved
        {{0x0C, 0x21, 0x80}, ""},                            // 44.1 kHz and
        {{0x0C, 0x31, 0x80}, ""},                            // 32 kHz are not DVD-Video's
        {{0x0C, 0x01}, ""},                                  // cut short
    };
    for (const auto& [header, text] : rows) {
        LpcmFormat format;
        EXPECT_EQ(packrift::read_lpcm_format(header.data(), header.size(), format), !text.empty()) << text;
        if (!text.empty()) {
            EXPECT_EQ(packrift::lpcm_format_text(format), text);
        }
    }
}

// Runs a command of the build machine's shell; true when it exits with 0.
bool run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool ffmpeg_to_wav(const std::filesystem::path& in, const std::filesystem::path& out, int bits) {
    return run("ffmpeg -nostdin -y -i '" + in.string() + "' -map 0:a:0 -c:a pcm_s" + (bits == 16 ? "16" : "24") +
               "le -fflags +bitexact -flags:a +bitexact -f wav '" + out.string() + "'");
}

// A chunk of a WAV file, its head included but for the data chunk.
Bytes chunk(const Bytes& wav, const std::string& id) {
    for (std::size_t at = 12; at + 8 <= wav.size();) {
        const std::size_t size = wav[at + 4] | wav[at + 5] << 8 | wav[at + 6] << 16 | std::size_t{wav[at + 7]} << 24;
        const auto head = wav.begin() + static_cast<long>(at);
        if (std::string(head, head + 4) == id) {
            return Bytes(head + (id == "data" ? 8 : 0), head + static_cast<long>(8 + size));
        }
        at += 8 + size + size % 2;
    }
    return {};
}

// A VOB of LPCM substream 0xA0 with the samples in packets of 2000 bytes;
// the first has a PTS, which ffmpeg's reader wants.
Bytes lpcm_vob(const LpcmFormat& format, const Bytes& samples) {
    const auto header = static_cast<unsigned char>((format.bits - 16) / 4 << 6 | (format.sample_rate == 96000) << 4 |
                                                   (format.channels - 1));
    Bytes vob;
    for (std::size_t at = 0; at < samples.size(); at += 2000) {
        const std::size_t length = std::min<std::size_t>(2000, samples.size() - at);
        Bytes body = {0xA0, 0x01, 0x00, 0x01, 0x00, header, 0x80};
        body.resize(body.size() + length);
        std::copy_n(samples.begin() + static_cast<long>(at), length, body.end() - static_cast<long>(length));
        Bytes sector = packtest::pack(packtest::PRIVATE_1, body, at == 0 ? 5 : 0);
        const Bytes one_second = {0x21, 0x00, 0x05, 0xBF, 0x21};
        if (at == 0) {
            std::copy(one_second.begin(), one_second.end(), sector.begin() + 23);
        } else {
            sector[21] = 0x00;  // PTS_DTS_flags 00
        }
        vob.insert(vob.end(), sector.begin(), sector.end());
    }
    return vob;
}

// The converter gets the samples in the packets a row gives, cut across
// groups, samples and frames, some of a few bytes; ffmpeg gets them in
// packets of 2000 bytes (it loses a packet that with the rest before it makes
// no whole unit). The expectations are what ffmpeg decodes and the format
// chunk of the WAV it writes: the channel mask, and the valid bits but for
// 20-bit samples, whose 20 it writes as 24; for 16-bit mono and stereo
// plain PCM, which it writes only up to 48 kHz.
TEST(LpcmConversion, GivesTheSamplesAndFormatChunkFfmpegGivesAndFfmpegReadsTheWav) {
#ifdef _WIN32
    GTEST_SKIP() << "ffmpeg runs on the build machine, not under Wine";
#endif
    if (!run("ffmpeg -version")) {
        GTEST_SKIP() << "needs ffmpeg";
    }
    const std::pair<LpcmFormat, std::vector<std::size_t>> rows[] = {
        {{16, 48000, 2}, {2000, 2000}},    {{16, 96000, 1}, {1001, 1, 998, 7}}, {{16, 48000, 3}, {1000, 5, 1001}},
        {{16, 48000, 6}, {1000, 5, 995}},  {{16, 48000, 8}, {1003, 2001}},      {{20, 48000, 1}, {1003, 3, 1000}},
        {{20, 96000, 2}, {1003, 997, 9}},  {{20, 48000, 3}, {1001, 17, 1000}},  {{20, 48000, 4}, {999, 1001}},
        {{20, 48000, 5}, {1000, 1, 1000}}, {{20, 48000, 6}, {2000, 490}},       {{20, 96000, 7}, {1999, 1, 1000}},
        {{20, 48000, 8}, {1000, 1000}},    {{24, 96000, 1}, {1001, 5, 612}},    {{24, 48000, 2}, {1000, 1, 1000}},
        {{24, 96000, 2}, {1999, 1999}},    {{24, 48000, 3}, {1000, 4, 1000}},   {{24, 48000, 4}, {1007, 1000}},
        {{24, 48000, 5}, {1001, 1000}},    {{24, 48000, 6}, {1001, 36, 1035}},  {{24, 48000, 7}, {2000, 2, 1000}},
        {{24, 48000, 8}, {1000, 1000, 23}},
    };
    const std::filesystem::path dir = packtest::scratch_dir("lpcm");
    unsigned seed = 0;
    for (const auto& [format, packets] : rows) {
        SCOPED_TRACE(packrift::lpcm_format_text(format));
        std::size_t total = 0;
        for (std::size_t size : packets) {
            total += size;
        }
        const Bytes samples = packtest::pattern(total, ++seed);
        packtest::write_file(dir / "in.vob", lpcm_vob(format, samples));
        ASSERT_TRUE(ffmpeg_to_wav(dir / "in.vob", dir / "ffmpeg.wav", format.bits));
        const Bytes by_ffmpeg = packtest::read_file(dir / "ffmpeg.wav");
        const Bytes expected = chunk(by_ffmpeg, "data");

        packrift::LpcmCarry carry;
        Bytes converted;
        std::size_t at = 0;
        for (std::size_t size : packets) {
            unsigned char out[packrift::LPCM_MAX_CONVERTED];
            converted.insert(converted.end(), out, out + packrift::convert_lpcm(carry, format, &samples[at], size, out));
            at += size;
        }
        EXPECT_EQ(converted, expected);
        EXPECT_EQ(packrift::lpcm_converted_size(format, total), expected.size());

        const packrift::WavHeader header = packrift::wav_header(format);
        const Bytes ours(header.bytes.begin(), header.bytes.begin() + static_cast<long>(header.size));
        Bytes format_chunk = chunk(by_ffmpeg, "fmt ");
        ASSERT_GE(format_chunk.size(), 24u);
        if (format.bits == 20) {
            format_chunk.at(26) = 20;  // wValidBitsPerSample
        }
        if (format.bits == 16 && format.channels <= 2) {
            format_chunk = concat({{'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0}, Bytes(&format_chunk[10], &format_chunk[24])});
        }
        EXPECT_EQ(chunk(ours, "fmt "), format_chunk);

        // ffmpeg reads the WAV as it is while streaming and once finished.
        const Bytes streaming = concat({ours, converted});
        const packrift::WavEnd end = packrift::wav_end(header, converted.size());
        Bytes finished = concat({streaming, Bytes(end.pad, 0)});
        for (std::size_t i = 0; i < end.patch_count; ++i) {
            const packrift::WavPatch& patch = end.patches[i];
            std::copy_n(patch.bytes.begin(), patch.length, finished.begin() + static_cast<long>(patch.offset));
        }
        for (const Bytes& wav : {streaming, finished}) {
            packtest::write_file(dir / "ours.wav", wav);
            ASSERT_TRUE(ffmpeg_to_wav(dir / "ours.wav", dir / "back.wav", format.bits));
            EXPECT_EQ(chunk(packtest::read_file(dir / "back.wav"), "data"), expected);
        }
    }
    std::filesystem::remove_all(dir);
}

// The RIFF size (the file less 8 bytes, with the pad byte after an odd data
// chunk) from 0xFFFFFFFF up makes the file RF64: the JUNK chunk after "WAVE"
// (at 12) becomes ds64 with the 64-bit sizes and the sample frame count.
TEST(WavEnd, PatchesTheSizesOrTurnsTheFileIntoRf64) {
    const std::uint64_t past_4_gib = 0xFFFFFFFF - 72;  // odd: 72 + it + the pad byte = 2^32
    const std::uint64_t five_gib = std::uint64_t{5} << 30;
    const Bytes rf64 = concat({{'R', 'F', '6', '4'}, le(0xFFFFFFFF, 4)});
    const Bytes ds64 = {'d', 's', '6', '4', 28, 0, 0, 0};
    const struct {
        LpcmFormat format;
        std::uint64_t sample_bytes;
        std::size_t pad;
        std::vector<std::pair<std::uint64_t, Bytes>> patches;
    } rows[] = {
        {{24, 48000, 1}, 999, 1, {{4, le(96 + 999 + 1, 4)}, {100, le(999, 4)}}},
        {{16, 48000, 2}, 0xFFFFFFFE - 72, 0, {{4, le(0xFFFFFFFE, 4)}, {76, le(0xFFFFFFFE - 72, 4)}}},
        {{16, 48000, 2}, past_4_gib, 1,
         {{0, rf64}, {12, concat({ds64, le(0x100000000, 8), le(past_4_gib, 8), le(past_4_gib / 4, 8), le(0, 4)})},
          {76, le(0xFFFFFFFF, 4)}}},
        {{24, 96000, 2}, five_gib, 0,
         {{0, rf64}, {12, concat({ds64, le(96 + five_gib, 8), le(five_gib, 8), le(five_gib / 6, 8), le(0, 4)})},
          {100, le(0xFFFFFFFF, 4)}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.sample_bytes);
        const packrift::WavEnd end = packrift::wav_end(packrift::wav_header(row.format), row.sample_bytes);
        EXPECT_EQ(end.pad, row.pad);
        EXPECT_EQ(end.rf64, row.patches.size() == 3);
        ASSERT_EQ(end.patch_count, row.patches.size());
        for (std::size_t i = 0; i < end.patch_count; ++i) {
            const auto& patch = end.patches[i];
            EXPECT_EQ(patch.offset, row.patches[i].first);
            EXPECT_EQ(Bytes(patch.bytes.begin(), patch.bytes.begin() + static_cast<long>(patch.length)),
                      row.patches[i].second);
        }
    }
}

}  // namespace

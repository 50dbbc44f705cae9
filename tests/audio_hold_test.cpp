#include "output/audio_hold.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "demux/pack_loop.hpp"
#include "output/audio_frames.hpp"
#include "output/silence_frames.hpp"
#include "output/staging_writer.hpp"
#include "output/wav_output.hpp"
#include "support/pack_builder.hpp"
#include "support/silence_headers.hpp"

namespace {

using packrift::StreamKind;
using packrift::Ticks;
using packtest::Bytes;

// 192 kbit/s stereo AC-3 at 48 kHz: 768 bytes, 32 ms (2880 ticks) a frame.
constexpr unsigned FRMSIZECOD_192 = 20;
constexpr std::size_t FRAME_BYTES = 768;
constexpr std::int64_t FRAME_TICKS = 2880;
constexpr std::uint64_t PART_0_START = 900000;  // each part's timestamps start anew
constexpr std::uint64_t PART_1_START = 63000;

Bytes ac3_frame() {
    const Bytes header = packtest::from_hex(packtest::ac3_header_hex(0, FRMSIZECOD_192, packrift::AC3_ACMOD_STEREO, 0));
    Bytes frame;
    packrift::ac3_silence_frame(packrift::view_of(header.data(), header.size()), 0, frame);
    return frame;
}

// Frames as DVD packs them: two to a packet, the packet's PTS that of its
// first frame, which the substream header's pointer names; a half frame
// more at the end when cut_short.
std::vector<Bytes> packets(int frames, std::uint64_t first_pts, bool cut_short) {
    const Bytes frame = ac3_frame();
    std::vector<Bytes> out;
    for (int i = 0; i < frames; i += 2) {
        Bytes payload = {0x80, 0x02, 0x00, 0x01};
        for (int j = i; j < frames && j < i + 2; ++j) {
            payload.insert(payload.end(), frame.begin(), frame.end());
        }
        if (cut_short && i + 2 >= frames) {
            payload.insert(payload.end(), frame.begin(), frame.begin() + FRAME_BYTES / 2);
        }
        const std::uint64_t pts = first_pts + static_cast<std::uint64_t>(i * FRAME_TICKS);
        out.push_back(packtest::with_pts(packtest::pack(packtest::PRIVATE_1, payload, 5), pts));
    }
    return out;
}

void hold_all(packrift::Output& output, const std::vector<Bytes>& sectors, std::size_t part,
              const packrift::TitleClock& clock) {
    for (const Bytes& sector : sectors) {
        const std::size_t start = packrift::payload_start(sector.data());
        const packrift::PayloadSpan span = packrift::payload_span(sector.data(), start + 4);
        packrift::hold_audio_packet(output, sector.data(), start, span.offset, span.length,
                                    packrift::packet_pts(sector.data()), part, clock);
    }
}

struct JoinCase {
    const char* label;
    int first_frames;       // of the part before the join
    bool cut_short;         // its last frame cut short by its end
    std::int64_t video_end; // its video's end, in ticks
    std::int64_t second_at; // the next part's first frame against its video start, in ticks
    std::uint64_t passed_over;
    std::uint64_t filled;
    int frames_in_file;     // the part before's kept, the silence, the next part's kept
    int joins_missing = 0;  // gaps too long to believe, left unfilled
};

TEST(AudioHold, AtAJoinTheAudioEndsWithItsPartsVideo) {
    constexpr std::int64_t SIXTEEN = 16 * FRAME_TICKS;
    const std::vector<JoinCase> cases = {
        {"audio 4 frames longer than its video: they are passed over", 20, false, SIXTEEN, 0, 4, 0, 16 + 10},
        {"audio 6 frames shorter: silence fills up to the next part", 10, false, SIXTEEN, 0, 0, 6, 10 + 6 + 10},
        {"the next part's audio 3.1 frames late in its part: 3 frames of silence", 16, false, SIXTEEN, 9000, 0, 3,
         16 + 3 + 10},
        {"the next part's audio 1.6 frames early: the frames before its video passed over", 16, false, SIXTEEN,
         -4500, 2, 0, 16 + 8},
        {"a frame cut short by the part's end is passed over", 10, true, SIXTEEN, 0, 1, 6, 10 + 6 + 10},
        {"a frame that starts more than half a frame before the video's end is kept", 17, false, SIXTEEN + 1500,
         0, 0, 0, 17 + 10},
        {"one that starts less than half a frame before it is passed over", 17, false, SIXTEEN + 1400, 0, 1, 0,
         16 + 10},
        {"the next part's audio 10 s late: filled", 16, false, SIXTEEN, 900000, 0, 312, 16 + 312 + 10},
        {"11 s late: broken timestamps, not filled but named", 16, false, SIXTEEN, 990000, 0, 0, 16 + 10, 1},
    };
    const auto path = std::filesystem::temp_directory_path() / "packrift-audio-hold.ac3";
    for (const JoinCase& row : cases) {
        SCOPED_TRACE(row.label);
        packrift::Output output{StreamKind::ac3_audio, 0, 0x80, 0, {}};
        packrift::NamedFile& file = output.file;
        ASSERT_TRUE(packrift::open_for_writing(file, path.string()));
        packrift::start_audio_holds({true});
        packrift::TitleClock clock;
        clock.following = true;
        clock.parts.push_back({true, false, PART_0_START, {}, false, {}});
        hold_all(output, packets(row.first_frames, PART_0_START, row.cut_short), 0, clock);
        const Ticks video_end = packrift::whole(row.video_end);
        packrift::end_part_of_audio_holds(0, video_end, true, {}, clock);
        clock.parts.push_back({true, false, PART_1_START, video_end, false, {}});
        hold_all(output, packets(10, static_cast<std::uint64_t>(static_cast<std::int64_t>(PART_1_START) + row.second_at), false), 1, clock);
        packrift::flush_audio_holds();
        packrift::flush_stream(output);
        packrift::close_file(file);
        const packrift::HoldReport& report = packrift::hold_report(output);
        EXPECT_EQ(report.passed_over, row.passed_over);
        EXPECT_EQ(report.filled, row.filled);
        EXPECT_EQ(report.joins_missing, row.joins_missing);
        EXPECT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(row.frames_in_file) * FRAME_BYTES);
        EXPECT_EQ(report.bytes, static_cast<std::uint64_t>(row.frames_in_file) * FRAME_BYTES);
    }
    std::filesystem::remove(path);
}

// A coding's frame as the hold takes it: the payload bytes after the
// substream header, and the LPCM header before an LPCM packet's samples.
struct Coding {
    const char* label;
    StreamKind kind;
    int substream;
    Bytes frame;
    Bytes lpcm_header;
    std::int64_t frame_ticks;
};

Bytes dts_frame() {
    // 48 kHz stereo, 512 samples in 1884 bytes, as ffmpeg's encoder makes it.
    Bytes frame = {0x7f, 0xfe, 0x80, 0x01, 0xfc, 0x3c, 0x75, 0xb0, 0xb6, 0xc0, 0x01, 0x38};
    frame.resize(1884, 0x11);
    return frame;
}

std::vector<Bytes> coded_packets(const Coding& coding, int frames, std::uint64_t first_pts) {
    std::vector<Bytes> out;
    for (int i = 0; i < frames; ++i) {
        // The pointer counts from 1, after the LPCM header for LPCM.
        Bytes payload = {static_cast<unsigned char>(coding.substream), 0x01, 0x00,
                         static_cast<unsigned char>(1 + coding.lpcm_header.size())};
        payload.insert(payload.end(), coding.lpcm_header.begin(), coding.lpcm_header.end());
        payload.insert(payload.end(), coding.frame.begin(), coding.frame.end());
        out.push_back(packtest::with_pts(packtest::pack(packtest::PRIVATE_1, payload, 5),
                                         first_pts + static_cast<std::uint64_t>(i * coding.frame_ticks)));
    }
    return out;
}

// Audio 4 frames shorter than its part's video: LPCM is filled with zero
// samples; DTS cannot be filled, and the gap is counted as missing.
TEST(AudioHold, LpcmIsFilledWithZerosAndDtsIsOnlyCut) {
    const std::vector<Coding> codings = {
        {"LPCM 16-bit stereo 48 kHz, 1/600 s a frame", StreamKind::lpcm_audio, 0xA0, Bytes(320, 0x21),
         {0x00, 0x01, 0x80}, 150},
        {"DTS 48 kHz", StreamKind::dts_audio, 0x88, dts_frame(), {}, 960},
    };
    const auto path = std::filesystem::temp_directory_path() / "packrift-audio-hold.out";
    for (const Coding& coding : codings) {
        SCOPED_TRACE(coding.label);
        packrift::Output output{coding.kind, 0, coding.substream, 0, {}};
        packrift::NamedFile& file = output.file;
        ASSERT_TRUE(packrift::open_for_writing(file, path.string()));
        packrift::reset_wav_output();
        packrift::start_audio_holds({true});
        packrift::TitleClock clock;
        clock.following = true;
        clock.parts.push_back({true, false, PART_0_START, {}, false, {}});
        const auto hold = [&](const std::vector<Bytes>& sectors, std::size_t part) {
            for (const Bytes& sector : sectors) {
                const std::size_t start = packrift::payload_start(sector.data());
                const packrift::PayloadSpan span = packrift::payload_span(sector.data(), start + 4);
                packrift::hold_audio_packet(output, sector.data(), start, span.offset, span.length,
                                            packrift::packet_pts(sector.data()), part, clock);
            }
        };
        hold(coded_packets(coding, 6, PART_0_START), 0);
        const Ticks video_end = packrift::whole(10 * coding.frame_ticks);
        packrift::end_part_of_audio_holds(0, video_end, true, {}, clock);
        clock.parts.push_back({true, false, PART_1_START, video_end, false, {}});
        hold(coded_packets(coding, 3, PART_1_START), 1);
        packrift::flush_audio_holds();
        packrift::flush_stream(output);
        packrift::close_file(file);
        const packrift::HoldReport& report = packrift::hold_report(output);
        const bool lpcm = coding.kind == StreamKind::lpcm_audio;
        EXPECT_EQ(report.filled, lpcm ? 4U : 0U);
        EXPECT_EQ(report.joins_missing, lpcm ? 0 : 1);
        EXPECT_EQ(report.missing, lpcm ? Ticks{} : packrift::whole(4 * coding.frame_ticks));
        const std::uint64_t frames_held = lpcm ? 6 + 4 + 3 : 6 + 3;
        EXPECT_EQ(report.bytes, frames_held * coding.frame.size());
        const Bytes written = packtest::read_file(path);
        if (lpcm) {
            // The WAV's samples: the part's, zeros, the next part's (16-bit samples swapped to little-endian).
            const std::size_t samples_at = written.size() - frames_held * 320;
            EXPECT_TRUE(std::all_of(written.begin() + static_cast<std::ptrdiff_t>(samples_at + 6 * 320),
                                    written.begin() + static_cast<std::ptrdiff_t>(samples_at + 10 * 320),
                                    [](unsigned char byte) { return byte == 0; }));
            EXPECT_EQ(written[samples_at + 10 * 320], 0x21);
        }
    }
    std::filesystem::remove(path);
}

// Five parts of 20 frames' video; the second part's DTS sound ends 10
// frames early and the fourth's begins 5 late. The file falls behind at
// two joins and stays behind at the others, which count nothing again.
TEST(AudioHold, AGapLeftUnfilledIsCountedOnceHoweverManyJoinsItOutlasts) {
    const Coding dts{"DTS 48 kHz", StreamKind::dts_audio, 0x88, dts_frame(), {}, 960};
    constexpr std::int64_t VIDEO_FRAMES = 20;
    const std::vector<std::pair<int, std::int64_t>> parts = {{20, 0}, {10, 0}, {20, 0}, {15, 5}, {20, 0}};
    const auto path = std::filesystem::temp_directory_path() / "packrift-audio-hold.dts";
    packrift::Output output{dts.kind, 0, dts.substream, 0, {}};
    ASSERT_TRUE(packrift::open_for_writing(output.file, path.string()));
    packrift::start_audio_holds({true});
    packrift::TitleClock clock;
    clock.following = true;
    for (std::size_t p = 0; p < parts.size(); ++p) {
        const std::uint64_t start = p % 2 == 0 ? PART_0_START : PART_1_START;
        const Ticks video_start = packrift::whole(static_cast<std::int64_t>(p) * VIDEO_FRAMES * dts.frame_ticks);
        clock.parts.push_back({true, false, start, video_start, false, {}});
        const auto [frames, late] = parts[p];
        for (const Bytes& sector : coded_packets(dts, frames, start + static_cast<std::uint64_t>(late * dts.frame_ticks))) {
            const std::size_t at = packrift::payload_start(sector.data());
            const packrift::PayloadSpan span = packrift::payload_span(sector.data(), at + 4);
            packrift::hold_audio_packet(output, sector.data(), at, span.offset, span.length,
                                        packrift::packet_pts(sector.data()), p, clock);
        }
        packrift::end_part_of_audio_holds(p, packrift::ticks_plus(video_start, packrift::whole(VIDEO_FRAMES * dts.frame_ticks)),
                                          true, {}, clock);
    }
    packrift::end_audio_holds();
    packrift::flush_stream(output);
    packrift::close_file(output.file);
    const packrift::HoldReport& report = packrift::hold_report(output);
    EXPECT_EQ(report.joins_missing, 2);
    EXPECT_EQ(report.missing, packrift::whole((10 + 5) * dts.frame_ticks));
    EXPECT_EQ(report.bytes, (20U + 10 + 20 + 15 + 20) * dts.frame.size());
    std::filesystem::remove(path);
}

}  // namespace

#include "front/stream_report.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/demux_run.hpp"

namespace {

using packtest::ac3_pack;
using packtest::Bytes;
using packtest::concat;
using packtest::pack;
using packtest::scrambled;
using packtest::pattern;
using packtest::video_pack;
using packtest::with_pts;

constexpr std::uint64_t TICKS_PER_SECOND = 90000;
constexpr std::uint64_t PTS_WRAP = std::uint64_t{1} << 33;
constexpr int HEADER_WITH_PTS = 5;

// The test packs' PES headers all have PTS_DTS_flags 10.
Bytes without_pts_flag(Bytes sector) {
    sector[21] = 0x00;
    return sector;
}

Bytes timed(std::uint32_t start_code, std::size_t length, std::uint64_t pts, unsigned seed = 1) {
    return with_pts(pack(start_code, pattern(length, seed), HEADER_WITH_PTS), pts);
}

Bytes timed_substream(int substream, std::size_t length, std::uint64_t pts, unsigned seed = 1) {
    return with_pts(ac3_pack(substream, pattern(length, seed), HEADER_WITH_PTS), pts);
}

// PES_scrambling_control 10, as a CSS-protected disc's packs have it.
constexpr unsigned CSS = 2;

// LPCM headers after the substream header: emphasis and frame number,
// word length, frequency and channels less one, dynamic range.
const Bytes LPCM_16_BIT_STEREO = {0x00, 0x01, 0x80};
const Bytes LPCM_20_BIT_STEREO = {0x00, 0x41, 0x80};

struct ReportCase {
    const char* label;
    Bytes input;
    std::string report;
};

std::string report_of(const Bytes& input, bool split) {
    const packrift::PackLoopHooks hooks = packrift::with_stream_report({});
    packtest::DemuxRequest request{split, split, 0, &hooks};
    packtest::run_demux(input, request);
    return packrift::stream_report();
}

TEST(StreamReport, ListsEachStreamInTheOrderOfItsFirstPack) {
    const Bytes padding_code = {0x00, 0x00, 0x01, 0xBE};
    const std::vector<ReportCase> cases = {
        {"every kind, with what a split writes of each",
         concat({pack(packtest::SYSTEM_HEADER, pattern(100, 1)), timed(packtest::VIDEO_0, 1000, 18000),
                 pack(packtest::PRIVATE_2, pattern(100, 2)), timed_substream(0x80, 500, 18000),
                 ac3_pack(0x88, pattern(300, 3)), with_pts(ac3_pack(0xA2, concat({LPCM_16_BIT_STEREO, pattern(400, 1)}), HEADER_WITH_PTS), 15840),
                 timed_substream(0x20, 200, 101970), timed_substream(0x40, 100, 0), timed(0x1C3, 600, 27000),
                 timed(0x1E1, 700, 0), pack(packtest::PADDING, pattern(100, 4)),
                 video_pack(concat({pattern(50, 5), padding_code, pattern(50, 6)})),
                 packtest::sector_of({0x00, 0x00, 0x01, 0xE0})}),
         "stream 0xE0 MPEG video: 2 packs, 1050 bytes, first PTS 0.200 s\n"
         "stream 0xBD 0x80 AC-3 (-audio 0): 1 pack, 500 bytes, first PTS 0.200 s, delay +0 ms\n"
         "stream 0xBD 0x88 DTS (-dts 0): 1 pack, 300 bytes\n"
         "stream 0xBD 0xA2 LPCM (-lpcm 2): 1 pack, 400 bytes, first PTS 0.176 s, delay -24 ms\n"
         "stream 0xBD 0x20 subpicture (-sub 0): 1 pack, 2048 bytes, 1 subpicture (0 forced, 1 malformed), first PTS "
         "1.133 s, delay +933 ms\n"
         "stream 0xBD 0x40 other: 1 pack, 100 bytes, first PTS 0.000 s\n"
         "stream 0xC3 MPEG audio (-mpa 3): 1 pack, 600 bytes, first PTS 0.300 s, delay +100 ms\n"
         "stream 0xE1 MPEG video: 1 pack, 700 bytes, first PTS 0.000 s\n"},
        {"the first PTS of a stream from its first packet that has one; no delay without video's",
         concat({video_pack(pattern(100, 1)), ac3_pack(0x80, pattern(100, 2)),  // flagged, too short for it
                 without_pts_flag(ac3_pack(0x80, pattern(100, 3), HEADER_WITH_PTS)),
                 timed_substream(0x80, 100, 45000), timed_substream(0x80, 100, 90000)}),
         "stream 0xE0 MPEG video: 1 pack, 100 bytes\n"
         "stream 0xBD 0x80 AC-3 (-audio 0): 4 packs, 400 bytes, first PTS 0.500 s\n"},
        {"a PTS wrap between video and audio, both ways",
         concat({timed(packtest::VIDEO_0, 100, PTS_WRAP - 900), timed_substream(0x80, 100, 900),
                 timed(packtest::VIDEO_0, 100, 900), timed_substream(0x81, 100, PTS_WRAP - 2700)}),
         "stream 0xE0 MPEG video: 2 packs, 200 bytes, first PTS 95443.708 s\n"
         "stream 0xBD 0x80 AC-3 (-audio 0): 1 pack, 100 bytes, first PTS 0.010 s, delay +20 ms\n"
         "stream 0xBD 0x81 AC-3 (-audio 1): 1 pack, 100 bytes, first PTS 95443.688 s, delay -20 ms\n"},
        {"half a millisecond rounds away from zero, less rounds to +0",
         concat({timed(packtest::VIDEO_0, 100, TICKS_PER_SECOND), timed_substream(0x80, 100, 90045),
                 timed_substream(0x81, 100, 89955), timed_substream(0x82, 100, 90044),
                 timed_substream(0x83, 100, 89956)}),
         "stream 0xE0 MPEG video: 1 pack, 100 bytes, first PTS 1.000 s\n"
         "stream 0xBD 0x80 AC-3 (-audio 0): 1 pack, 100 bytes, first PTS 1.001 s, delay +1 ms\n"
         "stream 0xBD 0x81 AC-3 (-audio 1): 1 pack, 100 bytes, first PTS 1.000 s, delay -1 ms\n"
         "stream 0xBD 0x82 AC-3 (-audio 2): 1 pack, 100 bytes, first PTS 1.000 s, delay +0 ms\n"
         "stream 0xBD 0x83 AC-3 (-audio 3): 1 pack, 100 bytes, first PTS 1.000 s, delay +0 ms\n"},
        {"LPCM counted as the WAV samples of the first packet's format",
         concat({ac3_pack(0xA0, concat({LPCM_20_BIT_STEREO, pattern(400, 1)})),
                 ac3_pack(0xA0, concat({LPCM_16_BIT_STEREO, pattern(400, 2)})),
                 ac3_pack(0xA0, concat({LPCM_20_BIT_STEREO, pattern(405, 3)}))}),
         // 805 bytes of 20-bit samples: 80 whole groups of 10, each 12 in 24-bit containers.
         "stream 0xBD 0xA0 LPCM (-lpcm 0): 3 packs, 960 bytes\n"},
        {"scrambled packs counted per stream",
         concat({scrambled(video_pack(pattern(100, 1)), CSS), video_pack(pattern(100, 2)),
                 scrambled(ac3_pack(0x80, pattern(100, 3)), CSS), scrambled(ac3_pack(0x80, pattern(100, 4)), CSS)}),
         "stream 0xE0 MPEG video: 2 packs, 200 bytes, 1 scrambled\n"
         "stream 0xBD 0x80 AC-3 (-audio 0): 2 packs, 200 bytes, 2 scrambled\n"},
        {"no streams at all",
         concat({pack(packtest::SYSTEM_HEADER, pattern(100, 1)), pack(packtest::PRIVATE_2, pattern(100, 2)),
                 Bytes(packtest::SECTOR, 0)}),
         "no streams found\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(report_of(c.input, false), c.report);
        // Splitting video and substream 0x80 at the same time counts the same bytes.
        EXPECT_EQ(report_of(c.input, true), c.report);
    }
}

}  // namespace

#include "demux/pack_loop.hpp"

#include <gtest/gtest.h>

#include <climits>

#include "support/demux_run.hpp"

namespace {

using packtest::ac3_pack;
using packtest::Bytes;
using packtest::concat;
using packtest::pack;
using packtest::pattern;
using packtest::run_demux;
using packtest::video_pack;

TEST(PackLoop, RoutesVideoStream0AndTheChosenSubstreamOnly) {
    const Bytes v1 = pattern(packtest::VIDEO_ROOM, 1);
    const Bytes v2 = pattern(700, 2);
    const Bytes a1 = pattern(packtest::AC3_ROOM, 3);
    const Bytes a2 = pattern(1500, 4);
    const Bytes input = concat({
        pack(packtest::SYSTEM_HEADER, pattern(1000, 5)),
        video_pack(v1),
        ac3_pack(0x81, pattern(600, 6)),  // another audio substream
        ac3_pack(0x80, a1),
        ac3_pack(0x20, pattern(600, 7)),  // a subpicture substream
        pack(0x1E1, pattern(600, 8)),     // video stream 1
        pack(0x1C0, pattern(600, 9)),     // MPEG audio
        pack(packtest::PRIVATE_2, pattern(600, 10)),
        Bytes(packtest::SECTOR, 0),       // a sector of zeros
        packtest::sector_of({0x00, 0x00, 0x01, 0xBB}),  // not a pack
        video_pack(v2, 7),
        ac3_pack(0x80, a2, 12),
    });
    const auto result = run_demux(input);
    EXPECT_EQ(result.video, concat({v1, v2}));
    EXPECT_EQ(result.audio, concat({a1, a2}));
    EXPECT_EQ(result.packs_found, 10);
    EXPECT_EQ(result.accepted, static_cast<long long>(v1.size() + v2.size() + a1.size() + a2.size()));
    EXPECT_FALSE(result.input_failed || result.video_failed || result.audio_failed);
}

TEST(PackLoop, StagesNothingForAnOutputThatIsNotOpen) {
    const Bytes input = concat({video_pack(pattern(100, 1)), ac3_pack(0x80, pattern(100, 2))});
    const auto result = run_demux(input, {false, false, 0});
    EXPECT_EQ(result.accepted, 0);
    EXPECT_EQ(result.packs_found, 2);
}

TEST(PackLoop, AudioNumberSelectsSubstream0x80PlusN) {
    const Bytes a = pattern(300, 1);
    const Bytes input = concat({ac3_pack(0x88, a), ac3_pack(0x20, a), ac3_pack(0x80, a)});
    EXPECT_EQ(run_demux(input, {false, true, 8}).audio, a);
    EXPECT_EQ(run_demux(input, {false, true, -96}).audio, a);
    for (int outside : {200, -129, INT_MAX, INT_MIN}) {
        EXPECT_TRUE(run_demux(input, {false, true, outside}).audio.empty()) << outside;
    }
}

// Every kind takes its own stream only, by the number after its option; a
// number outside the kind's range takes nothing, not a neighbour's stream.
TEST(PackLoop, EachKindTakesItsOwnStreamOnly) {
    const Bytes mpa = pattern(900, 1);
    const Bytes dts = pattern(800, 2);
    const Bytes other = pattern(700, 3);
    const Bytes input = concat({
        pack(0x1C0, other), pack(0x1C3, mpa), pack(0x1DF, other), video_pack(other),
        ac3_pack(0x80, other), ac3_pack(0x88, dts), ac3_pack(0x89, other), ac3_pack(0xA0, other),
    });
    struct Row {
        const char* label;
        packtest::DemuxRequest request;
        Bytes mpa;
        Bytes dts;
        Bytes audio;
    };
    const Row rows[] = {
        {"-mpa 3", {false, false, 0, nullptr, packtest::NOT_WANTED, 3}, mpa, {}, {}},
        {"-mpa 32 is not video 0xE0", {false, false, 0, nullptr, packtest::NOT_WANTED, 32}, {}, {}, {}},
        {"-mpa -1", {false, false, 0, nullptr, packtest::NOT_WANTED, -1}, {}, {}, {}},
        {"-dts 0", {false, false, 0, nullptr, packtest::NOT_WANTED, packtest::NOT_WANTED, 0}, {}, dts, {}},
        {"-dts 8 is not LPCM", {false, false, 0, nullptr, packtest::NOT_WANTED, packtest::NOT_WANTED, 8}, {}, {}, {}},
        {"-dts -8 is not AC-3", {false, false, 0, nullptr, packtest::NOT_WANTED, packtest::NOT_WANTED, -8}, {}, {}, {}},
        {"-audio 8 and -dts 0 both take 0x88", {false, true, 8, nullptr, packtest::NOT_WANTED, packtest::NOT_WANTED, 0},
         {}, dts, dts},
        {"-lpcm -32 is not AC-3", {false, false, 0, nullptr, -32}, {}, {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const auto result = run_demux(input, row.request);
        EXPECT_EQ(result.mpa, row.mpa);
        EXPECT_EQ(result.dts, row.dts);
        EXPECT_EQ(result.audio, row.audio);
        EXPECT_EQ(result.lpcm, Bytes{});
    }
}

TEST(PackLoop, APayloadEndsWithItsOwnPacket) {
    // The padding packet after a short AC-3 or video payload stays out.
    const Bytes a = pattern(900, 1);
    const Bytes v = pattern(100, 2);
    const auto result = run_demux(concat({ac3_pack(0x80, a), video_pack(v, 255)}));
    EXPECT_EQ(result.audio, a);
    EXPECT_EQ(result.video, v);
}

// Sets the 16-bit packet length field of a built pack.
Bytes with_packet_length(Bytes sector, unsigned length) {
    sector[18] = static_cast<unsigned char>(length >> 8);
    sector[19] = static_cast<unsigned char>(length);
    return sector;
}

TEST(PackLoop, APacketLengthOutsideTheSectorOrBeforeThePayloadRunsToTheSectorEnd) {
    Bytes sector = video_pack(pattern(packtest::VIDEO_ROOM, 1));
    const Bytes whole(sector.begin() + 23, sector.end());
    EXPECT_EQ(run_demux(with_packet_length(sector, 0xFFFF)).video, whole);
    EXPECT_EQ(run_demux(with_packet_length(sector, 2029)).video, whole);  // one byte past the sector
    EXPECT_EQ(run_demux(with_packet_length(sector, 0)).video, whole);     // ends before the payload
    EXPECT_EQ(run_demux(with_packet_length(sector, 3)).video, Bytes{});   // an empty payload
    EXPECT_EQ(run_demux(with_packet_length(sector, 13)).video, Bytes(whole.begin(), whole.begin() + 10));

    // An AC-3 packet that ends inside its substream header.
    Bytes audio = ac3_pack(0x80, pattern(packtest::AC3_ROOM, 2));
    const Bytes audio_whole(audio.begin() + 27, audio.end());
    EXPECT_EQ(run_demux(with_packet_length(audio, 5)).audio, audio_whole);
}

TEST(PackLoop, VideoIsStillTrimmedAtAPaddingCodeInsideItsPacket) {
    const Bytes v = concat({pattern(50, 1), {0x00, 0x00, 0x01, 0xBE}, pattern(50, 2)});
    EXPECT_EQ(run_demux(video_pack(v)).video, pattern(50, 1));
    // AC-3 data is never scanned for it.
    EXPECT_EQ(run_demux(ac3_pack(0x80, v)).audio, v);
}

}  // namespace

#include "output/audio_edges.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "demux/pack_loop.hpp"
#include "output/audio_frames.hpp"
#include "output/audio_hold.hpp"
#include "output/lpcm_wav.hpp"
#include "output/silence_frames.hpp"
#include "output/staging_writer.hpp"
#include "output/wav_output.hpp"
#include "support/pack_builder.hpp"
#include "support/silence_headers.hpp"

namespace {

using packrift::StreamKind;
using packtest::Bytes;

constexpr std::uint32_t MPEG_AUDIO_0 = 0x1C0;
constexpr std::size_t SUBSTREAM_HEADER = 4;
constexpr std::size_t LPCM_HEADER = 3;
constexpr std::size_t PES_TIMED_HEADER = 5;
constexpr std::uint64_t FIRST_PTS = 90000;

// A coding's frames as a muxer packs them: a payload of room bytes a
// packet, frames running on across packets, each packet's PTS that of the
// first frame that starts in it (its pointer names it, MPEG audio aside).
struct Coding {
    const char* label;
    StreamKind kind;
    int substream;  // -1: MPEG audio's own PES stream
    Bytes frame;
    std::int64_t frame_ticks;
};

Bytes ac3_frame() {
    const Bytes header = packtest::from_hex(packtest::ac3_header_hex(0, 8, packrift::AC3_ACMOD_STEREO, 0));
    Bytes frame;
    packrift::ac3_silence_frame(packrift::view_of(header.data(), header.size()), 0, frame);
    return frame;
}

Bytes dts_frame() {
    // 48 kHz stereo, 512 samples in 1884 bytes, as ffmpeg's encoder makes it.
    Bytes frame = {0x7f, 0xfe, 0x80, 0x01, 0xfc, 0x3c, 0x75, 0xb0, 0xb6, 0xc0, 0x01, 0x38};
    frame.resize(1884, 0x11);
    return frame;
}

Bytes mpeg_audio_frame() {
    // MPEG-1 Layer II, 192 kbit/s at 48 kHz, stereo, no CRC: 576 bytes, and
    // no bits allocated (silence). Its data holds what reads as the header
    // of a frame of 128 kbit/s, which no frame follows.
    Bytes frame = {0xff, 0xfd, 0xa4, 0x00};
    frame.resize(576, 0x00);
    constexpr std::size_t FALSE_SYNC_AT = 300;
    const Bytes false_sync = {0xff, 0xfd, 0x84, 0x00};
    std::copy(false_sync.begin(), false_sync.end(), frame.begin() + FALSE_SYNC_AT);
    return frame;
}

std::vector<Coding> codings() {
    return {
        {"AC-3", StreamKind::ac3_audio, 0x80, ac3_frame(), 2880},
        {"DTS", StreamKind::dts_audio, 0x88, dts_frame(), 960},
        {"MPEG audio", StreamKind::mpeg_audio, -1, mpeg_audio_frame(), 2160},
        {"LPCM, 16-bit stereo groups of 4 bytes", StreamKind::lpcm_audio, 0xA0, Bytes(320, 0x21), 150},
    };
}

// The stream's bytes from..to packed, as a title whose cells begin and end there gets them.
std::vector<Bytes> packets(const Coding& coding, const Bytes& stream, std::size_t from, std::size_t to) {
    const bool lpcm = coding.kind == StreamKind::lpcm_audio;
    const std::size_t header = coding.substream < 0 ? 0 : SUBSTREAM_HEADER + (lpcm ? LPCM_HEADER : 0);
    const std::size_t room = packtest::SECTOR - 14 - 9 - PES_TIMED_HEADER - header - 40;
    const std::size_t frame = coding.frame.size();
    std::vector<Bytes> out;
    for (std::size_t at = from; at < to; at += room) {
        const std::size_t end = std::min(to, at + room);
        const std::size_t first = (at + frame - 1) / frame * frame;  // the first frame that starts here
        const std::size_t pointer = first < end ? first - at + 1 + (lpcm ? LPCM_HEADER : 0) : 0;
        // Substream number, frame count, pointer; LPCM's 16 bits, 48 kHz, 2 channels.
        Bytes payload = {static_cast<unsigned char>(coding.substream), 1, static_cast<unsigned char>(pointer >> 8),
                         static_cast<unsigned char>(pointer), 0x00, 0x01, 0x80};
        payload.resize(header);
        payload.insert(payload.end(), stream.begin() + static_cast<std::ptrdiff_t>(at),
                       stream.begin() + static_cast<std::ptrdiff_t>(end));
        const std::uint32_t code = coding.substream < 0 ? MPEG_AUDIO_0 : packtest::PRIVATE_1;
        const auto pts = FIRST_PTS + static_cast<std::uint64_t>(first / frame) * static_cast<std::uint64_t>(coding.frame_ticks);
        out.push_back(packtest::with_pts(packtest::pack(code, payload, static_cast<int>(PES_TIMED_HEADER)), pts));
    }
    return out;
}

enum class Reader { edges, hold };

// What an output of the coding writes of the packets, read with its edges
// cut as a title without joins is, or through a hold as one with them.
Bytes written(const Coding& coding, const std::vector<Bytes>& sectors, Reader reader, packrift::EdgeCuts& cuts) {
    // Each test its own file: CTest runs them side by side.
    const auto path = std::filesystem::temp_directory_path() /
                      (std::string("packrift-audio-edges-") +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".out");
    packrift::Output output{coding.kind, 0, coding.substream < 0 ? 0xC0 : coding.substream, 0, {}};
    EXPECT_TRUE(packrift::open_for_writing(output.file, path.string()));
    packrift::reset_wav_output();
    packrift::start_audio_edges({reader == Reader::edges});
    packrift::start_audio_holds({reader == Reader::hold});
    packrift::TitleClock clock;
    clock.following = true;
    clock.parts.push_back({true, false, FIRST_PTS, {}, false, {}});
    const std::size_t skip = coding.substream < 0 ? 0 : SUBSTREAM_HEADER;
    for (const Bytes& sector : sectors) {
        const std::size_t start = packrift::payload_start(sector.data());
        const packrift::PayloadSpan span = packrift::payload_span(sector.data(), start + skip);
        if (reader == Reader::edges) {
            packrift::edge_audio_packet(output, sector.data(), start, span.offset, span.length);
        } else {
            packrift::hold_audio_packet(output, sector.data(), start, span.offset, span.length,
                                        packrift::packet_pts(sector.data()), 0, clock);
        }
    }
    packrift::end_audio_edges();
    packrift::end_audio_holds();
    packrift::flush_stream(output);
    packrift::close_file(output.file);
    cuts = reader == Reader::edges ? packrift::edge_report(output).cuts : packrift::hold_report(output).edges;
    packrift::start_audio_holds({});
    Bytes bytes = packtest::read_file(path);
    std::filesystem::remove(path);
    return bytes;
}

// LPCM's samples as the WAV holds them: 16-bit samples swapped to little-endian.
Bytes as_written(const Coding& coding, Bytes stream) {
    if (coding.kind == StreamKind::lpcm_audio) {
        for (std::size_t i = 0; i + 1 < stream.size(); i += 2) {
            std::swap(stream[i], stream[i + 1]);
        }
    }
    return stream;
}

struct EdgeCase {
    const char* label;
    double from;  // in frames of the stream
    double to;
    bool cut_start;
    bool cut_end;  // not for LPCM, whose WAV keeps whole groups itself
};

// A title that begins or ends inside a frame writes the whole frames
// between; one that begins and ends on frames writes every byte.
TEST(AudioEdges, ATitleBeginsAndEndsOnWholeFrames) {
    const std::vector<EdgeCase> cases = {
        {"on frames at both ends: every byte", 0, 12, false, false},
        {"begins inside a frame: its tail passed over", 2.4, 12, true, false},
        {"ends inside one: it is passed over", 0, 9.7, false, true},
        {"both", 1.5, 10.25, true, true},
    };
    for (const Coding& coding : codings()) {
        const bool lpcm = coding.kind == StreamKind::lpcm_audio;
        Bytes stream;
        for (int i = 0; i < 12; ++i) {
            Bytes frame = coding.frame;
            frame[frame.size() - 3] = static_cast<unsigned char>(i);  // no two frames alike
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        const std::size_t size = coding.frame.size();
        for (const EdgeCase& row : cases) {
            for (const Reader reader : {Reader::edges, Reader::hold}) {
                SCOPED_TRACE(std::string(coding.label) + ", " + row.label +
                             (reader == Reader::hold ? ", held" : ""));
                // LPCM ends wherever its groups do.
                const auto from = static_cast<std::size_t>(row.from * static_cast<double>(size)) / 4 * 4;
                const auto to = static_cast<std::size_t>(row.to * static_cast<double>(size)) / 4 * 4;
                packrift::EdgeCuts cuts;
                const Bytes out = written(coding, packets(coding, stream, from, to), reader, cuts);
                const std::size_t first = (from + size - 1) / size * size;
                const std::size_t last = lpcm ? to : to / size * size;
                const Bytes whole(stream.begin() + static_cast<std::ptrdiff_t>(first),
                                  stream.begin() + static_cast<std::ptrdiff_t>(last));
                const Bytes expected = as_written(coding, whole);
                // A WAV holds its header before the samples.
                const std::size_t header = lpcm ? packrift::wav_header({16, 48000, 2}).size : 0;
                ASSERT_EQ(out.size(), header + expected.size());
                EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(header), out.end()), expected);
                EXPECT_EQ(cuts.start, row.cut_start);
                EXPECT_EQ(cuts.end, row.cut_end && !lpcm);
            }
        }
    }
}

// Between the edges nothing is lost: bytes of no frame are written as they
// came, and a stream in which no frame is found at all is kept whole.
TEST(AudioEdges, WhatIsNoFrameIsWrittenAsItCame) {
    const Coding ac3 = codings().front();
    Bytes stream;
    for (int i = 0; i < 8; ++i) {
        stream.insert(stream.end(), ac3.frame.begin(), ac3.frame.end());
    }
    Bytes damaged = stream;
    damaged[3 * ac3.frame.size()] = 0x00;  // a frame's sync word gone
    packrift::EdgeCuts cuts;
    EXPECT_EQ(written(ac3, packets(ac3, damaged, 0, damaged.size()), Reader::edges, cuts), damaged);
    EXPECT_FALSE(cuts.start || cuts.end);

    Coding mpeg = codings()[2];
    const Bytes noise(20000, 0x55);  // never a frame header
    mpeg.frame = Bytes(500, 0x55);
    EXPECT_EQ(written(mpeg, packets(mpeg, noise, 0, noise.size()), Reader::edges, cuts), noise);
    EXPECT_FALSE(cuts.start || cuts.end);
}

}  // namespace

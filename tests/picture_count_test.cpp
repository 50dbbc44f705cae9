#include "output/picture_count.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <string>
#include <vector>

#include "output/staging_writer.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

// Picture kinds of the crafted streams: frame pictures with their
// top_field_first and repeat_first_field flags, field pictures, and an
// MPEG-1 picture (no coding extension).
enum class Shape { frame, frame_rff, frame_tff_rff, field, mpeg1 };

void append(Bytes& out, std::initializer_list<unsigned> bytes) {
    for (unsigned byte : bytes) {
        out.push_back(static_cast<unsigned char>(byte));
    }
}

// A sequence header of 720x576 with frame_rate_code rate; with an MPEG-2
// sequence extension (Main Profile at Main Level, 4:2:0) unless mpeg1.
Bytes sequence(unsigned rate, bool mpeg1, bool progressive) {
    Bytes out;
    append(out, {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x30 | rate, 0x0F, 0xFF, 0xF8, 0x80});
    if (!mpeg1) {
        append(out, {0x00, 0x00, 0x01, 0xB5, 0x14, progressive ? 0x8AU : 0x82U, 0x00, 0x01, 0x00, 0x00});
    }
    return out;
}

// A picture header, its coding extension and the start of a slice.
Bytes picture(Shape shape) {
    Bytes out;
    append(out, {0x00, 0x00, 0x01, 0x00, 0x01, 0x8F, 0xFF, 0xF8});
    if (shape != Shape::mpeg1) {
        const unsigned structure = shape == Shape::field ? 1 : 3;
        const unsigned tff = shape == Shape::frame_tff_rff ? 0x80 : 0;
        const unsigned rff = shape == Shape::frame_rff || shape == Shape::frame_tff_rff ? 0x02 : 0;
        append(out, {0x00, 0x00, 0x01, 0xB5, 0x8F, 0xFF, 0xF0 | structure, 0x40 | tff | rff, 0x80});
    }
    append(out, {0x00, 0x00, 0x01, 0x01, 0x12, 0x34, 0x56});
    return out;
}

struct StreamRow {
    const char* what;
    unsigned rate;
    bool mpeg1;
    bool progressive;
    std::vector<Shape> pictures;
    std::int64_t fields;
    packrift::Ticks duration;
};

const StreamRow STREAM_ROWS[] = {
    {"MPEG-1 at 25 Hz: a frame a picture", 3, true, false, {Shape::mpeg1, Shape::mpeg1, Shape::mpeg1}, 6, {10800, 1}},
    {"interlaced frames at 29.97 Hz", 4, false, false, {Shape::frame, Shape::frame, Shape::frame, Shape::frame}, 8, {12012, 1}},
    {"3:2 pulldown at 29.97 Hz", 4, false, false,
     {Shape::frame_tff_rff, Shape::frame, Shape::frame_rff, Shape::frame}, 10, {15015, 1}},
    {"field pictures at 25 Hz", 3, false, false, {Shape::field, Shape::field, Shape::field, Shape::field, Shape::field}, 5, {9000, 1}},
    {"field pairs and frames at 25 Hz", 3, false, false, {Shape::field, Shape::field, Shape::frame, Shape::frame_rff}, 7, {12600, 1}},
    {"progressive: doubled and tripled frames at 23.976 Hz", 1, false, true,
     {Shape::frame, Shape::frame_rff, Shape::frame_tff_rff}, 12, {45045, 2}},
    {"progressive at 59.94 Hz: doubled", 7, false, true, {Shape::frame_rff, Shape::frame_rff}, 8, {6006, 1}},
    {"no pictures", 5, false, false, {}, 0, {0, 1}},
};

Bytes stream_of(const StreamRow& row) {
    Bytes out = sequence(row.rate, row.mpeg1, row.progressive);
    for (Shape shape : row.pictures) {
        const Bytes bytes = picture(shape);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

TEST(PictureCount, CountsFieldsAsPicturesAreShown) {
    for (const StreamRow& row : STREAM_ROWS) {
        const Bytes stream = stream_of(row);
        packrift::PictureCounter counter;
        packrift::count_pictures(counter, packrift::view_of(stream.data(), stream.size()));
        EXPECT_EQ(counter.pictures, static_cast<std::int64_t>(row.pictures.size())) << row.what;
        EXPECT_EQ(packrift::counted_fields(counter), row.fields) << row.what;
        packrift::Ticks period;
        ASSERT_TRUE(packrift::frame_period(counter, period)) << row.what;
        EXPECT_EQ(packrift::fields_duration(period, packrift::counted_fields(counter)), row.duration) << row.what;
    }
}

TEST(PictureCount, GivesTheSameCountWhereverThePiecesAreCut) {
    for (const StreamRow& row : STREAM_ROWS) {
        const Bytes stream = stream_of(row);
        for (std::size_t piece = 1; piece <= 9; ++piece) {
            packrift::PictureCounter counter;
            for (std::size_t at = 0; at < stream.size(); at += piece) {
                const std::size_t length = std::min(piece, stream.size() - at);
                packrift::count_pictures(counter, packrift::view_of(stream.data() + at, length));
            }
            EXPECT_EQ(packrift::counted_fields(counter), row.fields) << row.what << ", pieces of " << piece;
            EXPECT_EQ(counter.pictures, static_cast<std::int64_t>(row.pictures.size())) << row.what;
        }
    }
}

// The video trim lists the count's start codes as it reads a payload: the
// count from its list must be the count's own, in payloads long and short
// enough for every form of the trim (words, 16-byte steps, the wide form's
// 128), with the pictures' start codes at every place of the steps, cut
// across payloads and packed more densely than the list holds, among slice
// data full of near misses (00 01, 00 00 02, 01 00, 01 B5 and 01 BE without
// their 00s).
TEST(PictureCount, CountsTheSameFromTheTrimsMarks) {
    Bytes misses;
    for (int i = 0; i < 20; ++i) {
        append(misses, {0x00, 0x01, 0xB3, 0x00, 0x00, 0x02, 0x01, 0xB5, 0x00, 0x00, 0x00, 0x01, 0x05, 0x47, 0x01, 0x00,
                        0x01, 0xBE});
    }
    for (const StreamRow& row : STREAM_ROWS) {
        Bytes stream = sequence(row.rate, row.mpeg1, row.progressive);
        for (std::size_t repeat = 0; repeat < 130; ++repeat) {
            for (Shape shape : row.pictures) {
                const Bytes bytes = picture(shape);
                stream.insert(stream.end(), bytes.begin(), bytes.end());
                stream.insert(stream.end(), misses.begin(), misses.begin() + static_cast<std::ptrdiff_t>(repeat % 97));
            }
        }
        for (const std::size_t piece : {std::size_t{2025}, std::size_t{131}, std::size_t{130}, std::size_t{67},
                                         std::size_t{61}, std::size_t{5}}) {
            for (const bool wide : {false, true}) {
                packrift::use_wide_trim(wide);
                packrift::PictureCounter own;
                packrift::PictureCounter marked;
                packrift::PrefixMarks marks;
                Bytes copy(piece);
                for (std::size_t at = 0; at < stream.size(); at += piece) {
                    const auto length = static_cast<int>(std::min(piece, stream.size() - at));
                    ASSERT_EQ(packrift::copy_before_padding(stream.data() + at, length, copy.data(), marks), length);
                    const packrift::ByteView view = packrift::view_of(stream.data() + at, static_cast<std::size_t>(length));
                    packrift::count_pictures(own, view);
                    packrift::count_pictures_marked(marked, view, marks);
                    ASSERT_EQ(marked.pictures, own.pictures) << row.what << ", pieces of " << piece << " at " << at;
                    ASSERT_EQ(packrift::counted_fields(marked), packrift::counted_fields(own)) << row.what << " at " << at;
                    ASSERT_EQ(marked.recent, own.recent) << row.what << ", pieces of " << piece << " at " << at;
                }
                EXPECT_GE(marked.pictures, static_cast<std::int64_t>(130 * row.pictures.size())) << row.what;
                EXPECT_EQ(marked.frame_rate_code, own.frame_rate_code) << row.what;
                EXPECT_EQ(marked.progressive_sequence, own.progressive_sequence) << row.what;
            }
        }
    }
    packrift::use_wide_trim(true);
}

TEST(PictureCount, TheLastPictureIsAFrameUntilItsExtensionIsRead) {
    Bytes repeated = sequence(4, false, false);
    const Bytes last = picture(Shape::frame_rff);
    repeated.insert(repeated.end(), last.begin(), last.end());
    packrift::PictureCounter counter;
    // The picture header alone, then its coding extension.
    packrift::count_pictures(counter, packrift::view_of(repeated.data(), repeated.size() - 16));
    EXPECT_EQ(packrift::counted_fields(counter), 2);
    packrift::count_pictures(counter, packrift::view_of(repeated.data() + repeated.size() - 16, 16));
    EXPECT_EQ(packrift::counted_fields(counter), 3);
    EXPECT_EQ(counter.pictures, 1);
}

TEST(PictureCount, FramePeriodsFollowTheFrameRateCode) {
    // 13818-2 table 6-4; 0 and 9 to 15 are reserved.
    const std::pair<unsigned, packrift::Ticks> rows[] = {
        {1, {15015, 4}}, {2, {3750, 1}}, {3, {3600, 1}}, {4, {3003, 1}},
        {5, {3000, 1}},  {6, {1800, 1}}, {7, {3003, 2}}, {8, {1500, 1}},
    };
    for (const auto& [code, period] : rows) {
        packrift::PictureCounter counter;
        counter.frame_rate_code = code;
        packrift::Ticks got;
        ASSERT_TRUE(packrift::frame_period(counter, got)) << code;
        EXPECT_EQ(got, period) << code;
    }
    for (unsigned code : {0U, 9U, 15U}) {
        packrift::PictureCounter counter;
        const Bytes stream = sequence(code, false, false);
        packrift::count_pictures(counter, packrift::view_of(stream.data(), stream.size()));
        packrift::Ticks got;
        EXPECT_FALSE(packrift::frame_period(counter, got)) << code;
    }
}

TEST(PictureCount, StartCodesInsideCutShortFieldsAreNotLost) {
    // A sequence header cut after 0 to 3 bytes by a picture start code: the
    // picture still counts and the frame rate is not read from the cut.
    const Bytes header_bytes = {0x2D, 0x02, 0x44};
    for (std::size_t cut = 0; cut <= header_bytes.size(); ++cut) {
        Bytes stream;
        append(stream, {0x00, 0x00, 0x01, 0xB3});
        stream.insert(stream.end(), header_bytes.begin(), header_bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        const Bytes next = picture(Shape::mpeg1);
        stream.insert(stream.end(), next.begin(), next.end());
        packrift::PictureCounter counter;
        packrift::count_pictures(counter, packrift::view_of(stream.data(), stream.size()));
        EXPECT_EQ(counter.pictures, 1) << cut;
        EXPECT_EQ(packrift::counted_fields(counter), 2) << cut;
        packrift::Ticks period;
        EXPECT_FALSE(packrift::frame_period(counter, period)) << cut;
    }
}

}  // namespace

#include "front/command_line.hpp"

#include <gtest/gtest.h>

#include <climits>

namespace {

using packrift::output_name;
using packrift::parse_audio_number;

TEST(ParseAudioNumber, ReadsLikeAtoi) {
    EXPECT_EQ(parse_audio_number("2"), 2);
    EXPECT_EQ(parse_audio_number("  \t+8"), 8);
    EXPECT_EQ(parse_audio_number("-96"), -96);
    EXPECT_EQ(parse_audio_number("12abc"), 12);
    EXPECT_EQ(parse_audio_number("x"), 0);
    EXPECT_EQ(parse_audio_number(""), 0);
    EXPECT_EQ(parse_audio_number("-"), 0);
    EXPECT_EQ(parse_audio_number("- 5"), 0);
}

TEST(ParseAudioNumber, ClampsToTheIntRange) {
    EXPECT_EQ(parse_audio_number("2147483647"), INT_MAX);
    EXPECT_EQ(parse_audio_number("2147483648"), INT_MAX);
    EXPECT_EQ(parse_audio_number("99999999999999999999999999"), INT_MAX);
    EXPECT_EQ(parse_audio_number("-2147483648"), INT_MIN);
    EXPECT_EQ(parse_audio_number("-99999999999999999999999999"), INT_MIN);
}

TEST(OutputName, ReplacesTheFirstLowerCaseVobAndAllAfterIt) {
    EXPECT_EQ(output_name("movie.vob", ".m2v"), "movie.m2v");
    EXPECT_EQ(output_name("dir.vob/movie.vob", ".m2v"), "dir.m2v");
    EXPECT_EQ(output_name("movie.vob.bak", packrift::output_suffix(packrift::StreamKind::ac3_audio, 1)), "movie-stream1.ac3");
    EXPECT_EQ(output_name("movie.vob", packrift::output_suffix(packrift::StreamKind::ac3_audio, -96)), "movie-stream-96.ac3");
    EXPECT_EQ(output_name("VTS_01_1.VOB", ".m2v"), std::nullopt);
    EXPECT_EQ(output_name("movie.Vob", ".m2v"), std::nullopt);
}

TEST(OutputName, KeepsLongNamesWhole) {
    const std::string stem(400, 'n');
    EXPECT_EQ(output_name(stem + ".vob", packrift::output_suffix(packrift::StreamKind::ac3_audio, INT_MIN)),
              stem + "-stream-2147483648.ac3");
}

TEST(ContainsOption, IsACaseSensitiveSubstringTest) {
    EXPECT_TRUE(packrift::contains_option("-video", "-video"));
    EXPECT_TRUE(packrift::contains_option("x--videoy", "-video"));
    EXPECT_FALSE(packrift::contains_option("-Video", "-video"));
    EXPECT_FALSE(packrift::contains_option("video", "-video"));
}

}  // namespace

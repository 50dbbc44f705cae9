#include "front/progress.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "support/demux_run.hpp"

namespace {

using packtest::Bytes;

std::string hms(int seconds) {
    char text[packrift::HMS_TEXT_SIZE];
    packrift::format_hms(seconds, text);
    return text;
}

TEST(FormatHms, WritesHoursMinutesSecondsWrappingAtADay) {
    EXPECT_EQ(hms(0), "00:00:00");
    EXPECT_EQ(hms(59), "00:00:59");
    EXPECT_EQ(hms(3599), "00:59:59");
    EXPECT_EQ(hms(23 * 3600 + 59 * 60 + 59), "23:59:59");
    EXPECT_EQ(hms(25 * 3600 + 60 + 1), "01:01:01");
    EXPECT_EQ(hms(static_cast<int>(34 * 3600 + 17 * 60 + 36.9)), "10:17:36");
}

std::string printf_rate(double rate) {
    char text[400];  // room for the widest double printf shows
    std::snprintf(text, sizeof text, "%0.1f", rate);
    return text;
}

// The rate as printf shows it, written without printf: every rate a run of
// up to a day shows at whole milliseconds, rates near the limits, and
// printf's own for what is left to it: a rate exactly half way between two
// tenths, negative, too large or not a number.
TEST(FormatRate, WritesWhatPrintfShows) {
    char text[packrift::RATE_TEXT_SIZE];
    for (std::uint64_t packs = 100; packs <= 4'000'000'000; packs = packs * 3 + 100) {
        for (int milliseconds = 1; milliseconds <= 86'400'000; milliseconds = milliseconds * 5 / 4 + 1) {
            const double rate = static_cast<double>(packs * 2) / (milliseconds * 0.001);
            if (packrift::format_rate(rate, text)) {
                EXPECT_EQ(text, printf_rate(rate)) << "the rate " << rate;
            } else {
                // Half way between two tenths: an odd number of quarters.
                EXPECT_EQ(std::fmod(rate * 4, 2.0), 1.0) << "the rate " << rate << " left to printf";
            }
        }
    }
    const double largest = 4503599627370496.0;  // 2^52
    for (const double rate : {0.0, 1e-300, 0.04, 0.05, 0.06, 0.15, 0.35, 0.95, 9.95, 99.95, 1234567.05, largest - 0.5,
                              largest - 1.0}) {
        EXPECT_TRUE(packrift::format_rate(rate, text)) << rate;
        EXPECT_EQ(text, printf_rate(rate)) << "the rate " << rate;
    }
    for (const double rate : {0.25, 0.75, 1.25, 1000000.25, largest, 1e300, -1.0, -0.0,
                              std::numeric_limits<double>::infinity(), std::nan("")}) {
        EXPECT_FALSE(packrift::format_rate(rate, text)) << rate;
    }
}

// A clock the tests move by hand.
double fake_now = 0.0;
double fake_clock() {
    return fake_now;
}

class Progress : public ::testing::Test {
protected:
    void SetUp() override {
        packrift::set_progress_clock(&fake_clock);
        fake_now = 1000.0;
        hooks = packrift::progress_hooks();
        hooks.run_begins();
        packrift::pack_count = 0;
    }
    void TearDown() override { packrift::set_progress_clock(nullptr); }
    std::string report() {
        testing::internal::CaptureStdout();
        packrift::report_progress();
        return testing::internal::GetCapturedStdout();
    }
    packrift::PackLoopHooks hooks;
};

TEST_F(Progress, RateIsKilobytesPerSecondSinceTheRunBegan) {
    packrift::pack_count = 100;
    fake_now += 4.0;
    EXPECT_EQ(report(), "LBA = 100 (50.0K/s), OUT = 0Kb, TimeSoFar=00:00:04      \r");
}

// A rate with tenths, written without printf, and one half way between two
// tenths, which printf writes: the same line either way.
TEST_F(Progress, RateShowsTenthsAsPrintfDoes) {
    packrift::pack_count = 123457;
    fake_now += 7.5;
    EXPECT_EQ(report(), "LBA = 123457 (32921.9K/s), OUT = 0Kb, TimeSoFar=00:00:07      \r");
    packrift::pack_count = 100;
    fake_now += 800.0 - 7.5;  // 200 KB in 800 s: 0.25 KB/s
    EXPECT_EQ(report(), "LBA = 100 (" + printf_rate(0.25) + "K/s), OUT = 0Kb, TimeSoFar=00:13:20      \r");
}

TEST_F(Progress, NoTimePassedShowsARateOfZero) {
    EXPECT_EQ(report(), "LBA = 0 (0.0K/s), OUT = 0Kb, TimeSoFar=00:00:00      \r");
    packrift::pack_count = 300;
    EXPECT_EQ(report(), "LBA = 300 (0.0K/s), OUT = 0Kb, TimeSoFar=00:00:00      \r");
}

TEST_F(Progress, OutIsWholeKilobytesRoundedDownAndWidePast4GiB) {
    const std::pair<std::uint64_t, std::string> cases[] = {
        {1023, "0"}, {1024, "1"}, {2047, "1"}, {2048, "2"},
        {5ull << 30, "5242880"},                          // 5 GiB
        {(8ull << 30) + 1023, "8388608"},                 // a dual-layer disc
    };
    for (const auto& [bytes, shown] : cases) {
        packrift::out_bytes = bytes;
        EXPECT_EQ(report(), "LBA = 0 (0.0K/s), OUT = " + shown + "Kb, TimeSoFar=00:00:00      \r");
    }
}

TEST_F(Progress, OutAddsUpAcceptedLengthsPastTheUnsigned32BitRange) {
    packrift::out_bytes = 0xFFFFFF00u;
    hooks.payload_accepted(2025);
    EXPECT_EQ(packrift::out_bytes, 0xFFFFFF00ull + 2025);
}

TEST_F(Progress, PrintsALineEveryHundredPacksWithTheTotalBeforeThePack) {
    // 250 packs of 2025 video bytes, with sectors that are not packs between them.
    Bytes input;
    for (int i = 0; i < 250; ++i) {
        const Bytes pack = packtest::video_pack(packtest::pattern(packtest::VIDEO_ROOM, 1));
        input.insert(input.end(), pack.begin(), pack.end());
        if (i % 7 == 0) {
            input.insert(input.end(), packtest::SECTOR, 0);
        }
    }
    packtest::DemuxRequest request;
    request.audio = false;
    request.hooks = &hooks;
    testing::internal::CaptureStdout();
    const auto result = packtest::run_demux(input, request);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "LBA = 0 (0.0K/s), OUT = 0Kb, TimeSoFar=00:00:00      \r"
              "LBA = 100 (0.0K/s), OUT = 197Kb, TimeSoFar=00:00:00      \r"   // 100 * 2025 / 1024
              "LBA = 200 (0.0K/s), OUT = 395Kb, TimeSoFar=00:00:00      \r");
    EXPECT_EQ(packrift::pack_count, 250u);
    EXPECT_EQ(packrift::out_bytes, 250ull * packtest::VIDEO_ROOM);
    EXPECT_EQ(result.video.size(), 250u * packtest::VIDEO_ROOM);
}

TEST_F(Progress, AnEmptyInputPrintsNothing) {
    packtest::DemuxRequest request;
    request.hooks = &hooks;
    testing::internal::CaptureStdout();
    packtest::run_demux({}, request);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(packrift::pack_count, 0u);
}

}  // namespace

#include "front/mkvmerge_options.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using packrift::mkvmerge_json;
using packrift::mkvmerge_language;
using packrift::MuxOptions;
using packrift::MuxTrack;
using Role = packrift::MuxTrack::Role;

struct Case {
    std::string input;
    std::string expected;
};

TEST(MkvmergeLanguage, GivesIso639_1CodesAndUndForTheRest) {
    const std::vector<Case> cases = {
        {"en", "en"}, {"zu", "zu"}, {"bh", "bh"},                     // in the list, at its ends too
        {"EN", "en"}, {"De", "de"},                                   // a disc's upper case
        {"iw", "he"}, {"ji", "yi"}, {"in", "id"}, {"mo", "ro"}, {"IW", "he"},  // withdrawn
        {"xx", "und"}, {"sh", "und"}, {"qa", "und"}, {"--", "und"},   // no such code
        {"", "und"}, {"e", "und"}, {"eng", "und"}, {std::string("e\0", 2), "und"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(mkvmerge_language(c.input), c.expected) << '"' << c.input << '"';
    }
}

TEST(MkvmergeLanguage, KnowsTheWholeListOf184) {
    int kept = 0;
    for (char first = 'a'; first <= 'z'; ++first) {
        for (char second = 'a'; second <= 'z'; ++second) {
            const std::string code = {first, second};
            kept += mkvmerge_language(code) == code ? 1 : 0;
        }
    }
    EXPECT_EQ(kept, 184);
}

TEST(ValidUtf8, TakesWellFormedSequencesOnly) {
    const std::vector<std::string> valid = {
        "", "dvd-title1.ac3", "caf\xC3\xA9", "\xE2\x82\xAC", "\xED\x9F\xBF", "\xEE\x80\x80",
        "\xF0\x9D\x84\x9E", "\xF4\x8F\xBF\xBF", std::string("a\0b", 3),
    };
    const std::vector<std::string> invalid = {
        "\xC0\xAF", "\xC1\xBF", "\xE0\x80\xAF", "\xF0\x80\x80\xAF",  // overlong
        "\x80", "a\xBF" "b",                                        // a lone continuation byte
        "\xE2\x82", "a\xF0\x9D\x84", "\xC3" "A",                    // a sequence cut short
        "\xED\xA0\x80", "\xED\xBF\xBF",                             // surrogates
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xF8\x88\x80\x80\x80", "\xFF",  // past U+10FFFF
        "caf\xE9",                                                  // Latin-1
    };
    for (const std::string& text : valid) {
        EXPECT_TRUE(packrift::valid_utf8(text)) << testing::PrintToString(text);
    }
    for (const std::string& text : invalid) {
        EXPECT_FALSE(packrift::valid_utf8(text)) << testing::PrintToString(text);
    }
}

std::string json_of(const MuxOptions& options) {
    std::string problem;
    const auto json = mkvmerge_json(options, problem);
    EXPECT_TRUE(json.has_value()) << problem;
    return json.value_or("");
}

TEST(MkvmergeJson, EscapesWhatJsonMustAndKeepsTheRest) {
    const std::vector<Case> cases = {
        {"my \"film\".mkv", "my \\\"film\\\".mkv"},
        {"C:\\films\\a.mkv", "C:\\\\films\\\\a.mkv"},
        {"a\nb\tc\rd\be\ff", "a\\nb\\tc\\rd\\be\\ff"},
        {"a\x01" "b\x1F" "c\x7F", "a\\u0001b\\u001fc\x7F"},
        {"Am\xC3\xA9lie \xE6\x98\xA0\xE7\x94\xBB/x'y.mkv", "Am\xC3\xA9lie \xE6\x98\xA0\xE7\x94\xBB/x'y.mkv"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(json_of({c.input, {}, {}}), "[\n  \"--output\",\n  \"" + c.expected + "\"\n]\n");
    }
}

TEST(MkvmergeJson, GivesEachFileItsOptionsBeforeIt) {
    MuxOptions options{"dvd-title1.mkv", {}, "dvd-title1.chapters.txt"};
    options.tracks = {
        {"dvd-title1.m2v", Role::video, "en", 40, "", false},
        {"dvd-title1-stream0.ac3", Role::audio, "en", -24, "AC-3 5.1", true},
        {"dvd-title1-lpcm1.wav", Role::audio, "IW", 0, "LPCM 2.0", false},
        {"dvd-title1-stream2.ac3", Role::audio, "xx", std::nullopt, "", false},
        {"dvd-title1-sub0.idx", Role::subtitles, "fr", 933, "VobSub", false},
    };
    EXPECT_EQ(json_of(options),
              "[\n"
              "  \"--output\",\n  \"dvd-title1.mkv\",\n"
              "  \"dvd-title1.m2v\",\n"
              "  \"--language\",\n  \"0:en\",\n  \"--sync\",\n  \"0:-24\",\n"
              "  \"--track-name\",\n  \"0:AC-3 5.1\",\n"
              "  \"dvd-title1-stream0.ac3\",\n"
              "  \"--language\",\n  \"0:he\",\n  \"--sync\",\n  \"0:0\",\n"
              "  \"--track-name\",\n  \"0:LPCM 2.0\",\n  \"--default-track-flag\",\n  \"0:0\",\n"
              "  \"dvd-title1-lpcm1.wav\",\n"
              "  \"--language\",\n  \"0:und\",\n  \"--default-track-flag\",\n  \"0:0\",\n"
              "  \"dvd-title1-stream2.ac3\",\n"
              "  \"--language\",\n  \"0:fr\",\n"
              "  \"--track-name\",\n  \"0:VobSub\",\n  \"--default-track-flag\",\n  \"0:0\",\n"
              "  \"dvd-title1-sub0.idx\",\n"
              "  \"--chapters\",\n  \"dvd-title1.chapters.txt\"\n"
              "]\n");
}

TEST(MkvmergeJson, KeepsTrackFilesFromBeingReadAsItsSyntax) {
    const std::vector<Case> cases = {
        {"+bonus-stream0.ac3", "./+bonus-stream0.ac3"}, {"=a.m2v", "./=a.m2v"}, {"-a", "./-a"},
        {"(", "./("}, {"]", "./]"}, {"a+b.ac3", "a+b.ac3"}, {"/films/-a.ac3", "/films/-a.ac3"},
    };
    for (const Case& c : cases) {
        const MuxOptions options{"+out.mkv", {{c.input, Role::video, "", {}, "", true}}, "-chapters.txt"};
        EXPECT_EQ(json_of(options),
                  "[\n  \"--output\",\n  \"+out.mkv\",\n  \"" + c.expected + "\",\n"
                  "  \"--chapters\",\n  \"-chapters.txt\"\n]\n");
    }
}

TEST(MkvmergeJson, RefusesANameThatIsNotUtf8AndNamesIt) {
    const std::string overlong = "dvd-\xC0\xAF.mkv";
    const std::string lone = "movie\x80-stream0.ac3";
    const std::string cut = "caf\xC3";
    const std::string latin1 = "caf\xE9.chapters.txt";
    const MuxTrack audio{"a.ac3", Role::audio, "en", {}, "", true};
    struct Refused {
        MuxOptions options;
        std::string name;
    };
    std::vector<Refused> cases = {
        {{overlong, {audio}, {}}, overlong},
        {{"a.mkv", {audio, {lone, Role::audio, "en", {}, "", false}}, {}}, lone},
        {{"a.mkv", {{"a.ac3", Role::audio, "en", {}, cut, true}}, {}}, cut},
        {{"a.mkv", {audio}, latin1}, latin1},
    };
    for (const Refused& c : cases) {
        std::string problem;
        EXPECT_EQ(mkvmerge_json(c.options, problem), std::nullopt) << testing::PrintToString(c.name);
        EXPECT_EQ(problem.rfind(c.name + ": ", 0), 0U) << testing::PrintToString(problem);
    }
}

}  // namespace

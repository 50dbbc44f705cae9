// The crafted discs must be sound enough for another reader: lsdvd (its own
// IFO library) lists each one's titles as the description says. The
// lengths are worked out by hand from the cells' times.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/disc_builder.hpp"
#include "support/run_binary.hpp"

namespace {

using packtest::disc::Disc;

struct Row {
    const char* name;
    Disc (*make)();
    // One line per title: length, chapters, angles, title set, audio
    // languages, subpicture languages (xx: none), as lsdvd names them.
    std::vector<std::string> titles;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

Disc two_angles() { return packtest::disc::multi_angle(2); }
Disc three_angles() { return packtest::disc::multi_angle(3); }

const std::vector<std::string> TWO_SETS = {
    "00:00:02.000 chapters 2 angles 1 set 1 audio en subpictures",
    "00:00:03.000 chapters 1 angles 1 set 1 audio en subpictures",
    // 1 s and 15 frames at 29.97 frames a second.
    "00:00:01.500 chapters 1 angles 1 set 2 audio de fr subpictures it xx",
};

const Row ROWS[] = {
    // 1 s 12 frames + 20 frames + 2 s at 25 frames a second.
    {"cells_out_of_order", packtest::disc::cells_out_of_order,
     {"00:00:04.280 chapters 2 angles 1 set 1 audio en subpictures"}},
    {"two_titles_one_set", packtest::disc::two_titles_one_set, TWO_SETS},
    {"title_across_files", packtest::disc::title_across_files,
     {"00:00:03.000 chapters 3 angles 1 set 1 audio en subpictures"}},
    // 1 s + the angle block once (2 s 5 frames) + 1 s.
    {"two_angles", two_angles, {"00:00:04.200 chapters 3 angles 2 set 1 audio en subpictures"}},
    {"three_angles", three_angles, {"00:00:04.200 chapters 3 angles 3 set 1 audio en subpictures"}},
    {"cell_past_end", packtest::disc::cell_past_end,
     {"00:00:02.000 chapters 2 angles 1 set 1 audio en subpictures"}},
    // Read from the .BUP copies.
    {"damaged_ifos", packtest::disc::damaged_ifos, TWO_SETS},
};

bool have_lsdvd() {
#ifdef _WIN32
    return false;
#else
    return std::system("command -v lsdvd >/dev/null 2>&1") == 0;
#endif
}

// lsdvd -x output boiled down to one line per title.
std::vector<std::string> summarise(const std::string& listing) {
    static const std::regex title_line(
        R"(^Title: \d+, Length: (\S+) Chapters: 0*(\d+),)");
    static const std::regex set_line(R"(^\s*VTS: 0*(\d+),)");
    static const std::regex angles_line(R"(^\s*Number of Angles: (\d+))");
    static const std::regex audio_line(R"(^\s*Audio: \d+, Language: (\S+) )");
    static const std::regex subpicture_line(R"(^\s*Subtitle: \d+, Language: (\S+) )");
    struct Title {
        std::string head, set, angles, audio, subpictures;
    };
    std::vector<Title> titles;
    std::istringstream lines(listing);
    std::string line;
    std::smatch match;
    while (std::getline(lines, line)) {
        if (std::regex_search(line, match, title_line)) {
            titles.push_back({match[1].str() + " chapters " + match[2].str(), "", "", "", ""});
        } else if (titles.empty()) {
            continue;
        } else if (std::regex_search(line, match, set_line)) {
            titles.back().set = match[1];
        } else if (std::regex_search(line, match, angles_line)) {
            titles.back().angles = match[1];
        } else if (std::regex_search(line, match, audio_line)) {
            titles.back().audio += " " + match[1].str();
        } else if (std::regex_search(line, match, subpicture_line)) {
            titles.back().subpictures += " " + match[1].str();
        }
    }
    std::vector<std::string> out;
    for (const Title& t : titles) {
        out.push_back(t.head + " angles " + t.angles + " set " + t.set + " audio" + t.audio +
                      " subpictures" + t.subpictures);
    }
    return out;
}

class CraftedDisc : public testing::TestWithParam<Row> {};

TEST_P(CraftedDisc, LsdvdListsItsTitlesAsDescribed) {
    if (!have_lsdvd()) {
        GTEST_SKIP() << "lsdvd not found (Debian package lsdvd)";
    }
    const Row& row = GetParam();
    const auto dir = packtest::scratch_dir(std::string("disc_builder_") + row.name);
    packtest::disc::write_disc(row.make(), dir / "VIDEO_TS");
    const std::string listing_file = packtest::utf8_of(dir / "lsdvd.txt");
    const std::string command =
        "lsdvd -x '" + packtest::utf8_of(dir) + "' >'" + listing_file + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    EXPECT_EQ(summarise(packtest::read_text(dir / "lsdvd.txt")), row.titles);
}

INSTANTIATE_TEST_SUITE_P(Shapes, CraftedDisc, testing::ValuesIn(ROWS),
                         [](const testing::TestParamInfo<Row>& row_info) { return std::string(row_info.param.name); });

}  // namespace

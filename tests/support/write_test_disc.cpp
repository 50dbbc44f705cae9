// Writes one of the crafted test discs into a folder, for the scripted
// checks against lsdvd, mplayer and dvdxchap.
//
// Usage: write_test_disc SHAPE FOLDER
// Makes FOLDER/VIDEO_TS, and FOLDER/play_order/titleN-angleA.vob for every
// title and angle: the sectors the title plays in that angle, in play
// order, navigation packs included, as the description says.

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "support/disc_builder.hpp"

namespace {

struct Shape {
    const char* name;
    packtest::disc::Disc (*make)();
};

packtest::disc::Disc two_angles() { return packtest::disc::multi_angle(2); }
packtest::disc::Disc three_angles() { return packtest::disc::multi_angle(3); }
packtest::disc::Disc vob_per_chapter() { return packtest::disc::vob_per_chapter(); }
packtest::disc::Disc inside_ac3() { return packtest::disc::titles_inside_a_vob(packtest::disc::AudioCoding::ac3); }
packtest::disc::Disc inside_dts() { return packtest::disc::titles_inside_a_vob(packtest::disc::AudioCoding::dts); }
packtest::disc::Disc inside_mpa() { return packtest::disc::titles_inside_a_vob(packtest::disc::AudioCoding::mpeg1); }

void write_play_orders(const packtest::disc::Disc& disc, const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    int number = 0;
    for (const auto& set : disc.title_sets) {
        for (const auto& title : set.titles) {
            ++number;
            for (int angle = 1; angle <= title.angles; ++angle) {
                const std::string name =
                    "title" + std::to_string(number) + "-angle" + std::to_string(angle) + ".vob";
                packtest::write_file(folder / name, packtest::disc::title_play_order(disc, number, angle));
            }
        }
    }
}

constexpr Shape SHAPES[] = {
    {"cells_out_of_order", packtest::disc::cells_out_of_order},
    {"two_titles_one_set", packtest::disc::two_titles_one_set},
    {"title_across_files", packtest::disc::title_across_files},
    {"two_angles", two_angles},
    {"three_angles", three_angles},
    {"cell_past_end", packtest::disc::cell_past_end},
    {"vob_per_chapter", vob_per_chapter},
    {"titles_inside_a_vob_ac3", inside_ac3},
    {"titles_inside_a_vob_dts", inside_dts},
    {"titles_inside_a_vob_mpa", inside_mpa},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3) {
        for (const Shape& shape : SHAPES) {
            if (std::strcmp(argv[1], shape.name) == 0) {
                try {
                    const std::filesystem::path folder(argv[2]);
                    const packtest::disc::Disc disc = shape.make();
                    packtest::disc::write_disc(disc, folder / "VIDEO_TS");
                    write_play_orders(disc, folder / "play_order");
                    return 0;
                } catch (const std::exception& error) {
                    std::fprintf(stderr, "%s: %s\n", argv[2], error.what());
                    return 1;
                }
            }
        }
    }
    std::fprintf(stderr, "usage: write_test_disc SHAPE FOLDER\nshapes:");
    for (const Shape& shape : SHAPES) {
        std::fprintf(stderr, " %s", shape.name);
    }
    std::fprintf(stderr, "\n");
    return 2;
}

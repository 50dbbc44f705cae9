// Discs read from images, end to end: the built packrift on an image made
// of a crafted VIDEO_TS folder must list and split as it does the folder,
// name its outputs after the image, and tell a damaged image in one line.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/disc_builder.hpp"
#include "support/image_builder.hpp"
#include "support/run_binary.hpp"

namespace {

namespace fs = std::filesystem;
using packtest::Bytes;
using packtest::read_file;
using packtest::run_packrift;
namespace image = packtest::image;

constexpr std::size_t SECTOR = 2048;

using Damage = void (*)(Bytes&, const image::Layout&);

void no_damage(Bytes&, const image::Layout&) {}

struct ImageShape {
    const char* label;
    image::Options options;
    Damage damage = no_damage;
};

image::Options shape(bool udf, bool iso, bool long_ads, int extents, bool continued) {
    image::Options options;
    options.udf = udf;
    options.iso9660 = iso;
    options.long_ads = long_ads;
    options.extents = extents;
    options.continued = continued;
    return options;
}

// Continued descriptors, with room to lengthen one file's chain past the bound.
constexpr std::size_t PAST_THE_BOUND = 32;  // more allocation extent descriptors than the first

image::Options room_for_a_chain(bool iso) {
    image::Options options = shape(true, iso, false, 2, true);
    options.spare_sectors = PAST_THE_BOUND;
    return options;
}

// The file's allocation extent descriptor leads back to itself.
void loop_of(Bytes& b, const image::Layout& l, const std::string& name) {
    const std::size_t at = l.continuations[image::file_of(l, name)];
    image::continue_to(b, l, at, at);
}

// Every output file of a run in dir whose name begins with stem, by what follows the stem.
std::vector<std::pair<std::string, Bytes>> outputs_of(const fs::path& dir, const std::string& stem) {
    std::vector<std::pair<std::string, Bytes>> outputs;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = packtest::utf8_of(entry.path().filename());
        if (name.rfind(stem, 0) == 0) {
            outputs.emplace_back(name.substr(stem.size()), read_file(entry.path()));
        }
    }
    std::sort(outputs.begin(), outputs.end());
    return outputs;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

TEST(ImageRun, AnImageListsAndSplitsAsItsFolderDoes) {
    const std::vector<ImageShape> shapes = {
        {"UDF and ISO 9660", shape(true, true, false, 1, false)},
        {"UDF alone, long descriptors, three extents a file, continued", shape(true, false, true, 3, true)},
        {"ISO 9660 alone, multi-extent files", shape(false, true, false, 2, false)},
        {"the IFO files' entries damaged, their backups' sound", room_for_a_chain(false),
         [](Bytes& b, const image::Layout& l) {
             loop_of(b, l, "VTS_01_0.IFO");
             image::lengthen_chain(b, l, image::file_of(l, "VIDEO_TS.IFO"), PAST_THE_BOUND);
         }},
    };
    struct Title {
        const char* label;
        packtest::disc::Disc disc;
        int title;
        int angle;
    };
    const std::vector<Title> titles = {
        {"a title across two VOB files", packtest::disc::title_across_files(), 1, 1},
        {"angle 2 of 2", packtest::disc::multi_angle(2), 1, 2},
        {"the second title of a set", packtest::disc::two_titles_one_set(), 2, 1},
    };
    const fs::path dir = packtest::scratch_dir("image-run");
    for (const Title& t : titles) {
        fs::remove_all(dir / "dvd");
        packtest::disc::write_disc(t.disc, dir / "dvd" / "VIDEO_TS");
        const std::vector<std::string> options = {"-title", std::to_string(t.title), "-angle", std::to_string(t.angle),
                                                  "-video", "0", "-audio", "0", "-chapters", "-streams"};
        std::vector<std::string> args = {"dvd"};
        args.insert(args.end(), options.begin(), options.end());
        const auto folder_listing = run_packrift(dir, {"dvd"});
        const auto folder_run = run_packrift(dir, args);
        ASSERT_EQ(folder_run.status, 0) << t.label << folder_run.err;
        const auto folder_outputs = outputs_of(dir, "dvd-");
        ASSERT_FALSE(folder_outputs.empty());
        for (const ImageShape& s : shapes) {
            SCOPED_TRACE(std::string(t.label) + ", " + s.label);
            image::Layout layout;
            Bytes bytes = image::build_image(image::files_of_folder(dir / "dvd" / "VIDEO_TS"), s.options, &layout);
            s.damage(bytes, layout);
            packtest::write_file(dir / "film.iso", bytes);
            const auto listing = run_packrift(dir, {"film.iso"});
            EXPECT_EQ(listing.status, 0);
            EXPECT_EQ(listing.out, folder_listing.out);
            args[0] = "film.iso";
            const auto run = run_packrift(dir, args);
            EXPECT_EQ(run.status, 0) << run.err;
            EXPECT_EQ(run.err, "");
            EXPECT_EQ(run.out, replaced(folder_run.out, "dvd-", "film-"));
            EXPECT_EQ(outputs_of(dir, "film-"), folder_outputs);
            for (const auto& output : outputs_of(dir, "film-")) {
                fs::remove(dir / ("film-" + output.first));
            }
        }
        for (const auto& output : folder_outputs) {
            fs::remove(dir / ("dvd-" + output.first));
        }
    }
    packtest::remove_scratch_dir(dir);
}

struct RefusalCase {
    const char* label;
    packtest::disc::Disc disc;
    image::Options options;
    Damage damage;
    std::vector<std::string> args;
    std::string err;
};

// Decided by content: an image named .vob is an image, and is not split as one VOB file.
TEST(ImageRun, WhatAnImageCannotGiveIsToldInOneLine) {
    const std::vector<RefusalCase> cases = {
        {"no VIDEO_TS folder", packtest::disc::cells_out_of_order(), shape(false, true, false, 1, false),
         [](Bytes& b, const image::Layout&) {
             // The root's third record names VIDEO_TS: another name.
             b[257 * SECTOR + 34 * 2 + 33 + 7] = 'X';
         },
         {"film.iso"}, "film.iso: no DVD-Video on this image (no VIDEO_TS folder)\n"},
        {"a VIDEO_TS folder without VIDEO_TS.IFO or VIDEO_TS.BUP", packtest::disc::cells_out_of_order(),
         shape(false, true, false, 1, false),
         [](Bytes& b, const image::Layout& l) {
             // Its first two records, after its own and its parent's, name them: other names.
             constexpr std::size_t RECORDS = 34 * 2;
             constexpr std::size_t RECORD_SIZE = 48;
             b[l.iso_video_ts * SECTOR + RECORDS + 33] = 'X';
             b[l.iso_video_ts * SECTOR + RECORDS + RECORD_SIZE + 33] = 'X';
         },
         {"film.iso"}, "film.iso: no VIDEO_TS.IFO here, so not a DVD-Video folder\n"},
        {"a damaged anchor and no ISO 9660", packtest::disc::cells_out_of_order(), shape(true, false, false, 1, false),
         [](Bytes& b, const image::Layout& l) { b[l.anchor * SECTOR + 20] ^= 1; }, {"film.iso", "-title", "1"},
         "film.iso: the image's file system is damaged (the anchor volume descriptor pointer at sector 256 is not "
         "sound)\n"},
        {"a VOB file cut short by the image's end", packtest::disc::cell_past_end(), shape(true, true, false, 1, false),
         no_damage, {"film.iso", "-title", "1", "-video", "0"},
         "film.iso: title 1, cell 2 lies past the end of the VOB files of title set 1\n"},
        {"a later VOB file's chain of allocation descriptors looping", packtest::disc::title_across_files(),
         room_for_a_chain(false), [](Bytes& b, const image::Layout& l) { loop_of(b, l, "VTS_01_2.VOB"); },
         {"film.iso", "-title", "1", "-video", "0", "-audio", "0"},
         "film.iso: the image's file system is damaged (a file's chain of allocation descriptors loops)\n"},
        {"a VOB file's chain past the bound, ISO 9660 beside", packtest::disc::cells_out_of_order(),
         room_for_a_chain(true),
         [](Bytes& b, const image::Layout& l) {
             image::lengthen_chain(b, l, image::file_of(l, "VTS_01_1.VOB"), PAST_THE_BOUND);
         },
         {"film.iso", "-title", "1", "-video", "0", "-chapters"},
         "film.iso: the image's file system is damaged (a file's chain of allocation descriptors continues more "
         "than 32 times)\n"},
        {"a VOB file's entry whose tag is not sound", packtest::disc::cells_out_of_order(),
         shape(true, false, false, 1, false),
         [](Bytes& b, const image::Layout& l) { b[l.file_entries[image::file_of(l, "VTS_01_1.VOB")] * SECTOR + 60] ^= 1; },
         {"film.iso", "-title", "1", "-audio", "0", "-streams"},
         "film.iso: the image's file system is damaged (a file entry's tag is not sound)\n"},
        {"an image named .vob, its IFO files' entries damaged", packtest::disc::cells_out_of_order(),
         shape(true, false, false, 1, false),
         [](Bytes& b, const image::Layout& l) {
             b[l.file_entries[0] * SECTOR + 60] ^= 1;  // VIDEO_TS.BUP
             b[l.file_entries[1] * SECTOR + 60] ^= 1;  // VIDEO_TS.IFO
         },
         {"film.vob", "-video", "0"},
         "VIDEO_TS.IFO: the image's file system is damaged (a file entry's tag is not sound)\n"},
    };
    const fs::path dir = packtest::scratch_dir("image-refused");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        fs::remove_all(dir);
        fs::create_directories(dir);
        packtest::disc::write_disc(c.disc, dir / "dvd" / "VIDEO_TS");
        image::Layout layout;
        Bytes bytes = image::build_image(image::files_of_folder(dir / "dvd" / "VIDEO_TS"), c.options, &layout);
        c.damage(bytes, layout);
        if (std::string(c.label).find("cut short") != std::string::npos) {
            bytes.resize(bytes.size() - 3 * SECTOR);  // the last VOB file's data lies last
        }
        packtest::write_file(dir / c.args[0], bytes);
        const auto result = run_packrift(dir, c.args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2) << "only the disc and image";
    }
    packtest::remove_scratch_dir(dir);
}

}  // namespace

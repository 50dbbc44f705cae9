// Discs read from images, end to end: the built packrift on an image made
// of a crafted VIDEO_TS folder must list and split as it does the folder,
// name its outputs after the image, and tell a damaged image in one line.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include "disc/disc_image.hpp"
#include "support/disc_builder.hpp"
#include "support/image_builder.hpp"
#include "support/run_binary.hpp"

namespace {

namespace fs = std::filesystem;
using packtest::Bytes;
using packtest::read_file;
using packtest::read_text;
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
    return packtest::files_named(dir, stem);
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

// Encrypted discs: an image whose title set's packs are scrambled is read
// through libdvdcss, here the stand-in (support/standin_dvdcss.cpp).

// The stand-in's path as packrift is to load it (under Wine a path of its own).
std::string library_path(const char* built) {
    return packtest::utf8_of(fs::absolute(built));
}

packtest::Environment standin(const fs::path& log, const char* library = PACKRIFT_STANDIN_DVDCSS) {
    return {{"PACKRIFT_LIBDVDCSS", library_path(library)}, {"STANDIN_DVDCSS_LOG", packtest::utf8_of(log)}};
}

// What the system's loader says of a library that is not there, or that
// lacks a function: dlerror()'s text, or on Windows the library's name and
// the system's message.
#ifdef _WIN32
std::string system_message(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = packtest::utf8_of(fs::path(std::wstring(text != nullptr ? text : L"")));
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

std::string not_there(const std::string& library) {
    return library + ": " + system_message(ERROR_MOD_NOT_FOUND);
}

std::string lacking(const std::string& library, const char* function) {
    return library + ": " + function + ": " + system_message(ERROR_PROC_NOT_FOUND);
}

constexpr const char* DEFAULT_LIBRARY = "libdvdcss-2.dll";
#else
std::string not_there(const std::string& library) {
    return library + ": cannot open shared object file: No such file or directory";
}

std::string lacking(const std::string& library, const char* function) {
    return library + ": undefined symbol: " + function;
}

constexpr const char* DEFAULT_LIBRARY = "libdvdcss.so.2";
#endif

// An image in memory, for the file system reader.
packrift::ImageReader memory_reader(const Bytes& image_bytes) {
    return {[&image_bytes](std::uint64_t sector, std::size_t count, unsigned char* into) {
                std::copy_n(image_bytes.begin() + static_cast<std::ptrdiff_t>(sector * SECTOR), count * SECTOR, into);
                return 0;
            },
            image_bytes.size() / SECTOR};
}

// Where each title set's VOB files lie in the image: its sectors, and the
// first sector of its VTS_nn_1.VOB, by title set.
struct VobSectors {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;  // first, one past the last
    std::map<int, std::uint64_t> first_title_vob;
    std::map<std::uint64_t, int> set_of_extent;
};

VobSectors vob_sectors(const Bytes& image_bytes) {
    const packrift::ImageReader reader = memory_reader(image_bytes);
    VobSectors vobs;
    for (const packrift::ImageFile& file : packrift::read_image_listing(reader).files) {
        if (file.name.size() != 12 || file.name.rfind("VTS_", 0) != 0 || file.name.substr(8) != ".VOB" ||
            file.name[7] == '0') {
            continue;
        }
        const int set = std::stoi(file.name.substr(4, 2));
        if (file.name[7] == '1') {
            vobs.first_title_vob[set] = file.extents.at(0).sector;
        }
        for (const packrift::ImageExtent& extent : file.extents) {
            vobs.extents.emplace_back(extent.sector, extent.sector + extent.bytes / SECTOR);
            vobs.set_of_extent[extent.sector] = set;
        }
    }
    return vobs;
}

// The title set whose VOB sectors hold sector, or 0.
int set_holding(const VobSectors& vobs, std::uint64_t sector) {
    for (const auto& [first, end] : vobs.extents) {
        if (sector >= first && sector < end) {
            return vobs.set_of_extent.at(first);
        }
    }
    return 0;
}

// What the stand-in's log says of a run: every read decrypts exactly the
// VOB sectors of the title's set, after the key was sought at that set's
// first title VOB sector, each read after its own seek; the largest batch.
struct LogCheck {
    std::string problem;
    int largest_read = 0;
    int key_seeks = 0;
};

LogCheck check_log(const std::string& log, const VobSectors& vobs, int title_set) {
    LogCheck check;
    std::istringstream lines(log);
    std::string line;
    bool key_sought = false;
    bool placed = false;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string call;
        words >> call;
        if (call == "seek") {
            std::uint64_t at = 0;
            std::string kind;
            words >> at >> kind;
            if (kind == "key") {
                ++check.key_seeks;
                key_sought = at == vobs.first_title_vob.at(title_set);
                if (!key_sought) {
                    check.problem += "a key sought at " + std::to_string(at) + "; ";
                }
            }
            placed = kind == "plain";
        } else if (call == "read") {
            std::uint64_t at = 0;
            int count = 0;
            std::string kind;
            words >> at >> count >> kind;
            check.largest_read = std::max(check.largest_read, count);
            const int set = set_holding(vobs, at);
            if (!placed) {
                check.problem += "a read without its own seek: " + line + "; ";
            }
            if (set != set_holding(vobs, at + static_cast<std::uint64_t>(count) - 1)) {
                check.problem += "a read across VOB files and others: " + line + "; ";
            }
            if ((kind == "decrypt") != (set != 0)) {
                check.problem += "a read with the wrong flags: " + line + "; ";
            }
            if (set != 0 && (set != title_set || !key_sought)) {
                check.problem += "a read of VOB sectors before their key: " + line + "; ";
            }
            placed = false;
        }
    }
    return check;
}

struct ScrambledRow {
    const char* label;
    packtest::disc::Disc disc;
    image::Options options;
    std::vector<std::string> args;  // after the image
    int title_set;
};

image::Options scrambled(image::Options options) {
    options.scrambled = true;
    return options;
}

// Output for output the bytes of the same disc unscrambled, and the same lines.
TEST(ImageRun, AScrambledImageReadThroughLibdvdcssGivesTheDiscUnscrambled) {
    const std::vector<std::string> every = {"-all", "-mkvmerge", "-chapters", "-streams"};
    const std::vector<ScrambledRow> rows = {
        {"title set 1 of two, -all -mkvmerge", packtest::disc::two_titles_one_set(), shape(true, true, false, 1, false),
         {"-title", "2", "-all", "-mkvmerge", "-chapters", "-streams"}, 1},
        {"title set 2 of two, another key", packtest::disc::two_titles_one_set(), shape(true, true, false, 1, false),
         {"-title", "3", "-all", "-mkvmerge", "-chapters", "-streams"}, 2},
        {"a title across two VOB files, three extents a file", packtest::disc::title_across_files(),
         shape(true, false, true, 3, true), {"-title", "1", "-video", "0", "-audio", "0", "-chapters"}, 1},
        {"angle 2 of 2, ISO 9660 alone", packtest::disc::multi_angle(2), shape(false, true, false, 2, false),
         {"-title", "1", "-angle", "2", "-video", "0", "-audio", "0", "-streams"}, 1},
        {"angle 1 of 3", packtest::disc::multi_angle(3), shape(true, true, false, 1, false),
         {"-title", "1", "-all", "-mkvmerge"}, 1},
    };
    const fs::path dir = packtest::scratch_dir("image-css");
    for (const ScrambledRow& row : rows) {
        SCOPED_TRACE(row.label);
        fs::remove_all(dir);
        fs::create_directories(dir / "plain");
        fs::create_directories(dir / "scrambled");
        packtest::disc::write_disc(row.disc, dir / "dvd" / "VIDEO_TS");
        const std::vector<image::File> files = image::files_of_folder(dir / "dvd" / "VIDEO_TS");
        const Bytes plain = image::build_image(files, row.options);
        const Bytes scrambled_image = image::build_image(files, scrambled(row.options));
        ASSERT_NE(plain, scrambled_image);
        packtest::write_file(dir / "plain" / "film.iso", plain);
        packtest::write_file(dir / "scrambled" / "film.iso", scrambled_image);
        std::vector<std::string> args = {"film.iso"};
        args.insert(args.end(), row.args.begin(), row.args.end());

        const auto expected = run_packrift(dir / "plain", args);
        ASSERT_EQ(expected.status, 0) << expected.err;
        const fs::path log = dir / "calls.log";
        const auto run = run_packrift(dir / "scrambled", args, standin(log));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, expected.err);
        EXPECT_EQ(run.err.find("scrambled"), std::string::npos);
        EXPECT_EQ(run.out, expected.out);
        EXPECT_EQ(outputs_of(dir / "scrambled", "film-"), outputs_of(dir / "plain", "film-"));
        EXPECT_GT(outputs_of(dir / "scrambled", "film-").size(), 1u);

        const LogCheck check = check_log(read_text(log), vob_sectors(scrambled_image), row.title_set);
        EXPECT_EQ(check.problem, "");
        EXPECT_EQ(check.key_seeks, 1);
        EXPECT_GT(check.largest_read, 2) << "sectors are read in batches";
    }
    packtest::remove_scratch_dir(dir);
}

// -title all on a scrambled image: each title read anew through libdvdcss,
// as the plain image gives it. A stop in the second title ends the run
// there: the first title's files whole, no third begun.
TEST(ImageRun, EveryTitleOfAScrambledImageAndAStopInTheSecond) {
    const packtest::disc::Disc disc = packtest::disc::two_titles_one_set();
    const fs::path dir = packtest::scratch_dir("image-css-all");
    fs::create_directories(dir / "plain");
    fs::create_directories(dir / "scrambled");
    packtest::disc::write_disc(disc, dir / "dvd" / "VIDEO_TS");
    const std::vector<image::File> files = image::files_of_folder(dir / "dvd" / "VIDEO_TS");
    const image::Options options = shape(true, true, false, 1, false);
    const Bytes scrambled_image = image::build_image(files, scrambled(options));
    packtest::write_file(dir / "plain" / "film.iso", image::build_image(files, options));
    packtest::write_file(dir / "scrambled" / "film.iso", scrambled_image);
    const std::vector<std::string> args = {"film.iso", "-title", "all", "-video", "0", "-audio", "0"};
    const auto expected = run_packrift(dir / "plain", args);
    ASSERT_EQ(expected.status, 0) << expected.err;
    const fs::path log = dir / "calls.log";
    const auto run = run_packrift(dir / "scrambled", args, standin(log));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(outputs_of(dir / "scrambled", "film-"), outputs_of(dir / "plain", "film-"));
    EXPECT_EQ(outputs_of(dir / "plain", "film-").size(), 6u);
#ifdef _WIN32
    GTEST_SKIP() << "a raised SIGINT does not reach a console's stop handler";
#else
    // Title 2 begins with the set's third unit.
    const std::uint64_t second = vob_sectors(scrambled_image).first_title_vob.at(1) +
                                 packtest::disc::lay_out(disc.title_sets[0]).at(2).first + 1;
    const auto whole = outputs_of(dir / "scrambled", "film-title1");
    for (const auto& [name, bytes] : outputs_of(dir / "scrambled", "film-")) {
        fs::remove(dir / "scrambled" / ("film-" + name));
    }
    auto stopping = standin(log);
    stopping.emplace_back("STANDIN_DVDCSS_STOP_AT", std::to_string(second));
    const auto stopped = run_packrift(dir / "scrambled", args, stopping);
    EXPECT_EQ(stopped.status, 130) << "ended by SIGINT, as the shell that ran it shows";
    EXPECT_NE(stopped.err.find("film.iso: interrupted after "), std::string::npos) << stopped.err;
    EXPECT_NE(stopped.out.find("title 2:\n"), std::string::npos);
    EXPECT_EQ(stopped.out.find("title 3:"), std::string::npos);
    EXPECT_EQ(outputs_of(dir / "scrambled", "film-title1"), whole);
    EXPECT_EQ(outputs_of(dir / "scrambled", "film-title2").size(), 2u);
    EXPECT_TRUE(outputs_of(dir / "scrambled", "film-title3").empty());
#endif
    packtest::remove_scratch_dir(dir);
}

struct EncryptedRefusal {
    const char* label;
    packtest::Environment environment;  // {} for no library anywhere
    std::string reason;                 // the line after "film.iso: "
};

// Nothing is written and no output opened; the listing still works.
TEST(ImageRun, AnEncryptedDiscThatCannotBeReadIsToldInOneLine) {
    const fs::path dir = packtest::scratch_dir("image-css-refused");
    packtest::disc::write_disc(packtest::disc::title_across_files(), dir / "dvd" / "VIDEO_TS");
    const Bytes bytes = image::build_image(image::files_of_folder(dir / "dvd" / "VIDEO_TS"),
                                           scrambled(shape(true, true, false, 1, false)));
    fs::create_directories(dir / "run");
    packtest::write_file(dir / "run" / "film.iso", bytes);
    const std::string key_sector = std::to_string(vob_sectors(bytes).first_title_vob.at(1));
    const std::string missing = packtest::utf8_of(dir / "no-such-libdvdcss");
    const std::string not_loaded = "the disc is encrypted (CSS); packrift reads such discs through libdvdcss, which "
                                   "could not be loaded (";
    const std::string install = "); see \"Encrypted discs\" in the README for how to install it";
    const fs::path log = dir / "calls.log";
    const std::vector<EncryptedRefusal> rows = {
        {"no libdvdcss", {{"PACKRIFT_LIBDVDCSS", ""}}, not_loaded + not_there(DEFAULT_LIBRARY) + install},
        {"PACKRIFT_LIBDVDCSS naming a missing file", {{"PACKRIFT_LIBDVDCSS", missing}},
         not_loaded + not_there(missing) + install},
        {"PACKRIFT_LIBDVDCSS naming no full path", {{"PACKRIFT_LIBDVDCSS", "libdvdcss.so.2"}},
         not_loaded + "PACKRIFT_LIBDVDCSS names libdvdcss.so.2, which is not a full path" + install},
        {"a library without dvdcss_read", standin(log, PACKRIFT_STANDIN_WITHOUT_READ),
         not_loaded + lacking(library_path(PACKRIFT_STANDIN_WITHOUT_READ), "dvdcss_read") + install},
        {"dvdcss_open failing", [&] {
             auto environment = standin(log);
             environment.emplace_back("STANDIN_DVDCSS_OPEN_ERRNO", "13");
             return environment;
         }(),
         "libdvdcss could not open the disc (Permission denied)"},
        {"a title key refused", [&] {
             auto environment = standin(log);
             environment.emplace_back("STANDIN_DVDCSS_NO_KEY", "all");
             return environment;
         }(),
         "libdvdcss could not get the title key of title set 1 (no title key could be found at sector " + key_sector +
             ")"},
    };
    const auto listing = run_packrift(dir / "run", {"film.iso"}, {{"PACKRIFT_LIBDVDCSS", ""}});
    EXPECT_EQ(listing.status, 0) << listing.err;
    EXPECT_EQ(listing.out, run_packrift(dir, {"dvd"}).out);
    for (const EncryptedRefusal& row : rows) {
        SCOPED_TRACE(row.label);
        const auto run = run_packrift(dir / "run", {"film.iso", "-title", "1", "-all", "-mkvmerge"}, row.environment);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "film.iso: " + row.reason + "\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir / "run"), fs::directory_iterator()), 1) << "only the image";
    }
    packtest::remove_scratch_dir(dir);
}

// An unscrambled image reads as it does without libdvdcss, which is not
// even loaded; sectors that libdvdcss cannot read are passed over as on
// any disc, the batch read again one sector at a time.
TEST(ImageRun, LibdvdcssChangesNothingOfAnUnscrambledImageAndPassesOverWhatItCannotRead) {
    const fs::path dir = packtest::scratch_dir("image-css-plain");
    const packtest::disc::Disc disc = packtest::disc::title_across_files();
    packtest::disc::write_disc(disc, dir / "dvd" / "VIDEO_TS");
    const image::Options options = shape(true, true, false, 1, false);
    const Bytes plain = image::build_image(image::files_of_folder(dir / "dvd" / "VIDEO_TS"), options);
    const Bytes scrambled_image = image::build_image(image::files_of_folder(dir / "dvd" / "VIDEO_TS"), scrambled(options));
    for (const char* folder : {"without", "with", "scrambled", "zeroed"}) {
        fs::create_directories(dir / folder);
    }
    packtest::write_file(dir / "without" / "film.iso", plain);
    packtest::write_file(dir / "with" / "film.iso", plain);
    const std::vector<std::string> args = {"film.iso", "-title", "1", "-video", "0", "-audio", "0", "-streams"};
    const fs::path log = dir / "calls.log";
    const auto without = run_packrift(dir / "without", args, {{"PACKRIFT_LIBDVDCSS", ""}});
    const auto with = run_packrift(dir / "with", args, standin(log));
    EXPECT_EQ(with.status, without.status);
    EXPECT_EQ(with.out, without.out);
    EXPECT_EQ(with.err, without.err);
    EXPECT_EQ(outputs_of(dir / "with", "film-"), outputs_of(dir / "without", "film-"));
    EXPECT_FALSE(fs::exists(log)) << "libdvdcss was not called";

    // Sectors 2 to 3 of VTS_01_2.VOB fail: tries at its 2 and 3, which jumps 4 too.
    constexpr std::uint64_t FIRST = 2;
    constexpr std::uint64_t END = 5;
    const VobSectors vobs = vob_sectors(scrambled_image);
    std::uint64_t second_vob = 0;
    for (const auto& [first, end] : vobs.extents) {
        second_vob = first > vobs.first_title_vob.at(1) ? first : second_vob;
    }
    ASSERT_NE(second_vob, 0u);
    packtest::write_file(dir / "scrambled" / "film.iso", scrambled_image);
    Bytes zeroed = plain;
    std::fill(zeroed.begin() + static_cast<std::ptrdiff_t>((second_vob + FIRST) * SECTOR),
              zeroed.begin() + static_cast<std::ptrdiff_t>((second_vob + END) * SECTOR), 0);
    packtest::write_file(dir / "zeroed" / "film.iso", zeroed);
    const std::vector<std::string> split = {"film.iso", "-title", "1", "-video", "0", "-audio", "0"};
    ASSERT_EQ(run_packrift(dir / "zeroed", split).status, 0);
    auto environment = standin(log);
    environment.emplace_back("STANDIN_DVDCSS_UNREADABLE",
                             std::to_string(second_vob + FIRST) + "-" + std::to_string(second_vob + FIRST + 1));
    const auto damaged = run_packrift(dir / "scrambled", split, environment);
    EXPECT_EQ(damaged.status, 1);
    EXPECT_EQ(damaged.err, (fs::path("film.iso") / "VIDEO_TS" / "VTS_01_2.VOB").string() +
                               ": 3 sectors could not be read and were passed over (the first at sector 2)\n");
    EXPECT_EQ(outputs_of(dir / "scrambled", "film-"), outputs_of(dir / "zeroed", "film-"));
    const LogCheck check = check_log(read_text(log), vobs, 1);
    EXPECT_EQ(check.problem, "");
    packtest::remove_scratch_dir(dir);
}

#ifndef _WIN32
// The output of a shell command, and whether it ran with status 0.
bool command_output(const std::string& command, std::string& output) {
    output.clear();
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return false;
    }
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        output += buffer;
    }
    while (!output.empty() && output.back() == '\n') {
        output.pop_back();
    }
    return ::pclose(pipe) == 0;
}
#endif

// A drive is read through libdvdcss wherever it loads, scrambled or not: a
// read-only loop device of an image gives what the unscrambled image gives.
TEST(ImageRun, ADriveIsReadThroughLibdvdcss) {
#ifdef _WIN32
    GTEST_SKIP() << "a drive on Windows is a folder";
#else
    const fs::path dir = packtest::scratch_dir("image-css-drive");
    packtest::disc::write_disc(packtest::disc::title_across_files(), dir / "dvd" / "VIDEO_TS");
    const std::vector<image::File> files = image::files_of_folder(dir / "dvd" / "VIDEO_TS");
    const image::Options options = shape(true, true, false, 1, false);
    const Bytes plain = image::build_image(files, options);
    fs::create_directories(dir / "plain");
    packtest::write_file(dir / "plain" / "film.iso", plain);
    const std::vector<std::string> options_of_run = {"-title", "1", "-video", "0", "-audio", "0", "-chapters"};
    std::vector<std::string> args = {"film.iso"};
    args.insert(args.end(), options_of_run.begin(), options_of_run.end());
    const auto expected = run_packrift(dir / "plain", args);
    EXPECT_EQ(expected.status, 0);
    for (const bool scrambling : {true, false}) {
        SCOPED_TRACE(scrambling ? "a scrambled image" : "an unscrambled image");
        const Bytes bytes = scrambling ? image::build_image(files, scrambled(options)) : plain;
        fs::remove_all(dir / "drive");
        fs::create_directories(dir / "drive");
        packtest::write_file(dir / "film.iso", bytes);
        std::string device;
        if (!command_output("losetup -r -f --show '" + packtest::utf8_of(dir / "film.iso") + "'", device)) {
            packtest::remove_scratch_dir(dir);
            GTEST_SKIP() << "no loop device to be had (run as root where losetup works): " << device;
        }
        args[0] = device;
        const fs::path log = dir / "calls.log";
        fs::remove(log);
        const auto run = run_packrift(dir / "drive", args, standin(log));
        // What an authenticated drive refuses is damage, told as such alone.
        auto unreadable = standin(dir / "damaged.log");
        const VobSectors vobs = vob_sectors(bytes);
        unreadable.emplace_back("STANDIN_DVDCSS_UNREADABLE", std::to_string(vobs.first_title_vob.at(1) + 1));
        fs::create_directories(dir / "damaged");
        const auto damaged = run_packrift(dir / "damaged", args, unreadable);
        EXPECT_EQ(damaged.status, 1);
        EXPECT_EQ(damaged.err, device + "/VIDEO_TS/VTS_01_1.VOB: 1 sector could not be read and was passed over (at "
                                        "sector 1)\n");
        std::string detached;
        command_output("losetup -d " + device, detached);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        // Named after the volume, "PACKRIFT TEST".
        EXPECT_EQ(outputs_of(dir / "drive", "packrift test-"), outputs_of(dir / "plain", "film-"));
        EXPECT_EQ(outputs_of(dir / "drive", "packrift test-").size(), 3u);
        const LogCheck check = check_log(read_text(log), vob_sectors(bytes), 1);
        EXPECT_EQ(check.problem, "");
        EXPECT_EQ(check.key_seeks, 1);
    }
    packtest::remove_scratch_dir(dir);
#endif
}

// The VIDEO_TS files of an image, as they lie in it, written into folder.
[[maybe_unused]] void write_files_of_image(const Bytes& image_bytes, const fs::path& folder) {
    const packrift::ImageReader reader = memory_reader(image_bytes);
    fs::create_directories(folder);
    for (const packrift::ImageFile& file : packrift::read_image_listing(reader).files) {
        std::vector<unsigned char> data;
        ASSERT_EQ(packrift::read_image_file(reader, file.extents, file.size, data), 0);
        packtest::write_file(folder / file.name, Bytes(data.begin(), data.end()));
    }
}

// A disc's folder that is the mounted file system of a drive whose title's
// packs are scrambled is read as that drive, through libdvdcss, its outputs
// named after the folder.
TEST(ImageRun, AMountedDiscsFolderIsReadAsItsDrive) {
#ifdef _WIN32
    GTEST_SKIP() << "a drive on Windows is a folder";
#else
    const fs::path dir = packtest::scratch_dir("image-css-mounted");
    packtest::disc::write_disc(packtest::disc::title_across_files(), dir / "dvd" / "VIDEO_TS");
    const std::vector<image::File> files = image::files_of_folder(dir / "dvd" / "VIDEO_TS");
    const image::Options options = shape(true, true, false, 1, false);
    const Bytes bytes = image::build_image(files, scrambled(options));
    for (const char* folder : {"plain", "out", "disc"}) {
        fs::create_directories(dir / folder);
    }
    packtest::write_file(dir / "plain" / "film.iso", image::build_image(files, options));
    packtest::write_file(dir / "film.iso", bytes);
    std::string device;
    if (!command_output("losetup -r -f --show '" + packtest::utf8_of(dir / "film.iso") + "'", device)) {
        packtest::remove_scratch_dir(dir);
        GTEST_SKIP() << "no loop device to be had (run as root where losetup works): " << device;
    }
    // Where the kernel has no UDF, a tmpfs mounted with the device as its
    // source, holding the image's files as they are, stands for its mount.
    std::string mounted;
    const std::string mount_point = "'" + packtest::utf8_of(dir / "disc") + "'";
    if (!command_output("mount -o ro -t udf " + device + " " + mount_point, mounted)) {
        std::string tmpfs;
        if (!command_output("mount -t tmpfs " + device + " " + mount_point, tmpfs)) {
            std::string detached;
            command_output("losetup -d " + device, detached);
            packtest::remove_scratch_dir(dir);
            GTEST_SKIP() << "the kernel cannot mount the image: " << mounted << "; nor a tmpfs: " << tmpfs;
        }
        write_files_of_image(bytes, dir / "disc" / "VIDEO_TS");
    }
    const std::vector<std::string> options_of_run = {"-title", "1", "-video", "0", "-audio", "0", "-chapters"};
    std::vector<std::string> args = {"film.iso"};
    args.insert(args.end(), options_of_run.begin(), options_of_run.end());
    const auto expected = run_packrift(dir / "plain", args);
    args[0] = packtest::utf8_of(dir / "disc");
    const fs::path log = dir / "calls.log";
    const auto run = run_packrift(dir / "out", args, standin(log));
    std::string detached;
    command_output("umount " + mount_point, detached);
    command_output("losetup -d " + device, detached);
    EXPECT_EQ(expected.status, 0);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(outputs_of(dir / "out", "disc-"), outputs_of(dir / "plain", "film-"));
    const LogCheck check = check_log(read_text(log), vob_sectors(bytes), 1);
    EXPECT_EQ(check.problem, "");
    EXPECT_EQ(check.key_seeks, 1);

    // A device that holds no DVD-Video (a hard disk with a copy of the
    // folder) is not read: the folder is split as it always was.
    packtest::write_file(dir / "blank.img", Bytes(64 * SECTOR, 0));
    if (command_output("losetup -r -f --show '" + packtest::utf8_of(dir / "blank.img") + "'", device) &&
        command_output("mount -t tmpfs " + device + " " + mount_point, mounted)) {
        write_files_of_image(bytes, dir / "disc" / "VIDEO_TS");
        fs::remove_all(dir / "out");
        fs::create_directories(dir / "out");
        fs::remove(log);
        const auto as_today = run_packrift(dir / "out", args, {{"PACKRIFT_LIBDVDCSS", ""}});
        const auto folder = run_packrift(dir / "out", args, standin(log));
        command_output("umount " + mount_point, detached);
        command_output("losetup -d " + device, detached);
        EXPECT_EQ(folder.status, 1);
        EXPECT_NE(folder.err.find("scrambled (CSS)"), std::string::npos) << folder.err;
        EXPECT_EQ(folder.err, as_today.err);
        EXPECT_FALSE(fs::exists(log)) << "libdvdcss was not called";
    }
    packtest::remove_scratch_dir(dir);
#endif
}

// On Windows a drive's root is read through libdvdcss when it is a CD-ROM
// drive's; any other drive's root, and a folder that is not a root, reads
// as a folder as before, libdvdcss present or not.
TEST(ImageRun, AWindowsDriveRootThatIsNoCdRomDriveIsReadAsAFolder) {
#ifndef _WIN32
    GTEST_SKIP() << "a drive on Linux is a block device";
#else
    const fs::path dir = packtest::scratch_dir("image-css-letter");
    packtest::disc::write_disc(packtest::disc::title_across_files(), dir / "disc" / "VIDEO_TS");
    const std::vector<std::string> options_of_run = {"-title", "1", "-video", "0", "-audio", "0", "-chapters"};
    std::vector<std::string> args = {packtest::utf8_of(dir / "disc")};
    args.insert(args.end(), options_of_run.begin(), options_of_run.end());
    fs::create_directories(dir / "path");
    const auto expected = run_packrift(dir / "path", args);
    EXPECT_EQ(expected.status, 0) << expected.err;
    // The folder by its full path, which is no root, libdvdcss there.
    const fs::path log = dir / "calls.log";
    fs::create_directories(dir / "by path");
    const auto by_path = run_packrift(dir / "by path", args, standin(log));
    EXPECT_EQ(by_path.status, 0) << by_path.err;
    EXPECT_EQ(by_path.err, expected.err);
    EXPECT_EQ(outputs_of(dir / "by path", "disc-"), outputs_of(dir / "path", "disc-"));
    EXPECT_FALSE(fs::exists(log)) << "libdvdcss was called";
    // A drive letter of its own for the folder, as subst gives one: a fixed drive's.
    const DWORD used = GetLogicalDrives();
    char letter = 'P';
    while (letter < 'Z' && (used & 1UL << (letter - 'A')) != 0) {
        ++letter;
    }
    const std::string drive(1, letter);
    const std::wstring device = {static_cast<wchar_t>(letter), L':'};
    std::error_code error;
    if (DefineDosDeviceW(0, device.c_str(), fs::absolute(dir / "disc").wstring().c_str()) == 0 ||
        !fs::exists(fs::path(drive + ":\\VIDEO_TS"), error)) {
        DefineDosDeviceW(DDD_REMOVE_DEFINITION, device.c_str(), nullptr);
        packtest::remove_scratch_dir(dir);
        GTEST_SKIP() << "a drive letter defined for a folder is not seen here (Wine finds drives in its dosdevices "
                        "folder alone); the folder by its path was read as a folder";
    }
    for (const std::string& root : {drive + ":\\", drive + ":", drive + ":/VIDEO_TS"}) {
        SCOPED_TRACE(root);
        fs::remove_all(dir / "letter");
        fs::create_directories(dir / "letter");
        args[0] = root;
        const auto run = run_packrift(dir / "letter", args, standin(log));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(outputs_of(dir / "letter", "dvd-"), outputs_of(dir / "path", "disc-"));
    }
    DefineDosDeviceW(DDD_REMOVE_DEFINITION, device.c_str(), nullptr);
    EXPECT_FALSE(fs::exists(log)) << "libdvdcss was called";
    packtest::remove_scratch_dir(dir);
#endif
}

// On Windows libdvdcss-2.dll is loaded from packrift.exe's own folder, and
// never from the current folder, where anyone could plant one.
TEST(ImageRun, TheLibdvdcssBesidePackriftIsLoadedAndOneInTheCurrentFolderIsNot) {
#ifndef _WIN32
    GTEST_SKIP() << "libdvdcss.so.2 is found through the system's search path";
#else
    const fs::path dir = packtest::scratch_dir("image-css-dll");
    packtest::disc::write_disc(packtest::disc::title_across_files(), dir / "dvd" / "VIDEO_TS");
    const std::vector<image::File> files = image::files_of_folder(dir / "dvd" / "VIDEO_TS");
    const image::Options options = shape(true, true, false, 1, false);
    for (const char* folder : {"plain", "beside", "planted", "bin"}) {
        fs::create_directories(dir / folder);
    }
    packtest::write_file(dir / "plain" / "film.iso", image::build_image(files, options));
    packtest::write_file(dir / "beside" / "film.iso", image::build_image(files, scrambled(options)));
    packtest::write_file(dir / "planted" / "film.iso", image::build_image(files, scrambled(options)));
    fs::copy_file(packtest::packrift_path(), dir / "bin" / "packrift.exe");
    fs::copy_file(PACKRIFT_STANDIN_DVDCSS, dir / "bin" / DEFAULT_LIBRARY);
    fs::copy_file(PACKRIFT_STANDIN_DVDCSS, dir / "planted" / DEFAULT_LIBRARY);
    const std::vector<std::string> args = {"film.iso", "-title", "1", "-video", "0", "-audio", "0"};
    const packtest::Environment no_variable = {{"PACKRIFT_LIBDVDCSS", ""}};
    const auto expected = run_packrift(dir / "plain", args, no_variable);
    const auto beside =
        packtest::run_packrift_at(packtest::utf8_of(dir / "bin" / "packrift.exe"), dir / "beside", args, no_variable);
    EXPECT_EQ(beside.status, 0) << beside.err;
    EXPECT_EQ(outputs_of(dir / "beside", "film-"), outputs_of(dir / "plain", "film-"));
    const auto planted = run_packrift(dir / "planted", args, no_variable);
    EXPECT_EQ(planted.status, 1);
    EXPECT_NE(planted.err.find(not_there(DEFAULT_LIBRARY)), std::string::npos) << planted.err;
    packtest::remove_scratch_dir(dir);
#endif
}

}  // namespace

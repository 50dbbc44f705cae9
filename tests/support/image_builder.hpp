#pragma once
// Writes a disc image of a VIDEO_TS folder's files, for tests of the file
// system reader and of whole runs on images: UDF as DVD-Video records it
// (OSTA UDF 1.02 on ECMA-167), ISO 9660 (ECMA-119), or both over the same
// data, with the shapes authoring tools rarely make: several extents a
// file, long allocation descriptors, 16-bit names, continued descriptor
// lists. Where each structure lies is returned, for tests that damage one.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/pack_builder.hpp"

namespace packtest::image {

struct File {
    std::string name;
    Bytes data;
};

struct Options {
    bool udf = true;
    bool iso9660 = true;
    bool long_ads = false;      // else short ones
    bool names_16_bit = false;  // OSTA CS0 of 16 bits a character, else 8
    int extents = 1;            // a file's data in this many pieces, laid out last first
    bool continued = false;     // a file's descriptors after its first in an allocation extent descriptor
    std::size_t spare_sectors = 0;  // unused blocks of the partition after the data, for a test's damage
    std::string volume = "PACKRIFT TEST";     // UDF's
    std::string iso_volume = "PACKRIFT_ISO";  // ISO 9660's
    // The content packs of every title set's VOB files scrambled by the toy
    // CSS of support/toy_css.hpp, keyed by the set's first VTS_nn_1.VOB
    // sector; with scrambled_at_cell_start, only that many content packs
    // at each cell's start (where a navigation pack names another cell).
    bool scrambled = false;
    int scrambled_at_cell_start = 0;
};

// Sectors of the image where its structures lie.
struct Layout {
    std::size_t anchor = 0;
    std::size_t main_sequence = 0;     // its partition, logical volume, terminating descriptors
    std::size_t reserve_sequence = 0;
    std::size_t partition_start = 0;
    std::size_t root_directory = 0;    // UDF's, its file identifiers
    std::size_t iso_video_ts = 0;      // ISO 9660's VIDEO_TS directory
    std::vector<std::size_t> file_entries;  // UDF's, file by file
    std::vector<std::size_t> continuations; // each file's allocation extent descriptor
    std::vector<std::string> names;         // each file's
    std::size_t spare = 0;                  // the first spare sector
    std::size_t sectors = 0;
};

// The index of the file named name in the layout's lists.
std::size_t file_of(const Layout& layout, const std::string& name);

// Writes at sector an allocation extent descriptor that holds one short
// descriptor, a continuation to the one at next (itself for a loop).
void continue_to(Bytes& image, const Layout& layout, std::size_t sector, std::size_t next);

// Makes a continued file's list of short descriptors pass through added
// more allocation extent descriptors, laid in the spare sectors, the last
// of which holds what its first one held: the file stays whole.
void lengthen_chain(Bytes& image, const Layout& layout, std::size_t file, std::size_t added);

Bytes build_image(const std::vector<File>& files, const Options& options, Layout* layout = nullptr);

// The files of a VIDEO_TS folder, names in upper case, in name order.
std::vector<File> files_of_folder(const std::filesystem::path& video_ts);

// Writes the tag's checksum and CRC anew, after a test changed the
// descriptor that begins at byte at.
void retag(Bytes& image, std::size_t at);

void put_le16(Bytes& bytes, std::size_t at, unsigned value);
void put_le32(Bytes& bytes, std::size_t at, std::uint32_t value);

}  // namespace packtest::image

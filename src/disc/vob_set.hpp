#pragma once
// A title set's VOB files, VTS_nn_1.VOB to VTS_nn_9.VOB, taken as one run
// of sectors in that order: each file's size decides where the next begins.
// On an image a file's sectors are its extents' sectors, those that lie
// inside the image.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "disc/disc_folder.hpp"

namespace packrift {

// A title set's VOB files run from VTS_nn_1.VOB to VTS_nn_9.VOB.
inline constexpr std::size_t MOST_VOB_FILES = 9;

struct VobFile {
    std::string path;   // UTF-8, as found on the disc
    std::string name;   // the file's own name, for messages
    std::uint64_t sectors = 0;  // its whole sectors; a torn last one is not read
    // On an image: where its sectors lie, in order, together sectors long.
    std::vector<ImageExtent> extents;
};

struct VobSet {
    std::vector<VobFile> files;  // from VTS_nn_1.VOB up to the first number missing
    std::uint64_t sectors = 0;   // of all files together
    // On an image: why the entry of the file after the last could not be
    // used, when that ended the set; a cell past the end is then not a
    // short copy's but the damage's.
    std::string damage;
};

// The VOB files of title_set in folder, names in any case.
VobSet find_vob_files(const DiscFolder& folder, int title_set);

// A sector of the address space as a file of the set and a sector in it.
struct SectorPlace {
    std::size_t file = 0;
    std::uint64_t sector = 0;
};

// Where sector lies, or nothing when it lies past the end of the files.
std::optional<SectorPlace> place_of_sector(const VobSet& set, std::uint64_t sector);

// Whether every sector from first to last lies in the files.
bool lies_within(const VobSet& set, std::uint64_t first_sector, std::uint64_t last_sector);

}  // namespace packrift

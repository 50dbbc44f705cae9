// Fuzzes the file system reader of disc images: the bytes are an image,
// read through a reader that aborts when asked for a sector outside them.
// Recognising it, listing its VIDEO_TS folder (UDF, else ISO 9660) and
// reading each file may fail, but never crash or read outside the image
// (ASan sees to the rest); what the listing calls sound keeps its promises:
// a file's extents cover its length, and all but the last are whole sectors.
// Each title set's VOB files, taken as a title read takes them, hold only
// sectors inside the image, and end at a damaged entry only saying so.

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "disc/disc_image.hpp"
#include "disc/vob_set.hpp"

namespace {

using namespace packrift;

// Files are read to this many bytes at most, to keep each run fast.
constexpr std::uint64_t MOST_BYTES_READ = 64 * 1024;

void require(bool promise) {
    if (!promise) {
        std::abort();
    }
}

void check_file(const ImageReader& reader, const ImageFile& file) {
    if (!file.problem.empty() || file.folder) {
        return;
    }
    std::uint64_t covered = 0;
    for (std::size_t i = 0; i < file.extents.size(); ++i) {
        require(i + 1 == file.extents.size() || file.extents[i].bytes % IMAGE_SECTOR_SIZE == 0);
        covered += file.extents[i].bytes;
    }
    require(covered == file.size);
    std::vector<unsigned char> bytes;
    const std::uint64_t length = file.size < MOST_BYTES_READ ? file.size : MOST_BYTES_READ;
    const int result = read_image_file(reader, file.extents, length, bytes);
    require(result == PAST_IMAGE_END || (result == 0 && bytes.size() == length));
}

// The image's files and damage, but not its bytes: a VOB set is planned
// from the listing alone.
void check_vob_sets(const ImageReader& reader, const ImageListing& listing) {
    NamedFile never_read;
    DiscFolder folder;
    folder.image = &never_read;
    folder.image_sectors = reader.sectors;
    folder.image_files = listing.files;
    for (const ImageFile& file : listing.files) {
        folder.entries.push_back({file.name, file.folder, file.size});
    }
    // VTS_nn_1.VOB, in any case, begins title set nn's files.
    constexpr std::size_t TITLE_SET_DIGITS = 4;
    constexpr int DECIMAL = 10;
    for (const ImageFile& file : listing.files) {
        const std::string& name = file.name;
        if (name.size() != sizeof "VTS_01_1.VOB" - 1 || !std::isdigit(static_cast<unsigned char>(name[TITLE_SET_DIGITS])) ||
            !std::isdigit(static_cast<unsigned char>(name[TITLE_SET_DIGITS + 1]))) {
            continue;
        }
        const int title_set = (name[TITLE_SET_DIGITS] - '0') * DECIMAL + (name[TITLE_SET_DIGITS + 1] - '0');
        const VobSet set = find_vob_files(folder, title_set);
        std::uint64_t sectors = 0;
        for (const VobFile& vob : set.files) {
            for (const ImageExtent& extent : vob.extents) {
                require(extent.bytes % IMAGE_SECTOR_SIZE == 0 && extent.sector < reader.sectors &&
                        extent.bytes / IMAGE_SECTOR_SIZE <= reader.sectors - extent.sector);
                sectors += extent.bytes / IMAGE_SECTOR_SIZE;
            }
        }
        require(sectors == set.sectors);
        const FolderEntry* next = set.files.size() == MOST_VOB_FILES
                                      ? nullptr
                                      : find_file(folder, title_set_file_name(title_set, static_cast<int>(set.files.size()) + 1, ".VOB"));
        const ImageFile* next_file = next == nullptr ? nullptr : image_file_of(folder, *next);
        require(set.damage == (next_file == nullptr ? std::string() : next_file->problem));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ImageReader reader{[data, size](std::uint64_t sector, std::size_t count, unsigned char* bytes) {
                                 require(sector <= size / IMAGE_SECTOR_SIZE &&
                                         count <= size / IMAGE_SECTOR_SIZE - sector);
                                 std::memcpy(bytes, data + sector * IMAGE_SECTOR_SIZE, count * IMAGE_SECTOR_SIZE);
                                 return 0;
                             },
                             size / IMAGE_SECTOR_SIZE};
    recognise_image(reader);
    const ImageListing listing = read_image_listing(reader);
    require(listing.error == 0);
    if (listing.problem.empty()) {
        for (const ImageFile& file : listing.files) {
            check_file(reader, file);
        }
        check_vob_sets(reader, listing);
    }
    return 0;
}

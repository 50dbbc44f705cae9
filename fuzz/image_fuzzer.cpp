// Fuzzes the file system reader of disc images: the bytes are an image,
// read through a reader that aborts when asked for a sector outside them.
// Recognising it, listing its VIDEO_TS folder (UDF, else ISO 9660) and
// reading each file may fail, but never crash or read outside the image
// (ASan sees to the rest); what the listing calls sound keeps its promises:
// a file's extents cover its length, and all but the last are whole sectors.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "disc/disc_image.hpp"

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
    }
    return 0;
}

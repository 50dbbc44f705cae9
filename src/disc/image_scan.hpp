#pragma once
// What the two file system readers of a disc image share: bounded reads of
// its sectors, with the first failure kept, and the names they compare.

#include <cstdint>
#include <string>
#include <vector>

#include "disc/disc_image.hpp"
#include "io/byte_view.hpp"

namespace packrift {

// The volume recognition sequence begins at sector 16 (ECMA-119 6.2,
// ECMA-167 2/8.3), each descriptor a sector, its identifier at byte 1.
inline constexpr std::uint64_t RECOGNITION_START = 16;
inline constexpr std::size_t RECOGNITION_ID_OFFSET = 1;
inline constexpr std::size_t RECOGNITION_ID_LENGTH = 5;
// A sequence is a few descriptors; past this many it is not read on.
inline constexpr std::uint64_t MOST_RECOGNITION_DESCRIPTORS = 64;

// A reading of the file system, whose first failure stops it.
struct ImageScan {
    const ImageReader& reader;
    std::string problem;  // what is damaged
    int error = 0;        // of a read that failed
    std::uint64_t sectors_read = 0;
};

inline bool scan_failed(const ImageScan& scan) {
    return !scan.problem.empty() || scan.error != 0;
}

// Sets the problem, unless there is one already; false, to be returned.
bool damaged(ImageScan& scan, const std::string& problem);

// Reads count sectors from sector; false (the scan failed) when they do not
// lie in the image, when they would pass the bound on what a listing reads,
// or when the read fails. what names them in the problem.
bool read_image_sectors(ImageScan& scan, std::uint64_t sector, std::uint64_t count,
                        std::vector<unsigned char>& bytes, const char* what);

// The five identifier bytes of a recognition descriptor.
std::string recognition_id(ByteView sector);

// Names compared as a folder's are: ASCII letters in either case.
bool same_name_any_case(const std::string& one, const std::string& other);

// A code point as UTF-8.
void append_utf8(std::string& text, std::uint32_t code);

// The VIDEO_TS folder's files, read by each file system's reader. Each
// returns with the listing's problem or error set when it failed.
void read_udf_listing(ImageScan& scan, ImageListing& listing);
void read_iso9660_listing(ImageScan& scan, ImageListing& listing);

inline constexpr const char* VIDEO_TS_NAME = "VIDEO_TS";
// The problems of an image that has no file system of the kind.
inline constexpr const char* UDF_ABSENT = "no UDF anchor at sector 256";
inline constexpr const char* ISO9660_ABSENT = "no ISO 9660 primary volume descriptor";

}  // namespace packrift

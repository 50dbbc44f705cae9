#pragma once
// A disc image (an .iso file, or a drive read as a block device): whether a
// file is one, decided by its volume recognition sequence at sector 16, and
// the files of its VIDEO_TS folder with where their bytes lie, read from its
// UDF file system (OSTA UDF 1.02 on ECMA-167) or, where it has none or that
// one is not sound, from its ISO 9660 directory (ECMA-119).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace packrift {

inline constexpr std::uint64_t IMAGE_SECTOR_SIZE = 2048;

// The image as sectors: read fills count sectors from sector (all of which
// lie inside the image) and returns 0, or the system's error number.
struct ImageReader {
    std::function<int(std::uint64_t sector, std::size_t count, unsigned char* bytes)> read;
    std::uint64_t sectors = 0;  // whole sectors the image holds
};

// bytes of a file's data from sector of the image on.
struct ImageExtent {
    std::uint64_t sector = 0;
    std::uint64_t bytes = 0;
};

struct ImageFile {
    std::string name;  // UTF-8, as recorded (an ISO 9660 name without its version)
    bool folder = false;
    std::uint64_t size = 0;
    std::vector<ImageExtent> extents;  // in file order; every one but the last whole sectors
    std::string problem;  // why its entry cannot be used; empty when it can
};

enum class ImageKind : std::uint8_t { none, image };

// What recognising gave: an image or not, or the error of a read that failed.
struct ImageRecognition {
    ImageKind kind = ImageKind::none;
    int error = 0;
};

// Whether sector 16 begins a volume recognition sequence: ECMA-119's CD001,
// or ECMA-167's BEA01 followed by an NSR02 or NSR03 descriptor.
ImageRecognition recognise_image(const ImageReader& reader);

struct ImageListing {
    bool video_ts = false;       // a VIDEO_TS folder was found
    std::vector<ImageFile> files;  // what it holds
    std::string volume;          // UDF's logical volume identifier, else ISO 9660's volume identifier
    std::string problem;         // why the file system cannot be read soundly
    int error = 0;               // of a read that failed
};

// The image's VIDEO_TS folder: from UDF, else from ISO 9660.
ImageListing read_image_listing(const ImageReader& reader);

// The sectors the volume holds, as its ISO 9660 primary volume descriptor
// records them (every DVD-Video carries one beside UDF): for a drive whose
// size the system does not give. Only the descriptors from sector 16 on
// are read, whatever reader's sectors say. Zero with the problem, or the
// error of a read that failed, where it cannot be had.
struct VolumeSpace {
    std::uint64_t sectors = 0;
    std::string problem;
    int error = 0;
};
VolumeSpace read_volume_space(const ImageReader& reader);

// Reads length bytes of a file's extents into bytes; 0, the system's error
// number, or -1 when an extent lies past the image's end.
inline constexpr int PAST_IMAGE_END = -1;
int read_image_file(const ImageReader& reader, const std::vector<ImageExtent>& extents, std::uint64_t length,
                    std::vector<unsigned char>& bytes);

}  // namespace packrift

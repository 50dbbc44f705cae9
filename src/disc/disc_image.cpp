#include "disc/disc_image.hpp"

#include <algorithm>

#include "disc/image_scan.hpp"
#include "io/byte_view.hpp"

namespace packrift {

namespace {

// A listing reads the descriptors, two directories and an entry per file:
// a few hundred sectors. An image that leads it to read more is not sound.
constexpr std::uint64_t MOST_LISTING_SECTORS = 16384;

constexpr const char* ISO9660_ID = "CD001";
constexpr const char* BEGIN_EXTENDED_AREA_ID = "BEA01";
constexpr const char* NSR02_ID = "NSR02";
constexpr const char* NSR03_ID = "NSR03";
constexpr const char* TERMINATE_EXTENDED_AREA_ID = "TEA01";

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Whether the extended area begun at sector holds an NSR descriptor before it ends.
ImageRecognition udf_after(const ImageReader& reader, std::uint64_t sector) {
    std::vector<unsigned char> bytes(IMAGE_SECTOR_SIZE);
    for (std::uint64_t i = 1; i < MOST_RECOGNITION_DESCRIPTORS && sector + i < reader.sectors; ++i) {
        const int error = reader.read(sector + i, 1, bytes.data());
        if (error != 0) {
            return {ImageKind::none, error};
        }
        const std::string id = recognition_id(view_of(bytes.data(), bytes.size()));
        if (id == NSR02_ID || id == NSR03_ID) {
            return {ImageKind::image, 0};
        }
        if (id == TERMINATE_EXTENDED_AREA_ID) {
            break;
        }
    }
    return {};
}

}  // namespace

bool damaged(ImageScan& scan, const std::string& problem) {
    if (!scan_failed(scan)) {
        scan.problem = problem;
    }
    return false;
}

bool read_image_sectors(ImageScan& scan, std::uint64_t sector, std::uint64_t count,
                        std::vector<unsigned char>& bytes, const char* what) {
    if (scan_failed(scan)) {
        return false;
    }
    if (sector > scan.reader.sectors || count > scan.reader.sectors - sector) {
        return damaged(scan, std::string(what) + " lies past the end of the image");
    }
    if (count > MOST_LISTING_SECTORS - std::min(scan.sectors_read, MOST_LISTING_SECTORS)) {
        return damaged(scan, std::string(what) + " is too large to be a DVD-Video's");
    }
    scan.sectors_read += count;
    bytes.assign(static_cast<std::size_t>(count * IMAGE_SECTOR_SIZE), 0);
    if (count > 0) {
        scan.error = scan.reader.read(sector, static_cast<std::size_t>(count), bytes.data());
    }
    return scan.error == 0;
}

std::string recognition_id(ByteView sector) {
    std::string id;
    for (std::size_t i = 0; i < RECOGNITION_ID_LENGTH; ++i) {
        id += static_cast<char>(read_u8(sector, RECOGNITION_ID_OFFSET + i));
    }
    return id;
}

bool same_name_any_case(const std::string& one, const std::string& other) {
    return one.size() == other.size() &&
           std::equal(one.begin(), one.end(), other.begin(), [](char a, char b) { return upper(a) == upper(b); });
}

void append_utf8(std::string& text, std::uint32_t code) {
    constexpr std::uint32_t ONE_BYTE = 0x80;
    constexpr std::uint32_t TWO_BYTES = 0x800;
    constexpr std::uint32_t LOW_SIX = 0x3F;
    constexpr std::uint32_t CONTINUATION = 0x80;
    constexpr std::uint32_t LEAD_OF_TWO = 0xC0;
    constexpr std::uint32_t LEAD_OF_THREE = 0xE0;
    constexpr unsigned SIX_BITS = 6;
    if (code < ONE_BYTE) {
        text += static_cast<char>(code);
    } else if (code < TWO_BYTES) {
        text += static_cast<char>(LEAD_OF_TWO | code >> SIX_BITS);
        text += static_cast<char>(CONTINUATION | (code & LOW_SIX));
    } else {
        text += static_cast<char>(LEAD_OF_THREE | code >> (2 * SIX_BITS));
        text += static_cast<char>(CONTINUATION | (code >> SIX_BITS & LOW_SIX));
        text += static_cast<char>(CONTINUATION | (code & LOW_SIX));
    }
}

ImageRecognition recognise_image(const ImageReader& reader) {
    if (reader.sectors <= RECOGNITION_START) {
        return {};
    }
    std::vector<unsigned char> bytes(IMAGE_SECTOR_SIZE);
    const int error = reader.read(RECOGNITION_START, 1, bytes.data());
    if (error != 0) {
        return {ImageKind::none, error};
    }
    const std::string id = recognition_id(view_of(bytes.data(), bytes.size()));
    if (id == ISO9660_ID) {
        return {ImageKind::image, 0};
    }
    if (id == BEGIN_EXTENDED_AREA_ID) {
        return udf_after(reader, RECOGNITION_START);
    }
    return {};
}

ImageListing read_image_listing(const ImageReader& reader) {
    ImageListing udf;
    ImageScan udf_scan{reader, {}, 0, 0};
    read_udf_listing(udf_scan, udf);
    if (udf.error != 0 || (udf.problem.empty() && udf.video_ts)) {
        return udf;
    }
    ImageListing iso;
    ImageScan iso_scan{reader, {}, 0, 0};
    read_iso9660_listing(iso_scan, iso);
    if (iso.error != 0 || (iso.problem.empty() && iso.video_ts)) {
        return iso;
    }
    // Neither holds a sound VIDEO_TS: the damage of the one that has a
    // file system is told, UDF's first; a sound one without VIDEO_TS is none.
    const bool udf_present = udf.problem != UDF_ABSENT;
    const bool iso_present = iso.problem != ISO9660_ABSENT;
    if (udf_present && !udf.problem.empty() && !(iso_present && iso.problem.empty())) {
        return udf;
    }
    if (iso_present) {
        return iso;
    }
    return udf;
}

int read_image_file(const ImageReader& reader, const std::vector<ImageExtent>& extents, std::uint64_t length,
                    std::vector<unsigned char>& bytes) {
    bytes.clear();
    std::vector<unsigned char> piece;
    for (const ImageExtent& extent : extents) {
        if (bytes.size() >= length) {
            break;
        }
        const std::uint64_t sectors = (extent.bytes + IMAGE_SECTOR_SIZE - 1) / IMAGE_SECTOR_SIZE;
        if (extent.sector > reader.sectors || sectors > reader.sectors - extent.sector) {
            return PAST_IMAGE_END;
        }
        piece.assign(static_cast<std::size_t>(sectors * IMAGE_SECTOR_SIZE), 0);
        const int error = sectors == 0 ? 0 : reader.read(extent.sector, static_cast<std::size_t>(sectors), piece.data());
        if (error != 0) {
            return error;
        }
        const std::uint64_t wanted = std::min<std::uint64_t>(extent.bytes, length - bytes.size());
        bytes.insert(bytes.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(wanted));
    }
    return 0;
}

}  // namespace packrift

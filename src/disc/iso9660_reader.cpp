// The ISO 9660 directory of a disc image (ECMA-119): the primary volume
// descriptor, the root directory and its VIDEO_TS folder, each file's
// extent, and a multi-extent file's extents joined in order.

#include <algorithm>

#include "disc/image_scan.hpp"

namespace packrift {

namespace {

// ECMA-119 8.4: the primary volume descriptor.
constexpr unsigned PRIMARY_DESCRIPTOR_TYPE = 1;
constexpr unsigned TERMINATOR_TYPE = 255;
constexpr std::size_t DESCRIPTOR_TYPE_OFFSET = 0;
constexpr std::size_t VOLUME_ID_OFFSET = 40;
constexpr std::size_t VOLUME_ID_LENGTH = 32;
// The volume space size, in logical blocks: both-byte order, little-endian first.
constexpr std::size_t VOLUME_SPACE_OFFSET = 80;
constexpr std::size_t VOLUME_SPACE_BIG_ENDIAN_OFFSET = 84;
constexpr std::size_t BLOCK_SIZE_OFFSET = 128;
constexpr std::size_t ROOT_RECORD_OFFSET = 156;
constexpr const char* ISO9660_ID = "CD001";

// ECMA-119 9.1: a directory record.
constexpr std::size_t RECORD_LENGTH_OFFSET = 0;
constexpr std::size_t ATTRIBUTE_LENGTH_OFFSET = 1;
constexpr std::size_t EXTENT_OFFSET = 2;
constexpr std::size_t DATA_LENGTH_OFFSET = 10;
constexpr std::size_t FLAGS_OFFSET = 25;
constexpr std::size_t UNIT_SIZE_OFFSET = 26;
constexpr std::size_t NAME_LENGTH_OFFSET = 32;
constexpr std::size_t NAME_OFFSET = 33;
constexpr unsigned DIRECTORY_FLAG = 0x02;
constexpr unsigned MULTI_EXTENT_FLAG = 0x80;
constexpr unsigned char SELF_NAME = 0;
constexpr unsigned char PARENT_NAME = 1;
constexpr char VERSION_SEPARATOR = ';';
// A DVD-Video's directories are a few sectors; a larger one is not sound.
constexpr std::uint64_t MOST_DIRECTORY_BYTES = 1024 * 1024;

struct Record {
    std::string name;
    bool folder = false;
    bool more_extents = false;
    ImageExtent extent;
};

// "VIDEO_TS.IFO;1" as VIDEO_TS.IFO; a name without extension loses its dot.
std::string plain_name(std::string name) {
    name = name.substr(0, name.find(VERSION_SEPARATOR));
    if (!name.empty() && name.back() == '.') {
        name.pop_back();
    }
    return name;
}

// The record at offset of a directory's sector; false when it is not sound.
bool read_record(ImageScan& scan, ByteView sector, std::size_t offset, std::size_t length, Record& record) {
    ByteView bytes = sub_view(sector, offset, length);
    const unsigned name_length = read_u8(bytes, NAME_LENGTH_OFFSET);
    const std::uint32_t attribute_sectors = read_u8(bytes, ATTRIBUTE_LENGTH_OFFSET);
    const std::uint32_t first = read_le32(bytes, EXTENT_OFFSET);
    const std::uint32_t size = read_le32(bytes, DATA_LENGTH_OFFSET);
    const unsigned flags = read_u8(bytes, FLAGS_OFFSET);
    const unsigned unit_size = read_u8(bytes, UNIT_SIZE_OFFSET);
    ByteView name = sub_view(bytes, NAME_OFFSET, name_length);
    if (bytes.overrun || name_length == 0) {
        return damaged(scan, "a directory record is cut short");
    }
    if (unit_size != 0) {
        return damaged(scan, "a file is recorded interleaved");
    }
    record.name.clear();
    for (std::size_t i = 0; i < name.size; ++i) {
        record.name += static_cast<char>(read_u8(name, i));
    }
    record.folder = (flags & DIRECTORY_FLAG) != 0;
    record.more_extents = (flags & MULTI_EXTENT_FLAG) != 0;
    record.extent = {static_cast<std::uint64_t>(first) + attribute_sectors, size};
    return true;
}

// The records of the directory whose extent is given, self and parent left out.
std::vector<Record> read_directory(ImageScan& scan, const ImageExtent& directory) {
    std::vector<Record> records;
    if (directory.bytes > MOST_DIRECTORY_BYTES) {
        damaged(scan, "a directory is too large to be a DVD-Video's");
        return records;
    }
    const std::uint64_t sectors = (directory.bytes + IMAGE_SECTOR_SIZE - 1) / IMAGE_SECTOR_SIZE;
    std::vector<unsigned char> bytes;
    if (!read_image_sectors(scan, directory.sector, sectors, bytes, "a directory")) {
        return records;
    }
    ByteView all = view_of(bytes.data(), bytes.size());
    for (std::uint64_t s = 0; s < sectors; ++s) {
        // Records do not cross a sector's end; a length of 0 pads to it.
        ByteView sector = sub_view(all, static_cast<std::size_t>(s * IMAGE_SECTOR_SIZE), IMAGE_SECTOR_SIZE);
        std::size_t offset = 0;
        while (offset < sector.size) {
            const std::size_t length = read_u8(sector, offset + RECORD_LENGTH_OFFSET);
            if (length == 0) {
                break;
            }
            Record record;
            if (!read_record(scan, sector, offset, length, record)) {
                return {};
            }
            offset += length;
            const bool dot = record.name.size() == 1 && (static_cast<unsigned char>(record.name[0]) == SELF_NAME ||
                                                        static_cast<unsigned char>(record.name[0]) == PARENT_NAME);
            if (!dot) {
                records.push_back(record);
            }
        }
    }
    return records;
}

// Files as the records give them, a multi-extent file's records joined.
std::vector<ImageFile> files_of(ImageScan& scan, const std::vector<Record>& records) {
    std::vector<ImageFile> files;
    bool continuing = false;
    for (const Record& record : records) {
        if (continuing && plain_name(record.name) == files.back().name) {
            if (files.back().extents.back().bytes % IMAGE_SECTOR_SIZE != 0) {
                damaged(scan, "a part of a multi-extent file is not whole sectors");
                return {};
            }
            files.back().extents.push_back(record.extent);
            files.back().size += record.extent.bytes;
        } else {
            files.push_back({plain_name(record.name), record.folder, record.extent.bytes, {record.extent}, {}});
        }
        continuing = record.more_extents;
    }
    return files;
}

const ImageFile* find_folder(const std::vector<ImageFile>& files, const char* name) {
    const auto found = std::find_if(files.begin(), files.end(), [name](const ImageFile& file) {
        return file.folder && same_name_any_case(file.name, name);
    });
    return found == files.end() ? nullptr : &*found;
}

std::string volume_id(ByteView descriptor) {
    std::string id;
    for (std::size_t i = 0; i < VOLUME_ID_LENGTH; ++i) {
        id += static_cast<char>(read_u8(descriptor, VOLUME_ID_OFFSET + i));
    }
    id.erase(id.find_last_not_of(' ') + 1);
    return id;
}

// The primary descriptor among the sequence's first descriptors, into
// bytes; false with the scan failed when there is none.
bool read_primary_descriptor(ImageScan& scan, std::vector<unsigned char>& bytes) {
    for (std::uint64_t i = 0; i < MOST_RECOGNITION_DESCRIPTORS; ++i) {
        if (!read_image_sectors(scan, RECOGNITION_START + i, 1, bytes, "a volume descriptor")) {
            return false;
        }
        ByteView descriptor = view_of(bytes.data(), bytes.size());
        const unsigned type = read_u8(descriptor, DESCRIPTOR_TYPE_OFFSET);
        if (recognition_id(descriptor) != ISO9660_ID || type == TERMINATOR_TYPE) {
            break;
        }
        if (type == PRIMARY_DESCRIPTOR_TYPE) {
            return true;
        }
    }
    return damaged(scan, ISO9660_ABSENT);
}

}  // namespace

VolumeSpace read_volume_space(const ImageReader& reader) {
    const ImageReader sequence{reader.read, RECOGNITION_START + MOST_RECOGNITION_DESCRIPTORS};
    ImageScan scan{sequence, {}, 0, 0};
    std::vector<unsigned char> bytes;
    VolumeSpace space;
    if (read_primary_descriptor(scan, bytes)) {
        ByteView descriptor = view_of(bytes.data(), bytes.size());
        const std::uint32_t sectors = read_le32(descriptor, VOLUME_SPACE_OFFSET);
        if (read_le16(descriptor, BLOCK_SIZE_OFFSET) != IMAGE_SECTOR_SIZE) {
            damaged(scan, "its logical blocks are not 2048 bytes");
        } else if (sectors != read_be32(descriptor, VOLUME_SPACE_BIG_ENDIAN_OFFSET) ||
                   sectors <= RECOGNITION_START) {
            // Its two byte orders disagree, or the volume ends before its own descriptor.
            damaged(scan, "the primary volume descriptor's volume space size is not sound");
        } else {
            space.sectors = sectors;
        }
    }
    space.problem = scan.problem;
    space.error = scan.error;
    return space;
}

void read_iso9660_listing(ImageScan& scan, ImageListing& listing) {
    std::vector<unsigned char> bytes;
    Record root;
    bool found = false;
    if (read_primary_descriptor(scan, bytes)) {
        ByteView descriptor = view_of(bytes.data(), bytes.size());
        if (read_le16(descriptor, BLOCK_SIZE_OFFSET) != IMAGE_SECTOR_SIZE) {
            damaged(scan, "its logical blocks are not 2048 bytes");
        } else {
            listing.volume = volume_id(descriptor);
            found = read_record(scan, descriptor, ROOT_RECORD_OFFSET, NAME_OFFSET + 1, root);
        }
    }
    if (found) {
        const std::vector<ImageFile> root_files = files_of(scan, read_directory(scan, root.extent));
        const ImageFile* video_ts = find_folder(root_files, VIDEO_TS_NAME);
        if (video_ts != nullptr && !scan_failed(scan)) {
            listing.video_ts = true;
            listing.files = files_of(scan, read_directory(scan, video_ts->extents.front()));
        }
    }
    listing.problem = scan.problem;
    listing.error = scan.error;
}

}  // namespace packrift

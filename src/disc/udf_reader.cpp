// The UDF file system of a disc image, as DVD-Video records it (OSTA UDF
// 1.02 on ECMA-167): the anchor at sector 256, the main volume descriptor
// sequence or, when that is not sound, the reserve one; the partition, the
// logical volume and the file set; the root and VIDEO_TS directories; and
// each file's entry with its allocation descriptors, short or long, over one
// extent or several, their continuations followed a bounded number of times.

#include <algorithm>
#include <optional>

#include "disc/image_scan.hpp"

namespace packrift {

namespace {

// ECMA-167 3/7.2: the descriptor tag that begins every descriptor.
constexpr std::size_t TAG_SIZE = 16;
constexpr std::size_t TAG_ID_OFFSET = 0;
constexpr std::size_t TAG_CHECKSUM_OFFSET = 4;
constexpr std::size_t TAG_CRC_OFFSET = 8;
constexpr std::size_t TAG_CRC_LENGTH_OFFSET = 10;
constexpr std::size_t TAG_LOCATION_OFFSET = 12;
constexpr unsigned CHECKSUM_MODULUS = 256;

// Tag identifiers (ECMA-167 3/7.2.1, 4/7.2.1).
constexpr unsigned ANCHOR_TAG = 2;
constexpr unsigned VOLUME_POINTER_TAG = 3;
constexpr unsigned PARTITION_TAG = 5;
constexpr unsigned LOGICAL_VOLUME_TAG = 6;
constexpr unsigned TERMINATING_TAG = 8;
constexpr unsigned FILE_SET_TAG = 256;
constexpr unsigned FILE_IDENTIFIER_TAG = 257;
constexpr unsigned ALLOCATION_EXTENT_TAG = 258;
constexpr unsigned FILE_ENTRY_TAG = 261;
constexpr unsigned EXTENDED_FILE_ENTRY_TAG = 266;

// OSTA UDF 2.2.3: DVD-Video's anchor lies at sector 256.
constexpr std::uint64_t ANCHOR_SECTOR = 256;
constexpr std::size_t MAIN_SEQUENCE_OFFSET = 16;
constexpr std::size_t RESERVE_SEQUENCE_OFFSET = 24;
// A volume descriptor sequence is a handful of descriptors; 16 sectors on a DVD.
constexpr std::uint64_t MOST_SEQUENCE_SECTORS = 64;

// ECMA-167 3/10.5: the partition descriptor.
constexpr std::size_t PARTITION_NUMBER_OFFSET = 22;
constexpr std::size_t PARTITION_START_OFFSET = 188;
constexpr std::size_t PARTITION_LENGTH_OFFSET = 192;

// ECMA-167 3/10.6: the logical volume descriptor.
constexpr std::size_t VOLUME_ID_OFFSET = 84;
constexpr std::size_t VOLUME_ID_SIZE = 128;
constexpr std::size_t LOGICAL_BLOCK_SIZE_OFFSET = 212;
constexpr std::size_t FILE_SET_ADDRESS_OFFSET = 248;
constexpr std::size_t PARTITION_MAP_COUNT_OFFSET = 268;
constexpr std::size_t PARTITION_MAPS_OFFSET = 440;
// ECMA-167 3/10.7.2: a type 1 partition map names a partition by number.
constexpr unsigned TYPE_1_MAP = 1;
constexpr std::size_t TYPE_1_MAP_SIZE = 6;
constexpr std::size_t MAP_TYPE_OFFSET = 0;
constexpr std::size_t MAP_LENGTH_OFFSET = 1;
constexpr std::size_t MAP_PARTITION_OFFSET = 4;
constexpr std::uint32_t MOST_PARTITION_MAPS = 64;
constexpr unsigned NO_PARTITION = ~0U;  // a map of another type: its references resolve to nothing

// ECMA-167 4/14.1: the file set descriptor names the root directory's entry.
constexpr std::size_t ROOT_ICB_OFFSET = 400;

// ECMA-167 4/14.9, 4/14.17: file entries and extended file entries.
constexpr std::size_t ICB_FLAGS_OFFSET = 16 + 18;
constexpr unsigned AD_TYPE_MASK = 0x7;
constexpr unsigned SHORT_ADS = 0;
constexpr unsigned LONG_ADS = 1;
constexpr unsigned EMBEDDED_DATA = 3;
constexpr std::size_t INFORMATION_LENGTH_OFFSET = 56;
constexpr std::size_t ENTRY_EA_LENGTH_OFFSET = 168;
constexpr std::size_t ENTRY_AD_LENGTH_OFFSET = 172;
constexpr std::size_t ENTRY_EA_OFFSET = 176;
constexpr std::size_t EXTENDED_EA_LENGTH_OFFSET = 208;
constexpr std::size_t EXTENDED_AD_LENGTH_OFFSET = 212;
constexpr std::size_t EXTENDED_EA_OFFSET = 216;

// ECMA-167 4/14.5: an allocation extent descriptor continues a list.
constexpr std::size_t EXTENT_AD_LENGTH_OFFSET = 20;
constexpr std::size_t EXTENT_ADS_OFFSET = 24;

// ECMA-167 4/14.14: short and long allocation descriptors.
constexpr std::size_t SHORT_AD_SIZE = 8;
constexpr std::size_t LONG_AD_SIZE = 16;
constexpr std::size_t AD_POSITION_OFFSET = 4;
constexpr std::size_t AD_PARTITION_OFFSET = 8;
constexpr std::uint32_t EXTENT_LENGTH_MASK = 0x3FFFFFFF;
constexpr unsigned EXTENT_TYPE_SHIFT = 30;
constexpr unsigned RECORDED_EXTENT = 0;
constexpr unsigned NEXT_EXTENT_OF_ADS = 3;
// Bounds on a list of extents: a VOB file has one or a few.
constexpr std::size_t MOST_CONTINUATIONS = 32;
constexpr std::size_t MOST_EXTENTS = 4096;

// ECMA-167 4/14.4: a file identifier descriptor.
constexpr std::size_t FID_CHARACTERISTICS_OFFSET = 18;
constexpr std::size_t FID_NAME_LENGTH_OFFSET = 19;
constexpr std::size_t FID_ICB_OFFSET = 20;
constexpr std::size_t FID_USE_LENGTH_OFFSET = 36;
constexpr std::size_t FID_USE_OFFSET = 38;
constexpr std::size_t FID_ALIGNMENT = 4;
constexpr unsigned FID_DIRECTORY = 0x02;
constexpr unsigned FID_DELETED = 0x04;
constexpr unsigned FID_PARENT = 0x08;
// A DVD-Video's directories are a few sectors; a larger one is not sound.
constexpr std::uint64_t MOST_DIRECTORY_BYTES = 1024 * 1024;

// OSTA UDF 2.1.1: OSTA CS0 names, 8 or 16 bits a character.
constexpr unsigned CS0_8_BIT = 8;
constexpr unsigned CS0_16_BIT = 16;

constexpr const char* NSR02_ID = "NSR02";
constexpr const char* NSR03_ID = "NSR03";
constexpr const char* KNOWN_RECOGNITION_IDS[] = {"CD001", "CDW02", "BEA01", "TEA01", "BOOT2", "NSR02", "NSR03"};

struct Partition {
    unsigned number = 0;
    std::uint32_t start = 0;
    std::uint32_t length = 0;
};

struct Volume {
    std::vector<Partition> partitions;
    std::vector<unsigned> maps;  // the partition number of each partition reference
    bool logical_volume = false;
    std::uint32_t file_set_block = 0;
    unsigned file_set_reference = 0;
    std::string name;
};

// A logical block of a partition, ECMA-167's lb_addr.
struct BlockAddress {
    std::uint32_t block = 0;
    unsigned reference = 0;
};

// A file entry's data: its length and extents, or its bytes kept in the entry.
struct EntryData {
    std::uint64_t length = 0;
    std::vector<ImageExtent> extents;
    bool embedded = false;
    std::vector<unsigned char> bytes;
};

// CRC-ITU-T, x^16 + x^12 + x^5 + 1, from 0 (ECMA-167 1/7.2.6).
std::uint16_t descriptor_crc(ByteView bytes) {
    constexpr unsigned POLYNOMIAL = 0x1021;
    constexpr unsigned TOP_BIT = 0x8000;
    constexpr unsigned BITS = 8;
    unsigned crc = 0;
    for (std::size_t i = 0; i < bytes.size; ++i) {
        crc ^= static_cast<unsigned>(read_u8(bytes, i)) << BITS;
        for (unsigned bit = 0; bit < BITS; ++bit) {
            crc = (crc & TOP_BIT) != 0 ? (crc << 1) ^ POLYNOMIAL : crc << 1;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

// Whether the descriptor's tag is sound: its checksum, its identifier, its
// location (when one is expected) and the CRC over what follows it.
bool tag_sound(ByteView descriptor, unsigned id, std::optional<std::uint32_t> location) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < TAG_SIZE; ++i) {
        sum += i == TAG_CHECKSUM_OFFSET ? 0 : read_u8(descriptor, i);
    }
    const std::size_t crc_length = read_le16(descriptor, TAG_CRC_LENGTH_OFFSET);
    ByteView covered = sub_view(descriptor, TAG_SIZE, crc_length);
    return !descriptor.overrun && sum % CHECKSUM_MODULUS == read_u8(descriptor, TAG_CHECKSUM_OFFSET) &&
           read_le16(descriptor, TAG_ID_OFFSET) == id &&
           (!location || read_le32(descriptor, TAG_LOCATION_OFFSET) == *location) &&
           descriptor_crc(covered) == read_le16(descriptor, TAG_CRC_OFFSET);
}

unsigned tag_id(ByteView descriptor) {
    return read_le16(descriptor, TAG_ID_OFFSET);
}

// Whether the recognition sequence holds an NSR descriptor: UDF is recorded.
bool nsr_recorded(ImageScan& scan) {
    std::vector<unsigned char> bytes;
    for (std::uint64_t i = 0; i < MOST_RECOGNITION_DESCRIPTORS; ++i) {
        if (RECOGNITION_START + i >= scan.reader.sectors ||
            !read_image_sectors(scan, RECOGNITION_START + i, 1, bytes, "a volume recognition descriptor")) {
            return false;
        }
        const std::string id = recognition_id(view_of(bytes.data(), bytes.size()));
        if (id == NSR02_ID || id == NSR03_ID) {
            return true;
        }
        if (std::find(std::begin(KNOWN_RECOGNITION_IDS), std::end(KNOWN_RECOGNITION_IDS), id) ==
            std::end(KNOWN_RECOGNITION_IDS)) {
            return false;
        }
    }
    return false;
}

// OSTA CS0 characters: a compression identifier, then 8- or 16-bit codes.
std::string cs0_name(ByteView bytes) {
    const unsigned compression = read_u8(bytes, 0);
    std::string name;
    if (compression == CS0_8_BIT) {
        for (std::size_t i = 1; i < bytes.size; ++i) {
            append_utf8(name, read_u8(bytes, i));
        }
    } else if (compression == CS0_16_BIT) {
        for (std::size_t i = 1; i + 1 < bytes.size; i += 2) {
            append_utf8(name, read_be16(bytes, i));
        }
    }
    return name;
}

void take_partition(ByteView descriptor, Volume& volume) {
    volume.partitions.push_back({read_le16(descriptor, PARTITION_NUMBER_OFFSET),
                                 read_le32(descriptor, PARTITION_START_OFFSET),
                                 read_le32(descriptor, PARTITION_LENGTH_OFFSET)});
}

bool take_logical_volume(ImageScan& scan, ByteView descriptor, Volume& volume) {
    if (read_le32(descriptor, LOGICAL_BLOCK_SIZE_OFFSET) != IMAGE_SECTOR_SIZE) {
        return damaged(scan, "its logical blocks are not 2048 bytes");
    }
    ByteView id = sub_view(descriptor, VOLUME_ID_OFFSET, VOLUME_ID_SIZE);
    // A dstring: its last byte is the length of what it holds.
    const std::size_t id_length = std::min<std::size_t>(read_u8(id, VOLUME_ID_SIZE - 1), VOLUME_ID_SIZE - 1);
    volume.name = cs0_name(sub_view(id, 0, id_length));
    volume.file_set_block = read_le32(descriptor, FILE_SET_ADDRESS_OFFSET + AD_POSITION_OFFSET);
    volume.file_set_reference = read_le16(descriptor, FILE_SET_ADDRESS_OFFSET + AD_PARTITION_OFFSET);
    const std::uint32_t maps = read_le32(descriptor, PARTITION_MAP_COUNT_OFFSET);
    if (maps == 0 || maps > MOST_PARTITION_MAPS) {
        return damaged(scan, "its logical volume has no sound partition maps");
    }
    std::size_t offset = PARTITION_MAPS_OFFSET;
    volume.maps.clear();
    for (std::uint32_t i = 0; i < maps; ++i) {
        const unsigned length = read_u8(descriptor, offset + MAP_LENGTH_OFFSET);
        // Only type 1 maps are read; another kind's reference stays unresolved.
        const bool type_1 = read_u8(descriptor, offset + MAP_TYPE_OFFSET) == TYPE_1_MAP && length == TYPE_1_MAP_SIZE;
        volume.maps.push_back(type_1 ? read_le16(descriptor, offset + MAP_PARTITION_OFFSET) : NO_PARTITION);
        if (length == 0) {
            return damaged(scan, "a partition map is cut short");
        }
        offset += length;
    }
    if (descriptor.overrun) {
        return damaged(scan, "its logical volume descriptor is cut short");
    }
    volume.logical_volume = true;
    return true;
}

// One volume descriptor sequence, from its extent (length, location).
bool read_sequence(ImageScan& scan, ByteView anchor, std::size_t offset, Volume& volume) {
    const std::uint64_t length = read_le32(anchor, offset);
    const std::uint64_t location = read_le32(anchor, offset + AD_POSITION_OFFSET);
    const std::uint64_t sectors = std::min(length / IMAGE_SECTOR_SIZE, MOST_SEQUENCE_SECTORS);
    std::vector<unsigned char> bytes;
    for (std::uint64_t i = 0; i < sectors; ++i) {
        if (!read_image_sectors(scan, location + i, 1, bytes, "a volume descriptor")) {
            return false;
        }
        ByteView descriptor = view_of(bytes.data(), bytes.size());
        const unsigned id = tag_id(descriptor);
        // An unrecorded sector ends a sequence whose terminating descriptor is missing.
        if (id == 0 && read_u8(descriptor, TAG_CHECKSUM_OFFSET) == 0) {
            break;
        }
        if (!tag_sound(descriptor, id, static_cast<std::uint32_t>(location + i))) {
            return damaged(scan, "a volume descriptor's tag is not sound");
        }
        if (id == TERMINATING_TAG || id == VOLUME_POINTER_TAG) {
            break;
        }
        if (id == PARTITION_TAG) {
            take_partition(descriptor, volume);
        } else if (id == LOGICAL_VOLUME_TAG && !take_logical_volume(scan, descriptor, volume)) {
            return false;
        }
    }
    if (!volume.logical_volume || volume.partitions.empty()) {
        return damaged(scan, "its volume descriptors name no partition or no logical volume");
    }
    return true;
}

// The volume, from the main sequence or, where that is not sound, the reserve.
bool read_volume(ImageScan& scan, Volume& volume) {
    std::vector<unsigned char> bytes;
    if (!read_image_sectors(scan, ANCHOR_SECTOR, 1, bytes, "the anchor volume descriptor pointer")) {
        return false;
    }
    ByteView anchor = view_of(bytes.data(), bytes.size());
    if (!tag_sound(anchor, ANCHOR_TAG, static_cast<std::uint32_t>(ANCHOR_SECTOR))) {
        return damaged(scan, "the anchor volume descriptor pointer at sector 256 is not sound");
    }
    ImageScan main{scan.reader, {}, 0, scan.sectors_read};
    if (read_sequence(main, anchor, MAIN_SEQUENCE_OFFSET, volume)) {
        scan.sectors_read = main.sectors_read;
        return true;
    }
    if (main.error != 0) {
        scan.error = main.error;
        return false;
    }
    volume = Volume{};
    scan.sectors_read = main.sectors_read;
    if (!read_sequence(scan, anchor, RESERVE_SEQUENCE_OFFSET, volume)) {
        scan.problem = main.problem;
        return false;
    }
    return true;
}

// The first sector of count sectors from the block, which must lie in its partition.
std::optional<std::uint64_t> sector_of(ImageScan& scan, const Volume& volume, BlockAddress address,
                                       std::uint64_t count) {
    if (address.reference < volume.maps.size()) {
        for (const Partition& partition : volume.partitions) {
            if (partition.number == volume.maps[address.reference] && address.block <= partition.length &&
                count <= partition.length - address.block) {
                return static_cast<std::uint64_t>(partition.start) + address.block;
            }
        }
    }
    damaged(scan, "an extent lies outside its partition");
    return std::nullopt;
}

// The descriptor at the block, its tag checked; empty when it is not sound.
std::vector<unsigned char> read_descriptor(ImageScan& scan, const Volume& volume, BlockAddress address,
                                           std::initializer_list<unsigned> ids, const char* what) {
    std::vector<unsigned char> bytes;
    const std::optional<std::uint64_t> sector = sector_of(scan, volume, address, 1);
    if (!sector || !read_image_sectors(scan, *sector, 1, bytes, what)) {
        return {};
    }
    ByteView descriptor = view_of(bytes.data(), bytes.size());
    const unsigned id = tag_id(descriptor);
    if (std::find(ids.begin(), ids.end(), id) == ids.end() || !tag_sound(descriptor, id, address.block)) {
        damaged(scan, std::string(what) + "'s tag is not sound");
        return {};
    }
    return bytes;
}

// Appends the extents a list of allocation descriptors gives, following its
// continuations, until length bytes are covered.
bool gather_extents(ImageScan& scan, const Volume& volume, std::vector<unsigned char> list, std::size_t offset,
                    std::size_t list_length, bool long_ads, unsigned own_reference, EntryData& data) {
    const std::size_t ad_size = long_ads ? LONG_AD_SIZE : SHORT_AD_SIZE;
    std::uint64_t covered = 0;
    // The allocation extent descriptors followed so far, to tell a loop.
    std::vector<BlockAddress> followed;
    ByteView whole = view_of(list.data(), list.size());
    ByteView ads = sub_view(whole, offset, list_length);
    for (std::size_t at = 0; covered < data.length;) {
        if (at + ad_size > ads.size) {
            return damaged(scan, "a file's extents hold less than its length");
        }
        const std::uint32_t field = read_le32(ads, at);
        const std::uint32_t length = field & EXTENT_LENGTH_MASK;
        const BlockAddress address{read_le32(ads, at + AD_POSITION_OFFSET),
                                   long_ads ? read_le16(ads, at + AD_PARTITION_OFFSET) : own_reference};
        at += ad_size;
        const unsigned type = field >> EXTENT_TYPE_SHIFT;
        if (type == NEXT_EXTENT_OF_ADS) {
            const bool again = std::any_of(followed.begin(), followed.end(), [address](BlockAddress earlier) {
                return earlier.block == address.block && earlier.reference == address.reference;
            });
            if (again) {
                return damaged(scan, "a file's chain of allocation descriptors loops");
            }
            if (followed.size() == MOST_CONTINUATIONS) {
                return damaged(scan, "a file's chain of allocation descriptors continues more than " +
                                         std::to_string(MOST_CONTINUATIONS) + " times");
            }
            followed.push_back(address);
            list = read_descriptor(scan, volume, address, {ALLOCATION_EXTENT_TAG}, "an allocation extent descriptor");
            ByteView extent = view_of(list.data(), list.size());
            const std::size_t next_length = read_le32(extent, EXTENT_AD_LENGTH_OFFSET);
            ads = sub_view(extent, EXTENT_ADS_OFFSET, next_length);
            if (list.empty() || extent.overrun) {
                return damaged(scan, "an allocation extent descriptor is cut short");
            }
            at = 0;
            continue;
        }
        if (length == 0 || type != RECORDED_EXTENT) {
            return damaged(scan, "a file's extents hold less than its length");
        }
        if (!data.extents.empty() && data.extents.back().bytes % IMAGE_SECTOR_SIZE != 0) {
            return damaged(scan, "an extent before a file's last is not whole sectors");
        }
        if (data.extents.size() == MOST_EXTENTS) {
            return damaged(scan, "a file has too many extents");
        }
        const std::uint64_t bytes = std::min<std::uint64_t>(length, data.length - covered);
        const std::optional<std::uint64_t> sector =
            sector_of(scan, volume, address, (bytes + IMAGE_SECTOR_SIZE - 1) / IMAGE_SECTOR_SIZE);
        if (!sector) {
            return false;
        }
        data.extents.push_back({*sector, bytes});
        covered += bytes;
    }
    return true;
}

// A file entry's length and where its data lies.
bool read_entry(ImageScan& scan, const Volume& volume, BlockAddress address, EntryData& data) {
    std::vector<unsigned char> bytes =
        read_descriptor(scan, volume, address, {FILE_ENTRY_TAG, EXTENDED_FILE_ENTRY_TAG}, "a file entry");
    if (bytes.empty()) {
        return false;
    }
    ByteView entry = view_of(bytes.data(), bytes.size());
    const bool extended = tag_id(entry) == EXTENDED_FILE_ENTRY_TAG;
    // A 64-bit length, as two little-endian halves.
    constexpr std::size_t HIGH_HALF_OFFSET = 4;
    constexpr unsigned HIGH_HALF_SHIFT = 32;
    const std::uint64_t high = read_le32(entry, INFORMATION_LENGTH_OFFSET + HIGH_HALF_OFFSET);
    data.length = static_cast<std::uint64_t>(read_le32(entry, INFORMATION_LENGTH_OFFSET)) | high << HIGH_HALF_SHIFT;
    const std::size_t ea_length = read_le32(entry, extended ? EXTENDED_EA_LENGTH_OFFSET : ENTRY_EA_LENGTH_OFFSET);
    const std::size_t ad_length = read_le32(entry, extended ? EXTENDED_AD_LENGTH_OFFSET : ENTRY_AD_LENGTH_OFFSET);
    const std::size_t ads_offset = (extended ? EXTENDED_EA_OFFSET : ENTRY_EA_OFFSET) + std::min(ea_length, bytes.size());
    ByteView ads = sub_view(entry, ads_offset, ad_length);
    if (entry.overrun) {
        return damaged(scan, "a file entry is cut short");
    }
    const unsigned ad_type = read_le16(entry, ICB_FLAGS_OFFSET) & AD_TYPE_MASK;
    if (ad_type == EMBEDDED_DATA) {
        if (data.length > ads.size) {
            return damaged(scan, "a file entry is cut short");
        }
        data.embedded = true;
        data.bytes.assign(ads.bytes, ads.bytes + data.length);
        return true;
    }
    if (ad_type != SHORT_ADS && ad_type != LONG_ADS) {
        return damaged(scan, "a file entry's allocation descriptors are of an unknown kind");
    }
    return gather_extents(scan, volume, std::move(bytes), ads_offset, ad_length, ad_type == LONG_ADS,
                          address.reference, data);
}

struct DirectoryEntry {
    std::string name;
    bool folder = false;
    BlockAddress entry;
};

// The file identifier descriptors of a directory's data, parent and deleted left out.
std::vector<DirectoryEntry> parse_directory(ImageScan& scan, ByteView data) {
    std::vector<DirectoryEntry> entries;
    std::size_t offset = 0;
    while (offset < data.size && !scan_failed(scan)) {
        ByteView fid = tail_view(data, offset);
        const unsigned characteristics = read_u8(fid, FID_CHARACTERISTICS_OFFSET);
        const std::size_t name_length = read_u8(fid, FID_NAME_LENGTH_OFFSET);
        const std::size_t use_length = read_le16(fid, FID_USE_LENGTH_OFFSET);
        const std::size_t size = (FID_USE_OFFSET + use_length + name_length + FID_ALIGNMENT - 1) / FID_ALIGNMENT *
                                 FID_ALIGNMENT;
        ByteView name = sub_view(fid, FID_USE_OFFSET + use_length, name_length);
        if (fid.overrun || !tag_sound(sub_view(fid, 0, std::min(size, fid.size)), FILE_IDENTIFIER_TAG, std::nullopt)) {
            damaged(scan, "a directory's file identifier is not sound");
            return {};
        }
        offset += size;
        if ((characteristics & (FID_DELETED | FID_PARENT)) != 0) {
            continue;
        }
        entries.push_back({cs0_name(name), (characteristics & FID_DIRECTORY) != 0,
                           {read_le32(fid, FID_ICB_OFFSET + AD_POSITION_OFFSET),
                            read_le16(fid, FID_ICB_OFFSET + AD_PARTITION_OFFSET)}});
    }
    return entries;
}

std::vector<DirectoryEntry> read_directory(ImageScan& scan, const Volume& volume, BlockAddress address) {
    EntryData data;
    if (!read_entry(scan, volume, address, data)) {
        return {};
    }
    if (data.length > MOST_DIRECTORY_BYTES) {
        damaged(scan, "a directory is too large to be a DVD-Video's");
        return {};
    }
    if (!data.embedded) {
        for (const ImageExtent& extent : data.extents) {
            std::vector<unsigned char> piece;
            if (!read_image_sectors(scan, extent.sector, (extent.bytes + IMAGE_SECTOR_SIZE - 1) / IMAGE_SECTOR_SIZE,
                                    piece, "a directory")) {
                return {};
            }
            data.bytes.insert(data.bytes.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(extent.bytes));
        }
    }
    return parse_directory(scan, view_of(data.bytes.data(), data.bytes.size()));
}

// A file of VIDEO_TS: its entry's damage is its own, so that its backup may serve.
ImageFile read_file(ImageScan& scan, const Volume& volume, const DirectoryEntry& entry) {
    ImageFile file{entry.name, entry.folder, 0, {}, {}};
    if (entry.folder) {
        return file;
    }
    ImageScan own{scan.reader, {}, 0, scan.sectors_read};
    EntryData data;
    if (read_entry(own, volume, entry.entry, data) && data.embedded) {
        damaged(own, "its data is kept in its file entry");
    }
    scan.sectors_read = own.sectors_read;
    // A read error ends the listing: the file is not known, not empty.
    if (own.error != 0) {
        scan.error = own.error;
    }
    file.problem = own.problem;
    file.size = data.length;
    file.extents = std::move(data.extents);
    return file;
}

}  // namespace

void read_udf_listing(ImageScan& scan, ImageListing& listing) {
    Volume volume;
    if (!nsr_recorded(scan)) {
        damaged(scan, UDF_ABSENT);
    } else if (read_volume(scan, volume)) {
        listing.volume = volume.name;
        const std::vector<unsigned char> file_set =
            read_descriptor(scan, volume, {volume.file_set_block, volume.file_set_reference}, {FILE_SET_TAG},
                            "the file set descriptor");
        ByteView set = view_of(file_set.data(), file_set.size());
        const BlockAddress root{read_le32(set, ROOT_ICB_OFFSET + AD_POSITION_OFFSET),
                                read_le16(set, ROOT_ICB_OFFSET + AD_PARTITION_OFFSET)};
        const std::vector<DirectoryEntry> root_entries =
            file_set.empty() ? std::vector<DirectoryEntry>{} : read_directory(scan, volume, root);
        for (const DirectoryEntry& entry : root_entries) {
            if (entry.folder && same_name_any_case(entry.name, VIDEO_TS_NAME) && !listing.video_ts) {
                listing.video_ts = true;
                for (const DirectoryEntry& file : read_directory(scan, volume, entry.entry)) {
                    if (scan.error != 0) {
                        break;
                    }
                    listing.files.push_back(read_file(scan, volume, file));
                }
            }
        }
    }
    listing.problem = scan.problem;
    listing.error = scan.error;
}

}  // namespace packrift

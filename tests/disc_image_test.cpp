// The file system reader of disc images, on crafted images: UDF and ISO
// 9660, the shapes authoring tools rarely make, and damage of every kind
// the reader must refuse without reading outside the image.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "disc/disc_image.hpp"
#include "io/platform.hpp"
#include "support/image_builder.hpp"

namespace {

using packtest::Bytes;
namespace image = packtest::image;
using packrift::ImageListing;

constexpr std::size_t SECTOR = 2048;
constexpr const char* UDF_VOLUME = "PACKRIFT TEST";
constexpr const char* ISO_VOLUME = "PACKRIFT_ISO";

// Reads from bytes; the reader is never asked for sectors outside them.
packrift::ImageReader reader_of(const Bytes& bytes) {
    return {[&bytes](std::uint64_t sector, std::size_t count, unsigned char* into) {
                EXPECT_LE((sector + count) * SECTOR, bytes.size()) << "a read outside the image";
                std::memcpy(into, bytes.data() + sector * SECTOR, count * SECTOR);
                return 0;
            },
            bytes.size() / SECTOR};
}

std::vector<image::File> sample_files() {
    return {{"VIDEO_TS.IFO", packtest::pattern(3 * SECTOR, 1)},
            {"VIDEO_TS.BUP", packtest::pattern(3 * SECTOR, 2)},
            {"VTS_01_0.IFO", packtest::pattern(5 * SECTOR + 100, 3)},
            {"VTS_01_1.VOB", packtest::pattern(9 * SECTOR, 4)}};
}

using Damage = std::function<void(Bytes&, const image::Layout&)>;

void no_damage(Bytes&, const image::Layout&) {}

struct ImageCase {
    const char* label;
    image::Options options;
    Damage damage;
    std::string problem;       // part of the listing's problem; empty: sound
    const char* volume;        // whose file system answered, when sound
    std::string file_problem;  // part of the first file's problem; empty: its bytes read back
};

image::Options udf_only() {
    image::Options options;
    options.iso9660 = false;
    return options;
}

image::Options iso_only() {
    image::Options options;
    options.udf = false;
    return options;
}

image::Options with(image::Options options, const std::function<void(image::Options&)>& change) {
    change(options);
    return options;
}

// Each file's descriptors continued, and room for a chain of spare more.
image::Options chained(std::size_t spare) {
    return with(udf_only(), [spare](image::Options& o) {
        o.continued = true;
        o.extents = 2;
        o.spare_sectors = spare;
    });
}

// A file identifier of the root directory: its parent's is first, 40 bytes.
constexpr std::size_t VIDEO_TS_IDENTIFIER = 40;

std::vector<ImageCase> cases() {
    return {
        {"UDF and ISO 9660, short descriptors", {}, no_damage, "", UDF_VOLUME, ""},
        {"UDF alone, long descriptors over three extents a file",
         with(udf_only(), [](image::Options& o) { o.long_ads = true; o.extents = 3; }), no_damage, "", UDF_VOLUME, ""},
        {"UDF alone, 16-bit names", with(udf_only(), [](image::Options& o) { o.names_16_bit = true; }), no_damage, "",
         UDF_VOLUME, ""},
        {"UDF alone, descriptors continued in an allocation extent descriptor",
         with(udf_only(), [](image::Options& o) { o.continued = true; o.extents = 4; }), no_damage, "", UDF_VOLUME, ""},
        {"ISO 9660 alone, multi-extent files joined", with(iso_only(), [](image::Options& o) { o.extents = 3; }),
         no_damage, "", ISO_VOLUME, ""},
        {"a damaged main volume descriptor sequence: the reserve one serves", {},
         [](Bytes& b, const image::Layout& l) { b[(l.main_sequence + 1) * SECTOR + 212] ^= 1; }, "", UDF_VOLUME, ""},
        {"a damaged anchor with ISO 9660 beside: ISO 9660 serves", {},
         [](Bytes& b, const image::Layout& l) { b[l.anchor * SECTOR + 16] ^= 1; }, "", ISO_VOLUME, ""},
        {"a damaged anchor, UDF alone", udf_only(),
         [](Bytes& b, const image::Layout& l) { b[l.anchor * SECTOR + 16] ^= 1; }, "anchor", nullptr, ""},
        {"both volume descriptor sequences damaged", udf_only(),
         [](Bytes& b, const image::Layout& l) {
             b[l.main_sequence * SECTOR + 100] ^= 1;
             b[l.reserve_sequence * SECTOR + 100] ^= 1;
         },
         "volume descriptor", nullptr, ""},
        {"a damaged file entry is the file's own problem", udf_only(),
         [](Bytes& b, const image::Layout& l) { b[l.file_entries[0] * SECTOR + 60] ^= 1; }, "", UDF_VOLUME,
         "file entry"},
        {"an extent past its partition", udf_only(),
         [](Bytes& b, const image::Layout& l) {
             image::put_le32(b, l.file_entries[0] * SECTOR + 176 + 4, 0x7FFFFFF0);
             image::retag(b, l.file_entries[0] * SECTOR);
         },
         "", UDF_VOLUME, "outside its partition"},
        {"a file longer than its extents", udf_only(),
         [](Bytes& b, const image::Layout& l) {
             image::put_le32(b, l.file_entries[0] * SECTOR + 56, 40 * SECTOR);
             image::retag(b, l.file_entries[0] * SECTOR);
         },
         "", UDF_VOLUME, "less than its length"},
        {"allocation descriptors whose continuation leads to itself",
         with(udf_only(), [](image::Options& o) { o.continued = true; o.extents = 2; }),
         [](Bytes& b, const image::Layout& l) {
             const std::size_t at = l.continuations[0] * SECTOR;
             image::put_le32(b, at + 24, 3U << 30 | SECTOR);
             image::put_le32(b, at + 28, static_cast<std::uint32_t>(l.continuations[0] - l.partition_start));
             image::put_le32(b, at + 20, 8);
             image::retag(b, at);
         },
         "", UDF_VOLUME, "loop"},
        {"a chain of allocation extent descriptors 32 long, the bound", chained(31),
         [](Bytes& b, const image::Layout& l) { image::lengthen_chain(b, l, 0, 31); }, "", UDF_VOLUME, ""},
        {"a chain of allocation extent descriptors past the bound", chained(32),
         [](Bytes& b, const image::Layout& l) { image::lengthen_chain(b, l, 0, 32); }, "", UDF_VOLUME,
         "continues more than 32 times"},
        {"an allocation descriptor list longer than its entry", udf_only(),
         [](Bytes& b, const image::Layout& l) {
             image::put_le32(b, l.file_entries[0] * SECTOR + 172, 0xFFFFFF00);
             image::retag(b, l.file_entries[0] * SECTOR);
         },
         "", UDF_VOLUME, "cut short"},
        {"a file identifier cut short", udf_only(),
         [](Bytes& b, const image::Layout& l) {
             const std::size_t at = l.root_directory * SECTOR + VIDEO_TS_IDENTIFIER;
             image::put_le16(b, at + 36, 0xFFFF);
             image::retag(b, at);
         },
         "file identifier", nullptr, ""},
        {"an ISO 9660 directory record cut short", iso_only(),
         [](Bytes& b, const image::Layout& l) { b[l.iso_video_ts * SECTOR + 34 * 2 + 32] = 250; }, "cut short",
         nullptr, ""},
        {"an ISO 9660 root directory past the image's end", iso_only(),
         [](Bytes& b, const image::Layout&) { image::put_le32(b, 16 * SECTOR + 156 + 2, 0x00FFFFFF); },
         "past the end of the image", nullptr, ""},
        {"ISO 9660 blocks of another size", iso_only(),
         [](Bytes& b, const image::Layout&) { image::put_le16(b, 16 * SECTOR + 128, 512); }, "2048 bytes", nullptr,
         ""},
    };
}

TEST(DiscImage, ListsVideoTsOrTellsTheDamage) {
    const std::vector<image::File> files = sample_files();
    for (const ImageCase& c : cases()) {
        SCOPED_TRACE(c.label);
        image::Layout layout;
        Bytes bytes = image::build_image(files, c.options, &layout);
        c.damage(bytes, layout);
        const packrift::ImageReader reader = reader_of(bytes);
        ASSERT_EQ(packrift::recognise_image(reader).kind, packrift::ImageKind::image);
        const ImageListing listing = packrift::read_image_listing(reader);
        EXPECT_EQ(listing.error, 0);
        if (!c.problem.empty()) {
            EXPECT_NE(listing.problem.find(c.problem), std::string::npos) << listing.problem;
            continue;
        }
        ASSERT_EQ(listing.problem, "");
        ASSERT_TRUE(listing.video_ts);
        EXPECT_EQ(listing.volume, c.volume);
        ASSERT_EQ(listing.files.size(), files.size());
        for (std::size_t i = 0; i < files.size(); ++i) {
            const packrift::ImageFile& file = listing.files[i];
            EXPECT_EQ(file.name, files[i].name);
            if (i == 0 && !c.file_problem.empty()) {
                EXPECT_NE(file.problem.find(c.file_problem), std::string::npos) << file.problem;
                continue;
            }
            EXPECT_EQ(file.problem, "") << file.name;
            EXPECT_EQ(file.size, files[i].data.size());
            Bytes read;
            EXPECT_EQ(packrift::read_image_file(reader, file.extents, file.size, read), 0);
            EXPECT_EQ(read, files[i].data) << file.name;
        }
    }
}

TEST(DiscImage, ARecognitionSequenceAtSector16DecidesAnImage) {
    const Bytes udf = image::build_image(sample_files(), udf_only());
    const Bytes iso = image::build_image(sample_files(), iso_only());
    Bytes vob(40 * SECTOR, 0);
    const Bytes pack_start = {0x00, 0x00, 0x01, 0xBA};
    std::copy(pack_start.begin(), pack_start.end(), vob.begin() + 16 * SECTOR);
    Bytes beginning_only = udf;  // BEA01 without NSR02 after it
    std::fill(beginning_only.begin() + 17 * SECTOR, beginning_only.begin() + 19 * SECTOR, 0);
    const Bytes short_file(16 * SECTOR, 0);
    EXPECT_EQ(packrift::recognise_image(reader_of(udf)).kind, packrift::ImageKind::image);
    EXPECT_EQ(packrift::recognise_image(reader_of(iso)).kind, packrift::ImageKind::image);
    EXPECT_EQ(packrift::recognise_image(reader_of(vob)).kind, packrift::ImageKind::none);
    EXPECT_EQ(packrift::recognise_image(reader_of(beginning_only)).kind, packrift::ImageKind::none);
    EXPECT_EQ(packrift::recognise_image(reader_of(short_file)).kind, packrift::ImageKind::none);
}

TEST(DiscImage, AFileCutShortByTheImagesEndIsNotReadPastIt) {
    const std::vector<image::File> files = sample_files();
    Bytes bytes = image::build_image(files, udf_only());
    bytes.resize(bytes.size() - 4 * SECTOR);  // the VOB file's data lies last
    const packrift::ImageReader reader = reader_of(bytes);
    const ImageListing listing = packrift::read_image_listing(reader);
    ASSERT_EQ(listing.problem, "");
    ASSERT_EQ(listing.files.size(), files.size());
    Bytes read;
    EXPECT_EQ(packrift::read_image_file(reader, listing.files[3].extents, listing.files[3].size, read),
              packrift::PAST_IMAGE_END);
}

TEST(DiscImage, AReadErrorIsTheSystemsErrorNotDamage) {
    const Bytes bytes = image::build_image(sample_files(), {});
    constexpr int IO_ERROR = 5;
    packrift::ImageReader failing = reader_of(bytes);
    const auto read = failing.read;
    // The anchor and all after it cannot be read, as on a scratched disc.
    failing.read = [read](std::uint64_t sector, std::size_t count, unsigned char* into) {
        return sector + count > 256 ? IO_ERROR : read(sector, count, into);
    };
    const ImageListing listing = packrift::read_image_listing(failing);
    EXPECT_EQ(listing.error, IO_ERROR);

    // The entry of the first file of VIDEO_TS cannot be read, those after it
    // can: the error still ends the listing, and no file passes for empty.
    std::vector<std::uint64_t> sectors;
    packrift::ImageReader recording = reader_of(bytes);
    recording.read = [read, &sectors](std::uint64_t sector, std::size_t count, unsigned char* into) {
        sectors.push_back(sector);
        return read(sector, count, into);
    };
    const std::size_t files = packrift::read_image_listing(recording).files.size();
    ASSERT_GT(sectors.size(), files);
    const std::uint64_t first_entry = sectors[sectors.size() - files];
    packrift::ImageReader one_failing = reader_of(bytes);
    one_failing.read = [read, first_entry](std::uint64_t sector, std::size_t count, unsigned char* into) {
        return sector <= first_entry && first_entry < sector + count ? IO_ERROR : read(sector, count, into);
    };
    EXPECT_EQ(packrift::read_image_listing(one_failing).error, IO_ERROR);
}

// A Windows drive has no size as a file: its volume descriptor gives it,
// where it is sound.
TEST(DiscImage, TheVolumeSpaceIsTheVolumeDescriptorsOrTheDamage) {
    struct Row {
        const char* label;
        image::Options options;
        std::function<void(Bytes&)> damage;
        const char* problem;  // empty: sound
    };
    constexpr std::size_t PRIMARY = 16 * SECTOR;
    const std::vector<Row> rows = {
        {"both file systems", {}, [](Bytes&) {}, ""},
        {"after a boot record", iso_only(),
         [](Bytes& b) {
             std::copy_n(b.begin() + PRIMARY, SECTOR, b.begin() + PRIMARY + SECTOR);  // over the terminator
             b[PRIMARY] = 0;
         },
         ""},
        {"UDF alone", udf_only(), [](Bytes&) {}, "no ISO 9660 primary volume descriptor"},
        {"byte orders that disagree", iso_only(), [](Bytes& b) { image::put_le32(b, PRIMARY + 84, 0x00100000); },
         "volume space size"},
        {"a volume that ends before its descriptor", iso_only(),
         [](Bytes& b) {
             image::put_le32(b, PRIMARY + 80, 16);
             image::put_le32(b, PRIMARY + 84, 0x10000000);  // 16, big-endian
         },
         "volume space size"},
        {"blocks of another size", iso_only(), [](Bytes& b) { image::put_le16(b, PRIMARY + 128, 512); }, "2048 bytes"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Bytes bytes = image::build_image(sample_files(), row.options);
        row.damage(bytes);
        packrift::ImageReader reader = reader_of(bytes);
        reader.sectors = 0;  // not known: the descriptor says
        const packrift::VolumeSpace space = packrift::read_volume_space(reader);
        EXPECT_EQ(space.error, 0);
        if (*row.problem != '\0') {
            EXPECT_NE(space.problem.find(row.problem), std::string::npos) << space.problem;
            EXPECT_EQ(space.sectors, 0U);
            continue;
        }
        EXPECT_EQ(space.problem, "");
        EXPECT_EQ(space.sectors, bytes.size() / SECTOR);
    }
    // A disc that ends before its descriptors (a read that fails there) is the system's error.
    packrift::ImageReader failing{[](std::uint64_t, std::size_t, unsigned char*) { return 5; }, 0};
    EXPECT_EQ(packrift::read_volume_space(failing).error, 5);
}

// A Windows drive's root is read as the drive: the path's own form says
// whether it is one, before the system is asked what kind of drive it names.
TEST(DriveRoot, ADrivesRootOrItsVideoTsNamesTheDeviceForLibdvdcss) {
    struct Row {
        const char* path;
        const char* device;  // empty: none
    };
    const std::vector<Row> rows = {
        {"D:", "D:"},           {"d:\\", "D:"},          {"E:/", "E:"},
        {"D:\\VIDEO_TS", "D:"}, {"D:\\video_ts\\", "D:"}, {"D:/VIDEO_TS/", "D:"},
        {"D:\\copy\\VIDEO_TS", ""},  // a copy kept on the disc is not the disc
        {"D:\\VIDEO_TSX", ""},     {"D:\\\\", ""},   {"D:VIDEO_TS", ""},
        {"1:\\", ""},              {"\\\\server\\share", ""}, {"/media/dvd", ""}, {"", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(packrift::drive_root_device_in(row.path).value_or(""), row.device);
    }
}

// A disc's folder is read as its drive where it is a mounted drive's: the
// deepest mount that holds the folder names the device, when it is one and
// the folder is the whole device's root or its VIDEO_TS.
TEST(MountedDisc, TheDeepestMountHoldingAFolderNamesItsDevice) {
    const std::string mountinfo =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "30 22 0:26 / /tmp rw shared:5 - tmpfs tmpfs rw\n"
        "41 22 11:0 / /media/my\\040film ro,relatime shared:9 - udf /dev/sr0 ro\n"
        "42 22 11:1 / /media/usb ro - iso9660 /dev/sr1 ro\n"
        "43 22 11:1 / /media/usb ro master:3 - tmpfs none rw\n"
        "44 22 0:40 / /mnt/cut ro -\n"
        "45 22 11:0 /extras /media/bound ro - udf /dev/sr0 ro\n";
    struct Row {
        const char* path;
        const char* device;  // empty: none
    };
    const std::vector<Row> rows = {
        {"/media/my film/VIDEO_TS", "/dev/sr0"},   // the mount point's space escaped as \040
        {"/media/my film/video_ts", "/dev/sr0"},
        {"/media/my film", "/dev/sr0"},
        {"/media/my film/copy/VIDEO_TS", ""},      // a copy kept on the disc is not the disc
        {"/media/my filmography", ""},             // not inside "/media/my film", nor the root's disc
        {"/tmp/disc/VIDEO_TS", ""},                // a mount whose source is no device
        {"/media/usb/VIDEO_TS", ""},               // the later mount over the same point hides the drive
        {"/mnt/cut", ""},                          // a line cut short is passed over
        {"/media/bound", ""},                      // a folder of the device bound there
        {"/VIDEO_TS", "/dev/sda1"},
        {"/home/me/dvd", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const std::optional<std::string> device = packrift::mount_source_in(mountinfo, row.path);
        EXPECT_EQ(device.value_or(""), row.device);
    }
    EXPECT_FALSE(packrift::mount_source_in("", "/media/dvd").has_value());
}

}  // namespace

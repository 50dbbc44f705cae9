#include "support/image_builder.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <stdexcept>

#include "support/toy_css.hpp"

namespace packtest::image {

namespace {

constexpr std::size_t SECTOR = 2048;
constexpr std::size_t MAIN_SEQUENCE = 32;
constexpr std::size_t RESERVE_SEQUENCE = 48;
constexpr std::size_t ANCHOR = 256;
constexpr std::size_t ISO_ROOT = 257;
constexpr std::size_t ISO_VIDEO_TS = 258;  // two sectors
constexpr std::size_t PARTITION = 260;
// Blocks of the partition.
constexpr std::uint32_t FILE_SET_BLOCK = 0;
constexpr std::uint32_t ROOT_ENTRY_BLOCK = 1;
constexpr std::uint32_t ROOT_DATA_BLOCK = 2;
constexpr std::uint32_t VIDEO_TS_ENTRY_BLOCK = 3;
constexpr std::uint32_t VIDEO_TS_DATA_BLOCK = 4;  // two blocks
constexpr std::uint32_t FIRST_FILE_BLOCK = 6;

void put_u8(Bytes& bytes, std::size_t at, unsigned value) {
    bytes.at(at) = static_cast<unsigned char>(value);
}

void put_be16(Bytes& bytes, std::size_t at, unsigned value) {
    put_u8(bytes, at, value >> 8 & 0xFF);
    put_u8(bytes, at + 1, value & 0xFF);
}

void put_be32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    put_be16(bytes, at, value >> 16);
    put_be16(bytes, at + 2, value & 0xFFFF);
}

void put_text(Bytes& bytes, std::size_t at, const std::string& text) {
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

std::uint16_t crc_of(const Bytes& bytes, std::size_t from, std::size_t length) {
    unsigned crc = 0;
    for (std::size_t i = from; i < from + length; ++i) {
        crc ^= static_cast<unsigned>(bytes.at(i)) << 8;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1;
        }
    }
    return static_cast<std::uint16_t>(crc);
}

// The tag at at: identifier, location, and the CRC over length bytes after it.
void tag(Bytes& bytes, std::size_t at, unsigned id, std::uint32_t location, std::size_t length) {
    put_le16(bytes, at, id);
    put_le16(bytes, at + 2, 2);
    put_le16(bytes, at + 10, static_cast<unsigned>(length));
    put_le32(bytes, at + 12, location);
    put_le16(bytes, at + 8, crc_of(bytes, at + 16, length));
    unsigned sum = 0;
    for (std::size_t i = 0; i < 16; ++i) {
        sum += i == 4 ? 0 : bytes.at(at + i);
    }
    put_u8(bytes, at + 4, sum & 0xFF);
}

Bytes cs0(const std::string& name, bool wide) {
    Bytes bytes{static_cast<unsigned char>(wide ? 16 : 8)};
    for (char c : name) {
        if (wide) {
            bytes.push_back(0);
        }
        bytes.push_back(static_cast<unsigned char>(c));
    }
    return bytes;
}

struct Piece {
    std::uint32_t block = 0;  // in the partition
    std::uint32_t bytes = 0;
};

struct Builder {
    Bytes image;
    const Options& options;
    std::size_t sector(std::uint32_t block) const { return PARTITION + block; }
    std::size_t at(std::uint32_t block) const { return sector(block) * SECTOR; }
};

void recognition(Builder& b) {
    std::size_t s = 16;
    auto descriptor = [&b, &s](unsigned type, const char* id) {
        put_u8(b.image, s * SECTOR, type);
        put_text(b.image, s * SECTOR + 1, id);
        put_u8(b.image, s * SECTOR + 6, 1);
        ++s;
    };
    if (b.options.iso9660) {
        ++s;  // the primary volume descriptor, written with the directories
        descriptor(255, "CD001");
    }
    if (b.options.udf) {
        descriptor(0, "BEA01");
        descriptor(0, "NSR02");
        descriptor(0, "TEA01");
    }
}

void volume_sequence(Builder& b, std::size_t first, std::uint32_t partition_length) {
    std::size_t at = first * SECTOR;
    put_le16(b.image, at + 22, 0);
    put_le32(b.image, at + 188, PARTITION);
    put_le32(b.image, at + 192, partition_length);
    tag(b.image, at, 5, static_cast<std::uint32_t>(first), SECTOR - 16);
    at += SECTOR;
    const Bytes id = cs0(b.options.volume, false);
    std::copy(id.begin(), id.end(), b.image.begin() + static_cast<std::ptrdiff_t>(at + 84));
    put_u8(b.image, at + 84 + 127, static_cast<unsigned>(id.size()));
    put_le32(b.image, at + 212, SECTOR);
    put_le32(b.image, at + 248, SECTOR);
    put_le32(b.image, at + 252, FILE_SET_BLOCK);
    put_le32(b.image, at + 264, 6);
    put_le32(b.image, at + 268, 1);
    put_u8(b.image, at + 440, 1);
    put_u8(b.image, at + 441, 6);
    put_le16(b.image, at + 442, 1);
    put_le16(b.image, at + 444, 0);
    tag(b.image, at, 6, static_cast<std::uint32_t>(first + 1), SECTOR - 16);
    at += SECTOR;
    tag(b.image, at, 8, static_cast<std::uint32_t>(first + 2), SECTOR - 16);
}

// An allocation descriptor at at, short or long; its size.
std::size_t put_ad(Builder& b, std::size_t at, std::uint32_t length_field, std::uint32_t block) {
    put_le32(b.image, at, length_field);
    put_le32(b.image, at + 4, block);
    if (b.options.long_ads) {
        put_le16(b.image, at + 8, 0);
        return 16;
    }
    return 8;
}

// A file entry at block for data in pieces; a continuation in block + 1 when asked.
void file_entry(Builder& b, std::uint32_t block, unsigned file_type, std::uint64_t length,
                const std::vector<Piece>& pieces, bool continued) {
    const std::size_t at = b.at(block);
    put_u8(b.image, at + 16 + 11, file_type);
    put_le16(b.image, at + 16 + 18, b.options.long_ads ? 1 : 0);
    put_le32(b.image, at + 56, static_cast<std::uint32_t>(length));
    put_le32(b.image, at + 60, static_cast<std::uint32_t>(length >> 32));
    std::size_t ad = at + 176;
    std::size_t in_entry = continued ? std::min<std::size_t>(1, pieces.size() - 1) : pieces.size();
    for (std::size_t i = 0; i < in_entry; ++i) {
        ad += put_ad(b, ad, pieces[i].bytes, pieces[i].block);
    }
    if (continued) {
        ad += put_ad(b, ad, 3U << 30 | static_cast<std::uint32_t>(SECTOR), block + 1);
        const std::size_t extent = b.at(block + 1);
        std::size_t next = extent + 24;
        for (std::size_t i = in_entry; i < pieces.size(); ++i) {
            next += put_ad(b, next, pieces[i].bytes, pieces[i].block);
        }
        put_le32(b.image, extent + 20, static_cast<std::uint32_t>(next - extent - 24));
        tag(b.image, extent, 258, block + 1, next - extent - 16);
    }
    put_le32(b.image, at + 172, static_cast<std::uint32_t>(ad - at - 176));
    tag(b.image, at, 261, block, ad - at - 16);
}

// A file identifier at at; its size.
std::size_t identifier(Builder& b, std::size_t at, std::uint32_t block, const std::string& name, unsigned flags,
                       std::uint32_t entry) {
    const Bytes id = name.empty() ? Bytes{} : cs0(name, b.options.names_16_bit);
    put_u8(b.image, at + 18, flags);
    put_u8(b.image, at + 19, static_cast<unsigned>(id.size()));
    put_le32(b.image, at + 20, SECTOR);
    put_le32(b.image, at + 24, entry);
    std::copy(id.begin(), id.end(), b.image.begin() + static_cast<std::ptrdiff_t>(at + 38));
    const std::size_t size = (38 + id.size() + 3) / 4 * 4;
    tag(b.image, at, 257, block, size - 16);
    return size;
}

void iso_record(Builder& b, std::size_t& at, std::uint32_t sector, std::uint32_t length, unsigned flags,
                const std::string& name) {
    const std::size_t size = (33 + name.size() + 1) / 2 * 2;
    put_u8(b.image, at, static_cast<unsigned>(size));
    put_le32(b.image, at + 2, sector);
    put_be32(b.image, at + 6, sector);
    put_le32(b.image, at + 10, length);
    put_be32(b.image, at + 14, length);
    put_u8(b.image, at + 25, flags);
    put_le16(b.image, at + 28, 1);
    put_be16(b.image, at + 30, 1);
    put_u8(b.image, at + 32, static_cast<unsigned>(name.size()));
    put_text(b.image, at + 33, name);
    at += size;
}

void iso_directories(Builder& b, const std::vector<File>& files, const std::vector<std::vector<Piece>>& pieces) {
    std::size_t at = 16 * SECTOR;
    put_u8(b.image, at, 1);
    put_text(b.image, at + 1, "CD001");
    put_u8(b.image, at + 6, 1);
    put_text(b.image, at + 40, (b.options.iso_volume + std::string(32, ' ')).substr(0, 32));
    put_le32(b.image, at + 80, static_cast<std::uint32_t>(b.image.size() / SECTOR));
    put_be32(b.image, at + 84, static_cast<std::uint32_t>(b.image.size() / SECTOR));
    put_le16(b.image, at + 128, SECTOR);
    std::size_t root = at + 156;
    iso_record(b, root, ISO_ROOT, SECTOR, 2, std::string(1, '\0'));
    at = ISO_ROOT * SECTOR;
    iso_record(b, at, ISO_ROOT, SECTOR, 2, std::string(1, '\0'));
    iso_record(b, at, ISO_ROOT, SECTOR, 2, std::string(1, '\1'));
    iso_record(b, at, ISO_VIDEO_TS, 2 * SECTOR, 2, "VIDEO_TS");
    at = ISO_VIDEO_TS * SECTOR;
    iso_record(b, at, ISO_VIDEO_TS, 2 * SECTOR, 2, std::string(1, '\0'));
    iso_record(b, at, ISO_ROOT, SECTOR, 2, std::string(1, '\1'));
    for (std::size_t f = 0; f < files.size(); ++f) {
        for (std::size_t i = 0; i < pieces[f].size(); ++i) {
            if (at % SECTOR + 33 + files[f].name.size() + 3 > SECTOR) {
                at = (at / SECTOR + 1) * SECTOR;  // records do not cross a sector's end
            }
            const bool more = i + 1 < pieces[f].size();
            iso_record(b, at, static_cast<std::uint32_t>(b.sector(pieces[f][i].block)), pieces[f][i].bytes,
                       more ? 0x80 : 0, files[f].name + ";1");
        }
    }
}

// "VTS_01_2.VOB" gives title set 1 and part 2; a menu VOB (part 0) or another file none.
bool title_vob(const std::string& name, int& title_set, int& part) {
    if (name.size() != 12 || name.compare(0, 4, "VTS_") != 0 || name.compare(8, 4, ".VOB") != 0 ||
        !std::isdigit(static_cast<unsigned char>(name[4])) || !std::isdigit(static_cast<unsigned char>(name[5])) ||
        !std::isdigit(static_cast<unsigned char>(name[7])) || name[7] == '0') {
        return false;
    }
    title_set = (name[4] - '0') * 10 + (name[5] - '0');
    part = name[7] - '0';
    return true;
}

// A pack whose first packet is content (video, audio, private stream 1),
// which CSS scrambles; navigation packs and padding it leaves alone.
bool content_pack(const unsigned char* sector) {
    const auto be32 = [sector](std::size_t at) {
        return static_cast<std::uint32_t>(sector[at]) << 24 | static_cast<std::uint32_t>(sector[at + 1]) << 16 |
               static_cast<std::uint32_t>(sector[at + 2]) << 8 | sector[at + 3];
    };
    const std::uint32_t packet = be32(14);
    return be32(0) == 0x1BA && (packet == 0x1BD || (packet >= 0x1C0 && packet <= 0x1EF));
}

bool navigation_pack(const unsigned char* sector) {
    return sector[0] == 0 && sector[1] == 0 && sector[2] == 1 && sector[3] == 0xBA && sector[17] == 0xBB;
}

// Scrambles the title sets' content packs, each set with its key.
void scramble_title_sets(Builder& b, const std::vector<File>& files, const std::vector<std::vector<Piece>>& pieces) {
    constexpr std::size_t DSI_VOB_ID = 0x407 + 24;
    constexpr std::size_t DSI_CELL_ID = 0x407 + 27;
    std::map<int, std::uint32_t> keys;
    for (std::size_t f = 0; f < files.size(); ++f) {
        int title_set = 0;
        int part = 0;
        if (title_vob(files[f].name, title_set, part) && part == 1 && !pieces[f].empty()) {
            keys[title_set] = toy_css::key_of_title_set(static_cast<std::uint32_t>(b.sector(pieces[f][0].block)));
        }
    }
    for (std::size_t f = 0; f < files.size(); ++f) {
        int title_set = 0;
        int part = 0;
        if (!title_vob(files[f].name, title_set, part) || keys.count(title_set) == 0) {
            continue;
        }
        int left_in_cell = 0;
        unsigned cell = 0xFFFFFFFF;
        for (const Piece& piece : pieces[f]) {
            for (std::size_t s = 0; s < piece.bytes / SECTOR; ++s) {
                unsigned char* sector = b.image.data() + b.at(piece.block) + s * SECTOR;
                if (navigation_pack(sector)) {
                    const unsigned this_cell = static_cast<unsigned>(sector[DSI_VOB_ID] << 16 | sector[DSI_VOB_ID + 1] << 8 | sector[DSI_CELL_ID]);
                    if (this_cell != cell) {
                        left_in_cell = b.options.scrambled_at_cell_start;
                    }
                    cell = this_cell;
                }
                if (content_pack(sector) && (b.options.scrambled_at_cell_start == 0 || left_in_cell-- > 0)) {
                    toy_css::scramble(sector, keys[title_set]);
                }
            }
        }
    }
}

}  // namespace

void put_le16(Bytes& bytes, std::size_t at, unsigned value) {
    put_u8(bytes, at, value & 0xFF);
    put_u8(bytes, at + 1, value >> 8 & 0xFF);
}

void put_le32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    put_le16(bytes, at, value & 0xFFFF);
    put_le16(bytes, at + 2, value >> 16);
}

void retag(Bytes& image, std::size_t at) {
    const unsigned id = image.at(at) | image.at(at + 1) << 8;
    const std::size_t length = image.at(at + 10) | image.at(at + 11) << 8;
    const std::uint32_t location = static_cast<std::uint32_t>(image.at(at + 12) | image.at(at + 13) << 8 |
                                                              image.at(at + 14) << 16 | image.at(at + 15) << 24);
    tag(image, at, id, location, length);
}

std::size_t file_of(const Layout& layout, const std::string& name) {
    const auto found = std::find(layout.names.begin(), layout.names.end(), name);
    if (found == layout.names.end()) {
        throw std::invalid_argument("no file " + name + " in the image");
    }
    return static_cast<std::size_t>(found - layout.names.begin());
}

void continue_to(Bytes& image, const Layout& layout, std::size_t sector, std::size_t next) {
    const std::size_t at = sector * SECTOR;
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(at), image.begin() + static_cast<std::ptrdiff_t>(at + SECTOR), 0);
    put_le32(image, at + 20, 8);
    put_le32(image, at + 24, 3U << 30 | static_cast<std::uint32_t>(SECTOR));
    put_le32(image, at + 28, static_cast<std::uint32_t>(next - layout.partition_start));
    tag(image, at, 258, static_cast<std::uint32_t>(sector - layout.partition_start), 24 + 8 - 16);
}

void lengthen_chain(Bytes& image, const Layout& layout, std::size_t file, std::size_t added) {
    const std::size_t first = layout.continuations.at(file);
    const std::size_t last = layout.spare + added - 1;
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(first * SECTOR), SECTOR,
                image.begin() + static_cast<std::ptrdiff_t>(last * SECTOR));
    put_le32(image, last * SECTOR + 12, static_cast<std::uint32_t>(last - layout.partition_start));
    retag(image, last * SECTOR);
    for (std::size_t s = layout.spare; s < last; ++s) {
        continue_to(image, layout, s, s + 1);
    }
    continue_to(image, layout, first, layout.spare);
}

Bytes build_image(const std::vector<File>& files, const Options& options, Layout* layout) {
    Builder b{{}, options};
    // Each file: its entry, its allocation extent descriptor, its data's pieces.
    std::uint32_t next = FIRST_FILE_BLOCK;
    std::vector<std::vector<Piece>> pieces(files.size());
    Layout places;
    // The entries first, then the data, so that files of one piece follow each other.
    for (std::size_t f = 0; f < files.size(); ++f) {
        places.names.push_back(files[f].name);
        places.file_entries.push_back(b.sector(next));
        places.continuations.push_back(b.sector(next + 1));
        next += 2;
    }
    for (std::size_t f = 0; f < files.size(); ++f) {
        const std::size_t size = files[f].data.size();
        const std::size_t sectors = (size + SECTOR - 1) / SECTOR;
        const std::size_t count = std::max<std::size_t>(1, std::min<std::size_t>(options.extents, sectors));
        const std::size_t per_piece = (sectors + count - 1) / count;
        // Laid out last piece first, so that no two follow each other on the image.
        std::vector<std::size_t> firsts;
        for (std::size_t s = 0; s < std::max<std::size_t>(sectors, 1); s += std::max<std::size_t>(per_piece, 1)) {
            firsts.push_back(s);
        }
        pieces[f].resize(firsts.size());
        for (std::size_t i = firsts.size(); i-- > 0;) {
            const std::size_t piece_sectors = std::min(per_piece, sectors - firsts[i]);
            pieces[f][i] = {next, static_cast<std::uint32_t>(std::min(size - firsts[i] * SECTOR, piece_sectors * SECTOR))};
            // A file of several pieces has a gap after each; one of a single
            // piece follows the one before, as DVD-Video lays out its VOB files.
            next += static_cast<std::uint32_t>(std::max<std::size_t>(piece_sectors, 1)) + (count > 1 ? 1 : 0);
        }
    }
    places.spare = b.sector(next);
    next += static_cast<std::uint32_t>(options.spare_sectors);
    b.image.assign((PARTITION + next) * SECTOR, 0);
    for (std::size_t f = 0; f < files.size(); ++f) {
        for (std::size_t i = 0; i < pieces[f].size(); ++i) {
            const auto from = files[f].data.begin() + static_cast<std::ptrdiff_t>(i * (pieces[f].empty() ? 0 : pieces[f][0].bytes));
            std::copy(from, from + pieces[f][i].bytes, b.image.begin() + static_cast<std::ptrdiff_t>(b.at(pieces[f][i].block)));
        }
    }
    if (options.scrambled) {
        scramble_title_sets(b, files, pieces);
    }
    recognition(b);
    if (options.udf) {
        volume_sequence(b, MAIN_SEQUENCE, next);
        volume_sequence(b, RESERVE_SEQUENCE, next);
        put_le32(b.image, ANCHOR * SECTOR + 16, 16 * SECTOR);
        put_le32(b.image, ANCHOR * SECTOR + 20, MAIN_SEQUENCE);
        put_le32(b.image, ANCHOR * SECTOR + 24, 16 * SECTOR);
        put_le32(b.image, ANCHOR * SECTOR + 28, RESERVE_SEQUENCE);
        tag(b.image, ANCHOR * SECTOR, 2, ANCHOR, 512 - 16);
        put_le32(b.image, b.at(FILE_SET_BLOCK) + 400, SECTOR);
        put_le32(b.image, b.at(FILE_SET_BLOCK) + 404, ROOT_ENTRY_BLOCK);
        tag(b.image, b.at(FILE_SET_BLOCK), 256, FILE_SET_BLOCK, 512 - 16);
        std::size_t at = b.at(ROOT_DATA_BLOCK);
        at += identifier(b, at, ROOT_DATA_BLOCK, "", 0x0A, ROOT_ENTRY_BLOCK);
        at += identifier(b, at, ROOT_DATA_BLOCK, "VIDEO_TS", 0x02, VIDEO_TS_ENTRY_BLOCK);
        file_entry(b, ROOT_ENTRY_BLOCK, 4, at - b.at(ROOT_DATA_BLOCK), {{ROOT_DATA_BLOCK, static_cast<std::uint32_t>(at - b.at(ROOT_DATA_BLOCK))}}, false);
        at = b.at(VIDEO_TS_DATA_BLOCK);
        at += identifier(b, at, VIDEO_TS_DATA_BLOCK, "", 0x0A, ROOT_ENTRY_BLOCK);
        for (std::size_t f = 0; f < files.size(); ++f) {
            const std::uint32_t entry = static_cast<std::uint32_t>(places.file_entries[f] - PARTITION);
            at += identifier(b, at, static_cast<std::uint32_t>(at / SECTOR - PARTITION), files[f].name, 0, entry);
            file_entry(b, entry, 5, files[f].data.size(), pieces[f], options.continued);
        }
        const std::uint32_t listed = static_cast<std::uint32_t>(at - b.at(VIDEO_TS_DATA_BLOCK));
        file_entry(b, VIDEO_TS_ENTRY_BLOCK, 4, listed, {{VIDEO_TS_DATA_BLOCK, listed}}, false);
    }
    if (options.iso9660) {
        iso_directories(b, files, pieces);
    }
    places.anchor = ANCHOR;
    places.main_sequence = MAIN_SEQUENCE;
    places.reserve_sequence = RESERVE_SEQUENCE;
    places.partition_start = PARTITION;
    places.root_directory = b.sector(ROOT_DATA_BLOCK);
    places.iso_video_ts = ISO_VIDEO_TS;
    places.sectors = b.image.size() / SECTOR;
    if (layout != nullptr) {
        *layout = places;
    }
    return b.image;
}

std::vector<File> files_of_folder(const std::filesystem::path& video_ts) {
    std::vector<File> files;
    for (const auto& entry : std::filesystem::directory_iterator(video_ts)) {
        std::string name = entry.path().filename().string();
        std::transform(name.begin(), name.end(), name.begin(),
                       [](char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); });
        files.push_back({name, read_file(entry.path())});
    }
    std::sort(files.begin(), files.end(), [](const File& a, const File& b) { return a.name < b.name; });
    return files;
}

}  // namespace packtest::image

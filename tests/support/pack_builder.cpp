#include "support/pack_builder.hpp"

#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

namespace packtest {

namespace {

constexpr std::size_t PACK_HEADER = 14;
constexpr std::size_t PES_FIXED = 9;  // start code, length, flags, header data length
constexpr std::size_t PADDING_HEADER = 6;

void put_be32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(value >> shift));
    }
}

void put_be16(Bytes& out, std::size_t value) {
    out.push_back(static_cast<unsigned char>(value >> 8));
    out.push_back(static_cast<unsigned char>(value));
}

// MPEG-2 pack header as a DVD muxer writes it, without stuffing.
void put_pack_header(Bytes& out) {
    put_be32(out, 0x1BA);
    const unsigned char rest[] = {0x44, 0x00, 0x04, 0x00, 0x04, 0x01, 0x01, 0x89, 0xC3, 0xF8};
    out.insert(out.end(), std::begin(rest), std::end(rest));
}

}  // namespace

Bytes pattern(std::size_t length, unsigned seed) {
    Bytes out(length);
    unsigned state = seed * 2654435761u + 1;
    for (auto& byte : out) {
        state = state * 1103515245u + 12345u;
        // 0x02..0xFD: no zero and no 0x01, so no start code can form.
        byte = static_cast<unsigned char>(2 + (state >> 16) % 252);
    }
    return out;
}

Bytes pack(std::uint32_t start_code, const Bytes& payload, int header_length) {
    const auto header = static_cast<std::size_t>(header_length);
    if (PACK_HEADER + PES_FIXED + header + payload.size() > SECTOR) {
        throw std::length_error("payload does not fit the sector");
    }
    Bytes out;
    out.reserve(SECTOR);
    put_pack_header(out);
    put_be32(out, start_code);
    put_be16(out, 3 + header + payload.size());
    out.push_back(0x81);
    out.push_back(0x80);
    out.push_back(static_cast<unsigned char>(header));
    out.insert(out.end(), header, 0xFF);
    out.insert(out.end(), payload.begin(), payload.end());
    const std::size_t left = SECTOR - out.size();
    if (left >= PADDING_HEADER) {
        put_be32(out, 0x1BE);
        put_be16(out, left - PADDING_HEADER);
        out.insert(out.end(), left - PADDING_HEADER, 0xFF);
    }
    out.resize(SECTOR, 0);
    return out;
}

Bytes video_pack(const Bytes& payload, int header_length) {
    return pack(VIDEO_0, payload, header_length);
}

Bytes ac3_pack(int substream, const Bytes& payload, int header_length) {
    Bytes body = {static_cast<unsigned char>(substream), 0x01, 0x00, 0x01};
    body.insert(body.end(), payload.begin(), payload.end());
    return pack(PRIVATE_1, body, header_length);
}

Bytes subpicture_pack(int substream, const Bytes& data, std::optional<std::uint64_t> pts) {
    constexpr int HEADER_WITH_PTS = 5;
    Bytes body = {static_cast<unsigned char>(substream)};
    body.insert(body.end(), data.begin(), data.end());
    return pts ? with_pts(pack(PRIVATE_1, body, HEADER_WITH_PTS), *pts) : pack(PRIVATE_1, body);
}

Bytes subpicture_unit(std::size_t size, bool forced) {
    // Size and control table offset, pixels, then one sequence: its delay,
    // the offset of the next (its own), start or forced start, end.
    constexpr std::size_t SEQUENCE_SIZE = 6;
    const std::size_t table = size - SEQUENCE_SIZE;
    Bytes unit = {static_cast<unsigned char>(size >> 8), static_cast<unsigned char>(size),
                  static_cast<unsigned char>(table >> 8), static_cast<unsigned char>(table)};
    unit.resize(table, 0x55);
    unit.insert(unit.end(), {0x00, 0x00, static_cast<unsigned char>(table >> 8), static_cast<unsigned char>(table),
                             static_cast<unsigned char>(forced ? 0x00 : 0x01), 0xFF});
    return unit;
}

Bytes sector_of(const Bytes& bytes) {
    Bytes out = bytes;
    out.resize(SECTOR, 0);
    return out;
}

Bytes concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes scrambled(Bytes sector, unsigned control) {
    // The first flags byte after the packet length: '10', then the two bits.
    constexpr std::size_t FLAGS = PACK_HEADER + 6;
    constexpr unsigned SHIFT = 4;
    constexpr unsigned MASK = 0x3U << SHIFT;
    sector[FLAGS] = static_cast<unsigned char>((sector[FLAGS] & ~MASK) | control << SHIFT);
    return sector;
}

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

Bytes read_file(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

Bytes with_pts(Bytes sector, std::uint64_t pts) {
    sector[21] = 0x80;
    sector[23] = static_cast<unsigned char>(0x21 | (pts >> 29 & 0x0E));
    sector[24] = static_cast<unsigned char>(pts >> 22);
    sector[25] = static_cast<unsigned char>(0x01 | (pts >> 14 & 0xFE));
    sector[26] = static_cast<unsigned char>(pts >> 7);
    sector[27] = static_cast<unsigned char>(0x01 | (pts << 1 & 0xFE));
    return sector;
}

}  // namespace packtest

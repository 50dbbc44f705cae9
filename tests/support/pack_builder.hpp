#pragma once
// Builds DVD-style 2048-byte packs for tests: a 14-byte pack header and one
// PES packet, the rest of the sector taken by a padding packet.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace packtest {

using Bytes = std::vector<unsigned char>;

inline constexpr std::size_t SECTOR = 2048;
inline constexpr std::uint32_t VIDEO_0 = 0x1E0;
inline constexpr std::uint32_t PRIVATE_1 = 0x1BD;
inline constexpr std::uint32_t PRIVATE_2 = 0x1BF;
inline constexpr std::uint32_t SYSTEM_HEADER = 0x1BB;
inline constexpr std::uint32_t PADDING = 0x1BE;

// Payload bytes that never hold a start code prefix (00 00 01).
Bytes pattern(std::size_t length, unsigned seed);

// A pack whose first packet has the given start code, PES header data length
// and payload (after the PES header). The packet length field covers exactly
// that; a padding packet fills the rest of the sector when six bytes or more
// are left, zeros otherwise.
Bytes pack(std::uint32_t start_code, const Bytes& payload, int header_length = 0);
Bytes video_pack(const Bytes& payload, int header_length = 0);
// A private stream 1 pack: substream number, frame count and first access
// unit pointer, then payload.
Bytes ac3_pack(int substream, const Bytes& payload, int header_length = 0);
// Writes a PTS into a pack built with a PES header of 5 bytes or more:
// PTS_DTS_flags 10, then the 33 bits in groups of 3, 15 and 15, each
// followed by a marker bit.
Bytes with_pts(Bytes sector, std::uint64_t pts);

// A private stream 1 pack of a subpicture substream: its number, then data
// (a piece of a subpicture unit); with a PTS for the packet a unit begins in.
Bytes subpicture_pack(int substream, const Bytes& data, std::optional<std::uint64_t> pts = {});
// A subpicture unit of size bytes (at least 10) with one control sequence,
// forced or not.
Bytes subpicture_unit(std::size_t size, bool forced);

// A sector of the given bytes, zero-padded; not a pack unless it says so.
Bytes sector_of(const Bytes& bytes);

// The largest payloads that fill a sector to its end.
inline constexpr std::size_t VIDEO_ROOM = SECTOR - 23;
inline constexpr std::size_t AC3_ROOM = SECTOR - 27;

Bytes concat(const std::vector<Bytes>& parts);

// The pack with its first packet's PES_scrambling_control set to control
// (0 to 3; CSS-protected discs have 10).
Bytes scrambled(Bytes sector, unsigned control);
void write_file(const std::filesystem::path& path, const Bytes& bytes);
Bytes read_file(const std::filesystem::path& path);

}  // namespace packtest

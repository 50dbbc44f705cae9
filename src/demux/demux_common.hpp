#pragma once
// What the pack loop and the staging writer share: the sector, the start
// codes of the MPEG-2 program stream (ISO/IEC 13818-1), the stream kinds and
// the files of the run.

#include <cstddef>
#include <cstdint>

#include "io/file_io.hpp"

namespace packrift {

// A DVD-Video object file is cut into 2048-byte sectors, one pack each.
inline constexpr std::size_t SECTOR_SIZE = 2048;

inline constexpr std::uint32_t PACK_START_CODE = 0x000001BA;
inline constexpr std::uint32_t SYSTEM_HEADER_START_CODE = 0x000001BB;
inline constexpr std::uint32_t PRIVATE_STREAM_1_START_CODE = 0x000001BD;
inline constexpr std::uint32_t PADDING_STREAM_START_CODE = 0x000001BE;
inline constexpr std::uint32_t VIDEO_STREAM_0_START_CODE = 0x000001E0;

// "-audio N" selects substream 0x80 + N of private stream 1.
inline constexpr int AC3_SUBSTREAM_BASE = 0x80;

enum class StreamKind { video, ac3_audio };

// The unsigned big-endian value of the four bytes at offset.
inline std::uint32_t get_be32(const unsigned char* bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) << 24 |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 3]);
}

// The files of the run: opened and closed by run control, read by the pack loop.
extern NamedFile input_file;
extern NamedFile video_output;
extern NamedFile audio_output;

}  // namespace packrift

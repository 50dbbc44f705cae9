#include "output/wav_output.hpp"

#include <cstring>

#include "output/staging_writer.hpp"

namespace packrift {

// Not yet the WAV: the samples as they are, until the conversion lands.
int stage_wav_payload(StreamKind kind, NamedFile& file, const unsigned char* data, int length) {
    constexpr int LPCM_HEADER = 3;
    if (length < LPCM_HEADER) {
        return 0;
    }
    unsigned char* room = stage_room(kind, file, SECTOR_SIZE);
    const auto samples = static_cast<std::size_t>(length - LPCM_HEADER);
    if (room == nullptr) {
        write_block(file, data + LPCM_HEADER, samples);
    } else {
        std::memcpy(room, data + LPCM_HEADER, samples);
        stage_grow(kind, samples);
    }
    return static_cast<int>(samples);
}

void finish_wav(NamedFile&) {}

std::uint64_t wav_packets_passed_over() {
    return 0;
}

std::string wav_passed_over_text() {
    return {};
}

void reset_wav_output() {}

}  // namespace packrift

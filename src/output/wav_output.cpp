#include "output/wav_output.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <vector>

#include "output/lpcm_wav.hpp"
#include "output/staging_writer.hpp"

namespace packrift {

namespace {

// An LPCM output of the run: its first packet's format decides the WAV.
struct WavStream {
    LpcmStreamFormat stream;  // known once the header is staged
    WavHeader header;
    LpcmCarry carry;
    std::uint64_t sample_bytes = 0;
    std::uint64_t passed_over = 0;
};

// By output slot, grown as LPCM outputs take packets: most runs have none.
std::vector<WavStream> wavs;

WavStream& wav_of(const Output& output) {
    if (output.slot >= wavs.size()) {
        wavs.resize(output.slot + 1);
    }
    return wavs[output.slot];
}

// Puts length bytes made at made into the stage, or, without a stage, to the file.
void stage_made(Output& output, unsigned char* room, const unsigned char* made, std::size_t length) {
    if (room == nullptr) {
        write_block(output.file, made, length);
    } else {
        stage_grow(output, length);
    }
}

void stage_header(Output& output, const WavStream& wav) {
    unsigned char* room = stage_room(output, wav.header.size);
    if (room != nullptr) {
        std::copy_n(wav.header.bytes.begin(), wav.header.size, room);
    }
    stage_made(output, room, wav.header.bytes.data(), wav.header.size);
}

void write_patches(NamedFile& file, const WavEnd& end) {
    for (std::size_t i = 0; i < end.patch_count && !file.failed; ++i) {
        const WavPatch& patch = end.patches[i];
        if (!seek_file(file, patch.offset)) {
            report_io_error(file, error_or_io_failure());
            return;
        }
        write_block(file, patch.bytes.data(), patch.length);
    }
}

}  // namespace

namespace {

// A packet's samples, in the stream's format, converted into the stage.
int stage_samples(Output& output, WavStream& wav, const unsigned char* samples, std::size_t size) {
    std::array<unsigned char, LPCM_MAX_CONVERTED> straight;  // when no stage can be had
    unsigned char* room = stage_room(output, LPCM_MAX_CONVERTED);
    unsigned char* out = room != nullptr ? room : straight.data();
    const std::size_t made = convert_lpcm(wav.carry, wav.stream.format, samples, size, out);
    stage_made(output, room, out, made);
    wav.sample_bytes += made;
    return static_cast<int>(made);
}

}  // namespace

int stage_wav_payload(Output& output, const unsigned char* data, int length) {
    WavStream& wav = wav_of(output);
    const auto size = static_cast<std::size_t>(length);
    const bool first = !wav.stream.known;
    if (!in_stream_format(wav.stream, data, size)) {
        ++wav.passed_over;
        return 0;
    }
    if (first) {
        wav.header = wav_header(wav.stream.format);
        stage_header(output, wav);
    }
    return stage_samples(output, wav, data + LPCM_HEADER_SIZE, size - LPCM_HEADER_SIZE);
}

std::optional<int> stage_wav_samples(Output& output, const LpcmFormat& format, const unsigned char* samples,
                                     std::size_t size) {
    WavStream& wav = wav_of(output);
    if (!wav.stream.known || !(wav.stream.format == format)) {
        return std::nullopt;
    }
    return stage_samples(output, wav, samples, size);
}

void finish_wav(Output& output) {
    const WavStream& wav = wav_of(output);
    NamedFile& file = output.file;
    if (!wav.stream.known || file.failed) {
        return;
    }
    const WavEnd end = wav_end(wav.header, wav.sample_bytes);
    const std::array<unsigned char, 1> pad{};
    write_block(file, pad.data(), end.pad);
    // A FIFO to an encoder keeps the sizes of a stream of unknown length.
    if (regular_file_size(file).has_value()) {
        write_patches(file, end);
    }
}

std::uint64_t wav_packets_passed_over(const Output& output) {
    return wav_of(output).passed_over;
}

std::optional<LpcmFormat> wav_format(const Output& output) {
    const WavStream& wav = wav_of(output);
    return wav.stream.known ? std::optional<LpcmFormat>{wav.stream.format} : std::nullopt;
}

std::string wav_passed_over_text(const Output& output) {
    const WavStream& wav = wav_of(output);
    const bool one = wav.passed_over == 1;
    const std::string packets = std::to_string(wav.passed_over) + (one ? " packet" : " packets");
    const std::string were = one ? " was" : " were";
    if (!wav.stream.known) {
        return packets + " in no LPCM format of DVD-Video" + were + " passed over";
    }
    return packets + " in another format than the first (" + lpcm_format_text(wav.stream.format) + ")" + were +
           " passed over";
}

void reset_wav_output() {
    wavs.clear();
}

}  // namespace packrift

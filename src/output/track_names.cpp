#include "output/track_names.hpp"

#include <array>
#include <optional>

#include "output/audio_frames.hpp"
#include "output/wav_output.hpp"

namespace packrift {

namespace {

// Enough of an audio output's start to find its first whole frame header.
constexpr std::size_t HEAD_BYTES = 16384;

AudioCoding coding_of(StreamKind kind) {
    switch (kind) {
    case StreamKind::mpeg_audio:
        return AudioCoding::mpeg_audio;
    case StreamKind::dts_audio:
        return AudioCoding::dts;
    default:
        return AudioCoding::ac3;
    }
}

// The channels of the first frame in the file's first bytes, as "5.1".
std::optional<std::string> channels_in_file(const std::string& name, AudioCoding coding) {
    NamedFile file;
    if (!open_for_reading(file, name)) {
        return std::nullopt;
    }
    std::array<unsigned char, HEAD_BYTES> head{};
    const std::size_t got = std::fread(head.data(), 1, head.size(), file.stream);
    close_file(file);
    const ByteView view = view_of(head.data(), got);
    for (std::size_t at = 0; at < got; ++at) {
        AudioFrame frame;
        if (read_audio_frame(coding, view, at, frame)) {
            return channel_layout_text(frame.layout);
        }
    }
    return std::nullopt;
}

}  // namespace

std::string track_name(const Output& output) {
    const std::string kind = row_of(output.kind).name;
    std::optional<std::string> channels;
    if (output.kind == StreamKind::lpcm_audio) {
        if (const std::optional<LpcmFormat> format = wav_format(output)) {
            channels = channel_layout_text({format->channels, false, false});
        }
    } else if (output.kind != StreamKind::subpicture && output.kind != StreamKind::video) {
        channels = channels_in_file(output.file.name, coding_of(output.kind));
    }
    return channels ? kind + " " + *channels : kind;
}

}  // namespace packrift

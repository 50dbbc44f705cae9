#include "output/track_names.hpp"

#include <array>
#include <optional>

#include "output/audio_frames.hpp"
#include "output/wav_output.hpp"

namespace packrift {

namespace {

// Enough of an audio output's start to find its first whole frame header.
constexpr std::size_t HEAD_BYTES = 16384;

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

// "AC-3 5.1". Appended, not added: GCC 12 at -O3 warns falsely of
// overlapping copies in a sum of strings.
std::string named_with(const std::string& kind, const std::optional<std::string>& channels) {
    std::string name = kind;
    if (channels) {
        name.append(" ").append(*channels);
    }
    return name;
}

}  // namespace

std::string track_name(const Output& output) {
    if (output.kind == StreamKind::lpcm_audio) {
        const std::optional<LpcmFormat> format = wav_format(output);
        return named_with(row_of(output.kind).name,
                          format ? std::optional<std::string>{channel_layout_text({format->channels, false, false})}
                                 : std::nullopt);
    }
    // -audio N may reach another kind's substream, which it holds as it is:
    // it is named by the kind it holds.
    const StreamKindRow* holder = kind_of_id(row_of(output.kind).substream, output.id);
    const StreamKind held = output.kind == StreamKind::ac3_audio && is_of_a_kind(holder)
                                ? static_cast<StreamKind>(holder - STREAM_KIND_TABLE.data())
                                : output.kind;
    const std::string kind = row_of(held).name;
    if (held != StreamKind::ac3_audio && held != StreamKind::dts_audio && held != StreamKind::mpeg_audio) {
        return kind;
    }
    return named_with(kind, channels_in_file(output.file.name, frame_coding(held)));
}

}  // namespace packrift

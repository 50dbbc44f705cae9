// The video, audio and subpicture attributes of a title set, and the
// program chain's stream controls that say which stream a track is.

#include "disc/stream_attributes.hpp"

#include "disc/ifo_layout.hpp"

namespace packrift {

namespace {

// Video attributes, first byte: MPEG version (bits 7-6: 0 MPEG-1, 1
// MPEG-2), video standard (bits 5-4: 0 NTSC, 1 PAL), display aspect ratio
// (bits 3-2: 0 4:3, 3 16:9); second byte: picture size (bits 3-2).
constexpr unsigned VIDEO_MPEG_SHIFT = 6;
constexpr unsigned VIDEO_STANDARD_SHIFT = 4;
constexpr unsigned VIDEO_ASPECT_SHIFT = 2;
constexpr unsigned VIDEO_SIZE_SHIFT = 2;
constexpr unsigned TWO_BITS = 0x3;
constexpr unsigned VIDEO_MPEG_1 = 0;
constexpr unsigned VIDEO_MPEG_2 = 1;
constexpr unsigned VIDEO_PAL = 1;
constexpr unsigned VIDEO_ASPECT_16_9 = 3;
constexpr int NTSC_HEIGHT = 480;
constexpr int PAL_HEIGHT = 576;
// Picture size 0 to 3: 720, 704, 352 at full height, 352 at half height.
constexpr int PICTURE_WIDTHS[] = {720, 704, 352, 352};
constexpr unsigned HALF_HEIGHT_SIZE = 3;

// Audio attributes, first byte: coding (bits 7-5), language type (bits 3-2,
// 1 when the language code holds one); second byte: quantization (bits 7-6:
// 16, 20, 24 bits for LPCM), sampling frequency (bits 5-4: 48 or 96 kHz),
// channels less one (bits 2-0); then the language code, two letters.
constexpr unsigned AUDIO_CODING_SHIFT = 5;
constexpr unsigned AUDIO_LANGUAGE_TYPE_SHIFT = 2;
constexpr unsigned AUDIO_QUANTIZATION_SHIFT = 6;
constexpr unsigned AUDIO_FREQUENCY_SHIFT = 4;
constexpr unsigned AUDIO_CHANNELS_MASK = 0x7;
constexpr std::size_t AUDIO_LANGUAGE = 2;
constexpr AudioCoding AUDIO_CODINGS[] = {AudioCoding::ac3,  AudioCoding::unknown, AudioCoding::mpeg1,
                                         AudioCoding::mpeg2, AudioCoding::lpcm,   AudioCoding::sdds,
                                         AudioCoding::dts,  AudioCoding::unknown};
constexpr int LPCM_BITS[] = {16, 20, 24, 0};
constexpr int SAMPLE_RATES[] = {48000, 96000, 0, 0};
constexpr unsigned LANGUAGE_TYPE_CODE = 1;

// Subpicture attributes: the language type in the first byte's bits 1-0,
// the language code at 2.
constexpr std::size_t SUBPICTURE_LANGUAGE = 2;

// Audio control (16 bits): bit 15 set when the chain has the track, its
// stream number in bits 10-8. Subpicture control (32 bits): bit 31 set when
// it has the track, the stream number for a 4:3 picture in bits 28-24 and
// for a 16:9 picture in bits 20-16.
constexpr std::uint16_t AUDIO_PRESENT_BIT = 0x8000;
constexpr unsigned AUDIO_NUMBER_SHIFT = 8;
constexpr unsigned AUDIO_NUMBER_MASK = 0x7;
constexpr std::uint32_t SUBPICTURE_PRESENT_BIT = 0x80000000;
constexpr unsigned SUBPICTURE_4_3_SHIFT = 24;
constexpr unsigned SUBPICTURE_WIDE_SHIFT = 16;
constexpr unsigned SUBPICTURE_NUMBER_MASK = 0x1F;

bool is_letter(unsigned c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Two letters when the language type says there is a code; otherwise none.
std::string language_at(ByteView& view, std::size_t offset, unsigned language_type) {
    const unsigned first = read_u8(view, offset);
    const unsigned second = read_u8(view, offset + 1);
    if (language_type != LANGUAGE_TYPE_CODE || !is_letter(first) || !is_letter(second)) {
        return {};
    }
    return {static_cast<char>(first), static_cast<char>(second)};
}

}  // namespace

VideoAttributes read_video_attributes(ByteView& view, std::size_t offset) {
    const unsigned first = read_u8(view, offset);
    const unsigned second = read_u8(view, offset + 1);
    VideoAttributes video;
    const unsigned version = first >> VIDEO_MPEG_SHIFT & TWO_BITS;
    video.mpeg_version = version == VIDEO_MPEG_1 ? 1 : version == VIDEO_MPEG_2 ? 2 : 0;
    video.pal = (first >> VIDEO_STANDARD_SHIFT & TWO_BITS) == VIDEO_PAL;
    video.wide = (first >> VIDEO_ASPECT_SHIFT & TWO_BITS) == VIDEO_ASPECT_16_9;
    const unsigned size = second >> VIDEO_SIZE_SHIFT & TWO_BITS;
    video.width = PICTURE_WIDTHS[size];
    video.height = video.pal ? PAL_HEIGHT : NTSC_HEIGHT;
    if (size == HALF_HEIGHT_SIZE) {
        video.height /= 2;
    }
    return video;
}

AudioAttributes read_audio_attributes(ByteView& view, std::size_t offset) {
    const unsigned first = read_u8(view, offset);
    const unsigned second = read_u8(view, offset + 1);
    AudioAttributes audio;
    audio.coding = AUDIO_CODINGS[first >> AUDIO_CODING_SHIFT];
    audio.channels = static_cast<int>(second & AUDIO_CHANNELS_MASK) + 1;
    audio.sample_rate = SAMPLE_RATES[second >> AUDIO_FREQUENCY_SHIFT & TWO_BITS];
    if (audio.coding == AudioCoding::lpcm) {
        audio.lpcm_bits = LPCM_BITS[second >> AUDIO_QUANTIZATION_SHIFT];
    }
    audio.language = language_at(view, offset + AUDIO_LANGUAGE, first >> AUDIO_LANGUAGE_TYPE_SHIFT & TWO_BITS);
    return audio;
}

SubpictureAttributes read_subpicture_attributes(ByteView& view, std::size_t offset) {
    SubpictureAttributes subpicture;
    subpicture.language = language_at(view, offset + SUBPICTURE_LANGUAGE, read_u8(view, offset) & TWO_BITS);
    return subpicture;
}

bool audio_present(std::uint16_t control) {
    return (control & AUDIO_PRESENT_BIT) != 0;
}

int audio_stream_number(std::uint16_t control) {
    return static_cast<int>(control >> AUDIO_NUMBER_SHIFT & AUDIO_NUMBER_MASK);
}

bool subpicture_present(std::uint32_t control) {
    return (control & SUBPICTURE_PRESENT_BIT) != 0;
}

int subpicture_stream_number(std::uint32_t control, bool wide) {
    return static_cast<int>(control >> (wide ? SUBPICTURE_WIDE_SHIFT : SUBPICTURE_4_3_SHIFT) &
                            SUBPICTURE_NUMBER_MASK);
}

}  // namespace packrift

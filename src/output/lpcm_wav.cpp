#include "output/lpcm_wav.hpp"

#include <algorithm>
#include <cstring>

namespace packrift {

namespace {

// The LPCM header's second byte: quantization word length (2 bits),
// sampling frequency (2 bits), a reserved bit, channels less one (3 bits).
constexpr std::size_t FORMAT_BYTE = 1;
constexpr unsigned WORD_LENGTH_SHIFT = 6;
constexpr unsigned FREQUENCY_SHIFT = 4;
constexpr unsigned TWO_BIT_MASK = 0x3;
constexpr unsigned CHANNELS_MASK = 0x7;
constexpr int WORD_16 = 16;
constexpr int WORD_20 = 20;
constexpr int WORD_24 = 24;
constexpr int WORD_LENGTHS[] = {WORD_16, WORD_20, WORD_24};  // code 3 is reserved
constexpr int SAMPLE_RATES[] = {48000, 96000};  // codes 2 and 3 are not DVD-Video's
constexpr int MAX_CHANNELS = 8;
constexpr int HERTZ_PER_KILOHERTZ = 1000;

constexpr int STEREO = 2;
constexpr std::size_t BITS_PER_BYTE = 8;
constexpr std::size_t PLAIN_CONTAINER = 2;  // 16-bit samples are written in 2 bytes,
constexpr std::size_t WIDE_CONTAINER = 3;   // 20- and 24-bit samples in 3

// How the samples come. 16-bit samples are plain. 20- and 24-bit samples
// come in groups: the high 16 bits of each sample of the group, big-endian,
// then their low bits, one byte each for 24 bits, for 20 bits a nibble each,
// two to a byte, the first sample's high. A mono group is two samples; for
// stereo it is two sample frames, four samples. For more channels no public
// description settles it; ffmpeg's pcm_dvd decoder, the reference, takes
// four samples at a time there too, across the bounds of the sample frames
// (crafted packs decoded by it, and its own encoder's 24-bit output, show
// this for 3 to 8 channels).
//
// It converts whole units only and carries the rest over to the next packet;
// a rest at the end of the stream is dropped. A unit is whole frames and
// whole groups; how many frames, ffmpeg shows by what it decodes of single
// packets: one for 16-bit samples; for 20 and 24 bits, by the channel count,
// the frames below (4 for 6 channels, where 2 would make whole groups). So
// does this converter, so that the WAV ends where ffmpeg's samples end.
// (ffmpeg also loses a packet that does not make a whole unit with the rest
// before it, saying "get_buffer() failed"; here it is carried over.)
constexpr std::size_t MONO_GROUP = 2;
constexpr std::size_t GROUP = 4;
constexpr std::size_t GROUPED_UNIT_FRAMES[MAX_CHANNELS] = {4, 2, 4, 1, 4, 4, 4, 1};

struct LpcmUnit {
    std::size_t group = 1;      // samples a group
    std::size_t samples = 0;    // samples a unit
    std::size_t in_bytes = 0;   // of LPCM a unit
    std::size_t out_bytes = 0;  // of PCM a unit
};

constexpr bool is_valid(const LpcmFormat& format) {
    return (format.bits == WORD_16 || format.bits == WORD_20 || format.bits == WORD_24) &&
           format.channels >= 1 && format.channels <= MAX_CHANNELS;
}

constexpr LpcmUnit unit_of(const LpcmFormat& format) {
    const auto channels = static_cast<std::size_t>(format.channels);
    const auto bits = static_cast<std::size_t>(format.bits);
    LpcmUnit unit;
    unit.samples = channels;
    if (format.bits != WORD_16) {
        unit.group = channels == 1 ? MONO_GROUP : GROUP;
        unit.samples *= GROUPED_UNIT_FRAMES[channels - 1];
    }
    unit.in_bytes = unit.samples * bits / BITS_PER_BYTE;
    unit.out_bytes = unit.samples * (format.bits == WORD_16 ? PLAIN_CONTAINER : WIDE_CONTAINER);
    return unit;
}

// The largest unit and the largest growth bound the carry and a packet's output.
constexpr bool units_fit() {
    for (const int bits : WORD_LENGTHS) {
        for (int channels = 1; channels <= MAX_CHANNELS; ++channels) {
            const LpcmUnit unit = unit_of({bits, SAMPLE_RATES[0], channels});
            const std::size_t most_in = SECTOR_SIZE + unit.in_bytes - 1;
            if (unit.in_bytes > LPCM_CARRY_CAPACITY ||
                most_in / unit.in_bytes * unit.out_bytes > LPCM_MAX_CONVERTED) {
                return false;
            }
        }
    }
    return true;
}
static_assert(units_fit());

// 16-bit samples: big-endian to little-endian.
void swap_pairs(const unsigned char* in, std::size_t length, unsigned char* out) {
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        out[i] = in[i + 1];
        out[i + 1] = in[i];
    }
}

// The low byte of sample i of a group whose low bits start at low.
template <int BITS>
unsigned char low_byte(const unsigned char* low, std::size_t i) {
    if constexpr (BITS == WORD_24) {
        return low[i];
    } else {
        constexpr unsigned HIGH_NIBBLE = 0xF0;
        constexpr unsigned NIBBLE_BITS = 4;
        const unsigned both = low[i / 2];
        return static_cast<unsigned char>((i % 2 == 0 ? both : both << NIBBLE_BITS) & HIGH_NIBBLE);
    }
}

// Groups of SIZE samples of BITS bits into 24-bit little-endian samples.
template <std::size_t SIZE, int BITS>
void ungroup(const unsigned char* in, std::size_t groups, unsigned char* out) {
    constexpr std::size_t HIGH_BYTES = 2 * SIZE;
    constexpr std::size_t IN_BYTES = SIZE * BITS / BITS_PER_BYTE;
    for (std::size_t g = 0; g < groups; ++g) {
        for (std::size_t i = 0; i < SIZE; ++i) {
            out[WIDE_CONTAINER * i] = low_byte<BITS>(in + HIGH_BYTES, i);
            out[WIDE_CONTAINER * i + 1] = in[2 * i + 1];
            out[WIDE_CONTAINER * i + 2] = in[2 * i];
        }
        in += IN_BYTES;
        out += WIDE_CONTAINER * SIZE;
    }
}

template <int BITS>
void ungroup_groups(bool mono, const unsigned char* in, std::size_t groups, unsigned char* out) {
    if (mono) {
        ungroup<MONO_GROUP, BITS>(in, groups, out);
    } else {
        ungroup<GROUP, BITS>(in, groups, out);
    }
}

// Converts units whole units at in; returns the bytes written.
std::size_t convert_units(const LpcmFormat& format, const LpcmUnit& unit, const unsigned char* in,
                          std::size_t units, unsigned char* out) {
    const std::size_t groups = units * (unit.samples / unit.group);
    const bool mono = unit.group == MONO_GROUP;
    if (format.bits == WORD_16) {
        swap_pairs(in, units * unit.in_bytes, out);
    } else if (format.bits == WORD_20) {
        ungroup_groups<WORD_20>(mono, in, groups, out);
    } else {
        ungroup_groups<WORD_24>(mono, in, groups, out);
    }
    return units * unit.out_bytes;
}

// WAV (RIFF) layout, little-endian, with the ds64 room of RF64 (EBU Tech 3306).
constexpr std::size_t CHUNK_ID_SIZE = 4;
constexpr std::size_t U16 = 2;  // field sizes
constexpr std::size_t U32 = 4;
constexpr std::size_t U64 = 8;
constexpr std::size_t RIFF_SIZE_OFFSET = 4;
constexpr std::size_t CHUNK_HEAD_SIZE = 8;      // id and 32-bit size
constexpr std::size_t RIFF_HEAD_SIZE = 12;      // "RIFF", size, "WAVE"
constexpr std::size_t DS64_OFFSET = RIFF_HEAD_SIZE;
constexpr std::uint32_t DS64_BODY_SIZE = 28;    // RIFF size, data size, sample count, table length 0
constexpr std::uint32_t PLAIN_FORMAT_SIZE = 16;
constexpr std::uint32_t EXTENSIBLE_FORMAT_SIZE = 40;
constexpr std::uint16_t EXTENSION_SIZE = 22;    // cbSize: valid bits, channel mask, sub-format
constexpr std::uint16_t WAVE_FORMAT_PCM = 0x0001;
constexpr std::uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM, 00000001-0000-0010-8000-00AA00389B71, as stored.
constexpr unsigned char PCM_SUBFORMAT[] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                           0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint32_t UNKNOWN_SIZE = 0xFFFFFFFF;
// The channel masks ffmpeg writes for a DVD LPCM track of 1 to 8 channels
// (its default layout for the count): FC; FL FR; FL FR LFE; FL FR FC BC;
// FL FR FC BL BR; FL FR FC LFE BL BR; FL FR FC LFE BC SL SR;
// FL FR FC LFE BL BR SL SR.
constexpr std::uint32_t CHANNEL_MASKS[MAX_CHANNELS] = {0x4, 0x3, 0xB, 0x107, 0x37, 0x3F, 0x70F, 0x63F};

struct ByteWriter {
    unsigned char* at;

    void text(const char (&id)[5]) {
        std::memcpy(at, id, CHUNK_ID_SIZE);
        at += CHUNK_ID_SIZE;
    }
    void bytes(const unsigned char* data, std::size_t length) {
        std::memcpy(at, data, length);
        at += length;
    }
    void le(std::uint64_t value, std::size_t length) {
        for (std::size_t i = 0; i < length; ++i) {
            *at++ = static_cast<unsigned char>(value >> (BITS_PER_BYTE * i));
        }
    }
};

// Patches are written in order: begin_patch starts the next at offset,
// end_patch records how far the writer went.
ByteWriter begin_patch(WavEnd& end, std::uint64_t offset) {
    WavPatch& patch = end.patches[end.patch_count++];
    patch.offset = offset;
    return ByteWriter{patch.bytes.data()};
}

void end_patch(WavEnd& end, const ByteWriter& writer) {
    WavPatch& patch = end.patches[end.patch_count - 1];
    patch.length = static_cast<std::size_t>(writer.at - patch.bytes.data());
}

}  // namespace

bool read_lpcm_format(const unsigned char* header, std::size_t length, LpcmFormat& format) {
    if (length < LPCM_HEADER_SIZE) {
        return false;
    }
    const unsigned byte = header[FORMAT_BYTE];
    const unsigned word_length = byte >> WORD_LENGTH_SHIFT & TWO_BIT_MASK;
    const unsigned frequency = byte >> FREQUENCY_SHIFT & TWO_BIT_MASK;
    if (word_length >= std::size(WORD_LENGTHS) || frequency >= std::size(SAMPLE_RATES)) {
        return false;
    }
    format = {WORD_LENGTHS[word_length], SAMPLE_RATES[frequency], static_cast<int>((byte & CHANNELS_MASK) + 1)};
    return true;
}

bool in_stream_format(LpcmStreamFormat& stream, const unsigned char* header, std::size_t length) {
    LpcmFormat format;
    if (!read_lpcm_format(header, length, format) || (stream.known && !(format == stream.format))) {
        return false;
    }
    stream.known = true;
    stream.format = format;
    return true;
}

std::string lpcm_format_text(const LpcmFormat& format) {
    return std::to_string(format.bits) + "-bit, " + std::to_string(format.sample_rate / HERTZ_PER_KILOHERTZ) +
           " kHz, " + std::to_string(format.channels) + (format.channels == 1 ? " channel" : " channels");
}

std::uint64_t lpcm_converted_size(const LpcmFormat& format, std::uint64_t sample_bytes) {
    if (!is_valid(format)) {
        return 0;
    }
    const LpcmUnit unit = unit_of(format);
    return sample_bytes / unit.in_bytes * unit.out_bytes;
}

std::size_t convert_lpcm(LpcmCarry& carry, const LpcmFormat& format, const unsigned char* in,
                         std::size_t length, unsigned char* out) {
    if (!is_valid(format)) {
        return 0;
    }
    const LpcmUnit unit = unit_of(format);
    carry.fill = std::min(carry.fill, unit.in_bytes - 1);  // a carry of another format cannot overrun
    std::size_t written = 0;
    if (carry.fill > 0) {
        const std::size_t taken = std::min(unit.in_bytes - carry.fill, length);
        std::memcpy(carry.bytes.data() + carry.fill, in, taken);
        carry.fill += taken;
        in += taken;
        length -= taken;
        if (carry.fill < unit.in_bytes) {
            return 0;
        }
        written = convert_units(format, unit, carry.bytes.data(), 1, out);
        carry.fill = 0;
    }
    const std::size_t units = length / unit.in_bytes;
    written += convert_units(format, unit, in, units, out + written);
    carry.fill = length - units * unit.in_bytes;
    std::memcpy(carry.bytes.data(), in + units * unit.in_bytes, carry.fill);
    return written;
}

WavHeader wav_header(const LpcmFormat& format) {
    WavHeader header;
    const bool extensible = format.bits != WORD_16 || format.channels > STEREO;
    const auto container_bytes = static_cast<std::uint32_t>(format.bits == WORD_16 ? PLAIN_CONTAINER : WIDE_CONTAINER);
    const auto channels = static_cast<std::uint32_t>(std::clamp(format.channels, 1, MAX_CHANNELS));
    header.block_align = container_bytes * channels;

    ByteWriter out{header.bytes.data()};
    out.text("RIFF");
    out.le(UNKNOWN_SIZE, U32);
    out.text("WAVE");
    out.text("JUNK");
    out.le(DS64_BODY_SIZE, U32);
    out.at += DS64_BODY_SIZE;  // zeros, the room of the ds64 chunk
    out.text("fmt ");
    out.le(extensible ? EXTENSIBLE_FORMAT_SIZE : PLAIN_FORMAT_SIZE, U32);
    out.le(extensible ? WAVE_FORMAT_EXTENSIBLE : WAVE_FORMAT_PCM, U16);
    out.le(channels, U16);
    out.le(static_cast<std::uint32_t>(format.sample_rate), U32);
    out.le(static_cast<std::uint32_t>(format.sample_rate) * header.block_align, U32);
    out.le(header.block_align, U16);
    out.le(container_bytes * BITS_PER_BYTE, U16);
    if (extensible) {
        out.le(EXTENSION_SIZE, U16);
        out.le(static_cast<std::uint32_t>(format.bits), U16);  // valid bits: 20 in a 24-bit container
        out.le(CHANNEL_MASKS[channels - 1], U32);
        out.bytes(PCM_SUBFORMAT, sizeof PCM_SUBFORMAT);
    }
    out.text("data");
    header.data_size_offset = static_cast<std::size_t>(out.at - header.bytes.data());
    out.le(UNKNOWN_SIZE, U32);
    header.size = static_cast<std::size_t>(out.at - header.bytes.data());
    return header;
}

WavEnd wav_end(const WavHeader& header, std::uint64_t sample_bytes) {
    WavEnd end;
    end.pad = static_cast<std::size_t>(sample_bytes % 2);
    const std::uint64_t riff_size = header.size - CHUNK_HEAD_SIZE + sample_bytes + end.pad;
    end.rf64 = riff_size >= UNKNOWN_SIZE;
    if (!end.rf64) {
        ByteWriter riff = begin_patch(end, RIFF_SIZE_OFFSET);
        riff.le(riff_size, U32);
        end_patch(end, riff);
        ByteWriter data = begin_patch(end, header.data_size_offset);
        data.le(sample_bytes, U32);
        end_patch(end, data);
        return end;
    }
    ByteWriter head = begin_patch(end, 0);
    head.text("RF64");
    head.le(UNKNOWN_SIZE, U32);
    end_patch(end, head);
    ByteWriter ds64 = begin_patch(end, DS64_OFFSET);
    ds64.text("ds64");
    ds64.le(DS64_BODY_SIZE, U32);
    ds64.le(riff_size, U64);
    ds64.le(sample_bytes, U64);
    ds64.le(header.block_align == 0 ? 0 : sample_bytes / header.block_align, U64);  // sample frames
    ds64.le(0, U32);  // no table of other chunk sizes
    end_patch(end, ds64);
    ByteWriter data = begin_patch(end, header.data_size_offset);
    data.le(UNKNOWN_SIZE, U32);
    end_patch(end, data);
    return end;
}

}  // namespace packrift

#include "output/audio_frames.hpp"

#include <array>

#include "output/ac3_syntax.hpp"
#include "output/bit_fields.hpp"
#include "output/lpcm_wav.hpp"

namespace packrift {

namespace {

// --- AC-3 (A/52 5.4.1, 5.4.2, table 5.18) ---

constexpr int AC3_SAMPLES = 1536;  // six audio blocks of 256
constexpr unsigned AC3_MAX_BSID = 8;  // higher ones are not A/52's syntax (E-AC-3 is 16)
constexpr std::size_t AC3_FRAME_SIZE_CODES = 38;
constexpr int AC3_SAMPLE_RATES[] = {48000, 44100, 32000};  // fscod 3 is reserved
constexpr int AC3_44K_RATE = 44100;
// Bit rate in kbit/s of each pair of frame size codes; the odd code of a
// pair adds a word at 44.1 kHz, where the rate does not divide evenly.
constexpr int AC3_BITRATES_KBPS[] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                     192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr std::int64_t BITS_PER_KILOBIT = 1000;
constexpr std::int64_t AC3_WORD_BITS = 16;
constexpr std::size_t BYTES_PER_WORD = 2;
// Channel modes 0 to 7: 1+1, 1/0, 2/0, 3/0, 2/1, 3/1, 2/2, 3/2.
constexpr int AC3_FULL_CHANNELS[] = {2, 1, 2, 3, 3, 4, 4, 5};
constexpr unsigned COMPR_BITS = 8;
constexpr unsigned LANGCOD_BITS = 8;
constexpr unsigned MIXLEVEL_ROOMTYP_BITS = 7;

// --- DTS core frame header (TS 102 114 5.3.1) ---

constexpr std::uint32_t DTS_SYNC_WORD = 0x7FFE8001;
constexpr unsigned DTS_SYNC_BITS = 32;
constexpr unsigned DTS_FTYPE_SHORT_CPF_BITS = 7;
constexpr unsigned DTS_NBLKS_BITS = 7;
constexpr unsigned DTS_FSIZE_BITS = 14;
constexpr unsigned DTS_AMODE_BITS = 6;
constexpr unsigned DTS_SFREQ_BITS = 4;
constexpr unsigned DTS_RATE_TO_ASPF_BITS = 15;  // RATE .. ASPF, passed over
constexpr unsigned DTS_LFF_BITS = 2;
constexpr std::uint32_t DTS_MIN_NBLKS = 5;   // 6 blocks of 32 samples at least
constexpr std::uint32_t DTS_MIN_FSIZE = 95;  // 96 bytes at least
constexpr int DTS_SAMPLES_PER_BLOCK = 32;
constexpr unsigned DTS_LFF_INVALID = 3;
constexpr unsigned DTS_AMODE_DUAL_MONO = 1;
// Sampling frequencies of SFREQ; 0 marks an invalid code.
constexpr int DTS_SAMPLE_RATES[] = {0, 8000, 16000, 32000, 0, 0, 11025, 22050,
                                    44100, 0, 0, 12000, 24000, 48000, 0, 0};
// Channels of AMODE 0 to 15; higher codes are user-defined.
constexpr int DTS_CHANNELS[] = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};

// --- MPEG audio (11172-3 2.4.1.3, 2.4.2.3; 13818-3 2.4.2.3) ---

constexpr unsigned MPEG_SYNC_BITS = 12;
constexpr std::uint32_t MPEG_SYNC_WORD = 0xFFF;
constexpr unsigned MPEG_LAYER_BITS = 2;
constexpr unsigned MPEG_BITRATE_BITS = 4;
constexpr unsigned MPEG_FREQUENCY_BITS = 2;
constexpr unsigned MPEG_MODE_BITS = 2;
constexpr unsigned MPEG_MODE_EXTENSION_BITS = 2;
constexpr unsigned MPEG_FREE_FORMAT = 0;
constexpr unsigned MPEG_BITRATE_INVALID = 15;
constexpr unsigned MPEG_FREQUENCY_RESERVED = 3;
constexpr unsigned MPEG_LAYER_RESERVED = 0;
constexpr int MPEG_LAYER_CODES_FROM = 4;  // layer_bits 3, 2, 1 name Layers I, II, III
constexpr int LAYER_I = 1;
constexpr int LAYER_III = 3;
constexpr std::size_t MPEG_BITRATE_CODES = 15;
using BitrateRow = std::array<int, MPEG_BITRATE_CODES>;
constexpr BitrateRow MPEG1_BITRATES[] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // Layer I
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // Layer II
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // Layer III
};
constexpr BitrateRow LOWER_RATE_BITRATES[] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},  // Layer I
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},       // Layers II, III
};
constexpr int MPEG1_SAMPLE_RATES[] = {44100, 48000, 32000};
constexpr int LOWER_SAMPLE_RATES[] = {22050, 24000, 16000};
// Layer I frames are 384 samples in slots of 4 bytes; Layer II, and
// Layer III at 11172-3's rates, 1152 samples; Layer III at the lower
// rates 576 (13818-3 2.4.3.1).
constexpr int LAYER_I_SAMPLES = 384;
constexpr int LAYER_II_SAMPLES = 1152;
constexpr int LOWER_LAYER_III_SAMPLES = 576;
constexpr std::size_t LAYER_I_SLOT_BYTES = 4;

// --- DVD LPCM ---

constexpr int LPCM_FRAMES_PER_SECOND = 600;

std::size_t whole_bytes(std::int64_t bits) {
    return static_cast<std::size_t>(bits / static_cast<std::int64_t>(BITS_PER_BYTE));
}

bool read_ac3(ByteView bytes, std::size_t offset, AudioFrame& frame) {
    Ac3Header header;
    if (!read_ac3_header(bytes, offset, header)) {
        return false;
    }
    frame.size = ac3_frame_words(header.fscod, header.frmsizecod) * BYTES_PER_WORD;
    frame.samples = AC3_SAMPLES;
    frame.sample_rate = AC3_SAMPLE_RATES[header.fscod];
    frame.layout.main_channels = ac3_full_channels(header.acmod);
    frame.layout.lfe = header.lfeon != 0;
    frame.layout.dual_mono = header.acmod == AC3_ACMOD_DUAL_MONO;
    return true;
}

bool read_dts(ByteView bytes, std::size_t offset, AudioFrame& frame) {
    BitReader reader{tail_view(bytes, offset), 0};
    const std::uint32_t sync = read_bits(reader, DTS_SYNC_BITS);
    read_bits(reader, DTS_FTYPE_SHORT_CPF_BITS);
    const std::uint32_t nblks = read_bits(reader, DTS_NBLKS_BITS);
    const std::uint32_t fsize = read_bits(reader, DTS_FSIZE_BITS);
    const std::uint32_t amode = read_bits(reader, DTS_AMODE_BITS);
    const std::uint32_t sfreq = read_bits(reader, DTS_SFREQ_BITS);
    read_bits(reader, DTS_RATE_TO_ASPF_BITS);
    const std::uint32_t lff = read_bits(reader, DTS_LFF_BITS);
    if (reader.view.overrun || sync != DTS_SYNC_WORD || nblks < DTS_MIN_NBLKS || fsize < DTS_MIN_FSIZE ||
        amode >= std::size(DTS_CHANNELS) || DTS_SAMPLE_RATES[sfreq] == 0 || lff == DTS_LFF_INVALID) {
        return false;
    }
    frame.size = fsize + 1;
    frame.samples = static_cast<int>(nblks + 1) * DTS_SAMPLES_PER_BLOCK;
    frame.sample_rate = DTS_SAMPLE_RATES[sfreq];
    frame.layout.main_channels = DTS_CHANNELS[amode];
    frame.layout.lfe = lff != 0;
    frame.layout.dual_mono = amode == DTS_AMODE_DUAL_MONO;
    return true;
}

bool read_mpeg_audio(ByteView bytes, std::size_t offset, AudioFrame& frame) {
    MpegAudioHeader header;
    if (!read_mpeg_audio_header(bytes, offset, header)) {
        return false;
    }
    const std::int64_t bits_per_second = header.bitrate_kbps * BITS_PER_KILOBIT;
    if (header.layer == LAYER_I) {
        frame.samples = LAYER_I_SAMPLES;
        const auto slot_bits = static_cast<std::int64_t>(BITS_PER_BYTE * LAYER_I_SLOT_BYTES);
        const std::int64_t slots = bits_per_second * LAYER_I_SAMPLES / (header.sample_rate * slot_bits);
        frame.size = static_cast<std::size_t>(slots + header.padding) * LAYER_I_SLOT_BYTES;
    } else {
        frame.samples = header.layer == LAYER_III && header.lower_rates ? LOWER_LAYER_III_SAMPLES : LAYER_II_SAMPLES;
        frame.size = whole_bytes(bits_per_second * frame.samples / header.sample_rate) + header.padding;
    }
    frame.sample_rate = header.sample_rate;
    frame.layout.main_channels = header.mode == MPEG_MODE_SINGLE_CHANNEL ? 1 : 2;
    frame.layout.dual_mono = header.mode == MPEG_MODE_DUAL_CHANNEL;
    return true;
}

bool read_lpcm(ByteView bytes, std::size_t offset, AudioFrame& frame) {
    ByteView header = sub_view(bytes, offset, LPCM_HEADER_SIZE);
    LpcmFormat format;
    if (header.overrun || !read_lpcm_format(header.bytes, header.size, format)) {
        return false;
    }
    frame.samples = format.sample_rate / LPCM_FRAMES_PER_SECOND;
    frame.size = whole_bytes(static_cast<std::int64_t>(frame.samples) * format.channels * format.bits);
    frame.sample_rate = format.sample_rate;
    frame.layout.main_channels = format.channels;
    return true;
}

}  // namespace

std::string channel_layout_text(const ChannelLayout& layout) {
    if (layout.dual_mono) {
        return "1+1";
    }
    return std::to_string(layout.main_channels) + (layout.lfe ? ".1" : ".0");
}

int ac3_full_channels(unsigned acmod) {
    return acmod < std::size(AC3_FULL_CHANNELS) ? AC3_FULL_CHANNELS[acmod] : 0;
}

std::size_t ac3_frame_words(unsigned fscod, unsigned frmsizecod) {
    if (fscod >= std::size(AC3_SAMPLE_RATES) || frmsizecod >= AC3_FRAME_SIZE_CODES) {
        return 0;
    }
    const int rate = AC3_SAMPLE_RATES[fscod];
    const std::int64_t bits_per_second = AC3_BITRATES_KBPS[frmsizecod / 2] * BITS_PER_KILOBIT;
    const std::int64_t words = bits_per_second * AC3_SAMPLES / (rate * AC3_WORD_BITS);
    const std::int64_t odd_word = rate == AC3_44K_RATE ? (frmsizecod & 1U) : 0;
    return static_cast<std::size_t>(words + odd_word);
}

bool read_ac3_header(ByteView bytes, std::size_t offset, Ac3Header& header) {
    BitReader reader{tail_view(bytes, offset), 0};
    const std::uint32_t sync = read_bits(reader, ac3::SYNC_BITS);
    read_bits(reader, ac3::CRC_BITS);
    header.fscod = read_bits(reader, ac3::FSCOD_BITS);
    header.frmsizecod = read_bits(reader, ac3::FRMSIZECOD_BITS);
    header.bsid = read_bits(reader, ac3::BSID_BITS);
    header.bsmod = read_bits(reader, ac3::BSMOD_BITS);
    header.acmod = read_bits(reader, ac3::ACMOD_BITS);
    if (ac3::has_cmixlev(header.acmod)) {
        header.cmixlev = read_bits(reader, ac3::MIX_LEVEL_BITS);
    }
    if (ac3::has_surmixlev(header.acmod)) {
        header.surmixlev = read_bits(reader, ac3::MIX_LEVEL_BITS);
    }
    if (header.acmod == AC3_ACMOD_STEREO) {
        header.dsurmod = read_bits(reader, ac3::DSURMOD_BITS);
    }
    header.lfeon = read_bits(reader, 1);
    header.dialnorm = read_bits(reader, ac3::DIALNORM_BITS);
    if (header.acmod == AC3_ACMOD_DUAL_MONO) {
        // compre, langcode and audprodie, each with its field, come first.
        if (read_bits(reader, 1) != 0) {
            read_bits(reader, COMPR_BITS);
        }
        if (read_bits(reader, 1) != 0) {
            read_bits(reader, LANGCOD_BITS);
        }
        if (read_bits(reader, 1) != 0) {
            read_bits(reader, MIXLEVEL_ROOMTYP_BITS);
        }
        header.dialnorm2 = read_bits(reader, ac3::DIALNORM_BITS);
    }
    return !reader.view.overrun && sync == AC3_SYNC_WORD && header.bsid <= AC3_MAX_BSID &&
           ac3_frame_words(header.fscod, header.frmsizecod) != 0;
}

bool read_mpeg_audio_header(ByteView bytes, std::size_t offset, MpegAudioHeader& header) {
    BitReader reader{tail_view(bytes, offset), 0};
    const std::uint32_t sync = read_bits(reader, MPEG_SYNC_BITS);
    header.lower_rates = read_bits(reader, 1) == 0;
    const std::uint32_t layer_code = read_bits(reader, MPEG_LAYER_BITS);
    header.has_crc = read_bits(reader, 1) == 0;
    header.bitrate_index = read_bits(reader, MPEG_BITRATE_BITS);
    header.sampling_frequency = read_bits(reader, MPEG_FREQUENCY_BITS);
    header.padding = read_bits(reader, 1);
    read_bits(reader, 1);  // private_bit
    header.mode = read_bits(reader, MPEG_MODE_BITS);
    header.mode_extension = read_bits(reader, MPEG_MODE_EXTENSION_BITS);
    if (reader.view.overrun || sync != MPEG_SYNC_WORD || layer_code == MPEG_LAYER_RESERVED ||
        header.bitrate_index == MPEG_FREE_FORMAT || header.bitrate_index == MPEG_BITRATE_INVALID ||
        header.sampling_frequency == MPEG_FREQUENCY_RESERVED) {
        return false;
    }
    header.layer = MPEG_LAYER_CODES_FROM - static_cast<int>(layer_code);
    const std::size_t layer_row = static_cast<std::size_t>(header.layer - 1);
    const BitrateRow& rates = header.lower_rates ? LOWER_RATE_BITRATES[layer_row == 0 ? 0 : 1] : MPEG1_BITRATES[layer_row];
    header.bitrate_kbps = rates[header.bitrate_index];
    header.sample_rate = (header.lower_rates ? LOWER_SAMPLE_RATES : MPEG1_SAMPLE_RATES)[header.sampling_frequency];
    return true;
}

bool read_audio_frame(AudioCoding coding, ByteView bytes, std::size_t offset, AudioFrame& frame) {
    frame = AudioFrame{};
    switch (coding) {
        case AudioCoding::ac3:
            return read_ac3(bytes, offset, frame);
        case AudioCoding::dts:
            return read_dts(bytes, offset, frame);
        case AudioCoding::mpeg_audio:
            return read_mpeg_audio(bytes, offset, frame);
        case AudioCoding::lpcm:
            return read_lpcm(bytes, offset, frame);
    }
    return false;
}

std::optional<std::size_t> first_access_unit(ByteView substream_header, std::size_t length) {
    constexpr std::size_t POINTER_OFFSET = 2;
    const std::size_t pointer = read_be16(substream_header, POINTER_OFFSET);
    if (substream_header.overrun || pointer == 0 || pointer - 1 >= length) {
        return std::nullopt;
    }
    return pointer - 1;
}

FrameCheck confirmed_frame(AudioCoding coding, ByteView bytes, std::size_t offset, AudioFrame& frame) {
    if (!read_audio_frame(coding, bytes, offset, frame) || frame.size == 0) {
        return FrameCheck::none;
    }
    const std::size_t next = offset + frame.size;
    if (!holds(bytes, next, FRAME_HEADER_BYTES)) {
        return FrameCheck::needs_more;
    }
    AudioFrame following;
    return read_audio_frame(coding, bytes, next, following) && following.sample_rate == frame.sample_rate &&
                   following.samples == frame.samples
               ? FrameCheck::found
               : FrameCheck::none;
}

AudioCoding frame_coding(StreamKind kind) {
    switch (kind) {
    case StreamKind::lpcm_audio:
        return AudioCoding::lpcm;
    case StreamKind::mpeg_audio:
        return AudioCoding::mpeg_audio;
    case StreamKind::dts_audio:
        return AudioCoding::dts;
    default:
        return AudioCoding::ac3;
    }
}

Ticks frame_duration(const AudioFrame& frame) {
    if (frame.sample_rate <= 0) {
        return Ticks{};
    }
    return ticks_fraction(static_cast<std::int64_t>(frame.samples) * TICKS_PER_SECOND, frame.sample_rate);
}

}  // namespace packrift

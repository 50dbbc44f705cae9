#include "support/timed_units.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "output/bit_fields.hpp"
#include "output/silence_frames.hpp"
#include "support/silence_headers.hpp"

namespace packtest::disc {

namespace {

using packrift::BitWriter;
using packrift::write_bits;

constexpr std::uint32_t START_CODE_PREFIX = 0x000001;
constexpr unsigned START_CODE_PREFIX_BITS = 24;
constexpr unsigned START_CODE_BITS = 8;
constexpr std::size_t PES_TIMED_HEADER = 5;  // PES header data: the PTS alone
constexpr std::size_t AUDIO_PACKET_ROOM = AC3_ROOM - PES_TIMED_HEADER;
constexpr std::size_t SUBSTREAM_HEADER = 4;  // number, frame count, first access unit pointer

// ISO/IEC 13818-2 6.2.2: start codes and the fields written after them.
constexpr unsigned PICTURE_START = 0x00;
constexpr unsigned SLICE_START = 0x01;
constexpr unsigned SEQUENCE_HEADER = 0xB3;
constexpr unsigned EXTENSION_START = 0xB5;
constexpr unsigned SEQUENCE_END = 0xB7;
constexpr unsigned GROUP_START = 0xB8;
constexpr unsigned SEQUENCE_EXTENSION_ID = 1;
constexpr unsigned PICTURE_CODING_EXTENSION_ID = 8;
constexpr unsigned WIDTH = 720;
constexpr unsigned HEIGHT = 576;
constexpr unsigned ASPECT_16_9 = 3;
constexpr unsigned FRAME_RATE_25 = 3;
constexpr unsigned BIT_RATE_400 = 20000;  // 8 Mbit/s in units of 400 bit/s
constexpr unsigned VBV_BUFFER = 112;      // 16 kbit units, as DVDs give
constexpr unsigned MAIN_AT_MAIN = 0x48;
constexpr unsigned CHROMA_420 = 1;
constexpr unsigned I_PICTURE = 1;
constexpr unsigned VBV_DELAY_VARIABLE = 0xFFFF;
constexpr unsigned FRAME_PICTURE = 3;
constexpr unsigned NO_MOTION_F_CODE = 0xF;
constexpr std::size_t PICTURE_DATA = 200;  // a slice's bytes after its start code

// AC-3 at 48 kHz (fscod 0), 64 kbit/s (frmsizecod 8: 128 words), stereo;
// its first 5/8 checked by crc1, the rest by crc2 in its last two bytes.
constexpr unsigned AC3_FSCOD_48K = 0;
constexpr unsigned AC3_FRMSIZECOD_64K = 8;
constexpr unsigned AC3_ACMOD_STEREO = 2;
constexpr std::size_t AC3_FRAME_BYTES = 256;
constexpr std::int64_t AC3_FRAME_TICKS = 2880;  // 1536 samples
constexpr std::size_t CRC_BYTES = 2;
// DTS core (ETSI TS 102 114 5.3.1): a normal frame of 16 blocks of 32
// samples, 256 bytes, stereo at 48 kHz, no CRC.
constexpr std::uint32_t DTS_SYNC = 0x7FFE8001;
constexpr unsigned DTS_NORMAL_FRAME = 1;
constexpr unsigned DTS_NO_DEFICIT = 31;
constexpr unsigned DTS_BLOCKS_LESS_ONE = 15;
constexpr std::size_t DTS_FRAME_BYTES = 256;
constexpr unsigned DTS_AMODE_STEREO = 2;
constexpr unsigned DTS_SFREQ_48K = 13;
constexpr unsigned DTS_RATE_192K = 7;
constexpr std::int64_t DTS_FRAME_TICKS = 960;  // 512 samples
// MPEG-1 Layer II (ISO/IEC 11172-3 2.4.1.3): 192 kbit/s stereo at 48 kHz,
// no CRC, 576 bytes of 1152 samples; no bits allocated, so it decodes to
// silence and the tag lies in its ancillary data.
constexpr std::size_t MPEG_AUDIO_FRAME_BYTES = 576;
constexpr std::int64_t MPEG_AUDIO_FRAME_TICKS = 2160;
constexpr unsigned MPEG_SYNC = 0xFFF;
constexpr unsigned MPEG_ID_1 = 1;
constexpr unsigned MPEG_LAYER_II = 2;  // coded '10'
constexpr unsigned MPEG_NO_CRC = 1;
constexpr unsigned MPEG_BITRATE_192K = 10;
constexpr unsigned MPEG_SAMPLING_48K = 1;
constexpr std::uint32_t MPEG_AUDIO_0 = 0x1C0;
// Where a frame's tag lies, counted back from its end: in AC-3's auxiliary
// bits before auxdatae, crcrsv and crc2; at the end of a DTS frame's data.
constexpr std::size_t TAG_FROM_END = 7;
constexpr std::size_t TAG_BYTES = 4;
constexpr unsigned TAG_PART_MARK = 0xA0;  // high half of the tag's first byte
constexpr unsigned TAG_END_MARK = 0x5A;
constexpr std::size_t SUBPICTURE_BYTES = 200;

// The headers below are written field by field, each with its width in
// bits as the standard's syntax tables give it.
struct Bits {
    BitWriter out;
    explicit Bits(std::size_t bytes) : out{std::vector<unsigned char>(bytes, 0), 0, false} {}
    Bits& operator()(std::uint32_t value, unsigned count) {
        write_bits(out, value, count);
        return *this;
    }
};

void start_code(Bits& bits, unsigned code) {
    bits(START_CODE_PREFIX, START_CODE_PREFIX_BITS)(code, START_CODE_BITS);
}

void append(Bytes& out, const Bits& bits) {
    if (bits.out.overrun) {
        throw std::length_error("a header outgrew its bytes");
    }
    out.insert(out.end(), bits.out.bytes.begin(), bits.out.bytes.end());
}

void sequence_start(Bytes& out) {
    Bits header(12);
    start_code(header, SEQUENCE_HEADER);
    header(WIDTH, 12)(HEIGHT, 12)(ASPECT_16_9, 4)(FRAME_RATE_25, 4)(BIT_RATE_400, 18)(1, 1)(VBV_BUFFER, 10)(0, 3);
    append(out, header);
    Bits extension(10);
    start_code(extension, EXTENSION_START);
    extension(SEQUENCE_EXTENSION_ID, 4)(MAIN_AT_MAIN, 8)(0, 1)(CHROMA_420, 2)(0, 2)(0, 2)(0, 12)(1, 1)(0, 8)(0, 1)(0, 2)(
        0, 5);
    append(out, extension);
}

void closed_group(Bytes& out) {
    Bits group(8);
    start_code(group, GROUP_START);
    group(0, 25)(1, 1)(0, 1);  // time code, closed_gop, broken_link
    append(out, group);
}

void picture(Bytes& out, unsigned temporal_reference, unsigned seed) {
    Bits header(8);
    start_code(header, PICTURE_START);
    header(temporal_reference, 10)(I_PICTURE, 3)(VBV_DELAY_VARIABLE, 16)(0, 1);  // extra_bit_picture
    append(out, header);
    Bits extension(9);
    start_code(extension, EXTENSION_START);
    extension(PICTURE_CODING_EXTENSION_ID, 4);
    for (int f = 0; f < 4; ++f) {
        extension(NO_MOTION_F_CODE, 4);
    }
    // intra_dc_precision, picture_structure, top_field_first,
    // frame_pred_frame_dct ... repeat_first_field, chroma_420_type,
    // progressive_frame, composite_display_flag.
    extension(0, 2)(FRAME_PICTURE, 2)(1, 1)(0, 5)(0, 1)(0, 1)(0, 1)(0, 1);
    append(out, extension);
    Bits slice(4);
    start_code(slice, SLICE_START);
    append(out, slice);
    const Bytes data = pattern(PICTURE_DATA, seed);
    out.insert(out.end(), data.begin(), data.end());
}

// The part's video of each unit, in the order they lie.
std::vector<Bytes> unit_videos(const TimedPart& part) {
    std::vector<Bytes> units;
    for (int u = 0; u < part.units; ++u) {
        Bytes out;
        if (u == 0) {
            sequence_start(out);
        }
        closed_group(out);
        for (int p = 0; p < TIMED_UNIT_PICTURES; ++p) {
            picture(out, static_cast<unsigned>(p), static_cast<unsigned>(u * TIMED_UNIT_PICTURES + p));
        }
        if (u + 1 == part.units) {
            Bits end(4);
            start_code(end, SEQUENCE_END);
            append(out, end);
        }
        units.push_back(out);
    }
    return units;
}

Bytes ac3_frame() {
    Bytes header = from_hex(ac3_header_hex(AC3_FSCOD_48K, AC3_FRMSIZECOD_64K, AC3_ACMOD_STEREO, 0));
    header.resize(AC3_FRAME_BYTES, 0);
    std::vector<unsigned char> frame;
    if (!packrift::ac3_silence_frame(packrift::view_of(header.data(), header.size()), 0, frame)) {
        throw std::logic_error("no AC-3 frame from the header");
    }
    return frame;
}

Bytes dts_frame() {
    Bits frame(DTS_FRAME_BYTES);
    frame(DTS_SYNC, 32)(DTS_NORMAL_FRAME, 1)(DTS_NO_DEFICIT, 5)(0, 1)(DTS_BLOCKS_LESS_ONE, 7)(DTS_FRAME_BYTES - 1, 14);
    frame(DTS_AMODE_STEREO, 6)(DTS_SFREQ_48K, 4)(DTS_RATE_192K, 5)(0, 10)(0, 2);  // RATE .. ASPF, LFF
    return frame.out.bytes;
}

Bytes mpeg_audio_frame() {
    Bits frame(MPEG_AUDIO_FRAME_BYTES);
    frame(MPEG_SYNC, 12)(MPEG_ID_1, 1)(MPEG_LAYER_II, 2)(MPEG_NO_CRC, 1)(MPEG_BITRATE_192K, 4)(MPEG_SAMPLING_48K, 2);
    frame(0, 2)(0, 8);  // padding, private; stereo, no extension, no copyright, emphasis
    return frame.out.bytes;
}

// Writes the tag into the frame and, for AC-3, makes crc2 check again: the
// CRC of the frame's last 3/8 with crc2 at their end is then zero (A/52 7.10.1).
void tag(Bytes& frame, AudioCoding coding, int part_number, int frame_number) {
    const std::size_t at = frame.size() - TAG_FROM_END;
    if (std::any_of(frame.begin() + static_cast<std::ptrdiff_t>(at),
                    frame.begin() + static_cast<std::ptrdiff_t>(at + TAG_BYTES), [](unsigned char b) { return b != 0; })) {
        throw std::logic_error("the frame's tag would cover its data");
    }
    frame[at] = static_cast<unsigned char>(TAG_PART_MARK | static_cast<unsigned>(part_number));
    frame[at + 1] = static_cast<unsigned char>(frame_number >> 8);
    frame[at + 2] = static_cast<unsigned char>(frame_number);
    frame[at + 3] = TAG_END_MARK;
    if (coding == AudioCoding::ac3) {
        const std::size_t words = frame.size() / 2;
        const std::size_t crc1_end = 2 * ((words >> 1) + (words >> 3));
        const std::uint16_t crc = packrift::crc16_bytes(0, packrift::view_of(frame.data(), frame.size()), crc1_end,
                                                        frame.size() - CRC_BYTES);
        frame[frame.size() - 2] = static_cast<unsigned char>(crc >> 8);
        frame[frame.size() - 1] = static_cast<unsigned char>(crc);
    }
}

int substream_of(AudioCoding coding) {
    constexpr int AC3_FIRST = 0x80;
    constexpr int DTS_FIRST = 0x88;
    return coding == AudioCoding::dts ? DTS_FIRST : AC3_FIRST;
}

// The part's audio in packets, each timed at the first frame that starts in it.
std::vector<Bytes> audio_packs(const TimedPart& part, AudioCoding coding, int part_number) {
    const Bytes audio = timed_audio(part, coding, part_number);
    const std::size_t frame = timed_audio_frame_size(coding);
    std::vector<Bytes> packs;
    for (std::size_t from = 0; from < audio.size(); from += AUDIO_PACKET_ROOM) {
        const std::size_t to = std::min(audio.size(), from + AUDIO_PACKET_ROOM);
        const std::size_t first = (from + frame - 1) / frame;  // the first frame that starts in it
        const std::size_t starts = first * frame < to ? (to - 1 - first * frame) / frame + 1 : 0;
        const std::size_t pointer = starts > 0 ? first * frame - from + 1 : 0;  // counts from 1
        // MPEG audio has a stream of its own and no substream header.
        const bool mpeg = coding == AudioCoding::mpeg1;
        Bytes body = {static_cast<unsigned char>(substream_of(coding)), static_cast<unsigned char>(starts),
                      static_cast<unsigned char>(pointer >> 8), static_cast<unsigned char>(pointer)};
        body.resize(mpeg ? 0 : SUBSTREAM_HEADER);
        body.insert(body.end(), audio.begin() + static_cast<std::ptrdiff_t>(from),
                    audio.begin() + static_cast<std::ptrdiff_t>(to));
        const std::uint32_t code = mpeg ? MPEG_AUDIO_0 : PRIVATE_1;
        if (starts == 0) {
            packs.push_back(pack(code, body));
            continue;
        }
        const std::int64_t pts = TIMED_START_PTS + part.audio_offset +
                                 static_cast<std::int64_t>(first) * timed_audio_frame_ticks(coding);
        packs.push_back(with_pts(pack(code, body, PES_TIMED_HEADER), static_cast<std::uint64_t>(pts)));
    }
    return packs;
}

}  // namespace

Bytes timed_video(const TimedPart& part) {
    return concat(unit_videos(part));
}

std::size_t timed_audio_frame_size(AudioCoding coding) {
    return coding == AudioCoding::dts     ? DTS_FRAME_BYTES
           : coding == AudioCoding::mpeg1 ? MPEG_AUDIO_FRAME_BYTES
                                          : AC3_FRAME_BYTES;
}

std::int64_t timed_audio_frame_ticks(AudioCoding coding) {
    return coding == AudioCoding::dts     ? DTS_FRAME_TICKS
           : coding == AudioCoding::mpeg1 ? MPEG_AUDIO_FRAME_TICKS
                                          : AC3_FRAME_TICKS;
}

Bytes timed_audio(const TimedPart& part, AudioCoding coding, int part_number) {
    const Bytes model = coding == AudioCoding::dts     ? dts_frame()
                        : coding == AudioCoding::mpeg1 ? mpeg_audio_frame()
                                                       : ac3_frame();
    Bytes out;
    for (int f = 0; f < part.audio_frames; ++f) {
        Bytes frame = model;
        tag(frame, coding, part_number, f);
        out.insert(out.end(), frame.begin(), frame.end());
    }
    return out;
}

std::vector<Vobu> timed_units(const TimedPart& part, AudioCoding coding, int part_number) {
    constexpr std::int64_t PICTURE_TICKS = 3600;  // a frame at 25 Hz
    constexpr std::uint32_t UNIT_TICKS = TIMED_UNIT_PICTURES * PICTURE_TICKS;
    const std::vector<Bytes> videos = unit_videos(part);
    const std::vector<Bytes> audio = audio_packs(part, coding, part_number);
    std::vector<Vobu> units;
    std::size_t audio_given = 0;
    for (int u = 0; u < part.units; ++u) {
        Vobu unit;
        unit.start_ptm = TIMED_START_PTS + static_cast<std::uint32_t>(u) * UNIT_TICKS;
        unit.end_ptm = unit.start_ptm + UNIT_TICKS;
        // The first packet, timed at the unit's first picture, then the rest.
        const Bytes& video = videos[static_cast<std::size_t>(u)];
        std::size_t from = std::min(video.size(), VIDEO_ROOM - PES_TIMED_HEADER);
        unit.packs.push_back(with_pts(video_pack(Bytes(video.begin(), video.begin() + static_cast<std::ptrdiff_t>(from)),
                                                 static_cast<int>(PES_TIMED_HEADER)),
                                      unit.start_ptm));
        for (; from < video.size(); from += VIDEO_ROOM) {
            const std::size_t to = std::min(video.size(), from + VIDEO_ROOM);
            unit.packs.push_back(video_pack(Bytes(video.begin() + static_cast<std::ptrdiff_t>(from),
                                                  video.begin() + static_cast<std::ptrdiff_t>(to))));
        }
        // The audio spread over the units, as much in each.
        const std::size_t audio_until = audio.size() * static_cast<std::size_t>(u + 1) / static_cast<std::size_t>(part.units);
        for (; audio_given < audio_until; ++audio_given) {
            unit.packs.push_back(audio[audio_given]);
        }
        if (u == 0 && part.subpicture_at >= 0) {
            unit.packs.push_back(subpicture_pack(TIMED_SUBPICTURE_STREAM, subpicture_unit(SUBPICTURE_BYTES, false),
                                                 static_cast<std::uint64_t>(TIMED_START_PTS + part.subpicture_at)));
        }
        units.push_back(unit);
    }
    return units;
}

}  // namespace packtest::disc

#pragma once
// The frame headers of DVD-Video's audio codings: where a frame ends, how
// long it plays on the 90 kHz clock and which channels it carries. Pure
// functions over a byte view; every field is read through it, so a header
// cut short is refused, never read past.
//
// AC-3: ATSC A/52 5.3 (syncinfo, bsi). DTS: ETSI TS 102 114 5.3 (the core
// frame header, 16-bit big-endian words as on DVD). MPEG audio: ISO/IEC
// 11172-3 2.4.2.3 and 13818-3 (its lower sampling frequencies), Layers I to
// III. DVD LPCM: the three-byte header of an LPCM packet; its frames are
// units of 1/600 s.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "demux/demux_common.hpp"
#include "io/byte_view.hpp"
#include "output/media_ticks.hpp"

namespace packrift {

enum class AudioCoding { ac3, dts, mpeg_audio, lpcm };

// The coding of an audio output kind's frames (AC-3 for any other kind).
AudioCoding frame_coding(StreamKind kind);

// The channels a frame carries: main channels and the low-frequency one;
// dual mono (two independent programmes, "1+1") marked apart from stereo.
struct ChannelLayout {
    int main_channels = 0;
    bool lfe = false;
    bool dual_mono = false;

    friend bool operator==(const ChannelLayout&, const ChannelLayout&) = default;
};

// "2.0", "5.1", "1.0", "1+1" for track names and messages.
std::string channel_layout_text(const ChannelLayout& layout);

struct AudioFrame {
    std::size_t size = 0;  // bytes, header included
    int samples = 0;       // a channel's samples
    int sample_rate = 0;   // Hz
    ChannelLayout layout;
};

// Reads the frame header of coding at offset of bytes. For LPCM, offset
// names the packet's three-byte LPCM header and the frame is one 1/600 s
// unit of its format. False when the bytes there are no valid header (a
// wrong sync word, a reserved or free-format code) or are cut short.
bool read_audio_frame(AudioCoding coding, ByteView bytes, std::size_t offset, AudioFrame& frame);

// Bytes enough to read any frame header of the codings.
inline constexpr std::size_t FRAME_HEADER_BYTES = 16;

// Where the first access unit of a private stream 1 packet begins: its
// substream header's pointer (bytes 2 and 3, counting from 1 at the first
// byte after the header) as an offset in the payload of length bytes that
// follows the header, or nothing when no unit begins in it (0, or past its
// end). An LPCM payload counts its own three-byte header too.
std::optional<std::size_t> first_access_unit(ByteView substream_header, std::size_t length);

// A frame header at offset that the next frame's header confirms (the same
// sample rate and samples a frame): how MPEG audio, which carries no
// pointer, is found in bytes where a false sync may lie. needs_more when
// the next header lies past the bytes.
enum class FrameCheck { none, found, needs_more };
FrameCheck confirmed_frame(AudioCoding coding, ByteView bytes, std::size_t offset, AudioFrame& frame);

// The frame's duration: samples / sample_rate seconds, in exact ticks.
Ticks frame_duration(const AudioFrame& frame);

// The fields of an AC-3 frame's syncinfo and bit stream information that a
// frame made to stand beside it copies (A/52 5.4.1, 5.4.2).
struct Ac3Header {
    unsigned fscod = 0;
    unsigned frmsizecod = 0;
    unsigned bsid = 0;
    unsigned bsmod = 0;
    unsigned acmod = 0;
    unsigned cmixlev = 0;    // read when three front channels
    unsigned surmixlev = 0;  // read when surround channels
    unsigned dsurmod = 0;    // read for 2/0
    unsigned lfeon = 0;
    unsigned dialnorm = 0;
    unsigned dialnorm2 = 0;  // read for 1+1
};

inline constexpr std::uint32_t AC3_SYNC_WORD = 0x0B77;
inline constexpr unsigned AC3_ACMOD_DUAL_MONO = 0;
inline constexpr unsigned AC3_ACMOD_STEREO = 2;

// Reads an AC-3 frame's header at offset; false as read_audio_frame.
bool read_ac3_header(ByteView bytes, std::size_t offset, Ac3Header& header);

// The full-bandwidth channels of an AC-3 channel mode (acmod 0 to 7).
int ac3_full_channels(unsigned acmod);

// An AC-3 frame's size in 16-bit words (A/52 table 5.18), 0 when its codes
// are out of range.
std::size_t ac3_frame_words(unsigned fscod, unsigned frmsizecod);

// The fields of an MPEG audio header (ISO/IEC 11172-3 2.4.1.3).
struct MpegAudioHeader {
    bool lower_rates = false;  // ID 0: 13818-3's half sampling frequencies
    int layer = 0;             // 1, 2 or 3
    bool has_crc = false;      // protection_bit 0
    unsigned bitrate_index = 0;
    unsigned sampling_frequency = 0;
    unsigned padding = 0;
    unsigned mode = 0;
    unsigned mode_extension = 0;
    int bitrate_kbps = 0;
    int sample_rate = 0;
};

inline constexpr unsigned MPEG_MODE_JOINT_STEREO = 1;
inline constexpr unsigned MPEG_MODE_DUAL_CHANNEL = 2;
inline constexpr unsigned MPEG_MODE_SINGLE_CHANNEL = 3;

bool read_mpeg_audio_header(ByteView bytes, std::size_t offset, MpegAudioHeader& header);

}  // namespace packrift

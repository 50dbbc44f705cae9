// Fuzzes the pack loop, the staging writer, the WAV output and the VobSub
// output with its reading of subpicture units. The first five bytes of an
// input choose the outputs and the number after each option; the rest is
// the input file, read from memory through a real stream. Each output must
// equal what a plain byte-by-byte reading of the same bytes extracts (an
// LPCM track's WAV: what a plain converter makes of it; a subpicture
// track's units: one at each pack whose packet has a PTS), and the accepted
// total must equal the bytes written. The input is also read whole as one
// subpicture unit. A third of the inputs are read as a title whose audio is
// held for its joins: as one cell, where no join can come, the outputs must
// still equal the plain reading; as cells of a few sectors each, where every
// navigation pack may start anew, the audio is cut and filled and only the
// video and the .sub must still equal it.

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <vector>

#include "demux/demux_common.hpp"
#include "demux/pack_loop.hpp"
#include "demux/sector_source.hpp"
#include "demux/title_timeline.hpp"
#include "io/file_io.hpp"
#include "output/audio_edges.hpp"
#include "output/picture_count.hpp"
#include "output/staging_writer.hpp"
#include "output/subpicture_units.hpp"
#include "output/vobsub_output.hpp"
#include "output/wav_output.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

// The option bytes. Byte 0: bit 0 video, bit 1 AC-3, the six bits above
// them the audio number plus 32. Byte 1: bit 0 LPCM, bit 1 a seekable WAV
// file (else a stream that cannot seek), the six bits above them the LPCM
// number plus 32. Bytes 2 and 3: bit 0 MPEG audio or DTS, the seven bits
// above it the number plus 64. Byte 4: the same for subpictures. The numbers
// reach past every kind's range into the neighbouring kinds' streams.
constexpr std::size_t OPTION_BYTES = 5;
constexpr unsigned char WANTED = 0x01;
constexpr unsigned char WANT_AUDIO = 0x02;
constexpr unsigned char WANT_SEEKABLE = 0x02;
constexpr int SIX_BIT_SHIFT = 2;
constexpr int SIX_BIT_BIAS = 32;  // gives -32..31
constexpr int SEVEN_BIT_SHIFT = 1;
constexpr int SEVEN_BIT_BIAS = 64;  // gives -64..63

struct Options {
    bool video = false;
    bool audio = false;
    int audio_no = 0;
    bool lpcm = false;
    bool lpcm_seekable = false;
    int lpcm_no = 0;
    bool mpa = false;
    int mpa_no = 0;
    bool dts = false;
    int dts_no = 0;
    bool sub = false;
    int sub_no = 0;
};

Options options_of(const unsigned char* bytes) {
    Options options;
    options.video = (bytes[0] & WANTED) != 0;
    options.audio = (bytes[0] & WANT_AUDIO) != 0;
    options.audio_no = (bytes[0] >> SIX_BIT_SHIFT) - SIX_BIT_BIAS;
    options.lpcm = (bytes[1] & WANTED) != 0;
    options.lpcm_seekable = (bytes[1] & WANT_SEEKABLE) != 0;
    options.lpcm_no = (bytes[1] >> SIX_BIT_SHIFT) - SIX_BIT_BIAS;
    options.mpa = (bytes[2] & WANTED) != 0;
    options.mpa_no = (bytes[2] >> SEVEN_BIT_SHIFT) - SEVEN_BIT_BIAS;
    options.dts = (bytes[3] & WANTED) != 0;
    options.dts_no = (bytes[3] >> SEVEN_BIT_SHIFT) - SEVEN_BIT_BIAS;
    options.sub = (bytes[4] & WANTED) != 0;
    options.sub_no = (bytes[4] >> SEVEN_BIT_SHIFT) - SEVEN_BIT_BIAS;
    return options;
}

// The pack layout and the stream numbering, written out again here on
// purpose rather than taken from the code under test.
constexpr std::size_t SECTOR = 2048;
constexpr std::size_t PACKET_AT = 14;  // after the 14-byte pack header
constexpr std::size_t STREAM_ID_AT = 17;
constexpr std::size_t PACKET_LENGTH_AT = 18;
constexpr std::size_t PACKET_LENGTH_COUNTS_FROM = 20;
constexpr std::size_t HEADER_LENGTH_AT = 22;
constexpr std::size_t HEADER_DATA_AT = 23;
constexpr std::size_t SUBSTREAM_HEADER = 4;
constexpr unsigned char VIDEO_0_ID = 0xE0;
constexpr unsigned char PRIVATE_1_ID = 0xBD;
constexpr int FIRST_AC3_SUBSTREAM = 0x80;
constexpr int FIRST_DTS_SUBSTREAM = 0x88;
constexpr int FIRST_LPCM_SUBSTREAM = 0xA0;
constexpr int SUBSTREAMS_OF_A_KIND = 8;
constexpr int FIRST_MPEG_AUDIO_ID = 0xC0;
constexpr int MPEG_AUDIO_IDS = 32;
constexpr int FIRST_SUBPICTURE_SUBSTREAM = 0x20;
constexpr int SUBPICTURE_SUBSTREAMS = 32;
constexpr std::size_t PTS_FLAGS_AT = 21;
constexpr unsigned char PTS_FLAG = 0x80;
constexpr unsigned PTS_SIZE = 5;

bool is_code(const unsigned char* p, unsigned char id) {
    return p[0] == 0x00 && p[1] == 0x00 && p[2] == 0x01 && p[3] == id;
}

// The id that "option N" takes, or -1 for none: -audio takes any substream
// 0x80 + N, the other audio options only their own kind's.
int own_id(bool wanted, int first, int count, int number) {
    return wanted && number >= 0 && number < count ? first + number : -1;
}

struct Streams {
    Bytes video;
    Bytes audio;
    Bytes mpa;
    Bytes dts;
    std::vector<Bytes> lpcm_packets;  // each LPCM packet's payload after the substream header
    Bytes sub;                        // the subpicture track's packs, whole
    std::vector<std::uint64_t> unit_positions;  // of its packs whose packet has a PTS
};

// The video trim as a plain shift window: the bytes before the first
// 00 00 01 BE that lies wholly in the payload, or all of them.
constexpr std::uint32_t PADDING_CODE = 0x000001BE;
constexpr unsigned BYTE_SHIFT = 8;
constexpr std::size_t WINDOW_LAST_BYTE = 3;  // the window holds four bytes of the payload from index 3 on

std::size_t plain_trim(const unsigned char* payload, std::size_t length) {
    std::uint32_t window = 0;
    for (std::size_t i = 0; i < length; ++i) {
        window = window << BYTE_SHIFT | payload[i];
        if (i >= WINDOW_LAST_BYTE && window == PADDING_CODE) {
            return i - WINDOW_LAST_BYTE;
        }
    }
    return length;
}

// Whole sectors only; one pack per sector, its first packet decides.
Streams rederive(const unsigned char* file, std::size_t size, const Options& options) {
    Streams out;
    const int audio = options.audio ? FIRST_AC3_SUBSTREAM + options.audio_no : -1;
    const int lpcm = own_id(options.lpcm, FIRST_LPCM_SUBSTREAM, SUBSTREAMS_OF_A_KIND, options.lpcm_no);
    const int mpa = own_id(options.mpa, FIRST_MPEG_AUDIO_ID, MPEG_AUDIO_IDS, options.mpa_no);
    const int dts = own_id(options.dts, FIRST_DTS_SUBSTREAM, SUBSTREAMS_OF_A_KIND, options.dts_no);
    const int sub = own_id(options.sub, FIRST_SUBPICTURE_SUBSTREAM, SUBPICTURE_SUBSTREAMS, options.sub_no);
    for (std::size_t at = 0; at + SECTOR <= size; at += SECTOR) {
        const unsigned char* s = file + at;
        if (!is_code(s, 0xBA) || !(s[PACKET_AT] == 0 && s[PACKET_AT + 1] == 0 && s[PACKET_AT + 2] == 1)) {
            continue;
        }
        const std::size_t header_end = HEADER_DATA_AT + s[HEADER_LENGTH_AT];
        const int id = s[STREAM_ID_AT];
        const bool private_1 = id == PRIVATE_1_ID;
        const int substream = private_1 ? s[header_end] : -1;
        const std::size_t begin = header_end + (private_1 ? SUBSTREAM_HEADER : 0);
        std::size_t end = PACKET_LENGTH_COUNTS_FROM + s[PACKET_LENGTH_AT] * 256u + s[PACKET_LENGTH_AT + 1];
        if (end > SECTOR || end < begin) {
            end = SECTOR;
        }
        if (id == VIDEO_0_ID && options.video) {
            const std::size_t video_end = begin + plain_trim(s + begin, end - begin);
            out.video.insert(out.video.end(), s + begin, s + video_end);
        }
        if (id == mpa) {
            out.mpa.insert(out.mpa.end(), s + begin, s + end);
        }
        if (private_1 && substream == audio) {
            out.audio.insert(out.audio.end(), s + begin, s + end);
        }
        if (private_1 && substream == dts) {
            out.dts.insert(out.dts.end(), s + begin, s + end);
        }
        if (private_1 && substream == lpcm) {
            out.lpcm_packets.emplace_back(s + begin, s + end);
        }
        if (private_1 && substream == sub) {
            if ((s[PTS_FLAGS_AT] & PTS_FLAG) != 0 && s[HEADER_LENGTH_AT] >= PTS_SIZE) {
                out.unit_positions.push_back(out.sub.size());
            }
            out.sub.insert(out.sub.end(), s, s + SECTOR);
        }
    }
    return out;
}

// DVD LPCM, read plainly. The LPCM header: emphasis, mute and frame number;
// then word length (2 bits: 16, 20, 24, reserved), sampling frequency
// (2 bits: 48 kHz, 96 kHz, two not used), a reserved bit and channels less
// one (3 bits); then dynamic range.
constexpr std::size_t LPCM_HEADER = 3;
constexpr std::size_t LPCM_FORMAT_AT = 1;
constexpr unsigned WORD_LENGTH_SHIFT = 6;
constexpr unsigned FREQUENCY_SHIFT = 4;
constexpr unsigned TWO_BITS = 0x3;
constexpr unsigned CHANNEL_BITS = 0x7;
constexpr int WORD_LENGTHS[] = {16, 20, 24};
constexpr int SAMPLE_RATES[] = {48000, 96000};
constexpr int PLAIN_BITS = 16;  // 16-bit samples come plain, the others in groups
constexpr int NIBBLE_BITS = 20;  // 20-bit samples' low bits are a nibble each
constexpr std::size_t BITS_PER_BYTE = 8;

struct Format {
    int bits = 0;
    int rate = 0;
    int channels = 0;
    friend bool operator==(const Format&, const Format&) = default;
};

bool lpcm_format(const Bytes& payload, Format& format) {
    if (payload.size() < LPCM_HEADER) {
        return false;
    }
    const unsigned byte = payload[LPCM_FORMAT_AT];
    const unsigned word = byte >> WORD_LENGTH_SHIFT & TWO_BITS;
    const unsigned rate = byte >> FREQUENCY_SHIFT & TWO_BITS;
    if (word >= std::size(WORD_LENGTHS) || rate >= std::size(SAMPLE_RATES)) {
        return false;
    }
    format = {WORD_LENGTHS[word], SAMPLE_RATES[rate], static_cast<int>(byte & CHANNEL_BITS) + 1};
    return true;
}

// A track as -lpcm should make it: the first packet of a valid format sets
// the format, packets of no valid format or of another are passed over, the
// samples of the others are one stream.
struct LpcmTrack {
    bool started = false;
    Format format;
    Bytes samples;
    std::uint64_t passed_over = 0;
};

LpcmTrack lpcm_track(const std::vector<Bytes>& packets) {
    LpcmTrack track;
    for (const Bytes& packet : packets) {
        Format format;
        if (!lpcm_format(packet, format) || (track.started && !(format == track.format))) {
            ++track.passed_over;
            continue;
        }
        track.started = true;
        track.format = format;
        track.samples.insert(track.samples.end(), packet.begin() + LPCM_HEADER, packet.end());
    }
    return track;
}

// The little-endian PCM a track's samples make. 16-bit samples are swapped
// pairs. 20- and 24-bit samples come in groups of two samples (mono) or
// four (any other count, across sample frames as ffmpeg reads them): the
// high 16 bits of each, big-endian, then the low bits, a byte each for 24
// bits, a nibble each for 20 (the first sample's high); each becomes a
// 24-bit sample, 20-bit ones in the high 20 bits. Only whole blocks are
// converted, the rest at the end dropped: a sample frame for 16 bits; for
// 20 and 24 bits the fewest frames that make whole groups, except that
// ffmpeg takes four frames for mono and for six channels. The samples of
// all the packets taken come here as one stream: that is what carrying each
// packet's rest over to the next amounts to.
constexpr std::size_t MONO_GROUP = 2;
constexpr std::size_t GROUP = 4;
constexpr std::size_t FFMPEG_BLOCK_FRAMES = 4;  // for mono and six channels
constexpr std::size_t SIX_CHANNELS = 6;
constexpr unsigned HIGH_NIBBLE = 0xF0;
constexpr unsigned NIBBLE_SHIFT = 4;

Bytes lpcm_pcm(const Format& format, const Bytes& in) {
    const auto channels = static_cast<std::size_t>(format.channels);
    const auto bits = static_cast<std::size_t>(format.bits);
    Bytes out;
    if (format.bits == PLAIN_BITS) {
        const std::size_t frame = 2 * channels;
        const std::size_t whole = in.size() / frame * frame;
        for (std::size_t at = 0; at < whole; at += 2) {
            out.push_back(in[at + 1]);
            out.push_back(in[at]);
        }
        return out;
    }
    const std::size_t group = channels == 1 ? MONO_GROUP : GROUP;
    const std::size_t frames =
        channels == 1 || channels == SIX_CHANNELS ? FFMPEG_BLOCK_FRAMES : std::lcm(channels, group) / channels;
    const std::size_t block_bytes = frames * channels * bits / BITS_PER_BYTE;
    const std::size_t group_bytes = group * bits / BITS_PER_BYTE;
    const std::size_t whole = in.size() / block_bytes * block_bytes;
    for (std::size_t at = 0; at < whole; at += group_bytes) {
        const unsigned char* high = in.data() + at;
        const unsigned char* low = high + 2 * group;
        for (std::size_t i = 0; i < group; ++i) {
            if (format.bits == NIBBLE_BITS) {
                const unsigned both = low[i / 2];
                out.push_back(static_cast<unsigned char>((i % 2 == 0 ? both : both << NIBBLE_SHIFT) & HIGH_NIBBLE));
            } else {
                out.push_back(low[i]);
            }
            out.push_back(high[2 * i + 1]);
            out.push_back(high[2 * i]);
        }
    }
    return out;
}

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "split_fuzzer: %s\n", what);
        std::abort();
    }
}

// WAV (RIFF) layout, little-endian: "RIFF", size, "WAVE", then chunks of
// an id, a 32-bit size and a body padded to an even length. The format
// chunk's fields by offset, WAVE_FORMAT_EXTENSIBLE's after the plain ones.
constexpr std::size_t ID_SIZE = 4;
constexpr std::size_t U16 = 2;
constexpr std::size_t U32 = 4;
constexpr std::size_t RIFF_SIZE_AT = 4;
constexpr std::size_t WAVE_AT = 8;
constexpr std::size_t RIFF_HEAD = 12;
constexpr std::size_t CHUNK_HEAD = 8;
constexpr std::uint32_t UNKNOWN_SIZE = 0xFFFFFFFF;
constexpr std::size_t TAG_AT = 0;
constexpr std::size_t CHANNELS_AT = 2;
constexpr std::size_t RATE_AT = 4;
constexpr std::size_t BYTE_RATE_AT = 8;
constexpr std::size_t BLOCK_ALIGN_AT = 12;
constexpr std::size_t CONTAINER_BITS_AT = 14;
constexpr std::size_t EXTENSION_SIZE_AT = 16;
constexpr std::size_t VALID_BITS_AT = 18;
constexpr std::size_t CHANNEL_MASK_AT = 20;
constexpr std::size_t SUB_FORMAT_AT = 24;
constexpr std::uint32_t PLAIN_FORMAT_SIZE = 16;
constexpr std::uint32_t EXTENSIBLE_FORMAT_SIZE = 40;
constexpr std::uint32_t EXTENSION_SIZE = 22;
constexpr std::uint32_t WAVE_FORMAT_PCM = 0x0001;
constexpr std::uint32_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM as stored.
constexpr unsigned char PCM_SUB_FORMAT[] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};

std::uint32_t le(const Bytes& bytes, std::size_t at, std::size_t length) {
    std::uint32_t value = 0;
    for (std::size_t i = length; i-- > 0;) {
        value = value << BITS_PER_BYTE | bytes[at + i];
    }
    return value;
}

bool id_at(const Bytes& bytes, std::size_t at, const char* id) {
    return std::memcmp(bytes.data() + at, id, ID_SIZE) == 0;
}

// The format chunk's body at body, against the track's format.
void check_format_chunk(const Bytes& wav, std::size_t body, std::uint32_t size, const Format& format) {
    const bool plain = format.bits == PLAIN_BITS && format.channels <= 2;
    const std::uint32_t container = format.bits == PLAIN_BITS ? 2 : 3;  // bytes a sample
    const auto channels = static_cast<std::uint32_t>(format.channels);
    const auto rate = static_cast<std::uint32_t>(format.rate);
    check(size == (plain ? PLAIN_FORMAT_SIZE : EXTENSIBLE_FORMAT_SIZE), "the format chunk's size");
    check(le(wav, body + TAG_AT, U16) == (plain ? WAVE_FORMAT_PCM : WAVE_FORMAT_EXTENSIBLE), "the format tag");
    check(le(wav, body + CHANNELS_AT, U16) == channels, "the channel count");
    check(le(wav, body + RATE_AT, U32) == rate, "the sampling rate");
    check(le(wav, body + BYTE_RATE_AT, U32) == rate * channels * container, "the byte rate");
    check(le(wav, body + BLOCK_ALIGN_AT, U16) == channels * container, "the block align");
    check(le(wav, body + CONTAINER_BITS_AT, U16) == BITS_PER_BYTE * container, "the bits a sample");
    if (!plain) {
        check(le(wav, body + EXTENSION_SIZE_AT, U16) == EXTENSION_SIZE, "the extension size");
        check(le(wav, body + VALID_BITS_AT, U16) == static_cast<std::uint32_t>(format.bits), "the valid bits");
        check(std::popcount(le(wav, body + CHANNEL_MASK_AT, U32)) == format.channels,
              "a channel mask for another count");
        check(std::memcmp(wav.data() + body + SUB_FORMAT_AT, PCM_SUB_FORMAT, sizeof PCM_SUB_FORMAT) == 0,
              "the PCM sub-format");
    }
}

// Reads a WAV as a reader would, chunk by chunk, and checks its RIFF head,
// its format chunk against the track's format, its samples and its sizes
// (0xFFFFFFFF, unknown, when the file could not seek; a pad byte after
// samples of odd length).
void check_wav(const Bytes& wav, const Format& format, const Bytes& pcm, bool seekable) {
    check(wav.size() >= RIFF_HEAD && id_at(wav, 0, "RIFF") && id_at(wav, WAVE_AT, "WAVE"), "no RIFF WAVE head");
    check(le(wav, RIFF_SIZE_AT, U32) == (seekable ? wav.size() - CHUNK_HEAD : UNKNOWN_SIZE),
          "the RIFF size is not the file's");
    std::size_t at = RIFF_HEAD;
    bool format_seen = false;
    while (true) {
        check(at + CHUNK_HEAD <= wav.size(), "the WAV has no data chunk");
        const std::uint32_t size = le(wav, at + ID_SIZE, U32);
        const std::size_t body = at + CHUNK_HEAD;
        if (id_at(wav, at, "data")) {
            check(format_seen, "the data chunk comes before the format chunk");
            check(size == (seekable ? pcm.size() : UNKNOWN_SIZE), "the data size is not the samples'");
            Bytes padded = pcm;
            padded.resize(pcm.size() + pcm.size() % 2);
            check(std::equal(wav.begin() + static_cast<std::ptrdiff_t>(body), wav.end(), padded.begin(), padded.end()),
                  "the WAV's samples differ from the plain converter's");
            return;
        }
        check(body + size <= wav.size(), "a chunk runs past the WAV's end");
        if (id_at(wav, at, "fmt ")) {
            check_format_chunk(wav, body, size, format);
            format_seen = true;
        }
        at = body + size + size % 2;
    }
}

// Blocks are handed out again instead of coming fresh from the allocator
// for every input: a new 2 MB block costs far more than a small input. Every
// block must be back in the pool once an input has been split.
struct PooledBlock {
    void* block = nullptr;
    std::size_t size = 0;
    bool in_use = false;
};

// The read block and a stage for each output; a plain array, so that
// nothing frees the blocks at exit behind the leak checker's back.
constexpr std::size_t POOL_SIZE = 1 + packrift::OUTPUT_KINDS;
PooledBlock pool[POOL_SIZE];

void* pooled_allocate(std::size_t size) {
    for (auto& pooled : pool) {
        if (!pooled.in_use && pooled.size == size) {
            pooled.in_use = true;
            return pooled.block;
        }
    }
    for (auto& pooled : pool) {
        if (pooled.block == nullptr) {
            pooled = {std::malloc(size), size, true};
            check(pooled.block != nullptr, "out of memory");
            return pooled.block;
        }
    }
    check(false, "more blocks held at once than a run needs");
    return nullptr;
}

// What an input can fill of a block, spoilt when the block is released: a
// sector or a video payload gathered in the block, written from it after its
// release, would differ.
constexpr std::size_t FILLED_AT_MOST = packrift::BLOCK_LEAD + 65536 + SECTOR;
constexpr unsigned char SPOILT = 0xA5;

void pooled_release(void* block) {
    if (block == nullptr) {
        return;
    }
    for (auto& pooled : pool) {
        if (pooled.block == block) {
            check(pooled.in_use, "a block released twice");
            pooled.in_use = false;
            std::memset(block, SPOILT, std::min(pooled.size, FILLED_AT_MOST));
            return;
        }
    }
    check(false, "a block released that was never handed out");
}

bool all_blocks_back() {
    for (const auto& pooled : pool) {
        if (pooled.in_use) {
            return false;
        }
    }
    return true;
}

long long accepted_total = 0;

void add_accepted(int length) {
    accepted_total += length;
}

// An output in memory, or, for a WAV that must be finished in place, in a
// temporary file, which can seek.
struct MemoryOutput {
    char* data = nullptr;
    std::size_t size = 0;
    bool seekable = false;
    packrift::Output* opened = nullptr;  // the run's output, once opened
};

using Kind = packrift::StreamKind;

void open_output(Kind kind, int number, const char* name, MemoryOutput& output) {
    output.opened = packrift::add_output(kind, number);
    check(output.opened != nullptr, "no room for an output");
    packrift::NamedFile& file = output.opened->file;
    file.name = name;
    file.stream = output.seekable ? std::tmpfile() : open_memstream(&output.data, &output.size);
    check(file.stream != nullptr, "no output stream");
}

Bytes read_back(std::FILE* stream) {
    check(std::fflush(stream) == 0 && std::fseek(stream, 0, SEEK_END) == 0, "the WAV file cannot be read back");
    const long size = std::ftell(stream);
    check(size >= 0, "the WAV file has no size");
    Bytes out(static_cast<std::size_t>(size));
    std::rewind(stream);
    check(std::fread(out.data(), 1, out.size(), stream) == out.size(), "the WAV file reads short");
    return out;
}

// What the real writer left in the output once it is finished and closed.
Bytes finish(MemoryOutput& output) {
    if (output.opened == nullptr) {
        return {};
    }
    packrift::NamedFile& file = output.opened->file;
    packrift::flush_stream(*output.opened);
    check(!file.failed, "an I/O failure on an output");
    if (output.seekable) {
        Bytes out = read_back(file.stream);
        packrift::close_file(file);
        return out;
    }
    packrift::close_file(file);
    Bytes out(output.data, output.data + output.size);
    std::free(output.data);
    return out;
}

// A unit begins at each pack whose packet has a PTS, in the order read.
void check_units(const std::vector<packrift::SubpictureUnit>& units, const std::vector<std::uint64_t>& positions) {
    check(units.size() == positions.size(), "the units are not one per packet with a PTS");
    for (std::size_t i = 0; i < positions.size(); ++i) {
        check(units[i].position == positions[i], "a unit's position is not its pack's in the .sub");
    }
}

// The trim alone against the plain window, on the input's bytes taken as
// payloads at every alignment of its eight-byte steps: every short length
// (past the wide form's least and its first step read back over), and the
// last lengths up to a sector's worth, where the steps give way to the last
// bytes. A payload cut shorter keeps the first code of the whole only if the
// code still lies wholly inside it. The copying trim must give the same
// length, the bytes before it, and write nothing past the payload; both
// forms, where the processor has AVX2.
void check_trim(const unsigned char* file, std::size_t file_size) {
    constexpr std::size_t ALIGNMENTS = 8;
    constexpr std::size_t SHORT_LENGTHS = 160;
    constexpr std::size_t LAST_LENGTHS = 16;
    constexpr unsigned char UNWRITTEN = 0x5A;
    Bytes copy(SECTOR + 1);
    for (std::size_t from = 0; from < ALIGNMENTS && from < file_size; ++from) {
        const std::size_t room = std::min(file_size - from, SECTOR);
        const std::size_t first_code = plain_trim(file + from, room);
        for (std::size_t length = 0; length <= room; ++length) {
            if (length == SHORT_LENGTHS && room > SHORT_LENGTHS + LAST_LENGTHS) {
                length = room - LAST_LENGTHS;
            }
            const std::size_t kept = first_code + WINDOW_LAST_BYTE < length ? first_code : length;
            for (const bool wide : {false, true}) {
                packrift::use_wide_trim(wide);
                check(static_cast<std::size_t>(packrift::trim_before_padding(file + from, static_cast<int>(length))) ==
                          kept,
                      "the trim differs from the plain shift window");
                std::fill(copy.begin(), copy.end(), UNWRITTEN);
                const int copied = packrift::copy_before_padding(file + from, static_cast<int>(length), copy.data());
                check(static_cast<std::size_t>(copied) == kept, "the copying trim differs from the plain shift window");
                check(std::equal(copy.begin(), copy.begin() + static_cast<std::ptrdiff_t>(kept), file + from),
                      "the copying trim's bytes differ from the payload's");
                check(copy[length] == UNWRITTEN, "the copying trim wrote past the payload");
            }
        }
    }
}

bool same_count(const packrift::PictureCounter& a, const packrift::PictureCounter& b) {
    return a.recent == b.recent && a.gathering == b.gathering && a.gathering_code == b.gathering_code &&
           a.gathered == b.gathered && a.gathered_count == b.gathered_count && a.frame_rate_code == b.frame_rate_code &&
           a.progressive_sequence == b.progressive_sequence && a.pictures == b.pictures &&
           a.closed_fields == b.closed_fields && a.last_picture_fields == b.last_picture_fields;
}

// The joint scan against the two it stands for: the input's bytes cut into
// payloads of lengths around every form's edges (the word form, the 16-byte
// steps, the wide form's least, a sector's worth), each trimmed and its
// pictures counted as the title's video is, once by the trim and the count
// each reading it, once by the trim that lists the codes the count reads
// and the count that reads only there. The lengths, the bytes copied and the whole
// counter after every payload must be the same; both trim forms.
void check_joint_scan(const unsigned char* file, std::size_t file_size) {
    constexpr std::size_t LENGTHS[] = {2025, 3, 66, 67, 130, 131, 1, 200, 2048, 0, 2, 64, 1000, 4, 132, 259};
    constexpr unsigned char UNWRITTEN = 0x5A;
    Bytes copy(SECTOR + 1);
    for (const bool wide : {false, true}) {
        packrift::use_wide_trim(wide);
        for (std::size_t shift = 0; shift < std::size(LENGTHS); shift += 5) {
            packrift::PictureCounter apart;
            packrift::PictureCounter joint;
            packrift::PrefixMarks marks;  // what each payload leaves must not count for the next
            std::size_t at = 0;
            for (std::size_t piece = shift; at < file_size; ++piece) {
                const std::size_t length = std::min(LENGTHS[piece % std::size(LENGTHS)], file_size - at);
                const unsigned char* payload = file + at;
                const int kept = packrift::trim_before_padding(payload, static_cast<int>(length));
                packrift::count_pictures(apart, packrift::view_of(payload, static_cast<std::size_t>(kept)));
                // Alternately as the video output (copying) and as the timeline alone.
                std::fill(copy.begin(), copy.end(), UNWRITTEN);
                const int joint_kept =
                    piece % 2 == 0 ? packrift::copy_before_padding(payload, static_cast<int>(length), copy.data(), marks)
                                   : packrift::trim_before_padding(payload, static_cast<int>(length), marks);
                check(joint_kept == kept, "the marking trim's length differs from the trim's");
                check(piece % 2 != 0 || std::equal(copy.begin(), copy.begin() + kept, payload),
                      "the marking trim's bytes differ from the payload's");
                check(piece % 2 != 0 || copy[length] == UNWRITTEN, "the marking trim wrote past the payload");
                packrift::count_pictures_marked(joint, packrift::view_of(payload, static_cast<std::size_t>(kept)), marks);
                check(same_count(apart, joint), "the count from the trim's marks differs from the count's own");
                at += length;
            }
        }
    }
    packrift::use_wide_trim(true);
}

// How an input is read: as a file, or as a title of one cell (no join may
// come, so its audio's edges are cut) or of cells of CELL_SECTORS sectors,
// each of which may start anew.
enum class Reading { file, one_cell, small_cells };
constexpr std::size_t READINGS = 3;
constexpr std::uint64_t CELL_SECTORS = 3;

Reading reading_of(std::size_t file_size) {
    return static_cast<Reading>(file_size / 2 % READINGS);
}

void start_reading(Reading reading, std::size_t file_size) {
    if (reading == Reading::file) {
        packrift::stop_timeline();
        packrift::read_whole_file(packrift::input_file);
        return;
    }
    std::vector<bool> audio(packrift::output_count, false);
    for (std::size_t i = 0; i < packrift::output_count; ++i) {
        const Kind kind = packrift::outputs[i].kind;
        audio[i] = kind != Kind::video && kind != Kind::subpicture;
    }
    const std::uint64_t sectors = file_size / SECTOR;
    std::vector<packrift::SectorRun> runs;
    std::vector<bool> may_join;
    const std::uint64_t cell = reading == Reading::one_cell ? std::max<std::uint64_t>(sectors, 1) : CELL_SECTORS;
    for (std::uint64_t first = 0; first < sectors; first += cell) {
        runs.push_back({first, std::min(first + cell, sectors) - 1, false});
        may_join.push_back(reading == Reading::small_cells);
    }
    if (reading == Reading::one_cell) {
        packrift::stop_timeline();
        packrift::start_audio_edges(audio);
    } else {
        packrift::start_timeline(may_join, audio);
    }
    packrift::read_runs({{&packrift::input_file, sectors, 0, {}, 0}}, runs);
}

// A title's audio begins with its first whole frame and ends with its
// last: what it writes is the plain reading's bytes less some at either
// end, no more than the edges may pass over (bytes before a first frame
// found, a last frame of at most 16 KB). LPCM is cut by its units.
void check_edges(const std::array<Bytes, packrift::OUTPUT_KINDS>& made, const Streams& expected) {
    constexpr std::size_t MOST_BEFORE_A_FRAME = 65536 + SECTOR;
    constexpr std::size_t LONGEST_FRAME = 16384;
    for (const auto& [kind, plain] : {std::pair{Kind::ac3_audio, &expected.audio},
                                      std::pair{Kind::mpeg_audio, &expected.mpa},
                                      std::pair{Kind::dts_audio, &expected.dts}}) {
        const Bytes& cut = made[packrift::index_of(kind)];
        const auto at = std::search(plain->begin(), plain->end(), cut.begin(), cut.end());
        check(at != plain->end() || cut.empty(), "a title's audio is not a run of the plain reading's bytes");
        const auto before = static_cast<std::size_t>(at - plain->begin());
        check(cut.empty() || before <= MOST_BEFORE_A_FRAME, "a title's audio passed over too much at its start");
        check(cut.empty() || plain->size() - before - cut.size() <= LONGEST_FRAME,
              "a title's audio passed over more than a frame at its end");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < OPTION_BYTES) {
        return 0;
    }
    packrift::io_hooks().allocate = &pooled_allocate;
    packrift::io_hooks().release = &pooled_release;
    const Options options = options_of(data);
    const unsigned char* file = data + OPTION_BYTES;
    const std::size_t file_size = size - OPTION_BYTES;

    // fmemopen wants a writable buffer even for reading.
    Bytes input(file, file + file_size);
    packrift::input_file = packrift::NamedFile{};
    packrift::input_file.name = "fuzz.vob";
    packrift::input_file.stream = fmemopen(input.data(), input.size(), "rb");
    check(packrift::input_file.stream != nullptr, "fmemopen failed");

    std::array<MemoryOutput, packrift::OUTPUT_KINDS> outputs{};
    outputs[packrift::index_of(Kind::lpcm_audio)].seekable = options.lpcm_seekable;
    const std::array<int, packrift::OUTPUT_KINDS> numbers = {0, options.audio_no, options.lpcm_no, options.mpa_no,
                                                             options.dts_no, options.sub_no};
    const std::array<bool, packrift::OUTPUT_KINDS> wanted = {options.video, options.audio, options.lpcm, options.mpa,
                                                             options.dts, options.sub};
    const char* const names[packrift::OUTPUT_KINDS] = {"fuzz.m2v", "fuzz.ac3", "fuzz.wav",
                                                       "fuzz.mp2", "fuzz.dts", "fuzz.sub"};
    packrift::clear_outputs();
    for (std::size_t k = 0; k < packrift::OUTPUT_KINDS; ++k) {
        if (wanted[k]) {
            open_output(static_cast<Kind>(k), numbers[k], names[k], outputs[k]);
        }
    }

    accepted_total = 0;
    packrift::reset_wav_output();
    packrift::reset_subpicture_output();
    packrift::PackLoopHooks hooks;
    hooks.payload_accepted = &add_accepted;
    const Reading reading = reading_of(file_size);
    start_reading(reading, file_size);
    packrift::demux_packs(hooks);
    std::array<Bytes, packrift::OUTPUT_KINDS> made;
    for (std::size_t k = 0; k < packrift::OUTPUT_KINDS; ++k) {
        made[k] = finish(outputs[k]);
    }
    check(!packrift::input_file.failed, "an I/O failure on the input");
    packrift::close_file(packrift::input_file);
    check(all_blocks_back(), "a read block or stage still held after the run");

    const Streams expected = rederive(file, file_size, options);
    check(made[packrift::index_of(Kind::video)] == expected.video, "the video output differs from the plain reading");
    check(made[packrift::index_of(Kind::subpicture)] == expected.sub, "the .sub differs from the plain reading");
    const packrift::Output* sub = outputs[packrift::index_of(Kind::subpicture)].opened;
    check_units(sub != nullptr ? packrift::finished_subpicture_units(*sub).units : std::vector<packrift::SubpictureUnit>{},
                expected.unit_positions);
    check_trim(file, file_size);
    check_joint_scan(file, file_size);
    if (reading == Reading::small_cells) {
        return 0;  // the audio was cut and filled at the joins
    }
    if (reading == Reading::one_cell) {
        check_edges(made, expected);
        return 0;
    }
    check(made[packrift::index_of(Kind::ac3_audio)] == expected.audio, "the AC-3 output differs from the plain reading");
    check(made[packrift::index_of(Kind::mpeg_audio)] == expected.mpa,
          "the MPEG audio output differs from the plain reading");
    check(made[packrift::index_of(Kind::dts_audio)] == expected.dts, "the DTS output differs from the plain reading");
    // A sound unit holds its header, a sequence's header and an end command.
    constexpr std::size_t SMALLEST_SOUND_UNIT = 9;
    const packrift::UnitControl whole = packrift::read_unit_control(file, file_size);
    check(whole.malformed || file_size >= SMALLEST_SOUND_UNIT, "a unit too short to hold a sequence read as sound");

    // The WAV: a header only once a packet of a valid format came, then what
    // the plain converter makes of the track.
    const Bytes& wav = made[packrift::index_of(Kind::lpcm_audio)];
    const LpcmTrack track = lpcm_track(expected.lpcm_packets);
    std::size_t wav_samples = 0;
    if (track.started) {
        const Bytes pcm = lpcm_pcm(track.format, track.samples);
        check_wav(wav, track.format, pcm, options.lpcm_seekable);
        wav_samples = pcm.size();
    } else {
        check(wav.empty(), "a WAV written without an LPCM packet of a valid format");
    }
    const packrift::Output* lpcm = outputs[packrift::index_of(Kind::lpcm_audio)].opened;
    check((lpcm != nullptr ? packrift::wav_packets_passed_over(*lpcm) : 0) == track.passed_over,
          "the packets passed over differ from the plain reading's");

    long long written = static_cast<long long>(wav_samples);
    for (const Kind kind : {Kind::video, Kind::ac3_audio, Kind::mpeg_audio, Kind::dts_audio, Kind::subpicture}) {
        written += static_cast<long long>(made[packrift::index_of(kind)].size());
    }
    check(accepted_total == written, "the accepted total differs from the bytes written");

    return 0;
}

#pragma once
// What every level shares: the sector, the start codes of the MPEG-2 program
// stream (ISO/IEC 13818-1), the stream kinds a DVD carries and the files of
// the run.

#include <array>
#include <cstddef>
#include <cstdint>

#include "io/file_io.hpp"

namespace packrift {

// A DVD-Video object file is cut into 2048-byte sectors, one pack each.
inline constexpr std::size_t SECTOR_SIZE = 2048;

inline constexpr std::uint32_t PACK_START_CODE = 0x000001BA;
inline constexpr std::uint32_t SYSTEM_HEADER_START_CODE = 0x000001BB;
inline constexpr std::uint32_t PADDING_STREAM_START_CODE = 0x000001BE;
inline constexpr std::uint32_t VIDEO_STREAM_0_START_CODE = 0x000001E0;
// Every start code is 00 00 01 and one byte more (ISO/IEC 13818-1, 2.5.3).
inline constexpr std::uint32_t START_CODE_PREFIX = 0x000001;
inline constexpr unsigned START_CODE_PREFIX_SHIFT = 8;

// Stream ids: the last byte of a packet's start code (ISO/IEC 13818-1, table 2-18).
inline constexpr int PRIVATE_STREAM_1_ID = 0xBD;
inline constexpr int FIRST_MPEG_AUDIO_ID = 0xC0;
inline constexpr int FIRST_MPEG_VIDEO_ID = 0xE0;

// The 90 kHz clock of PTS values, which are 33 bits wide and wrap
// (ISO/IEC 13818-1, 2.4.3.7).
inline constexpr std::uint64_t PTS_TICKS_PER_MILLISECOND = 90;
inline constexpr std::uint64_t PTS_MODULUS = std::uint64_t{1} << 33;

// "-audio N" selects substream 0x80 + N of private stream 1.
inline constexpr int AC3_SUBSTREAM_BASE = 0x80;

// The kinds that an output is written for, in the order in which their
// outputs are finished and their options are tested on each argument.
enum class StreamKind { video, ac3_audio, lpcm_audio, mpeg_audio, dts_audio, subpicture };
inline constexpr std::size_t OUTPUT_KINDS = 6;

inline constexpr std::size_t index_of(StreamKind kind) {
    return static_cast<std::size_t>(kind);
}

// How the number after a kind's option picks its stream.
enum class NumberRule {
    ignored,  // "-video": only MPEG video stream 0 is ever taken
    any,      // "-audio": substream 0x80 + N for any N that reaches one
    in_range  // the kind's own streams only, N from 0 to count - 1
};

// How an output holds what it takes of each packet.
enum class PayloadForm {
    as_is,      // the payload bytes as they are (after the substream header)
    wav,        // LPCM samples turned into a WAV file
    whole_pack  // every pack that carries a packet, whole: VobSub's .sub
};

// One kind of stream on a DVD: where its packets are, the option that writes
// it, the output's name and what goes into it. Everything that varies by kind
// is read from here: the pack loop's routing, the names, the stream report and
// the messages.
struct StreamKindRow {
    const char* name;       // as the report and the messages name it
    const char* option;     // the option that writes it, or null
    bool substream;         // a private stream 1 substream, else a PES stream id
    int first;              // its first stream id or substream number
    int count;              // how many ids in a row are of this kind
    NumberRule numbers;
    const char* suffix;     // the output's name after the input's stem; %d is N
    std::size_t skip;       // substream header bytes before the payload
    PayloadForm form;
    std::size_t stage;      // the bytes its output collects before a write
};

// A stage of about 2 MB makes every write nearly whole; a subpicture stream
// carries a few kilobytes a minute, and a title may have 32 of them.
inline constexpr std::size_t LARGE_STAGE = 2048000;
inline constexpr std::size_t SMALL_STAGE = 65536;

// Private stream 1 payloads begin with substream number, frame count and
// first access unit pointer.
inline constexpr std::size_t SUBSTREAM_HEADER_SIZE = 4;
// A subpicture packet's data follows its substream number at once.
inline constexpr std::size_t SUBPICTURE_HEADER_SIZE = 1;

// The output kinds first, in StreamKind order, then the kinds that are only
// reported. Substream ranges as DVD-Video assigns them.
inline constexpr std::array<StreamKindRow, 7> STREAM_KIND_TABLE = {{
    {"MPEG video", "-video", false, FIRST_MPEG_VIDEO_ID, 16, NumberRule::ignored, ".m2v", 0, PayloadForm::as_is, LARGE_STAGE},
    {"AC-3", "-audio", true, AC3_SUBSTREAM_BASE, 8, NumberRule::any, "-stream%d.ac3", SUBSTREAM_HEADER_SIZE,
     PayloadForm::as_is, LARGE_STAGE},
    {"LPCM", "-lpcm", true, 0xA0, 8, NumberRule::in_range, "-lpcm%d.wav", SUBSTREAM_HEADER_SIZE, PayloadForm::wav,
     LARGE_STAGE},
    {"MPEG audio", "-mpa", false, FIRST_MPEG_AUDIO_ID, 32, NumberRule::in_range, "-mpa%d.mp2", 0,
     PayloadForm::as_is, LARGE_STAGE},
    {"DTS", "-dts", true, 0x88, 8, NumberRule::in_range, "-dts%d.dts", SUBSTREAM_HEADER_SIZE, PayloadForm::as_is,
     LARGE_STAGE},
    {"subpicture", "-sub", true, 0x20, 32, NumberRule::in_range, "-sub%d.sub", SUBPICTURE_HEADER_SIZE,
     PayloadForm::whole_pack, SMALL_STAGE},
    {"other", nullptr, true, 0x00, 256, NumberRule::ignored, nullptr, 0, PayloadForm::as_is, 0},
}};

inline constexpr const StreamKindRow& row_of(StreamKind kind) {
    return STREAM_KIND_TABLE[index_of(kind)];
}

inline constexpr const StreamKindRow& SUBPICTURE_ROW = row_of(StreamKind::subpicture);

// The row of a substream number or of a PES stream id: the first row whose
// range holds it ("other" for any substream of no kind), or null.
inline const StreamKindRow* kind_of_id(bool substream, int id) {
    for (const StreamKindRow& row : STREAM_KIND_TABLE) {
        if (row.substream == substream && id >= row.first && id < row.first + row.count) {
            return &row;
        }
    }
    return nullptr;
}

// Whether row names a kind: not null, and not the substreams of no kind.
inline bool is_of_a_kind(const StreamKindRow* row) {
    return row != nullptr && row != &STREAM_KIND_TABLE.back();
}

// The stream id or substream number that "option N" selects for an output
// kind, or -1 when N reaches none. Any int is safe.
inline int selected_id(StreamKind kind, int number) {
    constexpr int LAST_ID = 0xFF;
    const StreamKindRow& row = row_of(kind);
    switch (row.numbers) {
    case NumberRule::ignored:
        return row.first;
    case NumberRule::any:
        return number >= -row.first && number <= LAST_ID - row.first ? row.first + number : -1;
    case NumberRule::in_range:
        break;
    }
    return number >= 0 && number < row.count ? row.first + number : -1;
}

// The unsigned big-endian value of the four bytes at offset.
inline std::uint32_t get_be32(const unsigned char* bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) << 24 |
           static_cast<std::uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[offset + 2]) << 8 |
           static_cast<std::uint32_t>(bytes[offset + 3]);
}

// One output of the run: a kind's option with its number, the stream id or
// substream number that selects (-1 for none) and its file, which has no
// stream until it is opened or once it has failed to open.
struct Output {
    StreamKind kind = StreamKind::video;
    int number = 0;
    int id = -1;
    std::size_t slot = 0;  // its place in the list, where every module keeps its state
    NamedFile file;
    bool holds_data = false;  // known once it is finished
};

// How many outputs a run can hold: as many as there are streams each
// kind's option can reach (an -audio number reaches any substream). Numbers
// that reach no stream take a place too; past the last, an output is
// refused with a line.
inline constexpr std::size_t reachable_ids(const StreamKindRow& row) {
    constexpr std::size_t IDS = 256;
    return row.numbers == NumberRule::ignored ? 1 : row.numbers == NumberRule::any ? IDS
                                                                                  : static_cast<std::size_t>(row.count);
}

inline constexpr std::size_t most_outputs() {
    std::size_t count = 0;
    for (std::size_t k = 0; k < OUTPUT_KINDS; ++k) {
        count += reachable_ids(STREAM_KIND_TABLE[k]);
    }
    return count;
}

inline constexpr std::size_t MOST_OUTPUTS = most_outputs();

// The files of the run: opened and closed by run control, read by the pack
// loop. The outputs in the order they were opened, output_count of them.
extern NamedFile input_file;
extern std::array<Output, MOST_OUTPUTS> outputs;
extern std::size_t output_count;

// Adds an output of kind and number to the list, its file not yet open.
// Null when the list is full.
Output* add_output(StreamKind kind, int number);

// Forgets every output of an earlier run.
void clear_outputs();

}  // namespace packrift

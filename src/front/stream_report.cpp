#include "front/stream_report.hpp"

#include <array>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>
#include <algorithm>

#include "demux/demux_common.hpp"
#include "output/lpcm_wav.hpp"
#include "output/subpicture_units.hpp"
#include "output/staging_writer.hpp"

namespace packrift {

namespace {

// Stream ids of the first packet (ISO/IEC 13818-1, table 2-18): MPEG audio
// 0xC0 to 0xDF and MPEG video 0xE0 to 0xEF follow each other.
constexpr int LAST_MPEG_VIDEO_ID = 0xEF;
constexpr std::size_t MPEG_STREAMS = LAST_MPEG_VIDEO_ID - FIRST_MPEG_AUDIO_ID + 1;
constexpr std::size_t SUBSTREAMS = 256;
constexpr std::size_t STREAM_KEYS = MPEG_STREAMS + SUBSTREAMS;
constexpr std::size_t VIDEO_STREAM_0_KEY = FIRST_MPEG_VIDEO_ID - FIRST_MPEG_AUDIO_ID;

// Rounding to the nearest millisecond, and the shorter way round the clock.
constexpr std::uint64_t HALF_A_MILLISECOND = PTS_TICKS_PER_MILLISECOND / 2;
constexpr std::uint64_t MILLISECONDS_PER_SECOND = 1000;
constexpr std::uint64_t HALF_PTS_MODULUS = PTS_MODULUS / 2;

struct StreamTally {
    std::uint64_t packs = 0;
    std::uint64_t bytes = 0;
    std::uint64_t first_pts = 0;
    bool has_pts = false;
    std::uint64_t scrambled = 0;
    // A stream first met after a title's join: its first PTS on the title's clock.
    std::optional<std::int64_t> title_ticks;
    std::optional<std::uint64_t> held_bytes;  // what its output holds, cut and filled
};

struct Tally {
    std::array<StreamTally, STREAM_KEYS> streams{};
    std::array<std::size_t, STREAM_KEYS> order{};  // keys in the order of their first packs
    std::size_t listed = 0;
};

Tally tally;
std::array<std::string, STREAM_KEYS> languages;
std::string joins_text;  // after the stream lines

// What -lpcm writes of an LPCM substream: the samples of the packets in the
// format of its first, as WAV samples.
struct LpcmTally {
    LpcmStreamFormat stream;
    std::uint64_t sample_bytes = 0;
};

constexpr int FIRST_LPCM_SUBSTREAM = STREAM_KIND_TABLE[index_of(StreamKind::lpcm_audio)].first;
constexpr int LPCM_SUBSTREAMS = STREAM_KIND_TABLE[index_of(StreamKind::lpcm_audio)].count;
std::array<LpcmTally, LPCM_SUBSTREAMS> lpcm_tallies;

bool is_lpcm(std::size_t key) {
    const auto first = MPEG_STREAMS + FIRST_LPCM_SUBSTREAM;
    return key >= first && key < first + LPCM_SUBSTREAMS;
}

// An LPCM packet's payload after its substream header: the LPCM header, then samples.
void tally_lpcm(std::size_t key, const unsigned char* sector, std::size_t start) {
    const PayloadSpan span = payload_span(sector, start);
    const auto length = static_cast<std::size_t>(span.length);
    LpcmTally& lpcm = lpcm_tallies[key - MPEG_STREAMS - FIRST_LPCM_SUBSTREAM];
    if (in_stream_format(lpcm.stream, sector + span.offset, length)) {
        lpcm.sample_bytes += length - LPCM_HEADER_SIZE;
    }
}

std::uint64_t lpcm_bytes(std::size_t key) {
    const LpcmTally& lpcm = lpcm_tallies[key - MPEG_STREAMS - FIRST_LPCM_SUBSTREAM];
    return lpcm.stream.known ? lpcm_converted_size(lpcm.stream.format, lpcm.sample_bytes) : 0;
}

// The units of each subpicture substream, counted as -sub writes them.
constexpr int FIRST_SUBPICTURE_SUBSTREAM = SUBPICTURE_ROW.first;
constexpr int SUBPICTURE_SUBSTREAMS = SUBPICTURE_ROW.count;
std::array<SubpictureUnits, SUBPICTURE_SUBSTREAMS> subpicture_tallies;

bool is_subpicture(std::size_t key) {
    const auto first = MPEG_STREAMS + FIRST_SUBPICTURE_SUBSTREAM;
    return key >= first && key < first + SUBPICTURE_SUBSTREAMS;
}

SubpictureUnits& subpicture_units_of(std::size_t key) {
    return subpicture_tallies[key - MPEG_STREAMS - FIRST_SUBPICTURE_SUBSTREAM];
}

void tally_subpicture(std::size_t key, const unsigned char* sector, std::size_t start) {
    const PayloadSpan span = payload_span(sector, start + SUBPICTURE_HEADER_SIZE);
    const std::optional<std::uint64_t> pts = packet_pts(sector);
    take_subpicture_packet(subpicture_units_of(key), sector + span.offset, static_cast<std::size_t>(span.length),
                           pts.has_value(), pts.value_or(0), 0);
}

constexpr std::size_t NO_KEY = STREAM_KEYS;

// Where a stream is tallied: MPEG audio and video by their stream id, then
// private stream 1's substreams by their number; NO_KEY for any other.
std::size_t key_of(bool substream, int id) {
    constexpr int LAST_SUBSTREAM = SUBSTREAMS - 1;
    if (substream) {
        return id >= 0 && id <= LAST_SUBSTREAM ? MPEG_STREAMS + static_cast<std::size_t>(id) : NO_KEY;
    }
    return id >= FIRST_MPEG_AUDIO_ID && id <= LAST_MPEG_VIDEO_ID ? static_cast<std::size_t>(id - FIRST_MPEG_AUDIO_ID)
                                                                   : NO_KEY;
}

bool is_substream(std::size_t key) {
    return key >= MPEG_STREAMS;
}

bool is_mpeg_video(std::size_t key) {
    return key >= VIDEO_STREAM_0_KEY && key < MPEG_STREAMS;
}

StreamTally& tally_of(std::size_t key) {
    StreamTally& stream = tally.streams[key];
    if (stream.packs == 0) {
        tally.order[tally.listed++] = key;
    }
    return stream;
}

void read_pts(const unsigned char* sector, StreamTally& stream) {
    if (const std::optional<std::uint64_t> pts = packet_pts(sector)) {
        stream.first_pts = *pts;
        stream.has_pts = true;
        stream.title_ticks = title_ticks_after_a_join(*pts);
    }
}

// The bytes a split writes of a pack it did not stage: by the same payload
// bounds, and for video cut before a padding start code.
int payload_bytes(const unsigned char* sector, std::size_t start, bool video) {
    const PayloadSpan span = payload_span(sector, start);
    return video ? trim_before_padding(sector + span.offset, span.length) : span.length;
}

void on_pack_examined(const unsigned char* sector, int staged) {
    if (!has_packet_start(sector)) {
        return;
    }
    const int id = sector[STREAM_ID_OFFSET];
    std::size_t start = payload_start(sector);
    const bool substream = id == PRIVATE_STREAM_1_ID;
    const std::size_t key = key_of(substream, substream ? sector[start] : id);
    if (key == NO_KEY) {
        return;  // system headers, padding, navigation and the rest are not listed
    }
    StreamTally& stream = tally_of(key);
    ++stream.packs;
    stream.scrambled += is_scrambled(sector) ? 1 : 0;
    if (is_subpicture(key)) {
        tally_subpicture(key, sector, start);
        stream.bytes += SECTOR_SIZE;  // -sub writes the packs whole
    } else if (is_lpcm(key)) {
        tally_lpcm(key, sector, start + SUBSTREAM_HEADER_SIZE);  // counted at the end, in WAV samples
    } else {
        start += substream ? SUBSTREAM_HEADER_SIZE : 0;
        stream.bytes += static_cast<std::uint64_t>(
            staged != NOTHING_STAGED ? staged : payload_bytes(sector, start, is_mpeg_video(key)));
    }
    if (!stream.has_pts) {
        read_pts(sector, stream);
    }
}

// One piece of a report line: no piece comes near this size.
constexpr std::size_t PIECE_SIZE = 64;

std::string formatted(const char* format, auto... values) {
    char text[PIECE_SIZE];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// Milliseconds, rounded to the nearest, as seconds with three decimals.
std::string pts_seconds(std::uint64_t pts) {
    const std::uint64_t milliseconds = (pts + HALF_A_MILLISECOND) / PTS_TICKS_PER_MILLISECOND;
    return formatted("%" PRIu64 ".%03" PRIu64, milliseconds / MILLISECONDS_PER_SECOND,
                     milliseconds % MILLISECONDS_PER_SECOND);
}

// Ticks in milliseconds, rounded to the nearest with halves away from zero.
long long ticks_milliseconds(std::int64_t ticks) {
    const std::uint64_t distance = static_cast<std::uint64_t>(ticks < 0 ? -ticks : ticks);
    const auto milliseconds = static_cast<long long>((distance + HALF_A_MILLISECOND) / PTS_TICKS_PER_MILLISECOND);
    return ticks < 0 ? -milliseconds : milliseconds;
}

// The audio's first PTS less the video's, the shorter way round the 33-bit
// clock, in milliseconds.
long long delay_milliseconds(std::uint64_t audio, std::uint64_t video) {
    const std::uint64_t ahead = (audio - video) % PTS_MODULUS;
    const bool behind = ahead > HALF_PTS_MODULUS;
    const auto distance = static_cast<std::int64_t>(behind ? PTS_MODULUS - ahead : ahead);
    return ticks_milliseconds(behind ? -distance : distance);
}

// "0xE0 MPEG video" or "0xBD 0x80 AC-3 (-audio 0)"; true when it is timed
// against the video: audio and subpictures.
bool describe(std::size_t key, std::string& line) {
    const bool substream = is_substream(key);
    const int id = static_cast<int>(substream ? key - MPEG_STREAMS : FIRST_MPEG_AUDIO_ID + key);
    if (substream) {
        line += formatted("0x%02X ", static_cast<unsigned>(PRIVATE_STREAM_1_ID));
    }
    const StreamKindRow* row = kind_of_id(substream, id);
    line += formatted("0x%02X %s", static_cast<unsigned>(id), row->name);
    if (!languages[key].empty()) {
        line += " " + languages[key];
    }
    const bool timed = row->option != nullptr && !is_mpeg_video(key);
    if (timed) {
        line += formatted(" (%s %d)", row->option, id - row->first);
    }
    return timed;
}

// ", 40 subpictures (3 forced)", and how many were malformed.
std::string units_piece(SubpictureUnits& units) {
    end_subpicture_units(units);
    const UnitCounts counts = count_units(units);
    std::string piece = formatted(", %zu %s (%zu forced", counts.units, counts.units == 1 ? "subpicture" : "subpictures",
                                  counts.forced);
    if (counts.malformed > 0) {
        piece += formatted(", %zu malformed", counts.malformed);
    }
    return piece + ")";
}

// A stream's delay against the video: on the title's clock for one first
// met after a join, else its first PTS less the video's.
std::optional<long long> delay_of(const StreamTally& stream, const StreamTally& video) {
    if (stream.title_ticks) {
        return ticks_milliseconds(*stream.title_ticks);
    }
    if (stream.has_pts && video.has_pts) {
        return delay_milliseconds(stream.first_pts, video.first_pts);
    }
    return std::nullopt;
}

std::string stream_line(std::size_t key) {
    const StreamTally& stream = tally.streams[key];
    const StreamTally& video = tally.streams[VIDEO_STREAM_0_KEY];
    std::string line = "stream ";
    const bool timed = describe(key, line);
    line += formatted(": %" PRIu64 " %s, %" PRIu64 " bytes", stream.packs, stream.packs == 1 ? "pack" : "packs",
                      stream.held_bytes ? *stream.held_bytes : is_lpcm(key) ? lpcm_bytes(key) : stream.bytes);
    if (is_subpicture(key)) {
        line += units_piece(subpicture_units_of(key));
    }
    if (stream.has_pts) {
        line += ", first PTS " + pts_seconds(stream.first_pts) + " s";
    }
    if (const std::optional<long long> delay = delay_of(stream, video); timed && delay) {
        line += formatted(", delay %+lld ms", *delay);
    }
    if (stream.scrambled > 0) {
        line += formatted(", %" PRIu64 " scrambled", stream.scrambled);
    }
    return line + "\n";
}

// "2.500" seconds of an exact time, rounded to the millisecond.
std::string time_seconds(const Ticks& time) {
    const std::int64_t ticks = std::max<std::int64_t>(ticks_floor(time), 0);
    return pts_seconds(static_cast<std::uint64_t>(ticks));
}

std::string part_note_line(int title, const PartNote& note) {
    if (note.event == PartEvent::held_pictures) {
        return formatted("title %d: part %zu's video PTS run ", title, note.part + 1) + time_seconds(note.drift) +
               " s past its pictures, which a raw video cannot hold; the outputs drift by that much from there\n";
    }
    return formatted("title %d: the video of part %zu could not be counted", title, note.part + 1) +
           (note.scrambled ? " (scrambled packs)" : " (no pictures)") +
           ", so the rest of the title is left as its timestamps come\n";
}

std::string count_piece(std::uint64_t count, const char* one, const char* more) {
    return formatted("%" PRIu64 " ", count) + (count == 1 ? one : more);
}

}  // namespace

std::string held_output_line(bool substream, int id, const HoldReport& hold) {
    std::vector<std::string> pieces;
    if (hold.passed_over > 0) {
        pieces.push_back(count_piece(hold.passed_over, "frame passed over", "frames passed over"));
    }
    if (hold.edges.start) {
        pieces.push_back("1 part frame passed over at the start");
    }
    if (hold.edges.end) {
        pieces.push_back("1 part frame passed over at the end");
    }
    if (hold.filled > 0) {
        pieces.push_back(formatted("%" PRIu64 " filled (%lld ms)", hold.filled,
                                   ticks_milliseconds(ticks_floor(hold.filled_time))));
    }
    if (hold.joins_missing > 0) {
        pieces.push_back(formatted("%lld ms missing at %d %s, not filled", ticks_milliseconds(ticks_floor(hold.missing)),
                                   hold.joins_missing, hold.joins_missing == 1 ? "join" : "joins"));
    }
    const std::size_t key = key_of(substream, id);
    if (pieces.empty() || key == NO_KEY) {
        return {};
    }
    std::string line = "stream ";
    describe(key, line);
    line += ": " + pieces.front();
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        line += ", " + pieces[i];
    }
    return line + "\n";
}

std::optional<long long> reported_delay(bool substream, int id) {
    const std::size_t key = key_of(substream, id);
    if (key == NO_KEY || tally.streams[key].packs == 0) {
        return std::nullopt;
    }
    return delay_of(tally.streams[key], tally.streams[VIDEO_STREAM_0_KEY]);
}

std::size_t first_met(bool substream, int id) {
    const std::size_t key = key_of(substream, id);
    for (std::size_t i = 0; i < tally.listed; ++i) {
        if (tally.order[i] == key) {
            return i;
        }
    }
    return tally.listed;
}

void report_title_joins(int title, const TimelineSummary& summary) {
    joins_text.clear();
    if (summary.joins > 0) {
        joins_text = formatted("title %d: timestamps restart at %zu %s\n", title, summary.joins,
                               summary.joins == 1 ? "join" : "joins");
    }
    for (const PartNote& note : summary.notes) {
        joins_text += part_note_line(title, note);
    }
}

void report_held_output(bool substream, int id, const HoldReport& hold) {
    const std::size_t key = key_of(substream, id);
    if (key == NO_KEY) {
        return;
    }
    const std::string line = held_output_line(substream, id, hold);
    if (!line.empty()) {
        tally.streams[key].held_bytes = hold.bytes;
        joins_text += line;
    }
}

PackLoopHooks with_stream_report(PackLoopHooks hooks) {
    tally = Tally{};
    joins_text.clear();
    lpcm_tallies = {};
    subpicture_tallies = {};
    for (SubpictureUnits& units : subpicture_tallies) {
        units.keep_all = false;  // the report counts them only
    }
    hooks.pack_examined = &on_pack_examined;
    return hooks;
}

void name_stream_languages(const std::vector<StreamLanguage>& named) {
    languages = {};
    for (const StreamLanguage& stream : named) {
        const std::size_t key = key_of(stream.substream, stream.id);
        if (key != NO_KEY) {
            languages[key] = stream.language;
        }
    }
}

std::string stream_report() {
    if (tally.listed == 0) {
        return "no streams found\n";
    }
    std::string report;
    for (std::size_t i = 0; i < tally.listed; ++i) {
        report += stream_line(tally.order[i]);
    }
    return report + joins_text;
}

}  // namespace packrift

#pragma once
// The report of what the input holds: each stream's packs, the bytes a
// split would write for it and its first PTS, and each audio stream's delay
// against the video, which raw elementary streams no longer carry.

#include <optional>
#include <string>
#include <vector>

#include "demux/pack_loop.hpp"
#include "demux/title_timeline.hpp"
#include "output/audio_hold.hpp"

namespace packrift {

// hooks with the stream report's own added: it takes the pack_examined
// point and tallies every pack's sector there. Starts a new tally.
PackLoopHooks with_stream_report(PackLoopHooks hooks);

// A line per stream, in the order of each stream's first pack, or
// "no streams found".
std::string stream_report();

// The language of a stream, as a title's IFO files give it ("--" for none):
// the report names it after the stream's kind.
struct StreamLanguage {
    bool substream = false;  // a private stream 1 substream, else a PES stream id
    int id = 0;
    std::string language;
};

// The languages the report names, from now on; a new tally forgets none.
void name_stream_languages(const std::vector<StreamLanguage>& languages);

// What the joins of title did, told after the stream lines: how many there
// were, what a part did to the clock, and per audio output that was cut or
// filled (substream or stream id) what, its stream line then giving the
// bytes the output holds.
void report_title_joins(int title, const TimelineSummary& summary);
void report_held_output(bool substream, int id, const HoldReport& hold);

// What the tally says of a stream: its delay as its line gives it (none
// for a stream without one), and where it was first met (the order of the
// lines; the number of streams met for one never met).
std::optional<long long> reported_delay(bool substream, int id);
std::size_t first_met(bool substream, int id);

// "stream 0xBD 0x88 DTS (-dts 0): 12 ms missing at 1 join, not filled",
// or empty when the output was not changed.
std::string held_output_line(bool substream, int id, const HoldReport& hold);

}  // namespace packrift

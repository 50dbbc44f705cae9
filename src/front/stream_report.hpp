#pragma once
// The report of what the input holds: each stream's packs, the bytes a
// split would write for it and its first PTS, and each audio stream's delay
// against the video, which raw elementary streams no longer carry.

#include <string>
#include <vector>

#include "demux/pack_loop.hpp"

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

}  // namespace packrift

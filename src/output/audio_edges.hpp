#pragma once
// The edges of a title's audio. A title starts and ends where its cells
// do, and a cell's first audio packet may carry the tail of a frame whose
// head lies in the cell before it on the disc; the last packet may end
// inside a frame. So each audio output of a title begins with the first
// whole frame (access unit) its first packet points to and ends with its
// last whole frame: what lies outside is passed over. Between the two
// every byte is written as it came. LPCM's WAV conversion writes whole
// sample groups only, so an LPCM output is cut at its start alone.
//
// This serves the titles read without a hold; a held output's queue cuts
// its own edges (audio_hold.hpp).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "demux/demux_common.hpp"

namespace packrift {

// What an output's edges lost: the part frame before its first whole one,
// a last frame cut short by the title's end.
struct EdgeCuts {
    bool start = false;
    bool end = false;
};

// Forgets the edges of an earlier run; the outputs whose slot is set in
// edged have theirs cut from now on.
void start_audio_edges(const std::vector<bool>& edged);

bool audio_edged(const Output& output);

// Takes output's packet, its substream header (MPEG audio: its payload)
// at start in sector, its payload length bytes at payload_offset. Returns
// what stage_payload would have: the bytes taken.
int edge_audio_packet(Output& output, const unsigned char* sector, std::size_t start, std::size_t payload_offset,
                      int length);

// The title's end: the whole frames still waiting are written, a last
// one cut short passed over. The edges are cut no more until started again.
void end_audio_edges();

// What output's edges lost, and the bytes its file holds of the stream,
// from the last reading that cut them.
struct EdgeReport {
    EdgeCuts cuts;
    std::uint64_t bytes = 0;
};

const EdgeReport& edge_report(const Output& output);

}  // namespace packrift

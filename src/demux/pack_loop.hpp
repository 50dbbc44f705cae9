#pragma once
// Recognises each pack of the input, looks at its first packet and routes the
// payload of video stream 0 and of the chosen AC-3 substream to the stager.

#include <cstddef>

namespace packrift {

// Where a watcher of the run (the progress report) hooks into the loop.
// Any of them may be null.
struct PackLoopHooks {
    void (*run_begins)() = nullptr;
    void (*pack_found)() = nullptr;  // a pack, before its packet is examined
    void (*payload_accepted)(int length) = nullptr;
    void (*pack_handled)() = nullptr;
};

// A payload as an offset into its sector and a length.
struct PayloadSpan {
    std::size_t offset = 0;
    int length = 0;
};

// The payload that starts at offset start of the packet at the pack header's
// end: it ends with its own PES packet when that end lies inside the sector
// and not before start, otherwise at the end of the sector.
PayloadSpan payload_span(const unsigned char* sector, std::size_t start);

// Whether a pack of each requested stream was routed to its output, even
// one whose payload the padding trim cut to nothing.
struct StreamsFound {
    bool video = false;
    bool audio = false;
};

// Runs the whole input file through the loop; returns at the end of the input.
StreamsFound demux_packs(int audio_no, const PackLoopHooks& hooks = {});

}  // namespace packrift

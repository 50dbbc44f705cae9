#pragma once
// Runs the pack loop in process over an input built in memory and returns
// what each output received.

#include <filesystem>
#include <string>

#include "demux/pack_loop.hpp"
#include "support/pack_builder.hpp"

namespace packtest {

struct DemuxResult {
    Bytes video;
    Bytes audio;
    Bytes lpcm;
    Bytes mpa;
    Bytes dts;
    int packs_found = 0;  // progress points seen
    long long accepted = 0;  // sum of the accepted lengths
    bool input_failed = false;
    bool video_failed = false;
    bool audio_failed = false;
};

inline constexpr int NOT_WANTED = -1000;

struct DemuxRequest {
    bool video = true;
    bool audio = true;
    int audio_no = 0;
    // Hooks to run the loop with instead of the counting ones (packs_found
    // and accepted then stay 0).
    const packrift::PackLoopHooks* hooks = nullptr;
    // The numbers of the other kinds' options, NOT_WANTED for no output.
    int lpcm_no = NOT_WANTED;
    int mpa_no = NOT_WANTED;
    int dts_no = NOT_WANTED;
};

// Writes input to a scratch file, opens the requested outputs beside it, runs
// demux_packs, flushes and closes everything and reads the outputs back.
DemuxResult run_demux(const Bytes& input, const DemuxRequest& request = {});

}  // namespace packtest

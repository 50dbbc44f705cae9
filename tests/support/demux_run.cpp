#include "support/demux_run.hpp"

#include <array>

#include "demux/demux_common.hpp"
#include "demux/sector_source.hpp"
#include "output/staging_writer.hpp"
#include "output/wav_output.hpp"
#include "support/run_binary.hpp"

namespace packtest {

namespace {

using packrift::StreamKind;

int packs_found = 0;
long long accepted = 0;

void count_pack() {
    ++packs_found;
}

void add_accepted(int length) {
    accepted += length;
}

// The output of kind, or null when none was opened.
packrift::Output* output_of(StreamKind kind) {
    for (std::size_t i = 0; i < packrift::output_count; ++i) {
        if (packrift::outputs[i].kind == kind) {
            return &packrift::outputs[i];
        }
    }
    return nullptr;
}

Bytes finish(StreamKind kind, const std::filesystem::path& path) {
    packrift::Output* output = output_of(kind);
    if (output == nullptr || output->file.stream == nullptr) {
        return {};
    }
    packrift::flush_stream(*output);
    packrift::close_file(output->file);
    return read_file(path.string());
}

}  // namespace

DemuxResult run_demux(const Bytes& input, const DemuxRequest& request) {
    const auto dir = scratch_dir("demux");
    const auto input_path = dir / "in.vob";
    write_file(input_path.string(), input);
    packrift::input_file = {};
    packrift::open_for_reading(packrift::input_file, input_path.string());
    packrift::reset_wav_output();
    const std::array<bool, packrift::OUTPUT_KINDS> wanted = {
        request.video, request.audio, request.lpcm_no != NOT_WANTED, request.mpa_no != NOT_WANTED,
        request.dts_no != NOT_WANTED};
    const std::array<int, packrift::OUTPUT_KINDS> numbers = {0, request.audio_no, request.lpcm_no, request.mpa_no,
                                                             request.dts_no};
    std::array<std::filesystem::path, packrift::OUTPUT_KINDS> paths;
    packrift::clear_outputs();
    for (std::size_t k = 0; k < packrift::OUTPUT_KINDS; ++k) {
        paths[k] = dir / ("out" + std::to_string(k));
        if (wanted[k]) {
            packrift::Output* output = packrift::add_output(static_cast<StreamKind>(k), numbers[k]);
            packrift::open_for_writing(output->file, paths[k].string());
        }
    }
    packs_found = 0;
    accepted = 0;
    packrift::PackLoopHooks hooks;
    hooks.pack_found = &count_pack;
    hooks.payload_accepted = &add_accepted;
    packrift::read_whole_file(packrift::input_file);
    packrift::demux_packs(request.hooks != nullptr ? *request.hooks : hooks);

    DemuxResult result;
    result.packs_found = packs_found;
    result.accepted = accepted;
    result.video = finish(StreamKind::video, paths[0]);
    result.audio = finish(StreamKind::ac3_audio, paths[1]);
    result.lpcm = finish(StreamKind::lpcm_audio, paths[2]);
    result.mpa = finish(StreamKind::mpeg_audio, paths[3]);
    result.dts = finish(StreamKind::dts_audio, paths[4]);
    packrift::close_file(packrift::input_file);
    result.input_failed = packrift::input_file.failed;
    result.video_failed = output_of(StreamKind::video) != nullptr && output_of(StreamKind::video)->file.failed;
    result.audio_failed = output_of(StreamKind::ac3_audio) != nullptr && output_of(StreamKind::ac3_audio)->file.failed;
    std::filesystem::remove_all(dir);
    return result;
}

}  // namespace packtest

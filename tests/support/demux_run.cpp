#include "support/demux_run.hpp"

#include "demux/demux_common.hpp"
#include "output/staging_writer.hpp"
#include "support/run_binary.hpp"

namespace packtest {

namespace {

int packs_found = 0;
long long accepted = 0;

void count_pack() {
    ++packs_found;
}

void add_accepted(int length) {
    accepted += length;
}

Bytes finish(packrift::StreamKind kind, packrift::NamedFile& output, const std::filesystem::path& path) {
    if (output.stream == nullptr) {
        return {};
    }
    packrift::flush_stream(kind, output);
    packrift::close_file(output);
    return read_file(path.string());
}

}  // namespace

DemuxResult run_demux(const Bytes& input, const DemuxRequest& request) {
    const auto dir = scratch_dir("demux");
    const auto input_path = dir / "in.vob";
    const auto video_path = dir / "in.m2v";
    const auto audio_path = dir / "in.ac3";
    write_file(input_path.string(), input);
    packrift::input_file = {};
    packrift::video_output = {};
    packrift::audio_output = {};
    packrift::open_for_reading(packrift::input_file, input_path.string());
    if (request.video) {
        packrift::open_for_writing(packrift::video_output, video_path.string());
    }
    if (request.audio) {
        packrift::open_for_writing(packrift::audio_output, audio_path.string());
    }
    packs_found = 0;
    accepted = 0;
    packrift::PackLoopHooks hooks;
    hooks.pack_found = &count_pack;
    hooks.payload_accepted = &add_accepted;
    packrift::demux_packs(request.audio_no, request.hooks != nullptr ? *request.hooks : hooks);

    DemuxResult result;
    result.packs_found = packs_found;
    result.accepted = accepted;
    result.video = finish(packrift::StreamKind::video, packrift::video_output, video_path);
    result.audio = finish(packrift::StreamKind::ac3_audio, packrift::audio_output, audio_path);
    packrift::close_file(packrift::input_file);
    result.input_failed = packrift::input_file.failed;
    result.video_failed = packrift::video_output.failed;
    result.audio_failed = packrift::audio_output.failed;
    std::filesystem::remove_all(dir);
    return result;
}

}  // namespace packtest

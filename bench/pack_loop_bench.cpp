// Throughput of the hot path without a file system: the pack loop and the
// staging writer over DVD packs held in memory. The read hook serves the
// bundled sample (a real DVD mux) from memory, repeated to some tens of MB;
// the write hook discards. Bytes per second count the input.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

#include "demux/demux_common.hpp"
#include "demux/pack_loop.hpp"
#include "demux/sector_source.hpp"
#include "io/file_io.hpp"
#include "output/staging_writer.hpp"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr int SAMPLE_COPIES = 16;  // 16 x 1.7 MB: many batches and stage flushes
constexpr int AUDIO_NO = 0;
constexpr std::size_t PES_HEADER_LENGTH_OFFSET = 22;
constexpr std::size_t PES_HEADER_DATA_OFFSET = 23;
constexpr std::size_t PACKET_START_OFFSET = 14;

Bytes load_input() {
    std::ifstream file(PACKRIFT_SAMPLE_VOB, std::ios::binary);
    const Bytes sample((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (sample.empty() || sample.size() % packrift::SECTOR_SIZE != 0) {
        throw std::runtime_error("cannot read " PACKRIFT_SAMPLE_VOB);
    }
    Bytes input;
    for (int i = 0; i < SAMPLE_COPIES; ++i) {
        input.insert(input.end(), sample.begin(), sample.end());
    }
    return input;
}

const Bytes& input_bytes() {
    static const Bytes input = load_input();
    return input;
}

std::size_t read_position = 0;

// Serves the input from memory. A short count must look like the end of the
// input, so the hook first reads the (empty) stream to set its end-of-file flag.
std::size_t read_from_memory(void* data, std::size_t size, std::size_t count, const packrift::NamedFile& file) {
    const Bytes& input = input_bytes();
    const std::size_t items = std::min(count, (input.size() - read_position) / size);
    std::memcpy(data, input.data() + read_position, items * size);
    read_position += items * size;
    if (items < count) {
        std::fgetc(file.stream);
    }
    return items;
}

std::size_t discard(const void* data, std::size_t, std::size_t count, std::FILE*) {
    benchmark::DoNotOptimize(data);
    return count;
}

// Opens empty scratch files for the input and both outputs; nothing is ever
// written to them through the hooks.
packrift::Output& video_output() {
    return packrift::outputs[0];
}

packrift::Output& audio_output() {
    return packrift::outputs[1];
}

void open_scratch_files() {
    packrift::input_file = {std::tmpfile(), "in.vob", false};
    packrift::clear_outputs();
    packrift::add_output(packrift::StreamKind::video, 0)->file = {std::tmpfile(), "in.m2v", false};
    packrift::add_output(packrift::StreamKind::ac3_audio, AUDIO_NO)->file = {std::tmpfile(), "in-stream0.ac3", false};
    if (packrift::input_file.stream == nullptr || video_output().file.stream == nullptr ||
        audio_output().file.stream == nullptr) {
        throw std::runtime_error("no temporary file");
    }
    packrift::io_hooks().read = &read_from_memory;
    packrift::io_hooks().write = &discard;
}

void close_scratch_files() {
    packrift::restore_io_hooks();
    packrift::close_file(packrift::input_file);
    packrift::close_file(video_output().file);
    packrift::close_file(audio_output().file);
}

// A whole run as packrift does it: batched reads, the pack loop, staging of
// video stream 0 and AC-3 substream 0x80, the final flushes.
void BM_PackLoop(benchmark::State& state) {
    open_scratch_files();
    for (auto _ : state) {
        read_position = 0;
        packrift::read_whole_file(packrift::input_file);
        packrift::demux_packs();
        packrift::flush_stream(video_output());
        packrift::flush_stream(audio_output());
    }
    const bool failed = packrift::input_file.failed || video_output().file.failed;
    close_scratch_files();
    if (failed) {
        state.SkipWithError("an I/O failure was reported");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(input_bytes().size()));
}
BENCHMARK(BM_PackLoop)->Unit(benchmark::kMillisecond);

// The staging writer alone: every video payload of the input, trim and copy.
void BM_StageVideoPayloads(benchmark::State& state) {
    const Bytes& input = input_bytes();
    std::vector<packrift::PayloadSpan> spans;
    std::vector<std::size_t> sectors;
    std::int64_t payload_bytes = 0;
    for (std::size_t at = 0; at < input.size(); at += packrift::SECTOR_SIZE) {
        const unsigned char* sector = input.data() + at;
        if (packrift::get_be32(sector, 0) == packrift::PACK_START_CODE &&
            packrift::get_be32(sector, PACKET_START_OFFSET) == packrift::VIDEO_STREAM_0_START_CODE) {
            spans.push_back(packrift::payload_span(sector, PES_HEADER_DATA_OFFSET + sector[PES_HEADER_LENGTH_OFFSET]));
            sectors.push_back(at);
            payload_bytes += spans.back().length;
        }
    }
    open_scratch_files();
    for (auto _ : state) {
        for (std::size_t i = 0; i < spans.size(); ++i) {
            benchmark::DoNotOptimize(packrift::stage_payload(video_output(), input.data() + sectors[i] + spans[i].offset,
                                                             spans[i].length));
        }
        packrift::flush_stream(video_output());
    }
    close_scratch_files();
    state.SetBytesProcessed(state.iterations() * payload_bytes);
}
BENCHMARK(BM_StageVideoPayloads)->Unit(benchmark::kMillisecond);

// The video trim alone, over every video payload of the input: 16 bytes a
// step (argument 0), and in AVX2's registers (1) where the processor has them.
void BM_TrimVideoPayloads(benchmark::State& state) {
    const bool wide = state.range(0) != 0;
    if (wide && !packrift::wide_trim_available()) {
        state.SkipWithError("no AVX2 here");
        return;
    }
    packrift::use_wide_trim(wide);
    const Bytes& input = input_bytes();
    std::vector<const unsigned char*> payloads;
    std::vector<int> lengths;
    std::int64_t payload_bytes = 0;
    for (std::size_t at = 0; at < input.size(); at += packrift::SECTOR_SIZE) {
        const unsigned char* sector = input.data() + at;
        if (packrift::get_be32(sector, 0) == packrift::PACK_START_CODE &&
            packrift::get_be32(sector, PACKET_START_OFFSET) == packrift::VIDEO_STREAM_0_START_CODE) {
            const packrift::PayloadSpan span =
                packrift::payload_span(sector, PES_HEADER_DATA_OFFSET + sector[PES_HEADER_LENGTH_OFFSET]);
            payloads.push_back(sector + span.offset);
            lengths.push_back(span.length);
            payload_bytes += span.length;
        }
    }
    for (auto _ : state) {
        for (std::size_t i = 0; i < payloads.size(); ++i) {
            benchmark::DoNotOptimize(packrift::trim_before_padding(payloads[i], lengths[i]));
        }
    }
    packrift::use_wide_trim(true);
    state.SetBytesProcessed(state.iterations() * payload_bytes);
}
BENCHMARK(BM_TrimVideoPayloads)->Unit(benchmark::kMillisecond)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();

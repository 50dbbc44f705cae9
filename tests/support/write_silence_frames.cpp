// Writes silence frames made from each test header into a folder, for the
// scripted check that ffmpeg decodes them to zeros without error: for each
// header, NAME.ac3 (or .mp2, .mp1) of a few frames, and a line "NAME FRAMES
// SAMPLES_PER_FRAME" on standard output.
//
// Usage: write_silence_frames FOLDER

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "output/audio_frames.hpp"
#include "output/silence_frames.hpp"
#include "support/silence_headers.hpp"

namespace {

constexpr int FRAMES_PER_FILE = 12;

bool write_file(const std::filesystem::path& folder, const packtest::SilenceHeader& header, packrift::AudioCoding coding) {
    const std::vector<unsigned char> bytes = packtest::from_hex(header.hex);
    const packrift::ByteView view = packrift::view_of(bytes.data(), bytes.size());
    std::vector<unsigned char> frame;
    packrift::AudioFrame shape;
    const bool made = coding == packrift::AudioCoding::ac3 ? packrift::ac3_silence_frame(view, 0, frame)
                                                           : packrift::mpeg_audio_silence_frame(view, 0, frame);
    if (!made || !packrift::read_audio_frame(coding, view, 0, shape)) {
        std::fprintf(stderr, "%s: no silence frame made\n", header.name.c_str());
        return false;
    }
    const std::string extension = coding == packrift::AudioCoding::ac3 ? ".ac3" : header.name.substr(0, 3) == "mp1" ? ".mp1" : ".mp2";
    std::ofstream out(folder / (header.name + extension), std::ios::binary);
    for (int i = 0; i < FRAMES_PER_FILE; ++i) {
        out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
    std::printf("%s%s %d %d\n", header.name.c_str(), extension.c_str(), FRAMES_PER_FILE, shape.samples);
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_silence_frames FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::filesystem::create_directories(folder);
    bool all = true;
    for (const packtest::SilenceHeader& header : packtest::ac3_silence_headers()) {
        all = write_file(folder, header, packrift::AudioCoding::ac3) && all;
    }
    for (const packtest::SilenceHeader& header : packtest::mpeg_audio_silence_headers()) {
        all = write_file(folder, header, packrift::AudioCoding::mpeg_audio) && all;
    }
    return all ? 0 : 1;
}

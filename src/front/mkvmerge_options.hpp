#pragma once
// The options file that hands a run's outputs to mkvmerge: one argument
// group per file, with the language, delay, name and default flag packrift
// knows, as mkvmerge's JSON option file (`mkvmerge @FILE`) holds them.

#include <optional>
#include <string>
#include <vector>

namespace packrift {

// One file for mkvmerge, as packrift wrote it.
struct MuxTrack {
    std::string file;                   // as written, relative to the current folder
    enum class Role { video, audio, subtitles } role = Role::audio;
    std::string language;               // the IFO's two letters, or empty (a .vob: none)
    std::optional<long long> delay_ms;  // audio: its delay as the report gives it
    std::string track_name;             // "AC-3 5.1", "LPCM 2.0", "VobSub"...; empty for none
    bool default_track = false;         // the first audio only
};

struct MuxOptions {
    std::string output;                   // "dvd-title1.mkv"
    std::vector<MuxTrack> tracks;         // the video first, then audio and subtitles in order
    std::optional<std::string> chapters;  // the chapters file, when -chapters wrote one
};

// The language mkvmerge is given: the two letters (either case) when they
// are an ISO 639-1 code, in lower case, the withdrawn ones mapped to theirs
// (iw he, ji yi, in id, mo ro), "und" otherwise: mkvmerge refuses a code it
// does not know, and one odd code must not lose the mux.
std::string mkvmerge_language(const std::string& two_letters);

// Whether text is valid UTF-8 (no overlong forms, no surrogates, nothing
// past U+10FFFF).
bool valid_utf8(const std::string& text);

// The options file: a JSON array of strings, one argument a line, ending
// with a line feed: "--output", OUTPUT, then per track the options that
// apply to it before its file (--language and --default-track-flag 0:0 on
// audio and subtitles but the default track, --sync on audio with a delay,
// --track-name when it has one), and "--chapters", FILE when given.
// A track file that mkvmerge would read as its own syntax ("+x" appends,
// "=x", "-x", "(") is given as "./x", the same file.
// Nothing, and why in problem naming the file, when a name is not valid
// UTF-8, which JSON cannot hold.
std::optional<std::string> mkvmerge_json(const MuxOptions& options, std::string& problem);

}  // namespace packrift

#pragma once
// A disc given as a folder or as an image: the listing of its titles, or, with -title, the
// reading of one title.

#include <string>

#include "disc/disc_folder.hpp"
#include "disc/ifo_tables.hpp"
#include "front/stream_report.hpp"

namespace packrift {

inline constexpr const char* TITLE_OPTION = "-title";

// The run when argv[1] names a folder. Returns the exit status.
int run_disc(int argc, char** argv);

// The run when argv[1] is a disc image (or a drive), open as image, of
// sectors whole sectors. Closes it; returns the exit status.
int run_disc_image(int argc, char** argv, NamedFile& image, std::uint64_t sectors);

// The lines of one title of the listing: its time, chapters, angles and
// title set, its video, and each audio and subpicture track of the program
// chain of its first chapter, with the option that extracts it.
std::string title_listing(int number, const DiscTitle& title, const TitleSetInfo& set);

inline constexpr int NO_STREAM_ID = -1;

// An audio track's stream as the pack loop meets it: its id (0x80 + N for
// AC-3, 0xC0 + N for MPEG audio ...), or NO_STREAM_ID for a coding that has
// none, and the option that extracts it ("-audio 0"), or empty.
struct AudioTrackStream {
    int id = NO_STREAM_ID;
    std::string option;
    bool substream = false;  // of private stream 1
};

// The stream of an audio track of this coding whose stream control gives stream_number.
AudioTrackStream audio_track_stream(AudioCoding coding, int stream_number);

// The program chain of a title's first chapter, whose stream control names
// the streams the title plays.
const ProgramChain& first_program_chain(const DiscTitle& title, const TitleSetInfo& set);

// The language of every audio and subpicture stream the title's first
// program chain plays ("--" when the attributes give none).
std::vector<StreamLanguage> title_languages(const TitleSetInfo& set, const ProgramChain& chain);

}  // namespace packrift

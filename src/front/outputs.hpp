#pragma once
// The outputs of a run: opened as the options ask, in their order, and
// finished at the end with the lines that tell what they lack.

#include <optional>
#include <string>
#include <vector>

#include "demux/pack_loop.hpp"
#include "disc/ifo_tables.hpp"
#include "front/stream_report.hpp"

namespace packrift {

inline constexpr const char* CHAPTERS_OPTION = "-chapters";
inline constexpr const char* CHAPTERS_SUFFIX = ".chapters.txt";

// How outputs are named: the stem their suffixes follow, or nothing when the
// input's name gives none (source then names the input in the message); and
// for a title the text of its chapters, which -chapters writes.
struct OutputNaming {
    std::string source;
    std::optional<std::string> stem;
    std::optional<std::string> chapters;
};

// What a subpicture output's .idx takes from the disc: the title set's
// picture size (0: the video's first sequence header gives it), the program
// chain's palette (none: a grey scale) and the tracks' languages.
struct SubpictureDisc {
    int width = 0;
    int height = 0;
    std::optional<Palette> palette;
    std::vector<StreamLanguage> languages;
};

// The stem of a file's outputs: its path up to its first lower-case ".vob".
OutputNaming naming_of_file(const std::string& input_path);

// Examines every argument after the input, in order, each whole, and opens
// the output of every kind whose option it contains; a later option of a
// kind replaces the earlier output, which is closed at once and stays empty.
// -chapters writes a title's chapters at once. An output that is one of
// inputs, or another output, is left untouched.
// numbers receives each option's number. False when an output could not be
// named or opened.
bool open_requested_outputs(int argc, char** argv, const OutputNaming& naming,
                            const std::vector<const NamedFile*>& inputs, OutputNumbers& numbers);

// Writes a title's chapters file again with text, once the reading has put
// the chapters on the video's clock; its "opened" line was printed before.
bool rewrite_chapters(const OutputNaming& naming, const std::string& text);

// Whether an option that writes an output (-chapters included) is given.
bool any_output_requested(int argc, char** argv);

// Writes what each output still holds and closes it, in kind order, each
// followed by its end lines: a stream the input never held (only when
// read_whole, the input read to its end), an -audio substream that is not
// AC-3, LPCM packets passed over, scrambled packs. A subpicture output's
// .idx is written then, with the lines of what it lacks (the disc's
// palette, units before the video's start). False when an output
// failed, lacks packets it was given or holds scrambled packs.
bool finish_outputs(const OutputNumbers& numbers, const StreamsFound& found, bool read_whole,
                    const SubpictureDisc& disc);

}  // namespace packrift

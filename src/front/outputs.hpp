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
inline constexpr const char* ALL_OPTION = "-all";
inline constexpr const char* MKVMERGE_OPTION = "-mkvmerge";
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

// The streams a title's program chain lists (listed false for a file, whose
// streams -all opens as they are met).
struct TitleStreams {
    bool listed = false;
    std::vector<StreamLanguage> streams;
};

// Examines every argument after the input, in order, each whole, and opens
// the output of every option it contains, each once: options that name one
// file make one output. -all opens the title's video and listed streams.
// -chapters writes a title's chapters at once. An output that is one of
// inputs, or another output, is left untouched. False when an output could
// not be named or opened.
bool open_requested_outputs(int argc, char** argv, const OutputNaming& naming,
                            const std::vector<const NamedFile*>& inputs, const TitleStreams& title);

// -all on a file: outputs opened in the pass, as their streams are met (the
// pack loop's stream_met), take this naming and these inputs.
void open_streams_when_met(const OutputNaming& naming, const std::vector<const NamedFile*>& inputs);
bool open_met_stream(bool substream, int id);

// The .idx of a subpicture output beside its .sub: "movie-sub0.idx".
std::string index_name(const std::string& data_name);

// Writes a title's chapters file again with text, once the reading has put
// the chapters on the video's clock; its "opened" line was printed before.
bool rewrite_chapters(const OutputNaming& naming, const std::string& text);

// Whether an option that writes an output (-chapters included) is given.
bool any_output_requested(int argc, char** argv);

// Writes what each output still holds and closes it, in kind order (and
// in the order opened within a kind), each followed by its end lines: a stream the input never held (only when
// read_whole, the input read to its end), an -audio substream that is not
// AC-3, LPCM packets passed over, scrambled packs. A subpicture output's
// .idx is written then, with the lines of what it lacks (the disc's
// palette, units before the video's start). False when an output
// failed, lacks packets it was given or holds scrambled packs.
bool finish_outputs(const StreamsFound& found, bool read_whole, const SubpictureDisc& disc);

}  // namespace packrift

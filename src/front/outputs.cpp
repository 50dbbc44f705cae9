#include "front/outputs.hpp"

#include <array>
#include <cstdio>

#include "front/command_line.hpp"
#include "front/progress.hpp"
#include "output/staging_writer.hpp"
#include "output/vobsub_index.hpp"
#include "output/vobsub_output.hpp"
#include "output/wav_output.hpp"

namespace packrift {

namespace {

constexpr const char* SEE_STREAMS = " (-streams lists what it holds)";

// A subpicture output is a VobSub pair: the .sub that the kind's suffix
// names, and beside it the .idx, written at the end.
constexpr const char* SUBPICTURE_DATA_EXTENSION = ".sub";
constexpr const char* SUBPICTURE_INDEX_EXTENSION = ".idx";
constexpr int PICTURE_WIDTH_WITHOUT_VIDEO = 720;
constexpr int PICTURE_HEIGHT_WITHOUT_VIDEO = 480;
constexpr const char* NO_LANGUAGE = "--";

// Each subpicture output's .idx, by the output's slot.
std::array<NamedFile, MOST_OUTPUTS> subpicture_indexes;

// An output that is already open as an input or as another output is
// closed again untouched: emptying it would destroy that file.
bool refuse_if_same(NamedFile& output, const NamedFile& open, const char* role) {
    if (&output == &open || !same_file(output, open)) {
        return false;
    }
    std::fprintf(stderr, "%s: is the same file as the %s %s; left untouched\n", output.name.c_str(), role,
                 open.name.c_str());
    close_file(output);
    output.failed = true;
    return true;
}

bool refuse_if_open(NamedFile& output, const std::vector<const NamedFile*>& inputs) {
    for (const NamedFile* input : inputs) {
        if (refuse_if_same(output, *input, "input")) {
            return true;
        }
    }
    for (std::size_t i = 0; i < output_count; ++i) {
        if (refuse_if_same(output, outputs[i].file, "output") ||
            refuse_if_same(output, subpicture_indexes[i], "output")) {
            return true;
        }
    }
    return false;
}

// Opens name as output unless it is one of the files open already, and says
// so on standard output.
bool open_checked(NamedFile& output, const std::string& name, const std::vector<const NamedFile*>& inputs) {
    if (!open_untruncated(output, name) || refuse_if_open(output, inputs) || !start_output(output)) {
        return false;
    }
    std::printf("opened %s for writing\n", name.c_str());
    // Keeps the "opened" lines and the error lines in option order when both
    // go to one file.
    std::fflush(stdout);
    return true;
}


// Whether an output of that name is in the list already: options that
// name one file (the same option and number twice, -video 0 -video 5,
// -all and an option) make one output, opened once.
bool named_already(const std::string& name) {
    for (std::size_t i = 0; i < output_count; ++i) {
        if (outputs[i].file.name == name) {
            return true;
        }
    }
    return false;
}

// Opens the output of kind and number under the name naming gives with its
// suffix (and a subpicture output's .idx after it), unless one of that name
// is open already.
bool open_output(StreamKind kind, int number, const OutputNaming& naming,
                 const std::vector<const NamedFile*>& inputs) {
    const std::string suffix = output_suffix(kind, number);
    if (!naming.stem) {
        std::fprintf(stderr, "%s: no \"%s\" in the name to replace with \"%s\"\n", naming.source.c_str(),
                     INPUT_EXTENSION, suffix.c_str());
        return false;
    }
    const std::string name = *naming.stem + suffix;
    if (named_already(name)) {
        return true;
    }
    Output* output = add_output(kind, number);
    if (output == nullptr) {
        std::fprintf(stderr, "%s: more outputs than a run can hold\n", name.c_str());
        return false;
    }
    output->file.name = name;
    if (!open_checked(output->file, name, inputs)) {
        return false;
    }
    return kind != StreamKind::subpicture ||
           open_checked(subpicture_indexes[output->slot], index_name(name), inputs);
}

// -all with a title: the video and every stream its program chain lists,
// in the listing's order, each as its kind's option writes it.
bool open_title_streams(const std::vector<StreamLanguage>& streams, const OutputNaming& naming,
                        const std::vector<const NamedFile*>& inputs) {
    bool ok = open_output(StreamKind::video, 0, naming, inputs);
    for (const StreamLanguage& stream : streams) {
        const StreamKindRow* row = kind_of_id(stream.substream, stream.id);
        if (is_of_a_kind(row) && row->option != nullptr) {
            const auto kind = static_cast<StreamKind>(row - STREAM_KIND_TABLE.data());
            ok = open_output(kind, stream.id - row->first, naming, inputs) && ok;
        }
    }
    return ok;
}

// -all on a file: the naming and the inputs that outputs opened in the pass take.
OutputNaming met_naming;
std::vector<const NamedFile*> met_inputs;

// Writes the chapters file of a title at once: it is whole from the start.
bool write_chapters(const OutputNaming& naming, const std::vector<const NamedFile*>& inputs) {
    NamedFile chapters;
    if (!open_checked(chapters, *naming.stem + CHAPTERS_SUFFIX, inputs)) {
        return false;
    }
    write_block(chapters, naming.chapters->data(), naming.chapters->size());
    close_file(chapters);
    return !chapters.failed;
}

}  // namespace

// "movie-sub0.idx" beside "movie-sub0.sub".
std::string index_name(const std::string& data_name) {
    return data_name.substr(0, data_name.size() - std::string(SUBPICTURE_DATA_EXTENSION).size()) +
           SUBPICTURE_INDEX_EXTENSION;
}

bool rewrite_chapters(const OutputNaming& naming, const std::string& text) {
    NamedFile chapters;
    if (!open_for_writing(chapters, *naming.stem + CHAPTERS_SUFFIX)) {
        return false;
    }
    write_block(chapters, text.data(), text.size());
    close_file(chapters);
    return !chapters.failed;
}

namespace {

// What the user is told of an output that took everything and still stayed
// empty, because the input never held its stream: a wrong number must not
// look like a broken tool.
std::string absent_stream(StreamKind kind, int number) {
    const StreamKindRow& row = row_of(kind);
    const int id = selected_id(kind, number);
    const char* unit = row.substream ? "substream" : "stream";
    if (id < 0) {
        return std::string("no ") + unit + " number matches " + row.option + " " + std::to_string(number);
    }
    const StreamKindRow* holder = kind_of_id(row.substream, id);
    const std::string kind_name = is_of_a_kind(holder) ? std::string(holder->name) + " " : "";
    return "the input holds no " + kind_name + unit + " " + hex_id(id);
}

// An -audio number that reached a substream of another kind wrote its
// packets as they are, which no AC-3 reader takes: say what would.
std::string not_ac3(int number) {
    const int id = selected_id(StreamKind::ac3_audio, number);
    const StreamKindRow* holder = kind_of_id(true, id);
    if (holder == &row_of(StreamKind::ac3_audio)) {
        return {};
    }
    std::string line = "substream " + hex_id(id);
    if (!is_of_a_kind(holder)) {
        return line + " is not AC-3";
    }
    line += std::string(" is ") + holder->name + ", not AC-3";
    if (holder->option != nullptr) {
        const char* written_as = holder->form == PayloadForm::wav          ? "WAV"
                                 : holder->form == PayloadForm::whole_pack ? "VobSub"
                                                                          : holder->name;
        line += std::string(" (") + holder->option + " " + std::to_string(id - holder->first) + " writes it as " +
                written_as + ")";
    }
    return line;
}

void tell(const NamedFile& output, const std::string& what) {
    // The progress line is ended first, so that the message does not
    // overwrite it on a terminal.
    end_progress_line();
    std::fprintf(stderr, "%s: %s\n", output.name.c_str(), what.c_str());
}

// Scrambled packs are written as they are, and no player can use them.
std::string scrambled_packs(std::uint64_t scrambled, std::uint64_t packs) {
    return std::to_string(scrambled) + " of its " + std::to_string(packs) + (packs == 1 ? " pack " : " packs ") +
           (scrambled == 1 ? "is" : "are") + " scrambled (CSS); the output cannot be played: decrypt the disc first";
}

std::string language_of(const SubpictureDisc& disc, int number) {
    for (const StreamLanguage& stream : disc.languages) {
        if (stream.substream && stream.id == SUBPICTURE_ROW.first + number) {
            return stream.language;
        }
    }
    return NO_LANGUAGE;
}

VobSubFacts index_facts(const SubpictureDisc& disc, int number) {
    VobSubFacts facts;
    const WatchedVideo& video = watched_video();
    if (disc.height != 0) {
        facts.width = disc.width;
        facts.height = disc.height;
    } else if (video.height != 0) {
        facts.width = video.width;
        facts.height = video.height;
    } else {
        facts.width = PICTURE_WIDTH_WITHOUT_VIDEO;
        facts.height = PICTURE_HEIGHT_WITHOUT_VIDEO;
    }
    facts.palette = disc.palette;
    facts.language = language_of(disc, number);
    facts.number = number;
    return facts;
}

// Writes the .idx of a subpicture output with the units read, and tells
// what it had to make up. False when it could not be written.
bool finish_index(const Output& output, const SubpictureDisc& disc) {
    NamedFile& subpicture_index = subpicture_indexes[output.slot];
    if (subpicture_index.stream == nullptr) {
        return !subpicture_index.failed;
    }
    const VobSubIndex index = vobsub_index(index_facts(disc, output.number),
                                           finished_subpicture_units(output).units, watched_video().first_pts);
    write_block(subpicture_index, index.text.data(), index.text.size());
    close_file(subpicture_index);
    if (subpicture_index.failed) {
        return false;
    }
    if (!disc.palette) {
        tell(subpicture_index, "no IFO file beside the input, so the palette is a grey scale");
    }
    if (index.before_start > 0) {
        tell(subpicture_index, std::to_string(index.before_start) +
                                   (index.before_start == 1 ? " subpicture lies before the video's start and is"
                                                            : " subpictures lie before the video's start and are") +
                                   " put at 00:00:00:000");
    }
    return true;
}

// Writes what an output still holds, closes it and tells what it lacks;
// false when it has failed, lacks packets it was given or is scrambled.
bool finish_output(Output& stream, const StreamsFound& tally, bool read_whole) {
    const StreamKind kind = stream.kind;
    const int number = stream.number;
    const std::size_t k = stream.slot;
    const bool found = tally.packs[k] > 0;
    NamedFile& output = stream.file;
    if (output.stream == nullptr) {
        return !output.failed;
    }
    flush_stream(stream);
    // A file whose size cannot be known (a FIFO) holds what was routed to it.
    stream.holds_data = regular_file_size(output).value_or(found ? 1 : 0) > 0;
    close_file(output);
    if (output.failed) {
        return false;
    }
    // After a read error the input was not read to its end: its stream may lie beyond.
    if (!found && read_whole) {
        tell(output, absent_stream(kind, number) + SEE_STREAMS);
    }
    const std::string other_kind = found && kind == StreamKind::ac3_audio ? not_ac3(number) : "";
    if (!other_kind.empty()) {
        tell(output, other_kind);
    }
    bool ok = true;
    if (row_of(kind).form == PayloadForm::wav && wav_packets_passed_over(stream) > 0) {
        tell(output, wav_passed_over_text(stream));
        ok = false;
    }
    if (tally.scrambled[k] > 0) {
        tell(output, scrambled_packs(tally.scrambled[k], tally.packs[k]));
        ok = false;
    }
    return ok;
}

}  // namespace

OutputNaming naming_of_file(const std::string& input_path) {
    return {input_path, output_name(input_path, ""), std::nullopt};
}

bool open_requested_outputs(int argc, char** argv, const OutputNaming& naming,
                            const std::vector<const NamedFile*>& inputs, const TitleStreams& title) {
    bool ok = true;
    for (int i = 2; i < argc; ++i) {
        for (std::size_t k = 0; k < OUTPUT_KINDS; ++k) {
            const auto kind = static_cast<StreamKind>(k);
            if (contains_option(argv[i], row_of(kind).option)) {
                ok = open_output(kind, number_after(argc, argv, i), naming, inputs) && ok;
            }
        }
        if (title.listed && contains_option(argv[i], ALL_OPTION)) {
            ok = open_title_streams(title.streams, naming, inputs) && ok;
        }
        if (naming.chapters && naming.stem && contains_option(argv[i], CHAPTERS_OPTION)) {
            ok = write_chapters(naming, inputs) && ok;
        }
    }
    return ok;
}

bool any_output_requested(int argc, char** argv) {
    for (std::size_t k = 0; k < OUTPUT_KINDS; ++k) {
        if (option_given(argc, argv, STREAM_KIND_TABLE[k].option)) {
            return true;
        }
    }
    return option_given(argc, argv, CHAPTERS_OPTION) || option_given(argc, argv, ALL_OPTION) ||
           option_given(argc, argv, MKVMERGE_OPTION);
}

bool open_met_stream(bool substream, int id) {
    const StreamKindRow* row = kind_of_id(substream, id);
    if (!is_of_a_kind(row) || row->option == nullptr || (row->numbers == NumberRule::ignored && id != row->first)) {
        return false;
    }
    const auto kind = static_cast<StreamKind>(row - STREAM_KIND_TABLE.data());
    const std::size_t before = output_count;
    // Its "opened" line comes in the pass: on a line of its own.
    end_progress_line();
    open_output(kind, id - row->first, met_naming, met_inputs);
    return output_count > before;
}

void open_streams_when_met(const OutputNaming& naming, const std::vector<const NamedFile*>& inputs) {
    met_naming = naming;
    met_inputs = inputs;
}

bool finish_outputs(const StreamsFound& found, bool read_whole, const SubpictureDisc& disc) {
    bool ok = true;
    for (std::size_t k = 0; k < OUTPUT_KINDS; ++k) {
        for (std::size_t i = 0; i < output_count; ++i) {
            Output& output = outputs[i];
            if (index_of(output.kind) != k) {
                continue;
            }
            ok = finish_output(output, found, read_whole) && ok;
            if (output.kind == StreamKind::subpicture && !finish_index(output, disc)) {
                // A .sub without its .idx is of no use to a muxer: it is told failed.
                output.holds_data = false;
                output.file.failed = true;
                ok = false;
            }
        }
    }
    for (NamedFile& index : subpicture_indexes) {
        index = NamedFile{};
    }
    return ok;
}

}  // namespace packrift

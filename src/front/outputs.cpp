#include "front/outputs.hpp"

#include <cstdio>

#include "front/command_line.hpp"
#include "front/progress.hpp"
#include "output/staging_writer.hpp"
#include "output/wav_output.hpp"

namespace packrift {

namespace {

constexpr const char* SEE_STREAMS = " (-streams lists what it holds)";

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
    for (const NamedFile& other : outputs) {
        if (refuse_if_same(output, other, "output")) {
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

// Opens kind's output under the name naming gives with its suffix. The
// output it replaces is closed first and stays empty.
bool open_output(StreamKind kind, int number, const OutputNaming& naming,
                 const std::vector<const NamedFile*>& inputs) {
    NamedFile& output = output_of(kind);
    close_file(output);
    const bool replaced_one_closed_cleanly = !output.failed;
    const std::string suffix = output_suffix(kind, number);
    if (!naming.stem) {
        std::fprintf(stderr, "%s: no \"%s\" in the name to replace with \"%s\"\n", naming.source.c_str(),
                     INPUT_EXTENSION, suffix.c_str());
        return false;
    }
    return open_checked(output, *naming.stem + suffix, inputs) && replaced_one_closed_cleanly;
}

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
        const char* written_as = holder->form == PayloadForm::wav ? "WAV" : holder->name;
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

// Writes what kind's output still holds, closes it and tells what it lacks;
// false when it has failed, lacks packets it was given or is scrambled.
bool finish_output(StreamKind kind, int number, const StreamsFound& tally, bool read_whole) {
    const std::size_t k = index_of(kind);
    const bool found = tally.packs[k] > 0;
    NamedFile& output = output_of(kind);
    if (output.stream == nullptr) {
        return !output.failed;
    }
    flush_stream(kind, output);
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
    if (row_of(kind).form == PayloadForm::wav && wav_packets_passed_over() > 0) {
        tell(output, wav_passed_over_text());
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
                            const std::vector<const NamedFile*>& inputs, OutputNumbers& numbers) {
    bool ok = true;
    for (int i = 2; i < argc; ++i) {
        for (std::size_t k = 0; k < OUTPUT_KINDS; ++k) {
            const auto kind = static_cast<StreamKind>(k);
            if (!contains_option(argv[i], row_of(kind).option)) {
                continue;
            }
            numbers[k] = number_after(argc, argv, i);
            ok = open_output(kind, numbers[k], naming, inputs) && ok;
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
    return option_given(argc, argv, CHAPTERS_OPTION);
}

bool finish_outputs(const OutputNumbers& numbers, const StreamsFound& found, bool read_whole) {
    bool ok = true;
    for (std::size_t k = 0; k < OUTPUT_KINDS; ++k) {
        ok = finish_output(static_cast<StreamKind>(k), numbers[k], found, read_whole) && ok;
    }
    return ok;
}

}  // namespace packrift

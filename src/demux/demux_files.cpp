#include "demux/demux_common.hpp"

namespace packrift {

NamedFile input_file;
std::array<Output, MOST_OUTPUTS> outputs;
std::size_t output_count = 0;

Output* add_output(StreamKind kind, int number) {
    if (output_count == MOST_OUTPUTS) {
        return nullptr;
    }
    Output& output = outputs[output_count];
    output = Output{kind, number, selected_id(kind, number), output_count, NamedFile{}, false};
    ++output_count;
    return &output;
}

void clear_outputs() {
    for (std::size_t i = 0; i < output_count; ++i) {
        outputs[i] = Output{};
    }
    output_count = 0;
}

}  // namespace packrift

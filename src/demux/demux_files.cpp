#include "demux/demux_common.hpp"

namespace packrift {

NamedFile input_file;
std::array<NamedFile, OUTPUT_KINDS> outputs;

}  // namespace packrift

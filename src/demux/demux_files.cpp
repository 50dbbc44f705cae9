#include "demux/demux_common.hpp"

namespace packrift {

NamedFile input_file;
NamedFile video_output;
NamedFile audio_output;

}  // namespace packrift

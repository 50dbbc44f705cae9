#pragma once
// Reading the stream attributes of a title set's management table.

#include <cstddef>

#include "disc/ifo_tables.hpp"
#include "io/byte_view.hpp"

namespace packrift {

VideoAttributes read_video_attributes(ByteView& view, std::size_t offset);
AudioAttributes read_audio_attributes(ByteView& view, std::size_t offset);
SubpictureAttributes read_subpicture_attributes(ByteView& view, std::size_t offset);

}  // namespace packrift

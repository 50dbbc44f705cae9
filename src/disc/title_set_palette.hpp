#pragma once
// The subpicture palette of a lone VOB file: a title set's colours live only
// in its IFO file, so a VTS_nn_k.VOB split on its own finds them beside it.

#include <optional>
#include <string>

#include "disc/ifo_tables.hpp"

namespace packrift {

// The palette of the first program chain of the title set whose VOB file
// vob_path names (VTS_nn_k.VOB in any case, k from 1), read from its
// VTS_nn_0.IFO (or .BUP) beside it, or beside the file it links to; nothing
// for any other name, or when no sound IFO file is there.
std::optional<Palette> palette_beside(const std::string& vob_path);

}  // namespace packrift

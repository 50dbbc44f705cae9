#pragma once
// Reading one title of a disc (-title N).

#include <string>

#include "disc/disc_folder.hpp"
#include "disc/ifo_tables.hpp"

namespace packrift {

// The disc as the listing found it: the argument as typed (for messages),
// its VIDEO_TS folder and its title table.
struct DiscRun {
    std::string argument;
    DiscFolder folder;
    VideoManager manager;
};

// Reads the title that -title names; returns the exit status.
int run_disc_title(const DiscRun& disc, int argc, char** argv);

}  // namespace packrift

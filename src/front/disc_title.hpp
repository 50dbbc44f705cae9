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

inline constexpr const char* ANGLE_OPTION = "-angle";
inline constexpr int FIRST_ANGLE = 1;

// A title of the disc and the angle of it to read, both 1-based.
struct TitleChoice {
    int number = 0;
    int angle = FIRST_ANGLE;
};

// The number after the last argument that holds option, or fallback.
int last_number_of(int argc, char** argv, const char* option, int fallback);

// The title and angle that -title N and -angle A name.
TitleChoice chosen_by_options(int argc, char** argv);

// Reads the chosen title with the other options; returns the exit status.
int run_disc_title(const DiscRun& disc, int argc, char** argv, const TitleChoice& choice);

}  // namespace packrift

#pragma once
// An image whose title holds packs scrambled by CSS, or a drive where
// libdvdcss loads: read through the user's libdvdcss, as players read such
// discs, its file system and IFO files too, and each title set's VOB
// sectors descrambled with the title key sought at the set's first title
// VOB sector.

#include <string>

#include "disc/vob_set.hpp"
#include "front/disc_title.hpp"
#include "io/css_disc.hpp"

namespace packrift {

// Opens the image or drive of disc through libdvdcss into css, and reads
// its file system and its title table anew through it into through; false,
// having said why in one line (libdvdcss cannot be loaded, or cannot open
// it). A drive with no stream open is opened by its name alone (a Windows
// drive, "D:"), its size read from its volume descriptor.
bool open_through_libdvdcss(const DiscRun& disc, CssDisc& css, DiscRun& through);

// Asks for the title key of title_set, whose VOB files are vobs; false,
// having said why in one line.
bool seek_key_of_title_set(const DiscRun& disc, CssDisc& css, const VobSet& vobs, int title_set);

}  // namespace packrift

#pragma once
// A disc read through the user's libdvdcss, which undoes CSS: a drive, or an
// image, taken as the disc's sectors. libdvdcss keeps one position and one
// title key; it reads from where the last seek left it, and descrambles
// only on reads that ask for it, with the key sought last.

#include <cstddef>
#include <cstdint>
#include <string>

#include "io/file_io.hpp"
#include "io/platform.hpp"

namespace packrift {

// From libdvdcss's documented interface.
inline constexpr int DVDCSS_BLOCK_SIZE = 2048;
inline constexpr int DVDCSS_NOFLAGS = 0;
inline constexpr int DVDCSS_READ_DECRYPT = 1;
inline constexpr int DVDCSS_SEEK_MPEG = 1;
inline constexpr int DVDCSS_SEEK_KEY = 2;

struct CssDisc {
    const CssFunctions* css = nullptr;
    void* handle = nullptr;  // libdvdcss's, while the disc is open
};

enum class CssOpening : std::uint8_t { opened, not_loaded, not_opened };

// What opening gave, and why it failed: the loader's reason, or the
// system's message where dvdcss_open set one (it gives no handle to ask).
struct CssOpened {
    CssOpening result = CssOpening::not_loaded;
    std::string reason;
};

// Whether libdvdcss can be loaded (it is, then, if it was not yet).
bool libdvdcss_loads();

// Loads libdvdcss where it is not yet, and opens the disc name through it.
CssOpened open_css_disc(CssDisc& disc, const std::string& name);

// Asks libdvdcss for the title key of the title set whose title VOBs
// (VTS_nn_1.VOB) begin at sector: libdvdcss keeps and caches keys by that
// very sector. False with dvdcss_error()'s text, taken at once: it keeps an
// earlier error after later good calls.
bool seek_title_key(CssDisc& disc, std::uint64_t sector, std::string& error);

// Reads count sectors from sector into bytes, descrambling them when
// decrypt is set: a title set's VOB sectors, after its key was sought; every
// other sector unaltered, as a decrypting read would alter any sector whose
// PES scrambling bits seem set. Each read follows its own seek: a read that
// fails leaves libdvdcss with no position. A read that fails fails whole.
ReadOutcome read_css_sectors(CssDisc& disc, std::uint64_t sector, std::size_t count, bool decrypt,
                             unsigned char* bytes);

void close_css_disc(CssDisc& disc);

}  // namespace packrift

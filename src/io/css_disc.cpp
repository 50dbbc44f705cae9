#include "io/css_disc.hpp"

#include <cerrno>
#include <climits>
#include <cstring>

namespace packrift {

namespace {

static_assert(DVDCSS_BLOCK_SIZE == 2048, "libdvdcss reads DVD sectors");

bool fits_int(std::uint64_t value) {
    return value <= static_cast<std::uint64_t>(INT_MAX);
}

}  // namespace

bool libdvdcss_loads() {
    std::string reason;
    return load_libdvdcss(reason) != nullptr;
}

CssOpened open_css_disc(CssDisc& disc, const std::string& name) {
    CssOpened opened;
    disc.css = load_libdvdcss(opened.reason);
    if (disc.css == nullptr) {
        return opened;
    }
    errno = 0;
    disc.handle = disc.css->open(name.c_str());
    if (disc.handle == nullptr) {
        opened.result = CssOpening::not_opened;
        opened.reason = errno != 0 ? std::strerror(errno) : "";
        return opened;
    }
    opened.result = CssOpening::opened;
    return opened;
}

bool seek_title_key(CssDisc& disc, std::uint64_t sector, std::string& error) {
    if (!fits_int(sector)) {
        error = std::strerror(EINVAL);
        return false;
    }
    if (disc.css->seek(disc.handle, static_cast<int>(sector), DVDCSS_SEEK_KEY) < 0) {
        const char* text = disc.css->error(disc.handle);
        error = text != nullptr ? text : "";
        return false;
    }
    return true;
}

ReadOutcome read_css_sectors(CssDisc& disc, std::uint64_t sector, std::size_t count, bool decrypt,
                             unsigned char* bytes) {
    if (!fits_int(sector) || !fits_int(count) ||
        disc.css->seek(disc.handle, static_cast<int>(sector), DVDCSS_NOFLAGS) != static_cast<int>(sector)) {
        return {0, EIO};
    }
    const int read = disc.css->read(disc.handle, bytes, static_cast<int>(count),
                                    decrypt ? DVDCSS_READ_DECRYPT : DVDCSS_NOFLAGS);
    if (read < 0) {
        return {0, EIO};
    }
    // More than was asked for is not believed.
    return {static_cast<std::size_t>(read) < count ? static_cast<std::size_t>(read) : count, 0};
}

void close_css_disc(CssDisc& disc) {
    if (disc.handle != nullptr) {
        disc.css->close(disc.handle);
        disc.handle = nullptr;
    }
}

}  // namespace packrift

#include "front/encrypted_disc.hpp"

#include <cstdio>

namespace packrift {

namespace {

// Where the README tells how to install libdvdcss.
constexpr const char* INSTALL_HINT = "see \"Encrypted discs\" in the README for how to install it";

void tell(const DiscRun& disc, const std::string& what) {
    std::fprintf(stderr, "%s: %s\n", disc.argument.c_str(), what.c_str());
}

std::string in_parentheses(const std::string& reason) {
    return reason.empty() ? std::string() : " (" + reason + ")";
}

}  // namespace

bool open_through_libdvdcss(const DiscRun& disc, CssDisc& css, DiscRun& through) {
    NamedFile& image = *disc.folder.image;
    const CssOpened opened = open_css_disc(css, image.name);
    if (opened.result == CssOpening::not_loaded) {
        tell(disc, "the disc is encrypted (CSS); packrift reads such discs through libdvdcss, which could not be "
                   "loaded" + in_parentheses(opened.reason) + "; " + INSTALL_HINT);
        return false;
    }
    if (opened.result == CssOpening::not_opened) {
        tell(disc, "libdvdcss could not open the disc" + in_parentheses(opened.reason));
        return false;
    }
    const OpenedImage relisted = open_disc_image(image, disc.folder.image_sectors, is_block_device(image), &css);
    if (!relisted.failure.empty()) {
        std::fprintf(stderr, "%s\n", relisted.failure.c_str());
        return false;
    }
    LoadedIfo<VideoManager> manager = load_video_manager(relisted.folder);
    if (!manager.failure.empty()) {
        std::fprintf(stderr, "%s\n", manager.failure.c_str());
        return false;
    }
    through = DiscRun{disc.argument, relisted.folder, std::move(manager.record)};
    through.folder.name = disc.folder.name;
    return true;
}

bool seek_key_of_title_set(const DiscRun& disc, CssDisc& css, const VobSet& vobs, int title_set) {
    // The title VOBs' first sector: VTS_nn_1.VOB's first extent.
    std::string error = "its title VOBs cannot be found";
    if (!vobs.files.empty() && !vobs.files.front().extents.empty() &&
        seek_title_key(css, vobs.files.front().extents.front().sector, error)) {
        return true;
    }
    tell(disc, "libdvdcss could not get the title key of title set " + std::to_string(title_set) +
                   in_parentheses(error));
    return false;
}

}  // namespace packrift

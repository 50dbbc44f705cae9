#include "front/encrypted_disc.hpp"

#include <cstdio>
#include <cstring>

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

// A drive that libdvdcss opens by its name alone (a Windows drive, which
// has no size as a file): as many sectors as its volume descriptor says.
bool volume_sectors(const NamedFile& drive, CssDisc& css, std::uint64_t& sectors) {
    const VolumeSpace space = read_volume_space(css_image_reader(css, 0));
    if (space.error != 0) {
        std::fprintf(stderr, "%s: %s\n", drive.name.c_str(), std::strerror(space.error));
        return false;
    }
    if (!space.problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", drive.name.c_str(), image_damage(space.problem).c_str());
        return false;
    }
    sectors = space.sectors;
    return true;
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
    std::uint64_t sectors = disc.folder.image_sectors;
    const bool named_drive = image.stream == nullptr;
    if (named_drive && !volume_sectors(image, css, sectors)) {
        return false;
    }
    const OpenedImage relisted = open_disc_image(image, sectors, named_drive || is_block_device(image), &css);
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

#include "disc/vob_set.hpp"

#include <algorithm>

#include "demux/demux_common.hpp"

namespace packrift {

namespace {

constexpr int FIRST_VOB_PART = 1;
constexpr const char* VOB_EXTENSION = ".VOB";

// The whole sectors of an image's file that lie in the image, as extents:
// a file whose extent passes the image's end is cut short there.
std::vector<ImageExtent> extents_in_image(const std::vector<ImageExtent>& extents, std::uint64_t image_sectors) {
    std::vector<ImageExtent> inside;
    for (const ImageExtent& extent : extents) {
        const std::uint64_t room = extent.sector < image_sectors ? image_sectors - extent.sector : 0;
        const std::uint64_t sectors = std::min(extent.bytes / SECTOR_SIZE, room);
        if (sectors > 0) {
            inside.push_back({extent.sector, sectors * SECTOR_SIZE});
        }
        if (sectors * SECTOR_SIZE != extent.bytes) {
            break;
        }
    }
    return inside;
}

}  // namespace

VobSet find_vob_files(const DiscFolder& folder, int title_set) {
    VobSet set;
    for (int part = FIRST_VOB_PART; part < FIRST_VOB_PART + static_cast<int>(MOST_VOB_FILES); ++part) {
        const FolderEntry* entry = find_file(folder, title_set_file_name(title_set, part, VOB_EXTENSION));
        // A gap would shift every sector after it: the set ends there.
        if (entry == nullptr) {
            break;
        }
        VobFile file{path_in_folder(folder.path, entry->name), entry->name, entry->size / SECTOR_SIZE, {}};
        if (const ImageFile* in_image = image_file_of(folder, *entry)) {
            // A damaged entry's size is not known, so no sector after its
            // start can be placed: the set ends there, and says why.
            if (!in_image->problem.empty()) {
                set.damage = in_image->problem;
                break;
            }
            file.extents = extents_in_image(in_image->extents, folder.image_sectors);
            file.sectors = 0;
            for (const ImageExtent& extent : file.extents) {
                file.sectors += extent.bytes / SECTOR_SIZE;
            }
        }
        set.files.push_back(std::move(file));
        set.sectors += set.files.back().sectors;
    }
    return set;
}

std::optional<SectorPlace> place_of_sector(const VobSet& set, std::uint64_t sector) {
    for (std::size_t i = 0; i < set.files.size(); ++i) {
        if (sector < set.files[i].sectors) {
            return SectorPlace{i, sector};
        }
        sector -= set.files[i].sectors;
    }
    return std::nullopt;
}

bool lies_within(const VobSet& set, std::uint64_t first_sector, std::uint64_t last_sector) {
    return first_sector <= last_sector && last_sector < set.sectors;
}

}  // namespace packrift

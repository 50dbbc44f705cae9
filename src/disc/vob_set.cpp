#include "disc/vob_set.hpp"

#include "demux/demux_common.hpp"

namespace packrift {

namespace {

constexpr int FIRST_VOB_PART = 1;
constexpr const char* VOB_EXTENSION = ".VOB";

}  // namespace

VobSet find_vob_files(const DiscFolder& folder, int title_set) {
    VobSet set;
    for (int part = FIRST_VOB_PART; part < FIRST_VOB_PART + static_cast<int>(MOST_VOB_FILES); ++part) {
        const FolderEntry* entry = find_file(folder, title_set_file_name(title_set, part, VOB_EXTENSION));
        // A gap would shift every sector after it: the set ends there.
        if (entry == nullptr) {
            break;
        }
        set.files.push_back({path_in_folder(folder.path, entry->name), entry->name, entry->size / SECTOR_SIZE});
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

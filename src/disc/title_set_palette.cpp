#include "disc/title_set_palette.hpp"

#include "disc/disc_folder.hpp"
#include "disc/image_scan.hpp"
#include "io/folder.hpp"
#include "io/platform.hpp"

namespace packrift {

namespace {

// "VTS_", two digits, "_", one digit from 1, ".VOB".
constexpr std::size_t VOB_NAME_SIZE = sizeof "VTS_01_1.VOB" - 1;
constexpr std::size_t SET_DIGITS_AT = 4;
constexpr std::size_t PART_SEPARATOR_AT = 6;
constexpr std::size_t PART_DIGIT_AT = 7;
constexpr std::size_t EXTENSION_AT = 8;
constexpr int DECIMAL = 10;

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

bool matches(const std::string& name, std::size_t at, const std::string& text) {
    return same_name_any_case(name.substr(at, text.size()), text);
}

// The title set a title VOB file's name gives, or 0.
int title_set_of(const std::string& name) {
    if (name.size() != VOB_NAME_SIZE || !matches(name, 0, "VTS_") || !is_digit(name[SET_DIGITS_AT]) ||
        !is_digit(name[SET_DIGITS_AT + 1]) || name[PART_SEPARATOR_AT] != '_' || !is_digit(name[PART_DIGIT_AT]) ||
        name[PART_DIGIT_AT] == '0' || !matches(name, EXTENSION_AT, ".VOB")) {
        return 0;
    }
    return (name[SET_DIGITS_AT] - '0') * DECIMAL + (name[SET_DIGITS_AT + 1] - '0');
}

std::optional<Palette> palette_of_set_in(const std::string& folder, int title_set) {
    std::optional<std::vector<FolderEntry>> entries = list_folder(folder);
    if (!entries) {
        return std::nullopt;
    }
    DiscFolder disc;
    disc.path = folder;
    disc.entries = std::move(*entries);
    const LoadedIfo<TitleSetInfo> loaded = load_title_set(disc, title_set);
    if (!loaded.failure.empty() || loaded.record.program_chains.empty()) {
        return std::nullopt;
    }
    return loaded.record.program_chains.front().palette;
}

}  // namespace

std::optional<Palette> palette_beside(const std::string& vob_path) {
    const int title_set = title_set_of(last_name_of(vob_path));
    if (title_set != 0) {
        if (std::optional<Palette> palette = palette_of_set_in(folder_of(vob_path), title_set)) {
            return palette;
        }
    }
    // A link of any name to a disc's VOB file, or one so named to a file elsewhere.
    const std::optional<std::string> target = link_target(vob_path);
    if (!target) {
        return std::nullopt;
    }
    const int target_set = title_set_of(last_name_of(*target));
    const int set = target_set != 0 ? target_set : title_set;
    return set != 0 ? palette_of_set_in(folder_of(*target), set) : std::nullopt;
}

}  // namespace packrift

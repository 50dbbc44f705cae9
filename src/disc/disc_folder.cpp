#include "disc/disc_folder.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "demux/demux_common.hpp"
#include "disc/image_scan.hpp"
#include "io/byte_view.hpp"
#include "io/file_io.hpp"

namespace packrift {

namespace {

constexpr const char* VIDEO_TS_FOLDER = "VIDEO_TS";
constexpr const char* VIDEO_MANAGER_NAME = "VIDEO_TS";
constexpr const char* IFO_EXTENSION = ".IFO";
constexpr const char* BACKUP_EXTENSION = ".BUP";
constexpr const char* NOT_SOUND = ": not a sound IFO file (";

const FolderEntry* find_entry(const std::vector<FolderEntry>& entries, const std::string& name, bool folder) {
    for (const FolderEntry& entry : entries) {
        if (entry.folder == folder && same_name_any_case(entry.name, name)) {
            return &entry;
        }
    }
    return nullptr;
}

bool holds_video_manager(const std::vector<FolderEntry>& entries) {
    return find_entry(entries, std::string(VIDEO_MANAGER_NAME) + IFO_EXTENSION, false) != nullptr ||
           find_entry(entries, std::string(VIDEO_MANAGER_NAME) + BACKUP_EXTENSION, false) != nullptr;
}

// One copy of an IFO file: its record, or why it cannot be used.
template <typename Record>
LoadedIfo<Record> load_copy(const DiscFolder& folder, const std::string& name,
                            Parsed<Record> (*parse)(ByteView)) {
    LoadedIfo<Record> loaded;
    const FolderEntry* entry = find_file(folder, name);
    if (entry == nullptr) {
        loaded.failure = name + ": " + std::strerror(ENOENT);
        return loaded;
    }
    std::vector<unsigned char> bytes;
    const std::string failure = read_disc_file(folder, *entry, IFO_SIZE_LIMIT, bytes);
    if (!failure.empty()) {
        loaded.failure = entry->name + ": " + failure;
        return loaded;
    }
    Parsed<Record> parsed = parse(view_of(bytes.data(), bytes.size()));
    if (!parsed.problem.empty()) {
        loaded.failure = entry->name + NOT_SOUND + parsed.problem + ")";
        return loaded;
    }
    loaded.record = std::move(parsed.record);
    return loaded;
}

// The IFO file, or its backup when the file is not to be used. When both
// fail, the file's own failure is told, or the backup's if the file is missing.
template <typename Record>
LoadedIfo<Record> load_with_backup(const DiscFolder& folder, const std::string& base,
                                   Parsed<Record> (*parse)(ByteView)) {
    LoadedIfo<Record> file = load_copy(folder, base + IFO_EXTENSION, parse);
    if (file.failure.empty()) {
        return file;
    }
    LoadedIfo<Record> backup = load_copy(folder, base + BACKUP_EXTENSION, parse);
    const bool file_missing = find_file(folder, base + IFO_EXTENSION) == nullptr;
    const bool backup_missing = find_file(folder, base + BACKUP_EXTENSION) == nullptr;
    if (!backup.failure.empty() && (!file_missing || backup_missing)) {
        backup.failure = file.failure;
    }
    return backup;
}

// ASCII letters in lower case, and what Windows forbids in a name as '_'.
std::string file_name_of_volume(const std::string& volume) {
    constexpr const char* FORBIDDEN = "<>:\"/\\|?*";
    constexpr char LOWEST_PRINTABLE = ' ';
    std::string name;
    for (char c : volume) {
        const bool forbidden = std::strchr(FORBIDDEN, c) != nullptr ||
                               static_cast<unsigned char>(c) < static_cast<unsigned char>(LOWEST_PRINTABLE);
        name += forbidden ? '_' : c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return name;
}

}  // namespace

ImageReader image_reader(NamedFile& image, std::uint64_t sectors) {
    NamedFile* file = &image;
    return {[file](std::uint64_t sector, std::size_t count, unsigned char* bytes) {
                if (!seek_file(*file, sector * SECTOR_SIZE)) {
                    return error_or_io_failure();
                }
                const ReadOutcome outcome = read_items(*file, bytes, SECTOR_SIZE, count);
                // The image's size was taken before: a short read is a failure.
                return outcome.items == count ? 0 : outcome.error != 0 ? outcome.error : EIO;
            },
            sectors};
}

ImageReader css_image_reader(CssDisc& css, std::uint64_t sectors) {
    CssDisc* disc = &css;
    return {[disc](std::uint64_t sector, std::size_t count, unsigned char* bytes) {
                const ReadOutcome outcome = read_css_sectors(*disc, sector, count, false, bytes);
                return outcome.items == count ? 0 : outcome.error != 0 ? outcome.error : EIO;
            },
            sectors};
}

OpenedImage open_disc_image(NamedFile& image, std::uint64_t sectors, bool device, CssDisc* css) {
    OpenedImage opened;
    const ImageListing listing =
        read_image_listing(css != nullptr ? css_image_reader(*css, sectors) : image_reader(image, sectors));
    if (listing.error != 0) {
        opened.failure = image.name + ": " + std::strerror(listing.error);
    } else if (!listing.problem.empty()) {
        opened.failure = image.name + ": " + image_damage(listing.problem);
    } else if (!listing.video_ts) {
        opened.failure = image.name + ": no DVD-Video on this image (no VIDEO_TS folder)";
    }
    if (!opened.failure.empty()) {
        return opened;
    }
    DiscFolder& folder = opened.folder;
    // Files inside the image are named in messages as a path below it.
    folder.path = path_in_folder(image.name, VIDEO_TS_FOLDER);
    folder.image = &image;
    folder.image_sectors = sectors;
    folder.css = css;
    folder.image_files = listing.files;
    for (const ImageFile& file : listing.files) {
        folder.entries.push_back({file.name, file.folder, file.size});
    }
    folder.name = image_disc_name(image.name, listing.volume, device);
    if (!holds_video_manager(folder.entries)) {
        opened.failure = image.name + ": no VIDEO_TS.IFO here, so not a DVD-Video folder";
    }
    return opened;
}

std::string image_damage(const std::string& problem) {
    return "the image's file system is damaged (" + problem + ")";
}

const ImageFile* image_file_of(const DiscFolder& folder, const FolderEntry& entry) {
    if (folder.image == nullptr || &entry < folder.entries.data() ||
        &entry >= folder.entries.data() + folder.entries.size()) {
        return nullptr;
    }
    return &folder.image_files.at(static_cast<std::size_t>(&entry - folder.entries.data()));
}

std::string read_disc_file(const DiscFolder& folder, const FolderEntry& entry, std::size_t limit,
                           std::vector<unsigned char>& bytes) {
    const ImageFile* file = image_file_of(folder, entry);
    if (file == nullptr) {
        const int error = read_small_file(path_in_folder(folder.path, entry.name), limit, bytes);
        return error == 0 ? std::string() : std::strerror(error);
    }
    if (!file->problem.empty()) {
        return image_damage(file->problem);
    }
    if (file->size > limit) {
        return std::strerror(EFBIG);
    }
    const ImageReader reader = folder.css != nullptr ? css_image_reader(*folder.css, folder.image_sectors)
                                                     : image_reader(*folder.image, folder.image_sectors);
    const int error = read_image_file(reader, file->extents, file->size, bytes);
    if (error == PAST_IMAGE_END) {
        return "it lies past the end of the image";
    }
    return error == 0 ? std::string() : std::strerror(error);
}

std::string image_disc_name(const std::string& path, const std::string& volume, bool device) {
    constexpr const char* NAMELESS_DISC = "dvd";
    if (device) {
        const std::string name = file_name_of_volume(volume);
        return name.empty() ? NAMELESS_DISC : name;
    }
    const std::vector<std::string> names = full_path_names(path);
    std::string name = names.empty() ? NAMELESS_DISC : names.back();
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::optional<DiscFolder> find_disc_folder(const std::string& path) {
    std::optional<std::vector<FolderEntry>> entries = list_folder(path);
    if (!entries) {
        return std::nullopt;
    }
    if (holds_video_manager(*entries)) {
        DiscFolder folder;
        folder.path = path;
        folder.entries = std::move(*entries);
        return folder;
    }
    const FolderEntry* video_ts = find_entry(*entries, VIDEO_TS_FOLDER, true);
    if (video_ts == nullptr) {
        return std::nullopt;
    }
    DiscFolder inner;
    inner.path = path_in_folder(path, video_ts->name);
    entries = list_folder(inner.path);
    if (!entries || !holds_video_manager(*entries)) {
        return std::nullopt;
    }
    inner.entries = std::move(*entries);
    return inner;
}

const FolderEntry* find_file(const DiscFolder& folder, const std::string& name) {
    return find_entry(folder.entries, name, false);
}

std::string disc_name(const std::string& path) {
    constexpr const char* ROOT_DISC_NAME = "dvd";
    std::vector<std::string> names = full_path_names(path);
    if (!names.empty() && same_name_any_case(names.back(), VIDEO_MANAGER_NAME)) {
        names.pop_back();
    }
    return names.empty() ? ROOT_DISC_NAME : names.back();
}

std::string title_set_file_name(int title_set, int part, const char* extension) {
    // A title set is 01 to 99 (the title table is checked for it), a part 0 to 9.
    constexpr unsigned TITLE_SETS = 100;
    constexpr unsigned PARTS = 10;
    char name[sizeof "VTS_99_9"];
    std::snprintf(name, sizeof name, "VTS_%02u_%u", static_cast<unsigned>(title_set) % TITLE_SETS,
                  static_cast<unsigned>(part) % PARTS);
    return name + std::string(extension);
}

LoadedIfo<VideoManager> load_video_manager(const DiscFolder& folder) {
    return load_with_backup(folder, VIDEO_MANAGER_NAME, &parse_video_manager);
}

LoadedIfo<TitleSetInfo> load_title_set(const DiscFolder& folder, int title_set) {
    return load_with_backup(folder, title_set_file_name(title_set, 0, ""), &parse_title_set);
}

}  // namespace packrift

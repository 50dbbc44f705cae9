#include "disc/disc_folder.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "io/byte_view.hpp"
#include "io/file_io.hpp"

namespace packrift {

namespace {

constexpr const char* VIDEO_TS_FOLDER = "VIDEO_TS";
constexpr const char* VIDEO_MANAGER_NAME = "VIDEO_TS";
constexpr const char* IFO_EXTENSION = ".IFO";
constexpr const char* BACKUP_EXTENSION = ".BUP";
constexpr const char* NOT_SOUND = ": not a sound IFO file (";

// Upper case of the ASCII letters only: disc names are ASCII, and a name
// of other letters is then compared as it is.
char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool same_name(const std::string& one, const std::string& other) {
    if (one.size() != other.size()) {
        return false;
    }
    for (std::size_t i = 0; i < one.size(); ++i) {
        if (upper(one[i]) != upper(other[i])) {
            return false;
        }
    }
    return true;
}

const FolderEntry* find_entry(const std::vector<FolderEntry>& entries, const std::string& name, bool folder) {
    for (const FolderEntry& entry : entries) {
        if (entry.folder == folder && same_name(entry.name, name)) {
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
    const int error = read_small_file(path_in_folder(folder.path, entry->name), IFO_SIZE_LIMIT, bytes);
    if (error != 0) {
        loaded.failure = entry->name + ": " + std::strerror(error);
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

}  // namespace

std::optional<DiscFolder> find_disc_folder(const std::string& path) {
    std::optional<std::vector<FolderEntry>> entries = list_folder(path);
    if (!entries) {
        return std::nullopt;
    }
    if (holds_video_manager(*entries)) {
        return DiscFolder{path, std::move(*entries)};
    }
    const FolderEntry* video_ts = find_entry(*entries, VIDEO_TS_FOLDER, true);
    if (video_ts == nullptr) {
        return std::nullopt;
    }
    DiscFolder inner{path_in_folder(path, video_ts->name), {}};
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
    if (!names.empty() && same_name(names.back(), VIDEO_MANAGER_NAME)) {
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

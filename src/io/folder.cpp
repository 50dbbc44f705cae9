#include "io/folder.hpp"

#include <filesystem>
#include <system_error>

namespace packrift {

namespace {

namespace fs = std::filesystem;

// Through char8_t, so that the UTF-8 bytes are taken as UTF-8 on every system.
fs::path path_from_utf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string utf8_of(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

FolderEntry entry_of(const fs::directory_entry& entry) {
    std::error_code error;
    FolderEntry result;
    result.name = utf8_of(entry.path().filename());
    result.folder = entry.is_directory(error);
    if (!result.folder) {
        const std::uintmax_t size = entry.file_size(error);
        result.size = error ? 0 : static_cast<std::uint64_t>(size);
    }
    return result;
}

}  // namespace

bool is_folder(const std::string& path) {
    std::error_code error;
    return !path.empty() && fs::is_directory(path_from_utf8(path), error);
}

std::optional<std::vector<FolderEntry>> list_folder(const std::string& path) {
    std::error_code error;
    fs::directory_iterator entries(path_from_utf8(path), error);
    if (error) {
        return std::nullopt;
    }
    std::vector<FolderEntry> result;
    // Stepped with an error code: a failing step must not throw.
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        result.push_back(entry_of(*entries));
    }
    if (error) {
        return std::nullopt;
    }
    return result;
}

std::vector<std::string> full_path_names(const std::string& path) {
    std::error_code error;
    fs::path full = fs::absolute(path_from_utf8(path), error);
    if (error) {
        full = path_from_utf8(path);
    }
    std::vector<std::string> names;
    for (const fs::path& part : full.lexically_normal().relative_path()) {
        const std::string name = utf8_of(part);
        if (!name.empty()) {
            names.push_back(name);
        }
    }
    return names;
}

std::string path_in_folder(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\') {
        return folder + name;
    }
    return folder + "/" + name;
}

}  // namespace packrift

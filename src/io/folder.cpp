#include "io/folder.hpp"

#include "io/platform.hpp"

namespace packrift {

namespace {

// Names are joined as the system writes them; Windows takes both.
#ifdef _WIN32
constexpr char SEPARATOR = '\\';
constexpr char OTHER_SEPARATOR = '/';
#else
constexpr char SEPARATOR = '/';
constexpr char OTHER_SEPARATOR = '/';
#endif

bool is_separator(char c) {
    return c == SEPARATOR || c == OTHER_SEPARATOR;
}

// The names between separators, "." dropped and ".." taking the name before.
std::vector<std::string> normal_names(const std::string& path) {
    std::vector<std::string> names;
    std::string name;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !is_separator(path[i])) {
            name += path[i];
            continue;
        }
        if (name == "..") {
            if (!names.empty()) {
                names.pop_back();
            }
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        name.clear();
    }
    return names;
}

}  // namespace

bool is_folder(const std::string& path) {
    return !path.empty() && is_folder_path(path);
}

std::optional<std::vector<FolderEntry>> list_folder(const std::string& path) {
    return list_folder_entries(path);
}

std::vector<std::string> full_path_names(const std::string& path) {
    std::vector<std::string> names = normal_names(full_path_of(path));
#ifdef _WIN32
    // A drive ("D:") is the root, not a folder's name.
    if (!names.empty() && names.front().size() == 2 && names.front()[1] == ':') {
        names.erase(names.begin());
    }
#endif
    return names;
}

std::string folder_of(const std::string& path) {
#ifdef _WIN32
    // "D:\name" lies in the drive's root, "D:name" in the drive's current folder.
    constexpr std::size_t DRIVE_SIZE = 2;
    const bool drive = path.size() >= DRIVE_SIZE && path[1] == ':';
#else
    constexpr std::size_t DRIVE_SIZE = 0;
    const bool drive = false;
#endif
    for (std::size_t i = path.size(); i > 0; --i) {
        if (is_separator(path[i - 1])) {
            const bool root = i == 1 || (drive && i == DRIVE_SIZE + 1);
            return root ? path.substr(0, i) : path.substr(0, i - 1);
        }
    }
    return drive ? path.substr(0, DRIVE_SIZE) : ".";
}

std::string last_name_of(const std::string& path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (is_separator(path[i - 1])) {
            return path.substr(i);
        }
    }
    return path;
}

std::string path_in_folder(const std::string& folder, const std::string& name) {
    if (folder.empty() || is_separator(folder.back())) {
        return folder + name;
    }
    return folder + SEPARATOR + name;
}

}  // namespace packrift

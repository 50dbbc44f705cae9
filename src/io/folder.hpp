#pragma once
// Folders, for a disc given as its folder: whether a name is one, and what it
// holds. Names are UTF-8 strings, as everywhere in packrift; they become
// system paths here only, without the ANSI code page in between on Windows.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/platform.hpp"

namespace packrift {

// Whether path names a folder (a link to one counts).
bool is_folder(const std::string& path);

// What the folder holds, in no particular order; nothing when it cannot be listed.
std::optional<std::vector<FolderEntry>> list_folder(const std::string& path);

// The names of the folders that lead to path, made absolute and with "."
// and ".." resolved, path's own last; none for a root ("/", "D:\").
std::vector<std::string> full_path_names(const std::string& path);

// The folder part of a path ("." when it has none) and its last name.
std::string folder_of(const std::string& path);
std::string last_name_of(const std::string& path);

// The name of an entry of folder, joined with the separator every system takes.
std::string path_in_folder(const std::string& folder, const std::string& name);

}  // namespace packrift

#pragma once
// A disc as a folder: its VIDEO_TS folder, the files in it found by name in
// any case, and its IFO files read whole, each from its backup copy when the
// file itself cannot be read or is not sound.

#include <optional>
#include <string>
#include <vector>

#include "disc/ifo_tables.hpp"
#include "io/folder.hpp"

namespace packrift {

struct DiscFolder {
    std::string path;  // of the VIDEO_TS folder, UTF-8
    std::vector<FolderEntry> entries;
};

// The VIDEO_TS folder of the disc named by path: path itself when it holds
// VIDEO_TS.IFO or VIDEO_TS.BUP, otherwise its folder VIDEO_TS when that one
// does. Names in any case. Nothing when neither holds them.
std::optional<DiscFolder> find_disc_folder(const std::string& path);

// The file of the folder named name in any case of its letters, or null.
const FolderEntry* find_file(const DiscFolder& folder, const std::string& name);

// An IFO file's record, or the line that says why neither copy could be
// used ("VTS_01_0.IFO: not a sound IFO file (truncated)", the name as it is
// on the disc).
template <typename Record>
struct LoadedIfo {
    Record record;
    std::string failure;
};

LoadedIfo<VideoManager> load_video_manager(const DiscFolder& folder);
LoadedIfo<TitleSetInfo> load_title_set(const DiscFolder& folder, int title_set);

// What a disc's outputs are named after: the last name of its folder's
// full path, or its parent's when that is VIDEO_TS in any case; "dvd" for
// a drive's root.
std::string disc_name(const std::string& path);

// "VTS_01_0.IFO" for title set 1: a title set's file name, in upper case.
std::string title_set_file_name(int title_set, int part, const char* extension);

// IFO files are small; a larger file is not one, and is not read into memory.
inline constexpr std::size_t IFO_SIZE_LIMIT = 16 * 1024 * 1024;

}  // namespace packrift

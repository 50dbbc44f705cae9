#pragma once
// A disc as a folder or as an image: its VIDEO_TS folder, the files in it
// found by name in any case, and its IFO files read whole, each from its
// backup copy when the file itself cannot be read or is not sound. What
// follows reads a disc's files through here alone, the same for both.

#include <optional>
#include <string>
#include <vector>

#include "disc/disc_image.hpp"
#include "disc/ifo_tables.hpp"
#include "io/css_disc.hpp"
#include "io/file_io.hpp"
#include "io/folder.hpp"

namespace packrift {

struct DiscFolder {
    std::string path;  // of the VIDEO_TS folder, UTF-8; on an image, "film.iso/VIDEO_TS"
    std::vector<FolderEntry> entries;
    // An image's: the open image, its whole sectors, and entry by entry
    // where its bytes lie in it. None for a folder.
    NamedFile* image = nullptr;
    std::uint64_t image_sectors = 0;
    std::vector<ImageFile> image_files;
    std::string name;  // what an image's outputs are named after
    // Where an image's sectors are read through libdvdcss instead, as they
    // are once its title is found scrambled; null otherwise.
    CssDisc* css = nullptr;
};

// The VIDEO_TS folder of the disc named by path: path itself when it holds
// VIDEO_TS.IFO or VIDEO_TS.BUP, otherwise its folder VIDEO_TS when that one
// does. Names in any case. Nothing when neither holds them.
std::optional<DiscFolder> find_disc_folder(const std::string& path);

// The disc on the image that file has open, or the line that says why
// there is none ("film.iso: no DVD-Video on this image (no VIDEO_TS folder)").
struct OpenedImage {
    DiscFolder folder;
    std::string failure;
};
// With css, every sector of the image is read through libdvdcss instead.
OpenedImage open_disc_image(NamedFile& image, std::uint64_t sectors, bool device, CssDisc* css = nullptr);

// The image's sectors, for the file system reader.
ImageReader image_reader(NamedFile& image, std::uint64_t sectors);

// The same sectors through libdvdcss, unaltered (DVDCSS_NOFLAGS): file
// system and IFO sectors are never scrambled, and a decrypting read would
// alter one whose byte 0x14 happens to look like a scrambled pack's.
ImageReader css_image_reader(CssDisc& css, std::uint64_t sectors);

// The bytes of a file of the disc, up to limit; empty, or why they could
// not be had ("No such file or directory").
std::string read_disc_file(const DiscFolder& folder, const FolderEntry& entry, std::size_t limit,
                           std::vector<unsigned char>& bytes);

// "the image's file system is damaged (problem)", problem being what the
// file system reader found.
std::string image_damage(const std::string& problem);

// An image's file, where entry is one of folder's entries; null for a folder.
const ImageFile* image_file_of(const DiscFolder& folder, const FolderEntry& entry);

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

// What an image's outputs are named after: the image's file name without
// its last extension, or for a drive its volume's identifier in lower case,
// with the characters Windows forbids in names as '_'; "dvd" when it has none.
std::string image_disc_name(const std::string& path, const std::string& volume, bool device);

// "VTS_01_0.IFO" for title set 1: a title set's file name, in upper case.
std::string title_set_file_name(int title_set, int part, const char* extension);

// IFO files are small; a larger file is not one, and is not read into memory.
inline constexpr std::size_t IFO_SIZE_LIMIT = 16 * 1024 * 1024;

}  // namespace packrift

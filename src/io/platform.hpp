#pragma once
// What differs between systems: opening a file by its name, telling whether
// two open files are one, what the processor can run, loading the user's
// libdvdcss, and, on Windows, the wide arguments and the console's code
// page. Names are UTF-8 throughout.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace packrift {

// Opens a file in binary mode for reading ("rb"). Names are UTF-8.
std::FILE* open_binary_file(const char* name, const char* mode);

// Opens a file in binary mode for writing, created when it is missing but
// not emptied: until it is known not to be a file that is open already,
// nothing of it may be lost.
std::FILE* open_binary_untruncated(const char* name);

// Which file an open stream is, whatever name reached it: device and inode
// numbers on POSIX systems, volume serial number and file index on Windows.
struct FileIdentity {
    bool regular = false;  // a FIFO, a device or a terminal is not
    bool empty = true;     // a regular file of no bytes
    std::uint64_t size = 0;  // of a regular file
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
};

// False (errno set) when the system cannot tell.
bool file_identity(std::FILE* stream, FileIdentity& identity);

// The size of an open block device (a drive read as a disc image); false
// for anything else, and always on Windows, where a drive is not opened as
// a file (see drive_of_root).
bool block_device_size(std::FILE* stream, std::uint64_t& size);

// Empties an open regular file; false (errno set) when that fails.
bool truncate_file(std::FILE* stream);

// Whether the processor runs AVX2 instructions and the system keeps their
// 32-byte registers: false on other processors, and where a build cannot tell.
bool processor_has_avx2();

// Places the stream at offset bytes from the start, past 2 GiB too; false
// (errno set) when it cannot seek.
bool seek_stream(std::FILE* stream, std::uint64_t offset);

// An entry of a folder, as the file system names it.
struct FolderEntry {
    std::string name;
    bool folder = false;
    std::uint64_t size = 0;  // of a file; 0 for a folder
};

// Whether path names a folder (a link to one counts).
bool is_folder_path(const std::string& path);

// For several runs in one process (every title of a disc): each block the
// runs allocate and release goes back to the system at its release, so
// that no run keeps the memory of an earlier one resident. Nothing where
// the system's allocator does so already (Windows maps large blocks apart).
void keep_blocks_mapped();

// What the folder holds, in no particular order; nothing when it cannot be listed.
std::optional<std::vector<FolderEntry>> list_folder_entries(const std::string& path);

// path made absolute (on Windows also with "." and ".." resolved); path
// itself when the current folder cannot be had.
std::string full_path_of(const std::string& path);

// The file a symbolic link names, all links on the way resolved; nothing
// when path is no link (links are not followed on Windows).
std::optional<std::string> link_target(const std::string& path);

// Stopping a run from outside: SIGINT, SIGTERM and SIGHUP on POSIX systems;
// Ctrl-C, Ctrl-Break and the closing of the console window on Windows. The
// handlers only note the request; the run stops at the next sector and cleans
// up itself. A read waiting on a pipe returns at a signal (it is not
// restarted), but not at a console event: on Windows the run stops once that
// read has returned.
void install_stop_handlers();

// The stop asked for: the signal's number on POSIX systems, 1 on Windows;
// 0 until then. Read at every sector, so it is read in place.
extern std::atomic<int> stop_request;
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may only store to a lock-free atomic");

inline bool stop_requested() {
    return stop_request.load(std::memory_order_relaxed) != 0;
}

// Ends a stopped run once its outputs are closed, as the system ends a
// program that takes no notice of the stop: the signal's default action on
// POSIX systems (the shell sees status 128 + the signal), the status of a
// console program ended by Ctrl-C on Windows, which is returned.
int end_stopped_run();

// The source of the mount that holds path, in the text of a Linux
// /proc/self/mountinfo: the deepest mount point that path (absolute, links
// resolved) lies in, when its source is a device ("/dev/sr0"), the whole
// device is mounted there (its root "/") and path is the mount point or its
// VIDEO_TS folder: the disc the device holds. Nothing otherwise (a copy of
// a disc in a folder of the mount is not that disc).
std::optional<std::string> mount_source_in(const std::string& mountinfo, const std::string& path);

// The block device whose file system holds the folder path (a mounted
// disc's drive), from /proc/self/mountinfo; nothing where there is none,
// and always on Windows.
std::optional<std::string> drive_of_folder(const std::string& path);

// The device name by which libdvdcss opens a drive ("D:"), where full_path,
// a full Windows path, is a drive's root or its VIDEO_TS folder: "D:", "D:\",
// "D:/", "D:\VIDEO_TS" (in any case, with a separator at its end too).
// Nothing for any other path (a copy kept in a folder of the disc is not the disc).
std::optional<std::string> drive_root_device_in(const std::string& full_path);

// On Windows, where path is the root (or its VIDEO_TS) of a CD-ROM drive,
// the drive's device name for libdvdcss ("D:"); nothing otherwise, and
// always on other systems, where a drive is a block device.
std::optional<std::string> drive_of_root(const std::string& path);

// libdvdcss's five functions, as its documented interface declares them
// (a dvdcss_t is a pointer to the library's own record): packrift links
// nothing of it and takes no header from it.
struct CssFunctions {
    void* (*open)(const char* target);
    int (*close)(void* disc);
    int (*seek)(void* disc, int blocks, int flags);
    int (*read)(void* disc, void* buffer, int blocks, int flags);
    const char* (*error)(void* disc);
};

// Names the library file instead of the system's search: a fact of the
// machine, as LD_LIBRARY_PATH is.
inline constexpr const char* LIBDVDCSS_VARIABLE = "PACKRIFT_LIBDVDCSS";

// Loads the user's libdvdcss the first time it is asked for: the file that
// PACKRIFT_LIBDVDCSS names, else libdvdcss.so.2 through the system's search
// (on Windows libdvdcss-2.dll from packrift.exe's folder or the system's,
// never from the current folder). Null when it cannot be loaded or lacks
// one of the five functions, reason then saying why in the loader's words.
const CssFunctions* load_libdvdcss(std::string& reason);

#ifdef _WIN32
// A UTF-16 argument of wmain as UTF-8.
std::string utf8_from_wide(const wchar_t* text);

// Lets the console show the UTF-8 names packrift prints, until restore_console
// gives it back the code page it had.
void use_utf8_console();
void restore_console();
#endif

}  // namespace packrift

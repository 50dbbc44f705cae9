#include "io/platform.hpp"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#endif

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <immintrin.h>
#include <intrin.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace packrift {

std::atomic<int> stop_request{0};

namespace {

// Any function's address, to be copied into the pointer of its own type.
using CssAddress = void (*)();

#ifdef _WIN32
std::string css_library_name;  // for the reasons of the library being looked into
#endif

// The library, or null with reason set; each system's own below.
void* open_css_library(std::string& reason);
CssAddress find_css_function(void* library, const char* function, std::string& reason);
void close_css_library(void* library);

template <typename Function>
bool take_css_function(void* library, const char* name, Function& function, std::string& reason) {
    const CssAddress address = find_css_function(library, name, reason);
    static_assert(sizeof function == sizeof address, "function pointers of one size");
    std::memcpy(&function, &address, sizeof address);
    return address != nullptr;
}

// PACKRIFT_LIBDVDCSS names a library by its full path: a relative one
// would be looked for from the current folder, where anyone who can write
// a file could plant it.
bool is_full_path(const std::string& path) {
#ifdef _WIN32
    constexpr std::size_t DRIVE_PREFIX = 3;  // "D:\\"
    const bool drive = path.size() >= DRIVE_PREFIX && std::isalpha(static_cast<unsigned char>(path[0])) != 0 &&
                       path[1] == ':' && (path[2] == '\\' || path[2] == '/');
    return drive || path.rfind("\\\\", 0) == 0;
#else
    return !path.empty() && path.front() == '/';
#endif
}

std::string not_a_full_path(const std::string& name) {
    return std::string(LIBDVDCSS_VARIABLE) + " names " + name + ", which is not a full path";
}

struct LoadedCss {
    bool loaded = false;
    CssFunctions functions{};
    std::string reason;
};

// All five functions, or none used: a library without one is as if absent.
LoadedCss load_css_once() {
    LoadedCss css;
    void* library = open_css_library(css.reason);
    if (library == nullptr) {
        return css;
    }
    CssFunctions& f = css.functions;
    css.loaded = take_css_function(library, "dvdcss_open", f.open, css.reason) &&
                 take_css_function(library, "dvdcss_close", f.close, css.reason) &&
                 take_css_function(library, "dvdcss_seek", f.seek, css.reason) &&
                 take_css_function(library, "dvdcss_read", f.read, css.reason) &&
                 take_css_function(library, "dvdcss_error", f.error, css.reason);
    if (!css.loaded) {
        close_css_library(library);
    }
    return css;
}

}  // namespace

namespace {

// A mount point as mountinfo writes it: space, tab, newline and backslash
// as \ and three octal digits.
std::string unescaped(const std::string& field) {
    constexpr std::size_t ESCAPE_LENGTH = 4;
    constexpr int OCTAL = 8;
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + ESCAPE_LENGTH <= field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' &&
            field[i + 2] >= '0' && field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            text += static_cast<char>(((field[i + 1] - '0') * OCTAL + (field[i + 2] - '0')) * OCTAL + (field[i + 3] - '0'));
            i += ESCAPE_LENGTH - 1;
        } else {
            text += field[i];
        }
    }
    return text;
}

// Whether path is the mount point itself or its VIDEO_TS folder (in any
// case): a disc's own folder, not a copy kept in a folder of the mount.
bool is_disc_root(const std::string& path, const std::string& mount_point) {
    constexpr const char* VIDEO_TS = "/VIDEO_TS";
    if (path == mount_point) {
        return true;
    }
    const std::string base = mount_point == "/" ? std::string() : mount_point;
    const std::string folder = base + VIDEO_TS;
    if (path.size() != folder.size() || path.compare(0, base.size(), base) != 0) {
        return false;
    }
    for (std::size_t i = base.size(); i < path.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(path[i])) != folder[i]) {
            return false;
        }
    }
    return true;
}

bool lies_in(const std::string& path, const std::string& mount_point) {
    if (mount_point == "/") {
        return !path.empty() && path.front() == '/';
    }
    return path.rfind(mount_point, 0) == 0 && (path.size() == mount_point.size() || path[mount_point.size()] == '/');
}

}  // namespace

std::optional<std::string> mount_source_in(const std::string& mountinfo, const std::string& path) {
    // Fields: id, parent, major:minor, root, mount point, options, optional
    // fields up to "-", then the file system type and the source.
    constexpr std::size_t ROOT_FIELD = 3;
    constexpr std::size_t MOUNT_POINT_FIELD = 4;
    constexpr const char* DEVICE_FOLDER = "/dev/";
    std::size_t deepest = 0;
    std::optional<std::string> source;
    std::size_t start = 0;
    while (start < mountinfo.size()) {
        std::size_t end = mountinfo.find('\n', start);
        if (end == std::string::npos) {
            end = mountinfo.size();
        }
        std::vector<std::string> fields;
        std::size_t at = start;
        while (at < end) {
            const std::size_t space = std::min(mountinfo.find(' ', at), end);
            if (space > at) {
                fields.push_back(mountinfo.substr(at, space - at));
            }
            at = space + 1;
        }
        start = end + 1;
        std::size_t separator = MOUNT_POINT_FIELD + 1;
        while (separator < fields.size() && fields[separator] != "-") {
            ++separator;
        }
        if (separator + 2 >= fields.size()) {
            continue;  // not a whole line
        }
        const std::string mount_point = unescaped(fields[MOUNT_POINT_FIELD]);
        if (!lies_in(path, mount_point) || mount_point.size() < deepest) {
            continue;
        }
        // A later mount over the same point hides the earlier one.
        deepest = mount_point.size();
        const std::string from = unescaped(fields[separator + 2]);
        // A bind mount of a folder of the device (its root not "/") or a
        // folder inside the mount is not the disc the device holds.
        const bool whole_disc = fields[ROOT_FIELD] == "/" && is_disc_root(path, mount_point);
        source = whole_disc && from.rfind(DEVICE_FOLDER, 0) == 0 ? std::optional<std::string>(from) : std::nullopt;
    }
    return source;
}

std::optional<std::string> drive_root_device_in(const std::string& full_path) {
    constexpr std::size_t DEVICE_SIZE = 2;  // "D:"
    constexpr const char* VIDEO_TS = "VIDEO_TS";
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (full_path.size() < DEVICE_SIZE || std::isalpha(static_cast<unsigned char>(full_path[0])) == 0 ||
        full_path[1] != ':') {
        return std::nullopt;
    }
    std::string rest = full_path.substr(DEVICE_SIZE);
    if (!rest.empty() && separator(rest.back())) {
        rest.pop_back();
    }
    const std::size_t folder_size = 1 + std::strlen(VIDEO_TS);
    bool root = rest.empty();
    if (rest.size() == folder_size && separator(rest[0])) {
        root = true;
        for (std::size_t i = 1; i < folder_size; ++i) {
            root = root && std::toupper(static_cast<unsigned char>(rest[i])) == VIDEO_TS[i - 1];
        }
    }
    if (!root) {
        return std::nullopt;
    }
    return std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(full_path[0])))) + ":";
}

const CssFunctions* load_libdvdcss(std::string& reason) {
    static const LoadedCss css = load_css_once();
    reason = css.reason;
    return css.loaded ? &css.functions : nullptr;
}

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))

bool processor_has_avx2() {
    // CPUID leaf 1 says whether the system saves the vector registers
    // (OSXSAVE) and whether AVX is there; XCR0 whether the system saves their
    // upper halves (YMM) as well as the lower (XMM); leaf 7 whether AVX2 is there.
    constexpr int FEATURES_LEAF = 1;
    constexpr int EXTENDED_FEATURES_LEAF = 7;
    constexpr int ECX = 2;
    constexpr int EBX = 1;
    constexpr int OSXSAVE_BIT = 1 << 27;
    constexpr int AVX_BIT = 1 << 28;
    constexpr int AVX2_BIT = 1 << 5;
    constexpr unsigned long long XMM_AND_YMM_SAVED = 0x6;
    int registers[4] = {};
    __cpuid(registers, 0);
    if (registers[0] < EXTENDED_FEATURES_LEAF) {
        return false;
    }
    __cpuid(registers, FEATURES_LEAF);
    if ((registers[ECX] & OSXSAVE_BIT) == 0 || (registers[ECX] & AVX_BIT) == 0 ||
        (_xgetbv(0) & XMM_AND_YMM_SAVED) != XMM_AND_YMM_SAVED) {
        return false;
    }
    __cpuidex(registers, EXTENDED_FEATURES_LEAF, 0);
    return (registers[EBX] & AVX2_BIT) != 0;
}

#elif (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))

bool processor_has_avx2() {
    // The compiler's runtime asks CPUID, and XCR0 whether the system saves
    // the 32-byte registers; made to ask now, should this run before its own
    // start-up code has.
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

#else

bool processor_has_avx2() {
    return false;
}

#endif

#ifdef _WIN32

namespace {

// Paths of MAX_PATH characters or more open only when given whole in the
// "\\?\" form (or "\\?\UNC\" for a share), which Windows takes unaltered.
constexpr const wchar_t* LONG_PATH_PREFIX = L"\\\\?\\";
constexpr const wchar_t* LONG_UNC_PREFIX = L"\\\\?\\UNC\\";
constexpr const wchar_t* SHARE_PREFIX = L"\\\\";
constexpr const wchar_t* DEVICE_PREFIX = L"\\\\.\\";
constexpr std::size_t SHARE_PREFIX_SIZE = 2;

UINT console_code_page = 0;

bool starts_with(const std::wstring& text, const wchar_t* prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::wstring wide_from_utf8(const char* text) {
    const int size = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (size <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), size);
    wide.pop_back();  // the terminating zero
    return wide;
}

// The name as Windows opens it: unchanged when its full path is short enough,
// otherwise that full path in the long form.
std::wstring openable_path(const std::wstring& name) {
    const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (size <= MAX_PATH) {
        return name;
    }
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return name;
    }
    full.resize(length);
    if (starts_with(full, LONG_PATH_PREFIX) || starts_with(full, DEVICE_PREFIX)) {
        return full;
    }
    if (starts_with(full, SHARE_PREFIX)) {
        return LONG_UNC_PREFIX + full.substr(SHARE_PREFIX_SIZE);
    }
    return LONG_PATH_PREFIX + full;
}

}  // namespace

std::FILE* open_binary_file(const char* name, const char* mode) {
    const std::wstring path = openable_path(wide_from_utf8(name));
    // Shared like fopen's files; sets errno on failure as fopen does.
    return _wfsopen(path.c_str(), wide_from_utf8(mode).c_str(), _SH_DENYNO);
}

std::FILE* open_binary_untruncated(const char* name) {
    const std::wstring path = openable_path(wide_from_utf8(name));
    int descriptor = -1;
    const errno_t error = _wsopen_s(&descriptor, path.c_str(), _O_WRONLY | _O_CREAT | _O_BINARY, _SH_DENYNO,
                                    _S_IREAD | _S_IWRITE);
    if (error != 0) {
        errno = error;
        return nullptr;
    }
    std::FILE* stream = _fdopen(descriptor, "wb");
    if (stream == nullptr) {
        const int fdopen_error = errno;
        _close(descriptor);
        errno = fdopen_error;
    }
    return stream;
}

bool file_identity(std::FILE* stream, FileIdentity& identity) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    identity = FileIdentity{};
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        return true;  // NUL, a console or a pipe
    }
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(handle, &information) == 0) {
        errno = EIO;
        return false;
    }
    constexpr int HIGH_HALF_SHIFT = 32;
    identity.regular = true;
    identity.size = static_cast<std::uint64_t>(information.nFileSizeHigh) << HIGH_HALF_SHIFT |
                    information.nFileSizeLow;
    identity.empty = identity.size == 0;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = static_cast<std::uint64_t>(information.nFileIndexHigh) << HIGH_HALF_SHIFT |
                     information.nFileIndexLow;
    return true;
}

bool block_device_size(std::FILE* /*stream*/, std::uint64_t& size) {
    size = 0;
    return false;
}

bool truncate_file(std::FILE* stream) {
    const errno_t error = _chsize_s(_fileno(stream), 0);
    if (error != 0) {
        errno = error;
        return false;
    }
    return true;
}

bool seek_stream(std::FILE* stream, std::uint64_t offset) {
    return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
}

namespace {

// The console control handler runs on a thread of its own.
HANDLE outputs_closed = nullptr;
// Windows ends the process a few seconds after the window's close event.
constexpr DWORD CLOSE_EVENT_GRACE_MS = 4500;

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        stop_request.store(1);
        return TRUE;
    case CTRL_CLOSE_EVENT:
        stop_request.store(1);
        // Returning ends the process at once: first let the run close its outputs.
        if (outputs_closed != nullptr) {
            WaitForSingleObject(outputs_closed, CLOSE_EVENT_GRACE_MS);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void install_stop_handlers() {
    if (outputs_closed == nullptr) {
        outputs_closed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    SetConsoleCtrlHandler(&on_console_event, TRUE);
}

int end_stopped_run() {
    if (outputs_closed != nullptr) {
        SetEvent(outputs_closed);
    }
    return static_cast<int>(STATUS_CONTROL_C_EXIT);
}

bool is_folder_path(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(openable_path(wide_from_utf8(path.c_str())).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<std::vector<FolderEntry>> list_folder_entries(const std::string& path) {
    std::wstring pattern = openable_path(wide_from_utf8(path.c_str()));
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') {
        pattern += L'\\';
    }
    pattern += L'*';
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    constexpr int HIGH_HALF_SHIFT = 32;
    std::vector<FolderEntry> entries;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        FolderEntry entry;
        entry.name = utf8_from_wide(found.cFileName);
        entry.folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (!entry.folder) {
            entry.size = static_cast<std::uint64_t>(found.nFileSizeHigh) << HIGH_HALF_SHIFT | found.nFileSizeLow;
        }
        entries.push_back(entry);
    } while (FindNextFileW(search, &found) != 0);
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(search);
    if (!complete) {
        return std::nullopt;
    }
    return entries;
}

std::string full_path_of(const std::string& path) {
    const std::wstring wide = wide_from_utf8(path.c_str());
    const DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return path;
    }
    full.resize(length);
    return utf8_from_wide(full.c_str());
}

std::optional<std::string> link_target(const std::string&) {
    return std::nullopt;
}

namespace {

constexpr const wchar_t* LIBDVDCSS_DLL = L"libdvdcss-2.dll";
constexpr const wchar_t* LIBDVDCSS_WIDE_VARIABLE = L"PACKRIFT_LIBDVDCSS";

// The system's message for error, as UTF-8, without its line end.
std::string system_message(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = length == 0 ? "error " + std::to_string(error) : utf8_from_wide(text);
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == ' ')) {
        message.pop_back();
    }
    return message;
}

void* open_css_library(std::string& reason) {
    const wchar_t* named = _wgetenv(LIBDVDCSS_WIDE_VARIABLE);
    HMODULE library = nullptr;
    std::string name;
    if (named != nullptr && *named != L'\0') {
        // A file named whole: its own folder is searched for what it needs,
        // which takes a full path.
        name = utf8_from_wide(named);
        if (!is_full_path(name)) {
            reason = not_a_full_path(name);
            return nullptr;
        }
        const std::wstring full = openable_path(wide_from_utf8(full_path_of(name).c_str()));
        library = LoadLibraryExW(full.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    } else {
        // packrift.exe's folder and the system's, never the current folder,
        // where anyone who can write a file could plant a DLL.
        name = utf8_from_wide(LIBDVDCSS_DLL);
        library = LoadLibraryExW(LIBDVDCSS_DLL, nullptr,
                                 LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    }
    if (library == nullptr) {
        reason = name + ": " + system_message(GetLastError());
    }
    css_library_name = name;
    return library;
}

CssAddress find_css_function(void* library, const char* function, std::string& reason) {
    const FARPROC address = GetProcAddress(static_cast<HMODULE>(library), function);
    if (address == nullptr) {
        reason = css_library_name + ": " + function + ": " + system_message(GetLastError());
        return nullptr;
    }
    return reinterpret_cast<CssAddress>(address);
}

void close_css_library(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

}  // namespace

std::optional<std::string> drive_of_folder(const std::string&) {
    return std::nullopt;
}

std::optional<std::string> drive_of_root(const std::string& path) {
    const std::optional<std::string> device = drive_root_device_in(full_path_of(path));
    if (!device) {
        return std::nullopt;
    }
    // The type of the drive, not of what it holds: a DVD is in a CD-ROM drive.
    const std::wstring root = wide_from_utf8((*device + "\\").c_str());
    return GetDriveTypeW(root.c_str()) == DRIVE_CDROM ? device : std::nullopt;
}

std::string utf8_from_wide(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return {};
    }
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    utf8.pop_back();  // the terminating zero
    return utf8;
}

void use_utf8_console() {
    console_code_page = GetConsoleOutputCP();  // 0 without a console
    if (console_code_page != 0 && console_code_page != CP_UTF8) {
        SetConsoleOutputCP(CP_UTF8);
    }
}

void restore_console() {
    if (console_code_page != 0 && console_code_page != CP_UTF8) {
        SetConsoleOutputCP(console_code_page);
    }
}

#else

std::FILE* open_binary_file(const char* name, const char* mode) {
    return std::fopen(name, mode);
}

std::FILE* open_binary_untruncated(const char* name) {
    // The permissions fopen gives a new file, less the umask.
    constexpr mode_t NEW_FILE_MODE = 0666;
    const int descriptor = ::open(name, O_WRONLY | O_CREAT, NEW_FILE_MODE);
    if (descriptor < 0) {
        return nullptr;
    }
    std::FILE* stream = ::fdopen(descriptor, "wb");  // "w" does not truncate here
    if (stream == nullptr) {
        const int fdopen_error = errno;
        ::close(descriptor);
        errno = fdopen_error;
    }
    return stream;
}

bool file_identity(std::FILE* stream, FileIdentity& identity) {
    struct stat status {};
    if (::fstat(::fileno(stream), &status) != 0) {
        return false;
    }
    identity.regular = S_ISREG(status.st_mode);
    identity.size = static_cast<std::uint64_t>(status.st_size);
    identity.empty = status.st_size == 0;
    identity.volume = static_cast<std::uint64_t>(status.st_dev);
    identity.index = static_cast<std::uint64_t>(status.st_ino);
    return true;
}

bool block_device_size(std::FILE* stream, std::uint64_t& size) {
    struct stat status {};
    const int descriptor = ::fileno(stream);
    if (::fstat(descriptor, &status) != 0 || !S_ISBLK(status.st_mode)) {
        return false;
    }
    // A device's size is where its end lies; the stream is placed anew before every read.
    const off_t end = ::lseek(descriptor, 0, SEEK_END);
    if (end < 0 || ::lseek(descriptor, 0, SEEK_SET) < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(end);
    return true;
}

bool truncate_file(std::FILE* stream) {
    return ::ftruncate(::fileno(stream), 0) == 0;
}

bool seek_stream(std::FILE* stream, std::uint64_t offset) {
    return ::fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

// Room for the current folder's path at first; more when it needs it.
constexpr std::size_t PATH_MAX_GUESS = 4096;

bool is_folder_path(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::optional<std::vector<FolderEntry>> list_folder_entries(const std::string& path) {
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) {
        return std::nullopt;
    }
    std::vector<FolderEntry> entries;
    errno = 0;
    while (const dirent* found = ::readdir(folder)) {
        const std::string name = found->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        // The entry's own kind and size, through a link too, as an open would see them.
        struct stat status {};
        FolderEntry entry;
        entry.name = name;
        if (::stat((path + "/" + name).c_str(), &status) == 0) {
            entry.folder = S_ISDIR(status.st_mode);
            entry.size = entry.folder ? 0 : static_cast<std::uint64_t>(status.st_size);
        }
        entries.push_back(entry);
        errno = 0;
    }
    const bool complete = errno == 0;
    ::closedir(folder);
    if (!complete) {
        return std::nullopt;
    }
    return entries;
}

std::string full_path_of(const std::string& path) {
    if (!path.empty() && path.front() == '/') {
        return path;
    }
    std::vector<char> folder(PATH_MAX_GUESS);
    while (::getcwd(folder.data(), folder.size()) == nullptr) {
        if (errno != ERANGE) {
            return path;
        }
        folder.resize(folder.size() * 2);
    }
    return std::string(folder.data()) + "/" + path;
}

std::optional<std::string> link_target(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
        return std::nullopt;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::nullopt;
    }
    std::string target = resolved;
    std::free(resolved);
    return target;
}

std::optional<std::string> drive_of_folder(const std::string& path) {
    constexpr const char* MOUNTINFO = "/proc/self/mountinfo";
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return std::nullopt;
    }
    const std::string full = resolved;
    std::free(resolved);
    // A /proc file's size is 0: read to its end.
    std::FILE* file = std::fopen(MOUNTINFO, "r");
    if (file == nullptr) {
        return std::nullopt;
    }
    std::string text;
    char piece[4096];
    std::size_t got = 0;
    while ((got = std::fread(piece, 1, sizeof piece, file)) > 0) {
        text.append(piece, got);
    }
    std::fclose(file);
    const std::optional<std::string> source = mount_source_in(text, full);
    struct stat status {};
    if (!source || ::stat(source->c_str(), &status) != 0 || !S_ISBLK(status.st_mode)) {
        return std::nullopt;
    }
    return source;
}

std::optional<std::string> drive_of_root(const std::string&) {
    return std::nullopt;
}

namespace {

constexpr const char* LIBDVDCSS_SO = "libdvdcss.so.2";

void* open_css_library(std::string& reason) {
    const char* named = std::getenv(LIBDVDCSS_VARIABLE);
    // The system's search path, as the libraries that load it search it.
    const char* name = named != nullptr && *named != '\0' ? named : LIBDVDCSS_SO;
    if (name != LIBDVDCSS_SO && !is_full_path(name)) {
        reason = not_a_full_path(name);
        return nullptr;
    }
    void* library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* error = ::dlerror();
        reason = error != nullptr ? error : std::string(name) + ": cannot be loaded";
    }
    return library;
}

CssAddress find_css_function(void* library, const char* function, std::string& reason) {
    ::dlerror();
    void* address = ::dlsym(library, function);
    if (address == nullptr) {
        // dlerror names the library and the function missing from it.
        const char* error = ::dlerror();
        reason = error != nullptr ? error : std::string(function) + ": undefined symbol";
        return nullptr;
    }
    // POSIX makes an object pointer from dlsym convertible to a function pointer.
    CssAddress function_address = nullptr;
    static_assert(sizeof function_address == sizeof address, "a function's address as dlsym gives it");
    std::memcpy(&function_address, &address, sizeof address);
    return function_address;
}

void close_css_library(void* library) {
    ::dlclose(library);
}

extern "C" void on_stop_signal(int signal_number) {
    stop_request.store(signal_number);
}

}  // namespace

void install_stop_handlers() {
    struct sigaction action {};
    action.sa_handler = &on_stop_signal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting on a pipe returns at once. SA_RESETHAND:
    // a second stop ends the process, should the clean-up itself hang (a
    // write to a pipe that nobody reads).
    action.sa_flags = static_cast<int>(SA_RESETHAND);  // glibc defines it as an unsigned constant
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        // A signal the caller ignores (nohup's SIGHUP) stays ignored.
        if (::sigaction(signal_number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            ::sigaction(signal_number, &action, nullptr);
        }
    }
}

int end_stopped_run() {
    constexpr int SIGNALLED_STATUS_BASE = 128;  // what a shell shows for a program ended by a signal
    const int signal_number = stop_request.load();
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
    return SIGNALLED_STATUS_BASE + signal_number;  // only if the signal is blocked
}

#endif

void keep_blocks_mapped() {
#if defined(__GLIBC__)
    // glibc raises its mapping threshold to the size of a mapped block once
    // it is freed: a later run's blocks would then come from the heap and
    // stay resident after their release, its aligned blocks not always
    // fitting the space a freed one left. Fixed at its first value, every
    // block is a mapping of its own, given back when it is released.
    constexpr int FIRST_MAPPING_THRESHOLD = 128 * 1024;
    mallopt(M_MMAP_THRESHOLD, FIRST_MAPPING_THRESHOLD);
#endif
}

}  // namespace packrift

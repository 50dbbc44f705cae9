// A stand-in for libdvdcss, for the tests: a shared library with the five
// functions of libdvdcss's documented interface and nothing of its code.
// It opens an image file (or a block device) and serves its sectors. Packs
// that the test image writer scrambled (toy_css.hpp) are descrambled only by
// a read with DVDCSS_READ_DECRYPT after dvdcss_seek(..., DVDCSS_SEEK_KEY) at
// their title set's first title VOB sector, with the real library's ways
// where they matter:
// - without a key sought, a decrypting read hands scrambled packs back as
//   they are, and dvdcss_error() says "no key but found encrypted block";
// - with another title set's key it hands back garbage, bits cleared, no error;
// - a decrypting read alters any sector whose byte 0x14 has the bits 0x30;
// - a read of many sectors over an unreadable one fails whole (-1) and
//   leaves no position until the next seek;
// - dvdcss_open of what it cannot open returns null, errno set.
// Its own environment variables:
//   STANDIN_DVDCSS_LOG         file to which each call is appended, a line each
//   STANDIN_DVDCSS_UNREADABLE  image sectors whose reads fail: "FIRST-LAST,..."
//   STANDIN_DVDCSS_NO_KEY      sectors at which no title key can be had: "S,...", or "all"
//   STANDIN_DVDCSS_OPEN_ERRNO  an errno with which dvdcss_open fails
//   STANDIN_DVDCSS_STOP_AT     sectors whose read is followed by a SIGINT, as a Ctrl-C in the middle of a run
// Built without dvdcss_read (STANDIN_WITHOUT_READ) for a library lacking it.

#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/toy_css.hpp"

#ifdef _WIN32
#define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr int BLOCK_SIZE = 2048;  // DVDCSS_BLOCK_SIZE
constexpr int READ_DECRYPT = 1;   // DVDCSS_READ_DECRYPT
constexpr int SEEK_KEY = 2;       // DVDCSS_SEEK_KEY
constexpr long long NO_POSITION = -1;
constexpr unsigned char LOST_BATCH_FILL = 0xEE;

#if defined(__GNUC__)
void log_call(const char* format, ...) __attribute__((format(printf, 1, 2)));
#endif

// Places the stream at a sector, past 2 GiB too.
[[maybe_unused]] bool place(std::FILE* file, long long sector) {
#ifdef _WIN32
    return _fseeki64(file, sector * BLOCK_SIZE, SEEK_SET) == 0;
#else
    return fseeko(file, static_cast<off_t>(sector * BLOCK_SIZE), SEEK_SET) == 0;
#endif
}

long long sectors_of(std::FILE* file) {
#ifdef _WIN32
    return _fseeki64(file, 0, SEEK_END) == 0 ? _ftelli64(file) / BLOCK_SIZE : 0;
#else
    return fseeko(file, 0, SEEK_END) == 0 ? static_cast<long long>(ftello(file)) / BLOCK_SIZE : 0;
#endif
}

void log_call(const char* format, ...) {
    const char* name = std::getenv("STANDIN_DVDCSS_LOG");
    if (name == nullptr || *name == '\0') {
        return;
    }
    std::FILE* log = std::fopen(name, "a");
    if (log == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(log, format, arguments);
    va_end(arguments);
    std::fputc('\n', log);
    std::fclose(log);
}

// Whether sector lies in one of the list's "FIRST-LAST" ranges or is one of its sectors.
bool listed(const char* variable, long long sector) {
    const char* text = std::getenv(variable);
    if (text == nullptr) {
        return false;
    }
    if (std::strcmp(text, "all") == 0) {
        return true;
    }
    while (*text != '\0') {
        char* end = nullptr;
        const long long first = std::strtoll(text, &end, 10);
        long long last = first;
        if (*end == '-') {
            last = std::strtoll(end + 1, &end, 10);
        }
        if (end == text) {
            return false;
        }
        if (sector >= first && sector <= last) {
            return true;
        }
        text = *end == ',' ? end + 1 : end;
    }
    return false;
}

[[maybe_unused]] bool any_listed(const char* variable, long long first, long long count) {
    for (long long s = first; s < first + count; ++s) {
        if (listed(variable, s)) {
            return true;
        }
    }
    return false;
}

}  // namespace

struct dvdcss_s {
    std::FILE* file;
    long long sectors;
    long long position;
    bool has_key;
    std::uint32_t key;
    char error[128];
};
using dvdcss_t = dvdcss_s*;

STANDIN_EXPORT dvdcss_t dvdcss_open(const char* target) {
    const char* refusal = std::getenv("STANDIN_DVDCSS_OPEN_ERRNO");
    const char* name = target;
#ifdef _WIN32
    // A drive letter ("D:") is the drive itself, which libdvdcss opens as \\.\D:.
    char device[sizeof "\\\\.\\D:"];
    if (std::strlen(target) == 2 && target[1] == ':') {
        std::snprintf(device, sizeof device, "\\\\.\\%c:", target[0]);
        name = device;
    }
#endif
    std::FILE* file = refusal != nullptr ? nullptr : std::fopen(name, "rb");
    if (file == nullptr) {
        if (refusal != nullptr) {
            errno = std::atoi(refusal);
        }
        log_call("open %s -> null", target);
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);  // whole batches straight into the caller's buffer
    // From the C library alone, so that loading the stand-in costs what loading libdvdcss does.
    auto* disc = static_cast<dvdcss_t>(std::calloc(1, sizeof(dvdcss_s)));
    if (disc == nullptr) {
        std::fclose(file);
        errno = ENOMEM;
        return nullptr;
    }
    disc->file = file;
    disc->position = NO_POSITION;
    disc->sectors = sectors_of(file);
    log_call("open %s", target);
    return disc;
}

STANDIN_EXPORT int dvdcss_close(dvdcss_t disc) {
    log_call("close");
    std::fclose(disc->file);
    std::free(disc);
    return 0;
}

STANDIN_EXPORT int dvdcss_seek(dvdcss_t disc, int blocks, int flags) {
    if (blocks < 0 || blocks > disc->sectors) {
        std::snprintf(disc->error, sizeof disc->error, "seek out of range");
        log_call("seek %d %s -> -1", blocks, (flags & SEEK_KEY) != 0 ? "key" : "plain");
        return -1;
    }
    if ((flags & SEEK_KEY) != 0) {
        if (listed("STANDIN_DVDCSS_NO_KEY", blocks)) {
            std::snprintf(disc->error, sizeof disc->error, "no title key could be found at sector %d", blocks);
            log_call("seek %d key -> -1", blocks);
            return -1;
        }
        disc->has_key = true;
        disc->key = packtest::toy_css::key_of_title_set(static_cast<std::uint32_t>(blocks));
    }
    disc->position = blocks;
    log_call("seek %d %s -> %d", blocks, (flags & SEEK_KEY) != 0 ? "key" : "plain", blocks);
    return blocks;
}

#ifndef STANDIN_WITHOUT_READ
STANDIN_EXPORT int dvdcss_read(dvdcss_t disc, void* buffer, int blocks, int flags) {
    const char* kind = (flags & READ_DECRYPT) != 0 ? "decrypt" : "plain";
    const long long at = disc->position;
    if (at == NO_POSITION || blocks < 0 || any_listed("STANDIN_DVDCSS_UNREADABLE", at, blocks) ||
        !place(disc->file, at)) {
        // Lost whole, and the position with it.
        if (blocks > 0) {
            std::memset(buffer, LOST_BATCH_FILL, static_cast<std::size_t>(blocks) * BLOCK_SIZE);
        }
        disc->position = NO_POSITION;
        std::snprintf(disc->error, sizeof disc->error, "read error");
        log_call("read %lld %d %s -> -1", at, blocks, kind);
        return -1;
    }
    auto* sectors = static_cast<unsigned char*>(buffer);
    const int got = static_cast<int>(std::fread(sectors, BLOCK_SIZE, static_cast<std::size_t>(blocks), disc->file));
    if ((flags & READ_DECRYPT) != 0) {
        for (int i = 0; i < got; ++i) {
            unsigned char* sector = sectors + static_cast<std::size_t>(i) * BLOCK_SIZE;
            if ((sector[packtest::toy_css::FLAGS_AT] & packtest::toy_css::SCRAMBLING_BITS) == 0) {
                continue;
            }
            if (!disc->has_key) {
                std::snprintf(disc->error, sizeof disc->error, "no key but found encrypted block");
                continue;
            }
            packtest::toy_css::unscramble(sector, disc->key);
        }
    }
    disc->position = at + got;
    log_call("read %lld %d %s -> %d", at, blocks, kind, got);
    if (any_listed("STANDIN_DVDCSS_STOP_AT", at, got)) {
        std::raise(SIGINT);
    }
    return got;
}
#endif

STANDIN_EXPORT const char* dvdcss_error(const dvdcss_t disc) {
    return disc->error;
}

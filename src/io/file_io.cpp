#include "io/file_io.hpp"

#include <cerrno>
#include <cstring>
#include <new>

#include "io/platform.hpp"

namespace packrift {

namespace {

std::size_t standard_read(void* data, std::size_t size, std::size_t count, const NamedFile& file) {
    return std::fread(data, size, count, file.stream);
}

std::size_t standard_write(const void* data, std::size_t size, std::size_t count, std::FILE* stream) {
    return std::fwrite(data, size, count, stream);
}

int standard_close(std::FILE* stream) {
    return std::fclose(stream);
}

void* standard_allocate(std::size_t size) {
    return ::operator new(size, std::align_val_t{BLOCK_ALIGNMENT}, std::nothrow);
}

void standard_release(void* block) {
    ::operator delete(block, std::align_val_t{BLOCK_ALIGNMENT});
}

constexpr IoHooks STANDARD_IO = {&standard_read, &standard_write, &standard_close, &standard_allocate,
                                 &standard_release};

IoHooks current_io = STANDARD_IO;

// Takes on a stream just opened under name, or reports why there is none.
bool take_opened(NamedFile& file, const std::string& name, std::FILE* stream) {
    const int open_error = errno;
    file.name = name;
    file.failed = false;
    file.stream = stream;
    if (file.stream == nullptr) {
        report_io_error(file, open_error);
        return false;
    }
    return true;
}

}  // namespace

int error_or_io_failure() {
    return errno != 0 ? errno : EIO;
}

IoHooks& io_hooks() {
    return current_io;
}

void restore_io_hooks() {
    current_io = STANDARD_IO;
}

void report_io_error(NamedFile& file, int error_number) {
    if (file.failed) {
        return;
    }
    file.failed = true;
    std::fprintf(stderr, "%s: %s\n", file.name.c_str(), std::strerror(error_number));
}

bool open_for_reading(NamedFile& file, const std::string& name) {
    return take_opened(file, name, open_binary_file(name.c_str(), "rb"));
}

bool open_unbuffered_for_reading(NamedFile& file, const std::string& name) {
    if (!open_for_reading(file, name)) {
        return false;
    }
    // Should this fail, the stream stays buffered, which is slower but as correct.
    std::setvbuf(file.stream, nullptr, _IONBF, 0);
    return true;
}

bool open_for_writing(NamedFile& file, const std::string& name) {
    return open_untruncated(file, name) && start_output(file);
}

bool open_untruncated(NamedFile& file, const std::string& name) {
    return take_opened(file, name, open_binary_untruncated(name.c_str()));
}

bool start_output(NamedFile& file) {
    FileIdentity identity;
    errno = 0;
    // A file that is empty already is left alone: ext4 takes a truncation for
    // a file being replaced and writes all of it out when it is closed, which
    // made a split into a new output take twice as long.
    if (!file_identity(file.stream, identity) ||
        (identity.regular && !identity.empty && !truncate_file(file.stream))) {
        report_io_error(file, error_or_io_failure());
        close_file(file);
        return false;
    }
    // Outputs are written a whole stage at a time; the stream's own buffer
    // would only split each stage into a small write and a large one. Should
    // this fail, the stream stays buffered, which is slower but as correct.
    std::setvbuf(file.stream, nullptr, _IONBF, 0);
    return true;
}

bool same_file(const NamedFile& one, const NamedFile& other) {
    if (one.stream == nullptr || other.stream == nullptr) {
        return false;
    }
    FileIdentity first;
    FileIdentity second;
    // A file whose identity cannot be had is taken for a file of its own.
    return file_identity(one.stream, first) && file_identity(other.stream, second) && first.regular &&
           second.regular && first.volume == second.volume && first.index == second.index;
}

ReadOutcome read_items(NamedFile& file, void* data, std::size_t size, std::size_t count) {
    errno = 0;
    ReadOutcome outcome;
    outcome.items = current_io.read(data, size, count, file);
    // fread stops short only at the end of the input or at an error.
    if (outcome.items < count && std::feof(file.stream) == 0) {
        outcome.error = error_or_io_failure();
        std::clearerr(file.stream);
    }
    return outcome;
}

bool seek_file(NamedFile& file, std::uint64_t offset) {
    std::clearerr(file.stream);
    return seek_stream(file.stream, offset);
}

std::optional<std::uint64_t> regular_file_size(const NamedFile& file) {
    FileIdentity identity;
    if (file.stream == nullptr || !file_identity(file.stream, identity) || !identity.regular) {
        return std::nullopt;
    }
    return identity.size;
}

std::optional<std::uint64_t> image_size(const NamedFile& file) {
    const std::optional<std::uint64_t> regular = regular_file_size(file);
    if (regular) {
        return regular;
    }
    std::uint64_t size = 0;
    if (file.stream != nullptr && block_device_size(file.stream, size)) {
        return size;
    }
    return std::nullopt;
}

bool is_block_device(const NamedFile& file) {
    std::uint64_t size = 0;
    return file.stream != nullptr && !regular_file_size(file) && block_device_size(file.stream, size);
}

void write_block(NamedFile& file, const void* data, std::size_t length) {
    if (file.failed || length == 0) {
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < length) {
        errno = 0;
        done += current_io.write(bytes + done, 1, length - done, file.stream);
        // A signal that stops the run may cut a write to a pipe short; the
        // rest still belongs in the output.
        if (done < length && errno != EINTR) {
            report_io_error(file, error_or_io_failure());
            return;
        }
        std::clearerr(file.stream);
    }
}

void close_file(NamedFile& file) {
    if (file.stream == nullptr) {
        return;
    }
    errno = 0;
    const int result = current_io.close(file.stream);
    file.stream = nullptr;
    if (result != 0) {
        report_io_error(file, error_or_io_failure());
    }
}

int read_small_file(const std::string& name, std::size_t limit, std::vector<unsigned char>& bytes) {
    // Read in pieces until the end: a file's size is not known before.
    constexpr std::size_t PIECE = 64 * 1024;
    bytes.clear();
    errno = 0;
    const NamedFile file{open_binary_file(name.c_str(), "rb"), name, false};
    if (file.stream == nullptr) {
        return error_or_io_failure();
    }
    int error = 0;
    while (error == 0) {
        const std::size_t filled = bytes.size();
        bytes.resize(filled + PIECE);
        errno = 0;
        const std::size_t got = current_io.read(bytes.data() + filled, 1, PIECE, file);
        bytes.resize(filled + got);
        if (bytes.size() > limit) {
            error = EFBIG;
        } else if (got < PIECE) {
            error = std::feof(file.stream) != 0 ? 0 : error_or_io_failure();
            break;
        }
    }
    current_io.close(file.stream);  // read only: nothing to lose at its close
    if (error != 0) {
        bytes.clear();
    }
    return error;
}

void* allocate_block(std::size_t size) {
    return current_io.allocate(size);
}

void release_block(void* block) {
    current_io.release(block);
}

}  // namespace packrift

#include "io/file_io.hpp"

#include <cerrno>
#include <cstring>
#include <new>

#include "io/platform.hpp"

namespace packrift {

namespace {

std::size_t standard_read(void* data, std::size_t size, std::size_t count, std::FILE* stream) {
    return std::fread(data, size, count, stream);
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

// A short count with errno untouched still means the bytes did not arrive.
int error_or_io_failure() {
    return errno != 0 ? errno : EIO;
}

bool open_named(NamedFile& file, const std::string& name, const char* mode) {
    file.name = name;
    file.failed = false;
    file.stream = open_binary_file(name.c_str(), mode);
    if (file.stream == nullptr) {
        report_io_error(file, errno);
        return false;
    }
    return true;
}

}  // namespace

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
    return open_named(file, name, "rb");
}

bool open_for_writing(NamedFile& file, const std::string& name) {
    if (!open_named(file, name, "wb")) {
        return false;
    }
    // Outputs are written a whole stage at a time; the stream's own buffer
    // would only split each stage into a small write and a large one. Should
    // this fail, the stream stays buffered, which is slower but as correct.
    std::setvbuf(file.stream, nullptr, _IONBF, 0);
    return true;
}

std::size_t read_items(NamedFile& file, void* data, std::size_t size, std::size_t count) {
    errno = 0;
    const std::size_t items = current_io.read(data, size, count, file.stream);
    // fread stops short only at the end of the input or at an error.
    if (items < count && std::feof(file.stream) == 0) {
        report_io_error(file, error_or_io_failure());
    }
    return items;
}

void write_block(NamedFile& file, const void* data, std::size_t length) {
    if (file.failed || length == 0) {
        return;
    }
    errno = 0;
    if (current_io.write(data, 1, length, file.stream) != length) {
        report_io_error(file, error_or_io_failure());
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

void* allocate_block(std::size_t size) {
    return current_io.allocate(size);
}

void release_block(void* block) {
    current_io.release(block);
}

}  // namespace packrift

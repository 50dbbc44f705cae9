#pragma once
// The file layer: named binary files, the one message shape for I/O failures,
// and the seam through which tests inject faults.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace packrift {

// An open binary file with the name it was opened under, or none
// (stream is null) when it was not requested or could not be opened.
// failed is set at its first I/O failure, which is reported once.
struct NamedFile {
    std::FILE* stream = nullptr;
    std::string name;
    bool failed = false;
};

// The calls every read, write, close and block allocation and release goes
// through. Tests replace them to inject faults (and the fuzz target to reuse
// its blocks); the defaults are the C library's streams and page-aligned
// blocks from operator new. A read hook that returns a short count must leave
// the stream at its end (feof) for an end of input; otherwise the short count
// is taken for a read error.
struct IoHooks {
    // Reads from file.stream; the name tells a test's hook which file it is.
    std::size_t (*read)(void* data, std::size_t size, std::size_t count, const NamedFile& file);
    std::size_t (*write)(const void* data, std::size_t size, std::size_t count, std::FILE* stream);
    int (*close)(std::FILE* stream);
    void* (*allocate)(std::size_t size);
    void (*release)(void* block);  // takes null as well
};

IoHooks& io_hooks();
void restore_io_hooks();

// Prints "name: system message" on standard error, the first time only.
void report_io_error(NamedFile& file, int error_number);

// The error of a call that failed: errno, or EIO where the call left errno
// untouched (a short count still means the bytes did not arrive).
int error_or_io_failure();

bool open_for_reading(NamedFile& file, const std::string& name);
// An input read only at sectors it seeks to, as a disc image's runs of
// sectors are: each read goes to the system whole, into the caller's block.
// Buffered, every seek to a sector that does not begin a page made the
// stream read that page into its buffer and the rest of each batch into the
// block at a place that is not a page's start, about a fifth slower.
bool open_unbuffered_for_reading(NamedFile& file, const std::string& name);

// Outputs are unbuffered: each write goes to the system as one block.
bool open_for_writing(NamedFile& file, const std::string& name);

// An output is opened in two steps, so that it can be compared with the
// files already open before anything of it is lost: opened as it is (created
// when missing), then emptied when it is a regular file. A FIFO, a device or
// a terminal has nothing to empty.
bool open_untruncated(NamedFile& file, const std::string& name);
bool start_output(NamedFile& file);

// True when both are open and are one regular file, whatever names reached it.
bool same_file(const NamedFile& one, const NamedFile& other);

// What a read gave: the whole items read, and the system's error number when
// it stopped short at an error rather than at the end of the file (0).
struct ReadOutcome {
    std::size_t items = 0;
    int error = 0;
};

// Reads up to count items of size bytes, reporting nothing: the caller
// decides what an error means. The stream can be read again after an error.
ReadOutcome read_items(NamedFile& file, void* data, std::size_t size, std::size_t count);

// Places the next read at offset bytes from the start; false (errno set)
// when the file cannot seek, as a pipe cannot.
bool seek_file(NamedFile& file, std::uint64_t offset);

// The size of a regular file, or nothing for a pipe, a device or a terminal.
std::optional<std::uint64_t> regular_file_size(const NamedFile& file);

// The size of what may be a disc image: a regular file or a block device;
// nothing for a pipe, a terminal or another device.
std::optional<std::uint64_t> image_size(const NamedFile& file);

// Whether the file is a block device (a drive).
bool is_block_device(const NamedFile& file);

// Writes length bytes as one block. Once a file has failed nothing more is
// written to it: what follows a lost block would no longer be a valid stream.
void write_block(NamedFile& file, const void* data, std::size_t length);

// Closes the file if it is open; a failing close is reported like a failing write.
void close_file(NamedFile& file);

// Reads a whole small file (a table such as an IFO file) into bytes, through
// the same read hook as the input. Returns 0, or the error number of what
// failed, EFBIG for a file of more than limit bytes. Prints nothing: the
// caller may have another copy to try.
int read_small_file(const std::string& name, std::size_t limit, std::vector<unsigned char>& bytes);

// Blocks start on a page boundary, as the page cache's pages do: the kernel
// copies between them and a misaligned buffer at a fraction of the speed.
inline constexpr std::size_t BLOCK_ALIGNMENT = 4096;

void* allocate_block(std::size_t size);
void release_block(void* block);

}  // namespace packrift

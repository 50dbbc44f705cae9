#include "demux/sector_source.hpp"

#include <cerrno>

#include "demux/demux_common.hpp"

namespace packrift {

namespace {

// Room for one sector more than a batch fills.
constexpr std::size_t BLOCK_SIZE = (READ_BATCH_SECTORS + 1) * SECTOR_SIZE;

struct SectorSource {
    unsigned char* block = nullptr;
    std::size_t fill = 0;
    std::size_t position = 0;
};

SectorSource source;

void release_source() {
    release_block(source.block);
    source = SectorSource{};
}

// Refills the block; false when no whole sector can be had any more.
bool refill() {
    if (input_file.failed) {
        return false;
    }
    if (source.block == nullptr) {
        source.block = static_cast<unsigned char*>(allocate_block(BLOCK_SIZE));
        if (source.block == nullptr) {
            report_io_error(input_file, ENOMEM);
            return false;
        }
    }
    source.fill = read_items(input_file, source.block, SECTOR_SIZE, READ_BATCH_SECTORS) * SECTOR_SIZE;
    source.position = 0;
    return source.fill > 0;
}

}  // namespace

const unsigned char* next_sector() {
    if (source.position >= source.fill && !refill()) {
        release_source();
        return nullptr;
    }
    // Handed out in place: a copy of every sector cost about as much as the video trim.
    const unsigned char* sector = source.block + source.position;
    source.position += SECTOR_SIZE;
    return sector;
}

}  // namespace packrift

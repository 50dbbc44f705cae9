#pragma once
// Delivers the input one whole sector at a time out of large batched reads.

#include <cstddef>

namespace packrift {

inline constexpr std::size_t READ_BATCH_SECTORS = 1000;

// Copies the next whole sector of the input file into sector (SECTOR_SIZE
// bytes); returns SECTOR_SIZE, or 0 once the input is exhausted, has failed
// or its block could not be allocated.
std::size_t next_sector(unsigned char* sector);

}  // namespace packrift

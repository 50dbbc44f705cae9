#pragma once
// Delivers the input one whole sector at a time out of large batched reads.

#include <cstddef>

namespace packrift {

inline constexpr std::size_t READ_BATCH_SECTORS = 1000;

// The next whole sector of the input file (SECTOR_SIZE bytes), where it lies
// in the batch block: valid until the next call. Null once the input is
// exhausted, has failed or its block could not be allocated.
const unsigned char* next_sector();

}  // namespace packrift

#pragma once
// What differs between systems: opening a file by its name.

#include <cstdio>

namespace packrift {

// Opens a file in binary mode; mode is "rb" or "wb". Names are UTF-8.
std::FILE* open_binary_file(const char* name, const char* mode);

}  // namespace packrift

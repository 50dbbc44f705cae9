#include "output/platform.hpp"

namespace packrift {

std::FILE* open_binary_file(const char* name, const char* mode) {
    return std::fopen(name, mode);
}

}  // namespace packrift

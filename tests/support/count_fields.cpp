// Counts the pictures of a video elementary stream file in fields, for the
// scripted check against ffprobe: the file is fed in pieces of changing
// sizes, so that start codes fall across them. Prints "PICTURES FIELDS
// PERIOD_NUMERATOR/PERIOD_DENOMINATOR" (the frame period in 90 kHz ticks).
//
// Usage: count_fields FILE

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "output/picture_count.hpp"

namespace {

// Piece sizes taken in turn: a byte, a few, a pack's payload and more.
constexpr std::size_t PIECE_SIZES[] = {1, 3, 2025, 7, 2, 4096, 11, 2034};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: count_fields FILE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in.eof() && !in) {
        std::fprintf(stderr, "%s: cannot be read\n", argv[1]);
        return 1;
    }
    packrift::PictureCounter counter;
    std::size_t at = 0;
    for (std::size_t turn = 0; at < bytes.size(); ++turn) {
        const std::size_t wanted = PIECE_SIZES[turn % std::size(PIECE_SIZES)];
        const std::size_t length = wanted < bytes.size() - at ? wanted : bytes.size() - at;
        packrift::count_pictures(counter, packrift::view_of(bytes.data() + at, length));
        at += length;
    }
    packrift::Ticks period;
    if (!packrift::frame_period(counter, period)) {
        period = packrift::Ticks{0, 1};
    }
    std::printf("%lld %lld %lld/%lld\n", static_cast<long long>(counter.pictures),
                static_cast<long long>(packrift::counted_fields(counter)), static_cast<long long>(period.numerator),
                static_cast<long long>(period.denominator));
    return 0;
}

// Writes a crafted disc image of a VIDEO_TS folder's files, for the fuzz
// target's seeds and the scripted checks against lsdvd, mplayer and 7z.
//
// Usage: write_test_image VIDEO_TS IMAGE [udf|iso|both] [long] [16bit] [continued] [extents N]
//        [scrambled [N]]   (the title sets' content packs, or N of them at each cell's start)

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "support/image_builder.hpp"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: write_test_image VIDEO_TS IMAGE [udf|iso|both] [long] [16bit] [continued] [extents N] "
                     "[scrambled [N]]\n");
        return 2;
    }
    packtest::image::Options options;
    for (int i = 3; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "udf" || word == "iso" || word == "both") {
            options.udf = word != "iso";
            options.iso9660 = word != "udf";
        } else if (word == "long") {
            options.long_ads = true;
        } else if (word == "16bit") {
            options.names_16_bit = true;
        } else if (word == "continued") {
            options.continued = true;
        } else if (word == "extents" && i + 1 < argc) {
            options.extents = std::atoi(argv[++i]);
        } else if (word == "scrambled") {
            options.scrambled = true;
            if (i + 1 < argc && std::atoi(argv[i + 1]) > 0) {
                options.scrambled_at_cell_start = std::atoi(argv[++i]);
            }
        } else {
            std::fprintf(stderr, "write_test_image: unknown word %s\n", word.c_str());
            return 2;
        }
    }
    try {
        packtest::write_file(argv[2], packtest::image::build_image(packtest::image::files_of_folder(argv[1]), options));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "write_test_image: %s\n", error.what());
        return 1;
    }
    return 0;
}

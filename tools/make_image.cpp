// vkt5-make-image PATH: writes the development firmware image to PATH, byte for byte as carried.
#include <cstdio>
#include <fstream>
#include <string>

#include "tools/image_generator.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.hex\n", argv[0]);
        return 2;
    }
    const std::string text = vkt5::generateFirmwareImage();
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}

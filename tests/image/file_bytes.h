// Reads a whole file as bytes, exactly as stored; empty when it cannot be read.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace vkt5 {

inline std::string fileBytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace vkt5

# cmake -DINPUT=file -DOUTPUT=file.cpp -P embed_file.cmake
# Writes a C++ source whose vkt5::cli::carriedImage() returns the bytes of INPUT, byte for byte.
file(READ "${INPUT}" bytes HEX)
string(LENGTH "${bytes}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by cmake/embed_file.cmake; do not edit.
#include \"cli/carried_image.h\"

namespace vkt5::cli {
namespace {
const char IMAGE_BYTES[] = {
${bytes}'\\0'};
}  // namespace

std::optional<std::string_view> carriedImage() {
    return std::string_view(IMAGE_BYTES, ${size});
}

}  // namespace vkt5::cli
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")

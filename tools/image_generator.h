// Builds the development firmware image that the program carries: Intel HEX text, CR LF line
// ends, the same container as a real VKT-5 image. The data runs without a gap from
// IMAGE_START_ADDRESS to IMAGE_END_ADDRESS - 1; it opens with the header the boot loader expects
// (magic, address of the final word, a second magic word, "VKT5 <version>" CR LF, zero fill), is
// followed by seeded pseudo-random bytes, and ends with a CRC-32 of everything before it in the
// final 4-byte record. Every data record differs from every other one, so a line lost, repeated
// or swapped on the way to the unit shows up in what it programmed.
//
// Records: an extended-linear-address record before the data of each 64 KiB bank (the first line
// for bank 0), 64-byte data records while 64 bytes remain, then 16-byte records, then the rest;
// the end-of-file record last. The output depends on nothing but the version text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/image_line_table.h"

namespace vkt5 {

inline constexpr std::uint32_t IMAGE_START_ADDRESS = 0x4000;
inline constexpr std::uint32_t IMAGE_END_ADDRESS = 0x273F4;  // one past the last byte
inline constexpr std::uint32_t IMAGE_HEADER_MAGIC = 0xC0DEBA5E;
inline constexpr std::uint32_t IMAGE_HEADER_WORD2 = 0xBB70F000;
inline constexpr std::size_t IMAGE_HEADER_TEXT_OFFSET = 12;
inline constexpr std::size_t IMAGE_HEADER_SIZE = 64;  // the whole first data record

// The image's bytes, from IMAGE_START_ADDRESS on. The version text (the part after "VKT5 ") must
// leave the header text inside the 64-byte header record.
std::vector<std::uint8_t> generateFirmwareBytes(std::string_view version = IMAGE_VERSION);

// The image as Intel HEX text, every line ending in CR LF, nothing after the last one.
std::string generateFirmwareImage(std::string_view version = IMAGE_VERSION);

// CRC-32 (reflected, polynomial 0xEDB88320, initial and final value 0xFFFFFFFF).
std::uint32_t imageCrc32(const std::uint8_t* data, std::size_t size);

}  // namespace vkt5

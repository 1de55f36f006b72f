// Minimal PNG writer for the host's screenshots (core side: no Win32).
//
// The host only needs to save what it drew so that headless runs can be
// looked at and compared, so the writer stays small instead of pulling in a
// compression library: 8-bit RGB, one filter-free scanline after another,
// wrapped in stored (uncompressed) deflate blocks.
//
// [X] 8-bit RGB, any size up to kMaxPngSide on each side
// [X] CRC-32 per chunk, Adler-32 over the zlib stream
// [ ] compression, alpha, palettes, interlacing
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plexa::refhost {

constexpr uint32_t kMaxPngSide = 16384;

uint32_t crc32(const uint8_t* bytes, size_t count, uint32_t crc = 0);
uint32_t adler32(const uint8_t* bytes, size_t count, uint32_t adler = 1);

// rgb holds height rows of width × 3 bytes, top row first, rows packed.
// Returns an empty vector for a zero or oversized side.
std::vector<uint8_t> encodePng(uint32_t width, uint32_t height, const uint8_t* rgb);

bool writePngFile(const std::string& path, uint32_t width, uint32_t height, const uint8_t* rgb, std::string* error);

}  // namespace plexa::refhost

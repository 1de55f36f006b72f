// PNG writer for the host's screenshots (core side: no Win32): 8-bit RGB,
// compressed by stb_image_write (Debian's libstb-dev).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plexa::refhost {

constexpr uint32_t kMaxPngSide = 16384;

// rgb holds height rows of width × 3 bytes, top row first, rows packed.
// Returns an empty vector for a zero or oversized side.
std::vector<uint8_t> encodePng(uint32_t width, uint32_t height, const uint8_t* rgb);

bool writePngFile(const std::string& path, uint32_t width, uint32_t height, const uint8_t* rgb, std::string* error);

}  // namespace plexa::refhost

#include "png_writer.h"

#include "desktop_file.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include "stb_image_write.h"

namespace plexa::refhost {

namespace {

void appendBytes(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::vector<uint8_t> encodePng(uint32_t width, uint32_t height, const uint8_t* rgb) {
    if (width == 0 || height == 0 || width > kMaxPngSide || height > kMaxPngSide || rgb == nullptr) return {};
    std::vector<uint8_t> png;
    const int w = static_cast<int>(width);
    if (!stbi_write_png_to_func(appendBytes, &png, w, static_cast<int>(height), 3, rgb, w * 3)) return {};
    return png;
}

bool writePngFile(const std::string& path, uint32_t width, uint32_t height, const uint8_t* rgb, std::string* error) {
    std::vector<uint8_t> png = encodePng(width, height, rgb);
    if (png.empty()) {
        if (error) *error = "cannot encode a " + std::to_string(width) + "x" + std::to_string(height) + " image";
        return false;
    }
    return writeFileAtomically(path, std::string(png.begin(), png.end()), error);
}

}  // namespace plexa::refhost

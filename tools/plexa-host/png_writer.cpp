#include "png_writer.h"

#include "desktop_file.h"

#include <array>

namespace plexa::refhost {

namespace {

const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 24));
    out.push_back(static_cast<uint8_t>(value >> 16));
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void putChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& body) {
    putBigEndian32(out, static_cast<uint32_t>(body.size()));
    size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    // The chunk CRC covers the type and the body, not the length.
    putBigEndian32(out, crc32(out.data() + typeStart, out.size() - typeStart));
}

}  // namespace

uint32_t crc32(const uint8_t* bytes, size_t count, uint32_t crc) {
    const auto& table = crcTable();
    crc = ~crc;
    for (size_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t adler32(const uint8_t* bytes, size_t count, uint32_t adler) {
    constexpr uint32_t kModulus = 65521;
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    while (count > 0) {
        // 5552 is the longest run whose sums cannot overflow 32 bits.
        size_t run = count < 5552 ? count : 5552;
        count -= run;
        while (run--) {
            a += *bytes++;
            b += a;
        }
        a %= kModulus;
        b %= kModulus;
    }
    return (b << 16) | a;
}

std::vector<uint8_t> encodePng(uint32_t width, uint32_t height, const uint8_t* rgb) {
    if (width == 0 || height == 0 || width > kMaxPngSide || height > kMaxPngSide || rgb == nullptr) return {};

    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);  // filter type None
        const uint8_t* row = rgb + y * rowBytes;
        raw.insert(raw.end(), row, row + rowBytes);
    }

    std::vector<uint8_t> zlib;
    zlib.push_back(0x78);  // deflate, 32K window
    zlib.push_back(0x01);  // no preset dictionary, check bits make 0x7801 % 31 == 0
    constexpr size_t kMaxStored = 65535;
    size_t offset = 0;
    do {
        size_t length = raw.size() - offset < kMaxStored ? raw.size() - offset : kMaxStored;
        bool final = offset + length == raw.size();
        zlib.push_back(final ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
        zlib.push_back(static_cast<uint8_t>(length));
        zlib.push_back(static_cast<uint8_t>(length >> 8));
        zlib.push_back(static_cast<uint8_t>(~length));
        zlib.push_back(static_cast<uint8_t>(~length >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
                    raw.begin() + static_cast<std::ptrdiff_t>(offset + length));
        offset += length;
    } while (offset < raw.size());
    putBigEndian32(zlib, adler32(raw.data(), raw.size()));

    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    putBigEndian32(header, width);
    putBigEndian32(header, height);
    header.push_back(8);  // bit depth
    header.push_back(2);  // colour type RGB
    header.push_back(0);  // compression: deflate
    header.push_back(0);  // filter method 0
    header.push_back(0);  // no interlace
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", {});
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

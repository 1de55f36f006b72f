// Damaged and malicious scene files with what binding must make of them. Every
// file is complete as it would lie on disk (identification line included or
// deliberately broken); the reader must keep going line by line and leave one
// sphere or plane behind.
#include <string>
#include <vector>

#include "tools/make-samples/sample_images.h"

namespace plexa::samples {
namespace {

const std::string kId = "880\n";

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A deterministic byte soup without letters, so no line can start a block.
std::string soup(size_t length) {
    std::string text;
    uint32_t state = 2463534242u;
    for (size_t i = 0; i < length; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const auto byte = static_cast<unsigned char>(0x80 + state % 0x80);
        text.push_back(i % 61 == 60 ? '\n' : static_cast<char>(byte));
    }
    return text;
}

}  // namespace

std::vector<HostileScene> hostileScenes() {
    const std::string longName(300, 'n');
    const std::string longLine = "SPHERE8 " + std::string(5000, '1');
    std::vector<HostileScene> scenes = {
        {"empty.880", {}, {}, "SPHERE24"},
        {"id-without-line-end.880", bytesOf("880"), {}, "SPHERE24"},
        {"id-only-then-blocks-without-line-end.880", bytesOf(kId + "PLANE8 RGB[0,1,0]"), {}, "PLANE8"},
        {"id-wrong.880", bytesOf("88\nPLANE8\n"), {}, "SPHERE24"},
        {"id-after-comment.880", bytesOf("//x\n880\nPLANE8\n"), {}, "SPHERE24"},
        {"id-with-byte-order-mark.880", bytesOf("\xEF\xBB\xBF" + kId + "PLANE8\n"), {}, "SPHERE24"},
        {"id-cut-by-nul.880", bytesOf(std::string("8\0" "80\nPLANE8\n", 10)), {}, "SPHERE24"},
        {"crlf.880", bytesOf("880\r\nPLANE8 ORG[1,2,3]\r\n"), {}, "PLANE8"},
        {"nul-in-block-line.880", bytesOf(kId + std::string("PLANE8\0SPHERE4 ORG[x]\n", 22)), {}, "PLANE8"},
        {"byte-soup.880", bytesOf(kId + soup(20000)), {}, "SPHERE24"},
        {"byte-soup-then-plane.880", bytesOf(kId + soup(5000) + "\nPLANE4\n"), {}, "PLANE4"},
        // An over-long line is logged (cut to the log's line) and skipped whole:
        // its tail, which looks like a block, must not become one.
        {"overlong-line.880", bytesOf(kId + longLine + " PLANE2\nPLANE8\n"), {longLine.substr(0, 105)}, "PLANE8"},
        {"overlong-line-at-end.880", bytesOf(kId + std::string(100000, 'S')), {std::string(105, 'S')}, "SPHERE24"},
        {"fineness-huge.880", bytesOf(kId + "SPHERE99999999999999999999\n"), {}, "SPHERE1024"},
        {"fineness-negative.880", bytesOf(kId + "SPHERE-5\n"), {}, "SPHERE4"},
        {"fineness-word.880", bytesOf(kId + "PLANEx\n"), {}, "PLANE1"},
        {"every-value-bad.880",
         bytesOf(kId + "PLANE8 ORG[1,x,3] SIZE[1e999,1,1] ROT[0,0,nan] RGB[inf,0,0] DENS[d] SKINSCALE[-inf] "
                       "TRANS[t]\n"),
         {"ERROR in ORG Coord", "ERROR in SIZE Coord", "ERROR in ROT Coord", "ERROR in RGB Coord",
          "ERROR in DENS nr", "ERROR in SKIN scale", "ERROR in TRANS"},
         "PLANE8"},
        {"brackets-unclosed.880", bytesOf(kId + "SPHERE8 ORG[1,2 SIZE[3\n"), {}, "SPHERE8"},
        {"names-too-long.880",
         bytesOf(kId + "SPHERE8 TEXTURE[" + longName + ".bmp] SKIN[" + longName + ".bmp] SHORTCUT[" + longName +
                 "]\n"),
         {"ERROR in TEXTURE name", "ERROR in SKIN name", "ERROR in SHORTCUT name"},
         "SPHERE8"},
        {"names-of-missing-bitmaps.880", bytesOf(kId + "PLANE8 TEXTURE[absent.bmp] SKIN[..\\..\\absent.bmp]\n"), {},
         "PLANE8"},
        {"first-block-a-cube.880", bytesOf(kId + "CUBE\nSPHERE24\nPLANE20\n"), {}, "SPHERE24"},
        {"first-block-a-plane-of-many.880", bytesOf(kId + "PLANE8\nCUBE\nSPHERE4\nTRIANGLE\nCYLINDER9\n"), {},
         "PLANE8"},
        {"keys-without-kind.880", bytesOf(kId + "ORG[1,2,3] RGB[1,0,0]\nTEXTURE[a.bmp]\n"), {}, "SPHERE24"},
    };
    // Many blocks: binding stays linear and keeps the first.
    std::string many = kId;
    for (int i = 0; i < 20000; ++i) many += i == 0 ? "PLANE4 ORG[1,0,0]\n" : "SPHERE4 ORG[0,0,0]\n";
    scenes.push_back({"twenty-thousand-blocks.880", bytesOf(many), {}, "PLANE4"});
    // Ceiling-fine blocks after the first: removed at binding, never built.
    std::string fine = kId + "SPHERE8\n";
    for (int i = 0; i < 1500; ++i) fine += "PLANE1024\n";
    scenes.push_back({"fifteen-hundred-ceiling-planes.880", bytesOf(fine), {}, "SPHERE8"});
    return scenes;
}

}  // namespace plexa::samples

// plexa-make-samples: writes the project's own sample images and test inputs.
//
//     plexa-make-samples samples DIR [NAME...]
//                                      materials and skins (bitmap and JPEG
//                                      twins, non-power-of-two sizes, grey skins);
//                                      with names, only those (the release zip's)
//     plexa-make-samples hostile DIR   DIR/bitmap, DIR/jpeg, DIR/png and DIR/scene:
//                                      damaged and malicious files, with
//                                      DIR/outcomes.txt
//                                      naming what a careful reader must do
//     plexa-make-samples seeds DIR     seed corpora of the fuzz targets:
//                                      DIR/scene, DIR/bitmap, DIR/jpeg,
//                                      DIR/png (a first byte: material or
//                                      skin), DIR/scale
//
// Every picture is computed here; nothing is copied from elsewhere.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "tools/make-samples/sample_images.h"

namespace {

using namespace plexa::samples;

const char* outcomeName(Outcome o) {
    switch (o) {
        case Outcome::Refused: return "refused";
        case Outcome::Accepted: return "accepted";
        case Outcome::AcceptedWithWarnings: return "accepted-with-warnings";
        case Outcome::Either: return "either";
    }
    return "?";
}

std::vector<NamedFile> plain(const std::vector<HostileFile>& files, size_t maxBytes) {
    std::vector<NamedFile> out;
    for (const HostileFile& f : files)
        if (f.bytes.size() <= maxBytes) out.push_back({f.name, f.bytes});
    return out;
}

bool writeHostile(const std::string& dir) {
    const auto bitmaps = hostileBitmaps();
    const auto jpegs = hostileJpegs();
    const auto pngs = hostilePngs();
    std::ofstream list(dir + "/outcomes.txt");
    for (const auto& f : bitmaps) list << "bitmap/" << f.name << ' ' << outcomeName(f.outcome) << '\n';
    for (const auto& f : jpegs) list << "jpeg/" << f.name << ' ' << outcomeName(f.outcome) << '\n';
    for (const auto& f : pngs) list << "png/" << f.name << ' ' << outcomeName(f.outcome) << '\n';
    std::vector<NamedFile> scenes;
    for (const auto& f : hostileScenes()) {
        list << "scene/" << f.name << ' ' << f.block << ' ' << f.log.size() << " log records\n";
        scenes.push_back({f.name, f.bytes});
    }
    return writeFiles(dir + "/bitmap", plain(bitmaps, SIZE_MAX)) && writeFiles(dir + "/jpeg", plain(jpegs, SIZE_MAX)) &&
           writeFiles(dir + "/png", plain(pngs, SIZE_MAX)) &&
           writeFiles(dir + "/scene", scenes) && static_cast<bool>(list);
}

bool writeSeeds(const std::string& dir) {
    // Small inputs keep the fuzzers fast; the large samples add nothing new.
    constexpr size_t kSeedLimit = 32 * 1024;
    std::vector<NamedFile> bitmaps = plain(hostileBitmaps(), kSeedLimit);
    std::vector<NamedFile> jpegs = plain(hostileJpegs(), kSeedLimit);
    std::vector<NamedFile> pngs;
    for (NamedFile& f : plain(hostilePngs(), kSeedLimit)) {
        f.bytes.insert(f.bytes.begin(), static_cast<uint8_t>(pngs.size() & 1));   // material or skin
        pngs.push_back(std::move(f));
    }
    for (const NamedFile& f : sampleFiles()) {
        if (f.bytes.size() > kSeedLimit) continue;
        const bool bmp = f.name.size() > 4 && f.name.compare(f.name.size() - 4, 4, ".bmp") == 0;
        (bmp ? bitmaps : jpegs).push_back({"sample-" + f.name, f.bytes});
    }
    std::vector<NamedFile> lines;
    int n = 0;
    for (const std::string& line : sceneSeedLines()) {
        char name[32];
        std::snprintf(name, sizeof name, "line-%02d.txt", n++);
        lines.push_back({name, Bytes(line.begin(), line.end())});
    }
    std::string all;
    for (const std::string& line : sceneSeedLines()) all += line + "\n";
    lines.push_back({"all-lines.txt", Bytes(all.begin(), all.end())});
    for (const HostileScene& f : hostileScenes())
        if (f.bytes.size() <= kSeedLimit) lines.push_back({"hostile-" + f.name, f.bytes});
    // Scaling: five bytes of sizes (each modulo 64, plus 1) and threads, then
    // pixels; enlarging, reducing, halving, one axis each way, one-pixel sides.
    std::vector<NamedFile> scalings;
    const uint8_t sizes[][5] = {{4, 2, 7, 3, 0}, {12, 9, 5, 3, 1}, {7, 7, 3, 3, 0}, {0, 9, 0, 15, 1}, {40, 0, 63, 0, 0},
                                {9, 14, 15, 7, 1}};
    for (const auto& size : sizes) {
        Bytes bytes(size, size + 5);
        for (int i = 0; i < 200; ++i) bytes.push_back(static_cast<uint8_t>(i * 37 + size[0]));
        scalings.push_back({"scale-" + std::to_string(scalings.size()) + ".bin", bytes});
    }
    return writeFiles(dir + "/scene", lines) && writeFiles(dir + "/bitmap", bitmaps) && writeFiles(dir + "/jpeg", jpegs) &&
           writeFiles(dir + "/png", pngs) && writeFiles(dir + "/scale", scalings);
}

}  // namespace

int main(int argc, char** argv) {
    const bool named = argc > 3 && std::strcmp(argv[1], "samples") == 0;
    if (argc != 3 && !named) {
        std::fprintf(stderr, "usage: %s samples|hostile|seeds DIR, or samples DIR NAME...\n", argv[0]);
        return 2;
    }
    const std::string what = argv[1], dir = argv[2];
    bool ok = false;
    if (named) {
        std::vector<NamedFile> all = sampleFiles(), chosen;
        for (int i = 3; i < argc; ++i) {
            auto found = std::find_if(all.begin(), all.end(), [&](const NamedFile& f) { return f.name == argv[i]; });
            // A misspelt name must not quietly leave a picture out of a release.
            if (found == all.end()) {
                std::fprintf(stderr, "%s: no sample picture named %s\n", argv[0], argv[i]);
                return 2;
            }
            chosen.push_back(*found);
        }
        ok = writeFiles(dir, chosen);
    } else if (what == "samples")
        ok = writeFiles(dir, sampleFiles());
    else if (what == "hostile")
        ok = writeFiles(dir, {}) && writeHostile(dir);
    else if (what == "seeds")
        ok = writeSeeds(dir);
    else {
        std::fprintf(stderr, "%s: unknown set '%s'\n", argv[0], argv[1]);
        return 2;
    }
    if (!ok) {
        std::fprintf(stderr, "%s: could not write %s\n", argv[0], dir.c_str());
        return 1;
    }
    return 0;
}

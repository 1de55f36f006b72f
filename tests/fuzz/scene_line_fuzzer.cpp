// The scene-file line reader from any bytes: kind keywords, keyed values,
// names, the block built from them (mesh, skin, lists), and the writer. A
// line the writer produces must read back into a block that writes the same
// line again once the file format's own rounding has been applied.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "geometry/mesh.h"
#include "scene/scene.h"
#include "scene/scene_file.h"

namespace {

using plexa::scene::kLineCapacity;

// Lines read per input, and the finest mesh built from them: larger meshes
// are exercised by the fineness tests and would only slow the search here.
constexpr int kMaxLines = 8;
constexpr int32_t kMaxFuzzFineness = 64;

// The line as the file writer stores one block, a line cut short ended by a
// line feed too; empty when the line was cut. Either way the reader must take
// it back: a line it refuses would cost the block at the next binding.
std::string written(const plexa::scene::Block& block) {
    char line[kLineCapacity];
    const bool whole = plexa::scene::writeLine(block, line);
    std::string stored = line;
    if (!whole) stored += '\n';
    if (stored.size() > plexa::scene::kLongestLine || stored.back() != '\n') std::abort();
    if (!whole) {
        plexa::scene::Scene scene;
        char text[kLineCapacity];
        std::memcpy(text, stored.c_str(), stored.size() + 1);
        scene.addLine(text);
        if (scene.count() != 1) std::abort();
        return {};
    }
    return stored;
}

// Reads `line` into a fresh scene; the single block's written line.
std::string reread(const std::string& line) {
    char text[kLineCapacity];
    std::memcpy(text, line.c_str(), line.size() + 1);
    plexa::scene::Scene scene;
    scene.addLine(text);
    if (scene.count() != 1) std::abort();   // a written line is always a block line
    return written(*scene.block(0));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Problems go to "error.txt" in the current directory: a private one.
    char pattern[] = "/tmp/plexa-fuzz-XXXXXX";
    if (!mkdtemp(pattern) || chdir(pattern) != 0) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::remove("error.txt");
    const std::string input(reinterpret_cast<const char*>(data), size);
    plexa::scene::Scene scene;
    // As the file reader does: the lists are compiled once, after all lines.
    auto deferred = std::make_unique<plexa::scene::DeferredRefresh>(scene);
    size_t start = 0;
    for (int n = 0; n < kMaxLines && start <= input.size(); ++n) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos) end = input.size();
        std::string line = input.substr(start, end - start);
        start = end + 1;
        // The file reader never hands over a NUL; the line ends at the first.
        line.resize(std::strlen(line.c_str()));
        if (line.size() >= kLineCapacity) line.resize(kLineCapacity - 1);

        char keyword[kLineCapacity];
        std::memcpy(keyword, line.c_str(), line.size() + 1);
        plexa::scene::KindKeyword kind;
        if (!plexa::scene::readKindKeyword(keyword, kind)) continue;
        if (!plexa::scene::isBlockKind(kind.kind) || kind.fineness < 1 ||
            kind.fineness > plexa::geometry::kFinenessCeiling)
            std::abort();
        if (kind.fineness > kMaxFuzzFineness) continue;

        char text[kLineCapacity];
        std::memcpy(text, line.c_str(), line.size() + 1);
        scene.addLine(text);
    }

    deferred.reset();

    for (int32_t i = 0; i < scene.count(); ++i) {
        const std::string first = written(*scene.block(i));
        if (first.empty()) continue;
        // One pass through the format rounds the numbers and applies its
        // rules (a zero density becomes 1); after that the line is fixed.
        const std::string second = reread(first);
        if (second.empty()) continue;
        const std::string third = reread(second);
        if (third != second) {
            std::fprintf(stderr, "round trip changed the line:\n  %s  %s", second.c_str(), third.c_str());
            std::abort();
        }
    }
    return 0;
}

// Binding a whole scene file from any bytes, as the plug-in does for an object
// it knows: naming, reading (identification line, over-long lines, NULs),
// the reduction to one sphere or plane, the keeping-aside of a file that is no
// scene, and saving. Whatever was read, the saved file must bind again to the
// same block and save to the same bytes.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/instance_table.h"

namespace {

using plexa::host::InstanceTable;
using plexa::host::PluginInstance;

std::string contents(const char* name) {
    std::string text;
    if (std::FILE* file = std::fopen(name, "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
        std::fclose(file);
    }
    return text;
}

// Binds a tagged object and saves its scene; the saved file's bytes.
std::string bindAndSave(uint8_t (&data)[512], bool expectReadable) {
    InstanceTable table;
    plexa::host::HostInstanceInfo info{};
    info.key = 1;
    info.objectData = data;
    std::memcpy(data + plexa::host::object_data::kTagOffset, "PLX", 4);
    PluginInstance& instance = table.add(info);
    plexa::host::startInstance(instance, &table);
    if (instance.scene->count() != 1 || instance.scene->selected != instance.scene->block(0)) std::abort();
    if (expectReadable && instance.ownedPath.empty()) std::abort();
    if (!plexa::host::saveInstance(instance)) std::abort();
    return contents(instance.sceneFileName);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Every save is flushed to the disk; in memory that costs nothing, where
    // a disk would bound the search to a few runs a second.
    char inMemory[] = "/dev/shm/plexa-fuzz-XXXXXX";
    char onDisk[] = "/tmp/plexa-fuzz-XXXXXX";
    if ((!mkdtemp(inMemory) || chdir(inMemory) != 0) && (!mkdtemp(onDisk) || chdir(onDisk) != 0)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
    // Finenesses up to the ceiling are allowed; long inputs would only repeat
    // what short ones reach, at the cost of building many meshes.
    if (size > 16384) return 0;
    std::remove("error.txt");
    std::remove("defplx00.880.bad");
    std::remove("defplx00.880.kept");
    if (std::FILE* file = std::fopen("defplx00.880", "wb")) {
        if (size) std::fwrite(input, 1, size, file);
        std::fclose(file);
    } else {
        std::abort();
    }
    uint8_t data[512] = {};
    const std::string saved = bindAndSave(data, false);
    if (saved.compare(0, 4, "880\n") != 0) std::abort();
    if (bindAndSave(data, true) != saved) {
        std::fprintf(stderr, "a saved scene did not save the same again\n");
        std::abort();
    }
    return 0;
}

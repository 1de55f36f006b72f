// The plug-in library and its five exports, as the host sees them (platform
// side).
//
// [X] loads by full path, so that a plexa.dll elsewhere on the search path is
//     never picked up instead
// [X] names every missing export at once
#pragma once

#include "host/host_records.h"

#include <cstdint>
#include <string>

#include <windows.h>

namespace plexa::refhost {

struct PluginLibrary {
    using InitPluginFunction = int32_t (*)(const plexa::host::HostInstanceInfo*);
    using KeyFunction = void (*)(int32_t);
    using ReceiveMessageFunction = int32_t (*)(const plexa::host::HostMessage*);

    HMODULE module = nullptr;
    std::string path;  // full name of the loaded file
    InitPluginFunction initPlugin = nullptr;
    KeyFunction stopPlugin = nullptr;
    KeyFunction timerDraw = nullptr;
    KeyFunction phantomDraw = nullptr;
    ReceiveMessageFunction receiveMessage = nullptr;

    bool load(const std::string& fileName, std::string* error);
    // The library's unload deletes its textures: the OpenGL context must
    // still be current.
    void unload();
};

// plexa.dll in the directory of the running executable.
std::string defaultPluginPath();
// The full form of a possibly relative name, against the current directory.
std::string fullPathOf(const std::string& name);

}  // namespace plexa::refhost

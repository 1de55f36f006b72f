// Library-wide state shared by every instance (core side: handles are opaque).
#pragma once

#include <cstdint>
#include <string>

#include "host/host_records.h"

namespace plexa::host {

constexpr size_t kPathCapacity = 260;

struct LibraryState {
    HostInstanceInfo firstRecord{};   // copy of the first binding's record
    void* hostWindow = nullptr;
    void* moduleInstance = nullptr;
    void* commandWindow = nullptr;
    // The directory of the library file, ending in a backslash.
    char pluginDirectory[kPathCapacity] = {};
    // The current directory at the first binding with a backslash appended; one
    // byte more than a path so that the backslash always fits.
    char hostDirectory[kPathCapacity + 1] = {};
    bool initialised = false;
    // The two directories as the system names them, whatever their
    // characters and length, ending in a backslash: what every switch of
    // the current directory and every file the plug-in names goes by.
    std::wstring pluginFolder;
    std::wstring hostFolder;
    // Where scenes are kept while the host folder cannot be written, under
    // the user's own local application data; empty when the system names no
    // such place.
    std::wstring perUserFolder;
    // Whether scenes are being kept there, and whether the user was told so
    // (once per library load).
    bool keepingScenesPerUser = false;
    bool toldOfPerUserFolder = false;
};

LibraryState& library();

class InstanceTable;
InstanceTable& instances();

}  // namespace plexa::host

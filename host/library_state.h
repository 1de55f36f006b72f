// Library-wide state shared by every instance (core side: handles are opaque).
#pragma once

#include <cstdint>

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
};

LibraryState& library();

class InstanceTable;
InstanceTable& instances();

}  // namespace plexa::host

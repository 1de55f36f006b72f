#include "geometry/numeric.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace plexa::geometry {

size_t logMessageRoom() {
    return kLogLineSize - 1 - std::strlen(kLogPrefix);
}

void logError(const char* message) {
    char line[kLogLineSize];
    const size_t prefixLength = std::strlen(kLogPrefix);
    std::memcpy(line, kLogPrefix, prefixLength);
    size_t messageLength = message ? std::strlen(message) : 0;
    // The over-long scene line is the one caller with more than fits; its head
    // is what a reader of the log needs to find it.
    if (messageLength > logMessageRoom()) messageLength = logMessageRoom();
    if (messageLength) std::memcpy(line + prefixLength, message, messageLength);
    line[prefixLength + messageLength] = '\0';

    std::FILE* log = std::fopen(kLogFileName, "a");
    if (!log) return;
    std::fputs(line, log);
    std::fputs("\n", log);
    std::fclose(log);
}

namespace {
size_t g_faultFrom = 0;
}  // namespace

void setAllocationFaultFrom(size_t bytes) { g_faultFrom = bytes; }

void checkAllocation(size_t bytes) {
    if (g_faultFrom != 0 && bytes >= g_faultFrom) throw std::bad_alloc();
}

void logAllocationFailure(const std::bad_alloc& failure, const char* what) {
    if (dynamic_cast<const AllocationFailure*>(&failure)) return;
    char message[kLogLineSize];
    std::snprintf(message, sizeof message, "allocation failure: %s", what);
    logError(message);
}

MeshEntry* s_matrix(int32_t n) {
    // A negative count or an overflowing product asks for more than any
    // allocator can give, so it takes the same failure path as a real shortage.
    size_t bytes = std::numeric_limits<size_t>::max();
    if (n >= 0) bytes = static_cast<size_t>(n) * sizeof(MeshEntry);
    try {
        checkAllocation(bytes);
        if (bytes == std::numeric_limits<size_t>::max()) throw std::bad_alloc();
        // operator new[] of 0 still gives a distinct, valid pointer.
        return new MeshEntry[bytes / sizeof(MeshEntry)];
    } catch (const std::bad_alloc&) {
        // The host's own unsaved work must not end with this one mesh.
        logError("allocation failure in s_matrix()");
        throw AllocationFailure();
    }
}

}  // namespace plexa::geometry

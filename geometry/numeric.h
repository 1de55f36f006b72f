// Allocation of mesh arrays and the error log (core side: no window, no Win32).
//
// [X] s_matrix: arrays of 4-float entries; failure is logged and fails the one
//     operation (AllocationFailure), never the host process
// [X] logError: appends a two-line record to "error.txt" in the current directory
// [X] long messages are shortened to fit the 144-byte record line
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

namespace plexa::geometry {

struct MeshEntry {
    float x, y, z, w;
};
static_assert(sizeof(MeshEntry) == 16, "mesh entries are four packed floats");

// An allocation failure that has already been logged.
struct AllocationFailure : std::bad_alloc {
    const char* what() const noexcept override { return "allocation failure"; }
};

// An uninitialised array of n entries, released with delete[]. A negative n or a
// byte size that does not fit is an allocation failure: it is logged and
// AllocationFailure is thrown, so that the operation fails and the host's own
// work lives on.
MeshEntry* s_matrix(int32_t n);

// Large buffers (meshes, pictures) pass here first: throws std::bad_alloc
// when a shortage is being simulated for `bytes`.
void checkAllocation(size_t bytes);
// Simulates a shortage for every large buffer of at least `bytes` bytes from
// now on; 0 ends it. For tests of what a failed allocation leaves behind.
void setAllocationFaultFrom(size_t bytes);

// Logs an allocation failure caught on its way to the host, unless it was
// logged where it happened; `what` names the operation that failed.
void logAllocationFailure(const std::bad_alloc& failure, const char* what);

// One record is the fixed prefix line followed by the message line.
constexpr const char* kLogPrefix = "[Numerical Recipes run-time error...]\n";
constexpr size_t kLogLineSize = 144;   // the record, terminator included
constexpr const char* kLogFileName = "error.txt";

// The longest message that keeps prefix + message + terminator within the line.
size_t logMessageRoom();

// Appends the record to "error.txt". Never reports failure (a read-only directory
// just loses the record); messages longer than logMessageRoom() are cut.
void logError(const char* message);

}  // namespace plexa::geometry

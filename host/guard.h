// The host's process must never end because of the plug-in: what the code
// below a boundary with the host throws stops at that boundary (core side).
#pragma once

#include <cstdio>
#include <exception>
#include <new>

#include "geometry/numeric.h"

namespace plexa::host {

// Runs `body`; whatever it throws fails that one call, logged, and `none` is
// returned in its place. `what` names the call in the log.
template <typename Result, typename Body>
Result guarded(const char* what, Result none, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc& failure) {
        geometry::logAllocationFailure(failure, what);
    } catch (...) {
        try {
            char message[geometry::kLogLineSize];
            std::snprintf(message, sizeof message, "unexpected failure: %s", what);
            geometry::logError(message);
        } catch (...) {
        }
    }
    return none;
}

}  // namespace plexa::host

// Stored file names: relative to the plug-in directory where they lie on its
// drive (core side: pure text rules, no file system).
//
// [X] makeRelative: full name -> stored form
// [X] resolvePath: stored form -> full name
// [X] results that would not fit their buffer are refused, never cut
#pragma once

#include <cstddef>

namespace plexa::host {

// Writes the stored form of `fullName` (whose second character is a colon)
// relative to `pluginDirectory` (ending in a backslash). Returns false, leaving
// `out` empty, when the result does not fit in `outSize` bytes.
bool makeRelative(const char* fullName, const char* pluginDirectory, char* out, size_t outSize);

// Writes the full name of a stored name. Returns false, leaving `out` empty,
// when the result does not fit or when the name climbs above the drive root.
bool resolvePath(const char* storedName, const char* pluginDirectory, char* out, size_t outSize);

}  // namespace plexa::host

// Stored file names: relative to the plug-in directory where they lie on its
// drive (core side: pure text rules, no file system).
//
// [X] makeRelative: full name -> stored form
// [X] resolvePath: stored form -> full name
// [X] results that would not fit their buffer are refused, never cut
// [X] the names handed to the system for files the plug-in names itself:
//     full, dot segments resolved, "\\?\" past the plain-name limit
// [X] the per-user folder that stands in for a host folder
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace plexa::host {

// Writes the stored form of `fullName` (whose second character is a colon)
// relative to `pluginDirectory` (ending in a backslash). Returns false, leaving
// `out` empty, when the result does not fit in `outSize` bytes.
bool makeRelative(const char* fullName, const char* pluginDirectory, char* out, size_t outSize);

// Writes the full name of a stored name. Returns false, leaving `out` empty,
// when the result does not fit or when the name climbs above the drive root.
bool resolvePath(const char* storedName, const char* pluginDirectory, char* out, size_t outSize);
// The same for wide names; false only for a name that climbs above the root.
bool resolvePath(std::u16string_view storedName, std::u16string_view pluginDirectory, std::u16string& out);

// Past this many UTF-16 units a plain name stops working somewhere in the
// system (directories at 248, files at 260); such names are handed over with
// the "\\?\" prefix, which lifts the limit.
constexpr size_t kPlainNameLimit = 248;

// The name to hand the system's wide-character calls for `name` (relative,
// from a drive's root, or full) with `directory` (a full name) as the current
// directory: made full as the system would make it, "." and ".." resolved
// (the prefixed form is taken literally by the system, so they cannot stay),
// and prefixed with "\\?\" (or "\\?\UNC\") from kPlainNameLimit on. A name
// already so prefixed is returned as it is.
std::u16string systemFileName(std::u16string_view directory, std::u16string_view name);

// The last name of a host folder and a short hash of its whole name (letter
// case ignored): the folder under the user's own data that keeps that host
// folder's scenes when it cannot be written. Two host folders with one last
// name never share it.
std::u16string perUserFolderName(std::u16string_view hostDirectory);

// A 64-bit FNV-1a hash of some bytes, to recognise a file's content.
uint64_t contentHash(const void* bytes, size_t length);

}  // namespace plexa::host

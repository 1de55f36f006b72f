#include "host/paths.h"

#include <cstring>
#include <vector>

namespace plexa::host {

namespace {

// Appends `text` to `out` (holding `length` characters); false when it would not fit.
bool append(char* out, size_t outSize, size_t& length, const char* text, size_t textLength) {
    if (length + textLength + 1 > outSize) return false;
    std::memcpy(out + length, text, textLength);
    length += textLength;
    out[length] = '\0';
    return true;
}

bool refuse(char* out, size_t outSize) {
    if (outSize) out[0] = '\0';
    return false;
}

bool sameIgnoringCase(char a, char b) {
    return (static_cast<unsigned char>(a) | 0x20) == (static_cast<unsigned char>(b) | 0x20);
}

}  // namespace

bool makeRelative(const char* fullName, const char* pluginDirectory, char* out, size_t outSize) {
    if (!out || outSize == 0) return false;
    out[0] = '\0';
    size_t length = 0;
    size_t common = 0;
    while (pluginDirectory[common] && fullName[common] &&
           sameIgnoringCase(pluginDirectory[common], fullName[common]))
        ++common;

    if (pluginDirectory[common] == '\0') {
        const char* rest = fullName + common;
        return append(out, outSize, length, rest, std::strlen(rest)) || refuse(out, outSize);
    }

    // Only whole directory names count as shared.
    size_t cut = 0;
    for (size_t i = 0; i < common; ++i)
        if (fullName[i] == '\\') cut = i + 1;
    common = cut;

    if (common == 0)
        return append(out, outSize, length, fullName, std::strlen(fullName)) || refuse(out, outSize);

    const char* rest = fullName + common;
    if (common == 3) {
        return (append(out, outSize, length, "\\", 1) &&
                append(out, outSize, length, rest, std::strlen(rest))) ||
               refuse(out, outSize);
    }

    for (const char* p = pluginDirectory + common; *p; ++p)
        if (*p == '\\' && !append(out, outSize, length, "..\\", 3)) return refuse(out, outSize);
    return append(out, outSize, length, rest, std::strlen(rest)) || refuse(out, outSize);
}

namespace {

// The rules for stored names read only backslashes, dots and colons, so one
// body serves the ANSI names and the wide ones.
template <typename Char>
bool resolveInto(std::basic_string_view<Char> storedName, std::basic_string_view<Char> pluginDirectory,
                 std::basic_string<Char>& out) {
    const Char backslash = static_cast<Char>('\\'), dot = static_cast<Char>('.');
    out.clear();
    if (storedName.size() >= 2 && storedName[1] == static_cast<Char>(':')) {
        out = storedName;
        return true;
    }
    if (!storedName.empty() && storedName[0] == dot) {
        size_t run = 0;
        size_t levels = 0;
        for (; run < storedName.size() && (storedName[run] == dot || storedName[run] == backslash); ++run)
            if (storedName[run] == backslash) ++levels;
        size_t keep = pluginDirectory.size();
        for (size_t i = 0; i < levels; ++i) {
            if (keep > 0 && pluginDirectory[keep - 1] == backslash) --keep;
            while (keep > 0 && pluginDirectory[keep - 1] != backslash) --keep;
            if (keep == 0) return false;  // above the drive root
        }
        out.assign(pluginDirectory.substr(0, keep));
        out += storedName.substr(run);
        return true;
    }
    if (storedName.size() >= 2 && storedName[0] == backslash && storedName[1] == backslash) {
        out = storedName;
        return true;
    }
    if (!storedName.empty() && storedName[0] == backslash) {
        out.assign(pluginDirectory.substr(0, pluginDirectory.size() >= 2 ? 2 : pluginDirectory.size()));
        out += storedName;
        return true;
    }
    out.assign(pluginDirectory);
    out += storedName;
    return true;
}

}  // namespace

bool resolvePath(const char* storedName, const char* pluginDirectory, char* out, size_t outSize) {
    if (!out || outSize == 0) return false;
    std::string full;
    if (!resolveInto<char>(storedName, pluginDirectory, full) || full.size() + 1 > outSize) return refuse(out, outSize);
    std::memcpy(out, full.c_str(), full.size() + 1);
    return true;
}

bool resolvePath(std::u16string_view storedName, std::u16string_view pluginDirectory, std::u16string& out) {
    return resolveInto<char16_t>(storedName, pluginDirectory, out);
}

namespace {

bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

bool startsWithDrive(std::u16string_view name) {
    return name.size() >= 2 && name[1] == u':' && (name[0] | 0x20) >= u'a' && (name[0] | 0x20) <= u'z';
}

bool startsWithTwoSeparators(std::u16string_view name) {
    return name.size() >= 2 && isSeparator(name[0]) && isSeparator(name[1]);
}

// Where the root of a full name ends: after "C:", or after "\\server\share".
size_t rootLength(std::u16string_view full) {
    if (startsWithDrive(full)) return 2;
    if (!startsWithTwoSeparators(full)) return 0;
    size_t at = 2;
    for (int part = 0; part < 2; ++part) {
        while (at < full.size() && isSeparator(full[at])) ++at;
        while (at < full.size() && !isSeparator(full[at])) ++at;
    }
    return at;
}

}  // namespace

std::u16string systemFileName(std::u16string_view directory, std::u16string_view name) {
    const std::u16string_view prefix = u"\\\\?\\";
    if (name.substr(0, prefix.size()) == prefix) return std::u16string(name);

    std::u16string full;
    if (startsWithDrive(name) || startsWithTwoSeparators(name)) {
        full = name;
    } else if (!name.empty() && isSeparator(name[0])) {
        full.assign(directory.substr(0, rootLength(directory)));
        full += name;
    } else {
        full = directory;
        if (!full.empty() && !isSeparator(full.back())) full += u'\\';
        full += name;
    }

    const size_t root = rootLength(full);
    std::u16string result(full, 0, root);
    for (char16_t& c : result)
        if (c == u'/') c = u'\\';
    // Each segment kept ends where the result ends; ".." takes the last one back.
    std::vector<size_t> segmentStarts;
    size_t at = root;
    while (at < full.size()) {
        while (at < full.size() && isSeparator(full[at])) ++at;
        size_t end = at;
        while (end < full.size() && !isSeparator(full[end])) ++end;
        const std::u16string_view segment(full.data() + at, end - at);
        if (segment == u"..") {
            if (!segmentStarts.empty()) {
                result.resize(segmentStarts.back());
                segmentStarts.pop_back();
            }
        } else if (!segment.empty() && segment != u".") {
            segmentStarts.push_back(result.size());
            result += u'\\';
            result += segment;
        }
        at = end;
    }
    // A directory's name keeps its final backslash.
    if (result.size() == root || (!full.empty() && isSeparator(full.back()))) result += u'\\';

    if (result.size() < kPlainNameLimit) return result;
    if (startsWithDrive(result)) return std::u16string(prefix) + result;
    if (startsWithTwoSeparators(result)) return std::u16string(u"\\\\?\\UNC\\") + result.substr(2);
    return result;
}

uint64_t contentHash(const void* bytes, size_t length) {
    uint64_t hash = 14695981039346656037ull;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < length; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

std::u16string perUserFolderName(std::u16string_view hostDirectory) {
    std::u16string_view whole = hostDirectory;
    while (!whole.empty() && isSeparator(whole.back())) whole.remove_suffix(1);
    std::u16string folded(whole);
    for (char16_t& c : folded)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c | 0x20);
    const uint64_t hash = contentHash(folded.data(), folded.size() * sizeof(char16_t));

    size_t start = whole.size();
    while (start > 0 && !isSeparator(whole[start - 1])) --start;
    std::u16string last(whole.substr(start));
    // A drive's root has no name: its letter stands in.
    for (char16_t& c : last)
        if (c == u':') c = u'_';
    // Short enough that the folder stays a usable current directory.
    constexpr size_t kLongestLastName = 40;
    if (last.size() > kLongestLastName) last.resize(kLongestLastName);

    static const char kDigits[] = "0123456789abcdef";
    last += u'-';
    for (int shift = 28; shift >= 0; shift -= 4)
        last += static_cast<char16_t>(kDigits[(static_cast<uint32_t>(hash ^ (hash >> 32)) >> shift) & 0xf]);
    return last;
}

}  // namespace plexa::host

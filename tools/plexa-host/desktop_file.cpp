#include "desktop_file.h"

#include "host/host_records.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace plexa::refhost {

namespace od = plexa::host::object_data;

namespace {

constexpr const char* kHeaderWord = "plexa-desktop";
constexpr int kVersion = 1;
// The writer joins non-zero stretches separated by fewer zero bytes than this,
// so that "PLX\0defplx00.880" stays on one line.
constexpr size_t kJoinGap = 8;
constexpr size_t kBytesPerDataLine = 64;

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

bool parseInt32(const std::string& word, int32_t* out) {
    if (word.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(word.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    if (value < INT32_MIN || value > INT32_MAX) return false;
    *out = static_cast<int32_t>(value);
    return true;
}

bool parseFiniteFloat(const std::string& word, float* out) {
    if (word.empty()) return false;
    errno = 0;
    char* end = nullptr;
    float value = std::strtof(word.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
    *out = value;
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string lineProblem(size_t lineNumber, const std::string& reason) {
    return "line " + std::to_string(lineNumber) + ": " + reason;
}

// Keeps refusal messages readable when a line holds binary junk.
std::string quoted(const std::string& word) {
    std::string shown;
    for (char c : word.substr(0, 40)) {
        unsigned char u = static_cast<unsigned char>(c);
        shown += (u >= 32 && u < 127) ? c : '?';
    }
    if (word.size() > 40) shown += "...";
    return "\"" + shown + "\"";
}

}  // namespace

DesktopReadResult parseDesktop(const std::string& text) {
    DesktopReadResult result;
    bool headerSeen = false;
    // Which object the "data" lines extend: the last one read, or none. A
    // refused "object" line takes its data lines with it, silently, since the
    // refusal was already reported.
    enum class Target { None, Current, Skipped } target = Target::None;
    std::set<int32_t> keysSeen;

    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();

        std::vector<std::string> words = splitWords(line);
        if (words.empty() || words[0][0] == '#') continue;

        if (!headerSeen) {
            int32_t version = 0;
            if (words[0] != kHeaderWord) {
                result.problems.push_back(lineProblem(lineNumber, "not a plexa-host desktop file (it must begin with \"plexa-desktop 1\")"));
                return result;
            }
            if (words.size() != 2 || !parseInt32(words[1], &version) || version != kVersion) {
                result.problems.push_back(lineProblem(lineNumber, "unsupported desktop version " +
                                                      (words.size() > 1 ? quoted(words[1]) : std::string("(none)")) +
                                                      ", this host reads version 1"));
                return result;
            }
            headerSeen = true;
            result.recognised = true;
            continue;
        }

        const std::string& keyword = words[0];
        if (keyword == "object") {
            target = Target::Skipped;
            if (words.size() != 5) {
                result.problems.push_back(lineProblem(lineNumber, "\"object\" needs a key and x y z; object skipped with its data"));
                continue;
            }
            DesktopObject object;
            if (!parseInt32(words[1], &object.key)) {
                result.problems.push_back(lineProblem(lineNumber, "bad key " + quoted(words[1]) + " (a 32-bit integer); object skipped with its data"));
                continue;
            }
            bool positionOk = true;
            for (int axis = 0; axis < 3 && positionOk; ++axis) {
                if (!parseFiniteFloat(words[2 + axis], &object.position[axis])) {
                    result.problems.push_back(lineProblem(lineNumber, "bad coordinate " + quoted(words[2 + axis]) + "; object skipped with its data"));
                    positionOk = false;
                }
            }
            if (!positionOk) continue;
            if (!keysSeen.insert(object.key).second) {
                result.problems.push_back(lineProblem(lineNumber, "key " + std::to_string(object.key) + " is already used; object skipped with its data"));
                continue;
            }
            if (result.objects.size() >= kMaxObjects) {
                result.problems.push_back(lineProblem(lineNumber, "more than " + std::to_string(kMaxObjects) + " objects; object skipped"));
                continue;
            }
            result.objects.push_back(object);
            target = Target::Current;
        } else if (keyword == "data") {
            if (target == Target::Skipped) continue;
            if (target == Target::None) {
                result.problems.push_back(lineProblem(lineNumber, "\"data\" before any object; ignored"));
                continue;
            }
            if (words.size() != 3) {
                result.problems.push_back(lineProblem(lineNumber, "\"data\" needs an offset and hex bytes; ignored"));
                continue;
            }
            int32_t offset = 0;
            if (!parseInt32(words[1], &offset) || offset < 0 || static_cast<size_t>(offset) >= kObjectDataSize) {
                result.problems.push_back(lineProblem(lineNumber, "bad offset " + quoted(words[1]) + " (0 to " +
                                                      std::to_string(kObjectDataSize - 1) + "); ignored"));
                continue;
            }
            const std::string& hex = words[2];
            if (hex.size() % 2 != 0) {
                result.problems.push_back(lineProblem(lineNumber, "odd number of hex digits; ignored"));
                continue;
            }
            size_t count = hex.size() / 2;
            if (count > kObjectDataSize - static_cast<size_t>(offset)) {
                result.problems.push_back(lineProblem(lineNumber, "bytes run past the " + std::to_string(kObjectDataSize) +
                                                      "-byte data block; ignored"));
                continue;
            }
            std::vector<uint8_t> bytes(count);
            bool hexOk = true;
            for (size_t i = 0; i < count; ++i) {
                int high = hexDigit(hex[2 * i]);
                int low = hexDigit(hex[2 * i + 1]);
                if (high < 0 || low < 0) { hexOk = false; break; }
                bytes[i] = static_cast<uint8_t>(high * 16 + low);
            }
            if (!hexOk) {
                result.problems.push_back(lineProblem(lineNumber, "not hex: " + quoted(hex) + "; ignored"));
                continue;
            }
            std::memcpy(result.objects.back().data.data() + offset, bytes.data(), count);
        } else {
            result.problems.push_back(lineProblem(lineNumber, "unknown statement " + quoted(keyword) + "; ignored"));
        }
    }
    if (!headerSeen) {
        // Nothing but blank and comment lines: an empty desktop. Nothing in
        // such a file can be lost by saving over it.
        result.recognised = true;
    }
    return result;
}

bool hasPlexaTag(const ObjectData& data) {
    return std::memcmp(data.data() + od::kTagOffset, "PLX", 3) == 0;
}

std::string sceneFileNameOf(const ObjectData& data, bool* terminated) {
    const char* name = reinterpret_cast<const char*>(data.data() + od::kNameOffset);
    size_t length = 0;
    while (length < od::kNameCapacity && name[length] != '\0') ++length;
    if (terminated) *terminated = length < od::kNameCapacity;
    return std::string(name, length);
}

namespace {

std::string hexOf(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (size_t i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

std::string printable(const std::string& text) {
    std::string shown;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        shown += (u >= 32 && u < 127) ? c : '?';
    }
    return shown;
}

// The shortest text that reads back as the same float: "-1.6", not
// "-1.60000002". Nine significant digits always suffice.
std::string formatFloat(float value) {
    char buffer[32];
    for (int digits = 1; digits <= 9; ++digits) {
        std::snprintf(buffer, sizeof buffer, "%.*g", digits, static_cast<double>(value));
        if (std::strtof(buffer, nullptr) == value) break;
    }
    return buffer;
}

}  // namespace

std::string formatDesktop(const std::vector<DesktopObject>& objects) {
    std::string out;
    out += "plexa-desktop 1\n";
    out += "# Written by plexa-host at exit. Objects in binding order:\n";
    out += "#   object <key> <x> <y> <z>\n";
    out += "#   data <offset> <hex>   bytes of its 512-byte data block, the rest zero\n";
    out += "# The plug-in keeps its tag at 256, its scene file name at 260 and\n";
    out += "# reads a chosen colour at 336 (red, green, blue).\n";
    for (const DesktopObject& object : objects) {
        out += "\nobject " + std::to_string(object.key) + " " + formatFloat(object.position[0]) + " " +
               formatFloat(object.position[1]) + " " + formatFloat(object.position[2]) + "\n";
        const ObjectData& data = object.data;
        if (hasPlexaTag(data)) {
            bool terminated = true;
            std::string name = sceneFileNameOf(data, &terminated);
            out += "# tag PLX, scene file " + printable(name) + (terminated ? "" : " (unterminated)");
        } else {
            out += "# not yet bound to the plug-in";
        }
        const uint8_t* colour = data.data() + od::kColorOffset;
        out += ", colour " + std::to_string(colour[0]) + " " + std::to_string(colour[1]) + " " +
               std::to_string(colour[2]) + "\n";

        size_t i = 0;
        while (i < kObjectDataSize) {
            if (data[i] == 0) { ++i; continue; }
            size_t start = i;
            size_t last = i;  // last non-zero byte of the stretch
            size_t j = i + 1;
            while (j < kObjectDataSize && j - start < kBytesPerDataLine) {
                if (data[j] != 0) {
                    last = j;
                } else if (j - last >= kJoinGap) {
                    break;
                }
                ++j;
            }
            out += "data " + std::to_string(start) + " " + hexOf(data.data() + start, last - start + 1) + "\n";
            i = last + 1;
        }
    }
    return out;
}

#ifdef _WIN32
std::wstring wideOf(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string utf8Of(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr,
                            nullptr);
    return utf8;
}

std::FILE* openFile(const std::string& path, const char* mode) {
    return _wfopen(wideOf(path).c_str(), wideOf(mode).c_str());
}
#else
std::FILE* openFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
#endif

FileReadStatus readWholeFile(const std::string& path, std::string& text) {
    std::FILE* file = openFile(path, "rb");
    if (!file) return errno == ENOENT ? FileReadStatus::Missing : FileReadStatus::Unreadable;
    text.clear();
    char buffer[65536];
    size_t got = 0;
    FileReadStatus status = FileReadStatus::Ok;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        if (text.size() + got > kMaxDesktopFileBytes) { status = FileReadStatus::TooLarge; break; }
        text.append(buffer, got);
    }
    if (status == FileReadStatus::Ok && std::ferror(file)) status = FileReadStatus::Unreadable;
    std::fclose(file);
    return status;
}

bool writeFileAtomically(const std::string& path, const std::string& text, std::string* error) {
    const std::string temporary = path + ".tmp";
    std::FILE* file = openFile(temporary, "wb");
    if (!file) {
        if (error) *error = "cannot create " + temporary + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fflush(file) == 0 && ok;
#ifdef _WIN32
    ok = _commit(_fileno(file)) == 0 && ok;
#else
    ok = fsync(fileno(file)) == 0 && ok;
#endif
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        if (error) *error = "cannot write " + temporary + ": " + std::strerror(errno);
#ifdef _WIN32
        DeleteFileW(wideOf(temporary).c_str());
#else
        std::remove(temporary.c_str());
#endif
        return false;
    }
#ifdef _WIN32
    // rename() refuses to replace an existing file on Windows.
    if (!MoveFileExW(wideOf(temporary).c_str(), wideOf(path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        if (error) *error = "cannot replace " + path + " (error " + std::to_string(GetLastError()) + ")";
        DeleteFileW(wideOf(temporary).c_str());
        return false;
    }
#else
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        if (error) *error = "cannot replace " + path + ": " + std::strerror(errno);
        std::remove(temporary.c_str());
        return false;
    }
#endif
    return true;
}

}  // namespace plexa::refhost

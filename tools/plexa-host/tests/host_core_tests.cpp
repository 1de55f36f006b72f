// Tests of the host's core parts: desktop file, PNG writer, command line.
//
// The desktop file is what carries an object's tag and scene file name from
// one run to the next, so a byte lost or moved there silently costs the user
// a scene; these tests push every byte pattern and every kind of damage
// through it. The PNG checks decode the stream independently of the writer's
// own structure (stored blocks, lengths, checksums). Builds natively and for
// Win64.

#include "command_line.h"
#include "desktop_file.h"
#include "png_writer.h"

#include "host/host_records.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

using namespace plexa::refhost;
namespace od = plexa::host::object_data;

namespace {

int g_caseFailures = 0;

template <typename Got, typename Expected>
bool checkEqual(const Got& got, const Expected& expected, const char* what, int line) {
    if (got == expected) return true;
    std::ostringstream message;
    message << "  line " << line << ": " << what << ": got " << got << ", expected " << expected;
    std::printf("%s\n", message.str().c_str());
    ++g_caseFailures;
    return false;
}

bool checkTrue(bool condition, const char* what, int line) {
    if (condition) return true;
    std::printf("  line %d: %s is false\n", line, what);
    ++g_caseFailures;
    return false;
}

#define CHECK_EQ(got, expected) checkEqual((got), (expected), #got, __LINE__)
#define CHECK(condition) checkTrue((condition), #condition, __LINE__)

// Deterministic bytes, so a failure can be replayed.
struct Random {
    uint32_t state;
    uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

bool sameFloatBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool sameObjects(const std::vector<DesktopObject>& a, const std::vector<DesktopObject>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].key != b[i].key || a[i].data != b[i].data) return false;
        for (int axis = 0; axis < 3; ++axis) {
            if (!sameFloatBits(a[i].position[axis], b[i].position[axis])) return false;
        }
    }
    return true;
}

DesktopObject boundObject(int32_t key, const char* sceneName, uint8_t r, uint8_t g, uint8_t b) {
    DesktopObject object;
    object.key = key;
    std::memcpy(object.data.data() + od::kTagOffset, "PLX", 4);
    std::strncpy(reinterpret_cast<char*>(object.data.data() + od::kNameOffset), sceneName, od::kNameCapacity);
    object.data[od::kColorOffset] = r;
    object.data[od::kColorOffset + 1] = g;
    object.data[od::kColorOffset + 2] = b;
    return object;
}

bool mentions(const std::vector<std::string>& problems, const std::string& text) {
    for (const std::string& problem : problems) {
        if (problem.find(text) != std::string::npos) return true;
    }
    return false;
}

// --- Desktop file --------------------------------------------------------

void desktopRoundTripKeepsEveryByteAndFloatBit() {
    std::vector<DesktopObject> objects;
    objects.push_back(boundObject(101, "defplx00.880", 255, 128, 0));
    objects.push_back(boundObject(-7, "..\\defplx01.880", 0, 0, 1));
    objects.push_back(boundObject(INT32_MIN, "defplx123.880", 1, 2, 3));
    objects.push_back(DesktopObject{});  // key 0, all zero
    objects.back().key = INT32_MAX;
    objects[0].position[0] = -1.6f;
    objects[0].position[1] = 1e-7f;
    objects[0].position[2] = 123456.789f;
    objects[1].position[0] = -0.0f;
    objects[1].position[1] = 3.4e38f;
    objects[2].position[2] = 1.17549435e-38f;

    // Edges of the block and stretches longer than one data line.
    objects[3].data[0] = 0x01;
    objects[3].data[kObjectDataSize - 1] = 0xFE;
    for (size_t i = 100; i < 230; ++i) objects[3].data[i] = static_cast<uint8_t>(i);

    DesktopReadResult read = parseDesktop(formatDesktop(objects));
    CHECK(read.recognised);
    CHECK_EQ(read.problems.size(), 0u);
    CHECK(sameObjects(read.objects, objects));
}

void desktopRoundTripOfRandomBlocks() {
    // Zero gaps of every length around the writer's joining threshold, and
    // runs that cross its line length, in random places.
    Random random{12345};
    std::vector<DesktopObject> objects;
    for (int n = 0; n < 300; ++n) {
        DesktopObject object;
        object.key = static_cast<int32_t>(random.next()) - (1 << 23);
        object.key += n * 100000;  // distinct
        size_t i = random.next() % 40;
        while (i < kObjectDataSize) {
            size_t run = 1 + random.next() % 90;
            for (size_t j = i; j < i + run && j < kObjectDataSize; ++j) object.data[j] = static_cast<uint8_t>(1 + random.next() % 255);
            i += run + random.next() % 12;
        }
        objects.push_back(object);
    }
    DesktopObject full;
    full.key = 424242;
    full.data.fill(0xFF);
    objects.push_back(full);

    DesktopReadResult read = parseDesktop(formatDesktop(objects));
    CHECK(read.recognised);
    CHECK_EQ(read.problems.size(), 0u);
    CHECK(sameObjects(read.objects, objects));
}

void desktopWriterCommentsWhatThePluginWrote() {
    std::vector<DesktopObject> objects = {boundObject(5, "defplx03.880", 10, 20, 30), DesktopObject{}};
    std::string text = formatDesktop(objects);
    CHECK(text.rfind("plexa-desktop 1\n", 0) == 0);
    CHECK(text.find("# tag PLX, scene file defplx03.880, colour 10 20 30") != std::string::npos);
    CHECK(text.find("# not yet bound to the plug-in, colour 0 0 0") != std::string::npos);
    // Tag and name share one line: the zero between them is a short gap.
    CHECK(text.find("data 256 504c580064656670") != std::string::npos);
}

void desktopRefusesBadLinesAndKeepsTheRest() {
    const std::string text =
        "# a desktop edited by hand\r\n"
        "plexa-desktop 1\r\n"
        "data 256 504c5800\n"                        // 3: before any object
        "object 1 0 0 0\n"                           // 4: kept
        "data 336 ff8000\n"                          // 5: kept
        "object 2147483648 0 0 0\n"                  // 6: key out of range
        "data 336 010203\n"                          // 7: goes with line 6
        "object 1 5 5 5\n"                           // 8: duplicate key
        "data 336 090909\n"                          // 9: goes with line 8, must not reach key 1
        "object 12a 0 0 0\n"                         // 10: bad key
        "object 3 nan 0 0\n"                         // 11: not finite
        "object 4 0 inf 0\n"                         // 12: not finite
        "object 5 0 0 1e39\n"                        // 13: overflows float
        "object 6 0 0\n"                             // 14: too few words
        "object 7 1.5 -2 0.25\n"                     // 15: kept
        "data 512 00\n"                              // 16: offset past the block
        "data 510 010203\n"                          // 17: runs past the end
        "data 0 abc\n"                               // 18: odd hex
        "data 0 zz\n"                                // 19: not hex
        "data 0\n"                                   // 20: no bytes
        "data -1 00\n"                               // 21: negative offset
        "colour 7 1 2 3\n"                           // 22: unknown statement
        "\n"
        "   # indented comment\n"
        "data 510 0102\n";                           // 25: kept, the block's last two bytes
    DesktopReadResult read = parseDesktop(text);
    CHECK(read.recognised);
    if (!CHECK_EQ(read.objects.size(), 2u)) return;
    CHECK_EQ(read.objects[0].key, 1);
    CHECK_EQ(int(read.objects[0].data[od::kColorOffset]), 0xff);
    CHECK_EQ(int(read.objects[0].data[od::kColorOffset + 2]), 0x00);
    CHECK_EQ(int(read.objects[0].data[od::kTagOffset]), 0);
    CHECK(sameFloatBits(read.objects[0].position[0], 0.0f));
    CHECK_EQ(read.objects[1].key, 7);
    CHECK(sameFloatBits(read.objects[1].position[0], 1.5f));
    CHECK(sameFloatBits(read.objects[1].position[1], -2.0f));
    CHECK(sameFloatBits(read.objects[1].position[2], 0.25f));
    CHECK_EQ(int(read.objects[1].data[510]), 1);
    CHECK_EQ(int(read.objects[1].data[511]), 2);

    const int refusedLines[] = {3, 6, 8, 10, 11, 12, 13, 14, 16, 17, 18, 19, 20, 21, 22};
    CHECK_EQ(read.problems.size(), sizeof refusedLines / sizeof refusedLines[0]);
    for (int line : refusedLines) {
        std::string label = "line " + std::to_string(line) + ":";
        if (!mentions(read.problems, label)) {
            std::printf("  no refusal of %s\n", label.c_str());
            ++g_caseFailures;
        }
    }
    CHECK(mentions(read.problems, "key 1 is already used"));
}

void desktopHeaderDecidesWhetherTheFileIsOurs() {
    DesktopReadResult notOurs = parseDesktop("Dear diary,\nobject 1 0 0 0\n");
    CHECK(!notOurs.recognised);
    CHECK_EQ(notOurs.objects.size(), 0u);
    CHECK(mentions(notOurs.problems, "line 1: not a plexa-host desktop file"));

    DesktopReadResult newer = parseDesktop("plexa-desktop 2\nobject 1 0 0 0\n");
    CHECK(!newer.recognised);
    CHECK_EQ(newer.objects.size(), 0u);

    DesktopReadResult extraWord = parseDesktop("plexa-desktop 1 x\n");
    CHECK(!extraWord.recognised);

    // Empty and comment-only files hold nothing that saving could destroy.
    for (const char* empty : {"", "\n\n", "# nothing yet\n   \n"}) {
        DesktopReadResult read = parseDesktop(empty);
        CHECK(read.recognised);
        CHECK_EQ(read.objects.size(), 0u);
        CHECK_EQ(read.problems.size(), 0u);
    }
}

void desktopSurvivesBinaryJunk() {
    Random random{777};
    for (int round = 0; round < 2000; ++round) {
        std::string text = round % 2 ? "plexa-desktop 1\n" : "";
        size_t length = random.next() % 400;
        for (size_t i = 0; i < length; ++i) {
            // Mostly the format's own alphabet, so that lines get far enough
            // into the parser to hit its checks.
            static const char alphabet[] = "object data 0123456789abcdefx-.+e\n\t\r#";
            uint32_t pick = random.next();
            text += (pick % 5 == 0) ? static_cast<char>(pick >> 8) : alphabet[pick % (sizeof alphabet - 1)];
        }
        DesktopReadResult read = parseDesktop(text);
        CHECK(read.objects.size() <= kMaxObjects);
        for (const std::string& problem : read.problems) {
            for (char c : problem) {
                if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) >= 127) {
                    std::printf("  unprintable character in refusal: %s\n", problem.c_str());
                    ++g_caseFailures;
                    return;
                }
            }
        }
    }
}

void desktopCapsTheNumberOfObjects() {
    std::string text = "plexa-desktop 1\n";
    for (size_t i = 0; i <= kMaxObjects; ++i) text += "object " + std::to_string(i) + " 0 0 0\ndata 336 01\n";
    DesktopReadResult read = parseDesktop(text);
    CHECK_EQ(read.objects.size(), kMaxObjects);
    CHECK_EQ(read.problems.size(), 1u);
    CHECK(mentions(read.problems, "more than"));
    // The refused object's data line must not land on the last kept object.
    CHECK_EQ(int(read.objects.back().data[od::kColorOffset]), 1);
}

void objectDataTagAndName() {
    ObjectData data{};
    CHECK(!hasPlexaTag(data));
    std::memcpy(data.data() + od::kTagOffset, "PLX", 3);
    CHECK(hasPlexaTag(data));
    // Only the first three bytes decide; the plug-in writes the zero itself.
    data[od::kTagOffset + 3] = 'Z';
    CHECK(hasPlexaTag(data));
    data[od::kTagOffset] = 'p';
    CHECK(!hasPlexaTag(data));

    bool terminated = false;
    std::strcpy(reinterpret_cast<char*>(data.data() + od::kNameOffset), "defplx00.880");
    CHECK_EQ(sceneFileNameOf(data, &terminated), std::string("defplx00.880"));
    CHECK(terminated);

    // A name filling all 76 bytes must not run into the colour bytes.
    std::memset(data.data() + od::kNameOffset, 'a', od::kNameCapacity);
    data[od::kColorOffset] = 'X';
    std::string name = sceneFileNameOf(data, &terminated);
    CHECK_EQ(name.size(), od::kNameCapacity);
    CHECK(name.find('X') == std::string::npos);
    CHECK(!terminated);
}

void sampleDesktopIsFreshAndDistinct() {
    std::vector<DesktopObject> sample = sampleDesktop();
    CHECK(sample.size() >= 2u);
    for (size_t i = 0; i < sample.size(); ++i) {
        CHECK(!hasPlexaTag(sample[i].data));
        for (size_t j = i + 1; j < sample.size(); ++j) {
            CHECK(sample[i].key != sample[j].key);
            CHECK(!sameFloatBits(sample[i].position[0], sample[j].position[0]));
        }
    }
    DesktopReadResult read = parseDesktop(formatDesktop(sample));
    CHECK(sameObjects(read.objects, sample));
}

std::string temporaryPath(const char* name) {
#ifdef _WIN32
    const char* base = std::getenv("TEMP");
    std::string directory = base ? std::string(base) + "\\" : std::string();
#else
    std::string directory = "/tmp/";
#endif
    return directory + "plexa-host-tests-" + name;
}

void atomicWriteReplacesAndCleansUp() {
    const std::string path = temporaryPath("desktop.txt");
    std::remove(path.c_str());
    std::string error;
    CHECK(writeFileAtomically(path, "first\n", &error));
    CHECK(writeFileAtomically(path, "second, longer\n", &error));
    std::string text;
    CHECK(readWholeFile(path, text) == FileReadStatus::Ok);
    CHECK_EQ(text, std::string("second, longer\n"));
    CHECK(readWholeFile(path + ".tmp", text) == FileReadStatus::Missing);
    std::remove(path.c_str());
    CHECK(readWholeFile(path, text) == FileReadStatus::Missing);

    // A directory that does not exist: refused with a reason, nothing written.
    const std::string nowhere = temporaryPath("no-such-directory/desktop.txt");
    error.clear();
    CHECK(!writeFileAtomically(nowhere, "x", &error));
    CHECK(!error.empty());
}

// --- PNG writer ----------------------------------------------------------

uint32_t bigEndian32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
}

uint32_t slowAdler32(const std::vector<uint8_t>& bytes) {
    uint32_t a = 1, b = 0;
    for (uint8_t byte : bytes) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

struct DecodedPng {
    bool ok = false;
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> raw;  // the inflated scanlines, filter bytes included
    size_t storedBlocks = 0;
};

// Walks the chunks, checks every CRC and the zlib framing, and inflates the
// stored blocks; any deviation from a valid file leaves ok false.
DecodedPng decodeStoredPng(const std::vector<uint8_t>& png) {
    DecodedPng decoded;
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (png.size() < 8 || std::memcmp(png.data(), signature, 8) != 0) return decoded;
    std::vector<uint8_t> zlib;
    std::vector<std::string> order;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t length = bigEndian32(png, at);
        if (at + 12 + length > png.size()) return decoded;
        std::string type(reinterpret_cast<const char*>(&png[at + 4]), 4);
        if (crc32(&png[at + 4], 4 + length) != bigEndian32(png, at + 8 + length)) return decoded;
        const uint8_t* body = &png[at + 8];
        if (type == "IHDR") {
            if (length != 13) return decoded;
            std::vector<uint8_t> header(body, body + 13);
            decoded.width = bigEndian32(header, 0);
            decoded.height = bigEndian32(header, 4);
            if (header[8] != 8 || header[9] != 2 || header[10] || header[11] || header[12]) return decoded;
        } else if (type == "IDAT") {
            zlib.insert(zlib.end(), body, body + length);
        }
        order.push_back(type);
        at += 12 + length;
    }
    if (at != png.size() || order.empty() || order.front() != "IHDR" || order.back() != "IEND") return decoded;
    if (zlib.size() < 6 || (zlib[0] & 0x0F) != 8 || (zlib[0] * 256 + zlib[1]) % 31 != 0 || (zlib[1] & 0x20)) return decoded;
    size_t z = 2;
    bool final = false;
    while (!final) {
        if (z + 5 > zlib.size()) return decoded;
        final = zlib[z] & 1;
        if ((zlib[z] >> 1) != 0) return decoded;  // stored blocks only, no stray bits
        uint32_t len = zlib[z + 1] | zlib[z + 2] << 8;
        uint32_t nlen = zlib[z + 3] | zlib[z + 4] << 8;
        if ((len ^ 0xFFFF) != nlen || z + 5 + len > zlib.size()) return decoded;
        decoded.raw.insert(decoded.raw.end(), &zlib[z + 5], &zlib[z + 5] + len);
        z += 5 + len;
        ++decoded.storedBlocks;
    }
    if (z + 4 != zlib.size()) return decoded;
    if (bigEndian32(zlib, z) != slowAdler32(decoded.raw)) return decoded;
    decoded.ok = true;
    return decoded;
}

void checksumsMatchKnownValues() {
    const char* digits = "123456789";
    CHECK_EQ(crc32(reinterpret_cast<const uint8_t*>(digits), 9), 0xCBF43926u);
    CHECK_EQ(crc32(nullptr, 0), 0u);
    const char* word = "Wikipedia";
    CHECK_EQ(adler32(reinterpret_cast<const uint8_t*>(word), 9), 0x11E60398u);
    // Long runs of 0xFF are where a missed modulo overflows 32 bits.
    std::vector<uint8_t> ones(200000, 0xFF);
    CHECK_EQ(adler32(ones.data(), ones.size()), slowAdler32(ones));
    // Continuing a checksum over two pieces equals one pass.
    CHECK_EQ(crc32(reinterpret_cast<const uint8_t*>(digits) + 4, 5, crc32(reinterpret_cast<const uint8_t*>(digits), 4)),
             0xCBF43926u);
}

void pngRowsSurviveEncoding(uint32_t width, uint32_t height, size_t expectedBlocks) {
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    Random random{width * 7919u + height};
    for (uint8_t& byte : rgb) byte = static_cast<uint8_t>(random.next());
    DecodedPng decoded = decodeStoredPng(encodePng(width, height, rgb.data()));
    if (!CHECK(decoded.ok)) return;
    CHECK_EQ(decoded.width, width);
    CHECK_EQ(decoded.height, height);
    CHECK_EQ(decoded.storedBlocks, expectedBlocks);
    const size_t rowBytes = size_t(width) * 3;
    if (!CHECK_EQ(decoded.raw.size(), (rowBytes + 1) * height)) return;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = &decoded.raw[y * (rowBytes + 1)];
        if (!CHECK_EQ(int(row[0]), 0)) return;
        if (std::memcmp(row + 1, &rgb[y * rowBytes], rowBytes) != 0) {
            std::printf("  row %u of %ux%u differs (top row must come first)\n", y, width, height);
            ++g_caseFailures;
            return;
        }
    }
}

void pngEncodesValidStreams() {
    pngRowsSurviveEncoding(2, 2, 1);
    pngRowsSurviveEncoding(1, 1, 1);
    pngRowsSurviveEncoding(1456, 15, 1);  // exactly 65535 raw bytes: one full block
    pngRowsSurviveEncoding(1456, 30, 2);  // exactly two full blocks
    pngRowsSurviveEncoding(200, 120, 2);  // a full block and a partial one
    pngRowsSurviveEncoding(640, 480, 15);
}

void pngRefusesImpossibleSizes() {
    uint8_t pixel[3] = {1, 2, 3};
    CHECK(encodePng(0, 1, pixel).empty());
    CHECK(encodePng(1, 0, pixel).empty());
    CHECK(encodePng(kMaxPngSide + 1, 1, pixel).empty());
    CHECK(encodePng(1, 1, nullptr).empty());
}

// --- Command line --------------------------------------------------------

void commandLineDefaultsAndBothSpellings() {
    CommandLineResult none = parseCommandLine({});
    CHECK(none.error.empty());
    CHECK_EQ(none.options.desktopPath, std::string("desktop.txt"));
    CHECK(none.options.pluginPath.empty());
    CHECK_EQ(none.options.frames, 0u);
    CHECK(none.options.screenshotPath.empty());
    CHECK(!none.options.help);

    CommandLineResult all = parseCommandLine({"--desktop", "d.txt", "--plugin=x\\p.dll", "--frames", "12",
                                              "--screenshot=shot.png", "--size", "320x200"});
    CHECK_EQ(all.error, std::string());
    CHECK_EQ(all.options.desktopPath, std::string("d.txt"));
    CHECK_EQ(all.options.pluginPath, std::string("x\\p.dll"));
    CHECK_EQ(all.options.frames, 12u);
    CHECK_EQ(all.options.screenshotPath, std::string("shot.png"));
    CHECK_EQ(all.options.width, 320);
    CHECK_EQ(all.options.height, 200);

    CommandLineResult clicks = parseCommandLine({"--click", "0,right,400,300", "--click=7,shift-right,0,32767",
                                                 "--click", "2,double,1,2", "--click", "3,left,5,6"});
    CHECK_EQ(clicks.error, std::string());
    if (CHECK_EQ(clicks.options.clicks.size(), 4u)) {
        const ScriptedClick& first = clicks.options.clicks[0];
        CHECK(first.kind == ScriptedClick::Kind::Right);
        CHECK_EQ(first.afterFrame, 0u);
        CHECK_EQ(first.x, 400);
        CHECK_EQ(first.y, 300);
        CHECK(clicks.options.clicks[1].kind == ScriptedClick::Kind::ShiftRight);
        CHECK_EQ(clicks.options.clicks[1].afterFrame, 7u);
        CHECK_EQ(clicks.options.clicks[1].y, 32767);
        CHECK(clicks.options.clicks[2].kind == ScriptedClick::Kind::Double);
        CHECK(clicks.options.clicks[3].kind == ScriptedClick::Kind::Left);
    }

    // A file name may itself contain '='.
    CHECK_EQ(parseCommandLine({"--desktop=a=b.txt"}).options.desktopPath, std::string("a=b.txt"));
    CHECK(parseCommandLine({"--frames", "1", "--help"}).options.help);
}

void commandLineRefusals() {
    const std::vector<std::vector<std::string>> refused = {
        {"--frames"},           {"--frames", "-1"},      {"--frames", "abc"},      {"--frames", ""},
        {"--frames", "4294967296"}, {"--frames", "1.5"}, {"--frames=+3"},          {"--size", "100"},
        {"--size", "8x600"},    {"--size", "9000x100"},  {"--size", "x"},          {"--desktop="},
        {"--plugin"},           {"--fast"},              {"desktop.txt"},          {"--screenshot", ""},
        {"--click", "1,middle,2,3"}, {"--click", "1,left,2"}, {"--click", "1,left,2,3,4"},
        {"--click", "1,left,-2,3"},  {"--click", "1,left,32768,3"}, {"--click", ",left,2,3"},
        {"--click", "1,Left,2,3"},
    };
    for (const auto& args : refused) {
        CommandLineResult result = parseCommandLine(args);
        if (result.error.empty()) {
            std::string joined;
            for (const auto& a : args) joined += " [" + a + "]";
            std::printf("  accepted:%s\n", joined.c_str());
            ++g_caseFailures;
        }
    }
    CHECK(parseCommandLine({"--frames", "x"}).error.find("--frames") != std::string::npos);
    CHECK(parseCommandLine({"--bogus"}).error.find("--bogus") != std::string::npos);
}

}  // namespace

int main() {
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"desktop round trip keeps every byte and float bit", desktopRoundTripKeepsEveryByteAndFloatBit},
        {"desktop round trip of random blocks", desktopRoundTripOfRandomBlocks},
        {"desktop writer comments what the plug-in wrote", desktopWriterCommentsWhatThePluginWrote},
        {"desktop refuses bad lines and keeps the rest", desktopRefusesBadLinesAndKeepsTheRest},
        {"desktop header decides whether the file is ours", desktopHeaderDecidesWhetherTheFileIsOurs},
        {"desktop survives binary junk", desktopSurvivesBinaryJunk},
        {"desktop caps the number of objects", desktopCapsTheNumberOfObjects},
        {"object data tag and name", objectDataTagAndName},
        {"sample desktop is fresh and distinct", sampleDesktopIsFreshAndDistinct},
        {"atomic write replaces and cleans up", atomicWriteReplacesAndCleansUp},
        {"checksums match known values", checksumsMatchKnownValues},
        {"png encodes valid streams", pngEncodesValidStreams},
        {"png refuses impossible sizes", pngRefusesImpossibleSizes},
        {"command line defaults and both spellings", commandLineDefaultsAndBothSpellings},
        {"command line refusals", commandLineRefusals},
    };
    int passed = 0, failed = 0;
    for (const auto& [name, run] : cases) {
        g_caseFailures = 0;
        run();
        if (g_caseFailures == 0) {
            ++passed;
            std::printf("ok   %s\n", name);
        } else {
            ++failed;
            std::printf("FAIL %s\n", name);
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

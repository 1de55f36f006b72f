// Tests of the host's core parts: desktop file, sample desktop, view, PNG
// writer, command line.
//
// The desktop file is what carries an object's tag and scene file name from
// one run to the next, so a byte lost or moved there silently costs the user
// a scene; these tests push every byte pattern and every kind of damage
// through it. The PNG checks decode what the writer made with another
// reader (stb_image). Builds natively and for Win64.

#include "command_line.h"
#include "desktop_file.h"
#include "png_writer.h"
#include "sample_desktop.h"
#include "view_math.h"

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#include "stb_image.h"

#include "host/host_records.h"

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <functional>
#include <set>
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

// --- Sample desktop ------------------------------------------------------

void sampleDesktopNamesItsSceneFiles() {
    // The plug-in numbers scene files by binding order: the i-th object bound
    // reads defplx<i>.880, whatever name its data block holds. A sample
    // object pointing at another number would show its neighbour's block.
    const std::vector<SampleObject>& samples = sampleObjects();
    std::vector<DesktopObject> desktop = sampleDesktop();
    if (!CHECK_EQ(desktop.size(), samples.size())) return;
    CHECK_EQ(sceneFileNameFor(0), std::string("defplx00.880"));
    CHECK_EQ(sceneFileNameFor(7), std::string("defplx07.880"));
    CHECK_EQ(sceneFileNameFor(12), std::string("defplx12.880"));
    for (size_t i = 0; i < desktop.size(); ++i) {
        const DesktopObject& object = desktop[i];
        CHECK_EQ(object.key, samples[i].key);
        // Tagged, or the plug-in greets every sample object with its About box.
        CHECK(hasPlexaTag(object.data));
        CHECK_EQ(int(object.data[od::kTagOffset + 3]), 0);
        CHECK_EQ(sceneFileNameOf(object.data), sceneFileNameFor(i));
        // The colour dialog opens on the colour the object is drawn in.
        for (int channel = 0; channel < 3; ++channel) {
            const int expected = static_cast<int>(std::lround(samples[i].colour[channel] * 255.0f));
            CHECK_EQ(int(object.data[od::kColorOffset + channel]), expected);
        }
        for (size_t j = i + 1; j < desktop.size(); ++j) CHECK(object.key != desktop[j].key);
    }
    DesktopReadResult read = parseDesktop(formatDesktop(desktop));
    CHECK(sameObjects(read.objects, desktop));
}

void sampleDesktopShowsVariety() {
    // What the sample is for: spheres and planes of several finenesses, sizes,
    // rotations and colours, one of them translucent.
    std::set<std::string> kinds;
    std::set<int> finenesses;
    std::set<float> sizes;
    int rotated = 0, translucent = 0;
    for (const SampleObject& sample : sampleObjects()) {
        kinds.insert(sample.kind);
        finenesses.insert(sample.fineness);
        sizes.insert(sample.size[0]);
        if (sample.rotation[0] != 0.0f || sample.rotation[1] != 0.0f || sample.rotation[2] != 0.0f) ++rotated;
        if (sample.translucency != 0.0f) ++translucent;
        // Below these the plug-in raises the fineness, and the file would
        // promise a block that is not drawn.
        CHECK(sample.fineness >= (std::string(sample.kind) == "SPHERE" ? 4 : 1));
        // Odd sphere finenesses leave the bottom open; with back faces culled
        // the sphere would look hollow from below.
        if (std::string(sample.kind) == "SPHERE") CHECK_EQ(sample.fineness % 2, 0);
    }
    CHECK(kinds == std::set<std::string>({"SPHERE", "PLANE"}));
    CHECK(finenesses.size() >= 4u);
    CHECK(sizes.size() >= 3u);
    CHECK(rotated >= 2);
    CHECK_EQ(translucent, 1);
}

void sampleSceneLinesAreThePluginsFormat() {
    for (const SampleObject& sample : sampleObjects()) {
        const std::string text = sceneFileText(sample);
        const std::string line = sceneBlockLine(sample);
        CHECK(text.rfind("880\n", 0) == 0);
        // The block line is the file's only line that starts with a kind word.
        CHECK_EQ(text.substr(text.size() - line.size()), line);
        const std::string kindWord = std::string(sample.kind) + std::to_string(sample.fineness) + " ";
        CHECK(line.rfind(kindWord, 0) == 0);
        CHECK_EQ(line.back(), '\n');
        // One space after every piece, the last one too, as the plug-in writes.
        CHECK(line.size() >= 3 && line.compare(line.size() - 2, 2, " \n") == 0);
        char rgb[64];
        std::snprintf(rgb, sizeof rgb, "RGB[%+2.2f,%+2.2f,%+2.2f] ", static_cast<double>(sample.colour[0]),
                      static_cast<double>(sample.colour[1]), static_cast<double>(sample.colour[2]));
        CHECK(line.find(rgb) != std::string::npos);
        CHECK(line.find(sample.translucency != 0.0f ? "TRANS[1] " : "TRANS[0] ") != std::string::npos);
        // An object without a material or skin must still read as "none".
        CHECK(line.find(sample.material[0] ? "TEXTURE[samples\\" : "TEXTURE[ ] ") != std::string::npos);
        CHECK(line.find(sample.skin[0] ? "SKIN[samples\\" : "SKIN[ ] ") != std::string::npos);
    }
    // The desktop shows a material, a relief, an inverted skin and a
    // translucent textured block.
    int textured = 0, raised = 0, inverted = 0, translucentTextured = 0;
    for (const SampleObject& sample : sampleObjects()) {
        textured += sample.material[0] != '\0';
        raised += sample.skin[0] && sample.skinScale > 0 && std::string(sample.kind) == "PLANE";
        inverted += sample.skin[0] && sample.skinScale < 0;
        translucentTextured += sample.material[0] && sample.translucency != 0.0f;
    }
    CHECK(textured >= 2);
    CHECK(raised >= 1);
    CHECK(inverted >= 1);
    CHECK(translucentTextured >= 1);
    SampleObject named = sampleObjects()[0];
    named.material = "stone.bmp";
    named.skin = "bumps 2.jpg";
    const std::string line = sceneBlockLine(named);
    CHECK(line.find(" TEXTURE[stone.bmp] DENS[") != std::string::npos);
    CHECK(line.find(" SKIN[bumps 2.jpg] SKINSCALE[") != std::string::npos);
}

void sampleObjectsAreInViewAndOnTheFloor() {
    // A camera or layout change that pushes an object out of the picture, or
    // sinks it into the floor, would go unseen until someone looked.
    for (const auto& [width, height] : {std::pair<int, int>{800, 600}, {640, 480}, {1024, 768}}) {
        const Camera camera = desktopCamera(width, height);
        for (const SampleObject& sample : sampleObjects()) {
            double x = 0.0, y = 0.0;
            CHECK(projectToWindow(camera, sample.position, &x, &y));
            if (!(x > 0.05 * width && x < 0.95 * width && y > 0.05 * height && y < 0.95 * height)) {
                std::printf("  key %d at %.0f,%.0f of %dx%d: too near the edge\n", sample.key, x, y, width, height);
                ++g_caseFailures;
            }
        }
    }
    for (const SampleObject& sample : sampleObjects()) {
        if (std::string(sample.kind) != "SPHERE" || sample.rotation[0] != 0.0f || sample.rotation[2] != 0.0f) continue;
        // The lowest point of an upright sphere is half its height below its
        // frame.
        const float bottom = sample.position[1] - 0.5f * sample.size[1];
        CHECK(bottom >= kFloorY - 0.01f);
        CHECK(bottom <= kFloorY + 0.05f);
    }
}

std::string readBack(const std::string& path) {
    std::string text;
    readWholeFile(path, text);
    return text;
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

void sceneFilesAreNeverWrittenOver() {
    const std::string path = temporaryPath("defplx00.880");
    std::remove(path.c_str());
    std::string error;
    CHECK(writeNewTextFile(path, "880\nSPHERE8 RGB[1,0,0] \n", &error) == NewFileStatus::Written);
    // A user's scene, or one the plug-in saved, wins over the sample's.
    CHECK(writeNewTextFile(path, "880\nPLANE4 \n", &error) == NewFileStatus::AlreadyThere);
    std::string text = readBack(path);
#ifdef _WIN32
    // Text mode, like the plug-in's own files.
    CHECK_EQ(text, std::string("880\r\nSPHERE8 RGB[1,0,0] \r\n"));
#else
    CHECK_EQ(text, std::string("880\nSPHERE8 RGB[1,0,0] \n"));
#endif
    std::remove(path.c_str());

    error.clear();
    CHECK(writeNewTextFile(temporaryPath("no-such-directory/defplx00.880"), "880\n", &error) == NewFileStatus::Failed);
    CHECK(error.find("no-such-directory") != std::string::npos);
}

// --- View ----------------------------------------------------------------

bool near(double a, double b, double tolerance) {
    return std::fabs(a - b) <= tolerance;
}

void windowPointsAndDesktopPointsAgree() {
    // Dragging moves an object by the distance between two desktop points
    // read back from window points; if projection and read-back disagreed,
    // the object would slide away from under the cursor.
    for (const auto& [width, height] : {std::pair<int, int>{800, 600}, {333, 777}}) {
        const Camera camera = desktopCamera(width, height);
        for (float height3 : {-0.5f, 0.0f, 0.8f}) {
            for (float x : {-3.0f, 0.0f, 2.5f}) {
                for (float z : {-4.0f, 0.0f, 2.0f}) {
                    const float point[3] = {x, height3, z};
                    double wx = 0.0, wy = 0.0;
                    if (!CHECK(projectToWindow(camera, point, &wx, &wy))) continue;
                    float back[3];
                    if (!CHECK(pointAtHeight(camera, wx, wy, height3, back))) continue;
                    if (!near(back[0], x, 1e-3) || !near(back[1], height3, 1e-6) || !near(back[2], z, 1e-3)) {
                        std::printf("  (%g, %g, %g) came back as (%g, %g, %g)\n", x, height3, z, back[0], back[1],
                                    back[2]);
                        ++g_caseFailures;
                    }
                }
            }
        }
        // The sky: rays that rise never meet the floor.
        float nowhere[3];
        CHECK(!pointAtHeight(camera, width / 2.0, 0.5, kFloorY, nowhere));
    }
}

void windowCoordinatesRunFromTheTopLeft() {
    const Camera camera = desktopCamera(800, 600);
    const float left[3] = {-1.0f, 0.0f, 0.0f}, right[3] = {1.0f, 0.0f, 0.0f};
    const float low[3] = {0.0f, -0.5f, 0.0f}, high[3] = {0.0f, 1.0f, 0.0f};
    double lx, ly, rx, ry, bx, by, tx, ty;
    CHECK(projectToWindow(camera, left, &lx, &ly) && projectToWindow(camera, right, &rx, &ry));
    CHECK(projectToWindow(camera, low, &bx, &by) && projectToWindow(camera, high, &tx, &ty));
    CHECK(lx < rx);
    CHECK(ty < by);  // mouse y grows downwards
    // Symmetric about the middle of the window: the camera looks straight
    // down the desktop.
    CHECK(near(lx + rx, 800.0, 1e-6));
    const float behind[3] = {0.0f, 2.0f, 50.0f};
    CHECK(!projectToWindow(camera, behind, &lx, &ly));
}

void tilesOfAnEnlargedViewFitTogether() {
    // A screenshot is assembled from tiles; a point must land in exactly one
    // tile, where the enlarged whole view puts it, or the picture shows seams
    // and doubled objects.
    const int width = 800, height = 600, tiles = 3;
    const Camera camera = desktopCamera(width, height);
    const float points[][3] = {{-2.0f, 0.0f, -1.0f}, {0.0f, 0.3f, 0.0f}, {2.5f, -0.4f, 1.5f}, {0.7f, 1.2f, -6.0f}};
    for (const auto& point : points) {
        double x = 0.0, y = 0.0;
        if (!CHECK(projectToWindow(camera, point, &x, &y))) continue;
        const double bigX = x * tiles, bigYFromBottom = (height - y) * tiles;
        int inside = 0;
        for (int row = 0; row < tiles; ++row) {
            for (int column = 0; column < tiles; ++column) {
                double tx = 0.0, ty = 0.0;
                if (!CHECK(projectToWindow(tileOf(camera, column, row, tiles), point, &tx, &ty))) continue;
                if (tx < 0.0 || tx >= width || ty < 0.0 || ty >= height) continue;
                ++inside;
                CHECK(near(tx, bigX - column * width, 1e-6));
                CHECK(near(height - ty, bigYFromBottom - row * height, 1e-6));
            }
        }
        CHECK_EQ(inside, 1);
    }
}

void viewDepthOrdersObjectsBackToFront() {
    const Camera camera = desktopCamera(800, 600);
    const float nearer[3] = {0.0f, 0.0f, 2.0f}, farther[3] = {0.0f, 0.0f, -2.0f};
    const float farLeft[3] = {-3.0f, 0.0f, -2.0f};
    CHECK(viewDepth(camera, farther) > viewDepth(camera, nearer));
    CHECK(viewDepth(camera, farLeft) > viewDepth(camera, nearer));
    CHECK(viewDepth(camera, nearer) > 0.0);
}

void matrixInverseUndoesTheCamera() {
    const Camera camera = desktopCamera(800, 600);
    const Matrix4 both = multiply(camera.projection, camera.modelview);
    Matrix4 inverse;
    if (!CHECK(invert(both, &inverse))) return;
    const Matrix4 product = multiply(both, inverse);
    const Matrix4 identity = identityMatrix();
    for (int i = 0; i < 16; ++i) {
        if (!near(product.m[i], identity.m[i], 1e-9)) {
            std::printf("  element %d of M * inverse(M) is %g\n", i, product.m[i]);
            ++g_caseFailures;
        }
    }
    Matrix4 singular{};
    singular.m[0] = singular.m[5] = singular.m[10] = 1.0;  // w row and column all zero
    CHECK(!invert(singular, &inverse));
}

void shadowsFallAlongTheLight() {
    const double towardLight[3] = {-0.5, 1.0, 0.25};
    const Matrix4 shadow = shadowMatrix(towardLight, kFloorY);
    auto cast = [&shadow](double x, double y, double z, double out[3]) {
        const double in[4] = {x, y, z, 1.0};
        double h[4] = {0, 0, 0, 0};
        for (int row = 0; row < 4; ++row) {
            for (int k = 0; k < 4; ++k) h[row] += shadow.m[k * 4 + row] * in[k];
        }
        for (int axis = 0; axis < 3; ++axis) out[axis] = h[axis] / h[3];
    };
    double out[3];
    // On the floor: its own shadow.
    cast(1.5, kFloorY, -2.0, out);
    CHECK(near(out[0], 1.5, 1e-12) && near(out[1], kFloorY, 1e-12) && near(out[2], -2.0, 1e-12));
    // Two units up: two light-steps away from the light, on the floor.
    cast(0.0, kFloorY + 2.0, 0.0, out);
    CHECK(near(out[0], 1.0, 1e-12));
    CHECK(near(out[1], kFloorY, 1e-12));
    CHECK(near(out[2], -0.5, 1e-12));
}

// --- PNG writer ----------------------------------------------------------

// A screenshot must read back, in any PNG reader, to the very pixels drawn,
// top row first; stb_image decodes it independently of how it was written.
void pngRowsSurviveEncoding(uint32_t width, uint32_t height) {
    std::vector<uint8_t> rgb(size_t(width) * height * 3);
    Random random{width * 7919u + height};
    for (uint8_t& byte : rgb) byte = static_cast<uint8_t>(random.next());
    const std::vector<uint8_t> png = encodePng(width, height, rgb.data());
    if (!CHECK(!png.empty())) return;
    int w = 0, h = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &w, &h, &channels, 3);
    if (!CHECK(pixels != nullptr)) return;
    CHECK_EQ(w, int(width));
    CHECK_EQ(h, int(height));
    CHECK_EQ(channels, 3);
    if (w == int(width) && h == int(height) && std::memcmp(pixels, rgb.data(), rgb.size()) != 0) {
        std::printf("  the pixels of %ux%u differ\n", width, height);
        ++g_caseFailures;
    }
    stbi_image_free(pixels);
}

void pngEncodesPicturesThatReadBack() {
    pngRowsSurviveEncoding(1, 1);
    pngRowsSurviveEncoding(2, 2);
    pngRowsSurviveEncoding(200, 120);
    pngRowsSurviveEncoding(640, 480);
    // What the host draws is mostly flat sky and floor: it must come out
    // compressed, not at three bytes a pixel.
    std::vector<uint8_t> sky(size_t(800) * 600 * 3);
    for (size_t i = 0; i < sky.size(); ++i) sky[i] = static_cast<uint8_t>(i / (800 * 3 * 4));
    CHECK(encodePng(800, 600, sky.data()).size() < sky.size() / 20);
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

    CommandLineResult drag = parseCommandLine({"--click", "4,drag,10,20,300,400"});
    CHECK_EQ(drag.error, std::string());
    if (CHECK_EQ(drag.options.clicks.size(), 1u)) {
        const ScriptedClick& click = drag.options.clicks[0];
        CHECK(click.kind == ScriptedClick::Kind::Drag);
        CHECK_EQ(click.afterFrame, 4u);
        CHECK_EQ(click.x, 10);
        CHECK_EQ(click.y, 20);
        CHECK_EQ(click.toX, 300);
        CHECK_EQ(click.toY, 400);
    }

    // A right click may name the menu item to pick; other clicks never do,
    // and the colour answer is three bytes.
    CommandLineResult picks = parseCommandLine({"--click", "1,right,10,20,32", "--click=2,shift-right,3,4,65535",
                                                "--click", "3,right,5,6", "--color", "255,128,0",
                                                "--frames", "9", "--menu-screenshot=m.png",
                                                "--open-file", "Z:\\tmp\\wood.bmp"});
    CHECK_EQ(picks.error, std::string());
    if (CHECK_EQ(picks.options.clicks.size(), 3u)) {
        CHECK(picks.options.clicks[0].kind == ScriptedClick::Kind::Right);
        CHECK_EQ(picks.options.clicks[0].menuChoice, 32L);
        CHECK_EQ(picks.options.clicks[0].x, 10);
        CHECK_EQ(picks.options.clicks[0].y, 20);
        CHECK_EQ(picks.options.clicks[1].menuChoice, 65535L);
        CHECK_EQ(picks.options.clicks[2].menuChoice, -1L);
    }
    CHECK(picks.options.hasColourAnswer);
    CHECK_EQ(static_cast<int>(picks.options.colourAnswer[0]), 255);
    CHECK_EQ(static_cast<int>(picks.options.colourAnswer[1]), 128);
    CHECK_EQ(static_cast<int>(picks.options.colourAnswer[2]), 0);
    CHECK_EQ(picks.options.menuScreenshotPath, std::string("m.png"));
    CHECK_EQ(picks.options.openFileAnswer, std::string("Z:\\tmp\\wood.bmp"));
    CHECK(!none.options.hasColourAnswer);

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
        {"--click", "1,Left,2,3"},   {"--click", "1,drag,2,3"}, {"--click", "1,drag,2,3,4"},
        {"--click", "1,drag,2,3,4,32768"}, {"--click", "1,left,2,3,4,5"}, {"--click", "1"},
        {"--click", "1,left,2,3,32"}, {"--click", "1,double,2,3,32"}, {"--click", "1,right,2,3,65536"},
        {"--click", "1,right,2,3,-1"}, {"--click", "1,right,2,3,"}, {"--click", "1,right,2,3,4,5"},
        {"--color", "255,128"}, {"--color", "256,0,0"}, {"--color", "1,2,3,4"}, {"--color", "1,,3"},
        {"--color", "-1,0,0"}, {"--color", ""}, {"--open-file", ""}, {"--open-file"},
        // The capture needs a drawn frame before its right click, and only
        // non-interactive runs close the menu again.
        {"--menu-screenshot", "m.png"}, {"--frames", "1", "--menu-screenshot", "m.png"},
        {"--frames", "5", "--menu-screenshot="},
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
        {"sample desktop names its scene files", sampleDesktopNamesItsSceneFiles},
        {"sample desktop shows variety", sampleDesktopShowsVariety},
        {"sample scene lines are the plug-in's format", sampleSceneLinesAreThePluginsFormat},
        {"sample objects are in view and on the floor", sampleObjectsAreInViewAndOnTheFloor},
        {"atomic write replaces and cleans up", atomicWriteReplacesAndCleansUp},
        {"scene files are never written over", sceneFilesAreNeverWrittenOver},
        {"window points and desktop points agree", windowPointsAndDesktopPointsAgree},
        {"window coordinates run from the top left", windowCoordinatesRunFromTheTopLeft},
        {"tiles of an enlarged view fit together", tilesOfAnEnlargedViewFitTogether},
        {"view depth orders objects back to front", viewDepthOrdersObjectsBackToFront},
        {"matrix inverse undoes the camera", matrixInverseUndoesTheCamera},
        {"shadows fall along the light", shadowsFallAlongTheLight},
        {"png encodes pictures that read back", pngEncodesPicturesThatReadBack},
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

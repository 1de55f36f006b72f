// The scene file is the user's only copy of their desktop between sessions:
// every key must read back as written, and no file, however damaged, may make
// the reader overrun, loop or invent blocks.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "geometry/mesh.h"
#include "host/library_state.h"
#include "image/caches.h"
#include "scene/scene.h"
#include "scene/scene_file.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

using scene::Block;
using scene::KindKeyword;
using scene::Scene;

const std::string kPrefix = "[Numerical Recipes run-time error...]\n";
const std::string kHeader =
    "880\n//^always first, its the file id !!\n\n"
    "//kind:  origin[x,y,z]:         size[x,y,z]:            rotation[x,y,z]:       "
    "color[R,G,B]           texture file: density:            skinfile: scale: \n\n";
const std::string kDefaultSphereLine =
    "SPHERE24 ORG[+0.00,+0.00,+0.00] SIZE[+1.00,+1.00,+1.00] ROT[0.000000,0.000000,0.000000] "
    "RGB[+1.00,+1.00,+1.00] TEXTURE[ ] DENS[1.0000] SKIN[ ] SKINSCALE[0.5000] SHORTCUT[ ] TRANS[0] \n";

std::string logOf(std::initializer_list<std::string> messages) {
    std::string log;
    for (const std::string& message : messages) log += kPrefix + message + "\n";
    return log;
}

// Reads a block from the text after its kind keyword, as a scene line would.
struct Parsed {
    explicit Parsed(std::string text, scene::BlockKind kind = scene::SPHERE, int32_t fineness = 24)
        : buffer(std::move(text)) {
        buffer.push_back('\0');
        block = std::make_unique<Block>(buffer.data(), 0, kind, fineness);
    }
    std::string buffer;
    std::unique_ptr<Block> block;
};

bool kindOf(const std::string& line, KindKeyword& out) {
    static std::vector<char> buffer;
    buffer.assign(line.begin(), line.end());
    buffer.push_back('\0');
    return scene::readKindKeyword(buffer.data(), out);
}

std::string lineOf(const Block& block) {
    char line[scene::kLineCapacity];
    scene::writeLine(block, line);
    return line;
}

class SceneFile : public InTempDir {
protected:
    void SetUp() override {
        InTempDir::SetUp();
        std::strcpy(host::library().pluginDirectory, "C:\\Tools\\Plug\\");
    }
    void TearDown() override {
        scene::setWriteFaultAfterBytes(-1);
        InTempDir::TearDown();
    }
};

TEST_F(SceneFile, KindKeywordsAndFineness) {
    struct Case {
        std::string line;
        bool block;
        scene::BlockKind kind;
        int32_t fineness;
    };
    const int32_t ceiling = geometry::kFinenessCeiling;
    const Case cases[] = {
        {"CUBE ORG[0,0,0]", true, scene::CUBE, 1},
        {"TRIANGLE ORG[0,0,0]", true, scene::TRIANGLE, 1},
        {"CUBE5 ORG[0,0,0]", false, scene::CUBE, 0},
        {"CUBE\n", false, scene::CUBE, 0},
        {"SPHERE8 ORG[1,2,3]", true, scene::SPHERE, 8},
        {"SPHERE2 ORG", true, scene::SPHERE, 4},
        {"SPHERE ORG", true, scene::SPHERE, 24},
        {"CYLINDER ORG", true, scene::CYLINDER, 12},
        {"CYLINDER6 ORG", true, scene::CYLINDER, 8},
        {"PLANE0 ORG", true, scene::PLANE, 1},
        {"PLANE  ORG", true, scene::PLANE, 20},
        {"PLANE-7 ORG", true, scene::PLANE, 1},
        {"SPHEREx ORG", true, scene::SPHERE, 4},
        {"SPHERE\n", true, scene::SPHERE, 4},
        {"SPHERE99999999999 ORG", true, scene::SPHERE, ceiling},
        {"PLANE2147483647 ORG", true, scene::PLANE, ceiling},
        {"PLANE-99999999999999999999 ORG", true, scene::PLANE, 1},
        {"CYLINDER1024", true, scene::CYLINDER, 1024},
        {"//kind:  origin[x,y,z]:", false, scene::CUBE, 0},
        {"", false, scene::CUBE, 0},
        {"\n", false, scene::CUBE, 0},
        {"  [](){},\t", false, scene::CUBE, 0},
        {"sphere24", false, scene::CUBE, 0},
    };
    for (const Case& c : cases) {
        KindKeyword keyword{};
        EXPECT_EQ(kindOf(c.line, keyword), c.block) << c.line;
        if (!c.block) continue;
        EXPECT_EQ(keyword.kind, c.kind) << c.line;
        EXPECT_EQ(keyword.fineness, c.fineness) << c.line;
    }
}

TEST_F(SceneFile, BlockWithoutOptionalKeysTakesItsStartValues) {
    Parsed p("ORG[1,2,3] SIZE[1,1,1] ROT[0,0,0] RGB[1,1,1] TEXTURE[ ] DENS[1.00]");
    EXPECT_EQ(p.block->skinId, 0u);
    EXPECT_EQ(p.block->skinScale, 0.5f);
    EXPECT_EQ(p.block->translucency, 0.0f);
    EXPECT_STREQ(p.block->shortcut, "");
    EXPECT_EQ(p.block->textureId, 0u);
    EXPECT_EQ(p.block->fineness, 24);
    EXPECT_EQ(p.block->origin[2], 3.0f);
    EXPECT_EQ(readFile("error.txt"), "");
}

TEST_F(SceneFile, RepeatedKeysStartAgainAndBadValuesMoveOn) {
    Parsed repeated("ORG[1,2,3] SIZE[5,5,5] ORG[4]");
    EXPECT_EQ(repeated.block->origin[0], 4.0f);
    EXPECT_EQ(repeated.block->origin[1], 2.0f);
    EXPECT_EQ(repeated.block->origin[2], 3.0f);

    Parsed bad("ORG[abc,7,8]");
    EXPECT_EQ(bad.block->origin[0], 0.0f);
    EXPECT_EQ(bad.block->origin[1], 7.0f);
    EXPECT_EQ(bad.block->origin[2], 8.0f);

    // The value before any key belongs to ORG, and is then replaced.
    Parsed leading("8 ORG[1,2,3]");
    EXPECT_EQ(leading.block->origin[0], 1.0f);
    Parsed leadingOnly("8 SIZE[2,2,2]");
    EXPECT_EQ(leadingOnly.block->origin[0], 8.0f);

    // Values beyond the third have no component and are ignored.
    Parsed extra("RGB[0.1,0.2,0.3,0.4,x]");
    EXPECT_FLOAT_EQ(extra.block->color[2], 0.3f);

    EXPECT_EQ(readFile("error.txt"), logOf({"ERROR in ORG Coord"}));
}

TEST_F(SceneFile, ScalarKeysAndTheirZeroRules) {
    Parsed zeros("DENS[0] SKINSCALE[0] TRANS[0]");
    EXPECT_EQ(zeros.block->density, 1.0f);
    EXPECT_EQ(zeros.block->skinScale, 0.5f);
    EXPECT_EQ(zeros.block->translucency, 0.0f);

    Parsed values("TRANS[-2] SKINSCALE[-1.0000] DENS[2.5]");
    EXPECT_EQ(values.block->translucency, -2.0f);
    EXPECT_EQ(values.block->skinScale, -1.0f);
    EXPECT_EQ(values.block->density, 2.5f);

    Parsed bad("DENS[x] SKINSCALE[y] TRANS[z] SIZE[q,1,1] ROT[r] RGB[s]");
    EXPECT_EQ(bad.block->density, 1.0f);
    EXPECT_EQ(readFile("error.txt"), logOf({"ERROR in DENS nr", "ERROR in SKIN scale", "ERROR in TRANS",
                                             "ERROR in SIZE Coord", "ERROR in ROT Coord", "ERROR in RGB Coord"}));
}

TEST_F(SceneFile, NonFiniteNumbersAreRefused) {
    Parsed p("ORG[inf,nan,1e39] DENS[-inf] SIZE[2,1e-50,0x10]");
    EXPECT_EQ(p.block->origin[0], 0.0f);
    EXPECT_EQ(p.block->origin[1], 0.0f);
    EXPECT_EQ(p.block->origin[2], 0.0f);
    EXPECT_EQ(p.block->density, 1.0f);
    EXPECT_EQ(p.block->size[0], 2.0f);
    EXPECT_EQ(p.block->size[1], 0.0f);
    EXPECT_EQ(readFile("error.txt"),
              logOf({"ERROR in ORG Coord", "ERROR in ORG Coord", "ERROR in ORG Coord", "ERROR in DENS nr"}));
}

TEST_F(SceneFile, NamesAndShortcuts) {
    addCacheEntry(image::textureCache(), "my stone.bmp", 7);
    addCacheEntry(image::skinCache(), "hills.bmp", 2);
    Parsed named("TEXTURE[my stone.bmp] DENS[1] SKIN[hills.bmp] SKINSCALE[-1.0000]");
    EXPECT_EQ(named.block->textureId, 7u);
    EXPECT_EQ(named.block->skinId, 2u);
    EXPECT_EQ(named.block->skinScale, -1.0f);

    Parsed blank("TEXTURE[ ] SKIN[ ] SHORTCUT[ ] TRANS[1]");
    EXPECT_EQ(blank.block->textureId, 0u);
    EXPECT_STREQ(blank.block->shortcut, "");
    EXPECT_EQ(blank.block->translucency, 1.0f);

    Parsed drive("SHORTCUT[C:\\Tools\\Plug\\docs\\read me.txt] TRANS[0]");
    EXPECT_STREQ(drive.block->shortcut, "docs\\read me.txt");
    Parsed otherDrive("SHORTCUT[D:\\x.txt]");
    EXPECT_STREQ(otherDrive.block->shortcut, "D:\\x.txt");
    Parsed network("SHORTCUT[\\\\server\\share\\x.txt]");
    EXPECT_STREQ(network.block->shortcut, "\\\\server\\share\\x.txt");

    // A line feed right after a name key is no name.
    Parsed lineEnd("SHORTCUT[b.txt] TEXTURE[my stone.bmp]\n");
    EXPECT_EQ(lineEnd.block->textureId, 7u);
    Parsed bareKey("TEXTURE[\n");
    EXPECT_EQ(bareKey.block->textureId, 0u);

    // After a shortcut no key is current: stray values go nowhere.
    Parsed stray("SHORTCUT[a.txt] 5 6 ORG[1]");
    EXPECT_STREQ(stray.block->shortcut, "a.txt");
    EXPECT_EQ(stray.block->origin[0], 1.0f);
    EXPECT_EQ(readFile("error.txt"), "");
}

TEST_F(SceneFile, OverlongNamesAreRefusedNotCut) {
    const std::string name(300, 'n');
    Parsed p("SHORTCUT[" + name + "] TEXTURE[" + name + "] SKIN[" + name + "]");
    EXPECT_STREQ(p.block->shortcut, "");
    EXPECT_EQ(p.block->textureId, 0u);
    EXPECT_EQ(readFile("error.txt"),
              logOf({"ERROR in SHORTCUT name", "ERROR in TEXTURE name", "ERROR in SKIN name"}));
}

TEST_F(SceneFile, WritesTheDefaultSphereLine) {
    char line[] = "SPHERE ORG[0.0,0.0,0.0] SIZE[1.0,1.0,1.0] ROT[0.0,0.0,0.0] RGB[1.0,1.0,1.0] TEXTURE[ ] DENS[1.00]";
    KindKeyword keyword{};
    ASSERT_TRUE(scene::readKindKeyword(line, keyword));
    Block block(keyword.rest, 0, keyword.kind, keyword.fineness);
    EXPECT_EQ(lineOf(block), kDefaultSphereLine);
}

TEST_F(SceneFile, WritesEveryKindAndNamedPieces) {
    addCacheEntry(image::textureCache(), "tex\\wood.bmp", 3);
    addCacheEntry(image::skinCache(), "..\\hills.jpg", 1);
    Parsed p("ORG[-1.234,2,3] SIZE[10,0.5,1] ROT[0.1,0.2,3.14159265] RGB[0.5,0.25,1] TEXTURE[tex\\wood.bmp] "
             "DENS[2] SKIN[..\\hills.jpg] SKINSCALE[-0.75] SHORTCUT[notes.txt] TRANS[0.6]",
             scene::CYLINDER, 16);
    EXPECT_EQ(lineOf(*p.block),
              "CYLINDER16 ORG[-1.23,+2.00,+3.00] SIZE[+10.00,+0.50,+1.00] ROT[0.100000,0.200000,3.141593] "
              "RGB[+0.50,+0.25,+1.00] TEXTURE[tex\\wood.bmp] DENS[2.0000] SKIN[..\\hills.jpg] "
              "SKINSCALE[-0.7500] SHORTCUT[notes.txt] TRANS[1] \n");
    Parsed cube("", scene::CUBE, 1);
    EXPECT_EQ(lineOf(*cube.block).substr(0, 13), "CUBE     ORG[");
    Parsed prism("", scene::TRIANGLE, 1);
    EXPECT_EQ(lineOf(*prism.block).substr(0, 13), "TRIANGLE ORG[");
    Parsed plane("", scene::PLANE, 7);
    EXPECT_EQ(lineOf(*plane.block).substr(0, 11), "PLANE7 ORG[");
}

TEST_F(SceneFile, ExtremeValuesNeverOverrunTheLine) {
    Parsed p("ORG[-3.4e38,-3.4e38,-3.4e38] SIZE[3.4e38,3.4e38,3.4e38] ROT[-3.4e38,-3.4e38,-3.4e38] "
             "RGB[-3.4e38,-3.4e38,-3.4e38] DENS[-3.4e38] SKINSCALE[-3.4e38] TRANS[-3.4e38]");
    const std::string line = lineOf(*p.block);
    EXPECT_LT(line.size(), scene::kLineCapacity);
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(readFile("error.txt"), "");

    // With three names at their longest the line no longer fits: it stops at
    // the first piece that would overflow and the log says so.
    const std::string name(259, 'n');
    addCacheEntry(image::textureCache(), name.c_str(), 11);
    addCacheEntry(image::skinCache(), name.c_str(), 12);
    p.block->textureId = 11;
    p.block->skinId = 12;
    std::strcpy(p.block->shortcut, name.c_str());
    char buffer[scene::kLineCapacity];
    EXPECT_FALSE(scene::writeLine(*p.block, buffer));
    const std::string cut = buffer;
    EXPECT_LT(cut.size(), scene::kLineCapacity);
    EXPECT_NE(cut.find("TEXTURE[" + name + "] "), std::string::npos);
    EXPECT_EQ(cut.find("SHORTCUT["), std::string::npos);
    EXPECT_EQ(readFile("error.txt"), logOf({"line to long"}));
}

// A line the writer writes but the reader refuses would replace the user's
// block by the default sphere at the next binding, and save that over it.
// Long names and large coordinates take the line across the reader's limit
// in steps of one character.
TEST_F(SceneFile, EverySavedLineNearTheLimitBindsAgainToTheSameBytes) {
    const std::string material(259, 'm');
    addCacheEntry(image::textureCache(), material.c_str(), 9021);
    // Skin names a character apart move every cut by one: a line is cut at
    // every length up to the limit, and each must read back with its line feed.
    for (uint32_t id = 9022; id < 9026; ++id)
        addCacheEntry(image::skinCache(), std::string(259 - (id - 9022), 's').c_str(), id);
    std::set<size_t> wholeLengths, cutLengths;
    int cut = 0;
    for (const float origin : {1e16f, 2e17f})
    for (const int sizedAxes : {1, 3})
    for (uint32_t skinId = 9022; skinId < 9026; ++skinId) {
        for (size_t shortcutLength = 230; shortcutLength <= 259; ++shortcutLength) {
            Scene first;
            first.addDefault(scene::SPHERE);
            Block& block = *first.block(0);
            for (float& value : block.origin) value = origin;
            for (int axis = 0; axis < sizedAxes; ++axis) block.size[axis] = origin;
            block.textureId = 9021;
            block.skinId = skinId;
            std::strcpy(block.shortcut, std::string(shortcutLength, 'c').c_str());
            std::remove("error.txt");
            ASSERT_TRUE(first.save("a.880"));
            const bool whole = readFile("error.txt").empty();
            const std::string saved = readFile("a.880");
            const std::string written = saved.substr(kHeader.size());
            ASSERT_LE(written.size(), scene::kLongestLine) << written;

            Scene again;
            ASSERT_TRUE(again.load("a.880"));
            ASSERT_EQ(again.count(), 1) << "refused: " << written;
            ASSERT_TRUE(again.save("b.880"));
            if (whole) {
                wholeLengths.insert(written.size());
                EXPECT_EQ(readFile("b.880"), saved);
            } else {
                // A cut line loses what did not fit once; from then on the
                // block saves the same every time.
                ++cut;
                cutLengths.insert(written.size());
                Scene third;
                ASSERT_TRUE(third.load("b.880"));
                ASSERT_TRUE(third.save("c.880"));
                EXPECT_EQ(readFile("c.880"), readFile("b.880"));
            }
        }
    }
    // The sweep reached the limit from below, and beyond it.
    for (size_t length = scene::kLongestLine - 3; length <= scene::kLongestLine; ++length)
        EXPECT_EQ(wholeLengths.count(length), 1u) << "no whole line of " << length << " characters";
    EXPECT_GT(cut, 0);
    EXPECT_EQ(cutLengths.count(scene::kLongestLine), 1u) << "no line cut at the limit";
}

TEST_F(SceneFile, RoundTripKeepsTheWrittenPrecision) {
    Parsed p("ORG[1.234567,-2.5,0.004] SIZE[1.5,2.25,0.1] ROT[0.1234567,1.5,-3] RGB[0.333,0.5,1] "
             "DENS[1.23456] SKINSCALE[0.98766] TRANS[0.4] SHORTCUT[a b.txt]");
    Scene scene;
    std::string line = lineOf(*p.block);
    scene.addLine(line.data());
    ASSERT_EQ(scene.count(), 1);
    const Block& back = *scene.block(0);
    EXPECT_FLOAT_EQ(back.origin[0], 1.23f);
    EXPECT_FLOAT_EQ(back.origin[2], 0.0f);
    EXPECT_FLOAT_EQ(back.size[2], 0.1f);
    EXPECT_FLOAT_EQ(back.rotation[0], 0.123457f);
    EXPECT_FLOAT_EQ(back.color[0], 0.33f);
    EXPECT_FLOAT_EQ(back.density, 1.2346f);
    EXPECT_FLOAT_EQ(back.skinScale, 0.9877f);
    EXPECT_EQ(back.translucency, 0.0f);
    EXPECT_STREQ(back.shortcut, "a b.txt");
    EXPECT_EQ(lineOf(back), lineOf(*scene.block(0)));
}

TEST_F(SceneFile, SavedFileIsByteExact) {
    Scene scene;
    scene.addDefault(scene::SPHERE);
    scene.addDefault(scene::CUBE);
    ASSERT_TRUE(scene.save("defplx00.880"));
    const std::string written = readFile("defplx00.880");
    EXPECT_EQ(written.substr(0, kHeader.size()), kHeader);
    EXPECT_EQ(written.substr(kHeader.size(), kDefaultSphereLine.size()), kDefaultSphereLine);
    EXPECT_EQ(written.substr(kHeader.size() + kDefaultSphereLine.size(), 9), "CUBE     ");
    EXPECT_FALSE(fileExists("defplx00.880.new-" + std::to_string(getpid())));

    Scene back;
    ASSERT_TRUE(back.load("defplx00.880"));
    ASSERT_EQ(back.count(), 2);
    EXPECT_EQ(back.block(1)->kind, scene::CUBE);
    ASSERT_TRUE(back.save("copy.880"));
    EXPECT_EQ(readFile("copy.880"), written);
}

TEST_F(SceneFile, IdentificationLineDecidesWhetherTheFileIsRead) {
    Scene scene;
    scene.addDefault(scene::PLANE);
    for (const std::string& refused : {std::string(""), std::string("\n880\n"), std::string("//880\n"),
                                       std::string("88\n"), std::string("SPHERE\n")}) {
        writeFile("f.880", refused + "SPHERE8 ORG[0,0,0]\n");
        EXPECT_FALSE(scene.load("f.880")) << refused;
        ASSERT_EQ(scene.count(), 1);
        EXPECT_EQ(scene.block(0)->kind, scene::PLANE);
    }
    EXPECT_FALSE(scene.load("missing.880"));

    writeFile("f.880", "880 and anything else\nSPHERE8 ORG[0,0,0]\n");
    EXPECT_TRUE(scene.load("f.880"));
    ASSERT_EQ(scene.count(), 1);
    EXPECT_EQ(scene.block(0)->fineness, 8);

    writeFile("f.880", "880");
    EXPECT_TRUE(scene.load("f.880"));
    EXPECT_EQ(scene.count(), 0);
}

TEST_F(SceneFile, OverlongLinesAreSkippedWhole) {
    const std::string longLine = "SPHERE8 ORG[1,1,1] " + std::string(1010, ' ') + "SPHERE16 ORG[2,2,2]\n";
    const std::string exact = "PLANE4 " + std::string(1015, ' ') + "\n";   // 1023 with its line feed
    const std::string fits = "PLANE5 " + std::string(1014, ' ') + "\n";    // 1022
    writeFile("f.880", "880\n" + longLine + exact + fits + "CUBE ORG[0,0,0]\n");
    Scene scene;
    ASSERT_TRUE(scene.load("f.880"));
    ASSERT_EQ(scene.count(), 2);
    EXPECT_EQ(scene.block(0)->fineness, 5);
    EXPECT_EQ(scene.block(1)->kind, scene::CUBE);
    const std::string log = readFile("error.txt");
    EXPECT_EQ(log, logOf({longLine.substr(0, 105), exact.substr(0, 105)}));
}

TEST_F(SceneFile, LineEndsNulBytesAndGarbage) {
    writeFile("crlf.880", "880\r\nSPHERE8 ORG[1,2,3] TRANS[1]\r\nPLANE3\r\n");
    Scene scene;
    ASSERT_TRUE(scene.load("crlf.880"));
    ASSERT_EQ(scene.count(), 2);
    EXPECT_EQ(scene.block(0)->translucency, 1.0f);
    EXPECT_EQ(scene.block(1)->fineness, 3);

    writeFile("noend.880", "880\nSPHERE6 ORG[1,2,3]");
    ASSERT_TRUE(scene.load("noend.880"));
    ASSERT_EQ(scene.count(), 1);
    EXPECT_EQ(scene.block(0)->origin[2], 3.0f);

    writeFile("nul.880", std::string("880\nSPHERE6 ORG[1,2\0SPHERE9]\nPLANE2\n", 36));
    ASSERT_TRUE(scene.load("nul.880"));
    ASSERT_EQ(scene.count(), 2);
    EXPECT_EQ(scene.block(0)->fineness, 6);
    EXPECT_EQ(scene.block(1)->fineness, 2);

    std::string garbage = "880\n";
    uint32_t state = 12345;
    for (int i = 0; i < 20000; ++i) {
        state = state * 1103515245u + 12345u;
        garbage.push_back(static_cast<char>(state >> 16));
    }
    writeFile("garbage.880", garbage);
    EXPECT_TRUE(scene.load("garbage.880"));
}

TEST_F(SceneFile, FailedSaveKeepsThePreviousFile) {
    Scene scene;
    scene.addDefault(scene::SPHERE);
    ASSERT_TRUE(scene.save("defplx00.880"));
    const std::string before = readFile("defplx00.880");

    scene.block(0)->origin[0] = 5.0f;
    for (long cut : {0L, 3L, 100L, static_cast<long>(before.size()) - 1}) {
        scene::setWriteFaultAfterBytes(cut);
        EXPECT_FALSE(scene.save("defplx00.880")) << cut;
        EXPECT_EQ(readFile("defplx00.880"), before) << cut;
        EXPECT_FALSE(fileExists("defplx00.880.new-" + std::to_string(getpid()))) << cut;
    }
    scene::setWriteFaultAfterBytes(-1);
    EXPECT_EQ(readFile("error.txt"), logOf({"cannot save scene file defplx00.880", "cannot save scene file defplx00.880",
                                             "cannot save scene file defplx00.880", "cannot save scene file defplx00.880"}));
    ASSERT_TRUE(scene.save("defplx00.880"));
    EXPECT_NE(readFile("defplx00.880"), before);
}

TEST_F(SceneFile, SaveIntoMissingOrUnwritableDirectoryFails) {
    Scene scene;
    scene.addDefault(scene::SPHERE);
    EXPECT_FALSE(scene.save("no-such-dir/defplx00.880"));
    EXPECT_EQ(readFile("error.txt"), logOf({"cannot save scene file no-such-dir/defplx00.880"}));

    // A directory in the way of the final name: the new file cannot replace it.
    ASSERT_EQ(mkdir("defplx01.880", 0700), 0);
    EXPECT_FALSE(scene.save("defplx01.880"));
    EXPECT_FALSE(fileExists("defplx01.880.new-" + std::to_string(getpid())));
}

// Root may write anywhere, so the directory is made immutable instead of
// read-only: no entry can be created, renamed or removed in it, while files
// already there (the log) can still be appended to.
TEST_F(SceneFile, ReadOnlyDirectoryKeepsTheOldFileAndLogs) {
    writeFile("defplx00.880", kHeader + kDefaultSphereLine);
    writeFile("error.txt", "");
    const int directory = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(directory, 0);
    int flags = 0;
    ASSERT_EQ(ioctl(directory, FS_IOC_GETFLAGS, &flags), 0);
    const int writable = flags;
    flags |= FS_IMMUTABLE_FL;
    if (ioctl(directory, FS_IOC_SETFLAGS, &flags) != 0) {
        close(directory);
        GTEST_SKIP() << "this file system or user cannot make a directory immutable";
    }
    Scene scene;
    scene.addDefault(scene::PLANE);
    const bool saved = scene.save("defplx00.880");
    ioctl(directory, FS_IOC_SETFLAGS, &writable);
    close(directory);
    EXPECT_FALSE(saved);
    EXPECT_EQ(readFile("defplx00.880"), kHeader + kDefaultSphereLine);
    EXPECT_FALSE(fileExists("defplx00.880.new-" + std::to_string(getpid())));
    EXPECT_EQ(readFile("error.txt"), logOf({"cannot save scene file defplx00.880"}));
}

}  // namespace
}  // namespace plexa::testing

// Binding and unbinding in any order must keep every remaining instance on its
// own key, scene and file name, and `current` on the instance it named.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/instance_table.h"
#include "scene/file_commit.h"
#include "scene/scene_file.h"
#include "tests/native/gl_recorder.h"
#include "tests/native/test_support.h"
#include "tools/make-samples/sample_images.h"

namespace plexa::testing {
namespace {

using host::HostInstanceInfo;
using host::InstanceTable;
using host::PluginInstance;
namespace od = host::object_data;

struct ObjectData {
    uint8_t bytes[512] = {};
    void tag() { std::memcpy(bytes + od::kTagOffset, "PLX", 4); }
    std::string tagText() const { return std::string(reinterpret_cast<const char*>(bytes + od::kTagOffset)); }
    std::string name() const { return std::string(reinterpret_cast<const char*>(bytes + od::kNameOffset)); }
};

HostInstanceInfo record(int32_t key, ObjectData* data) {
    HostInstanceInfo info{};
    info.key = key;
    info.objectData = data ? data->bytes : nullptr;
    return info;
}

class Instances : public InTempDir {
protected:
    PluginInstance& bind(InstanceTable& table, int32_t key, ObjectData* data) {
        PluginInstance& instance = table.add(record(key, data));
        table.setCurrent(&instance);
        host::startInstance(instance, &table);
        return *table.current();
    }
};

TEST_F(Instances, TenthBindingGrowsTheTableAndKeepsCurrent) {
    InstanceTable table;
    std::vector<ObjectData> data(25);
    EXPECT_EQ(table.capacity(), 10u);
    for (int i = 0; i < 9; ++i) bind(table, 100 + i, &data[i]);
    table.setCurrent(table.at(4));
    table.add(record(109, &data[9]));
    EXPECT_EQ(table.capacity(), 60u);
    ASSERT_NE(table.current(), nullptr);
    EXPECT_EQ(table.current()->key, 104);
    EXPECT_EQ(table.at(9)->key, 109);
    EXPECT_EQ(table.findByKey(103)->scene->count(), 1);
    for (int i = 10; i < 20; ++i) table.add(record(100 + i, &data[i]));
    EXPECT_EQ(table.capacity(), 70u);
    EXPECT_EQ(table.current()->key, 104);
}

TEST_F(Instances, RemovalClosesTheGapAndKeepsNamesFormedAtBinding) {
    InstanceTable table;
    ObjectData a, b, c;
    bind(table, 1, &a);
    bind(table, 2, &b);
    bind(table, 3, &c);
    EXPECT_EQ(c.name(), "defplx02.880");
    table.setCurrent(table.findByKey(3));
    table.removeAt(0);
    ASSERT_EQ(table.count(), 2);
    EXPECT_EQ(table.at(0)->key, 2);
    EXPECT_EQ(table.at(0)->number, 0);
    EXPECT_EQ(table.at(1)->number, 1);
    EXPECT_STREQ(table.at(1)->sceneFileName, "defplx02.880");
    EXPECT_EQ(table.current()->key, 3);
    table.removeAt(5);
    table.removeAt(-1);
    EXPECT_EQ(table.count(), 2);
    table.removeAt(table.findByKey(3)->number);
    EXPECT_EQ(table.current(), nullptr);
    EXPECT_EQ(table.findByKey(3), nullptr);
    EXPECT_EQ(table.findScene(2), table.at(0)->scene.get());
}

TEST_F(Instances, DuplicateKeysFindTheLowerPosition) {
    InstanceTable table;
    ObjectData a, b;
    bind(table, 7, &a);
    bind(table, 7, &b);
    EXPECT_EQ(table.findByKey(7), table.at(0));
    EXPECT_EQ(table.findScene(8), nullptr);
}

TEST_F(Instances, NewObjectIsTaggedAndGetsTheDefaultSphere) {
    InstanceTable table;
    ObjectData data;
    PluginInstance& instance = bind(table, 5, &data);
    EXPECT_EQ(data.tagText(), "PLX");
    EXPECT_EQ(data.name(), "defplx00.880");
    ASSERT_EQ(instance.scene->count(), 1);
    EXPECT_EQ(instance.scene->selected, instance.scene->block(0));
    EXPECT_EQ(instance.scene->block(0)->kind, scene::SPHERE);
    EXPECT_EQ(instance.scene->block(0)->fineness, 24);
    EXPECT_EQ(instance.colorCheck, 0);
}

TEST_F(Instances, StartUpKeepsOnlyAFirstSphereOrPlane) {
    struct Case {
        std::string file;
        scene::BlockKind kind;
        int32_t fineness;
    };
    const Case cases[] = {
        {"880\nCUBE ORG[0,0,0]\nSPHERE24 ORG[0,0,0]\nPLANE20 ORG[0,0,0]\n", scene::SPHERE, 24},
        {"880\nPLANE8 ORG[1,0,0] RGB[0.5,0.5,0.5]\nSPHERE6\nCUBE\n", scene::PLANE, 8},
        {"880\nCYLINDER ORG[0,0,0]\n", scene::SPHERE, 24},
        {"880\n", scene::SPHERE, 24},
        {"not a scene\nPLANE8 ORG[0,0,0]\n", scene::SPHERE, 24},
        {"880\nSPHERE6 RGB[0,1,0]\n", scene::SPHERE, 6},
    };
    for (const Case& c : cases) {
        writeFile("defplx00.880", c.file);
        InstanceTable table;
        ObjectData data;
        data.tag();
        PluginInstance& instance = bind(table, 1, &data);
        ASSERT_EQ(instance.scene->count(), 1) << c.file;
        const scene::Block& block = *instance.scene->block(0);
        EXPECT_EQ(instance.scene->selected, &block);
        EXPECT_EQ(block.kind, c.kind) << c.file;
        EXPECT_EQ(block.fineness, c.fineness) << c.file;
        EXPECT_FLOAT_EQ(block.pickColor[0], 0.0f);
        EXPECT_EQ(data.tagText(), "PLX");
    }
}

TEST_F(Instances, UntaggedObjectReadsThePlainNameWithoutProbing) {
    writeFile("..\\defplx00.880", "880\nPLANE3\n");   // the parent-directory name, as a plain file here
    InstanceTable table;
    ObjectData fresh;
    PluginInstance& instance = bind(table, 1, &fresh);
    EXPECT_EQ(instance.scene->block(0)->kind, scene::SPHERE);

    writeFile("defplx01.880", "880\nPLANE4\n");
    ObjectData second;
    PluginInstance& loaded = bind(table, 2, &second);
    EXPECT_EQ(loaded.scene->block(0)->kind, scene::PLANE);
    EXPECT_EQ(loaded.scene->block(0)->fineness, 4);
}

TEST_F(Instances, TaggedObjectFallsBackToTheParentName) {
    // Natively the parent-directory name is an ordinary file name with a
    // backslash in it, which is enough to see the probe choose it.
    writeFile("..\\defplx00.880", "880\nPLANE3\n");
    InstanceTable table;
    ObjectData data;
    data.tag();
    PluginInstance& instance = bind(table, 1, &data);
    EXPECT_EQ(instance.scene->block(0)->kind, scene::PLANE);
    EXPECT_EQ(data.name(), "defplx00.880");   // written back under the plain name
}

TEST_F(Instances, NumbersFromOneHundredTakeThreeDigits) {
    PluginInstance instance;
    ObjectData data;
    instance.attachData(data.bytes);
    instance.number = 3;
    host::formSceneFileName(instance, "PLX", "defplx", "880");
    EXPECT_EQ(data.name(), "defplx03.880");
    instance.number = 123;
    host::formSceneFileName(instance, "PLX", "defplx", "880");
    EXPECT_EQ(data.name(), "defplx123.880");
    instance.number = 2147483647;
    host::formSceneFileName(instance, "PLX", "defplx", "880");
    EXPECT_EQ(data.name(), "defplx2147483647.880");
}

TEST_F(Instances, MissingDataBlockGetsOneOfItsOwn) {
    InstanceTable table;
    PluginInstance& instance = bind(table, 9, nullptr);
    ASSERT_NE(instance.hostData, nullptr);
    EXPECT_STREQ(instance.sceneFileName, "defplx00.880");
    EXPECT_EQ(instance.scene->count(), 1);
}

TEST_F(Instances, UnloadDestroysScenesWithoutSaving) {
    {
        InstanceTable table;
        ObjectData data;
        bind(table, 1, &data);
        EXPECT_EQ(gl().liveLists.size(), 2u);
    }
    EXPECT_TRUE(gl().liveLists.empty());
    EXPECT_FALSE(fileExists("defplx00.880"));
}

std::string logRecords(const std::vector<std::string>& messages) {
    std::string log;
    for (const std::string& message : messages) log += "[Numerical Recipes run-time error...]\n" + message + "\n";
    return log;
}

std::string kindWord(const scene::Block& block) {
    char line[scene::kLineCapacity];
    scene::writeLine(block, line);
    return std::string(line).substr(0, std::string(line).find(' '));
}

// Whatever lies on disk, binding leaves one sphere or plane, logs exactly the
// records the damage calls for, and the scene saved from it binds again to the
// same block without a word.
TEST_F(Instances, HostileSceneFilesLeaveOneBlockAndTheirLogRecords) {
    gl().keepCalls = false;   // a ceiling-fine sphere is among them; only blocks and logs are checked
    for (const samples::HostileScene& file : samples::hostileScenes()) {
        SCOPED_TRACE(file.name);
        writeFile("defplx00.880", std::string(file.bytes.begin(), file.bytes.end()));
        std::remove("error.txt");
        std::remove("defplx00.880.bad");
        InstanceTable table;
        ObjectData data;
        data.tag();
        PluginInstance& instance = bind(table, 1, &data);
        ASSERT_EQ(instance.scene->count(), 1);
        EXPECT_EQ(kindWord(*instance.scene->block(0)), file.block);
        EXPECT_EQ(readFile("error.txt"), logRecords(file.log));

        std::remove("error.txt");
        ASSERT_TRUE(host::saveInstance(instance));
        InstanceTable again;
        PluginInstance& reread = bind(again, 1, &data);
        EXPECT_EQ(kindWord(*reread.scene->block(0)), file.block);
        EXPECT_FALSE(reread.ownedPath.empty());
        const bool keptAside = fileExists("defplx00.880.bad");
        EXPECT_EQ(keptAside, readFile("error.txt").find("unreadable, kept as defplx00.880.bad") != std::string::npos);
        if (keptAside) EXPECT_EQ(readFile("defplx00.880.bad"), std::string(file.bytes.begin(), file.bytes.end()));
    }
}

// A, B, C bound; A unbound: B and C move down, and a new object's position
// is C's old one. It must not be given C's file.
TEST_F(Instances, NewInstanceNeverSavesToAFileABoundOneSavesTo) {
    InstanceTable table;
    ObjectData a, b, c, d, e;
    bind(table, 1, &a);
    bind(table, 2, &b);
    bind(table, 3, &c);
    table.removeAt(0);
    bind(table, 4, &d);
    EXPECT_EQ(c.name(), "defplx02.880");
    EXPECT_EQ(d.name(), "defplx03.880");
    table.removeAt(0);
    table.removeAt(0);
    bind(table, 5, &e);   // position 1 again, and defplx01.880 is free now
    EXPECT_EQ(e.name(), "defplx01.880");
    EXPECT_EQ(d.name(), "defplx03.880");
}

// One object bound twice with one data block (a faulty host): the block goes
// on naming the first binding's file; the second shows the same scene and
// saves to a file of its own.
TEST_F(Instances, ObjectBoundTwiceWithOneBlockLeavesTheBlockItsName) {
    writeFile("defplx00.880", "880\nPLANE8\n");
    InstanceTable table;
    ObjectData data;
    data.tag();
    std::strcpy(reinterpret_cast<char*>(data.bytes + od::kNameOffset), "defplx00.880");
    bind(table, 1, &data);
    bind(table, 1, &data);
    EXPECT_EQ(data.name(), "defplx00.880");
    EXPECT_STREQ(table.at(0)->fileName, "defplx00.880");
    EXPECT_STREQ(table.at(1)->fileName, "defplx01.880");
    EXPECT_EQ(kindWord(*table.at(1)->scene->block(0)), "PLANE8");
}

TEST_F(Instances, OnlyNamesOfThePluginsOwnFormAreKept) {
    const auto number = [](const std::string& text) { return host::ownFileNumber(text.c_str(), text.size() + 1); };
    EXPECT_EQ(number("defplx00.880"), 0);
    EXPECT_EQ(number("defplx07.880"), 7);
    EXPECT_EQ(number("defplx123.880"), 123);
    EXPECT_EQ(number("..\\defplx05.880"), 5);
    EXPECT_EQ(number("defplx2147483647.880"), 2147483647);
    for (const char* other : {"defplx7.880", "defplx007.880", "defplx2147483648.880", "defplx05.880.bad",
                              "defplx05.88", ".\\defplx05.880", "DEFPLX05.880", "notes.txt", ""})
        EXPECT_EQ(number(other), -1) << other;
    const char unended[4] = {'d', 'e', 'f', 'p'};
    EXPECT_EQ(host::ownFileNumber(unended, sizeof unended), -1);
}

// A save replaces a scene file only if this instance read it or wrote it, or
// it does not exist; anything else in the way is kept aside first, under a
// name nothing has yet.
TEST_F(Instances, SaveReplacesOnlyTheFileThisObjectReadOrWrote) {
    const std::string marked = "\xEF\xBB\xBF" "880\nPLANE8\n", other = "880\nPLANE4\n";
    const std::string bad = "scene file defplx00.880 unreadable, kept as defplx00.880.bad";
    const std::string notRead = "scene file defplx00.880 was not read by this object, kept as defplx00.880.kept";
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> before;   // files at binding
        std::function<void()> whileBound;
        std::vector<std::pair<std::string, std::string>> after;    // "" : must not exist
        std::vector<std::string> log;
        const char* shown;   // the kind word of the bound block
    };
    const Case cases[] = {
        {"not a scene", {{"defplx00.880", marked}}, [] {}, {{"defplx00.880.bad", marked}}, {bad}, "SPHERE24"},
        {"a second one beside the first kept aside",
         {{"defplx00.880", marked}, {"defplx00.880.bad", "older"}}, [] {},
         {{"defplx00.880.bad", "older"}, {"defplx00.880.bad2", marked}},
         {"scene file defplx00.880 unreadable, kept as defplx00.880.bad2"}, "SPHERE24"},
        {"found only in the parent", {{"../defplx00.880", marked}}, [] {}, {{"../defplx00.880", marked}}, {},
         "SPHERE24"},
        {"deleted while bound", {{"defplx00.880", marked}}, [] { std::remove("defplx00.880"); },
         {{"defplx00.880.bad", ""}}, {}, "SPHERE24"},
        {"another scene put in its place", {{"defplx00.880", other}},
         [&] { std::remove("defplx00.880"); writeFile("defplx00.880", other + "\n"); },
         {{"defplx00.880.kept", other + "\n"}}, {notRead}, "PLANE4"},
        {"one made while bound", {}, [&] { writeFile("defplx00.880", other); },
         {{"defplx00.880.kept", other}}, {notRead}, "SPHERE24"},
        {"touched by a sync client, bytes unchanged", {{"defplx00.880", other}},
         [&] { writeFile("defplx00.880", other); }, {{"defplx00.880.kept", ""}}, {}, "PLANE4"},
        {"rewritten to the same size", {{"defplx00.880", other}},
         [&] { writeFile("defplx00.880", "880\nPLANE5\n"); }, {{"defplx00.880.kept", "880\nPLANE5\n"}},
         {notRead}, "PLANE4"},
        {"a torn file of a save that died", {{"defplx00.880", other}, {"defplx00.880.new", "880\nPLANE9"}},
         [] {}, {{"defplx00.880.kept", ""}}, {}, "PLANE4"},
        {"read-only", {{"defplx00.880", marked}}, [] { chmod("defplx00.880", 0444); },
         {{"defplx00.880", marked}, {"defplx00.880.bad", ""}},
         {"cannot save scene file defplx00.880: it is read-only"}, "SPHERE24"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(std::system("rm -rf ./* ../defplx00.880"), 0);
        for (const auto& [name, text] : c.before) writeFile(name, text);
        InstanceTable table;
        ObjectData data;
        data.tag();
        PluginInstance& instance = bind(table, 1, &data);
        EXPECT_EQ(kindWord(*instance.scene->block(0)), c.shown);
        c.whileBound();
        EXPECT_EQ(host::saveInstance(instance), c.log.empty() || c.log[0].rfind("scene file", 0) == 0);
        for (const auto& [name, text] : c.after) {
            if (text.empty())
                EXPECT_FALSE(fileExists(name)) << name;
            else
                EXPECT_EQ(readFile(name), text) << name;
        }
        EXPECT_EQ(readFile("error.txt"), logRecords(c.log));
        // What it wrote, it replaces again without a word.
        if (!scene::isReadOnly("defplx00.880")) {
            std::remove("error.txt");
            EXPECT_TRUE(host::saveInstance(instance));
            EXPECT_FALSE(fileExists("error.txt"));
        }
    }
    std::remove("../defplx00.880");
}

// A complete scene left beside its file by a save that could not replace it
// says what it replaces: it is shown, and replaces the file, only while the
// file holds exactly those bytes or is gone. Any other is kept aside.
TEST_F(Instances, PendingSceneStandsOnlyForTheContentItRecords) {
    const std::string file = "880\nSPHERE8\n";
    const auto pending = [](const std::string& replaces) {
        return "880\n//^always first, its the file id !!\n" + replaces + "\nPLANE12\n";
    };
    const std::string recorded = scene::replacesLine(scene::replacedBy(&file));
    const struct {
        const char* what;
        const char* file;   // nullptr: none
        std::string pending;
        const char* shown;
        bool keptAside;
    } cases[] = {
        {"file as it was", file.c_str(), pending(recorded), "PLANE12", false},
        {"same size, other bytes", "880\nSPHERE9\n", pending(recorded), "SPHERE9", true},
        {"file gone, none recorded", nullptr, pending("//replaces none\n"), "PLANE12", false},
        {"an older version's, with no record", file.c_str(), pending(""), "SPHERE8", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(std::system("rm -rf ./*"), 0);
        if (c.file) writeFile("defplx00.880", c.file);
        writeFile("defplx00.880.pending", c.pending);
        InstanceTable table;
        ObjectData data;
        data.tag();
        PluginInstance& instance = bind(table, 1, &data);
        EXPECT_EQ(kindWord(*instance.scene->block(0)), c.shown);
        EXPECT_TRUE(host::saveInstance(instance));
        EXPECT_NE(readFile("defplx00.880").find(std::string("\n") + c.shown + " "), std::string::npos);
        EXPECT_FALSE(fileExists("defplx00.880.pending"));
        EXPECT_EQ(fileExists("defplx00.880.kept"), c.keptAside);
        if (c.keptAside) EXPECT_EQ(readFile("defplx00.880.kept"), c.pending);
    }
}

}  // namespace
}  // namespace plexa::testing

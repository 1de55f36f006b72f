// The plug-in as a host sees it: binding, naming, probing, saving and message
// dispatch through the real exports, with a real window and OpenGL context.
// Every test case runs in a fresh process, so library state starts unset.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "plugin_host.h"

namespace plexa::wintest {
namespace {

namespace msg = host::messages;

class Plugin : public PluginHost {
protected:
    // The posted WM_COMMAND requests waiting in the command window's queue.
    std::vector<MSG> pendingCommands() {
        std::vector<MSG> found;
        MSG message;
        while (PeekMessageA(&message, commandWindow(), WM_COMMAND, WM_COMMAND, PM_REMOVE)) found.push_back(message);
        return found;
    }
};

TEST_F(Plugin, NewObjectIsTaggedGreetedAndGetsTheDefaultSphere) {
    HostObject object(42);
    EXPECT_EQ(bind(object), 1);
    EXPECT_EQ(object.tagText(), "PLX");
    EXPECT_EQ(object.sceneName(), "defplx00.880");

    const std::vector<MSG> posted = pendingCommands();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].wParam, msg::kAboutCommand);
    EXPECT_EQ(posted[0].lParam, 0);

    plugin_.StopPlugin(42);
    const std::string saved = readTextFile("defplx00.880");
    EXPECT_EQ(saved.substr(0, 5), "880\r\n");
    EXPECT_NE(saved.find("\r\nSPHERE24 ORG[+0.00,+0.00,+0.00] SIZE[+1.00,+1.00,+1.00] "
                         "ROT[0.000000,0.000000,0.000000] RGB[+1.00,+1.00,+1.00] TEXTURE[ ] DENS[1.0000] "
                         "SKIN[ ] SKINSCALE[0.5000] SHORTCUT[ ] TRANS[0] \r\n"),
              std::string::npos)
        << saved;
}

TEST_F(Plugin, TaggedObjectFindsItsSceneAgainWithoutAGreeting) {
    writeTextFile("defplx00.880", "880\nPLANE8 ORG[1,2,3] RGB[0.5,0.25,1]\nSPHERE6\n");
    HostObject object(7);
    object.tag();
    bind(object);
    EXPECT_TRUE(pendingCommands().empty());
    plugin_.StopPlugin(7);
    const std::string saved = readTextFile("defplx00.880");
    EXPECT_NE(saved.find("PLANE8 ORG[+1.00,+2.00,+3.00]"), std::string::npos) << saved;
    EXPECT_NE(saved.find("RGB[+0.50,+0.25,+1.00]"), std::string::npos);
    EXPECT_EQ(saved.find("SPHERE"), std::string::npos);
}

TEST_F(Plugin, CommandWindowLivesFromFirstBindingToLastUnbinding) {
    EXPECT_EQ(commandWindow(), nullptr);
    HostObject a(1), b(2);
    bind(a);
    HWND first = commandWindow();
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(IsWindowVisible(first));
    EXPECT_EQ(GetWindow(first, GW_OWNER), window_.hwnd());
    EXPECT_EQ(GetWindowLongA(first, GWL_STYLE) & WS_POPUP, WS_POPUP);
    EXPECT_EQ(GetWindowLongA(first, GWL_EXSTYLE) & WS_EX_TRANSPARENT, WS_EX_TRANSPARENT);
    bind(b);
    EXPECT_EQ(commandWindow(), first);
    plugin_.StopPlugin(1);
    EXPECT_TRUE(IsWindow(first));
    plugin_.StopPlugin(2);
    EXPECT_FALSE(IsWindow(first));

    HostObject c(3);
    bind(c);
    EXPECT_NE(commandWindow(), nullptr);
    EXPECT_EQ(c.sceneName(), "defplx00.880");
    plugin_.StopPlugin(3);
}

TEST_F(Plugin, SavesIntoTheHostDirectoryWhereverTheProcessHasGone) {
    HostObject object(5);
    bind(object);
    ASSERT_TRUE(CreateDirectoryA("elsewhere", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("elsewhere"));
    const std::string elsewhere = currentDirectory();
    plugin_.StopPlugin(5);
    EXPECT_EQ(currentDirectory(), elsewhere);
    EXPECT_TRUE(fileExists(workDir_ + "\\defplx00.880"));
    EXPECT_FALSE(fileExists(elsewhere + "\\defplx00.880"));
}

TEST_F(Plugin, TaggedSceneFoundOnlyInTheParentIsSavedUnderThePlainName) {
    writeTextFile("defplx00.880", "880\nPLANE8 RGB[0,1,0]\n");
    ASSERT_TRUE(CreateDirectoryA("sub", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("sub"));
    HostObject object(9);
    object.tag();
    bind(object);
    EXPECT_EQ(object.sceneName(), "defplx00.880");
    plugin_.StopPlugin(9);
    const std::string saved = readTextFile("defplx00.880");   // in sub, the host directory
    EXPECT_NE(saved.find("PLANE8 "), std::string::npos) << saved;
    EXPECT_NE(saved.find("RGB[+0.00,+1.00,+0.00]"), std::string::npos);
}

// Positions shift when an object is unbound, so a tagged object finds its
// scene by the name its data block keeps: last session A (defplx00.880) was
// removed, and B, bound first now, must not be given A's file.
TEST_F(Plugin, TaggedObjectKeepsTheSceneFileItsDataBlockNames) {
    const auto named = [](int32_t key, const std::string& name) {
        HostObject object(key);
        object.tag();
        std::memcpy(object.data.data() + host::object_data::kNameOffset, name.data(), name.size());
        return object;
    };
    // Texts that are not names of the plug-in's own form are named by
    // position, as for any object: a stray zero, a third digit, no end.
    HostObject padded = named(11, "defplx007.880"), unended = named(12, std::string(76, 'd'));
    bind(padded);
    bind(unended);
    EXPECT_EQ(padded.sceneName(), "defplx00.880");
    EXPECT_EQ(unended.sceneName(), "defplx01.880");
    plugin_.StopPlugin(11);
    plugin_.StopPlugin(12);

    const std::string sceneOfA = "880\nPLANE8 RGB[0,1,0]\n";
    writeTextFile("defplx00.880", sceneOfA);
    writeTextFile("defplx01.880", "880\nSPHERE8 RGB[1,0,0]\n");
    HostObject b = named(2, "defplx01.880");
    bind(b);
    EXPECT_EQ(b.sceneName(), "defplx01.880");
    // A second object naming a file a bound one saves to takes the next
    // number nobody uses.
    HostObject twin = named(3, "defplx01.880");
    bind(twin);
    EXPECT_EQ(twin.sceneName(), "defplx02.880");
    // A kept name whose file is gone is kept, with the default sphere.
    HostObject gone = named(4, "defplx09.880");
    bind(gone);
    EXPECT_EQ(gone.sceneName(), "defplx09.880");

    b.setColor(0, 0, 255);
    send(b, msg::kCommand, msg::kColorCommand, 0);
    for (int32_t key : {2, 3, 4}) plugin_.StopPlugin(key);
    EXPECT_EQ(readTextFile("defplx00.880"), sceneOfA);
    const std::string savedB = readTextFile("defplx01.880");
    EXPECT_NE(savedB.find("SPHERE8 "), std::string::npos) << savedB;
    EXPECT_NE(savedB.find("RGB[+0.00,+0.00,+1.00]"), std::string::npos) << savedB;
    EXPECT_NE(readTextFile("defplx09.880").find("SPHERE24 "), std::string::npos);
}

// The parent-directory form of a kept name is probed like the plain one, and
// the scene comes home under the plain name.
TEST_F(Plugin, KeptParentDirectoryNameIsReadThereAndSavedHere) {
    writeTextFile("defplx05.880", "880\nPLANE6 RGB[0,1,0]\n");
    ASSERT_TRUE(CreateDirectoryA("sub", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("sub"));
    HostObject object(9);
    object.tag();
    std::strcpy(reinterpret_cast<char*>(object.data.data() + host::object_data::kNameOffset), "..\\defplx05.880");
    bind(object);
    EXPECT_EQ(object.sceneName(), "defplx05.880");
    plugin_.StopPlugin(9);
    EXPECT_NE(readTextFile("defplx05.880").find("PLANE6 "), std::string::npos);
    EXPECT_FALSE(fileExists("defplx00.880"));
}

TEST_F(Plugin, UntaggedObjectDoesNotProbeTheParent) {
    writeTextFile("defplx00.880", "880\nPLANE8\n");
    ASSERT_TRUE(CreateDirectoryA("sub", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("sub"));
    HostObject object(9);
    bind(object);
    plugin_.StopPlugin(9);
    EXPECT_NE(readTextFile("defplx00.880").find("SPHERE24 "), std::string::npos);
}

TEST_F(Plugin, ColourReplyRecoloursTheSelectedBlock) {
    HostObject object(3);
    bind(object);
    object.setColor(255, 128, 0);
    EXPECT_EQ(send(object, msg::kCommand, msg::kColorCommand, 0), 0);
    EXPECT_EQ(send(object, msg::kCommand, 99, 0), 0);   // answered with a beep
    plugin_.StopPlugin(3);
    EXPECT_NE(readTextFile("defplx00.880").find("RGB[+1.00,+0.50,+0.00]"), std::string::npos);
}

TEST_F(Plugin, RightClickRequestsThePopupUnlessShiftIsHeld) {
    HostObject a(1), b(2);
    bind(a);
    bind(b);
    pendingCommands();
    EXPECT_EQ(send(a, msg::kRightButtonDown, msg::kShiftKey | 2, 0x00640032), 0);
    EXPECT_TRUE(pendingCommands().empty());
    EXPECT_EQ(send(a, msg::kRightButtonDown, 2, 0x00640032), 1);
    const std::vector<MSG> posted = pendingCommands();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(posted[0].wParam, msg::kPopupCommand);
    EXPECT_EQ(posted[0].lParam, 0x00640032);
    plugin_.StopPlugin(1);
    plugin_.StopPlugin(2);
}

TEST_F(Plugin, DoubleClickOpensOnlyAnExistingShortcut) {
    DialogRecorder dialogs;
    ASSERT_TRUE(dialogs.installed());
    HostObject plain(1);
    bind(plain);
    pumpMessages();   // the greeting of the new object
    dialogs.clear();
    EXPECT_EQ(send(plain, msg::kLeftDoubleClick, 0, 0), 0);

    writeTextFile("defplx01.880", "880\nSPHERE8 SHORTCUT[no-such-file.zzq]\n");
    HostObject linked(2);
    linked.tag();
    bind(linked);
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_EQ(send(linked, msg::kLeftDoubleClick, 0, 0), 1);
    ASSERT_EQ(dialogs.dialogs().size(), 1u);
    EXPECT_EQ(dialogs.dialogs()[0].caption, "! Cannot Open");
    EXPECT_EQ(dialogs.dialogs()[0].text, "no-such-file.zzq");
    EXPECT_EQ(currentDirectory() + "\\", workDir_ + "\\");   // back in the host directory
}

// A new block that names a scene file of the plug-in's form redirects the
// save; one that names none (empty, or no end within its 76 bytes) is given
// the name the instance has, so the scene is not saved to nowhere.
TEST_F(Plugin, NewDataBlockRedirectsTheSceneFileOnlyToANameOfItsForm) {
    HostObject object(4);
    bind(object);
    HostObject moved(4), empty(4), runOn(4);
    moved.data = object.data;
    std::strcpy(reinterpret_cast<char*>(moved.data.data() + host::object_data::kNameOffset), "defplx05.880");
    runOn.data.fill('x');
    for (HostObject* block : {&empty, &moved, &runOn}) {
        EXPECT_EQ(send(object, msg::kNewObjectData, 0, reinterpret_cast<intptr_t>(block->data.data())), 0);
        object.data.fill(0xAA);   // the old block is no longer read
    }
    EXPECT_EQ(empty.sceneName(), "defplx00.880");
    EXPECT_EQ(empty.tagText(), "PLX");
    EXPECT_EQ(runOn.sceneName(), "defplx05.880");
    EXPECT_EQ(send(object, msg::kNewObjectData, 0, 0), 0);   // a null block is ignored
    plugin_.StopPlugin(4);
    EXPECT_TRUE(fileExists("defplx05.880"));
    EXPECT_FALSE(fileExists("defplx00.880"));
}

TEST_F(Plugin, UnknownKeysAndNullRecordsAreIgnored) {
    HostObject object(1), stranger(99);
    bind(object);
    EXPECT_EQ(send(stranger, msg::kRightButtonDown, 0, 0), 0);
    EXPECT_EQ(send(stranger, msg::kNewObjectData, 0, 1234), 0);
    EXPECT_EQ(plugin_.ReceiveMessage(nullptr), 0);
    EXPECT_EQ(plugin_.InitPlugin(nullptr), 1);
    plugin_.StopPlugin(99);
    plugin_.TimerDraw(99);
    plugin_.PhantomDraw(99);
    EXPECT_EQ(send(object, 0x200, 0, 0), 0);

    host::HostInstanceInfo noData{};
    noData.hostWindow = window_.hwnd();
    noData.moduleInstance = module_;
    noData.key = 2;
    EXPECT_EQ(plugin_.InitPlugin(&noData), 1);
    plugin_.StopPlugin(2);
    plugin_.StopPlugin(1);
    EXPECT_TRUE(fileExists("defplx00.880"));
    EXPECT_TRUE(fileExists("defplx01.880"));
}

TEST_F(Plugin, DrawingPassesLeaveNoGlError) {
    HostObject object(1);
    bind(object);
    glClear(GL_COLOR_BUFFER_BIT);
    plugin_.TimerDraw(1);
    plugin_.PhantomDraw(1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    plugin_.StopPlugin(1);
}

TEST_F(Plugin, ManyObjectsUnboundInAnyOrderKeepTheirOwnFiles) {
    std::vector<HostObject> objects;
    for (int i = 0; i < 23; ++i) objects.emplace_back(1000 + i);
    for (auto& object : objects) bind(object);
    EXPECT_EQ(objects[22].sceneName(), "defplx22.880");
    for (int i : {5, 0, 22, 13, 1}) plugin_.StopPlugin(objects[i].key);
    // A binding after removals takes the position at the end, 18, but
    // objects[18] still saves to defplx18.880, and defplx22.880 is
    // objects[22]'s, left when it was unbound: the first number with no
    // file is 23.
    HostObject late(2000);
    bind(late);
    EXPECT_EQ(late.sceneName(), "defplx23.880");
    EXPECT_EQ(objects[18].sceneName(), "defplx18.880");
    for (auto& object : objects) plugin_.StopPlugin(object.key);
    plugin_.StopPlugin(late.key);
    EXPECT_EQ(commandWindow(), nullptr);
    for (int i = 0; i < 23; ++i) {
        char name[32];
        snprintf(name, sizeof name, "defplx%02d.880", i);
        EXPECT_TRUE(fileExists(name)) << name;
    }
}

TEST_F(Plugin, DamagedSceneLinesGoToTheErrorLog) {
    writeTextFile("defplx00.880", "880\nSPHERE8 ORG[x,1,1] DENS[y]\n");
    HostObject object(1);
    object.tag();
    bind(object);
    EXPECT_EQ(readTextFile("error.txt"),
              "[Numerical Recipes run-time error...]\r\nERROR in ORG Coord\r\n"
              "[Numerical Recipes run-time error...]\r\nERROR in DENS nr\r\n");
    plugin_.StopPlugin(1);
}

TEST_F(Plugin, UnloadingWhileBoundLeavesNoWindowBehind) {
    HostObject object(1);
    bind(object);
    HWND window = commandWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(FreeLibrary(module_));
    module_ = nullptr;
    EXPECT_FALSE(IsWindow(window));
    pumpMessages();   // the posted About request must not reach a vanished procedure
    EXPECT_FALSE(fileExists("defplx00.880"));   // unsaved, as at any unload
}

// Each way a save can fail leaves the scene file the user had, and says so
// once, however many edits try again.
TEST_F(Plugin, FailedSavesKeepTheOldSceneFileAndLogOnce) {
    const std::string old = "880\nPLANE8 RGB[0,1,0]\n";
    // The new scene is written under a name of this process's own.
    const std::string temporary = "defplx00.880.new-" + std::to_string(GetCurrentProcessId());
    const auto saveOnce = [&](const char* what, const std::string& cause, bool newIsADirectory) {
        SCOPED_TRACE(what);
        DeleteFileA("error.txt");
        HostObject object(1);
        object.tag();
        bind(object);
        for (uint8_t red : {255, 128}) {
            object.setColor(red, 0, 0);
            send(object, msg::kCommand, msg::kColorCommand, 0);
        }
        plugin_.StopPlugin(1);
        EXPECT_EQ(readTextFile(workDir_ + "\\defplx00.880"), old);
        EXPECT_EQ(readTextFile(workDir_ + "\\error.txt"),
                  "[Numerical Recipes run-time error...]\r\ncannot save scene file defplx00.880" + cause + "\r\n");
        EXPECT_TRUE(fileExists(workDir_ + "\\" + temporary) == newIsADirectory);
        EXPECT_FALSE(fileExists(workDir_ + "\\defplx00.880.pending"));
    };
    writeTextFile("defplx00.880", old);
    ASSERT_TRUE(SetFileAttributesA("defplx00.880", FILE_ATTRIBUTE_READONLY));
    saveOnce("a read-only scene file", ": it is read-only", false);
    ASSERT_TRUE(SetFileAttributesA("defplx00.880", FILE_ATTRIBUTE_NORMAL));

    ASSERT_TRUE(CreateDirectoryA(temporary.c_str(), nullptr));   // as if creating it were denied
    saveOnce("a directory in the way of the new file", ": " + temporary + " cannot be created", true);
    ASSERT_TRUE(RemoveDirectoryA(temporary.c_str()));
}

TEST_F(Plugin, VanishedHostDirectoryIsNotSavedElsewhere) {
    ASSERT_TRUE(CreateDirectoryA("desk", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("desk"));   // the host directory of the first binding
    HostObject object(1);
    bind(object);
    ASSERT_TRUE(SetCurrentDirectoryA(workDir_.c_str()));
    ASSERT_TRUE(RemoveDirectoryA("desk"));
    writeTextFile("defplx00.880", "880\nPLANE8\n");   // another desktop's scene, here
    plugin_.StopPlugin(1);
    EXPECT_EQ(readTextFile("defplx00.880"), "880\nPLANE8\n");
    EXPECT_EQ(readTextFile("error.txt"),
              "[Numerical Recipes run-time error...]\r\ncannot save scene file defplx00.880\r\n");
}

// A file that is not a scene (here one an editor gave a byte-order mark) is
// replaced by the default sphere's scene, so it is kept aside first, beside
// any kept there before.
TEST_F(Plugin, UnreadableSceneFileIsKeptAsideBeforeItIsReplaced) {
    const std::string marked = "\xEF\xBB\xBF" "880\nPLANE8 RGB[0,1,0]\n";
    writeTextFile("defplx00.880", marked);
    writeTextFile("defplx00.880.bad", "kept last week");
    HostObject object(1);
    object.tag();
    bind(object);
    plugin_.StopPlugin(1);
    EXPECT_EQ(readTextFile("defplx00.880.bad"), "kept last week");
    EXPECT_EQ(readTextFile("defplx00.880.bad2"), marked);
    EXPECT_EQ(readTextFile("defplx00.880").rfind("880\r\n", 0), 0u);
    EXPECT_EQ(readTextFile("error.txt"), "[Numerical Recipes run-time error...]\r\n"
                                         "scene file defplx00.880 unreadable, kept as defplx00.880.bad2\r\n");
}

// A host that changed its current directory after the first binding: the
// scene is read from the host directory, where it is saved, and a file of
// that name in the other directory is never touched.
TEST_F(Plugin, SceneIsReadWhereItIsSavedWhateverTheCurrentDirectory) {
    HostObject first(1);
    bind(first);
    writeTextFile("defplx01.880", "880\nPLANE8 RGB[0,1,0]\n");
    ASSERT_TRUE(CreateDirectoryA("other", nullptr));
    writeTextFile("other\\defplx01.880", "880\nPLANE4\n");
    ASSERT_TRUE(SetCurrentDirectoryA("other"));
    HostObject second(2);
    second.tag();
    std::strcpy(reinterpret_cast<char*>(second.data.data() + host::object_data::kNameOffset), "defplx01.880");
    bind(second);
    EXPECT_EQ(currentDirectory(), workDir_ + "\\other");
    plugin_.StopPlugin(2);
    plugin_.StopPlugin(1);
    EXPECT_NE(readTextFile(workDir_ + "\\defplx01.880").find("PLANE8 ORG"), std::string::npos);
    EXPECT_EQ(readTextFile(workDir_ + "\\other\\defplx01.880"), "880\nPLANE4\n");
    EXPECT_FALSE(fileExists(workDir_ + "\\error.txt"));
}

// A copied object (its data block copied by the host) shows the scene it was
// copied with and saves to a number whose file does not exist; the objects
// bound after it keep their own files.
TEST_F(Plugin, CopiedObjectShowsItsOriginalsSceneAndSavesToAFileOfItsOwn) {
    const char* scenes[] = {"880\nPLANE8 RGB[1,0,0]\n", "880\nPLANE8 RGB[0,1,0]\n", "880\nPLANE8 RGB[0,0,1]\n"};
    std::vector<HostObject> objects;
    for (int32_t i = 0; i < 3; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "defplx%02d.880", i);
        writeTextFile(name, scenes[i]);
        objects.emplace_back(i + 1);
        objects.back().tag();
        std::strcpy(reinterpret_cast<char*>(objects.back().data.data() + host::object_data::kNameOffset), name);
    }
    HostObject copy(9);
    copy.data = objects[0].data;
    bind(objects[0]);
    bind(copy);
    bind(objects[1]);
    bind(objects[2]);
    EXPECT_EQ(copy.sceneName(), "defplx03.880");
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(objects[i].sceneName(), "defplx0" + std::to_string(i) + ".880");
    for (const HostObject& object : objects) plugin_.StopPlugin(object.key);
    plugin_.StopPlugin(copy.key);
    EXPECT_NE(readTextFile("defplx03.880").find("RGB[+1.00,+0.00,+0.00]"), std::string::npos);
    EXPECT_NE(readTextFile("defplx01.880").find("RGB[+0.00,+1.00,+0.00]"), std::string::npos);
    EXPECT_NE(readTextFile("defplx02.880").find("RGB[+0.00,+0.00,+1.00]"), std::string::npos);
}

// Every edit reaches the scene file when it is made, so a host that dies
// later takes none with it. A picture that could not be loaded keeps its
// name until the user removes it.
TEST_F(Plugin, EveryEditIsInTheSceneFileBeforeUnbinding) {
    writeTextFile("defplx00.880", "880\nSPHERE8 TEXTURE[gone.bmp] SKIN[gone too.bmp]\n");
    HostObject object(1);
    object.tag();
    bind(object);
    object.setColor(255, 0, 0);
    send(object, msg::kCommand, msg::kColorCommand, 0);
    EXPECT_NE(readTextFile("defplx00.880").find("\nSPHERE8 ORG[+0.00,+0.00,+0.00] SIZE[+1.00,+1.00,+1.00] "
                                                "ROT[0.000000,0.000000,0.000000] RGB[+1.00,+0.00,+0.00] "
                                                "TEXTURE[gone.bmp] DENS[1.0000] SKIN[gone too.bmp] "),
              std::string::npos);
    SendMessageA(commandWindow(), WM_COMMAND, 21, 0);   // Plane
    EXPECT_NE(readTextFile("defplx00.880").find("\nPLANE8 "), std::string::npos);
    SendMessageA(commandWindow(), WM_COMMAND, 23, 0);   // No Material
    SendMessageA(commandWindow(), WM_COMMAND, 34, 0);   // No Skin
    EXPECT_NE(readTextFile("defplx00.880").find("TEXTURE[ ] DENS[1.0000] SKIN[ ] "), std::string::npos);
    EXPECT_FALSE(fileExists("error.txt"));
    plugin_.StopPlugin(1);
}

// A save knows its file by content, whatever other programs do to it: sync
// clients that touch times, same-size rewrites that keep the time, backup and
// indexing programs that hold files, a second host on the same folder. Each
// case ends with every edit in NAME or kept aside, and every file there a
// scene.
TEST_F(Plugin, SaveKnowsItsOwnFileByContent) {
    const std::string log = "[Numerical Recipes run-time error...]\r\n";
    const auto hold = [](const char* name, DWORD sharing) {
        return CreateFileA(name, GENERIC_READ, sharing, nullptr, OPEN_EXISTING, 0, nullptr);
    };
    const auto colour = [&](HostObject& object, uint8_t green) {
        object.setColor(0, green, 0);
        send(object, msg::kCommand, msg::kColorCommand, 0);
    };
    const auto green = [](int value) {
        char text[32];
        return std::string(text, std::snprintf(text, sizeof text, "RGB[+0.00,+%.2f,+0.00]", value / 255.0));
    };
    const auto files = [] {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator("."))
            if (entry.path().filename().string().rfind("defplx", 0) == 0) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::string plane = "880\nPLANE4\n";
    HostObject object(1);   // the tagged object of most cases, bound to a plane
    object.tag();
    const auto bindToAPlane = [&] {
        writeTextFile("defplx00.880", plane);
        bind(object);
    };
    const char* secondHost = std::getenv("PLEXA_SECOND_HOST");
    // The second host of the last case: edits of its own in the same folder.
    const auto edits = [&](int first) {
        std::vector<HostObject> objects{HostObject(1), HostObject(2)};
        for (HostObject& each : objects) bind(each);
        if (HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, "PlexaTestSecondHost")) {
            SetEvent(ready);
            CloseHandle(ready);
        }
        for (int edit = 0; edit < 8; ++edit) {
            for (HostObject& each : objects) colour(each, static_cast<uint8_t>(first + 10 * edit));
            Sleep(15);
        }
        for (HostObject& each : objects) plugin_.StopPlugin(each.key);
    };
    if (secondHost) {
        ASSERT_TRUE(SetCurrentDirectoryA(secondHost));
        edits(100);
        return;
    }

    const struct {
        const char* what;
        std::function<void()> run;
        std::vector<std::string> left;   // every defplx file afterwards
        std::string logged;
    } cases[] = {
        {"eight files held without sharing at start and at exit",
         [&] {
             std::vector<HostObject> objects;
             std::vector<HANDLE> held;
             for (int i = 0; i < 8; ++i) {
                 const std::string name = "defplx0" + std::to_string(i) + ".880";
                 writeTextFile(name, plane);
                 held.push_back(hold(name.c_str(), 0));
                 objects.emplace_back(i + 1);
                 objects.back().tag();
                 std::strcpy(reinterpret_cast<char*>(objects.back().data.data() + host::object_data::kNameOffset),
                             name.c_str());
             }
             ULONGLONG start = GetTickCount64();
             for (HostObject& each : objects) bind(each);
             const ULONGLONG binding = GetTickCount64() - start;
             Sleep(10000);   // a fresh window of the wait budget
             start = GetTickCount64();
             for (HostObject& each : objects) plugin_.StopPlugin(each.key);
             std::printf("eight held scene files: start %llu ms, exit %llu ms\n", binding, GetTickCount64() - start);
             for (HANDLE h : held) CloseHandle(h);
             for (int i = 0; i < 8; ++i) {
                 const std::string name = "defplx0" + std::to_string(i) + ".880";
                 EXPECT_EQ(readTextFile(name), plane);
                 EXPECT_NE(readTextFile(name + ".kept").find("\nSPHERE24 "), std::string::npos);
             }
         },
         {}, ""},
        {"touched between edits",
         [&] {
             bindToAPlane();
             for (int edit = 1; edit <= 3; ++edit) {
                 colour(object, static_cast<uint8_t>(40 * edit));
                 HANDLE file = CreateFileA("defplx00.880", FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, 0);
                 const FILETIME later{0, 0x01E00000u + edit};
                 SetFileTime(file, nullptr, nullptr, &later);
                 CloseHandle(file);
             }
             plugin_.StopPlugin(1);
             EXPECT_NE(readTextFile("defplx00.880").find(green(120)), std::string::npos);
         },
         {"defplx00.880"}, ""},
        {"rewritten to the same size, time put back",
         [&] {
             bindToAPlane();
             colour(object, 40);
             std::string same = readTextFile("defplx00.880");
             same[same.find("PLANE4") + 5] = '5';
             HANDLE file = CreateFileA("defplx00.880", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
             FILETIME written;
             GetFileTime(file, nullptr, nullptr, &written);
             DWORD count = 0;
             WriteFile(file, same.data(), static_cast<DWORD>(same.size()), &count, nullptr);
             SetFileTime(file, nullptr, nullptr, &written);
             CloseHandle(file);
             colour(object, 80);
             plugin_.StopPlugin(1);
             EXPECT_NE(readTextFile("defplx00.880.kept").find("\r\nPLANE5 "), std::string::npos);
             EXPECT_NE(readTextFile("defplx00.880").find(green(80)), std::string::npos);
         },
         {"defplx00.880", "defplx00.880.kept"},
         log + "scene file defplx00.880 was not read by this object, kept as defplx00.880.kept\r\n"},
        {"held through five edits, shown next time",
         [&] {
             bindToAPlane();
             HANDLE held = hold("defplx00.880", FILE_SHARE_READ);
             for (int edit = 1; edit <= 5; ++edit) colour(object, static_cast<uint8_t>(40 * edit));
             plugin_.StopPlugin(1);
             CloseHandle(held);
             EXPECT_EQ(readTextFile("defplx00.880"), plane);
             EXPECT_NE(readTextFile("defplx00.880.pending").find(green(200)), std::string::npos);
             bind(object);
             plugin_.StopPlugin(1);
             EXPECT_NE(readTextFile("defplx00.880").find(green(200)), std::string::npos);
         },
         {"defplx00.880"},
         log + "cannot save scene file defplx00.880: in use or denied; new scene in defplx00.880.pending\r\n"},
        {"a stale pending scene held while a newer save goes through",
         [&] {
             // Made while no file was there, so shown while there is none.
             writeTextFile("defplx00.880.pending", "880\n//replaces none\n\nPLANE12\n");
             bind(object);
             HANDLE held = hold("defplx00.880.pending", FILE_SHARE_READ);
             colour(object, 70);
             plugin_.StopPlugin(1);
             bind(object);   // the newer scene, though the older one could not go
             CloseHandle(held);
             plugin_.StopPlugin(1);
             bind(object);   // free now, the older one is kept aside
             plugin_.StopPlugin(1);
             EXPECT_NE(readTextFile("defplx00.880").find("PLANE12 ORG[+0.00,+0.00,+0.00] SIZE[+1.00,+1.00,+1.00] "
                                                         "ROT[0.000000,0.000000,0.000000] " + green(70)),
                       std::string::npos);
             EXPECT_EQ(readTextFile("defplx00.880.kept"), "880\n//replaces none\n\nPLANE12\n");
         },
         {"defplx00.880", "defplx00.880.kept"},
         log + "scene file defplx00.880.pending was made for another version of defplx00.880, kept as "
               "defplx00.880.kept\r\n"},
        {"two hosts on one folder",
         [&] {
             HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "PlexaTestSecondHost");
             char exe[MAX_PATH];
             GetModuleFileNameA(nullptr, exe, MAX_PATH);
             std::string command = std::string("\"") + exe + "\" --gtest_filter=Plugin.SaveKnowsItsOwnFileByContent";
             SetEnvironmentVariableA("PLEXA_SECOND_HOST", workDir_.c_str());
             STARTUPINFOA startup{};
             startup.cb = sizeof startup;
             PROCESS_INFORMATION process{};
             ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process));
             SetEnvironmentVariableA("PLEXA_SECOND_HOST", nullptr);
             EXPECT_EQ(WaitForSingleObject(ready, 60000), WAIT_OBJECT_0);
             edits(10);
             EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
             for (HANDLE handle : {process.hThread, process.hProcess, ready}) CloseHandle(handle);
             // Each host's last edit of each object is in NAME or kept aside.
             for (const char* name : {"defplx00", "defplx01"})
                 for (int last : {80, 170}) {
                     bool found = false;
                     for (const std::string& file : files())
                         found = found || (file.rfind(name, 0) == 0 &&
                                           readTextFile(file).find(green(last)) != std::string::npos);
                     EXPECT_TRUE(found) << name << " " << last;
                 }
             // Every file is a scene; every file the log names as kept is there.
             for (const std::string& file : files()) EXPECT_EQ(readTextFile(file).rfind("880\r\n", 0), 0u) << file;
             const std::string logged = readTextFile("error.txt");
             for (size_t at = logged.find("kept as "); at != std::string::npos; at = logged.find("kept as ", at + 1))
                 EXPECT_TRUE(fileExists(logged.substr(at + 8, logged.find('\r', at) - at - 8)));
             DeleteFileA("error.txt");
         },
         {}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.run();
        if (!c.left.empty()) {
            EXPECT_EQ(files(), c.left);
            EXPECT_EQ(fileExists("error.txt") ? readTextFile("error.txt") : "", c.logged);
        }
        for (const std::string& file : files()) DeleteFileA(file.c_str());
        DeleteFileA("error.txt");
    }
}

// Every line the plug-in writes binds again, those it had to cut short too:
// long picture names (kept, though the pictures are not there), a long
// shortcut and large numbers take a line past its limit at every length.
TEST_F(Plugin, EverySavedLineBindsAgainCutOrWhole) {
    const std::string big = "1e16,1e16,1e16";
    for (size_t shortcut = 200; shortcut <= 259; ++shortcut) {
        SCOPED_TRACE(shortcut);
        writeTextFile("defplx00.880", "880\nPLANE8 ORG[" + big + "] SIZE[" + big + "] TEXTURE[" +
                                          std::string(255, 't') + ".bmp] SKIN[" + std::string(251, 's') +
                                          ".bmp] SHORTCUT[" + std::string(shortcut, 'c') + "]\n");
        HostObject object(1);
        object.tag();
        bind(object);
        plugin_.StopPlugin(1);
        const std::string written = readTextFile("defplx00.880");
        bind(object);
        plugin_.StopPlugin(1);
        // Refused, the line would have given way to the default sphere.
        ASSERT_NE(readTextFile("defplx00.880").find("\nPLANE8 ORG[+1000000"), std::string::npos) << written;
    }
}

// ---------------------------------------------------------------- folders

// Files named wide, whatever the folder's characters and length.
std::wstring wide(const std::string& utf8) { return std::filesystem::u8path(utf8).wstring(); }
std::wstring longName(const std::wstring& name) { return name.size() < 248 ? name : L"\\\\?\\" + name; }
std::string readWide(const std::wstring& name) {
    std::string text;
    std::FILE* file = _wfopen(longName(name).c_str(), L"rb");
    for (int c; file && (c = std::fgetc(file)) != EOF;) text += static_cast<char>(c);
    if (file) std::fclose(file);
    return text;
}
void writeWide(const std::wstring& name, const std::string& text) {
    std::FILE* file = _wfopen(longName(name).c_str(), L"wb");
    ASSERT_TRUE(file && std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fclose(file) == 0);
}
std::wstring environment(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    return GetEnvironmentVariableW(name, value, MAX_PATH) < MAX_PATH ? value : L"";
}
// The folder that keeps a host folder's scenes under the user's own data.
std::wstring perUserFolder(const std::wstring& hostFolder) {
    const std::wstring scenes = environment(L"LOCALAPPDATA") + L"\\Plexa\\Scenes\\";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((scenes + hostFolder.substr(hostFolder.rfind(L'\\') + 1) + L"-*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return L"";
    FindClose(search);
    return scenes + found.cFileName + L"\\";
}

enum Kind { CyrillicHost, CyrillicPlugin, LongHost, Unwritable, WritableAgain };
const char* const kKindNames[] = {"CyrillicHost", "CyrillicPlugin", "LongHost", "Unwritable", "WritableAgain"};

class Folders : public PluginHost, public ::testing::WithParamInterface<Kind> {};

// Every folder a user may have keeps its scenes: the two objects' scenes are
// read there, a picture loads between them, two edits of the second end in
// its one file, with no side file, and the log lines are where the user is
// told they are.
TEST_P(Folders, KeepScenesInEveryKindOfFolder) {
    ASSERT_EQ(GetACP(), 1252u) << "the folders below are outside the ANSI code page only under 1252";
    const Kind kind = GetParam();
    const std::wstring work = wide(workDir_);
    std::wstring readOnly = environment(L"PLEXA_READONLY_FOLDER");
    for (wchar_t& c : readOnly) c = c == L'/' ? L'\\' : c;
    std::wstring host = work + L"\\Рабочий стол";
    std::string picture = workDir_ + "\\pic.bmp";
    if (kind == CyrillicPlugin) {
        const std::wstring plugin = work + L"\\Плагины";
        ASSERT_TRUE(CreateDirectoryW(plugin.c_str(), nullptr));
        ASSERT_TRUE(CopyFileW(wide(exeDirectory() + "plexa.dll").c_str(), (plugin + L"\\plexa.dll").c_str(), TRUE));
        loadPlugin(workDir_ + "\\Плагины\\plexa.dll");
        ASSERT_FALSE(HasFatalFailure());
        picture = "pic.bmp";   // relative to the plug-in's folder
        host = work + L"\\desktop";
    }
    if (kind == LongHost) host = work + L"\\" + std::wstring(250 - work.size() - 1, L'l');
    if (kind == Unwritable || kind == WritableAgain) {
        if (readOnly.empty() || GetFileAttributesW((readOnly + L"\\..\\refused").c_str()) != INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "no read-only folder could be mounted";
        host = readOnly;
    }
    // A red 1x1 bitmap: it loads into a texture.
    const char bmp[] = "BM\x3a\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0\0\0\0\0\x04\0\0\0"
                       "\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\xff\0";
    writeWide(kind == CyrillicPlugin ? work + L"\\Плагины\\pic.bmp" : work + L"\\pic.bmp",
              std::string(bmp, sizeof bmp - 1));

    const std::string gray = "880\nSPHERE6 RGB[0.5,0.5,0.5]\n";
    if (kind == Unwritable) {
        // What an earlier run left there for this folder is not this run's.
        std::filesystem::remove_all(perUserFolder(host));
    } else if (kind == WritableAgain) {
        // The share came back writable, its files as they were.
        ASSERT_FALSE(perUserFolder(host).empty()) << "the unwritable folder's run kept no scene per user";
        writeWide(host + L"\\defplx00.880", "880\nPLANE8 RGB[0.5,0.5,0.5]\n");
        writeWide(host + L"\\defplx01.880", gray);
    } else {
        ASSERT_TRUE(CreateDirectoryW(longName(host).c_str(), nullptr));
        writeWide(host + L"\\defplx00.880", "880\nPLANE8 TEXTURE[" + picture + "]\n");
        writeWide(host + L"\\defplx01.880", gray);
    }
    ASSERT_TRUE(SetCurrentDirectoryW(host.c_str()));

    HostObject first(1), second(2);
    for (HostObject* object : {&first, &second}) {
        object->tag();
        std::snprintf(reinterpret_cast<char*>(object->data.data() + host::object_data::kNameOffset), 76,
                      "defplx%02d.880", object->key - 1);
        bind(*object);
    }
    EXPECT_EQ(glIsTexture(1) == GL_TRUE, kind < Unwritable);   // the picture loaded
    // Back in a folder that takes files, the scene kept per user is shown
    // and saved there as it is.
    for (uint8_t blue : {1, 153}) {
        second.setColor(51, 102, blue);
        if (kind != WritableAgain) send(second, msg::kCommand, msg::kColorCommand, 0);
    }
    // One notice per library load, posted to the command window.
    int notices = 0;
    MSG posted;
    while (PeekMessageW(&posted, commandWindow(), WM_COMMAND, WM_COMMAND, PM_REMOVE)) notices += posted.wParam == 42;
    EXPECT_EQ(notices, kind == Unwritable ? 1 : 0);
    plugin_.StopPlugin(1);
    plugin_.StopPlugin(2);

    const std::wstring perUser = perUserFolder(host);
    const std::wstring keptIn = kind == Unwritable ? perUser : host + L"\\";
    const std::string saved = readWide(keptIn + L"defplx01.880");
    EXPECT_NE(saved.find("SPHERE6 ORG[+0.00,+0.00,+0.00] SIZE[+1.00,+1.00,+1.00] ROT[0.000000,0.000000,0.000000] "
                         "RGB[+0.20,+0.40,+0.60]"),
              std::string::npos)
        << saved;
    for (const wchar_t* side : {L"defplx01.880.kept", L"defplx01.880.pending", L"defplx01.880.new"})
        EXPECT_EQ(GetFileAttributesW(longName(keptIn + side).c_str()), INVALID_FILE_ATTRIBUTES) << side;
    if (kind == Unwritable) {
        EXPECT_EQ(readWide(host + L"\\defplx01.880"), gray);
        EXPECT_NE(saved.find("\r\n//replaces "), std::string::npos) << saved;
        EXPECT_EQ(readWide(perUser + L"error.txt").rfind("[Numerical Recipes run-time error...]\r\nscenes kept in C:\\", 0), 0u);
    } else {
        EXPECT_TRUE(perUser.empty() || GetFileAttributesW((perUser + L"defplx01.880").c_str()) == INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(readWide(keptIn + L"error.txt"), "");
    }
    SetCurrentDirectoryW(work.c_str());
}

INSTANTIATE_TEST_SUITE_P(Each, Folders, ::testing::Values(CyrillicHost, CyrillicPlugin, LongHost, Unwritable, WritableAgain),
                         [](const ::testing::TestParamInfo<Kind>& row) { return kKindNames[row.param]; });

}  // namespace
}  // namespace plexa::wintest

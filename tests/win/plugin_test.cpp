// The plug-in as a host sees it: binding, naming, probing, saving and message
// dispatch through the real exports, with a real window and OpenGL context.
// Every test case runs in a fresh process, so library state starts unset.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cstring>
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

TEST_F(Plugin, NewDataBlockRedirectsTheSceneFileName) {
    HostObject object(4);
    bind(object);
    HostObject moved(4);
    moved.data = object.data;
    std::strcpy(reinterpret_cast<char*>(moved.data.data() + host::object_data::kNameOffset), "moved.880");
    EXPECT_EQ(send(object, msg::kNewObjectData, 0, reinterpret_cast<intptr_t>(moved.data.data())), 0);
    EXPECT_EQ(send(object, msg::kNewObjectData, 0, 0), 0);   // a null block is ignored
    object.data.fill(0xAA);                                   // the old block is no longer read
    plugin_.StopPlugin(4);
    EXPECT_TRUE(fileExists("moved.880"));
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
    // objects[18] still saves to defplx18.880: the first name nobody bound
    // saves to is defplx22.880, left by objects[22].
    HostObject late(2000);
    bind(late);
    EXPECT_EQ(late.sceneName(), "defplx22.880");
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

// Each way a save can fail leaves the scene file the user had, and says so.
TEST_F(Plugin, FailedSavesKeepTheOldSceneFileAndLog) {
    const std::string old = "880\nPLANE8 RGB[0,1,0]\n";
    const std::string failure = "[Numerical Recipes run-time error...]\r\ncannot save scene file defplx00.880\r\n";
    const auto saveOnce = [&](const char* what, bool newIsADirectory) {
        SCOPED_TRACE(what);
        DeleteFileA("error.txt");
        HostObject object(1);
        object.tag();
        bind(object);
        object.setColor(255, 0, 0);
        send(object, msg::kCommand, msg::kColorCommand, 0);
        plugin_.StopPlugin(1);
        EXPECT_EQ(readTextFile(workDir_ + "\\defplx00.880"), old);
        EXPECT_EQ(readTextFile(workDir_ + "\\error.txt"), failure);
        EXPECT_TRUE(fileExists(workDir_ + "\\defplx00.880.new") == newIsADirectory);
    };
    writeTextFile("defplx00.880", old);
    ASSERT_TRUE(SetFileAttributesA("defplx00.880", FILE_ATTRIBUTE_READONLY));
    saveOnce("a read-only scene file", false);
    ASSERT_TRUE(SetFileAttributesA("defplx00.880", FILE_ATTRIBUTE_NORMAL));

    ASSERT_TRUE(CreateDirectoryA("defplx00.880.new", nullptr));   // as if creating it were denied
    saveOnce("a directory in the way of the new file", true);
    ASSERT_TRUE(RemoveDirectoryA("defplx00.880.new"));
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
// replaced by the default sphere's scene, so it is kept aside first.
TEST_F(Plugin, UnreadableSceneFileIsKeptAsideBeforeItIsReplaced) {
    const std::string marked = "\xEF\xBB\xBF" "880\nPLANE8 RGB[0,1,0]\n";
    writeTextFile("defplx00.880", marked);
    HostObject object(1);
    object.tag();
    bind(object);
    plugin_.StopPlugin(1);
    EXPECT_EQ(readTextFile("defplx00.880.bad"), marked);
    EXPECT_EQ(readTextFile("defplx00.880").rfind("880\r\n", 0), 0u);
    EXPECT_EQ(readTextFile("error.txt"), "[Numerical Recipes run-time error...]\r\n"
                                         "scene file defplx00.880 unreadable, kept as defplx00.880.bad\r\n");
}

// Only the very file found unreadable is kept aside, and only while a save
// would replace it; any other file in its place is saved over as usual.
TEST_F(Plugin, UnreadableFileIsKeptAsideOnlyWhileItIsInTheWay) {
    const std::string marked = "\xEF\xBB\xBF" "880\nPLANE8\n";
    const std::string log = "[Numerical Recipes run-time error...]\r\n";
    const auto bindTagged = [&](HostObject& object) {
        object.tag();
        bind(object);
    };
    ASSERT_TRUE(CreateDirectoryA("desk", nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA("desk"));   // the host directory

    // Found only in the parent directory: saved here, the parent's left alone.
    writeTextFile("..\\defplx00.880", marked);
    HostObject fromParent(1);
    bindTagged(fromParent);
    plugin_.StopPlugin(1);
    EXPECT_EQ(readTextFile("..\\defplx00.880"), marked);
    EXPECT_NE(readTextFile("defplx00.880").find("SPHERE24 "), std::string::npos);
    EXPECT_FALSE(fileExists("error.txt"));
    DeleteFileA("..\\defplx00.880");

    // Deleted while bound: nothing is in the way.
    writeTextFile("defplx00.880", marked);
    HostObject deleted(2);
    bindTagged(deleted);
    ASSERT_TRUE(DeleteFileA("defplx00.880"));
    plugin_.StopPlugin(2);
    EXPECT_NE(readTextFile("defplx00.880").find("SPHERE24 "), std::string::npos);
    EXPECT_FALSE(fileExists("defplx00.880.bad"));
    EXPECT_FALSE(fileExists("error.txt"));

    // Read at binding from another current directory: the host directory's
    // file of that name is a scene of its own, replaced and never called
    // unreadable.
    ASSERT_TRUE(CreateDirectoryA("other", nullptr));
    HostObject keeper(3);
    bindTagged(keeper);   // defplx00.880 stays bound
    ASSERT_TRUE(SetCurrentDirectoryA("other"));
    writeTextFile("defplx01.880", marked);
    HostObject elsewhere(4);
    bindTagged(elsewhere);
    ASSERT_TRUE(SetCurrentDirectoryA(".."));
    writeTextFile("defplx01.880", "880\nPLANE4\n");
    plugin_.StopPlugin(4);
    EXPECT_FALSE(fileExists("defplx01.880.bad"));
    EXPECT_EQ(readTextFile("other\\defplx01.880"), marked);
    EXPECT_FALSE(fileExists("error.txt"));
    plugin_.StopPlugin(3);

    // A read-only one is neither moved nor replaced, as no read-only scene
    // file is.
    writeTextFile("defplx00.880", marked);
    ASSERT_TRUE(SetFileAttributesA("defplx00.880", FILE_ATTRIBUTE_READONLY));
    HostObject readOnly(5);
    bindTagged(readOnly);
    plugin_.StopPlugin(5);
    ASSERT_TRUE(SetFileAttributesA("defplx00.880", FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(readTextFile("defplx00.880"), marked);
    EXPECT_FALSE(fileExists("defplx00.880.bad"));
    EXPECT_EQ(readTextFile("error.txt"), log + "cannot save scene file defplx00.880\r\n");
    DeleteFileA("error.txt");

    // A new data block that names the same file keeps it marked.
    HostObject moved(6);
    bindTagged(moved);
    HostObject copy(6);
    copy.data = moved.data;
    send(moved, msg::kNewObjectData, 0, reinterpret_cast<intptr_t>(copy.data.data()));
    plugin_.StopPlugin(6);
    EXPECT_EQ(readTextFile("defplx00.880.bad"), marked);
    EXPECT_EQ(readTextFile("error.txt"), log + "scene file defplx00.880 unreadable, kept as defplx00.880.bad\r\n");
}

}  // namespace
}  // namespace plexa::wintest

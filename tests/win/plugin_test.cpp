// The plug-in as a host sees it: binding, naming, probing, saving and message
// dispatch through the real exports, with a real window and OpenGL context.
// Every test case runs in a fresh process, so library state starts unset.
#include <gtest/gtest.h>

#include <GL/gl.h>

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

}  // namespace
}  // namespace plexa::wintest

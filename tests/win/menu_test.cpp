// The popup menu and its commands end to end: the real command window, the
// real menu resource, real message boxes and file dialogs, and the scene file
// each edit leaves behind.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "plugin_host.h"

namespace plexa::wintest {
namespace {

namespace msg = host::messages;

// Item states of the popup as the menu loop shows it, read when the menu asks
// its owner to prepare it, then the menu is closed without a choice.
class MenuWatcher {
public:
    MenuWatcher() {
        self_ = this;
        hook_ = SetWindowsHookExA(WH_CALLWNDPROC, hookProc, nullptr, GetCurrentThreadId());
    }
    ~MenuWatcher() {
        UnhookWindowsHookEx(hook_);
        self_ = nullptr;
    }
    struct Item {
        std::string text;
        bool grayed;
        bool checked;
    };
    std::vector<UINT> ids;             // in menu order, separators as 0xFFFFFFFF
    std::map<UINT, Item> items;
    int shown = 0;

private:
    static LRESULT CALLBACK hookProc(int code, WPARAM wParam, LPARAM lParam) {
        const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && self_) {
            if (call->message == WM_INITMENUPOPUP) self_->read(reinterpret_cast<HMENU>(call->wParam));
            if (call->message == WM_ENTERIDLE) EndMenu();
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    void read(HMENU menu) {
        ++shown;
        ids.clear();
        items.clear();
        for (int i = 0; i < GetMenuItemCount(menu); ++i) {
            const UINT id = GetMenuItemID(menu, i);
            const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
            if (state & MF_SEPARATOR) {
                ids.push_back(0xFFFFFFFF);
                continue;
            }
            char text[64] = {};
            GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
            ids.push_back(id);
            items[id] = {text, (state & MF_GRAYED) != 0, (state & MF_CHECKED) != 0};
        }
    }
    static MenuWatcher* self_;
    HHOOK hook_ = nullptr;
};
MenuWatcher* MenuWatcher::self_ = nullptr;

class Menu : public PluginHost {
protected:
    // Binds a tagged object whose scene file holds `line`, clearing the About request.
    void bindWith(HostObject& object, const std::string& line, int number = 0) {
        char name[32];
        snprintf(name, sizeof name, "defplx%02d.880", number);
        writeTextFile(name, "880\n" + line + "\n");
        object.tag();
        bind(object);
    }
    void command(UINT id) { SendMessageA(commandWindow(), WM_COMMAND, id, 0); }
    // The block line saved when the object is unbound.
    std::string savedLine(const HostObject& object, int number = 0) {
        plugin_.StopPlugin(object.key);
        char name[32];
        snprintf(name, sizeof name, "defplx%02d.880", number);
        const std::string file = readTextFile(name);
        const size_t header = file.find("\r\n\r\n", file.find("//kind"));
        std::string line = file.substr(header + 4);
        return line.substr(0, line.find("\r\n"));
    }
    void openMenuAt(const HostObject& object, int x, int y) {
        EXPECT_EQ(send(object, msg::kRightButtonDown, 0, MAKELPARAM(x, y)), 1);
        pumpMessages();
    }
    static void writeBitmap(const std::string& path, uint8_t b, uint8_t g, uint8_t r) {
        // 2 x 2 pixels, 24 bits, rows padded to 8 bytes.
        uint8_t file[54 + 16] = {'B', 'M'};
        auto put32 = [&](int at, uint32_t v) { std::memcpy(file + at, &v, 4); };
        put32(2, sizeof file);
        put32(10, 54);
        put32(14, 40);
        put32(18, 2);
        put32(22, 2);
        file[26] = 1;
        file[28] = 24;
        for (int row = 0; row < 2; ++row)
            for (int px = 0; px < 2; ++px) {
                uint8_t* p = file + 54 + row * 8 + px * 3;
                p[0] = b, p[1] = g, p[2] = r;
            }
        writeTextFile(path, std::string(reinterpret_cast<char*>(file), sizeof file));
    }
    DialogRecorder dialogs_;
};

TEST_F(Menu, ResourceHoldsEveryItemInOrder) {
    HostObject object(1);
    bindWith(object, "SPHERE24");
    MenuWatcher menu;
    openMenuAt(object, 100, 80);
    ASSERT_EQ(menu.shown, 1);
    const UINT sep = 0xFFFFFFFF;
    const std::vector<UINT> expected = {0,  sep, 102, 103, sep, 21, 20, sep, 32, 25, sep, 31, 24, 22, 23, sep, 36,
                                        sep, 26, 27, 28, 35, 34, sep, 30, 29, sep, 100, 101, sep, 40, 41, sep, 33};
    EXPECT_EQ(menu.ids, expected);
    const std::map<UINT, std::string> texts = {
        {0, "Plexa"}, {102, "Undo"}, {103, "Redo"}, {21, "Plane"}, {20, "Sphere"}, {32, "Choose Color"}, {25, "No Color"},
        {31, "Choose Material"}, {24, "Zoom In Material"}, {22, "Zoom Out Material"}, {23, "No Material"},
        {36, "Translucent"}, {26, "Choose Skin"}, {27, "More Skin"}, {28, "Less Skin"}, {35, "Invers Skin"},
        {34, "No Skin"}, {30, "Finer"}, {29, "Rougher"}, {100, "ShortCut to.."}, {101, "No ShortCut"},
        {40, "Help..."}, {41, "About.."}, {33, "Exit"}};
    for (const auto& [id, text] : texts) EXPECT_EQ(menu.items[id].text, text) << id;
    EXPECT_TRUE(menu.items[0].grayed);
    EXPECT_TRUE(menu.items[102].grayed);   // nothing to undo or redo yet
    EXPECT_TRUE(menu.items[103].grayed);
    plugin_.StopPlugin(1);
}

TEST_F(Menu, OpensWithTheSelectedBlocksStates) {
    HostObject plane(1), sphere(2), finest(3);
    bindWith(plane, "PLANE1 TRANS[-3]", 0);
    bindWith(sphere, "SPHERE8 TRANS[0.5]", 1);
    bindWith(finest, "SPHERE1024", 2);
    MenuWatcher menu;

    openMenuAt(plane, 10, 10);
    EXPECT_TRUE(menu.items[30].grayed);    // Finer at fineness 1
    EXPECT_TRUE(menu.items[29].grayed);
    EXPECT_TRUE(menu.items[21].checked);
    EXPECT_FALSE(menu.items[20].checked);
    EXPECT_FALSE(menu.items[36].checked);  // negative translucency

    openMenuAt(sphere, 10, 10);
    EXPECT_FALSE(menu.items[30].grayed);
    EXPECT_TRUE(menu.items[29].grayed);    // Rougher at 8
    EXPECT_TRUE(menu.items[20].checked);
    EXPECT_TRUE(menu.items[36].checked);

    openMenuAt(finest, 10, 10);
    EXPECT_TRUE(menu.items[30].grayed);    // Finer at the ceiling
    EXPECT_FALSE(menu.items[29].grayed);

    // Choose Color's mark follows the instance's flag, flipped by each use.
    command(32);
    openMenuAt(finest, 10, 10);
    EXPECT_TRUE(menu.items[32].checked);
    command(32);
    openMenuAt(finest, 10, 10);
    EXPECT_FALSE(menu.items[32].checked);
    EXPECT_EQ(menu.shown, 5);

    // With Shift the host shows its own menu: nothing opens here.
    EXPECT_EQ(send(plane, msg::kRightButtonDown, msg::kShiftKey, 0), 0);
    pumpMessages();
    EXPECT_EQ(menu.shown, 5);
}

TEST_F(Menu, FinenessCommands) {
    struct Case {
        std::string line;
        UINT id;
        std::string kind;
    } cases[] = {
        {"PLANE20", 29, "PLANE10 "}, {"PLANE17", 29, "PLANE8 "},  {"SPHERE8", 30, "SPHERE16 "},
        {"SPHERE16", 29, "SPHERE8 "}, {"SPHERE12", 30, "SPHERE24 "}, {"SPHERE1024", 30, "SPHERE1024 "},
        {"SPHERE768", 30, "SPHERE1024 "}, {"SPHERE4", 29, "SPHERE8 "},
    };
    for (const Case& c : cases) {
        HostObject object(1);
        bindWith(object, c.line);
        command(c.id);
        EXPECT_EQ(savedLine(object).substr(0, c.kind.size()), c.kind) << c.line;
    }
}

TEST_F(Menu, ShapeColourMaterialAndSkinCommands) {
    HostObject object(1);
    bindWith(object, "SPHERE24 RGB[0.2,0.3,0.4] DENS[2] SKINSCALE[0.3] TRANS[-2]");
    command(21);   // Plane keeps the fineness
    command(25);   // No Color
    command(22);   // Zoom Out: density doubled
    command(22);
    command(24);   // Zoom In: halved
    command(35);   // Invers Skin twice restores the scale exactly
    command(35);
    command(27);   // More Skin
    command(36);   // Translucent on a negative translucency gives 1
    const std::string line = savedLine(object);
    EXPECT_EQ(line.substr(0, 8), "PLANE24 ");
    EXPECT_NE(line.find("RGB[+1.00,+1.00,+1.00]"), std::string::npos) << line;
    EXPECT_NE(line.find("DENS[4.0000]"), std::string::npos) << line;
    EXPECT_NE(line.find("SKINSCALE[0.6000]"), std::string::npos) << line;
    EXPECT_NE(line.find("TRANS[1]"), std::string::npos) << line;
}

TEST_F(Menu, ExtremeZoomStaysFinite) {
    HostObject object(1);
    bindWith(object, "SPHERE24 DENS[3e38] SKINSCALE[-3e38]");
    for (int i = 0; i < 4; ++i) {
        command(22);
        command(27);
    }
    const std::string line = savedLine(object);
    EXPECT_EQ(line.find("inf"), std::string::npos) << line;
    EXPECT_NE(line.find("DENS[340282346638528859811704183484516925440.0000]"), std::string::npos) << line;
}

TEST_F(Menu, ColourAndExitAreRequestsToTheHost) {
    HostObject object(-5);
    bindWith(object, "SPHERE24");
    window_.clearReceivedMessages();
    command(32);
    command(33);
    pumpMessages();
    const auto& received = window_.receivedMessages();
    ASSERT_EQ(received.size(), 2u);
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_COMMAND));
    EXPECT_EQ(received[0].wParam, 2041u);
    EXPECT_EQ(received[0].lParam, -5);   // the key, sign-extended
    EXPECT_EQ(received[1].message, 1086u);
    EXPECT_EQ(static_cast<int64_t>(received[1].wParam), -5);
    EXPECT_EQ(received[1].lParam, 0);
    plugin_.StopPlugin(-5);
}

TEST_F(Menu, HelpAndAboutBoxes) {
    HostObject greeted(1);
    bind(greeted);   // new to the plug-in: the About request is waiting
    pumpMessages();
    ASSERT_EQ(dialogs_.dialogs().size(), 1u);
    EXPECT_EQ(dialogs_.dialogs()[0].caption, "Plexa");
    const std::string about = dialogs_.dialogs()[0].text;
    EXPECT_EQ(about.rfind("      Plexa\n", 0), 0u) << about;
    EXPECT_NE(about.find("\nusing: " + workDir_ + "\\defplx00.880"), std::string::npos) << about;
    EXPECT_EQ(about.find("Shortcut"), std::string::npos);
    EXPECT_EQ(GetActiveWindow(), window_.hwnd());

    command(40);
    ASSERT_EQ(dialogs_.dialogs().size(), 2u);
    EXPECT_EQ(dialogs_.dialogs()[1].caption, "Plexa");
    EXPECT_EQ(dialogs_.dialogs()[1].text,
              "- Right Button for the menu, +shift for Zelvan's menu\t\n- Move the Object with your Mouse or "
              "Cursor Key's\t\n\tas Zelvan objects \n");

    HostObject linked(2);
    bindWith(linked, "SPHERE24 SHORTCUT[docs\\notes.txt]", 1);
    command(41);
    ASSERT_EQ(dialogs_.dialogs().size(), 3u);
    EXPECT_NE(dialogs_.dialogs()[2].text.find("\nShortcut (rel:dll): docs\\notes.txt"), std::string::npos);

    // Without a current instance only the banner is shown.
    plugin_.StopPlugin(2);
    command(41);
    ASSERT_EQ(dialogs_.dialogs().size(), 4u);
    EXPECT_EQ(dialogs_.dialogs()[3].text.find("using:"), std::string::npos);
    EXPECT_EQ(dialogs_.dialogs()[3].text.rfind("      Plexa\n", 0), 0u);
    plugin_.StopPlugin(1);
}

TEST_F(Menu, AboutTextIsCutToItsBuffer) {
    HostObject object(1);
    bindWith(object, "SPHERE24 SHORTCUT[" + std::string(250, 's') + "]");
    command(41);
    ASSERT_EQ(dialogs_.dialogs().size(), 1u);
    EXPECT_EQ(dialogs_.dialogs()[0].text.size(), 255u);
    plugin_.StopPlugin(1);
}

TEST_F(Menu, CommandsWithoutACurrentInstanceDoNothing) {
    HostObject kept(1), stopped(2);
    bindWith(kept, "SPHERE8", 0);
    command(30);             // an edit Undo could take back, were it current
    bindWith(stopped, "SPHERE8", 1);
    plugin_.StopPlugin(2);   // it was current
    window_.clearReceivedMessages();
    for (UINT id : {20u, 21u, 22u, 23u, 24u, 25u, 27u, 28u, 29u, 30u, 32u, 33u, 34u, 35u, 36u, 101u, 102u, 103u, 513u})
        command(id);
    pumpMessages();
    EXPECT_TRUE(window_.receivedMessages().empty());
    EXPECT_EQ(savedLine(kept).substr(0, 9), "SPHERE16 ");
}

// Each item of an open-file dialog's file-type list (cmb1), read as the
// dialog takes its first posted message, with its pattern: Wine keeps that as
// the item's data, a wide string (elsewhere the list is read without it).
struct FilterReader {
    static inline HWND chooser = nullptr;
    static inline std::vector<std::vector<std::string>> filters;
    static inline const bool wine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    static LRESULT CALLBACK onMessage(int code, WPARAM removed, LPARAM message) {
        const HWND dialog = reinterpret_cast<const MSG*>(message)->hwnd;
        if (code == HC_ACTION && removed == PM_REMOVE && chooser && dialog == chooser) {
            chooser = nullptr;
            std::vector<std::string>& items = filters.emplace_back();
            const HWND types = GetDlgItem(dialog, 0x470);
            for (LRESULT i = 0, n = SendMessageA(types, CB_GETCOUNT, 0, 0); i < n; ++i) {
                char text[128] = {}, pattern[128] = {};
                SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
                if (wine)
                    WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<const wchar_t*>(SendMessageA(types, CB_GETITEMDATA, i, 0)),
                                        -1, pattern, sizeof pattern, nullptr, nullptr);
                items.push_back(std::string(text) + " | " + pattern);
            }
        }
        return CallNextHookEx(nullptr, code, removed, message);
    }
    HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, onMessage, nullptr, GetCurrentThreadId());
    ~FilterReader() { UnhookWindowsHookEx(hook); }
};

TEST_F(Menu, ChoosersThroughTheirDialogs) {
    HostObject object(1);
    bindWith(object, "PLANE8");
    const std::string picture = workDir_ + "\\stone.bmp";
    writeBitmap(picture, 10, 20, 200);
    std::vector<std::string> titles;
    // The file-type list of each image chooser, read when the dialog takes
    // its answer (at activation it is not filled yet).
    FilterReader reader;
    dialogs_.setResponder([&](HWND dialog, const RecordedDialog& seen) {
        titles.push_back(seen.caption);
        if (seen.caption.rfind("Get ", 0) == 0) FilterReader::chooser = dialog;
        if (seen.caption == "Get Skin Bitmap") return IDCANCEL;
        SetWindowTextA(GetDlgItem(dialog, 0x47c), picture.c_str());
        return IDOK;
    });
    command(31);   // Choose Material: confirmed
    command(26);   // Choose Skin: cancelled, nothing changes
    command(100);  // ShortCut to..: confirmed
    ASSERT_EQ(titles.size(), 3u);
    EXPECT_EQ(titles[0], "Get Material Bitmap");
    EXPECT_EQ(titles[1], "Get Skin Bitmap");
    EXPECT_EQ(titles[2], "Set Block as ShortCut to..");
    const bool w = FilterReader::wine;
    const std::vector<std::string> expected = {
        "Supported Files (*.bmp;*.jpg;*.jpeg;*.jfif;*.png) | " + std::string(w ? "*.bmp;*.jpg;*.jpeg;*.jfif;*.png" : ""),
        "Windows BitMap  (*.bmp) | " + std::string(w ? "*.bmp" : ""),
        "JPEG-JFIF compliant (*.jpg;*.jpeg;*.jfif) | " + std::string(w ? "*.jpg;*.jpeg;*.jfif" : ""),
        "PNG (*.png) | " + std::string(w ? "*.png" : "")};
    EXPECT_EQ(FilterReader::filters, (std::vector<std::vector<std::string>>{expected, expected}));
    const std::string line = savedLine(object);
    // Another drive than the plug-in's, or a path relative to it.
    EXPECT_NE(line.find("TEXTURE["), std::string::npos);
    EXPECT_EQ(line.find("TEXTURE[ ]"), std::string::npos) << line;
    EXPECT_NE(line.find("stone.bmp] DENS"), std::string::npos) << line;
    EXPECT_NE(line.find("SKIN[ ]"), std::string::npos) << line;
    EXPECT_NE(line.find("stone.bmp] TRANS"), std::string::npos) << line;
}

// A picture already reported from a scene file is still reported each time
// the user chooses it.
TEST_F(Menu, AChosenPictureThatCannotBeReadIsAlwaysReported) {
    const std::string picture = workDir_ + "\\not-a-picture.jpg";
    writeTextFile(picture, "GIF89a");
    HostObject object(1);
    std::vector<std::string> captions;
    dialogs_.setResponder([&](HWND dialog, const RecordedDialog& seen) {
        captions.push_back(seen.caption);
        if (seen.caption == "Get Material Bitmap") SetWindowTextA(GetDlgItem(dialog, 0x47c), picture.c_str());
        return IDOK;
    });
    bindWith(object, "PLANE8 TEXTURE[" + picture + "]");
    command(31);
    command(31);
    const std::vector<std::string> expected = {"JPEG BIG BUG", "Get Material Bitmap", "JPEG BIG BUG",
                                               "Get Material Bitmap", "JPEG BIG BUG"};
    EXPECT_EQ(captions, expected);
    plugin_.StopPlugin(1);
}

TEST_F(Menu, NoShortcutAndNoMaterialClear) {
    HostObject object(1);
    bindWith(object, "SPHERE24 SHORTCUT[a.txt]");
    command(101);
    command(23);
    command(34);
    const std::string line = savedLine(object);
    EXPECT_NE(line.find("SHORTCUT[ ]"), std::string::npos) << line;
    EXPECT_NE(line.find("TEXTURE[ ]"), std::string::npos);
}

TEST_F(Menu, UndoAndRedoEveryEdit) {
    const std::string picture = workDir_ + "\\stone.bmp";
    writeBitmap(picture, 10, 20, 200);
    dialogs_.setResponder([&](HWND dialog, const RecordedDialog&) {
        SetWindowTextA(GetDlgItem(dialog, 0x47c), picture.c_str());
        return IDOK;
    });
    MenuWatcher menu;
    auto scene = [] { return readTextFile("defplx00.880"); };
    auto undoRedo = [&](HostObject& object) {
        openMenuAt(object, 10, 10);
        auto shown = [&](UINT id) { return menu.items[id].text + (menu.items[id].grayed ? " (grayed)" : ""); };
        return shown(102) + ", " + shown(103);
    };
    struct Case {
        UINT id;
        std::string name, line;
    } cases[] = {
        {20, "Sphere", "PLANE24"}, {21, "Plane", "SPHERE24"}, {22, "Zoom Out Material", "SPHERE24"},
        // A picture that could not be loaded comes back by its name, with no box.
        {23, "No Material", "SPHERE24 TEXTURE[gone.jpg]"}, {24, "Zoom In Material", "SPHERE24"},
        {25, "No Color", "SPHERE24 RGB[0.2,0.3,0.4]"}, {26, "Choose Skin", "PLANE20"},
        {27, "More Skin", "SPHERE24"}, {28, "Less Skin", "SPHERE24"}, {29, "Rougher", "SPHERE24"},
        {30, "Finer", "SPHERE24"}, {31, "Choose Material", "SPHERE24"}, {34, "No Skin", "PLANE20 SKIN[gone.jpg]"},
        {35, "Invers Skin", "SPHERE24"}, {36, "Translucent", "SPHERE24"}, {100, "ShortCut to..", "SPHERE24"},
        {101, "No ShortCut", "SPHERE24 SHORTCUT[a.txt]"}, {2041, "Color", "SPHERE24"},
    };
    for (const Case& c : cases) {
        HostObject object(1);
        bindWith(object, c.line);
        plugin_.StopPlugin(1);   // the scene as the plug-in writes it
        const std::string before = scene();
        bind(object);
        object.setColor(255, 128, 0);
        if (c.id == 2041)
            send(object, msg::kCommand, msg::kColorCommand, 0);
        else
            command(c.id);
        const std::string after = scene();
        ASSERT_NE(after, before) << c.name;
        EXPECT_EQ(undoRedo(object), "Undo " + c.name + ", Redo (grayed)");
        const size_t boxes = dialogs_.dialogs().size();
        command(102);
        EXPECT_EQ(scene(), before) << c.name;
        EXPECT_EQ(undoRedo(object), "Undo (grayed), Redo " + c.name);
        command(103);
        EXPECT_EQ(scene(), after) << c.name;
        EXPECT_EQ(dialogs_.dialogs().size(), boxes) << c.name;
        // A new edit after an Undo leaves nothing to redo.
        command(102);
        command(c.id == 30 ? 29 : 30);
        EXPECT_EQ(undoRedo(object), c.id == 30 ? "Undo Rougher, Redo (grayed)" : "Undo Finer, Redo (grayed)");
        plugin_.StopPlugin(1);
    }

    // At most 100 steps: 150 edits, each a colour of its own, then 100 Undo
    // reach the scene after the 50th; one more changes nothing.
    HostObject object(1);
    bindWith(object, "SPHERE24");
    std::string fiftieth;
    for (int i = 0; i < 150; ++i) {
        object.setColor(static_cast<uint8_t>(i % 10 * 25), static_cast<uint8_t>(i / 10 * 15), 0);
        send(object, msg::kCommand, msg::kColorCommand, 0);
        if (i == 49) fiftieth = scene();
    }
    for (int i = 0; i < 101; ++i) command(102);
    EXPECT_EQ(scene(), fiftieth);
    plugin_.StopPlugin(1);
}

}  // namespace
}  // namespace plexa::wintest

// The hidden command window: it owns the popup menu and the plug-in's message
// boxes, and carries out the menu's commands on the current instance's
// selected block (platform side).
//
// [X] class "Plexa", hidden WS_POPUP window owned by the host window
// [X] menu "PopMenu" loaded at creation, destroyed with the window
// [X] every menu command, with its check marks and grayed states; an edit is
//     saved as soon as it is made
// [X] the popup request, the Help box and the About box
// [X] the notice that scenes are kept in the per-user folder
// [X] a command re-finds its block after every modal dialog: the host may
//     unbind the instance while a chooser or box is open
// [X] nothing thrown below reaches the host; out of memory, an edit is not made
// [X] Undo and Redo, named after the step they would take back or bring back
#include "host/command_window.h"

#include <windows.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <new>

#include "geometry/mesh.h"
#include "geometry/skin.h"
#include "host/edit_history.h"
#include "host/guard.h"
#include "host/instance_table.h"
#include "host/library_state.h"
#include "host/shortcut.h"
#include "image/caches.h"
#include "render/transform.h"
#include "scene/scene_file.h"

namespace plexa::host {

namespace {

constexpr const char* kClassName = "Plexa";
constexpr const char* kWindowTitle = "Popup Menu Not Visible";
constexpr const char* kCaption = "Plexa";

constexpr const char* kHelpText =
    "- Right Button for the menu, +shift for Zelvan's menu\t\n"
    "- Move the Object with your Mouse or Cursor Key's\t\n"
    "\tas Zelvan objects \n";

// The About banner; the scene file and shortcut lines follow it.
constexpr const char* kAboutBanner =
    "      Plexa\n"
    "Spheres and planes for a 3D desktop\n"
    "Made by the Plexa project\n"
    "Built from its own sources, with libjpeg-turbo";

enum Command : UINT {
    kSphere = 20, kPlane = 21, kZoomOutMaterial = 22, kNoMaterial = 23, kZoomInMaterial = 24, kNoColor = 25,
    kChooseSkin = 26, kMoreSkin = 27, kLessSkin = 28, kRougher = 29, kFiner = 30, kChooseMaterial = 31,
    kChooseColor = 32, kExit = 33, kNoSkin = 34, kInversSkin = 35, kTranslucent = 36, kHelp = 40, kAbout = 41,
    kChooseShortcut = 100, kNoShortcut = 101, kUndo = 102, kRedo = 103, kOpenPopup = 513,
};

HMENU g_popupMenu = nullptr;
HMENU g_popupItems = nullptr;

HWND hostWindow() { return static_cast<HWND>(library().hostWindow); }
HWND commandWindow() { return static_cast<HWND>(library().commandWindow); }

scene::Block* selectedBlock() {
    PluginInstance* instance = instances().current();
    return instance ? instance->scene->selected : nullptr;
}

// The block is still the current instance's selected one (a modal dialog
// lets the host run, and it may have unbound the instance meanwhile).
bool stillSelected(const scene::Block* block) { return block && selectedBlock() == block; }

// Products stored back into a float field stay finite: a double beyond the
// float range has no float value at all.
float toFloat(double value) {
    if (value > FLT_MAX) return FLT_MAX;
    if (value < -FLT_MAX) return -FLT_MAX;
    return static_cast<float>(value);
}

void check(UINT item, bool checked) {
    if (g_popupItems) CheckMenuItem(g_popupItems, item, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

void enable(UINT item, bool enabled) {
    if (g_popupItems) EnableMenuItem(g_popupItems, item, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void reskin(scene::Block& block, int64_t skin) {
    geometry::applySkin(block, skin);
    render::refresh(block);
}

void changeKind(scene::BlockKind kind) {
    if (scene::Block* block = selectedBlock()) {
        block->kind = kind;
        block->rebuildMesh();
        reskin(*block, -1);
    }
    check(kPlane, kind == scene::PLANE);
    check(kSphere, kind == scene::SPHERE);
}

void showHelp() { MessageBoxA(commandWindow(), kHelpText, kCaption, MB_ICONEXCLAMATION); }

void showAbout() {
    char text[256];
    int length = std::snprintf(text, sizeof text, "%s", kAboutBanner);
    if (PluginInstance* instance = instances().current()) {
        if (length >= 0 && static_cast<size_t>(length) < sizeof text)
            length += std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "\nusing: %s%s",
                                    library().hostDirectory, instance->sceneFileName);
        const scene::Block* block = instance->scene->selected;
        if (block && block->shortcut[0] && length >= 0 && static_cast<size_t>(length) < sizeof text)
            std::snprintf(text + length, sizeof text - static_cast<size_t>(length), "\nShortcut (rel:dll): %s",
                          block->shortcut);
    }
    // snprintf has cut whatever did not fit the 256 bytes.
    MessageBoxA(commandWindow(), text, kCaption, MB_ICONINFORMATION);
    SetActiveWindow(hostWindow());
}

void showPerUserNotice() {
    const std::wstring text = L"The folder\n" + library().hostFolder +
                              L"\ncannot be written. Until it can, Plexa keeps the scenes of its objects in\n" +
                              library().perUserFolder;
    MessageBoxW(commandWindow(), text.c_str(), L"Plexa", MB_ICONINFORMATION);
    SetActiveWindow(hostWindow());
}

// "Undo No Material": the verb and the menu text of the step's command, or
// the plain verb, grayed, when there is no step.
void nameStep(UINT item, const char* verb, uint32_t command) {
    char name[64] = "";
    if (command == messages::kColorCommand)
        std::snprintf(name, sizeof name, "Color");
    else if (command != 0)
        GetMenuStringA(g_popupItems, command, name, sizeof name, MF_BYCOMMAND);
    char text[80];
    std::snprintf(text, sizeof text, "%s%s%s", verb, name[0] ? " " : "", name);
    ModifyMenuA(g_popupItems, item, MF_BYCOMMAND | MF_STRING | (command != 0 ? MF_ENABLED : MF_GRAYED), item, text);
}

void openPopup(LPARAM point) {
    PluginInstance* instance = instances().current();
    if (!instance || !g_popupItems) return;
    check(kChooseColor, instance->colorCheck != 0);
    const bool hasBlock = instance->scene->selected != nullptr;
    nameStep(kUndo, "Undo", hasBlock ? instance->history.undoCommand() : 0);
    nameStep(kRedo, "Redo", hasBlock ? instance->history.redoCommand() : 0);
    if (const scene::Block* block = instance->scene->selected) {
        // Finer is also grayed at the ceiling, where it would change nothing.
        enable(kFiner, block->fineness > 1 && block->fineness < geometry::kFinenessCeiling);
        enable(kRougher, block->fineness > 8);
        check(kPlane, block->kind == scene::PLANE);
        check(kSphere, block->kind != scene::PLANE);
        check(kTranslucent, block->translucency > 0);
    }
    const int x = static_cast<int>(static_cast<uint64_t>(point) & 0xFFFF);
    const int y = static_cast<int>((static_cast<uint64_t>(point) >> 16) & 0xFFFF);
    TrackPopupMenu(g_popupItems, TPM_CENTERALIGN | TPM_RIGHTBUTTON, x, y, 0, commandWindow(), nullptr);
}

// A chooser lets the host run, and it may unbind the instance meanwhile: a
// picture that runs out of memory is handled here, before the block is
// looked at again, as a cancelled choice.
int64_t choosePicture(int64_t (*chooser)(void*)) {
    try {
        return chooser(hostWindow());
    } catch (const std::bad_alloc& failure) {
        geometry::logAllocationFailure(failure, "a picture is not loaded");
        return -1;
    }
}

// Commands that change the selected block; false when there is none.
bool blockCommand(UINT id) {
    scene::Block* block = selectedBlock();
    if (!block) return false;
    switch (id) {
        case kZoomOutMaterial:
            block->density = toFloat(block->density * 2.0);
            render::refresh(*block);
            break;
        case kZoomInMaterial:
            block->density = toFloat(block->density * 0.5);
            render::refresh(*block);
            break;
        case kNoMaterial:
            block->textureId = 0;
            block->missingTexture[0] = '\0';
            render::refresh(*block);
            break;
        case kNoColor:
            block->color[0] = block->color[1] = block->color[2] = 1.0f;
            render::refresh(*block);
            break;
        case kChooseSkin: {
            const int64_t skin = choosePicture(image::chooseSkin);
            if (!stillSelected(block)) break;
            if (skin >= 0) block->missingSkin[0] = '\0';
            reskin(*block, skin);
            break;
        }
        case kMoreSkin:
            block->skinScale = toFloat(block->skinScale * 2.0);
            reskin(*block, -1);
            break;
        case kLessSkin:
            block->skinScale = toFloat(block->skinScale * 0.5);
            reskin(*block, -1);
            break;
        case kInversSkin:
            block->skinScale = -block->skinScale;
            reskin(*block, -1);
            break;
        case kNoSkin:
            block->missingSkin[0] = '\0';
            reskin(*block, 0);
            break;
        case kRougher:
            if (block->makeRougher()) reskin(*block, -1);
            break;
        case kFiner:
            if (block->makeFiner()) reskin(*block, -1);
            break;
        case kChooseMaterial: {
            const int64_t material = choosePicture(image::chooseMaterial);
            if (material >= 0 && stillSelected(block)) {
                block->textureId = static_cast<uint32_t>(material);
                block->missingTexture[0] = '\0';
                render::refresh(*block);
            }
            break;
        }
        case kTranslucent:
            // Drawing reads translucency every frame: no refresh needed.
            if (block->translucency > 0) {
                block->translucency = 0.0f;
                check(kTranslucent, false);
            } else {
                block->translucency = 1.0f;
                check(kTranslucent, true);
            }
            break;
        case kChooseShortcut:
            chooseShortcut(*block, hostWindow());
            break;
        case kNoShortcut:
            clearShortcut(*block);
            break;
        default:
            return false;
    }
    return true;
}

bool isBlockCommand(UINT id) {
    switch (id) {
        case kZoomOutMaterial: case kZoomInMaterial: case kNoMaterial: case kNoColor: case kChooseSkin:
        case kMoreSkin: case kLessSkin: case kInversSkin: case kNoSkin: case kRougher: case kFiner:
        case kChooseMaterial: case kTranslucent: case kChooseShortcut: case kNoShortcut:
            return true;
        default:
            return false;
    }
}

// Carries out a command that may change the selected block, and saves the
// change at once: a host that dies later must not take the edit with it.
void edit(UINT id) {
    const PluginInstance* instance = instances().current();
    scene::Block* block = instance ? instance->scene->selected : nullptr;
    char before[scene::kLineCapacity] = {};
    BlockState state;
    if (block) {
        scene::writeLine(*block, before, false);
        state = captureBlock(*block);
    }
    const auto run = [id] {
        if (id == kSphere || id == kPlane)
            changeKind(id == kSphere ? scene::SPHERE : scene::PLANE);
        else
            blockCommand(id);
    };
    // Out of memory, the block stays as it was, drawn as before.
    if (block) {
        if (!scene::editBlock(*block, run)) return;
    } else {
        run();
    }
    // An instance unbound meanwhile (a dialog lets the host run) was saved
    // by its unbinding, and its history went with it.
    if (block && stillSelected(block)) {
        PluginInstance& current = *instances().current();
        saveIfChanged(current, before);
        current.history.record(id, state, before, *current.scene->selected);
    }
}

// Undo and Redo are edits too: saved at once, like any other.
void takeBack(bool redo) {
    PluginInstance* instance = instances().current();
    scene::Block* block = instance ? instance->scene->selected : nullptr;
    if (!block) return;
    char before[scene::kLineCapacity];
    scene::writeLine(*block, before, false);
    bool taken = false;
    // Out of memory, the block stays as it was and the step where it was.
    const bool made = scene::editBlock(*block, [&] {
        taken = redo ? instance->history.redo(*block) : instance->history.undo(*block);
    });
    if (made && taken) saveIfChanged(*instance, before);
}

LRESULT command(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const UINT id = LOWORD(wParam);
    if (isBlockCommand(id) || id == kSphere || id == kPlane) {
        edit(id);
        return 0;
    }
    switch (id) {
        case kChooseColor:
            if (PluginInstance* instance = instances().current()) {
                PostMessageA(hostWindow(), WM_COMMAND, 2041, static_cast<LPARAM>(instance->key));
                instance->colorCheck = instance->colorCheck ? 0 : 1;
            }
            return 0;
        case kExit:
            if (PluginInstance* instance = instances().current())
                PostMessageA(hostWindow(), 1086, static_cast<WPARAM>(static_cast<int64_t>(instance->key)), 0);
            return 0;
        case kUndo: takeBack(false); return 0;
        case kRedo: takeBack(true); return 0;
        case kHelp: showHelp(); return 0;
        case kAbout: showAbout(); return 0;
        case kPerUserNoticeCommand: showPerUserNotice(); return 0;
        case kOpenPopup: openPopup(lParam); return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            g_popupMenu = LoadMenuA(static_cast<HINSTANCE>(library().moduleInstance), "PopMenu");
            g_popupItems = g_popupMenu ? GetSubMenu(g_popupMenu, 0) : nullptr;
            return 0;
        case WM_DESTROY:
            if (g_popupMenu) DestroyMenu(g_popupMenu);
            g_popupMenu = nullptr;
            g_popupItems = nullptr;
            return 0;
        case WM_COMMAND:
            return command(window, message, wParam, lParam);
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK commandWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return guarded("a command", LRESULT{0}, [&] { return handle(window, message, wParam, lParam); });
}

}  // namespace

void* createCommandWindow() {
    const HINSTANCE instance = static_cast<HINSTANCE>(library().moduleInstance);
    WNDCLASSA windowClass = {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = commandWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);  // a class left from an earlier binding is reused

    HWND window = CreateWindowExA(WS_EX_TRANSPARENT, kClassName, kWindowTitle, WS_POPUP, 0, 0,
                                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - 1, hostWindow(),
                                  nullptr, instance, nullptr);
    if (window) ShowWindow(window, SW_HIDE);
    return window;
}

void destroyCommandWindow() {
    if (library().commandWindow) DestroyWindow(commandWindow());
    library().commandWindow = nullptr;
}

}  // namespace plexa::host

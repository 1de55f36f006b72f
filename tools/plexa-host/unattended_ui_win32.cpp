#include "unattended_ui_win32.h"

#include "png_writer.h"

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include <commdlg.h>

namespace plexa::refhost {

namespace {

HHOOK g_dialogHook = nullptr;
HHOOK g_menuHook = nullptr;
size_t g_answeredDialogs = 0;
size_t g_closedMenus = 0;
size_t g_chosenItems = 0;

bool g_hasPick = false;
unsigned g_pick = 0;

bool g_hasColour = false;
uint8_t g_colour[3] = {0, 0, 0};

std::string g_openFileName;

HWND g_captureWindow = nullptr;
std::string g_capturePath;
bool g_captureOk = false;
bool g_captureTried = false;

// The menu being answered. Picking an item and capturing the screen both
// need the menu to have been drawn and to be reading input, which it does
// only after WM_ENTERIDLE, and keys need to be read by the menu between two
// looks at it: a thread timer, whose WM_TIMER the menu's own loop dispatches
// once nothing else is queued, paces the steps.
struct MenuSession {
    bool open = false;
    HMENU menu = nullptr;
    HWND menuWindow = nullptr;
    bool started = false;  // WM_ENTERIDLE seen
    bool hasPick = false;
    unsigned pick = 0;
    bool capture = false;
    int ticks = 0;
    int keysSent = 0;
    bool chosen = false;
    UINT_PTR timer = 0;
};
MenuSession g_menu;

constexpr UINT kStepMilliseconds = 30;
// Until the menu's painting has surely reached the screen.
constexpr int kPaintTicks = 5;

// Colour dialog edit fields for red, green and blue (<colordlg.h>).
constexpr int kRedField = 706;
constexpr int kGreenField = 707;
constexpr int kBlueField = 708;
// File-name field of the open-file dialog (<dlgs.h> cmb13).
constexpr int kFileNameField = 0x47c;
// Dialogs already sent IDOK. Handles can be reused once a dialog is gone, so
// an entry is dropped when its window is destroyed.
std::set<HWND> g_answered;

// Message box text: the static control with id 0xFFFF.
constexpr int kMessageTextId = 0xFFFF;

void printDialog(HWND dialog) {
    char caption[256] = "";
    GetWindowTextA(dialog, caption, sizeof caption);
    char text[2048] = "";
    GetDlgItemTextA(dialog, kMessageTextId, text, sizeof text);
    std::printf("dialog \"%s\" answered with OK", caption);
    if (text[0] != '\0') {
        std::printf(":\n");
        // Every line of the text indented, so it reads as part of the dialog.
        std::string line = "    ";
        for (const char* c = text; *c; ++c) {
            if (*c == '\r') continue;
            if (*c == '\n') {
                std::printf("%s\n", line.c_str());
                line = "    ";
            } else {
                line += (*c == '\t') ? ' ' : *c;
            }
        }
        if (line.size() > 4) std::printf("%s\n", line.c_str());
    } else {
        std::printf("\n");
    }
    std::fflush(stdout);
}

// One line: [id "text" grayed checked] | - | ...
void printMenu(HMENU menu) {
    int count = GetMenuItemCount(menu);
    std::string line = "menu shown:";
    for (int i = 0; i < count; ++i) {
        UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
        line += i == 0 ? " " : " | ";
        if (state & MF_SEPARATOR) {
            line += "-";
            continue;
        }
        char text[128] = "";
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        UINT id = GetMenuItemID(menu, i);
        line += (id == static_cast<UINT>(-1)) ? std::string("submenu") : std::to_string(id);
        line += " \"" + std::string(text) + "\"";
        if (state & MF_GRAYED) line += " grayed";
        if (state & MF_CHECKED) line += " checked";
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// The colour dialog keeps the colour it will return in step with its red,
// green and blue fields: typing into them is how a person gives an exact
// colour, and OK then returns it.
void answerColourDialog(HWND dialog) {
    const int fields[3] = {kRedField, kGreenField, kBlueField};
    for (int field : fields) {
        if (!GetDlgItem(dialog, field)) return;  // not a colour dialog
    }
    for (int i = 0; i < 3; ++i) SetDlgItemInt(dialog, fields[i], g_colour[i], FALSE);
    std::printf("    colour %u %u %u typed in\n", g_colour[0], g_colour[1], g_colour[2]);
    std::fflush(stdout);
}

// A person types the name into the dialog's file-name field and presses OK;
// the dialog then resolves and checks it as its own.
void answerOpenFileDialog(HWND dialog) {
    HWND field = GetDlgItem(dialog, kFileNameField);
    if (!field) return;  // not an open-file dialog
    SetWindowTextA(field, g_openFileName.c_str());
    std::printf("    file name \"%s\" typed in\n", g_openFileName.c_str());
    std::fflush(stdout);
}

LRESULT CALLBACK dialogHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[32] = "";
        GetClassNameA(window, className, sizeof className);
        if (std::string(className) == "#32770") {
            if (g_answered.insert(window).second) {
                printDialog(window);
                if (g_hasColour) answerColourDialog(window);
                if (!g_openFileName.empty()) answerOpenFileDialog(window);
                ++g_answeredDialogs;
                PostMessageA(window, WM_COMMAND, IDOK, 0);
            } else {
                std::printf("dialog still open after OK: cancelling it\n");
                std::fflush(stdout);
                PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
            }
        }
    } else if (code == HCBT_DESTROYWND) {
        g_answered.erase(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(g_dialogHook, code, wParam, lParam);
}

// Position of the item with `id` in `menu`, or -1.
int positionOf(HMENU menu, unsigned id) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        if (!(GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_SEPARATOR) &&
            GetMenuItemID(menu, i) == id)
            return i;
    }
    return -1;
}

int highlightedPosition(HMENU menu) {
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        if (GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION) & MF_HILITE) return i;
    }
    return -1;
}

void endSession() {
    if (g_menu.timer) KillTimer(nullptr, g_menu.timer);
    g_menu = MenuSession{};
}

// A key as the keyboard delivers it, to the menu's window: the menu's loop
// reads it from the thread's queue like any other key.
void pressKey(UINT key, UINT scanCode) {
    HWND target = g_menu.menuWindow ? g_menu.menuWindow : GetFocus();
    PostMessageA(target, WM_KEYDOWN, key, static_cast<LPARAM>(1 | (scanCode << 16)));
    PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(1 | (scanCode << 16) | (3u << 30)));
}

void closeUnchosen(const char* why) {
    std::printf("menu closed unchosen%s\n", why);
    std::fflush(stdout);
    ++g_closedMenus;
    EndMenu();
}

void captureMenu() {
    g_menu.capture = false;
    RECT client{};
    GetClientRect(g_captureWindow, &client);
    MapWindowPoints(g_captureWindow, nullptr, reinterpret_cast<POINT*>(&client), 2);
    RECT area = client;
    RECT menuArea{};
    if (g_menu.menuWindow && GetWindowRect(g_menu.menuWindow, &menuArea)) UnionRect(&area, &area, &menuArea);
    const RECT screenArea{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    IntersectRect(&area, &area, &screenArea);
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "plexa-host: no menu screenshot: the window is off the screen\n");
        return;
    }
    // Read back from the screen itself, where the menu's window lies over the
    // host's: the only place both are in one picture.
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first, as PNG has it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool copied = false;
    if (bitmap && bits) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        copied = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY | CAPTUREBLT) != 0;
        GdiFlush();
        SelectObject(memory, previous);
    }
    std::vector<uint8_t> rgb;
    if (copied) {
        const auto* bgra = static_cast<const uint8_t*>(bits);
        rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const size_t i = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
                const POINT at{area.left + x, area.top + y};
                // What lies beside the window and the menu (the window's
                // frame, the bare screen) is left out, plain white.
                if (!PtInRect(&client, at) && !PtInRect(&menuArea, at)) {
                    rgb[i * 3] = rgb[i * 3 + 1] = rgb[i * 3 + 2] = 255;
                    continue;
                }
                rgb[i * 3] = bgra[i * 4 + 2];
                rgb[i * 3 + 1] = bgra[i * 4 + 1];
                rgb[i * 3 + 2] = bgra[i * 4];
            }
        }
    }
    if (bitmap) DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    std::string error = "BitBlt from the screen failed";
    if (copied && writePngFile(g_capturePath, static_cast<uint32_t>(width), static_cast<uint32_t>(height), rgb.data(),
                               &error)) {
        g_captureOk = true;
        std::printf("menu screenshot %s (%dx%d of the screen from %ld,%ld)\n", g_capturePath.c_str(), width, height,
                    static_cast<long>(area.left), static_cast<long>(area.top));
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "plexa-host: no menu screenshot: %s\n", error.c_str());
    }
}

VOID CALLBACK menuStep(HWND, UINT, UINT_PTR timer, DWORD) {
    if (!g_menu.open || timer != g_menu.timer) {
        KillTimer(nullptr, timer);
        return;
    }
    ++g_menu.ticks;
    if (g_menu.menuWindow && !IsWindow(g_menu.menuWindow)) {
        endSession();
        return;
    }
    if (g_menu.capture) {
        if (g_menu.ticks >= kPaintTicks) captureMenu();
        return;
    }
    if (g_menu.chosen) return;  // Enter is on its way
    if (!g_menu.hasPick) {
        closeUnchosen("");
        return;
    }
    const int target = positionOf(g_menu.menu, g_menu.pick);
    const int count = GetMenuItemCount(g_menu.menu);
    if (highlightedPosition(g_menu.menu) == target) {
        char text[128] = "";
        GetMenuStringA(g_menu.menu, static_cast<UINT>(target), text, sizeof text, MF_BYPOSITION);
        std::printf("menu item %u \"%s\" chosen\n", g_menu.pick, text);
        std::fflush(stdout);
        ++g_chosenItems;
        g_menu.chosen = true;
        pressKey(VK_RETURN, 0x1C);
    } else if (g_menu.keysSent > count + 1) {
        // Down has gone all the way round without reaching it.
        closeUnchosen(": the item could not be reached with the arrow keys");
    } else {
        ++g_menu.keysSent;
        pressKey(VK_DOWN, 0x50);
    }
}

void startSession() {
    g_menu.started = true;
    if (!g_menu.menuWindow) g_menu.menuWindow = FindWindowA("#32768", nullptr);
    if (g_menu.hasPick) {
        const int target = positionOf(g_menu.menu, g_menu.pick);
        const UINT state = target < 0 ? 0 : GetMenuState(g_menu.menu, static_cast<UINT>(target), MF_BYPOSITION);
        if (target < 0 || (state & (MF_GRAYED | MF_DISABLED))) {
            // A grayed item cannot be chosen: the menu would stay open.
            std::printf("menu item %u %s\n", g_menu.pick, target < 0 ? "is not in this menu" : "is grayed");
            g_menu.hasPick = false;
        }
    }
    if (!g_menu.hasPick && !g_menu.capture) {
        closeUnchosen("");
        return;
    }
    g_menu.timer = SetTimer(nullptr, 0, kStepMilliseconds, menuStep);
    if (!g_menu.timer) closeUnchosen(": no timer to pace the menu");
}

// TrackPopupMenu sends WM_INITMENUPOPUP to the menu's owner before showing
// it, then WM_ENTERIDLE once the menu waits for input, and WM_EXITMENULOOP
// when it is gone.
LRESULT CALLBACK menuHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (sent->message == WM_INITMENUPOPUP && !g_menu.open) {
            endSession();
            g_menu.open = true;
            g_menu.menu = reinterpret_cast<HMENU>(sent->wParam);
            g_menu.hasPick = g_hasPick;
            g_menu.pick = g_pick;
            g_hasPick = false;
            // One picture, of the first menu, taken or not.
            g_menu.capture = g_captureWindow != nullptr && !g_captureTried;
            g_captureTried = true;
            printMenu(g_menu.menu);
        } else if (sent->message == WM_ENTERIDLE && sent->wParam == MSGF_MENU && g_menu.open && !g_menu.started) {
            g_menu.menuWindow = reinterpret_cast<HWND>(sent->lParam);
            startSession();
        } else if (sent->message == WM_EXITMENULOOP ||
                   (sent->message == WM_UNINITMENUPOPUP && reinterpret_cast<HMENU>(sent->wParam) == g_menu.menu)) {
            endSession();
        }
    }
    return CallNextHookEx(g_menuHook, code, wParam, lParam);
}

}  // namespace

bool installUnattendedUi() {
    if (!g_dialogHook) g_dialogHook = SetWindowsHookExA(WH_CBT, dialogHook, nullptr, GetCurrentThreadId());
    if (!g_menuHook) g_menuHook = SetWindowsHookExA(WH_CALLWNDPROC, menuHook, nullptr, GetCurrentThreadId());
    return g_dialogHook != nullptr && g_menuHook != nullptr;
}

void removeUnattendedUi() {
    if (g_dialogHook) UnhookWindowsHookEx(g_dialogHook);
    if (g_menuHook) UnhookWindowsHookEx(g_menuHook);
    g_dialogHook = nullptr;
    g_menuHook = nullptr;
    g_answered.clear();
    endSession();
    g_hasPick = false;
    g_captureWindow = nullptr;
}

void pickInNextMenu(unsigned commandId) {
    g_hasPick = true;
    g_pick = commandId;
}

bool takeUnusedMenuPick(unsigned* commandId) {
    if (!g_hasPick) return false;
    *commandId = g_pick;
    g_hasPick = false;
    return true;
}

void answerColourDialogWith(uint8_t red, uint8_t green, uint8_t blue) {
    g_hasColour = true;
    g_colour[0] = red;
    g_colour[1] = green;
    g_colour[2] = blue;
}

void answerOpenFileDialogWith(const std::string& name) {
    g_openFileName = name;
}

void captureNextMenu(HWND window, const std::string& path) {
    g_captureWindow = window;
    g_capturePath = path;
    g_captureOk = false;
    g_captureTried = false;
}

bool menuCaptureResult() {
    return g_captureOk;
}

size_t chosenMenuItemCount() {
    return g_chosenItems;
}

size_t answeredDialogCount() {
    return g_answeredDialogs;
}

size_t closedMenuCount() {
    return g_closedMenus;
}

}  // namespace plexa::refhost

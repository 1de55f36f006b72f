#include "unattended_ui_win32.h"

#include <cstdio>
#include <set>
#include <string>

#include <windows.h>

namespace plexa::refhost {

namespace {

HHOOK g_dialogHook = nullptr;
HHOOK g_menuHook = nullptr;
size_t g_answeredDialogs = 0;
size_t g_closedMenus = 0;
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
    std::string line = "menu shown, closed unchosen:";
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

LRESULT CALLBACK dialogHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[32] = "";
        GetClassNameA(window, className, sizeof className);
        if (std::string(className) == "#32770") {
            if (g_answered.insert(window).second) {
                printDialog(window);
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

// TrackPopupMenu sends WM_INITMENUPOPUP to the menu's owner before showing
// it, then WM_ENTERIDLE once the menu waits for input: the place to end it.
LRESULT CALLBACK menuHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (sent->message == WM_INITMENUPOPUP) {
            printMenu(reinterpret_cast<HMENU>(sent->wParam));
            ++g_closedMenus;
        } else if (sent->message == WM_ENTERIDLE && sent->wParam == MSGF_MENU) {
            EndMenu();
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
}

size_t answeredDialogCount() {
    return g_answeredDialogs;
}

size_t closedMenuCount() {
    return g_closedMenus;
}

}  // namespace plexa::refhost

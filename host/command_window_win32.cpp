#include "host/command_window.h"

#include <windows.h>

#include "host/library_state.h"

namespace plexa::host {

namespace {

constexpr const char* kClassName = "Plexa";
constexpr const char* kWindowTitle = "Popup Menu Not Visible";

HMENU g_popupMenu = nullptr;
HMENU g_popupItems = nullptr;

LRESULT CALLBACK commandWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
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
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
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
                                  GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) - 1,
                                  static_cast<HWND>(library().hostWindow), nullptr, instance, nullptr);
    if (window) ShowWindow(window, SW_HIDE);
    return window;
}

void destroyCommandWindow() {
    if (library().commandWindow) DestroyWindow(static_cast<HWND>(library().commandWindow));
    library().commandWindow = nullptr;
}

}  // namespace plexa::host

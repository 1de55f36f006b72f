// Test support for the Windows tests (platform and GL side); see gl_window.h.
#include "gl_window.h"

#include <cstdio>
#include <ostream>

namespace plexa::wintest {

std::string lastErrorText(const char* what) {
    const DWORD code = GetLastError();
    char buffer[512] = {};
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                             buffer, sizeof buffer, nullptr);
    while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == ' ')) buffer[--n] = '\0';
    char tail[32];
    std::snprintf(tail, sizeof tail, " (error %lu)", static_cast<unsigned long>(code));
    return std::string(what) + " failed: " + (n > 0 ? buffer : "no system text") + tail;
}

namespace {

constexpr char kWindowClass[] = "PlexaTestGlWindow";

bool registerWindowClass(WNDPROC proc) {
    static const bool registered = [proc] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        // CS_OWNDC: the pixel format and the context stay bound to one DC for
        // the window's lifetime, as in the host.
        wc.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
        wc.lpszClassName = kWindowClass;
        return RegisterClassExA(&wc) != 0;
    }();
    return registered;
}

}  // namespace

GlWindow::GlWindow() : GlWindow(Options{}) {}

GlWindow::GlWindow(const Options& options) : options_(options) { create(); }

void GlWindow::fail(const char* what) {
    if (error_.empty()) error_ = "GlWindow: " + lastErrorText(what);
}

void GlWindow::create() {
    if (!registerWindowClass(&GlWindow::windowProc)) return fail("RegisterClassExA");

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    RECT frame{0, 0, options_.clientWidth, options_.clientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    hwnd_ = CreateWindowExA(0, kWindowClass, options_.title, style, 0, 0, frame.right - frame.left,
                            frame.bottom - frame.top, nullptr, nullptr, GetModuleHandleA(nullptr), this);
    if (!hwnd_) return fail("CreateWindowExA");
    // Shown before any drawing: pixels of a hidden window read back undefined.
    ShowWindow(hwnd_, SW_SHOWNORMAL);
    UpdateWindow(hwnd_);
    pumpMessages(hwnd_);

    hdc_ = GetDC(hwnd_);
    if (!hdc_) return fail("GetDC");

    PIXELFORMATDESCRIPTOR wanted{};
    wanted.nSize = sizeof wanted;
    wanted.nVersion = 1;
    wanted.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    wanted.iPixelType = PFD_TYPE_RGBA;
    wanted.cColorBits = 24;
    wanted.cAlphaBits = 8;
    wanted.cDepthBits = 24;
    wanted.cStencilBits = 8;
    wanted.iLayerType = PFD_MAIN_PLANE;
    const int format = ChoosePixelFormat(hdc_, &wanted);
    if (format == 0) return fail("ChoosePixelFormat");
    if (!DescribePixelFormat(hdc_, format, sizeof pixelFormat_, &pixelFormat_)) return fail("DescribePixelFormat");
    if (pixelFormat_.cColorBits < 24 || pixelFormat_.cDepthBits < 24 || pixelFormat_.cStencilBits < 8) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "GlWindow: pixel format %d has colour %d, depth %d, stencil %d bits; "
                      "wanted at least 24, 24, 8",
                      format, pixelFormat_.cColorBits, pixelFormat_.cDepthBits, pixelFormat_.cStencilBits);
        error_ = text;
        return;
    }
    if (!SetPixelFormat(hdc_, format, &pixelFormat_)) return fail("SetPixelFormat");

    HGLRC context = wglCreateContext(hdc_);
    if (!context) return fail("wglCreateContext");
    if (!wglMakeCurrent(hdc_, context)) {
        fail("wglMakeCurrent");
        wglDeleteContext(context);
        return;
    }
    context_ = context;
}

GlWindow::~GlWindow() {
    if (context_) {
        if (wglGetCurrentContext() == context_) wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(context_);
    }
    if (hdc_) ReleaseDC(hwnd_, hdc_);
    if (hwnd_) DestroyWindow(hwnd_);
}

bool GlWindow::makeCurrent() { return context_ && wglMakeCurrent(hdc_, context_); }

void GlWindow::swapBuffers() {
    if (hdc_) SwapBuffers(hdc_);
}

LRESULT CALLBACK GlWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<GlWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (self) {
        if (message == WM_COMMAND || message >= WM_USER) self->received_.push_back({message, wParam, lParam});
        if (self->handler_) {
            LRESULT result = 0;
            if (self->handler_(message, wParam, lParam, &result)) return result;
        }
        if (message == WM_NCDESTROY) SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// ---------------------------------------------------------------------------

std::ostream& operator<<(std::ostream& out, const RecordedDialog& dialog) {
    return out << "{" << dialog.className << " \"" << dialog.caption << "\": \"" << dialog.text << "\"}";
}

namespace {
thread_local DialogRecorder* activeRecorder = nullptr;
}

DialogRecorder::DialogRecorder(int defaultReply) : defaultReply_(defaultReply) {
    if (activeRecorder) return;  // installed() stays false: the first recorder keeps the thread
    hook_ = SetWindowsHookExA(WH_CBT, &DialogRecorder::cbtProc, nullptr, GetCurrentThreadId());
    if (hook_) activeRecorder = this;
}

DialogRecorder::~DialogRecorder() {
    if (!hook_) return;
    UnhookWindowsHookEx(hook_);
    activeRecorder = nullptr;
}

LRESULT CALLBACK DialogRecorder::cbtProc(int code, WPARAM wParam, LPARAM lParam) {
    DialogRecorder* self = activeRecorder;
    if (self && code == HCBT_ACTIVATE) self->onActivate(reinterpret_cast<HWND>(wParam));
    // A destroyed window's handle may be reused by the next dialog.
    if (self && code == HCBT_DESTROYWND) self->answered_.erase(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(self ? self->hook_ : nullptr, code, wParam, lParam);
}

void DialogRecorder::onActivate(HWND window) {
    // Wine also calls a thread's hook when a window of another process is
    // activated (seen with two tests showing boxes at once under ctest -j2);
    // answering that one would click another test's box.
    if (GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId()) return;
    char className[64] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::string(className) != "#32770") return;
    // Activation repeats whenever focus comes back; answer each dialog once.
    if (!answered_.insert(window).second) return;

    RecordedDialog dialog;
    dialog.className = className;
    char text[4096] = {};
    GetWindowTextA(window, text, sizeof text);
    dialog.caption = text;
    text[0] = '\0';
    if (GetDlgItem(window, 0xFFFF)) GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    dialog.text = text;
    dialogs_.push_back(dialog);

    int reply = defaultReply_;
    if (responder_) {
        reply = responder_(window, dialog);
    } else if (!queuedReplies_.empty()) {
        reply = queuedReplies_.front();
        queuedReplies_.pop_front();
    }
    // Posted, not sent: the dialog is still being set up during HCBT_ACTIVATE,
    // and its own modal loop must be running to act on the click.
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(reply, BN_CLICKED), 0);
}

// ---------------------------------------------------------------------------

int pumpMessages(HWND window) {
    int dispatched = 0;
    MSG msg;
    while (PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Keep WM_QUIT for whoever runs the real loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        ++dispatched;
    }
    return dispatched;
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        pumpMessages(nullptr);
        if (done()) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left < 10 ? left : 10), QS_ALLINPUT);
    }
}

void pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

HWND findThreadWindow(const char* className, const char* title) {
    struct Search {
        const char* className;
        const char* title;
        HWND found;
    } search{className, title, nullptr};
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            char text[256] = {};
            GetClassNameA(window, text, sizeof text);
            if (lstrcmpiA(text, s->className) != 0) return TRUE;
            if (s->title) {
                text[0] = '\0';
                GetWindowTextA(window, text, sizeof text);
                if (std::string(text) != s->title) return TRUE;
            }
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace plexa::wintest

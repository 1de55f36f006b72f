#include "gl_window_win32.h"

namespace plexa::refhost {

namespace {

constexpr const char* kWindowClass = "PlexaReferenceHost";

struct CreationParameters {
    WNDPROC procedure;
    void* userData;
};

// Installs the real procedure and its user data before any other message.
LRESULT CALLBACK bootstrapProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        const auto* parameters = static_cast<const CreationParameters*>(create->lpCreateParams);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(parameters->userData));
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(parameters->procedure));
        return CallWindowProcA(parameters->procedure, window, message, wParam, lParam);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

std::string errorText(DWORD code, const std::string& subject) {
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string result;
    if (length > 0 && text) {
        result.assign(text, length);
        while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ' || result.back() == '.'))
            result.pop_back();
    } else {
        result = "unknown error";
    }
    if (text) LocalFree(text);
    // FORMAT_MESSAGE_IGNORE_INSERTS leaves "%1" as it is in texts such as
    // ERROR_BAD_EXE_FORMAT's ("%1 is not a valid Win32 application").
    for (size_t at = result.find("%1"); at != std::string::npos; at = result.find("%1", at + subject.size()))
        result.replace(at, 2, subject);
    return result + " (error " + std::to_string(code) + ")";
}

std::string lastErrorText(const std::string& subject) {
    return errorText(GetLastError(), subject);
}

bool GlWindow::create(const char* title, int clientWidth, int clientHeight, WNDPROC procedure, void* userData,
                      std::string* error) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_OWNDC | CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = bootstrapProcedure;
    windowClass.hInstance = instance;
    // The program's own icon (resources/plexa-host.rc.in), in the title bar
    // and the taskbar as in Explorer.
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    if (!windowClass.hIcon) windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassExA(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        *error = "cannot register the window class: " + lastErrorText();
        return false;
    }

    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    CreationParameters parameters{procedure, userData};
    window = CreateWindowExA(0, kWindowClass, title, style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left,
                             frame.bottom - frame.top, nullptr, nullptr, instance, &parameters);
    if (!window) {
        *error = "cannot create the window: " + lastErrorText();
        return false;
    }
    deviceContext = GetDC(window);

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
    int format = ChoosePixelFormat(deviceContext, &wanted);
    if (format == 0) {
        *error = "no pixel format with OpenGL and double buffering: " + lastErrorText();
        destroy();
        return false;
    }
    PIXELFORMATDESCRIPTOR chosen{};
    DescribePixelFormat(deviceContext, format, sizeof chosen, &chosen);
    if (!SetPixelFormat(deviceContext, format, &chosen)) {
        *error = "cannot set pixel format " + std::to_string(format) + ": " + lastErrorText();
        destroy();
        return false;
    }
    depthBits = chosen.cDepthBits;
    stencilBits = chosen.cStencilBits;

    renderingContext = wglCreateContext(deviceContext);
    if (!renderingContext) {
        *error = "cannot create an OpenGL context: " + lastErrorText();
        destroy();
        return false;
    }
    if (!wglMakeCurrent(deviceContext, renderingContext)) {
        *error = "cannot make the OpenGL context current: " + lastErrorText();
        destroy();
        return false;
    }
    // Pixels can only be read back from a window that is shown.
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    return true;
}

void GlWindow::destroy() {
    if (renderingContext) {
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(renderingContext);
        renderingContext = nullptr;
    }
    if (deviceContext) {
        ReleaseDC(window, deviceContext);
        deviceContext = nullptr;
    }
    if (window) {
        DestroyWindow(window);
        window = nullptr;
    }
}

void GlWindow::clientSize(int* width, int* height) const {
    RECT client{};
    if (window) GetClientRect(window, &client);
    *width = client.right - client.left;
    *height = client.bottom - client.top;
}

}  // namespace plexa::refhost

// The host's main window and its OpenGL context (platform side).
//
// The plug-in compiles display lists and creates textures inside its exports,
// so the context must exist before the plug-in is loaded and stay current on
// this one thread until the plug-in has been unloaded.
//
// [X] CS_OWNDC window, double buffer, 24-bit depth, 8-bit stencil (the pick
//     pass writes object numbers into the stencil buffer)
// [X] CS_DBLCLKS, so that double clicks reach the host and can be forwarded
// [ ] multisampling, vertical sync control
#pragma once

#include <string>

#include <windows.h>

namespace plexa::refhost {

struct GlWindow {
    HWND window = nullptr;
    HDC deviceContext = nullptr;
    HGLRC renderingContext = nullptr;
    int depthBits = 0;
    int stencilBits = 0;

    // userData reaches the window procedure through GWLP_USERDATA, set while
    // handling WM_NCCREATE so that no message is missed.
    bool create(const char* title, int clientWidth, int clientHeight, WNDPROC procedure, void* userData,
                std::string* error);
    // Releases the context first, then the window. Only call once the plug-in
    // has been unloaded: its library unload deletes textures.
    void destroy();

    // The client area's size; zero when minimised.
    void clientSize(int* width, int* height) const;
};

// "text (error N)" for the calling thread's last error, or for a code;
// `subject` stands for the "%1" that some texts hold (the file a load failed
// on), which would otherwise be shown as it is.
std::string lastErrorText(const std::string& subject = "the file");
std::string errorText(DWORD code, const std::string& subject = "the file");

}  // namespace plexa::refhost

// Test support for the Windows tests (platform and GL side): what a host
// program gives the plug-in, reproduced inside a GoogleTest process.
//
// [X] GlWindow: a shown CS_OWNDC window with a current OpenGL context
//     (RGBA 24-bit colour, 8 alpha, depth 24, stencil 8, double-buffered)
// [X] GlWindow records WM_COMMAND and WM_USER.. messages sent or posted to it,
//     since the plug-in talks back to its host window that way
// [X] DialogRecorder: records every dialog box (#32770) the test thread
//     shows, as caption and message text, and dismisses it with a chosen
//     button (or a custom responder, e.g. to fill in a file chooser)
// [X] pumpMessages / pumpUntil / pumpFor: run the thread's message loop
// [X] findThreadWindow: FindWindow limited to the calling thread's windows
// [ ] dialogs shown by other threads are not seen (the hook is per thread)
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <chrono>
#include <deque>
#include <functional>
#include <iosfwd>
#include <set>
#include <string>
#include <vector>

namespace plexa::wintest {

// "<what> failed: <Windows' text> (error N)" for the calling thread's last error.
std::string lastErrorText(const char* what);

struct WindowMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class GlWindow {
public:
    struct Options {
        int clientWidth = 256;
        int clientHeight = 256;
        const char* title = "plexa test window";
    };

    GlWindow();
    explicit GlWindow(const Options& options);
    ~GlWindow();
    GlWindow(const GlWindow&) = delete;
    GlWindow& operator=(const GlWindow&) = delete;

    // False when any step of window or context creation failed; error() then
    // says which one. Tests start with ASSERT_TRUE(w.ok()) << w.error().
    bool ok() const { return context_ != nullptr; }
    const std::string& error() const { return error_; }

    HWND hwnd() const { return hwnd_; }
    HDC hdc() const { return hdc_; }
    HGLRC context() const { return context_; }
    int clientWidth() const { return options_.clientWidth; }
    int clientHeight() const { return options_.clientHeight; }

    // The pixel format actually chosen (it may exceed what was asked for).
    const PIXELFORMATDESCRIPTOR& pixelFormat() const { return pixelFormat_; }

    bool makeCurrent();
    void swapBuffers();

    // WM_COMMAND and messages >= WM_USER that reached the window procedure,
    // in arrival order. Posted ones arrive only when messages are pumped.
    const std::vector<WindowMessage>& receivedMessages() const { return received_; }
    void clearReceivedMessages() { received_.clear(); }

    // Sees every message first; returning true means "handled, answer *result".
    using MessageHandler = std::function<bool(UINT, WPARAM, LPARAM, LRESULT* result)>;
    void setMessageHandler(MessageHandler handler) { handler_ = std::move(handler); }

private:
    static LRESULT CALLBACK windowProc(HWND, UINT, WPARAM, LPARAM);
    void create();
    void fail(const char* what);

    Options options_;
    HWND hwnd_ = nullptr;
    HDC hdc_ = nullptr;
    HGLRC context_ = nullptr;
    PIXELFORMATDESCRIPTOR pixelFormat_{};
    std::string error_;
    std::vector<WindowMessage> received_;
    MessageHandler handler_;
};

struct RecordedDialog {
    std::string caption;  // the dialog's window text
    std::string text;     // text of the static control 0xFFFF (a message box's message); empty if none
    std::string className;
};

// Lets GoogleTest print what was recorded when an expectation on dialogs() fails.
std::ostream& operator<<(std::ostream& out, const RecordedDialog& dialog);

// Installs a WH_CBT hook on the calling thread for its lifetime. Each dialog
// is recorded once, when it is first activated, and then answered by posting
// WM_COMMAND with the reply (queued replies first, then the default reply),
// which ends MessageBox and dialog loops as if that button had been clicked.
// One recorder per thread at a time.
class DialogRecorder {
public:
    explicit DialogRecorder(int defaultReply = IDOK);
    ~DialogRecorder();
    DialogRecorder(const DialogRecorder&) = delete;
    DialogRecorder& operator=(const DialogRecorder&) = delete;

    bool installed() const { return hook_ != nullptr; }

    void setDefaultReply(int commandId) { defaultReply_ = commandId; }
    // Answers the next dialogs in order, e.g. IDYES to an overwrite prompt, then IDOK.
    void queueReply(int commandId) { queuedReplies_.push_back(commandId); }

    // Replaces the reply logic: called with the dialog (still open, so its
    // controls can be filled in) and returns the command id to post.
    using Responder = std::function<int(HWND dialog, const RecordedDialog&)>;
    void setResponder(Responder responder) { responder_ = std::move(responder); }

    const std::vector<RecordedDialog>& dialogs() const { return dialogs_; }
    void clear() { dialogs_.clear(); }

private:
    static LRESULT CALLBACK cbtProc(int code, WPARAM wParam, LPARAM lParam);
    void onActivate(HWND window);

    HHOOK hook_ = nullptr;
    int defaultReply_;
    std::deque<int> queuedReplies_;
    Responder responder_;
    std::vector<RecordedDialog> dialogs_;
    std::set<HWND> answered_;
};

// Dispatches every message already queued for the window (or for the whole
// thread when window is null); returns how many were dispatched.
int pumpMessages(HWND window = nullptr);

// Pumps the thread's messages until done() is true or the timeout passes;
// returns done()'s last value.
bool pumpUntil(const std::function<bool()>& done,
               std::chrono::milliseconds timeout = std::chrono::seconds(5));

// Pumps the thread's messages for the given time (e.g. to let WM_TIMER fire).
void pumpFor(std::chrono::milliseconds duration);

// The calling thread's top-level window with this class (and title, unless
// null), or null. Use it instead of FindWindow: under ctest -j the test
// programs share one Wine desktop, and FindWindow returns whichever program's
// window comes first.
HWND findThreadWindow(const char* className, const char* title = nullptr);

}  // namespace plexa::wintest

// The reference host: binds the objects of a desktop file to the plug-in,
// draws them, forwards clicks and answers the plug-in's requests (platform
// side; everything runs on the thread that owns the window and the OpenGL
// context, as the plug-in requires).
//
// [X] window and context made before the plug-in is loaded, current until it
//     has been unloaded
// [X] InitPlugin per object with the host window, the plug-in's own module
//     handle, the key and a data block that never moves while bound
// [X] a perspective view of the desktop: sky, floor, shadows, two lights;
//     TimerDraw per object and frame, in the object's frame, GL_TEXTURE_2D
//     on, back to front so translucent objects show what lies behind them
// [X] picking: PhantomDraw per object with the stencil buffer numbering the
//     objects, read back under the cursor
// [X] the sample desktop comes with its scene files, written where missing
// [X] right click (516, screen point) and double click (515) forwarded; a
//     right click the plug-in leaves alone opens the host's menu
// [X] the plug-in's colour request (WM_COMMAND 2041): ChooseColor, colour
//     bytes at 336, then WM_COMMAND 2041 forwarded
// [X] the plug-in's Exit (1086): StopPlugin and removal from the desktop
// [X] StopPlugin for every object at exit in binding order, desktop saved,
//     library unloaded, summary printed
// [X] screenshot of the last frame (PNG); --frames for headless runs, with
//     dialogs and menus answered and scripted clicks (--click), menu items
//     picked and the colour dialog answered with a given colour
// [X] screenshot of the screen with the plug-in's popup menu open over the
//     window (--menu-screenshot)
// [X] a plug-in that cannot be loaded, a desktop or a screenshot that cannot
//     be saved: a message box for the user as well as the line on stderr
// [X] a crash inside the plug-in is reported with the export and key, and the
//     process ends with exit code 70 instead of waiting on a crash dialog
// [X] the host menu copies an object as a desktop program does: the data
//     block byte for byte, a new key, bound like any added object
// [X] every plug-in menu command that has returned is printed, so a run
//     killed outright shows which edits were complete
// [X] objects moved by dragging them with the mouse, or with the cursor keys
// [ ] message 1087 (the host never moves a data block, so never announces one)
// [ ] orientation and size of objects (the plug-in's scene holds those)
#pragma once

#include "command_line.h"
#include "desktop_file.h"
#include "gl_window_win32.h"
#include "host/host_records.h"
#include "plugin_library_win32.h"
#include "view_math.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

namespace plexa::refhost {

// One object of the desktop while the host runs. Objects are held through
// unique_ptr, so `data`, which the plug-in keeps a pointer to from InitPlugin
// to StopPlugin, never moves while the list changes.
struct HostObject {
    int32_t key = 0;
    float position[3] = {0.0f, 0.0f, 0.0f};
    ObjectData data{};
    plexa::host::HostInstanceInfo info{};
};

class HostApp {
public:
    explicit HostApp(HostOptions options);
    HostApp(const HostApp&) = delete;
    HostApp& operator=(const HostApp&) = delete;

    // The whole life of the host; returns the process exit code.
    int run();

    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Marks the stretch of time spent in plug-in code, for the crash report and
    // so that input arriving through a modal loop of the plug-in is not fed
    // back into it.
    class PluginCall {
    public:
        PluginCall(HostApp& app, const char* what, int32_t key);
        PluginCall(HostApp& app, const char* what);
        ~PluginCall();
        PluginCall(const PluginCall&) = delete;
        PluginCall& operator=(const PluginCall&) = delete;

    private:
        HostApp& app_;
        char previous_[160];
    };

private:
    // Requests that the plug-in posts to the host window. They are carried out
    // from the top of the main loop, never from inside a modal loop that the
    // plug-in may be running, so no export is re-entered.
    struct PluginRequest {
        enum class Kind { ChooseColour, Exit } kind;
        int32_t key;
    };

    std::vector<DesktopObject> loadDesktop();
    // Writes the sample desktop's scene files that are not there yet.
    void startSampleDesktop();
    void checkSampleImages();
    bool saveDesktop(const std::vector<std::unique_ptr<HostObject>>& objects, const char* when);
    void bindObject(const DesktopObject& object);
    std::unique_ptr<HostObject> unbindAt(size_t index);
    void removeObject(int32_t key, const char* why);

    void runLoop();
    void postScriptedClicks();
    // For --menu-screenshot without a scripted right click.
    void rightClickNearCentre();
    void pumpMessages();
    void carryOutRequests(bool closing);
    void chooseColour(int32_t key);
    int32_t forward(int32_t key, uint32_t message, uint64_t wParam, int64_t lParam);

    void setUpCamera(int width, int height);
    // The whole view, or for a screenshot one tile of it enlarged `tiles`
    // times (tileOf); mouse positions are read through the whole view.
    void renderFrame(int tileColumn = 0, int tileRow = 0, int tiles = 1);
    // TimerDraw, or PhantomDraw when `phantom`, with the object's frame on
    // the modelview matrix.
    void drawInFrame(const HostObject& object, bool phantom);
    std::vector<size_t> backToFront() const;
    // Index into objects_ of the object drawn at client point (x, y), or -1.
    int pickAt(int x, int y);
    void reportObjectsOnScreen();

    void onRightButton(WPARAM wParam, LPARAM lParam);
    void onDoubleClick(WPARAM wParam, LPARAM lParam);
    void onLeftButton(LPARAM lParam);
    void onMouseMove(WPARAM wParam, LPARAM lParam);
    void endDrag(bool releaseCapture);
    void onKey(WPARAM key);
    void showHostMenu(int target, POINT client);
    int32_t unusedKey() const;

    bool takeScreenshot();
    void tellUser(const std::string& text);
    HostObject* find(int32_t key);
    int indexOf(int32_t key) const;

    HostOptions options_;
    std::string desktopPath_;
    std::string screenshotPath_;
    std::string menuScreenshotPath_;
    bool desktopWritable_ = false;
    bool sampleScenesWanted_ = false;

    GlWindow window_;
    PluginLibrary plugin_;
    std::vector<std::unique_ptr<HostObject>> objects_;
    std::deque<PluginRequest> requests_;

    bool running_ = false;
    // False in a --frames run whose dialog hooks could not be installed.
    bool boxesAnswered_ = true;
    bool rendering_ = false;
    int pluginBusy_ = 0;
    int32_t selectedKey_ = 0;
    // The object whose menu the plug-in was last asked to open: its
    // commands work on that object.
    int32_t menuKey_ = 0;
    bool hasSelection_ = false;
    // A drag moves the object over the horizontal plane through its frame by
    // as much as the point under the cursor moves in that plane.
    bool dragging_ = false;
    bool dragMoved_ = false;
    int32_t dragKey_ = 0;
    float dragLast_[3] = {0.0f, 0.0f, 0.0f};

    // The view of the last frame drawn; mouse positions are read through it.
    Camera camera_;

    uint32_t framesDrawn_ = 0;
    size_t boundCount_ = 0;
    size_t exitedCount_ = 0;
    size_t removedByHostCount_ = 0;
};

}  // namespace plexa::refhost

#include "host_app_win32.h"

#include "desktop_scenery_win32.h"
#include "png_writer.h"
#include "sample_desktop.h"
#include "unattended_ui_win32.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>

#include <commdlg.h>
#include <windowsx.h>

#include <GL/gl.h>

namespace plexa::refhost {

namespace od = plexa::host::object_data;
namespace msg = plexa::host::messages;

namespace {

// What the host is doing in plug-in code, for the crash report. Written by
// PluginCall only; read by the exception handlers.
char g_activity[160] = "";
// The plug-in's image, while it is loaded.
uintptr_t g_pluginBegin = 0;
uintptr_t g_pluginEnd = 0;

void say(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    // Output often goes to a pipe (tests, the demo) and must not be lost when
    // the plug-in takes the process down.
    std::fflush(stdout);
}

void complain(const char* format, ...) {
    std::fflush(stdout);
    std::fputs("plexa-host: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

LONG WINAPI reportCrash(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    char moduleName[MAX_PATH] = "an unknown module";
    HMODULE owner = nullptr;
    // The offset into the module is what its debug file reads (the load
    // address differs from run to run).
    unsigned long long offset = 0;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(record->ExceptionAddress), &owner)) {
        GetModuleFileNameA(owner, moduleName, sizeof moduleName);
        offset = reinterpret_cast<uintptr_t>(record->ExceptionAddress) - reinterpret_cast<uintptr_t>(owner);
    }
    if (g_activity[0] != '\0') {
        complain("the plug-in crashed in %s: exception 0x%08lx at %p in %s (offset 0x%llx)", g_activity,
                 static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress, moduleName, offset);
    } else {
        complain("crash outside the plug-in's code: exception 0x%08lx at %p in %s (offset 0x%llx)",
                 static_cast<unsigned long>(record->ExceptionCode), record->ExceptionAddress, moduleName, offset);
    }
    // Neither unwinding nor library unload is safe now, and a crash dialog
    // would hang a headless run.
    TerminateProcess(GetCurrentProcess(), kExitPluginCrashed);
    return EXCEPTION_EXECUTE_HANDLER;
}

// Window procedures run inside DispatchMessage, and Wine, like 64-bit
// Windows, swallows an exception raised there: a plug-in crashing in
// TimerDraw during WM_PAINT, or in its own command window, would go unseen
// and leave the host half-way through a frame. So faults are caught first,
// before any frame handler, but only hardware faults at addresses inside the
// plug-in's image: the plug-in uses no structured exception handling, so
// every such fault is a crash. The top-level filter covers the rest.
LONG CALLBACK catchPluginFault(EXCEPTION_POINTERS* pointers) {
    switch (pointers->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_STACK_OVERFLOW:
        break;
    default:
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const auto address = reinterpret_cast<uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
    if (address < g_pluginBegin || address >= g_pluginEnd) return EXCEPTION_CONTINUE_SEARCH;
    return reportCrash(pointers);
}

void watchPluginImage(HMODULE module) {
    if (!module) {
        g_pluginBegin = g_pluginEnd = 0;
        return;
    }
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    g_pluginBegin = reinterpret_cast<uintptr_t>(base);
    g_pluginEnd = g_pluginBegin + nt->OptionalHeader.SizeOfImage;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* app = reinterpret_cast<HostApp*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (!app) return DefWindowProcA(window, message, wParam, lParam);
    return app->handleMessage(window, message, wParam, lParam);
}

// The host's own menu.
enum HostMenuItem : UINT {
    kMenuAddObject = 1,
    kMenuChooseColour,
    kMenuRemoveObject,
    kMenuSaveDesktop,
    kMenuCopyObject,
};

// Where a copy goes, beside what it copies: about one object's width.
constexpr float kCopyOffset = 1.2f;

constexpr float kMoveStep = 0.1f;
// Near the horizon a small mouse move spans a great distance on the floor;
// a drag stops short of where the floor fades out.
constexpr float kDragReach = 25.0f;

std::string describeScene(const ObjectData& data) {
    if (!hasPlexaTag(data)) return "(none: no PLX tag)";
    bool terminated = true;
    std::string name = sceneFileNameOf(data, &terminated);
    for (char& c : name) {
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) >= 127) c = '?';
    }
    return terminated ? name : name + " (unterminated)";
}

}  // namespace

HostApp::PluginCall::PluginCall(HostApp& app, const char* what, int32_t key) : app_(app) {
    std::memcpy(previous_, g_activity, sizeof previous_);
    std::snprintf(g_activity, sizeof g_activity, "%s (key=%ld)", what, static_cast<long>(key));
    ++app_.pluginBusy_;
}

HostApp::PluginCall::PluginCall(HostApp& app, const char* what) : app_(app) {
    std::memcpy(previous_, g_activity, sizeof previous_);
    std::snprintf(g_activity, sizeof g_activity, "%s", what);
    ++app_.pluginBusy_;
}

HostApp::PluginCall::~PluginCall() {
    --app_.pluginBusy_;
    std::memcpy(g_activity, previous_, sizeof previous_);
}

HostApp::HostApp(HostOptions options) : options_(std::move(options)) {}

int HostApp::run() {
    SetUnhandledExceptionFilter(reportCrash);
    AddVectoredExceptionHandler(1, catchPluginFault);
    // A missing drive or floppy must not raise a system dialog either.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);

    // The plug-in switches the current directory around its file accesses, so
    // the host settles its own file names once, before it is loaded.
    desktopPath_ = fullPathOf(options_.desktopPath);
    if (!options_.screenshotPath.empty()) screenshotPath_ = fullPathOf(options_.screenshotPath);
    if (!options_.menuScreenshotPath.empty()) menuScreenshotPath_ = fullPathOf(options_.menuScreenshotPath);

    std::vector<DesktopObject> desktop = loadDesktop();

    std::string error;
    if (!window_.create("Plexa reference host", options_.width, options_.height, windowProcedure, this, &error)) {
        complain("%s", error.c_str());
        return kExitNoWindow;
    }
    say("OpenGL %s, %s, %s; depth %d bits, stencil %d bits", reinterpret_cast<const char*>(glGetString(GL_VERSION)),
        reinterpret_cast<const char*>(glGetString(GL_VENDOR)), reinterpret_cast<const char*>(glGetString(GL_RENDERER)),
        window_.depthBits, window_.stencilBits);
    if (window_.stencilBits < 8) complain("no 8-bit stencil buffer: clicks cannot find objects");

    // Before the plug-in is loaded: a run without one still shows its box.
    const bool unattended = options_.frames > 0 && installUnattendedUi();
    const std::string hookError = options_.frames > 0 && !unattended ? lastErrorText() : std::string();
    boxesAnswered_ = options_.frames == 0 || unattended;
    const std::string pluginPath = options_.pluginPath.empty() ? defaultPluginPath() : options_.pluginPath;
    if (!plugin_.load(pluginPath, &error)) {
        complain("%s", error.c_str());
        tellUser("The Plexa plug-in could not be started, so there is nothing to show.\n\n" + error);
        removeUnattendedUi();
        window_.destroy();
        return kExitPluginMissing;
    }
    say("plug-in %s", plugin_.path.c_str());
    watchPluginImage(plugin_.module);
    // Only a host that can show them leaves the sample's scene files behind.
    if (sampleScenesWanted_) startSampleDesktop();

    if (options_.frames > 0) {
        if (unattended) {
            say("non-interactive run of %lu frames: dialogs are answered with OK, menus closed unchosen "
                "unless an item is named",
                static_cast<unsigned long>(options_.frames));
        } else {
            complain("cannot watch for dialogs and menus (%s): one would stop this run", hookError.c_str());
        }
        if (options_.hasColourAnswer) {
            answerColourDialogWith(options_.colourAnswer[0], options_.colourAnswer[1], options_.colourAnswer[2]);
        }
        if (!options_.openFileAnswer.empty()) answerOpenFileDialogWith(options_.openFileAnswer);
        if (!menuScreenshotPath_.empty()) captureNextMenu(window_.window, menuScreenshotPath_);
        for (const ScriptedClick& click : options_.clicks) {
            if (click.afterFrame >= options_.frames) {
                complain("the click after frame %lu comes too late for a run of %lu frames",
                         static_cast<unsigned long>(click.afterFrame), static_cast<unsigned long>(options_.frames));
            }
        }
    } else if (options_.hasColourAnswer || !options_.openFileAnswer.empty() ||
               std::any_of(options_.clicks.begin(), options_.clicks.end(),
                           [](const ScriptedClick& click) { return click.menuChoice >= 0; })) {
        complain("--color, --open-file and menu items named in --click only answer the dialogs and menus of a "
                 "--frames run");
    }

    for (const DesktopObject& object : desktop) bindObject(object);

    runLoop();
    carryOutRequests(true);

    bool screenshotOk = takeScreenshot();
    if (!screenshotOk) {
        tellUser("The picture of the desktop could not be saved as\n" + screenshotPath_ +
                                     "\n\nCheck that its folder exists and that you may write there.");
    }

    // Unbinding in binding order; each object is kept, with what the plug-in
    // left in its data block, for the desktop file.
    std::vector<std::unique_ptr<HostObject>> stopped;
    while (!objects_.empty()) {
        std::unique_ptr<HostObject> object = unbindAt(0);
        say("unbound object key=%ld scene file=%s", static_cast<long>(object->key), describeScene(object->data).c_str());
        stopped.push_back(std::move(object));
    }
    bool desktopOk = saveDesktop(stopped, "at exit");

    watchPluginImage(nullptr);
    plugin_.unload();
    removeUnattendedUi();
    window_.destroy();

    const bool menuShotOk = menuScreenshotPath_.empty() || menuCaptureResult();
    if (!menuShotOk) complain("no menu screenshot: no popup menu was open long enough to capture it");
    say("summary: %zu bound, %zu removed by the plug-in's Exit, %zu removed from the host menu, %zu unbound at exit; "
        "%lu frames; %zu dialogs answered, %zu menus closed, %zu menu items chosen; desktop %s; screenshot %s%s",
        boundCount_, exitedCount_, removedByHostCount_, stopped.size(), static_cast<unsigned long>(framesDrawn_),
        answeredDialogCount(), closedMenuCount(), chosenMenuItemCount(), desktopOk ? "saved" : "NOT saved",
        screenshotPath_.empty() ? "not asked for" : (screenshotOk ? "saved" : "NOT saved"),
        menuScreenshotPath_.empty() ? "" : (menuShotOk ? "; menu screenshot saved" : "; menu screenshot NOT saved"));
    return desktopOk && screenshotOk && menuShotOk ? kExitOk : kExitRunFailed;
}

// A problem a person at the screen must hear about even when nobody reads
// the console: a message box, besides the line on stderr. In a --frames run
// the unattended hooks print and dismiss it; without them it would wait for
// nobody, so it is left out.
void HostApp::tellUser(const std::string& text) {
    if (!boxesAnswered_) return;
    MessageBoxA(window_.window, text.c_str(), "Plexa reference host", MB_OK | MB_ICONWARNING);
}

// --- Desktop file --------------------------------------------------------

std::vector<DesktopObject> HostApp::loadDesktop() {
    std::string text;
    switch (readWholeFile(desktopPath_, text)) {
    case FileReadStatus::Missing:
        desktopWritable_ = true;
        say("no desktop file %s: starting with the sample desktop; it is written there at exit", desktopPath_.c_str());
        sampleScenesWanted_ = true;
        return sampleDesktop();
    case FileReadStatus::Unreadable:
        desktopWritable_ = false;
        complain("cannot read desktop file %s: starting with the sample desktop, which will not be saved over it",
                 desktopPath_.c_str());
        return sampleDesktop();
    case FileReadStatus::TooLarge:
        desktopWritable_ = false;
        complain("desktop file %s is larger than %zu bytes: not read, and not saved over; starting with the sample desktop",
                 desktopPath_.c_str(), kMaxDesktopFileBytes);
        return sampleDesktop();
    case FileReadStatus::Ok:
        break;
    }
    DesktopReadResult read = parseDesktop(text);
    for (const std::string& problem : read.problems) complain("%s: %s", desktopPath_.c_str(), problem.c_str());
    if (!read.recognised) {
        desktopWritable_ = false;
        complain("%s is left untouched; starting with the sample desktop, which will not be saved", desktopPath_.c_str());
        sampleScenesWanted_ = true;
        return sampleDesktop();
    }
    desktopWritable_ = true;
    say("desktop %s: %zu objects%s", desktopPath_.c_str(), read.objects.size(),
        read.problems.empty() ? "" : " (refused lines are dropped when it is saved)");
    return std::move(read.objects);
}

void HostApp::checkSampleImages() {
    // The sample names its materials and skins relative to the plug-in's
    // directory, as stored names are. The pictures come with the plug-in
    // (samples\ beside it); the host only says which are missing.
    std::string folder = plugin_.path;
    const size_t slash = folder.find_last_of("\\/");
    folder.erase(slash == std::string::npos ? 0 : slash + 1);
    std::set<std::string> shown;
    for (const SampleObject& object : sampleObjects()) {
        for (const char* name : {object.material, object.skin})
            if (name[0] != '\0') shown.insert(name);
    }
    std::string missing;
    size_t there = 0;
    for (const std::string& name : shown) {
        if (GetFileAttributesW(wideOf(folder + name).c_str()) != INVALID_FILE_ATTRIBUTES)
            ++there;
        else
            missing += " " + name;
    }
    say("sample pictures in %s%s: %zu of %zu there%s%s", folder.c_str(), kSampleImageFolder, there, shown.size(),
        missing.empty() ? "" : "; missing:", missing.c_str());
}

void HostApp::startSampleDesktop() {
    checkSampleImages();
    // The plug-in reads each tagged object's scene from the current
    // directory, by binding order; a file already there is the user's and
    // wins over the sample.
    const std::vector<SampleObject>& samples = sampleObjects();
    for (size_t i = 0; i < samples.size(); ++i) {
        const std::string name = sceneFileNameFor(i);
        std::string error;
        switch (writeNewTextFile(name, sceneFileText(samples[i]), &error)) {
        case NewFileStatus::Written:
            say("sample scene file %s written: %s%d, size %g %g %g, colour %g %g %g%s", name.c_str(), samples[i].kind,
                samples[i].fineness, static_cast<double>(samples[i].size[0]), static_cast<double>(samples[i].size[1]),
                static_cast<double>(samples[i].size[2]), static_cast<double>(samples[i].colour[0]),
                static_cast<double>(samples[i].colour[1]), static_cast<double>(samples[i].colour[2]),
                samples[i].translucency != 0.0f ? ", translucent" : "");
            break;
        case NewFileStatus::AlreadyThere:
            say("scene file %s already there: kept, object key=%ld shows the scene it holds", name.c_str(),
                static_cast<long>(samples[i].key));
            break;
        case NewFileStatus::Failed:
            complain("%s; object key=%ld gets the plug-in's default sphere", error.c_str(),
                     static_cast<long>(samples[i].key));
            break;
        }
    }
}

bool HostApp::saveDesktop(const std::vector<std::unique_ptr<HostObject>>& objects, const char* when) {
    if (!desktopWritable_) {
        complain("desktop not saved: %s was not read as a desktop file", desktopPath_.c_str());
        tellUser("Where the objects stand on the desktop was not saved:\n" + desktopPath_ +
                                     "\nis not a desktop file this program can read, so it was left as it is.\n\n"
                                     "Each object's own scene (shape, colour, pictures) is kept by Plexa "
                                     "in its scene file as usual.");
        return false;
    }
    std::vector<DesktopObject> desktop;
    for (const auto& object : objects) {
        DesktopObject saved;
        saved.key = object->key;
        std::copy(object->position, object->position + 3, saved.position);
        saved.data = object->data;
        desktop.push_back(saved);
    }
    std::string error;
    if (!writeFileAtomically(desktopPath_, formatDesktop(desktop), &error)) {
        complain("desktop not saved: %s", error.c_str());
        tellUser("Where the objects stand on the desktop could not be saved in\n" + desktopPath_ +
                                     "\n\nCheck that its folder exists, that you may write there and that the "
                                     "disk is not full.\n\n(" + error + ")");
        return false;
    }
    say("desktop saved %s to %s (%zu objects)", when, desktopPath_.c_str(), desktop.size());
    return true;
}

// --- Binding -------------------------------------------------------------

void HostApp::bindObject(const DesktopObject& source) {
    auto owned = std::make_unique<HostObject>();
    HostObject& object = *owned;
    object.key = source.key;
    std::copy(source.position, source.position + 3, object.position);
    object.data = source.data;
    const bool tagged = hasPlexaTag(object.data);

    object.info = plexa::host::HostInstanceInfo{};
    object.info.hostWindow = window_.window;
    object.info.moduleInstance = plugin_.module;
    object.info.key = object.key;
    object.info.objectData = object.data.data();
    objects_.push_back(std::move(owned));

    {
        PluginCall call(*this, "InitPlugin", object.key);
        plugin_.initPlugin(&object.info);
    }
    ++boundCount_;
    say("bound object key=%ld at (%g, %g, %g) scene file=%s (%s)", static_cast<long>(object.key),
        static_cast<double>(object.position[0]), static_cast<double>(object.position[1]),
        static_cast<double>(object.position[2]), describeScene(object.data).c_str(),
        tagged ? "tagged, finds its scene again" : "new to the plug-in");
}

std::unique_ptr<HostObject> HostApp::unbindAt(size_t index) {
    // Out of the list first, so nothing can reach the object while the
    // plug-in lets go of it; alive until StopPlugin has returned.
    std::unique_ptr<HostObject> object = std::move(objects_[index]);
    objects_.erase(objects_.begin() + static_cast<std::ptrdiff_t>(index));
    if (hasSelection_ && selectedKey_ == object->key) hasSelection_ = false;
    PluginCall call(*this, "StopPlugin", object->key);
    plugin_.stopPlugin(object->key);
    return object;
}

void HostApp::removeObject(int32_t key, const char* why) {
    int index = indexOf(key);
    if (index < 0) {
        say("%s for key=%ld: no such object, ignored", why, static_cast<long>(key));
        return;
    }
    std::unique_ptr<HostObject> object = unbindAt(static_cast<size_t>(index));
    say("%s: object key=%ld unbound (scene file=%s) and removed from the desktop", why, static_cast<long>(key),
        describeScene(object->data).c_str());
}

HostObject* HostApp::find(int32_t key) {
    int index = indexOf(key);
    return index < 0 ? nullptr : objects_[static_cast<size_t>(index)].get();
}

int HostApp::indexOf(int32_t key) const {
    for (size_t i = 0; i < objects_.size(); ++i) {
        if (objects_[i]->key == key) return static_cast<int>(i);
    }
    return -1;
}

int32_t HostApp::unusedKey() const {
    int32_t highest = 100;
    for (const auto& object : objects_) highest = std::max(highest, object->key);
    if (highest < INT32_MAX) return highest + 1;
    std::set<int32_t> used;
    for (const auto& object : objects_) used.insert(object->key);
    int32_t key = 1;
    while (used.count(key)) ++key;
    return key;
}

// --- Main loop and the plug-in's requests ---------------------------------

void HostApp::runLoop() {
    running_ = true;
    const bool counted = options_.frames > 0;
    while (running_) {
        postScriptedClicks();
        pumpMessages();
        // The right click, the plug-in's request to open its menu and the
        // menu itself have all gone through the queue by now.
        unsigned unusedPick = 0;
        if (takeUnusedMenuPick(&unusedPick)) {
            complain("no menu opened after frame %lu: item %u not chosen", static_cast<unsigned long>(framesDrawn_),
                     unusedPick);
        }
        carryOutRequests(false);
        if (!running_) break;
        renderFrame();
        SwapBuffers(window_.deviceContext);
        ++framesDrawn_;
        if (counted && framesDrawn_ >= options_.frames) {
            say("%lu frames drawn: closing", static_cast<unsigned long>(framesDrawn_));
            break;
        }
        if (!counted) {
            // About 60 frames a second, woken early by input.
            MsgWaitForMultipleObjectsEx(0, nullptr, 16, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        }
    }
}

void HostApp::postScriptedClicks() {
    if (!menuScreenshotPath_.empty() && framesDrawn_ == 1 && options_.frames > 0 &&
        std::none_of(options_.clicks.begin(), options_.clicks.end(),
                     [](const ScriptedClick& click) { return click.kind == ScriptedClick::Kind::Right; })) {
        rightClickNearCentre();
    }
    for (const ScriptedClick& click : options_.clicks) {
        if (click.afterFrame != framesDrawn_) continue;
        if (click.menuChoice >= 0 && options_.frames > 0) pickInNextMenu(static_cast<unsigned>(click.menuChoice));
        const LPARAM point = MAKELPARAM(click.x, click.y);
        HWND window = window_.window;
        const char* kind = "";
        // The same sequences a mouse produces; the host reads the Shift state
        // from the message, so a scripted Shift needs no keyboard.
        switch (click.kind) {
        case ScriptedClick::Kind::Left:
            kind = "left";
            PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
            PostMessageA(window, WM_LBUTTONUP, 0, point);
            break;
        case ScriptedClick::Kind::Right:
            kind = "right";
            PostMessageA(window, WM_RBUTTONDOWN, MK_RBUTTON, point);
            PostMessageA(window, WM_RBUTTONUP, 0, point);
            break;
        case ScriptedClick::Kind::ShiftRight:
            kind = "shift-right";
            PostMessageA(window, WM_RBUTTONDOWN, MK_RBUTTON | MK_SHIFT, point);
            PostMessageA(window, WM_RBUTTONUP, MK_SHIFT, point);
            break;
        case ScriptedClick::Kind::Drag: {
            kind = "drag";
            // In steps, as a hand moves the mouse.
            constexpr int kSteps = 8;
            PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
            for (int step = 1; step <= kSteps; ++step) {
                const int x = click.x + (click.toX - click.x) * step / kSteps;
                const int y = click.y + (click.toY - click.y) * step / kSteps;
                PostMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
            }
            PostMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(click.toX, click.toY));
            break;
        }
        case ScriptedClick::Kind::Double:
            kind = "double";
            PostMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
            PostMessageA(window, WM_LBUTTONUP, 0, point);
            PostMessageA(window, WM_LBUTTONDBLCLK, MK_LBUTTON, point);
            PostMessageA(window, WM_LBUTTONUP, 0, point);
            break;
        }
        if (click.kind == ScriptedClick::Kind::Drag) {
            say("scripted drag from (%d, %d) to (%d, %d) after frame %lu", click.x, click.y, click.toX, click.toY,
                static_cast<unsigned long>(framesDrawn_));
        } else {
            say("scripted %s click at (%d, %d) after frame %lu%s", kind, click.x, click.y,
                static_cast<unsigned long>(framesDrawn_),
                click.menuChoice >= 0 ? (", then item " + std::to_string(click.menuChoice) + " of its menu").c_str()
                                      : "");
        }
    }
}

void HostApp::rightClickNearCentre() {
    // The object whose centre is drawn nearest the middle of the window, and
    // that a click there finds (a plane seen edge on may not be).
    std::vector<std::pair<double, size_t>> nearest;
    for (size_t i = 0; i < objects_.size(); ++i) {
        double x = 0.0, y = 0.0;
        if (!projectToWindow(camera_, objects_[i]->position, &x, &y)) continue;
        const double dx = x - camera_.width / 2.0, dy = y - camera_.height / 2.0;
        nearest.push_back({dx * dx + dy * dy, i});
    }
    std::sort(nearest.begin(), nearest.end());
    for (const auto& [distance, index] : nearest) {
        double x = 0.0, y = 0.0;
        projectToWindow(camera_, objects_[index]->position, &x, &y);
        const int cx = static_cast<int>(x), cy = static_cast<int>(y);
        if (pickAt(cx, cy) != static_cast<int>(index)) continue;
        PostMessageA(window_.window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(cx, cy));
        PostMessageA(window_.window, WM_RBUTTONUP, 0, MAKELPARAM(cx, cy));
        say("right click on key=%ld at (%d, %d) for the menu screenshot", static_cast<long>(objects_[index]->key), cx,
            cy);
        return;
    }
    complain("no object to right-click for the menu screenshot");
}

void HostApp::pumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            running_ = false;
            return;
        }
        TranslateMessage(&message);
        // Messages for other windows of this thread are the plug-in's (its
        // command window, its menu): they run plug-in code.
        if (message.hwnd != nullptr && message.hwnd != window_.window) {
            char what[96];
            std::snprintf(what, sizeof what, "a window procedure, message %u wParam %llu", message.message,
                          static_cast<unsigned long long>(message.wParam));
            {
                PluginCall call(*this, what);
                DispatchMessageA(&message);
            }
            // A menu choice reaches the plug-in's command window as a posted
            // WM_COMMAND; once it returns, the command has done its work. Its
            // own request to open the menu is not a command.
            const UINT id = LOWORD(message.wParam);
            if (message.message == WM_COMMAND && id != msg::kPopupCommand) {
                say("command done: key=%ld id=%u", static_cast<long>(menuKey_), id);
            }
        } else {
            DispatchMessageA(&message);
        }
    }
}

void HostApp::carryOutRequests(bool closing) {
    while (!requests_.empty()) {
        PluginRequest request = requests_.front();
        requests_.pop_front();
        if (request.kind == PluginRequest::Kind::Exit) {
            ++exitedCount_;
            removeObject(request.key, "the plug-in's Exit");
        } else if (closing) {
            say("colour request for key=%ld dropped: the host is closing", static_cast<long>(request.key));
        } else {
            chooseColour(request.key);
        }
    }
}

void HostApp::chooseColour(int32_t key) {
    HostObject* object = find(key);
    if (!object) {
        say("colour request for key=%ld: no such object, ignored", static_cast<long>(key));
        return;
    }
    const uint8_t* current = object->data.data() + od::kColorOffset;
    static COLORREF customColours[16] = {};
    CHOOSECOLORA choose{};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = window_.window;
    choose.rgbResult = RGB(current[0], current[1], current[2]);
    choose.lpCustColors = customColours;
    choose.Flags = CC_RGBINIT | CC_FULLOPEN | CC_ANYCOLOR;
    BOOL chosen = ChooseColorA(&choose);
    // The dialog ran a message loop: look the object up again.
    object = find(key);
    if (!chosen || !object) {
        say("colour for key=%ld: %s", static_cast<long>(key), object ? "cancelled, nothing forwarded" : "object gone meanwhile");
        return;
    }
    uint8_t* colour = object->data.data() + od::kColorOffset;
    colour[0] = GetRValue(choose.rgbResult);
    colour[1] = GetGValue(choose.rgbResult);
    colour[2] = GetBValue(choose.rgbResult);
    forward(key, msg::kCommand, msg::kColorCommand, key);
    say("colour for key=%ld: %u %u %u written at byte 336 and forwarded", static_cast<long>(key), colour[0], colour[1],
        colour[2]);
}

int32_t HostApp::forward(int32_t key, uint32_t message, uint64_t wParam, int64_t lParam) {
    plexa::host::HostMessage record{};
    record.key = key;
    record.message = message;
    record.wParam = wParam;
    record.lParam = lParam;
    PluginCall call(*this, "ReceiveMessage", key);
    return plugin_.receiveMessage(&record);
}

// --- Window messages -----------------------------------------------------

LRESULT HostApp::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Input that reaches the host while plug-in code runs a modal loop (its
    // About box, its menu) is dropped rather than fed back into the plug-in.
    const bool inputAllowed = pluginBusy_ == 0 && plugin_.module != nullptr && !rendering_;
    switch (message) {
    case WM_CLOSE:
        // The window must outlive the plug-in: StopPlugin still needs the
        // context. The main loop ends and the shutdown destroys the window.
        running_ = false;
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        if (inputAllowed && window_.renderingContext) {
            renderFrame();
            SwapBuffers(window_.deviceContext);
        }
        return 0;
    }
    case WM_COMMAND:
        if (wParam == msg::kColorCommand) {
            requests_.push_back({PluginRequest::Kind::ChooseColour, static_cast<int32_t>(lParam)});
            return 0;
        }
        break;
    case msg::kExitObject:
        requests_.push_back({PluginRequest::Kind::Exit, static_cast<int32_t>(wParam)});
        return 0;
    case WM_RBUTTONDOWN:
        if (inputAllowed) onRightButton(wParam, lParam);
        return 0;
    case WM_LBUTTONDBLCLK:
        if (inputAllowed) onDoubleClick(wParam, lParam);
        return 0;
    case WM_LBUTTONDOWN:
        if (inputAllowed) onLeftButton(lParam);
        return 0;
    case WM_MOUSEMOVE:
        if (inputAllowed) onMouseMove(wParam, lParam);
        return 0;
    case WM_LBUTTONUP:
        if (dragging_) endDrag(true);
        return 0;
    case WM_CAPTURECHANGED:
        // Taken by someone else (a menu, a dialog): the drag is over.
        if (dragging_) endDrag(false);
        return 0;
    case WM_KEYDOWN:
        if (inputAllowed) onKey(wParam);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void HostApp::onRightButton(WPARAM wParam, LPARAM lParam) {
    POINT client{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    int index = pickAt(client.x, client.y);
    if (index < 0) {
        showHostMenu(-1, client);
        return;
    }
    const int32_t key = objects_[static_cast<size_t>(index)]->key;
    // The plug-in hands the point straight to TrackPopupMenu, which wants
    // screen coordinates: low 16 bits x, next 16 bits y.
    POINT screen = client;
    ClientToScreen(window_.window, &screen);
    const int64_t point = static_cast<int64_t>((static_cast<uint32_t>(screen.y) & 0xFFFF) << 16 |
                                               (static_cast<uint32_t>(screen.x) & 0xFFFF));
    int32_t handled = forward(key, msg::kRightButtonDown, wParam, point);
    if (handled) menuKey_ = key;
    say("right click on key=%ld%s: plug-in %s", static_cast<long>(key), (wParam & MK_SHIFT) ? " with Shift" : "",
        handled ? "opens its menu" : "left it to the host");
    if (!handled) {
        index = indexOf(key);
        if (index >= 0) showHostMenu(index, client);
    }
}

void HostApp::onDoubleClick(WPARAM wParam, LPARAM lParam) {
    POINT client{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    int index = pickAt(client.x, client.y);
    if (index < 0) return;
    const int32_t key = objects_[static_cast<size_t>(index)]->key;
    POINT screen = client;
    ClientToScreen(window_.window, &screen);
    const int64_t point = static_cast<int64_t>((static_cast<uint32_t>(screen.y) & 0xFFFF) << 16 |
                                               (static_cast<uint32_t>(screen.x) & 0xFFFF));
    int32_t handled = forward(key, msg::kLeftDoubleClick, wParam, point);
    say("double click on key=%ld: %s", static_cast<long>(key),
        handled ? "the plug-in opens its shortcut" : "no shortcut, nothing to open");
}

void HostApp::onLeftButton(LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam), y = GET_Y_LPARAM(lParam);
    if (dragging_) endDrag(true);
    int index = pickAt(x, y);
    if (index < 0) {
        if (hasSelection_) say("selection cleared");
        hasSelection_ = false;
        return;
    }
    const HostObject& object = *objects_[static_cast<size_t>(index)];
    selectedKey_ = object.key;
    hasSelection_ = true;
    say("selected key=%ld: drag it, or move it with the arrow keys and Page Up/Down", static_cast<long>(selectedKey_));
    float grabbed[3];
    if (pointAtHeight(camera_, x + 0.5, y + 0.5, object.position[1], grabbed)) {
        dragging_ = true;
        dragMoved_ = false;
        dragKey_ = object.key;
        std::copy(grabbed, grabbed + 3, dragLast_);
        // Keeps the button's release coming here when the cursor leaves the
        // window mid-drag.
        SetCapture(window_.window);
    }
}

void HostApp::onMouseMove(WPARAM wParam, LPARAM lParam) {
    if (!dragging_) return;
    HostObject* object = find(dragKey_);
    // A release missed while the plug-in held the input ends the drag too.
    if (!object || !(wParam & MK_LBUTTON)) {
        endDrag(true);
        return;
    }
    float point[3];
    if (!pointAtHeight(camera_, GET_X_LPARAM(lParam) + 0.5, GET_Y_LPARAM(lParam) + 0.5, object->position[1], point))
        return;
    if (std::fabs(point[0]) > kDragReach || std::fabs(point[2]) > kDragReach) return;
    const float dx = point[0] - dragLast_[0];
    const float dz = point[2] - dragLast_[2];
    if (dx == 0.0f && dz == 0.0f) return;
    object->position[0] += dx;
    object->position[2] += dz;
    std::copy(point, point + 3, dragLast_);
    dragMoved_ = true;
}

void HostApp::endDrag(bool releaseCapture) {
    // Cleared first: ReleaseCapture sends WM_CAPTURECHANGED straight back.
    dragging_ = false;
    if (releaseCapture && GetCapture() == window_.window) ReleaseCapture();
    const HostObject* object = find(dragKey_);
    if (dragMoved_ && object) {
        say("moved key=%ld to (%g, %g, %g)", static_cast<long>(object->key), static_cast<double>(object->position[0]),
            static_cast<double>(object->position[1]), static_cast<double>(object->position[2]));
    }
    dragMoved_ = false;
}

void HostApp::onKey(WPARAM key) {
    if (!hasSelection_) return;
    HostObject* object = find(selectedKey_);
    if (!object) return;
    // Over the floor as the view shows it: Up moves away from the viewer.
    switch (key) {
    case VK_LEFT: object->position[0] -= kMoveStep; break;
    case VK_RIGHT: object->position[0] += kMoveStep; break;
    case VK_UP: object->position[2] -= kMoveStep; break;
    case VK_DOWN: object->position[2] += kMoveStep; break;
    case VK_PRIOR: object->position[1] += kMoveStep; break;
    case VK_NEXT: object->position[1] -= kMoveStep; break;
    default: break;
    }
}

void HostApp::showHostMenu(int target, POINT client) {
    const int32_t key = target >= 0 ? objects_[static_cast<size_t>(target)]->key : 0;
    char title[64];
    if (target >= 0) {
        std::snprintf(title, sizeof title, "Object %ld", static_cast<long>(key));
    } else {
        std::snprintf(title, sizeof title, "Desktop");
    }
    const UINT needsObject = target >= 0 ? 0 : MF_GRAYED;
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_STRING | MF_GRAYED, 0, title);
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kMenuAddObject, "Add object here");
    AppendMenuA(menu, MF_STRING | needsObject, kMenuChooseColour, "Choose colour...");
    AppendMenuA(menu, MF_STRING | needsObject, kMenuRemoveObject, "Remove object");
    AppendMenuA(menu, MF_STRING | needsObject, kMenuCopyObject, "Copy object");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, kMenuSaveDesktop, "Save desktop now");
    say("host menu for %s", target >= 0 ? ("key=" + std::to_string(key)).c_str() : "the desktop");
    POINT screen = client;
    ClientToScreen(window_.window, &screen);
    SetForegroundWindow(window_.window);
    UINT chosen = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, window_.window, nullptr));
    DestroyMenu(menu);

    switch (chosen) {
    case kMenuAddObject: {
        DesktopObject added;
        added.key = unusedKey();
        // At height 0 an object of unit size rests on the floor; a click in
        // the sky puts it in the middle of the desktop.
        if (!pointAtHeight(camera_, client.x + 0.5, client.y + 0.5, 0.0, added.position) ||
            std::fabs(added.position[0]) > kDragReach || std::fabs(added.position[2]) > kDragReach) {
            added.position[0] = added.position[1] = added.position[2] = 0.0f;
        }
        bindObject(added);
        break;
    }
    case kMenuChooseColour:
        requests_.push_back({PluginRequest::Kind::ChooseColour, key});
        break;
    case kMenuRemoveObject:
        ++removedByHostCount_;
        removeObject(key, "host menu Remove");
        break;
    case kMenuSaveDesktop:
        saveDesktop(objects_, "on request");
        break;
    case kMenuCopyObject: {
        // As a desktop program copies an object: the data block byte for
        // byte, so the copy names the same scene file, under a key of its own.
        const HostObject* original = find(key);
        if (!original) break;
        DesktopObject copy;
        copy.key = unusedKey();
        std::copy(original->position, original->position + 3, copy.position);
        copy.position[0] += kCopyOffset;
        copy.data = original->data;
        say("host menu Copy: object key=%ld copied as key=%ld (scene file=%s)", static_cast<long>(key),
            static_cast<long>(copy.key), describeScene(copy.data).c_str());
        bindObject(copy);
        break;
    }
    default:
        break;
    }
}

// --- Drawing -------------------------------------------------------------

void HostApp::setUpCamera(int width, int height) {
    camera_ = desktopCamera(width, height);
    scenery::applyCamera(camera_);
}

void HostApp::renderFrame(int tileColumn, int tileRow, int tiles) {
    int width = 0, height = 0;
    window_.clientSize(&width, &height);
    if (width <= 0 || height <= 0 || rendering_) return;
    rendering_ = true;
    setUpCamera(width, height);
    if (tiles > 1) {
        const Camera tile = tileOf(camera_, tileColumn, tileRow, tiles);
        scenery::applyCamera(tile);
        scenery::drawBackdrop(tile);
    } else {
        scenery::drawBackdrop(camera_);
    }

    // The pick lists are the objects' shapes without their colours: just
    // what a shadow needs. Without a stencil buffer there are no shadows.
    if (window_.stencilBits >= 8) {
        scenery::beginShadows();
        for (const auto& object : objects_) drawInFrame(*object, true);
        scenery::endShadows();
    }

    // The plug-in blends a translucent block over whatever is already in the
    // frame and still writes depth, so whatever lies behind it must be drawn
    // first: far objects first.
    scenery::prepareObjectPass();
    for (size_t index : backToFront()) drawInFrame(*objects_[index], false);

    if (hasSelection_) {
        if (const HostObject* selected = find(selectedKey_)) scenery::drawSelectionMark(selected->position);
    }
    rendering_ = false;
}

void HostApp::drawInFrame(const HostObject& object, bool phantom) {
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glTranslatef(object.position[0], object.position[1], object.position[2]);
    glEnable(GL_TEXTURE_2D);
    if (phantom) {
        PluginCall call(*this, "PhantomDraw", object.key);
        plugin_.phantomDraw(object.key);
    } else {
        // No tint of the host's own: the plug-in's lists set their colours.
        glColor3f(1.0f, 1.0f, 1.0f);
        PluginCall call(*this, "TimerDraw", object.key);
        plugin_.timerDraw(object.key);
    }
    glPopMatrix();
}

std::vector<size_t> HostApp::backToFront() const {
    std::vector<double> depth(objects_.size());
    std::vector<size_t> order(objects_.size());
    for (size_t i = 0; i < objects_.size(); ++i) {
        order[i] = i;
        depth[i] = viewDepth(camera_, objects_[i]->position);
    }
    std::stable_sort(order.begin(), order.end(), [&depth](size_t a, size_t b) { return depth[a] > depth[b]; });
    return order;
}

int HostApp::pickAt(int x, int y) {
    int width = 0, height = 0;
    window_.clientSize(&width, &height);
    if (window_.stencilBits < 8 || objects_.empty() || x < 0 || y < 0 || x >= width || y >= height) return -1;
    setUpCamera(width, height);

    // Each object drawn by its PhantomDraw pass writes its number into the
    // stencil buffer where it is nearest; 8 stencil bits number 255 objects a
    // pass, and the depth buffer carries over from pass to pass so a later
    // pass only wins where its object is in front. No culling: a plane's
    // pick list has no underside, and seen from below it must still be hit.
    glColorMask(GL_FALSE, GL_FALSE, GL_FALSE, GL_FALSE);
    glDisable(GL_CULL_FACE);
    glDisable(GL_BLEND);
    glDisable(GL_FOG);
    glDisable(GL_LIGHTING);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glDepthMask(GL_TRUE);
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);
    glEnable(GL_STENCIL_TEST);
    glStencilMask(0xFF);
    glStencilOp(GL_KEEP, GL_KEEP, GL_REPLACE);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);

    constexpr size_t kPerPass = 255;
    int hit = -1;
    for (size_t first = 0; first < objects_.size(); first += kPerPass) {
        glClearStencil(0);
        glClear(GL_STENCIL_BUFFER_BIT);
        const size_t end = std::min(objects_.size(), first + kPerPass);
        for (size_t i = first; i < end; ++i) {
            glStencilFunc(GL_ALWAYS, static_cast<GLint>(i - first + 1), 0xFF);
            drawInFrame(*objects_[i], true);
        }
        GLubyte number = 0;
        glReadPixels(x, height - 1 - y, 1, 1, GL_STENCIL_INDEX, GL_UNSIGNED_BYTE, &number);
        if (number != 0) hit = static_cast<int>(first + number - 1);
    }
    glDisable(GL_STENCIL_TEST);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    return hit;
}

void HostApp::reportObjectsOnScreen() {
    // Where to click on each object, for scripted runs (--click) and for
    // reading a screenshot.
    for (const auto& object : objects_) {
        double x = 0.0, y = 0.0;
        if (projectToWindow(camera_, object->position, &x, &y) && x >= 0.0 && y >= 0.0 && x < camera_.width &&
            y < camera_.height) {
            say("on screen: key=%ld at %d,%d", static_cast<long>(object->key), static_cast<int>(x),
                static_cast<int>(y));
        } else {
            say("on screen: key=%ld out of view", static_cast<long>(object->key));
        }
    }
}

bool HostApp::takeScreenshot() {
    if (screenshotPath_.empty()) return true;
    int width = 0, height = 0;
    window_.clientSize(&width, &height);
    if (width <= 0 || height <= 0) {
        complain("no screenshot: the window has no area (minimised?)");
        return false;
    }
    // Drawn at three times the window's size, a tile at a time, and scaled
    // down: edges and the far floor come out smooth, with no multisampling
    // needed from the pixel format.
    constexpr int kTiles = 3;
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> tilePixels(rowBytes * static_cast<size_t>(height));
    std::vector<uint32_t> sums(tilePixels.size(), 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    while (glGetError() != GL_NO_ERROR) {
    }
    GLenum glError = GL_NO_ERROR;
    for (int row = 0; row < kTiles && glError == GL_NO_ERROR; ++row) {
        for (int column = 0; column < kTiles && glError == GL_NO_ERROR; ++column) {
            renderFrame(column, row, kTiles);
            glFinish();
            glReadBuffer(GL_BACK);
            glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, tilePixels.data());
            glError = glGetError();
            // Pixel (x, y) of the tile is pixel (column * width + x,
            // row * height + y) of the enlarged picture, bottom-up.
            for (int y = 0; y < height; ++y) {
                const size_t outRow = static_cast<size_t>((row * height + y) / kTiles);
                for (int x = 0; x < width; ++x) {
                    const size_t out = outRow * rowBytes + static_cast<size_t>((column * width + x) / kTiles) * 3;
                    const size_t in = static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x) * 3;
                    sums[out] += tilePixels[in];
                    sums[out + 1] += tilePixels[in + 1];
                    sums[out + 2] += tilePixels[in + 2];
                }
            }
        }
    }
    // What the window shows afterwards: the whole view again.
    renderFrame();
    SwapBuffers(window_.deviceContext);
    if (glError != GL_NO_ERROR) {
        complain("no screenshot: glReadPixels failed with OpenGL error 0x%04x", glError);
        return false;
    }
    // OpenGL's rows run bottom-up, PNG's top-down.
    constexpr uint32_t kSamples = kTiles * kTiles;
    std::vector<uint8_t> topDown(sums.size());
    for (int row = 0; row < height; ++row) {
        const uint32_t* from = sums.data() + static_cast<size_t>(height - 1 - row) * rowBytes;
        uint8_t* to = topDown.data() + static_cast<size_t>(row) * rowBytes;
        for (size_t i = 0; i < rowBytes; ++i) to[i] = static_cast<uint8_t>((from[i] + kSamples / 2) / kSamples);
    }
    std::string error;
    if (!writePngFile(screenshotPath_, static_cast<uint32_t>(width), static_cast<uint32_t>(height), topDown.data(),
                      &error)) {
        complain("no screenshot: %s", error.c_str());
        return false;
    }
    say("screenshot %s (%dx%d)", screenshotPath_.c_str(), width, height);
    reportObjectsOnScreen();
    return true;
}

}  // namespace plexa::refhost

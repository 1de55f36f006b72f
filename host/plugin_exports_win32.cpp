// The plug-in's five exports: the whole boundary with the host (platform side).
//
// [X] InitPlugin: library state, command window, instance start-up
// [X] StopPlugin: save into the host directory, remove, close the window with the last
// [X] binding reads from the host directory, whatever the current one is
// [X] TimerDraw / PhantomDraw by key
// [X] ReceiveMessage: 273 (colour reply, saved at once and undoable, beep),
//     515, 516, 1087
// [X] nothing thrown below an export reaches the host
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "host/command_window.h"
#include "host/guard.h"
#include "host/host_records.h"
#include "host/instance_table.h"
#include "host/library_state.h"
#include "host/shortcut.h"
#include "render/draw.h"
#include "render/transform.h"
#include "scene/scene_file.h"

using namespace plexa;
using host::HostInstanceInfo;
using host::HostMessage;

namespace {

void determineDirectories(host::LibraryState& state) {
    // A host that renamed the library gets no module here; the null handle
    // then names the host program itself, as the system defines it.
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(GetModuleHandleA("Plexa"), path, sizeof path);
    path[sizeof path - 1] = '\0';
    if (length > 0) {
        for (size_t i = std::strlen(path) - 1; i >= 1; --i) {
            if (path[i] == '\\') {
                path[i + 1] = '\0';
                break;
            }
        }
    }
    std::memcpy(state.pluginDirectory, path, sizeof state.pluginDirectory);

    // A current directory too long for a path buffer cannot be returned to;
    // ".\" keeps every later switch a harmless no-op instead.
    char current[MAX_PATH] = {};
    const DWORD currentLength = GetCurrentDirectoryA(sizeof current, current);
    if (currentLength == 0 || currentLength >= sizeof current) std::strcpy(current, ".");
    std::strcpy(state.hostDirectory, current);
    std::strcat(state.hostDirectory, "\\");
}

// Makes a directory current for its lifetime, then returns to the one before.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const char* directory) {
        const DWORD length = GetCurrentDirectoryA(sizeof remembered_, remembered_);
        canReturn_ = length > 0 && length < sizeof remembered_;
        entered_ = SetCurrentDirectoryA(directory) != 0;
    }
    ~CurrentDirectory() {
        if (canReturn_) SetCurrentDirectoryA(remembered_);
    }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;
    bool entered() const { return entered_; }

private:
    char remembered_[MAX_PATH + 1] = {};
    bool canReturn_ = false;
    bool entered_ = false;
};

void forgetCommandWindowIfGone(host::LibraryState& state) {
    if (state.commandWindow && !IsWindow(static_cast<HWND>(state.commandWindow))) state.commandWindow = nullptr;
}

}  // namespace

namespace plexa::host {

bool saveInHostDirectory(PluginInstance& instance, SaveMoment moment) {
    CurrentDirectory inHost(library().hostDirectory);
    // Saved anywhere but the host's directory, the scene could overwrite
    // another desktop's file of the same name; it is not saved at all then.
    if (!inHost.entered()) {
        logSaveProblem(instance, std::string("cannot save scene file ") + instance.fileName);
        return false;
    }
    return saveInstance(instance, moment);
}

void saveIfChanged(PluginInstance& instance, const char* before) {
    const scene::Block* block = instance.scene->selected;
    if (!block) return;
    char after[scene::kLineCapacity];
    scene::writeLine(*block, after, false);
    if (std::strcmp(before, after) != 0) saveInHostDirectory(instance, SaveMoment::Edit);
}

}  // namespace plexa::host

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        if (reserved != nullptr) {
            // The process is ending: the system's OpenGL may already be gone.
            render::setGlAvailable(false);
        } else {
            // Unloaded while bound: the window procedure is about to disappear
            // with the library, so its window must not outlive it.
            host::destroyCommandWindow();
        }
    }
    return TRUE;
}

namespace {

int32_t initPlugin(const HostInstanceInfo* info) {
    if (!info) return 1;
    host::LibraryState& state = host::library();
    if (!state.initialised) {
        std::memcpy(&state.firstRecord, info, sizeof state.firstRecord);
        state.hostWindow = info->hostWindow;
        state.moduleInstance = info->moduleInstance;
        determineDirectories(state);
    }
    // The host may have destroyed our window along with its own.
    forgetCommandWindowIfGone(state);
    if (!state.commandWindow) state.commandWindow = host::createCommandWindow();

    host::InstanceTable& table = host::instances();
    host::PluginInstance& instance = table.add(*info);
    if (std::memcmp(instance.hostData + host::object_data::kTagOffset, host::kTag, 3) != 0)
        PostMessageA(static_cast<HWND>(state.commandWindow), WM_COMMAND, host::messages::kAboutCommand, 0);
    table.setCurrent(&instance);
    {
        // The scene is read from where it will be saved: a host may have
        // changed its current directory since the first binding.
        CurrentDirectory inHost(state.hostDirectory);
        host::startInstance(instance, &table);
    }
    state.initialised = true;
    return 1;
}

void stopPlugin(int32_t key) {
    host::InstanceTable& table = host::instances();
    host::PluginInstance* instance = table.findByKey(key);
    if (!instance) return;

    host::saveInHostDirectory(*instance, host::SaveMoment::Unbinding);

    table.removeAt(instance->number);
    if (table.count() == 0) host::destroyCommandWindow();
}

int32_t receiveMessage(const HostMessage* message) {
    if (!message) return 0;
    host::PluginInstance* instance = host::instances().findByKey(message->key);
    if (!instance) return 0;

    switch (message->message) {
        case host::messages::kCommand: {
            if (message->wParam != host::messages::kColorCommand) {
                MessageBeep(MB_ICONEXCLAMATION);
                return 0;
            }
            scene::Block* block = instance->scene->selected;
            if (!block) return 0;
            char before[scene::kLineCapacity];
            scene::writeLine(*block, before, false);
            const host::BlockState state = host::captureBlock(*block);
            const uint8_t* rgb = instance->hostData + host::object_data::kColorOffset;
            const bool made = scene::editBlock(*block, [&] {
                for (int channel = 0; channel < 3; ++channel)
                    block->color[channel] = static_cast<float>(rgb[channel] / 255.0);
                render::refresh(*block);
            });
            if (!made) return 0;
            host::saveIfChanged(*instance, before);
            instance->history.record(static_cast<uint32_t>(host::messages::kColorCommand), state, before, *block);
            return 0;
        }
        case host::messages::kLeftDoubleClick:
            return host::openShortcut(*instance);
        case host::messages::kRightButtonDown:
            if (message->wParam & host::messages::kShiftKey) return 0;
            host::instances().setCurrent(instance);
            PostMessageA(static_cast<HWND>(host::library().commandWindow), WM_COMMAND,
                         host::messages::kPopupCommand, static_cast<LPARAM>(message->lParam));
            return 1;
        case host::messages::kNewObjectData:
            // A null block would leave the instance writing through nothing;
            // it keeps the block it has.
            host::adoptDataBlock(*instance, reinterpret_cast<uint8_t*>(static_cast<intptr_t>(message->lParam)));
            return 0;
        default:
            return 0;
    }
}

}  // namespace

// Whatever the code below throws ends at these five doors, logged: the host's
// process and its own work go on.
extern "C" int32_t InitPlugin(const HostInstanceInfo* info) {
    return host::guarded("binding an object", int32_t{1}, [&] { return initPlugin(info); });
}

extern "C" void StopPlugin(int32_t key) {
    host::guarded("unbinding an object", 0, [&] {
        stopPlugin(key);
        return 0;
    });
}

extern "C" void TimerDraw(int32_t key) {
    host::guarded("drawing", 0, [&] {
        if (const scene::Scene* scene = host::instances().findScene(key)) render::drawScene(*scene);
        return 0;
    });
}

extern "C" void PhantomDraw(int32_t key) {
    host::guarded("drawing", 0, [&] {
        if (const scene::Scene* scene = host::instances().findScene(key)) render::drawPickLists(*scene);
        return 0;
    });
}

extern "C" int32_t ReceiveMessage(const HostMessage* message) {
    return host::guarded("a message", int32_t{0}, [&] { return receiveMessage(message); });
}

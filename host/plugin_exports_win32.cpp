// The plug-in's five exports: the whole boundary with the host (platform side).
//
// [X] InitPlugin: library state, command window, instance start-up
// [X] StopPlugin: save into the host directory, remove, close the window with the last
// [X] binding reads from the host directory, whatever the current one is
// [X] TimerDraw / PhantomDraw by key
// [X] ReceiveMessage: 273 (colour reply, saved at once and undoable, beep),
//     515, 516, 1087
// [X] both directories by the wide-character calls, of any name and length
// [X] a host folder that cannot be written: scenes kept per user, shown at
//     the next binding while the host's file holds what they replace, and
//     moved back by the first save the folder takes again
// [X] nothing thrown below an export reaches the host
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "host/command_window.h"
#include "host/guard.h"
#include "host/host_records.h"
#include "host/instance_table.h"
#include "host/library_state.h"
#include "host/paths.h"
#include "host/shortcut.h"
#include "host/wide_names.h"
#include "geometry/numeric.h"
#include "scene/file_commit.h"
#include "scene/side_file.h"
#include "render/draw.h"
#include "render/transform.h"
#include "scene/scene_file.h"

using namespace plexa;
using host::HostInstanceInfo;
using host::HostMessage;

namespace {

// The ANSI form of a folder, for the rules of stored names: those are bytes
// of the ANSI code page, and so are the names the choosers return.
void keepAnsiForm(const std::wstring& folder, char* out, size_t capacity) {
    const int length = WideCharToMultiByte(CP_ACP, 0, folder.c_str(), -1, out, static_cast<int>(capacity), nullptr,
                                           nullptr);
    if (length <= 0) out[0] = '\0';
    out[capacity - 1] = '\0';
}

void determineDirectories(host::LibraryState& state) {
    // A host that renamed the library gets no module here; the null handle
    // then names the host program itself, as the system defines it.
    const HMODULE module = GetModuleHandleW(L"Plexa");
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = 0;
    for (;;) {
        length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size() || path.size() > 32768) break;
        path.resize(path.size() * 2);
    }
    path.resize(length < path.size() ? length : 0);
    const size_t backslash = path.find_last_of(L'\\');
    if (backslash != std::wstring::npos && backslash >= 1) path.resize(backslash + 1);
    state.pluginFolder = path;
    keepAnsiForm(state.pluginFolder, state.pluginDirectory, sizeof state.pluginDirectory);

    // Without a current directory every later switch stays where it is.
    state.hostFolder = host::currentDirectory();
    if (state.hostFolder.empty()) state.hostFolder = L".\\";
    keepAnsiForm(state.hostFolder, state.hostDirectory, sizeof state.hostDirectory);
}

void forgetCommandWindowIfGone(host::LibraryState& state) {
    if (state.commandWindow && !IsWindow(static_cast<HWND>(state.commandWindow))) state.commandWindow = nullptr;
}

// ---------------------------------------------------------------- the per-user folder

const std::wstring& perUserFolder(host::LibraryState& state) {
    if (state.perUserFolder.empty()) {
        wchar_t base[MAX_PATH] = {};
        if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, base)) && base[0]) {
            const std::u16string name = host::perUserFolderName(
                std::u16string_view(reinterpret_cast<const char16_t*>(state.hostFolder.data()), state.hostFolder.size()));
            state.perUserFolder = std::wstring(base) + L"\\Plexa\\Scenes\\" +
                                  std::wstring(reinterpret_cast<const wchar_t*>(name.data()), name.size()) + L"\\";
        }
    }
    return state.perUserFolder;
}

bool createFolders(const std::wstring& folder) {
    // Each level that is missing; the levels above the user's own are there.
    for (size_t at = folder.find(L'\\', 3); at != std::wstring::npos; at = folder.find(L'\\', at + 1))
        CreateDirectoryW(host::systemName(L"", std::wstring_view(folder.data(), at)).c_str(), nullptr);
    const DWORD attributes = GetFileAttributesW(host::systemName(L"", folder).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether the folder refuses new files: read-only, denied, or full. A new
// file that cannot be made for another reason (held, say) does not count.
bool refusesWriting(const std::wstring& folder) {
    const std::wstring name =
        host::systemName(folder, L"plexa-probe-" + std::to_wstring(GetCurrentProcessId()) + L".tmp");
    HANDLE probe = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    DWORD error = probe == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    if (probe != INVALID_HANDLE_VALUE) {
        // A full disk still makes the file; it refuses its bytes.
        const char bytes[512] = {};
        DWORD written = 0;
        if (!WriteFile(probe, bytes, sizeof bytes, &written, nullptr) || !FlushFileBuffers(probe))
            error = GetLastError();
        CloseHandle(probe);
    }
    return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT || error == ERROR_DISK_FULL ||
           error == ERROR_HANDLE_DISK_FULL;
}

// Scenes are kept in the per-user folder from now on: the log goes beside
// them, and the user is told once per library load.
void keepScenesPerUser(host::LibraryState& state) {
    state.keepingScenesPerUser = true;
    const std::string folder = host::toUtf8(state.perUserFolder);
    geometry::setLogFolder(folder);
    if (state.toldOfPerUserFolder) return;
    // The folder first: a record longer than the log's line is cut.
    geometry::logError(("scenes kept in " + folder + ": the host folder cannot be written").c_str());
    // Shown by the command window once the host's loop delivers it, never
    // from inside an export.
    if (state.commandWindow) {
        PostMessageW(static_cast<HWND>(state.commandWindow), WM_COMMAND, host::kPerUserNoticeCommand, 0);
        state.toldOfPerUserFolder = true;
    }
}

std::string perUserName(host::LibraryState& state, const host::PluginInstance& instance) {
    return host::toUtf8(perUserFolder(state)) + instance.fileName;
}

bool saveInPerUserFolder(host::PluginInstance& instance, host::SaveMoment moment) {
    host::LibraryState& state = host::library();
    const std::wstring& folder = perUserFolder(state);
    if (folder.empty() || !createFolders(folder)) {
        host::logSaveProblem(instance, std::string("cannot save scene file ") + instance.fileName +
                                           ": the host folder cannot be written, nor " + host::toUtf8(folder));
        return false;
    }
    keepScenesPerUser(state);
    // The file there is this object's if it holds what the object read or
    // wrote there; the file says what it replaces here, as a side file does.
    std::swap(instance.ownedPath, instance.perUser.ownedPath);
    std::swap(instance.ownedBytes, instance.perUser.ownedBytes);
    instance.replaces = instance.perUser.replaces;
    bool saved = false;
    {
        host::CurrentDirectory there(folder);
        saved = there.entered() && host::saveInstance(instance, moment);
    }
    instance.replaces.reset();
    std::swap(instance.ownedPath, instance.perUser.ownedPath);
    std::swap(instance.ownedBytes, instance.perUser.ownedBytes);
    if (saved) instance.perUser.active = true;
    return saved;
}

// The host folder took the scene again: the per-user copy has had its day.
void leavePerUserFolder(host::PluginInstance& instance) {
    host::LibraryState& state = host::library();
    scene::removeFile(perUserName(state, instance).c_str());
    RemoveDirectoryW(host::systemName(L"", state.perUserFolder).c_str());
    instance.perUser.active = false;
    instance.perUser.ownedPath.clear();
    state.keepingScenesPerUser = false;
    geometry::setLogFolder({});
}

// At binding, in the host folder: a scene kept in the per-user folder for
// this file is shown while the host folder's file still holds what it
// replaces (or is gone); otherwise it was made for another version of that
// file and is kept aside there.
void findPerUserScene(host::PluginInstance& instance) {
    host::LibraryState& state = host::library();
    instance.perUser = {};
    if (perUserFolder(state).empty()) return;
    const std::string kept = perUserName(state, instance);
    std::string bytes;
    if (scene::readContent(kept.c_str(), bytes) != scene::Content::Read) return;
    scene::Replaced recorded;
    const scene::Standing standing =
        scene::findReplaced(bytes, recorded) ? scene::standingOf(recorded, instance.fileName) : scene::Standing::Foreign;
    // The host folder's file cannot be read now: both stay for a later binding.
    if (standing == scene::Standing::Unknown) return;
    if (standing == scene::Standing::Foreign) {
        for (int n = 1; n <= 999; ++n) {
            const std::string aside = kept + ".kept" + (n == 1 ? std::string() : std::to_string(n));
            if (scene::markOf(aside.c_str()).exists) continue;
            if (scene::moveToUnusedName(kept.c_str(), aside.c_str()) == scene::Move::Done)
                geometry::logError(("scene file " + kept + " was made for another version of " +
                                    instance.fileName + ", kept as " + aside)
                                       .c_str());
            break;
        }
        return;
    }
    auto shown = std::make_unique<scene::Scene>();
    {
        scene::DeferredRefresh deferred(*shown);
        if (!shown->load(kept.c_str(), 1) || shown->count() == 0) return;
        shown->removeFrom(1);
        shown->selected = shown->block(0);
        if (shown->selected->kind != scene::PLANE && shown->selected->kind != scene::SPHERE) return;
    }
    instance.scene = std::move(shown);
    instance.perUser.replaces = recorded;
    instance.perUser.active = true;
    instance.perUser.ownedBytes = std::move(bytes);
    scene::fullPathName(kept.c_str(), instance.perUser.ownedPath);
    if (refusesWriting(state.hostFolder)) keepScenesPerUser(state);
}

}  // namespace

namespace plexa::host {

bool saveInHostDirectory(PluginInstance& instance, SaveMoment moment) {
    LibraryState& state = library();
    {
        CurrentDirectory inHost(state.hostFolder);
        // Saved anywhere but the host's directory, the scene could overwrite
        // another desktop's file of the same name; it is not saved at all then.
        if (!inHost.entered()) {
            logSaveProblem(instance, std::string("cannot save scene file ") + instance.fileName);
            return false;
        }
        // While scenes are kept per user, a scene goes back only once the
        // folder takes files.
        if (!(instance.perUser.active || state.keepingScenesPerUser) || !refusesWriting(state.hostFolder)) {
            instance.newFileFailed = false;
            if (saveInstance(instance, moment)) {
                if (instance.perUser.active) leavePerUserFolder(instance);
                instance.perUser.replaces.reset();
                return true;
            }
            if (!instance.newFileFailed || !refusesWriting(state.hostFolder)) return false;
        }
        // What a scene kept per user replaces: the file here as this object
        // last read or wrote it.
        if (!instance.perUser.replaces)
            instance.perUser.replaces = scene::replacedBy(instance.ownedPath.empty() ? nullptr : &instance.ownedBytes);
    }
    return saveInPerUserFolder(instance, moment);
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
        host::CurrentDirectory inHost(state.hostFolder);
        host::startInstance(instance, &table);
        findPerUserScene(instance);
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
